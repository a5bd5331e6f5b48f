// bench-libs: tal_crypto_sym
// HMAC-SHA-256 (a keyed context reused on both sides), AES-128/256-CBC and
// triple-DES-CBC encryption and decryption over 16 KiB, ours beside OpenSSL's
// EVP. The "_tables" rows pair our table code (the processor's AES
// instructions bypassed) with OpenSSL's table code, its AES_cbc_encrypt,
// which never takes the instructions; EVP would.
// AES_cbc_encrypt is deprecated in OpenSSL 3 but is still its table code's
// only door.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/aes.h>
#include <openssl/evp.h>
#include <openssl/core_names.h>
#include <openssl/params.h>

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

// A keyed context reused, as ours is: EVP_MAC_init with no key restarts
// from the keyed state.
void opensslHmac(benchmark::State& state) {
  auto key = data(32, 1), msg = data(kLen, 2);
  unsigned char mac[32];
  size_t len = 0;
  EVP_MAC* hmac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  EVP_MAC_CTX* ctx = hmac ? EVP_MAC_CTX_new(hmac) : nullptr;
  char digest[] = "SHA256";
  const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string("digest", digest, 0),
                               OSSL_PARAM_construct_end()};
  if (!ctx || !EVP_MAC_init(ctx, key.data(), 32, params)) {
    state.SkipWithError("EVP_MAC_init failed");
  } else {
    for (auto _ : state) {
      EVP_MAC_init(ctx, nullptr, 0, nullptr);
      EVP_MAC_update(ctx, msg.data(), kLen);
      EVP_MAC_final(ctx, mac, &len, sizeof mac);
      benchmark::DoNotOptimize(mac);
    }
    state.SetBytesProcessed(state.iterations() * kLen);
  }
  EVP_MAC_CTX_free(ctx);
  EVP_MAC_free(hmac);
}

void oursCbc(benchmark::State& state, LvBcAlgo id, unsigned keyLen, unsigned dir = 0) {
  auto key = data(keyLen, 3), iv = data(16, 4), msg = data(kLen, 5);
  std::vector<unsigned char> out(kLen + 32);
  LvCbc cbc(id, 3);
  cbc.setKey(key.data(), keyLen);
  for (auto _ : state) {
    unsigned n = cbc.crypt(dir, iv.data(), cbc.getBlockOctets(), msg.data(), kLen, out.data());
    benchmark::DoNotOptimize(n);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * kLen);
}

