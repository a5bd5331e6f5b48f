// Prime-field curves and the group interface: the fast scalar multiplication
// against the generic window methods, point encodings, square roots and the
// multiplicative group. Curve parameters come from `openssl ecparam`.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "crypto/algebra/ec_curves.h"
#include "crypto/algebra/lvcryptoep.h"
#include "crypto/algebra/lvep.h"
#include "crypto/algebra/lvmultiplicativemodulusgroup.h"

using ectest::Bytes;
using ectest::curve;
using ectest::hex;

namespace {

typedef std::unique_ptr<LvGroupElem> Elem;

bool isSpecial(const std::string& name) {
  return name == "secp160r1" || name == "secp192r1" || name == "secp224r1" ||
         name == "secp256r1" || name == "secp384r1" || name == "secp521r1";
}

std::unique_ptr<LvAbelianGroup> makeCurve(const ectest::CurveParams& c) {
  if (isSpecial(c.name))
    return std::unique_ptr<LvAbelianGroup>(new LvCryptoEp(c.a.data(), c.a.size(), c.b.data(), c.b.size(),
                                                   c.p.data(), c.p.size()));
  return std::unique_ptr<LvAbelianGroup>(
      new LvEp(c.a.data(), c.a.size(), c.b.data(), c.b.size(), c.p.data(), c.p.size()));
}

LvN randomScalar(std::mt19937& rng, unsigned int bits) {
  Bytes b((bits + 7) / 8);
  for (auto& x : b) x = static_cast<std::uint8_t>(rng());
  return LvN(b.data(), b.size());
}

Bytes encode(const LvGroup& g, const LvGroupElem* e, unsigned int len) {
  Bytes out(len);
  out.resize(g.asOctetString(e, out.data(), len));
  return out;
}

}  // namespace

TEST(EcCurve, SpecialPrimesSelectTheFastCurve) {
  const auto& p256 = curve("secp256r1");
  LvCryptoEp e(p256.a.data(), p256.a.size(), p256.b.data(), p256.b.size(), p256.p.data(),
               p256.p.size());
  EXPECT_TRUE(e.isAMinus3());
  EXPECT_EQ(8u, e.getWordCount());
  const auto& bp = curve("brainpoolP256r1");
  EXPECT_THROW(LvCryptoEp(bp.a.data(), bp.a.size(), bp.b.data(), bp.b.size(), bp.p.data(),
                          bp.p.size()),
               LvLibNotImplementedException);
  LvEp generic(bp.a.data(), bp.a.size(), bp.b.data(), bp.b.size(), bp.p.data(), bp.p.size());
  EXPECT_FALSE(generic.isAMinus3());
  // secp256k1 has a = 0: getA pads it to the field length; a short buffer fails
  const auto& k1 = curve("secp256k1");
  LvEp ek(k1.a.data(), k1.a.size(), k1.b.data(), k1.b.size(), k1.p.data(), k1.p.size());
  Bytes a(32, 0xAA);
  EXPECT_EQ(32u, ek.getA(a.data(), 32));
  EXPECT_EQ(Bytes(32, 0), a);
  EXPECT_THROW(ek.getB(a.data(), 31), LvArgumentRangeException);
}

