// OCSP requests and responses made by openssl (tests/data/pki/ocsp/gen.sh):
// decoding, byte-exact re-encoding, the CertIDs openssl reports, the
// response signature with the responder's key, hand-made encodings for
// the decoding rules of the optional and context-tagged members, and
// long-form lengths in the signed parts.
#include "pki/ocsp/ocspreq.h"
#include "pki/ocsp/ocspresp.h"
#include "pki/common/oids.h"
#include "pki/ocsp/vessikreq.h"
#include "pki/fixture_lines.h"

#include "pki/certtest.h"
#include "pki/keytest.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using pkitest::unhex;

Bytes readOcsp(const std::string& name) {
  std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/pki/ocsp/" + name, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

Bytes encodeOf(const ASNobject& o) {
  Bytes out;
  EXPECT_GT(o.encodeVector(out), 0);
  EXPECT_EQ(static_cast<int>(out.size()), o.encodedLength());
  return out;
}

Bytes octets(const ASNoctstr& s) {
  return s.data() ? Bytes(s.data(), s.data() + s.length) : Bytes();
}

// Rows of expect.tsv (what openssl reports) for one file and kind.
struct Expected {
  std::string status, nameHash, keyHash, serial;
};
std::vector<Expected> expected(const std::string& file, const std::string& kind) {
  std::vector<Expected> out;
  for (const auto& r : pkitest::readFixture("ocsp/expect.tsv"))
    if (r.size() == 6 && r[0] == file && r[1] == kind) out.push_back({r[2], r[3], r[4], r[5]});
  return out;
}

std::string hexOf(const Bytes& b);

// One element: identifier `id` (hex) around the content `body` (hex).
std::string tlv(const std::string& id, const std::string& body) {
  const size_t n = body.size() / 2;
  std::string len = n < 128 ? hexOf(Bytes{static_cast<unsigned char>(n)})
                            : "81" + hexOf(Bytes{static_cast<unsigned char>(n)});
  return id + len + body;
}

// A CertID with SHA-1, empty hashes and serial 1.
const std::string kCertId = tlv("30", tlv("30", "06052b0e03021a") +
                                          "0400"
                                          "0400"
                                          "020101");

std::string hexOf(const Bytes& b) {
  static const char* d = "0123456789ABCDEF";
  std::string s;
  for (unsigned char c : b) {
    s += d[c >> 4];
    s += d[c & 15];
  }
  return s;
}

std::string serialHex(const ASNinteger& i) {
  Bytes b = octets(i);
  while (b.size() > 1 && b[0] == 0) b.erase(b.begin());
  return hexOf(b);
}

void expectCertId(const CertID& id, const Expected& e) {
  EXPECT_EQ(hexOf(octets(id.issuerNameHash)), e.nameHash);
  EXPECT_EQ(hexOf(octets(id.issuerKeyHash)), e.keyHash);
  EXPECT_EQ(serialHex(id.serialNumber), e.serial);
}

// ---------------------------------------------------------------------------
// Requests

struct ReqCase {
  const char* file;
  int requests;
  bool nonce;    // requestExtensions with the nonce
  bool sig;      // optionalSignature
  int sigCerts;  // certificates beside the signature (-1: no list)
};

const ReqCase kRequests[] = {
    {"req_nonce.der", 1, true, false, -1},  {"req_nononce.der", 1, false, false, -1},
    {"req_multi.der", 3, false, false, -1}, {"req_sha256.der", 1, true, false, -1},
    {"req_signed.der", 1, true, true, 1},   {"req_signed_nocerts.der", 1, false, true, -1},
};

TEST(OcspRequest, OpensslRequestsDecodeAndReencode) {
  for (const ReqCase& c : kRequests) {
    SCOPED_TRACE(c.file);
    const Bytes der = readOcsp(c.file);
    ASSERT_FALSE(der.empty());
    for (unsigned char flags : {0, 1, 3}) {
      OCSPRequest req;
      ASSERT_EQ(req.decodeVector(der, flags), static_cast<int>(der.size()));
      EXPECT_EQ(encodeOf(req), der);
      const TBSRequest& tbs = req.tbsRequest;
      EXPECT_FALSE(tbs.versionPresent);
      EXPECT_EQ(tbs.version->toLong(), 0u);
      EXPECT_EQ(tbs.requestExtensionsPresent != 0, c.nonce);
      if (c.nonce) {
        EXPECT_NE(findExtensionByOid(*tbs.requestExtensions, id_pkix_ocsp_nonce), nullptr);
      }
      EXPECT_EQ(req.optionalSignaturePresent != 0, c.sig);
      if (c.sig) {
        EXPECT_EQ(req.optionalSignature->certsPresent != 0, c.sigCerts >= 0);
        if (c.sigCerts >= 0) {
          EXPECT_EQ(req.optionalSignature->certs->GetCount(), c.sigCerts);
        }
      }
      const auto rows = expected(c.file, "req");
      ASSERT_EQ(static_cast<int>(rows.size()), c.requests);
      ASSERT_EQ(tbs.requestList.GetCount(), c.requests);
      size_t i = 0;
      for (POSITION pos = tbs.requestList.GetHeadPosition(); pos; ++i)
        expectCertId(tbs.requestList.GetNext(pos)->reqCert, rows[i]);
    }
  }
}

// The CertID of a request is the issuer's name and key digest: the values
// openssl put there are what this library computes from the CA certificate.
TEST(OcspRequest, CertIdHashesFromIssuerCertificate) {
  SignedCertificate ca;
  const Bytes der = readOcsp("ca.der");
  ASSERT_EQ(ca.decodeVector(der), static_cast<int>(der.size()));
  const Expected sha1Row = expected("req_nononce.der", "req").at(0);
  const Expected sha256Row = expected("req_sha256.der", "req").at(0);
  unsigned char d[32];
  ASSERT_EQ(ca.tbsCertificate.subject.digest(1, d, 20), 1);
  EXPECT_EQ(hexOf(Bytes(d, d + 20)), sha1Row.nameHash);
  ASSERT_EQ(ca.tbsCertificate.subject.digest(3, d, 32), 1);
  EXPECT_EQ(hexOf(Bytes(d, d + 32)), sha256Row.nameHash);
  ASSERT_TRUE(ca.tbsCertificate.subjectPublicKeyInfo.keyIdentifier(d));
  EXPECT_EQ(hexOf(Bytes(d, d + 20)), sha1Row.keyHash);
}

// Hand-made TBSRequest contents: the element order rules.
TEST(OcspRequest, TbsRequestElementOrder) {
  const std::string list = tlv("30", tlv("30", kCertId));
  const std::string ver = "a003020100";
  const std::string name =
      "a1068204"
      "61626364";  // [1] { dNSName "abcd" }
  const std::string ext = "a2023000";
  auto tbs = [](const std::string& body) { return unhex(tlv("30", body)); };
  struct Case {
    std::string body;
    int result;         // 1 decoded, else the decode's answer
    std::string canon;  // the re-encoding's content when it is not `body`
  } cases[] = {
      {list, 1, ""},
      {ver + list, 1, ""},
      // The first three members may come in any order; they are written
      // back in schema order.
      {name + ver + list, 1, ver + name + list},
      {list + name, 1, name + list},
      {ver + name + list + ext, 1, ""},
      {ext + list, 0, ""},        // extensions before the list
      {ver + ver + list, 0, ""},  // a second version
      {list + list, 0, ""},       // a second list
      {name, 0, ""},              // no list
      {list + ext + ext, 0, ""},
      {"8003020100" + list, 0, ""},  // primitive [0] is no version
      {"a303020100" + list, 0, ""},  // unknown context tag
      {list + "0500", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    const Bytes der = tbs(c.body);
    TBSRequest t;
    const int r = t.decodeVector(der);
    if (c.result == 1) {
      ASSERT_EQ(r, static_cast<int>(der.size()));
      EXPECT_EQ(encodeOf(t), c.canon.empty() ? der : tbs(c.canon));
      EXPECT_EQ(t.version->toLong(), 0u);
      EXPECT_EQ(t.versionPresent != 0, c.body.find(ver) != std::string::npos);
    } else {
      EXPECT_EQ(r, c.result);
    }
  }
}

TEST(OcspRequest, SignaturePresentFlagAddsElement) {
  const Bytes der = readOcsp("req_nononce.der");
  OCSPRequest req;
  ASSERT_GT(req.decodeVector(der), 0);
  ASSERT_FALSE(req.optionalSignaturePresent);
  ASSERT_TRUE(req.optionalSignature->signatureAlgorithm.setRsaSignature(3));
  const unsigned char bits[] = {1, 2, 3};
  ASSERT_EQ(req.optionalSignature->signature.set(bits, 3, 0), 1);
  req.optionalSignaturePresent = 1;
  const Bytes out = encodeOf(req);
  OCSPRequest back;
  ASSERT_EQ(back.decodeVector(out), static_cast<int>(out.size()));
  EXPECT_TRUE(back.optionalSignaturePresent);
  EXPECT_FALSE(back.optionalSignature->certsPresent);
  EXPECT_EQ(back.optionalSignature->signature.bitsLength(), 3);
  EXPECT_EQ(encodeOf(back.tbsRequest), encodeOf(req.tbsRequest));
}

// ---------------------------------------------------------------------------
// Responses

struct RespCase {
  const char* file;
  int status;
  const char* signerKey;  // SubjectPublicKeyInfo of the responder
  const char* otherKey;   // a key of another algorithm
  bool byKey;
  int certs;  // -1 no certificate list
  bool nextUpdate;
  bool nonce;
};

const RespCase kResponses[] = {
    {"resp_good_name.der", 0, "responder_pub.der", "responder_ec_pub.der", false, 1, true, true},
    {"resp_good_key.der", 0, "responder_pub.der", "responder_ec_pub.der", true, 1, true, false},
    {"resp_multi_nocerts.der", 0, "responder_pub.der", "responder_ec_pub.der", false, -1, true,
     false},
    {"resp_revoked_key_nocerts.der", 0, "responder_pub.der", "responder_ec_pub.der", true, -1, true,
     true},
    {"resp_multi_ec.der", 0, "responder_ec_pub.der", "responder_pub.der", false, 1, true, false},
    {"resp_nonextupdate.der", 0, "responder_pub.der", "responder_ec_pub.der", false, 1, false,
     false},
    {"resp_malformed.der", 1, nullptr, nullptr, false, -1, false, false},
    {"resp_internalerror.der", 2, nullptr, nullptr, false, -1, false, false},
    {"resp_trylater.der", 3, nullptr, nullptr, false, -1, false, false},
    {"resp_sigrequired.der", 5, nullptr, nullptr, false, -1, false, false},
    {"resp_unauthorized.der", 6, nullptr, nullptr, false, -1, false, false},
};

SubPubKeyInfo keyOf(const char* file) {
  SubPubKeyInfo k;
  const Bytes der = readOcsp(file);
  EXPECT_EQ(k.decodeVector(der), static_cast<int>(der.size()));
  return k;
}

int statusIndexOf(const std::string& s) {
  return s == "good" ? 0 : s == "revoked" ? 1 : s == "unknown" ? 2 : -1;
}

TEST(OcspResponse, OpensslResponsesDecodeReencodeAndVerify) {
  for (const RespCase& c : kResponses) {
    SCOPED_TRACE(c.file);
    const Bytes der = readOcsp(c.file);
    ASSERT_FALSE(der.empty());
    OCSPResponse resp;
    ASSERT_EQ(resp.decodeVector(der), static_cast<int>(der.size()));
    EXPECT_EQ(encodeOf(resp), der);
    EXPECT_EQ(static_cast<int>(resp.responseStatus.toLong()), c.status);
    if (c.status != 0) {
      EXPECT_FALSE(resp.responseBytesPresent);
      const auto rows = expected(c.file, "status");
      ASSERT_EQ(rows.size(), 1u);
      EXPECT_EQ(rows[0].status, std::to_string(c.status));
      continue;
    }
    ASSERT_TRUE(resp.responseBytesPresent);
    EXPECT_TRUE(resp.responseBytes->responseType == id_pkix_ocsp_basic);
    // A private copy and a view of the received octets alike.
    for (unsigned char flags : {0, 1}) {
      SCOPED_TRACE(flags);
      BasicOCSPResponse basic;
      const ASNoctstr& inner = resp.responseBytes->response;
      ASSERT_EQ(basic.decodeBuffer(inner.data(), inner.length, flags), inner.length);
      EXPECT_EQ(encodeOf(basic), octets(inner));
      const ResponseData& rd = basic.tbsResponseData;
      EXPECT_FALSE(rd.versionPresent);
      EXPECT_EQ(rd.responderID.chosenIndex(), c.byKey ? ResponderID::BY_KEY : ResponderID::BY_NAME);
      EXPECT_EQ(rd.responseExtensionsPresent != 0, c.nonce);
      EXPECT_EQ(basic.certsPresent != 0, c.certs >= 0);
      if (c.certs >= 0) {
        EXPECT_EQ(basic.certs->GetCount(), c.certs);
      }
      const auto rows = expected(c.file, "resp");
      ASSERT_EQ(rd.responses.GetCount(), static_cast<int>(rows.size()));
      size_t i = 0;
      for (POSITION pos = rd.responses.GetHeadPosition(); pos; ++i) {
        const SingleResponse* s = rd.responses.GetNext(pos);
        expectCertId(s->certID, rows[i]);
        EXPECT_EQ(s->certStatus.status(), statusIndexOf(rows[i].status));
        EXPECT_EQ(s->nextUpdatePresent != 0, c.nextUpdate);
        EXPECT_EQ(s->thisUpdate.getTag(), TAG_GENERAL_TIME);
        if (s->certStatus.status() == CertStatus::STATUS_REVOKED) {
          EXPECT_TRUE(s->certStatus.revoked.revocationReasonPresent);
          EXPECT_EQ(s->certStatus.revoked.revocationReason->toLong(), 1u);  // keyCompromise
          EXPECT_EQ(s->certStatus.revoked.revocationTime.toTime64(false), 1705314600);
        }
      }
      // The signature, with the responder's key and with its certificate.
      SubPubKeyInfo key = keyOf(c.signerKey);
      EXPECT_EQ(basic.verifySignature(key), 1);
      if (c.certs > 0) {
        EXPECT_EQ(basic.verifySignature(*basic.certs->GetHead()), 1);
      }
      SubPubKeyInfo other = keyOf(c.otherKey);
      EXPECT_EQ(basic.verifySignature(other), -1);  // key does not fit the algorithm
      // A copy of the signed data keeps verifying; a change does not.
      BasicOCSPResponse copy;
      copy.tbsResponseData = basic.tbsResponseData;
      copy.signatureAlgorithm = basic.signatureAlgorithm;
      copy.signature = basic.signature;
      EXPECT_EQ(copy.verifySignature(key), 1);
      copy.tbsResponseData.versionPresent = 1;
      EXPECT_EQ(copy.verifySignature(key), -3);
    }
  }
}

// The responder certificate carried in the response is signed over a TBS that
// is not DER (openssl verifies it and the response: gen_nonder.sh here). Read
// from a private decode of the response and from a view alike, and from a
// copy made as the revocation manager makes one (written and read again), it
// keeps its octets: it verifies under its CA and the response under it.
TEST(OcspResponse, ResponderSignedOverNonDerKeepsItsOctets) {
  const Bytes der = readOcsp("resp_nonder_responder.der");
  const Bytes responder = readOcsp("nonder_responder.der");
  const Bytes caDer = readOcsp("nonder_ca.der");
  SignedCertificate ca;
  ASSERT_EQ(static_cast<int>(caDer.size()), ca.decodeVector(caDer, ASN_FLAG_CONST | ASN_FLAG_COPY));
  for (unsigned char flags : {0u, ASN_FLAG_CONST | ASN_FLAG_COPY}) {
    SCOPED_TRACE(static_cast<int>(flags));
    OCSPResponse resp;
    ASSERT_EQ(resp.decodeVector(der, flags), static_cast<int>(der.size()));
    ASSERT_TRUE(resp.responseBytesPresent);
    const ASNoctstr& inner = resp.responseBytes->response;
    BasicOCSPResponse basic;
    ASSERT_EQ(basic.decodeBuffer(inner.data(), inner.length, 0), inner.length);
    BasicOCSPResponse copy;
    const Bytes written = encodeOf(basic);
    ASSERT_EQ(copy.decodeVector(written), static_cast<int>(written.size()));
    for (const BasicOCSPResponse* b : {&basic, &copy}) {
      ASSERT_TRUE(b->certsPresent);
      ASSERT_EQ(b->certs->GetCount(), 1);
      const SignedCertificate& cert = *b->certs->GetHead();
      EXPECT_EQ(encodeOf(cert), responder);
      EXPECT_EQ(cert.verifySignature(ca), SignedCertificate::CERT_SIG_VALID);
      EXPECT_EQ(b->verifySignature(cert), 1);
    }
  }
}

TEST(OcspResponse, SignatureResultTable) {
  const Bytes der = readOcsp("resp_good_name.der");
  OCSPResponse resp;
  ASSERT_GT(resp.decodeVector(der), 0);
  BasicOCSPResponse basic;
  ASSERT_GT(basic.decodeOctets(resp.responseBytes->response), 0);
  SubPubKeyInfo key = keyOf("responder_pub.der");
  ASSERT_EQ(basic.verifySignature(key), 1);
  const Bytes good(basic.signature.data(), basic.signature.data() + basic.signature.length);

  Bytes flipped = good;
  flipped.back() ^= 1;
  ASSERT_EQ(basic.signature.set(flipped.data() + 1, static_cast<int>(flipped.size()) - 1, 0), 1);
  EXPECT_EQ(basic.verifySignature(key), -3);  // does not match

  basic.signature.clear();
  EXPECT_EQ(basic.verifySignature(key), -3);  // no signature at all

  ASSERT_EQ(basic.signature.set(good.data() + 1, static_cast<int>(good.size()) - 1, 0), 1);
  ASSERT_TRUE(basic.signatureAlgorithm.set(id_md2, nullptr));
  EXPECT_EQ(basic.verifySignature(key), -4);  // unsupported

  // An EC-DSA value that is no (r, s) SEQUENCE is malformed.
  OCSPResponse ecResp;
  const Bytes ecDer = readOcsp("resp_multi_ec.der");
  ASSERT_GT(ecResp.decodeVector(ecDer), 0);
  BasicOCSPResponse ec;
  ASSERT_GT(ec.decodeOctets(ecResp.responseBytes->response), 0);
  SubPubKeyInfo ecKey = keyOf("responder_ec_pub.der");
  ASSERT_EQ(ec.verifySignature(ecKey), 1);
  const unsigned char junk[] = {0x04, 0x02, 0x01, 0x02};
  ASSERT_EQ(ec.signature.set(junk, 4, 0), 1);
  EXPECT_EQ(ec.verifySignature(ecKey), 0);
}

// Hand-made SingleResponse, ResponseData, CertStatus and OCSPResponse
// contents: the optional members are recognised by their identifier.
TEST(OcspResponse, OptionalMembersByTag) {
  const std::string& certId = kCertId;
  const std::string time =
      "180f"
      "32303234303131353130333030305a";  // GeneralizedTime
  const std::string next = "a011" + time;
  const std::string ext = "a1023000";
  auto seq = [](const std::string& body) { return unhex(tlv("30", body)); };
  struct Case {
    const char* what;
    std::string body;
    int result;
    int nextFlag, extFlag;
  } single[] = {
      {"plain", certId + "8000" + time, 1, 0, 0},
      {"next", certId + "8000" + time + next, 1, 1, 0},
      {"ext only", certId + "8200" + time + ext, 1, 0, 1},
      {"both", certId + "8000" + time + next + ext, 1, 1, 1},
      {"revoked", certId + tlv("a1", time) + time, 1, 0, 0},
      {"revoked reason", certId + tlv("a1", time + "a0030a0101") + time, 1, 0, 0},
      {"fourth is [2]", certId + "8000" + time + "a2023000", 0, 0, 0},
      {"ext before next", certId + "8000" + time + ext + next, 0, 0, 0},
      {"good with content", certId + "800105" + time, 0, 0, 0},
      {"constructed good", certId + "a000" + time, 0, 0, 0},
      {"primitive revoked", certId + "8100" + time, 0, 0, 0},
      {"status [3]", certId + "8300" + time, 0, 0, 0},
      {"reason primitive", certId + tlv("a1", time + "80010a") + time, 0, 0, 0},
  };
  for (const Case& c : single) {
    SCOPED_TRACE(c.what);
    const Bytes der = seq(c.body);
    SingleResponse s;
    const int r = s.decodeVector(der);
    if (c.result != 1) {
      EXPECT_EQ(r, c.result);
      continue;
    }
    ASSERT_EQ(r, static_cast<int>(der.size()));
    EXPECT_EQ(s.nextUpdatePresent, c.nextFlag);
    EXPECT_EQ(s.singleExtensionsPresent, c.extFlag);
    EXPECT_EQ(encodeOf(s), der);
  }

  const std::string byKey =
      "a2060404"
      "01020304";
  const std::string list = tlv("30", tlv("30", certId + "8000" + time));
  struct RdCase {
    const char* what;
    std::string body;
    int result;
    int version;
  } rd[] = {
      {"no version", byKey + time + list, 1, 0},
      {"version 0", "a003020100" + byKey + time + list, 1, 1},
      {"by name", "a1023000" + time + list + ext, 1, 0},
      {"two versions", "a003020100a003020100" + byKey + time + list, 0, 0},
      {"primitive version", "8003020100" + byKey + time + list, 0, 0},
      {"unknown element", "a3023000" + byKey + time + list, 0, 0},
      {"no responder", "a003020100" + time + list, 0, 0},
      {"responder by [1] primitive",
       "8102"
       "3000" +
           time + list,
       0, 0},
      {"ext not [1]", byKey + time + list + "a2023000", 0, 0},
  };
  for (const RdCase& c : rd) {
    SCOPED_TRACE(c.what);
    const Bytes der = seq(c.body);
    ResponseData d;
    const int r = d.decodeVector(der);
    if (c.result != 1) {
      EXPECT_EQ(r, c.result);
      continue;
    }
    ASSERT_EQ(r, static_cast<int>(der.size()));
    EXPECT_EQ(d.versionPresent, c.version);
    EXPECT_EQ(encodeOf(d), der);
  }

  struct OrCase {
    std::string hex;
    int result;
  } outer[] = {
      {"30030a0103", 5},
      {"30060a0100a1023000", 0},  // responseBytes under [1]
      {"30060a01008002"
       "3000",
       0},                  // primitive [0]
      {"30050a010305", 0},  // trailing octet
      {"3003020103", 0},    // INTEGER, not ENUMERATED
  };
  for (const OrCase& c : outer) {
    SCOPED_TRACE(c.hex);
    OCSPResponse o;
    EXPECT_EQ(o.decodeVector(unhex(c.hex)), c.result);
  }
}

TEST(OcspResponse, CopiesKeepMembersAndRefuseViews) {
  const Bytes der = readOcsp("resp_good_key.der");
  OCSPResponse resp;
  ASSERT_GT(resp.decodeVector(der), 0);
  BasicOCSPResponse basic;
  ASSERT_GT(basic.decodeBuffer(resp.responseBytes->response.data(),
                               resp.responseBytes->response.length, 1),
            0);

  ResponseData copy;
  copy = basic.tbsResponseData;
  EXPECT_EQ(encodeOf(copy), encodeOf(basic.tbsResponseData));
  CertID id;
  id = basic.tbsResponseData.responses.GetHead()->certID;
  EXPECT_EQ(encodeOf(id), encodeOf(basic.tbsResponseData.responses.GetHead()->certID));
  OCSPCertList certs;
  certs = *basic.certs;
  ASSERT_EQ(certs.GetCount(), 1);
  EXPECT_EQ(basic.verifySignature(*certs.GetHead()), 1);

  // A view of received octets is never a copy target.
  EXPECT_THROW(basic.tbsResponseData = copy, std::runtime_error);
  EXPECT_THROW(basic.tbsResponseData.responderID = copy.responderID, std::runtime_error);
}

// Truncated and damaged encodings answer the framework's codes (0 for a
// mismatch) and never read past the input.
TEST(OcspResponse, DamagedInputGivesMismatch) {
  for (const char* file : {"resp_good_name.der", "req_signed.der"}) {
    SCOPED_TRACE(file);
    const Bytes der = readOcsp(file);
    const bool isReq = std::string(file).rfind("req", 0) == 0;
    for (size_t cut = 0; cut < der.size(); cut += 7) {
      Bytes part(der.begin(), der.begin() + cut);
      int r;
      if (isReq) {
        OCSPRequest o;
        r = o.decodeVector(part);
      } else {
        OCSPResponse o;
        r = o.decodeVector(part);
      }
      EXPECT_EQ(r, 0) << cut;
    }
  }
}

// ---------------------------------------------------------------------------
// Long-form lengths (BER, as some responders write them)

Bytes basicOf(const std::string& file) {
  OCSPResponse resp;
  const Bytes der = readOcsp(file);
  EXPECT_EQ(resp.decodeVector(der), static_cast<int>(der.size()));
  return octets(resp.responseBytes->response);
}

Bytes digestOf(const ASNobject& o) {
  Bytes d(32);
  o.digest(3, d.data(), 32);
  return d;
}

// openssl signed the DER of each fixture. One element of a copy is given a
// long-form length: its re-encoding is still the signed DER, its received
// octets are not. A signature checked over the received octets therefore
// fails where the long form lies in the signed part, and holds elsewhere;
// a check over a re-encoding would hold everywhere.
struct LongFormCase {
  const char* what;
  std::vector<int> path;  // element given the long form (empty: none)
  bool keptPart;          // inside a part kept as received
  int signature;          // the message's signature check
  int certSignature;      // the responder certificate with the CA's key
};

// `der` with the element at `path` in the long form; *signedPart: the first
// element (the signed part) as it is then received.
Bytes withLongForm(const Bytes& der, const std::vector<int>& path, Bytes* signedPart) {
  certtest::Node tree = certtest::parseTree(der);
  if (!path.empty()) certtest::nodeAt(tree, path).longForm = true;
  *signedPart = certtest::writeTree(certtest::nodeAt(tree, {0}));
  return certtest::writeTree(tree);
}

TEST(OcspLongForm, ResponseSignaturesCoverTheReceivedOctets) {
  const Bytes der = basicOf("resp_good_name.der");
  SubPubKeyInfo key = keyOf("responder_pub.der");
  SignedCertificate ca;
  const Bytes caDer = readOcsp("ca.der");
  ASSERT_EQ(ca.decodeVector(caDer), static_cast<int>(caDer.size()));
  const LongFormCase cases[] = {
      {"as openssl made it", {}, true, 1, 1},
      {"producedAt", {0, 1}, true, -3, 1},
      {"responder name", {0, 0, 0}, true, -3, 1},
      {"the ResponseData itself", {0}, true, -3, 1},
      {"signature algorithm", {1}, false, 1, 1},
      {"certificate list", {3}, true, 1, 1},
      {"certificate serial", {3, 0, 0, 0, 1}, true, 1, -3},
  };
  for (const LongFormCase& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes signedPart;
    const Bytes received = withLongForm(der, c.path, &signedPart);
    ASSERT_EQ(received.size(), der.size() + (c.path.empty() ? 0 : 1));
    for (unsigned char flags : {0, 1}) {
      SCOPED_TRACE(static_cast<int>(flags));
      BasicOCSPResponse basic;
      ASSERT_EQ(basic.decodeVector(received, flags), static_cast<int>(received.size()));
      // Read in place: the octets as received. Private: DER lengths
      // around the parts kept as received.
      EXPECT_EQ(encodeOf(basic), flags || c.keptPart ? received : der);
      EXPECT_EQ(encodeOf(basic.tbsResponseData), signedPart);
      EXPECT_EQ(digestOf(basic.tbsResponseData), keytest::digestOf(3, signedPart));
      EXPECT_EQ(basic.verifySignature(key), c.signature);
      ASSERT_EQ(basic.certs->GetCount(), 1);
      const SignedCertificate& cert = *basic.certs->GetHead();
      EXPECT_EQ(cert.verifySignature(ca), c.certSignature);
      SignedCertificate certCopy(cert);
      EXPECT_EQ(certCopy.verifySignature(ca), c.certSignature);
      // A member-wise copy is a new value with its own (DER) encoding: it
      // is what was signed, so a check over re-encoded octets would pass.
      BasicOCSPResponse copy;
      copy.tbsResponseData = basic.tbsResponseData;
      copy.signatureAlgorithm = basic.signatureAlgorithm;
      copy.signature = basic.signature;
      EXPECT_EQ(copy.verifySignature(key), 1);
    }
  }
}

TEST(OcspLongForm, RequestSignatureCoversTheReceivedOctets) {
  const Bytes der = readOcsp("req_signed.der");
  const LongFormCase cases[] = {
      {"as openssl made it", {}, true, 1, 0},
      {"request serial", {0, 1, 0, 0, 3}, true, -3, 0},
      {"requestor name", {0, 0}, true, -3, 0},
      {"signature algorithm", {1, 0, 0}, false, 1, 0},
  };
  for (const LongFormCase& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes signedPart;
    const Bytes received = withLongForm(der, c.path, &signedPart);
    for (unsigned char flags : {0, 1}) {
      SCOPED_TRACE(static_cast<int>(flags));
      OCSPRequest req;
      ASSERT_EQ(req.decodeVector(received, flags), static_cast<int>(received.size()));
      EXPECT_EQ(encodeOf(req), flags || c.keptPart ? received : der);
      EXPECT_EQ(encodeOf(req.tbsRequest), signedPart);
      const Signature& sig = *req.optionalSignature;
      ASSERT_EQ(sig.certs->GetCount(), 1);
      const SubPubKeyInfo& requestor = sig.certs->GetHead()->tbsCertificate.subjectPublicKeyInfo;
      EXPECT_EQ(
          verifySignedObject(requestor, sig.signatureAlgorithm, req.tbsRequest, sig.signature),
          c.signature);
    }
  }
}

// The long forms the fuzzer found (tests/data/fuzz_regress): hand-made
// responses whose ResponseData holds them, and a request frame.
TEST(OcspLongForm, FuzzFindingsKeepTheirOctets) {
  auto regress = [](const std::string& name) {
    std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/fuzz_regress/" + name, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  };
  for (const char* name : {"ocspresp/repro-handmade-basic-ber-length.der",
                           "ocspresp/repro-handmade-basic-respondername-ber.der"}) {
    SCOPED_TRACE(name);
    const Bytes in = regress(name);
    ASSERT_FALSE(in.empty());
    for (unsigned char flags : {0, 1}) {
      BasicOCSPResponse basic;
      ASSERT_EQ(basic.decodeVector(in, flags), static_cast<int>(in.size()));
      EXPECT_TRUE(basic.tbsResponseData.isConstView());
      EXPECT_EQ(encodeOf(basic), in);
    }
  }
  // A request frame is signed by nobody: read privately it is written with
  // DER lengths, and that encoding reads back to itself.
  Bytes frame = regress("ocspreq/repro-crlrequest-ber-length.bin");
  ASSERT_EQ(frame.size(), 6u);
  frame.erase(frame.begin());  // the fuzz target's selector
  ASNCrlRequest inPlace, priv, again;
  ASSERT_EQ(inPlace.decodeVector(frame, 1), 5);
  EXPECT_EQ(encodeOf(inPlace), frame);
  ASSERT_EQ(priv.decodeVector(frame), 5);
  const Bytes der = encodeOf(priv);
  EXPECT_EQ(der, unhex("30023000"));
  ASSERT_EQ(again.decodeVector(der), 4);
  EXPECT_EQ(encodeOf(again), der);
}

// A kept ResponseData or TBSRequest is read again (with and then without a
// version) and cleared: the version read in place the first time is a view
// of octets that are gone then, and must not stand in the way.
TEST(OcspLongForm, KeptPartsReadAgainAndCleared) {
  const certtest::Node version{0xA0, false, {}, {certtest::Node{0x02, false, {0x00}, {}}}};
  const Bytes basicDer = basicOf("resp_good_key.der");
  certtest::Node tree = certtest::parseTree(basicDer);
  auto& rd = certtest::nodeAt(tree, {0}).elements;
  rd.insert(rd.begin(), version);
  const Bytes basicVersioned = certtest::writeTree(tree);
  const Bytes reqDer = readOcsp("req_nononce.der");
  tree = certtest::parseTree(reqDer);
  auto& tbs = certtest::nodeAt(tree, {0}).elements;
  tbs.insert(tbs.begin(), version);
  const Bytes reqVersioned = certtest::writeTree(tree);
  for (unsigned char flags : {0, 1}) {
    SCOPED_TRACE(static_cast<int>(flags));
    BasicOCSPResponse basic;
    OCSPRequest req;
    for (int round = 0; round < 2; ++round) {
      ASSERT_EQ(basic.decodeVector(basicVersioned, flags), static_cast<int>(basicVersioned.size()));
      EXPECT_TRUE(basic.tbsResponseData.versionPresent);
      int r = 0;
      EXPECT_NO_THROW(r = basic.decodeVector(basicDer, flags));
      EXPECT_EQ(r, static_cast<int>(basicDer.size()));
      EXPECT_FALSE(basic.tbsResponseData.versionPresent);
      EXPECT_EQ(basic.tbsResponseData.version->toLong(), 0u);
      ASSERT_EQ(req.decodeVector(reqVersioned, flags), static_cast<int>(reqVersioned.size()));
      EXPECT_NO_THROW(r = req.decodeVector(reqDer, flags));
      EXPECT_EQ(r, static_cast<int>(reqDer.size()));
      EXPECT_FALSE(req.tbsRequest.versionPresent);
      ASSERT_EQ(req.decodeVector(reqVersioned, flags), static_cast<int>(reqVersioned.size()));
      ASSERT_EQ(basic.decodeVector(basicVersioned, flags), static_cast<int>(basicVersioned.size()));
      EXPECT_NO_THROW(basic.clear());
      EXPECT_NO_THROW(req.clear());
      EXPECT_FALSE(basic.tbsResponseData.versionPresent);
      EXPECT_EQ(req.tbsRequest.version->toLong(), 0u);
    }
  }
}

// The certificates beside a signature must be kept as received. The
// certificate reader would take one given as text armour privately: its
// signature would be checked over a re-encoding, so such a list is refused.
// A definite [0] in the long form is kept, and so is one of indefinite
// length, whose inner value is read in place too.
TEST(OcspLongForm, CertificateListsNotKeptAreRefused) {
  Bytes pem = readOcsp("responder.pem");
  while (!pem.empty() && pem.back() != '-') pem.pop_back();  // up to the END line's end
  struct Case {
    const char* file;
    std::vector<int> certsAt;
    bool response;
  } cases[] = {{"resp_good_name.der", {3}, true}, {"req_signed.der", {1, 0, 2}, false}};
  enum { INDEFINITE, LONG_FORM, ARMOUR };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const Bytes der = c.response ? basicOf(c.file) : readOcsp(c.file);
    for (int variant : {INDEFINITE, LONG_FORM, ARMOUR}) {
      SCOPED_TRACE(variant);
      certtest::Node tree = certtest::parseTree(der);
      certtest::Node& certs = certtest::nodeAt(tree, c.certsAt);
      if (variant == INDEFINITE) certs.indefinite = true;
      if (variant == LONG_FORM) certs.longForm = true;
      if (variant == ARMOUR) {
        certs.elements.at(0).elements.clear();
        certs.elements.at(0).content = pem;
      }
      const Bytes in = certtest::writeTree(tree);
      for (unsigned char flags : {0, 1}) {
        int r = -9;
        if (c.response) {
          BasicOCSPResponse basic;
          r = basic.decodeVector(in, flags);
        } else {
          OCSPRequest req;
          r = req.decodeVector(in, flags);
        }
        EXPECT_EQ(r, variant == ARMOUR ? 0 : static_cast<int>(in.size())) << int(flags);
      }
    }
  }
}

// Every time of a response (producedAt, thisUpdate, nextUpdate,
// revocationTime) is a GeneralizedTime: the same instant as a UTCTime is
// refused wherever it stands, and the response as made still reads.
void collectTimes(certtest::Node& n, std::vector<certtest::Node*>* out) {
  if (n.tag == 0x18) out->push_back(&n);
  for (certtest::Node& e : n.elements) collectTimes(e, out);
}

TEST(OcspTimes, UtcTimeIsRefusedEverywhere) {
  int seen = 0;
  for (const char* file : {"resp_good_name.der", "resp_revoked_key_nocerts.der"}) {
    SCOPED_TRACE(file);
    const Bytes der = basicOf(file);
    certtest::Node tree = certtest::parseTree(der);
    std::vector<certtest::Node*> times;
    collectTimes(certtest::nodeAt(tree, {0}), &times);  // the signed part only
    ASSERT_GE(times.size(), 3u);
    for (size_t i = 0; i < times.size(); ++i) {
      certtest::Node edited = certtest::parseTree(der);
      std::vector<certtest::Node*> at;
      collectTimes(certtest::nodeAt(edited, {0}), &at);
      certtest::Node& t = *at[i];
      ASSERT_GE(t.content.size(), 15u);
      t.tag = 0x17;  // YYYYMMDDHHMMSSZ -> YYMMDDHHMMSSZ
      t.content.erase(t.content.begin(), t.content.begin() + 2);
      const Bytes in = certtest::writeTree(edited);
      for (unsigned char flags : {0, 1}) {
        BasicOCSPResponse basic;
        EXPECT_EQ(basic.decodeVector(der, flags), static_cast<int>(der.size()));
        EXPECT_EQ(basic.decodeVector(in, flags), 0) << "time " << i << " flags " << int(flags);
      }
      ++seen;
    }
  }
  EXPECT_GE(seen, 7);  // two producedAt, thisUpdate and nextUpdate, a revocationTime
}

// Choices built with nothing chosen answer codes through encode, length and
// digest, alone and inside the structures that hold them.
TEST(OcspChoices, NothingChosenAnswersCodes) {
  CertStatus status;
  ResponderID responder;
  for (OcspChoice* c : {static_cast<OcspChoice*>(&status), static_cast<OcspChoice*>(&responder)}) {
    MemFile out;
    unsigned char d[32];
    EXPECT_NO_THROW({
      EXPECT_EQ(c->encodedLength(), -1);
      EXPECT_EQ(c->encode(&out), 0);
      EXPECT_EQ(c->digest(3, d, 32), 0);
    });
    EXPECT_EQ(out.length(), 0);
  }
  const Bytes der = basicOf("resp_good_name.der");
  for (int which = 0; which < 2; ++which) {
    SCOPED_TRACE(which);
    BasicOCSPResponse basic;
    ASSERT_EQ(basic.decodeVector(der), static_cast<int>(der.size()));
    // a member-wise copy is a built value (the received one is kept as read)
    ResponseData data;
    data = basic.tbsResponseData;
    if (which == 0)
      data.responderID.clear();
    else
      data.responses.GetHead()->certStatus.clear();
    Bytes out;
    EXPECT_NO_THROW({
      EXPECT_EQ(data.encodedLength(), -1);
      EXPECT_LT(data.encodeVector(out), 1);
      digestOf(data);
    });
  }
}

}  // namespace
