// OCTET STRING and strings, INTEGER, BOOLEAN, NULL, OBJECT IDENTIFIER and BIT STRING.
#include "asn1/asnany.h"
#include "asn1/asnbitst.h"
#include "asn1/asnbool.h"
#include "asn1/asnint.h"
#include "asn1/asnobjid.h"
#include "asn1/asnocstr.h"
#include "asn1/core_util.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {
int dec(ASNobject& o, const Bytes& b, unsigned char f = 0)
{
    return o.decodeBuffer(b.data(), static_cast<int>(b.size()), f);
}
} // namespace

TEST(CoreOctetString, ConstructedIndefinite)
{
    Bytes in = H("24 80 04 02 AA BB 04 01 CC 00 00");
    ASNoctstr o;
    ASSERT_EQ(dec(o, in), 11);
    EXPECT_EQ(o.length, 3);
    EXPECT_EQ(hexOf(o.data(), 3), "aabbcc");
    EXPECT_EQ(o.segments.GetCount(), 2);
    EXPECT_EQ(enc(o), in);
    // Definite constructed with a nested constructed segment, non-minimal lengths.
    Bytes in2 = H("24 81 0B 04 01 01 24 06 04 01 02 04 01 03");
    ASNoctstr p;
    ASSERT_EQ(dec(p, in2), static_cast<int>(in2.size()));
    EXPECT_EQ(hexOf(p.data(), p.length), "010203");
    // Read in place it re-encodes exactly; segments are views too.
    ASNoctstr c;
    ASSERT_EQ(dec(c, in2, ASN_FLAG_CONST), static_cast<int>(in2.size()));
    EXPECT_EQ(hexOf(c.data(), c.length), "010203");
    EXPECT_EQ(enc(c), in2);
    // Segments must be OCTET STRINGs and must fill the content.
    EXPECT_EQ(dec(o, H("24 80 02 01 01 00 00")), 0);
    EXPECT_EQ(dec(o, H("24 04 04 01 01")), 0);
    EXPECT_EQ(dec(o, H("24 80 04 01 01")), 0);
    // Set from octets, a value that was constructed becomes primitive DER.
    ASSERT_EQ(dec(o, in), 11);
    ASSERT_EQ(o.set(H("01 02").data(), 2), 1);
    EXPECT_EQ(hexOf(enc(o)), "04020102");
    EXPECT_EQ(o.set(nullptr, 0), 1);
    EXPECT_EQ(o.length, 0);
    EXPECT_EQ(hexOf(enc(o)), "0400");
}

TEST(CoreOctetString, AllocateKeepsTagging)
{
    ASNoctstr o(0x80);
    o.makeExplicit();
    unsigned char* p = o.allocate(2);
    ASSERT_NE(p, nullptr);
    p[0] = 1;
    p[1] = 2;
    EXPECT_TRUE(o.flags & ASN_FLAG_EXPLICIT);
    EXPECT_TRUE(o.flags & ASN_FLAG_NONUNIVERSAL);
    EXPECT_TRUE(o.flags & ASN_FLAG_CONSTRUCTED);
    EXPECT_EQ(hexOf(enc(o)), "a00404020102");
    // The same value can still be decoded after allocate.
    EXPECT_EQ(dec(o, H("A0 04 24 02 04 00")), 6);
    ASNoctstr ctx(0x85);
    ctx.allocate(1)[0] = 7;
    EXPECT_EQ(dec(ctx, H("85 01 09")), 3);
}

TEST(CoreOctetString, CompareEqualsCopy)
{
    ASNoctstr a, b;
    a.set(H("01 02").data(), 2);
    b.set(H("00 00 00").data(), 3);
    EXPECT_EQ(a.compare(b), -1);
    EXPECT_EQ(b.compare(a), 1);
    ASNoctstr c(a);
    EXPECT_EQ(c.compare(a), 0);
    EXPECT_TRUE(c.equals(a));
    ASNoctstr seg;
    ASSERT_EQ(dec(seg, H("24 06 04 01 01 04 01 02")), 8);
    ASNoctstr copy;
    copy = seg;
    EXPECT_EQ(copy.segments.GetCount(), 2);
    EXPECT_TRUE(copy.equals(seg));
    EXPECT_EQ(hexOf(copy.data(), copy.length), "0102");
    EXPECT_EQ(hexOf(enc(copy)), "2406040101040102");
    EXPECT_FALSE(copy.equals(a));
    ASNUtf8String u;
    EXPECT_EQ(dec(u, H("0C 02 C5 BB")), 4);
    EXPECT_EQ(u.universalTag(), 12);
    EXPECT_EQ(dec(u, H("04 02 C5 BB")), 0);
}

