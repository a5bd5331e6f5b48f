// The enveloped, PKCS#8 and PKCS#12 structures decoded again, or cleared,
// after a decode that read them in place: the octets the first decode
// viewed are freed before the second (ASan reports any view that survives),
// members the second encoding lacks are absent, private and changeable, and
// a cleared object encodes as a fresh one.
#include "pki/test_cms_support.h"
#include "pki/test_pkcs_support.h"

#include "pki/common/oids.h"
#include "pki/pkcs/envdata.h"
#include "pki/pkcs/pfx.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using cmstest::Bytes;
using cmstest::decodeBytes;
using cmstest::encodeOf;
using cmstest::Tlv;
using pkcstest::pkcs;

using cmstest::decodeInPlaceFromCopy;

// localKeyId 05, an attribute for the optional attribute sets.
const Bytes kAttribute = pkitest::unhex("301006092a864886f70d010915310304" "0105");

// The members of the EnvelopedData of openssl's ktri_aes.der, and the
// message rebuilt around them.
std::vector<Tlv> envelopedMembers() {
  Tlv top, wrapper, ed;
  cmstest::readTlv(pkcs("ktri_aes.der"), 0, &top);
  wrapper = cmstest::split(top.content).at(1);
  ed = cmstest::split(wrapper.content).at(0);
  return cmstest::split(ed.content);
}

Bytes envelopedMessage(const std::vector<Tlv>& members) {
  Tlv top;
  const Bytes original = pkcs("ktri_aes.der");
  cmstest::readTlv(original, 0, &top);
  auto parts = cmstest::split(top.content);
  parts.at(1).content = cmstest::encodeTlv(0x30, cmstest::join(members));
  return cmstest::encodeTlv(0x30, cmstest::join(parts));
}

// The message with originatorInfo {certs} and unprotectedAttrs added.
Bytes envelopedWithOptionals() {
  auto members = envelopedMembers();
  const Bytes certs = cmstest::encodeTlv(0xA0, pkcs("cert.der"));
  members.insert(members.begin() + 1, Tlv{0xA0, certs});
  members.push_back(Tlv{0xA1, kAttribute});
  return envelopedMessage(members);
}

// A PrivateKeyInfo with [0] attributes: openssl's with one appended.
Bytes keyWithAttributes() {
  Tlv key;
  cmstest::readTlv(pkcs("rsa_p8.der"), 0, &key);
  auto members = cmstest::split(key.content);
  members.push_back(Tlv{0xA0, kAttribute});
  return cmstest::encodeTlv(0x30, cmstest::join(members));
}

// The EncryptedContentInfo of ktri_aes.der, with and without its content.
std::pair<Bytes, Bytes> contentInfos() {
  const Tlv eci = envelopedMembers().at(2);
  auto members = cmstest::split(eci.content);
  const Bytes full = cmstest::encodeTlv(eci);
  members.pop_back();
  return {full, cmstest::encodeTlv(0x30, cmstest::join(members))};
}

