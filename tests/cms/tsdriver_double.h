// The verification driver as the time-stamp tests see it: each token is
// checked as a CMS signature for real (ESS certificate hash, messageDigest,
// the signature with the carried TSA certificate's key) and the TSA path
// outcome is the test's, since path building stands outside these units.
#pragma once

#include "pki/test_cms_support.h"

#include "cms/tsverify.h"
#include "pki/keys/subpubkeyinfo.h"

#include <map>
#include <string>
#include <vector>

namespace cmstest {

inline std::string cmsFile(const std::string& name) {
  const Bytes b = readData("../cms/" + name);
  return std::string(b.begin(), b.end());
}

struct Outcome {
  int32_t status = SIG_STATUS_VALID;
  int32_t reason = 0;
  int32_t qualification = SIG_QUALIFICATION_QUALIFIED;
};

class DriverDouble : public TimeStampDriver {
 public:
  talCtx* context() override { return nullptr; }
  void write(const std::string& text) override { report += text; }
  int32_t option(int32_t number) override { return options[number]; }
  void addWarning(uint32_t bits) override { warnings |= bits; }
  void now(ASNgenTime& out) override { out = clock; }
  SignatureCrtValues* contextCertificates() override { return contextCerts; }
  SignatureRevValues* contextRevocations() override { return nullptr; }

  bool findSigner(SigInfo& info, SignatureProperties&) override {
    ++signerSearches;
    if (!signerFound) {
      info.status = SIG_STATUS_NOT_VERIFIABLE;
      info.reason = SIG_REASON_NO_SIGNER_CERTIFICATE;
      return false;
    }
    info.qualification = signerQualification;
    return true;
  }

  void verifyBasicForm(SigInfo& info, SignatureProperties&, const ASNgenTime* t, const ASNgenTime* v) override {
    basicCalls.push_back((t ? reportTimeText(*t) : "-") + " / " + (v ? reportTimeText(*v) : "-"));
    info.status = basicStatus;
    info.reason = 0;
  }

  void verifyTokenAt(SigInfo& ti, SignaturePropertiesPkcs7& p, const TokenExtras& extras, const ASNgenTime*,
                     const ASNgenTime*, bool archiveFlag, bool, SignatureCrtValues*) override {
    archiveFlags.push_back(archiveFlag);
    lastExtras = extras;
    ti.qualification = SIG_QUALIFICATION_UNKNOWN;
    ti.reason = 0;
    ti.status = cryptoCheck(p);
    if (ti.status != SIG_STATUS_VALID) {
      ti.reason = ti.status == SIG_STATUS_NEGATIVE ? SIG_REASON_VALUE_MATH : SIG_REASON_NO_SIGNER_CERTIFICATE;
      return;
    }
    const Outcome o = next < paths.size() ? paths[next] : Outcome();
    ++next;
    ti.status = o.status;
    ti.reason = o.reason;
    ti.qualification = o.qualification;
  }

  // The token's signature as a verifier checks it.
  static int32_t cryptoCheck(SignaturePropertiesPkcs7& p) {
    if (p.analyse() != 0 || !p.signerCertificate) return SIG_STATUS_NOT_VERIFIABLE;
    SignedAttributes* a = p.signedAttributes();
    const Bytes cert = cmstest::encodeOf(*p.signerCertificate);
    const Bytes h = cmstest::hashOf(a->signingCertificateDigestAlgorithm(), cert);
    if (*a->signingCertificateDigest() != std::string(h.begin(), h.end())) return SIG_STATUS_NOT_VERIFIABLE;
    if (!p.checkMessageDigest()) return SIG_STATUS_NEGATIVE;
    std::string digest;
    p.signedDigest(p.hashId, digest);
    int32_t n = 0;
    p.signatureValue(nullptr, &n);
    Bytes value(static_cast<size_t>(n));
    p.signatureValue(value.data(), &n);
    SubPubKeyInfo key(p.signerCertificate->tbsCertificate.subjectPublicKeyInfo);
    return key.verifyDigest(p.signatureAlgorithm, reinterpret_cast<const unsigned char*>(digest.data()),
                            int(digest.size()), value.data(), n) == SubPubKeyInfo::SIG_VALID
               ? SIG_STATUS_VALID
               : SIG_STATUS_NEGATIVE;
  }

  std::string report;
  std::map<int32_t, int32_t> options;
  uint32_t warnings = 0;
  ASNgenTime clock;
  SignatureCrtValues* contextCerts = nullptr;
  bool signerFound = true;
  int32_t signerQualification = SIG_QUALIFICATION_QUALIFIED;
  int32_t basicStatus = SIG_STATUS_VALID;
  std::vector<Outcome> paths;  // TSA path outcome of each token that passes the signature check
  size_t next = 0;
  int signerSearches = 0;
  std::vector<std::string> basicCalls;
  std::vector<bool> archiveFlags;
  TokenExtras lastExtras;
};

}  // namespace cmstest
