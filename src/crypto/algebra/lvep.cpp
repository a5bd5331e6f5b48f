// Elliptic curve over a general prime field (see lvep.h).
#include "crypto/algebra/lvep.h"

#include <cstring>
#include <utility>

#include "crypto/algebra/lvepfast.h"
#include "crypto/basic/lvnet.h"

#define EP_GROUP "lvalgebra/lvep/ep_group"
#define EP_ACCESS "lvalgebra/lvep/ep_access"

void lvWordsOf(const LvN& v, LvWord* out, unsigned int n) {
  const LvWord* w = v.getWords();
  const unsigned int used = v.getUsed();
  for (unsigned int i = 0; i < n; i++) out[i] = i < used ? w[i] : 0;
}

// ------------------------------------------------------------------ helpers

bool isSmallPrime(LvWord n) {
  if (n < 2) return false;
  if (n == 2) return true;
  if ((n & 1) == 0) return false;
  if (n < 9) return true;
  for (LvWord d = 3; static_cast<std::uint64_t>(d) * d <= n; d += 2)
    if (n % d == 0) return false;
  return true;
}

LvZn negateResidue(const LvZn& a) {
  LvZn r(0, a.getModulus());
  r -= a;
  return r;
}

namespace {

[[noreturn]] void noRoot() {
  LV_THROW(LvArgumentRangeException, "There is no square root modulo p.",
           "LvZn sqrtModP(const LvZn &c)", EP_GROUP);
}

}  // namespace

LvZn sqrtModP(const LvZn& c) {
  const LvModulus* mod = c.getModulus();
  if (c.isZero()) return c;
  const LvN& p = *mod;
  if (p < 3u || p.isEven()) noRoot();
  if ((p.getLowWord() & 3) == 3) {
    LvZn r = pow(c, (p + 1u) >> 2);
    if (r * r != c) noRoot();
    return r;
  }
  // Euler's criterion first: a non-residue has no root to search for.
  if (jacobi(c.getN(), p) != 1) noRoot();
  LvWord z = 2;
  if (jacobi(LvN(2u, 1), p) != -1) {
    z = 3;
    // A prime p has a small non-residue; the bound ends the search when p is
    // not prime.
    for (;; z += 2) {
      if (z > 0xFFFF) noRoot();
      if (!isSmallPrime(z)) continue;
      if (jacobi(LvN(z, 1), p) == -1) break;
    }
  }
  LvN Q = p - 1u;
  unsigned int S = 0;
  while (Q.isEven()) {
    Q >>= 1;
    S++;
  }
  LvZn cz = pow(LvZn(static_cast<int>(z), mod), Q);
  LvZn r = pow(c, (Q + 1u) >> 1);
  LvZn t = pow(c, Q);
  unsigned int M = S;
  while (t != 1) {
    // least i with t^(2^i) = 1; M strictly falls, so the loop ends
    unsigned int i = 1;
    LvZn t2 = t * t;
    while (t2 != 1) {
      if (++i >= M) noRoot();
      t2 = t2 * t2;
    }
    LvZn bb = cz;
    for (unsigned int j = 0; j + i + 1 < M; j++) bb = bb * bb;
    r *= bb;
    cz = bb * bb;
    t *= cz;
    M = i;
  }
  if (r * r != c) noRoot();
  return r;
}

// ------------------------------------------------------------------ points

LvEpPoint::LvEpPoint(const LvEp* c)
    : LvGroupElem(), curve(c), X(1, &c->p), Y(1, &c->p), Z(0, &c->p) {}

LvEpPoint::LvEpPoint(const LvEp* c, const LvN& x, const LvN& y)
    : LvGroupElem(), curve(c), X(x, &c->p), Y(y, &c->p), Z(1, &c->p) {}

