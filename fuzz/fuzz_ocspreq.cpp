// libFuzzer target over OCSP requests and the CA message-service frames:
// decode (private and in place) and re-encode. A decoded value must
// re-encode to exactly the octets it took, except where members may arrive
// out of schema order (TBSRequest), which must still decode again to the
// same encoding.
#include "pki/ocspreq.h"
#include "pki/vessikreq.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

std::vector<unsigned char> encodeOf(const ASNobject& o) {
  std::vector<unsigned char> out;
  int r = o.encodeVector(out);
  if (r < 1 || r != o.encodedLength()) abort();
  return out;
}

template <class T>
void exact(const uint8_t* data, int n) {
  for (unsigned char flags : {0, 1}) {
    T v;
    int r = v.decodeBuffer(data, n, flags);
    if (r < -2) abort();
    if (r <= 0) continue;
    std::vector<unsigned char> out = encodeOf(v);
    if (static_cast<int>(out.size()) != r) abort();
    for (int i = 0; i < r; ++i)
      if (out[i] != data[i]) abort();
  }
}

// Out-of-order members are written back in schema order: the result must
// read back and be stable.
template <class T>
void stable(const uint8_t* data, int n) {
  T v;
  int r = v.decodeBuffer(data, n, 0);
  if (r < -2) abort();
  if (r <= 0) return;
  std::vector<unsigned char> out = encodeOf(v);
  T again;
  if (again.decodeVector(out) != static_cast<int>(out.size())) abort();
  if (encodeOf(again) != out) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 1 << 16) return 0;
  const int n = static_cast<int>(size) - 1;
  const uint8_t* p = data + 1;
  switch (data[0] % 4) {
    case 0:
      stable<OCSPRequest>(p, n);
      break;
    case 1:
      exact<ASNVessikRequestFrame>(p, n);
      break;
    case 2:
      exact<ASNCrlRequest>(p, n);
      exact<ASNCertificateRequest>(p, n);
      break;
    default:
      exact<ASNCertificateID>(p, n);
      exact<Request>(p, n);
      break;
  }
  return 0;
}
