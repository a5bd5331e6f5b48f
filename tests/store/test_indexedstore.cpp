// The store of certificates kept by issuer and serial number: its key says
// two issuers are one exactly when the name comparison does (string types
// normalised, an RDN's attributes a multiset, RDNs in order), so that it
// keeps each certificate once and finds it again without comparing names;
// dropping the last ones added leaves nothing of them in the index.
#include "store/crtstore.h"
#include "store/lcrtstore.h"

#include "base/workaccount.h"
#include "pki/x509/cert.h"
#include "pki/x509/x509ext.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
constexpr IndexedCertificateStore::Added ADDED = IndexedCertificateStore::ADDED,
                                         HELD = IndexedCertificateStore::HELD;

Bytes tlv(unsigned char tag, const Bytes& body) {
  Bytes out{tag};
  Bytes length;
  for (size_t n = body.size(); n; n >>= 8) length.insert(length.begin(), static_cast<unsigned char>(n));
  if (body.size() >= 0x80) out.push_back(static_cast<unsigned char>(0x80 | length.size()));
  if (body.size() < 0x80) length = {static_cast<unsigned char>(body.size())};
  out.insert(out.end(), length.begin(), length.end());
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

// A BIT STRING that does not read (eight unused bits of nothing): its RDN's
// normalising stops there, and the name's with it.
const Bytes UNREAD = tlv(0x30, cat({O, tlv(0x03, {0x08})}));

// A name of one RDN of `count` attributes "v0".. alternately CN and O, in the
// order given by `stride` (1: as numbered; else a fixed walk through them),
// the attribute `unreadAt` (none: -1) being UNREAD and `changed` another value.
Bytes manyValued(int count, unsigned char tag = UTF8, size_t stride = 1, int unreadAt = -1,
                 int changed = -1, const std::string& value = "") {
  std::vector<Bytes> attributes;
  for (int i = 0; i < count; ++i)
    attributes.push_back(i == unreadAt ? UNREAD
                                       : attribute(i % 2 ? O : CN, i == changed ? value : "v" + std::to_string(i), tag));
  Bytes set;
  const size_t n = attributes.size();
  for (size_t i = 0; i < n; ++i) {
    const Bytes& a = attributes[stride == 1 ? i : (i * stride + 13) % n];
    set.insert(set.end(), a.begin(), a.end());
  }
  return tlv(0x30, tlv(0x31, set));
}

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
       name({rdn({UNREAD, attribute(CN, "a")})}), name({rdn({attribute(CN, "a"), UNREAD})}), true},
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
      // The comparison's own cases: many-valued RDNs as multisets across string types.
      {"shuffled", manyValued(9), manyValued(9, UTF8, 7919), true},
      {"Printable against UTF8, shuffled", manyValued(9, PRINTABLE), manyValued(9, UTF8, 7919), true},
      {"BMP against Printable, shuffled", manyValued(9, BMP, 7919), manyValued(9, PRINTABLE), true},
      {"letter case", manyValued(9, UTF8, 7919), manyValued(9, UTF8, 1, -1, 4, "V4"), false},
      {"trailing space", manyValued(9), manyValued(9, UTF8, 7919, -1, 4, "v4 "), false},
      {"a repeated attribute for another", manyValued(9, UTF8, 7919, -1, 4, "v2"), manyValued(9), false},
      {"one fewer", manyValued(9), manyValued(8), false},
      {"500 attributes, shuffled", manyValued(500), manyValued(500, UTF8, 7919), true},
      {"500, the last differing", manyValued(500, UTF8, 7919), manyValued(500, UTF8, 1, -1, 499, "other"), false},
      {"4,000, Printable against UTF8", manyValued(4000, PRINTABLE), manyValued(4000, UTF8, 7919), true},
      {"4,000 after one that does not normalise, shuffled", manyValued(4000, UTF8, 1, 0),
       manyValued(4000, UTF8, 7919, 0), true},
      // Normalising stops at the attribute that does not read: what follows keeps its string type.
      {"Printable before and after one that does not normalise",
       name({rdn({UNREAD, attribute(CN, "a", PRINTABLE)})}), name({rdn({attribute(CN, "a", PRINTABLE), UNREAD})}),
       false},
      {"an RDN after one that does not normalise, Printable against UTF8",
       name({rdn({UNREAD}), rdn({attribute(CN, "a", PRINTABLE)})}), name({rdn({UNREAD}), rdn({attribute(CN, "a")})}),
       false},
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
    EXPECT_EQ(ADDED, store.add(leaf(row.a, 1)));
    SignedCertificate found;
    EXPECT_EQ(row.same ? CRTSTORE_FOUND : CRTSTORE_NOT_FOUND, store.findByIssuerSerial(found, b, one));
    EXPECT_FALSE(store.holdsIssuerSerial(b, two));
    // A certificate of an issuer held is not kept twice.
    EXPECT_EQ(row.same ? HELD : ADDED, store.add(leaf(row.b, 1)));
  }
}

