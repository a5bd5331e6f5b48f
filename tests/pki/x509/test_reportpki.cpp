// The report stream's PKI members and the algorithm texts, checked against
// what openssl reads from the same certificates and keys
// (tests/data/pki/report/gen.sh) and against the standard OIDs.
#include "asn1/asnbool.h"
#include "base/no_oop.h"
#include "base/reportstream.h"
#include "crypto/sym/lvbc.h"
#include "pki/keytest.h"
#include "pki/keys/algtext.h"
#include "pki/x509/cert.h"
#include "pki/names/dnprint.h"
#include "pki/common/rsapssparams.h"
#include "platform/buildconst.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using keytest::Bytes;

std::string contents(MemFile& m) {
  return std::string(reinterpret_cast<const char*>(m.data()), static_cast<size_t>(m.length()));
}

Bytes readData(const std::string& name) {
  std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/pki/" + name, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

std::vector<std::vector<std::string>> readTsv(const std::string& name) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/pki/report/" + name);
  std::string line;
  while (std::getline(f, line)) {
    std::vector<std::string> fields;
    std::istringstream s(line);
    std::string field;
    while (std::getline(s, field, '\t')) fields.push_back(field);
    rows.push_back(fields);
  }
  return rows;
}

struct CharsetGuard {
  ~CharsetGuard() { selectOutputCharset("windows"); }
};

// ---- what openssl's names and values mean in the report's texts

struct DigestFact {
  const char* openssl;
  const char* display;
  int length;
};
const DigestFact kDigests[] = {
    {"sha1", "SHA-1", 20},       {"sha224", "SHA-224", 28},   {"sha256", "SHA-256", 32},
    {"sha384", "SHA-384", 48},   {"sha512", "SHA-512", 64},   {"SHA1", "SHA-1", 20},
    {"SHA2-256", "SHA-256", 32}, {"SHA2-384", "SHA-384", 48}, {"SHA2-512", "SHA-512", 64},
};

const DigestFact& digest(const std::string& openssl) {
  for (const DigestFact& d : kDigests)
    if (openssl == d.openssl) return d;
  ADD_FAILURE() << "digest " << openssl;
  return kDigests[0];
}

// The text of RSA-PSS parameters as openssl shows them ("-" when absent).
std::string pssText(const std::string& hash, const std::string& mgfHash, const std::string& salt) {
  if (hash == "-") return "RSA-PSS";
  const DigestFact& h = digest(hash);
  const DigestFact& m = digest(mgfHash);
  const unsigned long s = std::stoul(salt, nullptr, 0);
  if (std::string(h.display) == m.display && s == static_cast<unsigned long>(h.length))
    return std::string(h.display) + " RSA-PSS";
  return std::string(h.display) + " RSA-PSS (mgf: MGF1 " + m.display +
         ", saltLen: " + std::to_string(s) + ")";
}

// Curves by openssl's name: the display name of the first row of the
// named-curve table with that OID, and the field size in bits (openssl gives
// the order's size, which differs for sect283k1).
struct CurveFact {
  const char* openssl;
  const char* display;
  unsigned long bits;
};
const CurveFact kCurves[] = {
    {"prime256v1", "CERTICOM PRIME 256 R1", 256},
    {"secp384r1", "CERTICOM PRIME 384 R1", 384},
    {"secp521r1", "CERTICOM PRIME 521 R1", 521},
    {"brainpoolP256r1", "BRAINPOOL PRIME 256 R1", 256},
    {"brainpoolP384r1", "BRAINPOOL PRIME 384 R1", 384},
    {"secp256k1", "CERTICOM PRIME 256 K1", 256},
    {"sect283k1", "CERTICOM BINARY 283 K1", 283},
    {"sect233r1", "CERTICOM BINARY 233 R1", 233},
    {"sect163k1", "CERTICOM BINARY 163 K1", 163},
};

const CurveFact* curve(const std::string& openssl) {
  for (const CurveFact& c : kCurves)
    if (openssl == c.openssl) return &c;
  return nullptr;
}

