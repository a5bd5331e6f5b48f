// OCTET STRING and the string types: primitive and constructed (segmented)
// forms, whole and streamed decoding, pass-through streaming.
#include "asn1/asnocstr.h"

#include "asn1/asncont.h"
#include "asn1/asnprivate.h"
#include "base/commonerror.h"
#include "base/memfile.h"

#include <cstring>
#include <memory>
#include <new>

namespace {
const char* const SRC = "asnocstr";
const int PASS_CHUNK = 10000;
} // namespace

// ---------------------------------------------------------------------------
// stream context

ASNOctStrStreamCtx::ASNOctStrStreamCtx() = default;

ASNOctStrStreamCtx::~ASNOctStrStreamCtx() { delete segment; }

int ASNOctStrStreamCtx::reset()
{
    const uint8_t keepPass = passThrough;
    ASNStreamCtx::reset();
    delete segment;
    segment = nullptr;
    consumed = 0;
    zeroCount = 0;
    total = 0;
    betweenSegments = 1;
    passThrough = keepPass;
    return 0;
}

// ---------------------------------------------------------------------------
// construction and copies

ASNoctstr::ASNoctstr(const ASNoctstr& other)
    : ASNobject(other), length(0), buf(nullptr), ownsSegments(1), univTag(other.univTag), isSegment(0)
{
    if (other.isConstructed()) {
        copySegmentsFrom(other);
    } else if (other.length > 0) {
        if (!set(other.data(), other.length))
            throwBadAllocation();
        tag = other.tag;
    }
}

void ASNoctstr::copySegmentsFrom(const ASNoctstr& other)
{
    for (POSITION p = other.segments.GetHeadPosition(); p;) {
        const ASNoctstr* s = TypedPointerList<ASNoctstr>::GetNext(p);
        if (!s)
            continue;
        ASNoctstr* copy = new (std::nothrow) ASNoctstr(4);
        if (!copy)
            throwBadAllocation();
        copy->isSegment = 1;
        try {
            *copy = *s;
            segments.AddTail(copy);
        } catch (...) {
            delete copy;
            throw;
        }
    }
    if (flatten() != 1)
        throwBadAllocation();
}

ASNoctstr& ASNoctstr::operator=(const ASNoctstr& other)
{
    if (this == &other)
        return *this;
    if (!other.isConstructed()) {
        if (!set(other.data(), other.length))
            throwBadAllocation();
        return *this;
    }
    checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "!( flags & ASN_FLAG_CONST )");
    clear();
    releaseSource();
    tag = static_cast<unsigned char>(tag | 0x20);
    flags = (flags & (ASN_FLAG_EXPLICIT | ASN_FLAG_NONUNIVERSAL | ASN_FLAG_CONSTRUCTED |
                      ASN_FLAG_OUTER_INDEFINITE)) |
            (other.flags & ASN_FLAG_INDEFINITE);
    copySegmentsFrom(other);
    return *this;
}

// ---------------------------------------------------------------------------
// value access

int ASNoctstr::set(const unsigned char* bytes, int n)
{
    checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "!( flags & ASN_FLAG_CONST )");
    if (n < 0 || (n > 0 && !bytes))
        return 0;
    unsigned char* p = nullptr;
    if (n > 0) {
        p = new (std::nothrow) unsigned char[n];
        if (!p)
            return 0;
        std::memcpy(p, bytes, n);
    }
    clear();
    // A value set from octets is primitive, whatever it held before.
    tag = static_cast<unsigned char>(tag & ~0x20);
    flags &= ~ASN_FLAG_INDEFINITE;
    buf = p;
    length = n;
    return 1;
}

unsigned char* ASNoctstr::allocate(int n)
{
    checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "!( flags & ASN_FLAG_CONST )");
    clear();
    releaseSource();
    tag = static_cast<unsigned char>(tag & ~0x20);
    // The tagging of the type survives; only the state of the old value goes.
    flags &= (ASN_FLAG_EXPLICIT | ASN_FLAG_NONUNIVERSAL | ASN_FLAG_CONSTRUCTED);
    if (n <= 0)
        return nullptr;
    buf = new (std::nothrow) unsigned char[n];
    if (!buf)
        return nullptr;
    length = n;
    return buf;
}

