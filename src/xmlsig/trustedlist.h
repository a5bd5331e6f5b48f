// Reader of ETSI trusted lists ("TrustServiceStatusList" documents): the trust
// service providers' services with their type, status, supply points and
// certificate, and four indexes of them by kind (CA/PKC, CA/QC, TSA, OCSP).
// The registry keeps the lists by their scheme operator's name.
//
// The document is a stranger's: it goes through the same guarded parser as
// signed documents (no network, no external entities, size, depth and
// expansion caps). Every format fault throws TalApiException 170 with its text;
// what was read before the fault stays.
//
// The reader sits with the XML code (not with the stores) because it needs the
// guarded parser, and services do not include one another; the context's layer
// turns its services into the key manager's trust points.
#pragma once

#include "pki/x509/cert.h"
#include "xmlsig/xmlmisc.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tslrc {
const int32_t INV_TSL_FORMAT = 170;  // ETAL_INV_TSL_FORMAT
}

// Service types, by the order of the standard's identifiers.
enum TrustedServiceType : int32_t {
  TSL_TYPE_NONE = 0,
  TSL_TYPE_CA_PKC = 1,
  TSL_TYPE_CA_QC = 2,
  TSL_TYPE_TSA = 3,
  TSL_TYPE_OCSP = 4,
  TSL_TYPE_CRL = 5,
  TSL_TYPE_RA = 6,
  TSL_TYPE_IDV = 7,
  TSL_TYPE_CGEN = 8,
  TSL_TYPE_ACA = 9,
  TSL_TYPE_ARCHIV = 10,
  TSL_TYPE_REM = 11,
  TSL_TYPE_KESCROW = 12,
  TSL_TYPE_PPWD = 13,
  TSL_TYPE_SIGNATURE_POLICY_AUTHORITY = 14,
  TSL_TYPE_SUPERVISION = 15,
  TSL_TYPE_VOLUNTARY = 16,
  TSL_TYPE_TSL_ISSUER = 17,
  TSL_TYPE_UNSPECIFIED = 18,
  TSL_TYPE_OCSP_QC = 19,
  TSL_TYPE_CRL_QC = 20
};

enum TrustedServiceStatus : int32_t {
  TSL_STATUS_NONE = 0,
  TSL_STATUS_UNDER_SUPERVISION = 1,
  TSL_STATUS_SUPERVISION_IN_CESSATION = 2,
  TSL_STATUS_SUPERVISION_CEASED = 3,
  TSL_STATUS_SUPERVISION_REVOKED = 4,
  TSL_STATUS_ACCREDITED = 5,
  TSL_STATUS_ACCREDITATION_CEASED = 6,
  TSL_STATUS_ACCREDITATION_REVOKED = 7
};

// The type of a ServiceTypeIdentifier text (compared exactly), 0 for none.
int32_t trustedServiceTypeOf(const std::string& uri);
// The status of a ServiceStatus text (blanks, CR, LF and TAB around it
// ignored), 0 for none.
int32_t trustedServiceStatusOf(const std::string& uri);

// One service of a provider.
struct TrustedService {
  std::string der;                                 // the certificate's DER, empty without one
  std::unique_ptr<SignedCertificate> certificate;  // decoded, or null
  std::string subjectName;                         // X509SubjectName, empty when absent
  int32_t status = TSL_STATUS_NONE;
  int32_t type = TSL_TYPE_NONE;
  std::vector<std::string> supplyPoints;
};

class TrustedList {
 public:
  // Language of getSchemeOperatorName.
  enum { LANG_PL = 0, LANG_EN = 1 };

  TrustedList() = default;
  ~TrustedList() = default;
  TrustedList(const TrustedList&) = delete;
  TrustedList& operator=(const TrustedList&) = delete;

  // Reads a list from memory, in place of anything read before (the records
  // and indexes of an earlier list go too). Throws TalApiException 170.
  void loadFromMemory(const uint8_t* bytes, size_t length);

  // The scheme operator's name in Polish (LANG_PL) or English (LANG_EN);
  // nullptr when absent or for another language. Valid while the list lives
  // and is not reloaded.
  const char* getSchemeOperatorName(int language) const;

  const std::vector<std::unique_ptr<TrustedService>>& services() const { return records; }
  const std::vector<const TrustedService*>& caPkcServices() const { return caPkc; }
  const std::vector<const TrustedService*>& caQcServices() const { return caQc; }
  const std::vector<const TrustedService*>& tsaServices() const { return tsa; }
  const std::vector<const TrustedService*>& ocspServices() const { return ocsp; }

  xmlNodePtr rootElement() const { return holder.root; }
  xmlNodePtr schemeInformation() const { return schemeInfo; }
  xmlNodePtr providerList() const { return providers; }

 private:
  void clear();
  void readService(xmlNodePtr service);

  std::vector<uint8_t> input;
  XmlDocHolder holder;
  xmlNodePtr schemeInfo = nullptr;
  xmlNodePtr providers = nullptr;
  std::vector<std::unique_ptr<TrustedService>> records;
  std::vector<const TrustedService*> caPkc;
  std::vector<const TrustedService*> caQc;
  std::vector<const TrustedService*> tsa;
  std::vector<const TrustedService*> ocsp;
};

// Trusted lists by their scheme operator's name.
class TrustedListRegistry {
 public:
  // Registers the list under its Polish scheme operator's name, else its
  // English one, in place of a list registered under that name before; the
  // name it took. Neither name: TalApiException 170 (the list is destroyed).
  std::string add(std::unique_ptr<TrustedList> list);
  const TrustedList* find(const std::string& name) const;
  const std::map<std::string, std::unique_ptr<TrustedList>>& lists() const { return registered; }

 private:
  std::map<std::string, std::unique_ptr<TrustedList>> registered;
};
