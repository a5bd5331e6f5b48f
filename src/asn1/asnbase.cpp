// ASN.1 object model: identifier and length octets, values read in place,
// lengths, hashing and the streaming driver.
#include "asn1/asnbase.h"

#include "asn1/asnany.h"
#include "asn1/asnchoice.h"
#include "asn1/asncont.h"
#include "asn1/asnocstr.h"
#include "asn1/asnprivate.h"
#include "base/commonerror.h"
#include "base/memfile.h"
#include "base/workaccount.h"
#include "crypto/basic/lvnet.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>

#if __has_include("crypto/hash/lvhash.h")
#include "crypto/hash/lvhash.h"
#define TAL_ASN_HAVE_HASH 1
#endif

namespace {
const char* const SRC = "asnbase";
thread_local int g_depth = 0;

// The crypto library's net is the work accounts' tick: joined here, in the
// lowest layer that sees both (every document's work decodes ASN.1, so this
// unit is in every program that keeps accounts).
struct JoinNet {
    JoinNet() noexcept { lvnet::setTick(&workTick); }
} const g_joinNet;

// Hold budget of a heap MemFile a value keeps: the object and its buffer.
int64_t memFileCost(const MemFile& m)
{
    return asnAllocCost(static_cast<int64_t>(sizeof(MemFile))) + (m.capacity() > 0 ? asnAllocCost(m.capacity()) : 0);
}
} // namespace

// ---------------------------------------------------------------------------
// small stream helpers shared by the folder

int asnReadByte(GenericFile* in, uint8_t* b)
{
    uint32_t got = 0;
    if (in->read(1, b, &got) != 0)
        return -1;
    return got == 1 ? 1 : 0;
}

int asnReadFully(GenericFile* in, uint8_t* buf, uint32_t n)
{
    uint32_t got = 0;
    if (n == 0)
        return 1;
    if (in->read(n, buf, &got) != 0)
        return -1;
    return got == n ? 1 : 0;
}

int asnWrite(GenericFile* out, const uint8_t* buf, int64_t n)
{
    if (n <= 0)
        return 0;
    return out->write(static_cast<uint32_t>(n), buf) == 0 ? 0 : -1;
}

int asnSkip(GenericFile* in, int64_t n)
{
    if (n <= 0)
        return 1;
    int64_t target = static_cast<int64_t>(in->tell()) + n;
    if (target > ASN_MAX_LENGTH)
        return 0;
    uint32_t sz = in->size();
    if (sz != 0xFFFFFFFFu && target > sz)
        return 0;
    return in->seek(static_cast<int32_t>(target)) == 0 ? 1 : 0;
}

int asnIndefiniteStep(GenericFile* in, int64_t available, int64_t used)
{
    if (available > 0 && available - used < 2)
        return 0;
    int e = ASNobject::atEndOfContents(in);
    if (e < 0)
        return 0;
    if (e == 0)
        return 2;
    return asnSkip(in, 2) ? 1 : 0;
}

// Measures the TLV at the current position (nested indefinite lengths
// included) without keeping anything; the position is left after it.
int asnScanTLV(GenericFile* in, int64_t avail, int depth, int64_t* total)
{
    if (depth > ASN_MAX_DEPTH || avail < 2)
        return 0;
    uint8_t id, b;
    int r = asnReadByte(in, &id);
    if (r <= 0)
        return r;
    if ((id & 0x1F) == 0x1F || (id & 0xDF) == 0)
        return 0;
    r = asnReadByte(in, &b);
    if (r <= 0)
        return r;
    int64_t hdr = 2;
    if (b == 0x80) {
        if (!(id & 0x20))
            return 0;
        int64_t used = hdr;
        for (;;) {
            int e = asnIndefiniteStep(in, avail, used);
            if (e == 0)
                return 0;
            if (e == 1) {
                *total = used + 2;
                return 1;
            }
            int64_t sub = 0;
            r = asnScanTLV(in, avail - used, depth + 1, &sub);
            if (r <= 0)
                return r;
            used += sub;
        }
    }
    int64_t len = b;
    if (b > 0x80) {
        int k = b & 0x7F;
        if (k > 4 || k > avail - 2)
            return 0;
        uint8_t lb[4];
        r = asnReadFully(in, lb, k);
        if (r <= 0)
            return r;
        len = 0;
        for (int i = 0; i < k; ++i)
            len = (len << 8) | lb[i];
        hdr += k;
    }
    if (len > ASN_MAX_LENGTH || len > avail - hdr)
        return 0;
    if (!asnSkip(in, len))
        return 0;
    *total = hdr + len;
    return 1;
}

// A private copy of the TLV at the current position of `in`: the stream is
// left after the TLV; *out receives a MemFile positioned at 0.
int asnCopyTLV(GenericFile* in, int64_t avail, MemFile** out, int64_t* total)
{
    uint32_t start = in->tell();
    int r = asnScanTLV(in, avail, ASNDepthGuard::current(), total);
    if (r <= 0)
        return r;
    if (in->seek(static_cast<int32_t>(start)) != 0)
        return -1;
    MemFile* m = new (std::nothrow) MemFile();
    if (!m)
        return -2;
    // Exactly the value's octets (present, scanned above), not a doubled buffer.
    if (!m->setSize(static_cast<int32_t>(*total)) || m->seek(0) != 0) {
        delete m;
        return -2;
    }
    uint32_t copied = 0;
    int c = in->copyTo(m, static_cast<uint32_t>(*total), &copied);
    if (c != 0 || copied != static_cast<uint32_t>(*total)) {
        delete m;
        return c == -2 ? -2 : (c != 0 ? -1 : 0);
    }
    m->seek(0);
    asnChargeHeld(memFileCost(*m));
    *out = m;
    return 1;
}

bool asnDigit(char c) { return c >= '0' && c <= '9'; }

int asnTwoDigits(const char* p) { return (asnDigit(p[0]) && asnDigit(p[1])) ? (p[0] - '0') * 10 + (p[1] - '0') : -1; }

