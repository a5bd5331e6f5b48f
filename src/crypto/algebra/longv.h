// Multi-precision word kernels of libvorinpp.
//
// A number is an array of 32-bit LvWord, least significant word first, with an explicit
// LvWordLen word count; high zero words are allowed. Carries and borrows are words 0 or 1,
// comparisons answer +1, 0, -1. The kernels keep no state; only the division (zero divisor),
// the text parsers (non-digits), crtCombine and allocation failures throw. Scratch memory of
// the kernels is wiped before release.
#ifndef TAL_CRYPTO_ALGEBRA_LONGV_H
#define TAL_CRYPTO_ALGEBRA_LONGV_H

#include <cstddef>
#include <cstdint>

#include "crypto/algebra/lvalgexcept.h"

typedef unsigned int LvWordLen;

class LvN;
class LvZn;

// ---------------------------------------------------------------------------------------------
// Word-vector primitives. Where one operand is written in place the others must not overlap it
// (the copies go from the top word down, so copying upwards within one vector is allowed).
// ---------------------------------------------------------------------------------------------

// a += b + carry over n words; returns the carry out (n = 0 returns the carry in).
inline LvWord longvAdd(LvWord* a, const LvWord* b, LvWordLen n, LvWord carry);
// a -= b + borrow over n words; returns the borrow out (n = 0 returns the borrow in).
inline LvWord longvSub(LvWord* a, const LvWord* b, LvWordLen n, LvWord borrow);
// a (na words) += b (nb words) + carry; returns the final carry. When nb > na only na words
// are written and a nonzero excess of b counts as a carry out.
LvWord longvAddLong(LvWord* a, LvWordLen na, const LvWord* b, LvWordLen nb, LvWord carry);
// a (na words) -= b (nb words) + borrow; returns the final borrow. When nb > na only na words
// are written and a nonzero excess of b counts as a borrow out.
LvWord longvSubLong(LvWord* a, LvWordLen na, const LvWord* b, LvWordLen nb, LvWord borrow);
// a += 1; returns 1 when all n words wrapped to 0.
LvWord longvInc(LvWord* a, LvWordLen n);
// a -= 1; returns 1 when all n words were 0.
LvWord longvDec(LvWord* a, LvWordLen n);
// Compares from the top word down; n = 0 gives 0.
inline int longvCmp(const LvWord* a, const LvWord* b, LvWordLen n);
// Compares numbers of different lengths (nonzero words above the shorter length decide).
int longvCmpLen(const LvWord* a, LvWordLen na, const LvWord* b, LvWordLen nb);
// True when all n words are 0 (also for n = 0).
inline bool longvIsZero(const LvWord* a, LvWordLen n);
// True when a[0] = 1 and the other words are 0; false for n = 0.
inline bool longvIsOne(const LvWord* a, LvWordLen n);
// a[0] = w, words 1..n-1 = 0; n = 0 writes nothing.
void longvSetWord(LvWord* a, LvWordLen n, LvWord w);
// Copies n words from the top word down.
inline void longvCopy(LvWord* dst, const LvWord* src, LvWordLen n);
// dst (nd words) = src (ns words): zero-extends or keeps the low nd words.
void longvCopyResize(LvWord* dst, LvWordLen nd, const LvWord* src, LvWordLen ns);
// Sets n words to 0 (a wipe the compiler keeps, usable on secrets).
void longvZeroize(LvWord* a, LvWordLen n);
// a *= w in place over n words; returns the carry word (n = 0 returns 0).
LvWord longvMulWord(LvWord* a, LvWord w, LvWordLen n);
// d = a * w over n words; returns the carry word (the (n+1)-th word of the product).
LvWord longvMulWordTo(LvWord* d, const LvWord* a, LvWord w, LvWordLen n);
// c (na + nb words) = a * b; c must not overlap a or b.
void longvMul(LvWord* c, const LvWord* a, LvWordLen na, const LvWord* b, LvWordLen nb);
// Shifts up by s whole words, filling the low words with 0; s >= n clears the vector.
void longvShlWords(LvWord* a, LvWordLen n, LvWordLen s);
// Shifts left by any number of bits (bits leaving the top are lost); returns the bits shifted
// out of the top word by the sub-word part of the shift, aligned to bit 0.
LvWord longvShl(LvWord* a, LvWordLen n, unsigned int bits);
// Shifts right by any number of bits; returns the bits shifted out of the bottom word by the
// sub-word part of the shift, aligned to bit 31.
LvWord longvShr(LvWord* a, LvWordLen n, unsigned int bits);
// Shifts right by one bit; n = 0 does nothing.
void longvShr1(LvWord* a, LvWordLen n);

