// Allocation failures while the key manager reloads its roots from the library's configuration
// (stored root lists read in place): this program can make the n-th allocation fail. Every
// reload answers out of memory or success, never a list that is no certificates, and the roots
// held afterwards, signed over TBS octets that are not DER, still verify.
#include "api/pathctx.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "failnth.h"

namespace {

// A file of tests/data/pki/certs read in place over a private copy, as received.
SignedCertificate received(const std::string& name) {
  std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/pki/certs/" + name, std::ios::binary);
  std::vector<unsigned char> der((std::istreambuf_iterator<char>(f)), {});
  SignedCertificate c;
  EXPECT_EQ(static_cast<int>(der.size()), c.decodeVector(der, ASN_FLAG_CONST | ASN_FLAG_COPY))
      << name;
  return c;
}

TEST(ConfigurationRootsAllocation, ReloadAnswersOutOfMemoryAndKeepsWhatWasSigned) {
  pathctx::Context ctx;
  // openssl's certificates (gen_nonder_chain.sh, gen_explicit.sh), one in each group; the
  // configuration written and read back, as a stored one is.
  ASSERT_EQ(KM_OK, ctx.keys.addCertificate(received("nonder_ca.der"), 1, 1));
  ASSERT_EQ(KM_OK, ctx.keys.addCertificate(received("critical_false.der"), 0, 1));
  std::vector<uint8_t> file;
  ASSERT_TRUE(ctx.cfg.encodeConfiguration(file));
  ASSERT_EQ(1, ctx.cfg.loadConfiguration(file.data(), file.size()));
  bool completed = false;
  for (long failAt = 1; failAt < 100000 && !completed; ++failAt) {
    g_count = 0;
    g_failAt = failAt;
    const int32_t answer = ctx.keys.loadRoots(0);
    const bool failed = g_count >= failAt;
    g_failAt = 0;
    if (!failed) {
      ASSERT_EQ(KM_OK, answer);
      completed = true;
    } else {
      ASSERT_TRUE(answer == KM_NO_MEMORY || answer == KM_OK)
          << "allocation " << failAt << ": " << answer;
    }
    for (bool qualified : {true, false}) {
      ASSERT_EQ(1, ctx.keys.rootList(qualified).GetCount()) << failAt;
      EXPECT_EQ(SignedCertificate::CERT_SIG_VALID,
                ctx.keys.rootList(qualified).elementAt(0)->certificate->verifySelfSigned())
          << "allocation " << failAt;
    }
  }
  EXPECT_TRUE(completed);
}

}  // namespace
