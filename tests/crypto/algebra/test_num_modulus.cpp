// Moduli and residues: exponentiation and inversion against Python's integers
// for every reduction kind, the CRT and factor paths, and the edge cases.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "crypto/algebra/test_num_util.h"

namespace {

using namespace numtest;

const char* kP256 = "ffffffff00000001000000000000000000000000ffffffffffffffffffffffff";

}  // namespace

TEST(NumModulus, PowerMatchesReferenceForEveryKind) {
  auto rows = vectors("pow");
  ASSERT_GT(rows.size(), 100u);
  for (const auto& r : rows) {
    SCOPED_TRACE(r[1] + " " + r[2] + " " + r[4]);
    LvModulus m(fromHex(r[2]), std::stoi(r[1]));
    LvZn x(fromHex(r[3]), &m);
    LvN e = fromHex(r[4]);
    EXPECT_TRUE(pow(x, e).getN() == fromHex(r[5]));
    if (e.getBitLength() <= 32) {
      EXPECT_TRUE(pow(x, e.getLowWord()).getN() == fromHex(r[5]));
    }
    // The residue round-trips through the working form.
    EXPECT_TRUE(x.getN() == fromHex(r[3]));
  }
}

TEST(NumModulus, InverseMatchesReference) {
  for (const auto& r : vectors("inv")) {
    SCOPED_TRACE(r[1] + " " + r[2]);
    LvModulus m(fromHex(r[2]), std::stoi(r[1]));
    LvZn x(fromHex(r[3]), &m);
    LvZn inv = 1 / x;
    EXPECT_TRUE(inv.getN() == fromHex(r[4]));
    EXPECT_TRUE(x * inv == 1);
    LvZn y(fromHex(r[3]) + 12345u, &m);
    EXPECT_TRUE(((y / x) * x) == y);
  }
}

TEST(NumModulus, CrtAndFactorPathsAgree) {
  auto rows = vectors("crt");
  ASSERT_FALSE(rows.empty());
  for (const auto& r : rows) {
    LvN p = fromHex(r[1]), q = fromHex(r[2]), d = fromHex(r[3]), x = fromHex(r[4]);
    LvN expect = fromHex(r[5]);
    LvModulus mp(p, 9), mq(q, 9);
    LvN qinv = (1 / LvZn(q, &mp)).getN();

    LvModulus crt(p * q, 8);
    crt.setCrt(mp, mq, qinv);
    EXPECT_EQ(crt.getFlags() & LvModulus::FLAG_CRT, LvModulus::FLAG_CRT);
    EXPECT_TRUE(pow(LvZn(x, &crt), d).getN() == expect);

    LvModulus fac(p * q, 8);
    EXPECT_TRUE(fac.setFactor(p));
    EXPECT_EQ(fac.getFlags() & LvModulus::FLAG_CRT, LvModulus::FLAG_FACTORS);
    EXPECT_TRUE(pow(LvZn(x, &fac), d).getN() == expect);

    // CRT data that does not describe the modulus is not installed.
    LvModulus bad(p * q, 8);
    bad.setCrt(mp, mq, qinv + 1u);
    EXPECT_NE(bad.getFlags() & LvModulus::FLAG_CRT, LvModulus::FLAG_CRT);
    EXPECT_TRUE(pow(LvZn(x, &bad), d).getN() == expect);

    // A copy keeps the CRT data.
    LvModulus copy(crt);
    EXPECT_TRUE(pow(LvZn(x, &copy), d).getN() == expect);
  }
}

TEST(NumModulus, KindsChosenAtSetUp) {
  LvModulus special(LvN((std::string("0x") + kP256).c_str()), 41);
  EXPECT_EQ(special.getKind(), LvModulus::KIND_PLAIN);
  EXPECT_EQ(special.getSpecialSize(), 256u);
  LvModulus mont(LvN((std::string("0x") + kP256).c_str()), 8);
  EXPECT_EQ(mont.getKind(), LvModulus::KIND_MONT);
  EXPECT_EQ(mont.getSpecialSize(), 0u);
  LvModulus even(LvN("1000000000000000000000000000000"), 8);
  EXPECT_EQ(even.getKind(), LvModulus::KIND_EVEN);
  LvZn a(LvN("123456789012345678901234567"), &even), b(LvN("98765432109876543"), &even);
  EXPECT_TRUE((a * b).getN() ==
              LvN("123456789012345678901234567") * LvN("98765432109876543") %
                  LvN("1000000000000000000000000000000"));
  LvModulus ext(LvN("0xfffffffffffffffffffffffffffffffbd"), 16);
  EXPECT_EQ(ext.getKind(), LvModulus::KIND_MONT_EXT);
  EXPECT_EQ(ext.getWorkWords(), ext.getUsed() + 1);
}