// The key fields of keys.tsv / certs.tsv from column `at` on: bits,
// algorithm, curve, PSS hash, MGF1 hash, salt, key hex.
struct KeyFacts {
  std::string description;
  unsigned long bits;
  std::string hex;
};

KeyFacts keyFacts(const std::vector<std::string>& f, size_t at) {
  KeyFacts k;
  const std::string& alg = f.at(at + 1);
  k.bits = std::stoul(f.at(at));
  k.hex = f.at(at + 6);
  if (alg == "rsaEncryption") {
    k.description = "RSA";
  } else if (alg == "rsassaPss") {
    k.description = pssText(f.at(at + 3), f.at(at + 4), f.at(at + 5));
  } else if (alg == "dsaEncryption") {
    k.description = "DSA";
  } else if (alg == "id-ecPublicKey") {
    const CurveFact* c = curve(f.at(at + 2));
    EXPECT_NE(nullptr, c) << f.at(at + 2);
    k.description = std::string("ECDSA, ") + (c ? c->display : "");
    if (c) k.bits = c->bits;
  } else {
    ADD_FAILURE() << alg;
  }
  return k;
}

// " (N bity)" or " (N bitów)": the Polish plural of the sizes here.
std::string bitsText(unsigned long bits) {
  static const std::map<unsigned long, const char*> words = {
      {163, "bity"}, {233, "bity"},  {256, "bitów"},  {283, "bity"},
      {384, "bity"}, {521, "bitów"}, {2048, "bitów"}, {4096, "bitów"},
  };
  auto it = words.find(bits);
  EXPECT_NE(words.end(), it) << bits;
  return " (" + std::to_string(bits) + " " + (it == words.end() ? "?" : it->second) + ")";
}

// "%lu (HEX: %04lX)" for up to 4 significant octets, else "HEX: " and them.
std::string serialText(std::string hex) {
  while (hex.size() > 2 && hex.compare(0, 2, "00") == 0) hex.erase(0, 2);
  if (hex.size() > 8) return "HEX: " + hex;
  char text[64];
  unsigned long v = std::stoul(hex, nullptr, 16);
  std::snprintf(text, sizeof text, "%lu (HEX: %04lX)", v, v);
  return text;
}

// "2026-12-07 02:11:21Z" as "2026.12.07 02:11".
std::string minuteText(const std::string& iso) {
  std::string t = iso.substr(0, 16);
  t[4] = t[7] = '.';
  return t;
}

std::string signatureText(const std::vector<std::string>& f) {
  static const std::map<std::string, std::string> names = {
      {"sha256WithRSAEncryption", "SHA-256 RSA"},
      {"sha1WithRSAEncryption", "SHA-1 RSA"},
      {"ecdsa-with-SHA256", "SHA-256 ECDSA"},
      {"ecdsa-with-SHA384", "SHA-384 ECDSA"},
      {"dsaWithSHA1", "SHA-1 DSA"},
  };
  if (f.at(7) == "rsassaPss") return pssText(f.at(8), f.at(9), f.at(10));
  auto it = names.find(f.at(7));
  EXPECT_NE(names.end(), it) << f.at(7);
  return it == names.end() ? "" : it->second;
}

AlgorithmIdentifier algorithm(const char* oid, const ASNobject* params = nullptr) {
  AlgorithmIdentifier a;
  EXPECT_TRUE(a.set(ASNobjectId(oid), params));
  return a;
}

std::string description(const AlgorithmIdentifier& a, bool detailed) {
  std::unique_ptr<char[]> text(algorithmDescription(a, detailed));
  return text ? text.get() : "(null)";
}

std::string keyDescription(const SubPubKeyInfo& k, bool detailed) {
  std::unique_ptr<char[]> text(keyAlgorithmDescription(k, detailed));
  return text ? text.get() : "(null)";
}

// A certificate of certs.tsv: made by gen.sh beside it, or one of ../certs.
Bytes certificateBytes(const std::string& file) {
  Bytes here = readData("report/" + file);
  if (!here.empty()) return here;
  registerCertificateArmourReader();
  return readData("certs/" + file);
}

