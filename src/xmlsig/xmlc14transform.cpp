#include "xmlsig/xmlc14transform.h"

#include "base/commonerror.h"
#include "xmlsig/xmlc14writer.h"
#include "base/talexception.h"
#include "xmlsig/xmlconst.h"
#include "xmlsig/xmlmemcharge.h"
#include "xmlsig/xmlmisc.h"

#include <libxml/c14n.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace {
const char* const SRC = "XML/libxmlsignature/xmlc14transform";

// Copies of the prefixes as the null-terminated array that libxml2 wants.
class PrefixArray {
 public:
  PrefixArray(bool exclusive, const std::vector<std::string>& prefixes) {
    if (!exclusive || prefixes.empty()) return;
    for (const std::string& p : prefixes) items.push_back(xmlStrdup(BAD_CAST p.c_str()));
    items.push_back(nullptr);
  }
  ~PrefixArray() {
    for (xmlChar* p : items)
      if (p) xmlFree(p);
  }
  xmlChar** get() { return items.empty() ? nullptr : items.data(); }

 private:
  std::vector<xmlChar*> items;
};

bool inSubtree(xmlNodePtr node, xmlNodePtr start) {
  for (; node; node = node->parent)
    if (node == start) return true;
  return false;
}

uint64_t saturatingMul(uint64_t a, uint64_t b) {
  return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b;
}
uint64_t saturatingAdd(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

ptrdiff_t orderOf(xmlNodePtr element) { return -reinterpret_cast<ptrdiff_t>(element->content); }

void closeBuffer(xmlOutputBufferPtr& buffer) {
  if (buffer) {
    xmlOutputBufferClose(buffer);
    buffer = nullptr;
  }
}

// One canonicalisation: the rule, the budget it spends and the cap on its output.
struct C14nRun {
  XmlNodeFilter* rule;
  XmlWorkBudget* budget;
  xmlOutputBufferPtr buffer;
  size_t outputCap;
  const XmlMemoryScope* memory;
  // The stand-in for the apex the walk starts at (see ApexWalk), and the apex.
  xmlNodePtr standIn = nullptr;
  xmlNodePtr apex = nullptr;
  bool stopped = false;
};

// libxml2 walks from a document's first child to its last, asking about every
// node. To walk one subtree only, without writing to the shared tree, the
// walk gets a copy of the document whose only child is a copy of the apex
// element without siblings; both copies share everything else (children,
// attributes, namespaces, parents) with the real tree, and the rule is asked
// about the real apex in place of the copy.
struct ApexWalk {
  ApexWalk(xmlDocPtr real, xmlNodePtr apex) : doc(*real), element(*apex) {
    element.prev = element.next = nullptr;
    doc.children = doc.last = &element;
  }
  ApexWalk(const ApexWalk&) = delete;
  ApexWalk& operator=(const ApexWalk&) = delete;
  xmlDoc doc;
  xmlNode element;
};

// Called from libxml2's C frames: nothing may unwind through them.
int budgetedVisible(void* user, xmlNodePtr node, xmlNodePtr parent) noexcept {
  C14nRun* run = static_cast<C14nRun*>(user);
  if (run->stopped) return 0;
  if (!node || xmlOutsideDataModel(node)) return 0;
  if (node == run->standIn) node = run->apex;
  if (parent == run->standIn) parent = run->apex;
  if (!run->budget->charge(1) || run->memory->over() ||
      static_cast<size_t>(xmlOutputBufferGetSize(run->buffer)) > run->outputCap) {
    run->stopped = true;
    return 0;
  }
  int v = 0;
  try {
    v = run->rule->visible(node, parent);
  } catch (...) {
    run->stopped = true;
    return 0;
  }
  if (run->rule->failure() != 0) {
    run->stopped = true;
    return 0;
  }
  return v;
}

// The processor-time net's stop: libxml2's canonicaliser fails at its next
// element once no block is given to it.
void stopCanonicaliser(void* memory) noexcept {
  static_cast<XmlMemoryScope*>(memory)->refuseEveryBlock();
}

// Counts what passes to the sink.
class CountingSink : public XmlOctetSink {
 public:
  explicit CountingSink(XmlOctetSink& to) : to(to) {}
  void write(const uint8_t* bytes, size_t length) override {
    count += length;
    to.write(bytes, length);
  }
  uint64_t count = 0;

 private:
  XmlOctetSink& to;
};

// The selection of whole elements the rule stands for, within doc, when it is one.
bool elementSelection(XmlNodeFilter& rule, xmlDocPtr doc, XmlElementSelection& selection) {
  xmlNodePtr apex = nullptr, hole = nullptr;
  if (!rule.wholeElements(apex, hole)) return false;
  if (apex && apex->type != XML_ELEMENT_NODE) {
    // A document node: the whole of that document.
    if (apex != reinterpret_cast<xmlNodePtr>(doc)) return false;
    apex = nullptr;
  }
  if (apex && apex->doc != doc) return false;
  if (hole && hole->type != XML_ELEMENT_NODE) return false;
  if (hole && hole->doc != doc) hole = nullptr;  // leaves nothing of doc out
  selection.doc = doc;
  selection.apex = apex;
  selection.hole = hole;
  selection.signatures = rule.signaturesLeftOut();
  return true;
}

// Canonicalises the nodes the rule selects into output, or into sink when one
// is given. An empty output is refused when emptyFails (a subtree always has
// octets). Selections of whole elements take our canonicaliser, unless
// throughLibxml; every other rule is asked by libxml2's.
void runC14N(xmlDocPtr doc, XmlNodeFilter& rule, XmlWorkBudget* budget, bool exclusive,
             const std::vector<std::string>& prefixes, bool withComments, bool emptyFails,
             XmlC14Output& output, XmlOctetSink* sink, bool throughLibxml) {
  output.clear();
  if (!doc) throw TalApiException(xmlrc::TRANSFORM_FAILED);
  XmlWorkBudget own;
  XmlWorkBudget* spend = budget ? budget : rule.workBudget() ? rule.workBudget() : &own;
  XmlElementSelection selection;
  if (!throughLibxml && elementSelection(rule, doc, selection)) {
    XmlStringSink keep(output.text);
    CountingSink counted(sink ? *sink : keep);
    int32_t rc =
        xmlCanonicaliseElements(selection, exclusive, prefixes, withComments, *spend, counted);
    if (rc == 0 && rule.failure() != 0) rc = rule.failure();
    if (rc == 0 && emptyFails && counted.count == 0) rc = xmlrc::TRANSFORM_FAILED;
    if (rc != 0) {
      output.clear();
      throw TalApiException(rc);
    }
    return;
  }
  xmlOutputBufferPtr& buffer = output.buffer;
  // The output and libxml2's working memory, against what the document's tree
  // left of its allowance.
  XmlMemoryScope memory(xmlDocumentMemoryLeft(doc));
  // libxml2 does its per-element work on every element even after a rule has
  // stopped showing nodes, so that work is paid for before it starts.
  xmlNodePtr apex = rule.apex();
  if (apex && (apex->type != XML_ELEMENT_NODE || apex->doc != doc)) apex = nullptr;
  XmlDocumentProfile profile = xmlProfileDocument(doc, exclusive, apex);
  uint64_t prefixWork = exclusive ? saturatingMul(profile.scopeWork, prefixes.size()) : 0;
  if (!spend->charge(profile.elementWork, true) || !spend->charge(prefixWork, true) ||
      !spend->charge(profile.exclusiveWork / 8, true))  // a step is a compare of two prefixes
    throw TalApiException(xmlrc::TRANSFORM_FAILED);
  buffer = xmlAllocOutputBuffer(nullptr);
  if (!buffer) throw TalApiException(xmlrc::MEM);
  // Escaping multiplies an octet by at most six (" in an attribute value to
  // &quot;), so no legitimate output exceeds this; the cap is checked at every
  // node and once more at the end, so it overshoots by one node's text at most.
  size_t outputCap = saturatingAdd(saturatingMul(profile.size, 6), 1u << 20);
  C14nRun run{&rule, spend, buffer, outputCap, &memory};
  std::unique_ptr<ApexWalk> walk;
  if (apex) {
    walk.reset(new ApexWalk(doc, apex));
    run.standIn = &walk->element;
    run.apex = apex;
  }
  PrefixArray array(exclusive, prefixes);
  XmlQuietErrors quiet;
  int rc;
  {
    XmlLibxmlWork work(*spend, stopCanonicaliser, &memory);
    rc = xmlC14NExecute(walk ? &walk->doc : doc, budgetedVisible, &run,
                        exclusive ? XML_C14N_EXCLUSIVE_1_0 : XML_C14N_1_0, array.get(),
                        withComments ? 1 : 0, buffer);
  }
  int32_t failure = rule.failure();
  size_t written = static_cast<size_t>(xmlOutputBufferGetSize(buffer));
  if (rc < 0 || run.stopped || failure != 0 || written > outputCap || memory.over() ||
      spend->netPassed() || (emptyFails && written == 0)) {
    output.clear();
    if (spend->netPassed()) throw TalApiException(xmlrc::TRANSFORM_FAILED);
    if (memory.over()) throw TalApiException(xmlrc::INV_MSG);
    throw TalApiException(failure != 0 ? failure : xmlrc::TRANSFORM_FAILED);
  }
  if (sink) {
    sink->write(output.bytes(), output.length());
    output.clear();
  }
}

// An explicit node set: namespace nodes are copies that name their element in
// `next`, so they are known by element and prefix.
class NodeSetFilter : public XmlNodeFilter {
 public:
  explicit NodeSetFilter(xmlNodeSetPtr set) {
    for (int i = 0; i < set->nodeNr; ++i) {
      xmlNodePtr n = set->nodeTab[i];
      if (!n) continue;
      if (n->type == XML_NAMESPACE_DECL) {
        xmlNsPtr ns = reinterpret_cast<xmlNsPtr>(n);
        namespaces.emplace(reinterpret_cast<xmlNodePtr>(ns->next), prefixOf(ns));
      } else {
        nodes.insert(n);
      }
    }
  }
  int visible(xmlNodePtr node, xmlNodePtr parent) override {
    if (!node) return 0;
    if (node->type != XML_NAMESPACE_DECL) return nodes.count(node) ? 1 : 0;
    // The canonicaliser names an attribute as the parent of an attribute's namespace.
    if (parent && parent->type == XML_ATTRIBUTE_NODE) parent = parent->parent;
    return namespaces.count({parent, prefixOf(reinterpret_cast<xmlNsPtr>(node))}) ? 1 : 0;
  }

 private:
  static std::string prefixOf(xmlNsPtr ns) {
    return ns->prefix ? reinterpret_cast<const char*>(ns->prefix) : "";
  }
  std::unordered_set<xmlNodePtr> nodes;
  std::set<std::pair<xmlNodePtr, std::string>> namespaces;
};

// Everything: a detached document is canonicalised whole, with a budget.
class WholeDocument : public XmlNodeFilter {
 public:
  int visible(xmlNodePtr, xmlNodePtr) override { return 1; }
  bool wholeElements(xmlNodePtr& apex, xmlNodePtr& hole) const override {
    apex = hole = nullptr;
    return true;
  }
};

xmlNodePtr lastElementInSubtree(xmlNodePtr top) {
  xmlNodePtr last = top;
  for (;;) {
    xmlNodePtr child = nullptr;
    for (xmlNodePtr c = last->last; c; c = c->prev)
      if (c->type == XML_ELEMENT_NODE) {
        child = c;
        break;
      }
    if (!child) break;
    last = child;
  }
  return last;
}
}  // namespace

