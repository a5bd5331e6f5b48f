// Residues modulo an LvModulus: arithmetic, inversion and exponentiation.
#include <new>
#include <utility>
#include <vector>

#include "crypto/algebra/lvnumbers.h"
#include "crypto/basic/lvnet.h"

#define ZN_FILE "lvalgebra\\lvnumbers\\zn_arith.cpp"
#define ZN_DIV_FILE "lvalgebra\\lvnumbers\\zn_div.cpp"
#define ZN_EXP_FILE "lvalgebra\\lvnumbers\\zn_exp.cpp"

LvGroupElem::~LvGroupElem() { group = nullptr; }
void LvGroupElem::setGroup(LvGroup* g) { group = g; }
LvGroup* LvGroupElem::getGroup() const { return group; }

namespace {

// A zero modulus fails as the reduction by it would (the value is reduced
// modulo m); only a missing one is uninitialised.
void needModulus(const LvModulus* m) {
  if (m == nullptr)
    LV_THROW(LvNotInitException, "Uninitialised modulus pointer or modulus equel zero.",
             "LvZn::LvZn", ZN_FILE);
  if (m->isZero())
    LV_THROW(LvDivByZeroException, "Division by zero.", "LvN& LvN::operator %=(const LvN &b)",
             "lvalgebra\\lvnumbers\\n_arith.cpp");
}

// The assignment's throw site: a fixed text, as the division kernels give (its file
// and line name the site callers know, not this source).
const char kZnAssignNotInit[] =
    "LIBRARY: libvorinpp\nEXCEPTION: LvNotInitException\nREASON: Uninitialised modulus pointer or "
    "modulus equel zero.\nFUNCTION: LvZn& LvZn::operator =(int a)\nFILE: "
    "lvalgebra/lvnumbers/zn_assign\nLINE: 50\n";

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
  // Assignment checks the modulus itself, before any reduction by it: a
  // missing and a zero one alike leave the residue as it was.
  if (mod == nullptr || mod->isZero()) {
    LvNotInitException e;
    e.setMessage(kZnAssignNotInit);
    throw e;
  }
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
  // Only the same object is squared: comparing the values would branch on them, and they
  // may be secret (a masking value, a private key times a public one).
  if (&b == this)
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

// k bits of an exponent of ne words from bit pos (0 beyond them); the position is public.
unsigned int exponentWindow(const LvWord* w, LvWordLen n, unsigned int pos, unsigned int k) {
  unsigned int wi = pos / 32, off = pos % 32;
  if (wi >= n) return 0;
  std::uint64_t x = w[wi] >> off;
  if (off + k > 32 && wi + 1 < n) x |= static_cast<std::uint64_t>(w[wi + 1]) << (32 - off);
  return static_cast<unsigned int>(x & ((1u << k) - 1));
}

// k bits of e starting at bit pos.
unsigned int exponentBits(const LvN& e, unsigned int pos, unsigned int k) {
  return exponentWindow(e.getWords(), e.getUsed(), pos, k);
}

}  // namespace

// p is odd (a Montgomery modulus), so p - 1 is p without bit 0.
LvWordMem crtExponentWords(const LvN& e, const LvModulus& p) {
  const LvWordLen k = p.getUsed();
  LvWordMem pm1(k), r(k);
  longvCopy(pm1.ptr(), p.getWords(), k);
  pm1.ptr()[0] &= ~1u;
  longvCtMod(r.ptr(), e.getWords(), e.getUsed(), pm1.ptr(), k);
  LvWord rAny = 0, eAny = 0;
  for (LvWordLen i = 0; i < k; ++i) rAny |= r.ptr()[i];
  for (LvWordLen i = 0; i < e.getUsed(); ++i) eAny |= e.getWords()[i];
  const LvWord mask = longvCtEqMask(rAny, 0) & ~longvCtEqMask(eAny, 0);
  for (LvWordLen i = 0; i < k; ++i) r.ptr()[i] |= pm1.ptr()[i] & mask;
  lvWipe(pm1.ptr(), k * sizeof(LvWord));
  return r;
}

namespace {

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
    if (longvModExp1024(out.ptr(), xw.ptr(), e.getWords(), e.getUsed(), m->getWords(),
                        m->getR2().ptr(), k))
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
    lvnet::tickOrThrow();
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

// Window width of the constant-time exponentiation for exponents of `bits` bits: a product
// for every window and a scan of the whole table per window make wider windows dearer than in
// the variable-time method.
unsigned int secretWindow(unsigned int bits) {
  if (bits >= 512) return 5;
  if (bits >= 128) return 4;
  return 3;
}

// A Montgomery modulus for the constant-time kernels: m itself when it is one, else a local
// copy prepared so (for a public modulus of another kind).
const LvModulus& montgomeryOf(const LvModulus& m, LvModulus& local) {
  if (m.getKind() == LvModulus::KIND_MONT) return m;
  if (m.isEven() || m.isZero())
    LV_THROW(LvArgumentRangeException, "Secret exponentiation needs an odd modulus.",
             "powSecret", ZN_EXP_FILE);
  local = LvModulus(LvN(m), LvModulus::OPT_MONT);
  return local;
}

// (x + y) mod m for x, y below m (k words), masked.
void addMod(LvWord* x, const LvWord* y, const LvWord* m, LvWordLen k) {
  const LvWord c = longvAdd(x, y, k, 0);
  longvCtCondSub(x, c, m, k);
}

}  // namespace

