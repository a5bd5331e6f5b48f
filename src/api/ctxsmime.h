// The S/MIME context in a library context: the key manager as the context's signer and random
// source, and the configuration's algorithms as its settings.
#pragma once

#include "cms/smime.h"
#include "pki/x509/cert.h"

#include <cstdint>
#include <utility>
#include <vector>

class ConfigurationManager;
class KeyManager;
struct talCtx;

// The key manager's signing key and random generator. Key-manager statuses become result
// codes: 37 no key 30, 1 (a digest or scheme the key does not take) 159, 4 100, 13 46, 27 45,
// 14 80, 20 and 25 44, 47 31; any other 30.
class KeyManagerSmimeKeys : public SmimeKeys {
 public:
  explicit KeyManagerSmimeKeys(KeyManager& keys) : keys(keys) {}
  // `chain` (not owned): the signer's issuers to carry beside its certificate, issuer first.
  KeyManagerSmimeKeys(KeyManager& keys, std::vector<const SignedCertificate*> chain)
      : keys(keys), chain(std::move(chain)) {}
  const SignedCertificate* signingCertificate() const override;
  std::vector<const SignedCertificate*> chainCertificates() const override { return chain; }
  int32_t keyScheme() const override;
  int32_t sign(int32_t scheme, int32_t digestId, const uint8_t* digest, size_t digestLength,
               std::vector<uint8_t>& signature) override;
  int32_t randomBytes(uint8_t* buffer, size_t length) override;

 private:
  KeyManager& keys;
  std::vector<const SignedCertificate*> chain;
};

// The settings the configuration gives (the signature algorithm and its digest, the symmetric
// algorithm, option 2); the modes are left 0 for the caller to choose.
SmimeSettings smimeSettingsFromConfiguration(const ConfigurationManager& configuration);

// The issuers a signed message carries beside its signer's certificate, so that a recipient who
// trusts only the root can verify it: from the signer up, each the certificate whose key
// verifies the one below it, found among the certificates the context knows (the key file's,
// the trust points, the context's stores and its database; one valid now before one that is
// not), issuer first. It ends below a self-signed root, which is never carried (the recipient
// must hold it already), or where no issuer is known.
std::vector<SharedCertificate> signerIssuers(talCtx& ctx, const SignedCertificate& signer);
