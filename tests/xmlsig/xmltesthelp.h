// Test helpers: reading fixtures, parsing with the library's guards, and running a
// ds:Reference's transforms the way the signature parser assembles them.
#pragma once

#include "base/talexception.h"
#include "keys/sigverify.h"
#include "xmlsig/xmlc14transform.h"
#include "xmlsig/xmlconst.h"
#include "xmlsig/xmlmisc.h"
#include "xmlsig/xmlsigparser.h"
#include "xmlsig/xmltransformchain.h"
#include "xmlsig/xmlxpathtransform.h"
#include "xmlsig/xmlxpointerbound.h"
#include "threadtime.h"

#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>

// The TalApiException code a call throws, 0 when it returns.
inline int32_t codeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const TalApiException& e) {
    return e.getCode();
  }
  return 0;
}

// The code a signed document's expression gives where the narrow road refuses
// its form (a libxml2 the bound was not checked on, or
// TALVORIN_XML_NARROW_ROAD=1): 140 there, the full road's `code` elsewhere.
inline int32_t fullRoadOnly(int32_t code) {
  return xmlBoundRoad() == XmlBoundRoad::NARROW ? 140 : code;
}

// The full road for the scope, for tests of its pricing whatever the libxml2;
// then the choice of the version (or the environment) again.
struct FullRoadScope {
  FullRoadScope() {
    const XmlBoundRoad full = XmlBoundRoad::FULL;
    xmlBoundOverrideRoad(&full);
  }
  ~FullRoadScope() { xmlBoundOverrideRoad(nullptr); }
  FullRoadScope(const FullRoadScope&) = delete;
  FullRoadScope& operator=(const FullRoadScope&) = delete;
};