// ---------------------------------------------------------------------------------------------
// Constant-time helpers for secret operands: time and memory access depend only on the word
// counts, never on the values.
// ---------------------------------------------------------------------------------------------

// All ones when a == b, else 0.
inline LvWord longvCtEqMask(LvWord a, LvWord b) {
  const LvWord x = a ^ b;
  return static_cast<LvWord>(((static_cast<uint64_t>(x) | (0 - static_cast<uint64_t>(x))) >> 63) - 1);
}
// The index of the top nonzero word plus one, at least 1, found with every word read and the
// last nonzero one taken by mask. The length is the size of the number, which an encoding
// shows anyway: only it is made public.
LvWordLen longvCtSigLen(const LvWord* w, LvWordLen n);
// a -= m when carry is nonzero or a >= m (k words), by a masked subtraction; returns 1 when it
// subtracted. The caller knows a + carry * 2^(32k) < 2m.
LvWord longvCtCondSub(LvWord* a, LvWord carry, const LvWord* m, LvWordLen k);
// out (words words) = entry idx of a table of `entries` entries of `words` words each, reading
// every entry whatever idx is.
void longvCtSelect(LvWord* out, const LvWord* table, unsigned int entries, LvWordLen words,
                   unsigned int idx);
// r (nm words) = a (na words) mod m (nm words, top word nonzero), one bit of a at a time with a
// masked subtraction: for secrets such as exponent reductions, where a division would branch
// on them. Only a's words below m's top word take steps (m's length is public).
void longvCtMod(LvWord* r, const LvWord* a, LvWordLen na, const LvWord* m, LvWordLen nm);
// As longvCtMod, and q (na words) receives the quotient a / m: the quotient bits are the
// masked subtractions' answers. For a secret divisor (a prime taken out of a modulus).
void longvCtDivMod(LvWord* q, LvWord* r, const LvWord* a, LvWordLen na, const LvWord* m,
                   LvWordLen nm);
// out (k words) = a^-1 mod m for an odd m and a below m (k words each), by the binary
// extended Euclid with a fixed count of steps and masked swaps, subtractions and halvings.
// aBits, a public bound on a's bit length (0: 32k), only sets the count of steps. Returns all
// ones when gcd(a, m) = 1, else 0 (out is then not an inverse).
LvWord longvCtModInverse(LvWord* out, const LvWord* a, const LvWord* m, LvWordLen k,
                         unsigned int aBits = 0);
// Big-endian octets of w (n words) right-aligned in len octets (high octets beyond the words
// are 0, words beyond len octets are dropped).
void longvCtToOctets(LvOctet* out, unsigned int len, const LvWord* w, LvWordLen n);

// ---------------------------------------------------------------------------------------------
// Montgomery kernels. For a k-word odd modulus n, R = 2^(32k); n0 = -n^-1 mod 2^32.
// t is the caller's work buffer: 2k words for squares, reductions and all fixed-size kernels,
// k words for longvMontMul / longvMontMulExt / longvFromMont; the result is in t[0..k-1].
// t must not overlap a, b or n. Operands below n (extended group: below 2n in k words where
// the modulus carries a zero top word). Return values are the last step's borrow; ignore them.
// ---------------------------------------------------------------------------------------------

typedef LvWord (*LvMontMulFn)(LvWord* t, const LvWord* a, const LvWord* b, const LvWord* n,
                              LvWord n0, LvWordLen k);
typedef LvWord (*LvMontSqrFn)(LvWord* t, const LvWord* a, const LvWord* n, LvWord n0,
                              LvWordLen k);
