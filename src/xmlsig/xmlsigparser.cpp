#include "xmlsig/xmlsigparser.h"

#include "base/b64file.h"
#include "base/no_oop.h"
#include "base/reportstream.h"
#include "base/talexception.h"
#include "base/workaccount.h"
#include "xmlsig/signedattrsxml.h"
#include "xmlsig/xmlb64transform.h"
#include "xmlsig/xmlc14transform.h"
#include "xmlsig/xmlc14writer.h"
#include "xmlsig/xmlconst.h"
#include "xmlsig/xmltransformchain.h"
#include "xmlsig/xmlwalk.h"
#include "xmlsig/xmlxpathtransform.h"
#include "xmlsig/xmlxpointertransform.h"
#include "xmlsig/xmlxslttransform.h"

#include <libxml/uri.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <strings.h>

namespace {

// A document's name (the ANSI code page) in UTF-8; false when it is no text
// of that page.
bool ansiNameToUtf8(const std::string& name, std::string& out) {
  const int32_t size = static_cast<int32_t>(name.size());
  const int32_t needed = ansiToUtf8(name.data(), size, nullptr, 0);
  if (needed <= 0) return false;
  out.assign(static_cast<size_t>(needed), '\0');
  return ansiToUtf8(name.data(), size, &out[0], needed) == needed;
}

// `issuer` issued `subject`: its subject names the subject's issuer and its
// key verifies the subject's signature.
bool issuedBy(const SignedCertificate& subject, const SignedCertificate& issuer) {
  return subject.tbsCertificate.issuer == issuer.tbsCertificate.subject &&
         subject.verifySignature(issuer) == SignedCertificate::CERT_SIG_VALID;
}

const char* const MSG_PREFIX = "Błąd podczas weryfikacji podpisu: ";
const char* const MSG_SIGNED_INFO = "błędny format podpisu XML (element ds:SignedInfo).\r\n";
const char* const MSG_SIGNATURE_VALUE = "błędny format podpisu XML (element ds:SignatureValue).\r\n";
const char* const MSG_OUTSIDE_SCHEMA =
    "błędny format podpisu XML (element spoza schematu XML Signature).\r\n";
const char* const MSG_QUALIFYING =
    "błędny format podpisu XML (element etsi:QualifyingProperties).\r\n";
const char* const MSG_C14N_METHOD =
    "błędny format podpisu XML (element ds:CanonicalizationMethod).\r\n";
const char* const MSG_SIGNATURE_METHOD =
    "błędny format podpisu XML (element ds:SignatureMethod).\r\n";
const char* const MSG_NO_APPLICATION_REFS =
    "błędny format podpisu XML (brak elementów ds:Reference dla danych aplikacji).\r\n";
const char* const MSG_TRANSFORMS = "błędny format podpisu XML (element ds:Transforms).\r\n";
const char* const MSG_DIGEST_METHOD = "błędny format podpisu XML (element ds:DigestMethod).\r\n";
const char* const MSG_DIGEST_METHOD_ALG =
    "błędny format podpisu XML (element ds:DigestMethod atrybut Algorithm).\r\n";
const char* const MSG_DIGEST_METHOD_UNKNOWN =
    "funkcjonalność niezaimplementowana (element ds:DigestMethod atrybut Algorithm).\r\n";
const char* const MSG_DIGEST_VALUE = "błędny format podpisu XML (element ds:DigestValue).\r\n";
const char* const MSG_REFERENCE_URI =
    "błędny format podpisu XML (element ds:Reference atrybut URI).\r\n";
const char* const MSG_MANIFEST = "funkcjonalność niezaimplementowana (element ds:Manifest).\r\n";
const char* const MSG_UNKNOWN_TYPE = "Nierozpoznana wartość atrybutu Type elementu ds:Reference!.\r\n";
const char* const MSG_REFERENCE = "błędny format podpisu XML (element ds:Reference).\r\n";
const char* const MSG_URI_NOT_IMPL =
    "funkcjonalność niezaimplementowana (element ds:Reference atrybut URI).\r\n";
const char* const MSG_NOT_EXPECTED =
    "brak oczekiwanej referencji w podpisie (element ds:Reference).\r\n";
const char* const MSG_DETACHED_AMBIGUOUS = "błąd otwarcia odłączonego pliku.\r\n";
const char* const MSG_DETACHED_MISSING = "błąd otwarcia odłączonego pliku: ";
const char* const MSG_TRANSFORM_RUN =
    "błąd wykonania transformacji dla elementu wskazanego w ds:Reference.\r\n";
const char* const MSG_SP_TWICE =
    "błędny format podpisu XML (element etsi:SignedProperties może być podpisany tylko raz).\r\n";
const char* const MSG_SP_TRANSFORM =
    "błędny format podpisu XML (niedozwolona transformacja dla elementu etsi:SignedProperties).\r\n";
const char* const MSG_KI_TWICE =
    "błędny format podpisu XML (element ds:KeyInfo może być podpisany tylko raz).\r\n";
const char* const MSG_KI_TRANSFORM =
    "błędny format podpisu XML (niedozwolona transformacja dla elementu ds:KeyInfo).\r\n";
const char* const MSG_TRANSFORM = "błędny format podpisu XML (element ds:Transform).\r\n";
const char* const MSG_TRANSFORM_ALG =
    "błędny format podpisu XML (element ds:Transform atrybut Algorithm).\r\n";
const char* const MSG_TRANSFORM_UNKNOWN =
    "funkcjonalność niezaimplementowana (nieobsługiwana transformacja w elemencie ds:Transform).\r\n";
const char* const MSG_INCLUSIVE = "błędny format podpisu XML (element ec:InclusiveNamespaces).\r\n";
const char* const MSG_INCLUSIVE_LIST =
    "błędny format podpisu XML (element ec:InclusiveNamespaces brak atrybutu PrefixList).\r\n";
const char* const MSG_KI_ONLY_X509 =
    "błędny format elementu KeyInfo (elementy inne niż ds:X509Data nie są obsługiwane).\r\n";
const char* const MSG_KI_CERT = "błędny format elementu KeyInfo (element ds:X509Certificate).\r\n";
const char* const MSG_KI_CERT_BAD = "błędny format certyfikatu (element ds:X509Certificate).\r\n";
const char* const MSG_KI_ISSUER_SERIAL =
    "błędny format elementu KeyInfo (element ds:X509IsuerSerial).\r\n";
const char* const MSG_KI_SUBJECT = "błędny format elementu KeyInfo (element ds:X509SubjectName).\r\n";
const char* const MSG_KI_CRL = "błędny format elementu KeyInfo (element ds:X509Crl).\r\n";
const char* const MSG_KI_CRL_BAD = "błędny format listy CRL (element ds:X509Crl).\r\n";
const char* const MSG_KI_TOKEN =
    "błędny format elementu KeyInfo (element wsse:BinarySecurityToken).\r\n";
const char* const MSG_KI_TOKEN_BAD = "błędny format certyfikatu (element wsse:BinarySecurityToken).\r\n";
const char* const MSG_SIGNER =
    "błędny format podpisu (nie można jednoznacznie wskazać certyfikatu do weryfikacji podpisu).\r\n";

const char* const X509V3_TOKEN =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-x509-token-profile-1.0#X509v3";

// Certificates, CRLs and tokens are read from base64 of at most this many octets.
const size_t MAX_DER_VALUE = 1u << 20;
// A DigestValue longer than any digest is refused as malformed.
const size_t MAX_DIGEST_VALUE = 1024;

struct SignatureMethodRow {
  std::string_view uri;
  int32_t scheme;
  uint32_t hash;
};
const SignatureMethodRow SIGNATURE_METHODS[] = {
    {xmlc::SIG_RSA_SHA1, SIG_SCHEME_RSA_PKCS1, 1},   {xmlc::SIG_RSA_SHA256, SIG_SCHEME_RSA_PKCS1, 3},
    {xmlc::SIG_RSA_SHA384, SIG_SCHEME_RSA_PKCS1, 4}, {xmlc::SIG_RSA_SHA512, SIG_SCHEME_RSA_PKCS1, 5},
    {xmlc::SIG_DSA_SHA1, SIG_SCHEME_DSA, 1},         {xmlc::SIG_ECDSA_SHA1, SIG_SCHEME_ECDSA, 1},
    {xmlc::SIG_ECDSA_SHA256, SIG_SCHEME_ECDSA, 3},   {xmlc::SIG_ECDSA_SHA384, SIG_SCHEME_ECDSA, 4},
    {xmlc::SIG_ECDSA_SHA512, SIG_SCHEME_ECDSA, 5},
};

using xmlwalk::contentOf;
using xmlwalk::isIn;
using xmlwalk::nextElement;
using xmlwalk::propOf;
bool isDs(xmlNodePtr n, std::string_view name) { return isIn(n, name, xmlc::NS_DSIG); }

bool isCanonicalisation(int32_t kind) {
  return kind == XML_TK_C14N || kind == XML_TK_C14N_COMMENTS || kind == XML_TK_EXC_C14N ||
         kind == XML_TK_EXC_C14N_COMMENTS;
}
bool withComments(int32_t kind) {
  return kind == XML_TK_C14N_COMMENTS || kind == XML_TK_EXC_C14N_COMMENTS;
}
bool exclusive(int32_t kind) { return kind == XML_TK_EXC_C14N || kind == XML_TK_EXC_C14N_COMMENTS; }

// An XPath filter over the subtree a fragment names (or the nodes an XPointer
// selected, given as a rule the chain owns): its result less what lies outside
// them (the filter itself is evaluated per node of the document).
class XmlSubtreeRestriction : public XmlTransform, public XmlNodeFilter {
 public:
  explicit XmlSubtreeRestriction(xmlNodePtr top, XmlNodeFilter* range = nullptr)
      : XmlTransform(XML_TK_XPATH, XML_DATA_NODESET, XML_DATA_NODESET),
        subtree(top),
        range(range) {}
  XmlNodeFilter* outputFilter() override { return this; }
  void applyToFilter(XmlNodeFilter* filter) override {
    if (!filter) throw TalApiException(xmlrc::TRANSFORM_FAILED);
    input = filter;
  }
  int visible(xmlNodePtr node, xmlNodePtr parent) override {
    bool within = range ? range->visible(node, parent) == 1 : subtree.contains(node, parent);
    return within && input->visible(node, parent) == 1 ? 1 : 0;
  }
  int32_t failure() const override { return input ? input->failure() : 0; }

