// RSA keys: component setters and getters, derivation and CRT preparation.
#include "crypto/asym/lvrsakey.h"

#include "crypto/basic/lvsecret.h"

#define RSAKEY_FILE "lvasym\\lvrsakey.cpp"
#define RSAKEY_NO_INVERSE "There is no inversion of number a.v modulo number n->v."

namespace {

const int kModulusOptions = LvModulus::OPT_MONT;
// A public key's verification converts the signature without R^2 (see LvRsaSig), so a key
// decoded to check one signature does not make it.
const int kPublicModulusOptions = LvModulus::OPT_MONT | LvModulus::OPT_LAZY;
const int kPrimeOptions = LvModulus::OPT_MONT | LvModulus::OPT_PRIME | LvModulus::OPT_SECRET;

// Moduli come from certificates: one far beyond any real key would only cost
// quadratic set-up time.
const unsigned int kMaxModulusBits = 16384;

const LvN& rsaModulusValue(const LvN& n) {
  if (n.getBitLength() > kMaxModulusBits)
    LV_THROW(LvArgumentRangeException, "RSA modulus is too long.", "LvRsaKey::setN",
             "lvasym\\lvrsakey.cpp");
  return n;
}

LvModulus rsaModulus(const LvN& n) { return LvModulus(rsaModulusValue(n), kModulusOptions); }

// Public exponents above 2^256 exist in no standard key, and one of a
// megabyte would make every verification take seconds.
const unsigned int kMaxPublicExponentBits = 256;

const LvN& checkPublicExponent(const LvN& e) {
  if (e.getBitLength() > kMaxPublicExponentBits)
    LV_THROW(LvArgumentRangeException, "RSA public exponent is too long.", "LvRsaPublicKey::setE",
             "lvasym\\lvrsakey.cpp");
  return e;
}

LvN rsaPublicExponent(const LvN& e) { return checkPublicExponent(e); }

// A public modulus from octets: leading zero octets skipped (the value is public), and one
// longer than rsaModulusValue allows refused before any set-up is made.
unsigned int modulusZeroOctets(const LvOctet* oct, unsigned int len) {
  unsigned int i = 0;
  while (oct != nullptr && i < len && oct[i] == 0) ++i;
  return i;
}

const LvOctet* rsaModulusOctets(const LvOctet* oct, unsigned int len) {
  const unsigned int zeros = modulusZeroOctets(oct, len);
  if (len - zeros > kMaxModulusBits / 8)
    LV_THROW(LvArgumentRangeException, "RSA modulus is too long.", "LvRsaKey::setN",
             "lvasym\\lvrsakey.cpp");
  return oct == nullptr ? nullptr : oct + zeros;
}

}  // namespace

// ---------------------------------------------------------------------------
// Public key
// ---------------------------------------------------------------------------

LvRsaPublicKey::LvRsaPublicKey() {}

LvRsaPublicKey::LvRsaPublicKey(const LvN& nv, const LvN& ev)
    : n(rsaModulusValue(nv), kPublicModulusOptions), e(rsaPublicExponent(ev)) {}

LvRsaPublicKey::LvRsaPublicKey(const LvOctet* no, unsigned int nl, const LvOctet* eo,
                               unsigned int el)
    : n(rsaModulusOctets(no, nl), nl - modulusZeroOctets(no, nl), 0, kPublicModulusOptions),
      e(LvN::fromPublicOctets(eo, el)) {
  checkPublicExponent(e);
}

unsigned int LvRsaPublicKey::getN(LvOctet* dst, unsigned int len) { return n.getOctets(dst, len); }
const LvModulus& LvRsaPublicKey::getModulus() { return n; }
unsigned int LvRsaPublicKey::getE(LvOctet* dst, unsigned int len) { return e.getOctets(dst, len); }
const LvN& LvRsaPublicKey::getE() { return e; }

