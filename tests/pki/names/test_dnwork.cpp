// Names of many-valued RDNs as a stranger's certificate carries them: the
// comparison's answers (multisets, string types, letter case and spaces),
// its work counted in attribute pairs, and what it charges the work account.
#include "asn1/asnbase.h"
#include "base/workaccount.h"
#include "pki/names/dname.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes tlv(unsigned char tag, const Bytes& body) {
  Bytes out{tag};
  const size_t n = body.size();
  if (n < 0x80) {
    out.push_back(static_cast<unsigned char>(n));
  } else {
    Bytes len;
    for (size_t m = n; m; m >>= 8) len.insert(len.begin(), static_cast<unsigned char>(m & 0xFF));
    out.push_back(static_cast<unsigned char>(0x80 | len.size()));
    out.insert(out.end(), len.begin(), len.end());
  }
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

// A string value of `tag` (0x0C UTF8, 0x13 Printable, 0x1E BMP) holding ASCII text.
Bytes text(unsigned char tag, const std::string& s) {
  Bytes body;
  for (char c : s) {
    if (tag == 0x1E) body.push_back(0);
    body.push_back(static_cast<unsigned char>(c));
  }
  return tlv(tag, body);
}

const Bytes CN{0x55, 0x04, 0x03};
const Bytes O{0x55, 0x04, 0x0A};

struct Attr {
  Bytes type;
  Bytes value;
};

// A name of one RDN holding the attributes in the order given, as received DER.
DistinguishedName oneRdn(const std::vector<Attr>& attributes) {
  Bytes set;
  for (const Attr& a : attributes) {
    Bytes seq = tlv(0x06, a.type);
    seq.insert(seq.end(), a.value.begin(), a.value.end());
    Bytes element = tlv(0x30, seq);
    set.insert(set.end(), element.begin(), element.end());
  }
  const Bytes der = tlv(0x30, tlv(0x31, set));
  DistinguishedName name;
  EXPECT_EQ(static_cast<int>(der.size()), name.decodeVector(der));
  return name;
}

std::vector<Attr> numbered(int count, unsigned char tag = 0x0C) {
  std::vector<Attr> out;
  for (int i = 0; i < count; ++i) out.push_back({i % 2 ? O : CN, text(tag, "v" + std::to_string(i))});
  return out;
}

// The same attributes in another order (a fixed stride through them).
std::vector<Attr> shuffled(const std::vector<Attr>& in) {
  std::vector<Attr> out;
  const size_t n = in.size();
  for (size_t i = 0; i < n; ++i) out.push_back(in[(i * 7919 + 13) % n]);
  return out;
}

// Reordered multi-valued RDNs compare as multisets whatever the string types;
// letter case and spaces still count, as before.
TEST(DnWork, ManyValuedRdnsCompareAsMultisets) {
  std::vector<Attr> base = numbered(9);
  std::vector<Attr> printable = numbered(9, 0x13);
  std::vector<Attr> bmp = numbered(9, 0x1E);
  std::vector<Attr> upper = base, spaced = base, twice = base, bmpMix = base;
  upper[4].value = text(0x0C, "V4");
  spaced[4].value = text(0x0C, "v4 ");
  twice[4] = twice[3];  // {..., v3, v3, ...} against {..., v3, v4, ...}
  std::vector<Attr> swapped = base;  // the types of two values exchanged
  std::swap(swapped[3].type, swapped[4].type);
  bmpMix[8].value = text(0x1E, "v8");
  const struct {
    const char* what;
    std::vector<Attr> a, b;
    bool equal;
  } cases[] = {
      {"same order", base, base, true},
      {"shuffled", base, shuffled(base), true},
      {"Printable against UTF8, shuffled", printable, shuffled(base), true},
      {"BMP against Printable, shuffled", shuffled(bmp), printable, true},
      {"one BMP among UTF8, shuffled", shuffled(bmpMix), base, true},
      {"letter case", shuffled(base), upper, false},
      {"trailing space", base, shuffled(spaced), false},
      {"a repeated attribute for another", shuffled(twice), base, false},
      {"a repeated attribute, Printable", twice, shuffled(printable), false},
      {"types exchanged", shuffled(swapped), base, false},
      {"one fewer", base, std::vector<Attr>(base.begin(), base.end() - 1), false},
  };
  for (const auto& c : cases) {
    DistinguishedName a = oneRdn(c.a), b = oneRdn(c.b);
    EXPECT_EQ(c.equal, a == b) << c.what;
    EXPECT_EQ(c.equal, b == a) << c.what;
    ASSERT_TRUE(a.GetHead() && b.GetHead());
    // The RDNs themselves, normalised as the names' comparison does it.
    RDname ra(*a.GetHead()), rb(*b.GetHead());
    ASSERT_TRUE(ra.normalise() && rb.normalise());
    EXPECT_EQ(c.equal, ra == rb) << c.what;
  }
}

