#include "api/ctxsmime.h"

#include "api/cfgmgr.h"
#include "api/talctx.h"
#include "keys/keymanager.h"
#include "pki/common/algid.h"
#include "pki/common/oids.h"
#include "pki/common/siganddigoid.h"
#include "store/pathbuild.h"

#include <exception>
#include <new>

namespace {

// Signature checks one search may spend: a database of many certificates under one name (or
// crafted to loop) costs no more than this.
const int MAX_ISSUER_CHECKS = 256;

bool selfSigned(const SignedCertificate& c) {
  return c.tbsCertificate.issuer == c.tbsCertificate.subject &&
         c.verifySelfSigned() == SignedCertificate::CERT_SIG_VALID;
}

// The certificates the context knows under a subject name, the key file's first.
void knownUnder(talCtx& ctx, const DistinguishedName& subject, SharedCertificateList& out) {
  for (const SharedCertificate& c : ctx.keyManager.keyFileCertificates())
    if (c->tbsCertificate.subject == subject) out.push_back(c);
  for (bool qualified : {true, false}) {
    const RootList& roots = ctx.keyManager.rootList(qualified);
    for (POSITION pos = roots.GetHeadPosition(); pos;) {
      const SignedCertificateWithDesc* root = roots.GetNext(pos);
      if (root && root->certificate->tbsCertificate.subject == subject) out.push_back(root->certificate);
    }
  }
  for (const auto& service : ctx.keyManager.trustedListServices())
    for (const auto& points : service.second.points)
      for (const auto& point : points)
        if (point->tbsCertificate.subject == subject) out.push_back(SharedCertificate::holding(*point));
  try {
    ctx.certificates.findSharedInStores(out, subject, false);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {
    // A database that cannot answer leaves the issuers found elsewhere.
  }
}

}  // namespace

const SignedCertificate* KeyManagerSmimeKeys::signingCertificate() const {
  const KeyHolder* holder = keys.signingKey();
  return holder && (keys.flags & KM_FLAG_SIGNING_LOADED) ? holder->certificate() : nullptr;
}

int32_t KeyManagerSmimeKeys::keyScheme() const { return keys.getSgnScheme(); }

int32_t KeyManagerSmimeKeys::sign(int32_t scheme, int32_t digestId, const uint8_t* digest,
                                  size_t digestLength, std::vector<uint8_t>& signature) {
  switch (keys.sign(scheme, digestId, digest, digestLength, signature)) {
    case KM_OK:
      return 0;
    case KM_NO_MEMORY:
      return 100;
    case KM_BAD_ARGUMENTS:
      return 159;  // the key does not sign with this digest or scheme
    case 13:
      return 46;
    case 27:
      return 45;
    case 14:
      return 80;
    case KM_DEVICE_ERROR:
    case 25:
      return 44;
    default:
      return 30;
  }
}

int32_t KeyManagerSmimeKeys::randomBytes(uint8_t* buffer, size_t length) {
  const int32_t r = keys.getRandomBytes(buffer, length);
  return r == KM_OK ? 0 : r == KM_NO_MEMORY ? 100 : 31;
}

SmimeSettings smimeSettingsFromConfiguration(const ConfigurationManager& configuration) {
  SmimeSettings settings;
  AlgorithmIdentifier algorithm;
  if (configuration.getSignatureAlgorithm(algorithm, false)) {
    int digest = 0;
    if (algorithm.getDigestType(&digest, nullptr)) settings.digestId = digest;
    const ASNobjectId& oid = algorithm.algorithm;
    settings.signatureScheme = isRsaPssOid(oid)          ? 3
                               : isEcdsaSignatureOid(oid) ? 2
                               : isDsaSignatureOid(oid)   ? 1
                               : isRsaSignatureOid(oid)   ? 0
                                                          : -1;
  } else {
    settings.digestId = configuration.getDigestAlgorithm(false, true);
  }
  const ASNobjectId& cipher = configuration.file().getSymmetricAlgorithm(false);
  settings.cipher = cipher == id_aes128_CBC   ? SMIME_CIPHER_AES128
                    : cipher == id_aes192_CBC ? SMIME_CIPHER_AES192
                    : cipher == id_aes256_CBC ? SMIME_CIPHER_AES256
                    : cipher == des_ede3_cbc  ? SMIME_CIPHER_TDES
                                              : 0;
  settings.includeCertificates = configuration.getIntOption(2) != 0;
  return settings;
}

std::vector<SharedCertificate> signerIssuers(talCtx& ctx, const SignedCertificate& signer) {
  std::vector<SharedCertificate> chain;
  if (selfSigned(signer)) return chain;
  const SignedCertificate* below = &signer;
  int checks = 0;
  // Each issuer carried was found not self-signed before it was taken.
  while (chain.size() < static_cast<size_t>(MAX_PATH_CERTIFICATES)) {
    SharedCertificateList candidates;
    knownUnder(ctx, below->tbsCertificate.issuer, candidates);
    const SharedCertificate* issuer = nullptr;
    bool issuerValidNow = false;
    for (const SharedCertificate& c : candidates) {
      if (issuerValidNow || ++checks > MAX_ISSUER_CHECKS) break;
      // A certificate met again is a loop of cross-certificates, not an issuer.
      bool seen = c.get() == signer;
      for (const SharedCertificate& carried : chain) seen = seen || carried.get() == c.get();
      if (seen || below->verifySignature(c) != SignedCertificate::CERT_SIG_VALID) continue;
      const bool validNow = ctx.clock.checkValidity(c->tbsCertificate) == 0;
      if (!issuer || validNow) issuer = &c;
      issuerValidNow = validNow;
    }
    if (!issuer || selfSigned(*issuer)) break;
    chain.push_back(*issuer);
    below = &chain.back().get();
  }
  return chain;
}