// Every curve: the order annihilates G, and the engine's multiplications agree
// with the generic fixed-window and joint-window methods.
TEST(EcCurve, ScalarMultiplicationAgreesWithGenericMethods) {
  std::mt19937 rng(12345);
  for (const auto& kv : ectest::curves()) {
    SCOPED_TRACE(kv.first);
    const auto& c = kv.second;
    auto g = makeCurve(c);
    Elem G(g->createNew(c.G.data(), c.G.size()));
    ASSERT_TRUE(g->isElement(G.get()));
    Elem O(g->createCopy(nullptr));
    const LvN n(c.n.data(), c.n.size());
    Elem nG(g->createMul(n, G.get()));
    EXPECT_TRUE(g->isEqual(nG.get(), O.get()));
    Elem m1(g->createMul(n - 1u, G.get()));
    Elem negG(g->createNegation(G.get()));
    EXPECT_TRUE(g->isEqual(m1.get(), negG.get()));

    const unsigned int bits = n.getBitLength();
    for (int i = 0; i < 3; i++) {
      LvN k1 = randomScalar(rng, bits), k2 = randomScalar(rng, bits);
      Elem fast(g->createMul(k1, G.get()));
      Elem slow(g->createCopy(nullptr));
      g->LvGroup::mul(slow.get(), k1, G.get());
      EXPECT_TRUE(g->isEqual(fast.get(), slow.get()));
      EXPECT_TRUE(g->isElement(fast.get()));
      // a second point, then k1·G + k2·H both ways
      Elem H(g->createMul(k2 + 7u, G.get()));
      Elem f2(g->createMul2(k1, G.get(), k2, H.get()));
      Elem s2(g->createCopy(nullptr));
      g->LvAbelianGroup::mul2(s2.get(), k1, G.get(), k2, H.get());
      EXPECT_TRUE(g->isEqual(f2.get(), s2.get()));
      // with G's table of multiples
      Elem T(g->createCopy(G.get()));
      g->precompute(T.get());
      Elem f3(g->createMul2(k1, T.get(), k2, H.get()));
      EXPECT_TRUE(g->isEqual(f3.get(), s2.get()));
      Elem f4(g->createMul(k1, T.get()));
      EXPECT_TRUE(g->isEqual(f4.get(), slow.get()));
      // the same object twice: one scalar k1 + k2
      Elem f5(g->createMul2(k1, G.get(), k2, G.get()));
      Elem s5(g->createMul(k1 + k2, G.get()));
      EXPECT_TRUE(g->isEqual(f5.get(), s5.get()));
    }
    Elem w5(g->createMulWord(5, G.get()));
    Elem m5(g->createMul(LvN(5u, 1), G.get()));
    EXPECT_TRUE(g->isEqual(w5.get(), m5.get()));
    Elem w0(g->createMulWord(0, G.get()));
    EXPECT_TRUE(g->isEqual(w0.get(), O.get()));
  }
}

TEST(EcCurve, TableIsDroppedWhenThePointChanges) {
  const auto& c = curve("secp384r1");
  auto g = makeCurve(c);
  Elem G(g->createNew(c.G.data(), c.G.size()));
  Elem P(g->createCopy(G.get()));
  g->precompute(P.get());
  g->doubleInPlace(P.get());  // P = 2G now
  const LvN k(std::string("123456789123456789").c_str());
  Elem a(g->createMul(k, P.get()));
  Elem b(g->createMul(k + k, G.get()));
  EXPECT_TRUE(g->isEqual(a.get(), b.get()));
}

