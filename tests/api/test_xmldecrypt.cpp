// XML decryption end to end: documents encrypted by xmlsec1 --encrypt
// (tests/data/xenc, make_xenc.sh) unprotected through tvXmlUnprotect in a
// library context over a PKCS#12 profile made by openssl pkcs12 -export.
#include "talvorin.h"

#include "api/ctxdecryption.h"
#include "api/talctx.h"
#include "api/tvxml.h"
#include "keys/talprofile.h"
#include "base/no_oop.h"
#include "pki/sig/sigrecords.h"
#include "pki/x509/crl.h"
#include "platform/registrysandbox.h"
#include "xmlsig/xmlmisc.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

const std::string DATA = std::string(TAL_TEST_DATA_DIR) + "/xenc/";

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The report less its first line (the banner, which carries the time).
std::string afterBanner(const std::string& report) {
  size_t end = report.find("\r\n");
  return end == std::string::npos ? "" : report.substr(end + 2);
}

std::string serialised(xmlNodePtr node) {
  std::string text;
  serializeNode(node, text, false);
  return text;
}

class XmlDecrypt : public RegistrySandbox {
 protected:
  void SetUp() override {
    RegistrySandbox::SetUp();
    static int serial = 0;
    talProfile* p = talCreateProfile(TAL_PROFILE_PKCS12);
    const std::string name = "xenc-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
    const std::string path = DATA + "alice.p12";
    EXPECT_EQ(0, talSetProfileAttr(p, 0, name.c_str(), static_cast<int32_t>(name.size() + 1)));
    EXPECT_EQ(0, talSetProfileAttr(p, 17, "w pamieci", 10));
    EXPECT_EQ(0, talSetProfileAttr(p, 9, path.c_str(), static_cast<int32_t>(path.size() + 1)));
    ASSERT_EQ(0, talInitEx(&ctx, p));
    if (ProfileParameters* parameters = ctx->configuration.getProfileParameters())
      parameters->set("dbname", name);
    ctx->setPin(1, "xenc-pin");
    ctx->setPin(2, "xenc-pin");
    ASSERT_EQ(0, talAuthenticateEx(ctx, 0));
    ASSERT_EQ(0, talSetOption(ctx, 18, 1));
    talCert* root = nullptr;
    ASSERT_EQ(0, talAllocateCertFromFile((DATA + "root.der").c_str(), &root));
    ASSERT_EQ(0, talInstallRoot(ctx, root, 1, 1));
    EXPECT_EQ(0, talDeleteCertificate(root));
    const std::string der = readText(DATA + "root-crl.der");
    SignedCertRevList crl;
    ASSERT_EQ(static_cast<int>(der.size()),
              crl.decodeVector(std::vector<unsigned char>(der.begin(), der.end())));
    ASSERT_EQ(0, ctx->revocation->importCrl(crl));
    ASSERT_EQ(8u, ctx->operationMask & 8);
  }
  void TearDown() override {
    for (talMsgInfo* m : messages) EXPECT_EQ(0, tvXmlDeleteMsgInfo(m));
    if (xml) EXPECT_EQ(0, tvXmlDeleteCtx(xml));
    if (ctx) EXPECT_EQ(0, talDeinit(ctx));
    RegistrySandbox::TearDown();
  }

  // Unprotects a file of the data folder in a fresh XML context (kept until
  // the next call): the result, the report, and the document as it is after.
  int32_t unprotect(const std::string& file, std::string* report = nullptr,
                    talMsgInfo** message = nullptr) {
    if (xml) EXPECT_EQ(0, tvXmlDeleteCtx(xml));
    EXPECT_EQ(0, tvXmlCreateCtx(&xml));
    EXPECT_EQ(0, tvXmlLoadDocFile(xml, (DATA + file).c_str(), nullptr, &doc));
    talMsgInfo* m = nullptr;
    int32_t rc = tvXmlUnprotect(ctx, xml, doc, nullptr, &m);
    if (m) messages.push_back(m);
    if (message) *message = m;
    if (report) *report = talReportText(ctx);
    return rc;
  }
  xmlNodePtr root() const { return reinterpret_cast<TVxmlDoc*>(doc)->holder->root; }

  talCtx* ctx = nullptr;
  tvXmlCtx* xml = nullptr;
  tvXmlDoc* doc = nullptr;
  std::vector<talMsgInfo*> messages;
};

