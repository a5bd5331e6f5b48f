// RSA signatures: raw primitive with masking, PKCS#1 v1.5 and PSS.
#include "crypto/asym/lvrsasig.h"

#include <cstdint>

#include "crypto/basic/lvsecret.h"
#include "crypto/basic/lvnet.h"
#include "crypto/hash/lvhash.h"
#include "crypto/rbg/lvrbg.h"

#define RSASIG_FILE "lvasym\\lvrsasig.cpp"
#define RSASIG_SIGN_FILE "lvasym\\rsasig_sign.cpp"
#define RSASIG_VERIFY_FILE "lvasym\\rassig_verify.cpp"
#define RSASIG_V15_FILE "lvasym\\rsasigpkcsv15_encode.cpp"
#define RSASIG_PSS_FILE "lvasym\\lvrsasigpkcspss.cpp"

namespace {

// A sound generator draws a zero masking value with probability 2^-128 or
// less; this bound only stops a broken one.
const unsigned int kMaxDraws = 64;

LvOctet drawOctet(LvRbg* rbg) { return rbg->getOctet(); }

// acc := base^e (Montgomery forms of m, e >= 1) by squarings and products over the public
// bits of e; the kernels are m's, constant-time where base is secret. t: 2k words of work.
void powByPublicBits(LvWord* acc, const LvWord* base, LvWord* t, const LvN& e, const LvModulus& m,
                     unsigned int lowest = 0) {
  const LvWordLen k = m.getUsed();
  longvCopy(acc, base, k);
  const LvWord* ew = e.getWords();
  for (unsigned int i = e.getBitLength() - 1; i-- > lowest;) {
    lvnet::tickOrThrow();
    m.sqrWords(t, acc);
    longvCopy(acc, t, k);
    if ((ew[i / 32] >> (i % 32)) & 1u) {
      m.mulWords(t, acc, base);
      longvCopy(acc, t, k);
    }
  }
}

// Nonzero unless s^e = m (mod p). p is a secret prime, so the reductions and products are the
// constant-time word kernels; only the public exponent steers the square-and-multiply.
LvWord halfMismatch(const LvN& s, const LvN& m, const LvModulus& p, const LvN& e) {
  const LvWordLen k = p.getUsed();
  LvWordMem base(k), want(k), acc(k), t(2 * k);
  reduceSecretWords(acc.ptr(), s.getWords(), s.getUsed(), p);
  reduceSecretWords(want.ptr(), m.getWords(), m.getUsed(), p);
  p.mulWords(t.ptr(), acc.ptr(), p.getR2().ptr());
  longvCopy(base.ptr(), t.ptr(), k);
  powByPublicBits(acc.ptr(), base.ptr(), t.ptr(), e, p);
  longvFromMont(t.ptr(), acc.ptr(), p.getWords(), k);
  LvWord diff = 0;
  for (LvWordLen i = 0; i < k; ++i) diff |= t.ptr()[i] ^ want.ptr()[i];
  lvWipe(t.ptr(), 2 * k * sizeof(LvWord));
  lvWipe(acc.ptr(), k * sizeof(LvWord));
  lvWipe(base.ptr(), k * sizeof(LvWord));
  lvWipe(want.ptr(), k * sizeof(LvWord));
  return diff;
}

// s^e = m (mod n). With the CRT data (which the modulus accepted only for n = p q with p, q
// coprime) the check runs modulo p and modulo q, on the moduli's faster own-size kernels;
// whether the key is consistent is public, the factors are not.
bool publicExponentMatches(const LvN& s, const LvN& m, const LvModulus& n, const LvN& e) {
  const LvModulus* p = n.getCrtP();
  const LvModulus* q = n.getCrtQ();
  if ((n.getFlags() & LvModulus::FLAG_CRT) == LvModulus::FLAG_CRT && p != nullptr && q != nullptr &&
      !e.isZero() && p->getKind() == LvModulus::KIND_MONT && q->getKind() == LvModulus::KIND_MONT) {
    LvWord diff = halfMismatch(s, m, *p, e) | halfMismatch(s, m, *q, e);
    lvDeclassify(&diff, sizeof diff);
    return diff == 0;
  }
  return pow(LvZn(s, &n), e).getN() == m;
}

// A residue of n from the words of a secret below n, put into n's working form without a look
// at its value (an LvN would trim it, and a residue made from one compares it with n).
LvZn secretResidue(const LvWord* w, LvWordLen nw, const LvModulus& n) {
  LvZn z(0, &n);
  LvWordMem t(2 * z.getCount());
  longvCopyResize(z.getWords(), z.getCount(), w, nw);
  n.toWorkForm(z.getWords(), t.ptr());
  lvWipe(t.ptr(), t.getCount() * sizeof(LvWord));
  return z;
}

// w z mod n (n.getUsed() words into out) for a plain w below n and a residue z of a
// Montgomery modulus: the product's R^-1 cancels z's R, so the result is plain without a
// conversion either way. A value of the extended form, below 2n, is brought below n by a
// masked subtraction.
void mulPlainByResidue(LvWord* out, const LvN& w, const LvZn& z) {
  const LvModulus& n = *z.getModulus();
  const LvWordLen c = z.getCount();
  LvWordMem x(c), t(2 * c);
  longvCopyResize(x.ptr(), c, w.getWords(), w.getUsed());
  n.mulWords(t.ptr(), x.ptr(), z.getWords());
  if (n.getKind() == LvModulus::KIND_MONT_EXT) longvCtCondSub(t.ptr(), 0, n.getReductionWords(), c);
  longvCopyResize(out, n.getUsed(), t.ptr(), c);
  lvWipe(x.ptr(), c * sizeof(LvWord));
  lvWipe(t.ptr(), 2 * c * sizeof(LvWord));
}

// x^e by squarings and products over the public bits of e (e >= 1): the base may be secret.
LvZn publicPower(const LvZn& x, const LvN& e) {
  LvZn r(x);
  const LvWord* ew = e.getWords();
  for (unsigned int i = e.getBitLength() - 1; i-- > 0;) {
    r *= r;
    if ((ew[i / 32] >> (i % 32)) & 1u) r *= x;
  }
  return r;
}

// s^e mod n for a public s below n and e >= 1, all public: s enters the Montgomery form by
// limbs rather than by a product with R^2, which a key decoded for one verification then never
// makes; then squarings and products over the bits of e.
LvN publicPowerOfPublic(const LvN& s, const LvModulus& n, const LvN& e) {
  const LvWordLen k = n.getUsed();
  LvWordMem acc(k), t(2 * k);
  longvCopyResize(acc.ptr(), k, s.getWords(), s.getUsed());
  lvnet::tickOrThrow();
  if (longvPowPublicIfma(t.ptr(), acc.ptr(), n.getWords(), k, e.getWords(), e.getUsed()))
    return LvN(t.ptr(), k);
  LvWordMem base(k);
  longvToMontPublic(base.ptr(), acc.ptr(), n.getWords(), k);
  if ((e.getWords()[0] & 1u) != 0 && e.getBitLength() > 1) {
    // s^e = (s R)^(e - 1) s R^-1: the last product takes s itself, and its R^-1 leaves the
    // Montgomery form without a reduction of its own.
    LvWordMem plain(k);
    longvCopy(plain.ptr(), acc.ptr(), k);
    powByPublicBits(acc.ptr(), base.ptr(), t.ptr(), e, n, 1);
    n.sqrWords(t.ptr(), acc.ptr());
    longvCopy(acc.ptr(), t.ptr(), k);
    n.mulWords(t.ptr(), acc.ptr(), plain.ptr());
    return LvN(t.ptr(), k);
  }
  powByPublicBits(acc.ptr(), base.ptr(), t.ptr(), e, n);
  longvFromMont(t.ptr(), acc.ptr(), n.getWords(), k);
  return LvN(t.ptr(), k);
}

// The masking values r^e and r^-1 mod n for a random r. r is secret, so it is drawn below n
// (short of n's length) rather than reduced, and inverted by the constant-time kernel.
void makeMaskingValues(const LvModulus& n, const LvN& e, LvRbg* rbg, LvZn& a, LvZn& b) {
  const unsigned int bits = n.getBitLength();
  unsigned int rb = bits <= 3072 ? 128 : bits <= 7680 ? 192 : 256;
  if (rb >= bits) rb = bits - 1;
  const LvWordLen k = n.getUsed(), nr = (rb + 31) / 32;
  LvWordMem r(k), inv(k);
  for (unsigned int draws = 0;;) {
    if (++draws > kMaxDraws)
      LV_THROW(LvRbgCycleException, "There is cycle in random bit generator.", "LvRsaSig::sign",
               RSASIG_SIGN_FILE);
    rbg->getWords(r.ptr(), nr);
    if (rb % 32 != 0) r.ptr()[nr - 1] &= (1u << (rb % 32)) - 1;
    // Zero, or an r that shares a factor with n, has no inverse: drawn again.
    LvWord ok = longvCtModInverse(inv.ptr(), r.ptr(), n.getWords(), k, rb);
    lvDeclassify(&ok, sizeof ok);
    if (ok != 0) break;
  }
  a = publicPower(secretResidue(r.ptr(), k, n), e);
  b = secretResidue(inv.ptr(), k, n);
  lvWipe(r.ptr(), k * sizeof(LvWord));
  lvWipe(inv.ptr(), k * sizeof(LvWord));
}

}  // namespace

