// The path verification's revocation interface over the revocation manager.
#pragma once

#include "store/revmgr.h"

class ManagedRevocation : public PathRevocation {
 public:
  explicit ManagedRevocation(RevocationManager& manager) : manager(manager) {}

  void removeMarkedCrlItems() override {}
  void clearOcspCache() override { manager.clearOcspCache(); }
  void releaseLastVerification() override { manager.releaseLastVerification(); }
  void demoteVerifiedCrls() override { manager.demoteVerifiedCrls(); }
  std::shared_ptr<const BasicOCSPResponse> findOcspResponse(const SignedCertificate& cert,
                                                            const SignedCertificate& issuer,
                                                            const RevocationArgs& args,
                                                            PathCollector& collector) override;
  int checkStatus(CertificateItem& item, const RevocationArgs& args, const BasicOCSPResponse* ocsp,
                  const SignedCertificate& issuer, const SignedCertRevList* crl,
                  UsedRevocationData& used) override;
  bool isVerifiedCrl(const SignedCertRevList& crl) override;
  bool isNewCrl(const SignedCertRevList& crl) override;
  bool learnedEarlier(const SignedCertRevList& crl) override;
  int verifyCrl(const SignedCertRevList& crl, const RevocationArgs& args, PathCollector& collector,
                std::string& message) override;
  void recordVerifiedCrl(const SignedCertRevList& crl) override { manager.recordVerifiedCrl(crl); }
  bool refuseCrl(const SignedCertRevList& crl) override { return manager.refuseCrl(crl); }
  bool canQueryNetwork(int kind, const DistinguishedName& issuer, ReportStream& report) override;
  int queryForCrl(const std::string& uri, const DistinguishedName& issuer, CrlList& out,
                  ReportStream& report) override;
  int queryForIssuerCrl(const SignedCertificate& issuer, CrlList& out,
                        ReportStream& report) override;
  void rememberCrl(const SignedCertRevList& crl) override;

  // The CRLs met during verification (the library context's list).
  CrlList metCrls;

 private:
  RevocationManager& manager;
};
