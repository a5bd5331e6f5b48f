// Allocation failures and memory held: this program counts its heap and can
// make the n-th allocation fail. The armour reader holds only the armour,
// not the text before it, and a failed allocation answers a code (or the
// library's "bad allocation"); policy processing answers its table code,
// "cannot be decoded" or the library's "bad allocation", whichever
// allocation fails, never a bare std::bad_alloc.
#include "pki/x509/cert.h"
#include "pki/x509/pathverifier.h"
#include "pki/x509/x509ext.h"

#include "pki/certtest.h"
#include "pki/common/oids.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

// Allocation number `failAt` (counted from arming) fails; 0 never.
long g_failAt = 0, g_count = 0;
int64_t g_live = 0, g_peak = 0;
constexpr size_t kHeader = 16;

void* counted(size_t n) {
  if (g_failAt && ++g_count == g_failAt) return nullptr;
  void* p = std::malloc(n + kHeader);
  if (!p) return nullptr;
  *static_cast<size_t*>(p) = n;
  g_live += static_cast<int64_t>(n);
  if (g_live > g_peak) g_peak = g_live;
  return static_cast<char*>(p) + kHeader;
}

void uncounted(void* p) {
  if (!p) return;
  char* base = static_cast<char*>(p) - kHeader;
  g_live -= static_cast<int64_t>(*reinterpret_cast<size_t*>(base));
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

namespace {

using certtest::Bytes;

struct FailAt {
  explicit FailAt(long n) {
    g_count = 0;
    g_failAt = n;
  }
  ~FailAt() { g_failAt = 0; }
  bool hit() const { return g_count >= g_failAt; }
};

// What an operation did under one failing allocation: its result, or the
// text of what it threw.
struct Outcome {
  int result = -99;
  std::string thrown;
  bool failed = false;  // the armed allocation was reached
};

template <class F>
Outcome underFailure(long n, F op) {
  Outcome o;
  FailAt arm(n);
  try {
    o.result = op();
  } catch (const std::exception& e) {
    o.thrown = e.what();
  }
  o.failed = arm.hit();
  return o;
}

TEST(ArmourMemory, TextBeforeTheArmourIsNotHeld) {
  const Bytes pem = certtest::readFile("v3_rsa.pem");
  std::string text(4 << 20, 'x');
  text += "\n";
  text.append(pem.begin(), pem.end());
  const int want = static_cast<int>(text.find("-----END CERTIFICATE-----") + 25);
  SignedCertificate c;
  MemFile m(reinterpret_cast<unsigned char*>(&text[0]), static_cast<int32_t>(text.size()), false);
  const int64_t before = g_live;
  g_peak = g_live;
  EXPECT_EQ(c.decode(&m, static_cast<int>(text.size()), 0), want);
  EXPECT_LT(g_peak - before, 256 << 10) << "held while reading 4 MiB of text";
}

TEST(ArmourMemory, AFailedAllocationAnswersACode) {
  const Bytes pem = certtest::readFile("v3_rsa.pem");
  int failures = 0;
  for (long n = 1; n < 5000; ++n) {
    SignedCertificate c;
    Outcome o = underFailure(n, [&] { return certtest::decodeBytes(c, pem); });
    if (!o.failed) {
      EXPECT_GT(o.result, 0);
      break;
    }
    ++failures;
    if (o.thrown.empty())
      EXPECT_LE(o.result, 0) << "allocation " << n;
    else
      EXPECT_EQ(o.thrown, "bad allocation") << "allocation " << n;
  }
  EXPECT_GT(failures, 3);
}

Bytes policiesValue(const std::vector<ASNobjectId>& oids) {
  CertificatePolicies list;
  for (const ASNobjectId& oid : oids) list.addNew()->policyIdentifier = oid;
  Bytes out;
  EXPECT_GT(list.encodeVector(out), 0);
  return out;
}

TEST(PolicyMemory, AFailedAllocationAnswersTheTableCode) {
  ASNobjectId p1, p2;
  p1.set("1.3.6.1.4.1.99999.1");
  p2.set("1.3.6.1.4.1.99999.2");
  std::vector<std::unique_ptr<SignedCertificate>> certs;
  std::vector<const SignedCertificate*> path;
  for (const auto& oids : {std::vector<ASNobjectId>{anyPolicy}, std::vector<ASNobjectId>{p1, p2},
                           std::vector<ASNobjectId>{p2}}) {
    certs.emplace_back(new SignedCertificate());
    Extension* x = certs.back()->tbsCertificate.extensions->addNew();
    x->extnID = id_ce_certificatePolicies;
    const Bytes v = policiesValue(oids);
    x->extnValue.set(v.data(), static_cast<int>(v.size()));
    path.push_back(certs.back().get());
  }
  CertificatePolicies initial;
  initial.addNew()->policyIdentifier = p2;
  int failures = 0;
  for (long n = 1; n < 20000; ++n) {
    X509PathVerifier v;
    Outcome o = underFailure(n, [&] { return v.checkCertificatePolicies(path, true, false, initial); });
    if (!o.failed) {
      EXPECT_EQ(o.result, 0);
      break;
    }
    ++failures;
    if (o.thrown.empty())
      // a policies value that cannot be read for want of memory is unreadable
      EXPECT_TRUE(o.result == X509PathVerifier::TABLE_FAILURE ||
                  o.result == X509PathVerifier::POLICIES_UNREADABLE || o.result == 0)
          << "allocation " << n << ": " << o.result;
    else
      EXPECT_EQ(o.thrown, "bad allocation") << "allocation " << n;
  }
  EXPECT_GT(failures, 10);
}

}  // namespace
