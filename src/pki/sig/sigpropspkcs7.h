// The CMS side of the signature description: the signed-attribute view of a
// signer (SignedAttributesPkcs7) and the accessors of the CMS signature
// properties (SignaturePropertiesPkcs7). Both are defined in the CMS
// signature layer (src/cms, library tal_cms): the attribute reading, the
// analysis, digests, signer and certificates, and the extension answers.
// What it covers is a signer whose content is carried (a time-stamp token's
// TSTInfo): no counter-signatures, no references, values or nested tokens.
#pragma once

#include "asn1/asngent.h"
#include "pki/cms/attribute.h"
#include "pki/cms/sgndata.h"
#include "pki/sig/sigprops.h"

#include <memory>
#include <string>

class SignedAttributesPkcs7 : public SignedAttributes {
 public:
  SignedAttributesPkcs7();
  ~SignedAttributesPkcs7() override;

  // Takes a copy of a signer's signed attributes (written back as that set
  // writes itself: in received order when it was read) and reads from it the
  // signing time, the signing-certificate hash (the first certificate ID of
  // signingCertificate, SHA-1, or of signingCertificateV2 with its hash) and
  // the message digest. 1 read; 0 an attribute of those kinds does not
  // decode or names a hash this library does not know (the fields read up to
  // then stay); -2 out of memory.
  int load(const CmsSet<Attribute>& signedAttrs);

  // No attribute is listed for a CMS signer: 0, and 20 for every index.
  int32_t count() const override;
  int32_t attribute(int32_t index, int32_t* type, char** text, int32_t* length) const override;

  const std::string* signingCertificateDigest() const override { return &certHash; }
  int32_t signingCertificateDigestAlgorithm() const override { return certHashId; }
  const ASNgenTime* signingTime() const override { return &signingTimeValue; }
  bool hasSigningTime() const override { return signingTimePresent != 0; }

  Attributes attributes;  // SET
  ASNgenTime signingTimeValue;
  uint8_t signingTimePresent = 0;
  std::string certHash;
  int32_t certHashId = 0;  // 1 SHA-1 (first version), else the second version's hash; 0 none
  std::string messageDigest;
};

class SignaturePropertiesPkcs7 : public SignatureProperties {
 public:
  // `signedData` and `signer` are not owned and must outlive the object.
  SignaturePropertiesPkcs7(talCtx* context, const SignedData* signedData, const SignerInfo* signer,
                           bool isTimeStampToken, bool skipDigestVerdict);
  ~SignaturePropertiesPkcs7() override;

  // Scheme, digest and form from the signer; the signed attributes (which
  // must hold the content type of the content and its messageDigest); the
  // signer's certificate when the message carries it. 0 ready, 89
  // malformed (also a carried signer certificate that is not the one the
  // signing-certificate attribute names), 92 unknown digest algorithm, 100 out of memory.
  int32_t analyse() override;
  bool isXml() const override { return false; }
  // True when `certificate` is the one the signing-certificate attribute
  // commits to (its hash over the certificate's DER), or when there is no
  // such attribute. A signer certificate found outside the message must
  // pass this before it is trusted.
  bool signingCertificateMatches(const SignedCertificate& certificate) const;
  // messageDigest equals the digest of the encapsulated content octets.
  bool checkMessageDigest() override;
  int32_t signatureValue(unsigned char* buffer, int32_t* length) override;
  int32_t counterSignatureCount() const override { return 0; }
  SigInfo* counterSignature(int32_t) override { return nullptr; }
  // Over the DER SET OF signed attributes; over the content without them.
  // Empty when the digest cannot be made.
  void signedDigest(int32_t hashId, std::string& out) override;
  // A CMS signer here carries no tokens of its own: nothing is appended.
  void timeStampImprintData(const TimeStampToken& token, int32_t hashId,
                            std::vector<std::string>& out) override;
  void archiveImprintData(const TimeStampToken& token, int32_t hashId,
                          std::vector<std::string>& out) override;
  // Null when the signer is named by a subject key identifier.
  const IssuerAndSerialNumber* signerIdentifier() override;
  int32_t storeTimeStampToken(TimeStampToken& token, int32_t kind) override;
  ASNsequenceList<SignedCertificate>* carriedCertificates() override;
  SignatureCrtValues* timeStampCertificateValues() override { return &timeStampValues.certificates; }
  SignatureRevValues* timeStampRevocationValues() override { return &timeStampValues.revocations; }
  SignatureCrtRefs* certificateRefs() override { return &crtRefs; }
  // Extension of a CMS signature is not built: 137.
  int32_t makeArchiveForm(talCtx* secondContext) override;
  int32_t addCompleteRefs(const ValidationData& data) override;
  int32_t addValues(const ValidationData& data) override;
  SignedAttributes* signedAttributes() override { return signedAttrs.get(); }
  SignatureCrtValues* certificateValues() override { return &values.certificates; }
  SignatureRevValues* revocationValues() override { return &values.revocations; }
  SignatureCrlOrOcspRefs* revocationRefs() override { return &crlOrOcspRefs; }
  SignatureTimeStampTokens* signatureTimeStamps() override { return timeStamps.get(); }
  ArchiveTimeStampTokens* archiveTimeStamps() override { return archiveStamps.get(); }

  const SignedData* signedData;
  const SignerInfo* signer;
  std::unique_ptr<SignedAttributesPkcs7> signedAttrs;  // null until analysed
  SignatureCrlOrOcspRefs crlOrOcspRefs;
  CrtAndRevValues values;  // certificate values first, revocation values second
  std::unique_ptr<SignatureTimeStampTokens> timeStamps;
  std::unique_ptr<ArchiveTimeStampTokens> archiveStamps;
  CrtAndRevValues timeStampValues;  // always empty here
  SignatureCrtRefs crtRefs;         // always empty here
  std::unique_ptr<ASNsequenceList<SignedCertificate>> carried;  // copies, made once
};
