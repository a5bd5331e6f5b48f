// XPointer selection of nodes: the same-document reference forms only (a bare
// NCName, "xpointer(/)", "xpointer(id('NCName'))"); anything else is refused (140).
#pragma once

#include "xmlsig/xmltransform.h"

#include <vector>

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

// The application's own expression (the signatures it chooses to verify),
// evaluated by libxml2's XPointer processor (xpointer(), xmlns(), element()
// and bare names; the namespaces in scope of the context node bound) under
// the work budget, the document's Id attributes known to it meanwhile. The
// element nodes selected (and the document node), in document order, go to
// `elements`. 0 (nothing selected included); 89 when the evaluation gives no
// node set (a malformed expression included); 140 when it passes its budget or
// memory, or the expression is too long.
int32_t xmlXPointerSelectElements(xmlNodePtr contextNode, const std::string& expression,
                                  std::vector<xmlNodePtr>& elements,
                                  XmlWorkBudget* budget = nullptr);
