#include "pki/common/algid.h"

#include "pki/common/oids.h"
#include "pki/common/rsapssparams.h"
#include "pki/common/siganddigoid.h"

#include <vector>

namespace {

const unsigned char kNullDer[] = {0x05, 0x00};

int sumLengths(int a, int b) {
  if (a < 0 || b < 0 || int64_t(a) + b > ASN_MAX_LENGTH) return -1;
  return a + b;
}

}  // namespace

AlgorithmIdentifier::AlgorithmIdentifier(const AlgorithmIdentifier& other)
    : ASNsequenceF(other),
      algorithm(other.algorithm),
      parameters(TAG_ANY),
      parametersPresent(other.parametersPresent) {
  if (parametersPresent) parameters = other.parameters;
}

AlgorithmIdentifier& AlgorithmIdentifier::operator=(const AlgorithmIdentifier& other) {
  if (this == &other) return *this;
  algorithm = other.algorithm;
  parametersPresent = other.parametersPresent;
  if (parametersPresent)
    parameters = other.parameters;
  else
    parameters.clear();
  return *this;
}

bool AlgorithmIdentifier::operator==(const AlgorithmIdentifier& other) const {
  if (!(algorithm == other.algorithm) || parametersPresent != other.parametersPresent) return false;
  return !parametersPresent || parameters.equals(other.parameters);
}

bool AlgorithmIdentifier::set(const ASNobjectId& oid, const ASNobject* params) {
  // Encoded before anything is cleared: params may be this object's own
  // parameters (re-setting a value from itself).
  std::vector<unsigned char> der;
  const bool encoded = params && params->encodeVector(der) > 0;
  algorithm = oid;
  parameters.clear();
  parametersPresent = 0;
  if (!params) return true;
  if (!encoded) return false;
  if (parameters.decodeVector(der) != static_cast<int>(der.size())) return false;
  parametersPresent = 1;
  return true;
}

bool AlgorithmIdentifier::setNullParameters() {
  parameters.clear();
  parametersPresent = 0;
  if (parameters.decodeBuffer(kNullDer, sizeof kNullDer) != static_cast<int>(sizeof kNullDer))
    return false;
  parametersPresent = 1;
  return true;
}

bool AlgorithmIdentifier::setDigest(int hashId) {
  const ASNobjectId* oid = nullptr;
  if (!digestTypeToOid(hashId, &oid, nullptr) || !oid) return false;
  algorithm = *oid;
  return setNullParameters();
}

bool AlgorithmIdentifier::setRsaSignature(int hashId) {
  const ASNobjectId* oid = nullptr;
  if (!rsaSignatureOidFromDigest(hashId, &oid, nullptr)) return false;
  algorithm = *oid;
  return setNullParameters();
}

bool AlgorithmIdentifier::setRsaEncryption() {
  algorithm = rsaEncryption;
  return setNullParameters();
}

bool AlgorithmIdentifier::setDsaSignature(int hashId) {
  const ASNobjectId* oid = nullptr;
  if (!dsaSignatureOidFromDigest(hashId, &oid, nullptr)) return false;
  return set(*oid, nullptr);
}

bool AlgorithmIdentifier::setEcdsaSignature(int hashId) {
  const ASNobjectId* oid = nullptr;
  if (!ecdsaSignatureOidFromDigest(hashId, &oid, nullptr)) return false;
  return set(*oid, nullptr);
}

bool AlgorithmIdentifier::setDsaKey(const ASNobject* params) {
  if (params) return set(id_dsa, params);
  algorithm = id_dsa;
  return setNullParameters();
}

bool AlgorithmIdentifier::setEcKey(const ASNobject* params) {
  if (params) return set(id_ecPublicKey, params);
  algorithm = id_ecPublicKey;
  return setNullParameters();
}

bool AlgorithmIdentifier::getDigestType(int* hashId, int* digestLen) const {
  if (rsaSignatureOidToDigest(algorithm, digestLen, hashId) ||
      dsaSignatureOidToDigest(algorithm, digestLen, hashId) ||
      ecdsaSignatureOidToDigest(algorithm, digestLen, hashId))
    return true;
  // Only the hash is wanted: the other values are taken whatever they are.
  int hash = 0, salt = 0, mgf = 0, mgfHash = 0, trailer = 0;
  if (!getRsaPssParams(&hash, &salt, &mgf, &mgfHash, &trailer, nullptr)) return false;
  if (hashId) *hashId = hash;
  if (digestLen) digestTypeToOid(hash, nullptr, digestLen);
  return true;
}