// ---------------------------------------------------------------------------
// LvRsaSig
// ---------------------------------------------------------------------------

LvRsaSig::LvRsaSig()
    : rbg(nullptr), publicKey(nullptr), privateKey(nullptr), options(0), maskReady(false) {}

LvRsaSig::~LvRsaSig() {
  rbg = nullptr;
  publicKey = nullptr;
  privateKey = nullptr;
}

void LvRsaSig::setPublicKey(LvRsaPublicKey* key) {
  publicKey = key;
  privateKey = nullptr;
}

void LvRsaSig::setPrivateKey(LvRsaPrivateKey* key) {
  privateKey = key;
  publicKey = nullptr;
  maskReady = false;
  maskA = LvZn();
  maskB = LvZn();
  maskN = 0u;
  maskE = 0u;
}

LvRsaPublicKey* LvRsaSig::getPublicKey() { return publicKey; }
LvRsaPrivateKey* LvRsaSig::getPrivateKey() { return privateKey; }
void LvRsaSig::setMaskingMode(unsigned int opts) { options = opts; }
void LvRsaSig::setRbg(LvRbg* g) { rbg = g; }

unsigned int LvRsaSig::getKeyBits(unsigned int) {
  if (publicKey != nullptr) return publicKey->getKeyBits();
  if (privateKey != nullptr) return privateKey->getKeyBits();
  return 0;
}

