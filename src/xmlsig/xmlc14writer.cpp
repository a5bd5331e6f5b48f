#include "xmlsig/xmlc14writer.h"

#include "xmlsig/xmlc14transform.h"
#include "xmlsig/xmlcodes.h"
#include "xmlsig/xmlconst.h"
#include "xmlsig/xmlwalk.h"

#include <libxml/uri.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>

namespace {

// What each kind of character data escapes: text (& < > CR), attribute values
// (& < " TAB LF CR), comments and processing instructions (CR).
enum Escape { ESC_TEXT, ESC_ATTR, ESC_CR };

struct EscapeTables {
  bool escapes[3][256] = {};
  EscapeTables() {
    for (unsigned char c : {'&', '<', '>', '\r'}) escapes[ESC_TEXT][c] = true;
    for (unsigned char c : {'&', '<', '"', '\t', '\n', '\r'}) escapes[ESC_ATTR][c] = true;
    escapes[ESC_CR][static_cast<unsigned char>('\r')] = true;
  }
};
const EscapeTables tables;

const char* replacement(xmlChar c, size_t& length) {
  const char* r = "";
  switch (c) {
    case '&':
      r = "&amp;";
      break;
    case '<':
      r = "&lt;";
      break;
    case '>':
      r = "&gt;";
      break;
    case '"':
      r = "&quot;";
      break;
    case '\t':
      r = "&#x9;";
      break;
    case '\n':
      r = "&#xA;";
      break;
    case '\r':
      r = "&#xD;";
      break;
    default:
      break;
  }
  length = std::strlen(r);
  return r;
}

// Gathers octets into a block and hands full blocks to the sink.
class Output {
 public:
  explicit Output(XmlOctetSink& sink) : sink(sink) {}
  void put(const char* s, size_t n) {
    if (n <= 16 && n <= sizeof(block) - used) {
      // Names and markup: shorter than a call to copy them.
      for (size_t i = 0; i < n; ++i) block[used + i] = static_cast<uint8_t>(s[i]);
      used += n;
      return;
    }
    if (n > sizeof(block) - used) {
      flush();
      if (n >= sizeof(block)) {
        sink.write(reinterpret_cast<const uint8_t*>(s), n);
        written += n;
        return;
      }
    }
    std::memcpy(block + used, s, n);
    used += n;
  }
  // Its length.
  size_t put(const xmlChar* s) {
    if (!s) return 0;
    size_t n = std::strlen(reinterpret_cast<const char*>(s));
    put(reinterpret_cast<const char*>(s), n);
    return n;
  }
  template <size_t N>
  void put(const char (&literal)[N]) {
    put(literal, N - 1);
  }
  // The number of octets read.
  size_t escaped(const xmlChar* s, Escape kind) {
    if (!s) return 0;
    const xmlChar* begin = s;
    const bool* escapes = tables.escapes[kind];
    const xmlChar* run = s;
    for (; *s; ++s) {
      if (!escapes[*s]) continue;
      put(reinterpret_cast<const char*>(run), static_cast<size_t>(s - run));
      size_t length = 0;
      const char* r = replacement(*s, length);
      put(r, length);
      run = s + 1;
    }
    put(reinterpret_cast<const char*>(run), static_cast<size_t>(s - run));
    read += static_cast<uint64_t>(s - begin);
    return static_cast<size_t>(s - begin);
  }
  // Octets escaped so far: texts and values are work by their length.
  uint64_t read = 0;
  void flush() {
    if (used == 0) return;
    sink.write(block, used);
    written += used;
    used = 0;
  }
  uint64_t count() const { return written + used; }

