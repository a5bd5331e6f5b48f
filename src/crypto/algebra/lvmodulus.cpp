// Moduli: set-up of the reduction data, factorisation and CRT data.
#include <initializer_list>
#include <memory>
#include <new>

#include "crypto/algebra/lvnumbers.h"
#include "crypto/basic/lvsecret.h"

#define MOD_FILE "lvalgebra\\lvnumbers\\lvmodulus.cpp"

namespace {

// R^1..R^count for a public modulus (R = 2^(32 radixWords)), each in w words.
void radixPowers(const LvN& m, LvWordLen radixWords, LvWordLen w, unsigned int count,
                 LvWordMem* const* out) {
  LvWord* to[3];
  for (unsigned int i = 0; i < count; ++i) {
    if (out[i]->getCount() != w) *out[i] = LvWordMem(w);
    to[i] = out[i]->ptr();
  }
  longvRadixPowers(to, w, count, m.getWords(), m.getUsed(), radixWords);
}

// x = 2x mod m for x below m (k words), by a masked subtraction.
void doubleMod(LvWord* x, const LvWord* m, LvWordLen k) {
  const LvWord top = x[k - 1] >> 31;
  longvShl(x, k, 1);
  longvCtCondSub(x, top, m, k);
}

}  // namespace

// R, R^2 and R^3 mod m (R = 2^(32k)) for an odd m without a division, in time independent of
// m's value (a secret prime's): R by masked doublings from 2^(32(k-1)), which is at most m;
// R^2, the Montgomery form of 2^(32k), by squarings and doublings over the (public) bits of
// 32k, each squaring adding the powers of two; R^3 as the Montgomery square of R^2.
void LvModulus::setMontgomeryConstants() {
  const LvWordLen k = used;
  const LvWord* m = v.ptr();
  LvWordMem x(k), t(2 * k);
  x.ptr()[k - 1] = 1;
  longvCtCondSub(x.ptr(), 0, m, k);
  for (int i = 0; i < 32; ++i) doubleMod(x.ptr(), m, k);
  r1 = x;
  const unsigned int e = 32 * k;
  int bit = 31;
  while (((e >> bit) & 1u) == 0) --bit;
  doubleMod(x.ptr(), m, k);  // 2 in Montgomery form: the top bit of e
  while (bit-- > 0) {
    sqrWords(t.ptr(), x.ptr());
    longvCopy(x.ptr(), t.ptr(), k);
    if ((e >> bit) & 1u) doubleMod(x.ptr(), m, k);
  }
  r2 = x;
  sqrWords(t.ptr(), x.ptr());
  r3 = LvWordMem(k);
  longvCopy(r3.ptr(), t.ptr(), k);
  r3Ready.store(true, std::memory_order_release);
  lvWipe(t.ptr(), 2 * k * sizeof(LvWord));
}

void LvModulus::makeR12() const {
  std::lock_guard<std::mutex> hold(lazyLock);
  if (r12Ready.load(std::memory_order_relaxed)) return;
  LvWordMem* const r[] = {&r1, &r2};
  radixPowers(*this, used, used, 2, r);
  r12Ready.store(true, std::memory_order_release);
}

void LvModulus::makeR3() const {
  const LvWordMem& rr2 = getR2();  // before the lock, which making R^2 takes too
  std::lock_guard<std::mutex> hold(lazyLock);
  if (r3Ready.load(std::memory_order_relaxed)) return;
  if (kind == KIND_MONT) {
    // R^3 = R^2 R^2 R^-1 by the constant-time kernel: a modulus made public may be a secret's
    // by the time R^3 is first asked for.
    const LvWordLen k = used;
    LvWordMem t(2 * k);
    sqrWords(t.ptr(), rr2.ptr());
    r3 = LvWordMem(k);
    longvCopy(r3.ptr(), t.ptr(), k);
  } else if (kind == KIND_MONT_EXT) {
    // (the extended kernels leave results up to 2n: by limbs; n is a public modulus here)
    const LvWordLen w = getWorkWords();
    LvWordMem a, b;
    LvWordMem* const r[] = {&a, &b, &r3};
    radixPowers(*this, w, w, 3, r);
  }
  r3Ready.store(true, std::memory_order_release);
}

LvModulus::LvModulus() {}

LvModulus::LvModulus(const LvN& n, int opts) : LvN(n) { prepare(opts); }

LvModulus::LvModulus(const char* text, int opts) : LvN(text) { prepare(opts); }

