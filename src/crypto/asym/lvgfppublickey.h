// The public key y = g^x mod p of the discrete-logarithm schemes over GF(p).
// It answers the domain's p, q and g on the domain's behalf.
#pragma once

#include "crypto/asym/lvgfpkeydomain.h"

class LvGFpPublicKey : public LvPublicKey {
 public:
  LvGFpPublicKey();
  ~LvGFpPublicKey() override;
  LvGFpPublicKey(const LvGFpPublicKey&) = delete;
  LvGFpPublicKey& operator=(const LvGFpPublicKey&) = delete;

  unsigned int getKeyBits() override;
  bool isReady() override;
  // 1 < y < p, y != g and y^q mod p = 1; LvNotInitException when not ready.
  bool isValid() override;
  // What a value from a stranger must satisfy before use: 1 < y < p - 1 and,
  // where the domain knows q, y^q mod p = 1 (y in the subgroup of order q).
  // The answer is kept for the same y, p and q. LvNotInitException when not ready.
  virtual bool isSubgroupMember();

  // Refuses an invalid or unchecked domain, keeping the previous one; returns
  // the domain's state.
  virtual LvWord setDomain(const LvGFpKeyDomain* keyDomain);
  virtual void set(const LvOctet* oct, unsigned int len);
  virtual void set(const char* text);
  virtual void setKey(const LvN& y);
  virtual const LvGFpKeyDomain* getDomain() const;
  // y unpadded; 0 when the buffer is too small.
  virtual unsigned int getKeyOctets(LvOctet* dst, unsigned int len) const;
  using LvAsymKey::getKeyOctets;
  virtual const LvN& getKey() const;
  virtual unsigned int getP(LvOctet* dst, unsigned int len) const;
  virtual const LvMultiplicativeModulusGroup& getP() const;
  virtual unsigned int getQ(LvOctet* dst, unsigned int len) const;
  virtual const LvModulus& getQ() const;
  virtual unsigned int getG(LvOctet* dst, unsigned int len) const;
  virtual LvN getG() const;

 protected:
  const LvGFpKeyDomain* domain;
  LvN y;

 private:
  // The last y found a member, with the p and q it was checked against.
  LvN memberY, memberP, memberQ;
};

class LvDsaPublicKey : public LvGFpPublicKey {
 public:
  LvDsaPublicKey();
  ~LvDsaPublicKey() override;
};
