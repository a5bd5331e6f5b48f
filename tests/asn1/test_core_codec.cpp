// Identifier and length octets, explicit tags, values read in place, lengths
// of BER input, nesting limits and the convenience codecs of ASNobject.
#include "asn1/asnany.h"
#include "asn1/asnbool.h"
#include "asn1/asnint.h"
#include "asn1/asnocstr.h"
#include "asn1/core_util.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

// SEQUENCE { INTEGER, OCTET STRING } built on the structure base.
using Pair = MemberPair<ASNinteger, ASNoctstr>;

int dec(ASNobject& o, const Bytes& b, unsigned char f = 0)
{
    return o.decodeBuffer(b.data(), static_cast<int>(b.size()), f);
}

} // namespace

TEST(CoreCodec, LengthForms)
{
    ASNinteger i;
    // Non-minimal long form is accepted and written back minimal.
    EXPECT_EQ(dec(i, H("02 81 01 05")), 4);
    EXPECT_EQ(hexOf(enc(i)), "020105");
    EXPECT_EQ(dec(i, H("02 84 00 00 00 01 07")), 7);
    EXPECT_EQ(i.toLong(), 7u);
    // Content longer than what is there.
    EXPECT_EQ(dec(i, H("02 05 01 02")), 0);
    // More than four length octets, or more than remain.
    EXPECT_EQ(dec(i, H("02 85 00 00 00 00 01 05")), 0);
    EXPECT_EQ(dec(i, H("02 84 00 00")), 0);
    // Announced lengths above 2^31-1 are refused before anything is allocated.
    ASNoctstr o;
    EXPECT_EQ(dec(o, H("04 84 80 00 00 00 AA BB")), 0);
    EXPECT_EQ(dec(o, H("04 84 FF FF FF FF AA")), 0);
    EXPECT_EQ(dec(o, H("04 84 7F FF FF FF AA")), 0);
    // Fewer than two octets.
    EXPECT_EQ(dec(i, H("02")), 0);
    EXPECT_EQ(i.decode(nullptr, 5, 0), 0);
}

TEST(CoreCodec, IdentifierChecks)
{
    ASNoctstr o;
    // Indefinite length on a primitive encoding.
    EXPECT_EQ(dec(o, H("04 80 00 00")), 0);
    // High tag number form, at both levels.
    ASNany any;
    EXPECT_EQ(dec(any, H("1F 01 00")), 0);
    ASNinteger ex(0x80);
    ex.makeExplicit();
    EXPECT_EQ(dec(ex, H("BF 1F 03 02 01 05")), 0);
    EXPECT_EQ(dec(ex, H("A0 03 1F 01 05")), 0);
    // A type without indefinite support refuses 30 80.
    Pair p;
    EXPECT_EQ(dec(p, H("30 80 02 01 01 04 00 00 00")), 0);
    // A structure is never primitive.
    EXPECT_EQ(dec(p, H("10 06 02 01 01 04 01 AA")), 0);
    EXPECT_EQ(dec(p, H("30 06 02 01 01 04 01 AA")), 8);
    // Universal tag 0 is the end-of-contents marker, never a value (found by
    // fuzzing: 00 81 00 inside an indefinite ANY was re-encoded as 00 00).
    EXPECT_EQ(dec(any, H("00 81 00")), 0);
    EXPECT_EQ(dec(any, H("20 00")), 0);
    EXPECT_EQ(dec(any, H("30 80 00 81 00 00 00")), 0);
    // Constructed INTEGER.
    ASNinteger i;
    EXPECT_EQ(dec(i, H("22 03 02 01 05")), 0);
}

TEST(CoreCodec, TagsTakenOrRefused)
{
    ASNany any;
    EXPECT_EQ(dec(any, H("02 01 05")), 3);
    EXPECT_EQ(any.tag, 0x02);
    EXPECT_EQ(dec(any, H("A3 03 02 01 05")), 5);
    EXPECT_EQ(any.tag, 0xA3);
    // A context-tagged value takes any non-universal tag...
    ASNoctstr ctx(0x80);
    EXPECT_EQ(dec(ctx, H("81 01 AA")), 3);
    EXPECT_EQ(ctx.tag, 0x81);
    EXPECT_EQ(dec(ctx, H("42 01 AA")), 3);
    EXPECT_EQ(ctx.tag, 0x42);
    // ...but never a universal one with the same number.
    ASNoctstr ctx4(0x84);
    EXPECT_EQ(dec(ctx4, H("04 01 AA")), 0);
    // A universal type refuses a context tag.
    ASNinteger i;
    EXPECT_EQ(dec(i, H("80 01 05")), 0);
    EXPECT_EQ(dec(i, H("0A 01 05")), 0);
}

