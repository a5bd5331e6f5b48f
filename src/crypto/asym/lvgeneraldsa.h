// EC-DSA over the curve domains: public and private keys and the signature
// scheme. A signature's octet form is two DER INTEGERs, r then s, without an
// enclosing SEQUENCE.
#pragma once

#include "crypto/asym/lvdsascheme.h"

class LvGeneralDsaPublicKey : public LvPublicKey {
 public:
  LvGeneralDsaPublicKey();
  ~LvGeneralDsaPublicKey() override;
  LvGeneralDsaPublicKey(const LvGeneralDsaPublicKey&) = delete;
  LvGeneralDsaPublicKey& operator=(const LvGeneralDsaPublicKey&) = delete;

  unsigned int getKeyBits() override;
  bool isReady() override;
  // On the curve, not the point at infinity, and of the domain's order.
  bool isValid() override;

  // Refuses an invalid or unchecked domain (LvInvalidKeyException).
  virtual void setDomain(const LvGeneralDsaKeyDomain* domain);
  virtual const LvGeneralDsaKeyDomain* getDomain() const;
  virtual const LvGroupElem* getH() const;
  // The group's encoding of H; returns the octets written.
  virtual unsigned int get(LvOctet* oct, unsigned int len) const;
  // H must be an element of the group other than the neutral one
  // (LvWrongSyntaxException otherwise); a failed call keeps the old point.
  virtual void setH(const LvGroupElem* h);
  virtual void setH(const LvOctet* oct, unsigned int len);

 private:
  const LvGeneralDsaKeyDomain* domain;
  LvGroupElem* H;
  // The domain in which setH found H of order n (null when it did not look).
  const LvGeneralDsaKeyDomain* orderCheckedIn = nullptr;
};

class LvGeneralDsaPrivateKey : public LvPrivateKey {
 public:
  LvGeneralDsaPrivateKey();
  ~LvGeneralDsaPrivateKey() override;
  LvGeneralDsaPrivateKey(const LvGeneralDsaPrivateKey&) = delete;
  LvGeneralDsaPrivateKey& operator=(const LvGeneralDsaPrivateKey&) = delete;

  unsigned int getKeyBits() override;
  bool hasPublicPart() override;
  bool hasPrivatePart() override;
  unsigned int getPublicKeyBits() override;

  virtual void setDomain(const LvGeneralDsaKeyDomain* domain);
  virtual const LvGeneralDsaKeyDomain* getDomain() const;
  virtual const LvN& getKey() const;
  // The scalar unpadded; 0 when the buffer is too small.
  virtual unsigned int getKey(LvOctet* oct, unsigned int len) const;
  virtual void setKey(const LvN& d);
  virtual void setKey(const LvOctet* oct, unsigned int len);
  virtual const LvGroupElem* getH() const;
  virtual unsigned int get(LvOctet* oct, unsigned int len) const;
  virtual void setH(const LvGroupElem* h);
  virtual void setH(const LvOctet* oct, unsigned int len);

 private:
  const LvGeneralDsaKeyDomain* domain;
  LvN d;
  LvGroupElem* H;
};

class LvGeneralDsaSig : public LvDsaScheme<LvGeneralDsaPublicKey, LvGeneralDsaPrivateKey> {
 public:
  LvGeneralDsaSig();
  ~LvGeneralDsaSig() override;

  unsigned int sign(const LvOctet* digest, unsigned int digestLen, LvOctet* signature,
                    unsigned int signatureLen) override;
  using LvDsaScheme::verify;
  bool verify(const LvOctet* digest, unsigned int digestLen, const LvOctet* r, unsigned int rLen,
              const LvOctet* s, unsigned int sLen) override;

 protected:
  void requirePublicKey() override;
};
