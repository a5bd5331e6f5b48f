// Explicit tagging wrapper and the content-info frame, whole and streamed.
#include "asn1/asnany.h"
#include "asn1/asnexpl.h"
#include "asn1/asnint.h"
#include "asn1/asnocstr.h"
#include "asn1/asnseql.h"
#include "asn1/asnsetl.h"
#include "asn1/continfo.h"
#include "test_cont_helpers.h"

#include <memory>
#include <stdexcept>
#include <string>

namespace {

const std::string ID_DATA = "06 09 2A 86 48 86 F7 0D 01 07 01";

TEST(ContExplicit, WrapsTheCompleteInnerEncoding)
{
    ASNexpl<ASNinteger> version(0xA0);
    version->set(2);
    Bytes want = hexBytes("A0 03 02 01 02");
    EXPECT_EQ(want, encoded(version));
    // SHA-256 of A0 03 02 01 02 (openssl dgst): the outer tag is hashed too.
    Bytes sha = hexBytes("60d7526843038197add4d2a2168107f7e1f181308535565ac6df5ac83e49a3a3");
    EXPECT_EQ(sha, sha256Of(version));
    for (unsigned char flags : {0, 1}) {
        ASNexpl<ASNinteger> back(0xA0);
        ASSERT_EQ(5, decodeAll(back, want, flags));
        EXPECT_EQ(2u, back->toLong());
        EXPECT_EQ(sha, sha256Of(back));
    }

    ASNexpl<ASNinteger> v(0xA0);
    EXPECT_EQ(0, decodeAll(v, hexBytes("A0 04 02 01 02 FF"))); // longer than the inner value
    EXPECT_EQ(0, decodeAll(v, hexBytes("A0 00 02 01 05")));    // too short to hold one
    Bytes indef = hexBytes("A0 80 02 01 02 00 00");
    ASSERT_EQ(7, decodeAll(v, indef));
    EXPECT_EQ(indef, encoded(v));
    EXPECT_EQ(0, decodeAll(v, hexBytes("A0 80 02 01 02 05 00")));
    // Non-minimal inner length: the total is the octets read.
    Bytes nm = hexBytes("A0 80 02 81 01 05 00 00 05 00");
    MemFile in(nm.data(), static_cast<int32_t>(nm.size()), false);
    EXPECT_EQ(8, v.decode(&in, static_cast<int>(nm.size()), 0));
    EXPECT_EQ(8u, in.tell());
}

TEST(ContExplicit, CopyKeepsTheConstViewInvariant)
{
    Bytes der = hexBytes("A1 05 04 03 61 62 63");
    ASNexpl<ASNoctstr> view(0xA1);
    ASSERT_EQ(7, decodeAll(view, der, ASN_FLAG_CONST));
    ASNexpl<ASNoctstr> copy(0xA1);
    copy = view; // out of a view: an ordinary value
    EXPECT_FALSE(copy.flags & ASN_FLAG_CONST);
    copy->set(reinterpret_cast<const unsigned char*>("xy"), 2);
    EXPECT_EQ(hexBytes("A1 04 04 02 78 79"), encoded(copy));
    try {
        view = copy;
        FAIL() << "a view was overwritten";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ("Naruszenie niezmiennika: lib/libasn/asnexpl(62), warunek: !( flags & ASN_FLAG_CONST )",
                  std::string(e.what()));
    }
    EXPECT_EQ(der, encoded(view));
}

TEST(ContExplicit, InPlaceInnerIsAViewWhateverTheLengthForm)
{
    // Definite, indefinite, and indefinite with a constructed inner string:
    // read in place, the inner value views the received octets and the
    // wrapper writes them back unchanged.
    const char* const cases[] = {"A1 05 04 03 61 62 63", "A1 80 04 03 61 62 63 00 00",
                                 "A1 80 24 80 04 01 61 04 02 62 63 00 00 00 00"};
    for (const char* hex : cases) {
        SCOPED_TRACE(hex);
        const Bytes der = hexBytes(hex);
        ASNexpl<ASNoctstr> w(0xA1);
        ASSERT_EQ(static_cast<int>(der.size()), decodeAll(w, der, ASN_FLAG_CONST | ASN_FLAG_COPY));
        EXPECT_TRUE(w->isConstView());
        ASSERT_NE(nullptr, w->data());
        EXPECT_EQ(Bytes({0x61, 0x62, 0x63}), Bytes(w->data(), w->data() + w->length));
        EXPECT_EQ(der, encoded(w));
        // clear() lets go of the view: the inner value takes a new one.
        ASSERT_NO_THROW(w.clear());
        EXPECT_FALSE(w->isConstView());
        w->set(reinterpret_cast<const unsigned char*>("xy"), 2);
        EXPECT_EQ(hexBytes("A1 04 04 02 78 79"), encoded(w));
    }
}

TEST(ContExplicit, ReleasedContainersHoldNoViewAndTakeValues)
{
    // What each container holds after releaseViews of an in-place decode:
    // a view's content is gone, and the container is writable again.
    const Bytes seq = hexBytes("30 06 04 01 61 04 01 62");
    const Bytes set = hexBytes("31 06 04 01 61 04 01 62");
    const Bytes any = hexBytes("A3 03 04 01 61");
    const Bytes wrapped = hexBytes("A0 05 30 03 04 01 61");
    ASNsequenceList<ASNoctstr> s;
    ASNsetList<ASNoctstr> t;
    ASNany a;
    ASNexpl<ASNsequenceList<ASNoctstr>> w(0xA0);
    struct Row {
        ASNobject* object;
        const Bytes* der;
    } rows[] = {{&s, &seq}, {&t, &set}, {&a, &any}, {&w, &wrapped}};
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::PrintToString(*r.der));
        std::unique_ptr<Bytes> copy(new Bytes(*r.der));
        ASSERT_EQ(static_cast<int>(r.der->size()),
                  decodeAll(*r.object, *copy, ASN_FLAG_CONST | ASN_FLAG_COPY));
        copy.reset(); // the object views its own copy only
        r.object->releaseViews();
        EXPECT_FALSE(r.object->flags & (ASN_FLAG_CONST | ASN_FLAG_COPY));
        EXPECT_EQ(nullptr, r.object->source);
    }
    EXPECT_EQ(0, s.GetCount());
    EXPECT_EQ(0, t.GetCount());
    EXPECT_EQ(0, a.length);
    EXPECT_EQ(0, w->GetCount());
    EXPECT_EQ(1, t.append(new ASNoctstr()));
    EXPECT_EQ(1, a.setContent(reinterpret_cast<const unsigned char*>("z"), 1));
    EXPECT_EQ(1, w->append(new ASNoctstr()));
    EXPECT_EQ(hexBytes("A0 04 30 02 04 00"), encoded(w));
}

