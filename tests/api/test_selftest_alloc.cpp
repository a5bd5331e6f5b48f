// Memory running out while a context opens: this program can make the n-th allocation fail. An
// allocation that fails inside the cryptographic library's self-tests answers out of memory,
// never "self-test failed", and the next opening runs the tests again and succeeds.
#include "talvorin.h"

#include "api/talapi.h"
#include "crypto/selftest/lvselftest.h"

#include <gtest/gtest.h>

#include <ostream>

#include "crypto/basic/lvexception.h"

#include "failnth.h"

namespace {

long selfTestFailAt = 0;

// The library's self-tests with allocation number selfTestFailAt (counted from their start)
// failing.
bool failingSelfTest() {
  struct Disarm {
    ~Disarm() { g_failAt = 0; }
  } disarm;
  g_count = 0;
  g_failAt = selfTestFailAt;
  std::ostream report(nullptr);  // the report's text allocates nothing: only the tests count
  return lvSelfTest(report);
}

int32_t openOnce(long failAt) {
  selfTestFailAt = failAt;
  talReplaceSelfTest(failingSelfTest);  // not yet passed: the next opening runs it
  talProfile* profile = talCreateProfile(TAL_PROFILE_MEMORY);
  if (!profile) return -1;
  talCtx* ctx = nullptr;
  int32_t r = talInitEx(&ctx, profile);
  if (ctx) talDeinit(ctx);
  return r;
}

TEST(SelfTestAllocation, AFailedAllocationIsOutOfMemoryNotAFailedTest) {
  // How many allocations the self-tests make.
  g_count = 0;
  g_failAt = -1;
  std::ostream report(nullptr);
  ASSERT_TRUE(lvSelfTest(report));
  const long made = g_count;
  g_failAt = 0;
  ASSERT_LT(20, made);
  // A spread of them, from the first to near the last; each fails one opening. The tests run
  // on threads, so which allocation a number names varies a little from run to run, and a few
  // allocations are ones the code gets by without (a table a multiplication can do without, the
  // growth of a test's text): such a row may pass. None may be a failed self-test, and nearly
  // all must be out of memory.
  const long STEPS = 12;
  long outOfMemory = 0;
  for (long step = 0; step <= STEPS; ++step) {
    const long failAt = 1 + (made - made / 50 - 1) * step / STEPS;
    const int32_t r = openOnce(failAt);
    EXPECT_TRUE(r == ETAL_MEM || r == TAL_OK) << r << ": allocation " << failAt << " of " << made;
    if (r == ETAL_MEM) ++outOfMemory;
  }
  EXPECT_GE(outOfMemory, STEPS - 2);
  EXPECT_EQ(TAL_OK, openOnce(0));
  talReplaceSelfTest(nullptr);
}

// The sharded tests alone, with allocation after allocation failing near the
// start of each share's regions: a share cut short between a region's count
// and its text is merged without reading past what it made, and the run
// ends out of memory or passes, never as a failed test.
TEST(SelfTestAllocation, AShareCutShortMergesWhatItMade) {
  const lvselftest::Data& d = lvselftest::builtin();
  const struct {
    const char* name;
    int (*run)(std::ostream&, const char*, unsigned int);
    lvselftest::VectorText text;
  } rows[] = {
      {"rsaSigPkcsV15TV", lvselftest::rsaSigPkcsV15TV, d.rsaSig},
      {"rsaCipherPkcsV15TV", lvselftest::rsaCipherPkcsV15TV, d.rsaCipher},
  };
  for (const auto& row : rows) {
    g_count = 0;
    g_failAt = -1;
    {
      std::ostream report(nullptr);
      ASSERT_EQ(0, row.run(report, row.text.text, row.text.length)) << row.name;
    }
    const long made = g_count;
    g_failAt = 0;
    ASSERT_GT(made, 1000) << row.name;
    // The first regions of every share: their counts' and texts' lists grow there.
    long outOfMemory = 0;
    for (long at = 1; at <= 250; ++at) {
      std::ostream report(nullptr);
      int r = -1;
      g_count = 0;
      g_failAt = at;
      try {
        r = row.run(report, row.text.text, row.text.length);
      } catch (const std::bad_alloc&) {
        ++outOfMemory;
      } catch (const LvMemException&) {
        ++outOfMemory;
      }
      g_failAt = 0;
      if (r != -1) EXPECT_EQ(0, r) << row.name << ": allocation " << at;
    }
    EXPECT_GT(outOfMemory, 200) << row.name;
  }
}

}  // namespace
