// Natural numbers (LvN), moduli prepared for fast reduction (LvModulus),
// residues (LvZn) and the Miller-Rabin probable-prime test.
#pragma once

#include <atomic>
#include <mutex>

#include "crypto/algebra/longv.h"
#include "crypto/basic/lvconv.h"
#include "crypto/basic/lvoctmem.h"

class LvRbg;
class LvGroup;
class LvModulus;

// Unbounded natural number: little-endian 32-bit words and a used length.
// The top used word is nonzero except for the value 0 (one zero word).
class LvN {
 public:
  LvN() : v(1), used(1) {}
  LvN(const LvN& a);
  LvN(const LvOctet* oct, unsigned int len, int noValue = 0);
  // Decimal; "0x..." hexadecimal; "0..." octal. Characters that are not
  // digits of the base raise LvWrongSyntaxException.
  explicit LvN(const char* text);
  // `words` words, the lowest holding `value` (not trimmed).
  LvN(LvWord value, LvWordLen words);
  LvN(const LvWord* w, LvWordLen n);
  explicit LvN(const LvWordMem& w);
  virtual ~LvN() { used = 0; }
  // The number of n words of a secret (a key part made by the constant-time kernels): the
  // words are read in time independent of their values and only the word length, the size of
  // the number, becomes public. Octets given to the constructor or set() are read the same way.
  static LvN fromSecretWords(const LvWord* w, LvWordLen n);
  // The number of big-endian octets whose value is public (a public key's modulus or exponent):
  // its length is found by looking at the words, not by the masked scan that set() makes.
  static LvN fromPublicOctets(const LvOctet* oct, unsigned int len) {
    return LvN(oct, len, 0, true);
  }

  unsigned int getOctetLength() const {
    return 4 * (used - 1) + (wordBits(v.ptr()[used - 1]) + 7) / 8;
  }
  unsigned int getBitLength() const {
    unsigned int b = 32 * (used - 1) + wordBits(v.ptr()[used - 1]);
    return b == 0 ? 1 : b;
  }
  LvWord getLowWord() const { return v.ptr()[0]; }
  LvWord& operator[](unsigned int i);
  LvWord operator[](unsigned int i) const;
  // Minimal big-endian form (0 is one 0x00 octet); 0 and nothing written when
  // it does not fit.
  unsigned int getOctets(LvOctet* oct, unsigned int len) const;
  // Right-aligned in exactly len octets; a value that does not fit raises
  // LvArgumentRangeException and nothing is written.
  unsigned int getOctets(LvOctet* oct, unsigned int len, int pad) const;
  void set(const LvOctet* oct, unsigned int len);
  LvConvASCII toString() const;
  // Non-adjacent form, least significant digit first; bit length + 1 entries.
  void toNaf(int* digits) const;

  const LvWord* getWords() const { return v.ptr(); }
  LvWord* getWords() { return v.ptr(); }
  LvWordLen getUsed() const { return used; }
  bool isZero() const { return longvIsZero(v.ptr(), used); }
  bool isEven() const { return (v.ptr()[0] & 1u) == 0; }
  // True when this number divides b.
  bool operator|(const LvN& b) const;

  LvN& operator=(const LvN& a);
  LvN& operator=(LvWord w);
  LvN& operator+=(const LvN& b);
  LvN& operator+=(LvWord w);
  LvN& operator++();
  LvN& operator-=(const LvN& b);
  LvN& operator-=(LvWord w);
  LvN& operator--();
  LvN& operator*=(const LvN& b);
  LvN& operator/=(const LvN& b);
  LvN& operator%=(const LvN& b);
  LvN& operator<<=(unsigned int bits);
  LvN& operator>>=(unsigned int bits);

  // Replace the value by a uniform number below 2^bits / below n.
  LvN& random(unsigned int bits, LvRbg* rbg);
  LvN& randomBelow(const LvN& n, LvRbg* rbg);

  LvN& powInPlace(unsigned int e);
  LvN pow(unsigned int e) const;

