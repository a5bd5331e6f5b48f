// Rijndael tables, computed at compile time from the field arithmetic so that
// no hand-typed constant can be wrong. Words hold four octets with the first
// octet in the low-order byte.
#pragma once

#include <cstdint>

namespace lvsym_detail {

struct AesTables {
  std::uint8_t sbox[256];
  std::uint8_t isbox[256];
  std::uint32_t te[4][256];  // forward round tables
  std::uint32_t td[4][256];  // inverse round tables
};

constexpr std::uint8_t gfMul(std::uint8_t a, std::uint8_t b) {
  std::uint8_t r = 0;
  while (b) {
    if (b & 1) r ^= a;
    a = static_cast<std::uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1B : 0));
    b >>= 1;
  }
  return r;
}

constexpr std::uint32_t rotl32(std::uint32_t x, unsigned n) {
  return n == 0 ? x : (x << n) | (x >> (32 - n));
}

constexpr AesTables makeAesTables() {
  AesTables t{};
  // Multiplicative inverse by exhaustive search is cheap at compile time
  // only with logs: build exp/log over generator 3.
  std::uint8_t exp[256] = {};
  std::uint8_t log[256] = {};
  std::uint8_t x = 1;
  for (int i = 0; i < 255; ++i) {
    exp[i] = x;
    log[x] = static_cast<std::uint8_t>(i);
    x = gfMul(x, 3);
  }
  for (int i = 0; i < 256; ++i) {
    std::uint8_t inv = i == 0 ? 0 : exp[(255 - log[i]) % 255];
    std::uint8_t s = inv;
    std::uint8_t r = inv;
    for (int k = 0; k < 4; ++k) {
      r = static_cast<std::uint8_t>((r << 1) | (r >> 7));
      s ^= r;
    }
    s ^= 0x63;
    t.sbox[i] = s;
    t.isbox[s] = static_cast<std::uint8_t>(i);
  }
  for (int i = 0; i < 256; ++i) {
    std::uint8_t s = t.sbox[i];
    std::uint32_t w = static_cast<std::uint32_t>(gfMul(s, 2)) |
                      (static_cast<std::uint32_t>(s) << 8) | (static_cast<std::uint32_t>(s) << 16) |
                      (static_cast<std::uint32_t>(gfMul(s, 3)) << 24);
    std::uint8_t is = t.isbox[i];
    std::uint32_t v = static_cast<std::uint32_t>(gfMul(is, 14)) |
                      (static_cast<std::uint32_t>(gfMul(is, 9)) << 8) |
                      (static_cast<std::uint32_t>(gfMul(is, 13)) << 16) |
                      (static_cast<std::uint32_t>(gfMul(is, 11)) << 24);
    for (unsigned k = 0; k < 4; ++k) {
      t.te[k][i] = rotl32(w, 8 * k);
      t.td[k][i] = rotl32(v, 8 * k);
    }
  }
  return t;
}

}  // namespace lvsym_detail