LvModulus::LvModulus(const LvWordMem& w, int opts) : LvN(w) { prepare(opts); }

LvModulus::LvModulus(const LvModulus& m) : LvN(m) {
  // a copy cut short by a failed allocation is never destroyed: its factors go (wiped) here
  try {
    copyFrom(m);
  } catch (...) {
    freeFactors();
    throw;
  }
}

LvModulus& LvModulus::operator=(const LvModulus& m) {
  if (this == &m) return *this;
  freeFactors();
  LvN::operator=(m);
  copyFrom(m);
  return *this;
}

void LvModulus::freeFactors() {
  delete[] factors;
  factors = nullptr;
  if (exponents != nullptr) longvZeroize(exponents, factorCount);
  delete[] exponents;
  exponents = nullptr;
  factorCount = 0;
  // (c is only ever set together with them)
  if (crtP != nullptr || crtQ != nullptr) {
    delete crtP;
    crtP = nullptr;
    delete crtQ;
    crtQ = nullptr;
    crtC = 0u;
  }
  flags &= ~FLAG_CRT;
}

void LvModulus::copyFrom(const LvModulus& m) {
  flags = m.flags & FLAG_PRIME;
  kind = m.kind;
  nPrime = m.nPrime;
  const bool made = m.r12Ready.load(std::memory_order_acquire);
  r1 = made ? m.r1 : LvWordMem();
  r2 = made ? m.r2 : LvWordMem();
  r12Ready.store(made, std::memory_order_release);
  const bool ready = m.r3Ready.load(std::memory_order_acquire);
  r3 = ready ? m.r3 : LvWordMem();
  r3Ready.store(ready, std::memory_order_release);
  ext = m.ext;
  specialSize = m.specialSize;
  options = m.options;
  mulGen = m.mulGen;
  sqrGen = m.sqrGen;
  mulFix = m.mulFix;
  sqrFix = m.sqrFix;
  mulSpecial = m.mulSpecial;
  sqrSpecial = m.sqrSpecial;
  if ((m.flags & FLAG_FACTORS) == FLAG_FACTORS && m.factorCount > 0) {
    factors = new (std::nothrow) LvN[m.factorCount];
    exponents = new (std::nothrow) LvWord[m.factorCount];
    if (factors == nullptr || exponents == nullptr) {
      delete[] factors;
      delete[] exponents;
      factors = nullptr;
      exponents = nullptr;
      throw LvMemException(static_cast<std::uint32_t>(m.factorCount * sizeof(LvN)), MOD_FILE,
                           LV_STRINGIFY(__LINE__));
    }
    factorCount = m.factorCount;
    for (unsigned int i = 0; i < factorCount; ++i) {
      factors[i] = m.factors[i];
      exponents[i] = m.exponents[i];
    }
    flags |= FLAG_FACTORS;
  }
  if ((m.flags & FLAG_CRT) == FLAG_CRT && m.crtP != nullptr && m.crtQ != nullptr) {
    // both made before either is kept, so a failure in the second leaves nothing behind
    std::unique_ptr<LvModulus> p(new LvModulus(*m.crtP));
    std::unique_ptr<LvModulus> q(new LvModulus(*m.crtQ));
    crtP = p.release();
    crtQ = q.release();
    crtC = m.crtC;
    flags |= FLAG_CRT;
  }
}

void LvModulus::setup(int opts) {
  freeFactors();
  for (LvWordMem* w : {&r1, &r2, &r3, &ext})
    if (w->getCount() != 0) *w = LvWordMem();
  prepare(opts);
}

