// bench-libs: tal_crypto_hash
// SHA-1, SHA-256 and SHA-512 over 16 KiB buffers, ours beside OpenSSL's EVP.
#include <openssl/evp.h>

#include <vector>

#include "crypto/hash/lvhash.h"
#include "ratio_main.h"

namespace {

const size_t kSize = 16 * 1024;

std::vector<unsigned char> buffer() {
  std::vector<unsigned char> b(kSize);
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<unsigned char>(i * 131 + 7);
  return b;
}

template <class H>
void ours(benchmark::State& state) {
  auto data = buffer();
  H h;
  for (auto _ : state) {
    h.hash(data.data(), static_cast<unsigned>(data.size()));
    benchmark::DoNotOptimize(h.getHashPtr()[0]);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}

void openssl(benchmark::State& state, const EVP_MD* md) {
  auto data = buffer();
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  for (auto _ : state) {
    EVP_DigestInit_ex(ctx, md, nullptr);
    EVP_DigestUpdate(ctx, data.data(), data.size());
    EVP_DigestFinal_ex(ctx, out, &n);
    benchmark::DoNotOptimize(out[0]);
  }
  EVP_MD_CTX_free(ctx);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}

void opensslSha1(benchmark::State& s) { openssl(s, EVP_sha1()); }
void opensslSha256(benchmark::State& s) { openssl(s, EVP_sha256()); }
void opensslSha512(benchmark::State& s) { openssl(s, EVP_sha512()); }

}  // namespace

BENCHMARK(ours<LvSha1>)->Name("ours/sha1_16k");
BENCHMARK(opensslSha1)->Name("openssl/sha1_16k");
BENCHMARK(ours<LvSha256>)->Name("ours/sha256_16k");
BENCHMARK(opensslSha256)->Name("openssl/sha256_16k");
BENCHMARK(ours<LvSha512>)->Name("ours/sha512_16k");
BENCHMARK(opensslSha512)->Name("openssl/sha512_16k");

TAL_BENCH_MAIN()
