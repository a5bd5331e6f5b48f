#include "xmlsig/xmlmisc.h"

#include "base/b64file.h"
#include "base/commonerror.h"
#include "base/talexception.h"
#include "pki/keys/dsaparms.h"
#include "xmlsig/xmlc14transform.h"
#include "xmlsig/xmlconst.h"
#include "xmlsig/xmlmemcharge.h"
#include "xmlsig/xmlxpointertransform.h"
#include "xmlsig/xmlb64transform.h"
#include "xmlsig/xmlwalk.h"

#include <libxml/parser.h>
#include <libxml/SAX2.h>
#include <libxml/parserInternals.h>
#include <libxml/valid.h>
#include <libxml/globals.h>
#include <libxml/xmlIO.h>
#include <libxml/xpathInternals.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>

#include <time.h>

namespace {

const char* const SRC_SIGNATURE = "XML/libxmlsignature/xmlsignature";
const char* const SRC_MISC = "XML/libxmlsignature/xmlmisc";

// Counts the attributes of start tags in text: each is one '=' outside quoted
// values, up to the '>' outside them. Every '<' starts afresh (none can stand
// inside a value), so text, comments or a broken tag before a tag never hide
// its attributes; a comment that looks like a tag is at worst counted too.
struct TagSigns {
  int signs = 0;
  xmlChar quote = 0;
  bool inTag = false;
  // True once a tag holds more than limit signs.
  bool feed(xmlChar c, int limit) {
    if (c == '<') {
      signs = 0;
      quote = 0;
      inTag = true;
      return false;
    }
    if (!inTag) return false;
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      inTag = false;
    } else if (c == '=') {
      return ++signs > limit;
    }
    return false;
  }
};

// One parse in progress on this thread: the resource loader refuses everything
// while it is set and notes whether an external general entity was asked for.
struct ParseGuard {
  xmlParserCtxtPtr mainCtxt = nullptr;
  bool externalEntity = false;
  bool overLimit = false;  // an element or declaration past the per-element caps
  XmlMemoryScope* memory = nullptr;  // what the parse holds, against the document's allowance
  std::map<std::string, int> declaredAttributes;  // ATTLIST definitions per element name
  // The start tag libxml2 is still waiting for the end of: where it starts (in
  // decoded input octets), how far it was scanned and what was seen.
  uint64_t pendingTag = UINT64_MAX;
  uint64_t pendingScanned = 0;
  TagSigns pendingSigns;
};
thread_local ParseGuard* activeGuard = nullptr;
thread_local int guardDepth = 0;
xmlExternalEntityLoader previousLoader = nullptr;
std::once_flag loaderOnce;

xmlParserInputPtr refusingLoader(const char* url, const char* id, xmlParserCtxtPtr ctxt) {
  if (guardDepth > 0) {
    // The external subset and parameter entities come through the main context
    // and are left out; a general entity gets its own context and fails the parse.
    if (activeGuard && ctxt != activeGuard->mainCtxt) activeGuard->externalEntity = true;
    return nullptr;
  }
  return previousLoader ? previousLoader(url, id, ctxt) : nullptr;
}

void installLoader() {
  std::call_once(loaderOnce, [] {
    // libxml2's global state is set up once here, not lazily by whichever
    // threads happen to parse first at the same time.
    xmlInitParser();
    previousLoader = xmlGetExternalEntityLoader();
    xmlSetExternalEntityLoader(refusingLoader);
  });
}

class GuardScope {
 public:
  explicit GuardScope(ParseGuard* g) : saved(activeGuard) {
    installLoader();
    activeGuard = g;
    ++guardDepth;
  }
  ~GuardScope() {
    activeGuard = saved;
    --guardDepth;
  }

 private:
  ParseGuard* saved;
};

bool isNsDecl(xmlNodePtr n) { return n && n->type == XML_NAMESPACE_DECL; }

// libxml2 checks every attribute of a start tag against all the others before
// anything can see the tag, and builds its attribute list by walking to the end
// of it: time quadratic in the attributes of one element. The caps are applied
// at three points. Before: a start tag never reaches the parser with many more
// attributes than the caps, checked on the decoded input while the push parser
// waits for the tag's end and on the replacement text of every internal
// entity. After: the element's own count, defaulted attributes and namespaces
// included, before its tree is built; and the attribute declarations of each
// element name.
const int MAX_ATTRIBUTE_SIGNS = XML_MAX_ATTRIBUTES + XML_MAX_NAMESPACE_DECLS;

void refuse(void* ctx) {
  if (activeGuard) activeGuard->overLimit = true;
  xmlStopParser(static_cast<xmlParserCtxtPtr>(ctx));
}

bool tooManySigns(const xmlChar* text, size_t length) {
  TagSigns tags;
  for (size_t i = 0; i < length; ++i)
    if (tags.feed(text[i], MAX_ATTRIBUTE_SIGNS)) return true;
  return false;
}

// The xml: attributes the canonicaliser may inherit. Every other xml:* name is
// refused: inclusive canonicalisation collects the xml:* attributes of all
// ancestors of each visible element under an invisible parent into a sorted
// list by linear search, quadratic in their number and outside any budget.
bool isAdmittedXmlAttribute(const xmlChar* name) {
  static const char* const admitted[] = {"lang", "space", "base", "id"};
  for (const char* a : admitted)
    if (xmlStrEqual(name, BAD_CAST a)) return true;
  return false;
}

bool isXmlPrefix(const xmlChar* prefix) { return prefix && xmlStrEqual(prefix, BAD_CAST "xml"); }

void cappedStartElement(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                        const xmlChar* uri, int nbNamespaces, const xmlChar** namespaces,
                        int nbAttributes, int nbDefaulted, const xmlChar** attributes) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
  // the tree's memory is checked where it grows (an allocator must not stop the parser)
  if (nbAttributes > XML_MAX_ATTRIBUTES || nbNamespaces > XML_MAX_NAMESPACE_DECLS ||
      ctxt->nsNr / 2 > XML_MAX_NAMESPACES_IN_SCOPE ||
      (activeGuard && activeGuard->memory && activeGuard->memory->over())) {
    refuse(ctx);
    return;
  }
  // Five pointers per attribute: local name, prefix, URI, value, value end.
  for (int i = 0; i < nbAttributes; ++i)
    if (isXmlPrefix(attributes[5 * i + 1]) && !isAdmittedXmlAttribute(attributes[5 * i])) {
      refuse(ctx);
      return;
    }
  xmlSAX2StartElementNs(ctx, localname, prefix, uri, nbNamespaces, namespaces, nbAttributes,
                        nbDefaulted, attributes);
}

void cappedAttributeDecl(void* ctx, const xmlChar* elem, const xmlChar* fullname, int type, int def,
                         const xmlChar* defaultValue, xmlEnumerationPtr tree) noexcept {
  bool over = true;  // an exception (no memory) must not unwind through libxml2
  try {
    over =
        activeGuard && elem &&
        ++activeGuard->declaredAttributes[reinterpret_cast<const char*>(elem)] > XML_MAX_ATTRIBUTES;
  } catch (...) {
  }
  if (over) {
    xmlFreeEnumeration(tree);
    refuse(ctx);
    return;
  }
  xmlSAX2AttributeDecl(ctx, elem, fullname, type, def, defaultValue, tree);
}

