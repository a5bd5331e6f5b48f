#include "xmlsig/xmlxpointertransform.h"

#include "base/commonerror.h"
#include "base/talexception.h"
#include "xmlsig/xmlmemcharge.h"
#include "xmlsig/xmlmisc.h"
#include "xmlsig/xmlxpathtransform.h"

#include <libxml/valid.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>
#include <libxml/xpointer.h>

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

XmlXPointerTransform::XmlXPointerTransform(xmlNodePtr contextNode, const std::string& expression)
    : XmlTransform(7, XML_DATA_NODESET, XML_DATA_OWN),
      contextNode(contextNode),
      expression(expression) {}

XmlXPointerTransform::~XmlXPointerTransform() {
  if (output) xmlXPathFreeNodeSet(output);
}

xmlNodeSetPtr XmlXPointerTransform::outputNodeSet() {
  xmlNodeSetPtr set = output;
  output = nullptr;
  return set;
}

void XmlXPointerTransform::apply() {
  if (!contextNode || !contextNode->doc || expression.empty() ||
      expression.size() > XML_MAX_EXPRESSION_LENGTH || expression.find('\0') != std::string::npos)
    throw TalApiException(xmlrc::TRANSFORM_FAILED);
  // Only the same-document forms are resolved, and never by libxml2's XPointer
  // engine: an arbitrary expression is refused, and an Id goes through
  // findNodeById, which refuses an Id that two elements claim (its ID table
  // would answer the first of them).
  std::string id;
  XmlFragmentKind kind = parseSameDocumentFragment(expression, &id);
  if (kind == XML_FRAGMENT_INVALID) throw TalApiException(xmlrc::TRANSFORM_FAILED);
  xmlNodePtr selected = reinterpret_cast<xmlNodePtr>(contextNode->doc);
  if (kind == XML_FRAGMENT_ID)
    findNodeById(contextNode, id.c_str(), &selected);  // 139 when not exactly one
  xmlNodeSetPtr set = xmlXPathNodeSetCreate(selected);
  if (!set) throw TalApiException(xmlrc::MEM);
  if (output) xmlXPathFreeNodeSet(output);
  output = set;
}

namespace {

// The Id, id and ID attributes of the document, made known to libxml2 for
// one evaluation only, so that bare names and id() select what the
// document's Ids name (a value two elements claim names neither, as in a
// reference's URI); the reference digests of the document never see them.
class TemporaryIds {
 public:
  TemporaryIds(xmlDocPtr doc, XmlWorkBudget& budget) : doc(doc) {
    std::vector<std::pair<std::string, xmlAttrPtr>> found;
    std::unordered_map<std::string, int> claims;
    xmlNodePtr root = xmlDocGetRootElement(doc);
    std::vector<xmlNodePtr> stack;
    if (root) stack.push_back(root);
    while (!stack.empty() && budget.charge(1)) {
      xmlNodePtr n = stack.back();
      stack.pop_back();
      for (xmlAttrPtr a = n->properties; a; a = a->next) {
        if (a->ns || !isIdName(a->name)) continue;
        xmlChar* value = xmlNodeListGetString(doc, a->children, 1);
        // A value with white space names nothing (a bare name has none, id()
        // splits there), and libxml2 could not take it back out of its table:
        // it removes the value with its spaces collapsed.
        if (value && *value && !hasWhiteSpace(value)) {
          std::string v(reinterpret_cast<const char*>(value));
          ++claims[v];
          if (a->atype != XML_ATTRIBUTE_ID) found.emplace_back(std::move(v), a);
        }
        xmlFree(value);
      }
      for (xmlNodePtr c = n->last; c; c = c->prev)
        if (c->type == XML_ELEMENT_NODE) stack.push_back(c);
    }
    added.reserve(found.size());  // no allocation between a registration and its record
    for (const auto& f : found)
      if (claims[f.first] == 1 && !xmlGetID(doc, BAD_CAST f.first.c_str()) &&
          xmlAddID(nullptr, doc, BAD_CAST f.first.c_str(), f.second))
        added.push_back(f.second);
  }
  ~TemporaryIds() {
    for (xmlAttrPtr a : added) xmlRemoveID(doc, a);
  }
  TemporaryIds(const TemporaryIds&) = delete;
  TemporaryIds& operator=(const TemporaryIds&) = delete;

