// Recipient certificate search over certificates made with openssl
// (tests/data/store/recip/gen.sh): the real certificate manager and path
// builder with the openssl CA as the trust point, a verification double that
// judges the certificates' own dates and a list of revoked serial numbers,
// and a network double.
#include "store/recipients.h"

#include "base/memfile.h"
#include "base/reportstream.h"
#include "pki/x509/cert.h"
#include "store/certmgr.h"
#include "store/fakecrtdb.h"
#include "store/pathbuild.h"
#include "store/pathverify.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes readFile(const std::string& name) {
  std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/store/recip/" + name, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

std::shared_ptr<SignedCertificate> load(const std::string& name) {
  Bytes der = readFile(name + ".der");
  auto c = std::make_shared<SignedCertificate>();
  EXPECT_EQ(static_cast<int>(der.size()), c->decodeVector(der)) << name;
  return c;
}

// A text as the report writes it.
std::string reported(const char* text) {
  MemFile f;
  ReportStream r(&f);
  r << text;
  return std::string(reinterpret_cast<const char*>(f.data()), f.size());
}

struct BuildEnv : PathBuildEnvironment {
  std::shared_ptr<SignedCertificate> ca;
  void rootList(bool qualified, std::vector<const SignedCertificate*>& out) override {
    if (!qualified && ca) out.push_back(ca.get());
  }
};

struct Ctx : RecipientContext {
  FakeDb db;
  CertificateManager mgr;
  LCertificateStore store;
  BuildEnv env;
  MemFile text;
  ReportStream rep{&text};
  PathBuilder builder{mgr, env, rep};
  std::map<std::string, std::shared_ptr<SignedCertificate>> certs;
  std::map<int, int32_t> options;
  std::set<long> revoked;  // serial numbers
  X509time at;             // the verification time
  int forcedBuild = -1, forcedVerify = -1;
  // Item states the verification double writes (index 0 the end certificate).
  std::vector<uint32_t> revocationStates;
  uint32_t policyResult = 0;
  // Network double: the base DNs and the certificates every server answers.
  std::vector<std::string> bases;
  std::vector<std::string> served;
  std::vector<std::string> queries;
  int queryResult = 0;
  int64_t lastSearch = 0, clock = 1000000;
  std::vector<std::string> recorded;
  int remembered = 0;
  uint32_t flags = 0;

  Ctx() {
    mgr.setContext(&db);
    mgr.addTemporaryStore(&store);
    env.ca = get("ca");
    at.set(2030, 6, 1, 0, 0, 0);
  }
  std::shared_ptr<SignedCertificate> get(const std::string& name) {
    auto& c = certs[name];
    if (!c) c = load(name);
    return c;
  }
  void inStore(std::initializer_list<const char*> names) {
    for (const char* n : names) store.addCertificate(get(n).get());
  }
  std::string name(const SignedCertificate& c) {
    for (auto& kv : certs)
      if (*kv.second == c) return kv.first;
    return "?";
  }
  std::string reportText() { return std::string(reinterpret_cast<const char*>(text.data()), text.size()); }

  ReportStream& report() override { return rep; }
  CertificateManager& certificates() override { return mgr; }
  int buildPath(CertificatePath& path, const SignedCertificate& c) override {
    if (forcedBuild >= 0) return forcedBuild;
    return builder.buildPathForCertificate(path, c, PATH_PURPOSE_SIGNER, false);
  }
  int verifyPath(CertificatePath& path) override {
    bool failed = false;
    int i = 0;
    for (POSITION p = path.GetHeadPosition(); p; ++i) {
      CertificateItem* item = path.GetNext(p);
      const TBSCertificate& tbs = item->certificate->tbsCertificate;
      const int v = tbs.checkValidity(at);
      const long serial = long(tbs.serialNumber.toLong());
      item->wwc = v < 0 ? WWC_NOT_YET_VALID : v > 0 ? WWC_EXPIRED
                  : revoked.count(serial) ? WWC_REVOKED : WWC_OK;
      if (size_t(i) < revocationStates.size()) item->revocationState = revocationStates[size_t(i)];
      failed = failed || item->wwc != WWC_OK;
    }
    path.policyResult = policyResult;
    if (forcedVerify >= 0) return forcedVerify;
    return failed ? PATH_RESULT_FAILED : PATH_RESULT_OK;
  }
  int32_t option(int n) override { return options.count(n) ? options[n] : 0; }
  void certificateServerBases(std::vector<std::string>& out) override { out = bases; }
  int queryByEmail(const std::string& base, const std::string& address, FetchedCertificates& out,
                   int32_t) override {
    queries.push_back(base + "|" + address);
    return serve(out);
  }
  int queryByDn(const DistinguishedName&, FetchedCertificates& out) override {
    queries.push_back("dn");
    return serve(out);
  }
  int serve(FetchedCertificates& out) {
    if (queryResult != 0) return queryResult;
    for (auto& n : served) out.emplace_back(new SignedCertificate(*get(n)));
    return 0;
  }
  int64_t lastNetworkSearch(const std::string&) override { return lastSearch; }
  void recordNetworkSearch(const std::string& a) override { recorded.push_back(a); }
  int64_t now() override { return clock; }
  void rememberCertificate(const SignedCertificate&) override { ++remembered; }
  uint32_t& warningFlags() override { return flags; }
};