// True when an entity's replacement text refers to a general entity other than
// the five predefined ones. libxml2 2.9 parses an entity's content once and
// copies the tree at later references without callbacks, counting only the
// literal length: nested references would multiply copies unseen by the caps.
bool refersToEntity(const xmlChar* text) {
  static const char* const predefined[] = {"lt;", "gt;", "amp;", "apos;", "quot;"};
  for (const xmlChar* p = text; *p; ++p) {
    if (*p != '&' || p[1] == '#') continue;
    bool known = false;
    for (const char* name : predefined)
      if (xmlStrncmp(p + 1, BAD_CAST name, xmlStrlen(BAD_CAST name)) == 0) known = true;
    if (!known) return true;
  }
  return false;
}

// True when a parameter entity's replacement text refers to a parameter entity
// ("%name;", the '%' written as "&#37;" in the literal). libxml2 2.9 expands
// such references in the internal subset without any amplification bound: a
// few hundred octets of them keep the push parser busy for ever.
bool refersToParameterEntity(const xmlChar* text) {
  for (const xmlChar* p = text; *p; ++p)
    if (*p == '%' && p[1] && !IS_BLANK_CH(p[1])) return true;
  return false;
}

void cappedEntityDecl(void* ctx, const xmlChar* name, int type, const xmlChar* publicId,
                      const xmlChar* systemId, xmlChar* content) {
  if (content && (tooManySigns(content, static_cast<size_t>(xmlStrlen(content))) ||
                  (type == XML_INTERNAL_GENERAL_ENTITY && refersToEntity(content)) ||
                  (type == XML_INTERNAL_PARAMETER_ENTITY && refersToParameterEntity(content)))) {
    refuse(ctx);
    return;
  }
  xmlSAX2EntityDecl(ctx, name, type, publicId, systemId, content);
}

// After each chunk: the start tag the parser waits for must not have grown past
// the caps. A chunk adds at most its length in '=' signs, so the tag libxml2
// finally parses holds a bounded number of attributes.
bool pendingTagTooLarge(xmlParserCtxtPtr ctxt, ParseGuard& guard) {
  xmlParserInputPtr in = ctxt->input;
  if (ctxt->instate != XML_PARSER_START_TAG || !in || !in->cur || !in->end || in->cur >= in->end) {
    guard.pendingTag = UINT64_MAX;
    return false;
  }
  uint64_t at = static_cast<uint64_t>(in->consumed) + static_cast<uint64_t>(in->cur - in->base);
  if (at != guard.pendingTag) {
    guard.pendingTag = at;
    guard.pendingScanned = 0;
    guard.pendingSigns = TagSigns();
  }
  size_t length = static_cast<size_t>(in->end - in->cur);
  for (size_t i = guard.pendingScanned; i < length; ++i) {
    xmlChar c = in->cur[i];
    if (i > 0 && (c == '<' || !guard.pendingSigns.inTag)) break;  // past the tag
    if (guard.pendingSigns.feed(c, MAX_ATTRIBUTE_SIGNS)) return true;
  }
  guard.pendingScanned = length;
  return false;
}

// The next node of a depth-first walk of the subtree of top, descending only
// while depth stays below the bound; null at the end.
xmlNodePtr nextInSubtree(xmlNodePtr node, xmlNodePtr top, int& depth, int maxDepth,
                         bool descend = true) {
  if (descend && node->type == XML_ELEMENT_NODE && node->children && depth < maxDepth) {
    ++depth;
    return node->children;
  }
  while (node && node != top) {
    if (node->next) return node->next;
    node = node->parent;
    --depth;
  }
  return nullptr;
}

// The per-element caps of the start-tag callback, checked again on the tree:
// entity content copied at a later reference never passes through the callback.
bool elementOverCaps(xmlNodePtr n, size_t& inScope) {
  int attributes = 0, declarations = 0;
  for (xmlAttrPtr a = n->properties; a; a = a->next) {
    ++attributes;
    if (a->ns && isXmlPrefix(a->ns->prefix) && !isAdmittedXmlAttribute(a->name)) return true;
  }
  for (xmlNsPtr d = n->nsDef; d; d = d->next) ++declarations;
  inScope += static_cast<size_t>(declarations);
  return attributes > XML_MAX_ATTRIBUTES || declarations > XML_MAX_NAMESPACE_DECLS ||
         inScope > static_cast<size_t>(XML_MAX_NAMESPACES_IN_SCOPE);
}

// True when some node of the subtree of top lies more than maxDepth levels
// below it, an element breaks the per-element caps, or the tree holds more
// nodes than maxNodes (only entity copies can make more nodes than octets).
// Counted into nodes, which may hold the count of earlier trees.
bool treeOverCaps(xmlNodePtr top, int maxDepth, uint64_t maxNodes, uint64_t& nodes) {
  if (!top) return false;
  int depth = 0;
  std::vector<size_t> scope{0};  // declarations in scope of the open elements
  for (xmlNodePtr n = top; n;) {
    if (++nodes > maxNodes) return true;
    bool element = n->type == XML_ELEMENT_NODE;
    size_t inScope = scope.back();
    if (element && elementOverCaps(n, inScope)) return true;
    if (n->children && n->type != XML_ENTITY_REF_NODE && n->type != XML_ATTRIBUTE_NODE) {
      if (++depth > maxDepth) return true;
      scope.push_back(element ? inScope : scope.back());
      n = n->children;
      continue;
    }
    while (n && n != top && !n->next) {
      n = n->parent;
      --depth;
      scope.pop_back();
    }
    if (!n || n == top) break;
    n = n->next;
  }
  return false;
}

std::string attrValue(xmlAttrPtr attr) {
  std::string out;
  xmlwalk::XmlOwnedText v{xmlNodeListGetString(attr->doc, attr->children, 1)};
  if (v.text) out = reinterpret_cast<const char*>(v.text);
  return out;
}

bool isIdAttribute(xmlDocPtr doc, xmlNodePtr elem, xmlAttrPtr attr) {
  if (attr->atype == XML_ATTRIBUTE_ID) return true;
  if (!attr->ns) {
    for (const char* n : XML_ID_ATTRIBUTE_NAMES)
      if (xmlStrEqual(attr->name, BAD_CAST n)) return true;
  }
  // xml:id and attributes the internal subset declares of type ID.
  return xmlIsID(doc, elem, attr) != 0;
}

}  // namespace

const char* const XML_ID_ATTRIBUTE_NAMES[3] = {"Id", "id", "ID"};

XmlDocHolder::~XmlDocHolder() {
  if (doc) xmlFreeDoc(doc);
}

TVxmlDoc::TVxmlDoc(uint32_t owner, const char* name, GenericFile* reader, bool ownsReader,
                   uint8_t flag2, void* libraryContext)
    : owner(owner),
      name(name ? name : ""),
      reader(reader),
      ownsReader(ownsReader ? 1 : 0),
      flag2(flag2),
      holder(new XmlDocHolder),
      libraryContext(libraryContext) {}

TVxmlDoc::~TVxmlDoc() {
  delete holder;
  if (ownsReader) delete reader;
}

int32_t TVxmlDoc::ensureParsed() {
  if (parseResult < 0) parseResult = parseXmlDocument(holder, reader);
  return parseResult;
}

int xmlSafeParseOptions() { return XML_PARSE_NOENT | XML_PARSE_DTDATTR | XML_PARSE_NONET | XML_PARSE_COMPACT; }

void xmlQuietStructuredError(void*, xmlErrorPtr) {}

namespace {
void quietGenericError(void*, const char*, ...) {}
}  // namespace

