// Curves over GF(2^m): point decoding and encoding, the group law and scalar
// multiplication, against points and keys made by `openssl`
// (tests/data/gf2n/gen_openssl.py) and the published curve parameters.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>

#include "crypto/algebra/lve2n.h"
#include "crypto/algebra/test_gf2n_util.h"

using namespace gf2ntest;

namespace {

struct Params {
  const char* name;
  int binary;
  const char *a, *b, *field, *G, *n, *h;
};

const Params kParams[] = {
#include "crypto/algebra/named_curve_params.inc"
};

const Params& params(const std::string& name) {
  static const std::map<std::string, std::string> renamed = {{"c2tnb359v1", "c2pnb359v1"},
                                                             {"c2tnb431r1", "c2pnb431r1"}};
  auto it = renamed.find(name);
  const std::string want = it == renamed.end() ? name : it->second;
  for (const Params& p : kParams)
    if (want == p.name) return p;
  throw std::runtime_error("no curve " + name);
}

struct Curve {
  std::unique_ptr<LvE2n> E;
  Bytes G;
  LvN n;
};

Curve curveOf(const std::string& name) {
  const Params& p = params(name);
  const Bytes a = hex(p.a), b = hex(p.b), f = hex(p.field);
  Curve c;
  c.E.reset(new LvE2n(a.data(), static_cast<unsigned>(a.size()), b.data(),
                      static_cast<unsigned>(b.size()), f.data(), static_cast<unsigned>(f.size())));
  c.G = hex(p.G);
  const Bytes n = hex(p.n);
  c.n = LvN(n.data(), static_cast<unsigned>(n.size()));
  return c;
}

typedef std::unique_ptr<LvGroupElem> Elem;

Elem decode(const LvE2n& E, const Bytes& b) {
  return Elem(E.createNew(b.data(), static_cast<unsigned>(b.size())));
}

Bytes encode(const LvE2n& E, const LvGroupElem* P) {
  Bytes out(E.getOctetStringEncodingLen(P));
  EXPECT_EQ(E.asOctetString(P, out.data(), static_cast<unsigned>(out.size())), out.size());
  return out;
}

const LvE2nPoint* pt(const Elem& e) { return static_cast<const LvE2nPoint*>(e.get()); }

// x(k·G) by the signing ladder equals the public multiplication's.
::testing::AssertionResult ladderMatches(const LvE2n& E, const Elem& G, const LvN& n,
                                         const LvN& k) {
  Elem R(E.createMul(k, G.get()));
  const LvN want = pt(R)->isInfinity() ? LvN(0u, 1) : E.asLvN(R.get());
  std::vector<LvWord> kw(n.getUsed(), 0);
  for (unsigned int i = 0; i < k.getUsed() && i < kw.size(); i++) kw[i] = k.getWords()[i];
  const std::vector<LvWord> x =
      E.mulSecretX(kw.data(), static_cast<unsigned int>(kw.size()), n, G.get());
  if (want == LvN(x.data(), static_cast<LvWordLen>(x.size()))) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "k = " << k.toString().getText();
}

}  // namespace

TEST(Gf2nCurve, EncodingRoundTripAndBufferSizes) {
  Curve c = curveOf("sect163k1");
  const LvE2n& E = *c.E;
  Elem G = decode(E, c.G);
  EXPECT_TRUE(E.isElement(G.get()));
  EXPECT_EQ(E.getOctetStringEncodingLen(G.get()), 43u);
  EXPECT_EQ(encode(E, G.get()), c.G);
  Bytes buf(43);
  EXPECT_THROW(E.asOctetString(G.get(), buf.data(), 42), LvArgumentRangeException);
  EXPECT_EQ(E.asOctetString(G.get(), buf.data(), 43), 43u);
  EXPECT_THROW(E.asOctetString(nullptr, buf.data(), 43), LvNotInitException);
  EXPECT_THROW(E.getOctetStringEncodingLen(nullptr), LvNotInitException);

  Elem O = decode(E, Bytes{0x00});
  EXPECT_TRUE(pt(O)->isInfinity());
  EXPECT_EQ(encode(E, O.get()), Bytes{0x00});
  EXPECT_THROW(E.asOctetString(O.get(), buf.data(), 0), LvArgumentRangeException);
  EXPECT_THROW(decode(E, Bytes{0x00, 0x00}), LvWrongSyntaxException);
  EXPECT_THROW(E.createNew(c.G.data(), 0), LvArgumentRangeException);
  Bytes shortG(c.G.begin(), c.G.end() - 1);
  EXPECT_THROW(decode(E, shortG), LvArgumentRangeException);
  EXPECT_THROW(E.asDhSecret(O.get()), LvArgumentRangeException);
  EXPECT_THROW(E.asLvN(O.get()), LvDivByZeroException);
  const LvConvOS dh = E.asDhSecret(G.get());
  EXPECT_EQ(Bytes(dh.ptr(), dh.ptr() + dh.getLength()), Bytes(c.G.begin() + 1, c.G.begin() + 22));
  EXPECT_EQ(E.asLvN(G.get()), LvN(c.G.data() + 1, 21));
}

