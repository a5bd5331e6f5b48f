// bench-libs: tal_store
// Path building: a 4-certificate path (root, two intermediates, end entity;
// RSA-2048 and P-256 keys) built from a store of 10,000 certificates (the
// chain's CAs among 9,997 others of distinct names), against
// X509_verify_cert over an X509_STORE holding the same certificates. Ours
// runs over the certificate manager's database (subject-hash index, every
// hit decoded) with the root installed as a trust point; both sides check
// the three signatures of the path. Everything is made once with libcrypto.
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "../tests/store/fakecrtdb.h"
#include "base/reportstream.h"
#include "pki/x509/cert.h"
#include "ratio_main.h"
#include "store/pathbuild.h"

namespace {

using Bytes = std::vector<unsigned char>;

enum Case { RSA2048 = 0, P256 = 1 };
constexpr int STORE_SIZE = 10000;

EVP_PKEY* newKey(int which) {
  EVP_PKEY* k =
      which == RSA2048 ? EVP_RSA_gen(2048) : EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
  if (!k) throw std::runtime_error("key generation");
  return k;
}

X509_NAME* name(const std::string& cn) {
  X509_NAME* n = X509_NAME_new();
  X509_NAME_add_entry_by_txt(n, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Bench"),
                             -1, -1, 0);
  X509_NAME_add_entry_by_txt(n, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
  return n;
}

void addExt(X509* x, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, x, nullptr, nullptr, 0);
  X509_EXTENSION* e = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  if (!e) throw std::runtime_error("extension");
  X509_add_ext(x, e, -1);
  X509_EXTENSION_free(e);
}

// issuer null: self-signed with `key`.
X509* makeCert(const std::string& cn, long serial, EVP_PKEY* key, X509* issuer,
               EVP_PKEY* issuerKey, bool ca) {
  X509* x = X509_new();
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), serial);
  X509_NAME* sn = name(cn);
  X509_set_subject_name(x, sn);
  X509_set_issuer_name(x, issuer ? X509_get_subject_name(issuer) : sn);
  X509_NAME_free(sn);
  X509_gmtime_adj(X509_getm_notBefore(x), -86400);
  X509_gmtime_adj(X509_getm_notAfter(x), 86400L * 3650);
  X509_set_pubkey(x, key);
  X509* signer = issuer ? issuer : x;
  addExt(x, signer, NID_basic_constraints, ca ? "critical,CA:TRUE" : "CA:FALSE");
  addExt(x, signer, NID_key_usage,
         ca ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature,nonRepudiation");
  addExt(x, signer, NID_subject_key_identifier, "hash");
  addExt(x, signer, NID_authority_key_identifier, "keyid:always");
  if (!X509_sign(x, issuer ? issuerKey : key, EVP_sha256())) throw std::runtime_error("sign");
  return x;
}

std::unique_ptr<SignedCertificate> toOurs(X509* x) {
  unsigned char* der = nullptr;
  int n = i2d_X509(x, &der);
  auto c = std::make_unique<SignedCertificate>();
  if (n <= 0 || c->decodeBuffer(der, n) != n) throw std::runtime_error("decode");
  OPENSSL_free(der);
  return c;
}

struct RootOnly : PathBuildEnvironment {
  const SignedCertificate* root = nullptr;
  void rootList(bool qualified, std::vector<const SignedCertificate*>& out) override {
    if (!qualified) out.push_back(root);
  }
};

struct Fixture {
  X509_STORE* store = nullptr;
  X509* ee = nullptr;
  FakeDb db;
  CertificateManager mgr;
  RootOnly env;
  ReportStream report;  // no sink: nothing is written
  std::unique_ptr<SignedCertificate> ourEe, ourRoot;
  std::unique_ptr<PathBuilder> builder;
  ~Fixture() {
    X509_STORE_free(store);
    X509_free(ee);
  }
};

Fixture& fixture(int which) {
  static std::map<int, std::unique_ptr<Fixture>> all;
  auto it = all.find(which);
  if (it != all.end()) return *it->second;
  auto f = std::make_unique<Fixture>();
  const char* tag = which == RSA2048 ? "RSA" : "P-256";
  EVP_PKEY* keys[4];
  for (EVP_PKEY*& k : keys) k = newKey(which);
  X509* root = makeCert(std::string(tag) + " Root", 1, keys[0], nullptr, nullptr, true);
  X509* int1 = makeCert(std::string(tag) + " Int 1", 2, keys[1], root, keys[0], true);
  X509* int2 = makeCert(std::string(tag) + " Int 2", 3, keys[2], int1, keys[1], true);
  f->ee = makeCert(std::string(tag) + " End", 4, keys[3], int2, keys[2], false);

  // The store: the three CAs and 9,997 others under one filler CA.
  f->store = X509_STORE_new();
  f->mgr.setContext(&f->db);
  auto add = [&](X509* x) {
    X509_STORE_add_cert(f->store, x);
    if (f->mgr.importCertificate(*toOurs(x)) != 0) throw std::runtime_error("import");
  };
  EVP_PKEY* fillerKey = newKey(P256);
  X509* filler = makeCert(std::string(tag) + " Filler CA", 5, fillerKey, nullptr, nullptr, true);
  add(filler);
  add(root);
  add(int1);
  add(int2);
  for (int i = 0; i < STORE_SIZE - 4; ++i) {
    X509* x = makeCert(std::string(tag) + " Filler " + std::to_string(i), 100 + i, fillerKey,
                       filler, fillerKey, i % 2 == 0);
    add(x);
    X509_free(x);
  }
  f->ourEe = toOurs(f->ee);
  f->ourRoot = toOurs(root);
  f->env.root = f->ourRoot.get();
  f->builder = std::make_unique<PathBuilder>(f->mgr, f->env, f->report);
  for (X509* x : {filler, root, int1, int2}) X509_free(x);
  for (EVP_PKEY* k : keys) EVP_PKEY_free(k);
  EVP_PKEY_free(fillerKey);
  return *(all[which] = std::move(f));
}

void oursBuild(benchmark::State& state, int which) {
  Fixture& f = fixture(which);
  for (auto _ : state) {
    CertificatePath path;
    int r = f.builder->buildPathForCertificate(path, *f.ourEe, PATH_PURPOSE_SIGNER, false);
    if (r != PATH_BUILT || path.GetCount() != 4) state.SkipWithError("no path");
  }
}

void opensslBuild(benchmark::State& state, int which) {
  Fixture& f = fixture(which);
  for (auto _ : state) {
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    X509_STORE_CTX_init(ctx, f.store, f.ee, nullptr);
    int ok = X509_verify_cert(ctx);
    int depth = ok == 1 ? sk_X509_num(X509_STORE_CTX_get0_chain(ctx)) : 0;
    X509_STORE_CTX_free(ctx);
    if (ok != 1 || depth != 4) state.SkipWithError("verification failed");
  }
}

}  // namespace

#define PATH_PAIR(label, which)                                                       \
  BENCHMARK_CAPTURE(oursBuild, label, which)                                          \
      ->Name("ours/path_build_store10000_" #label)                                    \
      ->Unit(benchmark::kMicrosecond);                                                \
  BENCHMARK_CAPTURE(opensslBuild, label, which)                                       \
      ->Name("openssl/path_build_store10000_" #label)                                 \
      ->Unit(benchmark::kMicrosecond)

PATH_PAIR(rsa2048, RSA2048);
PATH_PAIR(p256, P256);

TAL_BENCH_MAIN()
