#include "xmlsig/xadeswriter.h"

#include "base/b64file.h"
#include "base/no_oop.h"
#include "base/talexception.h"
#include "crypto/hash/messagedigests.h"
#include "pki/common/extension.h"
#include "pki/common/oids.h"
#include "pki/ocsp/ocspresp.h"
#include "xmlsig/conv_xml.h"
#include "xmlsig/xmlconst.h"
#include "xmlsig/xmltransform.h"
#include "xmlsig/xmlwalk.h"

#include <libxml/chvalid.h>
#include <libxml/xmlstring.h>

#include <cstdint>
#include <new>
#include <set>
#include <type_traits>
#include <utility>

using namespace xmlwalk;

namespace {

const char* const DS = xmlc::PFX_DSIG.data();
const char* const XADES = xmlc::PFX_XADES.data();

std::string base64Of(const std::vector<unsigned char>& der) {
  std::string text(der.size() / 3 * 4 + 8, '\0');
  const int32_t n = encodeBase64Buffer(der.data(), static_cast<int32_t>(der.size()), &text[0]);
  if (n < 0 || (n == 0 && !der.empty())) throw TalApiException(xmlrc::MEM);
  text.resize(static_cast<size_t>(n));
  return text;
}

template <class T>
std::vector<unsigned char> derOf(const T& value) {
  std::vector<unsigned char> der;
  if (value.encodeVector(der) <= 0) throw TalApiException(xmlrc::MEM);
  return der;
}

xmlNodePtr add(xmlNodePtr parent, std::string_view name, const char* prefix) {
  return addChildElement(parent, name.data(), prefix);
}

// Text XML can carry: well-formed UTF-8 of characters XML allows. A name in
// a stranger's certificate may be neither, and written as it is it would
// leave a document that no longer parses. libxml2's xmlGetUTF8Char takes any
// octet above 0x7F before a continuation octet as a lead (0x88 0xAF reads as
// U+022F), so the form is checked first.
bool xmlCharacters(const std::string& text) {
  if (text.size() > INT32_MAX ||
      utf8Validate(text.data(), static_cast<int32_t>(text.size())) < 0)
    return false;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
  size_t left = text.size();
  while (left > 0) {
    int length = static_cast<int>(left < 4 ? left : 4);
    const int c = xmlGetUTF8Char(p, &length);
    if (c < 0 || length <= 0 || !xmlIsCharQ(c)) return false;
    p += length;
    left -= static_cast<size_t>(length);
  }
  return true;
}

xmlNodePtr addText(xmlNodePtr parent, std::string_view name, const char* prefix, const std::string& text) {
  if (!xmlCharacters(text)) throw TalApiException(xmlrc::INV_MSG);
  xmlNodePtr e = add(parent, name, prefix);
  xmlNodeAddContentLen(e, BAD_CAST text.data(), static_cast<int>(text.size()));
  return e;
}

void setId(xmlNodePtr e, XmlUniqueIds& ids, const char* prefix) {
  if (!xmlSetProp(e, BAD_CAST "Id", BAD_CAST ids.make(prefix).c_str())) throw TalApiException(xmlrc::MEM);
}

// The first child element of that XAdES 1.3.2 name, or null.
xmlNodePtr childOf(xmlNodePtr parent, std::string_view name) {
  for (xmlNodePtr c = firstElement(parent ? parent->children : nullptr); c; c = nextElement(c))
    if (isIn(c, name, xmlc::NS_XADES)) return c;
  return nullptr;
}

xmlNodePtr childOrNew(xmlNodePtr parent, std::string_view name, XadesUndo& undo) {
  if (xmlNodePtr c = childOf(parent, name)) return c;
  xmlNodePtr c = add(parent, name, XADES);
  undo.created(c);
  return c;
}

// ds:DigestMethod and ds:DigestValue of octets.
void writeDigest(xmlNodePtr parent, uint32_t hashId, const std::string& uri, const std::vector<unsigned char>& der) {
  xmlNodePtr method = add(parent, xmlc::DS_DIGEST_METHOD, DS);
  if (!xmlSetProp(method, BAD_CAST "Algorithm", BAD_CAST uri.c_str())) throw TalApiException(xmlrc::MEM);
  MessageDigestCtx digest(hashId);
  if (!der.empty()) digest.update(der.data(), static_cast<uint32_t>(der.size()));
  digest.finish();
  const unsigned char* d = digest.getDigestPtr();
  addText(parent, xmlc::DS_DIGEST_VALUE, DS, base64Of(std::vector<unsigned char>(d, d + digest.getDigestLength())));
}

std::string nameText(const DistinguishedName& name) {
  std::string text;
  convXml::dnToString(&name, text);
  return text;
}

// Numbers and times are written only as a reader reads them back: a negative
// number would come back as another one, and one longer than a reader takes,
// or a time of the year 0, would make it refuse the whole signature (89).
std::string decimal(const ASNinteger& value) {
  std::string text;
  convXml::integerToDecimal(&value, text);
  ASNinteger back;
  convXml::decimalToInteger(text, back);
  if (derOf(back) != derOf(value)) throw TalApiException(xmlrc::INV_MSG);
  return text;
}

template <class Time>
std::string dateTime(const Time& time) {
  std::string text;
  convXml::timeToDateTime(time, text);
  Time back;
  if constexpr (std::is_same_v<Time, ASNgenTime>)
    convXml::dateTimeToGenTime(text, back);
  else
    convXml::dateTimeToTime(text, back);
  return text;
}

// Each collected item once, path first, in list order.
struct Collected {
  std::vector<const SignedCertificate*> certificates;
  std::vector<const CrlOrOcspValue*> revocations;
  bool crl = false, ocsp = false;
};

Collected collect(const ValidationData& data, const SignedCertificate* first) {
  Collected out;
  std::set<std::vector<unsigned char>> seen;
  if (first) seen.insert(derOf(*first));
  for (const CrtAndRevValues* pair : {&data.path, &data.other}) {
    for (const SignedCertificate* c : pair->certificates.items)
      if (c && seen.insert(derOf(*c)).second) out.certificates.push_back(c);
    for (const CrlOrOcspValue* v : pair->revocations.items) {
      if (!v || (!v->crl && !v->ocsp)) continue;
      std::vector<unsigned char> der;
      if (v->crl) der = derOf(*v->crl);
      else if (!wrapBasicOcspResponse(*v->ocsp, der)) throw TalApiException(xmlrc::MEM);
      if (!seen.insert(der).second) continue;
      out.revocations.push_back(v);
      out.crl = out.crl || v->crl;
      out.ocsp = out.ocsp || (!v->crl && v->ocsp);
    }
  }
  return out;
}

// A new unsigned property, last of its parent, with an Id of `idPrefix`.
xmlNodePtr newProperty(xmlNodePtr usp, std::string_view name, XmlUniqueIds& ids, const char* idPrefix,
                       XadesUndo& undo) {
  xmlNodePtr e = add(usp, name, XADES);
  undo.created(e);
  setId(e, ids, idPrefix);
  return e;
}

// The CRL list and the OCSP list of a revocation property, each only when an
// item of its kind is collected.
std::pair<xmlNodePtr, xmlNodePtr> revocationLists(xmlNodePtr parent, const Collected& items,
                                                  std::string_view crlName, std::string_view ocspName) {
  xmlNodePtr crls = items.crl ? add(parent, crlName, XADES) : nullptr;
  return {crls, items.ocsp ? add(parent, ocspName, XADES) : nullptr};
}

std::vector<unsigned char> revocationDer(const CrlOrOcspValue& v) {
  if (v.crl) return derOf(*v.crl);
  std::vector<unsigned char> der;
  if (!wrapBasicOcspResponse(*v.ocsp, der)) throw TalApiException(xmlrc::MEM);
  return der;
}

void writeCrlRef(xmlNodePtr list, uint32_t hashId, const std::string& uri, const SignedCertRevList& crl) {
  xmlNodePtr ref = add(list, xmlc::XADES_CRL_REF, XADES);
  writeDigest(add(ref, xmlc::XADES_DIGEST_ALG_AND_VALUE, XADES), hashId, uri, derOf(crl));
  xmlNodePtr id = add(ref, xmlc::XADES_CRL_IDENTIFIER, XADES);
  const TBSCertRevList& tbs = crl.tbsCertList;
  addText(id, xmlc::XADES_ISSUER, XADES, nameText(tbs.issuer));
  addText(id, xmlc::XADES_ISSUE_TIME, XADES, dateTime(tbs.thisUpdate));
  if (const Extension* e = findExtensionByOid(*tbs.crlExtensions, id_ce_cRLNumber)) {
    ASNinteger number;
    // A number that does not read is left out, as a CRL without one.
    if (number.decodeOctets(e->extnValue) == e->extnValue.length) addText(id, xmlc::XADES_NUMBER, XADES, decimal(number));
  }
}

void writeOcspRef(xmlNodePtr list, uint32_t hashId, const std::string& uri, const BasicOCSPResponse& basic) {
  const ResponseData& data = basic.tbsResponseData;
  const int chosen = data.responderID.chosenIndex();
  if (chosen != ResponderID::BY_NAME && chosen != ResponderID::BY_KEY) throw TalApiException(xmlrc::INV_MSG);
  std::vector<unsigned char> der;
  if (!wrapBasicOcspResponse(basic, der)) throw TalApiException(xmlrc::MEM);
  xmlNodePtr ref = add(list, xmlc::XADES_OCSP_REF, XADES);
  xmlNodePtr id = add(ref, xmlc::XADES_OCSP_IDENTIFIER, XADES);
  xmlNodePtr responder = add(id, xmlc::XADES_RESPONDER_ID, XADES);
  if (chosen == ResponderID::BY_NAME) {
    addText(responder, xmlc::XADES_BY_NAME, XADES, nameText(*data.responderID.byName));
  } else {
    const ASNoctstr& hash = *data.responderID.byKey;
    const unsigned char* p = hash.data();
    addText(responder, xmlc::XADES_BY_KEY, XADES,
            base64Of(p ? std::vector<unsigned char>(p, p + hash.length) : std::vector<unsigned char>()));
  }
  addText(id, xmlc::XADES_PRODUCED_AT, XADES, dateTime(data.producedAt));
  writeDigest(add(ref, xmlc::XADES_DIGEST_ALG_AND_VALUE, XADES), hashId, uri, der);
}

}  // namespace

