// Block-cipher framework: one object holds one key and transforms single
// blocks; the base owns the key life cycle (length checks, the cipher's own
// acceptance, lazy schedules, refusal to work without a key).
#pragma once

#include <cstdint>

#include "crypto/sym/lvsym.h"

typedef std::uint32_t LvBcAlgo;
typedef std::uint32_t LvKeyExpansionOption;

enum : LvBcAlgo {
  LV_BC_AES = 1,
  LV_BC_RIJNDAEL = 2,
  LV_BC_DES = 3,
  LV_BC_TDES = 4,
  LV_BC_DES_EEE = 5,
  LV_BC_DES_XEEEX = 6,
  LV_BC_RC2 = 7
};

enum : LvKeyExpansionOption {
  LV_KEY_EXPAND_ENCRYPTION = 0,
  LV_KEY_EXPAND_DECRYPTION = 1,
  LV_KEY_EXPAND_BOTH = 2
};

class LvBc : public LvSym {
 public:
  LvBc();
  LvBc(const LvBc& other);
  LvBc& operator=(const LvBc&) = delete;
  ~LvBc() override;

  virtual LvBc* clone() const = 0;
  virtual void setKey(const LvOctet* externalKey, unsigned int externalKeyOctets,
                      LvKeyExpansionOption expOption);
  virtual void expandKey(LvKeyExpansionOption expOption);
  virtual LvBcAlgo getAlgo() const = 0;
  virtual const char* getName() const = 0;
  virtual unsigned int getBlockOctets() const = 0;
  virtual unsigned int getMinKeyOctets() const = 0;
  virtual unsigned int getMaxKeyOctets() const = 0;
  virtual unsigned int getKeyStepOctets() const = 0;
  // Arcs: first word the count, the arcs following.
  virtual const std::uint32_t* getOid() const = 0;
  // DER OBJECT IDENTIFIER (tag, length, content).
  virtual const LvOctet* getDerOid() const = 0;
  virtual void _encryptBlock(const LvOctet* in, LvOctet* out) = 0;
  virtual void _decryptBlock(const LvOctet* in, LvOctet* out) = 0;
  virtual bool hasDecryptionKeySchedule() const = 0;
  virtual void _setKey(const LvOctet* key, unsigned int keyOctets);
  virtual void _expandEncryptionKey();
  virtual void _expandDecryptionKey();
  virtual void _expandKey();
  virtual void _encryptCbc(LvOctet* chain, const LvOctet* in, LvOctet* out, unsigned int blocks);
  virtual void _decryptCbc(LvOctet* chain, const LvOctet* in, LvOctet* out, unsigned int blocks);

  // One block from in to out; a null out means in place.
  void encryptBlock(const LvOctet* in, LvOctet* out);
  void decryptBlock(const LvOctet* in, LvOctet* out);

  // CBC encryption of whole blocks: each input block XOR the chaining value
  // is encrypted into out and becomes the chaining value. The modes use it
  // so that a cipher can keep the chain in registers.
  void encryptCbc(LvOctet* chain, const LvOctet* in, LvOctet* out, unsigned int blocks);
  // CBC decryption of whole blocks; the last input block becomes the
  // chaining value. out may lie at least one block before in.
  void decryptCbc(LvOctet* chain, const LvOctet* in, LvOctet* out, unsigned int blocks);

  bool isKeySet() const { return m_keySet != 0; }

 protected:
  LvOctMem m_key;
  std::uint8_t m_keySet;
  std::uint8_t m_encReady;
  std::uint8_t m_decReady;
};

// A new cipher of the id, owned by the caller; LvLibNotImplementedException
// for an unknown id.
LvBc* lvBcCreateObject(LvBcAlgo id);
