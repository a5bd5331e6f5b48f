// The XML-DSig XPath filter: the node set of the document for which the
// expression is true, with the here() function.
#pragma once

#include "xmlsig/xmltransform.h"

#include <map>

class XmlXPathTransform : public XmlTransform {
 public:
  XmlXPathTransform(xmlNodePtr contextNode, const std::string& expression,
                    uint32_t tag = XML_TK_XPATH);
  ~XmlXPathTransform() override;
  xmlNodeSetPtr outputNodeSet() override;
  void apply() override;
  void addNamespace(const std::string& prefix, const std::string& uri) {
    namespaces.emplace(prefix, uri);
  }

  xmlNodePtr contextNode;
  std::string expression;
  std::map<std::string, std::string> namespaces;
  xmlNodeSetPtr output = nullptr;
};

// Applies the limits every evaluation runs under to a new XPath context.
void xmlLimitXPathContext(xmlXPathContextPtr ctxt);
