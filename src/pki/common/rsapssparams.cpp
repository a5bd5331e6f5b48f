#include "pki/common/rsapssparams.h"

#include "asn1/asnany.h"
#include "pki/common/oids.h"
#include "pki/common/pkiasn.h"
#include "pki/common/siganddigoid.h"

#include <climits>
#include <cstring>

namespace {

// An INTEGER as a non-negative int: -1 when negative or too large.
int nonNegative(const ASNinteger& v) {
  const unsigned char* d = v.data();
  if (v.length < 1 || !d || (d[0] & 0x80)) return -1;
  uint32_t n = 0;
  if (!asnSmallValue(v, &n)) return -1;
  return n > uint32_t(INT_MAX) ? -1 : static_cast<int>(n);
}

// One TLV of a short length at p[0..end): the content's bounds, or false.
bool shortTlv(const unsigned char*& p, const unsigned char* end, unsigned char tag,
              const unsigned char** content, int* length) {
  return end - p >= 2 && p[1] < 0x80 && derTlv(p, end, tag, content, length);
}

// SEQUENCE { digest OID, NULL OPTIONAL } filling c[0..n) exactly: the hash id, or 0.
int usualDigestAlgorithm(const unsigned char* c, int n) {
  const unsigned char* p = c;
  const unsigned char* end = c + n;
  const unsigned char* seq = nullptr;
  const unsigned char* oid = nullptr;
  int seqLen = 0, oidLen = 0;
  if (!shortTlv(p, end, 0x30, &seq, &seqLen) || p != end) return 0;
  p = seq;
  end = seq + seqLen;
  if (!shortTlv(p, end, 0x06, &oid, &oidLen)) return 0;
  if (p != end && !(end - p == 2 && p[0] == 0x05 && p[1] == 0x00)) return 0;
  return digestOidContentToType(oid, oidLen);
}

// A minimal non-negative INTEGER of up to three octets filling c[0..n): its value, or -1.
int usualSmallInteger(const unsigned char* c, int n) {
  const unsigned char* p = c;
  const unsigned char* v = nullptr;
  int len = 0;
  if (!shortTlv(p, c + n, 0x02, &v, &len) || p != c + n || len < 1 || len > 3) return -1;
  if (v[0] & 0x80) return -1;
  if (len > 1 && v[0] == 0 && !(v[1] & 0x80)) return -1;
  int value = 0;
  for (int i = 0; i < len; ++i) value = value << 8 | v[i];
  return value;
}

}  // namespace

bool RsaPssParams::readUsual(const unsigned char* content, int length, int* hash, int* mgfHash,
                             int* saltLength, int* trailerField) {
  if (length < 0 || (length > 0 && !content)) return false;
  int values[4] = {1, 1, 20, 1};
  const unsigned char* p = content;
  const unsigned char* const end = content + length;
  int next = 0;
  while (p != end) {
    const unsigned char* c = nullptr;
    int n = 0;
    const int index = p[0] - 0xA0;
    if (index < next || index > 3 || !shortTlv(p, end, p[0], &c, &n)) return false;
    int v = 0;
    if (index == 0) {
      v = usualDigestAlgorithm(c, n);
    } else if (index == 1) {
      // SEQUENCE { id-mgf1, SEQUENCE { digest OID, NULL OPTIONAL } }
      const unsigned char* q = c;
      const unsigned char* seq = nullptr;
      const unsigned char* oid = nullptr;
      int seqLen = 0, oidLen = 0;
      if (!shortTlv(q, c + n, 0x30, &seq, &seqLen) || q != c + n) return false;
      q = seq;
      if (!shortTlv(q, seq + seqLen, 0x06, &oid, &oidLen) || oidLen != id_mgf1.length ||
          std::memcmp(oid, id_mgf1.data(), size_t(oidLen)) != 0)
        return false;
      v = usualDigestAlgorithm(q, static_cast<int>(seq + seqLen - q));
    } else {
      v = usualSmallInteger(c, n);
    }
    if (v < (index < 2 ? 1 : 0)) return false;
    values[index] = v;
    next = index + 1;
  }
  *hash = values[0];
  *mgfHash = values[1];
  *saltLength = values[2];
  *trailerField = values[3];
  return true;
}

RsaPssParams::RsaPssParams(unsigned char t)
    : ASNsequenceF(t),
      hashAlgorithm(0xA0),
      maskGenAlgorithm(0xA1),
      saltLength(0xA2),
      trailerField(0xA3),
      hashAlgorithmPresent(0),
      maskGenAlgorithmPresent(0),
      saltLengthPresent(0),
      trailerFieldPresent(0) {}

RsaPssParams::~RsaPssParams() = default;

