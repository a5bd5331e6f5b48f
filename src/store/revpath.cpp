#include "store/revpath.h"

#include "base/workaccount.h"

namespace {

template <class List, class Same>
bool held(const List& list, const SignedCertRevList& crl, Same same) {
  for (const auto& c : list)
    if (same(*c, crl)) return true;
  return false;
}

}  // namespace

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
  return held(manager.verifiedCrls, crl, equalCrls);
}

bool ManagedRevocation::isNewCrl(const SignedCertRevList& crl) {
  // Equal, not merely sharing a signature value: a held copy of a genuine
  // CRL's signature over other contents cannot verify, and must not make the
  // genuine CRL look known (it would be dropped and the forgery tried instead).
  // Every CRL a document carries is looked for among those held: the search
  // pays the document's account by the CRLs it compares.
  workCharge(manager.verifiedCrls.size() + manager.pendingCrls.size());
  return !held(manager.verifiedCrls, crl, equalCrls) && !held(manager.pendingCrls, crl, equalCrls);
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
  if (!held(metCrls, crl, equalCrls)) metCrls.emplace_back(new SignedCertRevList(crl));
}
