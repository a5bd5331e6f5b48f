// GF(2^m) word kernels: add (XOR), multiply (shift-and-add with interleaved
// reduction) and invert (binary algorithm), generic and for the word counts of
// the standard binary-curve fields. The fixed-size kernels hold the operands
// in local arrays of compile-time size so the word loops unroll; they compute
// exactly what the generic kernels compute.
#include "crypto/algebra/lvgf2n.h"

namespace {

inline unsigned int wordsOfDegree(LvWord m) { return static_cast<unsigned int>(m / 32 + 1); }

// ---------------------------------------------------------------- generic

inline void shl1(LvWord* a, unsigned int n) {
  for (unsigned int i = n - 1; i > 0; i--) a[i] = (a[i] << 1) | (a[i - 1] >> 31);
  a[0] <<= 1;
}

inline void shr1(LvWord* a, unsigned int n) {
  for (unsigned int i = 0; i + 1 < n; i++) a[i] = (a[i] >> 1) | (a[i + 1] << 31);
  a[n - 1] >>= 1;
}

inline void xorInto(LvWord* a, const LvWord* b, unsigned int n) {
  for (unsigned int i = 0; i < n; i++) a[i] ^= b[i];
}

inline bool isOneN(const LvWord* a, unsigned int n) {
  if (a[0] != 1) return false;
  for (unsigned int i = 1; i < n; i++)
    if (a[i]) return false;
  return true;
}

inline bool isZeroN(const LvWord* a, unsigned int n) {
  for (unsigned int i = 0; i < n; i++)
    if (a[i]) return false;
  return true;
}

// 1, 0, -1 comparing u and v from the top word down.
inline int cmpN(const LvWord* u, const LvWord* v, unsigned int n) {
  for (unsigned int i = n; i-- > 0;) {
    if (u[i] != v[i]) return u[i] > v[i] ? 1 : -1;
  }
  return 0;
}

// ---------------------------------------------------------------- fixed size

template <unsigned int N>
inline void shl1T(LvWord* a) {
  for (unsigned int i = N - 1; i > 0; i--) a[i] = (a[i] << 1) | (a[i - 1] >> 31);
  a[0] <<= 1;
}

template <unsigned int N>
inline void shr1T(LvWord* a) {
  for (unsigned int i = 0; i + 1 < N; i++) a[i] = (a[i] >> 1) | (a[i + 1] << 31);
  a[N - 1] >>= 1;
}

template <unsigned int N>
inline void xorT(LvWord* a, const LvWord* b) {
  for (unsigned int i = 0; i < N; i++) a[i] ^= b[i];
}

template <unsigned int N>
inline bool isOneT(const LvWord* a) {
  LvWord acc = a[0] ^ 1u;
  for (unsigned int i = 1; i < N; i++) acc |= a[i];
  return acc == 0;
}

template <unsigned int N>
inline bool isZeroT(const LvWord* a) {
  LvWord acc = 0;
  for (unsigned int i = 0; i < N; i++) acc |= a[i];
  return acc == 0;
}

template <unsigned int N>
inline bool greaterT(const LvWord* u, const LvWord* v) {
  for (unsigned int i = N; i-- > 0;) {
    if (u[i] != v[i]) return u[i] > v[i];
  }
  return false;
}

template <unsigned int N>
void addT(LvWord* t, const LvWord* s, unsigned int) {
  xorT<N>(t, s);
}

// Spreads the 16 bits of v to the even bit positions of a word (squaring).
inline LvWord spread16(LvWord v) {
  v &= 0xFFFFu;
  v = (v | (v << 8)) & 0x00FF00FFu;
  v = (v | (v << 4)) & 0x0F0F0F0Fu;
  v = (v | (v << 2)) & 0x33333333u;
  v = (v | (v << 1)) & 0x55555555u;
  return v;
}

// C (2N words, degree below 2m) reduced modulo x^m + sum x^terms into its
// low N words. Every fold lands below the word it comes from (the field
// only offers terms for which m - the highest term >= 32).
__attribute__((always_inline)) inline void reduceSparse(LvWord* C, unsigned int N, LvWord m,
                                                       const LvWord* terms, unsigned int count) {
  const unsigned int W = m / 32, off = m % 32;
  for (unsigned int i = 2 * N - 1; i > W; i--) {
    const LvWord t = C[i];
    if (!t) continue;
    C[i] = 0;
    for (unsigned int j = 0; j < count; j++) {
      const unsigned int pos = 32 * i - m + terms[j];
      const unsigned int wi = pos / 32, sh = pos % 32;
      C[wi] ^= t << sh;
      if (sh) C[wi + 1] ^= t >> (32 - sh);
    }
  }
  const LvWord t = C[W] >> off;
  if (t) {
    C[W] &= (static_cast<LvWord>(1) << off) - 1;
    for (unsigned int j = 0; j < count; j++) {
      const unsigned int pos = terms[j];
      const unsigned int wi = pos / 32, sh = pos % 32;
      C[wi] ^= t << sh;
      if (sh) C[wi + 1] ^= t >> (32 - sh);
    }
  }
}

// Largest word count of a field (m <= 1024).
const unsigned int kMaxWords = 33;

// P = A·B mod f by the comb method with a 4-bit window (bit spreading for a
// square) and word-wise reduction through the field's terms. N is a
// compile-time constant in the fixed-size kernels, so the loops unroll there.
__attribute__((always_inline)) inline void combMultiply(LvWord* work, unsigned int N) {
  const LvWord top = work[GF2N_MUL_TOP];
  const LvWord m = work[GF2N_MUL_DEG];
  LvWord* w = work + GF2N_MUL_F;
  const LvWord* red = w + 4 * N;
  LvWord A[kMaxWords], B[kMaxWords], C[2 * kMaxWords + 1];
  bool same = true;
  for (unsigned int i = 0; i < N; i++) {
    A[i] = w[N + i];
    B[i] = w[2 * N + i];
    same = same && A[i] == B[i];
  }
  B[N - 1] &= top - 1;  // multiplier bits at m and above are not used
  for (unsigned int i = 0; i < 2 * N + 1; i++) C[i] = 0;
  if (same && (A[N - 1] & ~(top - 1)) == 0) {
    for (unsigned int i = 0; i < N; i++) {
      C[2 * i] = spread16(A[i]);
      C[2 * i + 1] = spread16(A[i] >> 16);
    }
  } else {
    LvWord T[16][kMaxWords + 1];
    for (unsigned int i = 0; i <= N; i++) T[0][i] = 0;
    for (unsigned int i = 0; i < N; i++) T[1][i] = A[i];
    T[1][N] = 0;
    for (unsigned int u = 2; u < 16; u += 2) {
      const LvWord* h = T[u / 2];
      T[u][0] = h[0] << 1;
      for (unsigned int i = 1; i <= N; i++) T[u][i] = (h[i] << 1) | (h[i - 1] >> 31);
      for (unsigned int i = 0; i <= N; i++) T[u + 1][i] = T[u][i] ^ T[1][i];
    }
    for (int j = 7; j >= 0; j--) {
      for (unsigned int i = 0; i < N; i++) {
        const LvWord* row = T[(B[i] >> (4 * j)) & 15u];
        for (unsigned int k = 0; k <= N; k++) C[i + k] ^= row[k];
      }
      if (j) {
        for (unsigned int i = 2 * N; i > 0; i--) C[i] = (C[i] << 4) | (C[i - 1] >> 28);
        C[0] <<= 4;
      }
    }
  }
  reduceSparse(C, N, m, red + 1, red[0]);
  for (unsigned int i = 0; i < N; i++) w[3 * N + i] = C[i];
}

template <unsigned int N>
void multiplyT(LvWord* work) {
  const LvWord top = work[GF2N_MUL_TOP];
  const LvWord m = work[GF2N_MUL_DEG];
  LvWord* w = work + GF2N_MUL_F;
  if (w[4 * N] != 0) {
    combMultiply(work, N);
    return;
  }
  LvWord f[N], A[N], B[N], P[N];
  for (unsigned int i = 0; i < N; i++) {
    f[i] = w[i];
    A[i] = w[N + i];
    B[i] = w[2 * N + i];
    P[i] = 0;
  }
  LvWord mask = 1;
  unsigned int wi = 0;
  for (LvWord k = 0; k < m; k++) {
    // Branch-free select of A by the multiplier bit.
    const LvWord sel = static_cast<LvWord>(0) - static_cast<LvWord>((B[wi] & mask) != 0);
    for (unsigned int i = 0; i < N; i++) P[i] ^= A[i] & sel;
    shl1T<N>(A);
    const LvWord red2 = static_cast<LvWord>(0) - static_cast<LvWord>((A[N - 1] & top) != 0);
    for (unsigned int i = 0; i < N; i++) A[i] ^= f[i] & red2;
    mask <<= 1;
    if (mask == 0) {
      mask = 1;
      wi++;
    }
  }
  for (unsigned int i = 0; i < N; i++) {
    w[N + i] = A[i];
    w[3 * N + i] = P[i];
  }
  work[GF2N_MUL_MASK] = mask;
}

template <unsigned int N, bool (*Greater)(const LvWord*, const LvWord*)>
void invertT(LvWord* work) {
  const LvWord top = work[GF2N_INV_TOP];
  LvWord* w = work + GF2N_INV_F;
  LvWord f[N], u[N], v[N], g1[N], g2[N];
  for (unsigned int i = 0; i < N; i++) {
    f[i] = w[i];
    u[i] = w[N + i];
    v[i] = w[2 * N + i];
    g1[i] = w[3 * N + i];
    g2[i] = w[4 * N + i];
  }
  bool failed = false;
  while (!isOneT<N>(u) && !isOneT<N>(v)) {
    // u = v (or a zero operand) means the value shares a factor with f: no
    // inverse; stop instead of halving zero for ever.
    if (isZeroT<N>(u) || isZeroT<N>(v)) {
      failed = true;
      break;
    }
    while ((u[0] & 1) == 0) {
      shr1T<N>(u);
      if (g1[0] & 1) xorT<N>(g1, f);
      shr1T<N>(g1);
    }
    while ((v[0] & 1) == 0) {
      shr1T<N>(v);
      if (g2[0] & 1) xorT<N>(g2, f);
      shr1T<N>(g2);
    }
    if (Greater(u, v)) {
      xorT<N>(u, v);
      xorT<N>(g1, g2);
    } else {
      xorT<N>(v, u);
      xorT<N>(g2, g1);
    }
  }
  LvWord* res = isOneT<N>(u) ? g1 : g2;
  if (res[N - 1] & top) xorT<N>(res, f);
  for (unsigned int i = 0; i < N; i++) {
    w[N + i] = failed ? 0 : res[i];
    w[2 * N + i] = v[i];
    w[3 * N + i] = g1[i];
    w[4 * N + i] = g2[i];
  }
}

template <unsigned int N>
bool greaterPlain(const LvWord* u, const LvWord* v) {
  return greaterT<N>(u, v);
}

}  // namespace

