// Octet and word buffers and the conversion objects.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>
#include <string>
#include <unistd.h>
#include <vector>

#include "crypto/basic/lvconv.h"
#include "crypto/basic/lvcryptomech.h"

namespace {

std::string reasonOf(const LvException& e) {
  std::string w = e.what();
  size_t b = w.find("REASON: ");
  return w.substr(b + 8, w.find('\n', b) - b - 8);
}

std::string hex(const LvOctet* p, unsigned n) {
  std::string s;
  char b[3];
  for (unsigned i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, "%02x", p[i]);
    s += b;
  }
  return s;
}

std::string tempPath(const char* stem) {
  return std::string("/tmp/lvbuf_") + stem + "_" + std::to_string(getpid());
}

TEST(LvOctMem, SizesAndHexText) {
  LvOctMem five(5u);
  EXPECT_EQ(five.getCapacity(), 8u);
  EXPECT_EQ(five.getLength(), 5u);
  LvOctMem zero(0u);
  EXPECT_EQ(zero.getCapacity(), 1u);
  EXPECT_EQ(zero.getLength(), 0u);
  LvOctMem abc("ABC");
  ASSERT_EQ(abc.getLength(), 2u);
  EXPECT_EQ(hex(abc.ptr(), 2), "0abc");
  LvOctMem lower("0a1B");
  EXPECT_EQ(hex(lower.ptr(), 2), "0a1b");
  EXPECT_EQ(LvOctMem(static_cast<const char*>(nullptr)).getLength(), 0u);
  const LvOctet src[3] = {1, 2, 3};
  LvOctMem rev(src, 3, false);
  EXPECT_EQ(hex(rev.ptr(), 3), "030201");
}

TEST(LvOctMem, ResizeAssignGet) {
  const LvOctet src[4] = {9, 8, 7, 6};
  LvOctMem m(src, 4);
  m.resize(10);
  EXPECT_EQ(hex(m.ptr(), 10), "09080706000000000000");
  m.resize(2);
  EXPECT_EQ(m.getLength(), 2u);
  EXPECT_EQ(m.getCapacity(), 10u);
  LvOctMem a;
  a = m;
  EXPECT_EQ(hex(a.ptr(), a.getLength()), "0908");
  const LvOctMem& self = a;
  a = self;  // self-assignment keeps the content
  EXPECT_EQ(hex(a.ptr(), a.getLength()), "0908");
  LvOctet out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(m.get(out, 1), 0u);  // one octet too small: nothing written
  EXPECT_EQ(out[0], 0xEE);
  EXPECT_EQ(m.get(out, 2, false), 2u);
  EXPECT_EQ(hex(out, 2), "0809");
  m.clear();
  EXPECT_EQ(m[0u], 0);
}

