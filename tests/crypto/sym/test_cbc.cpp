// CBC mode: CAVP AES and TDES known answers, Wycheproof PKCS #5 padding, the
// four padding options, pieces of any length, and the session checks.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>

#include "crypto/sym/lvcbc.h"
#include "crypto/sym/lvdes.h"
#include "crypto/sym/lvrijndael.h"
#include "crypto/sym/symtest.h"

using symtest::Bytes;
using symtest::hex;
using symtest::reasonOf;
using symtest::toHex;

namespace {

Bytes crypt(LvCbc& cbc, std::uint32_t dir, const Bytes& iv, const Bytes& in) {
  Bytes out(in.size() + 2 * 32);
  unsigned n = cbc.crypt(dir, iv.data(), static_cast<unsigned>(iv.size()), in.data(),
                         static_cast<unsigned>(in.size()), out.data());
  out.resize(n);
  return out;
}

// The same through step calls of the given piece length.
Bytes cryptInPieces(LvCbc& cbc, std::uint32_t dir, const Bytes& iv, const Bytes& in, size_t piece) {
  Bytes out(in.size() + 2 * 32);
  size_t n = 0;
  cbc.init(dir, iv.data(), static_cast<unsigned>(iv.size()));
  for (size_t i = 0; i < in.size(); i += piece) {
    size_t len = std::min(piece, in.size() - i);
    n += cbc.step(in.data() + i, static_cast<unsigned>(len), out.data() + n);
  }
  n += cbc.finish(out.data() + n);
  out.resize(n);
  return out;
}

// An AES mode keyed with `key`.
#define KEYED_AES(name, key, padding) \
  LvCbc name(LV_BC_AES, padding);     \
  name.setKey((key).data(), static_cast<unsigned>((key).size()))

}  // namespace

TEST(CbcAes, CavpKnownAnswersAndMultiBlock) {
  const char* files[] = {"CBCGFSbox128.rsp",  "CBCGFSbox192.rsp",  "CBCGFSbox256.rsp",
                         "CBCKeySbox128.rsp", "CBCKeySbox192.rsp", "CBCKeySbox256.rsp",
                         "CBCVarKey128.rsp",  "CBCVarKey192.rsp",  "CBCVarKey256.rsp",
                         "CBCVarTxt128.rsp",  "CBCVarTxt192.rsp",  "CBCVarTxt256.rsp",
                         "CBCMMT128.rsp",     "CBCMMT192.rsp",     "CBCMMT256.rsp"};
  int total = 0;
  // Both with the processor's AES instructions (where present) and without.
  for (bool portable : {false, true}) {
    LvAes::forcePortable(portable);
    for (const char* f : files) {
      for (auto& r : symtest::readRecords(std::string("sym/") + f)) {
        Bytes key = hex(r["KEY"]), iv = hex(r["IV"]), pt = hex(r["PLAINTEXT"]),
              ct = hex(r["CIPHERTEXT"]);
        LvCbc cbc(LV_BC_AES, 3);
        cbc.setKey(key.data(), static_cast<unsigned>(key.size()));
        if (r["SECTION"] == "ENCRYPT") {
          EXPECT_EQ(toHex(ct), toHex(crypt(cbc, 0, iv, pt))) << f << " " << r["COUNT"];
          EXPECT_EQ(toHex(ct), toHex(cryptInPieces(cbc, 0, iv, pt, 7))) << f << " " << r["COUNT"];
        } else {
          EXPECT_EQ(toHex(pt), toHex(crypt(cbc, 1, iv, ct))) << f << " " << r["COUNT"];
          EXPECT_EQ(toHex(pt), toHex(cryptInPieces(cbc, 1, iv, ct, 5))) << f << " " << r["COUNT"];
        }
        ++total;
      }
    }
  }
  LvAes::forcePortable(false);
  EXPECT_EQ(2 * 2138, total);
}

