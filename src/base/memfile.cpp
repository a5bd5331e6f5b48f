#include "base/memfile.h"

#include "base/commonerror.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {
const char* const UNIT = "memfile";
const uint32_t COPY_CHUNK = 2048;
const size_t FORMAT_FIRST = 2048;
const size_t FORMAT_LIMIT = 16777216;
} // namespace

// ---------------------------------------------------------------- GenericFile

int32_t GenericFile::copyTo(GenericFile* target, uint32_t count, uint32_t* copied)
{
    if (copied)
        *copied = 0;
    if (count == 0)
        return 0;
    uint8_t buffer[COPY_CHUNK];
    uint32_t done = 0;
    for (;;) {
        uint32_t chunk = COPY_CHUNK;
        if (count != 0xFFFFFFFFu && count - done < COPY_CHUNK)
            chunk = count - done;
        uint32_t got = 0;
        if ((read(chunk, buffer, &got) & 0xFFFF) != 0)
            return -1;
        if (got > chunk) // a stream must not claim more than it was asked for
            return -1;
        if (got > 0 && (target->write(got, buffer) & 0xFFFF) != 0)
            return -2;
        done += got;
        if ((count != 0xFFFFFFFFu && done >= count) || got == 0)
            break;
    }
    if (copied)
        *copied = done;
    return 0;
}

int32_t GenericFile::printf(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int32_t result = vprintf(format, arguments);
    va_end(arguments);
    return result;
}

int32_t GenericFile::vprintf(const char* format, va_list arguments)
{
    char local[FORMAT_FIRST];
    std::unique_ptr<char[]> heap;
    char* text = local;
    size_t bufferSize = FORMAT_FIRST;
    int written;
    for (;;) {
        va_list copy;
        va_copy(copy, arguments);
        written = vsnprintf(text, bufferSize, format, copy);
        va_end(copy);
        if (written < 0)
            return -1;
        if (static_cast<size_t>(written) < bufferSize)
            break;
        bufferSize *= 2;
        if (bufferSize > FORMAT_LIMIT)
            return -1;
        heap.reset(new (std::nothrow) char[bufferSize]);
        if (!heap)
            return -1;
        text = heap.get();
    }
    if (written == 0)
        return 0;
    if ((write(static_cast<uint32_t>(written), reinterpret_cast<const uint8_t*>(text)) & 0xFFFF) != 0)
        return -2;
    return written;
}

// ---------------------------------------------------------------- MemFile

MemFile::MemFile()
    : buff(nullptr), len(0), cap(0), pos(0), bHeap(true), zeroize(true), bUnknLen(false)
{
}

MemFile::MemFile(uint8_t* buffer, int32_t length, bool zeroizeFlag)
    : MemFile(buffer, length, false, zeroizeFlag)
{
}

MemFile::MemFile(uint8_t* buffer, int32_t length, bool heapOwned, bool zeroizeFlag)
    : buff(nullptr), len(0), cap(0), pos(0), bHeap(true), zeroize(true), bUnknLen(false)
{
    attach(buffer, length, heapOwned, zeroizeFlag);
}

MemFile::MemFile(int32_t size, bool zeroizeFlag)
    : buff(nullptr), len(0), cap(0), pos(0), bHeap(true), zeroize(zeroizeFlag), bUnknLen(false)
{
    if (size < 0)
        throwBadAllocation();
    if (size > 0) {
        buff = new (std::nothrow) uint8_t[static_cast<size_t>(size)];
        if (!buff)
            throwBadAllocation();
        std::memset(buff, 0, static_cast<size_t>(size));
        len = cap = size;
    }
}

MemFile::~MemFile()
{
    release();
}

void MemFile::release()
{
    if (buff) {
        if (zeroize && cap > 0)
            zeroizeMemory(buff, static_cast<size_t>(cap));
        if (bHeap)
            delete[] buff;
        buff = nullptr;
    }
    len = cap = pos = 0;
    bUnknLen = false;
}

bool MemFile::reallocate(int32_t newCapacity, int32_t covered)
{
    uint8_t* block = new (std::nothrow) uint8_t[static_cast<size_t>(newCapacity)];
    if (!block)
        return false;
    int32_t keep = buff ? (cap < newCapacity ? cap : newCapacity) : 0;
    // New space starts zeroed, stale heap data never showing through grow or
    // setSize; what a write covers at once is not zeroed only to be overwritten.
    const int32_t zeroFrom = keep + (covered < newCapacity - keep ? covered : newCapacity - keep);
    std::memset(block + zeroFrom, 0, static_cast<size_t>(newCapacity - zeroFrom));
    if (buff) {
        if (keep > 0)
            std::memcpy(block, buff, static_cast<size_t>(keep));
        // The old block may hold secrets: a wiping stream leaves no copy behind.
        if (zeroize && cap > 0)
            zeroizeMemory(buff, static_cast<size_t>(cap));
        delete[] buff;
    }
    buff = block;
    cap = newCapacity;
    return true;
}

