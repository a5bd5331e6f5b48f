#include "api/ctxsmime.h"

#include "api/cfgmgr.h"
#include "keys/keymanager.h"
#include "pki/common/algid.h"
#include "pki/common/oids.h"
#include "pki/common/siganddigoid.h"

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
