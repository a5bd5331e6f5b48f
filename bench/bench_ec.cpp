// bench-libs: tal_crypto_asym
// EC-DSA and DSA signature verification and signing, ours beside OpenSSL's
// libcrypto, on the same keys, digests and signatures (made by OpenSSL).
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/dsa.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "crypto/asym/lvdsa.h"
#include "crypto/asym/lvgeneraldsa.h"
#include "crypto/asym/lvnamedcurves.h"
#include "bench_rbg.h"
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
  // signing: our private key (OpenSSL's scalar) and OpenSSL's signing context
  EVP_PKEY_CTX* sctx = nullptr;
  const LvGeneralDsaKeyDomain* ecSignDomain = nullptr;
  std::unique_ptr<LvGeneralDsaPrivateKey> ecPriv;
  std::unique_ptr<LvGeneralDsaSig> ecSigner;
  std::unique_ptr<LvDsaPrivateKey> dsaPriv;
  std::unique_ptr<LvDsaSig> dsaSigner;
  BenchRbg rbg;

  void signAndPrepare(unsigned int digestLen) {
    digest.assign(digestLen, 0);
    for (unsigned int i = 0; i < digestLen; i++) digest[i] = static_cast<unsigned char>(i * 37 + 1);
    sctx = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_sign_init(sctx);
    size_t len = 0;
    EVP_PKEY_sign(sctx, nullptr, &len, digest.data(), digest.size());
    der.resize(len);
    EVP_PKEY_sign(sctx, der.data(), &len, digest.data(), digest.size());
    der.resize(len);
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
  Bytes d = bnParam(f->key, OSSL_PKEY_PARAM_PRIV_KEY);
  f->ecSignDomain = f->ecDomain.get();
  f->ecPriv.reset(new LvGeneralDsaPrivateKey());
  f->ecPriv->setDomain(f->ecSignDomain);
  f->ecPriv->setKey(d.data(), d.size());
  f->ecSigner.reset(new LvGeneralDsaSig());
  f->ecSigner->setPrivateKey(f->ecPriv.get());
  f->ecSigner->setRbg(&f->rbg);
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
  Bytes x = bnParam(f->key, OSSL_PKEY_PARAM_PRIV_KEY);
  f->dsaPriv.reset(new LvDsaPrivateKey());
  f->dsaPriv->setDomain(f->dsaDomain.get());
  f->dsaPriv->setX(x.data(), x.size());
  f->dsaPriv->setY(y.data(), y.size());
  f->dsaSigner.reset(new LvDsaSig());
  f->dsaSigner->setPrivateKey(f->dsaPriv.get());
  f->dsaSigner->setRbg(&f->rbg);
  f->dsaSigner->setHashAlgo(LV_HASH_SHA256);
  return f;
}

// A binary curve: our named domain, OpenSSL's own key on the same curve.
Fixture* binaryFixture(const char* name) {
  Fixture* f = new Fixture();
  f->key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", name);
  if (!f->key) throw std::runtime_error("no binary curves in libcrypto");
  f->signAndPrepare(32);
  for (unsigned int id = 1; id <= NamedCurveTable::kCount; id++) {
    const LvNamedCurve* row = NamedCurveTable::byId(id);
    if (row->name && std::string(row->name) == name && row->binaryDomain)
      f->ecSignDomain = row->binaryDomain;
  }
  if (!f->ecSignDomain) throw std::runtime_error("no such binary curve here");
  Bytes pub(300);
  size_t publen = 0;
  EVP_PKEY_get_octet_string_param(f->key, OSSL_PKEY_PARAM_PUB_KEY, pub.data(), pub.size(), &publen);
  pub.resize(publen);
  f->ecKey.reset(new LvGeneralDsaPublicKey());
  f->ecKey->setDomain(f->ecSignDomain);
  f->ecKey->setH(pub.data(), pub.size());
  f->ecSig.reset(new LvGeneralDsaSig());
  f->ecSig->setPublicKey(f->ecKey.get());
  if (!f->ecSig->verify(f->digest.data(), f->digest.size(), f->rs.data(), f->rs.size()))
    throw std::runtime_error("our EC-DSA verification refused OpenSSL's binary-curve signature");
  Bytes d = bnParam(f->key, OSSL_PKEY_PARAM_PRIV_KEY);
  f->ecPriv.reset(new LvGeneralDsaPrivateKey());
  f->ecPriv->setDomain(f->ecSignDomain);
  f->ecPriv->setKey(d.data(), d.size());
  f->ecSigner.reset(new LvGeneralDsaSig());
  f->ecSigner->setPrivateKey(f->ecPriv.get());
  f->ecSigner->setRbg(&f->rbg);
  return f;
}

