// The plans of a signed document's expressions: the XPointer framework's
// parts, the narrow road's forms, the road by libxml2's version; the bound of
// each XPath from the model (xmlboundmodel.h).
#include "xmlsig/xmlxpointerbound.h"

#include "xmlsig/xmlboundmodel.h"
#include "xmlsig/xmlboundprices.h"
#include "xmlsig/xmlmisc.h"

#include <libxml/parser.h>
#include <libxml/pattern.h>
#include <libxml/xpath.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <memory>

using namespace xmlbound;

namespace {

// The forms whose cost is linear in any libxml2 version. A path: name tests
// (a node() only in "//"), on the axes that walk down or up, each predicate an
// attribute equality or a position; an XPointer's a path, "/" or id('...'); a
// filter's also here(), not(), count() and a union, and comparisons of counts
// and numbers (never of node sets).
bool narrowPath(const Expr& e, bool filter) {
  if (e.kind != Kind::PATH || !e.filterPredicates.empty()) return false;
  if (e.hasFilter) {
    const Expr& f = *e.operands[0];
    if (!(filter && f.kind == Kind::CALL && f.text == "here" && f.operands.empty())) return false;
  }
  for (const Step& s : e.steps) {
    switch (s.axis) {
      case Axis::CHILD:
      case Axis::DESCENDANT:
      case Axis::DESCENDANT_OR_SELF:
      case Axis::SELF:
        break;
      case Axis::PARENT:
      case Axis::ANCESTOR:
      case Axis::ANCESTOR_OR_SELF:
        if (!filter) return false;
        break;
      default:
        return false;
    }
    if (s.test == Test::NODE && !(s.axis == Axis::DESCENDANT_OR_SELF && s.predicates.empty()) &&
        !(s.axis == Axis::SELF || s.axis == Axis::PARENT))
      return false;
    if (s.test == Test::TEXT || s.test == Test::OTHER) return false;
    for (const auto& p : s.predicates)
      if (!attributeEquality(*p) && p->kind != Kind::NUMBER) return false;
  }
  return true;
}

bool narrowForm(const Expr& e, bool filter) {
  switch (e.kind) {
    case Kind::PATH:
      return narrowPath(e, filter);
    case Kind::CALL:
      if (e.text == "id" && !filter)
        return e.operands.size() == 1 && e.operands[0]->kind == Kind::LITERAL;
      if (!filter) return false;
      if (e.text == "here") return e.operands.empty();
      if (e.text == "not" || e.text == "count" || e.text == "boolean")
        return e.operands.size() == 1 && narrowForm(*e.operands[0], filter);
      return e.text == "true" || e.text == "false";
    case Kind::EQUALITY:
    case Kind::RELATIONAL:
      // Numbers and truths only: a node set compared reads the string values
      // of its nodes (an element's, its whole subtree).
      for (const auto& o : e.operands)
        if (o->kind == Kind::PATH || o->kind == Kind::UNION ||
            (o->kind == Kind::CALL && o->text == "here"))
          return false;
      [[fallthrough]];
    case Kind::UNION:
    case Kind::OR_AND:
      if (!filter) return false;
      for (const auto& o : e.operands)
        if (!narrowForm(*o, filter)) return false;
      return true;
    case Kind::NUMBER:
      return filter;
    default:
      return false;
  }
}

// Whether libxml2's XPath compiler reads the text (compiling is linear and
// runs nothing).
bool libxml2Compiles(const std::string& body) {
  XmlQuietErrors quiet;
  std::unique_ptr<xmlXPathContext, void (*)(xmlXPathContextPtr)> ctxt(xmlXPathNewContext(nullptr),
                                                                      xmlXPathFreeContext);
  if (!ctxt) return true;  // unknown: refused as unreadable
  ctxt->error = xmlQuietStructuredError;
  xmlXPathCompExprPtr comp = xmlXPathCtxtCompile(ctxt.get(), BAD_CAST body.c_str());
  xmlXPathFreeCompExpr(comp);
  return comp != nullptr;
}

// Whether libxml2 would run the text with its streaming evaluator: no
// predicate, call, attribute or prefix (the context lists no namespaces for
// it) and a streamable pattern. Its compiled stream stays in libxml2's parser
// context, and each later part it does not stream runs that stream again.
bool libxml2Streams(const std::string& body) {
  if (body.find_first_of("[(@:") != std::string::npos) return false;
  XmlQuietErrors quiet;
  xmlPatternPtr stream =
      xmlPatterncompile(BAD_CAST body.c_str(), nullptr, XML_PATTERN_XPATH, nullptr);
  bool streams = stream && xmlPatternStreamable(stream) == 1;
  xmlFreePattern(stream);
  return streams;
}

// Counts of evaluations multiply with nested predicates and may pass the
// largest double; infinity times an empty set's size is NaN, which passes
// every comparison with the cap: such a bound refuses the expression.
bool boundIsNumber(double bound) { return !std::isnan(bound); }

// The XPointer framework as xmlXPtrEval reads it: a bare name or child
// sequence, or parts "scheme(body)" with ^ escaping parentheses and itself.
bool isFrameworkNameChar(unsigned char c) { return isNameChar(c) || c == ':'; }

// The evaluation's start and the expression's compilation.
double frameworkCost(const std::string& x) {
  return EVALUATION_START + static_cast<double>(x.size()) * COMPILE_OCTET;
}
// A child sequence or Id (a bare name, an element() part): each octet a step
// along a level's children (or the Id's hash), each child a visit. Over a
// wide document this is most of the bound of a short expression; libxml2
// walks it for those forms only, never for an xpointer() part.
double childSequenceCost(const std::string& x, const XmlXPointerDocStats& st) {
  return (static_cast<double>(x.size()) + 1) * st.maxFanOut * VISIT;
}

}  // namespace

