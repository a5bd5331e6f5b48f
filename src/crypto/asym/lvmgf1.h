// Mask generation: the MGF1 function of PKCS#1 over any hash of the library.
#pragma once

#include "crypto/basic/lvoctmem.h"
#include "crypto/hash/lvhashbase.h"
#include "crypto/sym/lvsym.h"

class LvMgf : public LvSym {
 public:
  LvMgf();
  ~LvMgf() override;
  LvMgf(const LvMgf&) = delete;
  LvMgf& operator=(const LvMgf&) = delete;
  virtual LvMgf* clone() const = 0;
  // Writes outLen mask octets for the seed.
  virtual void generateMask(LvOctet* out, unsigned int outLen, const LvOctet* seed,
                            unsigned int seedLen) = 0;
  // XORs outLen mask octets into out.
  virtual void applyMask(LvOctet* out, unsigned int outLen, const LvOctet* seed,
                         unsigned int seedLen) = 0;
  // Streaming form: init opens a session, step hands out further octets.
  virtual void init(const LvOctet* seed, unsigned int seedLen) = 0;
  virtual void step(LvOctet* out, unsigned int outLen) = 0;
  virtual void finish() = 0;
  virtual unsigned int getSize() const = 0;

 protected:
  LvWord reserved;
  LvOctMem seed;
  LvOctMem block;
};

class LvMgf1 : public LvMgf {
 public:
  // c: octets taken from each hash output (0 or too large: the whole digest).
  LvMgf1(LvHashAlgo algo, unsigned int c);
  ~LvMgf1() override;
  LvMgf* clone() const override;
  void generateMask(LvOctet* out, unsigned int outLen, const LvOctet* seed,
                    unsigned int seedLen) override;
  void applyMask(LvOctet* out, unsigned int outLen, const LvOctet* seed,
                 unsigned int seedLen) override;
  void init(const LvOctet* seed, unsigned int seedLen) override;
  void step(LvOctet* out, unsigned int outLen) override;
  void finish() override;
  unsigned int getSize() const override;

 private:
  void mask(LvOctet* out, unsigned int outLen, const LvOctet* seed, unsigned int seedLen,
            bool xorInto);
  void hashBlock(const LvOctet* seed, unsigned int seedLen, LvWord counter, LvOctet* digest);

  unsigned int hLen;
  unsigned int available;
  unsigned int position;
  LvWord counter;
  LvOctet sessionStarted;
  LvHash* hash;
  unsigned int c;
};
