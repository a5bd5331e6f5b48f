// Public values from strangers: RSA exponent length, EC point type octets
// matched by value, EC points outside the subgroup of order n, DSA and DH
// values outside the subgroup of order q (DH: test_dh_vectors).
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "crypto/asym/ec_sig_util.h"
#include "crypto/asym/lvdsa.h"
#include "crypto/asym/lvnamedcurves.h"
#include "crypto/asym/lvrsakey.h"

namespace {

using Bytes = std::vector<LvOctet>;

const LvNamedCurve* curve(const std::string& name) {
  for (unsigned int id = 1; id <= NamedCurveTable::kCount; id++)
    if (name == NamedCurveTable::byId(id)->name) return NamedCurveTable::byId(id);
  throw std::runtime_error(name);
}

const LvGeneralDsaKeyDomain* domainOf(const std::string& name) {
  const LvNamedCurve* c = curve(name);
  return c->isBinary ? static_cast<const LvGeneralDsaKeyDomain*>(c->binaryDomain)
                     : static_cast<const LvGeneralDsaKeyDomain*>(c->primeDomain);
}

bool decodes(const LvGroup* g, const Bytes& oct) {
  try {
    std::unique_ptr<LvGroupElem> e(g->createNew(oct.data(), static_cast<unsigned>(oct.size())));
    return true;
  } catch (const LvException&) {
    return false;
  }
}

Bytes numberOctets(const LvN& v) {
  Bytes b(v.getOctetLength());
  v.getOctets(b.data(), static_cast<unsigned>(b.size()));
  return b;
}

TEST(RsaPublicInputs, ExponentLongerThan256BitsRefusedWhenSet) {
  const LvN n = (LvN("1") << 2047) + 0x10001u;  // any odd 2048-bit number will do
  struct Case {
    unsigned int bits;
    bool accepted;
  } cases[] = {{2, true}, {17, true}, {256, true}, {257, false}, {8u * 1024 * 1024, false}};
  for (const Case& c : cases) {
    const LvN e = (LvN("1") << (c.bits - 1)) + 1u;
    const Bytes oct = numberOctets(e);
    LvRsaPublicKey k;
    k.setN(numberOctets(n).data(), static_cast<unsigned>(numberOctets(n).size()));
    bool setOk = true, ctorOk = true;
    try {
      k.setE(oct.data(), static_cast<unsigned>(oct.size()));
    } catch (const LvArgumentRangeException&) {
      setOk = false;
    }
    try {
      LvRsaPublicKey other(n, e);
    } catch (const LvArgumentRangeException&) {
      ctorOk = false;
    }
    EXPECT_EQ(setOk, c.accepted) << c.bits;
    EXPECT_EQ(ctorOk, c.accepted) << c.bits;
    // A refused exponent leaves no key to verify with.
    EXPECT_EQ(k.isReady(), c.accepted) << c.bits;
  }
}

// Every type octet over the generator's coordinates: only 04 and the hybrid
// octet of the right parity read as a point; over x alone only 02 and 03.
TEST(EcPublicInputs, PointTypeOctetMatchedByValue) {
  for (const char* name : {"secp256r1", "brainpoolP256r1", "secp224k1", "sect163k1", "sect233r1"}) {
    const LvGeneralDsaKeyDomain* d = domainOf(name);
    ASSERT_NE(d, nullptr) << name;
    const LvGroup* g = d->getGroup();
    Bytes gen(1 + 2 * 72);
    gen.resize(d->getGen(gen.data(), static_cast<unsigned>(gen.size())));
    ASSERT_EQ(gen[0], 0x04) << name;
    const unsigned int mo = static_cast<unsigned>(gen.size() - 1) / 2;
    std::vector<int> full, compressed;
    for (int t = 0; t < 256; t++) {
      Bytes u = gen;
      u[0] = static_cast<LvOctet>(t);
      if (decodes(g, u)) full.push_back(t);
      Bytes c(gen.begin(), gen.begin() + 1 + mo);
      c[0] = static_cast<LvOctet>(t);
      if (decodes(g, c)) compressed.push_back(t);
    }
    ASSERT_EQ(full.size(), 2u) << name;
    EXPECT_EQ(full[0], 0x04) << name;
    EXPECT_TRUE(full[1] == 0x06 || full[1] == 0x07) << name;
    if (!curve(name)->isBinary) {
      EXPECT_EQ(full[1], 0x06 + (gen.back() & 1)) << name;  // y's parity
    }
    EXPECT_EQ(compressed, (std::vector<int>{0x02, 0x03})) << name;
    // The accepted hybrid form is the generator.
    Bytes h = gen;
    h[0] = static_cast<LvOctet>(full[1]);
    std::unique_ptr<LvGroupElem> a(g->createNew(h.data(), static_cast<unsigned>(h.size())));
    EXPECT_TRUE(g->isEqual(a.get(), d->getGen())) << name;
  }
}

// On the Koblitz curves (b = 1, cofactor 2 or 4) (0, 1) has order 2, and G
// plus it has order 2n: both are on the curve, neither is a key.
TEST(EcPublicInputs, PointsOutsideTheSubgroupRefusedAsKeys) {
  for (const char* name : {"sect163k1", "sect233k1", "sect283k1"}) {
    const LvGeneralDsaKeyDomain* d = domainOf(name);
    ASSERT_NE(d, nullptr) << name;
    ASSERT_TRUE(d->getCofactor() > 1u) << name;
    const LvGroup* g = d->getGroup();
    Bytes gen(1 + 2 * 72);
    gen.resize(d->getGen(gen.data(), static_cast<unsigned>(gen.size())));
    const unsigned int mo = static_cast<unsigned>(gen.size() - 1) / 2;
    Bytes t(1 + 2 * mo, 0);
    t[0] = 0x04;
    t.back() = 1;
    std::unique_ptr<LvGroupElem> T(g->createNew(t.data(), static_cast<unsigned>(t.size())));
    ASSERT_TRUE(g->isElement(T.get())) << name;
    std::unique_ptr<LvGroupElem> GT(g->createSum(d->getGen(), T.get()));
    Bytes gt(gen.size());
    g->asOctetString(GT.get(), gt.data(), static_cast<unsigned>(gt.size()));

    LvGeneralDsaPublicKey key;
    key.setDomain(d);
    EXPECT_THROW(key.setH(t.data(), static_cast<unsigned>(t.size())), LvWrongSyntaxException) << name;
    EXPECT_THROW(key.setH(GT.get()), LvWrongSyntaxException) << name;
    EXPECT_THROW(key.setH(gt.data(), static_cast<unsigned>(gt.size())), LvWrongSyntaxException) << name;
    LvGeneralDsaPrivateKey priv;
    priv.setDomain(d);
    EXPECT_THROW(priv.setH(gt.data(), static_cast<unsigned>(gt.size())), LvWrongSyntaxException) << name;
    EXPECT_NO_THROW(key.setH(gen.data(), static_cast<unsigned>(gen.size()))) << name;
    EXPECT_TRUE(key.isValid()) << name;
  }
}

// The trace test of the binary curves with cofactor 2 or 4 gives the answer of n P = O on every
// such named curve: for multiples of G, for G plus points of order 2 and 4 (orders 2n, 4n), for
// those small points, and for random points of the curve (mostly of order h n).
TEST(EcPublicInputs, SubgroupTraceTestAgreesWithTheOrder) {
  std::mt19937 gen(4242);
  int curves = 0;
  for (unsigned int id = 1; id <= NamedCurveTable::kCount; id++) {
    const LvNamedCurve* c = NamedCurveTable::byId(id);
    if (!c->isBinary || c->binaryDomain == nullptr) continue;
    const LvE2nDsaKeyDomain* d = c->binaryDomain;
    if (!(d->getCofactor() == 2u) && !(d->getCofactor() == 4u)) continue;
    if (d->getValidity() != LV_DOMAIN_VALID) const_cast<LvE2nDsaKeyDomain*>(d)->validate();
    ++curves;
    SCOPED_TRACE(c->name);
    const LvE2n& e = d->getCurve();
    const LvGF2nField& f = e.getField();
    const unsigned int mo = e.getFieldOctets();
    std::vector<std::unique_ptr<LvGroupElem>> small;  // points of order 1, 2 or 4
    std::vector<std::unique_ptr<LvGroupElem>> pts;
    int in = 0, out = 0;
    for (int i = 0; i < 40; i++) {
      // a random point of the curve: y^2 + x y = x^3 + a x^2 + b
      Bytes xo(mo);
      for (auto& o : xo) o = static_cast<LvOctet>(gen());
      xo[0] &= static_cast<LvOctet>((1u << (f.getDegree() % 8 == 0 ? 8 : f.getDegree() % 8)) - 1);
      LvGF2n x(xo.data(), mo, &f), y1(&f), y2(&f);
      LvGF2n rhs = (x + e.getA()) * x * x + e.getB();
      if (x.isZero() || solve(x, rhs, y1, y2) == 0) continue;
      Bytes po(1 + 2 * mo, 0);
      po[0] = 0x04;
      x.asOctetString(po.data() + 1, mo);
      y1.asOctetString(po.data() + 1 + mo, mo);
      std::unique_ptr<LvGroupElem> R(e.createNew(po.data(), static_cast<unsigned>(po.size())));
      ASSERT_TRUE(e.isElement(R.get()));
      small.emplace_back(e.createMul(d->getOrder(), R.get()));
      pts.emplace_back(e.createMul(LvN(static_cast<LvWord>(gen() | 1), 1), d->getGen()));
      pts.push_back(std::move(R));
    }
    for (const auto& t : small) pts.emplace_back(e.createSum(d->getGen(), t.get()));
    for (auto& t : small) pts.push_back(std::move(t));
    for (const auto& P : pts) {
      std::unique_ptr<LvGroupElem> O(e.createCopy(nullptr));
      if (e.isEqual(P.get(), O.get())) continue;
      const bool want = d->LvGeneralDsaKeyDomain::inOrderSubgroup(P.get());
      EXPECT_EQ(d->inOrderSubgroup(P.get()), want);
      (want ? in : out)++;
    }
    EXPECT_GT(in, 10);
    EXPECT_GT(out, 10);
  }
  EXPECT_GE(curves, 8);
}

// RFC 5114 A.1 (1024-bit p, 160-bit q).
const char* const kP =
    "0xB10B8F96A080E01DDE92DE5EAE5D54EC52C99FBCFB06A3C69A6A9DCA52D23B616073E28675A23D189838EF1E2E"
    "E652C013ECB4AEA906112324975C3CD49B83BFACCBDD7D90C4BD7098488E9C219A73724EFFD6FAE5644738FAA3"
    "1A4FF55BCCC0A151AF5F0DC8B4BD45BF37DF365C1A65E68CFDA76D4DA708DF1FB2BC2E4A4371";
const char* const kQ = "0xF518AA8781A8DF278ABA4E7D64B7CB9D49462353";
const char* const kG =
    "0xA4D1CBD5C3FD34126765A442EFB99905F8104DD258AC507FD6406CFF14266D31266FEA1E5C41564B777E690F"
    "5504F213160217B4B01B886A5E91547F9E2749F4D7FBD7D3B9A92EE1909D0D2263F80A76A6A24C087A091F531D"
    "BF0A0169B6A28AD662A4D18E73AFA32D779D5918D08BC8858F4DCEF97C2A24855E6EEB22B3B2E5";
const char* const kX = "0x1234567890ABCDEF1234567890ABCDEF12345678";

void rfc5114(LvDsaKeyDomain& d) {
  d.setP(kP);
  d.setQ(kQ);
  d.setG(kG);
  d.markValid();
}

LvN readInteger(const Bytes& der, std::size_t& at) {
  EXPECT_EQ(der.at(at), 0x02);
  const std::size_t len = der.at(at + 1);
  LvN v(der.data() + at + 2, static_cast<unsigned>(len));
  at += 2 + len;
  return v;
}

// y' = p - y = y·(-1) is in range but of order 2q. For a signature whose
// u2 = r/s mod q is even, y'^u2 = y^u2, so the signature of y verifies under
// y' unless y' is refused for lying outside the subgroup.
TEST(DsaPublicInputs, ValueOutsideTheSubgroupRefused) {
  LvDsaKeyDomain d;
  rfc5114(d);
  const LvModulus& p = d.getP();
  const LvN y = pow(LvZn(d.getG(), &p), LvN(kX)).getN();
  LvDsaPrivateKey priv;
  priv.setDomain(&d);
  priv.setX(kX);
  priv.setY(y);
  LvDsaPublicKey good, bad;
  good.setDomain(&d);
  good.setKey(y);
  bad.setDomain(&d);
  bad.setKey(LvN(p) - y);
  EXPECT_TRUE(good.isSubgroupMember());
  EXPECT_FALSE(bad.isSubgroupMember());
  // The kept answer belongs to the value it was found for.
  good.setKey(LvN(p) - y);
  EXPECT_FALSE(good.isSubgroupMember());
  good.setKey(y);
  const Bytes digest(20, 0x5A);
  bool evenFound = false;
  for (std::uint8_t seed = 1; seed < 40 && !evenFound; seed++) {
    ectest::CountingRbg rbg(seed);
    LvDsaSig s;
    s.setPrivateKey(&priv);
    s.setRbg(&rbg);
    s.setHashAlgo(LV_HASH_SHA1);
    Bytes sig(s.getMaxSignatureOctets());
    sig.resize(s.sign(digest.data(), 20, sig.data(), static_cast<unsigned>(sig.size())));
    std::size_t at = 0;
    const LvN r = readInteger(sig, at), sv = readInteger(sig, at);
    const LvN u2 = (LvZn(r, &d.getQ()) / LvZn(sv, &d.getQ())).getN();
    if (u2.getLowWord() & 1) continue;
    evenFound = true;
    LvDsaSig v;
    v.setPublicKey(&good);
    v.setHashAlgo(LV_HASH_SHA1);
    EXPECT_TRUE(v.verify(digest.data(), 20, sig.data(), static_cast<unsigned>(sig.size())));
    LvDsaSig w;
    w.setPublicKey(&bad);
    w.setHashAlgo(LV_HASH_SHA1);
    EXPECT_FALSE(w.verify(digest.data(), 20, sig.data(), static_cast<unsigned>(sig.size())));
  }
  EXPECT_TRUE(evenFound);
}

}  // namespace
