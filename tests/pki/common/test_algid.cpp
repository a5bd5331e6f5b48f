// AlgorithmIdentifier, the digest and signature OID tables, RSASSA-PSS
// parameters and DigestInfo against what openssl writes
// (tests/data/pki/gen_algs.sh).
#include "pki/common/algid.h"

#include "pki/fixture_lines.h"
#include "pki/common/oids.h"
#include "pki/common/rsapssparams.h"
#include "pki/common/siganddigoid.h"

#include "pki/mutation.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

using pkitest::hex;
using pkitest::unhex;

namespace {

const auto& fixture() {
  static const auto rows = pkitest::readFixture("algs.txt");
  return rows;
}

std::vector<unsigned char> derOf(const std::string& kind, const std::string& label) {
  const auto* r = pkitest::findRow(fixture(), kind, label);
  EXPECT_NE(r, nullptr) << kind << " " << label;
  return r ? unhex((*r)[2]) : std::vector<unsigned char>();
}

std::string encode(const ASNobject& o) {
  std::vector<unsigned char> v;
  EXPECT_GT(o.encodeVector(v), 0);
  return hex(v);
}

// openssl digest names to hash ids and digest lengths (FIPS 180-4, RFC 1321).
const std::map<std::string, std::pair<int, int>> kHashes = {
    {"sha1", {1, 20}},   {"sha224", {2, 28}}, {"sha256", {3, 32}},
    {"sha384", {4, 48}}, {"sha512", {5, 64}}, {"md5", {8, 16}},
};

}  // namespace

TEST(PkiAlgid, SignatureAlgorithmsOfOpensslCertificates) {
  int seen = 0;
  for (const auto& r : fixture()) {
    if (r[0] != "sigalg") continue;
    ++seen;
    SCOPED_TRACE(r[1]);
    const int hashId = std::stoi(r[3]);
    AlgorithmIdentifier alg;
    ASSERT_GT(alg.decodeVector(unhex(r[2])), 0);
    int id = 0, len = 0;
    ASSERT_TRUE(alg.getDigestType(&id, &len));
    EXPECT_EQ(id, hashId);
    const std::string family = r[1].substr(0, r[1].find('-'));
    EXPECT_EQ(len, kHashes.at(r[1].substr(r[1].find('-') + 1)).second);
    EXPECT_EQ(isRsaSignatureOid(alg.algorithm), family == "rsa");
    EXPECT_EQ(isRsaSignatureAlgorithm(alg.algorithm), family == "rsa");
    EXPECT_EQ(isEcdsaSignatureOid(alg.algorithm), family == "ec");
    EXPECT_EQ(isDsaSignatureOid(alg.algorithm), family == "dsa");
    // Built from the hash id, the identifier is what openssl wrote: RSA
    // with NULL parameters, DSA and EC-DSA without.
    AlgorithmIdentifier built;
    bool ok = family == "rsa"  ? built.setRsaSignature(hashId)
              : family == "ec" ? built.setEcdsaSignature(hashId)
                               : built.setDsaSignature(hashId);
    ASSERT_TRUE(ok);
    EXPECT_EQ(encode(built), r[2]);
    EXPECT_TRUE(built == alg);
  }
  EXPECT_EQ(seen, 12);
}

TEST(PkiAlgid, AbsentAndNullParametersDiffer) {
  AlgorithmIdentifier withNull, absent;
  ASSERT_GT(withNull.decodeVector(derOf("der", "alg-sha256-null")), 0);
  ASSERT_GT(absent.decodeVector(derOf("der", "alg-sha256-absent")), 0);
  EXPECT_EQ(withNull.parametersPresent, 1);
  EXPECT_EQ(absent.parametersPresent, 0);
  EXPECT_FALSE(withNull == absent);
  EXPECT_EQ(encode(withNull), hex(derOf("der", "alg-sha256-null")));
  EXPECT_EQ(encode(absent), hex(derOf("der", "alg-sha256-absent")));

  AlgorithmIdentifier copy;
  copy = withNull;
  EXPECT_TRUE(copy == withNull);
  copy = absent;
  EXPECT_TRUE(copy == absent);
  EXPECT_EQ(encode(copy), hex(derOf("der", "alg-sha256-absent")));

  AlgorithmIdentifier digest, dsaKey;
  ASSERT_TRUE(digest.setDigest(3));
  EXPECT_EQ(encode(digest), hex(derOf("der", "alg-sha256-null")));
  ASSERT_TRUE(dsaKey.setDsaKey(nullptr));
  EXPECT_EQ(encode(dsaKey), hex(derOf("der", "alg-dsa-key-null")));
  EXPECT_FALSE(digest.setDigest(6));  // RIPEMD-128 has no OID
}