LvEpPoint::LvEpPoint(const LvEp* c, const LvN& x, int bit)
    : LvGroupElem(), curve(c), X(x, &c->p), Y(0, &c->p), Z(1, &c->p) {
  LvZn rhs = (X * X + c->a) * X + c->b;
  try {
    Y = sqrtModP(rhs);
  } catch (const LvArgumentRangeException&) {
    LV_THROW(LvWrongSyntaxException, "Wrong encoging of Elliptic Curve point.",
             "LvGroupElem* LvEp::createNew(const LvOctet *oct, unsigned int len) const", EP_GROUP);
  }
  if (static_cast<int>(Y.getN().getLowWord() & 1) != (bit & 1)) Y = negateResidue(Y);
  // y = 0 has no partner of the other parity: 03 with it names no point.
  if (static_cast<int>(Y.getN().getLowWord() & 1) != (bit & 1))
    LV_THROW(LvWrongSyntaxException, "Wrong encoging of Elliptic Curve point.",
             "LvGroupElem* LvEp::createNew(const LvOctet *oct, unsigned int len) const", EP_GROUP);
}

LvEpPoint::LvEpPoint(const LvEpPoint& P)
    : LvGroupElem(P), curve(P.curve), X(P.X), Y(P.Y), Z(P.Z), fixed() {}

LvEpPoint& LvEpPoint::operator=(const LvEpPoint& P) {
  if (this == &P) return *this;
  curve = P.curve;
  X = P.X;
  Y = P.Y;
  Z = P.Z;
  fixed.reset();
  return *this;
}

LvEpPoint::~LvEpPoint() {}

bool LvEpPoint::operator==(const LvEpPoint& P) const {
  if (!curve || !P.curve)
    LV_THROW(LvNotInitException, "Elliptic Curve not initialised.",
             "bool LvEpPoint::operator ==(const LvEpPoint &P) const", "lvalgebra/lvep/eppoint_eq");
  if (this == &P) return true;
  const bool inf1 = Z.isZero(), inf2 = P.Z.isZero();
  if (inf1 || inf2) return inf1 && inf2;
  // X1·Z2^2 = X2·Z1^2 and Y1·Z2^3 = Y2·Z1^3
  LvZn z1s = Z * Z, z2s = P.Z * P.Z;
  if (X * z2s != P.X * z1s) return false;
  return Y * z2s * P.Z == P.Y * z1s * Z;
}

// ------------------------------------------------------------------ curve

LvEp::LvEp() : p(), half(), a(), b(), aux(), aIsMinus3(false), m(0) {}

LvEp::LvEp(const LvOctet* aOct, unsigned int aLen, const LvOctet* bOct, unsigned int bLen,
           const LvOctet* pOct, unsigned int pLen)
    : p(pOct, pLen, 0, 41), aux(), aIsMinus3(false), m(0) {
  setUp(LvN(aOct, aLen), LvN(bOct, bLen));
}

void LvEp::setUp(const LvN& aN, const LvN& bN) {
  m = p.getOctetLength();
  half = LvZn((LvN(p) + 1u) >> 1, &p);
  a = LvZn(aN, &p);
  b = LvZn(bN, &p);
  aIsMinus3 = p >= LvN(3u, 1) && aN == LvN(p) - 3u;
  fast.reset();
  if (!p.isZero() && !p.isEven()) {
    const unsigned int n = p.getUsed();
    std::vector<LvWord> pw(n), aw(n), bw(n);
    lvWordsOf(p, pw.data(), n);
    lvWordsOf(a.getN(), aw.data(), n);
    lvWordsOf(b.getN(), bw.data(), n);
    fast = std::shared_ptr<const lvepfast::Curve>(
        lvepfast::Curve::create(pw.data(), aw.data(), bw.data(), n).release());
  }
}

LvEp::LvEp(const LvEp& e) : LvAbelianGroup(e), p(e.p), aux(e.aux), aIsMinus3(e.aIsMinus3), m(e.m) {
  // residues over our own modulus, never the source's
  half = LvZn(e.half.getN(), &p);
  a = LvZn(e.a.getN(), &p);
  b = LvZn(e.b.getN(), &p);
  fast = e.fast;
}