TEST(EcCurve, PointEncodings) {
  for (const char* name : {"secp256r1", "brainpoolP256r1"}) {
    SCOPED_TRACE(name);
    const auto& c = curve(name);
    auto g = makeCurve(c);
    const unsigned int m = 32;
    Elem G(g->createNew(c.G.data(), c.G.size()));
    EXPECT_EQ(c.G, encode(*g, G.get(), 2 * m + 1));
    EXPECT_EQ(2 * m + 1, g->getOctetStringEncodingLen(G.get()));
    // the buffer size chooses the form
    Bytes comp = encode(*g, G.get(), 2 * m);
    ASSERT_EQ(m + 1, comp.size());
    EXPECT_EQ(0x02 | (c.G.back() & 1), comp[0]);
    EXPECT_TRUE(encode(*g, G.get(), m).empty());
    Elem back(g->createNew(comp.data(), comp.size()));
    EXPECT_TRUE(g->isEqual(back.get(), G.get()));
    // neutral point
    Elem O(g->createCopy(nullptr));
    EXPECT_EQ(Bytes{0}, encode(*g, O.get(), 10));
    EXPECT_EQ(1u, g->getOctetStringEncodingLen(O.get()));
    const Bytes zero1{0}, zero2{0, 0};
    Elem o2(g->createNew(zero1.data(), 1));
    EXPECT_TRUE(g->isEqual(o2.get(), O.get()));
    EXPECT_THROW(g->createNew(zero2.data(), 2), LvWrongSyntaxException);
    EXPECT_THROW(g->createNew(zero1.data(), 0), LvArgumentRangeException);
    // the hybrid form 06/07 only with y's parity in its low bit
    Bytes hybrid = c.G;
    hybrid[0] = static_cast<std::uint8_t>(0x06 | (c.G.back() & 1));
    Elem h(g->createNew(hybrid.data(), hybrid.size()));
    EXPECT_TRUE(g->isEqual(h.get(), G.get()));
    hybrid[0] ^= 1;
    EXPECT_THROW(g->createNew(hybrid.data(), hybrid.size()), LvWrongSyntaxException);
    // coordinates at or above p are no field elements
    Bytes big = c.G;
    for (unsigned int i = 1; i <= m; i++) big[i] = 0xFF;
    EXPECT_THROW(g->createNew(big.data(), big.size()), LvWrongSyntaxException);
    // wrong lengths
    EXPECT_THROW(g->createNew(c.G.data(), c.G.size() - 1), LvArgumentRangeException);
    // infinity as a DH secret or a number
    EXPECT_THROW(g->asDhSecret(O.get()), LvArgumentRangeException);
    EXPECT_THROW(g->asLvN(O.get()), LvDivByZeroException);
    // a compressed x without a square root fails the decoding, never loops
    int failures = 0;
    for (int x = 1; x < 40; x++) {
      Bytes cx(m + 1, 0);
      cx[0] = 0x02;
      cx[m] = static_cast<std::uint8_t>(x);
      try {
        Elem e(g->createNew(cx.data(), cx.size()));
        EXPECT_TRUE(g->isElement(e.get()));
      } catch (const LvWrongSyntaxException&) {
        failures++;
      }
    }
    EXPECT_GT(failures, 5);
  }
  // the special-prime curve reports a compressed form of the wrong length as
  // not implemented
  const auto& c = curve("secp256r1");
  auto g = makeCurve(c);
  Bytes bad(20, 0);
  bad[0] = 0x02;
  EXPECT_THROW(g->createNew(bad.data(), bad.size()), LvLibNotImplementedException);
}

TEST(EcCurve, InverseAndDoublingEdgeCases) {
  // y^2 = x^3 + x + 21 over GF(23) holds (1, 0), a point of order two
  const Bytes p{23}, a{1}, b{21};
  LvEp e(a.data(), 1, b.data(), 1, p.data(), 1);
  const Bytes P1{0x04, 1, 0};
  Elem P(e.createNew(P1.data(), P1.size()));
  ASSERT_TRUE(e.isElement(P.get()));
  Elem O(e.createCopy(nullptr));
  Elem twice(e.createSum(P.get(), P.get()));
  EXPECT_TRUE(e.isEqual(twice.get(), O.get()));
  Elem w2(e.createMulWord(2, P.get()));
  EXPECT_TRUE(e.isEqual(w2.get(), O.get()));
  Elem m2(e.createMul(LvN(2u, 1), P.get()));
  EXPECT_TRUE(e.isEqual(m2.get(), O.get()));

  const auto& c = curve("secp224r1");
  auto g = makeCurve(c);
  Elem G(g->createNew(c.G.data(), c.G.size()));
  Elem neg(g->createNegation(G.get()));
  Elem sum(g->createSum(G.get(), neg.get()));
  EXPECT_EQ(Bytes{0}, encode(*g, sum.get(), 100));
  Elem diff(g->createDifference(G.get(), G.get()));
  EXPECT_EQ(Bytes{0}, encode(*g, diff.get(), 100));
  // equal points held in different Jacobian forms are equal
  Elem G2(g->createSum(G.get(), G.get()));
  Elem G3(g->createSum(G2.get(), G.get()));
  Elem back(g->createDifference(G3.get(), G2.get()));
  EXPECT_TRUE(g->isEqual(back.get(), G.get()));
  const auto& c2 = curve("brainpoolP224r1");
  LvEp e2(c2.a.data(), c2.a.size(), c2.b.data(), c2.b.size(), c2.p.data(), c2.p.size());
  Elem H(e2.createNew(c2.G.data(), c2.G.size()));
  Elem H2(e2.createSum(H.get(), H.get()));
  Elem H3(e2.createSum(H2.get(), H.get()));
  Elem Hb(e2.createDifference(H3.get(), H2.get()));
  EXPECT_TRUE(e2.isEqual(Hb.get(), H.get()));
  EXPECT_FALSE(e2.isEqual(H2.get(), H.get()));
}

