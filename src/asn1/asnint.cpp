// INTEGER and ENUMERATED.
#include "asn1/asnint.h"

#include "base/commonerror.h"

#include <stdexcept>

namespace {
const char* const SRC = "asnint";

// The significant octets (leading zeros skipped).
const unsigned char* significant(const ASNinteger& v, int* n)
{
    const unsigned char* d = v.data();
    int len = d ? v.length : 0;
    int i = 0;
    while (i < len && d[i] == 0)
        ++i;
    *n = len - i;
    return d ? d + i : nullptr;
}
} // namespace

ASNinteger::ASNinteger(const ASNinteger& other) : ASNoctstr(other) {}

ASNinteger& ASNinteger::operator=(const ASNinteger& other)
{
    if (this == &other)
        return *this;
    checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "!( flags & ASN_FLAG_CONST )");
    clear();
    if (!ASNoctstr::set(other.data(), other.length))
        throwBadAllocation();
    return *this;
}

uint32_t ASNinteger::toLong() const
{
    int n;
    const unsigned char* p = significant(*this, &n);
    if (n > 4)
        throw std::overflow_error("ASNinteger overflow");
    uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | p[i];
    return v;
}

void ASNinteger::set(uint32_t value)
{
    checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "!( flags & ASN_FLAG_CONST )");
    unsigned char b[5];
    int k = 0;
    int start = 0;
    unsigned char raw[4] = {static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
                            static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
    while (start < 3 && raw[start] == 0)
        ++start;
    if (raw[start] >= 0x80)
        b[k++] = 0;
    for (int i = start; i < 4; ++i)
        b[k++] = raw[i];
    clear();
    if (!ASNoctstr::set(b, k))
        throwBadAllocation();
}

int ASNinteger::setBytes(const unsigned char* bytes, int n)
{
    checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "!( flags & ASN_FLAG_CONST )");
    if (length > 0 || buf)
        clear();
    int i = 0;
    if (!bytes || n < 0)
        n = 0;
    while (i < n && bytes[i] == 0)
        ++i;
    if (i == n) {
        static const unsigned char zero = 0;
        return ASNoctstr::set(&zero, 1);
    }
    if (bytes[i] < 0x80)
        return ASNoctstr::set(bytes + i, n - i);
    unsigned char* p = allocate(n - i + 1);
    if (!p)
        return 0;
    p[0] = 0;
    for (int j = i; j < n; ++j)
        p[j - i + 1] = bytes[j];
    return 1;
}

int ASNinteger::byteLength() const
{
    int n;
    significant(*this, &n);
    return n < 1 ? 1 : n;
}

int ASNinteger::toHex(char* buffer, int size) const
{
    static const char hex[] = "0123456789ABCDEF";
    int n;
    const unsigned char* p = significant(*this, &n);
    if (!buffer)
        return 0;
    if (n == 0) {
        if (size < 2)
            return 0;
        buffer[0] = '0';
        buffer[1] = 0;
        return 1;
    }
    if (size < 2 * int64_t(n) + 1)
        return 0;
    for (int i = 0; i < n; ++i) {
        buffer[2 * i] = hex[p[i] >> 4];
        buffer[2 * i + 1] = hex[p[i] & 15];
    }
    buffer[2 * n] = 0;
    return 1;
}

int ASNinteger::decodeContent(GenericFile* in, int n)
{
    if (n < 1) {
        clear();
        return 0;
    }
    return ASNoctstr::decodeContent(in, n);
}

int ASNinteger::streamDecodeStep(GenericFile* in, int64_t contentLen, GenericFile* out)
{
    if (contentLen == 0) {
        clear();
        return 0;
    }
    return ASNoctstr::streamDecodeStep(in, contentLen, out);
}

ASNenum::ASNenum(unsigned char t) : ASNinteger(t)
{
    univTag = 10;
    if (!(t & 0xC0))
        tag = 10;
}
