// libFuzzer target over an index file: the bytes are the ".idx" file. Opening
// may fail; an opened file must answer walks, seeks and an insert with a
// result code, each walk ending.
#include "store/db/indexfile.h"
#include "removedatexit.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = scratchfiles::removedAtExit(
      "/tmp/fuzz_dbindex-" + std::to_string(::getpid()) + ".idx");
  static const std::string journal = scratchfiles::removedAtExit(path + ".jnl");
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return 0;
  std::fwrite(data, 1, size, out);
  std::fclose(out);
  // The journal an earlier run's insert left would make runs depend on each other.
  std::remove(journal.c_str());
  IndexFile f;
  if (!f.open(path.c_str())) return 0;
  for (int i = 0; i < f.indexCount(); ++i) {
    f.setIndex(i);
    for (int direction : {1, -1}) {
      int r = direction > 0 ? f.first() : f.last();
      long steps = 0;
      while (r == 1) {
        if (++steps > 10000000) std::abort();  // an endless walk
        r = f.move(direction);
      }
    }
    (void)f.seek("m");
  }
  const char* keys[10] = {"k", "k", "k", "k", "k", "k", "k", "k", "k", "k"};
  (void)f.insert(keys, 48);
  return 0;
}
