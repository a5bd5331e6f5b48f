#include "crypto/hash/messagedigests.h"

#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "base/memfile.h"

#define LV_MD_UNIT "messagedigests"

void MessageDigestCtx::fail(int line, const std::exception& e) {
  checkInvariant(false, LV_MD_UNIT, line, "false", e.what());
  throw std::runtime_error(e.what());  // not reached: the reporter throws
}

MessageDigestCtx::MessageDigestCtx(std::uint32_t algo)
    : algorithm(algo), hash(nullptr), finished(false), digest{}, digestLength(0), bytesFed(0) {
  if (algo < LV_HASH_SHA1 || algo > LV_HASH_MD5) checkInvariant(false, LV_MD_UNIT, __LINE__, "false");
  try {
    hash = lvHashCreateObject(algo);
  } catch (const std::exception& e) {
    fail(__LINE__, e);
  }
  reset();
}

MessageDigestCtx::MessageDigestCtx(const LvHash& prototype)
    : algorithm(prototype.getAlgo()),
      hash(nullptr),
      finished(false),
      digest{},
      digestLength(0),
      bytesFed(0) {
  try {
    hash = prototype.clone();
  } catch (const std::exception& e) {
    fail(__LINE__, e);
  }
}

MessageDigestCtx::~MessageDigestCtx() {
  lvWipe(digest, sizeof digest);
  delete hash;
}

MessageDigestCtx* MessageDigestCtx::clone() const {
  MessageDigestCtx* c = new MessageDigestCtx(*hash);
  c->bytesFed = bytesFed;
  // a clone of a finished context keeps its value instead of finishing twice
  c->finished = finished;
  std::memcpy(c->digest, digest, sizeof digest);
  c->digestLength = digestLength;
  return c;
}

void MessageDigestCtx::reset() {
  finished = false;
  bytesFed = 0;
  try {
    hash->init();
  } catch (const std::exception& e) {
    fail(__LINE__, e);
  }
}

void MessageDigestCtx::update(const void* data, std::uint32_t length) {
  // A finished context keeps its value: its hash has no session left to feed,
  // and the set goes on feeding the contexts that are still open.
  if (finished) {
    bytesFed += length;
    return;
  }
  try {
    hash->step(static_cast<const LvOctet*>(data), length);
  } catch (const std::exception& e) {
    fail(__LINE__, e);
  }
  bytesFed += length;
}

// Reads `in` to its end in pieces and hands each piece to `feed`.
template <class Feed>
static std::int32_t lvFeedStream(GenericFile& in, Feed feed) {
  std::vector<std::uint8_t> piece(65536);
  for (;;) {
    std::uint32_t got = 0;
    if (in.read(static_cast<std::uint32_t>(piece.size()), piece.data(), &got) != 0) return -1;
    if (got == 0) break;
    if (got > piece.size()) return -1;  // a stream that claims more than it was asked for
    feed(piece.data(), got);
  }
  lvWipe(piece.data(), piece.size());
  return 0;
}

std::int32_t MessageDigestCtx::updateFromStream(GenericFile& in) {
  return lvFeedStream(in, [this](const std::uint8_t* p, std::uint32_t n) { update(p, n); });
}

void MessageDigestCtx::finish() {
  if (finished) return;
  try {
    hash->finish();
    unsigned int n = hash->getHashOctets();
    hash->getHash(n, digest);
    digestLength = n;
  } catch (const std::exception& e) {
    fail(__LINE__, e);
  }
  finished = true;
}

bool MessageDigestCtx::setDigest(const void* value, std::uint32_t length) {
  if (length > sizeof digest) return false;
  if (value == nullptr && length != 0) return false;
  if (length != 0) std::memcpy(digest, value, length);
  digestLength = length;
  finished = true;
  return true;
}

bool MessageDigestCtx::getDigest(std::string& out) const {
  if (!finished) return false;
  out.assign(reinterpret_cast<const char*>(digest), digestLength);
  return true;
}

// ------------------------------------------------------ MessageDigestCtxList

MessageDigestCtxList::~MessageDigestCtxList() {
  for (MessageDigestCtx* c : m_ptrList) delete c;  // wipes its digest, deletes its hash
  m_ptrList.clear();
}

void MessageDigestCtxList::addAlgorithm(std::uint32_t algorithm) {
  if (find(algorithm) != nullptr) return;
  // Held until the list holds it: a list that cannot grow frees it.
  std::unique_ptr<MessageDigestCtx> c(new MessageDigestCtx(algorithm));
  m_ptrList.push_back(c.get());
  c.release();
}

MessageDigestCtx* MessageDigestCtxList::find(std::uint32_t algorithm) const {
  for (MessageDigestCtx* c : m_ptrList)
    if (c->getAlgorithm() == algorithm) return c;
  return nullptr;
}

void MessageDigestCtxList::update(const void* data, std::uint32_t length, std::uint32_t) {
  checkInvariant(m_ptrList.size() != 0, LV_MD_UNIT, __LINE__, "m_ptrList.size() != 0");
  for (MessageDigestCtx* c : m_ptrList) c->update(data, length);
}

std::int32_t MessageDigestCtxList::updateFromStream(GenericFile& in) {
  checkInvariant(m_ptrList.size() != 0, LV_MD_UNIT, __LINE__, "m_ptrList.size() != 0");
  return lvFeedStream(in, [this](const std::uint8_t* p, std::uint32_t n) { update(p, n); });
}

bool MessageDigestCtxList::setDigest(std::uint32_t algorithm, const void* value,
                                     std::uint32_t length) {
  MessageDigestCtx* c = find(algorithm);
  return c != nullptr && c->setDigest(value, length);
}
