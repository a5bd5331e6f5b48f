// Time-stamp protocol structures (RFC 3161): the request, the response with
// its status, the token content TSTInfo with Accuracy and MessageImprint, and
// the in-memory token that pairs a received token with its TSTInfo and the
// results the time-stamp layer writes. Structure only: the time-stamp layer
// builds, sends and checks.
//
// Optional members are recognised by their identifier octet in any order; a
// member seen twice, or an element that is none of them, does not match.
// BOOLEAN members DEFAULT FALSE are written only when true (DER).
#pragma once

#include "asn1/asnany.h"
#include "asn1/asnbitst.h"
#include "asn1/asnbool.h"
#include "asn1/asngent.h"
#include "asn1/asnint.h"
#include "asn1/asnobjid.h"
#include "asn1/asnseql.h"
#include "pki/common/algid.h"
#include "pki/cms/cmsmembers.h"
#include "pki/names/dname.h"
#include "pki/common/extension.h"
#include "pki/cms/sgndata.h"

#include <memory>

// MessageImprint: the layout and coding of DigestInfo (hashAlgorithm is
// digestAlgorithm, hashedMessage is digest).
class MessageImprint : public DigestInfo {
 public:
  explicit MessageImprint(unsigned char tag = 0) : DigestInfo(tag) {}
};

class TimeStampRequest : public cmsasn::Sequence<TimeStampRequest> {
 public:
  explicit TimeStampRequest(unsigned char tag = 0);
  ~TimeStampRequest() override;
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<6> members() const;
  cmsasn::AllMembers<6> allMembers();
  void restoreDefaults();

  ASNinteger version;
  MessageImprint messageImprint;
  ASNobjectId reqPolicy;  // optional
  ASNinteger nonce;       // optional
  ASNbool certReq;        // DEFAULT FALSE
  Extensions extensions;  // [0] IMPLICIT, optional
  unsigned char reqPolicyPresent;
  unsigned char noncePresent;
  unsigned char certReqPresent;
  unsigned char extensionsPresent;
};

class PKIStatusInfo : public cmsasn::Sequence<PKIStatusInfo> {
 public:
  // PKIStatus values.
  enum {
    GRANTED = 0,
    GRANTED_WITH_MODS = 1,
    REJECTION = 2,
    WAITING = 3,
    REVOCATION_WARNING = 4,
    REVOCATION_NOTIFICATION = 5
  };
  explicit PKIStatusInfo(unsigned char tag = 0);
  ~PKIStatusInfo() override;
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<3> members() const;
  cmsasn::AllMembers<3> allMembers();
  void restoreDefaults();

  ASNinteger status;
  ASNsequenceList<ASNany> statusString;  // PKIFreeText: UTF8String texts held raw; optional
  ASNbitstr failInfo;                    // optional
  unsigned char statusStringPresent;
  unsigned char failInfoPresent;
};

class TimeStampResponse : public cmsasn::Sequence<TimeStampResponse> {
 public:
  explicit TimeStampResponse(unsigned char tag = 0);
  ~TimeStampResponse() override;
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<2> members() const;
  cmsasn::AllMembers<5> allMembers();
  void restoreDefaults();

  PKIStatusInfo status;
  SignedMessage timeStampToken;  // optional
  unsigned char timeStampTokenPresent;
};

class Accuracy : public cmsasn::Sequence<Accuracy> {
 public:
  explicit Accuracy(unsigned char tag = 0);
  Accuracy(const Accuracy& other);
  ~Accuracy() override;
  Accuracy& operator=(const Accuracy& other);
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<3> members() const;
  cmsasn::AllMembers<3> allMembers();
  void restoreDefaults();

  ASNinteger seconds;  // optional
  ASNinteger millis;   // [0] IMPLICIT, optional; no range enforced
  ASNinteger micros;   // [1] IMPLICIT, optional; no range enforced
  unsigned char secondsPresent;
  unsigned char millisPresent;
  unsigned char microsPresent;
};

class TimeStampTokenInfo : public cmsasn::Sequence<TimeStampTokenInfo> {
 public:
  explicit TimeStampTokenInfo(unsigned char tag = 0);
  ~TimeStampTokenInfo() override;
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<10> members() const;
  cmsasn::AllMembers<10> allMembers();
  void restoreDefaults();

  ASNinteger version;
  ASNobjectId policy;
  MessageImprint messageImprint;
  ASNinteger serialNumber;
  ASNgenTime genTime;
  Accuracy accuracy;      // optional
  ASNbool ordering;       // DEFAULT FALSE
  ASNinteger nonce;       // optional
  ASNany tsa;             // [0] GeneralName, held raw; optional
  Extensions extensions;  // [1] IMPLICIT, optional
  unsigned char accuracyPresent;
  unsigned char orderingPresent;
  unsigned char noncePresent;
  unsigned char tsaPresent;
  unsigned char extensionsPresent;
};

// A received token with its TSTInfo (filled by the time-stamp layer from the
// token's encapsulated content) and what the time-stamp layer found when it
// verified the token.
class TimeStampToken {
 public:
  TimeStampToken();
  virtual ~TimeStampToken();
  TimeStampToken(const TimeStampToken&) = delete;
  TimeStampToken& operator=(const TimeStampToken&) = delete;

  SignedMessage token;
  TimeStampTokenInfo tstInfo;
  int32_t result = 0;
  int32_t status = 1;
  int32_t qualification = 1;
  int32_t reason = 0;
  bool checked = false;
  bool used = false;
  // Copies of the token signer's certificate, issuer and subject names.
  std::unique_ptr<SignedCertificate> signerCertificate;
  std::unique_ptr<DistinguishedName> signerIssuer;
  std::unique_ptr<DistinguishedName> signerSubject;
};
