// The store matchers as the XML signature properties take them: the XAdES
// reader's reference records become the matchers' references. This layer sees
// both the stores and the XML signatures; xmlsig itself cannot call the stores.
#pragma once

#include "pki/cms/esscades.h"
#include "xmlsig/sigpropsxml.h"

#include <cstdint>

class SignedCertificate;
class SignedCertRevList;
class BasicOCSPResponse;

// A Cert of CompleteCertificateRefs against a certificate: issuer, serial and digest.
bool matchXmlCertificateRef(const CertRefRecord& reference, const SignedCertificate& cert);
// A CRLRef against a CRL: the digest, and issuer, issue time and number when
// the reference names them.
bool matchXmlCrlRef(const CrlRefRecord& reference, const SignedCertRevList& crl);
// An OCSPRef against a basic response: responder and production time, and the
// digest over the response re-wrapped as a successful OCSPResponse (what XAdES
// signers digest) or else over the basic response itself.
bool matchXmlOcspRef(const OcspRefRecord& reference, const BasicOCSPResponse& response);

// For tests: the runs of the three matchers above on this thread so far.
uint64_t xmlRefMatcherRuns();

// The three matchers above.
XmlRefValueMatchers storeRefValueMatchers();
// Hands a signature setup the matchers and the DN attribute maker that reads
// the references' names (without names no reference can match).
void useStoreMatchers(XmlSignatureSetup& setup);