namespace {
// A model of exclusive canonicalisation's stack of rendered namespaces: where
// each prefix was last pushed, and what each open element pushed.
class RenderedStack {
 public:
  // Looks up and pushes one entry; the cost of the lookup.
  uint64_t push(const xmlChar* prefix) {
    std::string_view p(prefix ? reinterpret_cast<const char*>(prefix) : "");
    std::vector<uint64_t>& at = last[p];
    uint64_t cost = size - (at.empty() ? 0 : at.back()) + 1;
    at.push_back(++size);
    if (!levels.empty()) pushed.push_back(&at);
    return cost;
  }
  // One flat list of what the open elements pushed (no allocation per element).
  void open() { levels.push_back(pushed.size()); }
  void close() {
    if (levels.empty()) return;
    for (size_t i = levels.back(); i < pushed.size(); ++i) {
      pushed[i]->pop_back();
      --size;
    }
    pushed.resize(levels.back());
    levels.pop_back();
  }

 private:
  uint64_t size = 0;
  // Elements of an unordered_map stay where they are as it grows.
  std::unordered_map<std::string_view, std::vector<uint64_t>> last;
  std::vector<std::vector<uint64_t>*> pushed;
  std::vector<size_t> levels;
};

bool isXmlNamespace(xmlNsPtr ns) { return ns && xmlStrEqual(ns->href, XML_XML_NAMESPACE); }

// A name as written, with its prefix: a prefix may be as long as the name.
size_t qualifiedLength(xmlNsPtr ns, const xmlChar* name) {
  size_t length = static_cast<size_t>(xmlStrlen(name));
  if (ns && ns->prefix) length += 1 + static_cast<size_t>(xmlStrlen(ns->prefix));
  return length;
}
}  // namespace

