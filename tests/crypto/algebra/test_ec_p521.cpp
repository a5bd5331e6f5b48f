// The field of 2^521 - 1 on 58-bit limbs, portable and with MULX, and on
// 50-bit limbs with AVX-512 IFMA (sums,
// differences, products, squares, with the loosely reduced limbs they hand
// on) against big-number arithmetic, and the curve engine on each against the
// engine on the generic Montgomery field: random scalars, the edge scalars
// and points.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "crypto/algebra/ec_curves.h"
#include "crypto/algebra/lvepfast_engine.h"
#include "crypto/algebra/lvnumbers.h"
#include "crypto/basic/lvcpu.h"

using namespace lvepfast;
using namespace lvepfast::engine;

namespace {

typedef std::vector<u32> Words;
typedef std::array<u64, 9> Limbs9;

const LvN& prime() {
  static const LvN p = (LvN(1u, 1) << 521) - 1u;
  return p;
}

// The value of limbs (58 bits apart, any size each), not reduced.
LvN valueOf(const u64* l) {
  LvN v(0u, 1);
  for (unsigned i = 9; i-- > 0;) {
    const u32 w[2] = {(u32)l[i], (u32)(l[i] >> 32)};
    v = (v << 58) + LvN(w, 2);
  }
  return v;
}

bool haveMulx() {
#if defined(__x86_64__)
  return lvcpu::hasBmi2();
#else
  return false;
#endif
}

LvN canonicalValue(const P521Field& f, const u64* l) {
  u64 w[9];
  f.fromField(w, l);
  u32 ws[18];
  for (unsigned i = 0; i < 18; i++) ws[i] = (u32)(w[i / 2] >> (32 * (i % 2)));
  return LvN(ws, 18);
}

Limbs9 load(const P521Field& f, const LvN& v) {
  u64 w[9] = {0};
  for (unsigned i = 0; i < v.getUsed(); i++) w[i / 2] |= (u64)v.getWords()[i] << (32 * (i % 2));
  Limbs9 r;
  f.toField(r.data(), w);
  return r;
}

// Canonical values that stress the carries and the wrap at 2^521, and
// random ones.
std::vector<Limbs9> fieldValues(const P521Field& f, std::mt19937_64& rng, int randoms) {
  const LvN p = prime(), one(1u, 1);
  std::vector<LvN> v = {LvN(0u, 1),
                        one,
                        LvN(2u, 1),
                        p - 1u,
                        p - 2u,
                        one << 520,
                        (one << 520) - 1u,
                        (one << 464) - 1u,
                        one << 58,
                        (one << 58) - 1u,
                        p - (one << 58)};
  for (int i = 0; i < randoms; i++) {
    u32 w[17];
    for (auto& x : w) x = (u32)rng();
    w[16] &= 0x1FF;
    v.push_back(LvN(w, 17) % p);
  }
  std::vector<Limbs9> out;
  for (const LvN& x : v) out.push_back(load(f, x));
  // limbs at the bounds the operations promise (loosely reduced forms), and
  // p itself in limbs, which stands for 0
  Limbs9 hi, pl;
  for (unsigned i = 0; i < 8; i++) {
    hi[i] = (u64(1) << 59) + (u64(1) << 11) - 1;
    pl[i] = P521Field::M58;
  }
  hi[8] = (u64(1) << 59) - 5;
  pl[8] = P521Field::M57;
  out.push_back(hi);
  out.push_back(pl);
  Limbs9 mixed = hi;
  for (unsigned i = 0; i < 9; i += 2) mixed[i] = 0;
  out.push_back(mixed);
  return out;
}

template <class F>
void checkOperations() {
  F f;
  const u64 pw[9] = {~0ull, ~0ull, ~0ull, ~0ull, ~0ull, ~0ull, ~0ull, ~0ull, 0x1FF};
  f.init(pw);
  std::mt19937_64 rng(521);
  const auto vals = fieldValues(f, rng, 60);
  const LvN& p = prime();
  for (const auto& a : vals) {
    const LvN av = valueOf(a.data()) % p;
    for (const auto& b : vals) {
      const LvN bv = valueOf(b.data()) % p;
      u64 r[9];
      f.mul(r, a.data(), b.data());
      ASSERT_EQ(av * bv % p, canonicalValue(f, r))
          << av.toString().getText() << " * " << bv.toString().getText();
      f.add(r, a.data(), b.data());
      ASSERT_EQ((av + bv) % p, canonicalValue(f, r));
      f.sub(r, a.data(), b.data());
      ASSERT_EQ((av + p - bv) % p, canonicalValue(f, r));
    }
    u64 r[9];
    f.sqr(r, a.data());
    ASSERT_EQ(av * av % p, canonicalValue(f, r)) << av.toString().getText();
    f.neg(r, a.data());
    ASSERT_EQ((p - av) % p, canonicalValue(f, r));
    ASSERT_EQ(av.isZero(), f.isZero(a.data()));
  }
}

// Long chains where each result feeds the next operations unreduced, as the
// point formulas use them (repeated doublings of a sum, differences of
// products), against the same chain on big numbers.
template <class F>
void checkChains() {
  F f;
  const u64 pw[9] = {~0ull, ~0ull, ~0ull, ~0ull, ~0ull, ~0ull, ~0ull, ~0ull, 0x1FF};
  f.init(pw);
  std::mt19937_64 rng(58);
  const auto vals = fieldValues(f, rng, 8);
  const LvN& p = prime();
  std::vector<Limbs9> reg(vals.begin(), vals.end());
  std::vector<LvN> ref;
  for (const auto& v : reg) ref.push_back(valueOf(v.data()) % p);
  for (int step = 0; step < 20000; step++) {
    const std::size_t d = rng() % reg.size(), x = rng() % reg.size(), y = rng() % reg.size();
    Limbs9 r;
    LvN want;
    switch (rng() % 6) {
      case 0:
        f.mul(r.data(), reg[x].data(), reg[y].data());
        want = ref[x] * ref[y] % p;
        break;
      case 1:
        f.sqr(r.data(), reg[x].data());
        want = ref[x] * ref[x] % p;
        break;
      case 2:
        f.add(r.data(), reg[x].data(), reg[y].data());
        want = (ref[x] + ref[y]) % p;
        break;
      case 3:
        f.sub(r.data(), reg[x].data(), reg[y].data());
        want = (ref[x] + p - ref[y]) % p;
        break;
      case 4:  // three doublings in a row, as the doubling formula makes 8·Y^4
        f.dbl(r.data(), reg[x].data());
        f.dbl(r.data(), r.data());
        f.dbl(r.data(), r.data());
        want = (ref[x] << 3) % p;
        break;
      default:
        f.neg(r.data(), reg[x].data());
        want = (p - ref[x]) % p;
        break;
    }
    reg[d] = r;
    ref[d] = want;
    ASSERT_EQ(want, canonicalValue(f, r.data())) << "step " << step;
  }
}

TEST(EcP521Field, PortableAgreesWithBigNumbers) {
  checkOperations<P521Field>();
  checkChains<P521Field>();
}

TEST(EcP521Field, MulxAgreesWithBigNumbers) {
#if defined(__x86_64__)
  if (!haveMulx()) GTEST_SKIP() << "no BMI2 here (or the portable switch is on)";
  checkOperations<P521FieldMulx>();
  checkChains<P521FieldMulx>();
#else
  GTEST_SKIP() << "x86-64 only";
#endif
}

#if defined(__x86_64__)
// The 50-bit-limb field with AVX-512 IFMA: every result within the limb
// bounds the products need (limbs 0..9 below 2^51, limb 10 below 2^22), its value
// the one Python's integers give (tests/data/ec/p521_field.txt: edge and
// random operands up to 2^522 - 1, loaded limb by limb so that the
// unreduced forms the operations hand on are inputs too) and the portable
// field gives.
typedef std::array<u64, 12> Limbs12;

bool haveIfma() { return lvcpu::hasAvx512Ifma(); }

Limbs12 limbs50(const LvN& v) {
  Limbs12 l{};
  for (unsigned i = 0; i < 11; i++) {
    u64 x = 0;
    for (unsigned b = 0; b < 50; b++) {
      const unsigned bit = 50 * i + b;
      if (bit / 32 < v.getUsed()) x |= (u64)((v.getWords()[bit / 32] >> (bit % 32)) & 1) << b;
    }
    l[i] = x;
  }
  return l;
}

LvN valueOf50(const Limbs12& l) {
  LvN v(0u, 1);
  for (unsigned i = 11; i-- > 0;) {
    const u32 w[2] = {(u32)l[i], (u32)(l[i] >> 32)};
    v = (v << 50) + LvN(w, 2);
  }
  return v;
}

::testing::AssertionResult normalised(const Limbs12& l) {
  for (unsigned i = 0; i < 10; i++)
    if (l[i] >> 51) return ::testing::AssertionFailure() << "limb " << i << " over 51 bits";
  if ((l[10] >> 22) || l[11] != 0)
    return ::testing::AssertionFailure() << "top limbs " << l[10] << " " << l[11];
  return ::testing::AssertionSuccess();
}

LvN hexNum(const std::string& h) {
  LvN v(0u, 1);
  for (char c : h) v = (v << 4) + LvN((u32)std::stoul(std::string(1, c), nullptr, 16), 1);
  return v;
}

P521FieldIfma ifmaField() {
  P521FieldIfma f;
  const u64 pw[12] = {~0ull, ~0ull, ~0ull, ~0ull, ~0ull, ~0ull, ~0ull, ~0ull, 0x1FF, 0, 0, 0};
  f.init(pw);
  return f;
}

TEST(EcP521Field, IfmaAgreesWithPythonIntegers) {
  if (!haveIfma()) GTEST_SKIP() << "no AVX-512 IFMA here (or the portable switch is on)";
  const P521FieldIfma f = ifmaField();
  P521Field portable;
  const u64 pw9[9] = {~0ull, ~0ull, ~0ull, ~0ull, ~0ull, ~0ull, ~0ull, ~0ull, 0x1FF};
  portable.init(pw9);
  std::ifstream in(TAL_TEST_DATA_DIR "/ec/p521_field.txt");
  ASSERT_TRUE(in.good());
  std::string line;
  int rows = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream ls(line);
    std::string t[5];
    for (auto& x : t) ls >> x;
    const LvN a = hexNum(t[0]), b = hexNum(t[1]);
    const LvN want[3] = {hexNum(t[2]), hexNum(t[3]), hexNum(t[4])};
    const Limbs12 al = limbs50(a), bl = limbs50(b);
    SCOPED_TRACE(line);
    Limbs12 r[3];
    f.mul(r[0].data(), al.data(), bl.data());
    f.add(r[1].data(), al.data(), bl.data());
    f.sub(r[2].data(), al.data(), bl.data());
    for (int k = 0; k < 3; k++) {
      ASSERT_TRUE(normalised(r[k])) << "operation " << k;
      ASSERT_EQ(want[k], valueOf50(r[k]) % prime()) << "operation " << k;
      u64 w[12];
      f.fromField(w, r[k].data());
      u32 ws[24];
      for (unsigned i = 0; i < 24; i++) ws[i] = (u32)(w[i / 2] >> (32 * (i % 2)));
      ASSERT_EQ(want[k], LvN(ws, 24)) << "canonical form of operation " << k;
    }
    // the portable field on the same operands (reduced, as it takes them)
    const Limbs9 ap = load(portable, a % prime()), bp = load(portable, b % prime());
    u64 rp[9];
    portable.mul(rp, ap.data(), bp.data());
    ASSERT_EQ(canonicalValue(portable, rp), valueOf50(r[0]) % prime());
    if (a == b) {
      Limbs12 sq, ng;
      f.sqr(sq.data(), al.data());
      f.neg(ng.data(), al.data());
      ASSERT_TRUE(normalised(sq));
      ASSERT_TRUE(normalised(ng));
      ASSERT_EQ(want[0], valueOf50(sq) % prime());
      ASSERT_EQ((prime() - a % prime()) % prime(), valueOf50(ng) % prime());
      ASSERT_EQ(want[0].isZero(), f.isZero(sq.data()));
      ASSERT_EQ((a % prime()).isZero(), f.isZero(al.data()));
    }
    rows++;
  }
  EXPECT_EQ(900, rows);
}

