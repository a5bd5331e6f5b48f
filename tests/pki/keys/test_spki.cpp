// SubPubKeyInfo: keys and signatures made by openssl (tests/data/pki/keys/
// gen.sh), Wycheproof vectors through the ASN.1 path, every verification
// result, and hostile keys and signature values.
#include "pki/keys/subpubkeyinfo.h"

#include "pki/keytest.h"
#include "pki/fixture_lines.h"
#include "pki/common/siganddigoid.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

using namespace keytest;

namespace {

struct ManifestRow {
  std::string name, key, sig, kind, hash, salt;
  int expected;
};

std::vector<ManifestRow> manifest() {
  std::vector<ManifestRow> rows;
  for (const auto& f : pkitest::readFixture("keys/manifest.txt"))
    if (f.size() == 7) rows.push_back({f[0], f[1], f[2], f[3], f[4], f[5], std::stoi(f[6])});
  return rows;
}

int verifyRow(const ManifestRow& r, Bytes* sigOut = nullptr) {
  SubPubKeyInfo k;
  Bytes der = readFile(r.key);
  if (decodeSpki(k, der) != static_cast<int>(der.size())) return 99;
  int hashId = hashIdOf(r.hash);
  AlgorithmIdentifier alg = sigAlgOf(r.kind, hashId, r.salt == "-" ? 0 : std::stoi(r.salt));
  Bytes sig = readFile(r.sig);
  if (sigOut) *sigOut = sig;
  return k.verifyData(alg, readFile("msg.bin").data(), static_cast<int>(readFile("msg.bin").size()),
                      sig.data(), static_cast<int>(sig.size()));
}

}  // namespace

TEST(SpkiOpenssl, EveryKeyAndSignatureOfTheManifest) {
  auto rows = manifest();
  ASSERT_GE(rows.size(), 25u);
  for (const auto& r : rows) {
    EXPECT_EQ(verifyRow(r), r.expected) << r.name;
    // the same signature over another message does not verify
    if (r.expected == 1) {
      SubPubKeyInfo k;
      Bytes der = readFile(r.key);
      ASSERT_EQ(decodeSpki(k, der), static_cast<int>(der.size()));
      int hashId = hashIdOf(r.hash);
      AlgorithmIdentifier alg = sigAlgOf(r.kind, hashId, r.salt == "-" ? 0 : std::stoi(r.salt));
      Bytes sig = readFile(r.sig);
      Bytes other = digestOf(hashId, Bytes{'x'});
      EXPECT_EQ(k.verifyDigest(alg, other.data(), static_cast<int>(other.size()), sig.data(),
                               static_cast<int>(sig.size())),
                0)
          << r.name;
      // the encoding survives a copy, and the copy verifies too
      SubPubKeyInfo c(k);
      Bytes again;
      c.encodeVector(again);
      EXPECT_EQ(again, der) << r.name;
      Bytes d = digestOf(hashId, readFile("msg.bin"));
      EXPECT_EQ(c.verifyDigest(alg, d.data(), static_cast<int>(d.size()), sig.data(),
                               static_cast<int>(sig.size())),
                1)
          << r.name;
      // read in place: the same key, the same octets back, and a copy
      // that no longer needs the received buffer
      std::unique_ptr<SubPubKeyInfo> copyOfView;
      {
        Bytes held = der;
        SubPubKeyInfo v;
        ASSERT_EQ(v.decodeBuffer(held.data(), static_cast<int>(held.size()), ASN_FLAG_CONST),
                  static_cast<int>(der.size()))
            << r.name;
        EXPECT_EQ(v.verifyDigest(alg, d.data(), static_cast<int>(d.size()), sig.data(),
                                 static_cast<int>(sig.size())),
                  1)
            << r.name;
        Bytes viewDer;
        v.encodeVector(viewDer);
        EXPECT_EQ(viewDer, der) << r.name;
        copyOfView.reset(new SubPubKeyInfo(v));
        std::fill(held.begin(), held.end(), 0);
      }
      EXPECT_EQ(copyOfView->verifyDigest(alg, d.data(), static_cast<int>(d.size()), sig.data(),
                                         static_cast<int>(sig.size())),
                1)
          << r.name;
    }
  }
}

