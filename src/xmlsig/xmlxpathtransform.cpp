#include "xmlsig/xmlxpathtransform.h"

#include "base/commonerror.h"
#include "base/talexception.h"
#include "xmlsig/xmlc14transform.h"
#include "xmlsig/xmlconst.h"
#include "xmlsig/xmlmemcharge.h"
#include "xmlsig/xmlmisc.h"
#include "xmlsig/xmlwalk.h"
#include "xmlsig/xmlxpointerbound.h"

#include <libxml/globals.h>
#include <libxml/valid.h>
#include <libxml/xpathInternals.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <unordered_set>
#include <vector>

namespace {
const char* const SRC = "XML/libxmlsignature/xmlxpathtransform";

// Bytes an evaluation may hold, per octet of the document's serialisation: a
// few string values of the whole document.
const uint64_t EVALUATION_BYTES_PER_OCTET = 8;


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

bool isXmlSpace(xmlChar c) { return c == 0x20 || c == 0x9 || c == 0xA || c == 0xD; }

// id(), as libxml2 defines it but with duplicates found in a hash table: its
// own version searches the result for every Id token, quadratic in the number
// of elements a long string of Ids names. Tokens are charged to the budget.
// uniqueOnly: a token names the one element findNodeById finds (from the Id
// index open for the document; none without one), not libxml2's table entry.
void boundedId(xmlXPathParserContextPtr ctxt, int nargs, bool uniqueOnly) {
  if (nargs != 1) {
    xmlXPathErr(ctxt, XPATH_INVALID_ARITY);
    return;
  }
  xmlXPathObjectPtr arg = valuePop(ctxt);
  if (!arg) {
    xmlXPathErr(ctxt, XPATH_INVALID_OPERAND);
    return;
  }
  std::vector<xmlChar*> texts;
  if (arg->type == XPATH_NODESET || arg->type == XPATH_XSLT_TREE) {
    for (int i = 0; arg->nodesetval && i < arg->nodesetval->nodeNr; ++i)
      texts.push_back(xmlXPathCastNodeToString(arg->nodesetval->nodeTab[i]));
  } else {
    texts.push_back(xmlXPathCastToString(arg));
  }
  xmlXPathFreeObject(arg);
  auto* budget = static_cast<XmlWorkBudget*>(ctxt->context->userData);
  xmlNodeSetPtr out = xmlXPathNodeSetCreate(nullptr);
  std::unordered_set<xmlNodePtr> seen;
  bool ok = out != nullptr;
  for (xmlChar* text : texts) {
    for (const xmlChar* p = text; ok && p && *p;) {
      while (isXmlSpace(*p)) ++p;
      const xmlChar* end = p;
      while (*end && !isXmlSpace(*end)) ++end;
      if (end == p) break;
      if (budget && !budget->charge(1)) ok = false;
      xmlNodePtr element = nullptr;
      if (uniqueOnly) {
        XmlIdIndexScope* index = XmlIdIndexScope::of(ctxt->context->doc);
        if (index)
          element = index->find(
              std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(end - p)));
      } else {
        xmlChar* token = xmlStrndup(p, static_cast<int>(end - p));
        xmlAttrPtr attr = token ? xmlGetID(ctxt->context->doc, token) : nullptr;
        xmlFree(token);
        // An Id names the element holding it; anything else (the document node
        // a stale table could give) is no result.
        if (attr && attr->type == XML_ATTRIBUTE_NODE)
          element = attr->parent;
        else if (attr && reinterpret_cast<xmlNodePtr>(attr)->type == XML_ELEMENT_NODE)
          element = reinterpret_cast<xmlNodePtr>(attr);
      }
      if (element && element->type != XML_ELEMENT_NODE) element = nullptr;
      if (element && seen.insert(element).second && xmlXPathNodeSetAddUnique(out, element) < 0)
        ok = false;
      p = end;
    }
    xmlFree(text);
  }
  if (!ok) {
    xmlXPathFreeNodeSet(out);
    xmlXPathErr(ctxt, XPATH_MEMORY_ERROR);
    return;
  }
  valuePush(ctxt, xmlXPathWrapNodeSet(out));
}

// Called from libxml2's C frames: nothing may unwind through them.
void boundedIdFunction(xmlXPathParserContextPtr ctxt, int nargs) noexcept {
  try {
    boundedId(ctxt, nargs, false);
  } catch (...) {
    xmlXPathErr(ctxt, XPATH_MEMORY_ERROR);
  }
}
void uniqueIdFunction(xmlXPathParserContextPtr ctxt, int nargs) noexcept {
  try {
    boundedId(ctxt, nargs, true);
  } catch (...) {
    xmlXPathErr(ctxt, XPATH_MEMORY_ERROR);
  }
}

