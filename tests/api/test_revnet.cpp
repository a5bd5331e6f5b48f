// The revocation manager's network over the network manager: options 18 and
// 16 stop OCSP fetching, the certificate's own access locations included.
#include "api/revnet.h"

#include "base/memfile.h"
#include "net/localhttp.h"
#include "net/localocsp.h"
#include "store/revpath.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>

namespace {

class Settings : public NetworkSettings {
 public:
  std::map<int32_t, int32_t> options;
  int32_t option(int32_t number) const override {
    auto it = options.find(number);
    return it == options.end() ? 0 : it->second;
  }
  void servers(int32_t kind, const DistinguishedName*,
               std::vector<std::string>& urls) const override {
    auto it = table.find(kind);
    if (it != table.end()) urls.insert(urls.end(), it->second.begin(), it->second.end());
  }
  std::map<int32_t, std::vector<std::string>> table;
};

template <class T>
T load(const std::string& name, const char* folder = "/store/revoc/") {
  std::ifstream f(std::string(TAL_TEST_DATA_DIR) + folder + name, std::ios::binary);
  std::vector<unsigned char> der((std::istreambuf_iterator<char>(f)),
                                 std::istreambuf_iterator<char>());
  T x;
  EXPECT_EQ(static_cast<int>(der.size()), x.decodeVector(der)) << name;
  return x;
}

TEST(RevocationNetworkAdapter, OptionsStopOcspFetching) {
  const SignedCertificate user = load<SignedCertificate>("aia-user.der");
  const SignedCertificate ca = load<SignedCertificate>("aia-ca.der");
  const struct {
    int32_t noNetwork, noCrlOcsp;
    bool allowed;
  } cases[] = {{0, 0, true}, {1, 0, false}, {0, 1, false}, {1, 1, false}};
  for (const auto& c : cases) {
    Settings settings;
    settings.options[NET_OPTION_NO_NETWORK] = c.noNetwork;
    settings.options[NET_OPTION_NO_CRL_OCSP] = c.noCrlOcsp;
    NetworkManager manager(&settings);
    RevocationNetworkAdapter adapter(manager, &settings);
    EXPECT_EQ(c.allowed, adapter.ocspFetchAllowed()) << c.noNetwork << c.noCrlOcsp;
    // No configured server: only the access locations could be asked.
    EXPECT_FALSE(adapter.canQueryNetwork(NET_SERVER_OCSP, &ca.tbsCertificate.subject, nullptr));
    if (c.allowed) continue;
    // Stopped before any connection (the locations' hosts do not exist).
    FixedPathClock clock(user.tbsCertificate.validity.notBefore.toTime64(true) + 60);
    RevocationManager m(clock, nullptr);
    m.network = &adapter;
    RevocationArgs args;
    EXPECT_FALSE(m.findOcspResponse(user, ca, args));
    OCSPResponse answer;
    EXPECT_NE(0, adapter.queryForOcsp("http://ocsp-a.example/", {0x30, 0x00}, answer));
    // CRL queries are stopped the same way (16: fetching off).
    CrlList crls;
    EXPECT_EQ(16, adapter.queryForCrl("http://crl.example/ca.crl", ca.tbsCertificate.subject, crls,
                                      nullptr));
    EXPECT_EQ(16, adapter.queryForIssuerCrl(ca.tbsCertificate.subject, crls, nullptr));
    EXPECT_TRUE(crls.empty());
  }
}

// What was written into a report.
std::string textOf(const MemFile& sink) {
  return std::string(reinterpret_cast<const char*>(sink.data()),
                     static_cast<size_t>(sink.length()));
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Why nothing was fetched reaches the reports: the OCSP search's into the revocation manager's,
// the CRL fetches' (the issuer's CRL servers, a distribution point) into the path's. No server is
// configured and the hosts do not exist, so nothing is asked either way.
TEST(RevocationNetworkAdapter, OptionTextsReachTheReports) {
  const std::string off18 = "Praca sieciowa jest wyłączona.\r\n";
  const std::string off16 = "Pobieranie list CRL/odpowiedzi OSCP z sieci jest wyłączone.\r\n";
  const struct {
    const char* cert;
    const char* issuer;
    int32_t option;  // set to 1 (0: none)
    const std::string* text;
  } cases[] = {
      {"user.der", "ca.der", NET_OPTION_NO_NETWORK, &off18},
      {"user.der", "ca.der", NET_OPTION_NO_CRL_OCSP, &off16},
      {"dp-uri.der", "ca.der", NET_OPTION_NO_NETWORK, &off18},
      {"dp-uri.der", "ca.der", NET_OPTION_NO_CRL_OCSP, &off16},
      {"aia-user.der", "aia-ca.der", NET_OPTION_NO_NETWORK, &off18},
      {"aia-user.der", "aia-ca.der", NET_OPTION_NO_CRL_OCSP, &off16},
      {"user.der", "ca.der", 0, nullptr},
  };
  for (const auto& c : cases) {
    const std::string row = std::string(c.cert) + " option " + std::to_string(c.option);
    Settings settings;
    if (c.option) settings.options[c.option] = 1;
    NetworkManager network(&settings);
    RevocationNetworkAdapter adapter(network, &settings);
    const SignedCertificate cert = load<SignedCertificate>(c.cert);
    FixedPathClock clock(cert.tbsCertificate.validity.notBefore.toTime64(true) + 60);
    MemFile managerSink, pathSink;
    ReportStream managerReport(&managerSink), pathReport(&pathSink);
    RevocationManager manager(clock, &managerReport);
    manager.network = &adapter;
    ManagedRevocation managed(manager);
    PathVerification verification;
    verification.revocation = &managed;

    CertificateItem item, issuer;
    item.certificate = cert;
    issuer.certificate = load<SignedCertificate>(c.issuer);
    RevocationArgs args;
    EXPECT_EQ(0, verification.checkRevocation(item, issuer, args, true, PATH_PURPOSE_SIGNER,
                                              false, &pathReport, nullptr))
        << row;
    EXPECT_EQ(REVSTATE_NO_DATA, item.revocationState) << row;
    const std::string fromManager = textOf(managerSink), fromPath = textOf(pathSink);
    for (const std::string* text : {&off18, &off16}) {
      const size_t expected = text == c.text ? 1 : 0;
      EXPECT_EQ(expected, count(fromManager, *text)) << row << "\n" << fromManager;
      EXPECT_EQ(expected, count(fromPath, *text)) << row << "\n" << fromPath;
    }
  }
}

// The test CA of tests/data/net is the only trust point.
class TrustTheCa : public RevocationEnvironment {
 public:
  explicit TrustTheCa(const SignedCertificate& ca) : ca(ca) {}
  void trustPoints(bool qualified, std::vector<const SignedCertificate*>& out) override {
    if (!qualified) out.push_back(&ca);
  }
  const SignedCertificate& ca;
};

// The path verification's revocation step for one certificate, its evidence fetched by the
// revocation manager through the adapter: the CA's CRL from a local HTTP server, or an answer
// of openssl's OCSP responder (signing with the CA's key). The CA revoked "Jan Testowy" (03)
// and not "Test OCSP" (01).
TEST(RevocationNetworkAdapter, FetchedCrlAndOcspAnswerDecideTheStatus) {
  const SignedCertificate ca = load<SignedCertificate>("ca.der", "/net/");
  const SignedCertificate revoked = load<SignedCertificate>("end.der", "/net/");
  const SignedCertificate good = load<SignedCertificate>("ocsp.der", "/net/");

  LocalHttpServer crlServer([](const LocalRequest& r) {
    LocalAnswer a;
    std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/net/ca.crl", std::ios::binary);
    const std::string der((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    a.bytes = r.path() == "/ca.crl" ? httpAnswer(200, "application/pkix-crl", der)
                                    : httpAnswer(404, "", "");
    return a;
  });
  LocalHttpServer responder(opensslOcspResponder("ca.pem", "ca.key"));

  struct Case {
    const char* what;
    int32_t kind;  // the one kind of server configured
    std::string url;
    int32_t option;  // set to 1 (0: none)
    const SignedCertificate* cert;
    uint32_t wwc, state, source;
  };
  const Case cases[] = {
      {"crl", NET_SERVER_CRL, crlServer.url("/ca.crl"), 0, &revoked, WWC_REVOKED, REVSTATE_FOUND,
       REVSOURCE_CRL},
      {"crl", NET_SERVER_CRL, crlServer.url("/ca.crl"), 0, &good, WWC_OK, REVSTATE_FOUND,
       REVSOURCE_CRL},
      {"ocsp", NET_SERVER_OCSP, responder.url("/"), 0, &revoked, WWC_REVOKED, REVSTATE_FOUND,
       REVSOURCE_OCSP},
      {"ocsp", NET_SERVER_OCSP, responder.url("/"), 0, &good, WWC_OK, REVSTATE_FOUND,
       REVSOURCE_OCSP},
      {"crl, fetching off", NET_SERVER_CRL, crlServer.url("/ca.crl"), NET_OPTION_NO_CRL_OCSP,
       &revoked, WWC_OK, REVSTATE_NO_DATA, REVSOURCE_NONE},
      {"ocsp, network off", NET_SERVER_OCSP, responder.url("/"), NET_OPTION_NO_NETWORK, &revoked,
       WWC_OK, REVSTATE_NO_DATA, REVSOURCE_NONE},
      {"crl missing", NET_SERVER_CRL, crlServer.url("/none.crl"), 0, &revoked, WWC_OK,
       REVSTATE_NO_DATA, REVSOURCE_NONE},
  };
  for (const Case& c : cases) {
    // Each row is a verification of its own: what the network cache kept for the last one goes
    // (the outermost path verification does this).
    CacheManager::instance().removeMarkedCrlItems();
    Settings settings;
    settings.table[c.kind] = {c.url};
    if (c.option) settings.options[c.option] = 1;
    NetworkManager network(&settings);
    network.setTimeoutMs(HANG_GUARD_MS);
    RevocationNetworkAdapter adapter(network, &settings);
    // After every answer's thisUpdate: the responder dates its answers now.
    FixedPathClock clock(static_cast<int64_t>(time(nullptr)) + 60);
    RevocationManager manager(clock, nullptr);
    TrustTheCa trust(ca);
    manager.environment = &trust;
    manager.network = &adapter;
    ManagedRevocation managed(manager);
    PathVerification verification;
    verification.revocation = &managed;

    CertificateItem item, issuer;
    item.certificate = *c.cert;
    issuer.certificate = ca;
    RevocationArgs args;
    EXPECT_EQ(0, verification.checkRevocation(item, issuer, args, false, PATH_PURPOSE_SIGNER,
                                              false, nullptr, nullptr))
        << c.what;
    const std::string row = std::string(c.what) + " " + (c.cert == &good ? "good" : "revoked");
    EXPECT_EQ(c.wwc, item.wwc) << row;
    EXPECT_EQ(c.state, item.revocationState) << row;
    EXPECT_EQ(c.source, item.revocationSource) << row;
    if (c.source == REVSOURCE_CRL) { EXPECT_EQ(1u, manager.verifiedCrls.size()) << row; }
  }
  // The switched-off rows asked nothing.
  EXPECT_EQ(3, crlServer.connections.load());
  EXPECT_EQ(2, responder.connections.load());
}

}  // namespace
