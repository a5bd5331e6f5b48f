// The OID registry against openssl's encodings of the dotted values
// (tests/data/pki/gen_oids.sh) and the OID-to-name lookup.
#include "pki/common/oids.h"

#include "crypto/sym/lvdes.h"
#include "pki/fixture_lines.h"
#include "platform/buildconst.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

using pkitest::hex;
using pkitest::unhex;

namespace {

std::map<std::string, const OidRegistryEntry*> registryByName() {
  size_t n = 0;
  const OidRegistryEntry* rows = oidRegistry(&n);
  std::map<std::string, const OidRegistryEntry*> m;
  for (size_t i = 0; i < n; ++i) m[rows[i].name] = &rows[i];
  return m;
}

}  // namespace

TEST(PkiOids, EveryConstantEncodesAsOpensslEncodesItsValue) {
  auto rows = pkitest::readFixture("oids.txt");
  auto byName = registryByName();
  size_t n = 0;
  oidRegistry(&n);
  ASSERT_EQ(n, 360u);
  ASSERT_EQ(rows.size(), 360u);
  ASSERT_EQ(byName.size(), 360u) << "registry names must be unique";
  for (const auto& r : rows) {
    ASSERT_EQ(r.size(), 4u);
    SCOPED_TRACE(r[0]);
    auto it = byName.find(r[0]);
    ASSERT_NE(it, byName.end());
    const ASNobjectId& oid = *it->second->oid;
    std::vector<unsigned char> der;
    ASSERT_GT(oid.encodeVector(der), 0);
    EXPECT_EQ(hex(der), r[2]);
    std::string text;
    ASSERT_TRUE(oid.toString(text, "."));
    EXPECT_EQ(text, r[1]);
    // Where openssl knows no name it prints the dotted text it decoded.
    if (r[3].find_first_not_of("0123456789.") == std::string::npos) {
      EXPECT_EQ(r[3], r[1]);
    }
    // Decoded from openssl's DER, the value compares equal to the constant.
    ASNobjectId decoded;
    ASSERT_GT(decoded.decodeVector(unhex(r[2])), 0);
    EXPECT_TRUE(decoded == oid);
  }
}

TEST(PkiOids, DuplicatesCompareEqualAndTagsDoNotCount) {
  EXPECT_TRUE(pkcs8ShroudedKeyBag == pkcs8ShroudedKeyBag_2);
  EXPECT_TRUE(rsaEncryption == rsaEncryption_2);
  EXPECT_TRUE(id_kp_timeStamping == id_kp_timeStamping_2);
  EXPECT_TRUE(id_ad_ocsp == id_ad_ocsp_2);
  EXPECT_TRUE(id_bc64_tdea == id_bc64_tdea_2 && id_bc64_tdea == id_bc64_tdea_3);
  EXPECT_FALSE(id_ad_ocsp == id_pkix_ocsp_basic);
  // [0] IMPLICIT OBJECT IDENTIFIER holding SHA-1's arcs.
  const unsigned char tagged[] = {0x80, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A};
  ASNobjectId decoded(0x80);
  ASSERT_EQ(decoded.decodeBuffer(tagged, sizeof tagged), 7);
  EXPECT_TRUE(decoded == id_sha1);
}

TEST(PkiOids, NameLookupGivesStandardNamesElseDottedText) {
  struct Case {
    const char* dotted;
    const char* text;
    bool named;
  } cases[] = {
      {"1.3.14.3.2.26", "id-sha1", true},
      {"1.2.840.113549.1.1.1", "rsaEncryption", true},              // first of two constants
      {"1.2.840.113549.1.12.10.1.2", "pkcs8ShroudedKeyBag", true},  // first of two constants
      {"1.0.18033.3.1.1", "id-bc64-tdea", true},                    // first of three
      {"1.3.6.1.5.5.7.3.8", "id-kp-timeStamping", true},
      {"2.5.29.19", "id-ce-basicConstraints", true},
      {"1.3.36.3.3.2.8.1.1.7", "brainpoolP256r1", true},
      {"2.0.2", "2.0.2", false},  // oid- constant: no standard name
      {"1.2.840.113549.3.40", "1.2.840.113549.3.40", false},
      {TAL_ENTERPRISE_ARC ".2.5.1", TAL_ENTERPRISE_ARC ".2.5.1", false},
      {TAL_PL_ORG_OID1, TAL_PL_ORG_OID1, false},
      {"1.2.3.4.5", "1.2.3.4.5", false},      // not in the registry
      {"2.5.29", "2.5.29", false},            // a prefix of registry values
      {"2.5.29.19.0", "2.5.29.19.0", false},  // an extension of one
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dotted);
    ASNobjectId oid(c.dotted);
    std::string text;
    ASSERT_TRUE(oidToText(oid, text));
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(oidName(oid) != nullptr, c.named);
  }
  ASNobjectId empty;
  std::string text = "x";
  EXPECT_FALSE(oidToText(empty, text));
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(oidName(empty), nullptr);
  // Content that is no OID (unterminated last arc): no name, no text.
  const unsigned char bad[] = {0x06, 0x02, 0x2A, 0x86};
  ASNobjectId broken;
  if (broken.decodeBuffer(bad, sizeof bad) > 0) {
    EXPECT_EQ(oidName(broken), nullptr);
    EXPECT_FALSE(oidToText(broken, text));
  }
}

TEST(PkiOids, EveryStandardNameLooksUpToItsFirstConstant) {
  size_t n = 0;
  const OidRegistryEntry* rows = oidRegistry(&n);
  for (size_t i = 0; i < n; ++i) {
    SCOPED_TRACE(rows[i].name);
    const char* name = oidName(*rows[i].oid);
    if (!rows[i].standard) {
      // A value without a standard name anywhere in the registry.
      bool other = false;
      for (size_t k = 0; k < n; ++k) other |= rows[k].standard && *rows[k].oid == *rows[i].oid;
      EXPECT_EQ(name != nullptr, other);
      continue;
    }
    ASSERT_NE(name, nullptr);
    size_t first = 0;
    while (!(rows[first].standard && *rows[first].oid == *rows[i].oid)) ++first;
    EXPECT_STREQ(name, rows[first].name);
  }
}

TEST(PkiOids, CipherLayerUsesTheSameEnterpriseArc) {
  // The DES-EEE and DES-XEEEX identifiers of the cipher layer are the
  // registry's privateOid-4-1 and privateOid-4-2.
  LvDesEee eee;
  LvDesXeeex xeeex;
  struct Case {
    const LvOctet* der;
    const ASNobjectId* oid;
  } cases[] = {{eee.getDerOid(), &privateOid_4_1}, {xeeex.getDerOid(), &privateOid_4_2}};
  for (const auto& c : cases) {
    std::vector<unsigned char> der;
    ASSERT_GT(c.oid->encodeVector(der), 0);
    ASSERT_NE(c.der, nullptr);
    ASSERT_EQ(size_t(c.der[1]) + 2, der.size());
    EXPECT_EQ(0, std::memcmp(c.der, der.data(), der.size()));
  }
}
