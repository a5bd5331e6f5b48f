#include "crypto/rbg/lvrbgdss.h"

#include <cstdlib>
#include <cstring>

#include "crypto/hash/lvsha.h"

#define LVRBG_FILE "lvrbg\\lvrbgdss.cpp"

namespace {

// G(t, c): one SHA-1 compression of c padded with zeros to 64 octets, from
// the chaining value t (the SHA-1 initial value), without length padding.
void functionG(const LvOctet* c, unsigned int n, LvOctet out[20]) {
  static const LvWord t[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
  LvOctet block[64] = {};
  std::memcpy(block, c, n < 64 ? n : 64);
  LvSha1::compressG(t, block, out);
  lvWipe(block, sizeof block);
}

// a := a + addend modulo 2^(8 n), octet 0 least significant; the addend
// (m octets, m <= n) occupies the low octets.
void addLe(LvOctet* a, unsigned int n, const LvOctet* addend, unsigned int m) {
  unsigned int carry = 0;
  for (unsigned int i = 0; i < n; ++i) {
    unsigned int sum = a[i] + carry + (i < m ? addend[i] : 0);
    a[i] = static_cast<LvOctet>(sum);
    carry = sum >> 8;
  }
}

// XKEY := XKEY + 1 + G(t, XKEY); the new output block into x.
void advance(LvOctet* key, unsigned int b, LvOctet x[20]) {
  functionG(key, b, x);
  const LvOctet one = 1;
  addLe(key, b, &one, 1);
  addLe(key, b, x, b < 20 ? b : 20);
}

}  // namespace

LvRbgDss::LvRbgDss() : m_instantiated(0), m_b(0), m_available(0), m_cycle(0) {
  std::memset(m_xkey, 0, sizeof m_xkey);
  std::memset(m_shadow, 0, sizeof m_shadow);
  std::memset(m_x, 0, sizeof m_x);
}

LvRbgDss::~LvRbgDss() {
  lvWipe(m_xkey, sizeof m_xkey);
  lvWipe(m_shadow, sizeof m_shadow);
  lvWipe(m_x, sizeof m_x);
}

void LvRbgDss::init(const LvOctet* seed, unsigned int seedOctets) {
  m_instantiated = 0;
  if (seedOctets < kMinSeed) {
    LvBadKeyLengthException e(seedOctets, kMinSeed, kMaxSeed, 1);
    e.setMessage(LV_EXCEPTION_TEXT("LvBadKeyLengthException", "Zbyt krótkie ziarno.",
                                   "LvRbgDss::init", LVRBG_FILE));
    throw e;
  }
  m_b = seedOctets < kMaxSeed ? seedOctets : kMaxSeed;
  std::memset(m_xkey, 0, sizeof m_xkey);
  std::memcpy(m_xkey, seed, m_b);
  std::memcpy(m_shadow, m_xkey, sizeof m_xkey);
  m_available = 0;
  m_cycle = 0;
  m_instantiated = 1;
}

void LvRbgDss::reinit(const LvOctet* seed, unsigned int seedOctets) {
  if (!m_instantiated)
    LV_THROW(LvRbgNotInitialisedException, "Niezainicjowane RBG.", "LvRbgDss::reinit", LVRBG_FILE);
  bool allZero = true;
  for (unsigned int i = 0; i < seedOctets && allZero; ++i) allZero = seed[i] == 0;
  if (allZero) return;
  addLe(m_xkey, m_b, seed, seedOctets < m_b ? seedOctets : m_b);
  std::memcpy(m_shadow, m_xkey, sizeof m_xkey);
  m_cycle = 0;
}

void LvRbgDss::throwCycle() {
  LV_THROW(LvRbgCycleException, "Wykryto cykl RBG", "LvRbgDss::step", LVRBG_FILE);
}

void LvRbgDss::step() {
  advance(m_xkey, m_b, m_x);
  m_available = kBlock;
  // The shadow walks the same sequence twice as fast: meeting it means the
  // sequence has entered a cycle.
  LvOctet y[kBlock];
  advance(m_shadow, m_b, y);
  advance(m_shadow, m_b, y);
  lvWipe(y, sizeof y);
  if (std::memcmp(m_xkey, m_shadow, m_b) == 0) {
    // The sequence repeats from here on: nothing more of it is handed out,
    // the block of this step included.
    m_cycle = 1;
    m_available = 0;
    throwCycle();
  }
}

void LvRbgDss::fillOctets(LvOctet* dst, unsigned int octets) {
  if (!m_instantiated)
    LV_THROW(LvRbgNotInitialisedException, "Niezainicjowane RBG.", "LvRbgDss::reinit", LVRBG_FILE);
  if (m_cycle) throwCycle();
  while (octets > 0) {
    if (m_available > 0) {
      unsigned int n = octets < m_available ? octets : m_available;
      std::memcpy(dst, m_x + (kBlock - m_available), n);
      dst += n;
      octets -= n;
      m_available -= n;
    } else {
      step();
    }
  }
}

// ---- LvRbgRand ----

LvRbgRand::LvRbgRand(const LvOctet* seed, unsigned int seedOctets) { init(seed, seedOctets); }

void LvRbgRand::init(const LvOctet* seed, unsigned int seedOctets) {
  unsigned int w = 0;
  for (unsigned int i = 0; i < seedOctets && i < 4; ++i) w = (w << 8) ^ seed[i];
  std::srand(w);
}

void LvRbgRand::fillOctets(LvOctet* dst, unsigned int octets) {
  for (unsigned int i = 0; i < octets; ++i) dst[i] = static_cast<LvOctet>(std::rand() & 0xFF);
}

// ---- LvRbgSimple ----

LvRbgSimple::LvRbgSimple() : m_n(0), m_pos(0) {}

LvRbgSimple::LvRbgSimple(const LvOctet* data, unsigned int n) : m_n(0), m_pos(0) { init(data, n); }

void LvRbgSimple::init(const LvOctet* data, unsigned int n) {
  m_data = LvOctMem(data, n);
  m_n = n;
  m_pos = 0;
}

void LvRbgSimple::fillOctets(LvOctet* dst, unsigned int octets) {
  if (m_n == 0) {
    std::memset(dst, 0, octets);
    return;
  }
  const LvOctet* p = m_data.ptr();
  for (unsigned int i = 0; i < octets; ++i) {
    dst[i] = p[m_pos];
    if (++m_pos == m_n) m_pos = 0;
  }
}
