// Helpers shared by the ASN.1 container templates.
#include "asn1/asncont.h"

#include <algorithm>
#include <cstring>

int32_t ASNBoundedFile::read(uint32_t length, uint8_t* buffer, uint32_t* count)
{
    uint32_t want = length;
    if (int64_t(want) > left)
        want = static_cast<uint32_t>(left);
    uint32_t got = 0;
    if (want > 0) {
        int32_t r = in->read(want, buffer, &got);
        if ((r & 0xFFFF) != 0)
            return -1;
        if (got > want)
            return -1;
    }
    left -= got;
    if (count)
        *count = got;
    return 0;
}

int32_t ASNBoundedFile::write(uint32_t, const uint8_t*) { return -1; }

int32_t ASNBoundedFile::seek(int32_t position)
{
    // Only forward moves inside the bound, or back to what was already read
    // of it (a peek), are allowed.
    int64_t now = in->tell();
    int64_t delta = int64_t(position) - now;
    if (position < 0 || delta > left)
        return -1;
    if (in->seek(position) != 0)
        return -1;
    left -= delta;
    return 0;
}

uint32_t ASNBoundedFile::tell() { return in->tell(); }

uint32_t ASNBoundedFile::size()
{
    uint32_t now = in->tell();
    uint32_t outer = in->size();
    int64_t end = int64_t(now) + left;
    if (outer != 0xFFFFFFFFu && int64_t(outer) < end)
        end = outer;
    if (end > 0xFFFFFFFEll)
        end = 0xFFFFFFFEll;
    return static_cast<uint32_t>(end);
}

int asnCompareEncodings(const unsigned char* a, int32_t lengthA, const unsigned char* b, int32_t lengthB)
{
    int32_t common = std::min(lengthA, lengthB);
    if (common > 0) {
        int c = std::memcmp(a, b, static_cast<size_t>(common));
        if (c != 0)
            return c;
    }
    // Equal over the common part: the shorter one is padded with zeros, so it
    // goes first unless the rest of the longer one is all zeros.
    if (lengthA < lengthB) {
        for (int32_t i = common; i < lengthB; ++i)
            if (b[i] != 0)
                return -1;
        return 0;
    }
    for (int32_t i = common; i < lengthA; ++i)
        if (a[i] != 0)
            return 1;
    return 0;
}

void asnSortRecords(ASNsortRecord* records, int32_t count)
{
    if (!records || count < 2)
        return;
    // A stable sort keeps equal encodings in list order, so
    // the same set always produces the same octets (and the same digest).
    std::stable_sort(records, records + count, [](const ASNsortRecord& x, const ASNsortRecord& y) {
        return asnCompareEncodings(x.data, x.length, y.data, y.length) < 0;
    });
}

int64_t asnStreamedTotal(const ASNobject& member, int64_t expected)
{
    int64_t total;
    if (member.flags & ASN_FLAG_INDEFINITE) {
        total = member.streamContentLength(expected);
        if (total < 0)
            return -1;
        total += 4;
    } else {
        total = member.lengthWithHeader(expected);
    }
    if (total < 0 || total > ASN_MAX_STREAM_LENGTH)
        return -1;
    if (member.flags & ASN_FLAG_EXPLICIT)
        total += (member.flags & ASN_FLAG_OUTER_INDEFINITE) ? 4 : 1 + ASNobject::lengthFieldSize(total);
    return total;
}

int64_t asnAddStreamed(int64_t sum, int64_t part)
{
    if (sum < 0 || part < 0 || part > ASN_MAX_STREAM_LENGTH - sum)
        return -1;
    return sum + part;
}

int asnSkipEndOfContents(GenericFile* in)
{
    uint8_t eoc[2];
    uint32_t got = 0;
    if (in->read(2, eoc, &got) != 0 || got != 2)
        return -1;
    return (eoc[0] == 0 && eoc[1] == 0) ? 1 : -1;
}

int asnFillLookahead(GenericFile* in, unsigned char lookahead[2], int32_t* held)
{
    while (*held < 2) {
        uint32_t got = 0;
        if (in->read(static_cast<uint32_t>(2 - *held), lookahead + *held, &got) != 0)
            return EASN_FILE;
        if (got == 0)
            return EASN_MORE;
        *held += static_cast<int32_t>(got);
    }
    return 1;
}
