// Memory running out while the self-test runs (its tests, the threads it starts,
// the texts it gathers): the test answers false, as a failed test does, and
// nothing leaves it. This program makes every allocation from the n-th on fail,
// or the n-th alone.
#include "crypto/selftest/lvselftest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
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
  bool passed = false, threw = false;
  try {
    passed = lvSelfTest(report);
  } catch (...) {
    threw = true;
  }
  g_failAt = 0;  // before the test framework allocates again
  EXPECT_FALSE(threw) << "allocation " << at << (on ? " on" : "");
  return passed;
}

}  // namespace

void* testAllocate(size_t n) { return counted(n); }

#include "failingnew.h"

TEST(SelfTestMemory, NoExceptionLeavesWhenMemoryRunsOut) {
  for (long at = 1; at <= 400; at += (at < 120 ? 1 : 17))
    EXPECT_FALSE(runFailing(at, true)) << "every allocation from " << at;
  // One failure, then memory is back: an answer either way, never an exception.
  for (long at = 1; at <= 6; ++at) runFailing(at, false);
  EXPECT_TRUE(runFailing(0, false));
}

// The million octets of the hash messages cannot be had: every hash test says
// so in its line, the other groups still run, and the run fails.
TEST(SelfTestMemory, MillionOctetsMissingFailsEveryHashTest) {
  std::ostringstream report;
  g_failSize = 1000000;
  const bool passed = lvSelfTest(report);
  g_failSize = 0;
  EXPECT_FALSE(passed);
  const std::string text = report.str();
  for (const char* name : {"RIPEMD-160", "SHA-1", "SHA-224", "SHA-256", "SHA-384", "SHA-512"})
    EXPECT_NE(text.find(std::string(name) + ": BLAD - wyjątek w teście " + name + ": "),
              std::string::npos)
        << name << "\n" << text;
  EXPECT_NE(text.find("--- Test epDsaSigVerifyTV\r\n"), std::string::npos) << text;
}
