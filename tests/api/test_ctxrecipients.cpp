// The recipient search over a library context and the openssl-made PKI of
// tests/data/api/verify/gen.sh: the installed root as trust point, the
// intermediate from the certificate database, CRLs from the CRL database;
// the certificates given in descriptors or looked up by subject.
#include "verify_fixture.h"

#include "api/ctxrecipients.h"
#include "store/pathverify.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

using verifyfix::load;

class Recipients : public verifyfix::VerifyContext {};

std::vector<uint8_t> withLength(uint8_t kind, const std::vector<uint8_t>& value) {
  std::vector<uint8_t> d{0, kind};
  for (int i = 0; i < 4; ++i) d.push_back(uint8_t(value.size() >> (8 * i)));
  d.insert(d.end(), value.begin(), value.end());
  return d;
}

std::string reported(const char* text) {
  MemFile f;
  ReportStream(&f) << text;
  return std::string(reinterpret_cast<const char*>(f.data()), f.size());
}

TEST_F(Recipients, PathsJudgedByTheContextsServices) {
  const std::string kencSubject = "C=PL,O=Driver Tests,CN=Encryption Only";
  const std::string signerSubject = "C=PL,O=Driver Tests,CN=Signer";
  struct Row {
    const char* name;
    std::vector<uint8_t> descriptor;
    const char* inDatabase;  // besides the intermediate
    std::vector<std::string> crls;
    int result;
    uint32_t flags;
    const char* line;
  } rows[] = {
      {"given, both CRLs", withLength(4, verifyfix::bytes("kenc.der")), nullptr,
       {"sub-crl.der", "root-crl.der"}, RECIP_OK, 0, "Certyfikat korespondenta jest ważny."},
      {"given, no CRL", withLength(4, verifyfix::bytes("kenc.der")), nullptr, {}, RECIP_OK, 0x1 | 0x2,
       "Brak listy ARL lub odpowiedzi OCSP przy weryfikacji ścieżki adresata !!! - "},
      {"revoked", withLength(4, verifyfix::bytes("revoked.der")), nullptr,
       {"sub-crl.der", "root-crl.der"}, RECIP_NO_VALID_CERTIFICATE, 0,
       "Certyfikat korespondenta jest nieważny: 68."},
      {"expired", withLength(4, verifyfix::bytes("expired.der")), nullptr,
       {"sub-crl.der", "root-crl.der"}, RECIP_NO_VALID_CERTIFICATE, 0,
       "Certyfikat korespondenta jest nieważny: 64."},
      {"by subject", withLength(6, std::vector<uint8_t>(kencSubject.begin(), kencSubject.end())),
       "kenc.der", {"sub-crl.der", "root-crl.der"}, RECIP_OK, 0, "jest ważny."},
      {"signing key only", withLength(6, std::vector<uint8_t>(signerSubject.begin(), signerSubject.end())),
       "signer.der", {"sub-crl.der", "root-crl.der"}, RECIP_NO_VALID_CERTIFICATE, 0,
       "Nie znaleziono ważnego certyfikatu klucza szyfrującego dla danego użytkownika"},
  };
  for (Row& r : rows) {
    SCOPED_TRACE(r.name);
    if (ctx) { EXPECT_EQ(0, talDeinit(ctx)); }
    ctx = open();
    installRoot(0);
    storeSubAndCrls(r.crls);
    if (r.inDatabase) {
      ASSERT_EQ(0, ctx->certificates.importCertificate(*load<SignedCertificate>(r.inDatabase)));
    }
    ContextRecipients recipients(*ctx);
    r.descriptor.insert(r.descriptor.end(), {0, 0});
    std::vector<RecipientPaths> out;
    EXPECT_EQ(r.result,
              findAllRecipientCertificates(out, r.descriptor.data(), r.descriptor.size(), recipients));
    EXPECT_EQ(r.flags, ctx->warningFlags);
    EXPECT_NE(std::string::npos, report().find(reported(r.line))) << report();
    if (r.result == RECIP_OK) {
      ASSERT_EQ(1u, out.size());
      ASSERT_EQ(1u, out[0].size());
      EXPECT_EQ(3, out[0][0]->GetCount());
    }
  }
}

}  // namespace
