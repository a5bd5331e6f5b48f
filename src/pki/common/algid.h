// AlgorithmIdentifier (RFC 5280): an algorithm OID with optional parameters
// of any type, and DigestInfo (PKCS#1). The presence byte keeps absent and
// NULL parameters apart: they compare unequal and re-encode differently.
#pragma once

#include "asn1/asnany.h"
#include "asn1/asnbase.h"
#include "asn1/asnobjid.h"
#include "asn1/asnocstr.h"

class AlgorithmIdentifier : public ASNsequenceF {
 public:
  // A tag with class bits is kept (implicit tagging, constructed); any
  // other value gives SEQUENCE.
  explicit AlgorithmIdentifier(unsigned char t = 0)
      : ASNsequenceF(t), algorithm(), parameters(TAG_ANY), parametersPresent(0) {}
  AlgorithmIdentifier(const AlgorithmIdentifier& other);
  ~AlgorithmIdentifier() override = default;
  // Copies the presence byte, the OID and, when present, the parameters.
  AlgorithmIdentifier& operator=(const AlgorithmIdentifier& other);
  // Equal OIDs, equal presence and, when present, equal parameters (tag,
  // length and content).
  bool operator==(const AlgorithmIdentifier& other) const;
  bool operator!=(const AlgorithmIdentifier& other) const { return !(*this == other); }

  // The OID, and the parameters as the encoding of `params` (present) or
  // none (absent). False when `params` cannot be encoded.
  bool set(const ASNobjectId& oid, const ASNobject* params);
  // Digest, RSA PKCS#1 v1.5 signature and rsaEncryption identifiers with NULL
  // parameters; false when the hash id has no OID.
  bool setDigest(int hashId);
  bool setRsaSignature(int hashId);
  bool setRsaEncryption();
  // DSA and EC-DSA signature identifiers, written without parameters as
  // RFC 3279 and RFC 5758 require; false when the hash id has no OID.
  bool setDsaSignature(int hashId);
  bool setEcdsaSignature(int hashId);
  // id-dsa and id-ecPublicKey keys: parameters present, the encoding of
  // `params`, or NULL when none is given.
  bool setDsaKey(const ASNobject* params);
  bool setEcKey(const ASNobject* params);

  // Hash id and digest length of a signature identifier: the RSA, DSA and
  // EC-DSA tables, then the RSASSA-PSS parameters (false when absent).
  bool getDigestType(int* hashId, int* digestLen) const;
  // RSASSA-PSS parameters with their defaults (SHA-1, MGF1 = 0 with SHA-1,
  // salt 20, trailer 1). Without `present` absent parameters fail; an
  // output not asked for must hold its default value, else false.
  bool getRsaPssParams(int* hash, int* saltLength, int* mgf, int* mgfHash, int* trailerField,
                       bool* present) const;

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNobjectId algorithm;
  ASNany parameters;
  unsigned char parametersPresent;

 private:
  bool setNullParameters();
};

class DigestInfo : public ASNsequenceF {
 public:
  explicit DigestInfo(unsigned char tag = 0);
  ~DigestInfo() override;

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  AlgorithmIdentifier digestAlgorithm;
  ASNoctstr digest;
};
