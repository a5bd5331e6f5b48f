// BIT STRING.
#include "asn1/asnbitst.h"

#include "asn1/asnprivate.h"
#include "base/commonerror.h"

#include <cstring>
#include <new>

namespace {
const char* const SRC = "asnbitst";
}

ASNbitstr::ASNbitstr(const ASNbitstr& other) : ASNobject(other), length(0), memory(nullptr)
{
    copyFrom(other);
}

int ASNbitstr::set(const unsigned char* bytes, int n, int unused)
{
    checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "! ( flags & ASN_FLAG_CONST )");
    // Unused bits above 7, or unused bits without any data octet, are no BIT STRING.
    if (n < 0 || unused < 0 || unused > 7 || (n == 0 && unused != 0) || (n > 0 && !bytes))
        return 0;
    if (n == 0) {
        clear();
        return 1;
    }
    unsigned char* p = new (std::nothrow) unsigned char[size_t(n) + 1];
    if (!p)
        return 0;
    p[0] = static_cast<unsigned char>(unused);
    std::memcpy(p + 1, bytes, n);
    p[n] &= static_cast<unsigned char>(0xFF << unused);
    clear();
    memory = p;
    length = n + 1;
    return 1;
}

int ASNbitstr::resize(int bitCountWanted)
{
    checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "! ( flags & ASN_FLAG_CONST )");
    clear();
    if (bitCountWanted <= 0)
        return 1;
    int n = (bitCountWanted + 7) / 8;
    unsigned char* p = new (std::nothrow) unsigned char[size_t(n) + 1];
    if (!p)
        return 0;
    std::memset(p, 0, size_t(n) + 1);
    p[0] = static_cast<unsigned char>(bitCountWanted % 8 ? 8 - bitCountWanted % 8 : 0);
    memory = p;
    length = n + 1;
    return 1;
}

void ASNbitstr::setBit(int pos, int value)
{
    checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "! ( flags & ASN_FLAG_CONST )");
    checkInvariant(pos >= 0 && int64_t(pos) < (int64_t(length) - 1) * 8 && memory != nullptr, SRC, __LINE__,
                   "pos < ( length - 1 ) * 8");
    unsigned char mask = static_cast<unsigned char>(0x80 >> (pos % 8));
    if (value)
        memory[1 + pos / 8] |= mask;
    else
        memory[1 + pos / 8] &= static_cast<unsigned char>(~mask);
}

int ASNbitstr::getBit(int pos) const
{
    checkInvariant(pos >= 0, SRC, __LINE__, "pos >= 0");
    if (pos >= bitCount())
        return 0;
    const unsigned char* d = data();
    return (d[1 + pos / 8] >> (7 - pos % 8)) & 1;
}

int ASNbitstr::bitCount() const
{
    if (length <= 1)
        return 0;
    int64_t n = (int64_t(length) - 1) * 8 - unusedBits();
    return n < 0 ? 0 : static_cast<int>(n);
}

void ASNbitstr::trimTrailingZeros()
{
    checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "! ( flags & ASN_FLAG_CONST )");
    checkInvariant(memory != nullptr, SRC, __LINE__, "memory != NULL");
    checkInvariant(length > 0, SRC, __LINE__, "length > 0");
    int n = length - 1;
    while (n > 0 && memory[n] == 0)
        --n;
    int newLength;
    if (n == 0) {
        memory[0] = 0;
        newLength = 1;
    } else {
        unsigned char last = memory[n];
        int tz = 0;
        while (!(last & (1 << tz)))
            ++tz;
        memory[0] = static_cast<unsigned char>(tz);
        newLength = n + 1;
    }
    if (newLength < length) {
        unsigned char* p = new (std::nothrow) unsigned char[newLength];
        if (p) {
            std::memcpy(p, memory, newLength);
            freeWiped(memory, static_cast<size_t>(length));
            memory = p;
        }
    }
    length = newLength;
}

void ASNbitstr::copyFrom(const ASNbitstr& other)
{
    if (this == &other)
        return;
    checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "! ( flags & ASN_FLAG_CONST )");
    const unsigned char* d = other.data();
    if (other.length <= 1 || !d) {
        clear();
        return;
    }
    if (!set(d + 1, other.length - 1, d[0]))
        throwBadAllocation();
}

bool ASNbitstr::operator==(const ASNbitstr& other) const
{
    // Whole octets at once (signatures and keys are compared often), then the
    // used bits of the last one; the unused bits do not count.
    const int n = bitCount();
    if (n != other.bitCount())
        return false;
    if (n == 0)
        return true;
    const unsigned char* a = data() + 1;
    const unsigned char* b = other.data() + 1;
    const int whole = n / 8;
    if (std::memcmp(a, b, static_cast<size_t>(whole)) != 0)
        return false;
    const int rest = n % 8;
    const unsigned mask = (0xFFu << (8 - rest)) & 0xFFu;
    return rest == 0 || ((a[whole] ^ b[whole]) & mask) == 0;
}

int ASNbitstr::decodeContent(GenericFile* in, int n)
{
    clear();
    if (n <= 0)
        return 0;
    int r = readContent(in, n, &memory);
    if (r != 1)
        return r;
    const unsigned char* d = memory ? memory : sourceAt(contentOffset);
    if (d[0] > 7 || (n == 1 && d[0] != 0)) {
        if (memory)
            freeWiped(memory, static_cast<size_t>(n));
        memory = nullptr;
        return 0;
    }
    length = n;
    return 1;
}

int ASNbitstr::encodeContent(GenericFile* out) const
{
    static const unsigned char empty = 0;
    if (length <= 0)
        return asnWrite(out, &empty, 1) == 0 ? 1 : EASN_FILE;
    const unsigned char* d = data();
    if (!d)
        return EASN_FILE;
    return asnWrite(out, d, length) == 0 ? 1 : EASN_FILE;
}

void ASNbitstr::digestContent(LvHash* hash) const
{
    static const unsigned char empty = 0;
    if (length <= 0)
        updateDigestBytes(&empty, 1, hash);
    else
        updateDigestBytes(data(), length, hash);
}
