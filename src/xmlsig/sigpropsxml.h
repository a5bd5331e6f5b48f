// An XML signature seen through SignatureProperties: its parser (with the
// XAdES reader plugged in), the form analysis, the reference digests, the
// digest of what the signature value signs, the exact data a signature or an
// archive time-stamp covers, and the storing of a token into its element.
#pragma once

#include "pki/sig/sigprops.h"
#include "xmlsig/xadesreader.h"
#include "xmlsig/xmlsigparser.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class ReportStream;

// The reference/value matchers of the certificate stores, handed in by the
// layer that sees both (this one cannot call the stores). A missing matcher
// matches nothing.
struct XmlRefValueMatchers {
  std::function<bool(const SignatureCrtRef&, const SignedCertificate&)> certificate;
  std::function<bool(const CrlRefRecord&, const SignedCertRevList&)> crl;
  std::function<bool(const OcspRefRecord&, const BasicOCSPResponse&)> ocsp;
};

// Asks the time-stamp authorities for one token over `digest` (hash
// `hashId`), the options, key and network taken from `second` when given;
// handed in by the layer that sees the network. The request's result code
// (0, or 11 and above); a token kept is appended to `out`.
using XmlTimeStampRequester = std::function<int32_t(talCtx* second, const std::string& digest, int32_t hashId,
                                                    ArchiveTimeStampTokens& out)>;

// What a parser of one document is made from; counter-signatures inside it
// get the same.
struct XmlSignatureSetup {
  xmlNodePtr root = nullptr;  // root element of the signed document
  std::vector<TVxmlDoc*> docs;
  int32_t mode = 1;  // 1: the reference digests are computed
  bool skipDetached = false;
  uint32_t configuredDigest = 0;
  convXml::DnMakeAttribute makeDnAttribute = nullptr;
  ReportStream* report = nullptr;
  XmlRefValueMatchers matchers;
  // The work allowance of the whole verification, not owned. Without one the
  // top signature's properties make one and hand it to every counter-signature
  // below them, so 1024 counter-signatures per level, each digesting the whole
  // document, together get no more than one signature.
  XmlWorkBudget* budget = nullptr;
  // The account of the whole document's verification, which the budgets of
  // all its signatures charge (its units and clock are theirs); none: each
  // budget's own.
  std::shared_ptr<WorkAccount> account;
  // The Ids of elements the extension creates (the XML context's; not
  // owned). Without one the properties use their own.
  XmlUniqueIds* ids = nullptr;
  // Without one no archive time-stamp can be made (137).
  XmlTimeStampRequester requestTimeStamp;
};

class SignaturePropertiesXml : public SignatureProperties {
 public:
  // second: for a counter-signature, the signature it countersigns. depth:
  // how deep this signature sits among counter-signatures.
  SignaturePropertiesXml(talCtx* context, const XmlSignatureSetup& setup, xmlNodePtr signature,
                         xmlNodePtr second = nullptr, int depth = 0);
  ~SignaturePropertiesXml() override;

  // 0 with the form set; the parser's code when above 10; 89.
  int32_t analyse() override;
  bool isXml() const override { return true; }
  // Every reference's own digest was computed and equals its DigestValue.
  bool checkMessageDigest() override;
  // Null unless a reference covers the SignedProperties read: properties no
  // digest binds (an Object added to a signed document) are nobody's word.
  SignedAttributes* signedAttributes() override;
  int32_t signatureValue(unsigned char* buffer, int32_t* length) override;
  int32_t counterSignatureCount() const override;
  SigInfo* counterSignature(int32_t index) override;
  void signedDigest(int32_t hashId, std::string& out) override;
  void timeStampImprintData(const TimeStampToken& token, int32_t hashId,
                            std::vector<std::string>& out) override;
  void archiveImprintData(const TimeStampToken& token, int32_t hashId,
                          std::vector<std::string>& out) override;
  const IssuerAndSerialNumber* signerIdentifier() override;
  bool signerIssuerSerial(const DistinguishedName*& issuer, const ASNinteger*& serial) override;
  int32_t storeTimeStampToken(TimeStampToken& token, int32_t kind) override;
  ASNsequenceList<SignedCertificate>* carriedCertificates() override;
  SignatureCrtValues* certificateValues() override { return &parser->certificateValues; }
  SignatureRevValues* revocationValues() override { return &parser->revocationValues; }
  SignatureCrtValues* timeStampCertificateValues() override { return &parser->timeStampCertificateValues; }
  SignatureRevValues* timeStampRevocationValues() override { return &parser->timeStampRevocationValues; }
  SignatureCrtRefs* certificateRefs() override;
  SignatureCrlOrOcspRefs* revocationRefs() override { return &parser->revocationRefs; }
  SignatureTimeStampTokens* signatureTimeStamps() override { return xades.signatureTimeStamps.get(); }
  ArchiveTimeStampTokens* archiveTimeStamps() override { return xades.archiveTimeStamps.get(); }
  // Extending the signature in its document: 0, or a result code with the
  // document as it was. References and values digest with the configured
  // hash; the values begin with the signer's certificate that the
  // verification found (signerCertificate) unless ds:KeyInfo carries it,
  // and without one they are not written (89). The archive time-stamp is
  // embedded only when the token the authority returned verified (status 3
  // or 4, or 1 when the request kept it unchecked under option 4; never 2),
  // its imprint is the digest asked for and it is strictly later than every
  // archive time-stamp there (else 156).
  int32_t makeArchiveForm(talCtx* secondContext) override;
  int32_t addCompleteRefs(const ValidationData& data) override;
  int32_t addValues(const ValidationData& data) override;

  // Each certificate reference matches a certificate value or a KeyInfo
  // certificate; each CRL (OCSP) reference a CRL (OCSP) value.
  bool certificateRefsConsistent();
  bool revocationRefsConsistent();
  // The data items of a new archive time-stamp.
  void newArchiveItems(XmlDataItems& out) const;

  XmlSigParser& sigParser() { return *parser; }
  const XadesProperties& properties() const { return xades; }
  xmlNodePtr signatureElement() const { return signature; }
  xmlNodePtr countersignedElement() const { return second; }

 private:
  // The carried signer whose pair signerIdentifier() copied into the parser's.
  const SignedCertificate* signerIdCopiedFrom = nullptr;
  XmlSignatureSetup setup;
  std::unique_ptr<XmlWorkBudget> ownBudget;  // when the setup gave none
  std::unique_ptr<XmlUniqueIds> ownIds;      // the same
  bool keyInfoCarriesSigner() const;
  XmlUniqueIds& uniqueIds();
  bool laterThanEveryArchiveTimeStamp(const ASNgenTime& time) const;
  // The archive time-stamps this object embedded (the parser's lists are not updated).
  ArchiveTimeStampTokens addedArchiveTimeStamps;
  std::unique_ptr<XmlSigParser> parser;
  XadesProperties xades;
  xmlNodePtr signature;
  xmlNodePtr second;
  int depth;
  std::unique_ptr<ASNsequenceList<SignedCertificate>> carried;
};

// The digest with hash `hashId` of a list of data items: each element's
// canonical subtree in the mode `c14nUri` names (inclusive without comments
// for any other text), reference items standing for `running`'s digest of the
// referenced data, which the result starts from when given. Throws
// TalApiException 89 for a reference item without running digests.
// The work is charged to budget (one of its own when null).
void digestDataItems(const XmlDataItems& items, const std::string& c14nUri, int32_t hashId,
                     const MessageDigests* running, std::string& out,
                     XmlWorkBudget* budget = nullptr);
