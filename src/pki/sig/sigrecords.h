// Records of signature verification: one SigInfo per signature (or per
// time-stamp token verified as a signature) gathered in a MsgInfo; the
// status, reason, form and qualification vocabulary shared by the XML and
// CMS roads; the time-stamp token lists with their ordering; the warning
// bits of the library context.
#pragma once

#include "asn1/stlptrlist.h"
#include "base/typedptrlist.h"
#include "pki/cms/tsp.h"
#include "pki/common/x509time.h"
#include "pki/x509/crl.h"

#include <cstdint>

class SignatureProperties;
class MsgInfo;

// Statuses: lower is worse.
enum SignatureStatus : int32_t {
  SIG_STATUS_NOT_VERIFIABLE = 1,
  SIG_STATUS_NEGATIVE = 2,
  SIG_STATUS_INCOMPLETE = 3,
  SIG_STATUS_VALID = 4,
};

// Reason codes (16 does not exist).
enum SignatureReason : int32_t {
  SIG_REASON_NONE = 0,
  SIG_REASON_NO_SIGNER_CERTIFICATE = 1,
  SIG_REASON_NO_PATH = 2,
  SIG_REASON_VALUE_MATH = 3,
  SIG_REASON_VALUE_SYNTAX = 4,
  SIG_REASON_DIGEST_MISMATCH = 5,
  SIG_REASON_REVOKED = 6,
  SIG_REASON_OUTSIDE_VALIDITY = 7,
  SIG_REASON_POLICIES = 8,
  SIG_REASON_NO_CRL_OR_OCSP = 9,
  SIG_REASON_STALE_CRL_OR_OCSP = 10,
  SIG_REASON_CRL_OR_OCSP_EARLIER = 11,
  SIG_REASON_NO_ARL_OR_OCSP = 12,
  SIG_REASON_STALE_ARL_OR_OCSP = 13,
  SIG_REASON_ARL_OR_OCSP_EARLIER = 14,
  SIG_REASON_SUSPENDED = 15,
  SIG_REASON_PATH_FAILED = 17,
  SIG_REASON_CRL_FETCH_FAILED = 18,
  SIG_REASON_ARL_FETCH_FAILED = 19,
  SIG_REASON_ARCHIVE_TIMESTAMP = 20,
  SIG_REASON_MALFORMED = 21,
  SIG_REASON_NO_CRL_FOR_EXPIRED_SIGNER = 22,
  SIG_REASON_TIMESTAMP_LATER = 23,
};

// Signer qualification.
enum SignerQualification : int32_t {
  SIG_QUALIFICATION_UNKNOWN = 1,
  SIG_QUALIFICATION_QUALIFIED = 2,
  SIG_QUALIFICATION_ORDINARY = 3,
};

// Form codes: 3 plain, 4 BES, 5 T, 6-8 C, 9-11 X, 12 A.
enum SignatureForm : int32_t {
  SIG_FORM_UNKNOWN = 0,
  SIG_FORM_PLAIN = 3,
  SIG_FORM_BES = 4,
  SIG_FORM_T = 5,
  SIG_FORM_C = 6,
  SIG_FORM_X = 9,
  SIG_FORM_XL = 9,
  SIG_FORM_A = 12,
};

// Warning bits of the library context (read after the warning code 10).
enum ContextWarning : uint32_t {
  WARN_TIMESTAMP_REQUEST_UNSIGNED = 0x40,
  WARN_TIMESTAMP_RESPONSE_REFUSED = 0x200,
  WARN_NO_TIMESTAMP_SERVER = 0x400,
  WARN_DIGEST_NOT_SHA1_RIPEMD160 = 0x4000,
  WARN_NO_SIGNING_CERTIFICATE = 0x8000,
};

// Texts (Windows-1250, static); null for a code outside the table. Not
// named signatureStatusText: that is the C entry point of talvorin.h, and
// one unit may include both headers.
const char* sigStatusText(int32_t status);
// The report line of a status for a signature or a time-stamp token,
// without the line end; null outside 1..4.
const char* signatureStatusReportLine(int32_t status, bool timeStamp);
const char* signatureReasonText(int32_t reason);
// "Nieznany format podpisu" for a code outside the table.
const char* signatureFormName(int32_t form, bool xml);
// The qualification line for a signature or a time-stamp token; null for a
// code other than 1, 2, 3.
const char* signerQualificationText(int32_t qualification, bool timeStamp);

// Weight of a revocation reason that leaves a signature incomplete; 0 for a
// reason without one.
int32_t reasonSeverity(int32_t reason);
// True when `candidate` has a weight greater than `current`'s: a reason
// without weight never replaces one.
bool reasonOutranks(int32_t candidate, int32_t current);

// Tokens of a signature, told apart by the list that holds them.
class SignatureTimeStampToken : public TimeStampToken {
 public:
  ~SignatureTimeStampToken() override;
};

class ArchiveTimeStampToken : public TimeStampToken {
 public:
  ~ArchiveTimeStampToken() override;
};

// The same token: the same object, or equal policy, imprint algorithm and
// value, serial number and genTime.
bool sameTimeStampToken(const TimeStampToken& a, const TimeStampToken& b);
// Serial numbers as signed integers: -1, 0, 1.
int compareSerialNumbers(const ASNinteger& a, const ASNinteger& b);

// Latest first: genTime descending, then serial ascending. Two tokens with
// equal genTime and serial throw TalApiException 89 with the list untouched.
void sortTimeStampTokens(std::list<TimeStampToken*>& tokens);

class SignatureTimeStampTokens : public TimeStampTokens<SignatureTimeStampToken> {
 public:
  void sortTokens() override;
};

class ArchiveTimeStampTokens : public TimeStampTokens<ArchiveTimeStampToken> {
 public:
  void sortTokens() override;
};

// The outcome of verifying one signature: its signer's path (the base) and
// what the verification found.
class SigInfo : public CertificatePath {
 public:
  SigInfo();
  virtual ~SigInfo();
  SigInfo(const SigInfo&) = delete;
  SigInfo& operator=(const SigInfo&) = delete;

  // Takes ownership of `p` (the previous properties are deleted).
  void setProperties(SignatureProperties* p);

  MsgInfo* owner = nullptr;                     // not owned
  SignatureProperties* properties = nullptr;    // owned
  int32_t status = 0;
  int32_t reason = 0;
  int32_t qualification = 0;
  SignatureTimeStampTokens timeStampTokens;     // moved here after a T, C or X verification
  X509time verificationTime{TAG_UTCT_TIME};
  int32_t form = 0;
};

// The signatures of one message; owns them. The message status is the
// worst status of its signatures.
class MsgInfo : public TypedPointerList<SigInfo> {
 public:
  MsgInfo();
  ~MsgInfo() override;

  // Appends `info` (owned when the list owns), sets its owner and lowers the
  // message status to its status when that is lower. False (nothing kept,
  // `info` not deleted) when it cannot be appended.
  bool addSignature(SigInfo* info);

  int32_t status = SIG_STATUS_VALID;
};
