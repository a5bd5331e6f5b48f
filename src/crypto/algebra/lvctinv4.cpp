// Constant-time inverse modulo an odd modulus of up to 256 bits (see
// lvctinv4.h), and the same for up to 576 bits. Long values are signed limbs
// of 62 bits: all but the top one in [0, 2^62), the top one signed.
#include "crypto/algebra/lvctinv4.h"

namespace lvctinv4 {

namespace {

typedef std::int64_t i64;
typedef std::uint64_t u64;
typedef __int128 i128;

const u64 kM62 = (u64(1) << 62) - 1;

struct Matrix {
  i64 u, v, q, r;
};

// 62 divsteps on the low 64 bits of f and g: 2^62·(f', g') = t·(f, g).
// Every step is masks and arithmetic, whatever the values.
i64 divsteps62(i64 delta, u64 f, u64 g, Matrix& t) {
  u64 u = 1, v = 0, q = 0, r = 1;  // the matrix, two's complement
  for (int i = 0; i < 62; i++) {
    // swap when delta > 0 and g is odd: (f, g) := (g, -f), delta := -delta
    const u64 c = (u64)((-delta) >> 63) & ((u64)0 - (g & 1));
    u64 x = (f ^ g) & c;
    f ^= x;
    g ^= x;
    g = (g ^ c) - c;
    x = (u ^ q) & c;
    u ^= x;
    q ^= x;
    q = (q ^ c) - c;
    x = (v ^ r) & c;
    v ^= x;
    r ^= x;
    r = (r ^ c) - c;
    delta = (delta ^ (i64)c) - (i64)c;
    // g odd: g := g + f; then g := g/2 (f's row doubles instead)
    const u64 odd = (u64)0 - (g & 1);
    g += f & odd;
    q += u & odd;
    r += v & odd;
    delta += 1;
    g >>= 1;
    u <<= 1;
    v <<= 1;
  }
  t.u = (i64)u;
  t.v = (i64)v;
  t.q = (i64)q;
  t.r = (i64)r;
  return delta;
}

u64 low64(const i64* a) { return (u64)a[0] | ((u64)a[1] << 62); }

// The steps on values of W 64-bit words (below 2^(64W), with room for a sign
// and the range (-2m, m) of d and e in L limbs of 62 bits).
template <int W>
struct Sized {
  static const int L = (64 * W + 2 + 61) / 62;
  // Steps for inputs of 64W bits: the bound (49·bits + 57)/17 of the paper,
  // in batches of 62.
  static const int kBatches = ((49 * 64 * W + 57) / 17 + 61) / 62;

  // (f, g) := t·(f, g) / 2^62 (exact).
  static void updateFG(i64* f, i64* g, const Matrix& t) {
    i128 cf = (i128)t.u * f[0] + (i128)t.v * g[0];
    i128 cg = (i128)t.q * f[0] + (i128)t.r * g[0];
    cf >>= 62;
    cg >>= 62;
    for (int i = 1; i < L; i++) {
      cf += (i128)t.u * f[i] + (i128)t.v * g[i];
      cg += (i128)t.q * f[i] + (i128)t.r * g[i];
      f[i - 1] = (i64)((u64)cf & kM62);
      g[i - 1] = (i64)((u64)cg & kM62);
      cf >>= 62;
      cg >>= 62;
    }
    f[L - 1] = (i64)cf;
    g[L - 1] = (i64)cg;
  }

  // (d, e) := (t·(d, e) + m·(md, me)) / 2^62 with md, me making the division
  // exact; d and e stay in (-2m, m). Negative inputs first take m (by mask).
  static void updateDE(i64* d, i64* e, const Matrix& t, const i64* m, u64 inv62) {
    const i64 sd = d[L - 1] >> 63, se = e[L - 1] >> 63;
    i64 md = (t.u & sd) + (t.v & se);
    i64 me = (t.q & sd) + (t.r & se);
    i128 cd = (i128)t.u * d[0] + (i128)t.v * e[0];
    i128 ce = (i128)t.q * d[0] + (i128)t.r * e[0];
    md -= (i64)((inv62 * (u64)cd + (u64)md) & kM62);
    me -= (i64)((inv62 * (u64)ce + (u64)me) & kM62);
    cd += (i128)m[0] * md;
    ce += (i128)m[0] * me;
    cd >>= 62;
    ce >>= 62;
    for (int i = 1; i < L; i++) {
      cd += (i128)t.u * d[i] + (i128)t.v * e[i] + (i128)m[i] * md;
      ce += (i128)t.q * d[i] + (i128)t.r * e[i] + (i128)m[i] * me;
      d[i - 1] = (i64)((u64)cd & kM62);
      e[i - 1] = (i64)((u64)ce & kM62);
      cd >>= 62;
      ce >>= 62;
    }
    d[L - 1] = (i64)cd;
    e[L - 1] = (i64)ce;
  }