XmlDocumentProfile xmlProfileDocument(xmlDocPtr doc, bool exclusive, xmlNodePtr apex) {
  XmlDocumentProfile profile;
  if (!doc) return profile;
  std::vector<uint64_t> scope;  // declarations in scope of each open element
  std::vector<uint64_t> longest;  // and the longest prefix among them
  RenderedStack rendered;
  xmlNodePtr end = reinterpret_cast<xmlNodePtr>(doc);
  xmlNodePtr n = doc->children;
  if (apex) {
    // Only the apex's subtree is walked, but its ancestors' declarations are
    // searched at every element, and their declarations and xml: attributes
    // may be rendered on the apex.
    std::vector<xmlNodePtr> ancestors;
    for (xmlNodePtr a = apex->parent; a && a->type == XML_ELEMENT_NODE; a = a->parent)
      ancestors.push_back(a);
    for (auto it = ancestors.rbegin(); it != ancestors.rend(); ++it) {
      uint64_t declarations = scope.empty() ? 0 : scope.back();
      uint64_t prefix = longest.empty() ? 0 : longest.back();
      for (xmlNsPtr d = (*it)->nsDef; d; d = d->next) {
        ++declarations;
        prefix = std::max<uint64_t>(prefix, static_cast<uint64_t>(xmlStrlen(d->prefix)));
        profile.size += 12 + static_cast<size_t>(xmlStrlen(d->prefix) + xmlStrlen(d->href));
      }
      for (xmlAttrPtr a = (*it)->properties; a; a = a->next) {
        profile.size += 4 + qualifiedLength(a->ns, a->name);
        for (xmlNodePtr v = a->children; v; v = v->next)
          profile.size += static_cast<size_t>(xmlStrlen(v->content));
      }
      scope.push_back(declarations);
      longest.push_back(prefix);
    }
    n = apex;
    end = apex;
  }
  const size_t outside = scope.size();
  for (; n;) {
    profile.size += 8;
    if (n->type == XML_ELEMENT_NODE) {
      uint64_t declarations = scope.empty() ? 0 : scope.back(), attributes = 0;
      uint64_t prefix = longest.empty() ? 0 : longest.back();
      uint64_t depth = scope.size() + 1;
      profile.size += 2 * qualifiedLength(n->ns, n->name);
      for (xmlNsPtr d = n->nsDef; d; d = d->next) {
        ++declarations;
        prefix = std::max<uint64_t>(prefix, static_cast<uint64_t>(xmlStrlen(d->prefix)));
        profile.size += 12 + static_cast<size_t>(xmlStrlen(d->prefix) + xmlStrlen(d->href));
      }
      // Every search and sorted insert compares prefixes, each up to the
      // longest in scope (prefixes may share all but their last octet): a
      // compare costs a step, and a step more per eight octets.
      const uint64_t perCompare = 1 + prefix / 8;
      for (xmlAttrPtr a = n->properties; a; a = a->next) {
        ++attributes;
        profile.size += 4 + qualifiedLength(a->ns, a->name);
        for (xmlNodePtr v = a->children; v; v = v->next)
          profile.size += static_cast<size_t>(xmlStrlen(v->content));
      }
      profile.elementWork = saturatingAdd(
          profile.elementWork,
          1 + depth +
              saturatingMul(saturatingMul(declarations, declarations + depth), perCompare) +
              saturatingMul(attributes, attributes));
      profile.scopeWork =
          saturatingAdd(profile.scopeWork, saturatingMul(declarations + depth, perCompare));
      if (exclusive) {
        rendered.open();
        uint64_t lookups = n->ns && !isXmlNamespace(n->ns) ? rendered.push(n->ns->prefix) : 0;
        for (xmlAttrPtr a = n->properties; a; a = a->next)
          if (a->ns && !isXmlNamespace(a->ns)) lookups += rendered.push(a->ns->prefix);
        profile.exclusiveWork =
            saturatingAdd(profile.exclusiveWork, saturatingMul(lookups, perCompare));
      }
      if (n->children) {
        scope.push_back(declarations);
        longest.push_back(prefix);
        n = n->children;
        continue;
      }
      if (exclusive) rendered.close();
    } else if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE ||
               n->type == XML_COMMENT_NODE || n->type == XML_PI_NODE) {
      profile.size += static_cast<size_t>(xmlStrlen(n->content));
      if (n->type == XML_PI_NODE) profile.size += static_cast<size_t>(xmlStrlen(n->name));
    }
    if (n == end) break;
    while (n && !n->next) {
      n = n->parent;
      if (n == reinterpret_cast<xmlNodePtr>(doc)) n = nullptr;
      if (n && n->type == XML_ELEMENT_NODE && scope.size() > outside) {
        scope.pop_back();
        longest.pop_back();
        if (exclusive) rendered.close();
      }
      if (n == end) n = nullptr;
    }
    if (n) n = n->next;
  }
  return profile;
}

