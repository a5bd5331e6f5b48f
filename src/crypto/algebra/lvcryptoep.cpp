// Elliptic curves over the special prime fields (see lvcryptoep.h).
#include "crypto/algebra/lvcryptoep.h"

#include <cstring>
#include <utility>

#include "crypto/algebra/lvep.h"
#include "crypto/algebra/lvepfast.h"
#include "crypto/basic/lvnet.h"

#define CEP_GROUP "lvalgebra/lvcryptoep/cryptoep_group"
#define CEP_ACCESS "lvalgebra/lvcryptoep/cryptoep_access"
#define CEP_MAIN "lvalgebra/lvcryptoep/lvcryptoep"

namespace {

// Largest cell: 17 words (P-521) times three.
const unsigned int kMaxCell = 3 * 17;

template <unsigned int K, const LvWord* P, LvSpecMulFn MUL, LvSpecSqrFn SQR>
struct PrimeOps {
  static void copy(LvWord* d, const LvWord* s) { std::memmove(d, s, K * sizeof(LvWord)); }
  static bool equal(const LvWord* a, const LvWord* b) { return longvCmp(a, b, K) == 0; }
  static bool isZero(const LvWord* a) { return longvIsZero(a, K); }
  static bool isOne(const LvWord* a) { return longvIsOne(a, K); }
  static void negate(LvWord* a) {
    if (longvIsZero(a, K)) return;
    LvWord* t = a + K;
    std::memcpy(t, P, K * sizeof(LvWord));
    longvSub(t, a, K, 0);
    std::memcpy(a, t, K * sizeof(LvWord));
  }
  static void add(LvWord* a, const LvWord* b) {
    LvWord c = longvAdd(a, b, K, 0);
    if (c || longvCmp(a, P, K) >= 0) longvSub(a, P, K, 0);
  }
  static void sub(LvWord* a, const LvWord* b) {
    if (longvSub(a, b, K, 0)) longvAdd(a, P, K, 0);
  }
  static void mul(LvWord* a, const LvWord* b) {
    MUL(a + K, a, b);
    std::memcpy(a, a + K, K * sizeof(LvWord));
  }
  static void sqr(LvWord* a) {
    SQR(a + K, a);
    std::memcpy(a, a + K, K * sizeof(LvWord));
  }
  static const SpecialPrimeFieldOps table;
};

template <unsigned int K, const LvWord* P, LvSpecMulFn MUL, LvSpecSqrFn SQR>
const SpecialPrimeFieldOps PrimeOps<K, P, MUL, SQR>::table = {
    &copy, &equal, &isZero, &isOne, &negate, &add, &sub, &mul, &sqr};

typedef PrimeOps<5, longvPrimeP160, longvMulP160, longvSqrP160> Ops160;
typedef PrimeOps<6, longvPrimeP192, longvMulP192, longvSqrP192> Ops192;
typedef PrimeOps<7, longvPrimeP224, longvMulP224, longvSqrP224> Ops224;
typedef PrimeOps<8, longvPrimeP256, longvMulP256, longvSqrP256> Ops256;
typedef PrimeOps<12, longvPrimeP384, longvMulP384, longvSqrP384> Ops384;
typedef PrimeOps<17, longvPrimeP521, longvMulP521, longvSqrP521> Ops521;

// Work cells of one formula, on the stack.
struct Cells {
  LvWord c[4][kMaxCell];
  ~Cells() { lvWipe(c, sizeof(c)); }
};

}  // namespace

// ------------------------------------------------------------------ points

LvCryptoEpPoint::LvCryptoEpPoint(const LvCryptoEp* c) : LvGroupElem(), curve(c), buf(3 * c->s) {
  buf.ptr()[0] = 1;
  buf.ptr()[c->s] = 1;
}

LvCryptoEpPoint::LvCryptoEpPoint(const LvCryptoEp* c, const LvN& x, const LvN& y)
    : LvGroupElem(), curve(c), buf(3 * c->s) {
  lvWordsOf(x % c->p, X(), c->n);
  lvWordsOf(y % c->p, Y(), c->n);
  Z()[0] = 1;
}

LvCryptoEpPoint::LvCryptoEpPoint(const LvCryptoEpPoint& P)
    : LvGroupElem(P), curve(P.curve), buf(P.buf), fixed() {}

