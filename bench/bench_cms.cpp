// bench-libs: tal_pki
// Signed messages from a file: a 10 MB attached SignedData made by OpenSSL's
// CMS_sign (RSA-2048, SHA-256), as DER and as the BER of its streaming
// writer (indefinite lengths, segmented content). The pair does the same
// work: the file read into memory whole and decoded into the whole
// structure, the content held. OpenSSL's d2i_CMS_bio does both at once; ours
// reads the file into a buffer and decodes it with private copies
// (SignedMessage::decodeBuffer). Ours alone also streams the file in 64 KiB
// pieces through SignedMessage::decodeStreamBuffer, the content passing
// through to a counting sink: OpenSSL's CMS reader takes the structure whole,
// so that row has no peer. Besides the time (MB/s), each side reports the most memory it
// held at once while decoding ("peak_bytes"): ours counted at operator new,
// OpenSSL's through CRYPTO_set_mem_functions.
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include "base/memfile.h"
#include "pki/cms/sgndata.h"
#include "ratio_main.h"

// ---- allocation counting: ours at operator new, OpenSSL's through its hooks ----

namespace {

struct Counter {
  std::atomic<int64_t> live{0};
  std::atomic<int64_t> peak{0};
  void add(void* p) {
    const int64_t now = live += static_cast<int64_t>(malloc_usable_size(p));
    int64_t was = peak.load();
    while (now > was && !peak.compare_exchange_weak(was, now)) {
    }
  }
  void sub(void* p) { live -= static_cast<int64_t>(malloc_usable_size(p)); }
  // Starts a measurement: the peak from now on, beyond what is live now.
  int64_t start() {
    peak = live.load();
    return live;
  }
};

Counter ours, ssl;

void* countedNew(size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  ours.add(p);
  return p;
}

void countedDelete(void* p) {
  if (!p) return;
  ours.sub(p);
  std::free(p);
}

void* sslMalloc(size_t n, const char*, int) {
  void* p = std::malloc(n ? n : 1);
  if (p) ssl.add(p);
  return p;
}

void* sslRealloc(void* p, size_t n, const char*, int) {
  if (p) ssl.sub(p);
  void* q = std::realloc(p, n ? n : 1);
  if (q)
    ssl.add(q);
  else if (p)
    ssl.add(p);
  return q;
}

void sslFree(void* p, const char*, int) {
  if (!p) return;
  ssl.sub(p);
  std::free(p);
}

// Before OpenSSL allocates anything.
const bool sslHooked = CRYPTO_set_mem_functions(sslMalloc, sslRealloc, sslFree) == 1;

}  // namespace

