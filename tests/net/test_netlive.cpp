// Transfers against real servers of 127.0.0.1: openssl's TLS server, a CONNECT proxy in front
// of it, pyftpdlib's anonymous ftp, and names that cannot resolve (refused before any query).
#include "net/netmanager.h"

#include "net/localhttp.h"
#include "pki/x509/cert.h"
#include "pki/x509/crl.h"
#include "pki/ocsp/ocspresp.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <fstream>
#include <iterator>

namespace {

const std::string dataDir = std::string(TAL_TEST_DATA_DIR) + "/net";

std::vector<uint8_t> readData(const std::string& name)
{
  std::ifstream in(dataDir + "/" + name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

class TestSettings : public NetworkSettings {
 public:
  int32_t option(int32_t) const override { return 0; }
  void servers(int32_t, const DistinguishedName*, std::vector<std::string>&) const override {}
  std::string caFile() const override { return ca; }
  NetProxy proxy() const override { return viaProxy; }
  std::string ca;
  NetProxy viaProxy;
};

// A server program started in the test data folder, listening on `port` of 127.0.0.1 once
// `started` is true; stopped by its destructor.
class LocalProgram {
 public:
  LocalProgram(const std::string& command, int port) : port(port)
  {
    const std::string line = "cd '" + dataDir + "' && exec " + command;
    const char* argv[] = {"sh", "-c", line.c_str(), nullptr};
    runQuiet(argv, false, &pid);
    started = pid > 0 && localPortOpen(port, HANG_GUARD_MS, pid);
  }
  ~LocalProgram()
  {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
  LocalProgram(const LocalProgram&) = delete;
  LocalProgram& operator=(const LocalProgram&) = delete;
  std::string url(const char* scheme, const std::string& path) const
  {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port) + path;
  }
  const int port;
  pid_t pid = 0;
  bool started = false;
};

// openssl's TLS server with one of the certificates of make-tls.sh, serving the folder's files.
std::unique_ptr<LocalProgram> tlsServer(const std::string& certificate)
{
  const int port = closedLocalPort();
  return std::unique_ptr<LocalProgram>(new LocalProgram(
      "openssl s_server -quiet -WWW -accept 127.0.0.1:" + std::to_string(port) + " -cert " +
          certificate + " -key tls.key",
      port));
}

int32_t fetch(const std::string& url, const std::string& caFile, NetResponse& response,
              const NetProxy* proxy = nullptr)
{
  NetRequest request;
  request.url = url;
  request.caFile = caFile;
  request.timeoutMs = HANG_GUARD_MS;
  request.proxy = proxy;
  return netFetch(request, response);
}

TEST(NetLive, HttpsServersAreTrustedThroughTheCaFileAndTheirName)
{
  const std::unique_ptr<LocalProgram> local = tlsServer("tls-local.pem");
  const std::unique_ptr<LocalProgram> other = tlsServer("tls-other.pem");
  const std::unique_ptr<LocalProgram> stranger = tlsServer("tls-stranger.pem");
  ASSERT_TRUE(local->started && other->started && stranger->started) << "openssl s_server";
  const std::string ca = dataDir + "/ca.pem";
  struct Row {
    const LocalProgram* server;
    std::string caFile;
    int32_t expected;
  };
  const Row rows[] = {
      {local.get(), ca, NET_OK},
      {other.get(), ca, NET_CONNECT_FAILED},     // a certificate for another name
      {stranger.get(), ca, NET_CONNECT_FAILED},  // a certificate from no CA we trust
      {local.get(), "", NET_CONNECT_FAILED},     // the system's store knows not the test CA
      {local.get(), dataDir + "/no-such-file.pem", NET_CONNECT_FAILED},
  };
  for (const Row& row : rows) {
    NetResponse response;
    EXPECT_EQ(row.expected, fetch(row.server->url("https", "/ca.crl"), row.caFile, response))
        << row.server->port << " " << row.caFile;
    if (row.expected == NET_OK)
      EXPECT_EQ(readData("ca.crl"), response.body);
    else
      EXPECT_TRUE(response.body.empty());
  }

  // The manager hands the configured trust to its transfers.
  TestSettings settings;
  NetworkManager manager(&settings);
  manager.setTimeoutMs(HANG_GUARD_MS);
  CrlList crls;
  EXPECT_EQ(NET_CONNECT_FAILED,
            manager.queryForCRL(local->url("https", "/ca.crl"), nullptr, crls, 0, nullptr));
  settings.ca = ca;
  ASSERT_EQ(NET_OK, manager.queryForCRL(local->url("https", "/ca.crl"), nullptr, crls, 0, nullptr));
  ASSERT_EQ(1u, crls.size());
}

// A CONNECT proxy that opens tunnels to the TLS server only, and wants "user:secret" when
// `wanted` is set.
struct ConnectProxy {
  explicit ConnectProxy(int target)
      : server([this, target](const LocalRequest& r) {
          LocalAnswer a;
          if (r.head.find("CONNECT 127.0.0.1:" + std::to_string(target) + " ") != 0) {
            a.bytes = httpAnswer(403, "", "");
          } else if (wanted && r.head.find("Proxy-Authorization: Basic dXNlcjpzZWNyZXQ=\r\n") ==
                                   std::string::npos) {
            a.bytes = httpAnswer(407, "", "", "Proxy-Authenticate: Basic realm=\"p\"\r\n");
          } else {
            ++tunnels;
            a.mode = LocalAnswer::Tunnel;
            a.bytes = "HTTP/1.1 200 Connection established\r\n\r\n";
            a.tunnelPort = target;
          }
          return a;
        })
  {
  }
  std::atomic<bool> wanted{false};
  std::atomic<int> tunnels{0};
  LocalHttpServer server;
};

TEST(NetLive, HttpsThroughAConnectProxy)
{
  const std::unique_ptr<LocalProgram> tls = tlsServer("tls-local.pem");
  ASSERT_TRUE(tls->started) << "openssl s_server";
  ConnectProxy proxy(tls->port);
  struct Row {
    bool wanted;
    const char* user;
    const char* password;
    int32_t expected;
  };
  const Row rows[] = {{false, "", "", NET_OK},
                      {true, "", "", NET_PROXY_AUTH},
                      {true, "user", "wrong", NET_PROXY_BAD_LOGIN},
                      {true, "user", "secret", NET_OK}};
  int tunnels = 0;
  for (const Row& row : rows) {
    proxy.wanted = row.wanted;
    NetProxy p;
    p.host = "127.0.0.1";
    p.port = static_cast<uint32_t>(proxy.server.port);
    p.user = row.user;
    p.password = row.password;
    NetResponse response;
    EXPECT_EQ(row.expected, fetch(tls->url("https", "/ca.crl"), dataDir + "/ca.pem", response, &p))
        << row.wanted << " " << row.user << ":" << row.password;
    if (row.expected == NET_OK) {
      EXPECT_EQ(readData("ca.crl"), response.body);
      EXPECT_EQ(++tunnels, proxy.tunnels.load());  // through the tunnel, not past the proxy
    }
  }

  // The manager's transfers take the configured proxy.
  TestSettings settings;
  settings.ca = dataDir + "/ca.pem";
  settings.viaProxy.host = "127.0.0.1";
  settings.viaProxy.port = static_cast<uint32_t>(proxy.server.port);
  NetworkManager manager(&settings);
  manager.setTimeoutMs(HANG_GUARD_MS);
  proxy.wanted = true;
  CrlList crls;
  EXPECT_EQ(NET_PROXY_AUTH, manager.queryForCRL(tls->url("https", "/ca.crl"), nullptr, crls, 0, nullptr));
  settings.viaProxy.user = "user";
  settings.viaProxy.password = "secret";
  EXPECT_EQ(NET_OK, manager.queryForCRL(tls->url("https", "/ca.crl"), nullptr, crls, 0, nullptr));
  EXPECT_EQ(1u, crls.size());
}

TEST(NetLive, AnonymousFtp)
{
  // Debian's python3-pyftpdlib belongs to the system's interpreter.
  const char* probe[] = {"/usr/bin/python3", "-c", "import pyftpdlib", nullptr};
  if (runQuiet(probe, true, nullptr) != 0)
    GTEST_SKIP() << "pyftpdlib is not installed (Debian package python3-pyftpdlib): no ftp server";
  const int port = closedLocalPort();
  LocalProgram ftp("/usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p " + std::to_string(port) +
                       " -d .",
                   port);
  ASSERT_TRUE(ftp.started) << "pyftpdlib";
  TestSettings settings;
  NetworkManager manager(&settings);
  manager.setTimeoutMs(HANG_GUARD_MS);
  struct Row {
    const char* path;
    size_t cap;
    int32_t expected;
  };
  const Row rows[] = {{"/ca.crl", NET_DEFAULT_CRL_CAP, NET_OK},
                      {"/none.crl", NET_DEFAULT_CRL_CAP, NET_NOT_FOUND},
                      {"/ca.crl", 100, NET_TOO_LARGE},   // the server announces the size
                      {"/ca.der", NET_DEFAULT_CRL_CAP, NET_BAD_FORMAT}};  // not a CRL
  for (const Row& row : rows) {
    manager.setCrlCap(row.cap);
    CrlList crls;
    EXPECT_EQ(row.expected, manager.queryForCRL(ftp.url("ftp", row.path), nullptr, crls, 0, nullptr))
        << row.path << " cap " << row.cap;
    EXPECT_EQ(row.expected == NET_OK ? 1u : 0u, crls.size()) << row.path;
  }
}

TEST(NetLive, NamesThatCannotResolve)
{
  const std::string host = unresolvableHost();  // no query leaves the machine
  const std::string urls[] = {"http://" + host + "/ca.crl", "https://" + host + "/ca.crl",
                              "ftp://" + host + "/ca.crl", "ldap://" + host + "/c=PL"};
  TestSettings settings;
  NetworkManager manager(&settings);
  manager.setTimeoutMs(HANG_GUARD_MS);
  for (const std::string& url : urls) {
    CrlList crls;
    EXPECT_EQ(NET_NO_SERVER, manager.queryForCRL(url, nullptr, crls, 0, nullptr)) << url;
  }
  OCSPResponse response;
  EXPECT_EQ(NET_NO_SERVER, manager.queryForOcsp("http://" + host + "/", {0x30, 0x00}, response));
  // A dead server of a name that resolves stays a failed connection.
  CrlList crls;
  EXPECT_EQ(NET_CONNECT_FAILED,
            manager.queryForCRL("ldap://127.0.0.1:" + std::to_string(closedLocalPort()) + "/c=PL",
                                nullptr, crls, 0, nullptr));
}

}  // namespace
