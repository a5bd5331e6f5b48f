// OBJECT IDENTIFIER: dotted text to DER content and back.
#include "asn1/asnobjid.h"

#include "asn1/asnprivate.h"
#include "base/commonerror.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

namespace {

// The arcs of a dotted text, in a fixed array for the usual lengths: converting a constant
// allocates nothing.
class Arcs {
public:
    void push(uint32_t v)
    {
        if (count < FIXED)
            fixed[count] = v;
        else {
            if (more.empty())
                more.assign(fixed, fixed + FIXED);
            more.push_back(v);
        }
        ++count;
    }
    uint32_t operator[](size_t i) const { return count <= FIXED ? fixed[i] : more[i]; }
    size_t size() const { return count; }

private:
    static const size_t FIXED = 48;
    uint32_t fixed[FIXED];
    std::vector<uint32_t> more;
    size_t count = 0;
};

// Octets for OIDs made from text when no memory is left: a constant is made by a static
// initialiser, out of which an exception ends the process before main. Lives as long as the
// program; nothing in it is given back.
unsigned char* reserveStatic(int n)
{
    static unsigned char reserve[16384];
    static std::atomic<size_t> used{0};
    size_t at = used.load();
    do {
        if (n <= 0 || at + static_cast<size_t>(n) > sizeof reserve)
            return nullptr;
    } while (!used.compare_exchange_weak(at, at + static_cast<size_t>(n)));
    return reserve + at;
}

} // namespace

namespace {
const char* const SRC = "asnobjid";
const char* const DEFAULT_SEPARATORS = "., ";

int base128Size(uint32_t v)
{
    if (v < 0x80)
        return 1;
    if (v < 0x4000)
        return 2;
    if (v < 0x200000)
        return 3;
    if (v < 0x10000000)
        return 4;
    return 5;
}

// Walks one subidentifier at der[*i]: 1 with its value, 0 when it is
// unterminated or longer than 32 bits (*tooLong tells the latter).
int nextSubidentifier(const unsigned char* der, int len, int* i, uint64_t* value, bool* tooLong)
{
    int start = *i;
    uint64_t v = 0;
    *tooLong = false;
    // A leading 0x80 octet pads the value: BER forbids it, and it would give
    // one identifier two encodings that compare unequal.
    if (*i < len && der[*i] == 0x80)
        return 0;
    for (;;) {
        if (*i >= len)
            return 0;
        unsigned char b = der[(*i)++];
        v = (v << 7) | (b & 0x7F);
        int count = *i - start;
        if (count > 5)
            *tooLong = true;
        if (!(b & 0x80))
            break;
        if (count > 5 && v > (uint64_t(1) << 50))
            v = uint64_t(1) << 50; // keep walking without overflow
    }
    if (*i - start == 5 && (der[start] & 0x70))
        *tooLong = true;
    *value = v;
    return 1;
}
} // namespace

ASNobjectId::ASNobjectId(const char* text)
    : ASNobject(6), acceptLongArcs(0), borrowed(0), length(0), content(nullptr)
{
    const int n = textToDer(text, nullptr, nullptr, 0);
    if (n <= 0)
        throwBadAllocation();
    unsigned char* p = new (std::nothrow) unsigned char[n];
    if (!p) {
        // The octets of a constant go to the static reserve rather than out as an exception.
        unsigned char* reserved = reserveStatic(n);
        if (!reserved)
            throwBadAllocation();
        textToDer(text, nullptr, reserved, n);
        referStatic(reserved, n);
        return;
    }
    textToDer(text, nullptr, p, n);
    content = p;
    length = n;
}

ASNobjectId::ASNobjectId(const ASNobjectId& other)
    : ASNobject(other), acceptLongArcs(other.acceptLongArcs), borrowed(0), length(0), content(nullptr)
{
    copyContent(other);
}

void ASNobjectId::copyContent(const ASNobjectId& other)
{
    if (other.length <= 0)
        return;
    const unsigned char* d = other.data();
    unsigned char* p = new (std::nothrow) unsigned char[other.length];
    if (!p || !d) {
        delete[] p;
        throwBadAllocation();
    }
    std::memcpy(p, d, other.length);
    content = p;
    length = other.length;
}

ASNobjectId& ASNobjectId::operator=(const ASNobjectId& other)
{
    if (this == &other)
        return *this;
    checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "! ( flags & ASN_FLAG_CONST )");
    clear();
    acceptLongArcs = other.acceptLongArcs;
    copyContent(other);
    return *this;
}

void ASNobjectId::referStatic(const unsigned char* der, int32_t n)
{
    checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "! ( flags & ASN_FLAG_CONST )");
    clear();
    if (!der || n <= 0)
        return;
    // never written through: every change clears first, and clear only forgets it
    content = const_cast<unsigned char*>(der);
    length = n;
    borrowed = 1;
}

const unsigned char* ASNobjectId::data() const
{
    return isConstView() ? viewContent(length) : content;
}

void ASNobjectId::releaseViews()
{
    if (flags & ASN_FLAG_CONST)
        clear();
    dropOwnView();
}

