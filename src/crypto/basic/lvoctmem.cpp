#include "crypto/basic/lvoctmem.h"

#include <cstdlib>
#include <cstring>
#include <string.h>

#include <utility>

#define LV_OCTMEM_FILE "lvbasic\\lvcommon\\lvoctmem.cpp"
#define LV_WORDMEM_FILE "lvbasic\\lvcommon\\lvwordmem.cpp"

// n octets (at least one) without a fill, for a buffer its maker writes whole;
// LvMemException when it fails.
static void* lvAllocUnfilled(std::size_t n) {
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) LV_THROW_MEM(static_cast<std::uint32_t>(n));
  return p;
}

// The same zero-filled. Not calloc: this C library's calloc bypasses the per-thread cache.
static void* lvAlloc(std::size_t n) {
  void* p = lvAllocUnfilled(n);
  std::memset(p, 0, n == 0 ? 1 : n);
  return p;
}

// ---------------------------------------------------------------- LvOctMem

LvOctet* LvOctMem::take(std::uint32_t cap) {
  if (cap <= kInlineOctets) {
    std::memset(m_inline, 0, sizeof m_inline);
    return m_inline;
  }
  return static_cast<LvOctet*>(lvAlloc(cap));
}

LvOctMem::LvOctMem(const LvOctMem& other) : LvOctMem() {
  if (other.m_length == 0) return;
  m_data = take(other.m_length);
  m_capacity = m_length = other.m_length;
  std::memcpy(m_data, other.m_data, m_length);
}

void LvOctMem::takeHeap(unsigned int n) {
  std::uint32_t cap = 1;
  while (cap < n) {
    if (cap > 0x7FFFFFFFu) {  // doubling would overflow: take n itself
      cap = n;
      break;
    }
    cap <<= 1;
  }
  m_data = take(cap);
  m_capacity = cap;
  m_length = n;
}

static LvOctet lvHexDigit(char c) {
  int v = static_cast<unsigned char>(c);
  if (v > 57 && v < 91) return static_cast<LvOctet>(v - 55);
  if (v >= 91) return static_cast<LvOctet>(v - 87);
  return static_cast<LvOctet>(v - 48);
}

LvOctMem::LvOctMem(const char* hexText) : LvOctMem() {
  if (hexText == nullptr) return;
  std::size_t len = std::strlen(hexText);
  std::size_t n = len / 2 + (len & 1);
  if (n == 0) return;
  if (n > 0xFFFFFFFFu) LV_THROW_MEM(0xFFFFFFFFu);
  m_data = take(static_cast<std::uint32_t>(n));
  m_capacity = m_length = static_cast<std::uint32_t>(n);
  std::size_t in = 0, out = 0;
  if (len & 1) m_data[out++] = lvHexDigit(hexText[in++]);
  for (; in < len; in += 2)
    m_data[out++] = static_cast<LvOctet>((lvHexDigit(hexText[in]) << 4) |
                                         (lvHexDigit(hexText[in + 1]) & 0x0F));
}

LvOctMem::LvOctMem(const LvOctet* data, unsigned int n, bool forward) : LvOctMem() {
  if (n == 0) return;
  if (data == nullptr)
    LV_THROW(LvArgumentRangeException, "Null source buffer.",
             "LvOctMem::LvOctMem(const LvOctet *data, unsigned int n, bool forward)",
             LV_OCTMEM_FILE);
  m_data = take(n);
  m_capacity = m_length = n;
  if (forward) {
    std::memcpy(m_data, data, n);
  } else {
    for (unsigned int i = 0; i < n; ++i) m_data[i] = data[n - 1 - i];
  }
}

