#include "crypto/sym/lvrijndael.h"

#include <atomic>
#include <cstring>

#include "crypto/sym/lvaestables.h"
#include "crypto/sym/lvsymfile.h"
#include "crypto/basic/lvcpu.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define LV_AES_HW 1
#else
#define LV_AES_HW 0
#endif

#define LVSYM_FILE LVSYM_FILE_NAME("lvrijndael")

namespace {

constexpr lvsym_detail::AesTables kT = lvsym_detail::makeAesTables();

inline std::uint32_t load32(const LvOctet* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline void store32(LvOctet* p, std::uint32_t w) {
  p[0] = static_cast<LvOctet>(w);
  p[1] = static_cast<LvOctet>(w >> 8);
  p[2] = static_cast<LvOctet>(w >> 16);
  p[3] = static_cast<LvOctet>(w >> 24);
}

inline std::uint32_t subWord(std::uint32_t w) {
  return static_cast<std::uint32_t>(kT.sbox[w & 0xFF]) |
         (static_cast<std::uint32_t>(kT.sbox[(w >> 8) & 0xFF]) << 8) |
         (static_cast<std::uint32_t>(kT.sbox[(w >> 16) & 0xFF]) << 16) |
         (static_cast<std::uint32_t>(kT.sbox[w >> 24]) << 24);
}

inline std::uint32_t invMixColumn(std::uint32_t w) {
  return kT.td[0][kT.sbox[w & 0xFF]] ^ kT.td[1][kT.sbox[(w >> 8) & 0xFF]] ^
         kT.td[2][kT.sbox[(w >> 16) & 0xFF]] ^ kT.td[3][kT.sbox[w >> 24]];
}

const unsigned int kShifts[5][3] = {{1, 2, 3}, {1, 2, 3}, {1, 2, 3}, {1, 2, 4}, {1, 3, 4}};

const std::uint32_t kAesOid[] = {6, 1, 0, 18033, 3, 2, 1};
const LvOctet kAesDerOid[] = {0x06, 0x07, 0x28, 0x81, 0x8C, 0x71, 0x03, 0x02, 0x01};
const std::uint32_t kRijndaelOid[] = {0};
const LvOctet kRijndaelDerOid[] = {0x06, 0x00};

std::atomic<bool> g_forcePortable{false};

#if LV_AES_HW
bool cpuHasAes() {
  return lvcpu::hasAesNi();
}

__attribute__((target("aes,sse2"))) void hwEncrypt(const std::uint32_t* rk, unsigned int nr,
                                                   const LvOctet* in, LvOctet* out) {
  const __m128i* k = reinterpret_cast<const __m128i*>(rk);
  __m128i s =
      _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)), _mm_loadu_si128(k));
  for (unsigned int r = 1; r < nr; ++r) s = _mm_aesenc_si128(s, _mm_loadu_si128(k + r));
  s = _mm_aesenclast_si128(s, _mm_loadu_si128(k + nr));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), s);
}

