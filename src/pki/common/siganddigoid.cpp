#include "pki/common/siganddigoid.h"

#include "base/commonerror.h"
#include "crypto/basic/lvexception.h"
#include "crypto/hash/lvhash.h"
#include "pki/common/oids.h"

#include <cstring>

namespace {

const char* const SRC = "libx509/siganddigoid";

struct DigestRow {
  int hashId;
  const ASNobjectId* oid;
  const char* name;
};

struct SignatureRow {
  const ASNobjectId* oid;
  int hashId;
};

// TeleTrusT identifiers of RIPEMD-160 and of RSA with RIPEMD-160, the ones
// other implementations write. Function-local: built on first use, never
// before the registry.
const ASNobjectId& teleTrustRipemd160() {
  static const ASNobjectId oid("1.3.36.3.2.1");
  return oid;
}

const ASNobjectId& teleTrustRsaRipemd160() {
  static const ASNobjectId oid("1.3.36.3.3.1.2");
  return oid;
}

// Rows hold addresses only, so the tables need no start-up order; the
// first row of a hash id is the one written.
const DigestRow* digestRows(size_t* count) {
  static const DigestRow rows[] = {
      {1, &id_sha1, "SHA-1"},
      {2, &id_sha224, "SHA-224"},
      {3, &id_sha256, "SHA-256"},
      {4, &id_sha384, "SHA-384"},
      {5, &id_sha512, "SHA-512"},
      {7, &id_ripemd160, "RIPEMD-160"},
      {7, &teleTrustRipemd160(), "RIPEMD-160"},
      {8, &id_md5, "MD5"},
  };
  *count = sizeof rows / sizeof rows[0];
  return rows;
}

const SignatureRow* rsaRows(size_t* count) {
  // 1.2.840.113549.1.1.6 is rsaOAEPEncryptionSET, not a signature: it is
  // read as RSA with RIPEMD-160 because stored signatures carry it, but
  // RIPEMD-160 signatures are written with the TeleTrusT identifier.
  static const SignatureRow rows[] = {
      {&md5WithRSAEncryption, 8},    {&sha1WithRSAEncryption, 1},   {&sha1WithRSASignature, 1},
      {&sha224WithRSAEncryption, 2}, {&sha256WithRSAEncryption, 3}, {&sha384WithRSAEncryption, 4},
      {&sha512WithRSAEncryption, 5}, {&teleTrustRsaRipemd160(), 7}, {&rsaOAEPEncryptionSET, 7},
  };
  *count = sizeof rows / sizeof rows[0];
  return rows;
}

const SignatureRow* dsaRows(size_t* count) {
  static const SignatureRow rows[] = {{&id_dsa_with_sha1, 1}, {&oid_1_3_36_8_5_1_2_2, 7}};
  *count = sizeof rows / sizeof rows[0];
  return rows;
}

const SignatureRow* ecdsaRows(size_t* count) {
  static const SignatureRow rows[] = {
      {&ecdsa_with_SHA1, 1},   {&ecdsa_with_SHA224, 2}, {&ecdsa_with_SHA256, 3},
      {&ecdsa_with_SHA384, 4}, {&ecdsa_with_SHA512, 5},
  };
  *count = sizeof rows / sizeof rows[0];
  return rows;
}

// Digest length of a hash id; an id the hash library refuses is an
// invariant failure carrying the library's text.
int digestLength(int hashId) {
  try {
    return static_cast<int>(LvGenericHash::getGenericHashOctets(static_cast<LvHashAlgo>(hashId)));
  } catch (const LvException& e) {
    checkInvariant(false, SRC, __LINE__, "0", e.what());
  }
  return 0;
}

bool signatureToDigest(const SignatureRow* rows, size_t n, const ASNobjectId& oid, int* digestLen,
                       int* hashId) {
  for (size_t i = 0; i < n; ++i) {
    if (*rows[i].oid == oid) {
      if (hashId) *hashId = rows[i].hashId;
      if (digestLen) *digestLen = digestLength(rows[i].hashId);
      return true;
    }
  }
  return false;
}

bool signatureFromDigest(const SignatureRow* rows, size_t n, int hashId, const ASNobjectId** oid,
                         int* digestLen) {
  for (size_t i = 0; i < n; ++i) {
    if (rows[i].hashId == hashId) {
      if (oid) *oid = rows[i].oid;
      if (digestLen) *digestLen = digestLength(hashId);
      return true;
    }
  }
  return false;
}

}  // namespace

const char* digestOidToType(const ASNobjectId& oid, int* digestLen, int* hashId) {
  size_t n;
  const DigestRow* rows = digestRows(&n);
  for (size_t i = 0; i < n; ++i) {
    if (*rows[i].oid == oid) {
      if (digestLen) *digestLen = digestLength(rows[i].hashId);
      if (hashId) *hashId = rows[i].hashId;
      return rows[i].name;
    }
  }
  return nullptr;
}