TEST(NumModulus, ResidueEdgeCases) {
  LvModulus m(LvN("1000003"), 9);
  LvZn x(LvN(77u, 1), &m);
  EXPECT_TRUE(pow(x, 0u) == 1);
  EXPECT_TRUE(pow(x, LvN()) == 1);
  EXPECT_TRUE(LvZn(-1, &m).getN() == LvN("1000002"));
  EXPECT_TRUE(LvZn("-5", &m).getN() == LvN("999998"));
  EXPECT_TRUE((-x).getN() == LvN("999926"));
  EXPECT_TRUE((x - x) == 0);
  EXPECT_TRUE((LvZn(3, &m) - LvZn(5, &m)).getN() == LvN("1000001"));
  EXPECT_TRUE((LvZn(1000002, &m) + LvZn(5, &m)).getN() == 4u);

  LvZn zero(0, &m);
  EXPECT_TRUE((zero / zero) == 0);
  EXPECT_THROW(x / zero, LvDivByZeroException);
  LvZn y = x;
  y = 0;
  EXPECT_TRUE(y == 0);
  EXPECT_EQ(y.getCount(), x.getCount());
  LvZn unbound;
  EXPECT_THROW(unbound = 5, LvNotInitException);

  // No inverse modulo a composite.
  LvModulus c(LvN(15u, 1), 8);
  EXPECT_THROW(1 / LvZn(3, &c), LvInvException);

  // A residue may not meet one of another modulus.
  LvModulus other(LvN("0x1000000000000000000000001"), 8);
  LvZn z(5, &other);
  EXPECT_THROW(x *= z, LvArgumentRangeException);

  // A residue built modulo zero fails as the reduction by zero does; without a
  // modulus it is uninitialised. Every way of building one.
  const unsigned char octet = 9;
  const std::function<void(const LvModulus*)> builders[] = {
      [](const LvModulus* m) { LvZn(1, m); },
      [](const LvModulus* m) { LvZn(-1, m); },
      [](const LvModulus* m) { LvZn(LvN(5u, 1), m); },
      [](const LvModulus* m) { LvZn("-7", m); },
      [&octet](const LvModulus* m) { LvZn(&octet, 1, 0, m); },
      [](const LvModulus* m) { LvZn(LvWordMem(2), m); },
  };
  for (int options : {0, 8}) {
    LvModulus zeroMod(LvN(), options);
    for (const auto& build : builders) {
      EXPECT_THROW(build(nullptr), LvNotInitException);
      try {
        build(&zeroMod);
        ADD_FAILURE() << "no exception, options " << options;
      } catch (const LvDivByZeroException& e) {
        EXPECT_NE(std::string(e.what()).find("\nREASON: Division by zero.\n"), std::string::npos);
      }
    }
    // Assigning an int checks the modulus before any reduction: a zero one is
    // uninitialised as a missing one is, with the assignment's own text, and
    // the residue keeps its value.
    const std::string notInit =
        "LIBRARY: libvorinpp\nEXCEPTION: LvNotInitException\nREASON: Uninitialised modulus "
        "pointer or modulus equel zero.\nFUNCTION: LvZn& LvZn::operator =(int a)\nFILE: "
        "lvalgebra/lvnumbers/zn_assign\nLINE: 50\n";
    LvModulus seven(LvN(7u, 1), options);
    LvZn held(3, &seven);
    const std::vector<LvWord> before(held.getWords(), held.getWords() + seven.getWorkWords());
    seven = zeroMod;
    LvZn unset;
    for (int a : {0, 5, -1}) {
      for (LvZn* target : {&held, &unset}) {
        try {
          *target = a;
          ADD_FAILURE() << "no exception, a " << a << ", options " << options;
        } catch (const LvNotInitException& e) {
          EXPECT_EQ(notInit, e.what()) << a;
        }
      }
      EXPECT_EQ(before, std::vector<LvWord>(held.getWords(), held.getWords() + before.size()));
    }
  }

  // Words written directly are brought back below the modulus by division,
  // not by an unbounded run of subtractions.
  LvModulus three(LvN(3u, 1), 16);
  LvZn w(1, &three);
  for (LvWordLen i = 0; i < w.getCount(); ++i) w.getWords()[i] = 0xFFFFFFFF;
  EXPECT_TRUE((w + w).getN() < 3u);
  EXPECT_TRUE(w.getN() < 3u);

  // A residue whose modulus was prepared again is refused, not read past.
  LvModulus again(LvN("1000003"), 8);
  LvZn stale(5, &again);
  again = LvModulus(LvN("0x10000000000000000000000000000000000001"), 16);
  EXPECT_FALSE(stale.isCurrent());
  EXPECT_THROW(stale *= stale, LvNotInitException);
  EXPECT_THROW(stale.getN(), LvNotInitException);
  EXPECT_THROW((void)(stale == 1), LvNotInitException);

  // A non-divisor records no factorisation.
  LvModulus f(LvN("1000003"), 8);
  EXPECT_FALSE(f.setFactor(LvN(7u, 1)));
  EXPECT_EQ(f.getFlags() & LvModulus::FLAG_FACTORS, 0u);
  EXPECT_TRUE(pow(LvZn(2, &f), LvN("0x10000000000000001")).getN() ==
              pow(LvZn(2, &m), LvN("0x10000000000000001")).getN());
}

