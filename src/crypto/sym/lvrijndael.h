// Rijndael with blocks of 4 to 8 words and keys of 4 to 8 words, and AES
// (a 4-word Rijndael limited to 128-, 192- and 256-bit keys).
#pragma once

#include "crypto/sym/lvbc.h"

class LvRijndael : public LvBc {
 public:
  // blockWords 4..8; LvArgumentRangeException otherwise.
  explicit LvRijndael(unsigned int blockWords);
  LvRijndael(const LvRijndael& other);
  ~LvRijndael() override;

  LvBc* clone() const override;
  LvBcAlgo getAlgo() const override { return LV_BC_RIJNDAEL; }
  const char* getName() const override { return "RIJNDAEL"; }
  unsigned int getBlockOctets() const override { return 4 * m_nb; }
  unsigned int getMinKeyOctets() const override { return 16; }
  unsigned int getMaxKeyOctets() const override { return 32; }
  unsigned int getKeyStepOctets() const override { return 4; }
  const std::uint32_t* getOid() const override;
  const LvOctet* getDerOid() const override;
  void _encryptBlock(const LvOctet* in, LvOctet* out) override;
  void _decryptBlock(const LvOctet* in, LvOctet* out) override;
  bool hasDecryptionKeySchedule() const override { return true; }
  void _setKey(const LvOctet* key, unsigned int keyOctets) override;
  void _expandEncryptionKey() override;
  void _expandDecryptionKey() override;

  unsigned int getRounds() const { return m_nr; }

 protected:
  enum { kMaxScheduleWords = 120 };
  unsigned int m_nb;
  unsigned int m_nr;
  unsigned int m_nk;
  std::uint32_t m_encSchedule[kMaxScheduleWords];
  std::uint32_t m_decSchedule[kMaxScheduleWords];
  unsigned int m_shift[3];
  unsigned int m_invShift[3];
};

class LvAes : public LvRijndael {
 public:
  LvAes();
  LvAes(const LvAes& other) = default;
  ~LvAes() override = default;

  LvBc* clone() const override;
  LvBcAlgo getAlgo() const override { return LV_BC_AES; }
  const char* getName() const override { return "AES"; }
  unsigned int getKeyStepOctets() const override { return 8; }
  const std::uint32_t* getOid() const override;
  const LvOctet* getDerOid() const override;
  void _encryptBlock(const LvOctet* in, LvOctet* out) override;
  void _decryptBlock(const LvOctet* in, LvOctet* out) override;
  void _encryptCbc(LvOctet* chain, const LvOctet* in, LvOctet* out, unsigned int blocks) override;
  void _decryptCbc(LvOctet* chain, const LvOctet* in, LvOctet* out, unsigned int blocks) override;

  // Whether the processor's AES instructions serve the block transforms.
  static bool hardwareAvailable();
  // Test hook: true routes every LvAes block through the table code even
  // where the instructions exist, so both paths can be compared.
  static void forcePortable(bool on);
};