int asnReadZoneOffset(const char* p, char sign, int32_t* hours, int32_t* minutes)
{
    int oh = asnTwoDigits(p), om = asnTwoDigits(p + 2);
    if (oh < 0 || oh > 23 || om < 0 || om > 59)
        return 0;
    *hours = sign == '-' ? -oh : oh;
    *minutes = sign == '-' ? -om : om;
    return 1;
}

int asnFormatZone(char* text, int k, int32_t hours, int32_t minutes)
{
    int w;
    if (hours == 0 && minutes == 0)
        w = std::snprintf(text + k, 64 - k, "Z");
    else
        w = std::snprintf(text + k, 64 - k, "%s%.2d%.2d", (hours >= 0 && minutes >= 0) ? "+" : "-",
                          hours < 0 ? -hours : hours, minutes < 0 ? -minutes : minutes);
    if (w < 0 || k + w >= 64)
        return 0;
    return k + w;
}

int asnWriteText(GenericFile* out, const char* text, int n)
{
    if (n <= 0)
        return 0;
    return asnWrite(out, reinterpret_cast<const uint8_t*>(text), n) == 0 ? 1 : EASN_FILE;
}

// The header octets of a value into buf: at most 20 (two tags and two
// lengths of up to nine octets each).
static int buildHeader(const ASNobject& o, uint8_t* buf, int64_t contentLength)
{
    int k = 0;
    if (o.flags & ASN_FLAG_EXPLICIT) {
        checkInvariant(o.explTag != TAG_ANY, SRC, __LINE__, "explTag != TAG_ANY");
        buf[k++] = o.explTag;
        if (o.flags & ASN_FLAG_OUTER_INDEFINITE) {
            buf[k++] = 0x80;
        } else {
            int64_t inner = (o.flags & ASN_FLAG_INDEFINITE)
                                ? int64_t(contentLength) + 4
                                : 1 + ASNobject::lengthFieldSize(contentLength) + int64_t(contentLength);
            k += ASNobject::writeLength(buf + k, inner);
        }
    }
    buf[k++] = o.tag;
    if (o.flags & ASN_FLAG_INDEFINITE)
        buf[k++] = 0x80;
    else
        k += ASNobject::writeLength(buf + k, contentLength);
    return k;
}

// ---------------------------------------------------------------------------
// ASNDepthGuard

ASNDepthGuard::ASNDepthGuard() : tooDeep(++g_depth > ASN_MAX_DEPTH) {}
ASNDepthGuard::~ASNDepthGuard() { --g_depth; }
int ASNDepthGuard::current() { return g_depth; }

// ---------------------------------------------------------------------------
// ASNStreamCtx

ASNStreamCtx::ASNStreamCtx() = default;

ASNStreamCtx::~ASNStreamCtx() { delete buffer; }

int ASNStreamCtx::reset()
{
    reserved = 0;
    contentSize = decodeState = encodeState = eocCount = passed = eocDone = 0;
    if (buffer)
        buffer->clear();
    contentLen = lengthOctets = 0;
    contentDone = headerWritten = headerRead = 0;
    headerProgress = headerSize = contentConsumed = 0;
    lengthAccum = 0;
    boundTaken = 0;
    taken = 0;
    held = 0;
    return 0;
}

MemFile* ASNStreamCtx::getBuffer()
{
    if (!buffer)
        buffer = new (std::nothrow) MemFile();
    return buffer;
}

// ---------------------------------------------------------------------------
// ASNobject: construction

ASNobject::ASNobject(const ASNobject& other)
    : tag(other.tag), flags(other.flags & ~(ASN_FLAG_CONST | ASN_FLAG_COPY | ASN_FLAG_OWNSOURCE)),
      explTag(other.explTag), source(nullptr), offset(0), streamCtx(nullptr), contentOffset(0),
      receivedLength(0)
{
}

ASNobject& ASNobject::operator=(const ASNobject& other)
{
    if (this != &other) {
        releaseSource();
        freeStreamCtx();
        tag = other.tag;
        explTag = other.explTag;
        flags = other.flags & ~(ASN_FLAG_CONST | ASN_FLAG_COPY | ASN_FLAG_OWNSOURCE);
    }
    return *this;
}

void ASNobject::releaseViews() { dropOwnView(); }

void ASNobject::deleteSource() { delete source; }

// ---------------------------------------------------------------------------
// tags

unsigned char ASNobject::getTag() const { return (flags & ASN_FLAG_EXPLICIT) ? explTag : tag; }

void ASNobject::setTag(unsigned char t)
{
    if (flags & ASN_FLAG_EXPLICIT) {
        explTag = (t == TAG_ANY) ? TAG_ANY : static_cast<unsigned char>(t | 0x20);
        tag = static_cast<unsigned char>(universalTag() | (tag & 0x20));
    } else {
        tag = (t == TAG_ANY) ? TAG_ANY : static_cast<unsigned char>(t & ~0x20);
        if ((t & 0xC0) || t == TAG_ANY)
            flags |= ASN_FLAG_NONUNIVERSAL;
        else
            flags &= ~ASN_FLAG_NONUNIVERSAL;
    }
}

void ASNobject::makeExplicit()
{
    if (flags & ASN_FLAG_EXPLICIT)
        return;
    flags |= ASN_FLAG_EXPLICIT;
    if (tag == TAG_ANY) {
        explTag = TAG_ANY;
        tag = static_cast<unsigned char>(universalTag() & ~0x20);
    } else {
        explTag = static_cast<unsigned char>(tag | 0x20);
        tag = static_cast<unsigned char>((universalTag() & ~0x20) | (tag & 0x20));
    }
}

