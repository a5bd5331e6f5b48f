// Distinguished-name text: the attribute table, its lookups and the parser
// of name texts.
#include "pki/names/dntext.h"

#include "asn1/asnany.h"
#include "base/memfile.h"
#include "base/no_oop.h"
#include "pki/names/dname.h"
#include "pki/common/oids.h"
#include "pki/common/x509time.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

const char* const emailAliases[] = {"email", "e-mail"};
const char* const serialAliases[] = {"serial"};

bool isSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

unsigned char lowerAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

// Case-insensitive (ASCII letters) comparison of a counted text with a
// zero-terminated one, exact length.
bool sameName(const char* text, int length, const char* name) {
  if (!name) return false;
  size_t n = std::strlen(name);
  if (length < 0 || n != static_cast<size_t>(length)) return false;
  for (size_t i = 0; i < n; ++i)
    if (lowerAscii(static_cast<unsigned char>(text[i])) !=
        lowerAscii(static_cast<unsigned char>(name[i])))
      return false;
  return true;
}

int textLength(const char* text, int length) {
  if (!text) return 0;
  return length < 0 ? static_cast<int>(std::strlen(text)) : length;
}

void trim(const char*& text, int& length) {
  while (length > 0 && isSpace(static_cast<unsigned char>(*text))) {
    ++text;
    --length;
  }
  while (length > 0 && isSpace(static_cast<unsigned char>(text[length - 1]))) --length;
}

// Scans for separators of `set` outside quotes; a backslash outside quotes
// makes the next character literal. Calls found(position) for each; stops
// when it answers false.
template <class F>
void scanSeparators(const char* text, int length, const char* set, F found) {
  if (!set) set = ";,";
  bool quoted = false;
  for (int i = 0; i < length; ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"') quoted = false;
      continue;
    }
    if (c == '\\') {
      ++i;
      continue;
    }
    if (c == '"') {
      quoted = true;
      continue;
    }
    if (c != 0 && std::strchr(set, c) && !found(i)) return;
  }
}

bool isSpecial(char c) {
  return c == '"' || c == '#' || c == '+' || c == ',' || c == ';' || c == '<' || c == '=' ||
         c == '>';
}

// The value-level separators of attribute flags.
void valueSeparatorChars(uint32_t g, char out[7]) {
  int k = 0;
  if (g & 0x400000) out[k++] = '$';
  if (g & 0x200000) out[k++] = '|';
  if (g & 0x40000) out[k++] = ',';
  if (g & 0x80000) out[k++] = ';';
  if (g & 0x1000000) out[k++] = '\n';
  if (g & 0x100000) out[k++] = '+';
  out[k] = 0;
}

void dnLevelSeparatorChars(uint32_t f, char out[7]) {
  int k = 0;
  if (f & 0x800) out[k++] = ',';
  if (f & 0x1000) out[k++] = ';';
  if (f & 0x4000) out[k++] = '\n';
  if (f & 0x8000) out[k++] = '|';
  if (f & 0x2000) out[k++] = '+';
  if (f & 0x10000) out[k++] = '/';
  out[k] = 0;
}

bool hexDigits(const char* text, int length, bool spacesAllowed, std::vector<unsigned char>& out) {
  std::string digits;
  digits.reserve(static_cast<size_t>(length));
  for (int i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (isSpace(c)) {
      if (!spacesAllowed) return false;
      continue;
    }
    digits.push_back(static_cast<char>(c));
  }
  // Whole octets only: an odd digit count is not a hexadecimal value.
  if (digits.empty() || digits.size() % 2 != 0) return false;
  out.resize(digits.size() / 2);
  int32_t n = hexToBytes(digits.data(), static_cast<int32_t>(digits.size()), out.data(),
                         static_cast<int32_t>(out.size()));
  return n == static_cast<int32_t>(out.size());
}

enum class Unescaped { Fail, Text, Hex, MaybeHex };

