// Reading EC parameters builds only the table curve they name: a named OID
// builds its row's object, an explicit form of a table curve builds no curve
// of other parameters (a prime one is matched on the published texts), and a
// curve the table lacks builds none. ctest runs each case in a process of its
// own; the checks compare what was built before and after, so they also hold
// when the cases share one.
#include "pki/keys/ecparams.h"
#include "pki/fixture_lines.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

std::set<unsigned int> builtIds() {
  std::set<unsigned int> ids;
  for (unsigned int id = 1; id <= NamedCurveTable::kCount; id++)
    if (NamedCurveTable::isBuilt(id)) ids.insert(id);
  return ids;
}

bool sameParams(unsigned int x, unsigned int y) {
  NamedCurveTable::Params p{}, q{};
  return NamedCurveTable::params(x, &p) && NamedCurveTable::params(y, &q) &&
         std::strcmp(p.a, q.a) == 0 && std::strcmp(p.b, q.b) == 0 &&
         std::strcmp(p.field, q.field) == 0 && std::strcmp(p.G, q.G) == 0 &&
         std::strcmp(p.n, q.n) == 0;
}

struct Case {
  const char* name;     // the curve's name in tests/data/pki/../ec/explicit_params.txt
  unsigned int row;     // its row in the table; 0: not in the table
  bool explicitForm;    // read the explicit form, else the OID
};

}  // namespace

class EcParamsLazy : public ::testing::TestWithParam<Case> {};

TEST_P(EcParamsLazy, ReadingBuildsOnlyTheCurveNamed) {
  const Case& c = GetParam();
  std::vector<unsigned char> der;
  for (const auto& row : pkitest::readFixture("../ec/explicit_params.txt"))
    if (row.size() == 3 && row[0] == c.name) der = pkitest::unhex(row[c.explicitForm ? 2 : 1]);
  ASSERT_FALSE(der.empty());
  const std::set<unsigned int> before = builtIds();
  ECDomainParameters params(c.explicitForm ? 0x30 : 0x06);
  ASSERT_EQ(params.decodeVector(der), static_cast<int>(der.size()));
  const LvGeneralDsaKeyDomain* d = params.getKeyDomain();
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(d->isReady());
  const std::set<unsigned int> after = builtIds();
  for (unsigned int id : after) {
    if (before.count(id)) continue;
    EXPECT_NE(c.row, 0u) << "built row " << id;
    EXPECT_TRUE(c.row != 0 && sameParams(id, c.row)) << "built row " << id;
  }
  if (c.row) { EXPECT_EQ(after.count(c.row), 1u); }
}

INSTANTIATE_TEST_SUITE_P(
    Curves, EcParamsLazy,
    ::testing::Values(Case{"prime256v1", 13, false}, Case{"prime256v1", 13, true},
                      Case{"secp384r1", 14, true}, Case{"brainpoolP256r1", 55, true},
                      Case{"prime192v2", 64, true},  // published with a compressed base point
                      Case{"sect233r1", 26, false}, Case{"sect233r1", 26, true},
                      Case{"SM2", 0, true}));