XmlXPointerPlan xmlXPointerPlan(const std::string& expression, const XmlXPointerDocStats& st,
                                XmlBoundRoad road) {
  XmlXPointerPlan plan;
  const std::string& x = expression;
  size_t pos = 0;
  auto blanks = [&] {
    while (pos < x.size() && isBlank(static_cast<unsigned char>(x[pos]))) ++pos;
  };
  auto name = [&] {
    size_t start = pos;
    if (pos < x.size() && (isNameStart(static_cast<unsigned char>(x[pos])) || x[pos] == ':'))
      while (pos < x.size() && isFrameworkNameChar(static_cast<unsigned char>(x[pos]))) ++pos;
    return x.substr(start, pos - start);
  };
  const double childSequence = childSequenceCost(x, st);
  blanks();
  std::string scheme = name();
  if (scheme.empty() || pos >= x.size() || x[pos] != '(') {
    plan.accepted = true;
    plan.bound = plan.framework = frameworkCost(x) + childSequence;
    plan.rewritten = x;
    return plan;
  }
  ExpressionBound bound(st);
  size_t copied = 0;
  bool staleStream = false;  // a part libxml2 streamed selected nothing
  while (!scheme.empty()) {
    if (pos >= x.size() || x[pos] != '(') break;  // libxml2 stops with an error
    const size_t open = pos++;
    std::string body;
    int level = 1;
    while (pos < x.size()) {
      char ch = x[pos];
      if (ch == ')' && --level == 0) break;
      if (ch == '(') ++level;
      if (ch == '^' && pos + 1 < x.size() &&
          (x[pos + 1] == '(' || x[pos + 1] == ')' || x[pos + 1] == '^'))
        ch = x[++pos];
      body += ch;
      ++pos;
    }
    if (level != 0) break;  // unbalanced: libxml2 gives no result
    const size_t close = pos++;
    if (scheme == "xpointer") {
      ExprPtr e = parseXPath(body);
      if (!e) {
        // A syntax error stops libxml2 at this part, before it runs it, with
        // no result; a readable expression not read here is refused.
        // (range-to() is a step only in an XPointer, a syntax error elsewhere.)
        if (body.find("range-to") != std::string::npos || libxml2Compiles(body)) return plan;
        plan.rewritten += x.substr(copied, open + 1 - copied) + "())";  // one certain to fail
        copied = x.size();
        break;
      }
      if (road == XmlBoundRoad::NARROW && !narrowForm(*e, false)) return plan;
      const bool streams = libxml2Streams(body);
      if (staleStream && !streams) {
        // libxml2 runs the empty stream before it again: nothing, whatever the part says.
        plan.rewritten += x.substr(copied, open + 1 - copied) + "(/..)";
        copied = close;
        blanks();
        scheme = name();
        continue;
      }
      staleStream = streams;
      foldAll(*e);
      if (!bound.add(*e)) return plan;
      plan.rewritten +=
          x.substr(copied, open + 1 - copied) + "(" + x.substr(open + 1, close - open - 1) + ")";
      copied = close;
    } else if (scheme == "xmlns") {
      // Registered for the parts after it: every prefixed step looks it up.
      const size_t eq = body.find('=');
      std::string prefix = body.substr(0, eq == std::string::npos ? body.size() : eq);
      bound.xmlnsPrefixes += 1;
      bound.longestXmlnsPrefix =
          std::max(bound.longestXmlnsPrefix, static_cast<double>(prefix.size()));
    } else if (scheme == "element") {
      plan.framework += childSequence;
    }
    blanks();
    scheme = name();
  }
  plan.rewritten += x.substr(copied);
  plan.framework += frameworkCost(x);
  plan.bound = bound.work + plan.framework;
  plan.accepted = boundIsNumber(plan.bound);
  return plan;
}

