#include "net/netclient.h"

#include "base/memfile.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>
#include <new>

namespace {

// curl asks at least once a second, also while nothing moves.
int cancelled(void* flag, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
  return static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0;
}

// Any server status (curl rows) or any curl result (status rows).
constexpr long ANY = -1;

struct NetErrorRow {
  int curlCode;
  long lowStatus;
  long highStatus;
  int32_t result;
};

// First matching row wins. A 407 from the proxy is decided before the table, by whether we sent
// credentials.
const NetErrorRow netErrorTable[] = {
    {CURLE_OK, 0, 0, NET_OK},  // ftp: a complete file
    {CURLE_OK, 200, 299, NET_OK},
    {CURLE_OK, 401, 401, NET_BAD_LOGIN},
    {CURLE_OK, 404, 404, NET_NOT_FOUND},
    {CURLE_OK, 410, 410, NET_NOT_FOUND},
    {CURLE_OK, 400, 599, NET_REFUSED},
    {CURLE_OK, ANY, ANY, NET_PROTOCOL},  // 1xx, a redirect not followed, nonsense
    {CURLE_OUT_OF_MEMORY, ANY, ANY, NET_NO_MEMORY},
    {CURLE_COULDNT_RESOLVE_HOST, ANY, ANY, NET_NO_SERVER},
    {CURLE_COULDNT_RESOLVE_PROXY, ANY, ANY, NET_NO_SERVER},
    {CURLE_COULDNT_CONNECT, ANY, ANY, NET_CONNECT_FAILED},
    {CURLE_SSL_CONNECT_ERROR, ANY, ANY, NET_CONNECT_FAILED},
    // A server we cannot trust, or no trust to check it with: no secure connection.
    {CURLE_PEER_FAILED_VERIFICATION, ANY, ANY, NET_CONNECT_FAILED},
    {CURLE_SSL_CACERT_BADFILE, ANY, ANY, NET_CONNECT_FAILED},
    {CURLE_OPERATION_TIMEDOUT, ANY, ANY, NET_TIMEOUT},
    {CURLE_GOT_NOTHING, ANY, ANY, NET_CLOSED},
    {CURLE_PARTIAL_FILE, ANY, ANY, NET_CLOSED},
    {CURLE_RECV_ERROR, ANY, ANY, NET_CLOSED},
    {CURLE_SEND_ERROR, ANY, ANY, NET_SOCKET},
    {CURLE_WRITE_ERROR, ANY, ANY, NET_TOO_LARGE},  // only the size cap stops our writer
    {CURLE_FILESIZE_EXCEEDED, ANY, ANY, NET_TOO_LARGE},
    {CURLE_REMOTE_FILE_NOT_FOUND, ANY, ANY, NET_NOT_FOUND},
    {CURLE_FTP_COULDNT_RETR_FILE, ANY, ANY, NET_NOT_FOUND},
    {CURLE_LOGIN_DENIED, ANY, ANY, NET_BAD_LOGIN},
    {CURLE_REMOTE_ACCESS_DENIED, ANY, ANY, NET_REFUSED},
    {CURLE_TOO_MANY_REDIRECTS, ANY, ANY, NET_PROTOCOL},
    {CURLE_UNSUPPORTED_PROTOCOL, ANY, ANY, NET_PROTOCOL},
    {CURLE_WEIRD_SERVER_REPLY, ANY, ANY, NET_PROTOCOL},
};

struct Sink {
  std::vector<uint8_t>* body;
  size_t cap;
  bool tooLarge = false;
  bool noMemory = false;
};

size_t writeBody(char* data, size_t size, size_t count, void* user)
{
  Sink* sink = static_cast<Sink*>(user);
  const size_t n = size * count;  // curl guarantees size 1
  if (n > sink->cap - sink->body->size()) {
    sink->tooLarge = true;
    return 0;  // curl ends the transfer with CURLE_WRITE_ERROR
  }
  try {
    sink->body->insert(sink->body->end(), data, data + n);
  } catch (const std::bad_alloc&) {
    sink->noMemory = true;
    return 0;
  }
  return n;
}

struct CurlDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

bool curlReady()
{
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
  return ready;
}

std::string mediaType(const char* header)
{
  std::string out;
  if (!header)
    return out;
  for (const char* p = header; *p && *p != ';'; ++p)
    if (!std::isspace(static_cast<unsigned char>(*p)))
      out += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  return out;
}

}  // namespace

NetProxy::~NetProxy()
{
  // The whole buffer, not only the text: a shorter value may have left a longer one's tail.
  password.resize(password.capacity());
  zeroizeMemory(&password[0], password.size());
}

bool netStartup()
{
  return curlReady();
}