// Long chains of results fed on, where a normalisation that misses a rare
// carry would show.
TEST(EcP521Field, IfmaChainsStayNormalised) {
  if (!haveIfma()) GTEST_SKIP() << "no AVX-512 IFMA here (or the portable switch is on)";
  const P521FieldIfma f = ifmaField();
  std::mt19937_64 rng(52);
  const LvN p = prime(), one(1u, 1);
  std::vector<LvN> ref = {LvN(0u, 1), one, p - 1u, one << 520, (one << 520) - 1u, p - (one << 52)};
  for (int i = 0; i < 6; i++) {
    u32 w[17];
    for (auto& x : w) x = (u32)rng();
    w[16] &= 0x1FF;
    ref.push_back(LvN(w, 17) % p);
  }
  std::vector<Limbs12> reg;
  for (const LvN& v : ref) reg.push_back(limbs50(v));
  for (int step = 0; step < 40000; step++) {
    const std::size_t d = rng() % reg.size(), x = rng() % reg.size(), y = rng() % reg.size();
    Limbs12 r;
    LvN want;
    switch (rng() % 5) {
      case 0:
        f.mul(r.data(), reg[x].data(), reg[y].data());
        want = ref[x] * ref[y] % p;
        break;
      case 1:
        f.sqr(r.data(), reg[x].data());
        want = ref[x] * ref[x] % p;
        break;
      case 2:
        f.dbl(r.data(), reg[x].data());
        want = (ref[x] + ref[x]) % p;
        break;
      case 3:
        f.sub(r.data(), reg[x].data(), reg[y].data());
        want = (ref[x] + p - ref[y]) % p;
        break;
      default:
        f.neg(r.data(), reg[x].data());
        want = (p - ref[x]) % p;
        break;
    }
    ASSERT_TRUE(normalised(r)) << "step " << step;
    ASSERT_EQ(want, valueOf50(r) % p) << "step " << step;
    reg[d] = r;
    ref[d] = want;
  }
}

