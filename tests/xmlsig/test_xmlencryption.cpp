// XML decryption: the EncryptedData and EncryptedKey readers over documents
// made by xmlsec1 --encrypt (tests/data/xenc, make_xenc.sh), their refusals,
// the recipient lines, the key manager's statuses mapped to codes (one answer
// for every key or padding failure and for a plaintext that does not parse),
// and the plaintext put in place of the element. The key holder is scripted
// here; real keys decrypt in the C API's tests.
#include "xmlsig/xmlencryption.h"

#include "base/no_oop.h"
#include "base/reportstream.h"
#include "base/talexception.h"
#include "pki/x509/cert.h"
#include "store/dnutils.h"
#include "xmlsig/xmlmisc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string xencFile(const std::string& name) {
  std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/xenc/" + name, std::ios::binary);
  if (!in) throw std::runtime_error("missing fixture " + name);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

SignedCertificate certificate(const std::string& name) {
  std::string der = xencFile(name);
  SignedCertificate c;
  c.decodeBuffer(reinterpret_cast<const unsigned char*>(der.data()), static_cast<int>(der.size()),
                 ASN_FLAG_COPY);
  return c;
}

std::string replaced(std::string text, const std::string& from, const std::string& to,
                     bool last = false) {
  size_t at = last ? text.rfind(from) : text.find(from);
  if (at == std::string::npos) throw std::runtime_error("no " + from);
  return text.replace(at, from.size(), to);
}

// The first (or last) element of that qualified name renamed; its start tag begins with open.
std::string renamed(const std::string& text, const std::string& name, const std::string& open,
                    bool last = false) {
  std::string out = replaced(text, open, "<" + name + "X" + open.substr(name.size() + 1), last);
  size_t at = last ? out.rfind("<" + name + "X") : out.find("<" + name + "X");
  // Its own end tag: nested elements of the same name are skipped.
  for (int depth = 1;;) {
    size_t inner = out.find("<" + name, at + 1), end = out.find("</" + name + ">", at + 1);
    const char after = inner == std::string::npos ? 0 : out[inner + name.size() + 1];
    if (inner < end && (after == '>' || after == ' ')) {
      ++depth;
      at = inner;
    } else if (--depth == 0) {
      return out.replace(end, name.size() + 3, "</" + name + "X>");
    } else {
      at = end;
    }
  }
}

// A parsed document, its first xenc:EncryptedData and a report.
struct Encrypted {
  explicit Encrypted(const std::string& bytes)
      : file(reinterpret_cast<uint8_t*>(const_cast<char*>(bytes.data())),
             static_cast<int32_t>(bytes.size()), false),
        report(&text) {
    rc = parseXmlDocument(&holder, &file);
    if (rc == 0)
      element = findElement(holder.root, "EncryptedData", "http://www.w3.org/2001/04/xmlenc#", -1);
  }
  std::string reportText() const {
    return std::string(reinterpret_cast<const char*>(text.data()),
                       static_cast<size_t>(text.length()));
  }
  std::string serialised() const {
    std::string out;
    serializeNode(holder.root, out, false);
    return out;
  }
  MemFile file;
  XmlDocHolder holder;
  MemFile text;
  ReportStream report;
  xmlNodePtr element = nullptr;
  int32_t rc;
};

// The key holder: recipients by serial, statuses per step, and the plaintext it "decrypts".
struct ScriptedKeys : XmlDecryptionKeys {
  bool userCertificateKnown() const override { return true; }
  bool isRecipient(const DistinguishedName& issuer, const ASNinteger& serial) override {
    ++asked;
    for (const SignedCertificate& c : users)
      if (c.tbsCertificate.serialNumber.equals(serial) && c.tbsCertificate.issuer == issuer)
        return true;
    return false;
  }
  int32_t decryptSessionKey(const uint8_t*, size_t length) override {
    wrappedLength = length;
    return status[0];
  }
  int32_t startContent(int32_t c, const uint8_t*, size_t ivLength) override {
    cipher = c;
    iv = ivLength;
    return status[1];
  }
  int32_t continueContent(const uint8_t*, size_t length, std::vector<uint8_t>&) override {
    content += length;
    ++pieces;
    largestPiece = std::max(largestPiece, length);
    return status[2];
  }
  int32_t finishContent(std::vector<uint8_t>& out) override {
    out.assign(plaintext.begin(), plaintext.end());
    return status[3];
  }
  std::vector<SignedCertificate> users;
  int32_t status[4] = {0, 0, 0, 0};
  std::string plaintext = "<data Id=\"d1\">x</data>";
  int asked = 0;
  size_t wrappedLength = 0, iv = 0, content = 0, pieces = 0, largestPiece = 0;
  int32_t cipher = 0;
};

