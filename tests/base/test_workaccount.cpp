// The document's work account: what a document of a given size is allowed,
// how charges and prices spend it, and the scope that hands it to the layers
// below. No clock is compared: the trip hook stands for a spent clock.
#include "base/workaccount.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

// A document of S MB gets 1 s + 1 s per MB of processor time (five times that
// under the sanitizers) and 3e8 units more per MB.
TEST(WorkAccount, AllowanceGrowsWithTheDocument) {
  const uint64_t MB = 1u << 20;
  const struct {
    uint64_t octets;
    uint64_t units;
    milliseconds time;  // before the sanitised build's factor
  } rows[] = {
      {0, 300000000ull, milliseconds(1000)},
      {6589, 300000000ull + 6589ull * 300000000ull / MB, milliseconds(1006)},
      {MB, 600000000ull, milliseconds(2000)},
      {8 * MB, 2700000000ull, milliseconds(9000)},
      {32 * MB + MB / 2, 300000000ull * 33 + 150000000ull, milliseconds(33500)},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(WorkAccount::documentUnits(r.octets), r.units) << r.octets;
    const nanoseconds time = WorkAccount::documentTime(r.octets);
    const nanoseconds want = std::chrono::duration_cast<nanoseconds>(r.time) * WORK_TIME_FACTOR;
    // Within a thousandth (the rows' milliseconds are rounded).
    EXPECT_LE(time, want + want / 1000) << r.octets;
    EXPECT_GE(time, want - want / 1000) << r.octets;
  }
  // No size overflows the arithmetic.
  EXPECT_GT(WorkAccount::documentUnits(UINT64_MAX), WorkAccount::documentUnits(64 * MB));
  EXPECT_GT(WorkAccount::documentTime(UINT64_MAX), WorkAccount::documentTime(64 * MB));
}

// Work done is charged and stops the account past its units; a price that does
// not fit what is left is refused before its work runs, and every later one too.
TEST(WorkAccount, ChargesAndPricesSpendOneAllowance) {
  const struct {
    const char* name;
    uint64_t limit;
    uint64_t charge, price;
    bool charged, paid;
    uint64_t spent;
  } rows[] = {
      {"both fit", 100, 40, 60, true, true, 100},
      {"the price one over", 100, 40, 61, true, false, 40},
      {"the charge over", 100, 101, 1, false, false, 101},
      {"a price of everything", 100, 0, 100, true, true, 100},
      {"a charge that wraps", 100, UINT64_MAX, 1, false, false, UINT64_MAX},
  };
  for (const auto& r : rows) {
    WorkAccount a(r.limit, std::chrono::hours(24));
    EXPECT_EQ(a.charge(r.charge), r.charged) << r.name;
    EXPECT_EQ(a.pay(r.price), r.paid) << r.name;
    EXPECT_EQ(a.spentUnits(), r.spent) << r.name;
    EXPECT_EQ(a.over(), !r.paid) << r.name;
    EXPECT_FALSE(a.netPassed()) << r.name;
    if (a.over()) {
      EXPECT_EQ(a.remaining(), 0u) << r.name;
      EXPECT_FALSE(a.charge(0)) << r.name;
      EXPECT_FALSE(a.pay(0)) << r.name;
    }
  }
}

// The clock is read at every price and every WORK_CLOCK_CHARGES charges; once it
// reads spent, the account is over by its time.
TEST(WorkAccount, TheClockStopsTheAccountWhereItIsRead) {
  struct Disarm {
    ~Disarm() { workAccountTripAfter(0); }
  } disarm;
  {
    WorkAccount a(UINT64_MAX, std::chrono::hours(24));
    workAccountTripAfter(1);
    for (uint32_t i = 1; i < WORK_CLOCK_CHARGES; ++i) ASSERT_TRUE(a.charge(1)) << i;
    EXPECT_FALSE(a.charge(1));
    EXPECT_TRUE(a.netPassed());
    EXPECT_EQ(a.clockReads(), 1u);
  }
  {
    WorkAccount a(UINT64_MAX, std::chrono::hours(24));
    workAccountTripAfter(3);
    EXPECT_TRUE(a.pay(1));
    EXPECT_TRUE(a.pay(1));
    EXPECT_FALSE(a.pay(1));
    EXPECT_TRUE(a.over());
    EXPECT_TRUE(a.netPassed());
  }
  // An allowance of no time is spent at its first read.
  WorkAccount none(UINT64_MAX, nanoseconds(0));
  EXPECT_TRUE(none.timeSpent());
  EXPECT_FALSE(none.pay(1));
}

// The scope hands the account to the work below it and puts back the one
// before; with none installed the free functions refuse nothing.
TEST(WorkAccount, TheScopeHandsTheAccountDown) {
  EXPECT_EQ(WorkAccountScope::current(), nullptr);
  EXPECT_TRUE(workPay(UINT64_MAX));
  EXPECT_TRUE(workCharge(UINT64_MAX));
  EXPECT_FALSE(workOver());
  WorkAccount outer(10, std::chrono::hours(24)), inner(1000, std::chrono::hours(24));
  {
    WorkAccountScope a(&outer);
    EXPECT_TRUE(workPay(10));
    {
      WorkAccountScope b(&inner);
      EXPECT_EQ(WorkAccountScope::current(), &inner);
      EXPECT_TRUE(workCharge(500));
      {
        WorkAccountScope none(nullptr);
        EXPECT_TRUE(workPay(UINT64_MAX));
      }
      EXPECT_FALSE(workPay(501));
      EXPECT_TRUE(workOver());
    }
    EXPECT_EQ(workAccountLastSpent(), 500u);
    EXPECT_EQ(WorkAccountScope::current(), &outer);
    EXPECT_FALSE(workOver());
    EXPECT_FALSE(workPay(1));
  }
  EXPECT_EQ(workAccountLastSpent(), 10u);
  EXPECT_EQ(WorkAccountScope::current(), nullptr);
}

}  // namespace
