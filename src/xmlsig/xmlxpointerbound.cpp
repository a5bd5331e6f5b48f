#include "xmlsig/xmlxpointerbound.h"

#include "xmlsig/xmlmisc.h"

#include <libxml/parser.h>
#include <libxml/pattern.h>
#include <libxml/xpath.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

namespace {

std::string_view localName(const xmlChar* name) {
  return name ? std::string_view(reinterpret_cast<const char*>(name)) : std::string_view();
}

// A node of the statistics' walk: the step, and a table's look-up by a name
// (hashed: its octets are priced apart).
const double WALK_NODE = 16;

double length(const xmlChar* text) { return text ? static_cast<double>(xmlStrlen(text)) : 0; }

// The longest local name, prefix and namespace URI, a name of n and its namespace.
void noteName(XmlXPointerDocStats& st, const xmlChar* name, xmlNsPtr ns) {
  st.maxLocalNameLength = std::max(st.maxLocalNameLength, length(name));
  if (!ns) return;
  st.maxPrefixLength = std::max(st.maxPrefixLength, length(ns->prefix));
  st.maxNamespaceUriLength = std::max(st.maxNamespaceUriLength, length(ns->href));
}

}  // namespace

XmlXPointerDocStats xmlXPointerGatherStats(xmlDocPtr doc) {
  XmlXPointerDocStats st;
  struct Level {
    xmlNodePtr node;
    double depth;
    double namespaces;     // declarations in scope (an upper bound), xml's included
    double namespaceText;  // octets of their URIs, the string values of the namespace nodes
  };
  std::vector<Level> stack{{doc->children, 1, 1, length(XML_XML_NAMESPACE)}};
  double rootFanOut = 0;
  for (xmlNodePtr c = doc->children; c; c = c->next) ++rootFanOut;
  st.maxFanOut = rootFanOut;
  while (!stack.empty()) {
    Level& top = stack.back();
    xmlNodePtr n = top.node;
    if (!n) {
      stack.pop_back();
      continue;
    }
    top.node = n->next;
    const double depth = top.depth;
    double namespaces = top.namespaces;
    double namespaceText = top.namespaceText;
    st.nodes += 1;
    st.walkCost += WALK_NODE;
    st.maxDepth = std::max(st.maxDepth, depth);
    st.depthSum += depth;
    if (n->type != XML_ELEMENT_NODE) {
      if (n->content) st.textLength += static_cast<double>(xmlStrlen(n->content));
      continue;
    }
    st.elements += 1;
    if (reinterpret_cast<ptrdiff_t>(n->content) >= 0) st.ordered = false;
    st.elementsByName[localName(n->name)] += 1;
    st.walkCost += WALK_NODE + length(n->name);
    noteName(st, n->name, n->ns);
    st.maxNameLength = std::max(
        st.maxNameLength, static_cast<double>(xmlStrlen(n->name)) +
                              (n->ns ? xmlStrlen(n->ns->href) + xmlStrlen(n->ns->prefix) : 0));
    for (xmlNsPtr d = n->nsDef; d; d = d->next) {
      namespaces += 1;
      namespaceText += static_cast<double>(xmlStrlen(d->href));
      noteName(st, nullptr, d);
      st.maxNameLength = std::max(st.maxNameLength,
                                  static_cast<double>(xmlStrlen(d->href) + xmlStrlen(d->prefix)));
    }
    st.maxNamespacesInScope = std::max(st.maxNamespacesInScope, namespaces);
    st.namespaceNodes += namespaces;
    st.nodes += namespaces;
    st.depthSum += namespaces * (depth + 1);
    st.textLength += namespaceText;
    double attributes = 0;
    for (xmlAttrPtr a = n->properties; a; a = a->next) {
      attributes += 1;
      st.attributesByName[localName(a->name)] += 1;
      st.walkCost += WALK_NODE + 2 * length(a->name);
      noteName(st, a->name, a->ns);
      const xmlNodePtr v = a->children;
      if (!v)
        st.attributesByValue[localName(a->name)][std::string_view()] += 1;
      else if (v->type == XML_TEXT_NODE && !v->next && v->content)
        st.attributesByValue[localName(a->name)][localName(v->content)] += 1;
      else
        st.attributesValueUnknown.insert(localName(a->name));
      st.maxNameLength = std::max(
          st.maxNameLength, static_cast<double>(xmlStrlen(a->name)) +
                                (a->ns ? xmlStrlen(a->ns->href) + xmlStrlen(a->ns->prefix) : 0));
      double length = 0;
      for (xmlNodePtr t = a->children; t; t = t->next)
        if (t->content) length += static_cast<double>(xmlStrlen(t->content));
      st.walkCost += length;  // the value's key
      st.textLength += length;
      st.maxAttributeLength = std::max(st.maxAttributeLength, length);
    }
    st.attributes += attributes;
    st.nodes += attributes;
    st.depthSum += attributes * (depth + 1);
    st.maxAttributes = std::max(st.maxAttributes, attributes);
    double fanOut = 0;
    for (xmlNodePtr c = n->children; c; c = c->next) ++fanOut;
    st.maxFanOut = std::max(st.maxFanOut, fanOut);
    if (n->children) stack.push_back({n->children, depth + 1, namespaces, namespaceText});
  }
  return st;
}

std::shared_ptr<const XmlXPointerDocStats> xmlXPointerDocumentStats(xmlDocPtr doc,
                                                                    XmlWorkBudget& budget) {
  XmlIdIndexScope* scope = XmlIdIndexScope::of(doc);
  if (scope && scope->xpointerStats) return scope->xpointerStats;
  auto stats = std::make_shared<const XmlXPointerDocStats>(xmlXPointerGatherStats(doc));
  budget.charge(static_cast<uint64_t>(stats->walkCost) + 1);
  if (scope) scope->xpointerStats = stats;
  return stats;
}