// One object holding keys of every kind in turn, by copy and by a new decode:
// each answers as a fresh object would, and parts of another kind never leak
// into it (a key of one kind reads empty parts of the others).
TEST(SpkiOpenssl, OneObjectAcrossKeyKinds) {
  std::vector<ManifestRow> rows;
  for (const auto& r : manifest())
    for (const char* name : {"rsa2048.v15", "rsapss_params", "dsa2048", "p256", "p256x", "b233x"})
      if (r.name == name) rows.push_back(r);
  ASSERT_EQ(rows.size(), 6u);
  const Bytes msg = readFile("msg.bin");
  auto check = [&](SubPubKeyInfo& k, const ManifestRow& r, unsigned int bits, const char* how) {
    SCOPED_TRACE(r.name + " " + how);
    AlgorithmIdentifier alg =
        sigAlgOf(r.kind, hashIdOf(r.hash), r.salt == "-" ? 0 : std::stoi(r.salt));
    Bytes sig = readFile(r.sig);
    EXPECT_EQ(k.verifyData(alg, msg.data(), static_cast<int>(msg.size()), sig.data(),
                           static_cast<int>(sig.size())),
              1);
    const SubPubKeyInfo& c = k;
    EXPECT_EQ(c.keyBits(), bits);
    if (r.kind != "dsa") {
      EXPECT_EQ(c.dsaParameters().p.length, 0);
      EXPECT_EQ(c.dsaKey().length, 0);
    }
    if (r.kind != "ecdsa") {
      EXPECT_EQ(c.ecParameters().kind(), ECDomainParameters::KIND_IMPLICIT);
      EXPECT_EQ(c.ecKey().length, 0);
    }
  };
  std::vector<unsigned int> bits;
  for (const auto& r : rows) {
    SubPubKeyInfo fresh;
    Bytes der = readFile(r.key);
    ASSERT_EQ(decodeSpki(fresh, der), static_cast<int>(der.size()));
    bits.push_back(fresh.keyBits());
  }
  for (size_t a = 0; a < rows.size(); ++a)
    for (size_t b = 0; b < rows.size(); ++b) {
      SubPubKeyInfo held, other;
      Bytes derA = readFile(rows[a].key), derB = readFile(rows[b].key);
      ASSERT_EQ(decodeSpki(held, derA), static_cast<int>(derA.size()));
      check(held, rows[a], bits[a], "first");
      ASSERT_EQ(decodeSpki(other, derB), static_cast<int>(derB.size()));
      held = other;
      check(held, rows[b], bits[b], "copied over");
      ASSERT_EQ(decodeSpki(held, derA), static_cast<int>(derA.size()));
      check(held, rows[a], bits[a], "decoded over");
    }
}

TEST(SpkiOpenssl, KeySizesAndIdentifiers) {
  const struct {
    const char* key;
    unsigned int bits;
  } cases[] = {{"rsa1024.spki.der", 1024},       {"rsa4096.spki.der", 4096},
               {"rsapss_params.spki.der", 2048}, {"dsa2048.spki.der", 2048},
               {"p256.spki.der", 256},           {"p256x.spki.der", 256},
               {"p521.spki.der", 521},           {"b283k.spki.der", 283},
               {"b233x.spki.der", 233},          {"bp384x.spki.der", 384}};
  for (const auto& c : cases) {
    SubPubKeyInfo k;
    Bytes der = readFile(c.key);
    ASSERT_EQ(decodeSpki(k, der), static_cast<int>(der.size())) << c.key;
    EXPECT_EQ(k.keyBits(), c.bits) << c.key;
    unsigned char id[20], shortId[8];
    ASSERT_TRUE(k.keyIdentifier(id));
    ASSERT_TRUE(k.shortKeyId(shortId));
    EXPECT_EQ(shortId[0] >> 4, 4);
    EXPECT_EQ(std::memcmp(shortId + 1, id + 13, 7), 0);
  }
  SubPubKeyInfo empty;
  unsigned char id[20];
  EXPECT_FALSE(empty.keyIdentifier(id));
}

