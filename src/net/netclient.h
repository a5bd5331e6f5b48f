// One transfer over libcurl (http, https, anonymous ftp, through an optional HTTP proxy) and the
// table that turns curl's and the server's answers into the network result codes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Network result codes (the common error table's numbers and texts).
constexpr int32_t NET_OK = 0;
constexpr int32_t NET_NO_MEMORY = 1;
constexpr int32_t NET_CRL_NOT_FOUND = 16;
constexpr int32_t NET_CONNECT_FAILED = 17;
constexpr int32_t NET_BAD_LOGIN = 18;         // the server refused the user or password
constexpr int32_t NET_CLOSED = 19;
constexpr int32_t NET_SOCKET = 20;
constexpr int32_t NET_TIMEOUT = 21;
constexpr int32_t NET_TOO_LARGE = 22;         // the answer passed its size cap
constexpr int32_t NET_PROTOCOL = 25;
constexpr int32_t NET_NOT_FOUND = 26;         // the file cannot be fetched
constexpr int32_t NET_REFUSED = 27;
constexpr int32_t NET_BAD_FORMAT = 28;
constexpr int32_t NET_NO_SERVER = 31;
constexpr int32_t NET_PROXY_AUTH = 50;        // the proxy wants credentials we did not give
constexpr int32_t NET_PROXY_BAD_LOGIN = 51;   // the proxy refused the credentials we gave

// Caps on what one answer may hold.
constexpr size_t NET_DEFAULT_CRL_CAP = 256u * 1024 * 1024;
constexpr size_t NET_SMALL_ANSWER_CAP = 1024 * 1024;  // OCSP and time-stamp answers
// Redirects followed per transfer.
constexpr long NET_MAX_REDIRECTS = 5;

struct NetProxy {
  NetProxy() = default;
  NetProxy(const NetProxy&) = default;
  NetProxy& operator=(const NetProxy&) = default;
  // Wipes the password: every transfer takes a copy of the profile's proxy.
  ~NetProxy();

  std::string host;  // empty: no proxy
  uint32_t port = 0;
  std::string user;  // empty: no Proxy-Authorization
  std::string password;
};

struct NetRequest {
  std::string url;
  bool post = false;
  std::string contentType;  // of the posted body
  const uint8_t* body = nullptr;
  size_t bodyLength = 0;
  size_t maxBytes = NET_SMALL_ANSWER_CAP;
  long timeoutMs = 30000;  // the whole transfer, connection included
  const NetProxy* proxy = nullptr;
  // The certificates an https server must chain to (PEM); empty: the system's store.
  std::string caFile;
  // When given and set, the transfer stops within about a second (NET_TIMEOUT): a background
  // thread asked to end does not wait for its server.
  const std::atomic<bool>* cancel = nullptr;
};

struct NetResponse {
  long status = 0;          // HTTP status (0 for ftp, unless through a proxy)
  std::string contentType;  // lower case, parameters cut off
  std::vector<uint8_t> body;
};

// The table: curl's result, the server's status (0 when none), the proxy's answer to CONNECT (0
// when none) and whether proxy credentials were sent give the network result.
int32_t netResultOf(int curlCode, long httpStatus, long proxyStatus, bool proxyCredentials);

// Fetches (GET, or POST of the body) one http, https or ftp URL. Only the URL's own scheme is
// allowed, for redirects too (at most NET_MAX_REDIRECTS); an answer over maxBytes, or one that
// is not complete within the time-out, is cut off. NET_OK only for a complete answer with a 2xx
// status (ftp: a complete file).
int32_t netFetch(const NetRequest& request, NetResponse& response);

// Starts the transfer library once per process; false when it cannot start.
bool netStartup();

// The scheme of a URL in lower case ("" without one).
std::string netUrlScheme(const std::string& url);
