// Natural numbers: construction, conversion, arithmetic and comparison.
#include <cstring>
#include <new>

#include "crypto/algebra/lvnumbers.h"
#include "crypto/basic/lvsecret.h"
#include "crypto/rbg/lvrbg.h"

#define N_FILE "lvalgebra\\lvnumbers\\n_arith.cpp"
#define N_CONV_FILE "lvalgebra\\lvnumbers\\n_conv.cpp"

namespace {

// Bound on redrawing a random number below a limit: a sound generator fails
// this many times in a row with probability below 2^-256.
const unsigned int kMaxRandomDraws = 512;

}  // namespace

// ---------------------------------------------------------------------------
// Construction
// ---------------------------------------------------------------------------

LvN::LvN(const LvN& a) : v(a.used), used(a.used) { longvCopy(v.ptr(), a.v.ptr(), used); }

LvN::LvN(const LvOctet* oct, unsigned int len, int noValue)
    : v(noValue != 0 || len == 0 ? 1u : 0u), used(1) {
  if (noValue != 0 || len == 0) return;
  set(oct, len);
}

LvN::LvN(const char* text) : v(1), used(1) {
  if (text == nullptr || text[0] == 0) return;
  size_t len = std::strlen(text);
  if (len > 0x0FFFFFFFu)
    LV_THROW(LvArgumentRangeException, "Text of the number is too long.", "LvN::LvN(const char *)",
             N_CONV_FILE);
  if (text[0] != '0') {
    LvWordMem w(static_cast<unsigned int>((len * 4) / 32 + 1));
    used = longvFromDecimal(w.ptr(), text);
    v.swap(w);
  } else if (text[1] == 0) {
    return;
  } else if (text[1] == 'x') {
    LvWordMem w(static_cast<unsigned int>((len * 4) / 32 + 1));
    used = longvFromHex(w.ptr(), text + 2);
    v.swap(w);
  } else {
    LvWordMem w(static_cast<unsigned int>((len * 3) / 32 + 1));
    used = longvFromOctal(w.ptr(), text + 1);
    v.swap(w);
  }
}

LvN::LvN(LvWord value, LvWordLen words) : v(words == 0 ? 1 : words), used(words == 0 ? 1 : words) {
  v.ptr()[0] = value;
}

LvN::LvN(const LvWord* w, LvWordLen n) : v(1), used(1) {
  if (w == nullptr || n == 0) return;
  n = effectiveLength(w, n);
  v = LvWordMem(n);
  longvCopy(v.ptr(), w, n);
  used = n;
}

LvN::LvN(const LvWordMem& w) : v(1), used(1) {
  if (w.getCount() == 0) return;
  v = w;
  used = effectiveLength(v.ptr(), v.getCount());
}

void LvN::trim() { used = effectiveLength(v.ptr(), used); }

LvWordLen LvN::capacity() const { return v.getCount(); }

void LvN::grow(LvWordLen n) {
  if (n > v.getCount()) v.resize(n);
  // Words above the used length are kept zero, so growing only clears them.
  if (n > used) longvZeroize(v.ptr() + used, n - used);
}

// ---------------------------------------------------------------------------
// Conversions and accessors
// ---------------------------------------------------------------------------

LvWord& LvN::operator[](unsigned int i) {
  if (i >= used)
    LV_THROW(LvAccessException, "To large index.", "LvWord& LvN::operator [](unsigned int i)",
             N_FILE);
  return v.ptr()[i];
}

LvWord LvN::operator[](unsigned int i) const {
  if (i >= used)
    LV_THROW(LvAccessException, "To large index.", "LvWord& LvN::operator [](unsigned int i)",
             N_FILE);
  return v.ptr()[i];
}

LvN LvN::fromSecretWords(const LvWord* w, LvWordLen n) {
  LvN r;
  if (w == nullptr || n == 0) return r;
  r.v = LvWordMem(n);
  longvCopy(r.v.ptr(), w, n);
  r.used = longvCtSigLen(w, n);
  return r;
}

bool isZeroSecret(const LvN& a) {
  LvWord any = 0;
  const LvWord* w = a.getWords();
  for (LvWordLen i = 0; i < a.getUsed(); ++i) any |= w[i];
  any = ~longvCtEqMask(any, 0) & 1u;
  lvDeclassify(&any, sizeof any);
  return any == 0;
}