 private:
  XmlSubtree subtree;
  XmlNodeFilter* range;
  XmlNodeFilter* input = nullptr;
};

// A scheme-based XPointer ("xpointer(...)", "xmlns(...)xpointer(...)"): an
// NCName followed by "(".
bool isSchemeBasedPointer(const std::string& fragment) {
  size_t open = fragment.find('(');
  if (open == 0 || open == std::string::npos || open > 64) return false;
  std::string scheme = fragment.substr(0, open);
  return xmlValidateNCName(BAD_CAST scheme.c_str(), 0) == 0;
}

struct TransformStep {
  xmlNodePtr element;
  XmlTransformParam param;
};

}  // namespace

std::string xmlIdOf(xmlNodePtr element) {
  std::string id;
  for (const char* name : XML_ID_ATTRIBUTE_NAMES)
    if (propOf(element, name, id)) return id;
  return std::string();
}

bool xmlDecodeBase64(const std::string& text, std::string& out, size_t maxOut) {
  out.clear();
  // What a document carries (certificates, CRLs, responses, tokens) is work by
  // its size: decoded here, then read as DER. Charged to the document's
  // account, whose next price refuses once it is spent.
  workCharge(text.size() * WORK_DER_OCTET);
  std::string packed;
  packed.reserve(text.size());
  for (char c : text)
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') packed.push_back(c);
  if (packed.empty() || packed.size() % 4 != 0 || packed.size() / 4 * 3 > maxOut + 2 ||
      packed.size() > 0x7FFFFFF0u)
    return false;
  // Padding ends the value: "QQ==QUFB" is not one base64Binary.
  if (packed.find('=') < packed.size() - 4) return false;
  std::string bytes(packed.size() / 4 * 3, '\0');
  int32_t n = decodeBase64Block(packed.data(), static_cast<int32_t>(packed.size()),
                                reinterpret_cast<uint8_t*>(&bytes[0]));
  if (n <= 0 || static_cast<size_t>(n) > maxOut) return false;
  bytes.resize(static_cast<size_t>(n));
  out.swap(bytes);
  return true;
}

MessageDigestXml::MessageDigestXml(uint32_t algorithm, const std::string& expected)
    : expected(expected), algorithm(algorithm) {
  addAlgorithm(algorithm);
}

void MessageDigestXml::finishComputed() {
  context().finish();
  computed = true;
}

void MessageDigestXml::setComputed(const std::string& digest) {
  computed = context().setDigest(digest.data(), static_cast<uint32_t>(digest.size()));
}

bool MessageDigestXml::matches() const {
  const MessageDigestCtx* c = m_ptrList.front();
  return computed && c->getDigestLength() == expected.size() &&
         memcmp(c->getDigestPtr(), expected.data(), expected.size()) == 0;
}

class XmlSigParser::ReferenceSink : public XmlOctetSink {
 public:
  ReferenceSink(XmlSigParser& parser, XmlRef& ref) : parser(parser), ref(ref) {}
  void write(const uint8_t* bytes, size_t length) override { parser.feed(ref, bytes, length); }

 private:
  XmlSigParser& parser;
  XmlRef& ref;
};

XmlSigParser::XmlSigParser(xmlNodePtr root, const std::vector<TVxmlDoc*>& docs, int32_t mode,
                           bool skipDetached, uint32_t configuredDigest)
    : xadesNamespace(xmlc::NS_XADES),
      root(root),
      docs(docs),
      mode(mode),
      skipDetached(skipDetached),
      configuredDigest(configuredDigest),
      faultPrefix(MSG_PREFIX) {
  certificates.owns = 0;  // certificateBodies holds them
}

