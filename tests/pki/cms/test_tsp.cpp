// Time-stamp requests, responses and tokens made by openssl ts
// (tests/data/pki/tsp/gen.sh): decoded, re-encoded byte for byte and read as
// openssl reads them (its -text output beside each file): imprint, policy,
// nonce, certReq, status texts and failure bits, serial, time, accuracy,
// ordering, TSA name; the ESSCertID (v1) and ESSCertIDV2 signing-certificate
// attributes against the TSA certificate; the token's signature with the
// TSA's key. Hand-made variants for the decoding rules of the optional
// members.
#include "pki/test_cms_support.h"

#include "pki/x509/cert.h"
#include "pki/cms/esscades.h"
#include "pki/cms/tsp.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

using cmstest::Bytes;
using cmstest::decodeBytes;
using cmstest::encodeOf;
using cmstest::octets;

Bytes readTsp(const std::string& name) { return cmstest::readData("tsp/" + name); }

// openssl's -text reading: "Key: value" lines.
std::map<std::string, std::string> openslText(const std::string& file) {
  std::map<std::string, std::string> out;
  const Bytes b = readTsp(file + ".txt");
  std::string text(b.begin(), b.end());
  size_t i = 0;
  while (i < text.size()) {
    size_t e = text.find('\n', i);
    if (e == std::string::npos) e = text.size();
    const std::string line = text.substr(i, e - i);
    const size_t colon = line.find(": ");
    if (colon != std::string::npos && line[0] != ' ')
      out[line.substr(0, colon)] = line.substr(colon + 2);
    i = e + 1;
  }
  return out;
}

std::string hexOf(const ASNinteger& v) {
  char buf[128];
  if (!v.toHex(buf, sizeof buf)) return "?";
  return std::string("0x") + buf;
}

// The TSTInfo of a token: decoded from the encapsulated content.
void readTstInfo(const SignedMessage& token, TimeStampTokenInfo* info) {
  const ASNoctstr& e = token.value().encapContentInfo.value();
  ASSERT_EQ(token.value().encapContentInfo.contentType, id_ct_TSTInfo);
  ASSERT_EQ(info->decodeOctets(e), e.length);
  EXPECT_EQ(encodeOf(*info), octets(e));
}

std::string genTimeText(const ASNgenTime& t) {
  static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s %2d %02d:%02d:%02d %d GMT", months[(t.month + 11) % 12], t.day,
                t.hour, t.minute, t.second, t.year);
  return buf;
}

std::string accuracyText(const TimeStampTokenInfo& info) {
  if (!info.accuracyPresent) return "unspecified";
  const Accuracy& a = info.accuracy;
  auto part = [](const ASNinteger& v, bool present, const char* unit) {
    return (present ? hexOf(v) : std::string("unspecified")) + " " + unit;
  };
  return part(a.seconds, a.secondsPresent, "seconds") + ", " +
         part(a.millis, a.millisPresent, "millis") + ", " +
         part(a.micros, a.microsPresent, "micros");
}

// The hash id of a digest algorithm (0 when unknown).
int hashIdOf(const AlgorithmIdentifier& a) {
  int hashId = 0, len = 0;
  return digestOidToType(a.algorithm, &len, &hashId) ? hashId : 0;
}

SignedCertificate tsaCertificate() {
  SignedCertificate c;
  const Bytes der = readTsp("tsa.der");
  EXPECT_EQ(decodeBytes(c, der), static_cast<int>(der.size()));
  return c;
}

// ---------------------------------------------------------------------------

TEST(TspOpenssl, Requests) {
  const Bytes data = readTsp("data.txt");
  struct Case {
    const char* file;
    int hashId;
    const char* policy;  // null: none
  };
  for (const Case& c :
       {Case{"req_sha256_nonce_cert.tsq", 3, nullptr}, Case{"req_sha1_nononce.tsq", 1, nullptr},
        Case{"req_sha512_policy.tsq", 5, "1.2.3.4.5"},
        Case{"req_bad_policy.tsq", 3, "1.2.3.9.9"}}) {
    SCOPED_TRACE(c.file);
    const Bytes der = readTsp(c.file);
    auto text = openslText(c.file);
    TimeStampRequest req;
    ASSERT_EQ(decodeBytes(req, der), static_cast<int>(der.size()));
    EXPECT_EQ(encodeOf(req), der);
    EXPECT_EQ(req.version.toLong(), 1u);
    EXPECT_EQ(hashIdOf(req.messageImprint.digestAlgorithm), c.hashId);
    EXPECT_EQ(octets(req.messageImprint.digest), cmstest::hashOf(c.hashId, data));
    EXPECT_EQ(req.reqPolicyPresent != 0, c.policy != nullptr);
    if (c.policy) {
      EXPECT_EQ(req.reqPolicy, ASNobjectId(c.policy));
    }
    EXPECT_EQ(req.noncePresent ? hexOf(req.nonce) : "unspecified", text["Nonce"]);
    EXPECT_EQ(req.certReqPresent && req.certReq.get() ? "yes" : "no", text["Certificate required"]);
  }
}