// Only the SEC 1 forms are read: 04 (with coordinates below 2^m), 02/03, 00
// alone, and 06/07 when their parity bit agrees.
TEST(Gf2nCurve, RefusesMalformedEncodings) {
  Curve c = curveOf("sect163k1");
  const LvE2n& E = *c.E;
  Bytes g = c.G;
  g[0] = 0x05;
  EXPECT_THROW(decode(E, g), LvWrongSyntaxException);
  g[0] = 0xFF;
  EXPECT_THROW(decode(E, g), LvWrongSyntaxException);
  g = c.G;
  g[1] |= 0x08;  // bit 163 of x
  EXPECT_THROW(decode(E, g), LvWrongSyntaxException);
  g = c.G;
  g[22] |= 0x80;  // bit 167 of y
  EXPECT_THROW(decode(E, g), LvWrongSyntaxException);

  // hybrid: the parity bit of y/x decides which of 06 and 07 is accepted
  Elem G = decode(E, c.G);
  LvGF2n z = pt(G)->getY() / pt(G)->getX();
  g = c.G;
  g[0] = static_cast<std::uint8_t>(0x06 | z.lowBit());
  Elem H = decode(E, g);
  EXPECT_TRUE(E.isEqual(H.get(), G.get()));
  g[0] ^= 1;
  EXPECT_THROW(decode(E, g), LvWrongSyntaxException);
}

TEST(Gf2nCurve, CompressedPointsMatchOpenssl) {
  // published compressed base points, against openssl's uncompressed ones
  for (const std::string& line : lines("generators.txt")) {
    std::istringstream ls(line);
    std::string name, gen;
    ls >> name >> gen;
    SCOPED_TRACE(name);
    Curve c = curveOf(name);
    ASSERT_TRUE(c.G[0] == 2 || c.G[0] == 3);
    Elem G = decode(*c.E, c.G);
    EXPECT_EQ(encode(*c.E, G.get()), hex(gen));
    EXPECT_TRUE(c.E->isElement(G.get()));
  }
  // openssl's compressed public keys; the other prefix gives the negative
  for (const std::string& line : lines("signatures.txt")) {
    std::istringstream ls(line);
    std::string curve, h, msg, pub, comp;
    ls >> curve >> h >> msg >> pub >> comp;
    SCOPED_TRACE(curve);
    Curve c = curveOf(curve);
    Elem P = decode(*c.E, hex(comp));
    EXPECT_EQ(encode(*c.E, P.get()), hex(pub));
    Bytes other = hex(comp);
    other[0] ^= 1;
    Elem N = decode(*c.E, other);
    Elem negP(c.E->createNegation(P.get()));
    EXPECT_TRUE(c.E->isEqual(N.get(), negP.get()));
    EXPECT_FALSE(c.E->isEqual(N.get(), P.get()));
  }
}

// An abscissa without a point is refused, not returned with y = 0.
TEST(Gf2nCurve, CompressedAbscissaWithoutPointIsRefused) {
  Curve c = curveOf("sect233r1");
  const LvE2n& E = *c.E;
  unsigned int refused = 0, accepted = 0;
  for (std::uint8_t x = 1; x < 40; x++) {
    Bytes enc(31, 0);
    enc[0] = 0x02;
    enc[30] = x;
    try {
      Elem P = decode(E, enc);
      EXPECT_TRUE(E.isElement(P.get()));
      accepted++;
    } catch (const LvWrongSyntaxException&) {
      refused++;
    }
  }
  EXPECT_GT(refused, 5u);
  EXPECT_GT(accepted, 5u);
  Bytes zeroX(31, 0);
  zeroX[0] = 0x03;
  EXPECT_THROW(decode(E, zeroX), LvLibNotImplementedException);
}