void ASNobject::makeImplicit()
{
    if (!(flags & ASN_FLAG_EXPLICIT))
        return;
    flags &= ~(ASN_FLAG_EXPLICIT | ASN_FLAG_OUTER_INDEFINITE);
    if (explTag == TAG_ANY)
        tag = TAG_ANY;
    else
        tag = static_cast<unsigned char>((explTag & ~0x20) | (tag & 0x20));
}

// ---------------------------------------------------------------------------
// lengths and headers

int ASNobject::lengthFieldSize(int64_t n)
{
    if (n < 128)
        return 1;
    int k = 1;
    for (uint64_t v = static_cast<uint64_t>(n); v != 0; v >>= 8)
        ++k;
    return k;
}

int ASNobject::readLength(GenericFile* in, int* length)
{
    int64_t avail = *length;
    if (avail <= 0)
        return 0;
    uint8_t b;
    int r = asnReadByte(in, &b);
    if (r <= 0)
        return r;
    flags &= ~ASN_FLAG_INDEFINITE;
    if (b < 0x80) {
        *length = b;
        return 1;
    }
    int n = b & 0x7F;
    if (n == 0) {
        *length = -1;
        flags |= ASN_FLAG_INDEFINITE;
        return 1;
    }
    if (n > 4 || n > avail - 1)
        return 0;
    uint8_t lb[4];
    r = asnReadFully(in, lb, n);
    if (r <= 0)
        return r;
    int64_t v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | lb[i];
    if (v > ASN_MAX_LENGTH)
        return 0;
    *length = static_cast<int>(v);
    return n + 1;
}

// Identifier octet checks of the value's own tag (both header readers): 1
// when the octet is accepted (and taken into the tag as far as it varies).
static int acceptIdentifier(ASNobject& o, uint8_t b)
{
    // High tag numbers are not supported; universal 0 is the end-of-contents
    // marker, never a value (a re-encoding would turn it into one).
    if ((b & 0x1F) == 0x1F || (b & 0xDF) == 0)
        return 0;
    const bool nonUniversal = (b & 0xC0) != 0;
    if (nonUniversal && !(o.flags & ASN_FLAG_NONUNIVERSAL))
        return 0;
    if ((b & 0x20) && !(o.flags & ASN_FLAG_CONSTRUCTED) && o.tag != TAG_ANY)
        return 0;
    const unsigned char ut = o.universalTag();
    // Structures are always constructed, whatever tag they carry.
    if (ut != TAG_ANY && (ut & 0x20) && o.tag != TAG_ANY && !(b & 0x20))
        return 0;
    if (nonUniversal || o.tag == TAG_ANY) {
        o.tag = b;
        return 1;
    }
    // A context-tagged value never matches a universal identifier.
    if ((o.tag & 0xC0) || (b & 0x1F) != (o.tag & 0x1F))
        return 0;
    o.tag = static_cast<unsigned char>((o.tag & ~0x20) | (b & 0x20));
    return 1;
}

// Header reader with the explicit outer length reported (-1 indefinite,
// -2 no outer tag).
static int readHeaderImpl(ASNobject& o, GenericFile* in, int64_t avail, int* length, int* outerLen,
                          int* outerHdrSize)
{
    *outerLen = -2;
    *outerHdrSize = 0;
    if (avail < 2)
        return 0;
    uint8_t b;
    int r = asnReadByte(in, &b);
    if (r <= 0)
        return r;
    int outerHdr = 0;
    int64_t limit = avail - 1;
    if (o.flags & ASN_FLAG_EXPLICIT) {
        if ((b & 0x1F) == 0x1F || !(b & 0xC0) || !(b & 0x20))
            return 0;
        if (o.explTag != TAG_ANY && (b | 0x20) != (o.explTag | 0x20))
            return 0;
        o.explTag = b;
        int olen = static_cast<int>(limit);
        r = o.readLength(in, &olen);
        if (r <= 0)
            return r;
        outerHdr = 1 + r;
        *outerHdrSize = outerHdr;
        if (o.flags & ASN_FLAG_INDEFINITE) {
            o.flags &= ~ASN_FLAG_INDEFINITE;
            o.flags |= ASN_FLAG_OUTER_INDEFINITE;
            limit = avail - outerHdr;
            *outerLen = -1;
        } else {
            o.flags &= ~ASN_FLAG_OUTER_INDEFINITE;
            if (olen > avail - outerHdr)
                return 0;
            limit = olen;
            *outerLen = olen;
        }
        if (limit < 2)
            return 0;
        r = asnReadByte(in, &b);
        if (r <= 0)
            return r;
        limit -= 1;
    }
    if (!acceptIdentifier(o, b))
        return 0;
    int ilen = static_cast<int>(limit > ASN_MAX_LENGTH ? ASN_MAX_LENGTH : limit);
    r = o.readLength(in, &ilen);
    if (r <= 0)
        return r;
    if (ilen == -1 && !(b & 0x20))
        return 0;
    if (ilen >= 0 && ilen > limit - r)
        return 0;
    if (*outerLen >= 0 && ilen >= 0 && int64_t(1) + r + ilen != *outerLen)
        return 0;
    *length = ilen;
    return outerHdr + 1 + r;
}

int ASNobject::readHeader(GenericFile* in, int* length)
{
    int outer, outerHdr;
    return readHeaderImpl(*this, in, *length, length, &outer, &outerHdr);
}

int ASNobject::writeLength(unsigned char* buffer, int64_t n)
{
    if (n == -1) {
        buffer[0] = 0x80;
        return 1;
    }
    if (n < 128) {
        buffer[0] = static_cast<unsigned char>(n);
        return 1;
    }
    int k = lengthFieldSize(n);
    buffer[0] = static_cast<unsigned char>(0x80 | (k - 1));
    for (int i = 1; i < k; ++i)
        buffer[i] = static_cast<unsigned char>(uint64_t(n) >> (8 * (k - 1 - i)));
    return k;
}

int ASNobject::writeHeader(GenericFile* out, int64_t contentLength) const
{
    uint8_t buf[20];
    int k = buildHeader(*this, buf, contentLength);
    return asnWrite(out, buf, k) == 0 ? k : -1;
}