bool ASNoctstr::equals(const ASNoctstr& other) const
{
    const bool mineSeg = isConstructed() && !isConstView();
    const bool otherSeg = other.isConstructed() && !other.isConstView();
    if (mineSeg || otherSeg) {
        if (!isConstructed() || !other.isConstructed())
            return false;
        if (segments.GetCount() != other.segments.GetCount())
            return false;
        POSITION a = segments.GetHeadPosition();
        POSITION b = other.segments.GetHeadPosition();
        while (a && b) {
            const ASNoctstr* x = TypedPointerList<ASNoctstr>::GetNext(a);
            const ASNoctstr* y = TypedPointerList<ASNoctstr>::GetNext(b);
            if (!x || !y || !x->equals(*y))
                return false;
        }
        return true;
    }
    if (length != other.length)
        return false;
    if (length <= 0)
        return true;
    const unsigned char* a = data();
    const unsigned char* b = other.data();
    return a && b && std::memcmp(a, b, length) == 0;
}

int ASNoctstr::compare(const ASNoctstr& other) const
{
    if (length != other.length)
        return length < other.length ? -1 : 1;
    if (length <= 0)
        return 0;
    const unsigned char* a = data();
    const unsigned char* b = other.data();
    if (!a || !b)
        return a ? 1 : (b ? -1 : 0);
    int c = std::memcmp(a, b, length);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// ---------------------------------------------------------------------------
// whole decoding

int ASNoctstr::appendSegment(GenericFile* in, int available, int64_t* used)
{
    ASNoctstr* seg = new (std::nothrow) ASNoctstr(4);
    if (!seg)
        return EASN_MEM;
    seg->isSegment = 1;
    asnChargeHeld(asnElementCost<ASNoctstr>(segments.GetCount()));
    try {
        if (!segments.AddTail(seg)) {
            delete seg;
            return EASN_MEM;
        }
    } catch (const std::bad_alloc&) {
        delete seg;
        return EASN_MEM;
    }
    int r = seg->decode(in, available, static_cast<unsigned char>(flags & ASN_FLAG_CONST));
    if (r <= 0) {
        delete segments.RemoveTail();
        return r;
    }
    *used += r;
    return 1;
}

// Octets of every primitive segment's content, depth first.
static int64_t flatLength(const ASNoctstr& s)
{
    int64_t n = 0;
    for (POSITION p = s.segments.GetHeadPosition(); p;) {
        const ASNoctstr* seg = TypedPointerList<ASNoctstr>::GetNext(p);
        if (seg)
            n += seg->isConstructed() ? flatLength(*seg) : (seg->length > 0 ? seg->length : 0);
    }
    return n;
}

// Copies every primitive segment's content, depth first, to `out`: the end
// of what was written, or null when a segment's content cannot be read.
static unsigned char* flattenInto(const ASNoctstr& s, unsigned char* out)
{
    for (POSITION p = s.segments.GetHeadPosition(); p && out;) {
        const ASNoctstr* seg = TypedPointerList<ASNoctstr>::GetNext(p);
        if (!seg)
            continue;
        if (seg->isConstructed()) {
            out = flattenInto(*seg, out);
        } else if (seg->length > 0) {
            const unsigned char* d = seg->data();
            if (!d)
                return nullptr;
            std::memcpy(out, d, static_cast<size_t>(seg->length));
            out += seg->length;
        }
    }
    return out;
}

int ASNoctstr::flatten()
{
    releaseOwned(buf, length);
    // Only the outermost value keeps the content in one piece: a copy at
    // every level of nested segments would hold the content once per level.
    if (isSegment)
        return 1;
    int64_t n = flatLength(*this);
    if (n == 0)
        return 1;
    if (n > ASN_MAX_LENGTH)
        return EASN_MEM;
    unsigned char* p = new (std::nothrow) unsigned char[static_cast<size_t>(n)];
    if (!p)
        return EASN_MEM;
    if (flattenInto(*this, p) != p + n) {
        freeWiped(p, static_cast<size_t>(n));
        return EASN_MEM;
    }
    asnChargeHeld(asnAllocCost(n));
    buf = p;
    length = static_cast<int32_t>(n);
    return 1;
}

int ASNoctstr::decodeContent(GenericFile* in, int n)
{
    clear();
    if (n < 0)
        return 0;
    if (n == 0)
        return 1;
    if (!isConstructed()) {
        int r = readContent(in, n, &buf);
        if (r != 1)
            return r;
        length = n;
        return 1;
    }
    return decodeSegments(in, n);
}

int ASNoctstr::decodeSegments(GenericFile* in, int n)
{
    ASNholdMeter meter;
    int64_t used = 0;
    while (used < n) {
        int r = appendSegment(in, static_cast<int>(n - used), &used);
        if (r <= 0)
            return r;
        if (!meter.within(used))
            return EASN_MEM;
    }
    if (used != n)
        return 0;
    return flatten();
}

int ASNoctstr::decodeIndefinite(GenericFile* in, int available)
{
    clear();
    if (!isConstructed())
        return 0;
    ASNholdMeter meter;
    int64_t used = 0;
    for (;;) {
        int e = asnIndefiniteStep(in, available, used);
        if (e == 0)
            return 0;
        if (e == 1)
            return flatten();
        int r = appendSegment(in, available > 0 ? static_cast<int>(available - used) : -1, &used);
        if (r <= 0)
            return r;
        if (!meter.within(used))
            return EASN_MEM;
    }
}

// ---------------------------------------------------------------------------
// encoding

int ASNoctstr::contentLength() const
{
    if (!isConstructed())
        return length;
    int64_t sum = 0;
    for (POSITION p = segments.GetHeadPosition(); p;) {
        const ASNoctstr* s = TypedPointerList<ASNoctstr>::GetNext(p);
        if (s)
            sum += s->encodedLength();
    }
    return sum > ASN_MAX_LENGTH ? static_cast<int>(ASN_MAX_LENGTH) : static_cast<int>(sum);
}

int ASNoctstr::encodeContent(GenericFile* out) const
{
    if (isConstructed()) {
        for (POSITION p = segments.GetHeadPosition(); p;) {
            const ASNoctstr* s = TypedPointerList<ASNoctstr>::GetNext(p);
            if (!s)
                continue;
            int r = s->encode(out);
            if (r < 1)
                return r;
        }
        return 1;
    }
    if (length <= 0)
        return 1;
    const unsigned char* d = data();
    if (!d)
        return EASN_FILE;
    return asnWrite(out, d, length) == 0 ? 1 : EASN_FILE;
}

void ASNoctstr::digestContent(LvHash* hash) const
{
    if (isConstructed()) {
        for (POSITION p = segments.GetHeadPosition(); p;) {
            const ASNoctstr* s = TypedPointerList<ASNoctstr>::GetNext(p);
            if (s)
                s->updateDigest(hash);
        }
        return;
    }
    updateDigestBytes(data(), length, hash);
}

// ---------------------------------------------------------------------------
// streaming

int ASNoctstr::createStreamCtx()
{
    if (streamCtx)
        return 1;
    streamCtx = new (std::nothrow) ASNOctStrStreamCtx();
    return streamCtx ? 1 : EASN_MEM;
}

int ASNoctstr::setStreamPassThrough(bool on)
{
    int r = createStreamCtx();
    if (r < 1)
        return r;
    ASNOctStrStreamCtx* c = dynamic_cast<ASNOctStrStreamCtx*>(streamCtx);
    if (!c)
        return 0;
    c->passThrough = on ? 1 : 0;
    return 1;
}

bool ASNoctstr::isStreamPassThrough() const
{
    const ASNOctStrStreamCtx* c = dynamic_cast<const ASNOctStrStreamCtx*>(streamCtx);
    return c && c->passThrough;
}

int64_t ASNoctstr::streamContentLength(int64_t expected) const
{
    return isStreamPassThrough() ? expected : contentLength();
}

// Whether a finished segment of `result` octets still leaves the value's
// size countable (with room for its header and end-of-contents octets): a
// value passed through may grow to the streaming bound, a held one only to
// the whole-value bound, refused as soon as it passes it.
static bool segmentFits(const ASNOctStrStreamCtx* c, int64_t result)
{
    const int64_t bound = c->passThrough ? ASN_MAX_STREAM_LENGTH : ASN_MAX_LENGTH;
    return c->consumed + result <= bound - 8 && c->total + result <= bound;
}

// A finished segment joins the value (kept only when it holds content, and
// then charged to the hold budget).
static void finishSegment(ASNoctstr& value, ASNOctStrStreamCtx* c, int64_t result)
{
    ASNoctstr* seg = c->segment;
    c->segment = nullptr;
    const ASNOctStrStreamCtx* sc = dynamic_cast<const ASNOctStrStreamCtx*>(seg->streamCtx);
    const int64_t content = sc ? sc->total : 0;
    c->total += content;
    c->consumed += result;
    if (!c->passThrough && content > 0) {
        seg->freeStreamCtx();
        asnChargeHeld(asnElementCost<ASNoctstr>(value.segments.GetCount()));
        try {
            if (value.segments.AddTail(seg))
                return;
        } catch (const std::bad_alloc&) {
        }
    }
    delete seg;
}

static ASNoctstr* newStreamSegment(bool passThrough)
{
    ASNoctstr* seg = new (std::nothrow) ASNoctstr(4);
    if (!seg)
        return nullptr;
    seg->isSegment = 1;
    if (seg->setStreamPassThrough(passThrough) != 1) {
        delete seg;
        return nullptr;
    }
    return seg;
}

int ASNoctstr::streamDecodeStep(GenericFile* in, int64_t contentLen, GenericFile* out)
{
    checkInvariant(streamCtx != nullptr, SRC, __LINE__, "streamCtx != NULL");
    ASNOctStrStreamCtx* c = dynamic_cast<ASNOctStrStreamCtx*>(streamCtx);
    if (!c)
        return ASNobject::streamDecodeStep(in, contentLen, out);
    if (!(c->reserved & 1)) {
        // First step of this value: the old value goes.
        clear();
        c->reserved |= 1;
        c->consumed = 0;
        c->total = 0;
        c->zeroCount = 0;
        c->betweenSegments = 1;
        c->held = 0;
    }
    ASNholdMeter meter(&c->held);
    if (contentLen == 0) {
        c->contentSize = 0;
        return 1;
    }
    if (!isConstructed()) {
        if (contentLen < 1)
            return 0;
        if (!c->passThrough) {
            // A kept value must fit the whole-value bound.
            if (contentLen > ASN_MAX_LENGTH)
                return 0;
            // Grows with the octets that really arrive, never to the announced length.
            MemFile* b = c->getBuffer();
            if (!b)
                return EASN_MEM;
            uint32_t missing = static_cast<uint32_t>(contentLen - c->consumed);
            uint32_t copied = 0;
            int r = in->copyTo(b, missing, &copied);
            c->consumed += copied;
            if (r == -1)
                return EASN_FILE;
            if (r != 0)
                return EASN_MEM;
            if (c->consumed < contentLen)
                return EASN_MORE;
            asnChargeHeld(asnAllocCost(b->capacity()));
            length = b->length();
            buf = b->detach();
        } else {
            std::unique_ptr<unsigned char[]> chunk(new (std::nothrow) unsigned char[PASS_CHUNK]);
            if (!chunk)
                return EASN_MEM;
            while (c->consumed < contentLen) {
                uint32_t want = static_cast<uint32_t>(
                    contentLen - c->consumed < PASS_CHUNK ? contentLen - c->consumed : PASS_CHUNK);
                uint32_t got = 0;
                if (in->read(want, chunk.get(), &got) != 0)
                    return EASN_FILE;
                if (got == 0)
                    return EASN_MORE;
                c->consumed += got;
                if (out && out->write(got, chunk.get()) != 0)
                    return EASN_FILE;
            }
            // The size passed through, where the field can hold it.
            length = contentLen <= ASN_MAX_LENGTH ? static_cast<int32_t>(contentLen) : 0;
        }
        c->total += contentLen;
        c->contentSize = c->consumed;
        return 1;
    }
    if (contentLen > 0) {
        while (c->consumed < contentLen) {
            if (!c->segment) {
                c->segment = newStreamSegment(c->passThrough != 0);
                if (!c->segment)
                    return EASN_MEM;
            }
            int64_t r = c->segment->decodeStream(in, out);
            if (r < 1)
                return static_cast<int>(r);
            if (!segmentFits(c, r))
                return 0;
            finishSegment(*this, c, r);
            if (!meter.within(c->consumed))
                return EASN_MEM;
        }
        if (c->consumed != contentLen)
            return 0;
        if (!c->passThrough) {
            int r = flatten();
            if (r != 1)
                return r;
        }
        c->contentSize = c->consumed;
        return 1;
    }
    // Indefinite length: segments until two zero octets.
    for (;;) {
        if (c->segment) {
            int64_t r = c->segment->decodeStream(in, out);
            if (r < 1)
                return static_cast<int>(r);
            if (!segmentFits(c, r))
                return 0;
            finishSegment(*this, c, r);
            if (!meter.within(c->consumed))
                return EASN_MEM;
            c->betweenSegments = 1;
            continue;
        }
        uint8_t b;
        int r = asnReadByte(in, &b);
        if (r < 0)
            return EASN_FILE;
        if (r == 0)
            return EASN_MORE;
        if (b == 0) {
            if (++c->zeroCount < 2)
                continue;
            if (!c->passThrough) {
                int f = flatten();
                if (f != 1)
                    return f;
            }
            c->eocCount = 2;
            c->contentSize = c->consumed;
            return 1;
        }
        c->segment = newStreamSegment(c->passThrough != 0);
        if (!c->segment)
            return EASN_MEM;
        unsigned char lead[2];
        int k = 0;
        if (c->zeroCount == 1)
            lead[k++] = 0;
        lead[k++] = b;
        c->zeroCount = 0;
        c->betweenSegments = 0;
        MemFile tmp(lead, k, false);
        const int64_t first = c->segment->decodeStream(&tmp, out);
        if (first >= 1) {
            if (!segmentFits(c, first))
                return 0;
            finishSegment(*this, c, first);
            if (!meter.within(c->consumed))
                return EASN_MEM;
            c->betweenSegments = 1;
        } else if (first != EASN_MORE) {
            return static_cast<int>(first);
        }
    }
}

int ASNoctstr::streamEncodeStep(GenericFile* in, int64_t len, bool last, GenericFile* out)
{
    checkInvariant(streamCtx != nullptr, SRC, __LINE__, "streamCtx != NULL");
    ASNOctStrStreamCtx* c = dynamic_cast<ASNOctStrStreamCtx*>(streamCtx);
    if (!c || !c->passThrough)
        return ASNobject::streamEncodeStep(in, len, last, out);
    std::unique_ptr<unsigned char[]> chunk(new (std::nothrow) unsigned char[PASS_CHUNK]);
    if (!chunk)
        return EASN_MEM;
    if (len >= 0) {
        // Never more than the announced length is taken from the input.
        while (c->passed < len) {
            uint32_t want = static_cast<uint32_t>(len - c->passed < PASS_CHUNK ? len - c->passed : PASS_CHUNK);
            uint32_t got = 0;
            if (in->read(want, chunk.get(), &got) != 0)
                return EASN_FILE;
            if (got == 0)
                break;
            c->passed += got;
            if (out->write(got, chunk.get()) != 0)
                return EASN_FILE;
        }
        if (!last)
            return c->passed > len ? 0 : EASN_MORE;
        return c->passed == len ? 1 : 0;
    }
    if (!isConstructed())
        return 0;
    MemFile tmp;
    uint32_t copied = 0;
    if (in->copyTo(&tmp, 0xFFFFFFFFu, &copied) != 0)
        return EASN_FILE;
    if (copied == 0)
        return last ? 1 : EASN_MORE;
    ASNoctstr seg(4);
    if (!seg.set(tmp.data(), tmp.length()))
        return EASN_MEM;
    int r = seg.encode(out);
    if (r < 1)
        return r;
    c->passed += copied;
    return last ? 1 : EASN_MORE;
}

// ---------------------------------------------------------------------------

ASNUtf8String::ASNUtf8String(unsigned char t) : ASNoctstr((t & 0xC0) ? t : 12)
{
    univTag = 12;
}
