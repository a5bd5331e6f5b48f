// Elliptic curves over the six special prime fields (p160 of secp160r1,
// P-192, P-224, P-256, P-384, P-521): the curve of LvEp, with coordinates as
// raw word vectors and every field operation from a table of nine routines
// specialised for the prime.
#pragma once

#include <memory>
#include <vector>

#include "crypto/algebra/lvabstractalgebra.h"

namespace lvepfast {
class Curve;
class FixedBase;
class FixedTable;
}  // namespace lvepfast

// Nine routines on n-word values. Each value starts a cell of 3n words: the
// value, then 2n words of scratch for a double-length product.
struct SpecialPrimeFieldOps {
  void (*copy)(LvWord* dst, const LvWord* src);
  bool (*equal)(const LvWord* a, const LvWord* b);
  bool (*isZero)(const LvWord* a);
  bool (*isOne)(const LvWord* a);
  void (*negate)(LvWord* a);                 // a := p - a (0 stays 0)
  void (*add)(LvWord* a, const LvWord* b);   // a := a + b mod p
  void (*sub)(LvWord* a, const LvWord* b);   // a := a - b mod p
  void (*mul)(LvWord* a, const LvWord* b);   // a := a·b mod p
  void (*sqr)(LvWord* a);                    // a := a^2 mod p
};

class LvCryptoEp;

class LvCryptoEpPoint : public LvGroupElem {
 public:
  explicit LvCryptoEpPoint(const LvCryptoEp* curve);  // neutral (1, 1, 0)
  LvCryptoEpPoint(const LvCryptoEp* curve, const LvN& x, const LvN& y);
  LvCryptoEpPoint(const LvCryptoEpPoint& P);
  LvCryptoEpPoint& operator=(const LvCryptoEpPoint& P);
  ~LvCryptoEpPoint() override;

  const LvCryptoEp* getCurve() const { return curve; }
  LvWord* X() { return buf.ptr(); }
  LvWord* Y();
  LvWord* Z();
  const LvWord* X() const { return buf.ptr(); }
  const LvWord* Y() const;
  const LvWord* Z() const;
  // Whether the point has its complete table of multiples.
  bool hasTable() const;

 private:
  friend class LvCryptoEp;
  const LvCryptoEp* curve;
  LvWordMem buf;  // X, Y, Z cells
  std::shared_ptr<lvepfast::FixedTable> fixed;
};

class LvCryptoEp : public LvAbelianGroup {
 public:
  LvCryptoEp();
  // Throws LvLibNotImplementedException when p is not one of the six primes.
  LvCryptoEp(const LvOctet* a, unsigned int aLen, const LvOctet* b, unsigned int bLen,
             const LvOctet* p, unsigned int pLen);
  LvCryptoEp(const LvCryptoEp& e);
  LvCryptoEp& operator=(const LvCryptoEp& e);
  ~LvCryptoEp() override;

  void setField(const LvN& prime);

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
  void precompute(LvGroupElem* g) const override;
  void precomputeInStages(LvGroupElem* g) const override;
  // X = c·Z^2 for the few c = r + j·n below p: no inversion.
  bool xModEquals(const LvGroupElem* a, const LvN& r, const LvN& order) const override;
  // Constant-time through the 64-bit engine (its fixed table when g has one).
  std::vector<LvWord> mulSecretX(const LvWord* k, unsigned int kWords, const LvN& order,
                                 const LvGroupElem* g) const override;

  unsigned int getA(LvOctet* oct, unsigned int len) const;
  unsigned int getB(LvOctet* oct, unsigned int len) const;
  const LvModulus& getP() const { return p; }
  bool isAMinus3() const { return aIsMinus3; }
  unsigned int getWordCount() const { return n; }
  unsigned int getCellStride() const { return s; }
  unsigned int getFieldOctets() const { return m; }
  const SpecialPrimeFieldOps* getOps() const { return ops; }

 private:
  friend class LvCryptoEpPoint;
  void addSigned(LvCryptoEpPoint* P1, const LvCryptoEpPoint* P2, bool subtract) const;
  void setNeutral(LvCryptoEpPoint* P) const;
  // Affine coordinates of a finite point (n words each).
  void affine(const LvCryptoEpPoint* P, LvWord* x, LvWord* y) const;
  LvN toN(const LvWord* w) const;

  const SpecialPrimeFieldOps* ops;
  LvModulus p;
  unsigned int n, s, m;
  LvWordMem a, b, half;
  bool aIsMinus3;
  std::shared_ptr<const lvepfast::Curve> fast;
};
