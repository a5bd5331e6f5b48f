// libFuzzer target over the ASN.1 object model: whole decoding (private, in
// place, private copy) and streamed decoding in pieces of every primitive
// type, ANY, CHOICE and the SEQUENCE OF / SET OF containers of ANY.
// The first input octet chooses the type, the second the streaming pieces.
// Besides crashes, inconsistencies between decode, encode, encodedLength and
// the received octets stop the run.
#include "asn1/asnany.h"
#include "asn1/asnbitst.h"
#include "asn1/asnbool.h"
#include "asn1/asnchoice.h"
#include "asn1/asngent.h"
#include "asn1/asnint.h"
#include "asn1/asnobjid.h"
#include "asn1/asnocstr.h"
#include "asn1/asnseql.h"
#include "asn1/asnsetl.h"
#include "asn1/asnutct.h"
#include "base/memfile.h"
// A choice without a tag of its own, as a SET OF element (as CMS certificate
// and recipient sets have them).
#include "../tests/asn1/untagged_choice.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Choice : ASNchoice {
    explicit Choice(unsigned char t) : ASNchoice(t), os(0x80), any0(0xA1) {}
    ASNoctstr os;
    ASNany any0;
    ASNinteger num;
    ASNobjectId oid;
    mutable ASNobject* list[5];
    ASNobject* const* objectList() const override
    {
        list[0] = const_cast<ASNoctstr*>(&os);
        list[1] = const_cast<ASNany*>(&any0);
        list[2] = const_cast<ASNinteger*>(&num);
        list[3] = const_cast<ASNobjectId*>(&oid);
        list[4] = nullptr;
        return list;
    }
};

const int KINDS = 18;

std::unique_ptr<ASNobject> make(int kind)
{
    switch (kind) {
    case 0: return std::make_unique<ASNoctstr>();
    case 1: return std::make_unique<ASNUtf8String>();
    case 2: return std::make_unique<ASNinteger>();
    case 3: return std::make_unique<ASNenum>();
    case 4: return std::make_unique<ASNbool>();
    case 5: return std::make_unique<ASNnull>();
    case 6: return std::make_unique<ASNobjectId>();
    case 7: return std::make_unique<ASNbitstr>();
    case 8: return std::make_unique<ASNany>();
    case 9: return std::make_unique<ASNany>(0x30);
    case 10: return std::make_unique<ASNgenTime>();
    case 11: return std::make_unique<ASNutct>();
    case 12: return std::make_unique<Choice>(0);
    case 13: return std::make_unique<Choice>(0x82);
    case 14: return std::make_unique<ASNsequenceList<ASNany>>();
    case 15: return std::make_unique<ASNsetList<ASNany>>();
    case 17: return std::make_unique<ASNsetList<UntaggedChoice>>();
    default: {
        auto o = std::make_unique<ASNoctstr>(0x80);
        o->makeExplicit();
        o->explTag = TAG_ANY;
        return o;
    }
    }
}

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "inconsistency: %s\n", what);
    std::abort();
}

void checkEncoding(const ASNobject& o, const uint8_t* in, int consumed, bool inPlace)
{
    MemFile m;
    int w = o.encode(&m);
    if (w <= 0)
        return; // values such as an empty CHOICE may legitimately not encode
    if (w != m.length())
        fail("encode result differs from octets written");
    if (w != o.encodedLength())
        fail("encodedLength differs from encode");
    if (inPlace && o.isConstView() && (w != consumed || std::memcmp(m.data(), in, w) != 0))
        fail("value read in place does not re-encode its octets");
    uint8_t d[64];
    o.digest(3, d, sizeof d);
}

// What a value writes, read again as the same kind, is written identically.
void checkStable(int kind, const ASNobject& o);


} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3 || size > 1 << 16)
        return 0;
    const int kind = data[0] % KINDS;
    const unsigned pieces = 1 + data[1] % 17;
    const uint8_t* in = data + 2;
    const int n = static_cast<int>(size - 2);

    int whole = 0;
    std::unique_ptr<ASNobject> wholeObj;
    for (unsigned char f : {0, 1, 3}) {
        auto o = make(kind);
        int r = o->decodeBuffer(in, n, f);
        if (r > n)
            fail("consumed more than available");
        if (f == 0)
            whole = r;
        if (r > 0) {
            checkEncoding(*o, in, r, f != 0);
            if (f == 0)
                checkStable(kind, *o);
            if (f == 0)
                wholeObj = std::move(o);
            // Re-read through an ANY as the structures do.
            ASNany any;
            if (any.decodeBuffer(in, n, f) > 0) {
                auto again = make(kind);
                again->decodeAny(any);
            }
        }
    }

    // Streamed in pieces: the same verdict and value as the whole decode.
    // (An explicit outer tag is the containing type's business when streaming.)
    if (kind == 16)
        return 0;
    auto s = make(kind);
    int r = EASN_MORE;
    int pos = 0;
    while (pos < n && r == EASN_MORE) {
        int k = static_cast<int>(pieces) < n - pos ? static_cast<int>(pieces) : n - pos;
        MemFile piece(const_cast<uint8_t*>(in + pos), k, false);
        r = s->decodeStream(&piece, nullptr);
        pos += static_cast<int>(piece.tell());
    }
    if (r > n)
        fail("stream consumed more than available");
    if (r > 0) {
        checkEncoding(*s, in, r, false);
        if (whole > 0 && kind <= 11) {
            if (whole != r)
                fail("streamed and whole decode differ");
            if (kind <= 1) {
                // Streaming keeps only non-empty segments: compare the content.
                auto* x = static_cast<ASNoctstr*>(wholeObj.get());
                auto* y = static_cast<ASNoctstr*>(s.get());
                if (x->length != y->length || (x->length > 0 && std::memcmp(x->data(), y->data(), x->length) != 0))
                    fail("streamed and whole contents differ");
            } else {
                MemFile a, b;
                if (wholeObj->encode(&a) != s->encode(&b) || std::memcmp(a.data(), b.data(), a.length()) != 0)
                    fail("streamed and whole values differ");
            }
        }
    }
    // Streamed under a bound (as a structure streams its members): never
    // past the bound, and never more than the bound as the result.
    if (kind != 16) {
        const int bound = 2 + static_cast<int>(pieces) * 3 < n ? 2 + static_cast<int>(pieces) * 3 : n;
        auto b = make(kind);
        MemFile src(const_cast<uint8_t*>(in), n, false);
        int br = b->decodeStream(&src, bound, 0);
        if (br > bound || static_cast<int>(src.tell()) > bound)
            fail("bounded stream read past its bound");
        if (br > 0)
            checkEncoding(*b, in, br, false);
    }
    if (kind == 0) {
        ASNoctstr pass;
        pass.setStreamPassThrough(true);
        MemFile sink;
        MemFile src(const_cast<uint8_t*>(in), n, false);
        pass.decodeStream(&src, &sink);
    }
    return 0;
}

namespace {
void checkStable(int kind, const ASNobject& o)
{
    MemFile first;
    if (o.encode(&first) <= 0)
        return;
    auto again = make(kind);
    int r = again->decodeBuffer(first.data(), first.length(), 0);
    if (r != first.length())
        fail("re-encoding does not decode");
    MemFile second;
    if (again->encode(&second) != first.length() || std::memcmp(first.data(), second.data(), first.length()) != 0)
        fail("re-encoding is not stable");
}
} // namespace
