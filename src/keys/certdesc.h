// A certificate with a description word, the element of the key manager's root lists:
//   SignedCertificateWithDesc ::= SEQUENCE {
//     certificate  Certificate,
//     description  INTEGER (0..4294967295) }
// The key manager's word is the root's kind (1, 2 or 4, as talInstallRoot gives it).
#pragma once

#include "pki/cms/cmsmembers.h"
#include "pki/x509/cert.h"

#include <cstdint>

class SignedCertificateWithDesc : public cmsasn::Sequence<SignedCertificateWithDesc> {
 public:
  // Empty, ready for decode: no certificate, word 0.
  explicit SignedCertificateWithDesc(unsigned char tag = 0);
  // Copies share the certificate's read-only body.
  SignedCertificateWithDesc(const SignedCertificateWithDesc& other);
  SignedCertificateWithDesc& operator=(const SignedCertificateWithDesc& other);
  ~SignedCertificateWithDesc() override;

  uint32_t word() const;
  void setWord(uint32_t value) { description.set(value); }

  // The certificate body is not listed: it is held read-only and never views the octets decoded
  // (read in place, it keeps a private copy), so it has no view to let go. The word is read
  // privately as well, so a value whose views go keeps its certificate and its word.
  cmsasn::AllMembers<1> allMembers() { return {&description}; }
  void restoreDefaults();
  // A word beyond 32 bits, or negative, does not match (0).
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<2> members() const { return {&certificate.get(), &description}; }

  // Shared, so that a path ending at a root holds the root's own body and its prepared key.
  SharedCertificate certificate;
  ASNinteger description;
};
