// UTCTime.
#include "asn1/asnutct.h"

#include "asn1/asnprivate.h"
#include "base/commonerror.h"

#include <cstdio>
#include <ctime>

namespace {
const char* const SRC = "asnutct";
}

ASNutct::ASNutct(unsigned char t)
    : ASNobject((t & 0xC0) ? t : 23), year(0), month(0), day(0), hour(0), minute(0), second(0), offsetHours(0),
      offsetMinutes(0), hasSeconds(1)
{
}

int ASNutct::set(int y, int mo, int d, int h, int mi, int s)
{
    checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "!( flags & ASN_FLAG_CONST )");
    if (y >= 0 && y < 100)
        y += y < 50 ? 2000 : 1900;
    // Two digits cannot carry any other year: it would read back as another century.
    if (y < 1950 || y > 2049)
        return 0;
    year = y;
    month = mo;
    day = d;
    hour = h;
    minute = mi;
    second = s;
    offsetHours = 0;
    offsetMinutes = 0;
    return 1;
}

void ASNutct::setNow()
{
    checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "!( flags & ASN_FLAG_CONST )");
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    set(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

int ASNutct::format(char* text) const
{
    int k = std::snprintf(text, 64, "%.2d%.2d%.2d%.2d%.2d", ((year % 100) + 100) % 100, month, day, hour, minute);
    if (k < 0 || k >= 64)
        return 0;
    if (hasSeconds || second != 0) {
        int w = std::snprintf(text + k, 64 - k, "%.2d", second);
        if (w < 0 || k + w >= 64)
            return 0;
        k += w;
    }
    return asnFormatZone(text, k, offsetHours, offsetMinutes);
}

int ASNutct::contentLength() const { return asnTextLength(*this); }

int ASNutct::encodeContent(GenericFile* out) const { return asnEncodeText(*this, out); }

void ASNutct::digestContent(LvHash* hash) const { asnDigestText(*this, hash); }

int ASNutct::decodeContent(GenericFile* in, int n)
{
    if (n < 11 || n > 17)
        return 0;
    char t[17];
    int r = asnReadFully(in, reinterpret_cast<uint8_t*>(t), static_cast<uint32_t>(n));
    if (r <= 0)
        return r;
    second = 0;
    offsetHours = offsetMinutes = 0;
    for (int i = 0; i < 10; ++i)
        if (!asnDigit(t[i]))
            return 0;
    int yy = asnTwoDigits(t);
    year = yy + (yy < 50 ? 2000 : 1900);
    month = asnTwoDigits(t + 2);
    day = asnTwoDigits(t + 4);
    hour = asnTwoDigits(t + 6);
    minute = asnTwoDigits(t + 8);
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59)
        return 0;
    hasSeconds = 0;
    char c = t[10];
    if (c == 'Z')
        return n == 11 ? 1 : 0;
    if (c == '+' || c == '-')
        return (n == 15 && asnReadZoneOffset(t + 11, c, &offsetHours, &offsetMinutes)) ? 1 : 0;
    if (n < 13)
        return 0;
    int s = asnTwoDigits(t + 10);
    if (s < 0 || s > 59)
        return 0;
    second = s;
    hasSeconds = 1;
    c = t[12];
    if (c == 'Z')
        return n == 13 ? 1 : 0;
    if (c == '+' || c == '-')
        return (n == 17 && asnReadZoneOffset(t + 13, c, &offsetHours, &offsetMinutes)) ? 1 : 0;
    return 0;
}
