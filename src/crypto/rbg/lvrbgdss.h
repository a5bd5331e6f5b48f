// The pseudo-random generator of FIPS 186-2 (Appendix 3.1, G from the SHA-1
// compression function) with a cycle detector, and two simple generators:
// one over the C runtime's rand, one replaying a given octet string.
#pragma once

#include <cstdint>

#include "crypto/rbg/lvrbg.h"

class LvRbgDss : public LvRbg {
 public:
  ~LvRbgDss() override;

  // Seeds shorter than 20 octets are refused; at most 64 are used.
  void init(const LvOctet* seed, unsigned int seedOctets) override;
  // Adds the seed to XKEY; an empty or all-zero seed changes nothing.
  void reinit(const LvOctet* seed, unsigned int seedOctets) override;
  void reset() override { m_instantiated = 0; }
  void fillOctets(LvOctet* dst, unsigned int octets) override;

  bool isInstantiated() const { return m_instantiated != 0; }

 protected:
  LvRbgDss();
  LvRbgDss(const LvRbgDss&) = delete;
  LvRbgDss& operator=(const LvRbgDss&) = delete;
  // One new 20-octet output block; LvRbgCycleException when the shadow
  // catches up with XKEY. A detected cycle is kept: fillOctets refuses with
  // the same exception until init or a reinit that changes XKEY.
  void step();
  [[noreturn]] static void throwCycle();

  static constexpr unsigned int kMaxSeed = 64, kMinSeed = 20, kBlock = 20;
  std::uint8_t m_instantiated;
  LvOctet m_xkey[kMaxSeed];
  LvOctet m_shadow[kMaxSeed];
  std::uint32_t m_b;
  LvOctet m_x[kBlock];
  std::uint32_t m_available;
  std::uint8_t m_cycle;
};

class LvRbgDss31 : public LvRbgDss {
 public:
  LvRbgDss31() = default;
  ~LvRbgDss31() override = default;
  unsigned int getMinSeedOctets() const override { return 20; }
  unsigned int getMaxSeedOctets() const override { return 64; }
  unsigned int getSeedStepOctets() const override { return 1; }
  const char* getName() const override { return "DSS31"; }
};

// Draws from the C runtime's process-wide rand: for tests and non-secret
// uses only.
class LvRbgRand : public LvRbg {
 public:
  LvRbgRand() = default;
  LvRbgRand(const LvOctet* seed, unsigned int seedOctets);
  // Seeds the runtime's generator with the first four octets at most.
  void init(const LvOctet* seed, unsigned int seedOctets) override;
  void reinit(const LvOctet*, unsigned int) override {}
  void reset() override {}
  void fillOctets(LvOctet* dst, unsigned int octets) override;
  unsigned int getMinSeedOctets() const override { return 0; }
  unsigned int getMaxSeedOctets() const override { return 4; }
  unsigned int getSeedStepOctets() const override { return 1; }
  const char* getName() const override { return "RBG-RAND"; }
};

// Replays a stored octet string, repeating it; zeros when it is empty.
class LvRbgSimple : public LvRbg {
 public:
  LvRbgSimple();
  LvRbgSimple(const LvOctet* data, unsigned int n);
  ~LvRbgSimple() override = default;
  void init(const LvOctet* data, unsigned int n) override;
  void reinit(const LvOctet*, unsigned int) override {}
  void reset() override {}
  void fillOctets(LvOctet* dst, unsigned int octets) override;
  unsigned int getMinSeedOctets() const override { return 0; }
  unsigned int getMaxSeedOctets() const override { return 0xFFFFFFFFu; }
  unsigned int getSeedStepOctets() const override { return 1; }
  const char* getName() const override { return "RBG-SIMPLE"; }

 private:
  LvOctMem m_data;
  std::uint32_t m_n;
  std::uint32_t m_pos;
};