TEST(TspOpenssl, ResponsesAndTokens) {
  const Bytes data = readTsp("data.txt");
  const Bytes tsaDer = readTsp("tsa.der");
  SignedCertificate tsa = tsaCertificate();
  for (const auto& v : pkitest::readFixture("tsp/verify.txt")) EXPECT_EQ(v.at(1), "verified");
  struct Case {
    const char* file;
    const char* policy;
    int essHash;  // 1 ESSCertID (SHA-1), else ESSCertIDV2 with this hash
    bool certs;   // the TSA's certificate is in the token
  };
  for (const Case& c : {Case{"resp_plain_v1.tsr", "1.2.3.4.1", 1, false},
                        Case{"resp_full_v2.tsr", "1.2.3.4.1", 3, true},
                        Case{"resp_v2_sha512.tsr", "1.2.3.4.5", 5, true}}) {
    SCOPED_TRACE(c.file);
    const Bytes der = readTsp(c.file);
    auto text = openslText(c.file);
    TimeStampResponse resp;
    ASSERT_EQ(decodeBytes(resp, der), static_cast<int>(der.size()));
    EXPECT_EQ(encodeOf(resp), der);
    EXPECT_EQ(resp.status.status.toLong(), 0u);
    EXPECT_EQ(resp.status.statusStringPresent, 0);
    ASSERT_EQ(resp.timeStampTokenPresent, 1);
    TimeStampResponse view;
    ASSERT_EQ(decodeBytes(view, der, ASN_FLAG_CONST), static_cast<int>(der.size()));
    EXPECT_EQ(encodeOf(view), der);

    TimeStampTokenInfo info;
    readTstInfo(resp.timeStampToken, &info);
    EXPECT_EQ(info.policy, ASNobjectId(c.policy));
    EXPECT_EQ(hexOf(info.serialNumber), text["Serial number"]);
    EXPECT_EQ(genTimeText(info.genTime), text["Time stamp"]);
    EXPECT_EQ(accuracyText(info), text["Accuracy"]);
    EXPECT_EQ(info.orderingPresent && info.ordering.get() ? "yes" : "no", text["Ordering"]);
    EXPECT_EQ(info.noncePresent ? hexOf(info.nonce) : "unspecified", text["Nonce"]);
    EXPECT_EQ(info.tsaPresent != 0, text["TSA"] != "unspecified");
    if (info.tsaPresent) {
      // [0] { directoryName [4] { Name } }: the TSA certificate's subject.
      const auto name =
          cmstest::split(Bytes(info.tsa.content(), info.tsa.content() + info.tsa.length));
      ASSERT_EQ(name.size(), 1u);
      EXPECT_EQ(name[0].tag, 0xA4);
      EXPECT_EQ(name[0].content, encodeOf(tsa.tbsCertificate.subject));
    }
    EXPECT_EQ(octets(info.messageImprint.digest),
              cmstest::hashOf(hashIdOf(info.messageImprint.digestAlgorithm), data));

    // The token: signed by the TSA over the TSTInfo octets.
    const SignedData& sd = resp.timeStampToken.value();
    EXPECT_EQ(sd.certificatesPresent != 0, c.certs);
    const SignerInfo& si = *sd.signerInfos.GetHead();
    EXPECT_EQ(cmstest::verifySigner(sd, si, octets(sd.encapContentInfo.value()), &tsa),
              SubPubKeyInfo::SIG_VALID);

    // The signing-certificate attribute names the TSA certificate.
    if (c.essHash == 1) {
      SigningCertificate sc;
      ASSERT_TRUE(getAttributeValue(si.signedAttrs, id_aa_signingCertificate, sc, 0));
      ASSERT_EQ(sc.certs.GetCount(), 1);
      EXPECT_EQ(octets(sc.certs.GetHead()->certHash), cmstest::hashOf(1, tsaDer));
      EXPECT_EQ(findAttribute(si.signedAttrs, id_aa_signingCertificateV2), nullptr);
    } else {
      SigningCertificateV2 sc;
      ASSERT_TRUE(getAttributeValue(si.signedAttrs, id_aa_signingCertificateV2, sc, 0));
      ASSERT_EQ(sc.certs.GetCount(), 1);
      const ESSCertIDV2& id = *sc.certs.GetHead();
      EXPECT_EQ(hashIdOf(id.hashAlgorithm), c.essHash);
      EXPECT_EQ(octets(id.certHash), cmstest::hashOf(c.essHash, tsaDer));
      // The value re-encodes as openssl wrote it: SHA-256 is the default and left out.
      const Attribute* a = findAttribute(si.signedAttrs, id_aa_signingCertificateV2);
      EXPECT_EQ(encodeOf(sc), encodeOf(*a->attrValues.GetHead()));
    }
  }
  // The bare token is the response's token.
  const Bytes tokenDer = readTsp("token_full.der");
  TimeStampToken token;
  ASSERT_EQ(decodeBytes(token.token, tokenDer), static_cast<int>(tokenDer.size()));
  readTstInfo(token.token, &token.tstInfo);
  EXPECT_EQ(hexOf(token.tstInfo.serialNumber), openslText("token_full.der")["Serial number"]);
  EXPECT_EQ(token.status, 1);
  EXPECT_EQ(token.qualification, 1);
  EXPECT_FALSE(token.checked);
  token.signerCertificate.reset(new SignedCertificate(tsa));
  token.signerSubject.reset(new DistinguishedName(tsa.tbsCertificate.subject));
}