TEST(ContExplicit, AssignFromAnyAndFromObject)
{
    ASNany any; // a tagged member read as ANY
    ASSERT_EQ(5, decodeAll(any, hexBytes("A2 03 02 01 07")));
    ASNexpl<ASNinteger> v(0xA2);
    EXPECT_EQ(1, v.assignFromAny(any));
    EXPECT_EQ(hexBytes("A2 03 02 01 07"), encoded(v));
    ASNany trailing;
    ASSERT_EQ(6, decodeAll(trailing, hexBytes("A2 04 02 01 07 00")));
    EXPECT_EQ(0, v.assignFromAny(trailing)); // exactly one inner value

    ASNany inner, octets; // the ANY holds the inner value itself
    ASSERT_EQ(3, decodeAll(inner, hexBytes("02 01 09")));
    ASSERT_EQ(3, decodeAll(octets, hexBytes("04 01 09")));
    EXPECT_EQ(1, v.assignFromObject(inner));
    EXPECT_EQ(hexBytes("A2 03 02 01 09"), encoded(v));
    EXPECT_LT(v.assignFromObject(octets), 1);
    ASNexpl<ASNany> open(0xA0);
    EXPECT_EQ(1, open.assignFromObject(octets));
    EXPECT_EQ(hexBytes("A0 03 04 01 09"), encoded(open));
}

TEST(ContExplicit, Streaming)
{
    Bytes input = hexBytes("A3 0A 30 08 02 01 01 04 01 61 05 00");
    for (unsigned seed : {0u, 3u}) {
        ASNexpl<ASNsequenceList<ASNany>> v(0xA3);
        ASSERT_EQ(12, streamInPieces(v, input, splitFor(input.size(), seed)));
        EXPECT_EQ(input, encoded(v));
    }
    Bytes indef = hexBytes("A0 80 02 01 02 00 00");
    ASNexpl<ASNinteger> vi(0xA0);
    ASSERT_EQ(7, streamInPieces(vi, indef, {0}));
    EXPECT_EQ(indef, encoded(vi));
    ASNexpl<ASNinteger> over(0xA0); // inner value longer than the wrapper
    EXPECT_EQ(0, streamInPieces(over, hexBytes("A0 03 02 05 01 02 03 04 05"), {0}));

    // Encoding 300 octets passed through: the header announces them.
    Bytes payload(300, 'z');
    ASNexpl<ASNoctstr> v(0xA0);
    ASSERT_EQ(1, v->setStreamPassThrough(true));
    MemFile in(payload.data(), 300, false);
    MemFile out;
    ASSERT_EQ(308, v.encodeStream(&in, 300, true, &out));
    Bytes want = hexBytes("A0 82 01 30 04 82 01 2C");
    want.insert(want.end(), payload.begin(), payload.end());
    EXPECT_EQ(want, Bytes(out.data(), out.data() + out.length()));
}

