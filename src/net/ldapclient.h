// One LDAP search over libldap: protocol 3, anonymous simple bind, the values of binary
// attributes (certificates, CRLs) of the entries found.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr int LDAP_QUERY_BASE = 0;     // the base entry only
constexpr int LDAP_QUERY_SUBTREE = 2;  // the base and everything below it

struct LdapQuery {
  std::string url;   // ldap://host[:port][/dn]; the dn is the base unless base is given
  std::string base;  // RFC 4514 text
  int scope = LDAP_QUERY_BASE;
  std::string filter = "(objectClass=*)";
  std::vector<std::string> attributes;
  size_t maxBytes = 1024 * 1024;  // all values together, and any one message
  long timeoutMs = 30000;
  int maxEntries = 1000;
  // When given and set, the search stops within a quarter of a second (NET_TIMEOUT).
  const std::atomic<bool>* cancel = nullptr;
};

// The network result of an LDAP result code.
int32_t ldapResultOf(int ldapCode);

// Runs the search and appends every value of the asked attributes: NET_OK (possibly no value),
// or a network result code.
int32_t ldapFetch(const LdapQuery& query, std::vector<std::vector<uint8_t>>& values);

// The base DN an ldap URL names, percent-decoded; empty for none or for another URL.
std::string ldapUrlBase(const std::string& url);
// The attributes an ldap URL names (none for none or for another URL).
std::vector<std::string> ldapUrlAttributes(const std::string& url);

// A value escaped for a search filter (RFC 4515).
std::string ldapFilterValue(const std::string& value);
