// Compression functions of the SHA family over whole 64- or 128-octet blocks.
//
// Each has a portable version and faster ones for x86: SHA-1 and SHA-256 with
// the processor's SHA instructions (SHA-NI), else with the message schedule in
// AVX2 registers, as SHA-512. lvSha*CompressFn pick one at run time.
#pragma once

#include <cstddef>
#include <cstdint>

typedef void (*LvSha32CompressFn)(std::uint32_t* state, const std::uint8_t* blocks,
                                  std::size_t count);

void lvSha1CompressPortable(std::uint32_t state[5], const std::uint8_t* blocks, std::size_t count);
void lvSha256CompressPortable(std::uint32_t state[8], const std::uint8_t* blocks,
                              std::size_t count);
void lvSha512CompressPortable(std::uint64_t state[8], const std::uint8_t* blocks,
                              std::size_t count);

// The round constants. Hidden, so that the rounds address them from the
// instruction pointer: through the global offset table each use took a
// register away from rounds that have none to spare.
extern const std::uint32_t kLvSha256K[64] __attribute__((visibility("hidden")));
extern const std::uint64_t kLvSha512K[80] __attribute__((visibility("hidden")));

// True when the processor offers the SHA instructions (and SSSE3, SSE4.1).
bool lvShaNiAvailable();
// Only to be called when lvShaNiAvailable() is true.
void lvSha1CompressShaNi(std::uint32_t state[5], const std::uint8_t* blocks, std::size_t count);
void lvSha256CompressShaNi(std::uint32_t state[8], const std::uint8_t* blocks, std::size_t count);

// The message schedule in AVX2 registers, two blocks at a time: true when the
// processor has AVX2, BMI1 and BMI2; the functions only to be called then. SHA-1 and
// SHA-256 take this path where the SHA instructions are missing.
typedef void (*LvSha64CompressFn)(std::uint64_t* state, const std::uint8_t* blocks,
                                  std::size_t count);
bool lvShaAvx2Available();
void lvSha1CompressAvx2(std::uint32_t state[5], const std::uint8_t* blocks, std::size_t count);
void lvSha256CompressAvx2(std::uint32_t state[8], const std::uint8_t* blocks, std::size_t count);
void lvSha512CompressAvx2(std::uint64_t state[8], const std::uint8_t* blocks, std::size_t count);
// The same with AVX-512VL's rotations in the SHA-512 schedule: true when the
// processor has those as well.
bool lvShaAvx512VlAvailable();
void lvSha512CompressAvx512Vl(std::uint64_t state[8], const std::uint8_t* blocks,
                              std::size_t count);

// The version chosen for this processor.
LvSha32CompressFn lvSha1CompressFn();
LvSha32CompressFn lvSha256CompressFn();
LvSha64CompressFn lvSha512CompressFn();

// SHA-512 over `count` blocks and then `tailCount` more from elsewhere (the
// padding), in one call: the blocks of both are scheduled as one run.
typedef void (*LvSha64CompressTailFn)(std::uint64_t* state, const std::uint8_t* blocks,
                                      std::size_t count, const std::uint8_t* tail,
                                      std::size_t tailCount);
void lvSha512CompressTailPortable(std::uint64_t state[8], const std::uint8_t* blocks,
                                  std::size_t count, const std::uint8_t* tail,
                                  std::size_t tailCount);
void lvSha512CompressTailAvx2(std::uint64_t state[8], const std::uint8_t* blocks,
                              std::size_t count, const std::uint8_t* tail,
                              std::size_t tailCount);
void lvSha512CompressTailAvx512Vl(std::uint64_t state[8], const std::uint8_t* blocks,
                                  std::size_t count, const std::uint8_t* tail,
                                  std::size_t tailCount);
LvSha64CompressTailFn lvSha512CompressTailFn();

inline std::uint32_t lvLoadBe32(const std::uint8_t* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
         std::uint32_t(p[3]);
}
inline std::uint64_t lvLoadBe64(const std::uint8_t* p) {
  return (std::uint64_t(lvLoadBe32(p)) << 32) | lvLoadBe32(p + 4);
}
inline void lvStoreBe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = std::uint8_t(v >> 24);
  p[1] = std::uint8_t(v >> 16);
  p[2] = std::uint8_t(v >> 8);
  p[3] = std::uint8_t(v);
}
inline void lvStoreBe64(std::uint8_t* p, std::uint64_t v) {
  lvStoreBe32(p, std::uint32_t(v >> 32));
  lvStoreBe32(p + 4, std::uint32_t(v));
}
inline std::uint32_t lvLoadLe32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
         (std::uint32_t(p[3]) << 24);
}
inline void lvStoreLe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
  p[2] = std::uint8_t(v >> 16);
  p[3] = std::uint8_t(v >> 24);
}
inline std::uint32_t lvRotl32(std::uint32_t x, unsigned n) { return (x << n) | (x >> (32 - n)); }
inline std::uint32_t lvRotr32(std::uint32_t x, unsigned n) { return (x >> n) | (x << (32 - n)); }
inline std::uint64_t lvRotr64(std::uint64_t x, unsigned n) { return (x >> n) | (x << (64 - n)); }
