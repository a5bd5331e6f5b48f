#include "net/netmanager.h"

#include "asn1/asnbitst.h"
#include "asn1/asnint.h"
#include "base/reportstream.h"
#include "base/workaccount.h"
#include "net/ldapclient.h"
#include "pki/cms/tsp.h"
#include "pki/common/extension.h"
#include "pki/common/oids.h"
#include "pki/names/dname.h"
#include "pki/names/dnprint.h"
#include "pki/names/dntext.h"
#include "pki/ocsp/ocspresp.h"
#include "pki/x509/cert.h"
#include "pki/x509/crl.h"
#include "pki/x509/x509ext.h"
#include "platform/clock.h"
#include "platform/registry.h"

#include <algorithm>
#include <cctype>
#include <new>

const char* const NET_REGISTRY_KEY = "SOFTWARE\\MIRVAL KSO\\TALVORIN\\3.9";
const char* const NET_TIMEOUT_VALUE = "nettimeout";

namespace {

// A time-out above an hour is a mistyped value, not a wish.
constexpr uint64_t MAX_TIMEOUT_SECONDS = 3600;

// Units a name's directory text is charged: per attribute, and per 16 octets of the text, as a
// name comparison's walk is.
constexpr uint64_t LDAP_DN_ATTRIBUTE_UNITS = 2;

bool readSeconds(platform::RegistryRoot root, const char* name, uint64_t& seconds)
{
  platform::RegistryKey key;
  if (key.open(root, NET_REGISTRY_KEY, false) != platform::RegistryStatus::Ok)
    return false;
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (key.queryValue(name, type, data) != platform::RegistryStatus::Ok)
    return false;
  if ((type == platform::REGISTRY_DWORD && data.size() == 4) ||
      (type == platform::REGISTRY_QWORD && data.size() == 8)) {
    seconds = 0;
    for (size_t i = data.size(); i-- > 0;)
      seconds = (seconds << 8) | data[i];
    return true;
  }
  return false;
}

// The length of the DER value (a SEQUENCE) at p, header included; 0 when it is none or runs
// past n.
size_t derValueLength(const uint8_t* p, size_t n)
{
  if (n < 2 || p[0] != 0x30)
    return 0;
  size_t length = p[1], header = 2;
  if (length & 0x80) {
    const size_t count = length & 0x7F;
    if (count == 0 || count > 4 || n < 2 + count)
      return 0;
    length = 0;
    for (size_t i = 0; i < count; ++i)
      length = length << 8 | p[2 + i];
    header += count;
  }
  return length <= n - header ? header + length : 0;
}

// Decodes one whole DER value that keeps a private copy of its octets.
bool decodeWhole(ASNobject& object, const std::vector<uint8_t>& der)
{
  if (der.empty() || der.size() > static_cast<size_t>(ASN_MAX_LENGTH))
    return false;
  return object.decodeVector(der, ASN_FLAG_CONST | ASN_FLAG_COPY) == static_cast<int>(der.size());
}

const char* const CERTIFICATE_ATTRIBUTES[] = {"userCertificate;binary", "cACertificate;binary"};
const char* const CRL_ATTRIBUTES[] = {"certificateRevocationList;binary",
                                      "authorityRevocationList;binary"};

// Equal texts, ASCII letter case aside (e-mail addresses and DNs as people type them).
bool sameAsciiText(const std::string& a, const char* b, size_t length)
{
  if (a.size() != length)
    return false;
  for (size_t i = 0; i < length; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// The certificate carries the address in its subject's emailAddress or its subjectAltName's
// rfc822Name. Throws std::bad_alloc.
bool carriesAddress(const SignedCertificate& certificate, const std::string& address)
{
  const DistinguishedName& subject = certificate.tbsCertificate.subject;
  bool found = false;
  subject.forEachAttribute([&](const AttributeValue* a) {
    found = a && a->type == pkcs_9_at_emailAddress && a->value.length > 0 && a->value.content() &&
            sameAsciiText(address, reinterpret_cast<const char*>(a->value.content()),
                          static_cast<size_t>(a->value.length));
    return !found;
  });
  if (found) return true;
  const Extension* e =
      findExtensionByOid(*certificate.tbsCertificate.extensions, id_ce_subjectAltName);
  GeneralNames names;
  if (!e || names.decodeOctets(e->extnValue) != e->extnValue.length)
    return false;
  for (POSITION pos = names.GetHeadPosition(); pos;) {
    const ASNany* name = names.GetNext(pos);
    if (name && name->getTag() == 0x81 && name->length > 0 && name->content() &&  // rfc822Name
        sameAsciiText(address, reinterpret_cast<const char*>(name->content()),
                      static_cast<size_t>(name->length)))
      return true;
  }
  return false;
}

// Without keyUsage any use is open; an unreadable one opens none.
bool mayEncrypt(const SignedCertificate& certificate)
{
  const Extension* e = findExtensionByOid(*certificate.tbsCertificate.extensions, id_ce_keyUsage);
  if (!e)
    return true;
  constexpr int KEY_ENCIPHERMENT = 2, DATA_ENCIPHERMENT = 3;
  ASNbitstr usage;
  return usage.decodeOctets(e->extnValue) == e->extnValue.length &&
         (usage.getBit(KEY_ENCIPHERMENT) == 1 || usage.getBit(DATA_ENCIPHERMENT) == 1);
}

// The time-stamp list knows fewer codes than the transfers give; the rest fold into the
// nearest one it knows.
int32_t timeStampResult(int32_t code)
{
  switch (code) {
    case NET_OK: case NET_NO_MEMORY: case 2: case NET_CONNECT_FAILED: case NET_CLOSED:
    case NET_SOCKET: case NET_TIMEOUT: case NET_PROTOCOL: case NET_NOT_FOUND: case NET_REFUSED:
    case NET_BAD_FORMAT: case NET_NO_SERVER: case NET_PROXY_AUTH: case NET_PROXY_BAD_LOGIN:
      return code;
    case NET_TOO_LARGE:
      return NET_BAD_FORMAT;  // no time-stamp answer is that large
    case NET_BAD_LOGIN:
      return NET_REFUSED;
    default:
      return NET_PROTOCOL;
  }
}

// A hexadecimal number as decimal digits.
std::string decimalOfHex(const char* hex)
{
  std::vector<uint8_t> digits;  // least significant first
  for (const char* p = hex; *p; ++p) {
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    unsigned carry = static_cast<unsigned>(c >= 'a' ? c - 'a' + 10 : c - '0');
    for (uint8_t& d : digits) {
      const unsigned x = d * 16u + carry;
      d = static_cast<uint8_t>(x % 10);
      carry = x / 10;
    }
    for (; carry; carry /= 10)
      digits.push_back(static_cast<uint8_t>(carry % 10));
  }
  std::string out;
  for (size_t i = digits.size(); i-- > 0;)
    out += static_cast<char>('0' + digits[i]);
  return out.empty() ? "0" : out;
}

// RFC 4514 names the types every server knows by their short names; any other type goes as
// its dotted OID (dnAppendType writes it when the label is null), which every server reads.
const char* ldapTypeLabel(const ASNobjectId& type, bool)
{
  const DnAttributeRecord* row = dnAttributeByOid(type);
  return row ? row->ldapShortName : nullptr;
}

}  // namespace

std::string ldapDnText(const DistinguishedName& name)
{
  std::string out;
  DnTextStyle style;
  style.label = ldapTypeLabel;
  // One walk, the last RDN first: a stranger's issuer of thousands of attributes costs their
  // number, not its square (each attribute reached by index walked the RDN again). Each
  // attribute ticks the document's account, and the walk is charged as name comparisons are;
  // once the account is over there is no text, and nothing is asked.
  uint64_t attributes = 0;
  for (POSITION r = name.GetTailPosition(); r;) {
    const RDname* rdn = name.GetPrev(r);
    if (!rdn || rdn->GetCount() == 0)
      return std::string();
    if (!out.empty())
      out += ',';
    bool first = true;
    for (POSITION a = rdn->GetHeadPosition(); a;) {
      const AttributeValue* attribute = rdn->GetNext(a);
      if (!attribute || !workTick())
        return std::string();
      ++attributes;
      std::string type;
      std::string value;
      const int typeCode = dnAppendType(type, attribute->type, style);
      if ((typeCode != DNTEXT_OK && typeCode != DNTEXT_OID) ||
          dnAppendValue(value, attribute->value) != DNTEXT_OK)
        return std::string();
      if (!first)
        out += '+';
      first = false;
      out += type;
      out += '=';
      for (size_t k = 0; k < value.size(); ++k) {
        const char c = value[k];
        const bool edge = (k == 0 && (c == ' ' || c == '#')) || (k + 1 == value.size() && c == ' ');
        if (edge || c == ',' || c == '+' || c == '"' || c == '\\' || c == '<' || c == '>' ||
            c == ';' || c == '=')
          out += '\\';
        out += c;
      }
    }
  }
  if (!workCharge(LDAP_DN_ATTRIBUTE_UNITS * attributes + out.size() / 16))
    return std::string();
  return out;
}

bool netRegistrySeconds(const char* name, uint64_t& seconds)
{
  seconds = 0;
  if (!readSeconds(platform::RegistryRoot::CurrentUser, name, seconds) || seconds == 0)
    readSeconds(platform::RegistryRoot::LocalMachine, name, seconds);
  return seconds > 0;
}

int32_t NetworkManager::init()
{
  // A zero is no time-out at all: the machine's value, or the default, stands then.
  uint64_t seconds = 0;
  if (netRegistrySeconds(NET_TIMEOUT_VALUE, seconds))
    timeout = static_cast<long>(std::min(seconds, MAX_TIMEOUT_SECONDS) * 1000);
  return netStartup() ? 0 : 23;
}

bool NetworkManager::networkOff(ReportStream* report) const
{
  if (settings && settings->option(NET_OPTION_NO_NETWORK) != 0) {
    if (report)
      *report << "Praca sieciowa jest wyłączona.\r\n";
    return true;
  }
  return false;
}

bool NetworkManager::crlOcspOff(ReportStream* report) const
{
  if (networkOff(report))
    return true;
  if (settings && settings->option(NET_OPTION_NO_CRL_OCSP) != 0) {
    if (report)
      *report << "Pobieranie list CRL/odpowiedzi OSCP z sieci jest wyłączone.\r\n";
    return true;
  }
  return false;
}

std::vector<std::string> NetworkManager::serverUrls(int32_t kind,
                                                    const DistinguishedName* issuer) const
{
  std::vector<std::string> urls;
  if (settings)
    settings->servers(kind, issuer, urls);
  return urls;
}

bool NetworkManager::canQueryNetwork(int32_t kind, const DistinguishedName* issuer,
                                     ReportStream* report) const
{
  const bool off = (kind == NET_SERVER_CRL || kind == NET_SERVER_OCSP) ? crlOcspOff(report)
                                                                        : networkOff(report);
  return !off && !serverUrls(kind, issuer).empty();
}

NetRequest NetworkManager::transfer(const std::string& url, const NetProxy& proxy,
                                    size_t maxBytes) const
{
  NetRequest request;
  request.url = url;
  request.maxBytes = maxBytes;
  request.timeoutMs = timeout;
  request.proxy = &proxy;
  request.cancel = cancel;
  if (settings)
    request.caFile = settings->caFile();
  return request;
}

int32_t NetworkManager::post(const std::string& url, const char* type, const uint8_t* body,
                             size_t length, NetResponse& answer) const
{
  const NetProxy proxy = configuredProxy();
  NetRequest request = transfer(url, proxy, NET_SMALL_ANSWER_CAP);
  request.post = true;
  request.contentType = type;
  request.body = body;
  request.bodyLength = length;
  const std::string scheme = netUrlScheme(url);
  if (scheme != "http" && scheme != "https")
    return NET_PROTOCOL;
  return netFetch(request, answer);
}

int32_t NetworkManager::queryForOcsp(const std::string& url, const std::vector<uint8_t>& request,
                                     OCSPResponse& response)
{
  if (crlOcspOff(nullptr))
    return NET_NO_SERVER;
  NetResponse answer;
  const int32_t rc = post(url, "application/ocsp-request", request.data(), request.size(), answer);
  if (rc != NET_OK)
    return rc;
  if (answer.contentType != "application/ocsp-response" || !decodeWhole(response, answer.body))
    return NET_BAD_FORMAT;
  return NET_OK;
}

int32_t NetworkManager::findOcspServers(const SignedCertificate& certificate,
                                        const SignedCertificate& issuer,
                                        const std::vector<uint8_t>& request,
                                        OCSPResponse& response)
{
  (void)certificate;  // the request already names it
  if (crlOcspOff(nullptr))
    return NET_NO_SERVER;
  int32_t rc = NET_NO_SERVER;
  for (const std::string& url : serverUrls(NET_SERVER_OCSP, &issuer.tbsCertificate.subject)) {
    rc = queryForOcsp(url, request, response);
    if (rc == NET_OK || rc == NET_NO_MEMORY)
      return rc;
  }
  return rc;
}

int32_t NetworkManager::fetchValues(LdapQuery& query,
                                    std::vector<std::vector<uint8_t>>& bodies) const
{
  query.timeoutMs = timeout;
  query.cancel = cancel;
  if (netUrlScheme(query.url) == "ldap")
    return ldapFetch(query, bodies);
  const NetProxy proxy = configuredProxy();
  NetResponse answer;
  const int32_t rc = netFetch(transfer(query.url, proxy, query.maxBytes), answer);
  if (rc == NET_OK)
    bodies.push_back(std::move(answer.body));
  return rc;
}

int32_t NetworkManager::queryForCRL(const std::string& uri, const DistinguishedName* issuer,
                                    CrlList& out, int32_t flag, ReportStream* report)
{
  if (crlOcspOff(report))
    return NET_CRL_NOT_FOUND;
  LdapQuery query;
  query.url = uri;
  if (ldapUrlBase(uri).empty() && issuer) {
    query.base = ldapDnText(*issuer);
    if (workOver())  // the name had no text: the document is refused, nothing is asked
      return NET_CRL_NOT_FOUND;
  }
  const std::string key = uri + "\n" + query.base;
  if (flag != 0) {
    try {
      if (CacheManager::instance().findCrlItems(key, out))
        return NET_OK;
    } catch (const std::bad_alloc&) {
      return NET_NO_MEMORY;
    }
  }
  // A distribution point's URL may name the one list it means (the CRL beside an ARL).
  query.attributes = ldapUrlAttributes(uri);
  if (query.attributes.empty())
    query.attributes.assign(std::begin(CRL_ATTRIBUTES), std::end(CRL_ATTRIBUTES));
  query.maxBytes = crlCap;
  std::vector<std::vector<uint8_t>> bodies;
  const int32_t rc = fetchValues(query, bodies);
  if (rc != NET_OK)
    return rc;
  // A value that is no CRL spoils only itself (an entry may hold a good CRL beside a bad ARL);
  // nothing is handed out unless the query succeeds.
  CrlList found;
  std::vector<const std::vector<uint8_t>*> foundBodies;
  try {
    for (const std::vector<uint8_t>& body : bodies) {
      std::unique_ptr<SignedCertRevList> crl(new SignedCertRevList());
      if (decodeWhole(*crl, body)) {
        found.push_back(std::move(crl));
        foundBodies.push_back(&body);
      }
    }
    if (found.empty())
      return bodies.empty() ? NET_CRL_NOT_FOUND : NET_BAD_FORMAT;
    out.reserve(out.size() + found.size());
  } catch (const std::bad_alloc&) {
    return NET_NO_MEMORY;
  }
  try {
    // The cache outlives the document: once its account is over nothing is read for it, and
    // its copies are read from the answer's octets as the CRLs were, kept only when every one
    // was read whole. A copy the account refused on its way is no CRL (copying a read CRL
    // then fails as an invariant), and a part of an answer is not the answer.
    if (flag != 0 && !workOver()) {
      CrlList copies;
      for (const std::vector<uint8_t>* body : foundBodies) {
        std::unique_ptr<SignedCertRevList> copy(new SignedCertRevList());
        if (!decodeWhole(*copy, *body))
          break;
        copies.push_back(std::move(copy));
      }
      if (copies.size() == found.size())
        for (std::unique_ptr<SignedCertRevList>& copy : copies)
          CacheManager::instance().addCrlItem(std::move(copy), true, key);
    }
  } catch (const std::bad_alloc&) {
    // Not kept: the next query fetches again.
  }
  for (std::unique_ptr<SignedCertRevList>& crl : found)
    out.push_back(std::move(crl));
  return NET_OK;
}

int32_t NetworkManager::queryForIssuerCrl(const DistinguishedName& issuer, CrlList& out,
                                          ReportStream* report, int32_t flag)
{
  if (crlOcspOff(report))
    return NET_CRL_NOT_FOUND;
  int32_t rc = NET_CRL_NOT_FOUND;
  for (const std::string& url : serverUrls(NET_SERVER_CRL, &issuer)) {
    rc = queryForCRL(url, &issuer, out, flag, nullptr);
    if (rc == NET_OK || rc == NET_NO_MEMORY)
      return rc;
  }
  return rc;
}

int32_t NetworkManager::fetchCertificates(const std::string& url, const std::string& base,
                                          int scope, const std::string& filter,
                                          CertList& out) const
{
  LdapQuery query;
  query.url = url;
  query.base = base;
  query.scope = scope;
  query.filter = filter;
  query.attributes.assign(std::begin(CERTIFICATE_ATTRIBUTES), std::end(CERTIFICATE_ATTRIBUTES));
  query.maxBytes = NET_SMALL_ANSWER_CAP;
  std::vector<std::vector<uint8_t>> bodies;
  const int32_t rc = fetchValues(query, bodies);
  if (rc != NET_OK)
    return rc;
  for (const std::vector<uint8_t>& body : bodies) {
    std::unique_ptr<SignedCertificate> certificate(new (std::nothrow) SignedCertificate());
    if (!certificate)
      return NET_NO_MEMORY;
    if (decodeWhole(*certificate, body))  // a stranger's bad entry spoils only itself
      out.push_back(std::move(certificate));
  }
  return NET_OK;
}

int32_t NetworkManager::queryForCertificateById(const DistinguishedName& issuer,
                                                const ASNinteger& serial, CertList& out)
{
  if (networkOff(nullptr))
    return NET_NO_SERVER;
  char hex[2 * 64 + 1];
  if (!serial.toHex(hex, sizeof hex))
    return NET_NOT_FOUND;  // no certificate has a serial number that long
  const std::string issuerDn = ldapDnText(issuer);
  if (issuerDn.empty())
    return NET_NOT_FOUND;
  // The certificate values themselves are matched (RFC 4523 certificateExactMatch, its GSER
  // form: a decimal serial number, the issuer's DN in quotes with quotes doubled).
  std::string quoted;
  for (char c : issuerDn)
    quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  const std::string exact = ldapFilterValue("{ serialNumber " + decimalOfHex(hex) +
                                            ", issuer rdnSequence:\"" + quoted + "\" }");
  const std::string filter =
      "(|(userCertificate=" + exact + ")(cACertificate=" + exact + "))";
  bool ran = false;
  for (const std::string& url : serverUrls(NET_SERVER_CERTIFICATES, &issuer)) {
    CertList fetched;
    if (fetchCertificates(url, std::string(), LDAP_QUERY_SUBTREE, filter, fetched) != NET_OK)
      continue;
    ran = true;
    for (std::unique_ptr<SignedCertificate>& c : fetched) {
      char got[sizeof hex];
      if (c->tbsCertificate.issuer == issuer && c->tbsCertificate.serialNumber.toHex(got, sizeof got) &&
          std::string(got) == hex)
        out.push_back(std::move(c));
    }
    if (!out.empty())
      break;
  }
  return ran ? NET_OK : NET_NO_SERVER;
}

int32_t NetworkManager::fetchCertificatesByName(const DistinguishedName& name, CertList& out)
{
  if (networkOff(nullptr))
    return NET_NO_SERVER;
  const std::string dn = ldapDnText(name);
  if (workOver())  // the name had no text: the document is refused, nothing is asked
    return NET_NO_SERVER;
  bool ran = false;
  for (const std::string& url : serverUrls(NET_SERVER_CERTIFICATES, nullptr)) {
    CertList fetched;
    if (fetchCertificates(url, dn, LDAP_QUERY_BASE, "(objectClass=*)", fetched) != NET_OK)
      continue;
    ran = true;
    for (std::unique_ptr<SignedCertificate>& c : fetched)
      if (c->tbsCertificate.subject == name)
        out.push_back(std::move(c));
  }
  return ran ? NET_OK : NET_NO_SERVER;
}

std::string NetworkManager::certificateQueryKey(const std::string& what) const
{
  std::string key = what;
  for (const std::string& url : serverUrls(NET_SERVER_CERTIFICATES, nullptr))
    key += "\n" + url;
  return key;
}

bool NetworkManager::cachedCertificates(const std::string& key, CertList& out) const
{
  const int64_t period = settings ? settings->certificateCachePeriod() : NET_CERTIFICATE_CACHE_SECONDS;
  std::vector<std::vector<uint8_t>> der;
  if (!CacheManager::instance().findCertificates(key, platform::currentTime() - period, der))
    return false;
  CertList found;
  for (const std::vector<uint8_t>& one : der) {
    std::unique_ptr<SignedCertificate> certificate(new SignedCertificate());
    // It decoded when it was kept: only memory can fail it now, and nothing is lost to that.
    if (!decodeWhole(*certificate, one))
      throw std::bad_alloc();
    found.push_back(std::move(certificate));
  }
  out.reserve(out.size() + found.size());
  for (std::unique_ptr<SignedCertificate>& c : found)
    out.push_back(std::move(c));
  return true;
}

void NetworkManager::rememberCertificates(const std::string& key, const CertList& fetched,
                                          size_t from) const
{
  // An empty answer is not remembered: the servers may have the certificate by the next
  // query (and an answer a failed allocation emptied is no answer).
  if (from >= fetched.size())
    return;
  std::vector<std::vector<uint8_t>> der;
  for (size_t i = from; i < fetched.size(); ++i) {
    der.emplace_back();
    if (fetched[i]->encodeVector(der.back()) < 1)
      return;  // one that cannot be written back: nothing is remembered
  }
  CacheManager::instance().addCertificates(key, platform::currentTime(), der);
}

int32_t NetworkManager::queryForCertificatesByDn(const DistinguishedName& name, CertList& out)
{
  if (networkOff(nullptr))
    return NET_NO_SERVER;
  try {
    std::vector<uint8_t> der;
    if (name.encodeVector(der) < 1)
      return fetchCertificatesByName(name, out);
    const std::string key = certificateQueryKey("dn " + std::string(der.begin(), der.end()));
    if (cachedCertificates(key, out))
      return NET_OK;
    const size_t from = out.size();
    const int32_t rc = fetchCertificatesByName(name, out);
    if (rc == NET_OK)
      rememberCertificates(key, out, from);
    return rc;
  } catch (const std::bad_alloc&) {
    return NET_NO_MEMORY;
  }
}

int32_t NetworkManager::queryForCertificates(const std::string& base, const std::string& address,
                                             CertList& out, bool encryptionOnly,
                                             int32_t parameter)
{
  if (networkOff(nullptr) || address.empty())
    return NET_OK;
  try {
    const std::string key = parameter != 0
                                ? certificateQueryKey("mail " + base + "\n" + address +
                                                      (encryptionOnly ? "\n1" : "\n0"))
                                : std::string();
    if (!key.empty() && cachedCertificates(key, out))
      return NET_OK;
    const size_t from = out.size();
    for (const std::string& url : serverUrls(NET_SERVER_CERTIFICATES, nullptr)) {
      const std::string own = ldapUrlBase(url);
      if (netUrlScheme(url) != "ldap" || !sameAsciiText(base, own.c_str(), own.size()))
        continue;
      CertList fetched;
      const int32_t rc = fetchCertificates(url, base, LDAP_QUERY_SUBTREE,
                                           "(mail=" + ldapFilterValue(address) + ")", fetched);
      if (rc == NET_NO_MEMORY)
        return NET_NO_MEMORY;
      for (std::unique_ptr<SignedCertificate>& c : fetched)
        if (carriesAddress(*c, address) && (!encryptionOnly || mayEncrypt(*c)))
          out.push_back(std::move(c));
    }
    if (!key.empty())
      rememberCertificates(key, out, from);
  } catch (const std::bad_alloc&) {
    return NET_NO_MEMORY;
  }
  return NET_OK;
}

int32_t NetworkManager::queryForTimeStamp(const uint8_t* request, size_t length,
                                          TimeStampResponse& response, uint32_t serverMask)
{
  if (networkOff(nullptr))
    return NET_NO_SERVER;
  const std::vector<std::string> urls = serverUrls(NET_SERVER_TIMESTAMP, nullptr);
  int32_t rc = NET_NO_SERVER;
  for (size_t i = 0; i < urls.size() && i < 32; ++i) {
    if (!(serverMask & (1u << i)))
      continue;
    NetResponse answer;
    rc = post(urls[i], "application/timestamp-query", request, length, answer);
    // A name that does not resolve fails this server only: 31 would end the caller's search.
    if (rc == NET_NO_SERVER)
      rc = NET_CONNECT_FAILED;
    if (rc == NET_OK) {
      if (answer.contentType != "application/timestamp-reply" ||
          !decodeWhole(response, answer.body))
        rc = NET_BAD_FORMAT;
      return rc;
    }
    if (rc == NET_NO_MEMORY)
      break;
  }
  return timeStampResult(rc);
}

int32_t NetworkManager::fetchCertificateBundle(const std::string& url, CertList& out,
                                               std::vector<uint8_t>& raw)
{
  raw.clear();
  if (networkOff(nullptr))
    return NET_NO_SERVER;
  LdapQuery query;
  query.url = url;
  query.scope = LDAP_QUERY_SUBTREE;
  query.filter = "(|(userCertificate=*)(cACertificate=*))";
  query.attributes.assign(std::begin(CERTIFICATE_ATTRIBUTES), std::end(CERTIFICATE_ATTRIBUTES));
  query.maxBytes = NET_BUNDLE_CAP;
  std::vector<std::vector<uint8_t>> bodies;
  const int32_t rc = fetchValues(query, bodies);
  if (rc != NET_OK)
    return rc;
  CertList found;
  try {
    for (const std::vector<uint8_t>& body : bodies) {
      raw.insert(raw.end(), body.begin(), body.end());
      splitCertificateBundle(body.data(), body.size(), found);
    }
    if (found.empty())
      return NET_BAD_FORMAT;
    out.reserve(out.size() + found.size());
  } catch (const std::bad_alloc&) {
    return NET_NO_MEMORY;
  }
  for (std::unique_ptr<SignedCertificate>& c : found)
    out.push_back(std::move(c));
  return NET_OK;
}

void splitCertificateBundle(const uint8_t* data, size_t length, CertList& out)
{
  size_t at = 0;
  while (at < length) {
    const size_t one = derValueLength(data + at, length - at);
    if (one == 0)
      break;
    std::unique_ptr<SignedCertificate> certificate(new SignedCertificate());
    if (decodeWhole(*certificate, std::vector<uint8_t>(data + at, data + at + one)))
      out.push_back(std::move(certificate));
    at += one;
  }
}

CacheManager& CacheManager::instance()
{
  static CacheManager cache;
  return cache;
}

void CacheManager::addCrlItem(std::unique_ptr<SignedCertRevList> crl, bool marked,
                              const std::string& key)
{
  MIRVALLIBS::Abs_Lock hold(mutex);
  crlItems.push_back(CrlItem{std::move(crl), marked, key});
}

bool CacheManager::findCrlItems(const std::string& key, CrlList& out)
{
  MIRVALLIBS::Abs_Lock hold(mutex);
  CrlList found;
  for (const CrlItem& item : crlItems)
    if (item.key == key && item.crl)
      found.emplace_back(new SignedCertRevList(*item.crl));
  if (found.empty())
    return false;
  for (std::unique_ptr<SignedCertRevList>& crl : found)
    out.push_back(std::move(crl));
  return true;
}

void CacheManager::addCertificates(const std::string& key, int64_t fetched,
                                   const std::vector<std::vector<uint8_t>>& der)
{
  CertificateQuery fresh;
  fresh.fetched = fetched;
  fresh.der = der;  // whole before it is kept: a failed copy keeps nothing
  MIRVALLIBS::Abs_Lock hold(mutex);
  if (certificateQueries.size() >= MAX_CERTIFICATE_QUERIES && !certificateQueries.count(key)) {
    auto oldest = certificateQueries.begin();
    for (auto it = certificateQueries.begin(); it != certificateQueries.end(); ++it)
      if (it->second.fetched < oldest->second.fetched)
        oldest = it;
    certificateQueries.erase(oldest);
  }
  certificateQueries[key] = std::move(fresh);
}

bool CacheManager::findCertificates(const std::string& key, int64_t notBefore,
                                    std::vector<std::vector<uint8_t>>& der)
{
  MIRVALLIBS::Abs_Lock hold(mutex);
  auto it = certificateQueries.find(key);
  if (it == certificateQueries.end())
    return false;
  // Older than the period, or from a clock that went back: asked again.
  if (it->second.fetched <= notBefore || it->second.fetched > platform::currentTime()) {
    certificateQueries.erase(it);
    return false;
  }
  der = it->second.der;
  return true;
}

void CacheManager::removeMarkedCrlItems()
{
  MIRVALLIBS::Abs_Lock hold(mutex);
  crlItems.erase(std::remove_if(crlItems.begin(), crlItems.end(),
                                [](const CrlItem& item) { return item.marked; }),
                 crlItems.end());
}

size_t CacheManager::crlItemCount()
{
  MIRVALLIBS::Abs_Lock hold(mutex);
  return crlItems.size();
}


