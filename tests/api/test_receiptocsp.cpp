// The receipt road with the signer's status decided by openssl's OCSP responder on
// 127.0.0.1: the receipts are signed by xmlsec1 when the test runs (make_upo.sh --ocsp),
// since their signers' certificates must name the responder's port in their AIA. The
// receipts carry no revocation values and the context holds no CRL of their issuer, so
// only the responder can speak for the signer.
#include "upo_fixture.h"

#include "net/localocsp.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>

namespace {

using upofix::UPO;

class ReceiptOcsp : public upofix::UpoContext {
 protected:
  void SetUp() override {
    UpoContext::SetUp();
    char dir[] = "/tmp/talupoocspXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    folder = dir;
    EXPECT_EQ(0, talSetOption(ctx, 18, 0));  // network on
    EXPECT_EQ(0, talSetOption(ctx, 16, 0));  // CRL and OCSP fetching on
  }
  void TearDown() override {
    std::filesystem::remove_all(folder);
    VerifyContext::TearDown();
  }
  std::string folder;
};

TEST_F(ReceiptOcsp, SignerStatusFromALocalResponder) {
  const char* version[] = {"xmlsec1", "--version", nullptr};
  if (runQuiet(version, true, nullptr) != 0) GTEST_SKIP() << "xmlsec1 is needed to sign the receipts";
  std::atomic<int> asked{0};
  const LocalHttpServer::Handler responder = opensslOcspResponderOf(
      folder + "/index.txt", UPO + "pki/intermediate.pem", UPO + "pki/ocsp.pem", UPO + "pki/ocsp.key");
  LocalHttpServer server([&](const LocalRequest& r) {
    ++asked;
    return responder(r);
  });
  ASSERT_NE(0, server.port);
  const std::string script = UPO + "make_upo.sh", url = server.url("/"), out = folder;
  const char* make[] = {"sh", script.c_str(), "--ocsp", url.c_str(), out.c_str(), nullptr};
  ASSERT_EQ(0, runQuiet(make, true, nullptr));

  const struct {
    const char* file;
    int32_t status, reason;
  } rows[] = {
      {"upo-ocsp-good.xml", SIG_STATUS_VALID, SIG_REASON_NONE},
      {"upo-ocsp-revoked.xml", SIG_STATUS_NEGATIVE, SIG_REASON_REVOKED},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.file);
    const int before = asked;
    int32_t status = 0, reason = 0;
    verifyOne(folder + "/" + row.file, status, reason);
    EXPECT_EQ(row.status, status) << report();
    EXPECT_EQ(row.reason, reason) << report();
    EXPECT_LT(before, asked.load());  // the responder decided
  }
}

}  // namespace