// lang() as libxml2 defines it (the nearest xml:lang of the context node or
// its ancestors, compared case-blind to the argument's end, then the value's
// end or a '-'), reading the tree's attributes only. libxml2's own asks the
// DTD at every ancestor without one when the document has an internal subset,
// building and hashing the element's qualified name each time: work that
// grows with the length of names and that no count sees. Documents here are
// parsed with their default attributes put in the tree, so the DTD would add
// nothing. Each node and attribute looked at is charged.
void ownLang(xmlXPathParserContextPtr ctxt, int nargs) noexcept {
  CHECK_ARITY(1);
  CAST_TO_STRING;
  CHECK_TYPE(XPATH_STRING);
  xmlXPathObjectPtr arg = valuePop(ctxt);
  const xmlChar* lang = arg->stringval;
  xmlAttrPtr found = nullptr;
  uint64_t looked = 0;
  xmlNodePtr n = ctxt->context->node;
  for (; n && n->type != XML_NAMESPACE_DECL && !found; n = n->parent) {
    ++looked;
    if (n->type != XML_ELEMENT_NODE) continue;
    for (xmlAttrPtr a = n->properties; a && !found; a = a->next) {
      ++looked;
      // The prefix before the URI: only "xml" may name the xml namespace, and
      // look-alike URIs under other prefixes would each be read to their end.
      if (a->ns && xmlStrEqual(a->name, BAD_CAST "lang") &&
          xmlStrEqual(a->ns->prefix, BAD_CAST "xml") &&
          xmlStrEqual(a->ns->href, XML_XML_NAMESPACE))
        found = a;
    }
  }
  int ret = 0;
  if (found && lang) {
    xmlChar* copy = nullptr;  // a value not held by one text node (rare: parsed ones are)
    const xmlChar* value = BAD_CAST "";
    xmlNodePtr t = found->children;
    if (t && !t->next && (t->type == XML_TEXT_NODE || t->type == XML_CDATA_SECTION_NODE))
      value = t->content ? t->content : value;
    else if (t && (copy = xmlNodeListGetString(found->doc, t, 1)))
      value = copy;
    int i = 0;
    while (lang[i] && toupper(lang[i]) == toupper(value[i])) ++i;
    ret = !lang[i] && (!value[i] || value[i] == '-');
    looked += static_cast<uint64_t>(i);
    xmlFree(copy);
  }
  if (auto* budget = static_cast<XmlWorkBudget*>(ctxt->context->userData)) budget->charge(looked);
  xmlXPathFreeObject(arg);
  valuePush(ctxt, xmlXPathNewBoolean(ret));
}

// Whether two prefixes are equal, adding the octets compared to `octets`
// (prefixes that share a long start cost their length each time).
bool samePrefix(const xmlChar* a, const xmlChar* b, uint64_t& octets) {
  if (a == b) return true;
  if (!a || !b) return false;
  size_t i = 0;
  while (a[i] && a[i] == b[i]) ++i;
  octets += i + 1;
  return a[i] == b[i];
}

// The namespace nodes of an element as XPath sees them: the nearest
// declaration of each prefix in scope (undeclarations included). Gives the
// work done: the declarations and the octets of the prefixes compared.
uint64_t namespacesInScope(xmlNodePtr element, std::vector<xmlNsPtr>& out) {
  out.clear();
  uint64_t work = 0;
  int depth = 0;
  for (xmlNodePtr n = element; n && n->type == XML_ELEMENT_NODE && depth <= XML_MAX_TREE_DEPTH * 2;
       n = n->parent, ++depth)
    for (xmlNsPtr d = n->nsDef; d; d = d->next) {
      bool shadowed = false;
      ++work;
      for (xmlNsPtr seen : out)
        if (samePrefix(seen->prefix, d->prefix, work)) {
          shadowed = true;
          break;
        }
      if (!shadowed) out.push_back(d);
    }
  return work;
}
// The expression with the white space between its tokens dropped; empty when
// white space stands between two name characters (no recognised text has it).
std::string withoutSpace(const std::string& text) {
  auto nameChar = [](unsigned char c) {
    return c >= 0x80 || isalnum(c) || c == '-' || c == '_' || c == '.' || c == ':';
  };
  std::string out;
  for (size_t i = 0; i < text.size();) {
    if (!isXmlSpace(static_cast<xmlChar>(text[i]))) {
      out += text[i++];
      continue;
    }
    while (i < text.size() && isXmlSpace(static_cast<xmlChar>(text[i]))) ++i;
    if (!out.empty() && i < text.size() && nameChar(static_cast<unsigned char>(out.back())) &&
        nameChar(static_cast<unsigned char>(text[i])))
      return std::string();
  }
  return out;
}