// Operands at the very bounds the field promises its callers (limbs 0..9 at
// 2^51 - 1, limb 10 at 2^22 - 1; the largest forms a carry step hands on),
// which the values below 2^522 above never reach: the products' columns and
// the differences' 4p must still have room. The doubling routine too, whose
// values never leave the registers.
TEST(EcP521Field, IfmaOperandsAtTheLimbBounds) {
  if (!haveIfma()) GTEST_SKIP() << "no AVX-512 IFMA here (or the portable switch is on)";
  const P521FieldIfma f = ifmaField();
  const LvN p = prime();
  Limbs12 top{}, carried{}, alternate{}, pl{}, zero{}, one{};
  for (unsigned i = 0; i < 10; i++) {
    top[i] = (u64(1) << 51) - 1;
    carried[i] = (u64(1) << 50) + (u64(1) << 8) - 1;
    alternate[i] = i % 2 ? 0 : top[i];
    pl[i] = P521FieldIfma::M50;
  }
  top[10] = (u64(1) << 22) - 1;
  carried[0] = (u64(1) << 50) + (u64(1) << 37) - 1;
  carried[10] = (u64(1) << 21) + (u64(1) << 8) - 1;
  alternate[10] = top[10];
  pl[10] = P521FieldIfma::M21;  // p itself, which stands for 0
  one[0] = 1;
  const std::vector<Limbs12> vals = {top, carried, alternate, pl, zero, one};
  for (std::size_t i = 0; i < vals.size(); i++) {
    const LvN a = valueOf50(vals[i]) % p;
    for (std::size_t j = 0; j < vals.size(); j++) {
      SCOPED_TRACE("operands " + std::to_string(i) + ", " + std::to_string(j));
      const LvN b = valueOf50(vals[j]) % p;
      Limbs12 r;
      f.mul(r.data(), vals[i].data(), vals[j].data());
      EXPECT_TRUE(normalised(r));
      EXPECT_EQ(a * b % p, valueOf50(r) % p) << "product";
      f.add(r.data(), vals[i].data(), vals[j].data());
      EXPECT_TRUE(normalised(r));
      EXPECT_EQ((a + b) % p, valueOf50(r) % p) << "sum";
      f.sub(r.data(), vals[i].data(), vals[j].data());
      EXPECT_TRUE(normalised(r));
      EXPECT_EQ((a + p - b) % p, valueOf50(r) % p) << "difference";
    }
    Limbs12 r;
    f.sqr(r.data(), vals[i].data());
    EXPECT_TRUE(normalised(r));
    EXPECT_EQ(a * a % p, valueOf50(r) % p) << "square " << i;
    f.neg(r.data(), vals[i].data());
    EXPECT_TRUE(normalised(r));
    EXPECT_EQ((p - a) % p, valueOf50(r) % p) << "negation " << i;
    EXPECT_EQ(a.isZero(), f.isZero(vals[i].data())) << i;
  }
  // (X, Y, Z) over every choice of the values: the a = -3 doubling
  for (const auto& x : vals)
    for (const auto& y : vals)
      for (const auto& z : vals) {
        const LvN X = valueOf50(x) % p, Y = valueOf50(y) % p, Z = valueOf50(z) % p;
        const LvN zz = Z * Z % p, yy = Y * Y % p;
        const LvN m = 3u * ((X + p - zz) * (X + zz) % p) % p, s = 4u * (X * yy % p) % p;
        const LvN x3 = (m * m % p + 2u * p - 2u * s) % p;
        const LvN y3 = (m * ((s + p - x3) % p) % p + p - 8u * (yy * yy % p) % p) % p;
        Limbs12 rx, ry, rz;
        P521FieldIfma::dblMinus3(rx.data(), ry.data(), rz.data(), x.data(), y.data(), z.data());
        ASSERT_TRUE(normalised(rx) && normalised(ry) && normalised(rz));
        ASSERT_EQ(x3, valueOf50(rx) % p);
        ASSERT_EQ(y3, valueOf50(ry) % p);
        ASSERT_EQ(2u * (Y * Z % p) % p, valueOf50(rz) % p);
      }
}
#endif

