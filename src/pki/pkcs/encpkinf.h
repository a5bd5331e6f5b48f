// PKCS#8 private keys (RFC 5208): PrivateKeyInfo around an RSA, DSA or EC
// key, EncryptedPrivateKeyInfo under one of the two PKCS#12 password-based
// schemes (pbesha1.h), and the RC2 CBC parameter block (RFC 3370).
#pragma once

#include "asn1/asnint.h"
#include "asn1/asnocstr.h"
#include "pki/common/algid.h"
#include "pki/cms/attribute.h"
#include "pki/cms/cmsmembers.h"
#include "pki/pkcs/pbesha1.h"

class RSAPrivateKey;
class DSAPrivateKey;
class ECPrivateKey;

class PrivateKeyInfo : public cmsasn::Sequence<PrivateKeyInfo> {
 public:
  explicit PrivateKeyInfo(unsigned char tag = 0);
  ~PrivateKeyInfo() override;
  PrivateKeyInfo(const PrivateKeyInfo&) = delete;
  PrivateKeyInfo& operator=(const PrivateKeyInfo&) = delete;

  // Version 0, the algorithm and the DER of the key; false when the key
  // cannot be encoded. RSA: rsaEncryption with NULL parameters, the PKCS#1
  // key. DSA: id-dsa with p, q, g, the INTEGER x alone. EC: id-ecPublicKey
  // with the key's curve (NULL without one), an ECPrivateKey holding the
  // private value and, with `withPublicKey`, the public point as [1] (false
  // when the point cannot be computed).
  bool setRsaKey(const RSAPrivateKey& key);
  bool setDsaKey(const DSAPrivateKey& key);
  bool setEcKey(const ECPrivateKey& key, bool withPublicKey);

  // Reads an EC key: 0 read (its curve from non-NULL parameters), 1 not an
  // EC algorithm (id-ecPublicKey, id-ecDH, id-ecMQV), 2 version not 0 or the
  // key or parameters malformed, 3 memory or stream failure.
  int getEcKey(ECPrivateKey& out) const;

  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<4> members() const;
  cmsasn::AllMembers<4> allMembers() {
    return {&version, &privateKeyAlgorithm, &privateKey, &attributes};
  }
  void restoreDefaults() {}

  ASNinteger version;
  AlgorithmIdentifier privateKeyAlgorithm;
  ASNoctstr privateKey;     // wiped when released
  Attributes attributes;    // [0] IMPLICIT, written when it holds an attribute
};

// Copies every member of `source` into `target` (header fields, version,
// algorithm, key, attributes). Throws std::bad_alloc "bad allocation".
void copyPkcs12Record(PrivateKeyInfo& target, const PrivateKeyInfo& source);

class EncryptedPrivateKeyInfo : public cmsasn::Sequence<EncryptedPrivateKeyInfo> {
 public:
  explicit EncryptedPrivateKeyInfo(unsigned char tag = 0);
  ~EncryptedPrivateKeyInfo() override;

  // Encrypts the DER of `content` with cipher 4 (three-key triple DES) or 7
  // (40-bit RC2): 1, or -1 (empty salt or password, memory, cipher). Any
  // other cipher id is the invariant failure "0" of "libpkcs12/encpkinf".
  int encrypt(int cipherId, const unsigned char* password, int passwordLength,
              const unsigned char* salt, int saltLength, uint32_t iterations,
              const ASNobject& content);
  // Decrypts into `out`: 1 decrypted and exactly one encoding of `out`;
  // 0 the cipher refused the data or the password is empty (a wrong
  // password); -1 out of memory; -2 neither scheme, no or bad parameters
  // (empty salt, iteration count over four octets or above
  // PBE_MAX_ITERATIONS), refused before any derivation; -3 the plaintext is
  // not exactly one encoding of `out`. `out` is written only on success (a
  // plaintext that does not decode is cleared away), so a wrong password
  // never leaves a "decrypted" key behind. `text`, when given, is the
  // password as the user typed it, which PBES2 takes (pbeDecrypt).
  int decrypt(const unsigned char* password, int passwordLength, ASNobject& out,
              const unsigned char* text = nullptr, int textLength = 0) const;

  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<2> members() const;
  cmsasn::AllMembers<2> allMembers() { return {&encryptionAlgorithm, &encryptedData}; }
  void restoreDefaults() {}

  AlgorithmIdentifier encryptionAlgorithm;
  ASNoctstr encryptedData;
};

// RC2CBCParameter: rc2ParameterVersion INTEGER, iv OCTET STRING.
class RC2CBCParameter : public cmsasn::Sequence<RC2CBCParameter> {
 public:
  explicit RC2CBCParameter(unsigned char tag = 0);
  ~RC2CBCParameter() override;
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<2> members() const;
  cmsasn::AllMembers<2> allMembers() { return {&rc2ParameterVersion, &iv}; }
  void restoreDefaults() {}

  ASNinteger rc2ParameterVersion;
  ASNoctstr iv;
};
