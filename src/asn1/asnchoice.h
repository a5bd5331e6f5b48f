// CHOICE base: a concrete choice lists its alternatives; the base picks,
// decodes, encodes, hashes and compares the chosen one. A choice built with a
// context, application or private tag is explicitly tagged: its own header
// (that tag, constructed) wraps the chosen alternative's whole encoding.
#pragma once

#include "asn1/asnbase.h"

class ASNchoice : public ASNobject {
public:
    explicit ASNchoice(unsigned char tag = 0);
    ASNchoice(const ASNchoice& other);

    // The alternatives in schema order, ending with null.
    virtual ASNobject* const* objectList() const = 0;
    // Feeds the choice's encoding (exactly what encode writes) to a running hash.
    virtual void updateChoiceDigest(LvHash* hash) const;

    void choose(ASNobject* object);
    // By index in objectList (as chooseByIndex).
    void choose(int index) { chooseByIndex(index); }
    void chooseByTag(unsigned char t);
    void chooseByIndex(int i);
    int chosenIndex() const;
    unsigned char chosenTag() const;
    bool equals(const ASNchoice& other) const;
    ASNchoice& operator=(const ASNchoice& other);
    bool isExplicit() const { return (flags & ASN_FLAG_EXPLICIT) != 0; }
    // Streaming decode of a choice without a tag of its own (called by
    // decodeStream): the first identifier octet picks the alternative, which
    // then streams its whole encoding. A SET OF whose elements are such
    // choices streams through it.
    int64_t decodeStreamUntagged(GenericFile* in, GenericFile* out);

    int decode(GenericFile* in, int length, unsigned char flags) override;
    int encode(GenericFile* out) const override;
    int digest(int hashId, unsigned char* digestBuff, int digestBuffLen) const override;
    int encodedLength() const override;
    int assignFromAny(const ASNany& anyObj) override;
    // Empties every alternative and chooses none; the views go first.
    void clear() override;
    // Walks every alternative, chosen or not.
    void releaseViews() override;
    int decodeContent(GenericFile* in, int length) override;
    int encodeContent(GenericFile* out) const override;
    int contentLength() const override;
    unsigned char universalTag() const override;
    void digestContent(LvHash* hash) const override;

    ASNobject* m_chosenObject;
};