LvEp& LvEp::operator=(const LvEp& e) {
  if (this == &e) return *this;
  p = e.p;
  half = LvZn(e.half.getN(), &p);
  a = LvZn(e.a.getN(), &p);
  b = LvZn(e.b.getN(), &p);
  aux = e.aux;
  aIsMinus3 = e.aIsMinus3;
  m = e.m;
  fast = e.fast;
  return *this;
}

LvEp::~LvEp() {}

unsigned int LvEp::getA(LvOctet* oct, unsigned int len) const {
  if (len < m)
    LV_THROW(LvArgumentRangeException, "Too small output buffer (LvOctet *oct).",
             "unsigned int LvEp::getA(LvOctet *oct, unsigned int len) const", EP_ACCESS);
  a.getN().getOctets(oct, m, 1);
  return m;
}

unsigned int LvEp::getB(LvOctet* oct, unsigned int len) const {
  if (len < m)
    LV_THROW(LvArgumentRangeException, "Too small output buffer (LvOctet *oct).",
             "unsigned int LvEp::getB(LvOctet *oct, unsigned int len) const", EP_ACCESS);
  b.getN().getOctets(oct, m, 1);
  return m;
}

void LvEp::set(LvGroupElem* r, const LvOctet* oct, unsigned int len) const {
  std::unique_ptr<LvGroupElem> t(createNew(oct, len));
  *static_cast<LvEpPoint*>(r) = *static_cast<LvEpPoint*>(t.get());
}

void LvEp::assign(LvGroupElem* r, const LvGroupElem* src) const {
  LvEpPoint* R = static_cast<LvEpPoint*>(r);
  if (!src) {
    *R = LvEpPoint(this);
    return;
  }
  *R = *static_cast<const LvEpPoint*>(src);
}

LvGroupElem* LvEp::createNew(const LvOctet* oct, unsigned int len) const {
  if (len == 0)
    LV_THROW(LvArgumentRangeException, "Number of octets (const LvOctet *oct) must be more than 0",
             "LvGroupElem* LvEp::createNew(const LvOctet *oct, unsigned int len) const", EP_GROUP);
  const LvOctet t = oct[0];
  // The type octet is matched by value: 04 plain, 06/07 hybrid (its low bit the
  // parity of y), 02/03 compressed, 00 alone the neutral point; nothing else.
  if (t == 0x04 || t == 0x06 || t == 0x07) {
    if (len != 2 * m + 1)
      LV_THROW(LvArgumentRangeException, "Wrong number of (const LvOctet *oct) octets.",
               "LvGroupElem* LvEp::createNew(const LvOctet *oct, unsigned int len) const",
               EP_GROUP);
    LvN x(oct + 1, m), y(oct + 1 + m, m);
    // coordinates must be field elements, not aliases above p
    if (x >= p || y >= p)
      LV_THROW(LvWrongSyntaxException, "Wrong encoging of Elliptic Curve point.",
               "LvGroupElem* LvEp::createNew(const LvOctet *oct, unsigned int len) const",
               EP_GROUP);
    if (t != 0x04 && static_cast<int>(y.getLowWord() & 1) != (t & 1))
      LV_THROW(LvWrongSyntaxException, "Wrong encoging of Elliptic Curve point.",
               "LvGroupElem* LvEp::createNew(const LvOctet *oct, unsigned int len) const",
               EP_GROUP);
    return new LvEpPoint(this, x, y);
  }
  if (t == 0x02 || t == 0x03) {
    if (len != m + 1)
      LV_THROW(LvArgumentRangeException, "Wrong number of (const LvOctet *oct) octets.",
               "LvGroupElem* LvEp::createNew(const LvOctet *oct, unsigned int len) const",
               EP_GROUP);
    LvN x(oct + 1, m);
    if (x >= p)
      LV_THROW(LvWrongSyntaxException, "Wrong encoging of Elliptic Curve point.",
               "LvGroupElem* LvEp::createNew(const LvOctet *oct, unsigned int len) const",
               EP_GROUP);
    return new LvEpPoint(this, x, t & 1);
  }
  if (t == 0 && len == 1) return new LvEpPoint(this);
  LV_THROW(LvWrongSyntaxException, "Wrong encoging of Elliptic Curve point.",
           "LvGroupElem* LvEp::createNew(const LvOctet *oct, unsigned int len) const", EP_GROUP);
}