TEST(EcCurve, SquareRoots) {
  // P-224's prime is 1 mod 4: Tonelli-Shanks
  const auto& c = curve("secp224r1");
  const LvModulus p(LvN(c.p.data(), c.p.size()), 8);
  std::mt19937 rng(7);
  for (int i = 0; i < 5; i++) {
    LvZn x(randomScalar(rng, 200), &p);
    LvZn sq = x * x;
    LvZn r = sqrtModP(sq);
    EXPECT_TRUE(r * r == sq);
  }
  // a non-residue fails instead of searching for ever
  LvZn nr(0, &p);
  for (int v = 2;; v++) {
    if (jacobi(LvN(static_cast<LvWord>(v), 1), p) == -1) {
      nr = LvZn(v, &p);
      break;
    }
  }
  EXPECT_THROW(sqrtModP(nr), LvArgumentRangeException);
  // a square modulus has no non-residue at all: the search must end
  const LvModulus sq25(LvN(25u, 1), 8);
  EXPECT_THROW(sqrtModP(LvZn(11, &sq25)), LvArgumentRangeException);
  const LvModulus p13(LvN(13u, 1), 8);
  LvZn r10 = sqrtModP(LvZn(10, &p13));
  EXPECT_TRUE(r10 * r10 == LvZn(10, &p13));
  EXPECT_TRUE(isSmallPrime(2) && isSmallPrime(7) && isSmallPrime(65521));
  EXPECT_FALSE(isSmallPrime(0) || isSmallPrime(1) || isSmallPrime(9) || isSmallPrime(65535));
}

TEST(EcCurve, WindowWidths) {
  EXPECT_EQ(4u, lvChooseWindowWidth(160));
  EXPECT_EQ(4u, lvChooseWindowWidth(256));
  EXPECT_EQ(5u, lvChooseWindowWidth(384));
  EXPECT_EQ(5u, lvChooseWindowWidth(521));
  EXPECT_EQ(5u, lvChooseWindowWidth(1024));
  EXPECT_EQ(6u, lvChooseWindowWidth(2048));
  EXPECT_EQ(1u, lvChooseWindowWidth(1));
  EXPECT_EQ(2u, lvChooseJointWindowWidth(160));
  EXPECT_EQ(2u, lvChooseJointWindowWidth(256));
  EXPECT_EQ(3u, lvChooseJointWindowWidth(384));
  EXPECT_EQ(3u, lvChooseJointWindowWidth(1024));
  EXPECT_EQ(4u, lvChooseJointWindowWidth(6144));
}

TEST(EcCurve, MultiplicativeGroup) {
  LvMultiplicativeModulusGroup g(LvN(1019u, 1), 9);
  Elem one(g.createCopy(nullptr));
  EXPECT_EQ(LvN(1u, 1), g.asLvN(one.get()));
  const Bytes five{5}, zero{0};
  Elem f(g.createNew(five.data(), 1));
  Elem z(g.createNew(zero.data(), 1));
  EXPECT_TRUE(g.isElement(one.get()));
  EXPECT_FALSE(g.isElement(z.get()));
  // r^2 then its inverse: r^-2, and r^-2 · r^2 = 1
  Elem r(g.createCopy(f.get()));
  g.doubleInPlace(r.get());
  g.negateInPlace(r.get());
  Elem back(g.createMulWord(2, f.get()));
  g.addInPlace(back.get(), r.get());
  EXPECT_TRUE(g.isEqual(back.get(), one.get()));
  Elem s(g.createCopy(f.get()));
  g.subtractInPlace(s.get(), s.get());
  EXPECT_TRUE(g.isEqual(s.get(), one.get()));
  // 5^1018 = 1 (Fermat) through the group's power
  Elem pw(g.createMul(LvN(1018u, 1), f.get()));
  EXPECT_TRUE(g.isEqual(pw.get(), one.get()));
  EXPECT_EQ(2u, g.asDhSecret(f.get()).getLength());
  EXPECT_EQ(1u, g.getOctetStringEncodingLen(f.get()));
  EXPECT_EQ(LvN(4u, 1), computeGenerator(LvN(7u, 1), LvN(3u, 1)));
  EXPECT_EQ(LvN(2u, 1), computeGenerator(LvN(1019u, 1), LvN(1018u, 1)));
  EXPECT_THROW(computeGenerator(LvN(11u, 1), LvN(13u, 1)), LvArgumentRangeException);
}

