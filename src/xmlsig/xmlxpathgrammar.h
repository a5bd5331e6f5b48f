// XPath 1.0 as libxml2 2.9 reads it, for the bound (xmlxpointerbound.h): the
// expression's tree, and libxml2's folding of descendant steps.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace xmlbound {

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
  std::string prefix;     // looked up at every evaluation of the step
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

inline bool isNameStart(unsigned char c) {
  return c >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
inline bool isNameChar(unsigned char c) {
  return isNameStart(c) || (c >= '0' && c <= '9') || c == '.' || c == '-';
}
inline bool isBlank(unsigned char c) { return c == 0x20 || c == 0x9 || c == 0xA || c == 0xD; }

// The tree of the unescaped text of an xpointer() part or a filter's
// expression; null when it is not XPath as read here.
ExprPtr parseXPath(const std::string& text);

// libxml2's folding of descendant steps, over every path of the expression.
void foldAll(Expr& e);

}  // namespace xmlbound