 private:
  XmlOctetSink& sink;
  uint8_t block[16384];
  size_t used = 0;
  uint64_t written = 0;
};

bool emptyText(const xmlChar* s) { return !s || !*s; }
// Prefixes as the canonicaliser's stack compares them: none and "" alike.
bool sameText(const xmlChar* a, const xmlChar* b) {
  return xmlStrEqual(a ? a : BAD_CAST "", b ? b : BAD_CAST "") != 0;
}
// Prefixes as namespace lookup compares them: none only matches none.
bool samePrefix(const xmlChar* a, const xmlChar* b) {
  return (!a && !b) || (a && b && xmlStrEqual(a, b));
}
bool isXmlNamespace(xmlNsPtr ns) {
  return ns && xmlStrEqual(ns->prefix, BAD_CAST "xml") && xmlStrEqual(ns->href, XML_XML_NAMESPACE);
}
bool isXmlPrefix(const xmlChar* prefix) { return xmlStrEqual(prefix, BAD_CAST "xml") != 0; }

// Namespaces in order of prefix, none first.
int compareNamespaces(xmlNsPtr a, xmlNsPtr b) {
  if (a == b) return 0;
  return xmlStrcmp(a->prefix, b->prefix);
}

// Attributes: no namespace first, then by namespace URI and local name.
int compareAttributes(xmlAttrPtr a, xmlAttrPtr b) {
  if (a == b) return 0;
  if (a->ns == b->ns) return xmlStrcmp(a->name, b->name);
  if (!a->ns) return -1;
  if (!b->ns) return 1;
  if (!a->ns->prefix) return -1;
  if (!b->ns->prefix) return 1;
  int c = xmlStrcmp(a->ns->href, b->ns->href);
  return c != 0 ? c : xmlStrcmp(a->name, b->name);
}

// Sorts as inserting one by one before the first item not below it does:
// equal items end up in reverse order of arrival.
template <typename T, typename Compare>
void sortAsInserted(std::vector<T>& items, Compare compare) {
  if (items.size() < 2) return;
  if (items.size() <= 16) {
    // Few items (the usual case): a stable insertion sort, no allocation.
    for (size_t i = 1; i < items.size(); ++i) {
      T x = items[i];
      size_t j = i;
      for (; j > 0 && compare(items[j - 1], x) > 0; --j) items[j] = items[j - 1];
      items[j] = x;
    }
  } else {
    std::stable_sort(items.begin(), items.end(), [&](T x, T y) { return compare(x, y) < 0; });
  }
  for (size_t i = 0; i < items.size();) {
    size_t j = i + 1;
    while (j < items.size() && compare(items[i], items[j]) == 0) ++j;
    std::reverse(items.begin() + static_cast<ptrdiff_t>(i),
                 items.begin() + static_cast<ptrdiff_t>(j));
    i = j;
  }
}

size_t lengthOf(const xmlChar* s) { return s ? std::strlen(reinterpret_cast<const char*>(s)) : 0; }

uint64_t saturatingMul(uint64_t a, uint64_t b) {
  return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b;
}
uint64_t saturatingAdd(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

std::string_view keyOf(const xmlChar* prefix) {
  return prefix ? std::string_view(reinterpret_cast<const char*>(prefix)) : std::string_view();
}

class Canonicaliser {
 public:
  Canonicaliser(const XmlElementSelection& selection, bool exclusive,
                const std::vector<std::string>& prefixes, bool withComments, XmlWorkBudget& budget,
                XmlOctetSink& sink)
      : sel(selection),
        exclusive(exclusive),
        prefixes(prefixes),
        withComments(withComments),
        budget(budget),
        out(sink) {}

  int32_t run();

 private:
  enum Position { BEFORE, INSIDE, AFTER };
  struct Frame {
    xmlNodePtr element;
    bool visible;
    bool endsDocumentElement;
    size_t nameLength;
    size_t curEnd, prevStart, prevEnd;
    uint64_t declarations;  // in scope of the element
  };

  bool open(xmlNodePtr e);
  void close();
  bool leaf(xmlNodePtr n);
  bool relativeNamespace(xmlNodePtr e);
  void inclusiveNamespaces(xmlNodePtr e, bool top);
  void exclusiveNamespaces(xmlNodePtr e);
  void attributes(xmlNodePtr e);
  void printNamespace(xmlNsPtr ns);
  void printAttribute(xmlAttrPtr a);
  bool find(xmlNsPtr ns, bool whole);
  void push(xmlNsPtr ns);
  void truncate(size_t entries);
  // Charges what was done (in batches: a charge may read the clock) and
  // checks the output cap; false to stop.
  bool within(bool now = false) {
    // The work net: past the document's account every node stops the walk.
    if (!workTick()) return false;
    // A text or value is read once and escaped: a unit per XML_ESCAPE_OCTETS_PER_UNIT octets.
    if (out.read - readCharged >= XML_ESCAPE_OCTETS_PER_UNIT) {
      units = saturatingAdd(units, (out.read - readCharged) / XML_ESCAPE_OCTETS_PER_UNIT);
      readCharged = out.read - (out.read - readCharged) % XML_ESCAPE_OCTETS_PER_UNIT;
    }
    if (now || units >= 256) {
      if (!budget.charge(units)) return false;
      units = 0;
    }
    if (out.count() <= 6 * size + (1u << 20)) return true;
    return fitsSelection();
  }
  bool fitsSelection();
  bool leftOut(xmlNodePtr e) const {
    return e == sel.hole || (sel.signatures && xmlwalk::isIn(e, xmlc::DS_SIGNATURE, xmlc::NS_DSIG));
  }
  bool parentVisible() const { return frames.empty() ? topVisible : frames.back().visible; }

  const XmlElementSelection& sel;
  bool exclusive;
  const std::vector<std::string>& prefixes;
  bool withComments;
  XmlWorkBudget& budget;
  Output out;
  bool topVisible = true;
  bool parentIsDoc = true;
  Position pos = BEFORE;
  std::vector<Frame> frames;
  // Exclusive canonicalisation's stack of rendered namespaces: the previous
  // visible element's entries are [prevStart, prevEnd), the current one's follow.
  std::vector<xmlNsPtr> rendered;
  size_t prevStart = 0, prevEnd = 0;
  // Where each prefix stands in that stack, nearest last, so a search costs
  // one lookup; it is charged as the walk down the stack it stands for.
  std::unordered_map<std::string_view, std::vector<size_t>> positions;
  std::vector<std::vector<size_t>*> owners;        // of each stack entry
  uint64_t outerDeclarations = 0, outerDepth = 0;  // of the apex's ancestors
  std::vector<xmlNsPtr> namespaces;
  std::vector<xmlAttrPtr> attrs;
  uint64_t units = 0;  // work not yet charged
  uint64_t readCharged = 0;  // octets escaped and charged
  uint64_t steps = 0;  // stack searches, charged by eights
  uint64_t size = 0;   // what the walk read, as the output cap counts it
  uint64_t selectionSize = 0;
  bool selectionMeasured = false;
};

// Exclusive canonicalisation renders a namespace again on every element that
// uses it, which may come before the text that makes up most of a document:
// past six times what was read, the cap is six times the whole selection (as
// libxml2's canonicaliser is held to), measured once when first needed.
bool Canonicaliser::fitsSelection() {
  if (!exclusive) return false;
  if (!selectionMeasured) {
    selectionSize = xmlProfileDocument(sel.doc, false, sel.apex).size;
    selectionMeasured = true;
  }
  return out.count() <= saturatingAdd(saturatingMul(selectionSize, 6), 1u << 20);
}

bool Canonicaliser::relativeNamespace(xmlNodePtr e) {
  for (xmlNsPtr ns = e->nsDef; ns; ns = ns->next) {
    if (emptyText(ns->href)) continue;
    xmlURIPtr uri = xmlParseURI(reinterpret_cast<const char*>(ns->href));
    if (!uri) return true;
    bool relative = emptyText(BAD_CAST uri->scheme);
    xmlFreeURI(uri);
    if (relative) return true;
  }
  return false;
}

void Canonicaliser::printNamespace(xmlNsPtr ns) {
  if (ns->prefix) {
    out.put(" xmlns:");
    out.put(ns->prefix);
    out.put("=");
  } else {
    out.put(" xmlns=");
  }
  const xmlChar* href = ns->href;
  if (!href) {
    out.put("\"\"");
  } else if (!xmlStrchr(href, '"')) {
    out.put("\"");
    out.put(href);
    out.put("\"");
  } else if (!xmlStrchr(href, '\'')) {
    out.put("'");
    out.put(href);
    out.put("'");
  } else {
    out.put("\"");
    for (const xmlChar* c = href; *c; ++c)
      if (*c == '"')
        out.put("&quot;");
      else
        out.put(reinterpret_cast<const char*>(c), 1);
    out.put("\"");
  }
}

void Canonicaliser::printAttribute(xmlAttrPtr a) {
  out.put(" ");
  if (a->ns && !emptyText(a->ns->prefix)) {
    size += 1 + out.put(a->ns->prefix);
    out.put(":");
  }
  size += 4 + out.put(a->name);
  out.put("=\"");
  xmlNodePtr v = a->children;
  if (v && !v->next && (v->type == XML_TEXT_NODE || v->type == XML_CDATA_SECTION_NODE)) {
    size += out.escaped(v->content, ESC_ATTR);
  } else if (v) {
    // Entity references and split text: joined as libxml2 joins them.
    if (xmlChar* value = xmlNodeListGetString(sel.doc, v, 1)) {
      size += out.escaped(value, ESC_ATTR);
      xmlFree(value);
    }
  }
  out.put("\"");
}

// Whether ns counts as rendered already: the nearest entry of its prefix
// carries its URI. Searched from the top of the stack down to the previous
// visible element's entries, or (whole, and always for the empty default
// namespace) to the bottom; a prefix never rendered counts as rendered only
// for the empty default namespace.
bool Canonicaliser::find(xmlNsPtr ns, bool whole) {
  const xmlChar* prefix = ns && ns->prefix ? ns->prefix : BAD_CAST "";
  const xmlChar* href = ns && ns->href ? ns->href : BAD_CAST "";
  bool emptyDefault = !*prefix && !*href;
  size_t start = whole || emptyDefault ? 0 : prevStart;
  auto it = positions.find(keyOf(prefix));
  if (it == positions.end() || it->second.empty() || it->second.back() < start) {
    steps += rendered.size() - std::min(start, rendered.size());
    return emptyDefault;
  }
  size_t i = it->second.back();
  steps += rendered.size() - i;
  return sameText(href, rendered[i]->href);
}

void Canonicaliser::push(xmlNsPtr ns) {
  std::vector<size_t>& at = positions[keyOf(ns->prefix ? ns->prefix : BAD_CAST "")];
  at.push_back(rendered.size());
  owners.push_back(&at);
  rendered.push_back(ns);
}

void Canonicaliser::truncate(size_t entries) {
  while (rendered.size() > entries) {
    owners.back()->pop_back();
    owners.pop_back();
    rendered.pop_back();
  }
}

void Canonicaliser::inclusiveNamespaces(xmlNodePtr e, bool top) {
  namespaces.clear();
  if (top) {
    // Everything in scope, the nearest declaration of each prefix; the empty
    // default namespace is rendered by no one.
    for (xmlNodePtr n = e; n && n->type == XML_ELEMENT_NODE; n = n->parent)
      for (xmlNsPtr ns = n->nsDef; ns; ns = ns->next) {
        if (!workTick()) return;  // the walk's next within() stops it
        if (!ns->href || isXmlPrefix(ns->prefix)) continue;
        bool nearer = false;
        for (xmlNsPtr seen : namespaces) {
          if (samePrefix(seen->prefix, ns->prefix)) nearer = true;
        }
        if (nearer) continue;
        namespaces.push_back(ns);
      }
    namespaces.erase(
        std::remove_if(namespaces.begin(), namespaces.end(),
                       [](xmlNsPtr ns) { return emptyText(ns->prefix) && emptyText(ns->href); }),
        namespaces.end());
  } else {
    // Below a rendered parent only this element's declarations can differ
    // from what is in scope there.
    for (xmlNsPtr ns = e->nsDef; ns; ns = ns->next) {
      if (!ns->href || isXmlPrefix(ns->prefix)) continue;
      bool repeated = false;
      for (xmlNsPtr d = e->nsDef; d != ns; d = d->next)
        if (samePrefix(d->prefix, ns->prefix)) repeated = true;
      if (repeated) continue;
      xmlNsPtr inScope = nullptr;
      for (xmlNodePtr n = e->parent; n && n->type == XML_ELEMENT_NODE && !inScope; n = n->parent) {
        if (!workTick()) return;  // the walk's next within() stops it
        for (xmlNsPtr d = n->nsDef; d; d = d->next) {
          if (d->href && !isXmlPrefix(d->prefix) && sameText(d->prefix, ns->prefix)) {
            inScope = d;
            break;
          }
        }
      }
      bool same = inScope ? sameText(inScope->href, ns->href)
                          : emptyText(ns->prefix) && emptyText(ns->href);
      if (!same) namespaces.push_back(ns);
    }
  }
  std::sort(namespaces.begin(), namespaces.end(),
            [](xmlNsPtr a, xmlNsPtr b) { return compareNamespaces(a, b) < 0; });
  for (xmlNsPtr ns : namespaces) printNamespace(ns);
}

void Canonicaliser::exclusiveNamespaces(xmlNodePtr e) {
  namespaces.clear();
  bool hasEmpty = false, usesEmpty = false, emptyInList = false;
  // The list was paid for before the walk.
  for (const std::string& p : prefixes) {
    const xmlChar* prefix = BAD_CAST p.c_str();
    if (p == "#default" || p.empty()) {
      prefix = nullptr;
      emptyInList = true;
    }
    // The xml prefix is bound to its namespace, which is never rendered.
    if (isXmlPrefix(prefix)) continue;
    xmlNsPtr ns = xmlSearchNs(sel.doc, e, prefix);
    if (!ns || isXmlNamespace(ns)) continue;
    bool already = find(ns, false);
    push(ns);
    if (!already) namespaces.push_back(ns);
    if (emptyText(ns->prefix)) hasEmpty = true;
  }
  xmlNsPtr ns = e->ns;
  if (!ns) {
    ns = xmlSearchNs(sel.doc, e, nullptr);
    usesEmpty = true;
  }
  if (ns && !isXmlNamespace(ns)) {
    if (!find(ns, true)) namespaces.push_back(ns);
    push(ns);
    if (emptyText(ns->prefix)) hasEmpty = true;
  }
  for (xmlAttrPtr a = e->properties; a; a = a->next) {
    if (a->ns && !isXmlNamespace(a->ns)) {
      bool already = find(a->ns, true);
      push(a->ns);
      if (!already) namespaces.push_back(a->ns);
      if (emptyText(a->ns->prefix)) hasEmpty = true;
    } else if (a->ns && emptyText(a->ns->prefix) && emptyText(a->ns->href)) {
      usesEmpty = true;
    }
  }
  xmlNs emptyDefault;
  std::memset(&emptyDefault, 0, sizeof(emptyDefault));
  if (usesEmpty && !hasEmpty && !emptyInList) {
    if (!find(&emptyDefault, true)) printNamespace(&emptyDefault);
  } else if (!hasEmpty && emptyInList) {
    if (!find(&emptyDefault, false)) printNamespace(&emptyDefault);
  }
  sortAsInserted(namespaces, compareNamespaces);
  for (xmlNsPtr n : namespaces) printNamespace(n);
}

void Canonicaliser::attributes(xmlNodePtr e) {
  attrs.clear();
  for (xmlAttrPtr a = e->properties; a; a = a->next) attrs.push_back(a);
  sortAsInserted(attrs, compareAttributes);
  // Canonical XML 1.0: an apex whose parent is left out takes the nearest
  // xml:* attributes of its ancestors that it does not carry itself.
  if (!exclusive && sel.apex && e == sel.apex) {
    for (xmlNodePtr n = e->parent; n && n->type == XML_ELEMENT_NODE; n = n->parent)
      for (xmlAttrPtr a = n->properties; a; a = a->next) {
        ++units;
        if (!a->ns || !isXmlNamespace(a->ns)) continue;
        bool present = false;
        size_t at = attrs.size();
        for (size_t i = 0; i < attrs.size(); ++i) {
          int c = compareAttributes(attrs[i], a);
          if (c == 0) present = true;
          if (c >= 0 && at == attrs.size()) at = i;
        }
        if (!present) attrs.insert(attrs.begin() + static_cast<ptrdiff_t>(at), a);
      }
  }
  for (xmlAttrPtr a : attrs) printAttribute(a);
}

bool Canonicaliser::open(xmlNodePtr e) {
  const size_t nameLength = lengthOf(e->name);
  // The prefix too: written in both tags, as long as the name may be.
  size += 8 + 2 * nameLength + (e->ns && e->ns->prefix ? 2 * (lengthOf(e->ns->prefix) + 1) : 0);
  uint64_t declarations = frames.empty() ? outerDeclarations : frames.back().declarations;
  uint64_t attributeCount = 0;
  for (xmlNsPtr ns = e->nsDef; ns; ns = ns->next) {
    size += 12 + lengthOf(ns->prefix) + lengthOf(ns->href);
    ++declarations;
  }
  for (xmlAttrPtr a = e->properties; a; a = a->next) ++attributeCount;
  // Paid before the element's work, at the rate of canonical XML's plain
  // implementation (the one libxml2 has): per element a search of the
  // declarations in scope for each of them, a look at each declaration and
  // attribute, sorted inserts of the attributes. A verdict then depends on the
  // document only, never on which canonicaliser serves it.
  uint64_t depth = outerDepth + frames.size() + 1;
  units = saturatingAdd(units, 2 + depth + declarations + attributeCount);
  units = saturatingAdd(units, saturatingMul(declarations, declarations + depth));
  units = saturatingAdd(units, saturatingMul(attributeCount, attributeCount));
  if (!within()) return false;
  // Canonical XML refuses relative namespace URIs, in what it leaves out too.
  if (relativeNamespace(e)) return false;
  bool visible = parentVisible() && !leftOut(e);
  bool top = visible && (frames.empty() || !frames.back().visible);
  Frame f{e, visible, false, nameLength, rendered.size(), prevStart, prevEnd, declarations};
  if (visible) {
    if (parentIsDoc) {
      f.endsDocumentElement = true;
      parentIsDoc = false;
      pos = INSIDE;
    }
    out.put("<");
    if (e->ns && !emptyText(e->ns->prefix)) {
      out.put(e->ns->prefix);
      out.put(":");
    }
    out.put(reinterpret_cast<const char*>(e->name), nameLength);
    if (exclusive)
      exclusiveNamespaces(e);
    else
      inclusiveNamespaces(e, top);
    prevStart = prevEnd;
    prevEnd = rendered.size();
    attributes(e);
    out.put(">");
  }
  frames.push_back(f);
  units += steps >> 3;
  steps &= 7;
  return within();
}

void Canonicaliser::close() {
  const Frame f = frames.back();
  frames.pop_back();
  if (f.visible) {
    out.put("</");
    if (f.element->ns && !emptyText(f.element->ns->prefix)) {
      out.put(f.element->ns->prefix);
      out.put(":");
    }
    out.put(reinterpret_cast<const char*>(f.element->name), f.nameLength);
    out.put(">");
    if (f.endsDocumentElement) {
      parentIsDoc = true;
      pos = AFTER;
    }
  }
  truncate(f.curEnd);
  prevStart = f.prevStart;
  prevEnd = f.prevEnd;
}

bool Canonicaliser::leaf(xmlNodePtr n) {
  ++units;
  size += 8;
  bool visible = parentVisible();
  switch (n->type) {
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
      size += visible ? out.escaped(n->content, ESC_TEXT) : lengthOf(n->content);
      break;
    case XML_PI_NODE:
      size += lengthOf(n->content) + lengthOf(n->name);
      if (!visible) break;
      if (pos == AFTER)
        out.put("\n<?");
      else
        out.put("<?");
      out.put(n->name);
      if (!emptyText(n->content)) {
        out.put(" ");
        out.escaped(n->content, ESC_CR);
      }
      if (pos == BEFORE)
        out.put("?>\n");
      else
        out.put("?>");
      break;
    case XML_COMMENT_NODE:
      size += lengthOf(n->content);
      if (!visible || !withComments) break;
      if (pos == AFTER)
        out.put("\n<!--");
      else
        out.put("<!--");
      out.escaped(n->content, ESC_CR);
      if (pos == BEFORE)
        out.put("-->\n");
      else
        out.put("-->");
      break;
    case XML_DOCUMENT_TYPE_NODE:
    case XML_NOTATION_NODE:
    case XML_DTD_NODE:
    case XML_ELEMENT_DECL:
    case XML_ATTRIBUTE_DECL:
    case XML_ENTITY_DECL:
    case XML_XINCLUDE_START:
    case XML_XINCLUDE_END:
      break;  // outside what canonical XML renders
    default:
      return false;  // entity references and nodes that never stand here
  }
  return within();
}

int32_t Canonicaliser::run() {
  if (!sel.doc) return xmlrc::TRANSFORM_FAILED;
  if (sel.apex) {
    // The apex inside the hole: nothing is visible, but everything is walked.
    for (xmlNodePtr n = sel.apex; n && n->type == XML_ELEMENT_NODE; n = n->parent)
      if (leftOut(n)) topVisible = false;
    // Declarations and xml:* attributes of the ancestors may be rendered on the apex.
    for (xmlNodePtr n = sel.apex->parent; n && n->type == XML_ELEMENT_NODE; n = n->parent) {
      ++outerDepth;
      for (xmlNsPtr ns = n->nsDef; ns; ns = ns->next) {
        ++outerDeclarations;
        size += 12 + lengthOf(ns->prefix) + lengthOf(ns->href);
      }
    }
  }
  // Each prefix of an inclusive list is looked up in scope at every element:
  // paid for at once, so a long list over a large document is refused before
  // the work rather than during it.
  if (exclusive && !prefixes.empty()) {
    XmlDocumentProfile profile = xmlProfileDocument(sel.doc, true, sel.apex);
    if (!budget.charge(saturatingMul(profile.scopeWork, prefixes.size()), true))
      return xmlrc::TRANSFORM_FAILED;
  }
  xmlNodePtr n = sel.apex ? sel.apex : sel.doc->children;
  xmlNodePtr end = sel.apex;  // the walk stops after it (null: the document's last child)
  while (n) {
    if (n->type == XML_ELEMENT_NODE) {
      if (!open(n)) return xmlrc::TRANSFORM_FAILED;
      if (n->children) {
        n = n->children;
        continue;
      }
      close();
    } else if (!leaf(n)) {
      return xmlrc::TRANSFORM_FAILED;
    }
    // Up past every last child, closing its parent.
    for (;;) {
      if (n == end) {
        n = nullptr;
        break;
      }
      if (n->next) {
        n = n->next;
        break;
      }
      n = n->parent;
      if (!n || n->type != XML_ELEMENT_NODE || frames.empty()) {
        n = nullptr;
        break;
      }
      close();
    }
  }
  out.flush();
  units += (steps + 7) >> 3;
  return within(true) ? 0 : xmlrc::TRANSFORM_FAILED;
}

}  // namespace

int32_t xmlCanonicaliseElements(const XmlElementSelection& selection, bool exclusive,
                                const std::vector<std::string>& prefixes, bool withComments,
                                XmlWorkBudget& budget, XmlOctetSink& sink) {
  Canonicaliser c(selection, exclusive, prefixes, withComments, budget, sink);
  return c.run();
}