TEST(CoreInteger, SetAndRead)
{
    ASNinteger i;
    i.set(0);
    EXPECT_EQ(hexOf(enc(i)), "020100");
    i.set(0x80);
    EXPECT_EQ(hexOf(enc(i)), "02020080");
    i.set(0x1234);
    EXPECT_EQ(hexOf(enc(i)), "02021234");
    i.set(0xFFFFFFFFu);
    EXPECT_EQ(hexOf(enc(i)), "020500ffffffff");
    EXPECT_EQ(i.toLong(), 0xFFFFFFFFu);
    EXPECT_EQ(i.setBytes(H("00 00 FF").data(), 3), 1);
    EXPECT_EQ(hexOf(i.data(), i.length), "00ff");
    EXPECT_EQ(i.setBytes(H("00 00").data(), 2), 1);
    EXPECT_EQ(hexOf(i.data(), i.length), "00");
    EXPECT_EQ(i.setBytes(H("7F 01").data(), 2), 1);
    EXPECT_EQ(hexOf(i.data(), i.length), "7f01");
    ASSERT_EQ(dec(i, H("02 05 00 00 00 00 01")), 7);
    EXPECT_EQ(i.toLong(), 1u);
    ASSERT_EQ(dec(i, H("02 05 01 00 00 00 00")), 7);
    try {
        i.toLong();
        FAIL();
    } catch (const std::overflow_error& e) {
        EXPECT_STREQ(e.what(), "ASNinteger overflow");
    }
    ASSERT_EQ(dec(i, H("02 01 FF")), 3);
    EXPECT_EQ(i.toLong(), 255u);
    char hex[8];
    EXPECT_EQ(i.toHex(hex, 3), 1);
    EXPECT_STREQ(hex, "FF");
    EXPECT_EQ(i.toHex(hex, 2), 0);
    i.set(0);
    EXPECT_EQ(i.toHex(hex, 2), 1);
    EXPECT_STREQ(hex, "0");
    EXPECT_EQ(i.byteLength(), 1);
    ASNenum e;
    EXPECT_EQ(dec(e, H("0A 01 03")), 3);
    EXPECT_EQ(e.toLong(), 3u);
    ASNinteger copy;
    copy = e;
    EXPECT_EQ(copy.toLong(), 3u);
    EXPECT_EQ(hexOf(enc(copy)), "020103");
}

TEST(CoreBoolNull, Values)
{
    ASNbool b;
    ASSERT_EQ(dec(b, H("01 01 01")), 3);
    EXPECT_TRUE(b.get());
    EXPECT_EQ(hexOf(enc(b)), "010101");
    b.set(true);
    EXPECT_EQ(hexOf(enc(b)), "0101ff");
    EXPECT_TRUE(b.equals(-1));
    b.set(false);
    EXPECT_EQ(hexOf(enc(b)), "010100");
    EXPECT_EQ(dec(b, H("01 02 00 00")), 0);
    EXPECT_EQ(dec(b, H("01 00")), 0);
    ASNnull n;
    EXPECT_EQ(dec(n, H("05 00")), 2);
    EXPECT_EQ(dec(n, H("05 01 00")), 0);
    EXPECT_EQ(hexOf(enc(n)), "0500");
}

TEST(CoreObjectId, TextRoundTrips)
{
    ASNobjectId o;
    ASSERT_EQ(o.set("1.2.840.113549.1.1.11"), 1);
    EXPECT_EQ(hexOf(o.data(), o.length), "2a864886f70d01010b");
    std::string s;
    ASSERT_TRUE(o.toString(s));
    EXPECT_EQ(s, "1.2.840.113549.1.1.11");
    EXPECT_TRUE(o.toString(s, "-"));
    EXPECT_EQ(s, "1-2-840-113549-1-1-11");
    ASSERT_EQ(o.set("2.999.3"), 1);
    EXPECT_EQ(hexOf(o.data(), o.length), "883703");
    ASSERT_TRUE(o.toString(s));
    EXPECT_EQ(s, "2.999.3");
    ASSERT_EQ(o.set("1.2.4294967295"), 1);
    EXPECT_EQ(hexOf(o.data(), o.length), "2a8fffffff7f");
    ASSERT_TRUE(o.toString(s));
    EXPECT_EQ(s, "1.2.4294967295");
    ASNobjectId back;
    ASSERT_EQ(dec(back, H("06 06 2a 8f ff ff ff 7f")), 8);
    EXPECT_TRUE(back.equalsText("1.2.4294967295"));
    EXPECT_EQ(o.set("1 2 3"), 1);
    ASSERT_TRUE(o.toString(s));
    EXPECT_EQ(s, "1.2.3");
    EXPECT_EQ(o.set("1.2."), 1);
    ASSERT_TRUE(o.toString(s));
    EXPECT_EQ(s, "1.2.0");
    EXPECT_EQ(o.set("1..2"), 1);
    ASSERT_TRUE(o.toString(s));
    EXPECT_EQ(s, "1.0.2");
    EXPECT_EQ(o.set("1;2;3", ";"), 1);
    EXPECT_TRUE(o.equalsText("1.2.3"));
}

