// GF(p) and DSA key domains (see lvgfpkeydomain.h).
#include "crypto/asym/lvgfpkeydomain.h"

#include <memory>
#include <vector>

#include "crypto/hash/lvhash.h"
#include "crypto/rbg/lvrbgdss.h"

LvGFpKeyDomain::LvGFpKeyDomain() : mmg(), seedAndCounterSet(0), seed(), counter() {}

LvGFpKeyDomain::~LvGFpKeyDomain() { dropGen(); }

unsigned int LvGFpKeyDomain::getDomainType() const { return LV_DOMAIN_GFP; }

bool LvGFpKeyDomain::isReady() const {
  if (!group || !gen || mmg.isZero() || order.isZero()) return false;
  return getG() > 1u;
}

void LvGFpKeyDomain::setP(const LvOctet* oct, unsigned int len) {
  validity = LV_DOMAIN_UNCHECKED;
  dropGen();
  mmg = LvMultiplicativeModulusGroup(LvN(oct, len), 9);
  setGroup(&mmg);
}

void LvGFpKeyDomain::setP(const char* text) {
  validity = LV_DOMAIN_UNCHECKED;
  dropGen();
  mmg = LvMultiplicativeModulusGroup(text, 9);
  setGroup(&mmg);
}

void LvGFpKeyDomain::setQ(const LvOctet* oct, unsigned int len) { setOrder(oct, len); }

void LvGFpKeyDomain::setQ(const char* text) { setOrder(LvModulus(text, 8)); }

void LvGFpKeyDomain::setG(const LvOctet* oct, unsigned int len) { setGen(oct, len); }

void LvGFpKeyDomain::setG(const char* text) {
  validity = LV_DOMAIN_UNCHECKED;
  if (!group)
    LV_THROW(LvNotInitException, "Uninitialised group.",
             "void LvGeneralDsaKeyDomain::setGen(LvOctet *oct, unsigned int len)",
             "lvasym/lvgeneraldsakeydomain");
  LvZn g(text, &mmg);
  setGen(&g);
}

void LvGFpKeyDomain::setSeed(const LvOctet* s, unsigned int len) {
  validity = LV_DOMAIN_UNCHECKED;
  seed = LvConvOS(s, len);
}

void LvGFpKeyDomain::setSeed(const char* hexText) {
  validity = LV_DOMAIN_UNCHECKED;
  seed = LvConvOS(hexText);
}

void LvGFpKeyDomain::setCounter(const LvOctet* oct, unsigned int len) {
  validity = LV_DOMAIN_UNCHECKED;
  counter = LvN(oct, len);
}

void LvGFpKeyDomain::setCounter(const char* text) {
  validity = LV_DOMAIN_UNCHECKED;
  counter = LvN(text);
}

void LvGFpKeyDomain::setSeedAndCounter(const LvOctet* s, unsigned int seedLen, const LvOctet* c,
                                       unsigned int counterLen) {
  setSeed(s, seedLen);
  setCounter(c, counterLen);
  seedAndCounterSet = 1;
}

void LvGFpKeyDomain::setSeedAndCounter(const char* seedHex, const char* counterText) {
  setSeed(seedHex);
  setCounter(counterText);
  seedAndCounterSet = 1;
}

unsigned int LvGFpKeyDomain::getP(LvOctet* oct, unsigned int len) const {
  return mmg.getOctets(oct, len);
}
const LvMultiplicativeModulusGroup& LvGFpKeyDomain::getP() const { return mmg; }
unsigned int LvGFpKeyDomain::getQ(LvOctet* oct, unsigned int len) const {
  return order.getOctets(oct, len);
}
const LvModulus& LvGFpKeyDomain::getQ() const { return order; }
unsigned int LvGFpKeyDomain::getG(LvOctet* oct, unsigned int len) const {
  return getG().getOctets(oct, len);
}
LvN LvGFpKeyDomain::getG() const {
  if (!gen) return LvN();
  return static_cast<const LvZn*>(gen)->getN();
}
unsigned int LvGFpKeyDomain::getSeed(LvOctet* oct, unsigned int len) const {
  const unsigned int n = seed.getLength();
  if (n == 0 || len < n) return 0;
  for (unsigned int i = 0; i < n; i++) oct[i] = seed[i];
  return n;
}
unsigned int LvGFpKeyDomain::getCounter(LvOctet* oct, unsigned int len) const {
  return counter.getOctets(oct, len);
}
LvWord LvGFpKeyDomain::getCounter() const { return counter.getLowWord(); }

