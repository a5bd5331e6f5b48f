// RSA encryption and decryption, raw and PKCS#1 v1.5.
#include "crypto/asym/lvrsacipher.h"

#include <cstdint>

#include "crypto/basic/lvsecret.h"
#include "crypto/rbg/lvrbg.h"

#define RSACIPHER_ACCESS_FILE "lvasym\\rsacipher_access.cpp"
#define RSACIPHER_ENCRYPT_FILE "lvasym\\rsacipher_encrypt.cpp"
#define RSACIPHER_DECRYPT_FILE "lvasym\\rsacipher_decrypt.cpp"
#define RSACIPHER_V15_FILE "lvasym\\lvrsacipherpkcsv15.cpp"
#define RSACIPHER_V15_ENC_FILE "lvasym\\rsacipherpkcsv15_encrypt.cpp"
#define RSACIPHER_V15_DEC_FILE "lvasym\\rsacipherpkcsv15_decrypt.cpp"

namespace {

// Each padding octet is redrawn while zero; a sound generator never needs
// this many draws for one octet.
const unsigned int kMaxZeroDraws = 1024;

// Keeps the compiler from turning a mask back into a branch.
inline LvWord opaque(LvWord x) {
  asm("" : "+r"(x));
  return x;
}

// All ones when a < b, else 0 (a, b below 2^31).
inline LvWord ctLessMask(LvWord a, LvWord b) { return opaque(0u - ((a - b) >> 31)); }

// All ones when the n octets (n >= 11) are 00 02, at least eight nonzero padding octets and a
// zero separator; *len gets the message length after the separator (0 when not). Every
// octet is read whatever the answer, with no branch or index on their values, so a block that
// fails in its first octets costs what one that fails at its end costs.
LvWord checkType2Block(const LvOctet* b, unsigned int n, unsigned int* len) {
  LvWord good = longvCtEqMask(b[0], 0x00) & longvCtEqMask(b[1], 0x02);
  LvWord found = 0, sep = 0;
  for (unsigned int i = 2; i < n; ++i) {
    const LvWord first = opaque(longvCtEqMask(b[i], 0) & ~found);
    sep |= i & first;
    found |= first;
  }
  // No separator, or one before octet 10 (fewer than eight padding octets).
  good &= found & ~ctLessMask(sep, 10);
  *len = (n - 1 - sep) & good;
  return good;
}

}  // namespace

LvRsaCipher::LvRsaCipher() : publicKey(nullptr), privateKey(nullptr) {}

LvRsaCipher::~LvRsaCipher() {
  publicKey = nullptr;
  privateKey = nullptr;
}

void LvRsaCipher::setPublicKey(LvRsaPublicKey* key) {
  publicKey = key;
  privateKey = nullptr;
}

void LvRsaCipher::setPrivateKey(LvRsaPrivateKey* key) {
  privateKey = key;
  publicKey = nullptr;
}

LvRsaPublicKey* LvRsaCipher::getPublicKey() { return publicKey; }
LvRsaPrivateKey* LvRsaCipher::getPrivateKey() { return privateKey; }

unsigned int LvRsaCipher::getKeyBits(unsigned int) {
  if (publicKey != nullptr) return publicKey->getKeyBits();
  if (privateKey != nullptr) return privateKey->getKeyBits();
  return 0;
}

unsigned int LvRsaCipher::getMaxCipherTextOctets() {
  if (publicKey == nullptr && privateKey == nullptr)
    LV_THROW(LvNotInitException, "Neither private nor public key is initialised.",
             "LvRsaCipher::getMaxCipherTextOctets", RSACIPHER_ACCESS_FILE);
  return getKeyOctets(0);
}

unsigned int LvRsaCipher::getMaxPlainTextOctets() {
  if (publicKey == nullptr && privateKey == nullptr)
    LV_THROW(LvNotInitException, "Neither private nor public key is initialised.",
             "LvRsaCipher::getMaxPlainTextOctets", RSACIPHER_ACCESS_FILE);
  return getKeyOctets(0);
}

unsigned int LvRsaCipher::encryptWithLabel(LvOctet* plainText, unsigned int plainTextLen,
                                           const LvOctet*, unsigned int, LvOctet* cipherText,
                                           unsigned int cipherTextLen) {
  unsigned int k = getKeyOctets(0);
  if (publicKey == nullptr || !publicKey->isReady())
    LV_THROW(LvNotInitException, "There is no key or it is not initialised.",
             "LvRsaCipher::encryptWithLabel", RSACIPHER_ENCRYPT_FILE);
  if (k > cipherTextLen || cipherText == nullptr)
    LV_THROW(LvArgumentRangeException, "Buffer for cipher text is too short.",
             "LvRsaCipher::encryptWithLabel", RSACIPHER_ENCRYPT_FILE);
  if (plainText == nullptr && plainTextLen > 0)
    LV_THROW(LvArgumentRangeException, "Null plain text.", "LvRsaCipher::encryptWithLabel",
             RSACIPHER_ENCRYPT_FILE);
  const LvModulus& n = publicKey->getModulus();
  LvN m(plainText, plainTextLen);
  if (m >= n)
    LV_THROW(LvMessageToLongException, "Message you are trying to encrypt is too long.",
             "LvRsaCipher::encryptWithLabel", RSACIPHER_ENCRYPT_FILE);
  LvN c = pow(LvZn(m, &n), publicKey->getE()).getN();
  c.getOctets(cipherText, k, 1);
  return k;
}

