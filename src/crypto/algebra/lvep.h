// Elliptic curve y^2 = x^3 + a·x + b over GF(p) for any odd prime p, with the
// field arithmetic on residues (LvZn). Points are Jacobian: (X, Y, Z) stands
// for (X/Z^2, Y/Z^3); Z = 0 is the point at infinity, the neutral element.
#pragma once

#include <memory>
#include <vector>

#include "crypto/algebra/lvabstractalgebra.h"

namespace lvepfast {
class Curve;
class FixedBase;
class FixedTable;
}  // namespace lvepfast

class LvEp;

class LvEpPoint : public LvGroupElem {
 public:
  // The neutral point (1, 1, 0).
  explicit LvEpPoint(const LvEp* curve);
  // Affine (x mod p, y mod p, 1).
  LvEpPoint(const LvEp* curve, const LvN& x, const LvN& y);
  // From x and the parity of y (compressed form); LvWrongSyntaxException when
  // x^3 + a·x + b has no square root modulo p.
  LvEpPoint(const LvEp* curve, const LvN& x, int bit);
  LvEpPoint(const LvEpPoint& P);
  LvEpPoint& operator=(const LvEpPoint& P);
  ~LvEpPoint() override;

  // Value equality of two points of the same curve.
  bool operator==(const LvEpPoint& P) const;
  bool isInfinity() const { return Z.isZero(); }

  const LvEp* getCurve() const { return curve; }
  const LvZn& getX() const { return X; }
  const LvZn& getY() const { return Y; }
  const LvZn& getZ() const { return Z; }

 private:
  friend class LvEp;
  const LvEp* curve;
  LvZn X, Y, Z;
  // Table of multiples for fixed points (kept until the point changes hands).
  std::shared_ptr<lvepfast::FixedTable> fixed;
};

class LvEp : public LvAbelianGroup {
 public:
  LvEp();
  LvEp(const LvOctet* a, unsigned int aLen, const LvOctet* b, unsigned int bLen, const LvOctet* p,
       unsigned int pLen);
  LvEp(const LvEp& e);
  LvEp& operator=(const LvEp& e);
  ~LvEp() override;

  void set(LvGroupElem* r, const LvOctet* oct, unsigned int len) const override;
  void assign(LvGroupElem* r, const LvGroupElem* a) const override;
  void mul(LvGroupElem* r, const LvN& k, const LvGroupElem* a) const override;
  void mul2(LvGroupElem* r, const LvN& k1, const LvGroupElem* a, const LvN& k2,
            const LvGroupElem* b) const override;
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
  // Without the inversion: some x = r + j·order below p with x·Z^2 = X.
  bool xModEquals(const LvGroupElem* a, const LvN& r, const LvN& order) const override;
  void precompute(LvGroupElem* g) const override;
  void precomputeInStages(LvGroupElem* g) const override;
  // Constant-time through the 64-bit engine (its fixed table when g has one).
  std::vector<LvWord> mulSecretX(const LvWord* k, unsigned int kWords, const LvN& order,
                                 const LvGroupElem* g) const override;

  // Coefficients big-endian, left-padded to the octet length of p; returns it.
  unsigned int getA(LvOctet* oct, unsigned int len) const;
  unsigned int getB(LvOctet* oct, unsigned int len) const;
  const LvModulus& getP() const { return p; }
  const LvZn& getAResidue() const { return a; }
  const LvZn& getBResidue() const { return b; }
  bool isAMinus3() const { return aIsMinus3; }
  // Octet length of p.
  unsigned int getFieldOctets() const { return m; }

 private:
  friend class LvEpPoint;
  void setUp(const LvN& aN, const LvN& bN);
  void addSigned(LvEpPoint* P1, const LvEpPoint* P2, bool subtract) const;
  void toWords(const LvEpPoint* P, std::vector<LvWord>& w) const;
  void fromWords(LvEpPoint* P, const std::vector<LvWord>& w) const;
  // Affine x, y of a finite point.
  void affine(const LvEpPoint* P, LvN& x, LvN& y) const;

  LvModulus p;
  LvZn half, a, b;
  LvN aux;
  bool aIsMinus3;
  unsigned int m;
  std::shared_ptr<const lvepfast::Curve> fast;
};

// Square root of a quadratic residue c modulo the odd prime of its modulus.
// Fails with LvArgumentRangeException ("There is no square root modulo p.")
// for a non-residue or a modulus on which the search cannot end, instead of
// searching for ever.
LvZn sqrtModP(const LvZn& c);
// Trial-division primality of a 32-bit number.
bool isSmallPrime(LvWord n);
// 0 - a modulo a's modulus.
LvZn negateResidue(const LvZn& a);

// Words of a natural number zero-extended (or cut) to n words.
void lvWordsOf(const LvN& v, LvWord* out, unsigned int n);
