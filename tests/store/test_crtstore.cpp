// Certificate stores and matchers against OpenSSL's reading of the same
// certificates (tests/data/store/certs: made by gen_certs.sh with openssl,
// and third-party ones from python3-cryptography-vectors). Every lookup must
// find exactly the certificates that openssl's subject, issuer, serial, key
// identifier, key usage and e-mail texts say it should.
#include "store/crtstore.h"
#include "store/dnutils.h"
#include "store/lcrtstore.h"

#include "pki/common/oids.h"
#include "pki/names/dname.h"
#include "pki/ocsp/ocspresp.h"
#include "pki/x509/cert.h"
#include "pki/x509/crl.h"

#include "pki/certtest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

std::string dataPath(const std::string& name) {
  return std::string(TAL_TEST_DATA_DIR) + "/store/certs/" + name;
}

Bytes readFile(const std::string& name) {
  std::ifstream f(dataPath(name), std::ios::binary);
  EXPECT_TRUE(f.good()) << name;
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

Bytes hexBytes(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string part;
  std::istringstream in(s);
  while (std::getline(in, part, sep)) out.push_back(part);
  if (!s.empty() && s.back() == sep) out.push_back("");
  return out;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

struct Entry {
  std::string file, subject, issuer, serial, ski, aki;
  bool encipherment = false;
  std::vector<std::string> subjectEmails, sanEmails;
  std::string keyHash;
  std::unique_ptr<SignedCertificate> cert;
};

class Stores : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::ifstream manifest(dataPath("manifest.txt"));
    std::string line;
    while (std::getline(manifest, line)) {
      std::vector<std::string> f = split(line, '|');
      ASSERT_EQ(10u, f.size()) << line;
      auto e = std::make_unique<Entry>();
      e->file = f[0];
      e->subject = f[1];
      e->issuer = f[2];
      e->serial = f[3];
      e->ski = f[4];
      e->aki = f[5];
      e->encipherment = f[6] == "1";
      if (!f[7].empty()) e->subjectEmails = split(f[7], ',');
      if (!f[8].empty()) e->sanEmails = split(f[8], ',');
      e->keyHash = f[9];
      e->cert = std::make_unique<SignedCertificate>();
      Bytes der = readFile(e->file);
      ASSERT_EQ(static_cast<int>(der.size()), e->cert->decodeVector(der)) << e->file;
      entries().push_back(std::move(e));
    }
    ASSERT_GE(entries().size(), 20u);
    for (auto& e : entries()) {
      ASSERT_TRUE(pointerStore().addCertificate(e->cert.get()));
      auto copy = std::make_unique<SignedCertificate>(*e->cert);
      ASSERT_EQ(1, list().append(copy.release()));
      ASSERT_EQ(IndexedCertificateStore::ADDED, indexedStore().add(*e->cert));
    }
  }
  static std::vector<std::unique_ptr<Entry>>& entries() {
    static std::vector<std::unique_ptr<Entry>> e;
    return e;
  }
  static LCertificateStore& pointerStore() {
    static LCertificateStore s;
    return s;
  }
  static CertificateList& list() {
    static CertificateList l;
    return l;
  }
  static IndexedCertificateStore& indexedStore() {
    static IndexedCertificateStore s;
    return s;
  }
  // Every store kind, over the same certificates in the same order.
  static std::vector<const CertificateStore*> stores() {
    static ListCertificateStore view(&list());
    return {&pointerStore(), &view, &indexedStore()};
  }
  // The manifest files of the certificates a lookup returned.
  static std::set<std::string> filesOf(const CertificateList& found) {
    std::set<std::string> out;
    for (POSITION pos = found.GetHeadPosition(); pos;) {
      const SignedCertificate* c = found.GetNext(pos);
      for (auto& e : entries())
        if (*e->cert == *c) out.insert(e->file);
    }
    return out;
  }
  template <class Pred>
  static std::set<std::string> expected(Pred pred) {
    std::set<std::string> out;
    for (auto& e : entries())
      if (pred(*e)) out.insert(e->file);
    return out;
  }
  static int code(const std::set<std::string>& s) {
    return s.empty() ? CRTSTORE_NOT_FOUND : CRTSTORE_FOUND;
  }
};

TEST_F(Stores, BySubjectAsOpensslGroupsSubjects) {
  for (const CertificateStore* store : stores())
    for (auto& e : entries())
      for (bool enc : {false, true}) {
        std::set<std::string> want = expected(
            [&](const Entry& o) { return o.subject == e->subject && (!enc || o.encipherment); });
        CertificateList found;
        EXPECT_EQ(code(want), store->findBySubject(found, e->cert->tbsCertificate.subject, enc))
            << e->file << enc;
        EXPECT_EQ(want, filesOf(found)) << e->file << " enc " << enc;
      }
}

