// A generator for the benchmarks' signing runs: nonces and masking values
// from a fixed sequence (their source does not change the work).
#pragma once

#include "crypto/rbg/lvrbg.h"

class BenchRbg : public LvRbg {
 public:
  void init(const LvOctet*, unsigned int) override {}
  void reinit(const LvOctet*, unsigned int) override {}
  void reset() override {}
  void fillOctets(LvOctet* dst, unsigned int n) override {
    for (unsigned int i = 0; i < n; i++) {
      state = state * 6364136223846793005ull + 1442695040888963407ull;
      dst[i] = static_cast<LvOctet>(state >> 56);
    }
  }
  unsigned int getMinSeedOctets() const override { return 0; }
  unsigned int getMaxSeedOctets() const override { return 0; }
  unsigned int getSeedStepOctets() const override { return 1; }
  const char* getName() const override { return "BENCH"; }
  unsigned long long state = 1;
};
