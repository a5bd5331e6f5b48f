// bench-libs: tal_crypto_hash
// SHA-1, SHA-256 and SHA-512 over 64 B, 1 KiB, 16 KiB and 1 MiB messages,
// ours beside OpenSSL's EVP. OPENSSL_ia32cap=":~0x20000000" turns OpenSSL's
// SHA instructions off (leaf 7 EBX bit 29), TALVORIN_CRYPTO_NO_SHANI=1 ours;
// TALVORIN_CRYPTO_PORTABLE=1 turns every processor-specific path of ours off.
#include <openssl/evp.h>

#include <vector>

#include "crypto/hash/lvhash.h"
#include "ratio_main.h"

namespace {

std::vector<unsigned char> buffer(size_t size) {
  std::vector<unsigned char> b(size);
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<unsigned char>(i * 131 + 7);
  return b;
}

template <class H>
void ours(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  auto data = buffer(size);
  H h;
  for (auto _ : state) {
    h.hash(data.data(), static_cast<unsigned>(data.size()));
    benchmark::DoNotOptimize(h.getHashPtr()[0]);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}

// The digest is looked up once (EVP_MD_fetch), not by every EVP_DigestInit_ex
// of a legacy EVP_sha*() handle: ours looks nothing up per message either.
void openssl(benchmark::State& state, const char* name) {
  EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr);
  if (!md) {
    state.SkipWithError("EVP_MD_fetch failed");
    return;
  }
  const size_t size = static_cast<size_t>(state.range(0));
  auto data = buffer(size);
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
  EVP_MD_free(md);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}

void opensslSha1(benchmark::State& s) { openssl(s, "SHA1"); }
void opensslSha256(benchmark::State& s) { openssl(s, "SHA256"); }
void opensslSha512(benchmark::State& s) { openssl(s, "SHA512"); }

}  // namespace

#define TAL_HASH_PAIR(ours_fn, ref_fn, name)                                     \
  BENCHMARK(ours_fn)->Name("ours/" name)->Arg(64)->Arg(1024)->Arg(16384)->Arg(1 << 20); \
  BENCHMARK(ref_fn)->Name("libcrypto/" name)->Arg(64)->Arg(1024)->Arg(16384)->Arg(1 << 20)

TAL_HASH_PAIR(ours<LvSha1>, opensslSha1, "sha1");
TAL_HASH_PAIR(ours<LvSha256>, opensslSha256, "sha256");
TAL_HASH_PAIR(ours<LvSha512>, opensslSha512, "sha512");

TAL_BENCH_MAIN()
