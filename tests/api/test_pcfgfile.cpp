// The configuration file: option table and defaults, typed accessors, and
// stored files written by openssl asn1parse -genconf
// (tests/data/api/cfgfile/gen.sh), hostile ones included.
#include "api/pcfgfile.h"

#include "asn1/asnint.h"
#include "pki/common/algid.h"
#include "pki/common/extension.h"
#include "pki/common/oids.h"
#include "platform/buildconst.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

const std::string kData = std::string(TAL_TEST_DATA_DIR) + "/api/cfgfile/";

std::vector<unsigned char> readBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(f), {});
}

std::vector<unsigned char> encode(const TALCfgFile& cfg) {
  std::vector<unsigned char> v;
  EXPECT_GT(cfg.encodeVector(v), 0);
  return v;
}

class CfgFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(nullptr, ::mkdtemp(&dir[0])); }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string dir = "/tmp/tal-cfgfile-XXXXXX";
};

TEST(CfgOptions, TableAndDefaults) {
  // option, attribute arc .2.5.n, default
  const int32_t rows[][3] = {{2, 6, 1},   {3, 7, 1},   {4, 12, 0},  {5, 9, 0},   {6, 13, 0},
                             {7, 14, 0},  {8, 15, 0},  {9, 16, 0},  {10, 17, 0}, {11, 18, 0},
                             {12, 19, 0}, {13, 20, 0}, {14, 21, 0}, {16, 23, 0}, {17, 24, 30},
                             {18, 25, 0}, {19, 26, 0}, {20, 27, 0}, {22, 28, 0}, {23, 29, 0},
                             {24, 31, 0}, {27, 33, 1}, {28, 35, 0}, {29, 36, 1}, {30, 37, 0},
                             {32, 38, 0}, {33, 39, 0}, {34, 40, 1}, {35, 41, 1}, {37, 41, 1}};
  TALCfgFile cfg;
  EXPECT_EQ(std::size(rows), cfg.optionTable().size());
  for (const auto& r : rows) {
    ASSERT_TRUE(cfg.hasOption(r[0])) << r[0];
    EXPECT_EQ(r[2], cfg.getInt(r[0])) << r[0];
    std::string text;
    ASSERT_TRUE(cfg.optionTable().at(r[0]).oid.toString(text));
    EXPECT_EQ(std::string(TAL_ENTERPRISE_ARC) + ".2.5." + std::to_string(r[1]), text) << r[0];
  }
  for (int32_t missing : {-1, 0, 1, 15, 21, 25, 26, 31, 36, 38, 1000}) {
    EXPECT_FALSE(cfg.hasOption(missing)) << missing;
    EXPECT_THROW(cfg.getInt(missing), std::runtime_error) << missing;
    EXPECT_THROW(cfg.setInt(missing, 1), std::runtime_error) << missing;
  }
  EXPECT_EQ(0, cfg.GetCount());
}

TEST(CfgOptions, TypedAccessors) {
  TALCfgFile cfg;
  // Options 35 and 37 share one attribute.
  ASSERT_EQ(1, cfg.setInt(35, 0));
  EXPECT_EQ(0, cfg.getInt(37));
  ASSERT_EQ(1, cfg.setInt(37, 7));
  EXPECT_EQ(7, cfg.getInt(35));
  EXPECT_EQ(1, cfg.GetCount());
  // A replaced option keeps its place; a new one goes last.
  ASSERT_EQ(1, cfg.setInt(17, -5));
  ASSERT_EQ(1, cfg.setInt(35, 1));
  EXPECT_EQ(-5, cfg.getInt(17));
  EXPECT_TRUE(cfg.GetHead()->attrType == privateOid_2_5_41);
  EXPECT_EQ(1, cfg.GetHead()->valueCount());

  EXPECT_EQ(1, cfg.getAttr22(true));
  EXPECT_EQ(0, cfg.getAttr22(false));
  EXPECT_TRUE(cfg.getSymmetricAlgorithm(true) == des_ede3_cbc);
  EXPECT_TRUE(cfg.getSymmetricAlgorithm(false) == id_aes128_CBC);
  for (auto [code, oid] : {std::pair<uint32_t, const ASNobjectId*>{2, &des_ede3_cbc},
                           {4, &des_ede3_cbc},
                           {15, &id_aes256_CBC},
                           {12, &privateOid_4_3},
                           {99, &id_aes128_CBC}}) {
    ASNenum e;
    e.set(code);
    ASSERT_EQ(1, cfg.setAttribute(privateOid_2_5_3, e));
    EXPECT_TRUE(cfg.getSymmetricAlgorithm(false) == *oid) << code;
  }
  ASSERT_EQ(1, cfg.setSymmetricAlgorithm(des_ede3_cbc));
  ASNenum stored;
  ASSERT_TRUE(cfg.findAttribute(privateOid_2_5_3)->getValue(0, stored));
  EXPECT_EQ(4u, stored.toLong());
  EXPECT_THROW(cfg.setSymmetricAlgorithm(id_messageDigest), std::runtime_error);

  // Absent structured attributes leave the caller's object alone.
  ASNsequenceList<PolicyIdAndNote> policies;
  EXPECT_EQ(1, cfg.getAttr1(policies));
}

