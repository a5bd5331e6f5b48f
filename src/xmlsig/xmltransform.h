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
// the deadline is only a backstop for a cost no count sees: processor time of
// the charging thread (a loaded machine's waits do not count), from the first
// charge (after parsing).
const uint64_t XML_TRANSFORM_WORK_LIMIT = 300000000ull;
const std::chrono::milliseconds XML_TRANSFORM_TIME_LIMIT{15000};

// The net under the units, for a budget that belongs to no document's
// account: the processor time of its thread that libxml2's and libxslt's work
// (XPointer and XPath evaluation, filters, the canonicaliser, XSLT) may take in
// all. The units model that work before it runs; what a model misses, this
// stops while it runs. Legitimate documents take a few milliseconds of it; a
// sanitised build gets five times the time. A budget that charges a
// document's account (shareAccount) has that account's clock as its net
// instead, which spans the document's whole verification.
const std::chrono::milliseconds XML_LIBXML_TIME_NET{1000 * WORK_TIME_FACTOR};

class XmlLibxmlWork;

// The processor time libxml2's work for one document has taken, and whether
// the net stopped it: a budget's own, or one a caller shares among the
// budgets of a document's signatures (each of which has its own units).
struct XmlLibxmlTime {
  std::chrono::nanoseconds spent{0};  // in sections that have ended
  bool stopped = false;
};

// One allowance, shared by everything charged to it: a chain's transforms, or
// all the references of one document when the caller passes the same budget to
// each chain (a document naming many references gets no more).
class XmlWorkBudget {
 public:
  XmlWorkBudget(uint64_t limit = XML_TRANSFORM_WORK_LIMIT,
                std::chrono::milliseconds time = XML_TRANSFORM_TIME_LIMIT);
  // Adds units; false once the count or the deadline is passed (and from then
  // on). The clock is read every few dozen charges, or now when asked.
  bool charge(uint64_t units, bool readClock = false);
  // Over by its own units or deadline, or its document's account over.
  bool exhausted() const { return over || (account && account->over()); }
  // Arms the deadline afresh at the next charge, the units spent kept: a
  // budget shared by the steps of a verification bounds their work together,
  // and the time of each step (not the waits between them, such as a fetch).
  void restartClock() { started = false; }
  // Units left before the limit, or before the document's account is spent
  // when that is sooner (0 once over).
  uint64_t remaining() const {
    const uint64_t own = over || spent >= limit ? 0 : limit - spent;
    return account ? std::min(own, account->remaining()) : own;
  }
  // True once the processor-time net stopped the work (the budget is over
  // from then on too).
  bool netPassed() const { return libxml->stopped || (account && account->netPassed()); }
  // Every unit from now on is charged to the document's account too, whose
  // clock is this budget's net (held as long as the budget is: the budgets
  // of a document's signatures outlive the call that verified them). An
  // account already over puts the budget over.
  void shareAccount(std::shared_ptr<WorkAccount> shared) {
    if (!shared) return;
    account = std::move(shared);
    // The document's account bounds the whole: one signature of a large
    // document may take as much of it as the document's size allows.
    limit = std::max(limit, account->limitUnits());
    if (account->over()) over = true;
  }
  // This budget's libxml2 work counts against a net shared with others from
  // now on (held as long as the budget is: the budgets of a document's
  // signatures outlive the call that verified them). A net already stopped
  // puts the budget over.
  void shareLibxmlTime(std::shared_ptr<XmlLibxmlTime> shared) {
    if (!shared) return;
    sharedLibxml = std::move(shared);
    libxml = sharedLibxml.get();
    if (libxml->stopped) over = true;
  }
  XmlWorkBudget(const XmlWorkBudget&) = delete;
  XmlWorkBudget& operator=(const XmlWorkBudget&) = delete;

 private:
  friend class XmlLibxmlWork;

  uint64_t spent = 0;
  uint64_t limit;
  uint32_t charges = 0;
  std::chrono::milliseconds time;
  ProcessorAllowance deadline;
  bool started = false;
  bool over = false;
  XmlLibxmlTime ownLibxml;
  std::shared_ptr<XmlLibxmlTime> sharedLibxml;
  XmlLibxmlTime* libxml = &ownLibxml;
  std::shared_ptr<WorkAccount> account;
};

// A stretch of libxml2's or libxslt's work for a document on this thread: while
// it lasts, the thread's processor time counts against the budget's net. The
// work ticks (every allocation libxml2 makes, every charge to a budget); every
// XML_NET_TICKS ticks, and once more as a section ends, the cheap monotonic
// clock is read, and the thread's processor clock only once as much wall time
// has passed as the net has left (a thread cannot spend more processor time
// than that). A single call into libxml2 that neither allocates nor charges
// runs to its end between two checks: the units must bound it. When the net is
// passed, the budget goes over and the innermost section's stop function runs
// on this thread, from inside libxml2 (it must not throw or allocate); the
// caller answers 140 as for a refused bound. Sections nest: an inner one of the
// same net shares the outer one's clock, and the stop functions of all of them
// run, innermost first.
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
  XmlWorkBudget& budget;
  XmlLibxmlWork* enclosing;
  XmlLibxmlWork* owner;  // the outermost section of the same net: it keeps the clock
  void (*stop)(void*);
  void* stopArgument;
  uint32_t ticks = 0;
  ProcessorAllowance left;  // the owner's: what the net had left when it began
};
const uint32_t XML_NET_TICKS = 64;

// For tests, without a clock: the net's check reports the net passed at its
// `checks`-th call on this thread from now (once; 0 disarms).
void xmlLibxmlNetTripAfter(long checks);

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