TEST(CoreCodec, ExplicitTagging)
{
    ASNinteger i(0xA2);
    i.makeExplicit();
    EXPECT_EQ(i.getTag(), 0xA2);
    i.set(5);
    EXPECT_EQ(hexOf(enc(i)), "a203020105");
    EXPECT_EQ(i.encodedLength(), 5);
    ASNinteger j(0x82);
    j.makeExplicit();
    EXPECT_EQ(dec(j, H("A2 03 02 01 05")), 5);
    EXPECT_EQ(j.toLong(), 5u);
    EXPECT_EQ(j.getTag(), 0xA2);
    // The outer tag must be constructed and non-universal.
    EXPECT_EQ(dec(j, H("82 03 02 01 05")), 0);
    EXPECT_EQ(dec(j, H("30 03 02 01 05")), 0);
    // The inner value must fill the outer tag exactly.
    EXPECT_EQ(dec(j, H("A2 04 02 01 05 FF")), 0);
    EXPECT_EQ(dec(j, H("A2 04 02 02 05")), 0);
    // A fixed outer tag refuses another number.
    ASNinteger k(0xA1);
    k.makeExplicit();
    EXPECT_EQ(dec(k, H("A2 03 02 01 05")), 0);
    EXPECT_EQ(dec(k, H("A1 03 02 01 05")), 5);
    // Outer indefinite length: read and written back in the same form.
    ASNinteger m(0x80);
    m.makeExplicit();
    Bytes bi = H("A0 80 02 01 05 00 00");
    EXPECT_EQ(dec(m, bi), 7);
    EXPECT_EQ(m.encodedLength(), 7);
    EXPECT_EQ(enc(m), bi);
    EXPECT_EQ(dec(m, H("A0 80 02 01 05 00")), 0);
    EXPECT_EQ(dec(m, H("A0 80 02 01 05 01 00")), 0);
    // An outer tag that is still TAG_ANY cannot be written.
    ASNinteger n(TAG_ANY);
    n.makeExplicit();
    EXPECT_EQ(dec(n, H("A7 03 02 01 05")), 5);
    EXPECT_EQ(n.getTag(), 0xA7);
    ASNinteger unset(TAG_ANY);
    unset.makeExplicit();
    unset.set(1);
    EXPECT_THROW(enc(unset), std::runtime_error);
    // makeImplicit turns the outer tag back into the own tag.
    j.makeImplicit();
    EXPECT_EQ(j.tag, 0x82);
}

TEST(CoreCodec, SetTag)
{
    ASNoctstr o;
    o.setTag(0x86);
    EXPECT_EQ(o.tag, 0x86);
    EXPECT_TRUE(o.flags & ASN_FLAG_NONUNIVERSAL);
    o.setTag(0x04);
    EXPECT_FALSE(o.flags & ASN_FLAG_NONUNIVERSAL);
    ASNinteger e(0x80);
    e.makeExplicit();
    e.setTag(0x83);
    EXPECT_EQ(e.getTag(), 0xA3);
    EXPECT_EQ(e.tag, 0x02);
}

TEST(CoreCodec, ConstViewOffsetsAndExactOctets)
{
    // Non-minimal lengths at both levels of an explicitly tagged string.
    Bytes in = H("A0 83 00 00 07 04 83 00 00 02 AA BB");
    ASNoctstr o(0x80);
    o.makeExplicit();
    ASSERT_EQ(dec(o, in, ASN_FLAG_CONST), static_cast<int>(in.size()));
    EXPECT_TRUE(o.isConstView());
    ASSERT_EQ(o.length, 2);
    EXPECT_EQ(hexOf(o.data(), 2), "aabb");
    EXPECT_EQ(o.data(), in.data() + 10); // a view into the caller's buffer
    EXPECT_EQ(enc(o), in);
    EXPECT_EQ(o.encodedLength(), static_cast<int>(in.size()));
    EXPECT_EQ(digestOf(o), sha256Of(in));

    // Indefinite outer, non-minimal inner.
    Bytes in2 = H("A1 80 04 81 02 CC DD 00 00");
    ASNoctstr o2(0x81);
    o2.makeExplicit();
    ASSERT_EQ(dec(o2, in2, ASN_FLAG_CONST | ASN_FLAG_COPY), static_cast<int>(in2.size()));
    EXPECT_EQ(hexOf(o2.data(), 2), "ccdd");
    EXPECT_EQ(enc(o2), in2);
    EXPECT_EQ(digestOf(o2), sha256Of(in2));
    // The same value built in memory hashes its DER.
    ASNoctstr built(0x81);
    built.makeExplicit();
    built.set(H("CC DD").data(), 2);
    EXPECT_EQ(hexOf(enc(built)), "a1040402ccdd");
    EXPECT_EQ(digestOf(built), sha256Of(H("A1 04 04 02 CC DD")));
}

