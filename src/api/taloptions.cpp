// The numbered options of a library context: talSetOption and talCtx::getOption, with the checks
// of the digest and signature algorithm against the context's signing key.
#include "talvorin.h"

#include "api/apitrace.h"
#include "api/talapi.h"
#include "api/talctx.h"
#include "base/commonerror.h"
#include "pki/common/oids.h"
#include "pki/keys/algtext.h"

#include <string>

#define OPT_UNIT "API/taloptions"

namespace {

// Index: the C API's hash number; value: the hash library's id.
const int32_t API_TO_DIGEST[9] = {0, 1, 8, 2, 3, 4, 5, 6, 7};
// Digest length and DigestInfo DER length by the hash library's id.
const int32_t DIGEST_LENGTH[9] = {0, 20, 28, 32, 48, 64, 16, 20, 16};
const int32_t DIGEST_INFO_LENGTH[9] = {0, 35, 47, 51, 67, 83, 0, 35, 34};

bool signingHash(int32_t api) {
  return api == 1 || api == 3 || api == 4 || api == 5 || api == 6 || api == 8;
}

const char* identifierName(int32_t scheme, int32_t digest) {
  size_t count = 0;
  const AlgorithmTableRow* rows = algorithmTable(&count);
  for (size_t i = 0; i < count; ++i)
    if (rows[i].scheme == scheme && rows[i].hash == static_cast<uint32_t>(digest))
      return rows[i].identifierName;
  return "?";
}

// The signing key's scheme (-1 unknown) and its length in bytes (0 unknown); false when the
// context has neither a signer certificate nor a signing key.
bool signingKey(const talCtx* ctx, int32_t& type, uint32_t& length) {
  type = -1;
  length = 0;
  if (ctx->signerCertificate) {
    const SubPubKeyInfo& key = ctx->signerCertificate->tbsCertificate.subjectPublicKeyInfo;
    const ASNobjectId& oid = key.algorithm.algorithm;
    if (oid == id_RSASSA_PSS) type = 3;
    else if (oid == rsaEncryption) type = 0;
    else if (oid == id_dsa) type = 1;
    else if (oid == id_ecPublicKey) type = 2;
    // As the certificate states it: bytes, but bits for an EC key.
    length = ctx->signerCertificate->tbsCertificate.publicKeySize();
    return true;
  }
  if (ctx->keyManager.flags & KM_FLAG_SIGNING_LOADED) {
    type = ctx->keyManager.getSgnScheme();
    length = (ctx->keyManager.getKeyBits(0) + 7) / 8;
    return true;
  }
  return false;
}

bool certificateFixesPss(const talCtx* ctx) {
  return ctx->signerCertificate &&
         ctx->signerCertificate->tbsCertificate.subjectPublicKeyInfo.algorithm.algorithm ==
             id_RSASSA_PSS &&
         ctx->signerCertificate->fixesRsaPssParameters();
}

int32_t setSignatureAlgorithm(talCtx* ctx, int32_t value) {
  int32_t schemeByte = (value >> 8) & 0xFF;
  int32_t api = value & 0xFF;
  if ((value & ~0xFFFF) != 0 || schemeByte < 1 || schemeByte > 4 || !signingHash(api)) return 20;
  int32_t scheme = schemeByte - 1;
  int32_t digest = apiHashToDigest(api);
  AlgorithmIdentifier algorithm;
  if (!algorithmTableContains(scheme, digest) ||
      !cfgSignatureAlgorithm(scheme, digest, algorithm))
    return 159;
  int32_t type;
  uint32_t length;
  if (signingKey(ctx, type, length)) {
    if (length > 0) {
      if (scheme == 0 && static_cast<uint32_t>(DIGEST_INFO_LENGTH[digest] + 11) > length) {
        ctx->report << "Podane parametry podpisu RSA PKCS#1 " << digestIdentifierName(digest)
                    << " są zbyt długie dla aktualnego klucza do podpisywania.\r\n";
        return 159;
      }
      if (scheme == 3 && static_cast<uint32_t>(2 * DIGEST_LENGTH[digest] + 2) > length) {
        ctx->report << "Podane parametry podpisu RSA PSS " << digestIdentifierName(digest)
                    << " są zbyt długie dla aktualnego klucza do podpisywania.\r\n";
        return 159;
      }
    }
    if (type >= 0 && type != scheme && !(type == 0 && scheme == 3)) {
      ctx->report << "Podany schemat podpisu " << identifierName(scheme, 0)
                  << " nie może być użyty z aktualnym kluczem do podpisywania (który jest typu "
                  << identifierName(type, 0) << ").\r\n";
      return 159;
    }
    if (certificateFixesPss(ctx)) {
      int hash = 0;
      signatureSchemeOf(ctx->signerCertificate->tbsCertificate.subjectPublicKeyInfo.algorithm,
                        &hash);
      ctx->report << "Podany schemat podpisu " << identifierName(scheme, digest)
                  << " jest niezgodny z algorytmem podpisu " << identifierName(3, hash)
                  << "  wymuszonym przez certyfikat.\r\n";
      return 166;
    }
  }
  if (!ctx->configuration.setSignatureAlgorithm(algorithm, true, true)) return 100;
  return 0;
}

int32_t storeOption(talCtx* ctx, int32_t option, int32_t value) {
  int r = ctx->configuration.setOption(option, value, true);
  if (r == -2) return 100;
  checkInvariant(r == 1, OPT_UNIT, __LINE__, "r == 1");
  return 0;
}

int32_t setOptionBody(talCtx* handle, int32_t option, int32_t value) {
  CtxUse use(handle);
  if (use.code() != 0) return use.code();
  talCtx* ctx = checkCtxAndResetReport(use);
  int32_t result = 0;
  switch (option) {
    case 1:
      return 20;
    case 2:
      if (value != 3 && value != 4) return 20;
      result = storeOption(ctx, 2, value == 3 ? 0 : 1);
      break;
    case 15: {
      if (!signingHash(value)) return 20;
      int32_t digest = apiHashToDigest(value);
      if ((ctx->keyManager.flags & KM_FLAG_SIGNING_LOADED) &&
          !ctx->keyManager.supportsDigest(digest)) {
        reportUnsupportedDigest(ctx, digest);
        return 159;
      }
      int r = ctx->configuration.setDigestAlgorithm(digest, true);
      if (r == -2) return 100;
      checkInvariant(r == 1, OPT_UNIT, __LINE__, "r == 1");
      break;
    }
    case 21: {
      const char* oid = value == 2   ? "1.2.840.113549.3.7"
                        : value == 4 ? "2.16.840.1.101.3.4.1.2"
                        : value == 5 ? "2.16.840.1.101.3.4.1.22"
                        : value == 6 ? "2.16.840.1.101.3.4.1.42"
                                     : nullptr;
      if (!oid) return 20;
      int r = ctx->configuration.file().setSymmetricAlgorithm(ASNobjectId(oid));
      if (r == -2) return 100;
      checkInvariant(r == 1, OPT_UNIT, __LINE__, "r == 1");
      break;
    }
    case 25:
      result = setSignatureAlgorithm(ctx, value);
      break;
    case 31:
      ctx->option31 = value != 0;
      break;
    default:
      if (!ctx->configuration.file().hasOption(option)) return 20;
      result = storeOption(ctx, option, value);
  }
  return result != 0 ? result : endOfOperation(ctx);
}

}  // namespace

