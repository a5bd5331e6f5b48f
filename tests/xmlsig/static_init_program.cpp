// The XML layer's static initialisers allocate nothing from the free store: in this program every
// allocation made before main fails, so one that did would end the process before main (an
// exception out of a static initialiser cannot be caught).
#include "xmlsig/xmlmisc.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {
bool inMain = false;
}  // namespace

void* testAllocate(std::size_t n) { return inMain ? std::malloc(n ? n : 1) : nullptr; }

#include "failingnew.h"

int main() {
  inMain = true;
  const bool named = std::strstr(XPOINTER_SIGNATURES, "ds:Signature") != nullptr &&
                     std::strstr(XPOINTER_ENCRYPTED_DATA, "xenc:EncryptedData") != nullptr;
  std::printf("%s\n", named ? "1 passed, 0 failed" : "0 passed, 1 failed");
  return named ? 0 : 1;
}
