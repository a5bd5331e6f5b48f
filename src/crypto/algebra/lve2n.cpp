// The group of points of y² + x·y = x³ + a·x² + b over GF(2^m) in affine
// coordinates. The point formulas run in the points' own work elements.
#include "crypto/algebra/lve2n.h"

#include "crypto/algebra/lve2nladder.h"
#include "crypto/algebra/lvgf2nclmul.h"
#include "crypto/basic/lvnet.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#define E2N_SRC "lvalgebra/lve2n/e2n_group"

namespace {

// The m-bit coordinate in `octets` big-endian octets has no bit at m or above.
bool coordinateInRange(const LvOctet* p, unsigned int octets, unsigned int m) {
  const unsigned int excess = 8 * octets - m;
  return excess == 0 || (p[0] >> (8 - excess)) == 0;
}

const LvE2nPoint* pointOf(const LvGroupElem* g) { return static_cast<const LvE2nPoint*>(g); }
LvE2nPoint* pointOf(LvGroupElem* g) { return static_cast<LvE2nPoint*>(g); }

// Carry-less 32 x 32 -> 64-bit product by integer multiplications whose
// partial sums are kept apart by holes of three bits (no table, no branch).
inline std::uint64_t clmul32(LvWord x, LvWord y) {
  const std::uint64_t x0 = x & 0x11111111u, x1 = x & 0x22222222u, x2 = x & 0x44444444u,
                      x3 = x & 0x88888888u;
  const std::uint64_t y0 = y & 0x11111111u, y1 = y & 0x22222222u, y2 = y & 0x44444444u,
                      y3 = y & 0x88888888u;
  std::uint64_t z0 = (x0 * y0) ^ (x1 * y3) ^ (x2 * y2) ^ (x3 * y1);
  std::uint64_t z1 = (x0 * y1) ^ (x1 * y0) ^ (x2 * y3) ^ (x3 * y2);
  std::uint64_t z2 = (x0 * y2) ^ (x1 * y1) ^ (x2 * y0) ^ (x3 * y3);
  std::uint64_t z3 = (x0 * y3) ^ (x1 * y2) ^ (x2 * y1) ^ (x3 * y0);
  z0 &= 0x1111111111111111ull;
  z1 &= 0x2222222222222222ull;
  z2 &= 0x4444444444444444ull;
  z3 &= 0x8888888888888888ull;
  return z0 | z1 | z2 | z3;
}

// Bits of a 16-bit value spread to the even positions (squaring).
inline LvWord spreadBits(LvWord v) {
  v &= 0xFFFFu;
  v = (v | (v << 8)) & 0x00FF00FFu;
  v = (v | (v << 4)) & 0x0F0F0F0Fu;
  v = (v | (v << 2)) & 0x33333333u;
  v = (v | (v << 1)) & 0x55555555u;
  return v;
}

// GF(2^m) arithmetic for secret values: the same work for every value.
class CtBinaryField {
 public:
  typedef std::vector<LvWord> Elem;
  // Words of a double-length product (m <= 1024).
  static constexpr unsigned int kWide = 2 * (LvGF2nField::kMaxDegree / 32 + 1) + 1;
  explicit CtBinaryField(const LvGF2nField& f)
      : m(f.getDegree()),
        n(f.getWords()),
        wordTerms(f.getReductionTerms(), f.getReductionTerms() + f.getReductionTermCount()) {
    for (unsigned int k = 0;; k++) {
      const unsigned int t = f.getTermPosition(k);
      if (t >= m) break;
      terms.push_back(t);
    }
  }
  Elem zero() const { return Elem(n, 0); }
  Elem one() const {
    Elem e(n, 0);
    e[0] = 1;
    return e;
  }
  static void wipe(Elem& e) { lvWipe(e.data(), e.size() * sizeof(LvWord)); }
  void mul(Elem& r, const Elem& a, const Elem& b) const {
    LvWord c[kWide] = {0};
    for (unsigned int i = 0; i < n; i++)
      for (unsigned int j = 0; j < n; j++) {
        const std::uint64_t p = clmul32(a[i], b[j]);
        c[i + j] ^= static_cast<LvWord>(p);
        c[i + j + 1] ^= static_cast<LvWord>(p >> 32);
      }
    reduce(r, c);
  }
  void sqr(Elem& r, const Elem& a) const {
    LvWord c[kWide] = {0};
    for (unsigned int i = 0; i < n; i++) {
      c[2 * i] = spreadBits(a[i]);
      c[2 * i + 1] = spreadBits(a[i] >> 16);
    }
    reduce(r, c);
  }
  static void add(Elem& r, const Elem& a, const Elem& b) {
    for (std::size_t i = 0; i < r.size(); i++) r[i] = a[i] ^ b[i];
  }
  static void cswap(Elem& a, Elem& b, LvWord mask) {
    for (std::size_t i = 0; i < a.size(); i++) {
      const LvWord t = mask & (a[i] ^ b[i]);
      a[i] ^= t;
      b[i] ^= t;
    }
  }
 private:
  // c (degree below 2m) modulo f, bit by bit from the top through f's terms
  // (public positions), without looking at the bits' values.
  void reduce(Elem& r, LvWord* c) const {
    if (!wordTerms.empty()) {
      // word by word, as the field's own kernel does (every fold lands below
      // the word it comes from), but without skipping zero words
      const unsigned int W = m / 32, off = m % 32;
      for (unsigned int i = 2 * n; i > W; i--) {
        const LvWord t = c[i];
        c[i] = 0;
        for (unsigned int term : wordTerms) {
          const unsigned int pos = 32 * i - m + term;
          const unsigned int wi = pos / 32, sh = pos % 32;
          c[wi] ^= t << sh;
          // a shift by 32 would be undefined: sh = 0 adds nothing there
          c[wi + 1] ^= (t >> (31 - sh)) >> 1;
        }
      }
      const LvWord t = c[W] >> off;
      c[W] &= (static_cast<LvWord>(1) << off) - 1;
      for (unsigned int term : wordTerms) {
        const unsigned int wi = term / 32, sh = term % 32;
        c[wi] ^= t << sh;
        c[wi + 1] ^= (t >> (31 - sh)) >> 1;
      }
      for (unsigned int i = 0; i < n; i++) r[i] = c[i];
      lvWipe(c, kWide * sizeof(LvWord));
      return;
    }
    for (unsigned int i = 2 * m - 1; i >= m; i--) {
      const LvWord bit = (c[i / 32] >> (i % 32)) & 1u;
      c[i / 32] &= ~(static_cast<LvWord>(1) << (i % 32));
      for (unsigned int t : terms) {
        const unsigned int pos = i - m + t;
        c[pos / 32] ^= bit << (pos % 32);
      }
    }
    for (unsigned int i = 0; i < n; i++) r[i] = c[i];
    lvWipe(c, kWide * sizeof(LvWord));
  }
  unsigned int m, n;
  std::vector<unsigned int> terms;
  std::vector<unsigned int> wordTerms;
};

}  // namespace