// ---------------------------------------------------------------- generic kernels

void gf2nAdd(LvWord* t, const LvWord* s, unsigned int n) { xorInto(t, s, n); }

void gf2nMultiply(LvWord* work) {
  const LvWord top = work[GF2N_MUL_TOP];
  const LvWord m = work[GF2N_MUL_DEG];
  const unsigned int n = wordsOfDegree(m);
  LvWord* f = work + GF2N_MUL_F;
  if (f[4 * n] != 0 && n <= kMaxWords) {
    combMultiply(work, n);
    return;
  }
  LvWord* A = f + n;
  LvWord* B = A + n;
  LvWord* P = B + n;
  for (unsigned int i = 0; i < n; i++) P[i] = 0;
  LvWord mask = 1;
  unsigned int wi = 0;
  for (LvWord k = 0; k < m; k++) {
    if (B[wi] & mask) xorInto(P, A, n);
    shl1(A, n);
    if (A[n - 1] & top) xorInto(A, f, n);
    mask <<= 1;
    if (mask == 0) {
      mask = 1;
      wi++;
    }
  }
  work[GF2N_MUL_MASK] = mask;
}

void gf2nInvert(LvWord* work) {
  const LvWord top = work[GF2N_INV_TOP];
  const unsigned int n = wordsOfDegree(work[GF2N_INV_DEG]);
  LvWord* f = work + GF2N_INV_F;
  LvWord* u = f + n;
  LvWord* v = u + n;
  LvWord* g1 = v + n;
  LvWord* g2 = g1 + n;
  bool failed = false;
  while (!isOneN(u, n) && !isOneN(v, n)) {
    if (isZeroN(u, n) || isZeroN(v, n)) {
      failed = true;
      break;
    }
    while ((u[0] & 1) == 0) {
      shr1(u, n);
      if (g1[0] & 1) xorInto(g1, f, n);
      shr1(g1, n);
    }
    while ((v[0] & 1) == 0) {
      shr1(v, n);
      if (g2[0] & 1) xorInto(g2, f, n);
      shr1(g2, n);
    }
    if (cmpN(u, v, n) > 0) {
      xorInto(u, v, n);
      xorInto(g1, g2, n);
    } else {
      xorInto(v, u, n);
      xorInto(g2, g1, n);
    }
  }
  LvWord* res = isOneN(u, n) ? g1 : g2;
  if (res[n - 1] & top) xorInto(res, f, n);
  for (unsigned int i = 0; i < n; i++) u[i] = failed ? 0 : res[i];
}