TEST_F(CfgFileTest, StoredFileReadAndWrittenBack) {
  TALCfgFile cfg;
  ASSERT_EQ(TALCFG_OK, cfg.loadFile((kData + "good.der").c_str()));
  EXPECT_EQ(45, cfg.getInt(17));
  EXPECT_EQ(0, cfg.getInt(37));
  EXPECT_EQ(0x7FFFFFFF, cfg.getInt(2));
  EXPECT_EQ(3, cfg.getAttr22(true));
  EXPECT_TRUE(cfg.getSymmetricAlgorithm(true) == id_aes128_CBC);
  AlgorithmIdentifier alg;
  ASSERT_TRUE(cfg.getSignatureAlgorithmAttr(alg));
  EXPECT_TRUE(alg.algorithm == sha256WithRSAEncryption);
  ASNsequenceList<PolicyIdAndNote> policies;
  ASSERT_EQ(1, cfg.getAttr1(policies));
  ASSERT_EQ(1, policies.GetCount());
  EXPECT_TRUE(policies.GetHead()->policyId == anyPolicy);

  // Written back byte for byte (order, unknown attributes and all), over
  // an older file.
  const std::string path = dir + "/cfg.der";
  ASSERT_EQ(TALCFG_OK, TALCfgFile().saveFile(path.c_str()));
  ASSERT_EQ(TALCFG_OK, cfg.saveFile(path.c_str()));
  EXPECT_EQ(readBytes(kData + "good.der"), readBytes(path));
  EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(dir), {}));

  // A copy is independent of its source.
  TALCfgFile copy(cfg);
  ASSERT_EQ(1, copy.setInt(17, 1));
  EXPECT_EQ(45, cfg.getInt(17));
  copy = cfg;
  EXPECT_EQ(readBytes(path), encode(copy));
}

TEST_F(CfgFileTest, BuiltConfigurationIsWhatOpensslReads) {
  TALCfgFile cfg;
  ASSERT_EQ(1, cfg.setInt(17, 45));
  ASSERT_EQ(1, cfg.setInt(37, 0));
  ASSERT_EQ(1, cfg.setSymmetricAlgorithm(des_ede3_cbc));
  ASSERT_EQ(1, cfg.setAttr22(3));
  ASSERT_EQ(1, cfg.setInt(3, -1));
  ASSERT_EQ(1, cfg.setInt(17, 45));
  EXPECT_EQ(readBytes(kData + "built.der"), encode(cfg));

  const std::string path = dir + "/built.der";
  ASSERT_EQ(TALCFG_OK, cfg.saveFile(path.c_str()));
  FILE* p = ::popen(("openssl asn1parse -inform DER -in " + path + " 2>&1").c_str(), "r");
  ASSERT_NE(nullptr, p);
  std::string text;
  for (char buf[256]; std::fgets(buf, sizeof buf, p);) text += buf;
  ASSERT_EQ(0, ::pclose(p)) << text;
  EXPECT_NE(std::string::npos, text.find(":" TAL_ENTERPRISE_ARC ".2.5.24")) << text;
  EXPECT_NE(std::string::npos, text.find("ENUMERATED        :04")) << text;
  EXPECT_NE(std::string::npos, text.find("INTEGER           :FFFFFFFF")) << text;
}

TEST_F(CfgFileTest, HostileFilesAreRefusedWhole) {
  const struct {
    const char* file;
    int result;
    int32_t badIndex;
  } cases[] = {
      {"bad-option-octets.der", TALCFG_BAD_VALUE, 1},
      {"bad-option-wide.der", TALCFG_BAD_VALUE, 0},
      {"bad-option-empty.der", TALCFG_BAD_VALUE, 0},
      {"bad-option-enum.der", TALCFG_BAD_VALUE, 0},
      {"bad-symmetric-integer.der", TALCFG_BAD_VALUE, 0},
      {"bad-digest-bool.der", TALCFG_BAD_VALUE, 0},
      {"bad-algid.der", TALCFG_BAD_VALUE, 0},
      {"bad-certlist.der", TALCFG_BAD_VALUE, 0},
      {"bad-policies.der", TALCFG_BAD_VALUE, 0},
      {"malformed-truncated.der", TALCFG_MALFORMED, -1},
      {"malformed-trailing.der", TALCFG_MALFORMED, -1},
      {"malformed-huge.der", TALCFG_MALFORMED, -1},
      {"absent.der", TALCFG_NOT_FOUND, -1},
  };
  TALCfgFile cfg;
  ASSERT_EQ(TALCFG_OK, cfg.loadFile((kData + "good.der").c_str()));
  const auto before = encode(cfg);
  for (const auto& c : cases) {
    int32_t bad = -1;
    EXPECT_EQ(c.result, cfg.loadFile((kData + c.file).c_str(), &bad)) << c.file;
    EXPECT_EQ(c.badIndex, bad) << c.file;
    EXPECT_EQ(before, encode(cfg)) << c.file;
    EXPECT_EQ(45, cfg.getInt(17)) << c.file;
  }

  // Too large to be a configuration, whatever it holds.
  const std::string big = dir + "/big.der";
  { std::ofstream(big) << "0"; }
  std::filesystem::resize_file(big, TALCFG_MAX_SIZE + 1);
  EXPECT_EQ(TALCFG_TOO_LARGE, cfg.loadFile(big.c_str()));
  EXPECT_EQ(before, encode(cfg));
  // A failed write keeps the file that was there.
  const std::string kept = dir + "/kept.der";
  ASSERT_EQ(TALCFG_OK, cfg.saveFile(kept.c_str()));
  EXPECT_EQ(TALCFG_IO_ERROR, cfg.saveFile((dir + "/missing/cfg.der").c_str()));
  EXPECT_EQ(TALCFG_IO_ERROR, cfg.saveFile(dir.c_str()));
  EXPECT_EQ(before, readBytes(kept));
}

}  // namespace
