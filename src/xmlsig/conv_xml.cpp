#include "xmlsig/conv_xml.h"

#include "base/commonerror.h"
#include "base/memfile.h"
#include "base/ptrlist.h"
#include "base/talexception.h"
#include "crypto/algebra/lvnumbers.h"
#include "pki/names/dnprint.h"
#include "xmlsig/xmlcodes.h"

#include <cstring>
#include <map>
#include <vector>

namespace convXml {

namespace {

const char* const SRC = "SRC/conv_xml";

[[noreturn]] void bad() { throw TalApiException(xmlrc::INV_MSG); }

bool leapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int monthLength(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) bad();
  return month == 2 && leapYear(year) ? 29 : days[month - 1];
}

const char* const XML_BLANKS = " \t\r\n";

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(XML_BLANKS);
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(XML_BLANKS);
  return s.substr(b, e - b + 1);
}

// Reads an unsigned number of minDigits..maxDigits digits at pos.
int readNumber(const std::string& s, size_t& pos, size_t minDigits, size_t maxDigits) {
  size_t start = pos;
  int value = 0;
  while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9' && pos - start < maxDigits)
    value = value * 10 + (s[pos++] - '0');
  if (pos - start < minDigits) bad();
  return value;
}

void expect(const std::string& s, size_t& pos, char c) {
  if (pos >= s.size() || s[pos] != c) bad();
  ++pos;
}

// Subtracts an offset of sign * (hours, minutes) from the fields.
void applyOffset(UtcFields& f, int sign, int offHours, int offMinutes) {
  f.minute -= sign * offMinutes;
  f.hour -= sign * offHours;
  while (f.minute < 0) {
    f.minute += 60;
    --f.hour;
  }
  while (f.minute > 59) {
    f.minute -= 60;
    ++f.hour;
  }
  int dayShift = 0;
  while (f.hour < 0) {
    f.hour += 24;
    --dayShift;
  }
  while (f.hour > 23) {
    f.hour -= 24;
    ++dayShift;
  }
  f.day += dayShift;
  if (f.day < 1) {
    if (--f.month < 1) {
      f.month = 12;
      --f.year;
    }
    f.day += monthLength(f.year, f.month);
  } else if (f.day > monthLength(f.year, f.month)) {
    f.day -= monthLength(f.year, f.month);
    if (++f.month > 12) {
      f.month = 1;
      ++f.year;
    }
  }
  if (f.year < 100) bad();
}

}  // namespace

UtcFields parseDateTime(const std::string& input) {
  std::string s = trimmed(input);
  size_t pos = 0;
  UtcFields f{};
  f.year = readNumber(s, pos, 4, 9);
  expect(s, pos, '-');
  f.month = readNumber(s, pos, 2, 2);
  expect(s, pos, '-');
  f.day = readNumber(s, pos, 2, 2);
  expect(s, pos, 'T');
  f.hour = readNumber(s, pos, 2, 2);
  expect(s, pos, ':');
  f.minute = readNumber(s, pos, 2, 2);
  expect(s, pos, ':');
  f.second = readNumber(s, pos, 2, 2);
  // The time classes read a year below 100 as a two-digit year (0049 would
  // become 2049): such years are refused rather than moved.
  if (f.year < 100 || f.month < 1 || f.month > 12 || f.day < 1 ||
      f.day > monthLength(f.year, f.month) || f.hour > 23 || f.minute > 59 || f.second > 61)
    bad();
  if (pos < s.size() && s[pos] == '.') {
    ++pos;
    size_t digits = pos;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') ++pos;
    if (pos == digits || pos == s.size())  // no digits, or no zone after them
      bad();
  }
  if (pos == s.size()) {
    // No zone: the fields are local time.
    X509time local;
    if (!local.set(f.year, f.month, f.day, f.hour, f.minute, f.second > 59 ? 59 : f.second, 0,
                   false))
      bad();
    local.toUtc();
    f = {local.year, local.month,  local.day,
         local.hour, local.minute, f.second > 59 ? f.second : local.second};
    return f;
  }
  char zone = s[pos++];
  if (zone == 'Z') {
    if (pos != s.size()) bad();
    return f;
  }
  if (zone != '+' && zone != '-') bad();
  int offHours = readNumber(s, pos, 2, 2);
  expect(s, pos, ':');
  int offMinutes = readNumber(s, pos, 2, 2);
  if (pos != s.size() || offHours > 23 || offMinutes > 59) bad();
  applyOffset(f, zone == '+' ? 1 : -1, offHours, offMinutes);
  return f;
}