XmlSigParser::~XmlSigParser() = default;

void XmlSigParser::fault(const char* message, int32_t code) {
  if (report) *report << faultPrefix << message;
  faulted = true;
  throw TalApiException(code);
}

int32_t XmlSigParser::parse(ReportStream* reportStream, xmlNodePtr signature) {
  report = reportStream;
  if (!signature) return xmlrc::INV_PAR;
  XmlQuietErrors quiet;
  XmlIdIndexScope ids(signature->doc);  // one walk for all the references' Ids
  try {
    walk(signature);
  } catch (const TalException& e) {
    return e.getCode();
  } catch (const std::bad_alloc&) {
    return xmlrc::MEM;
  }
  return xmlrc::OK;
}

int32_t XmlSigParser::readKeyInfoElement(ReportStream* reportStream, xmlNodePtr keyInfo,
                                         const char* prefix) {
  report = reportStream;
  faultPrefix = prefix;
  if (!keyInfo || !makeDnAttribute) return xmlrc::INV_PAR;
  keyInfoNode = keyInfo;
  XmlQuietErrors quiet;
  try {
    readKeyInfo();
    for (XmlIssuerSerial* pair : issuerSerials.items) {
      try {
        convXml::parseDN(pair->issuerName, pair->issuer, makeDnAttribute);
      } catch (const TalApiException&) {
        fault(MSG_KI_ISSUER_SERIAL, xmlrc::INV_MSG);
      }
    }
  } catch (const TalException& e) {
    return e.getCode();
  } catch (const std::bad_alloc&) {
    return xmlrc::MEM;
  }
  return xmlrc::OK;
}

void XmlSigParser::walk(xmlNodePtr signature) {
  signatureNode = signature;
  propOf(signature, "Id", signatureId);
  xmlNodePtr n = firstElement(signature->children);
  if (!isDs(n, xmlc::DS_SIGNED_INFO)) fault(MSG_SIGNED_INFO, xmlrc::INV_MSG);
  signedInfoNode = n;
  n = nextElement(n);
  if (!isDs(n, xmlc::DS_SIGNATURE_VALUE)) fault(MSG_SIGNATURE_VALUE, xmlrc::INV_MSG);
  signatureValueNode = n;
  if (!xmlDecodeBase64(contentOf(n), signatureValue, XMLSIG_MAX_SIGNATURE_VALUE))
    fault(MSG_SIGNATURE_VALUE, xmlrc::INV_MSG);
  n = nextElement(n);
  if (isDs(n, xmlc::DS_KEY_INFO)) {
    keyInfoNode = n;
    n = nextElement(n);
  }
  for (; n; n = nextElement(n)) {
    if (!isDs(n, xmlc::DS_OBJECT)) fault(MSG_OUTSIDE_SCHEMA, xmlrc::INV_MSG);
    xmlNodePtr first = firstElement(n->children);
    bool v132 = isIn(first, xmlc::XADES_QUALIFYING_PROPERTIES, xmlc::NS_XADES);
    bool v111 = isIn(first, xmlc::XADES_QUALIFYING_PROPERTIES, xmlc::NS_XADES111);
    if (!v132 && !v111) continue;
    if (qualifyingPropertiesNode) fault(MSG_QUALIFYING, xmlrc::INV_MSG);
    qualifyingPropertiesNode = first;
    if (v111) {
      xades111 = true;
      xadesNamespace = std::string(xmlc::NS_XADES111);
    }
    if (qualifyingPropertiesReader) qualifyingPropertiesReader(*this, first);
  }
  if (keyInfoNode) propOf(keyInfoNode, "Id", keyInfoId);
  readSignedInfo();
  if (keyInfoNode) readKeyInfo();
  chooseSigner();
  canonicaliseSignedInfo();
  if (scheme == SIG_SCHEME_DSA || scheme == SIG_SCHEME_ECDSA) {
    // r and s of equal length: an odd value is a stranger's malformed
    // signature (89), not a lack of memory that would end the verification.
    if (signatureValue.size() % 2 != 0) fault(MSG_SIGNATURE_VALUE, xmlrc::INV_MSG);
    MemFile der;
    if (!dsaXmlSignatureToDer(reinterpret_cast<const uint8_t*>(signatureValue.data()),
                              static_cast<uint32_t>(signatureValue.size()), &der))
      fault(MSG_SIGNATURE_VALUE, xmlrc::MEM);
    signatureValue.assign(reinterpret_cast<const char*>(der.data()),
                          static_cast<size_t>(der.length()));
  }
}

void XmlSigParser::readSignedInfo() {
  xmlNodePtr n = firstElement(signedInfoNode->children);
  std::string alg;
  if (!isDs(n, xmlc::DS_CANONICALIZATION_METHOD) || !propOf(n, "Algorithm", alg))
    fault(MSG_C14N_METHOD, xmlrc::INV_MSG);
  if (alg == xmlc::ALG_C14N)
    c14nMethod = XML_TK_C14N;
  else if (alg == xmlc::ALG_C14N_COMMENTS)
    c14nMethod = XML_TK_C14N_COMMENTS;
  else if (alg == xmlc::ALG_EXC_C14N)
    c14nMethod = XML_TK_EXC_C14N;
  else if (alg == xmlc::ALG_EXC_C14N_COMMENTS)
    c14nMethod = XML_TK_EXC_C14N_COMMENTS;
  else
    fault(MSG_C14N_METHOD, xmlrc::INV_MSG);
  if (exclusive(static_cast<int32_t>(c14nMethod))) {
    if (xmlNodePtr list = firstElement(n->children)) {
      if (!isIn(list, xmlc::EXC_INCLUSIVE_NAMESPACES, xmlc::NS_EXC_C14N))
        fault(MSG_INCLUSIVE, xmlrc::INV_MSG);
      if (!xmlHasProp(list, BAD_CAST "PrefixList")) fault(MSG_INCLUSIVE_LIST, xmlrc::INV_MSG);
      readInclusiveNamespaces(list, inclusivePrefixes);
    }
  }
  n = nextElement(n);
  alg.clear();
  if (!isDs(n, xmlc::DS_SIGNATURE_METHOD) || !propOf(n, "Algorithm", alg))
    fault(MSG_SIGNATURE_METHOD, xmlrc::INV_MSG);
  signatureMethod = alg;
  for (const auto& row : SIGNATURE_METHODS)
    if (row.uri == alg) {
      scheme = row.scheme;
      hashId = row.hash;
    }
  if (scheme == SIG_SCHEME_NONE) fault(MSG_SIGNATURE_METHOD, xmlrc::INV_MSG);
  // The combined digests: each requested algorithm once, then the library's own.
  for (uint32_t id : requestedDigests)
    if (id >= 1 && id <= 8 && id != 6) combinedDigests.addAlgorithm(id);
  if (configuredDigest >= 1 && configuredDigest <= 8 && configuredDigest != 6)
    combinedDigests.addAlgorithm(configuredDigest);
  n = nextElement(n);
  for (; isDs(n, xmlc::DS_REFERENCE); n = nextElement(n)) {
    if (references.items.size() >= XMLSIG_MAX_REFERENCES) fault(MSG_REFERENCE, xmlrc::INV_MSG);
    readReference(n);
  }
  bool application = false;
  for (XmlRef* r : references.items) application = application || r->applicationData;
  if (!application) fault(MSG_NO_APPLICATION_REFS, xmlrc::INV_MSG);
  if (n) fault(MSG_OUTSIDE_SCHEMA, xmlrc::INV_MSG);
}

