// XPointer selection of nodes. A bare NCName and "xpointer(id('NCName'))" are
// found by findNodeById (an Id two elements claim names nothing: 139),
// "xpointer(/)" is the document node; any other expression is libxml2's
// XPointer with here the context node (libxml2's here(), which gives a location
// set), the context node's namespaces in scope bound, run only when a bound of
// its work computed beforehand (xmlxpointerbound.h) is within a cap and the
// work budget (the chain's, or one of its own), which is charged with it; then
// under the operation limit and the document's memory allowance: refused or
// past any of them 140, no result 139, a result that is no node set (a number,
// a range) 140, an empty set 139.
// id(), and an element() part that starts with an Id, name only what
// findNodeById finds. The output is the selected nodes in document order.
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
// the usual operation limit and the work budget, the document's Id attributes
// known to it meanwhile. The
// element nodes selected (and the document node), in document order, go to
// `elements`. 0 (nothing selected included); 89 when the evaluation gives no
// node set (a malformed expression included); 140 when it passes its budget or
// memory, or the expression is too long.
int32_t xmlXPointerSelectElements(xmlNodePtr contextNode, const std::string& expression,
                                  std::vector<xmlNodePtr>& elements,
                                  XmlWorkBudget* budget = nullptr);