namespace {
// libxml2 versions (xmlParserVersion) whose costs the check has passed on.
const char* const CHECKED_LIBXML2_VERSIONS[] = {"20914"};
std::atomic<int> roadOverride{-1};  // set by the cost check only; read by every plan

// TALVORIN_XML_NARROW_ROAD (any value but "" or "0") takes the narrow road
// whatever the version: the tests run once so to see what another libxml2 gives.
bool narrowRoadAsked() {
  static const bool asked = [] {
    const char* v = getenv("TALVORIN_XML_NARROW_ROAD");
    return v && *v && std::string(v) != "0";
  }();
  return asked;
}
}  // namespace

XmlBoundRoad xmlBoundRoad() {
  const int chosen = roadOverride.load();
  if (chosen >= 0) return static_cast<XmlBoundRoad>(chosen);
  if (narrowRoadAsked()) return XmlBoundRoad::NARROW;
  for (const char* v : CHECKED_LIBXML2_VERSIONS)
    if (xmlParserVersion && std::string(xmlParserVersion) == v) return XmlBoundRoad::FULL;
  return XmlBoundRoad::NARROW;
}

void xmlBoundOverrideRoad(const XmlBoundRoad* road) {
  roadOverride = road ? static_cast<int>(*road) : -1;
}

XmlXPointerPlan xmlXPathFilterPlan(const std::string& expression, const XmlXPointerDocStats& st,
                                   double evaluations, XmlBoundRoad road) {
  XmlXPointerPlan plan;
  ExprPtr e = parseXPath(expression);
  if (!e) return plan;
  if (road == XmlBoundRoad::NARROW && !narrowForm(*e, true)) return plan;
  foldAll(*e);
  // Compiled once; each evaluation starts anew and gives a truth (a set's
  // emptiness: sorted first, as the parentheses ask). The filter is asked
  // about namespace nodes too.
  ExpressionBound bound(st);
  if (!bound.add(*e, evaluations, st.namespaceNodes > 0)) return plan;
  plan.framework = std::max(1.0, evaluations) * FILTER_EVALUATION_START;
  plan.bound = bound.work + plan.framework;
  plan.accepted = boundIsNumber(plan.bound);
  plan.rewritten = "(" + expression + ")";
  return plan;
}