int32_t MemFile::read(uint32_t length, uint8_t* buffer, uint32_t* count)
{
    checkInvariant(buffer != nullptr, UNIT, __LINE__, "buff != NULL");
    uint32_t n = 0;
    if (buff) {
        // Without a known length the buffer's capacity is still the hard limit.
        int32_t end = bUnknLen ? cap : len;
        uint32_t avail = end > pos ? static_cast<uint32_t>(end - pos) : 0;
        n = length < avail ? length : avail;
        if (n > 0)
            std::memcpy(buffer, buff + pos, n);
    }
    if (count)
        *count = n;
    pos += static_cast<int32_t>(n);
    return 0;
}

int32_t MemFile::write(uint32_t length, const uint8_t* buffer)
{
    if (length == 0)
        return 0;
    if (!buffer)
        return -1;
    int64_t end = static_cast<int64_t>(pos) + length;
    // The source may lie in this stream's own buffer (appending a copy of its
    // content): remember where, since growing frees the old block.
    bool inside = buff && buffer >= buff && buffer < buff + cap;
    ptrdiff_t sourceOffset = inside ? buffer - buff : 0;
    if (bUnknLen) {
        if (end > cap)
            return -1;
    } else if (end > len) {
        if (!bHeap)
            return -1;
        if (end > cap) {
            int64_t need = static_cast<int64_t>(cap) + length;
            if (need > INT32_MAX)
                return -1;
            int64_t newCapacity = 32;
            while (newCapacity < need)
                newCapacity *= 2;
            // Past the limit the block is the limit, which holds this write.
            const int32_t most = capacityLimit();
            if (newCapacity > most)
                newCapacity = end > most ? need : most;
            // The write covers the new space from the old end of the block to its own end.
            if (!reallocate(static_cast<int32_t>(newCapacity), static_cast<int32_t>(end - cap)))
                return -1;
            if (inside)
                buffer = buff + sourceOffset;
        }
    }
    std::memmove(buff + pos, buffer, length);
    pos = static_cast<int32_t>(end);
    if (pos > len)
        len = pos;
    return 0;
}

int32_t MemFile::seek(int32_t position)
{
    if (position < 0)
        return -1;
    if (position > (bUnknLen ? cap : len))
        return -1;
    pos = position;
    return 0;
}

uint32_t MemFile::tell()
{
    return static_cast<uint32_t>(pos);
}

uint32_t MemFile::size()
{
    return bUnknLen ? 0xFFFFFFFFu : static_cast<uint32_t>(len);
}

uint8_t* MemFile::at(int32_t p)
{
    checkInvariant(p >= 0, UNIT, __LINE__, "p >= 0");
    checkInvariant(p < len || bUnknLen, UNIT, __LINE__, "p < len || bUnknLen");
    checkInvariant(p < cap, UNIT, __LINE__, "p < cap");
    return buff + p;
}

int32_t MemFile::grow(int32_t n)
{
    checkInvariant(bHeap, UNIT, __LINE__, "bHeap");
    if (n < 0)
        return -1;
    int64_t newLength = static_cast<int64_t>(len) + n;
    if (newLength > INT32_MAX)
        return -1;
    if (newLength > cap) {
        int64_t newCapacity = static_cast<int64_t>(cap) + n;
        if (newCapacity > INT32_MAX || !reallocate(static_cast<int32_t>(newCapacity)))
            return -1;
    }
    int32_t old = len;
    len = static_cast<int32_t>(newLength);
    return old;
}

bool MemFile::setSize(int32_t n)
{
    if (n < 0)
        return false;
    if (bUnknLen) {
        // The content ends at n, but never beyond the memory there is. The capacity
        // keeps the buffer's real size, so a release still wipes all of it.
        if (n > cap)
            return false;
        len = n;
        if (pos > n)
            pos = n;
        bUnknLen = false;
        return true;
    }
    if (n > cap) {
        if (!bHeap || !reallocate(n))
            return false;
    }
    len = n;
    if (pos >= n)
        pos = n;
    bUnknLen = false;
    return true;
}

void MemFile::clear()
{
    release();
    bHeap = true;
    zeroize = true;
}

void MemFile::attach(uint8_t* buffer, int32_t length, bool heapOwned, bool zeroizeFlag)
{
    release();
    if (length < 0)
        length = 0;
    buff = buffer;
    len = cap = buffer ? length : 0;
    pos = 0;
    bHeap = heapOwned;
    zeroize = zeroizeFlag;
    bUnknLen = false;
}

