// MD5 (RFC 1321), RIPEMD-160 and RIPEMD-128 (their designers' vectors).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "crypto/hash/lvhash.h"
#include "crypto/hash/rsp_reader.h"

namespace {

std::string hexOf(LvHash& h, const std::string& m) {
  h.hash(reinterpret_cast<const LvOctet*>(m.data()), static_cast<unsigned>(m.size()));
  return rsp::tohex(h.getHashPtr(), h.getHashOctets());
}

void checkFile(const std::string& name, LvHashAlgo id, const char* section = nullptr) {
  std::unique_ptr<LvHash> h(lvHashCreateObject(id));
  size_t n = 0;
  for (const auto& r : rsp::load(rsp::dataPath(name))) {
    if (section != nullptr && r.section != section) continue;
    auto m = rsp::message(r);
    h->hash(m.data(), static_cast<unsigned>(m.size()));
    EXPECT_EQ(rsp::tohex(h->getHashPtr(), h->getHashOctets()), r["MD"]) << name << " " << r["Len"];
    ++n;
  }
  EXPECT_GT(n, 0u);
}

TEST(LittleEndianHashes, PublishedVectors) {
  checkFile("md5_rfc1321.rsp", LV_HASH_MD5);
  checkFile("ripemd160_authors.rsp", LV_HASH_RIPEMD160);
}

TEST(LittleEndianHashes, EveryLengthAroundTheBlockBoundaries) {
  checkFile("boundary.rsp", LV_HASH_MD5, "md5");
  checkFile("boundary.rsp", LV_HASH_RIPEMD160, "ripemd160");
}

// The designers' RIPEMD-128 test suite.
TEST(LittleEndianHashes, Ripemd128DesignersVectors) {
  LvRipemd128 h;
  EXPECT_EQ(hexOf(h, ""), "cdf26213a150dc3ecb610f18f6b38b46");
  EXPECT_EQ(hexOf(h, "a"), "86be7afa339d0fc7cfc785e72f578d33");
  EXPECT_EQ(hexOf(h, "abc"), "c14a12199c66e4ba84636b0f69144c77");
  EXPECT_EQ(hexOf(h, "message digest"), "9e327b3d6e523062afc1132d7df9d1b8");
  EXPECT_EQ(hexOf(h, "abcdefghijklmnopqrstuvwxyz"), "fd2aa607f71dc8f510714922b371834e");
  EXPECT_EQ(hexOf(h, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "a1aa0689d0fafa2ddc22e88b49133a06");
  EXPECT_EQ(hexOf(h, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d1e959eb179c911faea4624c60c5c702");
  std::string eight;
  for (int i = 0; i < 8; ++i) eight += "1234567890";
  EXPECT_EQ(hexOf(h, eight), "3f45ef194732c2dbb2c4a2c769795fa3");
  EXPECT_EQ(hexOf(h, std::string(1000000, 'a')), "4a7f5723f954eba1216c9d8f6320431f");
}

TEST(LittleEndianHashes, MillionLettersRipemd160) {
  LvRipemd160 h;
  EXPECT_EQ(hexOf(h, std::string(1000000, 'a')), "52783243c1697bdbe16d37f97f68f08325dc1528");
}

}  // namespace