unsigned int LvRsaSig::getMaxSignatureOctets() {
  if (publicKey == nullptr && privateKey == nullptr)
    LV_THROW(LvNotInitException, "Neither private nor public key is initialised.",
             "LvRsaSig::getMaxSignatureOctets", RSASIG_FILE);
  return getKeyOctets(0);
}

bool LvRsaSig::publicOperation(const LvOctet* signature, unsigned int signatureLen, LvN& v) {
  if (publicKey == nullptr || !publicKey->isReady())
    LV_THROW(LvNotInitException, "There is no key or it is not ready to verification.",
             "LvRsaSig::verify", RSASIG_VERIFY_FILE);
  if (signatureLen > publicKey->getKeyOctets())
    LV_THROW(LvMessageToLongException, "Signature you are trying verify is too long.",
             "LvRsaSig::verify", RSASIG_VERIFY_FILE);
  if (signature == nullptr && signatureLen > 0) return false;
  const LvModulus& n = publicKey->getModulus();
  LvN s(signature, signatureLen);
  // A value at or above n is no signature: reducing it would let several
  // octet strings pass for one.
  if (s >= n) return false;
  if (n.getKind() == LvModulus::KIND_MONT && !publicKey->getE().isZero()) {
    v = publicPowerOfPublic(s, n, publicKey->getE());
    return true;
  }
  try {
    v = pow(LvZn(s, &n), publicKey->getE()).getN();
  } catch (const LvInvException&) {
    return false;
  }
  return true;
}

