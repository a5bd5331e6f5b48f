// Constant-time arithmetic modulo an odd public modulus (see lvctmod.h).
#include "crypto/algebra/lvctmod.h"

#include <cstring>

#include "crypto/algebra/lvmont4mulx.h"
#include "crypto/basic/lvcpu.h"

namespace {

typedef LvCtMod::Limb Limb;
typedef unsigned __int128 u128;

// t := a - b over n limbs; the borrow out.
Limb subLimbs(Limb* t, const Limb* a, const Limb* b, unsigned int n) {
  Limb br = 0;
  for (unsigned int i = 0; i < n; i++) {
    const u128 d = (u128)a[i] - b[i] - br;
    t[i] = (Limb)d;
    br = (Limb)(d >> 64) & 1;
  }
  return br;
}

void loadN(std::vector<Limb>& out, const LvN& a, unsigned int L) {
  out.assign(L, 0);
  const LvWord* w = a.getWords();
  for (unsigned int i = 0; i < a.getUsed() && i / 2 < L; i++) out[i / 2] |= (Limb)w[i] << (32 * (i % 2));
}

// r := a·b·R^-1 mod m on K limbs of compile-time count (the loops unroll).
template <unsigned int K>
void montMulT(Limb* r, const Limb* a, const Limb* b, const Limb* m, Limb n0) {
  Limb t[2 * K + 1];
  for (unsigned int i = 0; i <= 2 * K; i++) t[i] = 0;
  for (unsigned int i = 0; i < K; i++) {
    Limb c = 0;
    for (unsigned int j = 0; j < K; j++) {
      const u128 s = (u128)a[i] * b[j] + t[i + j] + c;
      t[i + j] = (Limb)s;
      c = (Limb)(s >> 64);
    }
    t[i + K] = c;
  }
  Limb carry = 0;
  for (unsigned int i = 0; i < K; i++) {
    const Limb q = t[i] * n0;
    Limb c = 0;
    for (unsigned int j = 0; j < K; j++) {
      const u128 s = (u128)q * m[j] + t[i + j] + c;
      t[i + j] = (Limb)s;
      c = (Limb)(s >> 64);
    }
    const u128 s = (u128)t[i + K] + c + carry;
    t[i + K] = (Limb)s;
    carry = (Limb)(s >> 64);
  }
  Limb d[K];
  const Limb br = subLimbs(d, t + K, m, K);
  const Limb useD = (Limb)0 - (carry | (br ^ 1));
  for (unsigned int i = 0; i < K; i++) r[i] = t[K + i] ^ (useD & (t[K + i] ^ d[i]));
}

}  // namespace

LvCtMod::LvCtMod(const LvN& mod) : L(0), mBits(0), n0(0) {
  if (mod.isEven() || mod <= LvN(1u, 1))
    LV_THROW(LvArgumentRangeException, "The modulus must be odd and above 1.",
             "LvCtMod::LvCtMod(const LvN &m)", "lvalgebra/lvctmod");
  mBits = mod.getBitLength();
  L = (mBits + 63) / 64;
  if (L > kMaxLimbs)
    LV_THROW(LvArgumentRangeException, "The modulus is too long.", "LvCtMod::LvCtMod(const LvN &m)",
             "lvalgebra/lvctmod");
  loadN(m, mod, L);
  Limb x = 1;
  for (int i = 0; i < 7; i++) x *= 2 - m[0] * x;  // Newton: m^-1 mod 2^64
  n0 = (Limb)0 - x;
  // public set-up: the modulus is no secret
  LvN R(1u, 1);
  R <<= 64 * L;
  loadN(one, R % mod, L);
  loadN(r2, (R * R) % mod, L);
  loadN(exp, mod - LvN(2u, 1), L);
  if (L == 4) {
    lvctinv4::prepare(inv4, m.data());
    mul(r3, r2, r2);
  }
}

void LvCtMod::fromOctets(Num& r, const LvOctet* oct, unsigned int len) const {
  // little-endian words of the (public) length, then as words
  std::vector<LvWord> w((len + 3) / 4, 0);
  for (unsigned int i = 0; i < len; i++) {
    const unsigned int k = len - 1 - i;
    w[k / 4] |= static_cast<LvWord>(oct[i]) << (8 * (k % 4));
  }
  fromWords(r, w.data(), static_cast<unsigned int>(w.size()));
  lvWipe(w.data(), w.size() * sizeof(LvWord));
}

