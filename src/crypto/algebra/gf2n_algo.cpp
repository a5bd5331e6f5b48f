// Trace, half-trace and the quadratic solver z² + a·z + b = 0 over GF(2^m),
// used when a compressed binary-curve point is decoded.
#include "crypto/algebra/lvgf2n.h"
#include "crypto/rbg/lvrbgdss.h"

#define GF2N_ALGO_SRC "lvalgebra/lvgf2n/gf2n_algo"

namespace {

// Seed of the root search for even m: any fixed value serves, it only decides
// which root is returned first.
const LvOctet kSolveSeed[32] = {0x47, 0x46, 0x32, 0x6e, 0x20, 0x71, 0x75, 0x61, 0x64, 0x72, 0x61,
                                0x74, 0x69, 0x63, 0x20, 0x72, 0x6f, 0x6f, 0x74, 0x20, 0x73, 0x65,
                                0x61, 0x72, 0x63, 0x68, 0x20, 0x73, 0x65, 0x65, 0x64, 0x31};

// Each draw succeeds with probability 1/2; a fixed bound keeps a damaged
// field from looping for ever.
const unsigned int kMaxSolveAttempts = 256;

}  // namespace

unsigned int trace(const LvGF2n& a) {
  LvGF2n T(a);
  const unsigned int m = a.getDegree();
  for (unsigned int i = 1; i < m; i++) {
    T.square();
    T += a;
  }
  return T.isOne() ? 1u : 0u;
}

LvGF2n halfTrace(const LvGF2n& a) {
  LvGF2n H(a);
  const unsigned int m = a.getDegree();
  for (unsigned int i = 0; i < (m - 1) / 2; i++) {
    H.square();
    H.square();
    H += a;
  }
  return H;
}

unsigned int solve(const LvGF2n& a, const LvGF2n& b, LvGF2n& x1, LvGF2n& x2) {
  const LvGF2nField* field = a.getField();
  if (!field || !b.getField())
    LV_THROW(LvNotInitException, "Uninitialised field.",
             "unsigned int solve(const LvGF2n &a, const LvGF2n &b, LvGF2n &x1, LvGF2n &x2)",
             GF2N_ALGO_SRC);
  const unsigned int m = a.getDegree();
  if (a.isZero()) {
    // the square root: b^(2^(m-1))
    LvGF2n r(b);
    r += LvGF2n(field);  // checks that b is of a's field
    for (unsigned int i = 1; i < m; i++) r.square();
    x1 = r;
    x2 = r;
    return 1;
  }
  LvGF2n t(a);
  t.invert();
  t.square();
  t *= b;
  if (trace(t) == 1) return 0;
  LvGF2n z(field);
  if (m % 2 == 1) {
    z = halfTrace(t);
  } else {
    LvRbgDss31 rbg;
    rbg.init(kSolveSeed, sizeof kSolveSeed);
    const unsigned int octets = (m + 7) / 8;
    LvOctMem buf(octets);
    LvGF2n tau(field), w(field), tmp(field);
    bool found = false;
    for (unsigned int attempt = 0; attempt < kMaxSolveAttempts && !found; attempt++) {
      rbg.fillOctets(buf.ptr(), octets);
      if (m % 8) buf[0u] &= static_cast<LvOctet>((1u << (m % 8)) - 1);
      tau.set(buf.ptr(), octets);
      z.setZero();
      w = tau;
      for (unsigned int i = 1; i < m; i++) {
        z.square();
        w.square();
        tmp.setProduct(w, t);
        z += tmp;
        w += tau;
      }
      found = !w.isZero();
    }
    rbg.reset();
    if (!found)
      LV_THROW(LvCriticalException,
               "Library is unable to find roots of (solvable) quadratic equation.",
               "unsigned int solve(const LvGF2n &a, const LvGF2n &b, LvGF2n &x1, LvGF2n &x2)",
               GF2N_ALGO_SRC);
  }
  x1.setProduct(a, z);
  x2 = x1;
  x2 += a;  // a·(z + 1)
  return 2;
}