TEST(PkiAlgid, DigestAndSignatureTables) {
  struct Case {
    const char* oid;
    int kind;  // 0 digest, 1 RSA, 2 DSA, 3 EC-DSA
    int hashId;
    int length;
  } cases[] = {
      {"1.3.14.3.2.26", 0, 1, 20},
      {"2.16.840.1.101.3.4.2.4", 0, 2, 28},
      {"2.16.840.1.101.3.4.2.3", 0, 5, 64},
      {"1.2.840.113549.2.5", 0, 8, 16},
      {"1.0.10118.3.0.49", 0, 7, 20},
      {"1.3.36.3.2.1", 0, 7, 20},  // RIPEMD-160, ISO and TeleTrusT
      {"1.3.14.3.2.29", 1, 1, 20},
      {"1.2.840.113549.1.1.6", 1, 7, 20},  // stored signatures
      {"1.3.36.3.3.1.2", 1, 7, 20},
      {"1.3.36.8.5.1.2.2", 2, 7, 20},
      {"1.2.840.10045.4.3.4", 3, 5, 64},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.oid);
    ASNobjectId oid(c.oid);
    int id = 0, len = 0;
    bool ok = c.kind == 0   ? digestOidToType(oid, &len, &id) != nullptr
              : c.kind == 1 ? rsaSignatureOidToDigest(oid, &len, &id)
              : c.kind == 2 ? dsaSignatureOidToDigest(oid, &len, &id)
                            : ecdsaSignatureOidToDigest(oid, &len, &id);
    ASSERT_TRUE(ok);
    EXPECT_EQ(id, c.hashId);
    EXPECT_EQ(len, c.length);
  }
  // Written identifiers: the ISO RIPEMD-160 digest OID, the TeleTrusT RSA
  // one (1.2.840.113549.1.1.6 is rsaOAEPEncryptionSET, no signature).
  const ASNobjectId* oid = nullptr;
  int len = 0;
  EXPECT_STREQ(digestTypeToOid(7, &oid, &len), "RIPEMD-160");
  EXPECT_TRUE(*oid == id_ripemd160);
  EXPECT_EQ(len, 20);
  ASSERT_TRUE(rsaSignatureOidFromDigest(7, &oid, &len));
  EXPECT_TRUE(oid->equalsText("1.3.36.3.3.1.2"));
  EXPECT_FALSE(rsaSignatureOidFromDigest(6, &oid, &len));
  EXPECT_EQ(digestTypeToOid(6, nullptr, nullptr), nullptr);
  EXPECT_FALSE(ecdsaSignatureOidFromDigest(7, nullptr, nullptr));
  ASSERT_TRUE(rsaSignatureOidFromDigest(1, &oid, nullptr));
  EXPECT_TRUE(*oid == sha1WithRSAEncryption);  // the OIW alias is read, never written
  // Asking a length for an id the hash library refuses is an invariant failure.
  EXPECT_THROW(digestTypeToOid(42, nullptr, &len), std::exception);

  EXPECT_TRUE(isRsaKeyOid(id_RSAES_OAEP));
  EXPECT_TRUE(isRsaKeyOid(id_ea_rsa));
  EXPECT_FALSE(isRsaKeyOid(id_dsa));
  EXPECT_TRUE(isRsaPssOid(id_RSASSA_PSS));
  EXPECT_TRUE(isRsaSignatureAlgorithm(id_RSASSA_PSS));
  EXPECT_FALSE(isRsaSignatureOid(id_RSASSA_PSS));
}