typedef LvWord (*LvMontMulFixedFn)(LvWord* t, const LvWord* a, const LvWord* b,
                                   const LvWord* n, LvWord n0);
typedef LvWord (*LvMontSqrFixedFn)(LvWord* t, const LvWord* a, const LvWord* n, LvWord n0);
// Plain square kernel shape (t of 2k words = a^2).
typedef void (*LvSqrFn)(LvWord* t, const LvWord* a, LvWordLen k);

// out[i] (w >= k words) = 2^(32 radixWords (i + 1)) mod n for i below count, for a public odd
// modulus n of k words, top word nonzero: by 64-bit limbs without a division, in time that
// depends on n.
void longvRadixPowers(LvWord* const* out, LvWordLen w, unsigned int count, const LvWord* n,
                      LvWordLen k, LvWordLen radixWords);
// out (k words) = x 2^(32k) mod n for x below n, both public (time depends on them): the
// Montgomery form without R^2.
void longvToMontPublic(LvWord* out, const LvWord* x, const LvWord* n, LvWordLen k);
// out (k words) = x 2^bits mod n, the same for any shift.
void longvMulPow2Public(LvWord* out, const LvWord* x, const LvWord* n, LvWordLen k,
                        unsigned int bits);
// out (k words) = x^e mod n for an odd n of k words (top word nonzero), x below n and a nonzero
// e of ne words, all public (time depends on them), on the processor's 52-bit vector
// multiply-add. False, with nothing written, where the processor lacks the instructions or
// n is not of 32 to 220 words: the caller then takes its own road.
bool longvPowPublicIfma(LvWord* out, const LvWord* x, const LvWord* n, LvWordLen k,
                        const LvWord* e, LvWordLen ne);
// -n^-1 mod 2^32 for an odd nLow. Inline: a modulus set up for one verification spends more
// on the call than on these few products.
inline LvWord longvMontN0(LvWord nLow) {
  // 3n XOR 2 is n's inverse modulo 2^5 (n odd): three Newton steps give 10, 20, 40 bits,
  // where 1 as the start needs five (each step is two dependent products)
  LvWord x = (3u * nLow) ^ 2u;
  for (int i = 0; i < 3; ++i) x = x * (2u - nLow * x);
  return 0u - x;
}

LvWord longvMontMul(LvWord* t, const LvWord* a, const LvWord* b, const LvWord* n, LvWord n0,
                    LvWordLen k);
LvWord longvMontSqr(LvWord* t, const LvWord* a, const LvWord* n, LvWord n0, LvWordLen k);
LvWord longvMontRedc(LvWord* t, const LvWord* n, LvWord n0, LvWordLen k);
// Extended group: no final subtraction, the carry out of the top word is dropped.
LvWord longvMontMulExt(LvWord* t, const LvWord* a, const LvWord* b, const LvWord* n, LvWord n0,
                       LvWordLen k);
LvWord longvMontSqrExt(LvWord* t, const LvWord* a, const LvWord* n, LvWord n0, LvWordLen k);
LvWord longvMontRedcExt(LvWord* t, const LvWord* n, LvWord n0, LvWordLen k);
// t (2k words) = a^2.
void longvSqr(LvWord* t, const LvWord* a, LvWordLen k);
// t[0..k-1] = a * R^-1 mod n, fully reduced; computes n0 itself. t needs k words.
LvWord longvFromMont(LvWord* t, const LvWord* a, const LvWord* n, LvWordLen k);
// out (32 words) = x^e mod n for an odd n below 2^1024 (32 words), any 32-word x and an e of
// ne words, rr = 2^2048 mod n, by fixed windows of `window` bits (1 to 8) on the processor's
// 52-bit vector multiply-add. Every one of the ne words is worked through (a zero e gives 1),
// every window multiplies and table entries are read by a masked scan, so time and memory
// access depend on ne and window only: the exponent, x and n may be secret. False, with
// nothing written, where the processor lacks the instructions (or for a window outside 1..8,
// ne = 0 or null pointers): the caller then takes its own road.
bool longvModExp1024(LvWord* out, const LvWord* x, const LvWord* e, LvWordLen ne,
                     const LvWord* n, const LvWord* rr, unsigned int window);
