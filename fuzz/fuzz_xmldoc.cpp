// libFuzzer target over XML documents from strangers: guarded parsing, an
// application's XPointer expressions (and the Ids they make known for a
// while), Id registration, Id lookup and fragment resolution of every
// attribute value, the four canonical forms of the whole tree and of the first subtree with an
// Id, and an XPath filter chain (evaluated per node by the canonicaliser). The
// first input octet picks the canonical form's options (every canonical form is
// made by our canonicaliser and by libxml2's, which must agree); the rest is the
// document. Everything run on one input shares one work budget, as all the
// references of one document do. The text of each element also goes
// through the value conversions (dateTime and name texts).
#include "base/memfile.h"
#include "base/talexception.h"
#include "xmlsig/conv_xml.h"
#include "xmlsig/xmlc14transform.h"
#include "xmlsig/xmlcodes.h"
#include "xmlsig/xmlmisc.h"
#include "xmlsig/xmltransformchain.h"
#include "xmlsig/xmlxpathtransform.h"
#include "xmlsig/xmlxpointertransform.h"

#include <libxml/parser.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {
void quiet(void*, const char*, ...) {}

// Our canonicaliser, then libxml2's on the same selection: where both finish
// within the budget they agree, octet for octet. A stop at a scope is each
// side's own (libxml2's canonicaliser holds more memory than ours, so over
// some 100,000 elements it alone stops at 89), and nothing is compared then.
void canonicalise(xmlNodePtr node, uint8_t options, uint8_t selection, XmlWorkBudget& budget) {
  std::string octets[2];
  int32_t rc[2] = {0, 0};
  for (int libxml = 0; libxml < 2; ++libxml) {
    XmlC14DocTransform t(options & 1, selection, options & 2, {"a", "#default"});
    t.budget = &budget;
    t.throughLibxml = static_cast<uint8_t>(libxml);
    try {
      t.applyToNode(node);
      if (t.outputLength() == 0) abort();
      octets[libxml].assign(reinterpret_cast<const char*>(t.outputBytes()), t.outputLength());
    } catch (const TalApiException& e) {
      rc[libxml] = e.getCode();
    }
  }
  if (budget.exhausted()) return;
  if (rc[0] == xmlrc::INV_MSG || rc[1] == xmlrc::INV_MSG) return;  // a memory scope's stop
  if (rc[0] != rc[1] && octets[1].size() < (1u << 20)) abort();
  if (octets[0] != octets[1]) abort();
}
void convert(const std::string& text) {
  try {
    convXml::parseDateTime(text);
  } catch (const TalApiException&) {
  }
  try {
    for (const convXml::DnComponent& c : convXml::splitDnText(text))
      if (convXml::escapeDnValue(c.value).size() > 4 * c.value.size() + 4) abort();
  } catch (const TalApiException&) {
  }
}
// The text xmlNodeGetContent gives of each element (its descendants' texts
// and CDATA sections, and entity references' replacement texts, in document
// order), as a range of one string of all the tree's texts: each text is read
// once. xmlNodeGetContent on every element read each text again for each of
// its ancestors, into a buffer grown by small reallocations, which took
// seconds over a 1 MB receipt and minutes over 4 MB.
class ElementTexts {
 public:
  explicit ElementTexts(xmlNodePtr root) {
    for (xmlNodePtr n = root; n;) {
      if (n->type == XML_ELEMENT_NODE) ranges[n].first = all.size();
      if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) {
        if (n->content) all += reinterpret_cast<const char*>(n->content);
      } else if (n->type == XML_ENTITY_REF_NODE) {
        xmlChar* replacement = xmlNodeGetContent(n);
        if (replacement) all += reinterpret_cast<const char*>(replacement);
        xmlFree(replacement);
      }
      // An entity reference's children are its declaration, not the document's.
      if (n->children && n->children->type != XML_ENTITY_DECL) {
        n = n->children;
        continue;
      }
      for (;;) {
        if (n->type == XML_ELEMENT_NODE) ranges[n].second = all.size();
        if (n == root) return;
        if (n->next) {
          n = n->next;
          break;
        }
        n = n->parent;
      }
    }
  }
  std::string of(xmlNodePtr element) const {
    const auto it = ranges.find(element);
    return it == ranges.end() ? std::string() : all.substr(it->second.first, it->second.second - it->second.first);
  }

 private:
  std::string all;
  std::unordered_map<xmlNodePtr, std::pair<size_t, size_t>> ranges;
};
// The attributes libxml2 knows as Ids, in document order.
std::vector<xmlAttrPtr> idAttributes(xmlNodePtr root) {
  std::vector<xmlAttrPtr> ids;
  std::vector<xmlNodePtr> stack{root};
  while (!stack.empty()) {
    xmlNodePtr n = stack.back();
    stack.pop_back();
    for (xmlAttrPtr a = n->properties; a; a = a->next)
      if (a->atype == XML_ATTRIBUTE_ID) ids.push_back(a);
    for (xmlNodePtr c = n->last; c; c = c->prev)
      if (c->type == XML_ELEMENT_NODE) stack.push_back(c);
  }
  return ids;
}