ScriptedKeys alice() {
  ScriptedKeys keys;
  keys.users.push_back(certificate("alice.der"));
  return keys;
}

TEST(XmlEncryption, ReadersOverXmlsecDocuments) {
  const SignedCertificate a = certificate("alice.der"), b = certificate("bob.der");
  struct Row {
    const char* file;
    int32_t cipher;
    std::vector<const SignedCertificate*> named;  // null: no issuer and serial
    std::vector<bool> subject;
  } rows[] = {
      {"aes128.xml", XMLENC_CIPHER_AES128, {&a}, {false}},
      {"aes192.xml", XMLENC_CIPHER_AES192, {&a}, {false}},
      {"aes256.xml", XMLENC_CIPHER_AES256, {&a}, {false}},
      {"tdes.xml", XMLENC_CIPHER_TDES, {&a}, {false}},
      {"cert.xml", XMLENC_CIPHER_AES128, {&a}, {false}},
      {"subject-cert.xml", XMLENC_CIPHER_AES128, {&a}, {true}},
      {"subject.xml", XMLENC_CIPHER_AES128, {nullptr}, {true}},
      {"content.xml", XMLENC_CIPHER_AES256, {&a}, {false}},
      {"two.xml", XMLENC_CIPHER_AES128, {&b, &a}, {false, false}},
  };
  for (const Row& row : rows) {
    Encrypted doc(xencFile(row.file));
    ASSERT_TRUE(doc.element) << row.file;
    XmlEncryptedData data;
    ASSERT_EQ(0, data.read(doc.element, &doc.report, makeDnAttribute)) << row.file;
    EXPECT_EQ(row.cipher, data.cipher) << row.file;
    EXPECT_EQ(0u, data.cipherValue.size() % (row.cipher == XMLENC_CIPHER_TDES ? 8 : 16));
    ASSERT_EQ(row.named.size(), data.encryptedKeys.items.size()) << row.file;
    size_t i = 0;
    for (const XmlEncryptedKey* key : data.encryptedKeys.items) {
      const XmlEncryptedKey& k = *key;
      EXPECT_EQ("http://www.w3.org/2001/04/xmlenc#rsa-1_5", k.algorithm);
      EXPECT_EQ(256u, k.encryptedKey.size()) << row.file;
      EXPECT_EQ(row.named[i] != nullptr, k.hasIssuerSerial != 0) << row.file;
      if (row.named[i]) {
        EXPECT_TRUE(row.named[i]->tbsCertificate.issuer == k.issuer) << row.file;
        EXPECT_TRUE(row.named[i]->tbsCertificate.serialNumber.equals(k.serialNumber)) << row.file;
      }
      EXPECT_EQ(row.subject[i], k.hasSubject != 0) << row.file;
      if (row.subject[i]) { EXPECT_TRUE(a.tbsCertificate.subject == k.subject) << row.file; }
      ++i;
    }
    EXPECT_EQ("", doc.reportText()) << row.file;
  }
}

