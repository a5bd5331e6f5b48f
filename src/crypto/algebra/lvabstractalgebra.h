// Abstract groups: the interface on which the discrete-logarithm and
// elliptic-curve algorithms are written. Elements are created by their group
// on the heap and owned by the caller; an operation works only on elements of
// its own group's class. "Same object" below means pointer identity.
//
// The group is written additively (sum, k·a, neutral element); for the
// multiplicative group the same operations are product, power and 1.
#pragma once

#include <vector>

#include "crypto/algebra/lvnumbers.h"
#include "crypto/basic/lvconv.h"

class LvGroup {
 public:
  LvGroup() = default;
  virtual ~LvGroup();

  // r := the element decoded from the octets.
  virtual void set(LvGroupElem* r, const LvOctet* oct, unsigned int len) const = 0;
  // r := a; the neutral element when a is null.
  virtual void assign(LvGroupElem* r, const LvGroupElem* a) const = 0;
  virtual void add(LvGroupElem* r, const LvGroupElem* a, const LvGroupElem* b) const;
  virtual void negate(LvGroupElem* r, const LvGroupElem* a) const;
  virtual void subtract(LvGroupElem* r, const LvGroupElem* a, const LvGroupElem* b) const;
  // r := k·a (fixed window).
  virtual void mul(LvGroupElem* r, const LvN& k, const LvGroupElem* a) const;
  // r := k·a (binary, right to left).
  virtual void mulWord(LvGroupElem* r, unsigned int k, const LvGroupElem* a) const;
  // r := k1·a + k2·b.
  virtual void mul2(LvGroupElem* r, const LvN& k1, const LvGroupElem* a, const LvN& k2,
                    const LvGroupElem* b) const;
  virtual LvGroupElem* createNew(const LvOctet* oct, unsigned int len) const = 0;
  // A copy of a; the neutral element when a is null.
  virtual LvGroupElem* createCopy(const LvGroupElem* a) const = 0;
  virtual LvGroupElem* createSum(const LvGroupElem* a, const LvGroupElem* b) const;
  virtual LvGroupElem* createNegation(const LvGroupElem* a) const;
  virtual LvGroupElem* createDifference(const LvGroupElem* a, const LvGroupElem* b) const;
  virtual LvGroupElem* createMul(const LvN& k, const LvGroupElem* a) const;
  virtual LvGroupElem* createMulWord(unsigned int k, const LvGroupElem* a) const;
  virtual LvGroupElem* createMul2(const LvN& k1, const LvGroupElem* a, const LvN& k2,
                                  const LvGroupElem* b) const;
  virtual void addInPlace(LvGroupElem* r, const LvGroupElem* b) const = 0;
  virtual void doubleInPlace(LvGroupElem* r) const = 0;
  virtual void negateInPlace(LvGroupElem* r) const = 0;
  virtual void subtractInPlace(LvGroupElem* r, const LvGroupElem* b) const = 0;
  virtual bool isEqual(const LvGroupElem* a, const LvGroupElem* b) const = 0;
  // a satisfies the group's defining equation.
  virtual bool isElement(const LvGroupElem* a) const = 0;
  virtual unsigned int getOctetStringEncodingLen(const LvGroupElem* g) const = 0;
  virtual unsigned int asOctetString(const LvGroupElem* g, LvOctet* oct,
                                     unsigned int len) const = 0;
  virtual LvConvOS asDhSecret(const LvGroupElem* g) const = 0;
  virtual LvN asLvN(const LvGroupElem* g) const = 0;

  // Affine x-coordinate of k·a as little-endian words, all zero for the
  // neutral element, for a secret scalar k (a signing nonce): `kWords` words
  // (a fixed, public count) holding a value below `order`, the order of a.
  // The elliptic-curve groups run it in time and memory access independent of
  // k and of the point made; the default goes through mul and is not
  // constant-time.
  virtual std::vector<LvWord> mulSecretX(const LvWord* k, unsigned int kWords, const LvN& order,
                                         const LvGroupElem* a) const;

  // Whether the x-coordinate of a, taken as an integer, is r modulo n (the
  // last check of EC-DSA, r below n); false for the neutral element. The
  // default goes through asLvN; curves may compare without the inversion.
  virtual bool xModEquals(const LvGroupElem* a, const LvN& r, const LvN& n) const;

  // Lets an element keep a table of its multiples (generators, long-lived
  // public keys); a no-op for elements without one.
  virtual void precompute(LvGroupElem* g) const;
  // The same table made in stages over the element's first multiplications,
  // each paying a bounded share (domain generators: a domain made and used
  // once costs little). The default makes it at once.
  virtual void precomputeInStages(LvGroupElem* g) const { precompute(g); }

 protected:
  LvGroup(const LvGroup&) = default;
  LvGroup& operator=(const LvGroup&) = default;
};

// Commutative groups: the two-scalar multiplication uses a joint window.
class LvAbelianGroup : public LvGroup {
 public:
  LvAbelianGroup() = default;
  ~LvAbelianGroup() override;
  void mul2(LvGroupElem* r, const LvN& k1, const LvGroupElem* a, const LvN& k2,
            const LvGroupElem* b) const override;

 protected:
  LvAbelianGroup(const LvAbelianGroup&) = default;
  LvAbelianGroup& operator=(const LvAbelianGroup&) = default;
};

// Window widths of the generic multiplications (exposed for their tests).
unsigned int lvChooseWindowWidth(unsigned int bitLength);
unsigned int lvChooseJointWindowWidth(unsigned int bitLength);