// An application's own expressions (libxml2's XPointer, the document's Ids
// made known to it for the evaluation): elements only come back, and the Ids
// libxml2 knows afterwards are those it knew before (the document's DTD's).
void callerExpressions(XmlDocHolder& holder) {
  const std::vector<xmlAttrPtr> before = idAttributes(holder.root);
  std::string named = "xpointer(/)";
  for (xmlAttrPtr a = holder.root->properties; a; a = a->next)
    if (xmlStrEqual(a->name, BAD_CAST "Id")) {
      xmlChar* v = xmlNodeListGetString(holder.doc, a->children, 1);
      if (v && *v && xmlStrlen(v) < 256 && !xmlStrchr(v, '\''))
        named = "xpointer(id('" + std::string(reinterpret_cast<const char*>(v)) + "'))";
      xmlFree(v);
    }
  for (const std::string& expression : {std::string("xpointer(//*[@Id or @id or @ID])"), named}) {
    std::vector<xmlNodePtr> elements;
    XmlWorkBudget budget;
    if (xmlXPointerSelectElements(holder.root, expression, elements, &budget) == 0)
      for (xmlNodePtr e : elements)
        if (e->type != XML_ELEMENT_NODE && e->type != XML_DOCUMENT_NODE) abort();
    if (idAttributes(holder.root) != before) abort();
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = [] {
    xmlSetGenericErrorFunc(nullptr, quiet);
    return true;
  }();
  (void)init;
  if (size < 1) return 0;
  uint8_t options = data[0];
  MemFile in(const_cast<uint8_t*>(data + 1), static_cast<int32_t>(size - 1), false);
  XmlDocHolder holder;
  if (parseXmlDocument(&holder, &in) != 0) return 0;
  callerExpressions(holder);
  registerIdAttributes(holder.root);
  // The tree is only read from here on: every value looked up below (one per
  // attribute) is answered from one index of the Ids, as a verification's are.
  XmlIdIndexScope ids(holder.doc);
  XmlWorkBudget budget;
  canonicalise(holder.root, options, 1, budget);
  canonicalise(reinterpret_cast<xmlNodePtr>(holder.doc), options, 1, budget);
  const ElementTexts texts(holder.root);
  bool first = true;
  int depth = 0;
  for (xmlNodePtr n = holder.root; n && depth < 64;) {
    if (n->type == XML_ELEMENT_NODE) {
      convert(texts.of(n));
      for (xmlAttrPtr a = n->properties; a; a = a->next) {
        xmlChar* v = xmlNodeListGetString(n->doc, a->children, 1);
        if (!v) continue;
        try {
          // Every value as a same-document fragment.
          XmlXPointerTransform xp(holder.root, reinterpret_cast<const char*>(v));
          xp.apply();
          xmlNodeSetPtr set = xp.outputNodeSet();
          if (!set || set->nodeNr != 1) abort();
          xmlXPathFreeNodeSet(set);
        } catch (const TalApiException&) {
        }
        xmlNodePtr found = nullptr;
        try {
          findNodeById(holder.root, reinterpret_cast<const char*>(v), &found);
          if (first) {
            canonicalise(found, options >> 2, 1, budget);
            canonicalise(found, options >> 2, 0, budget);
            first = false;
          }
        } catch (const TalApiException&) {
        }
        xmlFree(v);
      }
    }
    if (n->children && n->type == XML_ELEMENT_NODE) {
      n = n->children;
      ++depth;
      continue;
    }
    while (n && !n->next && n != holder.root) {
      n = n->parent;
      --depth;
    }
    if (!n || n == holder.root) break;
    n = n->next;
  }
  if (options & 0x10) {
    XmlTransforms chain;
    chain.add(new XmlXPathTransform(holder.root, "not(self::comment())"));
    chain.add(new XmlC14NodeSetTransform(holder.doc, false, options & 0x20));
    try {
      chain.applyToNode(nullptr, &budget);
    } catch (const TalApiException&) {
    }
  }
  return 0;
}
