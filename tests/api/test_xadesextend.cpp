// Receipts signed by xmlsec1 (tests/data/upo, make_upo.sh --bare) extended to
// the C, X-L and A forms through the verification driver as a caller would:
// verified with collecting on, the collected data handed to the signature,
// the archive time-stamp asked of `openssl ts -reply` behind a local HTTP
// server. Each result is read again by tvXmlUnprotect (form, status) and
// checked by `xmlsec1 --verify`; its values and references are those of the
// path and CRLs the verification used.
#include "upo_fixture.h"

#include "api/sigverifier.h"
#include "api/tvxml.h"
#include "base/b64file.h"
#include "crypto/hash/messagedigests.h"
#include "keys/pkcs12key.h"
#include "net/localtsa.h"
#include "xmlsig/sigpropsxml.h"
#include "xmlsig/xmlconst.h"
#include "xmlsig/xmlwalk.h"

#include <libxml/parser.h>

#include <filesystem>
#include <functional>
#include <set>

namespace {

using upofix::UPO;

std::string fileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class TimeStampServers : public ServerDirectory {
 public:
  void findServers(int32_t kind, const char*, std::vector<std::string>& out) const override {
    if (kind == 3) out.insert(out.end(), urls.begin(), urls.end());
  }
  std::vector<std::string> urls;
};

// What a step hands the signature: the driver that verified it and its properties.
using Step = std::function<int32_t(SignatureVerifier&, SignaturePropertiesXml&)>;

int32_t values(SignatureVerifier& v, SignaturePropertiesXml& p) { return v.exportValidationDataNoFinish(p); }
int32_t refsOnly(SignatureVerifier& v, SignaturePropertiesXml& p) { return p.addCompleteRefs(v.validationData); }
int32_t everything(SignatureVerifier& v, SignaturePropertiesXml& p) { return v.exportValidationData(p, nullptr); }
int32_t archive(SignatureVerifier&, SignaturePropertiesXml& p) { return p.makeArchiveForm(nullptr); }
int32_t archiveTwice(SignatureVerifier& v, SignaturePropertiesXml& p) {
  const int32_t r = everything(v, p);
  return r != 0 ? r : p.makeArchiveForm(nullptr);
}

class Extend : public upofix::UpoContext {
 protected:
  void SetUp() override {
    UpoContext::SetUp();
    const char* version[] = {"xmlsec1", "--version", nullptr};
    ASSERT_EQ(0, runQuiet(version, true, nullptr)) << "xmlsec1 is needed (scripts/setup.sh installs it)";
    EXPECT_EQ(0, talSetOption(ctx, 18, 0));  // network on, for the time-stamp authority
    EXPECT_EQ(0, talSetOption(ctx, 16, 1));  // no CRL or OCSP from the network
    ASSERT_EQ(1, ctx->configuration.setDigestAlgorithm(3, true));  // SHA-256, all the authority takes
    ASSERT_EQ(1, ctx->configuration.setOption(3, 0, true));  // requests unsigned
    ASSERT_EQ(0, ctx->revocation->importCrl(
                     *upofix::loadFile<SignedCertRevList>(UPO + "crl/intermediate-revoked.der")));
    ctx->configuration.setServerDirectory(&servers);
    char dir[] = "/tmp/talxextXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    folder = dir;
  }
  void TearDown() override {
    std::filesystem::remove_all(folder);
    VerifyContext::TearDown();
  }

  // Verifies `file` with collecting on, runs `step` on it and keeps the
  // document as it then is in `out`: the verification's status, the step's result.
  void extend(const std::string& file, const Step& step, int32_t& status, int32_t& result, std::string& out) {
    tvXmlCtx* c = nullptr;
    ASSERT_EQ(0, tvXmlCreateCtx(&c));
    tvXmlDoc* d = nullptr;
    ASSERT_EQ(0, tvXmlLoadDocFile(c, file.c_str(), nullptr, &d));
    XmlSigContext* context = reinterpret_cast<XmlSigContext*>(c);
    TVxmlDoc* doc = reinterpret_cast<TVxmlDoc*>(d);
    ASSERT_EQ(0, doc->ensureParsed());
    context->selectedRoot = doc->holder->root;
    const XmlSignatureSetup setup = xmlSignatureSetup(ctx, context);
    {
      SigInfo info;
      auto* props = new SignaturePropertiesXml(ctx, setup, doc->holder->root);
      info.setProperties(props);
      SignatureVerifier verifier(ctx);
      verifier.collect = true;
      verifier.verifyAt(&info, props, nullptr, nullptr);
      status = info.status;
      result = step(verifier, *props);
    }
    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpMemory(doc->holder->doc, &text, &size);
    out.assign(reinterpret_cast<const char*>(text), static_cast<size_t>(size));
    xmlFree(text);
    EXPECT_EQ(0, tvXmlDeleteCtx(c));
  }

