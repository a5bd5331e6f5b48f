#include "crypto/rbg/lvrbghashiso18031.h"

#include <cstring>
#include <vector>

#define LVRBG_FILE "lvrbg\\lvrbghashiso18031.cpp"

namespace {

// left := left + right as big-endian numbers, right aligned at the low end,
// the result kept at the length of left.
void addBe(LvOctet* left, unsigned int nl, const LvOctet* right, unsigned int nr) {
  unsigned int carry = 0;
  for (unsigned int i = 0; i < nl; ++i) {
    unsigned int sum = left[nl - 1 - i] + carry + (i < nr ? right[nr - 1 - i] : 0);
    left[nl - 1 - i] = static_cast<LvOctet>(sum);
    carry = sum >> 8;
  }
}

const char* orEmpty(const char* s) { return s ? s : ""; }

// A byte vector that wipes itself.
struct WipedBytes {
  std::vector<LvOctet> v;
  explicit WipedBytes(std::size_t n) : v(n) {}
  ~WipedBytes() { lvWipe(v.data(), v.size()); }
};

}  // namespace

LvRbgHashIso18031::LvRbgHashIso18031()
    : m_hash(nullptr), m_strength(0), m_counter(1), m_instantiated(0) {
  setHashAlgo(3, 80);
}

LvRbgHashIso18031::~LvRbgHashIso18031() { delete m_hash; }

void LvRbgHashIso18031::setHashAlgo(LvHashAlgo id, std::uint32_t strength) {
  // GHASH-128 has no key here and digests everything to zero: a generator
  // over it would hand out zeros.
  if (id == LV_HASH_GHASH128)
    LV_THROW(LvArgumentRangeException, "Algorytm skrotu wymaga klucza.",
             "LvRbgHashIso18031::setHashAlgo", LVRBG_FILE);
  LvHash* fresh = lvHashCreateObject(id);
  // Checked before anything changes, so a refused strength keeps the
  // generator as it was.
  if (strength > 8 * fresh->getHashOctets()) {
    delete fresh;
    LV_THROW(LvArgumentRangeException, "Zbyt duza sila RBG.", "LvRbgHashIso18031::setHashAlgo",
             LVRBG_FILE);
  }
  delete m_hash;
  m_hash = fresh;
  if (strength <= 80)
    m_strength = 80;
  else if (strength <= 112)
    m_strength = 112;
  else if (strength <= 128)
    m_strength = 128;
  else if (strength <= 192)
    m_strength = 192;
  else
    m_strength = 256;
}

unsigned int LvRbgHashIso18031::seedLenBits() const {
  unsigned int outBits = 8 * outOctets();
  return m_strength > outBits ? m_strength : outBits;
}

void LvRbgHashIso18031::digest(LvOctet* dst, const LvOctet* a, unsigned int na, const LvOctet* b,
                               unsigned int nb, const LvOctet* c, unsigned int nc, const LvOctet* d,
                               unsigned int nd) {
  m_hash->init();
  if (na) m_hash->step(a, na);
  if (nb) m_hash->step(b, nb);
  if (nc) m_hash->step(c, nc);
  if (nd) m_hash->step(d, nd);
  m_hash->finish();
  m_hash->getHash(0, dst);
}

void LvRbgHashIso18031::hashDf(LvOctMem& value, unsigned int bits) {
  const unsigned int out = outOctets();
  const unsigned int m = (bits + 8 * out - 1) / (8 * out);
  LvOctet head[3] = {0x01, static_cast<LvOctet>(bits & 0xFF),
                     static_cast<LvOctet>((bits >> 8) & 0xFF)};
  WipedBytes r(std::size_t(m) * out);
  for (unsigned int i = 0; i < m; ++i) {
    digest(r.v.data() + std::size_t(i) * out, head, 3, value.ptr(), value.getLength());
    ++head[0];
  }
  LvOctMem result(r.v.data(), bits / 8);
  value = result;
  value.resize(bits / 8);
}

void LvRbgHashIso18031::hashGen(LvOctet* dst, unsigned int octets) {
  const unsigned int out = outOctets();
  LvOctMem data(m_v);
  LvOctet h[64];
  while (octets > 0) {
    digest(h, data.ptr(), data.getLength());
    unsigned int n = octets < out ? octets : out;
    std::memcpy(dst, h, n);
    dst += n;
    octets -= n;
    const LvOctet one = 1;
    addBe(data.ptr(), data.getLength(), &one, 1);
  }
  lvWipe(h, sizeof h);
}

void LvRbgHashIso18031::init(const LvOctet* seed, unsigned int seedOctets) {
  init(seed, seedOctets, "");
}

void LvRbgHashIso18031::reinit(const LvOctet* seed, unsigned int seedOctets) {
  reinit(seed, seedOctets, "");
}

