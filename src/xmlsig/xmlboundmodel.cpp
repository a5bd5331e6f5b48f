#include "xmlsig/xmlboundmodel.h"

#include "xmlsig/xmlboundprices.h"

#include <algorithm>
#include <utility>
#include <cmath>
#include <vector>

namespace xmlbound {

const Step* attributeEquality(const Expr& p) {
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

namespace {

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
  // In document order, or its reverse (one context node's axis, a sorted
  // set): a timsort finds it one run.
  bool inOrder = false;
  double length = NUMBER_LENGTH;  // string length, for a string or number
  // The lengths of all evaluations' strings together: no more than the
  // count times the length, and for the string values of distinct nodes no
  // more than all the strings of the document.
  double totalLength = NUMBER_LENGTH;
  // A number or a truth: read as a number without converting a string.
  bool number = false;
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
  Bound(const XmlXPointerDocStats& st, double registeredPrefixes, double longestRegisteredPrefix)
      : st(st),
        registeredPrefixes(registeredPrefixes),
        longestRegisteredPrefix(longestRegisteredPrefix) {}
  double work = 0;
  bool refused = false;

  ValueBound eval(const Expr& e, const Evaluations& ev) {
    switch (e.kind) {
      case Kind::LITERAL: {
        // Copied at every evaluation (xmlXPathCacheObjectCopy's xmlStrdup).
        const double length = static_cast<double>(e.text.size());
        work += ev.count * (OPERATION + (length + 1) * OCTET);
        return scalar(length, ev);
      }
      case Kind::NUMBER:
      case Kind::VARIABLE:
        work += ev.count * OPERATION;
        return numberValue(ev);
      case Kind::OR_AND:
        for (const auto& o : e.operands) truth(eval(*o, ev), ev);
        work += ev.count * OPERATION;
        return numberValue(ev);
      case Kind::NEGATE:
      case Kind::ARITHMETIC:
        for (const auto& o : e.operands) toNumber(eval(*o, ev), ev);
        work += ev.count * OPERATION;
        return numberValue(ev);
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
    // At most log2(n) merging passes, and the scan for runs and the galloping
    // around them (two more); a set in order is one run, found in a scan
    // (under 64 nodes, a binary insertion sort still searches).
    const double passes = v.inOrder && v.size >= 64 ? 1 : std::log2(v.size) + 2;
    work += ev.count * v.size * passes * comparison(v);
  }
  // One comparison of two nodes of the set (xmlXPathCmpNodesExt); a walk's
  // step is a pointer followed (a unit), the compare's own tests around it
  // NUMBERED_COMPARE's.
  double comparison(const ValueBound& v) const {
    if (st.ordered && v.elementsOnly) return NUMBERED_COMPARE;
    const double upAndAlong = 2 * st.maxDepth + st.maxFanOut + st.maxAttributes;
    if (!st.ordered || st.otherKinds) return upAndAlong + NUMBERED_COMPARE;
    // Each side to its element: back over a run of non-element siblings (an
    // attribute to its owner); two of one element: back over the run again
    // or its attributes; a text inside the other's element: up its
    // ancestors. A node at the top level: up both sides' ancestors to the
    // common one and along the document's children.
    return 3 * st.maxNonElementRun + st.maxAttributes + 3 * st.maxDepth + st.rootFanOut +
           NUMBERED_COMPARE;
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
    if (v.disjoint) s.totalLength = std::min(s.totalLength, allStringValues());
    return s;
  }
  ValueBound scalar(double length, const Evaluations& ev) const {
    ValueBound s;
    s.length = length;
    s.totalLength = ev.count * length;
    return s;
  }
  ValueBound numberValue(const Evaluations& ev) const {
    ValueBound s = scalar(NUMBER_LENGTH, ev);
    s.number = true;
    return s;
  }
  // A value read as a number: a set's string value, and a string's octets
  // read by xmlXPathStringEvalNumber (a multiply-add per digit).
  void toNumber(const ValueBound& v, const Evaluations& ev) {
    const ValueBound s = toScalar(v, ev);
    if (!s.number) work += s.totalLength * NUMBER_OCTET;
  }
  // A value's truth: a set's is whether it is empty, a string's whether its
  // length (xmlStrlen reads it all) is not 0.
  void truth(const ValueBound& v, const Evaluations&) {
    if (!v.isSet && !v.number) work += v.totalLength * OCTET;
  }
  // The octets of the string values of a set's nodes in all evaluations.
  double setOctets(const ValueBound& v, const Evaluations& ev) const {
    const double whole = allStringValues();
    if (v.disjoint) return std::min(v.total * stringLength(v), whole);
    return ev.count * std::min(v.size * stringLength(v), whole);
  }

 private:
  const XmlXPointerDocStats& st;
  const double registeredPrefixes, longestRegisteredPrefix;

  // A step's prefix looked up at each evaluation (xmlXPathNsLookup): hashed,
  // and compared with the registered prefixes (all of them at most, whether
  // in the context's array or one bucket of its table).
  double prefixLookup(const Step& s) const {
    if (!s.prefixed) return 0;
    const double p = static_cast<double>(s.prefix.size());
    return (p + 1) * HASH_OCTET +
           registeredPrefixes * ((std::min(p, longestRegisteredPrefix) + 1) * OCTET + PAIR);
  }

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
    const bool numbers = e.kind == Kind::RELATIONAL;
    if (a.isSet && b.isSet) {
      work += strings(a, ev) + strings(b, ev);
      // An order reads every node's string as a number (xmlXPathCompareNodeSets).
      if (numbers) work += (setOctets(a, ev) + setOctets(b, ev)) * NUMBER_OCTET;
      // Strings compared up to the shorter (equality), numbers read once each.
      double pair = e.kind == Kind::EQUALITY
                        ? std::min(stringLength(a), stringLength(b)) * OCTET + PAIR
                        : PAIR;
      work += ev.count * a.size * b.size * pair;
    } else if (a.isSet || b.isSet) {
      const ValueBound& set = a.isSet ? a : b;
      const ValueBound& other = a.isSet ? b : a;
      work += strings(set, ev);
      if (numbers || other.number) {
        // Each node's string read as a number (xmlXPathCompareNodeSetFloat,
        // xmlXPathEqualNodeSetFloat), the other side once; a truth reads
        // no string of the set, less than this.
        toNumber(other, ev);
        work += setOctets(set, ev) * NUMBER_OCTET + set.total * PAIR;
      } else {
        work += set.total * (other.length * OCTET + PAIR) + ev.count * other.length * OCTET;
      }
    } else if (numbers || a.number || b.number) {
      // Numbers compared: a string side read as a number (a truth against a
      // string reads its length, less).
      toNumber(a, ev);
      toNumber(b, ev);
      work += ev.count * PAIR;
    } else {
      // Equal strings compare up to the shorter.
      const double read =
          std::min({a.totalLength, b.totalLength, ev.count * std::min(a.length, b.length)});
      work += read * OCTET + ev.count * PAIR;
    }
    work += ev.count * OPERATION;
    return numberValue(ev);
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
    if (e.parenthesised) {
      sort(v, ev);
      v.inOrder = true;
    }
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
    truth(eval(p, inner), inner);  // a truth or a position: no sort
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

  // What an axis shows: nodes one context node shows it, and the most any set
  // of distinct context nodes shows it together (every node has one parent,
  // its attributes and namespace nodes one element, a node lies below its
  // ancestors only); what each context node costs before its first node;
  // whether its nodes are the context node's own (children, attributes,
  // namespace nodes, itself), which libxml2 appends without a duplicate check.
  struct AxisReach {
    double perContextNode = 1;
    double distinctTogether = HUGE_VAL;
    double startCost = CONTEXT_NODE;
    bool local = false;
  };
  AxisReach reach(Axis axis) const {
    const double n = treeNodes();
    AxisReach r;
    switch (axis) {
      case Axis::CHILD:
        r.perContextNode = st.maxFanOut;
        r.distinctTogether = n;
        r.local = true;
        break;
      case Axis::ATTRIBUTE:
        r.perContextNode = st.maxAttributes;
        r.distinctTogether = st.attributes;
        r.local = true;
        break;
      case Axis::NAMESPACE: {
        // xmlGetNsList walks the ancestors and checks each declaration in
        // scope against those it kept, prefix against prefix; then
        // xmlXPathNodeSetAddNs checks each namespace node the test keeps
        // against those of the same element kept before it, prefix against
        // prefix again: two triangles of prefix comparisons.
        const double d = st.maxNamespacesInScope;
        r.perContextNode = d + 1;  // and the xml namespace
        r.distinctTogether = st.namespaceNodes;
        const double prefixComparisons = 2 * (d * (d + 1) / 2);
        r.startCost += st.maxDepth * VISIT +
                       prefixComparisons * (PAIR + (st.maxPrefixLength + 1) * OCTET);
        r.local = true;
        break;
      }
      case Axis::SELF:
        r.local = true;
        break;
      case Axis::PARENT:
        break;
      case Axis::ANCESTOR:
      case Axis::ANCESTOR_OR_SELF:
        r.perContextNode = st.maxDepth + 2;  // and the document node, and itself
        r.distinctTogether = st.depthSum + st.nodes;
        break;
      case Axis::DESCENDANT:
      case Axis::DESCENDANT_OR_SELF:
        r.perContextNode = n;
        r.distinctTogether = (st.maxDepth + 2) * n;
        break;
      case Axis::FOLLOWING:
      case Axis::PRECEDING:
        r.perContextNode = 2 * n;  // the walk passes a node going down and again going up
        break;
      case Axis::FOLLOWING_SIBLING:
      case Axis::PRECEDING_SIBLING:
        r.perContextNode = st.maxFanOut;
        break;
    }
    return r;
  }

  // A step: the axis walked from every context node, its nodes tested, the
  // predicates run on each context node's nodes, and the merge.
  ValueBound step(const Step& s, const ValueBound& in, const Evaluations& ev) {
    const AxisReach r = reach(s.axis);
    // Nodes the axis shows (each counted by libxml2), for one evaluation and
    // for all of them.
    const double oneEvaluation = std::min(in.size * r.perContextNode, r.distinctTogether);
    double allEvaluations = in.disjoint ? std::min(in.total * r.perContextNode, r.distinctTogether)
                                        : ev.count * oneEvaluation;
    allEvaluations = std::min(allEvaluations, ev.count * oneEvaluation);
    const double contextNodes = in.disjoint ? in.total : ev.count * in.size;
    const double ofTheKind = kindCount(s);
    // One evaluation's set is distinct, and so are the children, attributes
    // and namespace nodes of its nodes.
    const bool disjoint = ev.count <= 1 || (in.disjoint && r.local);
    ValueBound out = stepSet(s, in, ev, oneEvaluation, allEvaluations, disjoint);
    // One context node's axis gives its nodes in order or in reverse (a
    // namespace node compares as after every node, in no order).
    out.inOrder = in.size <= 1 && s.axis != Axis::NAMESPACE;
    work += contextNodes * r.startCost + allEvaluations * (PASSED_OVER + nameTestCost(s)) +
            out.total * (VISIT - PASSED_OVER + uriTestCost(s)) +
            (OPERATION + STEP_START + prefixLookup(s)) * ev.count;
    work += namespaceCopies(s, in, out, contextNodes);
    // Predicates run on each context node's nodes before they are merged
    // (each context node's nodes that pass the test; apart, no more than the
    // test admits).
    ValueBound candidates = out;
    candidates.total = std::min(allEvaluations, r.local && disjoint
                                                    ? ofTheKind
                                                    : ev.count * (r.local ? 1 : in.size) * ofTheKind);
    // Distinct nodes' ancestors that are elements: one fewer than each
    // node's depth (the document node, counted in nodes, has none), and the
    // node itself when it is one.
    if (in.disjoint && out.elementsOnly &&
        (s.axis == Axis::ANCESTOR || s.axis == Axis::ANCESTOR_OR_SELF))
      candidates.total = std::min(candidates.total,
                                  std::max(0.0, st.depthSum - (st.nodes - 1) + st.elements));
    for (const auto& p : s.predicates) {
      predicate(*p, candidates, ev, r.local && disjoint);
      // Whatever the predicates before, each only drops nodes: those left
      // all carry the attribute with that value.
      const double carrying = attributeEqualityCount(*p);
      out.size = std::min(out.size, carrying);
      out.total = std::min(out.total, disjoint ? carrying : ev.count * carrying);
    }
    // The merge of each context node's nodes into the set gathered so far
    // (the first context node's set is taken as it is).
    if (in.size <= 1) {
    } else if (r.local) {
      work += allEvaluations * VISIT;
    } else {
      work += out.size * allEvaluations * pairCost(out, out);
    }
    return out;
  }

  // The set a step gives, before its predicates: no more nodes than the axis
  // shows or the test admits.
  ValueBound stepSet(const Step& s, const ValueBound& in, const Evaluations& ev,
                     double oneEvaluation, double allEvaluations, bool disjoint) const {
    const double ofTheKind = kindCount(s);
    ValueBound out;
    out.isSet = true;
    out.size = std::min(oneEvaluation, ofTheKind);
    // An element has one attribute of a name in no namespace at most.
    if (s.axis == Axis::ATTRIBUTE && s.test == Test::NAME && !s.prefixed)
      out.size = std::min(out.size, in.size);
    out.total = std::min(allEvaluations, disjoint ? ofTheKind : ev.count * out.size);
    out.disjoint = disjoint;
    out.namespaces = s.axis == Axis::NAMESPACE;
    out.attributesOnly = s.axis == Axis::ATTRIBUTE;
    out.elementsOnly = s.axis != Axis::ATTRIBUTE && s.axis != Axis::NAMESPACE &&
                       (s.test == Test::NAME || s.test == Test::ANY_NAME);
    return out;
  }

  // Namespace nodes a step copies: those the namespace axis gives, and a
  // namespace context node the self axes give again (marked in out).
  double namespaceCopies(const Step& s, const ValueBound& in, ValueBound& out,
                         double contextNodes) const {
    double copies = 0;
    const bool selfAxis = s.axis == Axis::SELF || s.axis == Axis::ANCESTOR_OR_SELF ||
                          s.axis == Axis::DESCENDANT_OR_SELF;
    if (in.namespaces && selfAxis && s.test == Test::NODE) {
      out.namespaces = true;
      copies += std::min(contextNodes, st.namespaceNodes) * namespaceCopy();
    }
    if (s.axis == Axis::NAMESPACE) copies += out.total * namespaceCopy();
    return copies;
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
      work += ev.count * ALLOCATION;  // ours: a new set of one node
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
      // Every token is looked up, whether or not it names an element.
      work += ID_OCTET * octets + (octets / 2 + ev.count) * ID_TOKEN;
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
    if (f == "boolean" || f == "not") {
      for (const ValueBound& a : args) truth(a, ev);
      return numberValue(ev);
    }
    if (f == "count" || f == "last" || f == "position" || f == "true" || f == "false")
      return numberValue(ev);
    if (f == "sum") {
      for (const ValueBound& a : args)
        work += a.isSet ? strings(a, ev) + setOctets(a, ev) * NUMBER_OCTET
                        : a.totalLength * NUMBER_OCTET;
      return numberValue(ev);
    }
    if (f == "number" || f == "round" || f == "floor" || f == "ceiling") {
      toNumber(args.empty() ? contextString(ev) : args[0], ev);
      return numberValue(ev);
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
    if (args.empty()) strs.push_back(contextString(ev));
    for (const ValueBound& a : args) {
      // A number written out as a string (xmlXPathFormatNumber: a printf).
      if (a.number) work += ev.count * NUMBER_FORMAT;
      strs.push_back(toScalar(a, ev));
    }
    // substring()'s start and length are read as numbers.
    if (f == "substring")
      for (size_t i = 1; i < args.size(); ++i) toNumber(args[i], ev);
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
    if (f == "string-length" || f == "contains" || f == "starts-with" || f == "lang")
      return numberValue(ev);
    return v;
  }

  // The context node's string value, taken by a function without argument.
  ValueBound contextString(const Evaluations& ev) {
    const double own = treeNodes() * VISIT + st.textLength * OCTET;
    work += ev.distinct ? std::min(ev.count * own, wholeTreeStrings()) + ev.count
                        : ev.count * own;
    ValueBound c = scalar(st.textLength, ev);
    if (ev.distinct) c.totalLength = std::min(c.totalLength, allStringValues());
    return c;
  }
  // The octets of every node's string value together: a text lies in the
  // string values of its ancestors (at most maxDepth), the document node's
  // and its own.
  double allStringValues() const { return (st.maxDepth + 2) * st.textLength; }

};

}  // namespace
bool ExpressionBound::add(const Expr& e, double evaluations, bool namespaceContexts) {
  Bound bound(st, st.maxNamespacesInScope + xmlnsPrefixes,
              std::max(st.maxPrefixLength, longestXmlnsPrefix));
  Evaluations each;
  each.count = std::max(1.0, evaluations);
  each.namespaces = namespaceContexts;
  ValueBound v = bound.eval(e, each);
  bound.sort(v, each);
  work += bound.work;
  return !bound.refused;
}

}  // namespace xmlbound
