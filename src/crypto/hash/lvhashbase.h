// Hash framework of libvorinpp: LvHash (a finished digest and its accessors)
// and LvDhf (a block hash with the init / step / finish session and a block
// buffer). The concrete hashes supply the chaining state, the compression of
// one block and the final padding.
//
// Calling order: init, any number of step calls, finish, then the digest
// accessors; a new init may follow at any time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/basic/lvcryptomech.h"
#include "crypto/basic/lvoctmem.h"

// Hash ids.
typedef std::uint32_t LvHashAlgo;
constexpr LvHashAlgo LV_HASH_SHA1 = 1;
constexpr LvHashAlgo LV_HASH_SHA224 = 2;
constexpr LvHashAlgo LV_HASH_SHA256 = 3;
constexpr LvHashAlgo LV_HASH_SHA384 = 4;
constexpr LvHashAlgo LV_HASH_SHA512 = 5;
constexpr LvHashAlgo LV_HASH_RIPEMD128 = 6;
constexpr LvHashAlgo LV_HASH_RIPEMD160 = 7;
constexpr LvHashAlgo LV_HASH_MD5 = 8;
constexpr LvHashAlgo LV_HASH_GHASH128 = 9;

class LvHash : public LvCryptoMech {
 public:
  ~LvHash() override;

  // A new object of the same class with the whole state copied.
  virtual LvHash* clone() const = 0;
  // Starts a session; the base zeroes the digest buffer.
  virtual unsigned int init();
  virtual void step(const LvOctet* data, unsigned int length) = 0;
  virtual void finish() = 0;
  virtual void hash(const LvOctet* data, unsigned int length) = 0;
  // Answers 1 for every hash.
  virtual unsigned int getMechKind() const = 0;
  virtual const char* getFamilyName() const;
  virtual LvHashAlgo getAlgo() const = 0;
  virtual const char* getName() const;
  // Arc count followed by the arcs; null when the hash has no identifier.
  virtual const LvWord* getOid() const;
  // DER form (06, length, content); null when the hash has no identifier.
  virtual const LvOctet* getDerOid() const;
  virtual unsigned int getHashOctets() const;

  // Copies the first `length` digest octets (0: the whole digest).
  void getHash(unsigned int length, LvOctet* dst) const;
  const LvOctMem& getHashObject() const;
  const LvOctet* getHashPtr() const;

  bool isSessionOpen() const { return m_sessionOpen != 0; }
  bool isDigestReady() const { return m_digestReady != 0; }

 protected:
  explicit LvHash(unsigned int digestOctets);
  LvHash(const LvHash& other) = default;
  LvHash& operator=(const LvHash& other) = default;

  LvOctMem m_digest;
  std::uint8_t m_sessionOpen;
  std::uint8_t m_digestReady;

  friend class LvGenericHash;
};

class LvDhf : public LvHash {
 public:
  ~LvDhf() override;

  // Starts a session and returns the block length.
  unsigned int init() override;
  void step(const LvOctet* data, unsigned int length) override;
  void finish() override;
  void hash(const LvOctet* data, unsigned int length) override;
  unsigned int getMechKind() const override;
  const char* getFamilyName() const override;

  virtual unsigned int getBlockOctets() const = 0;
  // Loads the initial chaining value and zeroes the length counter.
  virtual void resetIv() = 0;
  // Compresses one block and adds one block length to the length counter.
  virtual void compressBlock(const LvOctet* block) = 0;
  // Adds the buffered count to the counter, pads, compresses the last
  // block(s) and writes the digest.
  virtual void finalBlock() = 0;

 protected:
  LvDhf(unsigned int digestOctets, unsigned int blockOctets);
  LvDhf(const LvDhf& other) = default;
  LvDhf& operator=(const LvDhf& other) = default;

  // Compresses `count` whole blocks as compressBlock would one by one; the
  // hashes override it to keep their state in registers across blocks.
  virtual void compressBlocks(const LvOctet* blocks, std::size_t count);

  // The work net (crypto/basic/lvnet.h): a session ticks once per batch of up
  // to NET_BLOCKS blocks it compresses (a few microseconds); once a tick
  // refuses, the session compresses nothing more and ends in an all-zero digest.
  static constexpr unsigned int NET_BLOCKS = 64;
  bool netTick();

  std::uint32_t m_buffered;
  std::uint8_t m_refused;
  std::uint32_t m_blockLength;
  LvOctMem m_block;
};

// The descriptive answers every concrete hash gives (declared in the class,
// defined with LV_HASH_DESCRIPTION).
#define LV_HASH_DESCRIPTION_DECL(cls)                 \
  cls(const cls& other) = default;                    \
  cls& operator=(const cls& other) = default;         \
  bool isApproved() const override;                   \
  LvHash* clone() const override;                     \
  LvHashAlgo getAlgo() const override;                \
  const char* getName() const override;               \
  const LvWord* getOid() const override;              \
  const LvOctet* getDerOid() const override;          \
  unsigned int getHashOctets() const override;

#define LV_HASH_DESCRIPTION(cls, id, name, oid, der, octets)       \
  LvHash* cls::clone() const { return new cls(*this); }            \
  LvHashAlgo cls::getAlgo() const { return id; }                   \
  const char* cls::getName() const { return name; }                \
  const LvWord* cls::getOid() const { return oid; }                \
  const LvOctet* cls::getDerOid() const { return der; }            \
  unsigned int cls::getHashOctets() const { return octets; }

// Adds n octets to a two-word octet counter (low word first).
inline void lvAddCount64(std::uint32_t count[2], std::uint64_t n) {
  std::uint64_t low = std::uint64_t(count[0]) + (n & 0xFFFFFFFFu);
  count[0] = static_cast<std::uint32_t>(low);
  count[1] += static_cast<std::uint32_t>((n >> 32) + (low >> 32));
}
