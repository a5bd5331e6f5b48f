// Certificates, trusted roots and hashing: reading a certificate file into a handle, the
// self-signed CA test, installing roots and further certificates, a certificate's DER, hashing a
// file and freeing what the library handed out.
#include "talvorin.h"

#include "api/apitrace.h"
#include "api/talapi.h"
#include "api/talctx.h"
#include "base/commonerror.h"
#include "base/file.h"
#include "base/livehandles.h"
#include "crypto/hash/messagedigests.h"
#include "keys/secretblock.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#define CRT_UNIT "API/talcrt"

namespace {

const uint32_t HASH_CHUNK = 0xA000;

std::atomic<int32_t> netCacheTimeout{0};

// The certificate behind a handle talAllocateCertFromFile gave, held for the call; empty for
// anything else (never read then).
HandleHold holdCertificate(talCert* handle) { return HandleHold(handle, HandleKind::Certificate); }

int32_t allocateCertBody(const char* path, talCert** out) {
  if (!path || !out) return 20;
  File file;
  if (file.openRegular(path) != 0) return 56;
  std::unique_ptr<SignedCertificate> certificate(new SignedCertificate());
  // Read in place over a private copy: a TBS signed as it stands (not DER)
  // is verified over the octets of the file, not over a re-encoding.
  int r = certificate->decode(&file, static_cast<int>(file.size()), ASN_FLAG_CONST | ASN_FLAG_COPY);
  file.close();
  if (r == -2) return 100;
  if (r <= 0) return 73;
  enlistHandle(certificate.get(), HandleKind::Certificate);
  *out = reinterpret_cast<talCert*>(certificate.release());
  return 0;
}

int32_t isCaAutoCertBody(talCert* handle, int32_t* flag) {
  HandleHold hold = holdCertificate(handle);
  const SignedCertificate* certificate = hold.as<SignedCertificate>();
  if (!certificate || !flag) return 20;
  *flag = 0;
  const TBSCertificate& tbs = certificate->tbsCertificate;
  if (!(tbs.issuer == tbs.subject)) return 0;
  uint32_t version = tbs.versionNumber();
  if (version > 2) return 73;
  if (version == 2 && !certificate->isCa()) return 0;
  if (certificate->verifySelfSigned() == SignedCertificate::CERT_SIG_VALID) *flag = 1;
  return 0;
}

int32_t installRootBody(talCtx* handle, talCert* certHandle, int32_t kind, int32_t group) {
  CtxUse use = useCtx(handle);
  talCtx* ctx = checkCtxAndResetReport(use);
  HandleHold hold = holdCertificate(certHandle);
  const SignedCertificate* certificate = hold.as<SignedCertificate>();
  if (kind < 1 || kind > 4 || !certificate) return 20;
  int32_t added = ctx->keyManager.addCertificate(*certificate, group, kind);
  switch (added) {
    case 0:
    case 39: break;
    case 3: return 137;
    case 4: return 100;
    case 7: return 86;
    case 15: return 63;
    case 17: return 70;
    case 40: return 132;
    default: checkInvariant(false, CRT_UNIT, __LINE__, "false");
  }
  if (ctx->keyManager.hasRoots()) ctx->operationMask |= 5;
  if (added == 0 && kind == 1) {
    int32_t r = mapAnswer(ctx, SAVE_CONF_ANSWERS, SAVE_CONF_ANSWER_COUNT,
                          ctx->keyManager.saveConf(), CRT_UNIT, __LINE__);
    if (r != 0) return r;
  } else if (added == 0 && kind == 4) {
    int32_t r = mapAnswer(ctx, LOAD_ROOTS_ANSWERS, LOAD_ROOTS_ANSWER_COUNT,
                          ctx->keyManager.loadRoots(0), CRT_UNIT, __LINE__);
    if (r != 0) return r;
  }
  return endOfOperation(ctx);
}

int32_t installMemCrtBody(talCtx* handle, const uint8_t* buffer, int32_t length, int32_t flag,
                          int32_t* count) {
  CtxUse use(handle);
  if (use.code() != 0) return use.code();
  talCtx* ctx = checkCtxAndResetReport(use);
  if (!ctx->initialised) return 22;
  if (!ctx->completeKeys && flag == 0) return 25;
  if (!buffer || length < 1 || flag == 0) return 20;
  MemFile in(const_cast<uint8_t*>(buffer), length, false, false);
  int32_t stored = 0;
  CertificateManager::ImportBatch batch(ctx->certificates);
  // A failure ends the batch at once: the certificates imported before it stay (the database
  // committed them as it dropped the failed one) unless the batch then fails as a whole (its
  // commit failing drops it all, 158); the count says which.
  int32_t code = 0;
  while (!code && in.tell() < static_cast<uint32_t>(length)) {
    SignedCertificate certificate;
    // In place over a private copy: the database keeps the octets received,
    // never a re-encoding of a TBS that is not DER.
    int r = certificate.decode(&in, length - static_cast<int>(in.tell()),
                               ASN_FLAG_CONST | ASN_FLAG_COPY);
    if (r == -2) {
      code = 100;
      break;
    }
    // The end of the data or bytes that are no certificate (a format error included) end the
    // loop; a half-decoded certificate is never imported.
    if (r <= 0) break;
    int imported = ctx->certificates.importCertificate(certificate);
    if (imported == 1) code = 100;
    else if (imported == 2) code = 158;
    else checkInvariant(imported == 0, CRT_UNIT, __LINE__, "r == 0");
    if (!code) ++stored;
  }
  const bool committed = batch.finish() == 0;
  if (count) *count = committed ? stored : 0;
  if (code) return code;
  if (!committed) return 158;
  return endOfOperation(ctx);
}

int32_t getCrtMemBody(talCert* handle, uint8_t** out, int32_t* length) {
  HandleHold hold = holdCertificate(handle);
  const SignedCertificate* certificate = hold.as<SignedCertificate>();
  if (!certificate || !out || !length) return 20;
  MemFile buffer;
  if (certificate->encode(&buffer) < 1) return 100;
  int32_t size = buffer.length();
  uint8_t* bytes = static_cast<uint8_t*>(newCallerBuffer(static_cast<size_t>(size)));
  if (!bytes) return 100;
  std::memcpy(bytes, buffer.data(), static_cast<size_t>(size));
  *length = size;
  *out = bytes;
  return 0;
}

int32_t hashFileBody(const char* path, int32_t hash, uint8_t* buffer, int32_t bufferLength) {
  if (!path) return 20;
  File file;
  if (file.openRegular(path) != 0) return 56;
  if (!buffer || hash < 1 || hash > 8) return 20;
  static const int32_t DIGEST_LENGTH[9] = {0, 20, 16, 28, 32, 48, 64, 16, 20};
  if (DIGEST_LENGTH[hash] > bufferLength) return 20;
  MessageDigestCtx digest(static_cast<uint32_t>(apiHashToDigest(hash)));
  // The size only sizes the chunk: it is 0 for a pipe and 0xFFFFFFFF from 4 GiB on, so the
  // file is read to its end rather than to its size.
  uint32_t size = file.size();
  uint32_t chunk = size > 0 && size < HASH_CHUNK ? size : HASH_CHUNK;
  // The chunk buffer is wiped and freed on every way out.
  SecretBlock block(chunk);
  file.seek(0);
  for (;;) {
    uint32_t got = 0;
    if (file.read(chunk, block.data(), &got) != 0) return 59;
    if (got == 0) break;
    digest.update(block.data(), got);
  }
  digest.finish();
  std::memcpy(buffer, digest.getDigestPtr(), digest.getDigestLength());
  return 0;
}

}  // namespace

