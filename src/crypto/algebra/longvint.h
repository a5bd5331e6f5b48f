// Private helpers of the word kernels (not for callers outside the kernel units).
#ifndef TAL_CRYPTO_ALGEBRA_LONGVINT_H
#define TAL_CRYPTO_ALGEBRA_LONGVINT_H

#include <cstdint>
#include <cstring>

#include "crypto/algebra/longv.h"

typedef unsigned __int128 LvDWord64;

// t += a * w over n words; returns the carry word.
inline LvWord longvMulAddRow(LvWord* t, const LvWord* a, LvWordLen n, LvWord w) {
  uint64_t c = 0;
  for (LvWordLen j = 0; j < n; ++j) {
    c += static_cast<uint64_t>(a[j]) * w + t[j];
    t[j] = static_cast<LvWord>(c);
    c >>= 32;
  }
  return static_cast<LvWord>(c);
}

// A pair of words read or written as one 64-bit limb (little-endian: the low word first).
inline uint64_t longvLoad64(const LvWord* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void longvStore64(LvWord* p, uint64_t v) { std::memcpy(p, &v, sizeof v); }

// n words into `limbs` 64-bit limbs, zero-extended.
inline void longvToLimbs(uint64_t* d, const LvWord* s, LvWordLen n, LvWordLen limbs) {
  for (LvWordLen i = 0; i < limbs; ++i) {
    const LvWordLen w = 2 * i;
    d[i] = (w < n ? s[w] : 0) | (static_cast<uint64_t>(w + 1 < n ? s[w + 1] : 0) << 32);
  }
}

// Wipes a small local buffer of a hot kernel: an inline fill the compiler must keep, since
// the empty asm statement may read the memory afterwards.
inline void longvWipeLocal(void* p, size_t n) {
  std::memset(p, 0, n);
  asm volatile("" : : "r"(p) : "memory");
}

// c = a * b for even na and nb, by 64-bit rows (the plain product's fast path).
void longvMulLimbs(LvWord* c, const LvWord* a, LvWordLen na, const LvWord* b, LvWordLen nb);

// False makes the generic Montgomery kernels take their portable rows even where the
// processor offers the ADX extension, and the 1024-bit exponentiation refuse its vector road
// (so that both paths can be tested on one machine).
extern bool longvRowAsmAllowed;
// True makes the 1024-bit exponentiation run where the processor lacks the vector multiply-add,
// on a portable product of the same values: for tests of its logic only (it is slow).
extern bool longvIfmaEmulated;
// That road's product alone, for tests: count (1 or 2) almost-Montgomery products side by side,
// r = a b 2^-1040 mod n below 2n, on 52-bit digits (24 lanes per operand, the top four zero;
// a and b normalised and below 2n, n odd below 2^1024). vector: the processor's instructions
// (false, nothing done, where it lacks them), else the portable product.
bool longvAmm1024Digits(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* n,
                        unsigned int count, bool vector);

// False makes the public power decline its vector road (so that the carry-chain rows under it
// can be tested on a processor that has both).
extern bool longvIfmaPublicAllowed;
// One almost-Montgomery product of the public road's 52-bit digits (D = ceil((32k + 2) / 52)
// of them, normalised, below 2n): r = a b / 2^(52 D) mod n, below 2n; on the vector unit or on
// the portable product. False where that road is not available for n (k words, odd).
// r = a b / 2^(52 D) (mod n) on D 52-bit digits (D <= 136), below 2n and normalised, for a, b
// normalised and below 2n, n odd with 4n <= 2^(52 D), k0 = -n^-1 mod 2^52; r may be a or b.
// The portable form of both IFMA products, for tests of their logic on any processor.
void longvAmm52Portable(uint64_t* r, const uint64_t* a, const uint64_t* b, const uint64_t* n,
                        uint64_t k0, int D);
bool longvAmm52ForTest(uint64_t* r, const uint64_t* a, const uint64_t* b, const LvWord* n,
                       LvWordLen k, bool vector);

// The index of the top nonzero word plus one (0 for zero).
inline LvWordLen longvSigLen(const LvWord* a, LvWordLen n) {
  while (n > 0 && a[n - 1] == 0) --n;
  return n;
}

#endif