int ASNobjectId::textToDer(const char* text, const char* separators, unsigned char* buffer, int size)
{
    if (!text)
        return 0;
    const char* seps = separators ? separators : DEFAULT_SEPARATORS;
    auto isSep = [seps](char c) { return c != 0 && std::strchr(seps, c) != nullptr; };
    if (text[0] == 0 || isSep(text[0]))
        return 0;
    Arcs arcs;
    char sepChar = 0;
    const char* p = text;
    for (;;) {
        uint64_t v = 0;
        while (*p && !isSep(*p)) {
            if (*p < '0' || *p > '9')
                return 0;
            v = v * 10 + static_cast<uint64_t>(*p - '0');
            if (v > 0xFFFFFFFFull)
                return 0;
            ++p;
        }
        arcs.push(static_cast<uint32_t>(v));
        if (!*p)
            break;
        if (sepChar == 0)
            sepChar = *p;
        else if (*p != sepChar)
            return 0;
        ++p;
    }
    if (arcs.size() < 2)
        return 0;
    if (arcs[0] > 2)
        return 0;
    if (arcs[0] < 2 && arcs[1] > 39)
        return 0;
    if (arcs[1] > 107374182)
        return 0;
    // The subidentifiers: the first two arcs make one.
    auto sub = [&arcs](size_t i) { return i == 0 ? arcs[0] * 40 + arcs[1] : arcs[i + 1]; };
    const size_t subCount = arcs.size() - 1;
    int64_t required = 0;
    for (size_t i = 0; i < subCount; ++i)
        required += base128Size(sub(i));
    if (required > ASN_MAX_LENGTH)
        return 0;
    if (!buffer)
        return static_cast<int>(required);
    if (size < required)
        return 0;
    unsigned char* out = buffer;
    for (size_t i = 0; i < subCount; ++i) {
        const uint32_t s = sub(i);
        int k = base128Size(s);
        for (int j = k - 1; j >= 0; --j) {
            unsigned char b = static_cast<unsigned char>((s >> (7 * j)) & 0x7F);
            if (j > 0)
                b |= 0x80;
            *out++ = b;
        }
    }
    checkInvariant(out - buffer == required, SRC, __LINE__, "buffer - temp == requiredSize");
    return static_cast<int>(required);
}

int ASNobjectId::derToText(const unsigned char* der, int len, char* buffer, int size, const char* separator,
                           bool terminate)
{
    if (!der || len <= 0)
        return 0;
    const char* sep = (separator && *separator) ? separator : ".";
    std::string text;
    int i = 0;
    bool firstSub = true;
    char num[24];
    while (i < len) {
        uint64_t v;
        bool tooLong;
        if (!nextSubidentifier(der, len, &i, &v, &tooLong) || tooLong)
            return 0;
        if (firstSub) {
            // The first arc follows from the first subidentifier's value.
            uint64_t first = v < 80 ? v / 40 : 2;
            text += static_cast<char>('0' + first);
            v -= first * 40;
            firstSub = false;
        }
        std::snprintf(num, sizeof num, "%lu", static_cast<unsigned long>(v));
        text += sep;
        text += num;
    }
    int64_t required = static_cast<int64_t>(text.size()) + (terminate ? 1 : 0);
    if (required > ASN_MAX_LENGTH)
        return 0;
    if (!buffer)
        return static_cast<int>(required);
    if (size < required)
        return -static_cast<int>(required);
    std::memcpy(buffer, text.data(), text.size());
    if (terminate)
        buffer[text.size()] = 0;
    return static_cast<int>(text.size());
}

int ASNobjectId::set(const char* text, const char* separators)
{
    checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "! ( flags & ASN_FLAG_CONST )");
    clear();
    int n = textToDer(text, separators, nullptr, 0);
    if (n <= 0)
        return 0;
    unsigned char* p = new (std::nothrow) unsigned char[n];
    if (!p)
        throwBadAllocation();
    textToDer(text, separators, p, n);
    content = p;
    length = n;
    return 1;
}

int ASNobjectId::toText(char* buffer, int size, const char* separator, bool terminate) const
{
    return derToText(data(), length, buffer, size, separator, terminate);
}

bool ASNobjectId::toString(std::string& out, const char* separator) const
{
    char first[256];
    int r = toText(first, sizeof first, separator, true);
    if (r == 0)
        return false;
    if (r > 0) {
        out.assign(first, static_cast<size_t>(r));
        return true;
    }
    std::vector<char> big(static_cast<size_t>(-r));
    r = toText(big.data(), static_cast<int>(big.size()), separator, true);
    if (r <= 0)
        return false;
    out.assign(big.data(), static_cast<size_t>(r));
    return true;
}

bool ASNobjectId::equalsText(const char* text) const
{
    ASNobjectId tmp;
    if (!tmp.set(text, nullptr))
        return false;
    return *this == tmp;
}

bool ASNobjectId::operator==(const ASNobjectId& other) const
{
    if (length != other.length)
        return false;
    if (length <= 0)
        return true;
    const unsigned char* a = data();
    const unsigned char* b = other.data();
    return a && b && std::memcmp(a, b, length) == 0;
}

int ASNobjectId::decodeContent(GenericFile* in, int n)
{
    clear();
    if (n < 1)
        return 0;
    int r = readContent(in, n, &content);
    if (r != 1)
        return r;
    const unsigned char* d = content ? content : sourceAt(contentOffset);
    int i = 0;
    while (i < n) {
        uint64_t v;
        bool tooLong;
        if (!nextSubidentifier(d, n, &i, &v, &tooLong) || (tooLong && !acceptLongArcs)) {
            if (content)
                freeWiped(content, static_cast<size_t>(n));
            content = nullptr;
            return 0;
        }
    }
    length = n;
    return 1;
}

int ASNobjectId::encodeContent(GenericFile* out) const
{
    if (length <= 0)
        return 1;
    const unsigned char* d = data();
    if (!d)
        return EASN_FILE;
    return asnWrite(out, d, length) == 0 ? 1 : EASN_FILE;
}

void ASNobjectId::digestContent(LvHash* hash) const { updateDigestBytes(data(), length, hash); }