// Value unescaping under attribute flags g. Text results go to `text`;
// hexadecimal results to `octets`.
Unescaped unescapeValue(const char* s, int n, uint32_t g, std::string& text,
                        std::vector<unsigned char>& octets) {
  text.clear();
  octets.clear();
  while (n > 0 && isSpace(static_cast<unsigned char>(*s))) {
    ++s;
    --n;
  }
  while (n > 0 && isSpace(static_cast<unsigned char>(s[n - 1]))) {
    // An escaped trailing space belongs to the value.
    if ((g & 0x10) && s[n - 1] == ' ' && n >= 2 && s[n - 2] == '\\') break;
    --n;
  }
  bool quoted = false;
  if ((g & 0x100) && n >= 2 && s[0] == '"' && s[n - 1] == '"') {
    ++s;
    n -= 2;
    quoted = true;
  }
  if (n == 0) return Unescaped::Text;
  const bool spaces = (g & 0x2000) != 0;
  if (!quoted && (g & 0x1C00)) {
    if (s[0] == '#')
      return hexDigits(s + 1, n - 1, spaces, octets) ? Unescaped::Hex : Unescaped::Fail;
    if ((g & 0x4000) && hexDigits(s, n, spaces, octets)) return Unescaped::MaybeHex;
    octets.clear();
  }
  text.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    char c = s[i];
    if (c != '\\') {
      if (isSpecial(c) && (g & 0x100) && !quoted) return Unescaped::Fail;
      text.push_back(c);
      continue;
    }
    if ((g & 0x60) && i + 2 < n) {
      int v = hexPairValue(s[i + 1], s[i + 2]);
      if (v >= 0) {
        text.push_back(static_cast<char>(v));
        i += 2;
        continue;
      }
    }
    if ((g & 0x80) && i + 3 < n && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
      int v = hexPairValue(s[i + 2], s[i + 3]);
      if (v >= 0) {
        text.push_back(static_cast<char>(v));
        i += 3;
        continue;
      }
    }
    if ((g & 0x10) && i + 1 < n && (isSpecial(s[i + 1]) || s[i + 1] == '\\' || s[i + 1] == ' ')) {
      text.push_back(s[i + 1]);
      ++i;
      continue;
    }
    text.push_back(c);
  }
  return Unescaped::Text;
}

// Header of the encoding at p (n octets there) in DER form: a low tag number
// and a definite length in its shortest form, the content within the n
// octets. False otherwise.
bool derHeader(const unsigned char* p, size_t n, size_t& header, size_t& length) {
  if (n < 2 || (p[0] & 0x1F) == 0x1F) return false;
  length = p[1];
  header = 2;
  if (length & 0x80) {
    const size_t k = length & 0x7F;
    // Indefinite (k 0) is BER; a longer form than needed is too.
    if (k == 0 || k > 4 || n < 2 + k || p[2] == 0) return false;
    length = 0;
    for (size_t i = 0; i < k; ++i) length = (length << 8) | p[2 + i];
    if (length < 0x80) return false;
    header += k;
  }
  return length <= n - header;
}

// A series of DER encodings filling [p, p + n), constructed contents alike
// down to the decoders' nesting bound. A value is kept as raw octets, so a
// BER form deep inside would otherwise stay in the name as given.
bool isDerSeries(const unsigned char* p, size_t n, int depth) {
  while (n > 0) {
    size_t header, length;
    if (!derHeader(p, n, header, length)) return false;
    if ((p[0] & 0x20) && (depth >= ASN_MAX_DEPTH || !isDerSeries(p + header, length, depth + 1)))
      return false;
    p += header + length;
    n -= header + length;
  }
  return true;
}

// Exactly one DER value, written back octet for octet as it was given.
bool decodeWholeDer(const std::vector<unsigned char>& octets, ASNany& value) {
  if (octets.size() < 2 || !dnIsWholeDerValue(octets.data(), static_cast<int>(octets.size())))
    return false;
  ASNany decoded;
  if (decoded.decodeVector(octets) != static_cast<int>(octets.size()) || decoded.tag == TAG_ANY)
    return false;
  std::vector<unsigned char> again;
  if (decoded.encodeVector(again) <= 0 || again != octets) return false;
  value = decoded;
  return true;
}