TEST(IndexedStore, TruncatingForgetsWhatWasAddedSince) {
  const Bytes a = name({rdn({attribute(CN, "a")})}), b = name({rdn({attribute(CN, "b")})});
  IndexedCertificateStore store;
  ASSERT_EQ(ADDED, store.add(leaf(a, 7)));
  ASSERT_EQ(ADDED, store.add(leaf(b, 7)));
  store.truncate(1);
  EXPECT_EQ(1, store.size());
  ASNinteger seven;
  seven.set(7);
  EXPECT_FALSE(store.holdsIssuerSerial(decoded(b), seven));
  EXPECT_EQ(ADDED, store.add(leaf(b, 7)));  // dropped, so it may come again
  EXPECT_EQ(HELD, store.add(leaf(a, 7)));
}

// A certificate counts as learned earlier until an add of the current batch
// brings that very encoding again; a look-alike of its issuer and serial
// number brings nothing.
TEST(IndexedStore, TellsWhatOnlyEarlierBatchesBrought) {
  const Bytes a = name({rdn({attribute(CN, "a")})});
  SignedCertificate kept = leaf(a, 7), other = leaf(a, 7);
  other.tbsCertificate.subject = decoded(name({rdn({attribute(CN, "other")})}));
  IndexedCertificateStore store;
  store.beginBatch();
  ASSERT_EQ(ADDED, store.add(kept));
  EXPECT_FALSE(store.fromEarlierBatch(kept));
  store.beginBatch();
  EXPECT_TRUE(store.fromEarlierBatch(kept));
  EXPECT_FALSE(store.fromEarlierBatch(other));
  EXPECT_EQ(HELD, store.add(other));
  EXPECT_TRUE(store.fromEarlierBatch(kept));
  EXPECT_EQ(HELD, store.add(kept));
  EXPECT_FALSE(store.fromEarlierBatch(kept));
  store.beginBatch();
  EXPECT_TRUE(store.fromEarlierBatch(kept));
}

// Once the document's account is over every name compares different, and a
// look-up finds nothing, as the stores that compare names answer; until then
// each look-up pays for its key.
TEST(IndexedStore, FindsNothingOnceTheAccountIsOver) {
  const Bytes a = name({rdn({attribute(CN, "a")})});
  IndexedCertificateStore store;
  ASSERT_EQ(ADDED, store.add(leaf(a, 3)));
  const DistinguishedName issuer = decoded(a);
  ASNinteger three;
  three.set(3);
  WorkAccount account(1000, std::chrono::hours(1));
  WorkAccountScope scope(&account);
  SignedCertificate found;
  EXPECT_EQ(CRTSTORE_FOUND, store.findByIssuerSerial(found, issuer, three));
  EXPECT_TRUE(store.holdsIssuerSerial(issuer, three));
  EXPECT_GT(account.spentUnits(), 0u);
  workCharge(1000);
  ASSERT_TRUE(account.over());
  EXPECT_FALSE(issuer == issuer);
  EXPECT_EQ(CRTSTORE_NOT_FOUND, store.findByIssuerSerial(found, issuer, three));
  EXPECT_FALSE(store.holdsIssuerSerial(issuer, three));
}

}  // namespace

