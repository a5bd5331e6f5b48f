// MGF1 mask generation.
#include "crypto/asym/lvmgf1.h"

#include "crypto/hash/lvhash.h"

#define MGF_FILE "lvsym\\lvmgf1.cpp"

LvMgf::LvMgf() : reserved(0) {}
LvMgf::~LvMgf() {}

LvMgf1::LvMgf1(LvHashAlgo algo, unsigned int cOctets)
    : hLen(0), available(0), position(0), counter(0), sessionStarted(0), hash(nullptr), c(0) {
  hash = lvHashCreateObject(algo);
  hLen = hash->getHashOctets();
  c = (cOctets != 0 && cOctets < hLen) ? cOctets : hLen;
}

LvMgf1::~LvMgf1() {
  delete hash;
  hash = nullptr;
  counter = 0;
  available = 0;
  position = 0;
}

LvMgf* LvMgf1::clone() const {
  LvMgf1* m = new LvMgf1(hash->getAlgo(), c);
  return m;
}

void LvMgf1::hashBlock(const LvOctet* s, unsigned int sLen, LvWord ctr, LvOctet* digest) {
  LvOctet cnt[4] = {static_cast<LvOctet>(ctr >> 24), static_cast<LvOctet>(ctr >> 16),
                    static_cast<LvOctet>(ctr >> 8), static_cast<LvOctet>(ctr)};
  hash->init();
  if (sLen > 0) hash->step(s, sLen);
  hash->step(cnt, 4);
  hash->finish();
  hash->getHash(0, digest);
}

void LvMgf1::mask(LvOctet* out, unsigned int outLen, const LvOctet* s, unsigned int sLen,
                  bool xorInto) {
  if (outLen == 0) return;
  if (out == nullptr || (s == nullptr && sLen > 0))
    LV_THROW(LvArgumentRangeException, "Null buffer.", "LvMgf1::generateMask", MGF_FILE);
  LvOctMem copy(s, sLen);  // the seed may lie inside out
  LvOctMem digest(hLen);
  unsigned int done = 0;
  for (LvWord ctr = 0; done < outLen; ++ctr) {
    hashBlock(copy.ptr(), sLen, ctr, digest.ptr());
    unsigned int take = outLen - done < c ? outLen - done : c;
    for (unsigned int i = 0; i < take; ++i) {
      if (xorInto)
        out[done + i] ^= digest.ptr()[i];
      else
        out[done + i] = digest.ptr()[i];
    }
    done += take;
  }
}

void LvMgf1::generateMask(LvOctet* out, unsigned int outLen, const LvOctet* s,
                          unsigned int sLen) {
  mask(out, outLen, s, sLen, false);
}

void LvMgf1::applyMask(LvOctet* out, unsigned int outLen, const LvOctet* s, unsigned int sLen) {
  mask(out, outLen, s, sLen, true);
}

void LvMgf1::init(const LvOctet* s, unsigned int sLen) {
  seed = LvOctMem(s, sLen);
  counter = 0;
  hLen = hash->getHashOctets();
  block = LvOctMem(hLen);
  available = 0;
  position = hLen;
  // The session opens here: a stream that could never be read is no use.
  sessionStarted = 1;
}

void LvMgf1::step(LvOctet* out, unsigned int outLen) {
  if (!sessionStarted)
    LV_THROW(LvFsmException, "Nie rozpoczęta sesja.", "LvMgf1::step", MGF_FILE);
  unsigned int done = 0;
  while (done < outLen) {
    if (available == 0) {
      hashBlock(seed.ptr(), seed.getLength(), counter, block.ptr());
      ++counter;
      available = c;
      position = 0;
    }
    unsigned int take = outLen - done < available ? outLen - done : available;
    for (unsigned int i = 0; i < take; ++i) out[done + i] = block.ptr()[position + i];
    position += take;
    available -= take;
    done += take;
  }
}

void LvMgf1::finish() { sessionStarted = 0; }

unsigned int LvMgf1::getSize() const { return 128; }
