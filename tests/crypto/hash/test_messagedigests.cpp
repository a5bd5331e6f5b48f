// Running digests over one stream, checked against coreutils / openssl.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/memfile.h"
#include "crypto/hash/messagedigests.h"
#include "crypto/hash/rsp_reader.h"

namespace {

std::string hexOf(const std::string& s) {
  return rsp::tohex(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

// A stream whose reads fail after the first piece.
class FailingStream : public GenericFile {
 public:
  int32_t read(uint32_t length, uint8_t* buffer, uint32_t* count) override {
    if (calls_++ > 0) return -1;
    uint32_t n = length < 10 ? length : 10;
    for (uint32_t i = 0; i < n; ++i) buffer[i] = 'x';
    *count = n;
    return 0;
  }
  int32_t write(uint32_t, const uint8_t*) override { return -1; }
  int32_t seek(int32_t) override { return -1; }
  uint32_t tell() override { return 0; }
  uint32_t size() override { return 0xFFFFFFFFu; }

 private:
  int calls_ = 0;
};

TEST(MessageDigests, EveryAlgorithmOverOneStreamMatchesOtherTools) {
  std::ifstream f(rsp::dataPath("stream.bin"), std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  ASSERT_EQ(bytes.size(), 70001u);
  std::map<std::string, std::string> expected;
  for (const auto& r : rsp::load(rsp::dataPath("stream_digests.rsp"))) expected[r.section] = r["MD"];
  const std::map<std::string, std::uint32_t> ids = {{"sha1", 1},   {"sha224", 2}, {"sha256", 3},
                                                    {"sha384", 4}, {"sha512", 5}, {"md5", 8},
                                                    {"ripemd160", 7}};
  MessageDigestCtxList list;
  for (const auto& kv : ids) list.addAlgorithm(kv.second);
  MemFile in(bytes.data(), static_cast<int32_t>(bytes.size()), false);
  ASSERT_EQ(list.updateFromStream(in), 0);
  for (const auto& kv : ids) {
    MessageDigestCtx* c = list.find(kv.second);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->getBytesFed(), 70001u);
    c->finish();
    std::string d;
    ASSERT_TRUE(c->getDigest(d));
    EXPECT_EQ(hexOf(d), expected[kv.first]) << kv.first;
  }
}

TEST(MessageDigests, AbcInTwoCallsAndTheSetRules) {
  MessageDigestCtxList list;
  list.addAlgorithm(1);
  list.addAlgorithm(3);
  list.addAlgorithm(3);
  EXPECT_EQ(list.contexts().size(), 2u);
  EXPECT_EQ(list.find(2), nullptr);
  list.update("a", 1);
  list.update("bc", 2, 0);
  std::string d;
  EXPECT_FALSE(list.find(1)->getDigest(d));
  list.find(1)->finish();
  list.find(3)->finish();
  list.find(3)->finish();  // a second finish keeps the value
  ASSERT_TRUE(list.find(1)->getDigest(d));
  EXPECT_EQ(hexOf(d), "a9993e364706816aba3e25717850c26c9cd0d89d");
  ASSERT_TRUE(list.find(3)->getDigest(d));
  EXPECT_EQ(hexOf(d), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(list.find(1)->getBytesFed(), 3u);
  // bytes after finish do not change the kept value
  list.update("zzz", 3);
  ASSERT_TRUE(list.find(3)->getDigest(d));
  EXPECT_EQ(hexOf(d).substr(0, 8), "ba7816bf");

  std::uint8_t big[65] = {};
  EXPECT_FALSE(list.setDigest(3, big, 65));
  EXPECT_TRUE(list.setDigest(3, big, 64));
  EXPECT_FALSE(list.setDigest(5, big, 20));
  ASSERT_TRUE(list.find(3)->getDigest(d));
  EXPECT_EQ(d.size(), 64u);
}

TEST(MessageDigests, FailuresBecomeInvariantExceptions) {
  MessageDigestCtxList empty;
  try {
    empty.update("a", 1);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("m_ptrList.size() != 0"), std::string::npos) << e.what();
  }
  EXPECT_THROW(MessageDigestCtx bad(9), std::runtime_error);
  EXPECT_THROW(MessageDigestCtx bad(0), std::runtime_error);
  // the hash library's complaint is carried as the detail
  LvSha1 idle;
  MessageDigestCtx fromIdle(idle);  // a clone of an idle hash: no session
  try {
    fromIdle.update("a", 1);
    FAIL();
  } catch (const std::runtime_error& e) {
    std::string w = e.what();
    EXPECT_NE(w.find("messagedigests"), std::string::npos) << w;
    EXPECT_NE(w.find("Nie wykonano funkcji init."), std::string::npos) << w;
  }
  // a stream that fails to read is reported
  MessageDigestCtxList list;
  list.addAlgorithm(3);
  FailingStream bad;
  EXPECT_EQ(list.updateFromStream(bad), -1);
}

// Stands for an ASN.1 object: feeds its DER encoding to a running hash.
struct FakeAsnObject {
  void updateDigest(LvHash* hash) const { hash->step(reinterpret_cast<const LvOctet*>("\x05\x00"), 2); }
  int encodedLength() const { return 2; }
};

TEST(MessageDigests, ObjectsFeedTheirEncoding) {
  MessageDigestCtx c(1);
  c.updateWithObject(FakeAsnObject());
  EXPECT_EQ(c.getBytesFed(), 2u);
  c.finish();
  std::string d;
  ASSERT_TRUE(c.getDigest(d));
  // SHA-1 of the DER NULL 05 00, by: printf '\x05\x00' | sha1sum
  EXPECT_EQ(hexOf(d), "6b91749ecea9f52797d5d7575432f93da98ed9b6");
}

TEST(MessageDigests, ClonesContinueOnTheirOwn) {
  MessageDigestCtx a(3);
  a.update("ab", 2);
  std::unique_ptr<MessageDigestCtx> b(a.clone());
  EXPECT_EQ(b->getBytesFed(), 2u);
  b->update("c", 1);
  b->finish();
  std::string d;
  ASSERT_TRUE(b->getDigest(d));
  EXPECT_EQ(hexOf(d).substr(0, 8), "ba7816bf");
  // a clone of a finished context keeps the value
  std::unique_ptr<MessageDigestCtx> c(b->clone());
  c->finish();
  ASSERT_TRUE(c->getDigest(d));
  EXPECT_EQ(hexOf(d).substr(0, 8), "ba7816bf");
  // reset starts again
  c->reset();
  EXPECT_FALSE(c->getDigest(d));
  EXPECT_EQ(c->getBytesFed(), 0u);
}

}  // namespace
