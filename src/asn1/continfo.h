// CMS ContentInfo: SEQUENCE { contentType OBJECT IDENTIFIER,
// content [0] EXPLICIT T OPTIONAL } with a typed content. It streams: the
// content type first, then the content, piece by piece.
#pragma once

#include "asn1/asnbase.h"
#include "asn1/asncont.h"
#include "asn1/asnexpl.h"
#include "asn1/asnobjid.h"
#include "base/commonerror.h"

#include <new>

// Streaming state of a ContentInfo. The base decodeState is 0 while the
// content type arrives, 1 while looking for the end-of-contents or the
// content, 2 while the content arrives, 3 when done; encodeState counts the
// members written.
template <class T>
class ContentInfoStreamCtx : public ASNStreamCtx
{
public:
    int reset() override
    {
        typeSize = 0;
        innerSize = 0;
        lookaheadCount = 0;
        lookahead[0] = lookahead[1] = 0;
        taken = 0;
        return ASNStreamCtx::reset();
    }

    int32_t typeSize = 0;       // octets of the content type
    int64_t innerSize = 0;      // octets of the [0] content
    int32_t lookaheadCount = 0; // octets of lookahead held (0..2)
    unsigned char lookahead[2] = {0, 0};
    int64_t taken = 0;          // octets of a definite content read so far
};

template <class T>
class ContentInfo : public ASNsequenceF
{
public:
    // A tag without class bits gives SEQUENCE 0x30; with class bits the tag
    // plus the constructed bit.
    explicit ContentInfo(unsigned char tag = 0) : ASNsequenceF(tag), content(0xA0), contentPresent(0)
    {
        content.flags |= ASN_FLAG_NONUNIVERSAL | ASN_FLAG_CONSTRUCTED;
        flags |= ASN_FLAG_CONSTRUCTED;
    }

    ContentInfo(const ContentInfo&) = delete;

    // Member-wise copy: tag and flags, content type, the [0] wrapper with its
    // value, and the presence flag. A content read in place cannot be a target.
    ContentInfo& operator=(const ContentInfo& other)
    {
        if (this != &other) {
            content = other.content; // refuses a target read in place before anything changes
            ASNobject::operator=(other);
            contentType = other.contentType;
            contentPresent = other.contentPresent;
        }
        return *this;
    }

    // The typed content (inside the [0] wrapper).
    T& value() { return content.inner; }
    const T& value() const { return content.inner; }

    // ---- ASNobject operations ----

    int decodeContent(GenericFile* in, int n) override
    {
        contentPresent = 0;
        // The content type is mandatory: an emptier content must not let it
        // read past this value.
        if (n < 2)
            return 0;
        int r = contentType.decode(in, n, memberFlags());
        if (r < 1)
            return r;
        if (r >= n)
            return r == n ? 1 : 0;
        int r2 = content.decode(in, n - r, memberFlags());
        if (r2 < 1)
            return r2;
        contentPresent = 1;
        return int64_t(r) + r2 == n ? 1 : 0;
    }

    int decodeIndefinite(GenericFile* in, int available) override
    {
        contentPresent = 0;
        int r = contentType.decode(in, available, memberFlags());
        if (r < 1)
            return r;
        int64_t left = available > 0 ? int64_t(available) - r : -1;
        if (available > 0 && left < 2)
            return 0;
        int p = atEndOfContents(in);
        if (p < 0)
            return 0;
        if (p == 1)
            return asnSkipEndOfContents(in) == 1 ? 1 : 0;
        int r2 = content.decode(in, available > 0 ? static_cast<int>(left) : available, memberFlags());
        if (r2 < 1)
            return r2;
        contentPresent = 1;
        if (available > 0 && left - r2 < 2)
            return 0;
        if (atEndOfContents(in) != 1)
            return 0;
        return asnSkipEndOfContents(in) == 1 ? 1 : 0;
    }

    int encodeContent(GenericFile* out) const override
    {
        int r = contentType.encode(out);
        if (r < 1)
            return r;
        if (contentPresent) {
            r = content.encode(out);
            if (r < 1)
                return r;
        }
        return 1;
    }

    int contentLength() const override
    {
        int64_t n = contentType.encodedLength();
        if (contentPresent)
            n += content.encodedLength();
        return n > ASN_MAX_LENGTH ? -1 : static_cast<int>(n);
    }

    void digestContent(LvHash* hash) const override
    {
        contentType.updateDigest(hash);
        if (contentPresent)
            content.updateDigest(hash);
    }

    int createStreamCtx() override
    {
        if (streamCtx)
            return 1;
        streamCtx = new (std::nothrow) ContentInfoStreamCtx<T>();
        return streamCtx ? 1 : EASN_MEM;
    }

