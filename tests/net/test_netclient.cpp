#include "net/ldapclient.h"
#include "net/netclient.h"

#include "net/localhttp.h"

#include <sys/un.h>

#include <curl/curl.h>
#include <ldap.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

struct TableRow {
  int curlCode;
  long status;
  long proxyStatus;
  bool credentials;
  int32_t expected;
};

// Every row of the table, and the proxy answers decided before it.
const TableRow tableRows[] = {
    {CURLE_OK, 0, 0, false, NET_OK},
    {CURLE_OK, 200, 0, false, NET_OK},
    {CURLE_OK, 204, 200, false, NET_OK},
    {CURLE_OK, 401, 0, false, NET_BAD_LOGIN},
    {CURLE_OK, 404, 0, false, NET_NOT_FOUND},
    {CURLE_OK, 410, 0, false, NET_NOT_FOUND},
    {CURLE_OK, 403, 0, false, NET_REFUSED},
    {CURLE_OK, 503, 0, false, NET_REFUSED},
    {CURLE_OK, 302, 0, false, NET_PROTOCOL},
    {CURLE_OK, 407, 0, false, NET_PROXY_AUTH},
    {CURLE_OK, 407, 0, true, NET_PROXY_BAD_LOGIN},
    {CURLE_RECV_ERROR, 0, 407, false, NET_PROXY_AUTH},
    {CURLE_RECV_ERROR, 0, 407, true, NET_PROXY_BAD_LOGIN},
    {CURLE_RECV_ERROR, 0, 502, false, NET_REFUSED},
    {CURLE_OUT_OF_MEMORY, 0, 0, false, NET_NO_MEMORY},
    {CURLE_COULDNT_RESOLVE_HOST, 0, 0, false, NET_NO_SERVER},
    {CURLE_COULDNT_RESOLVE_PROXY, 0, 0, false, NET_NO_SERVER},
    {CURLE_COULDNT_CONNECT, 0, 0, false, NET_CONNECT_FAILED},
    {CURLE_SSL_CONNECT_ERROR, 0, 0, false, NET_CONNECT_FAILED},
    {CURLE_PEER_FAILED_VERIFICATION, 0, 0, false, NET_CONNECT_FAILED},
    {CURLE_SSL_CACERT_BADFILE, 0, 0, false, NET_CONNECT_FAILED},
    {CURLE_OPERATION_TIMEDOUT, 200, 0, false, NET_TIMEOUT},
    {CURLE_GOT_NOTHING, 0, 0, false, NET_CLOSED},
    {CURLE_PARTIAL_FILE, 200, 0, false, NET_CLOSED},
    {CURLE_RECV_ERROR, 0, 0, false, NET_CLOSED},
    {CURLE_SEND_ERROR, 0, 0, false, NET_SOCKET},
    {CURLE_WRITE_ERROR, 200, 0, false, NET_TOO_LARGE},
    {CURLE_FILESIZE_EXCEEDED, 200, 0, false, NET_TOO_LARGE},
    {CURLE_REMOTE_FILE_NOT_FOUND, 0, 0, false, NET_NOT_FOUND},
    {CURLE_FTP_COULDNT_RETR_FILE, 0, 0, false, NET_NOT_FOUND},
    {CURLE_LOGIN_DENIED, 0, 0, false, NET_BAD_LOGIN},
    {CURLE_REMOTE_ACCESS_DENIED, 0, 0, false, NET_REFUSED},
    {CURLE_TOO_MANY_REDIRECTS, 301, 0, false, NET_PROTOCOL},
    {CURLE_UNSUPPORTED_PROTOCOL, 0, 0, false, NET_PROTOCOL},
    {CURLE_WEIRD_SERVER_REPLY, 0, 0, false, NET_PROTOCOL},
    {CURLE_URL_MALFORMAT, 0, 0, false, NET_PROTOCOL},  // not in the table: the default
};

TEST(NetErrorTable, EveryRowGivesItsCode)
{
  for (const TableRow& row : tableRows)
    EXPECT_EQ(row.expected, netResultOf(row.curlCode, row.status, row.proxyStatus, row.credentials))
        << "curl " << row.curlCode << " status " << row.status << " proxy " << row.proxyStatus;
}

