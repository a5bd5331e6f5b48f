#include "net/netmanager.h"

#include "asn1/asnint.h"
#include "base/memfile.h"
#include "base/reportstream.h"
#include "net/localhttp.h"
#include "net/localocsp.h"
#include "net/localslapd.h"
#include "platform/clock.h"
#include "pki/cms/tsp.h"
#include "pki/names/dname.h"
#include "pki/ocsp/ocspresp.h"
#include "pki/x509/cert.h"
#include "pki/x509/crl.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>

extern char** environ;

namespace {

std::string dataPath(const std::string& name)
{
  return std::string(TAL_TEST_DATA_DIR) + "/net/" + name;
}

std::vector<uint8_t> readData(const std::string& name)
{
  std::ifstream in(dataPath(name), std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string text(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

class TestSettings : public NetworkSettings {
 public:
  int32_t option(int32_t number) const override
  {
    auto it = options.find(number);
    return it == options.end() ? 0 : it->second;
  }
  void servers(int32_t kind, const DistinguishedName*, std::vector<std::string>& urls) const override
  {
    auto it = table.find(kind);
    if (it != table.end())
      urls.insert(urls.end(), it->second.begin(), it->second.end());
  }
  int64_t certificateCachePeriod() const override { return period; }
  std::map<int32_t, int32_t> options;
  std::map<int32_t, std::vector<std::string>> table;
  int64_t period = NET_CERTIFICATE_CACHE_SECONDS;
};

SignedCertificate loadCertificate(const char* name)
{
  SignedCertificate c;
  const std::vector<uint8_t> der = readData(name);
  EXPECT_EQ(static_cast<int>(der.size()), c.decodeVector(der, ASN_FLAG_CONST | ASN_FLAG_COPY));
  return c;
}

// Serves the fixtures: the CRL, a certificate, a time-stamp answer, and wrong answers.
LocalAnswer fixtures(const LocalRequest& r)
{
  const std::string p = r.path();
  LocalAnswer a;
  if (p == "/ca.crl")
    a.bytes = httpAnswer(200, "application/pkix-crl", text(readData("ca.crl")));
  else if (p == "/end.der")
    a.bytes = httpAnswer(200, "application/pkix-cert", text(readData("end.der")));
  else if (p == "/tsa" && r.head.find("Content-Type: application/timestamp-query\r\n") !=
                              std::string::npos)
    a.bytes = httpAnswer(200, "application/timestamp-reply", text(readData("ts.resp")));
  else if (p == "/tsa-html")
    a.bytes = httpAnswer(200, "text/html", text(readData("ts.resp")));
  else if (p == "/garbage")
    a.bytes = httpAnswer(200, "application/timestamp-reply", "not DER at all");
  else
    a.bytes = httpAnswer(404, "", "");
  return a;
}

TEST(NetworkManager, OptionsStopEveryQueryBeforeAnyConnection)
{
  LocalHttpServer server(fixtures);
  TestSettings settings;
  for (int32_t kind : {1, 2, 3, 4})
    settings.table[kind] = {server.url("/ca.crl")};
  NetworkManager manager(&settings);
  SignedCertificate ca = loadCertificate("ca.der");
  const DistinguishedName& issuer = ca.tbsCertificate.subject;
  const std::vector<uint8_t> request = readData("ocsp.req");

  struct Row {
    int32_t option;
    bool certificatesToo;  // option 16 leaves certificates and time-stamps alone
  };
  for (const Row row : {Row{18, true}, Row{16, false}}) {
    settings.options = {{row.option, 1}};
    MemFile sink;
    ReportStream report(&sink);
    CrlList crls;
    CertList certs;
    OCSPResponse ocsp;
    EXPECT_EQ(NET_CRL_NOT_FOUND, manager.queryForCRL(server.url("/ca.crl"), &issuer, crls, 0, &report));
    EXPECT_EQ(NET_CRL_NOT_FOUND, manager.queryForIssuerCrl(issuer, crls, nullptr, 0));
    EXPECT_EQ(NET_NO_SERVER, manager.queryForOcsp(server.url("/ocsp"), request, ocsp));
    EXPECT_EQ(NET_NO_SERVER, manager.findOcspServers(ca, ca, request, ocsp));
    EXPECT_FALSE(manager.canQueryNetwork(NET_SERVER_CRL, &issuer));
    EXPECT_FALSE(manager.canQueryNetwork(NET_SERVER_OCSP, &issuer));
    EXPECT_EQ(!row.certificatesToo, manager.canQueryNetwork(NET_SERVER_CERTIFICATES, &issuer));
    EXPECT_TRUE(crls.empty());
    const std::string said(reinterpret_cast<const char*>(sink.data()), sink.size());
    EXPECT_EQ(row.option == 18 ? "Praca sieciowa jest wy\xb3\xb9" "czona.\r\n"
                               : "Pobieranie list CRL/odpowiedzi OSCP z sieci jest wy\xb3\xb9" "czone.\r\n",
              said);
    if (row.certificatesToo) {
      ASNinteger serial;
      serial.set(1);
      TimeStampResponse ts;
      EXPECT_EQ(NET_NO_SERVER, manager.queryForCertificateById(issuer, serial, certs));
      EXPECT_EQ(NET_NO_SERVER, manager.queryForCertificatesByDn(issuer, certs));
      EXPECT_EQ(NET_NO_SERVER, manager.queryForTimeStamp(request.data(), request.size(), ts, 1));
    }
  }
  EXPECT_EQ(0, server.connections.load());
}

TEST(NetworkManager, CrlsOverHttpWithTheirCap)
{
  LocalHttpServer server(fixtures);
  TestSettings settings;
  NetworkManager manager(&settings);
  CrlList crls;
  ASSERT_EQ(NET_OK, manager.queryForCRL(server.url("/ca.crl"), nullptr, crls, 0, nullptr));
  ASSERT_EQ(1u, crls.size());
  SignedCertificate ca = loadCertificate("ca.der");
  EXPECT_TRUE(crls[0]->tbsCertList.issuer == ca.tbsCertificate.subject);

  EXPECT_EQ(NET_BAD_FORMAT, manager.queryForCRL(server.url("/garbage"), nullptr, crls, 0, nullptr));
  EXPECT_EQ(NET_NOT_FOUND, manager.queryForCRL(server.url("/none"), nullptr, crls, 0, nullptr));
  manager.setCrlCap(100);  // the fixture is larger
  EXPECT_EQ(NET_TOO_LARGE, manager.queryForCRL(server.url("/ca.crl"), nullptr, crls, 0, nullptr));
  manager.setCrlCap(NET_DEFAULT_CRL_CAP);

  // The issuer's servers in turn: a missing file, then the CRL.
  settings.table[NET_SERVER_CRL] = {server.url("/none"), server.url("/ca.crl")};
  crls.clear();
  EXPECT_TRUE(manager.canQueryNetwork(NET_SERVER_CRL, &ca.tbsCertificate.subject));
  EXPECT_EQ(NET_OK, manager.queryForIssuerCrl(ca.tbsCertificate.subject, crls, nullptr, 0));
  EXPECT_EQ(1u, crls.size());
  settings.table[NET_SERVER_CRL] = {server.url("/none")};
  EXPECT_EQ(NET_NOT_FOUND, manager.queryForIssuerCrl(ca.tbsCertificate.subject, crls, nullptr, 0));
}

// A configured LDAP URL whose host is no host name (a decoded blank) is a bad URL, not a lack of
// memory: the next server is still asked.
TEST(NetworkManager, LdapUrlWithAHostLibldapRefusesIsPassedOver)
{
  LocalHttpServer server(fixtures);
  TestSettings settings;
  NetworkManager manager(&settings);
  SignedCertificate ca = loadCertificate("ca.der");
  const std::string bad = "ldap://a%20b/c=PL";  // refused before any look-up or connection
  CrlList crls;
  EXPECT_EQ(NET_PROTOCOL, manager.queryForCRL(bad, nullptr, crls, 0, nullptr));
  settings.table[NET_SERVER_CRL] = {bad, server.url("/ca.crl")};
  EXPECT_EQ(NET_OK, manager.queryForIssuerCrl(ca.tbsCertificate.subject, crls, nullptr, 0));
  EXPECT_EQ(1u, crls.size());
}

TEST(NetworkManager, TimeStampAnswersByServerMask)
{
  LocalHttpServer server(fixtures);
  TestSettings settings;
  const std::string refused = "http://127.0.0.1:" + std::to_string(closedLocalPort()) + "/tsa";
  settings.table[NET_SERVER_TIMESTAMP] = {refused, server.url("/tsa"), server.url("/tsa-html"),
                                          server.url("/garbage")};
  NetworkManager manager(&settings);
  manager.setTimeoutMs(HANG_GUARD_MS);
  const std::vector<uint8_t> query = readData("ts.req");
  struct Row {
    uint32_t mask;
    int32_t expected;
  };
  const Row rows[] = {{1u << 0, NET_CONNECT_FAILED}, {1u << 1, NET_OK}, {3u, NET_OK},
                      {1u << 2, NET_BAD_FORMAT},     {1u << 3, NET_BAD_FORMAT},
                      {1u << 4, NET_NO_SERVER},      {0u, NET_NO_SERVER}};
  for (const Row& row : rows) {
    TimeStampResponse response;
    EXPECT_EQ(row.expected, manager.queryForTimeStamp(query.data(), query.size(), response, row.mask))
        << "mask " << row.mask;
    if (row.expected == NET_OK) {
      EXPECT_EQ(0u, response.status.status.toLong());  // granted
    }
  }
}

// The caller asks one server at a time and stops at 31; a server whose name does not resolve
// must not end the search before the next one is asked.
TEST(NetworkManager, TimeStampServerWithAnUnresolvableNameIsOneFailure)
{
  LocalHttpServer server(fixtures);
  TestSettings settings;
  settings.table[NET_SERVER_TIMESTAMP] = {"http://" + unresolvableHost() + "/tsa", server.url("/tsa")};
  NetworkManager manager(&settings);
  manager.setTimeoutMs(HANG_GUARD_MS);
  const std::vector<uint8_t> query = readData("ts.req");
  TimeStampResponse response;
  EXPECT_EQ(NET_CONNECT_FAILED, manager.queryForTimeStamp(query.data(), query.size(), response, 1u));
  EXPECT_EQ(NET_OK, manager.queryForTimeStamp(query.data(), query.size(), response, 2u));
  EXPECT_EQ(NET_NO_SERVER, manager.queryForTimeStamp(query.data(), query.size(), response, 4u));
}

TEST(NetworkManager, CertificateByNameOverHttpKeepsOnlyThatSubject)
{
  LocalHttpServer server(fixtures);
  TestSettings settings;
  settings.table[NET_SERVER_CERTIFICATES] = {server.url("/end.der")};
  NetworkManager manager(&settings);
  SignedCertificate end = loadCertificate("end.der");
  CertList certs;
  ASSERT_EQ(NET_OK, manager.queryForCertificatesByDn(end.tbsCertificate.subject, certs));
  ASSERT_EQ(1u, certs.size());
  EXPECT_TRUE(*certs[0] == end);
  certs.clear();
  ASSERT_EQ(NET_OK, manager.queryForCertificatesByDn(end.tbsCertificate.issuer, certs));
  EXPECT_TRUE(certs.empty());
}

TEST(NetworkManager, OcspFromTheOpensslResponder)
{
  LocalHttpServer responder(opensslOcspResponder("ocsp.pem", "ocsp.key"));
  TestSettings settings;
  const std::string refused = "http://127.0.0.1:" + std::to_string(closedLocalPort()) + "/";
  settings.table[NET_SERVER_OCSP] = {refused, responder.url("/")};
  NetworkManager manager(&settings);
  manager.setTimeoutMs(HANG_GUARD_MS);
  SignedCertificate ca = loadCertificate("ca.der");
  SignedCertificate end = loadCertificate("end.der");
  OCSPResponse response;
  ASSERT_EQ(NET_OK, manager.findOcspServers(end, ca, readData("ocsp.req"), response));
  EXPECT_EQ(0u, response.responseStatus.toLong());  // successful
  EXPECT_EQ(NET_CONNECT_FAILED, manager.queryForOcsp(refused, readData("ocsp.req"), response));
  EXPECT_EQ(NET_PROTOCOL, manager.queryForOcsp("ftp://127.0.0.1/", readData("ocsp.req"), response));
}

TEST(NetworkManager, TimeOutFromTheRegistry)
{
  char folder[] = "/tmp/talnetregXXXXXX";
  ASSERT_NE(nullptr, mkdtemp(folder));
  setenv(platform::REGISTRY_ROOT_VARIABLE, folder, 1);
  struct Row {
    platform::RegistryRoot root;
    uint32_t seconds;
    long expectedMs;
  };
  const Row rows[] = {{platform::RegistryRoot::LocalMachine, 9, 9000},
                      {platform::RegistryRoot::CurrentUser, 7, 7000},  // the user's wins
                      {platform::RegistryRoot::CurrentUser, 0, 9000},  // 0 is no value
                      {platform::RegistryRoot::CurrentUser, 999999, 3600000}};
  for (const Row& row : rows) {
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryStatus::Ok, key.create(row.root, NET_REGISTRY_KEY));
    const uint8_t le[4] = {static_cast<uint8_t>(row.seconds), static_cast<uint8_t>(row.seconds >> 8),
                           static_cast<uint8_t>(row.seconds >> 16), static_cast<uint8_t>(row.seconds >> 24)};
    ASSERT_EQ(platform::RegistryStatus::Ok,
              key.setValue(NET_TIMEOUT_VALUE, platform::REGISTRY_DWORD, le, sizeof le));
    NetworkManager manager;
    EXPECT_EQ(0, manager.init());
    EXPECT_EQ(row.expectedMs, manager.timeoutMs()) << row.seconds;
  }
  unsetenv(platform::REGISTRY_ROOT_VARIABLE);
  const std::string rm = std::string("rm -rf ") + folder;
  EXPECT_EQ(0, system(rm.c_str()));
}

TEST(CacheManager, RemovesOnlyMarkedCrlItems)
{
  CacheManager& cache = CacheManager::instance();
  const size_t before = cache.crlItemCount();
  cache.addCrlItem(std::unique_ptr<SignedCertRevList>(new SignedCertRevList()), true);
  cache.addCrlItem(std::unique_ptr<SignedCertRevList>(new SignedCertRevList()), false);
  cache.removeMarkedCrlItems();
  EXPECT_EQ(before + 1, cache.crlItemCount());
}

// A CRL query with a non-zero flag is answered by the network cache until the next
// verification drops what it marked; with flag 0 every query is fresh and nothing is kept.
TEST(CacheManager, CrlQueriesWithTheFlagAreKeptUntilTheMarkedItemsGo)
{
  std::atomic<int> asked{0};
  LocalHttpServer server([&](const LocalRequest& r) {
    ++asked;
    return fixtures(r);
  });
  TestSettings settings;
  NetworkManager manager(&settings);
  CacheManager& cache = CacheManager::instance();
  cache.removeMarkedCrlItems();
  const size_t before = cache.crlItemCount();
  const std::string url = server.url("/ca.crl");
  const struct {
    int32_t flag;
    int askedAfter;
    size_t keptAfter;
  } rows[] = {{1, 1, 1}, {1, 1, 1}, {0, 2, 1}, {0, 3, 1}};
  for (const auto& row : rows) {
    CrlList out;
    ASSERT_EQ(NET_OK, manager.queryForCRL(url, nullptr, out, row.flag, nullptr));
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(text(readData("ca.crl")), [&] {
      std::vector<uint8_t> der;
      out[0]->encodeVector(der);
      return text(der);
    }());
    EXPECT_EQ(row.askedAfter, asked.load()) << row.flag;
    EXPECT_EQ(before + row.keptAfter, cache.crlItemCount()) << row.flag;
  }
  cache.removeMarkedCrlItems();
  EXPECT_EQ(before, cache.crlItemCount());
  CrlList out;
  ASSERT_EQ(NET_OK, manager.queryForCRL(url, nullptr, out, 1, nullptr));
  EXPECT_EQ(4, asked.load()) << "asked again after the marked items went";
  // A CRL fetching switched off is not answered from the cache either.
  settings.options[NET_OPTION_NO_CRL_OCSP] = 1;
  CrlList off;
  EXPECT_EQ(NET_CRL_NOT_FOUND, manager.queryForCRL(url, nullptr, off, 1, nullptr));
  EXPECT_TRUE(off.empty());
  cache.removeMarkedCrlItems();
}

// The certificate query by name remembers what a query fetched, per name and server list, for
// the settings' period (the test clock moves across it); network work switched off answers
// nothing even then.
TEST(CacheManager, CertificatesByNameAreRememberedForThePeriod)
{
  std::atomic<int> asked{0};
  LocalHttpServer server([&](const LocalRequest& r) {
    ++asked;
    return fixtures(r);
  });
  const SignedCertificate end = loadCertificate("end.der");
  TestSettings settings;
  settings.table[NET_SERVER_CERTIFICATES] = {server.url("/end.der")};
  settings.period = 600;
  NetworkManager manager(&settings);
  const int64_t start = 2000000000;
  const struct {
    int64_t at;
    int askedAfter;
  } rows[] = {{start, 1}, {start + 1, 1}, {start + 599, 1}, {start + 600, 2}, {start + 601, 2},
              {start - 5, 3}};  // a clock that went back asks again
  for (const auto& row : rows) {
    platform::setTestTime(row.at);
    CertList out;
    EXPECT_EQ(NET_OK, manager.queryForCertificatesByDn(end.tbsCertificate.subject, out));
    ASSERT_EQ(1u, out.size()) << row.at;
    EXPECT_TRUE(*out[0] == end);
    EXPECT_EQ(row.askedAfter, asked.load()) << row.at - start;
  }
  // Another server list is another query.
  TestSettings other = settings;
  other.table[NET_SERVER_CERTIFICATES].push_back(server.url("/end.der?second"));
  NetworkManager second(&other);
  CertList twice;
  EXPECT_EQ(NET_OK, second.queryForCertificatesByDn(end.tbsCertificate.subject, twice));
  EXPECT_EQ(5, asked.load());
  settings.options[NET_OPTION_NO_NETWORK] = 1;
  CertList off;
  EXPECT_EQ(NET_NO_SERVER, manager.queryForCertificatesByDn(end.tbsCertificate.subject, off));
  EXPECT_TRUE(off.empty());
  platform::clearTestTime();
}

// queryForCertificates sends the query through the same cache when its parameter (option 22)
// is set: the answer stays after the directory is gone; without it the directory is asked.
TEST(CacheManager, MailQueriesGoThroughTheCacheWithTheParameter)
{
  TestSettings settings;
  NetworkManager manager(&settings);
  const std::string base = "o=Siec testowa,c=PL";
  size_t found = 0;
  {
    LocalSlapd slapd;
    ASSERT_NE(0, slapd.pid) << "slapd did not start";
    settings.table[NET_SERVER_CERTIFICATES] = {slapd.url(base)};
    for (int32_t parameter : {1, 0}) {
      CertList out;
      EXPECT_EQ(NET_OK, manager.queryForCertificates(base, "jan@siec.test", out, true, parameter));
      if (parameter) found = out.size();
      EXPECT_EQ(found, out.size());
    }
    ASSERT_GT(found, 0u);
  }
  for (int32_t parameter : {1, 0}) {
    CertList out;
    EXPECT_EQ(NET_OK, manager.queryForCertificates(base, "jan@siec.test", out, true, parameter));
    EXPECT_EQ(parameter ? found : 0u, out.size()) << parameter;
  }
}

}  // namespace
