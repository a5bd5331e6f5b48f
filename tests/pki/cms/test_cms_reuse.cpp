// One object decoded again, or cleared, after a decode that read it in
// place: nothing may keep pointing into the octets the first decode viewed
// (they are released by the second), and a cleared object is its freshly
// constructed self.
#include "pki/test_cms_support.h"

#include "pki/cms/esscades.h"
#include "pki/cms/tsp.h"

#include <gtest/gtest.h>

using cmstest::Bytes;
using cmstest::decodeBytes;
using cmstest::encodeOf;

namespace {

Bytes readCms(const std::string& name) { return cmstest::readData("cms/" + name); }

using cmstest::decodeInPlaceFromCopy;

Bytes withoutCertificates(const Bytes& message) {
  auto members = cmstest::signedDataMembers(message);
  EXPECT_EQ(members.at(3).tag, 0xA0);
  members.erase(members.begin() + 3);
  return cmstest::signedMessage(members);
}

}  // namespace

TEST(CmsReuse, SignedDataDecodedAgainWithoutCertificatesTakesNewOnes) {
  const Bytes withCerts = readCms("attached_sha384.der");
  const Bytes noCerts = withoutCertificates(withCerts);
  const Bytes content = readCms("content.txt");
  SignedCertificate ca;
  ASSERT_GT(decodeBytes(ca, readCms("ca.der")), 0);
  // In place then privately, and in place twice.
  for (unsigned char second : {0, 1}) {
    SCOPED_TRACE(second);
    SignedMessage msg;
    decodeInPlaceFromCopy(msg, withCerts);
    ASSERT_EQ(decodeBytes(msg, noCerts, second), static_cast<int>(noCerts.size()));
    SignedData& sd = msg.value();
    EXPECT_EQ(sd.certificatesPresent, 0);
    EXPECT_FALSE(sd.certificates.isConstView());
    EXPECT_EQ(encodeOf(msg), noCerts);
    if (second) continue;
    // A signer adds a certificate to the message read again.
    sd.certificates.append(new SignedCertificate(ca));
    sd.certificatesPresent = 1;
    const Bytes out = encodeOf(msg);
    SignedMessage back;
    ASSERT_EQ(decodeBytes(back, out), static_cast<int>(out.size()));
    EXPECT_EQ(back.value().certificates.GetCount(), 1);
  }
}

TEST(CmsReuse, SignerInfoDecodedAgainWithOtherSidAndNoAttributes) {
  // keyid.der's signer names its key by identifier; attached_noattr.der's by
  // issuer and serial, without signed attributes.
  for (const char* pair : {"keyid.der>attached_noattr.der", "attached_noattr.der>keyid.der",
                           "attached_sha256.der>attached_noattr.der"}) {
    SCOPED_TRACE(pair);
    const std::string s(pair);
    const size_t cut = s.find('>');
    auto signerOf = [](const std::string& name) {
      auto members = cmstest::signedDataMembers(readCms(name));
      return cmstest::encodeTlv(cmstest::split(members.back().content).at(0));
    };
    const Bytes first = signerOf(s.substr(0, cut));
    const Bytes second = signerOf(s.substr(cut + 1));
    SignerInfo si;
    decodeInPlaceFromCopy(si, first);
    ASSERT_EQ(decodeBytes(si, second), static_cast<int>(second.size()));
    EXPECT_EQ(encodeOf(si), second);
    // Members the second message lacks are private and empty again.
    EXPECT_FALSE(si.signedAttrs.isConstView());
    EXPECT_FALSE(si.issuerAndSerialNumber.serialNumber.isConstView());
    EXPECT_FALSE(si.subjectKeyIdentifier.isConstView());
    EXPECT_NO_THROW(si.unsignedAttrs.append(new Attribute()));
  }
}

