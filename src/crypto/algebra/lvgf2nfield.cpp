// The binary field GF(2^m): reduction polynomial, degree, kernel choice, and
// the irreducibility check that keeps inversion from running for ever.
#include <cstdint>
#include <vector>

#include "crypto/algebra/lvgf2n.h"
#include "crypto/algebra/lvgf2nclmul.h"

#define GF2NFIELD_SRC "lvalgebra/lvgf2n/lvgf2nfield"

namespace {

// Polynomials over GF(2) in 64-bit words, used only by the set-up check.
typedef std::vector<std::uint64_t> Poly;

int degreeOf(const Poly& a) {
  for (std::size_t i = a.size(); i-- > 0;) {
    if (a[i]) return static_cast<int>(i * 64 + 63 - static_cast<unsigned int>(__builtin_clzll(a[i])));
  }
  return -1;
}

inline bool bitOf(const Poly& a, unsigned int i) { return (a[i / 64] >> (i % 64)) & 1u; }

// a ^= b << s, a long enough.
void xorShifted(Poly& a, const Poly& b, unsigned int s, int degB) {
  const unsigned int ws = s / 64, bs = s % 64;
  const std::size_t nb = static_cast<std::size_t>(degB) / 64 + 1;
  for (std::size_t i = 0; i < nb; i++) {
    if (i + ws < a.size()) a[i + ws] ^= b[i] << bs;
    if (bs && i + ws + 1 < a.size()) a[i + ws + 1] ^= b[i] >> (64 - bs);
  }
}

// a mod b (b nonzero), in place.
void reduce(Poly& a, const Poly& b) {
  const int db = degreeOf(b);
  for (int da = degreeOf(a); da >= db; da = degreeOf(a))
    xorShifted(a, b, static_cast<unsigned int>(da - db), db);
}

// The exponents of f's terms below its degree m when f is sparse (a trinomial
// or pentanomial, as every named binary curve has) and its second term at
// most m/2: then a mod f folds whole words, a few passes instead of one pass
// per bit. Empty otherwise.
std::vector<unsigned int> sparseTerms(const Poly& f, int m) {
  std::vector<unsigned int> t;
  for (int i = 0; i < m; i++) {
    if (!bitOf(f, static_cast<unsigned int>(i))) continue;
    if (t.size() == 8 || 2 * i > m) return {};
    t.push_back(static_cast<unsigned int>(i));
  }
  return t;
}

// a mod f by folding: the part h above x^m is replaced by h·(f - x^m).
void reduceSparse(Poly& a, const std::vector<unsigned int>& terms, unsigned int m) {
  const unsigned int mw = m / 64, mb = m % 64;
  for (int da = degreeOf(a); da >= static_cast<int>(m); da = degreeOf(a)) {
    Poly h(a.size() - mw, 0);
    for (std::size_t i = mw; i < a.size(); i++) {
      h[i - mw] = a[i] >> mb;
      if (mb && i + 1 < a.size()) h[i - mw] |= a[i + 1] << (64 - mb);
    }
    for (std::size_t i = mw + 1; i < a.size(); i++) a[i] = 0;
    a[mw] &= (std::uint64_t(1) << mb) - 1;
    const int dh = da - static_cast<int>(m);
    for (unsigned int t : terms) xorShifted(a, h, t, dh);
  }
}

// a² mod f (f of degree m; `terms` from sparseTerms).
Poly squareMod(const Poly& a, const Poly& f, const std::vector<unsigned int>& terms, int m) {
  Poly r(2 * a.size() + 1, 0);
  for (std::size_t i = 0; i < a.size(); i++) {
    std::uint64_t w = a[i];
    std::uint64_t lo = 0, hi = 0;
    for (unsigned int b = 0; b < 32; b++) {
      lo |= ((w >> b) & 1u) << (2 * b);
      hi |= ((w >> (b + 32)) & 1u) << (2 * b);
    }
    r[2 * i] = lo;
    r[2 * i + 1] = hi;
  }
  if (terms.empty()) reduce(r, f);
  else reduceSparse(r, terms, static_cast<unsigned int>(m));
  r.resize(a.size());
  return r;
}

Poly gcdOf(Poly a, Poly b) {
  while (degreeOf(b) >= 0) {
    reduce(a, b);
    std::swap(a, b);
  }
  return a;
}

}  // namespace

