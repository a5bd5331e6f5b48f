// Extension (RFC 5280) with the extension list, InfoTypeAndValue and
// PolicyIdAndNote: carriers of an OID-labelled value.
#pragma once

#include "asn1/asnany.h"
#include "asn1/asnbool.h"
#include "asn1/asnobjid.h"
#include "asn1/asnocstr.h"
#include "asn1/asnseql.h"

class Extension : public ASNsequenceF {
 public:
  explicit Extension(unsigned char tag = 0);
  Extension(const Extension& other);
  ~Extension() override;
  // Copies the OID, the critical flag and the value.
  Extension& operator=(const Extension& other);

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  // critical is read only from a BOOLEAN (identifier 01); an explicit FALSE
  // is accepted and left out on re-encoding, as DER wants.
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNobjectId extnID;
  ASNbool critical;  // DEFAULT FALSE
  ASNoctstr extnValue;
};

// Extensions ::= SEQUENCE OF Extension.
class Extensions : public ASNsequenceList<Extension> {
 public:
  explicit Extensions(unsigned char tag = 0) : ASNsequenceList<Extension>(tag) {}
};

// The first extension of the list with that OID, or null.
const Extension* findExtensionByOid(const Extensions& list, const ASNobjectId& oid);
Extension* findExtensionByOid(Extensions& list, const ASNobjectId& oid);
// As findExtensionByOid with the OID as dotted text ('.' between arcs);
// null when the text is not an OID.
const Extension* findExtensionByOidText(const Extensions& list, const char* text);

class InfoTypeAndValue : public ASNsequenceF {
 public:
  explicit InfoTypeAndValue(unsigned char tag = 0);
  InfoTypeAndValue(const InfoTypeAndValue& other);
  ~InfoTypeAndValue() override;
  InfoTypeAndValue& operator=(const InfoTypeAndValue& other);

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNobjectId infoType;
  ASNany infoValue;  // OPTIONAL
  unsigned char infoValuePresent;
};

// An element of the acceptable-policies list: a policy OID with a note of
// octets, both mandatory.
class PolicyIdAndNote : public ASNsequenceF {
 public:
  explicit PolicyIdAndNote(unsigned char tag = 0);
  PolicyIdAndNote(const PolicyIdAndNote& other);
  ~PolicyIdAndNote() override;
  PolicyIdAndNote& operator=(const PolicyIdAndNote& other);

  void clear() override;
  // Walks every member, present or not.
  void releaseViews() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNobjectId policyId;
  ASNoctstr note;
};
