// bench-libs: tal_store
// The memory database at 100,000 certificates: import, and look-ups by
// serial-number key, key-identifier key and subject key (the keys are the
// SHA-1 digests the certificate manager computes; here computed once before
// the clock runs). The certificates are one OpenSSL-made template
// re-serialised with different serials and subjects and not re-signed (the
// database checks no signatures). Reference: OpenSSL's X509_STORE holding the
// same certificates, decoded once from the same DER ours imports (so each
// keeps its received encoding, as a store filled from files does), looked up
// by subject; each side hands the caller a copy of the found certificate's
// DER. The import has no peer: ours is handed the keys, OpenSSL would decode.
// Memory per certificate is what is live after the import, counted by this
// program's operator new and delete (requested bytes plus a 16-byte header
// per block, the allocator's usual cost), and compared with the DER size;
// blocks freed while containers grow are not counted.
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "ratio_main.h"
#include "store/dbmem.h"

namespace {

// Live bytes, counted with each block's 16-byte header (which holds its size).
std::atomic<size_t> liveBytes{0};
const size_t HEADER = 16;

}  // namespace

// Out of line, as the deletes below: where GCC sees the malloc() of an inlined new it takes
// the delete's free() for a mismatch with operator new.
__attribute__((noinline)) void* operator new(size_t size)
{
  void* p = std::malloc(size + HEADER);
  if (!p)
    throw std::bad_alloc();
  *static_cast<size_t*>(p) = size;
  liveBytes += size + HEADER;
  return static_cast<char*>(p) + HEADER;
}
// Out of line: inlined where a `new` is in sight, GCC reads the header before the block as out
// of bounds and the free() of it as a mismatch with operator new; both are this pair's design.
__attribute__((noinline)) void operator delete(void* p) noexcept
{
  if (!p)
    return;
  void* block = static_cast<char*>(p) - HEADER;
  liveBytes -= *static_cast<size_t*>(block) + HEADER;
  std::free(block);
}
__attribute__((noinline)) void operator delete(void* p, size_t) noexcept { operator delete(p); }

namespace {

const int COUNT = 100000;

struct Cert {
  DbBytes der;
  DbHash serial{}, subject{}, keyId{}, certHash{};
};

DbHash sha1(const unsigned char* data, size_t length)
{
  DbHash h{};
  SHA1(data, length, h.data());
  return h;
}

struct Corpus {
  std::vector<Cert> certs;
  std::vector<X509*> x509;
  size_t derBytes = 0;

