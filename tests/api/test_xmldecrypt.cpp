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
#include "store/dnutils.h"
#include "base/reportstream.h"
#include "platform/registrysandbox.h"
#include "xmlsig/xmlmisc.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "failonce.h"

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
    if (xml) { EXPECT_EQ(0, tvXmlDeleteCtx(xml)); }
    if (ctx) { EXPECT_EQ(0, talDeinit(ctx)); }
    RegistrySandbox::TearDown();
  }

  // Unprotects a file of the data folder in a fresh XML context (kept until
  // the next call): the result, the report, and the document as it is after.
  // A path that starts with '/' is taken as it is.
  int32_t unprotect(const std::string& file, std::string* report = nullptr,
                    talMsgInfo** message = nullptr, bool again = false,
                    const char* expression = nullptr) {
    if (!again) {
      if (xml) { EXPECT_EQ(0, tvXmlDeleteCtx(xml)); }
      EXPECT_EQ(0, tvXmlCreateCtx(&xml));
      const std::string path = file[0] == '/' ? file : DATA + file;
      EXPECT_EQ(0, tvXmlLoadDocFile(xml, path.c_str(), nullptr, &doc));
    }
    talMsgInfo* m = nullptr;
    int32_t rc = tvXmlUnprotect(ctx, xml, doc, expression, &m);
    if (m) messages.push_back(m);
    if (message) *message = m;
    if (report) *report = talReportText(ctx);
    return rc;
  }
  xmlNodePtr docRoot() const { return reinterpret_cast<TVxmlDoc*>(doc)->holder->root; }

  talCtx* ctx = nullptr;
  tvXmlCtx* xml = nullptr;
  tvXmlDoc* doc = nullptr;
  std::vector<talMsgInfo*> messages;
};

XmlSigContext* inside(tvXmlCtx* c) { return reinterpret_cast<XmlSigContext*>(c); }

// The first encrypted key of a document, as its reader gives it.
struct Encrypted {
  explicit Encrypted(const std::string& bytes) {
    MemFile file(reinterpret_cast<uint8_t*>(const_cast<char*>(bytes.data())),
                 static_cast<int32_t>(bytes.size()), false);
    EXPECT_EQ(0, parseXmlDocument(&holder, &file));
    XmlEncryptedData data;
    ReportStream none;
    EXPECT_EQ(0, data.read(findElement(holder.root, "EncryptedData", nullptr, -1), &none,
                           makeDnAttribute));
    key = data.encryptedKeys.items.front()->encryptedKey;
  }
  XmlDocHolder holder;
  std::vector<uint8_t> key;
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
    EXPECT_EQ(plainRoot(), serialised(docRoot())) << file;
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
    EXPECT_NE(std::string::npos, serialised(docRoot()).find("xenc:EncryptedData"));
  }
}

