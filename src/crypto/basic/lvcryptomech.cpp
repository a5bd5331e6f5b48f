#include "crypto/basic/lvcryptomech.h"

bool LvCryptoMech::isApproved() const { return true; }