TEST(Gf2nCurve, GroupLaw) {
  Curve c = curveOf("sect283r1");
  const LvE2n& E = *c.E;
  Elem G = decode(E, c.G);
  Elem neg(E.createNegation(G.get()));
  Elem sum(E.createSum(G.get(), neg.get()));
  EXPECT_TRUE(pt(sum)->isInfinity());
  // adding another object of the same value doubles
  Elem copy(E.createCopy(G.get()));
  Elem viaAdd(E.createSum(G.get(), copy.get()));
  Elem dbl(E.createCopy(G.get()));
  E.doubleInPlace(dbl.get());
  EXPECT_TRUE(E.isEqual(viaAdd.get(), dbl.get()));
  EXPECT_TRUE(E.isElement(dbl.get()));
  Elem three(E.createSum(dbl.get(), G.get()));
  Elem three2(E.createMulWord(3, G.get()));
  EXPECT_TRUE(E.isEqual(three.get(), three2.get()));
  Elem diff(E.createDifference(three.get(), G.get()));
  EXPECT_TRUE(E.isEqual(diff.get(), dbl.get()));

  // the point with x = 0 has order 2: doubling it gives the neutral point
  LvGF2n root(&E.getField()), root2(&E.getField());
  ASSERT_EQ(solve(LvGF2n(&E.getField()), E.getB(), root, root2), 1u);
  const unsigned int mo = E.getFieldOctets();
  Bytes enc(2 * mo + 1, 0);
  enc[0] = 0x04;
  root.asOctetString(enc.data() + 1 + mo, mo);
  Elem T = decode(E, enc);
  EXPECT_TRUE(E.isElement(T.get()));
  E.doubleInPlace(T.get());
  EXPECT_TRUE(pt(T)->isInfinity());
}

TEST(Gf2nCurve, ScalarMultiplicationMatchesOpensslKeys) {
  for (const std::string& line : lines("keys.txt")) {
    std::istringstream ls(line);
    std::string curve, d, Q;
    ls >> curve >> d >> Q;
    SCOPED_TRACE(curve);
    Curve c = curveOf(curve);
    const LvE2n& E = *c.E;
    Elem G = decode(E, c.G);
    const Bytes db = hex(d);
    const LvN k(db.data(), static_cast<unsigned>(db.size()));
    Elem P(E.createMul(k, G.get()));
    EXPECT_EQ(toHex(encode(E, P.get()).data(), 2 * E.getFieldOctets() + 1), Q);
    // n·G = O and k·G + (n - k)·G = O through the joint multiplication
    Elem O(E.createMul(c.n, G.get()));
    EXPECT_TRUE(pt(O)->isInfinity());
    Elem Q2 = decode(E, hex(Q));
    Elem R(E.createMul2(c.n - k, G.get(), LvN(1u, 1), Q2.get()));
    EXPECT_TRUE(pt(R)->isInfinity());
  }
}

TEST(Gf2nCurve, CoefficientsAndFieldAreChecked) {
  const Params& p = params("sect163k1");
  const Bytes f = hex(p.field), one = hex("01");
  Bytes bigA(21, 0);
  bigA[0] = 0x08;  // x^163: not below 2^163
  EXPECT_THROW(LvE2n(bigA.data(), 21, one.data(), 1, f.data(), static_cast<unsigned>(f.size())),
               LvArgumentRangeException);
  Bytes longB(23, 0);
  longB[0] = 0x01;
  EXPECT_THROW(LvE2n(one.data(), 1, longB.data(), 23, f.data(), static_cast<unsigned>(f.size())),
               LvArgumentRangeException);
  Bytes reducible = f;
  reducible.back() ^= 0x02;  // x^163 + x^7 + x^6 + x^3 + x + 1: even weight, x + 1 divides it
  EXPECT_THROW(LvE2n(one.data(), 1, one.data(), 1, reducible.data(),
                     static_cast<unsigned>(reducible.size())),
               LvArgumentRangeException);
}

TEST(Gf2nCurve, EmptyCurveCopies) {
  const LvE2n empty;
  const LvE2n copy(empty);
  EXPECT_TRUE(copy.getField().isEmpty());
  const Curve c = curveOf("sect163k1");
  LvE2n assigned(*c.E);
  assigned = empty;
  EXPECT_TRUE(assigned.getField().isEmpty());
  const Bytes one = hex("0401");
  EXPECT_THROW(decode(copy, one), LvNotInitException);
}

