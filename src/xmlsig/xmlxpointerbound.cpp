#include "xmlsig/xmlxpointerbound.h"

#include "xmlsig/xmlmisc.h"

#include <libxml/parser.h>
#include <libxml/pattern.h>
#include <libxml/xpath.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

namespace {

std::string_view localName(const xmlChar* name) {
  return name ? std::string_view(reinterpret_cast<const char*>(name)) : std::string_view();
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
  std::vector<Level> stack{{doc->children, 1, 1, 36}};
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
    st.maxDepth = std::max(st.maxDepth, depth);
    if (n->type != XML_ELEMENT_NODE) {
      if (n->content) st.textLength += static_cast<double>(xmlStrlen(n->content));
      continue;
    }
    st.elements += 1;
    if (reinterpret_cast<ptrdiff_t>(n->content) >= 0) st.ordered = false;
    st.elementsByName[localName(n->name)] += 1;
    st.maxNameLength = std::max(
        st.maxNameLength, static_cast<double>(xmlStrlen(n->name)) +
                              (n->ns ? xmlStrlen(n->ns->href) + xmlStrlen(n->ns->prefix) : 0));
    for (xmlNsPtr d = n->nsDef; d; d = d->next) {
      namespaces += 1;
      namespaceText += static_cast<double>(xmlStrlen(d->href));
      st.maxNameLength = std::max(st.maxNameLength,
                                  static_cast<double>(xmlStrlen(d->href) + xmlStrlen(d->prefix)));
    }
    st.maxNamespacesInScope = std::max(st.maxNamespacesInScope, namespaces);
    st.namespaceNodes += namespaces;
    st.nodes += namespaces;
    st.textLength += namespaceText;
    double attributes = 0;
    for (xmlAttrPtr a = n->properties; a; a = a->next) {
      attributes += 1;
      st.attributesByName[localName(a->name)] += 1;
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
      st.textLength += length;
      st.maxAttributeLength = std::max(st.maxAttributeLength, length);
    }
    st.attributes += attributes;
    st.nodes += attributes;
    st.maxAttributes = std::max(st.maxAttributes, attributes);
    double fanOut = 0;
    for (xmlNodePtr c = n->children; c; c = c->next) ++fanOut;
    st.maxFanOut = std::max(st.maxFanOut, fanOut);
    if (n->children) stack.push_back({n->children, depth + 1, namespaces, namespaceText});
  }
  return st;
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

// ---- the bound ----------------------------------------------------------------

// Units (about a nanosecond each here, unsanitised) of what libxml2 does
// around each operation it evaluates for one context node, or each candidate
// of a predicate (objects taken and given back, the value stack), and of each
// node an axis shows it. A node comparison in a merge is one.
const double OPERATION = 128;
const double TRAVERSAL = 8;

// A value as the m evaluations of an expression give it (m: how many times it
// runs, once per candidate node of an enclosing predicate).
struct Val {
  bool set = false;
  double size = 0;       // nodes of one evaluation's set
  double total = 0;      // nodes of all m evaluations together
  bool disjoint = true;  // no node in the sets of two evaluations
  bool elementsOnly = false;
  bool attributesOnly = false;
  bool namespaces = false;  // may hold namespace nodes (slower duplicate checks)
  double length = 32;       // string length, for a string or number
};

struct Ctx {
  double m = 1;
  bool disjoint = true;  // the m context nodes differ
};

class Bound {
 public:
  explicit Bound(const XmlXPointerDocStats& st) : st(st) {}
  double work = 0;
  bool refused = false;

  Val eval(const Expr& e, const Ctx& c) {
    switch (e.kind) {
      case Kind::LITERAL: {
        Val v;
        v.length = static_cast<double>(e.text.size());
        work += c.m * OPERATION;
        return v;
      }
      case Kind::NUMBER:
      case Kind::VARIABLE:
        work += c.m * OPERATION;
        return Val{};
      case Kind::OR_AND:  // a set's truth is whether it is empty
        for (const auto& o : e.operands) eval(*o, c);
        work += c.m * OPERATION;
        return Val{};
      case Kind::NEGATE:
      case Kind::ARITHMETIC:
        for (const auto& o : e.operands) toScalar(eval(*o, c), c);
        work += c.m * OPERATION;
        return Val{};
      case Kind::EQUALITY:
      case Kind::RELATIONAL:
        return compare(e, c);
      case Kind::UNION:
        return unite(e, c);
      case Kind::PATH:
        return path(e, c);
      case Kind::CALL:
        return call(e, c);
    }
    return Val{};
  }

