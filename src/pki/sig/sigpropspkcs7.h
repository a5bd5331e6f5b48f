// The CMS side of the signature description: the signed-attribute view of a
// signer (SignedAttributesPkcs7) and the accessors of the CMS signature
// properties (SignaturePropertiesPkcs7). The CMS signature layer completes
// both classes (attribute listing, analysis, digests, extension): count and
// attribute of the view, and every operation of the properties not given here.
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

  bool isXml() const override { return false; }
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
};
