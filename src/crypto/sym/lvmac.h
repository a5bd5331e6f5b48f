// Message authentication codes: a session (init, step, finish) and a
// finished value; LvHmac is HMAC over any hash of lvHashCreateObject but the
// keyless GHASH-128, with keys of at most one hash block.
#pragma once

#include <cstdint>

#include "crypto/hash/lvhash.h"
#include "crypto/sym/lvsym.h"

class LvMac : public LvSym {
 public:
  ~LvMac() override = default;

  virtual LvMac* clone() const = 0;
  virtual void setKey(const LvOctet* key, unsigned int keyOctets) = 0;
  virtual void init() = 0;
  virtual void step(const LvOctet* data, unsigned int octets) = 0;
  virtual void finish() = 0;
  virtual bool isKeySet() const = 0;
  virtual unsigned int getMechKind() const = 0;
  virtual const char* getName() const = 0;
  virtual unsigned int getMacOctets() const = 0;
  virtual unsigned int getMinKeyOctets() const = 0;
  virtual unsigned int getMaxKeyOctets() const = 0;
  virtual unsigned int getKeyStepOctets() const = 0;

  // Copies the first `length` MAC octets (0: the whole MAC).
  void getMac(unsigned int length, LvOctet* dst) const;
  bool isMacReady() const { return m_macReady != 0; }

 protected:
  explicit LvMac(unsigned int macOctets);
  LvMac(const LvMac&) = default;

  std::uint8_t m_sessionOpen;
  LvOctMem m_mac;
  std::uint8_t m_macReady;
};

class LvHmac : public LvMac {
 public:
  explicit LvHmac(LvHashAlgo id);
  ~LvHmac() override;

  LvMac* clone() const override;
  // Keys longer than one hash block raise LvBadKeyLengthException; they are
  // not hashed down.
  void setKey(const LvOctet* key, unsigned int keyOctets) override;
  void init() override;
  void step(const LvOctet* data, unsigned int octets) override;
  void finish() override;
  bool isKeySet() const override { return m_keySet != 0; }
  unsigned int getMechKind() const override { return 1; }
  const char* getName() const override { return "HMAC"; }
  unsigned int getMacOctets() const override { return m_hash->getHashOctets(); }
  unsigned int getMinKeyOctets() const override { return 0; }
  unsigned int getMaxKeyOctets() const override { return m_blockOctets; }
  unsigned int getKeyStepOctets() const override { return 0; }

 private:
  LvHmac(const LvHmac& other);
  LvHmac& operator=(const LvHmac&) = delete;

  LvDhf* m_hash;
  LvOctMem m_key;
  std::uint8_t m_keySet;
  LvOctMem m_innerPad;
  LvOctMem m_outerPad;
  std::uint32_t m_blockOctets;
};