namespace {

// The points and scalars where the engine's shortcuts (signed windows, the
// affine table, the P-521 limbs, mixed additions) and the generic formulas
// could part: the neutral point, P = -Q, equal points in distinct objects,
// scalars 0, 1, n - 1, n, above n and at the table's edge.
std::vector<LvN> edgeScalars(const ectest::CurveParams& c) {
  const LvN n(c.n.data(), c.n.size());
  const unsigned int pBits = LvN(c.p.data(), c.p.size()).getBitLength();
  const LvN one(1u, 1);
  const LvN top = one << (pBits + 1);  // one bit past the table
  std::vector<LvN> ks = {LvN(0u, 1), one,    LvN(2u, 1), n - 1u,  n,          n + 1u,
                         n + n + 3u, top - 1u, top,      LvN(17u, 1), LvN(32u, 1)};
  std::mt19937 rng(static_cast<unsigned int>(c.p.size()));
  ks.push_back(randomScalar(rng, n.getBitLength()));
  return ks;
}

}  // namespace

TEST(EcCurve, EngineAgreesWithGenericFormulasOnEdgeCases) {
  for (const char* name : {"secp256r1", "secp224r1", "secp521r1", "secp160r1", "brainpoolP256r1",
                           "secp256k1"}) {
    SCOPED_TRACE(name);
    const auto& c = curve(name);
    std::vector<std::unique_ptr<LvAbelianGroup>> gs;
    gs.emplace_back(new LvEp(c.a.data(), c.a.size(), c.b.data(), c.b.size(), c.p.data(),
                             c.p.size()));
    if (isSpecial(name))
      gs.emplace_back(new LvCryptoEp(c.a.data(), c.a.size(), c.b.data(), c.b.size(), c.p.data(),
                                     c.p.size()));
    const unsigned int len = static_cast<unsigned int>(c.G.size());
    const std::vector<LvN> ks = edgeScalars(c);
    // the reference: the generic window method over LvEp's residue formulas
    LvAbelianGroup& ref = *gs[0];
    Elem G(ref.createNew(c.G.data(), len));
    std::vector<Elem> refPoints;
    refPoints.emplace_back(ref.createCopy(nullptr));          // O
    refPoints.emplace_back(ref.createCopy(G.get()));          // G
    refPoints.emplace_back(ref.createSum(G.get(), G.get()));  // 2G
    refPoints.emplace_back(ref.createNegation(G.get()));      // -G
    // want[point][k] = k·point, encoded
    std::vector<std::vector<Bytes>> want(refPoints.size());
    for (std::size_t pi = 0; pi < refPoints.size(); pi++)
      for (const LvN& k : ks) {
        Elem r(ref.createCopy(nullptr));
        ref.LvGroup::mul(r.get(), k, refPoints[pi].get());
        want[pi].push_back(encode(ref, r.get(), len));
      }
    auto sum = [&](const Bytes& x, const Bytes& y) {
      Elem a(ref.createNew(x.data(), static_cast<unsigned int>(x.size())));
      Elem b(ref.createNew(y.data(), static_cast<unsigned int>(y.size())));
      ref.addInPlace(a.get(), b.get());
      return encode(ref, a.get(), len);
    };
    for (std::size_t gi = 0; gi < gs.size(); gi++) {
      SCOPED_TRACE(gi == 0 ? "LvEp" : "LvCryptoEp");
      LvAbelianGroup& g = *gs[gi];
      std::vector<Elem> pts, tabled;
      for (const Elem& rp : refPoints) {
        const Bytes enc = encode(ref, rp.get(), len);
        pts.emplace_back(g.createNew(enc.data(), static_cast<unsigned int>(enc.size())));
        tabled.emplace_back(g.createNew(enc.data(), static_cast<unsigned int>(enc.size())));
        g.precompute(tabled.back().get());
      }
      // 2G from the group's own doubling (Z != 1), not re-encoded
      pts.emplace_back(g.createSum(pts[1].get(), pts[1].get()));
      const std::size_t refOf[] = {0, 1, 2, 3, 2};
      for (std::size_t pi = 0; pi < pts.size(); pi++) {
        for (std::size_t ki = 0; ki < ks.size(); ki++) {
          const Bytes& w = want[refOf[pi]][ki];
          const unsigned int bits = ks[ki].getBitLength();
          Elem r(g.createMul(ks[ki], pts[pi].get()));
          EXPECT_EQ(w, encode(g, r.get(), len)) << "point " << pi << ", k bits " << bits;
          if (pi < tabled.size()) {
            Elem t(g.createMul(ks[ki], tabled[pi].get()));
            EXPECT_EQ(w, encode(g, t.get(), len)) << "table, point " << pi << ", k bits " << bits;
          }
          if (gi > 0 && ki % 3 == 0) {  // the special-prime formulas, generically
            Elem gw(g.createCopy(nullptr));
            g.LvGroup::mul(gw.get(), ks[ki], pts[pi].get());
            EXPECT_EQ(w, encode(g, gw.get(), len));
          }
        }
      }
      // two scalars: P = -Q, equal values in distinct objects, the neutral
      // point on either side, tables on either side
      const LvGroupElem *O = pts[0].get(), *P = pts[1].get(), *P2 = pts[2].get(),
                        *negP = pts[3].get(), *P2j = pts[4].get();
      Elem Pcopy(g.createCopy(P));
      struct Pair {
        const LvGroupElem *a, *b;
        std::size_t ra, rb;
      };
      const Pair pairs[] = {{P, negP, 1, 3},          {P, Pcopy.get(), 1, 1},
                            {P2, P2j, 2, 2},          {O, P, 0, 1},
                            {P, O, 1, 0},             {tabled[1].get(), negP, 1, 3},
                            {P2j, tabled[1].get(), 2, 1}, {tabled[3].get(), tabled[1].get(), 3, 1}};
      // (k1, k2) index pairs: equal scalars, 0 and n, n - 1 and 1, above n
      const std::size_t kp[][2] = {{1, 1}, {0, 4}, {3, 1}, {6, 11}, {11, 11}, {8, 7}};
      for (const Pair& pr : pairs) {
        for (const auto& kk : kp) {
          const Bytes w = sum(want[pr.ra][kk[0]], want[pr.rb][kk[1]]);
          Elem r(g.createMul2(ks[kk[0]], pr.a, ks[kk[1]], pr.b));
          EXPECT_EQ(w, encode(g, r.get(), len)) << "pair " << (&pr - pairs) << " k " << kk[0]
                                                << "," << kk[1];
          if (kk[0] == 3 || kk[0] == 6) {
            Elem j(g.createCopy(nullptr));
            g.LvAbelianGroup::mul2(j.get(), ks[kk[0]], pr.a, ks[kk[1]], pr.b);
            EXPECT_EQ(w, encode(g, j.get(), len)) << "joint window, pair " << (&pr - pairs);
          }
        }
      }
      // single additions through the group's formulas
      Elem s1(g.createSum(P, negP));
      EXPECT_EQ(Bytes{0}, encode(g, s1.get(), len));
      Elem s2(g.createSum(P, Pcopy.get()));
      EXPECT_EQ(encode(g, P2, len), encode(g, s2.get(), len));
      Elem s3(g.createDifference(P2j, P2));
      EXPECT_EQ(Bytes{0}, encode(g, s3.get(), len));
      Elem s4(g.createSum(P2j, P2));
      Elem w4(g.createMulWord(4, P));
      EXPECT_EQ(encode(g, w4.get(), len), encode(g, s4.get(), len));
      Elem s5(g.createSum(O, negP));
      EXPECT_EQ(encode(g, negP, len), encode(g, s5.get(), len));
      EXPECT_TRUE(g.isEqual(P2, P2j));
    }
  }
}