TEST(XmlEncryption, ReaderRefusals) {
  const std::string good = xencFile("aes128.xml");
  const std::string key =
      good.substr(good.find("<xenc:EncryptedKey>"),
                  good.find("</xenc:EncryptedKey>") + 20 - good.find("<xenc:EncryptedKey>"));
  std::string many;
  for (size_t i = 0; i <= XMLENC_MAX_ENCRYPTED_KEYS; ++i) many += key;
  const std::string xenc = "http://www.w3.org/2001/04/xmlenc#";
  struct Row {
    std::string document;
    const char* message;
  } rows[] = {
      {replaced(good, "<xenc:EncryptionMethod Algorithm=\"" + xenc + "aes128-cbc\"/>", ""),
       "brak elementu xenc:EncryptionMethod"},
      {replaced(good, "Algorithm=\"" + xenc + "aes128-cbc\"", ""),
       "element xenc:EncryptionMethod brak atrybutu Algorithm"},
      {replaced(good, xenc + "aes128-cbc", xenc + "aes128-gcm"),
       "nieznany algorytm szyfrowania symetrycznego"},
      // Compared whole: neither a longer nor a shorter URI.
      {replaced(good, xenc + "aes128-cbc", xenc + "aes128-cbc2"),
       "nieznany algorytm szyfrowania symetrycznego"},
      {replaced(good, xenc + "aes128-cbc", "aes128-cbc"),
       "nieznany algorytm szyfrowania symetrycznego"},
      {xencFile("oaep.xml"), "nieznany algorytm szyfrowania asymetrycznego"},
      {renamed(good, "ds:KeyInfo", "<ds:KeyInfo xmlns"), "brak elementu ds:KeyInfo"},
      {replaced(good, key, ""), "brak elementu xenc:EncryptedKey"},
      {replaced(good, key, many), "błędna składnia elementu xenc:EncryptedKey"},
      {renamed(good, "ds:KeyInfo", "<ds:KeyInfo><ds:KeyName>"),
       "błędna składnia elementu xenc:EncryptedKey"},
      {renamed(good, "ds:X509Data", "<ds:X509Data>"),
       "elementy inne niż ds:X509Data nie są obsługiwane"},
      {renamed(good, "xenc:CipherData", "<xenc:CipherData>", true),
       "brak elementu xenc:CipherData"},
      {renamed(good, "xenc:CipherValue", "<xenc:CipherValue>", true),
       "brak elementu xenc:CipherValue"},
      {replaced(good, "</xenc:EncryptedKey></ds:KeyInfo><xenc:CipherData><xenc:CipherValue>",
                "</xenc:EncryptedKey></ds:KeyInfo><xenc:CipherData><xenc:CipherValue>*"),
       "element xenc:CipherData)"},
      // Shorter than the IV.
      {good.substr(0, good.rfind("<xenc:CipherValue>") + 18) + "AAAAAAAA" +
           good.substr(good.rfind("</xenc:CipherValue>")),
       "element xenc:CipherData)"},
      // An encrypted key longer than any RSA key.
      {replaced(good, "<xenc:CipherValue>", "<xenc:CipherValue>" + std::string(2800, 'A')),
       "element xenc:CipherData)"},
  };
  for (const Row& row : rows) {
    Encrypted doc(row.document);
    ASSERT_TRUE(doc.element) << row.message;
    XmlEncryptedData data;
    EXPECT_EQ(89, data.read(doc.element, &doc.report, makeDnAttribute)) << row.message;
    const std::string report = doc.reportText();
    EXPECT_EQ(0u, report.find(convertForOutput("Błąd podczas odbezpieczania wiadomości: ")))
        << report;
    EXPECT_NE(std::string::npos, report.find(convertForOutput(row.message))) << report;
    EXPECT_EQ(report.size() - 2, report.find("\r\n")) << report;
  }
}

TEST(XmlEncryption, RecipientLinesAndChoice) {
  const std::string nobody =
      "Żaden z adresatów wiadomości nie odpowiada aktualnemu certyfikatowi "
      "użytkownika\r\n\r\n";
  const std::string found =
      "Certyfikat adresata odpowiada aktualnemu certyfikatowi użytkownika"
      "\r\n\r\nKlucz sesyjny został poprawnie odszyfrowany\r\n\r\n";
  // Each recipient by the issuer and serial of its certificate, as the report writes them.
  auto lines = [](int number, const char* file) {
    const SignedCertificate c = certificate(file);
    MemFile text;
    ReportStream r(&text);
    r.writeFormatted("Dane o adresacie %d: \r\n", number);
    r << "Wystawiony przez: \"" << c.tbsCertificate.issuer << "\"\r\nNumer seryjny: ";
    r.writeInteger(c.tbsCertificate.serialNumber);
    r << "\r\n\r\n";
    return std::string(reinterpret_cast<const char*>(text.data()),
                       static_cast<size_t>(text.length()));
  };
  const std::string bobLines = lines(1, "bob.der") + lines(2, "alice.der");
  struct Row {
    const char* file;
    bool aliceHolds;
    int32_t code;
    int asked;  // isRecipient calls
    std::string report;
  } rows[] = {
      {"two.xml", true, 0, 2, bobLines},
      {"two.xml", false, 95, 2, nobody},
      {"bob.xml", true, 95, 1, nobody},
      {"subject.xml", true, 95, 0, "Dane o adresacie 1: \r\n" + nobody},
      {"aes128.xml", true, 0, 1, found},
  };
  for (const Row& row : rows) {
    Encrypted doc(xencFile(row.file));
    ScriptedKeys keys = row.aliceHolds ? alice() : ScriptedKeys();
    EXPECT_EQ(row.code, decryptEncryptedData(keys, &doc.report, doc.element, makeDnAttribute))
        << row.file;
    EXPECT_EQ(row.asked, keys.asked) << row.file;
    const std::string report = doc.reportText();
    const std::string expected =
        row.report == bobLines ? bobLines : convertForOutput(row.report.c_str());
    EXPECT_NE(std::string::npos, report.find(expected)) << report;
    EXPECT_EQ(row.code == 0, report.find(convertForOutput(found.c_str())) != std::string::npos);
  }
  // Both recipients are reported, the second is chosen, and only its key is unwrapped.
  Encrypted doc(xencFile("two.xml"));
  ScriptedKeys keys = alice();
  ASSERT_EQ(0, decryptEncryptedData(keys, &doc.report, doc.element, makeDnAttribute));
  EXPECT_EQ(2, keys.asked);
  EXPECT_EQ(256u, keys.wrappedLength);
  EXPECT_EQ(16u, keys.iv);
  EXPECT_EQ(XMLENC_CIPHER_AES128, keys.cipher);
}