LvN num(const u32* w, unsigned n) { return LvN(w, n); }

Words words(const std::uint8_t* b, std::size_t len, unsigned n) {
  Words w(n, 0);
  for (std::size_t i = 0; i < len; i++) {
    const std::size_t k = len - 1 - i;
    if (k / 4 < n) w[k / 4] |= static_cast<u32>(b[i]) << (8 * (k % 4));
  }
  return w;
}

Words scalarWords(const LvN& k, unsigned n) {
  Words w(n, 0);
  for (unsigned i = 0; i < k.getUsed() && i < n; i++) w[i] = k.getWords()[i];
  return w;
}

// Two Jacobian points of W-word coordinates over the P-521 prime are the same
// (both at infinity, or X/Z^2 and Y/Z^3 equal).
bool sameJacobian(const Words& P, const Words& Q, unsigned W) {
  const LvN& pp = prime();
  const LvN x1 = num(&P[0], W), y1 = num(&P[W], W), z1 = num(&P[2 * W], W);
  const LvN x2 = num(&Q[0], W), y2 = num(&Q[W], W), z2 = num(&Q[2 * W], W);
  if (z1.isZero() || z2.isZero()) return z1.isZero() && z2.isZero();
  const LvN z1s = z1 * z1 % pp, z2s = z2 * z2 % pp;
  return x1 * z2s % pp == x2 * z1s % pp && y1 * (z2s * z2 % pp) % pp == y2 * (z1s * z1 % pp) % pp;
}

