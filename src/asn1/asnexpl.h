// [n] EXPLICIT T as an object of its own: the wrapper's TLV is the context tag
// (constructed) and its content is the complete encoding of the inner value,
// so a structure lists the wrapper as one member.
#pragma once

#include "asn1/asnany.h"
#include "asn1/asnbase.h"
#include "asn1/asncont.h"
#include "base/commonerror.h"
#include "base/memfile.h"


template <class T>
class ASNexpl : public ASNobject
{
public:
    // `tag` is the context tag (0xA0 for [0] ...); the constructed bit is
    // added. The inner value gets its type's default tag (TAG_ANY for ANY).
    explicit ASNexpl(unsigned char tag = 0xA0) : ASNobject(static_cast<unsigned char>(tag | 0x20)), inner()
    {
        flags |= ASN_FLAG_NONUNIVERSAL | ASN_FLAG_CONSTRUCTED;
    }

    ASNexpl(const ASNexpl& other) : ASNobject(other), inner(other.inner) {}

    // Copies the tag, the tagging flags and the inner value. The target must
    // not be a value read in place.
    ASNexpl& operator=(const ASNexpl& other)
    {
        // Reported with the line number its callers know this check by.
        checkInvariant(!(flags & ASN_FLAG_CONST), SRC, 62, "!( flags & ASN_FLAG_CONST )");
        if (this != &other) {
            ASNobject::operator=(other);
            inner = other.inner;
        }
        return *this;
    }

    // Sets the inner value from an ANY holding the inner value's complete
    // encoding (identifier, length and content): 1, or the decoder's result.
    int assignFromObject(const ASNany& value)
    {
        checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "!( flags & ASN_FLAG_CONST )");
        return inner.convertFrom(value, 0);
    }

    T& get() { return inner; }
    const T& get() const { return inner; }
    T* operator->() { return &inner; }
    const T* operator->() const { return &inner; }
    T& operator*() { return inner; }
    const T& operator*() const { return inner; }

    // ---- ASNobject operations ----

    // Re-reads the inner value from the content of an ANY (the any's own tag
    // is the wrapper's): 1 when the content is exactly one inner value.
    int assignFromAny(const ASNany& anyObj) override
    {
        checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "!( flags & ASN_FLAG_CONST )");
        int n = anyObj.contentLength();
        const unsigned char* content = anyObj.content();
        if (n < 2 || !content)
            return 0;
        MemFile stream(const_cast<unsigned char*>(content), n, false);
        int r = inner.decode(&stream, n, 0);
        if (r < 1)
            return r;
        return r == n ? 1 : 0;
    }

    void resetStreamCtx() override
    {
        ASNobject::resetStreamCtx();
        inner.resetStreamCtx();
    }

    void releaseViews() override
    {
        dropOwnView();
        inner.releaseViews();
    }

    // Empties the inner value (views let go first, so it can be set again);
    // the wrapper is written with a definite length again.
    void clear() override
    {
        releaseViews();
        flags &= ~(ASN_FLAG_INDEFINITE | ASN_FLAG_OUTER_INDEFINITE);
        inner.clear();
    }

    void freeStreamCtx() override
    {
        ASNobject::freeStreamCtx();
        inner.freeStreamCtx();
    }

    int decodeContent(GenericFile* in, int n) override
    {
        // An inner value takes at least two octets; a shorter content must
        // not let it read past the wrapper.
        if (n < 2)
            return 0;
        int r = inner.decode(in, n, memberFlags());
        if (r < 1)
            return r;
        return r == n ? 1 : 0;
    }

    int encodeContent(GenericFile* out) const override
    {
        int r = inner.encode(out);
        return r < 1 ? r : 1;
    }

    int contentLength() const override { return inner.encodedLength(); }

    int decodeIndefinite(GenericFile* in, int available) override
    {
        // Inside a wrapper of indefinite length the inner value is a view too.
        int r = inner.decode(in, available, memberFlags());
        if (r < 1)
            return r;
        if (available > 0 && int64_t(available) < int64_t(r) + 2)
            return 0;
        if (atEndOfContents(in) != 1)
            return 0;
        return asnSkipEndOfContents(in) == 1 ? 1 : 0;
    }

    unsigned char universalTag() const override { return TAG_ANY; }

    void digestContent(LvHash* hash) const override { inner.updateDigest(hash); }

    int streamDecodeStep(GenericFile* in, int64_t contentLength, GenericFile* out) override
    {
        checkInvariant(streamCtx != nullptr, SRC, __LINE__, "streamCtx != NULL");
        // decodeState: 1 once the inner value is complete; taken: octets
        // of a definite content read so far.
        ASNStreamCtx* c = streamCtx;
        if (c->decodeState != 0)
            return 0; // the inner value is already complete
        if (contentLength >= 0 && contentLength < 2)
            return 0;
        int64_t r;
        if (contentLength < 0) {
            r = inner.decodeStream(in, out);
        } else {
            // The inner value sees no octet beyond the wrapper's content.
            int64_t left = contentLength - c->taken;
            ASNBoundedFile bounded(in, left);
            r = inner.decodeStream(&bounded, out);
            c->taken += left - bounded.remaining();
            if (r == EASN_MORE && bounded.remaining() == 0)
                return 0;
        }
        if (r < 1)
            return static_cast<int>(r);
        c->decodeState = 1;
        c->contentSize = r;
        if (contentLength < 0)
            return 1;
        return r == contentLength ? 1 : 0;
    }

    int streamEncodeStep(GenericFile* in, int64_t length, bool last, GenericFile* out) override
    {
        checkInvariant(streamCtx != nullptr, SRC, __LINE__, "streamCtx != NULL");
        int64_t r = inner.encodeStream(in, length, last, out);
        if (r < 1)
            return static_cast<int>(r);
        streamCtx->passed += r;
        streamCtx->encodeState = 1;
        return 1;
    }

    // The header announces what will really be streamed.
    int64_t streamContentLength(int64_t expected) const override { return streamedContentLength(expected); }
    // The inner value bounds its own length.
    bool streamsThrough() const override { return true; }

    // The wrapper's content length when the innermost streamed value has
    // `expected` octets: the inner value with its header.
    virtual int64_t streamedContentLength(int64_t expected) const { return asnStreamedTotal(inner, expected); }

    T inner;

private:
    static constexpr const char* SRC = "lib/libasn/asnexpl";
};