XmlQuietErrors::XmlQuietErrors()
    : savedGeneric(xmlGenericError),
      savedGenericContext(xmlGenericErrorContext),
      savedStructured(xmlStructuredError),
      savedStructuredContext(xmlStructuredErrorContext) {
  xmlSetGenericErrorFunc(nullptr, quietGenericError);
  xmlSetStructuredErrorFunc(nullptr, xmlQuietStructuredError);
}

XmlQuietErrors::~XmlQuietErrors() {
  xmlSetGenericErrorFunc(savedGenericContext, savedGeneric);
  xmlSetStructuredErrorFunc(savedStructuredContext, savedStructured);
}

void xmlSafeParserSetup(xmlParserCtxtPtr ctxt) {
  installLoader();
  // A stranger's document does not get to write to the process's stderr.
  if (ctxt->sax) {
    ctxt->sax->serror = xmlQuietStructuredError;
    ctxt->sax->startElementNs = cappedStartElement;
    ctxt->sax->attributeDecl = cappedAttributeDecl;
    ctxt->sax->entityDecl = cappedEntityDecl;
  }
  xmlCtxtUseOptions(ctxt, xmlSafeParseOptions());
  ctxt->replaceEntities = 1;
  ctxt->loadsubset = XML_DETECT_IDS | XML_COMPLETE_ATTRS;
}

xmlDocPtr xmlSafeParseMemory(const uint8_t* bytes, size_t length) {
  if (!bytes || length < 4 || length > XML_MAX_DOCUMENT_SIZE) return nullptr;
  MemFile in(const_cast<uint8_t*>(bytes), static_cast<int32_t>(length), false);
  XmlDocHolder holder;
  if (parseXmlDocument(&holder, &in) != 0) return nullptr;
  xmlDocPtr doc = holder.doc;
  holder.doc = nullptr;
  return doc;
}

namespace {
// Called from inside an allocation: only flags are set (xmlStopParser would
// free the input under the parser's feet). No callback builds a node after
// them, no entity content is copied (libxml2 copies only while the document is
// well-formed), the push parser stops at its next step, and the parse is refused.
void stopBuildingTree(void* context) {
  xmlParserCtxtPtr ctxt = static_cast<xmlParserCtxtPtr>(context);
  ctxt->disableSAX = 1;
  ctxt->wellFormed = 0;
  ctxt->instate = XML_PARSER_EOF;
}
}  // namespace

int32_t parseXmlDocument(XmlDocHolder* holder, GenericFile* reader) {
  uint8_t first[4];
  uint32_t got = 0;
  if (!holder || !reader || reader->read(4, first, &got) != 0 || got < 4) return xmlrc::RD_INFILE;
  // Everything the parse allocates, the parser's own state included, is charged
  // against the allowance of the octets read so far.
  XmlMemoryScope memory(xmlMemoryAllowance(4));
  XmlQuietErrors quiet;
  xmlParserCtxtPtr ctxt =
      xmlCreatePushParserCtxt(nullptr, nullptr, reinterpret_cast<const char*>(first), 4, nullptr);
  if (!ctxt) return xmlrc::INV_MSG;
  xmlSafeParserSetup(ctxt);
  ParseGuard guard;
  guard.mainCtxt = ctxt;
  guard.memory = &memory;
  // Past the allowance no more of the tree is built, from that allocation on
  // (not from the next chunk: the rest of one can allocate megabytes).
  memory.onOver(stopBuildingTree, ctxt);
  int32_t result = xmlrc::OK;
  uint64_t total = 4;
  {
    GuardScope scope(&guard);
    std::vector<uint8_t> chunk(4096);
    for (;;) {
      uint32_t n = 0;
      int32_t st = reader->read(4096, chunk.data(), &n);
      if ((st & 0xFFFF) == 0xFFFF) {
        result = xmlrc::RD_INFILE;
        break;
      }
      checkInvariant(st == 0, SRC_SIGNATURE, 365, "0");
      total += n;
      if (total > XML_MAX_DOCUMENT_SIZE || memory.over()) {
        result = xmlrc::INV_MSG;
        break;
      }
      memory.setLimit(xmlMemoryAllowance(total));
      int rc = xmlParseChunk(ctxt, reinterpret_cast<const char*>(chunk.data()), static_cast<int>(n),
                             n == 0 ? 1 : 0);
      if (rc != 0 || guard.externalEntity || guard.overLimit || ctxt->disableSAX ||
          pendingTagTooLarge(ctxt, guard)) {
        result = xmlrc::INV_MSG;
        break;
      }
      if (n == 0) break;
    }
  }
  if (result == xmlrc::OK &&
      (!ctxt->wellFormed || guard.externalEntity || guard.overLimit || memory.over()))
    result = xmlrc::INV_MSG;
  xmlDocPtr doc = ctxt->myDoc;
  ctxt->myDoc = nullptr;
  xmlFreeParserCtxt(ctxt);
  if (result != xmlrc::OK) {
    if (doc) xmlFreeDoc(doc);
    return result;
  }
  // Entity content restarts libxml2's own depth count, so a document can be
  // deeper than its parser limit; every bounded walk here must see the whole
  // tree, so deeper documents are refused. Copies of entity content bypassed
  // the start-tag caps, so they are checked here as well.
  uint64_t nodes = 0;
  if (doc && treeOverCaps(xmlDocGetRootElement(doc), XML_MAX_TREE_DEPTH, total + 1024, nodes)) {
    xmlFreeDoc(doc);
    return xmlrc::INV_MSG;
  }
  // Stamped once here: canonicalisation only reads the tree afterwards.
  xmlStampDocumentOrder(doc);
  // What the tree holds is gone from what its transforms may take.
  const uint64_t allowance = xmlMemoryAllowance(total);
  const uint64_t tree = memory.held() > 0 ? static_cast<uint64_t>(memory.held()) : 0;
  xmlRecordDocumentMemoryLeft(doc, allowance > tree ? allowance - tree : 0);
  if (holder->doc) xmlFreeDoc(holder->doc);
  holder->doc = doc;
  holder->root = doc ? xmlDocGetRootElement(doc) : nullptr;
  holder->octets = total;
  return holder->root ? xmlrc::OK : xmlrc::INV_MSG;
}

namespace {

// What the entity references of text may bring in beyond its own octets.
const uint64_t XML_MAX_CHUNK_EXPANSION = XML_MEMORY_ALLOWANCE / 4;

// True when text refers to a general entity of the document that is not
// internal (parsing it in the document's context would load the entity: a
// declared but unused one passed the document's own parse), or when the
// internal ones it refers to would bring in more than XML_MAX_CHUNK_EXPANSION
// octets: libxml2 copies them into one text in time quadratic in the copies,
// and the chunk is parsed in one call, never stopped between pieces as a
// document is.
bool entityReferencesRefused(xmlDocPtr doc, const uint8_t* text, size_t length) {
  if (!doc->intSubset && !doc->extSubset) return false;
  static const char stops[] = " \t\r\n<>&;'\"=/";
  uint64_t expansion = 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] != '&') continue;
    // The name ends at the first octet no name holds: each octet is scanned
    // at most twice.
    size_t end = i + 1;
    while (end < length && text[end] != 0 && !std::strchr(stops, text[end])) ++end;
    if (end == i + 1) continue;
    std::string name(reinterpret_cast<const char*>(text + i + 1), end - i - 1);
    xmlEntityPtr e = xmlGetDocEntity(doc, BAD_CAST name.c_str());
    if (!e || e->etype == XML_INTERNAL_PREDEFINED_ENTITY) continue;
    if (e->etype != XML_INTERNAL_GENERAL_ENTITY) return true;
    expansion += static_cast<uint64_t>(e->length > 0 ? e->length : 0);
    if (expansion > XML_MAX_CHUNK_EXPANSION) return true;
  }
  return false;
}