  static void toLimbs62(i64* v, const u64* a) {
    for (int i = 0; i < L; i++) {
      const int bit = 62 * i, w = bit / 64, s = bit % 64;
      u64 x = w < W ? a[w] >> s : 0;
      if (s > 2 && w + 1 < W) x |= a[w + 1] << (64 - s);
      v[i] = (i64)(i + 1 < L ? x & kM62 : x);
    }
  }
  static void fromLimbs62(u64* a, const i64* v) {
    for (int w = 0; w < W; w++) a[w] = 0;
    for (int i = 0; i < L; i++) {
      const int bit = 62 * i, w = bit / 64, s = bit % 64;
      if (w < W) a[w] |= (u64)v[i] << s;
      if (s > 2 && w + 1 < W) a[w + 1] |= (u64)v[i] >> (64 - s);
    }
  }

  // all limbs but the top into [0, 2^62), the rest carried up
  static void carry(i64* v) {
    for (int i = 0; i + 1 < L; i++) {
      v[i + 1] += v[i] >> 62;
      v[i] = (i64)((u64)v[i] & kM62);
    }
  }

  // v := v + m where `mask` is all ones
  static void addMasked(i64* v, const i64* m, i64 mask) {
    for (int i = 0; i < L; i++) v[i] += m[i] & mask;
    carry(v);
  }

  // r := x^-1 mod m (m in limbs of 62 bits, inv62 = m^-1 mod 2^62)
  static void inverse(u64* r, const u64* x, const i64* m, u64 inv62) {
    i64 f[L], g[L], d[L] = {0}, e[L] = {0};
    e[0] = 1;
    for (int i = 0; i < L; i++) f[i] = m[i];
    toLimbs62(g, x);
    i64 delta = 1;
    Matrix t;
    for (int b = 0; b < kBatches; b++) {
      delta = divsteps62(delta, low64(f), low64(g), t);
      updateDE(d, e, t, m, inv62);
      updateFG(f, g, t);
    }
    // f = ±1 now (for x prime to m) and d·x = f: x^-1 = ±d, brought into [0, m)
    addMasked(d, m, d[L - 1] >> 63);
    const i64 neg = f[L - 1] >> 63;
    for (int i = 0; i < L; i++) d[i] = (d[i] ^ neg) - neg;
    carry(d);
    addMasked(d, m, d[L - 1] >> 63);
    fromLimbs62(r, d);
    volatile i64* w[] = {f, g, d, e};
    for (volatile i64* p : w)
      for (int i = 0; i < L; i++) p[i] = 0;
    t = Matrix{0, 0, 0, 0};
  }

  static void inverseWords(u64* r, const u64* x, const u64* mw) {
    i64 m[L];
    toLimbs62(m, mw);
    inverse(r, x, m, inv62Of(mw[0]));
  }
  static u64 inv62Of(u64 m0) {
    u64 x = 1;
    for (int i = 0; i < 6; i++) x *= 2 - m0 * x;  // Newton: m^-1 mod 2^64
    return x & kM62;
  }
};

static_assert(Sized<4>::L == 5 && Sized<4>::kBatches == 12, "the 256-bit form");

}  // namespace

void prepare(Modulus& mod, const u64* m) {
  Sized<4>::toLimbs62(mod.m, m);
  mod.inv62 = Sized<4>::inv62Of(m[0]);
}

void inverse(u64* r, const u64* x, const Modulus& mod) {
  Sized<4>::inverse(r, x, mod.m, mod.inv62);
}

bool inverseWords(u64* r, const u64* x, const u64* m, unsigned words) {
  switch (words) {
    case 4: Sized<4>::inverseWords(r, x, m); return true;
    case 5: Sized<5>::inverseWords(r, x, m); return true;
    case 6: Sized<6>::inverseWords(r, x, m); return true;
    case 7: Sized<7>::inverseWords(r, x, m); return true;
    case 8: Sized<8>::inverseWords(r, x, m); return true;
    case 9: Sized<9>::inverseWords(r, x, m); return true;
    default: return false;
  }
}

}  // namespace lvctinv4
