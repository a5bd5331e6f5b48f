// Classical division and modular reduction (long division with a normalised divisor).
#include <cstddef>

#include "crypto/algebra/longv.h"
#include "crypto/algebra/longvint.h"

namespace {

const char kDivByZeroDiv[] =
    "LIBRARY: libvorinpp\nEXCEPTION: LvDivByZeroException\nREASON: Division by zero.\n"
    "FUNCTION: void longvDivClassical(LvWord *x, LvWordLen nx, const LvWord *m, LvWordLen nm, "
    "LvWord *q, LvWordLen *nq)\nFILE: lvalgebra/lvnumbers/div\nLINE: 100\n";
const char kDivByZeroMod[] =
    "LIBRARY: libvorinpp\nEXCEPTION: LvDivByZeroException\nREASON: Division by zero.\n"
    "FUNCTION: void longvModClassical(LvWord *x, LvWordLen nx, const LvWord *m, LvWordLen nm, "
    "LvWord *c, LvWordLen cWords)\nFILE: lvalgebra/lvnumbers/mod\nLINE: 128\n";

[[noreturn]] void throwDivByZero(const char* text) {
  LvDivByZeroException e;
  e.setMessage(text);
  throw e;
}

typedef unsigned __int128 Wide;

// (hi * 2^64 + lo) / d and the remainder, for hi < d.
inline uint64_t div128(uint64_t hi, uint64_t lo, uint64_t d, uint64_t* rem) {
#if defined(__x86_64__) && defined(__GNUC__)
  uint64_t q, r;
  asm("divq %4" : "=a"(q), "=d"(r) : "a"(lo), "d"(hi), "rm"(d) : "cc");
  *rem = r;
  return q;
#else
  const Wide num = (static_cast<Wide>(hi) << 64) | lo;
  *rem = static_cast<uint64_t>(num % d);
  return static_cast<uint64_t>(num / d);
#endif
}

// a <<= s (0 <= s < 64) over n limbs; returns the bits shifted out.
uint64_t limbShl(uint64_t* a, LvWordLen n, int s) {
  if (s == 0) return 0;
  const uint64_t out = a[n - 1] >> (64 - s);
  for (LvWordLen i = n - 1; i > 0; --i) a[i] = (a[i] << s) | (a[i - 1] >> (64 - s));
  a[0] <<= s;
  return out;
}

// Long division of x (nx words, x >= m) by m (mEff significant words) with 64-bit digits
// (Knuth's algorithm D on a normalised divisor). The remainder goes back into x
// (zero-extended); the quotient into q (nx - mEff + 1 words) when q is not null.
void divide(LvWord* x, LvWordLen nx, const LvWord* m, LvWordLen mEff, LvWord* q, LvWordLen* nq) {
  const LvWordLen n = (mEff + 1) / 2;  // divisor limbs
  const LvWordLen xl = (nx + 1) / 2;   // dividend limbs (x >= m, so xl >= n)
  // Dividend with one more limb, divisor, quotient digits.
  const size_t limbs = 2 * static_cast<size_t>(xl) + 2;
  if (limbs > 0x1FFFFFFFu) LV_THROW_MEM(0xFFFFFFFFu);
  LvWordMem scratch(static_cast<unsigned int>(2 * limbs));
  uint64_t* un = reinterpret_cast<uint64_t*>(scratch.ptr());
  uint64_t* vn = un + xl + 1;
  uint64_t* qd = vn + n;
  longvToLimbs(vn, m, mEff, n);
  longvToLimbs(un, x, nx, xl);
  const int s = __builtin_clzll(vn[n - 1]);
  limbShl(vn, n, s);
  un[xl] = limbShl(un, xl, s);

  const uint64_t vTop = vn[n - 1];
  const uint64_t vNext = n >= 2 ? vn[n - 2] : 0;
  for (LvWordLen j = xl - n;; --j) {
    // Estimate the digit from the top two limbs, refine it with the divisor's second limb
    // (then it is at most one too large), subtract q * v in one pass and add back when it
    // was. Each loop below runs at most twice.
    uint64_t qhat, rhat;
    bool rhatBig = false;
    if (un[j + n] >= vTop) {
      qhat = ~uint64_t(0);
      const Wide r = static_cast<Wide>(un[j + n - 1]) + vTop;
      rhatBig = (r >> 64) != 0;
      rhat = static_cast<uint64_t>(r);
    } else {
      qhat = div128(un[j + n], un[j + n - 1], vTop, &rhat);
    }
    for (int guard = 0; guard < 2 && !rhatBig && n >= 2; ++guard) {
      if (static_cast<Wide>(qhat) * vNext <= ((static_cast<Wide>(rhat) << 64) | un[j + n - 2]))
        break;
      --qhat;
      const Wide r = static_cast<Wide>(rhat) + vTop;
      rhatBig = (r >> 64) != 0;
      rhat = static_cast<uint64_t>(r);
    }
    uint64_t carry = 0, borrow = 0;
    for (LvWordLen i = 0; i < n; ++i) {
      const Wide p = static_cast<Wide>(qhat) * vn[i] + carry;
      carry = static_cast<uint64_t>(p >> 64);
      const uint64_t lo = static_cast<uint64_t>(p);
      const uint64_t t = un[i + j] - lo;
      const uint64_t b1 = un[i + j] < lo;
      un[i + j] = t - borrow;
      borrow = b1 + (t < borrow);
    }
    const uint64_t t = un[j + n] - carry;
    const uint64_t b1 = un[j + n] < carry;
    un[j + n] = t - borrow;
    if (b1 + (t < borrow)) {
      --qhat;
      Wide c = 0;
      for (LvWordLen i = 0; i < n; ++i) {
        c += static_cast<Wide>(un[i + j]) + vn[i];
        un[i + j] = static_cast<uint64_t>(c);
        c >>= 64;
      }
      un[j + n] += static_cast<uint64_t>(c);
    }
    qd[j] = qhat;
    if (j == 0) break;
  }
  if (q != nullptr) {
    // Quotient words above nx - mEff are zero: the caller's buffer ends there.
    const LvWordLen qWords = nx - mEff + 1;
    for (LvWordLen i = 0; i < qWords; ++i)
      q[i] = (i / 2 <= xl - n) ? static_cast<LvWord>(qd[i / 2] >> (32 * (i % 2))) : 0;
    if (nq) *nq = longvSigLen(q, qWords);
  }
  // The remainder is below the divisor: n limbs, shifted back.
  if (s != 0) {
    for (LvWordLen i = 0; i + 1 < n; ++i) un[i] = (un[i] >> s) | (un[i + 1] << (64 - s));
    un[n - 1] >>= s;
  }
  for (LvWordLen i = 0; i < nx; ++i)
    x[i] = (i < mEff) ? static_cast<LvWord>(un[i / 2] >> (32 * (i % 2))) : 0;
}

}  // namespace

