// libFuzzer target over the certificate bundle a certificate server offers (the background
// refresh's fetch): DER values one after another, split and decoded. Every certificate handed
// out writes back as octets of the input, in input order.
#include "net/netmanager.h"
#include "pki/x509/cert.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  CertList out;
  splitCertificateBundle(data, size, out);
  size_t at = 0;
  for (const auto& certificate : out) {
    std::vector<uint8_t> der;
    if (certificate->encodeVector(der) < 1) std::abort();
    // Each one lies further on in the input.
    const uint8_t* found = nullptr;
    for (size_t i = at; i + der.size() <= size; ++i)
      if (std::memcmp(data + i, der.data(), der.size()) == 0) {
        found = data + i;
        break;
      }
    if (!found) std::abort();
    at = static_cast<size_t>(found - data) + der.size();
  }
  return 0;
}