// ------------------------------------------------------------------ LvE2nPoint

LvE2nPoint::LvE2nPoint(const LvE2n* c)
    : curve(c),
      x(&c->getField()),
      y(&c->getField()),
      infinity(1),
      w1(&c->getField()),
      w2(&c->getField()),
      w3(&c->getField()) {}

LvE2nPoint::LvE2nPoint(const LvE2nPoint& P)
    : LvGroupElem(P), curve(P.curve), x(P.x), y(P.y), infinity(P.infinity), w1(P.w1), w2(P.w2),
      w3(P.w3) {}

LvE2nPoint& LvE2nPoint::operator=(const LvE2nPoint& P) {
  if (this == &P) return *this;
  if (curve != P.curve) {
    // work elements follow the point to its new field
    w1 = P.w1;
    w2 = P.w2;
    w3 = P.w3;
  }
  curve = P.curve;
  x = P.x;
  y = P.y;
  infinity = P.infinity;
  return *this;
}

LvE2nPoint::~LvE2nPoint() {}

// ------------------------------------------------------------------ LvE2n

LvE2n::LvE2n() : field(), a(), b(), aux(0u, 1) {}

LvE2n::LvE2n(const LvOctet* aOct, unsigned int aLen, const LvOctet* bOct, unsigned int bLen,
             const LvOctet* f, unsigned int fLen)
    : field(f, fLen), a(&field), b(&field), aux(0u, 1) {
  const unsigned int mo = getFieldOctets();
  // Coefficients are field elements: more significant octets or bits than
  // the field has are refused rather than cut off.
  auto fits = [&](const LvOctet* o, unsigned int len) {
    while (len > mo) {
      if (*o != 0) return false;
      o++;
      len--;
    }
    return len < mo || coordinateInRange(o, mo, field.getDegree());
  };
  if (!fits(aOct, aLen) || !fits(bOct, bLen))
    LV_THROW(LvArgumentRangeException, "Curve coefficient is not an element of the field.",
             "LvE2n::LvE2n(const LvOctet *a, unsigned int aLen, const LvOctet *b, unsigned int "
             "bLen, const LvOctet *f, unsigned int fLen)",
             E2N_SRC);
  a.set(aOct, aLen);
  b.set(bOct, bLen);
}

