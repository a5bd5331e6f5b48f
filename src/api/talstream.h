// The byte streams a C caller hands to the message protection: a file or memory behind the
// opaque talStream handle. Handles are checked against the live streams, so a deleted or
// foreign pointer is refused rather than read.
#pragma once

#include "base/memfile.h"

#include <cstdint>
#include <memory>
#include <string>

#include <sys/types.h>

class File;

struct talStream {
  // Cuts the stream to nothing: what a failed protection leaves in its output.
  static void discard(talStream* handle);
  // Two live streams over one file (the same file by two paths included).
  static bool sameFile(const talStream* a, const talStream* b);

  std::unique_ptr<File> file;
  std::string path;  // of a file stream
  dev_t device = 0;  // and the file it opened
  ino_t inode = 0;
  bool writable = false;
  std::unique_ptr<MemFile> memory;
  // Held by a call (under the live streams' lock): one call at a time reads or writes a
  // stream, and no one deletes it under that call.
  bool busy = false;
};

// A live stream held for the length of one call. get() is NULL for a handle that is not a
// live stream and for one that another call holds.
class StreamUse {
 public:
  explicit StreamUse(talStream* handle);
  ~StreamUse();
  StreamUse(const StreamUse&) = delete;
  StreamUse& operator=(const StreamUse&) = delete;
  GenericFile* get() const;

 private:
  talStream* held = nullptr;
};