TEST(XmlEncryption, StatusesToCodes) {
  struct Row {
    int step;  // 0 session key, 1 start, 2 continue, 3 finish
    int32_t status;
    int32_t code;
    bool keyLine;  // "Odszyfrowanie klucza sesyjnego nie powiodło się"
  } rows[] = {
      {0, 1, 20, true},
      {0, 2, 113, true},
      {0, 4, 100, true},
      {0, 13, 46, true},
      {0, 14, 80, true},
      {0, 18, 77, true},
      {0, 25, 44, true},
      {0, 27, 45, true},
      {0, 37, 131, true},
      {1, 2, 113, false},
      {1, 18, 77, true},
      {1, 20, 39, false},
      {2, 2, 113, false},
      {2, 9, 59, false},
      {2, 11, 62, false},
      {2, 18, 77, true},
      {2, 20, 39, false},
      {3, 2, 113, false},
      {3, 10, 77, true},
      {3, 11, 62, false},
      {3, 18, 77, true},
      {3, 20, 39, false},
      // Not in the tables: failed invariants.
      {0, 20, -1, false},
      {1, 9, -1, false},
      {2, 10, -1, false},
      {3, 9, -1, false},
  };
  const std::string keyFailed = convertForOutput("Odszyfrowanie klucza sesyjnego nie powiodło się");
  std::string unified;
  for (const Row& row : rows) {
    Encrypted doc(xencFile("aes128.xml"));
    ScriptedKeys keys = alice();
    keys.status[row.step] = row.status;
    if (row.code < 0) {
      EXPECT_THROW(decryptEncryptedData(keys, &doc.report, doc.element, makeDnAttribute),
                   std::runtime_error)
          << row.step << " " << row.status;
      continue;
    }
    EXPECT_EQ(row.code, decryptEncryptedData(keys, &doc.report, doc.element, makeDnAttribute))
        << row.step << " " << row.status;
    const std::string report = doc.reportText();
    EXPECT_EQ(row.keyLine, report.find(keyFailed) != std::string::npos) << report;
    // Whatever gave no key or no padding (a wrong key, a bad block, bad padding),
    // the report is the same; a block that gave no key goes on to the content.
    if (row.code == 77) {
      if (row.step == 0) { EXPECT_GT(keys.content, 0u); }
      if (unified.empty()) unified = report;
      EXPECT_EQ(unified, report) << row.step;
    }
    // Nothing replaced the element.
    EXPECT_NE(std::string::npos, doc.serialised().find("xenc:EncryptedData"));
  }
  // Good padding over a plaintext that does not parse: the same.
  Encrypted doc(xencFile("aes128.xml"));
  ScriptedKeys keys = alice();
  keys.plaintext = "\x93<";
  EXPECT_EQ(77, decryptEncryptedData(keys, &doc.report, doc.element, makeDnAttribute));
  EXPECT_EQ(unified, doc.reportText());
}

