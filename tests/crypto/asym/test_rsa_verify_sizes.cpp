// Verification of openssl-made PKCS#1 v1.5 and PSS signatures (SHA-256) under keys of 1024 to
// 7680 bits, word multiples, a bit more or less than some and odd lengths
// (tests/data/rsa/make_verify_sizes.sh), on every road of the public power: the 52-bit vector
// product, the carry-chain rows, the portable rows and the vector product's portable form.
// Values that are no signature (0, 1, n - 1, n and above) are refused, never thrown on.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "crypto/algebra/longvint.h"
#include "crypto/algebra/test_num_util.h"
#include "crypto/asym/lvrsasig.h"
#include "crypto/hash/lvhash.h"

namespace {

using namespace numtest;

enum Road { kVector, kRows, kPortableRows, kVectorEmulated };

// Sets the switches for one road; the destructor restores the defaults.
struct RoadGuard {
  explicit RoadGuard(Road r) {
    longvIfmaPublicAllowed = r == kVector || r == kVectorEmulated;
    longvRowAsmAllowed = r == kVector || r == kRows;
    longvIfmaEmulated = r == kVectorEmulated;
  }
  ~RoadGuard() {
    longvIfmaPublicAllowed = true;
    longvRowAsmAllowed = true;
    longvIfmaEmulated = false;
  }
};

Bytes readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// n + d (d = -1 or 1) as octets of n's length (n is neither 0 nor all ones).
Bytes step(const Bytes& n, int d) {
  Bytes r(n);
  for (size_t i = r.size(); i-- > 0;) {
    const LvOctet wrap = d > 0 ? 0xFF : 0x00;
    const bool carry = r[i] == wrap;
    r[i] = static_cast<LvOctet>(r[i] + d);
    if (!carry) break;
  }
  return r;
}

}  // namespace

TEST(RsaVerifySizes, OpensslSignaturesOnEveryRoad) {
  std::ifstream f(dataPath("verify_sizes.txt"));
  std::vector<std::vector<std::string>> keys;
  std::string bits, n, e, v15, pss;
  while (f >> bits >> n >> e >> v15 >> pss) keys.push_back({bits, n, e, v15, pss});
  ASSERT_EQ(keys.size(), 12u);
  const Bytes msg = readFile(dataPath("openssl_msg.bin"));
  ASSERT_FALSE(msg.empty());
  Bytes other(msg);
  other.back() ^= 1;
  auto len = [](const Bytes& b) { return static_cast<unsigned int>(b.size()); };
  for (Road road : {kVector, kRows, kPortableRows, kVectorEmulated}) {
    RoadGuard guard(road);
    for (const auto& k : keys) {
      SCOPED_TRACE("bits " + k[0] + " road " + std::to_string(road));
      const Bytes nb = hexBytes(k[1]), eb = hexBytes(k[2]);
      ASSERT_EQ(fromHex(k[1]).getBitLength(), static_cast<unsigned int>(std::stoi(k[0])));
      LvRsaPublicKey pub;
      pub.setN(nb.data(), len(nb));
      pub.setE(eb.data(), len(eb));
      LvRsaSigPkcsV15 s;
      s.setPublicKey(&pub);
      LvRsaSigPkcsPss p(32, nullptr, LV_HASH_SHA256, 0, LV_HASH_SHA256);
      p.setPublicKey(&pub);
      const Bytes sv = hexBytes(k[3]), sp = hexBytes(k[4]);
      EXPECT_TRUE(s.verifyMessage(msg.data(), len(msg), sv.data(), len(sv), LV_HASH_SHA256));
      EXPECT_FALSE(s.verifyMessage(other.data(), len(other), sv.data(), len(sv), LV_HASH_SHA256));
      EXPECT_TRUE(p.verifyMessage(msg.data(), len(msg), sp.data(), len(sp), 0));
      EXPECT_FALSE(p.verifyMessage(other.data(), len(other), sp.data(), len(sp), 0));
      // One bit of the signature flipped, the low and the high end.
      for (size_t at : {sv.size() - 1, size_t{1}}) {
        Bytes bad(sv);
        bad[at] ^= 0x10;
        EXPECT_FALSE(s.verifyMessage(msg.data(), len(msg), bad.data(), len(bad), LV_HASH_SHA256));
      }
      // No signature: 0, 1, n - 1 (whose powers are 1 and n - 1 again), n, n + 1.
      Bytes zero(nb.size(), 0), one(nb.size(), 0);
      one.back() = 1;
      for (const Bytes& v : {zero, one, step(nb, -1), nb, step(nb, 1)}) {
        EXPECT_FALSE(s.verifyMessage(msg.data(), len(msg), v.data(), len(v), LV_HASH_SHA256));
        EXPECT_FALSE(p.verifyMessage(msg.data(), len(msg), v.data(), len(v), 0));
      }
    }
  }
}

// The key made from octets at once (as a certificate's key is set up): the modulus as DER
// carries it and with more zero octets before it, the exponent with a zero octet, verifies the
// openssl signatures as the key set number by number does, and holds the same numbers.
TEST(RsaVerifySizes, KeyFromOctetsVerifiesOpensslSignatures) {
  std::ifstream f(dataPath("verify_sizes.txt"));
  std::string bits, n, e, v15, pss;
  const Bytes msg = readFile(dataPath("openssl_msg.bin"));
  ASSERT_FALSE(msg.empty());
  auto len = [](const Bytes& b) { return static_cast<unsigned int>(b.size()); };
  unsigned int keys = 0;
  while (f >> bits >> n >> e >> v15 >> pss) {
    ++keys;
    SCOPED_TRACE("bits " + bits);
    const Bytes nb = hexBytes(n), sv = hexBytes(v15), sp = hexBytes(pss);
    Bytes eb = hexBytes(e);
    eb.insert(eb.begin(), 0x00);
    LvRsaPublicKey set;
    set.setN(nb.data(), len(nb));
    set.setE(eb.data(), len(eb));
    for (size_t zeros : {0, 1, 3, 5}) {
      Bytes padded(zeros, 0x00);
      padded.insert(padded.end(), nb.begin(), nb.end());
      LvRsaPublicKey key(padded.data(), len(padded), eb.data(), len(eb));
      EXPECT_EQ(key.getKeyBits(), static_cast<unsigned int>(std::stoi(bits)));
      EXPECT_TRUE(key.getModulus() == set.getModulus());
      EXPECT_EQ(key.getModulus().getUsed(), set.getModulus().getUsed());
      EXPECT_TRUE(key.getE() == set.getE());
      LvRsaSigPkcsV15 s;
      s.setPublicKey(&key);
      LvRsaSigPkcsPss p(32, nullptr, LV_HASH_SHA256, 0, LV_HASH_SHA256);
      p.setPublicKey(&key);
      EXPECT_TRUE(s.verifyMessage(msg.data(), len(msg), sv.data(), len(sv), LV_HASH_SHA256));
      EXPECT_TRUE(p.verifyMessage(msg.data(), len(msg), sp.data(), len(sp), 0));
      Bytes bad(sv);
      bad[bad.size() / 2] ^= 0x01;
      EXPECT_FALSE(s.verifyMessage(msg.data(), len(msg), bad.data(), len(bad), LV_HASH_SHA256));
    }
  }
  EXPECT_EQ(keys, 12u);
}
