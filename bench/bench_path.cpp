// bench-libs: tal_store
// Path building: a 4-certificate path (root, two intermediates, end entity;
// RSA-2048 and P-256 keys) built from a store of 10,000 certificates (the
// chain's CAs among 9,997 others of distinct names), against
// X509_verify_cert over an X509_STORE holding the same certificates. Ours
// runs over the certificate manager's database (subject-hash index, every
// hit decoded) with the root installed as a trust point; both sides check
// the three signatures of the path. Everything is made once with libcrypto and
// read back from its DER on both sides, as a verifier receives it (libcrypto
// keeps the DER of what it decoded; an object it made in memory has none, and
// its signed part would be encoded again at every check).
// With revocation on: the same kind of path with a CRL of every CA (the end
// entity's issuer's lists 100,000 serials), verified by our path verification
// with the revocation manager (each CRL verified again per verification, its
// issuer's path built by key identifier) against X509_verify_cert with
// X509_V_FLAG_CRL_CHECK_ALL (our CRLs read in place over a copy of their
// octets, as the CRL database reads them; both sides verify every CRL's
// signature in every verification); and an OCSP response for the end entity signed
// by its CA, our response verification against OCSP_basic_verify.
#include <openssl/evp.h>
#include <openssl/ocsp.h>
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
#include "store/lcrtstore.h"
#include "store/pathbuild.h"
#include "store/revcache.h"
#include "store/revpath.h"

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

// The object decoded from its own DER; the one made is freed.
template <class T>
T* reread(T* made, int (*encode)(const T*, unsigned char**),
          T* (*decode)(T**, const unsigned char**, long)) {
  unsigned char* der = nullptr;
  const int n = encode(made, &der);
  const unsigned char* p = der;
  T* read = n > 0 ? decode(nullptr, &p, n) : nullptr;
  OPENSSL_free(der);
  if (!read) throw std::runtime_error("read back from DER");
  return read;
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
  X509* read = reread(x, i2d_X509, d2i_X509);
  X509_free(x);
  return read;
}

std::unique_ptr<SignedCertificate> toOurs(X509* x) {
  unsigned char* der = nullptr;
  int n = i2d_X509(x, &der);
  auto c = std::make_unique<SignedCertificate>();
  if (n <= 0 || c->decodeBuffer(der, n) != n) throw std::runtime_error("decode");
  OPENSSL_free(der);
  return c;
}

// The root held shared, as the key manager holds its roots.
struct RootOnly : PathBuildEnvironment {
  SharedCertificate root;
  void rootList(bool qualified, std::vector<const SignedCertificate*>& out) override {
    if (!qualified) out.push_back(&root.get());
  }
  SharedCertificate heldTrustPoint(const SignedCertificate& point) override {
    return &point == &root.get() ? root : PathBuildEnvironment::heldTrustPoint(point);
  }
};

struct Fixture {
  X509_STORE* store = nullptr;
  X509* ee = nullptr;
  FakeDb db;
  CertificateManager mgr;
  RootOnly env;
  ReportStream report;  // no sink: nothing is written
  SharedCertificate ourEe;  // decoded once, as openssl's X509 is
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
  f->ourEe.adopt(toOurs(f->ee));
  f->env.root.adopt(toOurs(root));
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
    int r = f.builder->buildPathForCertificate(path, f.ourEe, PATH_PURPOSE_SIGNER, false);
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

// A CRL of `issuer` listing serials 1,000,000.. (count of them), nextUpdate in a week.
X509_CRL* makeCrl(X509* issuer, EVP_PKEY* key, int count) {
  X509_CRL* crl = X509_CRL_new();
  X509_CRL_set_version(crl, 1);
  X509_CRL_set_issuer_name(crl, X509_get_subject_name(issuer));
  ASN1_TIME* t = ASN1_TIME_adj(nullptr, time(nullptr), -3600, 0);
  X509_CRL_set1_lastUpdate(crl, t);
  ASN1_TIME_adj(t, time(nullptr), 7, 0);
  X509_CRL_set1_nextUpdate(crl, t);
  ASN1_TIME_free(t);
  ASN1_TIME* when = ASN1_TIME_adj(nullptr, time(nullptr), -7200, 0);
  for (int i = 0; i < count; ++i) {
    X509_REVOKED* r = X509_REVOKED_new();
    ASN1_INTEGER* serial = ASN1_INTEGER_new();
    ASN1_INTEGER_set(serial, 1000000L + i);
    X509_REVOKED_set_serialNumber(r, serial);
    X509_REVOKED_set_revocationDate(r, when);
    ASN1_INTEGER_free(serial);
    X509_CRL_add0_revoked(crl, r);
  }
  ASN1_TIME_free(when);
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, nullptr, nullptr, crl, 0);
  X509_EXTENSION* e = X509V3_EXT_conf_nid(nullptr, &ctx, NID_authority_key_identifier, "keyid:always");
  if (!e) throw std::runtime_error("CRL extension");
  X509_CRL_add_ext(crl, e, -1);
  X509_EXTENSION_free(e);
  X509_CRL_sort(crl);
  if (!X509_CRL_sign(crl, key, EVP_sha256())) throw std::runtime_error("CRL sign");
  X509_CRL* read = reread(crl, i2d_X509_CRL, d2i_X509_CRL);
  X509_CRL_free(crl);
  return read;
}