bool AlgorithmIdentifier::getRsaPssParams(int* hash, int* saltLength, int* mgf, int* mgfHash,
                                          int* trailerField, bool* present) const {
  if (!isRsaPssOid(algorithm)) return false;
  if (present)
    *present = parametersPresent != 0;
  else if (!parametersPresent)
    return false;
  int h = 1, salt = 20, m = 0, mh = 1, trailer = 1;
  if (parametersPresent) {
    // The parameters are a SEQUENCE; any other tag, context tags
    // included, is refused before decoding.
    if (parameters.tag != 0x30) return false;
    if (RsaPssParams::readUsual(parameters.content(), parameters.length, &h, &mh, &salt,
                                &trailer)) {
      // without the caller asking for it, only MGF1 with SHA-1 is answered
      m = mgfHash || mh == 1 ? 0 : -1;
    } else {
      RsaPssParams params;
      if (params.assignFromAny(parameters) != 1) return false;
      h = params.getDigestType();
      m = params.getMgf(mgfHash ? &mh : nullptr);
      salt = params.getSaltLength();
      trailer = params.getTrailerField();
    }
  }
  if (h == 0 || m < 0 || salt < 0 || trailer < 0) return false;
  if ((!mgf && m != 0) || (!saltLength && salt != 20) || (!trailerField && trailer != 1))
    return false;
  if (hash) *hash = h;
  if (saltLength) *saltLength = salt;
  if (mgf) *mgf = m;
  if (mgfHash) *mgfHash = mh;
  if (trailerField) *trailerField = trailer;
  return true;
}

void AlgorithmIdentifier::releaseViews() {
  dropOwnView();
  releaseViewsOf({&algorithm, &parameters});
}

void AlgorithmIdentifier::clear() {
  releaseViews();
  parametersPresent = 0;
  algorithm.clear();
  parameters.clear();
}

int AlgorithmIdentifier::decodeContent(GenericFile* in, int length) {
  parametersPresent = 0;
  parameters.clear();
  if (length < 2) return 0;
  int r = algorithm.decode(in, length, memberFlags());
  if (r < 1) return r;
  if (r >= length) return r == length ? 1 : 0;
  int p = parameters.decode(in, length - r, memberFlags());
  if (p < 1) return p;
  parametersPresent = 1;
  return int64_t(r) + p == length ? 1 : 0;
}

int AlgorithmIdentifier::encodeContent(GenericFile* out) const {
  int r = algorithm.encode(out);
  if (r < 1) return r;
  if (parametersPresent) {
    r = parameters.encode(out);
    if (r < 1) return r;
  }
  return 1;
}

int AlgorithmIdentifier::contentLength() const {
  int n = algorithm.encodedLength();
  return parametersPresent ? sumLengths(n, parameters.encodedLength()) : n;
}

void AlgorithmIdentifier::digestContent(LvHash* hash) const {
  algorithm.updateDigest(hash);
  if (parametersPresent) parameters.updateDigest(hash);
}

// ---------------------------------------------------------------------------

DigestInfo::DigestInfo(unsigned char t) : ASNsequenceF(t), digestAlgorithm(), digest() {}

DigestInfo::~DigestInfo() = default;

void DigestInfo::releaseViews() {
  dropOwnView();
  releaseViewsOf({&digestAlgorithm, &digest});
}

void DigestInfo::clear() {
  releaseViews();
  digestAlgorithm.clear();
  digest.clear();
}

int DigestInfo::decodeContent(GenericFile* in, int length) {
  if (length < 4) return 0;
  int r = digestAlgorithm.decode(in, length, memberFlags());
  if (r < 1) return r;
  if (r >= length) return 0;
  int d = digest.decode(in, length - r, memberFlags());
  if (d < 1) return d;
  return int64_t(r) + d == length ? 1 : 0;
}

int DigestInfo::encodeContent(GenericFile* out) const {
  int r = digestAlgorithm.encode(out);
  if (r < 1) return r;
  r = digest.encode(out);
  return r < 1 ? r : 1;
}

int DigestInfo::contentLength() const {
  return sumLengths(digestAlgorithm.encodedLength(), digest.encodedLength());
}

void DigestInfo::digestContent(LvHash* hash) const {
  digestAlgorithm.updateDigest(hash);
  digest.updateDigest(hash);
}