LvE2n::LvE2n(const LvE2n& e)
    : LvAbelianGroup(e), field(e.field), a(&field), b(&field), aux(e.aux) {
  if (field.isEmpty()) return;  // an empty curve has no coefficients to copy
  a.setWords(e.a.getValue(), e.a.getWords());
  b.setWords(e.b.getValue(), e.b.getWords());
}

LvE2n& LvE2n::operator=(const LvE2n& e) {
  if (this == &e) return *this;
  field = e.field;
  a.setField(&field);
  b.setField(&field);
  if (!field.isEmpty()) {
    a.setWords(e.a.getValue(), e.a.getWords());
    b.setWords(e.b.getValue(), e.b.getWords());
  }
  aux = e.aux;
  return *this;
}

LvE2n::~LvE2n() {}

void LvE2n::makeNeutral(LvE2nPoint* P) const {
  P->infinity = 1;
  P->x.setZero();
  P->y.setZero();
}

void LvE2n::set(LvGroupElem* r, const LvOctet* oct, unsigned int len) const {
  LvGroupElem* t = createNew(oct, len);
  *pointOf(r) = *pointOf(t);
  delete t;
}

void LvE2n::assign(LvGroupElem* r, const LvGroupElem* src) const {
  LvE2nPoint* R = pointOf(r);
  if (src == nullptr) {
    if (R->curve != this) *R = LvE2nPoint(this);
    makeNeutral(R);
    return;
  }
  *R = *pointOf(src);
}

