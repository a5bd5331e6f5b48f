// BOOLEAN and NULL.
#include "asn1/asnbool.h"

#include "asn1/asnprivate.h"
#include "base/commonerror.h"

namespace {
const char* const SRC = "asnbool";
}

ASNbool::ASNbool(unsigned char t) : ASNobject((t & 0xC0) ? t : 1), value(1) {}

ASNbool::ASNbool(const ASNbool& other) : ASNobject(other), value(other.value) {}

ASNbool& ASNbool::operator=(const ASNbool& other)
{
    checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "!( flags & ASN_FLAG_CONST )");
    value = other.value;
    return *this;
}

void ASNbool::set(bool v)
{
    checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "!( flags & ASN_FLAG_CONST )");
    value = v ? 0xFF : 0x00;
}

int ASNbool::decodeContent(GenericFile* in, int n)
{
    if (n != 1)
        return 0;
    uint8_t b;
    int r = asnReadByte(in, &b);
    if (r <= 0)
        return r;
    value = b;
    return 1;
}

int ASNbool::encodeContent(GenericFile* out) const
{
    return asnWrite(out, &value, 1) == 0 ? 1 : EASN_FILE;
}

void ASNbool::digestContent(LvHash* hash) const { updateDigestBytes(&value, 1, hash); }

ASNnull::ASNnull(unsigned char t) : ASNobject((t & 0xC0) ? t : 5) {}

int ASNnull::decodeContent(GenericFile*, int n) { return n == 0 ? 1 : 0; }

int ASNnull::encodeContent(GenericFile*) const { return 1; }

void ASNnull::digestContent(LvHash*) const {}