  bool xmlsecVerifies(const std::string& path, bool signerAside) {
    const std::string root = UPO + "pki/root.pem", mid = UPO + "pki/intermediate.pem",
                      signer = UPO + "pki/signer-rsa.pem";
    std::vector<const char*> argv = {"xmlsec1", "--verify", "--trusted-pem", root.c_str(), "--untrusted-pem",
                                     mid.c_str(), "--id-attr:Id", "Object", "--id-attr:Id", "SignedProperties"};
    if (signerAside) argv.insert(argv.end(), {"--untrusted-pem", signer.c_str()});
    argv.push_back(path.c_str());
    argv.push_back(nullptr);
    return runQuiet(argv.data(), true, nullptr) == 0;
  }

  TimeStampServers servers;
  std::string folder;
};

const OpensslTsaFiles TSA = {UPO + "pki/tsa.pem", UPO + "pki/tsa.key", UPO + "pki/intermediate.pem", true, false};

xmlNodePtr unsignedProperties(xmlNodePtr root) {
  return findElement(root, xmlc::XADES_UNSIGNED_SIGNATURE_PROPERTIES.data(), xmlc::NS_XADES.data(), -1);
}

// The texts of the elements of a name below `e`, base64-decoded when asked.
std::multiset<std::string> textsOf(xmlNodePtr e, std::string_view name, bool decode) {
  std::multiset<std::string> out;
  for (xmlNodePtr c = firstElement(e ? e->children : nullptr); c; c = xmlwalk::nextElement(c)) {
    if (xmlStrEqual(c->name, BAD_CAST name.data())) {
      std::string text = xmlwalk::contentOf(c);
      if (decode) {
        MemFile bytes;
        decodeBase64Text(text.data(), static_cast<int32_t>(text.size()), &bytes, 0);
        text.assign(reinterpret_cast<const char*>(bytes.data()), static_cast<size_t>(bytes.length()));
      }
      out.insert(text);
    }
    for (const std::string& t : textsOf(c, name, decode)) out.insert(t);
  }
  return out;
}

std::string sha256Base64(const std::string& bytes) {
  MessageDigestCtx d(3);
  d.update(bytes.data(), static_cast<uint32_t>(bytes.size()));
  d.finish();
  char out[64] = {};
  return std::string(out, static_cast<size_t>(encodeBase64Buffer(d.getDigestPtr(), 32, out)));
}

TEST_F(Extend, ReceiptsRaisedToTheCXlAndAForms) {
  LocalHttpServer tsa(opensslTsaOf(TSA));
  ASSERT_NE(0, tsa.port);
  servers.urls = {tsa.url("/tsa")};
  // The path of every receipt and the CRLs that decided it.
  const std::set<std::string> pathCertificates = {fileText(UPO + "pki/signer-rsa.der"),
                                                  fileText(UPO + "pki/intermediate.der"),
                                                  fileText(UPO + "pki/root.der")};
  const std::set<std::string> crls = {fileText(UPO + "crl/root.der"), fileText(UPO + "crl/intermediate-revoked.der")};
  const struct {
    const char* file;
    const char* steps;
    Step step;
    int32_t option34, form;
    size_t archives;
    bool refs, values;
  } rows[] = {
      {"upo-t-bare.xml", "references", refsOnly, 1, SIG_FORM_C, 0, true, false},
      {"upo-bare.xml", "values", values, 0, SIG_FORM_XL, 0, false, true},
      {"upo-t-bare.xml", "references and values", values, 1, SIG_FORM_XL, 0, true, true},
      {"upo-t-bare.xml", "references, values, archive", everything, 1, SIG_FORM_A, 1, true, true},
      {"upo-bare.xml", "values, archive, archive", archiveTwice, 0, SIG_FORM_A, 2, false, true},
      {"upo-plain.xml", "archive", archive, 0, SIG_FORM_PLAIN, 1, false, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.file) + ": " + row.steps);
    ASSERT_EQ(1, ctx->configuration.setOption(34, row.option34, true));
    int32_t status = 0, result = -1;
    std::string xml;
    extend(UPO + row.file, row.step, status, result, xml);
    ASSERT_EQ(SIG_STATUS_VALID, status) << report();
    ASSERT_EQ(0, result) << report();
    const std::string path = folder + "/extended.xml";
    std::ofstream(path, std::ios::binary) << xml;

    int32_t form = 0, reason = 0;
    verifyOne(path, status, reason, &form);
    EXPECT_EQ(row.form, form);
    EXPECT_EQ(SIG_STATUS_VALID, status) << report();
    EXPECT_EQ(std::string::npos, report().find(u8"niespójne")) << report();
    EXPECT_TRUE(xmlsecVerifies(path, false));

    std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> parsed(
        xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, XML_PARSE_NONET), xmlFreeDoc);
    ASSERT_TRUE(parsed);
    xmlNodePtr usp = unsignedProperties(xmlDocGetRootElement(parsed.get()));
    ASSERT_NE(nullptr, usp);
    const auto certificates = textsOf(usp, xmlc::XADES_ENCAPSULATED_X509_CERTIFICATE, true);
    EXPECT_EQ(std::set<std::string>(certificates.begin(), certificates.end()),
              row.values ? pathCertificates : std::set<std::string>());
    EXPECT_EQ(certificates.size(), row.values ? 3u : 0u) << "each once";
    const auto crlValues = textsOf(usp, xmlc::XADES_ENCAPSULATED_CRL_VALUE, true);
    EXPECT_EQ(std::set<std::string>(crlValues.begin(), crlValues.end()), row.values ? crls : std::set<std::string>());
    std::multiset<std::string> digests;
    if (row.refs) {
      for (const std::string& der : pathCertificates) digests.insert(sha256Base64(der));
      for (const std::string& der : crls) digests.insert(sha256Base64(der));
    }
    EXPECT_EQ(textsOf(usp, "DigestValue", false), digests) << "references over the same path and CRLs";
    EXPECT_EQ(textsOf(usp, xmlc::XADES_ARCHIVE_TIME_STAMP, false).size(), row.archives);
  }
}