// The instructions decrypt eight blocks at a time: every count around one
// and two groups of eight, each key length, against the table code.
TEST(CbcAes, DecryptionInGroupsMatchesTableCode) {
  for (unsigned keyLen : {16u, 24u, 32u}) {
    for (size_t blocks : {1u, 7u, 8u, 9u, 15u, 16u, 17u, 23u}) {
      Bytes key(keyLen), iv(16), ct(16 * blocks);
      for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<unsigned char>(i * 7 + keyLen);
      for (size_t i = 0; i < iv.size(); ++i) iv[i] = static_cast<unsigned char>(i * 13 + 1);
      for (size_t i = 0; i < ct.size(); ++i) ct[i] = static_cast<unsigned char>(i * 31 + blocks);
      Bytes results[2];
      for (bool portable : {false, true}) {
        LvAes::forcePortable(portable);
        LvCbc cbc(LV_BC_AES, 3);  // no padding
        cbc.setKey(key.data(), keyLen);
        results[portable] = crypt(cbc, 1, iv, ct);
      }
      LvAes::forcePortable(false);
      EXPECT_EQ(toHex(results[0]), toHex(results[1])) << keyLen << " " << blocks;
      EXPECT_EQ(results[0].size(), ct.size());
    }
  }
}

TEST(CbcTdes, CavpKnownAnswers) {
  const char* files[] = {"TCBCinvperm.rsp", "TCBCpermop.rsp", "TCBCsubtab.rsp", "TCBCvarkey.rsp",
                         "TCBCvartext.rsp", "TCBCMMT1.rsp",   "TCBCMMT2.rsp",   "TCBCMMT3.rsp"};
  int total = 0;
  for (const char* f : files) {
    for (auto& r : symtest::readRecords(std::string("sym/") + f)) {
      Bytes key;
      if (r.count("KEYs")) {
        for (int i = 0; i < 3; ++i) {
          Bytes k = hex(r["KEYs"]);
          key.insert(key.end(), k.begin(), k.end());
        }
      } else {
        for (const char* name : {"KEY1", "KEY2", "KEY3"}) {
          Bytes k = hex(r[name]);
          key.insert(key.end(), k.begin(), k.end());
        }
      }
      Bytes iv = hex(r["IV"]), pt = hex(r["PLAINTEXT"]), ct = hex(r["CIPHERTEXT"]);
      LvCbc cbc(LV_BC_TDES, 3);
      static_cast<LvDes*>(cbc.getCipher())->setWeakKeyCheck(false);  // the suites use weak keys
      cbc.setKey(key.data(), 24);
      if (r["SECTION"] == "ENCRYPT")
        EXPECT_EQ(toHex(ct), toHex(cryptInPieces(cbc, 0, iv, pt, 3))) << f << " " << r["COUNT"];
      else
        EXPECT_EQ(toHex(pt), toHex(cryptInPieces(cbc, 1, iv, ct, 11))) << f << " " << r["COUNT"];
      ++total;
    }
  }
  EXPECT_EQ(530, total);
}

// Wycheproof AES-CBC with PKCS #5 padding is padding option 0. Option 0 keeps
// on purpose a last octet 00 (the whole block is data) and 01 (one octet of
// padding) without further checks, so an "invalid" vector whose decrypted
// last octet is 00 or 01 is accepted; every other invalid vector is refused.
TEST(CbcAes, WycheproofPkcs5) {
  std::ifstream in(symtest::dataPath("sym/aes_cbc_pkcs5_test.json"));
  nlohmann::json j = nlohmann::json::parse(in);
  int valid = 0, refused = 0, keptOnPurpose = 0;
  for (auto& g : j["testGroups"]) {
    for (auto& t : g["tests"]) {
      Bytes key = hex(t["key"]), iv = hex(t["iv"]), msg = hex(t["msg"]), ct = hex(t["ct"]);
      KEYED_AES(cbc, key, 0);
      std::string id = std::to_string(t["tcId"].get<int>());
      if (t["result"] == "valid") {
        EXPECT_EQ(toHex(ct), toHex(crypt(cbc, 0, iv, msg))) << id;
        EXPECT_EQ(toHex(msg), toHex(crypt(cbc, 1, iv, ct))) << id;
        ++valid;
        continue;
      }
      Bytes raw;
      if (!ct.empty() && ct.size() % 16 == 0) {
        KEYED_AES(plain, key, 3);
        raw = crypt(plain, 1, iv, ct);
      }
      if (!raw.empty() && raw.back() <= 1) {
        raw.resize(raw.size() - raw.back());
        EXPECT_EQ(toHex(raw), toHex(crypt(cbc, 1, iv, ct))) << id;
        ++keptOnPurpose;
      } else {
        EXPECT_THROW(crypt(cbc, 1, iv, ct), LvEncryptionDecryptionException) << id;
        ++refused;
      }
    }
  }
  EXPECT_EQ(72, valid);
  EXPECT_EQ(144, refused + keptOnPurpose);
  EXPECT_GT(refused, 100);
}

