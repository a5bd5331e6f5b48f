// The recipient certificate search over a library context: its report,
// certificate manager, path services, configuration, certificate servers and
// certificate database.
#pragma once

#include "api/talctx.h"
#include "store/recipients.h"

class ContextRecipients : public RecipientContext {
 public:
  explicit ContextRecipients(talCtx& context);

  ReportStream& report() override { return context.report; }
  CertificateManager& certificates() override { return context.certificates; }
  int buildPath(CertificatePath& path, const SignedCertificate& certificate) override;
  int verifyPath(CertificatePath& path) override;
  int32_t option(int number) override;
  void certificateServerBases(std::vector<std::string>& out) override;
  int queryByEmail(const std::string& base, const std::string& address, FetchedCertificates& out,
                   int32_t parameter) override;
  int queryByDn(const DistinguishedName& subject, FetchedCertificates& out) override;
  int64_t lastNetworkSearch(const std::string& address) override;
  void recordNetworkSearch(const std::string& address) override;
  int64_t now() override { return context.clock.now(); }
  void rememberCertificate(const SignedCertificate& certificate) override {
    context.rememberCertificate(certificate);
  }
  uint32_t& warningFlags() override { return context.warningFlags; }

 private:
  talCtx& context;
};
