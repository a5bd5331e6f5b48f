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

#include <cstdint>

struct talCtx;
class SignedCertificate;

// What verifyCertificate hands back.
struct CertificateVerdict {
  int32_t status = 0;
  int32_t reason = 0;
  int32_t qualification = 0;
  CertificatePath path;
  uint32_t pathWords[2] = {0, 0};
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
};