TEST(XmlEncryption, PlaintextReplacesTheElement) {
  struct Row {
    const char* file;
    std::string plaintext;
    int32_t code;
    std::string result;  // the document after, from <doc> on
  } rows[] = {
      {"aes128.xml", u8"<data Id=\"d1\">Zażółć</data>", 0,
       u8"<doc><head>Nagłówek</head><data Id=\"d1\">Zażółć</data><tail>koniec</tail></doc>"},
      // Two siblings and text in the place of one element, in order; the text
      // is merged with nothing (the neighbours are elements).
      {"aes128.xml", "<a Id=\"n1\"/>t<b xmlns=\"urn:x\" Id=\"n2\"/>", 0,
       u8"<doc><head>Nagłówek</head><a Id=\"n1\"/>t<b xmlns=\"urn:x\" "
       u8"Id=\"n2\"/><tail>koniec</tail></doc>"},
      // Content of an element, in that element.
      {"content.xml", u8"Zażółć <b>gęślą</b>", 0,
       u8"<doc><head>Nagłówek</head><data Id=\"d1\">Zażółć "
       u8"<b>gęślą</b></data><tail>koniec</tail></doc>"},
      {"aes128.xml", "<data>", 77, ""},
      {"aes128.xml", "</doc><doc>", 77, ""},
      {"aes128.xml", "", 77, ""},
      {"aes128.xml", "<a>" + std::string(600, 'x') + "&undeclared;</a>", 77, ""},
      {"aes128.xml", std::string(520, '<'), 77, ""},
  };
  for (const Row& row : rows) {
    Encrypted doc(xencFile(row.file));
    ScriptedKeys keys = alice();
    keys.plaintext = row.plaintext;
    EXPECT_EQ(row.code, decryptEncryptedData(keys, &doc.report, doc.element, makeDnAttribute))
        << row.plaintext;
    const std::string after = doc.serialised();
    if (row.code == 0) {
      EXPECT_EQ(row.result, after);
    } else {
      // As bad padding answers (a changed cipher value with good padding gives this).
      EXPECT_NE(std::string::npos, doc.reportText().find(convertForOutput(
                                       "Odszyfrowanie klucza sesyjnego nie powiodło się\r\n\r\n")))
          << doc.reportText();
      EXPECT_EQ(std::string::npos,
                doc.reportText().find(convertForOutput("Klucz sesyjny został poprawnie")));
      EXPECT_NE(std::string::npos, after.find("xenc:EncryptedData"));
    }
  }
}

// Nested deeper than the document guards allow, counted from the root.
TEST(XmlEncryption, PlaintextDepthCountsFromTheRoot) {
  std::string open, close;
  for (int i = 0; i < 200; ++i) {
    open += "<e>";
    close = "</e>" + close;
  }
  for (int extra : {100, 300}) {
    std::string text =
        replaced(xencFile("aes128.xml"), "<xenc:EncryptedData", open + "<xenc:EncryptedData");
    text = replaced(text, "</xenc:EncryptedData>", "</xenc:EncryptedData>" + close);
    Encrypted doc(text);
    ASSERT_EQ(0, doc.rc);
    ScriptedKeys keys = alice();
    keys.plaintext.clear();
    for (int i = 0; i < extra; ++i) keys.plaintext += "<f>";
    for (int i = 0; i < extra; ++i) keys.plaintext += "</f>";
    EXPECT_EQ(extra == 100 ? 0 : 77,
              decryptEncryptedData(keys, &doc.report, doc.element, makeDnAttribute))
        << extra;
  }
}

// Ids of the plaintext are found, also one that the freed element carried; no
// Id of the freed element is left behind.
TEST(XmlEncryption, IdsAfterReplacement) {
  std::string text =
      replaced(xencFile("aes128.xml"), "<xenc:EncryptedData ", "<xenc:EncryptedData Id=\"same\" ");
  text = replaced(text, "<xenc:CipherData>", "<xenc:CipherData Id=\"gone\">");
  Encrypted doc(text);
  ScriptedKeys keys = alice();
  keys.plaintext = "<data Id=\"same\"><in id=\"inner\"/></data>";
  ASSERT_EQ(0, decryptEncryptedData(keys, &doc.report, doc.element, makeDnAttribute));
  xmlDocPtr d = doc.holder.doc;
  for (const char* id : {"same", "inner"}) {
    xmlAttrPtr attr = xmlGetID(d, BAD_CAST id);
    ASSERT_TRUE(attr) << id;
    xmlNodePtr found = nullptr;
    findNodeById(doc.holder.root, id, &found);
    EXPECT_EQ(attr->parent, found) << id;
  }
  EXPECT_EQ(nullptr, xmlGetID(d, BAD_CAST "gone"));
}

