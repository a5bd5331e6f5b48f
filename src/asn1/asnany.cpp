// ANY: an element of unfixed type kept as its tag and raw content.
#include "asn1/asnany.h"

#include "asn1/asnprivate.h"
#include "base/commonerror.h"
#include "base/memfile.h"

#include <cstring>
#include <new>

namespace {
const char* const SRC = "asnany";
} // namespace

ASNany::ASNany(const ASNany& other)
    : ASNobject(other), expectedTag(other.expectedTag), univTag(other.univTag), length(0), buf(nullptr)
{
    if (other.length > 0 && !setContent(other.content(), other.length))
        throwBadAllocation();
    flags |= other.flags & ASN_FLAG_INDEFINITE;
}

ASNany& ASNany::operator=(const ASNany& other)
{
    checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "!( flags & ASN_FLAG_CONST )");
    if (this == &other)
        return *this;
    if (!setContent(other.content(), other.length))
        throwBadAllocation();
    tag = other.tag;
    const uint32_t taken = ASN_FLAG_INDEFINITE | ASN_FLAG_NONUNIVERSAL | ASN_FLAG_CONSTRUCTED;
    flags = (flags & ~taken) | (other.flags & taken);
    return *this;
}

int ASNany::decode(GenericFile* in, int len, unsigned char f)
{
    // A value read in place keeps its own copy of the received octets, so it
    // stays valid and re-encodes exactly what arrived.
    if (f & ASN_FLAG_CONST)
        f |= ASN_FLAG_COPY;
    tag = expectedTag;
    if ((expectedTag & 0xC0) || expectedTag == TAG_ANY)
        flags |= ASN_FLAG_NONUNIVERSAL;
    else
        flags &= ~ASN_FLAG_NONUNIVERSAL;
    if (expectedTag & 0x20)
        flags |= ASN_FLAG_CONSTRUCTED;
    else
        flags &= ~ASN_FLAG_CONSTRUCTED;
    return ASNobject::decode(in, len, f);
}

int ASNany::setEncoding(unsigned char t, const unsigned char* c, int n)
{
    checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "!( flags & ASN_FLAG_CONST )");
    tag = t;
    if (t > 63)
        flags |= ASN_FLAG_NONUNIVERSAL;
    if (t & 0x20)
        flags |= ASN_FLAG_CONSTRUCTED;
    else
        flags &= ~ASN_FLAG_CONSTRUCTED;
    return setContent(c, n);
}

int ASNany::setContent(const unsigned char* c, int n)
{
    checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "!( flags & ASN_FLAG_CONST )");
    unsigned char* p = nullptr;
    if (n > 0) {
        if (!c)
            return 0;
        p = new (std::nothrow) unsigned char[n];
        if (!p)
            return 0;
        std::memcpy(p, c, n);
    }
    clear();
    releaseSource();
    flags &= ~ASN_FLAG_INDEFINITE;
    buf = p;
    length = n > 0 ? n : 0;
    return 1;
}

void ASNany::setObject(const ASNobject& object)
{
    checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "!( flags & ASN_FLAG_CONST )");
    MemFile m;
    int r = object.encode(&m);
    if (r <= 0)
        throwBadAllocation();
    m.seek(0);
    const unsigned char saved = expectedTag;
    expectedTag = TAG_ANY;
    r = decode(&m, m.length(), 0);
    expectedTag = saved;
    if (r <= 0)
        throwBadAllocation();
}

const unsigned char* ASNany::content() const
{
    return isConstView() ? viewContent(length) : buf;
}

bool ASNany::equals(const ASNany& other) const
{
    if (length != other.length || tag != other.tag)
        return false;
    if (length <= 0)
        return true;
    const unsigned char* a = content();
    const unsigned char* b = other.content();
    return a && b && std::memcmp(a, b, length) == 0;
}

int ASNany::decodeContent(GenericFile* in, int n)
{
    clear();
    if (n < 0)
        return 0;
    if (n == 0)
        return 1;
    int r = readContent(in, n, &buf);
    if (r != 1)
        return r;
    length = n;
    return 1;
}

int ASNany::decodeIndefinite(GenericFile* in, int available)
{
    clear();
    int64_t used = 0;
    const bool inPlace = isConstView();
    MemFile acc;
    for (;;) {
        int e = asnIndefiniteStep(in, available, used);
        if (e == 0)
            return 0;
        if (e == 1) {
            if (inPlace) {
                // The content is the elements exactly as they arrived.
                length = static_cast<int32_t>(used);
                return 1;
            }
            length = acc.length();
            if (length > 0)
                asnChargeHeld(asnAllocCost(acc.capacity()));
            buf = length > 0 ? acc.detach() : nullptr;
            return 1;
        }
        int64_t rest = available > 0 ? available - used : ASN_MAX_LENGTH;
        if (inPlace) {
            int64_t sub = 0;
            int r = asnScanTLV(in, rest, ASNDepthGuard::current() + 1, &sub);
            if (r <= 0)
                return r;
            used += sub;
            continue;
        }
        ASNany element(TAG_ANY);
        int r = element.decode(in, static_cast<int>(rest), 0);
        if (r <= 0)
            return r;
        int w = element.encode(&acc);
        if (w <= 0)
            return w == EASN_FILE ? EASN_MEM : w;
        used += r;
    }
}

int ASNany::encodeContent(GenericFile* out) const
{
    if (length <= 0)
        return 1;
    const unsigned char* c = content();
    if (!c)
        return EASN_FILE;
    return asnWrite(out, c, length) == 0 ? 1 : EASN_FILE;
}

void ASNany::digestContent(LvHash* hash) const { updateDigestBytes(content(), length, hash); }
