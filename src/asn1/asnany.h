// ANY: a value of unfixed type kept as its tag and raw content.
#pragma once

#include "asn1/asnbase.h"

class ASNany : public ASNobject {
public:
    explicit ASNany(unsigned char t = TAG_ANY)
        : ASNobject(t), expectedTag(t), univTag(((t & 0xC0) || t == TAG_ANY) ? TAG_ANY : t), length(0),
          buf(nullptr)
    {
    }
    ASNany(const ASNany& other);
    ~ASNany() override { clear(); }
    // Throws std::bad_alloc "bad allocation" when the copy fails.
    ASNany& operator=(const ASNany& other);

    // Decoding with ASN_FLAG_CONST keeps a private copy of the received octets.
    int decode(GenericFile* in, int length, unsigned char flags) override;
    int setEncoding(unsigned char tag, const unsigned char* content, int n);
    int setContent(const unsigned char* content, int n);
    // Takes the tag and content of the object's encoding; throws std::bad_alloc on failure.
    void setObject(const ASNobject& object);
    const unsigned char* content() const;
    bool equals(const ASNany& other) const;

    void clear() override { releaseOwned(buf, length); }
    // A value read in place is emptied: its content lived in the octets let go.
    void releaseViews() override
    {
        if (flags & ASN_FLAG_CONST)
            clear();
        dropOwnView();
    }
    int decodeContent(GenericFile* in, int length) override;
    int encodeContent(GenericFile* out) const override;
    int contentLength() const override { return length; }
    int decodeIndefinite(GenericFile* in, int available) override;
    unsigned char universalTag() const override { return univTag; }
    void digestContent(LvHash* hash) const override;

    // The small fields together, before the pointer: 72 octets, not 80.
    unsigned char expectedTag;
    unsigned char univTag;
    int32_t length;
    unsigned char* buf; // owned content (null when empty or read in place)
};