void XmlSigParser::readReference(xmlNodePtr refNode) {
  xmlNodePtr child = firstElement(refNode->children);
  if (!child) fault(MSG_TRANSFORMS, xmlrc::INV_MSG);
  xmlNodePtr transformsNode = nullptr;
  if (isDs(child, xmlc::DS_TRANSFORMS)) {
    transformsNode = child;
    child = nextElement(child);
  }
  if (!isDs(child, xmlc::DS_DIGEST_METHOD)) fault(MSG_DIGEST_METHOD, xmlrc::INV_MSG);
  std::string alg;
  if (!propOf(child, "Algorithm", alg)) fault(MSG_DIGEST_METHOD_ALG, xmlrc::INV_MSG);
  uint32_t digestId = 0;
  // MD5 is in the digest table but no longer binds anything: refused as unsupported.
  if (!digestIdFromUri(alg.c_str(), &digestId) || alg == xmlc::DIGEST_MD5)
    fault(MSG_DIGEST_METHOD_UNKNOWN, xmlrc::NOT_IMPL);
  xmlNodePtr valueNode = nextElement(child);
  if (!isDs(valueNode, xmlc::DS_DIGEST_VALUE)) fault(MSG_DIGEST_VALUE, xmlrc::INV_MSG);
  if (nextElement(valueNode)) fault(MSG_OUTSIDE_SCHEMA, xmlrc::INV_MSG);

  auto ref = std::make_unique<XmlRef>();
  std::string uriText;
  if (!propOf(refNode, "URI", uriText)) fault(MSG_REFERENCE_URI, xmlrc::INV_MSG);
  bool hasType = propOf(refNode, "Type", ref->typeText);
  ref->digestAlgorithm = digestId;
  if (!xmlDecodeBase64(contentOf(valueNode), ref->digestValue, MAX_DIGEST_VALUE))
    fault(MSG_DIGEST_VALUE, xmlrc::INV_MSG);

  if (hasType && !ref->typeText.empty()) {
    const std::string& t = ref->typeText;
    if (t == xmlc::TYPE_OBJECT)
      ref->type = XML_REF_OBJECT;
    else if (t == xmlc::TYPE_SIGNED_PROPERTIES_111 || t == xmlc::TYPE_SIGNED_PROPERTIES)
      ref->type = XML_REF_SIGNED_PROPERTIES;
    else if (t == xmlc::TYPE_COUNTERSIGNED_SIGNATURE)
      ref->type = XML_REF_COUNTERSIGNED;
    else if (t == xmlc::TYPE_MANIFEST)
      fault(MSG_MANIFEST, xmlrc::NOT_IMPL);
    else if (report)
      *report << MSG_PREFIX << MSG_UNKNOWN_TYPE;
  }

  xmlURIPtr parsedUri = uriText.empty() ? nullptr : xmlParseURI(uriText.c_str());
  if (uriText.empty()) {
    ref->uriKind = XML_URI_DOCUMENT;
  } else if (!parsedUri && uriText[0] == '#' && isSchemeBasedPointer(uriText.substr(1))) {
    // An XPointer as signers write and digest it, with spaces or "|", which
    // are no URI characters: taken as written.
    ref->uriKind = XML_URI_FRAGMENT;
    ref->uri = uriText.substr(1);
  } else {
    xmlURIPtr uri = parsedUri;
    if (!uri) fault(MSG_REFERENCE, xmlrc::INV_MSG);
    std::string scheme = uri->scheme ? uri->scheme : "";
    std::string path = uri->path ? uri->path : "";
    std::string fragment = uri->fragment ? uri->fragment : "";
    bool hasFragment = uri->fragment != nullptr;
    bool hasOther = uri->server || uri->query;
    xmlFreeURI(uri);
    if (scheme.empty()) {
      // A fragment of another document is not this document's element.
      if (hasFragment && path.empty() && !hasOther) {
        ref->uriKind = XML_URI_FRAGMENT;
        ref->uri = fragment;
      } else if (!hasFragment && !path.empty()) {
        ref->uriKind = XML_URI_DETACHED;
        ref->uri = path;
      } else {
        fault(MSG_URI_NOT_IMPL, xmlrc::NOT_IMPL);
      }
    } else if (expectedRecord(uriText)) {
      ref->uriKind = XML_URI_DETACHED;
      ref->uri = uriText;
    } else if (strcasecmp(scheme.c_str(), "file") == 0) {
      if (path.empty()) fault(MSG_REFERENCE, xmlrc::INV_MSG);
      if (hasFragment) fault(MSG_URI_NOT_IMPL, xmlrc::NOT_IMPL);
      ref->uriKind = XML_URI_DETACHED;
      ref->uri = path;
    } else {
      fault(anyExpectedRecord() ? MSG_NOT_EXPECTED : MSG_URI_NOT_IMPL,
            anyExpectedRecord() ? xmlrc::INV_MSG : xmlrc::NOT_IMPL);
    }
  }
  if (ref->type != XML_REF_NONE && ref->uriKind != XML_URI_FRAGMENT)
    fault(MSG_REFERENCE_URI, xmlrc::INV_MSG);

  // The transforms, checked whatever the mode.
  std::vector<TransformStep> steps;
  if (transformsNode) {
    xmlNodePtr t = firstElement(transformsNode->children);
    if (!t) fault(MSG_TRANSFORM, xmlrc::INV_MSG);
    for (; t; t = nextElement(t)) {
      if (!isDs(t, xmlc::DS_TRANSFORM) || steps.size() >= XMLSIG_MAX_TRANSFORMS)
        fault(MSG_TRANSFORM, xmlrc::INV_MSG);
      std::string talg;
      if (!propOf(t, "Algorithm", talg)) fault(MSG_TRANSFORM_ALG, xmlrc::INV_MSG);
      TransformStep step{t, XmlTransformParam()};
      if (transformKindFromUri(talg.c_str(), &step.param.kind) != xmlrc::OK)
        fault(MSG_TRANSFORM_UNKNOWN, xmlrc::NOT_IMPL);
      try {
        readTransformParams(nullptr, t, step.param);
      } catch (const TalApiException& e) {
        fault(e.getCode() == xmlrc::NOT_IMPL ? MSG_TRANSFORM_UNKNOWN : MSG_TRANSFORM, e.getCode());
      }
      ref->transforms.push_back(step.param.kind);
      steps.push_back(std::move(step));
    }
  }

  // The nodes an XPointer selected when they are not one element's subtree.
  std::unique_ptr<xmlNodeSet, void (*)(xmlNodeSetPtr)> pointed(nullptr, xmlXPathFreeNodeSet);
  bool bareName = false;
  if (ref->uriKind == XML_URI_FRAGMENT) {
    std::string id;
    XmlFragmentKind fk = parseSameDocumentFragment(ref->uri, &id);
    bareName = fk == XML_FRAGMENT_ID && id == ref->uri;
    if (fk == XML_FRAGMENT_INVALID && !isSchemeBasedPointer(ref->uri))
      fault(MSG_URI_NOT_IMPL, xmlrc::NOT_IMPL);
    // The document node with all its descendants is, read as a reference reads
    // an XPointer's nodes, the whole document: the document node alone.
    if (fk == XML_FRAGMENT_INVALID && ref->uri == "xpointer(/descendant-or-self::node())")
      fk = XML_FRAGMENT_ROOT;
    if (fk == XML_FRAGMENT_ROOT) {
      ref->target = reinterpret_cast<xmlNodePtr>(root->doc);
    } else if (fk == XML_FRAGMENT_ID) {
      try {
        findNodeById(root, id.c_str(), &ref->target);
      } catch (const TalApiException& e) {
        fault(MSG_TRANSFORM_RUN, e.getCode());
      }
    } else {
      // Any other XPointer is evaluated, its here being this Reference.
      XmlXPointerTransform pointer(refNode, ref->uri);
      pointer.budget = workBudget();
      try {
        pointer.apply();
      } catch (const TalApiException& e) {
        fault(MSG_TRANSFORM_RUN, e.getCode());
      }
      pointed.reset(pointer.outputNodeSet());
      if (!pointed || pointed->nodeNr == 0) fault(MSG_TRANSFORM_RUN, xmlrc::EMPTY_TRANSFORM);
      // One element (or the document) is its subtree, as if an Id named it.
      xmlNodePtr only = pointed->nodeNr == 1 ? pointed->nodeTab[0] : nullptr;
      if (only && (only->type == XML_ELEMENT_NODE || only->type == XML_DOCUMENT_NODE)) {
        ref->target = only;
        pointed.reset();
      }
    }
  } else if (ref->uriKind == XML_URI_DOCUMENT) {
    ref->target = reinterpret_cast<xmlNodePtr>(root->doc);
  }

  // Classification (before any digesting, so a forbidden transform never
  // runs): a reference taken as SignedProperties or KeyInfo must
  // resolve to the very element that was read as such.
  auto onlyCanonicalisations = [&ref]() {
    for (int32_t k : ref->transforms)
      if (!isCanonicalisation(k) && k != XML_TK_ENVELOPED) return false;
    return true;
  };
  if (ref->type == XML_REF_SIGNED_PROPERTIES) {
    if (signedPropertiesReferenced) fault(MSG_SP_TWICE, xmlrc::INV_MSG);
    if (signedPropertiesNode || !signedPropertiesId.empty()) {
      if (ref->target != signedPropertiesNode || !signedPropertiesNode)
        fault(MSG_REFERENCE, xmlrc::INV_MSG);
      if (!onlyCanonicalisations()) fault(MSG_SP_TRANSFORM, xmlrc::INV_MSG);
      signedPropertiesReferenced = true;
    }
  } else if (ref->type == XML_REF_NONE && ref->uriKind == XML_URI_FRAGMENT && keyInfoNode &&
             (ref->target == keyInfoNode || (!keyInfoId.empty() && ref->uri == keyInfoId))) {
    if (ref->target != keyInfoNode) fault(MSG_REFERENCE, xmlrc::INV_MSG);
    if (keyInfoReferenced) fault(MSG_KI_TWICE, xmlrc::INV_MSG);
    if (!onlyCanonicalisations()) fault(MSG_KI_TRANSFORM, xmlrc::INV_MSG);
    keyInfoReferenced = true;
  } else if (ref->type != XML_REF_SIGNED_PROPERTIES) {
    ref->applicationData = true;
  }
  ref->digest = std::make_unique<MessageDigestXml>(digestId, ref->digestValue);
  combinedDigests.addAlgorithm(digestId);

  if (mode == 1) {
    try {
      const TVxmlRef* vouched =
          ref->uriKind == XML_URI_DETACHED ? expectedRecord(ref->uri) : nullptr;
      if (vouched) {
        // The application gave the digest of this detached data itself.
        std::string given;
        if (!xmlDecodeBase64(vouched->getDigestValue(), given, 1024) || given.empty())
          fault(MSG_DIGEST_VALUE, xmlrc::INV_MSG);
        ref->digest->setComputed(given);
      } else if (ref->uriKind == XML_URI_DETACHED) {
        // Detached data: the file chain of its canonicalisations and style sheet.
        // Documents are named in the ANSI code page, URIs in UTF-8.
        TVxmlDoc* doc = nullptr;
        for (TVxmlDoc* d : docs) {
          if (!d || d->name.empty()) continue;
          std::string utf8;
          if (!ansiNameToUtf8(d->name, utf8)) {
            faulted = true;  // no line: a fault of the name, not of the signature
            throw TalApiException(xmlrc::INTERNAL);
          }
          if (utf8 == ref->uri) doc = d;
        }
        if (!doc) {
          int others = 0;
          for (TVxmlDoc* d : docs)
            if (d && !(d->holder && d->holder->doc == root->doc)) {
              doc = d;
              ++others;
            }
          if (others > 1) fault(MSG_DETACHED_AMBIGUOUS, xmlrc::INV_MSG);
          if (others == 0 && !skipDetached) {
            if (report) {
              *report << MSG_PREFIX << MSG_DETACHED_MISSING;
              report->writeData(ref->uri);
              *report << "\r\n";
            }
            faulted = true;
            throw TalApiException(xmlrc::INV_MSG);
          }
        }
        if (doc) {
          XmlTransforms chain;
          uint32_t pending = XML_DATA_FILE;
          for (const TransformStep& s : steps) {
            int32_t k = s.param.kind;
            if (k == XML_TK_XSLT) {
              if (!chain.items.empty()) throw TalApiException(xmlrc::TRANSFORM_FAILED);
              chain.add(new XmlXsltFileTransform(s.param.stylesheet));
              pending = XML_DATA_NODE;
            } else if (isCanonicalisation(k)) {
              if (pending == XML_DATA_FILE)
                chain.add(new XmlC14FileTransform(withComments(k), exclusive(k)));
              else if (pending == XML_DATA_NODE)
                chain.add(new XmlC14DocTransform(withComments(k), 1, exclusive(k),
                                                 s.param.inclusivePrefixes));
              else
                throw TalApiException(xmlrc::TRANSFORM_FAILED);
              pending = XML_DATA_OCTETS;
            }
          }
          if (chain.items.empty()) {
            // The raw file, read once per digest set. The caller's file may be
            // far larger than any document: its first reading is not charged,
            // a reading again for another reference is.
            if (std::find(rawRead.begin(), rawRead.end(), doc) == rawRead.end()) {
              rawRead.push_back(doc);
            } else {
              chargeDigesting(doc->reader->size());
              if (workBudget()->exhausted()) throw TalApiException(xmlrc::TRANSFORM_FAILED);
            }
            if ((doc->reader->seek(0) & 0xFFFF) == 0xFFFF ||
                ref->digest->updateFromStream(*doc->reader) != 0 ||
                (doc->reader->seek(0) & 0xFFFF) == 0xFFFF ||
                combinedDigests.updateFromStream(*doc->reader) != 0)
              throw TalApiException(xmlrc::RD_INFILE);
          } else {
            if (pending != XML_DATA_OCTETS)
              chain.add(new XmlC14DocTransform(false, 1, false));
            ReferenceSink digests(*this, *ref);
            chain.items.back()->sink = &digests;
            chain.applyToFile(doc, workBudget());
            feed(*ref, chain.outputBytes(), chain.outputLength());
          }
          if (workBudget()->exhausted()) throw TalApiException(xmlrc::TRANSFORM_FAILED);
          ref->digest->finishComputed();
        }
      } else {
        // Same document: the whole of it without this signature, or one subtree.
        bool whole = ref->uriKind == XML_URI_DOCUMENT;
        xmlNodePtr start = whole ? signatureNode : ref->target;
        uint8_t selection = whole ? 0 : 1;
        // Comments stay only in the XPointer forms of a fragment.
        bool keepComments = !whole && !bareName;
        XmlTransforms chain;
        uint32_t pending = XML_DATA_NODE;
        XmlNodeTrees* trees = nullptr;
        XmlXPathTransform* filter = nullptr;
        if (pointed) {
          trees = new XmlNodeTrees(pointed.get());
          chain.add(trees);
          pending = XML_DATA_NODESET;
        }
        xmlNodePtr envelopedLeftOut = nullptr;  // an enveloped transform the selection stands for
        const bool wholeTarget =
            ref->target && ref->target == reinterpret_cast<xmlNodePtr>(root->doc);
        for (const TransformStep& s : steps) {
          int32_t k = s.param.kind;
          if (k == XML_TK_ENVELOPED) {
            // The whole document leaves the signature out already.
            if (whole && pending == XML_DATA_NODE) {
              envelopedLeftOut = s.element;
              continue;
            }
            if (pending == XML_DATA_OCTETS) throw TalApiException(xmlrc::TRANSFORM_FAILED);
            chain.add(new XmlEnvelopedTransform(s.element, pending));
            pending = XML_DATA_NODESET;
          } else if (k == XML_TK_XPATH) {
            if (chain.items.size() != (trees ? 1u : 0u))
              throw TalApiException(xmlrc::TRANSFORM_FAILED);
            auto* xp = new XmlXPathTransform(firstElement(s.element->children), s.param.expression);
            chain.add(xp);
            filter = xp;
            if (transformsNode->nsDef && !transformsNode->nsDef->prefix)
              xp->addNamespace(std::string(xmlc::PFX_DSIG), std::string(xmlc::NS_DSIG));
            // The enveloped filters signers write, alone over the whole document
            // but for a canonicalisation after them, are served in one walk.
            xp->allowRecognised = (whole || wholeTarget) && !trees && !envelopedLeftOut &&
                                  &s == &steps.front() &&
                                  (steps.size() == 1 ||
                                   (steps.size() == 2 && isCanonicalisation(steps[1].param.kind)));
            if (whole) {
              // Its input is the whole document: nothing of it is left out but by
              // rules, so an enveloped transform before it becomes one again.
              start = nullptr;
              if (envelopedLeftOut)
                chain.add(new XmlEnvelopedTransform(envelopedLeftOut, XML_DATA_NODESET));
            } else if (!xp->allowRecognised) {
              // (A recognised filter's target is the document node, whose subtree
              // restricts nothing.)
              chain.add(new XmlSubtreeRestriction(ref->target, trees));
            }
            pending = XML_DATA_NODESET;
          } else if (k == XML_TK_BASE64) {
            if (chain.items.empty() && !whole) {
              chain.add(new XmlNodeContToMemTransform());
            } else if (pending != XML_DATA_OCTETS) {
              throw TalApiException(xmlrc::TRANSFORM_FAILED);
            }
            chain.add(new XmlB64MemoryTransform(true));
            pending = XML_DATA_OCTETS;
          } else if (isCanonicalisation(k)) {
            bool comments = withComments(k) && keepComments;
            if (pending == XML_DATA_NODESET)
              chain.add(new XmlC14NodeSetTransform(root->doc, comments, exclusive(k),
                                                   s.param.inclusivePrefixes));
            else if (pending == XML_DATA_NODE)
              chain.add(new XmlC14DocTransform(comments, selection, exclusive(k),
                                               s.param.inclusivePrefixes));
            else
              throw TalApiException(xmlrc::TRANSFORM_FAILED);
            pending = XML_DATA_OCTETS;
          } else {
            throw TalApiException(xmlrc::TRANSFORM_FAILED);
          }
        }
        if (pending == XML_DATA_NODESET)
          chain.add(new XmlC14NodeSetTransform(root->doc, false, false));
        else if (pending == XML_DATA_NODE)
          chain.add(new XmlC14DocTransform(false, selection, false));
        // The last transform writes into the digests as it goes, when it can.
        ReferenceSink digests(*this, *ref);
        chain.items.back()->sink = &digests;
        chain.applyToNode(start, workBudget());
        feed(*ref, chain.outputBytes(), chain.outputLength());
        if (workBudget()->exhausted()) throw TalApiException(xmlrc::TRANSFORM_FAILED);
        ref->digest->finishComputed();
        xmlNodePtr apex = nullptr, hole = nullptr;
        if (filter && filter->wholeElements(apex, hole) && !apex)
          ref->filterLeavesOut = filter->signaturesLeftOut() ? 2 : hole == signatureNode ? 1 : 0;
      }
    } catch (const TalApiException& e) {
      // Structural faults wrote their own line already; a failed chain has not.
      if (!faulted) fault(MSG_TRANSFORM_RUN, e.getCode());
      throw;
    } catch (const std::runtime_error&) {
      fault(MSG_TRANSFORM_RUN, xmlrc::TRANSFORM_FAILED);
    }
  }

  references.adopt(std::move(ref));
}

