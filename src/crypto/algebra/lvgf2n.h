// Binary fields GF(2^m) in polynomial basis: the field (reduction polynomial,
// degree, kernels chosen by word count), its elements, the word kernels, and
// trace, half-trace and the quadratic solver used by point decompression.
//
// An element is n = floor(m/32) + 1 words, least significant first; bit i is
// the coefficient of x^i; bits m and above are always zero. Each element owns
// the work areas its kernels run in, so no operation allocates.
#pragma once

#include "crypto/algebra/lvnumbers.h"
#include "crypto/basic/lvconv.h"

// Kernels. Add: t ^= s over n words. Multiply and invert take the element's
// work area only (layouts below) and find n from the degree stored in it.
typedef void (*LvGF2nAddFn)(LvWord* t, const LvWord* s, unsigned int n);
typedef void (*LvGF2nMulFn)(LvWord* work);
typedef void (*LvGF2nInvFn)(LvWord* work);

// Multiply work area (4n + 3 words, then 5 more): bit mask, top mask
// 1 << (m mod 32), m, f (n), A (n), B (n), P (n); then the count of the
// reduction terms below m and up to four such exponents (count 0 unless f has
// at most five terms and m minus its second-highest exponent is at least 32).
// The kernel sets P = A·B mod f. The generic kernel consumes A; the
// fixed-size kernels reduce word by word through the terms when there are
// some, with the same result.
enum : unsigned int { GF2N_MUL_MASK = 0, GF2N_MUL_TOP = 1, GF2N_MUL_DEG = 2, GF2N_MUL_F = 3 };
inline unsigned int lvGF2nMulWorkWords(unsigned int n) { return 4 * n + 8; }
// Invert work area (5n + 2 words): top mask, m, f (n), u (n), v (n), g1 (n),
// g2 (n). With u = f, v = x (nonzero), g1 = 0, g2 = 1 the kernel leaves
// x^-1 in the u slot.
enum : unsigned int { GF2N_INV_TOP = 0, GF2N_INV_DEG = 1, GF2N_INV_F = 2 };

void gf2nAdd(LvWord* t, const LvWord* s, unsigned int n);
void gf2nMultiply(LvWord* work);
void gf2nInvert(LvWord* work);

#define LV_GF2N_FIXED_KERNELS(N)                          \
  void gf2nAdd##N(LvWord* t, const LvWord* s, unsigned int n); \
  void gf2nMultiply##N(LvWord* work);                     \
  void gf2nInvert##N(LvWord* work);
LV_GF2N_FIXED_KERNELS(3)
LV_GF2N_FIXED_KERNELS(4)
LV_GF2N_FIXED_KERNELS(5)
LV_GF2N_FIXED_KERNELS(6)
LV_GF2N_FIXED_KERNELS(7)
LV_GF2N_FIXED_KERNELS(8)
LV_GF2N_FIXED_KERNELS(9)
LV_GF2N_FIXED_KERNELS(13)
LV_GF2N_FIXED_KERNELS(18)
#undef LV_GF2N_FIXED_KERNELS
// u > v as unsigned numbers of 13 / 18 words, from the top word down.
bool gf2nGreater13(const LvWord* u, const LvWord* v);
bool gf2nGreater18(const LvWord* u, const LvWord* v);

// The kernel set of a word count: the fixed-size set where one exists, else
// the generic one.
struct LvGF2nKernels {
  LvGF2nAddFn add;
  LvGF2nMulFn multiply;
  LvGF2nInvFn invert;
};
LvGF2nKernels lvGF2nKernelsFor(unsigned int words);

class LvGF2nField {
 public:
  // Largest degree accepted (fields come from certificates too).
  static constexpr unsigned int kMaxDegree = 1024;

  LvGF2nField();
  // The polynomial as big-endian octets (leading zero octets allowed). Only an
  // irreducible polynomial with constant term 1 and degree 1..1024 gives a
  // field: anything else raises LvArgumentRangeException, since inversion
  // would not terminate on it.
  LvGF2nField(const LvOctet* f, unsigned int len);
  LvGF2nField(const LvGF2nField& o);
  LvGF2nField& operator=(const LvGF2nField& o);
  virtual ~LvGF2nField();