  Corpus()
  {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* t = X509_new();
    X509_set_version(t, 2);
    X509_gmtime_adj(X509_getm_notBefore(t), 0);
    X509_gmtime_adj(X509_getm_notAfter(t), 86400L * 365);
    X509_set_pubkey(t, key);
    X509_NAME* issuer = X509_NAME_new();
    X509_NAME_add_entry_by_txt(issuer, "C", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("PL"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(issuer, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Bench CA"), -1, -1, 0);
    X509_set_issuer_name(t, issuer);
    X509_set_subject_name(t, issuer);
    X509_sign(t, key, EVP_sha256());
    certs.resize(COUNT);
    for (int i = 0; i < COUNT; ++i) {
      X509* c = X509_dup(t);
      ASN1_INTEGER_set(X509_get_serialNumber(c), 100000 + i);
      X509_NAME* subject = X509_NAME_new();
      std::string cn = "Bench Subject " + std::to_string(i);
      X509_NAME_add_entry_by_txt(subject, "C", MBSTRING_ASC,
                                 reinterpret_cast<const unsigned char*>("PL"), -1, -1, 0);
      X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_UTF8,
                                 reinterpret_cast<const unsigned char*>("Organizacja testowa"), -1,
                                 -1, 0);
      X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                 reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
      X509_set_subject_name(c, subject);
      // Re-serialise the changed TBSCertificate (its cached encoding is
      // dropped first); the old signature stays.
      i2d_re_X509_tbs(c, nullptr);
      unsigned char* der = nullptr;
      int length = i2d_X509(c, &der);
      Cert& out = certs[i];
      out.der.assign(der, der + length);
      OPENSSL_free(der);
      derBytes += static_cast<size_t>(length);

      unsigned char* part = nullptr;
      int partLength = i2d_ASN1_INTEGER(X509_get_serialNumber(c), &part);
      out.serial = sha1(part, static_cast<size_t>(partLength));
      OPENSSL_free(part);
      part = nullptr;
      partLength = i2d_X509_NAME(subject, &part);
      out.subject = sha1(part, static_cast<size_t>(partLength));
      OPENSSL_free(part);
      // Each certificate stands for its own key.
      std::string keyText = "key " + std::to_string(i);
      out.keyId = sha1(reinterpret_cast<const unsigned char*>(keyText.data()), keyText.size());
      out.certHash = sha1(out.der.data(), out.der.size());
      X509_NAME_free(subject);
      X509_free(c);
    }
    // The peer's certificates from the DER, as ours are: an object built in
    // memory keeps no encoding and would be re-encoded at every look-up.
    x509.reserve(certs.size());
    for (const Cert& c : certs) {
      const unsigned char* p = c.der.data();
      X509* decoded = d2i_X509(nullptr, &p, static_cast<long>(c.der.size()));
      if (!decoded || p != c.der.data() + c.der.size()) throw std::runtime_error("d2i_X509");
      x509.push_back(decoded);
    }
    X509_NAME_free(issuer);
    X509_free(t);
    EVP_PKEY_free(key);
  }
};

Corpus& corpus()
{
  static Corpus* c = new Corpus;
  return *c;
}

void importAll(DbCrtMem& db)
{
  for (const Cert& c : corpus().certs)
    db.insertCert(c.serial, c.subject, c.certHash, c.keyId, "", c.der,
                  {{'c', "BENCH SUBJECT"}, {'o', "ORGANIZACJA TESTOWA"}}, false);
}

DbCrtMem& filled()
{
  static DbCrtMem* db = [] {
    DbCrtMem* d = new DbCrtMem;
    importAll(*d);
    return d;
  }();
  return *db;
}

void BM_import(benchmark::State& state)
{
  Corpus& all = corpus();
  for (auto _ : state) {
    size_t before = liveBytes;
    std::unique_ptr<DbCrtMem> db(new DbCrtMem);
    importAll(*db);
    size_t bytes = liveBytes - before;
    state.counters["bytes_per_cert"] = static_cast<double>(bytes) / COUNT;
    state.counters["der_bytes_per_cert"] = static_cast<double>(all.derBytes) / COUNT;
    state.counters["memory_over_der"] = static_cast<double>(bytes) / static_cast<double>(all.derBytes);
  }
  state.SetItemsProcessed(state.iterations() * COUNT);
}

template <void (DbCrtBase::*Find)(DbCertList&, const DbHash&), DbHash Cert::*Key>
void BM_find(benchmark::State& state)
{
  DbCrtMem& db = filled();
  const std::vector<Cert>& certs = corpus().certs;
  size_t i = 0;
  for (auto _ : state) {
    DbCertList list;
    (db.*Find)(list, certs[i].*Key);
    if (list.size() != 1)
      state.SkipWithError("lookup missed");
    benchmark::DoNotOptimize(list.data());
    i = (i + 7919) % certs.size();
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_openssl_subject(benchmark::State& state)
{
  static X509_STORE* store = [] {
    // Pushed straight onto the store's sorted object list: X509_STORE_add_cert
    // re-sorts the list at every addition, hours at this size. Sorted once here,
    // before the clock runs, as ours indexes at import.
    X509_STORE* s = X509_STORE_new();
    STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(s);
    for (X509* c : corpus().x509) {
      X509_OBJECT* object = X509_OBJECT_new();
      X509_OBJECT_set1_X509(object, c);
      sk_X509_OBJECT_push(objects, object);
    }
    sk_X509_OBJECT_sort(objects);
    return s;
  }();
  const std::vector<X509*>& x509 = corpus().x509;
  size_t i = 0;
  for (auto _ : state) {
    X509_OBJECT* found = X509_OBJECT_retrieve_by_subject(X509_STORE_get0_objects(store),
                                                         X509_LU_X509,
                                                         X509_get_subject_name(x509[i]));
    if (!found)
      state.SkipWithError("lookup missed");
    // The same work as ours: a copy of the certificate's DER for the caller.
    unsigned char* der = nullptr;
    int length = i2d_X509(X509_OBJECT_get0_X509(found), &der);
    benchmark::DoNotOptimize(length);
    OPENSSL_free(der);
    i = (i + 7919) % x509.size();
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_import)->Name("ours/import_100000")->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_find<&DbCrtBase::findBySerNumHash, &Cert::serial>)->Name("ours/find_serial");
BENCHMARK(BM_find<&DbCrtBase::findByKeyIdHash, &Cert::keyId>)->Name("ours/find_keyid");
BENCHMARK(BM_find<&DbCrtBase::findBySbjDnHash, &Cert::subject>)->Name("ours/find_subject");
BENCHMARK(BM_openssl_subject)->Name("libcrypto/find_subject");

TAL_BENCH_MAIN()
