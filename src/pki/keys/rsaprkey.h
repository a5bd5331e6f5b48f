// PKCS#1 RSAPrivateKey (two primes) with the key holder's operations, and
// the PKCS#1 DigestInfo envelope built by the signing code.
#pragma once

#include "asn1/asnint.h"
#include "pki/common/algid.h"

#include <memory>

class MemFile;
class LvRbg;
class RSAPublicKey;
struct RsaPrivateLib;

class RSAPrivateKey : public ASNsequenceF {
 public:
  explicit RSAPrivateKey(unsigned char tag = 0);
  ~RSAPrivateKey() override;
  RSAPrivateKey& operator=(const RSAPrivateKey& other);
  bool operator==(const RSAPrivateKey& other) const;

  void getPublicKey(RSAPublicKey& out) const;
  // Each writes its output into `out` sized to the output length. Codes:
  // 0 success, 1 bad padding / empty plaintext, 2 key not usable, 3 length,
  // 4 argument refused (PSS), 5 out of memory (the output not sized among it),
  // 6 generator failed. Preparing the key throws std::bad_alloc for memory.
  int signDigest(const unsigned char* digest, int digestLen, int hashType, LvRbg* rbg,
                 MemFile& out);
  // mgfHashType 0: hashType; saltLength 0: digestLen.
  int signDigestPss(const unsigned char* digest, int digestLen, int hashType, LvRbg* rbg,
                    MemFile& out, int mgfOption, int mgfHashType, int saltLength);
  int signRaw(const unsigned char* block, int blockLen, LvRbg* rbg, MemFile& out);
  int decryptPkcs1v15(const unsigned char* cipherText, int cipherLen, MemFile& out);

  // Decoding and clearing drop the prepared library key with the values.
  void clear() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNinteger version;
  ASNinteger modulus;
  ASNinteger publicExponent;
  ASNinteger privateExponent;
  ASNinteger prime1;
  ASNinteger prime2;
  ASNinteger exponent1;
  ASNinteger exponent2;
  ASNinteger coefficient;

 private:
  bool prepare();
  void unprepare();
  std::unique_ptr<RsaPrivateLib> lib;
  unsigned char prepared;
};

// DigestInfo as the signer builds it (digest algorithm without parameters).
class PKCS1DigestEnv : public DigestInfo {
 public:
  explicit PKCS1DigestEnv(unsigned char tag = 0) : DigestInfo(tag) {}
};
