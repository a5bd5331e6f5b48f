// CHOICE { SEQUENCE OF ANY, [1] IMPLICIT OCTET STRING, INTEGER } without a tag
// of its own (as CertificateChoices and RecipientInfo are): shared by the
// review tests and the fuzz target.
#pragma once

#include "asn1/asnany.h"
#include "asn1/asnchoice.h"
#include "asn1/asnint.h"
#include "asn1/asnocstr.h"
#include "asn1/asnseql.h"

struct UntaggedChoice : ASNchoice {
    UntaggedChoice() : ASNchoice(0), oct(0x81) {}
    ASNsequenceList<ASNany> seq;
    ASNoctstr oct;
    ASNinteger num;
    mutable ASNobject* list[4];
    ASNobject* const* objectList() const override
    {
        list[0] = const_cast<ASNsequenceList<ASNany>*>(&seq);
        list[1] = const_cast<ASNoctstr*>(&oct);
        list[2] = const_cast<ASNinteger*>(&num);
        list[3] = nullptr;
        return list;
    }
};
