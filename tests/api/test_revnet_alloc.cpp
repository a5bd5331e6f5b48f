// Allocation failures in the adapter's certificate fetch: this program can make the n-th
// allocation of the test's own thread fail (the local server's thread is left alone), and
// LeakSanitizer tells whether a failure anywhere in the fetch leaves a certificate unowned.
#include "api/revnet.h"

#include "net/localhttp.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <new>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAL_FINDS_LEAKS 1
#endif
#endif
#if !defined(TAL_FINDS_LEAKS) && defined(__SANITIZE_ADDRESS__)
#define TAL_FINDS_LEAKS 1
#endif
#ifndef TAL_FINDS_LEAKS
#define TAL_FINDS_LEAKS 0
#endif
#if TAL_FINDS_LEAKS
#include <sanitizer/lsan_interface.h>
#endif

#include "failonce.h"

namespace {

class Settings : public NetworkSettings {
 public:
  int32_t option(int32_t) const override { return 0; }
  void servers(int32_t kind, const DistinguishedName*,
               std::vector<std::string>& urls) const override {
    if (kind == NET_SERVER_CERTIFICATES) urls.push_back(url);
  }
  std::string url;
};

TEST(RevocationNetworkAdapterAllocation, NoCertificateIsLostWhenMemoryRunsOut) {
#if !TAL_FINDS_LEAKS
  GTEST_SKIP() << "built without AddressSanitizer: no leak check";
#else
  std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/net/end.der", std::ios::binary);
  const std::string der((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(der.empty());
  SignedCertificate end;
  ASSERT_EQ(static_cast<int>(der.size()),
            end.decodeVector(std::vector<uint8_t>(der.begin(), der.end())));
  LocalHttpServer server([&der](const LocalRequest&) {
    LocalAnswer a;
    a.bytes = httpAnswer(200, "application/pkix-cert", der);
    return a;
  });
  Settings settings;
  settings.url = server.url("/end.der");
  NetworkManager manager(&settings);
  manager.setTimeoutMs(HANG_GUARD_MS);
  RevocationNetworkAdapter adapter(manager, &settings);

  bool finished = false;
  for (long n = 1; n < 5000 && !finished; ++n) {
    CertificateList out;
    failed = false;
    counted = 0;
    failAt = n;
    try {
      adapter.queryForCertificatesByDn(end.tbsCertificate.subject, out);
    } catch (const std::bad_alloc&) {
    }
    failAt = 0;
    finished = !failed;
    if (finished) EXPECT_EQ(1, out.GetCount());
  }
  EXPECT_TRUE(finished);
  EXPECT_EQ(0, __lsan_do_recoverable_leak_check());
#endif
}

}  // namespace
