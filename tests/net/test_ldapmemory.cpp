// What an LDAP query holds while it reads: the sanitizer's allocator counts the bytes allocated
// during the query, and a search whose entries together pass the cap must stop near the cap,
// not after reading them all. Without the sanitizer there is nothing to count with.
#include "net/ldapclient.h"
#include "net/localslapd.h"
#include "net/netclient.h"

#include <gtest/gtest.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAL_COUNTS_ALLOCATIONS 1
#endif
#endif
#if !defined(TAL_COUNTS_ALLOCATIONS) && defined(__SANITIZE_ADDRESS__)
#define TAL_COUNTS_ALLOCATIONS 1
#endif
#ifndef TAL_COUNTS_ALLOCATIONS
#define TAL_COUNTS_ALLOCATIONS 0
#endif
#if TAL_COUNTS_ALLOCATIONS
#include <sanitizer/allocator_interface.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

std::atomic<size_t> liveBytes{0};
std::atomic<size_t> peakBytes{0};
std::atomic<bool> watching{false};

#if TAL_COUNTS_ALLOCATIONS
void onMalloc(const volatile void*, size_t size)
{
  if (!watching)
    return;
  const size_t now = liveBytes += size;
  size_t peak = peakBytes.load();
  while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
  }
}

void onFree(const volatile void* p)
{
  if (watching && p)
    liveBytes -= std::min(liveBytes.load(), __sanitizer_get_allocated_size(p));
}

const bool counting = __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree) != 0;
#else
const bool counting = false;
#endif

std::string base64(const std::vector<uint8_t>& data)
{
  static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < data.size(); i += 3) {
    const uint32_t n = (data[i] << 16) | (i + 1 < data.size() ? data[i + 1] << 8 : 0) |
                       (i + 2 < data.size() ? data[i + 2] : 0);
    out += digits[(n >> 18) & 63];
    out += digits[(n >> 12) & 63];
    out += i + 1 < data.size() ? digits[(n >> 6) & 63] : '=';
    out += i + 2 < data.size() ? digits[n & 63] : '=';
  }
  return out;
}

TEST(LdapMemory, ManyLargeEntriesAreNotAllHeld)
{
  if (!counting)
    GTEST_SKIP() << "built without AddressSanitizer: no allocation counts";
  std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/net/big.crl", std::ios::binary);
  const std::vector<uint8_t> crl((std::istreambuf_iterator<char>(in)), {});
  ASSERT_GT(crl.size(), 40000u);
  // 30 entries of one 44 KB CRL each: 1.3 MB in all.
  char name[] = "/tmp/talldifXXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  close(fd);
  {
    const std::string value = base64(crl);
    std::ofstream ldif(name);
    ldif << "dn: c=PL\nobjectClass: country\nc: PL\n\n";
    for (int i = 0; i < 30; ++i)
      ldif << "dn: cn=Big " << i << ",c=PL\nobjectClass: applicationProcess\n"
           << "objectClass: certificationAuthority\ncn: Big " << i << "\n"
           << "cACertificate;binary:: " << value << "\nauthorityRevocationList;binary:: " << value
           << "\ncertificateRevocationList;binary:: " << value << "\n\n";
  }
  LocalSlapd slapd(name);
  std::remove(name);
  ASSERT_NE(0, slapd.pid) << "slapd did not start";

  struct Row {
    size_t cap;
    int32_t expected;
    size_t values;
  };
  const Row rows[] = {{100 * 1024, NET_TOO_LARGE, 0}, {2 * 1024 * 1024, NET_OK, 30}};
  for (const Row& row : rows) {
    LdapQuery query;
    query.url = slapd.url("c=PL");
    query.scope = LDAP_QUERY_SUBTREE;
    query.attributes = {"certificateRevocationList;binary"};
    query.maxBytes = row.cap;
    query.timeoutMs = HANG_GUARD_MS;
    std::vector<std::vector<uint8_t>> values;
    liveBytes = 0;
    peakBytes = 0;
    watching = true;
    const int32_t rc = ldapFetch(query, values);
    watching = false;
    EXPECT_EQ(row.expected, rc) << row.cap;
    if (rc == NET_OK)
      EXPECT_EQ(row.values, values.size());
    else
      EXPECT_LT(peakBytes.load(), 4 * row.cap) << "held while reading";
  }
}

}  // namespace
