#include "api/revnet.h"

#include <new>

bool RevocationNetworkAdapter::canQueryNetwork(int kind, const DistinguishedName* issuer,
                                               ReportStream* report) {
  return manager.canQueryNetwork(kind, issuer, report);
}

bool RevocationNetworkAdapter::ocspFetchAllowed() {
  return !settings || (settings->option(NET_OPTION_NO_NETWORK) == 0 &&
                       settings->option(NET_OPTION_NO_CRL_OCSP) == 0);
}

int RevocationNetworkAdapter::findOcspServers(const SignedCertificate& cert,
                                              const SignedCertificate& issuer,
                                              const std::vector<uint8_t>& request,
                                              OCSPResponse& response) {
  return manager.findOcspServers(cert, issuer, request, response);
}

int RevocationNetworkAdapter::queryForOcsp(const std::string& url,
                                           const std::vector<uint8_t>& request,
                                           OCSPResponse& response) {
  return manager.queryForOcsp(url, request, response);
}

int RevocationNetworkAdapter::queryForCertificatesByDn(const DistinguishedName& name,
                                                       CertificateList& out) {
  CertList got;
  const int r = manager.queryForCertificatesByDn(name, got);
  for (auto& c : got) {
    // Released only once the list holds it: a failed append must not drop the certificate.
    if (out.append(c.get()) != 1) throw std::bad_alloc();
    c.release();
  }
  return r;
}

int RevocationNetworkAdapter::queryForCrl(const std::string& uri, const DistinguishedName& issuer,
                                          CrlList& out, ReportStream* report) {
  // Kept by the network cache for the rest of this verification (see queryForCRL).
  return manager.queryForCRL(uri, &issuer, out, 1, report);
}

int RevocationNetworkAdapter::queryForIssuerCrl(const DistinguishedName& issuer, CrlList& out,
                                                ReportStream* report) {
  return manager.queryForIssuerCrl(issuer, out, report, 1);
}
