// libFuzzer target over recipient lists: the input is read as a run of binary
// recipient descriptors (each decoded, its consumed length checked against
// what was given) and as a text list of addresses.
#include "store/recipients.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  // An exactly sized copy: a read past the given length is caught.
  std::vector<uint8_t> bytes(data, data + size);
  const uint8_t* p = bytes.empty() ? nullptr : bytes.data();
  size_t at = 0;
  for (int i = 0; i < 64 && at < size; ++i) {
    RecipientDescriptor d;
    if (parseRecipientDescriptor(p + at, size - at, d) != RECIP_OK) break;
    if (d.consumed == 0 || d.consumed > size - at) abort();
    at += d.consumed;
  }
  std::vector<std::string> addresses;
  if (splitRecipientAddresses(reinterpret_cast<const char*>(p), size, addresses) == RECIP_OK)
    for (const std::string& a : addresses)
      if (a.empty() || a.size() > MAX_RECIPIENT_ADDRESS) abort();
  return 0;
}
