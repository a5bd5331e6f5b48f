// Distinguished names: structure, copies, attribute access and comparison.
#include "pki/names/dname.h"

#include "asn1/asnbitst.h"
#include "base/commonerror.h"
#include "base/memfile.h"
#include "base/no_oop.h"
#include "base/workaccount.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

thread_local uint64_t attributeComparisons = 0;
thread_local uint64_t indexSteps = 0;
thread_local uint64_t attributeCopies = 0;

// Nesting of SEQUENCE values normalised element by element. A value comes
// from a stranger and its nesting costs two octets a level: deeper levels are
// left as they are instead of recursing without end.
constexpr int MAX_NORMALISE_DEPTH = 8;

bool ucs4ToUtf8(const unsigned char* in, int n, std::string& out) {
  if (n % 4 != 0) return false;
  out.clear();
  out.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; i += 4) {
    uint32_t c = (uint32_t(in[i]) << 24) | (uint32_t(in[i + 1]) << 16) |
                 (uint32_t(in[i + 2]) << 8) | in[i + 3];
    if (c & 0x80000000u) return false;
    int extra;
    unsigned char lead;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    } else if (c < 0x800) {
      extra = 1;
      lead = 0xC0;
    } else if (c < 0x10000) {
      extra = 2;
      lead = 0xE0;
    } else if (c < 0x200000) {
      extra = 3;
      lead = 0xF0;
    } else if (c < 0x4000000) {
      extra = 4;
      lead = 0xF8;
    } else {
      extra = 5;
      lead = 0xFC;
    }
    out.push_back(static_cast<char>(lead | (c >> (6 * extra))));
    for (int k = extra - 1; k >= 0; --k)
      out.push_back(static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F)));
  }
  return true;
}

bool encodeOf(const ASNobject& object, std::vector<unsigned char>& bytes) {
  return object.encodeVector(bytes) > 0;
}

bool normaliseAny(ASNany& value, int depth) {
  const unsigned char* content = value.content();
  const int n = value.length;
  switch (value.tag) {
    case 3: {
      std::vector<unsigned char> der;
      ASNbitstr bits;
      if (!encodeOf(value, der) || bits.decodeVector(der) != static_cast<int>(der.size()))
        return false;
      bits.trimTrailingZeros();
      value.setObject(bits);
      return true;
    }
    case 12:
    case 19:
    case 22:
    case 26:
      value.tag = 12;
      return true;
    case 28: {
      // An empty value is a whole number of code points too: it compares
      // equal to the other empty strings.
      if (n == 0) {
        value.tag = 12;
        return true;
      }
      std::string utf8;
      if (content && ucs4ToUtf8(content, n, utf8))
        return value.setEncoding(12, reinterpret_cast<const unsigned char*>(utf8.data()),
                                 static_cast<int>(utf8.size())) == 1;
      return true;
    }
    case 30: {
      if (n <= 0 || !content) return true;
      int32_t size = bmpToUtf8(content, n, nullptr, 0);
      if (size <= 0) return true;
      std::string utf8(static_cast<size_t>(size), '\0');
      if (bmpToUtf8(content, n, reinterpret_cast<char*>(&utf8[0]), size) != size) return true;
      return value.setEncoding(12, reinterpret_cast<const unsigned char*>(utf8.data()), size) == 1;
    }
    case 48: {
      std::vector<unsigned char> der;
      ASNsequenceList<ASNany> elements;
      if (!encodeOf(value, der) || elements.decodeVector(der) != static_cast<int>(der.size()))
        return false;
      if (elements.GetCount() == 0 || depth >= MAX_NORMALISE_DEPTH) return true;
      for (POSITION pos = elements.GetHeadPosition(); pos;) {
        ASNany* element = elements.GetNext(pos);
        if (!element) continue;
        // An element that cannot be normalised stays as it was.
        ASNany saved(*element);
        bool ok = false;
        try {
          ok = normaliseAny(*element, depth + 1);
        } catch (const std::bad_alloc&) {
          throw;
        } catch (const std::exception&) {
          ok = false;
        }
        if (!ok) *element = saved;
      }
      std::vector<unsigned char> rebuilt;
      if (!encodeOf(elements, rebuilt)) return false;
      ASNany fresh;
      if (fresh.decodeVector(rebuilt) != static_cast<int>(rebuilt.size())) return false;
      value = fresh;
      return true;
    }
    default:
      return true;
  }
}

}  // namespace

