#include "crypto/hash/lvhash.h"

#include <new>

#define LV_FACTORY_FILE "lvhash\\lvhash.cpp"
#define LV_GENERIC_FILE "lvhash\\lvgenerichash.cpp"

// new that reports exhaustion the library's way.
template <class T>
static LvHash* lvNewHash() {
  LvHash* h = new (std::nothrow) T();
  if (h == nullptr) LV_THROW_MEM(static_cast<std::uint32_t>(sizeof(T)));
  return h;
}

LvHash* lvHashCreateObject(LvHashAlgo id) {
  switch (id) {
    case LV_HASH_SHA1: return lvNewHash<LvSha1>();
    case LV_HASH_SHA224: return lvNewHash<LvSha224>();
    case LV_HASH_SHA256: return lvNewHash<LvSha256>();
    case LV_HASH_SHA384: return lvNewHash<LvSha384>();
    case LV_HASH_SHA512: return lvNewHash<LvSha512>();
    case LV_HASH_RIPEMD128: return lvNewHash<LvRipemd128>();
    case LV_HASH_RIPEMD160: return lvNewHash<LvRipemd160>();
    case LV_HASH_MD5: return lvNewHash<LvMd5>();
    case LV_HASH_GHASH128: return lvNewHash<LvGhash128>();
    default:
      LV_THROW(LvArgumentRangeException, "Nieznany identyfikator algorytmu.",
               "lvHashCreateObject", LV_FACTORY_FILE);
  }
}

LvGenericHash::LvGenericHash() : m_selected(&m_sha256), m_maxOctets(64) {
  m_sha256.m_sessionOpen = 0;
}

LvGenericHash::LvGenericHash(LvHashAlgo id) : m_selected(&m_sha256), m_maxOctets(64) {
  setHashAlgo(id);
}

LvGenericHash::LvGenericHash(const LvGenericHash& other)
    : m_md5(other.m_md5),
      m_ripemd128(other.m_ripemd128),
      m_ripemd160(other.m_ripemd160),
      m_sha1(other.m_sha1),
      m_sha224(other.m_sha224),
      m_sha256(other.m_sha256),
      m_sha384(other.m_sha384),
      m_sha512(other.m_sha512),
      m_ghash128(other.m_ghash128),
      m_selected(member(other.m_selected->getAlgo())),
      m_maxOctets(other.m_maxOctets) {}

// The selection points into this object, never into the source.
LvGenericHash& LvGenericHash::operator=(const LvGenericHash& other) {
  if (this != &other) {
    m_md5 = other.m_md5;
    m_ripemd128 = other.m_ripemd128;
    m_ripemd160 = other.m_ripemd160;
    m_sha1 = other.m_sha1;
    m_sha224 = other.m_sha224;
    m_sha256 = other.m_sha256;
    m_sha384 = other.m_sha384;
    m_sha512 = other.m_sha512;
    m_ghash128 = other.m_ghash128;
    m_selected = member(other.m_selected->getAlgo());
    m_maxOctets = other.m_maxOctets;
  }
  return *this;
}

LvHash* LvGenericHash::member(LvHashAlgo id) {
  switch (id) {
    case LV_HASH_SHA1: return &m_sha1;
    case LV_HASH_SHA224: return &m_sha224;
    case LV_HASH_SHA256: return &m_sha256;
    case LV_HASH_SHA384: return &m_sha384;
    case LV_HASH_SHA512: return &m_sha512;
    case LV_HASH_RIPEMD128: return &m_ripemd128;
    case LV_HASH_RIPEMD160: return &m_ripemd160;
    case LV_HASH_MD5: return &m_md5;
    case LV_HASH_GHASH128: return &m_ghash128;
    default:
      LV_THROW(LvArgumentRangeException, "Nieznany identyfikator algorytmu.",
               "LvGenericHash::setHashAlgo", LV_GENERIC_FILE);
  }
}

void LvGenericHash::setHashAlgo(LvHashAlgo id) {
  LvHash* h = member(id);
  m_selected = h;
  h->m_sessionOpen = 0;
}

unsigned int LvGenericHash::getGenericHashOctets(LvHashAlgo id) {
  static const unsigned int octets[10] = {0, 20, 28, 32, 48, 64, 16, 20, 16, 16};
  if (id < 1 || id > 9)
    LV_THROW(LvArgumentRangeException, "Nieznany identyfikator algorytmu.",
             "LvGenericHash::getGenericHashOctets", LV_GENERIC_FILE);
  return octets[id];
}
