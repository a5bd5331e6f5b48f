// The EC-DSA domain over GF(2^m) and its curve checks (ANSI X9.62 / SEC 1).
#include "crypto/asym/lve2ndsakeydomain.h"

#define E2NKD_SRC "lvasym/lve2ndsakeydomain"

LvE2nDsaKeyDomain::LvE2nDsaKeyDomain() {}

LvE2nDsaKeyDomain::LvE2nDsaKeyDomain(const char* a, const char* b, const char* f, const char* G,
                                     const char* n, const char* h, int state, const char* s) {
  const LvConvOS A(a), B(b), F(f), GG(G), Nn(n), Hh(h);
  setCurve(A.ptr(), A.getLength(), B.ptr(), B.getLength(), F.ptr(), F.getLength());
  setGen(GG.ptr(), GG.getLength());
  setOrder(Nn.ptr(), Nn.getLength());
  setCofactor(Hh.ptr(), Hh.getLength());
  if (s != nullptr && s[0] != 0) {
    const LvConvOS S(s);
    setSeed(S.ptr(), S.getLength());
  }
  validity = static_cast<LvWord>(state);
}

LvE2nDsaKeyDomain::~LvE2nDsaKeyDomain() {
  // the generator belongs to the member curve: delete it while the curve lives
  dropGen();
}

unsigned int LvE2nDsaKeyDomain::getDomainType() const { return LV_DOMAIN_E2N_DSA; }

void LvE2nDsaKeyDomain::setCurve(const LvOctet* a, unsigned int aLen, const LvOctet* b,
                                 unsigned int bLen, const LvOctet* f, unsigned int fLen) {
  validity = LV_DOMAIN_UNCHECKED;
  const LvE2n c(a, aLen, b, bLen, f, fLen);  // throws before anything changes
  dropGen();
  curve = c;
  setGroup(&curve);
  makeTraceMask();
}

// Newton's identities over GF(2): with f = t^m + sum of e_j t^(m-j), the power sums of its
// roots, s_k = Tr(t^k), are s_k = sum over j < k of e_j s_(k-j), plus e_k for odd k; s_0 = m.
void LvE2nDsaKeyDomain::makeTraceMask() {
  const LvGF2nField& f = curve.getField();
  const unsigned int m = f.getDegree();
  traceMask.assign((m + 31) / 32, 0);
  if (m == 0) return;
  LvOctMem poly(m / 8 + 1);
  unsigned int deg = 0;
  const unsigned int len = getPolynomial(&deg, poly.ptr(), m / 8 + 1);
  auto coef = [&](unsigned int e) { return (poly[len - 1 - e / 8] >> (e % 8)) & 1u; };
  std::vector<unsigned int> terms;  // j with e_j = 1
  for (unsigned int j = 1; j <= m; j++)
    if (coef(m - j)) terms.push_back(j);
  std::vector<unsigned char> s(static_cast<size_t>(m) + 1, 0);  // s_0 .. s_(m-1), one spare
  s[0] = static_cast<unsigned char>(m & 1u);
  for (unsigned int k = 1; k < m; k++) {
    unsigned int v = (k & 1u) ? coef(m - k) : 0u;
    for (unsigned int j : terms) {
      if (j >= k) break;
      v ^= s[k - j];
    }
    s[k] = static_cast<unsigned char>(v);
  }
  for (unsigned int k = 0; k < m; k++)
    if (s[k]) traceMask[k / 32] |= 1u << (k % 32);
}

unsigned int LvE2nDsaKeyDomain::traceOf(const LvGF2n& x) const {
  const LvWord* w = x.getValue();
  const unsigned int n =
      x.getWords() < traceMask.size() ? x.getWords() : static_cast<unsigned int>(traceMask.size());
  LvWord acc = 0;
  for (unsigned int i = 0; i < n; i++) acc ^= w[i] & traceMask[i];
  return static_cast<unsigned int>(__builtin_parity(acc));
}