void XmlSigParser::chargeDigesting(uint64_t octets) {
  // Hashing is work the transforms' units do not see: a thousand references
  // to one large element digest it a thousand times over. Once the budget is
  // spent, a running chain stops at its next charge and the reference fails.
  const uint64_t digests = 1 + combinedDigests.contexts().size();
  workBudget()->charge((octets * WORK_DIGEST_OCTET + 1) * digests);
}

void XmlSigParser::feed(XmlRef& ref, const uint8_t* bytes, size_t length) {
  chargeDigesting(length);
  // Digest updates take 32-bit lengths: a longer run goes in pieces.
  while (bytes && length > 0) {
    uint32_t n = static_cast<uint32_t>(std::min<size_t>(length, 1u << 30));
    ref.digest->context().update(bytes, n);
    combinedDigests.update(bytes, n);
    if (keepOctets) ref.octets.append(reinterpret_cast<const char*>(bytes), n);
    bytes += n;
    length -= n;
  }
}

void XmlSigParser::addCertificate(xmlNodePtr element, const char* noText, const char* badValue) {
  std::string text = contentOf(element);
  std::string der;
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) fault(noText, xmlrc::INV_MSG);
  if (certificates.items.size() >= XMLSIG_MAX_KEYINFO_ITEMS ||
      !xmlDecodeBase64(text, der, MAX_DER_VALUE))
    fault(badValue, xmlrc::INV_MSG);
  auto cert = std::make_unique<SignedCertificate>();
  int rc = cert->decodeBuffer(reinterpret_cast<const unsigned char*>(der.data()),
                              static_cast<int>(der.size()), ASN_FLAG_CONST | ASN_FLAG_COPY);
  if (rc != static_cast<int>(der.size())) fault(badValue, xmlrc::INV_MSG);
  SharedCertificate body;
  body.adopt(std::move(cert));
  certificateBodies.push_back(body);
  // Never changed through the list: the body stays read-only, to be shared.
  certificates.items.push_back(const_cast<SignedCertificate*>(&body.get()));
}

