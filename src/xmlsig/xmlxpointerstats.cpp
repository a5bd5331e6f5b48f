// The statistics of a document the bound reads: one walk, depth first.
#include "xmlsig/xmlxpointerbound.h"

#include "xmlsig/xmlmisc.h"

#include <algorithm>
#include <vector>

namespace {

std::string_view localName(const xmlChar* name) {
  return name ? std::string_view(reinterpret_cast<const char*>(name)) : std::string_view();
}

// A node of the statistics' walk: the step, and a table's look-up by a name
// (hashed: its octets are priced apart); the walk's start (its tables made).
const double WALK_NODE = 40;
const double WALK_START = 4096;

double length(const xmlChar* text) { return text ? static_cast<double>(xmlStrlen(text)) : 0; }

// The longest local name, prefix and namespace URI, a name of n and its namespace.
void noteName(XmlXPointerDocStats& st, const xmlChar* name, xmlNsPtr ns) {
  st.maxLocalNameLength = std::max(st.maxLocalNameLength, length(name));
  if (!ns) return;
  st.maxPrefixLength = std::max(st.maxPrefixLength, length(ns->prefix));
  st.maxNamespaceUriLength = std::max(st.maxNamespaceUriLength, length(ns->href));
}

}  // namespace

XmlXPointerDocStats xmlXPointerGatherStats(xmlDocPtr doc) {
  XmlXPointerDocStats st;
  st.walkCost = WALK_START;
  struct Level {
    xmlNodePtr node;
    double depth;
    double namespaces;     // declarations in scope (an upper bound), xml's included
    double namespaceText;  // octets of their URIs, the string values of the namespace nodes
    double nonElementRun = 0;  // non-element siblings since the last element
  };
  std::vector<Level> stack{{doc->children, 1, 1, length(XML_XML_NAMESPACE)}};
  for (xmlNodePtr c = doc->children; c; c = c->next) ++st.rootFanOut;
  st.maxFanOut = st.rootFanOut;
  while (!stack.empty()) {
    Level& top = stack.back();
    xmlNodePtr n = top.node;
    if (!n) {
      stack.pop_back();
      continue;
    }
    top.node = n->next;
    top.nonElementRun = n->type == XML_ELEMENT_NODE ? 0 : top.nonElementRun + 1;
    st.maxNonElementRun = std::max(st.maxNonElementRun, top.nonElementRun);
    const double depth = top.depth;
    double namespaces = top.namespaces;
    double namespaceText = top.namespaceText;
    st.nodes += 1;
    st.walkCost += WALK_NODE;
    st.maxDepth = std::max(st.maxDepth, depth);
    st.depthSum += depth;
    if (n->type != XML_ELEMENT_NODE) {
      if (depth > 1 && n->type != XML_TEXT_NODE && n->type != XML_CDATA_SECTION_NODE &&
          n->type != XML_COMMENT_NODE && n->type != XML_PI_NODE)
        st.otherKinds = true;
      if (n->content) {
        const double text = static_cast<double>(xmlStrlen(n->content));
        st.textLength += text;
        st.walkCost += text;  // its length read
      }
      continue;
    }
    st.elements += 1;
    if (reinterpret_cast<ptrdiff_t>(n->content) >= 0) st.ordered = false;
    st.elementsByName[localName(n->name)] += 1;
    st.walkCost += WALK_NODE + length(n->name);
    noteName(st, n->name, n->ns);
    st.maxNameLength = std::max(
        st.maxNameLength, static_cast<double>(xmlStrlen(n->name)) +
                              (n->ns ? xmlStrlen(n->ns->href) + xmlStrlen(n->ns->prefix) : 0));
    for (xmlNsPtr d = n->nsDef; d; d = d->next) {
      namespaces += 1;
      // Its prefix and URI read for their lengths, more than once.
      st.walkCost += WALK_NODE + 2 * (length(d->prefix) + length(d->href));
      namespaceText += static_cast<double>(xmlStrlen(d->href));
      noteName(st, nullptr, d);
      st.maxNameLength = std::max(st.maxNameLength,
                                  static_cast<double>(xmlStrlen(d->href) + xmlStrlen(d->prefix)));
    }
    st.maxNamespacesInScope = std::max(st.maxNamespacesInScope, namespaces);
    st.namespaceNodes += namespaces;
    st.nodes += namespaces;
    st.depthSum += namespaces * (depth + 1);
    st.textLength += namespaceText;
    double attributes = 0;
    for (xmlAttrPtr a = n->properties; a; a = a->next) {
      attributes += 1;
      st.attributesByName[localName(a->name)] += 1;
      st.walkCost += WALK_NODE + 2 * length(a->name);
      noteName(st, a->name, a->ns);
      const xmlNodePtr v = a->children;
      if (!v)
        st.attributesByValue[localName(a->name)][std::string_view()] += 1;
      else if (v->type == XML_TEXT_NODE && !v->next && v->content)
        st.attributesByValue[localName(a->name)][localName(v->content)] += 1;
      else
        st.attributesValueUnknown.insert(localName(a->name));
      st.maxNameLength = std::max(
          st.maxNameLength, static_cast<double>(xmlStrlen(a->name)) +
                                (a->ns ? xmlStrlen(a->ns->href) + xmlStrlen(a->ns->prefix) : 0));
      double length = 0;
      for (xmlNodePtr t = a->children; t; t = t->next)
        if (t->content) length += static_cast<double>(xmlStrlen(t->content));
      st.walkCost += length;  // the value's key
      st.textLength += length;
      st.maxAttributeLength = std::max(st.maxAttributeLength, length);
    }
    st.attributes += attributes;
    st.nodes += attributes;
    st.depthSum += attributes * (depth + 1);
    st.maxAttributes = std::max(st.maxAttributes, attributes);
    double fanOut = 0;
    for (xmlNodePtr c = n->children; c; c = c->next) ++fanOut;
    st.maxFanOut = std::max(st.maxFanOut, fanOut);
    if (n->children) stack.push_back({n->children, depth + 1, namespaces, namespaceText});
  }
  return st;
}

std::shared_ptr<const XmlXPointerDocStats> xmlXPointerDocumentStats(xmlDocPtr doc,
                                                                    XmlWorkBudget& budget) {
  XmlIdIndexScope* scope = XmlIdIndexScope::of(doc);
  if (scope && scope->xpointerStats) return scope->xpointerStats;
  auto stats = std::make_shared<const XmlXPointerDocStats>(xmlXPointerGatherStats(doc));
  budget.charge(static_cast<uint64_t>(stats->walkCost) + 1);
  if (scope) scope->xpointerStats = stats;
  return stats;
}