TEST(CbcPadding, EncryptionOfEachOption) {
  const Bytes key = hex("2b7e151628aed2a6abf7158809cf4f3c");
  const Bytes iv = hex("000102030405060708090a0b0c0d0e0f");
  KEYED_AES(raw, key, 3);
  // Expected values: the manually padded data through the unpadded mode.
  auto expect = [&](Bytes padded) { return toHex(crypt(raw, 0, iv, padded)); };

  KEYED_AES(p0, key, 0);
  EXPECT_EQ(expect(Bytes(16, 0x10)), toHex(crypt(p0, 0, iv, Bytes())));
  Bytes five = hex("0102030405");
  Bytes five0 = five;
  five0.insert(five0.end(), 11, 0x0B);
  EXPECT_EQ(expect(five0), toHex(crypt(p0, 0, iv, five)));

  KEYED_AES(p3, key, 3);
  EXPECT_TRUE(crypt(p3, 0, iv, Bytes()).empty());
  try {
    crypt(p3, 0, iv, five);
    FAIL();
  } catch (const LvEncryptionDecryptionException& e) {
    EXPECT_EQ("Niewłaściwa długość danych przy braku dopełnienia.", reasonOf(e));
  }

  Bytes sixteen(16, 0xA5);
  for (std::uint32_t opt : {1u, 2u}) {
    KEYED_AES(p, key, opt);
    Bytes padded = sixteen;
    padded.push_back(opt == 1 ? 0x80 : 0x01);
    padded.insert(padded.end(), 15, 0);
    Bytes out = crypt(p, 0, iv, sixteen);
    EXPECT_EQ(32u, out.size());
    EXPECT_EQ(expect(padded), toHex(out));
    EXPECT_EQ(toHex(sixteen), toHex(crypt(p, 1, iv, out)));
    Bytes odd = five;
    odd.push_back(opt == 1 ? 0x80 : 0x01);
    odd.insert(odd.end(), 10, 0);
    EXPECT_EQ(expect(odd), toHex(crypt(p, 0, iv, five)));
    EXPECT_EQ(toHex(five), toHex(crypt(p, 1, iv, hex(expect(odd)))));
  }
}