// An RDN of thousands of attributes, equal or differing at its last, costs
// n log n attribute pairs, not the square that pairing each with all of the
// other's did.
TEST(DnWork, ComparisonWorkGrowsAsNLogN) {
  for (int n : {500, 4000}) {
    std::vector<Attr> base = numbered(n);
    std::vector<Attr> last = base;
    last.back().value = text(0x0C, "other");
    // A BIT STRING that does not read (eight unused bits of nothing) ends the
    // RDN's normalising before its attributes are sorted: they stay as received.
    std::vector<Attr> unread{{O, Bytes{0x03, 0x01, 0x08}}};
    unread.insert(unread.end(), base.begin(), base.end());
    std::vector<Attr> unreadShuffled{unread.front()};
    for (const Attr& a : shuffled(base)) unreadShuffled.push_back(a);
    const struct {
      std::vector<Attr> a, b;
      bool equal;
    } cases[] = {
        {base, shuffled(base), true},
        {shuffled(base), last, false},
        {numbered(n, 0x13), shuffled(base), true},
        {unread, unreadShuffled, true},
    };
    for (const auto& c : cases) {
      DistinguishedName a = oneRdn(c.a), b = oneRdn(c.b);
      const uint64_t before = rdnAttributeComparisons();
      const uint64_t copies = rdnAttributeCopies();
      EXPECT_EQ(c.equal, a == b) << n;
      const uint64_t pairs = rdnAttributeComparisons() - before;
      EXPECT_LE(pairs, 64u * static_cast<uint64_t>(n)) << n;  // n^2 / 2 is 250 n at 500
      EXPECT_EQ(copies, rdnAttributeCopies()) << n;  // neither name is copied whole
    }
  }
}

// Every comparison is charged by the attributes it reads; once the account is
// over each answers "different" at once, so a loop of them over what a
// document carries stops costing anything but a refusal a round.
TEST(DnWork, ComparisonsPayTheAccountAndStopWhenItIsOver) {
  constexpr int N = 400;
  const std::vector<Attr> base = numbered(N);
  const struct {
    const char* what;
    std::vector<Attr> b;
    uint64_t leastUnitsEach;  // the attributes' share of the price
  } cases[] = {
      {"in order", base, 2u * N},
      {"reordered", shuffled(base), 64u * 2 * N},
  };
  for (const auto& c : cases) {
    const DistinguishedName a = oneRdn(base), b = oneRdn(c.b);
    WorkAccount account(100 * c.leastUnitsEach, std::chrono::hours(1));
    WorkAccountScope scope(&account);
    ASSERT_TRUE(a == b) << c.what;
    EXPECT_GE(account.spentUnits(), c.leastUnitsEach) << c.what;
    int answered = 1;
    while (answered < 100000 && a == b) ++answered;
    EXPECT_TRUE(account.over()) << c.what;
    EXPECT_LE(answered, 100) << c.what;
    const uint64_t before = rdnAttributeComparisons();
    for (int i = 0; i < 1000; ++i) EXPECT_FALSE(a == b) << c.what;
    EXPECT_EQ(before, rdnAttributeComparisons()) << c.what;
  }
  // Without an account (a lone certificate check) names compare as ever.
  EXPECT_TRUE(oneRdn(base) == oneRdn(shuffled(base)));
}

