// X509time against times.tsv (GNU date and the time-zone database, see
// gen_times.sh) and the form, tag and fault cases of the type.
#include "asn1/asnany.h"
#include "asn1/asngent.h"
#include "base/memfile.h"
#include "platform/clock.h"
#include "pki/common/x509time.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {
using Bytes = std::vector<uint8_t>;

// Sets TZ for one scope and restores what was there.
class ZoneScope {
 public:
  explicit ZoneScope(const std::string& tz) {
    const char* old = std::getenv("TZ");
    had = old != nullptr;
    if (had) saved = old;
    setenv("TZ", tz.c_str(), 1);
    tzset();
  }
  ~ZoneScope() {
    if (had)
      setenv("TZ", saved.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  bool had;
  std::string saved;
};

Bytes der(unsigned char tag, const std::string& text) {
  // Sized once and filled (see tlv in tests/asn1/test_core_time.cpp).
  Bytes b(2 + text.size());
  b[0] = tag;
  b[1] = static_cast<uint8_t>(text.size());
  std::copy(text.begin(), text.end(), b.begin() + 2);
  return b;
}

Bytes encoded(const X509time& t) {
  Bytes b;
  t.encodeVector(b);
  return b;
}

std::string textOf(const X509time& t) {
  char buf[64];
  int n = t.format(buf, sizeof buf);
  return n < 0 ? std::string("<none>") : std::string(buf, static_cast<size_t>(n));
}

std::string fields14(const X509time& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return buf;
}

// Decodes a text under the universal tag of its form (GeneralizedTime when it has 4 year digits).
X509time parsed(const std::string& text) {
  X509time t;
  int cls = X509time::classifyTimeText(text.c_str(), -1);
  EXPECT_GT(t.decodeVector(der(cls == 0 ? 23 : 24, text)), 0) << text;
  return t;
}

std::vector<std::vector<std::string>> table(char kind) {
  std::ifstream in(std::string(TAL_TEST_DATA_DIR) + "/pki/times.tsv");
  EXPECT_TRUE(in.good());
  std::vector<std::vector<std::string>> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] != kind) continue;
    std::vector<std::string> cols;
    std::stringstream ss(line);
    std::string c;
    while (std::getline(ss, c, '\t')) cols.push_back(c == "<empty>" ? "" : c);
    rows.push_back(cols);
  }
  EXPECT_FALSE(rows.empty());
  return rows;
}
}  // namespace

TEST(X509Time, TextsAgainstDate) {
  for (const auto& r : table('T')) {
    const std::string& text = r[1];
    ZoneScope zone(r[2]);
    const int cls = std::stoi(r[3]);
    EXPECT_EQ(X509time::classifyTimeText(text.data(), static_cast<int>(text.size())), cls) << text;
    if (cls < 0) {
      for (unsigned char tag : {23, 24}) {
        X509time t;
        EXPECT_EQ(t.decodeVector(der(tag, text)), 0) << text;
        EXPECT_EQ(t.year, 0);
      }
      continue;
    }
    // Either universal tag is taken; the received one stays.
    X509time t(cls == 0 ? 24 : 23);
    Bytes in = der(cls == 0 ? 23 : 24, text);
    ASSERT_EQ(t.decodeVector(in), static_cast<int>(in.size())) << text;
    EXPECT_EQ(t.form(), cls == 0 ? 23 : 24);
    std::string canonical = text;
    for (char& c : canonical) c = c == ',' ? '.' : c;
    EXPECT_EQ(encoded(t), der(cls == 0 ? 23 : 24, canonical)) << text;
    const int64_t epoch = std::stoll(r[4]);
    EXPECT_EQ(t.compareTime64(epoch), 0) << text;
    EXPECT_EQ(t.compareTime64(epoch + 1), -1) << text;
    EXPECT_EQ(t.toTime64(false), t.year >= 1970 ? epoch : X509time::TIME64_ERROR) << text;
    X509time u(t);
    u.toUtc();
    EXPECT_EQ(fields14(u), r[5]) << text;
    EXPECT_TRUE(u.isUtc);
    EXPECT_EQ(X509time::compare(t, u, true), 0) << text;
  }
}