void XmlSigParser::readX509Data(xmlNodePtr data) {
  for (xmlNodePtr c = firstElement(data->children); c; c = nextElement(c)) {
    if (isDs(c, xmlc::DS_X509_CERTIFICATE)) {
      addCertificate(c, MSG_KI_CERT, MSG_KI_CERT_BAD);
    } else if (isDs(c, xmlc::DS_X509_ISSUER_SERIAL)) {
      xmlNodePtr name = firstElement(c->children);
      xmlNodePtr serial = nextElement(name);
      if (!isDs(name, xmlc::DS_X509_ISSUER_NAME) || !isDs(serial, xmlc::DS_X509_SERIAL_NUMBER) ||
          issuerSerials.items.size() >= XMLSIG_MAX_KEYINFO_ITEMS)
        fault(MSG_KI_ISSUER_SERIAL, xmlrc::INV_MSG);
      auto pair = std::make_unique<XmlIssuerSerial>();
      pair->issuerName = contentOf(name);
      try {
        std::string digits = contentOf(serial);
        size_t b = digits.find_first_not_of(" \t\r\n");
        size_t e = digits.find_last_not_of(" \t\r\n");
        convXml::decimalToInteger(b == std::string::npos ? "" : digits.substr(b, e - b + 1),
                                  pair->serialNumber);
      } catch (const TalApiException&) {
        fault(MSG_KI_ISSUER_SERIAL, xmlrc::INV_MSG);
      }
      if (pair->issuerName.empty()) fault(MSG_KI_ISSUER_SERIAL, xmlrc::INV_MSG);
      // Released only once the list holds it: a growth that fails frees it.
      issuerSerials.adopt(std::move(pair));
    } else if (isDs(c, xmlc::DS_X509_SUBJECT_NAME)) {
      std::string name = contentOf(c);
      if (name.empty() || subjectNames.size() >= XMLSIG_MAX_KEYINFO_ITEMS)
        fault(MSG_KI_SUBJECT, xmlrc::INV_MSG);
      subjectNames.push_back(name);
    } else if (isDs(c, xmlc::DS_X509_CRL)) {
      std::string text = contentOf(c);
      if (text.find_first_not_of(" \t\r\n") == std::string::npos) fault(MSG_KI_CRL, xmlrc::INV_MSG);
      std::string der;
      if (crls.items.size() >= XMLSIG_MAX_KEYINFO_ITEMS ||
          !xmlDecodeBase64(text, der, 16 * MAX_DER_VALUE))
        fault(MSG_KI_CRL_BAD, xmlrc::INV_MSG);
      auto crl = std::make_unique<SignedCertRevList>();
      int rc = crl->decodeBuffer(reinterpret_cast<const unsigned char*>(der.data()),
                                 static_cast<int>(der.size()), ASN_FLAG_CONST | ASN_FLAG_COPY);
      if (rc != static_cast<int>(der.size())) fault(MSG_KI_CRL_BAD, xmlrc::INV_MSG);
      crls.adopt(std::move(crl));
    }
  }
}

