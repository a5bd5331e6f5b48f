// Word-vector primitives, classical division, inverse, gcd and Jacobi symbol.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "crypto/algebra/kern_data.h"

using kern::hexWords;
using kern::Words;

TEST(KernWords, AddSubCarryAndBorrowChains) {
  Words a = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
  const Words zero3 = {0, 0, 0};
  EXPECT_EQ(longvAdd(a.data(), zero3.data(), 3, 1), 1u);
  EXPECT_EQ(a, zero3);
  EXPECT_EQ(longvSub(a.data(), zero3.data(), 3, 1), 1u);
  EXPECT_EQ(a, Words(3, 0xFFFFFFFFu));
  EXPECT_EQ(longvAdd(a.data(), zero3.data(), 0, 1), 1u);  // no words: the carry comes back
  EXPECT_EQ(longvSub(a.data(), zero3.data(), 0, 0), 0u);

  // Long forms: the carry runs into the longer operand's upper words.
  Words x = {0xFFFFFFFFu, 0xFFFFFFFFu, 7};
  const LvWord one = 1;
  EXPECT_EQ(longvAddLong(x.data(), 3, &one, 1, 0), 0u);
  EXPECT_EQ(x, (Words{0, 0, 8}));
  EXPECT_EQ(longvSubLong(x.data(), 3, &one, 1, 0), 0u);
  EXPECT_EQ(x, (Words{0xFFFFFFFFu, 0xFFFFFFFFu, 7}));
  // A second operand longer than the first: only the first's words are written, and a
  // nonzero excess is reported as the carry/borrow out.
  Words y = {5};
  const Words big = {1, 0, 2};
  EXPECT_EQ(longvAddLong(y.data(), 1, big.data(), 3, 0), 1u);
  EXPECT_EQ(y, Words{6});
  EXPECT_EQ(longvSubLong(y.data(), 1, big.data(), 3, 0), 1u);
  const Words small = {1, 0, 0};
  EXPECT_EQ(longvAddLong(y.data(), 1, small.data(), 3, 0), 0u);
  EXPECT_EQ(y, Words{6});

  Words ones(4, 0xFFFFFFFFu);
  EXPECT_EQ(longvInc(ones.data(), 4), 1u);
  EXPECT_EQ(ones, Words(4, 0));
  EXPECT_EQ(longvDec(ones.data(), 4), 1u);
  EXPECT_EQ(ones, Words(4, 0xFFFFFFFFu));
  Words z = {0, 1};
  EXPECT_EQ(longvDec(z.data(), 2), 0u);
  EXPECT_EQ(z, (Words{0xFFFFFFFFu, 0}));
}

TEST(KernWords, CompareZeroOneAndCopies) {
  const Words a5 = {5, 0}, b5 = {5}, a51 = {5, 1}, b7 = {7};
  EXPECT_EQ(longvCmpLen(a5.data(), 2, b5.data(), 1), 0);
  EXPECT_EQ(longvCmpLen(a51.data(), 2, b7.data(), 1), 1);
  EXPECT_EQ(longvCmpLen(b7.data(), 1, a51.data(), 2), -1);
  EXPECT_EQ(longvCmp(a51.data(), a5.data(), 2), 1);
  EXPECT_EQ(longvCmp(a51.data(), a5.data(), 0), 0);
  EXPECT_TRUE(longvIsZero(nullptr, 0));
  EXPECT_FALSE(longvIsOne(nullptr, 0));
  const Words one = {1, 0, 0};
  EXPECT_TRUE(longvIsOne(one.data(), 3));
  EXPECT_FALSE(longvIsOne(a51.data(), 2));

  Words v = {1, 2, 3, 4, 5};
  longvCopy(v.data() + 1, v.data(), 4);  // upwards within one vector: top word first
  EXPECT_EQ(v, (Words{1, 1, 2, 3, 4}));
  Words d(4, 9);
  const Words s = {7, 8};
  longvCopyResize(d.data(), 4, s.data(), 2);
  EXPECT_EQ(d, (Words{7, 8, 0, 0}));
  longvCopyResize(d.data(), 1, v.data(), 5);
  EXPECT_EQ(d[0], 1u);
  longvSetWord(d.data(), 4, 42);
  EXPECT_EQ(d, (Words{42, 0, 0, 0}));
  longvSetWord(nullptr, 0, 1);  // nothing to write
  longvZeroize(d.data(), 4);
  EXPECT_EQ(d, Words(4, 0));
}