LvCryptoEpPoint& LvCryptoEpPoint::operator=(const LvCryptoEpPoint& P) {
  if (this == &P) return *this;
  curve = P.curve;
  buf = LvWordMem(3 * P.curve->s);
  const unsigned int n = P.curve->n;
  std::memcpy(X(), P.X(), n * sizeof(LvWord));
  std::memcpy(Y(), P.Y(), n * sizeof(LvWord));
  std::memcpy(Z(), P.Z(), n * sizeof(LvWord));
  fixed.reset();
  return *this;
}

LvCryptoEpPoint::~LvCryptoEpPoint() {}

LvWord* LvCryptoEpPoint::Y() { return buf.ptr() + curve->s; }
LvWord* LvCryptoEpPoint::Z() { return buf.ptr() + 2 * curve->s; }
const LvWord* LvCryptoEpPoint::Y() const { return buf.ptr() + curve->s; }
const LvWord* LvCryptoEpPoint::Z() const { return buf.ptr() + 2 * curve->s; }

// ------------------------------------------------------------------ curve

LvCryptoEp::LvCryptoEp() : ops(nullptr), p(), n(0), s(0), m(0), aIsMinus3(false) {}

LvCryptoEp::LvCryptoEp(const LvOctet* aOct, unsigned int aLen, const LvOctet* bOct,
                       unsigned int bLen, const LvOctet* pOct, unsigned int pLen)
    : ops(nullptr), p(pOct, pLen, 0, 0), n(0), s(0), m(0), aIsMinus3(false) {
  LvN aN(aOct, aLen), bN(bOct, bLen);
  m = p.getOctetLength();
  n = (m + 3) / 4;
  if (n == 0) n = 1;
  s = 3 * n;
  half = LvWordMem(n);
  a = LvWordMem(n);
  b = LvWordMem(n);
  aIsMinus3 = p >= LvN(3u, 1) && LvN(p) - 3u == aN;
  setField(p);
  lvWordsOf((LvN(p) + 1u) >> 1, half.ptr(), n);
  lvWordsOf(aN % p, a.ptr(), n);
  lvWordsOf(bN % p, b.ptr(), n);
  fast = std::shared_ptr<const lvepfast::Curve>(
      lvepfast::Curve::create(p.getWords(), a.ptr(), b.ptr(), n).release());
}

LvCryptoEp::LvCryptoEp(const LvCryptoEp& e)
    : LvAbelianGroup(e),
      ops(e.ops),
      p(e.p),
      n(e.n),
      s(e.s),
      m(e.m),
      a(e.a),
      b(e.b),
      half(e.half),
      aIsMinus3(e.aIsMinus3),
      fast(e.fast) {}

LvCryptoEp& LvCryptoEp::operator=(const LvCryptoEp& e) {
  if (this == &e) return *this;
  ops = e.ops;
  p = e.p;
  n = e.n;
  s = e.s;
  m = e.m;
  a = e.a;
  b = e.b;
  half = e.half;
  aIsMinus3 = e.aIsMinus3;
  fast = e.fast;
  return *this;
}

LvCryptoEp::~LvCryptoEp() {}

void LvCryptoEp::setField(const LvN& prime) {
  static const struct {
    const char* text;
    const SpecialPrimeFieldOps* ops;
  } primes[] = {
      {"1461501637330902918203684832716283019653785059327", &Ops160::table},
      {"6277101735386680763835789423207666416083908700390324961279", &Ops192::table},
      {"26959946667150639794667015087019630673557916260026308143510066298881", &Ops224::table},
      {"115792089210356248762697446949407573530086143415290314195533631308867097853951",
       &Ops256::table},
      {"394020061963944792122790401001436138050797392704654466679482934042457217714968703290472"
       "66088258938001861606973112319",
       &Ops384::table},
      {"686479766013060971498190079908139321726943530014330540939446345918554318339765605212255"
       "9640661454554977296311391480858037121987999716643812574028291115057151",
       &Ops521::table},
  };
  for (const auto& e : primes) {
    if (prime == LvN(e.text)) {
      ops = e.ops;
      return;
    }
  }
  LV_THROW(LvLibNotImplementedException, "There is no special implementation for this prime field.",
           "void LvCryptoEp::setField(const LvN &prime)", CEP_MAIN);
}

