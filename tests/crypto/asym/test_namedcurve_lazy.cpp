// The named-curve table builds a domain object on its first use only: reading
// rows builds nothing, using one curve builds that curve's object alone (ctest
// runs every case in a process of its own, so each starts with none built),
// and threads meeting a curve first together share one object.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "crypto/asym/lvnamedcurves.h"

namespace {

std::set<unsigned int> builtIds() {
  std::set<unsigned int> ids;
  for (unsigned int id = 1; id <= NamedCurveTable::kCount; id++)
    if (NamedCurveTable::isBuilt(id)) ids.insert(id);
  return ids;
}

const LvGeneralDsaKeyDomain* domainOf(const LvNamedCurve& r) {
  if (r.isBinary) return r.binaryDomain;
  return r.primeDomain;
}

// The rows sharing one object (an alias row, a WTLS row); comparing the
// references builds nothing.
std::set<unsigned int> sameObjectRows(unsigned int id) {
  const LvNamedCurve& r = *NamedCurveTable::byId(id);
  std::set<unsigned int> ids;
  for (unsigned int other = 1; other <= NamedCurveTable::kCount; other++) {
    const LvNamedCurve& o = *NamedCurveTable::byId(other);
    if (o.isBinary == r.isBinary &&
        (r.isBinary ? o.binaryDomain == r.binaryDomain : o.primeDomain == r.primeDomain))
      ids.insert(other);
  }
  return ids;
}

}  // namespace

TEST(NamedCurveLazy, ReadingRowsBuildsNothing) {
  const unsigned int before = NamedCurveTable::builtCount();
  const std::set<unsigned int> ids = builtIds();
  unsigned int withDomain = 0;
  for (unsigned int id = 1; id <= NamedCurveTable::kCount; id++) {
    const LvNamedCurve& r = *NamedCurveTable::byId(id);
    NamedCurveTable::Params p{};
    const bool has = r.isBinary ? r.binaryDomain != nullptr : r.primeDomain != nullptr;
    EXPECT_EQ(has, NamedCurveTable::params(id, &p)) << id;
    if (has) {
      ++withDomain;
      EXPECT_NE(p.G, nullptr);
      EXPECT_TRUE(std::strncmp(p.G, "04", 2) == 0 || std::strncmp(p.G, "02", 2) == 0 ||
                  std::strncmp(p.G, "03", 2) == 0)
          << id;
    }
    EXPECT_TRUE(r.primeDomain == r.primeDomain);
  }
  EXPECT_EQ(withDomain, NamedCurveTable::kCount - 4);
  EXPECT_EQ(NamedCurveTable::builtCount(), before);
  EXPECT_EQ(builtIds(), ids);
}

// Each curve used alone: n·G is the neutral element, and nothing else was built.
class NamedCurveLazyOne : public ::testing::TestWithParam<unsigned int> {};

TEST_P(NamedCurveLazyOne, UsingOneCurveBuildsItAlone) {
  const unsigned int id = GetParam();
  const std::set<unsigned int> before = builtIds();
  const unsigned int count = NamedCurveTable::builtCount();
  const bool wasBuilt = NamedCurveTable::isBuilt(id);
  const LvGeneralDsaKeyDomain* d = domainOf(*NamedCurveTable::byId(id));
  ASSERT_NE(d, nullptr);
  ASSERT_TRUE(d->isReady());
  const LvGroup* g = d->getGroup();
  std::unique_ptr<LvGroupElem> O(g->createCopy(nullptr));
  std::unique_ptr<LvGroupElem> T(g->createMul(d->getOrder(), d->getGen()));
  EXPECT_TRUE(g->isEqual(T.get(), O.get()));
  EXPECT_EQ(NamedCurveTable::builtCount(), count + (wasBuilt ? 0 : 1));
  std::set<unsigned int> expected = before;
  for (unsigned int other : sameObjectRows(id)) expected.insert(other);
  EXPECT_EQ(builtIds(), expected);
  // a second use builds nothing more and gives the same object
  EXPECT_EQ(domainOf(*NamedCurveTable::byId(id)), d);
  EXPECT_EQ(NamedCurveTable::builtCount(), count + (wasBuilt ? 0 : 1));
}

// secp256r1 (with its ANSI alias row), P-384 of FIPS 186, brainpoolP512r1,
// sect233r1 (with its WTLS row), sect571k1
INSTANTIATE_TEST_SUITE_P(Curves, NamedCurveLazyOne, ::testing::Values(13u, 37u, 61u, 26u, 32u));

TEST(NamedCurveLazy, ThreadsMeetingACurveFirstShareOneObject) {
  constexpr unsigned int id = 15;  // secp521r1, the slowest prime curve to make
  const unsigned int count = NamedCurveTable::builtCount();
  const bool wasBuilt = NamedCurveTable::isBuilt(id);
  const unsigned int kThreads = 8;
  std::vector<const LvEpDsaKeyDomain*> seen(kThreads, nullptr);
  std::vector<std::thread> threads;
  for (unsigned int t = 0; t < kThreads; t++)
    threads.emplace_back([&seen, t] { seen[t] = NamedCurveTable::byId(id)->primeDomain; });
  for (auto& t : threads) t.join();
  ASSERT_NE(seen[0], nullptr);
  for (const LvEpDsaKeyDomain* d : seen) EXPECT_EQ(d, seen[0]);
  EXPECT_TRUE(seen[0]->isReady());
  EXPECT_EQ(NamedCurveTable::builtCount(), count + (wasBuilt ? 0 : 1));
}