TEST(KernWords, MultiplyByWordAndShifts) {
  Words a = {0xFFFFFFFFu, 0xFFFFFFFFu};
  EXPECT_EQ(longvMulWord(a.data(), 0xFFFFFFFFu, 2), 0xFFFFFFFEu);  // (2^64-1)(2^32-1)
  EXPECT_EQ(a, (Words{1, 0xFFFFFFFFu}));
  EXPECT_EQ(longvMulWord(a.data(), 3, 0), 0u);
  Words d(2);
  EXPECT_EQ(longvMulWordTo(d.data(), a.data(), 2, 2), 1u);
  EXPECT_EQ(d, (Words{2, 0xFFFFFFFEu}));

  Words s = {0x80000001u, 0x00000003u, 0};
  EXPECT_EQ(longvShl(s.data(), 3, 0), 0u);
  EXPECT_EQ(longvShl(s.data(), 3, 32), 0u);
  EXPECT_EQ(s, (Words{0, 0x80000001u, 3}));
  EXPECT_EQ(longvShl(s.data(), 3, 31), 1u);  // the top word's low bit leaves
  EXPECT_EQ(s, (Words{0, 0x80000000u, 0xC0000000u}));
  EXPECT_EQ(longvShr(s.data(), 3, 33), 0u);
  EXPECT_EQ(s, (Words{0x40000000u, 0x60000000u, 0}));
  EXPECT_EQ(longvShr(s.data(), 3, 31), 0x80000000u);
  EXPECT_EQ(s, (Words{0xC0000000u, 0, 0}));
  // Whole-word shifts at or past the length clear the vector instead of running off its end.
  Words w = {1, 2, 3};
  longvShlWords(w.data(), 3, 3);
  EXPECT_EQ(w, Words(3, 0));
  w = {1, 2, 3};
  longvShlWords(w.data(), 3, 1000);
  EXPECT_EQ(w, Words(3, 0));
  w = {1, 2, 3};
  EXPECT_EQ(longvShl(w.data(), 3, 200), 0u);
  EXPECT_EQ(w, Words(3, 0));
  w = {1, 2, 3};
  EXPECT_EQ(longvShr(w.data(), 3, 0xFFFFFFFFu), 0u);
  EXPECT_EQ(w, Words(3, 0));
  w = {3, 5};
  longvShr1(w.data(), 2);
  EXPECT_EQ(w, (Words{0x80000001u, 2}));
  longvShr1(nullptr, 0);
}

// The masked table scan: every entry of every table shape comes back whole (the 16-word
// vector blocks and the word-by-word tail alike), an index past the table gives zeros, and
// nothing beyond the words asked for is written.
TEST(KernWords, CtSelectReturnsTheIndexedEntry) {
  std::mt19937 rng(7);
  for (LvWordLen words : {1u, 15u, 16u, 17u, 32u, 33u, 64u}) {
    for (unsigned int entries : {1u, 2u, 16u, 32u}) {
      SCOPED_TRACE("words " + std::to_string(words) + " entries " + std::to_string(entries));
      Words table(static_cast<size_t>(words) * entries);
      for (auto& w : table) w = static_cast<LvWord>(rng());
      for (unsigned int idx = 0; idx <= entries; ++idx) {
        Words out(words + 1, 0xA5A5A5A5u);
        longvCtSelect(out.data(), table.data(), entries, words, idx);
        Words want(words + 1, 0);
        if (idx < entries)
          std::copy(table.begin() + static_cast<long>(idx) * words,
                    table.begin() + static_cast<long>(idx + 1) * words, want.begin());
        want[words] = 0xA5A5A5A5u;
        EXPECT_EQ(out, want) << "index " << idx;
      }
    }
  }
}