void xmlStampDocumentOrder(xmlDocPtr doc) {
  if (!doc) return;
  ptrdiff_t count = 0;
  for (xmlNodePtr n = doc->children; n;) {
    bool element = n->type == XML_ELEMENT_NODE;
    if (element) n->content = reinterpret_cast<xmlChar*>(-(++count));
    n = xmlNextInDocument(n, doc, element);
  }
}

void XmlC14Output::clear() {
  closeBuffer(buffer);
  text.clear();
}
const uint8_t* XmlC14Output::bytes() const {
  return buffer ? reinterpret_cast<const uint8_t*>(xmlOutputBufferGetContent(buffer))
                : reinterpret_cast<const uint8_t*>(text.data());
}
uint32_t XmlC14Output::length() const {
  return static_cast<uint32_t>(buffer ? xmlOutputBufferGetSize(buffer) : text.size());
}

bool XmlSubtree::contains(xmlNodePtr node, xmlNodePtr parent) {
  if (!node || !top) return false;
  if (node->type == XML_NAMESPACE_DECL) node = parent;
  if (node && node->type == XML_ATTRIBUTE_NODE) node = node->parent;
  if (!node || node->doc != top->doc) return false;
  if (top->type == XML_DOCUMENT_NODE || top->type == XML_HTML_DOCUMENT_NODE)
    return node->doc == reinterpret_cast<xmlDocPtr>(top);
  // A text, comment or processing instruction belongs where its element does.
  while (node->type != XML_ELEMENT_NODE) {
    if (node == top) return true;
    node = node->parent;
    if (!node) return false;
  }
  if (!ready) {
    ready = true;
    first = orderOf(top);
    last = orderOf(lastElementInSubtree(top));
    byOrder = top->type == XML_ELEMENT_NODE && first > 0 && last >= first;
  }
  ptrdiff_t order = orderOf(node);
  if (byOrder && order > 0) return first <= order && order <= last;
  return inSubtree(node, top);
}

