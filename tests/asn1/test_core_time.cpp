// GeneralizedTime and UTCTime.
#include "asn1/asngent.h"
#include "asn1/asnutct.h"
#include "asn1/core_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <string>

namespace {
Bytes tlv(unsigned char tag, const char* text)
{
    // Sized once and filled: GCC 12 warns of a bound (-Warray-bounds) in the
    // inlined growth of a two-octet vector that an insert would take.
    const size_t n = std::strlen(text);
    Bytes b(2 + n);
    b[0] = tag;
    b[1] = static_cast<uint8_t>(n);
    std::copy(text, text + n, b.begin() + 2);
    return b;
}

int decGen(ASNgenTime& t, const char* text) { Bytes b = tlv(24, text); return t.decodeVector(b); }
int decUtc(ASNutct& t, const char* text) { Bytes b = tlv(23, text); return t.decodeVector(b); }

std::string textOf(const ASNobject& o)
{
    Bytes b = enc(o);
    return b.size() < 2 ? std::string() : std::string(b.begin() + 2, b.end());
}
} // namespace

TEST(CoreGenTime, RoundTrips)
{
    ASNgenTime t;
    ASSERT_GT(decGen(t, "20210315123456Z"), 0);
    EXPECT_EQ(t.year, 2021);
    EXPECT_EQ(t.second, 56);
    EXPECT_EQ(textOf(t), "20210315123456Z");
    ASSERT_GT(decGen(t, "20210315123456.5+0130"), 0);
    EXPECT_EQ(t.fraction, 5);
    EXPECT_EQ(t.fractionDigits, 1);
    EXPECT_EQ(t.offsetHours, 1);
    EXPECT_EQ(t.offsetMinutes, 30);
    EXPECT_EQ(textOf(t), "20210315123456.5+0130");
    ASSERT_GT(decGen(t, "20210315123456.050Z"), 0);
    EXPECT_EQ(t.fraction, 50);
    EXPECT_EQ(t.fractionDigits, 3);
    EXPECT_EQ(textOf(t), "20210315123456.050Z");
    ASSERT_GT(decGen(t, "20210315123456-0500"), 0);
    EXPECT_EQ(t.offsetHours, -5);
    EXPECT_EQ(textOf(t), "20210315123456-0500");
    // No zone: accepted, written with Z.
    ASSERT_GT(decGen(t, "20210315123456"), 0);
    EXPECT_EQ(textOf(t), "20210315123456Z");
    EXPECT_EQ(t.contentLength(), 15);
    EXPECT_EQ(t.encodedLength(), 17);
}

TEST(CoreGenTime, Refused)
{
    ASNgenTime t;
    for (const char* bad : {"20211315123456Z", "20210315123456Zx", "20210315123456.", "20210315123456.Z",
                            "2021031512345Z", "2O210315123456Z", "202103151234 6Z", "2021+315123456Z",
                            "20210315123456+01", "20210315123456+2400", "20210315123456+0160",
                            "20210315123456+01300", "20210315123456..5Z", "20210315123456.5.5Z", "20210315123456Z5",
                            "2021031512345612Z", "20210300123456Z", "20210315243456Z", "20210315126056Z",
                            "20210315123456.5+0a30", "20210315123456,5Z"})
        EXPECT_EQ(decGen(t, bad), 0) << bad;
}

// Every fraction digit read is kept (up to 36): the time re-encodes as
// received and times differing far down the fraction are told apart.
TEST(CoreGenTime, LongFractionsKeepEveryDigit)
{
    const std::string f36(36, '7');
    struct Case {
        std::string text;
        int32_t fraction; // the first nine digits
        int32_t digits;
    } cases[] = {
        {"20210315123456.1234567890Z", 123456789, 9},
        {"20210315123456.123456789012345678901234567890Z", 123456789, 9},
        {"20210315123456.9999999999999Z", 999999999, 9},
        {"20210315123456.000000000000000000001+0130", 0, 9},
        {"20210315123456." + f36 + "-2359", 777777777, 9},
        {"20210315123456.12345678Z", 12345678, 8},
    };
    for (const Case& c : cases) {
        ASNgenTime t;
        ASSERT_GT(decGen(t, c.text.c_str()), 0) << c.text;
        EXPECT_EQ(t.fraction, c.fraction) << c.text;
        EXPECT_EQ(t.fractionDigits, c.digits) << c.text;
        EXPECT_EQ(textOf(t), c.text);
        EXPECT_EQ(t.contentLength(), static_cast<int>(c.text.size()));
        ASNgenTime copy = t;
        EXPECT_TRUE(copy == t) << c.text;
    }
    // More than 36 digits cannot be kept: refused rather than cut.
    ASNgenTime t;
    EXPECT_EQ(decGen(t, ("20210315123456." + f36 + "7Z").c_str()), 0);

    struct Order {
        const char* a;
        const char* b;
        int cmp; // -1: a < b, 0: equal, 1: a > b
    } orders[] = {
        {"20210315123456.1234567890Z", "20210315123456.1234567891Z", -1},
        {"20210315123456.12345678901234567890Z", "20210315123456.1234567890123456789Z", 0},
        {"20210315123456.100000000000000000000000000000000001Z", "20210315123456.1Z", 1},
        {"20210315123456.5Z", "20210315123456.500000000000Z", 0},
    };
    for (const Order& o : orders) {
        ASNgenTime a, b;
        ASSERT_GT(decGen(a, o.a), 0);
        ASSERT_GT(decGen(b, o.b), 0);
        EXPECT_EQ(a == b, o.cmp == 0) << o.a << " " << o.b;
        EXPECT_EQ(a < b, o.cmp < 0) << o.a << " " << o.b;
        EXPECT_EQ(b < a, o.cmp > 0) << o.a << " " << o.b;
    }
    // Setting the integer fields afterwards wins over the digits kept.
    ASNgenTime s;
    ASSERT_GT(decGen(s, "20210315123456.1234567890Z"), 0);
    s.fraction = 5;
    s.fractionDigits = 1;
    EXPECT_EQ(textOf(s), "20210315123456.5Z");
    s.set(2021, 3, 15, 12, 34, 56, 25, 2);
    EXPECT_EQ(textOf(s), "20210315123456.25Z");
}

