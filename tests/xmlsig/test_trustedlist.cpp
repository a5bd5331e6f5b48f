// The trusted-list reader over lists made by tests/data/store/tl/make_tl.sh
// (ETSI element names, certificates written by OpenSSL): every service's type,
// status, supply points, subject and certificate octets against what the script
// wrote; the indexes; one format fault per list with its text; hostile
// documents; the registry by operator name.
#include "xmlsig/trustedlist.h"
#include "threadtime.h"

#include "base/b64file.h"
#include "base/talexception.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string tlFile(const std::string& name) {
  std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/store/tl/" + name, std::ios::binary);
  if (!in) throw std::runtime_error("missing fixture " + name);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The exception a load throws: its code and text (code 0 when none).
struct Fault {
  int32_t code = 0;
  std::string text;
};
Fault load(TrustedList& list, const std::string& bytes) {
  Fault f;
  try {
    list.loadFromMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  } catch (const TalApiException& e) {
    f.code = e.getCode();
    f.text = e.what();
  }
  return f;
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string item;
  std::istringstream in(s);
  while (std::getline(in, item, sep)) out.push_back(item);
  if (!s.empty() && s.back() == sep) out.push_back("");
  return out;
}

const char* const NOT_XML = "Plik wejściowy nie jest dokumentem XML";

TEST(TrustedList, MainListAgainstTheScriptsManifest) {
  TrustedList list;
  ASSERT_EQ(0, load(list, tlFile("main.xml")).code);
  ASSERT_NE(nullptr, list.schemeInformation());
  ASSERT_NE(nullptr, list.providerList());
  // Rows: type|status|certificate file or -|subject|supply points|index
  std::istringstream manifest(tlFile("expected.txt"));
  std::string line;
  size_t i = 0;
  std::vector<const TrustedService*> byIndex[4];
  const char* const INDEXES[4] = {"capkc", "caqc", "tsa", "ocsp"};
  for (; std::getline(manifest, line); ++i) {
    SCOPED_TRACE(line);
    std::vector<std::string> f = split(line, '|');
    ASSERT_EQ(6u, f.size());
    ASSERT_LT(i, list.services().size());
    const TrustedService& s = *list.services()[i];
    EXPECT_EQ(std::stoi(f[0]), s.type);
    EXPECT_EQ(std::stoi(f[1]), s.status);
    if (f[2] == "-") {
      EXPECT_TRUE(s.der.empty());
      EXPECT_EQ(nullptr, s.certificate);
    } else {
      EXPECT_EQ(tlFile(f[2] + ".der"), s.der);
      ASSERT_NE(nullptr, s.certificate);
      SignedCertificate expected;
      std::string der = tlFile(f[2] + ".der");
      ASSERT_EQ(static_cast<int>(der.size()),
                expected.decodeBuffer(reinterpret_cast<const unsigned char*>(der.data()),
                                      static_cast<int>(der.size())));
      EXPECT_TRUE(expected == *s.certificate);
    }
    EXPECT_EQ(f[3], s.subjectName);
    EXPECT_EQ(f[4].empty() ? std::vector<std::string>() : split(f[4], ','), s.supplyPoints);
    for (int k = 0; k < 4; ++k)
      if (f[5] == INDEXES[k]) byIndex[k].push_back(&s);
  }
  EXPECT_EQ(i, list.services().size()) << "services beyond the manifest";
  EXPECT_EQ(byIndex[0], list.caPkcServices());
  EXPECT_EQ(byIndex[1], list.caQcServices());
  EXPECT_EQ(byIndex[2], list.tsaServices());
  EXPECT_EQ(byIndex[3], list.ocspServices());

  ASSERT_NE(nullptr, list.getSchemeOperatorName(TrustedList::LANG_PL));
  EXPECT_STREQ("Minister Cyfryzacji", list.getSchemeOperatorName(TrustedList::LANG_PL));
  EXPECT_STREQ("Ministry of Digital Affairs", list.getSchemeOperatorName(TrustedList::LANG_EN));
  EXPECT_EQ(nullptr, list.getSchemeOperatorName(2));
  EXPECT_EQ(nullptr, list.getSchemeOperatorName(-1));
}

