// Extending a signature in its document: the references and values written
// for openssl's certificates, CRL and OCSP responses compared with those
// gen.sh wrote from openssl's own output (tests/data/xmlsig/xades), the
// order and Ids of what is appended, archive time-stamps refused unless
// `openssl ts -reply` made them over the digest asked for, where the unsigned properties are found or created, and the document
// left as it was by every failure, running out of memory included (this
// program can make the n-th allocation fail). The archive data of a new
// time-stamp is that gen.sh stamped from xmlsec1's and xmllint's output.
#include "xmlsig/xmltesthelp.h"

#include "api/xmlrefmatch.h"
#include "base/b64file.h"
#include "base/reportstream.h"
#include "crypto/hash/messagedigests.h"
#include "net/localhttp.h"
#include "pki/common/siganddigoid.h"
#include "pki/ocsp/ocspresp.h"
#include "xmlsig/sigpropsxml.h"
#include "xmlsig/xadeswriter.h"
#include "xmlsig/xmlwalk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <set>

#include <stdlib.h>
#include <unistd.h>

#include "failnth.h"

namespace {

const uint32_t SHA256 = 3;
const std::string SHA256_URI = "http://www.w3.org/2001/04/xmlenc#sha256";

std::string fileOf(const std::string& name) { return readFixture("xades/" + name); }
std::string dataFile(const std::string& path) {
  std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/" + path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

template <class T>
T* decoded(const std::string& der) {
  auto* x = new T();
  EXPECT_EQ(x->decodeBuffer(reinterpret_cast<const unsigned char*>(der.data()), static_cast<int>(der.size()), 0),
            static_cast<int>(der.size()));
  return x;
}

std::string sha256Base64(const std::string& bytes) {
  MessageDigestCtx d(SHA256);
  d.update(bytes.data(), static_cast<uint32_t>(bytes.size()));
  d.finish();
  char out[64] = {};
  const int32_t n = encodeBase64Buffer(d.getDigestPtr(), static_cast<int32_t>(d.getDigestLength()), out);
  return std::string(out, static_cast<size_t>(n));
}

std::string unbase64(const std::string& text) {
  MemFile out;
  decodeBase64Text(text.data(), static_cast<int32_t>(text.size()), &out, 0);
  return std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(out.length()));
}

std::string serialised(xmlDocPtr doc) {
  xmlChar* text = nullptr;
  int size = 0;
  xmlDocDumpMemory(doc, &text, &size);
  std::string out(reinterpret_cast<const char*>(text), static_cast<size_t>(size));
  xmlFree(text);
  return out;
}

// A token of `openssl ts -reply` (the TSA of tests/data/net) over a SHA-256
// digest, its generation time with milliseconds, or (fixed) always the same
// second, under faketime.
std::string opensslToken(const std::string& digest, bool fixed) {
  char folder[] = "/tmp/talxextXXXXXX";
  if (!mkdtemp(folder)) return "";
  const std::string w = folder, net = std::string(TAL_TEST_DATA_DIR) + "/net/";
  std::string hex;
  for (unsigned char c : digest) {
    char two[3];
    snprintf(two, sizeof two, "%02x", c);
    hex += two;
  }
  std::ofstream(w + "/serial") << "01\n";
  std::ofstream(w + "/tsa.cnf") << "[tsa]\ndefault_tsa = t\n[t]\nserial = " << w
                                << "/serial\nsigner_digest = sha256\ndefault_policy = 1.2.3.4.1\n"
                                   "digests = sha256\ness_cert_id_alg = sha256\n"
                                << (fixed ? "" : "clock_precision_digits = 3\n");
  const std::string q = w + "/q", t = w + "/t", cnf = w + "/tsa.cnf", cert = net + "tsa.pem", key = net + "tsa.key";
  const char* query[] = {"openssl", "ts", "-query", "-digest", hex.c_str(), "-sha256", "-cert", "-out", q.c_str(),
                         nullptr};
  // -f: the clock stands still (without it faketime only starts there, and a loaded
  // machine moves the second token into the next second).
  const char* reply[] = {"faketime", "-f", "2026-12-01 12:00:00", "openssl", "ts", "-reply", "-config", cnf.c_str(), "-queryfile", q.c_str(), "-signer",
                         cert.c_str(), "-inkey", key.c_str(), "-token_out", "-out", t.c_str(), nullptr};
  std::string token;
  if (runQuiet(query, true, nullptr) == 0 && runQuiet(fixed ? reply : reply + 3, true, nullptr) == 0) {
    std::ifstream in(t, std::ios::binary);
    token.assign(std::istreambuf_iterator<char>(in), {});
  }
  for (const char* f : {"/serial", "/serial.old", "/tsa.cnf", "/q", "/t"}) std::remove((w + f).c_str());
  rmdir(folder);
  return token;
}

// `der` as a token the request checked, of that status, appended to `out`
// (not lost when the list cannot take it); false when it does not decode.
bool appendToken(const std::string& der, int32_t status, ArchiveTimeStampTokens& out) {
  auto t = std::make_unique<XmlArchiveTimeStampToken>();
  if (t->token.decodeVector(std::vector<unsigned char>(der.begin(), der.end())) != static_cast<int>(der.size()))
    return false;
  const ASNoctstr& content = t->token.value().encapContentInfo.value();
  if (t->tstInfo.decodeOctets(content) != content.length) return false;
  t->checked = true;
  t->status = status;
  out.items.push_back(t.get());
  t.release();
  return true;
}

// What a fake time-stamp authority answers: the request's code, and a token
// over the digest asked for (or over other data), with a verification status.
struct Authority {
  int32_t code = 0;
  bool token = true;
  bool otherDigest = false;
  int32_t status = 4;
  bool fixedTime = false;
  int asked = 0;

