// Small helpers of the readers that walk a stranger's signature element by
// element: names are matched by local name and namespace URI (never by
// prefix), and siblings are visited by iteration.
#pragma once

#include "xmlsig/xmlmisc.h"

#include <libxml/tree.h>

#include <string>
#include <string_view>

namespace xmlwalk {

// An element of this local name in this namespace (a namespace is required).
inline bool isIn(xmlNodePtr n, std::string_view name, std::string_view ns) {
  if (!n || n->type != XML_ELEMENT_NODE || !xmlStrEqual(n->name, BAD_CAST name.data())) return false;
  const xmlChar* uri = nodeNamespaceUri(n);
  return uri && xmlStrEqual(uri, BAD_CAST ns.data());
}

// The next element sibling (text and comments skipped).
inline xmlNodePtr nextElement(xmlNodePtr n) { return n ? firstElement(n->next) : nullptr; }

// A text libxml2 handed out, freed however its copy ends (the copy may throw).
struct XmlOwnedText {
  xmlChar* text;
  ~XmlOwnedText() {
    if (text) xmlFree(text);
  }
};

inline bool propOf(xmlNodePtr n, const char* name, std::string& out) {
  XmlOwnedText v{xmlGetProp(n, BAD_CAST name)};
  if (!v.text) return false;
  out = reinterpret_cast<const char*>(v.text);
  return true;
}

inline std::string contentOf(xmlNodePtr n) {
  std::string out;
  XmlOwnedText v{xmlNodeGetContent(n)};
  if (v.text) out = reinterpret_cast<const char*>(v.text);
  return out;
}

}  // namespace xmlwalk
