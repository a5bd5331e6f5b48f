// Small element types and helpers shared by the container tests.
#pragma once

#include "asn1/asnbase.h"
#include "asn1/asnint.h"
#include "asn1/asnocstr.h"
#include "base/memfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

inline Bytes readData(const std::string& name)
{
    std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/asn1cont/" + name, std::ios::binary);
    EXPECT_TRUE(f.good()) << name;
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline Bytes hexBytes(const std::string& text)
{
    Bytes out;
    std::string digits;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return out;
}

// The complete encoding of an object, as encode writes it.
inline Bytes encoded(const ASNobject& o)
{
    MemFile m;
    int r = o.encode(&m);
    EXPECT_GT(r, 0);
    if (r <= 0)
        return Bytes();
    EXPECT_EQ(r, m.length());
    EXPECT_EQ(r, o.encodedLength());
    return Bytes(m.data(), m.data() + m.length());
}

inline int decodeAll(ASNobject& o, const Bytes& b, unsigned char flags = 0)
{
    return o.decodeBuffer(b.data(), static_cast<int>(b.size()), flags);
}

inline Bytes sha256Of(const ASNobject& o)
{
    Bytes d(32);
    EXPECT_EQ(1, o.digest(3, d.data(), 32));
    return d;
}

// Feeds `data` to decodeStream in pieces (cuts: piece sizes, the rest last;
// none: whole; one octet at a time when `cuts` holds a single 0).
inline int streamInPieces(ASNobject& o, const Bytes& data, std::vector<size_t> cuts, GenericFile* out = nullptr)
{
    if (cuts.size() == 1 && cuts[0] == 0)
        cuts.assign(data.size(), 1);
    MemFile in;
    size_t done = 0;
    int r = EASN_MORE;
    for (size_t i = 0; i <= cuts.size() && r == EASN_MORE; ++i) {
        size_t piece = std::min(i < cuts.size() ? cuts[i] : data.size(), data.size() - done);
        // Each call sees only the octets handed over so far.
        uint32_t pos = in.tell();
        in.seek(in.length());
        if (piece > 0)
            in.write(static_cast<uint32_t>(piece), data.data() + done);
        in.seek(static_cast<int32_t>(pos));
        done += piece;
        r = o.decodeStream(&in, out);
    }
    return r;
}

// Piece sizes for a split: 0 one octet at a time, otherwise random (1..97).
inline std::vector<size_t> splitFor(size_t total, unsigned seed)
{
    if (seed == 0)
        return {0};
    std::mt19937 gen(seed);
    std::vector<size_t> cuts;
    for (size_t done = 0; done < total; done += cuts.back())
        cuts.push_back(1 + gen() % 97);
    return cuts;
}

// SEQUENCE { INTEGER, OCTET STRING }: a small structure element. Its
// destructor notes its number in a log when one is given.
class Pair : public ASNsequenceF
{
public:
    Pair() : ASNsequenceF(0) {}
    Pair(uint32_t n, const char* text) : ASNsequenceF(0)
    {
        number.set(n);
        octets.set(reinterpret_cast<const unsigned char*>(text), static_cast<int>(std::string(text).size()));
    }
    ~Pair() override
    {
        if (log)
            log->push_back(static_cast<int>(number.toLong()));
    }
    Pair& operator=(const Pair& other)
    {
        number = other.number;
        octets = other.octets;
        return *this;
    }

    void clear() override
    {
        number.clear();
        octets.clear();
    }
    int decodeContent(GenericFile* in, int length) override
    {
        if (length < 4)
            return 0;
        int r = number.decode(in, length, memberFlags());
        if (r < 1)
            return r;
        if (length - r < 2)
            return 0;
        int r2 = octets.decode(in, length - r, memberFlags());
        if (r2 < 1)
            return r2;
        return r + r2 == length ? 1 : 0;
    }
    int encodeContent(GenericFile* out) const override
    {
        int r = number.encode(out);
        if (r < 1)
            return r;
        r = octets.encode(out);
        return r < 1 ? r : 1;
    }
    int contentLength() const override { return number.encodedLength() + octets.encodedLength(); }
    void digestContent(LvHash* hash) const override
    {
        number.updateDigest(hash);
        octets.updateDigest(hash);
    }

    ASNinteger number;
    ASNoctstr octets;
    std::vector<int>* log = nullptr;
};

// An element that claims content but cannot write it.
class Broken : public ASNobject
{
public:
    Broken() : ASNobject(4) {}
    int decodeContent(GenericFile*, int) override { return 0; }
    int encodeContent(GenericFile*) const override { return EASN_FILE; }
    int contentLength() const override { return 3; }
    unsigned char universalTag() const override { return 4; }
    void digestContent(LvHash*) const override {}
};
