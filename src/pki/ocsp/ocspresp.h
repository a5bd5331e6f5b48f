// OCSP response structures (RFC 6960): OCSPResponse, ResponseBytes,
// BasicOCSPResponse with its signed ResponseData, SingleResponse, CertID,
// CertStatus and ResponderID. The classes hold and re-encode a response; the
// revocation checker judges it. BasicOCSPResponse adds the signature check.
//
// Decoders answer the framework's codes: 1 exact fit, 0 the encoding does not
// match, -1 stream error, -2 out of memory. Optional and context-tagged
// members are recognised by their identifier octet before they are decoded,
// since the framework would take any context tag on an implicit member.
//
// Responders are not all strict DER, and a signature covers the octets they
// sent: the signed ResponseData and the certificates beside it are kept as
// received (read in place, over a private copy of their octets when the
// response itself is not read in place), so they hash, verify and re-encode
// exactly as received, and are read-only like any value read in place.
#pragma once

#include <initializer_list>

#include "asn1/asnbitst.h"
#include "asn1/asnbool.h"
#include "asn1/asnchoice.h"
#include "asn1/asnexpl.h"
#include "asn1/asnint.h"
#include "asn1/asnobjid.h"
#include "asn1/asnocstr.h"
#include "asn1/asnseql.h"
#include "pki/common/algid.h"
#include "pki/x509/cert.h"
#include "pki/names/dname.h"
#include "pki/common/extension.h"
#include "pki/keys/subpubkeyinfo.h"
#include "pki/common/x509time.h"

// SEQUENCE OF Certificate as OCSP carries it (responder and requestor chains).
class OCSPCertList : public ASNsequenceList<SignedCertificate> {
 public:
  explicit OCSPCertList(unsigned char tag = 0) : ASNsequenceList<SignedCertificate>(tag) {}
  // New certificates are allocated for the copy; bad_alloc "bad allocation"
  // when one cannot be made or appended.
  OCSPCertList& operator=(const OCSPCertList& other);
};

class CertID : public ASNsequenceF {
 public:
  explicit CertID(unsigned char tag = 0);
  CertID(const CertID& other);
  ~CertID() override;
  CertID& operator=(const CertID& other);

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  AlgorithmIdentifier hashAlgorithm;
  ASNoctstr issuerNameHash;
  ASNoctstr issuerKeyHash;
  ASNinteger serialNumber;
};

class RevokedInfo : public ASNsequenceF {
 public:
  explicit RevokedInfo(unsigned char tag = 0);
  ~RevokedInfo() override;
  RevokedInfo& operator=(const RevokedInfo& other);

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  X509time revocationTime;            // GeneralizedTime
  ASNexpl<ASNenum> revocationReason;  // [0] EXPLICIT, optional
  unsigned char revocationReasonPresent;
};

// A CHOICE of these messages. The framework matches alternatives on tag
// class and number only; here only the exact identifier octets of the
// alternatives are taken. One built with nothing chosen answers codes, not
// the framework's invariant: encode 0, encodedLength -1, digest 0 (nothing
// hashed).
class OcspChoice : public ASNchoice {
 public:
  int decode(GenericFile* in, int length, unsigned char flags) override;
  int encode(GenericFile* out) const override;
  int encodedLength() const override;
  int digest(int hashId, unsigned char* digestBuff, int digestBuffLen) const override;
  void updateChoiceDigest(LvHash* hash) const override;

 protected:
  OcspChoice() : ASNchoice(0) {}
  OcspChoice(const OcspChoice& other) = default;
  // The identifier octet `id` starts one of the alternatives.
  virtual bool takes(int id) const = 0;

 private:
  bool nothingChosen() const { return !m_chosenObject && !isConstView(); }
};

// CHOICE { good [0] IMPLICIT NULL, revoked [1] IMPLICIT RevokedInfo,
// unknown [2] IMPLICIT NULL }: identifiers 80, A1 and 82.
class CertStatus : public OcspChoice {
 public:
  enum { STATUS_GOOD = 0, STATUS_REVOKED = 1, STATUS_UNKNOWN = 2 };
  CertStatus();
  CertStatus(const CertStatus& other);
  CertStatus& operator=(const CertStatus& other);
  ASNobject* const* objectList() const override;
  // STATUS_*, or -1 when nothing is chosen.
  int status() const { return chosenIndex(); }

  ASNnull good;
  RevokedInfo revoked;
  ASNnull unknown;

