// The EC-DSA domain over GF(2^m): set-up from polynomial exponents and
// octets, and validation of explicit parameters (with the published seeds of
// tests/data/gf2n/seeds.txt).
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "crypto/algebra/test_gf2n_util.h"
#include "crypto/asym/lvnamedcurves.h"

using namespace gf2ntest;

namespace {

const LvE2nDsaKeyDomain* named(const std::string& name) {
  for (unsigned int id = 1; id <= NamedCurveTable::kCount; id++)
    if (name == NamedCurveTable::byId(id)->name) return NamedCurveTable::byId(id)->binaryDomain;
  throw std::runtime_error(name);
}

struct Explicit {
  Bytes a, b, f, G, n, h;
};

Explicit paramsOf(const LvE2nDsaKeyDomain* d) {
  Explicit e;
  const unsigned int mo = d->getCurve().getFieldOctets();
  e.a.resize(mo);
  e.b.resize(mo);
  d->getA(e.a.data(), mo);
  d->getB(e.b.data(), mo);
  unsigned int m = 0;
  e.f.resize(mo + 1);
  e.f.resize(d->getPolynomial(&m, e.f.data(), mo + 1));
  e.G.resize(2 * mo + 1);
  e.G.resize(d->getGen(e.G.data(), 2 * mo + 1));
  e.n.resize(mo + 1);
  e.n.resize(d->getOrder(e.n.data(), mo + 1));
  e.h.resize(4);
  e.h.resize(d->getCofactor(e.h.data(), 4));
  return e;
}

// An explicit, unchecked domain with the group order n·h set.
std::unique_ptr<LvE2nDsaKeyDomain> explicitDomain(const Explicit& e) {
  std::unique_ptr<LvE2nDsaKeyDomain> d(new LvE2nDsaKeyDomain());
  d->setCurve(e.a.data(), static_cast<unsigned>(e.a.size()), e.b.data(),
              static_cast<unsigned>(e.b.size()), e.f.data(), static_cast<unsigned>(e.f.size()));
  d->setGen(e.G.data(), static_cast<unsigned>(e.G.size()));
  d->setOrder(e.n.data(), static_cast<unsigned>(e.n.size()));
  d->setCofactor(e.h.data(), static_cast<unsigned>(e.h.size()));
  const LvN N = LvN(e.n.data(), static_cast<unsigned>(e.n.size())) *
                LvN(e.h.data(), static_cast<unsigned>(e.h.size()));
  d->setGroupOrder(LvModulus(N, 0));
  return d;
}

}  // namespace

TEST(NamedCurveDomain, PublishedSeedsValidate) {
  for (const std::string& line : lines("seeds.txt")) {
    std::istringstream ls(line);
    std::string name, seedHex;
    ls >> name >> seedHex;
    SCOPED_TRACE(name);
    const Explicit e = paramsOf(named(name));
    auto d = explicitDomain(e);
    Bytes seed = hex(seedHex);
    d->setSeed(seed.data(), static_cast<unsigned>(seed.size()));
    EXPECT_EQ(d->getValidity(), 2u);
    EXPECT_TRUE(d->validate());
    EXPECT_EQ(d->getValidity(), 0u);
    Bytes back(seed.size());
    EXPECT_EQ(d->getSeed(back.data(), static_cast<unsigned>(back.size())), seed.size());
    EXPECT_EQ(back, seed);
    // another seed does not give b
    seed[5] ^= 1;
    d->setSeed(seed.data(), static_cast<unsigned>(seed.size()));
    EXPECT_EQ(d->getValidity(), 2u);
    EXPECT_FALSE(d->validate());
    EXPECT_EQ(d->getValidity(), 1u);
    // a seed of 19 octets is refused
    auto d19 = explicitDomain(e);
    d19->setSeed(seed.data(), 19);
    EXPECT_FALSE(d19->validate());
  }
}

TEST(NamedCurveDomain, ValidationRefusesBadParameters) {
  const Explicit good = paramsOf(named("sect283k1"));
  EXPECT_TRUE(explicitDomain(good)->validate());

  auto noGroupOrder = explicitDomain(good);
  noGroupOrder->setGroupOrder(LvModulus(LvN(0u, 1), 0));
  EXPECT_FALSE(noGroupOrder->validate());  // fails the Hasse bound

  Explicit e = good;
  e.h = Bytes{9};
  EXPECT_FALSE(explicitDomain(e)->validate());

  e = good;
  e.G = Bytes{0x00};  // the neutral point
  EXPECT_FALSE(explicitDomain(e)->validate());

  e = good;
  e.n.back() ^= 2;  // not the order of G
  EXPECT_FALSE(explicitDomain(e)->validate());

  // a valid domain becomes unchecked when changed
  auto d = explicitDomain(good);
  EXPECT_TRUE(d->validate());
  d->setCofactor(good.h.data(), static_cast<unsigned>(good.h.size()));
  EXPECT_EQ(d->getValidity(), 2u);
}

