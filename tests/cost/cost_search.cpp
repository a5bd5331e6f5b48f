#include "cost_search.h"

#include <algorithm>
#include <initializer_list>

namespace {

class Rng {  // splitmix64: the same sequence on every platform
 public:
  explicit Rng(uint64_t seed) : s(seed) {}
  uint64_t next() {
    uint64_t z = (s += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  size_t below(size_t n) { return n ? static_cast<size_t>(next() % n) : 0; }
  bool chance(unsigned percent) { return below(100) < percent; }
  const std::string& pick(const std::vector<std::string>& v) { return v[below(v.size())]; }
  size_t pick(std::initializer_list<size_t> v) { return v.begin()[below(v.size())]; }
  const char* pick(std::initializer_list<const char*> v) { return v.begin()[below(v.size())]; }

 private:
  uint64_t s;
};

// `length` octets, all `start` but a distinct end: comparing two reads them all.
std::string sharedStart(char start, size_t length, size_t i) {
  const std::string end = std::to_string(i);
  return std::string(std::max<size_t>(1, length > end.size() ? length - end.size() : 1), start) + end;
}

struct Shape {
  std::vector<std::string> elements, attributes, prefixes, uris;
  size_t maxDepth = 3, fanOut = 3, attributesEach = 2, elementsLeft = 40, textLength = 1;
  bool chain = false;  // every element's first child an element, down to maxDepth
};

Shape drawShape(Rng& r) {
  Shape sh;
  sh.elements = {"l", "g", "e"};
  sh.attributes = {"x", "y", "v"};
  const size_t nameLength = r.pick({8, 200, 1500});
  for (size_t i = 0, n = r.below(4); i < n; ++i) sh.elements.push_back(sharedStart('n', nameLength, i));
  for (size_t i = 0, n = r.below(4); i < n; ++i) sh.attributes.push_back(sharedStart('a', nameLength, i));
  const size_t prefixLength = r.pick({1, 8, 500, 1500}), uriLength = r.pick({8, 300, 1500});
  for (size_t i = 0, n = r.below(4); i < n; ++i) {
    sh.prefixes.push_back(sharedStart('q', prefixLength, i));
    sh.uris.push_back("urn:" + sharedStart('u', uriLength, i));
  }
  sh.maxDepth = r.pick({2, 4, 12, 40});
  sh.fanOut = r.pick({1, 3, 8, 30});
  sh.chain = sh.maxDepth >= 12 && r.chance(50);
  sh.attributesEach = r.pick({0, 2, 6, 20});
  sh.elementsLeft = r.pick({20, 60, 150, 600, 2000});
  sh.textLength = r.pick({1, 40, 2000});
  return sh;
}

std::string value(Rng& r, const Shape& sh) {
  switch (r.below(5)) {
    case 0: return std::to_string(r.below(4));
    case 1: return std::string(r.below(sh.textLength) + 1, '0') + "1";  // a long number
    case 2: return r.pick(sh.elements);
    case 3: return r.pick({"pl", "en-GB", "pl-PL", " a  b "});
    default: return std::string(r.below(sh.textLength) + 1, 'v');
  }
}

void element(Rng& r, const Shape& sh, size_t depth, size_t& left, std::string& out) {
  std::string name = r.pick(sh.elements);
  if (!sh.prefixes.empty() && r.chance(30)) name = r.pick(sh.prefixes) + ":" + name;
  out += "<" + name;
  // A run of the pool's names: distinct within the element.
  const size_t count = std::min(r.below(sh.attributesEach + 1), sh.attributes.size());
  const size_t first = r.below(sh.attributes.size());
  for (size_t a = 0; a < count; ++a) {
    std::string attribute = sh.attributes[(first + a) % sh.attributes.size()];
    if (!sh.prefixes.empty() && r.chance(20)) attribute = r.pick(sh.prefixes) + ":" + attribute;
    out += " " + attribute + "='" + value(r, sh) + "'";
  }
  if (r.chance(10)) out += std::string(" xml:lang='") + r.pick({"pl", "en-GB", "PL-x"}) + "'";
  if (r.chance(10)) out += " Id='i" + std::to_string(left) + "'";  // left only falls: unique
  if (r.chance(5) && !sh.uris.empty()) out += " xmlns:" + r.pick(sh.prefixes) + "='urn:x'";
  out += ">";
  const size_t children = depth < sh.maxDepth ? r.below(sh.fanOut + 1) : 0;
  for (size_t c = 0; c < children || (sh.chain && c == 0 && depth < sh.maxDepth); ++c) {
    const size_t kind = sh.chain && c == 0 ? 0 : r.below(10);
    if (kind < 6 && left > 0) {
      --left;
      element(r, sh, depth + 1, left, out);
    } else if (kind < 9) {
      out += r.chance(50) ? std::string(r.below(sh.textLength) + 1, 't')
                          : std::string(r.below(sh.textLength) + 1, '0') + "7";
    } else {
      out += r.chance(50) ? "<!--c-->" : "<?pi d?>";
    }
  }
  out += "</" + name + ">";
}

// XPath 1.0 drawn from its grammar, over the shape's names.
class Grammar {
 public:
  Grammar(Rng& r, const Shape& sh) : r(r), sh(sh) {}

  std::string expr(int depth) {
    if (depth <= 0) return r.chance(60) ? path(0) : r.chance(50) ? literal() : number();
    switch (r.below(10)) {
      case 0: return expr(depth - 1) + r.pick({" or ", " and "}) + expr(depth - 1);
      case 1:
        return expr(depth - 1) + " " + r.pick({"=", "!=", "<", "<=", ">", ">="}) + " " +
               expr(depth - 1);
      case 2:
        return expr(depth - 1) + " " + r.pick({"+", "-", "*", "div", "mod"}) + " " + expr(depth - 1);
      case 3: return "-" + expr(depth - 1);
      case 4: return path(depth - 1) + " | " + path(depth - 1);
      case 5: return call(depth - 1);
      case 6: return r.chance(50) ? literal() : number();
      default: return path(depth);
    }
  }

  std::string path(int depth) {
    switch (r.below(8)) {
      case 0: return r.chance(10) ? "/" : "/" + relative(depth);
      case 1: return "//" + relative(depth);
      case 2:
        return "(" + path(depth - 1) + ")" + (r.chance(50) ? predicate(depth) : "") +
               (r.chance(50) ? "/" + relative(depth) : "");
      case 3: return "here()" + (r.chance(70) ? "/" + relative(depth) : "");
      case 4: return "id(" + (r.chance(50) ? "'i1 i2 i3'" : path(depth - 1)) + ")";
      default: return relative(depth);
    }
  }

 private:
  Rng& r;
  const Shape& sh;

  std::string relative(int depth) {
    std::string p = step(depth);
    for (size_t i = 0, n = r.below(3); i < n; ++i) p += (r.chance(30) ? "//" : "/") + step(depth);
    return p;
  }
  std::string step(int depth) {
    switch (r.below(10)) {
      case 0: return ".";
      case 1: return "..";
      case 2: return "@" + nameTest(sh.attributes) + predicates(depth);
      default: break;
    }
    const char* axis = r.pick({"ancestor", "ancestor-or-self", "attribute", "child", "descendant",
                               "descendant-or-self", "following", "following-sibling", "namespace",
                               "parent", "preceding", "preceding-sibling", "self"});
    const std::string a = axis;
    std::string test;
    if (r.chance(25))
      test = r.pick({"node()", "text()", "comment()", "processing-instruction()"});
    else if (a == "namespace")
      test = r.chance(70) && !sh.prefixes.empty() ? r.pick(sh.prefixes) : r.pick({"*", "p", "xml"});
    else
      test = nameTest(a == "attribute" ? sh.attributes : sh.elements);
    return (r.chance(20) && a == "child" ? "" : a + "::") + test + predicates(depth);
  }
  std::string nameTest(const std::vector<std::string>& names) {
    std::string prefix;
    if (r.chance(30)) prefix = (sh.prefixes.empty() || r.chance(20) ? "p" : r.pick(sh.prefixes)) + ":";
    return prefix + (r.chance(20) ? "*" : r.pick(names));
  }
  std::string predicates(int depth) {
    std::string p;
    for (size_t i = 0, n = depth > 0 && r.chance(40) ? r.below(2) + 1 : 0; i < n; ++i)
      p += predicate(depth);
    return p;
  }
  std::string predicate(int depth) {
    return "[" + (r.chance(25) ? number() : expr(depth - 1)) + "]";
  }
  std::string call(int depth) {
    struct Function {
      const char* name;
      size_t least, most;
      bool sets;  // takes node sets
    };
    static const Function functions[] = {
        {"last", 0, 0, false},          {"position", 0, 0, false},     {"count", 1, 1, true},
        {"id", 1, 1, false},            {"local-name", 0, 1, true},    {"namespace-uri", 0, 1, true},
        {"name", 0, 1, true},           {"string", 0, 1, false},       {"concat", 2, 4, false},
        {"starts-with", 2, 2, false},   {"contains", 2, 2, false},     {"substring-before", 2, 2, false},
        {"substring-after", 2, 2, false}, {"substring", 2, 3, false},  {"string-length", 0, 1, false},
        {"normalize-space", 0, 1, false}, {"translate", 3, 3, false},  {"boolean", 1, 1, false},
        {"not", 1, 1, false},           {"true", 0, 0, false},         {"false", 0, 0, false},
        {"lang", 1, 1, false},          {"number", 0, 1, false},       {"sum", 1, 1, true},
        {"floor", 1, 1, false},         {"ceiling", 1, 1, false},      {"round", 1, 1, false}};
    const Function& f = functions[r.below(std::size(functions))];
    std::string c = std::string(f.name) + "(";
    const size_t n = f.least + r.below(f.most - f.least + 1);
    for (size_t i = 0; i < n; ++i) c += (i ? ", " : "") + (f.sets ? path(depth) : expr(depth));
    return c + ")";
  }
  std::string literal() {
    switch (r.below(7)) {
      case 0: return "''";
      case 1: return "'" + r.pick(sh.elements) + "'";
      case 2: return "'" + std::string(r.pick({10, 300, 2000}), '0') + "1'";  // converted to a number
      case 3: return "'Z" + std::string(r.pick({10, 300, 2000}), '0') + "'";
      case 4: return "'" + std::string(r.pick({10, 300, 2000}), 't') + "'";
      default: return std::string("'") + r.pick({"1", "pl", "v", " 12.5 ", "t"}) + "'";
    }
  }
  std::string number() { return r.pick({"1", "2", "0", "3.5", ".5", "100"}); }
};

// The XPointer parts before an xpointer() part: xmlns() parts, which let its
// prefixed steps evaluate (their prefixes looked up at every evaluation), and
// element() parts, a child sequence or an Id with one (most select nothing,
// and the xpointer() part runs after them).
std::string framework(Rng& r, const Shape& sh, size_t ids) {
  std::string x;
  if (r.chance(50)) {
    for (size_t i = 0; i < sh.prefixes.size(); ++i)
      if (r.chance(70)) x += "xmlns(" + sh.prefixes[i] + "=" + sh.uris[i] + ") ";
    if (r.chance(50)) x += "xmlns(p=urn:p) ";
  }
  if (r.chance(25)) {
    std::string sequence = r.chance(50) ? "/1" : "i" + std::to_string(r.below(ids + 40));
    for (size_t i = 0, n = r.below(sh.maxDepth + 1); i < n; ++i)
      sequence += "/" + std::to_string(r.below(sh.fanOut + 2) + 1);
    x += "element(" + sequence + ") ";
  }
  return x;
}

}  // namespace

GeneratedDocument generatedDocument(uint64_t seed, size_t index, size_t expressions) {
  Rng r(seed * 0x100000001b3ull + index);
  const Shape sh = drawShape(r);
  GeneratedDocument d;
  for (size_t i = 0; i < sh.prefixes.size(); ++i)
    d.rootAttributes += " xmlns:" + sh.prefixes[i] + "='" + sh.uris[i] + "'";
  size_t left = sh.elementsLeft;
  while (left > 0) {
    --left;
    element(r, sh, 1, left, d.body);
  }
  d.summary = "generated " + std::to_string(index) + ": depth " + std::to_string(sh.maxDepth) +
              (sh.chain ? " (a chain)" : "") + ", fan-out " + std::to_string(sh.fanOut) + ", " +
              std::to_string(sh.elementsLeft) + " elements, names of " +
              std::to_string(sh.elements.back().size()) + ", " + std::to_string(sh.prefixes.size()) +
              " prefixes" + (sh.prefixes.empty() ? "" : " of " + std::to_string(sh.prefixes[0].size()));
  for (size_t i = 0; i < sh.prefixes.size(); ++i) d.namespaces.emplace_back(sh.prefixes[i], sh.uris[i]);
  d.namespaces.emplace_back("p", "urn:p");
  Grammar g(r, sh);
  for (size_t i = 0; i < expressions; ++i) {
    if (i % 2 == 0)
      d.xpointers.push_back(framework(r, sh, sh.elementsLeft) + "xpointer(" +
                            (r.chance(80) ? g.path(3) : g.expr(3)) + ")");
    else
      d.filters.push_back(g.expr(3));
  }
  return d;
}