int32_t apiHashToDigest(int32_t api) { return api >= 1 && api <= 8 ? API_TO_DIGEST[api] : 0; }

int32_t digestToApiHash(int32_t digest) {
  for (int32_t api = 1; api <= 8; ++api)
    if (API_TO_DIGEST[api] == digest) return api;
  return 0;
}

const char* digestIdentifierName(int32_t digest) { return identifierName(SCHEME_DIGEST, digest); }

void reportUnsupportedDigest(talCtx* ctx, int32_t digest) {
  ctx->report << "Funkcja skrótu " << digestIdentifierName(digest)
              << " nie jest wspierana z aktualnym schematem klucza do podpisywania.\r\n";
}

int32_t talCtx::getOption(int32_t option, int32_t* value) {
  warnings = 0;
  if (!value) return 20;
  switch (option) {
    case 1:
      return 20;
    case 2: {
      int32_t stored = configuration.getIntOption(2);
      *value = stored == 0 ? 3 : stored == 1 ? 4 : 0;
      break;
    }
    case 15: {
      int32_t api = digestToApiHash(configuration.getDigestAlgorithm(false, true));
      checkInvariant(api != 0, OPT_UNIT, __LINE__, "api != 0");
      *value = api;
      break;
    }
    case 25: {
      AlgorithmIdentifier algorithm;
      if (!configuration.getSignatureAlgorithm(algorithm, false)) {
        int32_t type;
        uint32_t length;
        signingKey(this, type, length);
        bool built = certificateFixesPss(this)
                         ? cfgSignatureAlgorithm(3, [&] {
                             int hash = 0;
                             signatureSchemeOf(signerCertificate->tbsCertificate
                                                   .subjectPublicKeyInfo.algorithm,
                                               &hash);
                             return hash;
                           }(), algorithm)
                         : cfgDefaultSignatureAlgorithm(type < 0 ? 0 : type, algorithm);
        if (!built) return 100;
      }
      int hash = 0;
      int32_t scheme = signatureSchemeOf(algorithm, &hash);
      *value = scheme >= 0 && scheme <= 3 ? ((scheme + 1) << 8) | digestToApiHash(hash) : 0;
      break;
    }
    default:
      if (!configuration.file().hasOption(option)) return 20;
      *value = configuration.getIntOption(option);
  }
  return endOfOperation(this);
}

extern "C" int32_t talSetOption(talCtx* ctx, int32_t option, int32_t value) {
  return traceCode("talSetOption", [&] {
    return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION,
                    [&] { return setOptionBody(ctx, option, value); });
  });
}
