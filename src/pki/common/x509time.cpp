// X509time: UTCTime and GeneralizedTime values.
#include "pki/common/x509time.h"

#include "asn1/asnany.h"
#include "asn1/asngent.h"
#include "base/commonerror.h"
#include "base/memfile.h"  // GenericFile
#include "platform/clock.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {
const char* const SRC = "libx509/x509time";
const int MAX_CONTENT = 128;
const int TEXT_BUFFER = 50;
const int MAX_FRACTION_DIGITS = 10;
const int64_t SECONDS_PER_DAY = 86400;

const int32_t DAYS_IN_MONTH[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
const int32_t DAYS_BEFORE_MONTH[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

bool isLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int32_t monthLength(int64_t y, int32_t m) {
  return m == 2 && isLeap(y) ? 29 : DAYS_IN_MONTH[m - 1];
}

int64_t floorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0 && ((a < 0) != (b < 0))) ? 1 : 0);
}

int64_t floorMod(int64_t a, int64_t b) { return a - floorDiv(a, b) * b; }

// Days from 1970-01-01 to the first of January of year y (proleptic Gregorian).
int64_t daysBeforeYear(int64_t y) {
  int64_t p = y - 1;
  return 365 * (y - 1970) + (floorDiv(p, 4) - floorDiv(p, 100) + floorDiv(p, 400)) - 477;
}

// Days since the epoch of a date whose month has been carried into 1..12 and
// whose day may lie outside the month (it simply counts on).
int64_t daysFromDate(int64_t y, int32_t m, int64_t d) {
  return daysBeforeYear(y) + DAYS_BEFORE_MONTH[m - 1] + (m > 2 && isLeap(y) ? 1 : 0) + d - 1;
}

