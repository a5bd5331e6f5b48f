// Streams and the PIN for a C caller: the least entries the message protection needs.
#include "api/talstream.h"

#include "talvorin.h"

#include "api/apitrace.h"
#include "api/talapi.h"
#include "api/talctx.h"
#include "base/file.h"
#include "keys/secretblock.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <set>

#include <sys/stat.h>

namespace {

std::mutex& liveLock() {
  static std::mutex lock;
  return lock;
}
std::set<const talStream*>& live() {
  static std::set<const talStream*> streams;
  return streams;
}

talStream* registered(std::unique_ptr<talStream> stream) {
  std::lock_guard<std::mutex> guard(liveLock());
  live().insert(stream.get());
  return stream.release();
}

bool isLive(const talStream* handle) {
  std::lock_guard<std::mutex> guard(liveLock());
  return handle && live().count(handle) != 0;
}

// A live file stream over the file at `st`, which a write stream would empty.
bool fileInUse(const struct stat& st) {
  for (const talStream* other : live())
    if (other->file && other->device == st.st_dev && other->inode == st.st_ino) return true;
  return false;
}

}  // namespace

StreamUse::StreamUse(talStream* handle) {
  std::lock_guard<std::mutex> guard(liveLock());
  if (!handle || live().count(handle) == 0 || handle->busy) return;
  handle->busy = true;
  held = handle;
}

StreamUse::~StreamUse() {
  if (!held) return;
  std::lock_guard<std::mutex> guard(liveLock());
  held->busy = false;
}

GenericFile* StreamUse::get() const {
  if (!held) return nullptr;
  if (held->file) return held->file.get();
  return held->memory.get();
}

void talStream::discard(talStream* handle) {
  if (!isLive(handle)) return;
  if (handle->file) {
    // Opened again for writing, the file is emptied whatever its size; a file that was given
    // for reading is never cut. Only the file the stream opened: when its path now names
    // another (a relative path after a change of folder, a file put in its place), the stream
    // is closed instead and nothing more is written.
    if (handle->writable) {
      struct stat now;
      if (::stat(handle->path.c_str(), &now) == 0 && now.st_dev == handle->device && now.st_ino == handle->inode)
        handle->file->open(handle->path.c_str(), "w+b");
      else
        handle->file->close();
    }
  } else if (handle->memory) {
    handle->memory->setSize(0);
    handle->memory->seek(0);
  }
}

bool talStream::sameFile(const talStream* a, const talStream* b) {
  if (!isLive(a) || !isLive(b) || !a->file || !b->file) return false;
  return a->device == b->device && a->inode == b->inode;
}

extern "C" {

int32_t talCreateFileStream(const char* path, int32_t mode, talStream** stream) {
  return traceCode("talCreateFileStream", [&] {
    return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&]() -> int32_t {
      if (!path || !stream || (mode != 0 && mode != 1)) return 20;
      const int32_t cannotOpen = mode == 0 ? 56 : 57;
      // Only a regular file: opening a FIFO would wait for its writer, and a device such as
      // /dev/zero never ends.
      struct stat before;
      const bool existed = ::stat(path, &before) == 0;
      if (existed ? !S_ISREG(before.st_mode) : mode == 0) return cannotOpen;
      std::unique_ptr<talStream> s(new talStream);
      s->file.reset(new File);
      // A write stream is made under the lock, so no other stream takes its file meanwhile
      // (opening for reading and writing does not wait, even on a FIFO put there since).
      std::unique_lock<std::mutex> guard(liveLock(), std::defer_lock);
      if (mode == 1) {
        guard.lock();
        // Emptying a file that another stream reads (or writes) would lose it before any call.
        if (existed && fileInUse(before)) return 20;
      }
      // Reading opens without waiting and takes a regular file only, whatever the path names
      // by the time it is opened.
      if ((mode == 0 ? s->file->openRegular(path) : s->file->open(path, "w+b")) != 0)
        return cannotOpen;
      struct stat after;
      if (::stat(path, &after) != 0 || !S_ISREG(after.st_mode) ||
          (existed && (after.st_dev != before.st_dev || after.st_ino != before.st_ino)))
        return cannotOpen;
      s->path = path;
      s->device = after.st_dev;
      s->inode = after.st_ino;
      s->writable = mode == 1;
      if (!guard.owns_lock()) guard.lock();
      live().insert(s.get());
      *stream = s.release();
      return 0;
    });
  });
}

int32_t talCreateMemStream(const uint8_t* data, int32_t length, talStream** stream) {
  return traceCode("talCreateMemStream", [&] {
    return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&]() -> int32_t {
      if (!stream || length < 0 || (!data && length > 0)) return 20;
      std::unique_ptr<talStream> s(new talStream);
      s->memory.reset(new MemFile);
      if (length > 0 && s->memory->write(static_cast<uint32_t>(length), data) != 0)
        return 100;
      s->memory->seek(0);
      *stream = registered(std::move(s));
      return 0;
    });
  });
}

int32_t talGetMemStreamData(talStream* stream, uint8_t** data, int32_t* length) {
  return traceCode("talGetMemStreamData", [&] {
    return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&]() -> int32_t {
      StreamUse use(stream);
      if (!data || !length || !use.get() || !stream->memory) return 20;
      const uint32_t size = stream->memory->size();
      if (size > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) return 20;
      uint8_t* copy = static_cast<uint8_t*>(newCallerBuffer(size));
      if (!copy) return 100;
      if (size) std::memcpy(copy, stream->memory->at(0), size);
      *data = copy;
      *length = static_cast<int32_t>(size);
      return 0;
    });
  });
}

int32_t talDeleteStream(talStream* stream) {
  return traceCode("talDeleteStream", [&] {
    return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&]() -> int32_t {
      {
        std::lock_guard<std::mutex> guard(liveLock());
        // A stream that a call holds is not freed under it.
        if (!stream || live().count(stream) == 0 || stream->busy) return 20;
        live().erase(stream);
      }
      delete stream;
      return 0;
    });
  });
}

int32_t talSetPin(talCtx* ctx, int32_t usage, const char* pin) {
  return traceCode("talSetPin", [&] {
    return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&]() -> int32_t {
      // Held and locked as every other call on the context: the PINs are read and wiped by
      // them.
      CtxUse use(ctx);
      if (use.code() != 0) return use.code();
      if (!pin || (usage != 1 && usage != 2 && usage != 8 && usage != 16)) return 20;
      ctx->setPin(usage, pin);
      return 0;
    });
  });
}

}  // extern "C"