inline std::string readFixture(const std::string& name) {
  std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/xmlsig/" + name, std::ios::binary);
  if (!in) throw std::runtime_error("missing fixture " + name);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct ParsedDoc {
  explicit ParsedDoc(const std::string& bytes)
      : file(reinterpret_cast<uint8_t*>(const_cast<char*>(bytes.data())),
             static_cast<int32_t>(bytes.size()), false) {
    rc = parseXmlDocument(&holder, &file);
  }
  MemFile file;
  XmlDocHolder holder;
  int32_t rc;
};

// A detached document record over a copy of the bytes.
inline std::unique_ptr<TVxmlDoc> detachedDoc(const std::string& bytes) {
  auto* reader = new MemFile();
  reader->write(static_cast<uint32_t>(bytes.size()),
                reinterpret_cast<const uint8_t*>(bytes.data()));
  reader->seek(0);
  return std::make_unique<TVxmlDoc>(0, nullptr, reader, true, 0, nullptr);
}

// The output octets of a transform or a chain.
template <class T>
std::string outputOf(T& t) {
  return t.outputBytes()
             ? std::string(reinterpret_cast<const char*>(t.outputBytes()), t.outputLength())
             : "";
}

inline std::string propOf(xmlNodePtr n, const char* name) {
  std::string out;
  if (xmlChar* v = xmlGetProp(n, BAD_CAST name)) {
    out = reinterpret_cast<const char*>(v);
    xmlFree(v);
  }
  return out;
}

// The n-th ds:Reference of the first ds:SignedInfo of the document.
inline xmlNodePtr nthReference(xmlNodePtr root, int n) {
  xmlNodePtr si = findElement(root, xmlc::DS_SIGNED_INFO.data(), xmlc::NS_DSIG.data(), -1);
  for (xmlNodePtr r = si ? si->children : nullptr; r; r = r->next)
    if (isElement(r, xmlc::DS_REFERENCE.data(), xmlc::NS_DSIG.data()) && n-- == 0) return r;
  return nullptr;
}

// Runs the transforms of a same-document reference: whole document ("", the
// signature left out) or the element an Id fragment names; XPath only first,
// canonicalisations over a node or a node set, a closing inclusive
// canonicalisation when the last output is not octets. An enveloped-signature
// transform stays in the chain of a subtree (the whole document leaves the
// signature out already).
inline std::string runReference(xmlNodePtr ref) {
  std::string uri = propOf(ref, "URI");
  xmlNodePtr signature = ref;
  while (signature && !isElement(signature, xmlc::DS_SIGNATURE.data(), xmlc::NS_DSIG.data()))
    signature = signature->parent;
  xmlNodePtr start = signature;
  uint8_t selection = 0;
  bool keepComments = false;
  if (!uri.empty()) {
    std::string id;
    if (uri[0] != '#' || parseSameDocumentFragment(uri.substr(1), &id) != XML_FRAGMENT_ID)
      throw TalApiException(xmlrc::NOT_IMPL);
    findNodeById(ref, id.c_str(), &start);
    selection = 1;
    keepComments = uri.compare(0, 10, "#xpointer(") == 0;
  }
  XmlTransforms chain;
  uint32_t pending = XML_DATA_NODE;
  bool fromSubtree = false;  // the pending node set is a subtree less a signature
  xmlNodePtr transforms =
      findElement(ref->children, xmlc::DS_TRANSFORMS.data(), xmlc::NS_DSIG.data(), 0);
  for (xmlNodePtr t = transforms ? transforms->children : nullptr; t; t = t->next) {
    if (!isElement(t, xmlc::DS_TRANSFORM.data(), xmlc::NS_DSIG.data())) continue;
    XmlTransformParam p;
    int32_t rc = transformKindFromUri(propOf(t, "Algorithm").c_str(), &p.kind);
    if (rc) throw TalApiException(rc);
    readTransformParams(nullptr, t, p);
    bool comments = p.kind == XML_TK_C14N_COMMENTS || p.kind == XML_TK_EXC_C14N_COMMENTS;
    bool exclusive = p.kind == XML_TK_EXC_C14N || p.kind == XML_TK_EXC_C14N_COMMENTS;
    switch (p.kind) {
      case XML_TK_ENVELOPED:
        if (uri.empty()) break;
        if (pending == XML_DATA_OCTETS) throw TalApiException(xmlrc::TRANSFORM_FAILED);
        chain.add(new XmlEnvelopedTransform(t, pending));
        fromSubtree = fromSubtree || pending == XML_DATA_NODE;
        pending = XML_DATA_NODESET;
        break;
      case XML_TK_XPATH:
        if (!chain.items.empty()) throw TalApiException(xmlrc::TRANSFORM_FAILED);
        chain.add(new XmlXPathTransform(firstElement(t->children), p.expression));
        pending = XML_DATA_NODESET;
        break;
      default:
        if (pending == XML_DATA_NODESET)
          chain.add(new XmlC14NodeSetTransform(ref->doc, fromSubtree ? comments && keepComments
                                                                     : comments,
                                               exclusive, p.inclusivePrefixes));
        else
          chain.add(new XmlC14DocTransform(comments && keepComments, selection, exclusive,
                                           p.inclusivePrefixes));
        pending = XML_DATA_OCTETS;
    }
  }
  if (pending == XML_DATA_NODESET)
    chain.add(new XmlC14NodeSetTransform(ref->doc, false, false));
  else if (pending == XML_DATA_NODE)
    chain.add(new XmlC14DocTransform(false, selection, false));
  chain.applyToNode(start);
  return outputOf(chain);
}

// 0 when a parsed signature's canonical SignedInfo verifies (RSA PKCS#1 v1.5)
// under the public key of a DER certificate: a fixture's signer.
inline int32_t verifySignedInfo(const XmlSigParser& parser, const std::string& certificateDer) {
  SignedCertificate cert;
  if (cert.decodeBuffer(reinterpret_cast<const unsigned char*>(certificateDer.data()),
                        static_cast<int>(certificateDer.size()),
                        ASN_FLAG_CONST | ASN_FLAG_COPY) <= 0)
    return -1;
  std::vector<unsigned char> spkiDer;
  cert.tbsCertificate.subjectPublicKeyInfo.encodeVector(spkiDer);
  SubPubKeyInfo key;
  if (key.decodeVector(spkiDer) <= 0) return -1;
  MessageDigestCtx h(parser.hashId);
  h.update(parser.canonicalSignedInfo.data(),
           static_cast<uint32_t>(parser.canonicalSignedInfo.size()));
  h.finish();
  return verifyRsaPkcs1Signature(
      key.rsaKey, reinterpret_cast<const uint8_t*>(parser.signatureValue.data()),
      parser.signatureValue.size(), h.getDigestPtr(), h.getDigestLength(),
      static_cast<int32_t>(parser.hashId));
}