void* operator new(size_t n) { return countedNew(n); }
void* operator new[](size_t n) { return countedNew(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept {
  void* p = std::malloc(n ? n : 1);
  if (p) ours.add(p);
  return p;
}
void* operator new[](size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { countedDelete(p); }
void operator delete[](void* p) noexcept { countedDelete(p); }
void operator delete(void* p, size_t) noexcept { countedDelete(p); }
void operator delete[](void* p, size_t) noexcept { countedDelete(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { countedDelete(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { countedDelete(p); }

namespace {

constexpr size_t kContent = 10 * 1000 * 1000;

// A sink that takes the content passing through and keeps nothing.
class Sink : public GenericFile {
 public:
  int32_t read(uint32_t, uint8_t*, uint32_t* count) override {
    if (count) *count = 0;
    return -1;
  }
  int32_t write(uint32_t length, const uint8_t*) override {
    total += length;
    return 0;
  }
  int32_t seek(int32_t) override { return -1; }
  uint32_t tell() override { return static_cast<uint32_t>(total); }
  uint32_t size() override { return 0xFFFFFFFFu; }
  int64_t total = 0;
};

struct Files {
  std::string der, ber;
  size_t derSize = 0, berSize = 0;
  ~Files() {
    if (!der.empty()) unlink(der.c_str());
    if (!ber.empty()) unlink(ber.c_str());
  }
};

std::string tempName() {
  char name[] = "/tmp/bench_cms_XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) throw std::runtime_error("mkstemp");
  close(fd);
  return name;
}

size_t fileSize(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 0;
  std::fseek(f, 0, SEEK_END);
  const long n = std::ftell(f);
  std::fclose(f);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

const Files& files() {
  static Files f;
  if (!f.der.empty()) return f;
  if (!sslHooked) throw std::runtime_error("OpenSSL memory hooks");
  EVP_PKEY* key = EVP_RSA_gen(2048);
  X509* x = X509_new();
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), 0x5001);
  X509_NAME* n = X509_NAME_new();
  X509_NAME_add_entry_by_txt(n, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("Bench signer"), -1, -1, 0);
  X509_set_issuer_name(x, n);
  X509_set_subject_name(x, n);
  X509_gmtime_adj(X509_getm_notBefore(x), 0);
  X509_gmtime_adj(X509_getm_notAfter(x), 86400L);
  X509_set_pubkey(x, key);
  X509_sign(x, key, EVP_sha256());
  std::vector<unsigned char> content(kContent);
  for (size_t i = 0; i < content.size(); ++i)
    content[i] = static_cast<unsigned char>(i * 131 + (i >> 9));

  for (bool ber : {false, true}) {
    BIO* data = BIO_new_mem_buf(content.data(), static_cast<int>(content.size()));
    const unsigned flags = CMS_BINARY | (ber ? CMS_STREAM : 0u);
    CMS_ContentInfo* cms = CMS_sign(x, key, nullptr, data, flags);
    if (!cms) throw std::runtime_error("CMS_sign");
    const std::string path = tempName();
    BIO* out = BIO_new_file(path.c_str(), "wb");
    int ok;
    if (ber) {
      BIO* again = BIO_new_mem_buf(content.data(), static_cast<int>(content.size()));
      ok = i2d_CMS_bio_stream(out, cms, again, flags);
      BIO_free(again);
    } else {
      ok = i2d_CMS_bio(out, cms);
    }
    BIO_free(out);
    BIO_free(data);
    CMS_ContentInfo_free(cms);
    if (ok != 1) throw std::runtime_error("i2d_CMS_bio");
    (ber ? f.ber : f.der) = path;
    (ber ? f.berSize : f.derSize) = fileSize(path);
  }
  X509_NAME_free(n);
  X509_free(x);
  EVP_PKEY_free(key);
  return f;
}

void oursStream(benchmark::State& state, bool ber) {
  const Files& f = files();
  const std::string& path = ber ? f.ber : f.der;
  std::vector<unsigned char> piece(65536);
  int64_t peak = 0;
  for (auto _ : state) {
    FILE* in = std::fopen(path.c_str(), "rb");
    if (!in) {
      state.SkipWithError("cannot open the message");
      break;
    }
    Sink sink;
    const int64_t base = ours.start();
    int r = EASN_MORE;
    {
      SignedMessage msg;
      size_t got;
      while (r == EASN_MORE && (got = std::fread(piece.data(), 1, piece.size(), in)) > 0)
        r = msg.decodeStreamBuffer(piece.data(), static_cast<int>(got), &sink);
    }
    peak = std::max<int64_t>(peak, ours.peak - base);
    std::fclose(in);
    if (r < 1 || sink.total != static_cast<int64_t>(kContent))
      state.SkipWithError("decoding failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(ber ? f.berSize : f.derSize));
  state.counters["peak_bytes"] = static_cast<double>(peak);
}

// The same work as d2i_CMS_bio: the file into one buffer, then the whole
// structure decoded from it with the content held (a private copy).
void oursWhole(benchmark::State& state, bool ber) {
  const Files& f = files();
  const std::string& path = ber ? f.ber : f.der;
  const size_t size = ber ? f.berSize : f.derSize;
  int64_t peak = 0;
  for (auto _ : state) {
    const int64_t base = ours.start();
    int r = 0;
    size_t held = 0;
    {
      std::vector<unsigned char> buffer(size);
      FILE* in = std::fopen(path.c_str(), "rb");
      const size_t got = in ? std::fread(buffer.data(), 1, size, in) : 0;
      if (in) std::fclose(in);
      SignedMessage msg;
      if (got == size) r = msg.decodeBuffer(buffer.data(), static_cast<int>(size));
      const ASNoctstr& content = msg.value().encapContentInfo.value();
      if (content.data()) held = static_cast<size_t>(content.length);
      peak = std::max<int64_t>(peak, ours.peak - base);
    }
    if (r != static_cast<int>(size) || held != kContent) state.SkipWithError("decoding failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
  state.counters["peak_bytes"] = static_cast<double>(peak);
}

void opensslRead(benchmark::State& state, bool ber) {
  const Files& f = files();
  const std::string& path = ber ? f.ber : f.der;
  int64_t peak = 0;
  for (auto _ : state) {
    const int64_t base = ssl.start();
    BIO* in = BIO_new_file(path.c_str(), "rb");
    CMS_ContentInfo* cms = d2i_CMS_bio(in, nullptr);
    peak = std::max<int64_t>(peak, ssl.peak - base);
    const bool ok = cms != nullptr;
    CMS_ContentInfo_free(cms);
    BIO_free(in);
    if (!ok) state.SkipWithError("d2i_CMS_bio failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(ber ? f.berSize : f.derSize));
  state.counters["peak_bytes"] = static_cast<double>(peak);
}

[[maybe_unused]] const bool noted = talbench::note(
    "from_file: both sides read the file whole and decode the whole structure, the content held; "
    "streamed_from_file: ours alone, the content passing to a counting sink (OpenSSL's CMS reader "
    "takes the structure whole)");

}  // namespace

BENCHMARK_CAPTURE(oursWhole, der, false)
    ->Name("ours/signeddata_10MB_der_from_file")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(opensslRead, der, false)
    ->Name("libcrypto/signeddata_10MB_der_from_file")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(oursWhole, ber, true)
    ->Name("ours/signeddata_10MB_ber_from_file")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(opensslRead, ber, true)
    ->Name("libcrypto/signeddata_10MB_ber_from_file")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(oursStream, der, false)
    ->Name("ours/signeddata_10MB_der_streamed_from_file")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(oursStream, ber, true)
    ->Name("ours/signeddata_10MB_ber_streamed_from_file")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

TAL_BENCH_MAIN()
