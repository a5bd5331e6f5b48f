// Extension, InfoTypeAndValue and the Diffie-Hellman parameter structures
// against what openssl writes (tests/data/pki/gen_algs.sh), and the
// key-algorithm kinds.
#include "pki/keys/dhparams.h"
#include "pki/common/extension.h"

#include "pki/fixture_lines.h"
#include "pki/common/oids.h"

#include <gtest/gtest.h>

#include <cstring>

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

}  // namespace

TEST(PkiExtension, OpensslCertificateExtensions) {
  Extensions list;
  int seen = 0;
  for (const auto& r : fixture()) {
    if (r[0] != "ext") continue;
    ++seen;
    SCOPED_TRACE(r[1]);
    auto* e = new Extension();
    ASSERT_GT(e->decodeVector(unhex(r[2])), 0);
    EXPECT_EQ(e->critical.get(), r[3] == "1");
    EXPECT_EQ(encode(*e), r[2]);
    Extension copy;
    copy = *e;
    EXPECT_EQ(encode(copy), r[2]);
    ASSERT_EQ(list.append(e), 1);
  }
  EXPECT_EQ(seen, 3);
  const Extension* bc = findExtensionByOidText(list, "2.5.29.19");
  ASSERT_NE(bc, nullptr);
  EXPECT_TRUE(bc->extnID == id_ce_basicConstraints);
  EXPECT_EQ(findExtensionByOid(list, id_ce_subjectKeyIdentifier)->critical.get(), false);
  EXPECT_EQ(findExtensionByOid(list, id_ce_keyUsage), nullptr);
  for (const char* text : {static_cast<const char*>("not an oid"), "2,5,29,19", "", "2.5.29.19.",
                           "2 5 29 19", static_cast<const char*>(nullptr)})
    EXPECT_EQ(findExtensionByOidText(list, text), nullptr) << (text ? text : "null");
}

TEST(PkiExtension, BuiltFromPartsAndDecodedAgain) {
  int seen = 0;
  for (const auto& r : fixture()) {
    if (r[0] != "ext") continue;
    ++seen;
    SCOPED_TRACE(r[1]);
    const auto der = unhex(r[2]);
    Extension read;
    ASSERT_GT(read.decodeVector(der), 0);
    // A new extension is not critical until it is made so.
    Extension built;
    EXPECT_FALSE(built.critical.get());
    built.extnID = read.extnID;
    built.extnValue = read.extnValue;
    if (r[3] == "1") built.critical.set(true);
    EXPECT_EQ(encode(built), r[2]);
    // Read in place, then read again (or cleared): the critical flag
    // of the first reading must not stand in the way.
    for (bool clearFirst : {false, true}) {
      Extension view;
      ASSERT_EQ(view.decodeBuffer(der.data(), static_cast<int>(der.size()), ASN_FLAG_CONST),
                static_cast<int>(der.size()));
      if (clearFirst) {
        view.clear();
        EXPECT_FALSE(view.critical.get());
      }
      ASSERT_EQ(view.decodeVector(der), static_cast<int>(der.size()));
      EXPECT_EQ(view.critical.get(), r[3] == "1");
      EXPECT_EQ(encode(view), r[2]);
    }
  }
  EXPECT_EQ(seen, 3);
}

TEST(PkiExtension, PolicyIdAndNote) {
  struct Case {
    const char* label;
    const char* policy;  // null: does not decode
    const char* note;
  } cases[] = {
      {"policy-note", "2.5.29.32.0", "uwaga"},    {"policy-note-empty", "1.2.616.1.2.3", ""},
      {"policy-oid-only", nullptr, nullptr},      {"policy-note-swapped", nullptr, nullptr},
      {"policy-note-trailing", nullptr, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    auto der = derOf("der", c.label);
    PolicyIdAndNote v;
    EXPECT_EQ(v.getTag(), 0x30);
    int r = v.decodeVector(der);
    if (!c.policy) {
      EXPECT_LE(r, 0);
      continue;
    }
    ASSERT_EQ(r, static_cast<int>(der.size()));
    EXPECT_TRUE(v.policyId.equalsText(c.policy));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(v.note.data() ? v.note.data() : der.data()),
                          static_cast<size_t>(v.note.length)),
              c.note);
    EXPECT_EQ(encode(v), hex(der));
    // Built from its parts, it is what openssl wrote.
    PolicyIdAndNote built;
    ASSERT_EQ(built.policyId.set(c.policy), 1);
    ASSERT_EQ(built.note.set(reinterpret_cast<const unsigned char*>(c.note),
                             static_cast<int>(strlen(c.note))),
              1);
    EXPECT_EQ(encode(built), hex(der));
    PolicyIdAndNote copy(v);
    EXPECT_EQ(encode(copy), hex(der));
  }
}