__attribute__((target("aes,sse2"))) void hwDecrypt(const std::uint32_t* rk, unsigned int nr,
                                                   const LvOctet* in, LvOctet* out) {
  const __m128i* k = reinterpret_cast<const __m128i*>(rk);
  __m128i s =
      _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)), _mm_loadu_si128(k));
  for (unsigned int r = 1; r < nr; ++r) s = _mm_aesdec_si128(s, _mm_loadu_si128(k + r));
  s = _mm_aesdeclast_si128(s, _mm_loadu_si128(k + nr));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), s);
}
// CBC encryption with the chaining value kept in a register.
__attribute__((target("aes,sse2"))) void hwEncryptCbc(const std::uint32_t* rk, unsigned int nr,
                                                      LvOctet* chain, const LvOctet* in,
                                                      LvOctet* out, unsigned int blocks) {
  const __m128i* k = reinterpret_cast<const __m128i*>(rk);
  __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chain));
  __m128i k0 = _mm_loadu_si128(k), klast = _mm_loadu_si128(k + nr);
  for (unsigned int b = 0; b < blocks; ++b) {
    __m128i s = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16 * b)), c);
    s = _mm_xor_si128(s, k0);
    for (unsigned int r = 1; r < nr; ++r) s = _mm_aesenc_si128(s, _mm_loadu_si128(k + r));
    c = _mm_aesenclast_si128(s, klast);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * b), c);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(chain), c);
}
// CBC decryption, four independent blocks at a time. Every input block is
// read before the outputs that may overwrite it are written.
__attribute__((target("aes,sse2"))) void hwDecryptCbc(const std::uint32_t* rk, unsigned int nr,
                                                      LvOctet* chain, const LvOctet* in,
                                                      LvOctet* out, unsigned int blocks) {
  const __m128i* k = reinterpret_cast<const __m128i*>(rk);
  const __m128i* src = reinterpret_cast<const __m128i*>(in);
  __m128i* dst = reinterpret_cast<__m128i*>(out);
  __m128i prev = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chain));
  const __m128i k0 = _mm_loadu_si128(k), klast = _mm_loadu_si128(k + nr);
  unsigned int i = 0;
  // Eight blocks in flight: CBC decryption does not chain, and eight
  // independent AESDEC cover the instruction's latency. All eight are read
  // before any is written, so the output may overlap the input.
  for (; i + 8 <= blocks; i += 8) {
    __m128i c[8], st[8];
    for (int j = 0; j < 8; ++j) {
      c[j] = _mm_loadu_si128(src + i + j);
      st[j] = _mm_xor_si128(c[j], k0);
    }
    for (unsigned int r = 1; r < nr; ++r) {
      const __m128i kr = _mm_loadu_si128(k + r);
      for (int j = 0; j < 8; ++j) st[j] = _mm_aesdec_si128(st[j], kr);
    }
    st[0] = _mm_xor_si128(_mm_aesdeclast_si128(st[0], klast), prev);
    for (int j = 1; j < 8; ++j) st[j] = _mm_xor_si128(_mm_aesdeclast_si128(st[j], klast), c[j - 1]);
    for (int j = 0; j < 8; ++j) _mm_storeu_si128(dst + i + j, st[j]);
    prev = c[7];
  }
  for (; i < blocks; ++i) {
    __m128i c = _mm_loadu_si128(src + i);
    __m128i s = _mm_xor_si128(c, k0);
    for (unsigned int r = 1; r < nr; ++r) s = _mm_aesdec_si128(s, _mm_loadu_si128(k + r));
    _mm_storeu_si128(dst + i, _mm_xor_si128(_mm_aesdeclast_si128(s, klast), prev));
    prev = c;
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(chain), prev);
}
#endif

inline bool useHw() {
#if LV_AES_HW
  return cpuHasAes() && !g_forcePortable.load(std::memory_order_relaxed);
#else
  return false;
#endif
}

}  // namespace

// ---- LvRijndael ----

LvRijndael::LvRijndael(unsigned int blockWords) : m_nb(blockWords), m_nr(0), m_nk(0) {
  if (blockWords < 4)
    LV_THROW(LvArgumentRangeException, "Za mała długość bloku.", "LvRijndael::LvRijndael",
             LVSYM_FILE);
  if (blockWords > 8)
    LV_THROW(LvArgumentRangeException, "Za duża długość bloku.", "LvRijndael::LvRijndael",
             LVSYM_FILE);
  for (unsigned int i = 0; i < 3; ++i) {
    m_shift[i] = kShifts[blockWords - 4][i];
    m_invShift[i] = blockWords - m_shift[i];
  }
  std::memset(m_encSchedule, 0, sizeof m_encSchedule);
  std::memset(m_decSchedule, 0, sizeof m_decSchedule);
}

LvRijndael::LvRijndael(const LvRijndael& other)
    : LvBc(other), m_nb(other.m_nb), m_nr(other.m_nr), m_nk(other.m_nk) {
  std::memcpy(m_encSchedule, other.m_encSchedule, sizeof m_encSchedule);
  std::memcpy(m_decSchedule, other.m_decSchedule, sizeof m_decSchedule);
  std::memcpy(m_shift, other.m_shift, sizeof m_shift);
  std::memcpy(m_invShift, other.m_invShift, sizeof m_invShift);
}

LvRijndael::~LvRijndael() {
  lvWipe(m_encSchedule, sizeof m_encSchedule);
  lvWipe(m_decSchedule, sizeof m_decSchedule);
}

LvBc* LvRijndael::clone() const { return new LvRijndael(*this); }
const std::uint32_t* LvRijndael::getOid() const { return kRijndaelOid; }
const LvOctet* LvRijndael::getDerOid() const { return kRijndaelDerOid; }

