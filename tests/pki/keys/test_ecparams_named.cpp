// Explicit EC parameters against the named-curve table: the explicit form of every curve
// openssl can write (tests/data/ec/explicit_params.txt, made by make_explicit_params.sh)
// decodes, and one whose OID the table holds is found as that curve, whatever its cofactor;
// the table gives the explicit form of every curve it holds a domain for.
#include "pki/keys/ecparams.h"
#include "pki/fixture_lines.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

// The ids of all table rows whose domain equals the given one.
std::set<LvWord> matchingIds(const LvGeneralDsaKeyDomain* domain) {
  std::set<LvWord> ids;
  for (const LvNamedCurve* r = findNextNamedCurveByKeyDomain(domain, -1); r;
       r = findNextNamedCurveByKeyDomain(domain, static_cast<int>(r->id)))
    ids.insert(r->id);
  return ids;
}

}  // namespace

// Curves openssl writes that the table does not hold: SM2 is a sound curve and is accepted
// (validated) as no named curve; the two Oakley groups state an even number as the order of
// their base point, which no validation can accept.
const struct {
  const char* name;
  bool accepted;
} kOutsideTable[] = {{"SM2", true}, {"Oakley-EC2N-3", false}, {"Oakley-EC2N-4", false}};

// Where openssl and the table's sources disagree: openssl gives WTLS curve 7 the parameters of
// secp160r2, the table (after the WTLS list it follows) those of secp160r1. openssl's form is
// then found as secp160r2, the table's own as secp160r1 and WTLS 7.
const struct {
  const char* name;
  LvWord opensslDomainOf;
} kOtherDomain[] = {{"wap-wsg-idm-ecid-wtls7", 7}};

TEST(EcParamsNamed, ExplicitFormsOfOpensslCurves) {
  const auto rows = pkitest::readFixture("../ec/explicit_params.txt");
  size_t curves = 0, inTable = 0, outside = 0;
  std::set<std::string> bigCofactor;
  for (const auto& row : rows) {
    if (row[0][0] == '#') continue;
    ASSERT_EQ(row.size(), 3u);
    SCOPED_TRACE(row[0]);
    ++curves;
    const std::vector<unsigned char> named = pkitest::unhex(row[1]);
    const std::vector<unsigned char> explicitDer = pkitest::unhex(row[2]);
    // the OID openssl names the curve by, when it has one
    const LvNamedCurve* byOid = nullptr;
    if (named[0] == 0x06) {
      ECDomainParameters oid(0x06);
      ASSERT_EQ(oid.decodeVector(named), static_cast<int>(named.size()));
      byOid = findNamedCurve(oid.namedCurve);
    }
    ECDomainParameters params;
    const int decoded = params.decodeVector(explicitDer);
    const ECSpecifiedDomain& domain = params.specifiedCurve;
    if (byOid == nullptr) {
      ++outside;
      bool known = false;
      for (const auto& o : kOutsideTable) {
        if (row[0] != o.name) continue;
        known = true;
        EXPECT_EQ(decoded == static_cast<int>(explicitDer.size()), o.accepted);
        EXPECT_EQ(domain.getKeyDomain() != nullptr, o.accepted);
      }
      EXPECT_TRUE(known) << "a curve the table lacks";
      // and it matches no row of the table
      if (domain.getKeyDomain()) {
        EXPECT_TRUE(matchingIds(domain.getKeyDomain()).empty());
      }
      continue;
    }
    ++inTable;
    ASSERT_EQ(decoded, static_cast<int>(explicitDer.size()));
    ASSERT_EQ(params.kind(), ECDomainParameters::KIND_SPECIFIED);
    ASSERT_NE(domain.getKeyDomain(), nullptr);
    EXPECT_EQ(params.getKeyDomain(), domain.getKeyDomain());
    LvWord domainOf = byOid->id;
    for (const auto& o : kOtherDomain)
      if (row[0] == o.name) domainOf = o.opensslDomainOf;
    // Rows sharing a domain (prime192v1 and secp192r1, the WTLS rows) all match; the search
    // answers the first of them that has an OID.
    const std::set<LvWord> ids = matchingIds(domain.getKeyDomain());
    EXPECT_EQ(ids.count(domainOf), 1u);
    const LvNamedCurve* found = findNamedCurveBySpecifiedDomain(domain, true);
    ASSERT_NE(found, nullptr);
    EXPECT_NE(found->oid, nullptr);
    EXPECT_EQ(ids.count(found->id), 1u);
    EXPECT_EQ(params.getFieldBits(), namedCurveFieldBits(byOid));
    // the table's own explicit form of that row denotes the same domain
    ECSpecifiedDomain built;
    ASSERT_TRUE(namedCurveToSpecifiedDomain(static_cast<int>(domainOf), built));
    EXPECT_EQ(matchingIds(built.getKeyDomain()), ids);
    if (domain.cofactorPresent && domain.cofactor.toLong() > 8) bigCofactor.insert(row[0]);
  }
  EXPECT_EQ(curves, 82u);
  EXPECT_EQ(outside, 3u);
  EXPECT_EQ(inTable, 79u);
  // the curves a cofactor limit applied before the table lookup used to refuse
  const std::set<std::string> expected = {"c2pnb176v1", "c2pnb208w1", "c2tnb239v3", "c2pnb272w1",
                                          "c2pnb304w1", "c2tnb359v1", "c2pnb368w1", "c2tnb431r1"};
  EXPECT_EQ(bigCofactor, expected);
}

TEST(EcParamsNamed, EveryTableDomainHasAnExplicitForm) {
  unsigned int withDomain = 0;
  for (int id = 1; id <= static_cast<int>(NamedCurveTable::kCount); ++id) {
    const LvNamedCurve* r = findNamedCurveById(id);
    ASSERT_NE(r, nullptr);
    const bool hasDomain = r->isBinary ? r->binaryDomain != nullptr : r->primeDomain != nullptr;
    if (!hasDomain) continue;
    ++withDomain;
    SCOPED_TRACE(r->name);
    ECSpecifiedDomain domain;
    ASSERT_TRUE(namedCurveToSpecifiedDomain(id, domain));
    ASSERT_NE(domain.getKeyDomain(), nullptr);
    EXPECT_EQ(matchingIds(domain.getKeyDomain()).count(static_cast<LvWord>(id)), 1u);
    // and its encoding decodes to the same curve again
    std::vector<unsigned char> der;
    ASSERT_GT(domain.encodeVector(der), 0);
    ECSpecifiedDomain again;
    ASSERT_EQ(again.decodeVector(der), static_cast<int>(der.size()));
    EXPECT_TRUE(again == domain);
  }
  EXPECT_EQ(withDomain, 96u);
}