  XmlTimeStampRequester requester() {
    return [this](talCtx*, const std::string& digest, int32_t hashId, ArchiveTimeStampTokens& out) {
      ++asked;
      EXPECT_EQ(hashId, static_cast<int32_t>(SHA256));
      if (token) {
        std::string over = digest;
        if (otherDigest) over[0] = static_cast<char>(over[0] ^ 1);
        const std::string der = opensslToken(over, fixedTime);
        EXPECT_FALSE(der.empty()) << "openssl ts";
        EXPECT_TRUE(appendToken(der, status, out));
      }
      return code;
    };
  }
};

// One signature of a document, parsed and analysed as the verification does.
struct Signature {
  explicit Signature(const std::string& xml, Authority* tsa = nullptr, XmlTimeStampRequester requester = nullptr)
      : doc(xml), report(&sink) {
    setup.root = doc.holder.root;
    useStoreMatchers(setup);
    setup.report = &report;
    setup.configuredDigest = SHA256;
    setup.ids = &ids;
    if (tsa) setup.requestTimeStamp = tsa->requester();
    if (requester) setup.requestTimeStamp = requester;
    signature = findElement(doc.holder.root, "Signature", xmlc::NS_DSIG.data(), -1);
    props = std::make_unique<SignaturePropertiesXml>(nullptr, setup, signature);
    rc = props->analyse();
  }
  std::string text() const { return serialised(doc.holder.doc); }
  std::string reportText() const {
    return std::string(reinterpret_cast<const char*>(sink.data()), static_cast<size_t>(sink.length()));
  }
  ParsedDoc doc;
  MemFile sink;
  ReportStream report;
  XmlUniqueIds ids;
  XmlSignatureSetup setup;
  xmlNodePtr signature = nullptr;
  std::unique_ptr<SignaturePropertiesXml> props;
  int32_t rc = -1;
};

xmlNodePtr xadesChild(xmlNodePtr parent, std::string_view name) {
  for (xmlNodePtr c = firstElement(parent ? parent->children : nullptr); c; c = xmlwalk::nextElement(c))
    if (xmlwalk::isIn(c, name, xmlc::NS_XADES)) return c;
  return nullptr;
}

xmlNodePtr usp(xmlNodePtr root) {
  return findElement(root, xmlc::XADES_UNSIGNED_SIGNATURE_PROPERTIES.data(), xmlc::NS_XADES.data(), -1);
}

// The leaves below an element in document order: name, Algorithm and text.
std::vector<std::string> leaves(xmlNodePtr e) {
  std::vector<std::string> out;
  for (xmlNodePtr c = firstElement(e ? e->children : nullptr); c; c = xmlwalk::nextElement(c)) {
    if (!firstElement(c->children)) {
      out.push_back(std::string(reinterpret_cast<const char*>(c->name)) + " " + propOf(c, "Algorithm") + " " +
                    xmlwalk::contentOf(c));
      continue;
    }
    for (const std::string& l : leaves(c)) out.push_back(l);
  }
  return out;
}

// The decoded values of one kind under an element.
std::vector<std::string> valuesOf(xmlNodePtr e, std::string_view name) {
  std::vector<std::string> out;
  for (xmlNodePtr c = firstElement(e ? e->children : nullptr); c; c = xmlwalk::nextElement(c)) {
    if (xmlwalk::isIn(c, name, xmlc::NS_XADES)) out.push_back(unbase64(xmlwalk::contentOf(c)));
    for (const std::string& v : valuesOf(c, name)) out.push_back(v);
  }
  return out;
}

// The data gen.sh referenced: the signer, the CA (as carried in xl.xml), the
// OCSP responder; the CRL and both responses. The signer is given twice.
struct GenShData {
  GenShData() {
    Signature xl(fileOf("xl.xml"));
    ca = derOf(*xl.props->certificateValues()->items.front());
    data.path.certificates.items.push_back(decoded<SignedCertificate>(fileOf("signer.der")));
    data.path.certificates.items.push_back(decoded<SignedCertificate>(ca));
    data.other.certificates.items.push_back(decoded<SignedCertificate>(fileOf("ocsp.der")));
    data.other.certificates.items.push_back(decoded<SignedCertificate>(fileOf("signer.der")));
    data.path.revocations.items.push_back(new CrlOrOcspValue(decoded<SignedCertRevList>(fileOf("crl.der")), nullptr, 1));
    std::unique_ptr<OCSPResponse> whole(decoded<OCSPResponse>(fileOf("ocsp-name.der")));
    const ASNoctstr& inner = whole->responseBytes->response;
    data.path.revocations.items.push_back(new CrlOrOcspValue(
        nullptr, decoded<BasicOCSPResponse>(std::string(reinterpret_cast<const char*>(inner.data()), inner.length)),
        1));
    data.other.revocations.items.push_back(
        new CrlOrOcspValue(nullptr, decoded<BasicOCSPResponse>(fileOf("ocsp-key.basic")), 1));
  }
  template <class T>
  static std::string derOf(const T& value) {
    std::vector<unsigned char> der;
    value.encodeVector(der);
    return std::string(der.begin(), der.end());
  }
  ValidationData data;
  std::string ca;
};

// References and values written for openssl's data are gen.sh's, element by
// element: digests of the DER (the OCSP responses re-wrapped exactly as
// openssl wrapped them), names, serials, CRL time and number, responder and
// production time. Read back, the document is X-L with consistent lists.
TEST(XadesWriter, ReferencesAndValuesAsGenShWroteThem) {
  GenShData collected;
  Signature s(fileOf("t.xml"));
  ASSERT_EQ(s.rc, 0) << s.reportText();
  ASSERT_EQ(s.props->form, SIG_FORM_T);
  ASSERT_EQ(s.props->addCompleteRefs(collected.data), 0);
  ASSERT_EQ(s.props->addValues(collected.data), 0) << "KeyInfo carries the signer: no signer certificate needed";

  Signature xl(fileOf("xl.xml"));
  xmlNodePtr ours = usp(s.doc.holder.root), theirs = usp(xl.doc.holder.root);
  EXPECT_EQ(leaves(xadesChild(ours, xmlc::XADES_COMPLETE_CERTIFICATE_REFS)),
            leaves(xadesChild(theirs, xmlc::XADES_COMPLETE_CERTIFICATE_REFS)));
  // gen.sh left out the digest of the response named by key; it is that of openssl's whole response.
  std::vector<std::string> revocation = leaves(xadesChild(theirs, xmlc::XADES_COMPLETE_REVOCATION_REFS));
  revocation.push_back("DigestMethod " + SHA256_URI + " ");
  revocation.push_back("DigestValue  " + sha256Base64(fileOf("ocsp-key.der")));
  EXPECT_EQ(leaves(xadesChild(ours, xmlc::XADES_COMPLETE_REVOCATION_REFS)), revocation);

  const std::vector<std::string> certificates = {fileOf("signer.der"), collected.ca, fileOf("ocsp.der")};
  EXPECT_EQ(valuesOf(xadesChild(ours, xmlc::XADES_CERTIFICATE_VALUES), xmlc::XADES_ENCAPSULATED_X509_CERTIFICATE),
            certificates);
  xmlNodePtr rv = xadesChild(ours, xmlc::XADES_REVOCATION_VALUES);
  EXPECT_EQ(valuesOf(rv, xmlc::XADES_ENCAPSULATED_CRL_VALUE), std::vector<std::string>{fileOf("crl.der")});
  EXPECT_EQ(valuesOf(rv, xmlc::XADES_ENCAPSULATED_OCSP_VALUE),
            (std::vector<std::string>{fileOf("ocsp-name.der"), fileOf("ocsp-key.der")}));

  Signature again(s.text());
  ASSERT_EQ(again.rc, 0) << again.reportText();
  EXPECT_EQ(again.props->form, SIG_FORM_XL);
  EXPECT_EQ(again.reportText(), "") << "references and values agree";
  EXPECT_TRUE(again.props->checkMessageDigest());
}

// Appended in the order of extension, each with an Id of its own of the
// prefix its kind takes (the tokens are read back in the api tests).
TEST(XadesWriter, ElementOrderAndIds) {
  GenShData collected;
  Authority tsa;
  Signature s(fileOf("t.xml"), &tsa);
  ASSERT_EQ(s.rc, 0);
  ASSERT_EQ(s.props->addCompleteRefs(collected.data), 0);
  ASSERT_EQ(s.props->addValues(collected.data), 0);
  ASSERT_EQ(s.props->makeArchiveForm(nullptr), 0) << s.reportText();
  ASSERT_EQ(s.props->makeArchiveForm(nullptr), 0) << s.reportText();
  EXPECT_EQ(tsa.asked, 2);

  const struct {
    std::string_view name;
    const char* id;  // the Id's pattern
  } order[] = {
      {xmlc::XADES_SIGNATURE_TIME_STAMP, "ts1"},
      {xmlc::XADES_COMPLETE_CERTIFICATE_REFS, "CCRefs_[0-9]+_[0-9]+"},
      {xmlc::XADES_COMPLETE_REVOCATION_REFS, "CRRefs_[0-9]+_[0-9]+"},
      {xmlc::XADES_CERTIFICATE_VALUES, "CertVals_[0-9]+_[0-9]+"},
      {xmlc::XADES_REVOCATION_VALUES, "RevVals_[0-9]+_[0-9]+"},
      {xmlc::XADES_ARCHIVE_TIME_STAMP, "ArchTS_[0-9]+_[0-9]+"},
      {xmlc::XADES_ARCHIVE_TIME_STAMP, "ArchTS_[0-9]+_[0-9]+"},
  };
  std::set<std::string> ids;
  xmlNodePtr c = firstElement(usp(s.doc.holder.root)->children);
  for (const auto& row : order) {
    SCOPED_TRACE(std::string(row.name));
    ASSERT_TRUE(xmlwalk::isIn(c, row.name, xmlc::NS_XADES));
    EXPECT_TRUE(std::regex_match(propOf(c, "Id"), std::regex(row.id))) << propOf(c, "Id");
    EXPECT_TRUE(ids.insert(propOf(c, "Id")).second);
    if (row.name == xmlc::XADES_ARCHIVE_TIME_STAMP) {
      xmlNodePtr inner = firstElement(c->children);
      ASSERT_TRUE(xmlwalk::isIn(inner, xmlc::XADES_ENCAPSULATED_TIME_STAMP, xmlc::NS_XADES));
      EXPECT_TRUE(std::regex_match(propOf(inner, "Id"), std::regex("EncTS_[0-9]+_[0-9]+")));
      EXPECT_EQ(xmlwalk::nextElement(inner), nullptr) << "no canonicalisation method";
      EXPECT_EQ(propOf(inner, "Encoding"), "");
      EXPECT_TRUE(ids.insert(propOf(inner, "Id")).second);
    }
    c = xmlwalk::nextElement(c);
  }
  EXPECT_EQ(c, nullptr);

  // A token of the same second as the last one would never verify: a reader
  // leaves the last one out of its data. Refused, the document as it was.
  Authority sameSecond;
  sameSecond.fixedTime = true;
  Signature t(fileOf("t.xml"), &sameSecond);
  ASSERT_EQ(t.props->makeArchiveForm(nullptr), 0) << t.reportText();
  const std::string before = t.text();
  EXPECT_EQ(t.props->makeArchiveForm(nullptr), 156);
  EXPECT_EQ(t.text(), before);
}

// A failed extension leaves the document byte for byte as it was, whatever
// it had to create first; the reasons have their codes.
TEST(XadesWriter, FailuresLeaveTheDocumentAsItWas) {
  GenShData collected;
  const std::string upo = dataFile("upo/upo.xml"), plain = dataFile("upo/upo-plain.xml"),
                    issuerSerial = dataFile("upo/upo-issuer-serial.xml");
  enum Step { ARCHIVE, REFS, VALUES };
  const struct {
    const char* name;
    std::string doc;
    Step step;
    Authority tsa;
    bool requester;
    int32_t code;
    const char* line;  // the report's last line, or null
  } rows[] = {
      {"no authority answered", plain, ARCHIVE, {128, false, false, 4}, true, 128, nullptr},
      {"failure tolerated, no token", plain, ARCHIVE, {0, false, false, 4}, true, 156,
       "Błąd podczas tworzenia postaci archiwalnej: Z żadnego serwera nie udało się pobrać znacznika czasu !!!\r\n"},
      {"token proven wrong (status 2)", fileOf("t.xml"), ARCHIVE, {0, true, false, 2}, true, 156,
       "Błąd podczas tworzenia postaci archiwalnej: Błąd dodawania danych archiwalnych !!!\r\n"},
      {"token over other data", plain, ARCHIVE, {0, true, true, 4}, true, 156,
       "Błąd podczas tworzenia postaci archiwalnej: Błąd dodawania danych archiwalnych !!!\r\n"},
      {"no requester", plain, ARCHIVE, {}, false, 137, nullptr},
      {"1.1.1 form", fileOf("v111.xml"), ARCHIVE, {}, true, 89, nullptr},
      {"revocation values there", upo, VALUES, {}, false, 89, nullptr},
      {"certificate values there", fileOf("xl.xml"), VALUES, {}, false, 89, nullptr},
      {"references there", fileOf("xl.xml"), REFS, {}, false, 89, nullptr},
      {"no qualifying properties for references", plain, REFS, {}, false, 89, nullptr},
      {"no qualifying properties for values", plain, VALUES, {}, false, 89, nullptr},
      {"signer neither in KeyInfo nor found", issuerSerial, VALUES, {}, false, 89, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Authority tsa = row.tsa;
    Signature s(row.doc, row.requester ? &tsa : nullptr);
    ASSERT_EQ(s.rc, 0) << s.reportText();
    const std::string before = s.text();
    const int32_t code = row.step == ARCHIVE ? s.props->makeArchiveForm(nullptr)
                         : row.step == REFS  ? s.props->addCompleteRefs(collected.data)
                                             : s.props->addValues(collected.data);
    EXPECT_EQ(code, row.code);
    EXPECT_EQ(s.text(), before);
    if (row.line) {
      const std::string report = s.reportText(), line = row.line;
      ASSERT_GE(report.size(), line.size()) << report;
      EXPECT_EQ(report.substr(report.size() - line.size()), line);
    }
  }
}

// The archive data start from the analysis's running digest of the
// references: properties never analysed have none, a failed invariant of the
// unit, with no authority asked and the document as it was.
TEST(XadesWriter, ArchiveWithoutRunningDigestIsAFailedInvariant) {
  Authority tsa;
  Signature s(fileOf("t.xml"), &tsa);
  ASSERT_EQ(s.rc, 0) << s.reportText();
  SignaturePropertiesXml unanalysed(nullptr, s.setup, s.signature);
  const std::string before = s.text();
  try {
    unanalysed.makeArchiveForm(nullptr);
    ADD_FAILURE() << "no invariant failure";
  } catch (const TalException& e) {
    ADD_FAILURE() << "a result code: " << e.getCode();
  } catch (const std::runtime_error& e) {
    const std::string text = e.what();
    EXPECT_EQ(0u, text.find("Naruszenie niezmiennika: XML/libxmlsignature/signaturepropertiesxml(")) << text;
    EXPECT_NE(std::string::npos, text.find("), warunek: runningDigest != NULL")) << text;
  }
  EXPECT_EQ(0, tsa.asked);
  EXPECT_EQ(s.text(), before);
}

// Where the unsigned signature properties come from: found, completed, or
// made with their ds:Object, QualifyingProperties and (when missing) an Id
// on ds:Signature; every element in the right namespace whatever prefixes
// the document binds. Taken back, the document is as it was.
TEST(XadesWriter, UnsignedPropertiesFoundOrCreated) {
  const std::string DS = "xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\"",
                    XA = "xmlns:xades=\"http://uri.etsi.org/01903/v1.3.2#\"";
  const struct {
    const char* name;
    std::string doc;
    size_t created;     // elements made
    const char* id;     // ds:Signature's Id after (pattern)
    const char* path;   // local names from ds:Signature to the properties
  } rows[] = {
      {"all there", "<ds:Signature " + DS + " Id=\"S\"><ds:Object><xades:QualifyingProperties " + XA +
                        " Target=\"#S\"><xades:UnsignedProperties><xades:UnsignedSignatureProperties/>"
                        "</xades:UnsignedProperties></xades:QualifyingProperties></ds:Object></ds:Signature>",
       0, "S", "Object/QualifyingProperties/UnsignedProperties/UnsignedSignatureProperties"},
      {"no unsigned signature properties", "<ds:Signature " + DS + " Id=\"S\"><ds:Object><xades:QualifyingProperties " +
                        XA + " Target=\"#S\"><xades:UnsignedProperties/></xades:QualifyingProperties></ds:Object>"
                        "</ds:Signature>",
       1, "S", "Object/QualifyingProperties/UnsignedProperties/UnsignedSignatureProperties"},
      {"no unsigned properties", "<ds:Signature " + DS + " Id=\"S\"><ds:Object><q:QualifyingProperties "
                        "xmlns:q=\"http://uri.etsi.org/01903/v1.3.2#\" Target=\"#S\"><q:SignedProperties/>"
                        "</q:QualifyingProperties></ds:Object></ds:Signature>",
       2, "S", "Object/QualifyingProperties/UnsignedProperties/UnsignedSignatureProperties"},
      {"no properties, an Id", "<ds:Signature " + DS + " Id=\"S\"><ds:SignedInfo/></ds:Signature>", 3, "S",
       "Object/QualifyingProperties/UnsignedProperties/UnsignedSignatureProperties"},
      {"no properties, no Id", "<ds:Signature " + DS + "><ds:SignedInfo/></ds:Signature>", 3, "Sgn_[0-9]+_[0-9]+",
       "Object/QualifyingProperties/UnsignedProperties/UnsignedSignatureProperties"},
      {"default namespace", "<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignedInfo/></Signature>", 3,
       "Sgn_[0-9]+_[0-9]+", "Object/QualifyingProperties/UnsignedProperties/UnsignedSignatureProperties"},
      {"xades bound to another namespace",
       "<ds:Signature " + DS + " xmlns:xades=\"http://uri.etsi.org/01903/v1.4.1#\"><ds:SignedInfo/></ds:Signature>", 3,
       "Sgn_[0-9]+_[0-9]+", "Object/QualifyingProperties/UnsignedProperties/UnsignedSignatureProperties"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ParsedDoc doc(row.doc);
    ASSERT_EQ(doc.rc, 0);
    const std::string before = serialised(doc.holder.doc);
    XmlUniqueIds ids;
    XadesUndo undo;
    xmlNodePtr found = findOrCreateUnsignedSignatureProperties(ids, doc.holder.root, undo);
    std::string path;
    for (xmlNodePtr n = found; n && n != doc.holder.root; n = n->parent) {
      const std::string_view ns = xmlStrEqual(n->name, BAD_CAST "Object") ? xmlc::NS_DSIG : xmlc::NS_XADES;
      EXPECT_STREQ(reinterpret_cast<const char*>(nodeNamespaceUri(n)), std::string(ns).c_str()) << n->name;
      path = std::string(reinterpret_cast<const char*>(n->name)) + (path.empty() ? "" : "/") + path;
    }
    EXPECT_EQ(path, row.path);
    const std::string id = propOf(doc.holder.root, "Id");
    EXPECT_TRUE(std::regex_match(id, std::regex(row.id))) << id;
    EXPECT_EQ(propOf(found->parent->parent, "Target"), "#" + id);
    EXPECT_EQ(serialised(doc.holder.doc) == before, row.created == 0);
    undo.rollback();
    EXPECT_EQ(serialised(doc.holder.doc), before);
  }
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// Values are written where a reader of the signature finds them: in the
// QualifyingProperties the signature's parser read (the first element of a
// ds:Object), in an UnsignedSignatureProperties that is the first child of
// UnsignedProperties (a reader looks at nothing else there, and the schema
// puts it before UnsignedDataObjectProperties). One a reader would pass over
// is refused, the document as it was.
TEST(XadesWriter, ValuesWhereAReaderFindsThem) {
  GenShData collected;
  const std::string bes = fileOf("bes.xml"), XA = "xmlns:xades=\"http://uri.etsi.org/01903/v1.3.2#\"",
                    emptyUsp = "<xades:UnsignedSignatureProperties/>",
                    dataObject = "<xades:UnsignedDataObjectProperties><xades:UnsignedDataObjectProperty/>"
                                 "</xades:UnsignedDataObjectProperties>";
  const struct {
    const char* name;
    std::string doc;
    int32_t code;
    int32_t form;  // read again after
  } rows[] = {
      {"as made", bes, 0, SIG_FORM_XL},
      {"unsigned data object properties only", replaced(bes, emptyUsp, dataObject), 0, SIG_FORM_XL},
      {"unsigned signature properties after the data object ones", replaced(bes, emptyUsp, dataObject + emptyUsp),
       89, SIG_FORM_BES},
      {"a QualifyingProperties before, not first in its ds:Object",
       replaced(bes, "</ds:KeyInfo>",
                "</ds:KeyInfo><ds:Object><ds:Manifest/><xades:QualifyingProperties " + XA +
                    " Target=\"#sig\"><xades:UnsignedProperties>" + emptyUsp +
                    "</xades:UnsignedProperties></xades:QualifyingProperties></ds:Object>"),
       0, SIG_FORM_XL},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Signature s(row.doc);
    ASSERT_EQ(s.rc, 0) << s.reportText();
    ASSERT_EQ(s.props->form, SIG_FORM_BES);
    const std::string before = s.text();
    EXPECT_EQ(s.props->addValues(collected.data), row.code);
    if (row.code != 0) { EXPECT_EQ(s.text(), before); }
    Signature again(s.text());
    ASSERT_EQ(again.rc, 0) << again.reportText();
    EXPECT_EQ(again.props->form, row.form);
  }
}

// References or values written after an archive time-stamp would change the
// data that time-stamp covers (a reader takes every reference and value
// property before the earlier archive time-stamps), so it would never verify
// again: refused, the document as it was.
TEST(XadesWriter, NothingCoveredWrittenAfterAnArchiveTimeStamp) {
  GenShData collected;
  Authority tsa;
  Signature archived(fileOf("bes.xml"), &tsa);
  ASSERT_EQ(archived.rc, 0);
  ASSERT_EQ(archived.props->makeArchiveForm(nullptr), 0) << archived.reportText();
  for (bool refs : {true, false}) {
    SCOPED_TRACE(refs ? "references" : "values");
    Signature s(archived.text());
    ASSERT_EQ(s.rc, 0) << s.reportText();
    ASSERT_EQ(s.props->form, SIG_FORM_BES) << "no values yet";
    const std::string before = s.text();
    EXPECT_EQ(refs ? s.props->addCompleteRefs(collected.data) : s.props->addValues(collected.data), 89);
    EXPECT_EQ(s.text(), before);
  }
}

// The archive data of a new time-stamp over the X-L document is what gen.sh
// stamped as ats1 (the referenced data xmlsec1 digested, then the other
// elements canonicalised by xmllint): the authority is asked for exactly
// that digest, and gen.sh's token over it is embedded.
TEST(XadesWriter, ArchiveDataAsGenShStampedIt) {
  std::string asked;
  Signature s(fileOf("xl.xml"), nullptr, [&](talCtx*, const std::string& digest, int32_t, ArchiveTimeStampTokens& out) {
    asked = digest;
    EXPECT_TRUE(appendToken(fileOf("ats1.der"), 4, out));
    return 0;
  });
  ASSERT_EQ(s.rc, 0) << s.reportText();
  EXPECT_EQ(s.props->makeArchiveForm(nullptr), 0) << s.reportText();
  EXPECT_EQ(asked, fileOf("ats1.sha256"));
}

// Allocation failures while a signature is extended: whichever allocation
// fails, the document is left as it was (nothing created stays linked in it)
// and nothing leaks.
TEST(XadesWriterAllocation, EveryFailureLeavesTheDocumentAsItWas) {
  ValidationData data;
  data.path.certificates.items.push_back(decoded<SignedCertificate>(fileOf("signer.der")));
  data.path.revocations.items.push_back(
      new CrlOrOcspValue(decoded<SignedCertRevList>(dataFile("pki/certs/crl_v1.der")), nullptr, 1));
  ParsedDoc doc("<ds:Signature xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\"><ds:SignedInfo/></ds:Signature>");
  ASSERT_EQ(doc.rc, 0);
  const std::string before = serialised(doc.holder.doc);
  XmlUniqueIds ids;
  bool done = false;
  for (long failAt = 1; !done && failAt < 100000; ++failAt) {
    SCOPED_TRACE(failAt);
    g_count = 0;
    g_failAt = failAt;
    try {
      XadesUndo undo;
      xmlNodePtr usp = findOrCreateUnsignedSignatureProperties(ids, doc.holder.root, undo);
      writeCompleteRefs(usp, ids, 3, data, undo);
      writeValues(usp, ids, nullptr, data, undo);
      undo.commit();
      done = true;
    } catch (const TalApiException& e) {
      EXPECT_EQ(e.getCode(), 100);
    } catch (const std::exception&) {
      // bad_alloc, or the digest's own report of it
    }
    g_failAt = 0;
    if (!done) { ASSERT_EQ(serialised(doc.holder.doc), before); }
  }
  EXPECT_TRUE(done);
  EXPECT_NE(serialised(doc.holder.doc), before);
}

// The archive step over the X-L document with gen.sh's token over its data:
// a failure anywhere, the token's hand-over included, answers a code and
// leaves the document as it was.
TEST(XadesWriterAllocation, ArchiveFailuresLeaveTheDocumentAsItWas) {
  const std::string token = fileOf("ats1.der");
  Signature s(fileOf("xl.xml"), nullptr, [&](talCtx*, const std::string&, int32_t, ArchiveTimeStampTokens& out) {
    return appendToken(token, 4, out) ? 0 : 100;
  });
  ASSERT_EQ(s.rc, 0);
  xmlDocPtr doc = s.doc.holder.doc;
  // The process-wide table of digest identifiers is built before any failure.
  const ASNobjectId* oid = nullptr;
  int length = 0;
  ASSERT_TRUE(digestTypeToOid(3, &oid, &length));
  const std::string before = serialised(doc);
  int32_t rc = -1;
  for (long failAt = 1; rc != 0 && failAt < 100000; ++failAt) {
    SCOPED_TRACE(failAt);
    g_count = 0;
    g_failAt = failAt;
    try {
      rc = s.props->makeArchiveForm(nullptr);
    } catch (const std::exception&) {
      // the digest's own report of the failure
    }
    g_failAt = 0;
    if (rc != 0) { ASSERT_EQ(serialised(doc), before); }
  }
  EXPECT_EQ(rc, 0);
}

// Names are written as XML text only when they are characters XML can
// carry: a certificate whose issuer (a UTF8String) holds bytes that are not
// UTF-8, or a character XML forbids, is refused (89) rather than written
// into a document that would read back otherwise or not at all.
TEST(XadesWriter, NamesXmlCannotCarryAreRefused) {
  const std::string signer = fileOf("signer.der"), ca = "XAdES Test CA";
  const struct {
    const char* name;
    std::string cn;  // the issuer's common name, as many octets as the original
    int32_t code;
    const char* written;
  } rows[] = {
      {"UTF-8", "\xC5\x81" "dES Test CA", 0, "CN=\xC5\x81" "dES Test CA,O=Fixtures,C=PL"},
      {"not UTF-8", "\xFF" "AdES Test CA", 89, nullptr},
      {"U+FFFE", "\xEF\xBF\xBE" "ES Test CA", 89, nullptr},
      // Lead bytes libxml2's xmlGetUTF8Char reads as a two-octet character.
      {"a continuation octet first", "\x88\xAF" "dES Test CA", 89, nullptr},
      {"an overlong form", "\xC1\x81" "dES Test CA", 89, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(row.cn.size(), ca.size());
    ValidationData data;
    data.path.certificates.items.push_back(decoded<SignedCertificate>(replaced(signer, ca, row.cn)));
    Signature s(fileOf("t.xml"));
    ASSERT_EQ(s.rc, 0);
    const std::string before = s.text();
    XadesUndo undo;
    const int32_t code = codeOf([&] { writeCompleteRefs(usp(s.doc.holder.root), s.ids, SHA256, data, undo); });
    EXPECT_EQ(code, row.code);
    if (code == 0) undo.commit();
    else undo.rollback();
    if (!row.written) {
      EXPECT_EQ(s.text(), before);
      continue;
    }
    ParsedDoc again(s.text());
    ASSERT_EQ(again.rc, 0);
    const std::vector<std::string> l = leaves(usp(again.holder.root));
    EXPECT_EQ(std::count(l.begin(), l.end(), std::string("X509IssuerName  ") + row.written), 1);
  }
}

// A serial number or time that a reader would read back as another value, or
// refuse (and with it the whole signature), is not written: 89, the document
// as it was. A serial a reader reads back as written still is.
TEST(XadesWriter, NumbersAndTimesAReaderWouldNotReadBack) {
  const std::string crlDer = dataFile("pki/certs/crl_v1.der");
  // A GeneralizedTime of the year 0000, as a stranger's CRL may carry it.
  const std::string year0 = std::string("\x18\x0F", 2) + "00000101000000Z";
  const struct {
    const char* name;
    std::vector<unsigned char> serial;  // the content octets; empty: the certificate's own
    bool crlOfYear0;
    int32_t code;
  } rows[] = {
      {"as issued", {}, false, 0},
      {"a long positive serial", std::vector<unsigned char>(400, 0x7F), false, 0},
      {"a negative serial", {0xFF, 0x01}, false, 89},
      {"a serial longer than a reader reads", std::vector<unsigned char>(500, 0x7F), false, 89},
      {"a CRL issued in the year 0", {}, true, 89},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ValidationData data;
    SignedCertificate* cert = decoded<SignedCertificate>(fileOf("signer.der"));
    data.path.certificates.items.push_back(cert);
    if (!row.serial.empty()) {
      ASSERT_GT(cert->tbsCertificate.serialNumber.set(row.serial.data(), static_cast<int>(row.serial.size())), 0);
    }
    SignedCertRevList* crl = decoded<SignedCertRevList>(crlDer);
    data.path.revocations.items.push_back(new CrlOrOcspValue(crl, nullptr, 1));
    if (row.crlOfYear0) {
      std::unique_ptr<X509time> t(decoded<X509time>(year0));
      ASSERT_EQ(t->year, 0);
      crl->tbsCertList.thisUpdate = *t;
    }
    Signature s(fileOf("t.xml"));
    ASSERT_EQ(s.rc, 0);
    const std::string before = s.text();
    EXPECT_EQ(s.props->addCompleteRefs(data), row.code);
    if (row.code != 0) {
      EXPECT_EQ(s.text(), before);
      continue;
    }
    Signature again(s.text());
    EXPECT_EQ(again.rc, 0) << again.reportText();
  }
}

// A CRL without a number gets no Number; with CRLs only there are no OCSP
// lists; a hash without a digest-method URI writes nothing.
TEST(XadesWriter, CrlWithoutNumberAndCrlsOnly) {
  ValidationData data;
  const std::string crl = dataFile("pki/certs/crl_v1.der");
  data.path.revocations.items.push_back(new CrlOrOcspValue(decoded<SignedCertRevList>(crl), nullptr, 1));
  Signature s(fileOf("t.xml"));
  ASSERT_EQ(s.rc, 0);
  xmlNodePtr properties = usp(s.doc.holder.root);
  XadesUndo undo;
  EXPECT_EQ(codeOf([&] { writeCompleteRefs(properties, s.ids, 6, data, undo); }), xmlrc::NOT_IMPL);
  writeCompleteRefs(properties, s.ids, SHA256, data, undo);
  writeValues(properties, s.ids, nullptr, data, undo);
  undo.commit();
  EXPECT_EQ(xadesChild(properties, xmlc::XADES_COMPLETE_CERTIFICATE_REFS), nullptr) << "no certificate: no list";
  EXPECT_EQ(xadesChild(properties, xmlc::XADES_CERTIFICATE_VALUES), nullptr);
  xmlNodePtr refs = xadesChild(properties, xmlc::XADES_COMPLETE_REVOCATION_REFS);
  ASSERT_NE(refs, nullptr);
  EXPECT_NE(xadesChild(refs, xmlc::XADES_CRL_REFS), nullptr);
  EXPECT_EQ(xadesChild(refs, xmlc::XADES_OCSP_REFS), nullptr);
  const std::vector<std::string> l = leaves(refs);
  ASSERT_EQ(l.size(), 4u);
  EXPECT_EQ(l[1], "DigestValue  " + sha256Base64(crl));
  EXPECT_EQ(l[2], "Issuer  CN=RSA CA,O=Test,C=PL");
  EXPECT_EQ(l[3].substr(0, 9), "IssueTime");
  xmlNodePtr values = xadesChild(properties, xmlc::XADES_REVOCATION_VALUES);
  EXPECT_NE(xadesChild(values, xmlc::XADES_CRL_VALUES), nullptr);
  EXPECT_EQ(xadesChild(values, xmlc::XADES_OCSP_VALUES), nullptr);
}

}  // namespace
