// The hash framework: session states, digest access, factory, LvGenericHash,
// descriptive answers and the exception texts the framework throws.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "crypto/hash/lvhash.h"
#include "crypto/hash/rsp_reader.h"

namespace {

std::string reasonOf(const LvException& e) {
  std::string w = e.what();
  size_t b = w.find("REASON: ");
  return w.substr(b + 8, w.find('\n', b) - b - 8);
}

TEST(HashFramework, StepOrFinishWithoutInitIsRefused) {
  LvSha256 h;
  const LvOctet m[3] = {'a', 'b', 'c'};
  try {
    h.step(m, 3);
    FAIL();
  } catch (const LvFsmException& e) {
    EXPECT_EQ(reasonOf(e), "Nie wykonano funkcji init.");
    std::string w = e.what();
    EXPECT_EQ(w.rfind("LIBRARY: libvorinpp\nEXCEPTION: LvFsmException\nREASON: Nie wykonano "
                      "funkcji init.\nFUNCTION: LvDhf::step\nFILE: ",
                      0),
              0u)
        << w;
    EXPECT_NE(w.find("\nLINE: "), std::string::npos);
    EXPECT_EQ(w.back(), '\n');
  }
  h.hash(m, 3);  // finished: step is refused again
  EXPECT_THROW(h.step(m, 1), LvFsmException);
  EXPECT_THROW(h.finish(), LvFsmException);
}

TEST(HashFramework, DigestAccessByState) {
  LvSha1 h;
  LvOctet out[20];
  try {
    h.getHash(0, out);
    FAIL();
  } catch (const LvFsmException& e) {
    EXPECT_EQ(reasonOf(e), "Skrot nie gotowy.");
  }
  EXPECT_THROW(h.getHashPtr(), LvFsmException);
  EXPECT_THROW(h.getHashObject(), LvFsmException);
  h.init();
  try {
    h.getHash(0, out);
    FAIL();
  } catch (const LvFsmException& e) {
    EXPECT_EQ(reasonOf(e), "Niezakonczona sesja przetwarzania.");
  }
  h.step(reinterpret_cast<const LvOctet*>("abc"), 3);
  h.finish();
  std::memset(out, 0xEE, sizeof out);
  h.getHash(0, out);
  EXPECT_EQ(rsp::tohex(out, 20), "a9993e364706816aba3e25717850c26c9cd0d89d");
  LvOctet part[8];
  std::memset(part, 0, sizeof part);
  h.getHash(5, part);
  EXPECT_EQ(rsp::tohex(part, 8), "a9993e3647000000");
  try {
    h.getHash(21, out);
    FAIL();
  } catch (const LvArgumentRangeException& e) {
    EXPECT_EQ(reasonOf(e), "Zazadany zbyt dlugi skrot.");
  }
  EXPECT_EQ(h.getHashObject().getLength(), 20u);
  // a new init discards the digest
  h.init();
  EXPECT_THROW(h.getHashPtr(), LvFsmException);
}

TEST(HashFramework, PiecesOfAnySizeGiveTheSameDigest) {
  std::vector<LvOctet> m(1000);
  for (size_t i = 0; i < m.size(); ++i) m[i] = static_cast<LvOctet>(i * 31 + 7);
  for (LvHashAlgo id = 1; id <= 8; ++id) {
    std::unique_ptr<LvHash> h(lvHashCreateObject(id));
    h->hash(m.data(), static_cast<unsigned>(m.size()));
    std::string whole = rsp::tohex(h->getHashPtr(), h->getHashOctets());
    unsigned blk = static_cast<LvDhf&>(*h).getBlockOctets();
    for (unsigned piece : {1u, blk - 1, blk, blk + 1, 3u}) {
      h->init();
      h->step(m.data(), 0);
      for (size_t done = 0; done < m.size(); done += piece)
        h->step(m.data() + done, static_cast<unsigned>(std::min<size_t>(piece, m.size() - done)));
      h->finish();
      EXPECT_EQ(rsp::tohex(h->getHashPtr(), h->getHashOctets()), whole)
          << h->getName() << " piece " << piece;
    }
  }
}

TEST(HashFramework, CloneContinuesIndependently) {
  LvSha512 h;
  h.init();
  h.step(reinterpret_cast<const LvOctet*>("ab"), 2);
  std::unique_ptr<LvHash> c(h.clone());
  c->step(reinterpret_cast<const LvOctet*>("c"), 1);
  c->finish();
  h.step(reinterpret_cast<const LvOctet*>("x"), 1);
  h.finish();
  EXPECT_EQ(rsp::tohex(c->getHashPtr(), 64).substr(0, 16), "ddaf35a193617aba");
  EXPECT_NE(rsp::tohex(h.getHashPtr(), 64).substr(0, 16), "ddaf35a193617aba");
}

TEST(HashFramework, FactoryAndDescriptions) {
  struct {
    LvHashAlgo id;
    const char* name;
    unsigned digest, block;
    const char* der;
  } table[] = {
      {1, "SHA-1", 20, 64, "06052b0e03021a"},
      {2, "SHA-224", 28, 64, "0609608648016503040204"},
      {3, "SHA-256", 32, 64, "0609608648016503040201"},
      {4, "SHA-384", 48, 128, "0609608648016503040202"},
      {5, "SHA-512", 64, 128, "0609608648016503040203"},
      {6, "RIPEMD-128", 16, 64, "060628cf06030032"},
      {7, "RIPEMD-160", 20, 64, "060628cf06030031"},
      {8, "MD5", 16, 64, "06082a864886f70d0205"},
      {9, "GHASH-128", 16, 16, nullptr},
  };
  for (const auto& t : table) {
    std::unique_ptr<LvHash> h(lvHashCreateObject(t.id));
    EXPECT_EQ(h->getAlgo(), t.id);
    EXPECT_STREQ(h->getName(), t.name);
    EXPECT_STREQ(h->getFamilyName(), "DHF");
    EXPECT_EQ(h->getMechKind(), 1u);
    EXPECT_EQ(h->getHashOctets(), t.digest);
    EXPECT_EQ(LvGenericHash::getGenericHashOctets(t.id), t.digest);
    EXPECT_EQ(h->init(), t.block);
    EXPECT_TRUE(h->isApproved());
    if (t.der != nullptr) {
      const LvOctet* der = h->getDerOid();
      EXPECT_EQ(rsp::tohex(der, der[1] + 2u), t.der) << t.name;
      EXPECT_NE(h->getOid(), nullptr);
    }
  }
  // the arc list of SHA-256
  LvSha256 s;
  const LvWord* oid = s.getOid();
  ASSERT_EQ(oid[0], 9u);
  EXPECT_EQ(oid[3], 840u);
  EXPECT_EQ(oid[9], 1u);
  for (LvHashAlgo bad : {0u, 10u, 0xFFFFFFFFu}) {
    try {
      delete lvHashCreateObject(bad);
      FAIL();
    } catch (const LvArgumentRangeException& e) {
      EXPECT_EQ(reasonOf(e), "Nieznany identyfikator algorytmu.");
    }
    EXPECT_THROW(LvGenericHash::getGenericHashOctets(bad), LvArgumentRangeException);
    LvGenericHash g;
    EXPECT_THROW(g.setHashAlgo(bad), LvArgumentRangeException);
  }
}

TEST(HashFramework, ApprovalByStrengthAndOptions) {
  LvSha1 s1;
  s1.setSecurityStrength(80);
  EXPECT_TRUE(s1.isApproved());
  s1.setSecurityStrength(81);
  EXPECT_FALSE(s1.isApproved());
  LvSha1 s1b;
  s1b.setOptionB(2);
  EXPECT_FALSE(s1b.isApproved());
  LvSha256 s256;
  s256.setSecurityStrength(128);
  EXPECT_TRUE(s256.isApproved());
  s256.setSecurityStrength(129);
  EXPECT_FALSE(s256.isApproved());
  LvMd5 md5;
  md5.setSecurityStrength(1);
  EXPECT_FALSE(md5.isApproved());
  LvMd5 md5b;
  md5b.setOption(1);
  EXPECT_FALSE(md5b.isApproved());
  LvRipemd160 r160;
  r160.setSecurityStrength(80);
  EXPECT_TRUE(r160.isApproved());
  r160.setOption(1);
  EXPECT_FALSE(r160.isApproved());
}

TEST(HashFramework, GenericHashSwitchesAndCopiesSoundly) {
  LvGenericHash g;
  EXPECT_EQ(g.getHashAlgo(), LV_HASH_SHA256);
  EXPECT_THROW(g.step(reinterpret_cast<const LvOctet*>("a"), 1), LvFsmException);
  g.setHashAlgo(LV_HASH_MD5);
  g.hash(reinterpret_cast<const LvOctet*>("abc"), 3);
  EXPECT_EQ(rsp::tohex(g.getHashPtr(), g.getHashOctets()), "900150983cd24fb0d6963f7d28e17f72");
  LvGenericHash copy(g);
  g.setHashAlgo(LV_HASH_SHA1);  // the copy's selection is its own
  EXPECT_EQ(copy.getHashAlgo(), LV_HASH_MD5);
  EXPECT_EQ(rsp::tohex(copy.getHashPtr(), 16), "900150983cd24fb0d6963f7d28e17f72");
  LvGenericHash byId(LV_HASH_RIPEMD160);
  byId.hash(reinterpret_cast<const LvOctet*>("abc"), 3);
  EXPECT_EQ(rsp::tohex(byId.getHashPtr(), 20), "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc");
}

TEST(HashFramework, NullDataWithALengthIsRefused) {
  LvSha256 h;
  h.init();
  EXPECT_THROW(h.step(nullptr, 5), LvArgumentRangeException);
  h.step(nullptr, 0);
  h.finish();
  EXPECT_EQ(rsp::tohex(h.getHashPtr(), 4), "e3b0c442");
}

}  // namespace