SubPubKeyInfo key(const std::string& name) {
  SubPubKeyInfo k;
  Bytes der = keytest::readFile(name + ".spki.der");
  EXPECT_EQ(static_cast<int>(der.size()), keytest::decodeSpki(k, der)) << name;
  return k;
}

}  // namespace

// ---- the name table

TEST(AlgorithmTable, RowsAreTheDigestAndSchemeNamesCombined) {
  size_t n = 0;
  const AlgorithmTableRow* rows = algorithmTable(&n);
  ASSERT_EQ(31u, n);
  for (size_t i = 0; i < n; ++i) {
    const AlgorithmTableRow& r = rows[i];
    EXPECT_EQ(r.displayName, algorithmTableLookup(r.scheme, r.hash)) << "duplicate key " << i;
    if (r.scheme == SCHEME_DIGEST || r.hash == 0) {
      EXPECT_FALSE(algorithmTableContains(r.scheme, r.hash)) << r.displayName;
      continue;
    }
    EXPECT_TRUE(algorithmTableContains(r.scheme, r.hash));
    const char* digestName = algorithmTableLookupByKey2(r.hash);
    const char* schemeName = algorithmTableLookupByKey1(r.scheme);
    ASSERT_TRUE(digestName && schemeName) << r.displayName;
    EXPECT_EQ(std::string(digestName) + " " + schemeName, r.displayName);
  }
  EXPECT_STREQ("SHA-256 RSA", algorithmTableLookup(0, 3));
  EXPECT_EQ(nullptr, algorithmTableLookup(3, 6));
  EXPECT_EQ(nullptr, algorithmTableLookup(1, 3));
  EXPECT_STREQ("RIPEMD-128", algorithmTableLookupByKey2(6));
  EXPECT_STREQ("ECDSA", algorithmTableLookupByKey1(2));
}

// Standard OIDs (RFC 3279, 4055, 5758, 8017, FIPS 180 registrations).
TEST(AlgorithmTable, DescriptionsOfStandardIdentifiers) {
  struct Case {
    const char* oid;
    int scheme, hash;
    const char* text;
  };
  const Case cases[] = {
      {"1.2.840.113549.1.1.5", 0, 1, "SHA-1 RSA"},
      {"1.2.840.113549.1.1.11", 0, 3, "SHA-256 RSA"},
      {"1.2.840.113549.1.1.13", 0, 5, "SHA-512 RSA"},
      {"1.2.840.113549.1.1.4", 0, 8, "MD5 RSA"},
      {"1.3.36.3.3.1.2", 0, 7, "RIPEMD-160 RSA"},
      {"1.2.840.10040.4.3", 1, 1, "SHA-1 DSA"},
      {"1.3.36.8.5.1.2.2", 1, 7, "RIPEMD-160 DSA"},
      {"1.2.840.10045.4.1", 2, 1, "SHA-1 ECDSA"},
      {"1.2.840.10045.4.3.2", 2, 3, "SHA-256 ECDSA"},
      {"1.2.840.10045.4.3.4", 2, 5, "SHA-512 ECDSA"},
      {"1.3.14.3.2.26", -1, 1, "SHA-1"},
      {"2.16.840.1.101.3.4.2.1", -1, 3, "SHA-256"},
      {"2.16.840.1.101.3.4.2.3", -1, 5, "SHA-512"},
      {"1.2.840.113549.2.5", -1, 8, "MD5"},
      {"1.3.36.3.2.1", -1, 7, "RIPEMD-160"},
      {"1.0.10118.3.0.49", -1, 7, "RIPEMD-160"},
      {"1.2.840.113549.1.1.1", 0, 0, "RSA"},
      {"2.5.8.1.1", 0, 0, "RSA"},
      {"1.2.840.113549.1.1.10", 3, 0, "RSA-PSS"},
      {"1.2.840.10040.4.1", 1, 0, "DSA"},
      {"1.2.840.10045.2.1", 2, 0, "ECDSA"},
      // outside the table: the OID in dotted text
      {"2.16.840.1.101.3.4.3.2", -1, 0, "2.16.840.1.101.3.4.3.2"},  // DSA with SHA-256
      {"1.2.840.113549.1.1.2", -1, 0, "1.2.840.113549.1.1.2"},      // MD2 with RSA
      {"1.2.3.4", -1, 0, "1.2.3.4"},
  };
  for (const Case& c : cases) {
    AlgorithmIdentifier a = algorithm(c.oid);
    int hash = -7;
    EXPECT_EQ(c.scheme, signatureSchemeOf(a, &hash)) << c.oid;
    EXPECT_EQ(c.hash, hash) << c.oid;
    EXPECT_EQ(c.text, description(a, false)) << c.oid;
    EXPECT_EQ(c.text, description(a, true)) << c.oid;
  }
  AlgorithmIdentifier empty;
  EXPECT_EQ(nullptr, std::unique_ptr<char[]>(algorithmDescription(empty, true)).get());
  std::string out = "x";
  EXPECT_FALSE(appendAlgorithmDescription(out, empty, false));
  EXPECT_EQ("x", out);
}