unsigned int LvCryptoEp::getA(LvOctet* oct, unsigned int len) const {
  if (len < m)
    LV_THROW(LvArgumentRangeException, "Too small output buffer (LvOctet *oct).",
             "unsigned int LvCryptoEp::getA(LvOctet *oct, unsigned int len) const", CEP_ACCESS);
  toN(a.ptr()).getOctets(oct, m, 1);
  return m;
}

unsigned int LvCryptoEp::getB(LvOctet* oct, unsigned int len) const {
  if (len < m)
    LV_THROW(LvArgumentRangeException, "Too small output buffer (LvOctet *oct).",
             "unsigned int LvCryptoEp::getB(LvOctet *oct, unsigned int len) const", CEP_ACCESS);
  toN(b.ptr()).getOctets(oct, m, 1);
  return m;
}

LvN LvCryptoEp::toN(const LvWord* w) const { return LvN(w, n); }

void LvCryptoEp::setNeutral(LvCryptoEpPoint* P) const {
  longvSetWord(P->X(), n, 1);
  longvSetWord(P->Y(), n, 1);
  longvZeroize(P->Z(), n);
}

void LvCryptoEp::set(LvGroupElem* r, const LvOctet* oct, unsigned int len) const {
  std::unique_ptr<LvGroupElem> t(createNew(oct, len));
  *static_cast<LvCryptoEpPoint*>(r) = *static_cast<LvCryptoEpPoint*>(t.get());
}

void LvCryptoEp::assign(LvGroupElem* r, const LvGroupElem* src) const {
  LvCryptoEpPoint* R = static_cast<LvCryptoEpPoint*>(r);
  if (!src) {
    *R = LvCryptoEpPoint(this);
    return;
  }
  *R = *static_cast<const LvCryptoEpPoint*>(src);
}

LvGroupElem* LvCryptoEp::createNew(const LvOctet* oct, unsigned int len) const {
  if (len == 0)
    LV_THROW(LvArgumentRangeException,
             "Length of input buffer (const LvOctet *oct) must be more than 0.",
             "LvGroupElem* LvCryptoEp::createNew(const LvOctet *oct, unsigned int len) const",
             CEP_GROUP);
  const LvOctet t = oct[0];
  // The type octet is matched by value: 04 plain, 06/07 hybrid (its low bit the
  // parity of y), 02/03 compressed, 00 alone the neutral point; nothing else.
  if (t == 0x04 || t == 0x06 || t == 0x07) {
    if (len != 2 * m + 1)
      LV_THROW(LvArgumentRangeException, "Wrong size of input buffer (const LvOctet *oct).",
               "LvGroupElem* LvCryptoEp::createNew(const LvOctet *oct, unsigned int len) const",
               CEP_GROUP);
    LvN x(oct + 1, m), y(oct + 1 + m, m);
    if (x >= p || y >= p)
      LV_THROW(LvWrongSyntaxException, "Wrong encoging of Elliptic Curve point.",
               "LvGroupElem* LvCryptoEp::createNew(const LvOctet *oct, unsigned int len) const",
               CEP_GROUP);
    if (t != 0x04 && static_cast<int>(y.getLowWord() & 1) != (t & 1))
      LV_THROW(LvWrongSyntaxException, "Wrong encoging of Elliptic Curve point.",
               "LvGroupElem* LvCryptoEp::createNew(const LvOctet *oct, unsigned int len) const",
               CEP_GROUP);
    return new LvCryptoEpPoint(this, x, y);
  }
  if (t == 0x02 || t == 0x03) {
    if (len != m + 1)
      LV_THROW(LvLibNotImplementedException, "Elliptic Curve point compresion is not implemented.",
               "LvGroupElem* LvCryptoEp::createNew(const LvOctet *oct, unsigned int len) const",
               CEP_GROUP);
    LvN x(oct + 1, m);
    if (x >= p)
      LV_THROW(LvWrongSyntaxException, "Wrong encoging of Elliptic Curve point.",
               "LvGroupElem* LvCryptoEp::createNew(const LvOctet *oct, unsigned int len) const",
               CEP_GROUP);
    LvZn xr(x, &p), ar(toN(a.ptr()), &p), br(toN(b.ptr()), &p);
    LvZn rhs = (xr * xr + ar) * xr + br;
    LvZn y(0, &p);
    try {
      y = sqrtModP(rhs);
    } catch (const LvArgumentRangeException&) {
      LV_THROW(LvWrongSyntaxException, "Wrong encoging of Elliptic Curve point.",
               "LvGroupElem* LvCryptoEp::createNew(const LvOctet *oct, unsigned int len) const",
               CEP_GROUP);
    }
    LvN yN = y.getN();
    if (static_cast<int>(yN.getLowWord() & 1) != (t & 1)) yN = negateResidue(y).getN();
    // y = 0 has no partner of the other parity: 03 with it names no point.
    if (static_cast<int>(yN.getLowWord() & 1) != (t & 1))
      LV_THROW(LvWrongSyntaxException, "Wrong encoging of Elliptic Curve point.",
               "LvGroupElem* LvCryptoEp::createNew(const LvOctet *oct, unsigned int len) const",
               CEP_GROUP);
    return new LvCryptoEpPoint(this, x, yN);
  }
  if (t == 0 && len == 1) return new LvCryptoEpPoint(this);
  LV_THROW(LvWrongSyntaxException, "Wrong length of input buffer (const LvOctet *oct).",
           "LvGroupElem* LvCryptoEp::createNew(const LvOctet *oct, unsigned int len) const",
           CEP_GROUP);
}