  unsigned int getDegree() const { return m; }
  unsigned int getWords() const { return n; }
  const LvWordMem& getPolynomial() const { return poly; }
  bool isEmpty() const { return m == 0; }
  // Number of nonzero coefficients.
  unsigned int getWeight() const;
  // Exponent of the (k+1)-th nonzero term from x^0; m + 1 when there are
  // not that many.
  unsigned int getTermPosition(unsigned int k) const;
  // The polynomial in floor((m + 8)/8) big-endian octets; returns that count.
  unsigned int asOctetString(LvOctet* fOct, unsigned int fLen) const;
  // Exponents below m used by the word-wise reduction (see the multiply
  // work area); 0 when the polynomial does not allow it.
  unsigned int getReductionTermCount() const { return termCount; }
  const unsigned int* getReductionTerms() const { return terms; }
  // Writes the header of a multiply work area (lvGF2nMulWorkWords(n) words)
  // and of an invert work area (5n + 2 words).
  void initMulWork(LvWord* work) const;
  void initInvWork(LvWord* work) const;
  bool operator==(const LvGF2nField& o) const;
  bool operator!=(const LvGF2nField& o) const { return !(*this == o); }

  LvGF2nAddFn add;
  LvGF2nMulFn multiply;
  LvGF2nInvFn invert;

 private:
  void findReductionTerms();

  unsigned int m;
  LvWordMem poly;
  unsigned int n;
  unsigned int termCount;
  unsigned int terms[4];
};

// True when the polynomial (bit i = coefficient of x^i, words least
// significant first, degree m) is irreducible over GF(2).
bool lvGF2nIsIrreducible(const LvWord* f, unsigned int words, unsigned int m);

class LvGF2n {
 public:
  LvGF2n();
  explicit LvGF2n(const LvGF2nField* f);
  // Big-endian octets; hexadecimal text.
  LvGF2n(const LvOctet* oct, unsigned int len, const LvGF2nField* f);
  LvGF2n(const char* hex, const LvGF2nField* f);
  LvGF2n(const LvWordMem& w, const LvGF2nField* f);
  LvGF2n(const LvGF2n& o);
  LvGF2n& operator=(const LvGF2n& o);
  virtual ~LvGF2n();

  // Binds to a field (value 0); the field must outlive the element.
  void setField(const LvGF2nField* f);
  const LvGF2nField* getField() const { return field; }
  unsigned int getDegree() const;
  unsigned int getWords() const { return n; }
  const LvWord* getValue() const { return val.ptr(); }

  // Copies min(count, n) words, zero-fills the rest and clears every bit at
  // position m and above, so the value is always a field element.
  void setWords(const LvWord* w, unsigned int count);
  void set(const LvN& a);
  void set(const LvOctet* oct, unsigned int len);
  void set(const char* hex);
  void setZero();
  void setOne();

  // Exactly ceil(m/8) big-endian octets; returns that count.
  unsigned int asOctetString(LvOctet* oct, unsigned int octLen) const;
  LvN asLvN() const;
  bool isZero() const;
  bool isOne() const;
  // The lowest bit of the value.
  unsigned int lowBit() const { return n ? (val.ptr()[0] & 1u) : 0u; }

  LvGF2n& operator+=(const LvGF2n& b);
  LvGF2n& operator*=(const LvGF2n& b);
  // a · b^-1; LvDivByZeroException for b = 0.
  LvGF2n& operator/=(const LvGF2n& b);
  LvGF2n& square();
  // this := this^-1; LvDivByZeroException for 0.
  LvGF2n& invert();
  // this := a·b, this := a², this := a / b (a or b may be this).
  void setProduct(const LvGF2n& a, const LvGF2n& b);
  void setSquare(const LvGF2n& a);
  void setQuotient(const LvGF2n& a, const LvGF2n& b);

  bool operator==(const LvGF2n& b) const;
  bool operator!=(const LvGF2n& b) const { return !(*this == b); }
  // The lowest word equals w and all others are zero.
  bool operator==(LvWord w) const;
  bool operator!=(LvWord w) const { return !(*this == w); }

 private:
  void checkSameField(const LvGF2n& b) const;
  void prepareWork();
  // P = A·B mod f for the values a and b; result into this.
  void mulInto(const LvWord* a, const LvWord* b);

  const LvGF2nField* field;
  LvWordMem val;
  unsigned int n;
  LvWordMem mulWork;
  LvWordMem invWork;
};

LvGF2n operator+(const LvGF2n& a, const LvGF2n& b);
LvGF2n operator*(const LvGF2n& a, const LvGF2n& b);
LvGF2n operator/(const LvGF2n& a, const LvGF2n& b);

// Trace of a: 0 or 1.
unsigned int trace(const LvGF2n& a);
// Half-trace (meaningful for odd m): sum of a^(2^(2i)), i = 0..(m-1)/2.
LvGF2n halfTrace(const LvGF2n& a);
// Roots of z² + a·z + b = 0 in the field of a: returns 0, 1 or 2 and the
// roots in x1 and x2 (unchanged when there is none).
unsigned int solve(const LvGF2n& a, const LvGF2n& b, LvGF2n& x1, LvGF2n& x2);
