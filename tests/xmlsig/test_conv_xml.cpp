// XML value conversions: dateTime texts, decimal serial numbers, name texts.
#include "base/talexception.h"
#include "base/memfile.h"
#include "xmlsig/conv_xml.h"
#include "xmlsig/xmlcodes.h"
#include "xmlsig/xmltesthelp.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace {

std::string fieldsText(const convXml::UtcFields& f) {
  char b[40];
  snprintf(b, sizeof b, "%04d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day, f.hour, f.minute,
           f.second);
  return b;
}

TEST(DateTime, ZonesFractionsAndNormalisation) {
  // Expected values checked with GNU date.
  const struct {
    const char* text;
    int32_t rc;
    const char* utc;
  } cases[] = {
      {"2014-12-08T10:11:12Z", 0, "2014-12-08 10:11:12"},
      {"2014-12-08T10:11:12.5+01:00", 0, "2014-12-08 09:11:12"},
      {"2014-03-01T00:30:00+01:00", 0, "2014-02-28 23:30:00"},
      {"2016-03-01T00:30:00+01:00", 0, "2016-02-29 23:30:00"},
      {"2014-12-31T23:30:00-01:00", 0, "2015-01-01 00:30:00"},
      {"2015-01-01T00:30:00+01:00", 0, "2014-12-31 23:30:00"},
      {"2014-06-30T22:45:00-05:30", 0, "2014-07-01 04:15:00"},
      {"\n  2014-12-08T10:11:12Z  \n", 0, "2014-12-08 10:11:12"},
      {"2014-12-08 10:11:12Z", 89, ""},
      {"2014-13-08T10:11:12Z", 89, ""},
      {"2014-02-30T10:11:12Z", 89, ""},
      {"2014-12-08T10:11:12.5", 89, ""},
      {"2014-12-08T10:11:12.Z", 89, ""},
      {"2014-12-08T24:00:00Z", 89, ""},
      {"2014-12-08T10:11:12Zjunk", 89, ""},
      {"2014-12-08T10:11:12+01:00x", 89, ""},
      {"2014-12-08T10:11:12+01-00", 89, ""},
      {"2014-12-08T10:11:12+99:00", 89, ""},
      {"2014-12-08T10:11:12X", 89, ""},
      {"0000-12-08T10:11:12Z", 89, ""},
      {"0049-12-08T10:11:12Z", 89, ""},       // not 2049
      {"0100-01-01T00:30:00+01:00", 89, ""},  // year 99 in UTC
      {"0100-01-01T01:30:00+01:00", 0, "0100-01-01 00:30:00"},
      {"-2014-12-08T10:11:12Z", 89, ""},
      {"2014-+1-08T10:11:12Z", 89, ""},
      {"", 89, ""},
  };
  for (const auto& c : cases) {
    convXml::UtcFields f{};
    EXPECT_EQ(codeOf([&] { f = convXml::parseDateTime(c.text); }), c.rc) << c.text;
    if (c.rc == 0) {
      EXPECT_EQ(fieldsText(f), c.utc) << c.text;
    }
  }
}