LvGroupElem* LvCryptoEp::createCopy(const LvGroupElem* src) const {
  if (!src) return new LvCryptoEpPoint(this);
  return new LvCryptoEpPoint(*static_cast<const LvCryptoEpPoint*>(src));
}

void LvCryptoEp::doubleInPlace(LvGroupElem* r) const {
  LvCryptoEpPoint* P = static_cast<LvCryptoEpPoint*>(r);
  P->fixed.reset();
  const SpecialPrimeFieldOps& f = *ops;
  LvWord *X = P->X(), *Y = P->Y(), *Z = P->Z();
  if (f.isZero(Y) || f.isZero(Z)) {
    setNeutral(P);
    return;
  }
  Cells w;
  LvWord *M = w.c[0], *T1 = w.c[1], *T2 = w.c[2], *T3 = w.c[3];
  if (aIsMinus3) {
    f.copy(T1, Z);
    f.sqr(T1);
    f.copy(T2, X);
    f.sub(T2, T1);
    f.copy(T3, X);
    f.add(T3, T1);
    f.mul(T2, T3);
    f.copy(M, T2);
    f.add(M, T2);
    f.add(M, T2);
  } else {
    f.copy(T2, X);
    f.sqr(T2);
    f.copy(M, T2);
    f.add(M, T2);
    f.add(M, T2);
    f.copy(T1, Z);
    f.sqr(T1);
    f.sqr(T1);
    f.mul(T1, a.ptr());
    f.add(M, T1);
  }
  // Z' = 2·Y·Z
  f.copy(T1, Y);
  f.mul(T1, Z);
  f.add(T1, T1);
  f.copy(Z, T1);
  // S = 4·X·Y^2
  f.copy(T2, Y);
  f.sqr(T2);
  f.copy(T3, X);
  f.mul(T3, T2);
  f.add(T3, T3);
  f.add(T3, T3);
  // X' = M^2 - 2S
  f.copy(T1, M);
  f.sqr(T1);
  f.sub(T1, T3);
  f.sub(T1, T3);
  // Y' = M·(S - X') - 8·Y^4
  f.sub(T3, T1);
  f.mul(T3, M);
  f.sqr(T2);
  f.add(T2, T2);
  f.add(T2, T2);
  f.add(T2, T2);
  f.sub(T3, T2);
  f.copy(X, T1);
  f.copy(Y, T3);
}