void dateFromDays(int64_t days, int64_t& y, int32_t& m, int32_t& d) {
  // Civil-from-days over 400-year eras (all integer, any sign).
  int64_t z = days + 719468;
  int64_t era = floorDiv(z, 146097);
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int32_t>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int32_t>(mp < 10 ? mp + 3 : mp - 9);
  y = yoe + era * 400 + (m <= 2 ? 1 : 0);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Two decimal digits at t[i], or -1 when either is missing or no digit.
int pairAt(const char* t, size_t n, size_t i) {
  if (i > n || n - i < 2 || !isDigit(t[i]) || !isDigit(t[i + 1])) return -1;
  return (t[i] - '0') * 10 + (t[i + 1] - '0');
}

// "+hhmm" / "-hhmm" at t[i] that must end the text exactly.
bool zoneAt(const char* t, size_t n, size_t i, int32_t& hours, int32_t& minutes) {
  if (i >= n || n - i != 5 || (t[i] != '+' && t[i] != '-')) return false;
  int h = pairAt(t, n, i + 1), m = pairAt(t, n, i + 3);
  if (h < 0 || h > 23 || m < 0 || m > 59) return false;
  hours = t[i] == '-' ? -h : h;
  minutes = t[i] == '-' ? -m : m;
  return true;
}

int digitCount(uint64_t v) {
  int n = 1;
  while (v >= 10) {
    v /= 10;
    ++n;
  }
  return n;
}

uint64_t pow10u(int n) {
  uint64_t r = 1;
  while (n-- > 0) r *= 10;
  return r;
}

int sign(int64_t v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

// Local minus UTC at a UTC instant, from the time-zone database; 0 when the
// instant cannot be represented.
int64_t offsetAtInstant(int64_t t) {
  struct tm local {};
  if (!platform::toLocalTime(t, local)) return 0;
  int64_t d = platform::fromUtcTime(local) - t;
  return (d > SECONDS_PER_DAY || d < -SECONDS_PER_DAY) ? 0 : d;
}

// Local minus UTC for a local date and time given as seconds counted as if it
// were UTC. A time that occurs twice (clocks turned back) takes the earlier
// instant, a time skipped by the change the offset in force before it.
int64_t offsetForLocal(int64_t localSeconds) {
  // No zone is a whole day away from UTC, so these instants lie before and
  // after every instant this local time can mean.
  int64_t before = offsetAtInstant(localSeconds - SECONDS_PER_DAY);
  if (offsetAtInstant(localSeconds - before) == before) return before;
  int64_t after = offsetAtInstant(localSeconds + SECONDS_PER_DAY);
  if (offsetAtInstant(localSeconds - after) == after) return after;
  return before;
}

int64_t truncateToMinutes(int64_t s) { return s - s % 60; }

bool universalTimeTag(unsigned char t) { return t == TAG_UTCT_TIME || t == TAG_GENERAL_TIME; }
bool classBits(unsigned char t) { return (t & 0xC0) != 0; }

// The fields a parser fills; copied into the object only when the whole text matched.
struct Parsed {
  int32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  uint64_t fraction = 0;
  int32_t fractionDigits = 0;
  int32_t offsetHours = 0, offsetMinutes = 0;
  uint8_t secondsPresent = 1, fractionPresent = 0, isUtc = 1, hasOffset = 0;
};

bool dateExists(int32_t y, int mo, int d, int h, int mi, int s) {
  return mo >= 1 && mo <= 12 && d >= 1 && d <= monthLength(y, mo) && h >= 0 && h <= 23 && mi >= 0 &&
         mi <= 59 && s >= 0 && s <= 59;
}

bool parseUtcTime(const char* t, size_t n, Parsed& p) {
  if (n < 11 || n > 17) return false;
  int yy = pairAt(t, n, 0), mo = pairAt(t, n, 2), d = pairAt(t, n, 4), h = pairAt(t, n, 6),
      mi = pairAt(t, n, 8);
  if (yy < 0) return false;
  p.year = yy <= 49 ? 2000 + yy : 1900 + yy;
  size_t i = 10;
  int s = 0;
  p.secondsPresent = 0;
  if (isDigit(t[i])) {
    s = pairAt(t, n, i);
    if (s < 0) return false;
    p.secondsPresent = 1;
    i += 2;
  }
  if (!dateExists(p.year, mo, d, h, mi, s)) return false;
  p.month = mo;
  p.day = d;
  p.hour = h;
  p.minute = mi;
  p.second = s;
  if (i >= n) return false;
  if (t[i] == 'Z') {
    if (i != n - 1) return false;
    p.isUtc = 1;
    p.hasOffset = 0;
  } else {
    if (!zoneAt(t, n, i, p.offsetHours, p.offsetMinutes)) return false;
    p.isUtc = 0;
    p.hasOffset = 1;
  }
  return true;
}

// Up to ten fraction digits are kept exactly; a longer fraction fails rather
// than be cut (the value could not be written back as received, and two times
// apart only beyond the tenth digit would compare equal).
bool parseGeneralizedTime(const char* t, size_t n, Parsed& p) {
  if (n < 14) return false;
  int y1 = pairAt(t, n, 0), y2 = pairAt(t, n, 2);
  int mo = pairAt(t, n, 4), d = pairAt(t, n, 6), h = pairAt(t, n, 8), mi = pairAt(t, n, 10),
      s = pairAt(t, n, 12);
  if (y1 < 0 || y2 < 0) return false;
  p.year = y1 * 100 + y2;
  if (!dateExists(p.year, mo, d, h, mi, s)) return false;
  p.month = mo;
  p.day = d;
  p.hour = h;
  p.minute = mi;
  p.second = s;
  p.secondsPresent = 1;
  size_t i = 14;
  if (i < n && (t[i] == '.' || t[i] == ',')) {
    ++i;
    int count = 0;
    uint64_t value = 0;
    while (i < n && isDigit(t[i])) {
      if (count == MAX_FRACTION_DIGITS) return false;
      value = value * 10 + static_cast<uint64_t>(t[i] - '0');
      ++count;
      ++i;
    }
    if (count == 0) return false;
    p.fraction = value;
    p.fractionDigits = count;
    p.fractionPresent = 1;
  }
  if (i == n) {
    // No zone: local time.
    p.isUtc = 0;
    p.hasOffset = 0;
  } else if (t[i] == 'Z') {
    if (i != n - 1) return false;
    p.isUtc = 1;
    p.hasOffset = 0;
  } else {
    if (!zoneAt(t, n, i, p.offsetHours, p.offsetMinutes)) return false;
    p.isUtc = 0;
    p.hasOffset = 1;
  }
  return true;
}

void store(X509time& x, const Parsed& p) {
  x.year = p.year;
  x.month = p.month;
  x.day = p.day;
  x.hour = p.hour;
  x.minute = p.minute;
  x.second = p.second;
  x.fraction = p.fraction;
  x.fractionDigits = p.fractionDigits;
  x.offsetHours = p.offsetHours;
  x.offsetMinutes = p.offsetMinutes;
  x.secondsPresent = p.secondsPresent;
  x.fractionPresent = p.fractionPresent;
  x.isUtc = p.isUtc;
  x.hasOffset = p.hasOffset;
}

// The fields counted as seconds since the epoch as if they were UTC; any
// field may lie outside its range (it carries). Exact for every 32-bit field.
int64_t fieldSeconds(const X509time& x) {
  int64_t m0 = static_cast<int64_t>(x.month) - 1;
  int64_t y = static_cast<int64_t>(x.year) + floorDiv(m0, 12);
  int32_t m = static_cast<int32_t>(floorMod(m0, 12)) + 1;
  int64_t days = daysFromDate(y, m, x.day);
  return days * SECONDS_PER_DAY + static_cast<int64_t>(x.hour) * 3600 +
         static_cast<int64_t>(x.minute) * 60 + x.second;
}

// Sets the date and time fields from seconds counted as if UTC; false (and
// nothing changes) when the year leaves the 32-bit range.
bool setFieldSeconds(X509time& x, int64_t s) {
  int64_t days = floorDiv(s, SECONDS_PER_DAY);
  int64_t sod = s - days * SECONDS_PER_DAY;
  int64_t y;
  int32_t m, d;
  dateFromDays(days, y, m, d);
  if (y < INT32_MIN || y > INT32_MAX) return false;
  x.year = static_cast<int32_t>(y);
  x.month = m;
  x.day = d;
  x.hour = static_cast<int32_t>(sod / 3600);
  x.minute = static_cast<int32_t>(sod % 3600 / 60);
  x.second = static_cast<int32_t>(sod % 60);
  return true;
}

int64_t storedOffset(const X509time& x) {
  return (static_cast<int64_t>(x.offsetHours) * 60 + x.offsetMinutes) * 60;
}

// Offset in seconds in effect for the value (see zoneOffset), 64-bit.
int64_t offsetOf(const X509time& x) {
  if (x.isUtc) return 0;
  if (x.hasOffset) return storedOffset(x);
  return offsetForLocal(fieldSeconds(x));
}

int64_t instantOf(const X509time& x) { return fieldSeconds(x) - offsetOf(x); }

// Fraction as (value, digits) the way its text reads: the digit count is a
// minimum, a longer value prints all its digits.
void fractionOf(const X509time& x, uint64_t& value, int& digits) {
  value = 0;
  digits = 0;
  if (x.form() != TAG_GENERAL_TIME || (!x.fractionPresent && x.fraction == 0)) return;
  value = x.fraction;
  digits = x.fractionDigits;
  int need = digitCount(value);
  if (digits < need) digits = need;
  // Only fields set directly can claim more; 36 keeps the comparison's scaling in range.
  if (digits > 36) digits = 36;
}

// Whether the fields fit the text form of `form` so that it reads back to them.
bool writable(const X509time& x, int form) {
  if (form == TAG_GENERAL_TIME) {
    if (x.year < 0 || x.year > 9999) return false;
  } else if (x.year < 1950 || x.year > 2049) {
    return false;
  }
  if (!dateExists(x.year, x.month, x.day, x.hour, x.minute, x.second)) return false;
  if (form == TAG_GENERAL_TIME && (x.fractionPresent || x.fraction != 0)) {
    if (x.fractionDigits < 0 || x.fractionDigits > MAX_FRACTION_DIGITS ||
        x.fraction >= pow10u(MAX_FRACTION_DIGITS))
      return false;
  }
  if (x.isUtc) return true;
  if (!x.hasOffset) return form == TAG_GENERAL_TIME;
  int32_t h = x.offsetHours, m = x.offsetMinutes;
  if (h < -23 || h > 23 || m < -59 || m > 59) return false;
  return !((h < 0 && m > 0) || (h > 0 && m < 0));
}
}  // namespace

// ---------------------------------------------------------------------------
// construction

X509time::X509time(unsigned char t)
    : ASNobject(t == 0 ? TAG_UTCT_TIME : t),
      year(0),
      month(0),
      day(0),
      hour(0),
      minute(0),
      second(0),
      fraction(0),
      fractionDigits(0),
      offsetHours(0),
      offsetMinutes(0),
      secondsPresent(1),
      fractionPresent(0),
      isUtc(1),
      hasOffset(0),
      type(TAG_UTCT_TIME) {
  if (t == 0 || t > 63) return;
  checkInvariant(universalTimeTag(t), SRC, __LINE__,
                 "tag == TAG_UTCT_TIME || tag == TAG_GENERAL_TIME");
  type = t;
}

// Every field of the value and its form byte.
static void copyValue(X509time& d, const X509time& o) {
  d.year = o.year;
  d.month = o.month;
  d.day = o.day;
  d.hour = o.hour;
  d.minute = o.minute;
  d.second = o.second;
  d.fraction = o.fraction;
  d.fractionDigits = o.fractionDigits;
  d.offsetHours = o.offsetHours;
  d.offsetMinutes = o.offsetMinutes;
  d.secondsPresent = o.secondsPresent;
  d.fractionPresent = o.fractionPresent;
  d.isUtc = o.isUtc;
  d.hasOffset = o.hasOffset;
  d.type = o.type;
}

X509time::X509time(const X509time& o)
    : ASNobject(o),
      year(o.year),
      month(o.month),
      day(o.day),
      hour(o.hour),
      minute(o.minute),
      second(o.second),
      fraction(o.fraction),
      fractionDigits(o.fractionDigits),
      offsetHours(o.offsetHours),
      offsetMinutes(o.offsetMinutes),
      secondsPresent(o.secondsPresent),
      fractionPresent(o.fractionPresent),
      isUtc(o.isUtc),
      hasOffset(o.hasOffset),
      type(static_cast<uint8_t>(o.form())) {
  if (type != TAG_UTCT_TIME && type != TAG_GENERAL_TIME) type = TAG_UTCT_TIME;
}

X509time& X509time::operator=(const X509time& o) {
  if (this == &o) return *this;
  ASNobject::operator=(o);
  copyValue(*this, o);
  return *this;
}

X509time::~X509time() = default;

void X509time::clear() {
  year = month = day = hour = minute = second = 0;
  fraction = 0;
  fractionDigits = 0;
  offsetHours = offsetMinutes = 0;
  secondsPresent = 1;
  fractionPresent = 0;
  isUtc = 1;
  hasOffset = 0;
}

int X509time::form() const {
  unsigned char t = tag & static_cast<unsigned char>(~0x20);
  if (!classBits(tag) && universalTimeTag(t)) return t;
  return type;
}

// A value outside the UTCTime window needs the four-digit year.
static void fitForm(X509time& x) {
  if (x.year >= 1950 && x.year <= 2049) return;
  x.type = TAG_GENERAL_TIME;
  if (!classBits(x.tag)) x.tag = TAG_GENERAL_TIME;
}

// ---------------------------------------------------------------------------
// decoding and encoding

int X509time::decode(GenericFile* in, int length, unsigned char f) {
  const unsigned char wanted = tag;
  const uint32_t wantedNonUniversal = flags & ASN_FLAG_NONUNIVERSAL;
  const X509time before(*this);
  const uint8_t typeBefore = type;
  // Read whatever tag comes, then judge it: either universal time form is
  // taken in place of the other.
  tag = TAG_ANY;
  flags |= ASN_FLAG_NONUNIVERSAL;
  int r = ASNobject::decode(in, length, f);
  const unsigned char got = tag;
  bool ok = r > 0 && !(got & 0x20);
  if (ok) {
    if (wanted == TAG_ANY)
      ok = classBits(got) || universalTimeTag(got);
    else if (classBits(wanted))
      ok = got == wanted;
    else
      ok = universalTimeTag(got);
  }
  if (!ok) {
    // Nothing of the refused value stays: tag, view and fields as before.
    releaseSource();
    flags = (flags & ~(ASN_FLAG_NONUNIVERSAL | ASN_FLAG_CONST)) | wantedNonUniversal;
    tag = wanted;
    copyValue(*this, before);
    type = typeBefore;
    return r > 0 ? 0 : r;
  }
  if (!classBits(got)) {
    flags &= ~ASN_FLAG_NONUNIVERSAL;
    type = got;
  }
  return r;
}

int X509time::assignFromAny(const ASNany& anyObj) {
  const unsigned char got = anyObj.tag;
  if (classBits(tag) || classBits(got) || !universalTimeTag(got))
    return ASNobject::assignFromAny(anyObj);
  // The generic road takes only the form this value has now: take the received one first.
  const unsigned char before = tag;
  const uint8_t typeBefore = type;
  tag = got;
  type = got;
  const int r = ASNobject::assignFromAny(anyObj);
  if (r != 1) {
    tag = before;
    type = typeBefore;
  }
  return r;
}

int X509time::decodeContent(GenericFile* in, int length) {
  if (!in || length < 0 || length > MAX_CONTENT) return 0;
  char text[MAX_CONTENT];
  uint32_t count = 0;
  if (length > 0 &&
      (in->read(static_cast<uint32_t>(length), reinterpret_cast<uint8_t*>(text), &count) != 0 ||
       count != static_cast<uint32_t>(length)))
    return EASN_FILE;
  const size_t n = static_cast<size_t>(length);
  const int f = form();
  Parsed p;
  if (f != TAG_GENERAL_TIME && parseUtcTime(text, n, p)) {
    store(*this, p);
    if (f != TAG_UTCT_TIME) type = TAG_UTCT_TIME;
    return 1;
  }
  p = Parsed();
  if (f != TAG_UTCT_TIME && parseGeneralizedTime(text, n, p)) {
    store(*this, p);
    if (f != TAG_GENERAL_TIME) type = TAG_GENERAL_TIME;
    return 1;
  }
  return 0;
}

int X509time::format(char* text, size_t size) const {
  const int f = form();
  checkInvariant(f == TAG_UTCT_TIME || f == TAG_GENERAL_TIME, SRC, __LINE__,
                 "X509time::encode(): invalid type of X509time!!!");
  if (!text || size == 0 || !writable(*this, f)) return -1;
  // Digits are written by hand: every signature check over a certificate
  // built in memory formats its two times, and printf costs more than the
  // hash of them. `writable` has bounded every field, none is negative.
  size_t k = 0;
  auto put = [&](uint64_t value, int width) {
    char digits[40];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0 && n < 40);
    while (n < width && n < 40) digits[n++] = '0';
    if (static_cast<size_t>(n) >= size - k) return false;
    while (n > 0) text[k++] = digits[--n];
    return true;
  };
  auto putChar = [&](char c) {
    if (size - k < 2) return false;
    text[k++] = c;
    return true;
  };
  bool ok;
  if (f == TAG_GENERAL_TIME) {
    ok = put(static_cast<uint64_t>(year), 4);
    for (int field : {month, day, hour, minute, second})
      ok = ok && put(static_cast<uint64_t>(field), 2);
    uint64_t value;
    int digits;
    fractionOf(*this, value, digits);
    if (fractionPresent || fraction != 0) ok = ok && putChar('.') && put(value, digits);
  } else {
    ok = put(static_cast<uint64_t>(year % 100), 2);
    for (int field : {month, day, hour, minute}) ok = ok && put(static_cast<uint64_t>(field), 2);
    // Seconds that are there are written even when marked absent.
    if (secondsPresent || second != 0) ok = ok && put(static_cast<uint64_t>(second), 2);
  }
  if (ok && isUtc) {
    ok = putChar('Z');
  } else if (ok && hasOffset) {
    // The sign belongs to the whole offset (-0030 has zero hours).
    bool negative = offsetHours < 0 || offsetMinutes < 0;
    int h = offsetHours < 0 ? -offsetHours : offsetHours;
    int m = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    ok = putChar(negative ? '-' : '+') && put(static_cast<uint64_t>(h), 2) &&
         put(static_cast<uint64_t>(m), 2);
  }
  if (!ok) return -1;
  text[k] = '\0';
  return static_cast<int>(k);
}

