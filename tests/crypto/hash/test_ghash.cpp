// GHASH-128 against the published GCM test cases (H and C made by the
// openssl command line, see tests/data/hash/make_data.sh).
#include <gtest/gtest.h>

#include <memory>

#include "crypto/hash/lvhash.h"
#include "crypto/hash/rsp_reader.h"

namespace {

TEST(Ghash, GcmTestCases) {
  auto recs = rsp::load(rsp::dataPath("ghash.rsp"));
  ASSERT_EQ(recs.size(), 5u);
  for (const auto& r : recs) {
    LvGhash128 g;
    auto key = rsp::unhex(r["Key"]);
    g.setKey(key.data());
    auto m = rsp::message(r);
    g.hash(m.data(), static_cast<unsigned>(m.size()));
    EXPECT_EQ(rsp::tohex(g.getHashPtr(), 16), r["MD"]) << r["Len"];
    // the same in pieces of one octet, and again on the same keyed object
    g.init();
    for (auto b : m) g.step(&b, 1);
    g.finish();
    EXPECT_EQ(rsp::tohex(g.getHashPtr(), 16), r["MD"]) << r["Len"];
  }
}

TEST(Ghash, CloneKeepsTheKeyAndTheSession) {
  auto r = rsp::load(rsp::dataPath("ghash.rsp"))[1];
  auto key = rsp::unhex(r["Key"]);
  auto m = rsp::message(r);
  LvGhash128 g;
  g.setKey(key.data());
  g.init();
  g.step(m.data(), 17);
  std::unique_ptr<LvHash> c(g.clone());
  c->step(m.data() + 17, static_cast<unsigned>(m.size() - 17));
  c->finish();
  EXPECT_EQ(rsp::tohex(c->getHashPtr(), 16), r["MD"]);
}

TEST(Ghash, WithoutAKeyEveryDigestIsZero) {
  std::unique_ptr<LvHash> g(lvHashCreateObject(LV_HASH_GHASH128));
  const LvOctet m[20] = {1, 2, 3};
  g->hash(m, sizeof m);
  EXPECT_EQ(rsp::tohex(g->getHashPtr(), 16), std::string(32, '0'));
  EXPECT_EQ(g->getOid(), nullptr);
  EXPECT_EQ(g->getDerOid(), nullptr);
  EXPECT_STREQ(g->getName(), "GHASH-128");
}

}  // namespace