// ---------------------------------------------------------------------------
// values read in place

const unsigned char* ASNobject::sourceAt(int64_t pos) const
{
    const MemFile* m = source;
    if (!m || !m->data() || pos < 0 || pos > m->length())
        return nullptr;
    return m->data() + pos;
}

int64_t ASNobject::sourceAvailable(int64_t pos) const
{
    const MemFile* m = source;
    if (!m || pos < 0 || pos > m->length())
        return 0;
    return m->length() - pos;
}

const unsigned char* ASNobject::receivedEncoding() const
{
    if (!isConstView() || sourceAvailable(offset) < receivedLength)
        return nullptr;
    return sourceAt(offset);
}

int64_t ASNobject::availableIn(GenericFile* in, int length)
{
    // A structure whose content is used up hands its next member 0: nothing
    // is available then. Only a negative length (a stream of unknown
    // length) leaves the stream itself as the bound.
    if (length >= 0 && length < 2)
        return length;
    int64_t a = length > 0 ? length : ASN_MAX_LENGTH;
    uint32_t sz = in->size();
    if (sz != 0xFFFFFFFFu) {
        uint32_t p = in->tell();
        int64_t rem = p <= sz ? int64_t(sz) - p : 0;
        if (rem < a)
            a = rem;
    }
    return a > ASN_MAX_LENGTH ? ASN_MAX_LENGTH : a;
}

int ASNobject::readOwned(GenericFile* in, int n, unsigned char** out)
{
    *out = nullptr;
    if (n <= 0)
        return 1;
    const int direct = 1 << 20;
    if (n <= direct) {
        unsigned char* p = new (std::nothrow) unsigned char[n];
        if (!p)
            return EASN_MEM;
        int r = asnReadFully(in, p, n);
        if (r <= 0) {
            freeWiped(p, n);
            return r;
        }
        asnChargeHeld(asnAllocCost(n));
        *out = p;
        return 1;
    }
    // Large announced lengths: the buffer grows only with octets really read.
    MemFile m;
    std::unique_ptr<unsigned char[]> chunk(new (std::nothrow) unsigned char[65536]);
    if (!chunk)
        return EASN_MEM;
    int64_t done = 0;
    while (done < n) {
        uint32_t want = static_cast<uint32_t>(n - done < 65536 ? n - done : 65536);
        uint32_t got = 0;
        if (in->read(want, chunk.get(), &got) != 0)
            return EASN_FILE;
        if (got == 0)
            return 0;
        if (m.write(got, chunk.get()) != 0)
            return EASN_MEM;
        done += got;
    }
    asnChargeHeld(asnAllocCost(m.capacity()));
    *out = m.detach();
    return 1;
}

// ---------------------------------------------------------------------------
// decoding

int ASNobject::decodeBody(GenericFile* in, int64_t avail, int* headerSize)
{
    int len = 0, outerLen = -2, outerHdr = 0;
    uint32_t start = in->tell();
    int h = readHeaderImpl(*this, in, avail, &len, &outerLen, &outerHdr);
    if (h <= 0)
        return h;
    *headerSize = h;
    contentOffset = offset + h;
    int64_t total;
    if (len == -1) {
        uint32_t contentStart = in->tell();
        int r = decodeIndefinite(in, static_cast<int>(avail - h));
        if (r <= 0)
            return r;
        // Count the octets really consumed, not a re-encoded length.
        uint32_t now = in->tell();
        if (now < contentStart + 2u)
            return 0;
        total = int64_t(now) - start;
    } else {
        uint32_t contentStart = in->tell();
        int r = decodeContent(in, len);
        if (r <= 0)
            return r;
        // A content decoder that left octets behind (or read past) does not match.
        if (int64_t(in->tell()) - contentStart != len)
            return 0;
        total = int64_t(h) + len;
    }
    if (outerLen == -1) {
        if (avail - total < 2)
            return 0;
        int r = readEndOfContents(in, 0);
        if (r != 2)
            return r < 0 ? r : 0;
        total += 2;
    } else if (outerLen >= 0 && total - outerHdr != outerLen) {
        // The inner value (of indefinite length too) must fill the outer tag exactly.
        return 0;
    }
    if (total > avail)
        return 0;
    return static_cast<int>(total);
}

int ASNobject::decode(GenericFile* in, int length, unsigned char f)
{
    ASNDepthGuard guard;
    // Past the work account, a value decodes as a malformed one does.
    if (guard.exceeded() || !in || !workTick())
        return 0;
    releaseViews();
    freeStreamCtx();
    flags = (flags & ~(ASN_FLAG_CONST | ASN_FLAG_COPY)) | (f & (ASN_FLAG_CONST | ASN_FLAG_COPY));
    int64_t avail = availableIn(in, length);
    if (avail < 2)
        return 0;
    int h = 0;
    if (!(flags & ASN_FLAG_CONST))
        return decodeBody(in, avail, &h);
    GenericFile* from = in;
    int r = prepareView(from, avail);
    if (r < 1)
        return r;
    r = decodeBody(from, avail, &h);
    if (r <= 0)
        return r;
    if (from != in && r != avail)
        return 0;
    receivedLength = r;
    return r;
}

int ASNobject::prepareView(GenericFile*& in, int64_t& avail)
{
    MemFile* mem = in->asMemFile();
    if ((flags & ASN_FLAG_COPY) || !mem || mem->isUnknownLength()) {
        // A private copy of exactly this value's octets; the caller's stream
        // moves past the value as after any other decode.
        MemFile* priv = nullptr;
        int64_t total = 0;
        int r = asnCopyTLV(in, avail, &priv, &total);
        if (r <= 0)
            return r;
        source = priv;
        flags |= ASN_FLAG_OWNSOURCE;
        flags &= ~ASN_FLAG_COPY;
        offset = 0;
        in = priv;
        avail = total;
        return 1;
    }
    source = mem;
    flags &= ~ASN_FLAG_COPY;
    offset = static_cast<int32_t>(in->tell());
    return 1;
}

