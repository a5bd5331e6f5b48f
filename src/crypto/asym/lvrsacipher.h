// RSA encryption: raw (LvRsaCipher) and PKCS#1 v1.5 block type 2
// (LvRsaCipherPkcsV15).
#pragma once

#include "crypto/asym/lvasym.h"
#include "crypto/asym/lvrsakey.h"

class LvRbg;

class LvRsaCipher : public LvAsymCipher {
 public:
  LvRsaCipher();
  ~LvRsaCipher() override;

  unsigned int getKeyBits(unsigned int which) override;
  // Modulus octets; LvNotInitException without a key.
  unsigned int getMaxCipherTextOctets() override;
  unsigned int getMaxPlainTextOctets() override;
  // Raw decryption into exactly the modulus octets.
  unsigned int decrypt(LvOctet* cipherText, unsigned int cipherTextLen, LvOctet* plainText,
                       unsigned int plainTextLen) override;
  // c = m^e mod n in exactly the modulus octets; the label is not used.
  unsigned int encryptWithLabel(LvOctet* plainText, unsigned int plainTextLen,
                                const LvOctet* label, unsigned int labelLen, LvOctet* cipherText,
                                unsigned int cipherTextLen) override;

  virtual void setPublicKey(LvRsaPublicKey* key);
  virtual void setPrivateKey(LvRsaPrivateKey* key);
  virtual LvRsaPublicKey* getPublicKey();
  virtual LvRsaPrivateKey* getPrivateKey();

 protected:
  LvRsaPublicKey* publicKey;
  LvRsaPrivateKey* privateKey;
};

class LvRsaCipherPkcsV15 : public LvRsaCipher {
 public:
  explicit LvRsaCipherPkcsV15(LvRbg* rbg);
  ~LvRsaCipherPkcsV15() override;
  // Modulus octets - 11.
  unsigned int getMaxPlainTextOctets() override;
  // Returns the message length.
  unsigned int decrypt(LvOctet* cipherText, unsigned int cipherTextLen, LvOctet* plainText,
                       unsigned int plainTextLen) override;
  unsigned int encryptWithLabel(LvOctet* plainText, unsigned int plainTextLen,
                                const LvOctet* label, unsigned int labelLen, LvOctet* cipherText,
                                unsigned int cipherTextLen) override;

 private:
  LvRbg* rbg;
};
