// The network manager of a library context: fetches CRLs, OCSP answers, certificates and
// time-stamps from the configured servers over netFetch (http, https, ftp) and ldapFetch. Every
// query itself honours the switches that turn network work off (option 18) and CRL/OCSP
// fetching off (option 16), whoever calls it. The configuration is seen through
// NetworkSettings, so this layer stays below the context's.
#pragma once

#include "net/absmutex.h"
#include "net/netclient.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class ASNinteger;
struct LdapQuery;
class DistinguishedName;
class OCSPResponse;
class ReportStream;
class SignedCertRevList;
class SignedCertificate;
class TimeStampResponse;

// Server kinds of the configuration's server table.
constexpr int32_t NET_SERVER_CERTIFICATES = 1;
constexpr int32_t NET_SERVER_CRL = 2;
constexpr int32_t NET_SERVER_TIMESTAMP = 3;
constexpr int32_t NET_SERVER_OCSP = 4;

// Options the queries read.
constexpr int32_t NET_OPTION_NO_CRL_OCSP = 16;
constexpr int32_t NET_OPTION_NO_NETWORK = 18;

// The registry value of the time-out in seconds, under HKEY_CURRENT_USER, then
// HKEY_LOCAL_MACHINE.
extern const char* const NET_REGISTRY_KEY;    // "SOFTWARE\MIRVAL KSO\TALVORIN\3.9"
extern const char* const NET_TIMEOUT_VALUE;   // "nettimeout"
constexpr long NET_DEFAULT_TIMEOUT_MS = 30000;
// A number of seconds (DWORD or QWORD) under NET_REGISTRY_KEY of HKEY_CURRENT_USER, else of
// HKEY_LOCAL_MACHINE (where the user's is absent or 0); false when neither gives one above 0.
bool netRegistrySeconds(const char* name, uint64_t& seconds);

// The configuration's period (seven days): how long fetched certificates are remembered.
constexpr int64_t NET_CERTIFICATE_CACHE_SECONDS = 604800;

// What the network manager asks of the context's configuration.
class NetworkSettings {
 public:
  virtual ~NetworkSettings() = default;
  // A numbered option's value.
  virtual int32_t option(int32_t number) const = 0;
  // The URLs of the servers of a kind, of one issuer, or of all issuers when issuer is NULL.
  virtual void servers(int32_t kind, const DistinguishedName* issuer,
                       std::vector<std::string>& urls) const = 0;
  // The proxy of the profile (an empty host: none).
  virtual NetProxy proxy() const { return NetProxy(); }
  // How long, in seconds, the cached network certificate query keeps what it fetched.
  virtual int64_t certificateCachePeriod() const { return NET_CERTIFICATE_CACHE_SECONDS; }
  // The certificates https servers must chain to (a PEM file; empty: the system's store).
  virtual std::string caFile() const { return std::string(); }
};

using CrlList = std::vector<std::unique_ptr<SignedCertRevList>>;
using CertList = std::vector<std::unique_ptr<SignedCertificate>>;

class NetworkManager {
 public:
  explicit NetworkManager(const NetworkSettings* settings = nullptr) : settings(settings) {}
  void setSettings(const NetworkSettings* s) { settings = s; }

  // Reads the time-out from the registry; 0, or 23 when the transfer library cannot start.
  int32_t init();
  long timeoutMs() const { return timeout; }
  void setTimeoutMs(long ms) { timeout = ms; }
  // The cap on one CRL download (NET_DEFAULT_CRL_CAP until set).
  void setCrlCap(size_t bytes) { crlCap = bytes; }
  // Transfers stop soon after the flag is set (a background thread asked to end); null: never.
  void setCancel(const std::atomic<bool>* flag) { cancel = flag; }

  // False when network work is off, for kinds 2 and 4 also when CRL/OCSP fetching is off (the
  // reason written into report when one is given), or when no server of the kind (and issuer)
  // is configured.
  bool canQueryNetwork(int32_t kind, const DistinguishedName* issuer,
                       ReportStream* report = nullptr) const;