  // Sorting a set (xmlXPathNodeSetSort, a timsort), as libxml2 does for a
  // whole expression's set (the top, a function's argument, a parenthesised
  // one), before filtering a set and when taking a set's string: elements of
  // a numbered document compare their numbers, other nodes walk to their
  // common ancestor and along its children.
  void sort(const Val& v, const Ctx& c) {
    if (!v.set || v.size <= 1) return;
    double compare =
        v.elementsOnly && st.ordered ? 16 : 2 * st.maxDepth + st.maxFanOut + st.maxAttributes + 8;
    work += c.m * v.size * (std::log2(v.size) + 2) * compare;
  }

  double setStringLength(const Val& v) const {
    return v.attributesOnly ? st.maxAttributeLength : st.nodes + st.textLength;
  }
  // The string values of every node of the set: an element's walks its subtree,
  // and a node lies in the subtrees of its ancestors only.
  double strings(const Val& v, const Ctx& c) const {
    double all = (st.maxDepth + 2) * (st.nodes + st.textLength);
    double one = std::min(v.size * setStringLength(v), all) + v.size;
    if (v.disjoint) return std::min(v.total * setStringLength(v), all) + v.total;
    return c.m * one;
  }

  // A scalar from the value: a set's string value (the first node of the
  // sorted set), or its emptiness.
  Val toScalar(const Val& v, const Ctx& c) {
    if (!v.set) return v;
    sort(v, c);
    work += c.m * (v.size > 0 ? setStringLength(v) : 1);
    Val s;
    s.length = setStringLength(v);
    return s;
  }

 private:
  const XmlXPointerDocStats& st;

  Val compare(const Expr& e, const Ctx& c) {
    Val a = eval(*e.operands[0], c), b = eval(*e.operands[1], c);
    if (a.set && b.set) {
      work += strings(a, c) + strings(b, c);
      double pair =
          e.kind == Kind::EQUALITY ? std::min(setStringLength(a), setStringLength(b)) + 2 : 2;
      work += c.m * a.size * b.size * pair;
    } else if (a.set || b.set) {
      const Val& set = a.set ? a : b;
      const Val& other = a.set ? b : a;
      work += strings(set, c) + set.total * (other.length + 2) + c.m * other.length;
    } else {
      // Equal strings compare up to the shorter; an order compares numbers read from both.
      work += c.m *
              ((e.kind == Kind::EQUALITY ? std::min(a.length, b.length) : a.length + b.length) + 2);
    }
    return Val{};
  }

  Val unite(const Expr& e, const Ctx& c) {
    Val a = eval(*e.operands[0], c), b = eval(*e.operands[1], c);
    if (!a.set || !b.set) return Val{};  // libxml2 stops there with an error
    // xmlXPathNodeSetMerge checks each node of b against all of a.
    double weight = a.namespaces && b.namespaces ? 8 : 1;
    work += c.m * (a.size * b.size * weight + a.size + b.size);
    Val u;
    u.set = true;
    u.size = std::min(a.size + b.size, st.nodes);
    u.total = std::min(a.total + b.total, c.m * u.size);
    u.disjoint = c.m <= 1;
    u.elementsOnly = a.elementsOnly && b.elementsOnly;
    u.attributesOnly = a.attributesOnly && b.attributesOnly;
    u.namespaces = a.namespaces || b.namespaces;
    return u;
  }

  Val path(const Expr& e, const Ctx& c) {
    Val v;
    if (e.hasFilter) {
      v = eval(*e.operands[0], c);
      if (!e.filterPredicates.empty() || !e.steps.empty()) {
        if (!v.set) return Val{};  // an error in libxml2
        sort(v, c);
      }
      for (const auto& p : e.filterPredicates) predicate(*p, v, c, v.disjoint);
    } else {
      v.set = true;
      v.size = 1;
      v.total = c.m;
      v.disjoint = e.absolute ? c.m <= 1 : c.disjoint;
    }
    if (e.parenthesised) sort(v, c);
    for (const Step& s : e.steps) v = step(s, v, c);
    return v;
  }

  // Each candidate node gets the predicate with itself as context.
  void predicate(const Expr& p, Val& v, const Ctx& c, bool distinctCandidates) {
    Ctx inner;
    inner.m = std::max(1.0, v.total);
    inner.disjoint = distinctCandidates;
    eval(p, inner);  // a truth or a position: no sort, no string
    work += OPERATION * (v.total + c.m);
  }