int X509time::contentLength() const {
  // Counted, not formatted: lengths are asked for again at every level of an
  // encoding or digest of the structure holding the time. Mirrors format().
  const int f = form();
  checkInvariant(f == TAG_UTCT_TIME || f == TAG_GENERAL_TIME, SRC, __LINE__,
                 "X509time::encode(): invalid type of X509time!!!");
  if (!writable(*this, f)) return -1;
  int n;
  if (f == TAG_GENERAL_TIME) {
    n = 14;
    if (fractionPresent || fraction != 0) {
      uint64_t value;
      int digits;
      fractionOf(*this, value, digits);
      n += 1 + std::max(digits, digitCount(value));
    }
  } else {
    n = 10 + (secondsPresent || second != 0 ? 2 : 0);
  }
  if (isUtc)
    n += 1;
  else if (hasOffset)
    n += 5;
  return n < TEXT_BUFFER ? n : -1;
}

int X509time::encodedLength() const {
  if (!isConstView() && contentLength() < 0) return 0;
  return ASNobject::encodedLength();
}

int X509time::encodeContent(GenericFile* out) const {
  char text[TEXT_BUFFER];
  int n = format(text, sizeof text);
  if (n <= 0 || !out) return 0;
  return out->write(static_cast<uint32_t>(n), reinterpret_cast<const uint8_t*>(text)) == 0
             ? 1
             : EASN_FILE;
}

