// BOOLEAN and NULL.
#pragma once

#include "asn1/asnbase.h"

class ASNbool : public ASNobject {
public:
    explicit ASNbool(unsigned char tag = 1);
    ASNbool(const ASNbool& other);
    ASNbool& operator=(const ASNbool& other);

    void set(bool v);
    bool get() const { return value != 0; }
    bool equals(int v) const { return static_cast<signed char>(value) == v; }

    int decodeContent(GenericFile* in, int length) override;
    int encodeContent(GenericFile* out) const override;
    int contentLength() const override { return 1; }
    unsigned char universalTag() const override { return 1; }
    void digestContent(LvHash* hash) const override;

    unsigned char value;
};

class ASNnull : public ASNobject {
public:
    explicit ASNnull(unsigned char tag = 5);

    int decodeContent(GenericFile* in, int length) override;
    int encodeContent(GenericFile* out) const override;
    int contentLength() const override { return 0; }
    unsigned char universalTag() const override { return 5; }
    void digestContent(LvHash* hash) const override;
};