TEST_F(Stores, ByIssuerSerialNeverTakesOneIssuerForAnother) {
  for (const CertificateStore* store : stores())
    for (auto& issuerSide : entries())
      for (auto& serialSide : entries()) {
        // Issuer of one certificate with the serial of another: found only
        // when openssl reads a certificate with both.
        std::set<std::string> want = expected([&](const Entry& o) {
          return o.issuer == issuerSide->issuer && o.serial == serialSide->serial;
        });
        ASSERT_LE(want.size(), 1u);
        SignedCertificate out;
        int r = store->findByIssuerSerial(out, issuerSide->cert->tbsCertificate.issuer,
                                          serialSide->cert->tbsCertificate.serialNumber);
        ASSERT_EQ(code(want), r) << issuerSide->file << " " << serialSide->file;
        EXPECT_EQ(!want.empty(), store->holdsIssuerSerial(issuerSide->cert->tbsCertificate.issuer,
                                                          serialSide->cert->tbsCertificate.serialNumber))
            << issuerSide->file << " " << serialSide->file;
        if (r == CRTSTORE_FOUND) {
          CertificateList one;
          one.append(new SignedCertificate(out));
          EXPECT_EQ(want, filesOf(one));
        }
      }
}

TEST_F(Stores, ByIssuerKeyIdWithOpensslsIdentifiers) {
  for (const CertificateStore* store : stores())
    for (auto& e : entries())
      for (const std::string& id : {e->keyHash, e->ski}) {
        if (id.empty()) continue;
        std::set<std::string> want =
            expected([&](const Entry& o) { return o.issuer == e->issuer && o.keyHash == id; });
        Bytes keyId = hexBytes(id);
        for (bool enc : {false, true}) {
          std::set<std::string> w = want;
          if (enc)
            for (auto& o : entries())
              if (!o->encipherment) w.erase(o->file);
          CertificateList found;
          EXPECT_EQ(code(w), store->findByIssuerKeyId(found, keyId.data(),
                                                      static_cast<int>(keyId.size()),
                                                      e->cert->tbsCertificate.issuer, enc))
              << e->file << " " << id;
          EXPECT_EQ(w, filesOf(found)) << e->file << " " << id;
        }
      }
}

TEST_F(Stores, ByEmailWholeAddressesOfTheSubject) {
  std::vector<std::string> addresses = {"alice@example.com", "ALICE@Example.COM",
                                        "alice@example.co", "alice@example.com.evil",
                                        "alice.alt@example.com", "nobody@example.com"};
  for (auto& e : entries())
    for (const std::string& a : e->subjectEmails) addresses.push_back(a);
  for (const CertificateStore* store : stores())
    for (const std::string& a : addresses)
      for (bool enc : {false, true}) {
        std::set<std::string> want = expected([&](const Entry& o) {
          if (enc && !o.encipherment) return false;
          for (const std::string& s : o.subjectEmails)
            if (lower(s) == lower(a)) return true;
          return false;
        });
        CertificateList found;
        EXPECT_EQ(code(want), store->findByEmail(found, a.c_str(), enc)) << a;
        EXPECT_EQ(want, filesOf(found)) << a << " enc " << enc;
      }
}

