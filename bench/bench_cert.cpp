// bench-libs: tal_pki
// Certificates and CRLs from DER: decode a certificate and verify its
// signature with the issuer's key (RSA-2048 and P-256 issuers) against
// d2i_X509 + X509_verify; decode a certificate into a usable subject key (a
// P-256 key) against d2i_X509 + X509_get0_pubkey: d2i_X509 builds the
// subject's EVP_PKEY as it decodes, so our side builds the library key the
// verification would build (the curve point read and checked) after its
// decode; decode a CRL of 10,000 entries and find one serial
// against d2i_X509_CRL + X509_CRL_get0_by_serial. The issuer keys are set up
// once on both sides; everything about the certificate or CRL is in the loop, our
// side reading over a private copy of the octets as the library reads received data.
// Our decode without the key is timed alone ("cert_decode_without_key").
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

#include "crypto/asym/lvgeneraldsa.h"
#include "pki/keys/ecparams.h"
#include "pki/x509/cert.h"
#include "pki/x509/crl.h"
#include "ratio_main.h"

namespace {

using Bytes = std::vector<unsigned char>;

enum Case { RSA2048 = 0, P256 = 1 };

// As the library reads a received certificate or CRL: in place over a private copy of the
// octets, so the object owns what it was read from, as d2i's objects do.
const unsigned char RECEIVED = static_cast<unsigned char>(ASN_FLAG_CONST | ASN_FLAG_COPY);

struct Fixture {
  EVP_PKEY* key = nullptr;
  Bytes cert, crl, spki, serial;
  SubPubKeyInfo issuer;
};

X509_NAME* name(const char* cn) {
  X509_NAME* n = X509_NAME_new();
  X509_NAME_add_entry_by_txt(n, "C", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("PL"), -1,
                             -1, 0);
  X509_NAME_add_entry_by_txt(n, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Bench"),
                             -1, -1, 0);
  X509_NAME_add_entry_by_txt(n, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn), -1,
                             -1, 0);
  return n;
}

Fixture& fixture(int which) {
  static std::map<int, std::unique_ptr<Fixture>> all;
  auto it = all.find(which);
  if (it != all.end()) return *it->second;
  auto f = std::make_unique<Fixture>();
  f->key =
      which == RSA2048 ? EVP_RSA_gen(2048) : EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
  EVP_PKEY* leafKey = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
  if (!f->key || !leafKey) throw std::runtime_error("key generation");

  X509* x = X509_new();
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), 0x1234567);
  X509_NAME* in = name("Bench CA");
  X509_NAME* sn = name("Bench leaf");
  X509_set_issuer_name(x, in);
  X509_set_subject_name(x, sn);
  X509_gmtime_adj(X509_getm_notBefore(x), 0);
  X509_gmtime_adj(X509_getm_notAfter(x), 86400L * 365);
  X509_set_pubkey(x, leafKey);
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, x, x, nullptr, nullptr, 0);
  for (auto [n, v] : {std::pair<const char*, const char*>{"basicConstraints", "critical,CA:FALSE"},
                      {"keyUsage", "critical,digitalSignature"},
                      {"subjectKeyIdentifier", "hash"},
                      {"subjectAltName", "email:bench@example.com"}}) {
    X509_EXTENSION* e = X509V3_EXT_conf(nullptr, &ctx, n, v);
    if (e) X509_add_ext(x, e, -1);
    X509_EXTENSION_free(e);
  }
  X509_sign(x, f->key, EVP_sha256());
  unsigned char* der = nullptr;
  int n = i2d_X509(x, &der);
  f->cert.assign(der, der + n);
  OPENSSL_free(der);
  X509_free(x);

  X509_CRL* crl = X509_CRL_new();
  X509_CRL_set_version(crl, 1);
  X509_CRL_set_issuer_name(crl, in);
  ASN1_TIME* t = ASN1_TIME_adj(nullptr, 0, 0, 0);
  X509_CRL_set1_lastUpdate(crl, t);
  ASN1_TIME* nt = ASN1_TIME_adj(nullptr, 0, 7, 0);
  X509_CRL_set1_nextUpdate(crl, nt);
  BIGNUM* bn = BN_new();
  for (int i = 0; i < 10000; ++i) {
    X509_REVOKED* r = X509_REVOKED_new();
    BN_set_word(bn, 0x10000000u + static_cast<unsigned>(i) * 7919u);
    ASN1_INTEGER* s = BN_to_ASN1_INTEGER(bn, nullptr);
    X509_REVOKED_set_serialNumber(r, s);
    if (i == 7777) f->serial.assign(s->data, s->data + s->length);
    ASN1_INTEGER_free(s);
    X509_REVOKED_set_revocationDate(r, t);
    X509_CRL_add0_revoked(crl, r);
  }
  BN_free(bn);
  X509_CRL_sign(crl, f->key, EVP_sha256());
  der = nullptr;
  n = i2d_X509_CRL(crl, &der);
  f->crl.assign(der, der + n);
  OPENSSL_free(der);
  X509_CRL_free(crl);
  ASN1_TIME_free(t);
  ASN1_TIME_free(nt);
  X509_NAME_free(in);
  X509_NAME_free(sn);
  EVP_PKEY_free(leafKey);

  der = nullptr;
  n = i2d_PUBKEY(f->key, &der);
  f->spki.assign(der, der + n);
  OPENSSL_free(der);
  if (f->issuer.decodeBuffer(f->spki.data(), static_cast<int>(f->spki.size()), 0) < 1)
    throw std::runtime_error("issuer key");
  Fixture& ref = *f;
  all[which] = std::move(f);
  return ref;
}