 private:
  static bool hasWhiteSpace(const xmlChar* value) {
    for (; *value; ++value)
      if (*value == 0x20 || *value == 0x9 || *value == 0xA || *value == 0xD) return true;
    return false;
  }
  static bool isIdName(const xmlChar* name) {
    return xmlStrEqual(name, BAD_CAST "Id") || xmlStrEqual(name, BAD_CAST "id") ||
           xmlStrEqual(name, BAD_CAST "ID");
  }
  xmlDocPtr doc;
  std::vector<xmlAttrPtr> added;
};

}  // namespace

int32_t xmlXPointerSelectElements(xmlNodePtr contextNode, const std::string& expression,
                                  std::vector<xmlNodePtr>& elements, XmlWorkBudget* budget) {
  elements.clear();
  if (!contextNode || !contextNode->doc || expression.empty()) return xmlrc::INV_MSG;
  if (expression.size() > XML_MAX_EXPRESSION_LENGTH || expression.find('\0') != std::string::npos)
    return xmlrc::TRANSFORM_FAILED;
  std::unique_ptr<XmlWorkBudget> own;
  if (!budget) {
    own = std::make_unique<XmlWorkBudget>();
    budget = own.get();
  }
  xmlDocPtr doc = contextNode->doc;
  // Made within the memory scope below, taken back after it: a scope gone
  // over refuses large blocks, and libxml2 reads an Id's value anew (one such
  // block for a long one) to take it out of its table.
  std::optional<TemporaryIds> ids;
  // What the tree left of the document's allowance bounds the evaluation.
  XmlMemoryScope memory(xmlDocumentMemoryLeft(doc), budget);
  xmlXPathContextPtr ctxt = xmlXPtrNewContext(doc, contextNode, nullptr);
  if (!ctxt) return xmlrc::MEM;
  std::unique_ptr<xmlXPathContext, void (*)(xmlXPathContextPtr)> guard(ctxt, xmlXPathFreeContext);
  xmlLimitXPathContext(ctxt);
  if (registerInScopeNamespaces(ctxt, contextNode) != 0) return xmlrc::MEM;
  xmlUseBoundedId(ctxt);
  ctxt->userData = budget;
  memory.refuseLargeBlocksWhenOver();
  memory.onOver(xmlStopXPathEvaluation, ctxt);
  ids.emplace(doc, *budget);
  xmlXPathObjectPtr result;
  {
    XmlNoExternalScope scope;
    XmlQuietErrors quiet;
    result = xmlXPtrEval(BAD_CAST expression.c_str(), ctxt);
  }
  std::unique_ptr<xmlXPathObject, void (*)(xmlXPathObjectPtr)> held(result, xmlXPathFreeObject);
  if (!budget->charge(1 + ctxt->opCount, true) || memory.over() || ctxt->opCount >= ctxt->opLimit)
    return xmlrc::TRANSFORM_FAILED;
  if (!result || result->type != XPATH_NODESET) return xmlrc::INV_MSG;
  xmlNodeSetPtr set = result->nodesetval;
  if (!set) return xmlrc::OK;
  xmlXPathNodeSetSort(set);
  // Elements, and the document itself (what "xpointer(/)" names); not the
  // attributes, texts and namespace nodes an expression may also select.
  for (int i = 0; i < set->nodeNr; ++i)
    if (set->nodeTab[i] && (set->nodeTab[i]->type == XML_ELEMENT_NODE ||
                            set->nodeTab[i]->type == XML_DOCUMENT_NODE))
      elements.push_back(set->nodeTab[i]);
  return xmlrc::OK;
}
