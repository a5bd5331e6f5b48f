// Faults found in review: OBJECT IDENTIFIER and INTEGER contents that
// openssl refuses, and CHOICE values without a tag of their own streamed
// alone and as SET OF elements.
#include "core_util.h"
#include "untagged_choice.h"

#include "asn1/asnany.h"
#include "asn1/asnbool.h"
#include "asn1/asnchoice.h"
#include "asn1/asnexpl.h"
#include "asn1/asnint.h"
#include "asn1/asnobjid.h"
#include "asn1/asnocstr.h"
#include "asn1/asnseql.h"
#include "asn1/asnsetl.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {
int dec(ASNobject& o, const Bytes& b, unsigned char f = 0)
{
    return o.decodeBuffer(b.data(), static_cast<int>(b.size()), f);
}

struct OpensslLine {
    std::string kind, a, b;
};

// oids.txt: made by gen_oids.sh with the openssl command line.
std::vector<OpensslLine> opensslLines()
{
    std::vector<OpensslLine> v;
    std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/asn1/oids.txt");
    std::string line;
    while (std::getline(f, line)) {
        std::istringstream s(line);
        OpensslLine l;
        if (s >> l.kind >> l.a >> l.b)
            v.push_back(l);
    }
    return v;
}
} // namespace

TEST(ReviewOpenssl, ObjectIdentifiersAndIntegersAgreeWithOpenssl)
{
    auto lines = opensslLines();
    ASSERT_GE(lines.size(), 25u);
    for (const auto& l : lines) {
        SCOPED_TRACE(l.kind + " " + l.a + " " + l.b);
        if (l.kind == "text") {
            // openssl's DER of the dotted text, both ways.
            ASNobjectId fromText(l.a.c_str());
            EXPECT_EQ(hexOf(enc(fromText)), l.b);
            ASNobjectId fromDer;
            Bytes der = H(l.b.c_str());
            ASSERT_EQ(dec(fromDer, der), static_cast<int>(der.size()));
            std::string text;
            ASSERT_TRUE(fromDer.toString(text, nullptr));
            EXPECT_EQ(text, l.a);
            continue;
        }
        Bytes der = H(l.a.c_str());
        if (der[0] == 0x06) {
            ASNobjectId o;
            int r = dec(o, der);
            if (l.b == "BAD") {
                EXPECT_EQ(r, 0);
                continue;
            }
            ASSERT_EQ(r, static_cast<int>(der.size()));
            std::string text;
            ASSERT_TRUE(o.toString(text, nullptr));
            EXPECT_EQ(text, l.b);
        } else {
            ASNinteger i;
            EXPECT_EQ(dec(i, der) > 0, l.b != "BAD");
        }
    }
}

TEST(ReviewObjectId, PaddedSubidentifierGivesNoText)
{
    // A padded first subidentifier (value 1, that is 0.1) used to print as
    // "2." followed by a wrapped-around 64-bit number.
    const unsigned char padded[] = {0x80, 0x01, 0x02};
    char text[64];
    EXPECT_EQ(ASNobjectId::derToText(padded, 3, text, sizeof text, ".", true), 0);
    const unsigned char minimal[] = {0x01, 0x02};
    ASSERT_GT(ASNobjectId::derToText(minimal, 2, text, sizeof text, ".", true), 0);
    EXPECT_STREQ(text, "0.1.2");
    // Refused in place and through an ANY as well.
    ASNobjectId o;
    EXPECT_EQ(dec(o, H("06 03 2A 80 01"), ASN_FLAG_CONST), 0);
    ASNany any;
    ASSERT_EQ(dec(any, H("06 03 80 01 02")), 5);
    EXPECT_EQ(o.assignFromAny(any), 0);
}