// `flags`: as the library reads such data (CRLs from its database are read in
// place over a private copy of their octets).
template <class T, class F>
std::unique_ptr<T> toOursDer(F encode, unsigned char flags = 0) {
  unsigned char* der = nullptr;
  const int n = encode(&der);
  auto x = std::make_unique<T>();
  if (n <= 0 || x->decodeBuffer(der, n, flags) != n) throw std::runtime_error("decode");
  OPENSSL_free(der);
  return x;
}

// Our context for revocation: the root as trust point, the intermediates as
// the local store, CRL-issuer and responder paths built and verified.
struct RevocationFixture : RevocationEnvironment {
  X509_STORE* store = nullptr;
  X509_STORE* ocspStore = nullptr;  // the same certificates, no CRL checks
  STACK_OF(X509)* responderCerts = nullptr;
  X509* ee = nullptr;
  OCSP_BASICRESP* basic = nullptr;
  std::unique_ptr<SignedCertificate> ourEe, ourRoot, ourInt1, ourInt2;
  std::shared_ptr<const BasicOCSPResponse> ourBasic;
  LCertificateStore local;
  CertificateManager mgr;
  RootOnly env;
  ReportStream report;
  X509time now;
  std::unique_ptr<FixedPathClock> clock;
  std::unique_ptr<RevocationManager> rev, plain;  // with the CRLs, and with none
  std::unique_ptr<ManagedRevocation> managed, plainManaged;
  PathVerification pv, plainPv;
  CertificatePath path;
  ~RevocationFixture() override {
    X509_STORE_free(store);
    X509_STORE_free(ocspStore);
    sk_X509_pop_free(responderCerts, X509_free);
    X509_free(ee);
    OCSP_BASICRESP_free(basic);
  }
  void trustPoints(bool qualified, std::vector<const SignedCertificate*>& out) override {
    if (!qualified) out.push_back(ourRoot.get());
  }
  int verifyCertificatePath(const SignedCertificate& cert, int32_t purpose,
                            const RevocationArgs& args) override {
    PathBuilder builder(mgr, env, report);
    CertificatePath p;
    const int r = builder.buildPathForCertificate(p, cert, purpose, true);
    return r != 0 ? r : plainPv.verifyPath(p, args, false, purpose, true, nullptr, nullptr);
  }
  int verifyPathByKeyId(const DistinguishedName& name, const AuthorityKeyIdentifier& akid,
                        const RevocationArgs& args, SignedCertificate& end) override {
    PathBuilder builder(mgr, env, report);
    CertificatePath p;
    bool found = false;
    int r = builder.buildPathForIssuerKeyId(p, name, akid, PATH_PURPOSE_CRL_ISSUER, true, found);
    if (r == 0 && !found) r = PATH_NOT_FOUND;
    if (r == 0) r = pv.verifyPath(p, args, false, PATH_PURPOSE_CRL_ISSUER, true, nullptr, nullptr);
    if (r == 0) end = p.elementAt(0)->certificate;
    return r;
  }
};

constexpr int CRL_ENTRIES = 100000;