LvGroupElem* LvE2n::createNew(const LvOctet* oct, unsigned int len) const {
  if (field.isEmpty())
    LV_THROW(LvNotInitException, "Uninitialised field.",
             "LvGroupElem* LvE2n::createNew(const LvOctet *oct, unsigned int len) const", E2N_SRC);
  LvE2nPoint* P = new LvE2nPoint(this);
  try {
    if (len == 0)
      LV_THROW(LvArgumentRangeException,
               "Length of input buffer (const LvOctet *oct) must be more than 0.",
               "LvGroupElem* LvE2n::createNew(const LvOctet *oct, unsigned int len) const",
               E2N_SRC);
    const unsigned int mo = getFieldOctets();
    const unsigned int m = field.getDegree();
    const LvOctet t = oct[0];
    if (t == 0x04 || t == 0x06 || t == 0x07) {
      if (len != 2 * mo + 1)
        LV_THROW(LvArgumentRangeException, "Wrong size of input buffer (const LvOctet *oct).",
                 "LvGroupElem* LvE2n::createNew(const LvOctet *oct, unsigned int len) const",
                 E2N_SRC);
      if (!coordinateInRange(oct + 1, mo, m) || !coordinateInRange(oct + 1 + mo, mo, m))
        LV_THROW(LvWrongSyntaxException, "Wrong syntax of Elliptic Curve point.",
                 "LvGroupElem* LvE2n::createNew(const LvOctet *oct, unsigned int len) const",
                 E2N_SRC);
      P->x.set(oct + 1, mo);
      P->y.set(oct + 1 + mo, mo);
      P->infinity = 0;
      if (t != 0x04) {
        // hybrid form: the parity bit must agree with y/x
        unsigned int bit = 0;
        if (!P->x.isZero()) {
          P->w1.setQuotient(P->y, P->x);
          bit = P->w1.lowBit();
        }
        if (bit != (t & 1u))
          LV_THROW(LvWrongSyntaxException, "Wrong syntax of Elliptic Curve point.",
                   "LvGroupElem* LvE2n::createNew(const LvOctet *oct, unsigned int len) const",
                   E2N_SRC);
      }
    } else if (t == 0x02 || t == 0x03) {
      if (len != mo + 1)
        LV_THROW(LvArgumentRangeException, "Wrong size of input buffer (const LvOctet *oct).",
                 "LvGroupElem* LvE2n::createNew(const LvOctet *oct, unsigned int len) const",
                 E2N_SRC);
      if (!coordinateInRange(oct + 1, mo, m))
        LV_THROW(LvWrongSyntaxException, "Wrong syntax of Elliptic Curve point.",
                 "LvGroupElem* LvE2n::createNew(const LvOctet *oct, unsigned int len) const",
                 E2N_SRC);
      P->x.set(oct + 1, mo);
      P->infinity = 0;
      if (P->x.isZero())
        LV_THROW(LvLibNotImplementedException, "Point is not on the Elliptic Curve.",
                 "LvGroupElem* LvE2n::createNew(const LvOctet *oct, unsigned int len) const",
                 E2N_SRC);
      // c = (x + a)·x² + b
      LvGF2n& c = P->w1;
      c = P->x;
      c += a;
      P->w2.setSquare(P->x);
      c *= P->w2;
      c += b;
      LvGF2n& y1 = P->w2;
      LvGF2n& y2 = P->w3;
      if (solve(P->x, c, y1, y2) == 0)
        // no root: x is not the abscissa of a point of this curve
        LV_THROW(LvWrongSyntaxException, "Point is not on the Elliptic Curve.",
                 "LvGroupElem* LvE2n::createNew(const LvOctet *oct, unsigned int len) const",
                 E2N_SRC);
      c.setQuotient(y1, P->x);
      P->y = c.lowBit() == (t & 1u) ? y1 : y2;
    } else if (t == 0 && len == 1) {
      // neutral point, as created
    } else {
      LV_THROW(LvWrongSyntaxException, "Wrong syntax of Elliptic Curve point.",
               "LvGroupElem* LvE2n::createNew(const LvOctet *oct, unsigned int len) const",
               E2N_SRC);
    }
  } catch (...) {
    delete P;
    throw;
  }
  return P;
}

LvGroupElem* LvE2n::createCopy(const LvGroupElem* src) const {
  if (src == nullptr) return new LvE2nPoint(this);
  return new LvE2nPoint(*pointOf(src));
}

void LvE2n::addInPlace(LvGroupElem* r, const LvGroupElem* q) const {
  LvE2nPoint* P1 = pointOf(r);
  const LvE2nPoint* P2 = pointOf(q);
  if (P2->isInfinity()) return;
  if (P1->isInfinity()) {
    *P1 = *P2;
    return;
  }
  if (P1 == P2 || isEqual(P1, P2)) {
    doubleInPlace(P1);
    return;
  }
  if (P1->x == P2->x) {  // P2 = -P1
    makeNeutral(P1);
    return;
  }
  LvGF2n& s = P1->w1;  // x1 + x2
  LvGF2n& l = P1->w2;  // lambda
  LvGF2n& x3 = P1->w3;
  s = P1->x;
  s += P2->x;
  l = P1->y;
  l += P2->y;
  l /= s;
  x3.setSquare(l);
  x3 += l;
  x3 += s;
  x3 += a;
  finishStep(P1, l, x3, s);
}