std::string plainRoot() {
  XmlDocHolder holder;
  const std::string bytes = readText(DATA + "plain.xml");
  MemFile file(reinterpret_cast<uint8_t*>(const_cast<char*>(bytes.data())),
               static_cast<int32_t>(bytes.size()), false);
  EXPECT_EQ(0, parseXmlDocument(&holder, &file));
  return serialised(holder.root);
}

TEST_F(XmlDecrypt, DocumentsEncryptedByXmlsec1) {
  const std::string decrypted = convertForOutput("Klucz sesyjny został poprawnie odszyfrowany");
  const std::string noSignature = convertForOutput("Brak podpisów Xml Signature");
  // Documents without a signature: decrypted, then no signature to verify (89).
  for (const char* file : {"aes128.xml", "aes192.xml", "aes256.xml", "tdes.xml", "cert.xml",
                           "subject-cert.xml", "content.xml", "two.xml"}) {
    std::string report;
    EXPECT_EQ(89, unprotect(file, &report)) << file;
    EXPECT_NE(std::string::npos, report.find(decrypted)) << file << "\n" << report;
    EXPECT_NE(std::string::npos, report.find(noSignature)) << file;
    EXPECT_EQ(plainRoot(), serialised(root())) << file;
  }
}

TEST_F(XmlDecrypt, RefusedDocuments) {
  struct Row {
    const char* file;
    int32_t code;
    const char* line;
  } rows[] = {
      {"bob.xml", 95, "Żaden z adresatów wiadomości nie odpowiada aktualnemu certyfikatowi"},
      {"subject.xml", 95, "Żaden z adresatów wiadomości nie odpowiada aktualnemu certyfikatowi"},
      {"oaep.xml", 89, "nieznany algorytm szyfrowania asymetrycznego"},
  };
  for (const Row& row : rows) {
    std::string report;
    EXPECT_EQ(row.code, unprotect(row.file, &report)) << row.file;
    EXPECT_NE(std::string::npos, report.find(convertForOutput(row.line))) << report;
    EXPECT_NE(std::string::npos, serialised(root()).find("xenc:EncryptedData"));
  }
}

// A wrong key, a bad PKCS#1 block and bad CBC padding: one code, one report.
TEST_F(XmlDecrypt, NoOracle) {
  std::string first;
  for (const char* file : {"wrongkey.xml", "badblock.xml", "badpad.xml"}) {
    std::string report;
    EXPECT_EQ(77, unprotect(file, &report)) << file;
    EXPECT_NE(std::string::npos,
              report.find(convertForOutput("Odszyfrowanie klucza sesyjnego nie powiodło się")))
        << report;
    if (first.empty()) first = afterBanner(report);
    EXPECT_EQ(first, afterBanner(report)) << file;
  }
}

// The signature over an element that was then encrypted verifies once it is decrypted, as
// it does over the document before encryption.
TEST_F(XmlDecrypt, SignedThenEncrypted) {
  std::vector<int32_t> outcome[2];
  int i = 0;
  for (const char* file : {"signed.xml", "signed-enc.xml"}) {
    talMsgInfo* m = nullptr;
    std::string report;
    ASSERT_EQ(0, unprotect(file, &report, &m)) << file << "\n" << report;
    talSigInfo* s = nullptr;
    ASSERT_EQ(0, talGetMessageSignature(m, 0, &s));
    int32_t status = 0, qualification = 0, reason = 0;
    ASSERT_EQ(0, talSignatureStatus(s, &status, &qualification, &reason));
    outcome[i++] = {status, reason};
    EXPECT_EQ(i == 2 ? XML_MESSAGE_SIGNED_DECRYPTED : XML_MESSAGE_SIGNED,
              dynamic_cast<MsgInfoXml*>(reinterpret_cast<MsgInfo*>(m))->messageType);
  }
  EXPECT_EQ((std::vector<int32_t>{SIG_STATUS_VALID, SIG_REASON_NONE}), outcome[0]);
  EXPECT_EQ(outcome[0], outcome[1]);
}

// The plaintext is UTF-8 in a document declared ISO-8859-2.
TEST_F(XmlDecrypt, PlaintextOfALatin2Document) {
  EXPECT_EQ(89, unprotect("latin2.xml"));
  xmlNodePtr data = findElement(root(), "data", nullptr, -1);
  ASSERT_TRUE(data);
  EXPECT_EQ(u8"Zażółć gęślą jaźń", nodeTextContent(data));
}

}  // namespace