// Without a certificate in KeyInfo the values begin with the signer's
// certificate the verification found, never with the context's own user's.
TEST_F(Extend, ValuesCarryTheSignerFoundNotTheLocalUser) {
  ASSERT_EQ(0, ctx->certificates.importCertificate(*upofix::loadFile<SignedCertificate>(UPO + "pki/signer-rsa.der")));
  ctx->signerCertificate = upofix::loadFile<SignedCertificate>(UPO + "pki/tsa.der");
  int32_t status = 0, result = -1;
  std::string xml;
  extend(UPO + "upo-issuer-serial.xml", values, status, result, xml);
  ASSERT_EQ(SIG_STATUS_VALID, status) << report();
  ASSERT_EQ(0, result);
  std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> parsed(
      xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, XML_PARSE_NONET), xmlFreeDoc);
  ASSERT_TRUE(parsed);
  xmlNodePtr first = findElement(xmlDocGetRootElement(parsed.get()),
                                 xmlc::XADES_ENCAPSULATED_X509_CERTIFICATE.data(), xmlc::NS_XADES.data(), -1);
  ASSERT_NE(nullptr, first);
  MemFile der;
  const std::string text = xmlwalk::contentOf(first);
  decodeBase64Text(text.data(), static_cast<int32_t>(text.size()), &der, 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(der.data()), static_cast<size_t>(der.length())),
            fileText(UPO + "pki/signer-rsa.der"));
  const auto all = textsOf(xmlDocGetRootElement(parsed.get()), xmlc::XADES_ENCAPSULATED_X509_CERTIFICATE, true);
  EXPECT_EQ(0u, all.count(fileText(UPO + "pki/tsa.der")));

  const std::string path = folder + "/extended.xml";
  std::ofstream(path, std::ios::binary) << xml;
  int32_t form = 0, reason = 0;
  verifyOne(path, status, reason, &form);
  EXPECT_EQ(SIG_FORM_XL, form);
  EXPECT_EQ(SIG_STATUS_VALID, status) << report();
  EXPECT_TRUE(xmlsecVerifies(path, true));
}