TEST(PkcsReuse, DecodedAgainWithoutOptionalMembers) {
  const auto [eciFull, eciBare] = contentInfos();
  // MacData of openssl's file: iterations 2048, then the default (absent).
  Tlv pfxTlv;
  cmstest::readTlv(pkcs("rsa_3des.p12"), 0, &pfxTlv);
  const Bytes macFull = cmstest::encodeTlv(cmstest::split(pfxTlv.content).at(2));
  auto macMembers = cmstest::split(cmstest::split(pfxTlv.content).at(2).content);
  ASSERT_EQ(macMembers.size(), 3u);
  macMembers.pop_back();
  const Bytes macBare = cmstest::encodeTlv(0x30, cmstest::join(macMembers));

  {
    SCOPED_TRACE("EnvelopedData");
    const Bytes full = envelopedWithOptionals(), bare = pkcs("ktri_aes.der");
    EnvelopedMessage check;
    ASSERT_EQ(decodeBytes(check, full), static_cast<int>(full.size()));
    ASSERT_TRUE(check.value().originatorInfoPresent && check.value().unprotectedAttrsPresent);
    EnvelopedMessage msg;
    decodeInPlaceFromCopy(msg, full);
    ASSERT_EQ(decodeBytes(msg, bare), static_cast<int>(bare.size()));
    EnvelopedData& ed = msg.value();
    EXPECT_EQ(ed.originatorInfoPresent + ed.unprotectedAttrsPresent, 0);
    EXPECT_EQ(ed.originatorInfo.certs.GetCount(), 0);
    EXPECT_FALSE(ed.originatorInfo.certs.isConstView());
    EXPECT_EQ(encodeOf(msg), bare);
    EXPECT_EQ(ed.encryptedContentInfo.recipientInfos, &ed.recipientInfos);
    // A sender adds an attribute to the message read again.
    Attribute* a = new Attribute();
    ASSERT_EQ(decodeBytes(*a, kAttribute), static_cast<int>(kAttribute.size()));
    ASSERT_EQ(ed.unprotectedAttrs.append(a), 1);
    ed.unprotectedAttrsPresent = 1;
    EnvelopedMessage back;
    const Bytes out = encodeOf(msg);
    ASSERT_EQ(decodeBytes(back, out), static_cast<int>(out.size()));
    EXPECT_EQ(back.value().unprotectedAttrs.GetCount(), 1);
    // Streamed after an in-place decode: the same.
    EnvelopedMessage streamed;
    decodeInPlaceFromCopy(streamed, full);
    ASSERT_EQ(cmstest::streamIn(streamed, bare, 11, nullptr), static_cast<int>(bare.size()));
    EXPECT_EQ(streamed.value().originatorInfoPresent, 0);
    EXPECT_EQ(streamed.value().originatorInfo.certs.GetCount(), 0);
  }
  {
    SCOPED_TRACE("EncryptedContentInfo");
    EncryptedContentInfo eci;
    decodeInPlaceFromCopy(eci, eciFull);
    ASSERT_EQ(decodeBytes(eci, eciBare), static_cast<int>(eciBare.size()));
    EXPECT_FALSE(eci.encryptedContentPresent);
    EXPECT_EQ(encodeOf(eci), eciBare);
    EXPECT_FALSE(eci.encryptedContent.isConstView());
    // Streamed after an in-place decode.
    EncryptedContentInfo streamed;
    decodeInPlaceFromCopy(streamed, eciFull);
    ASSERT_EQ(cmstest::streamIn(streamed, eciBare, 3, nullptr), static_cast<int>(eciBare.size()));
    EXPECT_FALSE(streamed.encryptedContentPresent);
    EXPECT_EQ(encodeOf(streamed), eciBare);
  }
  {
    SCOPED_TRACE("PrivateKeyInfo");
    PrivateKeyInfo key;
    decodeInPlaceFromCopy(key, keyWithAttributes());
    ASSERT_EQ(decodeBytes(key, pkcs("rsa_p8.der")), static_cast<int>(pkcs("rsa_p8.der").size()));
    EXPECT_EQ(key.attributes.GetCount(), 0);
    EXPECT_EQ(encodeOf(key), pkcs("rsa_p8.der"));
    EXPECT_FALSE(key.attributes.isConstView());
  }
  {
    SCOPED_TRACE("MacData");
    MacData mac;
    decodeInPlaceFromCopy(mac, macFull);
    EXPECT_EQ(mac.iterations.toLong(), 2048u);
    ASSERT_EQ(decodeBytes(mac, macBare), static_cast<int>(macBare.size()));
    EXPECT_EQ(mac.iterations.toLong(), 1u);
    EXPECT_EQ(encodeOf(mac), macBare);
    EXPECT_NO_THROW(mac.iterations.set(4096u));
  }
  {
    SCOPED_TRACE("SafeBag");
    SafeBag bag;
    bag.bagId = secretBag;
    ASNoctstr v;
    v.set(kAttribute.data(), 3);
    bag.bagValue.get().setObject(v);
    const Bytes bare = encodeOf(bag);
    const unsigned char id[2] = {1, 2};
    bag.setAttributes(nullptr, 0, id, 2);
    const Bytes full = encodeOf(bag);
    SafeBag read;
    decodeInPlaceFromCopy(read, full);
    ASSERT_EQ(decodeBytes(read, bare), static_cast<int>(bare.size()));
    EXPECT_EQ(read.bagAttributesPresent, 0);
    EXPECT_EQ(encodeOf(read), bare);
    EXPECT_FALSE(read.bagValue.get().isConstView());
  }
  {
    SCOPED_TRACE("Pfx");
    const Bytes other = pkcs("rsa_legacy.p12");
    Pfx pfx;
    decodeInPlaceFromCopy(pfx, pkcs("rsa_3des.p12"));
    ASSERT_EQ(decodeBytes(pfx, other), static_cast<int>(other.size()));
    EXPECT_EQ(encodeOf(pfx), other);
    TypedPointerList<PrivateKeyInfo> keys;
    TypedPointerList<SignedCertificate> certs;
    TypedPointerList<SafeBag> bags;
    const Bytes password = pkcstest::bmp("vorin-test");
    EXPECT_EQ(pfx.extract(keys, certs, bags, password.data(), static_cast<int>(password.size())),
              1);
    EXPECT_EQ(keys.GetCount() + certs.GetCount(), 2);
  }
}

