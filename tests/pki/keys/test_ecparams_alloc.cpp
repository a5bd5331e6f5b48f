// Allocation failures while a curve of no name is built on first use: the
// public key's setSpecifiedDomain and verify, and the private key's sign and
// getPublicKey answer result codes (never a bare std::bad_alloc), as does the
// decode of a key of any kind, and once memory is back the same objects work.
// This program can make the n-th allocation fail, or every one from the n-th on.
#include "pki/keys/ecparams.h"
#include "pki/keys/ecprvkey.h"
#include "pki/keys/ecpubkey.h"
#include "pki/keys/subpubkeyinfo.h"
#include "pki/keytest.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace {

// Allocation number g_failAt (counted from arming) fails, and with g_failOn
// every one after it too; g_failAt 0 never.
long g_failAt = 0, g_count = 0;
bool g_failOn = false;

void* counted(size_t n) {
  if (g_failAt) {
    ++g_count;
    if (g_count == g_failAt || (g_failOn && g_count > g_failAt)) return nullptr;
  }
  return std::malloc(n ? n : 1);
}

}  // namespace

void* testAllocate(size_t n) { return counted(n); }

#include "failingnew.h"

using namespace keytest;

namespace {

// Runs op; false when an exception escaped it. The caller checks the result
// only after disarming: gtest allocates as it reports.
template <class Op>
bool returns(Op op) {
  try {
    op();
    return true;
  } catch (...) {
    return false;
  }
}

struct FailAt {
  FailAt(long n, bool onward) {
    g_count = 0;
    g_failOn = onward;
    g_failAt = n;
  }
  ~FailAt() { g_failAt = 0; }
};

// Allocations `op` makes with nothing failing.
template <class Op>
long allocationsOf(Op op) {
  FailAt count(-1, false);  // never reached: only counts
  op();
  return g_count;
}

// The failure points tried: the first ones, then spread over the rest.
std::vector<long> failurePoints(long total) {
  std::vector<long> out;
  for (long n = 1; n <= total; n += n < 40 ? 1 : total / 120 + 1) out.push_back(n);
  out.push_back(total);
  return out;
}

struct UnnamedCurveKey {
  SubPubKeyInfo spki;
  ASNoctstr point;
  DSASignature sig;
  Bytes digest;
};

// The P-256 group with 2G as generator (no row of the table), its openssl key
// and signature over msg.bin.
void loadUnnamedCurveKey(UnnamedCurveKey& k) {
  const Bytes der = readFile("othergen_prime256v1.spki.der");
  ASSERT_EQ(k.spki.decodeBuffer(der.data(), static_cast<int>(der.size())),
            static_cast<int>(der.size()));
  ASSERT_FALSE(k.spki.ecParameters().specifiedCurve.isNamedCurve());
  ASSERT_TRUE(k.spki.ecKey().getPointOctets(k.point));
  const Bytes sig = readFile("othergen_prime256v1.sig");
  ASSERT_EQ(k.sig.decodeBuffer(sig.data(), static_cast<int>(sig.size())),
            static_cast<int>(sig.size()));
  k.digest = digestOf(3, readFile("msg.bin"));
}

}  // namespace

TEST(EcParamsAlloc, PublicKeyOfUnnamedCurveAnswersOutOfMemory) {
  UnnamedCurveKey k;
  loadUnnamedCurveKey(k);
  const ECSpecifiedDomain& domain = k.spki.ecParameters().specifiedCurve;
  auto run = [&](ECPublicKey& key, bool& set, int& verified) {
    set = key.setSpecifiedDomain(domain);
    verified = key.verify(k.digest.data(), static_cast<int>(k.digest.size()), k.sig);
  };
  const long total = allocationsOf([&] {
    ECPublicKey key;
    key.set(k.point);
    bool set = false;
    int verified = 0;
    run(key, set, verified);
    EXPECT_TRUE(set);
    EXPECT_EQ(verified, 1);
  });
  ASSERT_GT(total, 10);
  for (bool onward : {false, true}) {
    for (long n : failurePoints(total)) {
      SCOPED_TRACE(std::string(onward ? "from allocation " : "allocation ") + std::to_string(n));
      ECPublicKey key;
      ASSERT_TRUE(key.set(k.point));
      bool set = false, returned = false;
      int verified = -99;
      {
        FailAt fail(n, onward);
        returned = returns([&] { run(key, set, verified); });
      }
      EXPECT_TRUE(returned);
      // a curve that was set and then ran out of memory is not "no curve"
      if (set) { EXPECT_TRUE(verified == 0 || verified == 1) << verified; }
      // with memory back the key verifies (a refused curve is set again)
      if (!set) { EXPECT_TRUE(key.setSpecifiedDomain(domain)); }
      EXPECT_EQ(key.verify(k.digest.data(), static_cast<int>(k.digest.size()), k.sig), 1);
    }
  }
}

