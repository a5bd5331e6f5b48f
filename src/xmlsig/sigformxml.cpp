#include "xmlsig/sigformxml.h"

int32_t xmlSignatureForm(const XmlFormFacts& f, const std::function<void()>& checkRefsAgainstValues) {
  // BES needs the signed properties, or a signed KeyInfo that holds the
  // signer's certificate, under a reference.
  if (!f.signedPropertiesReferenced && !(f.keyInfoReferenced && f.keyInfoCarriesSigner))
    return 3;
  int32_t form = 4;
  if (f.signatureTimeStamps > 0) {
    form = 5;
    if (f.certificateRefs > 0 && f.revocationRefs > 0)
      form = 6;
  }
  if (f.certificateValues > 0 && f.revocationValues > 0) {
    if (form == 6 && checkRefsAgainstValues)
      checkRefsAgainstValues();
    form = 9;
  }
  if (form == 9 && f.archiveTimeStamps > 0)
    form = 12;
  return form;
}