bool setString(ASNany& value, int tag, const std::string& text) {
  if (tag == 3) {
    // A BIT STRING's content starts with its unused-bits count.
    std::vector<unsigned char> bits(text.size() + 1, 0);
    std::memcpy(bits.data() + 1, text.data(), text.size());
    return value.setEncoding(3, bits.data(), static_cast<int>(bits.size())) == 1;
  }
  return value.setEncoding(static_cast<unsigned char>(tag),
                           reinterpret_cast<const unsigned char*>(text.data()),
                           static_cast<int>(text.size())) == 1;
}

// The multi-valued form: a SEQUENCE of strings. False when the split does
// not apply or a part is not acceptable.
bool multiValue(const char* s, int n, bool preferUtf8, uint32_t g, ASNany& value) {
  char set[7];
  valueSeparatorChars(g, set);
  if (!set[0] || dnFindSeparator(s, n, set) < 0) return false;
  std::vector<int> cuts;
  bool tooMany = false;
  scanSeparators(s, n, set, [&](int i) {
    cuts.push_back(i);
    tooMany = cuts.size() >= static_cast<size_t>(DN_MAX_VALUE_PARTS);
    return !tooMany;
  });
  if (tooMany) return false;
  cuts.push_back(n);
  ASNsequenceList<ASNany> parts;
  int start = 0;
  for (int cut : cuts) {
    std::string text;
    std::vector<unsigned char> octets;
    Unescaped u = unescapeValue(s + start, cut - start, g, text, octets);
    // A part that merely looks hexadecimal stays the text it is.
    if (u == Unescaped::MaybeHex)
      u = unescapeValue(s + start, cut - start, g & ~0x1C00u, text, octets);
    start = cut + 1;
    if (u == Unescaped::Fail) return false;
    std::unique_ptr<ASNany> part(new (std::nothrow) ASNany(TAG_ANY));
    if (!part) return false;
    if (u == Unescaped::Hex) {
      // As for a whole value: a "#" part is one whole DER value or nothing.
      if (!decodeWholeDer(octets, *part)) return false;
    } else {
      int tag;
      if (preferUtf8)
        tag = dnIsUtf8(text.data(), static_cast<int>(text.size())) ? 12 : 0;
      else if (dnIsPrintable(text.data(), static_cast<int>(text.size())))
        tag = 19;
      else
        tag = dnIsUtf8(text.data(), static_cast<int>(text.size())) ? 12 : 0;
      if (tag == 0 || !setString(*part, tag, text)) return false;
    }
    if (parts.append(part.get()) != 1) return false;
    part.release();
  }
  std::vector<unsigned char> der;
  ASNany sequence;
  if (parts.encodeVector(der) <= 0 || sequence.decodeVector(der) != static_cast<int>(der.size()))
    return false;
  value = sequence;
  return true;
}

