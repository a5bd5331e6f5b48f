// CMS Attribute (RFC 5652: attrType OBJECT IDENTIFIER, attrValues SET OF
// ANY) and the find, read and set operations over a list of attributes: the
// attribute sets of signers and enveloped data, and the configuration file,
// which keeps its settings in a SEQUENCE OF Attribute.
#pragma once

#include "asn1/asnany.h"
#include "asn1/asnobjid.h"
#include "asn1/asnseql.h"
#include "asn1/asnsetl.h"
#include "asn1/stlptrlist.h"
#include "pki/cms/cmsmembers.h"

class Attribute : public ASNsequenceF {
 public:
  // A tag with class bits is kept (implicit tagging, constructed); any
  // other gives SEQUENCE.
  explicit Attribute(unsigned char tag = 0);
  Attribute(const Attribute& other);
  ~Attribute() override;
  // Copies the type, every value and the value set's received-order flag.
  // Throws std::bad_alloc "bad allocation" with the value set emptied when
  // a value cannot be copied.
  Attribute& operator=(const Attribute& other);

  // Decodes the index-th value (from 0) into target with its assign-from-ANY
  // operation; true only when that answers 1. False when there is no such value.
  bool getValue(int32_t index, ASNobject& target) const;
  // Appends the object's encoding as one more value; the values are then
  // written in DER SET OF order. False when the value cannot be made (the
  // values are left as they were) or the attribute is a read-only view.
  bool addValue(const ASNobject& object);
  // Makes the object's encoding the only value. On failure the old values
  // are kept and the answer is false.
  bool setValue(const ASNobject& object);
  int32_t valueCount() const { return attrValues.GetCount(); }

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  // Definite and indefinite lengths (BER) alike, the values' set too.
  int decodeContent(GenericFile* in, int length) override;
  int decodeIndefinite(GenericFile* in, int available) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNobjectId attrType;
  CmsSet<ASNany> attrValues;

 private:
  int decodeMembers(cmsasn::MemberReader& r);
};

// The elements of a SET OF or SEQUENCE OF Attribute.
using AttributeList = TypedPointerList<Attribute>;

// An attribute set (SET OF Attribute, or [n] IMPLICIT inside a signer): read
// sets keep their order, built or changed ones are written in DER order.
using Attributes = ASNsetList<Attribute>;

// The first attribute of the list whose type is oid (null entries skipped), or null.
const Attribute* findAttribute(const AttributeList& list, const ASNobjectId& oid);
Attribute* findAttribute(AttributeList& list, const ASNobjectId& oid);

// False when no attribute has the type or index is not below its number of
// values; else Attribute::getValue.
bool getAttributeValue(const AttributeList& list, const ASNobjectId& oid, ASNobject& target,
                       int32_t index);

// With an attribute of that type: replace gives setValue, else addValue.
// Without: a new attribute (oid, {object}) is appended. False when the value
// or the attribute cannot be made; the list is then left as it was. A SET
// that is changed is written in DER order from then on.
bool setAttribute(ASNsetList<Attribute>& set, const ASNobjectId& oid, const ASNobject& object,
                  bool replace);
bool setAttribute(ASNsequenceList<Attribute>& list, const ASNobjectId& oid, const ASNobject& object,
                  bool replace);

// Appends a new, empty, owning attribute list to a list of such lists (the
// PKCS#12 reader hands its bag attributes back this way); null when it
// cannot be made or appended.
TypedPointerList<Attribute>* addNewAttributeList(PointerList& lists);