TEST(EcParamsAlloc, PrivateKeyOfUnnamedCurveAnswersOutOfMemory) {
  UnnamedCurveKey k;
  loadUnnamedCurveKey(k);
  rbg();
  const Bytes scalar(32, 0x5A);  // below the order
  auto fresh = [&](ECPrivateKey& priv) {
    priv.privateKey.set(scalar.data(), static_cast<int>(scalar.size()));
    priv.parameters.get() = k.spki.ecParameters();
    priv.parametersPresent = 1;
  };
  // signs, derives the public point and checks the signature with it
  auto run = [&](ECPrivateKey& priv, int& signedCode, bool& derived, DSASignature& sig,
                 ECPublicKey& pub) {
    signedCode = priv.sign(k.digest.data(), static_cast<int>(k.digest.size()), &rbg(), sig);
    derived = priv.getPublicKey(pub);
  };
  auto check = [&](const DSASignature& sig, ECPublicKey& pub) {
    if (!pub.setSpecifiedDomain(k.spki.ecParameters().specifiedCurve)) return -4;
    return pub.verify(k.digest.data(), static_cast<int>(k.digest.size()), sig);
  };
  const long total = allocationsOf([&] {
    ECPrivateKey priv;
    fresh(priv);
    int code = 0;
    bool derived = false;
    DSASignature sig;
    ECPublicKey pub;
    run(priv, code, derived, sig, pub);
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(derived);
  });
  ASSERT_GT(total, 10);
  for (bool onward : {false, true}) {
    for (long n : failurePoints(total)) {
      SCOPED_TRACE(std::string(onward ? "from allocation " : "allocation ") + std::to_string(n));
      ECPrivateKey priv;
      fresh(priv);
      int code = -99;
      bool derived = false;
      DSASignature sig;
      ECPublicKey pub;
      bool returned = false;
      {
        FailAt fail(n, onward);
        returned = returns([&] { run(priv, code, derived, sig, pub); });
      }
      EXPECT_TRUE(returned);
      EXPECT_NE(code, -4);
      if (onward) { EXPECT_TRUE(code == -2 || code == 1) << code; }
      if (code == 1 && derived) { EXPECT_EQ(check(sig, pub), 1); }
      // with memory back the same key signs, and its public point verifies
      DSASignature again;
      ECPublicKey pub2;
      ASSERT_EQ(priv.sign(k.digest.data(), static_cast<int>(k.digest.size()), &rbg(), again), 1);
      ASSERT_TRUE(priv.getPublicKey(pub2));
      EXPECT_EQ(check(again, pub2), 1);
    }
  }
}

