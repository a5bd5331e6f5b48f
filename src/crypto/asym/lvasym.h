// Abstract classes of the public-key half of the library: keys, signature
// schemes (with the hash-then-sign flow), ciphers and key agreement.
#pragma once

#include "crypto/basic/lvcryptomech.h"
#include "crypto/basic/lvoctmem.h"
#include "crypto/hash/lvhashbase.h"

class LvAsym : public LvCryptoMech {
 public:
  LvAsym() = default;
  ~LvAsym() override = default;
};

// The key classes' destructors are inline (see LvCryptoMech).
class LvAsymKey : public LvAsym {
 public:
  bool isApproved() const override;
  ~LvAsymKey() override = default;
  virtual unsigned int getKeyBits() = 0;
  virtual unsigned int getKeyOctets();
};

class LvPublicKey : public LvAsymKey {
 public:
  ~LvPublicKey() override = default;
  virtual bool isReady() = 0;
  virtual bool isValid() = 0;
};

class LvPrivateKey : public LvAsymKey {
 public:
  ~LvPrivateKey() override;
  virtual bool hasPublicPart() = 0;
  virtual bool hasPrivatePart() = 0;
  // Run after all components are set.
  virtual void prepare();
  virtual unsigned int getPublicKeyBits() = 0;
  virtual unsigned int getPublicKeyOctets();
};

class LvAsymScheme : public LvAsym {
 public:
  bool isApproved() const override;
  ~LvAsymScheme() override;
  virtual unsigned int getKeyBits(unsigned int which) = 0;
  virtual unsigned int getKeyOctets(unsigned int which);
};

// Signature scheme base: owns a hash object, hashes long messages in steps
// and hands the digest to sign / verify.
class LvAsymSig : public LvAsymScheme {
 public:
  LvAsymSig();
  ~LvAsymSig() override;
  LvAsymSig(const LvAsymSig&) = delete;
  LvAsymSig& operator=(const LvAsymSig&) = delete;

  virtual void setHashAlgo(LvHashAlgo algo);
  virtual LvHashAlgo getHashAlgo();
  virtual unsigned int getMaxSignatureOctets() = 0;
  virtual void longMsgHashInit(LvHashAlgo algo);
  virtual unsigned int longMsgHashStep(const LvOctet* data, unsigned int len);
  virtual unsigned int longMsgHashSign(LvOctet* signature, unsigned int signatureLen);
  virtual bool longMsgHashVerify(const LvOctet* signature, unsigned int signatureLen);
  virtual unsigned int signMessage(const LvOctet* msg, unsigned int msgLen, LvOctet* signature,
                                   unsigned int signatureLen, LvHashAlgo algo);
  virtual unsigned int sign(const LvOctet* digest, unsigned int digestLen, LvOctet* signature,
                            unsigned int signatureLen) = 0;
  virtual bool verifyMessage(const LvOctet* msg, unsigned int msgLen, const LvOctet* signature,
                             unsigned int signatureLen, LvHashAlgo algo);
  virtual bool verify(const LvOctet* digest, unsigned int digestLen, const LvOctet* signature,
                      unsigned int signatureLen) = 0;
  virtual unsigned int encodeDigest(const LvOctet* digest, unsigned int digestLen,
                                    LvOctet* encoding, unsigned int encodingMaxLen);
  virtual void selectHash(LvHashAlgo algo, unsigned int digestLen);
  virtual unsigned int encode(LvOctMem& encoding, const LvOctet* digest, unsigned int digestLen);

  // Hash object in use (or none) and the digest length in use.
  LvHash* getHashObject() const { return hashObj; }
  unsigned int getDigestLength() const { return digestInUse; }

 protected:
  LvHashAlgo hashAlgo;
  unsigned int hashLen;
  LvHash* hashObj;
  unsigned int digestInUse;
};

class LvAsymCipher : public LvAsymScheme {
 public:
  LvAsymCipher();
  ~LvAsymCipher() override;
  virtual unsigned int getMaxCipherTextOctets() = 0;
  virtual unsigned int getMaxPlainTextOctets() = 0;
  virtual unsigned int encrypt(LvOctet* plainText, unsigned int plainTextLen, LvOctet* cipherText,
                               unsigned int cipherTextLen);
  virtual unsigned int decrypt(LvOctet* cipherText, unsigned int cipherTextLen, LvOctet* plainText,
                               unsigned int plainTextLen) = 0;
  virtual unsigned int encryptWithLabel(LvOctet* plainText, unsigned int plainTextLen,
                                        const LvOctet* label, unsigned int labelLen,
                                        LvOctet* cipherText, unsigned int cipherTextLen) = 0;
};

class LvAsymSecret : public LvAsymScheme {
 public:
  LvAsymSecret();
  ~LvAsymSecret() override;
  virtual void generateSecret() = 0;
  virtual unsigned int getSecretLength();
  // Copies the secret; 0 and nothing copied when dstLen is too small.
  virtual unsigned int getSecret(LvOctet* dst, unsigned int dstLen);

 protected:
  LvOctMem secret;
};