bool lvGF2nIsIrreducible(const LvWord* fw, unsigned int words, unsigned int m) {
  if (m == 0) return false;
  const std::size_t n64 = m / 64 + 1;
  Poly f(n64 + 1, 0);
  for (unsigned int i = 0; i < words && i / 2 < f.size(); i++)
    f[i / 2] |= static_cast<std::uint64_t>(fw[i]) << (32 * (i % 2));
  if (degreeOf(f) != static_cast<int>(m)) return false;
  if (!bitOf(f, 0)) return m == 1;  // x itself; callers refuse it separately
  // Rabin: x^(2^m) = x mod f, and gcd(x^(2^(m/p)) - x, f) = 1 for each prime p | m.
  Poly x(n64 + 1, 0);
  x[0] = 2;
  reduce(x, f);
  std::vector<unsigned int> primes;
  for (unsigned int p = 2, r = m; r > 1 && p <= r; p++) {
    if (r % p == 0) {
      primes.push_back(p);
      while (r % p == 0) r /= p;
    }
  }
  std::vector<Poly> marks(primes.size());
  const std::vector<unsigned int> terms = sparseTerms(f, static_cast<int>(m));
  Poly h = x;
  for (unsigned int i = 1; i <= m; i++) {
    h = squareMod(h, f, terms, static_cast<int>(m));
    h.resize(n64 + 1, 0);
    for (std::size_t j = 0; j < primes.size(); j++)
      if (i == m / primes[j]) marks[j] = h;
  }
  if (h != x) return false;
  for (std::size_t j = 0; j < primes.size(); j++) {
    Poly d = marks[j];
    for (std::size_t i = 0; i < d.size(); i++) d[i] ^= x[i];
    const Poly g = gcdOf(f, d);
    if (degreeOf(g) != 0) return false;
  }
  return true;
}

LvGF2nField::LvGF2nField()
    : add(gf2nAdd), multiply(gf2nMultiply), invert(gf2nInvert), m(0), poly(), n(0), termCount(0),
      terms{0, 0, 0, 0} {}

LvGF2nField::LvGF2nField(const LvOctet* f, unsigned int len)
    : add(gf2nAdd), multiply(gf2nMultiply), invert(gf2nInvert), m(0), poly(), n(0), termCount(0),
      terms{0, 0, 0, 0} {
  while (len > 1 && f[0] == 0) {
    f++;
    len--;
  }
  if (len == 0 || f[0] == 0 || len > kMaxDegree / 8 + 1)
    LV_THROW(LvArgumentRangeException, "Reduction polynomial is zero or of too high degree.",
             "LvGF2nField::LvGF2nField(const LvOctet *f, unsigned int len)", GF2NFIELD_SRC);
  unsigned int top = 0;
  for (unsigned int v = f[0]; v > 1; v >>= 1) top++;
  const unsigned int deg = 8 * (len - 1) + top;
  if (deg == 0 || deg > kMaxDegree || (f[len - 1] & 1) == 0)
    LV_THROW(LvArgumentRangeException, "Reduction polynomial is zero or of too high degree.",
             "LvGF2nField::LvGF2nField(const LvOctet *f, unsigned int len)", GF2NFIELD_SRC);
  const unsigned int words = deg / 32 + 1;
  LvWordMem p(words);
  for (unsigned int i = 0; i < len; i++) {
    const unsigned int bit = 8 * i;  // octet i from the end
    p.ptr()[bit / 32] |= static_cast<LvWord>(f[len - 1 - i]) << (bit % 32);
  }
  if (!lvGF2nIsIrreducible(p.ptr(), words, deg))
    LV_THROW(LvArgumentRangeException, "Reduction polynomial is not irreducible.",
             "LvGF2nField::LvGF2nField(const LvOctet *f, unsigned int len)", GF2NFIELD_SRC);
  m = deg;
  n = words;
  poly = p;
  const LvGF2nKernels k = lvGF2nKernelsFor(n);
  add = k.add;
  multiply = k.multiply;
  invert = k.invert;
  findReductionTerms();
  if (lvgf2nclmul::suits(*this)) {
    multiply = lvgf2nclmul::multiplyKernel(n);
    invert = lvgf2nclmul::invertKernel(n);
  }
}

