// XAdES-T, -C, -X-L and -A documents assembled by xadesjs and xmldsigjs with
// tokens of `openssl ts -reply` (tests/data/xades/make_forms.sh), through
// tvXmlUnprotect: the form, status and reason of each. In the "enveloped"
// layout the 1.3.2 and 1.4.1 archive rules cover the same data; in the
// "object" layout the signed ds:Object is covered by the 1.4.1 rule only, so
// a 1.4.1 token over the 1.3.2 data fails its imprint there and nowhere else.
#include "upo_fixture.h"

namespace {

using upofix::UPO;

const std::string XADES = std::string(TAL_TEST_DATA_DIR) + "/xades/";

class XadesForms : public upofix::UpoContext {
 protected:
  void SetUp() override {
    UpoContext::SetUp();
    EXPECT_EQ(0, talSetOption(ctx, 18, 1));  // network off
    ASSERT_EQ(0, ctx->revocation->importCrl(
                     *upofix::loadFile<SignedCertRevList>(UPO + "crl/intermediate-revoked.der")));
  }
};

TEST_F(XadesForms, DocumentsOfXadesjsAndOpensslTs) {
  const struct {
    const char* file;
    int32_t form, status, reason;
  } rows[] = {
      {"enveloped-t.xml", SIG_FORM_T, SIG_STATUS_VALID, SIG_REASON_NONE},
      {"enveloped-c.xml", SIG_FORM_C, SIG_STATUS_VALID, SIG_REASON_NONE},
      {"enveloped-xl.xml", SIG_FORM_XL, SIG_STATUS_VALID, SIG_REASON_NONE},
      {"enveloped-a132.xml", SIG_FORM_A, SIG_STATUS_VALID, SIG_REASON_NONE},
      {"enveloped-a141.xml", SIG_FORM_A, SIG_STATUS_VALID, SIG_REASON_NONE},
      {"enveloped-a141-by-132.xml", SIG_FORM_A, SIG_STATUS_VALID, SIG_REASON_NONE},
      {"object-t.xml", SIG_FORM_T, SIG_STATUS_VALID, SIG_REASON_NONE},
      {"object-c.xml", SIG_FORM_C, SIG_STATUS_VALID, SIG_REASON_NONE},
      {"object-xl.xml", SIG_FORM_XL, SIG_STATUS_VALID, SIG_REASON_NONE},
      {"object-a132.xml", SIG_FORM_A, SIG_STATUS_VALID, SIG_REASON_NONE},
      {"object-a141.xml", SIG_FORM_A, SIG_STATUS_VALID, SIG_REASON_NONE},
      // The archive token's imprint is not that of its data: the archive fails.
      {"object-a141-by-132.xml", SIG_FORM_A, SIG_STATUS_NOT_VERIFIABLE, SIG_REASON_ARCHIVE_TIMESTAMP},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.file);
    int32_t form = 0, status = 0, reason = 0;
    verifyOne(XADES + row.file, status, reason, &form);
    EXPECT_EQ(row.form, form);
    EXPECT_EQ(row.status, status) << report();
    EXPECT_EQ(row.reason, reason) << report();
  }
}

}  // namespace