XadesUndo::~XadesUndo() { rollback(); }

void XadesUndo::created(xmlNodePtr element) {
  try {
    elements.push_back(element);
  } catch (const std::bad_alloc&) {
    xmlUnlinkNode(element);
    xmlFreeNode(element);
    throw;
  }
}

void XadesUndo::idSet(xmlNodePtr element) {
  try {
    ids.push_back(element);
  } catch (const std::bad_alloc&) {
    xmlUnsetProp(element, BAD_CAST "Id");
    throw;
  }
}

void XadesUndo::commit() {
  elements.clear();
  ids.clear();
}

void XadesUndo::rollback() {
  // Latest first: an element created inside another goes before it.
  for (auto it = elements.rbegin(); it != elements.rend(); ++it) {
    xmlUnlinkNode(*it);
    xmlFreeNode(*it);
  }
  for (xmlNodePtr e : ids) xmlUnsetProp(e, BAD_CAST "Id");
  commit();
}

xmlNodePtr findQualifyingProperties(xmlNodePtr signature) {
  if (!signature) return nullptr;
  // The one the signature's parser reads: the first element of a ds:Object
  // child. One anywhere else is passed over by every reader, and what is
  // written into it would raise no form.
  for (xmlNodePtr o = firstElement(signature->children); o; o = nextElement(o)) {
    if (!isIn(o, xmlc::DS_OBJECT, xmlc::NS_DSIG)) continue;
    xmlNodePtr first = firstElement(o->children);
    if (isIn(first, xmlc::XADES_QUALIFYING_PROPERTIES, xmlc::NS_XADES) ||
        isIn(first, xmlc::XADES_QUALIFYING_PROPERTIES, xmlc::NS_XADES111))
      return first;
  }
  return nullptr;
}

