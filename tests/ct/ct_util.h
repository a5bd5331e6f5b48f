// Shared pieces of the constant-time programs: marking numbers, a generator whose output is
// secret, octet helpers and the failure report.
#pragma once

#include <cstdio>
#include <cstring>
#include <vector>

#include "crypto/algebra/lvnumbers.h"
#include "crypto/rbg/lvrbg.h"
#include "ct/ctgrind.h"

namespace ct {

inline void secretN(const LvN& v) { ctSecret(v.getWords(), v.getUsed() * sizeof(LvWord)); }
inline void publicN(const LvN& v) { ctPublic(v.getWords(), v.getUsed() * sizeof(LvWord)); }
inline void secretW(const LvWordMem& w) { ctSecret(w.ptr(), w.getCount() * sizeof(LvWord)); }
inline void publicW(const LvWordMem& w) { ctPublic(w.ptr(), w.getCount() * sizeof(LvWord)); }
// A prime modulus and everything derived from it that the kernels read.
inline void secretModulus(const LvModulus& m, bool secret) {
  auto mark = secret ? ctSecret : ctPublic;
  mark(m.getWords(), m.getUsed() * sizeof(LvWord));
  for (const LvWordMem* w : {&m.getR(), &m.getR2(), &m.getR3()})
    mark(w->ptr(), w->getCount() * sizeof(LvWord));
}

inline std::vector<LvOctet> octets(const LvN& v, unsigned int len) {
  std::vector<LvOctet> out(len);
  v.getOctets(out.data(), len, 1);
  return out;
}

// Counter-driven octets, marked secret as they leave: the nonce of a signature is then secret
// from its first use.
class SecretRbg : public LvRbg {
 public:
  void init(const LvOctet*, unsigned int) override {}
  void reinit(const LvOctet*, unsigned int) override {}
  void reset() override { counter = 0; }
  void fillOctets(LvOctet* dst, unsigned int octets) override {
    for (unsigned int i = 0; i < octets; ++i) dst[i] = static_cast<LvOctet>(0x5B * ++counter + 7);
    ctSecret(dst, octets);
  }
  unsigned int getMinSeedOctets() const override { return 0; }
  unsigned int getMaxSeedOctets() const override { return 0; }
  unsigned int getSeedStepOctets() const override { return 0; }
  const char* getName() const override { return "ct test generator"; }

 private:
  unsigned int counter = 0;
};

inline int fail(const char* what) {
  std::fprintf(stderr, "constant-time test: %s\n", what);
  return 1;
}

}  // namespace ct
