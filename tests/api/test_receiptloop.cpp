// One context verifying receipts over and over, as a service does: the CRLs it
// keeps between verifications are as many after the twentieth as after the first
// (counted, never timed), also when every receipt carries a forged CRL that is
// refused each time.
#include "upo_fixture.h"

#include "base/b64file.h"

#include <cstdio>
#include <cstdlib>

namespace {

using upofix::readAll;
using upofix::UPO;

// The receipt with a forgery of its last CRL (the intermediate's) beside it,
// unsigned like the others: one second newer, so it is the one tried, and its
// signature no longer over its contents.
std::string withForgedCrl(const std::string& receipt) {
  const std::string open = "<xades:EncapsulatedCRLValue>", close = "</xades:EncapsulatedCRLValue>";
  const size_t from = receipt.rfind(open) + open.size(), to = receipt.find(close, from);
  MemFile der;
  decodeBase64Text(receipt.data() + from, static_cast<int32_t>(to - from), &der, 0);
  std::string crl(reinterpret_cast<const char*>(der.data()), static_cast<size_t>(der.length()));
  const size_t time = crl.find(std::string("\x17\x0d", 2));  // thisUpdate, YYMMDDHHMMSSZ
  EXPECT_NE(std::string::npos, time);
  char& second = crl[time + 2 + 11];
  EXPECT_LT(second, '9');
  ++second;
  std::string text((crl.size() + 2) / 3 * 4 + 4, '\0');
  text.resize(static_cast<size_t>(
      encodeBase64Buffer(crl.data(), static_cast<int32_t>(crl.size()), &text[0])));
  SignedCertRevList genuine, forged;
  EXPECT_EQ(static_cast<int>(der.length()), genuine.decodeVector(std::vector<unsigned char>(
                                                 der.data(), der.data() + der.length())));
  EXPECT_EQ(static_cast<int>(crl.size()), forged.decodeVector(std::vector<unsigned char>(crl.begin(), crl.end())));
  EXPECT_TRUE(genuine.tbsCertList.thisUpdate < forged.tbsCertList.thisUpdate);
  return std::string(receipt).insert(to + close.size(), open + text + close);
}

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
