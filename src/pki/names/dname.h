// Distinguished names (the rdnSequence form of an X.509 Name): the name, its
// relative distinguished names and their type-and-value pairs, with deep
// copies and the equality every issuer-to-subject match relies on.
#pragma once

#include "asn1/asnany.h"
#include "asn1/asnobjid.h"
#include "asn1/asnseql.h"
#include "asn1/asnsetl.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// AttributeTypeAndValue: SEQUENCE { type OBJECT IDENTIFIER, value ANY }.
class AttributeValue : public ASNsequenceF {
 public:
  explicit AttributeValue(unsigned char tag = 0);
  AttributeValue(const AttributeValue& other);
  ~AttributeValue() override;
  // Copies type and value (tag and content); std::bad_alloc on failure.
  AttributeValue& operator=(const AttributeValue& other);
  // Equal type OIDs and values of the same tag, length and content.
  bool operator==(const AttributeValue& other) const;
  bool operator!=(const AttributeValue& other) const { return !(*this == other); }

  // The type copied; the value takes the object's DER (tag and content).
  void set(const ASNobjectId& attributeType, const ASNobject& attributeValue);
  // Brings the value into the form names are compared in: the character
  // strings become UTF8String, BIT STRINGs lose their trailing zero bits,
  // SEQUENCEs have their elements normalised. False when the value cannot be
  // read as its tag says (or memory runs out).
  bool normaliseValue();
  // One "type=value" component (see DistinguishedName::fromText).
  bool fromText(const char* text, int length, bool preferUtf8, uint32_t flags);

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNobjectId type;
  ASNany value;
};

// RelativeDistinguishedName: SET OF AttributeValue. Read whole it keeps its
// received order; built or changed it is written in DER SET OF order.
class RDname : public ASNsetList<AttributeValue> {
 public:
  explicit RDname(unsigned char tag = 0);
  RDname(const RDname& other);
  // Clears, then appends a copy of every attribute and takes the other's
  // order flag; std::bad_alloc "bad allocation" on failure.
  RDname& operator=(const RDname& other);
  // Equal as multisets: the same number of attributes, each paired with an
  // equal one of the other's that no other attribute took (std::bad_alloc
  // when the pairing cannot be held). n log n in the attributes.
  bool operator==(const RDname& other) const;
  bool operator!=(const RDname& other) const { return !(*this == other); }

  // The n-th attribute (0-based) or null.
  AttributeValue* getAttribute(int n) const;
  // normaliseValue on every attribute (false at the first failure), then
  // the attributes in DER SET OF order.
  bool normalise();
  // A multi-valued RDN text (see DistinguishedName::fromText).
  bool fromText(const char* text, int length, bool preferUtf8, uint32_t flags);
};

class DistinguishedName : public ASNsequenceList<RDname> {
 public:
  // With a text (length > 0) the name is parsed from it as one
  // "type=value" attribute (no separators, escapes or quotes), the value
  // chosen as UTF8String when preferUtf8; a text that does not parse
  // throws std::invalid_argument. No text or length <= 0: an empty name.
  explicit DistinguishedName(unsigned char tag = 0, const char* dnText = nullptr, int length = 0,
                             bool preferUtf8 = false, bool reverse = false);
  DistinguishedName(const DistinguishedName& other);
  // Deep copy; std::bad_alloc "bad allocation" on failure.
  DistinguishedName& operator=(const DistinguishedName& other);
  // Equal RDN counts, then normalised copies compared RDN by RDN in order:
  // attribute order inside an RDN and the string type of a value do not
  // matter, RDN order and letter case do. The work is charged to the
  // thread's work account; once that is over every pair differs.
  bool operator==(const DistinguishedName& other) const;
  bool operator!=(const DistinguishedName& other) const { return !(*this == other); }

  // AttributeValues over all RDNs.
  int attributeCount() const;
  // The n-th AttributeValue counted across the RDNs in order, or null: a walk
  // to it, so a loop over every attribute takes forEachAttribute.
  AttributeValue* getAttribute(int n) const;
  // visit(const AttributeValue*) for every attribute across the RDNs in
  // order (null where a list holds none) until it returns false: one walk.
  template <class Visit>
  void forEachAttribute(Visit visit) const {
    for (POSITION pos = GetHeadPosition(); pos;) {
      const RDname* rdn = GetNext(pos);
      if (!rdn) continue;
      for (POSITION q = rdn->GetHeadPosition(); q;)
        if (!visit(static_cast<const AttributeValue*>(rdn->GetNext(q)))) return;
    }
  }
  // A new RDN holding one new attribute; false when it cannot be created.
  bool addAttribute(const ASNobjectId& attributeType, const ASNobject& attributeValue);
  // Reverses the order of the RDNs in place.
  void reverse();
  // RDname::normalise on every RDN; false at the first failure.
  bool normalise();
  // What a copy of this name holds once normalise() has run on it, without
  // the copy, so a long name is never held twice: attribute() gets a
  // normalised copy of each attribute (null ones skipped, as a copy skips
  // them), one at a time and in list order, and rdnEnd(sorted) closes each
  // RDN, sorted when that RDN of the copy is written in DER SET OF order.
  void visitNormalised(const std::function<void(const AttributeValue&)>& attribute,
                       const std::function<void(bool sorted)>& rdnEnd) const;
  // The DER a normalised copy writes (what its digest covers); false when an
  // attribute cannot be encoded.
  bool encodeNormalised(std::vector<unsigned char>& out) const;
  // Parses a name text (length < 0: zero-terminated) under a flags word:
  // the separators, escapes, quoting, hexadecimal values and keyword style
  // (see dntext.h). False on malformed text (the name is then left empty).
  bool fromText(const char* text, int length, uint32_t flags);
  // The name as text for reports: attributes "type=value" in order, "; "
  // between them (CR LF with DN_TEXT_LINE_BREAKS, short labels with
  // DN_TEXT_SHORT_LABELS, see dnprint.h), in the report character set,
  // allocated with array new; null when a value cannot be decoded. With
  // escapeControls every value's controls are escaped (escapeControls of
  // no_oop.h), as the report writes a stranger's name.
  char* toText(uint32_t options, bool escapeControls = false) const;
};

// A key of what a normalised copy of `name` holds: RDN by RDN its attribute
// count and each attribute's type, value tag and content, sorted within the
// RDN (a set). Two names normalise to equal RDNs in order exactly when their
// keys are equal, except that an attribute claiming octets it does not hold
// equals nothing: *unmatchable (when given) is then set.
std::string normalisedNameKey(const DistinguishedName& name, bool* unmatchable = nullptr);
// Appends the octets after their length (four octets, most significant
// first), so that no two different sequences of parts run together alike.
void appendKeyPart(std::string& key, const unsigned char* octets, int length);

// For tests: the attribute pairs this thread's name comparisons compared so far.
uint64_t rdnAttributeComparisons();
// For tests: the attributes this thread's DistinguishedName::getAttribute
// walked to reach the ones asked for (index + 1 a call).
uint64_t nameIndexSteps();
// For tests: the attributes this thread's RDN copies copied.
uint64_t rdnAttributeCopies();

// Flags of DistinguishedName::fromText that the text constructor passes.
constexpr uint32_t DN_PREFER_UTF8 = 0x20000000;
constexpr uint32_t DN_REVERSE = 0x80000000;
