// RSA keys: component setters and getters, derivation and CRT preparation.
#include "crypto/asym/lvrsakey.h"

namespace {

const int kModulusOptions = LvModulus::OPT_MONT;
const int kPrimeOptions = LvModulus::OPT_MONT | LvModulus::OPT_PRIME;

// Moduli come from certificates: one far beyond any real key would only cost
// quadratic set-up time.
const unsigned int kMaxModulusBits = 16384;

LvModulus rsaModulus(const LvN& n) {
  if (n.getBitLength() > kMaxModulusBits)
    LV_THROW(LvArgumentRangeException, "RSA modulus is too long.", "LvRsaKey::setN",
             "lvasym\\lvrsakey.cpp");
  return LvModulus(n, kModulusOptions);
}

// Public exponents above 2^256 exist in no standard key, and one of a
// megabyte would make every verification take seconds.
const unsigned int kMaxPublicExponentBits = 256;

LvN rsaPublicExponent(const LvN& e) {
  if (e.getBitLength() > kMaxPublicExponentBits)
    LV_THROW(LvArgumentRangeException, "RSA public exponent is too long.", "LvRsaPublicKey::setE",
             "lvasym\\lvrsakey.cpp");
  return e;
}

}  // namespace

// ---------------------------------------------------------------------------
// Public key
// ---------------------------------------------------------------------------

LvRsaPublicKey::LvRsaPublicKey() {}

LvRsaPublicKey::LvRsaPublicKey(const LvN& nv, const LvN& ev)
    : n(rsaModulus(nv)), e(rsaPublicExponent(ev)) {}

LvRsaPublicKey::~LvRsaPublicKey() {}

unsigned int LvRsaPublicKey::getKeyBits() { return n.isZero() ? 0 : n.getBitLength(); }
bool LvRsaPublicKey::isReady() { return !n.isZero() && !e.isZero(); }
bool LvRsaPublicKey::isValid() { return true; }

unsigned int LvRsaPublicKey::getN(LvOctet* dst, unsigned int len) { return n.getOctets(dst, len); }
const LvModulus& LvRsaPublicKey::getModulus() { return n; }
unsigned int LvRsaPublicKey::getE(LvOctet* dst, unsigned int len) { return e.getOctets(dst, len); }
const LvN& LvRsaPublicKey::getE() { return e; }

void LvRsaPublicKey::setN(const LvOctet* oct, unsigned int len) {
  n = rsaModulus(LvN(oct, len));
}
void LvRsaPublicKey::setN(const char* text) { n = rsaModulus(LvN(text)); }
void LvRsaPublicKey::setE(const LvOctet* oct, unsigned int len) {
  e = rsaPublicExponent(LvN(oct, len));
}
void LvRsaPublicKey::setE(const char* text) { e = rsaPublicExponent(LvN(text)); }

// ---------------------------------------------------------------------------
// Private key
// ---------------------------------------------------------------------------

LvRsaPrivateKey::LvRsaPrivateKey() {}

LvRsaPrivateKey::LvRsaPrivateKey(const LvN& nv, const LvN& dv) : n(rsaModulus(nv)), d(dv) {}

LvRsaPrivateKey::LvRsaPrivateKey(const LvN& nv, const LvN& dv, const LvN& pv)
    : n(rsaModulus(nv)), d(dv), p(pv, kPrimeOptions) {
  q = LvModulus(nv / pv, kPrimeOptions);
  LvN pm1 = pv - 1u, qm1 = q - 1u;
  LvModulus phi(pm1 * qm1, 0);
  e = (1 / LvZn(d, &phi)).getN();
  dP = LvN(crtExponentWords(d, p));
  dQ = LvN(crtExponentWords(d, q));
  qInv = (1 / LvZn(q, &p)).getN();
  prepare();
}

LvRsaPrivateKey::~LvRsaPrivateKey() {}

unsigned int LvRsaPrivateKey::getKeyBits() { return n.isZero() ? 0 : n.getBitLength(); }
unsigned int LvRsaPrivateKey::getPublicKeyBits() { return getKeyBits(); }
bool LvRsaPrivateKey::hasPublicPart() { return !n.isZero() && !e.isZero(); }
bool LvRsaPrivateKey::hasPrivatePart() { return !n.isZero() && !isZeroSecret(d); }

void LvRsaPrivateKey::prepare() {
  forgetCrtExponents();
  if (p.isZero() || q.isZero() || qInv.isZero()) return;
  n.setCrt(p, q, qInv);
  if (hasCrt() && !isZeroSecret(d)) makeCrtExponents();
}

bool LvRsaPrivateKey::hasCrt() const {
  return (n.getFlags() & LvModulus::FLAG_CRT) == LvModulus::FLAG_CRT && n.getCrtP() != nullptr &&
         n.getCrtQ() != nullptr;
}

void LvRsaPrivateKey::forgetCrtExponents() {
  crtDP = LvWordMem();
  crtDQ = LvWordMem();
  crtQInv = LvWordMem();
}

void LvRsaPrivateKey::makeCrtExponents() {
  const LvModulus& cp = *n.getCrtP();
  crtDP = crtExponentWords(d, cp);
  crtDQ = crtExponentWords(d, *n.getCrtQ());
  crtQInv = LvWordMem(cp.getUsed());
  longvCopyResize(crtQInv.ptr(), cp.getUsed(), n.getCrtC().getWords(), n.getCrtC().getUsed());
}