namespace {

xmlNodePtr unsignedSignatureProperties(xmlNodePtr qp, XadesUndo& undo) {
  // The older form has no place for references, values or archive time-stamps.
  if (!isIn(qp, xmlc::XADES_QUALIFYING_PROPERTIES, xmlc::NS_XADES)) throw TalApiException(xmlrc::INV_MSG);
  xmlNodePtr up = childOrNew(qp, xmlc::XADES_UNSIGNED_PROPERTIES, undo);
  // A reader looks only at the first child of UnsignedProperties, and the
  // schema puts the signature's properties before the data objects' ones.
  xmlNodePtr first = firstElement(up->children);
  if (isIn(first, xmlc::XADES_UNSIGNED_SIGNATURE_PROPERTIES, xmlc::NS_XADES)) return first;
  if (childOf(up, xmlc::XADES_UNSIGNED_SIGNATURE_PROPERTIES)) throw TalApiException(xmlrc::INV_MSG);
  xmlNodePtr usp = add(up, xmlc::XADES_UNSIGNED_SIGNATURE_PROPERTIES, XADES);
  undo.created(usp);
  if (up->children != usp && !xmlAddPrevSibling(up->children, usp)) throw TalApiException(xmlrc::MEM);
  return usp;
}

// References or values after an archive time-stamp would change the data
// that time-stamp covers (every such property comes before the earlier
// archive time-stamps there), so it would never verify again.
void refuseAfterArchiveTimeStamp(xmlNodePtr usp) {
  for (xmlNodePtr c = firstElement(usp->children); c; c = nextElement(c))
    if (isIn(c, xmlc::XADES_ARCHIVE_TIME_STAMP, xmlc::NS_XADES) ||
        isIn(c, xmlc::XADES_ARCHIVE_TIME_STAMP, xmlc::NS_XADES141))
      throw TalApiException(xmlrc::INV_MSG);
}

}  // namespace

