// Helpers shared by the ASN.1 container templates (SEQUENCE OF, SET OF, the
// explicit-tag wrapper and the content-info frame).
#pragma once

#include "asn1/asnbase.h"
#include "base/memfile.h"
#include "base/typedptrlist.h"

#include <cstdint>
#include <new>

// Node blocks of the element lists: PointerList's default of eight nodes,
// each block with a link node of its own.
constexpr int64_t ASN_LIST_BLOCK = 8;

// Hold budget charged for one more element of a list that holds `count`
// already: the object with its allocator header and, at every eighth, a new
// node block.
template <class T>
constexpr int64_t asnElementCost(int64_t count)
{
    return asnAllocCost(static_cast<int64_t>(sizeof(T))) +
           (count % ASN_LIST_BLOCK == 0
                ? asnAllocCost(static_cast<int64_t>(sizeof(PtrListNode)) * (ASN_LIST_BLOCK + 1))
                : 0);
}

// How a container makes a new element for decoding. The default is the
// element type's own default construction (its universal tag, members empty);
// an element type that needs arguments specialises this.
template <class T>
struct ASNelementFactory
{
    static T* create() { return new (std::nothrow) T(); }
};

// The element list of SEQUENCE OF and SET OF: the typed list with what both
// containers do with their elements in list order.
template <class T>
class ASNelementList : public TypedPointerList<T>
{
protected:
    // releaseViews of the list value `self` (this list): a list read in place
    // is emptied, its elements viewed the octets let go; otherwise each
    // element lets go of its views.
    void releaseListViews(ASNobject& self)
    {
        const bool wasView = (self.flags & ASN_FLAG_CONST) != 0;
        self.dropOwnView();
        if (wasView) {
            self.clear();
            return;
        }
        for (POSITION pos = this->GetHeadPosition(); pos;) {
            T* element = this->GetNext(pos);
            if (element)
                element->releaseViews();
        }
    }

    // Removes every element; deletes them when the list owns them.
    void removeElements()
    {
        if (this->owns)
            this->deleteAll();
        else
            this->RemoveAll();
    }

    // A new element for decoding, appended at the tail and charged to the
    // hold budget; null when it cannot be made. A std::bad_alloc of the
    // append leaves with the element deleted.
    T* appendNew()
    {
        T* element = ASNelementFactory<T>::create();
        if (!element)
            return nullptr;
        asnChargeHeld(asnElementCost<T>(this->GetCount()));
        try {
            this->AddTail(element);
        } catch (...) {
            delete element;
            throw;
        }
        return element;
    }

    // Reads exactly `length` octets as consecutive elements (each bounded by
    // what is left): 1, 0 when they do not fill the length exactly, or the
    // failing element's result (that element is dropped); -2 when the
    // elements would hold more than the hold budget allows for their octets.
    int decodeElements(GenericFile* in, int length, unsigned char flags)
    {
        ASNholdMeter meter;
        int taken = 0;
        while (taken < length) {
            T* element = appendNew();
            if (!element)
                return EASN_MEM;
            int r = element->decode(in, length - taken, flags);
            if (r < 1) {
                this->deleteTail();
                return r;
            }
            taken += r;
            if (!meter.within(taken))
                return EASN_MEM;
        }
        return taken == length ? 1 : 0;
    }

    // Every element's complete encoding in list order: 1 or the first failure.
    int encodeElements(GenericFile* out) const
    {
        for (POSITION pos = this->GetHeadPosition(); pos;) {
            const T* element = this->GetNext(pos);
            if (!element)
                continue;
            int r = element->encode(out);
            if (r < 1)
                return r;
        }
        return 1;
    }

    // The sum of the elements' encoded lengths; -1 when it cannot be told.
    int elementsLength() const
    {
        int64_t total = 0;
        for (POSITION pos = this->GetHeadPosition(); pos;) {
            const T* element = this->GetNext(pos);
            if (!element)
                continue;
            int n = element->encodedLength();
            if (n < 0)
                return -1;
            total += n;
            if (total > ASN_MAX_LENGTH)
                return -1;
        }
        return static_cast<int>(total);
    }

    void digestElements(LvHash* hash) const
    {
        for (POSITION pos = this->GetHeadPosition(); pos;) {
            const T* element = this->GetNext(pos);
            if (element)
                element->updateDigest(hash);
        }
    }
};

// A read view of another stream that never hands out more than `limit`
// octets. A streamed container gives it to its members so that a member can
// never read past the container's own definite content.
class ASNBoundedFile : public GenericFile
{
public:
    ASNBoundedFile(GenericFile* in, int64_t limit) : in(in), left(limit < 0 ? 0 : limit) {}

    int32_t read(uint32_t length, uint8_t* buffer, uint32_t* count) override;
    int32_t write(uint32_t length, const uint8_t* buffer) override;
    int32_t seek(int32_t position) override;
    uint32_t tell() override;
    uint32_t size() override;

    // Octets of the bound not yet read.
    int64_t remaining() const { return left; }

private:
    GenericFile* in;
    int64_t left;
};

// One encoded element of a SET OF being put into DER order.
struct ASNsortRecord
{
    void* element;
    const unsigned char* data;
    int32_t length;
};

// X.690 SET OF order of two encodings: compared octet by octet as unsigned
// values, the shorter one padded at its end with zero octets. Negative when a
// goes first, 0 when they compare equal, positive when b goes first.
int asnCompareEncodings(const unsigned char* a, int32_t lengthA, const unsigned char* b, int32_t lengthB);

// Sorts records into that order; records that compare equal keep their order.
void asnSortRecords(ASNsortRecord* records, int32_t count);

// Total octets a member takes when streamed with `expected` octets of
// innermost content: header and content, and the end-of-contents octets when
// the member has indefinite length.
int64_t asnStreamedTotal(const ASNobject& member, int64_t expected);
// sum + part for streamed lengths: -1 when either is -1 (no length can be
// announced) or the sum passes ASN_MAX_STREAM_LENGTH.
int64_t asnAddStreamed(int64_t sum, int64_t part);

// Fills a two-octet look-ahead from a stream that may run dry: 1 when both
// octets are held, EASN_MORE when the input has none left yet (what was read
// is kept), EASN_FILE on a read error.
int asnFillLookahead(GenericFile* in, unsigned char lookahead[2], int32_t* held);

// Reads the two end-of-contents octets the caller has just seen with
// atEndOfContents: 1, or -1 when the stream cannot move past them.
int asnSkipEndOfContents(GenericFile* in);
