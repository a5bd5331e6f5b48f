// Names and text.
#include "store/dnutils.h"

#include "asn1/asnocstr.h"
#include "base/commonerror.h"
#include "base/memfile.h"
#include "base/no_oop.h"
#include "pki/names/dntext.h"
#include "pki/x509/cert.h"
#include "pki/x509/x509ext.h"
#include "pki/common/oids.h"
#include "store/crtstore.h"

#include <cstring>
#include <vector>

namespace {

const char* const SRC = "SRC/dnutils";

constexpr int MAX_UTF8_VALUE = 511;

const char* tableLabel(const ASNobjectId& type, bool shortLabel) {
  const DnAttributeType* row = dnAttributeTypeByCode(findDnAttributeType(type));
  if (!row) return nullptr;
  return shortLabel ? row->label : row->displayName;
}

DnTextStyle tableStyle(bool shortLabel, bool lineBreak, char separator) {
  DnTextStyle style;
  style.label = tableLabel;
  style.shortLabel = shortLabel;
  style.lineBreak = lineBreak;
  style.separator = separator;
  return style;
}

// The codes a renderer may hand on; any other is a fault of this layer
// (reported at the lines the unit's invariant texts have always named).
void checkCode(int code, int line) {
  checkInvariant(
      code == DNTEXT_OK || code == DNTEXT_BAD_VALUE || code == DNTEXT_HEX || code == DNTEXT_OID,
      SRC, line, "false");
}

}  // namespace

void bytesToHex(const uint8_t* bytes, int32_t count, char* out) {
  if (!out || count < 0) return;
  std::memset(out, 0, 2 * static_cast<size_t>(count) + 1);
  if (bytes && count > 0) bytesToHex(bytes, count, out, nullptr);
}

void serialToHex(const ASNinteger& serial, std::string& out) {
  const unsigned char* octets = serial.data();
  int n = serial.length;
  if (!octets || n <= 0) {
    out = "00";
    return;
  }
  if (n > 1 && octets[0] == 0) {
    ++octets;
    --n;
  }
  out.assign(2 * static_cast<size_t>(n), '\0');
  bytesToHex(octets, n, &out[0], nullptr);
}

int dnValueToText(const ASNany& value, char* buffer, int32_t* length) {
  std::string text;
  int code = dnAppendValue(text, value);
  return dnCopyText(text, code, buffer, length);
}

int dnTypeToText(const AttributeValue& attribute, char* buffer, int32_t* length, bool shortLabel) {
  std::string text;
  int code = dnAppendType(text, attribute.type, tableStyle(shortLabel, false, ';'));
  return dnCopyText(text, code, buffer, length);
}

int dnAttributeValueToText(const AttributeValue& attribute, char* buffer, int32_t* length,
                           uint32_t* flags) {
  std::string text;
  int code = dnAppendAttributeValue(text, attribute, tableStyle(false, false, ';'), flags);
  if (code == DNTEXT_BAD_VALUE) return code;
  return dnCopyText(text, code, buffer, length);
}

int dnAttributeToText(const AttributeValue& attribute, char* buffer, int32_t* length,
                      bool shortLabel) {
  std::string text;
  int code = dnAppendAttribute(text, attribute, tableStyle(shortLabel, false, ';'));
  checkCode(code, 426);
  if (code == DNTEXT_BAD_VALUE) return code;
  return dnCopyText(text, code, buffer, length);
}

int dnToTextBuffer(const DistinguishedName& name, char* buffer, int32_t* length, bool lineBreak,
                   bool shortLabel, char separator) {
  std::string text;
  int code = dnAppendName(text, name, tableStyle(shortLabel, lineBreak, separator));
  checkCode(code, 524);
  if (code == DNTEXT_BAD_VALUE) return code;
  return dnCopyText(text, code, buffer, length);
}

bool dnToText(const DistinguishedName& name, char*& out, bool lineBreak, bool shortLabel) {
  out = dnTextForReport(name, tableStyle(shortLabel, lineBreak, ';'));
  return out != nullptr;
}

bool dnToString(const DistinguishedName& name, char separator, std::string& out) {
  std::string text;
  int code = dnAppendName(text, name, tableStyle(false, false, separator));
  if (code == DNTEXT_BAD_VALUE) return false;
  out = text;
  return true;
}

