// The store of certificates kept by issuer and serial number: its key says
// two issuers are one exactly when the name comparison does (string types
// normalised, an RDN's attributes a multiset, RDNs in order), so that it
// keeps each certificate once and finds it again without comparing names;
// dropping the last ones added leaves nothing of them in the index.
#include "store/crtstore.h"
#include "store/lcrtstore.h"

#include "pki/x509/cert.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes tlv(unsigned char tag, const Bytes& body) {
  Bytes out{tag, static_cast<unsigned char>(body.size())};
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const Bytes CN = {0x06, 0x03, 0x55, 0x04, 0x03}, O = {0x06, 0x03, 0x55, 0x04, 0x0a};
const unsigned char UTF8 = 0x0c, PRINTABLE = 0x13, BMP = 0x1e;

Bytes attribute(const Bytes& type, const std::string& value, unsigned char tag = UTF8) {
  Bytes text;
  for (char c : value) {
    if (tag == BMP) text.push_back(0);
    text.push_back(static_cast<unsigned char>(c));
  }
  return tlv(0x30, cat({type, tlv(tag, text)}));
}

Bytes rdn(std::initializer_list<Bytes> attributes) { return tlv(0x31, cat(attributes)); }
Bytes name(std::initializer_list<Bytes> rdns) { return tlv(0x30, cat(rdns)); }

DistinguishedName decoded(const Bytes& der) {
  DistinguishedName n;
  EXPECT_EQ(static_cast<int>(der.size()), n.decodeVector(der));
  return n;
}

SignedCertificate leaf(const Bytes& issuer, uint32_t serial) {
  std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/store/certs/leafA1.der", std::ios::binary);
  const Bytes der((std::istreambuf_iterator<char>(f)), {});
  SignedCertificate c;
  EXPECT_EQ(static_cast<int>(der.size()), c.decodeVector(der));
  c.tbsCertificate.issuer = decoded(issuer);
  c.tbsCertificate.serialNumber.set(serial);
  return c;
}

TEST(IndexedStore, KeysIssuersAsTheNameComparisonDoes) {
  const struct {
    const char* what;
    Bytes a, b;
    bool same;
  } rows[] = {
      {"the same octets", name({rdn({attribute(CN, "a")})}), name({rdn({attribute(CN, "a")})}), true},
      {"one RDN's attributes in another order", name({rdn({attribute(CN, "a"), attribute(O, "b")})}),
       name({rdn({attribute(O, "b"), attribute(CN, "a")})}), true},
      {"PrintableString and UTF8String", name({rdn({attribute(CN, "a", PRINTABLE)})}),
       name({rdn({attribute(CN, "a")})}), true},
      {"BMPString and UTF8String", name({rdn({attribute(O, "x"), attribute(CN, "ab", BMP)})}),
       name({rdn({attribute(CN, "ab"), attribute(O, "x")})}), true},
      {"in another order, one attribute not normalised (a BIT STRING that does not decode)",
       name({rdn({tlv(0x30, cat({O, tlv(0x03, {0x08})})), attribute(CN, "a")})}),
       name({rdn({attribute(CN, "a"), tlv(0x30, cat({O, tlv(0x03, {0x08})}))})}), true},
      {"another value", name({rdn({attribute(CN, "a")})}), name({rdn({attribute(CN, "b")})}), false},
      {"another type", name({rdn({attribute(CN, "a")})}), name({rdn({attribute(O, "a")})}), false},
      {"one RDN of two against two RDNs", name({rdn({attribute(CN, "a"), attribute(O, "b")})}),
       name({rdn({attribute(CN, "a")}), rdn({attribute(O, "b")})}), false},
      {"RDNs in another order", name({rdn({attribute(CN, "a")}), rdn({attribute(O, "b")})}),
       name({rdn({attribute(O, "b")}), rdn({attribute(CN, "a")})}), false},
      {"an attribute twice against two", name({rdn({attribute(CN, "x"), attribute(CN, "x")})}),
       name({rdn({attribute(CN, "x"), attribute(O, "y")})}), false},
      {"a prefix of the other", name({rdn({attribute(CN, "a")})}),
       name({rdn({attribute(CN, "a")}), rdn({attribute(O, "b")})}), false},
      {"look-alikes differing at the end",
       name({rdn({attribute(CN, "x"), attribute(CN, "x"), attribute(CN, "x"), attribute(CN, "1")})}),
       name({rdn({attribute(CN, "x"), attribute(CN, "x"), attribute(CN, "x"), attribute(CN, "2")})}), false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const DistinguishedName a = decoded(row.a), b = decoded(row.b);
    ASSERT_EQ(row.same, a == b);
    ASNinteger one, two;
    one.set(1);
    two.set(2);
    EXPECT_EQ(row.same, issuerSerialKey(a, one) == issuerSerialKey(b, one));
    EXPECT_NE(issuerSerialKey(a, one), issuerSerialKey(b, two));

    IndexedCertificateStore store;
    EXPECT_TRUE(store.add(leaf(row.a, 1)));
    SignedCertificate found;
    EXPECT_EQ(row.same ? CRTSTORE_FOUND : CRTSTORE_NOT_FOUND, store.findByIssuerSerial(found, b, one));
    EXPECT_FALSE(store.holdsIssuerSerial(b, two));
    // A certificate of an issuer held is not kept twice.
    EXPECT_EQ(!row.same, store.add(leaf(row.b, 1)));
  }
}

TEST(IndexedStore, TruncatingForgetsWhatWasAddedSince) {
  const Bytes a = name({rdn({attribute(CN, "a")})}), b = name({rdn({attribute(CN, "b")})});
  IndexedCertificateStore store;
  ASSERT_TRUE(store.add(leaf(a, 7)));
  ASSERT_TRUE(store.add(leaf(b, 7)));
  store.truncate(1);
  EXPECT_EQ(1, store.list().GetCount());
  ASNinteger seven;
  seven.set(7);
  EXPECT_FALSE(store.holdsIssuerSerial(decoded(b), seven));
  EXPECT_TRUE(store.add(leaf(b, 7)));  // dropped, so it may come again
  EXPECT_FALSE(store.add(leaf(a, 7)));
}

}  // namespace