  Val step(const Step& s, const Val& in, const Ctx& c) {
    const double n = st.nodes;
    // Nodes one context node shows the axis, and the most any set of distinct
    // context nodes shows it together (every node has one parent, its
    // attributes one element, a node lies below its ancestors only).
    double per = 1, together = HUGE_VAL;
    bool local = false, noDuplicateCheck = false;
    switch (s.axis) {
      case Axis::CHILD:
        per = st.maxFanOut;
        together = n;
        local = noDuplicateCheck = true;
        break;
      case Axis::ATTRIBUTE:
        per = st.maxAttributes;
        together = st.attributes;
        local = noDuplicateCheck = true;
        break;
      case Axis::NAMESPACE:
        // xmlGetNsList checks each declaration in scope against those found.
        per = st.maxDepth + st.maxNamespacesInScope * (st.maxNamespacesInScope + 1);
        local = noDuplicateCheck = true;
        break;
      case Axis::SELF:
        per = 1;
        local = noDuplicateCheck = true;
        break;
      case Axis::PARENT:
        per = 1;
        break;
      case Axis::ANCESTOR:
      case Axis::ANCESTOR_OR_SELF:
        per = st.maxDepth + 2;
        break;
      case Axis::DESCENDANT:
      case Axis::DESCENDANT_OR_SELF:
        per = n;
        together = (st.maxDepth + 2) * n;
        break;
      case Axis::FOLLOWING:
      case Axis::PRECEDING:
        per = 2 * n;
        break;
      case Axis::FOLLOWING_SIBLING:
      case Axis::PRECEDING_SIBLING:
        per = st.maxFanOut;
        break;
    }
    // Axis calls (each counted by libxml2), one more per context node.
    double one = std::min(in.size * per, together) + in.size;
    double all = in.disjoint ? std::min(in.total * per, together) + in.total : c.m * one;
    all = std::min(all, c.m * one);
    double kinds = kindCount(s);
    Val out;
    out.set = true;
    out.size = std::min(one, kinds);
    // One evaluation's set is distinct, and so are the children, attributes
    // and namespace nodes of its nodes.
    bool disjoint = c.m <= 1 || (in.disjoint && local);
    out.total = std::min(all, disjoint ? kinds : c.m * out.size);
    out.disjoint = disjoint;
    out.namespaces = s.axis == Axis::NAMESPACE;
    out.attributesOnly = s.axis == Axis::ATTRIBUTE;
    out.elementsOnly = s.axis != Axis::ATTRIBUTE && s.axis != Axis::NAMESPACE &&
                       (s.test == Test::NAME || s.test == Test::ANY_NAME);
    work += TRAVERSAL * all + OPERATION * c.m;
    // Predicates run on each context node's nodes before they are merged.
    // (each context node's nodes that pass the test; apart, no more than the test admits)
    Val candidates = out;
    candidates.total =
        std::min(all, local && disjoint ? kinds : c.m * (local ? 1 : in.size) * kinds);
    for (const auto& p : s.predicates) {
      predicate(*p, candidates, c, local && disjoint);
      // Whatever the predicates before, each only drops nodes: those left
      // all carry the attribute with that value.
      double carrying = attributeEqualityCount(*p);
      out.size = std::min(out.size, carrying);
      out.total = std::min(out.total, disjoint ? carrying : c.m * carrying);
    }
    // The merge of each context node's nodes into the set gathered so far.
    if (noDuplicateCheck || in.size <= 1)
      work += all;
    else
      work += out.size * all * (out.namespaces ? 8 : 1);
    return out;
  }

  // How many elements carry the attribute of [@name = 'literal'] (either
  // side, attribute:: or a prefix), HUGE_VAL for any other predicate.
  double attributeEqualityCount(const Expr& p) const {
    if (p.kind != Kind::EQUALITY || p.text != "=") return HUGE_VAL;
    const Expr* path = p.operands[0].get();
    const Expr* lit = p.operands[1].get();
    if (path->kind == Kind::LITERAL) std::swap(path, lit);
    if (lit->kind != Kind::LITERAL || path->kind != Kind::PATH || path->hasFilter ||
        path->absolute || path->steps.size() != 1)
      return HUGE_VAL;
    const Step& a = path->steps[0];
    if (a.axis != Axis::ATTRIBUTE || a.test != Test::NAME || !a.predicates.empty()) return HUGE_VAL;
    if (st.attributesValueUnknown.count(a.name)) return HUGE_VAL;
    auto byName = st.attributesByValue.find(a.name);
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
        return st.nodes;
    }
  }