// One fault per list, after one good service: the text, and the records read
// before it (the faulty service's record was appended already).
TEST(TrustedList, FormatFaultsKeepWhatWasRead) {
  struct Row {
    const char* file;
    const char* text;
    size_t records;
    size_t indexed;  // CA/QC services kept in the index
  } rows[] = {
      {"bad_cert.xml", "Niepoprawny format certyfikatu", 2, 1},
      {"bad_cert_trailing.xml", "Niepoprawny format certyfikatu", 2, 1},
      {"bad_b64.xml", "Błąd dekodowania B64 certyfikatu", 2, 1},
      {"bad_type.xml", "Niepoprawny typ usługi", 2, 1},
      {"bad_type_blanks.xml", "Niepoprawny typ usługi", 2, 1},
      {"bad_status.xml", "Niepoprawny status certyfikatu", 2, 1},
      {"bad_no_type.xml", "Brak elementu ServiceTypeIdentifier", 2, 1},
      {"bad_no_status.xml", "Brak elementu ServiceStatus", 2, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.file);
    TrustedList list;
    Fault f = load(list, tlFile(r.file));
    EXPECT_EQ(tslrc::INV_TSL_FORMAT, f.code);
    EXPECT_EQ(r.text, f.text);
    EXPECT_EQ(r.records, list.services().size());
    EXPECT_EQ(r.indexed, list.caQcServices().size());
    EXPECT_TRUE(list.caPkcServices().empty()) << "a faulty service is never indexed";
  }
}

std::string nested(int depth) {
  std::string open, close;
  for (int i = 0; i < depth; ++i) {
    open += "<a>";
    close += "</a>";
  }
  return "<TrustServiceStatusList>" + open + close + "</TrustServiceStatusList>";
}

std::string laughs() {
  std::string d = "<!DOCTYPE TrustServiceStatusList [<!ENTITY l0 \"lollollollol\">";
  for (int i = 1; i < 12; ++i)
    d += "<!ENTITY l" + std::to_string(i) + " \"" +
         std::string("&l") + std::to_string(i - 1) + ";&l" + std::to_string(i - 1) + ";&l" +
         std::to_string(i - 1) + ";&l" + std::to_string(i - 1) + ";&l" + std::to_string(i - 1) +
         ";&l" + std::to_string(i - 1) + ";&l" + std::to_string(i - 1) + ";&l" +
         std::to_string(i - 1) + ";&l" + std::to_string(i - 1) + ";&l" + std::to_string(i - 1) +
         ";\">";
  return d + "]><TrustServiceStatusList><SchemeInformation>&l11;</SchemeInformation>" +
         "</TrustServiceStatusList>";
}

std::string statusDoc(const std::string& type, const std::string& status) {
  return "<TrustServiceStatusList><TrustServiceProviderList><TrustServiceProvider><TSPServices>"
         "<TSPService><ServiceInformation><ServiceTypeIdentifier>" +
         type + "</ServiceTypeIdentifier><ServiceStatus>" + status +
         "</ServiceStatus></ServiceInformation></TSPService>"
         "</TSPServices></TrustServiceProvider></TrustServiceProviderList>"
         "</TrustServiceStatusList>";
}