// Over a composite modulus (explicit parameters from a stranger) the table of
// a precomputed point cannot be built: the results still agree with the
// generic formulas.
TEST(EcCurve, CompositeModulusNeedsNoTable) {
  // p = p1·p2 with two 96-bit primes; b puts (5, 7) on y^2 = x^3 + 3x + b
  const Bytes p = hex("6ead7cc8d3a2e4aff5be7c2cd88353cc72496c7d3197e431");
  const Bytes b = hex("6ead7cc8d3a2e4aff5be7c2cd88353cc72496c7d3197e3d6");
  const Bytes a{3};
  const Bytes g = hex("0400000000000000000000000000000000000000000000000500000000000000000000000000"
                      "0000000000000000000007");
  LvEp e(a.data(), 1, b.data(), static_cast<unsigned int>(b.size()), p.data(),
         static_cast<unsigned int>(p.size()));
  Elem G(e.createNew(g.data(), static_cast<unsigned int>(g.size())));
  ASSERT_TRUE(e.isElement(G.get()));
  Elem T(e.createCopy(G.get()));
  e.precompute(T.get());
  std::mt19937 rng(3);
  for (int i = 0; i < 4; i++) {
    const LvN k = randomScalar(rng, 150 + 10 * i);
    Elem want(e.createCopy(nullptr));
    e.LvGroup::mul(want.get(), k, G.get());
    Elem r(e.createMul(k, T.get()));
    EXPECT_EQ(encode(e, want.get(), 49), encode(e, r.get(), 49));
    Elem r2(e.createMul2(k, T.get(), k + 1u, G.get()));
    Elem w2(e.createCopy(nullptr));
    e.LvAbelianGroup::mul2(w2.get(), k, G.get(), k + 1u, G.get());
    EXPECT_EQ(encode(e, w2.get(), 49), encode(e, r2.get(), 49));
  }
}

