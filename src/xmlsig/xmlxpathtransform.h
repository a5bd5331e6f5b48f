// The XML-DSig XPath filter: the nodes of the document for which the expression
// is true, with the here() function. The expression is evaluated for one node
// at a time (context position and size 1, the result taken as a boolean) when
// the canonicaliser asks about that node: the filter's input, every node,
// attribute and namespace node of the document, is never built as a node set.
#pragma once

#include "xmlsig/xmlc14transform.h"
#include "xmlsig/xmltransform.h"

#include <map>
#include <memory>

class XmlXPathTransform : public XmlTransform, public XmlNodeFilter {
 public:
  XmlXPathTransform(xmlNodePtr contextNode, const std::string& expression,
                    uint32_t tag = XML_TK_XPATH);
  ~XmlXPathTransform() override;
  // The result is a rule; no node set is materialised. A caller asking for a
  // set (instead of outputFilter()) would get none, so asking is a failed
  // invariant rather than a silent empty set.
  xmlNodeSetPtr outputNodeSet() override;
  XmlNodeFilter* outputFilter() override { return prepared ? this : nullptr; }
  // Compiles the expression and looks for a first selected node in document
  // order: 140 for a malformed expression or a failed evaluation, 139 when no
  // node is selected.
  void apply() override;
  void addNamespace(const std::string& prefix, const std::string& uri) {
    namespaces.emplace(prefix, uri);
  }
  int visible(xmlNodePtr node, xmlNodePtr parent) override;
  // The two filters signers use for an enveloped signature, when recognised:
  // the whole document less the subtree of the signature holding the filter
  // (the W3C's here() filter), or less every signature's (not(ancestor-or-self
  // ::ds:Signature)), each with a prefix bound to the XML-DSig namespace in
  // scope of contextNode. The canonicaliser then serves them in one walk,
  // without libxml2's XPath; only a caller that gives the filter the whole
  // document as input, and nothing after it but a canonicalisation, may allow it.
  bool wholeElements(xmlNodePtr& apex, xmlNodePtr& hole) const override;
  bool signaturesLeftOut() const override { return form == Form::EVERY_SIGNATURE; }
  bool allowRecognised = false;
  int32_t failure() const override { return failed; }
  // The budget apply() found: the chain's it ran in (which the rule keeps
  // charging after the chain returns, so the chain's or caller's budget must
  // outlive the rule's use), or on its own one of its own, which the
  // canonicaliser asking the rule then shares.
  XmlWorkBudget* workBudget() override { return spendOn; }

  xmlNodePtr contextNode;
  std::string expression;
  std::map<std::string, std::string> namespaces;

 private:
  void release();

  enum class Form { GENERAL, ENCLOSING_SIGNATURE, EVERY_SIGNATURE };
  Form recognise() const;

  Form form = Form::GENERAL;
  xmlNodePtr enclosing = nullptr;  // the signature holding contextNode
  XmlSubtree enclosingTree;
  xmlXPathContextPtr ctxt = nullptr;
  xmlXPathCompExprPtr comp = nullptr;
  bool prepared = false;
  int32_t failed = 0;
  uint64_t evaluationByteCap = 0;
  uint64_t perEvaluation = 0;  // the bound of one evaluation, charged by each
  std::unique_ptr<XmlWorkBudget> ownBudget;
  XmlWorkBudget* spendOn = nullptr;
};

// Applies the limits every evaluation runs under to a new XPath context.
void xmlLimitXPathContext(xmlXPathContextPtr ctxt);
// An evaluation past its memory stops at its next operation (an
// XmlMemoryScope's stop function; the argument is the XPath context).
void xmlStopXPathEvaluation(void* context);
// Puts in place of libxml2's id() one that finds duplicates in a hash table
// and charges each token to the XmlWorkBudget in the context's userData.
// uniqueOnly: a token names what findNodeById finds through the XmlIdIndexScope
// open for the document (an Id two elements claim names nothing).
void xmlUseBoundedId(xmlXPathContextPtr ctxt, bool uniqueOnly = false);
// Puts in place of libxml2's lang() one that reads xml:lang from the tree's
// attributes only (never the DTD), charging what it looks at to the
// XmlWorkBudget in the context's userData.
void xmlUseOwnLang(xmlXPathContextPtr ctxt);