LvOctMem& LvOctMem::operator=(const LvOctMem& other) {
  if (this == &other) return *this;
  if (m_capacity < other.m_length) {
    if (other.m_length <= kInlineOctets) {
      // (a capacity below it is the inline octets or none)
      std::memset(m_inline, 0, sizeof m_inline);
      m_data = m_inline;
    } else {
      LvOctet* p = static_cast<LvOctet*>(lvAlloc(other.m_length));
      release();
      m_data = p;
    }
    m_capacity = other.m_length;
  }
  m_length = other.m_length;
  if (m_length != 0) std::memcpy(m_data, other.m_data, m_length);
  return *this;
}

void LvOctMem::resize(unsigned int n) {
  if (m_capacity < n) {
    if (n <= kInlineOctets) {
      // The octets stay where they are (inline already, or none yet); those past the length
      // are zero, as in a new block.
      std::memset(m_inline + m_length, 0, sizeof m_inline - m_length);
      m_data = m_inline;
    } else {
      LvOctet* p = static_cast<LvOctet*>(lvAlloc(n));
      if (m_length != 0) std::memcpy(p, m_data, m_length);
      release();
      m_data = p;
    }
    m_capacity = n;
  }
  m_length = n;
}

void LvOctMem::clear() noexcept {
  if (m_data != nullptr) std::memset(m_data, 0, m_capacity);
}

unsigned int LvOctMem::get(LvOctet* dst, unsigned int dstLen, bool forward) const {
  if (dstLen < m_length) return 0;
  if (m_length == 0) return 0;
  if (forward) {
    std::memcpy(dst, m_data, m_length);
  } else {
    for (unsigned int i = 0; i < m_length; ++i) dst[i] = m_data[m_length - 1 - i];
  }
  return m_length;
}

// The three accessors keep their historical texts: they differ slightly.
#define LV_OCT_INDEX_U(i)                                                                     \
  do {                                                                                        \
    if (m_length == 0)                                                                        \
      LV_THROW(LvNotInitException, "Access to uninitialised bufer.",                         \
               "LvOctet& LvOctMem::operator [](unsigned int i)", LV_OCTMEM_FILE);             \
    if ((i) >= m_length)                                                                      \
      LV_THROW(LvAccessException, "To large index.",                                         \
               "LvOctet& LvOctMem::operator [](unsigned int i)", LV_OCTMEM_FILE);             \
  } while (0)
#define LV_OCT_INDEX_I(i)                                                                     \
  do {                                                                                        \
    if (m_length == 0)                                                                        \
      LV_THROW(LvNotInitException, "Access to uninitialised bufer.",                         \
               "LvOctet& LvOctMem::operator [](int i)", LV_OCTMEM_FILE);                      \
    if ((i) < 0 || static_cast<unsigned int>(i) >= m_length)                                  \
      LV_THROW(LvAccessException, "To large index", "LvOctet& LvOctMem::operator [](int i)", \
               LV_OCTMEM_FILE);                                                               \
  } while (0)
#define LV_OCT_OFFSET(off)                                                              \
  do {                                                                                  \
    if (m_length == 0)                                                                  \
      LV_THROW(LvNotInitException, "Access to uninitialised buffer.",                  \
               "LvOctet* LvWordMem::operator +(unsigned int offset)", LV_OCTMEM_FILE);  \
    if ((off) >= m_length)                                                              \
      LV_THROW(LvAccessException, "To large index.",                                   \
               "LvOctet* LvWordMem::operator +(unsigned int offset)", LV_OCTMEM_FILE);  \
  } while (0)

LvOctet& LvOctMem::operator[](unsigned int i) {
  LV_OCT_INDEX_U(i);
  return m_data[i];
}
const LvOctet& LvOctMem::operator[](unsigned int i) const {
  LV_OCT_INDEX_U(i);
  return m_data[i];
}
LvOctet& LvOctMem::operator[](int i) {
  LV_OCT_INDEX_I(i);
  return m_data[i];
}
const LvOctet& LvOctMem::operator[](int i) const {
  LV_OCT_INDEX_I(i);
  return m_data[i];
}
LvOctet* LvOctMem::operator+(unsigned int offset) {
  LV_OCT_OFFSET(offset);
  return m_data + offset;
}
const LvOctet* LvOctMem::operator+(unsigned int offset) const {
  LV_OCT_OFFSET(offset);
  return m_data + offset;
}