bool LvRsaSig::verify(const LvOctet* em, unsigned int emLen, const LvOctet* signature,
                      unsigned int signatureLen) {
  LvN v;
  if (!publicOperation(signature, signatureLen, v)) return false;
  if (em == nullptr && emLen > 0) return false;
  return v == LvN(em, emLen);
}

unsigned int LvRsaSig::sign(const LvOctet* em, unsigned int emLen, LvOctet* signature,
                            unsigned int signatureLen) {
  if (privateKey == nullptr || !privateKey->hasPrivatePart())
    LV_THROW(LvNotInitException, "There is no private key or it is not ready to sign.",
             "LvRsaSig::sign", RSASIG_SIGN_FILE);
  unsigned int k = privateKey->getKeyOctets();
  if (emLen > k)
    LV_THROW(LvMessageToLongException,
             "LV-MESSAGE-TO-LONG: Digest you are trying sign is too long.", "LvRsaSig::sign",
             RSASIG_SIGN_FILE);
  if (signatureLen < k || signature == nullptr)
    LV_THROW(LvArgumentRangeException, "There is too small buffer to write signature.", "",
             RSASIG_SIGN_FILE);
  const LvModulus& n = privateKey->getModulus();
  LvN mv(em, emLen);
  // A message at or above n would be signed as its remainder.
  if (mv >= n)
    LV_THROW(LvMessageToLongException,
             "LV-MESSAGE-TO-LONG: Digest you are trying sign is too long.", "LvRsaSig::sign",
             RSASIG_SIGN_FILE);
  bool masking = (options & 1u) != 0;
  if (masking) {
    // Masking raises r to e: without e the result would be a wrong signature.
    if (!privateKey->hasPublicPart())
      LV_THROW(LvNotInitException,
               "There is no public exponent of the key and masking mode was chosen.",
               "LvRsaSig::sign", RSASIG_SIGN_FILE);
    if (rbg == nullptr)
      LV_THROW(LvNotInitException, "There is no random bit generator and masking mode was chosen.",
               "LvRsaSig::sign", RSASIG_SIGN_FILE);
  }
  // An even modulus is no key: the private power refuses it below, masked or not.
  if (n.getKind() != LvModulus::KIND_MONT && n.getKind() != LvModulus::KIND_MONT_EXT)
    masking = false;
  // The private power is constant-time; its result is what will be published (masked by
  // the random value when masking is on, which keeps it independent of the key anyway).
  LvWordMem sw;
  if (masking) {
    // Values made before the key was prepared again are made anew.
    if (!maskReady || maskA.getModulus() != &n || !maskA.isCurrent() || !maskB.isCurrent() ||
        maskN != n || maskE != privateKey->getE()) {
      makeMaskingValues(n, privateKey->getE(), rbg, maskA, maskB);
      maskN = n;
      maskE = privateKey->getE();
      maskReady = true;
    } else {
      maskA *= maskA;
      maskB *= maskB;
    }
    // The masked message is secret: its words go to the private power untrimmed.
    LvN x(0u, n.getUsed());
    mulPlainByResidue(x.getWords(), mv, maskA);
    privateKey->privatePower(x, sw);
    lvWipe(x.getWords(), x.getUsed() * sizeof(LvWord));
  } else {
    privateKey->privatePower(mv, sw);
  }
  lvDeclassify(sw.ptr(), sw.getCount() * sizeof(LvWord));
  LvN s(sw);
  lvWipe(sw.ptr(), sw.getCount() * sizeof(LvWord));
  if (masking) {
    LvWordMem u(n.getUsed());
    mulPlainByResidue(u.ptr(), s, maskB);
    // The unmasked value is the signature.
    lvDeclassify(u.ptr(), u.getCount() * sizeof(LvWord));
    s = LvN(u.ptr(), u.getCount());
  }
  // A fault in the private operation (or a key whose parts disagree) must not
  // leave the library as a signature: the public exponent checks it.
  if (privateKey->hasPublicPart() && !publicExponentMatches(s, mv, n, privateKey->getE()))
    LV_THROW(LvInvalidKeyException, "Private key is inconsistent: signature check failed.",
             "LvRsaSig::sign", RSASIG_SIGN_FILE);
  s.getOctets(signature, k, 1);
  return k;
}