 protected:
  // As LvN(oct, len, noValue), the value read as public when publicValue is set; the words are
  // read straight into v, without the buffer and swap that set() makes.
  LvN(const LvOctet* oct, unsigned int len, int noValue, bool publicValue)
      : v(noValue != 0 || len == 0 ? LvWordMem(1u) : LvWordMem(sourceOctets(oct), len, true)),
        used(1) {
    if (noValue != 0 || len == 0) return;
    used = octetsLength(publicValue);
  }
  // The value of len (> 0) big-endian octets; its length found by a masked scan unless public.
  void setOctets(const LvOctet* oct, unsigned int len, bool publicValue);
  // oct, or LvArgumentRangeException when it is null.
  static const LvOctet* sourceOctets(const LvOctet* oct) {
    if (oct == nullptr) nullSource();
    return oct;
  }
  [[noreturn]] static void nullSource();
  // The significant word count of v just read from octets (see setOctets). Octets are how key
  // parts arrive: their value stays unread, unless it is public.
  LvWordLen octetsLength(bool publicValue) const {
    return publicValue ? effectiveLength(v.ptr(), v.getCount())
                       : longvCtSigLen(v.ptr(), v.getCount());
  }
  // Length of a word vector without its high zero words (at least 1).
  static LvWordLen effectiveLength(const LvWord* w, LvWordLen n) {
    while (n > 1 && w[n - 1] == 0) --n;
    return n == 0 ? 1 : n;
  }
  // Significant bits of w: one count of leading zeros, no branch on w (2w + 1 has one bit more
  // than w, 0 included).
  static unsigned int wordBits(LvWord w) {
    return 63u - static_cast<unsigned int>(__builtin_clzll((std::uint64_t(w) << 1) | 1u));
  }
  void trim();
  // Make room for n words (value kept, new words zero); used is unchanged.
  void grow(LvWordLen n);
  LvWordLen capacity() const;

  LvWordMem v;
  LvWordLen used;
};

LvN operator+(const LvN& a, const LvN& b);
LvN operator+(const LvN& a, LvWord w);
LvN operator-(const LvN& a, const LvN& b);
LvN operator-(const LvN& a, LvWord w);
LvN operator*(const LvN& a, const LvN& b);
LvN operator*(LvWord w, const LvN& a);
LvN operator/(const LvN& a, const LvN& b);
LvN operator/(const LvN& a, LvWord w);
LvN operator%(const LvN& a, const LvN& b);
LvWord operator%(const LvN& a, LvWord w);
LvN operator<<(const LvN& a, unsigned int bits);
LvN operator>>(const LvN& a, unsigned int bits);

bool operator==(const LvN& a, const LvN& b);
bool operator!=(const LvN& a, const LvN& b);
bool operator<(const LvN& a, const LvN& b);
bool operator>(const LvN& a, const LvN& b);
bool operator>=(const LvN& a, const LvN& b);
bool operator<=(const LvN& a, const LvN& b);
bool operator==(const LvN& a, LvWord w);
bool operator!=(const LvN& a, LvWord w);
bool operator<(const LvN& a, LvWord w);
bool operator>(const LvN& a, LvWord w);
bool operator<=(const LvN& a, LvWord w);
bool operator<(LvWord w, const LvN& a);

// Whether a secret number (a private key part) is zero: every word is read, and only the
// answer, whether the key is there at all, is made public.
bool isZeroSecret(const LvN& a);

// Greatest common divisor (binary method); gcd(0, b) = b.
LvN gcd(const LvN& a, const LvN& b);

// A natural number prepared for fast reduction.
class LvModulus : public LvN {
 public:
  // Option bits of the set-up. OPT_SECRET: the value is secret (an RSA factor), so the
  // Montgomery set-up makes R, R^2 and R^3 without a division, in time independent of it
  // (public moduli: by limbs with estimated quotient limbs, in time that depends on them).
  // OPT_LAZY (with OPT_MONT, for a public modulus): R and R^2 are made on first use, for keys
  // whose own operation converts its public input without them (RSA verification); octets
  // given with it are read as a public value.
  enum : int {
    OPT_PRIME = 1,
    OPT_MONT = 8,
    OPT_MONT_EXT = 16,
    OPT_SPECIAL = 32,
    OPT_SECRET = 64,
    OPT_LAZY = 128
  };
  // Reduction kinds.
  enum : LvWord { KIND_PLAIN = 0, KIND_MONT = 1, KIND_MONT_EXT = 2, KIND_EVEN = 3 };
  // Flag word bits.
  enum : LvWord { FLAG_PRIME = 1, FLAG_FACTORS = 6, FLAG_CRT = 14 };

  LvModulus();
  LvModulus(const LvOctet* oct, unsigned int len, int noValue, int options)
      : LvN(oct, len, noValue, (options & OPT_LAZY) != 0) {
    prepare(options);
  }
  LvModulus(const LvN& n, int options);
  LvModulus(const char* text, int options);
  LvModulus(const LvWordMem& w, int options);
  LvModulus(const LvModulus& m);
  LvModulus& operator=(const LvModulus& m);
  // Most moduli (every public key's) have no factors to free: no call for them.
  ~LvModulus() override {
    if (factors != nullptr || exponents != nullptr || crtP != nullptr || crtQ != nullptr)
      freeFactors();
  }
  // Takes the value v and prepares it with the options, in place (no temporary modulus).
  void assign(const LvN& v, int options) {
    LvN::operator=(v);
    setup(options);
  }

