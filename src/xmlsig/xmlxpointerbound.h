// An upper bound of the work libxml2 2.9's XPointer processor does for an
// expression over a document, computed before it runs. libxml2 counts its
// axis steps but not the duplicate checks of its node-set merges (each new node
// against every node gathered so far), its sorts or its string values, and
// those grow with the product of set sizes: a reference of a signed document
// could keep it busy for minutes within any operation limit. The expression is
// parsed here (the XPointer framework, and XPath 1.0 inside xpointer()), and
// each construct gets a bound from statistics of the document gathered in one
// walk: set sizes by node kind and name, depth, fan-out, declarations in scope
// and text lengths. A unit is about 8 instructions of libxml2's work (the
// instruction-count check in tests/cost fails above 16): string work is priced
// by the octets it reads, so a unit costs about the same whatever the names,
// prefixes and URIs of the document.
// The parts: the grammar (xmlxpathgrammar.h), the statistics' walk
// (xmlxpointerstats.cpp), the prices (xmlboundprices.h), the model that adds
// them up (xmlboundmodel.h), the plans and the road (xmlxpointerbound.cpp).
#pragma once

#include "xmlsig/xmltransform.h"

#include <libxml/tree.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

struct XmlXPointerDocStats {
  double nodes = 1;  // the document node, elements, attributes, namespace nodes, the rest
  double elements = 0;
  double attributes = 0;
  double namespaceNodes = 0;  // one per element and declaration in scope, xml's included
  double maxDepth = 0;
  // The depths of all nodes added up (an attribute's or namespace node's one
  // below its element's): the ancestors distinct nodes have together.
  double depthSum = 0;
  double maxFanOut = 0;
  double maxAttributes = 0;
  double maxNamespacesInScope = 1;
  // Octets of all texts, comments and attribute values, and of the namespace
  // nodes' URIs (one per element and declaration in scope).
  double textLength = 0;
  double maxAttributeLength = 0;
  // A name, its prefix and namespace URI (a declaration's too), at least the xml
  // namespace's URI, in scope everywhere.
  double maxNameLength = 36;
  // Octets of the longest local name (element, attribute), prefix (of a name
  // or a declaration) and namespace URI: what one string comparison or copy
  // of such a name may read.
  double maxLocalNameLength = 0;
  double maxPrefixLength = 0;
  double maxNamespaceUriLength = 36;  // the xml namespace's, in scope everywhere
  // By local name, viewing the tree's names (valid while the tree is).
  std::unordered_map<std::string_view, double> elementsByName;
  std::unordered_map<std::string_view, double> attributesByName;
  // Attributes by local name and value (both viewing the tree's strings): an
  // equality predicate on an attribute selects no more elements than carry
  // that value. A name some of whose values are not one text node (entity
  // references) is listed apart and gets no such bound.
  std::unordered_map<std::string_view, std::unordered_map<std::string_view, double>>
      attributesByValue;
  std::unordered_set<std::string_view> attributesValueUnknown;
  // Every element carries its order number (stamped when the document was
  // parsed, in the content field as libxml2's XPath reads it): sorting a set
  // of elements compares two numbers instead of walking the tree.
  bool ordered = true;
  // What sorting a set of other nodes reads (xmlXPathCmpNodesExt): a text,
  // comment or PI walks back over the non-element siblings before it to an
  // element (the longest such run); one at the top level, or any node of
  // another kind (an entity reference) inside, goes the long way round (up to
  // the common ancestor, along its children).
  double maxNonElementRun = 0;
  double rootFanOut = 0;
  bool otherKinds = false;
  // The walk's own work, in the bound's units: a visit per node, and the
  // octets of the names and values it keys its tables by.
  double walkCost = 0;
};

// One walk of the document (depth first, iterative).
XmlXPointerDocStats xmlXPointerGatherStats(xmlDocPtr doc);
// The statistics of the document, gathered once while an XmlIdIndexScope
// indexes it (the tree stays as it is then) and kept there for all its
// references (a walk for each of thousands was quadratic); the walk is charged
// to the budget.
std::shared_ptr<const XmlXPointerDocStats> xmlXPointerDocumentStats(xmlDocPtr doc,
                                                                    XmlWorkBudget& budget);

// The most work one evaluation of a signed document's expression (an
// XPointer, or an XPath filter over all the nodes it is asked about) may be
// bounded by: some 0.25 s here, and within a second on a slow machine under
// sanitizers; room for the W3C's enveloped filter with here() over a receipt
// of 1 MB (up to 120,000 nodes, 2.2e8 units). The application's own
// expressions keep the usual operation limit: their author is not the
// stranger.
const double XML_EXPRESSION_WORK_CAP = 2.5e8;

struct XmlXPointerPlan {
  // False when the expression uses what is refused (ranges and points, as
  // libxml2's range functions give) or cannot be read here though libxml2
  // reads it (an XPath part outside the grammar, nesting past the bound): the
  // evaluation is refused. A part libxml2 cannot read either ends the
  // rewritten expression as a part certain to fail, where libxml2 stops.
  bool accepted = false;
  double bound = 0;  // units
  // Of the bound, what the expression's framework costs whatever its XPath:
  // each evaluation's start, the compilation, and an XPointer's child
  // sequences (a walk along the widest level's children for each octet),
  // which over a wide document outweighs the rest of a short expression's.
  double framework = 0;
  // The expression with each xpointer() part's XPath put in parentheses, which
  // keeps libxml2 from its streaming evaluator (whose states multiply with
  // nested "//" steps outside any count); the selection is the same.
  std::string rewritten;
};

// The road a signed document's expression takes. The bound copies the costs of
// the libxml2 versions listed in the unit (its merges, its streaming evaluator,
// its order numbers): FULL where the libxml2 in use is one of them, which an
// instruction-count check over crafted documents has passed on; NARROW
// elsewhere, where only forms whose cost is linear in any version are accepted
// (bare names, id(), "/", element(), xmlns(), and paths of name tests with
// attribute-equality predicates), each still under the bound.
enum class XmlBoundRoad { FULL, NARROW };
// The road for the libxml2 in use at run time, or the one a check set; NARROW
// whatever the version when TALVORIN_XML_NARROW_ROAD is set (not "0").
XmlBoundRoad xmlBoundRoad();
// For the instruction-count check, which measures the full road's pricing
// whatever the version: null gives the choice back to the version.
void xmlBoundOverrideRoad(const XmlBoundRoad* road);

XmlXPointerPlan xmlXPointerPlan(const std::string& expression, const XmlXPointerDocStats& stats,
                                XmlBoundRoad road = xmlBoundRoad());

// The evaluations of an XPath filter's expression, once for each of
// `evaluations` distinct nodes of the document as context (a filter runs it
// once per node of its input): the bound of them all (a node's string value,
// a descendant walk, are bounded over distinct nodes together), and the
// expression in parentheses (no streaming evaluator).
XmlXPointerPlan xmlXPathFilterPlan(const std::string& expression,
                                   const XmlXPointerDocStats& stats, double evaluations = 1,
                                   XmlBoundRoad road = xmlBoundRoad());