Bytes addressBytes(const std::string& a) {
  Bytes b(a.begin(), a.end());
  b.push_back(0);
  return b;
}

void putLength(Bytes& b, uint32_t n) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(n >> (8 * i)));
}

// Descriptors of a length-prefixed value (kinds 3, 4, 6).
Bytes lengthDescriptor(uint8_t kind, const Bytes& value, uint32_t announced) {
  Bytes b{0, kind};
  putLength(b, announced);
  b.insert(b.end(), value.begin(), value.end());
  return b;
}
Bytes lengthDescriptor(uint8_t kind, const Bytes& value) {
  return lengthDescriptor(kind, value, uint32_t(value.size()));
}

Bytes textBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes bobSubjectText() {
  Bytes t = readFile("bob-subject.txt");
  while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
  return t;
}

Bytes issuerSubjectDescriptor(const std::string& issuer, const Bytes& subject) {
  Bytes b{0, 5};
  putLength(b, uint32_t(issuer.size()));
  putLength(b, uint32_t(subject.size()));
  b.insert(b.end(), issuer.begin(), issuer.end());
  b.insert(b.end(), subject.begin(), subject.end());
  return b;
}

Bytes fieldsDescriptor(std::initializer_list<std::pair<char, std::string>> fields) {
  Bytes b{0, 2};
  for (auto& f : fields) {
    b.push_back(uint8_t(f.first));
    b.push_back(uint8_t(f.second.size()));
    b.insert(b.end(), f.second.begin(), f.second.end());
  }
  b.push_back(0);
  return b;
}

std::vector<std::string> endNames(Ctx& ctx, const RecipientPaths& paths) {
  std::vector<std::string> out;
  for (auto& p : paths) out.push_back(ctx.name(p->GetHead()->certificate));
  return out;
}

using Names = std::vector<std::string>;

// An address looked up in the local stores: encryption certificates only,
// refused ones narrated with their code, the valid ones kept.
TEST(Recipients, AddressSearchKeepsValidEncryptionCertificates) {
  struct Row {
    std::vector<const char*> store;
    const char* address;
    int result;
    Names kept;
    std::vector<std::string> lines;
  };
  const Row rows[] = {
      {{"alice-sig", "alice-enc", "bob-enc"}, "alice@example.com", RECIP_OK, {"alice-enc"},
       {"Liczba certyfikatów znaleziona w lokalnej bazie danych: 1\r\n",
        "Certyfikat korespondenta jest ważny.\r\n\r\n"}},
      {{"alice-sig"}, "Alice@Example.com", RECIP_NO_VALID_CERTIFICATE, {},
       {"Liczba certyfikatów znaleziona w lokalnej bazie danych: 0\r\n",
        "Nie znaleziono ważnego certyfikatu klucza szyfrującego dla adresu sieciowego "
        "Alice@Example.com\r\n"}},
      {{"carol-expired"}, "carol@example.com", RECIP_NO_VALID_CERTIFICATE, {},
       {"Certyfikat korespondenta jest nieważny: 64.\r\n\r\n"}},
      {{"dave-revoked"}, "dave@example.com", RECIP_NO_VALID_CERTIFICATE, {},
       {"Certyfikat korespondenta jest nieważny: 68.\r\n\r\n",
        "Nie znaleziono ważnego certyfikatu klucza szyfrującego dla adresu sieciowego "
        "dave@example.com\r\n"}},
      {{"dave-revoked", "dave-second"}, "dave@example.com", RECIP_OK, {"dave-second"},
       {"nieważny: 68.\r\n\r\n", "jest ważny.\r\n\r\n"}},
      {{"bob-enc"}, "bob@example.com", RECIP_NO_VALID_CERTIFICATE, {}, {}},
  };
  for (const Row& row : rows) {
    Ctx ctx;
    for (const char* n : row.store) ctx.inStore({n});
    ctx.revoked.insert(105);
    RecipientPaths paths;
    Bytes a = addressBytes(row.address);
    EXPECT_EQ(row.result, findRecipientCertificates(ctx, a.data(), a.size(), paths, nullptr))
        << row.address;
    EXPECT_EQ(row.kept, endNames(ctx, paths)) << row.address;
    const std::string r = ctx.reportText();
    EXPECT_EQ(0u, r.find(reported("Szukam certyfikatu klucza szyfrującego dla adresu sieciowego: ") +
                         row.address + "\r\n"));
    for (auto& l : row.lines)
      EXPECT_NE(std::string::npos, r.find(reported(l.c_str()))) << row.address << ": " << l;
    // Kept paths end at the openssl CA.
    for (auto& p : paths) EXPECT_EQ("ca", ctx.name(p->GetTail()->certificate));
  }
}

