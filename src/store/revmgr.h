// The revocation manager: the status of one certificate of a path from a CRL
// or an OCSP response (the choice between them, grading of their freshness,
// the listed entry and its reason), the checks of a CRL's extensions and
// entry extensions, the single response of an OCSP response that answers for
// a certificate, and the verified and pending CRL lists.
#pragma once

#include "base/reportstream.h"
#include "pki/ocsp/ocspresp.h"
#include "pki/x509/crl.h"
#include "store/crldb.h"
#include "store/pathclock.h"
#include "store/pathverify.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class RevocationManager {
 public:
  RevocationManager(const PathClock& clock, ReportStream* report) : clock(clock), report(report) {}
  RevocationManager(const RevocationManager&) = delete;
  RevocationManager& operator=(const RevocationManager&) = delete;

  // The CRL database (none: not asked).
  CrlDatabase* database = nullptr;
  // Option 27: CA certificates are graded strictly too.
  bool strictForCa = false;

  CrlList verifiedCrls;
  CrlList pendingCrls;

  // The status of the item's certificate (PathRevocation::checkStatus). A CRL
  // taken from the pending list or the database is handed back in
  // used.crlToVerify.
  int checkStatus(CertificateItem& item, const RevocationArgs& args, const BasicOCSPResponse* ocsp,
                  const SignedCertificate& issuer, const SignedCertRevList* crl,
                  UsedRevocationData& used);

  // Every critical extension of the CRL is one this manager understands.
  bool checkCrlExtensions(const SignedCertRevList& crl);
  // Every critical entry extension is reasonCode, holdInstructionCode or invalidityDate.
  bool checkEntryExtensions(const Extensions& extensions);
  // The single response for the certificate, valid at `time` (null: now); null when none.
  const SingleResponse* findSingleResponse(const BasicOCSPResponse& response,
                                           const SignedCertificate& cert,
                                           const SignedCertificate& issuer, const X509time* time);
  // Moves a verified CRL to the verified list, dropping older CRLs of the
  // same issuer and CRL number there and its equal in the pending list.
  void recordVerifiedCrl(const SignedCertRevList& crl);
  // Every verified CRL back to the pending list (after each path verification).
  void demoteVerifiedCrls();
  void copyRevocationData(const RevocationManager& other);

 private:
  ReportStream& out();
  const CRLentry* findEntry(const SignedCertRevList& crl, const ASNinteger& serial);
  const SignedCertRevList* chooseFromList(const CrlList& list, const SignedCertificate& cert);

  const PathClock& clock;
  ReportStream* report;
  // Serial indexes of the CRLs met, by their signature value: built once per CRL.
  struct IndexedCrl {
    std::unique_ptr<SignedCertRevList> crl;
    std::unique_ptr<CrlSerialIndex> index;
  };
  std::map<std::vector<unsigned char>, IndexedCrl> indexes;
};
