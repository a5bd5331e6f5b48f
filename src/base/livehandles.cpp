#include "base/livehandles.h"

#include <mutex>
#include <shared_mutex>
#include <unordered_map>

namespace {

struct LiveHandles {
  std::shared_mutex lock;
  std::unordered_map<const void*, HandleKind> kinds;
};

// Never destroyed: a handle may be dropped after the statics are gone.
LiveHandles& liveHandles() {
  static LiveHandles* live = new LiveHandles();
  return *live;
}

}  // namespace

void enlistHandle(const void* handle, HandleKind kind) {
  LiveHandles& live = liveHandles();
  std::unique_lock<std::shared_mutex> guard(live.lock);
  live.kinds[handle] = kind;
}

void dropHandle(const void* handle) {
  LiveHandles& live = liveHandles();
  std::unique_lock<std::shared_mutex> guard(live.lock);
  live.kinds.erase(handle);
}

bool isLiveHandle(const void* handle, HandleKind kind) {
  if (!handle) return false;
  LiveHandles& live = liveHandles();
  std::shared_lock<std::shared_mutex> guard(live.lock);
  auto found = live.kinds.find(handle);
  return found != live.kinds.end() && found->second == kind;
}
