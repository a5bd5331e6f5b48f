// A verifying session over the public header only, as a caller opens it: a memory profile with
// its database in memory, the receipts' root and intermediate CA of tests/data/upo installed,
// the network off; and the receipt road (load, verify, read the status) on one receipt.
#pragma once

#include "talvorin.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace apisession {

const std::string UPO = std::string(TAL_TEST_DATA_DIR) + "/upo/";

inline std::vector<uint8_t> fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The registry and the per-user folder inside a fresh folder of the test's own: a session keeps
// its configuration there. Empty when no folder could be made.
inline std::string sandbox(const char* name) {
  std::string dir = "/tmp/" + std::string(name) + ".XXXXXX";
  if (!mkdtemp(&dir[0])) return std::string();
  setenv("TALVORIN_REGISTRY_ROOT", (dir + "/registry").c_str(), 1);
  setenv("XDG_DATA_HOME", (dir + "/data").c_str(), 1);
  return dir;
}

// A ready context, or null. Contexts of one profile name share its database.
inline talCtx* open(const char* profileName = "ApiSessionProfile") {
  static const char DATABASE[] = "w pamieci";
  talProfile* profile = talCreateProfile(TAL_PROFILE_MEMORY);
  if (!profile) return nullptr;
  talSetProfileAttr(profile, 0, profileName,
                    static_cast<int32_t>(std::string(profileName).size() + 1));
  talSetProfileAttr(profile, 17, DATABASE, sizeof DATABASE);
  talCtx* ctx = nullptr;
  if (talInitEx(&ctx, profile) > 10) return nullptr;
  talCert* root = nullptr;
  const std::vector<uint8_t> inter = fileBytes(UPO + "pki/intermediate.der");
  int32_t installed = 0;
  bool ok = talAllocateCertFromFile((UPO + "roots/root.crt").c_str(), &root) <= 10 &&
            talInstallRoot(ctx, root, 1, 1) <= 10 &&
            talInstallMemCrt(ctx, inter.data(), static_cast<int32_t>(inter.size()), 1,
                             &installed) <= 10;
  if (root) talDeleteCertificate(root);
  for (int32_t option : {12, 27, 23}) ok = ok && talSetOption(ctx, option, 0) <= 10;
  ok = ok && talSetOption(ctx, 18, 1) <= 10 && talAuthenticateEx(ctx, 0) <= 10;
  if (!ok) {
    talDeinit(ctx);
    return nullptr;
  }
  return ctx;
}

// The road on one receipt: 0 when its one signature is verified (status 4), else the step that
// failed (1 to 4).
inline int road(talCtx* ctx, const std::string& receipt) {
  tvXmlCtx* xml = nullptr;
  tvXmlDoc* doc = nullptr;
  talMsgInfo* message = nullptr;
  int32_t one = 1, status = 0;
  if (tvXmlCreateCtx(&xml) > 10) return 1;
  if (tvXmlSetOption(xml, 4, &one, sizeof one) > 10 ||
      tvXmlLoadDocFile(xml, receipt.c_str(), nullptr, &doc) > 10 ||
      tvXmlUnprotect(ctx, xml, doc, nullptr, &message) > 10) {
    tvXmlDeleteCtx(xml);
    return 2;
  }
  int rc = talMsgStatus(message, &status) > 10 || status != 4 ? 3 : 0;
  if (tvXmlDeleteMsgInfo(message) != 0) rc = 4;  // the XML context goes with it
  return rc;
}

}  // namespace apisession
