// Elliptic curve y² + x·y = x³ + a·x² + b over GF(2^m). Points are affine
// with a separate flag for the point at infinity (the neutral element).
#pragma once

#include "crypto/algebra/lvabstractalgebra.h"
#include "crypto/algebra/lvgf2n.h"

class LvE2n;

class LvE2nPoint : public LvGroupElem {
 public:
  // The neutral point of the curve.
  explicit LvE2nPoint(const LvE2n* curve);
  LvE2nPoint(const LvE2nPoint& P);
  // Curve, x, y and the infinity flag.
  LvE2nPoint& operator=(const LvE2nPoint& P);
  ~LvE2nPoint() override;

  bool isInfinity() const { return infinity != 0; }
  const LvE2n* getCurve() const { return curve; }
  const LvGF2n& getX() const { return x; }
  const LvGF2n& getY() const { return y; }

 private:
  friend class LvE2n;
  const LvE2n* curve;
  LvGF2n x, y;
  LvOctet infinity;
  // Work elements of the point formulas.
  LvGF2n w1, w2, w3;
};

class LvE2n : public LvAbelianGroup {
 public:
  LvE2n();
  // The field from the polynomial octets (refused unless irreducible), then a
  // and b from octets; coefficients of m bits or more are refused.
  LvE2n(const LvOctet* a, unsigned int aLen, const LvOctet* b, unsigned int bLen,
        const LvOctet* f, unsigned int fLen);
  LvE2n(const LvE2n& e);
  // Copies the field and rebuilds a and b in this curve's own field.
  LvE2n& operator=(const LvE2n& e);
  ~LvE2n() override;

  void set(LvGroupElem* r, const LvOctet* oct, unsigned int len) const override;
  void assign(LvGroupElem* r, const LvGroupElem* a) const override;
  LvGroupElem* createNew(const LvOctet* oct, unsigned int len) const override;
  LvGroupElem* createCopy(const LvGroupElem* a) const override;
  // Scalar multiplications in Lopez-Dahab coordinates (one inversion at the
  // end instead of one per step), over a window of affine multiples.
  void mul(LvGroupElem* r, const LvN& k, const LvGroupElem* a) const override;
  void mul2(LvGroupElem* r, const LvN& k1, const LvGroupElem* a, const LvN& k2,
            const LvGroupElem* b) const override;
  // Montgomery's ladder on x and z only (Lopez-Dahab) over a scalar made
  // of fixed length (k + n or k + 2n), with branch-free field arithmetic and a
  // Fermat inversion at the end: time and memory access independent of k.
  std::vector<LvWord> mulSecretX(const LvWord* k, unsigned int kWords, const LvN& order,
                                 const LvGroupElem* a) const override;
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

  const LvGF2nField& getField() const { return field; }
  const LvGF2n& getA() const { return a; }
  const LvGF2n& getB() const { return b; }
  // Octets of one coordinate: ceil(m/8).
  unsigned int getFieldOctets() const { return (field.getDegree() + 7) / 8; }

 private:
  void makeNeutral(LvE2nPoint* P) const;
  // The common end of addition and doubling: y := lambda·(x + x3) + x3 + y,
  // x := x3 (t is scratch).
  void finishStep(LvE2nPoint* P, const LvGF2n& l, const LvGF2n& x3, LvGF2n& t) const;

  LvGF2nField field;
  LvGF2n a, b;
  LvN aux;
};
