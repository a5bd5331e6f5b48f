// The abstract XML transform, the kinds of data passed between transforms, the
// Algorithm URI and digest URI tables, and the reader of a ds:Transform's
// parameters.
#pragma once

#include "base/workaccount.h"
#include "xmlsig/xmlcodes.h"

#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <libxslt/xsltInternals.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TVxmlDoc;
class XmlOctetSink;

// The work a stranger's document may cause before it is refused (code 140):
// units counted where libxml2's own costs hide (nodes shown to the
// canonicaliser, weighted by the attributes and namespace declarations each one
// drags in; XPath operations; the large blocks an XPath evaluation allocates).
// The units are the limit, so a verdict does not depend on the machine's load;
// the processor time of the charging thread is the net under them, for what a
// count misses. A budget that belongs to no document (a transform run on its
// own, a test) gets what a document of no size gets: these units and time (a
// sanitised build five times the time).
const uint64_t XML_TRANSFORM_WORK_LIMIT = 300000000ull;
const std::chrono::milliseconds XML_TRANSFORM_TIME_LIMIT{1000 * WORK_TIME_FACTOR};

class XmlLibxmlWork;

// A handle on the work account that pays for one allowance's work: a chain's
// transforms, or all the references of one document when the caller passes
// the same budget to each chain (a document naming many references gets no
// more). The account is the document's when the budget shares it
// (shareAccount), else one of the budget's own, whose clock starts with the
// budget. One limit, one clock and one refusal for all of it: the account's.
class XmlWorkBudget {
 public:
  XmlWorkBudget(uint64_t limit = XML_TRANSFORM_WORK_LIMIT,
                std::chrono::milliseconds time = XML_TRANSFORM_TIME_LIMIT);
  // Adds units; false once the account is over (and from then on). The clock
  // is read as the account reads it (every few dozen charges), or now when asked.
  bool charge(uint64_t units, bool readClock = false);
  // The account over, by its units or its clock.
  bool exhausted() const {
    const WorkAccount* a = charged();
    return a && a->over();
  }
  // Units left before the account is spent (0 once over).
  uint64_t remaining() const {
    const WorkAccount* a = charged();
    return a ? a->remaining() : limit;
  }
  // True once the clock stopped the work (the budget is over from then on too).
  bool netPassed() const {
    const WorkAccount* a = charged();
    return a && a->netPassed();
  }
  // Every unit from now on is charged to the document's account, whose limits
  // and clock are this budget's (held as long as the budget is: the budgets of
  // a document's signatures outlive the call that verified them). An account
  // already over puts the budget over. Once the account closes with its
  // document's verification, later work (an extension of a kept signature)
  // runs on an account of the budget's own, of the larger of the two limits.
  void shareAccount(std::shared_ptr<WorkAccount> shared);
  // The account charged now.
  WorkAccount& account();
  // A budget on its own account starts its clock afresh, the units spent
  // kept: the steps of a kept signature's later work are bounded together,
  // and each by its own time (not the thread's other work between them). A
  // document's account keeps its clock, which spans the verification.
  void restartClock();
  XmlWorkBudget(const XmlWorkBudget&) = delete;
  XmlWorkBudget& operator=(const XmlWorkBudget&) = delete;

 private:
  // The account charged now, or null when the budget's own is still to be
  // made (its document's account closed).
  const WorkAccount* charged() const {
    return document && !document->isClosed() ? document.get() : own.get();
  }
  uint64_t limit;
  std::chrono::milliseconds time;
  std::shared_ptr<WorkAccount> document;
  std::unique_ptr<WorkAccount> own;
};

// A stretch of libxml2's or libxslt's work for a document on this thread: while
// it lasts, the work ticks (every allocation libxml2 makes, every charge to a
// budget), and every XML_NET_TICKS ticks, and once more as a section ends, the
// budget's account reads its clock (a cheap monotonic read, the thread's
// processor clock only once as much wall time has passed as the account has
// left). A single call into libxml2 that neither allocates nor charges runs to
// its end between two checks: the units must bound it. Once the account is
// over (its clock spent, or its units, here or in any other work it pays
// for), the innermost section's stop function runs on this thread, from
// inside libxml2 (it must not throw or allocate); the caller answers 140 as
// for a refused bound. Sections nest: an inner one on the same account shares
// the outer one's ticks, and the stop functions of all of them run, innermost
// first.
class XmlLibxmlWork {
 public:
  explicit XmlLibxmlWork(XmlWorkBudget& budget, void (*stop)(void*) = nullptr,
                         void* stopArgument = nullptr);
  ~XmlLibxmlWork();
  XmlLibxmlWork(const XmlLibxmlWork&) = delete;
  XmlLibxmlWork& operator=(const XmlLibxmlWork&) = delete;
  // Called from the allocator and from charges: cheap, never throws.
  static void tick() noexcept;

 private:
  void check() noexcept;
  void passNet() noexcept;
  WorkAccount& account;
  XmlLibxmlWork* enclosing;
  XmlLibxmlWork* owner;  // the outermost section on the same account: it keeps the ticks
  void (*stop)(void*);
  void* stopArgument;
  uint32_t ticks = 0;
  bool stopped = false;  // the owner's: its sections' stop functions have run
};
const uint32_t XML_NET_TICKS = 64;

