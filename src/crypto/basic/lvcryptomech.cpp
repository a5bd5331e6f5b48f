#include "crypto/basic/lvcryptomech.h"

LvCryptoMech::LvCryptoMech(std::uint32_t optionA, std::uint32_t optionB, std::uint32_t strength)
    : m_optionA(optionA), m_optionB(optionB), m_strength(strength), m_reserved(0) {}

LvCryptoMech::~LvCryptoMech() = default;

bool LvCryptoMech::isApproved() const { return true; }
