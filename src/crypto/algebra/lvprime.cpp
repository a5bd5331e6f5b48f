// Miller-Rabin probable-prime test.
#include "crypto/algebra/lvnumbers.h"

#define PRIME_FILE "lvalgebra\\lvnumbers\\millerrabin.cpp"

namespace {

const LvWord kFirstPrimes[50] = {2,   3,   5,   7,   11,  13,  17,  19,  23,  29,  31,  37,  41,
                                 43,  47,  53,  59,  61,  67,  71,  73,  79,  83,  89,  97,  101,
                                 103, 107, 109, 113, 127, 131, 137, 139, 149, 151, 157, 163, 167,
                                 173, 179, 181, 191, 193, 197, 199, 211, 223, 227, 229};

const unsigned int kMaxZeroDraws = 512;

}  // namespace

bool millerRabinTest(const LvN& n, const LvN* bases, unsigned int count) {
  if (n <= 12u) {
    LvWord w = n.getLowWord();
    return w == 2 || w == 3 || w == 5 || w == 7 || w == 11;
  }
  if (n.isEven()) return false;
  if (count > 0 && bases == nullptr)
    LV_THROW(LvArgumentRangeException, "Null array of bases.", "millerRabinTest", PRIME_FILE);
  LvN nm1 = n - 1u;
  LvN m(nm1);
  unsigned int s = 0;
  while (m.isEven()) {
    m >>= 1;
    ++s;
  }
  LvModulus mod(n, LvModulus::OPT_MONT);
  LvZn minusOne(nm1, &mod);
  for (unsigned int i = count; i-- > 0;) {
    const LvN& b = bases[i];
    if (n | b) continue;
    LvN g = gcd(b, n);
    if (g > 1u && g < n) return false;
    LvZn x = pow(LvZn(b, &mod), m);
    if (x == 1) continue;
    bool passed = false;
    for (unsigned int r = 0; r < s; ++r) {
      if (x == minusOne) {
        passed = true;
        break;
      }
      if (x == 1) return false;
      x *= x;
    }
    if (!passed) return false;
  }
  return true;
}

bool isProbablePrime(const LvModulus& n, LvRbg* rbg) {
  unsigned int bits = n.getBitLength();
  unsigned int t = bits < 256 ? 50 : bits < 512 ? 16 : bits < 1024 ? 7 : 5;
  LvN bases[50];
  for (unsigned int i = 0; i < t; ++i) {
    if (rbg != nullptr) {
      unsigned int draws = 0;
      do {
        if (++draws > kMaxZeroDraws)
          LV_THROW(LvRbgCycleException, "There is cycle in random bit generator.",
                   "isProbablePrime", PRIME_FILE);
        bases[i].randomBelow(n, rbg);
      } while (bases[i].isZero() && n > 1u);
    } else {
      bases[i] = kFirstPrimes[i];
    }
  }
  return millerRabinTest(n, bases, t);
}
