// ASN.1 object model: the base of every ASN.1 value, the stream context base
// and the SEQUENCE / SET structure bases.
//
// Input is BER (definite, indefinite and non-minimal lengths accepted); output
// is DER-style definite lengths unless a value was read with indefinite length.
// A value read in place (ASN_FLAG_CONST) keeps the exact octets it was read
// from: it re-encodes, measures and hashes those octets unchanged.
#pragma once

#include "base/workaccount.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

class GenericFile;
class MemFile;
class LvHash;
class ASNany;
class ASNoctstr;

// Result codes of every decoding and encoding operation. A positive value is
// the number of octets consumed or written (content operations answer 1).
constexpr int EASN_FILE = -1;  // read or write error of the stream
constexpr int EASN_MEM = -2;   // allocation failure
constexpr int EASN_MORE = -3;  // streaming: call again with more input

// Tag value that fixes no tag: decoding takes whatever tag it reads.
constexpr unsigned char TAG_ANY = 255;

constexpr uint32_t ASN_FLAG_CONST = 1;              // read in place, must not change
constexpr uint32_t ASN_FLAG_COPY = 2;               // decode argument: keep a private copy
constexpr uint32_t ASN_FLAG_NONUNIVERSAL = 4;       // context/application/private tag expected
constexpr uint32_t ASN_FLAG_INDEFINITE = 8;         // own length octets are 0x80
constexpr uint32_t ASN_FLAG_OWNSOURCE = 16;         // the object deletes its source stream
constexpr uint32_t ASN_FLAG_CONSTRUCTED = 32;       // the type admits the constructed form
constexpr uint32_t ASN_FLAG_EXPLICIT = 64;          // wrapped in the outer tag explTag
constexpr uint32_t ASN_FLAG_OUTER_INDEFINITE = 128; // outer tag has indefinite length

// Nesting bound of every decoder (constructed strings, indefinite ANY, nested
// containers): deeper input does not match (0) instead of exhausting the stack.
constexpr int ASN_MAX_DEPTH = 64;

// Largest length any encoding may announce or reach.
constexpr int64_t ASN_MAX_LENGTH = 0x7FFFFFFF;
// Streamed values are never held whole, so their lengths and counts are 64-bit:
// a content of many gigabytes streams through. This bound keeps every sum of
// header, content and end-of-contents octets far from overflow.
constexpr int64_t ASN_MAX_STREAM_LENGTH = int64_t(1) << 56;

// The hold budget: what decoding keeps for the values it reads is charged, on
// the decoding thread, where it is allocated (objects made for list elements
// and string segments, content buffers, private copies of received octets);
// a structure that allocates anything more while it decodes charges it with
// asnChargeHeld too. Every decoder whose number of objects the input chooses (SEQUENCE OF, SET
// OF, constructed strings) meters its value as it goes: what the value holds
// so far, nested values included, must stay within ASN_HOLD_RATIO times the
// octets it has read plus ASN_HOLD_FREE, or the decode gives EASN_MEM. Real
// data costs well under that (a CRL of many entries some fifteen to
// twenty-five times its size); megabytes of empty elements or segments are
// refused instead of holding sixty to a hundred and forty times their size.
// Charging is a thread-local addition, so the hot path stays as fast; only
// differences of the counter mean anything. The allowance lets small values
// through whatever their shape: a chain of one-element lists or segments as
// deep as ASN_MAX_DEPTH (an object and a node block a level) stays within it.
constexpr int64_t ASN_HOLD_RATIO = 40;
constexpr int64_t ASN_HOLD_FREE = 16384;

// Octets charged on this thread so far.
inline int64_t& asnHeldCounter()
{
    static thread_local int64_t held = 0;
    return held;
}

// Charges memory a decoded value keeps, to the hold budget and to the memory
// side of the thread's work account (the document's): past that account's
// allowance the account is over, and the decode stops at its next value.
inline void asnChargeHeld(int64_t octets)
{
    asnHeldCounter() += octets;
    workChargeMemory(octets);
}

// Heap taken by an allocation of n octets, the allocator's header included.
constexpr int64_t asnAllocCost(int64_t n) { return n + 16; }

inline bool asnWithinHoldBudget(int64_t held, int64_t octetsRead)
{
    return held <= ASN_HOLD_RATIO * octetsRead + ASN_HOLD_FREE;
}

