#include "pki/keys/dsapukey.h"

#include "base/commonerror.h"
#include "crypto/asym/lvdsa.h"
#include "crypto/basic/lvexception.h"
#include "crypto/hash/lvhash.h"
#include "pki/common/keymembers.h"

#include <vector>

namespace {
// Largest p and q a key from outside may bring: a bigger p only costs time.
constexpr unsigned int kMaxPBits = 8192;
constexpr unsigned int kMaxQBits = 512;
}  // namespace

DSAPublicKey::DSAPublicKey() : ASNinteger(2) {}

int DSAPublicKey::verifyDigest(const unsigned char* digest, int digestLen, int hashType,
                               const DSAParameters& params, const DSASignature& signature) const {
  unsigned int want = 0;
  try {
    want = LvGenericHash::getGenericHashOctets(static_cast<LvHashAlgo>(hashType));
  } catch (const LvException&) {
    return 3;
  }
  if (digestLen < 0 || static_cast<unsigned int>(digestLen) != want) return 3;
  return verify(digest, digestLen, params, signature);
}

int DSAPublicKey::verify(const unsigned char* digest, int digestLen, const DSAParameters& params,
                         const DSASignature& signature) const {
  checkInvariant(digest != nullptr, "libx509/dsapukey", __LINE__, "digest != NULL");
  unsigned int pBits = keyasn::bitLength(params.p);
  unsigned int qBits = keyasn::bitLength(params.q);
  if (pBits < 2 || pBits > kMaxPBits || qBits < 2 || qBits > kMaxQBits || qBits >= pBits) return 2;
  LvDsaKeyDomain domain;
  LvDsaPublicKey key;
  LvDsaSig sig;
  try {
    if (dsaParametersToKeyDomain(params, domain) != 1) return 2;
    unsigned int ny = 0;
    const unsigned char* y = keyasn::intBytes(*this, &ny);
    if (!y) return 2;
    key.set(y, ny);
    key.setDomain(&domain);
    if (!key.isReady() || !key.isValid()) return 2;
  } catch (const LvMemException&) {
    throwBadAllocation();
  } catch (const LvException&) {
    return 2;
  }
  int len = signature.contentLength();
  if (len < 4) return 1;
  std::vector<unsigned char> rs(static_cast<size_t>(len));
  if (signature.encodeMembers(rs.data(), len) != 1) return 1;
  try {
    sig.setPublicKey(&key);
    return sig.verify(digest, static_cast<unsigned int>(digestLen), rs.data(),
                      static_cast<unsigned int>(len))
               ? 0
               : 1;
  } catch (const LvMemException&) {
    throwBadAllocation();
  } catch (const LvException&) {
    // r or s out of range and the like: the data, not our state
    return 1;
  }
}