bool LvN::operator|(const LvN& b) const {
  if (isZero()) {
    if (b.isZero()) return true;
    LV_THROW(LvDivByZeroException, "Division by zero.", "LvN::operator|",
             "lvalgebra\\lvnumbers\\n_divisibility.cpp");
  }
  return (b % *this).isZero();
}

unsigned int LvN::getOctets(LvOctet* oct, unsigned int len) const {
  unsigned int l = getOctetLength();
  if (l == 0) l = 1;
  if (l > len || oct == nullptr) return 0;
  return getOctets(oct, l, 1);
}

unsigned int LvN::getOctets(LvOctet* oct, unsigned int len, int /*pad*/) const {
  unsigned int l = getOctetLength();
  if (l > len)
    LV_THROW(LvArgumentRangeException, "Number does not fit in the buffer.",
             "unsigned int LvN::getOctets(LvOctet *oct, unsigned int len, int pad)", N_CONV_FILE);
  if (len == 0) return 0;
  if (oct == nullptr)
    LV_THROW(LvArgumentRangeException, "Null output buffer.",
             "unsigned int LvN::getOctets(LvOctet *oct, unsigned int len, int pad)", N_CONV_FILE);
  const LvWord* w = v.ptr();
  for (unsigned int i = 0; i < len; ++i) {
    unsigned int wi = i / 4;
    oct[len - 1 - i] = wi < used ? static_cast<LvOctet>(w[wi] >> (8 * (i % 4))) : 0;
  }
  return len;
}

void LvN::set(const LvOctet* oct, unsigned int len) {
  if (len == 0) {
    *this = 0u;
    return;
  }
  setOctets(oct, len, false);
}

void LvN::nullSource() {
  LV_THROW(LvArgumentRangeException, "Null source buffer.",
           "void LvN::set(const LvOctet *oct, unsigned int len)", N_CONV_FILE);
}

void LvN::setOctets(const LvOctet* oct, unsigned int len, bool publicValue) {
  LvWordMem w(sourceOctets(oct), len, true);
  v.swap(w);
  used = octetsLength(publicValue);
}

LvConvASCII LvN::toString() const {
  size_t size = (static_cast<size_t>(used) * 32) / 3 + 2;
  char* buf = new (std::nothrow) char[size];
  if (buf == nullptr) throw LvMemException(static_cast<std::uint32_t>(size), N_CONV_FILE, "28");
  longvToOctal(buf, v.ptr(), used);
  lvOctalToDecimal(buf);
  LvConvASCII text(buf);
  lvWipe(buf, size);
  delete[] buf;
  return text;
}

void LvN::toNaf(int* digits) const {
  LvN k(*this);
  unsigned int i = 0;
  while (!k.isZero()) {
    if (!k.isEven()) {
      int d = 2 - static_cast<int>(k.getLowWord() & 3u);
      digits[i] = d;
      if (d == 1)
        --k;
      else
        ++k;
    } else {
      digits[i] = 0;
    }
    k >>= 1;
    ++i;
  }
}

// ---------------------------------------------------------------------------
// Assignment and arithmetic
// ---------------------------------------------------------------------------

LvN& LvN::operator=(const LvN& a) {
  if (this == &a) return *this;
  if (v.getCount() < a.used) {
    LvWordMem w(a.used);
    v = w;
  } else {
    longvZeroize(v.ptr(), v.getCount());
  }
  longvCopy(v.ptr(), a.v.ptr(), a.used);
  used = a.used;
  return *this;
}

LvN& LvN::operator=(LvWord w) {
  longvZeroize(v.ptr(), v.getCount());
  v.ptr()[0] = w;
  used = 1;
  return *this;
}

LvN& LvN::operator+=(const LvN& b) {
  LvWordLen bu = effectiveLength(b.v.ptr(), b.used);
  LvWordLen n = used > bu ? used : bu;
  if (this == &b) {
    LvN copy(b);
    return *this += copy;
  }
  grow(n + 1);
  LvWord carry = longvAddLong(v.ptr(), n, b.v.ptr(), bu, 0);
  v.ptr()[n] = carry;
  used = n + 1;
  trim();
  return *this;
}

