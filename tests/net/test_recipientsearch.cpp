// The recipient search's certificate-server step through the real network
// manager against slapd on 127.0.0.1 (the e-mail certificates of
// tests/data/net/make-mail.sh): every base DN asked once, and a certificate
// that two servers return listed once.
#include "store/recipients.h"

#include "base/memfile.h"
#include "base/reportstream.h"
#include "net/localslapd.h"
#include "net/netmanager.h"
#include "pki/x509/cert.h"
#include "store/certmgr.h"
#include "store/fakecrtdb.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

class Settings : public NetworkSettings {
 public:
  int32_t option(int32_t) const override { return 0; }
  void servers(int32_t, const DistinguishedName*, std::vector<std::string>& urls) const override {
    urls.insert(urls.end(), list.begin(), list.end());
  }
  std::vector<std::string> list;
};

// The network through the real manager; paths are taken as built and valid.
struct Ctx : RecipientContext {
  explicit Ctx(NetworkManager& network) : network(network) { mgr.setContext(&db); }
  FakeDb db;
  CertificateManager mgr;
  NetworkManager& network;
  MemFile text;
  ReportStream rep{&text};
  std::vector<std::string> bases;
  std::map<int, int32_t> options;
  int remembered = 0;
  std::vector<std::string> recorded;
  uint32_t flags = 0;

  ReportStream& report() override { return rep; }
  CertificateManager& certificates() override { return mgr; }
  int buildPath(CertificatePath& path, const SignedCertificate& c) override {
    std::unique_ptr<CertificateItem> item(new CertificateItem);
    item->certificate = c;
    if (path.append(item.get()) != 1) return 1;
    item.release();
    return 0;
  }
  int verifyPath(CertificatePath&) override { return 0; }
  int32_t option(int n) override { return options.count(n) ? options[n] : 0; }
  void certificateServerBases(std::vector<std::string>& out) override { out = bases; }
  int queryByEmail(const std::string& base, const std::string& address, FetchedCertificates& out,
                   int32_t parameter) override {
    return network.queryForCertificates(base, address, out, true, parameter);
  }
  int queryByDn(const DistinguishedName& subject, FetchedCertificates& out) override {
    return network.queryForCertificatesByDn(subject, out);
  }
  int64_t lastNetworkSearch(const std::string&) override { return 0; }
  void recordNetworkSearch(const std::string& a) override { recorded.push_back(a); }
  int64_t now() override { return 0; }
  void rememberCertificate(const SignedCertificate&) override { ++remembered; }
  uint32_t& warningFlags() override { return flags; }
  std::string reportText() { return std::string(reinterpret_cast<const char*>(text.data()), text.size()); }
};

std::set<std::string> serials(const CertificateList& certs) {
  std::set<std::string> out;
  for (POSITION p = certs.GetHeadPosition(); p;) {
    char hex[64];
    EXPECT_TRUE(certs.GetNext(p)->tbsCertificate.serialNumber.toHex(hex, sizeof hex));
    out.insert(hex);
  }
  return out;
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(RecipientSearch, CertificateServersThroughSlapd) {
  LocalSlapd slapd;
  ASSERT_NE(0, slapd.pid) << "slapd did not start";
  Settings settings;
  settings.list = {slapd.url("o=Siec%20testowa,c=PL"), slapd.url("c=PL")};
  NetworkManager network(&settings);
  network.setTimeoutMs(HANG_GUARD_MS);

  Ctx ctx(network);
  // Each server's base, the first one twice in another letter case.
  ctx.bases = {"o=Siec testowa,c=PL", "O=SIEC TESTOWA,C=PL", "c=PL"};
  CertificateList found;
  EXPECT_EQ(0, searchNetworkCertificates(ctx, "jan@siec.test", DistinguishedName(), found));
  // Jan's encryption certificates of both bases; the three the first base
  // gave come again from the second and are listed once.
  EXPECT_EQ((std::set<std::string>{"10", "11", "12", "16"}), serials(found));
  EXPECT_EQ(4, found.GetCount());
  const std::string r = ctx.reportText();
  EXPECT_EQ(2u, count(r, "Certyfikaty pobrane. Liczba: "));
  EXPECT_NE(std::string::npos, r.find("Certyfikaty pobrane. Liczba: 3(0x3)\r\n"));
  EXPECT_NE(std::string::npos, r.find("Certyfikaty pobrane. Liczba: 4(0x4)\r\n"));
  MemFile f;
  ReportStream(&f) << "Pobrany certyfikat jest już na liście. Numer seryjny: ";
  EXPECT_EQ(3u, count(r, std::string(reinterpret_cast<const char*>(f.data()), f.size())));

  // The whole search for the address: nothing local, everything fetched kept.
  Ctx whole(network);
  whole.bases = {"c=PL"};
  whole.options = {{RECIP_OPT_NETWORK_SEARCH, 1}, {RECIP_OPT_SEARCH_INTERVAL, 1}};
  std::string address = "jan@siec.test";
  RecipientPaths paths;
  EXPECT_EQ(RECIP_OK, findRecipientCertificates(
                          whole, reinterpret_cast<const uint8_t*>(address.c_str()),
                          address.size() + 1, paths, nullptr));
  EXPECT_EQ(4u, paths.size());
  EXPECT_EQ(4, whole.remembered);
  EXPECT_EQ((std::vector<std::string>{address}), whole.recorded);
}

}  // namespace