// P-521 on its own field and on the generic one (the reference).
struct P521 {
  static const unsigned W = 17;
  const ectest::CurveParams& c = ectest::curve("secp521r1");
  Words p = words(c.p.data(), c.p.size(), W), a = words(c.a.data(), c.a.size(), W),
        b = words(c.b.data(), c.b.size(), W), n = words(c.n.data(), c.n.size(), W);
  Words G;
  std::unique_ptr<Curve> ref;
  std::vector<std::pair<const char*, std::unique_ptr<Curve>>> engines;
  P521() {
    const std::size_t m = (c.G.size() - 1) / 2;
    G = words(c.G.data() + 1, m, W);
    Words y = words(c.G.data() + 1 + m, m, W);
    G.insert(G.end(), y.begin(), y.end());
    G.push_back(1);
    G.resize(3 * W, 0);
    ref = Curve::create(p.data(), a.data(), b.data(), W, FieldPath::kGeneric);
    engines.emplace_back("portable",
                         Curve::create(p.data(), a.data(), b.data(), W, FieldPath::kPortable));
    if (haveMulx())
      engines.emplace_back("mulx",
                           Curve::create(p.data(), a.data(), b.data(), W, FieldPath::kMulx));
#if defined(__x86_64__)
    if (haveIfma())
      engines.emplace_back("ifma",
                           Curve::create(p.data(), a.data(), b.data(), W, FieldPath::kIfma));
#endif
  }
  bool same(const Words& P, const Words& Q) const { return sameJacobian(P, Q, W); }
};