const unsigned char* ASNobject::viewContent(int n) const
{
    return sourceAvailable(contentOffset) >= n ? sourceAt(contentOffset) : nullptr;
}

int ASNobject::readContent(GenericFile* in, int n, unsigned char** owned)
{
    *owned = nullptr;
    if (isConstView()) {
        if (!asnSkip(in, n) || sourceAvailable(contentOffset) < n)
            return 0;
        return 1;
    }
    return readOwned(in, n, owned);
}

int ASNobject::decodeIndefinite(GenericFile*, int) { return 0; }

// ---------------------------------------------------------------------------
// encoding

int ASNobject::encode(GenericFile* out) const
{
    // Past the work account, encoding fails as a write does.
    if (!workTick())
        return EASN_FILE;
    if (isConstView()) {
        const unsigned char* p = receivedEncoding();
        if (!p)
            return EASN_FILE;
        return asnWrite(out, p, receivedLength) == 0 ? receivedLength : EASN_FILE;
    }
    int n = contentLength();
    if (n < 0)
        return 0;
    int h = writeHeader(out, n);
    if (h < 0)
        return h;
    if (n != 0) {
        int r = encodeContent(out);
        if (r <= 0)
            return r;
    }
    int total = h + n;
    if (flags & ASN_FLAG_INDEFINITE) {
        if (writeEndOfContents(out) < 0)
            return EASN_FILE;
        total += 2;
    }
    if ((flags & ASN_FLAG_EXPLICIT) && (flags & ASN_FLAG_OUTER_INDEFINITE)) {
        if (writeEndOfContents(out) < 0)
            return EASN_FILE;
        total += 2;
    }
    return total;
}

int ASNobject::encodedLength() const
{
    if (isConstView())
        return receivedLength;
    int64_t n = contentLength();
    if (n < 0)
        return -1; // the content cannot be measured, so neither can the whole
    int64_t inner = (flags & ASN_FLAG_INDEFINITE) ? n + 4 : n + lengthFieldSize(n) + 1;
    if (flags & ASN_FLAG_EXPLICIT)
        inner += (flags & ASN_FLAG_OUTER_INDEFINITE) ? 4 : lengthFieldSize(inner) + 1;
    return static_cast<int>(inner);
}

int64_t ASNobject::streamContentLength(int64_t expected) const { return streamLength(expected); }

int64_t ASNobject::streamLength(int64_t) const { return contentLength(); }

int64_t ASNobject::lengthWithHeader(int64_t expected) const
{
    int64_t n = streamContentLength(expected);
    if (n < 0)
        return -1;
    return n + 1 + lengthFieldSize(n);
}

void ASNobject::clear() {}

// ---------------------------------------------------------------------------
// hashing

int ASNobject::digest(int hashId, unsigned char* digestBuff, int digestBuffLen) const
{
    checkInvariant(digestBuff != nullptr && digestBuffLen > 0, SRC, __LINE__,
                   "digestBuff != NULL && digestBuffLen > 0");
#ifdef TAL_ASN_HAVE_HASH
    checkInvariant(hashId >= 1 && hashId <= 8, SRC, __LINE__, "false");
    std::unique_ptr<LvHash> dhfCtx(lvHashCreateObject(static_cast<LvHashAlgo>(hashId)));
    checkInvariant(dhfCtx != nullptr, SRC, __LINE__, "false");
    checkInvariant(static_cast<unsigned int>(digestBuffLen) >= dhfCtx->getHashOctets(), SRC, __LINE__,
                   "(unsigned int)digestBuffLen >= dhfCtx->getHashOctets()");
    dhfCtx->init();
    updateDigest(dhfCtx.get());
    dhfCtx->finish();
    dhfCtx->getHash(dhfCtx->getHashOctets(), digestBuff);
    return 1;
#else
    (void)hashId;
    checkInvariant(false, SRC, __LINE__, "false");
    return 0;
#endif
}

void ASNobject::updateDigest(LvHash* hash) const
{
    if (const ASNchoice* choice = dynamic_cast<const ASNchoice*>(this)) {
        choice->updateChoiceDigest(hash);
        return;
    }
    if (isConstView()) {
        // Exactly the octets received, whatever their length forms.
        updateDigestBytes(receivedEncoding(), receivedLength, hash);
        return;
    }
    digestHeader(hash);
    digestContent(hash);
    if (flags & ASN_FLAG_INDEFINITE)
        digestEndOfContents(hash);
    if ((flags & ASN_FLAG_EXPLICIT) && (flags & ASN_FLAG_OUTER_INDEFINITE))
        digestEndOfContents(hash);
}

void ASNobject::updateDigestBytes(const unsigned char* data, int64_t length, LvHash* hash)
{
    if (!hash || !data || length <= 0)
        return;
#ifdef TAL_ASN_HAVE_HASH
    try {
        hash->step(data, static_cast<unsigned int>(length));
    } catch (const std::exception& e) {
        checkInvariant(false, SRC, __LINE__, "0", e.what());
    }
#endif
}

void ASNobject::digestHeader(LvHash* hash) const
{
    uint8_t buf[20];
    int k = buildHeader(*this, buf, contentLength());
    updateDigestBytes(buf, k, hash);
}

void ASNobject::digestContent(LvHash*) const { checkInvariant(false, SRC, __LINE__, "0"); }

void ASNobject::digestEndOfContents(LvHash* hash) const
{
    static const unsigned char eoc[2] = {0, 0};
    updateDigestBytes(eoc, 2, hash);
}

// ---------------------------------------------------------------------------
// re-reading an ANY

