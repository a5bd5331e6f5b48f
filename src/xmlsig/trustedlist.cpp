#include "xmlsig/trustedlist.h"

#include "asn1/asnbase.h"
#include "base/memfile.h"
#include "base/talexception.h"
#include "xmlsig/xmlsigparser.h"

#include <cstring>
#include <utility>

namespace {
const char* const MSG_NOT_XML = "Plik wejściowy nie jest dokumentem XML";
const char* const MSG_NO_ROOT = "Nie znaleziono elementu root";
const char* const MSG_BAD_ROOT = "Niepoprawna nazwa elementu root";
const char* const MSG_NO_TYPE = "Brak elementu ServiceTypeIdentifier";
const char* const MSG_BAD_TYPE = "Niepoprawny typ usługi";
const char* const MSG_NO_STATUS = "Brak elementu ServiceStatus";
const char* const MSG_BAD_STATUS = "Niepoprawny status certyfikatu";
const char* const MSG_BAD_B64 = "Błąd dekodowania B64 certyfikatu";
const char* const MSG_BAD_CERT = "Niepoprawny format certyfikatu";
const char* const MSG_NO_OPERATOR = "Brak nazwy operatora schematu";

// A certificate of a digital identity is read from base64 of at most this many octets.
const size_t MAX_CERTIFICATE = 1u << 20;

struct TypeRow {
  const char* uri;
  int32_t type;
};
// In the order the identifiers are compared.
const TypeRow TYPES[] = {
    {"http://uri.etsi.org/TrstSvc/Svctype/CA/PKC", TSL_TYPE_CA_PKC},
    {"http://uri.etsi.org/TrstSvc/Svctype/CA/QC", TSL_TYPE_CA_QC},
    {"http://uri.etsi.org/TrstSvc/Svctype/TSA", TSL_TYPE_TSA},
    {"http://uri.etsi.org/TrstSvc/Svctype/Certstatus/OCSP", TSL_TYPE_OCSP},
    {"http://uri.etsi.org/TrstSvc/Svctype/Certstatus/OCSP/QC", TSL_TYPE_OCSP_QC},
    {"http://uri.etsi.org/TrstSvc/Svctype/Certstatus/CRL", TSL_TYPE_CRL},
    {"http://uri.etsi.org/TrstSvc/Svctype/Certstatus/CRL/QC", TSL_TYPE_CRL_QC},
    {"http://uri.etsi.org/TrstSvc/Svctype/RA", TSL_TYPE_RA},
    {"http://uri.etsi.org/TrstSvc/Svctype/IdV", TSL_TYPE_IDV},
    {"http://uri.etsi.org/TrstSvc/Svctype/CGen", TSL_TYPE_CGEN},
    {"http://uri.etsi.org/TrstSvc/Svctype/ACA", TSL_TYPE_ACA},
    {"http://uri.etsi.org/TrstSvc/Svctype/Archiv", TSL_TYPE_ARCHIV},
    {"http://uri.etsi.org/TrstSvc/Svctype/REM", TSL_TYPE_REM},
    {"http://uri.etsi.org/TrstSvc/Svctype/KEscrow", TSL_TYPE_KESCROW},
    {"http://uri.etsi.org/TrstSvc/Svctype/PPwd", TSL_TYPE_PPWD},
    {"http://uri.etsi.org/02231/Svctype/SignaturePolicyAuthority",
     TSL_TYPE_SIGNATURE_POLICY_AUTHORITY},
    {"http://uri.etsi.org/TrstSvc/Svctype/supervision", TSL_TYPE_SUPERVISION},
    {"http://uri.etsi.org/TrstSvc/Svctype/voluntary", TSL_TYPE_VOLUNTARY},
    {"http://uri.etsi.org/TrstSvc/Svctype/TSLIssuer", TSL_TYPE_TSL_ISSUER},
    {"http://uri.etsi.org/TrstSvc/Svctype/unspecified", TSL_TYPE_UNSPECIFIED},
};

const char* const STATUS_BASE = "http://uri.etsi.org/TrstSvc/eSigDir-1999-93-EC-TrustedList/Svcstatus/";
// Status n is the word at index n - 1.
const char* const STATUS_WORDS[] = {"undersupervision",    "supervisionincessation",
                                    "supervisionceased",   "supervisionrevoked",
                                    "accredited",          "accreditationceased",
                                    "accreditationrevoked"};

const char* const WHITE = " \r\n\t";

[[noreturn]] void formatError(const char* text) {
  throw TalApiException(text, tslrc::INV_TSL_FORMAT);
}

bool named(xmlNodePtr node, const char* name) {
  return node->type == XML_ELEMENT_NODE && node->name &&
         std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

// The first child element of that local name (the prefix is not looked at).
xmlNodePtr child(xmlNodePtr element, const char* name) {
  for (xmlNodePtr c = element ? element->children : nullptr; c; c = c->next)
    if (named(c, name)) return c;
  return nullptr;
}

// The content of the first text node among these siblings, nullptr when none.
const char* firstText(xmlNodePtr first) {
  for (xmlNodePtr c = first; c; c = c->next)
    if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE)
      return c->content ? reinterpret_cast<const char*>(c->content) : "";
  return nullptr;
}
const char* textOf(xmlNodePtr element) { return element ? firstText(element->children) : nullptr; }

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(WHITE);
  if (b == std::string::npos) return std::string();
  return s.substr(b, s.find_last_not_of(WHITE) - b + 1);
}

