// GF(2^m) arithmetic by the processor's carry-less multiplication
// (PCLMULQDQ) on 64-bit limbs, for the fields of the binary curves: a
// polynomial of three or five terms whose second-highest exponent lies at
// least 64 below m, and m below 64·kMaxLimbs. Chosen at run time through
// lvcpu::hasPclmul(); the portable kernels serve everything else.
#pragma once

#include "crypto/algebra/lvgf2n.h"

namespace lvgf2nclmul {

const unsigned int kMaxLimbs = 9;

// True when the processor offers carry-less multiplication and the field's
// reduction is one these kernels do.
bool suits(const LvGF2nField& f);

// Kernels over the work areas of lvgf2n.h for a field that suits, by its
// word count. The multiply kernel keeps A; the invert kernel writes v^-1 to
// the u slot (0 for 0) by Itoh and Tsujii's chain and leaves v.
LvGF2nMulFn multiplyKernel(unsigned int words);
LvGF2nInvFn invertKernel(unsigned int words);

// x(k·P) by the constant-time ladder of lve2nladder.h (k of t + 1 bits, top
// bit set; x and b of the field's word count). False, with nothing written,
// when the field does not suit.
bool ladderX(const LvGF2nField& f, const LvWord* x, const LvWord* b, const LvWord* k,
             unsigned int t, LvWord* out);

}  // namespace lvgf2nclmul
