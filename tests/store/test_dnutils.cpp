// Name text utilities: values and names rendered from OpenSSL-made subjects
// compared with OpenSSL's RFC 2253 text, read back through the name parser;
// value, buffer, serial-number and attribute-builder cases.
#include "store/crtstore.h"
#include "store/dnutils.h"

#include "pki/names/dntext.h"
#include "pki/common/oids.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes readFile(const std::string& name) {
  std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/store/" + name, std::ios::binary);
  EXPECT_TRUE(f.good()) << name;
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

Bytes hexBytes(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string hexText(const Bytes& bytes) {
  std::string out;
  char two[3];
  for (unsigned char b : bytes) {
    std::snprintf(two, sizeof two, "%02X", b);
    out += two;
  }
  return out;
}

TEST(DnUtilsOpenssl, ValuesMatchOpensslAndNamesReadBack) {
  struct Fixture {
    const char* name;
    int nameCode;
  } fixtures[] = {{"company.utf8only", DNTEXT_OID},
                  {"company.default", DNTEXT_OID},
                  {"domain.utf8only", DNTEXT_OK},
                  {"domain.default", DNTEXT_OK}};
  for (const Fixture& fx : fixtures) {
    DistinguishedName name;
    Bytes der = readFile(std::string(fx.name) + ".der");
    ASSERT_EQ(static_cast<int>(der.size()), name.decodeVector(der)) << fx.name;
    Bytes text = readFile(std::string(fx.name) + ".rfc2253.txt");
    std::string line(text.begin(), std::find(text.begin(), text.end(), '\n'));
    std::vector<std::string> parts;
    std::stringstream split(line);
    for (std::string part; std::getline(split, part, ',');) parts.push_back(part);
    std::reverse(parts.begin(), parts.end());
    ASSERT_EQ(static_cast<int>(parts.size()), name.attributeCount()) << fx.name;
    for (int i = 0; i < name.attributeCount(); ++i) {
      const AttributeValue* attribute = name.getAttribute(i);
      std::string expected =
          parts[static_cast<size_t>(i)].substr(parts[static_cast<size_t>(i)].find('=') + 1);
      char buffer[256];
      int32_t length = sizeof buffer;
      EXPECT_EQ(DNTEXT_OK, dnValueToText(attribute->value, buffer, &length));
      if (expected[0] == '#') {
        Bytes valueDer;
        attribute->value.encodeVector(valueDer);
        EXPECT_EQ(expected.substr(1), hexText(valueDer));
      } else {
        EXPECT_EQ(expected, std::string(buffer, static_cast<size_t>(length)))
            << fx.name << " " << i;
      }
    }
    int32_t length = 0;
    EXPECT_EQ(DNTEXT_OK, dnToTextBuffer(name, nullptr, &length, false, true, ';'));
    std::vector<char> buffer(static_cast<size_t>(length));
    EXPECT_EQ(fx.nameCode, dnToTextBuffer(name, buffer.data(), &length, false, true, ';'))
        << fx.name;
    // The long labels (the report's) read back through the name parser.
    std::string full;
    ASSERT_TRUE(dnToString(name, ';', full));
    DistinguishedName back;
    ASSERT_TRUE(back.fromText(full.data(), static_cast<int>(full.size()), 0x1000 | DN_PREFER_UTF8))
        << full;
    EXPECT_TRUE(back == name) << full;
    char* report = nullptr;
    ASSERT_TRUE(dnToText(name, report, false, false));
    // The report text is Windows-1250 throughout, labels and values.
    if (std::strncmp(fx.name, "company", 7) == 0) {
      EXPECT_NE(std::string::npos, std::string(report).find("; Miejscowo\x9C\xE6=\xA3\xF3"
                                                            "d\x9F; "));
    }
    delete[] report;
  }
}

struct ValueCase {
  const char* der;
  const char* text;
  int code;
};

TEST(DnUtils, ValueTextsAndBuffers) {
  const ValueCase cases[] = {
      {"030300ABCD", "ABCD", DNTEXT_OK},
      {"04026162", "ab", DNTEXT_OK},
      {"1E0400610142", "a\xC5\x82", DNTEXT_OK},
      {"1E03006100", "006100", DNTEXT_HEX},
      {"020105", "05", DNTEXT_HEX},
      {"0C026100", "6100", DNTEXT_HEX},
      {"1300", "", DNTEXT_OK},
      {"1A0161", "61", DNTEXT_HEX},
  };
  for (const ValueCase& c : cases) {
    ASNany value;
    ASSERT_GT(value.decodeVector(hexBytes(c.der)), 0) << c.der;
    int32_t needed = 0;
    EXPECT_EQ(DNTEXT_OK, dnValueToText(value, nullptr, &needed));
    EXPECT_EQ(static_cast<int32_t>(std::strlen(c.text)) + 1, needed) << c.der;
    std::vector<char> exact(static_cast<size_t>(needed));
    int32_t length = needed - 1;
    EXPECT_EQ(DNTEXT_BUFFER, dnValueToText(value, exact.data(), &length)) << c.der;
    EXPECT_EQ(needed, length);
    EXPECT_EQ(c.code, dnValueToText(value, exact.data(), &length)) << c.der;
    EXPECT_STREQ(c.text, exact.data());
  }

  // A postal address is flattened; one that is no SEQUENCE stops the name.
  DistinguishedName name;
  ASNany lines, plain, custom;
  ASSERT_GT(lines.decodeVector(hexBytes("300F1305756C2E2041130630302D393530")), 0);
  ASSERT_GT(plain.decodeVector(hexBytes("1303756C2E")), 0);
  ASSERT_GT(custom.decodeVector(hexBytes("0C0178")), 0);
  ASSERT_TRUE(name.addAttribute(id_at_postalAddress, lines));
  ASSERT_TRUE(name.addAttribute(ASNobjectId("1.2.3.4"), custom));
  int32_t length = 64;
  char buffer[64];
  uint32_t flags = 0;
  EXPECT_EQ(DNTEXT_OK, dnAttributeValueToText(*name.getAttribute(0), buffer, &length, &flags));
  EXPECT_STREQ("ul. A,00-950", buffer);
  length = sizeof buffer;
  EXPECT_EQ(DNTEXT_OID, dnAttributeValueToText(*name.getAttribute(1), buffer, &length, &flags));
  EXPECT_EQ(DNTEXT_FLAG_UNKNOWN_TYPE, flags);
  length = sizeof buffer;
  EXPECT_EQ(DNTEXT_OID, dnToTextBuffer(name, buffer, &length, true, true, ';'));
  EXPECT_STREQ("A=ul. A,00-950\r\n1.2.3.4=x", buffer);
  ASSERT_TRUE(name.addAttribute(id_at_postalAddress, plain));
  length = sizeof buffer;
  EXPECT_EQ(DNTEXT_BAD_VALUE, dnToTextBuffer(name, buffer, &length, false, true, ';'));
  char* text = nullptr;
  EXPECT_FALSE(dnToText(name, text, false, false));
}

TEST(DnUtils, HexSerialsAndTable) {
  char hex[5];
  const uint8_t bytes[] = {0x0A, 0xFF};
  bytesToHex(bytes, 2, hex);
  EXPECT_STREQ("0AFF", hex);
  struct Serial {
    const char* der;
    const char* text;
  } serials[] = {
      {"02020080", "80"}, {"020100", "00"}, {"02020102", "0102"}, {"0203000001", "0001"}};
  for (const Serial& s : serials) {
    ASNinteger integer;
    ASSERT_GT(integer.decodeVector(hexBytes(s.der)), 0);
    std::string out;
    serialToHex(integer, out);
    EXPECT_EQ(s.text, out) << s.der;
  }
  const char* codes = "clsountaewikrdfmzypxqbgh";
  for (int i = 0; i < DN_ATTRIBUTE_TYPE_COUNT; ++i) {
    const DnAttributeType& row = dnAttributeTypeTable()[i];
    EXPECT_EQ(codes[i], row.code);
    EXPECT_EQ(row.code, findDnAttributeType(*row.oid));
    ASNobjectId oid;
    EXPECT_TRUE(dnAttributeTypeOid(row.code, oid));
    EXPECT_TRUE(oid == *row.oid);
  }
  EXPECT_EQ(0, findDnAttributeType(id_at_title) == 't' ? 0 : 1);
  EXPECT_EQ(nullptr, dnAttributeTypeLabel('?'));
}

TEST(DnUtils, MakeDnAttribute) {
  struct Make {
    char code;
    const char* text;
    int length;  // -1: strlen
    int codePage;
    bool raw;
    int result;
    const char* valueDer;
  } cases[] = {
      {'c', "PL", -1, 0, false, 0, "1302504C"},
      {'n', "Jan", -1, 0, false, 0, "0C034A616E"},
      {'n', "\xC5\x81", -1, 0, false, 0, "0C02C581"},
      {'n', "\xC5", -1, 0, false, 0, "0C03EFBFBD"},  // malformed local text: replacement character
      {'n', "\xC5", -1, 1, false, 2, nullptr},       // "UTF-8 already" that is not
      {'n', "\xC5\x81", -1, 1, false, 0, "0C02C581"},
      // Texts the attribute's string type cannot hold.
      {'c', "P\xC5\x81", -1, 0, false, 2, nullptr},
      {'c', "P@", -1, 0, false, 2, nullptr},
      {'m', "+48 22", -1, 0, false, 2, nullptr},
      {'e', "\xC5\x81@b", -1, 0, false, 2, nullptr},
      {'e', "a@b", -1, 0, false, 0, "1603614062"},
      {'m', "123", -1, 0, false, 0, "1203313233"},
      {'k', "ABCD", -1, 0, false, 0, "030300ABCD"},
      {'k', "ABC", -1, 0, false, 2, nullptr},
      {'k', "ABXZ", -1, 0, false, 2, nullptr},
      {'n', "\x0C\x01x", 3, 0, true, 0, "0C0178"},
      {'n', "\x0C\x02x", 3, 0, true, 2, nullptr},
      {'n', "\x0C\x81\x01x", 4, 0, true, 0, "0C0178"},             // header written anew
      {'n', "\x30\x80\x0C\x01x\x00\x00", 7, 0, true, 2, nullptr},  // BER that would stay
      {'n', "\x30\x04\x0C\x81\x01x", 6, 0, true, 2, nullptr},
      {'?', "x", -1, 0, false, 2, nullptr},
      {'n', "x", 0, 0, false, 2, nullptr},
  };
  for (const Make& m : cases) {
    DistinguishedName name;
    int length = m.length < 0 ? static_cast<int>(std::strlen(m.text)) : m.length;
    EXPECT_EQ(m.result, makeDnAttribute(name, m.code, m.text, length, m.codePage, m.raw))
        << m.code << m.text;
    if (!m.valueDer) {
      EXPECT_EQ(0, name.attributeCount());
      continue;
    }
    ASSERT_EQ(1, name.attributeCount());
    Bytes value;
    name.getAttribute(0)->value.encodeVector(value);
    EXPECT_EQ(hexBytes(m.valueDer), value) << m.code << m.text;
  }
}

}  // namespace