int XmlSubtreeFilter::visible(xmlNodePtr node, xmlNodePtr parent) {
  return subtree.contains(node, parent) != inverted ? 1 : 0;
}

bool XmlSubtreeFilter::wholeElements(xmlNodePtr& apex, xmlNodePtr& hole) const {
  xmlNodePtr top = subtree.node();
  if (!top) return false;
  if (inverted) {
    if (top->type != XML_ELEMENT_NODE) return false;
    apex = nullptr;
    hole = top;
    return true;
  }
  if (top->type != XML_ELEMENT_NODE && top->type != XML_DOCUMENT_NODE) return false;
  apex = top;
  hole = nullptr;
  return true;
}

XmlNodeTrees::XmlNodeTrees(xmlNodeSetPtr set) : XmlTransform(7, XML_DATA_NODESET, XML_DATA_OWN) {
  std::vector<std::pair<std::pair<ptrdiff_t, ptrdiff_t>, xmlNodePtr>> found;
  for (int i = 0; set && i < set->nodeNr; ++i) {
    xmlNodePtr n = set->nodeTab[i];
    if (!n) continue;
    if (n->type == XML_DOCUMENT_NODE || n->type == XML_HTML_DOCUMENT_NODE) {
      everything = true;
    } else if (n->type == XML_NAMESPACE_DECL) {
      // XPath's copy names its element in `next`.
      xmlNsPtr ns = reinterpret_cast<xmlNsPtr>(n);
      namespaces.emplace(reinterpret_cast<xmlNodePtr>(ns->next),
                         ns->prefix ? reinterpret_cast<const char*>(ns->prefix) : "");
    } else if (n->type == XML_ELEMENT_NODE) {
      elements.insert(n);
      ptrdiff_t first = orderOf(n), last = orderOf(lastElementInSubtree(n));
      if (first <= 0 || last < first) byOrder = false;
      found.push_back({{first, last}, n});
    } else {
      others.insert(n);
    }
  }
  if (!byOrder) return;
  elements.clear();
  // Subtrees are nested or disjoint: sorted by start, one inside an earlier
  // one adds nothing.
  std::sort(found.begin(), found.end());
  for (const auto& f : found)
    if (ranges.empty() || f.first.first > ranges.back().second) {
      ranges.push_back(f.first);
      tops.push_back(f.second);
    }
}