void LvE2n::finishStep(LvE2nPoint* P, const LvGF2n& l, const LvGF2n& x3, LvGF2n& t) const {
  // y3 = lambda·(x1 + x3) + x3 + y1
  t = P->x;
  t += x3;
  t *= l;
  t += x3;
  P->y += t;
  P->x = x3;
}

void LvE2n::doubleInPlace(LvGroupElem* r) const {
  LvE2nPoint* P = pointOf(r);
  if (P->isInfinity()) return;
  if (P->x.isZero()) {
    makeNeutral(P);
    return;
  }
  LvGF2n& l = P->w1;
  LvGF2n& x3 = P->w2;
  LvGF2n& t = P->w3;
  l.setQuotient(P->y, P->x);
  l += P->x;
  x3.setSquare(l);
  x3 += l;
  x3 += a;
  finishStep(P, l, x3, t);
}

// ------------------------------------------------------------------ Lopez-Dahab

namespace {

// (X, Y, Z) stands for the affine (X/Z, Y/Z²); `inf` marks the neutral point.
class LdWalk {
 public:
  LdWalk(const LvGF2nField* f, const LvGF2n& a, const LvGF2n& b)
      : X(f), Y(f), Z(f), t1(f), t2(f), tA(f), tB(f), tC(f), a(&a), b(&b), inf(true),
        aZero(a.isZero()), aOne(a.isOne()) {}

  void setAffine(const LvGF2n& x, const LvGF2n& y) {
    X = x;
    Y = y;
    Z.setOne();
    inf = false;
  }

  void twice() {
    if (inf) return;
    if (X.isZero()) {  // a point of order 2
      inf = true;
      return;
    }
    // Z3 = X²Z², X3 = X⁴ + bZ⁴, Y3 = bZ⁴·Z3 + X3·(a·Z3 + Y² + bZ⁴)
    t1.setSquare(X);
    t2.setSquare(Z);
    Z.setProduct(t1, t2);
    tA.setSquare(t2);
    tA *= *b;
    X.setSquare(t1);
    X += tA;
    tB.setSquare(Y);
    tB += tA;
    addA(tB, Z);
    tB *= X;
    Y.setProduct(tA, Z);
    Y += tB;
  }

  // += the affine point (x2, y2).
  void addAffine(const LvGF2n& x2, const LvGF2n& y2) {
    if (inf) {
      setAffine(x2, y2);
      return;
    }
    // A = Y + y2·Z², B = X + x2·Z, C = Z·B
    t1.setSquare(Z);
    tA.setProduct(y2, t1);
    tA += Y;
    tB.setProduct(x2, Z);
    tB += X;
    if (tB.isZero()) {
      if (tA.isZero()) {
        setAffine(x2, y2);
        twice();
      } else {
        inf = true;
      }
      return;
    }
    tC.setProduct(Z, tB);
    Z.setSquare(tC);
    // X3 = A² + C·(A + B² + a·C)
    t1.setSquare(tB);
    t1 += tA;
    addA(t1, tC);
    t1 *= tC;
    X.setSquare(tA);
    X += t1;
    // Y3 = A·C·(x2·Z3 + X3) + X3·Z3 + y2·Z3²
    t1.setProduct(tA, tC);
    t2.setProduct(x2, Z);
    t2 += X;
    t1 *= t2;
    t2.setProduct(X, Z);
    t1 += t2;
    t2.setSquare(Z);
    t2 *= y2;
    t1 += t2;
    Y = t1;
  }

  bool isNeutral() const { return inf; }
  const LvGF2n& getX() const { return X; }
  const LvGF2n& getY() const { return Y; }
  const LvGF2n& getZ() const { return Z; }

