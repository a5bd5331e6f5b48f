// Root of the symmetric mechanisms (block ciphers, modes, MACs).
#pragma once

#include "crypto/basic/lvcryptomech.h"
#include "crypto/basic/lvoctmem.h"

class LvSym : public LvCryptoMech {
 public:
  LvSym() = default;
  LvSym(const LvSym&) = default;
  LvSym& operator=(const LvSym&) = default;
  ~LvSym() override = default;
};
