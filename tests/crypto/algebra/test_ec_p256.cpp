// The P-256 prime's own field arithmetic (portable and MULX/ADX paths: sums,
// differences, products, squares, inverses) against the generic Montgomery
// field, and the curve engine on it against the engine on the generic field: random scalars and points, and the edge cases of the
// additions (scalar 0, 1, n - 1, n, the point at infinity, P = Q, P = -Q).
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>

#include "crypto/algebra/ec_curves.h"
#include "crypto/algebra/lvcryptoep.h"
#include "crypto/algebra/lvnumbers.h"
#include "crypto/algebra/lvp256field.h"
#include "crypto/basic/lvcpu.h"

using namespace lvepfast;
using namespace lvepfast::engine;

namespace {

typedef std::vector<u32> Words;
typedef std::unique_ptr<Curve> CurvePtr;

const u64 kP[4] = {P256Prime::k0, P256Prime::k1, P256Prime::k2, P256Prime::k3};

// Big-endian octets to `n` little-endian words (leading zero octets may
// run past them).
Words words(const std::uint8_t* b, std::size_t len, unsigned n) {
  Words w(n, 0);
  for (std::size_t i = 0; i < len; i++) {
    const std::size_t k = len - 1 - i;
    if (k / 4 < n) w[k / 4] |= static_cast<u32>(b[i]) << (8 * (k % 4));
  }
  return w;
}
Words words(const ectest::Bytes& b, unsigned n) { return words(b.data(), b.size(), n); }

LvN num(const u32* w, unsigned n) { return LvN(w, n); }

// Field values that stress the carries: 0, 1, p - 1, p - 2, limbs all ones
// or zero below p, R mod p, and random ones.
std::vector<std::array<u64, 4>> fieldValues(std::mt19937_64& rng, int randoms) {
  std::vector<std::array<u64, 4>> v = {
      {0, 0, 0, 0},
      {1, 0, 0, 0},
      {kP[0] - 1, kP[1], kP[2], kP[3]},
      {kP[0] - 2, kP[1], kP[2], kP[3]},
      {~0ull, ~0ull, ~0ull, kP[3] - 1},
      {~0ull, 0, ~0ull, kP[3] - 1},
      {0, ~0ull, 0, kP[3] - 1},
      {1, 0xFFFFFFFF00000000ull, ~0ull, 0xFFFFFFFEull},  // R mod p
      {0, 0, 0, 0x8000000000000000ull},
      {~0ull, ~0ull, ~0ull, 0x7FFFFFFFFFFFFFFFull},
  };
  for (int i = 0; i < randoms; i++) {
    std::array<u64, 4> a = {rng(), rng(), rng(), rng()};
    if (a[3] >= kP[3]) a[3] = rng() % kP[3];
    v.push_back(a);
  }
  return v;
}

template <class K>
void checkFieldPath() {
  MontField<4> g;
  g.init(kP);
  std::mt19937_64 rng(42);
  const auto vals = fieldValues(rng, 120);
  for (const auto& a : vals) {
    for (const auto& b : vals) {
      u64 want[4], got[4];
      g.mul(want, a.data(), b.data());
      K::mul(got, a.data(), b.data());
      ASSERT_EQ(0, std::memcmp(want, got, sizeof(want)))
          << std::hex << a[3] << ":" << a[0] << " * " << b[3] << ":" << b[0];
      g.add(want, a.data(), b.data());
      K::add(got, a.data(), b.data());
      ASSERT_EQ(0, std::memcmp(want, got, sizeof(want)))
          << std::hex << a[3] << ":" << a[0] << " + " << b[3] << ":" << b[0];
      g.sub(want, a.data(), b.data());
      K::sub(got, a.data(), b.data());
      ASSERT_EQ(0, std::memcmp(want, got, sizeof(want)))
          << std::hex << a[3] << ":" << a[0] << " - " << b[3] << ":" << b[0];
    }
    u64 want[4], got[4];
    g.sqr(want, a.data());
    K::sqr(got, a.data());
    ASSERT_EQ(0, std::memcmp(want, got, sizeof(want))) << std::hex << a[3] << ":" << a[0];
  }
  // the inverse: x·x^-1 = 1 (R in Montgomery form), 0 for 0
  P256Field<K> f;
  f.init(kP);
  for (const auto& a : vals) {
    u64 inv[4], prod[4];
    f.invert(inv, a.data());
    f.mul(prod, inv, a.data());
    const bool zero = (a[0] | a[1] | a[2] | a[3]) == 0;
    const u64 zeros[4] = {0, 0, 0, 0};
    ASSERT_EQ(0, std::memcmp(zero ? zeros : f.one(), zero ? inv : prod, sizeof(prod)))
        << std::hex << a[3] << ":" << a[0];
  }
  // a product of operands not below p (loads into Montgomery form): 2^256 - 1
  // times R^2 gives (2^256 - 1)·R mod p
  const u64 top[4] = {~0ull, ~0ull, ~0ull, ~0ull};
  u64 want[4], got[4];
  g.mul(want, top, g.r2);
  K::mul(got, top, g.r2);
  EXPECT_EQ(0, std::memcmp(want, got, sizeof(want)));
}

bool haveMulx() {
#if defined(__x86_64__)
  return lvcpu::hasBmi2Adx();
#else
  return false;
#endif
}

// Engines on P-256: the generic one first, then each dedicated path here.
struct P256 {
  const ectest::CurveParams& c = ectest::curve("secp256r1");
  Words p = words(c.p, 8), a = words(c.a, 8), b = words(c.b, 8), n = words(c.n, 8);
  Words G;  // Jacobian (x, y, 1)
  std::vector<std::pair<const char*, CurvePtr>> engines;
  P256() {
    G = words(c.G.data() + 33, 32, 8);
    Words x = words(c.G.data() + 1, 32, 8);
    G.insert(G.begin(), x.begin(), x.end());
    G.push_back(1);
    G.resize(24, 0);
    engines.emplace_back("generic", Curve::create(p.data(), a.data(), b.data(), 8, FieldPath::kGeneric));
    engines.emplace_back("portable", Curve::create(p.data(), a.data(), b.data(), 8, FieldPath::kPortable));
    if (haveMulx())
      engines.emplace_back("mulx", Curve::create(p.data(), a.data(), b.data(), 8, FieldPath::kMulx));
  }
  // Jacobian points equal: X1·Z2^2 = X2·Z1^2, Y1·Z2^3 = Y2·Z1^3, or both at infinity
  bool same(const Words& P, const Words& Q) const {
    const LvN pp = num(p.data(), 8);
    const LvN x1 = num(&P[0], 8), y1 = num(&P[8], 8), z1 = num(&P[16], 8);
    const LvN x2 = num(&Q[0], 8), y2 = num(&Q[8], 8), z2 = num(&Q[16], 8);
    if (z1.isZero() || z2.isZero()) return z1.isZero() && z2.isZero();
    const LvN z1s = z1 * z1 % pp, z2s = z2 * z2 % pp;
    return x1 * z2s % pp == x2 * z1s % pp && y1 * (z2s * z2 % pp) % pp == y2 * (z1s * z1 % pp) % pp;
  }
  Words neg(const Words& P) const {
    Words r = P;
    const LvN y = num(&P[8], 8);
    if (!y.isZero()) {
      const LvN ny = num(p.data(), 8) - y;
      for (unsigned i = 0; i < 8; i++) r[8 + i] = i < ny.getUsed() ? ny.getWords()[i] : 0;
    }
    return r;
  }
};

Words scalarWords(const LvN& k, unsigned n) {
  Words w(n, 0);
  for (unsigned i = 0; i < k.getUsed() && i < n; i++) w[i] = k.getWords()[i];
  return w;
}

}  // namespace

