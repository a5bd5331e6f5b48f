// Frames of the Vessik request protocol, spoken with the certification
// authority's message service: a frame (kind, time, one body element) and
// the bodies that ask for a CRL or for certificates.
#pragma once

#include "asn1/asnany.h"
#include "asn1/asnint.h"
#include "pki/names/dname.h"
#include "pki/x509/crl.h"
#include "pki/common/x509time.h"

class ASNVessikRequestFrame : public ASNsequenceF {
 public:
  enum {
    KIND_CERT_REQUEST = 0,
    KIND_CRL_REQUEST = 1,
    KIND_CERT_ANSWER = 2,
    KIND_CERT_ANSWER_MORE = 3,
    KIND_CERT_DONE = 4,
    KIND_CRL_DONE = 5
  };
  explicit ASNVessikRequestFrame(unsigned char tag = 0);
  ~ASNVessikRequestFrame() override;

  // The frame carries a body element (else FF 00 stands in its place).
  bool hasBody() const { return bodyPresent != 0; }
  // Makes `object`'s encoding the body (bad_alloc when it cannot be kept).
  void setBody(const ASNobject& object);
  void clearBody();

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNinteger kind;
  X509time time;  // UTCTime when built, GeneralizedTime accepted
  ASNany body;
  unsigned char bodyPresent;
};

class ASNCrlRequest : public ASNsequenceF {
 public:
  explicit ASNCrlRequest(unsigned char tag = 0);
  ~ASNCrlRequest() override;

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  DistinguishedName issuer;
  X509time time;  // optional
  unsigned char timePresent;
};

class ASNCertificateRequest : public ASNsequenceF {
 public:
  enum { TYPE_BY_NAME = 0, TYPE_1 = 1, TYPE_BY_ISSUER_SERIAL = 2 };
  explicit ASNCertificateRequest(unsigned char tag = 0);
  ~ASNCertificateRequest() override;

  // The identifying element: [type] IMPLICIT with the given content. False
  // for a type outside 0..2 or when memory runs out.
  bool setIdentifier(int type, const unsigned char* content, int n);
  // As setIdentifier with the content of `value`'s encoding.
  bool setIdentifier(int type, const ASNobject& value);
  // 0..2, or -1 when no identifier is set.
  int requestType() const;

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  DistinguishedName issuer;
  ASNany identifier;  // tag 80, 81 or 82
};

// Issuer name and serial number of one certificate: the layout and coding
// of IssuerAndSerialNumber.
class ASNCertificateID : public IssuerAndSerialNumber {
 public:
  explicit ASNCertificateID(unsigned char tag = 0) : IssuerAndSerialNumber(tag) {}
  bool operator==(const ASNCertificateID& other) const;
  bool operator!=(const ASNCertificateID& other) const { return !(*this == other); }
};
