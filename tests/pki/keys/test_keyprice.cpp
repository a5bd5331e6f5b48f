// What one signature check with a stranger's key costs, and the exponent cap
// that trusted verifiers share: keys made of crafted numbers (no key is needed
// to make a document carry them), checked against a signature of garbage.
#include "pki/keys/subpubkeyinfo.h"

#include "base/workaccount.h"
#include "derbytes.h"
#include "pki/common/oids.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace {

using Bytes = derbytes::Bytes;

Bytes der(unsigned char tag, const Bytes& content) { return derbytes::tlv(tag, content); }
using derbytes::cat;

// A positive INTEGER of `bits` bits, odd, its top bit set (a pattern, not a prime).
Bytes number(unsigned bits) {
  Bytes v((bits + 7) / 8, 0x5A);
  const unsigned top = (bits - 1) % 8;
  v[0] = static_cast<unsigned char>((0x5A & ((1u << top) - 1)) | (1u << top));
  v.back() |= 1;
  if (v[0] & 0x80) v.insert(v.begin(), 0);  // the sign octet
  return der(0x02, v);
}

// SubjectPublicKeyInfo of rsaEncryption over (n, e).
SubPubKeyInfo rsaKey(unsigned modulusBits, unsigned exponentBits) {
  const Bytes algorithm =
      der(0x30, cat({der(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01}), {0x05, 0x00}}));
  const Bytes key = der(0x30, cat({number(modulusBits), number(exponentBits)}));
  const Bytes spki = der(0x30, cat({algorithm, der(0x03, cat({Bytes{0}, key}))}));
  SubPubKeyInfo k;
  EXPECT_EQ(static_cast<int>(spki.size()), k.decodeVector(spki));
  return k;
}

AlgorithmIdentifier sha256WithRsa() {
  AlgorithmIdentifier a;
  a.algorithm = sha256WithRSAEncryption;
  return a;
}

// The cap: an exponent over 64 bits is refused for moduli over 3,072 bits,
// before any power (and so before any price past the fixed part); below it,
// the price grows with the exponent's bits and the square of the modulus's.
TEST(KeyPrice, RsaPricesAndTheExponentCap) {
  const struct {
    unsigned modulus, exponent;
    int answer;  // of a garbage signature of the modulus's length
  } rows[] = {
      {2048, 17, SubPubKeyInfo::SIG_INVALID},   {2048, 256, SubPubKeyInfo::SIG_INVALID},
      {3072, 256, SubPubKeyInfo::SIG_INVALID},  {3080, 64, SubPubKeyInfo::SIG_INVALID},
      {3080, 65, SubPubKeyInfo::SIG_KEY_UNUSABLE}, {16384, 256, SubPubKeyInfo::SIG_KEY_UNUSABLE},
      {16384, 64, SubPubKeyInfo::SIG_INVALID},
  };
  const unsigned char digest[32] = {1};
  uint64_t fixed = rsaKey(16384, 256).verificationPrice();
  for (const auto& r : rows) {
    SubPubKeyInfo k = rsaKey(r.modulus, r.exponent);
    const uint64_t price = k.verificationPrice();
    const Bytes signature((r.modulus + 7) / 8, 0x33);
    WorkAccount account(UINT64_MAX, std::chrono::hours(24));
    {
      WorkAccountScope scope(&account);
      EXPECT_EQ(r.answer, k.verifyDigest(sha256WithRsa(), digest, 32, signature.data(),
                                         static_cast<int>(signature.size())))
          << r.modulus << "/" << r.exponent;
    }
    EXPECT_EQ(account.spentUnits(), price) << r.modulus << "/" << r.exponent;
    if (r.answer == SubPubKeyInfo::SIG_KEY_UNUSABLE) {
      EXPECT_EQ(price, fixed) << r.modulus << "/" << r.exponent;
    } else {
      // Two products per exponent bit, each some 32 instructions (4 units)
      // per pair of the modulus's 64-bit words, over the fixed part.
      const uint64_t words = (r.modulus + 63) / 64;
      EXPECT_EQ(price - fixed, 8ull * r.exponent * words * words) << r.modulus << "/" << r.exponent;
    }
  }
  EXPECT_GT(rsaKey(16384, 64).verificationPrice(), 100 * rsaKey(2048, 17).verificationPrice());
}

// A check the account cannot pay does not run, and answers no verdict of the
// signature; every later one is refused too.
TEST(KeyPrice, AnAccountThatCannotPayRefusesTheCheck) {
  SubPubKeyInfo k = rsaKey(4096, 17);
  const unsigned char digest[32] = {1};
  const Bytes signature(512, 0x33);
  WorkAccount account(k.verificationPrice() + k.verificationPrice() / 2, std::chrono::hours(24));
  WorkAccountScope scope(&account);
  EXPECT_EQ(SubPubKeyInfo::SIG_INVALID,
            k.verifyDigest(sha256WithRsa(), digest, 32, signature.data(), 512));
  EXPECT_EQ(SubPubKeyInfo::SIG_UNSUPPORTED,
            k.verifyDigest(sha256WithRsa(), digest, 32, signature.data(), 512));
  EXPECT_TRUE(account.over());
  EXPECT_EQ(account.spentUnits(), k.verificationPrice());
}

}  // namespace