// Wycheproof: RSASSA-PSS keys carrying their parameters, EC-DSA keys as DER.
TEST(SpkiWycheproof, PssWithParametersAndEcdsaFromDer) {
  const char* files[] = {"rsa_pss_2048_sha256_mgf1_32_params_test.json",
                         "rsa_pss_2048_sha512_mgf1sha256_32_params_test.json",
                         "ecdsa_secp256r1_sha256_test.json",
                         "ecdsa_brainpoolP256r1_sha256_test.json"};
  for (const char* file : files) {
    std::ifstream in(path(file));
    nlohmann::json j;
    in >> j;
    int run = 0;
    for (const auto& g : j["testGroups"]) {
      SubPubKeyInfo k;
      Bytes der = pkitest::unhex(g["publicKeyDer"].get<std::string>());
      bool decoded = decodeSpki(k, der) == static_cast<int>(der.size());
      const bool pss = std::string(file).find("pss") != std::string::npos;
      int hashId = hashIdOf(g["sha"].get<std::string>());
      AlgorithmIdentifier alg;
      if (pss) {
        // the signature names the same parameters as the key
        alg = k.algorithm;
      } else {
        alg.setEcdsaSignature(hashId);
      }
      for (const auto& t : g["tests"]) {
        Bytes msg = pkitest::unhex(t["msg"].get<std::string>());
        Bytes sig = pkitest::unhex(t["sig"].get<std::string>());
        const std::string result = t["result"].get<std::string>();
        int r = decoded ? k.verifyData(alg, msg.data(), static_cast<int>(msg.size()), sig.data(),
                                       static_cast<int>(sig.size()))
                        : -1;
        if (result == "valid") {
          EXPECT_EQ(r, 1) << file << " " << t["tcId"];
        } else if (result == "invalid") {
          EXPECT_NE(r, 1) << file << " " << t["tcId"] << " " << t["comment"];
        }
        ++run;
      }
    }
    EXPECT_GT(run, 50) << file;
  }
}

// Every result of the verification, each from a case that must give it.
TEST(SpkiResults, EveryCode) {
  Bytes msg = readFile("msg.bin");
  Bytes d256 = digestOf(3, msg);
  Bytes rsaSig = readFile("rsa2048.v15.sig");
  Bytes ecSig = readFile("p256.sig");
  Bytes dsaSig = readFile("dsa2048.sig");
  AlgorithmIdentifier v15 = sigAlgOf("v15", 3, 0), ecdsa = sigAlgOf("ecdsa", 3, 0),
                      dsa = sigAlgOf("dsa", 1, 0);
  AlgorithmIdentifier pss20 = sigAlgOf("pss", 3, 20), pss32 = sigAlgOf("pss", 3, 32);
  AlgorithmIdentifier pssNoParams;
  pssNoParams.set(id_RSASSA_PSS, nullptr);
  AlgorithmIdentifier unknown;
  unknown.set(ASNobjectId("1.2.3.4"), nullptr);

  // an RSA key whose modulus the library refuses (negative)
  Bytes badRsa = pkitest::unhex(
      "301c300d06092a864886f70d0101010500030b003008020380000102010"
      "3");
  Bytes badSig(256, 0x01);
  const struct {
    const char* name;
    Bytes key;
    const AlgorithmIdentifier* alg;
    const Bytes* sig;
    int expected;
  } cases[] = {
      {"valid", readFile("rsa2048.spki.der"), &v15, &rsaSig, 1},
      {"invalid", readFile("rsa3072.spki.der"), &v15, &rsaSig, 0},
      {"key unusable", badRsa, &v15, &badSig, -1},
      {"malformed ecdsa value", readFile("p256.spki.der"), &ecdsa, &rsaSig, -2},
      {"malformed dsa value", readFile("dsa2048.spki.der"), &dsa, &rsaSig, -2},
      {"dsa signature, rsa key", readFile("rsa2048.spki.der"), &dsa, &dsaSig, -3},
      {"ecdsa signature, rsa key", readFile("rsa2048.spki.der"), &ecdsa, &ecSig, -3},
      {"rsa signature, ec key", readFile("p256.spki.der"), &v15, &rsaSig, -3},
      {"v1.5 signature, pss key", readFile("rsapss_params.spki.der"), &v15, &rsaSig, -3},
      {"salt below the key's", readFile("rsapss_params.spki.der"), &pss20, &rsaSig, -3},
      {"pss without parameters", readFile("rsapss_params.spki.der"), &pssNoParams, &rsaSig, -4},
      {"pss salt as the key's, wrong sig", readFile("rsapss_params.spki.der"), &pss32, &rsaSig, 0},
      {"unknown signature oid", readFile("rsa2048.spki.der"), &unknown, &rsaSig, -4},
  };
  for (const auto& c : cases) {
    SubPubKeyInfo k;
    ASSERT_GT(decodeSpki(k, c.key), 0) << c.name;
    EXPECT_EQ(
        k.verifyDigest(*c.alg, d256.data(), 32, c.sig->data(), static_cast<int>(c.sig->size())),
        c.expected)
        << c.name;
  }
  // verifyObject and verifyData: unknown hash of the signature algorithm
  SubPubKeyInfo k;
  Bytes der = readFile("rsa2048.spki.der");
  ASSERT_GT(decodeSpki(k, der), 0);
  EXPECT_EQ(k.verifyData(unknown, msg.data(), static_cast<int>(msg.size()), rsaSig.data(), 256),
            -4);
  EXPECT_EQ(k.verifyObject(unknown, k, rsaSig.data(), 256), -4);
}

