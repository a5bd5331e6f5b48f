// SEQUENCE OF container, typed pointer lists and their ownership.
#include "asn1/asnany.h"
#include "asn1/asnexpl.h"
#include "asn1/asnseql.h"
#include "asn1/stlptrlist.h"
#include "test_cont_helpers.h"

#include <cstring>
#include <memory>

namespace {

TEST(ContSequenceList, BuildsReadsAndWritesInListOrder)
{
    ASNsequenceList<Pair> list;
    EXPECT_EQ(2, decodeAll(list, hexBytes("30 00")));
    EXPECT_EQ(hexBytes("30 00"), encoded(list));
    EXPECT_EQ(hexBytes("A2 00"), encoded(ASNsequenceList<Pair>(0x82)));

    list.AddTail(new Pair(3, "c"));
    list.AddTail(new Pair(1, "a"));
    Bytes want = hexBytes("30 10 30 06 02 01 03 04 01 63 30 06 02 01 01 04 01 61");
    EXPECT_EQ(want, encoded(list));
    ASNsequenceList<Pair> back;
    ASSERT_EQ(18, decodeAll(back, want));
    ASSERT_EQ(2, back.GetCount());
    EXPECT_EQ(3u, back.GetHead()->number.toLong());
    EXPECT_EQ(want, encoded(back));

    // assign replaces every element by a copy.
    ASNsequenceList<Pair> target;
    for (uint32_t i = 0; i < 5; ++i)
        target.AddTail(new Pair(i, "x"));
    target.assign(back);
    ASSERT_EQ(2, target.GetCount());
    EXPECT_NE(back.GetHead(), target.GetHead());
    EXPECT_EQ(want, encoded(target));
}

TEST(ContSequenceList, FailuresKeepOnlyCompleteElements)
{
    ASNsequenceList<Pair> list;
    // Cut short inside the list's content; then an element of another type.
    EXPECT_EQ(0, decodeAll(list, hexBytes("30 0A 30 06 02 01 01 04 01 61 30 02 02 01")));
    EXPECT_EQ(1, list.GetCount());
    EXPECT_EQ(0, decodeAll(list, hexBytes("30 0B 30 06 02 01 01 04 01 61 31 01 00")));
    EXPECT_EQ(1, list.GetCount());

    // A list of ANY takes every tag; a second decode replaces the first.
    ASNsequenceList<ASNany> anyList;
    Bytes mixed = hexBytes("30 0B 02 01 05 04 02 AB CD 05 00 81 00");
    ASSERT_EQ(13, decodeAll(anyList, mixed));
    EXPECT_EQ(4, anyList.GetCount());
    EXPECT_EQ(mixed, encoded(anyList));
    ASSERT_EQ(5, decodeAll(anyList, hexBytes("30 03 02 01 07")));
    EXPECT_EQ(1, anyList.GetCount());
}

TEST(ContSequenceList, IndefiniteLengthCountsOctetsReallyRead)
{
    ASNsequenceList<ASNany> list;
    Bytes input = hexBytes("30 80 02 01 05 04 01 AA 00 00 FF");
    MemFile in(input.data(), static_cast<int32_t>(input.size()), false);
    EXPECT_EQ(10, list.decode(&in, static_cast<int>(input.size()), 0));
    EXPECT_EQ(10u, in.tell());
    EXPECT_EQ(2, list.GetCount());
    EXPECT_EQ(Bytes(input.begin(), input.begin() + 10), encoded(list));

    // Non-minimal lengths inside: the parent still finds the end exactly.
    ASNsequenceList<ASNsequenceList<ASNany>> outer;
    Bytes nm = hexBytes("30 0D 30 80 02 81 01 05 04 82 00 01 AA 00 00");
    ASSERT_EQ(15, decodeAll(outer, nm));
    EXPECT_EQ(2, outer.GetHead()->GetCount());

    // No end-of-contents; fewer than two octets left for it; an indefinite
    // element overrunning a definite list.
    EXPECT_EQ(0, decodeAll(list, hexBytes("30 80 02 01 05 04 01 AA")));
    EXPECT_EQ(2, list.GetCount());
    EXPECT_EQ(0, decodeAll(list, hexBytes("30 80 02 01 05 00")));
    EXPECT_EQ(0, decodeAll(list, hexBytes("30 04 30 80 05 00 00 00")));
}

TEST(ContSequenceList, CertificateExtensionsRoundTrip)
{
    // [3] EXPLICIT SEQUENCE OF Extension, cut from a certificate made by openssl.
    Bytes der = readData("cert_exts_expl.der");
    Bytes sha = readData("cert_exts_expl.sha256");
    for (unsigned char flags : {0, 1, 3}) {
        auto buffer = std::make_unique<Bytes>(der);
        ASNexpl<ASNsequenceList<ASNany>> exts(0xA3);
        ASSERT_EQ(static_cast<int>(der.size()), decodeAll(exts, *buffer, flags));
        if (flags == 3) // a private copy outlives the caller's buffer
            buffer.reset();
        EXPECT_EQ(6, exts->GetCount());
        EXPECT_EQ(0x30, exts->GetTail()->tag);
        EXPECT_EQ(der, encoded(exts));
        EXPECT_EQ(sha, sha256Of(exts));
    }
    // Streamed whole, one octet at a time and in random pieces.
    Bytes inner(der.begin() + 3, der.end());
    for (unsigned seed : {0u, 7u, 8u}) {
        ASNsequenceList<ASNany> list;
        ASSERT_EQ(static_cast<int>(inner.size()), streamInPieces(list, inner, splitFor(inner.size(), seed)));
        EXPECT_EQ(inner, encoded(list));
    }
}

TEST(ContSequenceList, OwningListsDeleteTheirElements)
{
    std::vector<int> log;
    Pair kept(9, "k");
    auto logged = [&log](uint32_t n) {
        Pair* p = new Pair(n, "x");
        p->log = &log;
        return p;
    };
    {
        ASNsequenceList<Pair> list;
        for (uint32_t i = 1; i <= 3; ++i)
            list.AddTail(logged(i));
        ASNsequenceList<Pair> view;
        view.owns = false;
        view.AddTail(&kept);
    }
    EXPECT_EQ((std::vector<int>{3, 2, 1}), log);

    // The standard-list variant: first to last, only when owns is 1.
    log.clear();
    {
        StlPointerList<Pair> list;
        for (uint32_t i = 1; i <= 3; ++i)
            list.items.push_back(logged(i));
        list.items.push_back(nullptr);
        StlPointerList<Pair> notOwning;
        notOwning.owns = 2;
        notOwning.items.push_back(&kept);
    }
    EXPECT_EQ((std::vector<int>{1, 2, 3}), log);

    // Deleting through the list base deletes the whole container.
    TypedPointerList<Pair>* asList = new ASNsequenceList<Pair>();
    asList->addNew();
    delete asList;

    PointerList lists;
    TypedPointerList<Pair>* attrs = addNewAttributeList<Pair>(lists);
    ASSERT_NE(nullptr, attrs);
    EXPECT_EQ(attrs, lists.GetHead());
    delete attrs;
    lists.RemoveAll();
}

// Nesting of containers is bounded by the decoders' depth limit.
template <int N>
struct Nested
{
    using Type = ASNexpl<typename Nested<N - 1>::Type>;
};
template <>
struct Nested<0>
{
    using Type = ASNsequenceList<ASNany>;
};

Bytes nestedEncoding(int levels)
{
    Bytes b = hexBytes("30 03 02 01 01");
    for (int i = 0; i < levels; ++i) {
        Bytes w = {0xA0, 0x82, static_cast<unsigned char>(b.size() >> 8), static_cast<unsigned char>(b.size())};
        w.insert(w.end(), b.begin(), b.end());
        b = w;
    }
    return b;
}

TEST(ContSequenceList, NestingIsBoundedByTheDepthLimit)
{
    Bytes shallow = nestedEncoding(40);
    Nested<40>::Type ok;
    EXPECT_EQ(static_cast<int>(shallow.size()), decodeAll(ok, shallow));
    Nested<40>::Type okStreamed;
    EXPECT_EQ(static_cast<int>(shallow.size()), streamInPieces(okStreamed, shallow, {}));

    Bytes deep = nestedEncoding(70);
    Nested<70>::Type tooDeep;
    EXPECT_EQ(0, decodeAll(tooDeep, deep));
    Nested<70>::Type streamed;
    EXPECT_EQ(0, streamInPieces(streamed, deep, {}));
}

} // namespace