namespace {

// x of k·P by the generic window method: the reference of the constant-time
// multiplication (0 for the point at infinity).
LvN referenceX(const LvGroup& g, const LvN& k, const LvGroupElem* P) {
  Elem r(g.createCopy(nullptr));
  g.LvGroup::mul(r.get(), k, P);
  try {
    return g.asLvN(r.get());
  } catch (const LvException&) {
    return LvN(0u, 1);
  }
}

}  // namespace

// The signing nonce's multiplication (fixed windows, masked table reads,
// masked exceptional cases) against the generic formulas, with and without
// the generator's table, on the edge scalars and random ones.
TEST(EcCurve, SecretScalarMultiplicationAgreesWithGenericMethods) {
  std::mt19937 rng(777);
  for (const auto& kv : ectest::curves()) {
    SCOPED_TRACE(kv.first);
    const auto& c = kv.second;
    auto g = makeCurve(c);
    const LvN n(c.n.data(), c.n.size());
    Elem G(g->createNew(c.G.data(), static_cast<unsigned int>(c.G.size())));
    Elem T(g->createCopy(G.get()));
    g->precompute(T.get());
    std::vector<LvN> ks = {LvN(0u, 1), LvN(1u, 1), LvN(2u, 1), n - 1u, n, n + 1u, n - 2u};
    for (int i = 0; i < 3; i++) ks.push_back(randomScalar(rng, n.getBitLength()) % n);
    for (const LvN& k : ks) {
      if (k.getBitLength() > n.getBitLength()) continue;
      const LvN want = referenceX(*g, k, G.get());
      // a fixed word count above the scalar's own, as signing passes it
      std::vector<LvWord> kw(n.getUsed() + 1, 0);
      for (unsigned int i = 0; i < k.getUsed(); i++) kw[i] = k.getWords()[i];
      for (const LvGroupElem* P : {G.get(), T.get()}) {
        const std::vector<LvWord> x =
            g->mulSecretX(kw.data(), static_cast<unsigned int>(kw.size()), n, P);
        EXPECT_EQ(want, LvN(x.data(), static_cast<LvWordLen>(x.size())))
            << "k " << k.toString().getText() << (P == T.get() ? " (table)" : "");
      }
    }
  }
}

