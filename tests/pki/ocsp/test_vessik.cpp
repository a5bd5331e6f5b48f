// Request frames of the CA's message service: frames made with openssl
// asn1parse -genconf (tests/data/pki/ocsp/gen.sh) and hand-made edge cases.
#include "pki/ocsp/vessikreq.h"
#include "asn1/asnbool.h"
#include "pki/fixture_lines.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using pkitest::unhex;

Bytes readFrame(const std::string& name) {
  std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/pki/ocsp/" + name, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

Bytes encodeOf(const ASNobject& o) {
  Bytes out;
  EXPECT_GT(o.encodeVector(out), 0);
  EXPECT_EQ(static_cast<int>(out.size()), o.encodedLength());
  return out;
}

Bytes bodyOf(const ASNVessikRequestFrame& f) {
  Bytes b;
  EXPECT_GT(f.body.encodeVector(b), 0);
  return b;
}

struct FrameCase {
  const char* file;
  uint32_t kind;
  unsigned char timeTag;
  unsigned char bodyTag;
  int crlTime;   // CRL request: time flag (-1 not a CRL request)
  int certType;  // certificate request: identifier type (-1 not one)
};

const FrameCase kFrames[] = {
    {"vessik_crlreq.der", 1, 23, 0x30, 1, -1},
    {"vessik_crlreq_notime.der", 1, 24, 0x30, 0, -1},
    {"vessik_crldone.der", 5, 23, 0x05, -1, -1},
    {"vessik_certreq_name.der", 0, 23, 0x30, -1, 0},
    {"vessik_certreq_serial.der", 0, 23, 0x30, -1, 2},
};

TEST(VessikFrame, GeneratedFramesDecodeAndReencode) {
  ASNCertificateID expectedId;
  const Bytes idDer = readFrame("vessik_certid.der");
  ASSERT_EQ(expectedId.decodeVector(idDer), static_cast<int>(idDer.size()));
  for (const FrameCase& c : kFrames) {
    SCOPED_TRACE(c.file);
    const Bytes der = readFrame(c.file);
    ASSERT_FALSE(der.empty());
    for (unsigned char flags : {0, 1}) {
      ASNVessikRequestFrame f;
      ASSERT_EQ(f.decodeVector(der, flags), static_cast<int>(der.size()));
      EXPECT_EQ(encodeOf(f), der);
      EXPECT_EQ(f.kind.toLong(), c.kind);
      EXPECT_EQ(f.time.getTag(), c.timeTag);
      EXPECT_EQ(f.time.toTime64(false), 1768473000);
      ASSERT_TRUE(f.hasBody());
      const Bytes body = bodyOf(f);
      ASSERT_FALSE(body.empty());
      EXPECT_EQ(body[0], c.bodyTag);
      if (c.crlTime >= 0) {
        ASNCrlRequest r;
        ASSERT_EQ(r.decodeVector(body), static_cast<int>(body.size()));
        EXPECT_EQ(r.timePresent, c.crlTime);
        EXPECT_TRUE(r.issuer == expectedId.issuer);
        EXPECT_EQ(encodeOf(r), body);
      }
      if (c.certType >= 0) {
        ASNCertificateRequest r;
        ASSERT_EQ(r.decodeVector(body), static_cast<int>(body.size()));
        EXPECT_EQ(r.requestType(), c.certType);
        EXPECT_EQ(encodeOf(r), body);
        if (c.certType == 2) {
          // The [2] element holds the content of an ASNCertificateID.
          ASNCertificateID id;
          Bytes whole = {0x30, static_cast<unsigned char>(r.identifier.contentLength())};
          whole.insert(whole.end(), r.identifier.content(),
                       r.identifier.content() + r.identifier.contentLength());
          ASSERT_EQ(id.decodeVector(whole), static_cast<int>(whole.size()));
          EXPECT_TRUE(id == expectedId);
          // Built anew, the request is the same octets.
          ASNCertificateRequest built;
          built.issuer = expectedId.issuer;
          ASSERT_TRUE(built.setIdentifier(2, expectedId));
          EXPECT_EQ(encodeOf(built), body);
        }
      }
    }
  }
}

TEST(VessikFrame, BodyEdgeCases) {
  const std::string head =
      "020101"
      "170d3236303131353130333030305a";  // kind 1, UTCTime
  const std::string gen = "180f32303236303131353130333030305a";
  struct Case {
    const char* what;
    std::string content;
    int result;  // 1 decodes and re-encodes
    bool body;
  } cases[] = {
      {"FF 00: no body", head + "ff00", 1, false},
      {"NULL body", head + "0500", 1, true},
      {"generalized time", "020101" + gen + "0500", 1, true},
      {"context body", "020101" + gen + "a0020500", 1, true},
      {"no body element", head, 0, false},
      {"FF 01 is no empty body", head + "ff01", 0, false},
      {"two bodies", head + "05000500", 0, false},
      {"kind is no INTEGER", "0a0101" + head.substr(6) + "0500", 0, false},
      {"one octet left", head + "05", 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes der = unhex(c.content);
    der.insert(der.begin(), {0x30, static_cast<unsigned char>(der.size())});
    ASNVessikRequestFrame f;
    const int r = f.decodeVector(der);
    if (c.result != 1) {
      EXPECT_EQ(r, c.result);
      continue;
    }
    ASSERT_EQ(r, static_cast<int>(der.size()));
    EXPECT_EQ(f.hasBody(), c.body);
    EXPECT_EQ(encodeOf(f), der);
  }

  // A frame built without a body writes FF 00; with one, the body.
  ASNVessikRequestFrame built;
  built.kind.set(4u);
  ASSERT_TRUE(built.time.set(2026, 1, 15, 10, 30, 0));
  EXPECT_EQ(encodeOf(built), unhex("3014020104170d3236303131353130333030305aff00"));
  built.setBody(ASNnull());
  EXPECT_EQ(encodeOf(built), unhex("3014020104170d3236303131353130333030305a0500"));
}

TEST(VessikFrame, RequestBodies) {
  const Bytes idDer = readFrame("vessik_certid.der");
  ASNCertificateID a, b;
  ASSERT_GT(a.decodeVector(idDer), 0);
  b = a;
  EXPECT_TRUE(a == b);
  b.serialNumber.set(0x1002u);
  EXPECT_FALSE(a == b);
  b.serialNumber = a.serialNumber;
  b.issuer = DistinguishedName(0, "CN=Other", 0);
  EXPECT_FALSE(a == b);  // same serial, other issuer

  // CRL request: the time is written only with its flag.
  ASNCrlRequest crl;
  crl.issuer = a.issuer;
  Bytes noTime = encodeOf(crl);
  ASSERT_TRUE(crl.time.set(2026, 1, 15, 10, 30, 0));
  EXPECT_EQ(encodeOf(crl), noTime);
  crl.timePresent = 1;
  EXPECT_EQ(encodeOf(crl).size(), noTime.size() + 15);

  // The identifier element must be [0], [1] or [2] as a primitive tag.
  const std::string issuer = "3000";
  for (const auto& c : std::vector<std::pair<std::string, int>>{{"800161", 1},
                                                                {"810161", 1},
                                                                {"820161", 1},
                                                                {"830161", 0},
                                                                {"a0020500", 0},
                                                                {"0c0161", 0},
                                                                {"", 0}}) {
    SCOPED_TRACE(c.first);
    Bytes der = unhex(issuer + c.first);
    der.insert(der.begin(), {0x30, static_cast<unsigned char>(der.size())});
    ASNCertificateRequest r;
    const int got = r.decodeVector(der);
    EXPECT_EQ(got > 0 ? 1 : got, c.second);
  }
  ASNCertificateRequest r;
  EXPECT_FALSE(r.setIdentifier(3, nullptr, 0));
  EXPECT_EQ(r.requestType(), -1);
}

}  // namespace
