// XAdES-T, -C, -X-L and -A documents assembled by xadesjs and xmldsigjs with
// tokens of `openssl ts -reply` (tests/data/xades/make_forms.sh), through
// tvXmlUnprotect: the form, status and reason of each. In the "enveloped"
// layout the 1.3.2 and 1.4.1 archive rules cover the same data; in the
// "object" layout the signed ds:Object is covered by the 1.4.1 rule only, so
// a 1.4.1 token over the 1.3.2 data fails its imprint there and nowhere else.
#include "verify_fixture.h"

#include "api/tvxml.h"
#include "pki/sig/sigrecords.h"
#include "pki/x509/cert.h"
#include "pki/x509/crl.h"

namespace {

const std::string UPO = std::string(TAL_TEST_DATA_DIR) + "/upo/";
const std::string XADES = std::string(TAL_TEST_DATA_DIR) + "/xades/";

template <class T>
std::unique_ptr<T> loadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<unsigned char> der((std::istreambuf_iterator<char>(in)), {});
  auto x = std::make_unique<T>();
  EXPECT_EQ(static_cast<int>(der.size()), x->decodeVector(der)) << path;
  return x;
}

class XadesForms : public verifyfix::VerifyContext {
 protected:
  void SetUp() override {
    VerifyContext::SetUp();
    EXPECT_EQ(0, talSetOption(ctx, 18, 1));  // network off
    talCert* root = nullptr;
    ASSERT_EQ(0, talAllocateCertFromFile((UPO + "pki/root.der").c_str(), &root));
    EXPECT_EQ(0, talInstallRoot(ctx, root, 1, 1));
    talDeleteCertificate(root);
    ASSERT_EQ(0, ctx->certificates.importCertificate(*loadFile<SignedCertificate>(UPO + "pki/intermediate.der")));
    for (const char* crl : {"crl/root.der", "crl/intermediate-revoked.der"})
      ASSERT_EQ(0, ctx->revocation->importCrl(*loadFile<SignedCertRevList>(UPO + crl))) << crl;
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
    tvXmlCtx* c = nullptr;
    ASSERT_EQ(0, tvXmlCreateCtx(&c));
    tvXmlDoc* d = nullptr;
    ASSERT_EQ(0, tvXmlLoadDocFile(c, (XADES + row.file).c_str(), nullptr, &d));
    talMsgInfo* m = nullptr;
    ASSERT_EQ(0, tvXmlUnprotect(ctx, c, d, nullptr, &m));
    int32_t count = 0;
    ASSERT_EQ(0, talGetMessageSignatureCount(m, &count));
    ASSERT_EQ(1, count);
    talSigInfo* s = nullptr;
    ASSERT_EQ(0, talGetMessageSignature(m, 0, &s));
    int32_t status = 0, qualification = 0, reason = 0;
    ASSERT_EQ(0, talSignatureStatus(s, &status, &qualification, &reason));
    EXPECT_EQ(row.form, reinterpret_cast<SigInfo*>(s)->form);
    EXPECT_EQ(row.status, status) << report();
    EXPECT_EQ(row.reason, reason) << report();
    EXPECT_EQ(0, tvXmlDeleteMsgInfo(m));
    EXPECT_EQ(0, tvXmlDeleteCtx(c));
  }
}

}  // namespace
