// Memory decoding holds, counted by replacing the global allocation
// functions: lists of tiny elements and strings of tiny segments are refused,
// real lists of any length decode, and what is held stays within the hold
// budget per input octet, for the framework's types and for certificates,
// names, CRLs and OCSP responses.
#include "asn1/asnany.h"
#include "asn1/asnbool.h"
#include "asn1/asnseql.h"
#include "asn1/asnsetl.h"
#include "pki/x509/cert.h"
#include "pki/x509/crl.h"
#include "pki/names/dname.h"
#include "pki/ocsp/ocspresp.h"
#include "test_cont_helpers.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <new>
#include <string>

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

// Small lists inside a list, each element as costly as it gets per octet (a
// 136-octet INTEGER object read from three octets): the outer list's budget
// counts what its elements hold, nested lists included, so lists of sixteen
// such elements are refused as lists of one are, having held little; nested
// lists of real entries decode.
TEST(ContHoldBudget, NestedSmallListsStayBounded)
{
    const Bytes inner = wrap(0x30, repeat(hexBytes("02 01 01"), 16));
    const Bytes outer = wrap(0x30, repeat(inner, 5000));
    const Bytes single = wrap(0x30, repeat(wrap(0x30, hexBytes("02 01 01")), 200000));
    Bytes pairs;
    for (size_t i = 0; i < 16; ++i)
        pairs = pairs + pairOf(i);
    const Bytes real = wrap(0x30, repeat(wrap(0x30, pairs), 500));
    Measured a = decodeMeasured<ASNsequenceList<ASNsequenceList<ASNinteger>>>(outer);
    Measured b = decodeMeasured<ASNsequenceList<ASNsequenceList<ASNinteger>>>(single);
    Measured c = decodeMeasured<ASNsequenceList<ASNsequenceList<Pair>>>(real);
    EXPECT_EQ(a.result, EASN_MEM);
    EXPECT_EQ(b.result, EASN_MEM);
    EXPECT_EQ(c.result, static_cast<int>(real.size()));
    std::printf("nested 16-element lists held/input %.2f, one-element lists %.2f, lists of pairs %.2f\n", a.ratio,
                b.ratio, c.ratio);
    EXPECT_LT(a.ratio, 80.0);
    EXPECT_LT(b.ratio, 80.0);
    EXPECT_LT(a.ratio, 0.5);
    EXPECT_LT(b.ratio, 0.5);
    EXPECT_LT(c.ratio, double(ASN_HOLD_RATIO));
}

namespace {

enum Mode { WHOLE, IN_PLACE, STREAMED };

// Peak octets held while a value of type T (made from `args`) decodes the
// input, per input octet.
template <class T, class... A>
Measured measured(const Bytes& input, Mode mode, A... args)
{
    T value(args...);
    size_t before = g_live;
    g_peak = g_live;
    int r = mode == STREAMED ? value.decodeStreamBuffer(input.data(), static_cast<int>(input.size()), nullptr)
                             : decodeAll(value, input, mode == IN_PLACE ? ASN_FLAG_CONST : 0);
    return {r, double(g_peak - before) / double(input.size())};
}

Bytes indefinite(unsigned char tag, const Bytes& content) { return Bytes{tag, 0x80} + content + Bytes{0, 0}; }

Bytes text(const char* s) { return Bytes(s, s + std::string(s).size()); }

// Enough copies of `element` to make some 256 KB.
Bytes many(const Bytes& element) { return repeat(element, (size_t(1) << 18) / element.size()); }

// A string of `depth` constructed levels of indefinite length around `inner`.
Bytes nestedStrings(const Bytes& inner, int depth)
{
    Bytes b = inner;
    for (int i = 0; i < depth; ++i)
        b = indefinite(0x24, b);
    return b;
}

// Constructed levels that each hold two copies of the level below, down to
// 16 octets: a tree of segments.
Bytes segmentTree()
{
    Bytes b = wrap(0x04, Bytes(16, 0x61));
    for (int i = 0; i < 14; ++i)
        b = wrap(0x24, b + b);
    return b;
}

struct Case {
    const char* name;
    Measured m;
    int expected;               // the decode's answer: EASN_MEM or the input's size
    double most = ASN_HOLD_RATIO + 1.0; // held/input bound (the allowance adds under one at 256 KB)
};

int whole(const Bytes& b) { return static_cast<int>(b.size()); }

void check(const Case* cases, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(c.m.result, c.expected) << c.name;
        EXPECT_LT(c.m.ratio, c.most) << c.name;
        std::printf("%-8s %-50s held/input %6.2f\n", c.m.result == EASN_MEM ? "refused" : "decoded", c.name,
                    c.m.ratio);
    }
}

} // namespace

