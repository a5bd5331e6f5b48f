// Shared XML utilities over libxml2: the loaded-document record and its guarded
// parsing, selection of nodes by XPointer and by Id, Id registration, namespace
// helpers, element creation and serialisation.
//
// Every document is a stranger's: it is parsed without network, external DTD or
// external entities, with libxml2's entity-amplification and depth limits in
// force and a cap on its size. Tree walks iterate over siblings with a depth bound.
#pragma once

#include "asn1/stlptrlist.h"
#include "base/memfile.h"
#include "xmlsig/xmlcodes.h"

#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xpath.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// Limits applied to every document and expression.
const uint32_t XML_MAX_DOCUMENT_SIZE = 32u * 1024u * 1024u;
const int XML_MAX_TREE_DEPTH = 512;
const size_t XML_MAX_EXPRESSION_LENGTH = 4096;
const unsigned long XML_XPATH_OP_LIMIT = 10000000ul;
// Operations of one evaluation of an XPath filter for one node. libxml2 merges
// node sets and compares them in time quadratic in their sizes without counting
// it; sets built by so few operations stay small enough for that.
const unsigned long XML_XPATH_NODE_OP_LIMIT = 20000ul;
// Nodes, attributes and namespace nodes an XPath filter may be asked about
// (namespace nodes multiply: one per element and declaration in scope).
const size_t XML_XPATH_MAX_NODES = 8000000;
// Per element, at parse time: attributes (defaulted ones included), namespace
// declarations, and declarations in scope (its own and its ancestors'). libxml2
// spends time quadratic in each of them; real signed documents stay far below.
const int XML_MAX_ATTRIBUTES = 256;
const int XML_MAX_NAMESPACE_DECLS = 256;
const int XML_MAX_NAMESPACES_IN_SCOPE = 512;

// The parsed document of a record and its root element.
struct XmlDocHolder {
  XmlDocHolder() = default;
  ~XmlDocHolder();
  XmlDocHolder(const XmlDocHolder&) = delete;
  XmlDocHolder& operator=(const XmlDocHolder&) = delete;

  xmlDocPtr doc = nullptr;
  xmlNodePtr root = nullptr;
  // The octets the document was parsed from: what its verification may cost grows with it.
  uint64_t octets = 0;
};

// A reference record of a loaded document; the signature parser fills it.
// A record marked as expected stands for detached data the application
// vouches for: a ds:Reference whose URI is the record's uri takes the
// record's digest (base64) as its computed digest, and, while any such
// record exists, a URI with a scheme that names none of them is refused.
class TVxmlRef {
 public:
  virtual ~TVxmlRef() = default;
  std::string getDigestValue() const { return digestValueB64; }

  std::string uri;
  std::string digestValueB64;
  uint32_t referenceType = 0;
  uint32_t location = 0;
  bool expected = false;
};

typedef StlPointerList<TVxmlRef> TVxmlRefs;

// A loaded document: where its bytes come from and, once parsed, its tree.
class TVxmlDoc {
 public:
  TVxmlDoc(uint32_t owner, const char* name, GenericFile* reader, bool ownsReader, uint8_t flag2,
           void* libraryContext);
  ~TVxmlDoc();
  TVxmlDoc(const TVxmlDoc&) = delete;
  TVxmlDoc& operator=(const TVxmlDoc&) = delete;

  // Parses the reader's bytes once; later calls answer the first result.
  int32_t ensureParsed();

  uint32_t owner;
  std::string name;
  GenericFile* reader;
  uint8_t ownsReader;
  uint8_t flag2;
  XmlDocHolder* holder;
  TVxmlRefs refs;
  void* libraryContext;
  uint32_t reserved = 0;

 private:
  int32_t parseResult = -1;
};

