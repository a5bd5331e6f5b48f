// UTCTime as broken-down fields (two-digit years through the 1950..2049 window).
#pragma once

#include "asn1/asnbase.h"

class ASNutct : public ASNobject {
public:
    explicit ASNutct(unsigned char tag = 23);

    int set(int year, int month, int day, int hour, int minute, int second);
    void setNow();

    int decodeContent(GenericFile* in, int length) override;
    int encodeContent(GenericFile* out) const override;
    int contentLength() const override;
    unsigned char universalTag() const override { return 23; }
    void digestContent(LvHash* hash) const override;

    int32_t year, month, day, hour, minute, second;
    int32_t offsetHours, offsetMinutes;
    int32_t hasSeconds; // 1 after construction

    // The text form into a 64-character buffer: its length, 0 when it cannot be written.
    int format(char* text) const;
};
