// RC2: 8-octet blocks, keys of 1 to 128 octets and an effective key length
// in bits (1 to 1024).
#pragma once

#include "crypto/sym/lvbc.h"

class LvRc2 : public LvBc {
 public:
  LvRc2();
  LvRc2(const LvRc2& other);
  ~LvRc2() override;

  LvBc* clone() const override;
  // The effective length is 8 x the key octets.
  void setKey(const LvOctet* externalKey, unsigned int externalKeyOctets,
              LvKeyExpansionOption expOption) override;
  // Effective bits outside 1..1024 raise LvBadKeyLengthException: the key
  // expansion is not defined there.
  virtual void setKey(const LvOctet* externalKey, unsigned int externalKeyOctets,
                      unsigned int externalEffKeyBits, LvKeyExpansionOption expOption);
  LvBcAlgo getAlgo() const override { return LV_BC_RC2; }
  const char* getName() const override { return "RC2"; }
  unsigned int getBlockOctets() const override { return 8; }
  unsigned int getMinKeyOctets() const override { return 1; }
  unsigned int getMaxKeyOctets() const override { return 128; }
  unsigned int getKeyStepOctets() const override { return 0; }
  const std::uint32_t* getOid() const override;
  const LvOctet* getDerOid() const override;
  void _encryptBlock(const LvOctet* in, LvOctet* out) override;
  void _decryptBlock(const LvOctet* in, LvOctet* out) override;
  bool hasDecryptionKeySchedule() const override { return false; }
  void _setKey(const LvOctet* key, unsigned int keyOctets) override;
  void _expandKey() override;

  unsigned int getEffectiveKeyBits() const { return m_effBits; }

 private:
  std::uint32_t m_effBits;
  std::uint16_t m_k[64];
};
