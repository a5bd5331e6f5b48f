#include "crypto/sym/lvdes.h"

#include <cstring>

#include "crypto/sym/lvsymfile.h"
#include "platform/buildconst.h"

#define LVSYM_FILE_DES LVSYM_FILE_NAME("lvdes")
#define LVSYM_FILE_TDES LVSYM_FILE_NAME("lvtdes")
#define LVSYM_FILE_EEE LVSYM_FILE_NAME("lvdeseee")
#define LVSYM_FILE_XEEEX LVSYM_FILE_NAME("lvdesxeeex")

namespace {

// FIPS 46-3 tables, 1-based bit numbers with bit 1 the most significant.
constexpr std::uint8_t kIp[64] = {58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
                                  62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
                                  57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
                                  61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};
constexpr std::uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                                 2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};
constexpr std::uint8_t kPc1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                                   10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                                   63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                                   14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
constexpr std::uint8_t kPc2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                                   26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                                   51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
constexpr std::uint8_t kShiftsPerRound[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};
constexpr std::uint8_t kSbox[8][4][16] = {{{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
                                           {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
                                           {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
                                           {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}},
                                          {{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
                                           {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
                                           {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
                                           {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}},
                                          {{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
                                           {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
                                           {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
                                           {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}},
                                          {{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
                                           {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
                                           {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
                                           {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}},
                                          {{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
                                           {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
                                           {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
                                           {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}},
                                          {{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
                                           {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
                                           {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
                                           {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}},
                                          {{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
                                           {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
                                           {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
                                           {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}},
                                          {{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
                                           {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
                                           {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
                                           {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}}};

struct DesTables {
  std::uint32_t sp[8][64];   // S-box i followed by P, indexed by the 6-bit input
  std::uint64_t ip[8][256];  // IP, one table per input octet
  std::uint64_t fp[8][256];  // IP^-1, one table per input octet
};

constexpr std::uint64_t permute64(std::uint64_t x, const std::uint8_t* table) {
  std::uint64_t r = 0;
  for (int k = 0; k < 64; ++k) r |= ((x >> (64 - table[k])) & 1) << (63 - k);
  return r;
}

constexpr DesTables makeDesTables() {
  DesTables t{};
  std::uint8_t fpTable[64] = {};
  for (int k = 0; k < 64; ++k) fpTable[kIp[k] - 1] = static_cast<std::uint8_t>(k + 1);
  for (int i = 0; i < 8; ++i) {
    for (int x = 0; x < 64; ++x) {
      int row = ((x >> 4) & 2) | (x & 1);
      int col = (x >> 1) & 0xF;
      std::uint32_t s = static_cast<std::uint32_t>(kSbox[i][row][col]) << (28 - 4 * i);
      std::uint32_t p = 0;
      for (int k = 0; k < 32; ++k) p |= ((s >> (32 - kP[k])) & 1) << (31 - k);
      t.sp[i][x] = p;
    }
    for (int v = 0; v < 256; ++v) {
      std::uint64_t in = static_cast<std::uint64_t>(v) << (56 - 8 * i);
      t.ip[i][v] = permute64(in, kIp);
      t.fp[i][v] = permute64(in, fpTable);
    }
  }
  return t;
}

constexpr DesTables kD = makeDesTables();

inline std::uint64_t tablePermute(const std::uint64_t (*tab)[256], std::uint64_t x) {
  return tab[0][x >> 56] | tab[1][(x >> 48) & 0xFF] | tab[2][(x >> 40) & 0xFF] |
         tab[3][(x >> 32) & 0xFF] | tab[4][(x >> 24) & 0xFF] | tab[5][(x >> 16) & 0xFF] |
         tab[6][(x >> 8) & 0xFF] | tab[7][x & 0xFF];
}

inline std::uint32_t rotl(std::uint32_t x, unsigned n) { return (x << n) | (x >> (32 - n)); }

inline std::uint32_t feistel(std::uint32_t r, const LvDes::Subkey& k) {
  // Group i of E(R) is bits 4i..4i+5 (1-based, bit 0 being bit 32).
  std::uint32_t r5 = rotl(r, 5);
  std::uint32_t r1 = rotl(r, 1);
  return kD.sp[0][(r5 & 0x3F) ^ k.g[0]] | kD.sp[1][((r5 >> 28 | r5 << 4) & 0x3F) ^ k.g[1]] |
         kD.sp[2][((r1 >> 20) & 0x3F) ^ k.g[2]] | kD.sp[3][((r1 >> 16) & 0x3F) ^ k.g[3]] |
         kD.sp[4][((r1 >> 12) & 0x3F) ^ k.g[4]] | kD.sp[5][((r1 >> 8) & 0x3F) ^ k.g[5]] |
         kD.sp[6][((r1 >> 4) & 0x3F) ^ k.g[6]] | kD.sp[7][(r1 & 0x3F) ^ k.g[7]];
}

inline std::uint64_t load64(const LvOctet* p) {
  std::uint64_t x = 0;
  for (int i = 0; i < 8; ++i) x = (x << 8) | p[i];
  return x;
}

inline void store64(LvOctet* p, std::uint64_t x) {
  for (int i = 7; i >= 0; --i) {
    p[i] = static_cast<LvOctet>(x);
    x >>= 8;
  }
}

// Sixteen rounds with the subkeys at k (forward) or k[15]..k[0] (backward),
// ending with the swap of the halves.
inline void sixteenRounds(std::uint32_t& l, std::uint32_t& r, const LvDes::Subkey* k,
                          bool forward) {
  if (forward) {
    for (int i = 0; i < 16; i += 2) {
      l ^= feistel(r, k[i]);
      r ^= feistel(l, k[i + 1]);
    }
  } else {
    for (int i = 15; i > 0; i -= 2) {
      l ^= feistel(r, k[i]);
      r ^= feistel(l, k[i - 1]);
    }
  }
  std::uint32_t t = l;
  l = r;
  r = t;
}

// n passes of 16 rounds between one IP and one IP^-1; backward runs the
// passes and their subkeys in reverse.
void desCrypt(const LvDes::Subkey* k, int passes, bool forward, const LvOctet* in, LvOctet* out) {
  std::uint64_t x = tablePermute(kD.ip, load64(in));
  std::uint32_t l = static_cast<std::uint32_t>(x >> 32), r = static_cast<std::uint32_t>(x);
  for (int p = 0; p < passes; ++p) {
    int pass = forward ? p : passes - 1 - p;
    sixteenRounds(l, r, k + 16 * pass, forward);
  }
  x = (static_cast<std::uint64_t>(l) << 32) | r;
  store64(out, tablePermute(kD.fp, x));
}

void desSchedule(const LvOctet* key, LvDes::Subkey* out) {
  std::uint64_t k = load64(key);
  std::uint64_t cd = 0;  // 56 bits, C in the upper 28
  for (int i = 0; i < 56; ++i) cd |= ((k >> (64 - kPc1[i])) & 1) << (55 - i);
  std::uint32_t c = static_cast<std::uint32_t>(cd >> 28) & 0x0FFFFFFF;
  std::uint32_t d = static_cast<std::uint32_t>(cd) & 0x0FFFFFFF;
  for (int round = 0; round < 16; ++round) {
    for (int s = 0; s < kShiftsPerRound[round]; ++s) {
      c = ((c << 1) | (c >> 27)) & 0x0FFFFFFF;
      d = ((d << 1) | (d >> 27)) & 0x0FFFFFFF;
    }
    std::uint64_t joined = (static_cast<std::uint64_t>(c) << 28) | d;
    std::uint64_t sub = 0;
    for (int i = 0; i < 48; ++i) sub |= ((joined >> (56 - kPc2[i])) & 1) << (47 - i);
    for (int g = 0; g < 8; ++g)
      out[round].g[g] = static_cast<std::uint8_t>((sub >> (42 - 6 * g)) & 0x3F);
  }
}

const std::uint8_t kWeakKeys[16][8] = {{0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01},
                                       {0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE},
                                       {0x1F, 0x1F, 0x1F, 0x1F, 0x0E, 0x0E, 0x0E, 0x0E},
                                       {0xE0, 0xE0, 0xE0, 0xE0, 0xF1, 0xF1, 0xF1, 0xF1},
                                       {0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE},
                                       {0xFE, 0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE, 0x01},
                                       {0x1F, 0xE0, 0x1F, 0xE0, 0x0E, 0xF1, 0x0E, 0xF1},
                                       {0xE0, 0x1F, 0xE0, 0x1F, 0xF1, 0x0E, 0xF1, 0x0E},
                                       {0x01, 0xE0, 0x01, 0xE0, 0x01, 0xF1, 0x01, 0xF1},
                                       {0xE0, 0x01, 0xE0, 0x01, 0xF1, 0x01, 0xF1, 0x01},
                                       {0x1F, 0xFE, 0x1F, 0xFE, 0x0E, 0xFE, 0x0E, 0xFE},
                                       {0xFE, 0x1F, 0xFE, 0x1F, 0xFE, 0x0E, 0xFE, 0x0E},
                                       {0x01, 0x1F, 0x01, 0x1F, 0x01, 0x0E, 0x01, 0x0E},
                                       {0x1F, 0x01, 0x1F, 0x01, 0x0E, 0x01, 0x0E, 0x01},
                                       {0xE0, 0xFE, 0xE0, 0xFE, 0xF1, 0xFE, 0xF1, 0xFE},
                                       {0xFE, 0xE0, 0xFE, 0xE0, 0xFE, 0xF1, 0xFE, 0xF1}};

bool oddParity(LvOctet v) {
  v ^= v >> 4;
  v ^= v >> 2;
  v ^= v >> 1;
  return (v & 1) != 0;
}

const std::uint32_t kDesOid[] = {6, 1, 3, 14, 3, 2, 6};
const LvOctet kDesDerOid[] = {0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x06};
const std::uint32_t kTdesOid[] = {6, 1, 0, 18033, 3, 1, 1};
const LvOctet kTdesDerOid[] = {0x06, 0x07, 0x28, 0x81, 0x8C, 0x71, 0x03, 0x01, 0x01};
// The maker's cipher identifiers: its private enterprise arc followed by 4.1
// and 4.2 (build constant, platform/buildconst.h).
const std::uint32_t kEeeOid[] = {9, 1, 3, 6, 1, 4, 1, TAL_ENTERPRISE_PEN, 4, 1};
const LvOctet kEeeDerOid[] = {0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01, TAL_ENTERPRISE_PEN_DER, 0x04, 0x01};
const std::uint32_t kXeeexOid[] = {9, 1, 3, 6, 1, 4, 1, TAL_ENTERPRISE_PEN, 4, 2};
const LvOctet kXeeexDerOid[] = {0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01, TAL_ENTERPRISE_PEN_DER, 0x04, 0x02};

}  // namespace

// ---- key checks ----

void lvDesSetOddParity(LvOctet* key, unsigned int blocks) {
  for (unsigned int i = 0; i < 8 * blocks; ++i) {
    LvOctet upper = key[i] & 0xFE;
    key[i] = oddParity(upper) ? upper : static_cast<LvOctet>(upper | 1);
  }
}

bool lvDesCheckOddParity(const LvOctet* key, unsigned int blocks) {
  for (unsigned int i = 0; i < 8 * blocks; ++i)
    if (!oddParity(key[i])) return false;
  return true;
}

bool lvDesIsWeakKey(const LvOctet* key, unsigned int blocks) {
  for (unsigned int b = 0; b < blocks; ++b) {
    const LvOctet* k = key + 8 * b;
    for (const auto& weak : kWeakKeys) {
      bool same = true;
      for (int i = 0; i < 8 && same; ++i) same = ((k[i] ^ weak[i]) & 0xFE) == 0;
      if (same) return true;
    }
  }
  return false;
}

// ---- LvDes ----

LvDes::LvDes() : m_parityCheck(0), m_weakKeyCheck(1) {
  std::memset(m_schedule, 0, sizeof m_schedule);
}

LvDes::LvDes(const LvDes& other)
    : LvBc(other), m_parityCheck(other.m_parityCheck), m_weakKeyCheck(other.m_weakKeyCheck) {
  std::memcpy(m_schedule, other.m_schedule, sizeof m_schedule);
}

LvDes::~LvDes() { lvWipe(m_schedule, sizeof m_schedule); }

LvBc* LvDes::clone() const { return new LvDes(*this); }
const std::uint32_t* LvDes::getOid() const { return kDesOid; }
const LvOctet* LvDes::getDerOid() const { return kDesDerOid; }

void LvDes::_setKey(const LvOctet* key, unsigned int keyOctets) {
  if (m_weakKeyCheck && lvDesIsWeakKey(key, 1))
    LV_THROW(LvWeakKeyException, "Wykryto słaby lub półsłaby klucz.", "LvDes::_setKey",
             LVSYM_FILE_DES);
  if (m_parityCheck && !lvDesCheckOddParity(key, 1))
    LV_THROW(LvInvalidKeyException, "Wykryto klucz o niewłaściwej parzystości.", "LvDes::_setKey",
             LVSYM_FILE_DES);
  m_key = LvOctMem(key, keyOctets);
}

void LvDes::_expandKey() { desSchedule(m_key.ptr(), m_schedule); }

void LvDes::_encryptBlock(const LvOctet* in, LvOctet* out) {
  desCrypt(m_schedule, 1, true, in, out);
}
void LvDes::_decryptBlock(const LvOctet* in, LvOctet* out) {
  desCrypt(m_schedule, 1, false, in, out);
}

// ---- LvTdes ----

LvDesTripleSchedule::LvDesTripleSchedule() { std::memset(k, 0, sizeof k); }
LvDesTripleSchedule::~LvDesTripleSchedule() { lvWipe(k, sizeof k); }
void LvDesTripleSchedule::encrypt(const LvOctet* in, LvOctet* out) const {
  desCrypt(k, 3, true, in, out);
}
void LvDesTripleSchedule::decrypt(const LvOctet* in, LvOctet* out) const {
  desCrypt(k, 3, false, in, out);
}

// A copy of a triple cipher starts without a key and with default options.
LvBc* LvTdes::clone() const { return new LvTdes(); }
const std::uint32_t* LvTdes::getOid() const { return kTdesOid; }
const LvOctet* LvTdes::getDerOid() const { return kTdesDerOid; }

void LvTdes::_setKey(const LvOctet* key, unsigned int keyOctets) {
  if (m_weakKeyCheck && lvDesIsWeakKey(key, 3))
    LV_THROW(LvWeakKeyException, "Wykryto słaby lub półsłaby klucz.", "LvTdes::_setKey",
             LVSYM_FILE_TDES);
  m_key = LvOctMem(key, keyOctets);
}

void LvTdes::_expandKey() {
  desSchedule(m_key.ptr(), m_triple.k);
  Subkey middle[16];
  desSchedule(m_key.ptr() + 8, middle);
  // The middle pass decrypts: its subkeys run in reverse.
  for (int i = 0; i < 16; ++i) m_triple.k[16 + i] = middle[15 - i];
  lvWipe(middle, sizeof middle);
  desSchedule(m_key.ptr() + 16, m_triple.k + 32);
}

void LvTdes::_encryptBlock(const LvOctet* in, LvOctet* out) { m_triple.encrypt(in, out); }
void LvTdes::_decryptBlock(const LvOctet* in, LvOctet* out) { m_triple.decrypt(in, out); }

// ---- LvDesEee ----

LvDesEee::LvDesEee(bool weakKeyCheck, bool parityCheck) {
  m_weakKeyCheck = weakKeyCheck ? 1 : 0;
  m_parityCheck = parityCheck ? 1 : 0;
}

LvBc* LvDesEee::clone() const { return new LvDesEee(); }
const std::uint32_t* LvDesEee::getOid() const { return kEeeOid; }
const LvOctet* LvDesEee::getDerOid() const { return kEeeDerOid; }

void LvDesEee::_setKey(const LvOctet* key, unsigned int keyOctets) {
  if (m_weakKeyCheck && lvDesIsWeakKey(key, 3))
    LV_THROW(LvWeakKeyException, "Wykryto słaby lub półsłaby klucz.", "LvDesEee::_setKey",
             LVSYM_FILE_EEE);
  m_key = LvOctMem(key, keyOctets);
}

void LvDesEee::_expandKey() {
  for (int i = 0; i < 3; ++i) desSchedule(m_key.ptr() + 8 * i, m_triple.k + 16 * i);
}

void LvDesEee::_encryptBlock(const LvOctet* in, LvOctet* out) { m_triple.encrypt(in, out); }
void LvDesEee::_decryptBlock(const LvOctet* in, LvOctet* out) { m_triple.decrypt(in, out); }

// ---- LvDesXeeex ----

LvDesXeeex::LvDesXeeex() {
  std::memset(m_x1, 0, sizeof m_x1);
  std::memset(m_x2, 0, sizeof m_x2);
}

LvDesXeeex::LvDesXeeex(bool weakKeyCheck, bool parityCheck) : LvDesEee(weakKeyCheck, parityCheck) {
  std::memset(m_x1, 0, sizeof m_x1);
  std::memset(m_x2, 0, sizeof m_x2);
}

LvDesXeeex::~LvDesXeeex() {
  lvWipe(m_x1, sizeof m_x1);
  lvWipe(m_x2, sizeof m_x2);
}

LvBc* LvDesXeeex::clone() const { return new LvDesXeeex(); }
const std::uint32_t* LvDesXeeex::getOid() const { return kXeeexOid; }
const LvOctet* LvDesXeeex::getDerOid() const { return kXeeexDerOid; }

void LvDesXeeex::_setKey(const LvOctet* key, unsigned int keyOctets) {
  // The whitening keys are not tested.
  if (m_weakKeyCheck && lvDesIsWeakKey(key + 8, 3))
    LV_THROW(LvWeakKeyException, "Wykryto słaby lub półsłaby klucz.", "LvDesXeeex::_setKey",
             LVSYM_FILE_XEEEX);
  m_key = LvOctMem(key, keyOctets);
}

void LvDesXeeex::_expandKey() {
  std::memcpy(m_x1, m_key.ptr(), 8);
  std::memcpy(m_x2, m_key.ptr() + 32, 8);
  for (int i = 0; i < 3; ++i) desSchedule(m_key.ptr() + 8 + 8 * i, m_triple.k + 16 * i);
}

void LvDesXeeex::_encryptBlock(const LvOctet* in, LvOctet* out) {
  LvOctet t[8];
  for (int i = 0; i < 8; ++i) t[i] = in[i] ^ m_x1[i];
  m_triple.encrypt(t, out);
  for (int i = 0; i < 8; ++i) out[i] ^= m_x2[i];
  lvWipe(t, sizeof t);
}

void LvDesXeeex::_decryptBlock(const LvOctet* in, LvOctet* out) {
  LvOctet t[8];
  for (int i = 0; i < 8; ++i) t[i] = in[i] ^ m_x2[i];
  m_triple.decrypt(t, out);
  for (int i = 0; i < 8; ++i) out[i] ^= m_x1[i];
  lvWipe(t, sizeof t);
}