 private:
  bool takes(int id) const override { return id == 0x80 || id == 0xA1 || id == 0x82; }
  mutable ASNobject* list[4];
};

// CHOICE { byName [1] Name, byKey [2] KeyHash }, both EXPLICIT:
// identifiers A1 and A2.
class ResponderID : public OcspChoice {
 public:
  enum { BY_NAME = 0, BY_KEY = 1 };
  ResponderID();
  ResponderID(const ResponderID& other);
  ResponderID& operator=(const ResponderID& other);
  ASNobject* const* objectList() const override;
  ASNexpl<DistinguishedName> byName;
  ASNexpl<ASNoctstr> byKey;

 private:
  bool takes(int id) const override { return id == 0xA1 || id == 0xA2; }
  mutable ASNobject* list[3];
};

class SingleResponse : public ASNsequenceF {
 public:
  explicit SingleResponse(unsigned char tag = 0);
  ~SingleResponse() override;
  SingleResponse& operator=(const SingleResponse& other);

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  CertID certID;
  CertStatus certStatus;
  X509time thisUpdate;                   // GeneralizedTime
  ASNexpl<X509time> nextUpdate;          // [0] EXPLICIT, optional
  ASNexpl<Extensions> singleExtensions;  // [1] EXPLICIT, optional
  unsigned char nextUpdatePresent;
  unsigned char singleExtensionsPresent;
};

class ResponseData : public ASNsequenceF {
 public:
  explicit ResponseData(unsigned char tag = 0);
  ~ResponseData() override;
  // Member by member: the copy is a new value with its own encoding.
  ResponseData& operator=(const ResponseData& other);

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNexpl<ASNinteger> version;  // [0] EXPLICIT, optional
  ResponderID responderID;
  X509time producedAt;  // GeneralizedTime
  ASNsequenceList<SingleResponse> responses;
  ASNexpl<Extensions> responseExtensions;  // [1] EXPLICIT, optional
  unsigned char versionPresent;
  unsigned char responseExtensionsPresent;
};

class BasicOCSPResponse : public ASNsequenceF {
 public:
  explicit BasicOCSPResponse(unsigned char tag = 0);
  ~BasicOCSPResponse() override;

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  // The results of SignedCertificate::verifyWithKey: 1 valid, 0 malformed
  // signature value, -1 key does not fit the algorithm, -2 key unusable,
  // -3 does not match or no signature, -4 unsupported.
  int verifySignature(const SignedCertificate& signerCertificate) const;
  int verifySignature(const SubPubKeyInfo& signerKey) const;

  ResponseData tbsResponseData;
  AlgorithmIdentifier signatureAlgorithm;
  ASNbitstr signature;
  ASNexpl<OCSPCertList> certs;  // [0] EXPLICIT, optional
  unsigned char certsPresent;
};

class ResponseBytes : public ASNsequenceF {
 public:
  explicit ResponseBytes(unsigned char tag = 0);
  ~ResponseBytes() override;

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNobjectId responseType;
  ASNoctstr response;
};

class OCSPResponse : public ASNsequenceF {
 public:
  // OCSPResponseStatus values.
  enum {
    OCSP_SUCCESSFUL = 0,
    OCSP_MALFORMED_REQUEST = 1,
    OCSP_INTERNAL_ERROR = 2,
    OCSP_TRY_LATER = 3,
    OCSP_SIG_REQUIRED = 5,
    OCSP_UNAUTHORIZED = 6
  };
  explicit OCSPResponse(unsigned char tag = 0);
  ~OCSPResponse() override;

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNenum responseStatus;
  ASNexpl<ResponseBytes> responseBytes;  // [0] EXPLICIT, optional
  unsigned char responseBytesPresent;
};

// Shared by the OCSP and request-frame structures.
// Decode flags of a signed member (or one carrying signed values) of
// `owner`: in place within an owner read in place, else in place over a
// private copy of the member's received octets.
unsigned char ocspKeptMemberFlags(const ASNobject& owner);
// The certificates of a list read with ocspKeptMemberFlags are kept as
// received. Under an explicit tag of indefinite length the framework reads
// them privately, and so does the certificate reader for one given as text
// armour: their signatures would be checked over a re-encoding, so such a
// list is refused (false).
bool ocspCertsKept(const ASNexpl<OCSPCertList>& certs);
// Makes an INTEGER member that an earlier decode read in place a private
// value again and sets it to `value` (absent versions read as 0).
void ocspResetInteger(ASNexpl<ASNinteger>& member, uint32_t value);
