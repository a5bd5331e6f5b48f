// Montgomery arithmetic modulo the P-256 prime p = 2^256 - 2^224 + 2^192 +
// 2^96 - 1 (R = 2^256) for the curve engine of lvepfast.h.
//
// p's shape makes each reduction step cheap: p = -1 modulo 2^64, so the
// Montgomery factor of a step is the low limb m itself, and adding m·p then
// dropping that limb adds m·(p + 1)/2^64 = m·2^32 + m·(2^64 - 2^32 + 1)·2^128:
// two shifts and one product instead of four products.
//
// Two paths: a portable one on unsigned __int128, and one with MULX and the
// two carry chains of ADCX/ADOX, chosen at run time (lvcpu::hasBmi2Adx).
// Both are straight-line code: the final subtraction of p goes by mask or
// conditional move, so neither time nor memory access depends on the values.
// Inputs are below p, outputs too.
#pragma once

#include "crypto/algebra/lvctinv4.h"
#include "crypto/algebra/lvepfast_engine.h"
#include "crypto/algebra/lvmont4mulx.h"

namespace lvepfast {
namespace engine {

struct P256Prime {
  static const u64 k0 = 0xFFFFFFFFFFFFFFFFull, k1 = 0x00000000FFFFFFFFull, k2 = 0,
                   k3 = 0xFFFFFFFF00000001ull;
};

// The portable path.
struct P256Portable {
  // r := (t4 t3 t2 t1 t0) - p when that does not borrow, else t; t < 2p.
  static LV_INLINE void finalSub(u64* r, u64 t0, u64 t1, u64 t2, u64 t3, u64 t4) {
    u128 d = (u128)t0 - P256Prime::k0;
    const u64 s0 = (u64)d;
    d = (u128)t1 - P256Prime::k1 - ((u64)(d >> 64) & 1);
    const u64 s1 = (u64)d;
    d = (u128)t2 - ((u64)(d >> 64) & 1);
    const u64 s2 = (u64)d;
    d = (u128)t3 - P256Prime::k3 - ((u64)(d >> 64) & 1);
    const u64 s3 = (u64)d;
    d = (u128)t4 - ((u64)(d >> 64) & 1);
    const u64 keep = (u64)0 - ((u64)(d >> 64) & 1);
    r[0] = s0 ^ (keep & (s0 ^ t0));
    r[1] = s1 ^ (keep & (s1 ^ t1));
    r[2] = s2 ^ (keep & (s2 ^ t2));
    r[3] = s3 ^ (keep & (s3 ^ t3));
  }
  // r := a + b mod p
  static LV_INLINE void add(u64* r, const u64* a, const u64* b) {
    u128 s = (u128)a[0] + b[0];
    const u64 t0 = (u64)s;
    s = (u128)a[1] + b[1] + (u64)(s >> 64);
    const u64 t1 = (u64)s;
    s = (u128)a[2] + b[2] + (u64)(s >> 64);
    const u64 t2 = (u64)s;
    s = (u128)a[3] + b[3] + (u64)(s >> 64);
    finalSub(r, t0, t1, t2, (u64)s, (u64)(s >> 64));
  }
  // r := a - b mod p: p added back by mask when the difference borrows
  static LV_INLINE void sub(u64* r, const u64* a, const u64* b) {
    u128 d = (u128)a[0] - b[0];
    const u64 t0 = (u64)d;
    d = (u128)a[1] - b[1] - ((u64)(d >> 64) & 1);
    const u64 t1 = (u64)d;
    d = (u128)a[2] - b[2] - ((u64)(d >> 64) & 1);
    const u64 t2 = (u64)d;
    d = (u128)a[3] - b[3] - ((u64)(d >> 64) & 1);
    const u64 t3 = (u64)d;
    const u64 m = (u64)0 - ((u64)(d >> 64) & 1);
    u128 s = (u128)t0 + m;
    r[0] = (u64)s;
    s = (u128)t1 + (m & P256Prime::k1) + (u64)(s >> 64);
    r[1] = (u64)s;
    s = (u128)t2 + (u64)(s >> 64);
    r[2] = (u64)s;
    r[3] = t3 + (m & P256Prime::k3) + (u64)(s >> 64);
  }
  // t (8 limbs, below p·R) · R^-1 mod p
  static LV_INLINE void reduce(u64* r, u64* t) {
    u64 hi = 0;
    _Pragma("GCC unroll 4")
    for (unsigned i = 0; i < 4; i++) {
      const u64 m = t[i];
      u128 s = (u128)t[i + 1] + (m << 32);
      t[i + 1] = (u64)s;
      s = (u128)t[i + 2] + (m >> 32) + (u64)(s >> 64);
      t[i + 2] = (u64)s;
      const u128 mp = (u128)m * P256Prime::k3;
      s = (u128)t[i + 3] + (u64)mp + (u64)(s >> 64);
      t[i + 3] = (u64)s;
      s = (u128)t[i + 4] + (u64)(mp >> 64) + (u64)(s >> 64) + hi;
      t[i + 4] = (u64)s;
      hi = (u64)(s >> 64);
    }
    finalSub(r, t[4], t[5], t[6], t[7], hi);
  }
  static LV_INLINE void mul(u64* r, const u64* a, const u64* b) {
    u64 t[8];
    _Pragma("GCC unroll 4")
    for (unsigned i = 0; i < 4; i++) {
      u64 c = 0;
      _Pragma("GCC unroll 4")
      for (unsigned j = 0; j < 4; j++) {
        const u128 s = (u128)a[i] * b[j] + (i ? t[i + j] : 0) + c;
        t[i + j] = (u64)s;
        c = (u64)(s >> 64);
      }
      t[i + 4] = c;
    }
    reduce(r, t);
  }
  static LV_INLINE void sqr(u64* r, const u64* a) {
    // the six cross products once, doubled, then the squares
    u64 t[8];
    u128 s = (u128)a[0] * a[1];
    t[1] = (u64)s;
    s = (u128)a[0] * a[2] + (u64)(s >> 64);
    t[2] = (u64)s;
    s = (u128)a[0] * a[3] + (u64)(s >> 64);
    t[3] = (u64)s;
    t[4] = (u64)(s >> 64);
    s = (u128)a[1] * a[2] + t[3];
    t[3] = (u64)s;
    s = (u128)a[1] * a[3] + t[4] + (u64)(s >> 64);
    t[4] = (u64)s;
    t[5] = (u64)(s >> 64);
    s = (u128)a[2] * a[3] + t[5];
    t[5] = (u64)s;
    t[6] = (u64)(s >> 64);
    t[7] = t[6] >> 63;
    t[6] = (t[6] << 1) | (t[5] >> 63);
    t[5] = (t[5] << 1) | (t[4] >> 63);
    t[4] = (t[4] << 1) | (t[3] >> 63);
    t[3] = (t[3] << 1) | (t[2] >> 63);
    t[2] = (t[2] << 1) | (t[1] >> 63);
    t[1] = t[1] << 1;
    u64 c = 0;
    _Pragma("GCC unroll 4")
    for (unsigned i = 0; i < 4; i++) {
      const u128 sq = (u128)a[i] * a[i];
      u128 x = (u128)(i ? t[2 * i] : 0) + (u64)sq + c;
      t[2 * i] = (u64)x;
      x = (u128)t[2 * i + 1] + (u64)(sq >> 64) + (u64)(x >> 64);
      t[2 * i + 1] = (u64)x;
      c = (u64)(x >> 64);
    }
    reduce(r, t);
  }
};

#if defined(__x86_64__)
// The MULX/ADCX/ADOX path: the product rows of lvmont4mulx.h, each followed
// by the P-256 reduction step; the accumulator rotates through r8..r13.

// One reduction step, m = T0: T1..T5 += m·2^32 + m·k3·2^128 (T0 is dropped)
#define LV_P256_RED(T0, T1, T2, T3, T4, T5)       \
  "movq %%" T0 ", %%rdx\n\t"                      \
  "mulxq %[k3], %%r14, %%r15\n\t"                 \
  "shlq $32, %%" T0 "\n\t"                        \
  "shrq $32, %%rdx\n\t"                           \
  "addq %%" T0 ", %%" T1 "\n\t"                   \
  "adcq %%rdx, %%" T2 "\n\t"                      \
  "adcq %%r14, %%" T3 "\n\t"                      \
  "adcq %%r15, %%" T4 "\n\t"                      \
  "adcq $0, %%" T5 "\n\t"
struct P256Mulx {
  static LV_INLINE void mul(u64* r, const u64* a, const u64* b) {
    static const u64 k3 = P256Prime::k3;
    static const u64 prime[4] = {P256Prime::k0, P256Prime::k1, P256Prime::k2, P256Prime::k3};
    __asm__ volatile(
        LV_M4_MONT(LV_P256_RED)
        :
        : [r] "r"(r), [a] "r"(a), [b] "r"(b), [m] "r"(prime), [k3] "m"(k3)
        : "rdx", "r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15", "cc", "memory");
  }
  // r := a + b mod p (a + b below 2p: one conditional subtraction)
  static LV_INLINE void add(u64* r, const u64* a, const u64* b) {
    static const u64 k1 = P256Prime::k1, k3 = P256Prime::k3;
    u64 t0 = a[0], t1 = a[1], t2 = a[2], t3 = a[3], t4, s0, s1, s2, s3;
    __asm__(
        "xorl %k[t4], %k[t4]\n\t"
        "addq %[b0], %[t0]\n\t"
        "adcq %[b1], %[t1]\n\t"
        "adcq %[b2], %[t2]\n\t"
        "adcq %[b3], %[t3]\n\t"
        "adcq $0, %[t4]\n\t"
        "movq %[t0], %[s0]\n\t"
        "movq %[t1], %[s1]\n\t"
        "movq %[t2], %[s2]\n\t"
        "movq %[t3], %[s3]\n\t"
        "subq $-1, %[s0]\n\t"
        "sbbq %[k1], %[s1]\n\t"
        "sbbq $0, %[s2]\n\t"
        "sbbq %[k3], %[s3]\n\t"
        "sbbq $0, %[t4]\n\t"
        "cmovcq %[t0], %[s0]\n\t"
        "cmovcq %[t1], %[s1]\n\t"
        "cmovcq %[t2], %[s2]\n\t"
        "cmovcq %[t3], %[s3]\n\t"
        : [t0] "+&r"(t0), [t1] "+&r"(t1), [t2] "+&r"(t2), [t3] "+&r"(t3), [t4] "=&r"(t4),
          [s0] "=&r"(s0), [s1] "=&r"(s1), [s2] "=&r"(s2), [s3] "=&r"(s3)
        : [b0] "m"(b[0]), [b1] "m"(b[1]), [b2] "m"(b[2]), [b3] "m"(b[3]), [k1] "m"(k1),
          [k3] "m"(k3)
        : "cc");
    r[0] = s0;
    r[1] = s1;
    r[2] = s2;
    r[3] = s3;
  }
  // r := a - b mod p: p added back by mask when the difference borrows
  static LV_INLINE void sub(u64* r, const u64* a, const u64* b) {
    static const u64 k3 = P256Prime::k3;
    u64 t0 = a[0], t1 = a[1], t2 = a[2], t3 = a[3], m = 0, s1, s3;
    __asm__(
        "subq %[b0], %[t0]\n\t"
        "sbbq %[b1], %[t1]\n\t"
        "sbbq %[b2], %[t2]\n\t"
        "sbbq %[b3], %[t3]\n\t"
        "sbbq %[m], %[m]\n\t"
        "movl %k[m], %k[s1]\n\t"
        "movq %[m], %[s3]\n\t"
        "andq %[k3], %[s3]\n\t"
        "addq %[m], %[t0]\n\t"
        "adcq %[s1], %[t1]\n\t"
        "adcq $0, %[t2]\n\t"
        "adcq %[s3], %[t3]\n\t"
        : [t0] "+&r"(t0), [t1] "+&r"(t1), [t2] "+&r"(t2), [t3] "+&r"(t3), [m] "+&r"(m),
          [s1] "=&r"(s1), [s3] "=&r"(s3)
        : [b0] "m"(b[0]), [b1] "m"(b[1]), [b2] "m"(b[2]), [b3] "m"(b[3]), [k3] "m"(k3)
        : "cc");
    r[0] = t0;
    r[1] = t1;
    r[2] = t2;
    r[3] = t3;
  }
  static LV_INLINE void sqr(u64* r, const u64* a) {
    static const u64 k3 = P256Prime::k3;
    static const u64 prime[4] = {P256Prime::k0, P256Prime::k1, P256Prime::k2, P256Prime::k3};
    __asm__ volatile(LV_M4_SQR(LV_P256_RED)
                     :
                     : [r] "r"(r), [a] "r"(a), [m] "r"(prime), [k3] "m"(k3)
                     : "rax", "rdx", "r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15", "cc",
                       "memory");
  }
};
#endif

// The field for the engine: MontField<4>'s additions and constants, the
// products of path K.
template <class K>
class P256Field : public MontField<4> {
 public:
  LV_INLINE void mul(u64* r, const u64* a, const u64* b) const { K::mul(r, a, b); }
  LV_INLINE void sqr(u64* r, const u64* a) const { K::sqr(r, a); }
  LV_INLINE void add(u64* r, const u64* a, const u64* b) const { K::add(r, a, b); }
  LV_INLINE void dbl(u64* r, const u64* a) const { K::add(r, a, a); }
  LV_INLINE void sub(u64* r, const u64* a, const u64* b) const { K::sub(r, a, b); }
  void toField(u64* r, const u64* a) const { K::mul(r, a, r2); }
  void fromField(u64* r, const u64* a) const {
    const u64 one[4] = {1, 0, 0, 0};
    K::mul(r, a, one);
  }
  void init(const u64* prime) {
    MontField<4>::init(prime);
    lvctinv4::prepare(inv_, prime);
    K::mul(r3_, r2, r2);
  }
  // r := x^-1 (Montgomery form in and out; 0 for 0) by the constant-time
  // divsteps of lvctinv4: (xR)^-1 = x^-1·R^-1, brought back by R^3. About
  // half the time of Fermat's chain of 255 squarings.
  void invert(u64* r, const u64* x) const {
    u64 t[4];
    lvctinv4::inverse(t, x, inv_);
    K::mul(r, t, r3_);
    wipe(t, sizeof(t));
  }

 private:
  lvctinv4::Modulus inv_;
  u64 r3_[4];  // R^3 mod p
};

template <class K>
struct OwnInverse<P256Field<K> > {
  static const bool value = true;
};

template <class K>
struct SideBySide<P256Field<K> > {
  static const bool value = true;
};

// Tables of the generator with 7-bit windows: 37 additions for a 256-bit
// scalar (53 with 5 bits), 64 entries of 64 octets in each row scanned.
template <class K>
struct FixedWidth<P256Field<K> > {
  static const unsigned value = 7;
};

}  // namespace engine
}  // namespace lvepfast
