// libFuzzer target over the C API's certificate readers: talInstallMemCrt over arbitrary bytes
// (a sequence of certificates that may stop anywhere) on one open context, and
// talAllocateCertFromFile over the same bytes written to a file. Each must answer a code and
// never import half a certificate.
#include "talvorin.h"

#include "removedatexit.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace {

talCtx* context() {
  static talCtx* ctx = [] {
    static char folder[] = "/tmp/tal-fuzz-memcrt-XXXXXX";
    if (!mkdtemp(folder)) std::abort();
    scratchfiles::removedAtExit(folder);
    setenv("TALVORIN_REGISTRY_ROOT", folder, 1);
    talProfile* profile = talCreateProfile(TAL_PROFILE_MEMORY);
    talSetProfileAttr(profile, 17, "w pamieci", 10);
    talCtx* opened = nullptr;
    if (talInitEx(&opened, profile) != TAL_OK || talAuthenticateEx(opened, 0) != TAL_OK)
      std::abort();
    return opened;
  }();
  return ctx;
}

std::string scratchFile() {
  return scratchfiles::removedAtExit("/tmp/tal-fuzz-memcrt-" + std::to_string(getpid()) + ".der");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  int32_t count = -1;
  int32_t r = talInstallMemCrt(context(), data, static_cast<int32_t>(size), 1, &count);
  if (r == TAL_OK && (count < 0 || static_cast<size_t>(count) * 4 > size)) std::abort();

  static const std::string path = scratchFile();
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return 0;
  if (size) std::fwrite(data, 1, size, file);
  std::fclose(file);
  talCert* certificate = nullptr;
  r = talAllocateCertFromFile(path.c_str(), &certificate);
  if ((r == TAL_OK) != (certificate != nullptr)) std::abort();
  if (certificate) {
    uint8_t* der = nullptr;
    int32_t length = 0;
    if (talGetCrtMem(certificate, &der, &length) == TAL_OK) talDeleteBuffer(der, length);
    int32_t flag = 0;
    talIsCAAutoCert(certificate, &flag);
    talDeleteCertificate(certificate);
  }
  return 0;
}