// The PSS parameters read once for the hash serve the key check too: hashing the data first
// gives every code the digest road gives.
TEST(SpkiResults, PssCodesAlikeFromDataAndDigest) {
  Bytes msg = readFile("msg.bin");
  Bytes d256 = digestOf(3, msg);
  Bytes rsaSig = readFile("rsa2048.v15.sig");
  AlgorithmIdentifier pss20 = sigAlgOf("pss", 3, 20), pss32 = sigAlgOf("pss", 3, 32);
  AlgorithmIdentifier pssNoParams;
  pssNoParams.set(id_RSASSA_PSS, nullptr);
  const struct {
    const char* name;
    const char* key;
    const AlgorithmIdentifier* alg;
    int expected;
  } cases[] = {
      {"salt below the key's", "rsapss_params.spki.der", &pss20, -3},
      {"pss without parameters", "rsapss_params.spki.der", &pssNoParams, -4},
      {"salt as the key's, wrong sig", "rsapss_params.spki.der", &pss32, 0},
      {"rsaEncryption key, wrong sig", "rsa2048.spki.der", &pss20, 0},
  };
  for (const auto& c : cases) {
    SubPubKeyInfo k;
    ASSERT_GT(decodeSpki(k, readFile(c.key)), 0) << c.name;
    EXPECT_EQ(k.verifyDigest(*c.alg, d256.data(), 32, rsaSig.data(), 256), c.expected) << c.name;
    EXPECT_EQ(k.verifyData(*c.alg, msg.data(), static_cast<int>(msg.size()), rsaSig.data(), 256),
              c.expected)
        << c.name;
  }
}

