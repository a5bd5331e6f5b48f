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
