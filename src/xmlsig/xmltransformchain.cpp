#include "xmlsig/xmltransformchain.h"

#include "base/commonerror.h"

#include <list>
#include <stdexcept>

namespace {
const char* const SRC = "XML/libxmlsignature/xmltransformchain";
}

XmlTransforms::~XmlTransforms() {
  if (pendingSet) xmlXPathFreeNodeSet(pendingSet);
}

XmlTransform* XmlTransforms::last() {
  if (items.empty()) throw std::runtime_error("empty transform chain!");
  return items.back();
}

void XmlTransforms::applyToNode(xmlNodePtr startNode, XmlWorkBudget* shared) {
  run(startNode, nullptr, shared);
}
void XmlTransforms::applyToFile(TVxmlDoc* doc, XmlWorkBudget* shared) { run(nullptr, doc, shared); }

namespace {
// Lends the chain's budget to its transforms while it runs.
class BudgetLoan {
 public:
  BudgetLoan(std::list<XmlTransform*>& items, XmlWorkBudget* budget) : items(items) {
    for (XmlTransform* t : items) t->budget = budget;
  }
  ~BudgetLoan() {
    for (XmlTransform* t : items) t->budget = nullptr;
  }

 private:
  std::list<XmlTransform*>& items;
};
}  // namespace

void XmlTransforms::run(xmlNodePtr startNode, TVxmlDoc* doc, XmlWorkBudget* shared) {
  last();
  // One budget for the whole chain (or the caller's for the whole document): a
  // stranger's document gets one allowance however many transforms it names.
  ownBudget.reset(shared ? nullptr : new XmlWorkBudget());
  BudgetLoan loan(items, shared ? shared : ownBudget.get());
  xmlNodePtr pendingNode = startNode;
  XmlNodeFilter* pendingFilter = nullptr;
  const uint8_t* pendingBytes = nullptr;
  uint32_t pendingLength = 0;
  size_t index = 0;
  for (XmlTransform* t : items) {
    ++index;
    switch (t->inputKind) {
      case XML_DATA_OWN:
        t->apply();
        break;
      case XML_DATA_NODESET: {
        if (pendingFilter) {
          XmlNodeFilter* filter = pendingFilter;
          pendingFilter = nullptr;
          t->applyToFilter(filter);
          break;
        }
        xmlNodeSetPtr set = pendingSet;
        pendingSet = nullptr;
        try {
          t->applyToNodeSet(set);
        } catch (...) {
          if (set) xmlXPathFreeNodeSet(set);
          throw;
        }
        if (set) xmlXPathFreeNodeSet(set);
        break;
      }
      case XML_DATA_NODE:
        t->applyToNode(pendingNode);
        break;
      case XML_DATA_OCTETS:
        t->applyToMemory(pendingBytes, pendingLength);
        pendingBytes = nullptr;
        pendingLength = 0;
        break;
      case XML_DATA_FILE:
        t->applyToFile(doc);
        break;
      default:
        checkInvariant(false, SRC, __LINE__, "0");
    }
    if (index == items.size()) break;
    switch (t->outputKind) {
      case XML_DATA_NODESET:
        if (pendingSet) xmlXPathFreeNodeSet(pendingSet);
        pendingSet = nullptr;
        // A rule stays with the transform that made it (the chain owns both).
        pendingFilter = t->outputFilter();
        if (!pendingFilter) pendingSet = t->outputNodeSet();
        break;
      case XML_DATA_NODE:
        pendingNode = t->outputNode();
        break;
      case XML_DATA_OCTETS:
        pendingBytes = t->outputBytes();
        pendingLength = t->outputLength();
        break;
      default:
        checkInvariant(false, SRC, 149, "0");
    }
  }
}

uint32_t XmlTransforms::outputKind() { return last()->outputKind; }
const uint8_t* XmlTransforms::outputBytes() { return last()->outputBytes(); }
uint32_t XmlTransforms::outputLength() { return last()->outputLength(); }