// The codes of building and verification as recipient results; the first
// item not valid decides, and a verification that found no path or failed
// without saying why never passes.
TEST(Recipients, BuildAndVerifyCodesMapped) {
  struct Row {
    int build, verify;
    std::set<long> revoked;
    uint32_t policy;
    int result;
  };
  const Row rows[] = {
      {1, -1, {}, 0, RECIP_NO_MEMORY},
      {2, -1, {}, 0, RECIP_DATABASE_ERROR},
      {10, -1, {}, 0, RECIP_NO_PATH},
      {14, -1, {}, 0, 14},
      {-1, 0, {}, 0, RECIP_OK},
      {-1, 1, {}, 0, RECIP_NO_MEMORY},
      {-1, 2, {}, 0, RECIP_DATABASE_ERROR},
      {-1, 9, {}, 0, RECIP_DEVICE_ERROR},
      {-1, 10, {}, 0, RECIP_NO_PATH},
      {-1, 3, {}, 0, RECIP_PATH_ERROR},
      {-1, 8, {}, 0, RECIP_PATH_ERROR},
      {-1, 11, {101}, 0, RECIP_REVOKED},
      {-1, 11, {1}, 0, RECIP_REVOKED},  // the CA
      {-1, 11, {}, 1, RECIP_NO_POLICY},
      {-1, 11, {}, 2, RECIP_PATH_ERROR},
      {-1, 11, {}, 0, RECIP_PATH_ERROR},
  };
  for (const Row& row : rows) {
    Ctx ctx;
    ctx.forcedBuild = row.build;
    ctx.forcedVerify = row.verify;
    ctx.revoked = row.revoked;
    ctx.policyResult = row.policy;
    CertificatePath path;
    EXPECT_EQ(row.result, buildRecipientCertificatePath(ctx, *ctx.get("alice-enc"), path))
        << row.build << " " << row.verify << " " << row.policy;
    EXPECT_EQ(0u, ctx.reportText().find(reported("Budowa scieżki certyfikacji dla certyfikatu:\r\n")));
  }
  // Each item state that decides, by the verification time.
  struct Dated {
    int year;
    const char* cert;
    int result;
  };
  for (const Dated& d : {Dated{2000, "alice-enc", RECIP_NOT_YET_VALID},
                         Dated{2030, "carol-expired", RECIP_EXPIRED}}) {
    Ctx ctx;
    ctx.at.set(d.year, 6, 1, 0, 0, 0);
    CertificatePath path;
    EXPECT_EQ(d.result, buildRecipientCertificatePath(ctx, *ctx.get(d.cert), path)) << d.cert;
  }
}

// A failure other than a refusal ends the candidate run with its code.
TEST(Recipients, ErrorStopsCandidateRun) {
  Ctx ctx;
  ctx.forcedBuild = 2;
  CertificateList list;
  appendCopy(list, *ctx.get("alice-enc"));
  appendCopy(list, *ctx.get("bob-enc"));
  RecipientPaths paths;
  EXPECT_EQ(RECIP_DATABASE_ERROR, buildRecipientPath(ctx, list, paths));
  const std::string r = ctx.reportText();
  EXPECT_NE(std::string::npos, r.find(reported("Błąd funkcji buildRecipientPath: 158.\r\n\r\n")));
  EXPECT_EQ(r.find("Budowa"), r.rfind("Budowa"));  // the second candidate was not tried
  CertificateList none;
  EXPECT_EQ(RECIP_NO_VALID_CERTIFICATE, buildRecipientPath(ctx, none, paths));
}