void LvCryptoEp::addSigned(LvCryptoEpPoint* P1, const LvCryptoEpPoint* P2, bool sub) const {
  P1->fixed.reset();
  const SpecialPrimeFieldOps& f = *ops;
  if (P1 == P2) {
    if (sub) setNeutral(P1);
    else doubleInPlace(P1);
    return;
  }
  LvWord *X1 = P1->X(), *Y1 = P1->Y(), *Z1 = P1->Z();
  const LvWord *X2 = P2->X(), *Y2 = P2->Y(), *Z2 = P2->Z();
  if (f.isZero(Z1)) {
    f.copy(X1, X2);
    f.copy(Y1, Y2);
    if (sub) f.negate(Y1);
    f.copy(Z1, Z2);
    return;
  }
  if (f.isZero(Z2)) return;
  Cells w;
  LvWord *W0 = w.c[0], *W1 = w.c[1], *H = w.c[2], *R = w.c[3];
  f.copy(W0, X2);
  f.copy(W1, Y2);
  if (sub) f.negate(W1);
  const bool z2One = f.isOne(Z2);
  if (!z2One) {
    f.copy(H, Z2);
    f.sqr(H);
    f.mul(X1, H);
    f.mul(H, Z2);
    f.mul(Y1, H);
  }
  f.copy(H, Z1);
  f.sqr(H);
  f.mul(W0, H);  // U2
  f.mul(H, Z1);
  f.mul(W1, H);  // S2
  f.copy(H, X1);
  f.sub(H, W0);  // H = U1 - U2
  f.copy(R, Y1);
  f.sub(R, W1);  // R = S1 - S2
  if (f.isZero(H)) {
    if (f.isZero(R)) {
      f.copy(X1, X2);
      f.copy(Y1, Y2);
      if (sub) f.negate(Y1);
      f.copy(Z1, Z2);
      doubleInPlace(P1);
    } else {
      setNeutral(P1);
    }
    return;
  }
  // T = 2·U1 - H = U1 + U2, M = 2·S1 - R = S1 + S2
  f.copy(W0, X1);
  f.add(W0, X1);
  f.sub(W0, H);
  f.copy(W1, Y1);
  f.add(W1, Y1);
  f.sub(W1, R);
  // Z3 = Z1·Z2·H
  f.mul(Z1, H);
  if (!z2One) f.mul(Z1, Z2);
  // V = T·H^2, H3 = H^3
  f.copy(X1, H);
  f.sqr(X1);
  f.mul(W0, X1);
  f.mul(X1, H);
  // X3 = R^2 - V
  f.copy(Y1, R);
  f.sqr(Y1);
  f.sub(Y1, W0);
  // Y3 = (R·(V - 2·X3) - M·H^3)·half
  f.sub(W0, Y1);
  f.sub(W0, Y1);
  f.mul(W0, R);
  f.mul(W1, X1);
  f.sub(W0, W1);
  f.mul(W0, half.ptr());
  f.copy(X1, Y1);
  f.copy(Y1, W0);
}

void LvCryptoEp::addInPlace(LvGroupElem* r, const LvGroupElem* q) const {
  addSigned(static_cast<LvCryptoEpPoint*>(r), static_cast<const LvCryptoEpPoint*>(q), false);
}

void LvCryptoEp::subtractInPlace(LvGroupElem* r, const LvGroupElem* q) const {
  addSigned(static_cast<LvCryptoEpPoint*>(r), static_cast<const LvCryptoEpPoint*>(q), true);
}

void LvCryptoEp::negateInPlace(LvGroupElem* r) const {
  LvCryptoEpPoint* P = static_cast<LvCryptoEpPoint*>(r);
  P->fixed.reset();
  ops->negate(P->Y());
}

bool LvCryptoEp::isEqual(const LvGroupElem* x, const LvGroupElem* y) const {
  if (x == y) return true;
  std::unique_ptr<LvGroupElem> T(createDifference(x, y));
  return ops->isZero(static_cast<LvCryptoEpPoint*>(T.get())->Z());
}

bool LvCryptoEp::isElement(const LvGroupElem* g) const {
  const LvCryptoEpPoint* P = static_cast<const LvCryptoEpPoint*>(g);
  const SpecialPrimeFieldOps& f = *ops;
  if (f.isZero(P->Z())) return true;
  Cells w;
  LvWord *z2 = w.c[0], *l = w.c[1], *r = w.c[2], *t = w.c[3];
  f.copy(z2, P->Z());
  f.sqr(z2);
  // r = X^3 + a·X·Z^4 + b·Z^6 = X·(X^2 + a·Z^4) + b·Z^6
  f.copy(t, z2);
  f.sqr(t);  // Z^4
  f.copy(r, t);
  f.mul(r, a.ptr());
  f.copy(l, P->X());
  f.sqr(l);
  f.add(r, l);
  f.mul(r, P->X());
  f.mul(t, z2);  // Z^6
  f.mul(t, b.ptr());
  f.add(r, t);
  f.copy(l, P->Y());
  f.sqr(l);
  return f.equal(l, r);
}