uint64_t rdnAttributeComparisons() { return attributeComparisons; }
uint64_t nameIndexSteps() { return indexSteps; }
uint64_t rdnAttributeCopies() { return attributeCopies; }

// ---------------------------------------------------------------- AttributeValue

AttributeValue::AttributeValue(unsigned char t) : ASNsequenceF(t), type(), value(TAG_ANY) {}

AttributeValue::AttributeValue(const AttributeValue& other)
    : ASNsequenceF(other.tag), type(), value(TAG_ANY) {
  *this = other;
}

AttributeValue::~AttributeValue() = default;

AttributeValue& AttributeValue::operator=(const AttributeValue& other) {
  if (this == &other) return *this;
  type = other.type;
  value = other.value;
  return *this;
}

bool AttributeValue::operator==(const AttributeValue& other) const {
  ++attributeComparisons;
  return type == other.type && value.equals(other.value);
}

void AttributeValue::set(const ASNobjectId& attributeType, const ASNobject& attributeValue) {
  type = attributeType;
  value.setObject(attributeValue);
}

bool AttributeValue::normaliseValue() {
  // A value read in place re-encodes what was received and cannot change.
  if (value.flags & ASN_FLAG_CONST) return false;
  try {
    return normaliseAny(value, 0);
  } catch (const std::exception&) {
    return false;
  }
}

void AttributeValue::releaseViews() {
  dropOwnView();
  releaseViewsOf({&type, &value});
}

void AttributeValue::clear() {
  releaseViews();
  type.clear();
  value.clear();
}

int AttributeValue::decodeContent(GenericFile* in, int n) {
  // Both members are mandatory: an emptier content must not let the type
  // read past this value.
  if (n < 4) return 0;
  int r = type.decode(in, n, memberFlags());
  if (r < 1) return r;
  if (r >= n) return 0;
  int r2 = value.decode(in, n - r, memberFlags());
  if (r2 < 1) return r2;
  return r + r2 == n ? 1 : 0;
}

int AttributeValue::encodeContent(GenericFile* out) const {
  int r = type.encode(out);
  if (r < 1) return r;
  r = value.encode(out);
  return r < 1 ? r : 1;
}

int AttributeValue::contentLength() const {
  int a = type.encodedLength();
  int b = value.encodedLength();
  if (a < 0 || b < 0) return -1;
  int64_t n = int64_t(a) + b;
  return n > ASN_MAX_LENGTH ? -1 : static_cast<int>(n);
}

void AttributeValue::digestContent(LvHash* hash) const {
  type.updateDigest(hash);
  value.updateDigest(hash);
}

// ---------------------------------------------------------------- RDname

RDname::RDname(unsigned char t) : ASNsetList<AttributeValue>(t) {}

RDname::RDname(const RDname& other) : ASNsetList<AttributeValue>(other.tag) { *this = other; }

RDname& RDname::operator=(const RDname& other) {
  if (this == &other) return *this;
  clear();
  for (POSITION pos = other.GetHeadPosition(); pos;) {
    const AttributeValue* source = other.GetNext(pos);
    if (!source) continue;
    std::unique_ptr<AttributeValue> copy(new (std::nothrow) AttributeValue(0x30));
    if (!copy) throwBadAllocation();
    *copy = *source;
    ++attributeCopies;
    try {
      if (!AddTail(copy.get())) throwBadAllocation();
    } catch (const std::bad_alloc&) {
      throwBadAllocation();
    }
    copy.release();
  }
  keepOrder = other.keepOrder;
  return *this;
}