// Descriptors well formed and broken: every length is checked against the
// bytes given, and a value must decode in exactly its length.
TEST(Recipients, DescriptorParsing) {
  Ctx ctx;
  Bytes certDer = readFile("bob-enc.der");
  Bytes nameDer;
  ASSERT_GT(ctx.get("bob-enc")->tbsCertificate.subject.encodeVector(nameDer), 0);
  const DistinguishedName& bob = ctx.get("bob-enc")->tbsCertificate.subject;
  Bytes longer = certDer;
  longer.push_back(0);
  Bytes cut = lengthDescriptor(4, certDer);
  cut.pop_back();
  struct Row {
    const char* what;
    Bytes data;
    int result;
    size_t consumed;
  };
  Bytes fields = fieldsDescriptor({{'c', "PL"}, {'o', "Recip Test"}, {'n', "Bob"}});
  const Row rows[] = {
      {"fields", fields, RECIP_OK, fields.size() - 1},
      {"der name", lengthDescriptor(3, nameDer), RECIP_OK, nameDer.size() + 6},
      {"certificate", lengthDescriptor(4, certDer), RECIP_OK, certDer.size() + 6},
      {"text name", lengthDescriptor(6, bobSubjectText()), RECIP_OK, bobSubjectText().size() + 6},
      {"issuer and subject", issuerSubjectDescriptor("C=PL,O=Recip Test,CN=Recip CA", bobSubjectText()),
       RECIP_OK, 10 + 29 + bobSubjectText().size()},
      {"kind 1", Bytes{0, 1, 0, 0, 0, 0}, RECIP_BAD_PARAMETER, 0},
      {"kind 7", Bytes{0, 7, 0, 0, 0, 0}, RECIP_BAD_PARAMETER, 0},
      {"no zero byte", Bytes{1, 3, 0, 0, 0, 0}, RECIP_BAD_PARAMETER, 0},
      {"one byte", Bytes{0}, RECIP_BAD_PARAMETER, 0},
      {"certificate cut", cut, RECIP_BAD_PARAMETER, 0},
      {"certificate with a byte more", lengthDescriptor(4, longer), RECIP_BAD_PARAMETER, 0},
      {"length far past the end", lengthDescriptor(3, nameDer, 0xffffffffu), RECIP_BAD_PARAMETER, 0},
      {"length header cut", Bytes{0, 6, 5, 0}, RECIP_BAD_PARAMETER, 0},
      {"empty der name", lengthDescriptor(3, Bytes{}), RECIP_BAD_PARAMETER, 0},
      {"name text not a name", lengthDescriptor(6, textBytes("no name here")), RECIP_BAD_PARAMETER, 0},
      {"issuer length past the end", issuerSubjectDescriptor("C=PL", Bytes{}), RECIP_BAD_PARAMETER, 0},
      {"field past the end", Bytes{0, 2, 'n', 9, 'B', 'o', 'b'}, RECIP_BAD_PARAMETER, 0},
      {"fields not closed", Bytes{0, 2, 'n', 3, 'B', 'o', 'b'}, RECIP_BAD_PARAMETER, 0},
      {"unknown field code", Bytes{0, 2, 'Z', 1, 'x', 0}, RECIP_BAD_PARAMETER, 0},
  };
  for (const Row& row : rows) {
    RecipientDescriptor d;
    EXPECT_EQ(row.result, parseRecipientDescriptor(row.data.data(), row.data.size(), d)) << row.what;
    if (row.result != RECIP_OK) continue;
    EXPECT_EQ(row.consumed, d.consumed) << row.what;
    if (d.kind == 4)
      EXPECT_TRUE(*d.certificate == *ctx.get("bob-enc"));
    else
      EXPECT_TRUE(d.subject == bob) << row.what;
    if (d.kind == 5) { EXPECT_TRUE(d.issuer == ctx.get("ca")->tbsCertificate.subject); }
  }
  // A value over 129 bytes: only its first 129 are used, the whole is consumed.
  std::string big(200, 'x');
  Bytes b = fieldsDescriptor({{'d', big}});
  RecipientDescriptor d;
  ASSERT_EQ(RECIP_OK, parseRecipientDescriptor(b.data(), b.size(), d));
  EXPECT_EQ(size_t(204), d.consumed);
  Bytes text;
  d.subject.encodeVector(text);
  EXPECT_NE(std::string::npos, std::string(text.begin(), text.end()).find(std::string(129, 'x')));
  EXPECT_EQ(std::string::npos, std::string(text.begin(), text.end()).find(std::string(130, 'x')));
}

