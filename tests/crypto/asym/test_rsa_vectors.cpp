// RSA signature verification and generation against the standards' vectors:
// Wycheproof (hostile encodings) and NIST CAVP (FIPS 186-3).
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "crypto/algebra/test_num_util.h"
#include "crypto/asym/lvrsasig.h"
#include "crypto/hash/lvhash.h"
#include "crypto/rbg/lvrbghashiso18031.h"

namespace {

using namespace numtest;

LvN numberOf(const std::string& hex) { return fromHex(hex); }

LvHashAlgo hashId(std::string name) {
  std::string n;
  for (char c : name)
    if (c != '-') n += c;
  static const std::map<std::string, LvHashAlgo> ids = {
      {"SHA1", LV_HASH_SHA1},     {"SHA224", LV_HASH_SHA224}, {"SHA256", LV_HASH_SHA256},
      {"SHA384", LV_HASH_SHA384}, {"SHA512", LV_HASH_SHA512}};
  auto it = ids.find(n);
  return it == ids.end() ? 0 : it->second;
}

// Verification where an exception counts as a rejection only for a signature
// longer than the modulus: anything of the modulus length or shorter, however
// malformed, must be answered with false, never with a throw.
template <class Scheme>
bool verifies(Scheme& s, const std::vector<LvOctet>& msg, const std::vector<LvOctet>& sig,
              LvHashAlgo algo) {
  try {
    return s.verifyMessage(msg.data(), static_cast<unsigned int>(msg.size()), sig.data(),
                           static_cast<unsigned int>(sig.size()), algo);
  } catch (const LvException& e) {
    EXPECT_GT(sig.size(), s.getMaxSignatureOctets()) << e.what();
    return false;
  }
}

nlohmann::json loadJson(const std::string& name) {
  std::ifstream f(dataPath(name));
  return nlohmann::json::parse(f);
}

// One record of a CAVP .rsp file: the values in force when it ends.
struct RspRecord {
  std::map<std::string, std::string> v;
};

std::vector<RspRecord> readRsp(const std::string& name) {
  std::ifstream f(dataPath(name));
  std::vector<RspRecord> out;
  std::map<std::string, std::string> cur;
  std::string line;
  while (std::getline(f, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#' || line[0] == '[') continue;
    size_t eq = line.find(" = ");
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), val = line.substr(eq + 3);
    cur[key] = val;
    // A record ends with its signature (SigGen) or its result (SigVer).
    bool sigVer = name.find("SigVer") != std::string::npos;
    if ((sigVer && key == "Result") || (!sigVer && key == "S")) out.push_back(RspRecord{cur});
  }
  return out;
}

}  // namespace

// Runs every group of a Wycheproof verification file with the scheme that
// makeScheme builds for the group; answers the number of cases.
template <class MakeScheme>
unsigned int wycheproofVerify(const char* file, MakeScheme makeScheme) {
  nlohmann::json j = loadJson(file);
  unsigned int cases = 0;
  for (const auto& g : j["testGroups"]) {
    LvRsaPublicKey key(numberOf(g["publicKey"]["modulus"]),
                       numberOf(g["publicKey"]["publicExponent"]));
    LvHashAlgo algo = hashId(g["sha"]);
    auto s = makeScheme(g, algo);
    s->setPublicKey(&key);
    for (const auto& t : g["tests"]) {
      SCOPED_TRACE(std::string(file) + " tcId " + std::to_string(t["tcId"].get<int>()));
      bool ok = verifies(*s, hexBytes(t["msg"]), hexBytes(t["sig"]), algo);
      if (t["result"] == "invalid") {
        EXPECT_FALSE(ok);
      } else {
        EXPECT_TRUE(ok);
      }
      ++cases;
    }
  }
  return cases;
}

