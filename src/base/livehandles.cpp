#include "base/livehandles.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <new>
#include <pthread.h>
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
// A fork holds every stripe's lock at once: few enough for ThreadSanitizer, which tracks at most
// 64 locks held by one thread.
const size_t STRIPES = 32;

std::atomic<uint64_t> lastGeneration{0};

void forkPrepare();
void forkParent();
void forkChild();

// Never destroyed: a handle may be dropped after the statics are gone.
Stripe* allStripes() {
  static Stripe* stripes = [] {
    Stripe* made = new Stripe[STRIPES];
    ::pthread_atfork(&forkPrepare, &forkParent, &forkChild);
    return made;
  }();
  return stripes;
}

Stripe& stripeOf(const void* handle) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(handle);
  return allStripes()[(address >> 4 ^ address >> 12) % STRIPES];
}

// The holds of the calling thread: a thread never waits for itself. Behind a plain pointer,
// which outlives the thread's objects: handles are held and dropped by exit handlers and static
// destructors too, after the exiting thread's own objects are gone.
using Holds = std::vector<std::pair<const void*, uint64_t>>;
thread_local Holds* threadHolds = nullptr;
thread_local bool threadEnding = false;
struct HoldsOwner {
  ~HoldsOwner() {
    delete threadHolds;
    threadHolds = nullptr;
    threadEnding = true;
  }
};
thread_local HoldsOwner holdsOwner;

// Made on the first hold; may throw std::bad_alloc. Once the thread's objects are gone, what is
// made again stays for the little that is left of the thread.
Holds& holdsOfThisThread() {
  if (!threadHolds) {
    threadHolds = new Holds;
    if (!threadEnding) (void)&holdsOwner;  // its end frees them
  }
  return *threadHolds;
}

uint32_t ownHolds(const void* handle, uint64_t generation) {
  if (!threadHolds) return 0;
  return static_cast<uint32_t>(
      std::count(threadHolds->begin(), threadHolds->end(), std::make_pair(handle, generation)));
}

Entry* entryOf(Stripe& stripe, const void* handle, uint64_t generation) {
  auto found = stripe.entries.find(handle);
  return found != stripe.entries.end() && found->second.generation == generation ? &found->second
                                                                                 : nullptr;
}

// The entry of the handle once no other thread is closing it (null when there is none by then).
// A closing of the calling thread's own is returned as it is, and so is one of another thread
// while this thread holds the handle: that thread waits for this one, so this one must not wait.
Entry* settledEntry(Stripe& stripe, std::unique_lock<std::mutex>& guard, const void* handle) {
  for (;;) {
    auto found = stripe.entries.find(handle);
    if (found == stripe.entries.end()) return nullptr;
    Entry& entry = found->second;
    if (!entry.closing || entry.closer == std::this_thread::get_id() ||
        ownHolds(handle, entry.generation) > 0)
      return &entry;
    stripe.changed.wait(guard);
  }
}

// Closes the entry for this thread and waits until only the thread's own holds are left. Null
// when the entry went meanwhile (dropped by a thread that held it as the close began).
Entry* closeAndDrain(Stripe& stripe, std::unique_lock<std::mutex>& guard, const void* handle,
                     Entry* entry) {
  entry->closing = true;
  entry->closer = std::this_thread::get_id();
  const uint64_t generation = entry->generation;
  const uint32_t own = ownHolds(handle, generation);
  for (;;) {
    entry = entryOf(stripe, handle, generation);
    if (!entry || entry->users <= own) return entry;
    stripe.changed.wait(guard);
  }
}

bool closedElsewhere(const Entry& entry) {
  return entry.closing && entry.closer != std::this_thread::get_id();
}

// A child has only the thread that forked: no other thread holds a lock of the list there, nor
// a handle, nor waits on a condition.
void forkPrepare() {
  for (size_t i = 0; i < STRIPES; ++i) allStripes()[i].lock.lock();
}

void forkParent() {
  for (size_t i = STRIPES; i-- > 0;) allStripes()[i].lock.unlock();
}

void forkChild() {
  for (size_t i = STRIPES; i-- > 0;) {
    Stripe& stripe = allStripes()[i];
    // The parent's waiters are counted in the condition's state; none of them is here to leave.
    new (&stripe.changed) std::condition_variable;
    for (auto e = stripe.entries.begin(); e != stripe.entries.end();) {
      Entry& entry = e->second;
      // An object another thread was closing stays as that thread left it: never a handle
      // again here.
      if (closedElsewhere(entry)) {
        e = stripe.entries.erase(e);
        continue;
      }
      entry.users = ownHolds(e->first, entry.generation);
      ++e;
    }
    stripe.lock.unlock();
  }
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
  // Another thread closing it waits for this thread's holds: it finds the entry gone.
  if (!closedElsewhere(*entry) && !closeAndDrain(stripe, guard, handle, entry)) return;
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
  entry = closeAndDrain(stripe, guard, handle, entry);
  if (!entry) return false;
  if (mayTake) {
    const uint64_t generation = entry->generation;
    // Looked up again afterwards: what the question does may drop the handle.
    auto reopen = [&] {
      entry = entryOf(stripe, handle, generation);
      if (entry) entry->closing = false;
      stripe.changed.notify_all();
    };
    bool may = false;
    guard.unlock();
    try {
      may = mayTake();
    } catch (...) {
      guard.lock();
      reopen();
      throw;
    }
    guard.lock();
    if (!may) {
      reopen();
      return false;
    }
    entry = entryOf(stripe, handle, generation);
    if (!entry) return false;
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

HandleHold::HandleHold(const void* handle, HandleKind kind, bool waitForClose) {
  if (!handle) return;
  Holds& holds = holdsOfThisThread();
  holds.reserve(holds.size() + 1);  // may throw: before anything is counted
  Stripe& stripe = stripeOf(handle);
  std::unique_lock<std::mutex> guard(stripe.lock);
  Entry* found = nullptr;
  if (waitForClose) {
    found = settledEntry(stripe, guard, handle);
  } else {
    auto at = stripe.entries.find(handle);
    if (at != stripe.entries.end()) found = &at->second;
  }
  if (!found) return;
  Entry& entry = *found;
  // The thread closing a handle may still read it (a close that does its work first).
  if (entry.kind != kind || closedElsewhere(entry)) return;
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
  if (threadHolds) {
    Holds& holds = *threadHolds;
    auto mine = std::find(holds.begin(), holds.end(), std::make_pair(held, generation));
    if (mine != holds.end()) holds.erase(mine);
  }
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
  // Nothing to pause, or closed already: by this thread (which resumes it itself), or by another
  // that waits for this thread's hold.
  if (!entry || entry->closing) return;
  entry = closeAndDrain(stripe, guard, handle, entry);
  if (!entry) return;
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
