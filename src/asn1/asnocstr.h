// OCTET STRING and the character-string types (one class, told apart by the
// universal tag), with the streaming of large contents.
#pragma once

#include "asn1/asnbase.h"
#include "base/typedptrlist.h"

class ASNoctstr;

// Stream context of an OCTET STRING: segments of a constructed value arrive
// one by one; with pass-through the content goes straight to the output.
class ASNOctStrStreamCtx : public ASNStreamCtx {
public:
    ASNOctStrStreamCtx();
    ~ASNOctStrStreamCtx() override;
    // Drops the segment in progress and restarts the counters.
    int reset() override;

    uint8_t passThrough = 0;     // copy content to the output instead of keeping it
    int64_t total = 0;           // content octets delivered so far (all segments)
    int64_t consumed = 0;        // octets of this value's content consumed so far
    ASNoctstr* segment = nullptr; // owned segment being decoded
    uint8_t betweenSegments = 1; // the next octet starts a segment or the end-of-contents
    int32_t zeroCount = 0;       // zero octets seen where a segment's identifier was expected
};

class ASNoctstr : public ASNobject {
public:
    // tag 0 means 4; a universal tag below 64 is kept as the reported universal tag.
    explicit ASNoctstr(unsigned char t = 0)
        : ASNobject(t == 0 ? 4 : t), length(0), buf(nullptr), ownsSegments(1),
          univTag(t == 0 ? 4 : (t < 64 ? static_cast<unsigned char>(t & 0x1F) : 4)), isSegment(0)
    {
        flags |= ASN_FLAG_CONSTRUCTED;
    }
    ASNoctstr(const ASNoctstr& other);
    ~ASNoctstr() override { clear(); }
    // Throws std::bad_alloc "bad allocation" when the copy cannot be made.
    ASNoctstr& operator=(const ASNoctstr& other);

    // The whole content (flattened for a constructed value); null when empty.
    const unsigned char* data() const
    {
        return (!isConstructed() && isConstView()) ? viewContent(length) : buf;
    }
    // Copy of n octets (n = 0 empties the value); 1, or 0 when allocation fails.
    int set(const unsigned char* bytes, int n);
    // Empties the value, makes it primitive and returns an uninitialised
    // buffer of n octets (null when n = 0 or allocation fails).
    unsigned char* allocate(int n);
    bool equals(const ASNoctstr& other) const;
    // -1, 0, 1: the longer value is greater, equal lengths compare bytewise.
    int compare(const ASNoctstr& other) const;
    int setStreamPassThrough(bool on);
    bool isStreamPassThrough() const;
    bool streamsThrough() const override { return isStreamPassThrough(); }
    bool isConstructed() const { return (tag & 0x20) != 0; }

    void clear() override
    {
        releaseOwned(buf, length);
        if (ownsSegments)
            segments.deleteAll();
        else
            segments.RemoveAll();
    }
    // A value read in place is emptied: its content lived in the octets let go.
    void releaseViews() override
    {
        if (flags & ASN_FLAG_CONST)
            clear();
        dropOwnView();
    }
    int64_t streamContentLength(int64_t expected) const override;
    int decodeContent(GenericFile* in, int length) override;
    int encodeContent(GenericFile* out) const override;
    int contentLength() const override;
    int decodeIndefinite(GenericFile* in, int available) override;
    unsigned char universalTag() const override { return univTag; }
    void digestContent(LvHash* hash) const override;
    int createStreamCtx() override;
    int streamDecodeStep(GenericFile* in, int64_t contentLength, GenericFile* out) override;
    int streamEncodeStep(GenericFile* in, int64_t length, bool last, GenericFile* out) override;

    // Content octets, flattened for a constructed value; a constructed
    // segment inside one keeps only its segments (0 here, no buffer): the
    // outermost value alone holds the flattened copy.
    int32_t length;
    unsigned char* buf;                   // owned content, null when empty or read in place
    TypedPointerList<ASNoctstr> segments; // segments of a constructed value
    uint8_t ownsSegments;
    unsigned char univTag;
    uint8_t isSegment;                    // a segment of a constructed value

protected:
    int appendSegment(GenericFile* in, int available, int64_t* used);
    // The segments of a constructed content of n octets, then the flattened copy.
    int decodeSegments(GenericFile* in, int n);
    int flatten();
    void copySegmentsFrom(const ASNoctstr& other);
};

class ASNUtf8String : public ASNoctstr {
public:
    explicit ASNUtf8String(unsigned char tag = 12);
};
