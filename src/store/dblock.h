// The reader/writer lock of a file-backed database directory, shared by every
// process (and every thread with its own lock object) that opens the directory:
// many readers together, a writer alone. Stands on the platform's named mutex
// (an flock on a lock file), so the kernel frees a lock whose holder dies.
#pragma once

#include "platform/namedmutex.h"

#include <array>
#include <string>

class InterProcessLock {
 public:
  // Lock modes.
  static constexpr int NONE = -1;
  static constexpr int SHARED = 0;
  static constexpr int EXCLUSIVE = 1;

  // disabled: nothing is opened and every call succeeds at once. With a lock
  // file the lock is an flock on that file (a database's lock lies beside the
  // database, so every user and process that opens it meets the same lock);
  // without one, on a file of the user's own lock folder named after `name`.
  InterProcessLock(const std::string& name, bool disabled, const std::string& lockFile = std::string());
  ~InterProcessLock();
  InterProcessLock(const InterProcessLock&) = delete;
  InterProcessLock& operator=(const InterProcessLock&) = delete;

  // Waits for the mode; false when the lock could not be opened or taken (a
  // lock file the folder did not yet hold is tried again). A
  // second lock on the same object changes the mode it holds.
  bool lock(bool exclusive);
  // Releases what this object holds; true (and nothing changes) when it holds nothing.
  bool unlock();
  int mode() const { return held; }
  const std::string& name() const { return lockName; }

  // The names of the four named objects the lock was designed around (writer
  // "p", no-readers "e", reader count "c", gate "k"): a name containing
  // "Global\" keeps its first seven characters and the rest has every
  // backslash turned into "."; otherwise the whole name is turned so. The
  // lock file stands for the first of them.
  static std::array<std::string, 4> objectNames(const std::string& name);

 private:
  bool open();

  platform::NamedMutex mutex;
  std::string file;  // the lock file given, else empty
  int held = NONE;
  std::string lockName;
  bool disabled;
};

// Takes a lock in a mode for the database stores: p locks, v unlocks, each
// throwing std::runtime_error on failure; the destructor unlocks what p took
// and v did not, so an exception leaves nothing held.
class FileSemaphore {
 public:
  FileSemaphore(InterProcessLock& lock, int mode) : lock(lock), lockMode(mode) {}
  ~FileSemaphore();
  FileSemaphore(const FileSemaphore&) = delete;
  FileSemaphore& operator=(const FileSemaphore&) = delete;

  void p();
  void v();

 private:
  InterProcessLock& lock;
  int lockMode;
  bool taken = false;
};
