// Random bit generators: the interface every consumer of random octets draws
// from. Callers choose the generator and supply the seed; the library
// gathers no entropy of its own.
#pragma once

#include <cstdint>

#include "crypto/basic/lvoctmem.h"

class LvRbg {
 public:
  virtual ~LvRbg() = default;
  // Instantiates from the seed.
  virtual void init(const LvOctet* seed, unsigned int seedOctets) = 0;
  // Reseeds.
  virtual void reinit(const LvOctet* seed, unsigned int seedOctets) = 0;
  // Marks the generator uninstantiated.
  virtual void reset() = 0;
  virtual void fillOctets(LvOctet* dst, unsigned int octets) = 0;
  virtual unsigned int getMinSeedOctets() const = 0;
  virtual unsigned int getMaxSeedOctets() const = 0;
  virtual unsigned int getSeedStepOctets() const = 0;
  virtual const char* getName() const = 0;

  // One octet through fillOctets.
  LvOctet getOctet();
  // n words, each of four octets drawn one at a time, the first drawn the
  // most significant.
  void getWords(LvWord* w, unsigned int n);
};