TEST(KernDiv, QuotientAndRemainderMatchPythonIntegers) {
  auto cases = kern::readCases("div.txt");
  ASSERT_GT(cases.size(), 300u);
  for (const auto& c : cases) {
    const LvWordLen nx = LvWordLen(std::stoul(c[0])), nm = LvWordLen(std::stoul(c[1]));
    const Words x = hexWords(c[2], nx), m = hexWords(c[3], nm);
    const Words q = kern::trimmed(hexWords(c[4])), r = hexWords(c[5], nx);
    SCOPED_TRACE("x=" + c[2] + " m=" + c[3] + " nm=" + c[1]);
    LvWordLen mEff = nm;
    while (mEff > 0 && m[mEff - 1] == 0) --mEff;
    // Exactly the documented quotient size, so that any write past it is seen.
    Words qq(nx >= mEff ? nx - mEff + 1 : 1, 0xA5A5A5A5u);
    Words xx = x;
    LvWordLen nq = 12345;
    longvDivClassical(xx.data(), nx, m.data(), nm, qq.data(), &nq);
    ASSERT_EQ(xx, r);
    if (c[4] == "0") {
      ASSERT_EQ(nq, 0u);
    } else {
      ASSERT_EQ(Words(qq.begin(), qq.begin() + nq), q);
    }
    Words x2 = x, cc(nx + 2, 0xA5A5A5A5u);
    longvModClassical(x2.data(), nx, m.data(), nm, cc.data(), nx + 2);
    ASSERT_EQ(x2, r);
    Words rr = r;
    rr.resize(nx + 2, 0);
    ASSERT_EQ(cc, rr);  // zero-extended past the dividend's words
    Words x3 = x;
    longvModInPlace(x3.data(), nx, m.data(), nm);
    ASSERT_EQ(x3, r);
  }
}

TEST(KernDiv, EdgeCases) {
  const Words m = {0, 0x80000000u};  // top bit already set: no normalisation shift
  Words x = m;
  Words q(1);
  LvWordLen nq = 0;
  longvDivClassical(x.data(), 2, m.data(), 2, q.data(), &nq);
  EXPECT_EQ(x, Words(2, 0));
  EXPECT_EQ(nq, 1u);
  EXPECT_EQ(q[0], 1u);
  x = {0xFFFFFFFFu, 0x7FFFFFFFu};  // m - 1: no quotient
  longvDivClassical(x.data(), 2, m.data(), 2, q.data(), &nq);
  EXPECT_EQ(nq, 0u);
  EXPECT_EQ(x, (Words{0xFFFFFFFFu, 0x7FFFFFFFu}));
  Words empty;
  longvDivClassical(empty.data(), 0, m.data(), 2, q.data(), &nq);
  EXPECT_EQ(nq, 0u);
}

