// The EC-DSA key domain over a binary field: a curve over GF(2^m), a base
// point G, its order n, the cofactor h and an optional seed (domain type 2).
#pragma once

#include <vector>

#include "crypto/algebra/lve2n.h"
#include "crypto/asym/lvkeydomain.h"

class LvE2nDsaKeyDomain : public LvGeneralDsaKeyDomain {
 public:
  LvE2nDsaKeyDomain();
  // Hexadecimal texts (either case, leading zero octets allowed); G
  // compressed or uncompressed; `seed` may be null. The group order is not
  // set. `state` is the initial validity (0 for the named curves).
  LvE2nDsaKeyDomain(const char* a, const char* b, const char* f, const char* G, const char* n,
                    const char* h, int state, const char* seed = nullptr);
  ~LvE2nDsaKeyDomain() override;

  bool validate() override;
  unsigned int getDomainType() const override;
  using LvGeneralDsaKeyDomain::getGen;
  using LvGeneralDsaKeyDomain::getOrder;
  using LvGeneralDsaKeyDomain::setGen;
  using LvGeneralDsaKeyDomain::setOrder;

  // x^m + x^k1 + x^k2 + x^k3 + 1 (middle exponents in any order, distinct,
  // each in 1..m-1, m at most 1024; LvArgumentRangeException otherwise).
  virtual void setCurvePentanomial(const LvOctet* a, unsigned int aLen, const LvOctet* b,
                                   unsigned int bLen, unsigned int m, unsigned int k1,
                                   unsigned int k2, unsigned int k3);
  // x^m + x^k + 1.
  virtual void setCurveTrinomial(const LvOctet* a, unsigned int aLen, const LvOctet* b,
                                 unsigned int bLen, unsigned int m, unsigned int k);
  // The curve from the polynomial octets; a generator set before is dropped
  // (it belonged to the old curve). A refused polynomial or coefficient
  // leaves the domain as it was.
  virtual void setCurve(const LvOctet* a, unsigned int aLen, const LvOctet* b, unsigned int bLen,
                        const LvOctet* f, unsigned int fLen);
  void setGen(const LvOctet* oct, unsigned int len) override;
  void setOrder(const LvOctet* oct, unsigned int len) override;
  virtual void setSeed(const LvOctet* seed, unsigned int len);
  // ceil(m/8) octets each.
  virtual unsigned int getA(LvOctet* oct, unsigned int len) const;
  virtual unsigned int getB(LvOctet* oct, unsigned int len) const;
  // 3 for a trinomial, 5 for a pentanomial, else 0.
  virtual unsigned int getBasisType() const;
  // The degree and the polynomial in floor((m + 8)/8) octets; returns that count.
  virtual unsigned int getPolynomial(unsigned int* m, LvOctet* oct, unsigned int len) const;
  virtual unsigned int getTrinomial(unsigned int* m, unsigned int* k) const;
  virtual unsigned int getPentanomial(unsigned int* m, unsigned int* k1, unsigned int* k2,
                                      unsigned int* k3) const;
  unsigned int getGen(LvOctet* oct, unsigned int len) const override;
  unsigned int getOrder(LvOctet* oct, unsigned int len) const override;
  // Copies the seed; returns its length (0 when none or the buffer is short).
  virtual unsigned int getSeed(LvOctet* oct, unsigned int len) const;

  const LvE2n& getCurve() const { return curve; }
  // With cofactor 2 or 4 on a curve of odd degree, by traces instead of n P.
  bool inOrderSubgroup(const LvGroupElem* P) const override;

 private:
  bool validateCurve();
  // Tr(t^i) for the field's basis t^0..t^(m-1), one bit each, from the reduction polynomial.
  void makeTraceMask();
  unsigned int traceOf(const LvGF2n& x) const;
  void setCurveTerms(const LvOctet* a, unsigned int aLen, const LvOctet* b, unsigned int bLen,
                     unsigned int m, const unsigned int* k, unsigned int count);

  LvE2n curve;
  LvConvOS seed;
  // Trace as a linear form: Tr(x) is the parity of x AND the mask.
  std::vector<LvWord> traceMask;
};