    void resetStreamCtx() override
    {
        ASNobject::resetStreamCtx();
        contentType.resetStreamCtx();
        content.resetStreamCtx();
    }

    void releaseViews() override
    {
        dropOwnView();
        releaseViewsOf({&contentType, &content});
    }

    void freeStreamCtx() override
    {
        ASNobject::freeStreamCtx();
        contentType.freeStreamCtx();
        content.freeStreamCtx();
    }

    int streamDecodeStep(GenericFile* in, int64_t contentLength, GenericFile* out) override
    {
        checkInvariant(streamCtx != nullptr, SRC, __LINE__, "streamCtx != NULL");
        auto* c = static_cast<ContentInfoStreamCtx<T>*>(streamCtx);
        // The content type is mandatory, so an empty content does not match.
        if (contentLength >= 0 && contentLength < 2)
            return 0;
        if (c->decodeState == 0) {
            contentPresent = 0;
            int64_t r = streamMember(contentType, in, contentLength, c, out);
            if (r < 1)
                return static_cast<int>(r);
            if (r > ASN_MAX_LENGTH)
                return 0;
            c->typeSize = static_cast<int32_t>(r);
            if (contentLength < 0) {
                c->decodeState = 1;
            } else if (r >= contentLength) {
                c->decodeState = 3;
                c->contentSize = r;
                return r == contentLength ? 1 : 0;
            } else {
                c->decodeState = 2;
            }
        }
        if (c->decodeState == 1) {
            int r = asnFillLookahead(in, c->lookahead, &c->lookaheadCount);
            if (r != 1)
                return r;
            if (c->lookahead[0] == 0 && c->lookahead[1] == 0) {
                c->eocCount = 2;
                c->contentSize = c->typeSize;
                c->decodeState = 3;
                return 1;
            }
            c->decodeState = 2;
            c->lookaheadCount = 0;
            const int64_t n = content.decodeStreamBuffer(c->lookahead, 2, out);
            if (n < 1 && n != EASN_MORE)
                return static_cast<int>(n);
            if (n >= 1)
                return finishContent(c, n, contentLength);
        }
        if (c->decodeState == 2) {
            int64_t r = streamMember(content, in, contentLength, c, out);
            if (r < 1)
                return static_cast<int>(r);
            return finishContent(c, r, contentLength);
        }
        return 0;
    }

    int streamEncodeStep(GenericFile* in, int64_t length, bool last, GenericFile* out) override
    {
        checkInvariant(streamCtx != nullptr, SRC, __LINE__, "streamCtx != NULL");
        ASNStreamCtx* c = streamCtx;
        if (c->encodeState == 0) {
            int64_t r = contentType.encodeStream(in, length, last, out);
            if (r < 1)
                return static_cast<int>(r);
            c->passed += r;
            c->encodeState = 1;
        } else if (c->encodeState != 1) {
            return 0;
        }
        if (contentPresent) {
            int64_t r = content.encodeStream(in, length, last, out);
            if (r < 1)
                return static_cast<int>(r);
            c->passed += r;
        }
        c->encodeState = 2;
        return 1;
    }

    // The header announces what will really be streamed.
    int64_t streamContentLength(int64_t expected) const override { return streamedContentLength(expected); }
    // The members bound their own lengths.
    bool streamsThrough() const override { return true; }

    // This value's content length when the innermost streamed value has
    // `expected` octets.
    virtual int64_t streamedContentLength(int64_t expected) const
    {
        int64_t n = asnStreamedTotal(contentType, expected);
        if (contentPresent)
            n = asnAddStreamed(n, asnStreamedTotal(content, expected));
        return n;
    }

    ASNobjectId contentType;
    ASNexpl<T> content;
    int32_t contentPresent; // the content member was decoded or is to be encoded

private:
    static constexpr const char* SRC = "lib/libfmt/libcms/continfo";

    // Feeds a member; with a definite length the member sees no octet beyond
    // this value's content.
    int64_t streamMember(ASNobject& member, GenericFile* in, int64_t contentLength, ContentInfoStreamCtx<T>* c,
                         GenericFile* out)
    {
        if (contentLength < 0)
            return member.decodeStream(in, out);
        int64_t left = contentLength - c->taken;
        ASNBoundedFile bounded(in, left);
        int64_t r = member.decodeStream(&bounded, out);
        c->taken += left - bounded.remaining();
        if (r == EASN_MORE && bounded.remaining() == 0)
            return 0;
        return r;
    }

    int finishContent(ContentInfoStreamCtx<T>* c, int64_t r, int64_t contentLength)
    {
        c->innerSize = r;
        c->decodeState = 3;
        contentPresent = 1;
        int64_t size = int64_t(c->typeSize) + r;
        c->contentSize = size;
        if (contentLength < 0)
            return 1;
        return size == contentLength ? 1 : 0;
    }
};