int32_t netResultOf(int curlCode, long httpStatus, long proxyStatus, bool proxyCredentials)
{
  if (proxyStatus == 407 || (curlCode == CURLE_OK && httpStatus == 407))
    return proxyCredentials ? NET_PROXY_BAD_LOGIN : NET_PROXY_AUTH;
  if (proxyStatus >= 300 && curlCode != CURLE_OK)
    return NET_REFUSED;  // the proxy would not open the tunnel
  for (const NetErrorRow& row : netErrorTable) {
    if (row.curlCode != curlCode)
      continue;
    if (row.lowStatus == ANY || (httpStatus >= row.lowStatus && httpStatus <= row.highStatus))
      return row.result;
  }
  return NET_PROTOCOL;
}

std::string netUrlScheme(const std::string& url)
{
  const size_t colon = url.find("://");
  if (colon == std::string::npos || colon == 0)
    return std::string();
  std::string scheme = url.substr(0, colon);
  for (char& c : scheme) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
      return std::string();
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return scheme;
}

int32_t netFetch(const NetRequest& request, NetResponse& response)
{
  response = NetResponse();
  const std::string scheme = netUrlScheme(request.url);
  if (scheme != "http" && scheme != "https" && scheme != "ftp")
    return NET_PROTOCOL;
  if (!curlReady())
    return NET_SOCKET;
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl)
    return NET_NO_MEMORY;
  CURL* c = curl.get();
  Sink sink{&response.body, request.maxBytes};
  std::unique_ptr<curl_slist, SlistDeleter> headers;

  curl_easy_setopt(c, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, scheme.c_str());
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, NET_MAX_REDIRECTS);
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, scheme.c_str());
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, request.timeoutMs);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, request.timeoutMs);
  curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  // An announced length over the cap is refused before anything is read.
  curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(request.maxBytes));
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, writeBody);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
  // No compressed answers: the cap must bound what we hold, not what came over the wire.
  curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, nullptr);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!request.caFile.empty()) {
    // The given file replaces the system's store rather than adding to it.
    curl_easy_setopt(c, CURLOPT_CAINFO, request.caFile.c_str());
    curl_easy_setopt(c, CURLOPT_CAPATH, nullptr);
  }

  if (request.post) {
    curl_slist* list = nullptr;
    const std::string type = "Content-Type: " + request.contentType;
    list = curl_slist_append(list, type.c_str());
    curl_slist* more = list ? curl_slist_append(list, "Expect:") : nullptr;
    if (!more) {
      curl_slist_free_all(list);
      return NET_NO_MEMORY;
    }
    headers.reset(more);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_POST, 1L);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, request.body ? request.body : reinterpret_cast<const uint8_t*>(""));
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.bodyLength));
  }

  const bool viaProxy = request.proxy && !request.proxy->host.empty();
  const bool proxyCredentials = viaProxy && !request.proxy->user.empty();
  if (viaProxy) {
    curl_easy_setopt(c, CURLOPT_PROXY, request.proxy->host.c_str());
    curl_easy_setopt(c, CURLOPT_PROXYPORT, static_cast<long>(request.proxy->port));
    curl_easy_setopt(c, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
    // Every host goes through it: curl would read a no_proxy list from the environment.
    curl_easy_setopt(c, CURLOPT_NOPROXY, "");
    if (proxyCredentials) {
      curl_easy_setopt(c, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
      curl_easy_setopt(c, CURLOPT_PROXYUSERNAME, request.proxy->user.c_str());
      curl_easy_setopt(c, CURLOPT_PROXYPASSWORD, request.proxy->password.c_str());
    }
  } else {
    // Ignore proxies named by the environment: the configuration decides.
    curl_easy_setopt(c, CURLOPT_PROXY, "");
  }

  if (request.cancel) {
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, cancelled);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(request.cancel));
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  }
  const CURLcode rc = curl_easy_perform(c);
  if (rc == CURLE_ABORTED_BY_CALLBACK)
    return NET_TIMEOUT;
  if (sink.noMemory)
    return NET_NO_MEMORY;
  if (sink.tooLarge) {
    response.body.clear();
    response.body.shrink_to_fit();
    return NET_TOO_LARGE;
  }
  long status = 0;
  long proxyStatus = 0;
  // Through an HTTP proxy an ftp URL travels as HTTP, and the proxy's status decides.
  if (scheme != "ftp" || viaProxy)
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_getinfo(c, CURLINFO_HTTP_CONNECTCODE, &proxyStatus);
  char* type = nullptr;
  if (curl_easy_getinfo(c, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK)
    response.contentType = mediaType(type);
  response.status = status;
  return netResultOf(rc, status, proxyStatus, proxyCredentials);
}