void LvCryptoEp::affine(const LvCryptoEpPoint* P, LvWord* x, LvWord* y) const {
  const SpecialPrimeFieldOps& f = *ops;
  Cells w;
  LvWord *zi = w.c[0], *zi2 = w.c[1];
  longvModInverse(zi, P->Z(), p.getWords(), n);
  f.copy(zi2, zi);
  f.sqr(zi2);
  f.copy(w.c[2], P->X());
  f.mul(w.c[2], zi2);
  f.mul(zi2, zi);
  f.copy(w.c[3], P->Y());
  f.mul(w.c[3], zi2);
  std::memcpy(x, w.c[2], n * sizeof(LvWord));
  std::memcpy(y, w.c[3], n * sizeof(LvWord));
}

unsigned int LvCryptoEp::getOctetStringEncodingLen(const LvGroupElem* g) const {
  if (!g)
    LV_THROW(LvNotInitException, "Not initialised element (const LvGroupElem *g).",
             "unsigned int LvCryptoEp::getOctetStringEncodingLen(const LvGroupElem *g) const",
             CEP_GROUP);
  if (ops->isZero(static_cast<const LvCryptoEpPoint*>(g)->Z())) return 1;
  return 2 * m + 1;
}

unsigned int LvCryptoEp::asOctetString(const LvGroupElem* g, LvOctet* oct,
                                       unsigned int len) const {
  if (len == 0) return 0;
  if (!g)
    LV_THROW(LvNotInitException, "Not initialised element (const LvGroupElem *g).",
             "unsigned int LvCryptoEp::asOctetString(const LvGroupElem *g, LvOctet *oct, "
             "unsigned int len) const",
             CEP_GROUP);
  const LvCryptoEpPoint* P = static_cast<const LvCryptoEpPoint*>(g);
  if (ops->isZero(P->Z())) {
    oct[0] = 0;
    return 1;
  }
  if (len <= m) return 0;
  std::vector<LvWord> x(n), y(n);
  affine(P, x.data(), y.data());
  if (len > 2 * m) {
    oct[0] = 0x04;
    toN(x.data()).getOctets(oct + 1, m, 1);
    toN(y.data()).getOctets(oct + 1 + m, m, 1);
    return 2 * m + 1;
  }
  oct[0] = static_cast<LvOctet>(0x02 | (y[0] & 1));
  toN(x.data()).getOctets(oct + 1, m, 1);
  return m + 1;
}

LvConvOS LvCryptoEp::asDhSecret(const LvGroupElem* g) const {
  LvOctMem buf(2 * m + 1);
  unsigned int k = asOctetString(g, buf.ptr(), 2 * m + 1);
  if (k == 1)
    LV_THROW(LvArgumentRangeException, "Neutral point is not allowed as DH secret.",
             "LvConvOS LvCryptoEp::asDhSecret(const LvGroupElem *g) const", CEP_GROUP);
  return LvConvOS(buf.ptr() + 1, m);
}

LvN LvCryptoEp::asLvN(const LvGroupElem* g) const {
  const LvCryptoEpPoint* P = static_cast<const LvCryptoEpPoint*>(g);
  if (ops->isZero(P->Z()))
    LV_THROW(LvDivByZeroException, "Converted element is point at infinity.",
             "LvN LvCryptoEp::asLvN(const LvGroupElem *g) const", CEP_GROUP);
  std::vector<LvWord> x(n), y(n);
  affine(P, x.data(), y.data());
  return toN(x.data());
}

bool LvCryptoEp::xModEquals(const LvGroupElem* a, const LvN& r, const LvN& order) const {
  const LvCryptoEpPoint* P = static_cast<const LvCryptoEpPoint*>(a);
  if (ops->isZero(P->Z())) return false;
  // an order far below p (an explicit domain) would leave many candidates
  if (order.isZero() || order.getBitLength() + 3 < p.getBitLength())
    return LvGroup::xModEquals(a, r, order);
  const SpecialPrimeFieldOps& f = *ops;
  Cells w;
  LvWord *z2 = w.c[0], *t = w.c[1];
  f.copy(z2, P->Z());
  f.sqr(z2);
  for (LvN c = r; c < p; c += order) {
    std::memset(t, 0, n * sizeof(LvWord));
    std::memcpy(t, c.getWords(), c.getUsed() * sizeof(LvWord));
    f.mul(t, z2);
    if (f.equal(t, P->X())) return true;
  }
  return false;
}

// ------------------------------------------------------------------ fast path