TEST(EcP256Field, PortableAgreesWithGenericMontgomery) { checkFieldPath<P256Portable>(); }

TEST(EcP256Field, MulxAgreesWithGenericMontgomery) {
#if defined(__x86_64__)
  if (!haveMulx()) GTEST_SKIP() << "no BMI2/ADX here (or the portable switch is on)";
  checkFieldPath<P256Mulx>();
#else
  GTEST_SKIP() << "x86-64 only";
#endif
}

TEST(EcP256Field, DedicatedPathOnlyForTheP256Prime) {
  P256 e;
  Words other = e.p;
  other[1] ^= 2;  // another odd number
  EXPECT_EQ(nullptr, Curve::create(other.data(), e.a.data(), e.b.data(), 8, FieldPath::kPortable));
  EXPECT_NE(nullptr, Curve::create(other.data(), e.a.data(), e.b.data(), 8, FieldPath::kGeneric));
  if (!haveMulx()) {
    EXPECT_EQ(nullptr, Curve::create(e.p.data(), e.a.data(), e.b.data(), 8, FieldPath::kMulx));
  }
}

// Random scalars and points: k·P, k1·P + k2·Q with and without P's table, the
// table alone and the secret scalar's x, every path against the generic one.
TEST(EcP256Engine, RandomScalarsAgreeWithGenericField) {
  P256 e;
  std::mt19937 rng(2024);
  const Curve& ref = *e.engines[0].second;
  std::unique_ptr<FixedBase> refTable = ref.makeFixedBase(e.G.data(), 257);
  std::vector<std::unique_ptr<FixedBase>> tables;
  for (auto& en : e.engines) tables.push_back(en.second->makeFixedBase(e.G.data(), 257));
  auto randomK = [&rng]() {
    Words k(8);
    for (auto& w : k) w = rng();
    return k;
  };
  // a few random points: Q = k·G
  std::vector<Words> pts;
  for (int i = 0; i < 4; i++) {
    Words Q(24);
    Words k = randomK();
    ref.mul(Q.data(), k.data(), 8, e.G.data());
    pts.push_back(Q);
  }
  for (int round = 0; round < 800; round++) {
    const Words k1 = randomK(), k2 = randomK();
    const Words& Q = pts[round % pts.size()];
    Words want1(24), want2(24), wantT(24);
    ref.mul(want1.data(), k1.data(), 8, Q.data());
    ref.mul2(want2.data(), k1.data(), 8, e.G.data(), nullptr, k2.data(), 8, Q.data());
    ref.mulFixed(wantT.data(), k2.data(), 8, e.G.data(), refTable.get());
    Words wantX(8);
    ref.mulSecretX(wantX.data(), k1.data(), 8, 256, e.G.data(), nullptr);
    for (std::size_t i = 1; i < e.engines.size(); i++) {
      SCOPED_TRACE(e.engines[i].first);
      const Curve& c = *e.engines[i].second;
      const FixedBase* t = tables[i].get();
      Words got(24), x(8);
      c.mul(got.data(), k1.data(), 8, Q.data());
      ASSERT_TRUE(e.same(want1, got)) << round;
      c.mul2(got.data(), k1.data(), 8, e.G.data(), nullptr, k2.data(), 8, Q.data());
      ASSERT_TRUE(e.same(want2, got)) << round;
      c.mul2(got.data(), k1.data(), 8, e.G.data(), t, k2.data(), 8, Q.data());
      ASSERT_TRUE(e.same(want2, got)) << round;
      c.mulFixed(got.data(), k2.data(), 8, e.G.data(), t);
      ASSERT_TRUE(e.same(wantT, got)) << round;
      c.mulSecretX(x.data(), k1.data(), 8, 256, e.G.data(), t);
      ASSERT_EQ(wantX, x) << round;
      c.mulSecretX(x.data(), k1.data(), 8, 256, Q.data(), nullptr);
      Words wantQ(8);
      ref.mulSecretX(wantQ.data(), k1.data(), 8, 256, Q.data(), nullptr);
      ASSERT_EQ(wantQ, x) << round;
    }
  }
}

