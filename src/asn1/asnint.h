// INTEGER and ENUMERATED: big-endian two's-complement content held as a byte string.
#pragma once

#include "asn1/asnocstr.h"

class ASNinteger : public ASNoctstr {
public:
    explicit ASNinteger(unsigned char t = 2) : ASNoctstr((t & 0xC0) ? t : 2)
    {
        univTag = 2;
        flags &= ~ASN_FLAG_CONSTRUCTED;
    }
    ASNinteger(const ASNinteger& other);
    ASNinteger& operator=(const ASNinteger& other);

    // The content (leading zero octets skipped) as an unsigned number; five or
    // more significant octets throw std::overflow_error "ASNinteger overflow".
    uint32_t toLong() const;
    // Minimal DER content of an unsigned value.
    void set(uint32_t value);
    using ASNoctstr::set;
    // Unsigned big-endian magnitude: leading zeros dropped, 00 put in front of a high bit.
    int setBytes(const unsigned char* bytes, int n);
    int byteLength() const;
    // Significant octets as upper-case hexadecimal with a terminating zero; 1, or 0 when too small.
    int toHex(char* buffer, int size) const;

    // An INTEGER has at least one content octet: an empty content does not match.
    int decodeContent(GenericFile* in, int length) override;
    int streamDecodeStep(GenericFile* in, int64_t contentLength, GenericFile* out) override;
};

class ASNenum : public ASNinteger {
public:
    explicit ASNenum(unsigned char tag = 10);
};
