// Shared helpers of the key-structure tests: files of tests/data/pki/keys,
// digests and signature algorithm identifiers.
#pragma once

#include "crypto/hash/lvhash.h"
#include "crypto/rbg/lvrbghashiso18031.h"
#include "pki/common/algid.h"
#include "pki/common/oids.h"
#include "pki/common/rsapssparams.h"
#include "pki/keys/subpubkeyinfo.h"

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace keytest {

using Bytes = std::vector<unsigned char>;

// A generator for signing, seeded the same way in every test program.
inline LvRbg& rbg() {
  static LvRbgHashIso18031 r;
  static bool seeded = false;
  if (!seeded) {
    const LvOctet seed[24] = {'p', 'k', 'i', 'k', 'e', 'y', 's', 1,  2,  3,  4,  5,
                              6,   7,   8,   9,   10,  11,  12,  13, 14, 15, 16, 17};
    r.init(seed, sizeof seed);
    seeded = true;
  }
  return r;
}

inline std::string path(const std::string& name) {
  return std::string(TAL_TEST_DATA_DIR) + "/pki/keys/" + name;
}

inline Bytes readFile(const std::string& name) {
  std::ifstream f(path(name), std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

inline int hashIdOf(const std::string& name) {
  if (name == "sha1" || name == "SHA-1") return 1;
  if (name == "sha224" || name == "SHA-224") return 2;
  if (name == "sha256" || name == "SHA-256") return 3;
  if (name == "sha384" || name == "SHA-384") return 4;
  if (name == "sha512" || name == "SHA-512") return 5;
  return 0;
}

inline Bytes digestOf(int hashId, const Bytes& data) {
  LvGenericHash h(static_cast<LvHashAlgo>(hashId));
  h.init();
  if (!data.empty()) h.step(data.data(), static_cast<unsigned int>(data.size()));
  h.finish();
  Bytes out(h.getHashOctets());
  h.getHash(static_cast<unsigned int>(out.size()), out.data());
  return out;
}

// The signature AlgorithmIdentifier of a kind (v15, pss, pss-mgf1sha1, dsa, ecdsa).
inline AlgorithmIdentifier sigAlgOf(const std::string& kind, int hashId, int salt) {
  AlgorithmIdentifier a;
  if (kind == "v15")
    a.setRsaSignature(hashId);
  else if (kind == "dsa")
    a.setDsaSignature(hashId);
  else if (kind == "ecdsa")
    a.setEcdsaSignature(hashId);
  else {
    RsaPssParams p;
    p.set(hashId, 1, kind == "pss-mgf1sha1" ? 1 : hashId, salt, 1);
    a.set(id_RSASSA_PSS, &p);
  }
  return a;
}

inline int decodeSpki(SubPubKeyInfo& k, const Bytes& der) {
  return k.decodeBuffer(der.data(), static_cast<int>(der.size()), 0);
}

}  // namespace keytest