unsigned int LvRsaSig::encodeAndSign(const LvOctet* digest, unsigned int digestLen,
                                     LvOctet* signature, unsigned int signatureLen) {
  LvOctMem em;
  unsigned int len = encode(em, digest, digestLen);
  return LvRsaSig::sign(em.ptr(), len, signature, signatureLen);
}

// ---------------------------------------------------------------------------
// PKCS#1 v1.5
// ---------------------------------------------------------------------------

LvRsaSigPkcsV15::LvRsaSigPkcsV15() {}
LvRsaSigPkcsV15::~LvRsaSigPkcsV15() {}

unsigned int LvRsaSigPkcsV15::encodeBlock(LvOctMem& encoding, const LvOctet* digest,
                                          unsigned int digestLen, bool withNull,
                                          const char* tooLongText) {
  unsigned int k = getKeyOctets(0);
  if (k == 0)
    LV_THROW(LvArgumentRangeException, "There is no key or key is too short to encode message.",
             "LvRsaSigPkcsV15::encode", RSASIG_V15_FILE);
  if (hashObj == nullptr)
    LV_THROW(LvNotInitException, "Hash function is not initialised.", "LvRsaSigPkcsV15::encode",
             RSASIG_V15_FILE);
  const LvOctet* oid = hashObj->getDerOid();
  if (oid == nullptr)
    LV_THROW(LvNotInitException, "Hash function has no object identifier.",
             "LvRsaSigPkcsV15::encode", RSASIG_V15_FILE);
  if (digest == nullptr && digestLen > 0)
    LV_THROW(LvArgumentRangeException, "Null digest.", "LvRsaSigPkcsV15::encode", RSASIG_V15_FILE);
  if (digestLen > k) {
    LvMessageToLongException e;
    e.setMessage(tooLongText);
    throw e;
  }
  unsigned int oidLen = derTotalLength(oid);
  unsigned int l2 = oidLen + (withNull ? 2 : 0);
  unsigned int algLen = 1 + derLengthSize(l2) + l2;
  unsigned int octLen = 1 + derLengthSize(digestLen) + digestLen;
  unsigned int l1 = algLen + octLen;
  std::uint64_t tLen = 1ull + derLengthSize(l1) + l1;
  if (tLen + 11 > k) {
    LvMessageToLongException e;
    e.setMessage(tooLongText);
    throw e;
  }
  encoding = LvOctMem(k - 1);
  LvOctet* p = encoding.ptr();
  unsigned int ff = k - 3 - static_cast<unsigned int>(tLen);
  *p++ = 0x01;
  for (unsigned int i = 0; i < ff; ++i) *p++ = 0xFF;
  *p++ = 0x00;
  *p++ = 0x30;
  p += derEncodeLength(l1, p);
  *p++ = 0x30;
  p += derEncodeLength(l2, p);
  for (unsigned int i = 0; i < oidLen; ++i) *p++ = oid[i];
  if (withNull) {
    *p++ = 0x05;
    *p++ = 0x00;
  }
  *p++ = 0x04;
  p += derEncodeLength(digestLen, p);
  for (unsigned int i = 0; i < digestLen; ++i) *p++ = digest[i];
  return k - 1;
}

static const char kV15TooLong[] =
    LV_EXCEPTION_TEXT("LvMessageToLongException", "Digest you are trying encode is too long.",
                      "LvRsaSigPkcsV15::encode", RSASIG_V15_FILE);