TEST(DateTime, WithoutZoneIsLocalTime) {
  const char* saved = getenv("TZ");
  std::string keep = saved ? saved : "";
  setenv("TZ", "Europe/Warsaw", 1);
  tzset();
  EXPECT_EQ(fieldsText(convXml::parseDateTime("2014-07-01T12:00:00")), "2014-07-01 10:00:00");
  EXPECT_EQ(fieldsText(convXml::parseDateTime("2014-01-01T00:30:00")), "2013-12-31 23:30:00");
  if (saved)
    setenv("TZ", keep.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

TEST(DateTime, TimesAndTextRoundTrip) {
  X509time t;
  convXml::dateTimeToTime("2014-12-08T10:11:12.25+01:00", t);
  std::string text;
  convXml::timeToDateTime(t, text);
  EXPECT_EQ(text, "2014-12-08T09:11:12Z");
  ASNgenTime g;
  convXml::dateTimeToGenTime("2049-01-02T03:04:05Z", g);
  convXml::timeToDateTime(g, text);
  EXPECT_EQ(text, "2049-01-02T03:04:05Z");
}

std::string contentHex(const ASNinteger& v) {
  MemFile m;
  v.encodeContent(&m);
  std::string out;
  for (int i = 0; i < m.length(); ++i) {
    char b[3];
    snprintf(b, sizeof b, "%02X", m.data()[i]);
    out += b;
  }
  return out;
}

TEST(DecimalIntegers, TextToContentAndBack) {
  const struct {
    std::string text;
    int32_t rc;
    const char* hex;
    const char* back;
  } cases[] = {
      {"128", 0, "0080", "128"},
      {"127", 0, "7F", "127"},
      {"0", 0, "00", "0"},
      {"0123", 0, "7B", "123"},  // decimal, not octal
      {"18446744073709551616", 0, "010000000000000000", "18446744073709551616"},
      {"302652579918965577886386472538583578916", 0, "00E3B0C44298FC1C149AFBF4C8996FB924",
       "302652579918965577886386472538583578916"},
      {"", 89, "", ""},
      {"-1", 89, "", ""},
      {"+1", 89, "", ""},
      {" 1", 89, "", ""},
      {"12a", 89, "", ""},
      {"0x1F", 89, "", ""},
      {std::string(1025, '9'), 89, "", ""},
  };
  for (const auto& c : cases) {
    ASNinteger v;
    EXPECT_EQ(codeOf([&] { convXml::decimalToInteger(c.text, v); }), c.rc) << c.text;
    if (c.rc == 0) {
      EXPECT_EQ(contentHex(v), c.hex) << c.text;
      std::string back;
      convXml::integerToDecimal(&v, back);
      EXPECT_EQ(back, c.back);
    }
  }
  std::string s;
  EXPECT_THROW(convXml::integerToDecimal(nullptr, s), std::runtime_error);
}

TEST(DnText, KeywordsAndAliases) {
  const std::pair<const char*, char> cases[] = {
      {"C", 'c'},           {"ST", 's'},
      {"S", 's'},           {"emailAddress", 'e'},
      {"E", 'e'},           {"EMAILADDRESS", 'e'},
      {"OID.2.5.4.3", 'n'}, {"oid.2.5.4.3", 'n'},
      {" CN ", 'n'},        {"Numer seryjny", 'r'},
      {"GivenName", 'i'},   {"0.9.2342.19200300.100.1.25", 'z'},
      {"2.5.4.45", 'k'},    {"cn", 0},
      {"Oid.2.5.4.3", 0},   {"XX", 0},
  };
  for (const auto& c : cases) {
    char code = 0;
    EXPECT_EQ(convXml::lookupDnKeyword(c.first, &code), c.second != 0) << c.first;
    EXPECT_EQ(code, c.second) << c.first;
  }
}

TEST(DnText, SplittingAndUnescaping) {
  const struct {
    const char* text;
    int32_t rc;
    std::vector<std::pair<char, std::string>> parts;
  } cases[] = {
      {"CN=Name,O=Org,C=PL", 0, {{'n', "Name"}, {'o', "Org"}, {'c', "PL"}}},
      {"O=\"Org, Inc\",C=PL", 0, {{'o', "Org, Inc"}, {'c', "PL"}}},
      {"CN=a\\,b", 0, {{'n', "a,b"}}},
      {"CN=a\\\\,O=b", 0, {{'n', "a\\"}, {'o', "b"}}},
      {"CN=\\23x\\20", 0, {{'n', "#x "}}},
      {"CN=caf\\C3\\A9", 0, {{'n', "caf\xC3\xA9"}}},
      {"2.5.4.45=#030200FF", 0, {{'k', std::string("\x03\x02\x00\xFF", 4)}}},
      {"CN=x=y", 0, {{'n', "x=y"}}},
      // An escaped backslash before the closing quote does not escape the quote.
      {"CN=\"a\\\\\",O=b", 0, {{'n', "a\\\\"}, {'o', "b"}}},
      {"CN=\"a\"\"b\"", 89, {}},
      {"CN=\"open", 89, {}},
      {"CN", 89, {}},
      {"XX=1", 89, {}},
      {"CN=#0", 89, {}},
      {"CN=#zz", 89, {}},
      {"CN=a\\", 89, {}},
      {"CN=a\\q1", 89, {}},
  };
  for (const auto& c : cases) {
    std::vector<convXml::DnComponent> out;
    EXPECT_EQ(codeOf([&] { out = convXml::splitDnText(c.text); }), c.rc) << c.text;
    if (c.rc != 0) continue;
    ASSERT_EQ(out.size(), c.parts.size()) << c.text;
    for (size_t i = 0; i < out.size(); ++i) {
      EXPECT_EQ(out[i].code, c.parts[i].first) << c.text;
      EXPECT_EQ(out[i].value, c.parts[i].second) << c.text;
    }
  }
}

// The other escapes are compared with openssl's texts (test_conv_dn).
TEST(DnText, ControlCharactersAreWrittenInHexadecimal) {
  EXPECT_EQ(convXml::escapeDnValue("tab\there x#"), "tab\\09here x#");
}

}  // namespace
