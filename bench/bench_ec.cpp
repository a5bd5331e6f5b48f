// bench-libs: tal_crypto_asym
// EC-DSA and DSA signature verification, ours beside OpenSSL's libcrypto, on
// the same keys, digests and signatures (made by OpenSSL).
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/dsa.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "crypto/asym/lvdsa.h"
#include "crypto/asym/lvgeneraldsa.h"
#include "ratio_main.h"

namespace {

typedef std::vector<unsigned char> Bytes;

Bytes bnBytes(const BIGNUM* b) {
  Bytes out(BN_num_bytes(b));
  BN_bn2bin(b, out.data());
  if (out.empty()) out.push_back(0);
  return out;
}

Bytes bnParam(EVP_PKEY* k, const char* name) {
  BIGNUM* b = nullptr;
  if (!EVP_PKEY_get_bn_param(k, name, &b)) throw std::runtime_error(name);
  Bytes out = bnBytes(b);
  BN_free(b);
  return out;
}

// Strips the SEQUENCE around OpenSSL's DER signature.
Bytes rsOf(const Bytes& der) {
  std::size_t hdr = (der[1] & 0x80) ? 2 + (der[1] & 0x7F) : 2;
  return Bytes(der.begin() + hdr, der.end());
}

struct Fixture {
  EVP_PKEY* key = nullptr;
  EVP_PKEY_CTX* vctx = nullptr;
  Bytes digest, der, rs;
  std::unique_ptr<LvEpDsaKeyDomain> ecDomain;
  std::unique_ptr<LvGeneralDsaPublicKey> ecKey;
  std::unique_ptr<LvGeneralDsaSig> ecSig;
  std::unique_ptr<LvDsaKeyDomain> dsaDomain;
  std::unique_ptr<LvDsaPublicKey> dsaKey;
  std::unique_ptr<LvDsaSig> dsaSig;

