// XPointer selection of nodes: the same-document reference forms only (a bare
// NCName, "xpointer(/)", "xpointer(id('NCName'))"); anything else is refused (140).
#pragma once

#include "xmlsig/xmltransform.h"

class XmlXPointerTransform : public XmlTransform {
 public:
  XmlXPointerTransform(xmlNodePtr contextNode, const std::string& expression);
  ~XmlXPointerTransform() override;
  // Hands the set over: the caller frees it.
  xmlNodeSetPtr outputNodeSet() override;
  void apply() override;

  xmlNodePtr contextNode;
  xmlNodeSetPtr output = nullptr;
  std::string expression;
};