TEST(PkiAlgid, PssIdentifiersOfOpenssl) {
  int seen = 0;
  for (const auto& r : fixture()) {
    if (r[0] != "pss") continue;
    ++seen;
    SCOPED_TRACE(r[1]);
    const int hash = kHashes.at(r[3]).first, mgfHash = kHashes.at(r[4]).first,
              salt = std::stoi(r[5]);
    AlgorithmIdentifier alg;
    ASSERT_GT(alg.decodeVector(unhex(r[2])), 0);
    int h = 0, s = 0, m = -1, mh = 0, t = 0;
    bool present = false;
    ASSERT_TRUE(alg.getRsaPssParams(&h, &s, &m, &mh, &t, &present));
    EXPECT_TRUE(present);
    EXPECT_EQ(h, hash);
    EXPECT_EQ(s, salt);
    EXPECT_EQ(m, 0);
    EXPECT_EQ(mh, mgfHash);
    EXPECT_EQ(t, 1);
    int id = 0, len = 0;
    ASSERT_TRUE(alg.getDigestType(&id, &len));
    EXPECT_EQ(id, hash);
    EXPECT_EQ(len, kHashes.at(r[3]).second);
    // Only SHA-1 as MGF hash reads without asking for it.
    EXPECT_EQ(alg.getRsaPssParams(&h, &s, &m, nullptr, &t, &present), mgfHash == 1);

    // Set again from its own members, the identifier keeps its parameters.
    AlgorithmIdentifier again;
    ASSERT_GT(again.decodeVector(unhex(r[2])), 0);
    ASSERT_TRUE(again.set(again.algorithm, &again.parameters));
    EXPECT_EQ(encode(again), r[2]);

    RsaPssParams params;
    ASSERT_TRUE(params.set(hash, 0, mgfHash, salt, 1));
    AlgorithmIdentifier built;
    ASSERT_TRUE(built.set(id_RSASSA_PSS, &params));
    EXPECT_EQ(encode(built), r[2]);
  }
  EXPECT_EQ(seen, 7);
}