void LvRijndael::_setKey(const LvOctet* key, unsigned int keyOctets) {
  // setKey has checked the length already; a direct call is held to the
  // same rule, since the schedules have room for 8-word keys only.
  if (keyOctets < 16 || keyOctets > 32 || keyOctets % 4 != 0) {
    LvBadKeyLengthException e(keyOctets, 16, 32, 4);
    e.setMessage(LV_EXCEPTION_TEXT("LvBadKeyLengthException", "", "LvRijndael::_setKey",
                                   LVSYM_FILE));
    throw e;
  }
  m_key = LvOctMem(key, keyOctets);
  m_nk = keyOctets / 4;
  m_nr = (m_nk > m_nb ? m_nk : m_nb) + 6;
}

void LvRijndael::_expandEncryptionKey() {
  if (m_nk == 0) return;  // no key yet: nothing to expand
  std::uint32_t* w = m_encSchedule;
  const unsigned int total = m_nb * (m_nr + 1);
  for (unsigned int i = 0; i < m_nk; ++i) w[i] = load32(m_key.ptr() + 4 * i);
  std::uint8_t rcon = 1;
  for (unsigned int i = m_nk; i < total; ++i) {
    std::uint32_t t = w[i - 1];
    if (i % m_nk == 0) {
      t = subWord((t >> 8) | (t << 24)) ^ rcon;
      rcon = lvsym_detail::gfMul(rcon, 2);
    } else if (m_nk > 6 && i % m_nk == 4) {
      t = subWord(t);
    }
    w[i] = w[i - m_nk] ^ t;
  }
}

void LvRijndael::_expandDecryptionKey() {
  const unsigned int nb = m_nb;
  for (unsigned int r = 0; r <= m_nr; ++r) {
    const std::uint32_t* src = m_encSchedule + (m_nr - r) * nb;
    std::uint32_t* dst = m_decSchedule + r * nb;
    for (unsigned int j = 0; j < nb; ++j)
      dst[j] = (r == 0 || r == m_nr) ? src[j] : invMixColumn(src[j]);
  }
}

void LvRijndael::_encryptBlock(const LvOctet* in, LvOctet* out) {
  const unsigned int nb = m_nb;
  // Each state holds its words twice in a row so that column j + Ci needs
  // no modulo.
  std::uint32_t s[16], t[16];
  const std::uint32_t* rk = m_encSchedule;
  for (unsigned int j = 0; j < nb; ++j) s[j] = s[j + nb] = load32(in + 4 * j) ^ rk[j];
  const unsigned int c1 = m_shift[0], c2 = m_shift[1], c3 = m_shift[2];
  for (unsigned int r = 1; r < m_nr; ++r) {
    rk += nb;
    for (unsigned int j = 0; j < nb; ++j)
      t[j] = kT.te[0][s[j] & 0xFF] ^ kT.te[1][(s[j + c1] >> 8) & 0xFF] ^
             kT.te[2][(s[j + c2] >> 16) & 0xFF] ^ kT.te[3][s[j + c3] >> 24] ^ rk[j];
    for (unsigned int j = 0; j < nb; ++j) s[j] = s[j + nb] = t[j];
  }
  rk += nb;
  for (unsigned int j = 0; j < nb; ++j) {
    std::uint32_t v = static_cast<std::uint32_t>(kT.sbox[s[j] & 0xFF]) |
                      (static_cast<std::uint32_t>(kT.sbox[(s[j + c1] >> 8) & 0xFF]) << 8) |
                      (static_cast<std::uint32_t>(kT.sbox[(s[j + c2] >> 16) & 0xFF]) << 16) |
                      (static_cast<std::uint32_t>(kT.sbox[s[j + c3] >> 24]) << 24);
    store32(out + 4 * j, v ^ rk[j]);
  }
  lvWipe(s, sizeof s);
  lvWipe(t, sizeof t);
}

