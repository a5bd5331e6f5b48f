// HMAC: RFC 2202/2286/4231 and Wycheproof values for keys of at most one
// hash block, Python's hmac for the block-edge key lengths, and the refusal
// of longer keys (kept on purpose: they are not hashed down).
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "crypto/sym/lvmac.h"
#include "crypto/sym/symtest.h"

using symtest::Bytes;
using symtest::hex;
using symtest::reasonOf;
using symtest::toHex;

namespace {

std::string hmacHex(LvHashAlgo id, const Bytes& key, const Bytes& msg) {
  LvHmac h(id);
  h.setKey(key.data(), static_cast<unsigned>(key.size()));
  h.init();
  h.step(msg.data(), static_cast<unsigned>(msg.size()));
  h.finish();
  Bytes mac(h.getMacOctets());
  h.getMac(0, mac.data());
  return toHex(mac);
}

unsigned blockOf(LvHashAlgo id) { return (id == 4 || id == 5) ? 128 : 64; }

}  // namespace

TEST(Hmac, RfcSuites) {
  struct F {
    const char* file;
    LvHashAlgo id;
  } files[] = {{"rfc-2202-md5.txt", 8},       {"rfc-2202-sha1.txt", 1},
               {"rfc-2286-ripemd160.txt", 7}, {"rfc-4231-sha224.txt", 2},
               {"rfc-4231-sha256.txt", 3},    {"rfc-4231-sha384.txt", 4},
               {"rfc-4231-sha512.txt", 5}};
  for (const F& f : files) {
    int computed = 0, refused = 0;
    for (auto& r : symtest::readRecords(std::string("sym/") + f.file)) {
      if (!r.count("Key") || !r.count("MD")) continue;
      Bytes key = hex(r["Key"]), msg = hex(r["Msg"]);
      if (key.size() <= blockOf(f.id)) {
        EXPECT_EQ(r["MD"], hmacHex(f.id, key, msg)) << f.file << " key " << key.size();
        ++computed;
      } else {
        LvHmac h(f.id);
        try {
          h.setKey(key.data(), static_cast<unsigned>(key.size()));
          FAIL() << f.file;
        } catch (const LvBadKeyLengthException& e) {
          EXPECT_EQ("Zła długość klucza.", reasonOf(e));
        }
        ++refused;
      }
    }
    EXPECT_GE(computed, 4) << f.file;
    EXPECT_GE(refused, 1) << f.file;
  }
}

TEST(Hmac, Wycheproof) {
  struct F {
    const char* file;
    LvHashAlgo id;
  } files[] = {{"hmac_sha1_test.json", 1},
               {"hmac_sha224_test.json", 2},
               {"hmac_sha256_test.json", 3},
               {"hmac_sha384_test.json", 4},
               {"hmac_sha512_test.json", 5}};
  for (const F& f : files) {
    std::ifstream in(symtest::dataPath(std::string("sym/") + f.file));
    nlohmann::json j = nlohmann::json::parse(in);
    int n = 0;
    for (auto& g : j["testGroups"]) {
      const unsigned tagOctets = g["tagSize"].get<unsigned>() / 8;
      for (auto& t : g["tests"]) {
        Bytes key = hex(t["key"]), msg = hex(t["msg"]);
        std::string tag = t["tag"];
        std::string id = std::string(f.file) + " " + std::to_string(t["tcId"].get<int>());
        if (key.size() > blockOf(f.id)) {
          LvHmac h(f.id);
          EXPECT_THROW(h.setKey(key.data(), static_cast<unsigned>(key.size())),
                       LvBadKeyLengthException)
              << id;
          continue;
        }
        std::string mac = hmacHex(f.id, key, msg).substr(0, 2 * tagOctets);
        if (t["result"] == "valid")
          EXPECT_EQ(tag, mac) << id;
        else
          EXPECT_NE(tag, mac) << id;
        ++n;
      }
    }
    EXPECT_GT(n, 150) << f.file;
  }
}

