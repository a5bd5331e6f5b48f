// No static initialiser of the library lets an exception out (one would end the process before
// main, where nothing can catch it): in this program every allocation made before main fails.
// Then it opens a context, and an OID made from text while no memory is left is still whole.
#include "talvorin.h"

#include "asn1/asnobjid.h"
#include "xmlsig/xmlmisc.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {
bool failing = true;  // until main starts
}  // namespace

void* testAllocate(std::size_t n) { return failing ? nullptr : std::malloc(n ? n : 1); }

#include "failingnew.h"

int main() {
  failing = false;
  int failed = 0;
  talCtx* ctx = nullptr;
  talProfile* profile = talCreateProfile(TAL_PROFILE_MEMORY);
  if (!profile || talInitEx(&ctx, profile) != 0 || talDeinit(ctx) != 0) ++failed;
  if (!std::strstr(XPOINTER_SIGNATURES, "ds:Signature")) ++failed;
  // rsaEncryption, its DER content from RFC 8017.
  const unsigned char der[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
  failing = true;
  const ASNobjectId reserved("1.2.840.113549.1.1.1");
  failing = false;
  if (reserved.length != sizeof der || std::memcmp(reserved.data(), der, sizeof der) != 0 ||
      !reserved.equalsText("1.2.840.113549.1.1.1"))
    ++failed;
  std::printf("%d passed, %d failed\n", 3 - failed, failed);
  return failed == 0 ? 0 : 1;
}