// Certificate text as lists write it: spread over lines, its padding sometimes
// missing or misplaced. The padding is dropped and put back where it belongs.
bool certificateOctets(const char* text, std::string& der) {
  std::string packed;
  for (const char* p = text; *p; ++p) {
    if (std::strchr(" \r\n\t=", *p)) continue;
    if (packed.size() >= MAX_CERTIFICATE / 3 * 4 + 4) return false;
    packed.push_back(*p);
  }
  while (packed.size() % 4 != 0) packed.push_back('=');
  return xmlDecodeBase64(packed, der, MAX_CERTIFICATE);
}
}  // namespace

int32_t trustedServiceTypeOf(const std::string& uri) {
  for (const TypeRow& row : TYPES)
    if (uri == row.uri) return row.type;
  return TSL_TYPE_NONE;
}

int32_t trustedServiceStatusOf(const std::string& uri) {
  const std::string word = trimmed(uri);
  const size_t base = std::strlen(STATUS_BASE);
  if (word.compare(0, base, STATUS_BASE) != 0) return TSL_STATUS_NONE;
  for (size_t i = 0; i < sizeof STATUS_WORDS / sizeof STATUS_WORDS[0]; ++i)
    if (word.compare(base, std::string::npos, STATUS_WORDS[i]) == 0)
      return static_cast<int32_t>(i + 1);
  return TSL_STATUS_NONE;
}

void TrustedList::clear() {
  caPkc.clear();
  caQc.clear();
  tsa.clear();
  ocsp.clear();
  records.clear();
  schemeInfo = nullptr;
  providers = nullptr;
  if (holder.doc) xmlFreeDoc(holder.doc);
  holder.doc = nullptr;
  holder.root = nullptr;
  input.clear();
}

void TrustedList::loadFromMemory(const uint8_t* bytes, size_t length) {
  // Records point into nothing of the document, but a reload that kept them
  // would mix the services of two lists.
  clear();
  if (!bytes || length == 0 || length > XML_MAX_DOCUMENT_SIZE) formatError(MSG_NOT_XML);
  input.assign(bytes, bytes + length);
  MemFile reader(input.data(), static_cast<int32_t>(input.size()), false);
  int32_t rc = parseXmlDocument(&holder, &reader);
  if (rc != xmlrc::OK && holder.doc == nullptr) formatError(MSG_NOT_XML);
  if (!holder.root) formatError(MSG_NO_ROOT);
  if (!named(holder.root, "TrustServiceStatusList")) formatError(MSG_BAD_ROOT);
  schemeInfo = child(holder.root, "SchemeInformation");
  providers = child(holder.root, "TrustServiceProviderList");
  if (!providers) return;
  for (xmlNodePtr p = providers->children; p; p = p->next) {
    if (!named(p, "TrustServiceProvider")) continue;
    xmlNodePtr services = child(p, "TSPServices");
    if (!services) continue;
    for (xmlNodePtr s = services->children; s; s = s->next)
      if (named(s, "TSPService")) readService(s);
  }
}