TEST(CbcPadding, DecryptionChecksOfEachOption) {
  const Bytes key = hex("2b7e151628aed2a6abf7158809cf4f3c");
  const Bytes iv(16, 0x33);
  KEYED_AES(raw, key, 3);
  auto seal = [&](Bytes plain) { return crypt(raw, 0, iv, plain); };
  auto open = [&](std::uint32_t opt, Bytes plain) {
    KEYED_AES(p, key, opt);
    return crypt(p, 1, iv, seal(plain));
  };
  auto refused = [&](std::uint32_t opt, Bytes plain) {
    try {
      open(opt, plain);
      return std::string("accepted");
    } catch (const LvException& e) {
      return reasonOf(e);
    }
  };
  Bytes block(16, 0x61);
  // Option 0: last octet 0x11 exceeds the block.
  block[15] = 0x11;
  EXPECT_EQ("Niewłaściwe dopełnienie.", refused(0, block));
  // 0x00 keeps the whole block, 0x01 drops only itself.
  block[15] = 0x00;
  EXPECT_EQ(toHex(block), toHex(open(0, block)));
  block[15] = 0x01;
  EXPECT_EQ(15u, open(0, block).size());
  // 0x10: a whole block of padding.
  EXPECT_TRUE(open(0, Bytes(16, 0x10)).empty());
  // n octets of n are checked.
  block.assign(16, 0x61);
  for (int i = 11; i < 16; ++i) block[i] = 5;
  EXPECT_EQ(11u, open(0, block).size());
  block[12] = 4;
  EXPECT_EQ("Niewłaściwe dopełnienie.", refused(0, block));

  // Options 1 and 2: a marker after the data, zeros after it.
  for (std::uint32_t opt : {1u, 2u}) {
    const LvOctet marker = opt == 1 ? 0x80 : 0x01;
    Bytes b(16, 0x61);
    b[9] = marker;
    std::fill(b.begin() + 10, b.end(), 0);
    EXPECT_EQ(9u, open(opt, b).size());
    EXPECT_EQ("Niewłaściwe dopełnienie.", refused(opt, Bytes(16, 0)));
    b[9] = 0x7F;
    EXPECT_EQ("Niewłaściwe dopełnienie.", refused(opt, b));
    b[15] = marker;
    EXPECT_EQ(15u, open(opt, b).size());
  }

  // Unknown options fail when padding is written or removed.
  for (std::uint32_t dir : {0u, 1u}) {
    KEYED_AES(p, key, 4);
    try {
      crypt(p, dir, iv, Bytes(16, 0x10));
      FAIL();
    } catch (const LvLibNotImplementedException& e) {
      EXPECT_EQ("Nieznany algorytm.", reasonOf(e));
    }
  }
}

// Decrypting nothing must not hold back a block that is not there: before
// the mend the hold-back made the count of complete blocks wrap around and
// the mode read far past the input.
TEST(CbcDecryption, EmptyInputHoldsNothingBack) {
  const Bytes key = hex("2b7e151628aed2a6abf7158809cf4f3c");
  const Bytes iv(16, 0);
  for (std::uint32_t opt : {0u, 1u, 2u}) {
    KEYED_AES(p, key, opt);
    LvOctet out[64];
    p.init(1, iv.data(), 16);
    EXPECT_EQ(0u, p.step(nullptr, 0, out));
    try {
      p.finish(out);
      FAIL() << opt;
    } catch (const LvEncryptionDecryptionException& e) {
      EXPECT_EQ("Niewłaściwa długość danych przy braku dopełnienia.", reasonOf(e));
    }
  }
  KEYED_AES(p3, key, 3);
  EXPECT_TRUE(crypt(p3, 1, iv, Bytes()).empty());

  // An empty step between real ones changes nothing.
  KEYED_AES(p0, key, 0);
  Bytes msg(40, 0x77);
  Bytes ct = crypt(p0, 0, iv, msg);
  Bytes out(ct.size() + 16);
  size_t n = 0;
  p0.init(1, iv.data(), 16);
  n += p0.step(ct.data(), 0, out.data());
  n += p0.step(ct.data(), 16, out.data() + n);
  n += p0.step(ct.data() + 16, 0, out.data() + n);
  n += p0.step(ct.data() + 16, static_cast<unsigned>(ct.size() - 16), out.data() + n);
  n += p0.step(ct.data(), 0, out.data() + n);
  n += p0.finish(out.data() + n);
  out.resize(n);
  EXPECT_EQ(toHex(msg), toHex(out));
  // Data that is not a whole number of blocks fails at finish.
  EXPECT_THROW(crypt(p0, 1, iv, Bytes(ct.begin(), ct.end() - 1)), LvEncryptionDecryptionException);
}

TEST(CbcDecryption, AnyPieceLengthGivesTheSameResult) {
  const Bytes key = hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
  const Bytes iv = hex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
  Bytes msg(100);
  for (size_t i = 0; i < msg.size(); ++i) msg[i] = static_cast<LvOctet>(i);
  for (std::uint32_t opt : {0u, 1u, 2u}) {
    KEYED_AES(p, key, opt);
    Bytes ct = crypt(p, 0, iv, msg);
    for (size_t piece : {1u, 15u, 16u, 17u, 33u, 200u}) {
      EXPECT_EQ(toHex(ct), toHex(cryptInPieces(p, 0, iv, msg, piece))) << opt << " " << piece;
      EXPECT_EQ(toHex(msg), toHex(cryptInPieces(p, 1, iv, ct, piece))) << opt << " " << piece;
    }
  }
}

