// The DES family: single DES, triple DES (EDE and EEE) and DES-XEEEX, all
// with 8-octet blocks and one key schedule for both directions.
#pragma once

#include "crypto/sym/lvbc.h"

// Odd parity and weak-key checks on runs of 8-octet DES keys.
void lvDesSetOddParity(LvOctet* key, unsigned int blocks);
bool lvDesCheckOddParity(const LvOctet* key, unsigned int blocks);
bool lvDesIsWeakKey(const LvOctet* key, unsigned int blocks);

class LvDes : public LvBc {
 public:
  LvDes();
  LvDes(const LvDes& other);
  ~LvDes() override;

  LvBc* clone() const override;
  LvBcAlgo getAlgo() const override { return LV_BC_DES; }
  const char* getName() const override { return "DES"; }
  unsigned int getBlockOctets() const override { return 8; }
  unsigned int getMinKeyOctets() const override { return 8; }
  unsigned int getMaxKeyOctets() const override { return 8; }
  unsigned int getKeyStepOctets() const override { return 0; }
  const std::uint32_t* getOid() const override;
  const LvOctet* getDerOid() const override;
  void _encryptBlock(const LvOctet* in, LvOctet* out) override;
  void _decryptBlock(const LvOctet* in, LvOctet* out) override;
  bool hasDecryptionKeySchedule() const override { return false; }
  void _setKey(const LvOctet* key, unsigned int keyOctets) override;
  void _expandKey() override;

  void setParityCheck(bool on) { m_parityCheck = on ? 1 : 0; }
  void setWeakKeyCheck(bool on) { m_weakKeyCheck = on ? 1 : 0; }

  // One round subkey: eight 6-bit groups, the first feeding S-box 1.
  struct Subkey {
    std::uint8_t g[8];
  };

 protected:
  std::uint8_t m_parityCheck;
  std::uint8_t m_weakKeyCheck;
  Subkey m_schedule[16];
};

// 48 round subkeys run forwards to encrypt and backwards to decrypt, with one
// IP and one IP^-1 per block: the schedule of both triple forms. It wipes
// itself.
struct LvDesTripleSchedule {
  LvDes::Subkey k[48];
  LvDesTripleSchedule();
  LvDesTripleSchedule(const LvDesTripleSchedule&) = default;
  ~LvDesTripleSchedule();
  void encrypt(const LvOctet* in, LvOctet* out) const;
  void decrypt(const LvOctet* in, LvOctet* out) const;
};

class LvTdes : public LvDes {
 public:
  LvTdes() = default;
  LvTdes(const LvTdes& other) = default;
  ~LvTdes() override = default;
  LvBc* clone() const override;
  LvBcAlgo getAlgo() const override { return LV_BC_TDES; }
  const char* getName() const override { return "TDES"; }
  unsigned int getMinKeyOctets() const override { return 24; }
  unsigned int getMaxKeyOctets() const override { return 24; }
  const std::uint32_t* getOid() const override;
  const LvOctet* getDerOid() const override;
  void _encryptBlock(const LvOctet* in, LvOctet* out) override;
  void _decryptBlock(const LvOctet* in, LvOctet* out) override;
  void _setKey(const LvOctet* key, unsigned int keyOctets) override;
  void _expandKey() override;

 protected:
  LvDesTripleSchedule m_triple;
};

class LvDesEee : public LvDes {
 public:
  LvDesEee() = default;
  LvDesEee(bool weakKeyCheck, bool parityCheck);
  LvDesEee(const LvDesEee& other) = default;
  ~LvDesEee() override = default;
  LvBc* clone() const override;
  LvBcAlgo getAlgo() const override { return LV_BC_DES_EEE; }
  const char* getName() const override { return "DES-EEE"; }
  unsigned int getMinKeyOctets() const override { return 24; }
  unsigned int getMaxKeyOctets() const override { return 24; }
  const std::uint32_t* getOid() const override;
  const LvOctet* getDerOid() const override;
  void _encryptBlock(const LvOctet* in, LvOctet* out) override;
  void _decryptBlock(const LvOctet* in, LvOctet* out) override;
  void _setKey(const LvOctet* key, unsigned int keyOctets) override;
  void _expandKey() override;

 protected:
  LvDesTripleSchedule m_triple;
};

class LvDesXeeex : public LvDesEee {
 public:
  LvDesXeeex();
  LvDesXeeex(bool weakKeyCheck, bool parityCheck);
  ~LvDesXeeex() override;
  LvBc* clone() const override;
  LvBcAlgo getAlgo() const override { return LV_BC_DES_XEEEX; }
  const char* getName() const override { return "DES-XEEEX"; }
  unsigned int getMinKeyOctets() const override { return 40; }
  unsigned int getMaxKeyOctets() const override { return 40; }
  const std::uint32_t* getOid() const override;
  const LvOctet* getDerOid() const override;
  void _encryptBlock(const LvOctet* in, LvOctet* out) override;
  void _decryptBlock(const LvOctet* in, LvOctet* out) override;
  void _setKey(const LvOctet* key, unsigned int keyOctets) override;
  void _expandKey() override;

 private:
  LvOctet m_x1[8];
  LvOctet m_x2[8];
};