// The prefix P when text is pattern with each '%' standing for P (one prefix
// throughout); empty otherwise.
std::string onePrefix(const std::string& text, const std::string& pattern) {
  const size_t at = pattern.find('%');
  if (at == std::string::npos || text.compare(0, at, pattern, 0, at) != 0) return std::string();
  const size_t colon = text.find(':', at);
  if (colon == std::string::npos || colon == at) return std::string();
  const std::string prefix = text.substr(at, colon - at);
  std::string expected;
  for (char c : pattern) c == '%' ? expected += prefix : expected += c;
  return expected == text ? prefix : std::string();
}

// The nearest declaration of prefix in scope of element, read from the tree
// (libxml2's search may add the xml namespace to the document).
const xmlChar* namespaceInScope(xmlNodePtr element, const std::string& prefix) {
  for (xmlNodePtr n = element; n && n->type == XML_ELEMENT_NODE; n = n->parent)
    for (xmlNsPtr d = n->nsDef; d; d = d->next)
      if (d->prefix && prefix == reinterpret_cast<const char*>(d->prefix)) return d->href;
  return nullptr;
}
}  // namespace

void xmlStopXPathEvaluation(void* context) {
  auto* ctxt = static_cast<xmlXPathContextPtr>(context);
  ctxt->opCount = ctxt->opLimit;
}

void xmlUseBoundedId(xmlXPathContextPtr ctxt, bool uniqueOnly) {
  xmlXPathRegisterFunc(ctxt, BAD_CAST "id", nullptr);  // drops libxml2's own
  xmlXPathRegisterFunc(ctxt, BAD_CAST "id", uniqueOnly ? uniqueIdFunction : boundedIdFunction);
}

void xmlUseOwnLang(xmlXPathContextPtr ctxt) {
  xmlXPathRegisterFunc(ctxt, BAD_CAST "lang", nullptr);  // drops libxml2's own
  xmlXPathRegisterFunc(ctxt, BAD_CAST "lang", ownLang);
}

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

XmlXPathTransform::~XmlXPathTransform() { release(); }

xmlNodeSetPtr XmlXPathTransform::outputNodeSet() {
  checkInvariant(false, SRC, __LINE__, "outputFilter() != NULL");
  return nullptr;
}

void XmlXPathTransform::release() {
  if (comp) xmlXPathFreeCompExpr(comp);
  if (ctxt) xmlXPathFreeContext(ctxt);
  comp = nullptr;
  ctxt = nullptr;
  prepared = false;
}

XmlXPathTransform::Form XmlXPathTransform::recognise() const {
  static const std::string enclosingSignature =
      "count(ancestor-or-self::%:Signature|here()/ancestor::%:Signature[1])>"
      "count(ancestor-or-self::%:Signature)";
  static const std::string everySignature = "not(ancestor-or-self::%:Signature)";
  const std::string text = withoutSpace(expression);
  Form found = Form::ENCLOSING_SIGNATURE;
  std::string prefix = onePrefix(text, enclosingSignature);
  if (prefix.empty()) {
    found = Form::EVERY_SIGNATURE;
    prefix = onePrefix(text, everySignature);
  }
  if (prefix.empty() || xmlValidateNCName(BAD_CAST prefix.c_str(), 0) != 0) return Form::GENERAL;
  const xmlChar* uri = namespaceInScope(contextNode, prefix);
  if (!uri || !xmlStrEqual(uri, BAD_CAST xmlc::NS_DSIG.data())) return Form::GENERAL;
  return found;
}

bool XmlXPathTransform::wholeElements(xmlNodePtr& apex, xmlNodePtr& hole) const {
  if (!prepared || form == Form::GENERAL) return false;
  apex = nullptr;
  hole = form == Form::ENCLOSING_SIGNATURE ? enclosing : nullptr;
  return true;
}