int ASNobject::assignFromAny(const ASNany& anyObj)
{
    ASNDepthGuard guard;
    if (guard.exceeded())
        return 0;
    const int n = anyObj.length;
    if (n < 0)
        return 0;
    std::unique_ptr<MemFile> stream;
    const bool constAny = anyObj.isConstView() && anyObj.receivedEncoding() != nullptr;
    int64_t contentPos = 0;
    if (constAny) {
        // The value keeps its own copy of the element's received octets, so
        // it outlives the ANY and still re-encodes exactly what was received.
        stream.reset(new (std::nothrow) MemFile());
        if (!stream || !stream->setSize(anyObj.receivedLength) || stream->seek(0) != 0)
            return EASN_MEM;
        if (stream->write(anyObj.receivedLength, anyObj.receivedEncoding()) != 0)
            return EASN_MEM;
        asnChargeHeld(memFileCost(*stream));
        contentPos = int64_t(anyObj.contentOffset) - anyObj.offset;
        if (contentPos < 0 || contentPos + n > anyObj.receivedLength)
            return 0;
        stream->seek(static_cast<int32_t>(contentPos));
    } else {
        stream.reset(new (std::nothrow) MemFile(const_cast<unsigned char*>(anyObj.content()), n, false));
        if (!stream)
            return EASN_MEM;
    }
    releaseViews();
    freeStreamCtx();
    flags &= ~(ASN_FLAG_CONST | ASN_FLAG_COPY);

    const unsigned char at = anyObj.tag;
    if ((flags & ASN_FLAG_EXPLICIT) && !(anyObj.flags & ASN_FLAG_EXPLICIT)) {
        if (!(at & 0xC0) || !(at & 0x20) || at == TAG_ANY)
            return 0;
        if (explTag != TAG_ANY && (at | 0x20) != (explTag | 0x20))
            return 0;
        explTag = at;
        tag = universalTag();
        flags &= ~ASN_FLAG_EXPLICIT;
        int r = decode(stream.get(), n, constAny ? ASN_FLAG_CONST : 0);
        flags |= ASN_FLAG_EXPLICIT;
        if (r < 1 || r != n) {
            // The private copy goes: nothing read from it may view it.
            if (constAny)
                releaseViews();
            return r < 1 ? r : 0;
        }
        if (anyObj.flags & ASN_FLAG_INDEFINITE)
            flags |= ASN_FLAG_OUTER_INDEFINITE;
        else
            flags &= ~ASN_FLAG_OUTER_INDEFINITE;
        if (constAny) {
            // The view spans the outer tag too.
            source = stream.release();
            flags |= ASN_FLAG_OWNSOURCE | ASN_FLAG_CONST;
            offset = 0;
            receivedLength = anyObj.receivedLength;
        }
        return 1;
    }
    const unsigned char ut = universalTag();
    if (!(at & 0xC0) && ut != TAG_ANY && (at & 0x1F) != (ut & 0x1F))
        return 0;
    if ((at & 0x20) && !(flags & ASN_FLAG_CONSTRUCTED) && tag != TAG_ANY)
        return 0;
    if (ut != TAG_ANY && (ut & 0x20) && !(at & 0x20))
        return 0;
    if ((at & 0xC0) && !(flags & ASN_FLAG_NONUNIVERSAL) && tag != TAG_ANY) {
        // An implicitly tagged element re-read as a universal type keeps its tag.
        flags |= ASN_FLAG_NONUNIVERSAL;
    }
    tag = at;
    explTag = anyObj.explTag;
    flags = (flags & ~(ASN_FLAG_INDEFINITE | ASN_FLAG_EXPLICIT | ASN_FLAG_OUTER_INDEFINITE)) |
            (anyObj.flags & (ASN_FLAG_INDEFINITE | ASN_FLAG_EXPLICIT | ASN_FLAG_OUTER_INDEFINITE));
    if (constAny) {
        source = stream.get();
        flags |= ASN_FLAG_CONST;
        offset = 0;
        contentOffset = static_cast<int32_t>(contentPos);
        receivedLength = anyObj.receivedLength;
    }
    int r = decodeContent(stream.get(), n);
    if (constAny) {
        source = nullptr;
        if (r == 1) {
            source = stream.release();
            flags |= ASN_FLAG_OWNSOURCE;
        } else {
            // The private copy goes: the members read from it let go of it.
            releaseViews();
            receivedLength = 0;
        }
    }
    if (r != 1)
        return r < 1 ? r : 0;
    // Every content octet must belong to the value.
    if (!constAny && stream->tell() != static_cast<uint32_t>(n))
        return 0;
    return 1;
}

int ASNobject::decodeAny(const ASNany& anyObj)
{
    int r = assignFromAny(anyObj);
    if (r == EASN_MEM)
        return 0;
    return r == 1 ? 1 : -1;
}

// ---------------------------------------------------------------------------
// convenience codecs

// Decodes from a heap MemFile; a value read in place takes the stream over.
static int decodeFromOwnedStream(ASNobject& o, MemFile* m, int length, unsigned char f)
{
    auto settle = [&o, m] {
        if (o.source == m)
            o.flags |= ASN_FLAG_OWNSOURCE;
        else
            delete m;
    };
    int r;
    try {
        r = o.decode(m, length, f);
    } catch (...) {
        settle(); // a decode that throws (bad_alloc) must not lose the stream
        throw;
    }
    settle();
    return r;
}

int ASNobject::decodeBuffer(const unsigned char* data, int length, unsigned char f)
{
    if (!data || length <= 0)
        return 0;
    if (!(f & ASN_FLAG_CONST)) {
        // Nothing read privately keeps the stream: it can live here.
        MemFile m(const_cast<unsigned char*>(data), length, false);
        return decode(&m, length, f);
    }
    MemFile* m = new (std::nothrow) MemFile(const_cast<unsigned char*>(data), length, false);
    if (!m)
        return EASN_MEM;
    return decodeFromOwnedStream(*this, m, length, f);
}

int ASNobject::decodeVector(const std::vector<unsigned char>& bytes, unsigned char f)
{
    if (bytes.size() > static_cast<size_t>(ASN_MAX_LENGTH))
        return 0;
    return decodeBuffer(bytes.data(), static_cast<int>(bytes.size()), f);
}