TEST(CoreObjectId, MalformedTexts)
{
    ASNobjectId o;
    for (const char* bad : {"1.40", "3.1", "1", "1.2,3", "1.2.4294967296", ".1.2", "", "1.2a.3", "1.-2",
                            "2.107374183", "1.2.99999999999999999999"})
        EXPECT_EQ(o.set(bad), 0) << bad;
    EXPECT_EQ(o.set(nullptr), 0);
    EXPECT_THROW(ASNobjectId("1.40"), std::bad_alloc);
    try {
        ASNobjectId x("nope");
        FAIL();
    } catch (const std::bad_alloc& e) {
        EXPECT_STREQ(e.what(), "bad allocation");
    }
    ASNobjectId fine("1.3.14.3.2.26");
    EXPECT_TRUE(fine.equalsText("1.3.14.3.2.26"));
    EXPECT_FALSE(fine.equalsText("1.3.14.3.2.27"));
    EXPECT_FALSE(fine.equalsText("junk"));
}

TEST(CoreObjectId, ContentChecks)
{
    ASNobjectId o;
    EXPECT_EQ(dec(o, H("06 02 2A 86")), 0);
    EXPECT_EQ(dec(o, H("06 00")), 0);
    // Six-octet subidentifier and a five-octet one beyond 32 bits.
    EXPECT_EQ(dec(o, H("06 07 2A 81 80 80 80 80 01")), 0);
    EXPECT_EQ(dec(o, H("06 06 2A 90 80 80 80 00")), 0);
    o.acceptLongArcs = 1;
    EXPECT_EQ(dec(o, H("06 07 2A 81 80 80 80 80 01")), 9);
    char text[64];
    EXPECT_EQ(o.toText(text, sizeof text), 0);
    // Text conversion sizes.
    ASNobjectId s("1.2.840");
    EXPECT_EQ(s.toText(nullptr, 0, nullptr, true), 8);
    EXPECT_EQ(s.toText(text, 4, nullptr, true), -8);
    EXPECT_EQ(s.toText(text, 8, nullptr, true), 7);
    EXPECT_STREQ(text, "1.2.840");
    ASNobjectId c(s);
    EXPECT_TRUE(c == s);
    ASNobjectId d;
    d = s;
    EXPECT_TRUE(d == s);
    EXPECT_EQ(hexOf(enc(d)), "06032a8648");
}

TEST(CoreBitString, Construction)
{
    ASNbitstr b;
    ASSERT_EQ(b.resize(10), 1);
    EXPECT_EQ(hexOf(b.data(), b.length), "060000");
    b.setBit(9, 1);
    EXPECT_EQ(hexOf(b.data(), b.length), "060040");
    EXPECT_EQ(b.getBit(9), 1);
    EXPECT_EQ(b.getBit(b.bitCount()), 0);
    EXPECT_THROW(b.setBit(16, 1), std::runtime_error);
    EXPECT_THROW(b.getBit(-1), std::runtime_error);
    ASSERT_EQ(b.set(H("FF FF").data(), 2, 7), 1);
    EXPECT_EQ(hexOf(b.data(), b.length), "07ff80");
    EXPECT_EQ(b.bitCount(), 9);
    ASSERT_EQ(b.set(H("A0 00").data(), 2, 0), 1);
    b.trimTrailingZeros();
    EXPECT_EQ(hexOf(b.data(), b.length), "05a0");
    ASSERT_EQ(b.set(H("00 00").data(), 2, 0), 1);
    b.trimTrailingZeros();
    EXPECT_EQ(hexOf(b.data(), b.length), "00");
    ASNbitstr empty;
    EXPECT_EQ(hexOf(enc(empty)), "030100");
    ASNbitstr back;
    EXPECT_EQ(dec(back, H("03 01 00")), 3);
    EXPECT_EQ(back.bitCount(), 0);
    EXPECT_TRUE(back == empty);
    ASNbitstr x, y;
    x.set(H("F0").data(), 1, 4);
    y.set(H("FF").data(), 1, 4);
    EXPECT_TRUE(x == y);
    ASNbitstr z(x);
    EXPECT_TRUE(z == x);
}

