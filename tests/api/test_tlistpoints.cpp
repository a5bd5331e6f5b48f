// Trusted lists as trust points: which services' certificates the key manager
// takes, by kind and status, and path building up to them (certificates and
// lists made by tests/data/store/tl/make_tl.sh).
#include "api/tlistpoints.h"

#include "api/pathctx.h"
#include "base/b64file.h"
#include "base/talexception.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string tlFile(const std::string& name) {
  std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/store/tl/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::unique_ptr<SignedCertificate> cert(const std::string& name) {
  return pathctx::load("tl/" + name + ".der");
}

std::unique_ptr<TrustedList> list(const std::string& file) {
  auto l = std::make_unique<TrustedList>();
  std::string bytes = tlFile(file);
  l->loadFromMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return l;
}

// main.xml: CA/PKC services without a certificate, revoked (old_ca), in
// cessation (pkc_ca, its second DigitalId); CA/QC accredited (qc_ca); TSA under
// supervision; OCSP/QC accredited and OCSP whose supervision ceased (ocsp).
TEST(TrustedListPoints, InForceServicesWithCertificatesByKind) {
  TrustedListService points = trustPointsOf(*list("main.xml"));
  const std::vector<std::vector<const char*>> expected = {
      {"pkc_ca"}, {"qc_ca"}, {"tsa"}, {"ocsp"}};
  for (int kind = 0; kind < 4; ++kind) {
    SCOPED_TRACE(kind + 1);
    ASSERT_EQ(expected[kind].size(), points.points[kind].size());
    for (size_t i = 0; i < expected[kind].size(); ++i)
      EXPECT_TRUE(*cert(expected[kind][i]) == *points.points[kind][i]) << expected[kind][i];
  }
}

using pathctx::Context;

// A registered list's CAs are trust points of path building; a CA whose
// accreditation was revoked is none, and a later list of the same operator
// replaces the earlier one's points.
TEST(TrustedListPoints, PathBuildingReachesRegisteredLists) {
  Context ctx;
  TrustedListRegistry registry;
  EXPECT_EQ("Minister Cyfryzacji", registerTrustedList(registry, ctx.keys, list("main.xml")));
  EXPECT_EQ("Operator EN", registerTrustedList(registry, ctx.keys, list("en_only.xml")));
  EXPECT_EQ(2u, ctx.keys.trustedListServices().size());

  struct Row {
    const char* end;
    int32_t purpose;
    int result;
    int qualified;
  } rows[] = {
      {"user_pkc", PATH_PURPOSE_SIGNER, PATH_BUILT, 0},
      {"tsa", PATH_PURPOSE_TSA, PATH_BUILT, 1},
      {"user_old", PATH_PURPOSE_SIGNER, PATH_NOT_FOUND, -1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.end);
    CertificatePath path;
    EXPECT_EQ(r.result, ctx.builder.buildPathForCertificate(path, *cert(r.end), r.purpose, true));
    if (r.qualified >= 0) {
      EXPECT_EQ(2, path.GetCount()) << "the end certificate and its trust point";
      EXPECT_EQ(r.qualified, path.qualifiedRoot);
    }
  }

  // The operator's next list has only the qualified CA: the PKC CA is gone.
  std::string next = tlFile("en_only.xml");
  const std::string en = "<tsl:Name xml:lang=\"en\">Operator EN</tsl:Name>";
  ASSERT_NE(std::string::npos, next.find(en));
  next.replace(next.find(en), en.size(), "<tsl:Name xml:lang=\"pl\">Minister Cyfryzacji</tsl:Name>");
  auto replacement = std::make_unique<TrustedList>();
  replacement->loadFromMemory(reinterpret_cast<const uint8_t*>(next.data()), next.size());
  EXPECT_EQ("Minister Cyfryzacji", registerTrustedList(registry, ctx.keys, std::move(replacement)));
  EXPECT_EQ(2u, ctx.keys.trustedListServices().size());
  CertificatePath path;
  EXPECT_EQ(PATH_NOT_FOUND,
            ctx.builder.buildPathForCertificate(path, *cert("user_pkc"), PATH_PURPOSE_SIGNER, true));
  CertificatePath tsaPath;
  EXPECT_EQ(PATH_BUILT,
            ctx.builder.buildPathForCertificate(tsaPath, *cert("tsa"), PATH_PURPOSE_TSA, true));

  // A list without an operator's name changes nothing.
  EXPECT_THROW(registerTrustedList(registry, ctx.keys, list("no_name.xml")), TalApiException);
  EXPECT_EQ(2u, ctx.keys.trustedListServices().size());
}

// The PKC CA of main.xml replaced by a CA signed over a TBS that is not DER
// (openssl verifies it: tests/data/pki/certs/gen_nonder_chain.sh): the list's
// certificate keeps its octets, so it is a trust point that ends a path of
// its own and the one of the certificate it issued.
TEST(TrustedListPoints, CaSignedOverNonDerIsATrustPoint) {
  auto pki = [](const std::string& name) {
    std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/pki/certs/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  auto b64 = [](const std::string& der) {
    std::string out((der.size() + 2) / 3 * 4 + 4, '\0');
    out.resize(static_cast<size_t>(
        encodeBase64Buffer(der.data(), static_cast<int32_t>(der.size()), &out[0])));
    return out;
  };
  const std::string ca = pki("nonder_ca.der");
  const std::string old = b64(tlFile("pkc_ca.der"));
  std::string xml = tlFile("main.xml");
  ASSERT_NE(std::string::npos, xml.find(old));
  xml.replace(xml.find(old), old.size(), b64(ca));
  auto l = std::make_unique<TrustedList>();
  l->loadFromMemory(reinterpret_cast<const uint8_t*>(xml.data()), xml.size());
  Context ctx;
  TrustedListRegistry registry;
  EXPECT_EQ("Minister Cyfryzacji", registerTrustedList(registry, ctx.keys, std::move(l)));
  std::vector<const SignedCertificate*> points;
  ctx.env.trustedListPoints(1, points);
  ASSERT_EQ(1u, points.size());
  std::vector<unsigned char> der;
  ASSERT_LT(0, points[0]->encodeVector(der));
  EXPECT_EQ(ca, std::string(der.begin(), der.end()));
  EXPECT_EQ(SignedCertificate::CERT_SIG_VALID, points[0]->verifySelfSigned());
  for (const char* end : {"nonder_ee.der", "nonder_ca.der"}) {
    SCOPED_TRACE(end);
    const std::string e = pki(end);
    SignedCertificate c;
    ASSERT_EQ(static_cast<int>(e.size()),
              c.decodeBuffer(reinterpret_cast<const unsigned char*>(e.data()),
                             static_cast<int>(e.size()), ASN_FLAG_CONST | ASN_FLAG_COPY));
    CertificatePath path;
    EXPECT_EQ(PATH_BUILT, ctx.builder.buildPathForCertificate(path, c, PATH_PURPOSE_SIGNER, true));
  }
}

}  // namespace