void dateTimeToTime(const std::string& text, X509time& out) {
  UtcFields f = parseDateTime(text);
  if (!out.set(f.year, f.month, f.day, f.hour, f.minute, f.second, 0, true)) bad();
}

void dateTimeToGenTime(const std::string& text, ASNgenTime& out) {
  UtcFields f = parseDateTime(text);
  if (out.set(f.year, f.month, f.day, f.hour, f.minute, f.second) != 1) bad();
}

namespace {
void writeDateTime(int year, int month, int day, int hour, int minute, int second,
                   std::string& out) {
  char buf[64];
  snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", year, month, day, hour, minute,
           second);
  out = buf;
}
}  // namespace

void timeToDateTime(const X509time& time, std::string& out) {
  X509time utc(time);
  utc.toUtc();
  writeDateTime(utc.year, utc.month, utc.day, utc.hour, utc.minute, utc.second, out);
}

void timeToDateTime(const ASNgenTime& time, std::string& out) {
  writeDateTime(time.year, time.month, time.day, time.hour, time.minute, time.second, out);
}

void decimalToInteger(const std::string& text, ASNinteger& out) {
  if (text.empty() || text[0] == '-' || text.size() > MAX_DECIMAL_DIGITS ||
      text.find_first_not_of("0123456789") != std::string::npos)
    bad();
  // Leading zeros would make the number library read octal.
  size_t first = text.find_first_not_of('0');
  std::string digits = first == std::string::npos ? "0" : text.substr(first);
  std::vector<uint8_t> octets;
  try {
    LvN n(digits.c_str());
    unsigned int len = n.getOctetLength();
    if (len == 0) len = 1;  // zero is one 0x00 octet
    octets.resize(len + 1u);
    unsigned int got = n.getOctets(octets.data() + 1, len);
    if (got == 0) bad();
    octets.resize(got + 1u);
  } catch (const TalApiException&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw TalApiException(xmlrc::MEM);
  } catch (const std::exception&) {
    bad();
  }
  const uint8_t* content = octets.data() + 1;
  int length = static_cast<int>(octets.size() - 1);
  if (content[0] & 0x80) {
    octets[0] = 0;
    content = octets.data();
    ++length;
  }
  if (out.setBytes(content, length) < 1) throw TalApiException(xmlrc::MEM);
}

void integerToDecimal(const ASNinteger* value, std::string& out) {
  checkInvariant(value != nullptr, SRC, 553, "0");
  int len = value->byteLength();
  std::vector<uint8_t> bytes(static_cast<size_t>(len > 0 ? len : 1));
  MemFile sink;
  // The content octets: the DER minus its header.
  if (value->encodeContent(&sink) < 0 && len > 0) checkInvariant(false, SRC, 567, "0");
  try {
    LvN n(sink.data(), static_cast<unsigned int>(sink.length()));
    LvConvASCII text = n.toString();
    out.assign(reinterpret_cast<const char*>(text.data()),
               strnlen(reinterpret_cast<const char*>(text.data()), text.length()));
  } catch (const std::exception&) {
    checkInvariant(false, SRC, 567, "0");
  }
}

namespace {

struct KeywordTable {
  std::map<char, std::string> byCode;
  std::map<std::string, char> byKeyword;