TEST(X509Time, InstantsToLocalTime) {
  for (const auto& r : table('L')) {
    ZoneScope zone(r[1]);
    const int64_t epoch = std::stoll(r[2]);
    X509time t;
    ASSERT_TRUE(t.setFromTime64(epoch, false));
    EXPECT_EQ(fields14(t), r[4]) << r[1] << " " << epoch;
    EXPECT_EQ(t.zoneOffset(), std::stoi(r[3])) << r[1] << " " << epoch;
    EXPECT_EQ(t.compareTime64(epoch), 0);
    X509time text(t.form());
    ASSERT_GT(text.decodeVector(encoded(t)), 0) << textOf(t);
    EXPECT_EQ(text.compareTime64(epoch), 0) << textOf(t);
    X509time u;
    ASSERT_TRUE(u.setFromTime64(epoch, true));
    EXPECT_EQ(X509time::compare(t, u, true), 0);
    u.toLocal();
    EXPECT_EQ(textOf(u), textOf(t));
  }
}

TEST(X509Time, LocalTimesToInstants) {
  for (const auto& r : table('S')) {
    ZoneScope zone(r[1]);
    const std::string& l = r[2];
    auto f = [&](size_t at, size_t n) { return std::stoi(l.substr(at, n)); };
    X509time t;
    ASSERT_TRUE(t.set(f(0, 4), f(4, 2), f(6, 2), f(8, 2), f(10, 2), f(12, 2), 0, false));
    EXPECT_EQ(t.toTime64(true), std::stoll(r[3])) << r[1] << " " << l;
    EXPECT_EQ(t.zoneOffset(), std::stoi(r[4])) << r[1] << " " << l;
    // The same wall-clock time as a GeneralizedTime without zone.
    X509time g(24);
    ASSERT_GT(g.decodeVector(der(24, l)), 0);
    EXPECT_EQ(g.compareTime64(std::stoll(r[3])), 0) << l;
  }
}

TEST(X509Time, OrderOfPairs) {
  for (const auto& r : table('C')) {
    X509time a = parsed(r[1]), b = parsed(r[2]);
    const int want = std::stoi(r[3]);
    auto sgn = [](int v) { return (v > 0) - (v < 0); };
    EXPECT_EQ(sgn(X509time::compare(a, b, true)), want) << r[1] << " " << r[2];
    EXPECT_EQ(sgn(X509time::compare(b, a, true)), -want) << r[1] << " " << r[2];
    EXPECT_EQ(a < b, want < 0);
    EXPECT_EQ(a == b, want == 0);
    EXPECT_EQ(a > b, want > 0);
  }
  // Without exactness only two UTCTimes with seconds look at the seconds.
  EXPECT_EQ(X509time::compare(parsed("20240101120000Z"), parsed("20240101120059Z"), false), 0);
  EXPECT_LT(X509time::compare(parsed("240101120000Z"), parsed("240101120059Z"), false), 0);
}

TEST(X509Time, FormsAndTags) {
  // Building a value outside 1950-2049 switches a UTCTime to GeneralizedTime.
  X509time t;
  EXPECT_TRUE(t.set(2051, 1, 2, 3, 4, 5));
  EXPECT_EQ(t.getTag(), 24);
  EXPECT_EQ(textOf(t), "20510102030405Z");
  EXPECT_TRUE(t.set(49, 12, 31, 23, 59, 59));
  EXPECT_EQ(t.year, 2049);
  // The tag alone switches the form (and a UTCTime cannot carry 2051).
  t.setTag(23);
  EXPECT_EQ(textOf(t), "491231235959Z");
  t.year = 2051;
  EXPECT_EQ(t.contentLength(), -1);
  t.year = 2049;
  EXPECT_FALSE(t.set(2023, 2, 29, 0, 0, 0));
  // Implicit tag: the form comes from `type`, the received tag must be the tag.
  X509time ctx(0x80);
  EXPECT_GT(ctx.decodeVector(der(0x80, "240101120000Z")), 0);
  EXPECT_EQ(encoded(ctx), der(0x80, "240101120000Z"));
  EXPECT_EQ(ctx.decodeVector(der(0x80, "20240101120000Z")), 0);
  EXPECT_EQ(ctx.decodeVector(der(0x81, "240101120000Z")), 0);
  EXPECT_EQ(ctx.getTag(), 0x80);
  ctx.type = 24;
  EXPECT_GT(ctx.decodeVector(der(0x80, "20240101120000Z")), 0);
  // Other universal tags and the constructed form are refused; the value stays.
  X509time u;
  ASSERT_GT(u.decodeVector(der(23, "240101120000Z")), 0);
  EXPECT_EQ(u.decodeVector(der(4, "240101120000Z")), 0);
  EXPECT_EQ(u.decodeVector(der(0x37, "240101120000Z")), 0);
  EXPECT_EQ(u.getTag(), 23);
  EXPECT_EQ(textOf(u), "240101120000Z");
  EXPECT_THROW(X509time(4), std::runtime_error);
  ctx.type = 5;
  EXPECT_THROW(ctx.contentLength(), std::runtime_error);
  // From an ASN.1 GeneralizedTime.
  ASNgenTime g;
  ASSERT_GT(g.decodeVector(der(24, "20240101120000.25-0130")), 0);
  X509time fromGen;
  ASSERT_TRUE(fromGen.toGeneralized(g));
  EXPECT_EQ(encoded(fromGen), der(24, "20240101120000.25-0130"));
  platform::setTestTime(1709208000);
  EXPECT_TRUE(t.setNow(true));
  platform::clearTestTime();
  EXPECT_EQ(fields14(t), "20240229120000");
}