TEST(TspOpenssl, Rejections) {
  struct Case {
    const char* file;
    int failBit;  // PKIFailureInfo bit
  };
  for (const Case& c : {Case{"resp_reject_policy.tsr", 15}, Case{"resp_reject_digest.tsr", 0}}) {
    SCOPED_TRACE(c.file);
    const Bytes der = readTsp(c.file);
    auto text = openslText(c.file);
    TimeStampResponse resp;
    ASSERT_EQ(decodeBytes(resp, der), static_cast<int>(der.size()));
    EXPECT_EQ(encodeOf(resp), der);
    EXPECT_EQ(resp.status.status.toLong(), static_cast<uint32_t>(PKIStatusInfo::REJECTION));
    EXPECT_EQ(text["Status"], "Rejected.");
    EXPECT_EQ(resp.timeStampTokenPresent, 0);
    ASSERT_EQ(resp.status.statusStringPresent, 1);
    ASSERT_EQ(resp.status.statusString.GetCount(), 1);
    const ASNany& s = *resp.status.statusString.GetHead();
    EXPECT_EQ(s.tag, 0x0C);
    EXPECT_EQ(std::string(s.content(), s.content() + s.length), text["Status description"]);
    ASSERT_EQ(resp.status.failInfoPresent, 1);
    EXPECT_EQ(resp.status.failInfo.getBit(c.failBit), 1);
    int set = 0;
    for (int i = 0; i < resp.status.failInfo.bitCount(); ++i) set += resp.status.failInfo.getBit(i);
    EXPECT_EQ(set, 1);
  }
}

// ---------------------------------------------------------------------------
// hand-made encodings

// A TSTInfo content with the optional elements given (hex), in that order.
Bytes tstInfo(const std::string& optional) {
  const std::string mandatory =
      "020101"      // version
      "06032a0304"  // policy
      "301f300706052b0e03021a0414" +
      std::string(40, 'a') +                 // imprint (SHA-1)
      "020105"                               // serial
      "180f32303236303130323033303430355a";  // genTime
  return cmstest::encodeTlv(0x30, pkitest::unhex(mandatory + optional));
}

