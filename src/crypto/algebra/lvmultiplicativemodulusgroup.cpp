// Multiplicative group modulo p (see lvmultiplicativemodulusgroup.h).
#include "crypto/algebra/lvmultiplicativemodulusgroup.h"

#include <memory>

#define MMG_SRC "lvalgebra/lvnumbers/lvmultiplicativemodulusgroup"

LvMultiplicativeModulusGroup::LvMultiplicativeModulusGroup() : LvModulus(), LvAbelianGroup() {}

LvMultiplicativeModulusGroup::LvMultiplicativeModulusGroup(const LvN& p, int options)
    : LvModulus(p, options), LvAbelianGroup() {}

LvMultiplicativeModulusGroup::LvMultiplicativeModulusGroup(const char* text, int options)
    : LvModulus(text, options), LvAbelianGroup() {}

LvMultiplicativeModulusGroup::LvMultiplicativeModulusGroup(const LvWordMem& w, int options)
    : LvModulus(w, options), LvAbelianGroup() {}

LvMultiplicativeModulusGroup::LvMultiplicativeModulusGroup(const LvMultiplicativeModulusGroup& g)
    : LvModulus(g), LvAbelianGroup() {}

LvMultiplicativeModulusGroup& LvMultiplicativeModulusGroup::operator=(
    const LvMultiplicativeModulusGroup& g) {
  if (this != &g) LvModulus::operator=(g);
  return *this;
}

LvMultiplicativeModulusGroup::~LvMultiplicativeModulusGroup() {}

namespace {
inline LvZn* zn(LvGroupElem* e) { return static_cast<LvZn*>(e); }
inline const LvZn* zn(const LvGroupElem* e) { return static_cast<const LvZn*>(e); }
}  // namespace

void LvMultiplicativeModulusGroup::set(LvGroupElem* r, const LvOctet* oct, unsigned int len) const {
  *zn(r) = LvZn(oct, len, 0, this);
}

void LvMultiplicativeModulusGroup::assign(LvGroupElem* r, const LvGroupElem* a) const {
  if (!a) *zn(r) = LvZn(1, this);
  else *zn(r) = *zn(a);
}

void LvMultiplicativeModulusGroup::mul(LvGroupElem* r, const LvN& k, const LvGroupElem* a) const {
  // a power: the residue exponentiation's window method
  LvZn base = a ? *zn(a) : LvZn(1, this);
  *zn(r) = ::pow(base, k);
}

LvGroupElem* LvMultiplicativeModulusGroup::createNew(const LvOctet* oct, unsigned int len) const {
  return new LvZn(oct, len, 0, this);
}

LvGroupElem* LvMultiplicativeModulusGroup::createCopy(const LvGroupElem* a) const {
  if (!a) return new LvZn(1, this);
  return new LvZn(*zn(a));
}

void LvMultiplicativeModulusGroup::addInPlace(LvGroupElem* r, const LvGroupElem* b) const {
  *zn(r) *= *zn(b);
}

void LvMultiplicativeModulusGroup::doubleInPlace(LvGroupElem* r) const { *zn(r) *= *zn(r); }

void LvMultiplicativeModulusGroup::negateInPlace(LvGroupElem* r) const { *zn(r) = 1 / *zn(r); }

void LvMultiplicativeModulusGroup::subtractInPlace(LvGroupElem* r, const LvGroupElem* b) const {
  *zn(r) /= *zn(b);
}

bool LvMultiplicativeModulusGroup::isEqual(const LvGroupElem* a, const LvGroupElem* b) const {
  if (a == b) return true;
  return *zn(a) == *zn(b);
}

bool LvMultiplicativeModulusGroup::isElement(const LvGroupElem* a) const { return !zn(a)->isZero(); }

unsigned int LvMultiplicativeModulusGroup::getOctetStringEncodingLen(const LvGroupElem* g) const {
  if (!g)
    LV_THROW(LvNotInitException, "Not initialised element (const LvGroupElem *g).",
             "unsigned int LvMultiplicativeModulusGroup::getOctetStringEncodingLen(const "
             "LvGroupElem *g) const",
             MMG_SRC);
  return zn(g)->getN().getOctetLength();
}

unsigned int LvMultiplicativeModulusGroup::asOctetString(const LvGroupElem* g, LvOctet* oct,
                                                         unsigned int len) const {
  if (!g)
    LV_THROW(LvNotInitException, "Not initialised element (const LvGroupElem *g).",
             "unsigned int LvMultiplicativeModulusGroup::asOctetString(const LvGroupElem *g, "
             "LvOctet *oct, unsigned int len) const",
             MMG_SRC);
  return zn(g)->getN().getOctets(oct, len);
}

LvConvOS LvMultiplicativeModulusGroup::asDhSecret(const LvGroupElem* g) const {
  const unsigned int k = getOctetLength();
  LvOctMem buf(k);
  zn(g)->getN().getOctets(buf.ptr(), k, 1);
  return LvConvOS(buf.ptr(), k);
}

LvN LvMultiplicativeModulusGroup::asLvN(const LvGroupElem* g) const { return zn(g)->getN(); }

LvN computeGenerator(const LvN& p, const LvN& q) {
  const LvN e = (p - 1u) / q;
  const LvModulus mod(p, 9);
  // h stays below p: with q not dividing p - 1 (e = 0) every power is 1
  for (LvWord h = 2; h < 0x10000 && h < p; h++) {
    LvZn g = pow(LvZn(static_cast<int>(h), &mod), e);
    if (g != 1) return g.getN();
  }
  LV_THROW(LvArgumentRangeException, "There is no generator of the subgroup of order q.",
           "LvN computeGenerator(const LvN &p, const LvN &q)", MMG_SRC);
}