  // The affine coordinates; false (and nothing written) for the neutral point.
  bool toAffine(LvGF2n& x, LvGF2n& y) {
    if (inf) return false;
    t1 = Z;
    t1.invert();
    x.setProduct(X, t1);
    t1.square();
    y.setProduct(Y, t1);
    return true;
  }

 private:
  // t += a·z
  void addA(LvGF2n& t, const LvGF2n& z) {
    if (aZero) return;
    if (aOne) {
      t += z;
      return;
    }
    t2.setProduct(*a, z);
    t += t2;
  }

  LvGF2n X, Y, Z, t1, t2, tA, tB, tC;
  // pointers, so that walks can be copied into a table
  const LvGF2n* a;
  const LvGF2n* b;
  bool inf;
  bool aZero, aOne;
};

// Multiples of public points for the walks, affine.
struct AffineTable {
  std::vector<LvGF2n> x, y;
  std::vector<char> neutral;
};

// The walks' points made affine with one inversion for all (Montgomery's
// trick: the inverse of the product, then each inverse from the prefix
// products).
AffineTable affineAll(const std::vector<LdWalk>& w, const LvGF2nField* f) {
  AffineTable t;
  const std::size_t count = w.size();
  t.x.assign(count, LvGF2n(f));
  t.y.assign(count, LvGF2n(f));
  t.neutral.assign(count, 1);
  std::vector<LvGF2n> prefix(count, LvGF2n(f));
  LvGF2n acc(f), inv(f), zi(f);
  acc.setOne();
  for (std::size_t i = 0; i < count; i++) {
    prefix[i] = acc;  // the product of the earlier Z
    if (w[i].isNeutral()) continue;
    acc *= w[i].getZ();
  }
  inv = acc;
  inv.invert();
  for (std::size_t i = count; i-- > 0;) {
    if (w[i].isNeutral()) continue;
    zi.setProduct(inv, prefix[i]);  // 1 / Z_i
    inv *= w[i].getZ();
    t.x[i].setProduct(w[i].getX(), zi);
    zi.square();
    t.y[i].setProduct(w[i].getY(), zi);
    t.neutral[i] = 0;
  }
  return t;
}

// The w-bit digit j of k (w divides 32).
unsigned int digitOf(const LvN& k, unsigned int j, unsigned int w) {
  const unsigned int bit = j * w;
  if (bit / 32 >= k.getUsed()) return 0;
  return (k.getWords()[bit / 32] >> (bit % 32)) & ((1u << w) - 1);
}

}  // namespace

void LvE2n::mul(LvGroupElem* r, const LvN& k, const LvGroupElem* g) const {
  const LvE2nPoint* P = pointOf(g);
  LvE2nPoint* R = pointOf(r);
  if (field.isEmpty() || P->isInfinity() || k.isZero()) {
    assign(r, nullptr);
    return;
  }
  // table[i] = i·P
  const unsigned int w = 4;
  std::vector<LdWalk> multiples(1u << w, LdWalk(&field, a, b));
  for (unsigned int i = 1; i < multiples.size(); i++) {
    multiples[i] = multiples[i - 1];
    multiples[i].addAffine(P->x, P->y);
  }
  const AffineTable table = affineAll(multiples, &field);
  LdWalk walk(&field, a, b);
  const unsigned int digits = (k.getBitLength() + w - 1) / w;
  for (unsigned int j = digits; j-- > 0;) {
    lvnet::tickOrThrow();
    for (unsigned int i = 0; i < w; i++) walk.twice();
    const unsigned int d = digitOf(k, j, w);
    if (d && !table.neutral[d]) walk.addAffine(table.x[d], table.y[d]);
  }
  assign(r, nullptr);
  if (walk.toAffine(R->x, R->y)) R->infinity = 0;
}

