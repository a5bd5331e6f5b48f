// RSA signatures: the raw primitive with optional masking (LvRsaSig), the
// PKCS#1 v1.5 scheme (LvRsaSigPkcsV15) and RSASSA-PSS (LvRsaSigPkcsPss).
#pragma once

#include "crypto/asym/lvasym.h"
#include "crypto/asym/lvmgf1.h"
#include "crypto/asym/lvrsakey.h"

class LvRbg;

class LvRsaSig : public LvAsymSig {
 public:
  LvRsaSig();
  ~LvRsaSig() override;

  unsigned int getKeyBits(unsigned int which) override;
  // Modulus octets; LvNotInitException without a key.
  unsigned int getMaxSignatureOctets() override;
  // Raw private operation on an encoded message em (below the modulus);
  // writes exactly the modulus octets.
  unsigned int sign(const LvOctet* em, unsigned int emLen, LvOctet* signature,
                    unsigned int signatureLen) override;
  // Raw check: signature^e mod n equals em read as a number. False for a
  // signature value not below the modulus.
  bool verify(const LvOctet* em, unsigned int emLen, const LvOctet* signature,
              unsigned int signatureLen) override;

  virtual void setPublicKey(LvRsaPublicKey* key);
  virtual void setPrivateKey(LvRsaPrivateKey* key);
  virtual LvRsaPublicKey* getPublicKey();
  virtual LvRsaPrivateKey* getPrivateKey();
  // Bit 0: masking of the private operation (needs a generator and the
  // key's public exponent).
  virtual void setMaskingMode(unsigned int options);
  virtual void setRbg(LvRbg* rbg);

 protected:
  // signature^e mod n into v; false when the value is not a residue below n.
  bool publicOperation(const LvOctet* signature, unsigned int signatureLen, LvN& v);
  // encode(), then the raw private operation.
  unsigned int encodeAndSign(const LvOctet* digest, unsigned int digestLen, LvOctet* signature,
                             unsigned int signatureLen);

  LvRbg* rbg;
  LvRsaPublicKey* publicKey;
  LvRsaPrivateKey* privateKey;
  unsigned int options;
  bool maskReady;
  LvZn maskA;
  LvZn maskB;
  // The modulus and public exponent the masking values were made for: a key
  // object loaded again in place keeps its buffers, so only the values tell.
  LvN maskN;
  LvN maskE;
};

class LvRsaSigPkcsV15 : public LvRsaSig {
 public:
  LvRsaSigPkcsV15();
  ~LvRsaSigPkcsV15() override;
  unsigned int sign(const LvOctet* digest, unsigned int digestLen, LvOctet* signature,
                    unsigned int signatureLen) override;
  // Rebuilds the block for the digest (DigestInfo with NULL parameters, then
  // without parameters) and compares; answers false for a wrong signature.
  bool verify(const LvOctet* digest, unsigned int digestLen, const LvOctet* signature,
              unsigned int signatureLen) override;
  // 01 FF..FF 00 DigestInfo in k - 1 octets (k the modulus octets).
  unsigned int encode(LvOctMem& encoding, const LvOctet* digest, unsigned int digestLen) override;
  unsigned int encodeDigestInfoWithoutHashParameters(LvOctMem& encoding, const LvOctet* digest,
                                                     unsigned int digestLen);

 private:
  unsigned int encodeBlock(LvOctMem& encoding, const LvOctet* digest, unsigned int digestLen,
                           bool withNull, const char* tooLongText);
};

class LvRsaSigPkcsPss : public LvRsaSig {
 public:
  // sLen salt octets from rbg; message hash `algo`; MGF1 over SHA-256 when
  // fixedSha256 is nonzero, else over mgfAlgo.
  LvRsaSigPkcsPss(unsigned int sLen, LvRbg* rbg, LvHashAlgo algo, int fixedSha256,
                  LvHashAlgo mgfAlgo);
  ~LvRsaSigPkcsPss() override;
  unsigned int sign(const LvOctet* digest, unsigned int digestLen, LvOctet* signature,
                    unsigned int signatureLen) override;
  bool verify(const LvOctet* digest, unsigned int digestLen, const LvOctet* signature,
              unsigned int signatureLen) override;
  unsigned int encode(LvOctMem& encoding, const LvOctet* digest, unsigned int digestLen) override;

 private:
  // Hash(eight zero octets || digest || salt) into out (hLen octets).
  void saltedHash(const LvOctet* digest, unsigned int digestLen, const LvOctet* salt,
                  unsigned int saltLen, LvOctet* out);

  unsigned int sLen;
  LvMgf1* mgf;
};

// out = 00 01 FF..FF 00 data in emLen octets (at least one FF); 1 on success,
// 0 (nothing written) when dataLen < 1 or dataLen > emLen - 4.
int encodePkcs1Type1Block(LvOctet* out, unsigned int emLen, const LvOctet* data, int dataLen);