namespace {

void pointWords(const LvCryptoEpPoint* P, unsigned int n, std::vector<LvWord>& w) {
  w.resize(3 * n);
  std::memcpy(w.data(), P->X(), n * sizeof(LvWord));
  std::memcpy(w.data() + n, P->Y(), n * sizeof(LvWord));
  std::memcpy(w.data() + 2 * n, P->Z(), n * sizeof(LvWord));
}

void setPointWords(LvCryptoEpPoint* P, unsigned int n, const std::vector<LvWord>& w) {
  std::memcpy(P->X(), w.data(), n * sizeof(LvWord));
  std::memcpy(P->Y(), w.data() + n, n * sizeof(LvWord));
  std::memcpy(P->Z(), w.data() + 2 * n, n * sizeof(LvWord));
}

}  // namespace

void LvCryptoEp::mul(LvGroupElem* r, const LvN& k, const LvGroupElem* src) const {
  const LvCryptoEpPoint* P = static_cast<const LvCryptoEpPoint*>(src);
  LvCryptoEpPoint* R = static_cast<LvCryptoEpPoint*>(r);
  if (!fast) {
    LvGroup::mul(r, k, src);
    return;
  }
  std::vector<LvWord> in, out(3 * n);
  pointWords(P, n, in);
  const lvepfast::FixedBase* table = P->fixed ? P->fixed->use() : nullptr;
  if (table) fast->mulFixed(out.data(), k.getWords(), k.getUsed(), in.data(), table);
  else fast->mul(out.data(), k.getWords(), k.getUsed(), in.data());
  setPointWords(R, n, out);
  R->fixed.reset();
}

void LvCryptoEp::mul2(LvGroupElem* r, const LvN& k1, const LvGroupElem* x, const LvN& k2,
                      const LvGroupElem* y) const {
  if (!fast) {
    LvAbelianGroup::mul2(r, k1, x, k2, y);
    return;
  }
  const LvCryptoEpPoint* P1 = static_cast<const LvCryptoEpPoint*>(x);
  const LvCryptoEpPoint* P2 = static_cast<const LvCryptoEpPoint*>(y);
  bool kSwap = false;
  const lvepfast::FixedBase* t1 = lvepfast::tableOfPair(P1->fixed.get(), P2->fixed.get(), &kSwap);
  if (kSwap) std::swap(P1, P2);
  const LvN& ka = kSwap ? k2 : k1;
  const LvN& kb = kSwap ? k1 : k2;
  std::vector<LvWord> in1, in2, out(3 * n);
  pointWords(P1, n, in1);
  pointWords(P2, n, in2);
  // The six primes' engines are bounded (a field of at most 521 bits): one tick.
  lvnet::tickOrThrow();
  fast->mul2(out.data(), ka.getWords(), ka.getUsed(), in1.data(), t1, kb.getWords(),
             kb.getUsed(), in2.data());
  LvCryptoEpPoint* R = static_cast<LvCryptoEpPoint*>(r);
  setPointWords(R, n, out);
  R->fixed.reset();
}

bool LvCryptoEpPoint::hasTable() const { return fixed && fixed->complete(); }

void LvCryptoEp::precompute(LvGroupElem* g) const {
  LvCryptoEpPoint* P = static_cast<LvCryptoEpPoint*>(g);
  if (!fast) return;
  std::vector<LvWord> in;
  pointWords(P, n, in);
  P->fixed = std::make_shared<lvepfast::FixedTable>(
      fast->makeFixedBase(in.data(), p.getBitLength() + 1));
}

void LvCryptoEp::precomputeInStages(LvGroupElem* g) const {
  LvCryptoEpPoint* P = static_cast<LvCryptoEpPoint*>(g);
  if (!fast) return;
  std::vector<LvWord> in;
  pointWords(P, n, in);
  P->fixed = std::make_shared<lvepfast::FixedTable>(
      fast, fast->fixedBaseInStages(in.data(), p.getBitLength() + 1));
}

std::vector<LvWord> LvCryptoEp::mulSecretX(const LvWord* k, unsigned int kWords, const LvN& order,
                                           const LvGroupElem* g) const {
  if (!fast) return LvGroup::mulSecretX(k, kWords, order, g);
  const LvCryptoEpPoint* P = static_cast<const LvCryptoEpPoint*>(g);
  std::vector<LvWord> in, x(n);
  pointWords(P, n, in);
  fast->mulSecretX(x.data(), k, kWords, order.getBitLength(), in.data(),
                   P->fixed ? P->fixed->use() : nullptr);
  return x;
}