void oursCert(benchmark::State& state, int which) {
  Fixture& f = fixture(which);
  for (auto _ : state) {
    SignedCertificate c;
    int r = c.decodeBuffer(f.cert.data(), static_cast<int>(f.cert.size()), RECEIVED);
    if (r < 1 || c.verifyWithKey(f.issuer) != 1) state.SkipWithError("verification failed");
    benchmark::DoNotOptimize(r);
  }
}

void opensslCert(benchmark::State& state, int which) {
  Fixture& f = fixture(which);
  for (auto _ : state) {
    const unsigned char* p = f.cert.data();
    X509* x = d2i_X509(nullptr, &p, static_cast<long>(f.cert.size()));
    int ok = x ? X509_verify(x, f.key) : 0;
    X509_free(x);
    if (ok != 1) state.SkipWithError("verification failed");
    benchmark::DoNotOptimize(ok);
  }
}

// The subject's key made usable, as the EC verification makes it.
bool subjectKey(SignedCertificate& c, LvGeneralDsaPublicKey& key) {
  SubPubKeyInfo& spki = c.tbsCertificate.subjectPublicKeyInfo;
  const LvGeneralDsaKeyDomain* domain = spki.ecParameters().getKeyDomain();
  if (!domain) return false;
  try {
    key.setDomain(domain);
    key.setH(spki.ecKey().bits(), static_cast<unsigned int>(spki.ecKey().bitsLength()));
  } catch (...) {  // the library's exceptions for a refused point
    return false;
  }
  return true;
}

void oursCertDecodeKey(benchmark::State& state, int which) {
  Fixture& f = fixture(which);
  for (auto _ : state) {
    SignedCertificate c;
    int r = c.decodeBuffer(f.cert.data(), static_cast<int>(f.cert.size()), RECEIVED);
    LvGeneralDsaPublicKey key;
    if (r < 1 || !subjectKey(c, key)) state.SkipWithError("no key");
    benchmark::DoNotOptimize(key);
  }
}

void opensslCertDecodeKey(benchmark::State& state, int which) {
  Fixture& f = fixture(which);
  for (auto _ : state) {
    const unsigned char* p = f.cert.data();
    X509* x = d2i_X509(nullptr, &p, static_cast<long>(f.cert.size()));
    EVP_PKEY* key = x ? X509_get0_pubkey(x) : nullptr;
    if (!key) state.SkipWithError("no key");
    benchmark::DoNotOptimize(key);
    X509_free(x);
  }
}

