#include <cstring>
#include <memory>

#include "crypto/sym/lvmac.h"
#include "crypto/sym/lvsymfile.h"

#define LVSYM_FILE_MAC LVSYM_FILE_NAME("lvmac")
#define LVSYM_FILE LVSYM_FILE_NAME("lvhmac")

// ---- LvMac ----

LvMac::LvMac(unsigned int macOctets) : m_sessionOpen(0), m_mac(macOctets), m_macReady(0) {
  m_mac.clear();
}

void LvMac::getMac(unsigned int length, LvOctet* dst) const {
  if (!m_macReady)
    LV_THROW(LvFsmException, "MAC nie jest gotowy.", "LvMac::getMac", LVSYM_FILE_MAC);
  if (length > m_mac.getLength())
    LV_THROW(LvArgumentRangeException, "Żądany jest zbyt długi MAC.", "LvMac::getMac",
             LVSYM_FILE_MAC);
  if (length == 0) length = m_mac.getLength();
  std::memcpy(dst, m_mac.ptr(), length);
}

// ---- LvHmac ----

namespace {

LvDhf* createBlockHash(LvHashAlgo id) {
  // GHASH-128 has no key here and digests everything to zero, which would
  // make the MAC zero whatever the key and the message.
  if (id == LV_HASH_GHASH128)
    LV_THROW(LvArgumentRangeException, "Algorytm skrotu wymaga klucza.", "LvHmac::LvHmac",
             LVSYM_FILE);
  std::unique_ptr<LvHash> h(lvHashCreateObject(id));
  LvDhf* d = dynamic_cast<LvDhf*>(h.get());
  if (d == nullptr)
    LV_THROW(LvArgumentRangeException, "Nieznany identyfikator algorytmu.", "LvHmac::LvHmac",
             LVSYM_FILE);
  h.release();
  return d;
}

}  // namespace

LvHmac::LvHmac(LvHashAlgo id)
    : LvMac(0), m_hash(createBlockHash(id)), m_keySet(0), m_blockOctets(0) {
  try {
    m_blockOctets = m_hash->getBlockOctets();
    m_mac.resize(m_hash->getHashOctets());
    m_mac.clear();
    m_innerPad.resize(m_blockOctets);
    m_outerPad.resize(m_blockOctets);
  } catch (...) {
    delete m_hash;
    throw;
  }
}

LvHmac::LvHmac(const LvHmac& other)
    : LvMac(other.m_mac.getLength()),
      m_hash(static_cast<LvDhf*>(other.m_hash->clone())),
      m_keySet(0),
      m_innerPad(other.m_innerPad),
      m_outerPad(other.m_outerPad),
      m_blockOctets(other.m_blockOctets) {}

LvHmac::~LvHmac() { delete m_hash; }

LvMac* LvHmac::clone() const { return new LvHmac(*this); }

void LvHmac::setKey(const LvOctet* key, unsigned int keyOctets) {
  if (keyOctets > m_blockOctets) {
    LvBadKeyLengthException e(keyOctets, 0, m_blockOctets, 0);
    e.setMessage(LV_EXCEPTION_TEXT("LvBadKeyLengthException", "Zła długość klucza.",
                                   "LvHmac::setKey", LVSYM_FILE));
    throw e;
  }
  m_key = LvOctMem(key, keyOctets);
  m_keySet = 1;
}

void LvHmac::init() {
  m_sessionOpen = 1;
  m_macReady = 0;
  std::memset(m_innerPad.ptr(), 0x36, m_blockOctets);
  std::memset(m_outerPad.ptr(), 0x5C, m_blockOctets);
  const unsigned int k = m_keySet ? m_key.getLength() : 0;
  for (unsigned int i = 0; i < k; ++i) {
    m_innerPad.ptr()[i] ^= m_key.ptr()[i];
    m_outerPad.ptr()[i] ^= m_key.ptr()[i];
  }
  m_hash->init();
  m_hash->step(m_innerPad.ptr(), m_blockOctets);
}

void LvHmac::step(const LvOctet* data, unsigned int octets) {
  if (!m_sessionOpen) LV_THROW(LvFsmException, "Nie rozpoczęta sesja.", "LvHmac::step", LVSYM_FILE);
  m_hash->step(data, octets);
}

void LvHmac::finish() {
  if (!m_sessionOpen)
    LV_THROW(LvFsmException, "Nie rozpoczęta sesja.", "LvHmac::finish", LVSYM_FILE);
  m_hash->finish();
  m_hash->getHash(0, m_mac.ptr());
  m_hash->init();
  m_hash->step(m_outerPad.ptr(), m_blockOctets);
  m_hash->step(m_mac.ptr(), m_mac.getLength());
  m_hash->finish();
  m_hash->getHash(0, m_mac.ptr());
  m_macReady = 1;
  m_sessionOpen = 0;
}
