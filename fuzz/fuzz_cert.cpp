// libFuzzer target over certificate decoding (DER and the text armour): decode as a
// private value and in place, re-encode, copy both, and verify the signature
// with the value's own key (certificates) and a fixed P-256 key. Every step
// must answer a code, never fault; a copy of a value read in place must hash
// as the original.
#include "base/memfile.h"
#include "base/reportstream.h"
#include "pki/names/dnprint.h"
#include "pki/x509/cert.h"

#include "fuzzreuse.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const unsigned char kFixedKey[] = {
    0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a,
    0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04, 0xf1, 0xd5, 0xa7, 0x9b, 0x2d,
    0x0e, 0xdf, 0xe4, 0x39, 0xb4, 0x75, 0xa9, 0x6e, 0x2d, 0x0c, 0x00, 0xe7, 0xa4, 0x75, 0x0e, 0xa1,
    0x7e, 0x01, 0x0b, 0x78, 0x4b, 0xee, 0x19, 0x51, 0xa2, 0x2e, 0xb8, 0xd1, 0x85, 0x20, 0xc2, 0x34,
    0xc5, 0x2e, 0x8a, 0x30, 0xd7, 0x65, 0xb5, 0x1b, 0xc3, 0xcc, 0x17, 0xdf, 0xcf, 0xf9, 0xd3, 0x90,
    0xea, 0x2f, 0x52, 0x3d, 0xdb, 0x33, 0x26, 0x62, 0x63, 0x76, 0xb8};

SubPubKeyInfo& fixedKey() {
  static SubPubKeyInfo* k = [] {
    auto* key = new SubPubKeyInfo();
    if (key->decodeBuffer(kFixedKey, static_cast<int>(sizeof kFixedKey)) < 1) std::abort();
    return key;
  }();
  return *k;
}

void exercise(SignedCertificate& v, const SubPubKeyInfo& key) {
  std::vector<unsigned char> out;
  v.encodeVector(out);
  (void)v.encodedLength();
  unsigned char d[32];
  v.digest(3, d, sizeof d);
  SignedCertificate copy(v);
  if (v.isConstView()) {
    unsigned char e[32];
    copy.digest(3, e, sizeof e);
    if (std::memcmp(d, e, sizeof d) != 0) std::abort();
  }
  (void)v.verifySelfSigned();
  (void)copy.verifyWithKey(key);
  // a shared holder's own body to change: decoded privately from the octets
  SharedCertificate held;
  held = v;
  const SharedCertificate other = held;
  (void)held.edit().verifySelfSigned();
  (void)v.isCa();
  (void)v.fixesRsaPssParameters();
  (void)(copy == v);
  MemFile text;
  ReportStream report(&text, DN_TEXT_SHORT_LABELS);
  report.writeCertificate(v);
  report.writeCertificate(copy);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20) return 0;
  for (unsigned char flags : {0, 1}) {
    SignedCertificate v;
    // In place the value keeps a view of this buffer while it lives.
    std::vector<unsigned char> input(data, data + size);
    MemFile m(input.data(), static_cast<int32_t>(input.size()), false);
    if (v.decode(&m, static_cast<int>(input.size()), flags) > 0) exercise(v, fixedKey());
  }
  SignedCertificate fresh;
  const int n = static_cast<int>(size);
  reuse<SignedCertificate>(data, n, fresh.decodeBuffer(data, n, 0));
  return 0;
}
