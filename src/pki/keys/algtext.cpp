#include "pki/keys/algtext.h"

#include "pki/keys/dhparams.h"
#include "pki/keys/ecparams.h"
#include "pki/common/oids.h"
#include "pki/common/rsapssparams.h"
#include "pki/common/siganddigoid.h"

#include <cstdio>
#include <cstring>

namespace {

const AlgorithmTableRow kAlgorithms[] = {
    {0, 1, "sha1withRSAEncryption", "SHA-1 RSA"},
    {0, 2, "sha224withRSAEncryption", "SHA-224 RSA"},
    {0, 3, "sha256withRSAEncryption", "SHA-256 RSA"},
    {0, 4, "sha384withRSAEncryption", "SHA-384 RSA"},
    {0, 5, "sha512withRSAEncryption", "SHA-512 RSA"},
    {0, 8, "md5withRSAEncryption", "MD5 RSA"},
    {0, 7, "ripemd160withRSAEncryption", "RIPEMD-160 RSA"},
    {3, 1, "rsaPSS, SHA-1", "SHA-1 RSA-PSS"},
    {3, 2, "rsaPSS, SHA-224", "SHA-224 RSA-PSS"},
    {3, 3, "rsaPSS, SHA-256", "SHA-256 RSA-PSS"},
    {3, 4, "rsaPSS, SHA-384", "SHA-384 RSA-PSS"},
    {3, 5, "rsaPSS, SHA-512", "SHA-512 RSA-PSS"},
    {1, 1, "dsaWithSha1", "SHA-1 DSA"},
    {1, 7, "dsaWithRipemd160", "RIPEMD-160 DSA"},
    {2, 1, "ecdsaWithSHA1", "SHA-1 ECDSA"},
    {2, 2, "ecdsaWithSHA224", "SHA-224 ECDSA"},
    {2, 3, "ecdsaWithSHA256", "SHA-256 ECDSA"},
    {2, 4, "ecdsaWithSHA384", "SHA-384 ECDSA"},
    {2, 5, "ecdsaWithSHA512", "SHA-512 ECDSA"},
    {-1, 1, "sha1", "SHA-1"},
    {-1, 2, "sha224", "SHA-224"},
    {-1, 3, "sha256", "SHA-256"},
    {-1, 4, "sha384", "SHA-384"},
    {-1, 5, "sha512", "SHA-512"},
    {-1, 8, "md5", "MD5"},
    {-1, 6, "ripemd128", "RIPEMD-128"},
    {-1, 7, "ripemd160", "RIPEMD-160"},
    {0, 0, "rsaEncryption", "RSA"},
    {3, 0, "rsaPSS", "RSA-PSS"},
    {1, 0, "dsa", "DSA"},
    {2, 0, "ecdsa", "ECDSA"},
};

// KDF2 of ISO/IEC 18033-2 (id-kdf-kdf2), a mask function some RSA-PSS
// parameters name. Function-local: built on first use.
const ASNobjectId& kdf2Oid() {
  static const ASNobjectId oid("1.0.18033.2.5.2");
  return oid;
}

bool dottedText(const ASNobjectId& oid, std::string& out) {
  std::string text;
  if (oid.length <= 0 || !oid.toString(text)) return false;
  out += text;
  return true;
}

char* newText(const std::string& text) {
  char* result = new char[text.size() + 1];
  std::memcpy(result, text.c_str(), text.size() + 1);
  return result;
}

// A digest's display name, else the OID (when there is one) in dotted text,
// else "<unknown hash>".
std::string digestText(int hash, const ASNobjectId* oid) {
  if (hash != 0) {
    if (const char* name = algorithmTableLookupByKey2(static_cast<uint32_t>(hash))) return name;
  }
  std::string text;
  if (oid && dottedText(*oid, text)) return text;
  return "<unknown hash>";
}

// The RSA-PSS text of an identifier with RSASSA-PSS parameters (a signature
// algorithm or a key's). Parameters that do not decode say no more than
// absent ones.
std::string rsaPssText(const AlgorithmIdentifier& alg) {
  const char* const pss = algorithmTableLookupByKey1(SCHEME_RSA_PSS);
  RsaPssParams params;
  if (!alg.parametersPresent || alg.parameters.tag != 0x30 ||
      params.assignFromAny(alg.parameters) != 1)
    return pss;
  const int salt = params.getSaltLength();
  if (salt < 0) return pss;
  const int hash = params.getDigestType();
  const std::string hashName =
      digestText(hash, params.hashAlgorithmPresent ? &params.hashAlgorithm->algorithm : nullptr);

  std::string mask = "MGF1", maskHash;
  bool mgf1WithMessageDigest = false;
  if (!params.maskGenAlgorithmPresent) {
    // the default: MGF1 with SHA-1
    maskHash = digestText(1, nullptr);
    mgf1WithMessageDigest = hash == 1;
  } else {
    const AlgorithmIdentifier& mgf = params.maskGenAlgorithm.get();
    if (mgf.algorithm == id_mgf1) {
      AlgorithmIdentifier inner;
      int maskHashId = 0;
      bool decoded = mgf.parametersPresent && mgf.parameters.tag == 0x30 &&
                     inner.assignFromAny(mgf.parameters) == 1;
      if (decoded) digestOidToType(inner.algorithm, nullptr, &maskHashId);
      maskHash = digestText(maskHashId, decoded ? &inner.algorithm : nullptr);
      mgf1WithMessageDigest = maskHashId != 0 && maskHashId == hash;
    } else if (mgf.algorithm == kdf2Oid()) {
      mask = "KDF2";
    } else {
      mask.clear();
      if (!dottedText(mgf.algorithm, mask)) mask = "<unknown mgf>";
    }
  }
  int digestLen = -1;
  if (hash != 0) digestTypeToOid(hash, nullptr, &digestLen);
  if (mgf1WithMessageDigest && salt == digestLen) return hashName + " " + pss;
  char saltText[16];
  std::snprintf(saltText, sizeof saltText, "%u", static_cast<unsigned>(salt));
  return hashName + " " + pss + " (mgf: " + mask + " " + maskHash + ", saltLen: " + saltText + ")";
}

// The display name of a curve by its parameters, or its OID in dotted text;
// empty when neither is known.
std::string curveText(const ECDomainParameters& params) {
  std::string text;
  const LvNamedCurve* curve = nullptr;
  switch (params.kind()) {
    case ECDomainParameters::KIND_NAMED:
      curve = findNamedCurve(params.namedCurve);
      if (!curve) dottedText(params.namedCurve, text);
      break;
    case ECDomainParameters::KIND_SPECIFIED:
      curve = findNamedCurveBySpecifiedDomain(params.specifiedCurve, false);
      break;
    default:
      break;
  }
  if (curve) text = curve->displayName;
  return text;
}

// The key's acceptance of RSA-PSS parameters: a key carrying parameters
// takes the same hashes and trailer and a salt at least as long (RFC 4055).
bool rsaPssKeyAccepts(const AlgorithmIdentifier& keyAlg, int hash, int mgfHash, int salt) {
  if (!keyAlg.parametersPresent) return true;
  int h = 0, s = 0, m = 0, mh = 0, t = 0;
  if (!keyAlg.getRsaPssParams(&h, &s, &m, &mh, &t, nullptr)) return false;
  return h == hash && m == 0 && mh == mgfHash && t == 1 && salt >= s;
}

}  // namespace