void opensslCbc(benchmark::State& state, const EVP_CIPHER* cipher, unsigned keyLen,
                int enc = 1) {
  auto key = data(keyLen, 3), iv = data(16, 4), msg = data(kLen, 5);
  std::vector<unsigned char> out(kLen + 32);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  // The key is set once, as ours is; each message resets only the IV.
  if (!EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), iv.data(), enc) ||
      !EVP_CIPHER_CTX_set_padding(ctx, 0)) {
    state.SkipWithError("EVP cipher set-up failed");
    EVP_CIPHER_CTX_free(ctx);
    return;
  }
  for (auto _ : state) {
    int n = 0, m = 0;
    if (!EVP_CipherInit_ex(ctx, nullptr, nullptr, nullptr, iv.data(), -1) ||
        !EVP_CipherUpdate(ctx, out.data(), &n, msg.data(), static_cast<int>(kLen)) ||
        !EVP_CipherFinal_ex(ctx, out.data() + n, &m)) {
      state.SkipWithError("EVP cipher failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
  }
  EVP_CIPHER_CTX_free(ctx);
  state.SetBytesProcessed(state.iterations() * kLen);
}

// OpenSSL's table code: the key schedule is set once, as ours is.
void opensslCbcTables(benchmark::State& state, int enc) {
  auto key = data(16, 3), iv = data(16, 4), msg = data(kLen, 5);
  std::vector<unsigned char> out(kLen), chain(16);
  AES_KEY schedule;
  if ((enc ? AES_set_encrypt_key(key.data(), 128, &schedule)
           : AES_set_decrypt_key(key.data(), 128, &schedule)) != 0) {
    state.SkipWithError("AES key set-up failed");
    return;
  }
  for (auto _ : state) {
    chain = iv;  // the IV, which the call advances
    AES_cbc_encrypt(msg.data(), out.data(), kLen, &schedule, chain.data(), enc);
    benchmark::DoNotOptimize(out.data());
  }
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
void opensslAesTables(benchmark::State& s) { opensslCbcTables(s, AES_ENCRYPT); }
void oursAesDec(benchmark::State& s) { oursCbc(s, LV_BC_AES, 16, 1); }
void opensslAesDec(benchmark::State& s) { opensslCbc(s, EVP_aes_128_cbc(), 16, 0); }
void oursAes256(benchmark::State& s) { oursCbc(s, LV_BC_AES, 32); }
void opensslAes256(benchmark::State& s) { opensslCbc(s, EVP_aes_256_cbc(), 32); }
void oursAes256Dec(benchmark::State& s) { oursCbc(s, LV_BC_AES, 32, 1); }
void opensslAes256Dec(benchmark::State& s) { opensslCbc(s, EVP_aes_256_cbc(), 32, 0); }
void oursAesDecTables(benchmark::State& s) {
  LvAes::forcePortable(true);
  oursCbc(s, LV_BC_AES, 16, 1);
  LvAes::forcePortable(false);
}
void opensslAesDecTables(benchmark::State& s) { opensslCbcTables(s, AES_DECRYPT); }
void oursTdesDec(benchmark::State& s) { oursCbc(s, LV_BC_TDES, 24, 1); }
void opensslTdesDec(benchmark::State& s) { opensslCbc(s, EVP_des_ede3_cbc(), 24, 0); }
void oursTdes(benchmark::State& s) { oursCbc(s, LV_BC_TDES, 24); }
void opensslTdes(benchmark::State& s) { opensslCbc(s, EVP_des_ede3_cbc(), 24); }

}  // namespace

BENCHMARK(oursHmac)->Name("ours/hmac_sha256_16k");
BENCHMARK(opensslHmac)->Name("libcrypto/hmac_sha256_16k");
BENCHMARK(oursAes)->Name("ours/aes128_cbc_encrypt_16k");
BENCHMARK(opensslAes)->Name("libcrypto/aes128_cbc_encrypt_16k");
BENCHMARK(oursAesTables)->Name("ours/aes128_cbc_encrypt_16k_tables");
BENCHMARK(opensslAesTables)->Name("libcrypto/aes128_cbc_encrypt_16k_tables");
BENCHMARK(oursAesDec)->Name("ours/aes128_cbc_decrypt_16k");
BENCHMARK(opensslAesDec)->Name("libcrypto/aes128_cbc_decrypt_16k");
BENCHMARK(oursAesDecTables)->Name("ours/aes128_cbc_decrypt_16k_tables");
BENCHMARK(opensslAesDecTables)->Name("libcrypto/aes128_cbc_decrypt_16k_tables");
BENCHMARK(oursAes256)->Name("ours/aes256_cbc_encrypt_16k");
BENCHMARK(opensslAes256)->Name("libcrypto/aes256_cbc_encrypt_16k");
BENCHMARK(oursAes256Dec)->Name("ours/aes256_cbc_decrypt_16k");
BENCHMARK(opensslAes256Dec)->Name("libcrypto/aes256_cbc_decrypt_16k");
BENCHMARK(oursTdes)->Name("ours/tdes_cbc_encrypt_16k");
BENCHMARK(opensslTdes)->Name("libcrypto/tdes_cbc_encrypt_16k");
BENCHMARK(oursTdesDec)->Name("ours/tdes_cbc_decrypt_16k");
BENCHMARK(opensslTdesDec)->Name("libcrypto/tdes_cbc_decrypt_16k");

TAL_BENCH_MAIN()
