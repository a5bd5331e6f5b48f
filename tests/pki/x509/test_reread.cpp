// Objects decoded again, or cleared, after a decode that read them in place:
// members the second decode does not read must not keep pointing into the
// octets the first one viewed (the owner frees them), must accept new values,
// and a cleared object encodes as a freshly constructed one. Run under ASan.
#include "pki/ocsp/ocspreq.h"
#include "pki/ocsp/ocspresp.h"
#include "pki/ocsp/vessikreq.h"
#include "pki/x509/cert.h"
#include "pki/x509/crl.h"
#include "pki/fixture_lines.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using pkitest::unhex;

Bytes readData(const std::string& path) {
  std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/pki/" + path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

Bytes encodeOf(const ASNobject& o) {
  Bytes out;
  EXPECT_GT(o.encodeVector(out), 0);
  return out;
}

// The encoding, or the invariant text when the object cannot be written
// (a response with no responder chosen).
std::string writeOrWhy(const ASNobject& o) {
  try {
    Bytes out;
    return std::to_string(o.encodeVector(out)) + ":" + pkitest::hex(out);
  } catch (const std::exception& e) {
    return e.what();
  }
}

// The value inside an OCSP response's responseBytes.
Bytes basicOf(const Bytes& response) {
  OCSPResponse r;
  EXPECT_EQ(r.decodeVector(response), static_cast<int>(response.size()));
  const ASNoctstr& o = r.responseBytes->response;
  return Bytes(o.data(), o.data() + o.length);
}

// The signed part of an OCSP request (kept as received there).
Bytes tbsRequestOf(const Bytes& request) {
  OCSPRequest r;
  EXPECT_EQ(r.decodeVector(request), static_cast<int>(request.size()));
  return encodeOf(r.tbsRequest);
}

// The first decode reads a heap copy in place and keeps its own private copy;
// the heap copy is gone before anything else happens.
void decodeInPlace(ASNobject& o, const Bytes& der) {
  std::unique_ptr<Bytes> copy(new Bytes(der));
  ASSERT_EQ(
      o.decodeBuffer(copy->data(), static_cast<int>(copy->size()), ASN_FLAG_CONST | ASN_FLAG_COPY),
      static_cast<int>(der.size()));
}

Extension* basicConstraintsExtension() {
  auto* e = new Extension;
  e->extnID.set("2.5.29.19");
  const unsigned char empty[] = {0x30, 0x00};
  e->extnValue.set(empty, 2);
  return e;
}

struct Case {
  const char* name;
  std::function<ASNobject*()> make;
  Bytes full;  // with the optional members
  Bytes bare;  // without them
  // Gives the object members the bare value lacks; the check looks for them
  // in the encoding read back.
  std::function<void(ASNobject&)> set;
  std::function<bool(const ASNobject&)> check;
};

template <class T>
T& as(ASNobject& o) {
  return static_cast<T&>(o);
}
template <class T>
const T& as(const ASNobject& o) {
  return static_cast<const T&>(o);
}

std::vector<Case> cases() {
  std::vector<Case> c;
  c.push_back({"certificate", [] { return new SignedCertificate; }, readData("certs/v3_rsa.der"),
               readData("certs/v1_rsa.der"),
               [](ASNobject& o) {
                 TBSCertificate& t = as<SignedCertificate>(o).tbsCertificate;
                 t.version->set(2);
                 const unsigned char id[] = {0x00, 0x5A};
                 ASSERT_EQ(t.issuerUniqueID.set(id, 2, 0), 1);
                 t.issuerUniqueIDPresent = 1;
                 ASSERT_EQ(t.subjectUniqueID.set(id, 2, 0), 1);
                 t.subjectUniqueIDPresent = 1;
                 ASSERT_EQ(t.extensions->append(basicConstraintsExtension()), 1);
               },
               [](const ASNobject& o) {
                 const TBSCertificate& t = as<SignedCertificate>(o).tbsCertificate;
                 return t.versionNumber() == 2 && t.issuerUniqueIDPresent &&
                        t.subjectUniqueIDPresent && t.extensions->GetCount() == 1;
               }});
  auto setCrl = [](ASNobject& o) {
    TBSCertRevList& t = as<SignedCertRevList>(o).tbsCertList;
    t.version.set(1);
    ASSERT_TRUE(t.nextUpdate.set(2030, 1, 2, 3, 4, 5));
    t.nextUpdatePresent = 1;
    auto* entry = new CRLentry;
    entry->userCertificate.set(77);
    ASSERT_TRUE(entry->revocationDate.set(2025, 6, 7, 8, 9, 10));
    ASSERT_EQ(t.revokedCertificates.append(entry), 1);
    t.revokedCertificatesPresent = 1;
    ASSERT_EQ(t.crlExtensions->append(basicConstraintsExtension()), 1);
  };
  auto checkCrl = [](const ASNobject& o) {
    const TBSCertRevList& t = as<SignedCertRevList>(o).tbsCertList;
    return t.nextUpdatePresent && t.revokedCertificates.GetCount() >= 1 &&
           t.crlExtensions->GetCount() >= 1;
  };
  // crl_v1_empty has neither entries nor extensions; the pyca vector has no nextUpdate.
  c.push_back({"CRL without entries", [] { return new SignedCertRevList; },
               readData("certs/crl_v2_idp.der"), readData("certs/crl_v1_empty.der"), setCrl,
               checkCrl});
  c.push_back({"CRL without nextUpdate", [] { return new SignedCertRevList; },
               readData("certs/crl_v2_idp.der"), readData("certs/vectors/crl_no_next_update.der"),
               setCrl, checkCrl});
  c.push_back({"OCSP request without extensions", [] { return new TBSRequest; },
               tbsRequestOf(readData("ocsp/req_signed.der")),
               tbsRequestOf(readData("ocsp/req_nononce.der")),
               [](ASNobject& o) {
                 TBSRequest& t = as<TBSRequest>(o);
                 ASSERT_EQ(t.requestExtensions->append(basicConstraintsExtension()), 1);
                 t.requestExtensionsPresent = 1;
               },
               [](const ASNobject& o) {
                 const TBSRequest& t = as<TBSRequest>(o);
                 return t.requestExtensionsPresent && t.requestExtensions->GetCount() == 1;
               }});
  // The signed response data is kept as received (read-only): only the
  // certificates beside the signature are added.
  auto setBasic = [](ASNobject& o) {
    BasicOCSPResponse& b = as<BasicOCSPResponse>(o);
    SignedCertificate ca;
    const Bytes der = readData("ocsp/ca.der");
    ASSERT_EQ(ca.decodeVector(der), static_cast<int>(der.size()));
    ASSERT_EQ(b.certs->append(new SignedCertificate(ca)), 1);
    b.certsPresent = 1;
  };
  auto checkBasic = [](const ASNobject& o) {
    const BasicOCSPResponse& b = as<BasicOCSPResponse>(o);
    return b.certsPresent && b.certs->GetCount() == 1;
  };
  c.push_back({"OCSP basic response without certificates", [] { return new BasicOCSPResponse; },
               basicOf(readData("ocsp/resp_good_name.der")),
               basicOf(readData("ocsp/resp_multi_nocerts.der")), setBasic, checkBasic});
  c.push_back({"OCSP basic response without nextUpdate", [] { return new BasicOCSPResponse; },
               basicOf(readData("ocsp/resp_good_name.der")),
               basicOf(readData("ocsp/resp_nonextupdate.der")), setBasic, checkBasic});
  c.push_back({"OCSP response without responseBytes", [] { return new OCSPResponse; },
               readData("ocsp/resp_good_name.der"), readData("ocsp/resp_malformed.der"),
               [](ASNobject& o) {
                 OCSPResponse& r = as<OCSPResponse>(o);
                 r.responseStatus.set(0u);
                 r.responseBytes->responseType.set("1.3.6.1.5.5.7.48.1.1");
                 const unsigned char v[] = {0x30, 0x00};
                 ASSERT_EQ(r.responseBytes->response.set(v, 2), 1);
                 r.responseBytesPresent = 1;
               },
               [](const ASNobject& o) { return as<OCSPResponse>(o).responseBytesPresent != 0; }});
  // Frame of kind 5 at 2026-01-15 10:30:00Z whose body stands as FF 00.
  c.push_back({"VESSIK frame without body", [] { return new ASNVessikRequestFrame; },
               readData("ocsp/vessik_crlreq.der"),
               unhex("3014020105170d3236303131353130333030305aff00"),
               [](ASNobject& o) {
                 ASNinteger serial;
                 serial.set(9);
                 as<ASNVessikRequestFrame>(o).setBody(serial);
               },
               [](const ASNobject& o) {
                 const ASNVessikRequestFrame& f = as<ASNVessikRequestFrame>(o);
                 return f.hasBody() && encodeOf(f.body) == unhex("020109");
               }});
  c.push_back({"extension without critical", [] { return new Extension; },
               unhex("300c0603551d130101ff04023000"), unhex("30090603551d1304023000"),
               [](ASNobject& o) { as<Extension>(o).critical.set(true); },
               [](const ASNobject& o) { return as<Extension>(o).critical.get(); }});
  return c;
}

}  // namespace