bool XmlNodeTrees::inTrees(xmlNodePtr element) const {
  if (!element || element->type != XML_ELEMENT_NODE) return false;
  if (!byOrder) {
    int depth = 0;
    for (xmlNodePtr n = element;
         n && n->type == XML_ELEMENT_NODE && depth <= XML_MAX_TREE_DEPTH * 2;
         n = n->parent, ++depth)
      if (elements.count(n)) return true;
    return false;
  }
  ptrdiff_t order = orderOf(element);
  if (order <= 0) {
    // Added after the stamps: placed by its nearest stamped ancestor.
    int depth = 0;
    xmlNodePtr n = element->parent;
    for (; n && n->type == XML_ELEMENT_NODE && orderOf(n) <= 0 && depth <= XML_MAX_TREE_DEPTH * 2;
         n = n->parent, ++depth) {
    }
    if (!n || n->type != XML_ELEMENT_NODE || orderOf(n) <= 0) return false;
    order = orderOf(n);
  }
  auto after = std::upper_bound(ranges.begin(), ranges.end(), std::make_pair(order, PTRDIFF_MAX));
  return after != ranges.begin() && order <= std::prev(after)->second;
}

int XmlNodeTrees::visible(xmlNodePtr node, xmlNodePtr parent) {
  if (!node) return 0;
  if (everything) return 1;
  if (node->type == XML_NAMESPACE_DECL) {
    // The canonicaliser names an attribute as the parent of an attribute's namespace.
    if (parent && parent->type == XML_ATTRIBUTE_NODE) parent = parent->parent;
    xmlNsPtr ns = reinterpret_cast<xmlNsPtr>(node);
    if (namespaces.count({parent, ns->prefix ? reinterpret_cast<const char*>(ns->prefix) : ""}))
      return 1;
    return inTrees(parent) ? 1 : 0;
  }
  if (node->type == XML_ELEMENT_NODE) return inTrees(node) ? 1 : 0;
  if (others.count(node)) return 1;
  return inTrees(node->parent) ? 1 : 0;
}