TEST(PkiExtension, CriticalAndValueAreChosenByTag) {
  // An explicit FALSE is read and dropped, as DER wants.
  Extension e;
  ASSERT_GT(e.decodeVector(derOf("der", "ext-explicit-false")), 0);
  EXPECT_FALSE(e.critical.get());
  EXPECT_EQ(encode(e), "30090603551d1304023000");
  // A context-tagged value is no OCTET STRING.
  Extension c;
  EXPECT_LE(c.decodeVector(derOf("der", "ext-context-value")), 0);
  // Without a value, or with a BOOLEAN only, nothing decodes.
  const std::vector<std::vector<unsigned char>> bad = {
      {0x30, 0x05, 0x06, 0x03, 0x55, 0x1D, 0x13},
      {0x30, 0x08, 0x06, 0x03, 0x55, 0x1D, 0x13, 0x01, 0x01, 0xFF},
      {0x30, 0x0B, 0x06, 0x03, 0x55, 0x1D, 0x13, 0x01, 0x01, 0xFF, 0x01, 0x01, 0xFF},
  };
  for (const auto& der : bad) EXPECT_LE(Extension().decodeVector(der), 0) << hex(der);
}

TEST(PkiExtension, InfoTypeAndValue) {
  struct Case {
    const char* label;
    unsigned char present;
  } cases[] = {{"itav-oid-only", 0}, {"itav-value", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    auto der = derOf("der", c.label);
    InfoTypeAndValue v;
    ASSERT_GT(v.decodeVector(der), 0);
    EXPECT_EQ(v.infoValuePresent, c.present);
    EXPECT_EQ(encode(v), hex(der));
    InfoTypeAndValue copy(v);
    EXPECT_EQ(encode(copy), hex(der));
  }
}

TEST(PkiDh, ParametersOfOpenssl) {
  struct Case {
    const char* kind;
    const char* label;
    int decodes;
    unsigned char optional1;  // privateValueLength, or j
    unsigned char optional2;  // validationParms
  } cases[] = {
      {"dh3", "safe-prime-512", 1, 0, 0},     {"der", "dh3-privlen", 1, 1, 0},
      {"dhx", "rfc5114-2", 1, 0, 0},          {"dhx", "dsaparam-512", 1, 0, 0},
      {"der", "dhx-valid-no-j", 1, 0, 1},     {"der", "dhx-j-and-valid", 1, 1, 1},
      {"der", "dhx-valid-before-j", 0, 0, 0}, {"der", "dhx-context-j", 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    auto der = derOf(c.kind, c.label);
    const bool pkcs3 = std::string(c.kind) == "dh3" || std::string(c.label) == "dh3-privlen";
    if (pkcs3) {
      Pkcs3DHParameter p;
      ASSERT_GT(p.decodeVector(der), 0);
      EXPECT_EQ(p.privateValueLengthPresent, c.optional1);
      EXPECT_EQ(encode(p), hex(der));
      if (c.optional1) {
        EXPECT_EQ(p.privateValueLength.toLong(), 160u);
      }
      // Without a third INTEGER it is not X9.42: q is missing.
      if (!c.optional1) {
        EXPECT_LE(X942DomainParameters().decodeVector(der), 0);
      }
      continue;
    }
    X942DomainParameters x;
    int r = x.decodeVector(der);
    if (!c.decodes) {
      EXPECT_LE(r, 0);
      continue;
    }
    ASSERT_GT(r, 0);
    EXPECT_EQ(x.jPresent, c.optional1);
    EXPECT_EQ(x.validationParmsPresent, c.optional2);
    EXPECT_EQ(encode(x), hex(der));
    if (c.optional2) {
      EXPECT_EQ(x.validationParms.pgenCounter.toLong(), 7u);
    }
  }
  // A PKCS#3 parameter with a fourth element does not decode.
  auto der = derOf("der", "dh3-privlen");
  der.insert(der.end(), {0x02, 0x01, 0x01});
  der[1] = static_cast<unsigned char>(der[1] + 3);
  EXPECT_LE(Pkcs3DHParameter().decodeVector(der), 0);
}

TEST(PkiDh, KeyAlgorithmKinds) {
  struct Case {
    const char* oid;
    int kind;
    bool ec;
  } cases[] = {
      {"1.2.840.113549.1.1.10", 4, false},
      {"1.2.840.113549.1.1.7", 5, false},
      {"1.2.840.113549.1.1.1", 1, false},
      {"2.5.8.1.1", 1, false},
      {"1.2.840.10040.4.1", 2, false},
      {"1.2.840.10045.2.1", 3, true},
      {"1.2.840.113549.1.3.1", 101, false},
      {"1.2.840.10046.2.1", 102, false},
      {"1.3.132.1.12", 51, true},
      {"1.3.132.1.13", 52, true},
      {"2.16.840.1.101.2.1.1.22", 201, false},
      {"1.2.643.2.2.19", 203, false},
      {"1.2.643.2.2.20", 202, false},
      {"1.2.840.10045.2.2", 0, false},
      {"1.2.840.113549.1.1.5", 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.oid);
    ASNobjectId oid(c.oid);
    EXPECT_EQ(keyAlgorithmKind(oid), c.kind);
    EXPECT_EQ(isEcKeyAlgorithm(oid), c.ec);
  }
  EXPECT_EQ(keyAlgorithmKind(ASNobjectId()), 0);
}
