// Threads over the public header: eight threads verify the bundled receipt each with its own
// context (one profile, so one shared database), a clone is taken while its source verifies on
// another thread, and opening contexts leaves the reports' character set as the process chose
// it. Built with ThreadSanitizer by scripts/tsan.sh.
#include "talvorin.h"

#include "apisession.h"
#include "base/no_oop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string RECEIPT = apisession::UPO + "upo.xml";

class Threads : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = apisession::sandbox("api_threads");
    ASSERT_FALSE(dir.empty());
  }
  void TearDown() override { std::system(("rm -rf " + dir).c_str()); }
  std::string dir;
};

TEST_F(Threads, EightThreadsVerifyWithTheirOwnContexts) {
  const int THREADS = 8, ROUNDS = 3;
  std::vector<int> failures(THREADS, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < THREADS; ++t)
    threads.emplace_back([t, &failures] {
      talCtx* ctx = apisession::open();
      if (!ctx) {
        failures[t] = -1;
        return;
      }
      for (int round = 0; round < ROUNDS; ++round)
        if (apisession::road(ctx, RECEIPT) != 0) ++failures[t];
      if (talDeinit(ctx) != 0) ++failures[t];
    });
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < THREADS; ++t) EXPECT_EQ(0, failures[t]) << "thread " << t;
}

TEST_F(Threads, CloneTakenWhileTheSourceVerifies) {
  talCtx* source = apisession::open();
  ASSERT_NE(nullptr, source);
  std::atomic<bool> verifying{true};
  int sourceFailures = 0;
  std::thread verifier([&] {
    for (int round = 0; round < 12; ++round) {
      if (apisession::road(source, RECEIPT) != 0) ++sourceFailures;
      // The source's owner reads its texts as any caller does after an operation.
      if (!talErrorText(source, 39) || !talReportText(source)[0]) ++sourceFailures;
    }
    verifying = false;
  });
  // Clones taken over and over while the source works; each verifies on a thread of its own.
  int clones = 0;
  std::vector<std::thread> users;
  std::vector<int> cloneFailures(64, 0);
  while (clones < 64 && (verifying || clones < 2)) {
    talCtx* clone = nullptr;
    int32_t r = talCloneCtx(source, &clone);
    ASSERT_TRUE(r == 0 || r == WTAL_GENERIC_WARNING) << r;
    int slot = clones++;
    users.emplace_back([clone, slot, &cloneFailures] {
      if (apisession::road(clone, RECEIPT) != 0) ++cloneFailures[slot];
      if (talDeinit(clone) != 0) ++cloneFailures[slot];
    });
  }
  verifier.join();
  for (std::thread& user : users) user.join();
  EXPECT_EQ(0, sourceFailures);
  for (int i = 0; i < clones; ++i) EXPECT_EQ(0, cloneFailures[i]) << "clone " << i;
  EXPECT_EQ(0, talDeinit(source));
}

TEST_F(Threads, OpeningAContextLeavesTheChosenCharsetAlone) {
  // The process's choice is made by its first context; a report being written on one thread
  // keeps it while another thread opens a context.
  talCtx* first = apisession::open();
  ASSERT_NE(nullptr, first);
  const char chosen = outputCharset();
  const char other = chosen == 'U' ? 'L' : 'U';
  setenv("PL_STANDARD", other == 'U' ? "UTF8" : "LATIN2", 1);
  std::atomic<int> changed{0};
  std::atomic<bool> opening{true};
  std::thread reader([&] {
    while (opening)
      if (outputCharset() != chosen) ++changed;
  });
  for (int i = 0; i < 5; ++i) {
    talCtx* ctx = apisession::open("ApiThreadsCharset");
    ASSERT_NE(nullptr, ctx);
    EXPECT_EQ(0, talDeinit(ctx));
  }
  opening = false;
  reader.join();
  unsetenv("PL_STANDARD");
  EXPECT_EQ(0, changed.load());
  EXPECT_EQ(chosen, outputCharset());
  EXPECT_EQ(0, talDeinit(first));
}

}  // namespace

// A choice of the character set is one store: a thread writing a report never sees a value the
// choice passes through.
TEST(OutputCharset, AChoiceIsSeenWhole) {
  setenv("PL_STANDARD", "UTF8", 1);
  ASSERT_EQ('U', selectOutputCharset(nullptr));
  std::atomic<bool> choosing{true};
  std::thread chooser([&] {
    for (int i = 0; i < 200000; ++i) selectOutputCharset(nullptr);
    choosing = false;
  });
  long other = 0;
  while (choosing)
    if (outputCharset() != 'U') ++other;
  chooser.join();
  unsetenv("PL_STANDARD");
  selectOutputCharset("windows");
  EXPECT_EQ(0, other);
}
