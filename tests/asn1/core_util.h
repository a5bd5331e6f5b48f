// Helpers shared by the ASN.1 core tests.
#pragma once

#include "asn1/asnbase.h"
#include "base/memfile.h"
#include "crypto/hash/lvhash.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Hexadecimal text (spaces allowed) to octets.
inline Bytes H(const char* hex)
{
    Bytes out;
    int hi = -1;
    for (const char* p = hex; *p; ++p) {
        int v;
        if (*p >= '0' && *p <= '9')
            v = *p - '0';
        else if (*p >= 'a' && *p <= 'f')
            v = *p - 'a' + 10;
        else if (*p >= 'A' && *p <= 'F')
            v = *p - 'A' + 10;
        else
            continue;
        if (hi < 0) {
            hi = v;
        } else {
            out.push_back(static_cast<uint8_t>(hi * 16 + v));
            hi = -1;
        }
    }
    return out;
}

// SEQUENCE { A, B } built on the structure base; its members are read in
// place with it and let go of their views with it.
template <class A, class B>
struct MemberPair : ASNsequenceF {
    A a;
    B b;
    int decodeContent(GenericFile* in, int n) override
    {
        int r1 = a.decode(in, n, memberFlags());
        if (r1 < 1)
            return r1;
        int r2 = b.decode(in, n - r1, memberFlags());
        if (r2 < 1)
            return r2;
        return r1 + r2 == n ? 1 : 0;
    }
    int encodeContent(GenericFile* out) const override
    {
        int r = a.encode(out);
        if (r < 1)
            return r;
        r = b.encode(out);
        return r < 1 ? r : 1;
    }
    int contentLength() const override { return a.encodedLength() + b.encodedLength(); }
    void digestContent(LvHash* h) const override
    {
        a.updateDigest(h);
        b.updateDigest(h);
    }
    void releaseViews() override
    {
        dropOwnView();
        releaseViewsOf({&a, &b});
    }
};

inline std::string hexOf(const uint8_t* p, size_t n)
{
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += d[p[i] >> 4];
        s += d[p[i] & 15];
    }
    return s;
}

inline std::string hexOf(const Bytes& b) { return hexOf(b.data(), b.size()); }

inline Bytes enc(const ASNobject& o)
{
    MemFile m;
    int r = o.encode(&m);
    if (r <= 0)
        return Bytes();
    return Bytes(m.data(), m.data() + m.length());
}

inline Bytes readData(const std::string& name)
{
    std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/asn1/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// The SHA-256 of each fixture, as python computed it.
inline std::map<std::string, std::string> fixtureDigests()
{
    std::map<std::string, std::string> m;
    std::ifstream f(std::string(TAL_TEST_DATA_DIR) + "/asn1/sha256.txt");
    std::string hash, name;
    while (f >> hash >> name)
        m[name] = hash;
    return m;
}

inline std::string sha256Of(const Bytes& b)
{
    std::unique_ptr<LvHash> h(lvHashCreateObject(3));
    h->init();
    if (!b.empty())
        h->step(b.data(), static_cast<unsigned>(b.size()));
    h->finish();
    uint8_t out[32];
    h->getHash(32, out);
    return hexOf(out, 32);
}

inline std::string digestOf(const ASNobject& o, int id = 3)
{
    uint8_t out[64];
    o.digest(id, out, sizeof out);
    return hexOf(out, id == 3 ? 32 : 20);
}

// Feeds `data` to decodeStream in pieces of the given sizes (cycled); the
// final result (or the first result that is neither more-input nor success).
inline int streamInPieces(ASNobject& o, const Bytes& data, const std::vector<size_t>& sizes,
                          GenericFile* out = nullptr)
{
    size_t pos = 0, k = 0;
    int r = EASN_MORE;
    while (pos < data.size()) {
        size_t n = sizes[k++ % sizes.size()];
        if (n == 0)
            n = 1;
        if (n > data.size() - pos)
            n = data.size() - pos;
        MemFile piece(const_cast<uint8_t*>(data.data() + pos), static_cast<int32_t>(n), false);
        r = o.decodeStream(&piece, out);
        pos += piece.tell();
        if (r != EASN_MORE)
            return r;
    }
    return r;
}

// A stream that is not a MemFile (forwards to one it owns).
class ForwardingFile : public GenericFile {
public:
    explicit ForwardingFile(const Bytes& b) : copy(b), m(copy.data(), static_cast<int32_t>(copy.size()), false) {}
    int32_t read(uint32_t n, uint8_t* buf, uint32_t* got) override { return m.read(n, buf, got); }
    int32_t write(uint32_t n, const uint8_t* buf) override { return m.write(n, buf); }
    int32_t seek(int32_t p) override { return m.seek(p); }
    uint32_t tell() override { return m.tell(); }
    uint32_t size() override { return m.size(); }

private:
    Bytes copy;
    MemFile m;
};
