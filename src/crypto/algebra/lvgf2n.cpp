// Elements of GF(2^m): binding to a field, loading and writing, and the
// arithmetic operators over the field's kernels (all in the element's own
// work areas, so nothing is allocated per operation).
#include "crypto/algebra/lvgf2n.h"

#define GF2N_CONV_SRC "lvalgebra/lvgf2n/gf2n_conv"
#define GF2N_DIV_SRC "lvalgebra/lvgf2n/gf2n_div"
#define GF2N_SRC "lvalgebra/lvgf2n/lvgf2n"

LvGF2n::LvGF2n() : field(nullptr), val(), n(0), mulWork(), invWork() {}

LvGF2n::LvGF2n(const LvGF2nField* f) : LvGF2n() { setField(f); }

LvGF2n::LvGF2n(const LvOctet* oct, unsigned int len, const LvGF2nField* f) : LvGF2n() {
  setField(f);
  set(oct, len);
}

LvGF2n::LvGF2n(const char* hex, const LvGF2nField* f) : LvGF2n() {
  setField(f);
  set(hex);
}

LvGF2n::LvGF2n(const LvWordMem& w, const LvGF2nField* f) : LvGF2n() {
  setField(f);
  setWords(w.ptr(), w.getCount());
}

LvGF2n::LvGF2n(const LvGF2n& o)
    : field(o.field), val(o.val), n(o.n), mulWork(o.mulWork), invWork(o.invWork) {}

LvGF2n& LvGF2n::operator=(const LvGF2n& o) {
  if (this == &o) return *this;
  if (field == o.field && n == o.n && field) {
    // same field: the work areas already fit, copy the value only
    for (unsigned int i = 0; i < n; i++) val.ptr()[i] = o.val.ptr()[i];
    return *this;
  }
  field = o.field;
  n = o.n;
  val = o.val;
  mulWork = o.mulWork;
  invWork = o.invWork;
  return *this;
}

LvGF2n::~LvGF2n() {}

void LvGF2n::setField(const LvGF2nField* f) {
  field = (f && !f->isEmpty()) ? f : nullptr;
  n = field ? field->getWords() : 0;
  val = LvWordMem(n);
  if (!field) {
    mulWork = LvWordMem();
    invWork = LvWordMem();
    return;
  }
  mulWork = LvWordMem(lvGF2nMulWorkWords(n));
  invWork = LvWordMem(5 * n + 2);
  field->initMulWork(mulWork.ptr());
  field->initInvWork(invWork.ptr());
}

unsigned int LvGF2n::getDegree() const { return field ? field->getDegree() : 0; }

void LvGF2n::prepareWork() {
  if (!field)
    LV_THROW(LvNotInitException, "Uninitialised field.", "LvGF2n::prepareWork()", GF2N_SRC);
}

void LvGF2n::checkSameField(const LvGF2n& b) const {
  if (!field || !b.field)
    LV_THROW(LvNotInitException, "Uninitialised field.",
             "void LvGF2n::checkSameField(const LvGF2n &b) const", GF2N_SRC);
  if (field != b.field && *field != *b.field)
    LV_THROW(LvArgumentRangeException, "Elements of different fields.",
             "void LvGF2n::checkSameField(const LvGF2n &b) const", GF2N_SRC);
}

void LvGF2n::setWords(const LvWord* w, unsigned int count) {
  prepareWork();
  LvWord* v = val.ptr();
  for (unsigned int i = 0; i < n; i++) v[i] = i < count ? w[i] : 0;
  // Bits at m and above are not part of a field element: the kernels would
  // not reduce them.
  const unsigned int m = field->getDegree();
  v[n - 1] &= (static_cast<LvWord>(1) << (m % 32)) - 1;
}

void LvGF2n::set(const LvN& a) { setWords(a.getWords(), a.getUsed()); }

void LvGF2n::set(const LvOctet* oct, unsigned int len) {
  prepareWork();
  LvWord* v = val.ptr();
  for (unsigned int i = 0; i < n; i++) v[i] = 0;
  for (unsigned int i = 0; i < len && i / 4 < n; i++)
    v[i / 4] |= static_cast<LvWord>(oct[len - 1 - i]) << (8 * (i % 4));
  const unsigned int m = field->getDegree();
  v[n - 1] &= (static_cast<LvWord>(1) << (m % 32)) - 1;
}

void LvGF2n::set(const char* hex) {
  const LvConvOS o(hex);
  set(o.ptr(), o.getLength());
}

void LvGF2n::setZero() {
  prepareWork();
  for (unsigned int i = 0; i < n; i++) val.ptr()[i] = 0;
}

void LvGF2n::setOne() {
  setZero();
  val.ptr()[0] = 1;
}

unsigned int LvGF2n::asOctetString(LvOctet* oct, unsigned int octLen) const {
  const unsigned int len = (getDegree() + 7) / 8;
  if (octLen < len)
    LV_THROW(LvArgumentRangeException, "Too small output buffer (LvOctet *oct).",
             "unsigned int LvGF2n::asOctetString(LvOctet *oct, unsigned int octLen) const",
             GF2N_CONV_SRC);
  for (unsigned int i = 0; i < len; i++) {
    const unsigned int bit = 8 * i;
    oct[len - 1 - i] = static_cast<LvOctet>(val.ptr()[bit / 32] >> (bit % 32));
  }
  return len;
}

