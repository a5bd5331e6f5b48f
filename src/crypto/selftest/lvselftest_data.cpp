// The built-in vector texts and expected digests.
#include "crypto/selftest/lvselftest.h"

namespace lvselftest {
namespace {
#include "crypto/selftest/lvselftest_vectors.inc"
}  // namespace

const Data& builtin() {
  static const Data data = {
      {kRipemd160Digests, kSha1Digests, kSha224Digests, kSha256Digests, kSha384Digests,
       kSha512Digests},
      {"aes.vec", kAesVec, kAesVecLength},
      {"rijndael192.vec", kRijndael192Vec, kRijndael192VecLength},
      {"rijndael256.vec", kRijndael256Vec, kRijndael256VecLength},
      {"desede.vec", kDesedeVec, kDesedeVecLength},
      {"deseee.vec", kDeseeeVec, kDeseeeVecLength},
      {"desxeeex.vec", kDesxeeexVec, kDesxeeexVecLength},
      {"rsaSigPkcsV15TV", kRsaSigText, kRsaSigTextLength},
      {"rsaCipherPkcsV15TV", kRsaCipherText, kRsaCipherTextLength},
      {"dsaSigTV", kDsaSigText, kDsaSigTextLength},
      {"dsaSigVerifyTV", kDsaVerifyText, kDsaVerifyTextLength},
      {"epDsaSigTV", kEpDsaSigText, kEpDsaSigTextLength},
      {"epDsaSigVerifyTV", kEpDsaVerifyText, kEpDsaVerifyTextLength}};
  return data;
}

}  // namespace lvselftest
