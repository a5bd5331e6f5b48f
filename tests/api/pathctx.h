// A library context's side of path building for tests: the configuration with
// a memory profile, the key manager, path verification and a builder over one
// temporary store; certificates read from tests/data/store.
#pragma once

#include "api/cfgmgr.h"
#include "api/pathenv.h"
#include "base/memfile.h"
#include "base/reportstream.h"
#include "keys/keymanager.h"
#include "keys/talprofile.h"
#include "store/certmgr.h"
#include "store/lcrtstore.h"
#include "store/pathverify.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace pathctx {

inline std::unique_ptr<SignedCertificate> load(const std::string& name) {
  std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/store/" + name, std::ios::binary);
  std::vector<unsigned char> der((std::istreambuf_iterator<char>(f)), {});
  auto c = std::make_unique<SignedCertificate>();
  EXPECT_EQ(static_cast<int>(der.size()), c->decodeVector(der)) << name;
  return c;
}

struct Context {
  ConfigurationManager cfg;
  KeyManager keys;
  PathVerification verification;
  ContextPathEnvironment env{cfg, keys, verification};
  CertificateManager manager;
  LCertificateStore store;
  std::vector<std::unique_ptr<SignedCertificate>> held;
  MemFile text;
  ReportStream report{&text};
  PathBuilder builder{manager, env, report};

  Context() {
    TalProfile* p = createProfile(TALPROFILE_MEMORY);
    EXPECT_EQ(0, p->setAttribute(0, "profil", 6));
    EXPECT_EQ(0, cfg.setProfile(p));
    EXPECT_EQ(KM_OK, keys.init(&cfg));
    EXPECT_EQ(KM_OK, keys.initProfile(1, 1));
    manager.addTemporaryStore(&store);
  }
  void inStore(const std::string& name) {
    held.push_back(load(name));
    store.addCertificate(held.back().get());
  }
  int build(const std::string& name, CertificatePath& path) {
    return builder.buildPathForCertificate(path, *load(name), PATH_PURPOSE_SIGNER, true);
  }
};

}  // namespace pathctx
