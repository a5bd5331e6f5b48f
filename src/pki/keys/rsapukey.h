// PKCS#1 RSAPublicKey (modulus, publicExponent) joined to the library's RSA
// objects: verification of PKCS#1 v1.5, RSASSA-PSS and raw signatures, and
// PKCS#1 v1.5 encryption. The library key is built on first use after every
// change.
#pragma once

#include "asn1/asnint.h"
#include "crypto/asym/lvrsakey.h"

#include <optional>

class AlgorithmIdentifier;
class MemFile;
class LvRbg;

// An RSA number (modulus, exponent) is a positive INTEGER: content present, sign bit clear
// and not zero (leading zero octets allowed). A negative one is no magnitude to read.
bool rsaPositiveInteger(const ASNinteger& v);

class RSAPublicKey : public ASNsequenceF {
 public:
  // Result codes of the operations.
  enum { OK = 0, INVALID = 1, UNUSABLE = 2, LENGTH = 3, UNSUPPORTED = 4, NO_OUTPUT = 5 };

  // Inline, as the members' own: a key is often made, decoded and dropped for one check.
  explicit RSAPublicKey(unsigned char t = 0)
      : ASNsequenceF(t), modulus(), publicExponent(), lib(), keyPrepared(0) {}
  RSAPublicKey(const RSAPublicKey& other);
  ~RSAPublicKey() override = default;
  RSAPublicKey& operator=(const RSAPublicKey& other);

  // Unsigned big-endian magnitudes.
  bool set(const ASNoctstr& modulus, const ASNoctstr& exponent);
  // 8 times the significant octets of the modulus; 0 when the modulus is not a positive
  // INTEGER (no key has that size).
  unsigned int keyBits() const;

  int verify(const unsigned char* digest, int digestLen, const AlgorithmIdentifier& sigAlg,
             const unsigned char* signature, int sigLen);
  // RSASSA-PSS with parameters already decoded from the signature algorithm (trailer 1):
  // UNSUPPORTED for a mask function other than MGF1, a hash the library lacks or a negative
  // salt length, else as verifyPss.
  int verifyPssDecoded(const unsigned char* digest, int digestLen, int hashId, int saltLength,
                       int mgf, int mgfHash, const unsigned char* signature, int sigLen);
  int verifyPkcs1v15(const unsigned char* digest, int digestLen, int hashId,
                     const unsigned char* signature, int sigLen);
  // mgf: 0 MGF1 (over mgfHash, 0 meaning hashId); saltLength -1: digestLen.
  int verifyPss(const unsigned char* digest, int digestLen, int hashId,
                const unsigned char* signature, int sigLen, int mgf, int mgfHash, int saltLength);
  int verifyRaw(const unsigned char* message, int messageLen, const unsigned char* signature,
                int sigLen);
  int encryptPkcs1v15(const unsigned char* message, int messageLen, LvRbg* rbg, MemFile& out);

  // Reads the usual DER content of an RSAPublicKey (the SEQUENCE's octets): two minimal
  // positive INTEGERs with lengths in their shortest form, filling it exactly. True with the
  // bounds of the two contents as received; false for any other form (negative, zero or
  // non-minimal values, long-form lengths that could be short, trailing octets), which the
  // full decoder reads. decodeContent takes this road for a stream in memory, so both give
  // the same value.
  static bool readUsual(const unsigned char* content, int length, const unsigned char** n,
                        int* nLen, const unsigned char** e, int* eLen);
  // The whole value (SEQUENCE header and content) of that usual form at der[0..length),
  // filling it exactly, read as decode(MemFile, length, 0) reads it and leaving what that
  // leaves: 1, 0 when the octets are of another form or this object's tagging is not the
  // plain SEQUENCE (nothing changed: the full decoder reads them), or EASN_MEM. A key
  // inside a SubjectPublicKeyInfo is read so without a stream and a second walk.
  int decodeUsual(const unsigned char* der, int length);

  void clear() override;
  // Walks both members.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNinteger modulus;
  ASNinteger publicExponent;

  // 1 ready (the key passed the library's public-key check), 0 unusable. Once ready, a
  // verification only reads the key: threads sharing it may verify at once.
  bool prepareKey();

 private:
  // The library key, made in place on first use (no allocation of its own: a key is often
  // decoded for one verification).
  std::optional<LvRsaPublicKey> lib;
  unsigned char keyPrepared;
};
