// BIT STRING, content kept as encoded (initial unused-bits octet included).
#pragma once

#include "asn1/asnbase.h"

class ASNbitstr : public ASNobject {
public:
    explicit ASNbitstr(unsigned char t = 3)
        : ASNobject((t & 0xC0) ? t : 3), length(0), memory(nullptr)
    {
    }
    ASNbitstr(const ASNbitstr& other);
    ~ASNbitstr() override { clear(); }
    ASNbitstr& operator=(const ASNbitstr& other) { copyFrom(other); return *this; }

    // unused must be 0..7 (0 when n = 0); 1, or 0 on bad arguments or allocation failure.
    int set(const unsigned char* bytes, int n, int unused);
    int resize(int bits);
    void setBit(int pos, int value);
    int getBit(int pos) const;
    int bitCount() const;
    void trimTrailingZeros();
    void copyFrom(const ASNbitstr& other);
    bool operator==(const ASNbitstr& other) const;
    // The content octets, initial octet first (null for an empty value).
    const unsigned char* data() const { return isConstView() ? viewContent(length) : memory; }
    // The data octets after the initial octet, and their count.
    const unsigned char* bits() const
    {
        const unsigned char* d = data();
        return (d && length > 1) ? d + 1 : nullptr;
    }
    int bitsLength() const { return length > 0 ? length - 1 : 0; }
    int unusedBits() const
    {
        const unsigned char* d = data();
        return (d && length > 0) ? d[0] : 0;
    }

    void clear() override { releaseOwned(memory, length); }
    // A value read in place is emptied: its content lived in the octets let go.
    void releaseViews() override
    {
        if (flags & ASN_FLAG_CONST)
            clear();
        dropOwnView();
    }
    int decodeContent(GenericFile* in, int length) override;
    int encodeContent(GenericFile* out) const override;
    int contentLength() const override { return length > 0 ? length : 1; }
    unsigned char universalTag() const override { return 3; }
    void digestContent(LvHash* hash) const override;

    int32_t length;         // content octets, initial octet included; 0 when empty
    unsigned char* memory;  // owned content, null when empty or read in place
};