// Hand-made amplifiers of the framework: constructed strings of empty or tiny
// segments in every string type, deep and branching segment nesting, lists of
// one-element sets, nested indefinite lengths. Each is refused or decoded,
// never holding more than the budget; streaming drops empty segments, and
// nested segments keep no copy of the content of their own.
TEST(ContHoldBudget, FrameworkAmplifiersStayWithinBudget)
{
    const Bytes emptySegments = wrap(0x24, many(hexBytes("04 00")));
    const Bytes emptyIndefinite = indefinite(0x24, many(hexBytes("04 00")));
    const Bytes tinySegments = wrap(0x24, many(hexBytes("04 01 61")));
    const Bytes emptyConstructed = indefinite(0x24, many(hexBytes("24 00")));
    const Bytes constructedWithEmpty = indefinite(0x24, many(hexBytes("24 02 04 00")));
    const Bytes deep = nestedStrings(wrap(0x04, Bytes(size_t(1) << 18, 0x61)), ASN_MAX_DEPTH - 1);
    const Bytes tree = segmentTree();
    const Bytes oneElementSets = wrap(0x30, many(hexBytes("31 02 05 00")));
    const Bytes oneElementSetsSet = wrap(0x31, many(hexBytes("31 02 05 00")));
    const Bytes nestedAny = indefinite(0x30, many(hexBytes("30 80 00 00")));
    const Case cases[] = {
        {"OCTET STRING of empty segments", measured<ASNoctstr>(emptySegments, WHOLE), EASN_MEM},
        {"OCTET STRING of empty segments, in place", measured<ASNoctstr>(emptySegments, IN_PLACE), EASN_MEM},
        {"OCTET STRING of empty segments, streamed", measured<ASNoctstr>(emptySegments, STREAMED), whole(emptySegments), 0.1},
        {"OCTET STRING of empty segments, indefinite", measured<ASNoctstr>(emptyIndefinite, WHOLE), EASN_MEM},
        {"the same streamed", measured<ASNoctstr>(emptyIndefinite, STREAMED), whole(emptyIndefinite), 0.1},
        {"OCTET STRING of one-octet segments", measured<ASNoctstr>(tinySegments, WHOLE), EASN_MEM},
        {"the same streamed", measured<ASNoctstr>(tinySegments, STREAMED), EASN_MEM},
        {"OCTET STRING of empty constructed segments", measured<ASNoctstr>(emptyConstructed, WHOLE), EASN_MEM},
        {"segments each holding an empty segment", measured<ASNoctstr>(constructedWithEmpty, IN_PLACE), EASN_MEM},
        {"the same streamed", measured<ASNoctstr>(constructedWithEmpty, STREAMED), whole(constructedWithEmpty), 0.1},
        {"256 KB inside 63 constructed levels", measured<ASNoctstr>(deep, WHOLE), whole(deep), 2.5},
        {"the same in place", measured<ASNoctstr>(deep, IN_PLACE), whole(deep), 1.5},
        {"the same streamed", measured<ASNoctstr>(deep, STREAMED), whole(deep), 2.5},
        {"a tree of 16384 segments", measured<ASNoctstr>(tree, WHOLE), whole(tree)},
        {"the same streamed", measured<ASNoctstr>(tree, STREAMED), whole(tree)},
        {"SEQUENCE OF one-element SET OF", measured<ASNsequenceList<ASNsetList<ASNnull>>>(oneElementSets, WHOLE), EASN_MEM},
        {"SET OF one-element SET OF, streamed", measured<ASNsetList<ASNsetList<ASNnull>>>(oneElementSetsSet, STREAMED), EASN_MEM},
        {"ANY of nested indefinite lengths", measured<ASNany>(nestedAny, WHOLE), whole(nestedAny), 2.5},
        {"the same in place", measured<ASNany>(nestedAny, IN_PLACE), whole(nestedAny), 3.5},
    };
    check(cases, sizeof cases / sizeof cases[0]);

    // Every string type takes the constructed form with OCTET STRING segments.
    for (unsigned char t : {0x0C, 0x12, 0x13, 0x14, 0x16, 0x1A, 0x1C, 0x1E}) {
        Bytes input = emptySegments;
        input[0] = static_cast<unsigned char>(0x20 | t);
        const Case c[] = {{"string type of empty segments", measured<ASNoctstr>(input, WHOLE, t), EASN_MEM}};
        SCOPED_TRACE(int(t));
        check(c, 1);
    }
}