RevocationFixture& revocationFixture(int which) {
  static std::map<int, std::unique_ptr<RevocationFixture>> all;
  auto it = all.find(which);
  if (it != all.end()) return *it->second;
  auto f = std::make_unique<RevocationFixture>();
  const char* tag = which == RSA2048 ? "RSA" : "P-256";
  EVP_PKEY* keys[4];
  for (EVP_PKEY*& k : keys) k = newKey(which);
  X509* root = makeCert(std::string(tag) + " Rev Root", 1, keys[0], nullptr, nullptr, true);
  X509* int1 = makeCert(std::string(tag) + " Rev Int 1", 2, keys[1], root, keys[0], true);
  X509* int2 = makeCert(std::string(tag) + " Rev Int 2", 3, keys[2], int1, keys[1], true);
  f->ee = makeCert(std::string(tag) + " Rev End", 4, keys[3], int2, keys[2], false);
  X509_CRL* crls[3] = {makeCrl(root, keys[0], 1), makeCrl(int1, keys[1], 1),
                       makeCrl(int2, keys[2], CRL_ENTRIES)};

  f->store = X509_STORE_new();
  for (X509* x : {root, int1, int2}) X509_STORE_add_cert(f->store, x);
  for (X509_CRL* c : crls) X509_STORE_add_crl(f->store, c);
  X509_STORE_set_flags(f->store, X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL);
  f->ocspStore = X509_STORE_new();
  for (X509* x : {root, int1, int2}) X509_STORE_add_cert(f->ocspStore, x);

  // The OCSP response, signed by the end entity's CA.
  f->basic = OCSP_BASICRESP_new();
  OCSP_CERTID* id = OCSP_cert_to_id(EVP_sha1(), f->ee, int2);
  ASN1_TIME* thisUpdate = ASN1_TIME_adj(nullptr, time(nullptr), 0, -60);
  ASN1_TIME* nextUpdate = ASN1_TIME_adj(nullptr, time(nullptr), 7, 0);
  OCSP_basic_add1_status(f->basic, id, V_OCSP_CERTSTATUS_GOOD, 0, nullptr, thisUpdate, nextUpdate);
  OCSP_CERTID_free(id);
  ASN1_TIME_free(thisUpdate);
  ASN1_TIME_free(nextUpdate);
  if (!OCSP_basic_sign(f->basic, int2, keys[2], EVP_sha256(), nullptr, OCSP_NOCERTS))
    throw std::runtime_error("OCSP sign");
  OCSP_BASICRESP* signedResponse = f->basic;
  f->basic = reread(signedResponse, i2d_OCSP_BASICRESP, d2i_OCSP_BASICRESP);
  OCSP_BASICRESP_free(signedResponse);
  f->responderCerts = sk_X509_new_null();
  X509_up_ref(int2);
  sk_X509_push(f->responderCerts, int2);
  f->ourBasic = toOursDer<BasicOCSPResponse>(
      [&](unsigned char** p) { return i2d_OCSP_BASICRESP(f->basic, p); });

  // The end entity read in place, as the signature reader reads a signer's certificate.
  f->ourEe = toOursDer<SignedCertificate>([&](unsigned char** p) { return i2d_X509(f->ee, p); },
                                          static_cast<unsigned char>(ASN_FLAG_CONST | ASN_FLAG_COPY));
  f->ourRoot = toOurs(root);
  f->ourInt1 = toOurs(int1);
  f->ourInt2 = toOurs(int2);
  f->local.addCertificate(f->ourInt1.get());
  f->local.addCertificate(f->ourInt2.get());
  f->mgr.addTemporaryStore(&f->local);
  f->env.root = *f->ourRoot;
  f->now.setFromTime64(time(nullptr), true);
  f->clock = std::make_unique<FixedPathClock>(f->now.toTime64(true));
  f->rev = std::make_unique<RevocationManager>(*f->clock, nullptr);
  f->plain = std::make_unique<RevocationManager>(*f->clock, nullptr);
  for (X509_CRL* c : crls)
    f->rev->pendingCrls.push_back(toOursDer<SignedCertRevList>(
        [&](unsigned char** p) { return i2d_X509_CRL(c, p); },
        static_cast<unsigned char>(ASN_FLAG_CONST | ASN_FLAG_COPY)));
  for (RevocationManager* m : {f->rev.get(), f->plain.get()}) m->environment = f.get();
  f->managed = std::make_unique<ManagedRevocation>(*f->rev);
  f->plainManaged = std::make_unique<ManagedRevocation>(*f->plain);
  f->pv.revocation = f->managed.get();
  f->plainPv.revocation = f->plainManaged.get();
  PathBuilder builder(f->mgr, f->env, f->report);
  if (builder.buildPathForCertificate(f->path, *f->ourEe, PATH_PURPOSE_SIGNER, true) != 0 ||
      f->path.GetCount() != 4)
    throw std::runtime_error("no path");
  for (X509_CRL* c : crls) X509_CRL_free(c);
  for (X509* x : {root, int1, int2}) X509_free(x);
  for (EVP_PKEY* k : keys) EVP_PKEY_free(k);
  return *(all[which] = std::move(f));
}

void oursCrlCheck(benchmark::State& state, int which) {
  RevocationFixture& f = revocationFixture(which);
  RevocationArgs args;
  args.time = &f.now;
  for (auto _ : state) {
    PathCollector collector;
    const int r = f.pv.verifyPath(f.path, args, false, PATH_PURPOSE_SIGNER, true, nullptr, &collector);
    if (r != 0 || f.path.elementAt(0)->revocationState != REVSTATE_FOUND)
      state.SkipWithError("verification failed");
  }
}

