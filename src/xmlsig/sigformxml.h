// The form of an XML signature from what its parser and the XAdES reader
// found: plain, BES, T, C, X-L or A.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

struct XmlFormFacts {
  bool signedPropertiesReferenced = false;
  bool keyInfoReferenced = false;
  bool keyInfoCarriesSigner = false;
  size_t signatureTimeStamps = 0;
  size_t certificateRefs = 0;
  size_t revocationRefs = 0;
  size_t certificateValues = 0;  // the first list (CertificateValues)
  size_t revocationValues = 0;   // the first list (RevocationValues)
  size_t archiveTimeStamps = 0;
};

// 3, 4, 5, 6, 9 or 12. `checkRefsAgainstValues` runs once, when a C form
// also carries certificate and revocation values (its findings go to the
// report; the form is X-L whatever they are).
int32_t xmlSignatureForm(const XmlFormFacts& facts, const std::function<void()>& checkRefsAgainstValues);