ASNobject* RsaPssParams::member(int i) {
  ASNobject* m[] = {&hashAlgorithm, &maskGenAlgorithm, &saltLength, &trailerField};
  return m[i];
}

const ASNobject* RsaPssParams::member(int i) const {
  return const_cast<RsaPssParams*>(this)->member(i);
}

unsigned char& RsaPssParams::present(int i) {
  unsigned char* p[] = {&hashAlgorithmPresent, &maskGenAlgorithmPresent, &saltLengthPresent,
                        &trailerFieldPresent};
  return *p[i];
}

unsigned char RsaPssParams::present(int i) const {
  return const_cast<RsaPssParams*>(this)->present(i);
}

bool RsaPssParams::set(int hashType, int forceMgf, int mgfHashType, int salt, int trailer) {
  clear();
  if (salt < 0 || trailer < 0) return false;
  if (hashType != 1) {
    if (!hashAlgorithm->setDigest(hashType)) return false;
    hashAlgorithmPresent = 1;
  }
  if (forceMgf || mgfHashType != 1) {
    AlgorithmIdentifier mgfHash;
    if (!mgfHash.setDigest(mgfHashType) || !maskGenAlgorithm->set(id_mgf1, &mgfHash)) return false;
    maskGenAlgorithmPresent = 1;
  }
  if (salt != 20) {
    saltLength->set(static_cast<uint32_t>(salt));
    saltLengthPresent = 1;
  }
  if (trailer != 1) {
    trailerField->set(static_cast<uint32_t>(trailer));
    trailerFieldPresent = 1;
  }
  return true;
}

int RsaPssParams::getDigestType() const {
  if (!hashAlgorithmPresent) return 1;
  int hashId = 0;
  return digestOidToType(hashAlgorithm->algorithm, nullptr, &hashId) ? hashId : 0;
}

int RsaPssParams::getMgf(int* mgfHashType) const {
  int hashId = 1;
  if (maskGenAlgorithmPresent) {
    const AlgorithmIdentifier& mgf = maskGenAlgorithm.get();
    if (!(mgf.algorithm == id_mgf1) || !mgf.parametersPresent || mgf.parameters.tag != 0x30)
      return -1;
    AlgorithmIdentifier inner;
    if (inner.assignFromAny(mgf.parameters) != 1 ||
        !digestOidToType(inner.algorithm, nullptr, &hashId))
      return -1;
  }
  if (mgfHashType) {
    *mgfHashType = hashId;
    return 0;
  }
  return hashId == 1 ? 0 : -1;
}

int RsaPssParams::getSaltLength() const {
  return saltLengthPresent ? nonNegative(saltLength.get()) : 20;
}

int RsaPssParams::getTrailerField() const {
  return trailerFieldPresent ? nonNegative(trailerField.get()) : 1;
}

void RsaPssParams::releaseViews() {
  dropOwnView();
  releaseViewsOf({&hashAlgorithm, &maskGenAlgorithm, &saltLength, &trailerField});
}

void RsaPssParams::clear() {
  for (int i = 0; i < 4; ++i) present(i) = 0;
  hashAlgorithm->clear();
  maskGenAlgorithm->clear();
  saltLength->clear();
  trailerField->clear();
}

int RsaPssParams::decodeContent(GenericFile* in, int length) {
  clear();
  if (length < 0) return 0;
  int taken = 0;
  int next = 0;  // the lowest member index still allowed: members ascend, each once
  for (int count = 0; count < 4 && taken < length; ++count) {
    ASNany element(TAG_ANY);
    int r = element.decode(in, length - taken, 0);
    if (r < 1) return r;
    taken += r;
    const int index = element.tag - 0xA0;
    if (index < next || index > 3) return 0;
    int a = member(index)->assignFromAny(element);
    if (a != 1) return a;
    present(index) = 1;
    next = index + 1;
  }
  return taken == length ? 1 : 0;
}

int RsaPssParams::encodeContent(GenericFile* out) const {
  for (int i = 0; i < 4; ++i) {
    if (!present(i)) continue;
    int r = member(i)->encode(out);
    if (r < 1) return r;
  }
  return 1;
}

int RsaPssParams::contentLength() const {
  int64_t n = 0;
  for (int i = 0; i < 4; ++i) {
    if (!present(i)) continue;
    int m = member(i)->encodedLength();
    if (m < 0) return -1;
    n += m;
  }
  return n > ASN_MAX_LENGTH ? -1 : static_cast<int>(n);
}

void RsaPssParams::digestContent(LvHash* hash) const {
  for (int i = 0; i < 4; ++i)
    if (present(i)) member(i)->updateDigest(hash);
}
