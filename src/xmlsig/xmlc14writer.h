// Canonical XML 1.0 and Exclusive Canonical XML 1.0 of a selection made of
// whole elements (a subtree, the whole document, either less one subtree),
// written straight to where the octets go (a digest, a text) as they are made.
// It walks the parsed tree once, reads it only, and keeps no per-node
// allocations: the namespaces rendered so far and the sorted attributes live
// in arrays reused from element to element. Its octets are those libxml2's
// canonicaliser gives for the same selection (the tests compare the two); node
// sets of any other shape (XPath filters, explicit sets) stay with libxml2's.
#pragma once

#include "xmlsig/xmltransform.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Octets our canonicaliser escapes for one unit of the work budget (about
// four instructions an octet).
const uint64_t XML_ESCAPE_OCTETS_PER_UNIT = 2;

// Where canonical octets go as they are made.
class XmlOctetSink {
 public:
  virtual ~XmlOctetSink() = default;
  virtual void write(const uint8_t* bytes, size_t length) = 0;
};

class XmlStringSink : public XmlOctetSink {
 public:
  explicit XmlStringSink(std::string& out) : out(out) {}
  void write(const uint8_t* bytes, size_t length) override {
    out.append(reinterpret_cast<const char*>(bytes), length);
  }

 private:
  std::string& out;
};

// Every node of the apex's subtree (of the whole document when apex is null),
// less every node of the hole's subtree (nothing when hole is null) and, when
// signatures, of every element named Signature in the XML-DSig namespace.
// Apex and hole are elements of doc.
struct XmlElementSelection {
  xmlDocPtr doc = nullptr;
  xmlNodePtr apex = nullptr;
  xmlNodePtr hole = nullptr;
  bool signatures = false;
};

// Canonicalises the selection into sink: 0, or 140 when the document cannot be
// canonicalised (a relative namespace URI, a node canonical XML has no form
// for), the budget is spent or the output outgrows its cap (six times what the
// walk read, plus 1 MiB: no escaping multiplies an octet by more; in exclusive
// canonicalisation, past that, six times the whole selection). Octets
// already written stay written; the caller discards them on failure.
int32_t xmlCanonicaliseElements(const XmlElementSelection& selection, bool exclusive,
                                const std::vector<std::string>& prefixes, bool withComments,
                                XmlWorkBudget& budget, XmlOctetSink& sink);
