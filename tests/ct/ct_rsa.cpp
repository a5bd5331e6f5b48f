// RSA private operations under memcheck: CRT signing with a 2048-bit key (also on the 1024-bit
// vector road, emulated where the processor lacks it, on the portable Montgomery rows, and
// without the factors) and decryption with a 4096-bit key, every private component (and what the key derived from them) marked secret
// right before the operation; PKCS#1 v1.5 decryption of blocks with good and bad padding; then
// the CRT exponent reduction of key loading on its own.
#include "crypto/algebra/longvint.h"
#include "crypto/asym/lvrsacipher.h"
#include "crypto/asym/lvrsasig.h"
#include "ct/ct_keys.h"
#include "ct/ct_util.h"

namespace {

// Reaches the key's parts to mark them.
class MarkedKey : public LvRsaPrivateKey {
 public:
  MarkedKey(const char* n, const char* e, const char* d, const char* p, const char* q,
            const char* dp, const char* dq, const char* qinv) {
    setN(n);
    setE(e);
    setD(d);
    setP(p);
    setQ(q);
    setDP(dp);
    setDQ(dq);
    setQInv(qinv);
    prepare();
  }
  void mark(bool secret) {
    auto markN = secret ? ct::secretN : ct::publicN;
    auto markW = secret ? ct::secretW : ct::publicW;
    const LvN* parts[] = {&d, &dP, &dQ, &qInv, &n.getCrtC()};
    for (const LvN* v : parts) markN(*v);
    ct::secretModulus(p, secret);
    ct::secretModulus(q, secret);
    // The modulus keeps its own copies of the factors.
    for (unsigned int i = 0; i < n.getFactorCount(); ++i) markN(n.getFactors()[i]);
    if (n.getCrtP() != nullptr) {
      ct::secretModulus(*n.getCrtP(), secret);
      ct::secretModulus(*n.getCrtQ(), secret);
    }
    const LvWordMem* derived[] = {&crtDP, &crtDQ, &crtQInv};
    for (const LvWordMem* w : derived) markW(*w);
  }
  void dropFactors() {
    setN(kRsa2048N);
    p = LvModulus();
    q = LvModulus();
  }
  bool crtReady() const { return crtDP.getCount() != 0 && n.getCrtP() != nullptr; }
};

int signing() {
  MarkedKey key(kRsa2048N, kRsa2048E, kRsa2048D, kRsa2048P, kRsa2048Q, kRsa2048DP, kRsa2048DQ,
                kRsa2048QINV);
  if (!key.crtReady()) return ct::fail("RSA-2048 key has no CRT data");
  LvRsaSigPkcsV15 signer;
  signer.setPrivateKey(&key);
  signer.setHashAlgo(LV_HASH_SHA256);
  LvOctet digest[32];
  for (unsigned int i = 0; i < sizeof digest; ++i) digest[i] = static_cast<LvOctet>(3 * i + 1);
  std::vector<LvOctet> sig(256);
  key.mark(true);
  const unsigned int len = signer.sign(digest, sizeof digest, sig.data(), 256);
  key.mark(false);
  ctPublic(sig.data(), sig.size());
  LvRsaPublicKey pub{LvN(kRsa2048N), LvN(kRsa2048E)};
  LvRsaSigPkcsV15 verifier;
  verifier.setPublicKey(&pub);
  verifier.setHashAlgo(LV_HASH_SHA256);
  if (len != 256 || !verifier.verify(digest, sizeof digest, sig.data(), len))
    return ct::fail("RSA-2048 signature does not verify");
  return 0;
}

// A key without its factors: the private power runs over n itself.
int signingWithoutFactors() {
  MarkedKey key(kRsa2048N, kRsa2048E, kRsa2048D, kRsa2048P, kRsa2048Q, kRsa2048DP, kRsa2048DQ,
                kRsa2048QINV);
  key.dropFactors();
  LvRsaSigPkcsV15 signer;
  signer.setPrivateKey(&key);
  signer.setHashAlgo(LV_HASH_SHA256);
  LvOctet digest[32] = {0x42};
  std::vector<LvOctet> sig(256);
  key.mark(true);
  const unsigned int len = signer.sign(digest, sizeof digest, sig.data(), 256);
  key.mark(false);
  ctPublic(sig.data(), sig.size());
  LvRsaPublicKey pub{LvN(kRsa2048N), LvN(kRsa2048E)};
  LvRsaSigPkcsV15 verifier;
  verifier.setPublicKey(&pub);
  verifier.setHashAlgo(LV_HASH_SHA256);
  if (len != 256 || !verifier.verify(digest, sizeof digest, sig.data(), len))
    return ct::fail("RSA-2048 signature without factors does not verify");
  return 0;
}

int decryption() {
  MarkedKey key(kRsa4096N, kRsa4096E, kRsa4096D, kRsa4096P, kRsa4096Q, kRsa4096DP, kRsa4096DQ,
                kRsa4096QINV);
  if (!key.crtReady()) return ct::fail("RSA-4096 key has no CRT data");
  LvRsaCipher cipher;
  cipher.setPrivateKey(&key);
  std::vector<LvOctet> c = ct::octets(LvN(kRsa4096CIPHER), 512), m(512);
  key.mark(true);
  const unsigned int len = cipher.decrypt(c.data(), 512, m.data(), 512);
  key.mark(false);
  ctPublic(m.data(), m.size());
  if (len != 512 || m != ct::octets(LvN(kRsa4096MSG), 512))
    return ct::fail("RSA-4096 decryption gives a wrong block");
  return 0;
}

// PKCS#1 v1.5 decryption: the raw block is secret (it comes from the private key), and the
// padding check must not tell by its path where a bad block went wrong. A good block and
// blocks bad at the start, in the middle and at the end run the same code; each answer is
// checked after the key is public again.
int decryptionPadding() {
  MarkedKey key(kRsa2048N, kRsa2048E, kRsa2048D, kRsa2048P, kRsa2048Q, kRsa2048DP, kRsa2048DQ,
                kRsa2048QINV);
  key.mark(false);
  LvRsaPublicKey pub{LvN(kRsa2048N), LvN(kRsa2048E)};
  LvRsaCipher raw;
  raw.setPublicKey(&pub);
  LvRsaCipherPkcsV15 cipher(nullptr);
  cipher.setPrivateKey(&key);
  enum Kind { GOOD, WRONG_TYPE, NO_SEPARATOR, SHORT_PADDING };
  for (Kind kind : {GOOD, WRONG_TYPE, NO_SEPARATOR, SHORT_PADDING, GOOD}) {
    std::vector<LvOctet> block(256, 0x5C), c(256), m(256);
    block[0] = 0x00;
    block[1] = kind == WRONG_TYPE ? 0x01 : 0x02;
    if (kind != NO_SEPARATOR) block[kind == SHORT_PADDING ? 9 : 200] = 0x00;
    raw.encrypt(block.data(), 256, c.data(), 256);
    key.mark(true);
    unsigned int len = 0;
    bool refused = false;
    try {
      len = cipher.decrypt(c.data(), 256, m.data(), 256);
    } catch (const LvWrongSyntaxException&) {
      refused = true;
    }
    key.mark(false);
    ctPublic(m.data(), m.size());
    if (refused != (kind != GOOD) || (kind == GOOD && len != 55))
      return ct::fail("PKCS#1 v1.5 padding check gives a wrong answer");
  }
  return 0;
}

// d mod (p - 1) as key loading makes it.
int exponentReduction() {
  const LvN d(kRsa2048D), pn(kRsa2048P);
  LvModulus p(pn, LvModulus::OPT_MONT | LvModulus::OPT_PRIME);
  ct::secretN(d);
  ct::secretModulus(p, true);
  LvWordMem dp = crtExponentWords(d, p);
  ct::publicW(dp);
  ct::publicN(d);
  ct::secretModulus(p, false);
  if (!(LvN(dp) == LvN(kRsa2048DP))) return ct::fail("d mod (p - 1) is wrong");
  return 0;
}

}  // namespace

int main() {
  if (int r = signing()) return r;
  // The 1024-bit vector road's logic (tables, windows, the final subtraction) on its portable
  // product, where the processor lacks the instructions.
  longvIfmaEmulated = true;
  if (int r = signing()) return r;
  longvIfmaEmulated = false;
  // The portable Montgomery rows (processors without the carry-chain instructions).
  longvRowAsmAllowed = false;
  if (int r = signing()) return r;
  longvRowAsmAllowed = true;
  if (int r = signingWithoutFactors()) return r;
  if (int r = decryption()) return r;
  if (int r = decryptionPadding()) return r;
  return exponentReduction();
}