// Two such exponentiations (the halves of a CRT exponentiation) run side by side.
bool longvModExp1024x2(LvWord* outA, const LvWord* xA, const LvWord* eA, LvWordLen neA,
                       const LvWord* nA, const LvWord* rrA, LvWord* outB, const LvWord* xB,
                       const LvWord* eB, LvWordLen neB, const LvWord* nB, const LvWord* rrB,
                       unsigned int window);

// Fixed sizes k in {3,4,5,6,7,8,12,16}; plain products also for 17 and 34.
#define LONGV_DECLARE_PRODUCTS(K)                                                        \
  void longvMul##K(LvWord* t, const LvWord* a, const LvWord* b);                         \
  void longvSqr##K(LvWord* t, const LvWord* a);
#define LONGV_DECLARE_MONT(K)                                                            \
  LvWord longvMontRedc##K(LvWord* t, const LvWord* n, LvWord n0);                        \
  LvWord longvMontRedcSparse##K(LvWord* t, const LvWord* n, LvWord n0);                  \
  LvWord longvMontMul##K(LvWord* t, const LvWord* a, const LvWord* b, const LvWord* n,   \
                         LvWord n0);                                                     \
  LvWord longvMontSqr##K(LvWord* t, const LvWord* a, const LvWord* n, LvWord n0);        \
  LvWord longvMontMulSparse##K(LvWord* t, const LvWord* a, const LvWord* b,              \
                               const LvWord* n, LvWord n0);                              \
  LvWord longvMontSqrSparse##K(LvWord* t, const LvWord* a, const LvWord* n, LvWord n0);
LONGV_DECLARE_PRODUCTS(3)
LONGV_DECLARE_PRODUCTS(4)
LONGV_DECLARE_PRODUCTS(5)
LONGV_DECLARE_PRODUCTS(6)
LONGV_DECLARE_PRODUCTS(7)
LONGV_DECLARE_PRODUCTS(8)
LONGV_DECLARE_PRODUCTS(12)
LONGV_DECLARE_PRODUCTS(16)
LONGV_DECLARE_PRODUCTS(17)
LONGV_DECLARE_PRODUCTS(34)
LONGV_DECLARE_MONT(3)
LONGV_DECLARE_MONT(4)
LONGV_DECLARE_MONT(5)
LONGV_DECLARE_MONT(6)
LONGV_DECLARE_MONT(7)
LONGV_DECLARE_MONT(8)
LONGV_DECLARE_MONT(12)
LONGV_DECLARE_MONT(16)
#undef LONGV_DECLARE_PRODUCTS
#undef LONGV_DECLARE_MONT

// The fixed-size pair for word count k (sparse: words 1..k-2 of n are zero); null pointers for
// a k without unrolled kernels. The modulus object uses it to choose its kernels.
void longvMontFixedKernels(LvWordLen k, bool sparse, LvMontMulFixedFn* mul,
                           LvMontSqrFixedFn* sqr);
// True when words 1..k-2 of n are zero (the sparse reduction applies).
bool longvMontIsSparse(const LvWord* n, LvWordLen k);

// ---------------------------------------------------------------------------------------------
// Classical division. A zero divisor (nm = 0 or all words zero) throws LvDivByZeroException
// before any output is written.
// ---------------------------------------------------------------------------------------------

// x := x mod m (zero-extended to nx words), q := floor(x / m) with *nq its length without high
// zero words. q needs nx - m' + 1 words (m' the significant length of m). x < m: nq = 0.
void longvDivClassical(LvWord* x, LvWordLen nx, const LvWord* m, LvWordLen nm, LvWord* q,
                       LvWordLen* nq);
// x := x mod m; c (cWords words) := the remainder's low words (zero-extended past nx).
void longvModClassical(LvWord* x, LvWordLen nx, const LvWord* m, LvWordLen nm, LvWord* c,
                       LvWordLen cWords);