unsigned int LvRsaCipher::decrypt(LvOctet* cipherText, unsigned int cipherTextLen,
                                  LvOctet* plainText, unsigned int plainTextLen) {
  if (privateKey == nullptr || !privateKey->hasPrivatePart())
    LV_THROW(LvNotInitException, "There is no private key or it is not ready to decrypt.",
             "LvRsaCipher::decrypt", RSACIPHER_DECRYPT_FILE);
  unsigned int k = getKeyOctets(0);
  if (plainTextLen < k || plainText == nullptr)
    LV_THROW(LvArgumentRangeException, "Buffer for plain text is too short.",
             "LvRsaCipher::decrypt", RSACIPHER_DECRYPT_FILE);
  if (cipherTextLen > k)
    LV_THROW(LvMessageToLongException, "Message you are trying to decrypt is too long.",
             "LvRsaCipher::decrypt", RSACIPHER_DECRYPT_FILE);
  if (cipherText == nullptr && cipherTextLen > 0)
    LV_THROW(LvArgumentRangeException, "Null cipher text.", "LvRsaCipher::decrypt",
             RSACIPHER_DECRYPT_FILE);
  const LvModulus& n = privateKey->getModulus();
  LvN c(cipherText, cipherTextLen);
  // A value at or above n is no cipher text of this key.
  if (c >= n)
    LV_THROW(LvMessageToLongException, "Message you are trying to decrypt is too long.",
             "LvRsaCipher::decrypt", RSACIPHER_DECRYPT_FILE);
  // The plain block stays secret: written from the words without a look at its value.
  LvWordMem mw;
  privateKey->privatePower(c, mw);
  longvCtToOctets(plainText, k, mw.ptr(), mw.getCount());
  lvWipe(mw.ptr(), mw.getCount() * sizeof(LvWord));
  return k;
}

// ---------------------------------------------------------------------------
// PKCS#1 v1.5
// ---------------------------------------------------------------------------

LvRsaCipherPkcsV15::LvRsaCipherPkcsV15(LvRbg* g) : rbg(g) {}

LvRsaCipherPkcsV15::~LvRsaCipherPkcsV15() {
  rbg = nullptr;
  publicKey = nullptr;
  privateKey = nullptr;
}

unsigned int LvRsaCipherPkcsV15::getMaxPlainTextOctets() {
  if (publicKey == nullptr && privateKey == nullptr)
    LV_THROW(LvNotInitException, "Neither private nor public key is initialised.",
             "LvRsaCipherPkcsV15::getMaxPlainTextOctets", RSACIPHER_V15_FILE);
  unsigned int k = getKeyOctets(0);
  return k > 11 ? k - 11 : 0;
}

unsigned int LvRsaCipherPkcsV15::encryptWithLabel(LvOctet* plainText, unsigned int plainTextLen,
                                                  const LvOctet*, unsigned int,
                                                  LvOctet* cipherText,
                                                  unsigned int cipherTextLen) {
  unsigned int k = getKeyOctets(0);
  if (std::uint64_t{plainTextLen} + 11 > k)
    LV_THROW(LvMessageToLongException, "Message you are tryiung encrypt is too long.",
             "LvRsaCipherPkcsV15::encryptWithLabel", RSACIPHER_V15_ENC_FILE);
  if (rbg == nullptr)
    LV_THROW(LvNotInitException, "There is no random bit generator.",
             "LvRsaCipherPkcsV15::encryptWithLabel", RSACIPHER_V15_ENC_FILE);
  if (plainText == nullptr && plainTextLen > 0)
    LV_THROW(LvArgumentRangeException, "Null plain text.", "LvRsaCipherPkcsV15::encryptWithLabel",
             RSACIPHER_V15_ENC_FILE);
  LvOctMem block(k - 1);
  LvOctet* b = block.ptr();
  b[0] = 0x02;
  unsigned int sep = k - plainTextLen - 2;
  for (unsigned int i = 1; i < sep; ++i) {
    unsigned int draws = 0;
    LvOctet o;
    do {
      if (++draws > kMaxZeroDraws)
        LV_THROW(LvRbgCycleException, "There is cycle in random bit generator.",
                 "LvRsaCipherPkcsV15::encryptWithLabel", RSACIPHER_V15_ENC_FILE);
      o = rbg->getOctet();
    } while (o == 0);
    b[i] = o;
  }
  b[sep] = 0x00;
  for (unsigned int i = 0; i < plainTextLen; ++i) b[sep + 1 + i] = plainText[i];
  return LvRsaCipher::encryptWithLabel(b, k - 1, nullptr, 0, cipherText, cipherTextLen);
}

unsigned int LvRsaCipherPkcsV15::decrypt(LvOctet* cipherText, unsigned int cipherTextLen,
                                         LvOctet* plainText, unsigned int plainTextLen) {
  unsigned int k = getKeyOctets(0);
  LvOctMem block(k == 0 ? 1 : k);
  unsigned int count = LvRsaCipher::decrypt(cipherText, cipherTextLen, block.ptr(), k);
  // The block is secret and a padding oracle would decrypt it (Bleichenbacher): the check
  // reads every octet and decides by masks, and only its one answer is made public.
  unsigned int len = 0;
  LvWord good = count >= 11 ? checkType2Block(block.ptr(), count, &len) : 0;
  lvDeclassify(&good, sizeof good);
  if (good == 0)
    LV_THROW(LvWrongSyntaxException, "Wrong padding syntax of decrypted message.",
             "LvRsaCipherPkcsV15::decrypt", RSACIPHER_V15_DEC_FILE);
  // The length of a well-formed message is the result anyway.
  lvDeclassify(&len, sizeof len);
  if (plainTextLen < len || (plainText == nullptr && len > 0))
    LV_THROW(LvArgumentRangeException, "Buffer for plain text is too short.",
             "LvRsaCipherPkcsV15::decrypt", RSACIPHER_V15_DEC_FILE);
  const LvOctet* b = block.ptr();
  for (unsigned int i = 0; i < len; ++i) plainText[i] = b[count - len + i];
  return len;
}