// Decoding a key of each kind while one allocation (or every one from it on)
// fails answers a code or throws the library's "bad allocation", never a bare
// std::bad_alloc; with memory back the same object decodes the key.
TEST(EcParamsAlloc, KeyDecodeAnswersOutOfMemory) {
  for (const char* name :
       {"p256.spki.der", "p256x.spki.der", "b233x.spki.der", "othergen_prime256v1.spki.der",
        "dsa2048.spki.der", "rsa2048.spki.der"}) {
    SCOPED_TRACE(name);
    const Bytes der = readFile(name);
    ASSERT_FALSE(der.empty());
    const int size = static_cast<int>(der.size());
    {
      // the named-curve table and the library's static state are made once
      SubPubKeyInfo warm;
      ASSERT_EQ(warm.decodeBuffer(der.data(), size), size);
    }
    const long total = allocationsOf([&] {
      SubPubKeyInfo k;
      EXPECT_EQ(k.decodeBuffer(der.data(), size), size);
    });
    ASSERT_GT(total, 0);
    for (bool onward : {false, true}) {
      for (long n : failurePoints(total)) {
        SCOPED_TRACE(std::string(onward ? "from allocation " : "allocation ") + std::to_string(n));
        SubPubKeyInfo k;
        int r = -99;
        std::string thrown;
        {
          FailAt fail(n, onward);
          try {
            r = k.decodeBuffer(der.data(), size);
          } catch (const std::exception& e) {
            thrown = e.what();
          }
        }
        if (thrown.empty())
          EXPECT_TRUE(r == size || r == 0 || r == EASN_MEM) << r;
        else
          EXPECT_EQ(thrown, "bad allocation");
        EXPECT_EQ(k.decodeBuffer(der.data(), size), size);
      }
    }
  }
}

// Verifying data on a thread that has not hashed with the algorithm yet, while
// one allocation fails: the verification's answer or std::bad_alloc (what the
// verifier lets out for want of memory), never a code that calls the
// algorithm unsupported.
TEST(EcParamsAlloc, DataVerificationAnswersOutOfMemory) {
  const Bytes msg = readFile("msg.bin");
  const struct {
    const char* sig;
    const char* kind;
    int hashId;
  } cases[] = {
      {"rsa2048.v15.sig", "v15", 3},
      {"rsa2048.v15sha1.sig", "v15", 1},
      {"rsa2048.pss.sig", "pss", 3},
  };
  SubPubKeyInfo k;
  ASSERT_GT(decodeSpki(k, readFile("rsa2048.spki.der")), 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sig);
    const Bytes sig = readFile(c.sig);
    const AlgorithmIdentifier alg = sigAlgOf(c.kind, c.hashId, 32);
    // each run on a new thread, whose hash objects are made anew
    auto onThread = [&](long failAt, bool* threw) {
      int r = -99;
      std::thread t([&] {
        FailAt fail(failAt, false);
        try {
          r = k.verifyData(alg, msg.data(), static_cast<int>(msg.size()), sig.data(),
                           static_cast<int>(sig.size()));
        } catch (const std::bad_alloc&) {
          *threw = true;
        }
      });
      t.join();
      return r;
    };
    bool threw = false;
    ASSERT_EQ(onThread(0, &threw), SubPubKeyInfo::SIG_VALID);
    for (long n = 1; n <= 12; ++n) {
      SCOPED_TRACE("allocation " + std::to_string(n));
      threw = false;
      const int r = onThread(n, &threw);
      if (!threw) { EXPECT_EQ(r, SubPubKeyInfo::SIG_VALID); }
    }
  }
}

// A DSA or EC-DSA signature value read while one allocation (or every one
// from it on) fails: 1 or the framework's out-of-memory answer, never 0,
// which would call a good signature malformed; with memory back the same
// object reads it.
TEST(EcParamsAlloc, SignatureValueDecodeAnswersOutOfMemory) {
  for (const char* name : {"dsa2048.sig", "p256.sig", "p521.sig"}) {
    SCOPED_TRACE(name);
    const Bytes sig = readFile(name);
    ASSERT_FALSE(sig.empty());
    const int size = static_cast<int>(sig.size());
    const long total = allocationsOf([&] {
      DSASignature s;
      EXPECT_EQ(s.decodeDer(sig.data(), size), 1);
    });
    ASSERT_GT(total, 0);
    for (bool onward : {false, true}) {
      for (long n : failurePoints(total)) {
        SCOPED_TRACE(std::string(onward ? "from allocation " : "allocation ") + std::to_string(n));
        DSASignature s;
        int r = -99;
        bool ok;
        {
          FailAt fail(n, onward);
          ok = returns([&] { r = s.decodeDer(sig.data(), size); });
        }
        ASSERT_TRUE(ok);
        EXPECT_TRUE(r == 1 || r == EASN_MEM) << r;
        EXPECT_EQ(s.decodeDer(sig.data(), size), 1);
      }
    }
  }
}