void TrustedList::readService(xmlNodePtr service) {
  xmlNodePtr info = child(service, "ServiceInformation");
  if (!info) return;
  records.emplace_back(new TrustedService());
  TrustedService& record = *records.back();

  xmlNodePtr type = child(info, "ServiceTypeIdentifier");
  if (!type) formatError(MSG_NO_TYPE);
  const char* typeText = textOf(type);
  record.type = typeText ? trustedServiceTypeOf(typeText) : TSL_TYPE_NONE;
  if (record.type == TSL_TYPE_NONE) formatError(MSG_BAD_TYPE);

  xmlNodePtr status = child(info, "ServiceStatus");
  if (!status) formatError(MSG_NO_STATUS);
  const char* statusText = textOf(status);
  record.status = statusText ? trustedServiceStatusOf(statusText) : TSL_STATUS_NONE;
  if (record.status == TSL_STATUS_NONE) formatError(MSG_BAD_STATUS);

  if (xmlNodePtr points = child(info, "ServiceSupplyPoints"))
    for (xmlNodePtr sp = points->children; sp; sp = sp->next)
      if (named(sp, "ServiceSupplyPoint"))
        if (const char* t = textOf(sp)) record.supplyPoints.emplace_back(t);

  xmlNodePtr identity = child(info, "ServiceDigitalIdentity");
  if (!identity) return;
  for (xmlNodePtr id = identity->children; id; id = id->next) {
    if (!named(id, "DigitalId")) continue;
    const char* certText = textOf(child(id, "X509Certificate"));
    if (certText) {
      // A later identity replaces the earlier one whole, even when it fails.
      record.certificate.reset();
      record.der.clear();
      if (!certificateOctets(certText, record.der)) formatError(MSG_BAD_B64);
      auto cert = std::make_unique<SignedCertificate>();
      int n = cert->decodeBuffer(reinterpret_cast<const unsigned char*>(record.der.data()),
                                 static_cast<int>(record.der.size()),
                                 ASN_FLAG_CONST | ASN_FLAG_COPY);
      if (n != static_cast<int>(record.der.size())) formatError(MSG_BAD_CERT);
      record.certificate = std::move(cert);
    }
    if (const char* subject = textOf(child(id, "X509SubjectName"))) record.subjectName = subject;
  }

  switch (record.type) {
    case TSL_TYPE_CA_PKC:
      caPkc.push_back(&record);
      break;
    case TSL_TYPE_CA_QC:
      caQc.push_back(&record);
      break;
    case TSL_TYPE_TSA:
      tsa.push_back(&record);
      break;
    case TSL_TYPE_OCSP:
    case TSL_TYPE_OCSP_QC:
      ocsp.push_back(&record);
      break;
    default:
      break;
  }
}

const char* TrustedList::getSchemeOperatorName(int language) const {
  const char* wanted = language == LANG_PL ? "pl" : language == LANG_EN ? "en" : nullptr;
  if (!wanted) return nullptr;
  // The standard places the name in SchemeInformation; the root itself is
  // looked at only for lists that put it there.
  xmlNodePtr names = child(schemeInfo, "SchemeOperatorName");
  if (!names) names = child(holder.root, "SchemeOperatorName");
  for (xmlNodePtr n = names ? names->children : nullptr; n; n = n->next) {
    if (n->type != XML_ELEMENT_NODE) continue;
    for (xmlAttrPtr a = n->properties; a; a = a->next) {
      if (!a->name || std::strcmp(reinterpret_cast<const char*>(a->name), "lang") != 0) continue;
      const char* value = firstText(a->children);
      if (value && std::strcmp(value, wanted) == 0) return textOf(n);
    }
  }
  return nullptr;
}

std::string TrustedListRegistry::add(std::unique_ptr<TrustedList> list) {
  const char* name = list ? list->getSchemeOperatorName(TrustedList::LANG_PL) : nullptr;
  if (!name && list) name = list->getSchemeOperatorName(TrustedList::LANG_EN);
  if (!name) formatError(MSG_NO_OPERATOR);
  std::string key(name);
  registered[key] = std::move(list);
  return key;
}

const TrustedList* TrustedListRegistry::find(const std::string& name) const {
  auto it = registered.find(name);
  return it == registered.end() ? nullptr : it->second.get();
}