void X509time::digestContent(LvHash* hash) const {
  char text[TEXT_BUFFER];
  int n = format(text, sizeof text);
  checkInvariant(n > 0, SRC, __LINE__, "n > 0", "X509time::digestContent(): no text form");
  updateDigestBytes(reinterpret_cast<const unsigned char*>(text), n, hash);
}

int X509time::classifyTimeText(const char* text, int length) {
  if (!text) return -1;
  size_t n = length < 0 ? std::strlen(text) : static_cast<size_t>(length);
  Parsed p;
  if (parseUtcTime(text, n, p)) return 0;
  p = Parsed();
  if (parseGeneralizedTime(text, n, p)) return 1;
  return -1;
}

// ---------------------------------------------------------------------------
// setting

bool X509time::set(int y, int mo, int d, int h, int mi, int s, uint32_t frac, bool utc) {
  checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "!( flags & ASN_FLAG_CONST )");
  clear();
  if (y >= 0 && y < 100) y += y < 50 ? 2000 : 1900;
  year = y;
  month = mo;
  day = d;
  hour = h;
  minute = mi;
  second = s;
  if (frac != 0) {
    // The digit count matches the digits written, so the value compares
    // as it will read back.
    fraction = frac;
    fractionDigits = digitCount(frac);
    fractionPresent = 1;
  }
  secondsPresent = 1;
  bool valid = dateExists(year, month, day, hour, minute, second);
  if (utc) {
    isUtc = 1;
  } else {
    isUtc = 0;
    hasOffset = 0;
    // Stored as the offset of that local time (the instant is kept when
    // the zone's offset is not whole minutes).
    setZoneOffset(static_cast<int32_t>(truncateToMinutes(offsetOf(*this))));
  }
  fitForm(*this);
  return valid;
}

