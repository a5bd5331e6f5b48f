#include "api/pathenv.h"

#include "api/cfgmgr.h"
#include "keys/keymanager.h"
#include "store/pathverify.h"

namespace {
const int32_t OPTION_END_CERTIFICATE_ONLY = 37;
}

bool ContextPathEnvironment::endCertificateOnly() {
  return configuration.getIntOption(OPTION_END_CERTIFICATE_ONLY) != 0;
}

bool ContextPathEnvironment::extensionsAccepted(const SignedCertificate& certificate,
                                                int32_t purpose) {
  return verification.checkCertificateExtensions(certificate, purpose);
}

void ContextPathEnvironment::trustedListPoints(int kind,
                                               std::vector<const SignedCertificate*>& out) {
  if (kind < 1 || kind > 4) return;
  for (const auto& service : keys.trustedListServices())
    for (const auto& point : service.second.points[kind - 1]) out.push_back(point.get());
}

void ContextPathEnvironment::rootList(bool qualified, std::vector<const SignedCertificate*>& out) {
  keys.rootCertificates(qualified, out);
}

SharedCertificate ContextPathEnvironment::heldTrustPoint(const SignedCertificate& point) {
  for (bool qualified : {true, false}) {
    const RootList& roots = keys.rootList(qualified);
    for (POSITION pos = roots.GetHeadPosition(); pos;) {
      const SignedCertificateWithDesc* entry = roots.GetNext(pos);
      if (entry && &entry->certificate.get() == &point) return entry->certificate;
    }
  }
  return PathBuildEnvironment::heldTrustPoint(point);
}