TEST(PkiAlgid, PssDefaultsAndRefusals) {
  // Without parameters: the defaults, but only when presence is asked.
  AlgorithmIdentifier bare;
  ASSERT_TRUE(bare.set(id_RSASSA_PSS, nullptr));
  int h = 0, s = 0, m = -1, mh = 0, t = 0;
  bool present = true;
  ASSERT_TRUE(bare.getRsaPssParams(&h, &s, &m, &mh, &t, &present));
  EXPECT_FALSE(present);
  EXPECT_EQ(h * 1000000 + s * 1000 + m * 100 + mh * 10 + t, 1 * 1000000 + 20 * 1000 + 0 + 10 + 1);
  EXPECT_FALSE(bare.getRsaPssParams(&h, &s, &m, &mh, &t, nullptr));
  EXPECT_FALSE(bare.getDigestType(&h, &s));

  AlgorithmIdentifier empty;
  ASSERT_GT(empty.decodeVector(derOf("der", "pss-empty")), 0);
  ASSERT_TRUE(empty.getRsaPssParams(&h, nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(h, 1);

  RsaPssParams forced;
  ASSERT_TRUE(forced.set(1, 1, 1, 20, 1));
  AlgorithmIdentifier built;
  ASSERT_TRUE(built.set(id_RSASSA_PSS, &forced));
  EXPECT_EQ(encode(built), hex(derOf("der", "pss-force-mgf-sha1")));

  // Parameters that do not decode, told apart by their tags.
  struct Case {
    const char* label;
    int decodes;  // decode result wanted (>0 any success)
    int salt;     // getSaltLength, when it decodes
    int trailer;  // getTrailerField, when it decodes
  } cases[] = {
      {"pss-1-before-0", 0, 0, 0},     {"pss-two-salts", 0, 0, 0},
      {"pss-fifth-element", 0, 0, 0},  {"pss-implicit-salt", 0, 0, 0},
      {"pss-salt-5-octets", 1, -1, 1}, {"pss-salt-negative", 1, -1, 1},
      {"pss-trailer-2", 1, 20, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    RsaPssParams p;
    int r = p.decodeVector(derOf("der", c.label));
    if (!c.decodes) {
      EXPECT_LE(r, 0);
      continue;
    }
    ASSERT_GT(r, 0);
    EXPECT_EQ(p.getSaltLength(), c.salt);
    EXPECT_EQ(p.getTrailerField(), c.trailer);
    AlgorithmIdentifier alg;
    ASSERT_TRUE(alg.set(id_RSASSA_PSS, &p));
    // A value that is not the default fails unless it is asked for; a
    // negative or oversized one always fails.
    EXPECT_FALSE(alg.getRsaPssParams(&h, nullptr, &m, &mh, nullptr, nullptr));
    EXPECT_EQ(alg.getRsaPssParams(&h, &s, &m, &mh, &t, nullptr), c.salt >= 0);
  }

  // Parameters under a context tag are not RSASSA-PSS-params.
  AlgorithmIdentifier tagged;
  const unsigned char der[] = {0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                               0xF7, 0x0D, 0x01, 0x01, 0x0A, 0xA0, 0x00};
  ASSERT_EQ(tagged.decodeBuffer(der, sizeof der), static_cast<int>(sizeof der));
  EXPECT_FALSE(tagged.getRsaPssParams(&h, &s, &m, &mh, &t, &present));
}

namespace {

using Bytes = std::vector<unsigned char>;

struct PssAnswer {
  bool ok = false;
  int h = 0, s = 0, m = 0, mh = 0, t = 0;
  bool operator==(const PssAnswer& o) const {
    return ok == o.ok && (!ok || (h == o.h && s == o.s && m == o.m && mh == o.mh && t == o.t));
  }
};

std::ostream& operator<<(std::ostream& os, const PssAnswer& a) {
  return os << (a.ok ? "ok" : "refused") << " h" << a.h << " s" << a.s << " m" << a.m << " mh"
            << a.mh << " t" << a.t;
}

// The answers of the full object decoder for parameters with this content.
PssAnswer fullPssDecode(const Bytes& content, bool askMgfHash) {
  ASNany any;
  EXPECT_EQ(any.setEncoding(0x30, content.data(), static_cast<int>(content.size())), 1);
  RsaPssParams p;
  PssAnswer a;
  a.mh = 1;
  if (p.assignFromAny(any) != 1) return a;
  a.h = p.getDigestType();
  a.m = p.getMgf(askMgfHash ? &a.mh : nullptr);
  a.s = p.getSaltLength();
  a.t = p.getTrailerField();
  a.ok = !(a.h == 0 || a.m < 0 || a.s < 0 || a.t < 0);
  return a;
}

PssAnswer algidPss(const Bytes& content, bool askMgfHash) {
  AlgorithmIdentifier alg;
  EXPECT_TRUE(alg.set(id_RSASSA_PSS, nullptr));
  EXPECT_EQ(alg.parameters.setEncoding(0x30, content.data(), static_cast<int>(content.size())), 1);
  alg.parametersPresent = 1;
  PssAnswer a;
  a.mh = 1;
  a.ok = alg.getRsaPssParams(&a.h, &a.s, &a.m, askMgfHash ? &a.mh : nullptr, &a.t, nullptr);
  return a;
}

// True when the quick reader answered; fails the test when it differs from the full decoder.
bool samePssAnswers(const Bytes& content) {
  for (bool ask : {true, false})
    EXPECT_EQ(algidPss(content, ask), fullPssDecode(content, ask)) << hex(content) << " " << ask;
  PssAnswer quick;
  quick.ok = RsaPssParams::readUsual(content.data(), static_cast<int>(content.size()), &quick.h,
                                     &quick.mh, &quick.s, &quick.t);
  if (!quick.ok) return false;
  PssAnswer full = fullPssDecode(content, true);
  EXPECT_TRUE(full.ok && quick.h == full.h && quick.mh == full.mh && quick.s == full.s &&
              quick.t == full.t)
      << hex(content) << " quick " << quick << " full " << full;
  return true;
}

Bytes pssContent(const Bytes& params) {
  ASNany any;
  EXPECT_GT(any.decodeVector(params), 0);
  return Bytes(any.content(), any.content() + any.length);
}

}  // namespace

// The quick reader of RSASSA-PSS parameters against the full decoder: the
// encodings openssl and our builder write, hand-made unusual forms, and
// random mutations of all of them.
TEST(PkiAlgid, PssQuickReaderAgreesWithDecoder) {
  std::vector<Bytes> seeds;
  for (const auto& r : fixture()) {
    if (r[0] != "pss") continue;
    AlgorithmIdentifier alg;
    ASSERT_GT(alg.decodeVector(unhex(r[2])), 0);
    seeds.push_back(
        Bytes(alg.parameters.content(), alg.parameters.content() + alg.parameters.length));
  }
  for (const char* label :
       {"pss-1-before-0", "pss-two-salts", "pss-fifth-element", "pss-implicit-salt",
        "pss-salt-5-octets", "pss-salt-negative", "pss-trailer-2"})
    seeds.push_back(pssContent(derOf("der", label)));
  for (int hash : {1, 2, 3, 4, 5, 7, 8})
    for (int salt : {0, 20, 32, 127, 128, 255, 256, 65535, 65536, 8388607, 8388608})
      for (int trailer : {1, 2}) {
        RsaPssParams p;
        ASSERT_TRUE(p.set(hash, salt == 32, hash == 8 ? 3 : hash, salt, trailer));
        Bytes der;
        ASSERT_GT(p.encodeVector(der), 0);
        seeds.push_back(pssContent(der));
      }
  const std::vector<std::string> unusual = {
      "",                                                          // all defaults
      "a00b300906052b0e03021a0500",                                // SHA-1 spelled out
      "a00d300b0609608648016503040201",                            // SHA-256 without NULL
      "a00f300d06096086480165030402010500",                        // SHA-256 with NULL
      "a011300f06096086480165030402010402abcd",                    // other parameters
      "a011300d060960864801650304020105000500",                    // trailing octets inside
      "a010300e0609608648016503040201050100",                      // NULL with content
      "a20402020020",                                              // salt not minimal
      "a2030201ff",                                                // negative salt
      "a203020100",                                                // salt 0
      "a30302010a",                                                // trailer 10
      "a2820003020120",                                            // long-form length
      "a203020120a203020120",                                      // salt twice
      "a1173015060a2a864886f70d01010800300706052b0e03021a",        // mgf OID too long
      "a11a301806092a864886f70d010108300b0609608648016503040201",  // MGF1 SHA-256
      "a11a301806092a864886f70d010107300b0609608648016503040201",  // not MGF1
      "a11a301806092a864886f70d010108310b0609608648016503040201",  // SET as hash
      "a10d300b06092a864886f70d010108",                            // MGF1 without hash
      "a0",                                                        // cut
      "a00f300d06096086480165030402010500a4020500",                // fifth tag
  };
  for (const auto& h : unusual) seeds.push_back(unhex(h));

  int quick = 0;
  for (const auto& seed : seeds) quick += samePssAnswers(seed);
  EXPECT_GE(quick, 100);

  std::mt19937 rng(20260521);
  const unsigned char interesting[] = {0x00, 0x01, 0x02, 0x05, 0x06, 0x30, 0x7F,
                                       0x80, 0x81, 0xA0, 0xA1, 0xA2, 0xA3, 0xFF};
  int mutatedQuick = 0;
  for (int round = 0; round < 20000; ++round) {
    Bytes b = seeds[rng() % seeds.size()];
    for (int k = 1 + static_cast<int>(rng() % 3); k > 0; --k) {
      const size_t at = b.empty() ? 0 : rng() % b.size();
      pkitest::mutateAt(b, at, rng, interesting, sizeof interesting);
    }
    mutatedQuick += samePssAnswers(b);
    if (HasFailure()) break;
  }
  // enough of the mutations stay in the quick reader's forms to test it
  EXPECT_GE(mutatedQuick, 1000);
}

TEST(PkiAlgid, DigestInfoOfOpensslSignatures) {
  int seen = 0;
  for (const auto& r : fixture()) {
    if (r[0] != "digestinfo") continue;
    ++seen;
    SCOPED_TRACE(r[1]);
    DigestInfo di;
    ASSERT_GT(di.decodeVector(unhex(r[2])), 0);
    int id = 0, len = 0;
    ASSERT_NE(digestOidToType(di.digestAlgorithm.algorithm, &len, &id), nullptr);
    EXPECT_EQ(id, std::stoi(r[3]));
    EXPECT_EQ(
        hex(std::vector<unsigned char>(di.digest.data(), di.digest.data() + di.digest.length)),
        r[4]);
    EXPECT_EQ(len, di.digest.length);

    DigestInfo built;
    ASSERT_TRUE(built.digestAlgorithm.setDigest(id));
    auto digest = unhex(r[4]);
    ASSERT_EQ(built.digest.set(digest.data(), static_cast<int>(digest.size())), 1);
    EXPECT_EQ(encode(built), r[2]);
  }
  EXPECT_EQ(seen, 4);
  // Truncated or with a trailing element, a DigestInfo does not decode.
  auto der = unhex(pkitest::findRow(fixture(), "digestinfo", "sha1")->at(2));
  DigestInfo di;
  EXPECT_LE(di.decodeBuffer(der.data(), static_cast<int>(der.size()) - 1), 0);
  der.insert(der.end(), {0x05, 0x00});
  der[1] = static_cast<unsigned char>(der[1] + 2);
  EXPECT_LE(di.decodeVector(der), 0);
}

// The one-pass kind of a signature OID answers as the tables it stands for, for every
// registry constant and every identifier under and around the arcs it reads by their last
// arc (unknown last arcs, shorter and longer identifiers).
TEST(PkiAlgid, SignatureKindAgreesWithTables) {
  std::vector<std::string> texts;
  const std::string arcs[] = {"1.2.840.113549.1.1", "1.2.840.10045.4.3", "1.2.840.10045.4",
                              "1.2.840.10040.4",    "1.3.36.3.3.1",      "1.3.14.3.2",
                              "1.3.36.8.5.1.2"};
  for (const std::string& arc : arcs) {
    texts.push_back(arc);
    for (int x = 0; x < 300; ++x) texts.push_back(arc + "." + std::to_string(x));
    texts.push_back(arc + ".11.1");
    texts.push_back(arc + ".2.1");
  }
  std::vector<ASNobjectId> oids;
  for (const std::string& t : texts) oids.emplace_back(t.c_str());
  size_t n = 0;
  const OidRegistryEntry* rows = oidRegistry(&n);
  for (size_t i = 0; i < n; ++i) oids.push_back(*rows[i].oid);
  oids.emplace_back();  // empty
  int seen[5] = {};
  for (const ASNobjectId& oid : oids) {
    std::string text;
    oid.toString(text);
    SCOPED_TRACE(text);
    int wantHash = 0, wantLen = 0;
    SignatureKind want = SIG_KIND_NONE;
    if (rsaSignatureOidToDigest(oid, &wantLen, &wantHash))
      want = SIG_KIND_RSA;
    else if (isRsaPssOid(oid))
      want = SIG_KIND_RSA_PSS;
    else if (dsaSignatureOidToDigest(oid, &wantLen, &wantHash))
      want = SIG_KIND_DSA;
    else if (ecdsaSignatureOidToDigest(oid, &wantLen, &wantHash))
      want = SIG_KIND_ECDSA;
    int hash = -1, len = -1;
    EXPECT_EQ(signatureOidKind(oid, &hash, &len), want);
    EXPECT_EQ(hash, wantHash);
    EXPECT_EQ(len, wantLen);
    EXPECT_EQ(signatureOidKind(oid, nullptr, nullptr), want);
    ++seen[want];
  }
  // every row met: 9 RSA (7 under the arc), PSS, 2 DSA, 5 EC-DSA (4 under the arc)
  EXPECT_GE(seen[SIG_KIND_RSA], 9);
  EXPECT_GE(seen[SIG_KIND_RSA_PSS], 1);
  EXPECT_GE(seen[SIG_KIND_DSA], 2);
  EXPECT_GE(seen[SIG_KIND_ECDSA], 5);
}