// A stranger's subject of thousands of attributes, in one RDN or in many:
// the e-mail match answers as the address rules say, walking the subject
// once (no attribute reached by index: that walked the name again for each).
TEST_F(Stores, ByEmailOverLongSubjectsWalksTheNameOnce) {
  const Bytes CN{0x55, 0x04, 0x03};
  const Bytes EMAIL{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x01};
  auto attribute = [](const Bytes& type, unsigned char tag, const std::string& text) {
    Bytes body = certtest::encodeTlv(0x06, type);
    const Bytes value = certtest::encodeTlv(tag, Bytes(text.begin(), text.end()));
    body.insert(body.end(), value.begin(), value.end());
    return certtest::encodeTlv(0x30, body);
  };
  const struct {
    const char* what;
    int rdns, perRdn;
    int emailAt;  // attribute index of the address, -1 none
    unsigned char tag;
    const char* stored;
    const char* asked;
    int want;
  } cases[] = {
      {"one RDN, address last", 1, 3000, 2999, 0x16, "alice@example.com", "alice@example.com",
       CRTSTORE_FOUND},
      {"one RDN, other case", 1, 3000, 2999, 0x16, "alice@example.com", "ALICE@Example.COM",
       CRTSTORE_FOUND},
      {"one RDN, no address", 1, 3000, -1, 0x16, "", "alice@example.com", CRTSTORE_NOT_FOUND},
      {"RDNs of one, address last", 1000, 1, 999, 0x16, "alice@example.com",
       "alice@example.com", CRTSTORE_FOUND},
      {"RDNs of fifty, a shorter address asked", 60, 50, 1500, 0x16, "alice@example.com",
       "alice@example.co", CRTSTORE_NOT_FOUND},
      {"RDNs of fifty, UTF8String address", 60, 50, 2000, 0x0C, "alice@example.com",
       "alice@example.com", CRTSTORE_FOUND},
      {"RDNs of fifty, an octet string", 60, 50, 2000, 0x04, "alice@example.com",
       "alice@example.com", CRTSTORE_NOT_FOUND},
  };
  for (const auto& c : cases) {
    Bytes rdns;
    for (int r = 0, i = 0; r < c.rdns; ++r) {
      Bytes set;
      for (int k = 0; k < c.perRdn; ++k, ++i) {
        const Bytes a = i == c.emailAt ? attribute(EMAIL, c.tag, c.stored)
                                        : attribute(CN, 0x0C, "a common name long enough for its RDN, " + std::to_string(i));
        set.insert(set.end(), a.begin(), a.end());
      }
      const Bytes rdn = certtest::encodeTlv(0x31, set);
      rdns.insert(rdns.end(), rdn.begin(), rdn.end());
    }
    const Bytes der = certtest::encodeTlv(0x30, rdns);
    SignedCertificate cert(*entries().front()->cert);
    ASSERT_EQ(static_cast<int>(der.size()), cert.tbsCertificate.subject.decodeVector(der)) << c.what;
    const uint64_t before = nameIndexSteps();
    EXPECT_EQ(c.want, matchByEmail(cert, c.asked, false)) << c.what;
    EXPECT_LE(nameIndexSteps() - before, static_cast<uint64_t>(c.rdns * c.perRdn)) << c.what;
  }
}

TEST_F(Stores, CertificateEmailAddressesAsOpensslLists) {
  for (auto& e : entries()) {
    std::vector<std::string> want = e->subjectEmails;
    want.insert(want.end(), e->sanEmails.begin(), e->sanEmails.end());
    for (bool lowerCase : {false, true}) {
      std::vector<std::string> got;
      EXPECT_TRUE(getCertEmailAddresses(*e->cert, got, lowerCase));
      std::vector<std::string> w = want;
      if (lowerCase)
        for (std::string& s : w) s = lower(s);
      EXPECT_EQ(w, got) << e->file;
    }
    for (const std::string& a : want) {
      EXPECT_TRUE(certHasEmailAddress(*e->cert, a.c_str(), false)) << e->file << a;
      std::string upper = a;
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      EXPECT_TRUE(certHasEmailAddress(*e->cert, upper.c_str(), true)) << e->file << a;
      EXPECT_FALSE(certHasEmailAddress(*e->cert, (a + "x").c_str(), false)) << e->file << a;
    }
  }
}

TEST_F(Stores, SelectorsWithOpensslDigests) {
  std::ifstream digests(dataPath("digests.txt"));
  std::string line;
  int checked = 0;
  while (std::getline(digests, line)) {
    std::vector<std::string> f = split(line, '|');
    ASSERT_EQ(3u, f.size());
    for (auto& e : entries()) {
      const bool same = e->file == f[0];
      struct Case {
        int id;
        std::string hex;
      } cases[] = {{1, f[1]}, {3, f[2]}};
      for (const Case& c : cases) {
        CertificateSelector sel;
        sel.digest.digestId = c.id;
        sel.digest.value = hexBytes(c.hex);
        EXPECT_EQ(same, matchCertificateSelector(sel, *e->cert)) << f[0] << " " << e->file;
        if (!same) continue;
        // With issuer and serial: both must be the certificate's.
        sel.hasIssuerSerial = true;
        sel.issuer = e->cert->tbsCertificate.issuer;
        sel.serial = e->cert->tbsCertificate.serialNumber;
        EXPECT_TRUE(matchCertificateSelector(sel, *e->cert));
        for (auto& other : entries())
          if (!(other->issuer == e->issuer)) {
            sel.issuer = other->cert->tbsCertificate.issuer;
            EXPECT_FALSE(matchCertificateSelector(sel, *e->cert)) << other->file;
            break;
          }
        // A value one octet short, and a hash the digests do not know.
        CertificateSelector shortSel;
        shortSel.digest.digestId = c.id;
        shortSel.digest.value = hexBytes(c.hex.substr(2));
        EXPECT_FALSE(matchCertificateSelector(shortSel, *e->cert));
        shortSel.digest.value = hexBytes(c.hex);
        shortSel.digest.digestId = 9;
        EXPECT_FALSE(matchCertificateSelector(shortSel, *e->cert));
        ++checked;
      }
    }
  }
  EXPECT_EQ(2 * static_cast<int>(entries().size()), checked);
}