// Documents that differ only in their bytes: refused with the parse text, or
// read with so many services; every one within a time bound.
TEST(TrustedList, DocumentsRefusedOrRead) {
  const std::string qc = "http://uri.etsi.org/TrstSvc/Svctype/CA/QC";
  const std::string accredited =
      "http://uri.etsi.org/TrstSvc/eSigDir-1999-93-EC-TrustedList/Svcstatus/accredited";
  struct Row {
    const char* name;
    std::string bytes;
    const char* text;  // nullptr: read
    size_t records;
  } rows[] = {
      {"empty", "", NOT_XML, 0},
      {"three octets", "<a>", NOT_XML, 0},
      {"not XML", "this is no list at all", NOT_XML, 0},
      {"unclosed", "<TrustServiceStatusList><SchemeInformation>", NOT_XML, 0},
      {"other root", "<TrustServiceStatusLis/>", "Niepoprawna nazwa elementu root", 0},
      {"a root of another name", "<x:TSL xmlns:x='urn:x'/>",
       "Niepoprawna nazwa elementu root", 0},
      {"root alone", "<TrustServiceStatusList/>", nullptr, 0},
      {"prefixed root", "<t:TrustServiceStatusList xmlns:t='http://uri.etsi.org/02231/v2#'/>",
       nullptr, 0},
      {"status with line breaks around it", statusDoc(qc, "\r\n\t  " + accredited + " \n"),
       nullptr, 1},
      {"status in CDATA", statusDoc(qc, "<![CDATA[" + accredited + "]]>"), nullptr, 1},
      {"status word cut short", statusDoc(qc, accredited.substr(0, accredited.size() - 1)),
       "Niepoprawny status certyfikatu", 1},
      {"status base alone", statusDoc(qc, accredited.substr(0, accredited.rfind('/') + 1)),
       "Niepoprawny status certyfikatu", 1},
      {"status with a word after it", statusDoc(qc, accredited + "x"),
       "Niepoprawny status certyfikatu", 1},
      {"type with a line break after it", statusDoc(qc + "\n", accredited),
       "Niepoprawny typ usługi", 1},
      {"type empty", statusDoc("", accredited), "Niepoprawny typ usługi", 1},
      {"type of the other host", statusDoc("https://uri.etsi.org/TrstSvc/Svctype/CA/QC", accredited),
       "Niepoprawny typ usługi", 1},
      {"entity expansion", laughs(), NOT_XML, 0},
      {"external entity",
       "<!DOCTYPE TrustServiceStatusList [<!ENTITY x SYSTEM 'file:///etc/passwd'>]>"
       "<TrustServiceStatusList><SchemeInformation>&x;</SchemeInformation>"
       "</TrustServiceStatusList>",
       NOT_XML, 0},
      {"external DTD",
       "<!DOCTYPE TrustServiceStatusList SYSTEM 'http://127.0.0.1:1/tsl.dtd'>"
       "<TrustServiceStatusList/>",
       nullptr, 0},
      {"deep", nested(100000), NOT_XML, 0},
      {"over the size cap",
       "<TrustServiceStatusList>" + std::string(XML_MAX_DOCUMENT_SIZE, ' ') +
           "</TrustServiceStatusList>",
       NOT_XML, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TrustedList list;
    const double start = threadSeconds();  // a busy machine does not stretch it
    Fault f = load(list, r.bytes);
    EXPECT_LT(threadSeconds() - start, 10.0);
    if (r.text) {
      EXPECT_EQ(tslrc::INV_TSL_FORMAT, f.code);
      EXPECT_EQ(r.text, f.text);
    } else {
      EXPECT_EQ(0, f.code) << f.text;
    }
    EXPECT_EQ(r.records, list.services().size());
  }
}

// Each identifier of the standard gives its number; near misses give none.
TEST(TrustedList, ServiceTypeAndStatusIdentifiers) {
  const std::string t = "http://uri.etsi.org/TrstSvc/Svctype/";
  struct Row {
    std::string uri;
    int32_t type;
  } types[] = {
      {t + "CA/PKC", 1},           {t + "CA/QC", 2},
      {t + "TSA", 3},              {t + "Certstatus/OCSP", 4},
      {t + "Certstatus/CRL", 5},   {t + "RA", 6},
      {t + "IdV", 7},              {t + "CGen", 8},
      {t + "ACA", 9},              {t + "Archiv", 10},
      {t + "REM", 11},             {t + "KEscrow", 12},
      {t + "PPwd", 13},            {"http://uri.etsi.org/02231/Svctype/SignaturePolicyAuthority", 14},
      {t + "supervision", 15},     {t + "voluntary", 16},
      {t + "TSLIssuer", 17},       {t + "unspecified", 18},
      {t + "Certstatus/OCSP/QC", 19}, {t + "Certstatus/CRL/QC", 20},
      {t + "CA/pkc", 0},           {t + "CA/QC/", 0},
      {t + "CA", 0},               {"http://uri.etsi.org/TrstSvc/Svctype/SignaturePolicyAuthority", 0},
      {"", 0},
  };
  for (const Row& r : types) EXPECT_EQ(r.type, trustedServiceTypeOf(r.uri)) << r.uri;

  const std::string s = "http://uri.etsi.org/TrstSvc/eSigDir-1999-93-EC-TrustedList/Svcstatus/";
  Row statuses[] = {
      {s + "undersupervision", 1},     {s + "supervisionincessation", 2},
      {s + "supervisionceased", 3},    {s + "supervisionrevoked", 4},
      {s + "accredited", 5},           {s + "accreditationceased", 6},
      {s + "accreditationrevoked", 7}, {" \t" + s + "accredited\r\n", 5},
      {s + "Accredited", 0},           {s + "accredited x", 0},
      {s, 0},                          {"accredited", 0},
      {"http://uri.etsi.org/TrstSvc/TrustedList/Svcstatus/granted", 0},
  };
  for (const Row& r : statuses) EXPECT_EQ(r.type, trustedServiceStatusOf(r.uri)) << r.uri;
}

// A later DigitalId replaces what an earlier one set, even when its
// certificate fails: the record never keeps the earlier certificate beside
// the later octets.
TEST(TrustedList, FailedLaterIdentityLeavesNoEarlierCertificate) {
  std::string der = tlFile("qc_ca.der");
  std::string b64(der.size() / 3 * 4 + 8, '\0');
  b64.resize(static_cast<size_t>(encodeBase64Buffer(der.data(), static_cast<int32_t>(der.size()),
                                                    &b64[0])));
  const std::string doc =
      "<TrustServiceStatusList><TrustServiceProviderList><TrustServiceProvider><TSPServices>"
      "<TSPService><ServiceInformation>"
      "<ServiceTypeIdentifier>http://uri.etsi.org/TrstSvc/Svctype/CA/QC</ServiceTypeIdentifier>"
      "<ServiceStatus>http://uri.etsi.org/TrstSvc/eSigDir-1999-93-EC-TrustedList/Svcstatus/"
      "accredited</ServiceStatus><ServiceDigitalIdentity>"
      "<DigitalId><X509Certificate>" + b64 + "</X509Certificate></DigitalId>"
      "<DigitalId><X509Certificate>MAMCAQU=</X509Certificate></DigitalId>"
      "</ServiceDigitalIdentity></ServiceInformation></TSPService>"
      "</TSPServices></TrustServiceProvider></TrustServiceProviderList></TrustServiceStatusList>";
  TrustedList list;
  Fault f = load(list, doc);
  EXPECT_EQ("Niepoprawny format certyfikatu", f.text);
  ASSERT_EQ(1u, list.services().size());
  EXPECT_EQ(nullptr, list.services()[0]->certificate);
  EXPECT_EQ(std::string("\x30\x03\x02\x01\x05", 5), list.services()[0]->der);
  EXPECT_TRUE(list.caQcServices().empty());
}

// A second load replaces the first whole: records, indexes and names.
TEST(TrustedList, ReloadReplacesEverything) {
  TrustedList list;
  ASSERT_EQ(0, load(list, tlFile("main.xml")).code);
  ASSERT_EQ(0, load(list, tlFile("en_only.xml")).code);
  EXPECT_EQ(1u, list.services().size());
  EXPECT_EQ(1u, list.caQcServices().size());
  EXPECT_TRUE(list.caPkcServices().empty());
  EXPECT_TRUE(list.ocspServices().empty());
  EXPECT_TRUE(list.tsaServices().empty());
  EXPECT_EQ(nullptr, list.getSchemeOperatorName(TrustedList::LANG_PL));
  EXPECT_STREQ("Operator EN", list.getSchemeOperatorName(TrustedList::LANG_EN));

  EXPECT_EQ(tslrc::INV_TSL_FORMAT, load(list, "no list").code);
  EXPECT_TRUE(list.services().empty());
  EXPECT_TRUE(list.caQcServices().empty());
  EXPECT_EQ(nullptr, list.rootElement());
  EXPECT_EQ(nullptr, list.getSchemeOperatorName(TrustedList::LANG_EN));
}

std::unique_ptr<TrustedList> loaded(const std::string& file) {
  auto list = std::make_unique<TrustedList>();
  EXPECT_EQ(0, load(*list, tlFile(file)).code) << file;
  return list;
}

TEST(TrustedListRegistry, KeyedByOperatorNameLaterReplaces) {
  TrustedListRegistry registry;
  EXPECT_EQ("Minister Cyfryzacji", registry.add(loaded("main.xml")));
  EXPECT_EQ("Operator EN", registry.add(loaded("en_only.xml")));
  auto second = loaded("main.xml");
  const TrustedList* secondPtr = second.get();
  EXPECT_EQ("Minister Cyfryzacji", registry.add(std::move(second)));
  EXPECT_EQ(2u, registry.lists().size());
  EXPECT_EQ(secondPtr, registry.find("Minister Cyfryzacji"));
  EXPECT_EQ(nullptr, registry.find("Ministry of Digital Affairs"));

  for (auto* list : {loaded("no_name.xml").release(), new TrustedList(),
                     static_cast<TrustedList*>(nullptr)}) {
    try {
      registry.add(std::unique_ptr<TrustedList>(list));
      ADD_FAILURE() << "registered without a name";
    } catch (const TalApiException& e) {
      EXPECT_EQ(tslrc::INV_TSL_FORMAT, e.getCode());
      EXPECT_STREQ("Brak nazwy operatora schematu", e.what());
    }
  }
  EXPECT_EQ(2u, registry.lists().size());
}

}  // namespace