void LvRijndael::_decryptBlock(const LvOctet* in, LvOctet* out) {
  const unsigned int nb = m_nb;
  std::uint32_t s[16], t[16];
  const std::uint32_t* rk = m_decSchedule;
  for (unsigned int j = 0; j < nb; ++j) s[j] = s[j + nb] = load32(in + 4 * j) ^ rk[j];
  const unsigned int c1 = m_invShift[0], c2 = m_invShift[1], c3 = m_invShift[2];
  for (unsigned int r = 1; r < m_nr; ++r) {
    rk += nb;
    for (unsigned int j = 0; j < nb; ++j)
      t[j] = kT.td[0][s[j] & 0xFF] ^ kT.td[1][(s[j + c1] >> 8) & 0xFF] ^
             kT.td[2][(s[j + c2] >> 16) & 0xFF] ^ kT.td[3][s[j + c3] >> 24] ^ rk[j];
    for (unsigned int j = 0; j < nb; ++j) s[j] = s[j + nb] = t[j];
  }
  rk += nb;
  for (unsigned int j = 0; j < nb; ++j) {
    std::uint32_t v = static_cast<std::uint32_t>(kT.isbox[s[j] & 0xFF]) |
                      (static_cast<std::uint32_t>(kT.isbox[(s[j + c1] >> 8) & 0xFF]) << 8) |
                      (static_cast<std::uint32_t>(kT.isbox[(s[j + c2] >> 16) & 0xFF]) << 16) |
                      (static_cast<std::uint32_t>(kT.isbox[s[j + c3] >> 24]) << 24);
    store32(out + 4 * j, v ^ rk[j]);
  }
  lvWipe(s, sizeof s);
  lvWipe(t, sizeof t);
}

// ---- LvAes ----

LvAes::LvAes() : LvRijndael(4) {}

LvBc* LvAes::clone() const { return new LvAes(*this); }
const std::uint32_t* LvAes::getOid() const { return kAesOid; }
const LvOctet* LvAes::getDerOid() const { return kAesDerOid; }

bool LvAes::hardwareAvailable() {
#if LV_AES_HW
  return cpuHasAes();
#else
  return false;
#endif
}

void LvAes::forcePortable(bool on) { g_forcePortable.store(on); }

// One full AES round on the columns s0..s3 into t0..t3.
#define LV_AES_ROUND(T, t0, t1, t2, t3, s0, s1, s2, s3, rk)                                  \
  t0 = T[0][s0 & 0xFF] ^ T[1][(s1 >> 8) & 0xFF] ^ T[2][(s2 >> 16) & 0xFF] ^ T[3][s3 >> 24] ^ \
       (rk)[0];                                                                              \
  t1 = T[0][s1 & 0xFF] ^ T[1][(s2 >> 8) & 0xFF] ^ T[2][(s3 >> 16) & 0xFF] ^ T[3][s0 >> 24] ^ \
       (rk)[1];                                                                              \
  t2 = T[0][s2 & 0xFF] ^ T[1][(s3 >> 8) & 0xFF] ^ T[2][(s0 >> 16) & 0xFF] ^ T[3][s1 >> 24] ^ \
       (rk)[2];                                                                              \
  t3 = T[0][s3 & 0xFF] ^ T[1][(s0 >> 8) & 0xFF] ^ T[2][(s1 >> 16) & 0xFF] ^ T[3][s2 >> 24] ^ \
       (rk)[3];

#define LV_AES_LAST(S, s0, s1, s2, s3)                        \
  (static_cast<std::uint32_t>(S[s0 & 0xFF]) |                 \
   (static_cast<std::uint32_t>(S[(s1 >> 8) & 0xFF]) << 8) |   \
   (static_cast<std::uint32_t>(S[(s2 >> 16) & 0xFF]) << 16) | \
   (static_cast<std::uint32_t>(S[s3 >> 24]) << 24))

void LvAes::_encryptBlock(const LvOctet* in, LvOctet* out) {
#if LV_AES_HW
  if (useHw()) {
    hwEncrypt(m_encSchedule, m_nr, in, out);
    return;
  }
#endif
  const std::uint32_t* rk = m_encSchedule;
  std::uint32_t s0 = load32(in) ^ rk[0], s1 = load32(in + 4) ^ rk[1], s2 = load32(in + 8) ^ rk[2],
                s3 = load32(in + 12) ^ rk[3];
  std::uint32_t t0, t1, t2, t3;
  LV_AES_ROUND(kT.te, t0, t1, t2, t3, s0, s1, s2, s3, rk + 4)
  rk += 4;
  for (unsigned int pass = (m_nr - 2) / 2; pass > 0; --pass) {
    LV_AES_ROUND(kT.te, s0, s1, s2, s3, t0, t1, t2, t3, rk + 4)
    LV_AES_ROUND(kT.te, t0, t1, t2, t3, s0, s1, s2, s3, rk + 8)
    rk += 8;
  }
  rk += 4;
  store32(out, LV_AES_LAST(kT.sbox, t0, t1, t2, t3) ^ rk[0]);
  store32(out + 4, LV_AES_LAST(kT.sbox, t1, t2, t3, t0) ^ rk[1]);
  store32(out + 8, LV_AES_LAST(kT.sbox, t2, t3, t0, t1) ^ rk[2]);
  store32(out + 12, LV_AES_LAST(kT.sbox, t3, t0, t1, t2) ^ rk[3]);
}

