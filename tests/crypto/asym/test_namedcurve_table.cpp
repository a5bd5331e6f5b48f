// The named-curve table: rows, ids, families, OIDs, names, aliases, the
// shared domain objects, and every domain's base point and order. Names,
// OIDs, display names and orders of every row come from openssl's tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "crypto/asym/lvnamedcurves.h"

namespace {

const LvGeneralDsaKeyDomain* domainOf(const LvNamedCurve& r) {
  if (r.primeDomain) return r.primeDomain;
  return r.binaryDomain;
}

const LvNamedCurve& row(unsigned int id) { return *NamedCurveTable::byId(id); }

}  // namespace

TEST(NamedCurveTable, RowsIdsAndFamilies) {
  const LvNamedCurve* rows = NamedCurveTable::rows();
  const std::set<unsigned int> noDomain(NamedCurveTable::kNoDomainIds,
                                        NamedCurveTable::kNoDomainIds + 4);
  EXPECT_EQ(noDomain, (std::set<unsigned int>{77, 78, 83, 84}));
  const std::set<unsigned int> binaryWtls = {90, 91, 92, 93, 98, 99};
  std::set<std::string> names;
  for (unsigned int i = 0; i < NamedCurveTable::kCount; i++) {
    const LvNamedCurve& r = rows[i];
    SCOPED_TRACE(r.name);
    EXPECT_EQ(r.id, i + 1);
    EXPECT_EQ(NamedCurveTable::byId(i + 1), &r);
    const unsigned int id = r.id;
    const LvWord family = id <= 33 ? 1 : id <= 48 ? 2 : id <= 62 ? 3 : id <= 89 ? 4 : 5;
    EXPECT_EQ(r.family, family);
    const std::string name = r.name;
    EXPECT_TRUE(names.insert(name).second);
    const bool binary = name.compare(0, 4, "sect") == 0 || name.compare(0, 2, "c2") == 0 ||
                        (name.compare(0, 4, "nist") == 0 && name[4] != 'p') ||
                        binaryWtls.count(id) != 0;
    EXPECT_EQ(r.isBinary, binary ? 1u : 0u);
    if (noDomain.count(id)) {
      EXPECT_EQ(r.primeDomain, nullptr);
      EXPECT_EQ(r.binaryDomain, nullptr);
    } else if (binary) {
      EXPECT_EQ(r.primeDomain, nullptr);
      ASSERT_NE(r.binaryDomain, nullptr);
      EXPECT_EQ(r.binaryDomain->getDomainType(), 2u);
    } else {
      EXPECT_EQ(r.binaryDomain, nullptr);
      ASSERT_NE(r.primeDomain, nullptr);
      EXPECT_EQ(r.primeDomain->getDomainType(), 3u);
    }
  }
  EXPECT_EQ(NamedCurveTable::byId(0), nullptr);
  EXPECT_EQ(NamedCurveTable::byId(101), nullptr);
}

TEST(NamedCurveTable, OidsAndAliases) {
  // (every OID is checked against openssl's table in EveryRowAsPublished)
  std::map<std::string, int> oidCount;
  for (unsigned int id = 1; id <= 100; id++)
    if (row(id).oid) oidCount[row(id).oid]++;
  for (const auto& kv : oidCount) {
    const bool shared = kv.first == "1.2.840.10045.3.1.1" || kv.first == "1.2.840.10045.3.1.7";
    EXPECT_EQ(kv.second, shared ? 2 : 1) << kv.first;
  }
  std::map<unsigned int, std::string> aliases;
  for (unsigned int id = 1; id <= 100; id++)
    if (row(id).alias) aliases[id] = row(id).alias;
  EXPECT_EQ(aliases, (std::map<unsigned int, std::string>{
                         {63, "ansiX9p192r1"}, {69, "ansiX9p256r1"}, {73, "c2pnb176v1"}}));
}

TEST(NamedCurveTable, SharedDomainObjects) {
  EXPECT_EQ(row(9).primeDomain, row(63).primeDomain);
  EXPECT_EQ(row(13).primeDomain, row(69).primeDomain);
  // WTLS curve 3 is sect163k1; curve 7 is secp160r1 as the WTLS list gives it
  const std::map<unsigned int, unsigned int> wtls = {{91, 20}, {92, 16}, {93, 70}, {94, 1},
                                                     {95, 6},  {98, 25}, {99, 26}, {100, 11}};
  for (const auto& kv : wtls) EXPECT_EQ(domainOf(row(kv.first)), domainOf(row(kv.second))) << kv.first;
  // FIPS 186 rows have objects of their own
  EXPECT_NE(row(36).primeDomain, row(13).primeDomain);
  EXPECT_NE(row(39).binaryDomain, row(20).binaryDomain);
  std::set<const LvGeneralDsaKeyDomain*> objects;
  for (unsigned int id = 1; id <= 100; id++)
    if (domainOf(row(id))) objects.insert(domainOf(row(id)));
  EXPECT_EQ(objects.size(), NamedCurveTable::kDomainCount);
}

