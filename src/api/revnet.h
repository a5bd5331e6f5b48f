// The revocation manager's network queries over the network manager: sits
// above both the store and the network layers.
#pragma once

#include "net/netmanager.h"
#include "store/revmgr.h"

class RevocationNetworkAdapter : public RevocationNetwork {
 public:
  // `settings` is the one the network manager reads (null: every option 0).
  RevocationNetworkAdapter(NetworkManager& manager, const NetworkSettings* settings)
      : manager(manager), settings(settings) {}

  bool canQueryNetwork(int kind, const DistinguishedName* issuer, ReportStream* report) override;
  bool ocspFetchAllowed() override;
  int findOcspServers(const SignedCertificate& cert, const SignedCertificate& issuer,
                      const std::vector<uint8_t>& request, OCSPResponse& response) override;
  int queryForOcsp(const std::string& url, const std::vector<uint8_t>& request,
                   OCSPResponse& response) override;
  int queryForCertificatesByDn(const DistinguishedName& name, CertificateList& out) override;
  int queryForCrl(const std::string& uri, const DistinguishedName& issuer, CrlList& out,
                  ReportStream* report) override;
  int queryForIssuerCrl(const DistinguishedName& issuer, CrlList& out,
                        ReportStream* report) override;

 private:
  NetworkManager& manager;
  const NetworkSettings* settings;
};
