#include "base/livehandles.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

struct Entry {
  HandleKind kind;
  // Being dropped, taken or paused (by `closer`): no new hold begins.
  bool closing = false;
  std::thread::id closer;
  uint32_t users = 0;  // holds of calls reading the object
  // Tells this life of an address from a later one: a hold outlived by its object (the thread
  // that holds it freed it) never counts against the next object there.
  uint64_t generation = 0;
  size_t size = 0;
};

// Striped by address: threads working on their own handles (a signature record is enlisted and
// dropped for every signature verified) seldom meet on one lock. Nothing waits with the lock
// held: a drop waits on the stripe's condition, so a slow reader holds up only its own handle.
struct Stripe {
  std::mutex lock;
  std::condition_variable changed;
  std::unordered_map<const void*, Entry> entries;
};
const size_t STRIPES = 64;

std::atomic<uint64_t> lastGeneration{0};

// Never destroyed: a handle may be dropped after the statics are gone.
Stripe& stripeOf(const void* handle) {
  static Stripe* stripes = new Stripe[STRIPES];
  const uintptr_t address = reinterpret_cast<uintptr_t>(handle);
  return stripes[(address >> 4 ^ address >> 12) % STRIPES];
}

// The holds of the calling thread: a thread never waits for itself.
using Holds = std::vector<std::pair<const void*, uint64_t>>;
Holds& holdsOfThisThread() {
  thread_local Holds holds;
  return holds;
}

uint32_t ownHolds(const void* handle, uint64_t generation) {
  const Holds& holds = holdsOfThisThread();
  return static_cast<uint32_t>(
      std::count(holds.begin(), holds.end(), std::make_pair(handle, generation)));
}

// The entry of the handle once no other thread is closing it (null when there is none by then).
// A closing of the calling thread's own is returned as it is.
Entry* settledEntry(Stripe& stripe, std::unique_lock<std::mutex>& guard, const void* handle) {
  for (;;) {
    auto found = stripe.entries.find(handle);
    if (found == stripe.entries.end()) return nullptr;
    Entry& entry = found->second;
    if (!entry.closing || entry.closer == std::this_thread::get_id()) return &entry;
    stripe.changed.wait(guard);
  }
}

// Closes the entry for this thread and waits until only the thread's own holds are left
// (references to map elements survive other inserts and erases).
void closeAndDrain(Stripe& stripe, std::unique_lock<std::mutex>& guard, const void* handle,
                   Entry& entry) {
  entry.closing = true;
  entry.closer = std::this_thread::get_id();
  const uint32_t own = ownHolds(handle, entry.generation);
  stripe.changed.wait(guard, [&] { return entry.users <= own; });
}

}  // namespace

void enlistHandle(const void* handle, HandleKind kind, size_t size) {
  Stripe& stripe = stripeOf(handle);
  std::lock_guard<std::mutex> guard(stripe.lock);
  Entry& entry = stripe.entries[handle];
  entry = Entry();
  entry.kind = kind;
  entry.generation = ++lastGeneration;
  entry.size = size;
}

void dropHandle(const void* handle) {
  if (!handle) return;
  Stripe& stripe = stripeOf(handle);
  std::unique_lock<std::mutex> guard(stripe.lock);
  Entry* entry = settledEntry(stripe, guard, handle);
  if (!entry) return;
  closeAndDrain(stripe, guard, handle, *entry);
  stripe.entries.erase(handle);
  stripe.changed.notify_all();
}

bool takeHandle(const void* handle, HandleKind kind, size_t* size,
                const std::function<bool()>& mayTake) {
  if (!handle) return false;
  Stripe& stripe = stripeOf(handle);
  std::unique_lock<std::mutex> guard(stripe.lock);
  Entry* entry = settledEntry(stripe, guard, handle);
  // Closed by this thread already, or held by it: freeing it would pull it from under the call.
  if (!entry || entry->kind != kind || entry->closing || ownHolds(handle, entry->generation) > 0)
    return false;
  closeAndDrain(stripe, guard, handle, *entry);
  if (mayTake) {
    bool may = false;
    guard.unlock();
    try {
      may = mayTake();
    } catch (...) {
      guard.lock();
      entry->closing = false;
      stripe.changed.notify_all();
      throw;
    }
    guard.lock();
    if (!may) {
      entry->closing = false;
      stripe.changed.notify_all();
      return false;
    }
  }
  if (size) *size = entry->size;
  stripe.entries.erase(handle);
  stripe.changed.notify_all();
  return true;
}

bool isLiveHandle(const void* handle, HandleKind kind) {
  if (!handle) return false;
  Stripe& stripe = stripeOf(handle);
  std::lock_guard<std::mutex> guard(stripe.lock);
  auto found = stripe.entries.find(handle);
  return found != stripe.entries.end() && found->second.kind == kind &&
         (!found->second.closing || found->second.closer == std::this_thread::get_id());
}

HandleHold::HandleHold(const void* handle, HandleKind kind) {
  if (!handle) return;
  Holds& holds = holdsOfThisThread();
  holds.reserve(holds.size() + 1);  // may throw: before anything is counted
  Stripe& stripe = stripeOf(handle);
  std::lock_guard<std::mutex> guard(stripe.lock);
  auto found = stripe.entries.find(handle);
  if (found == stripe.entries.end()) return;
  Entry& entry = found->second;
  // The thread closing a handle may still read it (a close that does its work first).
  if (entry.kind != kind || (entry.closing && entry.closer != std::this_thread::get_id())) return;
  ++entry.users;
  held = handle;
  generation = entry.generation;
  holds.emplace_back(handle, generation);
}

HandleHold::~HandleHold() { release(); }

HandleHold::HandleHold(HandleHold&& other) noexcept
    : held(other.held), generation(other.generation) {
  other.held = nullptr;
}

HandleHold& HandleHold::operator=(HandleHold&& other) noexcept {
  if (this != &other) {
    release();
    held = other.held;
    generation = other.generation;
    other.held = nullptr;
  }
  return *this;
}

void HandleHold::release() {
  if (!held) return;
  Holds& holds = holdsOfThisThread();
  auto mine = std::find(holds.begin(), holds.end(), std::make_pair(held, generation));
  if (mine != holds.end()) holds.erase(mine);
  Stripe& stripe = stripeOf(held);
  {
    std::lock_guard<std::mutex> guard(stripe.lock);
    auto found = stripe.entries.find(held);
    if (found != stripe.entries.end() && found->second.generation == generation &&
        found->second.users > 0) {
      --found->second.users;
      if (found->second.closing) stripe.changed.notify_all();
    }
  }
  held = nullptr;
}

HandlePause::HandlePause(const void* handle) {
  if (!handle) return;
  Stripe& stripe = stripeOf(handle);
  std::unique_lock<std::mutex> guard(stripe.lock);
  Entry* entry = settledEntry(stripe, guard, handle);
  // Nothing to pause, or closed by this thread already (which resumes it itself).
  if (!entry || entry->closing) return;
  closeAndDrain(stripe, guard, handle, *entry);
  paused = handle;
  generation = entry->generation;
}

HandlePause::~HandlePause() {
  if (!paused) return;
  Stripe& stripe = stripeOf(paused);
  std::lock_guard<std::mutex> guard(stripe.lock);
  auto found = stripe.entries.find(paused);
  if (found != stripe.entries.end() && found->second.generation == generation) {
    found->second.closing = false;
    stripe.changed.notify_all();
  }
}
