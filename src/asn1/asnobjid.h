// OBJECT IDENTIFIER: DER content octets, converted to and from dotted text.
#pragma once

#include "asn1/asnbase.h"

#include <string>

class ASNobjectId : public ASNobject {
public:
    explicit ASNobjectId(unsigned char t = 6)
        : ASNobject((t & 0xC0) ? t : 6), acceptLongArcs(0), borrowed(0), length(0), content(nullptr)
    {
    }
    // From dotted text; throws std::bad_alloc "bad allocation" when it does not convert.
    explicit ASNobjectId(const char* text);
    ASNobjectId(const ASNobjectId& other);
    ~ASNobjectId() override { clear(); }
    ASNobjectId& operator=(const ASNobjectId& other);

    // separators null: period, comma and space. 1, or 0 when the text does not convert.
    int set(const char* text, const char* separators = nullptr);
    // Text length; with buffer null the needed length; negative needed length when too small; 0 on bad content.
    int toText(char* buffer, int size, const char* separator = nullptr, bool terminate = true) const;
    bool toString(std::string& out, const char* separator = nullptr) const;
    bool equalsText(const char* text) const;
    bool operator==(const ASNobjectId& other) const;
    bool operator!=(const ASNobjectId& other) const { return !(*this == other); }
    // The content octets (inside the kept source for a value read in place).
    const unsigned char* data() const;

    // Text to DER content: the size (buffer null: only the size), 0 on bad text.
    static int textToDer(const char* text, const char* separators, unsigned char* buffer, int size);
    // DER content to text, as toText.
    static int derToText(const unsigned char* der, int length, char* buffer, int size, const char* separator,
                         bool terminate);

    // Refers to n octets of an OID's DER content in static storage, which lives and
    // stays unchanged as long as the program does, instead of a private copy: a
    // decoder that recognises a constant OID fills the value without an
    // allocation. Whatever changes the value next lets go of the reference.
    void referStatic(const unsigned char* der, int32_t n);
    void clear() override
    {
        if (borrowed) {
            content = nullptr;
            length = 0;
            borrowed = 0;
            return;
        }
        releaseOwned(content, length);
    }
    // A value read in place is emptied: its content lived in the octets let go.
    void releaseViews() override;
    int decodeContent(GenericFile* in, int length) override;
    int encodeContent(GenericFile* out) const override;
    int contentLength() const override { return length; }
    unsigned char universalTag() const override { return 6; }
    void digestContent(LvHash* hash) const override;

    // The small fields together, before the pointer: 72 octets, not 80.
    uint8_t acceptLongArcs;
    uint8_t borrowed;       // content is static storage (referStatic), not owned
    int32_t length;
    unsigned char* content; // owned DER content, null when empty or read in place

private:
    // Copies the other's content into this empty value (std::bad_alloc on failure).
    void copyContent(const ASNobjectId& other);
};
