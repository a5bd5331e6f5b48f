// The ordered transform chain of one reference: each transform's output feeds
// the next one's input.
#pragma once

#include "asn1/stlptrlist.h"
#include "xmlsig/xmltransform.h"

#include <memory>

class XmlTransforms : public StlPointerList<XmlTransform> {
 public:
  XmlTransforms() = default;
  ~XmlTransforms() override;

  // Takes t over, also when the list cannot grow (t is then deleted).
  void add(XmlTransform* t) {
    try {
      items.push_back(t);
    } catch (...) {
      delete t;
      throw;
    }
  }
  // shared: the budget of the whole document (every reference of one
  // signature); null gives this chain an allowance of its own.
  void applyToNode(xmlNodePtr startNode, XmlWorkBudget* shared = nullptr);
  void applyToFile(TVxmlDoc* doc, XmlWorkBudget* shared = nullptr);

  uint32_t outputKind();
  const uint8_t* outputBytes();
  uint32_t outputLength();

 private:
  void run(xmlNodePtr startNode, TVxmlDoc* doc, XmlWorkBudget* shared);
  XmlTransform* last();
  xmlNodeSetPtr pendingSet = nullptr;
  // The allowance of the last run when no shared one was given: it lives as
  // long as the chain, whose last node-set rule may be asked after the run.
  std::unique_ptr<XmlWorkBudget> ownBudget;
};
