// Certificate revocation lists (RFC 5280 CertificateList): SignedCertRevList,
// TBSCertRevList and CRLentry, with their text armour; and two companions:
// IssuerAndSerialNumber and CertificateItem / CertificatePath, the in-memory
// records of a certification path.
#pragma once
#include "asn1/asnbase.h"
#include "asn1/asnbitst.h"
#include "asn1/asnexpl.h"
#include "asn1/asnint.h"
#include "asn1/asnseql.h"
#include "pki/common/algid.h"
#include "pki/x509/cert.h"
#include "pki/names/dname.h"
#include "pki/common/extension.h"
#include "pki/keys/subpubkeyinfo.h"
#include "pki/common/x509time.h"

#include <cstdint>

class CRLentry : public ASNsequenceF {
 public:
  explicit CRLentry(unsigned char tag = 0);
  CRLentry(const CRLentry& other);
  ~CRLentry() override;
  CRLentry& operator=(const CRLentry& other);
  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNinteger userCertificate;
  X509time revocationDate;        // UTCTime or GeneralizedTime, as received
  Extensions crlEntryExtensions;  // written when not empty
};

class TBSCertRevList : public ASNsequenceF {
 public:
  explicit TBSCertRevList(unsigned char tag = 0);
  TBSCertRevList(const TBSCertRevList& other);
  ~TBSCertRevList() override;
  // Copies every member with the present flags and the time forms; a source
  // read in place is copied with its received octets.
  TBSCertRevList& operator=(const TBSCertRevList& other);
  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  // Decoded privately (not in place), notes whether the value writes back
  // as the octets received: a signature is checked over those octets only.
  int decode(GenericFile* in, int length, unsigned char flags) override;
  // A version INTEGER beyond 32 bits does not match (0).
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNinteger version;  // written when not 0 (v2 carries 1)
  AlgorithmIdentifier signature;
  DistinguishedName issuer;
  X509time thisUpdate;
  X509time nextUpdate;
  unsigned char nextUpdatePresent;
  ASNsequenceList<CRLentry> revokedCertificates;
  unsigned char revokedCertificatesPresent;
  ASNexpl<Extensions> crlExtensions;  // [0] EXPLICIT, written when not empty
  // Decoded privately from octets its encoding differs from (not DER): no
  // signature verifies over the re-encoding. Kept by copies.
  unsigned char writtenUnlikeReceived = 0;
};

class SignedCertRevList : public ASNsequenceF {
 public:
  explicit SignedCertRevList(unsigned char tag = 0);
  SignedCertRevList(const SignedCertRevList& other);
  ~SignedCertRevList() override;
  // A CRL read in place is copied with its received octets, so the copy's
  // signature still verifies.
  SignedCertRevList& operator=(const SignedCertRevList& other);

  // DER, or the "X509 CRL" text armour when its reader is registered.
  int decode(GenericFile* in, int length, unsigned char flags) override;
  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  // Results of SignedCertificate::verifyWithKey.
  int verifySignature(const SignedCertificate& issuerCertificate) const;
  int verifySignature(const SubPubKeyInfo& key) const;

  TBSCertRevList tbsCertList;
  AlgorithmIdentifier signatureAlgorithm;
  ASNbitstr signature;
};

int decodeCrlArmour(ASNobject* object, GenericFile* in, int length, unsigned char flags);
extern CertificateArmourReader crlArmourReader;
bool registerCrlArmourReader();

class IssuerAndSerialNumber : public ASNsequenceF {
 public:
  explicit IssuerAndSerialNumber(unsigned char tag = 0);
  IssuerAndSerialNumber(const IssuerAndSerialNumber& other);
  ~IssuerAndSerialNumber() override;
  IssuerAndSerialNumber& operator=(const IssuerAndSerialNumber& other);
  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  DistinguishedName issuer;
  ASNinteger serialNumber;
};

// One certificate of a path held by the certificate manager, with what the
// checks found. Never read or written as DER.
class CertificateItem : public ASNsequenceF {
 public:
  explicit CertificateItem(unsigned char tag = 0);
  CertificateItem(const CertificateItem& other);
  ~CertificateItem() override;
  CertificateItem& operator=(const CertificateItem& other);
  void clear() override;
  int decodeContent(GenericFile* in, int length) override;  // 0
  int encodeContent(GenericFile* out) const override;       // -1
  int contentLength() const override;                       // -1
  // Nothing can be written, not even a header: both answer -1.
  int encode(GenericFile* out) const override;
  int encodedLength() const override;
  void digestContent(LvHash* hash) const override;

  SharedCertificate certificate;  // shared with the copies of the item
  ASNenum status;
  X509time time1;  // UTCTime when built
  X509time time2;
  uint32_t wwc;  // check result
  uint32_t revocationState;
  uint32_t revocationSource;
  uint32_t freshCrlWanted;  // first byte used
};

// A certification path: the end certificate first, the trust point last.
class CertificatePath : public ASNsequenceList<CertificateItem> {
 public:
  explicit CertificatePath(unsigned char tag = 0);
  CertificatePath(const CertificatePath& other);
  CertificatePath& operator=(const CertificatePath& other);
  // Takes the other path's items (no copy: a certificate copy is a decode), leaving it empty.
  void takeFrom(CertificatePath& other);

  uint8_t qualifiedRoot;
  uint32_t policyResult;
};
