// The abstract description of one signature that the verification engine
// reads (SignatureProperties) and of its signed attributes
// (SignedAttributes), whether the signature is XML or CMS, with the
// reference and value lists a signature carries.
#pragma once

#include "asn1/stlptrlist.h"
#include "pki/cms/esscades.h"
#include "pki/cms/tsp.h"
#include "pki/common/algid.h"
#include "pki/ocsp/ocspresp.h"
#include "pki/sig/sigrecords.h"
#include "pki/x509/cert.h"
#include "pki/x509/crl.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct talCtx;

// A certificate reference (CertID form): digest algorithm and value, issuer
// and serial. The record the CMS reference lists already use.
using SignatureCrtRef = CertRefRecord;

// A CRL or an OCSP reference.
struct SignatureCrlOrOcspRef {
  enum Kind : int32_t { CRL = 1, OCSP = 2 };
  int32_t kind = CRL;
  CrlRefRecord crl;    // kind CRL
  OcspRefRecord ocsp;  // kind OCSP; an empty digest means none was given
};

// One revocation value: a CRL or a BasicOCSPResponse (either may be absent);
// both are deleted with the record only when it owns them.
struct CrlOrOcspValue {
  CrlOrOcspValue() = default;
  CrlOrOcspValue(SignedCertRevList* c, const BasicOCSPResponse* o, uint8_t own)
      : owns(own), crl(c), ocsp(o) {}
  ~CrlOrOcspValue();
  CrlOrOcspValue(const CrlOrOcspValue&) = delete;
  CrlOrOcspValue& operator=(const CrlOrOcspValue&) = delete;

  uint8_t owns = 1;
  SignedCertRevList* crl = nullptr;
  const BasicOCSPResponse* ocsp = nullptr;
  // Keeps `crl` alive when it is shared with its keeper rather than owned (a
  // CRL may hold millions of entries: it is not copied for each record).
  std::shared_ptr<const SignedCertRevList> sharedCrl;
  // Keeps `ocsp` alive when it is shared with the revocation manager (a
  // verified response never changes) rather than owned.
  std::shared_ptr<const BasicOCSPResponse> sharedOcsp;
};

// One named parameter of a signature verification, as texts; an owning
// SignatureVerifierParams list deletes the records (and their texts).
struct SignatureVerifierParam {
  std::string name;
  std::string value;
};

class SignatureVerifierParams : public StlPointerList<SignatureVerifierParam> {};
class SignatureCrtRefs : public StlPointerList<SignatureCrtRef> {};
class SignatureCrlOrOcspRefs : public StlPointerList<SignatureCrlOrOcspRef> {};
class SignatureCrtValues : public StlPointerList<SignedCertificate> {};
class SignatureRevValues : public StlPointerList<CrlOrOcspValue> {};

// Certificates and revocation values collected together.
struct CrtAndRevValues {
  SignatureCrtValues certificates;
  SignatureRevValues revocations;
};

// What the engine collected while verifying a signature: the data of the
// path first, other data met on the way second.
struct ValidationData {
  CrtAndRevValues path;
  CrtAndRevValues other;
};

// Signature schemes of SignatureProperties::scheme; any other value skips
// the signature-value check.
enum SignatureScheme : int32_t {
  SIG_SCHEME_RSA_PKCS1 = 0,
  SIG_SCHEME_DSA = 1,
  SIG_SCHEME_ECDSA = 2,
  SIG_SCHEME_RSA_PSS = 3,
  SIG_SCHEME_NONE = -1,
};

// Kinds of storeTimeStampToken.
enum TimeStampKind : int32_t {
  TIMESTAMP_KIND_SIGNATURE = 0,
  TIMESTAMP_KIND_ARCHIVE = 5,
};

class SignedAttributes {
 public:
  virtual ~SignedAttributes();
  virtual int32_t count() const = 0;
  // The index-th attribute: its type, a new NUL-terminated text (released by
  // the caller with delete[]) and the text length counting the NUL. 20 when
  // the index is not below the count, 0 otherwise.
  virtual int32_t attribute(int32_t index, int32_t* type, char** text, int32_t* length) const = 0;
  // The certificate digest the signer committed to.
  virtual const std::string* signingCertificateDigest() const = 0;
  // Its digest algorithm id; 0 without a signing-certificate attribute.
  virtual int32_t signingCertificateDigestAlgorithm() const = 0;
  virtual const ASNgenTime* signingTime() const = 0;
  virtual bool hasSigningTime() const = 0;
};