TEST(ReviewInteger, EmptyContentRefusedEverywhere)
{
    Bytes empty = H("02 00");
    ASNinteger whole;
    EXPECT_EQ(dec(whole, empty), 0);
    ASNenum e;
    EXPECT_EQ(dec(e, H("0A 00")), 0);
    ASNinteger streamed;
    EXPECT_EQ(streamInPieces(streamed, empty, {1}), 0);
    ASNany any;
    ASSERT_EQ(dec(any, empty), 2);
    ASNinteger viaAny;
    EXPECT_EQ(viaAny.assignFromAny(any), 0);
    // A SEQUENCE OF INTEGER holding one refuses the whole list.
    ASNsequenceList<ASNinteger> list;
    EXPECT_EQ(dec(list, H("30 05 02 01 01 02 00")), 0);
    // One content octet is still fine, whole and streamed.
    ASNinteger one;
    EXPECT_EQ(streamInPieces(one, H("02 01 00"), {1}), 3);
    EXPECT_EQ(one.toLong(), 0u);
}

using Untagged = UntaggedChoice;

TEST(ReviewChoice, UntaggedChoiceStreamsLikeWholeDecode)
{
    const char* inputs[] = {"30 06 02 01 05 04 01 AA", "81 02 BE EF", "02 02 01 00"};
    const int picked[] = {0, 1, 2};
    for (int k = 0; k < 3; ++k) {
        Bytes in = H(inputs[k]);
        SCOPED_TRACE(inputs[k]);
        for (size_t piece : {size_t(1), size_t(2), in.size()}) {
            Untagged s;
            ASSERT_EQ(streamInPieces(s, in, {piece}), static_cast<int>(in.size()));
            EXPECT_EQ(s.chosenIndex(), picked[k]);
            EXPECT_EQ(enc(s), in);
            EXPECT_EQ(digestOf(s), sha256Of(in));
        }
        Untagged w;
        ASSERT_EQ(dec(w, in), static_cast<int>(in.size()));
        EXPECT_EQ(w.chosenIndex(), picked[k]);
    }
    // No alternative for the tag, or a bad alternative: no match, as whole.
    Untagged none;
    EXPECT_EQ(streamInPieces(none, H("04 01 AA"), {1}), 0);
    Untagged bad;
    EXPECT_EQ(streamInPieces(bad, H("02 00"), {1}), 0);
    // Streaming again after a reset reads a new value.
    Untagged again;
    ASSERT_EQ(streamInPieces(again, H("02 01 07"), {1}), 3);
    again.resetStreamCtx();
    ASSERT_EQ(streamInPieces(again, H("81 01 33"), {1}), 3);
    EXPECT_EQ(again.chosenIndex(), 1);
    EXPECT_EQ(hexOf(enc(again)), "810133");
}

TEST(ReviewChoice, SetOfUntaggedChoicesStreams)
{
    // Indefinite (as openssl streams CMS) and definite, octet by octet; the
    // streamed set is written in DER order: 02.. before 30.. before 81...
    Bytes indefinite = H("31 80 81 01 AA 30 03 02 01 05 02 01 07 00 00");
    Bytes definite = H("31 0B 81 01 AA 30 03 02 01 05 02 01 07");
    const std::string sortedContent = "02010730030201058101aa";
    for (const Bytes* in : {&indefinite, &definite}) {
        const std::string expected =
            in == &indefinite ? "3180" + sortedContent + "0000" : "310b" + sortedContent;
        for (size_t piece : {size_t(1), size_t(3), in->size()}) {
            ASNsetList<Untagged> set;
            ASSERT_EQ(streamInPieces(set, *in, {piece}), static_cast<int>(in->size()));
            ASSERT_EQ(set.GetCount(), 3);
            EXPECT_EQ(set.GetHead()->chosenIndex(), 1);
            EXPECT_EQ(set.GetTail()->chosenIndex(), 2);
            EXPECT_EQ(hexOf(enc(set)), expected);
        }
    }
    // An element of no alternative stops the set.
    ASNsetList<Untagged> wrong;
    EXPECT_EQ(streamInPieces(wrong, H("31 80 81 01 AA 04 00 00 00"), {1}), 0);
}

