// Canonical XML 1.0 and Exclusive Canonical XML 1.0 (with or without comments)
// of a subtree, of a node set and of a detached document, and the
// enveloped-signature transform. Every selection reaches the canonicaliser as
// a visibility rule answered in constant time per node (no XPath, no
// materialised node set), and every run is bounded by a work budget. Rules
// that select whole elements (a subtree, the whole document, either less a
// signature) go to our own canonicaliser (xmlc14writer.h), which can write
// straight into a digest; every other rule to libxml2's C14N.
#pragma once

#include "xmlsig/xmltransform.h"

#include <libxml/xmlIO.h>

#include <set>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

// What one walk of a document learns: an estimate of its serialised size in
// octets, and the work libxml2's canonicaliser does on its elements whatever
// their visibility (per element, a search of the declarations in scope for each
// of them, and sorted inserts of its namespaces and attributes, each compare of
// two prefixes priced by the longest prefix in scope).
struct XmlDocumentProfile {
  size_t size = 0;
  uint64_t elementWork = 0;
  // Per element, one search of the declarations in scope (what each prefix of
  // an exclusive canonicalisation's inclusive list costs), summed.
  uint64_t scopeWork = 0;
  // Exclusive canonicalisation only: its stack of rendered namespaces gets an
  // entry for the element's namespace and for every namespaced attribute, and
  // each of them is first looked up from the top of the stack down to the last
  // entry of its prefix (the whole stack when there is none), summed.
  uint64_t exclusiveWork = 0;
};
// Reads the profile of a document (no writes: a parsed tree stays read-only),
// or, given an apex element, of what canonicalising only its subtree walks.
XmlDocumentProfile xmlProfileDocument(xmlDocPtr doc, bool exclusive = false,
                                      xmlNodePtr apex = nullptr);
// Stamps every element with its position in document order (libxml2's own
// convention, which its XPath sorting reads too). Done once when a document is
// parsed; from then on the tree is only read, so a parsed document may be
// canonicalised by several threads at once but must not be modified (elements
// added later carry no stamp and are placed by walking their parents).
void xmlStampDocumentOrder(xmlDocPtr doc);

// Membership of the subtree of top (an element, or the document node for the
// whole document): an element by its document-order stamp, any other node by
// its element. Without stamps it falls back to walking up the parents.
class XmlSubtree {
 public:
  explicit XmlSubtree(xmlNodePtr top = nullptr) : top(top) {}
  bool contains(xmlNodePtr node, xmlNodePtr parent);
  // The top when it is an element (a document node selects everything).
  xmlNodePtr apex() const { return top && top->type == XML_ELEMENT_NODE ? top : nullptr; }
  xmlNodePtr node() const { return top; }

 private:
  xmlNodePtr top;
  bool ready = false;
  bool byOrder = false;
  ptrdiff_t first = 0, last = 0;
};

// The subtree of a start node, or (inverted) everything outside it.
class XmlSubtreeFilter : public XmlNodeFilter {
 public:
  XmlSubtreeFilter(xmlNodePtr top, bool inverted) : subtree(top), inverted(inverted) {}
  int visible(xmlNodePtr node, xmlNodePtr parent) override;
  xmlNodePtr apex() const override { return inverted ? nullptr : subtree.apex(); }
  bool wholeElements(xmlNodePtr& apex, xmlNodePtr& hole) const override;

 private:
  XmlSubtree subtree;
  bool inverted;
};

// A node set read as a same-document XPointer reference reads it: each selected
// node with its descendants (an attribute or a namespace node is itself alone;
// the document node is everything), comments included. Built from the set
// (which the caller keeps); its own input, a rule as output. An element is
// answered by a search of the selected elements' ranges of document order (by
// its ancestors in a document without order stamps).
class XmlNodeTrees : public XmlTransform, public XmlNodeFilter {
 public:
  explicit XmlNodeTrees(xmlNodeSetPtr set);
  XmlNodeFilter* outputFilter() override { return this; }
  void apply() override {}
  int visible(xmlNodePtr node, xmlNodePtr parent) override;
  xmlNodePtr apex() const override;
  bool wholeElements(xmlNodePtr& apex, xmlNodePtr& hole) const override;

 private:
  bool inTrees(xmlNodePtr element) const;

