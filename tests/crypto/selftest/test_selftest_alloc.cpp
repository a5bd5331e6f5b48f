// Memory running out while the self-test runs (its tests, the threads it starts,
// the texts it gathers): it never passes, and nothing but out of memory leaves it
// (its caller answers that, not a failed test). This program makes every
// allocation from the n-th on fail, or the n-th alone.
#include "crypto/selftest/lvselftest.h"
#include "crypto/basic/lvexception.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <sstream>

namespace {

// Allocation number g_failAt (counted from arming) fails, and with g_failOn
// every one after it too; g_failAt 0 never. The test's threads allocate too.
std::atomic<long> g_failAt{0}, g_count{0};
std::atomic<bool> g_failOn{false};
// Allocations of this size fail (0: none).
std::atomic<size_t> g_failSize{0};

void* counted(size_t n) {
  if (n == g_failSize.load()) return nullptr;
  if (long at = g_failAt.load()) {
    long c = ++g_count;
    if (c == at || (g_failOn.load() && c > at)) return nullptr;
  }
  return std::malloc(n ? n : 1);
}

// Runs the self-test with allocations failing as asked: whether it passed.
bool runFailing(long at, bool on) {
  std::ostringstream report;
  report << std::string(8192, ' ');  // the report's own growth is not what is tested
  report.seekp(0);
  g_count = 0;
  g_failOn = on;
  g_failAt = at;
  bool passed = false, other = false;
  try {
    passed = lvSelfTest(report);
  } catch (const std::bad_alloc&) {
  } catch (const LvMemException&) {
  } catch (...) {
    other = true;
  }
  g_failAt = 0;  // before the test framework allocates again
  EXPECT_FALSE(other) << "allocation " << at << (on ? " on" : "");
  return passed;
}

}  // namespace

void* testAllocate(size_t n) { return counted(n); }

#include "failingnew.h"

TEST(SelfTestMemory, OnlyOutOfMemoryLeavesWhenMemoryRunsOut) {
  for (long at = 1; at <= 400; at += (at < 120 ? 1 : 17))
    EXPECT_FALSE(runFailing(at, true)) << "every allocation from " << at;
  // One failure, then memory is back: an answer or out of memory, nothing else.
  for (long at = 1; at <= 6; ++at) runFailing(at, false);
  EXPECT_TRUE(runFailing(0, false));
}

// The million octets of the hash messages cannot be had: the run ends as out of
// memory, not as a failed hash test.
TEST(SelfTestMemory, MillionOctetsMissingIsOutOfMemory) {
  std::ostringstream report;
  g_failSize = 1000000;
  bool outOfMemory = false;
  try {
    lvSelfTest(report);
  } catch (const LvMemException&) {
    outOfMemory = true;
  } catch (const std::bad_alloc&) {
    outOfMemory = true;
  }
  g_failSize = 0;
  EXPECT_TRUE(outOfMemory) << report.str();
  EXPECT_EQ(report.str().find("BLAD"), std::string::npos) << report.str();
}