xmlNodePtr unsignedSignaturePropertiesOfExisting(xmlNodePtr signature, XadesUndo& undo) {
  xmlNodePtr qp = findQualifyingProperties(signature);
  if (!qp) throw TalApiException(xmlrc::INV_MSG);
  return unsignedSignatureProperties(qp, undo);
}

xmlNodePtr findOrCreateUnsignedSignatureProperties(XmlUniqueIds& ids, xmlNodePtr signature, XadesUndo& undo) {
  if (!signature) throw TalApiException(xmlrc::INV_MSG);
  xmlNodePtr qp = findQualifyingProperties(signature);
  if (!qp) {
    xmlNodePtr object = add(signature, xmlc::DS_OBJECT, DS);
    undo.created(object);
    qp = add(object, xmlc::XADES_QUALIFYING_PROPERTIES, XADES);
    std::string id;
    const bool hasId = propOf(signature, "Id", id);
    // An empty Id names nothing a Target could point at; it is not replaced.
    if (hasId && id.empty()) throw TalApiException(xmlrc::INV_MSG);
    if (!hasId) {
      id = ids.make("Sgn_");
      if (!xmlSetProp(signature, BAD_CAST "Id", BAD_CAST id.c_str())) throw TalApiException(xmlrc::MEM);
      undo.idSet(signature);
    }
    if (!xmlSetProp(qp, BAD_CAST "Target", BAD_CAST("#" + id).c_str())) throw TalApiException(xmlrc::MEM);
  }
  return unsignedSignatureProperties(qp, undo);
}

bool wrapBasicOcspResponse(const BasicOCSPResponse& basic, OCSPResponse& whole) {
  std::vector<unsigned char> inner;
  if (basic.encodeVector(inner) <= 0) return false;
  whole.responseStatus.set(static_cast<uint32_t>(OCSPResponse::OCSP_SUCCESSFUL));
  ResponseBytes& bytes = *whole.responseBytes;
  bytes.responseType = id_pkix_ocsp_basic;
  if (bytes.response.set(inner.data(), static_cast<int>(inner.size())) <= 0) return false;
  whole.responseBytesPresent = 1;
  return true;
}

bool wrapBasicOcspResponse(const BasicOCSPResponse& basic, std::vector<unsigned char>& der) {
  OCSPResponse whole;
  der.clear();
  return wrapBasicOcspResponse(basic, whole) && whole.encodeVector(der) > 0;
}

