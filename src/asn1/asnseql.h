// SEQUENCE OF T (and [n] IMPLICIT SEQUENCE OF T): an ASN.1 value that is at
// the same time the owning typed list of its elements, kept in encoding order.
#pragma once

#include "asn1/asnbase.h"
#include "asn1/asncont.h"
#include "base/commonerror.h"
#include "base/typedptrlist.h"

#include <new>

template <class T>
class ASNsequenceList : public ASNsequenceF, public ASNelementList<T>
{
public:
    // A tag without class bits gives the universal SEQUENCE 0x30; a context,
    // application or private tag is kept (implicit tagging), constructed.
    explicit ASNsequenceList(unsigned char tag = 0) : ASNsequenceF(tag) {}
    ~ASNsequenceList() override { this->removeElements(); }

    ASNsequenceList(const ASNsequenceList&) = delete;
    ASNsequenceList& operator=(const ASNsequenceList&) = delete;

    // Removes every element; deletes them when the list owns them.
    void clear() override { this->removeElements(); }

    void releaseViews() override { this->releaseListViews(*this); }

    // Appends an element, which must carry its tag (an ANY still waiting for
    // one could not be written), at the tail: 1, or -2 when the list cannot
    // take it.
    int append(T* element)
    {
        if (!element)
            return EASN_MEM;
        checkInvariant(element->tag != TAG_ANY, "lib/libasn/asnseql", __LINE__, "i->tag != TAG_ANY");
        try {
            if (!this->AddTail(element))
                return EASN_MEM;
        } catch (const std::bad_alloc&) {
            return EASN_MEM;
        }
        return 1;
    }

    int decodeContent(GenericFile* in, int length) override
    {
        clear();
        return this->decodeElements(in, length, memberFlags());
    }

    int decodeIndefinite(GenericFile* in, int available) override
    {
        clear();
        ASNholdMeter meter;
        int consumed = 0;
        for (;;) {
            int p = atEndOfContents(in);
            if (p == 1)
                return asnSkipEndOfContents(in) == 1 ? 1 : 0;
            if (p != 0)
                return 0; // fewer than two octets left, or a stream error
            // Room is needed for one more element and the end-of-contents.
            if (available > 0 && int64_t(consumed) + 2 > available)
                return 0;
            T* element = this->appendNew();
            if (!element)
                return EASN_MEM;
            int r = element->decode(in, available > 0 ? available - consumed : available, memberFlags());
            if (r <= 0) {
                this->deleteTail();
                return r;
            }
            consumed += r;
            if (!meter.within(consumed))
                return EASN_MEM;
        }
    }

    int encodeContent(GenericFile* out) const override { return this->encodeElements(out); }
    int contentLength() const override { return this->elementsLength(); }
    void digestContent(LvHash* hash) const override { this->digestElements(hash); }

    // Replaces the elements by copies of the other list's elements (T's
    // copy assignment). Throws BadAllocation when an element cannot be made.
    ASNsequenceList& assign(const ASNsequenceList& other)
    {
        if (&other == this)
            return *this;
        clear();
        for (POSITION pos = other.GetHeadPosition(); pos;) {
            const T* source = other.GetNext(pos);
            if (!source)
                continue;
            T* copy = this->appendNew();
            if (!copy) {
                clear();
                throwBadAllocation();
            }
            *copy = *source;
        }
        return *this;
    }
};