LvN LvGF2n::asLvN() const {
  if (n == 0) return LvN(0u, 1);
  return LvN(val.ptr(), n);
}

bool LvGF2n::isZero() const {
  for (unsigned int i = 0; i < n; i++)
    if (val.ptr()[i]) return false;
  return true;
}

bool LvGF2n::isOne() const { return *this == static_cast<LvWord>(1); }

bool LvGF2n::operator==(const LvGF2n& b) const {
  if (n != b.n) return false;
  for (unsigned int i = 0; i < n; i++)
    if (val.ptr()[i] != b.val.ptr()[i]) return false;
  return true;
}

bool LvGF2n::operator==(LvWord w) const {
  if (n == 0) return w == 0;
  if (val.ptr()[0] != w) return false;
  for (unsigned int i = 1; i < n; i++)
    if (val.ptr()[i]) return false;
  return true;
}

LvGF2n& LvGF2n::operator+=(const LvGF2n& b) {
  checkSameField(b);
  field->add(val.ptr(), b.val.ptr(), n);
  return *this;
}

void LvGF2n::mulInto(const LvWord* a, const LvWord* b) {
  LvWord* w = mulWork.ptr() + GF2N_MUL_F;
  for (unsigned int i = 0; i < n; i++) {
    w[n + i] = a[i];
    w[2 * n + i] = b[i];
  }
  field->multiply(mulWork.ptr());
  for (unsigned int i = 0; i < n; i++) val.ptr()[i] = w[3 * n + i];
}

LvGF2n& LvGF2n::operator*=(const LvGF2n& b) {
  checkSameField(b);
  mulInto(val.ptr(), b.val.ptr());
  return *this;
}

LvGF2n& LvGF2n::square() {
  prepareWork();
  mulInto(val.ptr(), val.ptr());
  return *this;
}

void LvGF2n::setProduct(const LvGF2n& a, const LvGF2n& b) {
  a.checkSameField(b);
  if (field != a.field) {
    // Rebinding replaces this value, which may be one of the operands.
    const LvGF2n ta(a), tb(b);
    setField(ta.field);
    mulInto(ta.val.ptr(), tb.val.ptr());
    return;
  }
  mulInto(a.val.ptr(), b.val.ptr());
}

void LvGF2n::setSquare(const LvGF2n& a) { setProduct(a, a); }

LvGF2n& LvGF2n::invert() {
  prepareWork();
  if (isZero())
    LV_THROW(LvDivByZeroException, "Division by zero.", "LvGF2n& LvGF2n::invert()", GF2N_DIV_SRC);
  LvWord* w = invWork.ptr() + GF2N_INV_F;
  const LvWord* f = w;
  for (unsigned int i = 0; i < n; i++) {
    w[n + i] = f[i];
    w[2 * n + i] = val.ptr()[i];
    w[3 * n + i] = 0;
    w[4 * n + i] = 0;
  }
  w[4 * n] = 1;
  field->invert(invWork.ptr());
  bool zero = true;
  for (unsigned int i = 0; i < n; i++) {
    val.ptr()[i] = w[n + i];
    if (w[n + i]) zero = false;
  }
  // Only a polynomial that is not irreducible leaves no inverse; the field
  // refuses those, so this guards against a damaged work area.
  if (zero)
    LV_THROW(LvCriticalException, "There is no inverse in this field.", "LvGF2n& LvGF2n::invert()",
             GF2N_DIV_SRC);
  return *this;
}

void LvGF2n::setQuotient(const LvGF2n& a, const LvGF2n& b) {
  a.checkSameField(b);
  if (b.isZero())
    LV_THROW(LvDivByZeroException, "Division by zero.",
             "LvGF2n& LvGF2n::operator /=(const LvGF2n &gf2n)", GF2N_DIV_SRC);
  if (field != a.field) {
    // Rebinding replaces this value, which may be one of the operands.
    const LvGF2n ta(a), tb(b);
    setField(ta.field);
    setQuotient(ta, tb);
    return;
  }
  LvWord* w = invWork.ptr() + GF2N_INV_F;
  for (unsigned int i = 0; i < n; i++) {
    w[n + i] = w[i];
    w[2 * n + i] = b.val.ptr()[i];
    w[3 * n + i] = 0;
    w[4 * n + i] = 0;
  }
  w[4 * n] = 1;
  field->invert(invWork.ptr());
  bool zero = true;
  for (unsigned int i = 0; i < n; i++)
    if (w[n + i]) zero = false;
  if (zero)
    LV_THROW(LvCriticalException, "There is no inverse in this field.",
             "LvGF2n& LvGF2n::operator /=(const LvGF2n &gf2n)", GF2N_DIV_SRC);
  // the inverse stays in the u slot of the invert area while a is multiplied
  mulInto(a.val.ptr(), w + n);
}

LvGF2n& LvGF2n::operator/=(const LvGF2n& b) {
  setQuotient(*this, b);
  return *this;
}

LvGF2n operator+(const LvGF2n& a, const LvGF2n& b) {
  LvGF2n r(a);
  r += b;
  return r;
}

LvGF2n operator*(const LvGF2n& a, const LvGF2n& b) {
  LvGF2n r(a);
  r *= b;
  return r;
}

LvGF2n operator/(const LvGF2n& a, const LvGF2n& b) {
  LvGF2n r(a);
  r /= b;
  return r;
}
