#include "xmlsig/xadesreader.h"

#include "base/reportstream.h"
#include "base/talexception.h"
#include "pki/cms/esscades.h"
#include "pki/common/oids.h"
#include "pki/common/siganddigoid.h"
#include "xmlsig/conv_xml.h"
#include "xmlsig/xmlconst.h"
#include "xmlsig/xmltransform.h"
#include "xmlsig/xmlwalk.h"

#include <set>
#include <unordered_map>

using xmlwalk::contentOf;
using xmlwalk::isIn;
using xmlwalk::nextElement;
using xmlwalk::propOf;

namespace {

const char* const MSG_PREFIX = "Błąd podczas weryfikacji podpisu: ";
const char* const MSG_TARGET =
    "błędny format podpisu XML (element etsi:QualifyingProperties atrybut Target).\r\n";
const char* const MSG_NO_ID_OR_TARGET =
    "błędny format podpisu XML (brak atrybutu Id elementu ds:Signature lub Target elementu "
    "etsi:QualifyingProperties).\r\n";
const char* const MSG_TARGET_OTHER =
    "błędny format podpisu XML (atrybut Target elementu etsi:QualifyingProperties nie wskazuje na "
    "weryfikowany podpis).\r\n";
const char* const MSG_OUTSIDE_SCHEMA = "błędny format podpisu XML (element spoza schematu XAdES).\r\n";
const char* const MSG_SP_NO_ID =
    "błędny format podpisu XML (element etsi:SignedProperties brak atrybutu Id).\r\n";
const char* const MSG_SSP = "błędny format podpisu XML (element etsi:SignedSignatureProperties).\r\n";
const char* const MSG_SDOP = "błędny format podpisu XML (element etsi:SignedDataObjectProperties).\r\n";
const char* const MSG_NO_SIGNING_CERTIFICATE =
    "błędny format podpisu XML (brak elementu etsi:SigningCertificate).\r\n";
const char* const MSG_ELEMENT = "błąd przetwarzania elementu: etsi:";
const char* const POLICY_IMPLIED = "nieokreślona wprost (implied)";

// Certificates, CRLs, tokens and OCSP values are read from base64 of at most this many octets.
const size_t MAX_DER_VALUE = 16u << 20;
const size_t MAX_DIGEST_VALUE = 1024;

[[noreturn]] void fail(int32_t code = xmlrc::INV_MSG) { throw TalApiException(code); }

bool isDs(xmlNodePtr n, std::string_view name) { return isIn(n, name, xmlc::NS_DSIG); }
bool is132(xmlNodePtr n, std::string_view name) { return isIn(n, name, xmlc::NS_XADES); }

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

template <class List>
void checkRoom(const List& list) {
  if (list.size() >= XADES_MAX_ENTRIES) fail();
}

// A DER value of a base64 element: non-empty text that decodes and whose
// decoding ends exactly where the value does.
template <class T>
void decodeDerText(xmlNodePtr element, T& out) {
  std::string der;
  if (!xmlDecodeBase64(contentOf(element), der, MAX_DER_VALUE) || der.empty()) fail();
  int rc = out.decodeBuffer(reinterpret_cast<const unsigned char*>(der.data()),
                            static_cast<int>(der.size()), ASN_FLAG_CONST | ASN_FLAG_COPY);
  if (rc != static_cast<int>(der.size())) fail();
}

class Reader {
 public:
  Reader(XmlSigParser& p, XadesProperties& o, const XadesCounterSignatureMaker& m)
      : parser(p), out(o), makeCounterSignature(m), ns(p.xadesNamespace), v111(p.xades111) {}

  void read(xmlNodePtr qp);

 private:
  [[noreturn]] void reject(const char* message) {
    if (ReportStream* r = parser.reportStream()) *r << MSG_PREFIX << message;
    fail();
  }
  // Runs `body`; a failure adds the processing line of `name` and passes on.
  template <class F>
  void element(std::string_view name, F body) {
    try {
      body();
    } catch (const TalApiException&) {
      if (ReportStream* r = parser.reportStream())
        *r << MSG_PREFIX << MSG_ELEMENT << std::string(name).c_str() << ".\r\n";
      throw;
    }
  }
  bool inSig(xmlNodePtr n, std::string_view name) const { return isIn(n, name, ns); }

