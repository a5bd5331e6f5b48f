// Random bit generators: the hash DRBG and the FIPS 186 generator against
// models of their description (tests/data/rbg/make_rbg.py), their state and
// seed checks, and the two simple generators.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "crypto/rbg/lvrbgdss.h"
#include "crypto/rbg/lvrbghashiso18031.h"
#include "crypto/sym/symtest.h"

using symtest::Bytes;
using symtest::hex;
using symtest::reasonOf;
using symtest::toHex;

namespace {

std::string fill(LvRbg& g, unsigned n) {
  Bytes out(n + 1, 0xEE);
  g.fillOctets(out.data(), n);
  EXPECT_EQ(0xEE, out[n]) << "wrote past the request";
  return toHex(out.data(), n);
}

// Lets a test reach the generation counter.
class CounterDrbg : public LvRbgHashIso18031 {
 public:
  void setCounter(std::uint32_t c) { m_counter = c; }
};

// Lets a test set the FIPS 186 generator's keys.
class KeyedDss : public LvRbgDss31 {
 public:
  const LvOctet* xkey() const { return m_xkey; }
  void setXkey(const LvOctet* k) { std::memcpy(m_xkey, k, m_b); }
};

}  // namespace

TEST(RbgModels, ReplayKnownScenarios) {
  std::ifstream in(symtest::dataPath("rbg/rbg_kat.txt"));
  ASSERT_TRUE(in);
  std::unique_ptr<LvRbgHashIso18031> drbg;
  std::unique_ptr<LvRbgDss31> dss;
  LvRbg* g = nullptr;
  std::string line;
  int fills = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream ss(line);
    std::string op, a, b;
    ss >> op >> a >> b;
    if (op == "drbg") {
      drbg.reset(new LvRbgHashIso18031());
      drbg->setHashAlgo(std::stoul(a), std::stoul(b));
      g = drbg.get();
      dss.reset();
    } else if (op == "dss") {
      dss.reset(new LvRbgDss31());
      g = dss.get();
      drbg.reset();
    } else if (op == "init" || op == "reinit") {
      Bytes seed = a == "-" ? Bytes() : hex(a);
      Bytes text = b == "-" ? Bytes() : hex(b);
      std::string s(text.begin(), text.end());
      if (drbg) {
        if (op == "init")
          drbg->init(seed.data(), static_cast<unsigned>(seed.size()), s.c_str());
        else
          drbg->reinit(seed.data(), static_cast<unsigned>(seed.size()), s.c_str());
      } else {
        if (op == "init")
          g->init(seed.data(), static_cast<unsigned>(seed.size()));
        else
          g->reinit(seed.data(), static_cast<unsigned>(seed.size()));
      }
    } else if (op == "fill") {
      EXPECT_EQ(b == "-" ? "" : b, fill(*g, std::stoul(a))) << line.substr(0, 40);
      ++fills;
    }
  }
  EXPECT_EQ(26, fills);
}

TEST(HashDrbg, SeedAndStrengthRules) {
  LvRbgHashIso18031 g;
  EXPECT_STREQ("HASH-DRBG-18031", g.getName());
  EXPECT_EQ(80u, g.getSecurityStrength());
  Bytes seed(64, 0x11);
  try {
    g.init(seed.data(), 15);
    FAIL();
  } catch (const LvBadKeyLengthException& e) {
    EXPECT_EQ("Number of seed octets is too small.", reasonOf(e));
    EXPECT_STREQ(
        "OCTETS: 0x0000000f\nMIN_OCTETS: 0x00000010\nMAX_OCTETS: 0x00000000\nSTEP_OCTETS: "
        "0x00000000\n",
        reinterpret_cast<const char*>(e.getValue()));
  }
  EXPECT_FALSE(g.isInstantiated());
  g.setHashAlgo(3, 100);
  EXPECT_EQ(112u, g.getSecurityStrength());
  g.setHashAlgo(3, 80);
  try {
    g.setHashAlgo(1, 192);
    FAIL();
  } catch (const LvArgumentRangeException& e) {
    EXPECT_EQ("Zbyt duza sila RBG.", reasonOf(e));
  }
  // The refused change left SHA-256 and strength 80 in place.
  EXPECT_EQ(80u, g.getSecurityStrength());
  LvRbgHashIso18031 ref;
  g.init(seed.data(), 20);
  ref.init(seed.data(), 20);
  EXPECT_EQ(fill(ref, 40), fill(g, 40));
  EXPECT_THROW(g.setHashAlgo(0, 80), LvArgumentRangeException);
}

