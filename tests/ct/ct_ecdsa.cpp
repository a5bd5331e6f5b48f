// EC-DSA signing over P-256, P-384, P-521, brainpoolP256r1, brainpoolP512r1,
// sect233r1, sect283k1 and sect571r1 with the private key and every nonce octet marked secret: memcheck must see no
// branch and no memory index that depends on them. The signatures are made
// public and checked.
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "crypto/asym/lvgeneraldsa.h"
#include "crypto/asym/lvnamedcurves.h"
#include "crypto/hash/lvhash.h"
#include "crypto/rbg/lvrbg.h"
#include "ct/ctgrind.h"

namespace {

// Nonce octets, each marked secret as it leaves the generator.
class SecretRbg : public LvRbg {
 public:
  void init(const LvOctet*, unsigned int) override {}
  void reinit(const LvOctet*, unsigned int) override {}
  void reset() override {}
  void fillOctets(LvOctet* dst, unsigned int n) override {
    for (unsigned int i = 0; i < n; i++) {
      state = state * 6364136223846793005ull + 1442695040888963407ull;
      dst[i] = static_cast<LvOctet>(state >> 56);
    }
    ctSecret(dst, n);
  }
  unsigned int getMinSeedOctets() const override { return 0; }
  unsigned int getMaxSeedOctets() const override { return 0; }
  unsigned int getSeedStepOctets() const override { return 1; }
  const char* getName() const override { return "CT-TEST"; }
  unsigned long long state = 0x0123456789ABCDEFull;
};

const LvGeneralDsaKeyDomain* domainOf(const char* name) {
  for (unsigned int id = 1; id <= NamedCurveTable::kCount; id++) {
    const LvNamedCurve* row = NamedCurveTable::byId(id);
    if (!row->name || std::strcmp(row->name, name) != 0) continue;
    if (row->primeDomain) return row->primeDomain;
    if (row->binaryDomain) return row->binaryDomain;
  }
  return nullptr;
}

// Public fixed-base multiplications until the generator's table is complete
// (each use makes one stage; a few dozen are more than any curve needs).
void completeGeneratorTable(const LvGeneralDsaKeyDomain* dom) {
  if (!dynamic_cast<const LvEpDsaKeyDomain*>(dom)) return;
  const LvN k(static_cast<LvWord>(0x1234567u), 1);
  for (int i = 0; i < 40; i++) std::unique_ptr<LvGroupElem>(dom->getGroup()->createMul(k, dom->getGen()));
}

bool signAndVerify(const char* name, int rounds) {
  const LvGeneralDsaKeyDomain* dom = domainOf(name);
  if (!dom) {
    std::printf("%s: no domain\n", name);
    return false;
  }
  // a private key well inside 1..n-1, its public point made in the open
  std::vector<LvOctet> dOct(dom->getOrder().getOctetLength() - 1);
  for (std::size_t i = 0; i < dOct.size(); i++) dOct[i] = static_cast<LvOctet>(0xA5 ^ (i * 29));
  LvGeneralDsaPrivateKey priv;
  priv.setDomain(dom);
  priv.setKey(dOct.data(), static_cast<unsigned int>(dOct.size()));
  std::unique_ptr<LvGroupElem> H(dom->getGroup()->createMul(priv.getKey(), dom->getGen()));
  LvGeneralDsaPublicKey pub;
  pub.setDomain(dom);
  pub.setH(H.get());

  const LvN& d = priv.getKey();
  ctSecret(d.getWords(), d.getUsed() * sizeof(LvWord));
  SecretRbg rbg;
  LvGeneralDsaSig signer, checker;
  signer.setPrivateKey(&priv);
  signer.setRbg(&rbg);
  signer.setHashAlgo(LV_HASH_SHA256);
  checker.setPublicKey(&pub);
  checker.setHashAlgo(LV_HASH_SHA256);
  LvOctet digest[32];
  for (int round = 0; round < rounds; round++) {
    // the domain makes its generator's table in stages over the first uses:
    // the first signature goes without it, the later ones with it complete
    if (round == 1) completeGeneratorTable(dom);
    for (unsigned int i = 0; i < sizeof(digest); i++) digest[i] = static_cast<LvOctet>(i * 7 + round);
    std::vector<LvOctet> sig(signer.getMaxSignatureOctets());
    const unsigned int len =
        signer.sign(digest, sizeof(digest), sig.data(), static_cast<unsigned int>(sig.size()));
    ctPublic(sig.data(), len);
    if (!checker.verify(digest, sizeof(digest), sig.data(), len)) {
      std::printf("%s: signature %d does not verify\n", name, round);
      return false;
    }
  }
  ctPublic(d.getWords(), d.getUsed() * sizeof(LvWord));
  return true;
}

}  // namespace

int main() {
  const int rounds = ctUnderValgrind() ? 2 : 20;
  bool ok = true;
  for (const char* name : {"secp256r1", "secp384r1", "secp521r1", "brainpoolP256r1",
                           "brainpoolP512r1", "sect233r1", "sect283k1", "sect571r1"})
    ok = signAndVerify(name, rounds) && ok;
  std::printf(ok ? "ct_ecdsa: all signatures verify\n" : "ct_ecdsa: FAILED\n");
  return ok ? 0 : 1;
}
