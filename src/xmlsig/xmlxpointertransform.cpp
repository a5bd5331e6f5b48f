#include "xmlsig/xmlxpointertransform.h"

#include "base/commonerror.h"
#include "base/talexception.h"
#include "xmlsig/xmlmemcharge.h"
#include "xmlsig/xmlmisc.h"
#include "xmlsig/xmlxpathtransform.h"
#include "xmlsig/xmlxpointerbound.h"

#include <libxml/hash.h>
#include <libxml/valid.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>
#include <libxml/xpointer.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

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
    // In document order by the tree's own links: no list of the elements still
    // to visit, which a root of 100,000 children made a megabyte long.
    for (xmlNodePtr n = root; n; n = xmlNextInDocument(n, doc, n->type == XML_ELEMENT_NODE)) {
      if (n->type != XML_ELEMENT_NODE) continue;
      if (!budget.charge(1)) break;
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

const char* const SRC = "XML/libxmlsignature/xmlxpointertransform";

// libxml2 answers a bare name and an element() part that starts with an Id
// from its own table, which keeps the first of two elements claiming a value:
// an expression of those forms that holds such a value names nothing here, as
// in the Id forms (139). libxml2 reads a name up to the first character that
// cannot be in one, so each run of name characters of the expression is looked
// up in its table: linear in the expression, whatever the table holds (a scan
// of the table for every reference was quadratic with thousands of Ids).
bool isNameByte(unsigned char c) {
  return c >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '_' || c == '-' || c == '.' || c == ':';
}
void refuseSharedTabledIds(xmlNodePtr contextNode, const std::string& expression) {
  xmlDocPtr doc = contextNode->doc;
  if (!doc->ids ||
      (expression.find('(') != std::string::npos && expression.find("element") == std::string::npos))
    return;
  // The index of the open scope (the verification's, built once for all its references).
  XmlIdIndexScope* index = XmlIdIndexScope::of(doc);
  auto* table = static_cast<xmlHashTablePtr>(doc->ids);
  for (size_t i = 0; i < expression.size();) {
    if (!isNameByte(static_cast<unsigned char>(expression[i]))) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < expression.size() && isNameByte(static_cast<unsigned char>(expression[end]))) ++end;
    const std::string name = expression.substr(i, end - i);
    i = end;
    auto* id = static_cast<xmlIDPtr>(xmlHashLookup(table, BAD_CAST name.c_str()));
    if (!id) continue;
    xmlNodePtr tabled = id->attr ? id->attr->parent : nullptr;
    if (!tabled || index->find(name) != tabled) throw TalApiException(xmlrc::EMPTY_TRANSFORM);
  }
}

// libxml2 2.9's string-range() loops without end once a text matches (an
// element's "t" searched for "t" is enough), outside any count. What it gives, a
// range, is no node set a selection could use: it stops the evaluation as the
// operation limit would (140).
void refusedStringRange(xmlXPathParserContextPtr ctxt, int) noexcept {
  ctxt->context->opCount = ctxt->context->opLimit;
  xmlXPathErr(ctxt, XPATH_OP_LIMIT_EXCEEDED);
}

// Namespaces in scope of the context node could not be bound.
const int32_t NAMESPACES_FAILED = -1;

