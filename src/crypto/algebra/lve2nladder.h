// Montgomery's ladder on x and z only (Lopez-Dahab) for y² + x·y = x³ + a·x²
// + b over GF(2^m), and inversion by Itoh and Tsujii's addition chain. Both
// are templates over a field type whose arithmetic does the same work for
// every value, so the ladder is shared by the portable and the carry-less
// fields. The field type F offers: Elem, zero(), mul(r, a, b), sqr(r, a),
// add(r, a, b), cswap(a, b, mask) with mask 0 or all ones, and wipe(e).
#pragma once

#include <initializer_list>

#include "crypto/basic/lvoctmem.h"

namespace lve2nladder {

// r = a^(2^m - 2): a^-1, and 0 for 0. Squarings m - 1 and about 2·log2(m)
// multiplications, fixed by m alone.
template <class F>
void inverse(const F& f, typename F::Elem& r, const typename F::Elem& a, unsigned int m) {
  // beta = a^(2^k - 1), grown through the bits of m - 1 from the top
  typename F::Elem beta = a, t = f.zero();
  const unsigned int e = m - 1;
  unsigned int top = 31;
  while (top > 0 && !((e >> top) & 1u)) top--;
  unsigned int k = 1;
  for (unsigned int i = top; i-- > 0;) {
    // beta_{2k} = beta_k^(2^k) · beta_k
    t = beta;
    for (unsigned int s = 0; s < k; s++) f.sqr(t, t);
    f.mul(beta, t, beta);
    k *= 2;
    if ((e >> i) & 1u) {
      // beta_{k+1} = beta_k² · a
      f.sqr(beta, beta);
      f.mul(beta, beta, a);
      k++;
    }
  }
  f.sqr(r, beta);
  f.wipe(beta);
  f.wipe(t);
}

// x(k·P) for k of t + 1 bits whose top bit (bit t) is set, P = (x, y) with x
// nonzero, b the curve's coefficient; 0 for the point at infinity. The
// ladder walks bits t-1..0 of k with conditional swaps only.
template <class F>
void ladderX(const F& f, typename F::Elem& out, const typename F::Elem& x,
             const typename F::Elem& b, const LvWord* k, unsigned int t, unsigned int m) {
  typedef typename F::Elem E;
  E X1 = x, Z1 = f.zero(), X2 = f.zero(), Z2 = f.zero(), T1 = f.zero(), T2 = f.zero();
  Z1 = f.one();
  // (X2, Z2) = 2P: x^4 + b, x^2
  f.sqr(Z2, x);
  f.sqr(X2, Z2);
  f.add(X2, X2, b);
  for (unsigned int i = t; i-- > 0;) {
    const LvWord swap = static_cast<LvWord>(0) - ((k[i / 32] >> (i % 32)) & 1u);
    f.cswap(X1, X2, swap);
    f.cswap(Z1, Z2, swap);
    // (X2, Z2) := (X1, Z1) + (X2, Z2), whose difference is P
    f.mul(T1, X1, Z2);
    f.mul(T2, X2, Z1);
    f.add(Z2, T1, T2);
    f.sqr(Z2, Z2);
    f.mul(T1, T1, T2);
    f.mul(X2, x, Z2);
    f.add(X2, X2, T1);
    // (X1, Z1) := 2·(X1, Z1): X^4 + b·Z^4, X^2·Z^2
    f.sqr(T1, X1);
    f.sqr(T2, Z1);
    f.mul(Z1, T1, T2);
    f.sqr(T1, T1);
    f.sqr(T2, T2);
    f.mul(T2, T2, b);
    f.add(X1, T1, T2);
    f.cswap(X1, X2, swap);
    f.cswap(Z1, Z2, swap);
  }
  // x = X1 / Z1; Z1 = 0 (the point at infinity) gives 0
  inverse(f, T1, Z1, m);
  f.mul(out, X1, T1);
  for (E* e : {&X1, &Z1, &X2, &Z2, &T1, &T2}) f.wipe(*e);
}

}  // namespace lve2nladder
