// Root of every cryptographic mechanism of libvorinpp (hash, cipher mode, MAC,
// key, scheme): option words, a requested security strength, an info text,
// and the answer whether the mechanism is approved for that strength.
#pragma once

#include <cstdint>

#include "crypto/basic/lvconv.h"

class LvCryptoMech {
 public:
  // Inline with the bases' constructors and destructors: a key or scheme made for one
  // operation would otherwise pay a call at every level of its class chain.
  explicit LvCryptoMech(std::uint32_t optionA = 0, std::uint32_t optionB = 0,
                        std::uint32_t strength = 0)
      : m_optionA(optionA), m_optionB(optionB), m_strength(strength), m_reserved(0) {}
  LvCryptoMech(const LvCryptoMech& other) = default;
  LvCryptoMech& operator=(const LvCryptoMech& other) = default;
  virtual bool isApproved() const;
  virtual ~LvCryptoMech() = default;

  // ORs bits into option word A.
  void setOption(std::uint32_t bits) { m_optionA |= bits; }
  void setOptionB(std::uint32_t bits) { m_optionB |= bits; }
  std::uint32_t getOptionA() const { return m_optionA; }
  std::uint32_t getOptionB() const { return m_optionB; }
  void setSecurityStrength(std::uint32_t bits) { m_strength = bits; }
  std::uint32_t getSecurityStrength() const { return m_strength; }
  // The status word: 0 at construction; mechanisms that report refusals
  // through it (domain generation) set it with their info text.
  std::uint32_t getStatus() const { return m_reserved; }
  void setStatus(std::uint32_t status) { m_reserved = status; }
  void setInfo(const char* text) { m_info = text; }
  const LvConvASCII& getInfo() const { return m_info; }

 protected:
  std::uint32_t m_optionA;
  std::uint32_t m_optionB;
  std::uint32_t m_strength;
  std::uint32_t m_reserved;
  LvConvASCII m_info;
};