void LvE2nDsaKeyDomain::setCurveTerms(const LvOctet* a, unsigned int aLen, const LvOctet* b,
                                      unsigned int bLen, unsigned int m, const unsigned int* k,
                                      unsigned int count) {
  validity = LV_DOMAIN_UNCHECKED;
  bool ok = m >= 2 && m <= LvGF2nField::kMaxDegree;
  for (unsigned int i = 0; ok && i < count; i++) {
    ok = k[i] >= 1 && k[i] < m;
    for (unsigned int j = 0; ok && j < i; j++) ok = k[i] != k[j];
  }
  if (!ok)
    LV_THROW(LvArgumentRangeException, "Wrong exponents of the reduction polynomial.",
             "void LvE2nDsaKeyDomain::setCurve(const LvOctet *a, unsigned int aLen, const LvOctet "
             "*b, unsigned int bLen, unsigned int m, ...)",
             E2NKD_SRC);
  const unsigned int len = m / 8 + 1;
  LvOctMem f(len);
  auto setBit = [&](unsigned int e) { f[len - e / 8 - 1] |= static_cast<LvOctet>(1u << (e % 8)); };
  setBit(m);
  setBit(0);
  for (unsigned int i = 0; i < count; i++) setBit(k[i]);
  setCurve(a, aLen, b, bLen, f.ptr(), len);
}

void LvE2nDsaKeyDomain::setCurvePentanomial(const LvOctet* a, unsigned int aLen, const LvOctet* b,
                                            unsigned int bLen, unsigned int m, unsigned int k1,
                                            unsigned int k2, unsigned int k3) {
  const unsigned int k[3] = {k1, k2, k3};
  setCurveTerms(a, aLen, b, bLen, m, k, 3);
}

void LvE2nDsaKeyDomain::setCurveTrinomial(const LvOctet* a, unsigned int aLen, const LvOctet* b,
                                          unsigned int bLen, unsigned int m, unsigned int k) {
  setCurveTerms(a, aLen, b, bLen, m, &k, 1);
}

void LvE2nDsaKeyDomain::setGen(const LvOctet* oct, unsigned int len) {
  validity = LV_DOMAIN_UNCHECKED;
  LvGeneralDsaKeyDomain::setGen(oct, len);
}

void LvE2nDsaKeyDomain::setOrder(const LvOctet* oct, unsigned int len) {
  validity = LV_DOMAIN_UNCHECKED;
  LvGeneralDsaKeyDomain::setOrder(oct, len);
}

void LvE2nDsaKeyDomain::setSeed(const LvOctet* s, unsigned int len) {
  validity = LV_DOMAIN_UNCHECKED;
  seed = LvConvOS(s, len);
}

unsigned int LvE2nDsaKeyDomain::getA(LvOctet* oct, unsigned int len) const {
  return curve.getA().asOctetString(oct, len);
}

unsigned int LvE2nDsaKeyDomain::getB(LvOctet* oct, unsigned int len) const {
  return curve.getB().asOctetString(oct, len);
}

unsigned int LvE2nDsaKeyDomain::getBasisType() const {
  const unsigned int w = curve.getField().getWeight();
  return (w == 3 || w == 5) ? w : 0;
}

unsigned int LvE2nDsaKeyDomain::getPolynomial(unsigned int* m, LvOctet* oct,
                                              unsigned int len) const {
  *m = curve.getField().getDegree();
  return curve.getField().asOctetString(oct, len);
}

unsigned int LvE2nDsaKeyDomain::getTrinomial(unsigned int* m, unsigned int* k) const {
  *m = curve.getField().getDegree();
  *k = curve.getField().getTermPosition(1);
  return 0;
}

unsigned int LvE2nDsaKeyDomain::getPentanomial(unsigned int* m, unsigned int* k1, unsigned int* k2,
                                               unsigned int* k3) const {
  const LvGF2nField& f = curve.getField();
  *m = f.getDegree();
  *k1 = f.getTermPosition(1);
  *k2 = f.getTermPosition(2);
  *k3 = f.getTermPosition(3);
  return 0;
}