// Random and edge scalars, on G, on random points, on -G and 2G: k·P,
// k1·G + k2·Q with and without G's table, the table alone, the secret
// scalar's x.
TEST(EcP521Engine, AgreesWithGenericField) {
  P521 e;
  const unsigned W = P521::W;
  ASSERT_TRUE(e.ref);
  for (const auto& en : e.engines) {
    SCOPED_TRACE(en.first);
    ASSERT_TRUE(en.second);
    const Curve* fast = en.second.get();
    const LvN n = num(e.n.data(), W);
    std::unique_ptr<FixedBase> refT = e.ref->makeFixedBase(e.G.data(), 522);
    std::unique_ptr<FixedBase> t = fast->makeFixedBase(e.G.data(), 522);
    std::mt19937 rng(2026);
    auto randomK = [&]() {
      Words k(W);
      for (auto& w : k) w = rng();
      k[W - 1] &= 0x1FF;
      return scalarWords(num(k.data(), W) % n, W);
    };
    std::vector<Words> pts = {e.G};
    Words G2(3 * W), negG = e.G;
    e.ref->mul(G2.data(), scalarWords(LvN(2u, 1), W).data(), W, e.G.data());
    pts.push_back(G2);
    const LvN ny = num(e.p.data(), W) - num(&e.G[W], W);
    const Words nyw = scalarWords(ny, W);
    std::copy(nyw.begin(), nyw.end(), negG.begin() + W);
    pts.push_back(negG);
    for (int i = 0; i < 2; i++) {
      Words Q(3 * W);
      e.ref->mul(Q.data(), randomK().data(), W, e.G.data());
      pts.push_back(Q);
    }
    std::vector<Words> ks;
    for (const LvN& k : {LvN(0u, 1), LvN(1u, 1), LvN(2u, 1), n - 2u, n - 1u, n, n + 1u})
      ks.push_back(scalarWords(k, W));
    for (int i = 0; i < 40; i++) ks.push_back(randomK());
    for (std::size_t ki = 0; ki < ks.size(); ki++) {
      const Words& k1 = ks[ki];
      const Words& k2 = ks[(ki * 7 + 3) % ks.size()];
      for (std::size_t pi = 0; pi < pts.size(); pi++) {
        SCOPED_TRACE("scalar " + std::to_string(ki) + ", point " + std::to_string(pi));
        const Words& Q = pts[pi];
        Words want(3 * W), got(3 * W);
        e.ref->mul(want.data(), k1.data(), W, Q.data());
        fast->mul(got.data(), k1.data(), W, Q.data());
        ASSERT_TRUE(e.same(want, got));
        e.ref->mul2(want.data(), k1.data(), W, e.G.data(), nullptr, k2.data(), W, Q.data());
        fast->mul2(got.data(), k1.data(), W, e.G.data(), nullptr, k2.data(), W, Q.data());
        ASSERT_TRUE(e.same(want, got));
        fast->mul2(got.data(), k1.data(), W, e.G.data(), t.get(), k2.data(), W, Q.data());
        ASSERT_TRUE(e.same(want, got));
        // k·Q + k·Q and k·Q + k·(-Q) meet the doubling and the neutral point
        e.ref->mul2(want.data(), k1.data(), W, Q.data(), nullptr, k1.data(), W, Q.data());
        fast->mul2(got.data(), k1.data(), W, Q.data(), nullptr, k1.data(), W, Q.data());
        ASSERT_TRUE(e.same(want, got));
        if (num(k1.data(), W) < n) {
          Words wantX(W), x(W);
          e.ref->mulSecretX(wantX.data(), k1.data(), W, 521, Q.data(), nullptr);
          fast->mulSecretX(x.data(), k1.data(), W, 521, Q.data(), nullptr);
          ASSERT_EQ(wantX, x);
          if (pi == 0) {
            fast->mulSecretX(x.data(), k1.data(), W, 521, Q.data(), t.get());
            ASSERT_EQ(wantX, x);
          }
        }
      }
      Words want(3 * W), got(3 * W);
      e.ref->mulFixed(want.data(), k1.data(), W, e.G.data(), refT.get());
      fast->mulFixed(got.data(), k1.data(), W, e.G.data(), t.get());
      ASSERT_TRUE(e.same(want, got)) << ki;
    }
  }
}

