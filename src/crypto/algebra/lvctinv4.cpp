// Constant-time inverse modulo an odd modulus of up to 256 bits (see
// lvctinv4.h). Long values are five signed limbs of 62 bits: limbs 0..3 in
// [0, 2^62), the top one signed.
#include "crypto/algebra/lvctinv4.h"

namespace lvctinv4 {

namespace {

typedef std::int64_t i64;
typedef std::uint64_t u64;
typedef __int128 i128;

const u64 kM62 = (u64(1) << 62) - 1;
// Steps for 256-bit inputs: the bound (49·256 + 57)/17 = 741 of the paper,
// in batches of 62.
const int kBatches = 12;

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

// (f, g) := t·(f, g) / 2^62 (exact).
void updateFG(i64* f, i64* g, const Matrix& t) {
  i128 cf = (i128)t.u * f[0] + (i128)t.v * g[0];
  i128 cg = (i128)t.q * f[0] + (i128)t.r * g[0];
  cf >>= 62;
  cg >>= 62;
  for (int i = 1; i < 5; i++) {
    cf += (i128)t.u * f[i] + (i128)t.v * g[i];
    cg += (i128)t.q * f[i] + (i128)t.r * g[i];
    f[i - 1] = (i64)((u64)cf & kM62);
    g[i - 1] = (i64)((u64)cg & kM62);
    cf >>= 62;
    cg >>= 62;
  }
  f[4] = (i64)cf;
  g[4] = (i64)cg;
}

// (d, e) := (t·(d, e) + m·(md, me)) / 2^62 with md, me making the division
// exact; d and e stay in (-2m, m). Negative inputs first take m (by mask).
void updateDE(i64* d, i64* e, const Matrix& t, const Modulus& mod) {
  const i64 sd = d[4] >> 63, se = e[4] >> 63;
  i64 md = (t.u & sd) + (t.v & se);
  i64 me = (t.q & sd) + (t.r & se);
  i128 cd = (i128)t.u * d[0] + (i128)t.v * e[0];
  i128 ce = (i128)t.q * d[0] + (i128)t.r * e[0];
  md -= (i64)((mod.inv62 * (u64)cd + (u64)md) & kM62);
  me -= (i64)((mod.inv62 * (u64)ce + (u64)me) & kM62);
  cd += (i128)mod.m[0] * md;
  ce += (i128)mod.m[0] * me;
  cd >>= 62;
  ce >>= 62;
  for (int i = 1; i < 5; i++) {
    cd += (i128)t.u * d[i] + (i128)t.v * e[i] + (i128)mod.m[i] * md;
    ce += (i128)t.q * d[i] + (i128)t.r * e[i] + (i128)mod.m[i] * me;
    d[i - 1] = (i64)((u64)cd & kM62);
    e[i - 1] = (i64)((u64)ce & kM62);
    cd >>= 62;
    ce >>= 62;
  }
  d[4] = (i64)cd;
  e[4] = (i64)ce;
}

void toLimbs62(i64* v, const u64* a) {
  v[0] = (i64)(a[0] & kM62);
  v[1] = (i64)(((a[0] >> 62) | (a[1] << 2)) & kM62);
  v[2] = (i64)(((a[1] >> 60) | (a[2] << 4)) & kM62);
  v[3] = (i64)(((a[2] >> 58) | (a[3] << 6)) & kM62);
  v[4] = (i64)(a[3] >> 56);
}

// limbs 0..3 into [0, 2^62), the rest carried up
void carry(i64* v) {
  for (int i = 0; i < 4; i++) {
    v[i + 1] += v[i] >> 62;
    v[i] = (i64)((u64)v[i] & kM62);
  }
}

// v := v + m where `mask` is all ones
void addMasked(i64* v, const Modulus& mod, i64 mask) {
  for (int i = 0; i < 5; i++) v[i] += mod.m[i] & mask;
  carry(v);
}

}  // namespace

void prepare(Modulus& mod, const u64* m) {
  toLimbs62(mod.m, m);
  u64 x = 1;
  for (int i = 0; i < 6; i++) x *= 2 - m[0] * x;  // Newton: m^-1 mod 2^64
  mod.inv62 = x & kM62;
}

void inverse(u64* r, const u64* x, const Modulus& mod) {
  i64 f[5], g[5], d[5] = {0, 0, 0, 0, 0}, e[5] = {1, 0, 0, 0, 0};
  for (int i = 0; i < 5; i++) f[i] = mod.m[i];
  toLimbs62(g, x);
  i64 delta = 1;
  Matrix t;
  for (int b = 0; b < kBatches; b++) {
    delta = divsteps62(delta, low64(f), low64(g), t);
    updateDE(d, e, t, mod);
    updateFG(f, g, t);
  }
  // f = ±1 now (for x prime to m) and d·x = f: x^-1 = ±d, brought into [0, m)
  addMasked(d, mod, d[4] >> 63);
  const i64 neg = f[4] >> 63;
  for (int i = 0; i < 5; i++) d[i] = (d[i] ^ neg) - neg;
  carry(d);
  addMasked(d, mod, d[4] >> 63);
  r[0] = (u64)d[0] | ((u64)d[1] << 62);
  r[1] = ((u64)d[1] >> 2) | ((u64)d[2] << 60);
  r[2] = ((u64)d[2] >> 4) | ((u64)d[3] << 58);
  r[3] = ((u64)d[3] >> 6) | ((u64)d[4] << 56);
  volatile i64* w[] = {f, g, d, e};
  for (volatile i64* p : w)
    for (int i = 0; i < 5; i++) p[i] = 0;
  t = Matrix{0, 0, 0, 0};
}

}  // namespace lvctinv4
