// The path clock: a fixed clock decides validity at exactly the instant it
// holds (bounds inclusive), whatever the system time is; the system clock
// follows the platform's test time.
#include "store/pathclock.h"

#include "pki/common/x509time.h"
#include "pki/x509/cert.h"
#include "platform/clock.h"

#include <gtest/gtest.h>

namespace {

// 2020-01-01T00:00:00Z and 2030-01-01T00:00:00Z.
constexpr int64_t NOT_BEFORE = 1577836800;
constexpr int64_t NOT_AFTER = 1893456000;

TBSCertificate validFor() {
  TBSCertificate tbs;
  EXPECT_TRUE(tbs.validity.notBefore.set(2020, 1, 1, 0, 0, 0));
  EXPECT_TRUE(tbs.validity.notAfter.set(2030, 1, 1, 0, 0, 0));
  return tbs;
}

TEST(PathClock, FixedClockDecidesValidity) {
  const TBSCertificate tbs = validFor();
  struct Row {
    int64_t at;
    int expected;
  } rows[] = {
      {NOT_BEFORE - 1, -1}, {NOT_BEFORE, 0},     {NOT_AFTER, 0},
      {NOT_AFTER + 1, 1},   {0, -1},             {253402300800, 1},  // year 10000
  };
  for (const Row& r : rows) {
    FixedPathClock clock(r.at);
    EXPECT_EQ(r.expected, clock.checkValidity(tbs)) << r.at;
  }
}

TEST(PathClock, IsPastComparesWithTheClock) {
  X509time t;
  ASSERT_TRUE(t.set(2025, 6, 1, 12, 0, 0));
  const int64_t instant = 1748779200;  // 2025-06-01T12:00:00Z
  EXPECT_TRUE(FixedPathClock(instant + 1).isPast(t));
  EXPECT_FALSE(FixedPathClock(instant).isPast(t));
  EXPECT_FALSE(FixedPathClock(instant - 1).isPast(t));
}

TEST(PathClock, SystemClockFollowsPlatformTestTime) {
  platform::setTestTime(NOT_AFTER + 10);
  EXPECT_EQ(NOT_AFTER + 10, systemPathClock().now());
  EXPECT_EQ(1, systemPathClock().checkValidity(validFor()));
  platform::clearTestTime();
  EXPECT_NE(NOT_AFTER + 10, systemPathClock().now());
}

}  // namespace
