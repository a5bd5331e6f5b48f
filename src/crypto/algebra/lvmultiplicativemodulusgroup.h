// The multiplicative group of residues modulo p behind the group interface:
// "add" is multiplication modulo p, "double" squaring, "negate" inversion, a
// scalar multiple a power and the neutral element 1. The object is at once the
// modulus of its elements (LvZn residues) and their group.
#pragma once

#include "crypto/algebra/lvabstractalgebra.h"

class LvMultiplicativeModulusGroup : public LvModulus, public LvAbelianGroup {
 public:
  LvMultiplicativeModulusGroup();
  LvMultiplicativeModulusGroup(const LvN& p, int options);
  LvMultiplicativeModulusGroup(const char* text, int options);
  LvMultiplicativeModulusGroup(const LvWordMem& w, int options);
  LvMultiplicativeModulusGroup(const LvMultiplicativeModulusGroup& g);
  LvMultiplicativeModulusGroup& operator=(const LvMultiplicativeModulusGroup& g);
  ~LvMultiplicativeModulusGroup() override;

  void set(LvGroupElem* r, const LvOctet* oct, unsigned int len) const override;
  void assign(LvGroupElem* r, const LvGroupElem* a) const override;
  void mul(LvGroupElem* r, const LvN& k, const LvGroupElem* a) const override;
  LvGroupElem* createNew(const LvOctet* oct, unsigned int len) const override;
  LvGroupElem* createCopy(const LvGroupElem* a) const override;
  void addInPlace(LvGroupElem* r, const LvGroupElem* b) const override;
  void doubleInPlace(LvGroupElem* r) const override;
  void negateInPlace(LvGroupElem* r) const override;
  void subtractInPlace(LvGroupElem* r, const LvGroupElem* b) const override;
  bool isEqual(const LvGroupElem* a, const LvGroupElem* b) const override;
  bool isElement(const LvGroupElem* a) const override;
  unsigned int getOctetStringEncodingLen(const LvGroupElem* g) const override;
  unsigned int asOctetString(const LvGroupElem* g, LvOctet* oct, unsigned int len) const override;
  LvConvOS asDhSecret(const LvGroupElem* g) const override;
  LvN asLvN(const LvGroupElem* g) const override;
};

// Generator of the order-q subgroup of GF(p)*: h^((p-1)/q) mod p for the first
// h = 2, 3, ... that does not give 1 (FIPS 186-3 A.2.1).
LvN computeGenerator(const LvN& p, const LvN& q);
