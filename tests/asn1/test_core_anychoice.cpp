// ANY and CHOICE.
#include "asn1/asnany.h"
#include "asn1/asnchoice.h"
#include "asn1/asnint.h"
#include "asn1/asnocstr.h"
#include "asn1/core_util.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {
int dec(ASNobject& o, const Bytes& b, unsigned char f = 0)
{
    return o.decodeBuffer(b.data(), static_cast<int>(b.size()), f);
}

// A SEQUENCE of arbitrary elements, for the [1] alternative.
struct AnySeq : ASNsequenceF {
    explicit AnySeq(unsigned char t = 0) : ASNsequenceF(t) {}
    ASNany item;
    int decodeContent(GenericFile* in, int n) override
    {
        if (n == 0)
            return 1;
        int r = item.decode(in, n, memberFlags());
        return r < 1 ? r : (r == n ? 1 : 0);
    }
    int encodeContent(GenericFile* out) const override
    {
        int r = item.encode(out);
        return r < 1 ? r : 1;
    }
    int contentLength() const override { return item.tag == TAG_ANY ? 0 : item.encodedLength(); }
    void digestContent(LvHash* h) const override
    {
        if (item.tag != TAG_ANY)
            item.updateDigest(h);
    }
};

// CHOICE { [0] IMPLICIT OCTET STRING, [1] IMPLICIT SEQUENCE, INTEGER }
struct Choice : ASNchoice {
    explicit Choice(unsigned char t = 0) : ASNchoice(t), os(0x80), seq(0xA1) {}
    ASNoctstr os;
    AnySeq seq;
    ASNinteger num;
    mutable ASNobject* list[4];
    ASNobject* const* objectList() const override
    {
        list[0] = const_cast<ASNoctstr*>(&os);
        list[1] = const_cast<AnySeq*>(&seq);
        list[2] = const_cast<ASNinteger*>(&num);
        list[3] = nullptr;
        return list;
    }
    Choice& operator=(const Choice& o)
    {
        ASNchoice::operator=(o);
        return *this;
    }
};
} // namespace

TEST(CoreAny, DecodeAndReencode)
{
    ASNany a;
    ASSERT_EQ(dec(a, H("02 01 05")), 3);
    EXPECT_EQ(a.tag, 0x02);
    EXPECT_EQ(a.length, 1);
    EXPECT_EQ(a.content()[0], 0x05);
    EXPECT_EQ(hexOf(enc(a)), "020105");
    ASNinteger i;
    EXPECT_EQ(i.assignFromAny(a), 1);
    EXPECT_EQ(i.toLong(), 5u);
    ASNany seq(0x30);
    EXPECT_EQ(dec(seq, H("31 00")), 0);
    EXPECT_EQ(dec(seq, H("30 00")), 2);
    // Indefinite content: the elements, written back in the same form.
    ASNany ind;
    ASSERT_EQ(dec(ind, H("30 80 02 01 01 00 00")), 7);
    EXPECT_EQ(hexOf(ind.content(), ind.length), "020101");
    EXPECT_EQ(hexOf(enc(ind)), "30800201010000");
    EXPECT_EQ(ind.encodedLength(), 7);
    EXPECT_EQ(dec(ind, H("30 80 02 01 01 00")), 0);
    EXPECT_EQ(dec(ind, H("30 80 02 01 01")), 0);
    // Setters and comparisons.
    ASNany b;
    EXPECT_EQ(b.setEncoding(0x04, H("AA BB").data(), 2), 1);
    EXPECT_EQ(hexOf(enc(b)), "0402aabb");
    ASNany c;
    c = b;
    EXPECT_TRUE(c.equals(b));
    EXPECT_EQ(c.setContent(nullptr, 0), 1);
    EXPECT_FALSE(c.equals(b));
    ASNinteger v;
    v.set(300);
    ASNany d;
    d.setObject(v);
    EXPECT_EQ(d.tag, 0x02);
    EXPECT_EQ(hexOf(enc(d)), "0202012c");
    ASNany e(0x30);
    e.setObject(v); // the expected tag does not restrict setObject
    EXPECT_EQ(e.tag, 0x02);
    EXPECT_EQ(e.expectedTag, 0x30);
    ASNany fresh;
    EXPECT_EQ(hexOf(enc(fresh)), "ff00");
}

TEST(CoreAny, ConstKeepsPrivateCopy)
{
    Bytes in = H("30 80 04 81 02 AA BB 00 00");
    ASNany a;
    ASSERT_EQ(dec(a, in, ASN_FLAG_CONST), 9);
    EXPECT_TRUE(a.isConstView());
    const unsigned char* c = a.content();
    in.assign(in.size(), 0); // the caller's buffer goes away
    EXPECT_EQ(hexOf(c, a.length), "048102aabb");
    EXPECT_EQ(hexOf(a.content(), a.length), "048102aabb");
    EXPECT_EQ(hexOf(enc(a)), "3080048102aabb0000");
    EXPECT_EQ(digestOf(a), sha256Of(H("30 80 04 81 02 AA BB 00 00")));
    EXPECT_THROW(a.setContent(nullptr, 0), std::runtime_error);
    // A copy of a view is an ordinary value.
    ASNany b;
    b = a;
    EXPECT_FALSE(b.isConstView());
    EXPECT_EQ(hexOf(enc(b)), "3080048102aabb0000");
    // Streams of other kinds work the same.
    ASNany f;
    ForwardingFile ff(H("04 02 01 02"));
    EXPECT_EQ(f.decode(&ff, 4, ASN_FLAG_CONST), 4);
    EXPECT_EQ(hexOf(enc(f)), "04020102");
}

