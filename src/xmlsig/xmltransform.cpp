#include "xmlsig/xmltransform.h"

#include "base/commonerror.h"
#include "base/talexception.h"
#include "xmlsig/xmlconst.h"
#include "xmlsig/xmlmisc.h"
#include "xmlsig/xmlwalk.h"
#include "xmlsig/xmlxslttransform.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string_view>

namespace {
const char* const SRC = "src/xml/libxmlsignature/xmltransform";

const struct {
  std::string_view uri;
  uint32_t id;
} digestTable[] = {
    {xmlc::DIGEST_SHA1, 1},   {xmlc::DIGEST_SHA224, 2}, {xmlc::DIGEST_SHA256, 3},
    {xmlc::DIGEST_SHA384, 4}, {xmlc::DIGEST_SHA512, 5}, {xmlc::DIGEST_RIPEMD160, 7},
    {xmlc::DIGEST_MD5, 8},
};

}  // namespace

void XmlTransform::applyToFile(TVxmlDoc*) { checkInvariant(false, SRC, 129, "0"); }
void XmlTransform::applyToMemory(const uint8_t*, uint32_t) { checkInvariant(false, SRC, 128, "0"); }
void XmlTransform::applyToNode(xmlNodePtr) { checkInvariant(false, SRC, 127, "0"); }
void XmlTransform::applyToNodeSet(xmlNodeSetPtr) { checkInvariant(false, SRC, 126, "0"); }
void XmlTransform::applyToFilter(XmlNodeFilter*) { checkInvariant(false, SRC, 126, "0"); }
void XmlTransform::apply() { checkInvariant(false, SRC, 125, "0"); }

XmlWorkBudget::XmlWorkBudget(uint64_t limit, std::chrono::milliseconds time)
    : limit(limit), time(time), own(std::make_unique<WorkAccount>(limit, time)) {}

void XmlWorkBudget::shareAccount(std::shared_ptr<WorkAccount> shared) {
  if (!shared) return;
  document = std::move(shared);
  // One signature of a large document may take as much as the document's
  // size allows, and so may a kept signature's later work.
  limit = std::max(limit, document->limitUnits());
  own.reset();
}

WorkAccount& XmlWorkBudget::account() {
  if (document && !document->isClosed()) return *document;
  if (!own) own = std::make_unique<WorkAccount>(limit, time);
  return *own;
}

void XmlWorkBudget::restartClock() {
  if (document && !document->isClosed()) return;
  if (own && own->over()) return;
  own = std::make_unique<WorkAccount>(own ? own->remaining() : limit, time);
}

bool XmlWorkBudget::charge(uint64_t units, bool readClock) {
  XmlLibxmlWork::tick();
  WorkAccount& a = account();
  // Each charge stands for at most one callback's or one evaluation's work, so
  // the account's reading of the clock every few dozen of them keeps the net close.
  if (!a.charge(units)) return false;
  if (readClock) a.timeSpent();
  return !a.over();
}

namespace {
thread_local XmlLibxmlWork* currentWork = nullptr;
}  // namespace

XmlLibxmlWork::XmlLibxmlWork(XmlWorkBudget& budget, void (*stop)(void*), void* stopArgument)
    : account(budget.account()),
      enclosing(currentWork),
      owner(this),
      stop(stop),
      stopArgument(stopArgument) {
  for (XmlLibxmlWork* w = enclosing; w; w = w->enclosing)
    if (&w->account == &account) {
      owner = w->owner;
      break;
    }
  currentWork = this;
  // A section opened on a spent account stops at once.
  if (account.over()) passNet();
}

XmlLibxmlWork::~XmlLibxmlWork() {
  // Work that ticked too seldom for a check on the way (one long call into
  // libxml2 that neither allocates nor charges) is judged as it ends: past
  // the net, the account is over and the route answers 140.
  check();
  currentWork = enclosing;
}

void XmlLibxmlWork::tick() noexcept {
  XmlLibxmlWork* w = currentWork;
  if (!w || (++w->owner->ticks % XML_NET_TICKS) != 0) return;
  w->check();
}

void XmlLibxmlWork::check() noexcept {
  if (owner->stopped) return;
  // An account spent elsewhere (another signature's units, a path build's)
  // stops this work too.
  if (account.over() || account.timeSpent()) passNet();
}

void XmlLibxmlWork::passNet() noexcept {
  // The net stopped the work, whatever put the account over: the route
  // answers 140 however libxml2 reports the stop.
  if (!account.netPassed()) account.stop();
  owner->stopped = true;
  // Every section on this account stops its work: the canonicaliser around a
  // filter's evaluation would go on with its own per-element work.
  for (XmlLibxmlWork* w = this; w; w = w->enclosing) {
    if (w->stop) w->stop(w->stopArgument);
    if (w == owner) break;
  }
}

bool xmlOutsideDataModel(xmlNodePtr node) {
  switch (node->type) {
    case XML_DTD_NODE:
    case XML_ELEMENT_DECL:
    case XML_ATTRIBUTE_DECL:
    case XML_ENTITY_DECL:
    case XML_ENTITY_REF_NODE:
    case XML_ENTITY_NODE:
    case XML_NOTATION_NODE:
    case XML_XINCLUDE_START:
    case XML_XINCLUDE_END:
      return true;
    default:
      return false;
  }
}

xmlNodePtr xmlNextInDocument(xmlNodePtr n, xmlDocPtr doc, bool descend) {
  if (descend && n->children) return n->children;
  while (n && !n->next) {
    n = n->parent;
    if (n == reinterpret_cast<xmlNodePtr>(doc)) n = nullptr;
  }
  return n ? n->next : nullptr;
}

