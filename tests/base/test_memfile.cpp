#include "base/commonerror.h"
#include "base/memfile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

uint8_t* watchedBlock = nullptr;
size_t watchedCapacity = 0;
bool watchedBlockWasZero = false;
// While set, every new array comes filled with this stale byte.
int staleFill = -1;

void* filled(void* p, size_t n)
{
    if (p && staleFill >= 0)
        std::memset(p, staleFill, n);
    return p;
}

} // namespace

void* operator new[](size_t n)
{
    void* p = std::malloc(n ? n : 1);
    if (!p)
        throw std::bad_alloc();
    return filled(p, n);
}
void* operator new[](size_t n, const std::nothrow_t&) noexcept
{
    return filled(std::malloc(n ? n : 1), n);
}
void operator delete[](void* p) noexcept
{
    if (p && p == watchedBlock) {
        watchedBlockWasZero = true;
        for (size_t i = 0; i < watchedCapacity; ++i)
            if (static_cast<uint8_t*>(p)[i] != 0)
                watchedBlockWasZero = false;
        watchedBlock = nullptr;
    }
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept
{
    operator delete[](p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    operator delete[](p);
}

namespace {

// Records the read and write sizes that copyTo and vprintf use.
class RecordingFile : public MemFile
{
public:
    using MemFile::MemFile;
    int32_t read(uint32_t length, uint8_t* buffer, uint32_t* count) override
    {
        reads.push_back(length);
        return MemFile::read(length, buffer, count);
    }
    int32_t write(uint32_t length, const uint8_t* buffer) override
    {
        writes.push_back(length);
        return MemFile::write(length, buffer);
    }
    std::vector<uint32_t> reads, writes;
};

class FailingMemFile : public MemFile
{
public:
    int32_t write(uint32_t, const uint8_t*) override { return -1; }
};

class FailingFile : public ZeroFile
{
public:
    int32_t write(uint32_t, const uint8_t*) override { return -1; }
};

TEST(MemFile, GrowthByPowersOfTwo)
{
    uint8_t bytes[100] = {};
    MemFile a;
    ASSERT_EQ(0, a.write(1, bytes));
    EXPECT_EQ(32, a.capacity());
    ASSERT_EQ(0, a.write(32, bytes));
    EXPECT_EQ(64, a.capacity());
    EXPECT_EQ(33, a.length());
    MemFile b;
    ASSERT_EQ(0, b.write(100, bytes));
    EXPECT_EQ(128, b.capacity());
    EXPECT_EQ(100u, b.tell());
}

TEST(MemFile, ForeignBufferNeverGrows)
{
    uint8_t buffer[8] = {};
    const uint8_t in[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    MemFile f(buffer, 8, false);
    ASSERT_EQ(0, f.seek(4));
    EXPECT_EQ(0, f.write(4, in));
    ASSERT_EQ(0, f.seek(4));
    EXPECT_EQ(-1, f.write(5, in));
    EXPECT_EQ(1, buffer[4]);
    EXPECT_EQ(4, buffer[7]);
    EXPECT_FALSE(f.setSize(9));
}

TEST(MemFile, ReadSeekAndBounds)
{
    uint8_t buffer[4] = {1, 2, 3, 4};
    MemFile f(buffer, 4, false);
    uint8_t out[8];
    uint32_t n = 99;
    EXPECT_EQ(0, f.read(8, out, &n));
    EXPECT_EQ(4u, n);
    EXPECT_EQ(0, f.read(8, out, &n));
    EXPECT_EQ(0u, n);
    EXPECT_EQ(0, f.seek(4));
    EXPECT_EQ(-1, f.seek(5));
    EXPECT_EQ(-1, f.seek(-1)); // a negative position is refused
    EXPECT_EQ(4u, f.tell());
    EXPECT_THROW(f.read(1, nullptr, &n), std::runtime_error);
    try {
        f.at(4);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string::npos, std::string(e.what()).find("memfile("));
        EXPECT_NE(std::string::npos, std::string(e.what()).find("warunek: p < len || bUnknLen"));
    }
    EXPECT_THROW(f.at(-1), std::runtime_error);
    EXPECT_THROW(f.grow(1), std::runtime_error); // foreign buffer
}

TEST(MemFile, UnknownLengthStaysInsideTheBuffer)
{
    uint8_t buffer[16] = {};
    MemFile f(buffer, 16, false);
    ASSERT_TRUE(f.setSize(4));
    f.setUnknownLength();
    EXPECT_EQ(0xFFFFFFFFu, f.size());
    EXPECT_EQ(0, f.seek(10));
    EXPECT_EQ(-1, f.seek(17));
    uint8_t out[32];
    uint32_t n = 0;
    EXPECT_EQ(0, f.read(32, out, &n));
    EXPECT_EQ(6u, n);
    EXPECT_TRUE(f.setSize(12));
    EXPECT_EQ(12u, f.size());
}

// Stating the length of an unknown-length view must not shrink what its release wipes.
TEST(MemFile, UnknownLengthReleaseWipesTheWholeBuffer)
{
    uint8_t buffer[16];
    std::memset(buffer, 0x5A, sizeof buffer);
    {
        MemFile f(buffer, 16, true);
        f.setUnknownLength();
        ASSERT_TRUE(f.setSize(4));
        EXPECT_EQ(4u, f.size());
        EXPECT_EQ(-1, f.seek(5));
    }
    for (uint8_t b : buffer)
        ASSERT_EQ(0, b);
}

// Appending a copy of the stream's own content: the source moves when the buffer grows.
TEST(MemFile, WriteFromItsOwnBuffer)
{
    MemFile f;
    std::string text = "0123456789abcdefghijklmnopqrstuv"; // fills the first block of 32
    ASSERT_EQ(0, f.write(32, reinterpret_cast<const uint8_t*>(text.data())));
    ASSERT_EQ(0, f.write(32, f.data()));
    ASSERT_EQ(0, f.write(10, f.at(5)));
    std::string expected = text + text + text.substr(5, 10);
    EXPECT_EQ(expected, std::string(reinterpret_cast<char*>(f.data()), static_cast<size_t>(f.length())));
    ASSERT_EQ(0, f.seek(2)); // overlapping copy inside the buffer
    ASSERT_EQ(0, f.write(8, f.at(0)));
    EXPECT_EQ("0101234567", std::string(reinterpret_cast<char*>(f.data()), 10));
}

TEST(MemFile, ZeroizeOnRelease)
{
    uint8_t buffer[16];
    std::memset(buffer, 0x5A, sizeof buffer);
    { MemFile f(buffer, 16, true); }
    for (uint8_t b : buffer)
        ASSERT_EQ(0, b);
    std::memset(buffer, 0x5A, sizeof buffer);
    { MemFile f(buffer, 16, false); }
    for (uint8_t b : buffer)
        ASSERT_EQ(0x5A, b);
    std::memset(buffer, 0x33, sizeof buffer);
    { ZeroizedMemFile z(buffer, 16); }
    for (uint8_t b : buffer)
        ASSERT_EQ(0, b);
}

// A wiping stream leaves no copy of its secrets in the blocks that growth frees:
// the array delete of this program looks at each watched block before freeing it.
TEST(MemFile, ReallocationWipesTheOldBlock)
{
    for (bool wipe : {true, false}) {
        MemFile f(0, wipe);
        std::vector<uint8_t> secret(32, 0x77);
        ASSERT_EQ(0, f.write(32, secret.data()));
        watchedBlock = f.data();
        watchedCapacity = static_cast<size_t>(f.capacity());
        watchedBlockWasZero = false;
        ASSERT_EQ(0, f.write(1, secret.data())); // 32 -> 64: the first block is freed
        EXPECT_EQ(nullptr, watchedBlock) << "old block not freed";
        EXPECT_EQ(wipe, watchedBlockWasZero);
        EXPECT_EQ(0, std::memcmp(f.data(), secret.data(), 32));

        watchedBlock = f.data();
        watchedCapacity = static_cast<size_t>(f.capacity());
        watchedBlockWasZero = false;
        ASSERT_EQ(33, f.grow(100)); // exact reallocation
        EXPECT_EQ(wipe, watchedBlockWasZero);
        watchedBlock = f.data();
        watchedCapacity = static_cast<size_t>(f.capacity());
        watchedBlockWasZero = false;
        ASSERT_TRUE(f.setSize(1000));
        EXPECT_EQ(wipe, watchedBlockWasZero);
        EXPECT_EQ(0x77, *f.at(32));
    }
}

// Growth leaves no stale heap byte to show: past what a write covers the new
// space is zeroed, and so is what grow and setSize add.
TEST(MemFile, GrownSpaceNeverShowsStaleBytes)
{
    struct Fill
    {
        Fill() { staleFill = 0xA5; }
        ~Fill() { staleFill = -1; }
    } fill;
    struct Case
    {
        const char* name;
        uint32_t first, second; // two writes
        int32_t (*show)(MemFile&); // what it adds: the new length
    };
    const Case cases[] = {
        {"a write past the block, setSize in it", 32, 8, [](MemFile& f) { return f.setSize(64) ? 64 : -1; }},
        {"grow", 32, 1, [](MemFile& f) { return f.grow(31) == 33 ? 64 : -1; }},
        {"setSize past the block", 10, 30, [](MemFile& f) { return f.setSize(200) ? 200 : -1; }},
        {"unknown length", 32, 8, [](MemFile& f) {
             f.setUnknownLength();
             return f.capacity();
         }},
    };
    const std::vector<uint8_t> ones(200, 1);
    for (const Case& c : cases) {
        MemFile f;
        ASSERT_EQ(0, f.write(c.first, ones.data())) << c.name;
        ASSERT_EQ(0, f.write(c.second, ones.data())) << c.name;
        const int32_t written = static_cast<int32_t>(c.first + c.second);
        const int32_t end = c.show(f);
        ASSERT_GT(end, written) << c.name;
        for (int32_t i = 0; i < end; ++i)
            ASSERT_EQ(i < written ? 1 : 0, *f.at(i)) << c.name << " at " << i;
    }
}

TEST(MemFile, DetachHandsOverTheContent)
{
    MemFile f;
    const uint8_t text[] = "content";
    ASSERT_EQ(0, f.write(7, text));
    uint8_t* p = f.detach();
    EXPECT_EQ(0, f.length());
    EXPECT_EQ(0, std::memcmp(p, text, 7));
    delete[] p;
    EXPECT_EQ(0, f.write(1, text));
    EXPECT_EQ(32, f.capacity());
}

TEST(MemFile, SizeConstructorAndSetSize)
{
    MemFile f(10, false);
    EXPECT_EQ(10, f.length());
    EXPECT_EQ(0, *f.at(9));
    ASSERT_EQ(0, f.seek(10));
    EXPECT_TRUE(f.setSize(4));
    EXPECT_EQ(4u, f.tell());
    EXPECT_TRUE(f.setSize(20));
    EXPECT_EQ(0, *f.at(19)); // new space never shows stale heap data
    EXPECT_EQ(20, f.capacity());
    EXPECT_FALSE(f.setSize(-1));
    EXPECT_THROW(MemFile(-1, false), std::bad_alloc);
    try {
        MemFile g(-5, false);
    } catch (const std::bad_alloc& e) {
        EXPECT_STREQ("bad allocation", e.what());
    }
}

TEST(MemFile, GrowAndWriteRefuseOverflow)
{
    MemFile f;
    uint8_t b[4] = {};
    ASSERT_EQ(0, f.write(4, b));
    EXPECT_EQ(-1, f.grow(INT32_MAX));
    EXPECT_EQ(-1, f.grow(-1));
    EXPECT_EQ(-1, f.write(0xFFFFFFF0u, b)); // would wrap the 32-bit position
    EXPECT_EQ(4, f.length());
    EXPECT_EQ(4, f.grow(2));
    EXPECT_EQ(6, f.length());
    EXPECT_EQ(4u, f.tell());
}

TEST(GenericFile, CopyToInChunks)
{
    std::vector<uint8_t> data(5000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7);
    RecordingFile source(data.data(), 5000, false);
    RecordingFile target;
    uint32_t n = 0;
    ASSERT_EQ(0, source.copyTo(&target, 0xFFFFFFFFu, &n));
    EXPECT_EQ(5000u, n);
    EXPECT_EQ((std::vector<uint32_t>{2048, 2048, 2048, 2048}), source.reads);
    EXPECT_EQ((std::vector<uint32_t>{2048, 2048, 904}), target.writes);
    EXPECT_EQ(0, std::memcmp(target.data(), data.data(), 5000));

    ASSERT_EQ(0, source.seek(0));
    ZeroFile sink;
    EXPECT_EQ(0, source.copyTo(&sink, 3000, &n));
    EXPECT_EQ(3000u, n);
    EXPECT_EQ(3000u, source.tell());
    FailingFile bad;
    EXPECT_EQ(-2, source.copyTo(&bad, 10, &n));
    EXPECT_EQ(0u, n);
    EXPECT_EQ(0, source.copyTo(&sink, 0, &n));
}

TEST(GenericFile, VprintfGrowsItsBuffer)
{
    RecordingFile f;
    std::string big(3000, 'x');
    EXPECT_EQ(3000, f.printf("%s", big.c_str()));
    EXPECT_EQ((std::vector<uint32_t>{3000}), f.writes);
    EXPECT_EQ(0, std::memcmp(f.data(), big.data(), 3000));
    EXPECT_EQ(0, f.printf("%s", ""));
    EXPECT_EQ(1u, f.writes.size());
    EXPECT_EQ(7, f.printf("a%dc%s", 42, "xyz"));
    FailingMemFile bad;
    EXPECT_EQ(-2, bad.printf("x"));
}

TEST(ZeroFile, CountsAndFills)
{
    ZeroFile z;
    uint8_t b[20] = {};
    z.write(10, b);
    z.write(20, b);
    EXPECT_EQ(30u, z.size());
    z.fill = 0xAB;
    uint32_t got = 0;
    EXPECT_EQ(0, z.read(5, b, &got));
    EXPECT_EQ(5u, got);
    EXPECT_EQ(0xAB, b[4]);
    EXPECT_EQ(35u, z.tell());
    EXPECT_EQ(0, z.printf("abc"));
}

TEST(ByteBuffer, ReleaseFreesEmptyArrays)
{
    ByteBuffer b;
    b.data = new uint8_t[0]; // under the leak checker, a missed free fails the run
    b.length = 0;
    b.release();
    EXPECT_EQ(nullptr, b.data);
    b.wipe = true;
    b.data = new uint8_t[4]{1, 2, 3, 4};
    b.length = 4;
    b.release();
    EXPECT_EQ(nullptr, b.data);
}

TEST(ByteUtilities, BigEndianIntegers)
{
    const uint8_t a[] = {0, 0, 1, 0};
    const uint8_t b[] = {1, 2, 3, 4, 5};
    EXPECT_EQ(256u, bytesToUInt32(a, 4));
    EXPECT_EQ(0x02030405u, bytesToUInt32(b, 5));
    EXPECT_EQ(0u, bytesToUInt32(b, 0));
    uint8_t out[4];
    uint32ToBytes(0xA1B2C3D4u, out);
    EXPECT_EQ(0xA1, out[0]);
    EXPECT_EQ(0xD4, out[3]);
}

TEST(ByteUtilities, SkipLeadingZeros)
{
    const uint8_t a[] = {0, 0, 5, 0};
    uint32_t rest = 99;
    EXPECT_EQ(a + 2, skipLeadingZeros(a, 4, &rest));
    EXPECT_EQ(2u, rest);
    const uint8_t z[] = {0, 0};
    EXPECT_EQ(z + 2, skipLeadingZeros(z, 2, &rest));
    EXPECT_EQ(0u, rest);
    EXPECT_EQ(nullptr, skipLeadingZeros(static_cast<const uint8_t*>(nullptr), 3, &rest));
    EXPECT_EQ(0u, rest);
}

TEST(ByteUtilities, HexText)
{
    const uint8_t b[] = {0x01, 0xAB};
    char out[16] = {};
    EXPECT_EQ(5, bytesToHex(b, 2, out, ":"));
    EXPECT_STREQ("01:AB", out);
    char out2[16] = {};
    EXPECT_EQ(4, bytesToHex(b, 2, out2, nullptr));
    EXPECT_STREQ("01AB", out2);
    EXPECT_EQ(6, bytesToHex(b, 2, nullptr, "--"));
    EXPECT_EQ(0, bytesToHex(b, 0, out, ":"));

    uint8_t bytes[8] = {};
    EXPECT_EQ(2, hexToBytes("0a 1", -1, bytes, 8));
    EXPECT_EQ(0x0A, bytes[0]);
    EXPECT_EQ(0x01, bytes[1]);
    EXPECT_EQ(3, hexToBytes("1 23 4", -1, bytes, 8));
    EXPECT_EQ(0x01, bytes[0]);
    EXPECT_EQ(0x23, bytes[1]);
    EXPECT_EQ(0x04, bytes[2]);
    EXPECT_EQ(INT32_MIN, hexToBytes("0g", -1, bytes, 8));
    bytes[1] = 0xEE;
    EXPECT_EQ(-2, hexToBytes("abcd", -1, bytes, 1));
    EXPECT_EQ(0xAB, bytes[0]);
    EXPECT_EQ(0xEE, bytes[1]);
    EXPECT_EQ(2, hexToBytes("ABCDEF", 4, nullptr, 0));
    EXPECT_EQ(INT32_MIN, hexToBytes("AB\0CD", 5, nullptr, 0)); // a zero byte inside the given length
    EXPECT_EQ(3, hexToBytes("Ab\tcD\r\nEf", -1, nullptr, 0));
}

TEST(ByteUtilities, HexRoundTrip)
{
    std::vector<uint8_t> data(256);
    for (int i = 0; i < 256; ++i)
        data[i] = static_cast<uint8_t>(255 - i);
    for (const char* sep : {"", " ", ":", "\r\n"}) {
        int32_t n = bytesToHex(data.data(), 256, nullptr, sep);
        std::string text(static_cast<size_t>(n), '\0');
        ASSERT_EQ(n, bytesToHex(data.data(), 256, &text[0], sep));
        if (std::strcmp(sep, ":") == 0)
            continue; // ':' is not hexadecimal text
        std::vector<uint8_t> back(256);
        ASSERT_EQ(256, hexToBytes(text.c_str(), n, back.data(), 256)) << sep;
        EXPECT_EQ(data, back);
    }
}

TEST(ByteUtilities, ZeroizeMemory)
{
    uint8_t b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    zeroizeMemory(b, 0);
    EXPECT_EQ(1, b[0]);
    zeroizeMemory(b, 8);
    for (uint8_t v : b)
        EXPECT_EQ(0, v);
}

} // namespace

// The decoders' quick readers find memory streams through asMemFile instead of a
// dynamic_cast: both must name the same streams.
TEST(MemFile, AsMemFileNamesTheMemoryStreamsOnly)
{
    uint8_t bytes[4] = {1, 2, 3, 4};
    MemFile owned;
    MemFile view(bytes, 4, false);
    ZeroizedMemFile wiped(bytes, 4);
    ZeroFile none;
    GenericFile* const streams[] = {&owned, &view, &wiped, &none};
    for (GenericFile* f : streams)
        EXPECT_EQ(dynamic_cast<MemFile*>(f), f->asMemFile());
    EXPECT_EQ(nullptr, none.asMemFile());
}