// R, R^2 and R^3 of the Montgomery set-up (made without a division for secret moduli) against
// powers of two reduced by the division: every modulus size of the kernels, top words from 1
// to all ones, the sparse form and the degenerate modulus 1.
TEST(NumModulus, MontgomeryConstantsMatchTheDivision) {
  const char* moduli[] = {
      "1", "3", "ffffffff", "10001", "100000001", "ffffffff00000001000000000000000000000001", kP256,
      "1000000000000000000000000000000000000000000000000000000000000000d",
      // a long one with a full top word (the test keys' p, q and n follow)
      "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"
      "fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"
      "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"
      "ffffffffffffffffffff61"};
  std::vector<LvN> all;
  for (const char* m : moduli) all.push_back(fromHex(m));
  for (const char* f : {"openssl_key_512.txt", "openssl_key_1025.txt", "openssl_key.txt"}) {
    auto c = keyFile(f);
    for (const char* part : {"p", "q", "n"}) all.push_back(num(c[part]));
  }
  for (const LvN& mv : all) {
    SCOPED_TRACE(mv.toString().getText());
    // Montgomery for a public modulus (the division), for a secret one and a secret prime
    for (int options : {8, 8 | 64, 9 | 64}) {
      const LvModulus m(mv, options);
      ASSERT_EQ(m.getKind(), LvModulus::KIND_MONT);
      const LvWordLen k = m.getUsed();
      const LvWordMem* got[] = {&m.getR(), &m.getR2(), &m.getR3()};
      for (unsigned int i = 1; i <= 3; ++i) {
        LvN want(1u, 1);
        want <<= 32 * k * i;
        want %= mv;
        ASSERT_EQ(got[i - 1]->getCount(), k);
        EXPECT_TRUE(LvN(*got[i - 1]) == want) << "R^" << i;
      }
    }
  }
}

// The public set-up's limb-wise powers of the radix against the division on a few thousand
// random odd moduli of 1 to 130 words, for both Montgomery kinds and the set-up that makes R
// and R^2 on first use, with top words that stress the quotient estimate (all ones, just above
// a power of two, a single bit) and runs of ones below them; R^3, made on first use, also in a
// copy made before that use. The Montgomery form by limbs equals the product with R^2.
TEST(NumModulus, PublicRadixPowersMatchTheDivision) {
  std::mt19937 gen(20240611);
  const LvWord tops[] = {0, 0xffffffffu, 1u, 0x80000000u, 0x80000001u, 0x0000ffffu};
  for (int it = 0; it < 2400; ++it) {
    const unsigned int k = 1 + gen() % 130;
    std::vector<LvWord> w(k);
    for (auto& x : w) x = gen();
    const LvWord top = tops[it % 6];
    if (top != 0) w[k - 1] = top;
    if (it % 5 == 0)
      for (unsigned int i = 0; i + 1 < k && i < 3; ++i) w[k - 2 - i] = 0xffffffffu;
    if (w[k - 1] == 0) w[k - 1] = 1;
    w[0] |= 1;
    LvN mv(w.data(), k);
    if (mv <= 1u) continue;
    std::vector<LvWord> x(k), viaR2(2 * k), viaLimbs(k);
    for (auto& v : x) v = gen();
    x[k - 1] %= w[k - 1];
    LvModulus product(mv, 8);
    product.mulWords(viaR2.data(), x.data(), product.getR2().ptr());
    longvToMontPublic(viaLimbs.data(), x.data(), mv.getWords(), k);
    ASSERT_TRUE(LvN(viaLimbs.data(), k) == LvN(viaR2.data(), k));
    for (int options : {8, 16, 8 | 128}) {
      SCOPED_TRACE(std::to_string(options) + " " + mv.toString().getText());
      const LvModulus m(mv, options);
      const LvModulus early(m);
      const LvWordLen kw = m.getWorkWords();
      const LvWordMem* got[] = {&m.getR(), &m.getR2(), &m.getR3(), &early.getR3()};
      for (unsigned int i = 1; i <= 4; ++i) {
        LvN want(1u, 1);
        want <<= 32 * kw * (i == 4 ? 3 : i);
        want %= mv;
        ASSERT_EQ(got[i - 1]->getCount(), kw);
        ASSERT_TRUE(LvN(*got[i - 1]) == want) << "R^" << i;
      }
    }
  }
}