uint8_t* MemFile::detach()
{
    uint8_t* result = buff;
    buff = nullptr;
    len = cap = pos = 0;
    bHeap = true;
    zeroize = true;
    bUnknLen = false;
    return result;
}

// ---------------------------------------------------------------- ZeroFile

int32_t ZeroFile::read(uint32_t length, uint8_t* buffer, uint32_t* got)
{
    if (length > 0) {
        if (!buffer)
            return -1;
        std::memset(buffer, fill, length);
    }
    count += length;
    if (got)
        *got = length;
    return 0;
}

int32_t ZeroFile::write(uint32_t length, const uint8_t*)
{
    count += length;
    return 0;
}

int32_t ZeroFile::seek(int32_t position)
{
    if (position < 0)
        return -1;
    count = static_cast<uint32_t>(position);
    return 0;
}

uint32_t ZeroFile::tell()
{
    return count;
}

uint32_t ZeroFile::size()
{
    return count;
}

int32_t ZeroFile::vprintf(const char*, va_list)
{
    return 0;
}

// ---------------------------------------------------------------- ByteBuffer

void ByteBuffer::release()
{
    // An array of length 0 is still an allocation: it is freed as well.
    if (data) {
        if (wipe && length > 0)
            zeroizeMemory(data, static_cast<size_t>(length));
        delete[] data;
        data = nullptr;
    }
    length = 0;
}

// ---------------------------------------------------------------- byte utilities

void zeroizeMemory(void* buffer, size_t n)
{
    if (n == 0 || !buffer)
        return;
    // A store the compiler keeps, at memset's speed: every freed stream is wiped,
    // and a volatile byte loop made that a visible share of a verification.
    explicit_bzero(buffer, n);
}

uint32_t bytesToUInt32(const uint8_t* bytes, int32_t n)
{
    uint32_t value = 0;
    if (!bytes)
        return 0;
    for (int32_t i = 0; i < n; ++i)
        value = (value << 8) + bytes[i];
    return value;
}

void uint32ToBytes(uint32_t value, uint8_t* out)
{
    out[0] = static_cast<uint8_t>(value >> 24);
    out[1] = static_cast<uint8_t>(value >> 16);
    out[2] = static_cast<uint8_t>(value >> 8);
    out[3] = static_cast<uint8_t>(value);
}

const uint8_t* skipLeadingZeros(const uint8_t* bytes, uint32_t n, uint32_t* rest)
{
    if (!bytes) {
        if (rest)
            *rest = 0;
        return nullptr;
    }
    uint32_t i = 0;
    while (i < n && bytes[i] == 0)
        ++i;
    if (rest)
        *rest = n - i;
    return bytes + i;
}

uint8_t* skipLeadingZeros(uint8_t* bytes, uint32_t n, uint32_t* rest)
{
    return const_cast<uint8_t*>(skipLeadingZeros(static_cast<const uint8_t*>(bytes), n, rest));
}

int32_t bytesToHex(const uint8_t* bytes, int32_t n, char* out, const char* separator)
{
    static const char digits[] = "0123456789ABCDEF";
    if (n <= 0)
        return 0;
    size_t sepLength = separator ? std::strlen(separator) : 0;
    int64_t needed = 2 * static_cast<int64_t>(n) + static_cast<int64_t>(sepLength) * (n - 1);
    if (needed > INT32_MAX)
        return -1;
    if (!out || !bytes)
        return static_cast<int32_t>(needed);
    for (int32_t i = 0; i < n; ++i) {
        if (i > 0 && sepLength > 0) {
            std::memcpy(out, separator, sepLength);
            out += sepLength;
        }
        *out++ = digits[bytes[i] >> 4];
        *out++ = digits[bytes[i] & 0x0F];
    }
    return static_cast<int32_t>(needed);
}

namespace {
int hexValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isCSpace(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
} // namespace

int32_t hexToBytes(const char* text, int32_t length, uint8_t* out, int32_t outMax)
{
    if (!text)
        return 0;
    int32_t count = 0;
    bool high = true;
    int pending = 0;
    auto complete = [&](uint8_t byte) {
        ++count;
        if (out && count <= outMax)
            out[count - 1] = byte;
    };
    for (int32_t i = 0; length < 0 || i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == 0 && length < 0)
            break;
        int v = hexValue(c);
        if (v >= 0) {
            if (high) {
                pending = v;
                high = false;
            } else {
                complete(static_cast<uint8_t>((pending << 4) | v));
                high = true;
            }
        } else if (isCSpace(c)) {
            if (!high) {
                complete(static_cast<uint8_t>(pending));
                high = true;
            }
        } else {
            return HEX_INVALID;
        }
    }
    if (!high)
        complete(static_cast<uint8_t>(pending));
    if (out && count > outMax)
        return -count;
    return count;
}
