// RSASSA-PSS-params (RFC 4055), the parameters of an RSASSA-PSS
// AlgorithmIdentifier. Fields equal to their defaults are left out when
// built; absent fields read as their defaults.
#pragma once

#include "asn1/asnexpl.h"
#include "asn1/asnint.h"
#include "pki/common/algid.h"

class RsaPssParams : public ASNsequenceF {
 public:
  explicit RsaPssParams(unsigned char tag = 0);
  ~RsaPssParams() override;

  // Fills the fields from a hash id, the MGF1 hash id, the salt length and
  // the trailer field, leaving out the defaults (SHA-1, MGF1 with SHA-1
  // unless forceMgf, 20, 1). False when a hash id has no OID.
  bool set(int hashType, int forceMgf, int mgfHashType, int saltLength, int trailerField);
  // 1 (SHA-1) when absent, else the hash id of the OID, 0 when unknown.
  int getDigestType() const;
  // 0 for MGF1, -1 otherwise. With `mgfHashType` the MGF1 hash id is stored;
  // without it only MGF1 with SHA-1 answers 0.
  int getMgf(int* mgfHashType) const;
  // The value, or its default; -1 for a negative value or one beyond the
  // range of int.
  int getSaltLength() const;
  int getTrailerField() const;

  // Reads the usual DER forms of the parameters' content (the SEQUENCE's
  // octets) without building the objects: short lengths, digest OIDs of the
  // table with absent or NULL parameters, MGF1, small INTEGERs. True with
  // the values the getters above would give (the MGF1 hash id in mgfHash);
  // false when the content is not of those forms, to be decoded in full.
  static bool readUsual(const unsigned char* content, int length, int* hash, int* mgfHash,
                        int* saltLength, int* trailerField);

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNexpl<AlgorithmIdentifier> hashAlgorithm;     // [0]
  ASNexpl<AlgorithmIdentifier> maskGenAlgorithm;  // [1]
  ASNexpl<ASNinteger> saltLength;                 // [2]
  ASNexpl<ASNinteger> trailerField;               // [3]
  unsigned char hashAlgorithmPresent;
  unsigned char maskGenAlgorithmPresent;
  unsigned char saltLengthPresent;
  unsigned char trailerFieldPresent;

 private:
  ASNobject* member(int i);
  const ASNobject* member(int i) const;
  unsigned char& present(int i);
  unsigned char present(int i) const;
};
