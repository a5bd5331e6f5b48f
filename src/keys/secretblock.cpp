#include "keys/secretblock.h"

#include "base/memfile.h"

#include <new>
#include <sys/mman.h>

SecretBlock::SecretBlock(size_t size) : bytes(new uint8_t[size ? size : 1]()), length(size) {
  // Kept out of swap where the system allows it; a refusal is not an error.
  if (length) ::mlock(bytes, length);
}

SecretBlock::~SecretBlock() {
  clear();
  if (length) ::munlock(bytes, length);
  delete[] bytes;
}

void SecretBlock::clear() { wipe(bytes, length); }

void SecretBlock::wipe(void* block, size_t size) {
  if (block && size) zeroizeMemory(block, size);
}
