#include "keys/sigverify.h"

#include "crypto/basic/lvexception.h"
#include "pki/common/keymembers.h"
#include "pki/common/oids.h"
#include "pki/keys/rsapukey.h"
#include "pki/keys/subpubkeyinfo.h"

#include <climits>
#include <new>

namespace {

const size_t MAX_LENGTH = INT_MAX;

// The signature representative must be the modulus's length and below it (RFC 8017 5.2.2).
bool rsaSignatureWellFormed(const RSAPublicKey& key, const uint8_t* signature, size_t length) {
  const unsigned char* n = key.modulus.data();
  int nLength = key.modulus.length;
  while (nLength > 0 && *n == 0) {
    ++n;
    --nLength;
  }
  if (nLength <= 0 || length != static_cast<size_t>(nLength)) return false;
  for (int i = 0; i < nLength; ++i)
    if (signature[i] != n[i]) return signature[i] < n[i];
  return false;
}

int32_t rsaStatus(int answer) {
  switch (answer) {
    case RSAPublicKey::OK:
      return SIGCHECK_OK;
    case RSAPublicKey::INVALID:
      return SIGCHECK_WRONG;
    default:  // LENGTH, UNUSABLE, UNSUPPORTED
      return SIGCHECK_BAD_ARGUMENTS;
  }
}

bool argumentsPresent(const uint8_t* signature, size_t signatureLength, const uint8_t* digest,
                      size_t digestLength) {
  return signature && digest && signatureLength > 0 && digestLength > 0 &&
         signatureLength <= MAX_LENGTH && digestLength <= MAX_LENGTH;
}

int32_t verifyDssFamily(SubPubKeyInfo& key, bool ec, const uint8_t* signature,
                        size_t signatureLength, const uint8_t* digest, size_t digestLength,
                        int32_t hashId) {
  if (!argumentsPresent(signature, signatureLength, digest, digestLength))
    return SIGCHECK_MALFORMED;
  try {
    DSASignature sig;
    int r = sig.decodeDer(signature, static_cast<int>(signatureLength));
    if (r == EASN_MEM) return SIGCHECK_NO_MEMORY;
    if (r != 1) return SIGCHECK_MALFORMED;
    const int length = static_cast<int>(digestLength);
    if (!ec) {
      if (key.algorithm.algorithm != id_dsa) return SIGCHECK_MALFORMED;
      return key.dsaKey().verifyDigest(digest, length, hashId, key.dsaParameters(), sig) == 0
                 ? SIGCHECK_OK
                 : SIGCHECK_MALFORMED;
    }
    if (!key.isEcKey()) return SIGCHECK_MALFORMED;
    // The curve is the key's own (its parameters live as long as the key).
    if (!key.ecKey().getKeyDomain() && !key.ecKey().setKeyDomain(key.ecParameters().getKeyDomain()))
      return SIGCHECK_MALFORMED;
    switch (key.ecKey().verifyDigest(digest, length, hashId, sig)) {
      case 1:
        return SIGCHECK_OK;
      case 0:
        return SIGCHECK_NO_MEMORY;
      default:
        return SIGCHECK_MALFORMED;
    }
  } catch (const std::bad_alloc&) {
    return SIGCHECK_NO_MEMORY;
  } catch (const LvMemException&) {
    return SIGCHECK_NO_MEMORY;
  } catch (const LvException&) {
    return SIGCHECK_MALFORMED;
  }
}

}  // namespace

int32_t verifyRsaPkcs1Signature(RSAPublicKey& key, const uint8_t* signature, size_t signatureLength,
                                const uint8_t* digest, size_t digestLength, int32_t hashId) {
  if (!argumentsPresent(signature, signatureLength, digest, digestLength))
    return SIGCHECK_BAD_ARGUMENTS;
  try {
    if (!rsaSignatureWellFormed(key, signature, signatureLength)) return SIGCHECK_MALFORMED;
    return rsaStatus(key.verifyPkcs1v15(digest, static_cast<int>(digestLength), hashId, signature,
                                        static_cast<int>(signatureLength)));
  } catch (const std::bad_alloc&) {
    return SIGCHECK_NO_MEMORY;
  }
}

int32_t verifyRsaPssSignature(RSAPublicKey& key, const uint8_t* signature, size_t signatureLength,
                              const uint8_t* digest, size_t digestLength, int32_t hashId,
                              int32_t maskHashId, int32_t saltLength) {
  if (!argumentsPresent(signature, signatureLength, digest, digestLength) || saltLength < 0 ||
      maskHashId < 1 || maskHashId > 8)
    return SIGCHECK_BAD_ARGUMENTS;
  try {
    if (!rsaSignatureWellFormed(key, signature, signatureLength)) return SIGCHECK_MALFORMED;
    return rsaStatus(key.verifyPss(digest, static_cast<int>(digestLength), hashId, signature,
                                   static_cast<int>(signatureLength), 0, maskHashId, saltLength));
  } catch (const std::bad_alloc&) {
    return SIGCHECK_NO_MEMORY;
  }
}

int32_t verifyDsaSignature(SubPubKeyInfo& key, const uint8_t* signature, size_t signatureLength,
                           const uint8_t* digest, size_t digestLength, int32_t hashId) {
  return verifyDssFamily(key, false, signature, signatureLength, digest, digestLength, hashId);
}

int32_t verifyEcdsaSignature(SubPubKeyInfo& key, const uint8_t* signature,
                             size_t signatureLength, const uint8_t* digest, size_t digestLength,
                             int32_t hashId) {
  return verifyDssFamily(key, true, signature, signatureLength, digest, digestLength, hashId);
}