void LvModulus::prepare(int opts) {
  flags = 0;
  kind = KIND_PLAIN;
  nPrime = 0;
  specialSize = 0;
  options = opts;
  mulGen = nullptr;
  sqrGen = nullptr;
  mulFix = nullptr;
  sqrFix = nullptr;
  mulSpecial = nullptr;
  sqrSpecial = nullptr;
  r12Ready.store(true, std::memory_order_release);
  r3Ready.store(false, std::memory_order_release);
  if (opts == 0) return;
  if (opts & OPT_PRIME) flags = FLAG_PRIME;
  if (opts & OPT_SPECIAL)
    specialSize = longvSpecialPrime(v.ptr(), used, &mulSpecial, &sqrSpecial, nullptr);
  if ((opts & (OPT_MONT | OPT_MONT_EXT)) == 0 || specialSize != 0) return;
  // The parity is public even for a secret prime (an even one is no key).
  LvWord odd = v.ptr()[0] & 1u;
  lvDeclassify(&odd, sizeof odd);
  if (odd == 0) {
    kind = KIND_EVEN;
    return;
  }
  nPrime = longvMontN0(v.ptr()[0]);
  LvWordLen k = used;
  if (opts & OPT_MONT) {
    kind = KIND_MONT;
    // Sparse moduli have kernels of their own only among the sizes with fixed ones: the
    // scan of every word for that form is made only there.
    longvMontFixedKernels(k, false, &mulFix, &sqrFix);
    if (mulFix != nullptr && longvMontIsSparse(v.ptr(), k))
      longvMontFixedKernels(k, true, &mulFix, &sqrFix);
    if (mulFix == nullptr || sqrFix == nullptr) {
      mulFix = nullptr;
      sqrFix = nullptr;
      mulGen = longvMontMul;
      sqrGen = longvMontSqr;
    }
    if (opts & OPT_SECRET) {
      setMontgomeryConstants();
    } else if (opts & OPT_LAZY) {
      r12Ready.store(false, std::memory_order_release);
    } else {
      LvWordMem* const r[] = {&r1, &r2};
      radixPowers(*this, k, k, 2, r);
    }
  } else {
    kind = KIND_MONT_EXT;
    ext = LvWordMem(k + 1);
    longvCopy(ext.ptr(), v.ptr(), k);
    mulGen = longvMontMulExt;
    sqrGen = longvMontSqrExt;
    LvWordMem* const r[] = {&r1, &r2};
    radixPowers(*this, k + 1, k + 1, 2, r);
  }
}

const LvWord* LvModulus::getReductionWords() const {
  return kind == KIND_MONT_EXT ? ext.ptr() : v.ptr();
}

LvWordLen LvModulus::getWorkWords() const { return kind == KIND_MONT_EXT ? used + 1 : used; }

bool LvModulus::setFactor(const LvN& p) {
  // A trivial or repeated factor gives no usable recombination.
  if (p <= 1u || p >= *this || !(p | *this)) return false;
  LvN other = *this / p;
  if (gcd(p, other) != 1u) return false;
  setFactors(p, other);
  return true;
}

void LvModulus::setFactors(const LvN& p, const LvN& other) {
  LvN* f = new (std::nothrow) LvN[2];
  LvWord* e = new (std::nothrow) LvWord[2];
  if (f == nullptr || e == nullptr) {
    delete[] f;
    delete[] e;
    throw LvMemException(static_cast<std::uint32_t>(2 * sizeof(LvN)), MOD_FILE,
                         LV_STRINGIFY(__LINE__));
  }
  freeFactors();
  factors = f;
  exponents = e;
  factors[0] = p;
  factors[1] = other;
  exponents[0] = 1;
  exponents[1] = 1;
  factorCount = 2;
  flags |= FLAG_FACTORS;
}

namespace {

// All ones when the k words of a equal those of b.
LvWord ctEqualWords(const LvWord* a, const LvWord* b, LvWordLen k) {
  LvWord diff = 0;
  for (LvWordLen i = 0; i < k; ++i) diff |= a[i] ^ b[i];
  return longvCtEqMask(diff, 0);
}

// All ones when the number of k words is above 1.
LvWord ctAboveOne(const LvWord* a, LvWordLen k) {
  LvWord high = a[0] & ~1u;
  for (LvWordLen i = 1; i < k; ++i) high |= a[i];
  return ~longvCtEqMask(high, 0);
}

}  // namespace

