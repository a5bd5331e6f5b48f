// The revocation manager's network over the network manager: options 18 and
// 16 stop OCSP fetching, the certificate's own access locations included.
#include "api/revnet.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>

namespace {

class Settings : public NetworkSettings {
 public:
  std::map<int32_t, int32_t> options;
  int32_t option(int32_t number) const override {
    auto it = options.find(number);
    return it == options.end() ? 0 : it->second;
  }
  void servers(int32_t, const DistinguishedName*, std::vector<std::string>&) const override {}
};

template <class T>
T load(const std::string& name) {
  std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/store/revoc/" + name, std::ios::binary);
  std::vector<unsigned char> der((std::istreambuf_iterator<char>(f)),
                                 std::istreambuf_iterator<char>());
  T x;
  EXPECT_EQ(static_cast<int>(der.size()), x.decodeVector(der)) << name;
  return x;
}

TEST(RevocationNetworkAdapter, OptionsStopOcspFetching) {
  const SignedCertificate user = load<SignedCertificate>("aia-user.der");
  const SignedCertificate ca = load<SignedCertificate>("aia-ca.der");
  const struct {
    int32_t noNetwork, noCrlOcsp;
    bool allowed;
  } cases[] = {{0, 0, true}, {1, 0, false}, {0, 1, false}, {1, 1, false}};
  for (const auto& c : cases) {
    Settings settings;
    settings.options[NET_OPTION_NO_NETWORK] = c.noNetwork;
    settings.options[NET_OPTION_NO_CRL_OCSP] = c.noCrlOcsp;
    NetworkManager manager(&settings);
    RevocationNetworkAdapter adapter(manager, &settings);
    EXPECT_EQ(c.allowed, adapter.ocspFetchAllowed()) << c.noNetwork << c.noCrlOcsp;
    // No configured server: only the access locations could be asked.
    EXPECT_FALSE(adapter.canQueryNetwork(NET_SERVER_OCSP, &ca.tbsCertificate.subject));
    if (c.allowed) continue;
    // Stopped before any connection (the locations' hosts do not exist).
    FixedPathClock clock(user.tbsCertificate.validity.notBefore.toTime64(true) + 60);
    RevocationManager m(clock, nullptr);
    m.network = &adapter;
    RevocationArgs args;
    EXPECT_FALSE(m.findOcspResponse(user, ca, args));
    OCSPResponse answer;
    EXPECT_NE(0, adapter.queryForOcsp("http://ocsp-a.example/", {0x30, 0x00}, answer));
    // CRL queries are stopped the same way (16: fetching off).
    CrlList crls;
    EXPECT_EQ(16, adapter.queryForCrl("http://crl.example/ca.crl", ca.tbsCertificate.subject, crls));
    EXPECT_EQ(16, adapter.queryForIssuerCrl(ca.tbsCertificate.subject, crls));
    EXPECT_TRUE(crls.empty());
  }
}

}  // namespace
