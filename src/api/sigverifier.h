// The per-signature verification driver: verifies one signature described by
// a SignatureProperties inside a library context and records the outcome
// (status, reason, qualification, signer path, form, tokens) in its SigInfo,
// writing the verification report into the context's report stream. Time-stamp
// tokens are verified by the same driver, recursively (TimeStampDriver).
#pragma once

#include "asn1/asngent.h"
#include "cms/tsverify.h"
#include "pki/sig/sigprops.h"
#include "pki/sig/sigrecords.h"
#include "store/lcrtstore.h"

#include <cstdint>
#include <string>
#include <vector>

struct talCtx;
class SignedCertificate;
class X509time;

// What verifyCertificate hands back.
struct CertificateVerdict {
  int32_t status = 0;
  int32_t reason = 0;
  int32_t qualification = 0;
  CertificatePath path;
  uint32_t pathWords[2] = {0, 0};  // the path's qualifiedRoot and policyResult
};

class SignatureVerifier : public TimeStampDriver {
 public:
  explicit SignatureVerifier(talCtx* context);
  ~SignatureVerifier() override;
  SignatureVerifier(const SignatureVerifier&) = delete;
  SignatureVerifier& operator=(const SignatureVerifier&) = delete;

  // Verifies the signature of `props` into `info` as of timemark t for the
  // verification time v (either may be null). Verification outcomes are
  // statuses and reasons; a TalApiException means it could not be carried out.
  void verifyAt(SigInfo* info, SignatureProperties* props, const ASNgenTime* t,
                const ASNgenTime* v);
  // Judges a certificate with the same path, revocation and cache rules.
  void verifyCertificate(CertificateVerdict* verdict, const SignedCertificate* certificate);
  // Hands the collected validation data to a signature being extended.
  int32_t exportValidationData(SignatureProperties& target, talCtx* argument);
  int32_t exportValidationDataNoFinish(SignatureProperties& target);

  // TimeStampDriver.
  talCtx* context() override { return ctx; }
  void write(const std::string& text) override;
  int32_t option(int32_t number) override;
  void addWarning(uint32_t bits) override;
  void now(ASNgenTime& out) override;
  SignatureCrtValues* contextCertificates() override { return nullptr; }
  SignatureRevValues* contextRevocations() override { return nullptr; }
  bool findSigner(SigInfo& info, SignatureProperties& props) override;
  void verifyBasicForm(SigInfo& info, SignatureProperties& props, const ASNgenTime* t,
                       const ASNgenTime* v) override;
  void verifyTokenAt(SigInfo& tokenInfo, SignaturePropertiesPkcs7& props, const TokenExtras& extras,
                     const ASNgenTime* t, const ASNgenTime* v, bool archive, bool collect,
                     SignatureCrtValues* target) override;

  // Lists the caller gives beside the signature's own (not owned, may be null).
  ASNsequenceList<SignedCertificate>* extraCarried = nullptr;
  SignatureCrtValues* extraCertificates = nullptr;
  SignatureRevValues* extraRevocations = nullptr;
  // Path validation asks for no fresh CRL.
  bool noFreshCrl = false;
  // What was collected while verifying (with `collect`).
  ValidationData validationData;

 private:
  // The outcome of one path check.
  struct PathOutcome {
    int32_t status = 4;
    int32_t reason = 0;
  };

  void writeTimeLine(const char* label, const ASNgenTime* time, bool emptyLineAfter);
  // Builds `path` by issuer and serial (`start` null) or from `start`, with
  // the report lines and the signer's classification; false when no path.
  bool buildPath(CertificatePath& path, const DistinguishedName& issuer, const ASNinteger& serial,
                 const SignedCertificate* start, bool token, int32_t& qualification, bool& found);
  bool buildSignerPath(SigInfo& info, SignatureProperties& props, bool& found);
  bool checkSignatureValue(SigInfo& info, SignatureProperties& props);
  bool checkSignedAttributes(SigInfo& info, SignatureProperties& props);
  void digestRegulation(int32_t hashId);
  void pathAndRevocation(CertificatePath& path, PathOutcome& outcome, int32_t qualification,
                         const ASNgenTime* t, const ASNgenTime* v, bool token);
  void writePathReport(const CertificatePath& path);
  void offerRevocationValues(SignatureRevValues* values);

  talCtx* ctx;
  bool signerFound = false;
  bool signerFromCache = false;
  // Candidates of the signer search; registered with the certificate
  // manager while paths are built and checked.
  LCertificateStore candidates;
  std::vector<const SignedCertificate*> candidateList;  // the same, in order
};