TEST(ReadAgain, AbsentMembersTakeNewValues) {
  for (const Case& c : cases()) {
    ASSERT_FALSE(c.full.empty()) << c.name;
    ASSERT_FALSE(c.bare.empty()) << c.name;
    for (unsigned char second : {0u, ASN_FLAG_CONST | ASN_FLAG_COPY}) {
      SCOPED_TRACE(std::string(c.name) + (second ? ", in place twice" : ", then privately"));
      std::unique_ptr<ASNobject> o(c.make());
      decodeInPlace(*o, c.full);
      ASSERT_EQ(o->decodeVector(c.bare, second), static_cast<int>(c.bare.size()));
      EXPECT_EQ(encodeOf(*o), c.bare);
      if (second) {
        // A value read in place is read-only: a private copy takes the changes.
        std::unique_ptr<ASNobject> again(c.make());
        ASSERT_EQ(again->decodeVector(c.bare), static_cast<int>(c.bare.size()));
        o.swap(again);
      }
      ASSERT_NO_THROW(c.set(*o));
      const Bytes out = encodeOf(*o);
      ASSERT_FALSE(out.empty());
      std::unique_ptr<ASNobject> back(c.make());
      ASSERT_EQ(back->decodeVector(out), static_cast<int>(out.size()));
      EXPECT_EQ(encodeOf(*back), out);
      EXPECT_TRUE(c.check(*back));
    }
  }
}

TEST(ReadAgain, ClearAfterInPlaceDecodeGivesTheConstructedObject) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<ASNobject> o(c.make());
    std::unique_ptr<ASNobject> fresh(c.make());
    decodeInPlace(*o, c.full);
    ASSERT_NO_THROW(o->clear());
    EXPECT_FALSE(o->isConstView());
    EXPECT_EQ(writeOrWhy(*o), writeOrWhy(*fresh));
    // ... and takes values again.
    ASSERT_NO_THROW(c.set(*o));
    EXPECT_TRUE(c.check(*o));
  }
}

TEST(ReadAgain, ReceivedFrameTakesANewBody) {
  ASNVessikRequestFrame f;
  decodeInPlace(f, readData("ocsp/vessik_crlreq.der"));
  ASNinteger serial;
  serial.set(9);
  ASSERT_NO_THROW(f.setBody(serial));
  EXPECT_EQ(encodeOf(f.body), unhex("020109"));
}