void LvE2n::mul2(LvGroupElem* r, const LvN& k1, const LvGroupElem* g1, const LvN& k2,
                 const LvGroupElem* g2) const {
  if (field.isEmpty()) {
    assign(r, nullptr);
    return;
  }
  // table[4i + j] = i·P + j·Q
  const unsigned int w = 2, M = 1u << w;
  const LvE2nPoint* P = pointOf(g1);
  const LvE2nPoint* Q = pointOf(g2);
  std::vector<LdWalk> sums(M * M, LdWalk(&field, a, b));
  for (unsigned int i = 0; i < M; i++) {
    for (unsigned int j = 0; j < M; j++) {
      if (i == 0 && j == 0) continue;
      const bool addP = i > 0;
      sums[i * M + j] = addP ? sums[(i - 1) * M + j] : sums[j - 1];
      const LvE2nPoint* S = addP ? P : Q;
      if (!S->isInfinity()) sums[i * M + j].addAffine(S->x, S->y);
    }
  }
  const AffineTable table = affineAll(sums, &field);
  LdWalk walk(&field, a, b);
  const unsigned int bits = std::max(k1.getBitLength(), k2.getBitLength());
  const unsigned int digits = (bits + w - 1) / w;
  for (unsigned int j = digits; j-- > 0;) {
    lvnet::tickOrThrow();
    for (unsigned int i = 0; i < w; i++) walk.twice();
    const unsigned int d = digitOf(k1, j, w) * M + digitOf(k2, j, w);
    if (d && !table.neutral[d]) walk.addAffine(table.x[d], table.y[d]);
  }
  LvE2nPoint* R = pointOf(r);
  assign(r, nullptr);
  if (walk.toAffine(R->x, R->y)) R->infinity = 0;
}

void LvE2n::negateInPlace(LvGroupElem* r) const {
  LvE2nPoint* P = pointOf(r);
  if (P->isInfinity()) return;
  P->y += P->x;
}

void LvE2n::subtractInPlace(LvGroupElem* r, const LvGroupElem* q) const {
  LvE2nPoint N(*pointOf(q));
  negateInPlace(&N);
  addInPlace(r, &N);
}

bool LvE2n::isEqual(const LvGroupElem* ga, const LvGroupElem* gb) const {
  if (ga == gb) return true;
  const LvE2nPoint* A = pointOf(ga);
  const LvE2nPoint* B = pointOf(gb);
  if (A->isInfinity() || B->isInfinity()) return A->isInfinity() && B->isInfinity();
  return A->x == B->x && A->y == B->y;
}

bool LvE2n::isElement(const LvGroupElem* g) const {
  const LvE2nPoint* P = pointOf(g);
  if (P->isInfinity()) return true;
  if (field.isEmpty() || P->x.getField() == nullptr || *P->x.getField() != field) return false;
  // y² + x·y = (a + x)·x² + b
  LvGF2n lhs(P->y);
  lhs += P->x;
  lhs *= P->y;
  LvGF2n rhs(a);
  rhs += P->x;
  LvGF2n x2(P->x);
  x2.square();
  rhs *= x2;
  rhs += b;
  return lhs == rhs;
}

unsigned int LvE2n::getOctetStringEncodingLen(const LvGroupElem* g) const {
  if (g == nullptr)
    LV_THROW(LvNotInitException, "Not initialised element (const LvGroupElem *g).",
             "unsigned int LvE2n::getOctetStringEncodingLen(const LvGroupElem *g) const", E2N_SRC);
  return pointOf(g)->isInfinity() ? 1 : 2 * getFieldOctets() + 1;
}