bool X509time::setFromTime64(int64_t t, bool utc) {
  checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "!( flags & ASN_FLAG_CONST )");
  int64_t days = floorDiv(t, SECONDS_PER_DAY);
  if (days < INT32_MIN || days > INT32_MAX) return false;
  clear();
  if (!setFieldSeconds(*this, t)) return false;
  fitForm(*this);
  if (!utc) toLocal();
  return true;
}

bool X509time::setNow(bool utc) { return setFromTime64(platform::currentTime(), utc); }

bool X509time::toGeneralized(const ASNgenTime& source) {
  checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "!( flags & ASN_FLAG_CONST )");
  // Read through the source's own text form, so every field comes as
  // written; a fraction longer than ten digits is refused, never cut.
  char text[64];
  int n = source.format(text);
  Parsed p;
  if (n <= 0 || n >= static_cast<int>(sizeof text) ||
      !parseGeneralizedTime(text, static_cast<size_t>(n), p))
    return false;
  if (!p.isUtc && !p.hasOffset) p.isUtc = 1;
  store(*this, p);
  secondsPresent = 1;
  type = TAG_GENERAL_TIME;
  if (!classBits(tag)) tag = TAG_GENERAL_TIME;
  return true;
}

// ---------------------------------------------------------------------------
// checks and conversions

