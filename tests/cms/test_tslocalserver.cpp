// Time-stamp requests over the real network layer to a local TSA: a small HTTP
// server on 127.0.0.1 that answers each application/timestamp-query with what
// `openssl ts -reply` makes of it (the TSA of tests/data/net/make.sh), the new
// token then verified by the driver double. The request goes out as this
// library builds it, so openssl must accept it and sign the digest we asked.
#include "cms/tsdriver_double.h"

#include "cms/tsrequest.h"
#include "net/localtsa.h"
#include "hangguard.h"
#include "net/netmanager.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>

#include <stdlib.h>
#include <unistd.h>

namespace {

using cmstest::Bytes;
using cmstest::DriverDouble;

class Settings : public NetworkSettings {
 public:
  int32_t option(int32_t) const override { return 0; }
  void servers(int32_t kind, const DistinguishedName*, std::vector<std::string>& out) const override {
    if (kind == NET_SERVER_TIMESTAMP) out.insert(out.end(), urls.begin(), urls.end());
  }
  std::vector<std::string> urls;
};

class NetEnv : public TimeStampRequestEnv {
 public:
  explicit NetEnv(const Settings& s) : manager(&s) { manager.setTimeoutMs(HANG_GUARD_MS); }
  void write(const std::string& text) override { report += text; }
  void addWarning(uint32_t bits) override { warnings |= bits; }
  int32_t option(int32_t number) override { return options[number]; }
  int32_t protectRequest(const std::vector<uint8_t>&, std::vector<uint8_t>&) override { return 40; }
  std::string resultText(int32_t) override { return ""; }
  int32_t queryForTimeStamp(const uint8_t* request, size_t length, TimeStampResponse& response,
                            uint32_t serverMask) override {
    return manager.queryForTimeStamp(request, length, response, serverMask);
  }
  TimeStampDriver& driver() override { return drv; }

  NetworkManager manager;
  std::string report;
  uint32_t warnings = 0;
  std::map<int32_t, int32_t> options;
  DriverDouble drv;
};

// The TSA: SHA-256 imprints only, so a SHA-512 request is refused by openssl itself.
LocalAnswer opensslTsa(const LocalRequest& r, int* served) {
  static const std::string dir = std::string(TAL_TEST_DATA_DIR) + "/net/";
  static const LocalHttpServer::Handler tsa = opensslTsaOf({dir + "tsa.pem", dir + "tsa.key", dir + "ca.pem"});
  if (r.head.find("Content-Type: application/timestamp-query\r\n") != std::string::npos) ++*served;
  return tsa(r);
}

struct Case {
  const char* name;
  bool closedFirst;  // a refused connection before the TSA
  int hashId;
  int32_t result;
  bool kept;
  const char* tail;  // how the report ends ("" for no report)
};

TEST(TimeStampFromLocalServer, OpensslTsaAnswersOurRequests) {
  int served = 0;
  LocalHttpServer tsa([&served](const LocalRequest& r) { return opensslTsa(r, &served); });
  ASSERT_NE(tsa.port, 0);
  const std::string fetch = "Błąd pobrania znacznika czasu: błąd operacji sieciowych\r\n";
  const Case cases[] = {
      {"granted", false, 3, 0, true, ""},
      {"refused connection, then granted", true, 3, 0, true, fetch.c_str()},
      {"SHA-512 refused by the TSA", false, 5, 173,  false,
       "Message digest algorithm is not supported.\r\nBłędny algorytm\r\n"},
  };
  const std::string data = "a document\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Settings settings;
    if (c.closedFirst) settings.urls.push_back("http://127.0.0.1:" + std::to_string(closedLocalPort()) + "/");
    settings.urls.push_back(tsa.url("/tsa"));
    NetEnv env(settings);
    const Bytes digest = cmstest::hashOf(c.hashId, Bytes(data.begin(), data.end()));
    const int before = served;
    SignatureTimeStampTokens out;
    EXPECT_EQ(requestTimeStamp(env, digest.data(), digest.size(), c.hashId, out), c.result) << env.report;
    EXPECT_EQ(served, before + 1);
    EXPECT_EQ(env.warnings, 0u);
    const std::string tail = c.tail;
    ASSERT_GE(env.report.size(), tail.size()) << env.report;
    EXPECT_EQ(env.report.substr(env.report.size() - tail.size()), tail) << env.report;
    ASSERT_EQ(out.items.size(), c.kept ? 1u : 0u);
    if (!c.kept) continue;
    // Verified for real: openssl's signature over our imprint, by the TSA certificate it carried.
    const TimeStampToken& token = *out.items.front();
    EXPECT_TRUE(token.checked);
    EXPECT_EQ(token.status, SIG_STATUS_VALID);
    EXPECT_EQ(token.reason, 0);
  }
}

}  // namespace
