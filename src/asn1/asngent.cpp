// GeneralizedTime.
#include "asn1/asngent.h"

#include "asn1/asnprivate.h"
#include "base/commonerror.h"

#include <cstdio>
#include <ctime>

namespace {
const char* const SRC = "asngent";
const int MAX_FRACTION_DIGITS = 9;

int digitCount(int32_t v)
{
    int n = 1;
    while (v >= 10) {
        v /= 10;
        ++n;
    }
    return n;
}

int64_t pow10(int n)
{
    int64_t r = 1;
    while (n-- > 0)
        r *= 10;
    return r;
}
} // namespace

ASNgenTime::ASNgenTime(unsigned char t)
    : ASNobject((t & 0xC0) ? t : 24), year(0), month(0), day(0), hour(0), minute(0), second(0), fraction(0),
      fractionDigits(1), hasFraction(0), offsetHours(0), offsetMinutes(0)
{
}

int ASNgenTime::set(int y, int mo, int d, int h, int mi, int s, int32_t frac, int digits)
{
    checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "!( flags & ASN_FLAG_CONST )");
    if (y >= 0 && y < 100)
        y += y < 50 ? 2000 : 1900;
    year = y;
    month = mo;
    day = d;
    hour = h;
    minute = mi;
    second = s;
    if (frac >= 0 && digits >= 1) {
        hasFraction = 1;
        fraction = frac;
        // The written text must agree with the length announced for it.
        int needed = digitCount(frac);
        fractionDigits = digits < needed ? needed : digits;
    } else {
        hasFraction = 0;
        fraction = 0;
        fractionDigits = 1;
    }
    offsetHours = 0;
    offsetMinutes = 0;
    return 1;
}

void ASNgenTime::setNow()
{
    checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "!( flags & ASN_FLAG_CONST )");
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    set(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, -1, 0);
}

static int compareTimes(const ASNgenTime& a, const ASNgenTime& b)
{
    const int32_t fa[] = {a.year, a.month, a.day, a.hour, a.minute, a.second};
    const int32_t fb[] = {b.year, b.month, b.day, b.hour, b.minute, b.second};
    for (int i = 0; i < 6; ++i)
        if (fa[i] != fb[i])
            return fa[i] < fb[i] ? -1 : 1;
    int da = a.hasFraction ? a.fractionDigits : 1;
    int db = b.hasFraction ? b.fractionDigits : 1;
    int64_t va = a.hasFraction ? a.fraction : 0;
    int64_t vb = b.hasFraction ? b.fraction : 0;
    if (da > 18 || db > 18)
        return 0;
    int d = da > db ? da : db;
    va *= pow10(d - da);
    vb *= pow10(d - db);
    return va < vb ? -1 : (va > vb ? 1 : 0);
}

bool ASNgenTime::operator<(const ASNgenTime& other) const { return compareTimes(*this, other) < 0; }

bool ASNgenTime::operator==(const ASNgenTime& other) const { return compareTimes(*this, other) == 0; }

int ASNgenTime::format(char* text) const
{
    int k = std::snprintf(text, 64, "%.4d%.2d%.2d%.2d%.2d%.2d", year, month, day, hour, minute, second);
    if (k < 0 || k >= 64)
        return 0;
    if (hasFraction) {
        int w = std::snprintf(text + k, 64 - k, ".%0*ld", fractionDigits, static_cast<long>(fraction));
        if (w < 0 || k + w >= 64)
            return 0;
        k += w;
    }
    return asnFormatZone(text, k, offsetHours, offsetMinutes);
}

int ASNgenTime::contentLength() const { return asnTextLength(*this); }

int ASNgenTime::encodeContent(GenericFile* out) const { return asnEncodeText(*this, out); }

void ASNgenTime::digestContent(LvHash* hash) const { asnDigestText(*this, hash); }

int ASNgenTime::decodeContent(GenericFile* in, int n)
{
    if (n < 14 || n > 50)
        return 0;
    char t[50];
    int r = asnReadFully(in, reinterpret_cast<uint8_t*>(t), static_cast<uint32_t>(n));
    if (r <= 0)
        return r;
    offsetHours = offsetMinutes = 0;
    hasFraction = 0;
    fraction = 0;
    fractionDigits = 1;
    for (int i = 0; i < 14; ++i)
        if (!asnDigit(t[i]))
            return 0;
    year = asnTwoDigits(t) * 100 + asnTwoDigits(t + 2);
    month = asnTwoDigits(t + 4);
    day = asnTwoDigits(t + 6);
    hour = asnTwoDigits(t + 8);
    minute = asnTwoDigits(t + 10);
    second = asnTwoDigits(t + 12);
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59)
        return 0;
    if (n == 14)
        return 1;
    int i = 14;
    bool dot = false;
    int digits = 0;
    int32_t frac = 0;
    while (i < n) {
        char c = t[i];
        if (c < '+' || c > 'Z')
            return 0;
        if (asnDigit(c)) {
            if (!dot)
                return 0;
            // Precision beyond nanoseconds is dropped rather than overflowing.
            if (digits < MAX_FRACTION_DIGITS) {
                frac = frac * 10 + (c - '0');
                ++digits;
            }
            ++i;
            continue;
        }
        if (dot && digits == 0)
            return 0;
        if (c == '.') {
            if (dot || i == n - 1 || i != 14)
                return 0;
            dot = true;
            ++i;
            continue;
        }
        if (c == '+' || c == '-') {
            if (n - i != 5 || !asnReadZoneOffset(t + i + 1, c, &offsetHours, &offsetMinutes))
                return 0;
            break;
        }
        if (c == 'Z') {
            if (i != n - 1)
                return 0;
            break;
        }
        return 0;
    }
    if (dot) {
        if (digits == 0)
            return 0;
        hasFraction = 1;
        fraction = frac;
        fractionDigits = digits;
    }
    return 1;
}