TEST(NetErrorTable, LdapRowsGiveTheirCodes)
{
  const std::pair<int, int32_t> rows[] = {
      {LDAP_SUCCESS, NET_OK},
      {LDAP_SERVER_DOWN, NET_CONNECT_FAILED},
      {LDAP_CONNECT_ERROR, NET_CONNECT_FAILED},
      {LDAP_TIMEOUT, NET_TIMEOUT},
      {LDAP_TIMELIMIT_EXCEEDED, NET_TIMEOUT},
      {LDAP_NO_SUCH_OBJECT, NET_NOT_FOUND},
      {LDAP_INVALID_CREDENTIALS, NET_BAD_LOGIN},
      {LDAP_INSUFFICIENT_ACCESS, NET_REFUSED},
      {LDAP_UNWILLING_TO_PERFORM, NET_REFUSED},
      {LDAP_SIZELIMIT_EXCEEDED, NET_TOO_LARGE},
      {LDAP_NO_MEMORY, NET_NO_MEMORY},
      {LDAP_DECODING_ERROR, NET_BAD_FORMAT},
      {LDAP_INVALID_DN_SYNTAX, NET_NOT_FOUND},
      {LDAP_FILTER_ERROR, NET_PROTOCOL},
      {LDAP_OTHER, NET_PROTOCOL},
  };
  for (const auto& row : rows)
    EXPECT_EQ(row.second, ldapResultOf(row.first)) << "ldap " << row.first;
}

TEST(NetErrorTable, FilterValuesAreEscaped)
{
  EXPECT_EQ("a\\2a\\28b\\29\\5c", ldapFilterValue("a*(b)\\"));
  EXPECT_EQ("jan@example.pl", ldapFilterValue("jan@example.pl"));
}

// The server's behaviour on each path, and what a fetch of that path gives.
struct LiveRow {
  const char* path;
  int32_t expected;
};

LocalAnswer behave(const LocalRequest& r)
{
  const std::string p = r.path();
  LocalAnswer a;
  if (p == "/ok")
    a.bytes = httpAnswer(200, "application/pkix-crl", "DATA");
  else if (p == "/missing")
    a.bytes = httpAnswer(404, "text/html", "no");
  else if (p == "/gone")
    a.bytes = httpAnswer(410, "text/html", "no");
  else if (p == "/forbidden")
    a.bytes = httpAnswer(403, "text/html", "no");
  else if (p == "/broken")
    a.bytes = httpAnswer(500, "text/html", "no");
  else if (p == "/login")
    a.bytes = httpAnswer(401, "text/html", "no", "WWW-Authenticate: Basic realm=\"x\"\r\n");
  else if (p == "/close")
    a.mode = LocalAnswer::Close;
  else if (p == "/stall")
    a.mode = LocalAnswer::Stall;
  else if (p == "/garbage")
    a.bytes = "HELLO THERE\r\n\r\n";
  else if (p == "/truncated")
    a.bytes = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789";
  else if (p == "/announced-huge")
    a.bytes = "HTTP/1.1 200 OK\r\nContent-Length: 10737418240\r\n\r\n0123456789";
  else if (p == "/endless") {
    a.mode = LocalAnswer::Endless;
    a.bytes = "HTTP/1.0 200 OK\r\n\r\n";
  } else if (p == "/to-file")
    a.bytes = httpAnswer(302, "", "", "Location: file:///etc/passwd\r\n");
  else if (p == "/to-ftp")
    a.bytes = httpAnswer(302, "", "", "Location: ftp://127.0.0.1/x\r\n");
  else if (p == "/loop")
    a.bytes = httpAnswer(302, "", "", "Location: /loop\r\n");
  else if (p == "/moved")
    a.bytes = httpAnswer(301, "", "", "Location: /ok\r\n");
  else
    a.bytes = httpAnswer(400, "", "");
  return a;
}

