// The table of DN attribute types the certificate searches, reports and name
// builders share: display name, one-letter code, OID, value bound, label.
#pragma once

#include "asn1/asnobjid.h"

struct DnAttributeType {
  const char* displayName;  // Windows-1250
  char code;
  int index;
  const ASNobjectId* oid;
  int upperBound;
  const char* label;
};

constexpr int DN_ATTRIBUTE_TYPE_COUNT = 24;

// The 24 rows, built from the OID constants on first use (thread-safe).
const DnAttributeType* dnAttributeTypeTable();

// The code of an attribute type, 0 when it is not in the table.
char findDnAttributeType(const ASNobjectId& oid);
// The row of a code, null when unknown.
const DnAttributeType* dnAttributeTypeByCode(char code);
// The OID of a code; false when the code is unknown.
bool dnAttributeTypeOid(char code, ASNobjectId& out);
// The display name and the short label of a code (null when unknown).
const char* dnAttributeTypeName(char code);
const char* dnAttributeTypeLabel(char code);