// Equality counts the used bits only, the last octet's as well as whole ones.
TEST(CoreBitString, EqualityByBits)
{
    const Bytes longA(300, 0x5A);
    Bytes longB = longA;
    longB[150] = 0x5B;
    const struct {
        Bytes a;
        int unusedA;
        Bytes b;
        int unusedB;
        bool equal;
    } cases[] = {
        {H("F0"), 4, H("FF"), 4, true},            // unused bits differ
        {H("F0"), 4, H("E0"), 4, false},           // the last used bit differs
        {H("80"), 7, H("80"), 6, false},           // one bit against two
        {H("12 34"), 0, H("12 34"), 0, true},
        {H("12 34"), 0, H("13 34"), 0, false},     // the first octet
        {H("12 34"), 0, H("12 35"), 0, false},     // the last bit of a whole octet
        {H("12 34 C0"), 6, H("12 34 FF"), 6, true},
        {H("12 34 C0"), 6, H("12 34 80"), 6, false},
        {longA, 0, longA, 0, true},
        {longA, 0, longB, 0, false},
    };
    for (const auto& c : cases) {
        ASNbitstr x, y;
        ASSERT_EQ(x.set(c.a.data(), static_cast<int>(c.a.size()), c.unusedA), 1);
        ASSERT_EQ(y.set(c.b.data(), static_cast<int>(c.b.size()), c.unusedB), 1);
        EXPECT_EQ(c.equal, x == y) << hexOf(c.a) << " " << hexOf(c.b);
        EXPECT_EQ(c.equal, y == x);
    }
}

TEST(CoreBitString, EqualityCountsUsedBitsOnly)
{
    // Values read in place (BER padding bits kept) against owned ones; lengths around the
    // octet boundaries where a whole-octet comparison and the last partial octet meet.
    struct Case {
        const char* left;
        const char* right;
        bool equal;
    } cases[] = {
        {"03 02 04 F0", "03 02 04 FF", true},          // padding differs only
        {"03 02 04 F0", "03 02 04 E0", false},         // last used bit differs
        {"03 02 04 F0", "03 02 03 F0", false},         // one bit more
        {"03 03 00 12 34", "03 03 00 12 34", true},
        {"03 03 00 12 34", "03 03 00 12 35", false},   // last bit of a whole octet
        {"03 03 00 12 34", "03 03 00 13 34", false},   // in the first octet
        {"03 04 07 AA BB 80", "03 04 07 AA BB FF", true},
        {"03 04 07 AA BB 80", "03 04 07 AB BB 80", false},
        {"03 04 07 AA BB 80", "03 04 07 AA BB 00", false},
        {"03 03 00 00 00", "03 02 00 00", false},      // zero bits still count
        {"03 01 00", "03 02 00 00", false},
        {"03 01 00", "03 01 00", true},
    };
    for (const Case& c : cases) {
        for (unsigned char flags : {static_cast<unsigned char>(0), static_cast<unsigned char>(ASN_FLAG_CONST)}) {
            Bytes l = H(c.left), r = H(c.right);
            ASNbitstr a, b;
            ASSERT_EQ(dec(a, l, flags), static_cast<int>(l.size())) << c.left;
            ASSERT_EQ(dec(b, r), static_cast<int>(r.size())) << c.right;
            EXPECT_EQ(a == b, c.equal) << c.left << " / " << c.right;
            EXPECT_EQ(b == a, c.equal) << c.right << " / " << c.left;
        }
    }
}

TEST(CoreBitString, UnusedBitsRefusedEverywhere)
{
    for (const char* bad : {"03 02 08 00", "03 02 FF 00", "03 01 03"}) {
        Bytes in = H(bad);
        ASNbitstr b;
        EXPECT_EQ(dec(b, in), 0) << bad;
        EXPECT_EQ(dec(b, in, ASN_FLAG_CONST), 0) << bad;
        EXPECT_EQ(dec(b, in, ASN_FLAG_CONST | ASN_FLAG_COPY), 0) << bad;
        ASNany any;
        ASSERT_EQ(dec(any, in), static_cast<int>(in.size()));
        EXPECT_EQ(b.assignFromAny(any), 0) << bad;
        ASNbitstr s;
        MemFile m(in.data(), static_cast<int32_t>(in.size()), false);
        EXPECT_EQ(s.decodeStream(&m, nullptr), 0) << bad;
    }
    ASNbitstr b;
    EXPECT_EQ(dec(b, H("03 00")), 0);
    EXPECT_EQ(b.set(H("00").data(), 1, 8), 0);
    EXPECT_EQ(b.set(nullptr, 0, 3), 0);
    EXPECT_EQ(b.set(H("00").data(), 1, -1), 0);
    // Valid values read in place give their bits.
    Bytes ok = H("03 03 06 50 40");
    ASSERT_EQ(dec(b, ok, ASN_FLAG_CONST), 5);
    EXPECT_EQ(b.bitCount(), 10);
    EXPECT_EQ(b.getBit(1), 1);
    EXPECT_EQ(b.getBit(9), 1);
    EXPECT_EQ(enc(b), ok);
}