// Under the default configuration (option 3 on) the archive time-stamp request goes signed by
// the context's key (a PKCS#12 file's, made by openssl); an authority that takes only requests
// whose signature openssl cms verifies answers it, and the A form is written.
TEST_F(Extend, SignedRequestUnderTheDefaultConfiguration) {
  const std::string p12 = fileText(std::string(TAL_TEST_DATA_DIR) + "/keys/p12/both-aes.p12");
  Pkcs12Keys keys;
  ASSERT_EQ(0, readPkcs12Keys(reinterpret_cast<const uint8_t*>(p12.data()), p12.size(), "vorin-PIN", 9, keys));
  ctx->keyManager.setKeyHolders(keys.signing, nullptr);
  ctx->keyManager.flags |= KM_FLAG_SIGNING_REQUIRED;
  ASSERT_EQ(1, ctx->configuration.setOption(3, 1, true));

  const std::string signerPem = folder + "/signer.pem";
  const std::string der = std::string(TAL_TEST_DATA_DIR) + "/keys/p12/both.der";
  const char* convert[] = {"openssl", "x509", "-inform", "DER", "-in", der.c_str(), "-out", signerPem.c_str(), nullptr};
  ASSERT_EQ(0, runQuiet(convert, true, nullptr));
  OpensslTsaFiles signedOnly = TSA;
  signedOnly.requestSignersCa = signerPem;
  LocalHttpServer tsa(opensslTsaOf(signedOnly));
  ASSERT_NE(0, tsa.port);
  servers.urls = {tsa.url("/tsa")};
  int32_t status = 0, result = -1;
  std::string xml;
  extend(UPO + "upo-plain.xml", archive, status, result, xml);
  ASSERT_EQ(SIG_STATUS_VALID, status) << report();
  ASSERT_EQ(0, result) << report();
  EXPECT_EQ(1, *signedOnly.signedAccepted);
  const std::string path = folder + "/extended.xml";
  std::ofstream(path, std::ios::binary) << xml;
  int32_t form = 0, reason = 0;
  verifyOne(path, status, reason, &form);
  EXPECT_EQ(SIG_STATUS_VALID, status) << report();
  std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> parsed(
      xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, XML_PARSE_NONET), xmlFreeDoc);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(1u, textsOf(unsignedProperties(xmlDocGetRootElement(parsed.get())), xmlc::XADES_ARCHIVE_TIME_STAMP,
                        false).size());
}

// An authority that cannot be reached or answers with a token over other data
// (status 2 when checked): nothing is embedded and the document is unchanged.
TEST_F(Extend, AFailedRequestLeavesTheDocumentUnchanged) {
  OpensslTsaFiles wrong = TSA;
  wrong.otherImprint = true;
  LocalHttpServer other(opensslTsaOf(wrong));
  ASSERT_NE(0, other.port);
  const std::string closed = "http://127.0.0.1:" + std::to_string(closedLocalPort()) + "/";
  const struct {
    const char* name;
    const char* file;
    std::string url;
    int32_t option4, result;
  } rows[] = {
      {"unreachable", "upo-plain.xml", closed, 0, 128},
      {"unreachable, tolerated", "upo-t-bare.xml", closed, 1, 156},
      {"token over other data", "upo-plain.xml", other.url("/tsa"), 0, 127},
      {"token over other data, tolerated", "upo-t-bare.xml", other.url("/tsa"), 1, 156},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    servers.urls = {row.url};
    ASSERT_EQ(1, ctx->configuration.setOption(4, row.option4, true));
    int32_t status = 0, result = -1;
    std::string before, after;
    extend(UPO + row.file, [](SignatureVerifier&, SignaturePropertiesXml&) { return 0; }, status, result, before);
    extend(UPO + row.file, archive, status, result, after);
    EXPECT_EQ(row.result, result) << report();
    EXPECT_EQ(before, after);
    if (row.result == 156) {
      EXPECT_NE(std::string::npos, report().find(u8"Błąd podczas tworzenia postaci archiwalnej: ")) << report();
    }
  }
}

}  // namespace