TEST(NamedCurveDomain, PolynomialFromExponents) {
  const Explicit e = paramsOf(named("sect163k1"));
  LvE2nDsaKeyDomain d;
  EXPECT_EQ(d.getDomainType(), 2u);
  d.setCurvePentanomial(e.a.data(), static_cast<unsigned>(e.a.size()), e.b.data(),
                        static_cast<unsigned>(e.b.size()), 163, 7, 3, 6);
  EXPECT_EQ(d.getBasisType(), 5u);
  unsigned int m = 0, k1 = 0, k2 = 0, k3 = 0;
  d.getPentanomial(&m, &k1, &k2, &k3);
  EXPECT_EQ(m, 163u);
  EXPECT_EQ(k1, 3u);
  EXPECT_EQ(k2, 6u);
  EXPECT_EQ(k3, 7u);
  Bytes f(21);
  EXPECT_EQ(d.getPolynomial(&m, f.data(), 21), 21u);
  EXPECT_EQ(f, e.f);
  d.setGen(e.G.data(), static_cast<unsigned>(e.G.size()));
  EXPECT_TRUE(d.getGroup()->isElement(d.getGen()));

  const Bytes one{1};
  d.setCurveTrinomial(one.data(), 1, one.data(), 1, 233, 74);
  EXPECT_EQ(d.getBasisType(), 3u);
  unsigned int k = 0;
  d.getTrinomial(&m, &k);
  EXPECT_EQ(m, 233u);
  EXPECT_EQ(k, 74u);
  EXPECT_EQ(d.getGen(), nullptr);  // the old generator belonged to the old curve

  // exponents that give no polynomial of degree m are refused
  EXPECT_THROW(d.setCurveTrinomial(one.data(), 1, one.data(), 1, 233, 0), LvArgumentRangeException);
  EXPECT_THROW(d.setCurveTrinomial(one.data(), 1, one.data(), 1, 233, 233), LvArgumentRangeException);
  EXPECT_THROW(d.setCurveTrinomial(one.data(), 1, one.data(), 1, 2000, 3), LvArgumentRangeException);
  EXPECT_THROW(d.setCurvePentanomial(one.data(), 1, one.data(), 1, 163, 3, 3, 6),
               LvArgumentRangeException);
  // x^4 + x^2 + 1 = (x^2 + x + 1)^2 is no field
  EXPECT_THROW(d.setCurveTrinomial(one.data(), 1, one.data(), 1, 4, 2), LvArgumentRangeException);
  // a refused curve leaves the domain as it was
  d.getTrinomial(&m, &k);
  EXPECT_EQ(m, 233u);
  EXPECT_EQ(k, 74u);
}

TEST(NamedCurveDomain, ConstructedFromTexts) {
  // c2pnb163v1 with its published seed, texts in lower case
  const LvE2nDsaKeyDomain* ref = named("c2pnb163v1");
  const Explicit e = paramsOf(ref);
  const std::string G = toHex(e.G.data(), e.G.size());
  LvE2nDsaKeyDomain d(toHex(e.a.data(), e.a.size()).c_str(), toHex(e.b.data(), e.b.size()).c_str(),
                      ("0000" + toHex(e.f.data(), e.f.size())).c_str(), G.c_str(),
                      toHex(e.n.data(), e.n.size()).c_str(), "02", 2,
                      "d2c0fb15760860def1eef4d696e6768756151754");
  EXPECT_EQ(d.getValidity(), 2u);
  Bytes seed(20);
  EXPECT_EQ(d.getSeed(seed.data(), 20), 20u);
  EXPECT_EQ(d.getSeed(seed.data(), 19), 0u);
  EXPECT_TRUE(d.getGroup()->isElement(d.getGen()));
  Bytes a(21);
  EXPECT_EQ(d.getA(a.data(), 21), 21u);
  EXPECT_EQ(a, e.a);
  EXPECT_THROW(d.getA(a.data(), 20), LvArgumentRangeException);
  d.setGroupOrder(LvModulus(LvN(e.n.data(), static_cast<unsigned>(e.n.size())) * LvN(2u, 1), 0));
  EXPECT_TRUE(d.validate());
}
