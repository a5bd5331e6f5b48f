// GeneralizedTime.
#include "asn1/asngent.h"

#include "asn1/asnprivate.h"
#include "base/commonerror.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {
const char* const SRC = "asngent";
// Digits that fit the 32-bit `fraction`.
const int INT_FRACTION_DIGITS = 9;

int digitCount(int32_t v)
{
    int n = 1;
    while (v >= 10) {
        v /= 10;
        ++n;
    }
    return n;
}

// Compares two digit strings as fractions: the shorter one padded with zeros.
int compareFractionDigits(const char* a, int na, const char* b, int nb)
{
    int n = na > nb ? na : nb;
    for (int i = 0; i < n; ++i) {
        char ca = i < na ? a[i] : '0';
        char cb = i < nb ? b[i] : '0';
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return 0;
}
} // namespace

ASNgenTime::ASNgenTime(unsigned char t)
    : ASNobject((t & 0xC0) ? t : 24), year(0), month(0), day(0), hour(0), minute(0), second(0), fraction(0),
      fractionDigits(1), hasFraction(0), offsetHours(0), offsetMinutes(0), fractionText{}
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
        fractionText[0] = 0;
    } else {
        hasFraction = 0;
        fraction = 0;
        fractionDigits = 1;
        fractionText[0] = 0;
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
    char da[64], db[64];
    int na = a.fractionDigitsText(da);
    int nb = b.fractionDigitsText(db);
    return compareFractionDigits(da, na, db, nb);
}

bool ASNgenTime::operator<(const ASNgenTime& other) const { return compareTimes(*this, other) < 0; }

bool ASNgenTime::operator==(const ASNgenTime& other) const { return compareTimes(*this, other) == 0; }

int ASNgenTime::fractionDigitsText(char* digits) const
{
    if (!hasFraction)
        return 0;
    // The kept text counts while the integer fields still say what it says.
    int n = static_cast<int>(strnlen(fractionText, sizeof fractionText));
    if (n > 0 && n < static_cast<int>(sizeof fractionText)) {
        int head = n < INT_FRACTION_DIGITS ? n : INT_FRACTION_DIGITS;
        int32_t v = 0;
        for (int i = 0; i < head; ++i)
            v = v * 10 + (fractionText[i] - '0');
        if (fractionDigits == head && fraction == v) {
            std::memcpy(digits, fractionText, static_cast<size_t>(n) + 1);
            return n;
        }
    }
    int w = std::snprintf(digits, 64, "%0*ld", fractionDigits, static_cast<long>(fraction));
    return w < 0 || w >= 64 ? 0 : w;
}

int ASNgenTime::format(char* text) const
{
    int k = std::snprintf(text, 64, "%.4d%.2d%.2d%.2d%.2d%.2d", year, month, day, hour, minute, second);
    if (k < 0 || k >= 64)
        return 0;
    if (hasFraction) {
        char digits[64];
        int n = fractionDigitsText(digits);
        if (n == 0 || k + 1 + n >= 64)
            return 0;
        text[k++] = '.';
        std::memcpy(text + k, digits, static_cast<size_t>(n) + 1);
        k += n;
    }
    return asnFormatZone(text, k, offsetHours, offsetMinutes);
}

int ASNgenTime::contentLength() const { return asnTextLength(*this); }

int ASNgenTime::encodeContent(GenericFile* out) const { return asnEncodeText(*this, out); }

void ASNgenTime::digestContent(LvHash* hash) const { asnDigestText(*this, hash); }

int ASNgenTime::decodeContent(GenericFile* in, int n)
{
    // 14 digits, "." and up to 36 fraction digits, a five-character offset.
    if (n < 14 || n > 14 + 1 + ASN_GENTIME_MAX_FRACTION + 5)
        return 0;
    char t[14 + 1 + ASN_GENTIME_MAX_FRACTION + 5];
    int r = asnReadFully(in, reinterpret_cast<uint8_t*>(t), static_cast<uint32_t>(n));
    if (r <= 0)
        return r;
    offsetHours = offsetMinutes = 0;
    hasFraction = 0;
    fraction = 0;
    fractionDigits = 1;
    fractionText[0] = 0;
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
    char text[ASN_GENTIME_MAX_FRACTION + 1];
    while (i < n) {
        char c = t[i];
        if (c < '+' || c > 'Z')
            return 0;
        if (asnDigit(c)) {
            if (!dot)
                return 0;
            // Every digit is kept as text (more than can be kept: refused, it could
            // not be written back); the first nine also as a number.
            if (digits >= ASN_GENTIME_MAX_FRACTION)
                return 0;
            if (digits < INT_FRACTION_DIGITS)
                frac = frac * 10 + (c - '0');
            text[digits++] = c;
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
        fractionDigits = digits < INT_FRACTION_DIGITS ? digits : INT_FRACTION_DIGITS;
        std::memcpy(fractionText, text, static_cast<size_t>(digits));
        fractionText[digits] = 0;
    }
    return 1;
}
