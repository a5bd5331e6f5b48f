// The objects the C interface hands out as handles (library contexts, certificates, messages and
// their signatures, server lists, XML contexts, profiles, buffers), enlisted while they live. An
// entry point holds a handle here for as long as it reads it, so a freed pointer, a stranger's
// pointer or a handle of another kind is refused without being touched, and a handle freed on
// another thread is freed only once no call reads it any more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

enum class HandleKind : uint8_t {
  Context = 1,
  Certificate,
  Message,
  Signature,
  ServerIterator,
  XmlContext,
  Profile,
  Buffer
};

// Throws std::bad_alloc when the entry cannot be made. `size` is kept for the caller (a buffer's
// length).
void enlistHandle(const void* handle, HandleKind kind, size_t size = 0);
// Called before the object goes: nothing for a handle that is not enlisted; otherwise no new
// call may hold it, and this waits until the calls of other threads that hold it are done. A
// thread that holds the handle never waits for another thread's delete of it (which waits for
// this one): that delete finds it gone.
void dropHandle(const void* handle);
// Drops the handle when it is enlisted as that kind, in one step, after the calls of other
// threads that hold it are done; false when it was not enlisted so, when another thread takes
// it, when the calling thread itself holds it, or when `mayTake` (asked while nothing else reads
// the handle) says no, and then the handle stays as it was. `size` gets the enlisted size.
bool takeHandle(const void* handle, HandleKind kind, size_t* size = nullptr,
                const std::function<bool()>& mayTake = nullptr);
// True when the handle is enlisted, as that kind. Only a handle held meanwhile may be read.
bool isLiveHandle(const void* handle, HandleKind kind);

// A handle held live for one call: while it is held the object is not freed (a delete on another
// thread waits for it). Empty for anything not enlisted as the kind, or on its way out. With
// `waitForClose`, a close that another thread has begun is waited for (unless this thread holds
// the handle: that close waits for it): the hold is then taken when the handle stays (a close
// that changed its mind) and empty when it went.
class HandleHold {
 public:
  HandleHold() = default;
  HandleHold(const void* handle, HandleKind kind, bool waitForClose = false);
  ~HandleHold();
  HandleHold(HandleHold&& other) noexcept;
  HandleHold& operator=(HandleHold&& other) noexcept;
  HandleHold(const HandleHold&) = delete;
  HandleHold& operator=(const HandleHold&) = delete;

  explicit operator bool() const { return held != nullptr; }
  template <class T>
  T* as() const {
    return reinterpret_cast<T*>(const_cast<void*>(held));
  }
  void release();

 private:
  const void* held = nullptr;
  uint64_t generation = 0;
};

// No call holds the handle while this lives: it waits for the calls of other threads that hold
// it, and holds that begin meanwhile are refused. For changes readers must never see half done.
class HandlePause {
 public:
  explicit HandlePause(const void* handle);
  ~HandlePause();
  HandlePause(const HandlePause&) = delete;
  HandlePause& operator=(const HandlePause&) = delete;

 private:
  const void* paused = nullptr;
  uint64_t generation = 0;
};
