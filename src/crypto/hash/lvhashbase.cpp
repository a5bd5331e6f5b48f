#include "crypto/hash/lvhashbase.h"

#include "crypto/basic/lvnet.h"

#include <cstring>

#define LV_HASH_FILE "lvhash\\lvhash.cpp"
#define LV_DHF_FILE "lvhash\\lvdhf.cpp"

// ------------------------------------------------------------------ LvHash

LvHash::LvHash(unsigned int digestOctets)
    : m_digest(digestOctets), m_sessionOpen(0), m_digestReady(0) {
  m_digest.clear();
}

LvHash::~LvHash() = default;

unsigned int LvHash::init() {
  m_digest.clear();
  return 0;
}

const char* LvHash::getFamilyName() const { return nullptr; }
const char* LvHash::getName() const { return nullptr; }
const LvWord* LvHash::getOid() const { return nullptr; }
const LvOctet* LvHash::getDerOid() const { return nullptr; }
unsigned int LvHash::getHashOctets() const { return 0; }

void LvHash::getHash(unsigned int length, LvOctet* dst) const {
  if (m_sessionOpen)
    LV_THROW(LvFsmException, "Niezakonczona sesja przetwarzania.", "LvHash::getHash",
             LV_HASH_FILE);
  if (!m_digestReady)
    LV_THROW(LvFsmException, "Skrot nie gotowy.", "LvHash::getHash", LV_HASH_FILE);
  unsigned int full = getHashOctets();
  if (length > full)
    LV_THROW(LvArgumentRangeException, "Zazadany zbyt dlugi skrot.", "LvHash::getHash",
             LV_HASH_FILE);
  if (length == 0) length = full;
  if (dst == nullptr)
    LV_THROW(LvArgumentRangeException, "Brak bufora na skrot.", "LvHash::getHash", LV_HASH_FILE);
  std::memcpy(dst, m_digest.ptr(), length);
}

const LvOctMem& LvHash::getHashObject() const {
  if (!m_digestReady)
    LV_THROW(LvFsmException, "Skrot nie gotowy.", "LvHash::getHashObject", LV_HASH_FILE);
  return m_digest;
}

const LvOctet* LvHash::getHashPtr() const {
  if (!m_digestReady)
    LV_THROW(LvFsmException, "Skrot nie gotowy.", "LvHash::getHashPtr", LV_HASH_FILE);
  return m_digest.ptr();
}

// ------------------------------------------------------------------- LvDhf

LvDhf::LvDhf(unsigned int digestOctets, unsigned int blockOctets)
    : LvHash(digestOctets), m_buffered(0), m_refused(0), m_blockLength(blockOctets), m_block(blockOctets) {
  m_block.clear();
}

LvDhf::~LvDhf() = default;

unsigned int LvDhf::init() {
  LvHash::init();
  resetIv();
  m_buffered = 0;
  m_refused = 0;
  m_blockLength = getBlockOctets();
  m_sessionOpen = 1;
  m_digestReady = 0;
  return m_blockLength;
}

void LvDhf::compressBlocks(const LvOctet* blocks, std::size_t count) {
  for (; count != 0; --count, blocks += m_blockLength) compressBlock(blocks);
}

void LvDhf::step(const LvOctet* data, unsigned int length) {
  if (!m_sessionOpen)
    LV_THROW(LvFsmException, "Nie wykonano funkcji init.", "LvDhf::step", LV_DHF_FILE);
  if (length == 0) return;
  if (data == nullptr)
    LV_THROW(LvArgumentRangeException, "Brak danych do skrotu.", "LvDhf::step", LV_DHF_FILE);
  if (m_refused) return;
  const unsigned int blk = m_blockLength;
  LvOctet* buf = m_block.ptr();
  if (m_buffered > 0) {
    unsigned int room = blk - m_buffered;
    if (length < room) {
      std::memcpy(buf + m_buffered, data, length);
      m_buffered += length;
      return;
    }
    if (!netTick()) return;
    std::memcpy(buf + m_buffered, data, room);
    compressBlock(buf);
    m_buffered = 0;
    data += room;
    length -= room;
  }
  // Whole blocks straight from the caller's octets, a tick per batch.
  unsigned int whole = length / blk;
  while (whole != 0) {
    const unsigned int batch = whole < NET_BLOCKS ? whole : NET_BLOCKS;
    if (!netTick()) return;
    compressBlocks(data, batch);
    data += std::size_t(batch) * blk;
    length -= batch * blk;
    whole -= batch;
  }
  if (length != 0) std::memcpy(buf, data, length);
  m_buffered = length;
}

bool LvDhf::netTick() {
  if (lvnet::tick()) return true;
  m_refused = 1;
  return false;
}

void LvDhf::finish() {
  if (!m_sessionOpen)
    LV_THROW(LvFsmException, "Nie wykonano funkcji init.", "LvDhf::finish", LV_DHF_FILE);
  // A refused session's digest is no digest of its octets: all zero, the
  // value no digest check is made against. A session too short to tick on
  // its way ticks here, so no digest finishes once the account is over.
  if (!m_refused) netTick();
  if (m_refused)
    m_digest.clear();
  else
    finalBlock();
  m_sessionOpen = 0;
  m_digestReady = 1;
}

void LvDhf::hash(const LvOctet* data, unsigned int length) {
  init();
  step(data, length);
  finish();
}

unsigned int LvDhf::getMechKind() const { return 1; }
const char* LvDhf::getFamilyName() const { return "DHF"; }