// Every domain object: valid, G on its curve, n·G the neutral element, and the
// cofactor as published.
TEST(NamedCurveTable, EveryBasePointHasItsOrder) {
  std::set<const LvGeneralDsaKeyDomain*> seen;
  for (unsigned int id = 1; id <= 100; id++) {
    const LvGeneralDsaKeyDomain* d = domainOf(row(id));
    if (!d || !seen.insert(d).second) continue;
    SCOPED_TRACE(row(id).name);
    EXPECT_EQ(d->getValidity(), 0u);
    EXPECT_TRUE(d->isReady());
    const LvGroup* g = d->getGroup();
    const LvGroupElem* G = d->getGen();
    EXPECT_TRUE(g->isElement(G));
    std::unique_ptr<LvGroupElem> O(g->createCopy(nullptr));
    EXPECT_FALSE(g->isEqual(G, O.get()));
    std::unique_ptr<LvGroupElem> T(g->createMul(d->getOrder(), G));
    EXPECT_TRUE(g->isEqual(T.get(), O.get()));
    EXPECT_TRUE(d->getCofactor() != 0u);
  }
  EXPECT_EQ(seen.size(), 86u);
  // the cofactors of two curves as published
  EXPECT_TRUE(row(2).primeDomain->getCofactor() == 4u);     // secp112r2
  EXPECT_TRUE(row(87).binaryDomain->getCofactor() == 0x4Cu);  // c2pnb359v1
}

// Every row against the openssl object table and curve orders
// (tests/data/gf2n/gen_curve_oids.py) and against the display-name rule.
TEST(NamedCurveTable, EveryRowAsPublished) {
  std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/gf2n/curve_oids.txt");
  ASSERT_TRUE(in.good());
  static const char* const kWtls[11] = {
      "WTLS BINARY 1 113", "WTLS BINARY 3 163", "WTLS BINARY 4 113", "WTLS BINARY 5 163",
      "WTLS PRIME 6 112",  "WTLS PRIME 7 160",  "WTLS PRIME 8 112",  "WTLS PRIME 9 160",
      "WTLS BINARY 12 233", "WTLS BINARY 11 233", "WTLS PRIME 12 224"};
  static const char* const kFamily[] = {"", "CERTICOM", "FIPS186", "BRAINPOOL", "ANSI", "WTLS"};
  std::string name, oid, order;
  unsigned int id = 0;
  while (in >> name >> oid >> order) {
    const LvNamedCurve& r = row(++id);
    SCOPED_TRACE(name);
    EXPECT_EQ(r.name, name);
    if (oid == "-")
      EXPECT_EQ(r.oid, nullptr);
    else
      EXPECT_STREQ(r.oid, oid.c_str());
    const std::string kind = r.isBinary ? " BINARY " : " PRIME ";
    std::string expected;
    if (r.family == 5) {
      expected = kWtls[id - 90];
    } else {
      // the size is the first run of digits (after the "c2" of the ANSI binary names)
      const std::size_t d = name.find_first_of("0123456789", name.compare(0, 2, "c2") == 0 ? 2 : 0);
      std::size_t e = std::min(name.find_first_not_of("0123456789", d), name.size());
      std::string size = name.substr(d, e - d), suffix = name.substr(e);
      for (char& c : suffix) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (r.family == 2)
        expected = std::string(kFamily[2]) + kind +
                   static_cast<char>(std::toupper(static_cast<unsigned char>(name[4]))) + size;
      else
        expected = kFamily[r.family] + kind + size + " " + suffix;
    }
    EXPECT_EQ(r.displayName, expected);
    const LvGeneralDsaKeyDomain* dom = domainOf(r);
    // openssl maps WTLS curve 7 to secp160r2; the table keeps the WTLS list's secp160r1.
    if (id == 95) order = "0100000000000000000001F4C8F927AED3CA752257";
    if (order == "-") {
      EXPECT_EQ(dom, nullptr);
    } else {
      ASSERT_NE(dom, nullptr);
      EXPECT_TRUE(dom->getOrder() == LvN(("0x" + order).c_str()));
    }
  }
  EXPECT_EQ(id, 100u);
}