TEST(ReviewContainers, SequenceAppendNeedsATag)
{
    ASNsequenceList<ASNany> list;
    ASNany* untagged = new ASNany(TAG_ANY);
    try {
        list.append(untagged);
        ADD_FAILURE() << "an untagged element was appended";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("lib/libasn/asnseql"), std::string::npos);
        EXPECT_NE(std::string(e.what()).find("warunek: i->tag != TAG_ANY"), std::string::npos);
    }
    delete untagged;
    EXPECT_EQ(list.GetCount(), 0);
    ASNany* tagged = new ASNany(TAG_ANY);
    ASSERT_EQ(dec(*tagged, H("02 01 05")), 3);
    EXPECT_EQ(list.append(tagged), 1);
    ASNany* second = new ASNany(TAG_ANY);
    ASSERT_EQ(second->setEncoding(0x04, H("AA").data(), 1), 1);
    EXPECT_EQ(list.append(second), 1);
    // Never sorted: appended order.
    EXPECT_EQ(hexOf(enc(list)), "3006020105" "0401aa");

    Untagged c;
    c.choose(1);
    EXPECT_EQ(c.chosenIndex(), 1);
    EXPECT_THROW(c.choose(3), std::runtime_error);
}

TEST(ReviewStream, AnnouncedLengthKeepsTheResultCountable)
{
    // A streamed value has no available length to bound it: content that
    // with its header would pass the largest result does not match at once
    // (it used to be accepted, and the final count would overflow).
    ASNoctstr tooLong;
    EXPECT_EQ(streamInPieces(tooLong, H("04 84 7F FF FF FA"), {1}), 0);
    ASNoctstr largest;
    EXPECT_EQ(streamInPieces(largest, H("04 84 7F FF FF F9 01 02"), {1}), EASN_MORE);
    ASNsequenceList<ASNany> list;
    EXPECT_EQ(streamInPieces(list, H("30 84 80 00 00 00"), {2}), 0);
    // The whole decoder bounds by what is there.
    ASNoctstr whole;
    EXPECT_EQ(dec(whole, H("04 84 7F FF FF F9 01 02")), 0);
}

namespace {
// A streamed structure that announces its length through streamLength.
struct Announcing : ASNsequenceF {
    int decodeContent(GenericFile*, int) override { return 1; }
    int encodeContent(GenericFile*) const override { return 1; }
    int contentLength() const override { return 0; }
    void digestContent(LvHash*) const override {}
    int64_t streamLength(int64_t expected) const override { return expected + 2; }
    int streamEncodeStep(GenericFile* in, int64_t length, bool, GenericFile* out) override
    {
        uint8_t b[64] = {0x05, 0x00};
        uint32_t got = 0;
        if (length > 62 || in->read(static_cast<uint32_t>(length), b + 2, &got) != 0 || got != uint32_t(length))
            return 0;
        return out->write(got + 2, b) == 0 ? 1 : EASN_FILE;
    }
};
} // namespace

TEST(ReviewStream, StructuresAnnounceThroughStreamLength)
{
    Announcing a;
    Bytes content = H("AA BB CC");
    MemFile in(content.data(), 3, false);
    MemFile out;
    EXPECT_EQ(a.encodeStream(&in, 3, true, &out), 7);
    EXPECT_EQ(hexOf(out.data(), out.length()), "30050500aabbcc");
    EXPECT_EQ(a.lengthWithHeader(3), 7);
    // The explicit wrapper around it announces the same.
    ASNexpl<Announcing> wrapped;
    EXPECT_EQ(wrapped.streamContentLength(3), 7);
}

TEST(ReviewContainers, ImplicitlyTaggedSetIsConstructed)
{
    // [0] IMPLICIT SET OF (the certificates of a CMS SignedData): given the
    // context tag 0x80, the set is still written constructed and reads back.
    ASNsetList<ASNany> set(0x80);
    ASNany* e = new ASNany(TAG_ANY);
    ASSERT_EQ(dec(*e, H("02 01 05")), 3);
    ASSERT_EQ(set.append(e), 1);
    Bytes written = enc(set);
    EXPECT_EQ(hexOf(written), "a003020105");
    ASNsetList<ASNany> back(0x80);
    EXPECT_EQ(dec(back, written), 5);
    EXPECT_EQ(dec(back, H("80 03 02 01 05")), 0);
}

