// The database lock: its object names, readers together and writers alone
// across processes and threads, a holder killed with SIGKILL releasing it,
// the disabled mode, and FileSemaphore releasing on an exception path.
#include "store/dblock.h"
#include "hangguard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <future>
#include <stdexcept>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string uniqueName(const char* what)
{
  return std::string("/tmp/talvorin-dblock-test/") + what + "-" + std::to_string(::getpid()) +
         "db.lck";
}

// Runs `body` in a child that reports on `ready` once it holds its lock and
// then waits for a byte on `go` (or forever).
struct Child {
  pid_t pid = -1;
  int ready[2] = {-1, -1};
  int go[2] = {-1, -1};

  template <class Body>
  explicit Child(Body body)
  {
    EXPECT_EQ(0, ::pipe(ready));
    EXPECT_EQ(0, ::pipe(go));
    pid = ::fork();
    if (pid == 0) {
      char c = body() ? 'y' : 'n';
      if (::write(ready[1], &c, 1) != 1)
        _exit(2);
      if (::read(go[0], &c, 1) < 0)
        _exit(3);
      _exit(0);
    }
  }
  bool waitReady()
  {
    char c = 0;
    return ::read(ready[0], &c, 1) == 1 && c == 'y';
  }
  void release()
  {
    char c = 'g';
    EXPECT_EQ(1, ::write(go[1], &c, 1));
  }
  int finish()
  {
    int status = 0;
    ::waitpid(pid, &status, 0);
    for (int fd : {ready[0], ready[1], go[0], go[1]})
      ::close(fd);
    return status;
  }
};

// A lock that must come is waited for up to the hang guard; one that must not come is looked
// for a short while (a busy machine only makes it later still).
// True when the lock is taken within the time.
bool takenWithin(InterProcessLock& lock, bool exclusive, std::future<bool>& result, long ms)
{
  result = std::async(std::launch::async, [&lock, exclusive] { return lock.lock(exclusive); });
  return result.wait_for(std::chrono::milliseconds(ms)) == std::future_status::ready;
}

}  // namespace

TEST(InterProcessLock, ObjectNames)
{
  const std::string forty(40, 'A');
  const struct {
    std::string name;
    std::string base;
  } cases[] = {
      {"Global\\" + forty, "Global\\" + forty},
      {"Global\\a\\b", "Global\\a.b"},
      {"C:\\Dane\\TAL-VORIN\\baza\\db.lck", "C:.Dane.TAL-VORIN.baza.db.lck"},
      {"x\\Global\\y", "x\\Global.y"},
      {"/home/u/db/db.lck", "/home/u/db/db.lck"},
      {"", ""},
  };
  for (const auto& c : cases) {
    auto names = InterProcessLock::objectNames(c.name);
    EXPECT_EQ(c.base + "p", names[0]) << c.name;
    EXPECT_EQ(c.base + "e", names[1]);
    EXPECT_EQ(c.base + "c", names[2]);
    EXPECT_EQ(c.base + "k", names[3]);
  }
  EXPECT_EQ(259u + 1, InterProcessLock::objectNames(std::string(400, 'n'))[0].size());
}

TEST(InterProcessLock, ReadersShareAcrossProcessesAndAWriterWaits)
{
  std::string name = uniqueName("rw");
  Child reader([&] {
    static InterProcessLock lock(name, false);
    return lock.lock(false);
  });
  ASSERT_TRUE(reader.waitReady());
  InterProcessLock second(name, false);
  std::future<bool> shared;
  ASSERT_TRUE(takenWithin(second, false, shared, HANG_GUARD_MS)) << "a second reader joins";
  EXPECT_TRUE(shared.get());
  EXPECT_EQ(InterProcessLock::SHARED, second.mode());
  EXPECT_TRUE(second.unlock());

  InterProcessLock writer(name, false);
  std::future<bool> exclusive;
  EXPECT_FALSE(takenWithin(writer, true, exclusive, 300)) << "the writer waits for the reader";
  reader.release();
  EXPECT_EQ(std::future_status::ready, exclusive.wait_for(std::chrono::milliseconds(HANG_GUARD_MS)));
  EXPECT_TRUE(exclusive.get());
  EXPECT_EQ(0, reader.finish());
  EXPECT_EQ(InterProcessLock::EXCLUSIVE, writer.mode());
}

TEST(InterProcessLock, AHolderKilledWithSigkillReleasesIt)
{
  std::string name = uniqueName("kill");
  Child holder([&] {
    static InterProcessLock lock(name, false);
    return lock.lock(true);
  });
  ASSERT_TRUE(holder.waitReady());
  InterProcessLock waiter(name, false);
  std::future<bool> taken;
  EXPECT_FALSE(takenWithin(waiter, false, taken, 300));
  ::kill(holder.pid, SIGKILL);
  EXPECT_EQ(std::future_status::ready, taken.wait_for(std::chrono::milliseconds(HANG_GUARD_MS)));
  EXPECT_TRUE(taken.get());
  int status = holder.finish();
  EXPECT_TRUE(WIFSIGNALED(status));
}

TEST(InterProcessLock, ThreadsWithTheirOwnObjectsExcludeEachOther)
{
  std::string name = uniqueName("threads");
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      InterProcessLock lock(name, false);
      for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(lock.lock(true));
        if (++inside != 1)
          ++overlaps;
        std::this_thread::yield();
        --inside;
        ASSERT_TRUE(lock.unlock());
      }
    });
  for (std::thread& t : threads)
    t.join();
  EXPECT_EQ(0, overlaps.load());
}

TEST(InterProcessLock, UnlockWithoutLockAndTheDisabledMode)
{
  InterProcessLock lock(uniqueName("plain"), false);
  EXPECT_TRUE(lock.unlock());
  EXPECT_EQ(InterProcessLock::NONE, lock.mode());
  InterProcessLock disabled(uniqueName("plain"), true);
  ASSERT_TRUE(lock.lock(true));
  // A disabled lock succeeds at once, even against a held one.
  EXPECT_TRUE(disabled.lock(true));
  EXPECT_TRUE(disabled.unlock());
  EXPECT_TRUE(lock.unlock());
}

TEST(FileSemaphore, ReleasesOnAnExceptionPathAndThrowsItsTexts)
{
  std::string name = uniqueName("sem");
  InterProcessLock held(name, false);
  try {
    FileSemaphore sem(held, InterProcessLock::EXCLUSIVE);
    sem.p();
    EXPECT_EQ(InterProcessLock::EXCLUSIVE, held.mode());
    throw std::runtime_error("a store failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(InterProcessLock::NONE, held.mode());
  InterProcessLock other(name, false);
  std::future<bool> taken;
  EXPECT_TRUE(takenWithin(other, true, taken, HANG_GUARD_MS));
  EXPECT_TRUE(taken.get());
  other.unlock();

  // A lock whose file cannot be made: p fails with its text.
  setenv("XDG_RUNTIME_DIR", "/proc/talvorin-no-such-dir", 1);
  InterProcessLock broken("unopenable", false);
  unsetenv("XDG_RUNTIME_DIR");
  FileSemaphore sem(broken, InterProcessLock::SHARED);
  try {
    sem.p();
    ADD_FAILURE();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ("FileSemaphore::p: blad zajecia semafora", e.what());
  }
  EXPECT_NO_THROW(sem.v());
}