// A whole document encrypted: the plaintext must make one root element.
TEST(XmlEncryption, DocumentElement) {
  const std::string good = xencFile("aes128.xml");
  const std::string element =
      good.substr(good.find("<xenc:EncryptedData"),
                  good.find("</xenc:EncryptedData>") + 21 - good.find("<xenc:EncryptedData"));
  struct Row {
    const char* plaintext;
    int32_t code;
  } rows[] = {
      {"<doc Id=\"r\"><a/></doc>", 0}, {"<!--c--><doc/>\n", 0}, {"<a/><b/>", 77}, {"<!--c-->", 77}};
  for (const Row& row : rows) {
    Encrypted doc("<?xml version=\"1.0\"?>\n" + element);
    ASSERT_EQ(0, doc.rc);
    ASSERT_EQ(doc.holder.root, doc.element);
    ScriptedKeys keys = alice();
    keys.plaintext = row.plaintext;
    EXPECT_EQ(row.code, decryptEncryptedData(keys, &doc.report, doc.element, makeDnAttribute))
        << row.plaintext;
    xmlNodePtr root = xmlDocGetRootElement(doc.holder.doc);
    ASSERT_TRUE(root);
    EXPECT_EQ(row.code == 0 ? "doc" : "EncryptedData",
              std::string(reinterpret_cast<const char*>(root->name)));
    EXPECT_EQ(nullptr, root->next == nullptr                  ? nullptr
                       : root->next->type == XML_ELEMENT_NODE ? root->next
                                                              : nullptr);
  }
}

}  // namespace

namespace {

// Entities the document declares, referred to by a plaintext: an external one
// is never loaded, and copies of internal ones are bounded (before libxml2
// spends quadratic time on them).
TEST(XmlEncryption, EntitiesOfTheDocument) {
  const std::string body = xencFile("aes128.xml");
  const std::string prolog = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  const std::string dtd =
      "<!DOCTYPE doc [<!ENTITY ext SYSTEM \"file:///etc/hostname\">"
      "<!ENTITY big \"" +
      std::string(4000, 'x') +
      "\">"
      "<!ENTITY small \"ok\">]>\n";
  std::string some, many;
  for (int i = 0; i < 100; ++i) some += "&big;";
  for (int i = 0; i < 2000; ++i) many += "&big;";
  struct Row {
    std::string plaintext;
    int32_t code;
  } rows[] = {
      {"<a>&small;</a>", 0},      {"<a>&ext;</a>", 77},        {"<a b=\"&ext;\"/>", 77},
      {"<a>" + some + "</a>", 0}, {"<a>" + many + "</a>", 77},
  };
  for (const Row& row : rows) {
    Encrypted doc(replaced(body, prolog, prolog + dtd));
    ASSERT_EQ(0, doc.rc);
    ScriptedKeys keys = alice();
    keys.plaintext = row.plaintext;
    EXPECT_EQ(row.code, decryptEncryptedData(keys, &doc.report, doc.element, makeDnAttribute))
        << row.plaintext.substr(0, 40);
    if (row.code == 0) {
      EXPECT_EQ(row.plaintext.size() < 20 ? 2u : 400000u,
                nodeTextContent(findElement(doc.holder.root, "a", nullptr, -1)).size());
    }
  }
}

}  // namespace

namespace {

// A large cipher value reaches the key holder in pieces of at most 1 MiB.
TEST(XmlEncryption, ALargeCipherValueGoesInPieces) {
  const std::string good = xencFile("aes128.xml");
  const size_t from = good.rfind("<xenc:CipherValue>") + 18;
  const size_t to = good.rfind("</xenc:CipherValue>");
  // The IV and 3 MiB + 32 octets, all zeros: base64 "AAAA" per three of them.
  const size_t octets = 3 * ((1u << 20) + 16);
  Encrypted doc(good.substr(0, from) + std::string(octets / 3 * 4, 'A') + good.substr(to));
  ASSERT_EQ(0, doc.rc);
  ScriptedKeys keys = alice();
  ASSERT_EQ(0, decryptEncryptedData(keys, &doc.report, doc.element, makeDnAttribute));
  EXPECT_EQ(octets - 16, keys.content);
  EXPECT_EQ(4u, keys.pieces);
  EXPECT_EQ(size_t(1) << 20, keys.largestPiece);
}

}  // namespace