unsigned int LvE2nDsaKeyDomain::getGen(LvOctet* oct, unsigned int len) const {
  return LvGeneralDsaKeyDomain::getGen(oct, len);
}

unsigned int LvE2nDsaKeyDomain::getOrder(LvOctet* oct, unsigned int len) const {
  return LvGeneralDsaKeyDomain::getOrder(oct, len);
}

unsigned int LvE2nDsaKeyDomain::getSeed(LvOctet* oct, unsigned int len) const {
  const unsigned int n = seed.getLength();
  if (n == 0 || len < n) return 0;
  for (unsigned int i = 0; i < n; i++) oct[i] = seed[i];
  return n;
}

bool LvE2nDsaKeyDomain::validateCurve() {
  const LvGF2nField& field = curve.getField();
  const unsigned int m = field.getDegree();
  if (seed.getLength() > 0) {
    if (seed.getLength() < 20) return false;
    const LvConvOS e = lvExpandSeed(seed, m, false);
    const LvGF2n bSeed(e.ptr(), e.getLength(), &field);
    if (bSeed != curve.getB()) return false;
  }
  if (curve.getB().isZero()) return false;
  if (!isProbablePrime(LvModulus(order, 0), nullptr)) return false;
  if (cofactor > 8u) return false;
  // Hasse: (N - (q + 1))^2 <= 4q with q = 2^m
  const LvN q = LvN(1u, 1) << m;
  const LvN q1 = q + 1u;
  const LvN& N = groupOrder;
  const LvN d = N >= q1 ? N - q1 : q1 - N;
  if ((q << 2) < d * d) return false;
  // MOV: 2^i mod n != 1 for i = 1..100·m
  const LvModulus nMod(order, 8);
  LvZn x(1, &nMod);
  for (unsigned int i = 0; i < 100 * m; i++) {
    x += x;
    if (x == 1) return false;
  }
  // anomalous binary curve: N = 2^m
  if (N == q) return false;
  return true;
}

bool LvE2nDsaKeyDomain::validate() {
  return validateThen([this] { return validateCurve(); });
}

// On y^2 + xy = x^3 + a x^2 + b over GF(2^m) a point (x, y) other than O is twice a point of the
// curve exactly when Tr(x) = Tr(a) (the doubling gives x = l^2 + l + a; G. Seroussi, "Compact
// representation of elliptic curve points over F_2^n", 1998; E. Knudsen, "Elliptic scalar
// multiplication using point halving", ASIACRYPT 1999). The curve has one point of order 2,
// so the part of the group of order h is cyclic: with h = 2 (Tr(a) = 1) the subgroup of order
// n is 2E, with h = 4 (Tr(a) = 0) it is 4E, tested on a half Q of P (either: they differ by
// the point of order 2, itself in 2E), whose x satisfies x_Q^2 = x (l + 1) + y for a root l
// of l^2 + l = x + a. The test answers for the group order h n only: it is used where n is
// above 4 sqrt(2^m), so that h n is the one multiple of n the Hasse bound allows, and the
// domain was validated.
bool LvE2nDsaKeyDomain::inOrderSubgroup(const LvGroupElem* g) const {
  const unsigned int m = curve.getField().getDegree();
  const unsigned int ta = traceOf(curve.getA());
  const bool two = cofactor == 2u && ta == 1, four = cofactor == 4u && ta == 0;
  const LvE2nPoint* P = dynamic_cast<const LvE2nPoint*>(g);
  if ((!two && !four) || m % 2 == 0 || order.getBitLength() < m / 2 + 4 ||
      validity != LV_DOMAIN_VALID || traceMask.empty() || P == nullptr || P->isInfinity() ||
      P->getCurve() != &curve)
    return LvGeneralDsaKeyDomain::inOrderSubgroup(g);
  const LvGF2n xa = P->getX() + curve.getA();
  if (traceOf(xa) != 0) return false;
  if (two) return true;
  LvGF2n l = halfTrace(xa);
  l += LvGF2n("01", &curve.getField());
  LvGF2n u2 = P->getX() * l;
  u2 += P->getY();
  return traceOf(u2) == 0;
}