namespace {

// An attribute that equals nothing, not even itself: a type or value that
// claims octets it does not hold (operator== asks for both contents).
bool unmatchable(const AttributeValue& a) {
  return (a.type.length > 0 && !a.type.data()) || (a.value.length > 0 && !a.value.content());
}

// A total order whose ties are exactly operator== between matchable
// attributes (null ones equal each other only): type octets, then the
// value's tag, length and content.
int compareAttributes(const AttributeValue* x, const AttributeValue* y) {
  ++attributeComparisons;
  if (!x || !y) return x ? 1 : y ? -1 : 0;
  if (x->type.length != y->type.length) return x->type.length < y->type.length ? -1 : 1;
  if (x->type.length > 0) {
    int c = std::memcmp(x->type.data(), y->type.data(), static_cast<size_t>(x->type.length));
    if (c != 0) return c;
  }
  if (x->value.tag != y->value.tag) return x->value.tag < y->value.tag ? -1 : 1;
  if (x->value.length != y->value.length) return x->value.length < y->value.length ? -1 : 1;
  if (x->value.length <= 0) return 0;
  return std::memcmp(x->value.content(), y->value.content(),
                     static_cast<size_t>(x->value.length));
}

// The attributes in that order, or false when one of them is unmatchable.
bool sortedAttributes(const RDname& rdn, std::vector<const AttributeValue*>& out) {
  out.reserve(static_cast<size_t>(rdn.GetCount()));
  for (POSITION pos = rdn.GetHeadPosition(); pos;) {
    const AttributeValue* a = rdn.GetNext(pos);
    if (a && unmatchable(*a)) return false;
    out.push_back(a);
  }
  std::sort(out.begin(), out.end(), [](const AttributeValue* x, const AttributeValue* y) {
    return compareAttributes(x, y) < 0;
  });
  return true;
}

}  // namespace

bool RDname::operator==(const RDname& other) const {
  if (GetCount() != other.GetCount()) return false;
  // Equal as multisets, so {CN=x, CN=x} never equals {CN=x, O=y}: both
  // sorted in one order whose ties are equal attributes, then compared in
  // step. A stranger's RDN of thousands of attributes costs n log n, where
  // pairing each with all of the other's cost a square.
  std::vector<const AttributeValue*> mine;
  std::vector<const AttributeValue*> theirs;
  if (!sortedAttributes(*this, mine) || !sortedAttributes(other, theirs)) return false;
  for (size_t i = 0; i < mine.size(); ++i)
    if (compareAttributes(mine[i], theirs[i]) != 0) return false;
  return true;
}

AttributeValue* RDname::getAttribute(int n) const {
  if (n < 0 || n >= GetCount()) return nullptr;
  return elementAt(n);
}

bool RDname::normalise() {
  for (POSITION pos = GetHeadPosition(); pos;) {
    AttributeValue* attribute = GetNext(pos);
    if (attribute && !attribute->normaliseValue()) return false;
  }
  return sortElements() == 1;
}

// ---------------------------------------------------------------- DistinguishedName

DistinguishedName::DistinguishedName(unsigned char t, const char* dnText, int length,
                                     bool preferUtf8, bool reverseOrder)
    : ASNsequenceList<RDname>(t) {
  if (!dnText || length <= 0) return;
  uint32_t f = (preferUtf8 ? DN_PREFER_UTF8 : 0) | (reverseOrder ? DN_REVERSE : 0);
  if (!fromText(dnText, length, f))
    throw std::invalid_argument("DistinguishedName( tag, dnText ): Unconvertable DN text: " +
                                std::string(dnText, static_cast<size_t>(length)));
}

DistinguishedName::DistinguishedName(const DistinguishedName& other)
    : ASNsequenceList<RDname>(other.tag) {
  assign(other);
}

DistinguishedName& DistinguishedName::operator=(const DistinguishedName& other) {
  assign(other);
  return *this;
}