void* newCallerBuffer(size_t size) {
  // Zeroed: g++ takes the handle registry's read of the address for a read of the block.
  void* buffer = std::calloc(size ? size : 1, 1);
  if (!buffer) return nullptr;
  try {
    enlistHandle(buffer, HandleKind::Buffer, size);
  } catch (const std::bad_alloc&) {
    std::free(buffer);
    return nullptr;
  }
  return buffer;
}

void freeCallerBuffer(void* buffer) {
  dropHandle(buffer);
  std::free(buffer);
}

extern "C" {

int32_t talAllocateCertFromFile(const char* path, talCert** certificate) {
  return traceCodeWithPath("talAllocateCertFromFile", "crtFile: ", path, [&] {
    return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION,
                    [&] { return allocateCertBody(path, certificate); });
  });
}

int32_t talDeleteCertificate(talCert* certificate) {
  return traceCode("talDeleteCertificate", [&] {
    return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&]() -> int32_t {
      // Taken off the live list in one step: of two deletes of one handle, one frees it.
      if (!takeHandle(certificate, HandleKind::Certificate)) return 20;
      delete reinterpret_cast<SignedCertificate*>(certificate);
      return 0;
    });
  });
}

int32_t talIsCAAutoCert(talCert* certificate, int32_t* flag) {
  return traceCode("talIsCAAutoCert", [&] {
    return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION,
                    [&] { return isCaAutoCertBody(certificate, flag); });
  });
}

int32_t talInstallRoot(talCtx* ctx, talCert* certificate, int32_t kind, int32_t group) {
  return traceCode("talInstallRoot", [&] {
    return catchWithText([&] { return installRootBody(ctx, certificate, kind, group); });
  });
}

int32_t talInstallMemCrt(talCtx* ctx, const uint8_t* buffer, int32_t length, int32_t flag,
                         int32_t* count) {
  return traceCode("talInstallMemCrt", [&] {
    return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION,
                    [&] { return installMemCrtBody(ctx, buffer, length, flag, count); });
  });
}

int32_t talGetCrtMem(talCert* certificate, uint8_t** buffer, int32_t* length) {
  return traceCode("talGetCrtMem", [&] {
    return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION,
                    [&] { return getCrtMemBody(certificate, buffer, length); });
  });
}

int32_t talHashFile(const char* path, int32_t hash, uint8_t* buffer, int32_t length) {
  return traceCodeWithPath("talHashFile", "inFile: ", path, [&] {
    return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION,
                    [&] { return hashFileBody(path, hash, buffer, length); });
  });
}

int32_t talDeleteBuffer(void* buffer, int32_t length) {
  return traceCode("talDeleteBuffer", [&] {
    return catchAll(TAL_RESULT_UNKNOWN_EXCEPTION, [&]() -> int32_t {
      if (!buffer || length < 0) return 20;
      // Only a buffer the library handed out, once: taken off the live list in one step, so of
      // two deletes one frees it, and a stranger's pointer is never freed. The wipe and the
      // free (of what may be a big buffer) are done outside the list's lock.
      size_t size = 0;
      if (!takeHandle(buffer, HandleKind::Buffer, &size)) return 20;
      // A length past the buffer is the caller's mistake: the wipe stops at its end.
      size_t wipe = static_cast<size_t>(length);
      SecretBlock::wipe(buffer, wipe < size ? wipe : size);
      std::free(buffer);
      return 0;
    });
  });
}

int32_t talNetCacheSetTimeout(int32_t value) {
  return traceCode("talNetCacheSetTimeout", [&] {
    netCacheTimeout.store(value);
    return 0;
  });
}

}  // extern "C"
