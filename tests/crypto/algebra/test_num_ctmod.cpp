// Constant-time residues modulo a public odd modulus against the ordinary
// number arithmetic: reduction of long inputs, products, sums, Fermat's
// inverse, fixed-length output.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "crypto/algebra/lvctmod.h"

namespace {

LvN randomN(std::mt19937& rng, unsigned int octets) {
  std::vector<LvOctet> b(octets);
  for (auto& x : b) x = static_cast<LvOctet>(rng());
  return LvN(b.data(), octets);
}

LvN plain(const LvCtMod& c, const LvCtMod::Num& a) {
  std::vector<LvOctet> o(8 * c.limbs());
  c.toOctets(o.data(), static_cast<unsigned int>(o.size()), a);
  return LvN(o.data(), static_cast<unsigned int>(o.size()));
}

}  // namespace

TEST(CtMod, AgreesWithNumberArithmetic) {
  // group orders (P-256, P-521, a DSA q), one limb, a modulus filling its
  // limbs exactly and one just above a limb boundary
  const struct {
    const char* text;
    bool prime;
  } moduli[] = {
      {"0xFFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551", true},
      {"0x1FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFA518"
       "68783BF2F966B7FCC0148F709A5D03BB5C9B8899C47AEBB6FB71E91386409",
       true},
      {"0x8CF83642A709A097B447997640129DA299B1A47D1EB3750BA308B0FE64F5FBD3", true},
      {"0xFFFFFFFB", true},
      {"0xFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF61", false},
      {"0x10000000000000000000000000000000D", false}};
  std::mt19937 rng(99);
  for (const auto& mod : moduli) {
    SCOPED_TRACE(mod.text);
    const LvN m(mod.text);
    const LvCtMod c(m);
    const unsigned int mo = m.getOctetLength();
    for (int i = 0; i < 20; i++) {
      // inputs of twice the modulus' length and odd lengths, zero included
      const LvN a = i == 0 ? LvN(0u, 1) : randomN(rng, 2 * mo + (i % 3));
      const LvN b = randomN(rng, mo + 1) % m;
      std::vector<LvOctet> ao(a.getOctetLength());
      a.getOctets(ao.data(), static_cast<unsigned int>(ao.size()), 1);
      LvCtMod::Num ar, br, am, bm, t;
      c.fromOctets(ar, ao.data(), static_cast<unsigned int>(ao.size()));
      EXPECT_EQ(a % m, plain(c, ar));
      c.fromN(br, b);
      EXPECT_EQ(b, plain(c, br));
      c.toMont(am, ar);
      c.toMont(bm, br);
      c.mul(t, am, bm);
      c.fromMont(t, t);
      EXPECT_EQ((a * b) % m, plain(c, t));
      c.add(t, am, bm);
      c.fromMont(t, t);
      EXPECT_EQ((a + b) % m, plain(c, t));
      EXPECT_EQ(a % m == LvN(0u, 1), c.zeroMask(ar) != 0);
      // Fermat's inverse where the modulus is prime
      if (mod.prime && !(a % m).isZero()) {
        c.inverse(t, am);
        EXPECT_NE(0u, c.oneMask([&] {
          LvCtMod::Num p;
          c.mul(p, t, am);
          return p;
        }()));
      }
      std::vector<LvWord> w(c.limbs() * 2 + 1);
      c.toWords(w.data(), static_cast<unsigned int>(w.size()), ar);
      EXPECT_EQ(a % m, LvN(w.data(), static_cast<LvWordLen>(w.size())));
    }
  }
  EXPECT_THROW(LvCtMod(LvN(10u, 1)), LvArgumentRangeException);
  EXPECT_THROW(LvCtMod(LvN(1u, 1)), LvArgumentRangeException);
}

