// Conversions between the texts XML signatures carry and the library's ASN.1
// values: XML Schema dateTime and certificate times, decimal serial numbers and
// INTEGERs, and the keyword table of distinguished-name texts. Input errors throw
// TalApiException 89, exhausted memory 100.
#pragma once

#include "asn1/asngent.h"
#include "asn1/asnint.h"
#include "pki/names/dname.h"
#include "pki/common/x509time.h"

#include <cstdint>
#include <string>
#include <vector>

namespace convXml {

// Broken-down UTC fields of a dateTime text.
struct UtcFields {
  int year, month, day, hour, minute, second;
};
// Parses a dateTime (surrounding XML white space ignored) into UTC fields.
UtcFields parseDateTime(const std::string& text);

void dateTimeToTime(const std::string& text, X509time& out);
void dateTimeToGenTime(const std::string& text, ASNgenTime& out);
void timeToDateTime(const X509time& time, std::string& out);
void timeToDateTime(const ASNgenTime& time, std::string& out);

// Decimal digits only (at most MAX_DECIMAL_DIGITS); leading zeros are decimal.
const size_t MAX_DECIMAL_DIGITS = 1024;
void decimalToInteger(const std::string& text, ASNinteger& out);
void integerToDecimal(const ASNinteger* value, std::string& out);

// The one-character attribute code of a keyword ("oid."/"OID." prefix and
// surrounding white space dropped, case significant).
bool lookupDnKeyword(const std::string& keyword, char* code);
// The keyword written for a code; null when the code has none.
const char* dnKeywordForCode(char code);
// Codes whose values are written as "#" and the DER in hexadecimal.
bool dnCodeWritesHex(char code);

// One attribute of a name text, in text order.
struct DnComponent {
  char code;
  std::string value;  // bytes: text, or the DER of a "#" value
  bool encoded;       // value is DER ("#" hexadecimal form)
};
// Splits and unescapes a name text (the first step of reading a name into a
// DistinguishedName, which adds the components last to first).
std::vector<DnComponent> splitDnText(const std::string& text);
// The escaped form of one value's text as written into a name text.
std::string escapeDnValue(const std::string& text);

// Building a name attribute from its one-letter code and text needs the
// certificate store's attribute-type table (code to type and string type),
// which this layer cannot call: the caller hands that function in.
// 0 added, 1 refused by the name, 2 bad arguments or conversion failure.
typedef int (*DnMakeAttribute)(DistinguishedName& name, char code, const char* text, int length,
                               int codePageFlag, bool raw);

// "CN=Name,O=Org,C=PL": the last component becomes the first RDN.
void parseDN(const std::string& text, DistinguishedName& out, DnMakeAttribute makeAttribute);
// The RDNs from the last to the first, "," between them (values rendered by
// the PKI layer's name printer).
void dnToString(const DistinguishedName* name, std::string& out);

}  // namespace convXml