LvN& LvN::operator+=(LvWord w) {
  grow(used + 1);
  LvWord carry = longvAddLong(v.ptr(), used, &w, 1, 0);
  v.ptr()[used] = carry;
  ++used;
  trim();
  return *this;
}

LvN& LvN::operator++() { return *this += 1u; }

LvN& LvN::operator-=(const LvN& b) {
  if (*this < b)
    LV_THROW(LvRevException, "There is no proper subtraction result in natural numbers.",
             "LvN& LvN::operator -=(const LvN &b)", N_FILE);
  if (this == &b) return *this = 0u;
  LvWordLen bu = effectiveLength(b.v.ptr(), b.used);
  longvSubLong(v.ptr(), used, b.v.ptr(), bu, 0);
  trim();
  return *this;
}

LvN& LvN::operator-=(LvWord w) {
  if (*this < w)
    LV_THROW(LvRevException, "There is no proper subtraction result in natural numbers.",
             "LvN& LvN::operator -=(LvWord w)", N_FILE);
  longvSubLong(v.ptr(), used, &w, 1, 0);
  trim();
  return *this;
}

LvN& LvN::operator--() {
  if (isZero())
    LV_THROW(LvRevException, "Decrementation is not allowed, because number is equel 0.",
             "LvN& LvN::operator --()", N_FILE);
  longvDec(v.ptr(), used);
  trim();
  return *this;
}

LvN& LvN::operator*=(const LvN& b) {
  LvWordLen au = used, bu = effectiveLength(b.v.ptr(), b.used);
  LvWordMem r(au + bu);
  longvMul(r.ptr(), v.ptr(), au, b.v.ptr(), bu);
  v = r;
  used = au + bu;
  trim();
  return *this;
}

LvN& LvN::operator/=(const LvN& b) {
  if (b.isZero()) {
    if (isZero()) return *this;
    LV_THROW(LvDivByZeroException, "Division by zero.", "LvN& LvN::operator /=(const LvN &b)",
             N_FILE);
  }
  if (*this < b) return *this = 0u;
  LvN m(b);  // the kernel overwrites the dividend, which may be b itself
  LvWordLen mu = effectiveLength(m.v.ptr(), m.used);
  LvWordMem q(used - mu + 1);
  LvWordLen nq = 0;
  longvDivClassical(v.ptr(), used, m.v.ptr(), mu, q.ptr(), &nq);
  v = q;
  used = nq == 0 ? 1 : nq;
  trim();
  return *this;
}

LvN& LvN::operator%=(const LvN& b) {
  if (b.isZero())
    LV_THROW(LvDivByZeroException, "Division by zero.", "LvN& LvN::operator %=(const LvN &b)",
             N_FILE);
  if (*this < b) return *this;
  if (this == &b) return *this = 0u;
  longvModInPlace(v.ptr(), used, b.v.ptr(), effectiveLength(b.v.ptr(), b.used));
  trim();
  return *this;
}

LvN& LvN::operator<<=(unsigned int bits) {
  if (isZero() || bits == 0) return *this;
  LvWordLen add = bits / 32 + 1;
  if (add > 0x10000000u - used)
    LV_THROW(LvArgumentRangeException, "Shift is too large.",
             "LvN& LvN::operator <<=(unsigned int)", N_FILE);
  LvWordLen n = used + add;
  grow(n);
  longvShl(v.ptr(), n, bits);
  used = n;
  trim();
  return *this;
}

LvN& LvN::operator>>=(unsigned int bits) {
  if (bits / 32 >= used) return *this = 0u;
  longvShr(v.ptr(), used, bits);
  used -= bits / 32;
  trim();
  return *this;
}

LvN& LvN::random(unsigned int bits, LvRbg* rbg) {
  if (rbg == nullptr)
    LV_THROW(LvNotInitException, "There is no random bit generator.", "LvN::random", N_FILE);
  if (bits == 0) return *this = 0u;
  LvWordLen n = (bits + 31) / 32;
  LvWordMem w(n);
  rbg->getWords(w.ptr(), n);
  if (bits % 32 != 0) w.ptr()[n - 1] &= (1u << (bits % 32)) - 1;
  v = w;
  used = effectiveLength(v.ptr(), n);
  return *this;
}