TEST(NetFetch, EachServerBehaviourGivesItsCode)
{
  LocalHttpServer server(behave);
  ASSERT_NE(0, server.port);
  const LiveRow rows[] = {
      {"/ok", NET_OK},
      {"/moved", NET_OK},
      {"/missing", NET_NOT_FOUND},
      {"/gone", NET_NOT_FOUND},
      {"/forbidden", NET_REFUSED},
      {"/broken", NET_REFUSED},
      {"/login", NET_BAD_LOGIN},
      {"/close", NET_CLOSED},
      {"/stall", NET_TIMEOUT},
      {"/garbage", NET_PROTOCOL},
      {"/truncated", NET_CLOSED},
      {"/announced-huge", NET_TOO_LARGE},
      {"/endless", NET_TOO_LARGE},
      {"/to-file", NET_PROTOCOL},
      {"/to-ftp", NET_PROTOCOL},
      {"/loop", NET_PROTOCOL},
  };
  for (const LiveRow& row : rows) {
    NetRequest request;
    request.url = server.url(row.path);
    request.maxBytes = 256 * 1024;
    // Only the stalled server waits for the time-out; any other must answer however busy the
    // machine.
    request.timeoutMs = row.expected == NET_TIMEOUT ? 700 : HANG_GUARD_MS;
    NetResponse response;
    EXPECT_EQ(row.expected, netFetch(request, response)) << row.path;
    if (row.expected == NET_OK) {
      EXPECT_EQ("DATA", std::string(response.body.begin(), response.body.end()));
      EXPECT_EQ("application/pkix-crl", response.contentType);
    } else if (row.expected == NET_TOO_LARGE) {
      EXPECT_TRUE(response.body.empty()) << row.path;
    }
  }
}

TEST(NetFetch, ClosedPortAndForeignSchemesFail)
{
  NetRequest request;
  request.url = "http://127.0.0.1:" + std::to_string(closedLocalPort()) + "/x";
  request.timeoutMs = HANG_GUARD_MS;
  NetResponse response;
  EXPECT_EQ(NET_CONNECT_FAILED, netFetch(request, response));
  for (const char* url : {"file:///etc/passwd", "gopher://127.0.0.1/", "127.0.0.1/x", ""}) {
    request.url = url;
    EXPECT_EQ(NET_PROTOCOL, netFetch(request, response)) << url;
  }
}

TEST(NetFetch, PostSendsBodyAndType)
{
  LocalRequest seen;
  LocalHttpServer server([&](const LocalRequest& r) {
    seen = r;
    LocalAnswer a;
    a.bytes = httpAnswer(200, "Application/OCSP-Response; charset=x", "R");
    return a;
  });
  const uint8_t body[] = {0x30, 0x00, 0xff};
  NetRequest request;
  request.url = server.url("/ocsp");
  request.post = true;
  request.contentType = "application/ocsp-request";
  request.body = body;
  request.bodyLength = sizeof body;
  NetResponse response;
  ASSERT_EQ(NET_OK, netFetch(request, response));
  EXPECT_EQ(0u, seen.head.find("POST /ocsp "));
  EXPECT_NE(std::string::npos, seen.head.find("Content-Type: application/ocsp-request\r\n"));
  EXPECT_EQ(std::string("\x30\x00\xff", 3), seen.body);
  EXPECT_EQ("application/ocsp-response", response.contentType);
}

// The test server stands in for a proxy: it wants "user:secret" in Basic form.
TEST(NetFetch, ProxyAuthenticationRows)
{
  LocalHttpServer proxy([](const LocalRequest& r) {
    LocalAnswer a;
    if (r.head.find("Proxy-Authorization: Basic dXNlcjpzZWNyZXQ=\r\n") != std::string::npos &&
        r.head.find("GET http://origin.test/x ") == 0)
      a.bytes = httpAnswer(200, "text/plain", "DATA");
    else
      a.bytes = httpAnswer(407, "", "", "Proxy-Authenticate: Basic realm=\"p\"\r\n");
    return a;
  });
  struct Row {
    const char* user;
    const char* password;
    int32_t expected;
  };
  const Row rows[] = {{"", "", NET_PROXY_AUTH},
                      {"user", "wrong", NET_PROXY_BAD_LOGIN},
                      {"user", "secret", NET_OK}};
  for (const Row& row : rows) {
    NetProxy p;
    p.host = "127.0.0.1";
    p.port = static_cast<uint32_t>(proxy.port);
    p.user = row.user;
    p.password = row.password;
    NetRequest request;
    request.url = "http://origin.test/x";
    request.proxy = &p;
    request.timeoutMs = HANG_GUARD_MS;
    NetResponse response;
    EXPECT_EQ(row.expected, netFetch(request, response)) << row.user << ":" << row.password;
  }
}

