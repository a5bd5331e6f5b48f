// Residues modulo an LvModulus: arithmetic, inversion and exponentiation.
#include <new>
#include <vector>

#include "crypto/algebra/lvnumbers.h"

#define ZN_FILE "lvalgebra\\lvnumbers\\zn_arith.cpp"
#define ZN_DIV_FILE "lvalgebra\\lvnumbers\\zn_div.cpp"
#define ZN_EXP_FILE "lvalgebra\\lvnumbers\\zn_exp.cpp"
#define ZN_ASSIGN_FILE "lvalgebra\\lvnumbers\\zn_assign.cpp"

LvGroupElem::~LvGroupElem() { group = nullptr; }
void LvGroupElem::setGroup(LvGroup* g) { group = g; }
LvGroup* LvGroupElem::getGroup() const { return group; }

namespace {

void needModulus(const LvModulus* m) {
  if (m == nullptr || m->isZero())
    LV_THROW(LvNotInitException, "Uninitialised modulus pointer or modulus equel zero.",
             "LvZn::LvZn", ZN_FILE);
}

void checkCurrent(const LvZn& a) {
  if (!a.isCurrent())
    LV_THROW(LvNotInitException, "Residue of a modulus that was prepared again.", "LvZn",
             ZN_FILE);
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction
// ---------------------------------------------------------------------------

LvZn::LvZn() {}

void LvZn::attach(const LvModulus* m) {
  needModulus(m);
  mod = m;
  kind = m->getKind();
  count = m->getWorkWords();
  red = m->getReductionWords();
  val = LvWordMem(count);
}

void LvZn::ensureScratch() {
  if (scratch.getCount() < 2 * count) scratch = LvWordMem(2 * count);
}

void LvZn::load(const LvN& a) {
  const LvWord* w = a.getWords();
  LvWordLen n = a.getUsed();
  LvN reduced;
  if (longvCmpLen(w, n, mod->getWords(), mod->getUsed()) >= 0) {
    reduced = a;
    reduced %= *mod;
    w = reduced.getWords();
    n = reduced.getUsed();
  }
  longvCopyResize(val.ptr(), count, w, n);
  if (kind == LvModulus::KIND_MONT || kind == LvModulus::KIND_MONT_EXT) {
    ensureScratch();
    mod->toWorkForm(val.ptr(), scratch.ptr());
  }
}

LvZn::LvZn(const LvOctet* oct, unsigned int len, int noValue, const LvModulus* m) {
  attach(m);
  if (noValue == 0) load(LvN(oct, len));
}

LvZn::LvZn(const LvN& a, const LvModulus* m) {
  attach(m);
  load(a);
}

LvZn::LvZn(const LvWordMem& w, const LvModulus* m) {
  attach(m);
  load(LvN(w));
}

LvZn::LvZn(const LvWord* w, LvWordLen n, const LvModulus* m) {
  attach(m);
  load(LvN(w, n));
}

LvZn::LvZn(int a, const LvModulus* m) {
  attach(m);
  if (a >= 0) {
    load(LvN(static_cast<LvWord>(a), 1));
  } else {
    LvN r(static_cast<LvWord>(-static_cast<std::int64_t>(a)), 1);
    r %= *m;
    if (r.isZero())
      load(r);
    else
      load(LvN(*m) - r);
  }
}

LvZn::LvZn(const char* text, const LvModulus* m) {
  attach(m);
  if (text != nullptr && text[0] == '-') {
    load(LvN(text + 1));
    *this = -*this;
  } else {
    load(LvN(text));
  }
}

LvZn::LvZn(const LvZn& a)
    : LvGroupElem(a),
      val(a.val),
      count(a.count),
      mod(a.mod),
      red(a.red),
      kind(a.kind),
      scratch() {}

LvZn& LvZn::operator=(const LvZn& a) {
  if (this == &a) return *this;
  LvGroupElem::operator=(a);
  val = a.val;
  count = a.count;
  mod = a.mod;
  red = a.red;
  kind = a.kind;
  return *this;
}

LvZn& LvZn::operator=(int a) {
  if (mod == nullptr || mod->isZero())
    LV_THROW(LvNotInitException, "Uninitialised modulus pointer or modulus equel zero.",
             "LvZn& LvZn::operator =(int a)", ZN_ASSIGN_FILE);
  if (a == 0) {
    longvZeroize(val.ptr(), count);
    return *this;
  }
  LvZn t(a, mod);
  val = t.val;
  return *this;
}

LvZn::~LvZn() {
  mod = nullptr;
  red = nullptr;
}

// ---------------------------------------------------------------------------
// Access
// ---------------------------------------------------------------------------

const LvWord* LvZn::getWords() const { return val.ptr(); }
LvWord* LvZn::getWords() { return val.ptr(); }

void LvZn::getN(LvN& out) const {
  if (mod == nullptr) {
    out = 0u;
    return;
  }
  checkCurrent(*this);
  LvWordMem t(2 * count), w(count);
  mod->fromWorkForm(w.ptr(), val.ptr(), t.ptr());
  out = LvN(w);
}

LvN LvZn::getN() const {
  LvN r;
  getN(r);
  return r;
}

namespace {

// Kind-2 values may lie in [n, 2n): bring a copy below the reduction words.
// Words written through getWords() may be anything, so after two
// subtractions a division finishes the job.
void normalise(LvWord* x, const LvWord* red, LvWordLen n) {
  for (int i = 0; i < 2 && longvCmp(x, red, n) >= 0; ++i) longvSub(x, red, n, 0);
  if (longvCmp(x, red, n) >= 0) longvModInPlace(x, n, red, n);
}

void checkCompatible(const LvZn& a, const LvZn& b, const char* text) {
  if (a.getModulus() == nullptr || b.getModulus() == nullptr) {
    LvNotInitException e;
    e.setMessage(text);
    throw e;
  }
  checkCurrent(a);
  checkCurrent(b);
  if (a.getModulus() != b.getModulus() &&
      (a.getCount() != b.getCount() || a.getModulus()->getKind() != b.getModulus()->getKind() ||
       *a.getModulus() != *b.getModulus()))
    LV_THROW(LvArgumentRangeException, "Residues of different moduli.", "LvZn", ZN_FILE);
}

const char kNoModulusText[] = LV_EXCEPTION_TEXT(
    "LvNotInitException", "Uninitialised modulus pointer or modulus equel zero.", "LvZn", ZN_FILE);

}  // namespace

bool LvZn::isCurrent() const {
  return mod != nullptr && count == mod->getWorkWords() && kind == mod->getKind() &&
         red == mod->getReductionWords() && val.getCount() >= count;
}

bool LvZn::isZero() const {
  if (mod == nullptr) return true;
  checkCurrent(*this);
  if (longvIsZero(val.ptr(), count)) return true;
  return kind == LvModulus::KIND_MONT_EXT && longvCmp(val.ptr(), red, count) == 0;
}

// ---------------------------------------------------------------------------
// Arithmetic
// ---------------------------------------------------------------------------

LvZn& LvZn::operator*=(const LvZn& b) {
  checkCompatible(*this, b, kNoModulusText);
  ensureScratch();
  if (&b == this || longvCmp(val.ptr(), b.val.ptr(), count) == 0)
    mod->sqrWords(scratch.ptr(), val.ptr());
  else
    mod->mulWords(scratch.ptr(), val.ptr(), b.val.ptr());
  longvCopy(val.ptr(), scratch.ptr(), count);
  return *this;
}

LvZn& LvZn::operator+=(const LvZn& b) {
  checkCompatible(*this, b, kNoModulusText);
  LvZn c(b);  // b may be this residue
  normalise(val.ptr(), red, count);
  normalise(c.val.ptr(), red, count);
  LvWord carry = longvAdd(val.ptr(), c.val.ptr(), count, 0);
  if (carry) longvSub(val.ptr(), red, count, 0);
  normalise(val.ptr(), red, count);
  return *this;
}

LvZn& LvZn::operator-=(const LvZn& b) {
  checkCompatible(*this, b, kNoModulusText);
  LvZn c(b);
  normalise(val.ptr(), red, count);
  normalise(c.val.ptr(), red, count);
  if (longvSub(val.ptr(), c.val.ptr(), count, 0)) longvAdd(val.ptr(), red, count, 0);
  return *this;
}

LvZn LvZn::operator-() const {
  LvZn r(*this);
  if (mod == nullptr) return r;
  checkCurrent(*this);
  normalise(r.val.ptr(), red, count);
  if (longvIsZero(r.val.ptr(), count)) return r;
  LvWordMem t(count);
  longvCopy(t.ptr(), red, count);
  longvSub(t.ptr(), r.val.ptr(), count, 0);
  r.val = t;
  return r;
}

LvZn& LvZn::operator/=(LvZn b) {
  checkCompatible(*this, b, kNoModulusText);
  ensureScratch();
  if (b.isZero()) {
    if (isZero()) return *this;
    LV_THROW(LvDivByZeroException, "Division by zero.", "LvZn& LvZn::operator /=(LvZn a)",
             ZN_DIV_FILE);
  }
  normalise(b.val.ptr(), red, count);
  LvWordMem inv(count);
  if (longvModInverse(inv.ptr(), b.val.ptr(), red, count) != 0)
    LV_THROW(LvInvException, "There is no inversion of number a.v modulo number n->v.",
             "LvZn& LvZn::operator /=(LvZn a)", ZN_DIV_FILE);
  if (kind == LvModulus::KIND_MONT || kind == LvModulus::KIND_MONT_EXT) {
    // b held bR, whose plain inverse is b^-1 R^-1: two products restore the form.
    mod->mulWords(scratch.ptr(), val.ptr(), inv.ptr());
    longvCopy(val.ptr(), scratch.ptr(), count);
    mod->mulWords(scratch.ptr(), val.ptr(), mod->getR3().ptr());
    longvCopy(val.ptr(), scratch.ptr(), count);
  } else {
    longvMul(scratch.ptr(), val.ptr(), count, inv.ptr(), count);
    longvModInPlace(scratch.ptr(), 2 * count, red, count);
    longvCopy(val.ptr(), scratch.ptr(), count);
  }
  return *this;
}

bool LvZn::operator==(const LvZn& b) const {
  if (kind != b.kind || count != b.count) return false;
  if (mod != b.mod) {
    if (mod == nullptr || b.mod == nullptr || *mod != *b.mod) return false;
  }
  if (mod == nullptr) return true;
  checkCurrent(*this);
  checkCurrent(b);
  LvWordMem x(val), y(b.val);
  normalise(x.ptr(), red, count);
  normalise(y.ptr(), red, count);
  return longvCmp(x.ptr(), y.ptr(), count) == 0;
}

bool LvZn::operator==(int a) const {
  if (a == 0) return isZero();
  if (mod == nullptr) return false;
  if (a == 1) {
    checkCurrent(*this);
    LvWordMem x(val);
    normalise(x.ptr(), red, count);
    if (kind == LvModulus::KIND_MONT || kind == LvModulus::KIND_MONT_EXT)
      return longvCmp(x.ptr(), mod->getR().ptr(), count) == 0;
    return longvIsOne(x.ptr(), count) || *mod == 1u;
  }
  return *this == LvZn(a, mod);
}

LvZn operator*(const LvZn& a, const LvZn& b) { LvZn r(a); r *= b; return r; }
LvZn operator*(int a, const LvZn& b) {
  LvZn r(a, b.getModulus());
  r *= b;
  return r;
}
LvZn operator+(const LvZn& a, const LvZn& b) { LvZn r(a); r += b; return r; }
LvZn operator+(const LvZn& a, int b) {
  LvZn r(a);
  r += LvZn(b, a.getModulus());
  return r;
}
LvZn operator-(const LvZn& a, const LvZn& b) { LvZn r(a); r -= b; return r; }
LvZn operator/(const LvZn& a, const LvZn& b) { LvZn r(a); r /= b; return r; }
LvZn operator/(int a, const LvZn& b) {
  LvZn r(a, b.getModulus());
  r /= b;
  return r;
}

// ---------------------------------------------------------------------------
// Exponentiation
// ---------------------------------------------------------------------------

namespace {

// k bits of e starting at bit pos.
unsigned int exponentBits(const LvN& e, unsigned int pos, unsigned int k) {
  const LvWord* w = e.getWords();
  LvWordLen n = e.getUsed();
  unsigned int wi = pos / 32, off = pos % 32;
  if (wi >= n) return 0;
  std::uint64_t x = w[wi] >> off;
  if (off + k > 32 && wi + 1 < n) x |= static_cast<std::uint64_t>(w[wi + 1]) << (32 - off);
  return static_cast<unsigned int>(x & ((1u << k) - 1));
}

unsigned int windowSize(unsigned int b) {
  unsigned int t = b + b / 2;
  if (t < 4) return 1;
  unsigned int j = 1;
  while ((std::uint64_t{1} << (j + 2)) * (j + 1) * (j + 1) <= t) ++j;
  if (b / (2 * j) + (1u << j) < b / (2 * (j + 1)) + (1u << (j + 1))) return j;
  return j + 1;
}

// x^e by fixed windows; the digits are read from the whole exponent.
LvZn powWindow(const LvZn& x, const LvN& e) {
  unsigned int b = e.getBitLength();
  unsigned int k = windowSize(b);
  const LvModulus* m = x.getModulus();
  if (m != nullptr && m->getKind() == LvModulus::KIND_MONT && m->getUsed() == 32 &&
      !e.isZero()) {
    // 1024-bit moduli (the RSA-2048 halves) have a vector road where the processor offers it.
    LvWordMem out(32);
    LvN xn = x.getN();
    LvWordMem xw(32);
    longvCopyResize(xw.ptr(), 32, xn.getWords(), xn.getUsed());
    if (longvModExp1024(out.ptr(), xw.ptr(), e.getWords(), e.getUsed(), m->getWords(), k))
      return LvZn(out, m);
  }
  unsigned int entries = (1u << k) - 1;
  std::vector<LvZn> table;
  table.reserve(entries);
  table.push_back(x);
  for (unsigned int i = 1; i < entries; ++i) table.push_back(table[i - 1] * x);
  LvZn r(x);
  bool started = false;
  unsigned int windows = (b + k - 1) / k;
  for (unsigned int i = windows; i-- > 0;) {
    unsigned int d = exponentBits(e, i * k, k);
    if (started)
      for (unsigned int s = 0; s < k; ++s) r *= r;
    if (d != 0) {
      if (started)
        r *= table[d - 1];
      else
        r = table[d - 1];
      started = true;
    }
  }
  if (!started) r = 1;
  return r;
}

// Exponent for a prime modulus p: e mod (p - 1), kept nonzero for a nonzero e
// so that a base divisible by p still gives 0.
LvN reducedExponent(const LvN& e, const LvN& p) {
  LvN pm1 = p - 1u;
  if (pm1.isZero()) return e;
  LvN r = e % pm1;
  if (r.isZero() && !e.isZero()) r = pm1;
  return r;
}

// Both halves of a CRT exponentiation at once on the vector road, where the processor offers
// it and both primes have 32 words; false leaves the work to the caller.
bool crtHalvesSideBySide(const LvN& x, const LvModulus& p, const LvN& ep, const LvModulus& q,
                         const LvN& eq, LvN& xp, LvN& xq) {
  if (p.getKind() != LvModulus::KIND_MONT || q.getKind() != LvModulus::KIND_MONT ||
      p.getUsed() != 32 || q.getUsed() != 32 || ep.isZero() || eq.isZero())
    return false;
  LvN xpIn = x % p, xqIn = x % q;
  LvWordMem a(32), b(32), outP(32), outQ(32);
  longvCopyResize(a.ptr(), 32, xpIn.getWords(), xpIn.getUsed());
  longvCopyResize(b.ptr(), 32, xqIn.getWords(), xqIn.getUsed());
  const unsigned int bits = ep.getBitLength() > eq.getBitLength() ? ep.getBitLength()
                                                                  : eq.getBitLength();
  if (!longvModExp1024x2(outP.ptr(), a.ptr(), ep.getWords(), ep.getUsed(), p.getWords(),
                         outQ.ptr(), b.ptr(), eq.getWords(), eq.getUsed(), q.getWords(),
                         windowSize(bits)))
    return false;
  xp = LvN(outP);
  xq = LvN(outQ);
  return true;
}

}  // namespace

LvZn pow(const LvZn& x, unsigned int e) {
  if (x.getModulus() == nullptr)
    LV_THROW(LvNotInitException, "Uninitialised modulus pointer or modulus equel zero.",
             "LvZn pow(const LvZn &x, unsigned int e)", ZN_EXP_FILE);
  if (e == 0) return LvZn(1, x.getModulus());
  LvZn r(x);
  unsigned int top = 31;
  while (((e >> top) & 1u) == 0) --top;
  for (unsigned int i = top; i-- > 0;) {
    r *= r;
    if ((e >> i) & 1u) r *= x;
  }
  return r;
}

LvZn pow(const LvZn& x, const LvN& e) {
  const LvModulus* m = x.getModulus();
  if (m == nullptr)
    LV_THROW(LvNotInitException, "Uninitialised modulus pointer or modulus equel zero.",
             "LvZn pow(const LvZn &x, const LvN &e)", ZN_EXP_FILE);
  if (e.getBitLength() <= 32) return pow(x, e.getLowWord());
  LvWord flags = m->getFlags();
  if ((flags & LvModulus::FLAG_CRT) == LvModulus::FLAG_CRT && m->getCrtP() != nullptr &&
      m->getCrtQ() != nullptr) {
    const LvModulus& p = *m->getCrtP();
    const LvModulus& q = *m->getCrtQ();
    LvN xn = x.getN();
    LvN eq = reducedExponent(e, q), ep = reducedExponent(e, p);
    LvN xq, xp;
    if (!crtHalvesSideBySide(xn, p, ep, q, eq, xp, xq)) {
      xq = powWindow(LvZn(xn, &q), eq).getN();
      xp = powWindow(LvZn(xn, &p), ep).getN();
    }
    if (xp < xq) xp += p * (xq / p + 1u);
    LvN h = ((xp - xq) * m->getCrtC()) % p;
    return LvZn(xq + q * h, m);
  }
  if ((flags & LvModulus::FLAG_FACTORS) == LvModulus::FLAG_FACTORS && m->getFactorCount() > 1) {
    // The factors are not known to be prime, so the exponent is not reduced.
    unsigned int n = m->getFactorCount();
    std::vector<LvModulus> moduli;
    moduli.reserve(n);
    for (unsigned int i = 0; i < n; ++i)
      moduli.emplace_back(m->getFactors()[i].pow(m->getExponents()[i]), LvModulus::OPT_MONT);
    std::vector<LvZn> parts;
    parts.reserve(n);
    LvN xn = x.getN();
    for (unsigned int i = 0; i < n; ++i) parts.push_back(powWindow(LvZn(xn, &moduli[i]), e));
    return LvZn(crtCombine(parts.data(), n), m);
  }
  return powWindow(x, e);
}
