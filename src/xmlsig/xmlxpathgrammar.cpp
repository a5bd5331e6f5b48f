#include "xmlsig/xmlxpathgrammar.h"

#include <utility>

namespace xmlbound {

namespace {

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
      st.prefix = n;
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

}  // namespace

ExprPtr parseXPath(const std::string& text) { return Parser(text).parseAll(); }

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

}  // namespace xmlbound
