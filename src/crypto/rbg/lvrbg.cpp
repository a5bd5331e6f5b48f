#include "crypto/rbg/lvrbg.h"

LvOctet LvRbg::getOctet() {
  LvOctet o = 0;
  fillOctets(&o, 1);
  return o;
}

void LvRbg::getWords(LvWord* w, unsigned int n) {
  for (unsigned int i = 0; i < n; ++i) {
    LvWord v = 0;
    for (int k = 0; k < 4; ++k) v = (v << 8) | getOctet();
    w[i] = v;
  }
}
