// SET OF T: an ASN.1 value that is at the same time the owning typed list of
// its elements. A set read whole keeps its received order (so re-encoding and
// hashing reproduce the received octets) until it is changed; a set built,
// changed or read by the streaming decoder is written in DER SET OF order.
#pragma once

#include "asn1/asnbase.h"
#include "asn1/asncont.h"
#include "base/commonerror.h"
#include "base/memfile.h"
#include "base/typedptrlist.h"

#include <memory>
#include <new>

// Streaming state of a SET OF: the element being decoded and, between
// elements of an indefinite-length set, the octets peeked for the
// end-of-contents. The base field `reserved` is the element-boundary word
// (0: the next octets start an element or the end-of-contents).
template <class T>
class ASNsetListStreamCtx : public ASNStreamCtx
{
public:
    ~ASNsetListStreamCtx() override { delete current; }

    // Prepares the context for another value: the element in progress is
    // dropped and every progress field starts again.
    int reset() override
    {
        delete current;
        current = nullptr;
        lastResult = 0;
        consumed = 0;
        lookaheadCount = 0;
        lookahead[0] = lookahead[1] = 0;
        currentTaken = 0;
        return ASNStreamCtx::reset();
    }

    int32_t lastResult = 0;     // result of the last element step
    int64_t consumed = 0;       // content octets of the elements completed so far
    int32_t lookaheadCount = 0; // octets of lookahead held (0..2)
    unsigned char lookahead[2] = {0, 0};
    T* current = nullptr;       // element being decoded, owned; null between elements
    int64_t currentTaken = 0;   // octets the element in progress has read (definite sets)
};

template <class T>
class ASNsetList : public ASNsetF, public ASNelementList<T>
{
public:
    // A tag without class bits gives the universal SET 0x31; a context,
    // application or private tag is kept (implicit tagging), constructed: a
    // SET OF written with a primitive identifier could not be read back.
    explicit ASNsetList(unsigned char tag = 0) : ASNsetF(0), keepOrder(0)
    {
        if (tag & 0xC0) {
            this->tag = static_cast<unsigned char>(tag | 0x20);
            flags |= ASN_FLAG_NONUNIVERSAL;
        }
        flags |= ASN_FLAG_CONSTRUCTED;
    }
    ~ASNsetList() override { this->removeElements(); }

    ASNsetList(const ASNsetList&) = delete;
    ASNsetList& operator=(const ASNsetList&) = delete;

