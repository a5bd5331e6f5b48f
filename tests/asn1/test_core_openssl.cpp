// Real encodings made by the openssl command line (certificates, a CRL, CMS
// signed data in DER and streamed BER, OCSP and time-stamp messages): decoded
// through generic values, re-encoded byte for byte, hashed and streamed.
#include "asn1/asnany.h"
#include "asn1/asnocstr.h"
#include "asn1/core_util.h"

#include <gtest/gtest.h>

#include <random>

namespace {

const char* const DER_FILES[] = {"cert_rsa_ca.der", "cert_ec_leaf.der", "crl.der",   "cms_signed.der",
                                 "ocsp_req.der",    "ocsp_resp.der",    "ts_req.der", "ts_resp.der",
                                 "small.der"};

// A generic tree over the object model: constructed values hold their
// elements, primitive ones their octets.
struct Tree : ASNobject {
    Tree() : ASNobject(TAG_ANY) {}
    std::vector<std::unique_ptr<Tree>> kids;
    Bytes raw;

    unsigned char universalTag() const override { return TAG_ANY; }
    int decodeContent(GenericFile* in, int n) override
    {
        kids.clear();
        raw.clear();
        if (!(tag & 0x20)) {
            raw.resize(static_cast<size_t>(n));
            uint32_t got = 0;
            if (n > 0 && (in->read(static_cast<uint32_t>(n), raw.data(), &got) != 0 || got != static_cast<uint32_t>(n)))
                return 0;
            return 1;
        }
        int used = 0;
        while (used < n) {
            auto k = std::make_unique<Tree>();
            int r = k->decode(in, n - used, memberFlags());
            if (r < 1)
                return r;
            used += r;
            kids.push_back(std::move(k));
        }
        return used == n ? 1 : 0;
    }
    int decodeIndefinite(GenericFile* in, int available) override
    {
        kids.clear();
        int used = 0;
        for (;;) {
            int e = atEndOfContents(in);
            if (e < 0)
                return 0;
            if (e == 1)
                return in->seek(static_cast<int32_t>(in->tell() + 2)) == 0 ? 1 : 0;
            auto k = std::make_unique<Tree>();
            int r = k->decode(in, available - used, memberFlags());
            if (r < 1)
                return r;
            used += r;
            kids.push_back(std::move(k));
        }
    }
    int encodeContent(GenericFile* out) const override
    {
        if (!(tag & 0x20))
            return raw.empty() || out->write(static_cast<uint32_t>(raw.size()), raw.data()) == 0 ? 1 : -1;
        for (const auto& k : kids) {
            int r = k->encode(out);
            if (r < 1)
                return r;
        }
        return 1;
    }
    int contentLength() const override
    {
        if (!(tag & 0x20))
            return static_cast<int>(raw.size());
        int n = 0;
        for (const auto& k : kids)
            n += k->encodedLength();
        return n;
    }
    void digestContent(LvHash* h) const override
    {
        if (!(tag & 0x20)) {
            updateDigestBytes(raw.data(), static_cast<int64_t>(raw.size()), h);
            return;
        }
        for (const auto& k : kids)
            k->updateDigest(h);
    }
    // Turns a privately decoded BER tree into DER: definite lengths, and
    // constructed OCTET STRINGs flattened through ASNoctstr.
    void toDer()
    {
        flags &= ~ASN_FLAG_INDEFINITE;
        if (tag == 0x24) {
            MemFile m;
            ASNoctstr o;
            ASSERT_GT(encode(&m), 0);
            m.seek(0);
            ASSERT_GT(o.decode(&m, m.length(), 0), 0);
            raw.assign(o.data(), o.data() + o.length);
            kids.clear();
            tag = 0x04;
            return;
        }
        for (auto& k : kids)
            k->toDer();
    }
};

int dec(ASNobject& o, const Bytes& b, unsigned char f = 0)
{
    return o.decodeBuffer(b.data(), static_cast<int>(b.size()), f);
}

} // namespace

TEST(CoreOpenssl, DerRoundTripsAndDigests)
{
    auto digests = fixtureDigests();
    for (const char* name : DER_FILES) {
        SCOPED_TRACE(name);
        Bytes in = readData(name);
        ASSERT_GT(in.size(), 10u);
        ASSERT_EQ(sha256Of(in), digests[name]); // the hash itself agrees with python
        for (unsigned char f : {0, 1, 3}) {
            Tree t;
            ASSERT_EQ(dec(t, in, f), static_cast<int>(in.size()));
            EXPECT_EQ(enc(t), in);
            EXPECT_EQ(t.encodedLength(), static_cast<int>(in.size()));
            EXPECT_EQ(digestOf(t), digests[name]);
            ASNany a;
            ASSERT_EQ(dec(a, in, f), static_cast<int>(in.size()));
            EXPECT_EQ(enc(a), in);
            EXPECT_EQ(digestOf(a), digests[name]);
        }
    }
}

