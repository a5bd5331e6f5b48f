// bench-libs: tal_crypto_sym
// HMAC-SHA-256, AES-128-CBC and triple-DES-CBC over 16 KiB, ours beside
// OpenSSL's EVP.
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <vector>

#include "crypto/sym/lvcbc.h"
#include "crypto/sym/lvmac.h"
#include "crypto/sym/lvrijndael.h"
#include "ratio_main.h"

namespace {

const size_t kLen = 16 * 1024;

std::vector<unsigned char> data(size_t n, unsigned char seed) {
  std::vector<unsigned char> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 131 + seed);
  return v;
}

void oursHmac(benchmark::State& state) {
  auto key = data(32, 1), msg = data(kLen, 2);
  LvHmac h(3);
  h.setKey(key.data(), 32);
  unsigned char mac[32];
  for (auto _ : state) {
    h.init();
    h.step(msg.data(), kLen);
    h.finish();
    h.getMac(0, mac);
    benchmark::DoNotOptimize(mac);
  }
  state.SetBytesProcessed(state.iterations() * kLen);
}

void opensslHmac(benchmark::State& state) {
  auto key = data(32, 1), msg = data(kLen, 2);
  unsigned char mac[32];
  unsigned int len = 0;
  for (auto _ : state) {
    HMAC(EVP_sha256(), key.data(), 32, msg.data(), kLen, mac, &len);
    benchmark::DoNotOptimize(mac);
  }
  state.SetBytesProcessed(state.iterations() * kLen);
}

void oursCbc(benchmark::State& state, LvBcAlgo id, unsigned keyLen) {
  auto key = data(keyLen, 3), iv = data(16, 4), msg = data(kLen, 5);
  std::vector<unsigned char> out(kLen + 32);
  LvCbc cbc(id, 3);
  cbc.setKey(key.data(), keyLen);
  for (auto _ : state) {
    unsigned n = cbc.crypt(0, iv.data(), cbc.getBlockOctets(), msg.data(), kLen, out.data());
    benchmark::DoNotOptimize(n);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * kLen);
}

void opensslCbc(benchmark::State& state, const EVP_CIPHER* cipher, unsigned keyLen) {
  auto key = data(keyLen, 3), iv = data(16, 4), msg = data(kLen, 5);
  std::vector<unsigned char> out(kLen + 32);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  for (auto _ : state) {
    int n = 0, m = 0;
    EVP_EncryptInit_ex(ctx, cipher, nullptr, key.data(), iv.data());
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, out.data(), &n, msg.data(), static_cast<int>(kLen));
    EVP_EncryptFinal_ex(ctx, out.data() + n, &m);
    benchmark::DoNotOptimize(out.data());
  }
  EVP_CIPHER_CTX_free(ctx);
  state.SetBytesProcessed(state.iterations() * kLen);
}

void oursAes(benchmark::State& s) { oursCbc(s, LV_BC_AES, 16); }
void opensslAes(benchmark::State& s) { opensslCbc(s, EVP_aes_128_cbc(), 16); }
// The table code alone, for processors without the AES instructions.
void oursAesTables(benchmark::State& s) {
  LvAes::forcePortable(true);
  oursCbc(s, LV_BC_AES, 16);
  LvAes::forcePortable(false);
}
void oursTdes(benchmark::State& s) { oursCbc(s, LV_BC_TDES, 24); }
void opensslTdes(benchmark::State& s) { opensslCbc(s, EVP_des_ede3_cbc(), 24); }

}  // namespace

BENCHMARK(oursHmac)->Name("ours/hmac_sha256_16k");
BENCHMARK(opensslHmac)->Name("openssl/hmac_sha256_16k");
BENCHMARK(oursAes)->Name("ours/aes128_cbc_encrypt_16k");
BENCHMARK(opensslAes)->Name("openssl/aes128_cbc_encrypt_16k");
BENCHMARK(oursAesTables)->Name("ours/aes128_cbc_encrypt_16k_tables");
BENCHMARK(opensslAes)->Name("openssl/aes128_cbc_encrypt_16k_tables");
BENCHMARK(oursTdes)->Name("ours/tdes_cbc_encrypt_16k");
BENCHMARK(opensslTdes)->Name("openssl/tdes_cbc_encrypt_16k");

TAL_BENCH_MAIN()
