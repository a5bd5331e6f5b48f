// Names and text for the certificate searches, the reports and the XML code:
// hexadecimal bytes and serial numbers, attributes and whole names as text
// (labels of the attribute-type table, crtstore.h), and name attributes
// built from text. The rendering itself is the PKI layer's (pki/dnprint.h).
//
// Buffer calls take the buffer's size in *length. No buffer: *length = the
// size needed (terminating zero included), code 0. Too small: that size and
// code 34. Otherwise the text, *length = its length, and the code:
// 0 complete; 33 a value could not be decoded (postal address); 35 some value
// shown in hexadecimal; 36 some type shown as a dotted OID.
#pragma once

#include "asn1/asnint.h"
#include "pki/names/dname.h"
#include "pki/names/dnprint.h"

#include <cstdint>
#include <string>
#include <vector>

// Two upper-case hexadecimal digits a byte; `out` (2 * count + 1 bytes) is
// zero-filled first, so the text ends with its terminating zero.
void bytesToHex(const uint8_t* bytes, int32_t count, char* out);
// The content octets of an INTEGER in hexadecimal, a leading zero octet left
// out when more follow; "00" for an empty value.
void serialToHex(const ASNinteger& serial, std::string& out);

int dnValueToText(const ASNany& value, char* buffer, int32_t* length);
// The table's display name (its short label when shortLabel) in the report
// character set, else the dotted OID (code 36).
int dnTypeToText(const AttributeValue& attribute, char* buffer, int32_t* length, bool shortLabel);
// Postal addresses flattened (lines joined with ","); a type not in the
// table gives 36 and sets DNTEXT_FLAG_UNKNOWN_TYPE in *flags.
int dnAttributeValueToText(const AttributeValue& attribute, char* buffer, int32_t* length,
                           uint32_t* flags);
// "type=value".
int dnAttributeToText(const AttributeValue& attribute, char* buffer, int32_t* length,
                      bool shortLabel);
// Every attribute in order, separated by the separator and a blank, or by
// CR LF with lineBreak.
int dnToTextBuffer(const DistinguishedName& name, char* buffer, int32_t* length, bool lineBreak,
                   bool shortLabel, char separator);
// The name with ";" separators as a new text (array new) in the report
// character set; false when a value cannot be decoded.
bool dnToText(const DistinguishedName& name, char*& out, bool lineBreak, bool shortLabel);
bool dnToString(const DistinguishedName& name, char separator, std::string& out);

// Adds an attribute given by its table code (crtstore.h) and its text: 0
// added, 1 refused by the name or not convertible to UTF-8, 2 bad arguments
// (also a text its string type cannot hold: a country not printable, an ISDN
// number not numeric, an e-mail address not IA5, UTF-8 text that is not).
// raw: the text is one DER value. codePageFlag 1: the text is UTF-8 already
// (otherwise it is in the local code page).
int makeDnAttribute(DistinguishedName& name, char code, const char* text, int length,
                    int codePageFlag, bool raw);

class SignedCertificate;

// The text of an e-mail value (IA5String, or UTF8/Printable/Visible as some
// issuers write it); false for other types and empty values.
bool emailValueText(const ASNany& value, std::string& out);
// Equal addresses, ASCII letter case aside.
bool sameEmailAddress(const std::string& a, const char* b);
// Every emailAddress of the subject in order, then every rfc822Name of
// subjectAltName; lower-cased (ASCII) with lowerCase. False when memory runs
// out (the list then holds what was collected); a subjectAltName that does
// not decode adds nothing.
bool getCertEmailAddresses(const SignedCertificate& cert, std::vector<std::string>& out,
                           bool lowerCase);
// One of those addresses equals `address`, letter case aside.
bool certHasEmailAddress(const SignedCertificate& cert, const char* address, bool lowerCase);
