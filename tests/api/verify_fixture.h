// A library context over the openssl-made PKI of tests/data/api/verify/
// (gen.sh there): opened on a memory profile inside a registry sandbox, the
// root installed, the clock fixed in 2027, and loaders for the fixtures.
#pragma once

#include "talvorin.h"

#include "api/ctxrevocation.h"
#include "api/talctx.h"
#include "keys/talprofile.h"
#include "platform/clock.h"
#include "platform/registrysandbox.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace verifyfix {

const std::string DIR = std::string(TAL_TEST_DATA_DIR) + "/api/verify/";

inline std::vector<unsigned char> bytes(const std::string& name) {
  std::ifstream in(DIR + name, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

template <class T>
std::unique_ptr<T> load(const std::string& name) {
  const std::vector<unsigned char> der = bytes(name);
  auto x = std::make_unique<T>();
  EXPECT_EQ(static_cast<int>(der.size()), x->decodeVector(der)) << name;
  return x;
}

// 2027-06-01 00:00:00 UTC: every certificate but the 2021 one valid, the CRLs current.
const int64_t NOW = 1811808000;

class VerifyContext : public RegistrySandbox {
 protected:
  void SetUp() override {
    RegistrySandbox::SetUp();
    platform::setTestTime(NOW);
    ctx = open();
  }
  void TearDown() override {
    if (ctx) { EXPECT_EQ(0, talDeinit(ctx)); }
    platform::clearTestTime();
    RegistrySandbox::TearDown();
  }

  talCtx* open() {
    static int serial = 0;
    talProfile* p = talCreateProfile(TAL_PROFILE_MEMORY);
    const std::string name =
        "verify-test-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
    EXPECT_EQ(0, talSetProfileAttr(p, 0, name.c_str(), static_cast<int32_t>(name.size() + 1)));
    EXPECT_EQ(0, talSetProfileAttr(p, 17, "w pamieci", 10));
    talCtx* c = nullptr;
    EXPECT_EQ(0, talInitEx(&c, p));
    // Each context its own in-memory database (they are process-wide by name).
    if (ProfileParameters* parameters = c->configuration.getProfileParameters())
      parameters->set("dbname", name);
    EXPECT_EQ(0, talAuthenticateEx(c, 0));
    return c;
  }

  // The root in the qualified group (group non-zero) or the other one, for this context only:
  // a later context of the test starts without it.
  void installRoot(int32_t group) {
    talCert* root = nullptr;
    ASSERT_EQ(0, talAllocateCertFromFile((DIR + "root.der").c_str(), &root));
    EXPECT_EQ(0, talInstallRoot(ctx, root, TAL_ROOT_SESSION, group));
    talDeleteCertificate(root);
  }

  // The intermediate CA in the certificate database, the CRLs in the CRL database.
  void storeSubAndCrls(const std::vector<std::string>& crls) {
    ASSERT_EQ(0, ctx->certificates.importCertificate(*load<SignedCertificate>("sub.der")));
    for (const std::string& name : crls)
      ASSERT_EQ(0, ctx->revocation->importCrl(*load<SignedCertRevList>(name))) << name;
  }

  std::string report() const {
    return std::string(reinterpret_cast<const char*>(ctx->reportBuffer.data()),
                       static_cast<size_t>(ctx->reportBuffer.length()));
  }

  talCtx* ctx = nullptr;
};

}  // namespace verifyfix