void longvDivClassical(LvWord* x, LvWordLen nx, const LvWord* m, LvWordLen nm, LvWord* q,
                       LvWordLen* nq) {
  const LvWordLen mEff = longvSigLen(m, nm);
  if (mEff == 0) throwDivByZero(kDivByZeroDiv);
  if (nx == 0 || longvCmpLen(x, nx, m, mEff) < 0) {
    if (nq) *nq = 0;
    return;
  }
  divide(x, nx, m, mEff, q, nq);
}

void longvModClassical(LvWord* x, LvWordLen nx, const LvWord* m, LvWordLen nm, LvWord* c,
                       LvWordLen cWords) {
  const LvWordLen mEff = longvSigLen(m, nm);
  if (mEff == 0) throwDivByZero(kDivByZeroMod);
  if (nx != 0 && longvCmpLen(x, nx, m, mEff) >= 0) divide(x, nx, m, mEff, nullptr, nullptr);
  if (c != nullptr && c != x) longvCopyResize(c, cWords, x, nx);
  else if (c == x && cWords > nx) longvZeroize(c + nx, cWords - nx);
}

void longvModInPlace(LvWord* x, LvWordLen nx, const LvWord* m, LvWordLen nm) {
  longvModClassical(x, nx, m, nm, x, nx);
}
