// Key domains: the shared public parameters of discrete-logarithm keys (a
// group, a generator G, its order n, the cofactor h) with a validity state
// that keys consult before they accept the domain.
//
// The curve domain over GF(2^m) (LvE2nDsaKeyDomain, domain type 2) derives
// from LvGeneralDsaKeyDomain beside LvEpDsaKeyDomain and reuses the seed
// expansion below with its own bit rule.
#pragma once

#include "crypto/algebra/lvcryptoep.h"
#include "crypto/algebra/lvep.h"
#include "crypto/asym/lvasym.h"
#include "crypto/basic/lvexception.h"

// Validity states.
enum : LvWord { LV_DOMAIN_VALID = 0, LV_DOMAIN_INVALID = 1, LV_DOMAIN_UNCHECKED = 2 };

// Domain type codes.
enum : unsigned int {
  LV_DOMAIN_ASYM = 0,
  LV_DOMAIN_GENERAL_DSA = 1,
  LV_DOMAIN_E2N_DSA = 2,
  LV_DOMAIN_EP_DSA = 3,
  LV_DOMAIN_GFP = 4,
  LV_DOMAIN_DH_GFP = 5,
  LV_DOMAIN_DSA = 6
};

class LvAsymKeyDomain : public LvAsym {
 public:
  LvAsymKeyDomain();
  ~LvAsymKeyDomain() override;
  virtual LvWord getValidity() const;
  // Checks the parameters; never throws for bad ones: records the state and
  // answers false.
  virtual bool validate() = 0;
  virtual bool isReady() const = 0;
  virtual unsigned int getDomainType() const;
  void setValidity(LvWord state) { validity = state; }
  // Valid without checking (named curves, parameters taken from certificates).
  void markValid() { validity = LV_DOMAIN_VALID; }

 protected:
  LvWord validity;
};

class LvGeneralDsaKeyDomain : public LvAsymKeyDomain {
 public:
  LvGeneralDsaKeyDomain();
  ~LvGeneralDsaKeyDomain() override;
  LvGeneralDsaKeyDomain(const LvGeneralDsaKeyDomain&) = delete;
  LvGeneralDsaKeyDomain& operator=(const LvGeneralDsaKeyDomain&) = delete;

  bool validate() override;
  bool isReady() const override;
  unsigned int getDomainType() const override;

  virtual void setGroup(const LvGroup* group);
  // Decodes G with the group (replacing the old one) and lets it keep its
  // multiples; LvNotInitException "Uninitialised group." without a group.
  virtual void setGen(const LvOctet* oct, unsigned int len);
  virtual void setGen(const LvGroupElem* g);
  virtual void setGroupOrder(const LvOctet* oct, unsigned int len);
  virtual void setGroupOrder(const LvModulus& m);
  virtual void setOrder(const LvOctet* oct, unsigned int len);
  virtual void setOrder(const LvModulus& n);
  virtual void setCofactor(const LvOctet* oct, unsigned int len);
  virtual void setCofactor(const LvN& h);
  virtual const LvGroup* getGroup() const;
  // The group's encoding of G; returns the octets written.
  virtual unsigned int getGen(LvOctet* oct, unsigned int len) const;
  virtual const LvGroupElem* getGen() const;
  // Unpadded octets; 0 when the buffer is too small.
  virtual unsigned int getGroupOrder(LvOctet* oct, unsigned int len) const;
  virtual const LvModulus& getGroupOrder() const;
  virtual unsigned int getOrder(LvOctet* oct, unsigned int len) const;
  virtual const LvModulus& getOrder() const;
  virtual unsigned int getCofactor(LvOctet* oct, unsigned int len) const;
  virtual const LvN& getCofactor() const;
  // Whether P, an element of the group, lies in the subgroup of order n (n P is the neutral
  // element); a domain with a cheaper test of the same answer overrides it.
  virtual bool inOrderSubgroup(const LvGroupElem* P) const;

 protected:
  // The checks common to every domain; sets the state. Memory running out
  // and a spent work account pass through.
  bool validateGeneric();
  // validateGeneric, then the kind's own checks `own` (bad parameters answer
  // false). Memory running out or a spent work account in `own` passes
  // through and leaves the domain unchecked: validateGeneric's "valid" is no
  // verdict on the whole, and a later validate must not take it for one.
  template <class Own>
  bool validateThen(Own own) {
    if (validity == LV_DOMAIN_VALID) return true;
    if (validity == LV_DOMAIN_INVALID) return false;
    if (!validateGeneric()) return false;
    bool ok = false;
    try {
      ok = own();
    } catch (const LvException& e) {
      if (lvIsTransient(e)) {
        validity = LV_DOMAIN_UNCHECKED;
        throw;
      }
    } catch (...) {
      validity = LV_DOMAIN_UNCHECKED;
      throw;
    }
    validity = ok ? LV_DOMAIN_VALID : LV_DOMAIN_INVALID;
    return ok;
  }
  void dropGen();

  const LvGroup* group;
  LvGroupElem* gen;
  LvModulus groupOrder;
  LvModulus order;
  LvN cofactor;
};

class LvEpDsaKeyDomain : public LvGeneralDsaKeyDomain {
 public:
  LvEpDsaKeyDomain();
  // Hexadecimal texts; G compressed or uncompressed; the group order is not
  // set. `state` is the initial validity (0 for the named curves).
  LvEpDsaKeyDomain(const char* a, const char* b, const char* p, const char* G, const char* n,
                   const char* h, int state);
  ~LvEpDsaKeyDomain() override;

  bool validate() override;
  unsigned int getDomainType() const override;
  using LvGeneralDsaKeyDomain::getGen;
  using LvGeneralDsaKeyDomain::getOrder;
  using LvGeneralDsaKeyDomain::setGen;
  using LvGeneralDsaKeyDomain::setOrder;

  // Builds the curve; over one of the six special primes it runs on
  // LvCryptoEp, over any other prime on LvEp. A generator set before is
  // dropped (it belonged to the old curve).
  virtual void setCurve(const LvOctet* a, unsigned int aLen, const LvOctet* b, unsigned int bLen,
                        const LvOctet* p, unsigned int pLen);
  void setGen(const LvOctet* oct, unsigned int len) override;
  void setOrder(const LvOctet* oct, unsigned int len) override;
  virtual void setSeed(const LvOctet* seed, unsigned int len);
  virtual unsigned int getA(LvOctet* oct, unsigned int len) const;
  virtual unsigned int getB(LvOctet* oct, unsigned int len) const;
  // p unpadded; 0 when the buffer is too small.
  virtual unsigned int getP(LvOctet* oct, unsigned int len) const;
  unsigned int getGen(LvOctet* oct, unsigned int len) const override;
  unsigned int getOrder(LvOctet* oct, unsigned int len) const override;
  // Copies the seed; returns its length (0 when none or the buffer is short).
  virtual unsigned int getSeed(LvOctet* oct, unsigned int len) const;

  bool usesSpecialCurve() const { return useSpecial; }
  const LvModulus& getPrime() const;

 private:
  bool validateCurve();

  bool useSpecial;
  LvEp ep;
  LvCryptoEp cryptoEp;
  LvConvOS seed;
};

// ANSI X9.62 expansion of a seed (at least 20 octets) to ceil(t/8) octets with
// SHA-1. `primeField` keeps (t mod 8) - 1 low bits of the first octet (7 when t
// mod 8 = 0); otherwise t mod 8 bits (8 when 0).
LvConvOS lvExpandSeed(const LvConvOS& seed, unsigned int t, bool primeField);