TEST(PkcsReuse, ClearAfterInPlaceDecodeGivesTheConstructedObject) {
  {
    EnvelopedMessage msg;
    decodeInPlaceFromCopy(msg, envelopedWithOptionals());
    EnvelopedData& ed = msg.value();
    ASSERT_NO_THROW(ed.clear());
    EXPECT_FALSE(ed.isConstView());
    EXPECT_EQ(ed.recipientInfos.GetCount(), 0);
    EXPECT_EQ(ed.originatorInfoPresent + ed.unprotectedAttrsPresent, 0);
    EXPECT_EQ(ed.encryptedContentInfo.recipientInfos, nullptr);
    EXPECT_NO_THROW(ed.version.set(2u));
  }
  {
    // Read privately, the type and algorithm stay and the content goes;
    // read in place, all goes (the viewed octets may be released first).
    for (bool inPlace : {false, true}) {
      SCOPED_TRACE(inPlace);
      EnvelopedMessage msg;
      const Bytes der = pkcs("ktri_aes.der");
      if (inPlace)
        decodeInPlaceFromCopy(msg, der);
      else
        ASSERT_EQ(decodeBytes(msg, der), static_cast<int>(der.size()));
      EncryptedContentInfo& eci = msg.value().encryptedContentInfo;
      ASSERT_NO_THROW(eci.clear());
      EXPECT_FALSE(eci.isConstView());
      EXPECT_FALSE(eci.contentType.isConstView());
      EXPECT_FALSE(eci.contentEncryptionAlgorithm.algorithm.isConstView());
      EXPECT_EQ(eci.contentType == id_data, !inPlace);
      EXPECT_EQ(eci.contentEncryptionAlgorithm.algorithm == id_aes256_CBC, !inPlace);
      EXPECT_TRUE(eci.encryptedContentPresent);
      EXPECT_EQ(eci.encryptedContent.length, 0);
      EXPECT_EQ(eci.recipientInfos, nullptr);
    }
  }
  {
    PrivateKeyInfo key;
    decodeInPlaceFromCopy(key, keyWithAttributes());
    ASSERT_NO_THROW(key.clear());
    PrivateKeyInfo fresh;
    EXPECT_EQ(encodeOf(key), encodeOf(fresh));
    EXPECT_EQ(key.privateKey.length, 0);
  }
  {
    Pfx pfx;
    decodeInPlaceFromCopy(pfx, pkcs("rsa_3des.p12"));
    ASSERT_NO_THROW(pfx.clear());
    Pfx fresh;
    EXPECT_EQ(encodeOf(pfx), encodeOf(fresh));
    EXPECT_EQ(pfx.authenticatedSafe.GetCount(), 0);
    EXPECT_EQ(pfx.macData.iterations.toLong(), 1u);
    EXPECT_NO_THROW(pfx.initAuthSafe());
  }
}

}  // namespace