const AlgorithmTableRow* algorithmTable(size_t* count) {
  if (count) *count = sizeof kAlgorithms / sizeof kAlgorithms[0];
  return kAlgorithms;
}

const char* algorithmTableLookup(int32_t scheme, uint32_t hash) {
  for (const AlgorithmTableRow& row : kAlgorithms)
    if (row.scheme == scheme && row.hash == hash) return row.displayName;
  return nullptr;
}

const char* algorithmTableLookupByKey1(int32_t scheme) { return algorithmTableLookup(scheme, 0); }

const char* algorithmTableLookupByKey2(uint32_t hash) {
  return algorithmTableLookup(SCHEME_DIGEST, hash);
}

bool algorithmTableContains(int32_t scheme, uint32_t hash) {
  return scheme != SCHEME_DIGEST && hash != 0 && algorithmTableLookup(scheme, hash) != nullptr;
}

int32_t signatureSchemeOf(const AlgorithmIdentifier& alg, int* hash) {
  const ASNobjectId& oid = alg.algorithm;
  int h = 0;
  int32_t scheme = -1;
  if (isRsaPssOid(oid)) {
    scheme = SCHEME_RSA_PSS;
    RsaPssParams params;
    if (alg.parametersPresent && alg.parameters.tag == 0x30 &&
        params.assignFromAny(alg.parameters) == 1)
      h = params.getDigestType();
  } else if (rsaSignatureOidToDigest(oid, nullptr, &h) || keyAlgorithmKind(oid) == KEYALG_RSA) {
    scheme = SCHEME_RSA;
  } else if (dsaSignatureOidToDigest(oid, nullptr, &h) || keyAlgorithmKind(oid) == KEYALG_DSA) {
    scheme = SCHEME_DSA;
  } else if (ecdsaSignatureOidToDigest(oid, nullptr, &h) || keyAlgorithmKind(oid) == KEYALG_EC) {
    scheme = SCHEME_ECDSA;
  } else {
    digestOidToType(oid, nullptr, &h);
  }
  if (hash) *hash = h;
  return scheme;
}

bool keySupportsSignatureScheme(const SubPubKeyInfo& key, int32_t scheme, int hash) {
  const int kind = keyAlgorithmKind(key.algorithm.algorithm);
  switch (scheme) {
    case SCHEME_RSA:
      return kind == KEYALG_RSA;
    case SCHEME_DSA:
      return kind == KEYALG_DSA;
    case SCHEME_ECDSA:
      // id-ecDH and id-ecMQV keys serve key agreement only (RFC 5480)
      return kind == KEYALG_EC;
    case SCHEME_RSA_PSS: {
      int digestLen = 0;
      if ((kind != KEYALG_RSA && kind != KEYALG_RSA_PSS) ||
          !digestTypeToOid(hash, nullptr, &digestLen))
        return false;
      return kind == KEYALG_RSA || rsaPssKeyAccepts(key.algorithm, hash, hash, digestLen);
    }
    default:
      return false;
  }
}