// Up to eight octets live in the object, more on the heap: growing from either, after the
// length was cut, shows zero past the kept octets; copies and assignments in both directions
// keep the octets.
TEST(LvOctMem, SmallAndLargeBuffers) {
  const LvOctet src[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  for (unsigned int n : {1u, 4u, 8u, 12u}) {
    SCOPED_TRACE(std::to_string(n) + " octets");
    LvOctMem m(src, n);
    m.resize(1);
    for (unsigned int grow : {3u, 8u, 16u}) {
      LvOctMem g(m);
      g = m;
      g.resize(grow);
      ASSERT_EQ(g.getLength(), grow);
      EXPECT_EQ(g[0u], 1);
      for (unsigned int i = 1; i < grow; ++i) EXPECT_EQ(g[i], 0) << i;
    }
    // past its own capacity (n): the octets cut off do not come back
    m.resize(n + 2);
    EXPECT_EQ(m[0u], 1);
    for (unsigned int i = 1; i < n + 2; ++i) EXPECT_EQ(m[i], 0) << i;
    for (unsigned int other : {0u, 2u, 8u, 9u}) {
      LvOctMem a(src + 3, other), b(src, n);
      a = b;
      ASSERT_EQ(a.getLength(), n);
      EXPECT_EQ(hex(a.ptr(), n), hex(src, n));
      b = a;
      EXPECT_EQ(hex(b.ptr(), n), hex(src, n));
    }
  }
  LvOctMem empty;
  empty.resize(3);
  EXPECT_EQ(hex(empty.ptr(), 3), "000000");
}

TEST(LvOctMem, CheckedAccessTexts) {
  LvOctMem empty;
  try {
    empty[0u];
    FAIL();
  } catch (const LvNotInitException& e) {
    EXPECT_EQ(reasonOf(e), "Access to uninitialised bufer.");
  }
  LvOctMem m(4u);
  try {
    m[4u];
    FAIL();
  } catch (const LvAccessException& e) {
    EXPECT_EQ(reasonOf(e), "To large index.");
  }
  try {
    m[-1];
    FAIL();
  } catch (const LvAccessException& e) {
    EXPECT_EQ(reasonOf(e), "To large index");
  }
  try {
    m + 4u;
    FAIL();
  } catch (const LvAccessException& e) {
    EXPECT_NE(std::string(e.what()).find("FUNCTION: LvOctet* LvWordMem::operator +(unsigned int "
                                         "offset)\n"),
              std::string::npos);
  }
  try {
    empty + 0u;
    FAIL();
  } catch (const LvNotInitException& e) {
    EXPECT_EQ(reasonOf(e), "Access to uninitialised buffer.");
  }
  EXPECT_EQ(m + 3u, m.ptr() + 3);
}

TEST(LvWordMem, OctetConversions) {
  const LvOctet o[5] = {1, 2, 3, 4, 5};
  LvWordMem be(o, 5, true);
  ASSERT_EQ(be.getCount(), 2u);
  EXPECT_EQ(*(be + 0u), 0x02030405u);
  EXPECT_EQ(*(be + 1u), 0x00000001u);
  LvWordMem le(o, 5, false);
  EXPECT_EQ(*(le + 0u), 0x04030201u);
  EXPECT_EQ(*(le + 1u), 0x00000005u);
  LvOctet out[6];
  std::memset(out, 0xAA, sizeof out);
  EXPECT_EQ(be.getOctets(out, 6, true), 6u);
  EXPECT_EQ(hex(out, 6), "000102030405");
  std::memset(out, 0xAA, sizeof out);
  EXPECT_EQ(be.getOctets(out, 3, false), 3u);
  EXPECT_EQ(hex(out, 6), "050403aaaaaa");
  std::memset(out, 0xAA, sizeof out);
  LvWordMem one(o, 1, true);
  EXPECT_EQ(one.getOctets(out, 6, true), 4u);  // the words run out: the rest untouched
  EXPECT_EQ(hex(out, 6), "aaaa00000001");
  EXPECT_THROW(one + 1u, LvAccessException);
  EXPECT_THROW(LvWordMem() + 0u, LvNotInitException);
}

// The big-endian reader takes 16 and 8 octets at a time, then 4, then single ones: every
// length through several turns of each, from an odd address, with leading zero octets,
// against the value assembled octet by octet.
TEST(LvWordMem, BigEndianOctetsAtEveryLength) {
  LvOctet src[1 + 80];
  for (unsigned lead : {0u, 1u, 5u, 9u}) {
    for (unsigned n = 1; n <= 80; ++n) {
      LvOctet* o = src + 1;  // odd address: the 8-octet loads are unaligned
      for (unsigned i = 0; i < n; ++i)
        o[i] = i < lead ? 0 : static_cast<LvOctet>(0x11 * (i + 1) + n);
      LvWordMem w(o, n, true);
      const unsigned words = (n + 3) / 4;
      ASSERT_EQ(w.getCount(), words) << n;
      for (unsigned k = 0; k < words; ++k) {
        LvWord want = 0;
        for (unsigned b = 0; b < 4; ++b)
          if (4 * k + b < n) want |= LvWord(o[n - 1 - (4 * k + b)]) << (8 * b);
        EXPECT_EQ(*(w + k), want) << "n " << n << " lead " << lead << " word " << k;
      }
    }
  }
}

// Numbers of up to twelve octets are read into the inline words by the constructor itself,
// longer ones by the word reader: both orders at every length across that border.
TEST(LvWordMem, LittleEndianOctetsAtEveryLength) {
  LvOctet o[40];
  for (unsigned i = 0; i < sizeof o; ++i) o[i] = static_cast<LvOctet>(0x9D * (i + 1));
  for (unsigned n = 0; n <= sizeof o; ++n) {
    LvWordMem w(o, n, false);
    const unsigned words = (n + 3) / 4;
    ASSERT_EQ(w.getCount(), words) << n;
    EXPECT_EQ(w.ptr() == nullptr, n == 0) << n;
    for (unsigned k = 0; k < words; ++k) {
      LvWord want = 0;
      for (unsigned b = 0; b < 4 && 4 * k + b < n; ++b) want |= LvWord(o[4 * k + b]) << (8 * b);
      EXPECT_EQ(w.ptr()[k], want) << "n " << n << " word " << k;
    }
  }
}

// A new buffer of n octets has the smallest power of two not below n as its capacity, whether
// its octets are inline or on the heap, and all of them zero.
TEST(LvOctMem, CapacityAtEveryLength) {
  for (unsigned n = 0; n <= 70; ++n) {
    LvOctMem m(n);
    unsigned cap = 1;
    while (cap < n) cap *= 2;
    EXPECT_EQ(m.getCapacity(), cap) << n;
    EXPECT_EQ(m.getLength(), n);
    for (unsigned i = 0; i < cap; ++i) ASSERT_EQ(m.ptr()[i], 0) << n << " at " << i;
  }
}

TEST(LvWordMem, ResizeAndCopy) {
  const LvOctet o[8] = {0, 0, 0, 1, 0, 0, 0, 2};
  LvWordMem w(o, 8, true);
  w.resize(1);  // never shrinks
  EXPECT_EQ(w.getCount(), 2u);
  w.resize(4);
  EXPECT_EQ(*(w + 0u), 2u);
  EXPECT_EQ(*(w + 1u), 1u);
  EXPECT_EQ(*(w + 3u), 0u);
  LvWordMem d;
  LvWordMem::copy(d, w, 2);
  EXPECT_EQ(d.getCount(), 2u);
  EXPECT_EQ(*(d + 1u), 1u);
  try {
    LvWordMem::copy(d, w, 5);
    FAIL();
  } catch (const LvArgumentRangeException& e) {
    EXPECT_EQ(reasonOf(e), "Source argument is to large.");
  }
  LvWordMem a(3u);
  a = d;
  EXPECT_EQ(a.getCount(), 2u);
}

// Buffers of up to three words live in the object, longer ones on the heap: every move between
// the two (swap either way, growing past three words, copying into either) keeps the words,
// and words that come into view are zero.
TEST(LvWordMem, SmallAndLargeBuffers) {
  auto filled = [](unsigned int n, LvWord base) {
    LvWordMem w(n);
    for (unsigned int i = 0; i < n; ++i) *(w + i) = base + i;
    return w;
  };
  auto holds = [](const LvWordMem& w, unsigned int n, LvWord base) {
    if (w.getCount() != n) return false;
    for (unsigned int i = 0; i < n; ++i)
      if (w.ptr()[i] != base + i) return false;
    return true;
  };
  const unsigned int sizes[] = {0, 1, 3, 4, 9};
  for (unsigned int a : sizes) {
    for (unsigned int b : sizes) {
      SCOPED_TRACE(std::to_string(a) + " and " + std::to_string(b) + " words");
      LvWordMem x = filled(a, 100), y = filled(b, 200);
      x.swap(y);
      EXPECT_TRUE(holds(x, b, 200));
      EXPECT_TRUE(holds(y, a, 100));
      EXPECT_EQ(x.ptr() == nullptr, b == 0);
      y.swap(y);
      EXPECT_TRUE(holds(y, a, 100));
      LvWordMem c(x);
      EXPECT_TRUE(holds(c, b, 200));
      c = y;
      EXPECT_TRUE(holds(c, a, 100));
      LvWordMem::copy(c, x, b);
      EXPECT_TRUE(holds(c, b, 200));
      // growing keeps the words and zeroes the new ones
      c.resize(b + 2);
      ASSERT_EQ(c.getCount(), b + 2);
      for (unsigned int i = 0; i < b; ++i) EXPECT_EQ(c.ptr()[i], 200 + i);
      EXPECT_EQ(c.ptr()[b], 0u);
      EXPECT_EQ(c.ptr()[b + 1], 0u);
    }
  }
  // a small buffer shrunk by a copy shows zero in the words it had above
  LvWordMem s = filled(3, 7), one = filled(1, 9);
  LvWordMem::copy(s, one, 1);
  s.resize(3);
  EXPECT_EQ(s.ptr()[0], 9u);
  EXPECT_EQ(s.ptr()[1], 0u);
  EXPECT_EQ(s.ptr()[2], 0u);
}

// Words a buffer gives up (swapped away, grown out of, copied or assigned over, destroyed)
// leave no copy in the object's own storage: the inline words are wiped as heap blocks are.
TEST(LvWordMem, GivenUpWordsLeaveNoCopyInTheObject) {
  const LvWord secret = 0xA5C3E1F7u;
  alignas(LvWordMem) unsigned char ra[sizeof(LvWordMem)], rb[sizeof(LvWordMem)];
  auto clean = [&](const unsigned char* raw) {
    for (size_t i = 0; i + 4 <= sizeof(LvWordMem); ++i) {
      LvWord w;
      std::memcpy(&w, raw + i, 4);
      if (w == secret) return false;
    }
    return true;
  };
  auto secretAt = [&](unsigned char* raw, unsigned int n) {
    LvWordMem* w = new (raw) LvWordMem(n);
    for (unsigned int i = 0; i < n; ++i) w->ptr()[i] = secret;
    return w;
  };
  for (unsigned int n : {1u, 3u}) {
    for (unsigned int m : {0u, 2u, 3u, 4u, 9u}) {
      SCOPED_TRACE(std::to_string(n) + " secret words, " + std::to_string(m) + " others");
      LvWordMem* a = secretAt(ra, n);
      LvWordMem* b = new (rb) LvWordMem(m);
      a->swap(*b);
      EXPECT_TRUE(clean(ra));
      b->~LvWordMem();
      EXPECT_TRUE(clean(rb));
      a->~LvWordMem();

      a = secretAt(ra, n);
      LvWordMem plain(m);
      *a = plain;
      EXPECT_TRUE(clean(ra));
      a->~LvWordMem();

      a = secretAt(ra, n);
      LvWordMem::copy(*a, plain, m);
      EXPECT_TRUE(clean(ra));
      a->~LvWordMem();

      a = secretAt(ra, n);
      a->resize(n + m + 4);  // onto the heap: the inline words are given up
      EXPECT_TRUE(clean(ra));
      a->~LvWordMem();
      EXPECT_TRUE(clean(ra));
    }
  }
}

// Octets read into the inline words (at most 12) or onto the heap leave no copy in the
// object once it is destroyed, swapped with a buffer of the other kind, or assigned over.
TEST(LvWordMem, OctetsReadInlineLeaveNoCopyInTheObject) {
  alignas(LvWordMem) unsigned char ra[sizeof(LvWordMem)], rb[sizeof(LvWordMem)];
  for (bool bigEndian : {true, false}) {
    for (unsigned int n = 1; n <= 16; ++n) {
      SCOPED_TRACE(std::to_string(n) + (bigEndian ? " octets, big-endian" : " octets"));
      LvOctet secret[16];
      // odd octets: a word of them never reads as a pointer's half (even low octet) or a count
      for (unsigned int i = 0; i < n; ++i) secret[i] = static_cast<LvOctet>(0xA1 + 2 * i);
      // every word the reader makes (a short top word included) must be gone afterwards
      std::vector<LvWord> words;
      auto clean = [&](const unsigned char* raw) {
        for (size_t i = 0; i + 4 <= sizeof(LvWordMem); i += 4) {
          LvWord w;
          std::memcpy(&w, raw + i, 4);
          for (LvWord s : words)
            if (w == s) return false;
        }
        return true;
      };
      std::memset(ra, 0, sizeof ra);
      LvWordMem* a = new (ra) LvWordMem(secret, n, bigEndian);
      words.assign(a->ptr(), a->ptr() + a->getCount());
      a->~LvWordMem();
      EXPECT_TRUE(clean(ra));
      for (unsigned int m : {0u, 2u, 7u}) {
        a = new (ra) LvWordMem(secret, n, bigEndian);
        LvWordMem* b = new (rb) LvWordMem(m);
        a->swap(*b);
        EXPECT_TRUE(clean(ra)) << m;
        a->~LvWordMem();
        b->~LvWordMem();
        EXPECT_TRUE(clean(rb)) << m;
        a = new (ra) LvWordMem(secret, n, bigEndian);
        *a = LvWordMem(m);
        EXPECT_TRUE(clean(ra)) << m;
        a->~LvWordMem();
      }
    }
  }
}

// The same for octets: grown onto the heap or destroyed, a small buffer leaves no copy behind.
TEST(LvOctMem, GivenUpOctetsLeaveNoCopyInTheObject) {
  alignas(LvOctMem) unsigned char raw[sizeof(LvOctMem)];
  auto clean = [&] {
    for (unsigned char c : raw)
      if (c == 0xA5) return false;
    return true;
  };
  for (unsigned int n : {1u, 5u, 8u}) {
    SCOPED_TRACE(std::to_string(n) + " octets");
    const LvOctet secret[8] = {0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5};
    LvOctMem* a = new (raw) LvOctMem(secret, n);
    a->~LvOctMem();
    EXPECT_TRUE(clean());
    a = new (raw) LvOctMem(secret, n);
    a->resize(9);
    EXPECT_EQ(hex(a->ptr(), n), hex(secret, n));
    a->~LvOctMem();
    EXPECT_TRUE(clean());
  }
}

TEST(LvUintToOctets, FitsOrRefuses) {
  LvOctet out[6];
  std::memset(out, 0xAA, sizeof out);
  lvUintToOctets(0x01020304u, out, 6);
  EXPECT_EQ(hex(out, 6), "000001020304");
  lvUintToOctets(0x0102u, out, 2);
  EXPECT_EQ(hex(out, 2), "0102");
  EXPECT_THROW(lvUintToOctets(0x010203u, out, 2), LvAccessException);
}

TEST(LvConvOS, HexTextAndConcatenation) {
  LvConvOS a("00ff10Ab");
  EXPECT_EQ(a.getLength(), 4u);
  EXPECT_EQ(hex(a.ptr(), 4), "00ff10ab");
  try {
    LvConvOS bad("0g");
    FAIL();
  } catch (const LvWrongSyntaxException& e) {
    EXPECT_EQ(reasonOf(e),
              "Wrong character in converted string (const char *str). Function accepts only "
              "characters from set {0,1,2,3,4,5,6,7,8,9,A,B,C,D,E,F,a,b,c,d,e,f}.");
  }
  try {
    LvConvOS odd("abc");
    FAIL();
  } catch (const LvWrongSyntaxException& e) {
    EXPECT_EQ(reasonOf(e),
              "Wrong syntax of input string (const char *str). Converted string should have even "
              "number of characters.");
  }
  EXPECT_EQ(LvConvOS("").getLength(), 0u);
  LvConvOS b("0102");
  LvConvOS c = a + b;
  EXPECT_EQ(hex(c.ptr(), c.getLength()), "00ff10ab0102");
  c += c;  // appending itself
  EXPECT_EQ(hex(c.ptr(), c.getLength()), "00ff10ab010200ff10ab0102");
  EXPECT_TRUE(a == LvConvOS("00FF10AB"));
  EXPECT_TRUE(a != b);
  EXPECT_EQ(a[3], 0xab);
  try {
    a[4];
    FAIL();
  } catch (const LvAccessException& e) {
    EXPECT_EQ(reasonOf(e), "To large index.");
  }
  LvConvOS sized(3);
  EXPECT_EQ(sized.getLength(), 0u);
  sized.resize(3);
  EXPECT_EQ(hex(sized.ptr(), 3), "000000");
}

TEST(LvConvASCII, EditingAndSearching) {
  LvConvASCII t("alpha beta");
  EXPECT_EQ(t.getLength(), 11u);  // the NUL counts
  EXPECT_EQ(t.getTextLength(), 10u);
  EXPECT_EQ(LvConvASCII().getLength(), 1u);
  // the empty text is a whole text: its NUL, and room to grow from
  LvConvASCII e;
  EXPECT_EQ(e.getTextLength(), 0u);
  EXPECT_STREQ(e.getText(), "");
  e.append("abcdefghij", 1);
  EXPECT_TRUE(e == "abcdefghij");
  EXPECT_EQ(e.getLength(), 11u);
  EXPECT_EQ(t.find("beta"), 6u);
  EXPECT_EQ(t.find("gamma"), 0xFFFFFFFFu);
  EXPECT_EQ(t.find("a", 100), 0xFFFFFFFFu);
  t.append("!", 3);
  EXPECT_TRUE(t == "alpha beta!!!");
  t.cut(3);
  EXPECT_TRUE(t == "alpha beta");
  LvConvASCII l, r;
  EXPECT_EQ(t.split(l, r, " "), 5u);
  EXPECT_TRUE(l == "alpha");
  EXPECT_TRUE(r == "beta");
  EXPECT_EQ(t.split(l, r, "#"), 0xFFFFFFFFu);
  EXPECT_TRUE(l == "alpha beta");
  EXPECT_TRUE(r == "");
  EXPECT_EQ(t.remove("a"), 3u);
  EXPECT_TRUE(t == "lph bet");
  LvConvASCII s(" a\tb \n");
  EXPECT_EQ(s.removeWhiteSpaces(), 4u);
  EXPECT_TRUE(s == "ab");
  s.cut(100);
  EXPECT_TRUE(s == "");
  s.assign("xy", 2);
  EXPECT_TRUE(s == "xyxy");
  s += LvConvASCII("z");
  EXPECT_TRUE(s == "xyxyz");
  EXPECT_EQ(s.getLength(), 6u);
  EXPECT_TRUE(s != LvConvASCII("xyxy"));
}

TEST(LvConvASCII, ReadLineSkipsCommentsAndJoinsLines) {
  std::string path = tempPath("lines");
  {
    std::ofstream f(path);
    f << "  # a comment line\n\n   first value # trailing\nsecond \\\ncontinued\\x and a very long "
         "line of text\n";
  }
  FILE* f = std::fopen(path.c_str(), "r");
  ASSERT_NE(f, nullptr);
  LvConvASCII line;
  line.readLine(f);
  EXPECT_STREQ(line.getText(), "first value ");
  line.readLine(f);
  EXPECT_STREQ(line.getText(), "second continued\\x and a very long line of text");
  line.readLine(f);
  EXPECT_STREQ(line.getText(), "");
  std::fclose(f);
  std::remove(path.c_str());
}

TEST(LvConv, FilesInAndOut) {
  std::string path = tempPath("file");
  std::string bytes(4096, 'q');
  {
    std::ofstream f(path, std::ios::binary);
    f << bytes;
  }
  LvConvOS c;
  EXPECT_EQ(c.readFile(path.c_str()), 4096u);
  EXPECT_EQ(c.getLength(), 4096u);
  EXPECT_EQ(c.readFile(path.c_str(), 10), 10u);
  try {
    c.readFile("/nonexistent/dir/file");
    FAIL();
  } catch (const LvAccessException& e) {
    EXPECT_EQ(reasonOf(e), "Couldn't open file to read.");
  }
  // "+mode" replaces, a plain name appends
  LvConvOS two("4142");
  two.writeFile((path + "+wb").c_str());
  two.writeFile(path.c_str());
  LvConvOS back;
  back.readFile(path.c_str());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(back.ptr()), back.getLength()), "ABAB");
  two.fprintTxt((path + "+w").c_str(), "[", "]", nullptr);
  back.readFile(path.c_str());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(back.ptr()), back.getLength()),
            "[0x41 0x42 ]");
  try {
    two.writeFile("/nonexistent/dir/file");
    FAIL();
  } catch (const LvAccessException& e) {
    EXPECT_EQ(reasonOf(e), "Coudn't open file to read.");
  }
  try {
    two.fprintTxt("/nonexistent/dir/file", nullptr, nullptr, nullptr);
    FAIL();
  } catch (const LvAccessException& e) {
    EXPECT_EQ(reasonOf(e), "Coudn't open file to write.");
  }
  try {
    two.fprintTxt("/nonexistent/dir/file+w", nullptr, nullptr, nullptr);
    FAIL();
  } catch (const LvAccessException& e) {
    EXPECT_EQ(reasonOf(e), "Coudn't open file.");
  }
  std::remove(path.c_str());
}

