// X509time: the one time type of the PKI structures (validity, CRL and OCSP
// times, time-stamps). Encoded as UTCTime (23) or GeneralizedTime (24); keeps
// the broken-down fields with fraction and zone, converts to and from 64-bit
// time and local time, and compares instants (each value's zone applied).
#pragma once

#include "asn1/asnbase.h"

#include <cstddef>
#include <cstdint>

class ASNgenTime;

constexpr unsigned char TAG_UTCT_TIME = 23;
constexpr unsigned char TAG_GENERAL_TIME = 24;

class X509time : public ASNobject {
 public:
  // tag 0 means UTCTime; a context or application tag is kept (form UTCTime
  // until `type` says otherwise); else the tag must be 23 or 24.
  explicit X509time(unsigned char tag = 0);
  X509time(const X509time& other);
  X509time& operator=(const X509time& other);

  ~X509time() override;
  // Accepts UTCTime and GeneralizedTime alike under a universal tag (the
  // received tag stays, so the value re-encodes in its received form);
  // under an implicit tag the received tag must be that tag.
  int decode(GenericFile* in, int length, unsigned char flags) override;
  // A value held in an ANY (an attribute's, say) is read as decode reads it: under a universal
  // tag either time form is taken, and the value keeps the form received.
  int assignFromAny(const ASNany& anyObj) override;
  void clear() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  // -1 when the fields cannot be written as a text that reads back to them.
  int contentLength() const override;
  // 0 when the fields have no text form (nothing can be encoded).
  int encodedLength() const override;
  // The form: the tag when it is a universal time tag, else `type`.
  unsigned char universalTag() const override { return static_cast<unsigned char>(form()); }
  void digestContent(LvHash* hash) const override;

  // A year 0..99 goes through the 50/50 window. The fraction is the value of
  // its decimal digits (written in full). Local time (utc false) takes the
  // zone offset of that local date and time. False when the date or time
  // does not exist (the fields are kept).
  bool set(int year, int month, int day, int hour, int minute, int second, uint32_t fraction = 0,
           bool utc = true);
  // False only when the day count leaves the 32-bit range.
  bool setFromTime64(int64_t t, bool utc);
  bool setNow(bool utc);
  // False (nothing changes) when the source has no text form or a fraction
  // of more than ten digits.
  bool toGeneralized(const ASNgenTime& source);

  bool isValid(bool strict) const;
  // Seconds since 1970 UTC; TIME64_ERROR on failure (before 1970, invalid
  // fields without normalise, overflow).
  int64_t toTime64(bool normalise) const;
  static constexpr int64_t TIME64_ERROR = INT64_MIN;

  // Local minus UTC in seconds: 0 for UTC, the stored offset, or the time-zone
  // database's offset of the local date and time of a value without zone.
  int32_t zoneOffset() const;
  // Re-expresses the same instant with offset `seconds` (seconds beyond whole
  // minutes are dropped); false, nothing changed, for a day or more either way.
  bool setZoneOffset(int32_t seconds);
  void toLocal();
  void toUtc();
  void canonicalise();

  static int compare(const X509time& a, const X509time& b, bool exact);
  bool operator<(const X509time& o) const { return compare(*this, o, true) < 0; }
  bool operator>(const X509time& o) const { return compare(*this, o, true) > 0; }
  bool operator<=(const X509time& o) const { return compare(*this, o, true) <= 0; }
  bool operator==(const X509time& o) const { return compare(*this, o, true) == 0; }
  int compareTime64(int64_t t) const;
  bool isBeforeTime64(int64_t t) const { return compareTime64(t) < 0; }

  // 0 a valid UTCTime text, 1 a valid GeneralizedTime text, -1 neither
  // (length < 0: zero-terminated).
  static int classifyTimeText(const char* text, int length);

  // The text form (what the content holds) into a buffer of `size`
  // characters, zero-terminated: its length, or -1 when the fields cannot be
  // written or the buffer is too small.
  int format(char* text, size_t size) const;
  // 23 or 24: the tag when universal, else `type`.
  int form() const;

  int32_t year;
  int32_t month, day, hour, minute, second;
  // Value of the fraction digits; kept whole for up to 10 digits.
  uint64_t fraction;
  int32_t fractionDigits;
  int32_t offsetHours, offsetMinutes;  // local minus UTC, same sign
  uint8_t secondsPresent;
  uint8_t fractionPresent;
  uint8_t isUtc;      // text ends in "Z"
  uint8_t hasOffset;  // text ends in +hhmm / -hhmm
  uint8_t type;       // 23 or 24: the form under a non-universal tag
};