// --------------------------------------------------------------- LvWordMem

// The low half of w into to[0], the high half into to[1]: one store on a little-endian host.
static inline void putTwoWords(LvWord* to, std::uint64_t w) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  std::memcpy(to, &w, 8);
#else
  to[0] = static_cast<LvWord>(w);
  to[1] = static_cast<LvWord>(w >> 32);
#endif
}

LvWord* LvWordMem::takeHeap(unsigned int n) {
  return static_cast<LvWord*>(lvAlloc(std::size_t(n) * sizeof(LvWord)));
}

LvWordMem::LvWordMem(const LvWordMem& other) : LvWordMem() {
  if (other.m_count == 0) return;
  m_data = take(other.m_count);
  m_count = other.m_count;
  std::memcpy(m_data, other.m_data, std::size_t(m_count) * sizeof(LvWord));
}

void LvWordMem::readOctets(const LvOctet* octets, unsigned int n, bool bigEndian) {
  // ceil(n / 4) without the overflow of (n + 3) / 4 near 2^32
  // (more words than the inline ones: the constructor converts the shorter numbers itself)
  unsigned int words = n / 4 + ((n & 3) != 0 ? 1u : 0u);
  // every word is written below; the top one is ORed into
  m_data = static_cast<LvWord*>(lvAllocUnfilled(std::size_t(words) * sizeof(LvWord)));
  m_data[words - 1] = 0;
  m_count = words;
  // Whole words first, four octets at a time (key parts come this way: no branch on their
  // values), then the octets of a short top word.
  const unsigned int whole = n / 4;
  unsigned int j = 0;
  if (bigEndian) {
    // two words from one 8-octet load, four from two per turn: a modulus converts at four
    // times the pace. Both sides walk by local pointers: an index computed in 32 bits, or
    // m_data read again after each store (which may alias it), costs as much as the load.
    const LvOctet* src = octets + n;
    LvWord* dst = m_data;
    LvWord* const end4 = m_data + (whole & ~3u);
    for (; dst != end4; dst += 4) {
      src -= 16;
      std::uint64_t hi, lo;
      std::memcpy(&hi, src, 8);
      std::memcpy(&lo, src + 8, 8);
      putTwoWords(dst, __builtin_bswap64(lo));
      putTwoWords(dst + 2, __builtin_bswap64(hi));
    }
    j = whole & ~3u;
    if (j + 2 <= whole) {
      src -= 8;
      std::uint64_t w;
      std::memcpy(&w, src, 8);
      putTwoWords(dst, __builtin_bswap64(w));
      j += 2;
    }
  }
  for (; j < whole; ++j) {
    std::uint32_t w;
    if (bigEndian) {
      std::memcpy(&w, octets + (n - 4 * (j + 1)), 4);
      m_data[j] = __builtin_bswap32(w);
    } else {
      std::memcpy(&w, octets + 4 * j, 4);
      m_data[j] = w;
    }
  }
  for (unsigned int i = 4 * whole; i < n; ++i) {
    // i counts octets from the least significant one
    LvOctet o = bigEndian ? octets[n - 1 - i] : octets[i];
    m_data[i / 4] |= LvWord(o) << (8 * (i % 4));
  }
}

void LvWordMem::swap(LvWordMem& other) noexcept {
  if (this == &other) return;
  // Heap blocks change hands; inline words are copied across (the choice follows the counts,
  // which are public), and inline words left unused are wiped.
  const bool a = isInline(), b = other.isInline();
  LvWord* pa = m_data;
  LvWord* pb = other.m_data;
  LvWord ta[kInlineWords];
  if (a) std::memcpy(ta, m_inline, sizeof ta);
  if (b) {
    std::memcpy(m_inline, other.m_inline, sizeof m_inline);
    m_data = m_inline;
  } else {
    if (a) lvWipe(m_inline, sizeof m_inline);
    m_data = pb;
  }
  if (a) {
    std::memcpy(other.m_inline, ta, sizeof ta);
    other.m_data = other.m_inline;
    lvWipe(ta, sizeof ta);
  } else {
    if (b) lvWipe(other.m_inline, sizeof other.m_inline);
    other.m_data = pa;
  }
  std::swap(m_count, other.m_count);
}

