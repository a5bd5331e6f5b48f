// Memory explicit EC parameters hold once decoded, counted by replacing the
// global allocation functions: a key with the explicit form of a named curve
// or of another sound curve stays within the hold budget while it decodes and
// after, and still verifies; a domain no validation accepts is still refused.
#include "asn1/asnbase.h"
#include "asn1/asnseql.h"
#include "pki/keys/ecparams.h"
#include "pki/keys/subpubkeyinfo.h"
#include "pki/fixture_lines.h"
#include "pki/keytest.h"
#include "pki/x509/cert.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <thread>
#include <vector>

namespace {
// Live and peak octets asked of the allocator, each with a 16-octet header.
size_t g_live = 0, g_peak = 0;

void* counted(size_t n) {
  void* p = std::malloc(n + sizeof(size_t) * 2);
  if (!p) return nullptr;
  *static_cast<size_t*>(p) = n;
  g_live += n + 16;
  if (g_live > g_peak) g_peak = g_live;
  return static_cast<char*>(p) + sizeof(size_t) * 2;
}

void uncounted(void* p) {
  if (!p) return;
  char* base = static_cast<char*>(p) - sizeof(size_t) * 2;
  g_live -= *reinterpret_cast<size_t*>(base) + 16;
  std::free(base);
}
}  // namespace

