#include "store/revpath.h"

#include "base/workaccount.h"

std::shared_ptr<const BasicOCSPResponse> ManagedRevocation::findOcspResponse(
    const SignedCertificate& cert, const SignedCertificate& issuer, const RevocationArgs& args,
    PathCollector& collector) {
  return manager.findOcspResponse(cert, issuer, args, &collector);
}

int ManagedRevocation::checkStatus(CertificateItem& item, const RevocationArgs& args,
                                   const BasicOCSPResponse* ocsp, const SignedCertificate& issuer,
                                   const SignedCertRevList* crl, UsedRevocationData& used) {
  return manager.checkStatus(item, args, ocsp, issuer, crl, used);
}

bool ManagedRevocation::isVerifiedCrl(const SignedCertRevList& crl) {
  return manager.verifiedCrls.find(crl, crlDigest(crl)) != nullptr;
}

bool ManagedRevocation::isNewCrl(const SignedCertRevList& crl) {
  // Equal, not merely sharing a signature value: a held copy of a genuine
  // CRL's signature over other contents cannot verify, and must not make the
  // genuine CRL look known (it would be dropped and the forgery tried instead).
  // Looked up by digest, paid by the CRL's octets.
  return manager.isNewCrl(crl);
}

bool ManagedRevocation::learnedEarlier(const SignedCertRevList& crl) {
  return manager.learnedEarlier(crl);
}

int ManagedRevocation::verifyCrl(const SignedCertRevList& crl, const RevocationArgs& args,
                                 PathCollector& collector, std::string& message) {
  const int r = manager.verifyCrl(crl, args, nullptr, &collector);
  if (r != 0) message = "kod " + std::to_string(r);
  return r;
}

bool ManagedRevocation::canQueryNetwork(int kind, const DistinguishedName& issuer,
                                        ReportStream& report) {
  return manager.network && manager.network->canQueryNetwork(kind, &issuer, &report);
}

int ManagedRevocation::queryForCrl(const std::string& uri, const DistinguishedName& issuer,
                                   CrlList& out, ReportStream& report) {
  return manager.network ? manager.network->queryForCrl(uri, issuer, out, &report) : 16;
}

int ManagedRevocation::queryForIssuerCrl(const SignedCertificate& issuer, CrlList& out,
                                         ReportStream& report) {
  return manager.network
             ? manager.network->queryForIssuerCrl(issuer.tbsCertificate.subject, out, &report)
             : 16;
}

void ManagedRevocation::rememberCrl(const SignedCertRevList& crl) {
  for (const auto& c : metCrls)
    if (equalCrls(*c, crl)) return;
  metCrls.emplace_back(new SignedCertRevList(crl));
}