// The network layer copies the profile's proxy for every transfer: each copy's password is
// wiped before its memory goes back. A short password sits inside the object itself, so the
// storage it leaves behind can be searched.
TEST(NetProxy, PasswordIsWipedWhenTheCopyGoes)
{
  alignas(NetProxy) unsigned char storage[sizeof(NetProxy)];
  const std::string secret = "tajne-haslo";
  NetProxy original;
  original.password = secret;
  NetProxy* copy = new (storage) NetProxy(original);
  ASSERT_EQ(secret, copy->password);
  copy->~NetProxy();
  const std::string left(reinterpret_cast<const char*>(storage), sizeof storage);
  EXPECT_EQ(std::string::npos, left.find(secret));
  EXPECT_EQ(std::string::npos, left.find("tajne"));
}

// The configured proxy is used for every host: a no_proxy list in the environment does not
// send a transfer past it.
TEST(NetFetch, ConfiguredProxyOutranksTheEnvironment)
{
  LocalHttpServer origin([](const LocalRequest&) {
    LocalAnswer a;
    a.bytes = httpAnswer(200, "text/plain", "DIRECT");
    return a;
  });
  LocalHttpServer proxy([](const LocalRequest&) {
    LocalAnswer a;
    a.bytes = httpAnswer(200, "text/plain", "PROXIED");
    return a;
  });
  NetProxy p;
  p.host = "127.0.0.1";
  p.port = static_cast<uint32_t>(proxy.port);
  for (const char* variable : {"no_proxy", "NO_PROXY"}) {
    setenv(variable, "127.0.0.1", 1);
    NetRequest request;
    request.url = origin.url("/x");
    request.proxy = &p;
    request.timeoutMs = HANG_GUARD_MS;
    NetResponse response;
    EXPECT_EQ(NET_OK, netFetch(request, response)) << variable;
    EXPECT_EQ("PROXIED", std::string(response.body.begin(), response.body.end())) << variable;
    unsetenv(variable);
  }
}

// An ftp URL through an HTTP proxy travels as HTTP: the proxy's status decides, as for http.
TEST(NetFetch, FtpThroughAProxyTakesTheProxyStatus)
{
  LocalHttpServer proxy([](const LocalRequest& r) {
    LocalAnswer a;
    const std::string p = r.path();
    if (p == "ftp://origin.test/ca.crl")
      a.bytes = httpAnswer(200, "application/pkix-crl", "DATA");
    else if (p == "ftp://origin.test/login")
      a.bytes = httpAnswer(407, "text/html", "login page", "Proxy-Authenticate: Basic realm=\"p\"\r\n");
    else if (p == "ftp://origin.test/refused")
      a.bytes = httpAnswer(403, "text/html", "refused page");
    else
      a.bytes = httpAnswer(404, "text/html", "error page");
    return a;
  });
  const LiveRow rows[] = {{"/ca.crl", NET_OK},
                          {"/none.crl", NET_NOT_FOUND},
                          {"/login", NET_PROXY_AUTH},
                          {"/refused", NET_REFUSED}};
  NetProxy p;
  p.host = "127.0.0.1";
  p.port = static_cast<uint32_t>(proxy.port);
  for (const LiveRow& row : rows) {
    NetRequest request;
    request.url = std::string("ftp://origin.test") + row.path;
    request.proxy = &p;
    request.timeoutMs = HANG_GUARD_MS;
    NetResponse response;
    EXPECT_EQ(row.expected, netFetch(request, response)) << row.path;
    if (row.expected == NET_OK) {
      EXPECT_EQ("DATA", std::string(response.body.begin(), response.body.end()));
    }
  }
}

// A server that takes the connection and never answers the bind holds an LDAP query no longer
// than the time-out.
TEST(LdapFetch, SilentServerTimesOut)
{
  LocalHttpServer silent([](const LocalRequest&) {
    LocalAnswer a;
    a.mode = LocalAnswer::Stall;
    return a;
  });
  LdapQuery query;
  query.url = "ldap://127.0.0.1:" + std::to_string(silent.port) + "/c=PL";
  query.timeoutMs = 700;
  std::vector<std::vector<uint8_t>> values;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(NET_TIMEOUT, ldapFetch(query, values));
  // The stalled server never answers: any end is the time-out's. The bound only guards
  // against a hang (no time-out, or one read as seconds), far beyond a busy machine.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(HANG_GUARD_SECONDS));
  EXPECT_TRUE(values.empty());
}