bool X509time::isValid(bool strict) const {
  const int f = form();
  int32_t s = (f == TAG_GENERAL_TIME && !secondsPresent) ? 0 : second;
  if (month < 1 || month > 12 || day < 1 || day > monthLength(year, month) || hour < 0 ||
      hour > 23 || minute < 0 || minute > 59 || s < 0 || s > 59)
    return false;
  if (strict) {
    if (year < 0 || year > 9999) return false;
    if (f == TAG_UTCT_TIME && (year < 1950 || year > 2049)) return false;
  }
  if (hasOffset && !isUtc) {
    if (offsetHours < -12 || offsetHours > 14 || offsetMinutes < -59 || offsetMinutes > 59 ||
        (offsetHours < 0 && offsetMinutes > 0) || (offsetHours > 0 && offsetMinutes < 0))
      return false;
  }
  if (f == TAG_GENERAL_TIME && (fractionPresent || fraction != 0)) {
    if (fractionDigits < 0 || fractionDigits > MAX_FRACTION_DIGITS ||
        fraction >= pow10u(MAX_FRACTION_DIGITS))
      return false;
  }
  return true;
}

int64_t X509time::toTime64(bool normalise) const {
  if (!normalise && !isValid(true)) return TIME64_ERROR;
  int64_t local = fieldSeconds(*this);
  // Years before 1970 (of the fields, carried) have no 64-bit time here.
  if (local < 0) return TIME64_ERROR;
  return local - offsetOf(*this);
}

