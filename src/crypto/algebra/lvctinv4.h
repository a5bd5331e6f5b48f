// Constant-time modular inverse for odd moduli of up to 256 bits, by the
// "divsteps" of Bernstein and Yang ("Fast constant-time gcd computation and
// modular inversion", 2019): a fixed count of steps, each a few masked
// operations on the low bits, gathered 62 at a time into a matrix that is
// then applied to the long values. About three times faster than Fermat's
// exponentiation, and with no branch or memory index that depends on x.
#pragma once

#include <cstdint>

namespace lvctinv4 {

// A modulus prepared once: its limbs of 62 bits and its inverse modulo 2^62.
struct Modulus {
  std::int64_t m[5];
  std::uint64_t inv62;
};

// m: four 64-bit limbs, odd.
void prepare(Modulus& mod, const std::uint64_t* m);

// r := x^-1 mod m for x below m and prime to m (four 64-bit limbs each); x = 0
// gives 0, and an x sharing a factor with m gives no inverse (callers check).
void inverse(std::uint64_t* r, const std::uint64_t* x, const Modulus& mod);

// The same for an odd m of `words` 64-bit words, 4 to 9 (up to 576 bits): r,
// x and m have that many words. False for other sizes.
bool inverseWords(std::uint64_t* r, const std::uint64_t* x, const std::uint64_t* m,
                  unsigned words);

}  // namespace lvctinv4
