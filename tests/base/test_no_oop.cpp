#include "base/no_oop.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// byte -> code point from the iconv tables; -1 where iconv has no character.
std::map<int, int> iconvTable(const std::string& page)
{
    std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/base/codepage_" + page + ".txt");
    EXPECT_TRUE(in.good()) << page;
    std::map<int, int> table;
    std::string byte, code;
    while (in >> byte >> code)
        table[std::stoi(byte, nullptr, 16)] = code == "----" ? -1 : std::stoi(code, nullptr, 16);
    EXPECT_EQ(256u, table.size());
    return table;
}

std::string utf8Of(int cp)
{
    std::string s;
    if (cp < 0x80) {
        s += static_cast<char>(cp);
    } else if (cp < 0x800) {
        s += static_cast<char>(0xC0 | (cp >> 6));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        s += static_cast<char>(0xE0 | (cp >> 12));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return s;
}

TEST(CodePage, Windows1250ToUtf8AgainstIconv)
{
    std::map<int, int> table = iconvTable("windows-1250");
    int undefined = 0;
    for (int b = 1; b < 256; ++b) {
        char in = static_cast<char>(b);
        char out[4] = {};
        int32_t n = cp1250ToUtf8(&in, 1, out, 4);
        // The five codes without a character become U+FFFD.
        int expected = table[b] < 0 ? 0xFFFD : table[b];
        undefined += table[b] < 0;
        EXPECT_EQ(utf8Of(expected), std::string(out, n > 0 ? n : 0)) << std::hex << b;
    }
    EXPECT_EQ(5, undefined);
}

TEST(CodePage, OutputModesAgainstIconv)
{
    std::map<int, int> w1250 = iconvTable("windows-1250");
    std::map<int, int> iso = iconvTable("iso-8859-2");
    std::map<int, int> cp852 = iconvTable("cp852");
    auto byteFor = [](const std::map<int, int>& table, int cp) {
        for (auto& row : table)
            if (row.second == cp)
                return row.first;
        return -1;
    };
    const std::string polish = "\x8C\x8F\x9C\x9F\xA3\xA5\xAF\xB3\xB9\xBF\xC6\xCA\xD1\xD3\xE6\xEA\xF1\xF3";
    ASSERT_EQ(18u, polish.size());
    for (char mode : {'L', '8'}) {
        const std::map<int, int>& target = mode == 'L' ? iso : cp852;
        ASSERT_EQ(mode, selectOutputCharset(mode == 'L' ? "latin2" : "852"));
        std::string out = convertForOutput(polish.c_str());
        ASSERT_EQ(18u, out.size());
        for (size_t i = 0; i < polish.size(); ++i) {
            int cp = w1250[static_cast<uint8_t>(polish[i])];
            EXPECT_EQ(byteFor(target, cp), static_cast<uint8_t>(out[i])) << mode << " " << i;
        }
        // Other bytes pass unchanged (a Windows-1250 'Š' 0x8A, not Polish, too).
        EXPECT_EQ("ab\x8A", convertForOutput("ab\x8A"));
    }
    ASSERT_EQ('M', selectOutputCharset("Mazovia"));
    EXPECT_EQ("\x98\xA0\x9E\xA6\x9C\x8F\xA1\x92\x86\xA7\x95\x90\xA5\xA3\x8D\x91\xA4\xA2", convertForOutput(polish.c_str()));
    ASSERT_EQ('B', selectOutputCharset("xyz"));
    EXPECT_EQ("SZszLAZlazCENOceno", convertForOutput(polish.c_str()));
    EXPECT_EQ("Wartosc", convertForOutput("Warto\x9C\xE6"));
    ASSERT_EQ('U', selectOutputCharset("utf-8"));
    EXPECT_EQ(u8"Wartość", convertForOutput("Warto\x9C\xE6"));
    ASSERT_EQ('W', selectOutputCharset("windows"));
    EXPECT_EQ("Warto\x9C\xE6", convertForOutput("Warto\x9C\xE6"));
}

TEST(CodePage, CharsetFromEnvironment)
{
    unsetenv("PL_STANDARD");
    unsetenv("LANGUAGE");
    unsetenv("LC_MESSAGES");
    unsetenv("LC_CTYPE");
    unsetenv("LC_ALL");
    setenv("LANG", "pl_PL.UTF-8", 1);
    EXPECT_EQ('U', selectOutputCharset(nullptr));
    EXPECT_EQ('U', outputCharset());
    setenv("LANG", "pl_PL", 1);
    EXPECT_EQ('W', selectOutputCharset(nullptr));
    setenv("LANG", "C", 1);
    EXPECT_EQ('B', selectOutputCharset(""));
    unsetenv("LANG");
    setenv("LC_ALL", "pl_PL.ISO8859-2", 1);
    EXPECT_EQ('L', selectOutputCharset(nullptr));
    unsetenv("LC_ALL");
    EXPECT_EQ('W', selectOutputCharset(nullptr));
    setenv("PL_STANDARD", "latin2", 1);
    EXPECT_EQ('L', selectOutputCharset(nullptr));
    setenv("PL_STANDARD", "xyz", 1);
    EXPECT_EQ('B', selectOutputCharset(nullptr));
    setenv("PL_STANDARD", "", 1);
    EXPECT_EQ('B', selectOutputCharset(nullptr));
    unsetenv("PL_STANDARD");
    EXPECT_EQ('8', charsetFromLocale("pl_PL.CP852"));
    EXPECT_EQ(0, charsetFromLocale("pl_PL.KOI8-R"));
    EXPECT_EQ(0, charsetFromLocale(nullptr));
    selectOutputCharset("windows");
}

// The locale variables in the locale's order: LC_ALL over LC_CTYPE over LC_MESSAGES over LANG,
// an empty one as if unset, LANGUAGE only when none of them is set; the first one set decides,
// also when it names no character set.
TEST(CodePage, CharsetFromTheLocaleVariablesInTheirOrder)
{
    const char* const names[] = {"LC_ALL", "LC_CTYPE", "LC_MESSAGES", "LANG", "LANGUAGE"};
    const struct Row
    {
        const char* values[5];  // as named above; nullptr unset
        char mode;
    } rows[] = {
        {{"pl_PL.UTF-8", "pl_PL.cp852", "pl_PL.ISO8859-2", "C", "pl_PL.cp852"}, 'U'},
        {{nullptr, "pl_PL.UTF-8", "pl_PL.ISO8859-2", "C", nullptr}, 'U'},
        {{"", "", "pl_PL.ISO8859-2", "pl_PL.UTF-8", nullptr}, 'L'},
        {{nullptr, nullptr, "pl_PL.ISO8859-2", "pl_PL.UTF-8", nullptr}, 'L'},
        {{"", "", "", "C", "pl_PL.UTF-8"}, 'B'},
        {{nullptr, nullptr, nullptr, "pl_PL.UTF-8", "pl:en"}, 'U'},
        {{nullptr, nullptr, nullptr, "", "pl_PL.ISO8859-2"}, 'L'},
        {{"", "", "", "", ""}, 'W'},
        {{"pl_PL", "pl_PL.UTF-8", "pl_PL.UTF-8", "pl_PL.UTF-8", nullptr}, 'W'},
    };
    unsetenv("PL_STANDARD");
    for (const Row& row : rows) {
        for (int i = 0; i < 5; ++i) {
            if (row.values[i])
                setenv(names[i], row.values[i], 1);
            else
                unsetenv(names[i]);
        }
        EXPECT_EQ(row.mode, selectOutputCharset(nullptr))
            << (row.values[0] ? row.values[0] : "-") << " " << (row.values[1] ? row.values[1] : "-")
            << " " << (row.values[2] ? row.values[2] : "-") << " " << (row.values[3] ? row.values[3] : "-");
    }
    for (const char* name : names)
        unsetenv(name);
    selectOutputCharset("windows");
}

TEST(Utf8, Validate)
{
    EXPECT_EQ(1, utf8Validate("\xC3\xA9", 2));
    EXPECT_EQ(-1, utf8Validate("\xC0\x80", 2));
    EXPECT_EQ(-2, utf8Validate("\xE0\x80\x80", 3));
    EXPECT_EQ(-3, utf8Validate("\xE2\x82", 2));
    EXPECT_EQ(~2, utf8Validate("ab\xFF", -1));
    EXPECT_EQ(~1, utf8Validate("\xF0\x8F\x80\x80", 4));
    EXPECT_EQ(2, utf8Validate("\xF0\x9F\x98\x80x", 5));
    EXPECT_EQ(0, utf8Validate("", -1));
    EXPECT_EQ(1, checkUtf8("abc", -1));
    EXPECT_EQ(2, checkUtf8("\xC3\xA9", 2));
    EXPECT_EQ(0, checkUtf8("\xFF", 1));
}

TEST(Utf8, BmpAndUcs2)
{
    const uint8_t bmp[] = {0x00, 0x41, 0x01, 0x41, 0x00, 0x00};
    char out[16] = {};
    EXPECT_EQ(3, bmpToUtf8(bmp, 4, out, 16));
    EXPECT_EQ(std::string("A\xC5\x81"), std::string(out, 3));
    EXPECT_EQ(0, bmpToUtf8(bmp, 3, out, 16));
    EXPECT_EQ(3, bmpToUtf8(bmp, -1, nullptr, 0));
    EXPECT_EQ(-3, bmpToUtf8(bmp, 4, out, 2));
    EXPECT_EQ(0, bmpToUtf8(nullptr, 4, out, 16));

    uint16_t units[4];
    EXPECT_EQ(0, utf8ToUcs2("\xF0\x9F\x98\x80", 4, units, 4));
    EXPECT_EQ(2, utf8ToUcs2("A\xE2\x82\xAC", -1, units, 4));
    EXPECT_EQ(0x20AC, units[1]);
    EXPECT_EQ(-2, utf8ToUcs2("A\xE2\x82\xAC", -1, units, 1));
    EXPECT_EQ(0, utf8ToUcs2("\xE2\x82", 2, units, 4));

    uint8_t be[8];
    EXPECT_EQ(4, utf8ToBmpBE("A\xC5\x81", -1, be, 8));
    EXPECT_EQ(0x01, be[2]);
    EXPECT_EQ(0x41, be[3]);
    const uint16_t wide[] = {0x41, 0x20AC, 0};
    EXPECT_EQ(4, ucs2ToUtf8(wide, -1, nullptr, 0));
    EXPECT_EQ(4, ucs2ToUtf8(wide, 2, out, 4));
    EXPECT_EQ(std::string("A\xE2\x82\xAC"), std::string(out, 4));
}

TEST(Utf8, AnsiIsUtf8Here)
{
    char out[16] = {};
    // Characters beyond the BMP stay proper UTF-8 (no separately encoded surrogates).
    EXPECT_EQ(5, ansiToUtf8("a\xF0\x9F\x98\x80", -1, out, 16));
    EXPECT_EQ(std::string("a\xF0\x9F\x98\x80"), std::string(out, 5));
    EXPECT_EQ(4, ansiToUtf8("a\xFF", 2, out, 16)); // a stray byte becomes U+FFFD
    EXPECT_EQ(std::string("a\xEF\xBF\xBD"), std::string(out, 4));
    EXPECT_EQ(0, ansiToUtf8("", -1, out, 16));
    EXPECT_EQ(3, utf8ToAnsi("\xC5\x81x", -1, out, 16));
    EXPECT_EQ(std::string("\xC5\x81x"), std::string(out, 3));
    EXPECT_EQ(3, utf8ToAnsi("\xC5\x81x", -1, nullptr, 0));
    EXPECT_EQ(-3, utf8ToAnsi("\xC5\x81x", -1, out, 2));
    EXPECT_EQ(0, utf8ToAnsi("\xC5", -1, out, 16));
}

TEST(Utf8, ShortOutputStopsAtTheCharacter)
{
    char out[8];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(-6, cp1250ToUtf8("ab\xB9\xE6", 4, out, 3)); // 'ą' no longer fits
    EXPECT_EQ('#', out[2]);
    EXPECT_EQ(6, cp1250ToUtf8("ab\xB9\xE6", -1, nullptr, 0));
}

TEST(Text, TrimsAndCase)
{
    char text[] = "  a b  ";
    trimSpaces(text);
    EXPECT_STREQ("a b", text);
    char blanks[] = "    ";
    trimSpaces(blanks);
    EXPECT_STREQ("", blanks);
    std::string s = "\t a b\r\n";
    trimString(s);
    EXPECT_EQ("a b", s);
    std::string l = " \tx ";
    trimLeft(l);
    EXPECT_EQ("x ", l);
    trimRight(l);
    EXPECT_EQ("x", l);
    std::string c = "aBc1";
    toUpperString(c);
    EXPECT_EQ("ABC1", c);
    toLowerString(c);
    EXPECT_EQ("abc1", c);
}

TEST(DataText, ControlsEscapedEverythingElseKept)
{
    struct Case
    {
        std::string in, out;
    };
    const Case cases[] = {
        // kept: Polish letters, TAB, printable ASCII, the neighbours of each escaped range
        {u8"Zażółć gęślą jaźń ŁÓDŹ", u8"Zażółć gęślą jaźń ŁÓDŹ"},
        {"a\tb ~", "a\tb ~"},
        {u8"\u00A0\u2027\u202F\u2065\u206A\u200F", u8"\u00A0\u2027\u202F\u2065\u206A\u200F"},
        {u8"\U0001F600", u8"\U0001F600"},
        // C0 but TAB, DEL: as bytes
        {std::string("a\0b", 3), "a\\x00b"},
        {"\r\nWerdykt: UPO poprawne\x1B[8m", "\\x0D\\x0AWerdykt: UPO poprawne\\x1B[8m"},
        {"\x01\x1F\x7F", "\\x01\\x1F\\x7F"},
        // C1, line and paragraph separators, bidirectional overrides and isolates: as code points
        {"\xC2\x80\xC2\x9B" "2J\xC2\x9F", "<U+0080><U+009B>2J<U+009F>"},
        {u8"\u2028\u2029\u202A\u202B\u202C\u202D\u202E", "<U+2028><U+2029><U+202A><U+202B><U+202C><U+202D><U+202E>"},
        {u8"x\u2066\u2067\u2068\u2069y", "x<U+2066><U+2067><U+2068><U+2069>y"},
        // invalid UTF-8: every byte of it, so no control hides in a broken sequence
        {"\x9B" "2J", "\\x9B2J"},
        {"\xC0\x8A\xC1\x9B", "\\xC0\\x8A\\xC1\\x9B"},
        {"\xE0\x80\x8A", "\\xE0\\x80\\x8A"},
        {"\xED\xA0\x80", "\\xED\\xA0\\x80"},
        {"\xF4\x90\x80\x80\xF8\x88\x80\x80\x80", "\\xF4\\x90\\x80\\x80\\xF8\\x88\\x80\\x80\\x80"},
        {"\xE2\x1B[8m", "\\xE2\\x1B[8m"},
        {"\xC2\n", "\\xC2\\x0A"},
        {"ok\xE2\x80", "ok\\xE2\\x80"},
        {u8"ą\xFF\u0105", u8"ą\\xFF\u0105"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.out, escapeControls(c.in)) << c.out;
    EXPECT_EQ("", escapeControls(nullptr, 5));
}

TEST(DataText, Utf8InEachOutputSet)
{
    struct Restore
    {
        ~Restore() { selectOutputCharset("windows"); }
    } restore;
    std::map<int, int> iso = iconvTable("iso-8859-2");
    std::map<int, int> cp852 = iconvTable("cp852");
    // Polish letters, a Czech one, U+203A (Windows-1250 0x9B), the euro sign, CJK
    const std::vector<int> characters = {0x105, 0x142, 0x15A, 0x17B, 0x160, 0x203A, 0x20AC, 0x4E2D};
    for (char mode : {'L', '8'}) {
        const std::map<int, int>& table = mode == 'L' ? iso : cp852;
        ASSERT_EQ(mode, selectOutputCharset(mode == 'L' ? "latin2" : "852"));
        for (int cp : characters) {
            const std::string utf8 = utf8Of(cp);
            int expected = '?';
            for (auto& row : table)
                if (row.second == cp)
                    expected = row.first;
            EXPECT_EQ(std::string(1, static_cast<char>(expected)), utf8ForOutput(utf8)) << mode << " " << cp;
        }
    }
    // In Latin-2 a byte 0x80-0x9F is a C1 control: nothing may arrive there.
    ASSERT_EQ('L', selectOutputCharset("latin2"));
    EXPECT_EQ("?", utf8ForOutput(u8"\u203A"));
    ASSERT_EQ('W', selectOutputCharset("windows"));
    // U+4E2D as UTF-8 octets: g++ refuses it in a literal under the Windows-1250 execution set.
    const std::string han = "\xE4\xB8\xAD";
    EXPECT_EQ("\xA3\xF3" "d\x9F \x9B ?", utf8ForOutput(u8"Łódź › " + han));
    ASSERT_EQ('B', selectOutputCharset("xyz"));
    EXPECT_EQ("Lodz ? ?", utf8ForOutput(u8"Łódź › " + han));
    ASSERT_EQ('M', selectOutputCharset("Mazovia"));
    EXPECT_EQ("\x92" "d\xA6\xA0", utf8ForOutput(u8"łdźŹ"));
    ASSERT_EQ('U', selectOutputCharset("utf-8"));
    EXPECT_EQ(u8"Łódź › " + han, utf8ForOutput(u8"Łódź › " + han));
}

TEST(Text, DigestToText)
{
    const uint8_t digest[] = {0xAF, 0x09};
    char out[4];
    digestToText(out, 4, digest, 2);
    EXPECT_EQ(":?09", std::string(out, 4));
    try {
        digestToText(out, 3, digest, 2);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string::npos, std::string(e.what()).find("no_oop("));
        EXPECT_NE(std::string::npos, std::string(e.what()).find("warunek: dstLen >= 2*digestLen"));
    }
}

} // namespace