TEST(AlgorithmTable, HashAndSignatureNamesOfOids) {
  struct Case {
    bool signature;
    const char* oid;
    bool known;
    int hash;
    const char* name;
  };
  const Case cases[] = {
      {false, "2.16.840.1.101.3.4.2.1", true, 3, "SHA-256"},
      {false, "1.3.36.3.2.1", true, 7, "RIPEMD-160"},
      {false, "1.2.840.113549.2.2", true, 0, "id-md2"},  // no hash id: the registry's name
      {false, "1.2.3.4", false, 0, ""},
      {true, "1.2.840.10045.4.3.3", true, 4, "SHA-384 ECDSA"},
      {true, "1.2.840.113549.1.1.10", true, 0, "RSA-PSS"},
      {true, "1.2.840.113549.1.1.2", true, 0, "md2WithRSAEncryption"},
      {true, "1.2.3.4", false, 0, ""},
  };
  for (const Case& c : cases) {
    std::string out = "> ";
    int hash = -7;
    const ASNobjectId oid(c.oid);
    EXPECT_EQ(c.known, c.signature ? signatureAlgorithmName(oid, &hash, &out)
                                   : hashAlgorithmName(oid, &hash, &out))
        << c.oid;
    EXPECT_EQ(std::string("> ") + c.name, out) << c.oid;
    if (c.known) {
      EXPECT_EQ(c.hash, hash) << c.oid;
    }
  }
}

// ---- RSA-PSS texts

TEST(AlgorithmText, RsaPssParametersOutsideTheTable) {
  const ASNnull null;
  AlgorithmIdentifier sha256 = algorithm("2.16.840.1.101.3.4.2.1", &null);
  AlgorithmIdentifier sha3 = algorithm("2.16.840.1.101.3.4.2.8");
  struct Case {
    const AlgorithmIdentifier* hash;       // null: absent (SHA-1)
    const char* mask;                      // null: absent (MGF1 with SHA-1)
    const AlgorithmIdentifier* maskParam;  // the mask's parameters
    int salt;                              // -1: absent (20)
    const char* text;
  };
  const Case cases[] = {
      {nullptr, nullptr, nullptr, -1, "SHA-1 RSA-PSS"},
      {&sha256, "1.2.840.113549.1.1.8", &sha256, 32, "SHA-256 RSA-PSS"},
      {&sha256, "1.2.840.113549.1.1.8", &sha256, -1,
       "SHA-256 RSA-PSS (mgf: MGF1 SHA-256, saltLen: 20)"},
      {&sha256, nullptr, nullptr, 32, "SHA-256 RSA-PSS (mgf: MGF1 SHA-1, saltLen: 32)"},
      {&sha3, "1.2.840.113549.1.1.8", &sha3, 32,
       "2.16.840.1.101.3.4.2.8 RSA-PSS (mgf: MGF1 2.16.840.1.101.3.4.2.8, saltLen: 32)"},
      {&sha256, "1.2.840.113549.1.1.8", nullptr, 32,
       "SHA-256 RSA-PSS (mgf: MGF1 <unknown hash>, saltLen: 32)"},
      {&sha256, "1.0.18033.2.5.2", &sha256, 32, "SHA-256 RSA-PSS (mgf: KDF2 , saltLen: 32)"},
      {&sha256, "1.2.3.4", nullptr, 0, "SHA-256 RSA-PSS (mgf: 1.2.3.4 , saltLen: 0)"},
  };
  for (const Case& c : cases) {
    RsaPssParams p;
    if (c.hash) {
      *p.hashAlgorithm = *c.hash;
      p.hashAlgorithmPresent = 1;
    }
    if (c.mask) {
      ASSERT_TRUE(p.maskGenAlgorithm->set(ASNobjectId(c.mask), c.maskParam));
      p.maskGenAlgorithmPresent = 1;
    }
    if (c.salt >= 0) {
      p.saltLength->set(static_cast<uint32_t>(c.salt));
      p.saltLengthPresent = 1;
    }
    AlgorithmIdentifier a = algorithm("1.2.840.113549.1.1.10", &p);
    EXPECT_EQ(c.text, description(a, true));
  }
}

