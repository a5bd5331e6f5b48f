// The signature-check answers of certificates and CRLs (the codes of
// SignedCertificate::verifyWithKey) in the meanings path building and path
// verification read them in, in one table.
#pragma once

class ASNbitstr;

// What path building reads of a certificate's signature check.
enum CertificateSignatureAnswer {
  CERT_ANSWER_VERIFIES = 1,
  CERT_ANSWER_DOES_NOT_VERIFY = 0,
  CERT_ANSWER_KEY_MISMATCH = -1,  // the check could not be carried out
  CERT_ANSWER_KEY_UNUSABLE = -2,  // the check could not be carried out
  CERT_ANSWER_NO_SIGNATURE = -3,  // the signature value is missing or empty
  CERT_ANSWER_UNSUPPORTED = -4    // the check could not be carried out
};

// What CRL verification reads of a CRL's signature check.
enum CrlSignatureAnswer {
  CRL_ANSWER_GOOD = 1,
  CRL_ANSWER_BAD = 0,
  CRL_ANSWER_ERROR = -1,  // no signature value
  CRL_ANSWER_KEY_UNUSABLE = -2,
  CRL_ANSWER_KEY_DOES_NOT_FIT = -3,
  CRL_ANSWER_UNSUPPORTED = -4
};

struct SignatureCodeRow {
  int verifier;     // SignedCertificate::CERT_SIG_*
  int certificate;  // CertificateSignatureAnswer
  int crl;          // CrlSignatureAnswer
  const char* why;
};

// The rows, one per verifier code; `count` gets their number.
const SignatureCodeRow* signatureCodeTable(int* count);

// The verifier's code with the signature that was checked (an empty one is
// told apart from one that does not match). Codes outside the table are
// taken as "could not be carried out" (unsupported).
int certificateSignatureAnswer(int verifierCode, const ASNbitstr& signature);
int crlSignatureAnswer(int verifierCode, const ASNbitstr& signature);

// The certificate answer as path building acts on it: verified, a signature
// that does not match (or cannot be read), or a check that could not be made
// (no signature value, key of another algorithm, unusable or unsupported key).
enum class CertSignature { Verified, Mismatch, Unusable };
CertSignature certSignatureOutcome(int verifierCode, const ASNbitstr& signature);
