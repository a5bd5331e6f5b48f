// A library context over the PKI of tests/data/upo/ (make_pki.sh there): the verify
// fixture's context with the receipts' root installed, their intermediate CA in the
// certificate database and the root's CRL in the CRL database.
#pragma once

#include "verify_fixture.h"

#include "api/tvxml.h"
#include "base/b64file.h"
#include "pki/sig/sigrecords.h"
#include "pki/x509/cert.h"
#include "pki/x509/crl.h"
#include "xmlsig/xmlmemcharge.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace upofix {

const std::string UPO = std::string(TAL_TEST_DATA_DIR) + "/upo/";

template <class T>
std::unique_ptr<T> loadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<unsigned char> der((std::istreambuf_iterator<char>(in)), {});
  auto x = std::make_unique<T>();
  EXPECT_EQ(static_cast<int>(der.size()), x->decodeVector(der)) << path;
  return x;
}

// A file's whole content.
inline std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A variant of scripts/genhostile.py at `count`, made now.
inline std::string hostileVariant(const std::string& name, int count) {
  const std::string out = "/tmp/tal-variant-" + std::to_string(getpid()) + ".xml";
  const std::string command = "python3 " + std::string(TAL_TEST_DATA_DIR) +
                              "/../../scripts/genhostile.py " + name + " --count " +
                              std::to_string(count) + " " + out;
  EXPECT_EQ(0, std::system(command.c_str())) << command;
  std::string text = readAll(out);
  std::remove(out.c_str());
  return text;
}

// A receipt's text through tvXmlUnprotect from a file, as a caller gives it:
// the call's result, the first signature's status and libxml2's peak.
struct Unprotected {
  int32_t rc = -1;
  int32_t status = 0;
  int64_t peak = 0;
};

inline Unprotected unprotectText(talCtx* ctx, const std::string& text) {
  const std::string path = "/tmp/tal-unprotect-" + std::to_string(getpid()) + ".xml";
  {
    std::ofstream out(path, std::ios::binary);
    out << text;
  }
  Unprotected o;
  {
    XmlMemoryScope all(UINT64_MAX);
    tvXmlCtx* c = nullptr;
    EXPECT_EQ(0, tvXmlCreateCtx(&c));
    tvXmlDoc* d = nullptr;
    EXPECT_EQ(0, tvXmlLoadDocFile(c, path.c_str(), nullptr, &d));
    talMsgInfo* m = nullptr;
    o.rc = tvXmlUnprotect(ctx, c, d, nullptr, &m);
    if (m) {
      talSigInfo* s = nullptr;
      int32_t qualification = 0, reason = 0;
      EXPECT_EQ(0, talGetMessageSignature(m, 0, &s));
      EXPECT_EQ(0, talSignatureStatus(s, &o.status, &qualification, &reason));
      EXPECT_EQ(0, tvXmlDeleteMsgInfo(m));
    }
    EXPECT_EQ(0, tvXmlDeleteCtx(c));
    o.peak = all.peak();
  }
  std::remove(path.c_str());
  return o;
}

// The receipt with a forgery of its last CRL (the intermediate's) beside it,
// unsigned like the others: one second newer, so it is the one tried, and its
// signature no longer over its contents.
inline std::string withForgedCrl(const std::string& receipt) {
  const std::string open = "<xades:EncapsulatedCRLValue>", close = "</xades:EncapsulatedCRLValue>";
  const size_t from = receipt.rfind(open) + open.size(), to = receipt.find(close, from);
  MemFile der;
  decodeBase64Text(receipt.data() + from, static_cast<int32_t>(to - from), &der, 0);
  std::string crl(reinterpret_cast<const char*>(der.data()), static_cast<size_t>(der.length()));
  const size_t time = crl.find(std::string("\x17\x0d", 2));  // thisUpdate, YYMMDDHHMMSSZ
  EXPECT_NE(std::string::npos, time);
  char& second = crl[time + 2 + 11];
  EXPECT_LT(second, '9');
  ++second;
  std::string text((crl.size() + 2) / 3 * 4 + 4, '\0');
  text.resize(static_cast<size_t>(
      encodeBase64Buffer(crl.data(), static_cast<int32_t>(crl.size()), &text[0])));
  SignedCertRevList genuine, forged;
  EXPECT_EQ(static_cast<int>(der.length()), genuine.decodeVector(std::vector<unsigned char>(
                                                 der.data(), der.data() + der.length())));
  EXPECT_EQ(static_cast<int>(crl.size()), forged.decodeVector(std::vector<unsigned char>(crl.begin(), crl.end())));
  EXPECT_TRUE(genuine.tbsCertList.thisUpdate < forged.tbsCertList.thisUpdate);
  return std::string(receipt).insert(to + close.size(), open + text + close);
}

class UpoContext : public verifyfix::VerifyContext {
 protected:
  void SetUp() override {
    VerifyContext::SetUp();
    prepare(ctx);
  }

  // Another context set up as this one (the caller closes it).
  talCtx* another() {
    talCtx* c = open();
    prepare(c);
    return c;
  }

  static void prepare(talCtx* c) {
    talCert* root = nullptr;
    ASSERT_EQ(0, talAllocateCertFromFile((UPO + "pki/root.der").c_str(), &root));
    EXPECT_EQ(0, talInstallRoot(c, root, 1, 1));
    talDeleteCertificate(root);
    ASSERT_EQ(0, c->certificates.importCertificate(*loadFile<SignedCertificate>(UPO + "pki/intermediate.der")));
    ASSERT_EQ(0, c->revocation->importCrl(*loadFile<SignedCertRevList>(UPO + "crl/root.der")));
  }

  // tvXmlUnprotect over one file: the only signature's status and reason.
  void verifyOne(const std::string& path, int32_t& status, int32_t& reason, int32_t* form = nullptr) {
    tvXmlCtx* c = nullptr;
    ASSERT_EQ(0, tvXmlCreateCtx(&c));
    tvXmlDoc* d = nullptr;
    ASSERT_EQ(0, tvXmlLoadDocFile(c, path.c_str(), nullptr, &d));
    talMsgInfo* m = nullptr;
    ASSERT_EQ(0, tvXmlUnprotect(ctx, c, d, nullptr, &m));
    int32_t count = 0, qualification = 0;
    EXPECT_EQ(0, talGetMessageSignatureCount(m, &count));
    EXPECT_EQ(1, count);
    talSigInfo* s = nullptr;
    ASSERT_EQ(0, talGetMessageSignature(m, 0, &s));
    EXPECT_EQ(0, talSignatureStatus(s, &status, &qualification, &reason));
    if (form) *form = reinterpret_cast<SigInfo*>(s)->form;
    EXPECT_EQ(0, tvXmlDeleteMsgInfo(m));
    EXPECT_EQ(0, tvXmlDeleteCtx(c));
  }
};

}  // namespace upofix