TEST(HashDrbg, StatesAndCycles) {
  Bytes seed(32);
  for (size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<LvOctet>(i + 1);
  LvRbgHashIso18031 g;
  LvOctet out[8];
  try {
    g.fillOctets(out, 8);
    FAIL();
  } catch (const LvRbgNotInitialisedException& e) {
    EXPECT_EQ("Niezainicjowane RBG.", reasonOf(e));
  }
  EXPECT_THROW(g.reinit(seed.data(), 32), LvRbgNotInitialisedException);
  g.init(seed.data(), 32, "a");
  LvRbgHashIso18031 same, other;
  same.init(seed.data(), 32, "a");
  other.init(seed.data(), 32, "b");
  const std::string first = fill(g, 48);
  EXPECT_EQ(first, fill(same, 48));
  EXPECT_NE(first, fill(other, 48));
  g.reset();
  EXPECT_THROW(g.fillOctets(out, 1), LvRbgNotInitialisedException);

  // Reseeding with the very entropy input of the instantiation is a cycle.
  LvRbgHashIso18031 c;
  c.init(seed.data(), 32);
  try {
    c.reinit(seed.data(), 32);
    FAIL();
  } catch (const LvRbgCycleException& e) {
    EXPECT_EQ("There is cycle in random bit generator.", reasonOf(e));
  }
  Bytes fresh(20, 0x99);
  EXPECT_NO_THROW(c.reinit(fresh.data(), 20));
  EXPECT_NO_THROW(c.reinit(seed.data(), 5));  // no minimum on reseeding
  EXPECT_NO_THROW(c.reinit(nullptr, 0));
  // A seed length whose material would not fit in 32 bits is refused before
  // anything is read (it used to wrap to a small buffer).
  EXPECT_THROW(c.reinit(seed.data(), 0xFFFFFFF0u), LvArgumentRangeException);
}

// After 2^32 - 1 generations the counter wraps to 0. The wrap used to be
// reported once and the next request served again; now every request is
// refused until the generator is reseeded.
TEST(HashDrbg, WrappedCounterRefusesUntilReseeded) {
  Bytes seed(16, 0x42);
  CounterDrbg g;
  g.init(seed.data(), 16);
  g.setCounter(0xFFFFFFFFu);
  LvOctet out[4];
  EXPECT_NO_THROW(g.fillOctets(out, 4));
  EXPECT_THROW(g.fillOctets(out, 4), LvRbgCycleException);
  EXPECT_THROW(g.fillOctets(out, 4), LvRbgCycleException);
  Bytes fresh(16, 0x43);
  g.reinit(fresh.data(), 16);
  EXPECT_NO_THROW(g.fillOctets(out, 4));
}

// The hash may be changed on an instantiated generator; a reseed then used to
// write a digest of the new length into C and compare the fingerprint over
// the new length, past the ends of both buffers.
TEST(HashDrbg, ReseedAfterChangingToALongerHash) {
  Bytes seed(32, 0x21), fresh(32, 0x35);
  LvRbgHashIso18031 g;
  g.init(seed.data(), 32);
  g.setHashAlgo(5, 80);  // SHA-512: 64-octet digests over the 32-octet state
  EXPECT_TRUE(g.isInstantiated());
  EXPECT_NO_THROW(g.reinit(fresh.data(), 32));
  Bytes out(100);
  EXPECT_NO_THROW(g.fillOctets(out.data(), 100));
  // The fingerprint kept from the SHA-256 era never equals a SHA-512 one,
  // and a repeat of the last seed is still caught.
  EXPECT_THROW(g.reinit(fresh.data(), 32), LvRbgCycleException);
}

// GHASH-128 has no key here, so every digest is zero: a generator over it
// would hand out zeros and call them random.
TEST(HashDrbg, UnkeyedGhashIsRefused) {
  LvRbgHashIso18031 g;
  try {
    g.setHashAlgo(9, 80);
    FAIL();
  } catch (const LvArgumentRangeException& e) {
    EXPECT_EQ("Algorytm skrotu wymaga klucza.", reasonOf(e));
  }
  // Refused before anything changed: still SHA-256.
  Bytes seed(20, 0x5A), a(32), b(32);
  LvRbgHashIso18031 ref;
  g.init(seed.data(), 20);
  ref.init(seed.data(), 20);
  g.fillOctets(a.data(), 32);
  ref.fillOctets(b.data(), 32);
  EXPECT_EQ(toHex(b), toHex(a));
}

TEST(DssGenerator, SeedRulesAndStates) {
  LvRbgDss31 g;
  EXPECT_STREQ("DSS31", g.getName());
  EXPECT_EQ(20u, g.getMinSeedOctets());
  EXPECT_EQ(64u, g.getMaxSeedOctets());
  Bytes seed(100);
  for (size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<LvOctet>(3 * i + 1);
  try {
    g.init(seed.data(), 19);
    FAIL();
  } catch (const LvBadKeyLengthException& e) {
    EXPECT_EQ("Zbyt krótkie ziarno.", reasonOf(e));
    EXPECT_STREQ(
        "OCTETS: 0x00000013\nMIN_OCTETS: 0x00000014\nMAX_OCTETS: 0x00000040\nSTEP_OCTETS: "
        "0x00000001\n",
        reinterpret_cast<const char*>(e.getValue()));
  }
  LvOctet out[4];
  EXPECT_THROW(g.fillOctets(out, 4), LvRbgNotInitialisedException);
  EXPECT_THROW(g.reinit(seed.data(), 20), LvRbgNotInitialisedException);
  // Only the first 64 seed octets count.
  LvRbgDss31 a, b;
  a.init(seed.data(), 100);
  b.init(seed.data(), 64);
  EXPECT_EQ(fill(a, 50), fill(b, 50));
  // An all-zero or empty reseed changes nothing.
  Bytes zeros(30, 0);
  a.reinit(zeros.data(), 30);
  a.reinit(zeros.data(), 0);
  EXPECT_EQ(fill(b, 50), fill(a, 50));
  a.reset();
  EXPECT_THROW(a.fillOctets(out, 1), LvRbgNotInitialisedException);
}

// When the shadow meets XKEY the sequence cycles. The detecting step used to
// leave its block available, and with the two keys apart again the cycle
// went on being served without a word; now the generator refuses until it
// is seeded anew.
TEST(DssGenerator, DetectedCycleRefusesUntilReseeded) {
  Bytes s(20);
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<LvOctet>(7 * i + 3);
  // XKEY one step ahead of the shadow: the next step makes them equal.
  KeyedDss ahead;
  ahead.init(s.data(), 20);
  LvOctet o[1];
  ahead.fillOctets(o, 1);
  KeyedDss g;
  g.init(s.data(), 20);
  g.setXkey(ahead.xkey());
  LvOctet out[20];
  try {
    g.fillOctets(out, 5);
    FAIL();
  } catch (const LvRbgCycleException& e) {
    EXPECT_EQ("Wykryto cykl RBG", reasonOf(e));
  }
  EXPECT_THROW(g.fillOctets(out, 1), LvRbgCycleException);
  EXPECT_THROW(g.fillOctets(out, 20), LvRbgCycleException);
  // An all-zero reseed changes nothing, so the refusal stays.
  Bytes zeros(20, 0);
  g.reinit(zeros.data(), 20);
  EXPECT_THROW(g.fillOctets(out, 1), LvRbgCycleException);
  // A real reseed or a new instantiation serves again.
  Bytes fresh(20, 0x77);
  g.reinit(fresh.data(), 20);
  EXPECT_NO_THROW(g.fillOctets(out, 20));
  g.init(s.data(), 20);
  LvRbgDss31 ref;
  ref.init(s.data(), 20);
  LvOctet a[24], b[24];
  g.fillOctets(a, 24);
  ref.fillOctets(b, 24);
  EXPECT_EQ(toHex(b, 24), toHex(a, 24));
}

TEST(SimpleGenerators, ReplayRandAndWordDraws) {
  const LvOctet abc[] = {0x41, 0x42, 0x43};
  LvRbgSimple s(abc, 3);
  EXPECT_EQ("41424341424341", fill(s, 7));
  LvRbgSimple none;
  EXPECT_EQ("000000", fill(none, 3));
  LvRbgSimple nothing(nullptr, 0);
  EXPECT_EQ("0000", fill(nothing, 2));
  const LvOctet eight[] = {1, 2, 3, 4, 5, 6, 7, 8};
  LvRbgSimple w(eight, 8);
  LvWord words[2];
  w.getWords(words, 2);
  EXPECT_EQ(0x01020304u, words[0]);
  EXPECT_EQ(0x05060708u, words[1]);
  EXPECT_EQ(1, w.getOctet());

  const LvOctet five[] = {1, 2, 3, 4, 5};
  LvRbgRand r(five, 5);
  std::string got = fill(r, 16);
  std::srand(0x01020304u);
  std::string expect;
  for (int i = 0; i < 16; ++i) {
    LvOctet o = static_cast<LvOctet>(std::rand() & 0xFF);
    expect += toHex(&o, 1);
  }
  EXPECT_EQ(expect, got);
  EXPECT_STREQ("RBG-RAND", r.getName());
  EXPECT_STREQ("RBG-SIMPLE", s.getName());
}