namespace {

// Plaintext in the pieces the key holder gives back is wiped from the piece
// buffer before the buffer takes the next piece, and the buffer never grows
// (a reallocation would free a copy unwiped). The holder hands out each piece
// as the key manager does: the block it held back first, then the rest.
TEST(XmlEncryption, PiecesOfPlaintextAreWiped) {
  struct Watching : ScriptedKeys {
    int32_t continueContent(const uint8_t*, size_t length, std::vector<uint8_t>& out) override {
      look(out);
      if (held) out.insert(out.end(), 16, 'x');
      const uint8_t* before = out.data();
      out.insert(out.end(), length - 16, 'x');
      if (held && out.data() != before) ++regrown;
      held = true;
      remember(out);
      return 0;
    }
    int32_t finishContent(std::vector<uint8_t>& out) override {
      look(out);
      return ScriptedKeys::finishContent(out);
    }
    // What the last call left in this buffer must be gone by the next call.
    void look(const std::vector<uint8_t>& out) {
      if (out.data() != last) return;
      for (size_t i = 0; i < lastSize; ++i)
        if (last[i] != 0) {
          ++unwiped;
          return;
        }
    }
    void remember(const std::vector<uint8_t>& out) {
      last = out.data();
      lastSize = out.size();
    }
    bool held = false;
    const uint8_t* last = nullptr;
    size_t lastSize = 0;
    int unwiped = 0, regrown = 0;
  };
  const std::string good = xencFile("aes128.xml");
  const size_t from = good.rfind("<xenc:CipherValue>") + 18;
  const size_t to = good.rfind("</xenc:CipherValue>");
  // The IV and 2 MiB + 32 octets: three pieces.
  const size_t octets = 3 * ((2u << 20) / 3 + 16);
  Encrypted doc(good.substr(0, from) + std::string(octets / 3 * 4, 'A') + good.substr(to));
  ASSERT_EQ(0, doc.rc);
  Watching keys;
  keys.users.push_back(certificate("alice.der"));
  keys.plaintext = "<a/>";
  EXPECT_EQ(0, decryptEncryptedData(keys, &doc.report, doc.element, makeDnAttribute));
  EXPECT_EQ(0, keys.unwiped);
  EXPECT_EQ(0, keys.regrown);
}

// Each X.509 token a KeyInfo refers to is looked up over the whole document:
// the encrypted keys of one element together refer to no more tokens than one
// signature's KeyInfo may, or a few kilobytes of references would cost a walk
// of the document each (minutes for one element of 64 keys).
TEST(XmlEncryption, TokenReferencesOfAllKeysAreBounded) {
  const std::string good = xencFile("cert.xml");
  const size_t at = good.find("<ds:X509Certificate>") + 20;
  const std::string token = "<wsse:BinarySecurityToken Id=\"t\">" +
                            good.substr(at, good.find("</ds:X509Certificate>") - at) +
                            "</wsse:BinarySecurityToken>";
  const std::string reference =
      "<wsse:SecurityTokenReference><wsse:Reference ValueType=\"http://docs.oasis-open.org/wss/"
      "2004/01/oasis-200401-wss-x509-token-profile-1.0#X509v3\" "
      "URI=\"#t\"/></wsse:SecurityTokenReference>";
  struct Row {
    int keys;
    int references;  // per key
    int32_t code;
  } rows[] = {{1, 200, 0}, {2, 200, 89}, {64, 4, 0}, {64, 5, 89}};
  for (const Row& row : rows) {
    std::string key =
        "<xenc:EncryptedKey><xenc:EncryptionMethod "
        "Algorithm=\"http://www.w3.org/2001/04/xmlenc#rsa-1_5\"/><ds:KeyInfo>";
    for (int i = 0; i < row.references; ++i) key += reference;
    key +=
        "</ds:KeyInfo><xenc:CipherData><xenc:CipherValue>AAAA</xenc:CipherValue>"
        "</xenc:CipherData></xenc:EncryptedKey>";
    std::string keys;
    for (int i = 0; i < row.keys; ++i) keys += key;
    const size_t from = good.find("<xenc:EncryptedKey>");
    const size_t to = good.find("</xenc:EncryptedKey>") + 20;
    std::string text = good.substr(0, from) + keys + good.substr(to);
    text = replaced(text, "<doc>",
                    "<doc xmlns:wsse=\"http://docs.oasis-open.org/wss/2004/01/"
                    "oasis-200401-wss-wssecurity-secext-1.0.xsd\">" +
                        token);
    Encrypted doc(text);
    ASSERT_EQ(0, doc.rc);
    XmlEncryptedData data;
    EXPECT_EQ(row.code, data.read(doc.element, &doc.report, makeDnAttribute))
        << row.keys << " " << row.references;
    if (row.code == 0) { EXPECT_EQ(size_t(row.keys), data.encryptedKeys.items.size()); }
    if (row.code != 0) {
      EXPECT_NE(
          std::string::npos,
          doc.reportText().find(convertForOutput("błędna składnia elementu xenc:EncryptedKey")))
          << doc.reportText();
    }
  }
}

}  // namespace

