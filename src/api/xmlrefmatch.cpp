#include "api/xmlrefmatch.h"

#include "pki/common/oids.h"
#include "pki/ocsp/ocspresp.h"
#include "store/crtstore.h"
#include "store/dnutils.h"
#include "xmlsig/xadeswriter.h"

#include <exception>

namespace {

thread_local uint64_t matcherRuns = 0;

DigestReference digestOf(int32_t hashId, const std::string& digest) {
  DigestReference out;
  out.digestId = hashId;
  out.value.assign(digest.begin(), digest.end());
  return out;
}

}  // namespace

uint64_t xmlRefMatcherRuns() { return matcherRuns; }

bool matchXmlCertificateRef(const CertRefRecord& reference, const SignedCertificate& cert) {
  ++matcherRuns;
  CertificateSelector selector;
  selector.digest = digestOf(reference.hashId, reference.digest);
  // The reader requires IssuerSerial in every Cert.
  selector.hasIssuerSerial = true;
  selector.issuer = reference.issuer;
  selector.serial = reference.serial;
  return matchCertificateSelector(selector, cert);
}

bool matchXmlCrlRef(const CrlRefRecord& reference, const SignedCertRevList& crl) {
  ++matcherRuns;
  CrlReference r;
  r.digest = digestOf(reference.hashId, reference.digest);
  // CRLIdentifier is optional; when present it is checked whole, even when its
  // Issuer could not be read as a name (then no CRL matches it).
  r.hasIssuer = reference.identifierPresent;
  if (r.hasIssuer) {
    r.issuer = reference.issuer;
    r.issuedTime = reference.issueTime;
    r.hasNumber = reference.crlNumberPresent;
    if (r.hasNumber) r.number = reference.crlNumber;
  }
  return matchCrlIdentifier(r, crl);
}

bool matchXmlOcspRef(const OcspRefRecord& reference, const BasicOCSPResponse& response) {
  ++matcherRuns;
  OcspReference r;
  r.hasDigest = !reference.digest.empty();
  if (r.hasDigest) r.digest = digestOf(reference.hashId, reference.digest);
  if (reference.byKey) {
    r.hasKeyHash = true;
    const ASNoctstr& hash = reference.responderKeyHash;
    if (hash.length > 0) r.keyHash.assign(hash.data(), hash.data() + hash.length);
  } else {
    r.hasName = true;
    r.name = reference.responder;
  }
  r.producedAt = reference.producedAt;
  try {
    OCSPResponse whole;
    if (wrapBasicOcspResponse(response, whole) && matchOcspResponse(r, whole)) return true;
  } catch (const std::exception&) {
    // A response that cannot be re-wrapped is still matched as it is.
  }
  return matchOcspIdentifier(r, response);
}

XmlRefValueMatchers storeRefValueMatchers() {
  XmlRefValueMatchers m;
  m.certificate = matchXmlCertificateRef;
  m.crl = matchXmlCrlRef;
  m.ocsp = matchXmlOcspRef;
  return m;
}

void useStoreMatchers(XmlSignatureSetup& setup) {
  setup.matchers = storeRefValueMatchers();
  setup.makeDnAttribute = makeDnAttribute;
}
