#include "pki/cms/attribute.h"

#include "base/commonerror.h"

#include <memory>
#include <new>

namespace {

// A new ANY holding the object's encoding; null when it cannot be made.
std::unique_ptr<ASNany> encodeAsAny(const ASNobject& object) {
  std::unique_ptr<ASNany> value(new (std::nothrow) ASNany());
  if (!value) return nullptr;
  try {
    value->setObject(object);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  if (value->tag == TAG_ANY) return nullptr;
  return value;
}

template <class List>
bool setAttributeIn(List& list, const ASNobjectId& oid, const ASNobject& object, bool replace) {
  if (list.flags & ASN_FLAG_CONST) return false;
  if (Attribute* existing = findAttribute(list, oid))
    return replace ? existing->setValue(object) : existing->addValue(object);
  std::unique_ptr<Attribute> attribute(new (std::nothrow) Attribute(0x30));
  if (!attribute) return false;
  try {
    attribute->attrType = oid;
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!attribute->setValue(object)) return false;
  if (list.append(attribute.get()) != 1) return false;
  attribute.release();
  return true;
}

}  // namespace

Attribute::Attribute(unsigned char t) : ASNsequenceF(t), attrType(), attrValues() {}

Attribute::Attribute(const Attribute& other)
    : ASNsequenceF(other), attrType(other.attrType), attrValues() {
  *this = other;
}

Attribute::~Attribute() = default;

Attribute& Attribute::operator=(const Attribute& other) {
  if (this == &other) return *this;
  attrType = other.attrType;
  attrValues.clear();
  for (POSITION pos = other.attrValues.GetHeadPosition(); pos;) {
    const ASNany* source = other.attrValues.GetNext(pos);
    if (!source) continue;
    ASNany* copy = new (std::nothrow) ASNany();
    bool ok = copy != nullptr;
    try {
      if (ok) {
        *copy = *source;
        attrValues.AddTail(copy);
      }
    } catch (const std::bad_alloc&) {
      ok = false;
    }
    if (!ok) {
      delete copy;
      attrValues.clear();
      throwBadAllocation();
    }
  }
  attrValues.keepOrder = other.attrValues.keepOrder;
  // A value set of indefinite length is written again as it came.
  attrValues.flags = (attrValues.flags & ~ASN_FLAG_INDEFINITE) |
                     (other.attrValues.flags & ASN_FLAG_INDEFINITE);
  return *this;
}

bool Attribute::getValue(int32_t index, ASNobject& target) const {
  if (index < 0) return false;
  const ASNany* value = attrValues.elementAt(index);
  return value && target.assignFromAny(*value) == 1;
}

bool Attribute::addValue(const ASNobject& object) {
  if ((flags & ASN_FLAG_CONST) || (attrValues.flags & ASN_FLAG_CONST)) return false;
  std::unique_ptr<ASNany> value = encodeAsAny(object);
  if (!value || attrValues.append(value.get()) != 1) return false;
  value.release();
  return true;
}

bool Attribute::setValue(const ASNobject& object) {
  if ((flags & ASN_FLAG_CONST) || (attrValues.flags & ASN_FLAG_CONST)) return false;
  // The new value goes in first: when it cannot be made the old ones stay.
  std::unique_ptr<ASNany> value = encodeAsAny(object);
  if (!value) return false;
  int32_t old = attrValues.GetCount();
  if (attrValues.append(value.get()) != 1) return false;
  value.release();
  while (old-- > 0) delete attrValues.RemoveHead();
  return true;
}

void Attribute::releaseViews() {
  dropOwnView();
  releaseViewsOf({&attrType, &attrValues});
}

void Attribute::clear() {
  releaseViews();
  attrType.clear();
  attrValues.clear();
}

int Attribute::decodeContent(GenericFile* in, int length) {
  cmsasn::MemberReader r(in, length, length, memberFlags());
  return decodeMembers(r);
}

int Attribute::decodeIndefinite(GenericFile* in, int available) {
  cmsasn::MemberReader r(in, -1, available, memberFlags());
  return decodeMembers(r);
}

int Attribute::decodeMembers(cmsasn::MemberReader& r) {
  int x = r.read(attrType);
  if (x < 1) return x;
  if ((x = r.read(attrValues)) < 1) return x;
  return r.finish();
}

int Attribute::encodeContent(GenericFile* out) const {
  int r = attrType.encode(out);
  if (r < 1) return r;
  r = attrValues.encode(out);
  return r < 1 ? r : 1;
}

int Attribute::contentLength() const {
  int a = attrType.encodedLength();
  int b = attrValues.encodedLength();
  if (a < 0 || b < 0 || int64_t(a) + b > ASN_MAX_LENGTH) return -1;
  return a + b;
}

void Attribute::digestContent(LvHash* hash) const {
  attrType.updateDigest(hash);
  attrValues.updateDigest(hash);
}

// ---------------------------------------------------------------------------

const Attribute* findAttribute(const AttributeList& list, const ASNobjectId& oid) {
  for (POSITION pos = list.GetHeadPosition(); pos;) {
    const Attribute* a = list.GetNext(pos);
    if (a && a->attrType == oid) return a;
  }
  return nullptr;
}

Attribute* findAttribute(AttributeList& list, const ASNobjectId& oid) {
  return const_cast<Attribute*>(findAttribute(static_cast<const AttributeList&>(list), oid));
}

bool getAttributeValue(const AttributeList& list, const ASNobjectId& oid, ASNobject& target,
                       int32_t index) {
  const Attribute* a = findAttribute(list, oid);
  if (!a || index < 0 || index >= a->valueCount()) return false;
  return a->getValue(index, target);
}

bool setAttribute(ASNsetList<Attribute>& set, const ASNobjectId& oid, const ASNobject& object,
                  bool replace) {
  if (!setAttributeIn(set, oid, object, replace)) return false;
  // An element changed in place changes the set: it goes out in DER order.
  set.keepOrder = 0;
  return true;
}

bool setAttribute(ASNsequenceList<Attribute>& list, const ASNobjectId& oid, const ASNobject& object,
                  bool replace) {
  return setAttributeIn(list, oid, object, replace);
}

TypedPointerList<Attribute>* addNewAttributeList(PointerList& lists) {
  return addNewAttributeList<Attribute>(lists);
}