// The dedicated paths exist for the P-521 prime alone; MULX only where the
// processor has it.
TEST(EcP521Engine, DedicatedPathsOnlyForTheP521Prime) {
  P521 e;
  Words other = e.p;
  other[3] ^= 4;  // another odd number
  EXPECT_EQ(nullptr, Curve::create(other.data(), e.a.data(), e.b.data(), 17, FieldPath::kPortable));
  EXPECT_EQ(nullptr, Curve::create(other.data(), e.a.data(), e.b.data(), 17, FieldPath::kMulx));
  EXPECT_NE(nullptr, Curve::create(other.data(), e.a.data(), e.b.data(), 17, FieldPath::kGeneric));
  EXPECT_EQ(haveMulx(),
            Curve::create(e.p.data(), e.a.data(), e.b.data(), 17, FieldPath::kMulx) != nullptr);
  EXPECT_EQ(nullptr, Curve::create(other.data(), e.a.data(), e.b.data(), 17, FieldPath::kIfma));
#if defined(__x86_64__)
  EXPECT_EQ(haveIfma(),
            Curve::create(e.p.data(), e.a.data(), e.b.data(), 17, FieldPath::kIfma) != nullptr);
#endif
}

// A curve on the P-521 prime with a point of order 2 (an explicit domain from
// a stranger may have one): y^2 = x^3 - 3x + b with b = -(x0^3 - 3 x0), so
// T = (x0, 0). Every doubling of T, and of the point at infinity, must give
// the point at infinity on every path, whether the doubling tests Y and Z or
// leaves it to its formula's Z3 = 2YZ; so must every sum that meets them.
TEST(EcP521Engine, PointOfOrderTwoAndInfinityOnEveryPath) {
  const unsigned W = 17;
  const LvN p = prime(), x0(0x1234567u, 1);
  const LvN a = p - 3u;
  const LvN b = (p - (x0 * x0 % p * x0 % p + p - 3u * x0 % p) % p) % p;
  const Words pw = scalarWords(p, W), aw = scalarWords(a, W), bw = scalarWords(b, W);
  std::unique_ptr<Curve> ref =
      Curve::create(pw.data(), aw.data(), bw.data(), W, FieldPath::kGeneric);
  ASSERT_TRUE(ref);
  std::vector<std::pair<const char*, std::unique_ptr<Curve>>> engines;
  engines.emplace_back("portable",
                       Curve::create(pw.data(), aw.data(), bw.data(), W, FieldPath::kPortable));
  if (haveMulx())
    engines.emplace_back("mulx",
                         Curve::create(pw.data(), aw.data(), bw.data(), W, FieldPath::kMulx));
#if defined(__x86_64__)
  if (haveIfma())
    engines.emplace_back("ifma",
                         Curve::create(pw.data(), aw.data(), bw.data(), W, FieldPath::kIfma));
#endif
  auto point = [&](const LvN& x, const LvN& y, const LvN& z) {
    Words P = scalarWords(x, W), Y = scalarWords(y, W), Z = scalarWords(z, W);
    P.insert(P.end(), Y.begin(), Y.end());
    P.insert(P.end(), Z.begin(), Z.end());
    return P;
  };
  // a point of order other than 2: the first x whose right side is a square
  LvModulus mod(p, 0);
  const LvN e4 = (p + 1u) >> 2;
  LvN px(7u, 1), py;
  for (;; px += 1u) {
    const LvN rhs = (px * px % p * px % p + b + p - 3u * px % p) % p;
    py = pow(LvZn(rhs, &mod), e4).getN();
    if (py * py % p == rhs && !py.isZero()) break;
  }
  const LvN z(0x9876543u, 1);
  const Words T = point(x0, LvN(0u, 1), LvN(1u, 1));
  const Words TJ = point(x0 * (z * z % p) % p, LvN(0u, 1), z);  // T in Jacobian form, Z != 1
  const Words O = point(LvN(1u, 1), LvN(1u, 1), LvN(0u, 1));
  const Words O2 = point(LvN(5u, 1), LvN(9u, 1), LvN(0u, 1));  // infinity with other X, Y
  const Words P = point(px, py, LvN(1u, 1));
  const std::vector<Words> pts = {T, TJ, O, O2, P};
  auto same = [&](const Words& A, const Words& B) { return sameJacobian(A, B, W); };
  std::mt19937 rng(5212);
  std::vector<Words> ks;
  for (unsigned k : {0u, 1u, 2u, 3u, 4u, 5u}) ks.push_back(scalarWords(LvN(k, 1), W));
  ks.push_back(scalarWords(LvN(1u, 1) << 520, W));
  for (int i = 0; i < 4; i++) {
    Words k(W);
    for (auto& w : k) w = rng();
    k[W - 1] &= 0x1FF;
    k[0] = (k[0] & ~1u) | (i & 1);  // even and odd
    ks.push_back(k);
  }
  std::unique_ptr<FixedBase> refT = ref->makeFixedBase(T.data(), 522);
  // sanity of the reference: 2T is the point at infinity, 3T is T
  {
    Words r(3 * W);
    ref->mul(r.data(), ks[2].data(), W, T.data());
    ASSERT_TRUE(num(&r[2 * W], W).isZero());
    ref->mul(r.data(), ks[3].data(), W, T.data());
    ASSERT_TRUE(same(r, T));
  }
  for (const auto& en : engines) {
    SCOPED_TRACE(en.first);
    ASSERT_TRUE(en.second);
    const Curve* fast = en.second.get();
    std::unique_ptr<FixedBase> t = fast->makeFixedBase(T.data(), 522);
    for (std::size_t ki = 0; ki < ks.size(); ki++) {
      const Words& k1 = ks[ki];
      const Words& k2 = ks[(ki * 5 + 3) % ks.size()];
      for (std::size_t pi = 0; pi < pts.size(); pi++) {
        SCOPED_TRACE("scalar " + std::to_string(ki) + ", point " + std::to_string(pi));
        const Words& Q = pts[pi];
        Words want(3 * W), got(3 * W);
        ref->mul(want.data(), k1.data(), W, Q.data());
        fast->mul(got.data(), k1.data(), W, Q.data());
        EXPECT_TRUE(same(want, got)) << "k Q";
        for (const Words* R : {&T, &P}) {
          ref->mul2(want.data(), k1.data(), W, R->data(), nullptr, k2.data(), W, Q.data());
          fast->mul2(got.data(), k1.data(), W, R->data(), nullptr, k2.data(), W, Q.data());
          EXPECT_TRUE(same(want, got)) << "k1 R + k2 Q";
        }
        ref->mul2(want.data(), k1.data(), W, T.data(), refT.get(), k2.data(), W, Q.data());
        fast->mul2(got.data(), k1.data(), W, T.data(), t.get(), k2.data(), W, Q.data());
        EXPECT_TRUE(same(want, got)) << "k1 T + k2 Q with T's table";
        ref->mul2(want.data(), k1.data(), W, Q.data(), nullptr, k1.data(), W, Q.data());
        fast->mul2(got.data(), k1.data(), W, Q.data(), nullptr, k1.data(), W, Q.data());
        EXPECT_TRUE(same(want, got)) << "k Q + k Q";
        Words wantX(W), x(W);
        ref->mulSecretX(wantX.data(), k1.data(), W, 521, Q.data(), nullptr);
        fast->mulSecretX(x.data(), k1.data(), W, 521, Q.data(), nullptr);
        EXPECT_EQ(wantX, x) << "x of k Q, secret k";
      }
      Words want(3 * W), got(3 * W);
      ref->mulFixed(want.data(), k1.data(), W, T.data(), refT.get());
      fast->mulFixed(got.data(), k1.data(), W, T.data(), t.get());
      EXPECT_TRUE(same(want, got)) << "k T from the table " << ki;
      Words wantX(W), x(W);
      ref->mulSecretX(wantX.data(), k1.data(), W, 521, T.data(), refT.get());
      fast->mulSecretX(x.data(), k1.data(), W, 521, T.data(), t.get());
      EXPECT_EQ(wantX, x) << "x of k T from the table, secret k " << ki;
    }
  }
}

}  // namespace