// Scalars 0, 1, 2, n - 2, n - 1, n, n + 1; pairs that meet at infinity
// (k·P + k·(-P)), that double (P = Q) and that start at infinity.
TEST(EcP256Engine, EdgeCasesAgreeWithGenericField) {
  P256 e;
  const LvN n = num(e.n.data(), 8);
  const std::vector<LvN> ks = {LvN(0u, 1), LvN(1u, 1), LvN(2u, 1), n - 2u, n - 1u, n, n + 1u};
  const Curve& ref = *e.engines[0].second;
  Words O(24, 0);
  O[0] = 1;
  O[8] = 1;
  Words G2(24);
  const Words two = scalarWords(LvN(2u, 1), 9);
  ref.mul(G2.data(), two.data(), 9, e.G.data());
  const Words negG = e.neg(e.G);
  const std::vector<Words> pts = {e.G, negG, G2, O};
  for (std::size_t i = 1; i < e.engines.size(); i++) {
    SCOPED_TRACE(e.engines[i].first);
    const Curve& c = *e.engines[i].second;
    std::unique_ptr<FixedBase> t = c.makeFixedBase(e.G.data(), 257);
    for (std::size_t pi = 0; pi < pts.size(); pi++) {
      const Words& P = pts[pi];
      for (const LvN& k : ks) {
        SCOPED_TRACE(std::string("point ") + std::to_string(pi) + ", k " + k.toString().getText());
        const Words kw = scalarWords(k, 9);
        Words want(24), got(24);
        ref.mul(want.data(), kw.data(), 9, P.data());
        c.mul(got.data(), kw.data(), 9, P.data());
        EXPECT_TRUE(e.same(want, got));
        // k·P + k·(-P) = O; k·P + k·P = 2k·P; k·P + (n - k)·G
        const Words nk = scalarWords(k < n ? n - k : LvN(0u, 1), 9);
        const Words& Q = pts[pi == 0 ? 1 : 0];
        const Words negP = e.neg(P);
        for (const auto& pr : {std::make_pair(&P, &kw), std::make_pair(&negP, &kw),
                               std::make_pair(&Q, &nk)}) {
          ref.mul2(want.data(), kw.data(), 9, P.data(), nullptr, pr.second->data(), 9,
                   pr.first->data());
          c.mul2(got.data(), kw.data(), 9, P.data(), nullptr, pr.second->data(), 9,
                 pr.first->data());
          EXPECT_TRUE(e.same(want, got));
          if (pi == 0) {  // G with its table
            c.mul2(got.data(), kw.data(), 9, P.data(), t.get(), pr.second->data(), 9,
                   pr.first->data());
            EXPECT_TRUE(e.same(want, got));
          }
        }
        if (pi == 0 && k.getBitLength() <= 256) {
          Words wantX(8), x(8);
          ref.mulSecretX(wantX.data(), kw.data(), 9, 256, P.data(), nullptr);
          c.mulSecretX(x.data(), kw.data(), 9, 256, P.data(), t.get());
          EXPECT_EQ(wantX, x);
          c.mulSecretX(x.data(), kw.data(), 9, 256, P.data(), nullptr);
          EXPECT_EQ(wantX, x);
        }
      }
    }
  }
}