// ---- keys

TEST(ReportKey, OpensslKeys) {
  CharsetGuard guard;
  const auto rows = readTsv("keys.tsv");
  ASSERT_EQ(15u, rows.size());
  for (const auto& f : rows) {
    SubPubKeyInfo k = key(f.at(0));
    const KeyFacts facts = keyFacts(f, 1);
    EXPECT_EQ(facts.description, keyDescription(k, true)) << f[0];
    std::string brief = facts.description.substr(0, facts.description.find(','));
    if (brief.find("RSA-PSS") != std::string::npos) brief = "RSA-PSS";
    EXPECT_EQ(brief, keyDescription(k, false)) << f[0];
    MemFile m;
    ReportStream rs(&m);
    rs.writeKey(k);
    EXPECT_EQ(facts.description + bitsText(facts.bits) + "\r\nWartość klucza:   " + facts.hex,
              contents(m))
        << f[0];
  }
}

TEST(ReportKey, BitCountWords) {
  struct Case {
    unsigned long bits;
    const char* word;
  };
  const Case cases[] = {{1, "bit"},     {2, "bity"},     {4, "bity"},  {5, "bitów"},
                        {12, "bitów"},  {14, "bitów"},   {22, "bity"}, {111, "bitów"},
                        {1024, "bity"}, {2048, "bitów"}, {0, "bitów"}};
  for (const Case& c : cases) {
    // an RSA key whose parameters carry its size: the way to any count
    SubPubKeyInfo k;
    ASNinteger size;
    size.set(static_cast<uint32_t>(c.bits));
    ASSERT_TRUE(k.algorithm.set(rsaEncryption, &size));
    MemFile m;
    ReportStream rs(&m);
    rs.writeKey(k);
    EXPECT_EQ("RSA (" + std::to_string(c.bits) + " " + c.word + ")\r\nWartość klucza:   ",
              contents(m));
  }
}

TEST(ReportKey, SignatureSchemesAKeyMaySignWith) {
  using Pairs = std::vector<std::pair<int, int>>;  // (scheme, hash)
  struct Case {
    const char* key;
    Pairs fit, misfit;
  };
  const Case cases[] = {
      {"rsa2048", {{0, 3}, {3, 5}}, {{1, 1}, {2, 3}, {3, 6}, {-1, 3}}},
      // its parameters: SHA-256, MGF1 with SHA-256, salt at least 32
      {"rsapss_params", {{3, 3}}, {{3, 5}, {3, 1}, {0, 3}}},
      {"rsapss_noparams", {{3, 4}}, {{0, 3}}},
      {"dsa2048", {{1, 1}}, {{0, 1}}},
      {"p256", {{2, 3}}, {{3, 3}}},
      {"p256x", {{2, 5}}, {{1, 1}}},
  };
  for (const Case& c : cases) {
    const SubPubKeyInfo k = key(c.key);
    for (auto sh : c.fit) EXPECT_TRUE(keySupportsSignatureScheme(k, sh.first, sh.second)) << c.key;
    for (auto sh : c.misfit)
      EXPECT_FALSE(keySupportsSignatureScheme(k, sh.first, sh.second)) << c.key << " " << sh.first;
  }
}

