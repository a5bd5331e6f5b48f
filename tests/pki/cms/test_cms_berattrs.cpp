// Signed attributes sent in BER (non-minimal and indefinite lengths, of the
// set, of one attribute, of one attribute's values): the signature covers
// them re-encoded with minimal definite headers, values as received (RFC
// 5652 5.4). The four messages were accepted by `openssl cms -verify`.
#include "pki/test_cms_support.h"

#include <gtest/gtest.h>

using cmstest::Bytes;
using cmstest::decodeBytes;

namespace {

Bytes readCms(const std::string& name) { return cmstest::readData("cms/" + name); }

}  // namespace

TEST(CmsBerAttributes, VerifyWholeInPlaceStreamedAndCopied) {
  const Bytes content = readCms("content.txt");
  for (const char* name : {"sa_nonmin.der", "sa_indef.der", "sa_attr_indef.der",
                           "sa_values_indef.der", "attached_sha256.der"}) {
    SCOPED_TRACE(name);
    const Bytes der = readCms(name);
    std::vector<Bytes> inputs;
    for (unsigned char flags : {0, 1}) {
      SCOPED_TRACE(int(flags));
      SignedMessage msg;
      ASSERT_EQ(decodeBytes(msg, der, flags), static_cast<int>(der.size()));
      const SignerInfo& si = *msg.value().signerInfos.GetHead();
      EXPECT_EQ(cmstest::verifySigner(msg.value(), si, content), 1);
      const SignerInfo copy(si);
      EXPECT_EQ(cmstest::verifySigner(msg.value(), copy, content), 1);
      Bytes input;
      ASSERT_EQ(si.signedAttrsDigestInput(input), 1);
      inputs.push_back(input);
    }
    SignedMessage streamed;
    ASSERT_EQ(cmstest::streamIn(streamed, der, 7, nullptr), static_cast<int>(der.size()));
    const SignerInfo& si = *streamed.value().signerInfos.GetHead();
    EXPECT_EQ(cmstest::verifySigner(streamed.value(), si, content), 1);
    // Every form hashes the same octets as the DER message.
    Bytes input;
    ASSERT_EQ(si.signedAttrsDigestInput(input), 1);
    inputs.push_back(input);
    SignedMessage reference;
    const Bytes ref = readCms("attached_sha256.der");
    ASSERT_GT(decodeBytes(reference, ref), 0);
    Bytes expected;
    ASSERT_EQ(reference.value().signerInfos.GetHead()->signedAttrsDigestInput(expected), 1);
    // Values read as received: only the one with BER values differs.
    if (std::string(name) != "sa_values_indef.der") {
      for (const Bytes& b : inputs) EXPECT_EQ(b, expected);
    }
    EXPECT_EQ(expected[0], 0x31);
  }
}

TEST(CmsBerAttributes, UnsignedAttributesInBerDecode) {
  // The signer of attached_sha256.der with one unsigned attribute of
  // indefinite length whose value set is indefinite too.
  auto members = cmstest::signedDataMembers(readCms("attached_sha256.der"));
  auto signers = cmstest::split(members.back().content);
  Bytes sc = signers.at(0).content;
  const Bytes set = cmstest::encodeTlv(0x31, pkitest::unhex("0500"), true);
  Bytes body = pkitest::unhex("06032a0304");
  body.insert(body.end(), set.begin(), set.end());
  const Bytes attr = cmstest::encodeTlv(0x30, body, true);
  const Bytes unsignedAttrs = cmstest::encodeTlv(0xA1, attr, true);
  sc.insert(sc.end(), unsignedAttrs.begin(), unsignedAttrs.end());
  members.back().content = cmstest::encodeTlv(0x30, sc);
  const Bytes der = cmstest::signedMessage(members);
  for (unsigned char flags : {0, 1}) {
    SignedMessage msg;
    ASSERT_EQ(decodeBytes(msg, der, flags), static_cast<int>(der.size()));
    const SignerInfo& si = *msg.value().signerInfos.GetHead();
    ASSERT_EQ(si.unsignedAttrsPresent, 1);
    ASSERT_EQ(si.unsignedAttrs.GetCount(), 1);
    EXPECT_EQ(si.unsignedAttrs.GetHead()->valueCount(), 1);
    // A copy keeps the indefinite lengths it was read with.
    const SignerInfo copy(si);
    EXPECT_EQ(cmstest::encodeOf(copy.unsignedAttrs), cmstest::encodeOf(si.unsignedAttrs));
  }
}
