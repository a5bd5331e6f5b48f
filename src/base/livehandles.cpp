#include "base/livehandles.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace {

// Striped by address: threads working on their own handles (a signature record is enlisted and
// dropped for every signature verified) seldom meet on one lock.
struct Stripe {
  std::mutex lock;
  std::unordered_map<const void*, HandleKind> kinds;
};
const size_t STRIPES = 64;

// Never destroyed: a handle may be dropped after the statics are gone.
Stripe& stripeOf(const void* handle) {
  static Stripe* stripes = new Stripe[STRIPES];
  const uintptr_t address = reinterpret_cast<uintptr_t>(handle);
  return stripes[(address >> 4 ^ address >> 12) % STRIPES];
}

}  // namespace

void enlistHandle(const void* handle, HandleKind kind) {
  Stripe& stripe = stripeOf(handle);
  std::lock_guard<std::mutex> guard(stripe.lock);
  stripe.kinds[handle] = kind;
}

void dropHandle(const void* handle) {
  Stripe& stripe = stripeOf(handle);
  std::lock_guard<std::mutex> guard(stripe.lock);
  stripe.kinds.erase(handle);
}

bool takeHandle(const void* handle, HandleKind kind) {
  if (!handle) return false;
  Stripe& stripe = stripeOf(handle);
  std::lock_guard<std::mutex> guard(stripe.lock);
  auto found = stripe.kinds.find(handle);
  if (found == stripe.kinds.end() || found->second != kind) return false;
  stripe.kinds.erase(found);
  return true;
}

bool isLiveHandle(const void* handle, HandleKind kind) {
  if (!handle) return false;
  Stripe& stripe = stripeOf(handle);
  std::lock_guard<std::mutex> guard(stripe.lock);
  auto found = stripe.kinds.find(handle);
  return found != stripe.kinds.end() && found->second == kind;
}