// Meters one value's decode: what was charged since it started. A streamed
// value carries the amount between its calls in `carried` (written back when
// the meter goes).
class ASNholdMeter {
public:
    ASNholdMeter() : start(asnHeldCounter()), carried(nullptr) {}
    explicit ASNholdMeter(int64_t* carried) : start(asnHeldCounter() - *carried), carried(carried) {}
    ~ASNholdMeter()
    {
        if (carried)
            *carried = held();
    }
    int64_t held() const { return asnHeldCounter() - start; }
    bool within(int64_t octetsRead) const { return asnWithinHoldBudget(held(), octetsRead); }

private:
    int64_t start;
    int64_t* carried;
    ASNholdMeter(const ASNholdMeter&) = delete;
    ASNholdMeter& operator=(const ASNholdMeter&) = delete;
};

// Progress of one resumable streaming decode or encode (base of every stream
// context). Derived contexts add their own fields.
class ASNStreamCtx {
public:
    ASNStreamCtx();
    virtual ~ASNStreamCtx();
    // Zeroes every field except the buffer (whose content is dropped); 0.
    virtual int reset();

    // The growable buffer of the base decode step, created on first use
    // (null when it cannot be allocated).
    MemFile* getBuffer();

    uint32_t reserved = 0;        // free for derived contexts; zeroed by reset
    int64_t contentSize = 0;      // content octets really consumed (indefinite content)
    int32_t decodeState = 0;      // progress word of the templates' decode steps
    int32_t encodeState = 0;      // progress word of the templates' encode steps
    int32_t eocCount = 0;         // zero octets of the closing pair already read (0..2)
    int64_t passed = 0;           // octets passed through or written by an encode step
    int32_t eocDone = 0;          // nonzero once the closing pair has been read
    MemFile* buffer = nullptr;    // owned; see getBuffer
    int64_t contentLen = 0;       // from the header: content length, -1 indefinite
    int32_t lengthOctets = 0;     // long-form length octets announced
    uint8_t contentDone = 0;      // the content step has finished
    uint8_t headerWritten = 0;    // encodeStream wrote the header
    uint8_t headerRead = 0;       // decodeStream read the header
    int32_t headerProgress = 0;   // 0 nothing, 1 identifier read, 2 + k long-form octets read
    int32_t headerSize = 0;       // octets of the header read or written
    int64_t contentConsumed = 0;  // content octets counted for the result
    uint64_t lengthAccum = 0;     // long-form length accumulated so far
    int64_t boundTaken = 0;       // octets taken so far under a bounded decodeStream
    int64_t taken = 0;            // content octets a wrapper's step has read so far
    int64_t held = 0;             // hold budget charged for the value over the calls so far

private:
    ASNStreamCtx(const ASNStreamCtx&) = delete;
    ASNStreamCtx& operator=(const ASNStreamCtx&) = delete;
};

// Abstract base of every ASN.1 value. A concrete type supplies its content
// operations and its universal tag; the base handles identifier and length
// octets, the explicit outer tag, values read in place, lengths, hashing and
// the streaming driver.
class ASNobject {
public:
    // Inline, with the destructor and the view helpers below: every structure
    // makes, walks and drops many members, and calls between units were a
    // large part of decoding a small value.
    explicit ASNobject(unsigned char t)
        : tag(t), flags(0), explTag(0), source(nullptr), offset(0), streamCtx(nullptr),
          contentOffset(0), receivedLength(0)
    {
        if ((t & 0xC0) || t == TAG_ANY)
            flags |= ASN_FLAG_NONUNIVERSAL;
        if (t & 0x20)
            flags |= ASN_FLAG_CONSTRUCTED;
    }
    // Copies tag, outer tag and the tagging flags; never the source or the
    // stream context (the copy holds no view).
    ASNobject(const ASNobject& other);
    ASNobject& operator=(const ASNobject& other);

