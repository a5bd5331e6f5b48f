// Running message digests over one stream: a signed message is read once and
// every digest algorithm its signatures need is fed at the same time.
// Failures inside the hash library surface as the invariant exception of the
// common error reporter with the library's text as detail.
#pragma once

#include <cstdint>
#include <exception>
#include <list>
#include <string>

#include "base/commonerror.h"
#include "crypto/hash/lvhash.h"

class GenericFile;

class MessageDigestCtx {
 public:
  // Ids 1 (SHA-1) to 8 (MD5); any other id fails the invariant "false".
  explicit MessageDigestCtx(std::uint32_t algorithm);
  // Takes the id of the prototype and a clone of it (state as it stands).
  explicit MessageDigestCtx(const LvHash& prototype);
  ~MessageDigestCtx();
  MessageDigestCtx(const MessageDigestCtx&) = delete;
  MessageDigestCtx& operator=(const MessageDigestCtx&) = delete;

  // A new context over a clone of the hash, with the same count and value.
  MessageDigestCtx* clone() const;
  void reset();
  void update(const void* data, std::uint32_t length);
  // Feeds the DER encoding of an ASN.1 object (anything with
  // updateDigest(LvHash*) and encodedLength()).
  template <class AsnObject>
  void updateWithObject(const AsnObject& object);
  // Feeds the stream from its position to its end: 0, or -1 on a read error.
  std::int32_t updateFromStream(GenericFile& in);
  // Finishes once; later calls keep the value.
  void finish();
  // Stores a digest computed elsewhere; false when longer than 64 octets.
  bool setDigest(const void* value, std::uint32_t length);
  bool getDigest(std::string& out) const;

  std::uint32_t getAlgorithm() const { return algorithm; }
  bool isFinished() const { return finished; }
  const std::uint8_t* getDigestPtr() const { return digest; }
  std::uint32_t getDigestLength() const { return digestLength; }
  std::uint32_t getBytesFed() const { return bytesFed; }
  LvHash* getHash() const { return hash; }

 private:
  // Reports an exception of the hash library as a failed invariant.
  [[noreturn]] static void fail(int line, const std::exception& e);

  std::uint32_t algorithm;
  LvHash* hash;
  bool finished;
  std::uint8_t digest[64];
  std::uint32_t digestLength;
  std::uint32_t bytesFed;
};

class MessageDigestCtxList {
 public:
  MessageDigestCtxList() = default;
  virtual ~MessageDigestCtxList();
  MessageDigestCtxList(const MessageDigestCtxList&) = delete;
  MessageDigestCtxList& operator=(const MessageDigestCtxList&) = delete;

  // Adds a context of the id unless one exists.
  void addAlgorithm(std::uint32_t algorithm);
  MessageDigestCtx* find(std::uint32_t algorithm) const;
  // Feeds every context in order; the set must not be empty.
  void update(const void* data, std::uint32_t length, std::uint32_t reserved = 0);
  // Feeds the stream from its position to its end to every context: 0, or
  // -1 on a read error. The set must not be empty.
  std::int32_t updateFromStream(GenericFile& in);
  bool setDigest(std::uint32_t algorithm, const void* value, std::uint32_t length);
  const std::list<MessageDigestCtx*>& contexts() const { return m_ptrList; }

 protected:
  std::list<MessageDigestCtx*> m_ptrList;
};

typedef MessageDigestCtxList MessageDigests;

template <class AsnObject>
void MessageDigestCtx::updateWithObject(const AsnObject& object) {
  try {
    object.updateDigest(hash);
  } catch (const std::exception& e) {
    fail(__LINE__, e);
  }
  bytesFed += static_cast<std::uint32_t>(object.encodedLength());
}