namespace {

// Ids of the plaintext that the document's own parse registers (xml:id, and
// attributes its DTD declares of type ID) are registered once it is in place,
// as they would be had the document been parsed decrypted; an Id the document
// already has stays with its element.
TEST(XmlEncryption, DeclaredIdsOfThePlaintext) {
  const std::string good = xencFile("aes128.xml");
  const std::string prolog = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  const std::string dtd = "<!DOCTYPE doc [<!ATTLIST data key ID #IMPLIED>]>\n";
  struct Row {
    std::string document;
    const char* plaintext;
    const char* id;
    const char* owner;  // the element the Id names after
  } rows[] = {
      {replaced(good, prolog, prolog + dtd), "<data key=\"k1\"/>", "k1", "data"},
      {good, "<data xml:id=\"x1\"/>", "x1", "data"},
      {good, "<wrap><inner xml:id=\"x2\"/></wrap>", "x2", "inner"},
      {replaced(good, "<tail>", "<tail xml:id=\"x3\">"), "<data xml:id=\"x3\"/>", "x3", "tail"},
  };
  for (const Row& row : rows) {
    Encrypted doc(row.document);
    ASSERT_EQ(0, doc.rc);
    ScriptedKeys keys = alice();
    keys.plaintext = row.plaintext;
    ASSERT_EQ(0, decryptEncryptedData(keys, &doc.report, doc.element, makeDnAttribute))
        << row.plaintext;
    xmlAttrPtr attr = xmlGetID(doc.holder.doc, BAD_CAST row.id);
    ASSERT_TRUE(attr) << row.plaintext;
    EXPECT_EQ(std::string(row.owner), reinterpret_cast<const char*>(attr->parent->name));
  }
}

}  // namespace

namespace {

// Attributes the document's DTD gives by default are in the plaintext's
// elements, and values it declares of a type other than CDATA are normalised,
// as the document's own parse does; a default namespace declaration (which
// would change the elements' names) refuses the plaintext.
TEST(XmlEncryption, DefaultAttributesOfTheDocument) {
  const std::string good = xencFile("aes128.xml");
  const std::string prolog = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  auto withDtd = [&](const std::string& declarations) {
    return replaced(good, prolog, prolog + "<!DOCTYPE doc [" + declarations + "]>\n");
  };
  const std::string kind = "<!ATTLIST data kind CDATA \"dflt\">";
  struct Row {
    std::string document;
    const char* plaintext;
    int32_t code;
    const char* result;  // the plaintext's place after
  } rows[] = {
      {withDtd(kind), "<data/>", 0, "<data kind=\"dflt\"/>"},
      {withDtd(kind), "<data kind=\"own\"/>", 0, "<data kind=\"own\"/>"},
      {withDtd(kind), "<w><data/></w>", 0, "<w><data kind=\"dflt\"/></w>"},
      {withDtd("<!ATTLIST data fixed CDATA #FIXED \"f\" xml:lang CDATA \"pl\">"), "<data/>", 0,
       "<data fixed=\"f\" xml:lang=\"pl\"/>"},
      {withDtd("<!ATTLIST data q:kind CDATA \"x\">"), "<data/>", 77, ""},
      // Values of a type other than CDATA are normalised; CDATA ones are not.
      {withDtd("<!ATTLIST data list NMTOKENS #IMPLIED text CDATA #IMPLIED>"),
       "<data list=\"  a   b \" text=\" c  d \"/>", 0, "<data list=\"a b\" text=\" c  d \"/>"},
      {withDtd("<!ATTLIST p:data kind CDATA \"q\">"), "<p:data xmlns:p=\"urn:p\"/>", 0,
       "<p:data xmlns:p=\"urn:p\" kind=\"q\"/>"},
      {withDtd("<!ATTLIST data xmlns CDATA #FIXED \"urn:x\">"), "<data/>", 77, ""},
      {withDtd("<!ATTLIST data xmlns CDATA #FIXED \"urn:x\">"), "<data xmlns=\"urn:x\"/>", 0,
       "<data xmlns=\"urn:x\"/>"},
  };
  for (const Row& row : rows) {
    Encrypted doc(row.document);
    ASSERT_EQ(0, doc.rc);
    ScriptedKeys keys = alice();
    keys.plaintext = row.plaintext;
    EXPECT_EQ(row.code, decryptEncryptedData(keys, &doc.report, doc.element, makeDnAttribute))
        << row.plaintext;
    if (row.code == 0) {
      EXPECT_NE(std::string::npos, doc.serialised().find(u8"<head>Nagłówek</head>" +
                                                         std::string(row.result) + "<tail>"))
          << doc.serialised();
    }
  }
}

}  // namespace