TEST(CoreOpenssl, StreamedLikeWhole)
{
    std::mt19937 rng(777);
    for (const char* name : DER_FILES) {
        SCOPED_TRACE(name);
        Bytes in = readData(name);
        ASNany whole;
        ASSERT_EQ(dec(whole, in), static_cast<int>(in.size()));
        std::vector<std::vector<size_t>> plans = {{1}};
        for (int i = 0; i < 5; ++i) {
            std::vector<size_t> p;
            for (int j = 0; j < 64; ++j)
                p.push_back(1 + rng() % 200);
            plans.push_back(p);
        }
        for (const auto& plan : plans) {
            ASNany a;
            ASSERT_EQ(streamInPieces(a, in, plan), static_cast<int>(in.size()));
            EXPECT_TRUE(a.equals(whole));
            EXPECT_EQ(enc(a), in);
        }
    }
}

TEST(CoreOpenssl, BerInputKeptExactlyOrTurnedIntoDer)
{
    auto digests = fixtureDigests();
    Bytes ber = readData("cms_signed_ber.der");
    Bytes der = readData("cms_signed_ber_as_der.bin");
    ASSERT_EQ(ber[1], 0x80); // really indefinite
    // Read in place: the very octets received, and their hash.
    Tree view;
    ASSERT_EQ(dec(view, ber, ASN_FLAG_CONST), static_cast<int>(ber.size()));
    EXPECT_EQ(enc(view), ber);
    EXPECT_EQ(view.encodedLength(), static_cast<int>(ber.size()));
    EXPECT_EQ(digestOf(view), digests["cms_signed_ber.der"]);
    ASNany anyView;
    ASSERT_EQ(dec(anyView, ber, ASN_FLAG_CONST), static_cast<int>(ber.size()));
    EXPECT_EQ(enc(anyView), ber);
    EXPECT_EQ(digestOf(anyView), digests["cms_signed_ber.der"]);
    // Decoded privately the indefinite forms are kept as well.
    Tree priv;
    ASSERT_EQ(dec(priv, ber), static_cast<int>(ber.size()));
    EXPECT_EQ(enc(priv), ber);
    ASNany anyPriv;
    ASSERT_EQ(dec(anyPriv, ber), static_cast<int>(ber.size()));
    EXPECT_EQ(enc(anyPriv), ber);
    // ...and can be written as DER, matching python's conversion.
    priv.toDer();
    EXPECT_EQ(enc(priv), der);
    EXPECT_EQ(digestOf(priv), digests["cms_signed_ber_as_der.bin"]);

    // The streamed content (a constructed OCTET STRING) through the streaming decoder.
    Tree* content = priv.kids.size() > 1 ? priv.kids[1].get() : nullptr;
    ASSERT_NE(content, nullptr);
    Tree* encap = view.kids[1]->kids[0]->kids[2]->kids[1]->kids[0].get();
    ASSERT_EQ(encap->tag, 0x24);
    Bytes octets = enc(*encap);
    ASSERT_EQ(octets[1], 0x80);
    for (size_t step : {1, 3, 1000}) {
        ASNoctstr o;
        ASSERT_EQ(streamInPieces(o, octets, {step}), static_cast<int>(octets.size()));
        ASSERT_EQ(o.length, 3000);
        EXPECT_EQ(std::string(o.data(), o.data() + o.length), std::string(3000, 'x'));
        ASNoctstr p;
        p.setStreamPassThrough(true);
        MemFile sink;
        ASSERT_EQ(streamInPieces(p, octets, {step}, &sink), static_cast<int>(octets.size()));
        EXPECT_EQ(sink.length(), 3000);
    }
}

TEST(CoreOpenssl, SignedPartHashesAsReceived)
{
    // The TBSCertificate of a certificate read in place hashes to the hash of
    // its own octets in the file (what the signature covers).
    Bytes cert = readData("cert_rsa_ca.der");
    Tree t;
    ASSERT_EQ(dec(t, cert, ASN_FLAG_CONST), static_cast<int>(cert.size()));
    const Tree& tbs = *t.kids[0];
    ASSERT_TRUE(tbs.isConstView());
    Bytes slice(cert.begin() + tbs.offset, cert.begin() + tbs.offset + tbs.receivedLength);
    EXPECT_EQ(slice[0], 0x30);
    EXPECT_EQ(digestOf(tbs), sha256Of(slice));
    EXPECT_EQ(enc(tbs), slice);
}
