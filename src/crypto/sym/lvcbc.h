// Cipher-block chaining over any cipher of lvBcCreateObject, with four
// padding options. Data may come in pieces of any length; whole blocks are
// written as soon as they are complete.
#pragma once

#include "crypto/sym/lvsymenc.h"

class LvCbc : public LvBcEnc {
 public:
  // AES with padding option 0.
  LvCbc();
  LvCbc(LvBcAlgo id, std::uint32_t padding);
  ~LvCbc() override;

  LvSymEnc* clone() const override;
  unsigned int init(std::uint32_t direction, const LvOctet* iv, unsigned int ivOctets) override;
  unsigned int step(const LvOctet* in, unsigned int inOctets, LvOctet* out) override;
  unsigned int finish(LvOctet* out) override;
  const char* getName() const override { return "CBC"; }

  // Replaces the cipher (a key must be set again) and closes any session.
  void setBcAlgo(LvBcAlgo id);
  // Stores the padding option and closes any session.
  void setPadding(std::uint32_t option);

 private:
  explicit LvCbc(const LvCbc& other);
  unsigned int stepEncrypt(const LvOctet* in, unsigned int inOctets, LvOctet* out);
  unsigned int stepDecrypt(const LvOctet* in, unsigned int inOctets, LvOctet* out);
  unsigned int finishEncrypt(LvOctet* out);
  unsigned int finishDecrypt(LvOctet* out);

  LvOctMem m_work;
  std::uint32_t m_fill;
  std::uint32_t m_free;
  LvOctMem m_chain;
};