LvGroupElem* LvEp::createCopy(const LvGroupElem* src) const {
  if (!src) return new LvEpPoint(this);
  return new LvEpPoint(*static_cast<const LvEpPoint*>(src));
}

void LvEp::doubleInPlace(LvGroupElem* r) const {
  LvEpPoint* P = static_cast<LvEpPoint*>(r);
  P->fixed.reset();
  if (P->Z.isZero()) return;
  if (P->Y.isZero()) {
    P->X = 1;
    P->Y = 1;
    P->Z = 0;
    return;
  }
  LvZn M(0, &p);
  if (aIsMinus3) {
    LvZn z2 = P->Z * P->Z;
    M = 3 * ((P->X - z2) * (P->X + z2));
  } else {
    LvZn z2 = P->Z * P->Z;
    M = 3 * (P->X * P->X) + a * (z2 * z2);
  }
  LvZn y2 = P->Y * P->Y;
  P->Z = 2 * (P->Y * P->Z);
  LvZn S = 4 * (P->X * y2);
  LvZn X3 = M * M - 2 * S;
  P->Y = M * (S - X3) - 8 * (y2 * y2);
  P->X = X3;
}

void LvEp::addSigned(LvEpPoint* P1, const LvEpPoint* P2, bool sub) const {
  // a table of multiples describes the old value only
  P1->fixed.reset();
  if (P2->Z.isZero()) return;
  if (P1->Z.isZero()) {
    *P1 = *P2;
    if (sub) P1->Y = negateResidue(P1->Y);
    return;
  }
  if (P1 == P2) {
    if (sub) {
      P1->X = 1;
      P1->Y = 1;
      P1->Z = 0;
    } else {
      doubleInPlace(P1);
    }
    return;
  }
  const LvZn Y2 = sub ? negateResidue(P2->Y) : P2->Y;
  const bool z2One = P2->Z == 1;
  LvZn U1 = P1->X, S1 = P1->Y;
  if (!z2One) {
    LvZn z2s = P2->Z * P2->Z;
    U1 = P1->X * z2s;
    S1 = P1->Y * (z2s * P2->Z);
  }
  LvZn z1s = P1->Z * P1->Z;
  LvZn U2 = P2->X * z1s;
  LvZn S2 = Y2 * (z1s * P1->Z);
  LvZn W = U1 - U2, R = S1 - S2;
  if (W.isZero()) {
    if (R.isZero()) {
      P1->X = P2->X;
      P1->Y = Y2;
      P1->Z = P2->Z;
      doubleInPlace(P1);
    } else {
      P1->X = 1;
      P1->Y = 1;
      P1->Z = 0;
    }
    return;
  }
  LvZn T = 2 * U1 - W, Mm = 2 * S1 - R;
  LvZn Z3 = P1->Z * W;
  if (!z2One) Z3 = Z3 * P2->Z;
  LvZn W2 = W * W;
  LvZn V = T * W2;
  LvZn X3 = R * R - V;
  LvZn Y3 = (R * (V - 2 * X3) - Mm * (W2 * W)) * half;
  P1->X = X3;
  P1->Y = Y3;
  P1->Z = Z3;
}

void LvEp::addInPlace(LvGroupElem* r, const LvGroupElem* q) const {
  addSigned(static_cast<LvEpPoint*>(r), static_cast<const LvEpPoint*>(q), false);
}

void LvEp::subtractInPlace(LvGroupElem* r, const LvGroupElem* q) const {
  addSigned(static_cast<LvEpPoint*>(r), static_cast<const LvEpPoint*>(q), true);
}

void LvEp::negateInPlace(LvGroupElem* r) const {
  LvEpPoint* P = static_cast<LvEpPoint*>(r);
  P->fixed.reset();
  P->Y = negateResidue(P->Y);
}

bool LvEp::isEqual(const LvGroupElem* x, const LvGroupElem* y) const {
  if (x == y) return true;
  return *static_cast<const LvEpPoint*>(x) == *static_cast<const LvEpPoint*>(y);
}

