// The live-handle list: a hold keeps an object from a delete on another thread until it ends, a
// delete refuses what it does not find as that kind or what its own thread holds, a refused
// take leaves the handle live, and a pause keeps holds out while it lasts.
#include "base/livehandles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

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

}  // namespace
