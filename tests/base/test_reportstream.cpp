#include "base/miscutils.h"
#include "base/no_oop.h"
#include "base/reportstream.h"
#include "base/workaccount.h"
#include "platform/clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <string>

namespace {

std::string contents(MemFile& m)
{
    return std::string(reinterpret_cast<const char*>(m.data()), static_cast<size_t>(m.length()));
}

struct CharsetGuard
{
    ~CharsetGuard() { selectOutputCharset("windows"); }
};

// A time value with the layout the stream reads (as X509time and ASNutct have).
struct Fields
{
    int year, month, day, hour, minute, second;
};

TEST(ReportStream, WithoutSinkWritesNothing)
{
    ReportStream rs;
    rs << 1L << 2UL << 'c' << "Wartość" << static_cast<const char*>(nullptr);
    rs.writeDateTime(2025, 1, 2, 3, 4, 5);
    rs.writeFormatted("%s", "x");
    rs.writeUtcTime("%s");
    EXPECT_EQ(nullptr, rs.sink);
}

TEST(ReportStream, Numbers)
{
    struct Case
    {
        long s;
        unsigned long u;
        const char* signedText;
        const char* unsignedText;
    };
    const Case cases[] = {
        {0, 0, "0", "0(0x0)"},
        {-5, 255, "-5", "255(0xff)"},
        {LONG_MIN, ULONG_MAX, "-9223372036854775808", "18446744073709551615(0xffffffffffffffff)"},
    };
    for (const Case& c : cases) {
        MemFile m;
        ReportStream rs(&m);
        rs << c.s << ' ' << c.u;
        EXPECT_EQ(std::string(c.signedText) + " " + c.unsignedText, contents(m));
    }
}

TEST(ReportStream, TextsInEachOutputCharset)
{
    CharsetGuard guard;
    // Windows-1250 ś = 9C, ć = E6; ISO 8859-2 ś = B6, ć = E6; CP852 ś = 98, ć = 86.
    struct Case
    {
        const char* charset;
        std::string expected;
    };
    const Case cases[] = {
        {"windows", "Warto\x9C\xE6 klucza:   "},
        {"utf-8", u8"Wartość klucza:   "},
        {"latin2", "Warto\xB6\xE6 klucza:   "},
        {"852", "Warto\x98\x86 klucza:   "},
        {"ascii", "Wartosc klucza:   "},
    };
    for (const Case& c : cases) {
        selectOutputCharset(c.charset);
        MemFile m;
        ReportStream rs(&m);
        rs << "Wartość klucza:   ";
        EXPECT_EQ(c.expected, contents(m)) << c.charset;

        // a formatted text is converted whole, its value included
        MemFile f;
        ReportStream fs(&f);
        fs.writeFormatted("%s %ld", "Wartość", 7L);
        EXPECT_EQ(c.expected.substr(0, c.expected.find(' ')) + " 7", contents(f)) << c.charset;
    }
}

TEST(ReportStream, Dates)
{
    MemFile m;
    ReportStream rs(&m);
    rs.writeDateTime(Fields{2025, 1, 2, 3, 4, 5});
    rs << '|';
    rs.writeDateTime(999, 12, 31, 23, 59, 0);
    EXPECT_EQ("2025.01.02 03:04:05|999.12.31 23:59:00", contents(m));
}

TEST(ReportStream, UtcTimeInTheCallersFormat)
{
    CharsetGuard guard;
    selectOutputCharset("ascii");
    platform::setTestTime(1700000000);  // 2023-11-14 22:13:20 UTC
    MemFile m;
    ReportStream rs(&m);
    rs.writeUtcTime("---- RAPORT Z ODBEZPIECZANIA WIADOMOŚCI: %s ----\r\n");
    platform::clearTestTime();
    EXPECT_EQ("---- RAPORT Z ODBEZPIECZANIA WIADOMOSCI: 2023.11.14 22:13:20 UTC ----\r\n", contents(m));
}

TEST(ReportStream, DataItemsStayOnTheirLine)
{
    CharsetGuard guard;
    // the code points are escaped before the conversion: U+009B is no '?' and 0x9B in
    // Windows-1250 ('›') no control
    const std::string data = u8"Łódź\r\nWerdykt: UPO poprawne\x1B[8m\u009B\u202E\u203A";
    struct Case
    {
        const char* charset;
        std::string expected;
    };
    const Case cases[] = {
        {"utf-8", u8"Łódź\\x0D\\x0AWerdykt: UPO poprawne\\x1B[8m<U+009B><U+202E>\u203A"},
        {"windows", "\xA3\xF3" "d\x9F\\x0D\\x0AWerdykt: UPO poprawne\\x1B[8m<U+009B><U+202E>\x9B"},
        {"latin2", "\xA3\xF3" "d\xBC\\x0D\\x0AWerdykt: UPO poprawne\\x1B[8m<U+009B><U+202E>?"},
    };
    for (const Case& c : cases) {
        selectOutputCharset(c.charset);
        MemFile m;
        ReportStream rs(&m);
        rs.writeData(data);
        EXPECT_EQ(c.expected, contents(m)) << c.charset;
    }
    // a Windows-1250 item: its letters 0x80-0x9F are no C1 controls
    selectOutputCharset("utf-8");
    MemFile m;
    ReportStream rs(&m);
    rs.writeWindows1250Data(std::string("\x8C\x8F\x9C\x9F\x9A\x9B\r\x7F\0", 9));
    EXPECT_EQ(u8"ŚŹśźš›\\x0D\\x7F\\x00", contents(m));
    ReportStream none;
    none.writeData(data);
    none.writeWindows1250Data("x");
}

TEST(ReportStream, AnalyseUriReportsThroughTheStream)
{
    CharsetGuard guard;
    selectOutputCharset("utf-8");
    std::string protocol, host, path, user, password;
    int hasPort = 0, hasCredentials = 0;
    uint32_t port = 0;
    MemFile m;
    ReportStream rs(&m);
    EXPECT_FALSE(analyseURI("http://host:8ł/x", protocol, host, hasPort, port, path, hasCredentials, user,
                            password, &rs));
    // the port text is converted with the message (ł is B3 in Windows-1250)
    EXPECT_EQ(u8"analyseURI: niepoprawny format URI - nieparsowalny port serwera: 8ł\r\n", contents(m));
    // a URI's controls stay escaped on the message's line
    MemFile escaped;
    ReportStream es(&escaped);
    EXPECT_FALSE(analyseURI("http://host:8\r\n\x1B[2J/x", protocol, host, hasPort, port, path, hasCredentials,
                            user, password, &es));
    EXPECT_EQ("analyseURI: niepoprawny format URI - nieparsowalny port serwera: 8\\x0D\\x0A\\x1B[2J\r\n",
              contents(escaped));
    ReportStream none;
    EXPECT_FALSE(analyseURI("host", protocol, host, hasPort, port, path, hasCredentials, user, password, &none));
}

std::string contents(ReportBuffer& b)
{
    return std::string(reinterpret_cast<const char*>(b.data()), static_cast<size_t>(b.length()));
}

// Pieces written until the bound cuts the report: it ends with the cut line (on
// a line of its own), within the bound and its block, and takes nothing more.
TEST(ReportBuffer, CutAtItsBoundWithOneLine)
{
    struct Case
    {
        const char* name;
        std::string piece;
        const char* beforeCut; // what precedes the cut line
        size_t added;          // the line end the cut added
    };
    const Case cases[] = {
        {"lines", std::string(998, 'x') + "\r\n", "x\r\n", 0},
        {"no line ends", std::string(1000, 'y'), "y\r\n", 2},
        {"one piece past the bound", std::string(3u << 20, 'z'), "", 0},
        {"line ends in two pieces", std::string(999, 'w') + "\r", "w\r\n", 1},
    };
    const std::string cutLine = convertForOutput(REPORT_CUT_LINE);
    for (const Case& c : cases) {
        ReportBuffer b;
        b.bound(5000);
        ASSERT_EQ(static_cast<int32_t>(REPORT_BOUND_BASE + 5000), b.limit()) << c.name;
        ReportStream rs(&b);
        size_t pieces = 0;
        while (!b.isCut() && pieces < 2000) {
            rs << c.piece.c_str();
            ++pieces;
        }
        const std::string text = contents(b);
        EXPECT_TRUE(b.isCut()) << c.name;
        EXPECT_LE(b.length(), b.limit()) << c.name;
        EXPECT_LE(b.capacity(), b.limit() + 1) << c.name;
        EXPECT_EQ(std::string(c.beforeCut) + cutLine, text.substr(text.size() - cutLine.size() - std::strlen(c.beforeCut)))
            << c.name;
        // Every piece but the one the cut refused.
        EXPECT_EQ((pieces - 1) * c.piece.size() + c.added + cutLine.size(), text.size()) << c.name;
        EXPECT_FALSE(rs.accepts()) << c.name;
        rs << "more" << 1L << 'c';
        EXPECT_EQ(0, b.write(4, reinterpret_cast<const uint8_t*>("more"))) << c.name;
        EXPECT_EQ(text, contents(b)) << c.name;
        // The zero that ends the C API's text fits in the block.
        EXPECT_STREQ(text.c_str(), b.text()) << c.name;
        // The last word goes in after the cut, in the room kept for it.
        b.lastWord("koniec\r\n");
        EXPECT_EQ(text + "koniec\r\n", contents(b)) << c.name;
        EXPECT_LE(b.length(), b.limit()) << c.name;
        // Cleared, it is unbounded again.
        b.clear();
        EXPECT_TRUE(rs.accepts()) << c.name;
        EXPECT_EQ(0, b.limit()) << c.name;
        rs << c.piece.c_str();
        EXPECT_EQ(c.piece, contents(b)) << c.name;
    }
}

// What is written into a bounded report is paid to the thread's account, two
// units an octet; once the account is over nothing more goes in, and the
// library's own line after the document's work (no account) does.
TEST(ReportBuffer, PaidToTheAccountAndDroppedOnceItIsOver)
{
    ReportBuffer b;
    b.bound(0);
    ReportStream rs(&b);
    WorkAccount account(2 * 1000 + 10, std::chrono::hours(1));
    {
        WorkAccountScope scope(&account);
        const uint64_t ticks = workTicksCounted();
        rs << std::string(600, 'a').c_str();
        EXPECT_EQ(1200u, account.spentUnits());
        EXPECT_EQ(ticks + 1, workTicksCounted()); // and the net ticked
        rs << std::string(400, 'b').c_str();
        EXPECT_EQ(2000u, account.spentUnits());
        EXPECT_FALSE(account.over());
        rs << "cdefgh";
        EXPECT_TRUE(account.over());
        EXPECT_FALSE(rs.accepts());
        rs << "i";
        EXPECT_EQ(1000, b.length());
    }
    rs << "koniec";
    EXPECT_EQ(std::string(600, 'a') + std::string(400, 'b') + "koniec", contents(b));
    // Unbounded, nothing is paid.
    ReportBuffer free;
    WorkAccount other(10, std::chrono::hours(1));
    WorkAccountScope scope(&other);
    ReportStream fs(&free);
    fs << std::string(100, 'f').c_str();
    EXPECT_EQ(0u, other.spentUnits());
    EXPECT_EQ(100, free.length());
}

} // namespace