void* operator new(size_t n) {
  void* p = counted(n);
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new[](size_t n) { return operator new(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return counted(n); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return counted(n); }
void operator delete(void* p) noexcept { uncounted(p); }
void operator delete[](void* p) noexcept { uncounted(p); }
void operator delete(void* p, size_t) noexcept { uncounted(p); }
void operator delete[](void* p, size_t) noexcept { uncounted(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { uncounted(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { uncounted(p); }

using namespace keytest;

namespace {

struct Held {
  int result;
  size_t peak, kept;
};

// Peak and kept octets of decoding `der` into a fresh key.
Held decodeHeld(const Bytes& der, SubPubKeyInfo& key) {
  size_t before = g_live;
  g_peak = g_live;
  int r = key.decodeBuffer(der.data(), static_cast<int>(der.size()));
  return {r, g_peak - before, g_live - before};
}

}  // namespace

// The explicit forms of named curves (prime: the table's own domain, read
// from the octets; binary: built, compared, dropped) and of two sound curves
// the table lacks (P-256 and brainpoolP512r1 with 2G as generator, keys and
// signatures by openssl): each decode keeps little, and each key verifies.
// A curve of no name is validated while decoding (a transient bounded by the
// largest field, never kept) and built again on first use.
TEST(EcParamsHold, ExplicitKeysStayWithinTheHoldBudget) {
  const struct {
    const char* key;
    const char* sig;
    int hashId;
    bool named;
  } cases[] = {
      {"p256x.spki.der", "p256x.sig", 3, true},
      {"bp384x.spki.der", "bp384x.sig", 4, true},
      {"b233x.spki.der", "b233x.sig", 3, true},
      {"othergen_prime256v1.spki.der", "othergen_prime256v1.sig", 3, false},
      {"othergen_brainpoolP512r1.spki.der", "othergen_brainpoolP512r1.sig", 3, false},
  };
  // the named-curve table and the library's static state are made once
  for (const auto& c : cases) {
    SubPubKeyInfo k;
    Bytes der = readFile(c.key);
    k.decodeBuffer(der.data(), static_cast<int>(der.size()));
  }
  const Bytes msg = readFile("msg.bin");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    const Bytes der = readFile(c.key);
    const Bytes sig = readFile(c.sig);
    ASSERT_FALSE(der.empty());
    SubPubKeyInfo k;
    Held h = decodeHeld(der, k);
    std::printf("%-36s %4zu octets: peak %7zu (%6.1fx) kept %5zu (%.1fx)\n", c.key, der.size(), h.peak,
                double(h.peak) / der.size(), h.kept, double(h.kept) / der.size());
    ASSERT_EQ(h.result, static_cast<int>(der.size()));
    const int64_t octets = static_cast<int64_t>(der.size());
    EXPECT_TRUE(asnWithinHoldBudget(static_cast<int64_t>(h.kept), octets));
    // no curve of its own kept: under ten times the octets
    EXPECT_LT(h.kept, 10 * der.size());
    if (c.named) { EXPECT_TRUE(asnWithinHoldBudget(static_cast<int64_t>(h.peak), octets)); }
    // validating the largest curve the decoder admits takes some hundreds of KB, once
    EXPECT_LT(h.peak, size_t(2) << 20);
    const Bytes digest = digestOf(c.hashId, msg);
    const ECSpecifiedDomain& domain = k.ecParameters().specifiedCurve;
    EXPECT_EQ(domain.isNamedCurve(), c.named);
    EXPECT_EQ(findNamedCurveBySpecifiedDomain(domain, false) != nullptr, c.named);
    AlgorithmIdentifier alg = sigAlgOf("ecdsa", c.hashId, 0);
    // a copy builds its own curve when used, the original too
    SubPubKeyInfo copy(k);
    EXPECT_EQ(copy.verifyDigest(alg, digest.data(), static_cast<int>(digest.size()), sig.data(),
                                static_cast<int>(sig.size())),
              1);
    EXPECT_EQ(k.verifyDigest(alg, digest.data(), static_cast<int>(digest.size()), sig.data(),
                             static_cast<int>(sig.size())),
              1);
    Bytes other = digestOf(c.hashId, Bytes{'x'});
    EXPECT_EQ(k.verifyDigest(alg, other.data(), static_cast<int>(other.size()), sig.data(),
                             static_cast<int>(sig.size())),
              0);
  }
}

// Certificates whose keys have explicit parameters (openssl, each signed by
// its own key): the certificate keeps little more than its octets, and its
// signature verifies with the curve built on first use.
TEST(EcParamsHold, CertificatesWithExplicitKeys) {
  for (const char* name : {"p256x.cert.der", "othergen_prime256v1.cert.der",
                           "othergen_brainpoolP512r1.cert.der"}) {
    SCOPED_TRACE(name);
    const Bytes der = readFile(name);
    ASSERT_FALSE(der.empty());
    {
      // the named-curve table is made on first use, once for the process
      SignedCertificate warm;
      warm.decodeBuffer(der.data(), static_cast<int>(der.size()));
    }
    SignedCertificate cert;
    size_t before = g_live;
    g_peak = g_live;
    ASSERT_EQ(cert.decodeBuffer(der.data(), static_cast<int>(der.size())),
              static_cast<int>(der.size()));
    const size_t kept = g_live - before, peak = g_peak - before;
    std::printf("%-36s %4zu octets: peak %7zu (%6.1fx) kept %5zu (%.1fx)\n", name, der.size(), peak,
                double(peak) / der.size(), kept, double(kept) / der.size());
    EXPECT_TRUE(asnWithinHoldBudget(static_cast<int64_t>(kept), static_cast<int64_t>(der.size())));
    EXPECT_LT(kept, 20 * der.size());
    EXPECT_EQ(cert.verifySelfSigned(), SignedCertificate::CERT_SIG_VALID);
  }
}

// A curve of no name whose parameters no validation accepts is still refused
// by the decode: the generator off the curve, the order not the generator's,
// a composite prime field; the same changes to a named curve's explicit form
// are refused too (they no longer match it).
TEST(EcParamsHold, InvalidExplicitCurvesAreRefusedAtDecode) {
  // offsets in the SPKI as openssl writes a 256-bit curve (openssl asn1parse):
  // the field prime's last octet 68, the generator's first x octet 165, the
  // order's last octet 263
  const struct {
    const char* key;
    size_t offset;
    unsigned char xorWith;
    const char* what;
  } cases[] = {
      {"othergen_prime256v1.spki.der", 165, 0x01, "generator off the curve"},
      {"othergen_prime256v1.spki.der", 263, 0x02, "another order"},
      {"othergen_prime256v1.spki.der", 68, 0x01, "an even field modulus"},
      {"p256x.spki.der", 165, 0x01, "named: generator off the curve"},
      {"p256x.spki.der", 263, 0x02, "named: another order"},
      {"p256x.spki.der", 68, 0x01, "named: an even field modulus"},
      // the named curve's form with one more field changed (a's and b's
      // last octets 104 and 138, the generator's last y octet 228, the
      // cofactor 266): none is P-256, none is a sound curve
      {"p256x.spki.der", 104, 0x01, "named: another a"},
      {"p256x.spki.der", 138, 0x01, "named: another b"},
      {"p256x.spki.der", 228, 0x01, "named: generator's y changed"},
      {"p256x.spki.der", 266, 0x03, "named: cofactor 2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes der = readFile(c.key);
    ASSERT_GT(der.size(), c.offset);
    SubPubKeyInfo k;
    ASSERT_EQ(k.decodeBuffer(der.data(), static_cast<int>(der.size())), static_cast<int>(der.size()));
    der[c.offset] ^= c.xorWith;
    SubPubKeyInfo bad;
    EXPECT_LE(bad.decodeBuffer(der.data(), static_cast<int>(der.size())), 0);
    EXPECT_EQ(bad.ecParameters().specifiedCurve.getKeyDomain(), nullptr);
  }
}

// Readers on several threads ask one decoded key of no name for its curve
// at once: it is built once and all get the same.
TEST(EcParamsHold, CurveOfNoNameIsBuiltOnceForConcurrentReaders) {
  const Bytes der = readFile("othergen_prime256v1.spki.der");
  SubPubKeyInfo k;
  ASSERT_EQ(k.decodeBuffer(der.data(), static_cast<int>(der.size())), static_cast<int>(der.size()));
  const ECSpecifiedDomain& domain = k.ecParameters().specifiedCurve;
  const LvGeneralDsaKeyDomain* seen[4] = {};
  std::vector<std::thread> readers;
  for (auto& s : seen) readers.emplace_back([&domain, &s] { s = domain.getKeyDomain(); });
  for (auto& t : readers) t.join();
  ASSERT_NE(seen[0], nullptr);
  for (auto* s : seen) EXPECT_EQ(s, seen[0]);
  EXPECT_EQ(domain.getKeyDomain(), seen[0]);
}

namespace {

Bytes tlv(unsigned char tag, const Bytes& content) {
  Bytes out{tag};
  size_t n = content.size();
  if (n >= 0x80) {
    Bytes len;
    for (; n; n >>= 8) len.insert(len.begin(), static_cast<unsigned char>(n));
    out.push_back(static_cast<unsigned char>(0x80 | len.size()));
    out.insert(out.end(), len.begin(), len.end());
  } else {
    out.push_back(static_cast<unsigned char>(n));
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A SEQUENCE OF `count` copies of `element`, decoded as a list of T: the
// answer and the octets the list keeps.
template <class T>
Held listHeld(const Bytes& element, size_t count, Bytes* input) {
  Bytes content;
  for (size_t i = 0; i < count; ++i) content.insert(content.end(), element.begin(), element.end());
  *input = tlv(0x30, content);
  ASNsequenceList<T> list;
  size_t before = g_live;
  g_peak = g_live;
  int r = list.decodeBuffer(input->data(), static_cast<int>(input->size()));
  return {r, g_peak - before, g_live - before};
}

}  // namespace

// The parts of an EC or DSA key are made while the key decodes, outside the
// key object a list charges for: a list of small keys of those kinds (or of
// certificates holding them) from a stranger keeps no more than the hold
// budget allows for its octets, or is refused.
TEST(EcParamsHold, ListsOfSmallKeysStayWithinTheHoldBudget) {
  using pkitest::unhex;
  const Bytes ecAlg = tlv(0x30, unhex("06072a8648ce3d020106082a8648ce3d030107"));
  const Bytes ecKey = tlv(0x30, ecAlg + tlv(0x03, Bytes{0x00, 0x02} + Bytes(32, 0x5A)));
  const Bytes ecKeySmall = tlv(0x30, ecAlg + tlv(0x03, Bytes{0x00, 0x04}));
  const Bytes dsaKey = tlv(0x30, tlv(0x30, unhex("06072a8648ce380401300902011702010b020102")) +
                                     tlv(0x03, unhex("0002010d")));
  const Bytes utc =
      tlv(0x17, Bytes{'2', '6', '0', '1', '0', '1', '0', '0', '0', '0', '0', '0', 'Z'});
  // a certificate of empty names around the key, its signature algorithm `sigAlgOid`
  auto certOf = [&](const Bytes& key, const char* sigAlgOid) {
    const Bytes sigAlg = tlv(0x30, tlv(0x06, unhex(sigAlgOid)));
    const Bytes tbs = tlv(0x30, unhex("020101") + sigAlg + unhex("3000") + tlv(0x30, utc + utc) +
                                    unhex("3000") + key);
    return tlv(0x30, tbs + sigAlg + unhex("030100"));
  };
  const struct {
    const char* name;
    Bytes element;
    bool cert;
  } rows[] = {
      {"EC keys, compressed point", ecKey, false},
      {"EC keys, one-octet point", ecKeySmall, false},
      {"DSA keys", dsaKey, false},
      {"certificates of EC keys", certOf(ecKeySmall, "2a8648ce3d040302"), true},
      {"certificates of DSA keys", certOf(dsaKey, "2b"), true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    // one element alone decodes
    const int size = static_cast<int>(row.element.size());
    SignedCertificate oneCert;
    SubPubKeyInfo oneKey;
    ASSERT_EQ(row.cert ? oneCert.decodeBuffer(row.element.data(), size)
                       : oneKey.decodeBuffer(row.element.data(), size),
              size);
    Bytes input;
    const Held h = row.cert ? listHeld<SignedCertificate>(row.element, 2000, &input)
                            : listHeld<SubPubKeyInfo>(row.element, 2000, &input);
    std::printf("%-28s %3d-octet elements: %s, kept %.1fx\n", row.name, size,
                h.result == EASN_MEM ? "refused" : "decoded", double(h.kept) / input.size());
    if (h.result == EASN_MEM) continue;
    EXPECT_EQ(h.result, static_cast<int>(input.size()));
    EXPECT_TRUE(
        asnWithinHoldBudget(static_cast<int64_t>(h.kept), static_cast<int64_t>(input.size())));
  }
}