// A number read from octets, through the inline words (up to 12 octets) or the heap, on the
// masked and the public road and from its hexadecimal text: its sizes, low word, parity and
// minimal octets against what the octets themselves say, at every length to 17 with every
// count of zero octets in front (0 itself included).
TEST(NumModulus, OctetNumbersAnswerFromTheirOctets) {
  const char* digits = "0123456789abcdef";
  for (unsigned int len = 0; len <= 17; ++len) {
    for (unsigned int zeros = 0; zeros <= len; ++zeros) {
      SCOPED_TRACE(std::to_string(len) + " octets, " + std::to_string(zeros) + " zero");
      Bytes o(len);
      for (unsigned int i = 0; i < len; ++i)
        o[i] = i < zeros ? 0 : static_cast<LvOctet>(0x3B * (i + 1) + len);
      // what the octets say: the significant ones, their bits, the low four as a word
      Bytes sig(o.begin() + zeros, o.end());
      while (!sig.empty() && sig[0] == 0) sig.erase(sig.begin());
      unsigned int bits = 0;
      if (!sig.empty()) {
        bits = 8 * static_cast<unsigned int>(sig.size() - 1);
        for (LvOctet top = sig[0]; top != 0; top >>= 1) ++bits;
      }
      LvWord low = 0;
      for (unsigned int i = 0; i < 4 && i < len; ++i) low |= LvWord(o[len - 1 - i]) << (8 * i);
      std::string text = "0x0";
      for (LvOctet c : o) text += std::string{digits[c >> 4], digits[c & 15]};
      const LvN masked(o.data(), len), pub = LvN::fromPublicOctets(o.data(), len),
                                       fromText(text.c_str());
      for (const LvN* x : {&masked, &pub, &fromText}) {
        EXPECT_EQ(x->getOctetLength(), sig.size());
        EXPECT_EQ(x->getBitLength(), bits == 0 ? 1u : bits);
        EXPECT_EQ(x->getUsed(), sig.empty() ? 1u : (sig.size() + 3) / 4);
        EXPECT_EQ(x->getLowWord(), low);
        EXPECT_EQ(x->getWords()[0], low);
        EXPECT_EQ(x->isZero(), sig.empty());
        EXPECT_EQ(x->isEven(), (low & 1) == 0);
        Bytes out(20, 0xEE);
        const unsigned int got = x->getOctets(out.data(), static_cast<unsigned int>(out.size()));
        out.resize(got);
        EXPECT_EQ(out, sig.empty() ? Bytes{0} : sig);
      }
    }
  }
}