LvN& LvN::randomBelow(const LvN& n, LvRbg* rbg) {
  if (n <= 1u) return *this = 0u;
  LvN limit(n);
  unsigned int bits = limit.getBitLength();
  for (unsigned int i = 0; i < kMaxRandomDraws; ++i) {
    random(bits, rbg);
    if (*this < limit) return *this;
  }
  LV_THROW(LvRbgCycleException, "There is cycle in random bit generator.", "LvN::randomBelow",
           N_FILE);
}

LvN& LvN::powInPlace(unsigned int e) {
  LvN b(*this);
  *this = 1u;
  while (e != 0) {
    if (e & 1u) *this *= b;
    e >>= 1;
    if (e != 0) b *= b;
  }
  return *this;
}

LvN LvN::pow(unsigned int e) const {
  LvN r(*this);
  r.powInPlace(e);
  return r;
}

// ---------------------------------------------------------------------------
// Binary operators and comparisons
// ---------------------------------------------------------------------------

LvN operator+(const LvN& a, const LvN& b) { LvN r(a); r += b; return r; }
LvN operator+(const LvN& a, LvWord w) { LvN r(a); r += w; return r; }
LvN operator-(const LvN& a, const LvN& b) { LvN r(a); r -= b; return r; }
LvN operator-(const LvN& a, LvWord w) { LvN r(a); r -= w; return r; }
LvN operator*(const LvN& a, const LvN& b) { LvN r(a); r *= b; return r; }
LvN operator/(const LvN& a, const LvN& b) { LvN r(a); r /= b; return r; }
LvN operator%(const LvN& a, const LvN& b) { LvN r(a); r %= b; return r; }
LvN operator<<(const LvN& a, unsigned int bits) { LvN r(a); r <<= bits; return r; }
LvN operator>>(const LvN& a, unsigned int bits) { LvN r(a); r >>= bits; return r; }

LvN operator*(LvWord w, const LvN& a) {
  LvN r(a);
  r *= LvN(w, 1);
  return r;
}

LvN operator/(const LvN& a, LvWord w) {
  LvN r(a);
  r /= LvN(w, 1);
  return r;
}

LvWord operator%(const LvN& a, LvWord w) {
  if (w == 0)
    LV_THROW(LvDivByZeroException, "Division by zero.", "LvWord operator %(const LvN &a, LvWord w)",
             N_FILE);
  std::uint64_t r = 0;
  const LvWord* x = a.getWords();
  for (LvWordLen i = a.getUsed(); i-- > 0;) r = ((r << 32) | x[i]) % w;
  return static_cast<LvWord>(r);
}

static int cmpN(const LvN& a, const LvN& b) {
  return longvCmpLen(a.getWords(), a.getUsed(), b.getWords(), b.getUsed());
}
static int cmpW(const LvN& a, LvWord w) { return longvCmpLen(a.getWords(), a.getUsed(), &w, 1); }

bool operator==(const LvN& a, const LvN& b) { return cmpN(a, b) == 0; }
bool operator!=(const LvN& a, const LvN& b) { return cmpN(a, b) != 0; }
bool operator<(const LvN& a, const LvN& b) { return cmpN(a, b) < 0; }
bool operator>(const LvN& a, const LvN& b) { return cmpN(a, b) > 0; }
bool operator>=(const LvN& a, const LvN& b) { return cmpN(a, b) >= 0; }
bool operator<=(const LvN& a, const LvN& b) { return cmpN(a, b) <= 0; }
bool operator==(const LvN& a, LvWord w) { return cmpW(a, w) == 0; }
bool operator!=(const LvN& a, LvWord w) { return cmpW(a, w) != 0; }
bool operator<(const LvN& a, LvWord w) { return cmpW(a, w) < 0; }
bool operator>(const LvN& a, LvWord w) { return cmpW(a, w) > 0; }
bool operator<=(const LvN& a, LvWord w) { return cmpW(a, w) <= 0; }
bool operator<(LvWord w, const LvN& a) { return cmpW(a, w) > 0; }

LvN gcd(const LvN& a, const LvN& b) {
  if (a.isZero()) return b;
  if (b.isZero()) return a;
  LvWordLen n = a.getUsed() < b.getUsed() ? a.getUsed() : b.getUsed();
  LvWordMem out(n);
  longvGcd(a.getWords(), a.getUsed(), b.getWords(), b.getUsed(), out.ptr(), n);
  return LvN(out);
}