// libxml2's XPointer over the context node's document: here() the context
// node as libxml2's XPointer context gives it, its namespaces in scope bound,
// under the operation limit, what the tree left of the document's memory
// allowance and the work budget. fromDocument: the expression is a signed
// document's (a reference's URI): run only when the bound of its work is
// within XML_EXPRESSION_WORK_CAP and what the budget has left, which is charged with
// that bound; id() naming only what findNodeById finds; the tree only read.
// Otherwise the application's: the usual limit, id() and bare names as libxml2
// answers them, the document's Ids made known to libxml2 meanwhile. 0 with the
// result (null when libxml2 gave none; a node set sorted in document order);
// 140 past a limit or refused; 100 without a context.
int32_t evaluateXPointer(xmlNodePtr contextNode, const std::string& expression,
                         XmlWorkBudget& budget, bool fromDocument, xmlXPathObjectPtr* out) {
  *out = nullptr;
  xmlDocPtr doc = contextNode->doc;
  // Made within the memory scope below, taken back after it: a scope gone
  // over refuses large blocks, and libxml2 reads an Id's value anew (one such
  // block for a long one) to take it out of its table.
  std::optional<TemporaryIds> ids;
  std::string text = expression;
  uint64_t planned = 0;
  if (fromDocument) {
    std::shared_ptr<const XmlXPointerDocStats> stats = xmlXPointerDocumentStats(doc, budget);
    XmlXPointerPlan plan = xmlXPointerPlan(expression, *stats);
    if (!budget.charge(expression.size() / 8 + 1) || !plan.accepted ||
        plan.bound > XML_EXPRESSION_WORK_CAP || plan.bound > static_cast<double>(budget.remaining()))
      return xmlrc::TRANSFORM_FAILED;
    planned = static_cast<uint64_t>(plan.bound);
    text = std::move(plan.rewritten);
  }
  XmlMemoryScope memory(xmlDocumentMemoryLeft(doc), &budget);
  xmlXPathContextPtr ctxt = xmlXPtrNewContext(doc, contextNode, nullptr);
  if (!ctxt) return xmlrc::MEM;
  std::unique_ptr<xmlXPathContext, void (*)(xmlXPathContextPtr)> guard(ctxt, xmlXPathFreeContext);
  xmlLimitXPathContext(ctxt);
  if (registerInScopeNamespaces(ctxt, contextNode) != 0) return NAMESPACES_FAILED;
  xmlUseBoundedId(ctxt, fromDocument);
  xmlUseOwnLang(ctxt);
  xmlXPathRegisterFunc(ctxt, BAD_CAST "string-range", nullptr);  // drops libxml2's
  xmlXPathRegisterFunc(ctxt, BAD_CAST "string-range", refusedStringRange);
  ctxt->userData = &budget;
  memory.refuseLargeBlocksWhenOver();
  memory.onOver(xmlStopXPathEvaluation, ctxt);
  if (!fromDocument) ids.emplace(doc, budget);
  xmlXPathObjectPtr result;
  {
    XmlNoExternalScope scope;
    XmlQuietErrors quiet;
    XmlLibxmlWork work(budget, xmlStopXPathEvaluation, ctxt);
    result = xmlXPtrEval(BAD_CAST text.c_str(), ctxt);
  }
  if (!budget.charge(1 + std::max<uint64_t>(planned, ctxt->opCount), true) || memory.over() ||
      ctxt->opCount >= ctxt->opLimit) {
    xmlXPathFreeObject(result);
    return xmlrc::TRANSFORM_FAILED;
  }
  // The bound counted this sort.
  if (result && result->type == XPATH_NODESET && result->nodesetval)
    xmlXPathNodeSetSort(result->nodesetval);
  *out = result;
  return xmlrc::OK;
}

}  // namespace

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
  if (output) xmlXPathFreeNodeSet(output);
  output = nullptr;
  // The Id forms go through findNodeById, which refuses an Id that two
  // elements claim (libxml2's ID table would answer the first of them).
  std::string id;
  XmlFragmentKind kind = parseSameDocumentFragment(expression, &id);
  if (kind != XML_FRAGMENT_INVALID) {
    xmlNodePtr selected = reinterpret_cast<xmlNodePtr>(contextNode->doc);
    if (kind == XML_FRAGMENT_ID)
      findNodeById(contextNode, id.c_str(), &selected);  // 139 when not exactly one
    output = xmlXPathNodeSetCreate(selected);
    if (!output) throw TalApiException(xmlrc::MEM);
    return;
  }
  // id() answers as findNodeById does (the libxml2 table may hold the first of
  // two elements claiming an Id), from the parser's index when it has one open,
  // else from one index for this evaluation.
  std::optional<XmlIdIndexScope> index;
  if (!XmlIdIndexScope::of(contextNode->doc)) index.emplace(contextNode->doc);
  refuseSharedTabledIds(contextNode, expression);
  XmlWorkBudget own;
  xmlXPathObjectPtr result = nullptr;
  int32_t rc = evaluateXPointer(contextNode, expression, budget ? *budget : own, true, &result);
  std::unique_ptr<xmlXPathObject, void (*)(xmlXPathObjectPtr)> held(result, xmlXPathFreeObject);
  checkInvariant(rc != NAMESPACES_FAILED, SRC, 30, "0");
  if (rc != xmlrc::OK) throw TalApiException(rc);
  if (!result) throw TalApiException(xmlrc::EMPTY_TRANSFORM);
  // A location set (a range, a point) is no node set.
  if (result->type != XPATH_NODESET) throw TalApiException(xmlrc::TRANSFORM_FAILED);
  if (!result->nodesetval || result->nodesetval->nodeNr == 0)
    throw TalApiException(xmlrc::EMPTY_TRANSFORM);
  output = result->nodesetval;
  result->nodesetval = nullptr;
}

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
  xmlXPathObjectPtr result = nullptr;
  int32_t rc = evaluateXPointer(contextNode, expression, *budget, false, &result);
  std::unique_ptr<xmlXPathObject, void (*)(xmlXPathObjectPtr)> held(result, xmlXPathFreeObject);
  if (rc == NAMESPACES_FAILED) return xmlrc::MEM;
  if (rc != xmlrc::OK) return rc;
  if (!result || result->type != XPATH_NODESET) return xmlrc::INV_MSG;
  xmlNodeSetPtr set = result->nodesetval;
  if (!set) return xmlrc::OK;
  // Elements, and the document itself (what "xpointer(/)" names); not the
  // attributes, texts and namespace nodes an expression may also select.
  for (int i = 0; i < set->nodeNr; ++i)
    if (set->nodeTab[i] && (set->nodeTab[i]->type == XML_ELEMENT_NODE ||
                            set->nodeTab[i]->type == XML_DOCUMENT_NODE))
      elements.push_back(set->nodeTab[i]);
  return xmlrc::OK;
}