// A time held in an ANY (an attribute value: a CMS signing time from 2050 on must be a
// GeneralizedTime, RFC 5652 11.3) reads as decode reads it, whichever form the target had, from a
// copy or in place, and keeps the form received; an implicit tag still decides alone.
TEST(X509Time, FromAnyEitherForm) {
  struct Row {
    unsigned char targetTag;
    Bytes value;
    int expected;  // assignFromAny's answer
    int64_t instant;
  } rows[] = {
      {0, der(24, "20500103000000Z"), 1, 2524608000 + 2 * 86400},
      {0, der(23, "491231235959Z"), 1, 2524607999},
      {24, der(23, "240101120000Z"), 1, 1704110400},
      {24, der(24, "20240101120000Z"), 1, 1704110400},
      {0, der(4, "20500103000000Z"), 0, 0},
      // A refused text of the other form leaves the target's own form.
      {0, der(24, "20501303000000Z"), 0, 0},
      {24, der(23, "241301120000Z"), 0, 0},
      {0x80, der(0x80, "240101120000Z"), 1, 1704110400},
      {0x80, der(24, "20240101120000Z"), 0, 0},
  };
  for (const Row& row : rows) {
    for (uint32_t flags : {0u, uint32_t(ASN_FLAG_CONST)}) {
      ASNany any;
      ASSERT_EQ(any.decodeVector(row.value, static_cast<unsigned char>(flags)),
                static_cast<int>(row.value.size()));
      X509time t(row.targetTag);
      ASSERT_EQ(t.assignFromAny(any), row.expected)
          << int(row.value[0]) << " into " << int(row.targetTag);
      if (row.expected != 1) {
        EXPECT_EQ(t.getTag(), row.targetTag ? row.targetTag : 23);
        EXPECT_EQ(t.form(), row.targetTag == 24 ? 24 : 23);
        continue;
      }
      EXPECT_EQ(t.toTime64(true), row.instant);
      EXPECT_EQ(encoded(t), row.value);
    }
  }
}

TEST(X509Time, FractionsZonesAndCanonicalForm) {
  // A set fraction compares as the digits it writes (.123 is less than .5).
  X509time s(24);
  s.set(2024, 1, 1, 12, 0, 0, 123);
  EXPECT_EQ(textOf(s), "20240101120000.123Z");
  EXPECT_EQ(X509time::compare(s, parsed("20240101120000.123Z"), true), 0);
  EXPECT_LT(X509time::compare(s, parsed("20240101120000.5Z"), true), 0);
  X509time c = parsed("20240101120000.1200Z");
  c.canonicalise();
  EXPECT_EQ(textOf(c), "20240101120000.12Z");
  // The sign of an offset under one hour, and offsets changed in place.
  X509time z = parsed("20240101120000Z");
  EXPECT_TRUE(z.setZoneOffset(-1800));
  EXPECT_EQ(textOf(z), "20240101113000-0030");
  EXPECT_FALSE(z.setZoneOffset(86400));
  {
    ZoneScope zone("Europe/Warsaw");
    X509time far = parsed("20240715120000+0500");
    far.toLocal();
    EXPECT_EQ(textOf(far), "20240715090000+0200");
  }
  // Normalising across the UTCTime window keeps the century.
  X509time edge = parsed("491231235959-0100");
  edge.toUtc();
  EXPECT_EQ(encoded(edge), der(24, "20500101005959Z"));
  EXPECT_FALSE(parsed("240101120000+1500").isValid(false));
  EXPECT_TRUE(parsed("240101120000+1400").isValid(true));
  EXPECT_TRUE(parsed("20510101120000Z").isValid(true));
}

