// The live-handle list: a hold keeps an object from a delete on another thread until it ends, a
// delete refuses what it does not find as that kind or what its own thread holds, a refused
// take leaves the handle live, and a pause keeps holds out while it lasts.
#include "base/livehandles.h"
#include "hangguard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// Threads that wait for each other for ever cannot be joined: the test ends the process.
void finishesSoon(std::future<void>& done, const char* what) {
  if (done.wait_for(std::chrono::seconds(HANG_GUARD_SECONDS)) == std::future_status::ready) return;
  std::fprintf(stderr, "%s never ended: the threads wait for each other\n", what);
  std::_Exit(1);
}

TEST(LiveHandles, ADeleteWaitsForTheHoldsOfOtherThreads) {
  int object = 0;
  enlistHandle(&object, HandleKind::Buffer, 4);
  std::atomic<bool> taken{false};
  std::thread deleter;
  {
    HandleHold hold(&object, HandleKind::Buffer);
    ASSERT_TRUE(hold);
    deleter = std::thread([&] {
      size_t size = 0;
      EXPECT_TRUE(takeHandle(&object, HandleKind::Buffer, &size));
      EXPECT_EQ(4u, size);
      taken = true;
    });
    // Once the delete has begun no new hold is given, while the held one still reads.
    while (isLiveHandle(&object, HandleKind::Buffer)) std::this_thread::yield();
    EXPECT_FALSE(HandleHold(&object, HandleKind::Buffer));
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(taken);
  }
  deleter.join();
  EXPECT_TRUE(taken);
  EXPECT_FALSE(takeHandle(&object, HandleKind::Buffer));
}

TEST(LiveHandles, RefusalsLeaveTheHandleAsItWas) {
  int object = 0;
  enlistHandle(&object, HandleKind::Message);
  EXPECT_FALSE(takeHandle(&object, HandleKind::Signature));  // another kind
  EXPECT_FALSE(HandleHold(&object, HandleKind::Signature));
  EXPECT_FALSE(takeHandle(&object, HandleKind::Message, nullptr, [] { return false; }));
  {
    // Held by this very thread: a delete would pull it from under its own call.
    HandleHold hold(&object, HandleKind::Message);
    EXPECT_FALSE(takeHandle(&object, HandleKind::Message));
    EXPECT_TRUE(isLiveHandle(&object, HandleKind::Message));
  }
  EXPECT_TRUE(takeHandle(&object, HandleKind::Message));
  // A drop from the thread that holds it (an object going under its own call) does not wait.
  enlistHandle(&object, HandleKind::Message);
  HandleHold stale(&object, HandleKind::Message);
  dropHandle(&object);
  EXPECT_FALSE(isLiveHandle(&object, HandleKind::Message));
  // The next life of the address is not counted against by the stale hold's end.
  enlistHandle(&object, HandleKind::Message);
  stale.release();
  EXPECT_TRUE(takeHandle(&object, HandleKind::Message));
}