// x := x mod m.
void longvModInPlace(LvWord* x, LvWordLen nx, const LvWord* m, LvWordLen nm);

// ---------------------------------------------------------------------------------------------
// Special primes, held in ordinary form. t has 2k words holding T < p^2; on return t[0..k-1]
// = T mod p. 160..384 also clear the high half; 521, 544, 1088 leave it as scratch.
// ---------------------------------------------------------------------------------------------

extern const LvWord longvPrimeP160[5];
extern const LvWord longvPrimeP192[6];
extern const LvWord longvPrimeP224[7];
extern const LvWord longvPrimeP256[8];
extern const LvWord longvPrimeP384[12];
extern const LvWord longvPrimeP521[17];
extern const LvWord longvPrimeP544[17];
extern const LvWord longvPrimeP1088[34];

typedef LvWord (*LvSpecMulFn)(LvWord* t, const LvWord* a, const LvWord* b);
typedef LvWord (*LvSpecSqrFn)(LvWord* t, const LvWord* a);
typedef LvWord (*LvSpecRedFn)(LvWord* t);

#define LONGV_DECLARE_SPECIAL(B)                                                         \
  LvWord longvRedP##B(LvWord* t);                                                        \
  LvWord longvMulP##B(LvWord* t, const LvWord* a, const LvWord* b);                      \
  LvWord longvSqrP##B(LvWord* t, const LvWord* a);
LONGV_DECLARE_SPECIAL(160)
LONGV_DECLARE_SPECIAL(192)
LONGV_DECLARE_SPECIAL(224)
LONGV_DECLARE_SPECIAL(256)
LONGV_DECLARE_SPECIAL(384)
LONGV_DECLARE_SPECIAL(521)
LONGV_DECLARE_SPECIAL(544)
LONGV_DECLARE_SPECIAL(1088)
#undef LONGV_DECLARE_SPECIAL

// Recognises a special prime: n must have exactly the prime's word count k. Tried in the order
// 160, 192, 224, 256, 384, 521, 544, 1088. On a match returns the bit size and sets the pair
// (and the reduction when red is not null); else returns 0 and leaves the outputs alone.
unsigned int longvSpecialPrime(const LvWord* n, LvWordLen k, LvSpecMulFn* mul, LvSpecSqrFn* sqr,
                               LvSpecRedFn* red);

// ---------------------------------------------------------------------------------------------
// Inverse, gcd, Jacobi.
// ---------------------------------------------------------------------------------------------

// out (n words) = x^-1 mod m in [0, m); returns 0 on success, 1 when gcd(x, m) != 1 (or m is
// zero), out then meaningless but written. x, m, out of n words; out may not overlap x or m.
LvWord longvModInverse(LvWord* out, const LvWord* x, const LvWord* m, LvWordLen n);
// out (nout words) = gcd(a, b) zero-extended; out may be the same vector as a. A gcd longer
// than nout is truncated to its low words (the caller sizes nout >= min(na, nb)).
void longvGcd(const LvWord* a, LvWordLen na, const LvWord* b, LvWordLen nb, LvWord* out,
              LvWordLen nout);
// The Jacobi (Kronecker for even n) symbol (a/n): +1, -1 or 0.
int longvJacobi(const LvWord* a, LvWordLen na, const LvWord* n, LvWordLen nn);
// longvJacobi on the words and used lengths of two natural numbers.
int jacobi(const LvN& a, const LvN& n);

// ---------------------------------------------------------------------------------------------
// Text conversion. Texts are zero-terminated ASCII; a character outside the base's digits
// throws LvWrongSyntaxException. Word buffers: floor(len*4/32)+1 words for decimal and
// hexadecimal text, floor(len*3/32)+1 for octal (len = the text length); returns the words used
// (at least 1).
// ---------------------------------------------------------------------------------------------