  bool everything = false;
  bool byOrder = true;
  // Ranges of document order, disjoint and ascending, each with its element.
  std::vector<std::pair<ptrdiff_t, ptrdiff_t>> ranges;
  std::vector<xmlNodePtr> tops;
  std::unordered_set<xmlNodePtr> elements;  // without order stamps
  std::unordered_set<xmlNodePtr> others;    // attributes, texts, comments, instructions
  std::set<std::pair<xmlNodePtr, std::string>> namespaces;  // by element and prefix
};

// The octets of one canonicalisation: in libxml2's buffer or in a text.
struct XmlC14Output {
  XmlC14Output() = default;
  XmlC14Output(const XmlC14Output&) = delete;
  XmlC14Output& operator=(const XmlC14Output&) = delete;
  ~XmlC14Output() { clear(); }
  void clear();
  const uint8_t* bytes() const;
  uint32_t length() const;

  xmlOutputBufferPtr buffer = nullptr;
  std::string text;
};

class XmlC14DocTransform : public XmlTransform {
 public:
  // selection 1: the start node's subtree; 0: everything except that subtree.
  XmlC14DocTransform(bool withComments, uint8_t selection, bool exclusive,
                     const std::vector<std::string>& prefixes = {});
  ~XmlC14DocTransform() override;
  const uint8_t* outputBytes() override;
  uint32_t outputLength() override;
  void applyToNode(xmlNodePtr node) override;

  std::vector<std::string> prefixes;
  uint8_t withComments;
  uint8_t selection;
  uint8_t exclusive;
  // Through libxml2's canonicaliser whatever the selection (the reference the
  // tests hold ours against).
  uint8_t throughLibxml = 0;
  XmlC14Output output;
};

class XmlC14NodeSetTransform : public XmlTransform {
 public:
  XmlC14NodeSetTransform(xmlDocPtr doc, bool withComments, bool exclusive,
                         const std::vector<std::string>& prefixes = {});
  ~XmlC14NodeSetTransform() override;
  const uint8_t* outputBytes() override;
  uint32_t outputLength() override;
  // An explicit node set (looked up in a hash table, not searched).
  void applyToNodeSet(xmlNodeSetPtr set) override;
  // A node set given as a rule (an XPath filter, an enveloped signature).
  void applyToFilter(XmlNodeFilter* filter) override;

  std::vector<std::string> prefixes;
  xmlDocPtr doc;
  uint8_t withComments;
  uint8_t exclusive;
  uint8_t throughLibxml = 0;  // as in XmlC14DocTransform
  XmlC14Output output;
};

class XmlC14FileTransform : public XmlTransform {
 public:
  XmlC14FileTransform(bool withComments, bool exclusive);
  ~XmlC14FileTransform() override;
  const uint8_t* outputBytes() override;
  uint32_t outputLength() override;
  void applyToFile(TVxmlDoc* doc) override;

  uint8_t withComments;
  uint8_t exclusive;
  uint8_t throughLibxml = 0;  // as in XmlC14DocTransform
  XmlC14Output output;
};

// The enveloped-signature transform: its input (a subtree, or a node set given
// as a rule) less the subtree of the signature that holds the transform. The
// signature is the nearest ancestor of the ds:Transform element named Signature
// in the XML-DSig namespace, whatever prefix the document binds to it (or none).
// No such ancestor: the expression the transform stands for selects nothing (139).
class XmlEnvelopedTransform : public XmlTransform, public XmlNodeFilter {
 public:
  XmlEnvelopedTransform(xmlNodePtr transformElement, uint32_t inputKind = XML_DATA_NODE);
  XmlNodeFilter* outputFilter() override { return this; }
  void applyToNode(xmlNodePtr node) override;
  void applyToFilter(XmlNodeFilter* filter) override;
  int visible(xmlNodePtr node, xmlNodePtr parent) override;
  int32_t failure() const override { return input ? input->failure() : 0; }
  xmlNodePtr apex() const override { return input ? input->apex() : selected.apex(); }
  bool wholeElements(xmlNodePtr& apex, xmlNodePtr& hole) const override;
  bool signaturesLeftOut() const override { return input && input->signaturesLeftOut(); }

  xmlNodePtr signature;

 private:
  XmlSubtree selected;
  XmlNodeFilter* input = nullptr;
  XmlSubtree excluded;
};