namespace {

// Units a name comparison is charged: per attribute it reads, and per 16
// octets of the values it reads. The quick walks read each attribute once; the
// full comparison copies, normalises and sorts both names.
constexpr uint64_t NAME_WALK_UNITS = 2;
constexpr uint64_t NAME_NORMALISE_UNITS = 64;

struct NameWork {
  uint64_t attributes = 0;
  uint64_t octets = 0;
  void read(const AttributeValue& a) {
    ++attributes;
    if (a.value.length > 0) octets += static_cast<uint64_t>(a.value.length);
  }
  uint64_t units(uint64_t perAttribute) const { return perAttribute * attributes + octets / 16; }
};

// The places name comparisons pay the document's account, for work done and
// for work about to run: false once it is over, and the names then count as
// different, so a loop of comparisons over what a document carries costs a
// refusal a round.
bool chargeNameWork(uint64_t units) noexcept { return workCharge(units); }
bool payNameWork(uint64_t units) noexcept { return workPay(units); }

// Names whose attributes are equal one by one, in order, normalise alike
// (normalising is done in that order, a failure stopping both at the same
// attribute), so they are equal without the copies and normalisation of the
// full comparison: the common case of an issuer looked up by its name.
bool sameAttributesInOrder(const DistinguishedName& a, const DistinguishedName& b,
                           NameWork& work) {
  POSITION pa = a.GetHeadPosition();
  POSITION pb = b.GetHeadPosition();
  while (pa && pb) {
    const RDname* x = a.GetNext(pa);
    const RDname* y = b.GetNext(pb);
    if (!x || !y || x->GetCount() != y->GetCount()) return false;
    POSITION qa = x->GetHeadPosition();
    POSITION qb = y->GetHeadPosition();
    while (qa && qb) {
      const AttributeValue* u = x->GetNext(qa);
      const AttributeValue* v = y->GetNext(qb);
      if (!u || !v) return false;
      work.read(*u);
      if (!(*u == *v)) return false;
    }
    if (qa || qb) return false;
  }
  return !pa && !pb;
}

// Normalising never changes an attribute's type, the number of attributes
// of an RDN, or the content octets of a value other than a BIT STRING,
// UniversalString, BMPString or SEQUENCE. Two names whose RDNs at one
// position are single attributes of different types, or of such untouched
// values with different contents, therefore differ whatever normalising
// does: the common case of a name compared with other CAs' names, answered
// without the copies.
bool keptContent(const ASNany& value) {
  return value.tag != 3 && value.tag != 28 && value.tag != 30 && value.tag != 48;
}

bool surelyDifferent(const DistinguishedName& a, const DistinguishedName& b, NameWork& work) {
  POSITION pa = a.GetHeadPosition();
  POSITION pb = b.GetHeadPosition();
  while (pa && pb) {
    const RDname* x = a.GetNext(pa);
    const RDname* y = b.GetNext(pb);
    if (!x || !y) return false;
    if (x->GetCount() != y->GetCount()) return true;
    if (x->GetCount() != 1) continue;
    const AttributeValue* u = x->GetHead();
    const AttributeValue* v = y->GetHead();
    if (!u || !v) return false;
    work.read(*u);
    if (!(u->type == v->type)) return true;
    if (!keptContent(u->value) || !keptContent(v->value)) continue;
    if (u->value.length != v->value.length) return true;
    const unsigned char* c = u->value.content();
    const unsigned char* d = v->value.content();
    if (u->value.length > 0 && c && d &&
        std::memcmp(c, d, static_cast<size_t>(u->value.length)) != 0)
      return true;
  }
  return false;
}

// The keys of what normalised copies would hold, so neither name is copied
// whole: a stranger's name of many attributes is held once, not three times.
bool equalAfterNormalising(const DistinguishedName& one, const DistinguishedName& other) {
  bool unmatchable = false;
  const std::string a = normalisedNameKey(one, &unmatchable);
  if (unmatchable) return false;
  const std::string b = normalisedNameKey(other, &unmatchable);
  return !unmatchable && a == b;
}

}  // namespace