TEST(ReportKey, CurvesAndOtherAlgorithms) {
  SubPubKeyInfo k = key("p256");
  // a curve the table does not know: its OID
  k.ecParameters().namedCurve.set("1.2.3.4.5");
  EXPECT_EQ("ECDSA, 1.2.3.4.5", keyDescription(k, true));
  SubPubKeyInfo gost;
  ASSERT_TRUE(gost.algorithm.set(ASNobjectId("1.2.643.2.2.19"), nullptr));
  EXPECT_EQ("1.2.643.2.2.19", keyDescription(gost, true));
  SubPubKeyInfo none;
  EXPECT_EQ("(null)", keyDescription(none, true));
}

// ---- INTEGERs, names, certificates

TEST(ReportStreamPki, Integers) {
  struct Case {
    Bytes content;
    const char* text;
  };
  const Case cases[] = {
      {{0x00, 0xFF}, "255 (HEX: 00FF)"},
      {{0x01, 0x02, 0x03, 0x04, 0x05}, "HEX: 0102030405"},
      {{0x00}, "0 (HEX: 0000)"},
      {{0x07}, "7 (HEX: 0007)"},
      {{0x12, 0x34, 0x56}, "1193046 (HEX: 123456)"},
      {{0x7F, 0xFF, 0xFF, 0xFF}, "2147483647 (HEX: 7FFFFFFF)"},
      {{0x00, 0xFF, 0xFF, 0xFF, 0xFF}, "4294967295 (HEX: FFFFFFFF)"},
      {{0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05}, "HEX: 0102030405"},
      {{0x80}, "128 (HEX: 0080)"},
  };
  for (const Case& c : cases) {
    ASNinteger i;
    ASSERT_EQ(1, i.set(c.content.data(), static_cast<int>(c.content.size())));
    MemFile m;
    ReportStream rs(&m);
    rs.writeInteger(i);
    EXPECT_EQ(c.text, contents(m));
  }
}

TEST(ReportStreamPki, NamesAreNotConvertedAgain) {
  CharsetGuard guard;
  DistinguishedName name;
  ASSERT_GT(name.decodeVector(readData("names/polish.utf8.der")), 0);
  struct Case {
    const char* charset;
    std::string person;  // CN Łukasz Żółw
  };
  const Case cases[] = {
      {"utf-8", u8"Łukasz Żółw"},
      {"windows", "\xA3ukasz \xAF\xF3\xB3w"},
      {"latin2", "\xA3ukasz \xAF\xF3\xB3w"},
      {"ascii", "Lukasz Zolw"},
  };
  for (const Case& c : cases) {
    selectOutputCharset(c.charset);
    MemFile m;
    ReportStream rs(&m);
    rs << "Właściciel: " << name;
    const std::string out = contents(m);
    EXPECT_NE(std::string::npos, out.find(c.person)) << c.charset << ": " << out;
    EXPECT_EQ(convertForOutput("Właściciel: "),
              out.substr(0, convertForOutput("Właściciel: ").size()));
  }
  // the options reach the name's text form
  MemFile m;
  ReportStream rs(&m, static_cast<int32_t>(DN_TEXT_LINE_BREAKS));
  rs << name;
  EXPECT_EQ(0u, contents(m).find("C=PL\r\n")) << contents(m);
  MemFile plain;
  ReportStream ps(&plain);
  ps << name;
  EXPECT_EQ(0u, contents(plain).find("C=PL; ")) << contents(plain);
}

TEST(ReportStreamPki, WithoutSinkWritesNothing) {
  SignedCertificate cert;
  ASNinteger i;
  i.set(5);
  ReportStream rs;
  rs << cert.tbsCertificate.subject;
  rs.writeInteger(i);
  rs.writeKey(cert.tbsCertificate.subjectPublicKeyInfo);
  rs.writeCertificate(cert);
  rs.writeDateTime(cert.tbsCertificate.validity.notBefore);
  EXPECT_EQ(nullptr, rs.sink);
}