void LvRsaPublicKey::setN(const LvOctet* oct, unsigned int len) {
  n.assign(rsaModulusValue(LvN(oct, len)), kPublicModulusOptions);
}
void LvRsaPublicKey::setN(const char* text) {
  n.assign(rsaModulusValue(LvN(text)), kPublicModulusOptions);
}
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
  // Every value derived here comes from the secrets p and d: no division, inversion or branch
  // looks at them; only the answers that are public anyway (whether the key is one, and e)
  // are made so. The word buffers wipe themselves.
  const LvWordLen kn = n.getUsed(), kp = p.getUsed(), kd = d.getUsed();
  if (kp > kn || p.getKind() != LvModulus::KIND_MONT)
    LV_THROW(LvInvException, RSAKEY_NO_INVERSE, "LvRsaPrivateKey::LvRsaPrivateKey", RSAKEY_FILE);
  // q = n / p, exact.
  LvWordMem qw(kn), rw(kp);
  longvCtDivMod(qw.ptr(), rw.ptr(), n.getWords(), kn, p.getWords(), kp);
  LvWord rest = 0;
  for (LvWordLen i = 0; i < kp; ++i) rest |= rw.ptr()[i];
  LvWord exact = longvCtEqMask(rest, 0);
  // e = d^-1 mod phi, phi = (p - 1)(q - 1) even. With x = phi^-1 mod d (d is odd),
  // phi x = 1 + d y for a y below phi, and d (phi - y) = 1 (mod phi): e = phi - y.
  q = LvModulus(LvN::fromSecretWords(qw.ptr(), kn), kPrimeOptions);
  const LvWordLen kq = q.getUsed(), kf = kp + kq;
  LvWordMem pm1(kp), qm1(kq), phi(kf), a(kd), x(kd), prod(kf + kd), y(kf + kd), rd(kd);
  longvCopy(pm1.ptr(), p.getWords(), kp);
  longvCopy(qm1.ptr(), q.getWords(), kq);
  pm1.ptr()[0] &= ~1u;
  qm1.ptr()[0] &= ~1u;
  longvMul(phi.ptr(), pm1.ptr(), kp, qm1.ptr(), kq);
  longvCtMod(a.ptr(), phi.ptr(), kf, d.getWords(), kd);
  // (d must be odd to be prime to the even phi, and for the inversion modulo d.)
  LvWord ok =
      exact & (0u - (d.getWords()[0] & 1u)) & longvCtModInverse(x.ptr(), a.ptr(), d.getWords(), kd);
  longvMul(prod.ptr(), phi.ptr(), kf, x.ptr(), kd);
  LvWordMem oneW(kf + kd);
  oneW.ptr()[0] = 1;
  longvSub(prod.ptr(), oneW.ptr(), kf + kd, 0);
  longvCtDivMod(y.ptr(), rd.ptr(), prod.ptr(), kf + kd, d.getWords(), kd);
  longvSub(phi.ptr(), y.ptr(), kf, 0);
  lvDeclassify(&ok, sizeof ok);
  if (ok == 0)
    LV_THROW(LvInvException, RSAKEY_NO_INVERSE, "LvRsaPrivateKey::LvRsaPrivateKey", RSAKEY_FILE);
  // The public exponent is public.
  lvDeclassify(phi.ptr(), kf * sizeof(LvWord));
  e = LvN(phi.ptr(), kf);
  dP = LvN::fromSecretWords(crtExponentWords(d, p).ptr(), kp);
  dQ = LvN::fromSecretWords(crtExponentWords(d, q).ptr(), kq);
  // q^-1 = q^(p - 2) mod p (Fermat: p is prime).
  LvWordMem qr(kp), pm2(kp), two(kp), inv(kp);
  reduceSecretWords(qr.ptr(), q.getWords(), kq, p);
  longvCopy(pm2.ptr(), p.getWords(), kp);
  two.ptr()[0] = 2;
  longvSub(pm2.ptr(), two.ptr(), kp, 0);
  powSecretWords(inv.ptr(), qr.ptr(), pm2.ptr(), kp, p);
  qInv = LvN::fromSecretWords(inv.ptr(), kp);
  prepare();
}

LvRsaPrivateKey::~LvRsaPrivateKey() {}

unsigned int LvRsaPrivateKey::getKeyBits() { return n.isZero() ? 0 : n.getBitLength(); }
unsigned int LvRsaPrivateKey::getPublicKeyBits() { return getKeyBits(); }
bool LvRsaPrivateKey::hasPublicPart() { return !n.isZero() && !e.isZero(); }
bool LvRsaPrivateKey::hasPrivatePart() { return !n.isZero() && !isZeroSecret(d); }

void LvRsaPrivateKey::prepare() {
  forgetCrtExponents();
  if (isZeroSecret(p) || isZeroSecret(q) || isZeroSecret(qInv)) return;
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
  n.assign(rsaModulusValue(LvN(oct, len)), kModulusOptions);
  forgetCrtExponents();
}
void LvRsaPrivateKey::setN(const char* text) {
  n.assign(rsaModulusValue(LvN(text)), kModulusOptions);
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
