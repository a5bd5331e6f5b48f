// SHA-1 and SHA-2 against NIST CAVP (SHAVS), FIPS 180 examples and hashlib.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "crypto/hash/lvhash.h"
#include "crypto/hash/lvshacore.h"
#include "crypto/hash/rsp_reader.h"

namespace {

struct Alg {
  const char* file;  // CAVP file prefix
  const char* hashlibName;
  LvHashAlgo id;
};
const Alg kAlgs[] = {{"SHA1", "sha1", LV_HASH_SHA1},
                     {"SHA224", "sha224", LV_HASH_SHA224},
                     {"SHA256", "sha256", LV_HASH_SHA256},
                     {"SHA384", "sha384", LV_HASH_SHA384},
                     {"SHA512", "sha512", LV_HASH_SHA512}};

std::string digestHex(LvHash& h, const std::vector<std::uint8_t>& m) {
  h.hash(m.data(), static_cast<unsigned>(m.size()));
  return rsp::tohex(h.getHashPtr(), h.getHashOctets());
}

void checkFile(const std::string& name, LvHashAlgo id, const char* section = nullptr) {
  auto recs = rsp::load(rsp::dataPath(name));
  ASSERT_FALSE(recs.empty()) << name;
  std::unique_ptr<LvHash> h(lvHashCreateObject(id));
  size_t checked = 0;
  for (const auto& r : recs) {
    if (!r.has("MD") || !r.has("Msg")) continue;
    if (section != nullptr && r.section != section) continue;
    EXPECT_EQ(digestHex(*h, rsp::message(r)), r["MD"]) << name << " Len=" << r["Len"];
    ++checked;
  }
  EXPECT_GT(checked, 0u) << name;
}

TEST(Sha, CavpShortAndLongMessages) {
  for (const Alg& a : kAlgs) {
    checkFile(std::string(a.file) + "ShortMsg.rsp", a.id);
    checkFile(std::string(a.file) + "LongMsg.rsp", a.id);
  }
}

// Every length from 0 to 300 octets: tails of 55..64 (111..128) octets take
// one or two final blocks; the length must be counted once.
TEST(Sha, EveryLengthAroundTheBlockBoundaries) {
  for (const Alg& a : kAlgs) checkFile("boundary.rsp", a.id, a.hashlibName);
}

TEST(Sha, CavpMonteCarlo) {
  for (const Alg& a : kAlgs) {
    auto recs = rsp::load(rsp::dataPath(std::string(a.file) + "Monte.rsp"));
    std::unique_ptr<LvHash> h(lvHashCreateObject(a.id));
    std::vector<std::uint8_t> seed;
    int checked = 0;
    for (const auto& r : recs) {
      if (r.has("Seed")) seed = rsp::unhex(r["Seed"]);
      if (!r.has("COUNT")) continue;
      std::vector<std::uint8_t> md0 = seed, md1 = seed, md2 = seed;
      for (int i = 3; i < 1003; ++i) {
        std::vector<std::uint8_t> m(md0);
        m.insert(m.end(), md1.begin(), md1.end());
        m.insert(m.end(), md2.begin(), md2.end());
        h->hash(m.data(), static_cast<unsigned>(m.size()));
        md0 = md1;
        md1 = md2;
        md2.assign(h->getHashPtr(), h->getHashPtr() + h->getHashOctets());
      }
      seed = md2;
      ASSERT_EQ(rsp::tohex(md2.data(), md2.size()), r["MD"]) << a.file << " COUNT " << r["COUNT"];
      ++checked;
    }
    EXPECT_EQ(checked, 100) << a.file;
  }
}

TEST(Sha, FipsExamplesIncludingAMillionLetters) {
  const std::string abc = "abc";
  const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  const std::string m4 =
      "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";
  struct {
    LvHashAlgo id;
    const char* abc;
    const char* twoBlocks;  // the 448-bit message (896-bit for SHA-384/512)
    const char* million;
  } cases[] = {
      {LV_HASH_SHA1, "a9993e364706816aba3e25717850c26c9cd0d89d",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1", "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
      {LV_HASH_SHA224, "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7",
       "75388b16512776cc5dba5da1fd890150b0c6455cb4f58b1952522525",
       "20794655980c91d8bbb4c1ea97618a4bf03f42581948b2ee4ee7ad67"},
      {LV_HASH_SHA256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {LV_HASH_SHA384,
       "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7",
       "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa91746039",
       "9d0e1809716474cb086e834e310a4a1ced149e9c00f248527972cec5704c2a5b07b8b3dc38ecc4ebae97ddd87f3d8985"},
      {LV_HASH_SHA512,
       "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f",
       "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909",
       "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce577c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
  };
  const std::string million(1000000, 'a');
  for (const auto& c : cases) {
    std::unique_ptr<LvHash> h(lvHashCreateObject(c.id));
    const std::string& two2 = (c.id == LV_HASH_SHA384 || c.id == LV_HASH_SHA512) ? m4 : two;
    std::vector<std::uint8_t> va(abc.begin(), abc.end()), vt(two2.begin(), two2.end());
    EXPECT_EQ(digestHex(*h, va), c.abc);
    EXPECT_EQ(digestHex(*h, vt), c.twoBlocks);
    // the million letters in uneven pieces
    h->init();
    size_t done = 0, piece = 1;
    while (done < million.size()) {
      size_t n = std::min(piece, million.size() - done);
      h->step(reinterpret_cast<const LvOctet*>(million.data()) + done, static_cast<unsigned>(n));
      done += n;
      piece = piece * 3 + 1;
      if (piece > 70000) piece = 7;
    }
    h->finish();
    EXPECT_EQ(rsp::tohex(h->getHashPtr(), h->getHashOctets()), c.million) << h->getName();
  }
}

TEST(Sha, Sha224HasItsOwnInitialValue) {
  LvSha224 s224;
  LvSha256 s256;
  const LvOctet m[] = {'a', 'b', 'c'};
  s224.hash(m, 3);
  s256.hash(m, 3);
  EXPECT_NE(rsp::tohex(s224.getHashPtr(), 28), rsp::tohex(s256.getHashPtr(), 28));
  EXPECT_EQ(s224.getHashOctets(), 28u);
}

// The processor's SHA instructions and the portable code agree on every
// block count and on unaligned input.
TEST(Sha, ShaInstructionsMatchPortableCode) {
  if (!lvShaNiAvailable()) GTEST_SKIP() << "no SHA instructions on this processor";
  std::mt19937 rng(12345);
  std::vector<std::uint8_t> data(64 * 40 + 1);
  for (auto& b : data) b = static_cast<std::uint8_t>(rng());
  for (size_t blocks = 1; blocks <= 40; blocks += 3) {
    for (size_t offset = 0; offset <= 1; ++offset) {
      std::uint32_t a1[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
      std::uint32_t b1[5];
      std::copy(a1, a1 + 5, b1);
      lvSha1CompressPortable(a1, data.data() + offset, blocks);
      lvSha1CompressShaNi(b1, data.data() + offset, blocks);
      EXPECT_TRUE(std::equal(a1, a1 + 5, b1)) << "SHA-1 blocks " << blocks;
      std::uint32_t a2[8], b2[8];
      for (int i = 0; i < 8; ++i) a2[i] = b2[i] = static_cast<std::uint32_t>(rng());
      lvSha256CompressPortable(a2, data.data() + offset, blocks);
      lvSha256CompressShaNi(b2, data.data() + offset, blocks);
      EXPECT_TRUE(std::equal(a2, a2 + 8, b2)) << "SHA-256 blocks " << blocks;
    }
  }
}

// The AVX2 schedule runs blocks in pairs: every count up to 9 (pairs and a
// last block alone), aligned and not. The CAVP files above run through the
// path chosen for this processor.
void expectSha512LikePortable(LvSha64CompressFn compress, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<std::uint8_t> data(128 * 9 + 1);
  for (auto& b : data) b = static_cast<std::uint8_t>(rng());
  for (size_t blocks = 1; blocks <= 9; ++blocks) {
    for (size_t offset = 0; offset <= 1; ++offset) {
      std::uint64_t a[8], b[8];
      for (int i = 0; i < 8; ++i) a[i] = b[i] = rng();
      lvSha512CompressPortable(a, data.data() + offset, blocks);
      compress(b, data.data() + offset, blocks);
      EXPECT_TRUE(std::equal(a, a + 8, b)) << "blocks " << blocks << " offset " << offset;
    }
  }
}

TEST(Sha, Sha512Avx2MatchesPortableCode) {
  if (!lvShaAvx2Available()) GTEST_SKIP() << "no AVX2 and BMI2 on this processor";
  expectSha512LikePortable(lvSha512CompressAvx2, 54321);
}

// A digest over one compression function with the test's own padding, so that
// a path the processor would not choose (the AVX2 schedule where it has the SHA
// instructions) is checked too. `offset` misaligns the input.
template <class Word, size_t N>
std::string digestWith(void (*compress)(Word*, const std::uint8_t*, size_t), const Word (&iv)[N],
                       const std::vector<std::uint8_t>& m, size_t offset) {
  const size_t block = 16 * sizeof(Word), field = 2 * sizeof(Word);
  std::vector<std::uint8_t> p(offset);
  p.insert(p.end(), m.begin(), m.end());
  p.push_back(0x80);
  while ((p.size() - offset) % block != block - field) p.push_back(0);
  p.insert(p.end(), field - 8, 0);
  for (int i = 7; i >= 0; --i) p.push_back(static_cast<std::uint8_t>((m.size() * 8) >> (8 * i)));
  Word st[N];
  std::copy(iv, iv + N, st);
  compress(st, p.data() + offset, (p.size() - offset) / block);
  std::string out;
  for (Word w : st)
    for (int i = sizeof(Word) - 1; i >= 0; --i) {
      const std::uint8_t b = static_cast<std::uint8_t>(w >> (8 * i));
      out += rsp::tohex(&b, 1);
    }
  return out;
}

const std::uint32_t kIv1[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
const std::uint32_t kIv256[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
const std::uint64_t kIv512[8] = {0x6a09e667f3bcc908ULL, 0xbb67ae8584caa73bULL,
                                 0x3c6ef372fe94f82bULL, 0xa54ff53a5f1d36f1ULL,
                                 0x510e527fade682d1ULL, 0x9b05688c2b3e6c1fULL,
                                 0x1f83d9abfb41bd6bULL, 0x5be0cd19137e2179ULL};

// The AVX2 schedule and the portable code, each as a whole digest.
struct Path {
  const char* file;  // CAVP file prefix
  size_t block;
  std::string (*fast)(const std::vector<std::uint8_t>&, size_t);
  std::string (*portable)(const std::vector<std::uint8_t>&, size_t);
};
const Path kAvx2Paths[] = {
    {"SHA1", 64,
     [](const std::vector<std::uint8_t>& m, size_t o) { return digestWith(lvSha1CompressAvx2, kIv1, m, o); },
     [](const std::vector<std::uint8_t>& m, size_t o) { return digestWith(lvSha1CompressPortable, kIv1, m, o); }},
    {"SHA256", 64,
     [](const std::vector<std::uint8_t>& m, size_t o) { return digestWith(lvSha256CompressAvx2, kIv256, m, o); },
     [](const std::vector<std::uint8_t>& m, size_t o) { return digestWith(lvSha256CompressPortable, kIv256, m, o); }},
    {"SHA512", 128,
     [](const std::vector<std::uint8_t>& m, size_t o) { return digestWith(lvSha512CompressAvx2, kIv512, m, o); },
     [](const std::vector<std::uint8_t>& m, size_t o) { return digestWith(lvSha512CompressPortable, kIv512, m, o); }},
};

TEST(Sha, Avx2ScheduleOnCavpMessages) {
  if (!lvShaAvx2Available()) GTEST_SKIP() << "no AVX2 and BMI2 on this processor";
  for (const Path& p : kAvx2Paths)
    for (const char* kind : {"ShortMsg.rsp", "LongMsg.rsp"}) {
      size_t checked = 0;
      for (const auto& r : rsp::load(rsp::dataPath(std::string(p.file) + kind))) {
        if (!r.has("MD") || !r.has("Msg")) continue;
        EXPECT_EQ(p.fast(rsp::message(r), checked % 2), r["MD"]) << p.file << " Len=" << r["Len"];
        ++checked;
      }
      EXPECT_GT(checked, 0u) << p.file << kind;
    }
}

// The SHA-512 schedule with AVX-512VL's rotations: the CAVP messages and
// every block count up to 9 against the portable code, aligned and not.
TEST(Sha, Sha512Avx512VlScheduleOnCavpMessages) {
  if (!lvShaAvx512VlAvailable()) GTEST_SKIP() << "no AVX-512VL on this processor";
  for (const char* kind : {"ShortMsg.rsp", "LongMsg.rsp"}) {
    size_t checked = 0;
    for (const auto& r : rsp::load(rsp::dataPath(std::string("SHA512") + kind))) {
      if (!r.has("MD") || !r.has("Msg")) continue;
      EXPECT_EQ(digestWith(lvSha512CompressAvx512Vl, kIv512, rsp::message(r), checked % 2), r["MD"])
          << "Len=" << r["Len"];
      ++checked;
    }
    EXPECT_GT(checked, 0u) << kind;
  }
  expectSha512LikePortable(lvSha512CompressAvx512Vl, 512);
}

// Random lengths up to 1000 octets and every length around the first block
// boundaries (pairs of blocks and a lone last one), aligned and not.
TEST(Sha, Avx2ScheduleMatchesPortableCode) {
  if (!lvShaAvx2Available()) GTEST_SKIP() << "no AVX2 and BMI2 on this processor";
  std::mt19937 rng(777);
  std::vector<std::uint8_t> data(1000);
  for (auto& b : data) b = static_cast<std::uint8_t>(rng());
  for (const Path& p : kAvx2Paths) {
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 5 * p.block; ++n) lengths.push_back(n);
    for (int i = 0; i < 200; ++i) lengths.push_back(rng() % 1001);
    for (size_t n : lengths) {
      const std::vector<std::uint8_t> m(data.begin(), data.begin() + static_cast<long>(n));
      const size_t offset = n % 3;
      EXPECT_EQ(p.fast(m, offset), p.portable(m, 0)) << p.file << " length " << n;
    }
  }
}

// The padding handed in as a second run of blocks: every count of blocks
// before it up to 9 and one or two blocks after, aligned and not, on each
// path against the portable code over the same blocks in one run.
TEST(Sha, Sha512WithATailMatchesPortableCode) {
  std::vector<LvSha64CompressTailFn> paths = {lvSha512CompressTailPortable};
  if (lvShaAvx2Available()) paths.push_back(lvSha512CompressTailAvx2);
  if (lvShaAvx512VlAvailable()) paths.push_back(lvSha512CompressTailAvx512Vl);
  std::mt19937_64 rng(128);
  std::vector<std::uint8_t> data(128 * 9 + 1), tail(2 * 128 + 1);
  for (auto& b : data) b = static_cast<std::uint8_t>(rng());
  for (auto& b : tail) b = static_cast<std::uint8_t>(rng());
  for (LvSha64CompressTailFn fn : paths)
    for (size_t count = 0; count <= 9; ++count)
      for (size_t tailCount = 1; tailCount <= 2; ++tailCount)
        for (size_t offset = 0; offset <= 1; ++offset) {
          std::vector<std::uint8_t> joined(data.begin() + static_cast<long>(offset),
                                           data.begin() + static_cast<long>(offset + 128 * count));
          joined.insert(joined.end(), tail.begin() + static_cast<long>(offset),
                        tail.begin() + static_cast<long>(offset + 128 * tailCount));
          std::uint64_t a[8], b[8];
          for (int i = 0; i < 8; ++i) a[i] = b[i] = rng();
          lvSha512CompressPortable(a, joined.data(), count + tailCount);
          fn(b, data.data() + offset, count, tail.data() + offset, tailCount);
          EXPECT_TRUE(std::equal(a, a + 8, b))
              << "count " << count << " tail " << tailCount << " offset " << offset;
        }
}

// SHA-384 and SHA-512 hash a message given at once in one call; given in
// pieces, the padding goes alone. Both against the vectors at every length
// to 300 octets, and a message missing with a length refused on both.
TEST(Sha, Sha512AtOnceAndInPiecesOnEveryLength) {
  for (const Alg& a : kAlgs) {
    if (a.id != LV_HASH_SHA384 && a.id != LV_HASH_SHA512) continue;
    std::unique_ptr<LvHash> h(lvHashCreateObject(a.id));
    size_t checked = 0;
    for (const auto& r : rsp::load(rsp::dataPath("boundary.rsp"))) {
      if (!r.has("MD") || !r.has("Msg") || r.section != a.hashlibName) continue;
      const std::vector<std::uint8_t> m = rsp::message(r);
      EXPECT_EQ(digestHex(*h, m), r["MD"]) << a.file << " at once, length " << m.size();
      h->init();
      for (size_t done = 0; done < m.size(); done += 100)
        h->step(m.data() + done, static_cast<unsigned>(std::min<size_t>(100, m.size() - done)));
      h->finish();
      EXPECT_EQ(rsp::tohex(h->getHashPtr(), h->getHashOctets()), r["MD"])
          << a.file << " in pieces, length " << m.size();
      ++checked;
    }
    EXPECT_GT(checked, 0u) << a.file;
    EXPECT_THROW(h->hash(nullptr, 5), LvException) << a.file;
  }
}

TEST(Sha, CompressGOfTheFips186Generator) {
  // G(t, c) with t the SHA-1 initial value and c "abc" padded as SHA-1 pads
  // it is the SHA-1 digest of "abc".
  const LvWord t[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  LvOctet block[64] = {'a', 'b', 'c', 0x80};
  block[63] = 24;
  LvOctet out[20];
  LvSha1::compressG(t, block, out);
  EXPECT_EQ(rsp::tohex(out, 20), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

// The schedule words of a SHA-256 or SHA-512 block (w[16..63], w[16..79]),
// from their definition: from any sixteen in a row the block, a key's pad in
// HMAC, follows back. r: the rotations and shifts of sigma0, then of sigma1.
template <class Word>
std::vector<Word> schedule(const std::uint8_t* block, int rounds, const int (&r)[6]) {
  constexpr int bits = 8 * sizeof(Word);
  auto rotr = [](Word x, int n) { return static_cast<Word>((x >> n) | (x << (bits - n))); };
  std::vector<Word> w(rounds);
  for (int t = 0; t < 16; t++)
    for (size_t i = 0; i < sizeof(Word); i++)
      w[t] = static_cast<Word>((w[t] << 8) | block[sizeof(Word) * t + i]);
  for (int t = 16; t < rounds; t++) {
    const Word s0 = rotr(w[t - 15], r[0]) ^ rotr(w[t - 15], r[1]) ^ (w[t - 15] >> r[2]);
    const Word s1 = rotr(w[t - 2], r[3]) ^ rotr(w[t - 2], r[4]) ^ (w[t - 2] >> r[5]);
    w[t] = w[t - 16] + s0 + w[t - 7] + s1;
  }
  return w;
}
std::vector<std::uint64_t> sha512Schedule(const std::uint8_t* block) {
  return schedule<std::uint64_t>(block, 80, {1, 8, 7, 19, 61, 6});
}
std::vector<std::uint32_t> sha256Schedule(const std::uint8_t* block) {
  return schedule<std::uint32_t>(block, 64, {7, 18, 3, 17, 19, 10});
}

template <class Word>
__attribute__((noinline)) void compressOnce(void (*fn)(Word*, const std::uint8_t*, size_t),
                                            Word* st, const std::uint8_t* block, size_t count) {
  fn(st, block, count);
  __asm__ __volatile__("" : : "r"(st) : "memory");
}

// How many of a block's schedule words (beyond the block's own) lie in the
// stack the compression left below its caller: read through a fresh frame's
// array.
template <class Word>
__attribute__((noinline)) int scheduleWordsLeftOnStack(const std::vector<Word>& w) {
  volatile Word area[32768 / sizeof(Word)];
  std::vector<bool> seen(w.size(), false);
  for (size_t i = 0; i < 32768 / sizeof(Word); i++) {
    const Word v = area[i];
    for (size_t t = 16; t < w.size(); t++)
      if (v == w[t]) seen[t] = true;
  }
  return static_cast<int>(std::count(seen.begin(), seen.end(), true));
}

// The schedules' buffers are wiped, so that no run of sixteen words, from
// which the block follows back, stays behind. A stray word a register spill
// leaves is no run; a buffer of the last steps is.
TEST(Sha, AvxSchedulesLeaveNoRunOfWordsOnTheStack) {
  if (!lvShaAvx2Available()) GTEST_SKIP() << "no AVX2 and BMI2 on this processor";
  std::vector<std::pair<const char*, LvSha64CompressFn>> paths512 = {
      {"avx2", lvSha512CompressAvx2}};
  if (lvShaAvx512VlAvailable()) paths512.emplace_back("avx512vl", lvSha512CompressAvx512Vl);
  std::mt19937 rng(80);
  std::vector<std::uint8_t> blocks(3 * 128);
  for (auto& b : blocks) b = static_cast<std::uint8_t>(rng());
  for (size_t count : {1u, 2u, 3u}) {
    for (const auto& p : paths512) {
      std::uint64_t st[8] = {0};
      compressOnce(p.second, st, blocks.data(), count);
      for (size_t b = 0; b < count; b++)
        EXPECT_LT(scheduleWordsLeftOnStack(sha512Schedule(&blocks[128 * b])), 16)
            << "SHA-512 " << p.first << ", block " << b << " of " << count;
    }
    std::uint32_t st[8] = {0};
    compressOnce(lvSha256CompressAvx2, st, blocks.data(), count);
    for (size_t b = 0; b < count; b++)
      EXPECT_LT(scheduleWordsLeftOnStack(sha256Schedule(&blocks[64 * b])), 16)
          << "SHA-256 avx2, block " << b << " of " << count;
  }
}

}  // namespace