  void readSignedProperties(xmlNodePtr sp);
  void readSignedSignatureProperties(xmlNodePtr ssp);
  void readSigningCertificate(xmlNodePtr sc, bool v2);
  void readIssuerSerialV2(xmlNodePtr node, SignedAttributeXmlSigningCertificate& record);
  void readSignedDataObjectProperties(xmlNodePtr sdop);
  void readCommitmentType(xmlNodePtr cti);
  void readUnsignedSignatureProperties(xmlNodePtr usp);
  void readDigestAlgAndValue(xmlNodePtr node, int32_t& hashId, std::string& digest);
  void readIssuerSerial(xmlNodePtr node, DistinguishedName& issuer, ASNinteger& serial);
  void readName(const std::string& text, DistinguishedName& name);
  void readCertRefs(xmlNodePtr refs);
  void readRevocationRefs(xmlNodePtr refs);
  void readCrlRef(xmlNodePtr ref);
  void readOcspRef(xmlNodePtr ref);
  void readCertificateValues(xmlNodePtr values, SignatureCrtValues& list);
  void readRevocationValues(xmlNodePtr values, SignatureRevValues& list);
  void readTimeStamp(xmlNodePtr element, TimeStampToken& token, std::string& c14nUri);
  void readTimeStamp111(xmlNodePtr element, TimeStampToken& token);
  void readEncapsulated(xmlNodePtr element, TimeStampToken& token);
  void buildSignatureItems();

