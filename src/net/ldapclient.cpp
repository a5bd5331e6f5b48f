#include "net/ldapclient.h"

#include "net/netclient.h"

#include <ldap.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <memory>
#include <new>

namespace {

struct LdapErrorRow {
  int ldapCode;
  int32_t result;
};

const LdapErrorRow ldapErrorTable[] = {
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
};

struct LdapDeleter {
  void operator()(LDAP* ld) const { ldap_unbind_ext_s(ld, nullptr, nullptr); }
};
struct UrlDeleter {
  void operator()(LDAPURLDesc* d) const { ldap_free_urldesc(d); }
};
struct MessageDeleter {
  void operator()(LDAPMessage* m) const { ldap_msgfree(m); }
};
struct AttributeNameDeleter {
  void operator()(char* name) const { ldap_memfree(name); }
};
struct BerDeleter {
  void operator()(BerElement* ber) const { ber_free(ber, 0); }
};
struct ValuesDeleter {
  void operator()(berval** v) const { ldap_value_free_len(v); }
};

// The attribute description was asked for: the same type, options such as ";binary" aside
// (a server may add the option to a type asked without it, or the reverse).
bool asked(const std::vector<std::string>& attributes, const char* description)
{
  const char* end = std::strchr(description, ';');
  const size_t length = end ? static_cast<size_t>(end - description) : std::strlen(description);
  for (const std::string& a : attributes) {
    const size_t own = std::min(a.find(';'), a.size());
    if (own == length && strncasecmp(a.c_str(), description, length) == 0)
      return true;
  }
  return false;
}

// A host name or an IP address, and nothing else: libldap reads the text it opens as a list of
// URLs split at blanks and commas, so a decoded host could name other servers and schemes.
bool plainHost(const char* host)
{
  for (const char* p = host; *p; ++p)
    if (!std::isalnum(static_cast<unsigned char>(*p)) && *p != '-' && *p != '.' && *p != '_' &&
        *p != ':')
      return false;
  return true;
}

bool hostResolves(const char* host)
{
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host, nullptr, &hints, &found);
  if (found)
    freeaddrinfo(found);
  return rc != EAI_NONAME && rc != EAI_FAIL && rc != EAI_NODATA;
}

}  // namespace

int32_t ldapResultOf(int ldapCode)
{
  for (const LdapErrorRow& row : ldapErrorTable)
    if (row.ldapCode == ldapCode)
      return row.result;
  return NET_PROTOCOL;
}