// One loop of the name and RDN parsers: the components of [text, text + n)
// separated by characters of `set`, where a component runs up to the last
// separator before the next "=" that has a separator in front of it.
template <class F>
bool forEachComponent(const char* text, int n, const char* set, int maxComponents, F component) {
  int p = 0;
  int count = 0;
  while (p < n) {
    int eq = dnFindSeparator(text + p, n - p, "=");
    if (eq < 0) return false;
    eq += p;
    int end = n;
    int lastSep = -1;
    bool quoted = false;
    for (int i = eq + 1; i < n; ++i) {
      char c = text[i];
      if (quoted) {
        if (c == '"') quoted = false;
        continue;
      }
      if (c == '\\') {
        ++i;
        continue;
      }
      if (c == '"') {
        quoted = true;
      } else if (c == '=') {
        if (lastSep >= 0) {
          end = lastSep;
          break;
        }
      } else if (c != 0 && set[0] && std::strchr(set, c)) {
        lastSep = i;
      }
    }
    if (++count > maxComponents) return false;
    if (!component(text + p, end - p)) return false;
    p = end + 1;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------- the table

const DnAttributeRecord* dnAttributeTable() {
  // Built on first use: the OID constants of another translation unit are
  // certainly constructed by then.
  static const DnAttributeRecord table[DN_ATTRIBUTE_COUNT] = {
      {0, &id_at_countryName, "2.5.4.6", 2, "countryName", "C", "C", "country", "kraj", "C",
       "countryName", "C", 2, nullptr, 0},
      {1, &id_at_localityName, "2.5.4.7", 128, "localityName", "L", "L", "locality", "miejscowość",
       "L", "localityName", "L", 1, nullptr, 0},
      {2, &id_at_stateOrProvinceName, "2.5.4.8", 128, "stateOrProvinceName", "ST", "ST", "state",
       "województwo", "ST", "stateOrProvinceName", "S", 1, nullptr, 0},
      {3, &id_at_organizationName, "2.5.4.10", 64, "organizationName", "O", "O", "organization",
       "organizacja", "O", "organizationName", "O", 1, nullptr, 0},
      {4, &id_at_organizationalUnitName, "2.5.4.11", 64, "organizationalUnitName", "OU", "OU",
       "organizational unit", "jednostka organizacyjna", "OU", "organizationalUnitName", "OU", 1,
       nullptr, 0},
      {5, &id_at_commonName, "2.5.4.3", 64, "commonName", "CN", "CN", "common name",
       "nazwa powszechna", "CN", "commonName", "CN", 1, nullptr, 0},
      {6, &id_at_title, "2.5.4.12", 64, "title", "T", nullptr, "title", "tytuł", nullptr, "title",
       "T", 1, nullptr, 0},
      {7, &id_at_postalAddress, "2.5.4.16", 150, "postalAddress", nullptr, nullptr,
       "postal address", "adres pocztowy", nullptr, nullptr, nullptr, 10, nullptr, 0},
      {8, &pkcs_9_at_emailAddress, "1.2.840.113549.1.9.1", 128, "emailAddress", "E", nullptr,
       "e-mail address", "adres e-mail", nullptr, "emailAddress", "E", 4, emailAliases, 2},
      {9, &id_at_surname, "2.5.4.4", 40, "surname", "SN", nullptr, "surname", "nazwisko", "SN",
       "surname", "SN", 1, nullptr, 0},
      {10, &id_at_givenName, "2.5.4.42", 16, "givenName", "GN", nullptr, "given name", "imię", "GN",
       "givenName", "G", 1, nullptr, 0},
      {11, &id_at_uniqueIdentifier, "2.5.4.45", 128, "uniqueIdentifier", nullptr, nullptr,
       "unique identifier", "unikalny identyfikator", nullptr, "x500UniqueIdentifier", nullptr, 8,
       nullptr, 0},
      {12, &id_at_serialNumber, "2.5.4.5", 64, "serialNumber", "SERIALNUMBER", nullptr,
       "serial number", "numer seryjny", nullptr, "serialNumber", "SERIALNUMBER", 2, serialAliases,
       1},
      {13, &id_at_description, "2.5.4.13", 128, "description", nullptr, nullptr, "description",
       "opis", nullptr, "description", "Description", 1, nullptr, 0},
      {14, &id_at_telephoneNumber, "2.5.4.20", 32, "phone", "PHONE", nullptr, "phone number",
       "numer telefonu", nullptr, nullptr, "Phone", 2, nullptr, 0},
      {15, &id_at_internationalISDNNumber, "2.5.4.25", 32, "ISDNPhone", nullptr, nullptr,
       "ISDN phone number", "numer telefonu ISDN", nullptr, nullptr, nullptr, 6, nullptr, 0},
      {16, &domainComponent, "0.9.2342.19200300.100.1.25", 128, "domainComponent", "DC", "DC",
       "domain component", "nazwa domeny", "DC", "domainComponent", "DC", 4, nullptr, 0},
      {17, &id_at_pseudonym, "2.5.4.65", 128, "pseudonym", nullptr, nullptr, "pseudonym",
       "pseudonim", nullptr, "pseudonym", nullptr, 1, nullptr, 0},
      {18, &id_at_streetAddress, "2.5.4.9", 128, "streetAddress", "STREET", "STREET",
       "street address", "adres ulicy", nullptr, "streetAddress", "STREET", 1, nullptr, 0},
      {19, &pkcs_9_at_unstructuredName, "1.2.840.113549.1.9.2", 0, "unstructuredName", nullptr,
       nullptr, "unstructured name", "nazwa bez struktury", nullptr, "unstructuredName",
       "Unstructured Name", 9, nullptr, 0},
      {20, &pkcs_9_at_unstructuredAddress, "1.2.840.113549.1.9.8", 0, "unstructuredAddress",
       nullptr, nullptr, "unstructured address", "adres bez struktury", nullptr,
       "unstructuredAddress", "Unstructured Addresss", 1, nullptr, 0},
      {21, &userid, "0.9.2342.19200300.100.1.1", 0, "userId", "UID", "UID", "user identifier",
       "identyfikator użytkownika", "UID", "userId", nullptr, 1, nullptr, 0},
      {22, &rfc822Mailbox, "0.9.2342.19200300.100.1.3", 0, "mail", "MAIL", nullptr, "mail",
       "adres poczty e-mail", "mail", "rfc822Mailbox", nullptr, 4, nullptr, 0},
      {23, &id_at_dnQualifier, "2.5.4.46", 0, "dnQualifier", nullptr, nullptr, "dn qualifier",
       "kwalifikator DN", nullptr, "dnQualifier", "dnQualifier", 2, nullptr, 0},
  };
  return table;
}

namespace {

// The Polish labels as UTF-8. The table keeps them in Windows-1250 like every
// text of the system, but name texts are UTF-8 (their values are checked as
// such): a keyword with Polish letters is matched in either form.
const char* polishLabelUtf8(int row) {
  static const std::vector<std::string> labels = [] {
    std::vector<std::string> out(DN_ATTRIBUTE_COUNT);
    const DnAttributeRecord* table = dnAttributeTable();
    for (int i = 0; i < DN_ATTRIBUTE_COUNT; ++i) {
      const char* label = table[i].polishLabel;
      int32_t n = label ? cp1250ToUtf8(label, -1, nullptr, 0) : 0;
      if (n > 0) {
        out[static_cast<size_t>(i)].assign(static_cast<size_t>(n), '\0');
        if (cp1250ToUtf8(label, -1, &out[static_cast<size_t>(i)][0], n) != n)
          out[static_cast<size_t>(i)].clear();
      }
    }
    return out;
  }();
  const std::string& label = labels[static_cast<size_t>(row)];
  return label.empty() ? nullptr : label.c_str();
}

}  // namespace

const DnAttributeRecord* dnAttributeById(int id) {
  const DnAttributeRecord* table = dnAttributeTable();
  if (id >= 0 && id < DN_ATTRIBUTE_COUNT && table[id].id == id) return &table[id];
  for (int i = 0; i < DN_ATTRIBUTE_COUNT; ++i)
    if (table[i].id == id) return &table[i];
  return nullptr;
}

const DnAttributeRecord* dnAttributeByOid(const ASNobjectId& oid) {
  const DnAttributeRecord* table = dnAttributeTable();
  for (int i = 0; i < DN_ATTRIBUTE_COUNT; ++i)
    if (*table[i].oid == oid) return &table[i];
  return nullptr;
}

int dnAttributeIdByOid(const ASNobjectId& oid) {
  const DnAttributeRecord* row = dnAttributeByOid(oid);
  return row ? row->id : -1;
}

const DnAttributeRecord* dnAttributeByOidText(const char* text, int length) {
  length = textLength(text, length);
  const DnAttributeRecord* table = dnAttributeTable();
  for (int i = 0; i < DN_ATTRIBUTE_COUNT; ++i)
    if (sameName(text, length, table[i].oidText)) return &table[i];
  return nullptr;
}

const DnAttributeRecord* dnAttributeByName(const char* name, int length, int style) {
  if (!name) return nullptr;
  length = textLength(name, length);
  if (style == 8) return dnAttributeByOidText(name, length);
  const DnAttributeRecord* table = dnAttributeTable();
  if (style >= 0) {
    if (style > 10) return nullptr;
    for (int i = 0; i < DN_ATTRIBUTE_COUNT; ++i) {
      const DnAttributeRecord& r = table[i];
      const char* column = nullptr;
      switch (style) {
        case 0:
          column = r.shortName ? r.shortName : r.longName;
          break;
        case 1:
          column = r.longName;
          break;
        case 2:
          column = r.polishLabel;
          break;
        case 3:
          column = r.ldapShortName ? r.ldapShortName : r.ldapLongName;
          break;
        case 4:
          column = r.shortName;
          break;
        case 5:
          column = r.altShortName;
          break;
        case 6:
          column = r.englishLabel;
          break;
        case 7:
          column = r.displayName;
          break;
        case 9:
          column = r.ldapLongName;
          break;
        case 10:
          column = r.ldapShortName;
          break;
        default:
          break;
      }
      if (sameName(name, length, column) ||
          (style == 2 && sameName(name, length, polishLabelUtf8(i))))
        return &r;
    }
    return nullptr;
  }
  for (int i = 0; i < DN_ATTRIBUTE_COUNT; ++i) {
    const DnAttributeRecord& r = table[i];
    for (const char* column :
         {r.longName, r.englishLabel, r.polishLabel, polishLabelUtf8(i), r.shortName,
          r.altShortName, r.ldapShortName, r.ldapLongName, r.displayName})
      if (sameName(name, length, column)) return &r;
    for (int k = 0; k < r.aliasCount; ++k)
      if (sameName(name, length, r.aliases[k])) return &r;
  }
  return dnAttributeByOidText(name, length);
}

// ---------------------------------------------------------------- text helpers

int dnFindAnyOf(const char* text, int length, const char* set) {
  length = textLength(text, length);
  if (!set) return -1;
  for (int i = 0; i < length; ++i)
    if (text[i] != 0 && std::strchr(set, text[i])) return i;
  return -1;
}

int dnFindSeparator(const char* text, int length, const char* set) {
  length = textLength(text, length);
  int at = -1;
  scanSeparators(text, length, set, [&](int i) {
    at = i;
    return false;
  });
  return at;
}

int dnFindLastSeparator(const char* text, int length, const char* set) {
  length = textLength(text, length);
  int at = -1;
  scanSeparators(text, length, set, [&](int i) {
    at = i;
    return true;
  });
  return at;
}

void dnSeparatorChars(uint32_t f, char out[6]) {
  int k = 0;
  if (f & 0x40000) out[k++] = ',';
  if (f & 0x80000) out[k++] = ';';
  if (f & 0x400000) out[k++] = '\n';
  if (f & 0x200000) out[k++] = '|';
  if (f & 0x100000) out[k++] = '+';
  out[k] = 0;
}

uint32_t dnStyleToSeparatorBits(uint32_t f) {
  uint32_t g = f & 0x3FFFF;
  if (f & 0x2000000) g |= 0x40000;
  if (f & 0x4000000) g |= 0x80000;
  if (f & 0x8000000) g |= 0x100000 | 0x200000;
  if (f & 0x10000000) g |= 0x400000;
  if (f & 0x20000000) g |= 0x1000000;
  if (f & 0x40000000) g |= 0x2000000;
  return g;
}

uint32_t dnRdnFlags(uint32_t f) {
  static const uint32_t escapes[4] = {0, 0x10, 0x60, 0x70};
  uint32_t g = escapes[f & 3];
  if (f & 0x4) g |= 0x80;
  if (f & 0x8) g |= 0x100;
  if (f & 0x10) g |= 0x200;
  if (f & 0x20) g |= 0x1400;
  if (f & 0x40) g &= ~0x400u;
  if (f & 0x80) g |= 0x4000;
  if (!(f & 0x100)) g |= 0x2000;
  if (f & 0x20000) g |= 0x100000;
  g |= f & (0x40000 | 0x80000);
  static const uint32_t high[9] = {0x400000,  0x200000,  0x10000000, 0x8000000, 0x1000000,
                                   0x2000000, 0x4000000, 0x20000000, 0x40000000};
  for (int bit = 20; bit <= 28; ++bit)
    if (f & (1u << bit)) g |= high[bit - 20];
  g |= (f & 0x40000000) ? 5 : 15;
  return g;
}

bool dnIsWholeDerValue(const unsigned char* data, int length) {
  size_t header, content;
  const size_t n = length > 0 ? static_cast<size_t>(length) : 0;
  return data && derHeader(data, n, header, content) && header + content == n &&
         isDerSeries(data, n, 0);
}

bool dnIsPrintable(const char* value, int length) {
  for (int i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(value[i]);
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              (c != 0 && std::strchr(" '()+,-./:=?", c));
    if (!ok) return false;
  }
  return true;
}

bool dnIsNumeric(const char* value, int length) {
  for (int i = 0; i < length; ++i)
    if (!((value[i] >= '0' && value[i] <= '9') || value[i] == ' ')) return false;
  return true;
}

bool dnIsIA5(const char* value, int length) {
  for (int i = 0; i < length; ++i)
    if (static_cast<unsigned char>(value[i]) >= 128) return false;
  return true;
}

bool dnIsUtf8(const char* value, int length) {
  return length == 0 || utf8Validate(value, length) >= 0;
}

int hexPairValue(char high, char low) {
  auto nibble = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  int h = nibble(high);
  int l = nibble(low);
  return (h < 0 || l < 0) ? -1 : (h << 4) | l;
}

int stringTypeFor(int type, const char* value, int length, bool preferUtf8, bool strict) {
  if (!value) length = 0;
  const bool printable = dnIsPrintable(value, length);
  switch (type) {
    case 1:
    case 9:
      if (printable && !preferUtf8) return 19;
      if (type == 9 && !printable && dnIsIA5(value, length)) return 22;
      return (!strict || dnIsUtf8(value, length)) ? 12 : 0;
    case 2:
      return (!strict || (length > 0 && printable)) ? 19 : 0;
    case 3:
      return (!strict || dnIsUtf8(value, length)) ? 12 : 0;
    case 4:
      return (!strict || dnIsIA5(value, length)) ? 22 : 0;
    case 5:
      return (!strict || length % 2 == 0) ? 30 : 0;
    case 6:
      return (!strict || (length > 0 && dnIsNumeric(value, length))) ? 18 : 0;
    case 7:
      return 4;
    case 8:
      return 3;
    case 10:
      return 48;
    case 11:
      return (!strict || X509time::classifyTimeText(value, length) == 1) ? 24 : 0;
    case 12: {
      int kind = X509time::classifyTimeText(value, length);
      if (kind == 0) return 23;
      if (kind == 1) return 24;
      return strict ? 0 : 23;
    }
    case 13:
      return (!strict || length > 0) ? 6 : 0;
    case 14:
      return 2;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------- the parsers

bool AttributeValue::fromText(const char* text, int length, bool preferUtf8, uint32_t flags) {
  length = textLength(text, length);
  const char* eq =
      length > 0 ? static_cast<const char*>(std::memchr(text, '=', static_cast<size_t>(length)))
                 : nullptr;
  if (!eq) return false;
  const char* keyword = text;
  int keywordLength = static_cast<int>(eq - text);
  const char* v = eq + 1;
  int n = length - keywordLength - 1;
  trim(keyword, keywordLength);
  // The value's end is trimmed by the unescaping, which keeps an escaped space.
  while (n > 0 && isSpace(static_cast<unsigned char>(*v))) {
    ++v;
    --n;
  }
  if (keywordLength == 0) return false;

  const int style = static_cast<int>(flags & 0xF);
  const DnAttributeRecord* row =
      dnAttributeByName(keyword, keywordLength, style == 15 ? -1 : style);
  ASNobjectId oid;
  if (row) {
    oid = *row->oid;
  } else {
    const char* dotted = keyword;
    int dottedLength = keywordLength;
    if (dottedLength > 4 && sameName(dotted, 4, "oid:")) {
      dotted += 4;
      dottedLength -= 4;
      trim(dotted, dottedLength);
    }
    if (dottedLength == 0 || dottedLength > 1024) return false;
    for (int i = 0; i < dottedLength; ++i)
      if (!((dotted[i] >= '0' && dotted[i] <= '9') || dotted[i] == '.')) return false;
    if (oid.set(std::string(dotted, static_cast<size_t>(dottedLength)).c_str(), ".") != 1)
      return false;
    row = dnAttributeByOid(oid);
  }
  int stringType = row ? row->stringType : 1;

  ASNany parsed;
  const uint32_t valueSeparators = 0x400000 | 0x200000 | 0x40000 | 0x80000 | 0x1000000 | 0x100000;
  bool done = false;
  if ((flags & valueSeparators) && ((flags & 0x2000000) || stringType == 10))
    done = multiValue(v, n, preferUtf8, flags, parsed);
  if (!done) {
    if (stringType == 10) stringType = 1;
    std::string s;
    std::vector<unsigned char> octets;
    Unescaped u = unescapeValue(v, n, flags, s, octets);
    if (u == Unescaped::Fail) return false;
    if (u == Unescaped::Hex) {
      // A "#" value is one whole DER encoding or nothing.
      if (!decodeWholeDer(octets, parsed)) return false;
      done = true;
    } else if (u == Unescaped::MaybeHex) {
      if (decodeWholeDer(octets, parsed))
        done = true;
      else if (flags & 0x400)
        return false;
      else
        // Text that merely looks hexadecimal stays the text it is.
        unescapeValue(v, n, flags & ~0x1C00u, s, octets);
    }
    if (!done) {
      int tag = stringTypeFor(stringType, s.data(), static_cast<int>(s.size()), preferUtf8, true);
      if (tag == 0 || !setString(parsed, tag, s)) return false;
    }
  }
  type = oid;
  value = parsed;
  return true;
}

bool RDname::fromText(const char* text, int length, bool preferUtf8, uint32_t flags) {
  length = textLength(text, length);
  char set[6];
  dnSeparatorChars(flags, set);
  const uint32_t attributeFlags = dnStyleToSeparatorBits(flags);
  clear();
  bool ok = forEachComponent(text, length, set, DN_MAX_RDN_ATTRIBUTES, [&](const char* c, int n) {
    std::unique_ptr<AttributeValue> attribute(new (std::nothrow) AttributeValue(0x30));
    if (!attribute || !attribute->fromText(c, n, preferUtf8, attributeFlags)) return false;
    if (append(attribute.get()) != 1) return false;
    attribute.release();
    return true;
  });
  if (!ok || GetCount() == 0) {
    clear();
    return false;
  }
  return true;
}

bool DistinguishedName::fromText(const char* text, int length, uint32_t flags) {
  clear();
  length = textLength(text, length);
  if (length == 0) return true;
  int p = 0;
  if ((flags & 0x10000) && text[0] == '/') {
    if (length == 1) return false;
    p = 1;
  }
  char set[7];
  dnLevelSeparatorChars(flags, set);
  const uint32_t rdnFlags = dnRdnFlags(flags);
  const bool preferUtf8 = (flags & DN_PREFER_UTF8) != 0;
  bool ok = forEachComponent(text + p, length - p, set, DN_MAX_RDNS, [&](const char* c, int n) {
    std::unique_ptr<RDname> rdn(new (std::nothrow) RDname());
    if (!rdn || !rdn->fromText(c, n, preferUtf8, rdnFlags)) return false;
    if (append(rdn.get()) != 1) return false;
    rdn.release();
    return true;
  });
  if (!ok) {
    clear();
    return false;
  }
  if (flags & DN_REVERSE) reverse();
  return true;
}