  XmlSigParser& parser;
  XadesProperties& out;
  const XadesCounterSignatureMaker& makeCounterSignature;
  std::string ns;
  bool v111;
};

void Reader::read(xmlNodePtr qp) {
  std::string target;
  if (!propOf(qp, "Target", target)) reject(MSG_TARGET);
  if (!target.empty() && target[0] == '#') target.erase(0, 1);
  if (parser.signatureId.empty() || target.empty()) reject(MSG_NO_ID_OR_TARGET);
  if (parser.signatureId != target) reject(MSG_TARGET_OTHER);
  xmlNodePtr c = firstElement(qp->children);
  if (inSig(c, xmlc::XADES_SIGNED_PROPERTIES)) {
    readSignedProperties(c);
    c = nextElement(c);
    if (!c) return;
  }
  if (!inSig(c, xmlc::XADES_UNSIGNED_PROPERTIES)) reject(MSG_OUTSIDE_SCHEMA);
  xmlNodePtr usp = firstElement(c->children);
  if (inSig(usp, xmlc::XADES_UNSIGNED_SIGNATURE_PROPERTIES)) {
    out.unsignedSignatureProperties = usp;
    readUnsignedSignatureProperties(usp);
  }
}

void Reader::readSignedProperties(xmlNodePtr sp) {
  std::string id;
  if (!propOf(sp, "Id", id)) reject(MSG_SP_NO_ID);
  parser.signedPropertiesNode = sp;
  parser.signedPropertiesId = id;
  parser.signedAttributes = &out.signedAttributes;
  xmlNodePtr c = firstElement(sp->children);
  if (!inSig(c, xmlc::XADES_SIGNED_SIGNATURE_PROPERTIES)) reject(MSG_SSP);
  readSignedSignatureProperties(c);
  c = nextElement(c);
  if (c) {
    if (!inSig(c, xmlc::XADES_SIGNED_DATA_OBJECT_PROPERTIES)) reject(MSG_SDOP);
    readSignedDataObjectProperties(c);
  }
}

void Reader::readSignedSignatureProperties(xmlNodePtr ssp) {
  xmlNodePtr c = firstElement(ssp->children);
  if (!c) fail();
  bool signingCertificate = false, signingTime = false;
  for (; c; c = nextElement(c)) {
    // SigningCertificateV2 (the form current signers write) stands where
    // SigningCertificate does; one of the two, once.
    const bool v2 = !v111 && inSig(c, xmlc::XADES_SIGNING_CERTIFICATE_V2);
    if (v2 || inSig(c, xmlc::XADES_SIGNING_CERTIFICATE)) {
      element(v2 ? xmlc::XADES_SIGNING_CERTIFICATE_V2 : xmlc::XADES_SIGNING_CERTIFICATE, [&] {
        if (signingCertificate) fail();
        signingCertificate = true;
        readSigningCertificate(c, v2);
      });
    } else if (inSig(c, xmlc::XADES_SIGNING_TIME)) {
      element(xmlc::XADES_SIGNING_TIME, [&] {
        if (signingTime) fail();
        signingTime = true;
        std::string text = contentOf(c);
        if (trimmed(text).empty()) fail();
        auto record = std::make_unique<SignedAttributeXmlSigningTime>();
        convXml::dateTimeToGenTime(text, record->time);
        out.signedAttributes.add(std::move(record));
      });
    } else if (inSig(c, xmlc::XADES_SIGNATURE_POLICY_IDENTIFIER)) {
      auto record = std::make_unique<SignedAttributeXmlSignaturePolicyIdentifier>();
      if (inSig(firstElement(c->children), xmlc::XADES_SIGNATURE_POLICY_IMPLIED))
        record->text = POLICY_IMPLIED;
      else
        serializeNode(c, record->text);
      out.signedAttributes.add(std::move(record));
    } else if (inSig(c, xmlc::XADES_SIGNATURE_PRODUCTION_PLACE)) {
      auto record = std::make_unique<SignedAttributeXmlSignatureProductionPlace>();
      serializeNode(c, record->text);
      out.signedAttributes.add(std::move(record));
    } else if (inSig(c, xmlc::XADES_SIGNER_ROLE)) {
      auto record = std::make_unique<SignedAttributeXmlSignerRole>();
      serializeNode(c, record->text);
      out.signedAttributes.add(std::move(record));
    } else {
      reject(MSG_OUTSIDE_SCHEMA);
    }
  }
  if (!signingCertificate) reject(MSG_NO_SIGNING_CERTIFICATE);
}

void Reader::readSigningCertificate(xmlNodePtr sc, bool v2) {
  xmlNodePtr cert = firstElement(sc->children);
  if (!cert) fail();
  // Only the first Cert names the signer's certificate.
  if (!inSig(cert, xmlc::XADES_CERT)) return;
  xmlNodePtr digest = firstElement(cert->children);
  if (!inSig(digest, xmlc::XADES_CERT_DIGEST)) fail();
  xmlNodePtr issuerSerial = nextElement(digest);
  auto record = std::make_unique<SignedAttributeXmlSigningCertificate>();
  readDigestAlgAndValue(digest, record->hashId, record->digest);
  if (v2) {
    // IssuerSerialV2 is optional; nothing else may follow the digest.
    if (issuerSerial) {
      if (!inSig(issuerSerial, xmlc::XADES_ISSUER_SERIAL_V2) || nextElement(issuerSerial)) fail();
      readIssuerSerialV2(issuerSerial, *record);
    }
  } else {
    if (!inSig(issuerSerial, xmlc::XADES_ISSUER_SERIAL)) fail();
    readIssuerSerial(issuerSerial, record->issuer, record->serial);
  }
  out.signedAttributes.add(std::move(record));
}

// The base64 of a DER IssuerSerial (RFC 5035) whose GeneralNames hold the
// issuer as a directoryName.
void Reader::readIssuerSerialV2(xmlNodePtr node, SignedAttributeXmlSigningCertificate& record) {
  IssuerSerial value;
  decodeDerText(node, value);
  const ASNany* name = nullptr;
  for (POSITION pos = value.issuer.GetHeadPosition(); pos && !name;) {
    const ASNany* n = value.issuer.GetNext(pos);
    if (n && n->getTag() == 0xA4 && n->content() && n->length > 0) name = n;
  }
  if (!name) fail();
  std::vector<unsigned char> der(name->content(), name->content() + name->length);
  if (record.issuer.decodeVector(der) != static_cast<int>(der.size())) fail();
  record.serial = value.serialNumber;
  record.matchIssuerSerial = true;
}

void Reader::readDigestAlgAndValue(xmlNodePtr node, int32_t& hashId, std::string& digest) {
  std::string_view first = v111 ? xmlc::NS_XADES111 : xmlc::NS_DSIG;
  auto inEither = [&](xmlNodePtr n, std::string_view name) {
    return isIn(n, name, first) || is132(n, name);
  };
  xmlNodePtr method = firstElement(node->children);
  if (!inEither(method, xmlc::DS_DIGEST_METHOD)) fail();
  std::string alg;
  uint32_t id = 0;
  if (!propOf(method, "Algorithm", alg) || !digestIdFromUri(alg.c_str(), &id)) fail();
  // MD5 is refused here as in ds:Reference (137): these digests choose the
  // signer's certificate and the values a reference stands for, and MD5
  // collisions are cheap, so a colliding certificate or CRL could stand in.
  if (alg == xmlc::DIGEST_MD5) fail(xmlrc::NOT_IMPL);
  xmlNodePtr value = nextElement(method);
  if (!inEither(value, xmlc::DS_DIGEST_VALUE)) fail();
  if (!xmlDecodeBase64(contentOf(value), digest, MAX_DIGEST_VALUE)) fail();
  MessageDigestCtx probe(id);
  probe.finish();
  if (digest.size() != probe.getDigestLength()) fail();
  hashId = static_cast<int32_t>(id);
}

void Reader::readName(const std::string& text, DistinguishedName& name) {
  if (trimmed(text).empty()) fail();
  // Without the store's attribute table the name stays unread (as KeyInfo's).
  if (parser.makeDnAttribute) convXml::parseDN(text, name, parser.makeDnAttribute);
}

void Reader::readIssuerSerial(xmlNodePtr node, DistinguishedName& issuer, ASNinteger& serial) {
  xmlNodePtr name = firstElement(node->children);
  if (!isDs(name, xmlc::DS_X509_ISSUER_NAME)) fail();
  xmlNodePtr number = nextElement(name);
  if (!isDs(number, xmlc::DS_X509_SERIAL_NUMBER)) fail();
  readName(contentOf(name), issuer);
  convXml::decimalToInteger(trimmed(contentOf(number)), serial);
}

void Reader::readSignedDataObjectProperties(xmlNodePtr sdop) {
  for (xmlNodePtr c = firstElement(sdop->children); c; c = nextElement(c)) {
    if (inSig(c, xmlc::XADES_COMMITMENT_TYPE_INDICATION)) {
      readCommitmentType(c);
    } else if (inSig(c, xmlc::XADES_DATA_OBJECT_FORMAT)) {
      auto record = std::make_unique<SignedAttributeXmlDataObjectFormat>();
      serializeNode(c, record->text);
      out.signedAttributes.add(std::move(record));
    }
  }
}

void Reader::readCommitmentType(xmlNodePtr cti) {
  xmlNodePtr id = firstElement(cti->children);
  if (!inSig(id, xmlc::XADES_COMMITMENT_TYPE_ID)) fail();
  xmlNodePtr identifier = firstElement(id->children);
  if (!identifier || !xmlStrEqual(identifier->name, BAD_CAST xmlc::XADES_IDENTIFIER.data())) fail();
  auto record = std::make_unique<SignedAttributeXmlCommitmentType>();
  record->uri = trimmed(contentOf(identifier));
  xmlNodePtr c = nextElement(id);
  if (!c) fail();
  bool qualifiers = false;
  for (; c; c = nextElement(c)) {
    if (inSig(c, xmlc::XADES_ALL_SIGNED_DATA_OBJECTS)) {
      if (record->allDataObjects) fail();
      record->allDataObjects = true;
    } else if (inSig(c, xmlc::XADES_OBJECT_REFERENCE)) {
      if (record->allDataObjects) fail();
      checkRoom(record->objectReferences);
      record->objectReferences.push_back(trimmed(contentOf(c)));
    } else if (inSig(c, xmlc::XADES_COMMITMENT_TYPE_QUALIFIERS)) {
      if (qualifiers) fail();
      qualifiers = true;
    } else {
      fail();
    }
  }
  out.signedAttributes.add(std::move(record));
}

void Reader::readUnsignedSignatureProperties(xmlNodePtr usp) {
  bool certRefs = false, revRefs = false, certValues = false, revValues = false;
  for (xmlNodePtr c = firstElement(usp->children); c; c = nextElement(c)) {
    if (inSig(c, xmlc::XADES_SIGNATURE_TIME_STAMP)) {
      element(xmlc::XADES_SIGNATURE_TIME_STAMP, [&] {
        if (!out.signatureItemsBuilt) buildSignatureItems();
        if (!out.signatureTimeStamps) out.signatureTimeStamps = std::make_unique<SignatureTimeStampTokens>();
        checkRoom(out.signatureTimeStamps->items);
        auto token = std::make_unique<XmlSignatureTimeStampToken>();
        token->element = c;
        if (v111)
          readTimeStamp111(c, *token);
        else
          readTimeStamp(c, *token, token->c14nUri);
        out.signatureTimeStamps->adopt(std::move(token));
      });
    } else if (inSig(c, xmlc::XADES_ARCHIVE_TIME_STAMP) ||
               isIn(c, xmlc::XADES_ARCHIVE_TIME_STAMP, xmlc::NS_XADES141)) {
      element(xmlc::XADES_ARCHIVE_TIME_STAMP, [&] {
        if (v111) fail();
        if (!out.archiveTimeStamps) out.archiveTimeStamps = std::make_unique<ArchiveTimeStampTokens>();
        checkRoom(out.archiveTimeStamps->items);
        auto token = std::make_unique<XmlArchiveTimeStampToken>();
        token->element = c;
        token->v141 = isIn(c, xmlc::XADES_ARCHIVE_TIME_STAMP, xmlc::NS_XADES141);
        readTimeStamp(c, *token, token->c14nUri);
        int len = 0, hash = 0;
        if (!digestOidToType(token->tstInfo.messageImprint.digestAlgorithm.algorithm, &len, &hash))
          fail();
        bool known = false;
        for (uint32_t id : parser.requestedDigests) known = known || id == static_cast<uint32_t>(hash);
        if (!known) parser.requestedDigests.push_back(static_cast<uint32_t>(hash));
        out.archiveTimeStamps->adopt(std::move(token));
      });
    } else if (inSig(c, xmlc::XADES_COMPLETE_CERTIFICATE_REFS)) {
      element(xmlc::XADES_COMPLETE_CERTIFICATE_REFS, [&] {
        if (v111 || certRefs) fail();
        certRefs = true;
        readCertRefs(c);
      });
    } else if (inSig(c, xmlc::XADES_COMPLETE_REVOCATION_REFS)) {
      element(xmlc::XADES_COMPLETE_REVOCATION_REFS, [&] {
        if (v111 || revRefs) fail();
        revRefs = true;
        readRevocationRefs(c);
      });
    } else if (inSig(c, xmlc::XADES_CERTIFICATE_VALUES)) {
      element(xmlc::XADES_CERTIFICATE_VALUES, [&] {
        if (v111 || certValues) fail();
        certValues = true;
        readCertificateValues(c, parser.certificateValues);
      });
    } else if (inSig(c, xmlc::XADES_REVOCATION_VALUES)) {
      element(xmlc::XADES_REVOCATION_VALUES, [&] {
        if (v111 || revValues) fail();
        revValues = true;
        readRevocationValues(c, parser.revocationValues);
      });
    } else if (inSig(c, xmlc::XADES_COUNTER_SIGNATURE)) {
      element(xmlc::XADES_COUNTER_SIGNATURE, [&] {
        xmlNodePtr signature = firstElement(c->children);
        if (!signature || !makeCounterSignature) fail();
        checkRoom(out.counterSignatures.items);
        std::unique_ptr<SigInfo> info(makeCounterSignature(signature));
        if (!info) fail();
        out.counterSignatures.adopt(std::move(info));
      });
    } else if (isIn(c, xmlc::XADES_TIME_STAMP_VALIDATION_DATA, xmlc::NS_XADES141)) {
      element(xmlc::XADES_TIME_STAMP_VALIDATION_DATA, [&] {
        for (xmlNodePtr v = firstElement(c->children); v; v = nextElement(v)) {
          if (inSig(v, xmlc::XADES_CERTIFICATE_VALUES))
            readCertificateValues(v, parser.timeStampCertificateValues);
          else if (inSig(v, xmlc::XADES_REVOCATION_VALUES))
            readRevocationValues(v, parser.timeStampRevocationValues);
        }
      });
    }
  }
  // The data a token covers is built when the token is checked: built here
  // for each, the lists of all held every unreferenced ds:Object once per
  // token. The structure they share is checked now, as it was then.
  if (out.archiveTimeStamps && !out.archiveTimeStamps->items.empty()) {
    XmlDataItems items;
    buildArchiveItems(parser.signatureNode, out.archiveTimeStamps.get(),
                      static_cast<XmlArchiveTimeStampToken*>(out.archiveTimeStamps->items.front()), items);
  }
}

void Reader::buildSignatureItems() {
  XmlDataItem item;
  item.node = parser.signatureValueNode;
  if (!item.node) {
    for (xmlNodePtr c = firstElement(parser.signatureNode ? parser.signatureNode->children : nullptr);
         c && !item.node; c = nextElement(c))
      if (isDs(c, xmlc::DS_SIGNATURE_VALUE)) item.node = c;
  }
  if (!item.node) fail();
  if (v111 && (!propOf(item.node, "Id", item.uri) || item.uri.empty())) fail();
  out.signatureTimeStampItems.push_back(item);
  out.signatureItemsBuilt = true;
}

void Reader::readCertRefs(xmlNodePtr refs) {
  xmlNodePtr list = firstElement(refs->children);
  if (!list) fail();
  for (xmlNodePtr c = firstElement(list->children); c; c = nextElement(c)) {
    if (!is132(c, xmlc::XADES_CERT)) fail();
    checkRoom(parser.certificateRefs.items);
    xmlNodePtr digest = firstElement(c->children);
    if (!is132(digest, xmlc::XADES_CERT_DIGEST)) fail();
    xmlNodePtr issuerSerial = nextElement(digest);
    if (!is132(issuerSerial, xmlc::XADES_ISSUER_SERIAL)) fail();
    auto ref = std::make_unique<SignatureCrtRef>();
    readDigestAlgAndValue(digest, ref->hashId, ref->digest);
    readIssuerSerial(issuerSerial, ref->issuer, ref->serial);
    parser.certificateRefs.adopt(std::move(ref));
  }
  if (parser.certificateRefs.items.empty()) fail();
}

void Reader::readRevocationRefs(xmlNodePtr refs) {
  xmlNodePtr c = firstElement(refs->children);
  if (!c) fail();
  if (is132(c, xmlc::XADES_CRL_REFS)) {
    xmlNodePtr r = firstElement(c->children);
    if (!r) fail();
    for (; r; r = nextElement(r)) {
      if (!is132(r, xmlc::XADES_CRL_REF)) fail();
      readCrlRef(r);
    }
    c = nextElement(c);
  }
  if (c) {
    if (is132(c, xmlc::XADES_OCSP_REFS)) {
      xmlNodePtr r = firstElement(c->children);
      if (!r) fail();
      for (; r; r = nextElement(r)) {
        if (!is132(r, xmlc::XADES_OCSP_REF)) fail();
        readOcspRef(r);
      }
      if (nextElement(c)) fail();
    } else if (nextElement(c)) {
      // Only a last element (OtherRefs) may stand in place of OCSPRefs.
      fail();
    }
  }
  if (parser.revocationRefs.items.empty()) fail();
}

void Reader::readCrlRef(xmlNodePtr node) {
  checkRoom(parser.revocationRefs.items);
  auto ref = std::make_unique<SignatureCrlOrOcspRef>();
  ref->kind = SignatureCrlOrOcspRef::CRL;
  xmlNodePtr c = firstElement(node->children);
  if (!is132(c, xmlc::XADES_DIGEST_ALG_AND_VALUE)) fail();
  readDigestAlgAndValue(c, ref->crl.hashId, ref->crl.digest);
  c = nextElement(c);
  if (is132(c, xmlc::XADES_CRL_IDENTIFIER)) {
    ref->crl.identifierPresent = true;
    xmlNodePtr issuer = firstElement(c->children);
    if (!is132(issuer, xmlc::XADES_ISSUER)) fail();
    readName(contentOf(issuer), ref->crl.issuer);
    xmlNodePtr time = nextElement(issuer);
    if (!is132(time, xmlc::XADES_ISSUE_TIME)) fail();
    convXml::dateTimeToTime(contentOf(time), ref->crl.issueTime);
    xmlNodePtr number = nextElement(time);
    if (is132(number, xmlc::XADES_NUMBER)) {
      convXml::decimalToInteger(trimmed(contentOf(number)), ref->crl.crlNumber);
      ref->crl.crlNumberPresent = true;
    }
  }
  parser.revocationRefs.adopt(std::move(ref));
}

void Reader::readOcspRef(xmlNodePtr node) {
  checkRoom(parser.revocationRefs.items);
  auto ref = std::make_unique<SignatureCrlOrOcspRef>();
  ref->kind = SignatureCrlOrOcspRef::OCSP;
  xmlNodePtr id = firstElement(node->children);
  if (!is132(id, xmlc::XADES_OCSP_IDENTIFIER)) fail();
  xmlNodePtr responder = firstElement(id->children);
  if (!is132(responder, xmlc::XADES_RESPONDER_ID)) fail();
  xmlNodePtr choice = firstElement(responder->children);
  if (is132(choice, xmlc::XADES_BY_NAME)) {
    readName(contentOf(choice), ref->ocsp.responder);
  } else if (is132(choice, xmlc::XADES_BY_KEY)) {
    std::string hash;
    if (!xmlDecodeBase64(contentOf(choice), hash, MAX_DIGEST_VALUE) ||
        !ref->ocsp.responderKeyHash.set(reinterpret_cast<const unsigned char*>(hash.data()),
                                        static_cast<int>(hash.size())))
      fail();
    ref->ocsp.byKey = true;
  } else {
    fail();
  }
  xmlNodePtr produced = nextElement(responder);
  if (!is132(produced, xmlc::XADES_PRODUCED_AT)) fail();
  convXml::dateTimeToTime(contentOf(produced), ref->ocsp.producedAt);
  xmlNodePtr digest = nextElement(id);
  if (is132(digest, xmlc::XADES_DIGEST_ALG_AND_VALUE))
    readDigestAlgAndValue(digest, ref->ocsp.hashId, ref->ocsp.digest);
  parser.revocationRefs.adopt(std::move(ref));
}

void Reader::readCertificateValues(xmlNodePtr values, SignatureCrtValues& list) {
  xmlNodePtr c = firstElement(values->children);
  if (!c) fail();
  for (; c; c = nextElement(c)) {
    if (!is132(c, xmlc::XADES_ENCAPSULATED_X509_CERTIFICATE)) fail();
    checkRoom(list.items);
    auto cert = std::make_unique<SignedCertificate>();
    decodeDerText(c, *cert);
    list.adopt(std::move(cert));
  }
}

void Reader::readRevocationValues(xmlNodePtr values, SignatureRevValues& list) {
  xmlNodePtr c = firstElement(values->children);
  if (!is132(c, xmlc::XADES_CRL_VALUES) && !is132(c, xmlc::XADES_OCSP_VALUES)) fail();
  if (is132(c, xmlc::XADES_CRL_VALUES)) {
    xmlNodePtr v = firstElement(c->children);
    if (!v) fail();
    for (; v; v = nextElement(v)) {
      if (!is132(v, xmlc::XADES_ENCAPSULATED_CRL_VALUE)) fail();
      checkRoom(list.items);
      auto crl = std::make_unique<SignedCertRevList>();
      decodeDerText(v, *crl);
      auto value = std::make_unique<CrlOrOcspValue>(crl.get(), nullptr, 1);
      crl.release();
      list.adopt(std::move(value));
    }
    c = nextElement(c);
  }
  if (!is132(c, xmlc::XADES_OCSP_VALUES)) return;
  if (nextElement(c)) fail();
  xmlNodePtr v = firstElement(c->children);
  if (!v) fail();
  for (; v; v = nextElement(v)) {
    if (!is132(v, xmlc::XADES_ENCAPSULATED_OCSP_VALUE)) fail();
    checkRoom(list.items);
    std::string der;
    if (!xmlDecodeBase64(contentOf(v), der, MAX_DER_VALUE) || der.empty()) fail();
    const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
    const int size = static_cast<int>(der.size());
    auto basic = std::make_unique<BasicOCSPResponse>();
    if (basic->decodeBuffer(bytes, size, ASN_FLAG_CONST | ASN_FLAG_COPY) != size) {
      // A whole OCSPResponse: its basic response when it has one.
      OCSPResponse response;
      if (response.decodeBuffer(bytes, size, ASN_FLAG_CONST | ASN_FLAG_COPY) != size) fail();
      if (response.responseStatus.toLong() != OCSPResponse::OCSP_SUCCESSFUL ||
          !response.responseBytesPresent)
        continue;
      const ResponseBytes& rb = response.responseBytes.inner;
      if (!(rb.responseType == id_pkix_ocsp_basic)) fail();
      basic = std::make_unique<BasicOCSPResponse>();
      if (basic->decodeBuffer(rb.response.data(), rb.response.length,
                              ASN_FLAG_CONST | ASN_FLAG_COPY) != rb.response.length ||
          rb.response.length == 0)
        fail();
    }
    auto value = std::make_unique<CrlOrOcspValue>(nullptr, basic.get(), 1);
    basic.release();
    list.adopt(std::move(value));
  }
}

void Reader::readEncapsulated(xmlNodePtr c, TimeStampToken& token) {
  std::string der;
  if (!xmlDecodeBase64(contentOf(c), der, MAX_DER_VALUE) || der.empty()) fail();
  int rc = token.token.decodeBuffer(reinterpret_cast<const unsigned char*>(der.data()),
                                    static_cast<int>(der.size()), ASN_FLAG_CONST | ASN_FLAG_COPY);
  if (rc != static_cast<int>(der.size())) fail();
  const auto& encap = token.token.value().encapContentInfo;
  const ASNoctstr& content = encap.value();
  if (!(encap.contentType == id_ct_TSTInfo) || content.length <= 0 ||
      token.tstInfo.decodeOctets(content) != content.length)
    fail();
}

void Reader::readTimeStamp(xmlNodePtr element, TimeStampToken& token, std::string& c14nUri) {
  xmlNodePtr c = firstElement(element->children);
  if (!c) fail();
  for (; is132(c, xmlc::XADES_INCLUDE); c = nextElement(c)) {
    std::string uri;
    if (!propOf(c, "URI", uri) || uri.size() < 2 || uri[0] != '#') fail();
  }
  if (isDs(c, xmlc::DS_CANONICALIZATION_METHOD)) {
    if (!propOf(c, "Algorithm", c14nUri)) fail();
    if (c14nUri != xmlc::ALG_C14N && c14nUri != xmlc::ALG_C14N_COMMENTS &&
        c14nUri != xmlc::ALG_EXC_C14N && c14nUri != xmlc::ALG_EXC_C14N_COMMENTS)
      fail(xmlrc::NOT_IMPL);
    c = nextElement(c);
    if (!c) fail();
  }
  if (!is132(c, xmlc::XADES_ENCAPSULATED_TIME_STAMP)) fail();
  std::string encoding;
  if (propOf(c, "Encoding", encoding) && encoding != xmlc::ENCODING_DER &&
      encoding != xmlc::ENCODING_BER)
    fail();
  readEncapsulated(c, token);
}

void Reader::readTimeStamp111(xmlNodePtr element, TimeStampToken& token) {
  XmlDataItems listed;
  xmlNodePtr c = firstElement(element->children);
  for (; inSig(c, xmlc::XADES_HASH_DATA_INFO); c = nextElement(c)) {
    std::string uri;
    if (!propOf(c, "URI", uri) || uri.empty() || uri[0] != '#') fail();
    checkRoom(listed);
    if (xmlNodePtr transforms = firstElement(c->children)) {
      xmlNodePtr t = firstElement(transforms->children);
      std::string alg;
      if (!isDs(t, xmlc::DS_TRANSFORM) || !propOf(t, "Algorithm", alg) || alg != xmlc::ALG_C14N) fail();
    }
    XmlDataItem item;
    item.uri = uri.substr(1);
    listed.push_back(item);
  }
  if (listed.empty()) fail();
  const XmlDataItems& expected = out.signatureTimeStampItems;
  if (listed.size() != expected.size()) fail();
  for (size_t i = 0; i < listed.size(); ++i)
    if (listed[i].uri != expected[i].uri || listed[i].reference != expected[i].reference) fail();
  if (!inSig(c, xmlc::XADES_ENCAPSULATED_TIME_STAMP)) fail();
  std::string encoding;
  if (propOf(c, "Encoding", encoding) && encoding != xmlc::ENCODING_DER) fail();
  readEncapsulated(c, token);
}

int64_t scaledFraction(const ASNgenTime& t, int digits) {
  if (t.fraction < 0 || t.fractionDigits <= 0) return 0;
  int64_t v = t.fraction;
  for (int i = t.fractionDigits; i < digits; ++i) v *= 10;
  return v;
}

}  // namespace

