// SHA-1, SHA-256 and SHA-512 compression with the message schedule in AVX2
// registers, chosen at run time (SHA-1 and SHA-256 only where the processor
// lacks the SHA instructions). Each 256-bit register holds schedule words of
// two blocks, one block per 128-bit half, so one pass schedules a pair of
// blocks; the rounds then run on general registers (with BMI2's rotations)
// over the precomputed words plus round constants. The rounds are bound by the
// integer ports, so the schedule on the vector units comes almost free.
#include "crypto/basic/lvcpu.h"
#include "crypto/hash/lvshacore.h"

#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>

// Everything twice: for AVX2 (with BMI), and with AVX-512VL's one-instruction
// rotations for the schedule's sigmas where the processor has them.
namespace {
namespace avx2 {
#define LV_AVX2 __attribute__((target("avx2,bmi,bmi2")))
#define LV_SHA_VL 0
#include "crypto/hash/lvshaavx2.inc"
#undef LV_AVX2
#undef LV_SHA_VL
}  // namespace avx2
namespace vl {
#define LV_AVX2 __attribute__((target("avx2,bmi,bmi2,avx512f,avx512vl")))
#define LV_SHA_VL 1
#include "crypto/hash/lvshaavx2.inc"
#undef LV_AVX2
#undef LV_SHA_VL
}  // namespace vl
}  // namespace

bool lvShaAvx2Available() { return lvcpu::hasAvx2() && lvcpu::hasBmi1() && lvcpu::hasBmi2(); }

bool lvShaAvx512VlAvailable() { return lvShaAvx2Available() && lvcpu::hasAvx512Vl(); }

void lvSha1CompressAvx2(std::uint32_t state[5], const std::uint8_t* blocks, std::size_t count) {
  avx2::compressPairs<avx2::Sha1Step, avx2::Sha1Rounds>(state, blocks, count);
}
void lvSha256CompressAvx2(std::uint32_t state[8], const std::uint8_t* blocks, std::size_t count) {
  avx2::compressPairs<avx2::Sha256Step, avx2::Sha256Rounds>(state, blocks, count);
}
void lvSha512CompressAvx2(std::uint64_t state[8], const std::uint8_t* blocks, std::size_t count) {
  avx2::compressPairs<avx2::Sha512Step, avx2::Sha512Rounds>(state, blocks, count);
}
void lvSha512CompressAvx512Vl(std::uint64_t state[8], const std::uint8_t* blocks,
                              std::size_t count) {
  vl::compressPairs<vl::Sha512Step, vl::Sha512Rounds>(state, blocks, count);
}
void lvSha512CompressTailAvx2(std::uint64_t state[8], const std::uint8_t* blocks,
                              std::size_t count, const std::uint8_t* tail,
                              std::size_t tailCount) {
  avx2::compressPairs<avx2::Sha512Step, avx2::Sha512Rounds>(state, blocks, count, tail,
                                                            tailCount);
}
void lvSha512CompressTailAvx512Vl(std::uint64_t state[8], const std::uint8_t* blocks,
                                  std::size_t count, const std::uint8_t* tail,
                                  std::size_t tailCount) {
  vl::compressPairs<vl::Sha512Step, vl::Sha512Rounds>(state, blocks, count, tail, tailCount);
}

#else

bool lvShaAvx2Available() { return false; }
bool lvShaAvx512VlAvailable() { return false; }
void lvSha1CompressAvx2(std::uint32_t state[5], const std::uint8_t* blocks, std::size_t count) {
  lvSha1CompressPortable(state, blocks, count);
}
void lvSha256CompressAvx2(std::uint32_t state[8], const std::uint8_t* blocks, std::size_t count) {
  lvSha256CompressPortable(state, blocks, count);
}
void lvSha512CompressAvx2(std::uint64_t state[8], const std::uint8_t* blocks, std::size_t count) {
  lvSha512CompressPortable(state, blocks, count);
}
void lvSha512CompressAvx512Vl(std::uint64_t state[8], const std::uint8_t* blocks,
                              std::size_t count) {
  lvSha512CompressPortable(state, blocks, count);
}
void lvSha512CompressTailAvx2(std::uint64_t state[8], const std::uint8_t* blocks,
                              std::size_t count, const std::uint8_t* tail,
                              std::size_t tailCount) {
  lvSha512CompressTailPortable(state, blocks, count, tail, tailCount);
}
void lvSha512CompressTailAvx512Vl(std::uint64_t state[8], const std::uint8_t* blocks,
                                  std::size_t count, const std::uint8_t* tail,
                                  std::size_t tailCount) {
  lvSha512CompressTailPortable(state, blocks, count, tail, tailCount);
}

#endif

LvSha64CompressFn lvSha512CompressFn() {
  static const LvSha64CompressFn fn = lvShaAvx512VlAvailable() ? lvSha512CompressAvx512Vl
                                      : lvShaAvx2Available()     ? lvSha512CompressAvx2
                                                                 : lvSha512CompressPortable;
  return fn;
}

void lvSha512CompressTailPortable(std::uint64_t state[8], const std::uint8_t* blocks,
                                  std::size_t count, const std::uint8_t* tail,
                                  std::size_t tailCount) {
  lvSha512CompressPortable(state, blocks, count);
  lvSha512CompressPortable(state, tail, tailCount);
}

LvSha64CompressTailFn lvSha512CompressTailFn() {
  static const LvSha64CompressTailFn fn = lvShaAvx512VlAvailable() ? lvSha512CompressTailAvx512Vl
                                          : lvShaAvx2Available()   ? lvSha512CompressTailAvx2
                                                                   : lvSha512CompressTailPortable;
  return fn;
}