    // Appends an element (which must carry its tag) at the tail; the set is
    // then written in DER order. 1, or -2 when the list cannot take it. A set
    // read in place cannot grow: it would go on writing the octets received.
    int append(T* element)
    {
        checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "!( flags & ASN_FLAG_CONST )");
        if (!element)
            return EASN_MEM;
        checkInvariant(element->tag != TAG_ANY, SRC, __LINE__, "i->tag != TAG_ANY");
        try {
            this->AddTail(element);
        } catch (const std::bad_alloc&) {
            return EASN_MEM;
        }
        keepOrder = 0;
        return 1;
    }

    // A new element read from one complete encoding and appended (the set is
    // then written in DER order). Null when the octets are not exactly one
    // value of the element type or the element cannot be made or appended.
    T* addEncoded(const unsigned char* data, int length)
    {
        checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "!( flags & ASN_FLAG_CONST )");
        std::unique_ptr<T> element(ASNelementFactory<T>::create());
        if (!element || !data || length < 2)
            return nullptr;
        if (element->decodeBuffer(data, length, 0) != length)
            return nullptr;
        checkInvariant(element->tag != TAG_ANY, SRC, __LINE__, "i->tag != TAG_ANY");
        if (append(element.get()) != 1)
            return nullptr;
        return element.release();
    }

    // Writes the content in DER SET OF order: 1, -1 write error, -2 out of
    // memory, or the element's own result when a one-element set fails.
    int encodeSorted(GenericFile* out) const
    {
        int32_t n = this->GetCount();
        int total = contentLength();
        if (total < 0)
            return EASN_MEM;
        if (n == 0 || total == 0)
            return 1;
        if (n == 1) {
            const T* only = this->GetHead();
            int r = only ? only->encode(out) : 1;
            return r < 1 ? r : 1;
        }
        Sorted sorted;
        int r = sortEncodings(sorted, total);
        if (r != 1)
            return r;
        for (int32_t i = 0; i < sorted.count; ++i)
            if (out->write(static_cast<uint32_t>(sorted.records[i].length), sorted.records[i].data) != 0)
                return EASN_FILE;
        return 1;
    }

    // Reorders the list itself into DER SET OF order (the set is then
    // written in that order): 1, or -2 when memory runs out.
    int sortElements()
    {
        int32_t n = this->GetCount();
        int total = contentLength();
        if (total < 0)
            return EASN_MEM;
        if (n < 2 || total == 0)
            return 1;
        Sorted sorted;
        int r = sortEncodings(sorted, total);
        if (r != 1)
            return r;
        this->RemoveAll();
        int result = 1;
        for (int32_t i = 0; i < sorted.count; ++i) {
            T* element = static_cast<T*>(sorted.records[i].element);
            try {
                this->AddTail(element);
            } catch (const std::bad_alloc&) {
                // The elements not re-linked must not be lost.
                if (this->owns)
                    for (int32_t j = i; j < sorted.count; ++j)
                        delete static_cast<T*>(sorted.records[j].element);
                result = EASN_MEM;
                break;
            }
        }
        keepOrder = 0;
        return result;
    }

    // Same as sortElements: the elements themselves put into DER order.
    int encodeSorted() { return sortElements(); }

    bool isKeepingOrder() const { return keepOrder != 0; }

    // ---- ASNobject operations ----

    void clear() override
    {
        this->removeElements();
        keepOrder = 0;
    }

    void releaseViews() override { this->releaseListViews(*this); }

    int decodeContent(GenericFile* in, int length) override
    {
        clear();
        int r = this->decodeElements(in, length, memberFlags());
        // Received order is kept only for a value read completely.
        keepOrder = r == 1 ? 1 : 0;
        return r;
    }

    // A SET OF of indefinite length is read only by the streaming decoder.
    int decodeIndefinite(GenericFile*, int) override { return 0; }

    int encodeContent(GenericFile* out) const override
    {
        return keepOrder ? this->encodeElements(out) : encodeSorted(out);
    }

    // The same in either order.
    int contentLength() const override { return this->elementsLength(); }

    // Feeds the content in the order encode writes it. A content that cannot
    // be put into DER order throws: a digest over part of the set would be
    // taken for the digest of the whole.
    void digestContent(LvHash* hash) const override
    {
        if (keepOrder) {
            this->digestElements(hash);
            return;
        }
        MemFile sorted;
        int r = encodeSorted(&sorted);
        if (r == EASN_MEM)
            throwBadAllocation();
        checkInvariant(r == 1, SRC, __LINE__, "ret == 1");
        updateDigestBytes(sorted.data(), sorted.length(), hash);
    }

    int createStreamCtx() override
    {
        if (streamCtx)
            return 1;
        streamCtx = new (std::nothrow) ASNsetListStreamCtx<T>();
        return streamCtx ? 1 : EASN_MEM;
    }

    int streamDecodeStep(GenericFile* in, int64_t length, GenericFile* out) override
    {
        checkInvariant(streamCtx != nullptr, SRC, __LINE__, "streamCtx != NULL");
        auto* c = static_cast<ASNsetListStreamCtx<T>*>(streamCtx);
        if (c->decodeState == 0) {
            // The first step of a value: the elements of an earlier value go.
            clear();
            c->decodeState = 1;
            c->held = 0;
        }
        ASNholdMeter meter(&c->held);
        if (length == 0) {
            c->contentSize = 0;
            return 1;
        }
        for (;;) {
            if (!c->current) {
                c->current = ASNelementFactory<T>::create();
                if (!c->current)
                    return EASN_MEM;
            }
            int64_t r;
            if (length < 0) {
                if (c->reserved == 0) {
                    // Element boundary: two octets tell the end-of-contents
                    // from the start of the next element.
                    r = asnFillLookahead(in, c->lookahead, &c->lookaheadCount);
                    if (r != 1)
                        return static_cast<int>(r);
                    if (c->lookahead[0] == 0 && c->lookahead[1] == 0) {
                        delete c->current;
                        c->current = nullptr;
                        c->eocCount = 2;
                        c->contentSize = c->consumed;
                        return 1;
                    }
                    c->reserved = 1;
                    c->lookaheadCount = 0;
                    r = c->current->decodeStreamBuffer(c->lookahead, 2, out);
                    if (r < 1 && r != EASN_MORE)
                        return static_cast<int>(r);
                    if (r == EASN_MORE)
                        r = c->current->decodeStream(in, out);
                } else {
                    r = c->current->decodeStream(in, out);
                }
            } else {
                // Definite content: the element sees no octet beyond it.
                int64_t room = length - c->consumed;
                ASNBoundedFile bounded(in, room - c->currentTaken);
                r = c->current->decodeStream(&bounded, out);
                c->currentTaken += room - c->currentTaken - bounded.remaining();
                if (r == EASN_MORE) {
                    // An element announcing more than the set holds, or one
                    // still wanting octets after all of the set's, cannot match.
                    const ASNStreamCtx* e = c->current->streamCtx;
                    if (bounded.remaining() == 0 ||
                        (e && e->headerRead && e->contentLen >= 0 && int64_t(e->headerSize) + e->contentLen > room))
                        r = 0;
                }
            }
            if (r > 0 && int64_t(c->consumed) + r > ASN_MAX_LENGTH)
                r = 0;
            // Elements are held, so the whole-value bound applies to their sum.
            c->lastResult = static_cast<int32_t>(r);
            if (r < 1) {
                if (r == 0)
                    c->contentSize = c->consumed;
                return static_cast<int>(r);
            }
            T* element = c->current;
            c->current = nullptr;
            c->currentTaken = 0;
            checkInvariant(element->tag != TAG_ANY, SRC, __LINE__, "i->tag != TAG_ANY");
            // A complete element needs no stream state (its buffer held a
            // copy of the element's octets).
            element->freeStreamCtx();
            asnChargeHeld(asnElementCost<T>(this->GetCount()));
            try {
                this->AddTail(element);
            } catch (const std::bad_alloc&) {
                delete element;
                return EASN_MEM;
            }
            keepOrder = 0;
            c->consumed += r;
            if (!meter.within(c->consumed))
                return EASN_MEM;
            if (length < 0) {
                c->reserved = 0;
                continue;
            }
            if (c->consumed == length) {
                c->contentSize = c->consumed;
                return 1;
            }
            if (c->consumed > length) {
                c->contentSize = c->consumed;
                return 0;
            }
        }
    }

    // 1 when the list and the encoding are in received order (set by a whole
    // decode), 0 when the content is written in DER SET OF order.
    uint8_t keepOrder;