bool genTimeEarlier(const ASNgenTime& a, const ASNgenTime& b) {
  const int32_t fa[] = {a.year, a.month, a.day, a.hour, a.minute, a.second};
  const int32_t fb[] = {b.year, b.month, b.day, b.hour, b.minute, b.second};
  for (size_t i = 0; i < 6; ++i)
    if (fa[i] != fb[i]) return fa[i] < fb[i];
  int da = a.fraction < 0 ? 0 : a.fractionDigits;
  int db = b.fraction < 0 ? 0 : b.fractionDigits;
  int digits = da > db ? da : db;
  return scaledFraction(a, digits) < scaledFraction(b, digits);
}

void readQualifyingProperties(XmlSigParser& parser, XadesProperties& out,
                              const XadesCounterSignatureMaker& makeCounterSignature,
                              xmlNodePtr qualifyingProperties) {
  Reader(parser, out, makeCounterSignature).read(qualifyingProperties);
}

namespace {
thread_local uint64_t archiveItemsBuilt = 0;
}  // namespace

uint64_t xmlArchiveItemsBuilt() { return archiveItemsBuilt; }

void buildArchiveItems(xmlNodePtr signature, const ArchiveTimeStampTokens* tokens,
                       const XmlArchiveTimeStampToken* token, XmlDataItems& out) {
  out.clear();
  if (!signature) fail();
  auto add = [&out](xmlNodePtr node, bool reference) {
    ++archiveItemsBuilt;
    XmlDataItem item;
    item.node = node;
    item.reference = reference;
    out.push_back(item);
  };
  xmlNodePtr signedInfo = firstElement(signature->children);
  if (!isDs(signedInfo, xmlc::DS_SIGNED_INFO)) fail();
  std::set<std::string> referencedIds;
  for (xmlNodePtr r = firstElement(signedInfo->children); r; r = nextElement(r)) {
    if (!isDs(r, xmlc::DS_REFERENCE)) continue;
    std::string uri;
    if (!propOf(r, "URI", uri)) fail();
    if (!uri.empty() && uri[0] == '#') referencedIds.insert(uri.substr(1));
    add(r, true);
  }
  add(signedInfo, false);
  xmlNodePtr value = nextElement(signedInfo);
  if (!isDs(value, xmlc::DS_SIGNATURE_VALUE)) fail();
  add(value, false);
  if (xmlNodePtr keyInfo = nextElement(value); isDs(keyInfo, xmlc::DS_KEY_INFO)) add(keyInfo, false);

  xmlNodePtr holder = nullptr, usp = nullptr;
  for (xmlNodePtr o = firstElement(signature->children); o && !holder; o = nextElement(o))
    if (isDs(o, xmlc::DS_OBJECT) && is132(firstElement(o->children), xmlc::XADES_QUALIFYING_PROPERTIES))
      holder = o;
  if (holder) {
    xmlNodePtr up = firstElement(firstElement(holder->children)->children);
    while (up && !is132(up, xmlc::XADES_UNSIGNED_PROPERTIES)) up = nextElement(up);
    if (up && is132(firstElement(up->children), xmlc::XADES_UNSIGNED_SIGNATURE_PROPERTIES))
      usp = firstElement(up->children);
  }
  if (!usp) fail();
  static const std::string_view covered[] = {
      xmlc::XADES_SIGNATURE_TIME_STAMP,       xmlc::XADES_COUNTER_SIGNATURE,
      xmlc::XADES_COMPLETE_CERTIFICATE_REFS,  xmlc::XADES_COMPLETE_REVOCATION_REFS,
      xmlc::XADES_ATTRIBUTE_CERTIFICATE_REFS, xmlc::XADES_ATTRIBUTE_REVOCATION_REFS,
      xmlc::XADES_SIG_AND_REFS_TIME_STAMP,    xmlc::XADES_REFS_ONLY_TIME_STAMP,
      xmlc::XADES_CERTIFICATE_VALUES,         xmlc::XADES_REVOCATION_VALUES,
  };
  for (xmlNodePtr c = firstElement(usp->children); c; c = nextElement(c))
    for (std::string_view name : covered)
      if (is132(c, name)) add(c, false);
  // Earlier archive time-stamps of both namespaces: for a read token those
  // generated strictly before it, for a new one all of them.
  // A new one covers the 1.4.1 ones too: left out, they could be swapped unnoticed.
  // Each element's token is looked up, not searched for: every token's items
  // are built, and a search would make the list's length cubed.
  std::unordered_map<xmlNodePtr, const XmlArchiveTimeStampToken*> tokenOf;
  if (token && tokens)
    for (const ArchiveTimeStampToken* t : tokens->items) {
      const auto* x = static_cast<const XmlArchiveTimeStampToken*>(t);
      tokenOf[x->element] = x;  // the last of one element, as the search found
    }
  for (xmlNodePtr c = firstElement(usp->children); c; c = nextElement(c)) {
    if (!is132(c, xmlc::XADES_ARCHIVE_TIME_STAMP) &&
        !isIn(c, xmlc::XADES_ARCHIVE_TIME_STAMP, xmlc::NS_XADES141))
      continue;
    if (token) {
      const auto other = tokenOf.find(c);
      if (other == tokenOf.end()) fail();
      if (!genTimeEarlier(other->second->tstInfo.genTime, token->tstInfo.genTime)) continue;
    }
    add(c, false);
  }
  const bool all = token && token->v141;
  for (xmlNodePtr o = firstElement(signature->children); o; o = nextElement(o)) {
    if (!isDs(o, xmlc::DS_OBJECT) || o == holder) continue;
    std::string id;
    if (all || !propOf(o, "Id", id) || referencedIds.count(id) == 0) add(o, false);
  }
}
