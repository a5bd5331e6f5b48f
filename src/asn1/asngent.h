// GeneralizedTime as broken-down fields.
#pragma once

#include "asn1/asnbase.h"

// Fraction digits a GeneralizedTime keeps.
constexpr int ASN_GENTIME_MAX_FRACTION = 36;

class ASNgenTime : public ASNobject {
public:
    explicit ASNgenTime(unsigned char tag = 24);

    // A year below 100 goes through the window 50..99 -> 19xx, 0..49 -> 20xx;
    // fraction >= 0 with digits >= 1 makes a fraction present. UTC. 1.
    int set(int year, int month, int day, int hour, int minute, int second, int32_t fraction = -1,
            int digits = 0);
    void setNow();
    bool operator<(const ASNgenTime& other) const;
    bool operator==(const ASNgenTime& other) const;

    int decodeContent(GenericFile* in, int length) override;
    int encodeContent(GenericFile* out) const override;
    int contentLength() const override;
    unsigned char universalTag() const override { return 24; }
    void digestContent(LvHash* hash) const override;

    int32_t year, month, day, hour, minute, second;
    int32_t fraction;       // fractional seconds as an integer (its first nine digits at most)
    int32_t fractionDigits; // digits held in `fraction` (1 after construction)
    int32_t hasFraction;
    int32_t offsetHours;    // negative west of UTC
    int32_t offsetMinutes;  // same sign as the hours

    // Every fraction digit read (at most ASN_GENTIME_MAX_FRACTION), NUL-terminated, empty
    // when none; `fraction` and `fractionDigits` hold its first nine. Writing and comparing
    // use it while those two still agree with it, so a time re-encodes as received.
    char fractionText[37];

    // The fraction digits as written: fractionText, or `fraction` padded to `fractionDigits`.
    // The digit count; 0 without a fraction.
    int fractionDigitsText(char* digits /* 64 */) const;

    // The text form into a 64-character buffer: its length, 0 when it cannot be written.
    int format(char* text) const;
};
