// The form of an XML signature from the facts its reader found, and when the
// references are checked against the values.
#include "xmlsig/sigformxml.h"

#include <gtest/gtest.h>

namespace {

TEST(XmlSignatureForm, FromFacts) {
  struct Row {
    const char* what;
    bool sp, ki, kiSigner;
    size_t ts, certRefs, revRefs, certVals, revVals, archive;
    int32_t form;
    bool checked;
  } rows[] = {
      {"plain", false, false, false, 0, 0, 0, 0, 0, 0, 3, false},
      {"signed KeyInfo without the signer", false, true, false, 1, 1, 1, 1, 1, 1, 3, false},
      {"signed KeyInfo with the signer", false, true, true, 0, 0, 0, 0, 0, 0, 4, false},
      {"BES", true, false, false, 0, 0, 0, 0, 0, 0, 4, false},
      {"BES with values only", true, false, false, 0, 0, 0, 2, 1, 0, 9, false},
      {"BES with certificate values only", true, false, false, 0, 0, 0, 2, 0, 0, 4, false},
      {"BES with references, no time-stamp", true, false, false, 0, 1, 1, 0, 0, 0, 4, false},
      {"T", true, false, false, 1, 0, 0, 0, 0, 0, 5, false},
      {"T with certificate references only", true, false, false, 1, 1, 0, 0, 0, 0, 5, false},
      {"C", true, false, false, 2, 1, 1, 0, 0, 0, 6, false},
      {"C with revocation values only", true, false, false, 1, 1, 1, 0, 3, 0, 6, false},
      {"X-L", true, false, false, 1, 1, 1, 1, 1, 0, 9, true},
      {"T with values", true, false, false, 1, 0, 0, 1, 1, 0, 9, false},
      {"A", true, false, false, 1, 1, 1, 1, 1, 1, 12, true},
      {"archive without values stays C", true, false, false, 1, 1, 1, 0, 0, 1, 6, false},
      {"archive on BES stays BES", true, false, false, 0, 0, 0, 0, 0, 2, 4, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    XmlFormFacts f;
    f.signedPropertiesReferenced = r.sp;
    f.keyInfoReferenced = r.ki;
    f.keyInfoCarriesSigner = r.kiSigner;
    f.signatureTimeStamps = r.ts;
    f.certificateRefs = r.certRefs;
    f.revocationRefs = r.revRefs;
    f.certificateValues = r.certVals;
    f.revocationValues = r.revVals;
    f.archiveTimeStamps = r.archive;
    int checks = 0;
    EXPECT_EQ(xmlSignatureForm(f, [&checks] { ++checks; }), r.form);
    EXPECT_EQ(checks, r.checked ? 1 : 0);
    EXPECT_EQ(xmlSignatureForm(f, nullptr), r.form);
  }
}

}  // namespace