bool LvEp::isElement(const LvGroupElem* g) const {
  const LvEpPoint* P = static_cast<const LvEpPoint*>(g);
  if (P->Z.isZero()) return true;
  LvZn z2 = P->Z * P->Z;
  LvZn z4 = z2 * z2;
  LvZn z6 = z4 * z2;
  LvZn lhs = P->Y * P->Y;
  LvZn rhs = P->X * P->X * P->X + a * P->X * z4 + b * z6;
  return lhs == rhs;
}

void LvEp::affine(const LvEpPoint* P, LvN& x, LvN& y) const {
  LvZn zi = 1 / P->Z;
  LvZn zi2 = zi * zi;
  x = (P->X * zi2).getN();
  y = (P->Y * zi2 * zi).getN();
}

unsigned int LvEp::getOctetStringEncodingLen(const LvGroupElem* g) const {
  if (!g)
    LV_THROW(LvNotInitException, "Uninitialised element (const LvGroupElem *g).",
             "unsigned int LvEp::getOctetStringEncodingLen(const LvGroupElem *g) const", EP_GROUP);
  if (static_cast<const LvEpPoint*>(g)->Z.isZero()) return 1;
  return 2 * m + 1;
}

unsigned int LvEp::asOctetString(const LvGroupElem* g, LvOctet* oct, unsigned int len) const {
  if (len == 0) return 0;
  if (!g)
    LV_THROW(LvNotInitException, "Uninitialised element (const LvGroupElem *g).",
             "unsigned int LvEp::asOctetString(const LvGroupElem *g, LvOctet *oct, unsigned int "
             "len) const",
             EP_GROUP);
  const LvEpPoint* P = static_cast<const LvEpPoint*>(g);
  if (P->Z.isZero()) {
    oct[0] = 0;
    return 1;
  }
  if (len <= m) return 0;
  LvN x, y;
  affine(P, x, y);
  if (len > 2 * m) {
    oct[0] = 0x04;
    x.getOctets(oct + 1, m, 1);
    y.getOctets(oct + 1 + m, m, 1);
    return 2 * m + 1;
  }
  oct[0] = static_cast<LvOctet>(0x02 | (y.getLowWord() & 1));
  x.getOctets(oct + 1, m, 1);
  return m + 1;
}

LvConvOS LvEp::asDhSecret(const LvGroupElem* g) const {
  LvOctMem buf(2 * m + 1);
  unsigned int n = asOctetString(g, buf.ptr(), 2 * m + 1);
  if (n == 1)
    LV_THROW(LvArgumentRangeException, "Neutral point as DH secret is not allowed.",
             "LvConvOS LvEp::asDhSecret(const LvGroupElem *g) const", EP_GROUP);
  return LvConvOS(buf.ptr() + 1, m);
}

LvN LvEp::asLvN(const LvGroupElem* g) const {
  const LvEpPoint* P = static_cast<const LvEpPoint*>(g);
  if (P->Z.isZero())
    LV_THROW(LvDivByZeroException, "Converted elementi is point at infinity.",
             "LvN LvEp::asLvN(const LvGroupElem *g) const", EP_GROUP);
  LvZn zi = 1 / (P->Z * P->Z);
  return (P->X * zi).getN();
}

bool LvEp::xModEquals(const LvGroupElem* a, const LvN& r, const LvN& order) const {
  const LvEpPoint* P = static_cast<const LvEpPoint*>(a);
  if (P->Z.isZero()) return false;
  // an order far below p (an explicit domain) would leave many candidates
  if (order.isZero() || order.getBitLength() + 3 < p.getBitLength())
    return LvGroup::xModEquals(a, r, order);
  const LvZn z2 = P->Z * P->Z;
  for (LvN c = r; c < p; c += order)
    if (LvZn(c, &p) * z2 == P->X) return true;
  return false;
}

// ------------------------------------------------------------------ fast path