LvWordLen longvFromDecimal(LvWord* w, const char* text);
LvWordLen longvFromOctal(LvWord* w, const char* text);   // without the leading "0"
LvWordLen longvFromHex(LvWord* w, const char* text);     // without the leading "0x"
// Octal digits of w, most significant first, zero-terminated ("0" for zero); text needs
// floor(32*n/3)+2 octets.
void longvToOctal(char* text, const LvWord* w, LvWordLen n);
// Rewrites octal digit text in place as the decimal digits of the same value.
void lvOctalToDecimal(char* text);

// ---------------------------------------------------------------------------------------------
// DER headers. Each reads at most `avail` octets from p (the default trusts the caller, who
// has already checked the element). A header that is malformed or not wholly inside avail
// (identifier without end, more than four length octets, a total that overflows 32 bits)
// gives 0 / a null pointer. An indefinite length (0x80) counts as content length 0.
// ---------------------------------------------------------------------------------------------

const size_t LV_DER_UNBOUNDED = SIZE_MAX;
// Address of the first content octet, or null.
const LvOctet* derContent(const LvOctet* p, size_t avail = LV_DER_UNBOUNDED);
// Content length (0 also for a malformed header).
unsigned int derContentLength(const LvOctet* p, size_t avail = LV_DER_UNBOUNDED);
// Identifier, length and content octets together; 0 when malformed or when the content runs
// past avail.
unsigned int derTotalLength(const LvOctet* p, size_t avail = LV_DER_UNBOUNDED);
// Writes the DER length of len (1 to 5 octets) and returns the octets written.
unsigned int derEncodeLength(unsigned int len, LvOctet* out);
// Octets derEncodeLength would write.
unsigned int derLengthSize(unsigned int len);
// The same helpers under the names the signature encodings use.
inline unsigned int derObjectLength(const LvOctet* der, size_t avail = LV_DER_UNBOUNDED) {
  return derTotalLength(der, avail);
}
inline const LvOctet* derContents(const LvOctet* der, size_t avail = LV_DER_UNBOUNDED) {
  return derContent(der, avail);
}
inline unsigned int derWriteLength(unsigned int len, LvOctet* dst) {
  return derEncodeLength(len, dst);
}
inline unsigned int derLengthOctets(unsigned int len) { return derLengthSize(len); }

// ---------------------------------------------------------------------------------------------
// Chinese remainder recombination (Garner). residues[i] modulo pairwise coprime moduli;
// returns x < prod(m_i) with x = r_i mod m_i. Throws LvInvException when moduli share a factor.
// ---------------------------------------------------------------------------------------------
LvN crtCombine(const LvZn* residues, unsigned int count);

// The small primitives the curve and residue code call for every field addition are inline.
inline LvWord longvAdd(LvWord* a, const LvWord* b, LvWordLen n, LvWord carry) {
  uint64_t c = carry;
  for (LvWordLen i = 0; i < n; ++i) {
    c += static_cast<uint64_t>(a[i]) + b[i];
    a[i] = static_cast<LvWord>(c);
    c >>= 32;
  }
  return static_cast<LvWord>(c);
}

inline LvWord longvSub(LvWord* a, const LvWord* b, LvWordLen n, LvWord borrow) {
  uint64_t br = borrow;
  for (LvWordLen i = 0; i < n; ++i) {
    const uint64_t d = static_cast<uint64_t>(a[i]) - b[i] - br;
    a[i] = static_cast<LvWord>(d);
    br = (d >> 32) & 1;
  }
  return static_cast<LvWord>(br);
}

inline int longvCmp(const LvWord* a, const LvWord* b, LvWordLen n) {
  while (n > 0) {
    --n;
    if (a[n] != b[n]) return a[n] > b[n] ? 1 : -1;
  }
  return 0;
}

inline bool longvIsZero(const LvWord* a, LvWordLen n) {
  LvWord acc = 0;
  for (LvWordLen i = 0; i < n; ++i) acc |= a[i];
  return acc == 0;
}

inline bool longvIsOne(const LvWord* a, LvWordLen n) {
  if (n == 0) return false;
  return a[0] == 1 && longvIsZero(a + 1, n - 1);
}

inline void longvCopy(LvWord* dst, const LvWord* src, LvWordLen n) {
  while (n > 0) {
    --n;
    dst[n] = src[n];
  }
}

#endif