namespace {
// SEQUENCE { INTEGER, BOOLEAN OPTIONAL }: the optional member is tried with
// what is left of the content and is absent when it does not match.
struct OptionalTail : ASNsequenceF {
    ASNinteger a;
    ASNbool b;
    bool hasB = false;
    int decodeContent(GenericFile* in, int n) override
    {
        int r1 = a.decode(in, n, memberFlags());
        if (r1 < 1)
            return r1;
        int r2 = b.decode(in, n - r1, memberFlags());
        if (r2 < 0)
            return r2;
        hasB = r2 > 0;
        return int64_t(r1) + r2 == n ? 1 : 0;
    }
    int encodeContent(GenericFile* out) const override { return a.encode(out) < 1 ? 0 : 1; }
    int contentLength() const override { return a.encodedLength(); }
    void digestContent(LvHash* h) const override { a.updateDigest(h); }
};
} // namespace

TEST(ReviewCodec, NothingLeftMeansNothingAvailable)
{
    // The value is followed by unrelated octets (the next member of its
    // parent). With its content used up, the optional member must not read
    // them: it used to, and the whole value was refused.
    Bytes in = H("30 03 02 01 05 01 01 FF");
    OptionalTail t;
    MemFile m(in.data(), static_cast<int32_t>(in.size()), false);
    ASSERT_EQ(t.decode(&m, static_cast<int>(in.size()), 0), 5);
    EXPECT_FALSE(t.hasB);
    EXPECT_EQ(m.tell(), 5u);
    // A length below 2 gives 0; a negative one leaves the stream as the bound.
    ASNinteger i;
    MemFile z(in.data() + 2, 3, false);
    EXPECT_EQ(i.decode(&z, 0, 0), 0);
    EXPECT_EQ(i.decode(&z, 1, 0), 0);
    EXPECT_EQ(z.tell(), 0u);
    EXPECT_EQ(i.decode(&z, -1, 0), 3);
    EXPECT_EQ(i.toLong(), 5u);
}

TEST(ReviewStream, BoundedStreamingNeverReadsPastTheBound)
{
    // An indefinite member whose end-of-contents lies beyond its bound: it
    // used to read on (the octets after it belong to the next member) and
    // only then refuse.
    Bytes in = H("24 80 04 01 AA 00 00 02 01 05");
    ASNoctstr o;
    MemFile m(in.data(), static_cast<int32_t>(in.size()), false);
    EXPECT_EQ(o.decodeStream(&m, 5, 0), 0);
    EXPECT_LE(m.tell(), 5u);

    // Within its bound, fed in pieces of three octets, the member completes
    // and leaves the next member untouched.
    ASNoctstr member;
    size_t pos = 0;
    int r = EASN_MORE;
    while (r == EASN_MORE && pos < in.size()) {
        size_t n = in.size() - pos < 3 ? in.size() - pos : 3;
        MemFile piece(in.data() + pos, static_cast<int32_t>(n), false);
        r = member.decodeStream(&piece, 7, 0); // the bound of the whole value
        pos += piece.tell();
    }
    ASSERT_EQ(r, 7);
    EXPECT_EQ(pos, 7u);
    EXPECT_EQ(member.length, 1);
    ASNinteger next;
    MemFile rest(in.data() + pos, static_cast<int32_t>(in.size() - pos), false);
    EXPECT_EQ(next.decodeStream(&rest, 3, 0), 3);
    EXPECT_EQ(next.toLong(), 5u);
}

