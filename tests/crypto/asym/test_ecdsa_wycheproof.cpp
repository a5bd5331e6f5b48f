// EC-DSA verification against Project Wycheproof over the secp, secp-k and
// brainpool curves: every valid signature verifies, every invalid one is
// refused without a crash.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

#include "crypto/asym/ec_sig_util.h"

using namespace ectest;

namespace {

struct Counts {
  int valid = 0, invalid = 0, acceptableAccepted = 0, acceptableRefused = 0;
};

Counts runFile(const std::string& file) {
  std::ifstream in(dataPath(file));
  EXPECT_TRUE(in.good()) << file;
  nlohmann::json j;
  in >> j;
  Counts counts;
  for (const auto& group : j["testGroups"]) {
    const std::string curveName = group["publicKey"]["curve"];
    auto domain = domainOf(curveName);
    LvGeneralDsaPublicKey key;
    key.setDomain(domain.get());
    const Bytes point = hex(group["publicKey"]["uncompressed"]);
    key.setH(point.data(), point.size());
    EXPECT_TRUE(key.isValid());
    LvGeneralDsaSig sig;
    sig.setPublicKey(&key);
    const LvHashAlgo h = hashId(group["sha"]);
    for (const auto& t : group["tests"]) {
      const int id = t["tcId"];
      const std::string result = t["result"];
      const Bytes d = digest(h, hex(t["msg"]));
      Bytes rs;
      bool ok = false;
      if (sequenceContents(hex(t["sig"]), rs)) {
        EXPECT_NO_THROW(ok = sig.verify(d.data(), d.size(), rs.data(), rs.size()))
            << file << " tcId " << id;
      }
      if (result == "valid") {
        EXPECT_TRUE(ok) << file << " tcId " << id << " " << t["comment"];
        counts.valid++;
      } else if (result == "invalid") {
        EXPECT_FALSE(ok) << file << " tcId " << id << " " << t["comment"];
        counts.invalid++;
      } else {
        (ok ? counts.acceptableAccepted : counts.acceptableRefused)++;
      }
    }
  }
  return counts;
}

}  // namespace

class Wycheproof : public ::testing::TestWithParam<const char*> {};

TEST_P(Wycheproof, Ecdsa) {
  Counts c = runFile(std::string("ecdsa_") + GetParam() + "_test.json");
  EXPECT_GT(c.valid, 0);
  EXPECT_GT(c.invalid, 0);
  // No "acceptable" case in these files is accepted: they are the BER and
  // weak-parameter variants, and we read strict DER only.
  EXPECT_EQ(0, c.acceptableAccepted);
}

INSTANTIATE_TEST_SUITE_P(
    Curves, Wycheproof,
    ::testing::Values("secp160k1_sha256", "secp160r1_sha256", "secp160r2_sha256",
                      "secp192k1_sha256", "secp192r1_sha256", "secp224k1_sha224",
                      "secp224r1_sha224", "secp256k1_sha256", "secp256r1_sha256",
                      "secp256r1_sha512", "secp384r1_sha384", "secp521r1_sha512",
                      "brainpoolP224r1_sha224", "brainpoolP256r1_sha256", "brainpoolP320r1_sha384",
                      "brainpoolP384r1_sha384", "brainpoolP512r1_sha512"));