LvWordMem& LvWordMem::operator=(const LvWordMem& other) {
  copy(*this, other, other.m_count);
  return *this;
}

void LvWordMem::resize(unsigned int n) {
  if (n <= m_count) return;
  if (n <= kInlineWords) {
    // (m_count < n: the buffer is empty or inline already; words above m_count are zero)
    if (m_data == nullptr) std::memset(m_inline, 0, sizeof m_inline);
    m_data = m_inline;
    m_count = n;
    return;
  }
  LvWord* p = static_cast<LvWord*>(lvAlloc(std::size_t(n) * sizeof(LvWord)));
  if (m_count != 0) std::memcpy(p, m_data, std::size_t(m_count) * sizeof(LvWord));
  release();
  m_data = p;
  m_count = n;
}

unsigned int LvWordMem::getOctets(LvOctet* dst, unsigned int n, bool bigEndian) const {
  std::uint64_t available = std::uint64_t(m_count) * 4;
  unsigned int total = available < n ? static_cast<unsigned int>(available) : n;
  for (unsigned int i = 0; i < total; ++i) {
    LvOctet o = static_cast<LvOctet>(m_data[i / 4] >> (8 * (i % 4)));
    if (bigEndian)
      dst[n - 1 - i] = o;
    else
      dst[i] = o;
  }
  return total;
}

#define LV_WORD_OFFSET(off)                                                            \
  do {                                                                                 \
    if (m_count == 0)                                                                  \
      LV_THROW(LvNotInitException, "Access to uninitialised buffer.",                 \
               "LvWord* LvWordMem::operator +(unsigned int offset)", LV_WORDMEM_FILE); \
    if ((off) >= m_count)                                                              \
      LV_THROW(LvAccessException, "To large index.",                                  \
               "LvWord* LvWordMem::operator +(unsigned int offset)", LV_WORDMEM_FILE); \
  } while (0)

LvWord* LvWordMem::operator+(unsigned int offset) {
  LV_WORD_OFFSET(offset);
  return m_data + offset;
}
const LvWord* LvWordMem::operator+(unsigned int offset) const {
  LV_WORD_OFFSET(offset);
  return m_data + offset;
}

void LvWordMem::copy(LvWordMem& dst, const LvWordMem& src, unsigned int n) {
  if (n > src.m_count)
    LV_THROW(LvArgumentRangeException, "Source argument is to large.",
             "void LvWordMem::copy(LvWordMem &dst, const LvWordMem &src, unsigned int n)",
             LV_WORDMEM_FILE);
  if (&dst == &src) return;
  if (dst.m_count != n) {
    if (n != 0 && n <= kInlineWords) {
      dst.release();
      dst.m_data = dst.m_inline;
    } else {
      LvWord* p = nullptr;
      if (n != 0) p = static_cast<LvWord*>(lvAlloc(std::size_t(n) * sizeof(LvWord)));
      dst.release();
      dst.m_data = p;
    }
    dst.m_count = n;
  }
  if (n != 0) std::memcpy(dst.m_data, src.m_data, std::size_t(n) * sizeof(LvWord));
}

void lvUintToOctets(std::uint32_t value, LvOctet* dst, unsigned int n) {
  if (n < 4 && (std::uint64_t(value) >> (8 * n)) != 0) throw LvAccessException();
  for (unsigned int i = 0; i < n; ++i) {
    dst[n - 1 - i] = i < 4 ? static_cast<LvOctet>(value >> (8 * i)) : 0;
  }
}