namespace {

void incrementOctets(LvOctMem& s) {
  for (unsigned int i = s.getLength(); i-- > 0;) {
    if (++s[i] != 0) break;
  }
}

// p = X - (X mod 2q - 1)
LvN primeCandidate(const LvN& X, const LvN& q) {
  const LvN c = X % (LvN(2u, 1) * q);
  return (X + 1u) - c;
}

// s += v (big-endian octets, carry out of the top dropped)
void addToOctets(LvOctMem& s, const LvN& v) {
  const unsigned int n = s.getLength();
  LvOctMem vb(n);
  LvN vm = v;
  if (vm.getOctetLength() > n) vm = vm % (LvN(1u, 1) << (8 * n));
  vm.getOctets(vb.ptr(), n, 1);
  unsigned int carry = 0;
  for (unsigned int i = n; i-- > 0;) {
    unsigned int t = s[i] + vb[i] + carry;
    s[i] = static_cast<LvOctet>(t);
    carry = t >> 8;
  }
}

}  // namespace

bool LvGFpKeyDomain::seedReproduces() const {
  const unsigned int g = seed.getLength();
  if (g < 20) return false;
  const unsigned int N = order.getBitLength(), L = mmg.getBitLength();
  if (N < 2 || L < 2) return false;
  const unsigned int m = (N + 159) / 160, n = (L + 159) / 160;
  std::unique_ptr<LvHash> sha(lvHashCreateObject(LV_HASH_SHA1));
  LvOctMem S(seed.ptr(), g);
  LvOctMem U(20 * m);
  for (unsigned int i = 0; i < 2 * m; i++) {
    sha->hash(S.ptr(), g);
    const LvOctet* h = sha->getHashPtr();
    const unsigned int block = m - 1 - (i % m);
    for (unsigned int j = 0; j < 20; j++) U[20 * block + j] ^= h[j];
    incrementOctets(S);
  }
  U[20 * m - 1] |= 1;
  const LvN topQ = LvN(1u, 1) << (N - 1);
  const LvN q = topQ + LvN(U.ptr(), 20 * m) % topQ;
  if (q != order) return false;
  addToOctets(S, LvN(counter) * LvN(n, 1));
  LvOctMem W(20 * n);
  for (unsigned int k = 0; k < n; k++) {
    sha->hash(S.ptr(), g);
    const LvOctet* h = sha->getHashPtr();
    for (unsigned int j = 0; j < 20; j++) W[20 * (n - 1 - k) + j] = h[j];
    incrementOctets(S);
  }
  const LvN topP = LvN(1u, 1) << (L - 1);
  const LvN X = LvN(W.ptr(), 20 * n) % topP + topP;
  return primeCandidate(X, order) == LvN(mmg);
}

bool LvGFpKeyDomain::validate() {
  return validateThen([this] {
    const LvN p = mmg;
    const LvN q = order;
    bool ok = false;
    if (seedAndCounterSet || seed.getLength() > 0) {
      ok = seedReproduces();
    } else {
      // Nothing to re-derive from: check what the seed would have assured.
      ok = isProbablePrime(LvModulus(p, 0), nullptr) && isProbablePrime(LvModulus(q, 0), nullptr) &&
           ((p - 1u) % q).isZero();
    }
    const LvN g = getG();
    return ok && g != 1u && g != p - 1u;
  });
}

// ------------------------------------------------------------------ generation

#define GEN_FN                                                                                  \
  "void LvGFpKeyDomain::generateGFpKeyDomain(LvOctet *seed, unsigned int qBits, unsigned int " \
  "pBits, int (*interrupt)(void *), void *interruptCtx)"

namespace {

void askInterrupt(int (*interrupt)(void*), void* ctx) {
  if (interrupt && interrupt(ctx) != 0)
    LV_THROW(LvInterruptException, "function terminated by user or application", GEN_FN,
             "lvasym/lvgfpkeydomain");
}

// count bases of `bits` bits from the generator; 0 becomes 1
void drawBases(std::vector<LvN>& bases, unsigned int count, unsigned int bits, LvRbg* rbg,
               int (*interrupt)(void*), void* ctx) {
  bases.assign(count, LvN());
  for (unsigned int i = 0; i < count; i++) {
    bases[i].random(bits, rbg);
    if (bases[i].isZero()) bases[i] = 1u;
    askInterrupt(interrupt, ctx);
  }
}

}  // namespace

void LvGFpKeyDomain::setGenerated(const LvN& p, const LvN& q) {
  dropGen();
  mmg = LvMultiplicativeModulusGroup(p, 9);
  setGroup(&mmg);
  setGroupOrder(LvModulus(p - 1u, 0));
  setOrder(LvModulus(q, 9));
  setCofactor((p - 1u) / q);
  LvZn g(computeGenerator(p, q), &mmg);
  setGen(&g);
}