void LvRbgHashIso18031::init(const LvOctet* seed, unsigned int seedOctets,
                             const char* personalisationString) {
  m_instantiated = 0;
  const unsigned int minBits = m_strength > 128 ? m_strength : 128;
  const unsigned int seedLen = seedLenBits();
  const unsigned int needed = (minBits > seedLen ? minBits : seedLen) / 8;
  if (seedOctets < minBits / 8) {
    LvBadKeyLengthException e(seedOctets, minBits / 8, 0, 0);
    e.setMessage(LV_EXCEPTION_TEXT(
        "LvBadKeyLengthException", "Number of seed octets is too small.",
        "void LvRbgHashIso18031::init(const LvOctet *seed, unsigned int seedLen, const char "
        "*personalisationString)",
        LVRBG_FILE));
    throw e;
  }
  // Entropy input: the seed repeated and cut to exactly `needed` octets.
  const char* p = orEmpty(personalisationString);
  const unsigned int np = static_cast<unsigned int>(std::strlen(p)) + 1;
  LvOctMem material(needed + np);
  for (unsigned int i = 0; i < needed; ++i) material.ptr()[i] = seed[i % seedOctets];
  std::memcpy(material.ptr() + needed, p, np);
  m_counter = 1;
  m_v = material;
  hashDf(m_v, seedLen);
  m_fingerprint.resize(outOctets());
  digest(m_fingerprint.ptr(), material.ptr(), needed);
  m_c.resize(outOctets());
  const LvOctet zero = 0;
  digest(m_c.ptr(), &zero, 1, m_v.ptr(), m_v.getLength());
  m_instantiated = 1;
}

void LvRbgHashIso18031::reinit(const LvOctet* seed, unsigned int seedOctets,
                               const char* additionalString) {
  if (!m_instantiated)
    LV_THROW(LvRbgNotInitialisedException, "Niezainicjowane RBG.",
             "void LvRbgHashIso18031::reinit(const LvOctet *seed, unsigned int seedLen, const "
             "char *additionalString)",
             LVRBG_FILE);
  const char* a = orEmpty(additionalString);
  const unsigned int na = static_cast<unsigned int>(std::strlen(a)) + 1;
  const unsigned int nv = m_v.getLength();
  // The material's size is computed wide so that a huge seed length cannot
  // wrap it around to a small buffer.
  const std::uint64_t total = std::uint64_t(1) + nv + seedOctets + na;
  if (total > 0xFFFFFFFFu)
    LV_THROW(LvArgumentRangeException, "Zbyt dlugie ziarno.", "LvRbgHashIso18031::reinit",
             LVRBG_FILE);
  m_counter = 1;
  LvOctMem material(static_cast<unsigned int>(total));
  material.ptr()[0] = 0x01;
  std::memcpy(material.ptr() + 1, m_v.ptr(), nv);
  if (seedOctets) std::memcpy(material.ptr() + 1 + nv, seed, seedOctets);
  std::memcpy(material.ptr() + 1 + nv + seedOctets, a, na);
  hashDf(material, seedLenBits());
  m_v = material;
  LvOctMem d(outOctets());
  digest(d.ptr(), seed, seedOctets);
  // A fingerprint of another length (the hash was changed) never matches.
  if (d.getLength() == m_fingerprint.getLength() &&
      std::memcmp(d.ptr(), m_fingerprint.ptr(), d.getLength()) == 0)
    LV_THROW(LvRbgCycleException, "There is cycle in random bit generator.",
             "LvRbgHashIso18031::reinit", LVRBG_FILE);
  m_fingerprint = d;
  // The hash may have changed since the instantiation: C takes its length.
  m_c.resize(outOctets());
  const LvOctet zero = 0;
  digest(m_c.ptr(), &zero, 1, m_v.ptr(), m_v.getLength());
}

void LvRbgHashIso18031::fillOctets(LvOctet* dst, unsigned int octets) {
  if (!m_instantiated)
    LV_THROW(LvRbgNotInitialisedException, "Niezainicjowane RBG.",
             "void LvRbgHashIso18031::fillOctets(LvOctet *dst, unsigned int dstLen)", LVRBG_FILE);
  // A wrapped counter stays at 0, so every further request is refused until
  // the generator is seeded again.
  if (m_counter == 0)
    LV_THROW(LvRbgCycleException, "There is cycle in random bit generator.",
             "LvRbgHashIso18031::fillOctets", LVRBG_FILE);
  ++m_counter;
  hashGen(dst, octets);
  LvOctet h[64];
  const LvOctet three = 3;
  digest(h, &three, 1, m_v.ptr(), m_v.getLength());
  const LvOctet one = 1;
  addBe(m_c.ptr(), m_c.getLength(), &one, 1);
  addBe(m_v.ptr(), m_v.getLength(), h, outOctets());
  addBe(m_v.ptr(), m_v.getLength(), m_c.ptr(), m_c.getLength());
  lvWipe(h, sizeof h);
}
