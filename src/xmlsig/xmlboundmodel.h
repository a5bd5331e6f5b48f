// The model of libxml2 2.9's XPath evaluation the bound (xmlxpointerbound.h)
// runs over an expression's tree: what each construct costs for the
// statistics of a document, added up over its evaluations.
#pragma once

#include "xmlsig/xmlxpathgrammar.h"
#include "xmlsig/xmlxpointerbound.h"

namespace xmlbound {

class ExpressionBound {
 public:
  explicit ExpressionBound(const XmlXPointerDocStats& st) : st(st) {}
  // Adds `evaluations` of e, each with a distinct context node (some of them
  // namespace nodes when `namespaceContexts`), and the sort of its result as
  // libxml2 sorts a whole expression's set. False when e uses what is refused
  // (ranges and points).
  bool add(const Expr& e, double evaluations = 1, bool namespaceContexts = false);
  double work = 0;  // units
  // Prefixes the expression's own xmlns() parts registered, besides those in
  // scope of the context node: how many, the longest.
  double xmlnsPrefixes = 0;
  double longestXmlnsPrefix = 0;

 private:
  const XmlXPointerDocStats& st;
};

// [@name = 'literal'] (either side, attribute:: or a prefix): the attribute
// step; null for any other predicate.
const Step* attributeEquality(const Expr& p);

}  // namespace xmlbound