int makeDnAttribute(DistinguishedName& name, char code, const char* text, int length,
                    int codePageFlag, bool raw) {
  ASNobjectId type;
  if (!text || length <= 0 || !dnAttributeTypeOid(code, type)) return 2;
  ASNany value;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
  if (raw) {
    // One value, whole. Its header is written anew, but an indefinite
    // length or BER inside it would go into the name as received.
    if (value.decodeBuffer(bytes, length, 0) != length || value.tag == TAG_ANY) return 2;
    std::vector<unsigned char> written;
    if (value.encodeVector(written) <= 0 ||
        !dnIsWholeDerValue(written.data(), static_cast<int>(written.size())))
      return 2;
  } else if (type == id_at_uniqueIdentifier) {
    // Hexadecimal text, whole octets, as the bits of a BIT STRING.
    if (length % 2 != 0) return 2;
    std::vector<unsigned char> bits(static_cast<size_t>(length / 2) + 1, 0);
    for (int i = 0; i < length; ++i)
      if (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')) return 2;
    if (hexToBytes(text, length, bits.data() + 1, length / 2) != length / 2) return 2;
    if (value.setEncoding(3, bits.data(), static_cast<int>(bits.size())) != 1) return 2;
  } else {
    int tag = 12;
    if (type == id_at_internationalISDNNumber)
      tag = 18;
    else if (type == pkcs_9_at_emailAddress)
      tag = 22;
    else if (type == id_at_countryName)
      tag = 19;
    // A value its string type cannot hold is refused, not written as
    // an encoding other parsers reject.
    bool fits = true;
    if (tag == 18)
      fits = dnIsNumeric(text, length);
    else if (tag == 22)
      fits = dnIsIA5(text, length);
    else if (tag == 19)
      fits = dnIsPrintable(text, length);
    else if (codePageFlag == 1)
      fits = dnIsUtf8(text, length);
    if (!fits) return 2;
    std::string content(text, static_cast<size_t>(length));
    if (tag == 12 && codePageFlag != 1) {
      int32_t n = ansiToUtf8(text, length, nullptr, 0);
      if (n <= 0 || n > MAX_UTF8_VALUE) return 1;
      content.assign(static_cast<size_t>(n), '\0');
      if (ansiToUtf8(text, length, &content[0], n) != n) return 1;
    }
    if (value.setEncoding(static_cast<unsigned char>(tag),
                          reinterpret_cast<const unsigned char*>(content.data()),
                          static_cast<int>(content.size())) != 1)
      return 2;
  }
  return name.addAttribute(type, value) ? 0 : 1;
}

// ------------------------------------------------------------- e-mail

bool emailValueText(const ASNany& value, std::string& out) {
  switch (value.getTag()) {
    case 0x16:  // IA5String
    case 0x0C:  // UTF8String
    case 0x13:  // PrintableString
    case 0x1A:  // VisibleString
      break;
    default:
      return false;
  }
  const unsigned char* content = value.content();
  if (!content || value.length <= 0) return false;
  out.assign(reinterpret_cast<const char*>(content), static_cast<size_t>(value.length));
  return true;
}

namespace {

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

}  // namespace

bool sameEmailAddress(const std::string& a, const char* b) {
  if (!b) return false;
  const size_t n = a.size();
  if (std::strlen(b) != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  return true;
}

bool getCertEmailAddresses(const SignedCertificate& cert, std::vector<std::string>& out,
                           bool lowerCase) {
  try {
    std::string text;
    auto add = [&](bool taken) {
      if (!taken) return;
      if (lowerCase)
        for (char& c : text) c = asciiLower(c);
      out.push_back(text);
    };
    const DistinguishedName& subject = cert.tbsCertificate.subject;
    subject.forEachAttribute([&](const AttributeValue* attribute) {
      if (attribute && attribute->type == pkcs_9_at_emailAddress)
        add(emailValueText(attribute->value, text));
      return true;
    });
    GeneralNames names;
    if (getExtensionValue(*cert.tbsCertificate.extensions, id_ce_subjectAltName, names) == 0)
      return false;
    for (POSITION pos = names.GetHeadPosition(); pos;) {
      const ASNany* name = names.GetNext(pos);
      if (!name || name->getTag() != 0x81) continue;  // rfc822Name [1] IMPLICIT IA5String
      const unsigned char* content = name->content();
      if (!content || name->length <= 0) continue;
      text.assign(reinterpret_cast<const char*>(content), static_cast<size_t>(name->length));
      add(true);
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool certHasEmailAddress(const SignedCertificate& cert, const char* address, bool lowerCase) {
  std::vector<std::string> addresses;
  getCertEmailAddresses(cert, addresses, lowerCase);
  for (const std::string& a : addresses)
    if (sameEmailAddress(a, address)) return true;
  return false;
}