    // ---- virtual operations, in slot order ----
    virtual ~ASNobject()
    {
        releaseSource();
        delete streamCtx;
    }
    // Reads one complete TLV (with the explicit outer tag when
    // ASN_FLAG_EXPLICIT). `length`: octets available from the current
    // position (below 2: no match); a negative length means "bounded only by
    // the stream" (a stream of unknown length). Of `flags`
    // only ASN_FLAG_CONST and ASN_FLAG_COPY are taken.
    virtual int decode(GenericFile* in, int length, unsigned char flags);
    virtual int encode(GenericFile* out) const;
    // Hash id 1 SHA-1, 2 SHA-224, 3 SHA-256, 4 SHA-384, 5 SHA-512,
    // 6 RIPEMD-128, 7 RIPEMD-160, 8 MD5. Returns 1.
    virtual int digest(int hashId, unsigned char* digestBuff, int digestBuffLen) const;
    virtual int encodedLength() const;
    virtual int assignFromAny(const ASNany& anyObj);
    virtual void clear();
    virtual void resetStreamCtx();
    virtual int64_t streamContentLength(int64_t expected) const;
    virtual int64_t lengthWithHeader(int64_t expected) const;
    virtual int decodeContent(GenericFile* in, int length) = 0;
    virtual int encodeContent(GenericFile* out) const = 0;
    virtual int contentLength() const = 0;
    virtual int decodeIndefinite(GenericFile* in, int available);
    virtual unsigned char universalTag() const = 0;
    virtual void digestContent(LvHash* hash) const;
    virtual void digestEndOfContents(LvHash* hash) const;
    virtual int createStreamCtx();
    virtual void freeStreamCtx();
    virtual int streamDecodeStep(GenericFile* in, int64_t contentLength, GenericFile* out);
    virtual int streamEncodeStep(GenericFile* in, int64_t length, bool last, GenericFile* out);
    // The content length a streamed structure announces when its innermost
    // streamed value has `expected` octets (the name the structures of the
    // signed and enveloped messages override); the base streamContentLength
    // answers with it, and it defaults to contentLength().
    virtual int64_t streamLength(int64_t expected) const;
    // Whether a streamed decode passes this value's content on (or streams
    // its members) instead of holding it whole: only such a value may
    // announce a length past ASN_MAX_LENGTH.
    virtual bool streamsThrough() const { return false; }
    // Lets go of every view of received octets this value and all it holds
    // keep (present or absent members, unchosen alternatives, elements): the
    // source goes (deleted when owned) with ASN_FLAG_CONST and ASN_FLAG_COPY.
    // A value whose content lived only in those octets is left empty; one
    // that holds its own fields (numbers, times) keeps them. Every decode
    // starts with it, so nothing outlives the octets an earlier decode read.
    virtual void releaseViews();

    // ---- tags ----
    unsigned char getTag() const;
    void setTag(unsigned char t);
    void makeExplicit();
    void makeImplicit();

    // ---- length and header arithmetic ----
    static int lengthFieldSize(int64_t n);
    // On entry *length holds the octets available, on return the length
    // read (-1 indefinite). Result: length-field size, 0 mismatch, -1 error.
    int readLength(GenericFile* in, int* length);
    // On entry *length holds the octets available, on return the content
    // length (-1 indefinite). Result: header size, 0 mismatch, -1 error.
    int readHeader(GenericFile* in, int* length);
    // n = -1 writes the indefinite form. Returns the octets written (<= 9).
    static int writeLength(unsigned char* buffer, int64_t n);
    int writeHeader(GenericFile* out, int64_t contentLength) const;

    // ---- convenience codecs ----
    // With CONST alone the value is a view of the caller's octets, which must
    // stay alive and unchanged while it is used; CONST | COPY keeps a private copy.
    int decodeBuffer(const unsigned char* data, int length, unsigned char flags = 0);
    int decodeVector(const std::vector<unsigned char>& bytes, unsigned char flags = 0);
    int decodeOctets(const ASNoctstr& octets, unsigned char flags = 0);
    int encodeToOctets(ASNoctstr& target) const;
    int encodeVector(std::vector<unsigned char>& bytes) const;
    // assignFromAny mapped: 1 success, 0 out of memory, -1 other failure.
    int decodeAny(const ASNany& anyObj);
    int convertFrom(const ASNobject& other, unsigned char flags = 0);

    // ---- hashing ----
    // Feeds the object's encoding (exactly what encode writes) to a running hash.
    void updateDigest(LvHash* hash) const;
    static void updateDigest(const ASNobject& object, LvHash* hash) { object.updateDigest(hash); }
    static void updateDigestBytes(const unsigned char* data, int64_t length, LvHash* hash);
    void digestHeader(LvHash* hash) const;

    // ---- end-of-contents ----
    // 1 when the next two octets are 00 00 (position restored), 0 otherwise,
    // -1 on a read, tell or seek error or when fewer than two octets remain.
    static int atEndOfContents(GenericFile* in);
    static int writeEndOfContents(GenericFile* out);
    static void freeWiped(unsigned char* buffer, size_t n);
    int readEndOfContents(GenericFile* in, int mode);

    // ---- streaming (resumable push decoding and encoding) ----
    int64_t decodeStream(GenericFile* in, GenericFile* out);
    // Variant for structure members: `length` bounds the whole value (over
    // all the calls) when positive, and the value never reads past it;
    // `flags` are the decode flags (values are always kept privately).
    int64_t decodeStream(GenericFile* in, int64_t length, unsigned char flags);
    int64_t decodeStreamBuffer(const unsigned char* data, int length, GenericFile* out);
    int64_t encodeStream(GenericFile* in, int64_t length, bool last, GenericFile* out);

