// bench-libs: tal_crypto_asym
// RSA PKCS#1 v1.5 verification (e = 65537) and signing at 1024 to 6144 bits, ours against
// OpenSSL's libcrypto with the same keys. OpenSSL signs blinded: "sign_masked" pairs it with
// our masking on, "sign_unmasked" with our masking off (so that pair is not like with like).
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

#include <map>
#include <memory>
#include <vector>

#include "crypto/asym/lvrsasig.h"
#include "crypto/hash/lvhash.h"
#include "bench_rbg.h"
#include "ratio_main.h"

namespace {

std::vector<LvOctet> bnParam(EVP_PKEY* pkey, const char* name) {
  BIGNUM* bn = nullptr;
  EVP_PKEY_get_bn_param(pkey, name, &bn);
  std::vector<LvOctet> out(BN_num_bytes(bn));
  BN_bn2bin(bn, out.data());
  BN_free(bn);
  return out;
}

struct Fixture {
  EVP_PKEY* pkey = nullptr;
  LvRsaPublicKey pub;
  LvRsaPrivateKey priv;
  std::vector<LvOctet> digest;
  std::vector<LvOctet> sig;
};

Fixture& fixture(int bits) {
  static std::map<int, std::unique_ptr<Fixture>> all;
  auto it = all.find(bits);
  if (it != all.end()) return *it->second;
  auto f = std::make_unique<Fixture>();
  f->pkey = EVP_RSA_gen(static_cast<unsigned int>(bits));
  auto set = [&](const char* name, auto setter) {
    std::vector<LvOctet> v = bnParam(f->pkey, name);
    setter(v.data(), static_cast<unsigned int>(v.size()));
  };
  set(OSSL_PKEY_PARAM_RSA_N, [&](const LvOctet* p, unsigned int n) {
    f->pub.setN(p, n);
    f->priv.setN(p, n);
  });
  set(OSSL_PKEY_PARAM_RSA_E, [&](const LvOctet* p, unsigned int n) {
    f->pub.setE(p, n);
    f->priv.setE(p, n);
  });
  set(OSSL_PKEY_PARAM_RSA_D, [&](const LvOctet* p, unsigned int n) { f->priv.setD(p, n); });
  set(OSSL_PKEY_PARAM_RSA_FACTOR1, [&](const LvOctet* p, unsigned int n) { f->priv.setP(p, n); });
  set(OSSL_PKEY_PARAM_RSA_FACTOR2, [&](const LvOctet* p, unsigned int n) { f->priv.setQ(p, n); });
  set(OSSL_PKEY_PARAM_RSA_COEFFICIENT1,
      [&](const LvOctet* p, unsigned int n) { f->priv.setQInv(p, n); });
  f->priv.prepare();
  const char msg[] = "benchmark message";
  f->digest.resize(SHA256_DIGEST_LENGTH);
  SHA256(reinterpret_cast<const unsigned char*>(msg), sizeof msg, f->digest.data());
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(f->pkey, nullptr);
  EVP_PKEY_sign_init(ctx);
  EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
  EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha256());
  size_t len = 0;
  EVP_PKEY_sign(ctx, nullptr, &len, f->digest.data(), f->digest.size());
  f->sig.resize(len);
  EVP_PKEY_sign(ctx, f->sig.data(), &len, f->digest.data(), f->digest.size());
  EVP_PKEY_CTX_free(ctx);
  Fixture& ref = *f;
  all[bits] = std::move(f);
  return ref;
}

void oursVerify(benchmark::State& state) {
  Fixture& f = fixture(static_cast<int>(state.range(0)));
  LvRsaSigPkcsV15 s;
  s.setHashAlgo(LV_HASH_SHA256);
  s.setPublicKey(&f.pub);
  for (auto _ : state) {
    bool ok = s.verify(f.digest.data(), static_cast<unsigned int>(f.digest.size()), f.sig.data(),
                       static_cast<unsigned int>(f.sig.size()));
    if (!ok) state.SkipWithError("verification failed");
    benchmark::DoNotOptimize(ok);
  }
}

void opensslVerify(benchmark::State& state) {
  Fixture& f = fixture(static_cast<int>(state.range(0)));
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(f.pkey, nullptr);
  EVP_PKEY_verify_init(ctx);
  EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
  EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha256());
  for (auto _ : state) {
    int ok = EVP_PKEY_verify(ctx, f.sig.data(), f.sig.size(), f.digest.data(), f.digest.size());
    if (ok != 1) state.SkipWithError("verification failed");
    benchmark::DoNotOptimize(ok);
  }
  EVP_PKEY_CTX_free(ctx);
}

void oursSign(benchmark::State& state, bool masked) {
  Fixture& f = fixture(static_cast<int>(state.range(0)));
  LvRsaSigPkcsV15 s;
  BenchRbg rbg;
  s.setHashAlgo(LV_HASH_SHA256);
  s.setPrivateKey(&f.priv);
  if (masked) {
    s.setRbg(&rbg);
    s.setMaskingMode(1);
  }
  std::vector<LvOctet> sig(f.sig.size());
  for (auto _ : state) {
    unsigned int len = s.sign(f.digest.data(), static_cast<unsigned int>(f.digest.size()),
                              sig.data(), static_cast<unsigned int>(sig.size()));
    benchmark::DoNotOptimize(len);
  }
  if (sig != f.sig) state.SkipWithError("signature differs from OpenSSL's");
}

void opensslSign(benchmark::State& state) {
  Fixture& f = fixture(static_cast<int>(state.range(0)));
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(f.pkey, nullptr);
  EVP_PKEY_sign_init(ctx);
  EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
  EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha256());
  std::vector<unsigned char> sig(f.sig.size());
  for (auto _ : state) {
    size_t len = sig.size();
    EVP_PKEY_sign(ctx, sig.data(), &len, f.digest.data(), f.digest.size());
    benchmark::DoNotOptimize(len);
  }
  EVP_PKEY_CTX_free(ctx);
}

}  // namespace

#define RSA_SIZES ->Arg(1024)->Arg(2048)->Arg(3072)->Arg(4096)->Arg(6144)
BENCHMARK(oursVerify)->Name("ours/verify_pkcs1_sha256") RSA_SIZES;
BENCHMARK(opensslVerify)->Name("libcrypto/verify_pkcs1_sha256") RSA_SIZES;
BENCHMARK_CAPTURE(oursSign, masked, true)->Name("ours/sign_masked_pkcs1_sha256") RSA_SIZES;
BENCHMARK(opensslSign)->Name("libcrypto/sign_masked_pkcs1_sha256") RSA_SIZES;
BENCHMARK_CAPTURE(oursSign, unmasked, false)->Name("ours/sign_unmasked_pkcs1_sha256") RSA_SIZES;
BENCHMARK(opensslSign)->Name("libcrypto/sign_unmasked_pkcs1_sha256") RSA_SIZES;

TAL_BENCH_MAIN()
