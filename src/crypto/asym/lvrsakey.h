// RSA public and private keys.
#pragma once

#include "crypto/algebra/lvnumbers.h"
#include "crypto/asym/lvasym.h"

class LvRsaPublicKey : public LvPublicKey {
 public:
  LvRsaPublicKey();
  LvRsaPublicKey(const LvN& n, const LvN& e);
  // From big-endian magnitudes (a key as a certificate carries it), read straight into the
  // key's numbers: a key decoded for one verification makes no other copy of them.
  LvRsaPublicKey(const LvOctet* n, unsigned int nLen, const LvOctet* e, unsigned int eLen);
  ~LvRsaPublicKey() override = default;

  // Final and inline: the checks a key made for one verification runs cost no call.
  unsigned int getKeyBits() final { return n.isZero() ? 0 : n.getBitLength(); }
  bool isReady() final { return !n.isZero() && !e.isZero(); }
  bool isValid() final { return true; }

  // Getters into a buffer write the significant octets and return their
  // count, or 0 and nothing written when len is too small.
  virtual unsigned int getN(LvOctet* dst, unsigned int len);
  virtual const LvModulus& getModulus();
  virtual unsigned int getE(LvOctet* dst, unsigned int len);
  virtual const LvN& getE();
  virtual void setN(const LvOctet* oct, unsigned int len);
  virtual void setN(const char* text);
  virtual void setE(const LvOctet* oct, unsigned int len);
  virtual void setE(const char* text);

 protected:
  LvModulus n;
  LvN e;
};

class LvRsaPrivateKey : public LvPrivateKey {
 public:
  LvRsaPrivateKey();
  LvRsaPrivateKey(const LvN& n, const LvN& d);
  // Derives q = n / p, e = d^-1 mod (p-1)(q-1), dP, dQ, qInv and installs the
  // CRT data into n.
  LvRsaPrivateKey(const LvN& n, const LvN& d, const LvN& p);
  ~LvRsaPrivateKey() override;

  unsigned int getKeyBits() override;
  unsigned int getPublicKeyBits() override;
  bool hasPublicPart() override;
  bool hasPrivatePart() override;
  // Installs p, q, qInv into n as CRT data when all three are set (and
  // describe n); otherwise n stays plain.
  void prepare() override;

  virtual void setVersion(const LvOctet* oct, unsigned int len);
  virtual void setVersion(const char* text);
  virtual void setN(const LvOctet* oct, unsigned int len);
  virtual void setN(const char* text);
  virtual void setE(const LvOctet* oct, unsigned int len);
  virtual void setE(const char* text);
  virtual void setD(const LvOctet* oct, unsigned int len);
  virtual void setD(const char* text);
  virtual void setP(const LvOctet* oct, unsigned int len);
  virtual void setP(const char* text);
  virtual void setQ(const LvOctet* oct, unsigned int len);
  virtual void setQ(const char* text);
  virtual void setDP(const LvOctet* oct, unsigned int len);
  virtual void setDP(const char* text);
  virtual void setDQ(const LvOctet* oct, unsigned int len);
  virtual void setDQ(const char* text);
  virtual void setQInv(const LvOctet* oct, unsigned int len);
  virtual void setQInv(const char* text);

  virtual unsigned int getVersion(LvOctet* dst, unsigned int len);
  virtual unsigned int getN(LvOctet* dst, unsigned int len);
  virtual const LvModulus& getModulus();
  virtual unsigned int getE(LvOctet* dst, unsigned int len);
  virtual const LvN& getE();
  virtual unsigned int getD(LvOctet* dst, unsigned int len);
  virtual const LvN& getD();
  virtual unsigned int getP(LvOctet* dst, unsigned int len);
  virtual unsigned int getQ(LvOctet* dst, unsigned int len);
  virtual unsigned int getDP(LvOctet* dst, unsigned int len);
  virtual unsigned int getDQ(LvOctet* dst, unsigned int len);
  virtual unsigned int getQInv(LvOctet* dst, unsigned int len);

  // out (getModulus().getUsed() words, not trimmed) = x^d mod n for x below n, by the CRT
  // halves where the key has them, else modulo n; in time and memory access independent of
  // x and of the private key.
  virtual void privatePower(const LvN& x, LvWordMem& out);

 protected:
  // The CRT exponents d mod (p - 1), d mod (q - 1) and q^-1 mod p in the halves' word counts,
  // made from d by the constant-time reduction when first needed after a change of the key.
  void makeCrtExponents();
  void forgetCrtExponents();
  bool hasCrt() const;
  LvWordMem crtDP, crtDQ, crtQInv;

  LvN version;
  LvModulus n;
  LvN e;
  LvN d;
  LvModulus p;
  LvModulus q;
  LvN dP;
  LvN dQ;
  LvN qInv;
};