TEST(KernDiv, ZeroDivisorThrowsBeforeAnyOutput) {
  const Words zero = {0, 0};
  Words x = {1, 2, 3}, q = {7, 7, 7}, c = {9, 9, 9};
  LvWordLen nq = 77;
  try {
    longvDivClassical(x.data(), 3, zero.data(), 2, q.data(), &nq);
    FAIL() << "no exception";
  } catch (const LvDivByZeroException& e) {
    EXPECT_NE(std::string(e.what()).find("REASON: Division by zero.\n"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("FILE: lvalgebra/lvnumbers/div\nLINE: 100\n"),
              std::string::npos);
  }
  EXPECT_THROW(longvDivClassical(x.data(), 3, zero.data(), 0, q.data(), &nq), LvInvException);
  try {
    longvModClassical(x.data(), 3, zero.data(), 2, c.data(), 3);
    FAIL() << "no exception";
  } catch (const LvCriticalException& e) {
    EXPECT_NE(std::string(e.what()).find("FILE: lvalgebra/lvnumbers/mod\nLINE: 128\n"),
              std::string::npos);
  }
  EXPECT_THROW(longvModInPlace(x.data(), 3, zero.data(), 1), LvDivByZeroException);
  EXPECT_EQ(x, (Words{1, 2, 3}));
  EXPECT_EQ(q, (Words{7, 7, 7}));
  EXPECT_EQ(c, (Words{9, 9, 9}));
  EXPECT_EQ(nq, 77u);
}

TEST(KernInverse, MatchesPythonIntegers) {
  auto cases = kern::readCases("inv.txt");
  ASSERT_GT(cases.size(), 100u);
  size_t none = 0;
  for (const auto& c : cases) {
    const LvWordLen n = LvWordLen(std::stoul(c[0]));
    const Words x = hexWords(c[1], n), m = hexWords(c[2], n);
    SCOPED_TRACE("x=" + c[1] + " m=" + c[2]);
    Words out(n);
    LvWord r = longvModInverse(out.data(), x.data(), m.data(), n);
    if (c[3] == "-") {
      EXPECT_EQ(r, 1u);
      ++none;
    } else {
      ASSERT_EQ(r, 0u);
      ASSERT_EQ(out, hexWords(c[3], n));
    }
  }
  EXPECT_GT(none, 10u);
  // A zero modulus has no inverse, and the loop must not wait for it to turn odd.
  const Words zero = {0, 0}, three = {3, 0};
  Words out(2);
  EXPECT_EQ(longvModInverse(out.data(), three.data(), zero.data(), 2), 1u);
  EXPECT_EQ(longvModInverse(nullptr, nullptr, nullptr, 0), 1u);
}

// The constant-time inverse on the same cases, where it applies (odd modulus, value below it):
// the inverse, or the answer that there is none.
TEST(KernCtInverse, MatchesPythonIntegers) {
  size_t checked = 0, none = 0;
  for (const auto& c : kern::readCases("inv.txt")) {
    const LvWordLen n = LvWordLen(std::stoul(c[0]));
    const Words x = hexWords(c[1], n), m = hexWords(c[2], n);
    if ((m[0] & 1) == 0 || longvCmp(x.data(), m.data(), n) >= 0 || longvIsOne(m.data(), n))
      continue;
    SCOPED_TRACE("x=" + c[1] + " m=" + c[2]);
    ++checked;
    Words out(n + 1, 0xA5A5A5A5u);
    const LvWord ok = longvCtModInverse(out.data(), x.data(), m.data(), n);
    EXPECT_EQ(out[n], 0xA5A5A5A5u);  // nothing past its words
    out.resize(n);
    if (c[3] == "-") {
      EXPECT_EQ(ok, 0u);
      ++none;
    } else {
      ASSERT_EQ(ok, 0xFFFFFFFFu);
      ASSERT_EQ(out, hexWords(c[3], n));
    }
  }
  EXPECT_GT(checked, 60u);
  EXPECT_GT(none, 5u);
  // The edges of the step count: 1, m - 1 and 2^(32n) - 1's neighbours, one word and many.
  const Words m1 = {0xFFFFFFFFu}, m3 = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
  for (const Words* m : {&m1, &m3}) {
    const LvWordLen n = LvWordLen(m->size());
    Words one(n), minus(*m), out(n);
    one[0] = 1;
    minus[0] -= 1;
    EXPECT_EQ(longvCtModInverse(out.data(), one.data(), m->data(), n), 0xFFFFFFFFu);
    EXPECT_EQ(out, one);
    EXPECT_EQ(longvCtModInverse(out.data(), minus.data(), m->data(), n), 0xFFFFFFFFu);
    EXPECT_EQ(out, minus);  // (-1)^-1 = -1
    Words zero(n);
    EXPECT_EQ(longvCtModInverse(out.data(), zero.data(), m->data(), n), 0u);
  }
  // A modulus whose top bit is set (the halving's carry), checked by multiplication, with the
  // step count following a's bound.
  const unsigned __int128 p = 0xFFFFFFFFFFFFFFC5u;  // 2^64 - 59, prime
  const Words pw = {0xFFFFFFC5u, 0xFFFFFFFFu};
  std::mt19937_64 rng(5);
  for (int i = 0; i < 200; ++i) {
    const uint64_t a = i < 2 ? 1 + i : rng() % 0xFFFFFFFFFFFFFFC5u;
    const unsigned int bits = i % 2 ? 64 - __builtin_clzll(a | 1) : 0;
    const Words aw = {static_cast<LvWord>(a), static_cast<LvWord>(a >> 32)};
    Words out(2);
    ASSERT_EQ(longvCtModInverse(out.data(), aw.data(), pw.data(), 2, bits), a ? 0xFFFFFFFFu : 0u);
    if (a == 0) continue;
    const unsigned __int128 inv = out[0] | static_cast<unsigned __int128>(out[1]) << 32;
    ASSERT_LT(inv, p);
    ASSERT_EQ(static_cast<uint64_t>(a * inv % p), 1u) << a;
  }
}

// Quotient and remainder of the constant-time division against the python cases whose divisor
// has its top word nonzero (as the callers give it).
TEST(KernCtDiv, MatchesPythonIntegers) {
  size_t checked = 0;
  for (const auto& c : kern::readCases("div.txt")) {
    const LvWordLen nx = LvWordLen(std::stoul(c[0])), nm = LvWordLen(std::stoul(c[1]));
    const Words x = hexWords(c[2], nx), m = hexWords(c[3], nm);
    if (nm == 0 || m[nm - 1] == 0) continue;
    SCOPED_TRACE("x=" + c[2] + " m=" + c[3]);
    ++checked;
    Words q(nx + 1, 0xA5A5A5A5u), r(nm + 1, 0xA5A5A5A5u);
    longvCtDivMod(q.data(), r.data(), x.data(), nx, m.data(), nm);
    EXPECT_EQ(q[nx], 0xA5A5A5A5u);
    EXPECT_EQ(r[nm], 0xA5A5A5A5u);
    q.resize(nx);
    r.resize(nm);
    ASSERT_EQ(kern::trimmed(q), kern::trimmed(hexWords(c[4])));
    ASSERT_EQ(r, hexWords(c[5], nm));
    Words r2(nm);
    longvCtMod(r2.data(), x.data(), nx, m.data(), nm);
    ASSERT_EQ(r2, r);
  }
  EXPECT_GT(checked, 100u);
}

TEST(KernGcd, MatchesPythonIntegers) {
  auto cases = kern::readCases("gcd.txt");
  ASSERT_GT(cases.size(), 100u);
  for (const auto& c : cases) {
    const Words a = hexWords(c[0]), b = hexWords(c[1]), g = hexWords(c[2]);
    SCOPED_TRACE("a=" + c[0] + " b=" + c[1]);
    const LvWordLen na = LvWordLen(a.size()), nb = LvWordLen(b.size());
    const LvWordLen nout = na > nb ? na : nb;
    Words out(nout, 0x5A5A5A5Au);
    longvGcd(a.data(), na, b.data(), nb, out.data(), nout);
    ASSERT_EQ(kern::trimmed(out), g);
    // out may be the first operand itself (how the natural-number gcd calls it).
    Words inplace = b;
    inplace.resize(nout, 0);
    longvGcd(inplace.data(), nout, a.data(), na, inplace.data(), nout);
    ASSERT_EQ(kern::trimmed(inplace), g);
  }
}

TEST(KernJacobi, MatchesEulerCriterionOverKnownFactors) {
  auto cases = kern::readCases("jacobi.txt");
  ASSERT_GT(cases.size(), 150u);
  for (const auto& c : cases) {
    const Words a = hexWords(c[0]), n = hexWords(c[1]);
    SCOPED_TRACE("a=" + c[0] + " n=" + c[1]);
    ASSERT_EQ(longvJacobi(a.data(), LvWordLen(a.size()), n.data(), LvWordLen(n.size())),
              std::stoi(c[2]));
  }
  EXPECT_EQ(longvJacobi(nullptr, 0, nullptr, 0), 0);
  const LvWord seven = 7;
  EXPECT_EQ(longvJacobi(nullptr, 0, &seven, 1), 0);  // (0/7)
}

// Every length combination up to three words on exact-size heap buffers (so the sanitizer sees
// any read or write past them), against the compiler's 128-bit integers.
namespace {

typedef unsigned __int128 U128;

Words toWords(U128 v, LvWordLen n) {
  Words w(n);
  for (LvWordLen i = 0; i < n; ++i) w[i] = LvWord(v >> (32 * i));
  return w;
}
U128 fromWords(const Words& w) {
  U128 v = 0;
  for (size_t i = w.size(); i > 0; --i) v = (v << 32) | w[i - 1];
  return v;
}
U128 mask(LvWordLen n) { return n >= 4 ? ~U128(0) : (U128(1) << (32 * n)) - 1; }

U128 randomValue(std::mt19937_64& rng, LvWordLen n) {
  U128 v = (U128(rng()) << 64) | rng();
  switch (rng() % 4) {
    case 0: v = ~U128(0); break;  // all ones
    case 1: v &= 0xFFu; break;    // small
    default: break;
  }
  return v & mask(n);
}

}  // namespace

TEST(KernWords, EveryLengthCombinationStaysInItsBuffers) {
  std::mt19937_64 rng(7);
  for (int round = 0; round < 60; ++round) {
    for (LvWordLen na = 0; na <= 3; ++na) {
      for (LvWordLen nb = 0; nb <= 3; ++nb) {
        const U128 av = randomValue(rng, na), bv = randomValue(rng, nb);
        const Words a = toWords(av, na), b = toWords(bv, nb);
        SCOPED_TRACE(testing::Message() << "na=" << na << " nb=" << nb);
        // Long add and subtract (the first operand's words only are written).
        Words s = a;
        LvWord c = longvAddLong(s.data(), na, b.data(), nb, 0);
        EXPECT_EQ(fromWords(s), (av + bv) & mask(na));
        EXPECT_EQ(c, (av + bv) > mask(na) ? 1u : 0u);
        s = a;
        c = longvSubLong(s.data(), na, b.data(), nb, 0);
        EXPECT_EQ(fromWords(s), (av - bv) & mask(na));
        EXPECT_EQ(c, bv > av ? 1u : 0u);
        const int cmp = longvCmpLen(a.data(), na, b.data(), nb);
        EXPECT_EQ(cmp, av > bv ? 1 : (av < bv ? -1 : 0));
        // Product of up to two words by up to two words fits 128 bits.
        if (na <= 2 && nb <= 2) {
          Words p(na + nb);
          longvMul(p.data(), a.data(), na, b.data(), nb);
          EXPECT_EQ(fromWords(p), av * bv);
        }
        // Division with a divisor given with high zero words.
        if (nb > 0 && bv != 0) {
          LvWordLen mEff = nb;
          while (b[mEff - 1] == 0) --mEff;
          Words x = a, q(na >= mEff ? na - mEff + 1 : 1);
          LvWordLen nq = 99;
          longvDivClassical(x.data(), na, b.data(), nb, q.data(), &nq);
          EXPECT_EQ(fromWords(x), av % bv);
          Words qt(q.begin(), q.begin() + nq);
          EXPECT_EQ(fromWords(qt), av / bv);
          for (LvWordLen cw : {LvWordLen(0), na, LvWordLen(na + 2)}) {
            Words x2 = a, cc(cw, 0x77777777u);
            longvModClassical(x2.data(), na, b.data(), nb, cc.data(), cw);
            EXPECT_EQ(fromWords(cc), (av % bv) & mask(cw));
          }
          // Jacobi (odd n) and gcd on the same lengths.
          if (bv & 1) {
            const int j = longvJacobi(a.data(), na, b.data(), nb);
            EXPECT_TRUE(j == 0 || j == 1 || j == -1);
          }
        }
        // Inverse on equal lengths up to two words: a * out = 1 (mod b) exactly when the
        // gcd is 1.
        if (na == nb && na > 0 && na <= 2 && bv > 1) {
          Words inv(na);
          const LvWord r = longvModInverse(inv.data(), a.data(), b.data(), na);
          U128 x = av, y = bv;
          while (y != 0) {
            U128 t = x % y;
            x = y;
            y = t;
          }
          EXPECT_EQ(r, x == 1 ? 0u : 1u);
          if (r == 0) {
            EXPECT_LT(fromWords(inv), bv);
            EXPECT_EQ(av % bv * fromWords(inv) % bv, U128(1));
          }
        }
        Words g(na > nb ? na : nb);
        if (!g.empty()) {
          longvGcd(a.data(), na, b.data(), nb, g.data(), LvWordLen(g.size()));
          U128 x = av, y = bv;
          while (y != 0) {
            U128 r = x % y;
            x = y;
            y = r;
          }
          EXPECT_EQ(fromWords(g), x);
        }
      }
      // Shifts of any bit count on every length.
      const U128 av = randomValue(rng, na);
      for (unsigned int bits : {0u, 1u, 31u, 32u, 33u, 64u, 95u, 96u, 97u, 200u}) {
        Words w = toWords(av, na);
        longvShl(w.data(), na, bits);
        EXPECT_EQ(fromWords(w), bits >= 128 ? 0 : (av << bits) & mask(na));
        w = toWords(av, na);
        longvShr(w.data(), na, bits);
        EXPECT_EQ(fromWords(w), bits >= 128 ? 0 : av >> bits);
      }
    }
  }
}