  // POSTs the DER request as "application/ocsp-request" to one http or https URL. 0 and the
  // decoded answer, or a network result (28 for an answer of another type or one that does not
  // decode; 31 while OCSP fetching is off).
  int32_t queryForOcsp(const std::string& url, const std::vector<uint8_t>& request,
                       OCSPResponse& response);
  // Sends the request to the configured OCSP servers of the certificate's issuer in turn; 0 at
  // the first answer, else the last failure (31 without a server).
  int32_t findOcspServers(const SignedCertificate& certificate, const SignedCertificate& issuer,
                          const std::vector<uint8_t>& request, OCSPResponse& response);

  // The CRLs at one ldap, http, https or ftp URI (for ldap without a base DN in the URI, the
  // issuer's entry). 0 and at least one CRL appended; 16 while CRL fetching is off; else a
  // network result (28 for data that is no CRL). With a non-zero flag the network cache answers
  // when it holds the URI's CRLs, and keeps what is fetched, marked: they go at the next
  // removeMarkedCrlItems (the start of the next verification), so one verification fetches a
  // URI once. With flag 0 every fetch is fresh and nothing is kept.
  int32_t queryForCRL(const std::string& uri, const DistinguishedName* issuer, CrlList& out,
                      int32_t flag, ReportStream* report);
  // The issuer's CRLs from its configured CRL servers, the first that answers (each through
  // queryForCRL with the flag); 0, 16 when none was found or fetching is off, or the last
  // failure.
  int32_t queryForIssuerCrl(const DistinguishedName& issuer, CrlList& out, ReportStream* report,
                            int32_t flag);

  // Certificates of the issuer with the serial number from the configured certificate servers
  // of the issuer; 0 when a query ran (the list may stay empty), 31 when none could.
  int32_t queryForCertificateById(const DistinguishedName& issuer, const ASNinteger& serial,
                                  CertList& out);
  // Certificates whose subject is the name, from every configured certificate server; 0 when a
  // query ran (the list may stay empty), 31 when none could.
  int32_t fetchCertificatesByName(const DistinguishedName& name, CertList& out);
  // fetchCertificatesByName through the cached network certificate query: what a query that
  // ran fetched is remembered, per name and server list, for the settings' cache period.
  int32_t queryForCertificatesByDn(const DistinguishedName& name, CertList& out);
  // Certificates of the e-mail address: a subtree search "(mail=address)" under `base` on every
  // configured ldap certificate server whose URL names that base DN (ASCII case aside). Kept
  // are the certificates that carry the address (subject emailAddress or subjectAltName
  // rfc822Name) and, with encryptionOnly, whose key may encrypt (keyUsage absent, or with
  // keyEncipherment or dataEncipherment). A non-zero `parameter` (option 22) sends the query
  // through the cached network certificate query, as queryForCertificatesByDn; 0 asks the
  // servers every time. 0, also when network work is off or no server answered (the list may
  // stay empty); 1 when memory ran out.
  int32_t queryForCertificates(const std::string& base, const std::string& address,
                               CertList& out, bool encryptionOnly, int32_t parameter);

  // POSTs the request as "application/timestamp-query" to the time-stamp servers whose index
  // bits are set in the mask, the first that answers. 0 and the decoded answer; 28 for an
  // answer of another type or one that does not decode; 31 when no server of the mask exists
  // or network work is off; else a code of the time-stamp list (17, 19, 20, 21, 25, 26, 27, 1,
  // 50, 51; 17 also for a server whose name does not resolve).
  int32_t queryForTimeStamp(const uint8_t* request, size_t length, TimeStampResponse& response,
                            uint32_t serverMask);

  // The certificate bundle a certificate server offers: at an http, https or ftp URL a file of
  // DER certificates one after another; at an ldap URL every userCertificate and cACertificate
  // under the URL's base DN. 0 with the certificates that decode appended and `raw` holding
  // what was fetched (the values one after another), 28 when nothing in it is a certificate,
  // else the network result. Honours option 18.
  int32_t fetchCertificateBundle(const std::string& url, CertList& out, std::vector<uint8_t>& raw);