bool gf2nGreater13(const LvWord* u, const LvWord* v) { return greaterT<13>(u, v); }
bool gf2nGreater18(const LvWord* u, const LvWord* v) { return greaterT<18>(u, v); }

#define LV_GF2N_DEFINE_FIXED(N, GREATER)                                          \
  void gf2nAdd##N(LvWord* t, const LvWord* s, unsigned int n) { addT<N>(t, s, n); } \
  void gf2nMultiply##N(LvWord* work) { multiplyT<N>(work); }                      \
  void gf2nInvert##N(LvWord* work) { invertT<N, GREATER>(work); }

LV_GF2N_DEFINE_FIXED(3, greaterPlain<3>)
LV_GF2N_DEFINE_FIXED(4, greaterPlain<4>)
LV_GF2N_DEFINE_FIXED(5, greaterPlain<5>)
LV_GF2N_DEFINE_FIXED(6, greaterPlain<6>)
LV_GF2N_DEFINE_FIXED(7, greaterPlain<7>)
LV_GF2N_DEFINE_FIXED(8, greaterPlain<8>)
LV_GF2N_DEFINE_FIXED(9, greaterPlain<9>)
LV_GF2N_DEFINE_FIXED(13, gf2nGreater13)
LV_GF2N_DEFINE_FIXED(18, gf2nGreater18)
#undef LV_GF2N_DEFINE_FIXED

LvGF2nKernels lvGF2nKernelsFor(unsigned int words) {
  switch (words) {
    case 3: return {gf2nAdd3, gf2nMultiply3, gf2nInvert3};
    case 4: return {gf2nAdd4, gf2nMultiply4, gf2nInvert4};
    case 5: return {gf2nAdd5, gf2nMultiply5, gf2nInvert5};
    case 6: return {gf2nAdd6, gf2nMultiply6, gf2nInvert6};
    case 7: return {gf2nAdd7, gf2nMultiply7, gf2nInvert7};
    case 8: return {gf2nAdd8, gf2nMultiply8, gf2nInvert8};
    case 9: return {gf2nAdd9, gf2nMultiply9, gf2nInvert9};
    case 13: return {gf2nAdd13, gf2nMultiply13, gf2nInvert13};
    case 18: return {gf2nAdd18, gf2nMultiply18, gf2nInvert18};
    default: return {gf2nAdd, gf2nMultiply, gf2nInvert};
  }
}
