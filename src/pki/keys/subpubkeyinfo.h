// SubjectPublicKeyInfo (RFC 5280) with the key decoded into the structure of
// its algorithm, and the one place where signatures are verified with such a
// key. Verification answers with a code and never throws for bad input
// (only allocation failures leave as std::bad_alloc).
#pragma once

#include "asn1/asnbitst.h"
#include "pki/common/algid.h"
#include "pki/keys/dsaparms.h"
#include "pki/keys/dsapukey.h"
#include "pki/keys/ecparams.h"
#include "pki/keys/ecpubkey.h"
#include "pki/keys/rsapukey.h"

#include <memory>

// RSA keys whose modulus is longer than this take public exponents of at most
// RSA_MAX_LONG_MODULUS_EXPONENT_BITS bits (-1 otherwise).
constexpr unsigned int RSA_LONG_EXPONENT_MODULUS_BITS = 3072;
constexpr unsigned int RSA_MAX_LONG_MODULUS_EXPONENT_BITS = 64;

class SubPubKeyInfo : public ASNsequenceF {
 public:
  // Results of the verifications.
  enum {
    SIG_VALID = 1,
    SIG_INVALID = 0,
    SIG_KEY_UNUSABLE = -1,
    SIG_MALFORMED = -2,
    SIG_KEY_MISMATCH = -3,
    SIG_UNSUPPORTED = -4  // also an EC point off its curve or a digest of another length
  };

  explicit SubPubKeyInfo(unsigned char t = 0)
      : ASNsequenceF(t), algorithm(), subjectPublicKey(), rsaKey() {}
  SubPubKeyInfo(const SubPubKeyInfo& other);
  ~SubPubKeyInfo() override = default;
  SubPubKeyInfo& operator=(const SubPubKeyInfo& other);

  bool isEcKey() const;
  unsigned int keyBits() const;
  unsigned int keyBytes() const { return (keyBits() + 7) / 8; }
  // SHA-1 of the key bits (the BIT STRING content after its first octet).
  bool keyIdentifier(unsigned char out[20]) const;
  // The 8-octet form (RFC 5280 4.2.1.2 method 2).
  bool shortKeyId(unsigned char out[8]) const;

  // The work units one signature check with this key costs, from the key's
  // sizes (paid to the thread's work account before the check runs; a check
  // the account cannot pay answers -4 without running).
  uint64_t verificationPrice() const;
  // An RSA key whose modulus passes RSA_LONG_EXPONENT_MODULUS_BITS with a longer
  // exponent than RSA_MAX_LONG_MODULUS_EXPONENT_BITS.
  bool rsaExponentRefused() const;
  int verifyDigest(const AlgorithmIdentifier& sigAlg, const unsigned char* digest, int digestLen,
                   const unsigned char* signature, int sigLen);
  // For a key several threads verify with: an RSA key's library key is made now, under the
  // caller's lock, after which verifyDigest, verifyData and verifyObject only read the key.
  // False for any other key (its verification still builds parts as it goes) and for an
  // unusable one.
  bool prepareForSharedUse();
  int verifyObject(const AlgorithmIdentifier& sigAlg, const ASNobject& signedObject,
                   const unsigned char* signature, int sigLen);
  int verifyData(const AlgorithmIdentifier& sigAlg, const unsigned char* data, int dataLen,
                 const unsigned char* signature, int sigLen);
  // The signature as the BIT STRING of a certificate, CRL or response: a
  // value with unused bits is malformed (-2).
  int verifyDigest(const AlgorithmIdentifier& sigAlg, const unsigned char* digest, int digestLen,
                   const ASNbitstr& signature);
  int verifyObject(const AlgorithmIdentifier& sigAlg, const ASNobject& signedObject,
                   const ASNbitstr& signature);
  int verifyData(const AlgorithmIdentifier& sigAlg, const unsigned char* data, int dataLen,
                 const ASNbitstr& signature);

  // Reads the usual DER content of an rsaEncryption key (the SEQUENCE's octets): the
  // algorithm with NULL parameters and a BIT STRING without unused bits, lengths in their
  // shortest form, filling it exactly. True with the bounds of the key bits (the
  // RSAPublicKey, not looked at here); false for any other form, which the full decoder
  // reads. decodeContent takes this road for a stream in memory, so both give the same value.
  static bool readUsualRsa(const unsigned char* content, int length, const unsigned char** bits,
                           int* bitsLength);

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  AlgorithmIdentifier algorithm;
  ASNbitstr subjectPublicKey;
  RSAPublicKey rsaKey;
  // The DSA and EC parts are built when first written (a decode of such a
  // key, or a caller's change), so an RSA key never pays for them; read from
  // a const key that has none, they are the empty values a decode leaves.
  DSAPublicKey& dsaKey() { return dsaParts().key; }
  const DSAPublicKey& dsaKey() const { return dsa ? dsa->key : emptyDsa().key; }
  DSAParameters& dsaParameters() { return dsaParts().parameters; }
  const DSAParameters& dsaParameters() const {
    return dsa ? dsa->parameters : emptyDsa().parameters;
  }
  ECPublicKey& ecKey() { return ecParts().key; }
  const ECPublicKey& ecKey() const { return ec ? ec->key : emptyEc().key; }
  ECDomainParameters& ecParameters() { return ecParts().parameters; }
  const ECDomainParameters& ecParameters() const {
    return ec ? ec->parameters : emptyEc().parameters;
  }

 private:
  struct DsaParts {
    DSAPublicKey key;
    DSAParameters parameters;
  };
  struct EcParts {
    EcParts();
    ECPublicKey key;
    ECDomainParameters parameters;
  };
  DsaParts& dsaParts();
  EcParts& ecParts();
  static const DsaParts& emptyDsa();
  static const EcParts& emptyEc();
  std::unique_ptr<DsaParts> dsa;
  std::unique_ptr<EcParts> ec;

  // A signature algorithm's digest and, for RSASSA-PSS, its parameters: decoded once per
  // check rather than by every layer that needs one of them.
  struct SigAlgParams {
    int kind = 0;  // a SignatureKind
    int hashId = 0, digestLen = 0;
    bool pss = false;
    int salt = 0, mgf = 0, mgfHash = 0, trailer = 0;
  };
  static bool readSigAlg(const AlgorithmIdentifier& sigAlg, SigAlgParams& out);

  void clearDerived();
  // The members from the usual form at the stream (read past it): 1, 0 when the content is
  // not of that form (the stream unmoved), or EASN_MEM. Only for decodeContent, after it
  // has cleared the members.
  int decodeUsualRsa(GenericFile* in, int length);
  // rsa: the algorithm is known to be rsaEncryption.
  int decodeKey(bool rsa);
  // sp: sigAlg already read, or null.
  int verifyDigestWith(const AlgorithmIdentifier& sigAlg, const SigAlgParams* sp,
                       const unsigned char* digest, int digestLen, const unsigned char* signature,
                       int sigLen);
  // pssSig: the algorithm is RSASSA-PSS; else hashId is the PKCS#1 v1.5 signature's hash.
  int verifyRsa(const AlgorithmIdentifier& sigAlg, const SigAlgParams* sp, bool pssSig,
                int hashId, const unsigned char* digest, int digestLen,
                const unsigned char* signature, int sigLen);
  int verifyDsa(const AlgorithmIdentifier& sigAlg, const unsigned char* digest, int digestLen,
                const unsigned char* signature, int sigLen);
  int verifyEc(const AlgorithmIdentifier& sigAlg, const unsigned char* digest, int digestLen,
               const unsigned char* signature, int sigLen);
};
