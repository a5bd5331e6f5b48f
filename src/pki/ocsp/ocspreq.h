// OCSP request structures (RFC 6960): OCSPRequest, TBSRequest, Request and
// the optional Signature. The revocation checker fills and encodes a
// request; decoding is checked as strictly as for responses. As there, the
// signed TBSRequest and the requestor's certificates of a decoded request
// are kept as received (see ocspresp.h).
#pragma once

#include "asn1/asnany.h"
#include "pki/ocsp/ocspresp.h"

class Request : public ASNsequenceF {
 public:
  explicit Request(unsigned char tag = 0);
  ~Request() override;

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  CertID reqCert;
  ASNexpl<Extensions> singleRequestExtensions;  // [0] EXPLICIT, optional
  unsigned char singleRequestExtensionsPresent;
};

class TBSRequest : public ASNsequenceF {
 public:
  explicit TBSRequest(unsigned char tag = 0);
  ~TBSRequest() override;

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  // version, requestorName and requestList may come in any order;
  // requestExtensions only after the list.
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNexpl<ASNinteger> version;    // [0] EXPLICIT, optional; 0 when absent
  ASNexpl<ASNany> requestorName;  // [1] EXPLICIT GeneralName, kept undecoded
  ASNsequenceList<Request> requestList;
  ASNexpl<Extensions> requestExtensions;  // [2] EXPLICIT, optional
  unsigned char versionPresent;
  unsigned char requestorNamePresent;
  unsigned char requestExtensionsPresent;
};

class Signature : public ASNsequenceF {
 public:
  explicit Signature(unsigned char tag = 0);
  ~Signature() override;

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  AlgorithmIdentifier signatureAlgorithm;
  ASNbitstr signature;
  ASNexpl<OCSPCertList> certs;  // [0] EXPLICIT, optional
  unsigned char certsPresent;
};

class OCSPRequest : public ASNsequenceF {
 public:
  explicit OCSPRequest(unsigned char tag = 0);
  ~OCSPRequest() override;

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  TBSRequest tbsRequest;
  ASNexpl<Signature> optionalSignature;  // [0] EXPLICIT, optional
  unsigned char optionalSignaturePresent;
};