namespace {

bool appendName(const ASNobjectId& oid, int32_t scheme, int h, bool known, int* hash,
                std::string* out) {
  const char* name = known ? algorithmTableLookup(scheme, static_cast<uint32_t>(h)) : nullptr;
  if (!name) name = oidName(oid);
  if (!name) return false;
  if (hash) *hash = known ? h : 0;
  if (out) *out += name;
  return true;
}

}  // namespace

bool hashAlgorithmName(const ASNobjectId& oid, int* hash, std::string* out) {
  int h = 0;
  bool known = digestOidToType(oid, nullptr, &h) != nullptr;
  return appendName(oid, SCHEME_DIGEST, h, known, hash, out);
}

bool signatureAlgorithmName(const ASNobjectId& oid, int* hash, std::string* out) {
  int h = 0;
  int32_t scheme = -1;
  if (isRsaPssOid(oid))
    scheme = SCHEME_RSA_PSS;
  else if (rsaSignatureOidToDigest(oid, nullptr, &h))
    scheme = SCHEME_RSA;
  else if (dsaSignatureOidToDigest(oid, nullptr, &h))
    scheme = SCHEME_DSA;
  else if (ecdsaSignatureOidToDigest(oid, nullptr, &h))
    scheme = SCHEME_ECDSA;
  return appendName(oid, scheme, h, scheme != -1, hash, out);
}

bool appendAlgorithmDescription(std::string& out, const AlgorithmIdentifier& alg, bool detailed) {
  int hash = 0;
  const int32_t scheme = signatureSchemeOf(alg, &hash);
  if (detailed && scheme == SCHEME_RSA_PSS) {
    out += rsaPssText(alg);
    return true;
  }
  if (const char* name = algorithmTableLookup(scheme, static_cast<uint32_t>(hash))) {
    out += name;
    return true;
  }
  return dottedText(alg.algorithm, out);
}

char* algorithmDescription(const AlgorithmIdentifier& alg, bool detailed) {
  std::string text;
  return appendAlgorithmDescription(text, alg, detailed) ? newText(text) : nullptr;
}

char* keyAlgorithmDescription(const SubPubKeyInfo& key, bool detailed) {
  const AlgorithmIdentifier& alg = key.algorithm;
  std::string text;
  switch (keyAlgorithmKind(alg.algorithm)) {
    case KEYALG_RSA_PSS:
      text = detailed ? rsaPssText(alg) : algorithmTableLookupByKey1(SCHEME_RSA_PSS);
      break;
    case KEYALG_RSA:
      text = algorithmTableLookupByKey1(SCHEME_RSA);
      break;
    case KEYALG_DSA:
      text = algorithmTableLookupByKey1(SCHEME_DSA);
      break;
    default:
      if (key.isEcKey()) {
        text = algorithmTableLookupByKey1(SCHEME_ECDSA);
        const std::string curve = detailed ? curveText(key.ecParameters()) : std::string();
        if (!curve.empty()) text += ", " + curve;
      } else if (!dottedText(alg.algorithm, text)) {
        return nullptr;
      }
  }
  return newText(text);
}

bool cipherName(const ASNobjectId& oid, int* blockSize, int* cipherId, bool* flag,
                std::string* name, int* keyLength) {
  // cipher id 0: none in the cipher library; key length 0: in the parameters
  struct Row {
    const ASNobjectId* oid;
    const char* name;
    int blockSize, cipherId, keyLength;
    bool own;
  };
  static const Row rows[] = {
      {&desCBC, "DES", 8, 3, 8, false},
      {&des_ede3_cbc, "DES-EDE", 8, 4, 24, false},
      {&id_aes128_CBC, "AES-128", 16, 1, 16, false},
      {&id_aes192_CBC, "AES-192", 16, 1, 24, false},
      {&id_aes256_CBC, "AES-256", 16, 1, 32, false},
      {&oid_1_2_840_113549_3_40, "DES-EEE", 8, 5, 24, false},
      {&oid_1_2_840_113549_3_41, "DES-XEEEX", 8, 6, 40, false},
      {&rc2_cbc, "RC2", 8, 7, 0, false},
      {&privateOid_4_4, "DES-EDE", 8, 4, 24, true},
      {&privateOid_4_1, "DES-EEE", 8, 5, 24, true},
      {&privateOid_4_2, "DES-XEEEX", 8, 6, 40, true},
      {&privateOid_4_3, "TAL-VORIN", 8, 0, 32, true},
  };
  for (const Row& row : rows) {
    if (*row.oid != oid) continue;
    if (blockSize) *blockSize = row.blockSize;
    if (flag) *flag = row.own;
    if (name) *name = row.name;
    if (cipherId && row.cipherId) *cipherId = row.cipherId;
    if (keyLength && row.keyLength) *keyLength = row.keyLength;
    return !(cipherId && !row.cipherId) && !(keyLength && !row.keyLength);
  }
  return false;
}