// The verifiers are shared by every key of a thread: keys alternating on several threads at
// once each keep their own answer.
TEST(SpkiResults, KeysAlternatingOnThreads) {
  Bytes msg = readFile("msg.bin");
  Bytes sig = readFile("rsa2048.v15.sig");
  Bytes good = readFile("rsa2048.spki.der"), other = readFile("rsa3072.spki.der");
  AlgorithmIdentifier v15 = sigAlgOf("v15", 3, 0), pss32 = sigAlgOf("pss", 3, 32);
  std::atomic<int> wrong{0};
  auto run = [&]() {
    for (int i = 0; i < 20; ++i) {
      SubPubKeyInfo a, b;
      if (decodeSpki(a, good) <= 0 || decodeSpki(b, other) <= 0) ++wrong;
      const int n = static_cast<int>(msg.size()), sl = static_cast<int>(sig.size());
      if (a.verifyData(v15, msg.data(), n, sig.data(), sl) != 1) ++wrong;
      if (b.verifyData(v15, msg.data(), n, sig.data(), sl) == 1) ++wrong;
      if (a.verifyData(pss32, msg.data(), n, sig.data(), sl) == 1) ++wrong;
      if (a.verifyData(v15, msg.data(), n, sig.data(), sl) != 1) ++wrong;
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back(run);
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

// Signature values must be DER exactly and keys from strangers are checked.
TEST(SpkiHostile, SignatureValuesAndKeys) {
  Bytes msg = readFile("msg.bin");
  Bytes d = digestOf(3, msg);
  AlgorithmIdentifier ecdsa = sigAlgOf("ecdsa", 3, 0);
  SubPubKeyInfo k;
  Bytes der = readFile("p256.spki.der");
  ASSERT_GT(decodeSpki(k, der), 0);
  Bytes sig = readFile("p256.sig");
  ASSERT_EQ(k.verifyDigest(ecdsa, d.data(), 32, sig.data(), static_cast<int>(sig.size())), 1);

  auto with = [&](Bytes s) {
    return k.verifyDigest(ecdsa, d.data(), 32, s.data(), static_cast<int>(s.size()));
  };
  Bytes trailing = sig;
  trailing.push_back(0);
  EXPECT_EQ(with(trailing), -2) << "octets after the value";
  // long-form length of the SEQUENCE (BER, not DER)
  Bytes longForm = {0x30, 0x81, sig[1]};
  longForm.insert(longForm.end(), sig.begin() + 2, sig.end());
  EXPECT_EQ(with(longForm), -2);
  // r with a needless leading zero, and r negated by a set top bit
  Bytes padded = sig;
  size_t rLen = sig[3];
  padded[1] = static_cast<unsigned char>(padded[1] + 1);
  padded[3] = static_cast<unsigned char>(rLen + 1);
  padded.insert(padded.begin() + 4, 0x00);
  EXPECT_EQ(with(padded), -2);
  Bytes truncated(sig.begin(), sig.end() - 1);
  EXPECT_EQ(with(truncated), -2);
  EXPECT_EQ(with(Bytes{0x30, 0x00}), -2);

  // the BIT STRING form: unused bits refused
  ASNbitstr bits;
  bits.set(sig.data(), static_cast<int>(sig.size()), 0);
  EXPECT_EQ(k.verifyDigest(ecdsa, d.data(), 32, bits), 1);
  bits.set(sig.data(), static_cast<int>(sig.size()), 3);
  EXPECT_EQ(k.verifyDigest(ecdsa, d.data(), 32, bits), -2);

  // a point off the curve: the key's -3, unsupported (-4), never a fault
  Bytes off = der;
  off[off.size() - 1] ^= 1;
  SubPubKeyInfo bad;
  ASSERT_GT(decodeSpki(bad, off), 0);
  EXPECT_EQ(bad.verifyDigest(ecdsa, d.data(), 32, sig.data(), static_cast<int>(sig.size())), -4);
  // the point at infinity and a point with a bad form octet
  for (Bytes point : {Bytes{0x00}, Bytes{0x05, 1, 2}}) {
    Bytes spki = {0x30, static_cast<unsigned char>(0x15 + point.size() + 3), 0x30, 0x13};
    Bytes alg = pkitest::unhex("06072a8648ce3d020106082a8648ce3d030107");
    spki.insert(spki.end(), alg.begin(), alg.end());
    spki.push_back(0x03);
    spki.push_back(static_cast<unsigned char>(point.size() + 1));
    spki.push_back(0x00);
    spki.insert(spki.end(), point.begin(), point.end());
    SubPubKeyInfo p;
    ASSERT_GT(decodeSpki(p, spki), 0);
    EXPECT_EQ(p.verifyDigest(ecdsa, d.data(), 32, sig.data(), static_cast<int>(sig.size())), -4);
  }

  // a DSA key y = 1 is refused before the signature is looked at
  SubPubKeyInfo dsa;
  Bytes dsaDer = readFile("dsa2048.spki.der");
  ASSERT_GT(decodeSpki(dsa, dsaDer), 0);
  Bytes dsaSig = readFile("dsa2048.sig");
  AlgorithmIdentifier dsaAlg = sigAlgOf("dsa", 1, 0);
  Bytes d1 = digestOf(1, msg);
  EXPECT_EQ(dsa.verifyDigest(dsaAlg, d1.data(), 20, dsaSig.data(), static_cast<int>(dsaSig.size())),
            1);
  EXPECT_EQ(dsa.verifyDigest(dsaAlg, d.data(), 32, dsaSig.data(), static_cast<int>(dsaSig.size())),
            0)
      << "digest of another length";
  dsa.dsaKey().set(1u);
  EXPECT_EQ(dsa.verifyDigest(dsaAlg, d1.data(), 20, dsaSig.data(), static_cast<int>(dsaSig.size())),
            -1);
  // a DSA key without parameters does not decode
  Bytes noParams = pkitest::unhex("3012300906072a8648ce380401030500020201");
  SubPubKeyInfo np;
  EXPECT_EQ(decodeSpki(np, noParams), 0);
}

// What an EC key answers, as the subject public key info passes it on: a
// point its curve refuses and a digest of another length than the signature
// algorithm's both come back unsupported (-4); a curve the parameters do not
// give is an unusable key (-1).
TEST(SpkiEc, KeyAnswersMapped) {
  const Bytes msg = readFile("msg.bin");
  const Bytes d256 = digestOf(3, msg), d1 = digestOf(1, msg), sig = readFile("p256.sig");
  Bytes other = d256;
  other[0] ^= 1;
  const Bytes der = readFile("p256.spki.der");
  Bytes off = der;
  off[off.size() - 1] ^= 1;
  // the same point under NULL parameters (implicitlyCA): no curve
  Bytes implicit = pkitest::unhex("3051300b06072a8648ce3d02010500");
  implicit.insert(implicit.end(), der.end() - 68, der.end());
  const struct {
    const char* name;
    const Bytes* key;
    const Bytes* digest;
    int expected;
  } cases[] = {
      {"good signature", &der, &d256, 1},           // the key's 1
      {"bad signature", &der, &other, 0},           // -1
      {"digest of another length", &der, &d1, -4},  // -3
      {"point not on the curve", &off, &d256, -4},  // -3
      {"no curve", &implicit, &d256, -1},           // refused before the key is asked
  };
  for (const auto& c : cases) {
    SubPubKeyInfo k;
    ASSERT_EQ(decodeSpki(k, *c.key), static_cast<int>(c.key->size())) << c.name;
    EXPECT_EQ(k.verifyDigest(sigAlgOf("ecdsa", 3, 0), c.digest->data(),
                             static_cast<int>(c.digest->size()), sig.data(),
                             static_cast<int>(sig.size())),
              c.expected)
        << c.name;
  }
}

// Explicit curves from strangers: checked before use, refused when crafted.
TEST(SpkiHostile, ExplicitCurveParameters) {
  Bytes der = readFile("p256x.spki.der");
  SubPubKeyInfo good;
  ASSERT_EQ(decodeSpki(good, der), static_cast<int>(der.size()));
  ASSERT_EQ(good.ecParameters().kind(), ECDomainParameters::KIND_SPECIFIED);
  // find the field prime's INTEGER (02 21 00 ff ff ff ff 00 00 00 01) and spoil it
  Bytes pPrefix = pkitest::unhex("02210000ffffffff00000001");
  pPrefix.erase(pPrefix.begin() + 2);  // 02 21 00 ffffffff 00000001
  auto at = std::search(der.begin(), der.end(), pPrefix.begin(), pPrefix.end());
  ASSERT_NE(at, der.end());
  const size_t pOff = static_cast<size_t>(at - der.begin()) + 3;  // first octet after 00
  const struct {
    const char* name;
    size_t offset;
    unsigned char xorMask;
  } spoil[] = {
      {"composite modulus", pOff + 31, 0x02},  // p - 2 is even: not prime
      {"generator off the curve", der.size() - 100, 0x01},
      {"order spoilt", der.size() - 10, 0x04},
  };
  for (const auto& s : spoil) {
    Bytes bad = der;
    bad[s.offset] ^= s.xorMask;
    SubPubKeyInfo k;
    int r = decodeSpki(k, bad);
    if (r > 0) {
      // decoded: the key must not be usable
      Bytes d(32, 1), sig = readFile("p256x.sig");
      EXPECT_LT(k.verifyDigest(sigAlgOf("ecdsa", 3, 0), d.data(), 32, sig.data(),
                               static_cast<int>(sig.size())),
                0)
          << s.name;
    } else {
      EXPECT_EQ(r, 0) << s.name;
    }
  }
}

// An RSAPublicKey read in place lets go of its members' views with its own: nothing of it
// reads the octets afterwards, and clear() leaves an empty key, not the one received.
TEST(SpkiOpenssl, RsaKeyMembersGoWithTheReceivedOctets) {
  const Bytes spki = readFile("rsa1024.spki.der");
  SubPubKeyInfo info;
  ASSERT_EQ(decodeSpki(info, spki), static_cast<int>(spki.size()));
  const Bytes der(info.subjectPublicKey.bits(),
                  info.subjectPublicKey.bits() + info.subjectPublicKey.bitsLength());
  for (bool viaClear : {false, true}) {
    SCOPED_TRACE(viaClear ? "clear" : "releaseViews");
    RSAPublicKey k;
    ASSERT_EQ(k.decodeBuffer(der.data(), static_cast<int>(der.size()), ASN_FLAG_CONST),
              static_cast<int>(der.size()));
    ASSERT_TRUE(k.modulus.isConstView());
    EXPECT_EQ(k.keyBits(), 1024u);
    if (viaClear)
      k.clear();
    else
      k.releaseViews();
    EXPECT_FALSE(k.modulus.isConstView());
    EXPECT_FALSE(k.publicExponent.isConstView());
    EXPECT_EQ(k.keyBits(), 0u);
    Bytes again;
    k.encodeVector(again);
    EXPECT_NE(again, der);
  }
}
