// Names as text.
#include "pki/names/dnprint.h"

#include "base/memfile.h"
#include "base/no_oop.h"
#include "pki/names/dntext.h"
#include "pki/common/oids.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

void appendHex(std::string& out, const unsigned char* bytes, int n) {
  if (n <= 0 || !bytes) return;
  size_t at = out.size();
  out.resize(at + 2 * static_cast<size_t>(n));
  bytesToHex(bytes, n, &out[at], nullptr);
}

int worse(int a, int b) { return a > b ? a : b; }

// The labels of the name vocabulary: its display names, or its short names
// when asked; the long name where a column is empty.
const char* vocabularyLabel(const ASNobjectId& type, bool shortLabel) {
  const DnAttributeRecord* row = dnAttributeByOid(type);
  if (!row) return nullptr;
  const char* label = shortLabel ? row->shortName : row->displayName;
  return label ? label : row->longName;
}

}  // namespace

int dnAppendValue(std::string& out, const ASNany& value) {
  const unsigned char* content = value.content();
  const int n = value.length > 0 && content ? value.length : 0;
  switch (value.tag) {
    case 3:
      if (n > 1) appendHex(out, content + 1, n - 1);
      return DNTEXT_OK;
    case 4:
    case 12:
    case 19:
    case 22:
      // A zero octet would cut the text short where it is read as a C
      // string (hiding what follows): such a value is shown in hexadecimal.
      if (n == 0 || !std::memchr(content, 0, static_cast<size_t>(n))) {
        out.append(reinterpret_cast<const char*>(content), static_cast<size_t>(n));
        return DNTEXT_OK;
      }
      break;
    case 30: {
      if (n == 0) return DNTEXT_OK;
      int32_t size = bmpToUtf8(content, n, nullptr, 0);
      if (size > 0) {
        std::string text(static_cast<size_t>(size), '\0');
        if (bmpToUtf8(content, n, &text[0], size) == size && text.find('\0') == std::string::npos) {
          out += text;
          return DNTEXT_OK;
        }
      }
      break;
    }
    default:
      break;
  }
  appendHex(out, content, n);
  return DNTEXT_HEX;
}

int dnAppendType(std::string& out, const ASNobjectId& type, const DnTextStyle& style) {
  const char* label = (style.label ? style.label : vocabularyLabel)(type, style.shortLabel);
  if (!label) {
    std::string dotted;
    // No fixed buffer bounds the text: a long OID from a stranger's name
    // is shown whole rather than failing the name.
    if (!type.toString(dotted)) dotted = "?";
    out += dotted;
    return DNTEXT_OID;
  }
  std::string converted;
  if (style.utf8Labels) {
    int32_t n = cp1250ToUtf8(label, -1, nullptr, 0);
    if (n > 0) {
      converted.assign(static_cast<size_t>(n), '\0');
      cp1250ToUtf8(label, -1, &converted[0], n);
    }
  } else {
    converted = convertForOutput(label);
  }
  out += converted;
  return DNTEXT_OK;
}

int dnAppendAttributeValue(std::string& out, const AttributeValue& attribute,
                           const DnTextStyle& style, uint32_t* flags) {
  int code = DNTEXT_OK;
  const size_t at = out.size();
  if (attribute.type == id_at_postalAddress) {
    std::vector<unsigned char> der;
    ASNsequenceList<ASNany> lines;
    if (attribute.value.encodeVector(der) <= 0 ||
        lines.decodeVector(der) != static_cast<int>(der.size()) || attribute.value.tag != 0x30)
      return DNTEXT_BAD_VALUE;
    bool first = true;
    for (POSITION pos = lines.GetHeadPosition(); pos;) {
      const ASNany* line = lines.GetNext(pos);
      if (!line) continue;
      if (!first) out += ',';
      first = false;
      code = worse(code, dnAppendValue(out, *line));
    }
  } else {
    code = dnAppendValue(out, attribute.value);
  }
  if (style.escapeControls) out.replace(at, std::string::npos, escapeControls(out.substr(at)));
  if (!(style.label ? style.label : vocabularyLabel)(attribute.type, style.shortLabel)) {
    if (flags) *flags |= DNTEXT_FLAG_UNKNOWN_TYPE;
    code = DNTEXT_OID;
  }
  return code;
}

int dnAppendAttribute(std::string& out, const AttributeValue& attribute, const DnTextStyle& style) {
  int code = dnAppendType(out, attribute.type, style);
  if (code != DNTEXT_OK && code != DNTEXT_OID) return code;
  out += '=';
  int valueCode = dnAppendAttributeValue(out, attribute, style, nullptr);
  if (valueCode == DNTEXT_BAD_VALUE) return valueCode;
  return worse(code, valueCode);
}

int dnAppendName(std::string& out, const DistinguishedName& name, const DnTextStyle& style) {
  int code = DNTEXT_OK;
  bool first = true;
  for (POSITION pos = name.GetHeadPosition(); pos;) {
    const RDname* rdn = name.GetNext(pos);
    if (!rdn) continue;
    for (POSITION q = rdn->GetHeadPosition(); q;) {
      const AttributeValue* attribute = rdn->GetNext(q);
      if (!attribute) continue;
      if (!first) {
        if (style.lineBreak)
          out += "\r\n";
        else {
          out += style.separator;
          out += ' ';
        }
      }
      first = false;
      int r = dnAppendAttribute(out, *attribute, style);
      if (r != DNTEXT_OK && r != DNTEXT_HEX && r != DNTEXT_OID) return r;
      code = worse(code, r);
    }
  }
  return code;
}

int dnCopyText(const std::string& text, int code, char* buffer, int32_t* length) {
  if (!length) return DNTEXT_BUFFER;
  if (text.size() >= static_cast<size_t>(INT32_MAX)) {
    *length = 0;
    return DNTEXT_BUFFER;
  }
  const int32_t needed = static_cast<int32_t>(text.size()) + 1;
  if (!buffer) {
    *length = needed;
    return DNTEXT_OK;
  }
  if (*length < needed) {
    *length = needed;
    return DNTEXT_BUFFER;
  }
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  *length = needed - 1;
  return code;
}

std::string dnUtf8ToOutput(const std::string& utf8) { return utf8ForOutput(utf8); }

char* dnTextForReport(const DistinguishedName& name, const DnTextStyle& style) {
  DnTextStyle s = style;
  s.utf8Labels = true;
  std::string text;
  int code = dnAppendName(text, name, s);
  if (code != DNTEXT_OK && code != DNTEXT_HEX && code != DNTEXT_OID) return nullptr;
  std::string converted = dnUtf8ToOutput(text);
  char* result = new char[converted.size() + 1];
  std::memcpy(result, converted.c_str(), converted.size() + 1);
  return result;
}

char* DistinguishedName::toText(uint32_t options, bool escapeControls) const {
  DnTextStyle style;
  style.escapeControls = escapeControls;
  style.lineBreak = (options & DN_TEXT_LINE_BREAKS) != 0;
  style.shortLabel = (options & DN_TEXT_SHORT_LABELS) != 0;
  return dnTextForReport(*this, style);
}