// Parser options of every document and fragment this library reads: entities of
// the internal subset replaced, default attributes completed, no network, and
// never XML_PARSE_HUGE (so libxml2's amplification and depth limits hold).
int xmlSafeParseOptions();
// Applies the options and the refusing resource loader to a parser context.
void xmlSafeParserSetup(xmlParserCtxtPtr ctxt);
// Error handler that drops libxml2's messages (results carry the failure).
void xmlQuietStructuredError(void* context, xmlErrorPtr error);
// While one lives, libxml2's reports on this thread (parse warnings, C14N and
// XPath errors, sent to stderr by default) are dropped: a stranger's document
// does not write to the process's stderr; results and the verification report
// carry the failure. Nests; the handlers before it come back at its end.
class XmlQuietErrors {
 public:
  XmlQuietErrors();
  ~XmlQuietErrors();
  XmlQuietErrors(const XmlQuietErrors&) = delete;
  XmlQuietErrors& operator=(const XmlQuietErrors&) = delete;

 private:
  xmlGenericErrorFunc savedGeneric;
  void* savedGenericContext;
  xmlStructuredErrorFunc savedStructured;
  void* savedStructuredContext;
};
// Parses bytes in memory with the same guards (fragments, tests): null when refused.
xmlDocPtr xmlSafeParseMemory(const uint8_t* bytes, size_t length);

// Parses the reader's bytes into the holder: 0, 59 (read failure, fewer than 4
// bytes) or 89 (malformed, too large, deeper than XML_MAX_TREE_DEPTH, an
// external resource asked for).
int32_t parseXmlDocument(XmlDocHolder* holder, GenericFile* reader);

// Parses bytes (UTF-8) as a well-balanced chunk in the context of an element
// or of the document node (xmlParseInNodeContext), under the guards of
// parseXmlDocument: its options, no external resource, the attribute,
// namespace, depth (counted from the document's root) and node caps, and the
// memory of a document of that many octets. In the document node's context
// the chunk must make exactly one root element. What the document's internal
// subset declares of attributes is applied as its parse applies it (default
// values, values not of type CDATA normalised); a defaulted namespace
// declaration an element lacks refuses the chunk. 0 with the new nodes in list
// (a sibling chain linked nowhere; the caller owns them), 89 when refused, 20
// for a bad argument.
int32_t xmlSafeParseInNodeContext(xmlNodePtr context, const uint8_t* bytes, size_t length,
                                  xmlNodePtr* list);

// Same-document reference fragments (after the "#"): a bare NCName,
// "xpointer(/)" or "xpointer(id('NCName'))". Anything else is refused before any
// evaluation. For the id forms the id is returned.
enum XmlFragmentKind { XML_FRAGMENT_INVALID = 0, XML_FRAGMENT_ID = 1, XML_FRAGMENT_ROOT = 2 };
XmlFragmentKind parseSameDocumentFragment(const std::string& fragment, std::string* id);

// The library's own selections, written as XPointer: the signatures of a
// message (ds:Signature not directly inside an XAdES 1.3.2 CounterSignature)
// and the encrypted elements (xenc:EncryptedData).
extern const char XPOINTER_SIGNATURES[];
extern const char XPOINTER_ENCRYPTED_DATA[];

bool xpointerSelectNode(xmlNodePtr contextNode, const char* expression, xmlNodePtr* node);
// The library's own selections above are evaluated by a walk of the document
// in document order (linear, no XPath engine); any other expression, the
// application's own, by libxml2's XPointer (xmlXPointerSelectElements).
int32_t xpointerSelectNodes(XmlDocHolder* holder, const char* expression,
                            std::vector<xmlNodePtr>& nodes);

// The one element of the context node's document whose Id is id: an attribute
// declared ID by the DTD, xml:id, an attribute Id, ID or id (no namespace), or
// one registered by registerIdAttributes. No element or more than one (a wrapped
// signature): TalApiException 139. An id that is not an NCName: 139 as well.
// Inside an XmlIdIndexScope of the node's document the answer comes from its
// index, else from a walk of the whole document.
void findNodeById(xmlNodePtr contextNode, const char* id, xmlNodePtr* node);

// While one lives on a thread, findNodeById over its document answers from an
// index of the document's Ids, built by one walk at the first lookup, not by a
// walk of the whole tree per lookup (a thousand references over a document of
// many Ids). The tree must not change while it lives: the index holds its
// elements and attribute values. A scope opened while one of the same document
// is open on the thread shares that one's index.
struct XmlXPointerDocStats;
class XmlIdIndexScope {
 public:
  explicit XmlIdIndexScope(xmlDocPtr doc);
  ~XmlIdIndexScope();
  XmlIdIndexScope(const XmlIdIndexScope&) = delete;
  XmlIdIndexScope& operator=(const XmlIdIndexScope&) = delete;