void oursCertDecode(benchmark::State& state, int which) {
  Fixture& f = fixture(which);
  for (auto _ : state) {
    SignedCertificate c;
    int r = c.decodeBuffer(f.cert.data(), static_cast<int>(f.cert.size()), RECEIVED);
    benchmark::DoNotOptimize(r);
  }
}

void oursCrl(benchmark::State& state) {
  Fixture& f = fixture(RSA2048);
  ASNinteger wanted;
  wanted.setBytes(f.serial.data(), static_cast<int>(f.serial.size()));
  for (auto _ : state) {
    SignedCertRevList crl;
    int r = crl.decodeBuffer(f.crl.data(), static_cast<int>(f.crl.size()), RECEIVED);
    const CRLentry* hit = nullptr;
    const ASNsequenceList<CRLentry>& list = crl.tbsCertList.revokedCertificates;
    for (POSITION pos = list.GetHeadPosition(); pos && !hit;) {
      const CRLentry* e = list.GetNext(pos);
      if (e->userCertificate.compare(wanted) == 0) hit = e;
    }
    if (r < 1 || !hit) state.SkipWithError("serial not found");
    benchmark::DoNotOptimize(hit);
  }
}

void opensslCrl(benchmark::State& state) {
  Fixture& f = fixture(RSA2048);
  ASN1_INTEGER* wanted = ASN1_INTEGER_new();
  ASN1_STRING_set(wanted, f.serial.data(), static_cast<int>(f.serial.size()));
  for (auto _ : state) {
    const unsigned char* p = f.crl.data();
    X509_CRL* crl = d2i_X509_CRL(nullptr, &p, static_cast<long>(f.crl.size()));
    X509_REVOKED* hit = nullptr;
    int found = crl ? X509_CRL_get0_by_serial(crl, &hit, wanted) : 0;
    X509_CRL_free(crl);
    if (found != 1) state.SkipWithError("serial not found");
    benchmark::DoNotOptimize(hit);
  }
  ASN1_INTEGER_free(wanted);
}

}  // namespace

#define CERT_PAIR(label, which)                                                               \
  BENCHMARK_CAPTURE(oursCert, label, which)->Name("ours/cert_decode_verify_" #label);         \
  BENCHMARK_CAPTURE(opensslCert, label, which)->Name("libcrypto/cert_decode_verify_" #label); \
  BENCHMARK_CAPTURE(oursCertDecodeKey, label, which)                                          \
      ->Name("ours/cert_decode_and_subject_key_" #label);                                     \
  BENCHMARK_CAPTURE(opensslCertDecodeKey, label, which)                                       \
      ->Name("libcrypto/cert_decode_and_subject_key_" #label);                                \
  BENCHMARK_CAPTURE(oursCertDecode, label, which)->Name("ours/cert_decode_without_key_" #label)

CERT_PAIR(rsa2048, RSA2048);
CERT_PAIR(P256, P256);
BENCHMARK(oursCrl)->Name("ours/crl10000_decode_find")->Unit(benchmark::kMicrosecond);
BENCHMARK(opensslCrl)->Name("libcrypto/crl10000_decode_find")->Unit(benchmark::kMicrosecond);

namespace {
[[maybe_unused]] const bool noted = talbench::note(
    "cert_decode_and_subject_key: both sides decode the certificate and make its P-256 subject "
    "key usable (libcrypto: d2i_X509, which builds the EVP_PKEY, and X509_get0_pubkey; ours: "
    "the decode, then the library key from the curve and the point); the suffix names the "
    "issuer's key.\n"
    "cert_decode_without_key: our decode alone (d2i_X509 always builds the key, so no peer).");
}  // namespace

TAL_BENCH_MAIN()