static const char kV15NoParamsTooLong[] =
    LV_EXCEPTION_TEXT("LvMessageToLongException", "Digest you are trying encode is too long.",
                      "LvRsaSigPkcsV15::encodeDigestInfoWithoutHashParameters", RSASIG_V15_FILE);

unsigned int LvRsaSigPkcsV15::encode(LvOctMem& encoding, const LvOctet* digest,
                                     unsigned int digestLen) {
  return encodeBlock(encoding, digest, digestLen, true, kV15TooLong);
}

unsigned int LvRsaSigPkcsV15::encodeDigestInfoWithoutHashParameters(LvOctMem& encoding,
                                                                    const LvOctet* digest,
                                                                    unsigned int digestLen) {
  return encodeBlock(encoding, digest, digestLen, false, kV15NoParamsTooLong);
}

unsigned int LvRsaSigPkcsV15::sign(const LvOctet* digest, unsigned int digestLen,
                                   LvOctet* signature, unsigned int signatureLen) {
  return encodeAndSign(digest, digestLen, signature, signatureLen);
}

bool LvRsaSigPkcsV15::verify(const LvOctet* digest, unsigned int digestLen,
                             const LvOctet* signature, unsigned int signatureLen) {
  // The block is rebuilt and compared whole, never parsed: no DigestInfo
  // variant other than the two expected ones can pass.
  LvOctMem em;
  unsigned int len = encode(em, digest, digestLen);
  LvN v;
  if (!publicOperation(signature, signatureLen, v)) return false;
  if (v == LvN(em.ptr(), len)) return true;
  len = encodeDigestInfoWithoutHashParameters(em, digest, digestLen);
  return v == LvN(em.ptr(), len);
}

int encodePkcs1Type1Block(LvOctet* out, unsigned int emLen, const LvOctet* data, int dataLen) {
  if (dataLen < 1 || emLen < 4 || static_cast<unsigned int>(dataLen) > emLen - 4) return 0;
  if (out == nullptr || data == nullptr) return 0;
  unsigned int n = static_cast<unsigned int>(dataLen);
  unsigned int ff = emLen - n - 3;
  out[0] = 0x00;
  out[1] = 0x01;
  for (unsigned int i = 0; i < ff; ++i) out[2 + i] = 0xFF;
  out[2 + ff] = 0x00;
  for (unsigned int i = 0; i < n; ++i) out[3 + ff + i] = data[i];
  return 1;
}

// ---------------------------------------------------------------------------
// PSS
// ---------------------------------------------------------------------------

LvRsaSigPkcsPss::LvRsaSigPkcsPss(unsigned int saltLen, LvRbg* g, LvHashAlgo algo, int fixedSha256,
                                 LvHashAlgo mgfAlgo)
    : sLen(saltLen), mgf(nullptr) {
  setRbg(g);
  setHashAlgo(algo);
  mgf = new LvMgf1(fixedSha256 != 0 ? LV_HASH_SHA256 : mgfAlgo, 0);
}

LvRsaSigPkcsPss::~LvRsaSigPkcsPss() {
  delete mgf;
  mgf = nullptr;
}