bool DistinguishedName::operator==(const DistinguishedName& other) const {
  if (GetCount() != other.GetCount()) return false;
  if (workOver()) return false;
  try {
    NameWork walk;
    if (sameAttributesInOrder(*this, other, walk))
      return chargeNameWork(walk.units(NAME_WALK_UNITS));
    if (surelyDifferent(*this, other, walk)) {
      chargeNameWork(walk.units(NAME_WALK_UNITS));
      return false;
    }
    // Both names are copied, normalised and sorted: every attribute is read
    // several times over.
    NameWork full;
    for (const DistinguishedName* name : {this, &other})
      for (POSITION pos = name->GetHeadPosition(); pos;) {
        const RDname* rdn = name->GetNext(pos);
        for (POSITION q = rdn ? rdn->GetHeadPosition() : nullptr; q;) {
          const AttributeValue* attribute = rdn->GetNext(q);
          if (attribute) full.read(*attribute);
        }
      }
    if (!payNameWork(walk.units(NAME_WALK_UNITS) + full.units(NAME_NORMALISE_UNITS)))
      return false;
    return equalAfterNormalising(*this, other);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

int DistinguishedName::attributeCount() const {
  int n = 0;
  for (POSITION pos = GetHeadPosition(); pos;) {
    const RDname* rdn = GetNext(pos);
    if (rdn) n += rdn->GetCount();
  }
  return n;
}

AttributeValue* DistinguishedName::getAttribute(int n) const {
  if (n < 0) return nullptr;
  indexSteps += static_cast<uint64_t>(n) + 1;
  for (POSITION pos = GetHeadPosition(); pos;) {
    const RDname* rdn = GetNext(pos);
    if (!rdn) continue;
    if (n < rdn->GetCount()) return rdn->getAttribute(n);
    n -= rdn->GetCount();
  }
  return nullptr;
}

bool DistinguishedName::addAttribute(const ASNobjectId& attributeType,
                                     const ASNobject& attributeValue) {
  std::unique_ptr<RDname> rdn(new (std::nothrow) RDname());
  std::unique_ptr<AttributeValue> attribute(new (std::nothrow) AttributeValue(0x30));
  if (!rdn || !attribute) return false;
  try {
    attribute->set(attributeType, attributeValue);
  } catch (const std::exception&) {
    return false;
  }
  if (rdn->append(attribute.get()) != 1) return false;
  attribute.release();
  if (append(rdn.get()) != 1) return false;
  rdn.release();
  return true;
}

void DistinguishedName::reverse() {
  const int32_t n = GetCount();
  if (n < 2) return;
  std::vector<RDname*> rdns;
  rdns.reserve(static_cast<size_t>(n));
  for (POSITION pos = GetHeadPosition(); pos;) rdns.push_back(GetNext(pos));
  // Re-linking the same pointers in the opposite order: the list keeps its
  // nodes, so no allocation can fail half-way.
  int32_t i = n - 1;
  for (POSITION pos = GetHeadPosition(); pos; --i) {
    POSITION here = pos;
    GetNext(pos);
    SetAt(here, rdns[static_cast<size_t>(i)]);
  }
}

bool DistinguishedName::normalise() {
  for (POSITION pos = GetHeadPosition(); pos;) {
    RDname* rdn = GetNext(pos);
    if (rdn && !rdn->normalise()) return false;
  }
  return true;
}

void DistinguishedName::visitNormalised(const std::function<void(const AttributeValue&)>& attribute,
                                        const std::function<void(bool sorted)>& rdnEnd) const {
  // Normalising a value depends on that value alone, so each attribute is
  // copied and normalised on its own. As normalise() does, the first value
  // that fails ends it: that one stays as the failed attempt left it, those
  // after it as received.
  bool normalising = true;
  for (POSITION pos = GetHeadPosition(); pos;) {
    const RDname* rdn = GetNext(pos);
    if (!rdn) continue;
    bool whole = normalising;
    int32_t count = 0;
    for (POSITION q = rdn->GetHeadPosition(); q;) {
      const AttributeValue* source = rdn->GetNext(q);
      if (!source) continue;
      AttributeValue copy(0x30);
      copy = *source;
      if (normalising && !copy.normaliseValue()) normalising = whole = false;
      ++count;
      attribute(copy);
    }
    // A normalised RDN of two or more attributes was sorted, which leaves
    // it written in DER order; any other keeps the order flag it was copied with.
    rdnEnd((whole && count >= 2) || !rdn->keepOrder);
  }
}

bool DistinguishedName::encodeNormalised(std::vector<unsigned char>& out) const {
  std::vector<unsigned char> content;  // the RDNs, each with its header
  std::vector<unsigned char> set;      // this RDN's attribute encodings
  std::vector<std::pair<size_t, int32_t>> spans;
  std::vector<unsigned char> one;
  std::vector<ASNsortRecord> records;
  const RDname rdnShell;  // a copy's RDNs carry the default tag
  bool ok = true;
  auto header = [](const ASNobject& shell, int64_t length, std::vector<unsigned char>& to) {
    MemFile h;
    if (shell.writeHeader(&h, length) < 1) throwBadAllocation();
    to.insert(to.end(), h.data(), h.data() + h.length());
  };
  visitNormalised(
      [&](const AttributeValue& a) {
        one.clear();
        if (a.encodeVector(one) < 1) {
          ok = false;
          return;
        }
        spans.emplace_back(set.size(), static_cast<int32_t>(one.size()));
        set.insert(set.end(), one.begin(), one.end());
      },
      [&](bool sorted) {
        records.clear();
        for (const auto& s : spans) records.push_back(ASNsortRecord{nullptr, set.data() + s.first, s.second});
        if (sorted && records.size() > 1) asnSortRecords(records.data(), static_cast<int32_t>(records.size()));
        header(rdnShell, static_cast<int64_t>(set.size()), content);
        for (const ASNsortRecord& r : records) content.insert(content.end(), r.data, r.data + r.length);
        set.clear();
        spans.clear();
      });
  if (!ok) return false;
  const DistinguishedName shell(tag);  // as a copy is made: the tag alone
  out.clear();
  header(shell, static_cast<int64_t>(content.size()), out);
  out.insert(out.end(), content.begin(), content.end());
  return true;
}

void appendKeyPart(std::string& key, const unsigned char* octets, int length) {
  const uint32_t n = length > 0 && octets ? static_cast<uint32_t>(length) : 0;
  const char size[4] = {static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                        static_cast<char>(n >> 8), static_cast<char>(n)};
  key.append(size, sizeof size);
  if (n) key.append(reinterpret_cast<const char*>(octets), n);
}

std::string normalisedNameKey(const DistinguishedName& name, bool* unmatchableSeen) {
  std::string key;
  // One RDN's attribute keys in one buffer: a long RDN costs its octets and
  // a span each, not a string each.
  std::string keys;
  std::vector<std::pair<size_t, size_t>> spans;
  name.visitNormalised(
      [&](const AttributeValue& a) {
        if (unmatchableSeen && unmatchable(a)) *unmatchableSeen = true;
        // What AttributeValue's == compares: the type's octets, the value's tag and content.
        const size_t start = keys.size();
        appendKeyPart(keys, a.type.data(), a.type.length);
        keys.push_back(static_cast<char>(a.value.tag));
        appendKeyPart(keys, a.value.content(), a.value.length);
        spans.emplace_back(start, keys.size() - start);
      },
      [&](bool) {
        // An RDN is a set: its attributes in any order are the same RDN.
        const char* base = keys.data();
        std::sort(spans.begin(), spans.end(), [base](const auto& x, const auto& y) {
          ++attributeComparisons;
          return std::string_view(base + x.first, x.second) < std::string_view(base + y.first, y.second);
        });
        const uint32_t count = static_cast<uint32_t>(spans.size());
        appendKeyPart(key, nullptr, 0);
        appendKeyPart(key, reinterpret_cast<const unsigned char*>(&count), sizeof count);
        for (const auto& s : spans)
          appendKeyPart(key, reinterpret_cast<const unsigned char*>(base + s.first), static_cast<int>(s.second));
        keys.clear();
        spans.clear();
      });
  return key;
}
