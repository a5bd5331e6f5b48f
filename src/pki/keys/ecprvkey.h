// SEC 1 ECPrivateKey (version, private scalar, [0] parameters, [1] public
// key) with EC-DSA signing and derivation of the public point.
#pragma once

#include "asn1/asnexpl.h"
#include "asn1/asnint.h"
#include "asn1/asnocstr.h"
#include "pki/keys/dsaparms.h"
#include "pki/keys/ecparams.h"
#include "pki/keys/ecpubkey.h"

#include <memory>

class LvRbg;
struct EcPrivateLib;

class ECPrivateKey : public ASNsequenceF {
 public:
  explicit ECPrivateKey(unsigned char tag = 0);
  ~ECPrivateKey() override;
  ECPrivateKey& operator=(const ECPrivateKey& other);
  bool operator==(const ECPrivateKey& other) const;

  // -1 digest length differs from the hash's, else sign.
  int signDigest(const unsigned char* digest, int digestLen, int hashType, LvRbg* rbg,
                 DSASignature& out);
  // 1 success, 0 nothing usable produced, -2 out of memory, -3 key not ready
  // or refused, -4 no curve.
  int sign(const unsigned char* digest, int digestLen, LvRbg* rbg, DSASignature& out);
  bool getPublicKey(ECPublicKey& out, const ECDomainParameters* params = nullptr) const;
  bool getPublicKeyOctets(ASNoctstr& out, const ECDomainParameters* params = nullptr) const;

  void clear() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNinteger version;
  ASNoctstr privateKey;
  ASNexpl<ECDomainParameters> parameters;
  ASNexpl<ECPublicKey> publicKey;
  unsigned char parametersPresent;
  unsigned char publicKeyPresent;

 private:
  void unprepare();
  std::unique_ptr<EcPrivateLib> lib;
  const LvGeneralDsaKeyDomain* domain;
  unsigned char prepared;
};