int32_t X509time::zoneOffset() const {
  int64_t o = offsetOf(*this);
  return o > INT32_MAX ? INT32_MAX : (o < INT32_MIN ? INT32_MIN : static_cast<int32_t>(o));
}

bool X509time::setZoneOffset(int32_t seconds) {
  checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "!( flags & ASN_FLAG_CONST )");
  int64_t s = truncateToMinutes(seconds);
  if (s <= -SECONDS_PER_DAY || s >= SECONDS_PER_DAY) return false;
  int64_t move = s - offsetOf(*this);
  if (move != 0 && !setFieldSeconds(*this, fieldSeconds(*this) + move)) return false;
  offsetHours = static_cast<int32_t>(s / 3600);
  offsetMinutes = static_cast<int32_t>(s % 3600 / 60);
  isUtc = 0;
  hasOffset = 1;
  fitForm(*this);
  return true;
}

void X509time::toLocal() {
  // A local time without zone is already what the database says.
  if (!isUtc && !hasOffset) return;
  // The zone offset of the instant itself (12:00+05:00 is not read as a local 12:00).
  int64_t off = truncateToMinutes(offsetAtInstant(instantOf(*this)));
  if (isUtc || off != storedOffset(*this)) setZoneOffset(static_cast<int32_t>(off));
}