void LvEp::toWords(const LvEpPoint* P, std::vector<LvWord>& w) const {
  const unsigned int n = p.getUsed();
  w.assign(3 * n, 0);
  lvWordsOf(P->X.getN(), w.data(), n);
  lvWordsOf(P->Y.getN(), w.data() + n, n);
  lvWordsOf(P->Z.getN(), w.data() + 2 * n, n);
}

void LvEp::fromWords(LvEpPoint* P, const std::vector<LvWord>& w) const {
  const unsigned int n = p.getUsed();
  LvEpPoint t(this);
  t.X = LvZn(w.data(), n, &p);
  t.Y = LvZn(w.data() + n, n, &p);
  t.Z = LvZn(w.data() + 2 * n, n, &p);
  *P = t;
}

void LvEp::mul(LvGroupElem* r, const LvN& k, const LvGroupElem* src) const {
  if (!fast) {
    LvGroup::mul(r, k, src);
    return;
  }
  const LvEpPoint* P = static_cast<const LvEpPoint*>(src);
  std::vector<LvWord> in, out;
  toWords(P, in);
  out.resize(in.size());
  const lvepfast::FixedBase* table = P->fixed ? P->fixed->use() : nullptr;
  if (table) fast->mulFixed(out.data(), k.getWords(), k.getUsed(), in.data(), table);
  else fast->mul(out.data(), k.getWords(), k.getUsed(), in.data());
  fromWords(static_cast<LvEpPoint*>(r), out);
}

void LvEp::mul2(LvGroupElem* r, const LvN& k1, const LvGroupElem* x, const LvN& k2,
                const LvGroupElem* y) const {
  if (!fast) {
    LvAbelianGroup::mul2(r, k1, x, k2, y);
    return;
  }
  const LvEpPoint* P1 = static_cast<const LvEpPoint*>(x);
  const LvEpPoint* P2 = static_cast<const LvEpPoint*>(y);
  bool kSwap = false;
  const lvepfast::FixedBase* t1 = lvepfast::tableOfPair(P1->fixed.get(), P2->fixed.get(), &kSwap);
  if (kSwap) std::swap(P1, P2);
  const LvN& ka = kSwap ? k2 : k1;
  const LvN& kb = kSwap ? k1 : k2;
  std::vector<LvWord> in1, in2, out;
  toWords(P1, in1);
  toWords(P2, in2);
  out.resize(in1.size());
  // The fixed curves' engine is bounded (a field of at most 521 bits): one tick.
  lvnet::tickOrThrow();
  fast->mul2(out.data(), ka.getWords(), ka.getUsed(), in1.data(), t1, kb.getWords(),
             kb.getUsed(), in2.data());
  fromWords(static_cast<LvEpPoint*>(r), out);
}

void LvEp::precompute(LvGroupElem* g) const {
  LvEpPoint* P = static_cast<LvEpPoint*>(g);
  if (!fast) return;
  std::vector<LvWord> in;
  toWords(P, in);
  // scalars up to the order's size; the order of a curve point is at most
  // p + 1 + 2·sqrt(p), one bit above p
  P->fixed = std::make_shared<lvepfast::FixedTable>(
      fast->makeFixedBase(in.data(), p.getBitLength() + 1));
}

void LvEp::precomputeInStages(LvGroupElem* g) const {
  LvEpPoint* P = static_cast<LvEpPoint*>(g);
  if (!fast) return;
  std::vector<LvWord> in;
  toWords(P, in);
  P->fixed = std::make_shared<lvepfast::FixedTable>(
      fast, fast->fixedBaseInStages(in.data(), p.getBitLength() + 1));
}

std::vector<LvWord> LvEp::mulSecretX(const LvWord* k, unsigned int kWords, const LvN& order,
                                     const LvGroupElem* g) const {
  if (!fast) return LvGroup::mulSecretX(k, kWords, order, g);
  const LvEpPoint* P = static_cast<const LvEpPoint*>(g);
  std::vector<LvWord> in, x(p.getUsed());
  toWords(P, in);
  fast->mulSecretX(x.data(), k, kWords, order.getBitLength(), in.data(),
                   P->fixed ? P->fixed->use() : nullptr);
  return x;
}
