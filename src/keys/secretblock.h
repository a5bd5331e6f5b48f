// Memory that held a secret (a PIN, a seed, random bytes handed to another generator): written
// over with zeros, in a way the compiler cannot drop, before it is released or reused.
#pragma once

#include <cstddef>
#include <cstdint>

class SecretBlock {
 public:
  explicit SecretBlock(size_t size);  // zeroed; std::bad_alloc when it cannot be had
  ~SecretBlock();
  SecretBlock(const SecretBlock&) = delete;
  SecretBlock& operator=(const SecretBlock&) = delete;

  uint8_t* data() { return bytes; }
  const uint8_t* data() const { return bytes; }
  size_t size() const { return length; }
  // Zeros over the whole block; the block stays allocated.
  void clear();
  // Cuts the block to newLength (no more than its size), zeros over the octets given up; they
  // stay allocated and are wiped again with the block.
  void shrink(size_t newLength);

  // Fills the block from the system's random source: false when it gives nothing.
  bool fillFromSystem();

  // Zeros over any block (nothing for NULL or a zero length).
  static void wipe(void* block, size_t length);

 private:
  uint8_t* bytes;
  size_t length;
  size_t allocated;
};
