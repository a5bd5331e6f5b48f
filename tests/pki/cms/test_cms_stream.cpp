// The streamed SignedData decoder holds at most one element beyond what it
// reports: a large content (DER, one primitive OCTET STRING; and BER, the
// segments of indefinite length `openssl cms -stream` writes) passes through
// while the memory this program allocates stays within a small bound. The
// messages are openssl's, with their content replaced by generated octets
// (structure only: their signatures no longer match).
#include "pki/test_cms_support.h"

#include "pki/cms/sgndata.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

// Every allocation of this program is counted: live octets and their peak.
namespace {
std::atomic<int64_t> g_live{0};
std::atomic<int64_t> g_peak{0};

void* counted(size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  const int64_t now = g_live += static_cast<int64_t>(malloc_usable_size(p));
  int64_t peak = g_peak.load();
  while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
  }
  return p;
}

void uncounted(void* p) {
  if (!p) return;
  g_live -= static_cast<int64_t>(malloc_usable_size(p));
  std::free(p);
}
}  // namespace

void* operator new(size_t n) { return counted(n); }
void* operator new[](size_t n) { return counted(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept {
  try {
    return counted(n);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](size_t n, const std::nothrow_t&) noexcept {
  try {
    return counted(n);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept { uncounted(p); }
void operator delete[](void* p) noexcept { uncounted(p); }
void operator delete(void* p, size_t) noexcept { uncounted(p); }
void operator delete[](void* p, size_t) noexcept { uncounted(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { uncounted(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { uncounted(p); }

namespace {

using cmstest::Bytes;

// A sink that only counts what passes through.
class CountingSink : public GenericFile {
 public:
  int32_t read(uint32_t, uint8_t*, uint32_t* count) override {
    if (count) *count = 0;
    return -1;
  }
  int32_t write(uint32_t length, const uint8_t* buffer) override {
    total += length;
    if (length) last = buffer[length - 1];
    return 0;
  }
  int32_t seek(int32_t) override { return -1; }
  uint32_t tell() override { return static_cast<uint32_t>(total); }
  uint32_t size() override { return 0xFFFFFFFFu; }
  int64_t total = 0;
  uint8_t last = 0;
};

Bytes header(unsigned char tag, int64_t length) {
  if (length < 0) return {tag, 0x80};
  Bytes h{tag};
  if (length < 128) {
    h.push_back(static_cast<unsigned char>(length));
    return h;
  }
  Bytes l;
  for (int64_t n = length; n; n >>= 8) l.insert(l.begin(), static_cast<unsigned char>(n & 0xff));
  h.push_back(static_cast<unsigned char>(0x80 | l.size()));
  h.insert(h.end(), l.begin(), l.end());
  return h;
}

// The octets around a content of `contentLength` octets: openssl's message
// (version, digest algorithms, certificates, signers) with every level of
// indefinite length when `ber` (the content then comes as segments).
struct Frame {
  Bytes before, after;
  int64_t inner;
  bool ber;
  void wrap(unsigned char tag, const Bytes& lead, const Bytes& tail) {
    const int64_t total = int64_t(lead.size()) + int64_t(before.size()) + inner +
                          int64_t(after.size()) + int64_t(tail.size());
    Bytes b = header(tag, ber ? -1 : total);
    b.insert(b.end(), lead.begin(), lead.end());
    b.insert(b.end(), before.begin(), before.end());
    before = b;
    after.insert(after.end(), tail.begin(), tail.end());
    if (ber) after.insert(after.end(), {0, 0});
  }
};

Frame frame(int64_t contentLength, bool ber) {
  const auto m = cmstest::signedDataMembers(cmstest::readData("cms/attached_sha256.der"));
  const Bytes dataOid = cmstest::encodeTlv(cmstest::split(m.at(2).content).at(0));
  Bytes lead = cmstest::join({m.at(0), m.at(1)});
  Bytes tail = cmstest::join({m.at(3), m.at(4)});
  Frame f{ber ? Bytes{0x24, 0x80} : header(0x04, contentLength), ber ? Bytes{0, 0} : Bytes{},
          contentLength, ber};
  // Segments: a header each, counted in the content when lengths are definite.
  f.wrap(0xA0, {}, {});
  f.wrap(0x30, dataOid, {});
  f.wrap(0x30, lead, tail);
  f.wrap(0xA0, {}, {});
  f.wrap(0x30, pkitest::unhex("06092a864886f70d010702"), {});
  return f;
}

struct Result {
  int64_t decoded;
  int64_t passed;
  int64_t peak;  // most octets allocated at once while streaming, beyond the start
};

// Streams the message in pieces of at most 64 KiB; the content is
// generated as it goes (segments of `segment` octets when BER).
Result streamLarge(int64_t contentLength, bool ber, uint32_t segment = 60000) {
  const Frame f = frame(contentLength, ber);
  Bytes pattern(65536);
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<unsigned char>(i * 7 + 3);
  CountingSink sink;
  SignedMessage msg;
  g_peak = g_live.load();
  const int64_t start = g_live;
  int64_t r = msg.decodeStreamBuffer(f.before.data(), static_cast<int>(f.before.size()), &sink);
  for (int64_t done = 0; done < contentLength && r == EASN_MORE;) {
    const uint32_t n =
        static_cast<uint32_t>(std::min<int64_t>(contentLength - done, ber ? segment : 65536));
    if (ber) {
      const Bytes h = header(0x04, n);
      r = msg.decodeStreamBuffer(h.data(), static_cast<int>(h.size()), &sink);
      if (r != EASN_MORE) break;
    }
    for (uint32_t k = 0; k < n && r == EASN_MORE;) {
      const uint32_t piece = std::min<uint32_t>(n - k, 65536);
      r = msg.decodeStreamBuffer(pattern.data(), static_cast<int>(piece), &sink);
      k += piece;
    }
    done += n;
  }
  if (r == EASN_MORE)
    r = msg.decodeStreamBuffer(f.after.data(), static_cast<int>(f.after.size()), &sink);
  return {r, sink.total, g_peak - start};
}

TEST(CmsStreamMemory, LargeContentPassesThroughInBoundedMemory) {
  // Small and large contents hold the same memory: nothing grows with the content.
  for (bool ber : {false, true}) {
    SCOPED_TRACE(ber ? "BER segments" : "DER");
    const Result small = streamLarge(100000, ber);
    ASSERT_GT(small.decoded, 0);
    EXPECT_EQ(small.passed, 100000);
    const int64_t size = ber ? (int64_t(1) << 30) : (int64_t(1) << 28);
    const Result large = streamLarge(size, ber);
    ASSERT_GT(large.decoded, 0);
    EXPECT_EQ(large.passed, size);
    EXPECT_LT(large.peak, 512 * 1024);
    EXPECT_LT(large.peak, small.peak + 64 * 1024);
  }
}

TEST(CmsStreamMemory, ContentPastFourGiBStreamsThrough) {
  // Counts past 31 and 32 bits: definite lengths of five octets and BER
  // segments summing past 4 GiB, in the same bounded memory.
  for (bool ber : {false, true}) {
    SCOPED_TRACE(ber ? "BER segments" : "DER");
    const int64_t size = (int64_t(9) << 29) + 12345;  // 4.5 GiB and a little
    const Result huge = streamLarge(size, ber, 1 << 20);
    EXPECT_GT(huge.decoded, size);
    EXPECT_EQ(huge.passed, size);
    EXPECT_LT(huge.peak, 512 * 1024);
  }
}

}  // namespace