TEST(ContContentInfo, WithoutContent)
{
    Bytes input = hexBytes("30 0B " + ID_DATA);
    Bytes indef = hexBytes("30 80 " + ID_DATA + " 00 00");
    for (const Bytes& b : {input, indef}) {
        ContentInfo<ASNoctstr> ci;
        ASSERT_EQ(static_cast<int>(b.size()), decodeAll(ci, b));
        EXPECT_EQ(0, ci.contentPresent);
        EXPECT_TRUE(ci.contentType.equalsText("1.2.840.113549.1.7.1"));
        EXPECT_EQ(b, encoded(ci));
        ContentInfo<ASNoctstr> s;
        EXPECT_EQ(static_cast<int>(b.size()), streamInPieces(s, b, {0}));
        EXPECT_EQ(0, s.contentPresent);
    }
    // The content type is mandatory.
    ContentInfo<ASNoctstr> empty;
    EXPECT_EQ(0, decodeAll(empty, hexBytes("30 00 06 03 2A 03 04")));
    EXPECT_EQ(0, streamInPieces(empty, hexBytes("30 00"), {0}));
}

TEST(ContContentInfo, OpensslDataWholeStreamedAndCopied)
{
    Bytes payload(3000, 'x');
    for (const char* file : {"data.der", "data_stream.der"}) {
        Bytes der = readData(file);
        ContentInfo<ASNoctstr> ci;
        ASSERT_EQ(static_cast<int>(der.size()), decodeAll(ci, der)) << file;
        ASSERT_EQ(3000, ci.value().length);
        EXPECT_EQ(payload, Bytes(ci.value().data(), ci.value().data() + 3000));
        EXPECT_EQ(der, encoded(ci));
        for (unsigned seed = 0; seed < 3; ++seed) {
            ContentInfo<ASNoctstr> s;
            ASSERT_EQ(static_cast<int>(der.size()), streamInPieces(s, der, splitFor(der.size(), seed))) << file;
            EXPECT_EQ(1, s.contentPresent);
            ASSERT_EQ(3000, s.value().length);
            EXPECT_EQ(payload, Bytes(s.value().data(), s.value().data() + 3000));
        }
        ContentInfo<ASNoctstr> pass; // passed through instead of kept
        ASSERT_EQ(1, pass.value().setStreamPassThrough(true));
        MemFile out;
        ASSERT_EQ(static_cast<int>(der.size()), streamInPieces(pass, der, splitFor(der.size(), 11), &out));
        EXPECT_EQ(payload, Bytes(out.data(), out.data() + out.length()));
    }
    // Member-wise copy, out of a view and never into one.
    Bytes der = readData("data.der");
    ContentInfo<ASNoctstr> view, copy;
    ASSERT_GT(decodeAll(view, der, ASN_FLAG_CONST), 0);
    copy = view;
    EXPECT_EQ(der, encoded(copy));
    EXPECT_THROW(view = copy, std::runtime_error);
}

TEST(ContContentInfo, StreamedEncodingMatchesOpenssl)
{
    Bytes payload(3000, 'x');
    for (bool indefinite : {false, true}) {
        ContentInfo<ASNoctstr> ci;
        ASSERT_EQ(1, ci.contentType.set("1.2.840.113549.1.7.1"));
        ci.contentPresent = 1;
        if (indefinite) { // openssl's streamed form: one segment in a constructed string
            ci.flags |= ASN_FLAG_INDEFINITE;
            ci.content.flags |= ASN_FLAG_INDEFINITE;
            ci.value().tag = 0x24;
            ci.value().flags |= ASN_FLAG_INDEFINITE;
        }
        ASSERT_EQ(1, ci.value().setStreamPassThrough(true));
        MemFile out;
        if (indefinite) {
            MemFile in(payload.data(), 3000, false);
            EXPECT_GT(ci.encodeStream(&in, -1, true, &out), 0);
        } else {
            MemFile in(payload.data(), 1000, false), rest(payload.data() + 1000, 2000, false);
            EXPECT_EQ(EASN_MORE, ci.encodeStream(&in, 3000, false, &out));
            EXPECT_EQ(3023, ci.encodeStream(&rest, 3000, true, &out));
        }
        EXPECT_EQ(readData(indefinite ? "data_stream.der" : "data.der"), Bytes(out.data(), out.data() + out.length()));
    }
}

TEST(ContContentInfo, SignedDataAsOpenContent)
{
    for (const char* file : {"signed.der", "signed_stream.der"}) {
        Bytes der = readData(file);
        ContentInfo<ASNany> ci;
        ASSERT_EQ(static_cast<int>(der.size()), decodeAll(ci, der)) << file;
        EXPECT_TRUE(ci.contentType.equalsText("1.2.840.113549.1.7.2"));
        EXPECT_EQ(0x30, ci.value().tag);
        EXPECT_EQ(der, encoded(ci)) << file;
    }
    Bytes der = readData("signed.der");
    for (unsigned seed = 0; seed < 3; ++seed) {
        ContentInfo<ASNany> s;
        ASSERT_EQ(static_cast<int>(der.size()), streamInPieces(s, der, splitFor(der.size(), seed + 20)));
        EXPECT_EQ(der, encoded(s));
    }
    Bytes list = {0x30, 0x82, static_cast<unsigned char>(der.size() >> 8), static_cast<unsigned char>(der.size())};
    list.insert(list.end(), der.begin(), der.end());
    ASNsequenceList<ContentInfo<ASNany>> infos;
    ASSERT_EQ(static_cast<int>(list.size()), decodeAll(infos, list));
    EXPECT_EQ(list, encoded(infos));
}

} // namespace