// libldap takes a blank- or comma-separated list of URLs when it opens a connection: a host
// that decodes to such a list must not reach another server, nor another scheme (ldapi: a
// local socket). The URL's host is refused before anything is opened.
TEST(LdapFetch, HostThatDecodesToAListOfUrlsIsRefused)
{
  char folder[] = "/tmp/talldapiXXXXXX";
  ASSERT_NE(nullptr, mkdtemp(folder));
  // libldap appends the port to the socket's path: the socket is named so that it is reached.
  const std::string named = std::string(folder) + "/s";
  const std::string path = named + ":389";
  const int local = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un u{};
  u.sun_family = AF_UNIX;
  std::snprintf(u.sun_path, sizeof u.sun_path, "%s", path.c_str());
  ASSERT_EQ(0, ::bind(local, reinterpret_cast<sockaddr*>(&u), sizeof u));
  ASSERT_EQ(0, ::listen(local, 4));
  std::string encoded;  // the socket path, percent-encoded twice (the URL's host is decoded once)
  for (char c : named)
    encoded += c == '/' ? std::string("%252F") : std::string(1, c);
  const std::string closed = std::to_string(closedLocalPort());
  const std::string urls[] = {
      "ldap://127.0.0.1%3a" + closed + "%20ldapi%3a%2f%2f" + encoded + "/c=PL",
      "ldap://127.0.0.1%3a" + closed + "%2cldapi%3a%2f%2f" + encoded + "/c=PL",
  };
  for (const std::string& url : urls) {
    LdapQuery query;
    query.url = url;
    query.timeoutMs = 700;
    std::vector<std::vector<uint8_t>> values;
    EXPECT_EQ(NET_PROTOCOL, ldapFetch(query, values)) << url;
    pollfd p{local, POLLIN, 0};
    EXPECT_EQ(0, ::poll(&p, 1, 100)) << "the local socket was reached: " << url;
    if (p.revents & POLLIN)
      ::close(::accept(local, nullptr, nullptr));
  }
  ::close(local);
  ::unlink(path.c_str());
  ::rmdir(folder);
}

// A directory that accepts the anonymous bind, then drips its answer to the search one byte at a
// time: an entry announced as a megabyte. The query ends at its time-out all the same.
TEST(LdapFetch, DrippingAnswerEndsAtTheTimeOut)
{
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t n = sizeof a;
  ASSERT_EQ(0, ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a));
  ASSERT_EQ(0, ::listen(listener, 1));
  ASSERT_EQ(0, ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &n));
  std::atomic<bool> stop{false};
  std::atomic<bool> ranOut{false};
  std::thread directory([&] {
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(HANG_GUARD_MS)) <= 0)
      return;
    const int fd = ::accept(listener, nullptr, nullptr);
    char buffer[512];
    ::recv(fd, buffer, sizeof buffer, 0);  // the bind (message 1)
    const unsigned char bound[] = {0x30, 0x0c, 0x02, 0x01, 0x01, 0x61, 0x07, 0x0a,
                                   0x01, 0x00, 0x04, 0x00, 0x04, 0x00};
    ::send(fd, bound, sizeof bound, MSG_NOSIGNAL);
    ::recv(fd, buffer, sizeof buffer, 0);  // the search (message 2)
    const unsigned char entry[] = {0x30, 0x83, 0x0f, 0x42, 0x40, 0x02, 0x01, 0x02, 0x64, 0x83, 0x0f, 0x42, 0x38};
    for (unsigned char c : entry)
      ::send(fd, &c, 1, MSG_NOSIGNAL);
    // Until the client hangs up, or up to the hang guard.
    int i = 0;
    for (; i < HANG_GUARD_SECONDS * 20 && !stop; ++i) {
      if (::send(fd, "x", 1, MSG_NOSIGNAL) != 1)
        break;
      usleep(50 * 1000);
    }
    ranOut = i == HANG_GUARD_SECONDS * 20;
    ::close(fd);
  });
  LdapQuery query;
  query.url = "ldap://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/c=PL";
  query.timeoutMs = 700;
  std::vector<std::vector<uint8_t>> values;
  EXPECT_EQ(NET_TIMEOUT, ldapFetch(query, values));
  // An end while the directory still drips is the time-out's: a time-out per read would wait
  // for the trickle to run out.
  EXPECT_FALSE(ranOut);
  stop = true;
  directory.join();
  ::close(listener);
}

}  // namespace