 private:
  bool networkOff(ReportStream* report) const;
  bool crlOcspOff(ReportStream* report) const;
  std::vector<std::string> serverUrls(int32_t kind, const DistinguishedName* issuer) const;
  // A transfer of the URL with the configured time-out, trust and proxy (which must outlive it).
  NetRequest transfer(const std::string& url, const NetProxy& proxy, size_t maxBytes) const;
  NetProxy configuredProxy() const { return settings ? settings->proxy() : NetProxy(); }
  int32_t post(const std::string& url, const char* type, const uint8_t* body, size_t length,
               NetResponse& answer) const;
  // The values at an ldap URL (the query's attributes), or the one body at another URL.
  int32_t fetchValues(LdapQuery& query, std::vector<std::vector<uint8_t>>& bodies) const;
  int32_t fetchCertificates(const std::string& url, const std::string& base, int scope,
                            const std::string& filter, CertList& out) const;
  // The cached network certificate query: the key of a query (with the servers it asks),
  // the answer kept for it within the period, and the keeping of what a query fetched (the
  // certificates of `fetched` from `from` on). Throw std::bad_alloc.
  std::string certificateQueryKey(const std::string& what) const;
  bool cachedCertificates(const std::string& key, CertList& out) const;
  void rememberCertificates(const std::string& key, const CertList& fetched, size_t from) const;

  const NetworkSettings* settings;
  long timeout = NET_DEFAULT_TIMEOUT_MS;
  size_t crlCap = NET_DEFAULT_CRL_CAP;
  const std::atomic<bool>* cancel = nullptr;
};

// The cap on a certificate bundle.
constexpr size_t NET_BUNDLE_CAP = 16u * 1024 * 1024;

// The certificates of a bundle: DER values one after another. Each that decodes as a whole
// certificate is appended (one that does not spoils only itself); a value whose length runs
// past the end ends the walk. Throws std::bad_alloc.
void splitCertificateBundle(const uint8_t* data, size_t length, CertList& out);

// The process-wide cache of network results, shared by every context and thread.
class CacheManager {
 public:
  static CacheManager& instance();
  // Keeps a CRL under a key (the URI it came from); marked items go at the next
  // removeMarkedCrlItems.
  void addCrlItem(std::unique_ptr<SignedCertRevList> crl, bool marked,
                  const std::string& key = std::string());
  // Copies of the CRLs kept under the key appended; false when none is kept. Throws
  // std::bad_alloc.
  bool findCrlItems(const std::string& key, CrlList& out);
  // Under the cache's mutex deletes every cached CRL item whose flag is set.
  void removeMarkedCrlItems();
  size_t crlItemCount();

  // The certificates (DER) a query of the key fetched at `fetched` (seconds); the query of the
  // key found none newer than `notBefore` when this answers false.
  void addCertificates(const std::string& key, int64_t fetched,
                       const std::vector<std::vector<uint8_t>>& der);
  bool findCertificates(const std::string& key, int64_t notBefore,
                        std::vector<std::vector<uint8_t>>& der);
  // Bounds of the certificate cache (oldest queries go first).
  static constexpr size_t MAX_CERTIFICATE_QUERIES = 256;

 private:
  struct CrlItem {
    std::unique_ptr<SignedCertRevList> crl;
    bool marked = false;
    std::string key;
  };
  struct CertificateQuery {
    int64_t fetched = 0;
    std::vector<std::vector<uint8_t>> der;
  };
  MIRVALLIBS::Abs_Mutex mutex;
  std::vector<CrlItem> crlItems;
  std::map<std::string, CertificateQuery> certificateQueries;
};

// The name as an LDAP distinguished name (RFC 4514: last RDN first, special characters
// escaped); empty when a value cannot be shown.
std::string ldapDnText(const DistinguishedName& name);