xmlNodePtr XmlNodeTrees::apex() const {
  if (everything || !others.empty() || !namespaces.empty()) return nullptr;
  if (byOrder) return tops.size() == 1 ? tops[0] : nullptr;
  return elements.size() == 1 ? *elements.begin() : nullptr;
}

bool XmlNodeTrees::wholeElements(xmlNodePtr& apex, xmlNodePtr& hole) const {
  hole = nullptr;
  if (everything) {
    apex = nullptr;
    return true;
  }
  apex = this->apex();
  return apex != nullptr;
}

XmlC14DocTransform::XmlC14DocTransform(bool withComments, uint8_t selection, bool exclusive,
                                       const std::vector<std::string>& prefixes)
    : XmlTransform(withComments ? 2 : 1, XML_DATA_OCTETS, XML_DATA_NODE),
      prefixes(prefixes),
      withComments(withComments ? 1 : 0),
      selection(selection),
      exclusive(exclusive ? 1 : 0) {}

XmlC14DocTransform::~XmlC14DocTransform() = default;
const uint8_t* XmlC14DocTransform::outputBytes() { return output.bytes(); }
uint32_t XmlC14DocTransform::outputLength() { return output.length(); }

void XmlC14DocTransform::applyToNode(xmlNodePtr node) {
  checkInvariant(node != nullptr, SRC, 47, "idNode != NULL");
  XmlSubtreeFilter rule(node, selection != 1);
  runC14N(node->doc, rule, budget, exclusive != 0, prefixes, withComments != 0, true, output, sink,
          throughLibxml != 0);
}

XmlC14NodeSetTransform::XmlC14NodeSetTransform(xmlDocPtr doc, bool withComments, bool exclusive,
                                               const std::vector<std::string>& prefixes)
    : XmlTransform(withComments ? 2 : 1, XML_DATA_OCTETS, XML_DATA_NODESET),
      prefixes(prefixes),
      doc(doc),
      withComments(withComments ? 1 : 0),
      exclusive(exclusive ? 1 : 0) {}

XmlC14NodeSetTransform::~XmlC14NodeSetTransform() = default;
const uint8_t* XmlC14NodeSetTransform::outputBytes() { return output.bytes(); }
uint32_t XmlC14NodeSetTransform::outputLength() { return output.length(); }

