// Names as text: one value, one attribute "type=value" and a whole name, with
// the result codes the name renderers share. The type labels come from a
// caller's table (the store's attribute-type table) or from the name
// vocabulary of dntext.h.
#pragma once

#include "pki/names/dname.h"

#include <cstdint>
#include <string>

constexpr int DNTEXT_OK = 0;
constexpr int DNTEXT_BAD_VALUE = 33;  // a value could not be decoded (postal address)
constexpr int DNTEXT_BUFFER = 34;     // the buffer is missing or too small
constexpr int DNTEXT_HEX = 35;  // some value shown in hexadecimal (or a BMP value not converted)
constexpr int DNTEXT_OID = 36;  // some type shown as a dotted OID

// Flag a caller's flags word gets when an attribute type is not in the table.
constexpr uint32_t DNTEXT_FLAG_UNKNOWN_TYPE = 16;

// The label of an attribute type (Windows-1250), null when the table has none.
using DnTypeLabel = const char* (*)(const ASNobjectId& type, bool shortLabel);

struct DnTextStyle {
  DnTypeLabel label = nullptr;  // null: the labels of the name vocabulary
  bool shortLabel = false;
  bool lineBreak = false;  // CR LF between attributes instead of separator and blank
  char separator = ';';
  // Labels as UTF-8, for a text converted whole into the report character
  // set afterwards; otherwise labels come in the report character set.
  bool utf8Labels = false;
  // Values with their controls escaped (escapeControls): one name of a
  // stranger's stays on its line of a report.
  bool escapeControls = false;
};

// Each appends to `out` and answers one of the codes above.
int dnAppendValue(std::string& out, const ASNany& value);
int dnAppendType(std::string& out, const ASNobjectId& type, const DnTextStyle& style);
// A postal address is flattened (its lines joined with ","); a type not in
// the table gives DNTEXT_OID and sets DNTEXT_FLAG_UNKNOWN_TYPE in *flags.
int dnAppendAttributeValue(std::string& out, const AttributeValue& attribute,
                           const DnTextStyle& style, uint32_t* flags);
int dnAppendAttribute(std::string& out, const AttributeValue& attribute, const DnTextStyle& style);
int dnAppendName(std::string& out, const DistinguishedName& name, const DnTextStyle& style);

// Hands a rendered text to a caller's buffer. *length: the buffer's size on
// entry. No buffer: *length = the size needed (terminating zero included),
// DNTEXT_OK. Too small: the same size and DNTEXT_BUFFER. Otherwise the text
// with its terminating zero, *length = its length, and `code`.
int dnCopyText(const std::string& text, int code, char* buffer, int32_t* length);

// UTF-8 text in the report character set (outputCharset()).
std::string dnUtf8ToOutput(const std::string& utf8);

// The name as one text in the report character set, allocated with array new
// (the caller deletes it); null when a value cannot be decoded.
char* dnTextForReport(const DistinguishedName& name, const DnTextStyle& style);

// Options of DistinguishedName::toText.
constexpr uint32_t DN_TEXT_LINE_BREAKS = 1;
constexpr uint32_t DN_TEXT_SHORT_LABELS = 2;