int ASNobject::decodeOctets(const ASNoctstr& octets, unsigned char f)
{
    return decodeBuffer(octets.data(), octets.length, f);
}

int ASNobject::encodeToOctets(ASNoctstr& target) const
{
    int n = encodedLength();
    if (n <= 0)
        return 0;
    unsigned char* buf = target.allocate(n);
    if (!buf)
        return EASN_MEM;
    MemFile m(buf, n, false);
    return encode(&m);
}

int ASNobject::encodeVector(std::vector<unsigned char>& bytes) const
{
    int n = encodedLength();
    if (n <= 0)
        return 0;
    try {
        bytes.resize(static_cast<size_t>(n));
    } catch (const std::bad_alloc&) {
        return EASN_MEM;
    }
    MemFile m(bytes.data(), n, false);
    return encode(&m);
}

int ASNobject::convertFrom(const ASNobject& other, unsigned char f)
{
    int n = other.encodedLength();
    MemFile* m = new (std::nothrow) MemFile();
    if (!m)
        return EASN_MEM;
    if (n > 0 && !m->setSize(n)) {
        delete m;
        return EASN_MEM;
    }
    m->seek(0);
    int r = other.encode(m);
    if (r <= 0) {
        delete m;
        return r == EASN_FILE ? EASN_MEM : r;
    }
    m->setSize(r);
    m->seek(0);
    r = decodeFromOwnedStream(*this, m, r, f);
    return r > 0 ? 1 : r;
}

// ---------------------------------------------------------------------------
// end-of-contents

int ASNobject::atEndOfContents(GenericFile* in)
{
    uint32_t pos = in->tell();
    uint8_t b[2];
    uint32_t got = 0;
    if (in->read(2, b, &got) != 0)
        return -1;
    if (in->seek(static_cast<int32_t>(pos)) != 0)
        return -1;
    if (got < 2)
        return -1;
    return (b[0] == 0 && b[1] == 0) ? 1 : 0;
}

int ASNobject::writeEndOfContents(GenericFile* out)
{
    static const uint8_t eoc[2] = {0, 0};
    return out->write(2, eoc) == 0 ? 2 : -1;
}

void ASNobject::freeWiped(unsigned char* buffer, size_t n)
{
    if (!buffer)
        return;
    zeroizeMemory(buffer, n);
    delete[] buffer;
}

int ASNobject::readEndOfContents(GenericFile* in, int mode)
{
    if (mode == 1)
        return 0;
    uint8_t b[2];
    int r = asnReadFully(in, b, 2);
    if (r < 0)
        return -1;
    if (r == 0)
        return 0;
    return (b[0] == 0 && b[1] == 0) ? 2 : 0;
}

// ---------------------------------------------------------------------------
// streaming

void ASNobject::resetStreamCtx()
{
    if (streamCtx)
        streamCtx->reset();
}

int ASNobject::createStreamCtx()
{
    if (streamCtx)
        return 1;
    streamCtx = new (std::nothrow) ASNStreamCtx();
    return streamCtx ? 1 : EASN_MEM;
}

void ASNobject::freeStreamCtx()
{
    delete streamCtx;
    streamCtx = nullptr;
}

int ASNobject::streamReadLength(GenericFile* in, int64_t* length)
{
    ASNStreamCtx* c = streamCtx;
    uint8_t b;
    if (c->headerProgress == 1) {
        int r = asnReadByte(in, &b);
        if (r < 0)
            return EASN_FILE;
        if (r == 0)
            return EASN_MORE;
        flags &= ~ASN_FLAG_INDEFINITE;
        if (b < 0x80) {
            *length = b;
            return 1;
        }
        int k = b & 0x7F;
        if (k == 0) {
            if (!(tag & 0x20) && tag != TAG_ANY)
                return 0;
            *length = -1;
            flags |= ASN_FLAG_INDEFINITE;
            return 1;
        }
        // A held value stays within four length octets; a value streamed
        // through may pass 4 GiB.
        if (k > (streamsThrough() ? 7 : 4))
            return 0;
        c->lengthOctets = k;
        c->lengthAccum = 0;
        c->headerProgress = 2;
    }
    while (c->headerProgress - 2 < c->lengthOctets) {
        int r = asnReadByte(in, &b);
        if (r < 0)
            return EASN_FILE;
        if (r == 0)
            return EASN_MORE;
        c->lengthAccum = (c->lengthAccum << 8) | b;
        c->headerProgress++;
    }
    // Header and content together must stay countable: a streamed value is
    // not bounded by what is available, so the bound is the largest result
    // (of a held value, the whole-value bound).
    const int64_t bound = streamsThrough() ? ASN_MAX_STREAM_LENGTH : ASN_MAX_LENGTH - 6;
    if (c->lengthAccum > static_cast<uint64_t>(bound))
        return 0;
    *length = static_cast<int64_t>(c->lengthAccum);
    return 1 + c->lengthOctets;
}

int ASNobject::streamReadHeader(GenericFile* in, int64_t* length)
{
    ASNStreamCtx* c = streamCtx;
    if (c->headerProgress == 0) {
        uint8_t b;
        int r = asnReadByte(in, &b);
        if (r < 0)
            return EASN_FILE;
        if (r == 0)
            return EASN_MORE;
        if (!acceptIdentifier(*this, b))
            return 0;
        c->headerProgress = 1;
    }
    int r = streamReadLength(in, length);
    if (r < 1)
        return r;
    if (*length == -1 && !(tag & 0x20))
        return 0;
    return 1 + r;
}

