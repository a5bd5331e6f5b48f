// RSA private operations under memcheck. Keys are loaded from octets with every private
// component marked secret before the setters see them, so that key set-up (the Montgomery
// constants of the factors, the checks of the CRT data, the CRT exponents) runs on secrets too;
// then CRT signing with a 2048-bit key (also on the 1024-bit vector road, emulated where the
// processor lacks it, on the portable Montgomery rows, and without the factors), signing with
// masking values drawn from a secret generator, a key derived from n, d and p alone,
// decryption with a 4096-bit key, PKCS#1 v1.5 decryption of blocks with good and bad padding,
// and the CRT exponent reduction of key loading on its own.
#include "crypto/algebra/longvint.h"
#include "crypto/asym/lvrsacipher.h"
#include "crypto/asym/lvrsasig.h"
#include "ct/ct_keys.h"
#include "ct/ct_util.h"

namespace {

std::vector<LvOctet> octetsOf(const char* text) {
  const LvN v(text);
  return ct::octets(v, v.getOctetLength());
}

// Reaches the key's parts to mark them.
class MarkedKey : public LvRsaPrivateKey {
 public:
  MarkedKey(const char* n, const char* e, const char* d, const char* p, const char* q,
            const char* dp, const char* dq, const char* qinv) {
    std::vector<LvOctet> pub[] = {octetsOf(n), octetsOf(e)};
    std::vector<LvOctet> priv[] = {octetsOf(d),  octetsOf(p),  octetsOf(q),
                                   octetsOf(dp), octetsOf(dq), octetsOf(qinv)};
    for (auto& o : priv) ctSecret(o.data(), o.size());
    auto len = [](const std::vector<LvOctet>& o) { return static_cast<unsigned int>(o.size()); };
    setN(pub[0].data(), len(pub[0]));
    setE(pub[1].data(), len(pub[1]));
    setD(priv[0].data(), len(priv[0]));
    setP(priv[1].data(), len(priv[1]));
    setQ(priv[2].data(), len(priv[2]));
    setDP(priv[3].data(), len(priv[3]));
    setDQ(priv[4].data(), len(priv[4]));
    setQInv(priv[5].data(), len(priv[5]));
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

// The signature checked with the public key, after the private one is public again.
bool verifies2048(const LvOctet (&digest)[32], const std::vector<LvOctet>& sig, unsigned int len) {
  LvRsaPublicKey pub{LvN(kRsa2048N), LvN(kRsa2048E)};
  LvRsaSigPkcsV15 verifier;
  verifier.setPublicKey(&pub);
  verifier.setHashAlgo(LV_HASH_SHA256);
  return verifier.verify(digest, sizeof digest, sig.data(), len);
}

// Signs with the key's parts secret, then checks the signature with the public key.
int signMarked(MarkedKey& key, LvRsaSigPkcsV15& signer, const LvOctet (&digest)[32],
               const char* failure) {
  std::vector<LvOctet> sig(256);
  key.mark(true);
  const unsigned int len = signer.sign(digest, sizeof digest, sig.data(), 256);
  key.mark(false);
  ctPublic(sig.data(), sig.size());
  return len == 256 && verifies2048(digest, sig, len) ? 0 : ct::fail(failure);
}

int signing() {
  MarkedKey key(kRsa2048N, kRsa2048E, kRsa2048D, kRsa2048P, kRsa2048Q, kRsa2048DP, kRsa2048DQ,
                kRsa2048QINV);
  if (!key.crtReady()) return ct::fail("RSA-2048 key has no CRT data");
  LvRsaSigPkcsV15 signer;
  signer.setPrivateKey(&key);
  signer.setHashAlgo(LV_HASH_SHA256);
  LvOctet digest[32];
  for (unsigned int i = 0; i < sizeof digest; ++i) digest[i] = static_cast<LvOctet>(3 * i + 1);
  if (int r = signMarked(key, signer, digest, "RSA-2048 signature does not verify")) return r;
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
  if (int r = signMarked(key, signer, digest, "RSA-2048 signature without factors does not verify"))
    return r;
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

// Masking on: the masking values come from a generator whose output is secret.
int maskedSigning() {
  MarkedKey key(kRsa2048N, kRsa2048E, kRsa2048D, kRsa2048P, kRsa2048Q, kRsa2048DP, kRsa2048DQ,
                kRsa2048QINV);
  ct::SecretRbg rbg;
  LvRsaSigPkcsV15 signer;
  signer.setPrivateKey(&key);
  signer.setHashAlgo(LV_HASH_SHA256);
  signer.setRbg(&rbg);
  signer.setMaskingMode(1);
  // The second signature squares the masking values of the first.
  for (LvOctet first : {0x11, 0x22}) {
    LvOctet digest[32] = {first};
    if (int r = signMarked(key, signer, digest, "masked RSA-2048 signature does not verify"))
      return r;
  }
  return 0;
}

// Signs a digest with the key (its parts secret), then checks the signature with the public key.
int signsAndVerifies(LvRsaPrivateKey& key, LvOctet digestByte, const char* failure) {
  LvRsaSigPkcsV15 signer;
  signer.setPrivateKey(&key);
  signer.setHashAlgo(LV_HASH_SHA256);
  LvOctet digest[32] = {digestByte};
  std::vector<LvOctet> sig(256);
  const unsigned int len = signer.sign(digest, sizeof digest, sig.data(), 256);
  ctPublic(sig.data(), sig.size());
  if (len != 256 || !verifies2048(digest, sig, len)) return ct::fail(failure);
  return 0;
}

// A key made from n, d and p: q, e, the CRT exponents and q^-1 mod p are derived from the
// secrets. e is public and made so: reading its octets branches on them. (It is d^-1 modulo
// (p - 1)(q - 1), which for this key is 65537 plus a multiple of lcm(p - 1, q - 1).)
int derivedKey() {
  LvN d(kRsa2048D), p(kRsa2048P);
  ct::secretN(d);
  ct::secretN(p);
  LvRsaPrivateKey key(LvN(kRsa2048N), d, p);
  LvOctet e[256];
  if (key.getE(e, sizeof e) == 0) return ct::fail("no public exponent derived");
  return signsAndVerifies(key, 0x33, "signature of the derived key does not verify");
}

// A key set from decimal text (the setters' other form): the value bits of the digits of the
// private parts are undefined, then the key signs. The end of the text stays findable ('0'..'9'
// share their high bits), and so does the first digit, whose being '0' or not is the text's
// form (a leading zero means octal), not its value.
std::vector<char> secretDecimal(const char* hex) {
  const LvConvASCII text = LvN(hex).toString();
  const char* digits = reinterpret_cast<const char*>(text.data());
  std::vector<char> out(digits, digits + std::strlen(digits) + 1);
  std::vector<unsigned char> vbits(out.size() - 2, 0x0F);
  VALGRIND_SET_VBITS(out.data() + 1, vbits.data(), vbits.size());
  return out;
}

int textKey() {
  LvRsaPrivateKey key;
  key.setN(kRsa2048N);
  key.setE(kRsa2048E);
  key.setD(secretDecimal(kRsa2048D).data());
  key.setP(secretDecimal(kRsa2048P).data());
  key.setQ(secretDecimal(kRsa2048Q).data());
  key.setDP(secretDecimal(kRsa2048DP).data());
  key.setDQ(secretDecimal(kRsa2048DQ).data());
  key.setQInv(secretDecimal(kRsa2048QINV).data());
  return signsAndVerifies(key, 0x44, "signature of the key set from text does not verify");
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
  if (int r = maskedSigning()) return r;
  if (int r = derivedKey()) return r;
  if (int r = textKey()) return r;
  return exponentReduction();
}
