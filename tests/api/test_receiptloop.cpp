// One context verifying receipts over and over, as a service does: the CRLs it
// keeps between verifications are as many after the twentieth as after the first
// (counted, never timed), also when every receipt carries a forged CRL that is
// refused each time.
#include "upo_fixture.h"

#include <cstdio>
#include <cstdlib>

namespace {

using upofix::readAll;
using upofix::withForgedCrl;
using upofix::UPO;

class ReceiptLoop : public upofix::UpoContext {};

TEST_F(ReceiptLoop, CrlsKeptBetweenVerificationsDoNotGrow) {
  char dir[] = "/tmp/talreceiptloopXXXXXX";
  ASSERT_NE(nullptr, mkdtemp(dir));
  const std::string forgedPath = std::string(dir) + "/upo-forged-crl.xml";
  std::ofstream(forgedPath, std::ios::binary) << withForgedCrl(readAll(UPO + "upo.xml"));
  const RevocationManager& m = contextServices(*ctx).manager;
  auto held = [&] {
    return m.verifiedCrls.size() + m.pendingCrls.size() + m.retiredCrls.size() +
           m.refusedCrls.size() + ctx->collectedCrls.size();
  };
  // The forgery is refused, and a refused CRL leaves the signer without revocation data.
  const struct {
    std::string path;
    int32_t status;
  } rows[] = {{UPO + "upo.xml", SIG_STATUS_VALID}, {forgedPath, SIG_STATUS_INCOMPLETE}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    size_t second = 0;
    for (int i = 0; i < 20; ++i) {
      int32_t status = 0, reason = 0;
      verifyOne(row.path, status, reason);
      EXPECT_EQ(row.status, status);
      // What the first verification of a receipt dropped goes at the second.
      if (i == 1) second = held();
    }
    EXPECT_EQ(second, held());
  }
  std::remove(forgedPath.c_str());
  rmdir(dir);
}

}  // namespace
