#include "store/sigcodes.h"

#include "asn1/asnbitst.h"
#include "base/commonerror.h"
#include "pki/x509/cert.h"

namespace {

const SignatureCodeRow kRows[] = {
    {SignedCertificate::CERT_SIG_VALID, CERT_ANSWER_VERIFIES, CRL_ANSWER_GOOD, "verifies"},
    // A value that cannot be read is a signature that does not verify, not
    // a check that could not be made: a forger chooses the value.
    {SignedCertificate::CERT_SIG_MALFORMED, CERT_ANSWER_DOES_NOT_VERIFY, CRL_ANSWER_BAD,
     "signature value unreadable"},
    {SignedCertificate::CERT_SIG_KEY_MISMATCH, CERT_ANSWER_KEY_MISMATCH, CRL_ANSWER_KEY_DOES_NOT_FIT,
     "key algorithm does not fit the signature's"},
    {SignedCertificate::CERT_SIG_KEY_UNUSABLE, CERT_ANSWER_KEY_UNUSABLE, CRL_ANSWER_KEY_UNUSABLE,
     "key unusable"},
    // Empty values are told apart by the two functions below.
    {SignedCertificate::CERT_SIG_INVALID, CERT_ANSWER_DOES_NOT_VERIFY, CRL_ANSWER_BAD,
     "does not match"},
    {SignedCertificate::CERT_SIG_UNSUPPORTED, CERT_ANSWER_UNSUPPORTED, CRL_ANSWER_UNSUPPORTED,
     "algorithm unsupported"},
};

const SignatureCodeRow* findRow(int code) {
  for (const SignatureCodeRow& r : kRows)
    if (r.verifier == code) return &r;
  return nullptr;
}

bool emptySignature(int code, const ASNbitstr& signature) {
  return code == SignedCertificate::CERT_SIG_INVALID && signature.bitCount() == 0;
}

}  // namespace

const SignatureCodeRow* signatureCodeTable(int* count) {
  *count = static_cast<int>(sizeof kRows / sizeof kRows[0]);
  return kRows;
}

int certificateSignatureAnswer(int code, const ASNbitstr& signature) {
  if (emptySignature(code, signature)) return CERT_ANSWER_NO_SIGNATURE;
  const SignatureCodeRow* r = findRow(code);
  return r ? r->certificate : CERT_ANSWER_UNSUPPORTED;
}

int crlSignatureAnswer(int code, const ASNbitstr& signature) {
  if (emptySignature(code, signature)) return CRL_ANSWER_ERROR;
  const SignatureCodeRow* r = findRow(code);
  return r ? r->crl : CRL_ANSWER_UNSUPPORTED;
}

CertSignature certSignatureOutcome(int code, const ASNbitstr& signature) {
  // A code the verifier does not give is a fault of this library, not of the input.
  checkInvariant(findRow(code) != nullptr, "SRC/certmgr", __LINE__, "false");
  switch (certificateSignatureAnswer(code, signature)) {
    case CERT_ANSWER_VERIFIES:
      return CertSignature::Verified;
    case CERT_ANSWER_DOES_NOT_VERIFY:
      return CertSignature::Mismatch;
    default:
      return CertSignature::Unusable;
  }
}