class SignatureProperties {
 public:
  SignatureProperties(talCtx* context, bool skipDigestVerdict);
  virtual ~SignatureProperties();
  SignatureProperties(const SignatureProperties&) = delete;
  SignatureProperties& operator=(const SignatureProperties&) = delete;

  // Parses and pre-checks the signature and fills the fields below: 0 ready,
  // 94 wrong signature value, 89 malformed, 92 unknown digest algorithm,
  // any other code an error.
  virtual int32_t analyse() = 0;
  virtual bool isXml() const = 0;
  // The message digest committed to equals the digest of the signed content.
  virtual bool checkMessageDigest() = 0;
  virtual SignedAttributes* signedAttributes() = 0;
  // Null length: 33. Null buffer: the length is written, 0. *length below the
  // value's: 34 (buffer untouched). Else the octets and their length, 0.
  virtual int32_t signatureValue(unsigned char* buffer, int32_t* length) = 0;
  virtual int32_t counterSignatureCount() const = 0;
  // Null when index is not below the count.
  virtual SigInfo* counterSignature(int32_t index) = 0;
  // The digest with hash id `hashId` of what the signature value signs.
  virtual void signedDigest(int32_t hashId, std::string& out) = 0;
  // Append the digests a signature (archive) time-stamp token must cover.
  virtual void timeStampImprintData(const TimeStampToken& token, int32_t hashId,
                                    std::vector<std::string>& out) = 0;
  virtual void archiveImprintData(const TimeStampToken& token, int32_t hashId,
                                  std::vector<std::string>& out) = 0;
  // The signer's issuer and serial; null when unknown.
  virtual const IssuerAndSerialNumber* signerIdentifier() = 0;
  // The same two where they are held, so a long issuer name is not copied
  // to be looked up; false when unknown.
  virtual bool signerIssuerSerial(const DistinguishedName*& issuer, const ASNinteger*& serial) {
    const IssuerAndSerialNumber* id = signerIdentifier();
    if (!id) return false;
    issuer = &id->issuer;
    serial = &id->serialNumber;
    return true;
  }
  // Stores `token` of `kind` unless the same token is there already.
  virtual int32_t storeTimeStampToken(TimeStampToken& token, int32_t kind) = 0;
  // Null when the signature carries none.
  virtual ASNsequenceList<SignedCertificate>* carriedCertificates() = 0;
  virtual SignatureCrtValues* certificateValues() = 0;
  virtual SignatureRevValues* revocationValues() = 0;
  virtual SignatureCrtValues* timeStampCertificateValues() = 0;
  virtual SignatureRevValues* timeStampRevocationValues() = 0;
  virtual SignatureCrtRefs* certificateRefs() = 0;
  virtual SignatureCrlOrOcspRefs* revocationRefs() = 0;
  virtual SignatureTimeStampTokens* signatureTimeStamps() = 0;
  virtual ArchiveTimeStampTokens* archiveTimeStamps() = 0;
  // Extension: archive time-stamp (A form; `secondContext` may be null),
  // complete references (C form), values (X-L form).
  virtual int32_t makeArchiveForm(talCtx* secondContext) = 0;
  virtual int32_t addCompleteRefs(const ValidationData& data) = 0;
  virtual int32_t addValues(const ValidationData& data) = 0;

  int32_t scheme = SIG_SCHEME_NONE;
  int32_t hashId = 0;  // digest algorithm of the signature (LvHashAlgo)
  int32_t form = SIG_FORM_UNKNOWN;
  uint8_t isTimeStamp = 0;
  const SignedCertificate* signerCertificate = nullptr;  // not owned
  AlgorithmIdentifier signatureAlgorithm;
  talCtx* context = nullptr;  // not owned
  uint8_t skipDigestVerdict = 0;
};