Fixture& fixture(int which) {
  static Fixture* all[10] = {};
  if (!all[which]) {
    switch (which) {
      case 0: all[0] = ecFixture(NID_X9_62_prime256v1, "P-256", 32); break;
      case 1: all[1] = ecFixture(NID_secp384r1, "P-384", 48); break;
      case 2: all[2] = ecFixture(NID_secp521r1, "P-521", 64); break;
      case 3: all[3] = ecFixture(NID_brainpoolP256r1, "brainpoolP256r1", 32); break;
      case 5: all[5] = binaryFixture("sect283k1"); break;
      case 6: all[6] = binaryFixture("sect233r1"); break;
      case 7: all[7] = binaryFixture("sect571r1"); break;
      case 8: all[8] = ecFixture(NID_secp256k1, "secp256k1", 32); break;
      case 9: all[9] = ecFixture(NID_brainpoolP512r1, "brainpoolP512r1", 64); break;
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

void oursSign(benchmark::State& state, int which) {
  Fixture& f = fixture(which);
  Bytes sig(300);
  for (auto _ : state) {
    unsigned int len =
        which == 4 ? f.dsaSigner->sign(f.digest.data(), f.digest.size(), sig.data(), sig.size())
                   : f.ecSigner->sign(f.digest.data(), f.digest.size(), sig.data(), sig.size());
    benchmark::DoNotOptimize(len);
  }
}

void opensslSign(benchmark::State& state, int which) {
  Fixture& f = fixture(which);
  Bytes sig(300);
  for (auto _ : state) {
    size_t len = sig.size();
    if (EVP_PKEY_sign(f.sctx, sig.data(), &len, f.digest.data(), f.digest.size()) != 1)
      state.SkipWithError("signing failed");
    benchmark::DoNotOptimize(len);
  }
}

}  // namespace

BENCHMARK_CAPTURE(oursSign, ecdsa_sign_P256, 0)->Name("ours/ecdsa_sign_P-256");
BENCHMARK_CAPTURE(opensslSign, ecdsa_sign_P256, 0)->Name("libcrypto/ecdsa_sign_P-256");
BENCHMARK_CAPTURE(oursSign, ecdsa_sign_P384, 1)->Name("ours/ecdsa_sign_P-384");
BENCHMARK_CAPTURE(opensslSign, ecdsa_sign_P384, 1)->Name("libcrypto/ecdsa_sign_P-384");
BENCHMARK_CAPTURE(oursSign, ecdsa_sign_P521, 2)->Name("ours/ecdsa_sign_P-521");
BENCHMARK_CAPTURE(opensslSign, ecdsa_sign_P521, 2)->Name("libcrypto/ecdsa_sign_P-521");
BENCHMARK_CAPTURE(oursSign, ecdsa_sign_bp256, 3)->Name("ours/ecdsa_sign_brainpoolP256r1");
BENCHMARK_CAPTURE(opensslSign, ecdsa_sign_bp256, 3)->Name("libcrypto/ecdsa_sign_brainpoolP256r1");
BENCHMARK_CAPTURE(oursSign, ecdsa_sign_k283, 5)->Name("ours/ecdsa_sign_sect283k1");
BENCHMARK_CAPTURE(opensslSign, ecdsa_sign_k283, 5)->Name("libcrypto/ecdsa_sign_sect283k1");
BENCHMARK_CAPTURE(oursSign, ecdsa_sign_b233, 6)->Name("ours/ecdsa_sign_sect233r1");
BENCHMARK_CAPTURE(opensslSign, ecdsa_sign_b233, 6)->Name("libcrypto/ecdsa_sign_sect233r1");
BENCHMARK_CAPTURE(oursSign, ecdsa_sign_b571, 7)->Name("ours/ecdsa_sign_sect571r1");
BENCHMARK_CAPTURE(opensslSign, ecdsa_sign_b571, 7)->Name("libcrypto/ecdsa_sign_sect571r1");
BENCHMARK_CAPTURE(oursSign, dsa_sign_2048, 4)->Name("ours/dsa_sign_2048");
BENCHMARK_CAPTURE(opensslSign, dsa_sign_2048, 4)->Name("libcrypto/dsa_sign_2048");
BENCHMARK_CAPTURE(oursVerify, ecdsa_verify_P256, 0)->Name("ours/ecdsa_verify_P-256");
BENCHMARK_CAPTURE(opensslVerify, ecdsa_verify_P256, 0)->Name("libcrypto/ecdsa_verify_P-256");
BENCHMARK_CAPTURE(oursVerify, ecdsa_verify_P384, 1)->Name("ours/ecdsa_verify_P-384");
BENCHMARK_CAPTURE(opensslVerify, ecdsa_verify_P384, 1)->Name("libcrypto/ecdsa_verify_P-384");
BENCHMARK_CAPTURE(oursVerify, ecdsa_verify_P521, 2)->Name("ours/ecdsa_verify_P-521");
BENCHMARK_CAPTURE(opensslVerify, ecdsa_verify_P521, 2)->Name("libcrypto/ecdsa_verify_P-521");
BENCHMARK_CAPTURE(oursVerify, ecdsa_verify_bp256, 3)->Name("ours/ecdsa_verify_brainpoolP256r1");
BENCHMARK_CAPTURE(opensslVerify, ecdsa_verify_bp256, 3)
    ->Name("libcrypto/ecdsa_verify_brainpoolP256r1");
BENCHMARK_CAPTURE(oursVerify, ecdsa_verify_k256, 8)->Name("ours/ecdsa_verify_secp256k1");
BENCHMARK_CAPTURE(opensslVerify, ecdsa_verify_k256, 8)->Name("libcrypto/ecdsa_verify_secp256k1");
BENCHMARK_CAPTURE(oursVerify, ecdsa_verify_bp512, 9)->Name("ours/ecdsa_verify_brainpoolP512r1");
BENCHMARK_CAPTURE(opensslVerify, ecdsa_verify_bp512, 9)
    ->Name("libcrypto/ecdsa_verify_brainpoolP512r1");
BENCHMARK_CAPTURE(oursVerify, ecdsa_verify_b233, 6)->Name("ours/ecdsa_verify_sect233r1");
BENCHMARK_CAPTURE(opensslVerify, ecdsa_verify_b233, 6)->Name("libcrypto/ecdsa_verify_sect233r1");
BENCHMARK_CAPTURE(oursVerify, ecdsa_verify_k283, 5)->Name("ours/ecdsa_verify_sect283k1");
BENCHMARK_CAPTURE(opensslVerify, ecdsa_verify_k283, 5)->Name("libcrypto/ecdsa_verify_sect283k1");
BENCHMARK_CAPTURE(oursVerify, ecdsa_verify_b571, 7)->Name("ours/ecdsa_verify_sect571r1");
BENCHMARK_CAPTURE(opensslVerify, ecdsa_verify_b571, 7)->Name("libcrypto/ecdsa_verify_sect571r1");
BENCHMARK_CAPTURE(oursVerify, dsa_verify_2048, 4)->Name("ours/dsa_verify_2048");
BENCHMARK_CAPTURE(opensslVerify, dsa_verify_2048, 4)->Name("libcrypto/dsa_verify_2048");

TAL_BENCH_MAIN()