TEST(CoreGenTime, CompareAndSet)
{
    ASNgenTime a, b;
    ASSERT_GT(decGen(a, "20210315123456.5Z"), 0);
    ASSERT_GT(decGen(b, "20210315123456.50Z"), 0);
    EXPECT_TRUE(a == b);
    ASSERT_GT(decGen(b, "20210315123456.49Z"), 0);
    EXPECT_TRUE(b < a);
    EXPECT_FALSE(a < b);
    ASSERT_GT(decGen(b, "20210315123456Z"), 0);
    EXPECT_TRUE(b < a);
    ASNgenTime s;
    s.set(49, 12, 31, 23, 59, 59);
    EXPECT_EQ(s.year, 2049);
    s.set(50, 1, 1, 0, 0, 0, 7, 3);
    EXPECT_EQ(textOf(s), "19500101000000.007Z");
    // A fraction with more digits than announced still writes what it says.
    s.set(2020, 1, 2, 3, 4, 5, 12345, 2);
    EXPECT_EQ(textOf(s), "20200102030405.12345Z");
    EXPECT_EQ(s.contentLength(), 21);
    ASNgenTime now;
    now.setNow();
    std::time_t tt = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&tt, &tm);
    EXPECT_EQ(now.year, tm.tm_year + 1900);
    // A value read in place refuses setters.
    ASNgenTime c;
    Bytes in = tlv(24, "20210315123456Z");
    ASSERT_GT(c.decodeBuffer(in.data(), static_cast<int>(in.size()), ASN_FLAG_CONST), 0);
    EXPECT_THROW(c.setNow(), std::runtime_error);
}

TEST(CoreUtcTime, WindowAndForms)
{
    ASNutct t;
    ASSERT_GT(decUtc(t, "491231235959Z"), 0);
    EXPECT_EQ(t.year, 2049);
    ASSERT_GT(decUtc(t, "500101000000Z"), 0);
    EXPECT_EQ(t.year, 1950);
    ASSERT_GT(decUtc(t, "2103151234Z"), 0);
    EXPECT_EQ(t.hasSeconds, 0);
    EXPECT_EQ(textOf(t), "2103151234Z");
    ASSERT_GT(decUtc(t, "210315123456-0500"), 0);
    EXPECT_EQ(t.offsetHours, -5);
    EXPECT_EQ(t.offsetMinutes, 0);
    EXPECT_EQ(textOf(t), "210315123456-0500");
    ASSERT_GT(decUtc(t, "2103151234+0130"), 0);
    EXPECT_EQ(textOf(t), "2103151234+0130");
    ASNutct s;
    s.set(2021, 3, 15, 12, 34, 0);
    EXPECT_EQ(textOf(s), "210315123400Z");
    // Years two digits cannot carry are refused rather than wrapped.
    EXPECT_EQ(s.set(2050, 1, 1, 0, 0, 0), 0);
    EXPECT_EQ(s.set(1949, 1, 1, 0, 0, 0), 0);
    EXPECT_EQ(s.year, 2021);
    EXPECT_EQ(s.set(99, 1, 1, 0, 0, 0), 1);
    EXPECT_EQ(s.year, 1999);
}

TEST(CoreUtcTime, Refused)
{
    ASNutct t;
    for (const char* bad : {"211315123456Z", "210315123456", "21031512345Z", "2103151234", "2A0315123456Z",
                            "2103151234 6Z", "210315123460Z", "210315123456+2400", "210315123456+0160",
                            "2103151234Z0", "210315123456Z0", "21031512345+0100", "210315123456+01a0",
                            "2103-5123456Z", "210315123456z"})
        EXPECT_EQ(decUtc(t, bad), 0) << bad;
}
