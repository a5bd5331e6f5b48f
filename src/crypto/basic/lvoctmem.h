// Owned octet and word buffers of libvorinpp.
//
// Every secret or intermediate value lives in one of these: each owns its
// memory, checks every indexed access and writes zero over the whole old
// capacity before it frees it.
#pragma once

#include <cstddef>
#include <cstdint>
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
  LvOctMem() noexcept;
  LvOctMem(const LvOctMem& other);
  // Capacity: the smallest power of two not below n (1 for n <= 1); length n.
  explicit LvOctMem(unsigned int n);
  explicit LvOctMem(int n) : LvOctMem(static_cast<unsigned int>(n < 0 ? 0 : n)) {}
  // Hexadecimal text, not validated; an odd-length text makes its first digit
  // a whole octet; null gives the empty buffer.
  explicit LvOctMem(const char* hexText);
  // n octets copied in order (forward) or reversed.
  LvOctMem(const LvOctet* data, unsigned int n, bool forward = true);
  ~LvOctMem();

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
  void release() noexcept;
  // Zeroed room for cap (> 0) octets: the inline octets or a heap block.
  LvOctet* take(std::uint32_t cap);
  bool isInline() const noexcept { return m_data == m_inline; }
  LvOctet* m_data;
  std::uint32_t m_capacity;
  std::uint32_t m_length;
  LvOctet m_inline[kInlineOctets];
};

class LvWordMem {
 public:
  LvWordMem() noexcept;
  LvWordMem(const LvWordMem& other);
  // n words, zero-filled.
  explicit LvWordMem(unsigned int n);
  // ceil(n/4) words from n octets: bigEndian reads the octets as a big-endian
  // number (words least significant first); otherwise octet 0 is the low
  // octet of word 0.
  LvWordMem(const LvOctet* octets, unsigned int n, bool bigEndian);
  ~LvWordMem();

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
  void release() noexcept;
  // Zeroed room for n (> 0) words: the inline words or a heap block; m_data is not changed.
  LvWord* take(unsigned int n);
  bool isInline() const noexcept { return m_data == m_inline; }
  LvWord* m_data;
  LvWord m_inline[kInlineWords];
  std::uint32_t m_count;
};

// Writes value big-endian into the last octets of dst[0..n) and zero-fills
// the octets before it; LvAccessException when the value does not fit.
void lvUintToOctets(std::uint32_t value, LvOctet* dst, unsigned int n);