namespace {

// A file of tests/data/asn1/.
Bytes asn1Data(const std::string& name)
{
    std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/asn1/" + name, std::ios::binary);
    EXPECT_TRUE(f.good()) << name;
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

Bytes seq(const Bytes& content) { return wrap(0x30, content); }
Bytes oid(const char* hex) { return wrap(0x06, hexBytes(hex)); }

const Bytes kUtc = wrap(0x17, text("200101000000Z"));
const Bytes kGeneralized = wrap(0x18, text("20200101000000Z"));
const Bytes kAlg = seq(oid("2a8648ce3d040302"));
const Bytes kSignature = wrap(0x03, Bytes(9, 0));
const Bytes kName = seq(wrap(0x31, seq(oid("550403") + wrap(0x0C, text("x")))));

// A certificate with a P-256 key; `extensions` is the content of the
// extensions' SEQUENCE (none when empty).
Bytes certificate(const Bytes& subject, const Bytes& extensions = Bytes())
{
    Bytes key = hexBytes("00 04") + Bytes(64, 0);
    Bytes spki = seq(seq(oid("2a8648ce3d0201") + oid("2a8648ce3d030107")) + wrap(0x03, key));
    Bytes tbs = wrap(0xA0, hexBytes("02 01 02")) + hexBytes("02 01 01") + kAlg + kName + seq(kUtc + kUtc) + subject + spki;
    if (!extensions.empty())
        tbs = tbs + wrap(0xA3, seq(extensions));
    return seq(seq(tbs) + kAlg + kSignature);
}

Bytes crl(const Bytes& entries)
{
    return seq(seq(hexBytes("02 01 01") + kAlg + kName + kUtc + kUtc + seq(entries)) + kAlg + kSignature);
}

// A basic OCSP response; `certs` is the content of its certificates' list.
Bytes basicResponse(const Bytes& responses, const Bytes& certs = Bytes())
{
    Bytes data = wrap(0xA2, wrap(0x04, Bytes(20, 0))) + kGeneralized + seq(responses);
    Bytes b = seq(data) + kAlg + kSignature;
    if (!certs.empty())
        b = b + wrap(0xA0, seq(certs));
    return seq(b);
}

// A CRL entry with a reason code: a 16-octet serial, a UTCTime, an extension
// on every other entry (what real CRLs of many entries look like).
Bytes realEntry(size_t i)
{
    Bytes serial(16, 0x41);
    serial[15] = static_cast<unsigned char>(i);
    serial[14] = static_cast<unsigned char>(i >> 8);
    serial[13] = static_cast<unsigned char>(i >> 16);
    Bytes entry = wrap(0x02, serial) + kUtc;
    if (i % 2 == 0)
        entry = entry + seq(seq(oid("551d15") + wrap(0x04, hexBytes("0a 01 01"))));
    return seq(entry);
}

// An OCSP response as read: the outer response, then the basic response its
// octets hold (both kept).
Measured ocspMeasured(const Bytes& input)
{
    OCSPResponse response;
    BasicOCSPResponse basic;
    size_t before = g_live;
    g_peak = g_live;
    int r = decodeAll(response, input);
    const ASNoctstr& inner = response.responseBytes->response;
    if (r > 0 && basic.decodeBuffer(inner.data(), inner.length) != inner.length)
        r = 0;
    return {r, double(g_peak - before) / double(input.size())};
}

} // namespace

// The two inputs the fuzzing found (a certificate extension value of 131072
// empty BER segments, a name of 23831 single-attribute RDNs, some 81 and 58
// times their size before) and hand-made amplifiers of the certificate, name,
// CRL and OCSP decoders.
TEST(ContHoldBudget, PkiAmplifiersStayWithinBudget)
{
    const Bytes extSegments = asn1Data("amplification/cert__extvalue-ber-empty-segments__131072.bin");
    const Bytes rdns = asn1Data("amplification/cert__dn-rdns__23831.bin");
    const Bytes tinyAttribute = seq(oid("55") + hexBytes("05 00"));
    const Bytes tinyRdns = seq(many(wrap(0x31, tinyAttribute)));
    const Bytes tinyRdnsCert = certificate(seq(many(wrap(0x31, tinyAttribute))));
    const Bytes oneRdn = seq(wrap(0x31, many(seq(oid("550403") + hexBytes("0c 00")))));
    const Bytes tinyExtensions = certificate(kName, many(seq(oid("551d0e") + hexBytes("04 00"))));
    const Bytes fewSegments = seq(seq(oid("551d15") + wrap(0x24, repeat(hexBytes("04 00"), 8))));
    const Bytes segmentsInEntries = crl(many(seq(hexBytes("02 01 01") + kUtc + fewSegments)));
    const Bytes entrySegments =
        crl(seq(hexBytes("02 01 01") + kUtc + seq(seq(oid("551d15") + wrap(0x24, many(hexBytes("04 00")))))));
    const Bytes minimalEntries = crl(many(seq(hexBytes("02 01 01") + kUtc)));
    const Bytes tinyExtEntries = crl(many(seq(hexBytes("02 01 01") + kUtc + seq(seq(oid("55") + hexBytes("04 00"))))));
    const Bytes minimalSingle = seq(seq(seq(oid("2b")) + hexBytes("04 00 04 00 02 01 01")) + hexBytes("80 00") + kGeneralized);
    const Bytes minimalSingles = basicResponse(many(minimalSingle));
    const Bytes minimalCerts = basicResponse(minimalSingle, many(certificate(kName)));
    const Case cases[] = {
        {"certificate, extension of empty segments", measured<SignedCertificate>(extSegments, WHOLE), EASN_MEM},
        {"the same in place", measured<SignedCertificate>(extSegments, IN_PLACE), EASN_MEM},
        {"the same streamed", measured<SignedCertificate>(extSegments, STREAMED), EASN_MEM, 3.5},
        {"certificate, name of single-attribute RDNs", measured<SignedCertificate>(rdns, WHOLE), EASN_MEM},
        {"the same in place", measured<SignedCertificate>(rdns, IN_PLACE), EASN_MEM},
        {"name of RDNs of one tiny attribute", measured<DistinguishedName>(tinyRdns, WHOLE), EASN_MEM},
        {"certificate, subject of the same", measured<SignedCertificate>(tinyRdnsCert, IN_PLACE), EASN_MEM},
        {"name of one RDN of many attributes", measured<DistinguishedName>(oneRdn, WHOLE), whole(oneRdn)},
        {"the same in place", measured<DistinguishedName>(oneRdn, IN_PLACE), whole(oneRdn)},
        {"the same streamed", measured<DistinguishedName>(oneRdn, STREAMED), whole(oneRdn)},
        {"certificate of many tiny extensions", measured<SignedCertificate>(tinyExtensions, WHOLE), EASN_MEM},
        {"CRL entries with 8 empty segments each", measured<SignedCertRevList>(segmentsInEntries, WHOLE), EASN_MEM},
        {"CRL entry extension of empty segments", measured<SignedCertRevList>(entrySegments, IN_PLACE), EASN_MEM},
        {"CRL of minimal entries", measured<SignedCertRevList>(minimalEntries, WHOLE), whole(minimalEntries)},
        {"CRL entries of one tiny extension", measured<SignedCertRevList>(tinyExtEntries, WHOLE), whole(tinyExtEntries)},
        {"the same in place", measured<SignedCertRevList>(tinyExtEntries, IN_PLACE), whole(tinyExtEntries)},
        {"OCSP response of minimal single responses", measured<BasicOCSPResponse>(minimalSingles, WHOLE), EASN_MEM},
        {"OCSP response of minimal certificates", measured<BasicOCSPResponse>(minimalCerts, WHOLE), whole(minimalCerts)},
        {"the same in place", measured<BasicOCSPResponse>(minimalCerts, IN_PLACE), whole(minimalCerts)},
    };
    check(cases, sizeof cases / sizeof cases[0]);
}

// Real inputs keep decoding, well within the budget: a CRL of 100,000
// entries (half with a reason code), an OCSP response and a CA certificate
// and CRL made by openssl.
TEST(ContHoldBudget, TypicalInputsDecodeWithinBudget)
{
    Bytes entries;
    for (size_t i = 0; i < 100000; ++i) {
        const Bytes entry = realEntry(i);
        entries.insert(entries.end(), entry.begin(), entry.end());
    }
    const Bytes bigCrl = crl(entries);
    const Bytes response = asn1Data("ocsp_resp.der");
    const Bytes ca = asn1Data("cert_rsa_ca.der");
    const Bytes smallCrl = asn1Data("crl.der");
    const double budget = ASN_HOLD_RATIO;
    const Case cases[] = {
        {"CRL of 100,000 entries", measured<SignedCertRevList>(bigCrl, WHOLE), whole(bigCrl), budget},
        {"the same in place", measured<SignedCertRevList>(bigCrl, IN_PLACE), whole(bigCrl), budget},
        {"the same streamed", measured<SignedCertRevList>(bigCrl, STREAMED), whole(bigCrl), budget},
        {"OCSP response", ocspMeasured(response), whole(response), budget},
        {"CA certificate", measured<SignedCertificate>(ca, WHOLE), whole(ca), budget},
        {"CRL", measured<SignedCertRevList>(smallCrl, IN_PLACE), whole(smallCrl), budget},
    };
    check(cases, sizeof cases / sizeof cases[0]);
}
