// Discrete-logarithm domains over GF(p): primes p and q with q | p - 1, a
// generator g of order q, and the seed and counter p and q came from.
#pragma once

#include "crypto/algebra/lvmultiplicativemodulusgroup.h"
#include "crypto/asym/lvkeydomain.h"

class LvRbg;

class LvGFpKeyDomain : public LvGeneralDsaKeyDomain {
 public:
  LvGFpKeyDomain();
  ~LvGFpKeyDomain() override;

  bool validate() override;
  bool isReady() const override;
  unsigned int getDomainType() const override;

  // p prepared with option 9; a generator set before is dropped (its residue
  // belonged to the old p).
  virtual void setP(const LvOctet* oct, unsigned int len);
  virtual void setP(const char* text);
  virtual void setQ(const LvOctet* oct, unsigned int len);
  virtual void setQ(const char* text);
  virtual void setG(const LvOctet* oct, unsigned int len);
  // A residue from text; a leading "-" allowed.
  virtual void setG(const char* text);
  virtual void setSeed(const LvOctet* seed, unsigned int len);
  virtual void setSeed(const char* hexText);
  virtual void setCounter(const LvOctet* oct, unsigned int len);
  virtual void setCounter(const char* text);
  virtual void setSeedAndCounter(const LvOctet* seed, unsigned int seedLen, const LvOctet* counter,
                                 unsigned int counterLen);
  virtual void setSeedAndCounter(const char* seedHex, const char* counterText);
  virtual unsigned int getP(LvOctet* oct, unsigned int len) const;
  virtual const LvMultiplicativeModulusGroup& getP() const;
  virtual unsigned int getQ(LvOctet* oct, unsigned int len) const;
  virtual const LvModulus& getQ() const;
  virtual unsigned int getG(LvOctet* oct, unsigned int len) const;
  virtual LvN getG() const;
  virtual unsigned int getSeed(LvOctet* oct, unsigned int len) const;
  virtual unsigned int getCounter(LvOctet* oct, unsigned int len) const;
  virtual LvWord getCounter() const;
  // FIPS 186-2 style generation with SHA-1 and a 20-octet seed drawn from rbg
  // (or given); false when pBits < qBits + 32 or the seed is short; the new
  // domain is validated and the answer is that of validate().
  virtual bool generate(LvRbg* rbg, unsigned int qBits, unsigned int pBits,
                        int (*interrupt)(void*), void* interruptCtx);
  virtual bool generate(const LvOctet* seed, unsigned int seedLen, unsigned int qBits,
                        unsigned int pBits, int (*interrupt)(void*), void* interruptCtx);
  // `seed` (20 octets) receives the seed of the q found. A nonzero answer of
  // the interrupt callback ends it with LvInterruptException.
  virtual void generateGFpKeyDomain(LvOctet* seed, unsigned int qBits, unsigned int pBits,
                                    int (*interrupt)(void*), void* interruptCtx);
  // FIPS 186-3 A.1.1.2 with an approved hash; refusals set the status word to 1
  // and the info text, success sets 0 and "DSA domain generated.".
  virtual void generateFips186_3(const LvOctet* seed, unsigned int seedBits, unsigned int qBits,
                                 unsigned int pBits, LvHash* hash);
  LvWord getStatus() const { return m_reserved; }

 protected:
  // The domain of primes p and q with g from the generator search.
  void setGenerated(const LvN& p, const LvN& q);
  // Re-derives q and p from the seed and counter (SHA-1, 160-bit blocks).
  bool seedReproduces() const;

  LvMultiplicativeModulusGroup mmg;
  LvWord seedAndCounterSet;
  LvConvOS seed;
  LvN counter;
};

class LvDsaKeyDomain : public LvGFpKeyDomain {
 public:
  LvDsaKeyDomain();
  ~LvDsaKeyDomain() override;
  unsigned int getDomainType() const override;
  // Only 1024/160.
  bool generate(LvRbg* rbg, unsigned int qBits, unsigned int pBits, int (*interrupt)(void*),
                void* interruptCtx) override;
  bool generate(const LvOctet* seed, unsigned int seedLen, unsigned int qBits, unsigned int pBits,
                int (*interrupt)(void*), void* interruptCtx) override;
};