  KeywordTable() {
    const struct {
      char code;
      const char* written;
      std::vector<const char*> more;
    } rows[] = {
        {'c', "C", {"2.5.4.6"}},
        {'l', "L", {"2.5.4.7"}},
        {'s', "ST", {"S", "2.5.4.8"}},
        {'o', "O", {"2.5.4.10"}},
        {'u', "OU", {"2.5.4.11"}},
        {'n', "CN", {"2.5.4.3"}},
        {'t', "T", {"Title", "2.5.4.12"}},
        {'p', "STREET", {"2.5.4.9"}},
        {'e', "EMAILADDRESS", {"emailAddress", "E", "1.2.840.113549.1.9.1"}},
        {'w', "SURNAME", {"2.5.4.4"}},
        {'i', "GIVENNAME", {"GivenName", "2.5.4.42"}},
        {'k', "2.5.4.45", {}},
        {'r', "SERIALNUMBER", {"Numer seryjny", "serialNumber", "2.5.4.5"}},
        {'a', "2.5.4.16", {}},
        {'d', "2.5.4.13", {}},
        {'f', "2.5.4.20", {}},
        {'m', "2.5.4.25", {}},
        {'z', "DC", {"0.9.2342.19200300.100.1.25"}},
        {'y', "2.5.4.65", {}},
        {'x', "1.2.840.113549.1.9.2", {}},
        {'q', "1.2.840.113549.1.9.8", {}},
    };
    for (const auto& r : rows) {
      byCode.emplace(r.code, r.written);
      byKeyword.emplace(r.written, r.code);
    }
    for (const auto& r : rows)
      for (const char* k : r.more) byKeyword.emplace(k, r.code);
  }
};

const KeywordTable& keywords() {
  static const KeywordTable table;
  return table;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool lookupDnKeyword(const std::string& keyword, char* code) {
  std::string k = trimmed(keyword);
  if (k.compare(0, 4, "oid.") == 0 || k.compare(0, 4, "OID.") == 0) k = k.substr(4);
  auto it = keywords().byKeyword.find(k);
  if (it == keywords().byKeyword.end()) return false;
  if (code) *code = it->second;
  return true;
}

const char* dnKeywordForCode(char code) {
  auto it = keywords().byCode.find(code);
  return it == keywords().byCode.end() ? nullptr : it->second.c_str();
}

bool dnCodeWritesHex(char code) { return code == 'k' || code == 'a' || code == 'm'; }

std::vector<DnComponent> splitDnText(const std::string& text) {
  // Components at commas outside quotes and not escaped.
  std::vector<std::string> parts;
  std::vector<bool> quoted;
  std::string current;
  bool inQuote = false, hadQuote = false;
  size_t backslashes = 0;
  for (char c : text) {
    if (c == '"' && backslashes % 2 == 0) {
      if (!inQuote && hadQuote) bad();  // a second quoted section
      inQuote = !inQuote;
      hadQuote = true;
    }
    if (c == ',' && !inQuote && backslashes % 2 == 0) {
      parts.push_back(current);
      quoted.push_back(hadQuote);
      current.clear();
      hadQuote = false;
      backslashes = 0;
      continue;
    }
    backslashes = c == '\\' ? backslashes + 1 : 0;
    current.push_back(c);
  }
  if (inQuote) bad();
  parts.push_back(current);
  quoted.push_back(hadQuote);

  std::vector<DnComponent> out;
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    size_t eq = part.find('=');
    if (eq == std::string::npos) bad();
    DnComponent comp{0, std::string(), false};
    if (!lookupDnKeyword(part.substr(0, eq), &comp.code)) bad();
    std::string raw = part.substr(eq + 1);
    if (quoted[i]) {
      size_t first = raw.find('"');
      checkInvariant(first != std::string::npos, SRC, 334, "firstQuote != string::npos");
      // The closing quote is the first one not escaped (an odd run of
      // backslashes before it), as the split above counted them.
      size_t next = first + 1;
      for (size_t run = 0; next < raw.size(); ++next) {
        if (raw[next] == '"' && run % 2 == 0) break;
        run = raw[next] == '\\' ? run + 1 : 0;
      }
      if (next >= raw.size()) next = std::string::npos;
      checkInvariant(next != std::string::npos, SRC, 337, "nextQuote != string::npos");
      comp.value = raw.substr(first + 1, next - first - 1);
    } else if (!raw.empty() && raw[0] == '#') {
      std::string hex = raw.substr(1);
      if (hex.empty() || hex.size() % 2 != 0) bad();
      for (size_t k = 0; k < hex.size(); k += 2) {
        int hi = hexDigit(hex[k]), lo = hexDigit(hex[k + 1]);
        if (hi < 0 || lo < 0) bad();
        comp.value.push_back(static_cast<char>(hi * 16 + lo));
      }
      comp.encoded = true;
    } else {
      for (size_t k = 0; k < raw.size(); ++k) {
        char c = raw[k];
        if (c != '\\') {
          comp.value.push_back(c);
          continue;
        }
        if (k + 1 >= raw.size()) bad();
        char n = raw[k + 1];
        if (strchr(" #,+\"\\<>;", n)) {
          comp.value.push_back(n);
          ++k;
          continue;
        }
        if (k + 2 >= raw.size() || hexDigit(n) < 0 || hexDigit(raw[k + 2]) < 0) bad();
        comp.value.push_back(static_cast<char>(hexDigit(n) * 16 + hexDigit(raw[k + 2])));
        k += 2;
      }
    }
    out.push_back(comp);
  }
  return out;
}

std::string escapeDnValue(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (i == 0 && (c == '#' || c == ' ')) {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c == ' ' && i + 1 == text.size()) {
      out += "\\20";
    } else if (strchr(",+\"\\<>;", c) && c != 0) {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c < 32) {
      char buf[4];
      snprintf(buf, sizeof buf, "\\%02X", c);
      out += buf;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

void parseDN(const std::string& text, DistinguishedName& out, DnMakeAttribute makeAttribute) {
  std::vector<DnComponent> parts = splitDnText(text);
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
    if (it->value.size() > 0x7FFFFFF0u) bad();
    checkInvariant(makeAttribute != nullptr, SRC, 424, "0");
    int rc = makeAttribute(out, it->code, it->value.data(), static_cast<int>(it->value.size()), 1,
                           it->encoded);
    if (rc == 1) throw TalApiException(xmlrc::MEM);
    if (rc == 2) bad();
    checkInvariant(rc == 0, SRC, 424, "0");
  }
}

void dnToString(const DistinguishedName* name, std::string& out) {
  checkInvariant(name != nullptr, SRC, 450, "0");
  out.clear();
  // One walk from the last RDN: reaching each by index walked the name again.
  for (POSITION position = name->GetTailPosition(); position;) {
    const RDname* rdn = name->GetPrev(position);
    // The text has one attribute per RDN: a multi-valued RDN cannot be
    // written without losing attributes, so it is refused.
    const AttributeValue* attribute = rdn && rdn->GetCount() == 1 ? rdn->getAttribute(0) : nullptr;
    if (!attribute) bad();
    std::string oid;
    char code = 0;
    if (!attribute->type.toString(oid) || !lookupDnKeyword(oid, &code))
      bad();  // a type without a keyword
    const char* keyword = dnKeywordForCode(code);
    if (!keyword) bad();
    if (!out.empty()) out += ",";
    out += keyword;
    if (dnCodeWritesHex(code)) {
      std::vector<unsigned char> der;
      if (attribute->value.encodeVector(der) < 1) throw TalApiException(xmlrc::MEM);
      out += "=#";
      for (unsigned char b : der) {
        char hex[3];
        snprintf(hex, sizeof hex, "%02X", b);
        out += hex;
      }
      continue;
    }
    std::string text;
    int rc = dnAppendAttributeValue(text, *attribute, DnTextStyle(), nullptr);
    if (rc == DNTEXT_BAD_VALUE) bad();
    checkInvariant(rc == DNTEXT_OK || rc == DNTEXT_HEX || rc == DNTEXT_OID, SRC, 539, "0");
    out += "=" + escapeDnValue(text);
  }
}

}  // namespace convXml