  Val call(const Expr& e, const Ctx& c) {
    const std::string& f = e.text;
    if (f == "range" || f == "range-inside" || f == "range-to" || f == "string-range" ||
        f == "start-point" || f == "end-point") {
      refused = true;  // ranges and points: no node set a selection could use
      return Val{};
    }
    std::vector<Val> args;
    for (const auto& a : e.operands) {
      args.push_back(eval(*a, c));
      sort(args.back(), c);
    }
    work += c.m * OPERATION;
    if (f == "here") {
      Val v;
      v.set = true;
      v.size = 1;
      v.total = c.m;
      v.disjoint = c.m <= 1;
      return v;
    }
    if (f == "id") {
      if (args.size() != 1) return Val{};
      double length = args[0].set ? setStringLength(args[0]) : args[0].length;
      double tokens = args[0].set ? strings(args[0], c) : c.m * (length + 1);
      work += 8 * tokens;
      Val v;
      v.set = true;
      v.size =
          std::min(args[0].set ? args[0].size * (length / 2 + 1) : length / 2 + 1, st.elements);
      v.total = c.m * v.size;
      v.disjoint = c.m <= 1;
      v.elementsOnly = true;
      return v;
    }
    if (f == "count" || f == "boolean" || f == "not" || f == "last" || f == "position" ||
        f == "true" || f == "false") {
      return Val{};
    }
    if (f == "sum") {
      for (const Val& a : args) work += a.set ? strings(a, c) : c.m * a.length;
      return Val{};
    }
    if (f == "local-name" || f == "name" || f == "namespace-uri") {
      Val v;  // a name copied out of the tree
      v.length = st.maxNameLength;
      work += c.m * v.length;
      return v;
    }
    if (f == "lang") work += c.m * (st.maxDepth + 2) * (st.maxAttributes + 2);
    // The string functions: each reads its arguments' strings (the context
    // node's without one), the search and translation ones one against the
    // other.
    const double own = st.nodes + st.textLength;
    double length = args.empty() ? own : 0, product = 1;
    if (args.empty())
      work += c.disjoint ? std::min(c.m * own, (st.maxDepth + 2) * own) + c.m : c.m * own;
    for (const Val& a : args) {
      Val s = toScalar(a, c);
      length += s.length;
      product *= s.length + 1;
    }
    work += c.m * (length + (args.size() > 1 ? std::min(product, 1e30) : 0));
    Val v;
    v.length = length;
    return v;
  }
};

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

// The XPointer framework as xmlXPtrEval reads it: a bare name or child
// sequence, or parts "scheme(body)" with ^ escaping parentheses and itself.
bool isFrameworkNameChar(unsigned char c) { return isNameChar(c) || c == ':'; }

}  // namespace

XmlXPointerPlan xmlXPointerPlan(const std::string& expression, const XmlXPointerDocStats& st,
                                XmlBoundRoad road) {
  (void)road;
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
  // A child sequence or Id: a lookup and a walk along each level's children.
  const double childSequence = (static_cast<double>(x.size()) + 1) * (st.maxFanOut + 8);
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
      std::vector<Expr*> work{e.get()};
      while (!work.empty()) {  // libxml2's folding, over every path of the expression
        Expr* p = work.back();
        work.pop_back();
        foldDescendants(p->steps);
        for (auto& o : p->operands) work.push_back(o.get());
        for (auto& o : p->filterPredicates) work.push_back(o.get());
        for (auto& s : p->steps)
          for (auto& o : s.predicates) work.push_back(o.get());
      }
      Val v = bound.eval(*e, Ctx{});
      bound.sort(v, Ctx{});
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
  plan.accepted = true;
  plan.bound = bound.work + childSequence;
  return plan;
}

namespace {
// libxml2 versions (xmlParserVersion) whose costs the check has passed on.
const char* const CHECKED_LIBXML2_VERSIONS[] = {"20914"};
int roadOverride = -1;
}  // namespace

XmlBoundRoad xmlBoundRoad() {
  if (roadOverride >= 0) return static_cast<XmlBoundRoad>(roadOverride);
  for (const char* v : CHECKED_LIBXML2_VERSIONS)
    if (xmlParserVersion && std::string(xmlParserVersion) == v) return XmlBoundRoad::FULL;
  return XmlBoundRoad::NARROW;
}

void xmlBoundOverrideRoad(const XmlBoundRoad* road) {
  roadOverride = road ? static_cast<int>(*road) : -1;
}

XmlXPointerPlan xmlXPathFilterPlan(const std::string& expression, const XmlXPointerDocStats& st,
                                   XmlBoundRoad road) {
  (void)road;
  XmlXPointerPlan plan;
  Parser parser(expression);
  ExprPtr e = parser.parseAll();
  if (!e) return plan;
  Bound bound(st);
  bound.eval(*e, Ctx{});
  if (bound.refused) return plan;
  plan.accepted = true;
  plan.bound = bound.work;
  plan.rewritten = "(" + expression + ")";
  return plan;
}