void reduceSecretWords(LvWord* out, const LvWord* x, LvWordLen nx, const LvModulus& mod) {
  LvModulus local;
  const LvModulus& m = montgomeryOf(mod, local);
  const LvWordLen k = m.getUsed();
  // Horner over k-word chunks in Montgomery form: acc R <- acc R * R + chunk R, where a
  // product with R^2 both brings a chunk in (chunk * R^2 / R) and moves the sum up by R.
  LvWordMem acc(k), t(2 * k), c(k);
  const LvWord* r2 = m.getR2().ptr();
  const LvWordLen chunks = nx == 0 ? 0 : (nx + k - 1) / k;
  for (LvWordLen i = chunks; i-- > 0;) {
    if (i + 1 < chunks) {
      m.mulWords(t.ptr(), acc.ptr(), r2);
      longvCopy(acc.ptr(), t.ptr(), k);
    }
    const LvWordLen take = nx - i * k < k ? nx - i * k : k;
    longvCopyResize(c.ptr(), k, x + static_cast<size_t>(i) * k, take);
    m.mulWords(t.ptr(), c.ptr(), r2);
    addMod(acc.ptr(), t.ptr(), m.getWords(), k);
  }
  longvFromMont(t.ptr(), acc.ptr(), m.getWords(), k);
  longvCopy(out, t.ptr(), k);
  lvWipe(t.ptr(), 2 * k * sizeof(LvWord));
  lvWipe(acc.ptr(), k * sizeof(LvWord));
  lvWipe(c.ptr(), k * sizeof(LvWord));
}

void powSecretWords(LvWord* out, const LvWord* x, const LvWord* e, LvWordLen ne,
                    const LvModulus& mod) {
  LvModulus local;
  const LvModulus& m = montgomeryOf(mod, local);
  const LvWordLen k = m.getUsed();
  const unsigned int w = secretWindow(32 * ne);
  if (k == 32 && longvModExp1024(out, x, e, ne, m.getWords(), m.getR2().ptr(), w)) return;
  const unsigned int entries = 1u << w;
  // Entry 0 is 1 (R in Montgomery form), entry i is x^i.
  // The accumulator and the product's work area trade places after every product instead of
  // copying the result back (a copy that reads the kernel's fresh stores stalls).
  LvWordMem table(static_cast<LvWordLen>(entries * k)), bufA(2 * k), bufB(2 * k), sel(k);
  LvWord* acc = bufA.ptr();
  LvWord* t = bufB.ptr();
  LvWord* tb = table.ptr();
  longvCopyResize(tb, k, m.getR().ptr(), m.getR().getCount());
  m.mulWords(t, x, m.getR2().ptr());
  longvCopy(tb + k, t, k);
  for (unsigned int i = 2; i < entries; ++i) {
    m.mulWords(t, tb + static_cast<size_t>(i - 1) * k, tb + k);
    longvCopy(tb + static_cast<size_t>(i) * k, t, k);
  }
  // At least one window, so that an empty exponent gives 1 (and the count cannot wrap).
  const unsigned int windows = ne == 0 ? 1 : (32 * ne + w - 1) / w;
  longvCtSelect(acc, tb, entries, k, exponentWindow(e, ne, (windows - 1) * w, w));
  for (unsigned int i = windows - 1; i-- > 0;) {
    for (unsigned int s = 0; s < w; ++s) {
      m.sqrWords(t, acc);
      std::swap(acc, t);
    }
    longvCtSelect(sel.ptr(), tb, entries, k, exponentWindow(e, ne, i * w, w));
    m.mulWords(t, acc, sel.ptr());
    std::swap(acc, t);
  }
  longvFromMont(t, acc, m.getWords(), k);
  longvCopy(out, t, k);
  lvWipe(tb, static_cast<size_t>(entries) * k * sizeof(LvWord));
  lvWipe(bufA.ptr(), 2 * k * sizeof(LvWord));
  lvWipe(bufB.ptr(), 2 * k * sizeof(LvWord));
  lvWipe(sel.ptr(), k * sizeof(LvWord));
}