TEST(TspRules, OptionalMembersOfTstInfoAndRequest) {
  const std::string accuracy = "3006020101800164", ordering = "0101ff", nonce = "02020102",
                    tsa = "a00aa4083006310430020600", ext = "a10c300a0603551d0e0403040100";
  struct Case {
    const char* name;
    std::string optional;
    bool ok;
  };
  const std::vector<Case> cases = {
      {"none", "", true},
      {"all in order", accuracy + ordering + nonce + tsa + ext, true},
      {"all in another order", ext + nonce + tsa + ordering + accuracy, true},
      {"six", accuracy + ordering + nonce + tsa + ext + nonce, false},
      {"twice", nonce + nonce, false},
      {"other context [2]", "a2020500", false},
      {"primitive [0]", "800100", false},
      {"unknown first", "0500", false},
      // After a recognised member an element of no known kind is passed
      // over, and counts toward the five.
      {"unknown after a member", accuracy + "0500", true},
      {"unknown among them", nonce + "0c026f6b" + accuracy, true},
      {"unknown as the sixth", accuracy + "0500" + ordering + nonce + tsa + ext, false},
      {"context [2] after a member", accuracy + "a2020500", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes der = tstInfo(c.optional);
    TimeStampTokenInfo info;
    EXPECT_EQ(decodeBytes(info, der), c.ok ? static_cast<int>(der.size()) : 0);
    if (c.ok && c.optional.find("0500") != std::string::npos) {
      EXPECT_TRUE(info.accuracyPresent);
      EXPECT_FALSE(info.orderingPresent || info.noncePresent);
      continue;
    }
    if (c.ok && c.optional.find("0c02") != std::string::npos) {
      EXPECT_TRUE(info.accuracyPresent && info.noncePresent);
      EXPECT_EQ(encodeOf(info), tstInfo(accuracy + nonce));
      continue;
    }
    if (!c.ok || c.optional.empty()) continue;
    EXPECT_TRUE(info.accuracyPresent && info.orderingPresent && info.noncePresent &&
                info.tsaPresent && info.extensionsPresent);
    EXPECT_EQ(info.accuracy.millis.toLong(), 100u);
    // Written in the standard's order whatever the received order.
    EXPECT_EQ(encodeOf(info), tstInfo(accuracy + ordering + nonce + tsa + ext));
  }
  // ordering FALSE and certReq FALSE are written whenever their flag is set,
  // so a received value re-encodes as it came; a cleared flag leaves them out.
  TimeStampTokenInfo falseOrdering;
  const Bytes fo = tstInfo("010100");
  ASSERT_EQ(decodeBytes(falseOrdering, fo), static_cast<int>(fo.size()));
  EXPECT_EQ(falseOrdering.orderingPresent, 1);
  EXPECT_EQ(encodeOf(falseOrdering), fo);
  falseOrdering.orderingPresent = 0;
  EXPECT_EQ(encodeOf(falseOrdering), tstInfo(""));

  const std::string reqHead = "020101301f300706052b0e03021a0414" + std::string(40, 'b');
  auto request = [&](const std::string& optional) {
    return cmstest::encodeTlv(0x30, pkitest::unhex(reqHead + optional));
  };
  struct ReqCase {
    const char* name;
    std::string optional;
    bool ok;
  };
  for (const ReqCase& c :
       {ReqCase{"four", "06032a0305" + nonce + "0101ff" + "a00c300a0603551d0e0403040100", true},
        ReqCase{"four shuffled", "0101ff" + nonce + "a00c300a0603551d0e0403040100" + "06032a0305",
                true},
        ReqCase{"five", "06032a0305" + nonce + "0101ff" + "a00c300a0603551d0e0403040100" + nonce,
                false},
        ReqCase{"unknown", "0500", false}}) {
    SCOPED_TRACE(c.name);
    TimeStampRequest req;
    const Bytes der = request(c.optional);
    EXPECT_EQ(decodeBytes(req, der), c.ok ? static_cast<int>(der.size()) : 0);
  }
  TimeStampRequest built;
  ASSERT_EQ(decodeBytes(built, request("")), static_cast<int>(request("").size()));
  built.certReqPresent = 1;
  built.certReq.set(false);
  EXPECT_EQ(encodeOf(built), request("010100"));
  built.certReq.set(true);
  EXPECT_EQ(encodeOf(built), request("0101ff"));
  // A received request, read privately, gives its octets back.
  for (const std::string& optional : {std::string("010100"), "06032a0305" + nonce + "010100"}) {
    TimeStampRequest received;
    const Bytes der = request(optional);
    ASSERT_EQ(decodeBytes(received, der), static_cast<int>(der.size()));
    EXPECT_EQ(encodeOf(received), der) << optional;
  }
}

TEST(TspRules, StatusInfoAndResponse) {
  struct Case {
    const char* name;
    const char* hex;
    bool ok, text, fail;
  };
  for (const Case& c :
       {Case{"status only", "3003020100", true, false, false},
        Case{"text", "300902010230040c026f6b", true, true, false},
        Case{"failInfo only", "3007020102030204a0", true, false, true},
        Case{"text and failInfo", "300d02010230040c026f6b030204a0", true, true, true},
        Case{"failInfo before text", "300d020102030204a030040c026f6b", false, false, false},
        Case{"text as SET", "300902010231040c026f6b", false, false, false}}) {
    SCOPED_TRACE(c.name);
    const Bytes der = pkitest::unhex(c.hex);
    PKIStatusInfo s;
    ASSERT_EQ(decodeBytes(s, der), c.ok ? static_cast<int>(der.size()) : 0);
    if (!c.ok) continue;
    EXPECT_EQ(s.statusStringPresent != 0, c.text);
    EXPECT_EQ(s.failInfoPresent != 0, c.fail);
    EXPECT_EQ(encodeOf(s), der);
    // A response holding only a status (a rejection) has no token.
    TimeStampResponse r;
    const Bytes resp = cmstest::encodeTlv(0x30, der);
    ASSERT_EQ(decodeBytes(r, resp), static_cast<int>(resp.size()));
    EXPECT_EQ(r.timeStampTokenPresent, 0);
    EXPECT_EQ(encodeOf(r), resp);
  }
}

}  // namespace
