// Hashes of libvorinpp: the framework, every algorithm, the factory by hash
// id and LvGenericHash.
#pragma once

#include "crypto/hash/lvghash.h"
#include "crypto/hash/lvhashbase.h"
#include "crypto/hash/lvripemd.h"
#include "crypto/hash/lvsha.h"

// A new hash object of the id (1-9); the caller owns it. Other ids raise
// LvArgumentRangeException "Nieznany identyfikator algorytmu.".
LvHash* lvHashCreateObject(LvHashAlgo id);

// One object of every hash and a selection among them by id.
class LvGenericHash {
 public:
  // Selects SHA-256.
  LvGenericHash();
  explicit LvGenericHash(LvHashAlgo id);
  LvGenericHash(const LvGenericHash& other);
  LvGenericHash& operator=(const LvGenericHash& other);

  // Digest length of an id; LvArgumentRangeException for unknown ids.
  static unsigned int getGenericHashOctets(LvHashAlgo id);

  // Points the selection at the hash of that id and closes its session.
  void setHashAlgo(LvHashAlgo id);
  LvHashAlgo getHashAlgo() const { return m_selected->getAlgo(); }
  LvHash& getSelected() { return *m_selected; }
  const LvHash& getSelected() const { return *m_selected; }

  unsigned int init() { return m_selected->init(); }
  void step(const LvOctet* data, unsigned int length) { m_selected->step(data, length); }
  void update(const LvOctet* data, unsigned int length) { m_selected->step(data, length); }
  void finish() { m_selected->finish(); }
  void hash(const LvOctet* data, unsigned int length) { m_selected->hash(data, length); }
  unsigned int getHashOctets() const { return m_selected->getHashOctets(); }
  void getHash(unsigned int length, LvOctet* dst) const { m_selected->getHash(length, dst); }
  const LvOctMem& getHashObject() const { return m_selected->getHashObject(); }
  const LvOctet* getHashPtr() const { return m_selected->getHashPtr(); }

 private:
  LvHash* member(LvHashAlgo id);

  LvMd5 m_md5;
  LvRipemd128 m_ripemd128;
  LvRipemd160 m_ripemd160;
  LvSha1 m_sha1;
  LvSha224 m_sha224;
  LvSha256 m_sha256;
  LvSha384 m_sha384;
  LvSha512 m_sha512;
  LvGhash128 m_ghash128;
  LvHash* m_selected;
  std::uint32_t m_maxOctets;
};