void LvCtMod::fromWords(Num& r, const LvWord* w, unsigned int n) const {
  // Horner over chunks of L limbs (each below R) in Montgomery form:
  // B := B·R + c·R, that is mont(B, R^2) + mont(c, R^2); then B·R^-1
  const unsigned int chunkWords = 2 * L;
  const unsigned int chunks = (n + chunkWords - 1) / chunkWords;
  Num b(L, 0), c(L), t(L);
  for (unsigned int ch = chunks; ch-- > 0;) {
    for (unsigned int i = 0; i < L; i++) {
      const unsigned int lo = ch * chunkWords + 2 * i, hi = lo + 1;
      c[i] = (lo < n ? (Limb)w[lo] : 0) | ((hi < n ? (Limb)w[hi] : 0) << 32);
    }
    mul(b, b, r2);
    mul(t, c, r2);
    add(b, b, t);
  }
  fromMont(r, b);
  lvWipe(c.data(), L * sizeof(Limb));
  lvWipe(t.data(), L * sizeof(Limb));
  lvWipe(b.data(), L * sizeof(Limb));
}

void LvCtMod::fromN(Num& r, const LvN& a) const { fromWords(r, a.getWords(), a.getUsed()); }

void LvCtMod::toOctets(LvOctet* out, unsigned int len, const Num& a) const {
  for (unsigned int i = 0; i < len; i++) {
    const unsigned int k = len - 1 - i;  // octet index from the low end
    out[i] = k / 8 < L ? (LvOctet)(a[k / 8] >> (8 * (k % 8))) : 0;
  }
}

void LvCtMod::toWords(LvWord* out, unsigned int n, const Num& a) const {
  for (unsigned int i = 0; i < n; i++) out[i] = i / 2 < L ? (LvWord)(a[i / 2] >> (32 * (i % 2))) : 0;
}

void LvCtMod::redcInto(Limb* r, Limb* t) const {
  // t: 2L + 1 limbs, below m·R
  Limb carry = 0;
  for (unsigned int i = 0; i < L; i++) {
    const Limb q = t[i] * n0;
    Limb c = 0;
    for (unsigned int j = 0; j < L; j++) {
      const u128 s = (u128)q * m[j] + t[i + j] + c;
      t[i + j] = (Limb)s;
      c = (Limb)(s >> 64);
    }
    const u128 s = (u128)t[i + L] + c + carry;
    t[i + L] = (Limb)s;
    carry = (Limb)(s >> 64);
  }
  Limb s[kMaxLimbs];
  const Limb br = subLimbs(s, t + L, m.data(), L);
  const Limb useS = (Limb)0 - (carry | (br ^ 1));
  for (unsigned int i = 0; i < L; i++) r[i] = t[L + i] ^ (useS & (t[L + i] ^ s[i]));
}

void LvCtMod::mul(Num& r, const Num& a, const Num& b) const {
  r.resize(L);
  switch (L) {
    case 1: return montMulT<1>(r.data(), a.data(), b.data(), m.data(), n0);
    case 2: return montMulT<2>(r.data(), a.data(), b.data(), m.data(), n0);
    case 3: return montMulT<3>(r.data(), a.data(), b.data(), m.data(), n0);
    case 4:
#if defined(__x86_64__)
      // the orders of the 256-bit curves: signing's inversion is mostly this
      if (lvcpu::hasBmi2Adx()) {
        if (&a == &b) return lvmont4::sqr(r.data(), a.data(), m.data(), n0);
        return lvmont4::mul(r.data(), a.data(), b.data(), m.data(), n0);
      }
#endif
      return montMulT<4>(r.data(), a.data(), b.data(), m.data(), n0);
    case 5: return montMulT<5>(r.data(), a.data(), b.data(), m.data(), n0);
    case 6: return montMulT<6>(r.data(), a.data(), b.data(), m.data(), n0);
    case 7: return montMulT<7>(r.data(), a.data(), b.data(), m.data(), n0);
    case 8: return montMulT<8>(r.data(), a.data(), b.data(), m.data(), n0);
    case 9: return montMulT<9>(r.data(), a.data(), b.data(), m.data(), n0);
    default: break;
  }
  Limb t[2 * kMaxLimbs + 1];
  for (unsigned int i = 0; i <= 2 * L; i++) t[i] = 0;
  for (unsigned int i = 0; i < L; i++) {
    Limb c = 0;
    for (unsigned int j = 0; j < L; j++) {
      const u128 s = (u128)a[i] * b[j] + t[i + j] + c;
      t[i + j] = (Limb)s;
      c = (Limb)(s >> 64);
    }
    t[i + L] = c;
  }
  r.resize(L);
  redcInto(r.data(), t);
  lvWipe(t, (2 * L + 1) * sizeof(Limb));
}

