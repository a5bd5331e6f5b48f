// Moduli: set-up of the reduction data, factorisation and CRT data.
#include <new>

#include "crypto/algebra/lvnumbers.h"

#define MOD_FILE "lvalgebra\\lvnumbers\\lvmodulus.cpp"

namespace {

// 2^(32 * words) mod m as exactly `count` words.
LvWordMem powerOfRadix(const LvN& m, LvWordLen words, LvWordLen count) {
  LvN r(1u, 1);
  r <<= 32 * words;
  r %= m;
  LvWordMem out(count);
  longvCopyResize(out.ptr(), count, r.getWords(), r.getUsed());
  return out;
}

}  // namespace

LvModulus::LvModulus() {}

LvModulus::LvModulus(const LvOctet* oct, unsigned int len, int noValue, int opts)
    : LvN(oct, len, noValue) {
  setup(opts);
}

LvModulus::LvModulus(const LvN& n, int opts) : LvN(n) { setup(opts); }

LvModulus::LvModulus(const char* text, int opts) : LvN(text) { setup(opts); }

LvModulus::LvModulus(const LvWordMem& w, int opts) : LvN(w) { setup(opts); }

LvModulus::LvModulus(const LvModulus& m) : LvN(m) { copyFrom(m); }

LvModulus& LvModulus::operator=(const LvModulus& m) {
  if (this == &m) return *this;
  freeFactors();
  LvN::operator=(m);
  copyFrom(m);
  return *this;
}

LvModulus::~LvModulus() { freeFactors(); }

void LvModulus::freeFactors() {
  delete[] factors;
  factors = nullptr;
  if (exponents != nullptr) longvZeroize(exponents, factorCount);
  delete[] exponents;
  exponents = nullptr;
  factorCount = 0;
  delete crtP;
  crtP = nullptr;
  delete crtQ;
  crtQ = nullptr;
  crtC = 0u;
  flags &= ~FLAG_CRT;
}

void LvModulus::copyFrom(const LvModulus& m) {
  flags = m.flags & FLAG_PRIME;
  kind = m.kind;
  nPrime = m.nPrime;
  r1 = m.r1;
  r2 = m.r2;
  r3 = m.r3;
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
    crtP = new LvModulus(*m.crtP);
    crtQ = new LvModulus(*m.crtQ);
    crtC = m.crtC;
    flags |= FLAG_CRT;
  }
}

void LvModulus::setup(int opts) {
  freeFactors();
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
  r1 = LvWordMem();
  r2 = LvWordMem();
  r3 = LvWordMem();
  ext = LvWordMem();
  if (opts == 0) return;
  if (opts & OPT_PRIME) flags = FLAG_PRIME;
  if (opts & OPT_SPECIAL)
    specialSize = longvSpecialPrime(v.ptr(), used, &mulSpecial, &sqrSpecial, nullptr);
  if ((opts & (OPT_MONT | OPT_MONT_EXT)) == 0 || specialSize != 0) return;
  if (isEven()) {
    kind = KIND_EVEN;
    return;
  }
  nPrime = longvMontN0(v.ptr()[0]);
  LvWordLen k = used;
  if (opts & OPT_MONT) {
    kind = KIND_MONT;
    longvMontFixedKernels(k, longvMontIsSparse(v.ptr(), k), &mulFix, &sqrFix);
    if (mulFix == nullptr || sqrFix == nullptr) {
      mulFix = nullptr;
      sqrFix = nullptr;
      mulGen = longvMontMul;
      sqrGen = longvMontSqr;
    }
    r1 = powerOfRadix(*this, k, k);
    r2 = powerOfRadix(*this, 2 * k, k);
    r3 = powerOfRadix(*this, 3 * k, k);
  } else {
    kind = KIND_MONT_EXT;
    ext = LvWordMem(k + 1);
    longvCopy(ext.ptr(), v.ptr(), k);
    mulGen = longvMontMulExt;
    sqrGen = longvMontSqrExt;
    r1 = powerOfRadix(*this, k + 1, k + 1);
    r2 = powerOfRadix(*this, 2 * (k + 1), k + 1);
    r3 = powerOfRadix(*this, 3 * (k + 1), k + 1);
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
  return true;
}

void LvModulus::setCrt(const LvModulus& p, const LvModulus& q, const LvN& c) {
  LvN pv(p), qv(q), cv(c);  // p, q or c may live inside this modulus
  setup(OPT_MONT_EXT);
  if (!setFactor(pv)) return;
  // CRT data that does not describe this modulus would give wrong results
  // (and a wrong signature reveals the factors): keep the plain factor path.
  if (qv != factors[1] || cv.isZero() || cv >= pv || (qv * cv) % pv != 1u) return;
  // The halves use the per-size Montgomery kernels: the same results as the
  // extended form, at well under half the cost.
  LvModulus* np = new LvModulus(pv, OPT_MONT);
  LvModulus* nq = nullptr;
  try {
    nq = new LvModulus(qv, OPT_MONT);
  } catch (...) {
    delete np;
    throw;
  }
  delete crtP;
  delete crtQ;
  crtP = np;
  crtQ = nq;
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
  mulWords(t, x, r2.ptr());
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