void LvRsaSigPkcsPss::saltedHash(const LvOctet* digest, unsigned int digestLen, const LvOctet* salt,
                                 unsigned int saltLen, LvOctet* out) {
  static const LvOctet zeros[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  hashObj->init();
  hashObj->step(zeros, 8);
  if (digestLen > 0) hashObj->step(digest, digestLen);
  if (saltLen > 0) hashObj->step(salt, saltLen);
  hashObj->finish();
  hashObj->getHash(0, out);
}

unsigned int LvRsaSigPkcsPss::encode(LvOctMem& encoding, const LvOctet* digest,
                                     unsigned int digestLen) {
  if (hashObj == nullptr)
    LV_THROW(LvNotInitException, "Hash function is not initialised.", "LvRsaSigPkcsPss::encode",
             RSASIG_PSS_FILE);
  unsigned int modBits = getKeyBits(0);
  unsigned int hLen = hashObj->getHashOctets();
  unsigned int emBits = modBits == 0 ? 0 : modBits - 1;
  unsigned int emLen = (emBits + 7) / 8;
  if (modBits == 0 || std::uint64_t{emLen} < std::uint64_t{hLen} + sLen + 2)
    LV_THROW(LvArgumentRangeException, "There is no key or key is too short to encode message.",
             "LvRsaSigPkcsPss::encode", RSASIG_PSS_FILE);
  if (sLen > 0 && rbg == nullptr)
    LV_THROW(LvNotInitException,
             "There is no random bit generator and scheme needs nonzero length of salt octets.",
             "LvRsaSigPkcsPss::encode", RSASIG_PSS_FILE);
  if (digest == nullptr && digestLen > 0)
    LV_THROW(LvArgumentRangeException, "Null digest.", "LvRsaSigPkcsPss::encode", RSASIG_PSS_FILE);
  encoding = LvOctMem(emLen);
  LvOctet* p = encoding.ptr();
  unsigned int ps = emLen - sLen - hLen - 2;
  for (unsigned int i = 0; i < ps; ++i) p[i] = 0;
  p[ps] = 0x01;
  LvOctet* salt = p + ps + 1;
  for (unsigned int i = 0; i < sLen; ++i) salt[i] = drawOctet(rbg);
  LvOctet* h = salt + sLen;
  saltedHash(digest, digestLen, salt, sLen, h);
  h[hLen] = 0xBC;
  mgf->applyMask(p, emLen - hLen - 1, h, hLen);
  p[0] &= static_cast<LvOctet>(0xFFu >> (8 * emLen - emBits));
  return emLen;
}

unsigned int LvRsaSigPkcsPss::sign(const LvOctet* digest, unsigned int digestLen,
                                   LvOctet* signature, unsigned int signatureLen) {
  return encodeAndSign(digest, digestLen, signature, signatureLen);
}

bool LvRsaSigPkcsPss::verify(const LvOctet* digest, unsigned int digestLen,
                             const LvOctet* signature, unsigned int signatureLen) {
  LvN m;
  if (!publicOperation(signature, signatureLen, m)) return false;
  if (hashObj == nullptr)
    LV_THROW(LvNotInitException, "Hash function is not initialised.", "LvRsaSigPkcsPss::verify",
             RSASIG_PSS_FILE);
  if (digest == nullptr && digestLen > 0) return false;
  unsigned int modBits = publicKey->getKeyBits();
  unsigned int hLen = hashObj->getHashOctets();
  unsigned int emBits = modBits - 1;
  unsigned int emLen = (emBits + 7) / 8;
  LvOctet topMask = static_cast<LvOctet>(0xFFu >> (8 * emLen - emBits));
  if (m.getOctetLength() > emLen) return false;
  if (std::uint64_t{emLen} < std::uint64_t{hLen} + sLen + 2) return false;
  LvOctMem em(emLen);
  m.getOctets(em.ptr(), emLen, 1);
  LvOctet* p = em.ptr();
  bool ok = true;
  if (p[emLen - 1] != 0xBC) ok = false;
  if ((p[0] & static_cast<LvOctet>(~topMask)) != 0) ok = false;
  unsigned int dbLen = emLen - hLen - 1;
  const LvOctet* h = p + dbLen;
  mgf->applyMask(p, dbLen, h, hLen);
  p[0] &= topMask;
  unsigned int ps = emLen - hLen - sLen - 2;
  for (unsigned int i = 0; i < ps; ++i)
    if (p[i] != 0) ok = false;
  if (p[ps] != 0x01) ok = false;
  LvOctMem hh(hLen);
  saltedHash(digest, digestLen, p + ps + 1, sLen, hh.ptr());
  LvOctet diff = 0;
  for (unsigned int i = 0; i < hLen; ++i) diff |= static_cast<LvOctet>(hh.ptr()[i] ^ h[i]);
  if (diff != 0) ok = false;
  return ok;
}