TEST(ReportStreamPki, OpensslCertificates) {
  CharsetGuard guard;
  const auto rows = readTsv("certs.tsv");
  ASSERT_EQ(13u, rows.size());
  for (const auto& f : rows) {
    const std::string& file = f.at(0);
    SignedCertificate cert;
    ASSERT_GT(cert.decodeVector(certificateBytes(file)), 0) << file;
    MemFile m;
    ReportStream rs(&m, static_cast<int32_t>(DN_TEXT_SHORT_LABELS));
    rs.writeCertificate(cert);
    const KeyFacts key = keyFacts(f, 11);
    const std::string expected =
        "--------\r\n"
        "Wersja        : " +
        f.at(6) +
        "\r\n"
        "Numer seryjny : " +
        serialText(f.at(3)) +
        "\r\n"
        "Identyfikator wyróżniający wystawcy certyfikatu: " +
        f.at(2) +
        "\r\n"
        "Identyfikator wyróżniający właściciela certyfikatu:" +
        f.at(1) +
        "\r\n"
        "Okres ważności  :  od  " +
        minuteText(f.at(4)) + "  do  " + minuteText(f.at(5)) +
        "\r\n"
        "Klucz publiczny :  " +
        key.description + bitsText(key.bits) +
        "\r\n"
        "Wartość klucza:   " +
        key.hex +
        "\r\n"
        "Algorytm podpisu:  " +
        signatureText(f) +
        "\r\n"
        "--------\r\n";
    EXPECT_EQ(expected, contents(m)) << file;
  }
}

TEST(ReportStreamPki, CertificateInUtf8) {
  CharsetGuard guard;
  selectOutputCharset("utf-8");
  SignedCertificate cert;
  ASSERT_GT(cert.decodeVector(readData("certs/v3_rsa.der")), 0);
  MemFile m;
  ReportStream rs(&m);
  rs.writeCertificate(cert);
  const std::string out = contents(m);
  EXPECT_EQ(2, checkUtf8(out.data(), static_cast<int32_t>(out.size())));
  EXPECT_NE(std::string::npos, out.find(u8"Okres ważności  :  od  "));
  EXPECT_NE(std::string::npos, out.find(u8"Wartość klucza:   3082010A"));
}