TEST(CbcSession, StateAndArgumentChecks) {
  const Bytes key = hex("2b7e151628aed2a6abf7158809cf4f3c");
  const Bytes iv(32, 0x01);
  LvOctet buf[64] = {};
  LvCbc noKey;
  try {
    noKey.init(0, iv.data(), 16);
    FAIL();
  } catch (const LvNotInitException& e) {
    EXPECT_EQ("Nie wprowadzony klucz.", reasonOf(e));
  }
  KEYED_AES(p, key, 0);
  try {
    p.step(buf, 16, buf + 32);
    FAIL();
  } catch (const LvFsmException& e) {
    EXPECT_EQ("Nie rozpoczęta sesja.", reasonOf(e));
  }
  EXPECT_THROW(p.finish(buf), LvFsmException);
  try {
    p.init(0, iv.data(), 8);
    FAIL();
  } catch (const LvBadKeyLengthException& e) {
    EXPECT_EQ("Zła długość wektora początkowego.", reasonOf(e));
    EXPECT_STREQ(
        "OCTETS: 0x00000008\nMIN_OCTETS: 0x00000010\nMAX_OCTETS: 0x00000010\nSTEP_OCTETS: "
        "0x00000000\n",
        reinterpret_cast<const char*>(e.getValue()));
  }
  // A longer IV is accepted; only its first block is used.
  EXPECT_EQ(16u, p.init(0, iv.data(), 32));
  try {
    p.step(buf, 32, buf);
    FAIL();
  } catch (const LvBufferOverlapException& e) {
    EXPECT_EQ("Nachodzące na siebie bufory.", reasonOf(e));
  }
  EXPECT_THROW(p.step(buf, 32, buf + 8), LvBufferOverlapException);
  EXPECT_EQ(32u, p.step(buf, 32, buf + 32));
  EXPECT_EQ(16u, p.finish(buf));
  EXPECT_THROW(p.finish(buf), LvFsmException);
  // A failing finish closes the session too.
  KEYED_AES(p3, key, 3);
  p3.init(0, iv.data(), 16);
  p3.step(buf, 5, buf + 32);
  EXPECT_THROW(p3.finish(buf), LvEncryptionDecryptionException);
  EXPECT_FALSE(p3.isSessionOpen());
  // setPadding closes an open session.
  p3.init(0, iv.data(), 16);
  p3.setPadding(0);
  EXPECT_FALSE(p3.isSessionOpen());
}

TEST(CbcSession, CipherChoiceCloneAndTripleDesUse) {
  const Bytes key = hex("2b7e151628aed2a6abf7158809cf4f3c");
  const Bytes iv(16, 0x01);
  Bytes msg(21, 0x5C);
  KEYED_AES(p, key, 0);
  Bytes ct = crypt(p, 0, iv, msg);
  // A copy needs its key again; with it, it gives the same output.
  std::unique_ptr<LvSymEnc> copy(p.clone());
  EXPECT_THROW(copy->init(0, iv.data(), 16), LvNotInitException);
  copy->setKey(key.data(), 16);
  Bytes out(64);
  out.resize(copy->crypt(0, iv.data(), 16, msg.data(), 21, out.data()));
  EXPECT_EQ(toHex(ct), toHex(out));

  // After a change of cipher the old key is gone: the new cipher refuses.
  p.setBcAlgo(LV_BC_DES);
  EXPECT_EQ(8u, p.getBlockOctets());
  EXPECT_THROW(crypt(p, 0, iv, msg), LvNotInitException);
  Bytes desKey = hex("133457799bbcdff1");
  p.setKey(desKey.data(), 8);
  Bytes desOut = crypt(p, 0, iv, msg);
  EXPECT_EQ(24u, desOut.size());
  EXPECT_EQ(toHex(msg), toHex(crypt(p, 1, iv, desOut)));

  // Triple DES with an 8-octet IV as the key-file code uses it, checked
  // against single DES when all three keys are equal.
  Bytes k3 = desKey;
  k3.insert(k3.end(), desKey.begin(), desKey.end());
  k3.insert(k3.end(), desKey.begin(), desKey.end());
  LvCbc t(LV_BC_TDES, 0);
  t.setKey(k3.data(), 24);
  EXPECT_EQ(toHex(desOut), toHex(crypt(t, 0, Bytes(iv.begin(), iv.begin() + 8), msg)));

  // RC2 by id 7 round-trips.
  LvCbc rc2(LV_BC_RC2, 0);
  rc2.setKey(key.data(), 5);
  Bytes rc = crypt(rc2, 0, Bytes(8, 9), msg);
  EXPECT_EQ(toHex(msg), toHex(crypt(rc2, 1, Bytes(8, 9), rc)));
}