int XmlXPathTransform::visible(xmlNodePtr node, xmlNodePtr parent) {
  if (!prepared || failed != 0 || !node || xmlOutsideDataModel(node)) return 0;
  if (form == Form::ENCLOSING_SIGNATURE) return enclosingTree.contains(node, parent) ? 0 : 1;
  if (form == Form::EVERY_SIGNATURE) {
    // A namespace or attribute node by its element (an attribute's namespace names the attribute).
    xmlNodePtr n = node->type == XML_NAMESPACE_DECL ? parent : node;
    if (n && n->type == XML_ATTRIBUTE_NODE) n = n->parent;
    uint64_t looked = 1;
    for (; n && n->type != XML_DOCUMENT_NODE; n = n->parent, ++looked)
      if (xmlwalk::isIn(n, xmlc::DS_SIGNATURE, xmlc::NS_DSIG)) break;
    if (!spendOn->charge(looked)) failed = xmlrc::TRANSFORM_FAILED;
    return n && n->type != XML_DOCUMENT_NODE ? 0 : 1;
  }
  XmlWorkBudget& b = *spendOn;
  xmlNodePtr context = node;
  xmlNs copy;
  if (node->type == XML_NAMESPACE_DECL) {
    // XPath knows a namespace node by the element it belongs to (in `next`);
    // the canonicaliser names an attribute for an attribute's namespace.
    if (parent && parent->type == XML_ATTRIBUTE_NODE) parent = parent->parent;
    memcpy(&copy, node, sizeof copy);
    copy.next = reinterpret_cast<xmlNsPtr>(parent);
    context = reinterpret_cast<xmlNodePtr>(&copy);
  }
  ctxt->node = context;
  ctxt->contextSize = 1;
  ctxt->proximityPosition = 1;
  ctxt->opCount = 0;
  ctxt->opLimit = XML_XPATH_NODE_OP_LIMIT;
  ctxt->userData = &b;
  int result;
  // Its operation count does not see the bytes it moves (string values of
  // large node sets, concat(), node-set comparisons): what it allocates is
  // charged, against a cap of its own and, for large blocks, to the budget.
  XmlMemoryScope evaluation(evaluationByteCap, &b);
  evaluation.refuseLargeBlocksWhenOver();
  evaluation.onOver(xmlStopXPathEvaluation, ctxt);
  {
    XmlNoExternalScope scope;
    XmlQuietErrors quiet;
    XmlLibxmlWork work(b, xmlStopXPathEvaluation, ctxt);
    result = xmlXPathCompiledEvalToBoolean(comp, ctxt);
  }
  bool withinBudget = b.charge(std::max<uint64_t>(perEvaluation, 1 + ctxt->opCount), true);
  if (result < 0 || evaluation.over() || !withinBudget) {
    failed = xmlrc::TRANSFORM_FAILED;
    return 0;
  }
  return result;
}

