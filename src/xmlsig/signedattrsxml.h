// The signed properties of an XAdES signature as the XAdES reader keeps them
// (one record per kind, the first one of each kind) and their view through
// SignedAttributes, with the texts reports show of each record.
#pragma once

#include "asn1/asngent.h"
#include "asn1/asnint.h"
#include "pki/names/dname.h"
#include "pki/sig/sigprops.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

// Type codes of the records.
enum SignedAttributeXmlType : int32_t {
  XADES_ATTR_SIGNING_TIME = 8,
  XADES_ATTR_SIGNING_CERTIFICATE = 9,
  XADES_ATTR_COMMITMENT_TYPE = 14,
  XADES_ATTR_SIGNATURE_POLICY = 15,
  XADES_ATTR_PRODUCTION_PLACE = 16,
  XADES_ATTR_SIGNER_ROLE = 17,
  XADES_ATTR_DATA_OBJECT_FORMAT = 18,
};

class SignedAttributeXml {
 public:
  explicit SignedAttributeXml(int32_t t) : type(t) {}
  virtual ~SignedAttributeXml();
  // The record's text for reports (Windows-1250 where the library writes it).
  virtual std::string describe() const = 0;

  const int32_t type;
};

class SignedAttributeXmlSigningTime : public SignedAttributeXml {
 public:
  SignedAttributeXmlSigningTime() : SignedAttributeXml(XADES_ATTR_SIGNING_TIME) {}
  std::string describe() const override;  // "YYYY.MM.DD hh:mm:ss"

  ASNgenTime time;
};

class SignedAttributeXmlSigningCertificate : public SignedAttributeXml {
 public:
  SignedAttributeXmlSigningCertificate() : SignedAttributeXml(XADES_ATTR_SIGNING_CERTIFICATE) {}
  std::string describe() const override;  // "Skrót certyfikatu: <HEX> (HEX)"

  std::string digest;
  int32_t hashId = 0;
  DistinguishedName issuer;
  ASNinteger serial;
  // Set when the signer is to be matched on issuer and serial as well as
  // on the digest (SigningCertificateV2 with its IssuerSerialV2).
  bool matchIssuerSerial = false;
};

class SignedAttributeXmlCommitmentType : public SignedAttributeXml {
 public:
  SignedAttributeXmlCommitmentType() : SignedAttributeXml(XADES_ATTR_COMMITMENT_TYPE) {}
  // The text of a known commitment type, else the URI itself.
  std::string describe() const override;

  std::string uri;
  bool allDataObjects = false;
  std::vector<std::string> objectReferences;
};

// Types 15 to 18: the element as XML text.
class SignedAttributeXmlText : public SignedAttributeXml {
 public:
  explicit SignedAttributeXmlText(int32_t t) : SignedAttributeXml(t) {}
  std::string describe() const override { return text; }

  std::string text;
};

class SignedAttributeXmlSignaturePolicyIdentifier : public SignedAttributeXmlText {
 public:
  SignedAttributeXmlSignaturePolicyIdentifier() : SignedAttributeXmlText(XADES_ATTR_SIGNATURE_POLICY) {}
};

class SignedAttributeXmlSignatureProductionPlace : public SignedAttributeXmlText {
 public:
  SignedAttributeXmlSignatureProductionPlace() : SignedAttributeXmlText(XADES_ATTR_PRODUCTION_PLACE) {}
};

class SignedAttributeXmlSignerRole : public SignedAttributeXmlText {
 public:
  SignedAttributeXmlSignerRole() : SignedAttributeXmlText(XADES_ATTR_SIGNER_ROLE) {}
};

class SignedAttributeXmlDataObjectFormat : public SignedAttributeXmlText {
 public:
  SignedAttributeXmlDataObjectFormat() : SignedAttributeXmlText(XADES_ATTR_DATA_OBJECT_FORMAT) {}
};

// The text a report shows for a commitment type URI; null for an unknown one.
const char* commitmentTypeText(const std::string& uri);

class SignedAttributesXml : public SignedAttributes {
 public:
  SignedAttributesXml();
  ~SignedAttributesXml() override;

  // Keeps `record` unless a record of its type is there already (then it is
  // deleted). True when kept.
  bool add(std::unique_ptr<SignedAttributeXml> record);
  const SignedAttributeXml* find(int32_t type) const;

  int32_t count() const override { return int32_t(records.size()); }
  // The index-th record in type order: 20 when index is out of range.
  int32_t attribute(int32_t index, int32_t* type, char** text, int32_t* length) const override;
  // Invariant: a SigningCertificate record exists.
  const std::string* signingCertificateDigest() const override;
  int32_t signingCertificateDigestAlgorithm() const override;
  // Invariant: a SigningTime record exists.
  const ASNgenTime* signingTime() const override;
  bool hasSigningTime() const override { return find(XADES_ATTR_SIGNING_TIME) != nullptr; }

 private:
  std::map<int32_t, std::unique_ptr<SignedAttributeXml>> records;
};