TEST_F(Stores, EmptyStoresAndPointerDeduplication) {
  LCertificateStore empty;
  CertificateList emptyList;
  ListCertificateStore emptyView(&emptyList), nullView(nullptr);
  const SignedCertificate& c = *entries().front()->cert;
  for (const CertificateStore* s : std::vector<const CertificateStore*>{&empty, &emptyView, &nullView}) {
    CertificateList out;
    SignedCertificate one;
    Bytes id(20, 0);
    EXPECT_EQ(CRTSTORE_NOT_FOUND, s->findBySubject(out, c.tbsCertificate.subject, false));
    EXPECT_EQ(CRTSTORE_NOT_FOUND, s->findByEmail(out, "alice@example.com", false));
    EXPECT_EQ(CRTSTORE_NOT_FOUND,
              s->findByIssuerSerial(one, c.tbsCertificate.issuer, c.tbsCertificate.serialNumber));
    EXPECT_FALSE(s->holdsIssuerSerial(c.tbsCertificate.issuer, c.tbsCertificate.serialNumber));
    EXPECT_EQ(CRTSTORE_NOT_FOUND,
              s->findByIssuerKeyId(out, id.data(), 20, c.tbsCertificate.issuer, false));
    EXPECT_EQ(0, out.GetCount());
  }
  EXPECT_TRUE(empty.addCertificate(&c));
  EXPECT_TRUE(empty.addCertificate(&c));
  EXPECT_EQ(1, empty.size());
  SignedCertificate copy(c);
  EXPECT_TRUE(empty.addCertificate(&copy));  // another object, even if equal
  EXPECT_EQ(2, empty.size());
  EXPECT_FALSE(empty.addCertificate(nullptr));
  // Every certificate of the manifest a thousand times over, as a token's
  // repeated certificates come: each held once, found as the fixture's store finds it.
  LCertificateStore repeated;
  for (int round = 0; round < 1000; ++round)
    for (auto& e : entries()) ASSERT_TRUE(repeated.addCertificate(e->cert.get()));
  EXPECT_EQ(static_cast<int>(entries().size()), repeated.size());
  for (auto& e : entries()) {
    CertificateList mine, theirs;
    EXPECT_EQ(pointerStore().findBySubject(theirs, e->cert->tbsCertificate.subject, false),
              repeated.findBySubject(mine, e->cert->tbsCertificate.subject, false));
    EXPECT_EQ(filesOf(theirs), filesOf(mine)) << e->file;
  }
}

TEST(ExtensionValue, AbsentUndecodableAndTrailing) {
  Extensions list;
  auto add = [&](const ASNobjectId& oid, const Bytes& value) {
    Extension* e = new Extension();
    e->extnID = oid;
    e->extnValue.set(value.data(), static_cast<int>(value.size()));
    ASSERT_EQ(1, list.append(e));
  };
  add(id_ce_keyUsage, hexBytes("03020520"));         // keyEncipherment
  add(id_ce_basicConstraints, hexBytes("3003"));     // cut short
  add(id_ce_cRLNumber, hexBytes("0201050000"));      // trailing octets
  ASNbitstr bits;
  EXPECT_EQ(1, getExtensionValue(list, id_ce_keyUsage, bits));
  EXPECT_EQ(1, bits.getBit(2));
  ASNinteger n;
  EXPECT_EQ(-2, getExtensionValue(list, id_ce_basicConstraints, n));
  EXPECT_EQ(-2, getExtensionValue(list, id_ce_cRLNumber, n));
  EXPECT_EQ(-1, getExtensionValue(list, id_ce_subjectAltName, n));
}