  void signAndPrepare(unsigned int digestLen) {
    digest.assign(digestLen, 0);
    for (unsigned int i = 0; i < digestLen; i++) digest[i] = static_cast<unsigned char>(i * 37 + 1);
    EVP_PKEY_CTX* sctx = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_sign_init(sctx);
    size_t len = 0;
    EVP_PKEY_sign(sctx, nullptr, &len, digest.data(), digest.size());
    der.resize(len);
    EVP_PKEY_sign(sctx, der.data(), &len, digest.data(), digest.size());
    der.resize(len);
    EVP_PKEY_CTX_free(sctx);
    rs = rsOf(der);
    vctx = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_verify_init(vctx);
  }
};

Fixture* ecFixture(int nid, const char* name, unsigned int digestLen) {
  Fixture* f = new Fixture();
  f->key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", name);
  f->signAndPrepare(digestLen);
  // the domain from OpenSSL's curve parameters
  EC_GROUP* g = EC_GROUP_new_by_curve_name(nid);
  BIGNUM *p = BN_new(), *a = BN_new(), *b = BN_new();
  EC_GROUP_get_curve(g, p, a, b, nullptr);
  Bytes P = bnBytes(p), A = bnBytes(a), B = bnBytes(b);
  Bytes G(1 + 2 * 66);
  G.resize(EC_POINT_point2oct(g, EC_GROUP_get0_generator(g), POINT_CONVERSION_UNCOMPRESSED,
                              G.data(), G.size(), nullptr));
  Bytes n = bnBytes(EC_GROUP_get0_order(g)), h = bnBytes(EC_GROUP_get0_cofactor(g));
  BN_free(p);
  BN_free(a);
  BN_free(b);
  EC_GROUP_free(g);
  f->ecDomain.reset(new LvEpDsaKeyDomain());
  f->ecDomain->setCurve(A.data(), A.size(), B.data(), B.size(), P.data(), P.size());
  f->ecDomain->setGen(G.data(), G.size());
  f->ecDomain->setOrder(n.data(), n.size());
  f->ecDomain->setCofactor(h.data(), h.size());
  f->ecDomain->markValid();
  Bytes pub(200);
  size_t publen = 0;
  EVP_PKEY_get_octet_string_param(f->key, OSSL_PKEY_PARAM_PUB_KEY, pub.data(), pub.size(), &publen);
  pub.resize(publen);
  f->ecKey.reset(new LvGeneralDsaPublicKey());
  f->ecKey->setDomain(f->ecDomain.get());
  f->ecKey->setH(pub.data(), pub.size());
  f->ecSig.reset(new LvGeneralDsaSig());
  f->ecSig->setPublicKey(f->ecKey.get());
  if (!f->ecSig->verify(f->digest.data(), f->digest.size(), f->rs.data(), f->rs.size()))
    throw std::runtime_error("our EC-DSA verification refused OpenSSL's signature");
  return f;
}

Fixture* dsaFixture() {
  Fixture* f = new Fixture();
  EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new_from_name(nullptr, "DSA", nullptr);
  EVP_PKEY_paramgen_init(pctx);
  EVP_PKEY_CTX_set_dsa_paramgen_bits(pctx, 2048);
  EVP_PKEY_CTX_set_dsa_paramgen_q_bits(pctx, 256);
  EVP_PKEY* params = nullptr;
  EVP_PKEY_paramgen(pctx, &params);
  EVP_PKEY_CTX_free(pctx);
  EVP_PKEY_CTX* kctx = EVP_PKEY_CTX_new(params, nullptr);
  EVP_PKEY_keygen_init(kctx);
  EVP_PKEY_keygen(kctx, &f->key);
  EVP_PKEY_CTX_free(kctx);
  EVP_PKEY_free(params);
  f->signAndPrepare(32);
  Bytes p = bnParam(f->key, OSSL_PKEY_PARAM_FFC_P), q = bnParam(f->key, OSSL_PKEY_PARAM_FFC_Q),
        g = bnParam(f->key, OSSL_PKEY_PARAM_FFC_G), y = bnParam(f->key, OSSL_PKEY_PARAM_PUB_KEY);
  f->dsaDomain.reset(new LvDsaKeyDomain());
  f->dsaDomain->setP(p.data(), p.size());
  f->dsaDomain->setQ(q.data(), q.size());
  f->dsaDomain->setG(g.data(), g.size());
  f->dsaDomain->markValid();
  f->dsaKey.reset(new LvDsaPublicKey());
  f->dsaKey->setDomain(f->dsaDomain.get());
  f->dsaKey->set(y.data(), y.size());
  f->dsaSig.reset(new LvDsaSig());
  f->dsaSig->setPublicKey(f->dsaKey.get());
  if (!f->dsaSig->verify(f->digest.data(), f->digest.size(), f->rs.data(), f->rs.size()))
    throw std::runtime_error("our DSA verification refused OpenSSL's signature");
  return f;
}

Fixture& fixture(int which) {
  static Fixture* all[5] = {};
  if (!all[which]) {
    switch (which) {
      case 0: all[0] = ecFixture(NID_X9_62_prime256v1, "P-256", 32); break;
      case 1: all[1] = ecFixture(NID_secp384r1, "P-384", 48); break;
      case 2: all[2] = ecFixture(NID_secp521r1, "P-521", 64); break;
      case 3: all[3] = ecFixture(NID_brainpoolP256r1, "brainpoolP256r1", 32); break;
      default: all[4] = dsaFixture(); break;
    }
  }
  return *all[which];
}

void oursVerify(benchmark::State& state, int which) {
  Fixture& f = fixture(which);
  for (auto _ : state) {
    bool ok = which == 4 ? f.dsaSig->verify(f.digest.data(), f.digest.size(), f.rs.data(), f.rs.size())
                         : f.ecSig->verify(f.digest.data(), f.digest.size(), f.rs.data(), f.rs.size());
    if (!ok) state.SkipWithError("verification failed");
    benchmark::DoNotOptimize(ok);
  }
}

void opensslVerify(benchmark::State& state, int which) {
  Fixture& f = fixture(which);
  for (auto _ : state) {
    int ok = EVP_PKEY_verify(f.vctx, f.der.data(), f.der.size(), f.digest.data(), f.digest.size());
    if (ok != 1) state.SkipWithError("verification failed");
    benchmark::DoNotOptimize(ok);
  }
}

}  // namespace

BENCHMARK_CAPTURE(oursVerify, ecdsa_verify_P256, 0)->Name("ours/ecdsa_verify_P-256");
BENCHMARK_CAPTURE(opensslVerify, ecdsa_verify_P256, 0)->Name("openssl/ecdsa_verify_P-256");
BENCHMARK_CAPTURE(oursVerify, ecdsa_verify_P384, 1)->Name("ours/ecdsa_verify_P-384");
BENCHMARK_CAPTURE(opensslVerify, ecdsa_verify_P384, 1)->Name("openssl/ecdsa_verify_P-384");
BENCHMARK_CAPTURE(oursVerify, ecdsa_verify_P521, 2)->Name("ours/ecdsa_verify_P-521");
BENCHMARK_CAPTURE(opensslVerify, ecdsa_verify_P521, 2)->Name("openssl/ecdsa_verify_P-521");
BENCHMARK_CAPTURE(oursVerify, ecdsa_verify_bp256, 3)->Name("ours/ecdsa_verify_brainpoolP256r1");
BENCHMARK_CAPTURE(opensslVerify, ecdsa_verify_bp256, 3)
    ->Name("openssl/ecdsa_verify_brainpoolP256r1");
BENCHMARK_CAPTURE(oursVerify, dsa_verify_2048, 4)->Name("ours/dsa_verify_2048");
BENCHMARK_CAPTURE(opensslVerify, dsa_verify_2048, 4)->Name("openssl/dsa_verify_2048");

TAL_BENCH_MAIN()