// A certificate descriptor whose certificate is signed over a TBS that is not
// DER (openssl verifies it: tests/data/pki/certs/gen_explicit.sh): the
// certificate keeps the octets given and verifies under its issuer.
TEST(Recipients, CertificateDescriptorSignedOverNonDer) {
  auto pki = [](const std::string& name) {
    std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/pki/certs/" + name, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  };
  const struct {
    const char* file;
    const char* issuer;
  } rows[] = {{"v1_explicit.der", "rsa_ca.der"}, {"critical_false.der", "critical_false.der"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.file);
    const Bytes der = pki(row.file), issuerDer = pki(row.issuer);
    ASSERT_FALSE(der.empty());
    RecipientDescriptor d;
    const Bytes descriptor = lengthDescriptor(4, der);
    ASSERT_EQ(RECIP_OK, parseRecipientDescriptor(descriptor.data(), descriptor.size(), d));
    ASSERT_TRUE(d.certificate);
    Bytes back;
    ASSERT_LT(0, d.certificate->encodeVector(back));
    EXPECT_EQ(der, back);
    SignedCertificate issuer;
    ASSERT_EQ(static_cast<int>(issuerDer.size()),
              issuer.decodeVector(issuerDer, ASN_FLAG_CONST | ASN_FLAG_COPY));
    EXPECT_EQ(SignedCertificate::CERT_SIG_VALID, d.certificate->verifySignature(issuer));
  }
}

// Descriptors looked up by subject (kind 5 keeps only the issuer's) or taken
// as they are (kind 4), with the consumed length reported.
TEST(Recipients, DescriptorSearch) {
  struct Row {
    const char* what;
    Bytes data;
    int result;
    Names kept;
  };
  Bytes certDer = readFile("alice-sig.der");
  const Row rows[] = {
      {"text name", lengthDescriptor(6, bobSubjectText()), RECIP_OK, {"bob-enc"}},
      {"fields", fieldsDescriptor({{'c', "PL"}, {'o', "Recip Test"}, {'n', "Bob"}}), RECIP_OK, {"bob-enc"}},
      {"issuer kept", issuerSubjectDescriptor("C=PL,O=Recip Test,CN=Recip CA", bobSubjectText()),
       RECIP_OK, {"bob-enc"}},
      {"other issuer", issuerSubjectDescriptor("C=PL,O=Other,CN=Other CA", bobSubjectText()),
       RECIP_NO_VALID_CERTIFICATE, {}},
      // Not looked up, so no key-usage filter either.
      {"certificate", lengthDescriptor(4, certDer), RECIP_OK, {"alice-sig"}},
  };
  for (const Row& row : rows) {
    Ctx ctx;
    ctx.inStore({"bob-enc", "alice-enc"});
    ctx.get("alice-sig");  // named in the results
    RecipientPaths paths;
    size_t used = 0;
    EXPECT_EQ(row.result, findRecipientCertificates(ctx, row.data.data(), row.data.size(), paths, &used))
        << row.what;
    EXPECT_EQ(row.kept, endNames(ctx, paths)) << row.what;
    EXPECT_GT(used, 0u) << row.what;
    if (row.data[1] != 4) {
      EXPECT_NE(std::string::npos,
                ctx.reportText().find(reported("Szukam certyfikatu klucza szyfrującego dla użytkownika:\r\n")));
    }
    if (row.result == RECIP_NO_VALID_CERTIFICATE) {
      EXPECT_NE(std::string::npos,
                ctx.reportText().find(reported(
                    "Nie znaleziono ważnego certyfikatu klucza szyfrującego dla danego użytkownika\r\n")));
    }
  }
  Ctx ctx;
  RecipientPaths paths;
  size_t used = 0;
  Bytes a = addressBytes("alice@example.com");
  EXPECT_THROW(findRecipientCertificates(ctx, a.data(), a.size(), paths, &used), std::runtime_error);
}

// The certificate servers: each base DN once, one copy of a certificate two
// servers return, the network search recorded and its certificates kept.
TEST(Recipients, NetworkSearch) {
  Ctx ctx;
  ctx.options[RECIP_OPT_NETWORK_SEARCH] = 1;
  ctx.options[RECIP_OPT_SEARCH_INTERVAL] = 60;
  ctx.bases = {"o=Recip", "O=RECIP", "o=second"};
  ctx.served = {"alice-enc"};
  RecipientPaths paths;
  Bytes a = addressBytes("alice@example.com");
  EXPECT_EQ(RECIP_OK, findRecipientCertificates(ctx, a.data(), a.size(), paths, nullptr));
  EXPECT_EQ((Names{"alice-enc"}), endNames(ctx, paths));
  EXPECT_EQ((std::vector<std::string>{"o=Recip|alice@example.com", "o=second|alice@example.com"}),
            ctx.queries);
  const std::string r = ctx.reportText();
  EXPECT_NE(std::string::npos, r.find(reported("Szukam certyfikatów na serwerze sieciowym\r\n")));
  EXPECT_NE(std::string::npos,
            r.find(reported("Szukam certyfikatu w sieciowej bazie danych:\r\n\to=Recip\r\n")));
  EXPECT_NE(std::string::npos, r.find("Certyfikaty pobrane. Liczba: 1(0x1)\r\n"));
  EXPECT_NE(std::string::npos,
            r.find(reported("Pobrany certyfikat jest już na liście. Numer seryjny: ") + "101"));
  EXPECT_NE(std::string::npos, r.find("Certyfikaty poprawnie pobrane\r\n"));
  EXPECT_EQ(1, ctx.remembered);
  EXPECT_EQ((std::vector<std::string>{"alice@example.com"}), ctx.recorded);

  // Option 18 keeps the time unrecorded; no option 6, no network at all.
  Ctx quiet;
  quiet.options = {{RECIP_OPT_NETWORK_SEARCH, 1}, {RECIP_OPT_SEARCH_INTERVAL, 1},
                   {RECIP_OPT_NO_SEARCH_RECORD, 1}};
  quiet.bases = {"o=Recip"};
  RecipientPaths p2;
  EXPECT_EQ(RECIP_NO_VALID_CERTIFICATE, findRecipientCertificates(quiet, a.data(), a.size(), p2, nullptr));
  EXPECT_EQ(1u, quiet.queries.size());
  EXPECT_TRUE(quiet.recorded.empty());
  Ctx off;
  off.bases = {"o=Recip"};
  EXPECT_EQ(RECIP_NO_VALID_CERTIFICATE, findRecipientCertificates(off, a.data(), a.size(), p2, nullptr));
  EXPECT_TRUE(off.queries.empty());

  // Out of memory in the network manager.
  Ctx full;
  full.options[RECIP_OPT_NETWORK_SEARCH] = 1;
  full.bases = {"o=Recip"};
  full.queryResult = 1;
  EXPECT_EQ(RECIP_NO_MEMORY, findRecipientCertificates(full, a.data(), a.size(), p2, nullptr));
}

// A valid local certificate ends the search unless the last network search
// is older than option 32 allows; a subject search asks by name; kind 5
// keeps only the issuer's fetched certificates.
TEST(Recipients, NetworkRefreshAndSubjects) {
  struct Row {
    int32_t interval;
    int64_t last;
    size_t queries;
  };
  for (const Row& row : {Row{0, 0, 0}, Row{60, 1000000 - 100, 1}, Row{60, 1000000 - 10, 0}}) {
    Ctx ctx;
    ctx.inStore({"alice-enc"});
    ctx.options = {{RECIP_OPT_NETWORK_SEARCH, 1}, {RECIP_OPT_SEARCH_INTERVAL, row.interval}};
    ctx.lastSearch = row.last;
    ctx.bases = {"o=Recip"};
    ctx.served = {"alice-enc"};
    RecipientPaths paths;
    Bytes a = addressBytes("alice@example.com");
    EXPECT_EQ(RECIP_OK, findRecipientCertificates(ctx, a.data(), a.size(), paths, nullptr));
    EXPECT_EQ(row.queries, ctx.queries.size()) << row.interval << " " << row.last;
  }
  struct Subject {
    std::string issuer;
    int result;
    int remembered;
  };
  for (const Subject& s : {Subject{"C=PL,O=Recip Test,CN=Recip CA", RECIP_OK, 1},
                           Subject{"C=PL,O=Other,CN=Other CA", RECIP_NO_VALID_CERTIFICATE, 0}}) {
    Ctx ctx;
    ctx.options[RECIP_OPT_NETWORK_SEARCH] = 1;
    ctx.bases = {"o=Recip"};
    ctx.served = {"bob-enc"};
    Bytes d = issuerSubjectDescriptor(s.issuer, bobSubjectText());
    RecipientPaths paths;
    size_t used = 0;
    EXPECT_EQ(s.result, findRecipientCertificates(ctx, d.data(), d.size(), paths, &used)) << s.issuer;
    EXPECT_EQ((std::vector<std::string>{"dn"}), ctx.queries);
    EXPECT_EQ(s.remembered, ctx.remembered);
  }
}

// The time the database gives for the last network search may be anything:
// one far in the future neither overflows nor forces a search.
TEST(Recipients, LastSearchTimeFromDatabase) {
  for (int64_t last : {int64_t(INT64_MAX), int64_t(INT64_MAX - 30), int64_t(1000000 - 61)}) {
    Ctx ctx;
    ctx.inStore({"alice-enc"});
    ctx.options = {{RECIP_OPT_NETWORK_SEARCH, 1}, {RECIP_OPT_SEARCH_INTERVAL, 60}};
    ctx.lastSearch = last;
    ctx.bases = {"o=Recip"};
    RecipientPaths paths;
    Bytes a = addressBytes("alice@example.com");
    EXPECT_EQ(RECIP_OK, findRecipientCertificates(ctx, a.data(), a.size(), paths, nullptr));
    EXPECT_EQ(last < 1000000 ? 1u : 0u, ctx.queries.size()) << last;
  }
}

// A refresh from the network that fetches the certificate already found
// locally must not give the recipient a second path to the same key.
TEST(Recipients, RefreshKeepsOnePathPerCertificate) {
  Ctx ctx;
  ctx.inStore({"alice-enc"});
  ctx.options = {{RECIP_OPT_NETWORK_SEARCH, 1}, {RECIP_OPT_SEARCH_INTERVAL, 60}};
  ctx.lastSearch = 1000000 - 100;
  ctx.bases = {"o=Recip"};
  ctx.served = {"alice-enc", "dave-second"};
  RecipientPaths paths;
  Bytes a = addressBytes("alice@example.com");
  EXPECT_EQ(RECIP_OK, findRecipientCertificates(ctx, a.data(), a.size(), paths, nullptr));
  EXPECT_EQ(1u, ctx.queries.size());
  EXPECT_EQ((Names{"alice-enc", "dave-second"}), endNames(ctx, paths));
  EXPECT_EQ(2, ctx.remembered);
}

// A certificate that two stores hold is one candidate: it gets one path and
// one verdict, and an existing path for it counts as found.
TEST(Recipients, CertificateInTwoStoresVerifiedOnce) {
  Ctx ctx;
  LCertificateStore second;
  ctx.mgr.addTemporaryStore(&second);
  ctx.inStore({"alice-enc"});
  second.addCertificate(ctx.get("alice-enc").get());
  RecipientPaths paths;
  Bytes a = addressBytes("alice@example.com");
  EXPECT_EQ(RECIP_OK, findRecipientCertificates(ctx, a.data(), a.size(), paths, nullptr));
  EXPECT_EQ((Names{"alice-enc"}), endNames(ctx, paths));
  const std::string r = ctx.reportText();
  const std::string valid = reported("Certyfikat korespondenta jest ważny.\r\n\r\n");
  ASSERT_NE(std::string::npos, r.find(valid));
  EXPECT_EQ(std::string::npos, r.find(valid, r.find(valid) + 1));

  CertificateList again;
  ASSERT_TRUE(appendCopy(again, *ctx.get("alice-enc")));
  EXPECT_EQ(RECIP_OK, buildRecipientPath(ctx, again, paths));
  EXPECT_EQ(1u, paths.size());
}

// Whole recipient lists, text and binary.
TEST(Recipients, AllRecipients) {
  struct Row {
    const char* what;
    Bytes list;
    int32_t skipFailed;
    int result;
    std::vector<Names> kept;
    uint32_t flags;
  };
  auto text = [](const std::string& s) { return addressBytes(s); };
  Bytes run = lengthDescriptor(6, bobSubjectText());
  Bytes cert = lengthDescriptor(4, readFile("alice-enc.der"));
  run.insert(run.end(), cert.begin(), cert.end());
  Bytes fields = fieldsDescriptor({{'n', "Bob"}, {'o', "Recip Test"}});
  Bytes closed = run;
  closed.insert(closed.end(), {0, 0});
  // A kind-2 descriptor's closing byte starts the next one.
  Bytes badMiddle{0, 9, 0, 0, 0, 0};
  badMiddle.insert(badMiddle.end(), closed.begin(), closed.end());
  Bytes shared = fieldsDescriptor({{'c', "PL"}, {'o', "Recip Test"}, {'n', "Bob"}});
  shared.push_back(0);
  const Row rows[] = {
      {"two addresses", text(" alice@example.com ,, dave@example.com"), 0, RECIP_OK,
       {{"alice-enc"}, {"dave-second"}}, 0},
      {"unknown stops the run", text("alice@example.com,nobody@example.com,dave@example.com"), 0,
       RECIP_NO_VALID_CERTIFICATE, {}, 0},
      {"unknown skipped", text("alice@example.com,nobody@example.com,dave@example.com"), 1,
       RECIP_WARNINGS, {{"alice-enc"}, {}, {"dave-second"}}, RECIP_WARN_SKIPPED},
      {"nobody at all", text("nobody@example.com"), 1, RECIP_NO_VALID_CERTIFICATE, {}, RECIP_WARN_SKIPPED},
      {"empty items only", text(" , ,"), 0, RECIP_NO_VALID_CERTIFICATE, {}, 0},
      {"address too long", text(std::string(MAX_RECIPIENT_ADDRESS + 1, 'a')), 1, RECIP_BAD_PARAMETER, {}, 0},
      {"descriptors", closed, 0, RECIP_OK, {{"bob-enc"}, {"alice-enc"}}, 0},
      {"fields then end", shared, 0, RECIP_OK, {{"bob-enc"}}, 0},
      {"descriptors not closed", run, 0, RECIP_BAD_PARAMETER, {}, 0},
      // A descriptor that does not decode has no known end: the run cannot go on.
      {"bad descriptor skipped", badMiddle, 1, RECIP_BAD_PARAMETER, {}, 0},
      {"empty", Bytes{}, 0, RECIP_NO_VALID_CERTIFICATE, {}, 0},
  };
  for (const Row& row : rows) {
    Ctx ctx;
    ctx.inStore({"alice-enc", "bob-enc", "dave-revoked", "dave-second"});
    ctx.revoked.insert(105);
    ctx.options[RECIP_OPT_SKIP_FAILED] = row.skipFailed;
    std::vector<RecipientPaths> out;
    EXPECT_EQ(row.result, findAllRecipientCertificates(out, row.list.data(), row.list.size(), ctx))
        << row.what;
    std::vector<Names> kept;
    for (auto& paths : out) kept.push_back(endNames(ctx, paths));
    if (row.result <= RECIP_WARNINGS) { EXPECT_EQ(row.kept, kept) << row.what; }
    EXPECT_EQ(row.flags, ctx.flags) << row.what;
  }
  (void)fields;
}

// Warnings about the revocation data of the chosen paths.
TEST(Recipients, PathWarnings) {
  struct Row {
    std::vector<uint32_t> states;  // end certificate, CA
    uint32_t flags;
    std::vector<const char*> lines;
  };
  const char* const noCrl = "Brak listy CRL lub odpowiedzi OCSP przy weryfikacji ścieżki adresata !!!";
  const char* const noArl = "Brak listy ARL lub odpowiedzi OCSP przy weryfikacji ścieżki adresata !!!";
  const char* const oldCrl =
      "Przeterminowana lista CRL lub odpowiedź OCSP przy weryfikacji ścieżki adresata !!!";
  const char* const oldArl =
      "Przeterminowana lista ARL lub odpowiedź OCSP przy weryfikacji ścieżki adresata !!!";
  const Row rows[] = {
      {{1, 1}, 0, {}},
      {{2, 1}, 0x1, {noCrl}},
      {{1, 2}, 0x2, {noArl}},
      {{3, 6}, 0x4 | 0x8, {oldCrl, oldArl}},
      {{6, 2}, 0x4 | 0x2, {oldCrl, noArl}},
      {{4, 5}, 0, {}},
  };
  for (const Row& row : rows) {
    Ctx ctx;
    ctx.inStore({"alice-enc"});
    ctx.revocationStates = row.states;
    std::vector<RecipientPaths> out;
    Bytes a = addressBytes("alice@example.com");
    ASSERT_EQ(RECIP_OK, findAllRecipientCertificates(out, a.data(), a.size(), ctx));
    EXPECT_EQ(row.flags, ctx.flags);
    const std::string r = ctx.reportText();
    size_t from = 0;
    for (const char* l : row.lines) {
      std::string line = reported(l) + reported(" - ostrzeżenie o ścieżce zbudowanej dla: ");
      size_t at = r.find(line, from);
      ASSERT_NE(std::string::npos, at) << l;
      from = at + line.size();
      EXPECT_NE(std::string::npos, r.find("Alice", from));
    }
    EXPECT_EQ(std::string::npos, r.find("!!!", from));
  }
}

}  // namespace