void XmlSigParser::readKeyInfo() {
  std::vector<xmlNodePtr> gathered;
  for (xmlNodePtr c = firstElement(keyInfoNode->children); c; c = nextElement(c)) {
    if (gathered.size() >= XMLSIG_MAX_KEYINFO_ITEMS) fault(MSG_KI_ONLY_X509, xmlrc::INV_MSG);
    if (isDs(c, xmlc::DS_X509_DATA)) {
      gathered.push_back(c);
    } else if (isIn(c, "SecurityTokenReference", xmlc::NS_WSSE)) {
      xmlNodePtr first = firstElement(c->children);
      std::string valueType, uri;
      if (isIn(first, "Reference", xmlc::NS_WSSE) && propOf(first, "ValueType", valueType) &&
          valueType == X509V3_TOKEN && propOf(first, "URI", uri)) {
        if (!uri.empty() && uri[0] == '#') uri.erase(0, 1);
        xmlNodePtr token = nullptr;
        try {
          findNodeById(root, uri.c_str(), &token);
        } catch (const TalApiException&) {
          fault(MSG_KI_TOKEN, xmlrc::INV_MSG);
        }
        gathered.push_back(token);
      } else if (isDs(first, xmlc::DS_X509_DATA)) {
        gathered.push_back(first);
      }
    }
  }
  if (gathered.empty()) fault(MSG_KI_ONLY_X509, xmlrc::INV_MSG);
  for (xmlNodePtr g : gathered) {
    if (isDs(g, xmlc::DS_X509_DATA))
      readX509Data(g);
    else if (isIn(g, "BinarySecurityToken", xmlc::NS_WSSE))
      addCertificate(g, MSG_KI_TOKEN, MSG_KI_TOKEN_BAD);
    else
      fault(MSG_KI_TOKEN, xmlrc::INV_MSG);
  }
}

const TVxmlRef* XmlSigParser::expectedRecord(const std::string& uri) const {
  for (const TVxmlDoc* d : docs)
    if (d)
      for (const TVxmlRef* r : d->refs.items)
        if (r && r->expected && r->uri == uri) return r;
  return nullptr;
}

bool XmlSigParser::anyExpectedRecord() const {
  for (const TVxmlDoc* d : docs)
    if (d)
      for (const TVxmlRef* r : d->refs.items)
        if (r && r->expected) return true;
  return false;
}