unsigned int LvE2n::asOctetString(const LvGroupElem* g, LvOctet* oct, unsigned int len) const {
  if (g == nullptr)
    LV_THROW(LvNotInitException, "Not initialised element (const LvGroupElem *g).",
             "unsigned int LvE2n::asOctetString(const LvGroupElem *g, LvOctet *oct, unsigned int "
             "len) const",
             E2N_SRC);
  const LvE2nPoint* P = pointOf(g);
  if (P->isInfinity()) {
    if (len == 0)
      LV_THROW(LvArgumentRangeException, "Too small output buffer (LvOctet *oct).",
               "unsigned int LvE2n::asOctetString(const LvGroupElem *g, LvOctet *oct, unsigned "
               "int len) const",
               E2N_SRC);
    oct[0] = 0x00;
    return 1;
  }
  const unsigned int mo = getFieldOctets();
  if (len <= 2 * mo)
    LV_THROW(LvArgumentRangeException, "Too small output buffer (LvOctet *oct).",
             "unsigned int LvE2n::asOctetString(const LvGroupElem *g, LvOctet *oct, unsigned int "
             "len) const",
             E2N_SRC);
  oct[0] = 0x04;
  P->x.asOctetString(oct + 1, mo);
  P->y.asOctetString(oct + 1 + mo, mo);
  return 2 * mo + 1;
}

LvConvOS LvE2n::asDhSecret(const LvGroupElem* g) const {
  if (g == nullptr || pointOf(g)->isInfinity())
    LV_THROW(LvArgumentRangeException, "Neutral point as DH secret is not allowed.",
             "LvConvOS LvEp::asDhSecret(const LvGroupElem *g) const", E2N_SRC);
  const unsigned int mo = getFieldOctets();
  LvOctMem x(mo);
  pointOf(g)->x.asOctetString(x.ptr(), mo);
  return LvConvOS(x.ptr(), mo);
}

LvN LvE2n::asLvN(const LvGroupElem* g) const {
  if (g == nullptr || pointOf(g)->isInfinity())
    LV_THROW(LvDivByZeroException, "Converted element is point at infinity.",
             "LvN LvE2n::asLvN(const LvGroupElem *g) const", E2N_SRC);
  return pointOf(g)->x.asLvN();
}

std::vector<LvWord> LvE2n::mulSecretX(const LvWord* k, unsigned int kWords, const LvN& order,
                                      const LvGroupElem* g) const {
  const LvE2nPoint* P = pointOf(g);
  const unsigned int m = field.getDegree();
  if (field.isEmpty() || P->isInfinity() || order.isZero() || m < 2 || P->x.isZero())
    return LvGroup::mulSecretX(k, kWords, order, g);
  // k' = k + n, or k + 2n when k + n is below 2^t (t = bits of n): the same
  // multiple for a point of order n, always of exactly t + 1 bits
  const unsigned int t = order.getBitLength();
  const unsigned int w = (t + 2) / 32 + 1;
  std::vector<LvWord> on(w, 0), a(w, 0), b(w, 0);
  for (unsigned int i = 0; i < order.getUsed() && i < w; i++) on[i] = order.getWords()[i];
  std::uint64_t c1 = 0, c2 = 0;
  for (unsigned int i = 0; i < w; i++) {
    c1 += static_cast<std::uint64_t>(i < kWords ? k[i] : 0) + on[i];
    a[i] = static_cast<LvWord>(c1);
    c1 >>= 32;
    c2 += static_cast<std::uint64_t>(a[i]) + on[i];
    b[i] = static_cast<LvWord>(c2);
    c2 >>= 32;
  }
  const LvWord useA = static_cast<LvWord>(0) - ((a[t / 32] >> (t % 32)) & 1u);
  for (unsigned int i = 0; i < w; i++) a[i] = b[i] ^ (useA & (a[i] ^ b[i]));

  const unsigned int n = field.getWords();
  std::vector<LvWord> out(n, 0);
  if (!lvgf2nclmul::ladderX(field, P->x.getValue(), getB().getValue(), a.data(), t, out.data())) {
    const CtBinaryField F(field);
    const CtBinaryField::Elem x(P->x.getValue(), P->x.getValue() + n),
        bc(getB().getValue(), getB().getValue() + n);
    lve2nladder::ladderX(F, out, x, bc, a.data(), t, m);
  }
  lvWipe(a.data(), a.size() * sizeof(LvWord));
  lvWipe(b.data(), b.size() * sizeof(LvWord));
  return out;
}