// A text read from a file used to lose its terminating NUL: an empty file
// gave the text length 0xFFFFFFFF, and cut() then wrote far outside the
// buffer; a short file left getText() unterminated.
TEST(LvConvASCII, ReadingAFileKeepsOneText) {
  std::string path = tempPath("text");
  { std::ofstream f(path, std::ios::binary); }
  LvConvASCII t("old");
  EXPECT_EQ(t.readFile(path.c_str()), 0u);
  EXPECT_EQ(t.getTextLength(), 0u);
  EXPECT_EQ(t.getLength(), 1u);
  t.cut(1);
  EXPECT_TRUE(t == "");
  {
    std::ofstream f(path, std::ios::binary);
    f << "line one\nline two";
  }
  EXPECT_EQ(t.readFile(path.c_str()), 17u);
  EXPECT_EQ(t.getTextLength(), 17u);
  EXPECT_STREQ(t.getText(), "line one\nline two");
  EXPECT_EQ(t.find("two"), 14u);
  EXPECT_EQ(t.readFile(path.c_str(), 4), 4u);
  EXPECT_TRUE(t == "line");
  t.append("s");
  EXPECT_TRUE(t == "lines");
  std::remove(path.c_str());
}

// Splitting a text into itself used to empty it before the search.
TEST(LvConvASCII, SplitIntoItself) {
  LvConvASCII t("key=value"), left;
  EXPECT_EQ(t.split(left, t, "="), 3u);
  EXPECT_TRUE(left == "key");
  EXPECT_TRUE(t == "value");
  LvConvASCII u("a:b"), right;
  EXPECT_EQ(u.split(u, right, ":"), 1u);
  EXPECT_TRUE(u == "a");
  EXPECT_TRUE(right == "b");
}

TEST(LvCryptoMech, OptionsStrengthAndInfo) {
  LvCryptoMech m;
  EXPECT_TRUE(m.isApproved());
  m.setOption(1);
  m.setOption(4);
  EXPECT_EQ(m.getOptionA(), 5u);
  m.setInfo("opis");
  EXPECT_TRUE(m.getInfo() == "opis");
  LvCryptoMech copy(m);
  EXPECT_TRUE(copy.getInfo() == "opis");
  // The status word: zero at construction, set by the mechanisms that report
  // refusals through it.
  EXPECT_EQ(m.getStatus(), 0u);
  m.setStatus(1);
  EXPECT_EQ(m.getStatus(), 1u);
}

}  // namespace
