// Owned octet and word buffers of libvorinpp.
//
// Every secret or intermediate value lives in one of these: each owns its
// memory, checks every indexed access and writes zero over the whole old
// capacity before it frees it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "crypto/basic/lvexception.h"

typedef std::uint8_t LvOctet;
typedef std::uint32_t LvWord;

// Writes zero over n octets in a way the compiler cannot drop: the empty assembly statement
// tells it the zeros are read. Inline, so the wipe of a small buffer of known size is a few
// stores rather than a library call.
inline void lvWipe(void* p, std::size_t n) noexcept {
  if (p == nullptr || n == 0) return;
  std::memset(p, 0, n);
  __asm__ __volatile__("" : : "r"(p) : "memory");
}

class LvOctMem {
 public:
  LvOctMem() noexcept : m_data(nullptr), m_capacity(0), m_length(0), m_inline{} {}
  LvOctMem(const LvOctMem& other);
  // Capacity: the smallest power of two not below n (1 for n <= 1); length n.
  explicit LvOctMem(unsigned int n) : LvOctMem() {
    if (n > kInlineOctets) {
      takeHeap(n);
      return;
    }
    // (the inline octets are zero already)
    m_data = m_inline;
    m_capacity = n <= 1 ? 1u : 2u << (31 - __builtin_clz(n - 1));
    m_length = n;
  }
  explicit LvOctMem(int n) : LvOctMem(static_cast<unsigned int>(n < 0 ? 0 : n)) {}
  // Hexadecimal text, not validated; an odd-length text makes its first digit
  // a whole octet; null gives the empty buffer.
  explicit LvOctMem(const char* hexText);
  // n octets copied in order (forward) or reversed.
  LvOctMem(const LvOctet* data, unsigned int n, bool forward = true);
  ~LvOctMem() { release(); }

  LvOctMem& operator=(const LvOctMem& other);

  // Grows to exactly n octets (zero-filled, old octets kept) when the
  // capacity is short; the length becomes n in every case.
  void resize(unsigned int n);
  // Zeroes the whole capacity; the length stays.
  void clear() noexcept;
  // Copies all octets (reversed unless forward) into dst when dstLen holds
  // them and returns the length; otherwise copies nothing and returns 0.
  unsigned int get(LvOctet* dst, unsigned int dstLen, bool forward = true) const;

  LvOctet* ptr() noexcept { return m_data; }
  const LvOctet* ptr() const noexcept { return m_data; }
  unsigned int getLength() const noexcept { return m_length; }
  unsigned int getCapacity() const noexcept { return m_capacity; }

  LvOctet& operator[](unsigned int i);
  const LvOctet& operator[](unsigned int i) const;
  LvOctet& operator[](int i);
  const LvOctet& operator[](int i) const;
  LvOctet* operator+(unsigned int offset);
  const LvOctet* operator+(unsigned int offset) const;

  // Buffers of up to this many octets live inside the object (an empty text's terminator, a
  // mechanism's info, a short value cost no allocation); wiped as the heap ones are.
  static constexpr unsigned int kInlineOctets = 8;

 private:
  // Inline, as every buffer's construction and release: a mechanism or number made and dropped
  // for one operation would otherwise spend more on the calls than on its octets.
  void release() noexcept {
    if (isInline()) {
      lvWipe(m_inline, sizeof m_inline);
    } else if (m_data != nullptr) {
      lvWipe(m_data, m_capacity);
      std::free(m_data);
    }
    m_data = nullptr;
    m_capacity = m_length = 0;
  }
  // Zeroed room for cap (> 0) octets: the inline octets or a heap block.
  LvOctet* take(std::uint32_t cap);
  // LvOctMem(n) past the inline octets: a heap block of the capacity it gives.
  void takeHeap(unsigned int n);
  bool isInline() const noexcept { return m_data == m_inline; }
  LvOctet* m_data;
  std::uint32_t m_capacity;
  std::uint32_t m_length;
  LvOctet m_inline[kInlineOctets];
};