TEST(CmsReuse, ClearAfterInPlaceDecodeGivesTheConstructedObject) {
  // The encoding of a freshly constructed object is what clear() must give.
  {
    SignedMessage msg;
    decodeInPlaceFromCopy(msg, readCms("attached_sha256.der"));
    SignedData fresh;
    ASSERT_NO_THROW(msg.value().clear());
    EXPECT_FALSE(msg.value().isConstView());
    EXPECT_EQ(encodeOf(msg.value()), encodeOf(fresh));
    EXPECT_EQ(msg.value().signerInfos.GetCount(), 0);
  }
  {
    TimeStampRequest r;
    decodeInPlaceFromCopy(r, cmstest::readData("tsp/req_sha256_nonce_cert.tsq"));
    ASSERT_NO_THROW(r.clear());
    TimeStampRequest fresh;
    EXPECT_EQ(encodeOf(r), encodeOf(fresh));
    EXPECT_EQ(r.version.toLong(), 1u);
    EXPECT_NO_THROW(r.certReq.set(true));
  }
  {
    TimeStampToken t;
    const Bytes token = cmstest::readData("tsp/token_full.der");
    decodeInPlaceFromCopy(t.token, token);
    const SignedData& sd = t.token.value();
    ASSERT_TRUE(sd.encapContentInfo.contentPresent);
    const ASNoctstr& econtent = sd.encapContentInfo.value();
    const Bytes info = cmstest::octets(econtent);
    decodeInPlaceFromCopy(t.tstInfo, info);
    ASSERT_NO_THROW(t.tstInfo.clear());
    EXPECT_FALSE(t.tstInfo.isConstView());
    EXPECT_EQ(t.tstInfo.version.toLong(), 1u);
    EXPECT_EQ(t.tstInfo.serialNumber.length, 0);
    EXPECT_EQ(t.tstInfo.accuracyPresent + t.tstInfo.noncePresent + t.tstInfo.tsaPresent +
                  t.tstInfo.extensionsPresent + t.tstInfo.orderingPresent,
              0);
    EXPECT_NO_THROW(t.tstInfo.ordering.set(true));
  }
  {
    const Bytes v2 = pkitest::unhex("3017300b060960864801650304020304080000000000000000");
    ESSCertIDV2 id;
    decodeInPlaceFromCopy(id, v2);
    ASSERT_NO_THROW(id.clear());
    ESSCertIDV2 fresh;
    EXPECT_EQ(encodeOf(id), encodeOf(fresh));
    EXPECT_TRUE(id.hashAlgorithm.algorithm == id_sha256);
  }
}

TEST(CmsReuse, TimeStampRequestDecodedAgainWithoutOptionals) {
  const Bytes full = cmstest::readData("tsp/req_sha256_nonce_cert.tsq");
  const Bytes plain = cmstest::readData("tsp/req_sha1_nononce.tsq");
  TimeStampRequest r;
  decodeInPlaceFromCopy(r, full);
  ASSERT_EQ(decodeBytes(r, plain), static_cast<int>(plain.size()));
  EXPECT_EQ(encodeOf(r), plain);
  EXPECT_NO_THROW(r.certReq.set(true));
  r.certReqPresent = 1;
  r.nonce.set(7);
  r.noncePresent = 1;
  const Bytes out = encodeOf(r);
  TimeStampRequest back;
  ASSERT_EQ(decodeBytes(back, out), static_cast<int>(out.size()));
  EXPECT_TRUE(back.certReq.get());
  EXPECT_EQ(back.nonce.toLong(), 7u);
}

TEST(CmsReuse, EssStructuresDecodedAgainWithoutNestedOptionals) {
  struct Case {
    const char* name;
    const char* full;
    const char* bare;
  };
  const Case cases[] = {
      {"ESSCertID", "30120404aabbccdd300a3004a4023000020203e8", "30060404aabbccdd"},
      {"ESSCertIDV2", "301f300b0609608648016503040202040401020304300a3004a4023000020203e8",
       "3006040401020304"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes full = pkitest::unhex(c.full);
    const Bytes bare = pkitest::unhex(c.bare);
    auto check = [&](auto& id) {
      decodeInPlaceFromCopy(id, full);
      ASSERT_EQ(decodeBytes(id, bare), static_cast<int>(bare.size()));
      EXPECT_EQ(id.issuerSerialPresent, 0);
      EXPECT_EQ(encodeOf(id), bare);
      // The nested serial number is private again: it encodes and changes.
      EXPECT_NO_THROW(id.issuerSerial.serialNumber.set(5));
      EXPECT_EQ(encodeOf(id.issuerSerial.serialNumber), pkitest::unhex("020105"));
    };
    if (std::string(c.name) == "ESSCertID") {
      ESSCertID id;
      check(id);
    } else {
      ESSCertIDV2 id;
      check(id);
    }
  }
}

TEST(CmsReuse, StreamedDecodeAfterInPlaceDropsAbsentSets) {
  const Bytes withCerts = readCms("attached_sha384.der");
  const Bytes noCerts = withoutCertificates(withCerts);
  SignedMessage msg;
  decodeInPlaceFromCopy(msg, withCerts);
  Bytes passed;
  ASSERT_EQ(cmstest::streamIn(msg, noCerts, 13, &passed), static_cast<int>(noCerts.size()));
  EXPECT_EQ(msg.value().certificatesPresent, 0);
  EXPECT_FALSE(msg.value().certificates.isConstView());
  EXPECT_NO_THROW(msg.value().certificates.append(new SignedCertificate()));
}
