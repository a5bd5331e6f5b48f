// libFuzzer target over SubjectPublicKeyInfo: decode a key from the input,
// then verify a fixed digest and signature with it under every signature
// scheme (RSA PKCS#1 v1.5 and PSS, DSA, EC-DSA), the key's own algorithm
// identifier included. Verification must answer a code, never fault.
#include "pki/common/algid.h"
#include "pki/common/oids.h"
#include "pki/common/rsapssparams.h"
#include "pki/keys/subpubkeyinfo.h"

#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

namespace {

struct Fixed {
  std::vector<AlgorithmIdentifier> algs;
  unsigned char digest[64];
  std::vector<unsigned char> rsaSig;
  std::vector<unsigned char> dsaSig;
  Fixed() {
    for (int i = 0; i < 64; ++i) digest[i] = static_cast<unsigned char>(i * 7 + 1);
    algs.resize(5);
    algs[0].setRsaSignature(3);
    algs[1].setDsaSignature(1);
    algs[2].setEcdsaSignature(3);
    algs[3].setEcdsaSignature(5);
    RsaPssParams p;
    p.set(3, 1, 3, 32, 1);
    algs[4].set(id_RSASSA_PSS, &p);
    rsaSig.assign(256, 0x5A);
    rsaSig[0] = 0x01;
    // SEQUENCE { INTEGER 1..., INTEGER 2... } of 32-octet values
    dsaSig = {0x30, 0x44, 0x02, 0x20};
    dsaSig.insert(dsaSig.end(), 32, 0x11);
    dsaSig.push_back(0x02);
    dsaSig.push_back(0x20);
    dsaSig.insert(dsaSig.end(), 32, 0x22);
  }
};

void verifyAll(SubPubKeyInfo& k, const Fixed& f, const unsigned char* extra, int extraLen) {
  for (const AlgorithmIdentifier& a : f.algs) {
    int h = 0, len = 0;
    if (!a.getDigestType(&h, &len)) len = 32;
    int r = k.verifyDigest(a, f.digest, len, f.rsaSig.data(), static_cast<int>(f.rsaSig.size()));
    if (r < -4 || r > 1) abort();
    r = k.verifyDigest(a, f.digest, len, f.dsaSig.data(), static_cast<int>(f.dsaSig.size()));
    if (r < -4 || r > 1) abort();
    if (extraLen > 0) {
      r = k.verifyDigest(a, f.digest, len, extra, extraLen);
      if (r < -4 || r > 1) abort();
    }
  }
  // the key's own algorithm as the signature algorithm (RSASSA-PSS keys)
  int r =
      k.verifyDigest(k.algorithm, f.digest, 32, f.rsaSig.data(), static_cast<int>(f.rsaSig.size()));
  if (r < -4 || r > 1) abort();
  k.keyBits();
  unsigned char id[20];
  k.keyIdentifier(id);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Fixed fixed;
  if (size < 2 || size > 1 << 16) return 0;
  try {
    SubPubKeyInfo k;
    int r = k.decodeBuffer(data, static_cast<int>(size), 0);
    if (r < 1) return 0;
    // what follows the key is tried as a signature value too
    const int used = r;
    verifyAll(k, fixed, data + used, static_cast<int>(size) - used);
    SubPubKeyInfo copy(k);
    verifyAll(copy, fixed, nullptr, 0);
    // BER in (long-form lengths), DER out: the output reads back to itself
    std::vector<unsigned char> again, twice;
    const int n = k.encodeVector(again);
    if (n < 1 || n > r) abort();
    SubPubKeyInfo back;
    if (back.decodeVector(again) != n || back.encodeVector(twice) != n || twice != again) abort();
  } catch (const std::bad_alloc&) {
  }
  return 0;
}
