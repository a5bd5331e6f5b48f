// What path building needs of a library context: configuration option 37,
// the per-certificate extension checks of path verification, and the key
// manager's trusted-list services and root lists as trust points.
#pragma once

#include "store/pathbuild.h"

class ConfigurationManager;
class KeyManager;
class PathVerification;

class ContextPathEnvironment : public PathBuildEnvironment {
 public:
  ContextPathEnvironment(const ConfigurationManager& configuration, const KeyManager& keys,
                         PathVerification& verification)
      : configuration(configuration), keys(keys), verification(verification) {}

  bool endCertificateOnly() override;
  bool extensionsAccepted(const SignedCertificate& certificate, int32_t purpose) override;
  void trustedListPoints(int kind, std::vector<const SignedCertificate*>& out) override;
  void rootList(bool qualified, std::vector<const SignedCertificate*>& out) override;
  SharedCertificate heldTrustPoint(const SignedCertificate& point) override;

 private:
  const ConfigurationManager& configuration;
  const KeyManager& keys;
  PathVerification& verification;
};