void LvGFpKeyDomain::generateGFpKeyDomain(LvOctet* seedOut, unsigned int qBits, unsigned int pBits,
                                          int (*interrupt)(void*), void* ctx) {
  unsigned int N = qBits, L = pBits;
  if (N < 3) {
    L += 3 - N;
    N = 3;
  }
  const unsigned int m = (N + 159) / 160, n = (L + 159) / 160;
  std::unique_ptr<LvHash> sha(lvHashCreateObject(LV_HASH_SHA1));
  LvOctMem S(seedOut, 20);
  const LvN topQ = LvN(1u, 1) << (N - 1), topP = LvN(1u, 1) << (L - 1);
  const unsigned int maxCounter = 4096 * ((L + 1023) / 1024);
  std::vector<LvN> qBases, pBases;
  for (;;) {
    for (unsigned int i = 0; i < 20; i++) seedOut[i] = S[i];
    LvOctMem U(20 * m);
    for (unsigned int i = 0; i < 2 * m; i++) {
      sha->hash(S.ptr(), 20);
      const LvOctet* hsh = sha->getHashPtr();
      const unsigned int block = m - 1 - (i % m);
      for (unsigned int j = 0; j < 20; j++) U[20 * block + j] ^= hsh[j];
      incrementOctets(S);
    }
    U[20 * m - 1] |= 1;
    const LvN q = topQ + LvN(U.ptr(), 20 * m) % topQ;
    LvRbgDss31 bases;
    bases.init(seedOut, 20);
    drawBases(qBases, 50, N, &bases, interrupt, ctx);
    if (!millerRabinTest(q, qBases.data(), 50)) continue;
    drawBases(pBases, 50, L, &bases, nullptr, nullptr);
    for (unsigned int c = 0; c < maxCounter; c++) {
      LvOctMem W(20 * n);
      for (unsigned int k = 0; k < n; k++) {
        sha->hash(S.ptr(), 20);
        const LvOctet* hsh = sha->getHashPtr();
        for (unsigned int j = 0; j < 20; j++) W[20 * (n - 1 - k) + j] = hsh[j];
        incrementOctets(S);
      }
      const LvN X = LvN(W.ptr(), 20 * n) % topP + topP;
      const LvN p = primeCandidate(X, q);
      if (p.getBitLength() == L && millerRabinTest(p, pBases.data(), 50)) {
        setGenerated(p, q);
        counter = LvN(c, 1);
        return;
      }
      askInterrupt(interrupt, ctx);
    }
  }
}

bool LvGFpKeyDomain::generate(LvRbg* rbg, unsigned int qBits, unsigned int pBits,
                              int (*interrupt)(void*), void* ctx) {
  if (pBits < qBits + 32 || !rbg) return false;
  LvOctMem s(20);
  rbg->fillOctets(s.ptr(), 20);
  return generate(s.ptr(), 20, qBits, pBits, interrupt, ctx);
}

bool LvGFpKeyDomain::generate(const LvOctet* seedIn, unsigned int seedLen, unsigned int qBits,
                              unsigned int pBits, int (*interrupt)(void*), void* ctx) {
  if (pBits < qBits + 32 || seedLen < 20) return false;
  LvOctMem s(seedIn, 20);
  generateGFpKeyDomain(s.ptr(), qBits, pBits, interrupt, ctx);
  seed = LvConvOS(s.ptr(), 20);
  seedAndCounterSet = 1;
  validity = LV_DOMAIN_UNCHECKED;
  // The caller learns whether the new domain passed validation; answering
  // true regardless would hand out a domain that failed its own checks.
  return validate();
}