    // ---- values read in place ----
    // True when the value is a view of received octets (ASN_FLAG_CONST with a source).
    bool isConstView() const { return (flags & ASN_FLAG_CONST) && source != nullptr; }
    // Address of octet `pos` of the kept source (null when there is none or
    // pos lies outside it).
    const unsigned char* sourceAt(int64_t pos) const;
    // The received encoding of a value read in place (null otherwise).
    const unsigned char* receivedEncoding() const;

    // Flags handed to members and elements when decoding: only ASN_FLAG_CONST
    // survives (a private copy has already been made by this object).
    unsigned char memberFlags() const { return static_cast<unsigned char>(flags & ASN_FLAG_CONST); }

    // ---- fields ----
    unsigned char tag;
    uint32_t flags;
    unsigned char explTag;
    MemFile* source;         // kept encoding of a value read in place (always a memory stream)
    int32_t offset;          // position of the first identifier octet in source
    ASNStreamCtx* streamCtx; // owned streaming state
    int32_t contentOffset;   // position of the first content octet in source (as received)
    int32_t receivedLength;  // octets of the received encoding (in place), else 0

    // Only this value's own view (releaseViews without the walk).
    void dropOwnView()
    {
        releaseSource();
        flags &= ~(ASN_FLAG_CONST | ASN_FLAG_COPY);
    }
    // releaseViews on each member (null entries skipped).
    static void releaseViewsOf(std::initializer_list<ASNobject*> members)
    {
        for (ASNobject* m : members)
            if (m)
                m->releaseViews();
    }

protected:
    // Drops the source (deleting it when owned) and the view bookkeeping.
    void releaseSource()
    {
        if ((flags & ASN_FLAG_OWNSOURCE) && source)
            deleteSource();
        source = nullptr;
        flags &= ~ASN_FLAG_OWNSOURCE;
        offset = 0;
        contentOffset = 0;
        receivedLength = 0;
    }
    // Deletes the owned source (MemFile is only declared here).
    void deleteSource();
    // Resumable header reader of the streaming decoder (own tag only).
    int streamReadHeader(GenericFile* in, int64_t* length);
    int streamReadLength(GenericFile* in, int64_t* length);
    // Octets the kept source really holds from `pos` on (0 when unknown).
    int64_t sourceAvailable(int64_t pos) const;
    // Shared by the decoders: reads n content octets into a new owned buffer
    // that grows only as data really arrives. 1, 0 short, -1 error, -2 memory.
    static int readOwned(GenericFile* in, int n, unsigned char** out);
    // Content of n octets: skipped (and checked to be in the kept source) for
    // a value read in place, *owned left null; else read into a new buffer.
    int readContent(GenericFile* in, int n, unsigned char** owned);
    // The n content octets of a value read in place (null when the kept
    // source does not hold them).
    const unsigned char* viewContent(int n) const;
    // Wipes and frees an owned content buffer; both fields end empty.
    static void releaseOwned(unsigned char*& buffer, int32_t& length)
    {
        if (buffer)
            freeWiped(buffer, static_cast<size_t>(length > 0 ? length : 0));
        buffer = nullptr;
        length = 0;
    }
    // Sets up a value read in place before its header is read: keeps `in` as
    // the source, or a private copy of exactly the value (then `in` and
    // `avail` are replaced by the copy). 1, or a result code.
    int prepareView(GenericFile*& in, int64_t& avail);
    // The real number of octets available from the current position of `in`,
    // bounded by `length` when not negative and by ASN_MAX_LENGTH.
    static int64_t availableIn(GenericFile* in, int length);

    int decodeBody(GenericFile* in, int64_t avail, int* headerSize);
};

// RAII nesting guard shared by every recursive decoder of this folder.
class ASNDepthGuard {
public:
    ASNDepthGuard();
    ~ASNDepthGuard();
    bool exceeded() const { return tooDeep; }
    static int current();
private:
    bool tooDeep;
    ASNDepthGuard(const ASNDepthGuard&) = delete;
    ASNDepthGuard& operator=(const ASNDepthGuard&) = delete;
};

// Base of every SEQUENCE structure: a tag without class bits becomes 0x30,
// a tag with class bits is kept (implicit tagging) with 0x20 added.
class ASNsequenceF : public ASNobject {
public:
    explicit ASNsequenceF(unsigned char t = 0)
        : ASNobject(static_cast<unsigned char>((t & 0xC0) ? (t | 0x20) : 0x30))
    {
        flags |= ASN_FLAG_CONSTRUCTED;
    }
    unsigned char universalTag() const override { return 0x30; }
};

// Base of every SET structure: as ASNsequenceF with 0x31.
class ASNsetF : public ASNobject {
public:
    explicit ASNsetF(unsigned char tag = 0);
    unsigned char universalTag() const override { return 0x31; }
};