// Four-limb moduli take the processor's MULX/ADX product where it has one:
// operands at the edges (0, 1, m - 2, m - 1, limbs all ones) and random ones,
// products and Fermat's inverse against the number arithmetic.
TEST(CtMod, FourLimbProductsAtTheEdges) {
  const char* moduli[] = {
      "0xFFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551",  // P-256 order
      "0xA9FB57DBA1EEA9BC3E660A909D838D718C397AA3B561A6F7901E0E82974856A7",  // brainpoolP256r1
      "0xFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEBAAEDCE6AF48A03BBFD25E8CD0364141",  // secp256k1
      "0xC000000000000000000000000000000000000000000000000000000000000001"};  // top bits set
  std::mt19937 rng(7);
  for (const char* text : moduli) {
    SCOPED_TRACE(text);
    const LvN m(text);
    const LvCtMod c(m);
    ASSERT_EQ(4u, c.limbs());
    std::vector<LvN> vals = {LvN(0u, 1), LvN(1u, 1), m - 1u, m - 2u,
                             (LvN(1u, 1) << 255) % m, ((LvN(1u, 1) << 256) - 1u) % m};
    for (int i = 0; i < 10; i++) vals.push_back(randomN(rng, 33) % m);
    for (const LvN& a : vals) {
      for (const LvN& b : vals) {
        LvCtMod::Num am, bm, t;
        c.fromN(am, a);
        c.fromN(bm, b);
        c.toMont(am, am);
        c.toMont(bm, bm);
        c.mul(t, am, bm);
        c.fromMont(t, t);
        ASSERT_EQ((a * b) % m, plain(c, t)) << a.toString().getText() << " * "
                                             << b.toString().getText();
      }
    }
  }
  // Fermat's inverse of m - 1 (itself) and of 2 modulo the P-256 order
  const LvN n(moduli[0]);
  const LvCtMod c(n);
  for (const LvN& a : {n - 1u, LvN(2u, 1)}) {
    LvCtMod::Num am, t;
    c.fromN(am, a);
    c.toMont(am, am);
    c.inverse(t, am);
    c.fromMont(t, t);
    EXPECT_EQ(LvN(1u, 1), (plain(c, t) * a) % n);
  }
}

// The four-limb inverse (divsteps) against the number arithmetic: prime and
// composite moduli of 256 bits and shorter, edge operands and random ones.
TEST(CtMod, FourLimbInverseByDivsteps) {
  const char* moduli[] = {
      "0xFFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551",  // P-256 order
      "0xFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF43",  // 2^256 - 189
      "0xFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF",  // 2^256 - 1 (composite)
      "0x8000000000000000000000000000000000000000000000000000000000000001",  // composite
      "0x1000000000000000000000000000000000000000000000001",                 // 193 bits
  };
  std::mt19937 rng(11);
  for (const char* text : moduli) {
    SCOPED_TRACE(text);
    const LvN m(text);
    const LvCtMod c(m);
    ASSERT_EQ(4u, c.limbs());
    std::vector<LvN> vals = {LvN(1u, 1), LvN(2u, 1), m - 1u, m - 2u, (LvN(1u, 1) << 255) % m};
    for (int i = 0; i < 200; i++) vals.push_back(randomN(rng, 33) % m);
    for (const LvN& a : vals) {
      LvCtMod::Num am, t;
      c.fromN(am, a);
      c.toMont(am, am);
      c.inverse(t, am);
      c.fromMont(t, t);
      const LvN inv = plain(c, t);
      EXPECT_LT(inv, m);
      // an inverse exactly where a is prime to m
      LvN g = a, h = m;
      while (!h.isZero()) {
        const LvN r = g % h;
        g = h;
        h = r;
      }
      if (g == LvN(1u, 1)) { EXPECT_EQ(LvN(1u, 1), (inv * a) % m) << a.toString().getText(); }
    }
    LvCtMod::Num z = c.zero(), t;
    c.inverse(t, z);
    EXPECT_NE(0u, c.zeroMask(t));
  }
}
