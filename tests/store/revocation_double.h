// A stand-in for the revocation manager behind PathVerification: the CRLs of
// a memory CRL database, chosen by issuer name (latest thisUpdate), the
// validity and listing rules of the status check, and CRL verification by the
// issuer's signature (through the signature-code table). No OCSP, no network.
#pragma once

#include "store/pathverify.h"
#include "store/sigcodes.h"

#include "pki/common/oids.h"
#include "pki/x509/x509ext.h"

#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace revdouble {

using Bytes = std::vector<unsigned char>;

inline Bytes readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

template <class T>
std::unique_ptr<T> load(const std::string& path) {
  Bytes der = readFile(path);
  auto x = std::make_unique<T>();
  if (der.empty() || x->decodeVector(der) != static_cast<int>(der.size())) return nullptr;
  return x;
}

inline bool sameInteger(const ASNinteger& a, const ASNinteger& b) {
  Bytes x, y;
  return a.encodeVector(x) > 0 && b.encodeVector(y) > 0 && x == y;
}

class RevocationDouble : public PathRevocation {
 public:
  const CrlList* database = nullptr;  // the memory CRL database
  std::vector<std::unique_ptr<SignedCertRevList>> verified;
  X509time now;
  int outermostResets = 0;
  int released = 0;
  int demoted = 0;
  // Called by findOcspResponse when set (nesting tests).
  std::function<void()> onOcsp;
  // Forces the check result of every certificate when nonzero.
  uint32_t forcedWwc = 0;

  void removeMarkedCrlItems() override { ++outermostResets; }
  void clearOcspCache() override {}
  void releaseLastVerification() override { ++released; }
  void demoteVerifiedCrls() override { ++demoted; }
  std::shared_ptr<const BasicOCSPResponse> findOcspResponse(const SignedCertificate&,
                                                            const SignedCertificate&,
                                                            const RevocationArgs&,
                                                            PathCollector&) override {
    if (onOcsp) onOcsp();
    return nullptr;
  }

  int checkStatus(CertificateItem& item, const RevocationArgs&, const BasicOCSPResponse*,
                  const SignedCertificate& issuer, const SignedCertRevList* given,
                  UsedRevocationData& used) override {
    lastIssuer = &issuer;
    item.revocationState = REVSTATE_NONE;
    item.revocationSource = REVSOURCE_NONE;
    const TBSCertificate& tbs = item.certificate->tbsCertificate;
    const int v = tbs.checkValidity(now);
    if (v != 0) {
      item.wwc = v < 0 ? WWC_NOT_YET_VALID : WWC_EXPIRED;
      return 0;
    }
    item.wwc = WWC_OK;
    const SignedCertRevList* crl = given;
    bool fromDatabase = false;
    if (!crl && database)
      for (auto& c : *database)
        if (c->tbsCertList.issuer == tbs.issuer &&
            (!crl || crl->tbsCertList.thisUpdate < c->tbsCertList.thisUpdate)) {
          crl = c.get();
          fromDatabase = true;
        }
    if (!crl) {
      item.revocationState = REVSTATE_NO_DATA;
      item.freshCrlWanted = 1;
      return 0;
    }
    used.crl = crl;
    if (fromDatabase && !isVerifiedCrl(*crl)) used.crlToVerify.reset(new SignedCertRevList(*crl));
    item.revocationState = REVSTATE_FOUND;
    item.freshCrlWanted = 0;
    if (crl->tbsCertList.nextUpdatePresent && crl->tbsCertList.nextUpdate < now) {
      item.revocationState = REVSTATE_STALE;
      item.freshCrlWanted = 1;
    }
    item.revocationSource = REVSOURCE_CRL;
    for (POSITION pos = crl->tbsCertList.revokedCertificates.GetHeadPosition(); pos;) {
      const CRLentry* e = crl->tbsCertList.revokedCertificates.GetNext(pos);
      if (!e || !sameInteger(e->userCertificate, tbs.serialNumber)) continue;
      item.wwc = WWC_REVOKED;
      const Extension* reason = findExtensionByOid(e->crlEntryExtensions, id_ce_cRLReasons);
      ASNenum code;
      if (reason && code.decodeOctets(reason->extnValue) > 0 && code.toLong() == 6)
        item.wwc = WWC_SUSPENDED;
      break;
    }
    if (forcedWwc) item.wwc = forcedWwc;
    return 0;
  }

  bool isVerifiedCrl(const SignedCertRevList& crl) override {
    for (auto& c : verified)
      if (sameCrl(*c, crl)) return true;
    return false;
  }
  bool isNewCrl(const SignedCertRevList& crl) override { return !isVerifiedCrl(crl); }
  int verifyCrl(const SignedCertRevList& crl, const RevocationArgs&, PathCollector&,
                std::string& message) override {
    ++crlChecks;
    const int code = lastIssuer ? crl.verifySignature(*lastIssuer) : 0;
    if (crlSignatureAnswer(code, crl.signature) != CRL_ANSWER_GOOD) {
      message = "podpis listy CRL niepoprawny";
      return 1;
    }
    return 0;
  }
  void recordVerifiedCrl(const SignedCertRevList& crl) override {
    verified.emplace_back(new SignedCertRevList(crl));
  }
  bool refuseCrl(const SignedCertRevList&) override { return false; }
  bool canQueryNetwork(int, const DistinguishedName&, ReportStream&) override { return false; }
  int queryForCrl(const std::string&, const DistinguishedName&, CrlList&, ReportStream&) override {
    return 1;
  }
  int queryForIssuerCrl(const SignedCertificate&, CrlList&, ReportStream&) override { return 16; }
  void rememberCrl(const SignedCertRevList&) override {}

  int crlChecks = 0;

 private:
  const SignedCertificate* lastIssuer = nullptr;
};

}  // namespace revdouble