// A wrong key, a bad PKCS#1 block, bad CBC padding and good padding over a plaintext that is
// no XML: one code, one report.
TEST_F(XmlDecrypt, NoOracle) {
  std::string first;
  for (const char* file : {"wrongkey.xml", "badblock.xml", "badpad.xml", "badxml.xml"}) {
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
  xmlNodePtr data = findElement(docRoot(), "data", nullptr, -1);
  ASSERT_TRUE(data);
  EXPECT_EQ(u8"Zażółć gęślą jaźń", nodeTextContent(data));
}

// A signature inside an encrypted element, verified first on its own: the
// second unprotect of the same document frees it with the element (and then
// fails on another one), and neither the message of the first nor the XML
// context points at it any more.
TEST_F(XmlDecrypt, WhatPointedIntoTheElementIsForgotten) {
  // signed.xml with its signature moved into the EncryptedData of aes128.xml,
  // put after the signed element.
  std::string text = readText(DATA + "signed.xml");
  const size_t signature = text.find("<ds:Signature");
  const size_t end = text.find("</ds:Signature>") + 15;
  std::string element = text.substr(signature, end - signature);
  text.erase(signature, end - signature);
  element.insert(13, " Id=\"inside\"");
  const std::string other = readText(DATA + "aes128.xml");
  const size_t from = other.find("<xenc:EncryptedData");
  std::string encrypted = other.substr(from, other.find("</xenc:EncryptedData>") - from);
  // After it, an element that does not decrypt: the call fails once the first is freed.
  const std::string bad = readText(DATA + "badpad.xml");
  const size_t at = bad.find("<xenc:EncryptedData");
  const std::string undecryptable = bad.substr(at, bad.find("</xenc:EncryptedData>") + 21 - at);
  text.insert(text.find("</data>") + 7,
              encrypted + element + "</xenc:EncryptedData>" + undecryptable);
  const std::string path = RegistrySandbox::root + "/inside.xml";
  std::ofstream(path, std::ios::binary) << text;

  talMsgInfo* first = nullptr;
  ASSERT_EQ(0, unprotect(path, nullptr, &first, false, "inside"));
  EXPECT_NE(std::string::npos, serialised(docRoot()).find("xenc:EncryptedData"));
  std::string report;
  EXPECT_EQ(77, unprotect(path, &report, nullptr, true));
  EXPECT_NE(std::string::npos,
            report.find(convertForOutput("Klucz sesyjny został poprawnie odszyfrowany")));
  EXPECT_EQ(std::string::npos, serialised(docRoot()).find("Id=\"inside\""));
  talSigInfo* s = nullptr;
  ASSERT_EQ(0, talGetMessageSignature(first, 0, &s));
  int32_t status = 0, qualification = 0, reason = 0, count = -1;
  EXPECT_EQ(0, talSignatureStatus(s, &status, &qualification, &reason));
  // The untyped reference is a signed object, but what it named is gone: nothing is saved.
  count = 0;
  EXPECT_EQ(0, tvXmlGetObjCount(xml, s, &count));
  EXPECT_EQ(1, count);
  EXPECT_EQ(139, tvXmlSaveObjFile(xml, s, 0, (RegistrySandbox::root + "/object").c_str()));
  EXPECT_FALSE(std::ifstream(RegistrySandbox::root + "/object").good());
  EXPECT_TRUE(inside(xml)->signatures.empty());
}

// The key manager's side: a block that gives no session key, and a session key
// of another length than the cipher's, still take the content through every
// step (under a decoy key) and end as bad padding.
TEST_F(XmlDecrypt, NoSessionKeyStillRunsTheContent) {
  const std::string iv(16, '\x01');
  const std::vector<uint8_t> content(4096, 0x5A);
  std::string bad(256, '\x07');
  struct Row {
    int32_t cipher;
    bool goodBlock;  // a block of alice's key (16 octets inside)
  } rows[] = {{KM_CIPHER_AES128, false}, {KM_CIPHER_AES256, true}, {KM_CIPHER_TDES, false}};
  // The session key of aes128.xml, wrapped for alice: 16 octets.
  Encrypted wrapped(readText(DATA + "aes128.xml"));
  for (const Row& row : rows) {
    KeyManagerDecryption keys(ctx->keyManager);
    const std::vector<uint8_t>& block =
        row.goodBlock ? wrapped.key : std::vector<uint8_t>(bad.begin(), bad.end());
    EXPECT_EQ(row.goodBlock ? 0 : KM_NO_SESSION_KEY,
              keys.decryptSessionKey(block.data(), block.size()));
    const size_t ivLength = row.cipher == KM_CIPHER_TDES ? 8 : 16;
    EXPECT_EQ(0,
              keys.startContent(row.cipher, reinterpret_cast<const uint8_t*>(iv.data()), ivLength));
    std::vector<uint8_t> out;
    EXPECT_EQ(0, keys.continueContent(content.data(), content.size(), out));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(KM_BAD_PADDING, keys.finishContent(out));
    EXPECT_TRUE(out.empty());
  }
}

// The decryption step with allocation number `nextFailure` of it failing.
thread_local long nextFailure = 0;
int32_t decryptFailingOnce(talCtx* ctx, XmlSigContext* context, xmlNodePtr element) {
  counted = 0;
  failAt = nextFailure;
  const int32_t rc = decryptWithUserKey(ctx, context, element);
  failAt = 0;
  return rc;
}

// Each allocation of the decryption failing in turn: where the key manager answers as a failed
// device (39), the context keeps the device's error number for the code's text, as on every
// other road that answers 39. No failure crashes or (under LeakSanitizer) leaks.
TEST_F(XmlDecrypt, DeviceFailureKeepsTheDeviceNumber) {
  struct Hook {
    XmlDecryptFunction real = xmlDecryptElement;
    Hook() { xmlDecryptElement = decryptFailingOnce; }
    ~Hook() { xmlDecryptElement = real; }
  } hook;
  ctx->keyManager.deviceAnswer = 0x1D4;
  // Once without a failure: what the first decryption sets up for good is not counted.
  nextFailure = 0;
  ASSERT_EQ(89, unprotect("aes128.xml"));
  int deviceFailures = 0;
  for (nextFailure = 1; nextFailure < 100000; ++nextFailure) {
    SCOPED_TRACE(nextFailure);
    ctx->deviceError = 0;
    failed = false;
    const int32_t rc = unprotect("aes128.xml");
    if (!failed) {
      EXPECT_EQ(89, rc) << "decrypted, no signature";
      break;
    }
    EXPECT_NE(0, rc);
    if (rc != 39) continue;
    ++deviceFailures;
    EXPECT_EQ(0x1D4u, ctx->deviceError);
    EXPECT_STREQ("Urządzenie Karbon Ostra zwróciło błąd nr 1D4 !!!", talErrorText(ctx, 39));
  }
  EXPECT_GT(deviceFailures, 0);
}

}  // namespace