std::string ldapFilterValue(const std::string& value)
{
  std::string out;
  for (unsigned char c : value) {
    if (c == '*' || c == '(' || c == ')' || c == '\\' || c == 0) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "\\%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

namespace {

std::unique_ptr<LDAPURLDesc, UrlDeleter> parseLdapUrl(const std::string& url)
{
  LDAPURLDesc* parsed = nullptr;
  if (netUrlScheme(url) != "ldap" || ldap_url_parse(url.c_str(), &parsed) != LDAP_URL_SUCCESS)
    return nullptr;
  return std::unique_ptr<LDAPURLDesc, UrlDeleter>(parsed);
}

}  // namespace

std::string ldapUrlBase(const std::string& url)
{
  const auto parsed = parseLdapUrl(url);
  return parsed && parsed->lud_dn ? parsed->lud_dn : "";
}

std::vector<std::string> ldapUrlAttributes(const std::string& url)
{
  std::vector<std::string> out;
  const auto parsed = parseLdapUrl(url);
  for (char** a = parsed ? parsed->lud_attrs : nullptr; a && *a; ++a)
    out.push_back(*a);
  return out;
}

int32_t ldapFetch(const LdapQuery& query, std::vector<std::vector<uint8_t>>& values)
{
  if (netUrlScheme(query.url) != "ldap")
    return NET_PROTOCOL;
  LDAPURLDesc* parsed = nullptr;
  if (ldap_url_parse(query.url.c_str(), &parsed) != LDAP_URL_SUCCESS)
    return NET_PROTOCOL;
  std::unique_ptr<LDAPURLDesc, UrlDeleter> url(parsed);
  if (!url->lud_host || !*url->lud_host)
    return NET_NO_SERVER;
  if (!plainHost(url->lud_host))
    return NET_PROTOCOL;
  const int port = url->lud_port ? url->lud_port : 389;
  const bool ipv6 = std::strchr(url->lud_host, ':') != nullptr;
  const std::string server = "ldap://" + std::string(ipv6 ? "[" : "") + url->lud_host +
                             (ipv6 ? "]" : "") + ":" + std::to_string(port);
  const std::string base = !query.base.empty() ? query.base : (url->lud_dn ? url->lud_dn : "");

  LDAP* raw = nullptr;
  const int made = ldap_initialize(&raw, server.c_str());
  if (made != LDAP_SUCCESS || !raw)  // out of memory, or a server text libldap cannot read
    return made == LDAP_NO_MEMORY ? NET_NO_MEMORY : NET_PROTOCOL;
  std::unique_ptr<LDAP, LdapDeleter> ld(raw);
  const int version = LDAP_VERSION3;
  ldap_set_option(raw, LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_option(raw, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  timeval tv{query.timeoutMs / 1000, static_cast<long>((query.timeoutMs % 1000) * 1000)};
  ldap_set_option(raw, LDAP_OPT_NETWORK_TIMEOUT, &tv);
  ldap_set_option(raw, LDAP_OPT_TIMEOUT, &tv);
  ldap_set_option(raw, LDAP_OPT_SIZELIMIT, &query.maxEntries);
  // No single message may grow past the cap while libldap reads it.
  Sockbuf* sb = nullptr;
  if (ldap_get_option(raw, LDAP_OPT_SOCKBUF, &sb) == LDAP_OPT_SUCCESS && sb) {
    ber_len_t most = static_cast<ber_len_t>(query.maxBytes) + 4096;
    ber_sockbuf_ctrl(sb, LBER_SB_OPT_SET_MAX_INCOMING, &most);
  }

  berval anonymous{0, nullptr};
  int rc = ldap_sasl_bind_s(raw, "", LDAP_SASL_SIMPLE, &anonymous, nullptr, nullptr, nullptr);
  if (rc == LDAP_SERVER_DOWN && !hostResolves(url->lud_host))
    return NET_NO_SERVER;  // libldap tells a name that does not resolve from a dead server no more
  if (rc != LDAP_SUCCESS)
    return ldapResultOf(rc);

  std::vector<char*> attrs;
  for (const std::string& a : query.attributes)
    attrs.push_back(const_cast<char*>(a.c_str()));
  attrs.push_back(nullptr);
  const int scope = query.scope == LDAP_QUERY_SUBTREE ? LDAP_SCOPE_SUBTREE : LDAP_SCOPE_BASE;
  int id = 0;
  rc = ldap_search_ext(raw, base.c_str(), scope, query.filter.c_str(), attrs.data(), 0, nullptr,
                       nullptr, &tv, query.maxEntries, &id);
  if (rc != LDAP_SUCCESS)
    return ldapResultOf(rc);
  // One entry at a time, so that the cap bounds what is held, not only what is kept: a server
  // may send any number of entries, each up to the size of one message.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(query.timeoutMs);
  size_t total = 0;
  int entries = 0;
  auto stop = [&](int32_t result) {
    ldap_abandon_ext(raw, id, nullptr, nullptr);
    return result;
  };
  try {
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || (query.cancel && query.cancel->load()))
        return stop(NET_TIMEOUT);
      // A search that may be cancelled waits in slices, to look at the flag between them.
      const long long slice = query.cancel ? std::min<long long>(left.count(), 250000) : left.count();
      timeval wait{static_cast<time_t>(slice / 1000000), static_cast<suseconds_t>(slice % 1000000)};
      LDAPMessage* message = nullptr;
      const int type = ldap_result(raw, id, LDAP_MSG_ONE, &wait, &message);
      std::unique_ptr<LDAPMessage, MessageDeleter> held(message);
      if (type == 0 && slice < left.count())
        continue;
      if (type == 0)
        return stop(NET_TIMEOUT);
      if (type < 0) {
        int code = LDAP_OTHER;
        ldap_get_option(raw, LDAP_OPT_RESULT_CODE, &code);
        return ldapResultOf(code);
      }
      if (type == LDAP_RES_SEARCH_RESULT) {
        int code = LDAP_OTHER;
        if (ldap_parse_result(raw, message, &code, nullptr, nullptr, nullptr, nullptr, 0) !=
            LDAP_SUCCESS)
          return NET_PROTOCOL;
        return code == LDAP_SUCCESS || (code == LDAP_SIZELIMIT_EXCEEDED && entries > 0)
                   ? NET_OK
                   : ldapResultOf(code);
      }
      if (type != LDAP_RES_SEARCH_ENTRY)
        continue;  // references are not followed
      if (++entries > query.maxEntries)
        return stop(NET_OK);  // what a server that ignores the size limit sent first
      BerElement* walk = nullptr;
      char* first = ldap_first_attribute(raw, message, &walk);
      std::unique_ptr<BerElement, BerDeleter> walking(walk);
      for (char* name = first; name; name = ldap_next_attribute(raw, message, walk)) {
        std::unique_ptr<char, AttributeNameDeleter> ownedName(name);
        if (!asked(query.attributes, name))
          continue;
        std::unique_ptr<berval*, ValuesDeleter> vals(ldap_get_values_len(raw, message, name));
        if (!vals)
          continue;
        for (berval** v = vals.get(); *v; ++v) {
          if ((*v)->bv_len > query.maxBytes - total)
            return stop(NET_TOO_LARGE);
          total += (*v)->bv_len;
          const uint8_t* p = reinterpret_cast<const uint8_t*>((*v)->bv_val);
          values.emplace_back(p, p + (*v)->bv_len);
        }
      }
    }
  } catch (const std::bad_alloc&) {
    return stop(NET_NO_MEMORY);
  }
}