void powSecretCrtWords(LvWord* out, LvWordLen nOut, const LvWord* x, LvWordLen nx,
                       const LvModulus& p, const LvWord* dP, LvWordLen ndP, const LvModulus& q,
                       const LvWord* dQ, LvWordLen ndQ, const LvWord* qInv) {
  if (p.getKind() != LvModulus::KIND_MONT || q.getKind() != LvModulus::KIND_MONT)
    LV_THROW(LvArgumentRangeException, "CRT halves need Montgomery moduli.", "powSecretCrt",
             ZN_EXP_FILE);
  const LvWordLen kp = p.getUsed(), kq = q.getUsed();
  LvWordMem xp(kp), xq(kq), yp(kp), yq(kq), t(2 * kp), prod(kp + kq);
  reduceSecretWords(xp.ptr(), x, nx, p);
  reduceSecretWords(xq.ptr(), x, nx, q);
  const unsigned int w = secretWindow(32 * (ndP > ndQ ? ndP : ndQ));
  if (!(kp == 32 && kq == 32 &&
        longvModExp1024x2(yp.ptr(), xp.ptr(), dP, ndP, p.getWords(), p.getR2().ptr(), yq.ptr(),
                          xq.ptr(), dQ, ndQ, q.getWords(), q.getR2().ptr(), w))) {
    powSecretWords(yp.ptr(), xp.ptr(), dP, ndP, p);
    powSecretWords(yq.ptr(), xq.ptr(), dQ, ndQ, q);
  }
  // h = qInv (yp - yq) mod p: yq brought below p, a masked modular difference, then two
  // Montgomery products (the second by R^2 undoes the first's R^-1).
  reduceSecretWords(xp.ptr(), yq.ptr(), kq, p);
  const LvWord borrow = longvSub(yp.ptr(), xp.ptr(), kp, 0);
  const LvWord mask = 0u - borrow;
  uint64_t c = 0;
  for (LvWordLen i = 0; i < kp; ++i) {
    c += static_cast<uint64_t>(yp.ptr()[i]) + (p.getWords()[i] & mask);
    yp.ptr()[i] = static_cast<LvWord>(c);
    c >>= 32;
  }
  p.mulWords(t.ptr(), yp.ptr(), qInv);
  longvCopy(yp.ptr(), t.ptr(), kp);
  p.mulWords(t.ptr(), yp.ptr(), p.getR2().ptr());
  // out = yq + q h, below n = p q.
  longvMul(prod.ptr(), q.getWords(), kq, t.ptr(), kp);
  c = 0;
  for (LvWordLen i = 0; i < kp + kq; ++i) {
    c += static_cast<uint64_t>(prod.ptr()[i]) + (i < kq ? yq.ptr()[i] : 0u);
    prod.ptr()[i] = static_cast<LvWord>(c);
    c >>= 32;
  }
  longvCopyResize(out, nOut, prod.ptr(), kp + kq);
  lvWipe(xp.ptr(), kp * sizeof(LvWord));
  lvWipe(yp.ptr(), kp * sizeof(LvWord));
  lvWipe(xq.ptr(), kq * sizeof(LvWord));
  lvWipe(yq.ptr(), kq * sizeof(LvWord));
  lvWipe(t.ptr(), 2 * kp * sizeof(LvWord));
  lvWipe(prod.ptr(), (kp + kq) * sizeof(LvWord));
}

LvZn powSecret(const LvZn& x, const LvN& e, unsigned int expBits) {
  const LvModulus* m = x.getModulus();
  if (m == nullptr)
    LV_THROW(LvNotInitException, "Uninitialised modulus pointer or modulus equel zero.",
             "LvZn powSecret(const LvZn &x, const LvN &e)", ZN_EXP_FILE);
  if (m->getKind() != LvModulus::KIND_MONT && m->isEven()) return pow(x, e);
  const LvWordLen k = m->getUsed();
  LvWordLen ne = (expBits + 31) / 32;
  if (ne < e.getUsed()) ne = e.getUsed();
  LvWordMem ew(ne), xw(k), out(k);
  longvCopyResize(ew.ptr(), ne, e.getWords(), e.getUsed());
  LvN xn;
  x.getN(xn);
  longvCopyResize(xw.ptr(), k, xn.getWords(), xn.getUsed());
  powSecretWords(out.ptr(), xw.ptr(), ew.ptr(), ne, *m);
  lvWipe(ew.ptr(), ne * sizeof(LvWord));
  lvWipe(xw.ptr(), k * sizeof(LvWord));
  return LvZn(out, m);
}

namespace {

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
    lvnet::tickOrThrow();
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
    // The halves run on the constant-time road, since an exponent that gains from the
    // factors is a private one.
    const LvModulus& p = *m->getCrtP();
    const LvModulus& q = *m->getCrtQ();
    LvWordMem ep = crtExponentWords(e, p), eq = crtExponentWords(e, q);
    LvWordMem qinv(p.getUsed()), out(p.getUsed() + q.getUsed());
    longvCopyResize(qinv.ptr(), p.getUsed(), m->getCrtC().getWords(), m->getCrtC().getUsed());
    LvN xn = x.getN();
    powSecretCrtWords(out.ptr(), out.getCount(), xn.getWords(), xn.getUsed(), p, ep.ptr(),
                      ep.getCount(), q, eq.ptr(), eq.getCount(), qinv.ptr());
    return LvZn(out, m);
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