void XmlC14NodeSetTransform::applyToNodeSet(xmlNodeSetPtr set) {
  output.clear();
  // libxml2 reads a missing set as the whole document: a chain that lost its
  // node set must fail, not digest everything.
  if (!set) throw TalApiException(xmlrc::TRANSFORM_FAILED);
  NodeSetFilter rule(set);
  applyToFilter(&rule);
}

void XmlC14NodeSetTransform::applyToFilter(XmlNodeFilter* filter) {
  output.clear();
  if (!filter) throw TalApiException(xmlrc::TRANSFORM_FAILED);
  // A node set of only namespace or excluded nodes canonicalises to no octets,
  // which is a valid input of a digest (the W3C interop vectors sign such sets).
  runC14N(doc, *filter, budget, exclusive != 0, prefixes, withComments != 0, false, output, sink,
          throughLibxml != 0);
}

XmlC14FileTransform::XmlC14FileTransform(bool withComments, bool exclusive)
    : XmlTransform(withComments ? 2 : 1, XML_DATA_OCTETS, XML_DATA_FILE),
      withComments(withComments ? 1 : 0),
      exclusive(exclusive ? 1 : 0) {}

XmlC14FileTransform::~XmlC14FileTransform() = default;
const uint8_t* XmlC14FileTransform::outputBytes() { return output.bytes(); }
uint32_t XmlC14FileTransform::outputLength() { return output.length(); }

void XmlC14FileTransform::applyToFile(TVxmlDoc* doc) {
  checkInvariant(doc != nullptr, SRC, 244, "detachedDoc != NULL");
  int32_t rc = doc->ensureParsed();
  if (rc != 0) throw TalApiException(rc);
  if (!doc->holder->root) throw TalApiException(xmlrc::TRANSFORM_FAILED);
  // A detached document is canonicalised whole: the nodes before and after its
  // root element (comments when asked for, processing instructions) belong to it.
  WholeDocument rule;
  runC14N(doc->holder->doc, rule, budget, exclusive != 0, {}, withComments != 0, true, output, sink,
          throughLibxml != 0);
}

XmlEnvelopedTransform::XmlEnvelopedTransform(xmlNodePtr transformElement, uint32_t inputKind)
    : XmlTransform(XML_TK_ENVELOPED, XML_DATA_NODESET, inputKind),
      signature(xmlEnclosingSignature(transformElement)) {}

void XmlEnvelopedTransform::applyToNode(xmlNodePtr node) {
  if (!node) throw TalApiException(xmlrc::TRANSFORM_FAILED);
  if (!signature) throw TalApiException(xmlrc::EMPTY_TRANSFORM);
  input = nullptr;
  selected = XmlSubtree(node);
  excluded = XmlSubtree(signature);
}

void XmlEnvelopedTransform::applyToFilter(XmlNodeFilter* filter) {
  if (!filter) throw TalApiException(xmlrc::TRANSFORM_FAILED);
  if (!signature) throw TalApiException(xmlrc::EMPTY_TRANSFORM);
  input = filter;
  excluded = XmlSubtree(signature);
}

bool XmlEnvelopedTransform::wholeElements(xmlNodePtr& apex, xmlNodePtr& hole) const {
  if (!signature) return false;
  xmlNodePtr inner = nullptr;
  if (input) {
    // An input that leaves every signature out has left this one out too.
    if (!input->wholeElements(apex, inner) || (inner && !input->signaturesLeftOut())) return false;
    if (input->signaturesLeftOut()) {
      hole = inner;
      return true;
    }
  } else {
    apex = selected.node();
    if (!apex || (apex->type != XML_ELEMENT_NODE && apex->type != XML_DOCUMENT_NODE)) return false;
  }
  hole = signature;
  return true;
}

int XmlEnvelopedTransform::visible(xmlNodePtr node, xmlNodePtr parent) {
  // The signature first: an XPath filter before it is never asked about its nodes.
  if (excluded.contains(node, parent)) return 0;
  return (input ? input->visible(node, parent) == 1 : selected.contains(node, parent)) ? 1 : 0;
}