TEST(Hmac, KeysUpToExactlyOneBlockAndNoKey) {
  std::ifstream in(symtest::dataPath("sym/hmac_extra.txt"));
  ASSERT_TRUE(in);
  std::string line;
  int n = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream ss(line);
    unsigned id;
    std::string key, msg, mac;
    ss >> id >> key >> msg >> mac;
    Bytes k = key == "-" ? Bytes() : hex(key), m = msg == "-" ? Bytes() : hex(msg);
    EXPECT_EQ(mac, hmacHex(id, k, m)) << line;
    if (k.empty()) {
      // Without setKey the empty key is used.
      LvHmac h(id);
      h.init();
      h.step(m.data(), static_cast<unsigned>(m.size()));
      h.finish();
      Bytes out(h.getMacOctets());
      h.getMac(0, out.data());
      EXPECT_EQ(mac, toHex(out)) << line;
    }
    ++n;
  }
  EXPECT_GE(n, 100);
}

// GHASH-128 has no key here and digests everything to zero, which made the
// MAC zero for every key and message.
TEST(Hmac, UnkeyedGhashIsRefused) {
  try {
    LvHmac h(9);
    FAIL();
  } catch (const LvArgumentRangeException& e) {
    EXPECT_EQ("Algorytm skrotu wymaga klucza.", reasonOf(e));
  }
  EXPECT_THROW(LvHmac(0), LvArgumentRangeException);
  EXPECT_THROW(LvHmac(10), LvArgumentRangeException);
}

TEST(Hmac, SessionPiecesAndMacAccess) {
  const Bytes key = hex("0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b");
  Bytes msg(300);
  for (size_t i = 0; i < msg.size(); ++i) msg[i] = static_cast<LvOctet>(i * 7);
  const std::string whole = hmacHex(1, key, msg);

  LvHmac h(1);
  EXPECT_STREQ("HMAC", h.getName());
  EXPECT_EQ(20u, h.getMacOctets());
  EXPECT_EQ(64u, h.getMaxKeyOctets());
  LvOctet out[32];
  try {
    h.getMac(0, out);
    FAIL();
  } catch (const LvFsmException& e) {
    EXPECT_EQ("MAC nie jest gotowy.", reasonOf(e));
  }
  try {
    h.step(msg.data(), 1);
    FAIL();
  } catch (const LvFsmException& e) {
    EXPECT_EQ("Nie rozpoczęta sesja.", reasonOf(e));
  }
  EXPECT_THROW(h.finish(), LvFsmException);
  h.setKey(key.data(), static_cast<unsigned>(key.size()));
  for (size_t piece : {1u, 63u, 64u, 65u}) {
    h.init();
    for (size_t i = 0; i < msg.size(); i += piece)
      h.step(msg.data() + i, static_cast<unsigned>(std::min(piece, msg.size() - i)));
    h.finish();
    h.getMac(0, out);
    EXPECT_EQ(whole, toHex(out, 20)) << piece;
  }
  h.getMac(10, out);
  EXPECT_EQ(whole.substr(0, 20), toHex(out, 10));
  try {
    h.getMac(21, out);
    FAIL();
  } catch (const LvArgumentRangeException& e) {
    EXPECT_EQ("Żądany jest zbyt długi MAC.", reasonOf(e));
  }
  // A refused key leaves the previous one in use.
  Bytes longKey(65, 1);
  EXPECT_THROW(h.setKey(longKey.data(), 65), LvBadKeyLengthException);
  h.init();
  h.step(msg.data(), static_cast<unsigned>(msg.size()));
  h.finish();
  h.getMac(0, out);
  EXPECT_EQ(whole, toHex(out, 20));
  // A copy starts without key or MAC.
  std::unique_ptr<LvMac> copy(h.clone());
  EXPECT_FALSE(copy->isKeySet());
  EXPECT_THROW(copy->getMac(0, out), LvFsmException);
  // An unknown hash id fails at construction.
  EXPECT_THROW(LvHmac bad(10), LvArgumentRangeException);
}
