// Stream helpers shared by the ASN.1 units of this folder (not a public interface).
#pragma once

#include "asn1/asnbase.h"

#include <cstdint>

class GenericFile;
class MemFile;

// One octet: 1 read, 0 end of input, -1 stream error.
int asnReadByte(GenericFile* in, uint8_t* b);
// Exactly n octets: 1, 0 when fewer arrive, -1 on a stream error.
int asnReadFully(GenericFile* in, uint8_t* buf, uint32_t n);
// Writes n octets: 0, or -1 on a write error.
int asnWrite(GenericFile* out, const uint8_t* buf, int64_t n);
// Moves past n octets that must really be there: 1, or 0.
int asnSkip(GenericFile* in, int64_t n);
// Measures the TLV at the current position (nesting bounded); the stream is left after it.
int asnScanTLV(GenericFile* in, int64_t avail, int depth, int64_t* total);
// Copies the TLV at the current position into a new MemFile (positioned at
// 0), charged to the hold budget.
int asnCopyTLV(GenericFile* in, int64_t avail, MemFile** out, int64_t* total);

// Time texts (GeneralizedTime, UTCTime).
bool asnDigit(char c);
// Two decimal digits, or -1.
int asnTwoDigits(const char* p);
// Four offset digits after a sign: 1, or 0 when they are no valid offset.
int asnReadZoneOffset(const char* p, char sign, int32_t* hours, int32_t* minutes);
// Appends "Z" or the signed offset at text[k] (a 64-character buffer): the new length, 0 on overflow.
int asnFormatZone(char* text, int k, int32_t hours, int32_t minutes);
// Writes the n characters of a formatted text: 1, 0 when there is none, -1 on a write error.
int asnWriteText(GenericFile* out, const char* text, int n);

// The three text operations of a time type T (whose format writes its text).
template <class T>
int asnTextLength(const T& t)
{
    char text[64];
    return t.format(text);
}

template <class T>
int asnEncodeText(const T& t, GenericFile* out)
{
    char text[64];
    return asnWriteText(out, text, t.format(text));
}

template <class T>
void asnDigestText(const T& t, LvHash* hash)
{
    char text[64];
    ASNobject::updateDigestBytes(reinterpret_cast<const unsigned char*>(text), t.format(text), hash);
}

// At an element boundary of indefinite-length content: 1 when the
// end-of-contents octets follow (they are consumed), 2 when an element
// follows, 0 when neither fits in what is left (or the input ends).
int asnIndefiniteStep(GenericFile* in, int64_t available, int64_t used);