namespace {

// A batch adds at most its count and octets, the store holds at most its own; past a bound a
// certificate is refused and nothing held goes; a batch begins anew, and dropping certificates
// (a refused document's) gives their room back.
TEST(IndexedStore, BoundsRefuseWhatIsPastThemAndKeepWhatIsHeld) {
  // Names of one length: every certificate of one size.
  auto cert = [](int n) { return leaf(name({rdn({attribute(CN, std::to_string(100 + n))})}), 1); };
  const uint64_t size = IndexedCertificateStore::heldSize(cert(0));
  const struct {
    const char* what;
    IndexedCertificateStore::Bounds bounds;
    int addedFirstBatch, addedSecondBatch;
  } rows[] = {
      {"batch count", {10, UINT64_MAX, 2, UINT64_MAX}, 2, 2},
      {"batch octets", {10, UINT64_MAX, 10, 2 * size + size / 2}, 2, 2},
      {"store count", {3, UINT64_MAX, 10, UINT64_MAX}, 3, 0},
      {"store octets", {10, 3 * size, 10, UINT64_MAX}, 3, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    IndexedCertificateStore store(row.bounds);
    int n = 0, added = 0;
    for (int i = 0; i < 4; ++i) added += store.add(cert(n++)) == IndexedCertificateStore::ADDED;
    EXPECT_EQ(row.addedFirstBatch, added);
    EXPECT_EQ(row.addedFirstBatch, store.size());
    store.beginBatch();
    added = 0;
    for (int i = 0; i < 4; ++i) added += store.add(cert(n++)) == IndexedCertificateStore::ADDED;
    EXPECT_EQ(row.addedSecondBatch, added);
    // The bounds come first: past them even a certificate held costs no look-up.
    EXPECT_EQ(IndexedCertificateStore::REFUSED, store.add(cert(0)));
    const int held = store.size();
    store.truncate(held - 1);
    EXPECT_EQ(IndexedCertificateStore::HELD, store.add(cert(0)));
    EXPECT_EQ(IndexedCertificateStore::ADDED, store.add(cert(n)));
    EXPECT_EQ(held, store.size());
    EXPECT_EQ(static_cast<uint64_t>(held) * size, store.octets());
  }
  // A name of many attributes counts what its decoded attributes hold, not its few octets: a
  // store of 64 KiB refuses an issuer of 1,000 attributes (some 12 KiB of DER), takes one of 100.
  IndexedCertificateStore store({10, 64u << 10, 10, UINT64_MAX});
  const SignedCertificate many = leaf(manyValued(1000), 1), fewer = leaf(manyValued(100), 2);
  EXPECT_LT(static_cast<uint64_t>(many.contentLength()), 64u << 10);
  EXPECT_GE(IndexedCertificateStore::heldSize(many), 1000 * IndexedCertificateStore::HELD_PER_NAME_ATTRIBUTE);
  EXPECT_EQ(IndexedCertificateStore::REFUSED, store.add(many));
  EXPECT_EQ(IndexedCertificateStore::ADDED, store.add(fewer));
}

}  // namespace

namespace {

// A certificate of `file`'s key, named `subject` by `issuer` with `serial`, whose only extension
// is a subjectKeyIdentifier of `ski` (none: nullptr).
SignedCertificate issuerCandidate(const char* file, const Bytes& subject, const Bytes& issuer,
                                  uint32_t serial, const Bytes* ski) {
  std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/store/certs/" + file, std::ios::binary);
  const Bytes der((std::istreambuf_iterator<char>(f)), {});
  SignedCertificate c;
  EXPECT_EQ(static_cast<int>(der.size()), c.decodeVector(der));
  c.tbsCertificate.subject = decoded(subject);
  c.tbsCertificate.issuer = decoded(issuer);
  c.tbsCertificate.serialNumber.set(serial);
  c.tbsCertificate.extensions->clear();
  if (ski) {
    const Bytes extension = tlv(0x30, cat({tlv(0x06, {0x55, 0x1d, 0x0e}), tlv(0x04, tlv(0x04, *ski))}));
    const Bytes extensions = tlv(0x30, extension);
    EXPECT_EQ(static_cast<int>(extensions.size()), c.tbsCertificate.extensions->decodeVector(extensions));
  }
  return c;
}

Bytes keyIdOf(const SignedCertificate& c) {
  unsigned char sha1[20];
  EXPECT_TRUE(c.tbsCertificate.subjectPublicKeyInfo.keyIdentifier(sha1));
  return Bytes(sha1, sha1 + 20);
}

// The 8-octet form: the last 64 bits of the SHA-1, its first four bits 0100.
Bytes shortKeyIdOf(const SignedCertificate& c) {
  Bytes id = keyIdOf(c);
  id.erase(id.begin(), id.begin() + 12);
  id[0] = static_cast<unsigned char>((id[0] & 0x0F) | 0x40);
  return id;
}

// The indexed look-up of issuer candidates answers as the walk over every certificate held
// does (matchesKeyIdentifier on each of the name): the same certificates in the same order, for
// every form an authority key identifier names its issuer by, the others of the name apart, at
// most the room asked for; what a truncation drops leaves none of the indexes.
TEST(IndexedStore, FindsIssuersAsTheWalkOverEveryCertificateDoes) {
  const Bytes subject = name({rdn({attribute(O, "Urząd"), attribute(CN, "Pośredni")})});
  const Bytes samePrintable = name({rdn({attribute(CN, "Posredni", PRINTABLE)})});
  const Bytes other = name({rdn({attribute(CN, "Inny")})});
  const Bytes root = name({rdn({attribute(CN, "Root")})});
  const Bytes k1 = {1, 2, 3, 4}, k2 = {9, 9}, empty = {};
  std::vector<SignedCertificate> certs;
  certs.push_back(issuerCandidate("caA.der", subject, root, 1, &k1));      // 0: named by k1
  certs.push_back(issuerCandidate("caB.der", subject, root, 2, nullptr));  // 1: by its key's SHA-1
  certs.push_back(issuerCandidate("leafA1.der", subject, root, 5, &k2));   // 2: by root and 5
  certs.push_back(issuerCandidate("caA.der", other, root, 6, &k1));        // 3: another name
  certs.push_back(issuerCandidate("leafB1.der", subject, other, 5, &k1));  // 4: k1 again, cross
  certs.push_back(issuerCandidate("leafA2.der", subject, root, 7, &empty)); // 5: an empty one
  certs.push_back(issuerCandidate("caB.der", name({rdn({attribute(CN, "Posredni")})}), root, 8,
                                  nullptr));  // 6: equal to samePrintable, caB's key
  const Bytes sha1 = keyIdOf(certs[1]), guid = shortKeyIdOf(certs[1]);
  const Bytes rootAndFive = cat({tlv(0xA1, tlv(0xA4, root)), tlv(0x82, {5})});
  const struct {
    const char* what;
    const Bytes* name;
    Bytes akid;  // empty: none
    size_t matching;  // of all seven, those MATCHING takes
  } rows[] = {
      {"no identifier", &subject, {}, 5},
      {"a subjectKeyIdentifier", &subject, tlv(0x30, tlv(0x80, k1)), 2},
      {"the SHA-1 of a key", &subject, tlv(0x30, tlv(0x80, sha1)), 1},
      {"the 8-octet form", &subject, tlv(0x30, tlv(0x80, guid)), 1},
      {"issuer and serial only", &subject, tlv(0x30, rootAndFive), 1},
      {"issuer and serial, and an identifier of another", &subject,
       tlv(0x30, cat({tlv(0x80, k1), rootAndFive})), 3},
      {"an empty identifier", &subject, tlv(0x30, tlv(0x80, empty)), 1},
      {"an identifier of none", &subject, tlv(0x30, tlv(0x80, {7, 7, 7})), 0},
      {"a name equal after normalising", &samePrintable, tlv(0x30, tlv(0x80, sha1)), 1},
  };
  for (int kept : {7, 3}) {
    IndexedCertificateStore indexed;
    LCertificateStore walked;
    for (const SignedCertificate& c : certs) ASSERT_EQ(ADDED, indexed.add(c));
    indexed.truncate(kept);
    for (int i = 0; i < kept; ++i) ASSERT_TRUE(walked.addCertificate(&certs[static_cast<size_t>(i)]));
    for (const auto& row : rows) {
      SCOPED_TRACE(std::string(row.what) + ", kept " + std::to_string(kept));
      AuthorityKeyIdentifier akid;
      if (!row.akid.empty()) ASSERT_EQ(static_cast<int>(row.akid.size()), akid.decodeVector(row.akid));
      const AuthorityKeyIdentifier* named = row.akid.empty() ? nullptr : &akid;
      const DistinguishedName wanted = decoded(*row.name);
      for (CertificateStore::IssuerChoice choice : {CertificateStore::MATCHING, CertificateStore::OTHERS})
        for (size_t room : {size_t(1), size_t(2), SIZE_MAX}) {
          SharedCertificateList fromIndex, fromWalk;
          const int r = indexed.findIssuers(fromIndex, wanted, named, choice, room);
          EXPECT_EQ(walked.findIssuers(fromWalk, wanted, named, choice, room), r);
          EXPECT_EQ(fromWalk.empty() ? CRTSTORE_NOT_FOUND : CRTSTORE_FOUND, r);
          ASSERT_EQ(fromWalk.size(), fromIndex.size()) << choice << " " << room;
          for (size_t i = 0; i < fromWalk.size(); ++i) EXPECT_TRUE(fromWalk[i].get() == fromIndex[i].get());
          if (kept == 7 && choice == CertificateStore::MATCHING && room == SIZE_MAX)
            EXPECT_EQ(row.matching, fromIndex.size());
        }
    }
  }
}

}  // namespace

namespace {

// A body some holder keeps read-only (a signature's KeyInfo) is taken as it is, one decoded copy
// for both; one that may still change is copied, so the store never sees it change.
TEST(IndexedStore, SharesReadOnlyBodiesAndCopiesOthers) {
  const Bytes a = name({rdn({attribute(CN, "a")})});
  SharedCertificate keyInfo;
  keyInfo.adopt(std::unique_ptr<SignedCertificate>(new SignedCertificate(leaf(a, 1))));
  SignedCertificate editable = leaf(a, 2);
  IndexedCertificateStore store;
  ASSERT_EQ(ADDED, store.add(keyInfo.get()));
  ASSERT_EQ(ADDED, store.add(editable));
  EXPECT_TRUE(store.list()[0].sharesBodyWith(keyInfo));
  EXPECT_NE(&editable, &store.list()[1].get());
  editable.tbsCertificate.serialNumber.set(3);
  ASNinteger two;
  two.set(2);
  EXPECT_TRUE(store.holdsIssuerSerial(decoded(a), two));
  EXPECT_TRUE(store.list()[1].get().tbsCertificate.serialNumber.equals(two));
}

}  // namespace
