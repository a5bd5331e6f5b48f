// Symmetric encryption modes: the session interface (LvSymEnc), its binding
// to a block cipher (LvBcEnc) and the padding rules shared by the modes.
#pragma once

#include <cstdint>

#include "crypto/sym/lvbc.h"

class LvSymEnc : public LvSym {
 public:
  enum { ENCRYPT = 0, DECRYPT = 1 };

  LvSymEnc() : m_keySet(0), m_sessionOpen(0) {}
  LvSymEnc(const LvSymEnc& other) = default;
  ~LvSymEnc() override = default;

  virtual LvSymEnc* clone() const = 0;
  virtual void setKey(const LvOctet* key, unsigned int keyOctets) = 0;
  // Starts a session (direction 0 encrypts, any other value decrypts);
  // returns the block length.
  virtual unsigned int init(std::uint32_t direction, const LvOctet* iv, unsigned int ivOctets) = 0;
  // Returns the octets written to out.
  virtual unsigned int step(const LvOctet* in, unsigned int inOctets, LvOctet* out) = 0;
  virtual unsigned int finish(LvOctet* out) = 0;
  // init, step over the whole input, finish; returns the octets written.
  virtual unsigned int crypt(std::uint32_t direction, const LvOctet* iv, unsigned int ivOctets,
                             const LvOctet* in, unsigned int inOctets, LvOctet* out);
  virtual unsigned int getMinKeyOctets() const = 0;
  virtual unsigned int getMaxKeyOctets() const = 0;
  virtual unsigned int getKeyStepOctets() const = 0;
  virtual unsigned int getBlockOctets() const = 0;
  virtual unsigned int getIvOctets() const = 0;
  virtual unsigned int getMechKind() const { return 0; }
  virtual const char* getName() const = 0;

  bool isKeySet() const { return m_keySet != 0; }
  bool isSessionOpen() const { return m_sessionOpen != 0; }

 protected:
  std::uint8_t m_keySet;
  std::uint8_t m_sessionOpen;
};

class LvBcEnc : public LvSymEnc {
 public:
  ~LvBcEnc() override;

  // Keys the cipher, building both schedules; closes any session.
  void setKey(const LvOctet* key, unsigned int keyOctets) override;
  unsigned int getMinKeyOctets() const override { return m_cipher->getMinKeyOctets(); }
  unsigned int getMaxKeyOctets() const override { return m_cipher->getMaxKeyOctets(); }
  unsigned int getKeyStepOctets() const override { return m_cipher->getKeyStepOctets(); }
  unsigned int getBlockOctets() const override { return m_blockOctets; }
  unsigned int getIvOctets() const override { return m_blockOctets; }

  std::uint32_t getPadding() const { return m_padding; }
  LvBc* getCipher() { return m_cipher; }

 protected:
  LvBcEnc(LvBc* cipher, std::uint32_t padding);
  LvBcEnc(const LvBcEnc&) = delete;
  LvBcEnc& operator=(const LvBcEnc&) = delete;

  std::uint32_t m_direction;
  std::uint32_t m_padding;
  LvBc* m_cipher;
  std::uint32_t m_blockOctets;
};

// Pads block[fill..blockOctets) by the option (0: octets of the pad length,
// 1: 0x80 then zeros, 2: 0x01 then zeros, 3: nothing).
void lvSymEncPad(std::uint32_t option, LvOctet* block, unsigned int fill, unsigned int blockOctets);
// The number of data octets of a decrypted last block; LvEncryptionDecryption-
// Exception "Niewłaściwe dopełnienie." when the padding is wrong.
unsigned int lvSymEncUnpad(std::uint32_t option, const LvOctet* block, unsigned int blockOctets);