void XmlSigParser::chooseSigner() {
  signer = nullptr;
  std::string committed;
  int32_t committedAlg = 0;
  if (signedPropertiesReferenced && signedAttributes &&
      (committedAlg = signedAttributes->signingCertificateDigestAlgorithm()) != 0 &&
      signedAttributes->signingCertificateDigest())
    committed = *signedAttributes->signingCertificateDigest();
  if (!committed.empty() && committedAlg >= 1 && committedAlg <= 8 && committedAlg != 6) {
    // A SigningCertificateV2 that names issuer and serial binds them too.
    const auto* xml = dynamic_cast<const SignedAttributesXml*>(signedAttributes);
    const auto* record = xml ? dynamic_cast<const SignedAttributeXmlSigningCertificate*>(
                                   xml->find(XADES_ATTR_SIGNING_CERTIFICATE))
                             : nullptr;
    auto matches = [&](SignedCertificate* c) {
      unsigned char d[64];
      MessageDigestCtx ctx(static_cast<uint32_t>(committedAlg));
      ctx.updateWithObject(*c);
      ctx.finish();
      memcpy(d, ctx.getDigestPtr(), ctx.getDigestLength());
      // The whole digest: a shorter committed value would match too much.
      if (ctx.getDigestLength() != committed.size() ||
          memcmp(d, committed.data(), committed.size()) != 0)
        return false;
      return !record || !record->matchIssuerSerial ||
             (record->issuer == c->tbsCertificate.issuer &&
              record->serial.equals(c->tbsCertificate.serialNumber));
    };
    for (SignedCertificate* c : certificates.items)
      if (!signer && matches(c)) signer = c;
    for (SignedCertificate* c : certificateValues.items)
      if (!signer && matches(c)) signer = c;
  } else {
    for (SignedCertificate* c : certificates.items)
      if (!c->isCa()) {
        if (signer) fault(MSG_SIGNER, xmlrc::INV_MSG);
        signer = c;
      }
    // Every certificate a CA one (test signers often are): the signer is the
    // one that issued none of the others, when exactly one is so. Each pair
    // may cost a signature check: a KeyInfo of more certificates than a path
    // has stays ambiguous. A lone issuer-serial pair still names the signer
    // (its certificate may be the application's, the CA ones its issuers).
    if (!signer && issuerSerials.items.size() != 1 &&
        certificates.items.size() <= XMLSIG_MAX_CA_ONLY_CERTIFICATES) {
      for (SignedCertificate* c : certificates.items) {
        bool issuedAnother = false;
        for (SignedCertificate* o : certificates.items)
          if (!issuedAnother && o != c && issuedBy(*o, *c)) issuedAnother = true;
        if (issuedAnother) continue;
        if (signer) fault(MSG_SIGNER, xmlrc::INV_MSG);
        signer = c;
      }
    }
  }
  if (signer) {
    signerFound = true;
    // The pair is read from the certificate itself (a stranger's issuer
    // may be long): signerId holds only a pair named without one.
    signerIdSet = true;
    return;
  }
  if (issuerSerials.items.size() != 1) fault(MSG_SIGNER, xmlrc::INV_MSG);
  XmlIssuerSerial* only = issuerSerials.items.front();
  signerId.serialNumber = only->serialNumber;
  if (makeDnAttribute) {
    try {
      convXml::parseDN(only->issuerName, signerId.issuer, makeDnAttribute);
    } catch (const TalApiException&) {
      fault(MSG_KI_ISSUER_SERIAL, xmlrc::INV_MSG);
    }
    signerIdSet = true;
  }
}

void XmlSigParser::canonicaliseSignedInfo() {
  // The "#WithComments" methods keep SignedInfo's comments, as signers digest them.
  int32_t k = static_cast<int32_t>(c14nMethod);
  XmlC14DocTransform c14n(withComments(k), 1, exclusive(k), inclusivePrefixes);
  c14n.budget = workBudget();
  canonicalSignedInfo.clear();
  XmlStringSink text(canonicalSignedInfo);
  c14n.sink = &text;
  try {
    c14n.applyToNode(signedInfoNode);
  } catch (const TalApiException& e) {
    canonicalSignedInfo.clear();
    fault(MSG_SIGNED_INFO, e.getCode());
  }
  c14n.budget = nullptr;
  // Octets the canonicaliser kept rather than wrote.
  canonicalSignedInfo.append(reinterpret_cast<const char*>(c14n.outputBytes()),
                             c14n.outputLength());
}

namespace {
// A signed object as the C API counts it: a reference into the signature's own
// document (a fragment, or the whole of it) that is of no type or of type Object.
bool isSignedObject(const XmlRef& r) {
  return (r.type == XML_REF_NONE || r.type == XML_REF_OBJECT) &&
         (r.uriKind == XML_URI_DOCUMENT || r.uriKind == XML_URI_FRAGMENT);
}
}  // namespace

// Whether the document holds a signature outside this one's subtree.
bool XmlSigParser::otherSignature(xmlNodePtr document) const {
  xmlDocPtr doc = reinterpret_cast<xmlDocPtr>(document);
  for (xmlNodePtr n = doc->children; n;) {
    if (n != signatureNode && isIn(n, xmlc::DS_SIGNATURE, xmlc::NS_DSIG)) return true;
    n = xmlNextInDocument(n, doc, n->type == XML_ELEMENT_NODE && n != signatureNode);
  }
  return false;
}

int32_t XmlSigParser::countSignedObjects() const {
  int32_t n = 0;
  for (const XmlRef* r : references.items)
    if (isSignedObject(*r)) ++n;
  return n;
}

int32_t XmlSigParser::saveSignedObject(int32_t index, GenericFile* out) const {
  if (index < 0 || !out) return xmlrc::INV_PAR;
  for (const XmlRef* r : references.items) {
    if (!isSignedObject(*r)) continue;
    if (index-- != 0) continue;
    if (r->target && r->target->type == XML_DOCUMENT_NODE) {
      // The whole document: its element, less this signature where the digest
      // left it out (always for an empty URI, else by the enveloped transform).
      // A filter would make it content nobody signed.
      // A filter recognised as the enveloped transform's selection is one: the
      // one leaving out every signature only where no other one stands.
      bool enveloped = false;
      for (int32_t k : r->transforms) {
        if (k == XML_TK_ENVELOPED ||
            (k == XML_TK_XPATH && (r->filterLeavesOut == 1 ||
                                   (r->filterLeavesOut == 2 && !otherSignature(r->target)))))
          enveloped = true;
        else if (!isCanonicalisation(k))
          return xmlrc::EMPTY_TRANSFORM;
      }
      bool leaveOut = enveloped || r->uriKind == XML_URI_DOCUMENT;
      return writeDocumentElement(r->target, leaveOut ? signatureNode : nullptr, out);
    }
    if (!r->target || r->target->type != XML_ELEMENT_NODE) return xmlrc::EMPTY_TRANSFORM;
    // Only what the digest covered is handed out: canonicalisations keep the
    // whole element; a lone base64 transform covers exactly the decoded text
    // the saved base64 object is. Anything else (a filter, the enveloped
    // transform, base64 under an Encoding the signature did not cover) could
    // hand out content nobody signed.
    bool covered = true;
    for (int32_t k : r->transforms) covered = covered && isCanonicalisation(k);
    std::string encoding;
    if (!covered)
      covered = r->transforms.size() == 1 && r->transforms[0] == XML_TK_BASE64 &&
                propOf(r->target, "Encoding", encoding) && encoding == xmlc::ENCODING_BASE64;
    if (!covered) return xmlrc::EMPTY_TRANSFORM;
    return writeSignedObjectContent(r->target, out);
  }
  return xmlrc::INV_PAR;
}