  // Record the factorisation {p, this / p} when p is a proper divisor coprime
  // to this / p; true when it did.
  bool setFactor(const LvN& p);
  // CRT data (c = q^-1 mod p); prepares this modulus again with option 16.
  // Data that does not describe this modulus (p * q != m, q * c != 1 mod p)
  // is not installed.
  void setCrt(const LvModulus& p, const LvModulus& q, const LvN& c);

  LvWord getFlags() const { return flags; }
  LvWord getKind() const { return kind; }
  LvWord getNPrime() const { return nPrime; }
  unsigned int getSpecialSize() const { return specialSize; }
  int getOptions() const { return options; }
  // Words the residues reduce against and their count (the extended modulus
  // for kind 2).
  const LvWord* getReductionWords() const;
  LvWordLen getWorkWords() const;
  // R, R^2, R^3 mod m in the working word count.
  const LvWordMem& getR() const {
    if (!r12Ready.load(std::memory_order_acquire)) makeR12();
    return r1;
  }
  const LvWordMem& getR2() const {
    if (!r12Ready.load(std::memory_order_acquire)) makeR12();
    return r2;
  }
  // R^3 of a public modulus is made on its first use (only a division of residues needs it,
  // and most public keys never divide); safe from several threads at once.
  const LvWordMem& getR3() const {
    if (!r3Ready.load(std::memory_order_acquire)) makeR3();
    return r3;
  }
  unsigned int getFactorCount() const { return factorCount; }
  const LvN* getFactors() const { return factors; }
  const LvWord* getExponents() const { return exponents; }
  const LvModulus* getCrtP() const { return crtP; }
  const LvModulus* getCrtQ() const { return crtQ; }
  const LvN& getCrtC() const { return crtC; }

  // t (2 * getWorkWords() words, not overlapping a or b) receives a*b reduced
  // in its low words, in the working representation.
  void mulWords(LvWord* t, const LvWord* a, const LvWord* b) const;
  void sqrWords(LvWord* t, const LvWord* a) const;
  // Working form of a reduced value (count words, in place; t as above).
  void toWorkForm(LvWord* x, LvWord* t) const;
  // Plain value of a working-form value into out (getWorkWords() words).
  void fromWorkForm(LvWord* out, const LvWord* x, LvWord* t) const;

  // Kernels chosen at set-up (null when not used).
  LvMontMulFn mulGen = nullptr;
  LvMontSqrFn sqrGen = nullptr;
  LvMontMulFixedFn mulFix = nullptr;
  LvMontSqrFixedFn sqrFix = nullptr;
  LvSpecMulFn mulSpecial = nullptr;
  LvSpecSqrFn sqrSpecial = nullptr;

 protected:
  void setup(int options);
  // setup() for a modulus whose factors, CRT data and radix powers are empty (being made).
  void prepare(int options);
  void setMontgomeryConstants();
  void makeR3() const;
  void makeR12() const;
  // Records the factorisation {p, other} (no checks).
  void setFactors(const LvN& p, const LvN& other);
  void freeFactors();
  void copyFrom(const LvModulus& m);

  LvWord flags = 0;
  unsigned int factorCount = 0;
  LvN* factors = nullptr;
  LvWord* exponents = nullptr;
  LvModulus* crtP = nullptr;
  LvModulus* crtQ = nullptr;
  LvN crtC;
  LvWord kind = KIND_PLAIN;
  LvWord nPrime = 0;
  mutable LvWordMem r1, r2, r3;
  mutable std::atomic<bool> r12Ready{true}, r3Ready{false};
  mutable std::mutex lazyLock;
  LvWordMem ext;  // modulus words plus one zero word (kind 2)
  unsigned int specialSize = 0;
  int options = 0;
};

// Base of residues and group points.
class LvGroupElem {
 public:
  LvGroupElem() : group(nullptr) {}
  explicit LvGroupElem(LvGroup* g) : group(g) {}
  LvGroupElem(const LvGroupElem& o) = default;
  LvGroupElem& operator=(const LvGroupElem& o) = default;
  virtual ~LvGroupElem();
  virtual void setGroup(LvGroup* g);
  virtual LvGroup* getGroup() const;

 protected:
  LvGroup* group;
};