TEST(CoreChoice, PicksByNumberAndClass)
{
    Choice ch;
    EXPECT_EQ(ch.chosenIndex(), -1);
    ASSERT_EQ(dec(ch, H("A0 03 04 01 AA")), 5); // [0] given constructed: constructed bit not compared
    EXPECT_EQ(ch.chosenIndex(), 0);
    EXPECT_EQ(hexOf(ch.os.data(), ch.os.length), "aa");
    EXPECT_EQ(dec(ch, H("82 01 00")), 0);
    EXPECT_EQ(ch.chosenIndex(), -1);
    ASSERT_EQ(dec(ch, H("A1 03 02 01 07")), 5);
    EXPECT_EQ(ch.chosenIndex(), 1);
    EXPECT_EQ(hexOf(enc(ch)), "a103020107");
    ASSERT_EQ(dec(ch, H("02 01 09")), 3);
    EXPECT_EQ(ch.chosenIndex(), 2);
    EXPECT_EQ(ch.chosenTag(), 0x02);
    EXPECT_EQ(hexOf(enc(ch)), "020109");
    EXPECT_EQ(ch.encodedLength(), 3);
    Choice other;
    other = ch;
    EXPECT_EQ(other.chosenIndex(), 2);
    EXPECT_TRUE(other.equals(ch));
    ch.clear();
    EXPECT_EQ(ch.chosenIndex(), -1);
    EXPECT_FALSE(other.equals(ch));
    ch.chooseByTag(0x02);
    EXPECT_EQ(ch.chosenIndex(), 2);
    ch.chooseByIndex(1);
    EXPECT_EQ(ch.chosenIndex(), 1);
    EXPECT_THROW(ch.chooseByIndex(3), std::runtime_error);
    EXPECT_THROW(ch.chooseByTag(0x55), std::runtime_error);
    ch.clear();
    EXPECT_THROW(ch.chosenTag(), std::runtime_error);
    // Through an ANY.
    ASNany any;
    ASSERT_EQ(dec(any, H("80 02 01 02")), 4);
    EXPECT_EQ(ch.assignFromAny(any), 1);
    EXPECT_EQ(ch.chosenIndex(), 0);
    EXPECT_EQ(hexOf(enc(ch)), "80020102");
}

TEST(CoreChoice, ExplicitHeaderOnceAndConsistent)
{
    Choice ch(0x82); // [2] EXPLICIT CHOICE
    EXPECT_TRUE(ch.isExplicit());
    Bytes in = H("A2 05 02 03 01 00 01");
    ASSERT_EQ(dec(ch, in), 7);
    EXPECT_EQ(ch.chosenIndex(), 2);
    EXPECT_EQ(ch.num.toLong(), 0x10001u);
    EXPECT_EQ(enc(ch), in);
    EXPECT_EQ(ch.encodedLength(), 7);
    EXPECT_EQ(digestOf(ch), sha256Of(in));
    // The explicit tag must be constructed and of the choice's number.
    EXPECT_EQ(dec(ch, H("82 03 02 01 05")), 0);
    EXPECT_EQ(dec(ch, H("A3 03 02 01 05")), 0);
    EXPECT_EQ(dec(ch, H("A2 04 02 01 05 00")), 0);
    // Indefinite: 0x80, the alternative, then end-of-contents, all agreeing.
    Bytes ind = H("A2 80 80 01 AA 00 00");
    ASSERT_EQ(dec(ch, ind), 7);
    EXPECT_EQ(ch.chosenIndex(), 0);
    EXPECT_EQ(ch.encodedLength(), 7);
    EXPECT_EQ(enc(ch), ind);
    EXPECT_EQ(digestOf(ch), sha256Of(ind));
    EXPECT_EQ(dec(ch, H("A2 80 80 01 AA 00")), 0);
    // Read in place with a non-minimal length: written back exactly.
    Bytes nm = H("A2 81 03 02 01 05");
    ASSERT_EQ(dec(ch, nm, ASN_FLAG_CONST), 6);
    EXPECT_EQ(enc(ch), nm);
    EXPECT_EQ(ch.encodedLength(), 6);
    EXPECT_EQ(digestOf(ch), sha256Of(nm));
    // Through an ANY holding the explicit element.
    ASNany any;
    ASSERT_EQ(dec(any, H("A2 03 02 01 05")), 5);
    Choice viaAny(0x82);
    EXPECT_EQ(viaAny.assignFromAny(any), 1);
    EXPECT_EQ(viaAny.num.toLong(), 5u);
    EXPECT_EQ(hexOf(enc(viaAny)), "a203020105");
    ASNany wrong;
    ASSERT_EQ(dec(wrong, H("A1 03 02 01 05")), 5);
    EXPECT_EQ(viaAny.assignFromAny(wrong), 0);
}

TEST(CoreChoice, StreamedWithoutInvariantFailure)
{
    // Found by fuzzing: streaming an explicit choice raised an invariant
    // failure (nothing chosen yet) instead of reading the alternative.
    Bytes in = H("A2 03 02 01 05");
    Choice ch(0x82);
    EXPECT_EQ(streamInPieces(ch, in, {1}), 5);
    EXPECT_EQ(ch.chosenIndex(), 2);
    EXPECT_EQ(ch.num.toLong(), 5u);
    EXPECT_EQ(enc(ch), in);
    // A choice without a tag of its own streams its alternative's encoding.
    Choice plain;
    EXPECT_EQ(streamInPieces(plain, H("02 01 05"), {1}), 3);
    EXPECT_EQ(plain.chosenIndex(), 2);
}
