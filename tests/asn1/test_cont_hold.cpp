// Memory SEQUENCE OF and SET OF hold while decoding, counted by replacing the
// global allocation functions: lists of tiny elements are refused, real lists
// of any length decode, and what is held stays a bounded multiple of the input.
#include "asn1/asnany.h"
#include "asn1/asnbool.h"
#include "asn1/asnseql.h"
#include "asn1/asnsetl.h"
#include "test_cont_helpers.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {
// Live and peak octets asked of the allocator, each allocation counted with a
// 16-octet header as the allocator keeps one.
size_t g_live = 0, g_peak = 0;
const size_t kHeader = 16;

void* counted(size_t n)
{
    void* p = std::malloc(n + sizeof(size_t) * 2);
    if (!p)
        return nullptr;
    *static_cast<size_t*>(p) = n;
    g_live += n + kHeader;
    if (g_live > g_peak)
        g_peak = g_live;
    return static_cast<char*>(p) + sizeof(size_t) * 2;
}

void uncounted(void* p)
{
    if (!p)
        return;
    char* base = static_cast<char*>(p) - sizeof(size_t) * 2;
    g_live -= *reinterpret_cast<size_t*>(base) + kHeader;
    std::free(base);
}
} // namespace

void* operator new(size_t n)
{
    void* p = counted(n);
    if (!p)
        throw std::bad_alloc();
    return p;
}
void* operator new[](size_t n) { return operator new(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return counted(n); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return counted(n); }
void operator delete(void* p) noexcept { uncounted(p); }
void operator delete[](void* p) noexcept { uncounted(p); }
void operator delete(void* p, size_t) noexcept { uncounted(p); }
void operator delete[](void* p, size_t) noexcept { uncounted(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { uncounted(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { uncounted(p); }

namespace {

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A definite-length TLV around content of any size.
Bytes wrap(unsigned char tag, const Bytes& content)
{
    Bytes out{tag};
    size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<unsigned char>(n));
    } else {
        Bytes len;
        for (; n; n >>= 8)
            len.insert(len.begin(), static_cast<unsigned char>(n));
        out.push_back(static_cast<unsigned char>(0x80 | len.size()));
        out.insert(out.end(), len.begin(), len.end());
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes repeat(const Bytes& element, size_t times)
{
    Bytes out;
    out.reserve(element.size() * times);
    for (size_t i = 0; i < times; ++i)
        out.insert(out.end(), element.begin(), element.end());
    return out;
}

// A revoked-certificate-like entry: a 16-octet serial and a 16-octet value.
Bytes pairOf(size_t i)
{
    Bytes serial(16, 0x11), value(16, 0x61);
    serial[15] = static_cast<unsigned char>(i);
    serial[14] = static_cast<unsigned char>(i >> 8);
    return wrap(0x30, wrap(0x02, serial) + wrap(0x04, value));
}

struct Measured {
    int result;
    double ratio; // peak octets held during the decode per input octet
};

template <class L>
Measured decodeMeasured(const Bytes& input, bool streamed = false)
{
    L list;
    size_t before = g_live;
    g_peak = g_live;
    int r = streamed ? list.decodeStreamBuffer(input.data(), static_cast<int>(input.size()), nullptr)
                     : decodeAll(list, input);
    return {r, double(g_peak - before) / double(input.size())};
}

} // namespace

// 2 MB of 05 00 and its kin: refused, having held little.
TEST(ContHoldBudget, ListsOfTinyElementsAreRefused)
{
    const Bytes nulls = wrap(0x30, repeat(hexBytes("05 00"), 1 << 20));
    const Bytes ints = wrap(0x30, repeat(hexBytes("02 01 01"), 700000));
    const Bytes pairs = wrap(0x30, repeat(hexBytes("30 06 02 01 01 04 01 61"), 260000));
    struct Case {
        const char* name;
        Measured m;
    } cases[] = {
        {"SEQUENCE OF ANY of NULL", decodeMeasured<ASNsequenceList<ASNany>>(nulls)},
        {"SEQUENCE OF NULL", decodeMeasured<ASNsequenceList<ASNnull>>(nulls)},
        {"SET OF ANY of NULL", decodeMeasured<ASNsetList<ASNany>>(hexBytes("31") + Bytes(nulls.begin() + 1, nulls.end()))},
        {"SET OF ANY streamed", decodeMeasured<ASNsetList<ASNany>>(hexBytes("31") + Bytes(nulls.begin() + 1, nulls.end()), true)},
        {"SEQUENCE OF INTEGER", decodeMeasured<ASNsequenceList<ASNinteger>>(ints)},
        {"SEQUENCE OF minimal pairs", decodeMeasured<ASNsequenceList<Pair>>(pairs)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.m.result, EASN_MEM) << c.name;
        EXPECT_LT(c.m.ratio, 0.05) << c.name;
        std::printf("refused %-28s held/input %.3f\n", c.name, c.m.ratio);
    }
}

// Real lists of any length decode (a CRL of 100 MB has millions of entries of
// some 40 octets): whole, streamed and of indefinite length; what is held is a
// bounded multiple of the input.
TEST(ContHoldBudget, LongListsOfRealEntriesDecode)
{
    Bytes content;
    const size_t entries = 100000;
    for (size_t i = 0; i < entries; ++i) {
        const Bytes entry = pairOf(i);
        content.insert(content.end(), entry.begin(), entry.end());
    }
    const Bytes seq = wrap(0x30, content);
    const Bytes set = wrap(0x31, content);
    const Bytes indefinite = hexBytes("30 80") + content + hexBytes("00 00");
    const Bytes anys = wrap(0x30, repeat(hexBytes("04 0C 61 62 63 64 65 66 67 68 69 6A 6B 6C"), 200000));
    struct Case {
        const char* name;
        Measured m;
        int expected;
    } cases[] = {
        {"SEQUENCE OF pairs", decodeMeasured<ASNsequenceList<Pair>>(seq), static_cast<int>(seq.size())},
        {"SET OF pairs", decodeMeasured<ASNsetList<Pair>>(set), static_cast<int>(set.size())},
        {"SET OF pairs streamed", decodeMeasured<ASNsetList<Pair>>(set, true), static_cast<int>(set.size())},
        {"SEQUENCE OF pairs indefinite", decodeMeasured<ASNsequenceList<Pair>>(indefinite), static_cast<int>(indefinite.size())},
        {"SEQUENCE OF ANY 14 octets", decodeMeasured<ASNsequenceList<ASNany>>(anys), static_cast<int>(anys.size())},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.m.result, c.expected) << c.name;
        EXPECT_LT(c.m.ratio, double(ASN_HOLD_RATIO)) << c.name;
        std::printf("decoded %-28s held/input %.2f\n", c.name, c.m.ratio);
    }
    ASNsequenceList<Pair> list;
    ASSERT_EQ(static_cast<int>(seq.size()), decodeAll(list, seq));
    EXPECT_EQ(static_cast<int32_t>(entries), list.GetCount());
    EXPECT_EQ(seq, encoded(list));
}

// The worst a decode can hold per input octet: small lists inside a list,
// each within the free allowance, each element as costly as it gets per octet
// (a 136-octet INTEGER object read from three octets). Lists of one such
// element each cost more than the budget allows and are refused.
TEST(ContHoldBudget, NestedSmallListsStayBounded)
{
    const Bytes inner = wrap(0x30, repeat(hexBytes("02 01 01"), ASN_HOLD_FREE_ELEMENTS));
    const Bytes outer = wrap(0x30, repeat(inner, 5000));
    const Bytes single = wrap(0x30, repeat(wrap(0x30, hexBytes("02 01 01")), 200000));
    Measured a = decodeMeasured<ASNsequenceList<ASNsequenceList<ASNinteger>>>(outer);
    Measured b = decodeMeasured<ASNsequenceList<ASNsequenceList<ASNinteger>>>(single);
    EXPECT_EQ(a.result, static_cast<int>(outer.size()));
    EXPECT_EQ(b.result, EASN_MEM);
    std::printf("nested 16-element lists held/input %.2f, one-element lists %.2f\n", a.ratio, b.ratio);
    EXPECT_LT(a.ratio, 80.0);
    EXPECT_LT(b.ratio, 80.0);
}