private:
    static constexpr const char* SRC = "lib/libasn/asnsetl";

    struct Sorted
    {
        unsigned char* buffer = nullptr;
        int total = 0;
        ASNsortRecord* records = nullptr;
        int32_t count = 0;
        ~Sorted()
        {
            freeWiped(buffer, static_cast<size_t>(total));
            delete[] records;
        }
    };

    // Encodes every element once into one buffer of `total` octets and sorts
    // records pointing into it: 1, or -2 when memory runs out.
    int sortEncodings(Sorted& sorted, int total) const
    {
        int32_t n = this->GetCount();
        sorted.buffer = new (std::nothrow) unsigned char[static_cast<size_t>(total)];
        sorted.records = new (std::nothrow) ASNsortRecord[static_cast<size_t>(n)];
        if (!sorted.buffer || !sorted.records)
            return EASN_MEM;
        sorted.total = total;
        int len = 0;
        for (POSITION pos = this->GetHeadPosition(); pos;) {
            T* element = this->GetNext(pos);
            if (!element)
                continue;
            MemFile part(sorted.buffer + len, total - len, false);
            int partlen = element->encode(&part);
            checkInvariant(partlen > 0, SRC, __LINE__, "partlen > 0");
            sorted.records[sorted.count].element = element;
            sorted.records[sorted.count].data = sorted.buffer + len;
            sorted.records[sorted.count].length = partlen;
            ++sorted.count;
            len += partlen;
        }
        checkInvariant(total == len, SRC, __LINE__, "totallen == len");
        asnSortRecords(sorted.records, sorted.count);
        return 1;
    }
};
