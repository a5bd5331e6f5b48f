// libFuzzer target over isSMimeMessage: the input read through a memory stream and through a
// stream that hands it out in small pieces. Besides crashes, a stream left elsewhere than it
// was, a type outside 0..2, a type without a true answer, or two streams of the same octets
// answered differently stop the run.
#include "base/memfile.h"
#include "cms/smime.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void require(bool ok) {
  if (!ok) std::abort();
}

// Pieces of 1 to 7 octets.
class PieceFile : public GenericFile {
 public:
  PieceFile(const uint8_t* data, uint32_t n) : data(data), n(n) {}
  int32_t read(uint32_t length, uint8_t* buffer, uint32_t* count) override {
    uint32_t k = 1 + (position * 5 + 3) % 7;
    if (k > length) k = length;
    if (k > n - position) k = n - position;
    for (uint32_t i = 0; i < k; ++i) buffer[i] = data[position + i];
    position += k;
    *count = k;
    return 0;
  }
  int32_t write(uint32_t, const uint8_t*) override { return -1; }
  int32_t seek(int32_t p) override {
    if (p < 0 || static_cast<uint32_t>(p) > n) return -1;
    position = static_cast<uint32_t>(p);
    return 0;
  }
  uint32_t tell() override { return position; }
  uint32_t size() override { return n; }

 private:
  const uint8_t* data;
  uint32_t n;
  uint32_t position = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  std::vector<uint8_t> copy(data, data + size);
  MemFile memory(copy.data(), static_cast<int32_t>(copy.size()), false);
  int32_t type = -1;
  const bool known = isSMimeMessage(&memory, &type);
  require(memory.tell() == 0);
  require(type >= 0 && type <= 2 && known == (type != 0));
  // From the middle of a stream too: the answer is about what follows the position.
  PieceFile pieces(data, static_cast<uint32_t>(size));
  int32_t second = -1;
  require(isSMimeMessage(&pieces, &second) == known && second == type);
  require(pieces.tell() == 0);
  if (size > 1) {
    pieces.seek(1);
    int32_t shifted = -1;
    isSMimeMessage(&pieces, &shifted);
    require(pieces.tell() == 1 && shifted >= 0 && shifted <= 2);
  }
  return 0;
}