// A node set given as a rule: the canonicaliser asks it about every node it
// meets instead of searching a materialised set (whose namespace nodes alone
// can number elements x declarations in scope).
class XmlNodeFilter {
 public:
  virtual ~XmlNodeFilter() = default;
  // 1 when the node is selected; parent is the element a namespace or
  // attribute node belongs to (libxml2's visibility-callback convention).
  virtual int visible(xmlNodePtr node, xmlNodePtr parent) = 0;
  // The code to throw when asking failed (an XPath error, the budget spent); 0 otherwise.
  virtual int32_t failure() const { return 0; }
  // The budget asking charges, when the rule has one: a canonicaliser run
  // without a budget of its own spends it too, so a rule and its consumer
  // share one allowance.
  virtual XmlWorkBudget* workBudget() { return nullptr; }
  // An element outside whose subtree nothing is visible, when the rule knows
  // one: the canonicaliser then walks that subtree only.
  virtual xmlNodePtr apex() const { return nullptr; }
  // When the rule selects whole elements (each with its attributes,
  // namespaces and children): the subtree of apex (the whole document when
  // null) less the subtree of hole (nothing when null). False otherwise.
  virtual bool wholeElements(xmlNodePtr& /*apex*/, xmlNodePtr& /*hole*/) const { return false; }
  // With wholeElements: every element named Signature in the XML-DSig
  // namespace is left out too, with its subtree (a filter that excludes every
  // signature of the document, not only the one holding it).
  virtual bool signaturesLeftOut() const { return false; }
};

// Nodes outside the XPath data model (the DTD and its declarations, entity
// references, XInclude markers): never visible, never asked about.
bool xmlOutsideDataModel(xmlNodePtr node);
// The node after n in a depth-first walk of doc (its first child when descend
// and it has one); null past the end.
xmlNodePtr xmlNextInDocument(xmlNodePtr n, xmlDocPtr doc, bool descend);
// The nearest element above node that is a Signature of the XML-DSig
// namespace (the signature a transform or filter stands in); null when none.
xmlNodePtr xmlEnclosingSignature(xmlNodePtr node);

enum XmlDataKind : uint32_t {
  XML_DATA_OWN = 0,
  XML_DATA_NODESET = 1,
  XML_DATA_NODE = 2,
  XML_DATA_OCTETS = 3,
  XML_DATA_FILE = 4,
};

class XmlTransform {
 public:
  XmlTransform(uint32_t algorithmTag, uint32_t outputKind, uint32_t inputKind)
      : algorithmTag(algorithmTag), outputKind(outputKind), inputKind(inputKind) {}
  virtual ~XmlTransform() = default;
  XmlTransform(const XmlTransform&) = delete;
  XmlTransform& operator=(const XmlTransform&) = delete;

  virtual const uint8_t* outputBytes() { return nullptr; }
  virtual uint32_t outputLength() { return 0; }
  // The output node set; the caller that takes it owns it from then on.
  virtual xmlNodeSetPtr outputNodeSet() { return nullptr; }
  virtual xmlNodePtr outputNode() { return nullptr; }
  // A node-set output given as a rule (owned by this transform), or null.
  virtual XmlNodeFilter* outputFilter() { return nullptr; }
  virtual void applyToFile(TVxmlDoc* doc);
  virtual void applyToMemory(const uint8_t* bytes, uint32_t length);
  virtual void applyToNode(xmlNodePtr node);
  virtual void applyToNodeSet(xmlNodeSetPtr nodeSet);
  virtual void applyToFilter(XmlNodeFilter* filter);
  virtual void apply();

  uint32_t algorithmTag;
  uint32_t outputKind;
  uint32_t inputKind;
  // The chain's budget while the chain runs; a transform run on its own uses its own.
  XmlWorkBudget* budget = nullptr;
  // Where a transform that makes octets sends them instead of keeping them
  // (its outputBytes are then empty), when it can: a canonicaliser writes
  // straight into a reference's digests. Not owned.
  XmlOctetSink* sink = nullptr;
};

// Transform kind codes of ds:Transform Algorithm URIs.
enum XmlTransformKind : int32_t {
  XML_TK_BASE64 = 0,
  XML_TK_C14N = 1,
  XML_TK_C14N_COMMENTS = 2,
  XML_TK_ENVELOPED = 3,
  XML_TK_XPATH = 4,
  XML_TK_DIGEST = 5,
  XML_TK_XSLT = 6,
  XML_TK_EXC_C14N = 8,
  XML_TK_EXC_C14N_COMMENTS = 9,
};

struct XmlTransformParam {
  int32_t kind = -1;
  std::string expression;
  xsltStylesheetPtr stylesheet = nullptr;  // not owned
  std::vector<std::string> inclusivePrefixes;
};

// What the parameter reader needs of the library context: whether a style sheet
// name is admitted.
class XmlTransformContext {
 public:
  virtual ~XmlTransformContext() = default;
  virtual bool isStylesheetAdmitted(const std::string& href) const = 0;
};

// 0 and the kind, or 137 for an unknown URI.
int32_t transformKindFromUri(const char* uri, int32_t* kind);
bool digestIdFromUri(const char* uri, uint32_t* id);
bool digestUriFromId(uint32_t id, std::string* uri);

// Fills param for the kind already stored in it; throws TalApiException
// (89 malformed, 137 a kind without parameters to read).
void readTransformParams(const XmlTransformContext* context, xmlNodePtr transformElement,
                         XmlTransformParam& param);
// The PrefixList of an InclusiveNamespaces element, split at white space.
void readInclusiveNamespaces(xmlNodePtr element, std::vector<std::string>& prefixes);