void XmlXPathTransform::apply() {
  release();
  failed = 0;
  form = Form::GENERAL;
  enclosing = nullptr;
  ownBudget.reset();
  spendOn = budget;
  if (!spendOn) {
    ownBudget = std::make_unique<XmlWorkBudget>();
    spendOn = ownBudget.get();
  }
  if (!contextNode || !contextNode->doc || expression.empty() ||
      expression.size() > XML_MAX_EXPRESSION_LENGTH || expression.find('\0') != std::string::npos)
    throw TalApiException(xmlrc::TRANSFORM_FAILED);
  xmlDocPtr doc = contextNode->doc;
  if (allowRecognised) {
    // Read once; the canonicaliser's walk pays for the selection as it goes.
    if (!spendOn->charge(expression.size() / 8 + 1)) throw TalApiException(xmlrc::TRANSFORM_FAILED);
    form = recognise();
    // here()'s signature is the nearest one above the expression's element:
    // without one the filter selects nothing, which the general road answers.
    if (form == Form::ENCLOSING_SIGNATURE) enclosing = xmlEnclosingSignature(contextNode);
    if (form == Form::ENCLOSING_SIGNATURE && !enclosing) form = Form::GENERAL;
    if (form != Form::GENERAL) {
      enclosingTree = XmlSubtree(enclosing);
      prepared = true;
      return;
    }
  }
  // Each node of the filter's input is one evaluation: the bound of them all
  // is refused before anything runs when past the cap or what the budget has
  // left, and each evaluation charges its share (the search below and the
  // canonicaliser's pass may each ask about every node).
  // The statistics count them (nodes, attributes, a namespace node per element
  // and declaration in scope), gathered once for all the references.
  std::shared_ptr<const XmlXPointerDocStats> stats = xmlXPointerDocumentStats(doc, *spendOn);
  const double evaluations = stats->nodes;
  if (evaluations > static_cast<double>(XML_XPATH_MAX_NODES))
    throw TalApiException(xmlrc::TRANSFORM_FAILED);
  const XmlXPointerPlan plan = xmlXPathFilterPlan(expression, *stats, evaluations);
  if (!plan.accepted || plan.bound > XML_EXPRESSION_WORK_CAP ||
      plan.bound > static_cast<double>(spendOn->remaining()))
    throw TalApiException(xmlrc::TRANSFORM_FAILED);
  perEvaluation = static_cast<uint64_t>(plan.bound / evaluations) + 1;
  evaluationByteCap =
      EVALUATION_BYTES_PER_OCTET * static_cast<uint64_t>(xmlProfileDocument(doc).size) + (4u << 20);
  // The search below against what the document's tree left of its allowance;
  // its evaluations share one clock of the processor-time net.
  XmlMemoryScope memory(xmlDocumentMemoryLeft(doc));
  XmlLibxmlWork work(*spendOn);
  ctxt = xmlXPathNewContext(doc);
  if (!ctxt) throw TalApiException(xmlrc::MEM);
  xmlLimitXPathContext(ctxt);
  checkInvariant(registerInScopeNamespaces(ctxt, contextNode) == 0, SRC, 58, "0");
  for (const auto& ns : namespaces) {
    if (xmlXPathNsLookup(ctxt, BAD_CAST ns.first.c_str())) continue;
    if (xmlXPathRegisterNs(ctxt, BAD_CAST ns.first.c_str(), BAD_CAST ns.second.c_str()) != 0) {
      release();
      throw TalApiException(xmlrc::TRANSFORM_FAILED);
    }
  }
  xmlXPathRegisterFunc(ctxt, BAD_CAST "here", hereFunction);
  xmlUseBoundedId(ctxt);
  ctxt->xptr = 1;
  ctxt->here = contextNode;
  ctxt->node = contextNode;
  xmlUseOwnLang(ctxt);
  {
    // What libxml2 cannot read is refused as written; what it reads runs in
    // parentheses, which keep it from its streaming evaluator (whose work
    // grows with nested "//" steps outside any count).
    XmlNoExternalScope scope;
    comp = xmlXPathCtxtCompile(ctxt, BAD_CAST expression.c_str());
    if (comp) {
      xmlXPathFreeCompExpr(comp);
      comp = xmlXPathCtxtCompile(ctxt, BAD_CAST plan.rewritten.c_str());
    }
  }
  if (!comp) {
    release();
    throw TalApiException(xmlrc::TRANSFORM_FAILED);
  }
  prepared = true;
  // The first selected node in document order (the document node, then each
  // node followed by its namespace nodes and attributes): none is 139, and a
  // failing evaluation is 140 here rather than halfway through canonicalising.
  auto stops = [this](xmlNodePtr node, xmlNodePtr parent) {
    return visible(node, parent) == 1 || failed != 0;
  };
  // libxml2's XPath shows the xml namespace on every element.
  xmlNs xmlNamespace{};
  xmlNamespace.type = XML_NAMESPACE_DECL;
  xmlNamespace.href = XML_XML_NAMESPACE;
  xmlNamespace.prefix = BAD_CAST "xml";
  std::vector<xmlNsPtr> inScope;
  bool found = stops(reinterpret_cast<xmlNodePtr>(doc), nullptr);
  for (xmlNodePtr n = doc->children; n && !found;) {
    found = !xmlOutsideDataModel(n) && stops(n, n->parent);
    if (!found && n->type == XML_ELEMENT_NODE) {
      spendOn->charge(namespacesInScope(n, inScope) + 1);
      found = stops(reinterpret_cast<xmlNodePtr>(&xmlNamespace), n);
      for (size_t i = 0; !found && i < inScope.size(); ++i)
        found = stops(reinterpret_cast<xmlNodePtr>(inScope[i]), n);
      for (xmlAttrPtr a = n->properties; a && !found; a = a->next)
        found = stops(reinterpret_cast<xmlNodePtr>(a), n);
    }
    if (!found) n = xmlNextInDocument(n, doc, n->type == XML_ELEMENT_NODE);
    if (memory.over()) failed = xmlrc::INV_MSG;
  }
  if (failed != 0) {
    int32_t code = failed;
    release();
    throw TalApiException(code);
  }
  if (!found) {
    release();
    throw TalApiException(xmlrc::EMPTY_TRANSFORM);
  }
}