TEST(ReviewStream, LargeAnnouncedLengthsWriteWholeHeadersOrNone)
{
    // A value streamed through announces its length before any content
    // arrives. An explicit header of such a length takes up to eighteen
    // octets (it used to be built in a buffer of sixteen), and a length our
    // own streaming decoder cannot read back (eight length octets or more)
    // writes nothing.
    struct Row {
        bool isExplicit;
        int64_t length;
        const char* header; // "" : refused, nothing written
    };
    const int64_t top = ASN_MAX_STREAM_LENGTH;
    const Row rows[] = {
        {false, int64_t(1) << 50, "04 87 04 00 00 00 00 00 00"},
        {false, top - 1, "04 87 FF FF FF FF FF FF FF"},
        {false, top, ""},
        {true, int64_t(1) << 50, "A0 87 04 00 00 00 00 00 09 04 87 04 00 00 00 00 00 00"},
        {true, top - 10, "A0 87 FF FF FF FF FF FF FF 04 87 FF FF FF FF FF FF F6"},
        {true, top - 9, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.length);
        ASNoctstr o(row.isExplicit ? 0x80 : 0);
        if (row.isExplicit)
            o.makeExplicit();
        ASSERT_EQ(o.setStreamPassThrough(true), 1);
        MemFile in, out;
        const int64_t r = o.encodeStream(&in, row.length, false, &out);
        const Bytes want = H(row.header);
        EXPECT_EQ(hexOf(out.data(), out.length()), hexOf(want));
        EXPECT_EQ(r, want.empty() ? 0 : EASN_MORE);
        if (want.empty() || row.isExplicit)
            continue;
        // What is written is read back: the decoder waits for the content.
        ASNoctstr back;
        ASSERT_EQ(back.setStreamPassThrough(true), 1);
        MemFile header(const_cast<uint8_t*>(want.data()), static_cast<int32_t>(want.size()), false);
        EXPECT_EQ(back.decodeStream(&header, static_cast<GenericFile*>(nullptr)), EASN_MORE);
    }
    // The first length that cannot be written is the first the decoder refuses.
    ASNoctstr refused;
    ASSERT_EQ(refused.setStreamPassThrough(true), 1);
    Bytes eight = H("04 88 01 00 00 00 00 00 00 00");
    MemFile header(eight.data(), static_cast<int32_t>(eight.size()), false);
    EXPECT_EQ(refused.decodeStream(&header, static_cast<GenericFile*>(nullptr)), 0);
}

TEST(ReviewCodec, FailedAssignFromViewedAnyKeepsNoView)
{
    // An ANY read in place is re-read over a private copy of its octets; when
    // that fails, the copy goes, and nothing may still view it (the members
    // read before the failure and, for an explicit value, the value itself).
    struct Row {
        const char* any;
        bool isExplicit;
    };
    const Row rows[] = {
        {"30 06 04 01 61 02 01 05", false}, // the second member is no OCTET STRING
        {"30 06 04 01 61 04 02 62", false}, // the second member runs past the content
        {"A1 05 04 01 61 05 00", true},     // octets after the inner value
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.any);
        const Bytes der = H(row.any);
        ASNany any;
        ASSERT_EQ(dec(any, der, ASN_FLAG_CONST | ASN_FLAG_COPY), static_cast<int>(der.size()));
        ASSERT_TRUE(any.isConstView());
        if (row.isExplicit) {
            ASNoctstr o(0x81);
            o.makeExplicit();
            EXPECT_LT(o.assignFromAny(any), 1);
            EXPECT_FALSE(o.isConstView());
            EXPECT_EQ(o.data(), nullptr);
            ASSERT_EQ(o.set(reinterpret_cast<const unsigned char*>("z"), 1), 1);
            EXPECT_EQ(hexOf(enc(o)), "a10304017a");
            continue;
        }
        MemberPair<ASNoctstr, ASNoctstr> s;
        EXPECT_LT(s.assignFromAny(any), 1);
        EXPECT_FALSE(s.isConstView());
        EXPECT_FALSE(s.a.isConstView());
        EXPECT_FALSE(s.b.isConstView());
        // Every member takes a value again and the structure writes it.
        ASSERT_EQ(s.a.set(reinterpret_cast<const unsigned char*>("x"), 1), 1);
        ASSERT_EQ(s.b.set(reinterpret_cast<const unsigned char*>("y"), 1), 1);
        EXPECT_EQ(hexOf(enc(s)), "3006040178040179");
    }
}
