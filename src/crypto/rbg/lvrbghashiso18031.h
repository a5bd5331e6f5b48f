// Hash-based deterministic generator after ISO/IEC 18031 (the construction
// of the Hash_DRBG, with this library's own derivation and sizes).
#pragma once

#include <cstdint>

#include "crypto/hash/lvhash.h"
#include "crypto/rbg/lvrbg.h"

class LvRbgHashIso18031 : public LvRbg {
 public:
  // SHA-256, strength 80, not instantiated.
  LvRbgHashIso18031();
  ~LvRbgHashIso18031() override;
  LvRbgHashIso18031(const LvRbgHashIso18031&) = delete;
  LvRbgHashIso18031& operator=(const LvRbgHashIso18031&) = delete;

  void init(const LvOctet* seed, unsigned int seedOctets) override;
  void reinit(const LvOctet* seed, unsigned int seedOctets) override;
  void reset() override { m_instantiated = 0; }
  void fillOctets(LvOctet* dst, unsigned int octets) override;
  unsigned int getMinSeedOctets() const override { return 16; }
  unsigned int getMaxSeedOctets() const override { return 64; }
  unsigned int getSeedStepOctets() const override { return 1; }
  const char* getName() const override { return "HASH-DRBG-18031"; }
  // The strings enter the computation with their terminating NUL (null is
  // taken as the empty string).
  virtual void init(const LvOctet* seed, unsigned int seedOctets,
                    const char* personalisationString);
  virtual void reinit(const LvOctet* seed, unsigned int seedOctets, const char* additionalString);
  // Replaces `value` by the first bits/8 octets of the derivation function.
  virtual void hashDf(LvOctMem& value, unsigned int bits);
  virtual void hashGen(LvOctet* dst, unsigned int octets);

  // Replaces the hash and sets the strength (rounded up to 80, 112, 128,
  // 192 or 256); a strength above the digest bits, or GHASH-128 (a keyed
  // function, all zero without its key), is refused and changes nothing.
  void setHashAlgo(LvHashAlgo id, std::uint32_t strength);
  std::uint32_t getSecurityStrength() const { return m_strength; }
  bool isInstantiated() const { return m_instantiated != 0; }

 protected:
  unsigned int outOctets() const { return m_hash->getHashOctets(); }
  unsigned int seedLenBits() const;
  // Digest of the concatenation of up to four parts.
  void digest(LvOctet* dst, const LvOctet* a, unsigned int na, const LvOctet* b = nullptr,
              unsigned int nb = 0, const LvOctet* c = nullptr, unsigned int nc = 0,
              const LvOctet* d = nullptr, unsigned int nd = 0);

  LvHash* m_hash;
  LvOctMem m_v;
  LvOctMem m_c;
  std::uint32_t m_strength;
  std::uint32_t m_counter;
  LvOctMem m_fingerprint;
  std::uint8_t m_instantiated;
};