int digestOidContentToType(const unsigned char* content, int length) {
  if (!content || length < 1) return 0;
  size_t n;
  const DigestRow* rows = digestRows(&n);
  for (size_t i = 0; i < n; ++i) {
    const ASNobjectId& oid = *rows[i].oid;
    if (oid.length == length && std::memcmp(oid.data(), content, size_t(length)) == 0)
      return rows[i].hashId;
  }
  return 0;
}

const char* digestTypeToOid(int hashId, const ASNobjectId** oid, int* digestLen) {
  size_t n;
  const DigestRow* rows = digestRows(&n);
  if (digestLen) *digestLen = digestLength(hashId);
  for (size_t i = 0; i < n; ++i) {
    if (rows[i].hashId == hashId) {
      if (oid) *oid = rows[i].oid;
      return rows[i].name;
    }
  }
  return nullptr;
}

#define TAL_SIG_TABLE(kind)                                                                \
  bool kind##SignatureOidToDigest(const ASNobjectId& oid, int* digestLen, int* hashId) {   \
    size_t n;                                                                              \
    const SignatureRow* rows = kind##Rows(&n);                                             \
    return signatureToDigest(rows, n, oid, digestLen, hashId);                             \
  }                                                                                        \
  bool kind##SignatureOidFromDigest(int hashId, const ASNobjectId** oid, int* digestLen) { \
    size_t n;                                                                              \
    const SignatureRow* rows = kind##Rows(&n);                                             \
    return signatureFromDigest(rows, n, hashId, oid, digestLen);                           \
  }
TAL_SIG_TABLE(rsa)
TAL_SIG_TABLE(dsa)
TAL_SIG_TABLE(ecdsa)
#undef TAL_SIG_TABLE

bool isRsaSignatureOid(const ASNobjectId& oid) {
  return rsaSignatureOidToDigest(oid, nullptr, nullptr);
}
bool isRsaPssOid(const ASNobjectId& oid) { return oid == id_RSASSA_PSS; }
bool isRsaSignatureAlgorithm(const ASNobjectId& oid) {
  return isRsaSignatureOid(oid) || isRsaPssOid(oid);
}
bool isDsaSignatureOid(const ASNobjectId& oid) {
  return dsaSignatureOidToDigest(oid, nullptr, nullptr);
}
bool isEcdsaSignatureOid(const ASNobjectId& oid) {
  return ecdsaSignatureOidToDigest(oid, nullptr, nullptr);
}

bool isRsaKeyOid(const ASNobjectId& oid) {
  return oid == id_ea_rsa || oid == rsaEncryption || oid == id_RSAES_OAEP || oid == id_RSASSA_PSS;
}

SignatureKind signatureOidKind(const ASNobjectId& oid, int* hashId, int* digestLen) {
  int h = 0;
  SignatureKind kind = SIG_KIND_NONE;
  // 1.2.840.113549.1.1.x and 1.2.840.10045.4.3.x: every identifier of the tables under them
  // is one of the cases below
  static const unsigned char pkcs1[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01};
  static const unsigned char ecdsaSha2[] = {0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x04, 0x03};
  const unsigned char* d = oid.length == 9 || oid.length == 8 ? oid.data() : nullptr;
  if (d && oid.length == 9 && std::memcmp(d, pkcs1, sizeof pkcs1) == 0) {
    static const signed char rsaHash[] = {0, 0, 0, 0, 8, 1, 7, 0, 0, 0, -1, 3, 4, 5, 2};
    if (d[8] < sizeof rsaHash) h = rsaHash[d[8]];
    if (h < 0) kind = SIG_KIND_RSA_PSS;
    else if (h > 0) kind = SIG_KIND_RSA;
  } else if (d && oid.length == 8 && std::memcmp(d, ecdsaSha2, sizeof ecdsaSha2) == 0) {
    if (d[7] >= 1 && d[7] <= 4) {
      h = d[7] + 1;
      kind = SIG_KIND_ECDSA;
    }
  } else if (rsaSignatureOidToDigest(oid, nullptr, &h)) {
    kind = SIG_KIND_RSA;
  } else if (isRsaPssOid(oid)) {
    kind = SIG_KIND_RSA_PSS;
  } else if (dsaSignatureOidToDigest(oid, nullptr, &h)) {
    kind = SIG_KIND_DSA;
  } else if (ecdsaSignatureOidToDigest(oid, nullptr, &h)) {
    kind = SIG_KIND_ECDSA;
  }
  if (kind == SIG_KIND_NONE || kind == SIG_KIND_RSA_PSS) h = 0;
  if (hashId) *hashId = h;
  if (digestLen) *digestLen = h ? digestLength(h) : 0;
  return kind;
}