// "acceptable" in Wycheproof's v1.5 files is a DigestInfo without the NULL
// parameters (MissingNull): this library accepts it, as it rebuilds the block
// both with and without the parameters. The PSS files mark no case
// "acceptable"; all invalid ones (wrong trailer, modified signatures, s >= n)
// must fail.
TEST(RsaVectors, WycheproofVerify) {
  for (const char* file :
       {"rsa_signature_2048_sha224_test.json", "rsa_signature_2048_sha256_test.json",
        "rsa_signature_3072_sha384_test.json", "rsa_signature_4096_sha512_test.json",
        "rsa_pss_2048_sha1_mgf1_20_test.json", "rsa_pss_2048_sha256_mgf1_0_test.json",
        "rsa_pss_2048_sha256_mgf1_32_test.json", "rsa_pss_2048_sha256_mgf1sha1_20_test.json",
        "rsa_pss_3072_sha256_mgf1_32_test.json", "rsa_pss_4096_sha512_mgf1_64_test.json",
        "rsa_pss_misc_test.json"}) {
    const bool pss = std::string(file).compare(0, 8, "rsa_pss_") == 0;
    unsigned int cases = wycheproofVerify(file, [&](const nlohmann::json& g, LvHashAlgo algo) {
      if (pss)
        return std::unique_ptr<LvRsaSig>(new LvRsaSigPkcsPss(g["sLen"].get<unsigned int>(),
                                                             nullptr, algo, 0, hashId(g["mgfSha"])));
      auto s = std::make_unique<LvRsaSigPkcsV15>();
      s->setHashAlgo(algo);
      return std::unique_ptr<LvRsaSig>(std::move(s));
    });
    EXPECT_GT(cases, pss ? 60u : 200u) << file;
  }
}

// Wycheproof's signing files: PKCS#1 v1.5 is deterministic, so the signature
// made here must equal the file's. "acceptable" marks weak hashes and small
// keys, which this library still signs with.
TEST(RsaVectors, WycheproofPkcs1Sign) {
  for (const char* file :
       {"rsa_pkcs1_1024_sig_gen_test.json", "rsa_pkcs1_2048_sig_gen_test.json"}) {
    nlohmann::json j = loadJson(file);
    for (const auto& g : j["testGroups"]) {
      const auto& pk = g["privateKey"];
      LvRsaPrivateKey key(numberOf(pk["modulus"]), numberOf(pk["privateExponent"]));
      std::vector<LvOctet> e = hexBytes(pk["publicExponent"]);
      key.setE(e.data(), static_cast<unsigned int>(e.size()));
      LvHashAlgo algo = hashId(g["sha"]);
      LvRsaSigPkcsV15 s;
      s.setHashAlgo(algo);
      s.setPrivateKey(&key);
      for (const auto& t : g["tests"]) {
        SCOPED_TRACE(std::string(file) + " tcId " + std::to_string(t["tcId"].get<int>()));
        std::vector<LvOctet> msg = hexBytes(t["msg"]), expect = hexBytes(t["sig"]);
        std::vector<LvOctet> sig(s.getMaxSignatureOctets());
        unsigned int len = s.signMessage(msg.data(), static_cast<unsigned int>(msg.size()),
                                         sig.data(), static_cast<unsigned int>(sig.size()), algo);
        EXPECT_EQ(std::vector<LvOctet>(sig.begin(), sig.begin() + len), expect);
      }
    }
  }
}

// SigGen records carry no result: each of them verifies.
TEST(RsaVectors, CavpPkcs1Verify) {
  unsigned int pass = 0, fail = 0;
  for (const char* file : {"SigVer15_186-3.rsp", "SigGen15_186-3.rsp"}) {
    for (const RspRecord& r : readRsp(file)) {
      LvRsaPublicKey key(numberOf(r.v.at("n")), numberOf(r.v.at("e")));
      LvHashAlgo algo = hashId(r.v.at("SHAAlg"));
      LvRsaSigPkcsV15 s;
      s.setHashAlgo(algo);
      s.setPublicKey(&key);
      bool expect = !r.v.count("Result") || r.v.at("Result")[0] == 'P';
      SCOPED_TRACE(std::string(file) + " " + r.v.at("Msg").substr(0, 16));
      EXPECT_EQ(verifies(s, hexBytes(r.v.at("Msg")), hexBytes(r.v.at("S")), algo), expect);
      (expect ? pass : fail)++;
    }
  }
  EXPECT_GT(pass, 40u);
  EXPECT_GT(fail, 100u);
}