// A name of several RDNs, each holding its attributes in the order given, as
// received DER read with `flags` (certificates are read in place).
DistinguishedName rdns(const std::vector<std::vector<Attr>>& list, unsigned char flags) {
  Bytes sequence;
  for (const auto& attributes : list) {
    Bytes set;
    for (const Attr& a : attributes) {
      Bytes seq = tlv(0x06, a.type);
      seq.insert(seq.end(), a.value.begin(), a.value.end());
      const Bytes element = tlv(0x30, seq);
      set.insert(set.end(), element.begin(), element.end());
    }
    const Bytes rdn = tlv(0x31, set);
    sequence.insert(sequence.end(), rdn.begin(), rdn.end());
  }
  static std::vector<Bytes> held;  // a view's octets outlive the name
  held.push_back(tlv(0x30, sequence));
  DistinguishedName name;
  EXPECT_EQ(static_cast<int>(held.back().size()), name.decodeBuffer(held.back().data(),
                                                                    static_cast<int>(held.back().size()), flags));
  return name;
}

// What the name's normalised encoding and key are made of, attribute by
// attribute, is what a whole normalised copy writes: the database's subject
// digests and the store's keys stay as they were, with no copy of a long name.
TEST(DnWork, NormalisedEncodingIsTheNormalisedCopys) {
  const Bytes unread{0x03, 0x01, 0x08};  // a BIT STRING that does not read
  const std::vector<Attr> mixed{{O, text(0x1E, "Zeta")}, {CN, text(0x13, "alpha  beta")}, {O, text(0x0C, "a")}};
  const std::vector<Attr> failing{{CN, text(0x1E, "first")}, {O, unread}, {CN, text(0x1E, "after")}};
  const struct {
    const char* what;
    std::vector<std::vector<Attr>> name;
  } cases[] = {
      {"empty name", {}},
      {"an empty RDN", {{}, {{CN, text(0x13, "x")}}}},
      {"single values", {{{CN, text(0x13, "Root")}}, {{O, text(0x1E, "Org")}}}},
      {"a multi-valued RDN out of order", {{{CN, text(0x13, "x")}}, mixed}},
      {"a value failing mid-RDN", {mixed, failing, mixed}},
      {"a value failing first", {failing, mixed}},
      {"many values", {shuffled(numbered(300, 0x1E)), numbered(5, 0x13)}},
  };
  for (unsigned flags : {0u, unsigned(ASN_FLAG_CONST | ASN_FLAG_COPY)}) {
    for (const auto& c : cases) {
      const DistinguishedName name = rdns(c.name, static_cast<unsigned char>(flags));
      DistinguishedName copy(name);
      copy.normalise();
      std::vector<unsigned char> expected, got;
      ASSERT_GT(copy.encodeVector(expected), 0) << c.what;
      const uint64_t copies = rdnAttributeCopies();
      ASSERT_TRUE(name.encodeNormalised(got)) << c.what;
      EXPECT_EQ(expected, got) << c.what << " flags " << int(flags);
      EXPECT_EQ(normalisedNameKey(copy), normalisedNameKey(name)) << c.what;
      EXPECT_EQ(copies, rdnAttributeCopies()) << c.what;
    }
  }
  // Built rather than read, a name is written in DER order whatever its
  // values normalise to.
  DistinguishedName built;
  ASSERT_TRUE(built.fromText("CN=b+O=A,O=Org", -1, 0x800 | 0x20000));
  DistinguishedName copy(built);
  copy.normalise();
  std::vector<unsigned char> expected, got;
  ASSERT_GT(copy.encodeVector(expected), 0);
  ASSERT_TRUE(built.encodeNormalised(got));
  EXPECT_EQ(expected, got);
}

}  // namespace
