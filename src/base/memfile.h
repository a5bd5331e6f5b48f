// Byte streams: the GenericFile interface, the memory stream MemFile, its
// wiping variant, the null stream ZeroFile, ByteBuffer and the byte utilities.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// Abstract byte stream. read, write and seek answer 0 on success and a value
// whose low 16 bits are 0xFFFF (normally -1) on failure.
class MemFile;

class GenericFile
{
public:
    virtual ~GenericFile() = default;
    // The stream as a memory stream (this object), or null: what a
    // dynamic_cast answers, without its cost on the decoders' hot path.
    virtual MemFile* asMemFile() { return nullptr; }
    // Whether writes are dropped from here on (a bounded report past its
    // bound): a writer may then skip making what it would write.
    virtual bool writesDropped() const { return false; }
    virtual int32_t read(uint32_t length, uint8_t* buffer, uint32_t* count) = 0;
    virtual int32_t write(uint32_t length, const uint8_t* buffer) = 0;
    virtual int32_t seek(int32_t position) = 0;
    virtual uint32_t tell() = 0;
    // The length of the stream, or 0xFFFFFFFF when it is unknown.
    virtual uint32_t size() = 0;
    // Copies count bytes (0xFFFFFFFF: up to the end) to target: 0, -1 read error, -2 write error.
    virtual int32_t copyTo(GenericFile* target, uint32_t count, uint32_t* copied);
    virtual int32_t printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Writes the formatted text: its length, -1 when it cannot be formatted, -2 on a write failure.
    virtual int32_t vprintf(const char* format, va_list arguments) __attribute__((format(printf, 2, 0)));
};

// A stream over memory: either an owned, growable heap buffer or a view over
// a caller's buffer.
class MemFile : public GenericFile
{
public:
    MemFile();
    MemFile(uint8_t* buffer, int32_t length, bool zeroize);
    MemFile(uint8_t* buffer, int32_t length, bool heapOwned, bool zeroize);
    // Allocates size zeroed bytes; throws BadAllocation when that fails.
    MemFile(int32_t size, bool zeroize);
    ~MemFile() override;

    MemFile(const MemFile&) = delete;
    MemFile& operator=(const MemFile&) = delete;

    int32_t read(uint32_t length, uint8_t* buffer, uint32_t* count) override;
    int32_t write(uint32_t length, const uint8_t* buffer) override;
    int32_t seek(int32_t position) override;
    uint32_t tell() override;
    uint32_t size() override;
    MemFile* asMemFile() override { return this; }

    // Address of byte p (invariant "p < len || bUnknLen").
    uint8_t* at(int32_t p);
    // Appends n bytes of unspecified content; the old length, or -1.
    int32_t grow(int32_t n);
    bool setSize(int32_t n);
    virtual void clear();
    void attach(uint8_t* buffer, int32_t length, bool heapOwned, bool zeroize);
    uint8_t* detach();

    uint8_t* data() const { return buff; }
    int32_t length() const { return len; }
    int32_t capacity() const { return cap; }
    bool isUnknownLength() const { return bUnknLen; }
    // Declares the end of the content unknown until setSize states it; reads,
    // writes and seeks are then bounded by the buffer's capacity only.
    void setUnknownLength() { bUnknLen = true; }

protected:
    // The most an owned buffer grows to by writes (a bounded stream's bound);
    // a function, so that every stream is no larger for it.
    virtual int32_t capacityLimit() const { return INT32_MAX; }

private:
    void release();
    // Moves the content to a new block of newCapacity bytes (wiping the old
    // one when zeroize); the new space is zeroed but for its first `covered`
    // bytes, which the caller writes at once.
    bool reallocate(int32_t newCapacity, int32_t covered = 0);

    uint8_t* buff;
    int32_t len;
    int32_t cap;
    int32_t pos;
    bool bHeap;
    bool zeroize;
    bool bUnknLen;
};

// A MemFile over a caller's buffer that wipes the buffer when it is destroyed.
class ZeroizedMemFile : public MemFile
{
public:
    ZeroizedMemFile(uint8_t* buffer, int32_t length) : MemFile(buffer, length, true) {}
};

// The null stream: counts what is written, reads the fill byte.
class ZeroFile : public GenericFile
{
public:
    int32_t read(uint32_t length, uint8_t* buffer, uint32_t* got) override;
    int32_t write(uint32_t length, const uint8_t* buffer) override;
    int32_t seek(int32_t position) override;
    uint32_t tell() override;
    uint32_t size() override;
    int32_t vprintf(const char* format, va_list arguments) override;

    uint32_t count = 0;
    uint8_t fill = 0;
};

// An owned byte array (keys, digests, signature values).
struct ByteBuffer
{
    bool wipe = false;
    uint8_t* data = nullptr; // allocated with array new
    int32_t length = 0;

    // Wipes (when wipe is set) and frees the array.
    void release();
};

// Sets n bytes to zero with a store the compiler cannot remove.
void zeroizeMemory(void* buffer, size_t n);
uint32_t bytesToUInt32(const uint8_t* bytes, int32_t n);
void uint32ToBytes(uint32_t value, uint8_t* out);
// The first non-zero byte and the count from there to the end (rest may be null).
const uint8_t* skipLeadingZeros(const uint8_t* bytes, uint32_t n, uint32_t* rest);
uint8_t* skipLeadingZeros(uint8_t* bytes, uint32_t n, uint32_t* rest);
// Upper-case hexadecimal with an optional separator; no terminating zero.
// Answers the length the text takes; with out null only that length.
int32_t bytesToHex(const uint8_t* bytes, int32_t n, char* out, const char* separator);
// Result of hexToBytes for a character that is neither a digit nor white space.
const int32_t HEX_INVALID = INT32_MIN;
// Hexadecimal text (length < 0: up to its zero byte) to bytes: the count, the
// negated count when out was given and outMax was too small, HEX_INVALID on a bad character.
int32_t hexToBytes(const char* text, int32_t length, uint8_t* out, int32_t outMax);