// The passing SigVer records carry d, p and q: signing them again (plain,
// CRT and masked) must give the file's signature.
TEST(RsaVectors, CavpPkcs1SignAgain) {
  unsigned int signedCount = 0;
  LvRbgHashIso18031 rbg;
  const LvOctet seed[16] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};
  rbg.init(seed, sizeof seed);
  for (const RspRecord& r : readRsp("SigVer15_186-3.rsp")) {
    if (r.v.at("Result")[0] != 'P') continue;
    LvN n = numberOf(r.v.at("n")), d = numberOf(r.v.at("d")), p = numberOf(r.v.at("p"));
    LvRsaPrivateKey key(n, d, p);  // derives e, q, dP, dQ, qInv
    // The derived e inverts d modulo (p-1)(q-1); the file's d was made modulo
    // lcm(p-1, q-1), so its e may be smaller but agrees modulo p - 1.
    EXPECT_TRUE(key.getE() * d % (p - 1u) == 1u);
    LvHashAlgo algo = hashId(r.v.at("SHAAlg"));
    LvRsaSigPkcsV15 s;
    s.setHashAlgo(algo);
    s.setPrivateKey(&key);
    if (signedCount % 2) {
      s.setRbg(&rbg);
      s.setMaskingMode(1);
    }
    std::vector<LvOctet> msg = hexBytes(r.v.at("Msg")), sig(s.getMaxSignatureOctets());
    unsigned int len = s.signMessage(msg.data(), static_cast<unsigned int>(msg.size()),
                                     sig.data(), static_cast<unsigned int>(sig.size()), algo);
    EXPECT_EQ(std::vector<LvOctet>(sig.begin(), sig.begin() + len), hexBytes(r.v.at("S")));
    ++signedCount;
  }
  EXPECT_GT(signedCount, 20u);
}

// The salt of a PSS record is fed to the signer through a generator that
// replays it, so signing again must give the file's signature.
TEST(RsaVectors, CavpPssVerifyAndSignAgain) {
  unsigned int pass = 0, fail = 0;
  for (const RspRecord& r : readRsp("SigVerPSS_186-3.rsp")) {
    LvRsaPublicKey key(numberOf(r.v.at("n")), numberOf(r.v.at("e")));
    LvHashAlgo algo = hashId(r.v.at("SHAAlg"));
    std::vector<LvOctet> salt = hexBytes(r.v.at("SaltVal"));
    unsigned int sLen = r.v.at("SaltVal") == "00" ? 0 : static_cast<unsigned int>(salt.size());
    LvRsaSigPkcsPss s(sLen, nullptr, algo, 0, algo);
    s.setPublicKey(&key);
    bool expect = r.v.at("Result")[0] == 'P';
    std::vector<LvOctet> msg = hexBytes(r.v.at("Msg"));
    EXPECT_EQ(verifies(s, msg, hexBytes(r.v.at("S")), algo), expect)
        << r.v.at("Msg").substr(0, 16);
    (expect ? pass : fail)++;
    if (!expect || pass % 4 != 1) continue;
    ScriptedRbg replay(salt);
    LvRsaPrivateKey priv(numberOf(r.v.at("n")), numberOf(r.v.at("d")), numberOf(r.v.at("p")));
    LvRsaSigPkcsPss signer(sLen, &replay, algo, 0, algo);
    signer.setPrivateKey(&priv);
    std::vector<LvOctet> sig(signer.getMaxSignatureOctets());
    unsigned int len = signer.signMessage(msg.data(), static_cast<unsigned int>(msg.size()),
                                          sig.data(), static_cast<unsigned int>(sig.size()), algo);
    EXPECT_EQ(std::vector<LvOctet>(sig.begin(), sig.begin() + len), hexBytes(r.v.at("S")));
  }
  EXPECT_GT(pass, 20u);
  EXPECT_GT(fail, 100u);
  for (const RspRecord& r : readRsp("SigGenPSS_186-3.rsp")) {
    LvRsaPublicKey key(numberOf(r.v.at("n")), numberOf(r.v.at("e")));
    LvHashAlgo algo = hashId(r.v.at("SHAAlg"));
    LvRsaSigPkcsPss s(0, nullptr, algo, 0, algo);
    s.setPublicKey(&key);
    EXPECT_TRUE(verifies(s, hexBytes(r.v.at("Msg")), hexBytes(r.v.at("S")), algo))
        << r.v.at("Msg").substr(0, 16);
  }
}