TEST(CoreCodec, ConstStructureHashesReceivedOctets)
{
    Bytes in = H("30 82 00 0B 02 81 01 05 04 84 00 00 00 01 AA");
    Pair p;
    ASSERT_EQ(dec(p, in, ASN_FLAG_CONST), static_cast<int>(in.size()));
    EXPECT_EQ(p.a.toLong(), 5u);
    EXPECT_EQ(p.b.data()[0], 0xAA);
    EXPECT_EQ(enc(p), in);
    EXPECT_EQ(digestOf(p), sha256Of(in));
    EXPECT_EQ(digestOf(p, 1), [&] {
        std::unique_ptr<LvHash> h(lvHashCreateObject(1));
        h->init();
        h->step(in.data(), static_cast<unsigned>(in.size()));
        h->finish();
        uint8_t d[20];
        h->getHash(20, d);
        return hexOf(d, 20);
    }());
    // The same structure decoded privately hashes its DER form.
    Pair q;
    ASSERT_EQ(dec(q, in), static_cast<int>(in.size()));
    Bytes der = H("30 06 02 01 05 04 01 AA");
    EXPECT_EQ(enc(q), der);
    EXPECT_EQ(digestOf(q), sha256Of(der));
    // A DER input hashes the same whether read in place or not.
    Pair r1, r2;
    ASSERT_EQ(dec(r1, der, ASN_FLAG_CONST), 8);
    ASSERT_EQ(dec(r2, der), 8);
    EXPECT_EQ(digestOf(r1), digestOf(r2));
    // Setters refuse a value read in place.
    EXPECT_THROW(p.b.set(H("01").data(), 1), std::runtime_error);
}

TEST(CoreCodec, CopiesAndLifetimes)
{
    Bytes in = H("04 03 01 02 03 04 02 AA BB");
    MemFile stream(in.data(), static_cast<int32_t>(in.size()), false);
    ASNoctstr a, b;
    // A private copy takes exactly the value; the stream moves past it only.
    ASSERT_EQ(a.decode(&stream, static_cast<int>(in.size()), ASN_FLAG_CONST | ASN_FLAG_COPY), 5);
    EXPECT_EQ(stream.tell(), 5u);
    ASSERT_EQ(b.decode(&stream, 4, ASN_FLAG_CONST | ASN_FLAG_COPY), 4);
    in.assign(in.size(), 0xEE); // the caller's buffer changes
    EXPECT_EQ(hexOf(a.data(), 3), "010203");
    EXPECT_EQ(hexOf(b.data(), 2), "aabb");
    EXPECT_EQ(hexOf(enc(a)), "0403010203");

    // CONST over a stream that is not a MemFile behaves as COPY.
    ASNoctstr c;
    {
        ForwardingFile f(H("04 02 CA FE"));
        ASSERT_EQ(c.decode(&f, 4, ASN_FLAG_CONST), 4);
    }
    EXPECT_EQ(hexOf(c.data(), 2), "cafe");
    EXPECT_EQ(hexOf(enc(c)), "0402cafe");

    // decodeBuffer with CONST alone keeps a view of the caller's buffer
    // (valid as long as that buffer); with COPY a private one.
    Bytes buf = H("02 01 07");
    ASNinteger v, w;
    ASSERT_EQ(dec(v, buf, ASN_FLAG_CONST), 3);
    ASSERT_EQ(dec(w, buf, ASN_FLAG_CONST | ASN_FLAG_COPY), 3);
    EXPECT_EQ(v.data(), buf.data() + 2);
    EXPECT_NE(w.data(), buf.data() + 2);
    buf[2] = 9;
    EXPECT_EQ(v.toLong(), 9u);
    EXPECT_EQ(w.toLong(), 7u);

    // convertFrom with CONST: the copy outlives the source object.
    ASNinteger target;
    {
        ASNinteger src;
        src.set(0x1234);
        EXPECT_EQ(target.convertFrom(src, ASN_FLAG_CONST), 1);
    }
    EXPECT_EQ(target.toLong(), 0x1234u);
    EXPECT_EQ(hexOf(enc(target)), "02021234");

    // encodeToOctets / vectors.
    ASNoctstr holder;
    EXPECT_EQ(target.encodeToOctets(holder), 4);
    EXPECT_EQ(hexOf(holder.data(), 4), "02021234");
    ASNinteger back;
    EXPECT_EQ(back.decodeOctets(holder), 4);
    EXPECT_EQ(back.toLong(), 0x1234u);
    Bytes v2;
    EXPECT_EQ(back.encodeVector(v2), 4);
    EXPECT_EQ(hexOf(v2), "02021234");
    EXPECT_EQ(back.decodeVector(H("02 01 01")), 3);
}

