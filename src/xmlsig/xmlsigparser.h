// The reader of one ds:Signature: the structure walk with its messages, the
// canonical SignedInfo, the signature method, every ds:Reference with its
// transform chain and digests, KeyInfo, and the choice of the signer. It checks
// structure and computes digests; comparing them and verifying the signature
// value is the signature engine's work.
//
// Every walk over a stranger's document is bounded: children are visited by
// iterating siblings, counts are capped, and the transforms of all references
// of one signature share one work budget.
#pragma once

#include "asn1/asnint.h"
#include "asn1/stlptrlist.h"
#include "crypto/hash/messagedigests.h"
#include "pki/sig/sigprops.h"
#include "pki/x509/cert.h"
#include "pki/x509/crl.h"
#include "xmlsig/conv_xml.h"
#include "xmlsig/xmlmisc.h"
#include "xmlsig/xmltransform.h"

#include <libxml/tree.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class ReportStream;

// Caps on what one signature may carry.
const uint32_t XMLSIG_MAX_SIGNATURE_VALUE = 32768;
const size_t XMLSIG_MAX_REFERENCES = 1024;
const size_t XMLSIG_MAX_TRANSFORMS = 32;
const size_t XMLSIG_MAX_KEYINFO_ITEMS = 256;
// KeyInfo certificates among which a signer is sought when all are CA ones.
const size_t XMLSIG_MAX_CA_ONLY_CERTIFICATES = 16;

// Base of the signature reader and writer.
class XmlSignature {
 public:
  virtual ~XmlSignature() = default;
};

// One reference's expected digest, its algorithm, and the digest computed over
// its transformed data.
class MessageDigestXml : public MessageDigestCtxList {
 public:
  MessageDigestXml(uint32_t algorithm, const std::string& expected);
  MessageDigestCtx& context() { return *m_ptrList.front(); }
  // Finishes the running digest; from then on it counts as computed.
  void finishComputed();
  // The digest was given whole (a detached-reference record).
  void setComputed(const std::string& digest);
  // Computed, and equal to the expected value (lengths included).
  bool matches() const;

  std::string expected;
  uint32_t algorithm;
  bool computed = false;
};

enum XmlUriKind : uint32_t {
  XML_URI_DOCUMENT = 0,  // empty URI: the document that holds the signature
  XML_URI_FRAGMENT = 1,  // an element of the same document
  XML_URI_DETACHED = 2,  // a detached file
  XML_URI_OTHER = 3,
};

enum XmlRefType : uint32_t {
  XML_REF_NONE = 0,
  XML_REF_OBJECT = 1,
  XML_REF_SIGNED_PROPERTIES = 3,
  XML_REF_COUNTERSIGNED = 4,
};

// What a reference of a signature names and how: its URI (the fragment
// without "#" for kind 1, the path or, for an expected detached record, the
// whole URI for kind 2), the URI kind and the type.
class Reference {
 public:
  virtual ~Reference() = default;
  std::string uri;
  uint32_t uriKind = XML_URI_OTHER;
  uint32_t type = XML_REF_NONE;
};

// A ds:Reference as the parser read it.
class XmlRef : public Reference {
 public:
  std::string typeText;
  std::string digestValue;  // decoded DigestValue
  uint32_t digestAlgorithm = 0;
  // The transform codes in document order (the enveloped signature included).
  std::vector<int32_t> transforms;
  // The element a same-document reference resolved to (the document node for
  // the whole document), null otherwise.
  xmlNodePtr target = nullptr;
  // Application data (not the KeyInfo or SignedProperties reference).
  bool applicationData = false;
  // An XPath filter recognised as leaving out, of the whole document, this
  // signature (1) or every signature (2); 0 otherwise.
  uint8_t filterLeavesOut = 0;
  std::unique_ptr<MessageDigestXml> digest;
  // The canonical octets digested (kept only when asked for: tests, reports).
  std::string octets;
};

// An X509IssuerSerial of KeyInfo as written; the name is read into issuer only
// by readKeyInfoElement.
struct XmlIssuerSerial {
  std::string issuerName;
  ASNinteger serialNumber;
  DistinguishedName issuer;
};

class XmlSigParser : public XmlSignature {
 public:
  // root: the root element of the signed document (the context of Id
  // lookups); docs: the loaded documents (the signed one among them, detached
  // ones beside it); mode 1 computes the reference digests; configuredDigest:
  // the library's signing digest id (0 none), always among the combined digests.
  XmlSigParser(xmlNodePtr root, const std::vector<TVxmlDoc*>& docs, int32_t mode = 1,
               bool skipDetached = false, uint32_t configuredDigest = 0);
  ~XmlSigParser() override;
  XmlSigParser(const XmlSigParser&) = delete;
  XmlSigParser& operator=(const XmlSigParser&) = delete;

  // 0, the code of a structural fault (its lines written to report), 100 when
  // memory ran out, 20 when no element is given.
  int32_t parse(ReportStream* report, xmlNodePtr signature);
  // Reads a ds:KeyInfo that belongs to no signature (an encrypted key's): its
  // certificates, issuer-serial pairs (their names read with makeDnAttribute,
  // which must be set) and subject names, with the messages of a signature's
  // KeyInfo after `prefix`. 0, the fault's code, or 100.
  int32_t readKeyInfoElement(ReportStream* report, xmlNodePtr keyInfo, const char* prefix);
  // The report of the running parse (the XAdES reader writes its lines there).
  ReportStream* reportStream() const { return report; }
  // What a parser of a counter-signature inside this signature is made from.
  xmlNodePtr documentRoot() const { return root; }
  const std::vector<TVxmlDoc*>& documents() const { return docs; }
  int32_t parseMode() const { return mode; }
  bool skipsDetached() const { return skipDetached; }
  uint32_t configuredDigestId() const { return configuredDigest; }