void LvCtMod::add(Num& r, const Num& a, const Num& b) const {
  Limb t[kMaxLimbs] = {}, s[kMaxLimbs] = {};  // zeroed: the compiler cannot see L <= kMaxLimbs
  Limb c = 0;
  for (unsigned int i = 0; i < L; i++) {
    const u128 x = (u128)a[i] + b[i] + c;
    t[i] = (Limb)x;
    c = (Limb)(x >> 64);
  }
  const Limb br = subLimbs(s, t, m.data(), L);
  const Limb useS = (Limb)0 - (c | (br ^ 1));
  r.resize(L);
  for (unsigned int i = 0; i < L; i++) r[i] = t[i] ^ (useS & (t[i] ^ s[i]));
}

void LvCtMod::toMont(Num& r, const Num& a) const { mul(r, a, r2); }

void LvCtMod::fromMont(Num& r, const Num& a) const {
  Num unit(L, 0);
  unit[0] = 1;
  mul(r, a, unit);
}

void LvCtMod::inverse(Num& r, const Num& a) const {
  if (L == 4) {
    // divsteps: (aR)^-1 = a^-1·R^-1, brought back to a^-1·R by R^3
    Num t(4);
    lvctinv4::inverse(t.data(), a.data(), inv4);
    mul(r, t, r3);
    lvWipe(t.data(), t.size() * sizeof(Limb));
    return;
  }
  // fixed 4-bit windows over the exponent m - 2; the exponent is public, so
  // its digits may pick table rows and skip zero digits: nothing here
  // depends on a
  std::vector<Limb> tab(16 * L);
  Num t(L), acc = one;
  std::copy(a.begin(), a.end(), tab.begin() + L);
  for (unsigned int i = 2; i < 16; i++) {
    std::copy(tab.begin() + (i - 1) * L, tab.begin() + i * L, t.begin());
    mul(t, t, a);
    std::copy(t.begin(), t.end(), tab.begin() + i * L);
  }
  bool started = false;
  for (unsigned int d = 16 * L; d-- > 0;) {
    if (started)
      for (int s = 0; s < 4; s++) mul(acc, acc, acc);
    const unsigned int digit = (unsigned int)(exp[d / 16] >> (4 * (d % 16))) & 15;
    if (digit == 0) continue;
    std::copy(tab.begin() + digit * L, tab.begin() + (digit + 1) * L, t.begin());
    if (started) {
      mul(acc, acc, t);
    } else {
      acc = t;
      started = true;
    }
  }
  r = acc;
  lvWipe(tab.data(), tab.size() * sizeof(Limb));
  lvWipe(t.data(), t.size() * sizeof(Limb));
  lvWipe(acc.data(), acc.size() * sizeof(Limb));
}

LvCtMod::Limb LvCtMod::zeroMask(const Num& a) const {
  Limb x = 0;
  for (unsigned int i = 0; i < L; i++) x |= a[i];
  // x == 0 exactly when neither x nor -x has its top bit set
  return ((x | ((Limb)0 - x)) >> 63) - 1;
}

LvCtMod::Limb LvCtMod::oneMask(const Num& a) const {
  Limb x = 0;
  for (unsigned int i = 0; i < L; i++) x |= a[i] ^ one[i];
  return ((x | ((Limb)0 - x)) >> 63) - 1;
}