// EC-DSA's last check without the inversion (X = r·Z^2) against the affine
// x: random points with Z != 1, r one off either way, the neutral point.
TEST(EcP256Engine, XModOrderWithoutInversion) {
  std::mt19937 rng(5);
  for (const char* name : {"secp256r1", "secp384r1", "secp521r1", "secp224r1"}) {
    SCOPED_TRACE(name);
    const auto& c = ectest::curve(name);
    LvCryptoEp g(c.a.data(), static_cast<unsigned int>(c.a.size()), c.b.data(),
                 static_cast<unsigned int>(c.b.size()), c.p.data(),
                 static_cast<unsigned int>(c.p.size()));
    const LvN n(c.n.data(), static_cast<unsigned int>(c.n.size()));
    std::unique_ptr<LvGroupElem> G(g.createNew(c.G.data(), static_cast<unsigned int>(c.G.size())));
    std::unique_ptr<LvGroupElem> O(g.createCopy(nullptr));
    EXPECT_FALSE(g.xModEquals(O.get(), LvN(0u, 1), n));
    for (int i = 0; i < 20; i++) {
      std::vector<std::uint8_t> kb(c.n.size());
      for (auto& b : kb) b = static_cast<std::uint8_t>(rng());
      const LvN k = LvN(kb.data(), static_cast<unsigned int>(kb.size())) % n;
      std::unique_ptr<LvGroupElem> X(g.createMul2(k, G.get(), k + 3u, G.get()));
      const LvN r = g.asLvN(X.get()) % n;
      EXPECT_TRUE(g.xModEquals(X.get(), r, n));
      EXPECT_FALSE(g.xModEquals(X.get(), (r + 1u) % n, n));
      EXPECT_FALSE(g.xModEquals(X.get(), r.isZero() ? n - 1u : r - 1u, n));
    }
  }
}
