#include "base/b64file.h"
#include "base/memfile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string readFixture(const std::string& name)
{
    std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/base/b64/" + name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string withCrLf(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

std::string withoutLineEnds(const std::string& text)
{
    std::string out;
    for (char c : text)
        if (c != '\n' && c != '\r')
            out += c;
    return out;
}

std::string contents(MemFile& f)
{
    return std::string(reinterpret_cast<const char*>(f.data()), static_cast<size_t>(f.length()));
}

const uint8_t* bytesOf(const std::string& s)
{
    return reinterpret_cast<const uint8_t*>(s.data());
}

// A source that hands out at most a few bytes per read.
class TrickleFile : public MemFile
{
public:
    TrickleFile(const std::string& s, uint32_t step)
        : MemFile(reinterpret_cast<uint8_t*>(const_cast<char*>(s.data())), static_cast<int32_t>(s.size()), false),
          step(step)
    {
    }
    int32_t read(uint32_t length, uint8_t* buffer, uint32_t* count) override
    {
        return MemFile::read(length < step ? length : step, buffer, count);
    }
    uint32_t step;
};

const int sizes[] = {0, 1, 2, 3, 4, 5, 6, 7, 47, 48, 49, 50, 95, 96, 97, 100, 129, 130, 212, 213, 1000, 2397, 2398, 3000, 5000, 10001};

TEST(Base64Buffer, Rfc4648Vectors)
{
    const char* vectors[][2] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},        {"foo", "Zm9v"},
                                {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
    for (auto& v : vectors) {
        char out[16] = {};
        EXPECT_EQ(static_cast<int32_t>(std::strlen(v[1])), encodeBase64Buffer(v[0], -1, out)) << v[0];
        EXPECT_STREQ(v[1], out);
        if (*v[1]) {
            uint8_t back[16] = {};
            EXPECT_EQ(static_cast<int32_t>(std::strlen(v[0])), decodeBase64Block(v[1], -1, back));
            EXPECT_EQ(0, std::memcmp(v[0], back, std::strlen(v[0])));
        }
    }
}

TEST(Base64Buffer, DecodeRules)
{
    uint8_t out[16];
    EXPECT_EQ(0, decodeBase64Block("YWJjZ", 5, out));
    EXPECT_EQ(0, decodeBase64Block("", 0, out));
    EXPECT_EQ(4, decodeBase64Block("YQ==YWJj", 8, out)); // a padded group may stand anywhere
    EXPECT_EQ(0, std::memcmp("aabc", out, 4));
    EXPECT_EQ(0, decodeBase64Block("YQ=j", 4, out));
    EXPECT_EQ(0, decodeBase64Block("Y===", 4, out));
    EXPECT_EQ(0, decodeBase64Block("YW J", 4, out));
}

TEST(Base64Buffer, AgainstCoreutils)
{
    for (int n : sizes) {
        std::string data = readFixture("rand_" + std::to_string(n) + ".bin");
        std::string text = withoutLineEnds(readFixture("rand_" + std::to_string(n) + ".b64"));
        std::vector<char> out(text.size() + 4);
        ASSERT_EQ(static_cast<int32_t>(text.size()), encodeBase64Buffer(data.data(), n, out.data())) << n;
        EXPECT_EQ(text, std::string(out.data(), text.size())) << n;
        if (n == 0)
            continue;
        std::vector<uint8_t> back(data.size() + 3);
        ASSERT_EQ(n, decodeBase64Block(text.data(), static_cast<int32_t>(text.size()), back.data()));
        EXPECT_EQ(0, std::memcmp(data.data(), back.data(), data.size())) << n;
    }
}

TEST(Base64Stream, LineBreaks)
{
    std::string data48(48, 'x'), data49(49, 'x');
    MemFile a;
    EXPECT_EQ(64, encodeBase64ToStream(data48.data(), 48, &a, 64));
    EXPECT_EQ(66, a.length());
    EXPECT_EQ("\r\n", contents(a).substr(64));
    MemFile b;
    EXPECT_EQ(68, encodeBase64ToStream(data49.data(), 49, &b, 64));
    EXPECT_EQ(contents(a) + "eA==", contents(b));
    MemFile c; // 62 rounds up to 64
    EXPECT_EQ(68, encodeBase64ToStream(data49.data(), 49, &c, 62));
    EXPECT_EQ(contents(b), contents(c));
    MemFile d;
    EXPECT_EQ(68, encodeBase64ToStream(data49.data(), 49, &d, 0));
    EXPECT_EQ(68, d.length());
    MemFile e;
    EXPECT_EQ(4, encodeBase64ToStream("abc", 0xFFFFFFFFu, &e, 64));
    EXPECT_EQ("YWJj", contents(e));
}

TEST(Base64Stream, AgainstCoreutils)
{
    for (int n : sizes) {
        std::string data = readFixture("rand_" + std::to_string(n) + ".bin");
        std::string lines = withCrLf(readFixture("rand_" + std::to_string(n) + ".b64"));
        // coreutils ends the last line too; the stream encoder only ends full lines.
        std::string expected = lines;
        if (n % 48 != 0)
            expected.resize(expected.size() - 2);
        MemFile out;
        EXPECT_EQ(static_cast<int32_t>(withoutLineEnds(lines).size()),
                  encodeBase64ToStream(data.data(), static_cast<uint32_t>(n), &out, 64));
        EXPECT_EQ(expected, contents(out)) << n;

        MemFile decoded;
        std::string spaced = lines;
        for (size_t i = 10; i < spaced.size(); i += 37)
            spaced.insert(i, " ");
        EXPECT_EQ(n, decodeBase64Text(spaced.data(), static_cast<int32_t>(spaced.size()), &decoded, 0)) << n;
        EXPECT_EQ(data, contents(decoded)) << n;
    }
}

TEST(Base64Stream, DecodeTextFailures)
{
    MemFile out;
    EXPECT_EQ(0, decodeBase64Text("YWJ", -1, &out, 0));  // incomplete group
    EXPECT_EQ(0, decodeBase64Text("YW\tJj", -1, &out, 0)); // a tab is not skipped here
    EXPECT_EQ(0, decodeBase64Text("", 0, &out, 0));
    EXPECT_EQ(3, decodeBase64Text("Y W\r\nJj", -1, &out, 0));
}

TEST(Base64Codec, EncodeLinesOf64)
{
    std::string data(100, '\x5A');
    MemFile source(reinterpret_cast<uint8_t*>(&data[0]), 100, false);
    MemFile target;
    EncodeBase64 encoder;
    EXPECT_EQ(0, encoder.encode(&source, true, &target));
    std::string text = contents(target);
    ASSERT_EQ(136u + 6u, text.size());
    EXPECT_EQ("\r\n", text.substr(64, 2));
    EXPECT_EQ("\r\n", text.substr(130, 2));
    EXPECT_EQ("\r\n", text.substr(140, 2));

    // Without final, bytes short of a block wait for the next call.
    MemFile again(reinterpret_cast<uint8_t*>(&data[0]), 100, false), empty, target2;
    EncodeBase64 encoder2;
    EXPECT_EQ(0, encoder2.encode(&again, false, &target2));
    EXPECT_EQ(0, target2.length());
    EXPECT_EQ(0, encoder2.encode(&empty, true, &target2));
    EXPECT_EQ(text, contents(target2));
}

TEST(Base64Codec, AgainstCoreutilsWithShortReads)
{
    for (int n : sizes) {
        std::string data = readFixture("rand_" + std::to_string(n) + ".bin");
        std::string expected = withCrLf(readFixture("rand_" + std::to_string(n) + ".b64"));
        for (uint32_t step : {1u, 7u, 200u}) {
            // Short reads must not put padding in the middle of the text.
            TrickleFile source(data, step);
            MemFile target;
            EncodeBase64 encoder;
            ASSERT_EQ(0, encoder.encode(&source, true, &target));
            EXPECT_EQ(expected, contents(target)) << n << " step " << step;

            TrickleFile textSource(expected, step);
            MemFile decoded;
            DecodeBase64 decoder;
            ASSERT_EQ(0, decoder.decode(&textSource, false, &decoded));
            ASSERT_EQ(0, decoder.decode(&textSource, true, &decoded));
            EXPECT_EQ(data, contents(decoded)) << n << " step " << step;
        }
    }
}

TEST(Base64Codec, DecodeRules)
{
    std::string blank = "YW Jj", tab = "YW\tJj", cut = "YWJjZ";
    MemFile a(reinterpret_cast<uint8_t*>(&blank[0]), 5, false), out;
    DecodeBase64 d1;
    EXPECT_EQ(107, d1.decode(&a, true, &out));
    MemFile b(reinterpret_cast<uint8_t*>(&tab[0]), 5, false), out2;
    DecodeBase64 d2;
    EXPECT_EQ(0, d2.decode(&b, true, &out2));
    EXPECT_EQ("abc", contents(out2));
    MemFile c(reinterpret_cast<uint8_t*>(&cut[0]), 5, false), out3;
    DecodeBase64 d3;
    EXPECT_EQ(107, d3.decode(&c, true, &out3));
}

TEST(Base64File, ReadInSmallPieces)
{
    std::string text = "YWJj\r\nZGVm";
    MemFile source(reinterpret_cast<uint8_t*>(&text[0]), static_cast<int32_t>(text.size()), false);
    Base64File view(&source, 64, 0);
    std::string got;
    for (int i = 0; i < 3; ++i) {
        uint8_t two[2];
        uint32_t n = 0;
        ASSERT_EQ(0, view.read(2, two, &n));
        ASSERT_EQ(2u, n);
        got.append(reinterpret_cast<char*>(two), 2);
    }
    EXPECT_EQ("abcdef", got);
    uint8_t more[4];
    uint32_t n = 9;
    EXPECT_EQ(0, view.read(4, more, &n));
    EXPECT_EQ(0u, n);
}

TEST(Base64File, SizeThenReadFromTheStart)
{
    std::string text = "YWJjZA==";
    MemFile source(reinterpret_cast<uint8_t*>(&text[0]), 8, false);
    Base64File view(&source, 64, 0);
    EXPECT_EQ(4u, view.size());
    uint8_t out[8];
    uint32_t n = 0;
    ASSERT_EQ(0, view.read(8, out, &n));
    EXPECT_EQ(4u, n);
    EXPECT_EQ(0, std::memcmp("abcd", out, 4));
    EXPECT_EQ(0, view.seek(1));
    ASSERT_EQ(0, view.read(8, out, &n));
    EXPECT_EQ(3u, n);
    EXPECT_EQ(-1, view.seek(5));
}

TEST(Base64File, CharLimitAndBadText)
{
    std::string pem = "YWJjZGVm-----END";
    MemFile source(reinterpret_cast<uint8_t*>(&pem[0]), static_cast<int32_t>(pem.size()), false);
    Base64File view(&source, 64, 8);
    uint8_t out[16];
    uint32_t n = 0;
    ASSERT_EQ(0, view.read(16, out, &n));
    EXPECT_EQ(6u, n);
    EXPECT_EQ(8u, source.tell());

    std::string bad = "YWJjZ";
    MemFile badSource(reinterpret_cast<uint8_t*>(&bad[0]), 5, false);
    Base64File badView(&badSource, 64, 0);
    EXPECT_EQ(-1, badView.read(16, out, &n));
    ASSERT_EQ(0, badSource.seek(0));
    EXPECT_EQ(0xFFFFFFFFu, Base64File(&badSource, 64, 0).size());
}

TEST(Base64File, ReadAgainstCoreutils)
{
    for (int n : {1, 2, 49, 100, 1000, 5000, 10001}) {
        std::string data = readFixture("rand_" + std::to_string(n) + ".bin");
        std::string text = readFixture("rand_" + std::to_string(n) + ".b64");
        for (uint32_t piece : {1u, 2u, 5u, 3000u}) {
            MemFile source(reinterpret_cast<uint8_t*>(&text[0]), static_cast<int32_t>(text.size()), false);
            Base64File view(&source, 64, 0);
            EXPECT_EQ(static_cast<uint32_t>(n), view.size());
            std::string got;
            std::vector<uint8_t> buffer(piece);
            for (;;) {
                uint32_t count = 0;
                ASSERT_EQ(0, view.read(piece, buffer.data(), &count));
                if (count == 0)
                    break;
                got.append(reinterpret_cast<char*>(buffer.data()), count);
            }
            EXPECT_EQ(data, got) << n << " piece " << piece;
            EXPECT_EQ(static_cast<uint32_t>(n), view.tell());
        }
    }
}

TEST(Base64File, WriteAgainstCoreutils)
{
    for (int n : sizes) {
        std::string data = readFixture("rand_" + std::to_string(n) + ".bin");
        std::string expected = withCrLf(readFixture("rand_" + std::to_string(n) + ".b64"));
        if (n % 48 != 0)
            expected.resize(expected.size() - 2); // the last, short line has no break
        for (uint32_t piece : {1u, 2u, 4u, 47u, 1000u}) {
            MemFile target;
            {
                Base64File view(&target, 64, 0);
                for (size_t i = 0; i < data.size(); i += piece) {
                    uint32_t len = static_cast<uint32_t>(std::min<size_t>(piece, data.size() - i));
                    ASSERT_EQ(0, view.write(len, bytesOf(data) + i));
                }
            }
            EXPECT_EQ(expected, contents(target)) << n << " piece " << piece;
        }
    }
}

TEST(Base64File, WriteWithoutLineBreaks)
{
    std::string data(100, 'q');
    MemFile target;
    {
        Base64File view(&target, 0, 0);
        ASSERT_EQ(0, view.write(50, bytesOf(data)));
        ASSERT_EQ(0, view.write(50, bytesOf(data)));
    }
    std::string text = contents(target);
    EXPECT_EQ(136u, text.size());
    EXPECT_EQ(std::string::npos, text.find('\r'));
}

TEST(Base64File, ReadingViewWritesNothingBack)
{
    std::string text = "YWJjZGVm";
    MemFile source(reinterpret_cast<uint8_t*>(&text[0]), 8, false);
    {
        Base64File view(&source, 64, 0);
        uint8_t one;
        uint32_t n = 0;
        ASSERT_EQ(0, view.read(1, &one, &n)); // two decoded bytes stay pending
    }
    EXPECT_EQ("YWJjZGVm", text);
}

} // namespace