// A document's children after a chunk is put there: one element, beside
// comments, processing instructions and white space only.
bool oneRootElement(xmlNodePtr list) {
  int elements = 0;
  for (xmlNodePtr n = list; n; n = n->next) {
    if (n->type == XML_ELEMENT_NODE) {
      ++elements;
    } else if (n->type == XML_TEXT_NODE) {
      for (const xmlChar* c = n->content; c && *c; ++c)
        if (*c != ' ' && *c != '\t' && *c != '\r' && *c != '\n') return false;
    } else if (n->type != XML_COMMENT_NODE && n->type != XML_PI_NODE) {
      return false;
    }
  }
  return elements == 1;
}

// A value of an attribute declared other than CDATA, as the document's parse
// normalises it: no leading or trailing spaces, one space between tokens.
std::string collapsedSpaces(const xmlChar* value) {
  std::string out;
  bool space = false;
  for (const xmlChar* c = value; c && *c; ++c) {
    if (*c == ' ') {
      space = !out.empty();
      continue;
    }
    if (space) out += ' ';
    space = false;
    out += static_cast<char>(*c);
  }
  return out;
}

// Gives the elements of the subtree of top what the document's internal subset
// declares of their attributes, as the document's own parse does and the
// in-context parse (which never read the subset) does not: the default values
// (XML_PARSE_DTDATTR), and the values of attributes not of type CDATA
// normalised. False when a default cannot be put as that parse would put it: a
// namespace declaration the element lacks (it would have changed the names of
// the elements), a prefix not in scope, no memory.
bool applyDeclaredAttributes(xmlDocPtr doc, xmlNodePtr top, xmlNodePtr context) {
  xmlDtdPtr dtd = doc->intSubset;
  if (!dtd) return true;
  auto declares = [](xmlNodePtr n, const xmlChar* prefix) {
    for (xmlNsPtr ns = n->nsDef; ns; ns = ns->next)
      if (xmlStrEqual(ns->prefix, prefix)) return true;
    return false;
  };
  int depth = 0;
  for (xmlNodePtr n = top; n; n = nextInSubtree(n, top, depth, XML_MAX_TREE_DEPTH)) {
    if (n->type != XML_ELEMENT_NODE) continue;
    xmlElementPtr decl = xmlGetDtdQElementDesc(dtd, n->name, n->ns ? n->ns->prefix : nullptr);
    for (xmlAttributePtr a = decl ? decl->attributes : nullptr; a; a = a->nexth) {
      if (!a->prefix && xmlStrEqual(a->name, BAD_CAST "xmlns")) {
        if (a->defaultValue && !declares(n, nullptr)) return false;
        continue;
      }
      if (xmlStrEqual(a->prefix, BAD_CAST "xmlns")) {
        if (a->defaultValue && !declares(n, a->name)) return false;
        continue;
      }
      xmlNsPtr ns = nullptr;
      if (a->prefix) {
        ns = xmlSearchNs(doc, n, a->prefix);
        if (!ns && context->type == XML_ELEMENT_NODE) ns = xmlSearchNs(doc, context, a->prefix);
        if (!ns && a->defaultValue) return false;
        if (!ns) continue;
      }
      // (xmlHasNsProp would answer with the declaration itself.)
      xmlAttrPtr given = nullptr;
      for (xmlAttrPtr p = n->properties; p && !given; p = p->next)
        if (xmlStrEqual(p->name, a->name) &&
            (ns ? p->ns && xmlStrEqual(p->ns->href, ns->href) : !p->ns))
          given = p;
      if (given && a->atype != XML_ATTRIBUTE_CDATA) {
        xmlwalk::XmlOwnedText value{xmlNodeListGetString(doc, given->children, 1)};
        const std::string normal = collapsedSpaces(value.text);
        const bool same = value.text && normal == reinterpret_cast<const char*>(value.text);
        if (!same && !xmlSetNsProp(n, ns, a->name, BAD_CAST normal.c_str())) return false;
      } else if (!given && a->defaultValue && !xmlNewNsProp(n, ns, a->name, a->defaultValue)) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

int32_t xmlSafeParseInNodeContext(xmlNodePtr context, const uint8_t* bytes, size_t length,
                                  xmlNodePtr* list) {
  if (list) *list = nullptr;
  if (!context || !context->doc || !list || (!bytes && length)) return xmlrc::INV_PAR;
  xmlDocPtr doc = context->doc;
  bool atDocument = context->type == XML_DOCUMENT_NODE;
  if (!atDocument && context->type != XML_ELEMENT_NODE) return xmlrc::INV_PAR;
  // What the document parse refuses before libxml2 sees it: too many octets,
  // start tags past the attribute caps; and (new here) external entities the
  // document declared, and copies of its entities past a bound.
  if (length == 0 || length > XML_MAX_DOCUMENT_SIZE ||
      tooManySigns(reinterpret_cast<const xmlChar*>(bytes), length) ||
      entityReferencesRefused(doc, bytes, length))
    return xmlrc::INV_MSG;
  int depth = 0;
  for (xmlNodePtr n = context; n && n->type == XML_ELEMENT_NODE; n = n->parent) ++depth;
  if (depth >= XML_MAX_TREE_DEPTH) return xmlrc::INV_MSG;
  const uint64_t left = xmlDocumentMemoryLeft(doc);
  xmlNodePtr nodes = nullptr;
  int rc;
  int64_t held = 0;
  bool over;
  {
    XmlMemoryScope memory(xmlMemoryAllowance(length));
    XmlQuietErrors quiet;
    XmlNoExternalScope noExternal;
    // The chunk is UTF-8 whatever the document declared: libxml2 would read it
    // in the document's own encoding.
    const xmlChar* encoding = doc->encoding;
    doc->encoding = nullptr;
    rc = xmlParseInNodeContext(context, reinterpret_cast<const char*>(bytes),
                               static_cast<int>(length), xmlSafeParseOptions(), &nodes);
    doc->encoding = encoding;
    over = memory.over();
    held = memory.held();
  }
  bool refused = rc != XML_ERR_OK || over || !nodes || (atDocument && !oneRootElement(nodes));
  // The caps of a parsed document, over the whole tree it becomes part of.
  uint64_t counted = 0;
  try {
    for (xmlNodePtr n = nodes; n && !refused; n = n->next)
      refused = treeOverCaps(n, XML_MAX_TREE_DEPTH - depth, length + 1024, counted);
    for (xmlNodePtr n = nodes; n && !refused; n = n->next)
      refused = !applyDeclaredAttributes(doc, n, context);
  } catch (...) {
    // A check that cannot allocate leaves nothing parsed behind.
    xmlFreeNodeList(nodes);
    throw;
  }
  if (refused) {
    xmlFreeNodeList(nodes);
    return xmlrc::INV_MSG;
  }
  // The new nodes take from what the document's transforms may hold, and the
  // octets they came from add to it as a document's octets do.
  uint64_t grown = left + (xmlMemoryAllowance(length) - XML_MEMORY_ALLOWANCE);
  uint64_t taken = held > 0 ? static_cast<uint64_t>(held) : 0;
  xmlRecordDocumentMemoryLeft(doc, grown > taken ? grown - taken : 0);
  *list = nodes;
  return xmlrc::OK;
}

XmlFragmentKind parseSameDocumentFragment(const std::string& fragment, std::string* id) {
  auto ncname = [](const std::string& s) {
    return !s.empty() && s.size() <= XML_MAX_EXPRESSION_LENGTH &&
           s.find('\0') == std::string::npos && xmlValidateNCName(BAD_CAST s.c_str(), 0) == 0;
  };
  if (fragment == "xpointer(/)") return XML_FRAGMENT_ROOT;
  static const std::string open = "xpointer(id('", close = "'))";
  std::string candidate = fragment;
  if (fragment.size() > open.size() + close.size() && fragment.compare(0, open.size(), open) == 0 &&
      fragment.compare(fragment.size() - close.size(), close.size(), close) == 0)
    candidate = fragment.substr(open.size(), fragment.size() - open.size() - close.size());
  if (!ncname(candidate)) return XML_FRAGMENT_INVALID;
  if (id) *id = candidate;
  return XML_FRAGMENT_ID;
}

bool xpointerSelectNode(xmlNodePtr contextNode, const char* expression, xmlNodePtr* node) {
  checkInvariant(contextNode && contextNode->doc && expression && node, SRC_SIGNATURE, 404,
                 "false");
  checkInvariant(*expression != 0, SRC_SIGNATURE, 407, "false");
  XmlXPointerTransform t(contextNode, expression);
  try {
    t.apply();
  } catch (const TalApiException& e) {
    if (e.getCode() == xmlrc::EMPTY_TRANSFORM) return false;
    throw;
  }
  xmlNodeSetPtr set = t.outputNodeSet();
  bool one = set && set->nodeNr == 1 && set->nodeTab[0]->type != XML_NAMESPACE_DECL;
  if (one) *node = set->nodeTab[0];
  if (set) xmlXPathFreeNodeSet(set);
  return one;
}

// Constant texts, not strings built at start-up: a static initialiser that runs out of memory
// ends the process before main.
const char XPOINTER_SIGNATURES[] =
    "xmlns(ds=http://www.w3.org/2000/09/xmldsig#) xmlns(etsi=http://uri.etsi.org/01903/v1.3.2#)"
    " xpointer(//ds:Signature[not(parent::etsi:CounterSignature)])";
const char XPOINTER_ENCRYPTED_DATA[] =
    "xmlns(xenc=http://www.w3.org/2001/04/xmlenc#) xpointer(//xenc:EncryptedData)";

namespace {

// Elements of the subtree of root, in document order, that the predicate keeps.
template <typename Keep>
void selectElements(xmlNodePtr root, std::vector<xmlNodePtr>& nodes, Keep keep) {
  int depth = 0;
  for (xmlNodePtr n = root; n; n = nextInSubtree(n, root, depth, XML_MAX_TREE_DEPTH))
    if (n->type == XML_ELEMENT_NODE && keep(n)) nodes.push_back(n);
}

}  // namespace

int32_t xpointerSelectNodes(XmlDocHolder* holder, const char* expression,
                            std::vector<xmlNodePtr>& nodes) {
  nodes.clear();
  checkInvariant(holder && holder->root && expression, SRC_SIGNATURE, 404, "false");
  if (std::strcmp(expression, XPOINTER_SIGNATURES) == 0) {
    selectElements(holder->root, nodes, [](xmlNodePtr n) {
      return xmlwalk::isIn(n, xmlc::DS_SIGNATURE, xmlc::NS_DSIG) &&
             !xmlwalk::isIn(n->parent, xmlc::XADES_COUNTER_SIGNATURE, xmlc::NS_XADES);
    });
    return xmlrc::OK;
  }
  if (std::strcmp(expression, XPOINTER_ENCRYPTED_DATA) == 0) {
    selectElements(holder->root, nodes, [](xmlNodePtr n) {
      return xmlwalk::isIn(n, "EncryptedData", xmlc::NS_XENC);
    });
    return xmlrc::OK;
  }
  // The application's own choice: libxml2's XPointer under the work budget.
  return xmlXPointerSelectElements(holder->root, expression, nodes);
}

namespace {

thread_local XmlIdIndexScope* topIdScope = nullptr;

// Calls take(attribute, element) for each Id attribute of the document's
// elements, in document order.
template <typename Take>
void forEachIdAttribute(xmlDocPtr doc, Take take) {
  xmlNodePtr root = xmlDocGetRootElement(doc);
  int depth = 0;
  for (xmlNodePtr n = root; n; n = nextInSubtree(n, root, depth, XML_MAX_TREE_DEPTH)) {
    if (n->type != XML_ELEMENT_NODE) continue;
    for (xmlAttrPtr a = n->properties; a; a = a->next)
      if (isIdAttribute(doc, n, a)) take(a, n);
  }
}

}  // namespace

XmlIdIndexScope::XmlIdIndexScope(xmlDocPtr doc) : doc(doc), enclosing(topIdScope) {
  topIdScope = this;
}

XmlIdIndexScope::~XmlIdIndexScope() { topIdScope = enclosing; }

XmlIdIndexScope* XmlIdIndexScope::of(xmlDocPtr doc) {
  XmlIdIndexScope* found = nullptr;
  for (XmlIdIndexScope* s = topIdScope; s; s = s->enclosing)
    if (doc && s->doc == doc) found = s;
  return found;
}

const char* XmlIdIndexScope::valueOf(xmlAttrPtr a) const {
  // In place when the tree holds the value as one text (the parse replaced
  // every entity, so always but for values set in pieces since).
  xmlNodePtr text = a->children;
  if (text && !text->next && text->type == XML_TEXT_NODE && text->content)
    return reinterpret_cast<const char*>(text->content);
  auto it = assembled.find(a);
  return it == assembled.end() ? "" : it->second.c_str();
}

void XmlIdIndexScope::build() {
  // Built aside and taken in whole at the end: an allocation that fails part
  // way leaves no partial index that could miss a second claim to an Id.
  std::vector<xmlAttrPtr> found;
  std::unordered_map<xmlAttrPtr, std::string> joined;
  size_t count = 0;
  forEachIdAttribute(doc, [&count](xmlAttrPtr, xmlNodePtr) { ++count; });
  found.reserve(count);  // one pointer an Id: the index stays small beside the tree
  forEachIdAttribute(doc, [&](xmlAttrPtr a, xmlNodePtr) {
    xmlNodePtr text = a->children;
    if (!(text && !text->next && text->type == XML_TEXT_NODE && text->content))
      joined.emplace(a, attrValue(a));
    found.push_back(a);
  });
  assembled.swap(joined);
  found.erase(std::remove_if(found.begin(), found.end(), [this](xmlAttrPtr a) { return !*valueOf(a); }),
              found.end());
  std::sort(found.begin(), found.end(),
            [this](xmlAttrPtr x, xmlAttrPtr y) { return std::strcmp(valueOf(x), valueOf(y)) < 0; });
  ids.swap(found);
  built = true;
}

xmlNodePtr XmlIdIndexScope::find(const std::string& id) {
  if (!built) build();
  auto it = std::lower_bound(ids.begin(), ids.end(), id, [this](xmlAttrPtr a, const std::string& v) {
    return std::strcmp(valueOf(a), v.c_str()) < 0;
  });
  xmlNodePtr found = nullptr;
  for (; it != ids.end() && id == valueOf(*it); ++it) {
    if (found && found != (*it)->parent) return nullptr;  // two elements claim it
    found = (*it)->parent;
  }
  return found;
}

void findNodeById(xmlNodePtr contextNode, const char* id, xmlNodePtr* node) {
  if (node) *node = nullptr;
  std::string wanted;
  if (!contextNode || !contextNode->doc || !id || !node ||
      parseSameDocumentFragment(id, &wanted) != XML_FRAGMENT_ID || wanted != id)
    throw TalApiException(xmlrc::EMPTY_TRANSFORM);
  xmlDocPtr doc = contextNode->doc;
  xmlNodePtr found = nullptr;
  if (XmlIdIndexScope* index = XmlIdIndexScope::of(doc)) {
    found = index->find(wanted);
  } else {
    bool twice = false;
    forEachIdAttribute(doc, [&](xmlAttrPtr a, xmlNodePtr n) {
      if (twice || attrValue(a) != wanted) return;
      if (found && found != n) twice = true;  // two elements claim the Id
      found = n;
    });
    if (twice) found = nullptr;
  }
  if (!found) throw TalApiException(xmlrc::EMPTY_TRANSFORM);
  *node = found;
}

void registerIdAttributes(xmlNodePtr node, const std::vector<std::string>& names) {
  if (!node || node->type != XML_ELEMENT_NODE) return;
  int depth = 0;
  for (xmlNodePtr n = node; n; n = nextInSubtree(n, node, depth, XML_MAX_TREE_DEPTH)) {
    if (n->type != XML_ELEMENT_NODE) continue;
    for (xmlAttrPtr a = n->properties; a; a = a->next) {
      bool named = false;
      for (const std::string& name : names)
        if (!a->ns && xmlStrEqual(a->name, BAD_CAST name.c_str())) named = true;
      if (!named || a->atype == XML_ATTRIBUTE_ID) continue;
      std::string v = attrValue(a);
      if (!v.empty() && !xmlGetID(n->doc, BAD_CAST v.c_str()))
        xmlAddID(nullptr, n->doc, BAD_CAST v.c_str(), a);
    }
  }
}

void registerIdAttributes(xmlNodePtr node) {
  registerIdAttributes(
      node, {XML_ID_ATTRIBUTE_NAMES[0], XML_ID_ATTRIBUTE_NAMES[1], XML_ID_ATTRIBUTE_NAMES[2]});
}

int registerInScopeNamespaces(xmlXPathContextPtr xpathContext, xmlNodePtr node) {
  int depth = 0;
  for (xmlNodePtr n = node; n && depth < XML_MAX_TREE_DEPTH * 2; n = n->parent, ++depth) {
    if (n->type != XML_ELEMENT_NODE) continue;
    for (xmlNsPtr ns = n->nsDef; ns; ns = ns->next) {
      if (!ns->prefix || !ns->href || xmlXPathNsLookup(xpathContext, ns->prefix)) continue;
      if (xmlXPathRegisterNs(xpathContext, ns->prefix, ns->href) != 0) return -1;
    }
  }
  return 0;
}

const xmlChar* nodeNamespaceUri(xmlNodePtr node) {
  if (!node || isNsDecl(node) || !node->ns) return nullptr;
  if (node->ns->href) return node->ns->href;
  xmlNsPtr found = xmlSearchNs(node->doc, node, node->ns->prefix);
  return found ? found->href : nullptr;
}

bool isElement(xmlNodePtr node, const char* name, const char* uri) {
  if (!node || node->type != XML_ELEMENT_NODE || !name || !xmlStrEqual(node->name, BAD_CAST name))
    return false;
  const xmlChar* own = nodeNamespaceUri(node);
  return !uri || !own || xmlStrEqual(own, BAD_CAST uri);
}

xmlNodePtr firstElement(xmlNodePtr node) {
  for (; node; node = node->next)
    if (node->type == XML_ELEMENT_NODE) return node;
  return nullptr;
}

xmlNodePtr findElement(xmlNodePtr start, const char* name, const char* uri, int depth) {
  if (!start || isNsDecl(start)) return nullptr;
  // Explicit stack of the sibling chains being walked and the depth left at each.
  struct Level {
    xmlNodePtr node;
    int left;
  };
  std::vector<Level> stack;
  stack.push_back({start, depth});
  while (!stack.empty()) {
    Level& top = stack.back();
    xmlNodePtr n = top.node;
    if (!n) {
      stack.pop_back();
      continue;
    }
    int left = top.left;
    top.node = n->next;
    if (isElement(n, name, uri)) return n;
    if (left != 0 && n->children && n->type == XML_ELEMENT_NODE &&
        stack.size() <= static_cast<size_t>(XML_MAX_TREE_DEPTH))
      stack.push_back({n->children, left > 0 ? left - 1 : left});
  }
  return nullptr;
}

const char* xmlPrefixTableLookup(const char* prefix) {
  static const struct {
    std::string_view prefix, uri;
  } table[] = {{xmlc::PFX_DSIG, xmlc::NS_DSIG},
               {xmlc::PFX_XADES, xmlc::NS_XADES},
               {xmlc::PFX_XSLT, xmlc::NS_XSLT},
               {xmlc::PFX_XENC, xmlc::NS_XENC}};
  if (!prefix) return nullptr;
  for (const auto& row : table)
    if (row.prefix == prefix) return row.uri.data();
  return nullptr;
}

xmlNodePtr addChildElement(xmlNodePtr parent, const char* name, const char* prefix) {
  checkInvariant(parent && name && *name, SRC_MISC, 677, "false");
  xmlNodePtr child = nullptr;
  // A prefix of the table that the document binds to another namespace is
  // declared again on the new element: the element goes into the table's
  // namespace, never into whatever the stranger bound the prefix to.
  xmlNsPtr ns = prefix && *prefix ? xmlSearchNs(parent->doc, parent, BAD_CAST prefix) : nullptr;
  const char* known = prefix && *prefix ? xmlPrefixTableLookup(prefix) : nullptr;
  if (ns && known && !xmlStrEqual(ns->href, BAD_CAST known)) ns = nullptr;
  if (!prefix || !*prefix) {
    child = xmlNewChild(parent, nullptr, BAD_CAST name, nullptr);
  } else if (ns) {
    bool defaultSame = parent->ns && !parent->ns->prefix && parent->ns->href && ns->href &&
                       xmlStrEqual(parent->ns->href, ns->href);
    child = xmlNewChild(parent, defaultSame ? nullptr : ns, BAD_CAST name, nullptr);
  } else {
    const char* uri = xmlPrefixTableLookup(prefix);
    checkInvariant(uri != nullptr, SRC_MISC, 622, "false");
    child = xmlNewNode(nullptr, BAD_CAST name);
    if (child) {
      xmlNsPtr declared = xmlNewNs(child, BAD_CAST uri, BAD_CAST prefix);
      xmlSetNs(child, declared);
      if (!xmlAddChild(parent, child)) {
        xmlFreeNode(child);
        child = nullptr;
      }
    }
  }
  if (!child) throw TalApiException(xmlrc::MEM);
  return child;
}

namespace {
int streamWrite(void* context, const char* buffer, int len) {
  if (len < 0) return -1;
  int32_t st = static_cast<GenericFile*>(context)->write(static_cast<uint32_t>(len),
                                                         reinterpret_cast<const uint8_t*>(buffer));
  return (st & 0xFFFF) == 0xFFFF || st < 0 ? -1 : len;
}
int streamClose(void*) { return 0; }

// An output buffer over `out`, closed however the writing ends.
struct DumpBuffer {
  xmlOutputBufferPtr buffer;
  explicit DumpBuffer(GenericFile* out)
      : buffer(xmlOutputBufferCreateIO(streamWrite, streamClose, out, nullptr)) {
    if (!buffer) throw TalApiException(xmlrc::MEM);
  }
  ~DumpBuffer() {
    if (buffer) xmlOutputBufferClose(buffer);
  }
  DumpBuffer(const DumpBuffer&) = delete;
  DumpBuffer& operator=(const DumpBuffer&) = delete;
  void put(const char* text, size_t length) {
    if (length) xmlOutputBufferWrite(buffer, static_cast<int>(length), text);
  }
  void put(const xmlChar* text) {
    const char* t = reinterpret_cast<const char*>(text);
    put(t, strlen(t));
  }
  // False when a write failed.
  bool close() {
    xmlOutputBufferPtr b = buffer;
    buffer = nullptr;
    return xmlOutputBufferClose(b) >= 0;
  }
};

// The node's serialisation written to `out` as it is made: false when a write failed.
bool dumpNode(xmlNodePtr node, int format, GenericFile* out) {
  DumpBuffer dump(out);
  xmlNodeDumpOutput(dump.buffer, node->doc, node, 0, format, "UTF-8");
  return dump.close();
}

// A namespace binding a subtree takes from above it. An empty prefix is the
// default namespace; an empty URI, an element in no namespace.
struct OuterBinding {
  std::string prefix;
  const xmlChar* uri;
};

// The bindings a subtree uses but does not declare, in the order of first use:
// the prefix of each element and prefixed attribute (an unprefixed element
// uses the default namespace, or none) for which no element from the subtree's
// top down to the user declares it. "xml" is bound without a declaration.
std::vector<OuterBinding> outerBindings(xmlNodePtr top) {
  struct Prefix {
    int declaredOnPath = 0;
    bool used = false;
  };
  std::unordered_map<std::string, Prefix> prefixes;
  std::vector<OuterBinding> found;
  auto keyOf = [](const xmlChar* prefix) {
    return prefix ? std::string(reinterpret_cast<const char*>(prefix)) : std::string();
  };
  auto declare = [&](xmlNodePtr e, int step) {
    for (xmlNsPtr ns = e->nsDef; ns; ns = ns->next)
      prefixes[keyOf(ns->prefix)].declaredOnPath += step;
  };
  auto use = [&](const xmlChar* prefix, const xmlChar* uri) {
    std::string key = keyOf(prefix);
    if (key == "xml") return;
    Prefix& p = prefixes[key];
    if (p.declaredOnPath > 0 || p.used) return;
    p.used = true;
    found.push_back({std::move(key), uri ? uri : BAD_CAST ""});
  };
  // Depth first without recursion, over elements only: text, comments and
  // entity references name no namespace.
  xmlNodePtr cur = top;
  for (;;) {
    declare(cur, 1);
    use(cur->ns ? cur->ns->prefix : nullptr, cur->ns ? cur->ns->href : nullptr);
    for (xmlAttrPtr a = cur->properties; a; a = a->next)
      if (a->ns && a->ns->prefix) use(a->ns->prefix, a->ns->href);
    if (xmlNodePtr child = firstElement(cur->children)) {
      cur = child;
      continue;
    }
    for (;;) {
      declare(cur, -1);
      if (cur == top) return found;
      if (xmlNodePtr next = firstElement(cur->next)) {
        cur = next;
        break;
      }
      cur = cur->parent;
    }
  }
}

// ` xmlns:prefix="uri"` as an attribute value is written: the characters that
// would end it or change on reading escaped.
void putDeclaration(DumpBuffer& dump, const std::string& prefix, const xmlChar* uri) {
  dump.put(prefix.empty() ? " xmlns=\"" : " xmlns:", prefix.empty() ? 8 : 7);
  if (!prefix.empty()) {
    dump.put(prefix.data(), prefix.size());
    dump.put("=\"", 2);
  }
  static const char SPECIAL[] = "&<\"\t\n\r";
  static const char* const ESCAPED[] = {"&amp;", "&lt;", "&quot;", "&#9;", "&#10;", "&#13;"};
  const char* from = reinterpret_cast<const char*>(uri);
  for (const char* c = from; *c; ++c) {
    const char* special = strchr(SPECIAL, *c);
    if (!special) continue;
    dump.put(from, static_cast<size_t>(c - from));
    const char* escaped = ESCAPED[special - SPECIAL];
    dump.put(escaped, strlen(escaped));
    from = c + 1;
  }
  dump.put(from, strlen(from));
  dump.put("\"", 1);
}

// `element` serialised as the element of a document of its own. libxml2
// writes no declaration made above the node it dumps, so a prefix (or default
// namespace) the subtree takes from an ancestor would come out unbound or
// lost: the start tag gets those declarations, after its own. The tree is only
// read (another thread may be reading it too); without such a binding the
// bytes are libxml2's own.
bool dumpElementAlone(xmlNodePtr element, GenericFile* out) {
  std::vector<OuterBinding> outer = outerBindings(element);
  // An element in no namespace needs no undeclaration here: nothing is in
  // scope above the document's element.
  outer.erase(
      std::remove_if(outer.begin(), outer.end(), [](const OuterBinding& b) { return !*b.uri; }),
      outer.end());
  if (outer.empty()) return dumpNode(element, 0, out);
  DumpBuffer dump(out);
  auto putName = [&dump, element] {
    if (element->ns && element->ns->prefix) {
      dump.put(element->ns->prefix);
      dump.put(":", 1);
    }
    dump.put(element->name);
  };
  dump.put("<", 1);
  putName();
  for (xmlNsPtr ns = element->nsDef; ns; ns = ns->next)
    if (ns->href && !xmlStrEqual(ns->prefix, BAD_CAST "xml"))
      putDeclaration(dump, ns->prefix ? reinterpret_cast<const char*>(ns->prefix) : "", ns->href);
  for (const OuterBinding& b : outer) putDeclaration(dump, b.prefix, b.uri);
  // Attributes and content as libxml2 writes them in place.
  for (xmlAttrPtr a = element->properties; a; a = a->next)
    xmlNodeDumpOutput(dump.buffer, element->doc, reinterpret_cast<xmlNodePtr>(a), 0, 0, "UTF-8");
  if (!element->children && !xmlSaveNoEmptyTags) {
    dump.put("/>", 2);
  } else {
    dump.put(">", 1);
    for (xmlNodePtr c = element->children; c; c = c->next)
      xmlNodeDumpOutput(dump.buffer, element->doc, c, 0, 0, "UTF-8");
    dump.put("</", 2);
    putName();
    dump.put(">", 1);
  }
  return dump.close();
}
}  // namespace

void serializeNode(xmlNodePtr node, std::string& text, bool format) {
  text.clear();
  if (!node) return;
  MemFile mem;
  dumpNode(node, format ? 1 : 0, &mem);
  text.assign(reinterpret_cast<const char*>(mem.data()), static_cast<size_t>(mem.length()));
}

std::string XmlUniqueIds::make(const char* prefix) {
  struct timespec now = {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t ticks = static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
  return std::string(prefix ? prefix : "") + std::to_string(ticks >> 32) +
         std::to_string(ticks & 0xFFFFFFFFu) + "_" + std::to_string(counter++);
}

bool dsaXmlSignatureToDer(const uint8_t* value, uint32_t length, GenericFile* out) {
  if (!value || !out || length == 0 || (length & 1) != 0 || length > 0x7FFFFFF0u) return false;
  const int half = static_cast<int>(length / 2);
  DSASignature sig;
  if (sig.r.setBytes(value, half) < 1 || sig.s.setBytes(value + half, half) < 1) return false;
  std::vector<unsigned char> der;
  if (sig.encodeVector(der) < 1) return false;
  // The output holds the SEQUENCE and nothing of what it held before.
  if (MemFile* mem = dynamic_cast<MemFile*>(out))
    if (!mem->setSize(static_cast<int32_t>(der.size()))) return false;
  if ((out->seek(0) & 0xFFFF) == 0xFFFF) return false;
  return out->write(static_cast<uint32_t>(der.size()), der.data()) == 0;
}

namespace {
// Hands each piece of the node's text content to `take` in document order, until it answers
// false.
void walkTextContent(xmlNodePtr node, const std::function<bool(const char*)>& take) {
  auto owned = [&take](xmlChar* v) {
    if (!v) return true;
    bool more = take(reinterpret_cast<const char*>(v));
    xmlFree(v);
    return more;
  };
  if (!node) return;
  if (node->type != XML_ELEMENT_NODE && node->type != XML_DOCUMENT_FRAG_NODE) {
    owned(xmlNodeGetContent(node));
    return;
  }
  // Depth first without recursion; entity references are not entered (their content is read).
  xmlNodePtr cur = node->children;
  while (cur) {
    bool more = true;
    if (cur->type == XML_TEXT_NODE || cur->type == XML_CDATA_SECTION_NODE) {
      if (cur->content) more = take(reinterpret_cast<const char*>(cur->content));
    } else if (cur->type == XML_ENTITY_REF_NODE) {
      more = owned(xmlNodeGetContent(cur));
    }
    if (!more) return;
    if (cur->type == XML_ELEMENT_NODE && cur->children) {
      cur = cur->children;
      continue;
    }
    while (cur != node && !cur->next) cur = cur->parent;
    if (cur == node) break;
    cur = cur->next;
  }
}
}  // namespace

std::string nodeTextContent(xmlNodePtr node) {
  std::string text;
  walkTextContent(node, [&text](const char* piece) {
    text += piece;
    return true;
  });
  return text;
}

namespace {
// An XML media type (RFC 7303): application/xml, text/xml or a type whose
// subtype ends in "+xml", in any case, its parameters aside.
bool isXmlMediaType(const xmlChar* mime) {
  std::string type(reinterpret_cast<const char*>(mime));
  type = type.substr(0, type.find(';'));
  while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.pop_back();
  for (char& c : type) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  const size_t slash = type.find('/');
  if (slash == std::string::npos || slash == 0) return false;
  const std::string subtype = type.substr(slash + 1);
  return type == "application/xml" || type == "text/xml" ||
         (subtype.size() > 4 && subtype.compare(subtype.size() - 4, 4, "+xml") == 0);
}

// The one element an object holds with nothing beside it but white space text,
// else null (text, a second element, a comment, a PI, CDATA or an entity
// reference beside it make the content something other than that element).
xmlNodePtr loneElement(xmlNodePtr objectNode) {
  xmlNodePtr element = nullptr;
  for (xmlNodePtr n = objectNode->children; n; n = n->next) {
    if (n->type == XML_TEXT_NODE && xmlIsBlankNode(n)) continue;
    if (n->type != XML_ELEMENT_NODE || element) return nullptr;
    element = n;
  }
  return element;
}
}  // namespace

int32_t writeSignedObjectContent(xmlNodePtr objectNode, GenericFile* out) {
  checkInvariant(objectNode != nullptr, SRC_SIGNATURE, 1154, "idNode != NULL");
  xmlChar* encoding = xmlGetProp(objectNode, BAD_CAST "Encoding");
  xmlChar* mime = xmlGetProp(objectNode, BAD_CAST "MimeType");
  bool base64 = encoding && xmlc::ENCODING_BASE64 == reinterpret_cast<const char*>(encoding);
  bool textXml = mime && xmlStrEqual(mime, BAD_CAST "text/xml");
  // No type, or an XML one: an element it holds may be saved as markup.
  bool markupAllowed = !mime || !*mime || isXmlMediaType(mime);
  if (encoding) xmlFree(encoding);
  if (mime) xmlFree(mime);
  auto written = [](int32_t st) { return !((st & 0xFFFF) == 0xFFFF || st < 0); };
  auto put = [&out, &written](const void* data, size_t length) {
    if (length > 0xFFFFFFF0u) return false;
    return written(out->write(static_cast<uint32_t>(length), static_cast<const uint8_t*>(data)));
  };
  // An object of no type or another XML type whose content is one element is
  // that element's markup (enveloping signers write no MimeType): its text
  // alone would lose the structure the digest covered. Text and mixed content
  // stay text, and so does whatever an object declares of another type
  // (text/plain ...): the signer said what its content is.
  xmlNodePtr lone = base64 || textXml || !markupAllowed ? nullptr : loneElement(objectNode);
  if (textXml || lone) {
    // The element is serialised straight into the output: neither its text
    // nor its serialisation is held whole (a receipt may be large).
    bool hasText = false;
    walkTextContent(objectNode, [&hasText](const char* piece) {
      hasText = *piece != '\0';
      return !hasText;
    });
    if (!hasText) return xmlrc::EMPTY_TRANSFORM;
    xmlNodePtr child = lone ? lone : firstElement(objectNode->children);
    if (!child) return put("", 0) ? xmlrc::OK : xmlrc::WR_OUTFILE;
    return dumpElementAlone(child, out) ? xmlrc::OK : xmlrc::WR_OUTFILE;
  }
  std::string value = nodeTextContent(objectNode);
  if (value.empty()) return xmlrc::EMPTY_TRANSFORM;
  if (!base64) return put(value.data(), value.size()) ? xmlrc::OK : xmlrc::WR_OUTFILE;
  XmlB64MemoryTransform b64(true);
  b64.applyToMemory(reinterpret_cast<const uint8_t*>(value.data()),
                    static_cast<uint32_t>(value.size()));
  value = std::string();
  return put(b64.outputBytes(), b64.outputLength()) ? xmlrc::OK : xmlrc::WR_OUTFILE;
}

int32_t writeDocumentElement(xmlNodePtr document, xmlNodePtr leaveOut, GenericFile* out) {
  xmlNodePtr element = document ? xmlDocGetRootElement(reinterpret_cast<xmlDocPtr>(document)) : nullptr;
  if (!element || element == leaveOut) return xmlrc::EMPTY_TRANSFORM;
  // The left-out subtree is taken out of the tree while the element is
  // written straight to the output (no copy of a large receipt), and put back
  // where it was whatever happens.
  struct PutBack {
    xmlNodePtr node = nullptr, parent = nullptr, next = nullptr;
    ~PutBack() {
      if (!node) return;
      if (next)
        xmlAddPrevSibling(next, node);
      else
        xmlAddChild(parent, node);
    }
  } putBack;
  if (leaveOut && leaveOut->parent && leaveOut->doc == element->doc) {
    putBack.parent = leaveOut->parent;
    putBack.next = leaveOut->next;
    xmlUnlinkNode(leaveOut);
    putBack.node = leaveOut;
  }
  return dumpNode(element, 0, out) ? xmlrc::OK : xmlrc::WR_OUTFILE;
}

XmlNoExternalScope::XmlNoExternalScope() {
  installLoader();
  ++guardDepth;
}

XmlNoExternalScope::~XmlNoExternalScope() { --guardDepth; }