// A residue modulo an LvModulus (which must outlive it), held in the
// modulus's working representation.
class LvZn : public LvGroupElem {
 public:
  LvZn();
  LvZn(const LvOctet* oct, unsigned int len, int noValue, const LvModulus* m);
  LvZn(const LvN& a, const LvModulus* m);
  LvZn(const LvWordMem& w, const LvModulus* m);
  LvZn(const LvWord* w, LvWordLen n, const LvModulus* m);
  LvZn(int a, const LvModulus* m);
  LvZn(const char* text, const LvModulus* m);
  LvZn(const LvZn& a);
  LvZn& operator=(const LvZn& a);
  LvZn& operator=(int a);
  ~LvZn() override;

  void getN(LvN& out) const;
  LvN getN() const;
  const LvModulus* getModulus() const { return mod; }
  // The value words in the working representation, getCount() of them.
  const LvWord* getWords() const;
  LvWord* getWords();
  LvWordLen getCount() const { return count; }
  bool isZero() const;
  // False when the modulus was prepared again (or reassigned) after this
  // residue was made: such a residue is refused by every operation.
  bool isCurrent() const;

  LvZn& operator*=(const LvZn& b);
  LvZn& operator+=(const LvZn& b);
  LvZn& operator-=(const LvZn& b);
  LvZn& operator/=(LvZn b);
  LvZn operator-() const;

  bool operator==(const LvZn& b) const;
  bool operator!=(const LvZn& b) const { return !(*this == b); }
  bool operator==(int a) const;
  bool operator!=(int a) const { return !(*this == a); }

 protected:
  void attach(const LvModulus* m);
  void load(const LvN& a);  // reduce a, store it in working form
  void ensureScratch();

  LvWordMem val;
  LvWordLen count = 0;
  const LvModulus* mod = nullptr;
  const LvWord* red = nullptr;
  LvWord kind = 0;
  LvWordMem scratch;
};

LvZn operator*(const LvZn& a, const LvZn& b);
LvZn operator*(int a, const LvZn& b);
LvZn operator+(const LvZn& a, const LvZn& b);
LvZn operator+(const LvZn& a, int b);
LvZn operator-(const LvZn& a, const LvZn& b);
LvZn operator/(const LvZn& a, const LvZn& b);
LvZn operator/(int a, const LvZn& b);
// Variable-time exponentiation, for public exponents (verification, checks, set-up). A
// modulus with CRT data is the exception: its halves take the constant-time road below.
LvZn pow(const LvZn& x, unsigned int e);
LvZn pow(const LvZn& x, const LvN& e);

// Exponentiation with a secret exponent (and base, and for the CRT halves modulus): fixed
// windows over every exponent word, a product for every window, table entries read by a
// masked scan and masked final subtractions, so time and memory access depend on the word
// counts only. The modulus must be odd; one that is not of the Montgomery kind is prepared so
// for the call (a public modulus: that set-up divides).
//
// out (m.getUsed() words) = x^e mod m; x of m.getUsed() words (any value), e of ne words.
void powSecretWords(LvWord* out, const LvWord* x, const LvWord* e, LvWordLen ne,
                    const LvModulus& m);
// out (m.getUsed() words) = x (nx words, any value) mod m, by Montgomery products.
void reduceSecretWords(LvWord* out, const LvWord* x, LvWordLen nx, const LvModulus& m);
// out (nOut words, enough for p q) = x^d mod p q from the halves x^dP mod p and
// x^dQ mod q (dP = d mod (p - 1), dQ = d mod (q - 1)) and the recombination
// yq + q (qInv (yp - yq) mod p), qInv = q^-1 mod p in p.getUsed() words; p and q of the
// Montgomery kind. x (nx words) may be any value below p q.
void powSecretCrtWords(LvWord* out, LvWordLen nOut, const LvWord* x, LvWordLen nx,
                       const LvModulus& p, const LvWord* dP, LvWordLen ndP, const LvModulus& q,
                       const LvWord* dQ, LvWordLen ndQ, const LvWord* qInv);
// e mod (p - 1) in p.getUsed() words for an odd prime p, kept nonzero for a nonzero e (so that
// a base divisible by p still gives 0), by the masked bit-serial reduction: the CRT exponent
// of a private exponent e.
LvWordMem crtExponentWords(const LvN& e, const LvModulus& p);
// The residue form: x^e over max(expBits rounded up to words, e's words) exponent words, so
// that the work follows the bound (the group order's size), not e's length. The base is taken
// out of and the result put back into the residue form, which is constant-time for Montgomery
// moduli of the single-size kind. An even modulus falls back to pow.
LvZn powSecret(const LvZn& x, const LvN& e, unsigned int expBits);

// Miller-Rabin with the caller's bases; false for composite or small n.
bool millerRabinTest(const LvN& n, const LvN* bases, unsigned int count);
// Rounds by size; random bases from rbg, else the first primes.
bool isProbablePrime(const LvModulus& n, LvRbg* rbg);