class LvWordMem {
 public:
  LvWordMem() noexcept : m_data(nullptr), m_inline{0, 0, 0}, m_count(0) {}
  LvWordMem(const LvWordMem& other);
  // n words, zero-filled.
  explicit LvWordMem(unsigned int n) : LvWordMem() {
    if (n == 0) return;
    m_data = take(n);
    m_count = n;
  }
  // ceil(n/4) words from n octets: bigEndian reads the octets as a big-endian
  // number (words least significant first); otherwise octet 0 is the low
  // octet of word 0.
  LvWordMem(const LvOctet* octets, unsigned int n, bool bigEndian) : LvWordMem() {
    if (n > 4 * kInlineWords) {
      readOctets(octets, n, bigEndian);
      return;
    }
    if (n == 0) return;
    // A short number (a public exponent) fills the inline words here, octet by octet with no
    // branch on their values; they are zero already.
    m_data = m_inline;
    m_count = (n + 3) / 4;
    for (unsigned int i = 0; i < n; ++i) {
      // i counts octets from the least significant one
      LvOctet o = bigEndian ? octets[n - 1 - i] : octets[i];
      m_inline[i / 4] |= LvWord(o) << (8 * (i % 4));
    }
  }
  ~LvWordMem() { release(); }

  LvWordMem& operator=(const LvWordMem& other);
  // Exchanges the words of two buffers without copying them.
  void swap(LvWordMem& other) noexcept;
  // Only grows: the old words are kept and the new ones are zero.
  void resize(unsigned int n);
  // Writes the words as octets, least significant first, into dst from its
  // end backwards (bigEndian) or from its start forwards; stops after n
  // octets or when the words run out; returns the octets written.
  unsigned int getOctets(LvOctet* dst, unsigned int n, bool bigEndian) const;

  LvWord* ptr() noexcept { return m_data; }
  const LvWord* ptr() const noexcept { return m_data; }
  unsigned int getCount() const noexcept { return m_count; }
  unsigned int getLength() const noexcept { return m_count; }

  LvWord* operator+(unsigned int offset);
  const LvWord* operator+(unsigned int offset) const;

  // Resizes dst to n words and copies the first n words of src.
  static void copy(LvWordMem& dst, const LvWordMem& src, unsigned int n);

  // Buffers of up to this many words live inside the object: small numbers (a default zero,
  // a public exponent, a one-word residue) cost no allocation. Their words are wiped as the
  // heap ones are; ptr() of such a buffer moves with swap().
  static constexpr unsigned int kInlineWords = 3;

 private:
  void release() noexcept {
    if (isInline()) {
      lvWipe(m_inline, sizeof m_inline);
    } else if (m_data != nullptr) {
      lvWipe(m_data, std::size_t(m_count) * sizeof(LvWord));
      std::free(m_data);
    }
    m_data = nullptr;
    m_count = 0;
  }
  // Zeroed room for n (> 0) words: the inline words or a heap block; m_data is not changed.
  LvWord* take(unsigned int n) {
    if (n <= kInlineWords) {
      std::memset(m_inline, 0, sizeof m_inline);
      return m_inline;
    }
    return takeHeap(n);
  }
  static LvWord* takeHeap(unsigned int n);
  // The octet constructor past the inline words (a buffer made empty).
  void readOctets(const LvOctet* octets, unsigned int n, bool bigEndian);
  bool isInline() const noexcept { return m_data == m_inline; }
  LvWord* m_data;
  LvWord m_inline[kInlineWords];
  std::uint32_t m_count;
};

// Writes value big-endian into the last octets of dst[0..n) and zero-fills
// the octets before it; LvAccessException when the value does not fit.
void lvUintToOctets(std::uint32_t value, LvOctet* dst, unsigned int n);
