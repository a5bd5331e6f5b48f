// Distinguished-name text: the attribute table with its keyword vocabularies
// and the text helpers of the name parser (DistinguishedName::fromText and
// friends in dname.h).
//
// Flags of DistinguishedName::fromText:
//   0x3 escapes (1 backslash + special, 2 backslash + two hex digits, 3 both)
//   0x4 backslash + x + two hex digits   0x8 quoted values
//   0x20 "#" hexadecimal DER values (a "#" value is always one whole DER
//   value); 0x80 with 0x20: also hexadecimal values without "#", which stay
//   text unless they are one whole DER value (and fail then unless 0x40);
//   0x100 no white space inside hexadecimal values
//   RDN separators: 0x800 ",", 0x1000 ";", 0x2000 "+", 0x4000 newline, 0x8000 "|", 0x10000 "/"
//   (a leading "/" is skipped), attribute separators inside an RDN: 0x20000 "+",
//   0x40000 ",", 0x80000 ";", 0x100000 newline, 0x200000 "|"; bits 22-28 value
//   separators and multi-valued values; 0x20000000 prefer UTF8String;
//   0x40000000 keywords are the short X.500 names only; 0x80000000 reverse
//   the RDN order at the end.
#pragma once

#include "asn1/asnobjid.h"

#include <cstdint>
#include <string>

// One attribute type of the name vocabulary. Empty name columns are null.
struct DnAttributeRecord {
  int id;  // the row index
  const ASNobjectId* oid;
  const char* oidText;
  int maxLength;  // 0 none; carried for callers, not checked by the parser
  const char* longName;
  const char* shortName;
  const char* altShortName;
  const char* englishLabel;
  const char* polishLabel;  // Windows-1250
  const char* ldapShortName;
  const char* ldapLongName;
  const char* displayName;
  int stringType;  // see stringTypeFor
  const char* const* aliases;
  int aliasCount;
};

constexpr int DN_ATTRIBUTE_COUNT = 24;

// The 24 rows, built from the OID constants on first use (thread-safe).
const DnAttributeRecord* dnAttributeTable();

const DnAttributeRecord* dnAttributeById(int id);
const DnAttributeRecord* dnAttributeByOid(const ASNobjectId& oid);
int dnAttributeIdByOid(const ASNobjectId& oid);
// Keyword lookup (case-insensitive, exact length). style 0 shortName (longName
// when empty), 1 longName, 2 polishLabel (Windows-1250 or UTF-8), 3 ldapShortName (ldapLongName when
// empty), 4 shortName, 5 altShortName, 6 englishLabel, 7 displayName,
// 8 dotted OID, 9 ldapLongName, 10 ldapShortName, 11-14 nothing, negative
// every vocabulary and the aliases, then the dotted OID.
const DnAttributeRecord* dnAttributeByName(const char* name, int length, int style);
const DnAttributeRecord* dnAttributeByOidText(const char* text, int length);

// Position of the first character of `set` in the text, -1 when none.
int dnFindAnyOf(const char* text, int length, const char* set);
// Position of the first separator of `set` (null: ";,") outside double
// quotes and not escaped by a backslash, -1 when none.
int dnFindSeparator(const char* text, int length, const char* set);
// The same rule, the last such separator.
int dnFindLastSeparator(const char* text, int length, const char* set);
// The attribute separators of an RDN flags word as a zero-terminated string
// (at most five characters and the terminator).
void dnSeparatorChars(uint32_t rdnFlags, char out[6]);
// The attribute-level flags of an RDN flags word.
uint32_t dnStyleToSeparatorBits(uint32_t rdnFlags);
// The RDN-level flags of a name flags word.
uint32_t dnRdnFlags(uint32_t dnFlags);

// Exactly one DER encoding (definite, shortest lengths, constructed contents
// alike), as a "#" value of a name text must be.
bool dnIsWholeDerValue(const unsigned char* data, int length);
bool dnIsPrintable(const char* value, int length);
bool dnIsNumeric(const char* value, int length);
bool dnIsIA5(const char* value, int length);
bool dnIsUtf8(const char* value, int length);
// Value of two hexadecimal digits, -1 when they are not.
int hexPairValue(char high, char low);

// The universal tag a value of a string type takes (0: not acceptable):
// 1 Printable when printable and not preferUtf8, else UTF8; 2 Printable;
// 3 UTF8; 4 IA5; 5 BMP; 6 Numeric; 7 OCTET STRING; 8 BIT STRING; 9 as 1
// with IA5 before UTF8; 10 SEQUENCE; 11 GeneralizedTime; 12 UTCTime or
// GeneralizedTime; 13 OBJECT IDENTIFIER; 14 INTEGER.
int stringTypeFor(int type, const char* value, int length, bool preferUtf8, bool strict);

// Bounds of what one text may build: a name text longer than these is
// refused instead of growing without limit.
constexpr int DN_MAX_RDNS = 256;
constexpr int DN_MAX_RDN_ATTRIBUTES = 64;
constexpr int DN_MAX_VALUE_PARTS = 64;
