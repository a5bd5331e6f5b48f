#include "net/netmanager.h"

#include "net/ldapclient.h"
#include "net/localhttp.h"
#include "net/localslapd.h"
#include "asn1/asnint.h"
#include "base/ptrlist.h"
#include "base/workaccount.h"
#include "pki/x509/cert.h"
#include "pki/x509/crl.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

extern char** environ;

namespace {

std::string dataPath(const std::string& name)
{
  return std::string(TAL_TEST_DATA_DIR) + "/net/" + name;
}

// A whole DER certificate of the data folder.
bool loadCertificate(const char* name, SignedCertificate& out)
{
  std::ifstream in(dataPath(name), std::ios::binary);
  const std::vector<uint8_t> der((std::istreambuf_iterator<char>(in)), {});
  return !der.empty() &&
         out.decodeVector(der, ASN_FLAG_CONST | ASN_FLAG_COPY) == static_cast<int>(der.size());
}

class TestSettings : public NetworkSettings {
 public:
  int32_t option(int32_t number) const override
  {
    auto it = options.find(number);
    return it == options.end() ? 0 : it->second;
  }
  void servers(int32_t, const DistinguishedName*, std::vector<std::string>& urls) const override
  {
    urls.insert(urls.end(), list.begin(), list.end());
  }
  std::vector<std::string> list;
  std::map<int32_t, int32_t> options;
};

TEST(LdapQuery, CrlsAndCertificatesFromSlapd)
{
  LocalSlapd slapd;
  ASSERT_NE(0, slapd.pid) << "slapd did not start";
  SignedCertificate ca;
  ASSERT_TRUE(loadCertificate("ca.der", ca));
  const DistinguishedName& name = ca.tbsCertificate.subject;
  EXPECT_EQ("CN=Test CA,O=Siec testowa,C=PL", ldapDnText(name));

  TestSettings settings;
  NetworkManager manager(&settings);
  manager.setTimeoutMs(HANG_GUARD_MS);
  struct Row {
    std::string uri;
    int32_t expected;
    size_t crls;
  };
  const Row rows[] = {
      {slapd.url("cn=Test%20CA,o=Siec%20testowa,c=PL"), NET_OK, 2},  // both revocation lists
      // The attribute a distribution point's URL names, alone.
      {slapd.url("cn=Test%20CA,o=Siec%20testowa,c=PL?certificateRevocationList;binary"), NET_OK, 1},
      {slapd.url("cn=Test%20CA,o=Siec%20testowa,c=PL?authorityRevocationList;binary?base"), NET_OK,
       1},
      {slapd.url("cn=Test%20CA,o=Siec%20testowa,c=PL?certificateRevocationList"), NET_OK, 1},
      {slapd.url(""), NET_OK, 2},                                    // the issuer's entry
      {slapd.url("cn=Nobody,c=PL"), NET_NOT_FOUND, 0},
      {slapd.url("o=Siec%20testowa,c=PL"), NET_CRL_NOT_FOUND, 0},    // an entry without a CRL
      {slapd.url("cn=Broken%20CA,o=Siec%20testowa,c=PL"), NET_OK, 1},  // its ARL is no CRL
      {"ldap://127.0.0.1:" + std::to_string(closedLocalPort()) + "/c=PL", NET_CONNECT_FAILED, 0},
  };
  for (const Row& row : rows) {
    CrlList crls;
    EXPECT_EQ(row.expected, manager.queryForCRL(row.uri, &name, crls, 0, nullptr)) << row.uri;
    ASSERT_EQ(row.crls, crls.size()) << row.uri;
    for (const auto& crl : crls)
      EXPECT_TRUE(crl->tbsCertList.issuer == name);
  }
  manager.setCrlCap(100);  // smaller than one CRL
  CrlList crls;
  EXPECT_EQ(NET_TOO_LARGE, manager.queryForCRL(rows[0].uri, &name, crls, 0, nullptr));

  settings.list = {slapd.url("")};
  CertList certs;
  ASSERT_EQ(NET_OK, manager.queryForCertificatesByDn(name, certs));
  ASSERT_EQ(1u, certs.size());
  EXPECT_TRUE(*certs[0] == ca);
}

// The serial numbers of the certificates, as hex text.
std::set<std::string> serials(const CertList& certs)
{
  std::set<std::string> out;
  for (const auto& c : certs) {
    char hex[64];
    EXPECT_TRUE(c->tbsCertificate.serialNumber.toHex(hex, sizeof hex));
    out.insert(hex);
  }
  return out;
}

// Jan's entry holds certificates 10 (keyEncipherment), 11 (dataEncipherment, the address in
// the subject in other case), 12 (no keyUsage), 13 (signing only), 14 (no address) and 15
// (another's address); his entry under o=Inna holds 16 (keyEncipherment).
TEST(LdapQuery, CertificatesByEmailAddress)
{
  LocalSlapd slapd;
  ASSERT_NE(0, slapd.pid) << "slapd did not start";
  TestSettings settings;
  const std::string closed = "ldap://127.0.0.1:" + std::to_string(closedLocalPort());
  settings.list = {closed + "/o=Siec%20testowa,c=PL",  // down: passed over
                   slapd.url("O=Siec%20testowa,c=PL"), slapd.url("c=PL"), slapd.url("o=Inna,c=PL"),
                   "http://127.0.0.1:" + std::to_string(closedLocalPort()) + "/c=PL"};
  NetworkManager manager(&settings);
  manager.setTimeoutMs(HANG_GUARD_MS);
  struct Row {
    const char* base;
    const char* address;
    bool encryptionOnly;
    int32_t option;  // set to 1 (0: none)
    std::set<std::string> expected;
  };
  const std::set<std::string> jansEncryption = {"10", "11", "12"};
  const Row rows[] = {
      {"o=Siec testowa,c=PL", "jan@siec.test", true, 0, jansEncryption},
      {"o=Siec testowa,c=PL", "jan@siec.test", false, 0, {"10", "11", "12", "13"}},
      {"o=Siec testowa,c=PL", "JAN@Siec.test", true, 0, jansEncryption},
      {"c=PL", "jan@siec.test", true, 0, {"10", "11", "12", "16"}},
      {"o=Inna,c=PL", "jan@siec.test", true, 0, {"16"}},
      {"o=Siec testowa,c=PL", "*", false, 0, {}},  // no wildcard from the address
      {"o=Siec testowa,c=PL", "ewa@siec.test", false, 0, {}},
      {"o=Nikt,c=PL", "jan@siec.test", true, 0, {}},  // no server of that base
      {"o=Siec testowa,c=PL", "jan@siec.test", true, NET_OPTION_NO_NETWORK, {}},
      {"o=Siec testowa,c=PL", "jan@siec.test", true, NET_OPTION_NO_CRL_OCSP, jansEncryption},
  };
  for (const Row& row : rows) {
    settings.options.clear();
    if (row.option)
      settings.options[row.option] = 1;
    CertList certs;
    EXPECT_EQ(0, manager.queryForCertificates(row.base, row.address, certs, row.encryptionOnly, 0))
        << row.base << " " << row.address;
    EXPECT_EQ(row.expected, serials(certs)) << row.base << " " << row.address << " "
                                            << row.encryptionOnly << " option " << row.option;
  }
}

// Names as LDAP DNs: the last RDN first, "+" inside a multi-valued RDN, the types RFC 4514
// names by their short names and any other type by its dotted OID (LDAP servers know no "E" or
// "T"), special characters escaped.
TEST(LdapQuery, NamesAsLdapDns)
{
  const struct {
    const char* name;
    const char* dn;
  } rows[] = {
      {"C=PL,O=Siec testowa,CN=Test CA", "CN=Test CA,O=Siec testowa,C=PL"},
      {"C=PL,CN=Jan+SERIALNUMBER=PESEL-1", "CN=Jan+2.5.4.5=PESEL-1,C=PL"},
      {"C=PL,CN=Mail CA,E=ca@siec.test", "1.2.840.113549.1.9.1=ca@siec.test,CN=Mail CA,C=PL"},
      {"C=PL,T=Dyrektor,L=Warszawa", "L=Warszawa,2.5.4.12=Dyrektor,C=PL"},
      {"C=PL,O=a\\,b+c", "O=a\\,b\\+c,C=PL"},
      {"C=PL,O=#0C022341", "O=\\#A,C=PL"},
  };
  for (const auto& row : rows) {
    DistinguishedName name;
    ASSERT_TRUE(name.fromText(row.name, -1, 0x800 | 0x20000 | 0x20 | 0x3)) << row.name;
    EXPECT_EQ(row.dn, ldapDnText(name)) << row.name;
  }
  EXPECT_EQ("", ldapDnText(DistinguishedName()));  // the empty name: no base, no text
}

std::vector<uint8_t> der(uint8_t tag, const std::vector<uint8_t>& body)
{
  std::vector<uint8_t> out{tag};
  if (body.size() < 0x80) {
    out.push_back(static_cast<uint8_t>(body.size()));
  } else {
    std::vector<uint8_t> length;
    for (size_t n = body.size(); n; n >>= 8)
      length.insert(length.begin(), static_cast<uint8_t>(n));
    out.push_back(static_cast<uint8_t>(0x80 | length.size()));
    out.insert(out.end(), length.begin(), length.end());
  }
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

// A Name of `rdns` RDNs of `perRdn` common names each, "v0", "v1" ... in order, and its LDAP
// text written here (the last RDN first, "+" inside one).
std::pair<std::vector<uint8_t>, std::string> commonNames(int rdns, int perRdn)
{
  std::vector<uint8_t> name;
  std::vector<std::string> texts;
  for (int r = 0, k = 0; r < rdns; ++r) {
    std::vector<uint8_t> set;
    std::string text;
    for (int i = 0; i < perRdn; ++i, ++k) {
      const std::string value = "v" + std::to_string(k);
      std::vector<uint8_t> attribute = {0x06, 0x03, 0x55, 0x04, 0x03};
      const std::vector<uint8_t> string = der(0x0c, std::vector<uint8_t>(value.begin(), value.end()));
      attribute.insert(attribute.end(), string.begin(), string.end());
      const std::vector<uint8_t> sequence = der(0x30, attribute);
      set.insert(set.end(), sequence.begin(), sequence.end());
      text += (i ? "+CN=" : "CN=") + value;
    }
    const std::vector<uint8_t> rdn = der(0x31, set);
    name.insert(name.end(), rdn.begin(), rdn.end());
    texts.push_back(text);
  }
  std::string dn;
  for (auto it = texts.rbegin(); it != texts.rend(); ++it)
    dn += (dn.empty() ? "" : ",") + *it;
  return {der(0x30, name), dn};
}

// A name's directory text is one walk over its attributes, however they stand in RDNs: no
// attribute reached by index (which walks the RDN again each time), a tick for each, and the
// walk charged to the document's account. Once the account is over there is no text, and
// the queries that need it ask no server.
TEST(LdapQuery, ANamesTextIsOneWalkTickedAndCharged)
{
  const struct {
    int rdns, perRdn;
  } rows[] = {{1, 4000}, {40, 100}, {64, 1}};
  for (const auto& row : rows) {
    const auto made = commonNames(row.rdns, row.perRdn);
    DistinguishedName name;
    ASSERT_EQ(static_cast<int>(made.first.size()), name.decodeVector(made.first)) << row.rdns;
    const uint64_t attributes = static_cast<uint64_t>(row.rdns) * row.perRdn;
    WorkAccount account(UINT64_MAX / 2, std::chrono::hours(1));
    WorkAccountScope scope(&account);
    const uint64_t steps = pointerListIndexSteps();
    const uint64_t ticks = workTicksCounted();
    EXPECT_EQ(made.second, ldapDnText(name)) << row.rdns;
    EXPECT_EQ(0u, pointerListIndexSteps() - steps) << row.rdns;
    EXPECT_EQ(attributes, workTicksCounted() - ticks) << row.rdns;
    EXPECT_EQ(2 * attributes + made.second.size() / 16, account.spentUnits()) << row.rdns;
    account.stop();
    EXPECT_EQ("", ldapDnText(name)) << row.rdns;
  }

  std::atomic<int> asked{0};
  LocalHttpServer server([&](const LocalRequest&) {
    ++asked;
    LocalAnswer a;
    a.bytes = httpAnswer(404, "", "");
    return a;
  });
  TestSettings settings;
  settings.list = {server.url("/")};
  NetworkManager manager(&settings);
  manager.setTimeoutMs(HANG_GUARD_MS);
  SignedCertificate ca;
  ASSERT_TRUE(loadCertificate("ca.der", ca));
  const DistinguishedName& issuer = ca.tbsCertificate.subject;
  CertList certs;
  CrlList crls;
  EXPECT_NE(NET_OK, manager.queryForCertificatesByDn(issuer, certs));
  EXPECT_EQ(1, asked.load()) << "a query of a name asks its server";
  WorkAccount account(UINT64_MAX / 2, std::chrono::hours(1));
  WorkAccountScope scope(&account);
  account.stop();
  EXPECT_EQ(NET_NO_SERVER, manager.queryForCertificatesByDn(issuer, certs));
  EXPECT_EQ(NET_CRL_NOT_FOUND, manager.queryForCRL(server.url("/ca.crl"), &issuer, crls, 0, nullptr));
  EXPECT_EQ(1, asked.load()) << "nothing asked once the account is over";
  EXPECT_TRUE(certs.empty() && crls.empty());
}

// The network cache keeps a CRL query's answer for the rest of a verification, and outlives
// the document: nothing is kept once the document's account is over, whether it ran out after
// the first of the entry's two CRLs was read (the second then reads as malformed, and the
// query still answers with the first) or while the cache's copies were read (a copy refused on
// its way is no CRL, and one of the two is not the answer). Past the tick that found the
// account over, nothing more is read.
TEST(LdapQuery, TheCrlCacheKeepsNothingOnceTheAccountIsOver)
{
  LocalSlapd slapd;
  ASSERT_NE(0, slapd.pid) << "slapd did not start";
  SignedCertificate ca;
  ASSERT_TRUE(loadCertificate("ca.der", ca));
  const DistinguishedName& issuer = ca.tbsCertificate.subject;
  const std::string uri = slapd.url("cn=Test%20CA,o=Siec%20testowa,c=PL");  // its CRL twice
  TestSettings settings;
  NetworkManager manager(&settings);
  manager.setTimeoutMs(HANG_GUARD_MS);
  CacheManager& cache = CacheManager::instance();
  cache.removeMarkedCrlItems();
  const size_t before = cache.crlItemCount();
  // The ticks of the query are those of reading its two CRLs, then (flag 1) those of reading
  // the cache's two copies.
  uint64_t perCrl = 0;
  {
    std::ifstream in(dataPath("ca.crl"), std::ios::binary);
    const std::vector<uint8_t> crlDer((std::istreambuf_iterator<char>(in)), {});
    WorkAccount account(UINT64_MAX / 2, std::chrono::hours(1));
    WorkAccountScope scope(&account);
    uint64_t ticks = workTicksCounted();
    SignedCertRevList crl;
    ASSERT_EQ(static_cast<int>(crlDer.size()), crl.decodeVector(crlDer, ASN_FLAG_CONST | ASN_FLAG_COPY));
    perCrl = workTicksCounted() - ticks;
    for (int32_t flag : {0, 1}) {
      ticks = workTicksCounted();
      CrlList out;
      ASSERT_EQ(NET_OK, manager.queryForCRL(uri, &issuer, out, flag, nullptr));
      ASSERT_EQ(2u, out.size());
      ASSERT_EQ((flag ? 4 : 2) * perCrl, workTicksCounted() - ticks) << flag;
    }
    cache.removeMarkedCrlItems();
  }
  ASSERT_GT(perCrl, 0u);
  // The clock is read every WORK_CLOCK_TICKS ticks from the scope's start: ticks of no work
  // first (their reads counted too), so that the read that trips falls at the row's tick of
  // the query, halfway through the second CRL, the first copy or the second.
  const uint64_t half = (perCrl + 1) / 2;
  const struct {
    uint64_t at;  // 0: no trip
    size_t read, kept;
  } rows[] = {{perCrl + half, 1, 0}, {2 * perCrl + half, 2, 0}, {3 * perCrl + half, 2, 0}, {0, 2, 2}};
  for (const auto& row : rows) {
    const uint64_t reads = (row.at + WORK_CLOCK_TICKS) / WORK_CLOCK_TICKS;
    WorkAccount account(UINT64_MAX / 2, std::chrono::hours(1));
    WorkAccountScope scope(&account);
    workAccountTripAfter(row.at ? static_cast<long>(reads) : 0);
    for (uint64_t i = row.at ? reads * WORK_CLOCK_TICKS - row.at : 0; i > 0; --i)
      workTick();
    CrlList out;
    const uint64_t refused = workTicksRefused();
    EXPECT_EQ(NET_OK, manager.queryForCRL(uri, &issuer, out, 1, nullptr)) << row.at;
    EXPECT_EQ(row.at ? 1u : 0u, workTicksRefused() - refused) << row.at;
    workAccountTripAfter(0);
    EXPECT_EQ(row.at != 0, account.over()) << row.at;
    EXPECT_EQ(row.read, out.size()) << row.at;
    EXPECT_EQ(before + row.kept, cache.crlItemCount()) << row.at;
  }
  cache.removeMarkedCrlItems();
  EXPECT_EQ(before, cache.crlItemCount());
}

TEST(LdapQuery, CertificateOfANameEndingInAnEmailAddress)
{
  LocalSlapd slapd;
  ASSERT_NE(0, slapd.pid) << "slapd did not start";
  SignedCertificate authority;
  ASSERT_TRUE(loadCertificate("mail-authority.der", authority));
  TestSettings settings;
  settings.list = {slapd.url("")};
  NetworkManager manager(&settings);
  manager.setTimeoutMs(HANG_GUARD_MS);
  CertList certs;
  ASSERT_EQ(NET_OK, manager.queryForCertificatesByDn(authority.tbsCertificate.subject, certs));
  ASSERT_EQ(1u, certs.size());
  EXPECT_TRUE(*certs[0] == authority);
  CrlList crls;
  EXPECT_EQ(NET_OK, manager.queryForCRL(slapd.url(""), &authority.tbsCertificate.subject, crls, 0,
                                        nullptr));
  EXPECT_EQ(2u, crls.size());
}

// Certificates by issuer and serial number, wherever they are below the server's base: the
// directory matches the certificate values themselves (RFC 4523 certificateExactMatch).
TEST(LdapQuery, CertificatesByIssuerAndSerialNumber)
{
  LocalSlapd slapd;
  ASSERT_NE(0, slapd.pid) << "slapd did not start";
  SignedCertificate ca, mailCa;
  ASSERT_TRUE(loadCertificate("ca.der", ca));
  ASSERT_TRUE(loadCertificate("mail-authority.der", mailCa));
  char caSerial[64];
  ASSERT_TRUE(ca.tbsCertificate.serialNumber.toHex(caSerial, sizeof caSerial));
  TestSettings settings;
  settings.list = {slapd.url("c=PL")};
  NetworkManager manager(&settings);
  manager.setTimeoutMs(HANG_GUARD_MS);
  ASNinteger serial10, serial16, serial99;
  serial10.set(0x10);
  serial16.set(0x16);
  serial99.set(0x99);
  struct Row {
    const SignedCertificate* issuer;
    const ASNinteger* serial;
    std::set<std::string> expected;
  };
  const Row rows[] = {
      {&ca, &serial10, {"10"}},  // a user certificate
      {&ca, &serial16, {"16"}},  // under another organisation
      {&ca, &ca.tbsCertificate.serialNumber, {caSerial}},  // a CA certificate
      {&ca, &serial99, {}},
      {&mailCa, &serial10, {}},  // another issuer's number
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.serial == &serial10 ? "10" : row.serial == &serial16 ? "16" : "other");
    CertList certs;
    EXPECT_EQ(NET_OK, manager.queryForCertificateById(row.issuer->tbsCertificate.subject,
                                                      *row.serial, certs));
    EXPECT_EQ(row.expected, serials(certs));
  }
}

}  // namespace
