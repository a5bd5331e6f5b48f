// DSA-2048 signing under memcheck: the private value and the generator's output (the nonce)
// are secret.
#include "crypto/asym/lvdsa.h"
#include "crypto/asym/lvgfppublickey.h"
#include "ct/ct_keys.h"
#include "ct/ct_util.h"

int main() {
  LvDsaKeyDomain domain;
  domain.setP(kDsa2048P);
  domain.setQ(kDsa2048Q);
  domain.setG(kDsa2048G);
  domain.markValid();
  LvDsaPrivateKey priv;
  priv.setDomain(&domain);
  priv.setX(kDsa2048X);
  priv.setY(kDsa2048Y);
  ct::SecretRbg rbg;
  LvDsaSig signer;
  signer.setPrivateKey(&priv);
  signer.setRbg(&rbg);
  signer.setHashAlgo(LV_HASH_SHA256);
  LvOctet digest[32];
  for (unsigned int i = 0; i < sizeof digest; ++i) digest[i] = static_cast<LvOctet>(7 * i + 2);
  std::vector<LvOctet> sig(signer.getMaxSignatureOctets());
  ct::secretN(priv.getX());
  const unsigned int len =
      signer.sign(digest, sizeof digest, sig.data(), static_cast<unsigned int>(sig.size()));
  ct::publicN(priv.getX());
  ctPublic(sig.data(), sig.size());
  LvDsaPublicKey pub;
  pub.setDomain(&domain);
  pub.setKey(LvN(kDsa2048Y));
  LvDsaSig verifier;
  verifier.setPublicKey(&pub);
  verifier.setHashAlgo(LV_HASH_SHA256);
  if (!verifier.verify(digest, sizeof digest, sig.data(), len))
    return ct::fail("DSA-2048 signature does not verify");
  return 0;
}