TEST(LiveHandles, APauseKeepsHoldsOutAndWaitsForThem) {
  int object = 0;
  enlistHandle(&object, HandleKind::Signature);
  std::atomic<bool> paused{false}, checked{false};
  std::thread pauser;
  {
    HandleHold hold(&object, HandleKind::Signature);
    pauser = std::thread([&] {
      HandlePause pause(&object);
      paused = true;
      while (!checked) std::this_thread::yield();
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(paused);
  }
  while (!paused) std::this_thread::yield();
  EXPECT_FALSE(HandleHold(&object, HandleKind::Signature));
  checked = true;
  pauser.join();
  EXPECT_TRUE(HandleHold(&object, HandleKind::Signature));
  dropHandle(&object);
}

// A thread holding a handle that another thread has begun to delete frees the object itself (an
// object going under its own call), deletes it or pauses it: the delete waits for that hold, so
// the holder never waits for the delete. The delete then finds it gone, or takes it after.
TEST(LiveHandles, AHolderNeverWaitsForADeleteThatWaitsForIt) {
  for (int way = 0; way < 3; ++way) {
    int object = 0;
    enlistHandle(&object, HandleKind::Profile);
    std::atomic<bool> held{false};
    std::atomic<int> taken{-1};
    std::promise<void> finished;
    std::future<void> done = finished.get_future();
    std::thread holder([&] {
      HandleHold hold(&object, HandleKind::Profile);
      held = true;
      while (isLiveHandle(&object, HandleKind::Profile)) std::this_thread::yield();
      if (way == 0) {
        dropHandle(&object);
      } else if (way == 1) {
        EXPECT_FALSE(takeHandle(&object, HandleKind::Profile));
      } else {
        HandlePause pause(&object);
      }
      hold.release();
      finished.set_value();
    });
    while (!held) std::this_thread::yield();
    std::thread deleter([&] { taken = takeHandle(&object, HandleKind::Profile) ? 1 : 0; });
    finishesSoon(done, "a hold's own drop, delete or pause");
    holder.join();
    deleter.join();
    EXPECT_EQ(way == 0 ? 0 : 1, taken.load()) << "way " << way;
    EXPECT_FALSE(isLiveHandle(&object, HandleKind::Profile));
  }
}

// A hold asked to wait for a close that another thread has begun gets the handle when the close
// changes its mind and nothing when the handle goes; one that holds the handle already never
// waits for that close, which waits for it.
TEST(LiveHandles, AHoldWaitsForACloseToEnd) {
  for (bool goes : {false, true}) {
    int object = 0;
    enlistHandle(&object, HandleKind::Context);
    std::atomic<bool> deciding{false}, decide{false};
    std::atomic<int> taken{-1}, waited{-1};
    std::thread closer;
    {
      HandleHold hold(&object, HandleKind::Context);
      closer = std::thread([&] {
        taken = takeHandle(&object, HandleKind::Context, nullptr, [&] {
          deciding = true;
          while (!decide) std::this_thread::yield();
          return goes;
        });
      });
      while (isLiveHandle(&object, HandleKind::Context)) std::this_thread::yield();
      EXPECT_FALSE(HandleHold(&object, HandleKind::Context, true));
    }
    while (!deciding) std::this_thread::yield();
    std::thread waiter([&] { waited = HandleHold(&object, HandleKind::Context, true) ? 1 : 0; });
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(-1, waited.load());
    decide = true;
    closer.join();
    waiter.join();
    EXPECT_EQ(goes ? 1 : 0, taken.load());
    EXPECT_EQ(goes ? 0 : 1, waited.load());
    if (!goes) dropHandle(&object);
  }
}

// A child of fork has only the thread that forked: a hold of another thread of the parent, or the
// list's lock held by one as the fork happened, keeps no delete in the child waiting.
TEST(LiveHandles, AForkedChildWaitsForNoThreadOfItsParent) {
  int object = 0, other = 0;
  enlistHandle(&object, HandleKind::Message);
  std::atomic<bool> held{false}, forked{false};
  std::thread reader([&] {
    HandleHold hold(&object, HandleKind::Message);
    held = true;
    // Holds begun and ended on the stripes meanwhile, so a fork may find a lock taken.
    while (!forked) {
      enlistHandle(&other, HandleKind::Message);
      dropHandle(&other);
    }
  });
  while (!held) std::this_thread::yield();
  const pid_t child = ::fork();
  if (child == 0) {
    const bool taken = takeHandle(&object, HandleKind::Message);
    enlistHandle(&other, HandleKind::Message);
    dropHandle(&other);
    ::_exit(taken ? 0 : 1);
  }
  forked = true;
  reader.join();
  ASSERT_LT(0, child);
  int status = 0;
  pid_t ended = 0;
  for (int i = 0; i < HANG_GUARD_SECONDS * 100 && ended == 0; ++i) {
    ended = ::waitpid(child, &status, WNOHANG);
    if (ended == 0) std::this_thread::sleep_for(10ms);
  }
  if (ended == 0) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    FAIL() << "the child waits for a thread it does not have";
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
  EXPECT_TRUE(takeHandle(&object, HandleKind::Message));
}

int atExitObject = 0;

// A handle of a library object closed by a static destructor or an exit handler, after the
// exiting thread's own storage has gone: the list still tells what the thread holds.
TEST(LiveHandles, AHandleGoesAtExit) {
  const pid_t child = ::fork();
  if (child == 0) {
    enlistHandle(&atExitObject, HandleKind::Context);
    {
      HandleHold hold(&atExitObject, HandleKind::Context);
      if (!hold) ::_exit(2);
    }
    std::atexit([] {
      HandleHold hold(&atExitObject, HandleKind::Context);
      if (!hold) ::_exit(3);
      // Held by this thread: refused.
      if (takeHandle(&atExitObject, HandleKind::Context)) ::_exit(4);
      hold.release();
      if (!takeHandle(&atExitObject, HandleKind::Context)) ::_exit(5);
    });
    std::exit(0);
  }
  ASSERT_LT(0, child);
  int status = 0;
  ASSERT_EQ(child, ::waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
}

}  // namespace