// A public number or modulus read from octets (its length found from the words) equals the
// masked road's: every length over the inline sizes and the two-word steps, with zero octets
// and zero words in front; a modulus prepared again keeps no power of its old value.
TEST(NumModulus, PublicOctetsReadAsTheMaskedRoad) {
  std::mt19937 gen(20261207);
  for (unsigned int len = 1; len <= 41; ++len) {
    for (unsigned int zeros : {0u, 1u, 3u, 4u, 8u, 41u}) {
      SCOPED_TRACE(std::to_string(len) + " octets, " + std::to_string(zeros) + " zero");
      Bytes o(len);
      for (auto& c : o) c = static_cast<LvOctet>(gen());
      o[len - 1] |= 1;
      for (unsigned int i = 0; i < zeros && i < len; ++i) o[i] = 0;
      const LvN masked(o.data(), len), pub = LvN::fromPublicOctets(o.data(), len);
      ASSERT_TRUE(pub == masked);
      ASSERT_EQ(pub.getUsed(), masked.getUsed());
      if (masked <= 1u) continue;
      const LvModulus lazy(o.data(), len, 0, LvModulus::OPT_MONT | LvModulus::OPT_LAZY);
      const LvModulus full(masked, LvModulus::OPT_MONT);
      ASSERT_TRUE(LvN(lazy) == masked);
      ASSERT_EQ(lazy.getUsed(), full.getUsed());
      ASSERT_EQ(lazy.getKind(), full.getKind());
      ASSERT_TRUE(LvN(lazy.getR2()) == LvN(full.getR2()));
      ASSERT_TRUE(LvN(lazy.getR()) == LvN(full.getR()));
    }
  }
  EXPECT_THROW(LvN::fromPublicOctets(nullptr, 4), LvArgumentRangeException);
  EXPECT_TRUE(LvN::fromPublicOctets(nullptr, 0) == 0u);

  for (const char* small : {"0x10001", "0x1000000000000000000000001"}) {
    LvModulus m(LvN(small), LvModulus::OPT_MONT);
    ASSERT_NE(m.getR2().getCount(), 0u);
    ASSERT_NE(m.getR3().getCount(), 0u);
    m.assign(LvN("0x12345678"), 0);
    EXPECT_EQ(m.getR().getCount(), 0u);
    EXPECT_EQ(m.getR2().getCount(), 0u);
    EXPECT_EQ(m.getR3().getCount(), 0u);
  }
}

// R^3 asked for by several threads at once is made once and right for all of them.
TEST(NumModulus, LazyR3IsSafeAcrossThreads) {
  auto c = keyFile("openssl_key.txt");
  const LvN n = num(c["n"]);
  LvN want(1u, 1);
  const LvModulus m(n, 8);
  want <<= 32 * m.getUsed() * 3;
  want %= n;
  std::vector<std::thread> pool;
  std::atomic<int> right{0};
  for (int i = 0; i < 4; ++i)
    pool.emplace_back([&] { right += LvN(m.getR3()) == want ? 1 : 0; });
  for (auto& t : pool) t.join();
  EXPECT_EQ(right.load(), 4);
}

// CRT data are installed only when they describe the modulus; each check on its own.
TEST(NumModulus, CrtDataCheckedBeforeInstalled) {
  auto c = keyFile("openssl_key_1024.txt");
  const LvN p = num(c["p"]), q = num(c["q"]), qinv = num(c["qinv"]), n = num(c["n"]);
  const LvModulus mp(p, 9), mq(q, 9), mpTwo(p + 2u, 9);
  const LvN pinv = (1 / LvZn(p, &mq)).getN();
  const struct {
    const char* name;
    const LvModulus* p;
    const LvModulus* q;
    LvN c;
    bool installed;
  } cases[] = {
      {"openssl's data", &mp, &mq, qinv, true},
      {"factors swapped with their coefficient", &mq, &mp, pinv, true},
      {"factors swapped, coefficient not", &mq, &mp, qinv, false},
      {"coefficient off by one", &mp, &mq, qinv + 1u, false},
      {"coefficient plus p", &mp, &mq, qinv + p, false},
      {"coefficient zero", &mp, &mq, LvN(0u, 1), false},
      {"p q is not n", &mpTwo, &mq, qinv, false},
  };
  const LvN d = num(c["d"]), x = fromHex("1234567890abcdef");
  for (const auto& t : cases) {
    SCOPED_TRACE(t.name);
    LvModulus m(n, 8);
    m.setCrt(*t.p, *t.q, t.c);
    EXPECT_EQ((m.getFlags() & LvModulus::FLAG_CRT) == LvModulus::FLAG_CRT, t.installed);
    EXPECT_EQ(m.getCrtP() != nullptr, t.installed);
    EXPECT_EQ(m.getFactorCount(), t.installed ? 2u : 0u);
    // the power is right either way
    LvModulus plain(n, 8);
    EXPECT_TRUE(pow(LvZn(x, &m), d).getN() == pow(LvZn(x, &plain), d).getN());
  }
  // a factor 1 (and n itself as the other) is no factorisation
  LvModulus one(LvN(1u, 1), 9), whole(n, 9);
  LvModulus m(n, 8);
  m.setCrt(one, whole, LvN(0u, 1));
  EXPECT_EQ(m.getFactorCount(), 0u);
}
