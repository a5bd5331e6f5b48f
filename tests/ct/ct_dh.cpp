// Diffie-Hellman over a 2048-bit group under memcheck: the private value is secret; the shared
// value is checked against Python's integers.
#include "crypto/asym/lvdhgfpsecret.h"
#include "ct/ct_keys.h"
#include "ct/ct_util.h"

int main() {
  LvDhGFpKeyDomain domain;
  domain.setP(kDsa2048P);
  domain.setQ(kDsa2048Q);
  domain.setG(kDsa2048G);
  domain.markValid();
  LvDhGFpPrivateKey own;
  own.setDomain(&domain);
  own.setX(kDsa2048X);
  LvDhGFpPublicKey peer;
  peer.setDomain(&domain);
  peer.setKey(LvN(kDsa2048PEERY));
  LvDhGFpSecret agreement;
  agreement.setPublicKey(&peer);
  agreement.setPrivateKey(&own);
  ct::secretN(own.getX());
  agreement.generateSecret();
  ct::publicN(own.getX());
  std::vector<LvOctet> z(agreement.getSecretLength());
  const unsigned int len =
      agreement.getSecret(z.data(), static_cast<unsigned int>(z.size()));
  ctPublic(z.data(), z.size());
  const LvN want(kDsa2048SHARED);
  if (len != want.getOctetLength() || z != ct::octets(want, len))
    return ct::fail("DH shared value is wrong");
  return 0;
}
