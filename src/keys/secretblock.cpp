#include "keys/secretblock.h"

#include "base/memfile.h"

#include <cerrno>
#include <new>
#include <sys/random.h>
#include <sys/mman.h>

SecretBlock::SecretBlock(size_t size)
    : bytes(new uint8_t[size ? size : 1]()), length(size), allocated(size) {
  // Kept out of swap where the system allows it; a refusal is not an error.
  if (allocated) ::mlock(bytes, allocated);
}

SecretBlock::~SecretBlock() {
  wipe(bytes, allocated);
  if (allocated) ::munlock(bytes, allocated);
  delete[] bytes;
}

void SecretBlock::clear() { wipe(bytes, length); }

void SecretBlock::shrink(size_t newLength) {
  if (newLength >= length) return;
  wipe(bytes + newLength, length - newLength);
  length = newLength;
}

void SecretBlock::wipe(void* block, size_t size) {
  if (block && size) zeroizeMemory(block, size);
}

bool SecretBlock::fillFromSystem() {
  size_t got = 0;
  while (got < length) {
    ssize_t n = ::getrandom(bytes + got, length - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}