  // The open scope that indexes doc on this thread (the outermost), or null.
  static XmlIdIndexScope* of(xmlDocPtr doc);
  // The one element whose Id is id; null when none or more than one claims it.
  xmlNodePtr find(const std::string& id);

  // The document's statistics for the bound of XPointer evaluations, once
  // gathered within this scope.
  std::shared_ptr<const XmlXPointerDocStats> xpointerStats;

 private:
  void build();

  xmlDocPtr doc;
  XmlIdIndexScope* enclosing;
  bool built = false;
  const char* valueOf(xmlAttrPtr a) const;

  std::vector<xmlAttrPtr> ids;  // every Id attribute, sorted by value
  std::unordered_map<xmlAttrPtr, std::string> assembled;  // values the tree holds in pieces
};

extern const char* const XML_ID_ATTRIBUTE_NAMES[3];
// Registers, in the subtree of node, each attribute named in names as an Id
// when the document has no Id of that value yet.
void registerIdAttributes(xmlNodePtr node, const std::vector<std::string>& names);
void registerIdAttributes(xmlNodePtr node);

int registerInScopeNamespaces(xmlXPathContextPtr xpathContext, xmlNodePtr node);

const xmlChar* nodeNamespaceUri(xmlNodePtr node);
bool isElement(xmlNodePtr node, const char* name, const char* uri);
xmlNodePtr firstElement(xmlNodePtr node);
// Depth first over start and its following siblings; depth < 0 means no limit
// other than the tree bound, 0 no descent.
xmlNodePtr findElement(xmlNodePtr start, const char* name, const char* uri, int depth);

// Prefix table: "ds", "xades", "xsl", "xenc"; null for other prefixes.
const char* xmlPrefixTableLookup(const char* prefix);
xmlNodePtr addChildElement(xmlNodePtr parent, const char* name, const char* prefix);

void serializeNode(xmlNodePtr node, std::string& text, bool format = true);

// Ids of created elements: the prefix, the monotonic clock's high and low 32
// bits in decimal, "_" and a running number, so two Ids of one generator
// differ even within one clock tick.
class XmlUniqueIds {
 public:
  std::string make(const char* prefix);

 private:
  uint64_t counter = 0;
};

// XML-DSig DSA value (r || s, equal halves) to the DER of a DSASignature
// SEQUENCE; a MemFile output is cut to the encoding. False for an odd length.
bool dsaXmlSignatureToDer(const uint8_t* value, uint32_t length, GenericFile* out);

// The text content of a node as xmlNodeGetContent gives it, collected in one pass
// (libxml2 grows its buffer by exact sizes: quadratic for an element of many children).
std::string nodeTextContent(xmlNodePtr node);

// The content of a signed object element as saved by the C API: base64-decoded
// when Encoding says base64, the first element child serialised when MimeType is
// "text/xml", else (no MimeType, or another XML media type) the one element it
// holds (white space aside) serialised, else the text content. A serialised
// element carries the namespace declarations it and its descendants take from
// above it. Codes: 0, 62 (write failure), 139 (no content).
int32_t writeSignedObjectContent(xmlNodePtr objectNode, GenericFile* out);
// The document element of `document` serialised, without the subtree of
// `leaveOut` (null: nothing left out). Codes: 0, 62 (write failure), 139
// (nothing left: no element, or the element is what is left out).
int32_t writeDocumentElement(xmlNodePtr document, xmlNodePtr leaveOut, GenericFile* out);

// While an object of this class lives on a thread, every external resource that
// libxml2 or libxslt would load on that thread is refused (XSLT, XPointer).
class XmlNoExternalScope {
 public:
  XmlNoExternalScope();
  ~XmlNoExternalScope();
  XmlNoExternalScope(const XmlNoExternalScope&) = delete;
  XmlNoExternalScope& operator=(const XmlNoExternalScope&) = delete;
};