  // Called for the QualifyingProperties of an Object (the XAdES reader); it
  // may set signedPropertiesNode/Id, signedAttributes, the requested digests
  // and the value lists.
  std::function<void(XmlSigParser&, xmlNodePtr)> qualifyingPropertiesReader;
  // Builds a name attribute from its code and text (the certificate store's
  // table); without it X509IssuerSerial names stay text only.
  convXml::DnMakeAttribute makeDnAttribute = nullptr;
  // Keep each reference's canonical octets in XmlRef::octets.
  bool keepOctets = false;
  // The budget of the whole verification (counter-signatures and time-stamp
  // data included), not owned; without one the parser spends its own.
  XmlWorkBudget* sharedBudget = nullptr;

  // Inputs of the XAdES reader.
  xmlNodePtr signedPropertiesNode = nullptr;
  std::string signedPropertiesId;
  SignedAttributes* signedAttributes = nullptr;  // not owned
  std::vector<uint32_t> requestedDigests;
  SignatureCrlOrOcspRefs revocationRefs;
  SignatureCrtRefs certificateRefs;
  SignatureCrtValues certificateValues;
  SignatureRevValues revocationValues;
  SignatureCrtValues timeStampCertificateValues;
  SignatureRevValues timeStampRevocationValues;
  bool xades111 = false;
  std::string xadesNamespace;

  // What parsing found.
  xmlNodePtr signatureNode = nullptr;
  xmlNodePtr signatureValueNode = nullptr;
  xmlNodePtr signedInfoNode = nullptr;
  xmlNodePtr keyInfoNode = nullptr;
  xmlNodePtr qualifyingPropertiesNode = nullptr;
  std::string signatureId;
  std::string keyInfoId;
  bool keyInfoReferenced = false;
  bool signedPropertiesReferenced = false;
  int32_t scheme = SIG_SCHEME_NONE;
  uint32_t hashId = 0;
  // As decoded; for DSA and EC-DSA the DER SEQUENCE of r and s.
  std::string signatureValue;
  std::string signatureMethod;
  std::string canonicalSignedInfo;
  uint32_t c14nMethod = 0;
  std::vector<std::string> inclusivePrefixes;
  bool signerFound = false;
  SignedCertificate* signer = nullptr;  // one of certificates or certificateValues
  // The KeyInfo's certificates: read-only bodies the parser holds
  // (certificateBodies), which a context remembering them shares rather than
  // decoding them again; the list only points at them.
  std::vector<SharedCertificate> certificateBodies;
  StlPointerList<SignedCertificate> certificates;
  StlPointerList<XmlIssuerSerial> issuerSerials;
  std::vector<std::string> subjectNames;
  StlPointerList<SignedCertRevList> crls;
  StlPointerList<XmlRef> references;
  MessageDigests combinedDigests;
  // The pair a lone X509IssuerSerial names; with a carried signer (signer
  // set) the pair is that certificate's, read in place.
  IssuerAndSerialNumber signerId;
  bool signerIdSet = false;

  // References of no type or of type Object into this document (a fragment or
  // the whole of it), counted and saved as the C API hands them out.
  int32_t countSignedObjects() const;
  // 0, 20 (no such object), 62 (write failure), 139 (not found, no content).
  int32_t saveSignedObject(int32_t index, GenericFile* out) const;

 private:
  bool otherSignature(xmlNodePtr document) const;
  [[noreturn]] void fault(const char* message, int32_t code);
  void walk(xmlNodePtr signature);
  void readSignedInfo();
  void readReference(xmlNodePtr ref);
  void digestSameDocument(XmlRef& ref, xmlNodePtr transforms);
  void digestDetached(XmlRef& ref, xmlNodePtr transforms);
  void readKeyInfo();
  void readX509Data(xmlNodePtr data);
  void addCertificate(xmlNodePtr element, const char* noText, const char* badValue);
  void chooseSigner();
  // The detached-reference record of a loaded document marked as expected
  // whose uri is `uri`, or null; whether any record is so marked.
  const TVxmlRef* expectedRecord(const std::string& uri) const;
  bool anyExpectedRecord() const;
  void canonicaliseSignedInfo();
  void feed(XmlRef& ref, const uint8_t* bytes, size_t length);
  void chargeDigesting(uint64_t octets);
  // Feeds a reference's digests as its last transform writes.
  class ReferenceSink;
  XmlWorkBudget* workBudget() { return sharedBudget ? sharedBudget : &budget; }

  xmlNodePtr root;
  std::vector<TVxmlDoc*> docs;
  std::vector<const TVxmlDoc*> rawRead;  // detached files digested whole so far
  int32_t mode;
  bool skipDetached;
  uint32_t configuredDigest;
  ReportStream* report = nullptr;
  const char* faultPrefix;  // what a fault's line starts with
  bool faulted = false;  // a fault's line is written
  XmlWorkBudget budget;
};

// "Id" (or "id", "ID") of an element; empty when absent.
std::string xmlIdOf(xmlNodePtr element);
// Base64 text as signers write it (lines wrapped, indented): XML white space
// dropped, then decoded. False for anything else or past maxOut octets.
bool xmlDecodeBase64(const std::string& text, std::string& out, size_t maxOut);