namespace {

// ---- XPath 1.0 as libxml2 reads it ------------------------------------------

enum class Axis {
  ANCESTOR,
  ANCESTOR_OR_SELF,
  ATTRIBUTE,
  CHILD,
  DESCENDANT,
  DESCENDANT_OR_SELF,
  FOLLOWING,
  FOLLOWING_SIBLING,
  NAMESPACE,
  PARENT,
  PRECEDING,
  PRECEDING_SIBLING,
  SELF
};
enum class Test {
  NAME,
  ANY_NAME,
  NODE,
  TEXT,
  OTHER
};  // OTHER: comment(), processing-instruction()

struct Expr;
using ExprPtr = std::unique_ptr<Expr>;

struct Step {
  Axis axis = Axis::CHILD;
  Test test = Test::NODE;
  std::string name;  // local name of a NAME test
  bool prefixed = false;  // p:name or p:*, whose namespace URI is compared too
  std::vector<ExprPtr> predicates;
};

enum class Kind {
  OR_AND,
  EQUALITY,
  RELATIONAL,
  ARITHMETIC,
  NEGATE,
  UNION,
  PATH,
  LITERAL,
  NUMBER,
  VARIABLE,
  CALL
};

struct Expr {
  Kind kind;
  std::vector<ExprPtr> operands;  // binary operands, call arguments
  // PATH: filter (operands[0] when hasFilter) with its predicates, then steps.
  bool hasFilter = false;
  bool parenthesised = false;  // "(Expr)", which libxml2 sorts
  bool absolute = false;
  std::vector<ExprPtr> filterPredicates;
  std::vector<Step> steps;
  std::string text;  // literal, function name, equality operator
};

bool isNameStart(unsigned char c) {
  return c >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool isNameChar(unsigned char c) {
  return isNameStart(c) || (c >= '0' && c <= '9') || c == '.' || c == '-';
}
bool isBlank(unsigned char c) { return c == 0x20 || c == 0x9 || c == 0xA || c == 0xD; }

// Recursive descent over the unescaped text of an xpointer() part; a failure
// throws nothing, it clears ok and the caller refuses the expression.
class Parser {
 public:
  explicit Parser(const std::string& s) : s(s) {}

  ExprPtr parseAll() {
    ExprPtr e = expr();
    blanks();
    if (pos != s.size()) ok = false;
    return ok ? std::move(e) : nullptr;
  }

 private:
  static const int MAX_NESTING = 200;
  const std::string& s;
  size_t pos = 0;
  bool ok = true;
  int nesting = 0;

  void blanks() {
    while (pos < s.size() && isBlank(static_cast<unsigned char>(s[pos]))) ++pos;
  }
  bool peek(const char* t) {
    blanks();
    return s.compare(pos, std::char_traits<char>::length(t), t) == 0;
  }
  bool accept(const char* t) {
    if (!peek(t)) return false;
    pos += std::char_traits<char>::length(t);
    return true;
  }
  void expect(const char* t) {
    if (!accept(t)) ok = false;
  }
  // An operator name (and, or, div, mod) as a whole word.
  bool acceptWord(const char* w) {
    blanks();
    size_t n = std::char_traits<char>::length(w);
    if (s.compare(pos, n, w) != 0) return false;
    if (pos + n < s.size() && isNameChar(static_cast<unsigned char>(s[pos + n]))) return false;
    pos += n;
    return true;
  }
  std::string ncname() {
    blanks();
    size_t start = pos;
    if (pos < s.size() && isNameStart(static_cast<unsigned char>(s[pos])))
      while (pos < s.size() && isNameChar(static_cast<unsigned char>(s[pos]))) ++pos;
    return s.substr(start, pos - start);
  }
  ExprPtr make(Kind k) {
    auto e = std::make_unique<Expr>();
    e->kind = k;
    return e;
  }
  ExprPtr binary(Kind k, ExprPtr a, ExprPtr b) {
    ExprPtr e = make(k);
    e->operands.push_back(std::move(a));
    e->operands.push_back(std::move(b));
    return e;
  }

  ExprPtr expr() {
    if (++nesting > MAX_NESTING) {
      ok = false;
      --nesting;
      return make(Kind::NUMBER);
    }
    ExprPtr e = orExpr();
    --nesting;
    return e;
  }
  ExprPtr orExpr() {
    ExprPtr e = andExpr();
    while (ok && acceptWord("or")) e = binary(Kind::OR_AND, std::move(e), andExpr());
    return e;
  }
  ExprPtr andExpr() {
    ExprPtr e = equality();
    while (ok && acceptWord("and")) e = binary(Kind::OR_AND, std::move(e), equality());
    return e;
  }
  ExprPtr equality() {
    ExprPtr e = relational();
    while (ok) {
      const char* op = accept("!=") ? "!=" : accept("=") ? "=" : nullptr;
      if (!op) break;
      e = binary(Kind::EQUALITY, std::move(e), relational());
      e->text = op;
    }
    return e;
  }
  ExprPtr relational() {
    ExprPtr e = additive();
    while (ok && (accept("<=") || accept(">=") || accept("<") || accept(">")))
      e = binary(Kind::RELATIONAL, std::move(e), additive());
    return e;
  }
  ExprPtr additive() {
    ExprPtr e = multiplicative();
    while (ok && (accept("+") || accept("-")))
      e = binary(Kind::ARITHMETIC, std::move(e), multiplicative());
    return e;
  }
  ExprPtr multiplicative() {
    ExprPtr e = unary();
    while (ok && (accept("*") || acceptWord("div") || acceptWord("mod")))
      e = binary(Kind::ARITHMETIC, std::move(e), unary());
    return e;
  }
  ExprPtr unary() {
    if (accept("-")) {
      if (++nesting > MAX_NESTING) {
        ok = false;
        --nesting;
        return make(Kind::NUMBER);
      }
      ExprPtr e = make(Kind::NEGATE);
      e->operands.push_back(unary());
      --nesting;
      return e;
    }
    ExprPtr e = pathExpr();
    while (ok && accept("|")) e = binary(Kind::UNION, std::move(e), pathExpr());
    return e;
  }

  // A primary expression starts here (not a location path).
  bool primaryAhead() {
    blanks();
    if (pos >= s.size()) return false;
    char c = s[pos];
    if (c == '$' || c == '(' || c == '"' || c == '\'') return true;
    if ((c >= '0' && c <= '9') ||
        (c == '.' && pos + 1 < s.size() && s[pos + 1] >= '0' && s[pos + 1] <= '9'))
      return true;
    size_t save = pos;
    std::string n = ncname();
    if (!n.empty() && pos < s.size() && s[pos] == ':' && pos + 1 < s.size() && s[pos + 1] != ':') {
      ++pos;
      if (ncname().empty()) n.clear();  // p:* is a name test
    }
    bool call = false;
    if (!n.empty()) {
      blanks();
      call = pos < s.size() && s[pos] == '(' && n != "node" && n != "text" && n != "comment" &&
             n != "processing-instruction";
    }
    pos = save;
    return call;
  }

  ExprPtr pathExpr() {
    ExprPtr p = make(Kind::PATH);
    if (primaryAhead()) {
      p->hasFilter = true;
      p->operands.push_back(primary());
      while (ok && peek("[")) p->filterPredicates.push_back(predicate());
      if (accept("//")) {
        p->steps.push_back(descendantOrSelf());
        relativePath(*p);
      } else if (accept("/")) {
        relativePath(*p);
      }
      if (!p->steps.empty() || !p->filterPredicates.empty()) return p;
      return std::move(p->operands[0]);
    }
    if (accept("//")) {
      p->absolute = true;
      p->steps.push_back(descendantOrSelf());
      relativePath(*p);
    } else if (accept("/")) {
      p->absolute = true;
      if (stepAhead()) relativePath(*p);
    } else {
      relativePath(*p);
    }
    return p;
  }
  static Step descendantOrSelf() {
    Step st;
    st.axis = Axis::DESCENDANT_OR_SELF;
    st.test = Test::NODE;
    return st;
  }
  bool stepAhead() {
    blanks();
    if (pos >= s.size()) return false;
    char c = s[pos];
    return c == '.' || c == '@' || c == '*' || isNameStart(static_cast<unsigned char>(c));
  }
  void relativePath(Expr& p) {
    p.steps.push_back(step());
    while (ok) {
      if (accept("//")) {
        p.steps.push_back(descendantOrSelf());
        p.steps.push_back(step());
      } else if (accept("/")) {
        p.steps.push_back(step());
      } else {
        break;
      }
    }
  }
  Step step() {
    Step st;
    if (accept("..")) {
      st.axis = Axis::PARENT;
      return st;
    }
    if (accept(".")) {
      st.axis = Axis::SELF;
      return st;
    }
    if (accept("@")) {
      st.axis = Axis::ATTRIBUTE;
    } else {
      size_t save = pos;
      std::string n = ncname();
      if (!n.empty() && accept("::")) {
        static const std::pair<const char*, Axis> axes[] = {
            {"ancestor", Axis::ANCESTOR},
            {"ancestor-or-self", Axis::ANCESTOR_OR_SELF},
            {"attribute", Axis::ATTRIBUTE},
            {"child", Axis::CHILD},
            {"descendant", Axis::DESCENDANT},
            {"descendant-or-self", Axis::DESCENDANT_OR_SELF},
            {"following", Axis::FOLLOWING},
            {"following-sibling", Axis::FOLLOWING_SIBLING},
            {"namespace", Axis::NAMESPACE},
            {"parent", Axis::PARENT},
            {"preceding", Axis::PRECEDING},
            {"preceding-sibling", Axis::PRECEDING_SIBLING},
            {"self", Axis::SELF}};
        bool known = false;
        for (const auto& a : axes)
          if (n == a.first) {
            st.axis = a.second;
            known = true;
          }
        if (!known) ok = false;
      } else {
        pos = save;
      }
    }
    nodeTest(st);
    while (ok && peek("[")) st.predicates.push_back(predicate());
    return st;
  }
  void nodeTest(Step& st) {
    if (accept("*")) {
      st.test = Test::ANY_NAME;
      return;
    }
    std::string n = ncname();
    if (n.empty()) {
      ok = false;
      return;
    }
    if (pos < s.size() && s[pos] == ':' && pos + 1 < s.size() && s[pos + 1] != ':') {
      ++pos;
      st.prefixed = true;
      if (pos < s.size() && s[pos] == '*') {
        ++pos;
        st.test = Test::ANY_NAME;
        return;
      }
      n = ncname();
      if (n.empty()) ok = false;
      st.test = Test::NAME;
      st.name = n;
      return;
    }
    if (peek("(")) {
      if (n == "node" || n == "text" || n == "comment" || n == "processing-instruction") {
        expect("(");
        if (n == "processing-instruction" && !peek(")")) literal();
        expect(")");
        st.test = n == "node" ? Test::NODE : n == "text" ? Test::TEXT : Test::OTHER;
        return;
      }
      ok = false;
      return;
    }
    st.test = Test::NAME;
    st.name = n;
  }
  ExprPtr predicate() {
    expect("[");
    ExprPtr e = expr();
    expect("]");
    return e;
  }
  std::string literal() {
    blanks();
    if (pos >= s.size() || (s[pos] != '"' && s[pos] != '\'')) {
      ok = false;
      return {};
    }
    char q = s[pos++];
    size_t end = s.find(q, pos);
    if (end == std::string::npos) {
      ok = false;
      pos = s.size();
      return {};
    }
    std::string t = s.substr(pos, end - pos);
    pos = end + 1;
    return t;
  }
  ExprPtr primary() {
    blanks();
    char c = s[pos];
    if (c == '$') {
      ++pos;
      std::string n = ncname();
      if (pos < s.size() && s[pos] == ':') {
        ++pos;
        ncname();
      }
      if (n.empty()) ok = false;
      return make(Kind::VARIABLE);
    }
    if (c == '(') {
      ++pos;
      ExprPtr e = expr();
      expect(")");
      // A parenthesised set is a filter expression of its own.
      ExprPtr p = make(Kind::PATH);
      p->hasFilter = p->parenthesised = true;
      p->operands.push_back(std::move(e));
      return p;
    }
    if (c == '"' || c == '\'') {
      ExprPtr e = make(Kind::LITERAL);
      e->text = literal();
      return e;
    }
    if ((c >= '0' && c <= '9') || c == '.') {
      while (pos < s.size() && ((s[pos] >= '0' && s[pos] <= '9') || s[pos] == '.')) ++pos;
      return make(Kind::NUMBER);
    }
    ExprPtr call = make(Kind::CALL);
    call->text = ncname();
    if (pos < s.size() && s[pos] == ':') {
      ++pos;
      call->text += ":" + ncname();
    }
    expect("(");
    if (!accept(")")) {
      do call->operands.push_back(expr());
      while (ok && accept(","));
      expect(")");
    }
    return call;
  }
};

// libxml2 folds "descendant-or-self::node()/child::x" and ".../descendant::x"
// into "descendant::x", and ".../self::x" or ".../descendant-or-self::x" into
// "descendant-or-self::x", when neither step has a predicate, from the last
// step backwards; the folded step then steps from the one before. A
// descendant step from many nodes is where the merges grow quadratic, so the
// bound must see the steps libxml2 runs.
void foldDescendants(std::vector<Step>& steps) {
  for (size_t i = steps.size(); i-- > 1;) {
    Step& prev = steps[i - 1];
    Step& cur = steps[i];
    if (!cur.predicates.empty() || !prev.predicates.empty() ||
        prev.axis != Axis::DESCENDANT_OR_SELF || prev.test != Test::NODE)
      continue;
    if (cur.axis == Axis::CHILD || cur.axis == Axis::DESCENDANT)
      cur.axis = Axis::DESCENDANT;
    else if (cur.axis == Axis::SELF || cur.axis == Axis::DESCENDANT_OR_SELF)
      cur.axis = Axis::DESCENDANT_OR_SELF;
    else
      continue;
    steps.erase(steps.begin() + static_cast<std::ptrdiff_t>(i - 1));
    --i;  // the next candidate is the step before the folded one
  }
}

// libxml2's folding, over every path of the expression.
void foldAll(Expr& e) {
  std::vector<Expr*> pending{&e};
  while (!pending.empty()) {
    Expr* p = pending.back();
    pending.pop_back();
    foldDescendants(p->steps);
    for (auto& o : p->operands) pending.push_back(o.get());
    for (auto& o : p->filterPredicates) pending.push_back(o.get());
    for (auto& s : p->steps)
      for (auto& o : s.predicates) pending.push_back(o.get());
  }
}

// ---- the bound ----------------------------------------------------------------

// A unit is about 8 instructions of libxml2's work (a nanosecond or less
// here). The instruction-count check over crafted documents (tests/cost)
// measures every accepted expression against its bound and fails above a
// fixed number of instructions per unit; each price below is what that check
// measured for its construct (in instructions, libxml2 2.9.14, x86-64),
// rounded up to units.

// An octet read by a string comparison (xmlStrEqual's loop, about 6
// instructions an octet, which stops at the first difference) or copied by a
// duplicate or a string value's buffer (about 3): string work is priced by the
// octets it reads, never per string.
const double OCTET = 1;
// Each node an axis shows a context node: the axis function's step, the node
// test's switch, the operation count, the append of a hit and its share of the
// set's growth (67 instructions a node passed over, 110 a node kept).
const double VISIT = 16;
// Each operation libxml2 evaluates for one context node, or each candidate a
// predicate is evaluated for: a value object taken from the cache, pushed and
// popped, the operation's dispatch (about 220 instructions).
const double OPERATION = 32;
// A step, once for each evaluation: its node sets made and released (about
// 900 instructions); and for each context node, the axis's start and the merge
// of its nodes (about 110 instructions).
const double STEP_START = 128;
const double CONTEXT_NODE = 16;
// An evaluation's own start: the parser context and its value stack made and
// freed through the counting allocator, the context's state kept and put back
// (600 instructions in libxml2 alone, some 4,000 with the allocator's count).
const double EVALUATION_START = 512;
// What compiling costs per octet of the expression (xmlXPathCompileExpr's
// descent and the operations it appends, the XPointer parts' scan), with room.
const double COMPILE_OCTET = 32;
// One pair of a duplicate check (the merges' inner loop: two pointers and
// their node types compared, about 7 instructions); a namespace node pair
// compares prefixes too.
const double PAIR = 2;
// A namespace node put in a set is a copy (xmlXPathNodeSetDupNs: three blocks,
// the node and its prefix and URI, each freed again with the set).
const double NAMESPACE_COPY = 3 * 64;
// A block a function's string result takes and gives back (through the
// counting allocator, about 500 instructions).
const double ALLOCATION = 64;
// Sorting compares two elements of a numbered document by the numbers they
// carry (xmlXPathCmpNodesExt), with the timsort's moves around it.
const double NUMBERED_COMPARE = 4;
// Each node and attribute our lang() looks at: a pointer followed, a name
// compared with "lang" (five octets at most), about 15 instructions.
const double LANG_LOOK = 2;
// A number's string form: xmlXPathFormatNumber writes at most 24 characters.
const double NUMBER_LENGTH = 32;
// id() reads each octet of its argument about four times: the string value,
// the scan for white space, the token's key and its hash.
const double ID_OCTET = 8;
// A product of string lengths past any cap: the sum it joins stays finite and
// is refused.
const double PRODUCT_CEILING = 1e30;

// What the evaluations of one expression give: a set (how many nodes, and what
// kind) or a scalar (how long its string). An expression inside a predicate is
// evaluated once per candidate node: `total` adds the sets of all of them.
struct ValueBound {
  bool isSet = false;
  double size = 0;       // nodes of one evaluation's set
  double total = 0;      // nodes of all evaluations' sets together
  bool disjoint = true;  // no node in the sets of two evaluations
  bool elementsOnly = false;
  bool attributesOnly = false;
  bool namespaces = false;  // may hold namespace nodes (copied; prefix compared in merges)
  double length = NUMBER_LENGTH;  // string length, for a string or number
  // The lengths of all evaluations' strings together: no more than the
  // count times the length, and for the string values of distinct nodes no
  // more than all the strings of the document.
  double totalLength = NUMBER_LENGTH;
};

// How many times an expression is evaluated (once per candidate node of an
// enclosing predicate), and whether those context nodes differ.
struct Evaluations {
  double count = 1;
  bool distinct = true;
  // Some context nodes may be namespace nodes: a relative path starts from a
  // set holding the context node, and a namespace node put in a set is a copy.
  bool namespaces = false;
};

class Bound {
 public:
  explicit Bound(const XmlXPointerDocStats& st) : st(st) {}
  double work = 0;
  bool refused = false;

  ValueBound eval(const Expr& e, const Evaluations& ev) {
    switch (e.kind) {
      case Kind::LITERAL: {
        work += ev.count * OPERATION;
        return scalar(static_cast<double>(e.text.size()), ev);
      }
      case Kind::NUMBER:
      case Kind::VARIABLE:
        work += ev.count * OPERATION;
        return scalar(NUMBER_LENGTH, ev);
      case Kind::OR_AND:  // a set's truth is whether it is empty
        for (const auto& o : e.operands) eval(*o, ev);
        work += ev.count * OPERATION;
        return scalar(NUMBER_LENGTH, ev);
      case Kind::NEGATE:
      case Kind::ARITHMETIC:
        for (const auto& o : e.operands) toScalar(eval(*o, ev), ev);
        work += ev.count * OPERATION;
        return scalar(NUMBER_LENGTH, ev);
      case Kind::EQUALITY:
      case Kind::RELATIONAL:
        return compare(e, ev);
      case Kind::UNION:
        return unite(e, ev);
      case Kind::PATH:
        return path(e, ev);
      case Kind::CALL:
        return call(e, ev);
    }
    return ValueBound{};
  }

  // Sorting a set (xmlXPathNodeSetSort, a timsort), as libxml2 does for a
  // whole expression's set (the top, a function's argument, a parenthesised
  // one), before filtering a set and when taking a set's string: elements of
  // a numbered document compare their numbers; other nodes walk up to their
  // common ancestor (both depths) and along its children or attributes.
  void sort(const ValueBound& v, const Evaluations& ev) {
    if (!v.isSet || v.size <= 1) return;
    // A walk's step is a pointer followed (a unit); the compare's own tests
    // around it, NUMBERED_COMPARE's.
    const double walk = 2 * st.maxDepth + st.maxFanOut + st.maxAttributes + NUMBERED_COMPARE;
    const double comparison = v.elementsOnly && st.ordered ? NUMBERED_COMPARE : walk;
    // At most log2(n) merging passes, and the scan for runs and the galloping
    // around them (two more).
    work += ev.count * v.size * (std::log2(v.size) + 2) * comparison;
  }

  // The longest string value of a node of the set: an attribute's value, else
  // an element's text (its subtree's texts, the walk a visit per node).
  double setStringLength(const ValueBound& v) const {
    return v.attributesOnly ? st.maxAttributeLength : treeNodes() * VISIT + st.textLength * OCTET;
  }
  // The string values of every node of the set: an element's walks its
  // subtree, and a node lies in the subtrees of its ancestors only.
  // Every node's string value once: a node lies in the subtrees of its
  // ancestors (at most maxDepth), the document node's and its own.
  double wholeTreeStrings() const {
    return (st.maxDepth + 2) * (treeNodes() * VISIT + st.textLength * OCTET);
  }
  double strings(const ValueBound& v, const Evaluations& ev) const {
    const double wholeTree = wholeTreeStrings();
    // Each string value is a block of its own.
    const double perNode = ALLOCATION;
    if (v.disjoint) return std::min(v.total * setStringLength(v), wholeTree) + v.total * perNode;
    return ev.count * (std::min(v.size * setStringLength(v), wholeTree) + v.size * perNode);
  }

  // A scalar from the value: a set's string value (the first node of the
  // sorted set), or its emptiness.
  ValueBound toScalar(const ValueBound& v, const Evaluations& ev) {
    if (!v.isSet) return v;
    sort(v, ev);
    // Disjoint sets' first nodes are distinct nodes: their strings together
    // are no more than all the strings of the document.
    const double each = ev.count * setStringLength(v);
    work += (v.disjoint ? std::min(each, wholeTreeStrings()) : each) +
            ev.count * (OPERATION + ALLOCATION);
    ValueBound s = scalar(stringLength(v), ev);
    if (v.disjoint) s.totalLength = std::min(s.totalLength, st.textLength);
    return s;
  }
  ValueBound scalar(double length, const Evaluations& ev) const {
    ValueBound s;
    s.length = length;
    s.totalLength = ev.count * length;
    return s;
  }

 private:
  const XmlXPointerDocStats& st;

  // A namespace node's copy: its blocks, and its prefix and URI with their ends.
  double namespaceCopy() const {
    return NAMESPACE_COPY + (st.maxPrefixLength + st.maxNamespaceUriLength + 2) * OCTET;
  }

  // The nodes the tree's axes walk (not attributes and namespace nodes).
  double treeNodes() const {
    return std::max(1.0, st.nodes - st.attributes - st.namespaceNodes);
  }

  // A duplicate check of two nodes of these sets.
  double pairCost(const ValueBound& a, const ValueBound& b) const {
    return PAIR + (a.namespaces && b.namespaces ? (st.maxPrefixLength + 1) * OCTET : 0);
  }

  ValueBound compare(const Expr& e, const Evaluations& ev) {
    ValueBound a = eval(*e.operands[0], ev), b = eval(*e.operands[1], ev);
    if (a.isSet && b.isSet) {
      work += strings(a, ev) + strings(b, ev);
      // Strings compared up to the shorter (equality), numbers read once each.
      double pair = e.kind == Kind::EQUALITY
                        ? std::min(stringLength(a), stringLength(b)) * OCTET + PAIR
                        : PAIR;
      work += ev.count * a.size * b.size * pair;
    } else if (a.isSet || b.isSet) {
      const ValueBound& set = a.isSet ? a : b;
      const ValueBound& other = a.isSet ? b : a;
      work += strings(set, ev) + set.total * (other.length * OCTET + PAIR) +
              ev.count * other.length * OCTET;
    } else {
      // Equal strings compare up to the shorter; an order compares numbers read from both.
      const double read = e.kind == Kind::EQUALITY
                              ? std::min({a.totalLength, b.totalLength,
                                          ev.count * std::min(a.length, b.length)})
                              : a.totalLength + b.totalLength;
      work += read * OCTET + ev.count * PAIR;
    }
    work += ev.count * OPERATION;
    return scalar(NUMBER_LENGTH, ev);
  }
  double stringLength(const ValueBound& v) const {
    return v.attributesOnly ? st.maxAttributeLength : st.textLength;
  }

  ValueBound unite(const Expr& e, const Evaluations& ev) {
    ValueBound a = eval(*e.operands[0], ev), b = eval(*e.operands[1], ev);
    if (!a.isSet || !b.isSet) return ValueBound{};  // libxml2 stops there with an error
    // xmlXPathNodeSetMerge checks each node of b against all of a.
    work += ev.count * (a.size * b.size * pairCost(a, b) + (a.size + b.size) * VISIT + OPERATION);
    ValueBound u;
    u.isSet = true;
    u.size = std::min(a.size + b.size, st.nodes);
    u.total = std::min(a.total + b.total, ev.count * u.size);
    u.disjoint = ev.count <= 1;
    u.elementsOnly = a.elementsOnly && b.elementsOnly;
    u.attributesOnly = a.attributesOnly && b.attributesOnly;
    u.namespaces = a.namespaces || b.namespaces;
    return u;
  }

  ValueBound path(const Expr& e, const Evaluations& ev) {
    ValueBound v;
    if (e.hasFilter) {
      v = eval(*e.operands[0], ev);
      if (!e.filterPredicates.empty() || !e.steps.empty()) {
        if (!v.isSet) return ValueBound{};  // an error in libxml2
        sort(v, ev);
      }
      for (const auto& p : e.filterPredicates) predicate(*p, v, ev, v.disjoint);
    } else {
      v.isSet = true;
      v.size = 1;
      v.total = ev.count;
      v.disjoint = e.absolute ? ev.count <= 1 : ev.distinct;
      work += ev.count * OPERATION;
      if (!e.absolute && ev.namespaces) {
        v.namespaces = true;
        work += std::min(ev.count, st.namespaceNodes) * namespaceCopy();
      }
    }
    if (e.parenthesised) sort(v, ev);
    for (const Step& s : e.steps) v = step(s, v, ev);
    return v;
  }

  // Each candidate node gets the predicate with itself as context.
  void predicate(const Expr& p, ValueBound& candidates, const Evaluations& ev,
                 bool distinctCandidates) {
    Evaluations inner;
    inner.count = std::max(1.0, candidates.total);
    inner.distinct = distinctCandidates;
    inner.namespaces = candidates.namespaces;
    eval(p, inner);  // a truth or a position: no sort, no string
    work += OPERATION * (candidates.total + ev.count);
  }

  // The octets a node test compares for each node it is shown: the name
  // against the test's (up to the shorter); and for a prefixed test the
  // namespace URI of those whose name matched (priced on every node of the
  // test's local name, or every element or attribute for p:*).
  double nameTestCost(const Step& s) const {
    if (s.test == Test::NAME) {
      const double name = static_cast<double>(s.name.size());
      const double against = s.axis == Axis::NAMESPACE ? st.maxPrefixLength : st.maxLocalNameLength;
      return (std::min(name, against) + 1) * OCTET;
    }
    return 0;
  }
  double uriTestCost(const Step& s) const {
    return s.prefixed ? (st.maxNamespaceUriLength + 1) * OCTET : 0;
  }

  ValueBound step(const Step& s, const ValueBound& in, const Evaluations& ev) {
    const double n = treeNodes();
    // Nodes one context node shows the axis, and the most any set of distinct
    // context nodes shows it together (every node has one parent, its
    // attributes and namespace nodes one element, a node lies below its
    // ancestors only); what each context node costs before its first node.
    double perContextNode = 1, distinctTogether = HUGE_VAL, startCost = CONTEXT_NODE;
    bool local = false, noDuplicateCheck = false;
    switch (s.axis) {
      case Axis::CHILD:
        perContextNode = st.maxFanOut;
        distinctTogether = n;
        local = noDuplicateCheck = true;
        break;
      case Axis::ATTRIBUTE:
        perContextNode = st.maxAttributes;
        distinctTogether = st.attributes;
        local = noDuplicateCheck = true;
        break;
      case Axis::NAMESPACE: {
        // xmlGetNsList walks the ancestors and checks each declaration in
        // scope against those it kept, prefix against prefix; then
        // xmlXPathNodeSetAddNs checks each namespace node the test keeps
        // against those of the same element kept before it, prefix against
        // prefix again: two triangles of prefix comparisons.
        const double d = st.maxNamespacesInScope;
        perContextNode = d + 1;  // and the xml namespace
        distinctTogether = st.namespaceNodes;
        const double prefixComparisons = 2 * (d * (d + 1) / 2);
        startCost += st.maxDepth * VISIT +
                     prefixComparisons * (PAIR + (st.maxPrefixLength + 1) * OCTET);
        local = noDuplicateCheck = true;
        break;
      }
      case Axis::SELF:
        perContextNode = 1;
        local = noDuplicateCheck = true;
        break;
      case Axis::PARENT:
        perContextNode = 1;
        break;
      case Axis::ANCESTOR:
      case Axis::ANCESTOR_OR_SELF:
        perContextNode = st.maxDepth + 2;  // and the document node, and itself
        distinctTogether = st.depthSum + st.nodes;
        break;
      case Axis::DESCENDANT:
      case Axis::DESCENDANT_OR_SELF:
        perContextNode = n;
        distinctTogether = (st.maxDepth + 2) * n;
        break;
      case Axis::FOLLOWING:
      case Axis::PRECEDING:
        perContextNode = 2 * n;  // the walk passes a node going down and again going up
        break;
      case Axis::FOLLOWING_SIBLING:
      case Axis::PRECEDING_SIBLING:
        perContextNode = st.maxFanOut;
        break;
    }
    // Nodes the axis shows (each counted by libxml2), for one evaluation and
    // for all of them.
    const double oneEvaluation = std::min(in.size * perContextNode, distinctTogether);
    double allEvaluations = in.disjoint ? std::min(in.total * perContextNode, distinctTogether)
                                        : ev.count * oneEvaluation;
    allEvaluations = std::min(allEvaluations, ev.count * oneEvaluation);
    const double contextNodes = in.disjoint ? in.total : ev.count * in.size;
    const double ofTheKind = kindCount(s);
    ValueBound out;
    out.isSet = true;
    out.size = std::min(oneEvaluation, ofTheKind);
    // An element has one attribute of a name in no namespace at most.
    if (s.axis == Axis::ATTRIBUTE && s.test == Test::NAME && !s.prefixed)
      out.size = std::min(out.size, in.size);
    // One evaluation's set is distinct, and so are the children, attributes
    // and namespace nodes of its nodes.
    const bool disjoint = ev.count <= 1 || (in.disjoint && local);
    out.total = std::min(allEvaluations, disjoint ? ofTheKind : ev.count * out.size);
    out.disjoint = disjoint;
    out.namespaces = s.axis == Axis::NAMESPACE;
    out.attributesOnly = s.axis == Axis::ATTRIBUTE;
    out.elementsOnly = s.axis != Axis::ATTRIBUTE && s.axis != Axis::NAMESPACE &&
                       (s.test == Test::NAME || s.test == Test::ANY_NAME);
    work += contextNodes * startCost + allEvaluations * (VISIT + nameTestCost(s)) +
            out.total * uriTestCost(s) + (OPERATION + STEP_START) * ev.count;
    // The self axes give a namespace context node itself, copied again.
    const bool selfAxis = s.axis == Axis::SELF || s.axis == Axis::ANCESTOR_OR_SELF ||
                          s.axis == Axis::DESCENDANT_OR_SELF;
    if (in.namespaces && selfAxis && s.test == Test::NODE) {
      out.namespaces = true;
      work += std::min(contextNodes, st.namespaceNodes) * namespaceCopy();
    }
    if (s.axis == Axis::NAMESPACE) work += out.total * namespaceCopy();
    // Predicates run on each context node's nodes before they are merged
    // (each context node's nodes that pass the test; apart, no more than the
    // test admits).
    ValueBound candidates = out;
    candidates.total = std::min(
        allEvaluations, local && disjoint ? ofTheKind : ev.count * (local ? 1 : in.size) * ofTheKind);
    // Distinct nodes' ancestors that are elements: one fewer than each
    // node's depth (the document node, counted in nodes, has none), and the
    // node itself when it is one.
    if (in.disjoint && out.elementsOnly &&
        (s.axis == Axis::ANCESTOR || s.axis == Axis::ANCESTOR_OR_SELF))
      candidates.total = std::min(candidates.total,
                                  std::max(0.0, st.depthSum - (st.nodes - 1) + st.elements));
    for (const auto& p : s.predicates) {
      predicate(*p, candidates, ev, local && disjoint);
      // Whatever the predicates before, each only drops nodes: those left
      // all carry the attribute with that value.
      const double carrying = attributeEqualityCount(*p);
      out.size = std::min(out.size, carrying);
      out.total = std::min(out.total, disjoint ? carrying : ev.count * carrying);
    }
    // The merge of each context node's nodes into the set gathered so far.
    if (noDuplicateCheck || in.size <= 1)
      work += allEvaluations * VISIT;
    else
      work += out.size * allEvaluations * pairCost(out, out);
    return out;
  }

  // How many elements carry the attribute of [@name = 'literal'] (either
  // side, attribute:: or a prefix), HUGE_VAL for any other predicate.
  double attributeEqualityCount(const Expr& p) const {
    const Step* a = attributeEquality(p);
    if (!a) return HUGE_VAL;
    const Expr* lit = p.operands[0]->kind == Kind::LITERAL ? p.operands[0].get() : p.operands[1].get();
    if (st.attributesValueUnknown.count(a->name)) return HUGE_VAL;
    auto byName = st.attributesByValue.find(a->name);
    if (byName == st.attributesByValue.end()) return 0;
    auto byValue = byName->second.find(lit->text);
    return byValue == byName->second.end() ? 0 : byValue->second;
  }

  double kindCount(const Step& s) const {
    auto byName = [](const std::unordered_map<std::string_view, double>& m, const std::string& k) {
      auto it = m.find(k);
      return it == m.end() ? 0.0 : it->second;
    };
    switch (s.axis) {
      case Axis::ATTRIBUTE:
        return s.test == Test::NAME ? byName(st.attributesByName, s.name) : st.attributes;
      case Axis::NAMESPACE:
        return st.namespaceNodes;
      default:
        if (s.test == Test::NAME) return byName(st.elementsByName, s.name);
        if (s.test == Test::ANY_NAME) return st.elements;
        return treeNodes();
    }
  }

  ValueBound call(const Expr& e, const Evaluations& ev) {
    const std::string& f = e.text;
    if (f == "range" || f == "range-inside" || f == "range-to" || f == "string-range" ||
        f == "start-point" || f == "end-point") {
      refused = true;  // ranges and points: no node set a selection could use
      return ValueBound{};
    }
    std::vector<ValueBound> args;
    for (const auto& a : e.operands) {
      args.push_back(eval(*a, ev));
      sort(args.back(), ev);
    }
    work += ev.count * OPERATION;
    if (f == "here") {
      ValueBound v;
      v.isSet = true;
      v.size = 1;
      v.total = ev.count;
      v.disjoint = ev.count <= 1;
      return v;
    }
    if (f == "id") {
      if (args.size() != 1) return scalar(NUMBER_LENGTH, ev);
      const double length = args[0].isSet ? stringLength(args[0]) : args[0].length;
      const double octets = args[0].isSet ? strings(args[0], ev) : ev.count * (length + 1);
      work += ID_OCTET * octets;
      ValueBound v;
      v.isSet = true;
      // A token and the white space after it: two octets at least.
      v.size = std::min(args[0].isSet ? args[0].size * (length / 2 + 1) : length / 2 + 1,
                        st.elements);
      v.total = ev.count * v.size;
      v.disjoint = ev.count <= 1;
      v.elementsOnly = true;
      work += v.total * OPERATION;
      return v;
    }
    if (f == "count" || f == "boolean" || f == "not" || f == "last" || f == "position" ||
        f == "true" || f == "false") {
      return scalar(NUMBER_LENGTH, ev);
    }
    if (f == "sum") {
      for (const ValueBound& a : args) work += a.isSet ? strings(a, ev) : a.totalLength * OCTET;
      return scalar(NUMBER_LENGTH, ev);
    }
    if (f == "local-name" || f == "name" || f == "namespace-uri") {
      ValueBound v = scalar(st.maxNameLength, ev);  // a name copied out of the tree
      work += v.totalLength * OCTET + ev.count * ALLOCATION;
      return v;
    }
    if (f == "lang") {
      // Ours (xmlXPathRegisterBoundedLang): each ancestor's attributes looked
      // at for xml:lang, then the argument compared with the value found.
      work += ev.count * (st.maxDepth + 2) * (st.maxAttributes + 1) * LANG_LOOK;
      for (const ValueBound& a : args)
        work += std::min(a.totalLength, ev.count * st.maxAttributeLength) * OCTET + ev.count;
    }
    // The string functions: each reads its arguments' strings (the context
    // node's without one), the search and translation ones one against the
    // other: for two or more, each string's octets against every octet of
    // the others (in every evaluation: one string's total times the others'
    // longest).
    std::vector<ValueBound> strs;
    if (args.empty()) {
      const double own = treeNodes() * VISIT + st.textLength * OCTET;
      work += ev.distinct ? std::min(ev.count * own, wholeTreeStrings()) + ev.count
                          : ev.count * own;
      ValueBound c = scalar(st.textLength, ev);
      if (ev.distinct) c.totalLength = std::min(c.totalLength, st.textLength);
      strs.push_back(c);
    }
    for (const ValueBound& a : args) strs.push_back(toScalar(a, ev));
    ValueBound v = scalar(0, ev);
    v.totalLength = 0;
    double against = strs.size() > 1 ? HUGE_VAL : 0;
    for (size_t i = 0; i < strs.size(); ++i) {
      v.length += strs[i].length;
      v.totalLength += strs[i].totalLength;
      if (strs.size() < 2) continue;
      double product = strs[i].totalLength + ev.count;
      for (size_t j = 0; j < strs.size(); ++j)
        if (j != i) product *= strs[j].length + 1;
      against = std::min(against, product);
    }
    work += (v.totalLength + std::min(against, PRODUCT_CEILING)) * OCTET + ev.count * ALLOCATION;
    return v;
  }

 public:
  // [@name = 'literal'] (either side, attribute:: or a prefix): the attribute step.
  static const Step* attributeEquality(const Expr& p) {
    if (p.kind != Kind::EQUALITY || p.text != "=") return nullptr;
    const Expr* path = p.operands[0].get();
    const Expr* lit = p.operands[1].get();
    if (path->kind == Kind::LITERAL) std::swap(path, lit);
    if (lit->kind != Kind::LITERAL || path->kind != Kind::PATH || path->hasFilter ||
        path->absolute || path->steps.size() != 1)
      return nullptr;
    const Step& a = path->steps[0];
    if (a.axis != Axis::ATTRIBUTE || a.test != Test::NAME || !a.predicates.empty()) return nullptr;
    return &a;
  }
};

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
      if (!Bound::attributeEquality(*p) && p->kind != Kind::NUMBER) return false;
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
  // The evaluation's start and the expression's compilation, and a child
  // sequence or Id: each octet a step along a level's children (or the Id's
  // hash), each child a visit.
  const double childSequence = EVALUATION_START + static_cast<double>(x.size()) * COMPILE_OCTET +
                               (static_cast<double>(x.size()) + 1) * st.maxFanOut * VISIT;
  blanks();
  std::string scheme = name();
  if (scheme.empty() || pos >= x.size() || x[pos] != '(') {
    plan.accepted = true;
    plan.bound = childSequence;
    plan.rewritten = x;
    return plan;
  }
  Bound bound(st);
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
      Parser parser(body);
      ExprPtr e = parser.parseAll();
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
      ValueBound v = bound.eval(*e, Evaluations{});
      bound.sort(v, Evaluations{});
      if (bound.refused) return plan;
      plan.rewritten +=
          x.substr(copied, open + 1 - copied) + "(" + x.substr(open + 1, close - open - 1) + ")";
      copied = close;
    } else if (scheme == "element") {
      bound.work += childSequence;
    }
    blanks();
    scheme = name();
  }
  plan.rewritten += x.substr(copied);
  plan.bound = bound.work + childSequence;
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
  Parser parser(expression);
  ExprPtr e = parser.parseAll();
  if (!e) return plan;
  if (road == XmlBoundRoad::NARROW && !narrowForm(*e, true)) return plan;
  foldAll(*e);
  Bound bound(st);
  // Compiled once; each evaluation starts anew and gives a truth (a set's
  // emptiness: sorted first, as the parentheses ask).
  Evaluations each;
  each.count = std::max(1.0, evaluations);
  each.namespaces = st.namespaceNodes > 0;  // the filter is asked about namespace nodes too
  ValueBound v = bound.eval(*e, each);
  bound.sort(v, each);
  if (bound.refused) return plan;
  plan.bound = bound.work + each.count * EVALUATION_START;
  plan.accepted = boundIsNumber(plan.bound);
  plan.rewritten = "(" + expression + ")";
  return plan;
}
