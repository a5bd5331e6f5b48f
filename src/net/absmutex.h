// The in-process lock of the network caches, the memory stores and the other process-wide
// tables: re-entrant for the owning thread, waited on without a time limit.
#pragma once

#include <mutex>

namespace MIRVALLIBS {

class Abs_Mutex {
 public:
  void lock() { mutex.lock(); }
  void unlock() { mutex.unlock(); }

 private:
  std::recursive_mutex mutex;
};

// Holds an Abs_Mutex for one scope.
class Abs_Lock {
 public:
  explicit Abs_Lock(Abs_Mutex& m) : held(m) { held.lock(); }
  ~Abs_Lock() { held.unlock(); }
  Abs_Lock(const Abs_Lock&) = delete;
  Abs_Lock& operator=(const Abs_Lock&) = delete;

 private:
  Abs_Mutex& held;
};

}  // namespace MIRVALLIBS