// CRL and OCSP references against openssl's digests of the files
// (tests/data/store/refs.tsv, made by gen_refs.sh). An OCSP reference's
// digest covers the whole OCSPResponse, as XAdES signers write it; the
// identifier alone is matched against the BasicOCSPResponse.
TEST(RevocationReferences, DigestsAsOpensslComputesThem) {
  std::ifstream table(std::string(TAL_TEST_DATA_DIR) + "/store/refs.tsv");
  std::string line;
  int crls = 0, responses = 0;
  while (std::getline(table, line)) {
    std::vector<std::string> f = split(line, '|');
    ASSERT_EQ(6u, f.size()) << line;
    SCOPED_TRACE(f[0]);
    std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/" + f[0], std::ios::binary);
    Bytes der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    DigestReference sha1{1, hexBytes(f[2])}, sha256{3, hexBytes(f[3])};
    DigestReference altered = sha256;
    altered.value.back() ^= 1;
    if (f[1] == "crl") {
      SignedCertRevList crl;
      ASSERT_EQ(static_cast<int>(der.size()), crl.decodeVector(der));
      const X509time& t = crl.tbsCertList.thisUpdate;
      X509time later(t);
      ASSERT_TRUE(later.set(t.year, t.month, t.day, t.hour, t.minute, (t.second + 1) % 60));
      ASNinteger number, otherNumber;
      if (f[5] != "-") number.set(static_cast<uint32_t>(std::stoul(f[5])));
      otherNumber.set(7);
      struct Case {
        DigestReference digest;
        bool issuer;
        const X509time* time;
        const ASNinteger* number;
        bool match;
      } cases[] = {
          {sha1, false, nullptr, nullptr, true},
          {sha256, false, nullptr, nullptr, true},
          {altered, false, nullptr, nullptr, false},
          {sha256, true, &t, nullptr, true},
          {sha256, true, &later, nullptr, false},
          {sha256, true, &t, &number, f[5] != "-"},
          {sha256, true, &t, &otherNumber, false},
      };
      for (const Case& c : cases) {
        CrlReference ref;
        ref.digest = c.digest;
        ref.hasIssuer = c.issuer;
        if (c.issuer) {
          ref.issuer = crl.tbsCertList.issuer;
          ref.issuedTime = *c.time;
        }
        ref.hasNumber = c.number != nullptr;
        if (c.number) ref.number = *c.number;
        EXPECT_EQ(c.match, matchCrlIdentifier(ref, crl)) << &c - cases;
      }
      ++crls;
      continue;
    }
    OCSPResponse response;
    ASSERT_EQ(static_cast<int>(der.size()), response.decodeVector(der));
    ASSERT_TRUE(response.responseBytesPresent);
    BasicOCSPResponse basic;
    ASSERT_EQ(response.responseBytes->response.length,
              basic.decodeOctets(response.responseBytes->response));
    const ResponseData& data = basic.tbsResponseData;
    DigestReference inner{3, hexBytes(f[4])};
    X509time later(data.producedAt);
    const X509time& t = data.producedAt;
    ASSERT_TRUE(later.set(t.year, t.month, t.day, t.hour, t.minute, (t.second + 1) % 60));
    struct Case {
      const DigestReference* digest;
      bool sameResponder;
      bool sameTime;
      bool response;  // matchOcspResponse on the whole response
      bool identifier;  // matchOcspIdentifier on the basic response
    } cases[] = {
        {&sha1, true, true, true, false},
        {&sha256, true, true, true, false},
        {&altered, true, true, false, false},
        {&inner, true, true, false, true},
        {nullptr, true, true, true, true},
        {&sha256, false, true, false, false},
        {&sha256, true, false, false, false},
        {nullptr, false, true, false, false},
    };
    for (const Case& c : cases) {
      OcspReference ref;
      ref.hasDigest = c.digest != nullptr;
      if (c.digest) ref.digest = *c.digest;
      ref.producedAt = c.sameTime ? t : later;
      // The other responder form, or a key hash one octet off.
      if (data.responderID.chosenIndex() == ResponderID::BY_NAME) {
        ref.hasName = c.sameResponder;
        ref.name = *data.responderID.byName;
        ref.hasKeyHash = !c.sameResponder;
        ref.keyHash.assign(20, 0);
      } else {
        const ASNoctstr& hash = *data.responderID.byKey;
        ref.hasKeyHash = true;
        ref.keyHash.assign(hash.data(), hash.data() + hash.length);
        if (!c.sameResponder) ref.keyHash[0] ^= 1;
      }
      EXPECT_EQ(c.response, matchOcspResponse(ref, response)) << &c - cases;
      EXPECT_EQ(c.identifier, matchOcspIdentifier(ref, basic)) << &c - cases;
    }
    ++responses;
  }
  EXPECT_EQ(3, crls);
  EXPECT_EQ(3, responses);
}

}  // namespace