// Output one block or more before the input is allowed: every input block
// must be read before the output overwrites it.
TEST(CbcSession, OutputMayTrailTheInput) {
  const Bytes key = hex("000102030405060708090a0b0c0d0e0f1011121314151617");
  Bytes msg(16 * 37 + 5);
  for (size_t i = 0; i < msg.size(); ++i) msg[i] = static_cast<LvOctet>(i * 29);
  for (LvBcAlgo id : {LV_BC_AES, LV_BC_TDES}) {
    for (bool portable : {false, true}) {
      LvAes::forcePortable(portable);
      LvCbc p(id, 0);
      p.setKey(key.data(), 24 - (id == LV_BC_AES ? 8 : 0));
      const unsigned b = p.getBlockOctets();
      Bytes iv(b, 0x0F);
      Bytes ct = crypt(p, 0, iv, msg);
      for (unsigned lag : {b, b + 3, 3 * b}) {
        Bytes buf(lag + ct.size() + 32);
        std::memcpy(buf.data() + lag, ct.data(), ct.size());
        p.init(1, iv.data(), b);
        unsigned n = p.step(buf.data() + lag, static_cast<unsigned>(ct.size()), buf.data());
        n += p.finish(buf.data() + n);
        EXPECT_EQ(toHex(msg), toHex(buf.data(), n)) << id << " " << portable << " " << lag;
      }
    }
  }
  LvAes::forcePortable(false);
}

// Stranger's data: random ciphertexts of random lengths in random pieces
// either decrypt or raise a library exception, never more output than input.
TEST(CbcDecryption, GarbageNeverOverruns) {
  std::uint32_t x = 12345;
  auto next = [&]() {
    x = x * 1103515245u + 12345u;
    return x >> 8;
  };
  const Bytes key(16, 0x3C);
  for (int round = 0; round < 300; ++round) {
    std::uint32_t opt = next() % 4;
    LvCbc p(round % 2 ? LV_BC_AES : LV_BC_DES, opt);
    Bytes k(key.begin(), key.begin() + (round % 2 ? 16 : 8));
    p.setKey(k.data(), static_cast<unsigned>(k.size()));
    const unsigned b = p.getBlockOctets();
    Bytes ct(next() % 70);
    for (auto& c : ct) c = static_cast<LvOctet>(next());
    Bytes iv(b, static_cast<LvOctet>(round));
    Bytes out(ct.size() + 1, 0xAB);
    size_t n = 0;
    try {
      p.init(1, iv.data(), b);
      for (size_t i = 0; i < ct.size();) {
        size_t len = std::min<size_t>(1 + next() % 20, ct.size() - i);
        n += p.step(ct.data() + i, static_cast<unsigned>(len), out.data() + n);
        i += len;
      }
      n += p.finish(out.data() + n);
      EXPECT_EQ(0u, ct.size() % b);
    } catch (const LvException&) {
    }
    EXPECT_LE(n, ct.size());
    EXPECT_EQ(0xAB, out[ct.size()]);
  }
}