// The signing nonce's Montgomery ladder against the generic multiplication on
// every binary curve: edge scalars (where the ladder's intermediate points
// reach infinity) and random ones.
TEST(Gf2nCurve, SecretScalarLadderAgreesWithGenericMultiplication) {
  unsigned int seed = 1;
  for (const Params& p : kParams) {
    if (!p.binary) continue;
    SCOPED_TRACE(p.name);
    Curve c = curveOf(p.name);
    const LvE2n& E = *c.E;
    Elem G = decode(E, c.G);
    const LvN& n = c.n;
    std::vector<LvN> ks = {LvN(0u, 1), LvN(1u, 1), LvN(2u, 1), n - 1u, n - 2u, n, n + 1u};
    Bytes rb((n.getBitLength() + 7) / 8);
    for (int i = 0; i < 2; i++) {
      for (auto& b : rb) b = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
      ks.push_back(LvN(rb.data(), static_cast<unsigned>(rb.size())) % n);
    }
    for (const LvN& k : ks) EXPECT_TRUE(ladderMatches(E, G, n, k));
  }
}

// The ladder on many random scalars of the curves whose fields take the
// carry-less kernels (or, switched off, the portable ones), against the
// public multiplication.
TEST(Gf2nCurve, SecretScalarLadderOnRandomScalars) {
  struct Run {
    const char* curve;
    int scalars;
  };
  const Run runs[] = {{"sect163k1", 300}, {"sect233r1", 300}, {"sect233k1", 200},
                      {"sect283k1", 300}, {"sect409r1", 150}, {"sect571r1", 150}};
  unsigned long long state = 0xD1B54A32D192ED03ull;
  for (const Run& run : runs) {
    SCOPED_TRACE(run.curve);
    Curve c = curveOf(run.curve);
    const LvE2n& E = *c.E;
    Elem G = decode(E, c.G);
    const LvN& n = c.n;
    Bytes rb((n.getBitLength() + 7) / 8);
    for (int i = 0; i < run.scalars; i++) {
      for (auto& b : rb) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        b = static_cast<std::uint8_t>(state >> 56);
      }
      ASSERT_TRUE(ladderMatches(E, G, n, LvN(rb.data(), static_cast<unsigned>(rb.size())) % n));
    }
  }
}

// Single and joint multiplications (their tables are made affine together)
// against the group's generic double-and-add, on pairs where table entries
// meet the neutral point or a doubling: P and -P, P and a copy of P, 2P and
// P, the neutral point on either side, and a point of order 2.
TEST(Gf2nCurve, MultiplicationTablesOnEdgePairs) {
  for (const char* name : {"sect163r2", "sect233k1", "sect283r1"}) {
    SCOPED_TRACE(name);
    Curve c = curveOf(name);
    const LvE2n& E = *c.E;
    Elem P = decode(E, c.G);
    Elem negP(E.createNegation(P.get())), copyP(E.createCopy(P.get()));
    Elem P2(E.createSum(P.get(), P.get())), O(E.createCopy(nullptr));
    LvGF2n root(&E.getField()), root2(&E.getField());
    ASSERT_EQ(solve(LvGF2n(&E.getField()), E.getB(), root, root2), 1u);
    Bytes enc(2 * E.getFieldOctets() + 1, 0);
    enc[0] = 0x04;
    root.asOctetString(enc.data() + 1 + E.getFieldOctets(), E.getFieldOctets());
    Elem T = decode(E, enc);  // (0, sqrt(b)), of order 2
    const LvN& n = c.n;
    const std::vector<LvN> ks = {LvN(0u, 1), LvN(1u, 1), LvN(2u, 1), LvN(3u, 1), n - 1u, n,
                                 n - 2u,     LvN(hex("0123456789ABCDEF0123456789").data(), 13)};
    auto generic = [&](const LvN& k, const LvGroupElem* A) {
      Elem r(E.createCopy(nullptr));
      E.LvGroup::mul(r.get(), k, A);
      return r;
    };
    const LvGroupElem* pairs[][2] = {{P.get(), negP.get()}, {P.get(), copyP.get()},
                                     {P2.get(), P.get()},   {O.get(), P.get()},
                                     {P.get(), O.get()},    {T.get(), P.get()}};
    for (const auto& pr : pairs) {
      for (std::size_t i = 0; i < ks.size(); i++) {
        const LvN& k1 = ks[i];
        const LvN& k2 = ks[(i * 5 + 3) % ks.size()];
        Elem want = generic(k1, pr[0]);
        Elem second = generic(k2, pr[1]);
        E.addInPlace(want.get(), second.get());
        Elem got(E.createMul2(k1, pr[0], k2, pr[1]));
        EXPECT_TRUE(E.isEqual(want.get(), got.get())) << "pair " << (&pr - pairs) << " k " << i;
        Elem single(E.createMul(k1, pr[0]));
        Elem singleWant = generic(k1, pr[0]);
        EXPECT_TRUE(E.isEqual(singleWant.get(), single.get())) << "pair " << (&pr - pairs);
      }
    }
  }
}
