#include "xmlsig/xmlxpathtransform.h"

#include "base/commonerror.h"
#include "base/talexception.h"
#include "xmlsig/xmlmisc.h"

#include <libxml/xpathInternals.h>

#include <memory>
#include <vector>

namespace {
const char* const SRC = "XML/libxmlsignature/xmlxpathtransform";

void hereFunction(xmlXPathParserContextPtr ctxt, int nargs) {
  if (nargs != 0) {
    xmlXPathErr(ctxt, XPATH_INVALID_ARITY);
    return;
  }
  if (!ctxt->context->here) {
    xmlXPathErr(ctxt, XPTR_SYNTAX_ERROR);
    return;
  }
  valuePush(ctxt, xmlXPathNewNodeSet(ctxt->context->here));
}

// True when the filter's input, every node, attribute and namespace node of
// the document, would hold more than limit nodes. Counted before libxml2
// builds it: a few hundred declarations on the root over many small elements
// would otherwise make it allocate gigabytes of namespace nodes.
bool filterInputTooLarge(xmlDocPtr doc, size_t limit) {
  struct Level {
    xmlNodePtr node;
    size_t namespaces;  // declarations in scope (an upper bound)
  };
  std::vector<Level> stack{{doc->children, 1}};  // 1: the xml namespace
  size_t total = 1;
  while (!stack.empty() && total <= limit) {
    Level& top = stack.back();
    xmlNodePtr n = top.node;
    if (!n) {
      stack.pop_back();
      continue;
    }
    top.node = n->next;
    size_t namespaces = top.namespaces;
    ++total;
    if (n->type != XML_ELEMENT_NODE) continue;
    for (xmlNsPtr d = n->nsDef; d; d = d->next) ++namespaces;
    for (xmlAttrPtr a = n->properties; a; a = a->next) ++total;
    total += namespaces;
    if (n->children) stack.push_back({n->children, namespaces});
  }
  return total > limit;
}

struct ContextDeleter {
  void operator()(xmlXPathContextPtr c) const { xmlXPathFreeContext(c); }
};
struct ObjectDeleter {
  void operator()(xmlXPathObjectPtr o) const { xmlXPathFreeObject(o); }
};
}  // namespace

void xmlLimitXPathContext(xmlXPathContextPtr ctxt) {
  ctxt->opLimit = XML_XPATH_OP_LIMIT;
  ctxt->opCount = 0;
  ctxt->error = xmlQuietStructuredError;
}

XmlXPathTransform::XmlXPathTransform(xmlNodePtr contextNode, const std::string& expression,
                                     uint32_t tag)
    : XmlTransform(tag, XML_DATA_NODESET, XML_DATA_OWN),
      contextNode(contextNode),
      expression(expression) {}

XmlXPathTransform::~XmlXPathTransform() {
  if (output) xmlXPathFreeNodeSet(output);
}

xmlNodeSetPtr XmlXPathTransform::outputNodeSet() {
  xmlNodeSetPtr set = output;
  output = nullptr;
  return set;
}

void XmlXPathTransform::apply() {
  if (!contextNode || !contextNode->doc || expression.empty() ||
      expression.size() > XML_MAX_EXPRESSION_LENGTH || expression.find('\0') != std::string::npos)
    throw TalApiException(xmlrc::TRANSFORM_FAILED);
  if (filterInputTooLarge(contextNode->doc, XML_XPATH_MAX_NODES))
    throw TalApiException(xmlrc::TRANSFORM_FAILED);
  std::string text = "(//. | //@* | //namespace::*)[" + expression + "]";
  std::unique_ptr<xmlXPathContext, ContextDeleter> ctxt(xmlXPathNewContext(contextNode->doc));
  if (!ctxt) throw TalApiException(xmlrc::MEM);
  xmlLimitXPathContext(ctxt.get());
  checkInvariant(registerInScopeNamespaces(ctxt.get(), contextNode) == 0, SRC, 58, "0");
  for (const auto& ns : namespaces) {
    if (xmlXPathNsLookup(ctxt.get(), BAD_CAST ns.first.c_str())) continue;
    if (xmlXPathRegisterNs(ctxt.get(), BAD_CAST ns.first.c_str(), BAD_CAST ns.second.c_str()) != 0)
      throw TalApiException(xmlrc::TRANSFORM_FAILED);
  }
  xmlXPathRegisterFunc(ctxt.get(), BAD_CAST "here", hereFunction);
  ctxt->xptr = 1;
  ctxt->here = contextNode;
  ctxt->node = contextNode;
  XmlNoExternalScope scope;
  std::unique_ptr<xmlXPathObject, ObjectDeleter> result(
      xmlXPathEvalExpression(BAD_CAST text.c_str(), ctxt.get()));
  if (!result) throw TalApiException(xmlrc::TRANSFORM_FAILED);
  if (result->type != XPATH_NODESET || !result->nodesetval || result->nodesetval->nodeNr == 0)
    throw TalApiException(xmlrc::EMPTY_TRANSFORM);
  if (output) xmlXPathFreeNodeSet(output);
  output = result->nodesetval;
  result->nodesetval = nullptr;
}