void opensslCrlCheck(benchmark::State& state, int which) {
  RevocationFixture& f = revocationFixture(which);
  for (auto _ : state) {
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    X509_STORE_CTX_init(ctx, f.store, f.ee, nullptr);
    const int ok = X509_verify_cert(ctx);
    X509_STORE_CTX_free(ctx);
    if (ok != 1) state.SkipWithError("verification failed");
  }
}

void oursOcsp(benchmark::State& state, int which) {
  RevocationFixture& f = revocationFixture(which);
  // The issuer as the verification road hands it over: the path's item,
  // held shared (the responder's path begins at it).
  const SignedCertificate& issuer = f.path.elementAt(1)->certificate;
  if (!(issuer == *f.ourInt2)) state.SkipWithError("not the issuer");
  for (auto _ : state) {
    // The overload the verification road takes (the response lent, recorded as a copy); the
    // shared overload is for callers that already hold a response shared.
    if (!f.plain->verifyOcspResponse(*f.ourBasic, *f.ourEe, issuer, &f.now))
      state.SkipWithError("verification failed");
    f.plain->usedResponses.clear();
  }
}

void opensslOcsp(benchmark::State& state, int which) {
  RevocationFixture& f = revocationFixture(which);
  for (auto _ : state)
    if (OCSP_basic_verify(f.basic, f.responderCerts, f.ocspStore, 0) != 1)
      state.SkipWithError("verification failed");
}

// A second verification of the same certificate through the verified cache,
// as the signature verification makes it: the issuer and serial, a valid
// entry, the entry of this very certificate, and its path (read in place, or
// copied as the signature verification copies it). No
// reference does this; it is timed alone (prefix "cache/", no ratio).
// copyPath: the caller takes a copy of the cached path (as the signature
// verification does), or reads it in place.
void oursCachedAgain(benchmark::State& state, int which, bool copyPath) {
  RevocationFixture& f = revocationFixture(which);
  VerifiedRevocationCache cache([] { return true; }, *f.clock);
  if (!cache.insertEntry(f.path, 2)) state.SkipWithError("not stored");
  for (auto _ : state) {
    IssuerAndSerialNumber id;
    id.issuer = f.ourEe->tbsCertificate.issuer;
    id.serialNumber = f.ourEe->tbsCertificate.serialNumber;
    const VerifiedPathEntry* entry = cache.hasValidEntry(id) ? cache.findEntry(id) : nullptr;
    if (!entry || !(*entry->certificate == *f.ourEe)) {
      state.SkipWithError("no entry");
      break;
    }
    if (copyPath) {
      CertificatePath copy(*entry->path);
      benchmark::DoNotOptimize(copy.GetCount());
    } else {
      benchmark::DoNotOptimize(entry->path->GetCount());
    }
  }
}

}  // namespace

#define PATH_PAIR(label, which)                                                       \
  BENCHMARK_CAPTURE(oursBuild, label, which)                                          \
      ->Name("ours/path_build_store10000_" #label)                                    \
      ->Unit(benchmark::kMicrosecond);                                                \
  BENCHMARK_CAPTURE(opensslBuild, label, which)                                       \
      ->Name("libcrypto/path_build_store10000_" #label)                               \
      ->Unit(benchmark::kMicrosecond)

PATH_PAIR(rsa2048, RSA2048);
PATH_PAIR(p256, P256);

#define REVOCATION_PAIRS(label, which)                                                \
  BENCHMARK_CAPTURE(oursCrlCheck, label, which)                                       \
      ->Name("ours/path_verify_crl100000_" #label)                                    \
      ->Unit(benchmark::kMicrosecond);                                                \
  BENCHMARK_CAPTURE(opensslCrlCheck, label, which)                                    \
      ->Name("libcrypto/path_verify_crl100000_" #label)                               \
      ->Unit(benchmark::kMicrosecond);                                                \
  BENCHMARK_CAPTURE(oursOcsp, label, which)                                           \
      ->Name("ours/ocsp_response_verify_" #label)                                     \
      ->Unit(benchmark::kMicrosecond);                                                \
  BENCHMARK_CAPTURE(opensslOcsp, label, which)                                        \
      ->Name("libcrypto/ocsp_response_verify_" #label)                                \
      ->Unit(benchmark::kMicrosecond)

REVOCATION_PAIRS(rsa2048, RSA2048);
REVOCATION_PAIRS(p256, P256);

BENCHMARK_CAPTURE(oursCachedAgain, rsa2048, RSA2048, false)
    ->Name("cache/path_verify_again_rsa2048")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(oursCachedAgain, p256, P256, false)
    ->Name("cache/path_verify_again_p256")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(oursCachedAgain, rsa2048_copy, RSA2048, true)
    ->Name("cache/path_verify_again_path_copied_rsa2048")
    ->Unit(benchmark::kMicrosecond);

TAL_BENCH_MAIN()