TEST(X509Time, BoundedTextsAndBuffers) {
  // Only `length` characters are read, never the terminator past them.
  const char full[] = "491231235959Z";
  EXPECT_EQ(X509time::classifyTimeText(full, 13), 0);
  std::vector<char> exact12(full, full + 12);
  EXPECT_EQ(X509time::classifyTimeText(exact12.data(), 12), -1);
  std::vector<char> gen14{'2', '0', '2', '4', '0', '1', '0', '1', '1', '2', '0', '0', '0', '0'};
  EXPECT_EQ(X509time::classifyTimeText(gen14.data(), 14), 1);
  // Fields that no text can carry are not written (and never overflow).
  X509time t(24);
  t.set(2024, 1, 1, 0, 0, 0);
  t.year = INT32_MAX;
  EXPECT_EQ(t.contentLength(), -1);
  Bytes none;
  EXPECT_EQ(t.encodeVector(none), 0);
  EXPECT_EQ(t.encodedLength(), 0);
  t.year = 2024;
  t.fractionDigits = 1000;
  t.fractionPresent = 1;
  EXPECT_EQ(t.contentLength(), -1);
  t.fractionDigits = 1;
  char small[8];
  EXPECT_EQ(t.format(small, sizeof small), -1);
  X509time big;
  big.set(2024, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX);
  big.canonicalise();
  EXPECT_TRUE(big.isValid(false));
}

TEST(X509Time, ExtremeTimesAndLongFractions) {
  // Any 64-bit time compares (INT64_MAX stands for "never"), without overflow.
  const X509time noon = parsed("20240101120000Z");
  const struct {
    int64_t t;
    int want;
  } times[] = {
      {INT64_MAX, -1}, {INT64_MIN, 1}, {INT64_MIN + 1, 1}, {1704110400, 0}, {1704110401, -1}};
  for (const auto& c : times) {
    EXPECT_EQ(noon.compareTime64(c.t), c.want) << c.t;
    EXPECT_EQ(noon.isBeforeTime64(c.t), c.want < 0) << c.t;
  }
  // A GeneralizedTime's fraction comes over whole or not at all: more than
  // ten digits would be cut, and the value would write back changed.
  const struct {
    int32_t fraction;
    int digits;
    const char* want;  // nullptr: refused
  } fractions[] = {{25, 2, "20240101120000.25Z"},
                   {7, 10, "20240101120000.0000000007Z"},
                   {2147483647, 10, "20240101120000.2147483647Z"},
                   {5, 11, nullptr},
                   {5, 12, nullptr},
                   {500, 36, nullptr}};
  for (const auto& c : fractions) {
    ASNgenTime g;
    ASSERT_EQ(g.set(2024, 1, 1, 12, 0, 0, c.fraction, c.digits), 1);
    X509time t = parsed("240101120000Z");
    EXPECT_EQ(t.toGeneralized(g), c.want != nullptr) << c.digits;
    EXPECT_EQ(textOf(t), c.want ? c.want : "240101120000Z") << c.digits;
  }
}

TEST(X509Time, CountedLengthMatchesWrittenText) {
  // The length is counted apart from the text; both must agree on every form
  // (seconds, fractions, zones) and on refusing what cannot be written.
  X509time withOffset = parsed("20240101120000Z");
  ASSERT_TRUE(withOffset.setZoneOffset(-1800));
  X509time fraction(24);
  fraction.set(2024, 1, 1, 12, 0, 0, 123);
  X509time noSeconds = parsed("2401011200Z");
  X509time longFraction(24);
  longFraction.set(2024, 1, 1, 12, 0, 0, 7);
  longFraction.fractionDigits = 10;
  X509time tooLong = longFraction;
  tooLong.fractionDigits = 36;  // past the text buffer
  X509time badDay(23);
  badDay.set(2024, 1, 1, 0, 0, 0);
  badDay.day = 32;
  const struct {
    const X509time* time;
    const char* want;  // nullptr: refused
  } cases[] = {{&withOffset, "20240101113000-0030"},
               {&fraction, "20240101120000.123Z"},
               {&noSeconds, "2401011200Z"},
               {&longFraction, "20240101120000.0000000007Z"},
               {&tooLong, nullptr},
               {&badDay, nullptr}};
  for (const auto& c : cases) {
    X509time copy = *c.time;  // built in memory: nothing received to count
    const int n = copy.contentLength();
    if (!c.want) {
      EXPECT_EQ(n, -1) << textOf(copy);
      EXPECT_EQ(textOf(copy), "<none>");
      continue;
    }
    EXPECT_EQ(textOf(copy), c.want);
    EXPECT_EQ(n, static_cast<int>(std::strlen(c.want))) << c.want;
    const int tag = copy.form();
    EXPECT_EQ(encoded(copy), der(static_cast<unsigned char>(tag), c.want)) << c.want;
  }
}