void LvGF2nField::findReductionTerms() {
  termCount = 0;
  const unsigned int w = getWeight();
  if (w < 2 || w > 5) return;
  unsigned int count = 0;
  for (unsigned int k = 0; k + 1 < w; k++) terms[count++] = getTermPosition(k);
  // a fold must land entirely below the word it comes from
  if (m - terms[count - 1] < 32) return;
  termCount = count;
}

void LvGF2nField::initMulWork(LvWord* work) const {
  work[GF2N_MUL_MASK] = 0;
  work[GF2N_MUL_TOP] = static_cast<LvWord>(1) << (m % 32);
  work[GF2N_MUL_DEG] = m;
  for (unsigned int i = 0; i < n; i++) work[GF2N_MUL_F + i] = poly.ptr()[i];
  LvWord* t = work + GF2N_MUL_F + 4 * n;
  t[0] = termCount;
  for (unsigned int i = 0; i < 4; i++) t[1 + i] = terms[i];
}

void LvGF2nField::initInvWork(LvWord* work) const {
  work[GF2N_INV_TOP] = static_cast<LvWord>(1) << (m % 32);
  work[GF2N_INV_DEG] = m;
  for (unsigned int i = 0; i < n; i++) work[GF2N_INV_F + i] = poly.ptr()[i];
}

LvGF2nField::LvGF2nField(const LvGF2nField& o)
    : add(o.add), multiply(o.multiply), invert(o.invert), m(o.m), poly(o.poly), n(o.n),
      termCount(o.termCount), terms{o.terms[0], o.terms[1], o.terms[2], o.terms[3]} {}

LvGF2nField& LvGF2nField::operator=(const LvGF2nField& o) {
  if (this != &o) {
    add = o.add;
    multiply = o.multiply;
    invert = o.invert;
    m = o.m;
    poly = LvWordMem(o.n);
    for (unsigned int i = 0; i < o.n; i++) poly.ptr()[i] = o.poly.ptr()[i];
    n = o.n;
    termCount = o.termCount;
    for (unsigned int i = 0; i < 4; i++) terms[i] = o.terms[i];
  }
  return *this;
}

LvGF2nField::~LvGF2nField() {}

bool LvGF2nField::operator==(const LvGF2nField& o) const {
  if (m != o.m || n != o.n) return false;
  for (unsigned int i = 0; i < n; i++)
    if (poly.ptr()[i] != o.poly.ptr()[i]) return false;
  return true;
}

unsigned int LvGF2nField::getWeight() const {
  unsigned int w = 0;
  for (unsigned int i = 0; i < n; i++) w += static_cast<unsigned int>(__builtin_popcount(poly.ptr()[i]));
  return w;
}

unsigned int LvGF2nField::getTermPosition(unsigned int k) const {
  unsigned int seen = 0;
  for (unsigned int i = 0; i <= m && i / 32 < n; i++) {
    if ((poly.ptr()[i / 32] >> (i % 32)) & 1u) {
      if (seen == k) return i;
      seen++;
    }
  }
  return m + 1;
}

unsigned int LvGF2nField::asOctetString(LvOctet* fOct, unsigned int fLen) const {
  const unsigned int len = (m + 8) / 8;
  if (fLen < len)
    LV_THROW(LvArgumentRangeException, "Too small output buffer (LvOctet *fOct).",
             "unsigned int LvGF2nField::asOctetString(LvOctet *fOct, unsigned int fLen) const",
             GF2NFIELD_SRC);
  for (unsigned int i = 0; i < len; i++) {
    const unsigned int bit = 8 * i;
    fOct[len - 1 - i] = bit / 32 < n ? static_cast<LvOctet>(poly.ptr()[bit / 32] >> (bit % 32)) : 0;
  }
  return len;
}