int64_t ASNobject::decodeStream(GenericFile* in, GenericFile* out)
{
    ASNDepthGuard guard;
    if (guard.exceeded() || !in || !workTick())
        return 0;
    // A choice without a tag of its own has no header: its alternative's is read.
    if (ASNchoice* choice = dynamic_cast<ASNchoice*>(this))
        if (!choice->isExplicit())
            return choice->decodeStreamUntagged(in, out);
    if (!streamCtx) {
        int r = createStreamCtx();
        if (r < 1)
            return r;
    }
    ASNStreamCtx* c = streamCtx;
    if (!c->headerRead) {
        if (c->headerProgress == 0) {
            // A streamed value is always held privately.
            releaseViews();
            flags &= ~(ASN_FLAG_CONST | ASN_FLAG_COPY);
        }
        int64_t len = 0;
        int r = streamReadHeader(in, &len);
        if (r < 1)
            return r;
        c->headerSize = r;
        c->contentLen = len;
        c->headerRead = 1;
    }
    if (!c->contentDone) {
        int r = streamDecodeStep(in, c->contentLen, out);
        if (r < 1)
            return r;
        c->contentConsumed = (c->contentLen == -1) ? c->contentSize : c->contentLen;
        c->contentDone = 1;
    }
    if (c->contentLen != -1)
        return c->headerSize + c->contentConsumed;
    while (c->eocCount < 2) {
        uint8_t b;
        int r = asnReadByte(in, &b);
        if (r < 0)
            return EASN_FILE;
        if (r == 0)
            return EASN_MORE;
        if (b != 0)
            return 0;
        c->eocCount++;
    }
    c->eocDone = 1;
    return c->headerSize + c->contentConsumed + 2;
}

int64_t ASNobject::decodeStream(GenericFile* in, int64_t length, unsigned char)
{
    if (length <= 0 || !in)
        return decodeStream(in, static_cast<GenericFile*>(nullptr));
    if (!streamCtx) {
        int r = createStreamCtx();
        if (r < 1)
            return r;
    }
    // The value never sees an octet beyond `length` (over all the calls).
    const int64_t left = int64_t(length) - streamCtx->boundTaken;
    ASNBoundedFile bounded(in, left);
    int64_t r = decodeStream(&bounded, static_cast<GenericFile*>(nullptr));
    if (streamCtx)
        streamCtx->boundTaken += left - bounded.remaining();
    if (streamCtx && streamCtx->headerRead && streamCtx->contentLen >= 0 &&
        int64_t(streamCtx->headerSize) + streamCtx->contentLen > length)
        return 0;
    if (r == EASN_MORE && bounded.remaining() == 0)
        return 0;
    if (r > length)
        return 0;
    return r;
}

int64_t ASNobject::decodeStreamBuffer(const unsigned char* data, int length, GenericFile* out)
{
    if (!data || length <= 0)
        return EASN_MORE;
    MemFile m(const_cast<unsigned char*>(data), length, false);
    return decodeStream(&m, out);
}

int ASNobject::streamDecodeStep(GenericFile* in, int64_t contentLen, GenericFile*)
{
    if (contentLen < 0)
        return 0;
    MemFile* b = streamCtx ? streamCtx->getBuffer() : nullptr;
    if (!b)
        return EASN_MEM;
    // A value decoded whole must fit the whole-value bound.
    if (contentLen > ASN_MAX_LENGTH)
        return 0;
    int64_t missing = contentLen - b->length();
    if (missing > 0) {
        // The buffer grows only with the octets that really arrive.
        b->seek(b->length());
        uint32_t copied = 0;
        int r = in->copyTo(b, static_cast<uint32_t>(missing), &copied);
        if (r == -1)
            return EASN_FILE;
        if (r != 0)
            return EASN_MEM;
        if (copied < missing)
            return EASN_MORE;
    }
    b->seek(0);
    int r = decodeContent(b, static_cast<int>(contentLen));
    if (r == 1) {
        streamCtx->contentSize = contentLen;
        // The value holds its own copies now (a streamed value is never a view).
        delete streamCtx->buffer;
        streamCtx->buffer = nullptr;
    }
    return r;
}

int64_t ASNobject::encodeStream(GenericFile* in, int64_t length, bool last, GenericFile* out)
{
    if (!streamCtx) {
        int r = createStreamCtx();
        if (r < 1)
            return r;
    }
    ASNStreamCtx* c = streamCtx;
    if (!c->headerWritten) {
        const int64_t n = streamContentLength(length);
        // A definite length that cannot be announced (unknown, or longer than
        // the seven length octets the streaming decoder reads back) would
        // write a wrong header: nothing is written. The outer length of an
        // explicit value counts too.
        const int64_t largest = ASN_MAX_STREAM_LENGTH - 1;
        const bool innerWritten = !(flags & ASN_FLAG_INDEFINITE);
        const bool outerWritten = (flags & ASN_FLAG_EXPLICIT) && !(flags & ASN_FLAG_OUTER_INDEFINITE);
        if ((innerWritten || outerWritten) && (n < 0 || n > largest))
            return 0;
        if (outerWritten && (innerWritten ? 1 + lengthFieldSize(n) + n : n + 4) > largest)
            return 0;
        int h = writeHeader(out, n);
        if (h < 1)
            return h;
        c->headerSize = h;
        c->headerWritten = 1;
        c->passed = 0;
    }
    int r = streamEncodeStep(in, length, last, out);
    if (r < 1)
        return r;
    if (flags & ASN_FLAG_INDEFINITE) {
        if (writeEndOfContents(out) < 0)
            return EASN_FILE;
        return streamContentLength(length) + c->headerSize + 2;
    }
    return streamContentLength(length) + c->headerSize;
}

int ASNobject::streamEncodeStep(GenericFile*, int64_t, bool, GenericFile* out)
{
    if (contentLength() == 0)
        return 1;
    return encodeContent(out);
}

// ---------------------------------------------------------------------------
// structure bases

ASNsetF::ASNsetF(unsigned char t) : ASNobject((t & 0xC0) ? static_cast<unsigned char>(t | 0x20) : 0x31)
{
    flags |= ASN_FLAG_CONSTRUCTED;
}