#define LV_AES_INV_ROUND(t0, t1, t2, t3, s0, s1, s2, s3, rk)                            \
  t0 = kT.td[0][s0 & 0xFF] ^ kT.td[1][(s3 >> 8) & 0xFF] ^ kT.td[2][(s2 >> 16) & 0xFF] ^ \
       kT.td[3][s1 >> 24] ^ (rk)[0];                                                    \
  t1 = kT.td[0][s1 & 0xFF] ^ kT.td[1][(s0 >> 8) & 0xFF] ^ kT.td[2][(s3 >> 16) & 0xFF] ^ \
       kT.td[3][s2 >> 24] ^ (rk)[1];                                                    \
  t2 = kT.td[0][s2 & 0xFF] ^ kT.td[1][(s1 >> 8) & 0xFF] ^ kT.td[2][(s0 >> 16) & 0xFF] ^ \
       kT.td[3][s3 >> 24] ^ (rk)[2];                                                    \
  t3 = kT.td[0][s3 & 0xFF] ^ kT.td[1][(s2 >> 8) & 0xFF] ^ kT.td[2][(s1 >> 16) & 0xFF] ^ \
       kT.td[3][s0 >> 24] ^ (rk)[3];

void LvAes::_encryptCbc(LvOctet* chain, const LvOctet* in, LvOctet* out, unsigned int blocks) {
#if LV_AES_HW
  if (useHw()) {
    hwEncryptCbc(m_encSchedule, m_nr, chain, in, out, blocks);
    return;
  }
#endif
  LvBc::_encryptCbc(chain, in, out, blocks);
}

void LvAes::_decryptCbc(LvOctet* chain, const LvOctet* in, LvOctet* out, unsigned int blocks) {
#if LV_AES_HW
  if (useHw()) {
    hwDecryptCbc(m_decSchedule, m_nr, chain, in, out, blocks);
    return;
  }
#endif
  LvBc::_decryptCbc(chain, in, out, blocks);
}

void LvAes::_decryptBlock(const LvOctet* in, LvOctet* out) {
#if LV_AES_HW
  if (useHw()) {
    hwDecrypt(m_decSchedule, m_nr, in, out);
    return;
  }
#endif
  const std::uint32_t* rk = m_decSchedule;
  std::uint32_t s0 = load32(in) ^ rk[0], s1 = load32(in + 4) ^ rk[1], s2 = load32(in + 8) ^ rk[2],
                s3 = load32(in + 12) ^ rk[3];
  std::uint32_t t0, t1, t2, t3;
  // Inverse shifts 3, 2, 1: column j reads j+3, j+2, j+1.
  LV_AES_INV_ROUND(t0, t1, t2, t3, s0, s1, s2, s3, rk + 4)
  rk += 4;
  for (unsigned int pass = (m_nr - 2) / 2; pass > 0; --pass) {
    LV_AES_INV_ROUND(s0, s1, s2, s3, t0, t1, t2, t3, rk + 4)
    LV_AES_INV_ROUND(t0, t1, t2, t3, s0, s1, s2, s3, rk + 8)
    rk += 8;
  }
  rk += 4;
  store32(out, LV_AES_LAST(kT.isbox, t0, t3, t2, t1) ^ rk[0]);
  store32(out + 4, LV_AES_LAST(kT.isbox, t1, t0, t3, t2) ^ rk[1]);
  store32(out + 8, LV_AES_LAST(kT.isbox, t2, t1, t0, t3) ^ rk[2]);
  store32(out + 12, LV_AES_LAST(kT.isbox, t3, t2, t1, t0) ^ rk[3]);
}