xmlNodePtr xmlEnclosingSignature(xmlNodePtr node) {
  int depth = 0;
  for (xmlNodePtr n = node ? node->parent : nullptr;
       n && n->type == XML_ELEMENT_NODE && depth <= XML_MAX_TREE_DEPTH * 2; n = n->parent, ++depth)
    if (xmlwalk::isIn(n, xmlc::DS_SIGNATURE, xmlc::NS_DSIG)) return n;
  return nullptr;
}

int32_t transformKindFromUri(const char* uri, int32_t* kind) {
  if (!uri) return xmlrc::NOT_IMPL;
  std::string_view u(uri);
  int32_t k = -1;
  if (u == xmlc::ALG_C14N)
    k = XML_TK_C14N;
  else if (u == xmlc::ALG_C14N_COMMENTS)
    k = XML_TK_C14N_COMMENTS;
  else if (u == xmlc::ALG_EXC_C14N)
    k = XML_TK_EXC_C14N;
  else if (u == xmlc::ALG_EXC_C14N_COMMENTS)
    k = XML_TK_EXC_C14N_COMMENTS;
  else if (u == xmlc::ALG_ENVELOPED)
    k = XML_TK_ENVELOPED;
  else if (u == xmlc::ALG_XPATH)
    k = XML_TK_XPATH;
  else if (u == xmlc::ALG_XSLT)
    k = XML_TK_XSLT;
  else if (digestIdFromUri(uri, nullptr))
    k = XML_TK_DIGEST;
  else if (u == xmlc::ALG_BASE64)
    k = XML_TK_BASE64;
  else
    return xmlrc::NOT_IMPL;
  if (kind) *kind = k;
  return xmlrc::OK;
}

bool digestIdFromUri(const char* uri, uint32_t* id) {
  if (!uri) return false;
  for (const auto& row : digestTable)
    if (row.uri == uri) {
      if (id) *id = row.id;
      return true;
    }
  return false;
}

bool digestUriFromId(uint32_t id, std::string* uri) {
  for (const auto& row : digestTable)
    if (row.id == id) {
      if (uri) *uri = std::string(row.uri);
      return true;
    }
  return false;
}

void readInclusiveNamespaces(xmlNodePtr element, std::vector<std::string>& prefixes) {
  prefixes.clear();
  if (!element) return;
  std::string text;
  if (!xmlwalk::propOf(element, "PrefixList", text)) return;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && strchr(" \t\r\n", text[i])) ++i;
    size_t j = i;
    while (j < text.size() && !strchr(" \t\r\n", text[j])) ++j;
    if (j > i) prefixes.push_back(text.substr(i, j - i));
    i = j;
  }
}

void readTransformParams(const XmlTransformContext* context, xmlNodePtr transformElement,
                         XmlTransformParam& param) {
  if (!transformElement) throw TalApiException(xmlrc::INV_MSG);
  switch (param.kind) {
    case XML_TK_BASE64:
    case XML_TK_C14N:
    case XML_TK_C14N_COMMENTS:
      return;
    case XML_TK_ENVELOPED: {
      std::string p = "ds";
      if (transformElement->ns && transformElement->ns->prefix)
        p = reinterpret_cast<const char*>(transformElement->ns->prefix);
      param.expression = "count(ancestor-or-self::" + p + ":" +
                         "Signature | here()/ancestor::" + p + ":" +
                         "Signature[1]) > count(ancestor-or-self::" + p + ":" + "Signature)";
      return;
    }
    case XML_TK_XPATH: {
      xmlNodePtr child = firstElement(transformElement->children);
      if (!child || !xmlStrEqual(child->name, BAD_CAST xmlc::DS_XPATH.data()))
        throw TalApiException(xmlrc::INV_MSG);
      std::string expr = xmlwalk::contentOf(child);
      if (expr.empty() || expr.size() > XML_MAX_EXPRESSION_LENGTH)
        throw TalApiException(xmlrc::INV_MSG);
      param.expression = expr;
      return;
    }
    case XML_TK_XSLT: {
      xmlNodePtr sheet = firstElement(transformElement->children);
      if (!isElement(sheet, xmlc::XSL_STYLESHEET.data(), xmlc::NS_XSLT.data()) ||
          !nodeNamespaceUri(sheet))
        throw TalApiException(xmlrc::INV_MSG);
      xmlNodePtr include = firstElement(sheet->children);
      if (!isElement(include, xmlc::XSL_INCLUDE.data(), xmlc::NS_XSLT.data()) ||
          !nodeNamespaceUri(include))
        throw TalApiException(xmlrc::INV_MSG);
      std::string name;
      if (!xmlwalk::propOf(include, "href", name)) throw TalApiException(xmlrc::INV_MSG);
      if (!context || !context->isStylesheetAdmitted(name)) throw TalApiException(xmlrc::INV_MSG);
      xsltStylesheetPtr xslt = XsltStylesheetCache::instance().find(name.c_str());
      checkInvariant(xslt != nullptr, SRC, __LINE__, "xslt != NULL");
      param.stylesheet = xslt;
      return;
    }
    case XML_TK_EXC_C14N:
    case XML_TK_EXC_C14N_COMMENTS: {
      xmlNodePtr child = firstElement(transformElement->children);
      if (child) readInclusiveNamespaces(child, param.inclusivePrefixes);
      return;
    }
    default:
      throw TalApiException(xmlrc::NOT_IMPL);
  }
}