void LvModulus::setCrt(const LvModulus& p, const LvModulus& q, const LvN& c) {
  LvN pv(p), qv(q), cv(c);  // p, q or c may live inside this modulus
  setup(OPT_MONT_EXT);
  // The factors are secret: the checks below run in time independent of them, and only their
  // one answer, whether the data describe this modulus, is made public. Data that do not would
  // give wrong results (and a wrong signature reveals the factors): n stays plain.
  const LvWordLen kp = pv.getUsed(), kq = qv.getUsed(), kc = cv.getUsed();
  if (kp + kq < used || kp + kq > used + 1 || kc > kp) return;
  std::unique_ptr<LvModulus> np(new LvModulus(pv, OPT_MONT | OPT_SECRET));
  std::unique_ptr<LvModulus> nq(new LvModulus(qv, OPT_MONT | OPT_SECRET));
  if (np->getKind() != KIND_MONT || nq->getKind() != KIND_MONT) return;
  // p q = n, both factors above 1 (so each is a proper divisor)
  LvWordMem prod(kp + kq), nw(kp + kq);
  longvMul(prod.ptr(), pv.getWords(), kp, qv.getWords(), kq);
  longvCopyResize(nw.ptr(), kp + kq, v.ptr(), used);
  LvWord ok = ctEqualWords(prod.ptr(), nw.ptr(), kp + kq) & ctAboveOne(pv.getWords(), kp) &
              ctAboveOne(qv.getWords(), kq);
  // c below p and q c = 1 (mod p), which also makes p and q coprime: Montgomery products on
  // q mod p, c and R^2 give q c mod p.
  LvWordMem cw(kp), qr(kp), t(2 * kp), one(kp);
  longvCopyResize(cw.ptr(), kp, cv.getWords(), kc);
  LvWordMem diff(cw);
  ok &= 0u - longvSub(diff.ptr(), pv.getWords(), kp, 0);
  reduceSecretWords(qr.ptr(), qv.getWords(), kq, *np);
  np->mulWords(t.ptr(), qr.ptr(), cw.ptr());
  longvCopy(qr.ptr(), t.ptr(), kp);
  np->mulWords(t.ptr(), qr.ptr(), np->getR2().ptr());
  one.ptr()[0] = 1;
  ok &= ctEqualWords(t.ptr(), one.ptr(), kp);
  lvWipe(t.ptr(), 2 * kp * sizeof(LvWord));
  lvWipe(qr.ptr(), kp * sizeof(LvWord));
  lvDeclassify(&ok, sizeof ok);
  if (ok == 0) return;
  setFactors(pv, qv);
  // The halves use the per-size Montgomery kernels: the same results as the
  // extended form, at well under half the cost.
  crtP = np.release();
  crtQ = nq.release();
  crtC = cv;
  flags |= FLAG_CRT;
}

void LvModulus::mulWords(LvWord* t, const LvWord* a, const LvWord* b) const {
  LvWordLen k = used;
  switch (kind) {
    case KIND_MONT:
      if (mulFix != nullptr)
        mulFix(t, a, b, v.ptr(), nPrime);
      else
        mulGen(t, a, b, v.ptr(), nPrime, k);
      return;
    case KIND_MONT_EXT:
      mulGen(t, a, b, ext.ptr(), nPrime, k + 1);
      return;
    default:
      if (mulSpecial != nullptr) {
        mulSpecial(t, a, b);
        return;
      }
      longvMul(t, a, k, b, k);
      longvModInPlace(t, 2 * k, v.ptr(), k);
      return;
  }
}

void LvModulus::sqrWords(LvWord* t, const LvWord* a) const {
  LvWordLen k = used;
  switch (kind) {
    case KIND_MONT:
      if (sqrFix != nullptr)
        sqrFix(t, a, v.ptr(), nPrime);
      else
        sqrGen(t, a, v.ptr(), nPrime, k);
      return;
    case KIND_MONT_EXT:
      sqrGen(t, a, ext.ptr(), nPrime, k + 1);
      return;
    default:
      if (sqrSpecial != nullptr) {
        sqrSpecial(t, a);
        return;
      }
      longvSqr(t, a, k);
      longvModInPlace(t, 2 * k, v.ptr(), k);
      return;
  }
}

void LvModulus::toWorkForm(LvWord* x, LvWord* t) const {
  if (kind != KIND_MONT && kind != KIND_MONT_EXT) return;
  mulWords(t, x, getR2().ptr());
  longvCopy(x, t, getWorkWords());
}

void LvModulus::fromWorkForm(LvWord* out, const LvWord* x, LvWord* t) const {
  LvWordLen n = getWorkWords();
  if (kind == KIND_MONT) {
    longvFromMont(t, x, v.ptr(), n);
    longvCopy(out, t, n);
  } else if (kind == KIND_MONT_EXT) {
    // t holds 2n words: the high half takes the value brought below the
    // modulus, the low half the result.
    LvWord* y = t + n;
    longvCopy(y, x, n);
    for (int i = 0; i < 2 && longvCmp(y, ext.ptr(), n) >= 0; ++i) longvSub(y, ext.ptr(), n, 0);
    if (longvCmp(y, ext.ptr(), n) >= 0) longvModInPlace(y, n, ext.ptr(), n);
    longvFromMont(t, y, ext.ptr(), n);
    longvCopy(out, t, n);
  } else {
    longvCopy(out, x, n);
  }
}
