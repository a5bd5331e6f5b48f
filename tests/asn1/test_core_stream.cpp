// Resumable streaming decode and encode.
#include "asn1/asnany.h"
#include "asn1/asnbitst.h"
#include "asn1/asnint.h"
#include "asn1/asnobjid.h"
#include "asn1/asnocstr.h"
#include "asn1/core_util.h"

#include <gtest/gtest.h>

#include <random>

namespace {
// Records the size of every write.
class RecordingFile : public MemFile {
public:
    int32_t write(uint32_t n, const uint8_t* b) override
    {
        sizes.push_back(n);
        return MemFile::write(n, b);
    }
    std::vector<uint32_t> sizes;
};

Bytes pattern(size_t n)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(i * 7 + 3);
    return b;
}

Bytes primitive(uint8_t tag, const Bytes& content)
{
    Bytes out{tag};
    size_t n = content.size();
    if (n < 128) {
        out.push_back(static_cast<uint8_t>(n));
    } else {
        int k = n < 256 ? 1 : (n < 65536 ? 2 : 3);
        out.push_back(static_cast<uint8_t>(0x80 | k));
        for (int i = k - 1; i >= 0; --i)
            out.push_back(static_cast<uint8_t>(n >> (8 * i)));
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

std::vector<std::vector<size_t>> splitPlans()
{
    std::vector<std::vector<size_t>> plans = {{1}, {2}, {3}, {1, 5}, {7, 1, 1}};
    std::mt19937 rng(12345);
    for (int i = 0; i < 6; ++i) {
        std::vector<size_t> p;
        for (int j = 0; j < 40; ++j)
            p.push_back(1 + rng() % 300);
        plans.push_back(p);
    }
    return plans;
}
} // namespace

TEST(CoreStream, HeaderSplitAtEveryOctet)
{
    Bytes content = pattern(300);
    Bytes in = primitive(0x04, content);
    ASNoctstr whole;
    ASSERT_EQ(whole.decodeVector(in), static_cast<int>(in.size()));
    for (const auto& plan : splitPlans()) {
        ASNoctstr o;
        ASSERT_EQ(streamInPieces(o, in, plan), static_cast<int>(in.size()));
        EXPECT_TRUE(o.equals(whole));
    }
    // Non-minimal four-octet length.
    Bytes nm = H("04 84 00 00 00 03 01 02 03");
    ASNoctstr o;
    EXPECT_EQ(streamInPieces(o, nm, {1}), 9);
    EXPECT_EQ(hexOf(o.data(), o.length), "010203");
}

TEST(CoreStream, ConstructedIndefiniteOctetString)
{
    Bytes in = H("24 80 04 02 AA BB 24 80 04 01 CC 00 00 04 00 04 03 DD EE FF 00 00");
    ASNoctstr whole;
    ASSERT_EQ(whole.decodeVector(in), static_cast<int>(in.size()));
    EXPECT_EQ(hexOf(whole.data(), whole.length), "aabbccddeeff");
    for (const auto& plan : splitPlans()) {
        ASNoctstr o;
        ASSERT_EQ(streamInPieces(o, in, plan), static_cast<int>(in.size()));
        EXPECT_EQ(hexOf(o.data(), o.length), "aabbccddeeff");
    }
    // Definite constructed.
    Bytes def = H("24 0A 04 02 AA BB 24 04 04 02 CC DD");
    ASNoctstr d;
    EXPECT_EQ(streamInPieces(d, def, {1}), 12);
    EXPECT_EQ(hexOf(d.data(), d.length), "aabbccdd");
    // Segments overrunning a definite length.
    ASNoctstr over;
    EXPECT_EQ(streamInPieces(over, H("24 03 04 02 AA BB"), {1}), 0);
    // A lone zero followed by a segment start is handed to the segment, which refuses it.
    ASNoctstr lone;
    EXPECT_EQ(streamInPieces(lone, H("24 80 00 04 01 AA 00 00"), {1}), 0);
    ASNoctstr wrong;
    EXPECT_EQ(streamInPieces(wrong, H("24 80 02 01 AA 00 00"), {1}), 0);
    // Nesting is bounded while streaming too.
    Bytes deep;
    for (int i = 0; i < 200; ++i) {
        deep.push_back(0x24);
        deep.push_back(0x80);
    }
    deep.push_back(0x04);
    deep.push_back(0x00);
    ASNoctstr dd;
    EXPECT_EQ(streamInPieces(dd, deep, {5}), 0);
}

TEST(CoreStream, BuffersGrowOnlyWithArrivingData)
{
    ASNoctstr o;
    Bytes in = H("04 84 7F FF FF F0 01 02 03 04 05");
    EXPECT_EQ(streamInPieces(o, in, {100}), EASN_MORE);
    ASSERT_NE(o.streamCtx, nullptr);
    MemFile* b = o.streamCtx->getBuffer();
    ASSERT_NE(b, nullptr);
    EXPECT_LT(b->capacity(), 4096);
    // The base step (any other type) behaves the same.
    ASNany a;
    EXPECT_EQ(streamInPieces(a, H("30 84 7F FF FF F0 02 01 05"), {100}), EASN_MORE);
    EXPECT_LT(a.streamCtx->getBuffer()->capacity(), 4096);
    // Lengths beyond 2^31-1 and length fields over four octets are refused.
    ASNoctstr big;
    EXPECT_EQ(streamInPieces(big, H("04 84 80 00 00 00 01"), {1}), 0);
    ASNoctstr five;
    EXPECT_EQ(streamInPieces(five, H("04 85 00 00 00 00 01 01"), {1}), 0);
}

TEST(CoreStream, BaseStepMatchesWholeDecode)
{
    Bytes oid = H("06 09 2A 86 48 86 F7 0D 01 01 0B");
    Bytes bits = H("03 03 06 50 40");
    Bytes seq = H("30 0A 02 02 01 00 04 81 03 AA BB CC");
    for (const auto& plan : splitPlans()) {
        ASNobjectId o;
        ASSERT_EQ(streamInPieces(o, oid, plan), 11);
        EXPECT_TRUE(o.equalsText("1.2.840.113549.1.1.11"));
        ASNbitstr b;
        ASSERT_EQ(streamInPieces(b, bits, plan), 5);
        EXPECT_EQ(b.bitCount(), 10);
        ASNany a;
        ASSERT_EQ(streamInPieces(a, seq, plan), 12);
        ASNany w;
        ASSERT_EQ(w.decodeVector(seq), 12);
        EXPECT_TRUE(a.equals(w));
    }
    // The base step does not take indefinite content.
    ASNany ind;
    EXPECT_EQ(streamInPieces(ind, H("30 80 02 01 05 00 00"), {1}), 0);
    // Tag checks while streaming.
    ASNinteger i;
    EXPECT_EQ(streamInPieces(i, H("04 01 05"), {1}), 0);
    ASNinteger c;
    EXPECT_EQ(streamInPieces(c, H("22 03 02 01 05"), {1}), 0);
}

TEST(CoreStream, PassThroughDecode)
{
    Bytes content = pattern(25000);
    Bytes in = primitive(0x04, content);
    ASNoctstr o;
    ASSERT_EQ(o.setStreamPassThrough(true), 1);
    EXPECT_TRUE(o.isStreamPassThrough());
    RecordingFile out;
    MemFile src(in.data(), static_cast<int32_t>(in.size()), false);
    ASSERT_EQ(o.decodeStream(&src, &out), static_cast<int>(in.size()));
    EXPECT_EQ(out.sizes, (std::vector<uint32_t>{10000, 10000, 5000}));
    EXPECT_EQ(Bytes(out.data(), out.data() + out.length()), content);
    EXPECT_EQ(o.length, 25000);
    EXPECT_EQ(o.data(), nullptr);
    // Constructed indefinite content passes through segment by segment, in pieces.
    Bytes seg = H("24 80 04 02 AA BB 04 01 CC 00 00");
    for (const auto& plan : splitPlans()) {
        ASNoctstr p;
        p.setStreamPassThrough(true);
        MemFile sink;
        ASSERT_EQ(streamInPieces(p, seg, plan, &sink), 11);
        EXPECT_EQ(hexOf(sink.data(), sink.length()), "aabbcc");
    }
}

TEST(CoreStream, PassThroughEncode)
{
    Bytes content = pattern(25000);
    ASNoctstr o;
    o.setStreamPassThrough(true);
    MemFile src(content.data(), static_cast<int32_t>(content.size()), false);
    RecordingFile out;
    ASSERT_EQ(o.encodeStream(&src, 25000, true, &out), 25004);
    Bytes written(out.data(), out.data() + out.length());
    EXPECT_EQ(written, primitive(0x04, content));
    EXPECT_EQ(out.sizes, (std::vector<uint32_t>{4, 10000, 10000, 5000}));

    // Never more than the announced length is read from the input.
    Bytes more = pattern(30);
    ASNoctstr p;
    p.setStreamPassThrough(true);
    MemFile src2(more.data(), 30, false);
    MemFile out2;
    EXPECT_EQ(p.encodeStream(&src2, 20, true, &out2), 22);
    EXPECT_EQ(src2.tell(), 20u);
    EXPECT_EQ(out2.length(), 22);

    // The last part falling short of the announced length.
    ASNoctstr q;
    q.setStreamPassThrough(true);
    MemFile src3(more.data(), 10, false);
    MemFile out3;
    EXPECT_EQ(q.encodeStream(&src3, 20, true, &out3), 0);

    // Parts arriving one by one.
    ASNoctstr r;
    r.setStreamPassThrough(true);
    MemFile out4;
    MemFile part1(more.data(), 12, false);
    EXPECT_EQ(r.encodeStream(&part1, 20, false, &out4), EASN_MORE);
    MemFile part2(more.data() + 12, 8, false);
    EXPECT_EQ(r.encodeStream(&part2, 20, true, &out4), 22);
    EXPECT_EQ(Bytes(out4.data() + 2, out4.data() + out4.length()), Bytes(more.begin(), more.begin() + 20));

    // Unknown length: a constructed indefinite string of definite segments.
    ASNoctstr u;
    u.tag = 0x24;
    u.flags |= ASN_FLAG_INDEFINITE;
    u.setStreamPassThrough(true);
    MemFile out5;
    MemFile a(more.data(), 3, false);
    EXPECT_EQ(u.encodeStream(&a, -1, false, &out5), EASN_MORE);
    MemFile b(more.data() + 3, 2, false);
    EXPECT_GT(u.encodeStream(&b, -1, true, &out5), 0);
    Bytes expect = H("24 80 04 03");
    expect.insert(expect.end(), more.begin(), more.begin() + 3);
    expect.push_back(0x04);
    expect.push_back(0x02);
    expect.insert(expect.end(), more.begin() + 3, more.begin() + 5);
    expect.push_back(0);
    expect.push_back(0);
    EXPECT_EQ(Bytes(out5.data(), out5.data() + out5.length()), expect);
    ASNoctstr check;
    EXPECT_EQ(check.decodeVector(expect), static_cast<int>(expect.size()));
    EXPECT_EQ(check.length, 5);
}

TEST(CoreStream, EncodeWithoutPassThrough)
{
    ASNinteger i;
    i.set(0x10203);
    MemFile out;
    EXPECT_EQ(i.encodeStream(nullptr, -1, true, &out), 5);
    EXPECT_EQ(hexOf(out.data(), out.length()), "020301" "0203");
    EXPECT_EQ(i.lengthWithHeader(0), 5);
}
