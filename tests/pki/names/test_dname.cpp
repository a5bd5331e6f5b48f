// Names: DER made by OpenSSL under two string masks, name texts in six OpenSSL
// formats parsed at the matching flag levels, the parser's edge cases and
// bounds, comparison across string types, and text forms read back.
#include "pki/names/dname.h"
#include "pki/names/dnprint.h"
#include "pki/names/dntext.h"
#include "pki/common/oids.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

std::string dataPath(const std::string& name) {
  return std::string(TAL_TEST_DATA_DIR) + "/pki/names/" + name;
}

Bytes readFile(const std::string& name) {
  std::ifstream f(dataPath(name), std::ios::binary);
  EXPECT_TRUE(f.good()) << name;
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

Bytes hexBytes(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

Bytes der(const ASNobject& o) {
  Bytes b;
  EXPECT_GT(o.encodeVector(b), 0);
  return b;
}

bool decodeName(const Bytes& bytes, DistinguishedName& name) {
  return name.decodeVector(bytes) == static_cast<int>(bytes.size());
}

// Parses from a buffer of exactly the text's size, so that a read past the
// given length is caught by the address sanitizer.
bool parse(const std::string& text, uint32_t flags, DistinguishedName& name) {
  std::vector<char> exact(text.begin(), text.end());
  return name.fromText(exact.empty() ? nullptr : exact.data(), static_cast<int>(exact.size()),
                       flags);
}

constexpr uint32_t ESC = 0x3, HEX = 0x10 | 0x20, COMMA = 0x800, SEMI = 0x1000, NEWLINE = 0x4000,
                   SLASH = 0x10000, PLUS = 0x20000, XESC = 0x4;

struct Level {
  const char* format;
  uint32_t flags;
};
const Level levels[] = {
    {"rfc2253", ESC | HEX | COMMA | PLUS | DN_REVERSE},     {"semi", ESC | HEX | SEMI | PLUS},
    {"multiline", ESC | HEX | NEWLINE | PLUS | DN_REVERSE}, {"compat", XESC | SLASH | PLUS},
    {"lname", ESC | HEX | COMMA | PLUS | DN_REVERSE},       {"oid", ESC | HEX | COMMA | PLUS},
};

struct Subject {
  const char* name;
  bool hasDefault;
  bool vocabulary;  // every keyword is in the name vocabulary
  bool compat;      // OpenSSL's compat form is readable (no escapes needed)
};
const Subject subjects[] = {
    {"polish", true, true, true},     {"plain", true, true, true},
    {"plaincase", false, true, true}, {"plainorder", false, true, true},
    {"person", true, true, true},     {"extra", true, false, false},
    {"multi", true, true, true},      {"special", false, true, false},
};

TEST(DnOpenssl, TextsAtEveryLevelGiveOpensslsDer) {
  for (const Subject& s : subjects)
    for (const char* mask : {"utf8", "default"}) {
      if (std::string(mask) == "default" && !s.hasDefault) continue;
      const bool utf8 = std::string(mask) == "utf8";
      Bytes expected = readFile(std::string(s.name) + "." + mask + ".der");
      DistinguishedName reference;
      ASSERT_TRUE(decodeName(expected, reference)) << s.name;
      EXPECT_EQ(expected, der(reference)) << s.name;  // received order kept
      for (const Level& level : levels) {
        const std::string format = level.format;
        if ((!s.vocabulary && format != "oid") || (format == "compat" && (!s.compat || !utf8)))
          continue;
        Bytes text = readFile(std::string(s.name) + "." + mask + "." + format + ".txt");
        DistinguishedName parsed;
        uint32_t flags = level.flags | (utf8 ? DN_PREFER_UTF8 : 0);
        ASSERT_TRUE(parse(std::string(text.begin(), text.end()), flags, parsed))
            << s.name << " " << format;
        if (utf8 || format == "oid") {
          EXPECT_EQ(expected, der(parsed)) << s.name << " " << mask << " " << format;
        }
        EXPECT_TRUE(parsed == reference) << s.name << " " << mask << " " << format;
      }
    }
}

TEST(DnOpenssl, StringMasksCompareEqualOrderAndCaseDoNot) {
  for (const Subject& s : subjects) {
    if (!s.hasDefault) continue;
    DistinguishedName a, b;
    ASSERT_TRUE(decodeName(readFile(std::string(s.name) + ".utf8.der"), a));
    ASSERT_TRUE(decodeName(readFile(std::string(s.name) + ".default.der"), b));
    EXPECT_TRUE(a == b) << s.name;
    EXPECT_TRUE(b == a) << s.name;
  }
  DistinguishedName plain, plaincase, plainorder;
  ASSERT_TRUE(decodeName(readFile("plain.utf8.der"), plain));
  ASSERT_TRUE(decodeName(readFile("plaincase.utf8.der"), plaincase));
  ASSERT_TRUE(decodeName(readFile("plainorder.utf8.der"), plainorder));
  EXPECT_FALSE(plain == plaincase);
  EXPECT_FALSE(plain == plainorder);
}

// Multi-valued RDNs made by OpenSSL compare as multisets of attributes, from
// either side: a repeated attribute never stands for a different one.
TEST(DnOpenssl, MultiValuedRdnsCompareAsMultisets) {
  const struct {
    const char* a;
    const char* b;
    bool equal;
  } cases[] = {
      {"rdnset_xx", "rdnset_xy", false},  {"rdnset_xy", "rdnset_yx", true},
      {"rdnset_xxy", "rdnset_xyy", false}, {"rdnset_xx", "rdnset_xx", true},
      {"rdnset_xy", "rdnset_xy", true},
  };
  for (const auto& c : cases) {
    DistinguishedName a, b;
    ASSERT_TRUE(decodeName(readFile(std::string(c.a) + ".der"), a)) << c.a;
    ASSERT_TRUE(decodeName(readFile(std::string(c.b) + ".der"), b)) << c.b;
    EXPECT_EQ(c.equal, a == b) << c.a << " " << c.b;
    EXPECT_EQ(c.equal, b == a) << c.b << " " << c.a;
    ASSERT_GE(a.GetCount(), 1);
    ASSERT_GE(b.GetCount(), 1);
    const RDname* ra = a.GetHead();
    const RDname* rb = b.GetHead();
    ASSERT_TRUE(ra && rb);
    EXPECT_EQ(c.equal, *ra == *rb) << c.a << " " << c.b;
    EXPECT_EQ(c.equal, *rb == *ra) << c.b << " " << c.a;
  }
}

TEST(DnOpenssl, RenderedTextReadsBackAndMatchesOpenssl) {
  for (const char* name : {"plain", "person", "extra"})
    for (const char* mask : {"utf8", "default"}) {
      DistinguishedName original;
      ASSERT_TRUE(decodeName(readFile(std::string(name) + "." + mask + ".der"), original));
      DnTextStyle style;
      style.shortLabel = true;
      style.utf8Labels = true;
      std::string text;
      EXPECT_NE(DNTEXT_BAD_VALUE, dnAppendName(text, original, style));
      DistinguishedName back;
      ASSERT_TRUE(parse(text, SEMI | DN_PREFER_UTF8, back)) << text;
      EXPECT_TRUE(back == original) << text;
    }
  DistinguishedName plain;
  ASSERT_TRUE(decodeName(readFile("plain.utf8.der"), plain));
  Bytes semi = readFile("plain.utf8.semi.txt");
  char* text = plain.toText(DN_TEXT_SHORT_LABELS);
  ASSERT_NE(nullptr, text);
  EXPECT_EQ(std::string(semi.begin(), semi.end() - 1), text);
  delete[] text;
}

struct ParseCase {
  const char* text;
  uint32_t flags;
  const char* der;  // expected encoding, or null when the text must be refused
};

const ParseCase parseCases[] = {
    // The constructor's flags: no separator, the value is the whole remainder.
    {"commonName=ab,O=x", 0, "3011310F300D0603550403130661622C4F3D78"},
    {"oid:2.5.4.3=x", 0,
     "300C310A300806035504031301"
     "78"},
    {"2.5.4.3=x", 0,
     "300C310A300806035504031301"
     "78"},
    {"1.2.3.4=x", 0,
     "300C310A30080603"
     "2A03041301"
     "78"},
    {"1.2.x=x", 0, nullptr},
    {"kraj=PL", 0,
     "300D310B3009060355040613025"
     "04C"},
    {"COUNTRYNAME=PL", 0,
     "300D310B3009060355040613025"
     "04C"},
    {"c = PL ", 0,
     "300D310B3009060355040613025"
     "04C"},
    {"C=P\xC3\xB3", 0, nullptr},  // countryName is printable only
    {"CN=a\\", ESC,
     "300D310B30090603550403"
     "0C02615C"},  // a lone final backslash stays
    {"CN=a\\ ", ESC,
     "300D310B300906035504031302612"
     "0"},  // escaped final space stays
    {"CN=a\\41", 2,
     "300D310B30090603550403130261"
     "41"},
    {"CN=a\\x41", XESC,
     "300D310B30090603550403130261"
     "41"},
    {"CN=\"a,b\",O=x", 0x8 | COMMA, "301A310C300A06035504031303612C62310A3008060355040A130178"},
    {"CN=a<b", 0x8 | COMMA, nullptr},
    {"CN=#0C0161", HEX | COMMA,
     "300C310A30080603550403"
     "0C0161"},
    {"CN=#0C0", HEX | COMMA, nullptr},               // odd number of digits
    {"CN=#0C016161", HEX | COMMA, nullptr},          // more octets than the value
    {"CN=#0C016161", 0x20 | 0x40 | COMMA, nullptr},  // ... also where whole DER is not demanded
    {"CN=#0C8101"
     "61",
     HEX | COMMA, nullptr},  // not DER (long-form length)
    {"CN=#0C02"
     "61",
     HEX | COMMA, nullptr},                        // announces more than it holds
    {"CN=#30800C01780000", HEX | COMMA, nullptr},  // indefinite length
    {"CN=#30050C810178", HEX | COMMA, nullptr},    // BER inside a DER header
    {"CN=#3003 0C0178", HEX | COMMA,
     "300E310C300A06035504033003"
     "0C0178"},
    {"CN=0C0161", 0x80 | 0x20 | 0x40 | COMMA,
     "300C310A30080603550403"
     "0C0161"},
    {"CN=cafe", 0x80 | 0x20 | 0x40 | COMMA,
     "300F310D300B06035504031304"
     "63616665"},  // looks hex, stays text
    {"uniqueIdentifier=ab", 0, "300E310C300A060355042D0303006162"},
    {"postalAddress=ul. A$00-950", 0x400000,
     "301A3118301606035504103"
     "00F1305756C2E2041130630302D393530"},
    {"postalAddress=#0C0161$x", 0x400000 | 0x20,
     "3011310F300D0603550410"
     "30060C01611301"
     "78"},
    {"postalAddress=#0C0261$x", 0x400000 | 0x20, nullptr},
    {"/C=PL/O=x", SLASH,
     "3019310B3009060355040613025"
     "04C310A3008060355040A130178"},
    {"/", SLASH, nullptr},
    {"", COMMA, "3000"},
    {"CN", COMMA, nullptr},
    {"=x", COMMA, nullptr},
    {"CN=a,,O=b", COMMA,
     "3019310B30090603550403"
     "1302612C"
     "310A3008060355040A130162"},  // up to the last separator
    // Polish keywords in a UTF-8 text (as its values are) and in Windows-1250.
    {"miejscowo\xC5\x9B\xC4\x87=\xC5\x81\xC3\xB3"
     "d\xC5\xBA",
     0, "30123110300E06035504070C07C581C3B364C5BA"},
    {"miejscowo\x9C\xE6=Lodz", 0, "300F310D300B060355040713044C6F647A"},
    {"tytu\xC5\x82=Dr", COMMA, "300D310B3009060355040C13024472"},
    {"O=Org+CN=x", COMMA | PLUS,
     "30183116300806035504031301"
     "78300A060355040A13034F7267"},
    {"CN=x+O=Org", COMMA | PLUS,
     "30183116300806035504031301"
     "78300A060355040A13034F7267"},
};

TEST(DnText, ParseCases) {
  for (const ParseCase& c : parseCases) {
    DistinguishedName name;
    bool ok = parse(c.text, c.flags, name);
    if (!c.der) {
      EXPECT_FALSE(ok) << c.text;
      EXPECT_EQ(0, name.GetCount()) << c.text;
      continue;
    }
    ASSERT_TRUE(ok) << c.text;
    EXPECT_EQ(hexBytes(c.der), der(name)) << c.text;
    // Every prefix is read within its bounds (the sanitizer watches).
    for (size_t n = 0; n < std::strlen(c.text); ++n) {
      DistinguishedName prefix;
      parse(std::string(c.text, n), c.flags, prefix);
    }
  }
}

TEST(DnText, BoundsOnRdnsAttributesAndParts) {
  struct Bound {
    const char* unit;
    const char* separator;
    uint32_t flags;
    int limit;
    const char* head;
  } bounds[] = {
      {"CN=a", ",", COMMA, DN_MAX_RDNS, ""},
      {"CN=a", "+", COMMA | PLUS, DN_MAX_RDN_ATTRIBUTES, ""},
      {"a", "$", 0x400000, DN_MAX_VALUE_PARTS, "postalAddress="},
  };
  for (const Bound& b : bounds)
    for (int count : {b.limit, b.limit + 1}) {
      std::string text = b.head;
      for (int i = 0; i < count; ++i) text += std::string(i ? b.separator : "") + b.unit;
      DistinguishedName name;
      bool ok = parse(text, b.flags, name);
      if (std::string(b.separator) == "$")  // too many parts: read as one value
        EXPECT_EQ(count > b.limit ? 12 : 48, ok ? name.getAttribute(0)->value.tag : -1);
      else
        EXPECT_EQ(count <= b.limit, ok) << b.unit << count;
    }
}

TEST(DnText, KeywordVocabulariesAndStringTypes) {
  struct Keyword {
    const char* name;
    int style;
    int id;
  } keywords[] = {
      {"kraj", -1, 0},
      {"country", -1, 0},
      {"C", -1, 0},
      {"countryname", -1, 0},
      {"e-mail", -1, 8},
      {"EMAIL", -1, 8},
      {"serial", -1, 12},
      {"x500UniqueIdentifier", 9, 11},
      {"T", 0, 6},
      {"postalAddress", 0, 7},
      {"GN", 5, -1},
      {"UID", 5, 21},
      {"2.5.4.46", 8, 23},
      {"CN", 11, -1},
      {"nazwa powszechna", 2, 5},
      {"wojew\xC3\xB3"
       "dztwo",
       2, 2},
      {"wojew\xF3"
       "dztwo",
       2, 2},
      {"WOJEW\xC3\xB3"
       "DZTWO",
       -1, 2},
      {"Unstructured Addresss", 7, 20},
      {"mail", 10, 22},
      {"0.9.2342.19200300.100.1.25", -1, 16},
  };
  for (const Keyword& k : keywords) {
    const DnAttributeRecord* row = dnAttributeByName(k.name, -1, k.style);
    EXPECT_EQ(k.id, row ? row->id : -1) << k.name;
  }
  for (int id = 0; id < DN_ATTRIBUTE_COUNT; ++id) {
    EXPECT_EQ(id, dnAttributeIdByOid(*dnAttributeById(id)->oid));
    EXPECT_TRUE(dnAttributeById(id)->oid->equalsText(dnAttributeById(id)->oidText));
  }
  struct Type {
    int type;
    const char* value;
    bool utf8;
    int tag;
  } types[] = {
      {1, "Abc 1", false, 19},
      {1, "Abc 1", true, 12},
      {1, "a@b", false, 12},
      {1, "\xFF", false, 0},
      {2, "", false, 0},
      {2, "a_b", false, 0},
      {4, "a@b", false, 22},
      {4, "\xC3\xB3", false, 0},
      {5, "abc", false, 0},
      {6, "12 3", false, 18},
      {6, "1a", false, 0},
      {9, "a@b", false, 22},
      {9, "\xC3\xB3", false, 12},
      {11, "20240229120000Z", false, 24},
      {11, "20230229120000Z", false, 0},
      {12, "240229120000Z", false, 23},
      {12, "x", false, 0},
      {13, "", false, 0},
      {42, "x", false, 0},
  };
  for (const Type& t : types)
    EXPECT_EQ(t.tag,
              stringTypeFor(t.type, t.value, static_cast<int>(std::strlen(t.value)), t.utf8, true))
        << t.type << " " << t.value;
  char set[6];
  dnSeparatorChars(0x40000 | 0x80000 | 0x400000 | 0x200000 | 0x100000, set);
  EXPECT_STREQ(",;\n|+", set);
  EXPECT_EQ(4, dnFindSeparator("a\\,b,c", -1, ","));
  EXPECT_EQ(7, dnFindSeparator("\"a,b\"\\\\,c", -1, ","));
  EXPECT_EQ(3, dnFindLastSeparator("a,b,\"c,d\"", -1, ","));
}

// Values compared by their normalised form.
TEST(DnCompare, StringTypesBitStringsAndNesting) {
  struct Pair {
    const char* a;
    const char* b;
    bool equal;
  } pairs[] = {
      {"13034A616E", "1E06004A0061006E", true},              // Printable and BMP "Jan"
      {"13034A616E", "1E06006A0061006E", false},             // ... "jan"
      {"16034A616E", "1C0C0000004A000000610000006E", true},  // IA5 and UniversalString
      {"1A034A616E", "0C034A616E", true},                    // Visible and UTF8
      {"0C02C3B3", "1E0200F3", true},                        // "ó"
      {"14034A616E", "0C034A616E", false},                   // T61String is not normalised
      {"1C00", "1300", true},          // empty UniversalString and PrintableString
      {"03020080", "03020780", true},  // trailing zero bits
      {"300813034A616E1301"
       "78",
       "30080C034A616E0C0178", true},
  };
  for (const Pair& p : pairs) {
    ASNany va, vb;
    ASSERT_GT(va.decodeVector(hexBytes(p.a)), 0);
    ASSERT_GT(vb.decodeVector(hexBytes(p.b)), 0);
    DistinguishedName a, b;
    ASSERT_TRUE(a.addAttribute(id_at_commonName, va));
    ASSERT_TRUE(b.addAttribute(id_at_commonName, vb));
    EXPECT_EQ(p.equal, a == b) << p.a << " " << p.b;
  }
  // A value nested far deeper than any name needs compares without
  // exhausting the stack.
  std::string nested = "0C0161";
  for (int i = 0; i < 3000; ++i) {
    size_t n = nested.size() / 2;
    char head[32];
    if (n < 128)
      std::snprintf(head, sizeof head, "30%02zX", n);
    else if (n < 256)
      std::snprintf(head, sizeof head, "3081%02zX", n);
    else
      std::snprintf(head, sizeof head, "3082%04zX", n);
    nested = head + nested;
  }
  ASNany deep;
  ASSERT_GT(deep.decodeVector(hexBytes(nested)), 0);
  DistinguishedName a, b;
  ASSERT_TRUE(a.addAttribute(id_at_commonName, deep));
  ASSERT_TRUE(b.addAttribute(id_at_commonName, deep));
  EXPECT_TRUE(a == b);
}

// Names of several RDNs: a difference in an RDN that needs no normalising
// decides, and values that normalise alike in any RDN still match.
TEST(DnCompare, SeveralRdnsNormalisedOrNot) {
  struct Rdn {
    const ASNobjectId* type;
    const char* value;
  };
  struct Pair {
    std::vector<Rdn> a, b;
    bool equal;
  };
  const ASNobjectId* c = &id_at_countryName;
  const ASNobjectId* o = &id_at_organizationName;
  const ASNobjectId* cn = &id_at_commonName;
  const Pair pairs[] = {
      // Printable and BMP "Jan" after an equal RDN.
      {{{c, "1302504C"}, {cn, "13034A616E"}}, {{c, "1302504C"}, {cn, "1E06004A0061006E"}}, true},
      // ... and with another organisation before it.
      {{{o, "0C0141"}, {cn, "13034A616E"}}, {{o, "0C0142"}, {cn, "1E06004A0061006E"}}, false},
      // Equal text in Printable and UTF8 before a BMP value that differs.
      {{{o, "13034A616E"}, {cn, "1E020041"}}, {{o, "0C034A616E"}, {cn, "1E020042"}}, false},
      {{{o, "13034A616E"}, {cn, "1E020041"}}, {{o, "0C034A616E"}, {cn, "0C0141"}}, true},
      // The same value under other types.
      {{{c, "1302504C"}, {o, "0C0141"}}, {{c, "1302504C"}, {cn, "0C0141"}}, false},
      // Trailing zero bits in one RDN, the next equal or not.
      {{{o, "03020080"}, {cn, "0C0141"}}, {{o, "03020780"}, {cn, "0C0141"}}, true},
      {{{o, "03020080"}, {cn, "0C0141"}}, {{o, "03020780"}, {cn, "0C0142"}}, false},
      // Lengths differ, and an empty value against a UniversalString.
      {{{cn, "0C0141"}}, {{cn, "0C024141"}}, false},
      {{{o, "1C00"}, {cn, "0C0141"}}, {{o, "1300"}, {cn, "130141"}}, true},
  };
  for (const Pair& p : pairs) {
    DistinguishedName a, b;
    for (auto side : {std::make_pair(&a, &p.a), std::make_pair(&b, &p.b)})
      for (const Rdn& r : *side.second) {
        ASNany v;
        ASSERT_GT(v.decodeVector(hexBytes(r.value)), 0);
        ASSERT_TRUE(side.first->addAttribute(*r.type, v));
      }
    EXPECT_EQ(p.equal, a == b) << p.a.back().value << " " << p.b.back().value;
    EXPECT_EQ(p.equal, b == a) << p.a.back().value << " " << p.b.back().value;
  }
}

// Multi-valued RDNs compare as multisets, both ways round.
TEST(DnCompare, RdnsAreMultisets) {
  struct Pair {
    const char* a;
    const char* b;
    bool equal;
  } pairs[] = {
      {"CN=x+CN=x", "CN=x+O=y", false},
      {"CN=x+O=y", "CN=x+CN=x", false},
      {"CN=x+CN=x+O=y", "CN=x+O=y+O=y", false},
      {"CN=x+O=y", "O=y+CN=x", true},
      {"CN=x+CN=x+O=y", "O=y+CN=x+CN=x", true},
      {"CN=x+CN=x,C=PL", "CN=x+O=y,C=PL", false},
      // The same attributes in the same order, grouped into other RDNs.
      {"CN=x,O=y+C=PL", "CN=x+O=y,C=PL", false},
      {"CN=x+O=y,C=PL", "CN=x+O=y,C=PL", true},
      {"CN=x+O=y,C=PL", "O=y+CN=x,C=PL", true},
  };
  for (const Pair& p : pairs) {
    DistinguishedName a, b;
    ASSERT_TRUE(parse(p.a, ESC | HEX | COMMA | PLUS, a)) << p.a;
    ASSERT_TRUE(parse(p.b, ESC | HEX | COMMA | PLUS, b)) << p.b;
    EXPECT_EQ(p.equal, a == b) << p.a << " / " << p.b;
    const RDname* ra = a.GetHead();
    const RDname* rb = b.GetHead();
    ASSERT_TRUE(ra && rb);
    EXPECT_EQ(p.equal, *ra == *rb) << p.a << " / " << p.b;
  }
}

TEST(DnName, AccessCopyReverseAndConstructor) {
  DistinguishedName name;
  ASSERT_TRUE(parse("C=PL,O=Org+OU=Unit,CN=x", COMMA | PLUS, name));
  EXPECT_EQ(4, name.attributeCount());
  EXPECT_EQ(nullptr, name.getAttribute(name.attributeCount()));
  EXPECT_EQ(nullptr, name.getAttribute(-1));
  EXPECT_TRUE(name.getAttribute(3)->type == id_at_commonName);
  DistinguishedName copy(name);
  EXPECT_EQ(der(name), der(copy));
  copy.reverse();
  EXPECT_TRUE(copy.getAttribute(0)->type == id_at_commonName);
  EXPECT_FALSE(copy == name);
  copy.reverse();
  EXPECT_TRUE(copy == name);

  EXPECT_EQ(0, DistinguishedName(0, "CN=x", -1).GetCount());
  DistinguishedName one(0x30, "commonName=ab,O=x", 17, true);
  EXPECT_EQ(hexBytes("3011310F300D0603550403"
                     "0C0661622C4F3D78"),
            der(one));
  try {
    DistinguishedName bad(0, "nokeyword", 9);
    ADD_FAILURE();
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ("DistinguishedName( tag, dnText ): Unconvertable DN text: nokeyword", e.what());
  }
}

}  // namespace