void X509time::toUtc() {
  checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "!( flags & ASN_FLAG_CONST )");
  if (isUtc) return;
  if (!setFieldSeconds(*this, instantOf(*this))) return;
  offsetHours = offsetMinutes = 0;
  isUtc = 1;
  hasOffset = 0;
  canonicalise();
}

void X509time::canonicalise() {
  checkInvariant(!(flags & ASN_FLAG_CONST), SRC, __LINE__, "!( flags & ASN_FLAG_CONST )");
  if (form() == TAG_GENERAL_TIME) {
    uint64_t value;
    int digits;
    fractionOf(*this, value, digits);
    while (digits > 0 && value % 10 == 0) {
      value /= 10;
      --digits;
    }
    fraction = value;
    fractionDigits = digits;
    fractionPresent = value != 0;
    if (!fractionPresent) fractionDigits = 0;
  } else {
    if (!secondsPresent) second = 0;
    secondsPresent = 1;
    fraction = 0;
    fractionDigits = 0;
    fractionPresent = 0;
  }
  setFieldSeconds(*this, fieldSeconds(*this));
  if (isUtc) {
    hasOffset = 0;
    offsetHours = offsetMinutes = 0;
  } else if (!hasOffset && form() == TAG_GENERAL_TIME) {
    setZoneOffset(static_cast<int32_t>(truncateToMinutes(offsetOf(*this))));
  }
  fitForm(*this);
}

// ---------------------------------------------------------------------------
// comparison

int X509time::compare(const X509time& a, const X509time& b, bool exact) {
  // Both as UTC instants: each value's own zone applies.
  int64_t ia = instantOf(a), ib = instantOf(b);
  int64_t ma = floorDiv(ia, 60), mb = floorDiv(ib, 60);
  if (ma != mb) return ma < mb ? -1 : 1;
  const bool bothUtcTime = a.form() == TAG_UTCT_TIME && b.form() == TAG_UTCT_TIME;
  int sa = static_cast<int>(floorMod(ia, 60)), sb = static_cast<int>(floorMod(ib, 60));
  if (!exact) return (bothUtcTime && a.secondsPresent && b.secondsPresent) ? sign(sa - sb) : 0;
  if (sa != sb) return sign(sa - sb);
  if (bothUtcTime) return 0;
  uint64_t fa, fb;
  int da, db;
  fractionOf(a, fa, da);
  fractionOf(b, fb, db);
  if (fa == 0 && fb == 0) return 0;
  // Scale the shorter fraction to the longer one's digits (at most 20 each).
  unsigned __int128 va = fa, vb = fb;
  for (int i = da; i < db; ++i) va *= 10;
  for (int i = db; i < da; ++i) vb *= 10;
  return va < vb ? -1 : (va > vb ? 1 : 0);
}

int X509time::compareTime64(int64_t t) const {
  // Compared, not subtracted: t may be any 64-bit time (INT64_MAX for "never").
  int64_t i = instantOf(*this);
  return i < t ? -1 : (i > t ? 1 : 0);
}
