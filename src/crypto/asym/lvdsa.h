// DSA over the GF(p) domains: the private key, the signature scheme and key
// pair generation. Signatures are two DER INTEGERs, r then s, without an
// enclosing SEQUENCE.
#pragma once

#include "crypto/asym/lvgeneraldsa.h"
#include "crypto/asym/lvgfppublickey.h"

class LvGFpPrivateKey : public LvPrivateKey {
 public:
  LvGFpPrivateKey();
  ~LvGFpPrivateKey() override;
  LvGFpPrivateKey(const LvGFpPrivateKey&) = delete;
  LvGFpPrivateKey& operator=(const LvGFpPrivateKey&) = delete;

  unsigned int getKeyBits() override;
  bool hasPublicPart() override;
  bool hasPrivatePart() override;
  unsigned int getPublicKeyBits() override;

  virtual void setDomain(const LvGFpKeyDomain* domain);
  virtual void setX(const LvOctet* oct, unsigned int len);
  virtual void setX(const char* text);
  virtual void setX(const LvN& x);
  virtual void setY(const LvOctet* oct, unsigned int len);
  virtual void setY(const char* text);
  virtual void setY(const LvN& y);
  virtual const LvGFpKeyDomain* getDomain() const;
  virtual unsigned int getX(LvOctet* oct, unsigned int len) const;
  virtual const LvN& getX() const;
  virtual unsigned int getY(LvOctet* oct, unsigned int len) const;
  virtual const LvN& getY() const;
  virtual unsigned int getP(LvOctet* dst, unsigned int len) const;
  virtual const LvMultiplicativeModulusGroup& getP() const;
  virtual unsigned int getQ(LvOctet* dst, unsigned int len) const;
  virtual const LvModulus& getQ() const;
  virtual unsigned int getG(LvOctet* dst, unsigned int len) const;
  virtual LvN getG() const;

 protected:
  const LvGFpKeyDomain* domain;
  LvN x, y;
};

class LvDsaPrivateKey : public LvGFpPrivateKey {
 public:
  LvDsaPrivateKey();
  ~LvDsaPrivateKey() override;
};

class LvDsaSig : public LvDsaScheme<LvGFpPublicKey, LvGFpPrivateKey> {
 public:
  LvDsaSig();
  ~LvDsaSig() override;

  unsigned int sign(const LvOctet* digest, unsigned int digestLen, LvOctet* signature,
                    unsigned int signatureLen) override;
  using LvDsaScheme::verify;
  bool verify(const LvOctet* digest, unsigned int digestLen, const LvOctet* r, unsigned int rLen,
              const LvOctet* s, unsigned int sLen) override;

 protected:
  void requirePublicKey() override;
};

// Draws x in [2, q - 2], sets y = g^x mod p into both keys and checks the pair
// with a signature over a fixed digest.
void generateKeyPair(LvDsaPublicKey& publicKey, LvDsaPrivateKey& privateKey,
                     LvDsaKeyDomain* domain, LvRbg* rbg);