void LvRsaPrivateKey::privatePower(const LvN& x, LvWordMem& out) {
  if (n.isZero() || isZeroSecret(d))
    LV_THROW(LvNotInitException, "There is no private key or it is not ready.",
             "LvRsaPrivateKey::privatePower", "lvasym\\lvrsakey.cpp");
  const LvWordLen k = n.getUsed();
  if (out.getCount() != k) out = LvWordMem(k);
  if (hasCrt()) {
    if (crtDP.getCount() == 0) makeCrtExponents();
    powSecretCrtWords(out.ptr(), k, x.getWords(), x.getUsed(), *n.getCrtP(), crtDP.ptr(),
                      crtDP.getCount(), *n.getCrtQ(), crtDQ.ptr(), crtDQ.getCount(),
                      crtQInv.ptr());
    return;
  }
  // Over n: the exponent runs over n's word count whatever d's length.
  const LvWordLen ne = d.getUsed() > k ? d.getUsed() : k;
  LvWordMem ew(ne), xw(k);
  longvCopyResize(ew.ptr(), ne, d.getWords(), d.getUsed());
  longvCopyResize(xw.ptr(), k, x.getWords(), x.getUsed());
  powSecretWords(out.ptr(), xw.ptr(), ew.ptr(), ne, n);
  lvWipe(ew.ptr(), ne * sizeof(LvWord));
  lvWipe(xw.ptr(), k * sizeof(LvWord));
}

void LvRsaPrivateKey::setVersion(const LvOctet* oct, unsigned int len) { version.set(oct, len); }
void LvRsaPrivateKey::setVersion(const char* text) { version = LvN(text); }
void LvRsaPrivateKey::setN(const LvOctet* oct, unsigned int len) {
  n = rsaModulus(LvN(oct, len));
  forgetCrtExponents();
}
void LvRsaPrivateKey::setN(const char* text) {
  n = rsaModulus(LvN(text));
  forgetCrtExponents();
}
void LvRsaPrivateKey::setE(const LvOctet* oct, unsigned int len) { e.set(oct, len); }
void LvRsaPrivateKey::setE(const char* text) { e = LvN(text); }
void LvRsaPrivateKey::setD(const LvOctet* oct, unsigned int len) {
  d.set(oct, len);
  forgetCrtExponents();
}
void LvRsaPrivateKey::setD(const char* text) {
  d = LvN(text);
  forgetCrtExponents();
}
void LvRsaPrivateKey::setP(const LvOctet* oct, unsigned int len) {
  p = LvModulus(oct, len, 0, kPrimeOptions);
}
void LvRsaPrivateKey::setP(const char* text) { p = LvModulus(text, kPrimeOptions); }
void LvRsaPrivateKey::setQ(const LvOctet* oct, unsigned int len) {
  q = LvModulus(oct, len, 0, kPrimeOptions);
}
void LvRsaPrivateKey::setQ(const char* text) { q = LvModulus(text, kPrimeOptions); }
void LvRsaPrivateKey::setDP(const LvOctet* oct, unsigned int len) { dP.set(oct, len); }
void LvRsaPrivateKey::setDP(const char* text) { dP = LvN(text); }
void LvRsaPrivateKey::setDQ(const LvOctet* oct, unsigned int len) { dQ.set(oct, len); }
void LvRsaPrivateKey::setDQ(const char* text) { dQ = LvN(text); }
void LvRsaPrivateKey::setQInv(const LvOctet* oct, unsigned int len) { qInv.set(oct, len); }
void LvRsaPrivateKey::setQInv(const char* text) { qInv = LvN(text); }

unsigned int LvRsaPrivateKey::getVersion(LvOctet* dst, unsigned int len) {
  return version.getOctets(dst, len);
}
unsigned int LvRsaPrivateKey::getN(LvOctet* dst, unsigned int len) { return n.getOctets(dst, len); }
const LvModulus& LvRsaPrivateKey::getModulus() { return n; }
unsigned int LvRsaPrivateKey::getE(LvOctet* dst, unsigned int len) { return e.getOctets(dst, len); }
const LvN& LvRsaPrivateKey::getE() { return e; }
unsigned int LvRsaPrivateKey::getD(LvOctet* dst, unsigned int len) { return d.getOctets(dst, len); }
const LvN& LvRsaPrivateKey::getD() { return d; }
unsigned int LvRsaPrivateKey::getP(LvOctet* dst, unsigned int len) { return p.getOctets(dst, len); }
unsigned int LvRsaPrivateKey::getQ(LvOctet* dst, unsigned int len) { return q.getOctets(dst, len); }
unsigned int LvRsaPrivateKey::getDP(LvOctet* dst, unsigned int len) {
  return dP.getOctets(dst, len);
}
unsigned int LvRsaPrivateKey::getDQ(LvOctet* dst, unsigned int len) {
  return dQ.getOctets(dst, len);
}
unsigned int LvRsaPrivateKey::getQInv(LvOctet* dst, unsigned int len) {
  return qInv.getOctets(dst, len);
}