TEST(CoreCodec, IndefiniteTotalsCountConsumedOctets)
{
    // Non-minimal lengths inside an indefinite value: the total is what was
    // read (10), not the length of a re-encoding (7); the next value follows.
    Bytes in = H("30 80 02 82 00 01 05 00 00  02 01 09");
    MemFile s(in.data(), static_cast<int32_t>(in.size()), false);
    ASNany any;
    ASSERT_EQ(any.decode(&s, static_cast<int>(in.size()), 0), 9);
    EXPECT_EQ(s.tell(), 9u);
    ASNinteger next;
    EXPECT_EQ(next.decode(&s, 3, 0), 3);
    EXPECT_EQ(next.toLong(), 9u);
    // Read in place, the ANY keeps and writes the octets as received.
    ASNany c;
    ASSERT_EQ(dec(c, Bytes(in.begin(), in.begin() + 9), ASN_FLAG_CONST), 9);
    EXPECT_EQ(hexOf(enc(c)), "30800282000105" "0000");
    EXPECT_EQ(c.encodedLength(), 9);
}

TEST(CoreCodec, NestingDepthIsBounded)
{
    auto nested = [](int depth) {
        Bytes b;
        for (int i = 0; i < depth; ++i) {
            b.push_back(0x24);
            b.push_back(0x80);
        }
        b.push_back(0x04);
        b.push_back(0x01);
        b.push_back(0x5A);
        for (int i = 0; i < depth; ++i) {
            b.push_back(0);
            b.push_back(0);
        }
        return b;
    };
    ASNoctstr ok;
    Bytes shallow = nested(40);
    EXPECT_EQ(dec(ok, shallow), static_cast<int>(shallow.size()));
    EXPECT_EQ(ok.length, 1);
    ASNoctstr deep;
    EXPECT_EQ(dec(deep, nested(200)), 0);
    ASNany anyDeep;
    Bytes d = nested(200);
    for (size_t i = 0; i < d.size(); ++i)
        if (d[i] == 0x24)
            d[i] = 0x30;
    EXPECT_EQ(dec(anyDeep, d), 0);
    EXPECT_EQ(dec(anyDeep, d, ASN_FLAG_CONST), 0);
    EXPECT_EQ(ASNDepthGuard::current(), 0);
}

TEST(CoreCodec, AssignFromAny)
{
    ASNany any;
    ASSERT_EQ(dec(any, H("02 01 05")), 3);
    ASNinteger i;
    EXPECT_EQ(i.assignFromAny(any), 1);
    EXPECT_EQ(i.toLong(), 5u);
    EXPECT_EQ(i.decodeAny(any), 1);
    // Another universal type does not match.
    ASNany os;
    ASSERT_EQ(dec(os, H("04 01 00")), 3);
    EXPECT_EQ(i.assignFromAny(os), 0);
    EXPECT_EQ(i.decodeAny(os), -1);
    // An implicitly tagged element keeps its tag.
    ASNany tagged;
    ASSERT_EQ(dec(tagged, H("81 03 61 62 63")), 5);
    ASNoctstr s(0x80);
    EXPECT_EQ(s.assignFromAny(tagged), 1);
    EXPECT_EQ(s.tag, 0x81);
    EXPECT_EQ(hexOf(enc(s)), "8103616263");
    // An explicitly tagged member.
    ASNany ex;
    ASSERT_EQ(dec(ex, H("A0 03 02 01 05")), 5);
    ASNinteger e(0x80);
    e.makeExplicit();
    EXPECT_EQ(e.assignFromAny(ex), 1);
    EXPECT_EQ(e.toLong(), 5u);
    EXPECT_EQ(hexOf(enc(e)), "a003020105");
    ASNany junk;
    ASSERT_EQ(dec(junk, H("A0 04 02 01 05 00")), 6);
    EXPECT_EQ(e.assignFromAny(junk), 0);
    // A primitive type refuses a constructed element.
    ASNany cons;
    ASSERT_EQ(dec(cons, H("22 03 02 01 05")), 5);
    ASNinteger p;
    EXPECT_EQ(p.assignFromAny(cons), 0);
}

TEST(CoreCodec, AssignFromConstAnyOutlivesIt)
{
    Bytes in = H("30 81 06 02 01 05 04 01 AA");
    Pair p;
    {
        ASNany any;
        ASSERT_EQ(dec(any, in, ASN_FLAG_CONST), 9);
        EXPECT_EQ(p.assignFromAny(any), 1);
    }
    EXPECT_EQ(p.a.toLong(), 5u);
    EXPECT_EQ(enc(p), in);
    EXPECT_EQ(digestOf(p), sha256Of(in));
}