void LvGFpKeyDomain::generateFips186_3(const LvOctet* seedIn, unsigned int seedlen, unsigned int N,
                                       unsigned int L, LvHash* hash) {
  auto refuse = [this](const char* text) {
    m_reserved = 1;
    setInfo(text);
  };
  if (!hash) return refuse("Hash function is not initialised.");
  const unsigned int outlen = 8 * hash->getHashOctets();
  if (m_optionB & 4) {
    if (seedlen < N)
      return refuse("CheckIfShallIsFulfilled option is enabled: seedBits shall be at least equal to "
                    "qBits for domain generation process.");
    if (outlen < N)
      return refuse("CheckIfShallIsFulfilled option is enabled: hash function output shall be at "
                    "least equal to qBits for domain generation process.");
  }
  const unsigned int s = m_strength;
  if (s != 0) {
    const bool small = (s > 256 && (N < 512 || L < 15360)) || (s > 192 && (N < 384 || L < 7680)) ||
                       (s > 128 && (N < 256 || L < 3072)) || (s > 112 && (N < 224 || L < 2048)) ||
                       (s > 80 && (N < 160 || L < 1024));
    if (small) return refuse("Domain size is too small for this security level.");
  }
  if (m_optionA & 1) {
    // asked of a copy, so the caller's hash keeps its options
    std::unique_ptr<LvHash> probe(hash->clone());
    probe->setOption(1);
    if (!probe->isApproved()) return refuse("Hash function is not approved by NIST.");
    const bool sizes = (N == 160 && L == 1024) || (N == 224 && L == 2048) ||
                       (N == 256 && (L == 2048 || L == 3072));
    if (!sizes) {
      if (N == 160)
        return refuse("Fips standard is enabled: pBits must be equal to 1024 when qBits is 160 for "
                      "domain generation process. Check FIPS 186-3 A.1.1.2 (1).");
      if (N == 224)
        return refuse("Fips standard is enabled: pBits must be equal to 2048 when qBits is 224 for "
                      "domain generation process. Check FIPS 186-3 A.1.1.2 (1).");
      if (N == 256)
        return refuse("Fips standard is enabled: pBits must be equal to 2048 or 3072 when qBits is "
                      "256 for domain generation process. Check FIPS 186-3 A.1.1.2 (1).");
      return refuse("Fips standard is enabled: qBits must be equal to 160, 224 or 256 for domain "
                    "generation process. Check FIPS 186-3 A.1.1.2 (1).");
    }
  }
  if (seedlen < N) return refuse("Seed is too small. Check FIPS 186-3 A.1.1.2 (2).");
  if (N < 2 || L < 2 || outlen == 0) return refuse("Domain size is too small for this security level.");
  // No p of L bits is 1 mod 2q when L is not above N: the search would never
  // end. The other generation entry points draw the line at qBits + 32.
  if (L < N + 32)
    return refuse("pBits must be at least qBits + 32 for domain generation process.");
  unsigned int t = N / 4;
  const unsigned int cap = L <= 1024 ? 40 : L <= 2048 ? 56 : L <= 3072 ? 64 : L <= 7680 ? 96 : 128;
  if (t > cap) t = cap;
  if (t == 0) t = 1;
  const unsigned int so = (seedlen + 7) / 8;
  LvRbgDss31 bases;
  bases.init(seedIn, so);
  std::vector<LvN> qBases, pBases;
  drawBases(qBases, t, N, &bases, nullptr, nullptr);
  drawBases(pBases, t, L, &bases, nullptr, nullptr);
  const unsigned int n = (L + outlen - 1) / outlen - 1;
  const LvN topQ = LvN(1u, 1) << (N - 1), topP = LvN(1u, 1) << (L - 1);
  std::unique_ptr<LvHash> h(hash->clone());
  LvOctMem S(seedIn, so);
  for (;;) {
    incrementOctets(S);
    h->hash(S.ptr(), so);
    const LvN U = LvN(h->getHashPtr(), h->getHashOctets()) % topQ;
    const LvN q = topQ + U + 1u - (U.isEven() ? 0u : 1u);
    if (!millerRabinTest(q, qBases.data(), t)) continue;
    unsigned int offset = 1;
    for (unsigned int c = 0; c < 4 * L; c++) {
      LvN W;
      for (unsigned int j = 0; j <= n; j++) {
        LvOctMem V(S);
        addToOctets(V, LvN(offset + j, 1));
        h->hash(V.ptr(), so);
        W += LvN(h->getHashPtr(), h->getHashOctets()) << (j * outlen);
      }
      const LvN X = W % topP + topP;
      const LvN p = primeCandidate(X, q);
      if (p >= topP && millerRabinTest(p, pBases.data(), t)) {
        // the seed and counter stay unset: validate() re-derives with the
        // SHA-1 method of generateGFpKeyDomain, which this one is not
        setGenerated(p, q);
        m_reserved = 0;
        setInfo("DSA domain generated.");
        return;
      }
      offset += n + 1;
    }
  }
}

LvDsaKeyDomain::LvDsaKeyDomain() {}

bool LvDsaKeyDomain::generate(LvRbg* rbg, unsigned int qBits, unsigned int pBits,
                              int (*interrupt)(void*), void* ctx) {
  if (qBits != 160 || pBits != 1024) return false;
  return LvGFpKeyDomain::generate(rbg, 160, 1024, interrupt, ctx);
}

bool LvDsaKeyDomain::generate(const LvOctet* s, unsigned int seedLen, unsigned int qBits,
                              unsigned int pBits, int (*interrupt)(void*), void* ctx) {
  if (qBits != 160 || pBits != 1024 || seedLen < 20) return false;
  return LvGFpKeyDomain::generate(s, seedLen, 160, 1024, interrupt, ctx);
}
LvDsaKeyDomain::~LvDsaKeyDomain() {}
unsigned int LvDsaKeyDomain::getDomainType() const { return LV_DOMAIN_DSA; }