// A table made in stages, as the key domains make their generators': every
// multiplication on the way (one scalar, two scalars, the secret one) agrees
// with the generic formulas whether the table is absent, partly made or
// complete, and the table is complete after a bounded number of uses.
TEST(EcCurve, TableMadeInStagesAgreesAtEveryStage) {
  std::mt19937 rng(91);
  for (const char* name : {"secp256r1", "secp384r1", "secp521r1", "brainpoolP512r1", "secp256k1"}) {
    SCOPED_TRACE(name);
    const auto& c = curve(name);
    auto g = makeCurve(c);
    const LvN n(c.n.data(), c.n.size());
    Elem G(g->createNew(c.G.data(), static_cast<unsigned int>(c.G.size())));
    Elem T(g->createCopy(G.get()));
    g->precomputeInStages(T.get());
    const auto* special = dynamic_cast<const LvCryptoEpPoint*>(T.get());
    int completeAt = -1;
    for (int use = 0; use < 40 && (completeAt < 0 || use < completeAt + 3); use++) {
      const LvN k1 = randomScalar(rng, n.getBitLength()) % n;
      const LvN k2 = randomScalar(rng, n.getBitLength()) % n;
      Elem H(g->createMul(k2 + 3u, G.get()));
      Elem want(g->createCopy(nullptr));
      switch (use % 3) {
        case 0: {
          g->LvGroup::mul(want.get(), k1, G.get());
          Elem got(g->createMul(k1, T.get()));
          EXPECT_TRUE(g->isEqual(got.get(), want.get())) << "use " << use;
          break;
        }
        case 1: {
          g->LvAbelianGroup::mul2(want.get(), k1, G.get(), k2, H.get());
          // the tabled point second: the group puts it first
          Elem got(g->createMul2(k2, H.get(), k1, T.get()));
          EXPECT_TRUE(g->isEqual(got.get(), want.get())) << "use " << use;
          break;
        }
        default: {
          std::vector<LvWord> kw(n.getUsed() + 1, 0);
          for (unsigned int i = 0; i < k1.getUsed(); i++) kw[i] = k1.getWords()[i];
          const std::vector<LvWord> x =
              g->mulSecretX(kw.data(), static_cast<unsigned int>(kw.size()), n, T.get());
          EXPECT_EQ(referenceX(*g, k1, G.get()), LvN(x.data(), static_cast<LvWordLen>(x.size())))
              << "use " << use;
        }
      }
      if (special && completeAt < 0 && special->hasTable()) completeAt = use;
    }
    if (special) { EXPECT_GE(completeAt, 1) << "a table made in stages is not made at once"; }
    if (special) { EXPECT_GE(completeAt, 0) << "the table was never completed"; }
  }
}

// EC-DSA's last check without the inversion (X = x·Z^2 for a candidate x) on
// the generic curves, against the affine x: points with Z != 1, r one off
// either way, a candidate at or past p (secp160r1's order exceeds p), the
// neutral point, an order too small for the shortcut.
TEST(EcCurve, XModOrderWithoutInversionOnAnyPrime) {
  std::mt19937 rng(17);
  for (const char* name :
       {"brainpoolP256r1", "brainpoolP512r1", "secp256k1", "secp160r1", "secp521r1"}) {
    SCOPED_TRACE(name);
    const auto& c = curve(name);
    LvEp g(c.a.data(), c.a.size(), c.b.data(), c.b.size(), c.p.data(), c.p.size());
    const LvN n(c.n.data(), c.n.size()), p(c.p.data(), c.p.size());
    Elem G(g.createNew(c.G.data(), static_cast<unsigned int>(c.G.size())));
    Elem O(g.createCopy(nullptr));
    EXPECT_FALSE(g.xModEquals(O.get(), LvN(0u, 1), n));
    for (int i = 0; i < 12; i++) {
      const LvN k = randomScalar(rng, n.getBitLength()) % n;
      Elem X(g.createMul2(k, G.get(), k + 3u, G.get()));
      const LvN x = g.asLvN(X.get());
      const LvN r = x % n;
      for (const LvN& cand : {r, (r + 1u) % n, r.isZero() ? n - 1u : r - 1u, (x + p) % n}) {
        EXPECT_EQ(g.LvGroup::xModEquals(X.get(), cand, n), g.xModEquals(X.get(), cand, n))
            << cand.toString().getText();
      }
      EXPECT_TRUE(g.xModEquals(X.get(), r, n));
      // a small order takes the affine road: x mod 2^16 + 1
      const LvN small(65537u, 1);
      EXPECT_TRUE(g.xModEquals(X.get(), x % small, small));
      EXPECT_FALSE(g.xModEquals(X.get(), (x + 1u) % small, small));
    }
  }
}