void writeCompleteRefs(xmlNodePtr usp, XmlUniqueIds& ids, uint32_t hashId, const ValidationData& data,
                       XadesUndo& undo) {
  std::string uri;
  if (!digestUriFromId(hashId, &uri)) throw TalApiException(xmlrc::NOT_IMPL);
  if (childOf(usp, xmlc::XADES_COMPLETE_CERTIFICATE_REFS) || childOf(usp, xmlc::XADES_COMPLETE_REVOCATION_REFS))
    throw TalApiException(xmlrc::INV_MSG);
  refuseAfterArchiveTimeStamp(usp);
  const Collected items = collect(data, nullptr);

  // An empty list is not written: a reader refuses one without entries.
  if (!items.certificates.empty()) {
    xmlNodePtr certRefs = newProperty(usp, xmlc::XADES_COMPLETE_CERTIFICATE_REFS, ids, "CCRefs_", undo);
    xmlNodePtr list = add(certRefs, xmlc::XADES_CERT_REFS, XADES);
    for (const SignedCertificate* c : items.certificates) {
      xmlNodePtr cert = add(list, xmlc::XADES_CERT, XADES);
      writeDigest(add(cert, xmlc::XADES_CERT_DIGEST, XADES), hashId, uri, derOf(*c));
      xmlNodePtr issuerSerial = add(cert, xmlc::XADES_ISSUER_SERIAL, XADES);
      addText(issuerSerial, xmlc::DS_X509_ISSUER_NAME, DS, nameText(c->tbsCertificate.issuer));
      addText(issuerSerial, xmlc::DS_X509_SERIAL_NUMBER, DS, decimal(c->tbsCertificate.serialNumber));
    }
  }
  if (items.revocations.empty()) return;

  xmlNodePtr revRefs = newProperty(usp, xmlc::XADES_COMPLETE_REVOCATION_REFS, ids, "CRRefs_", undo);
  const auto [crls, ocsps] = revocationLists(revRefs, items, xmlc::XADES_CRL_REFS, xmlc::XADES_OCSP_REFS);
  for (const CrlOrOcspValue* v : items.revocations) {
    if (v->crl) writeCrlRef(crls, hashId, uri, *v->crl);
    else writeOcspRef(ocsps, hashId, uri, *v->ocsp);
  }
}

void writeValues(xmlNodePtr usp, XmlUniqueIds& ids, const SignedCertificate* signerFirst,
                 const ValidationData& data, XadesUndo& undo) {
  if (childOf(usp, xmlc::XADES_CERTIFICATE_VALUES) || childOf(usp, xmlc::XADES_REVOCATION_VALUES))
    throw TalApiException(xmlrc::INV_MSG);
  refuseAfterArchiveTimeStamp(usp);
  const Collected items = collect(data, signerFirst);

  // An empty list is not written: a reader refuses one without entries.
  if (signerFirst || !items.certificates.empty()) {
    xmlNodePtr certValues = newProperty(usp, xmlc::XADES_CERTIFICATE_VALUES, ids, "CertVals_", undo);
    if (signerFirst)
      addText(certValues, xmlc::XADES_ENCAPSULATED_X509_CERTIFICATE, XADES, base64Of(derOf(*signerFirst)));
    for (const SignedCertificate* c : items.certificates)
      addText(certValues, xmlc::XADES_ENCAPSULATED_X509_CERTIFICATE, XADES, base64Of(derOf(*c)));
  }
  if (items.revocations.empty()) return;

  xmlNodePtr revValues = newProperty(usp, xmlc::XADES_REVOCATION_VALUES, ids, "RevVals_", undo);
  const auto [crls, ocsps] = revocationLists(revValues, items, xmlc::XADES_CRL_VALUES, xmlc::XADES_OCSP_VALUES);
  for (const CrlOrOcspValue* v : items.revocations)
    addText(v->crl ? crls : ocsps, v->crl ? xmlc::XADES_ENCAPSULATED_CRL_VALUE : xmlc::XADES_ENCAPSULATED_OCSP_VALUE,
            XADES, base64Of(revocationDer(*v)));
}

void writeArchiveTimeStamp(xmlNodePtr usp, XmlUniqueIds& ids, const TimeStampToken& token, XadesUndo& undo) {
  const std::string text = base64Of(derOf(token.token));
  xmlNodePtr stamp = newProperty(usp, xmlc::XADES_ARCHIVE_TIME_STAMP, ids, "ArchTS_", undo);
  xmlNodePtr encapsulated = addText(stamp, xmlc::XADES_ENCAPSULATED_TIME_STAMP, XADES, text);
  setId(encapsulated, ids, "EncTS_");
}