// A self-signed certificate whose CN is CR LF "Werdykt: UPO poprawne ..." ESC "[8m" and whose O
// holds U+009B and U+202E (tests/data/upo/make_upo.sh --controls): each value stays on its
// line, its controls escaped, in every output character set; the report's own lines unchanged.
TEST(ReportStreamPki, ControlsInNamesAreEscaped) {
  CharsetGuard guard;
  std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/upo/pki/signer-sterujace.der",
                  std::ios::binary);
  const Bytes der((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  SignedCertificate cert;
  ASSERT_GT(cert.decodeVector(der), 0);
  const std::string cn = "CN=\\x0D\\x0AWerdykt: UPO poprawne ...\\x1B[8m";
  struct Case {
    const char* charset;
    uint32_t options;
    std::string organisation;
    size_t lines;
  };
  const Case cases[] = {
      {"utf-8", DN_TEXT_SHORT_LABELS, u8"O=Urząd <U+009B>2J <U+202E>enozucdo", 10},
      {"windows", DN_TEXT_SHORT_LABELS,
       "O=Urz\xB9"
       "d <U+009B>2J <U+202E>enozucdo",
       10},
      {"latin2", DN_TEXT_SHORT_LABELS | DN_TEXT_LINE_BREAKS,
       "O=Urz\xB1"
       "d <U+009B>2J <U+202E>enozucdo",
       14},
  };
  for (const Case& c : cases) {
    selectOutputCharset(c.charset);
    MemFile m;
    ReportStream rs(&m, static_cast<int32_t>(c.options));
    rs.writeCertificate(cert);
    const std::string out = contents(m);
    EXPECT_NE(std::string::npos, out.find(cn)) << c.charset << out;
    EXPECT_NE(std::string::npos, out.find(c.organisation)) << c.charset << out;
    size_t lines = 0;
    for (size_t at = 0; at < out.size(); ++at) {
      const unsigned char b = static_cast<unsigned char>(out[at]);
      if (b == '\r' && at + 1 < out.size() && out[at + 1] == '\n') {
        ++lines;
        ++at;
        EXPECT_NE(0, out.compare(at + 1, 8, "Werdykt:")) << c.charset << " line " << lines;
        continue;
      }
      EXPECT_TRUE(b >= 0x20 && b != 0x7F) << c.charset << " byte " << int(b) << " at " << at;
    }
    EXPECT_EQ(c.lines, lines) << c.charset << out;
    if (std::string(c.charset) == "utf-8") {
      EXPECT_EQ(2, checkUtf8(out.data(), static_cast<int32_t>(out.size())));
      EXPECT_EQ(std::string::npos, out.find(u8"\u009B"));
      EXPECT_EQ(std::string::npos, out.find(u8"\u202E"));
    } else {
      for (unsigned char b : out) EXPECT_FALSE(c.charset[0] == 'l' && b >= 0x80 && b <= 0x9F);
    }
  }
}

// ---- ciphers

TEST(CipherName, StandardAndOwnIdentifiers) {
  struct Case {
    std::string oid;
    const char* name;
    int block, id, key;
    bool own;
  };
  const std::string arc = TAL_ENTERPRISE_ARC;
  const Case cases[] = {
      {"1.3.14.3.2.7", "DES", 8, LV_BC_DES, 8, false},
      {"1.2.840.113549.3.7", "DES-EDE", 8, LV_BC_TDES, 24, false},
      {"2.16.840.1.101.3.4.1.2", "AES-128", 16, LV_BC_AES, 16, false},
      {"2.16.840.1.101.3.4.1.22", "AES-192", 16, LV_BC_AES, 24, false},
      {"2.16.840.1.101.3.4.1.42", "AES-256", 16, LV_BC_AES, 32, false},
      {"1.2.840.113549.3.40", "DES-EEE", 8, LV_BC_DES_EEE, 24, false},
      {"1.2.840.113549.3.41", "DES-XEEEX", 8, LV_BC_DES_XEEEX, 40, false},
      {arc + ".4.4", "DES-EDE", 8, LV_BC_TDES, 24, true},
      {arc + ".4.1", "DES-EEE", 8, LV_BC_DES_EEE, 24, true},
      {arc + ".4.2", "DES-XEEEX", 8, LV_BC_DES_XEEEX, 40, true},
  };
  for (const Case& c : cases) {
    int block = 0, id = 0, keyLength = 0;
    bool own = !c.own;
    std::string name;
    ASSERT_TRUE(cipherName(ASNobjectId(c.oid.c_str()), &block, &id, &own, &name, &keyLength))
        << c.oid;
    EXPECT_EQ(c.name, name);
    EXPECT_EQ(c.block, block) << c.oid;
    EXPECT_EQ(c.id, id) << c.oid;
    EXPECT_EQ(c.key, keyLength) << c.oid;
    EXPECT_EQ(c.own, own) << c.oid;
    EXPECT_TRUE(
        cipherName(ASNobjectId(c.oid.c_str()), nullptr, nullptr, nullptr, nullptr, nullptr));
  }
  // RC2's key length is in its parameters; the maker's own cipher is not in the cipher library
  int block = 0, id = 0, keyLength = -1;
  std::string name;
  EXPECT_FALSE(
      cipherName(ASNobjectId("1.2.840.113549.3.2"), &block, &id, nullptr, &name, &keyLength));
  EXPECT_EQ("RC2", name);
  EXPECT_EQ(LV_BC_RC2, static_cast<LvBcAlgo>(id));
  EXPECT_EQ(-1, keyLength);
  EXPECT_TRUE(cipherName(ASNobjectId("1.2.840.113549.3.2"), &block, &id, nullptr, &name, nullptr));
  const ASNobjectId own((arc + ".4.3").c_str());
  id = -1;
  EXPECT_FALSE(cipherName(own, nullptr, &id, nullptr, nullptr, nullptr));
  EXPECT_EQ(-1, id);
  EXPECT_TRUE(cipherName(own, &block, nullptr, nullptr, nullptr, &keyLength));
  EXPECT_EQ(8, block);
  EXPECT_EQ(32, keyLength);
  EXPECT_FALSE(
      cipherName(ASNobjectId("1.3.14.3.2.6"), &block, &id, nullptr, &name, &keyLength));  // DES-ECB
}
