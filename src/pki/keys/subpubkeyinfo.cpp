#include "pki/keys/subpubkeyinfo.h"

#include "base/commonerror.h"
#include "base/memfile.h"
#include "base/workaccount.h"
#include "crypto/basic/lvexception.h"
#include "crypto/hash/lvhash.h"
#include "pki/keys/dhparams.h"
#include "pki/common/keymembers.h"
#include "pki/common/oids.h"
#include "pki/common/pkiasn.h"
#include "pki/common/siganddigoid.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <stdexcept>

namespace {

// Decodes `obj` from exactly the key bits of a BIT STRING (no unused bits):
// 1, 0 when they are not one whole value, or -2.
int decodeKeyBits(ASNobject& obj, const ASNbitstr& bits) {
  if (bits.bitsLength() < 1 || bits.unusedBits() != 0) return 0;
  // Read without views, so nothing keeps the stream: it can live here.
  MemFile in(const_cast<unsigned char*>(bits.bits()), bits.bitsLength(), false);
  int r = obj.decode(&in, bits.bitsLength(), 0);
  if (r == EASN_MEM) return EASN_MEM;
  return r == bits.bitsLength() ? 1 : 0;
}

// 0 no RSA key, 1 an RSA key, 2 an RSASSA-PSS key (isRsaKeyOid's set, the usual key asked first).
int rsaKeyKind(const ASNobjectId& oid) {
  if (oid == rsaEncryption) return 1;
  if (oid == id_RSASSA_PSS) return 2;
  return isRsaKeyOid(oid) ? 1 : 0;
}

// One hash object of the algorithm (not the whole selection) per thread, made on
// its first use and reused by every later verification: hashing data is one
// call that leaves nothing behind but the last digest.
LvHash* threadHash(int hashId) {
  thread_local std::unique_ptr<LvHash> objects[LV_HASH_MD5 + 1];
  if (hashId < 1 || hashId > static_cast<int>(LV_HASH_MD5)) return nullptr;
  std::unique_ptr<LvHash>& h = objects[hashId];
  if (!h) h.reset(lvHashCreateObject(static_cast<LvHashAlgo>(hashId)));
  return h.get();
}

}  // namespace

SubPubKeyInfo::SubPubKeyInfo(const SubPubKeyInfo& o)
    : ASNsequenceF(o), algorithm(), subjectPublicKey(), rsaKey() {
  *this = o;
}

// As clearDerived leaves them: no curve chosen but implicitlyCA.
SubPubKeyInfo::EcParts::EcParts() : key(), parameters(0x05) {}

// The parts live outside the object a list charges for its elements: a decode
// that makes them charges them itself.
SubPubKeyInfo::DsaParts& SubPubKeyInfo::dsaParts() {
  if (!dsa) {
    // out of memory: the library's "bad allocation", never a bare std::bad_alloc
    dsa.reset(new (std::nothrow) DsaParts());
    if (!dsa) throwBadAllocation();
    asnChargeHeld(asnAllocCost(static_cast<int64_t>(sizeof(DsaParts))));
  }
  return *dsa;
}

SubPubKeyInfo::EcParts& SubPubKeyInfo::ecParts() {
  if (!ec) {
    ec.reset(new (std::nothrow) EcParts());
    if (!ec) throwBadAllocation();
    asnChargeHeld(asnAllocCost(static_cast<int64_t>(sizeof(EcParts))));
  }
  return *ec;
}

const SubPubKeyInfo::DsaParts& SubPubKeyInfo::emptyDsa() {
  static const DsaParts none;
  return none;
}

const SubPubKeyInfo::EcParts& SubPubKeyInfo::emptyEc() {
  static const EcParts none;
  return none;
}

SubPubKeyInfo& SubPubKeyInfo::operator=(const SubPubKeyInfo& o) {
  if (this == &o) return *this;
  // our key may be prepared over our own curve, which the copy rewrites
  if (ec) ec->key.setKeyDomain(nullptr);
  algorithm = o.algorithm;
  subjectPublicKey = o.subjectPublicKey;
  rsaKey = o.rsaKey;
  if (o.dsa) {
    DsaParts& d = dsaParts();
    // an INTEGER copy that throws "bad allocation" when it fails
    static_cast<ASNoctstr&>(d.key) = o.dsa->key;
    d.parameters = o.dsa->parameters;
  } else {
    dsa.reset();
  }
  if (o.ec) {
    EcParts& e = ecParts();
    e.parameters = o.ec->parameters;
    // the key takes its curve from our own parameters when first used
    e.key = o.ec->key;
    e.key.setKeyDomain(nullptr);
  } else {
    ec.reset();
  }
  return *this;
}

bool SubPubKeyInfo::isEcKey() const {
  return algorithm.algorithm == id_ecPublicKey || algorithm.algorithm == id_ecDH ||
         algorithm.algorithm == id_ecMQV;
}

unsigned int SubPubKeyInfo::keyBits() const {
  const int kind = keyAlgorithmKind(algorithm.algorithm);
  const bool params = algorithm.parametersPresent != 0;
  try {
    if (isRsaKeyOid(algorithm.algorithm)) {
      if (kind == KEYALG_RSA && params && (algorithm.parameters.getTag() & 0x1F) != 5) {
        ASNinteger size;
        uint32_t bits = 0;
        if (size.decodeAny(algorithm.parameters) == 1 && rsaPositiveInteger(size) &&
            asnSmallValue(size, &bits))
          return bits;
      }
      return rsaKey.keyBits();
    }
    if (kind == KEYALG_DSA) {
      if (params)
        return 8u * static_cast<unsigned int>(keyasn::significantOctets(dsaParameters().p));
      return 8u * static_cast<unsigned int>(dsaKey().byteLength());
    }
    if (isEcKey()) {
      unsigned int bits = params ? ecParameters().getFieldBits() : 0;
      return bits ? bits : ecKey().getKeyBits();
    }
    if (kind == KEYALG_DH_PKCS3 || kind == KEYALG_DH_X942) {
      ASNinteger y;
      if (decodeKeyBits(y, subjectPublicKey) != 1) return 0;
      unsigned int pBits = 0;
      if (kind == KEYALG_DH_PKCS3) {
        Pkcs3DHParameter p;
        if (params && p.decodeAny(algorithm.parameters) == 1)
          pBits = 8u * static_cast<unsigned int>(p.prime.byteLength());
      } else {
        X942DomainParameters p;
        if (params && p.decodeAny(algorithm.parameters) == 1)
          pBits = 8u * static_cast<unsigned int>(p.p.byteLength());
      }
      return pBits ? pBits : 8u * static_cast<unsigned int>(y.byteLength());
    }
    if (kind == KEYALG_KEA)
      return subjectPublicKey.length > 0
                 ? 8u * static_cast<unsigned int>(subjectPublicKey.length - 1)
                 : 0;
    RSAPublicKey guess;
    return decodeKeyBits(guess, subjectPublicKey) == 1 ? guess.keyBits() : 0;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

bool SubPubKeyInfo::keyIdentifier(unsigned char out[20]) const {
  if (subjectPublicKey.length < 1 || !out) return false;
  LvGenericHash h(LV_HASH_SHA1);
  h.init();
  if (subjectPublicKey.bitsLength() > 0)
    h.step(subjectPublicKey.bits(), static_cast<unsigned int>(subjectPublicKey.bitsLength()));
  h.finish();
  h.getHash(20, out);
  return true;
}

bool SubPubKeyInfo::shortKeyId(unsigned char out[8]) const {
  unsigned char h[20];
  if (!out || !keyIdentifier(h)) return false;
  std::memcpy(out, h + 12, 8);
  out[0] = static_cast<unsigned char>((h[12] & 0x0F) | 0x40);
  return true;
}

void SubPubKeyInfo::clearDerived() {
  rsaKey.clear();
  dsa.reset();
  ec.reset();
}

void SubPubKeyInfo::releaseViews() {
  dropOwnView();
  releaseViewsOf({&algorithm, &subjectPublicKey, &rsaKey, dsa ? &dsa->key : nullptr,
                  dsa ? &dsa->parameters : nullptr, ec ? &ec->key : nullptr,
                  ec ? &ec->parameters : nullptr});
}

void SubPubKeyInfo::clear() {
  releaseViews();
  algorithm.clear();
  subjectPublicKey.clear();
  clearDerived();
}

int SubPubKeyInfo::decodeKey(bool rsa) {
  const ASNobjectId& oid = algorithm.algorithm;
  if (rsa || isRsaKeyOid(oid)) {
    // the usual form straight from the key bits, else the full decoder over them
    if (subjectPublicKey.bitsLength() > 0 && subjectPublicKey.unusedBits() == 0) {
      const int r = rsaKey.decodeUsual(subjectPublicKey.bits(), subjectPublicKey.bitsLength());
      if (r != 0) return r;
    }
    return decodeKeyBits(rsaKey, subjectPublicKey);
  }
  if (oid == id_dsa) {
    if (!algorithm.parametersPresent) return 0;
    int r = dsaParameters().decodeAny(algorithm.parameters);
    if (r != 1) return r == 0 ? EASN_MEM : 0;
    return decodeKeyBits(dsaKey(), subjectPublicKey);
  }
  if (isEcKey()) {
    if (!algorithm.parametersPresent || subjectPublicKey.length < 1) return 0;
    int r = ecParameters().decodeAny(algorithm.parameters);
    if (r != 1) return r == 0 ? EASN_MEM : 0;
    if (ecKey().ASNbitstr::set(subjectPublicKey.data() + 1, subjectPublicKey.length - 1,
                               subjectPublicKey.unusedBits()) != 1)
      return EASN_MEM;
    return 1;
  }
  return 1;
}

namespace {

// SEQUENCE { rsaEncryption, NULL }
const unsigned char kRsaAlgorithm[] = {0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                       0xF7, 0x0D, 0x01, 0x01, 0x01, 0x05, 0x00};

// NULL parameters as ASNany's decode leaves them (its tag and flags; no content, so neither
// reading nor copying it allocates anything that could fail).
struct UsualNull {
  ASNany value;
  UsualNull() {
    MemFile in(const_cast<unsigned char*>(kRsaAlgorithm) + 13, 2, false);
    value.decode(&in, 2, 0);
  }
};

}  // namespace

bool SubPubKeyInfo::readUsualRsa(const unsigned char* content, int length,
                                 const unsigned char** bits, int* bitsLength) {
  const int n = static_cast<int>(sizeof kRsaAlgorithm);
  if (!content || length < n || std::memcmp(content, kRsaAlgorithm, sizeof kRsaAlgorithm) != 0)
    return false;
  const unsigned char* p = content + n;
  const unsigned char* const end = content + length;
  const unsigned char* c = nullptr;
  int len = 0;
  // the unused-bits octet 0 and at least one octet of key
  if (!derTlv(p, end, 0x03, &c, &len) || p != end || len < 2 || c[0] != 0) return false;
  *bits = c + 1;
  *bitsLength = len - 1;
  return true;
}

int SubPubKeyInfo::decodeUsualRsa(GenericFile* in, int length) {
  // Members read in place take the full road (they are views of the stream).
  const unsigned char* c = (flags & ASN_FLAG_CONST) ? nullptr : asnPeekMemory(in, length);
  const unsigned char* bits = nullptr;
  int n = 0;
  if (!c || !readUsualRsa(c, length, &bits, &n)) return 0;
  static const UsualNull usualNull;
  // As the members' decodes with no flags leave them (the content private copies, charged
  // as the decoder charges what it reads). decodeContent has just cleared the algorithm,
  // views included.
  algorithm.freeStreamCtx();
  subjectPublicKey.releaseViews();
  subjectPublicKey.freeStreamCtx();
  // the OID's content is the constant just matched (after its identifier and length octets):
  // referred to, not copied
  algorithm.algorithm.referStatic(kRsaAlgorithm + 4, kRsaAlgorithm[3]);
  algorithm.parameters = usualNull.value;
  algorithm.parametersPresent = 1;
  // definite lengths, as the headers read leave them (an earlier value may have been indefinite)
  algorithm.flags &= ~ASN_FLAG_INDEFINITE;
  subjectPublicKey.flags &= ~ASN_FLAG_INDEFINITE;
  asnChargeHeld(asnAllocCost(rsaEncryption.length));
  if (subjectPublicKey.set(bits, n, 0) != 1) return EASN_MEM;
  asnChargeHeld(asnAllocCost(int64_t(n) + 1));
  return in->seek(static_cast<int32_t>(in->tell()) + length) == 0 ? 1 : EASN_FILE;
}

int SubPubKeyInfo::decodeContent(GenericFile* in, int length) {
  // Not clear(): that would drop the view this decode has just set up.
  algorithm.clear();
  subjectPublicKey.clear();
  clearDerived();
  // Most keys arrive in the usual DER form of an RSA key, decoded for one verification.
  int r = decodeUsualRsa(in, length);
  int taken = length;
  const bool usual = r == 1;
  if (r == 0) {
    ASNobject* const mm[] = {&algorithm, &subjectPublicKey};
    taken = 0;
    r = keyasn::decodeMembers(in, length, memberFlags(), mm, 2, &taken);
  }
  if (r != 1) return r;
  r = decodeKey(usual);
  if (r != 1) {
    clearDerived();
    return r == EASN_MEM ? EASN_MEM : 0;
  }
  return taken == length ? 1 : 0;
}

int SubPubKeyInfo::encodeContent(GenericFile* out) const {
  const ASNobject* const mm[] = {&algorithm, &subjectPublicKey};
  return keyasn::encodeMembers(out, mm, 2);
}

int SubPubKeyInfo::contentLength() const {
  const ASNobject* const mm[] = {&algorithm, &subjectPublicKey};
  return keyasn::membersLength(mm, 2);
}

void SubPubKeyInfo::digestContent(LvHash* hash) const {
  const ASNobject* const mm[] = {&algorithm, &subjectPublicKey};
  keyasn::digestMembers(hash, mm, 2);
}

// ---- verification ----

bool SubPubKeyInfo::readSigAlg(const AlgorithmIdentifier& sigAlg, SigAlgParams& out) {
  out.kind = signatureOidKind(sigAlg.algorithm, &out.hashId, &out.digestLen);
  if (out.kind != SIG_KIND_RSA_PSS) return out.kind != SIG_KIND_NONE;
  out.pss = true;
  if (!sigAlg.getRsaPssParams(&out.hashId, &out.salt, &out.mgf, &out.mgfHash, &out.trailer,
                              nullptr))
    return false;
  digestTypeToOid(out.hashId, nullptr, &out.digestLen);
  return true;
}

int SubPubKeyInfo::verifyRsa(const AlgorithmIdentifier& sigAlg, const SigAlgParams* sp,
                             bool pssSig, int hashId, const unsigned char* digest, int digestLen,
                             const unsigned char* signature, int sigLen) {
  const int keyKind = rsaKeyKind(algorithm.algorithm);
  if (keyKind == 0) return SIG_KEY_MISMATCH;
  const bool pssKey = keyKind == 2;
  // An RSASSA-PSS key signs with PSS only (RFC 4055).
  if (pssKey && !pssSig) return SIG_KEY_MISMATCH;
  // A large modulus with a long public exponent makes each check cost as much
  // as a private operation; no signer uses one (OpenSSL refuses exponents over
  // 64 bits for moduli over 3,072 bits, and so does this library).
  if (rsaExponentRefused()) return SIG_KEY_UNUSABLE;
  int r = RSAPublicKey::UNSUPPORTED;
  if (!pssSig) {
    r = rsaKey.verifyPkcs1v15(digest, digestLen, hashId, signature, sigLen);
  } else {
    SigAlgParams own;
    if (!sp) {
      if (!readSigAlg(sigAlg, own)) return SIG_UNSUPPORTED;
      sp = &own;
    }
    if (pssKey && algorithm.parametersPresent) {
      int h = 0, s = 0, m = 0, mh = 0, t = 0;
      if (!algorithm.getRsaPssParams(&h, &s, &m, &mh, &t, nullptr)) return SIG_UNSUPPORTED;
      if (sp->hashId != h || sp->mgf != m || sp->mgfHash != mh || sp->trailer != t || sp->salt < s)
        return SIG_KEY_MISMATCH;
    }
    if (sp->trailer != 1) return SIG_UNSUPPORTED;
    r = rsaKey.verifyPssDecoded(digest, digestLen, sp->hashId, sp->salt, sp->mgf, sp->mgfHash,
                                signature, sigLen);
  }
  switch (r) {
    case RSAPublicKey::OK:
      return SIG_VALID;
    case RSAPublicKey::UNUSABLE:
      return SIG_KEY_UNUSABLE;
    case RSAPublicKey::UNSUPPORTED:
      return SIG_UNSUPPORTED;
    default:
      return SIG_INVALID;
  }
}

int SubPubKeyInfo::verifyDsa(const AlgorithmIdentifier& sigAlg, const unsigned char* digest,
                             int digestLen, const unsigned char* signature, int sigLen) {
  if (algorithm.algorithm != id_dsa) return SIG_KEY_MISMATCH;
  int hashId = 0;
  if (!dsaSignatureOidToDigest(sigAlg.algorithm, nullptr, &hashId)) return SIG_UNSUPPORTED;
  DSASignature sig;
  int r = sig.decodeDer(signature, sigLen);
  if (r == EASN_MEM) throwBadAllocation();
  if (r != 1) return SIG_MALFORMED;
  switch (dsaKey().verifyDigest(digest, digestLen, hashId, dsaParameters(), sig)) {
    case 0:
      return SIG_VALID;
    case 2:
      return SIG_KEY_UNUSABLE;
    default:
      return SIG_INVALID;
  }
}

int SubPubKeyInfo::verifyEc(const AlgorithmIdentifier& sigAlg, const unsigned char* digest,
                            int digestLen, const unsigned char* signature, int sigLen) {
  if (!isEcKey()) return SIG_KEY_MISMATCH;
  DSASignature sig;
  int r = sig.decodeDer(signature, sigLen);
  if (r == EASN_MEM) throwBadAllocation();
  if (r != 1) return SIG_MALFORMED;
  // The curve is ours (the parameters live as long as this object).
  if (!ecKey().getKeyDomain() && !ecKey().setKeyDomain(ecParameters().getKeyDomain()))
    return SIG_KEY_UNUSABLE;
  switch (ecKey().verifyBySignatureOid(digest, digestLen, sigAlg.algorithm, sig)) {
    case 1:
      return SIG_VALID;
    case -4:
      return SIG_KEY_UNUSABLE;  // no curve
    case -3:
      return SIG_UNSUPPORTED;  // a point the curve refuses, or a digest of another length
    case 0:
      // Out of memory is no verdict on the signature: it leaves as such.
      throwBadAllocation();
    default:
      return SIG_INVALID;
  }
}

int SubPubKeyInfo::verifyDigest(const AlgorithmIdentifier& sigAlg, const unsigned char* digest,
                                int digestLen, const unsigned char* signature, int sigLen) {
  return verifyDigestWith(sigAlg, nullptr, digest, digestLen, signature, sigLen);
}

bool SubPubKeyInfo::prepareForSharedUse() {
  if (rsaKeyKind(algorithm.algorithm) == 0) return false;
  try {
    return rsaKey.prepareKey();
  } catch (const std::bad_alloc&) {
    return false;  // the verification under the lock meets it again and answers for it
  }
}

namespace {
// Decoding, padding, the comparison: the same for any key, and all a key
// costs that the library refuses before any arithmetic.
constexpr uint64_t FIXED = 4096;
uint64_t words(uint64_t bits) { return (bits + 63) / 64; }
// Products of sizes a crafted key may make as large as it likes: past
// UINT64_MAX the price is everything.
uint64_t times(std::initializer_list<uint64_t> factors) {
  uint64_t r = 1;
  for (uint64_t f : factors) {
    if (f != 0 && r > UINT64_MAX / f) return UINT64_MAX;
    r *= f;
  }
  return r;
}
}  // namespace

bool SubPubKeyInfo::rsaExponentRefused() const {
  return keyasn::bitLength(rsaKey.modulus) > RSA_LONG_EXPONENT_MODULUS_BITS &&
         keyasn::bitLength(rsaKey.publicExponent) > RSA_MAX_LONG_MODULUS_EXPONENT_BITS;
}

uint64_t SubPubKeyInfo::verificationPrice() const {
  // Each product of two numbers of w 64-bit words with its reduction takes
  // some 32 instructions per pair of words here: 4 units of about 8.
  constexpr uint64_t PRODUCT_UNITS_PER_WORD_PAIR = 4;
  auto price = [](std::initializer_list<uint64_t> factors) {
    return FIXED + std::min<uint64_t>(times(factors), UINT64_MAX - FIXED);
  };
  try {
    if (isRsaKeyOid(algorithm.algorithm)) {
      // A square per bit of the exponent, a product per set bit: at most two
      // per bit. Refused before any power: the exponent cap, and the
      // library's own limits (a modulus of 16,384 bits, an exponent of 256).
      const uint64_t modulusBits = keyasn::bitLength(rsaKey.modulus);
      const uint64_t exponentBits = keyasn::bitLength(rsaKey.publicExponent);
      if (rsaExponentRefused() || modulusBits > 16384 || exponentBits > 256) return FIXED;
      const uint64_t w = words(modulusBits);
      return price({2, exponentBits, w, w, PRODUCT_UNITS_PER_WORD_PAIR});
    }
    const unsigned int bits = keyBits();
    if (keyAlgorithmKind(algorithm.algorithm) == KEYALG_DSA) {
      // Two powers modulo p with exponents below q, done together: a square and
      // up to two products per bit of q. Past the library's limits (p of 8,192
      // bits, q of 512) the key is refused at once.
      const uint64_t qBits = keyasn::bitLength(dsaParameters().q);
      if (bits > 8192 || qBits > 512) return FIXED;
      const uint64_t w = words(bits);
      return price({3, qBits, w, w, PRODUCT_UNITS_PER_WORD_PAIR});
    }
    if (isEcKey()) {
      // Two scalar multiplications: some 16 field products per bit of the field
      // each (a doubling and an addition in projective form), a binary field's
      // product priced as two. A curve given by its parameters rather than by
      // name is validated at each key's first use (primality tests, a scalar
      // multiplication): priced four times. Past the library's limit (a field
      // of 1,024 bits) the key is refused at once.
      if (bits > 1024) return FIXED;
      const uint64_t w = words(bits);
      const bool unnamed = ecParameters().kind() == ECDomainParameters::KIND_SPECIFIED &&
                           !ecParameters().specifiedCurve.isNamedCurve();
      return price({2 * 2 * 16, unnamed ? 4u : 1u, bits, w, w, PRODUCT_UNITS_PER_WORD_PAIR});
    }
  } catch (const LvException&) {
    // a key whose parts cannot be read fails its verification at once
  }
  return FIXED;
}

int SubPubKeyInfo::verifyDigestWith(const AlgorithmIdentifier& sigAlg, const SigAlgParams* sp,
                                    const unsigned char* digest, int digestLen,
                                    const unsigned char* signature, int sigLen) {
  checkInvariant(digest != nullptr, "libx509/subpubki", __LINE__, "digest != NULL");
  if (!signature || sigLen < 1) return SIG_MALFORMED;
  // The document this check works for pays for it before it runs: a stranger's
  // document carrying thousands of large keys is refused, not worked through.
  if (!workPay(verificationPrice())) return SIG_UNSUPPORTED;
  try {
    int hashId = sp ? sp->hashId : 0;
    // the algorithm's kind once, from readSigAlg when it ran
    const int kind = sp ? sp->kind : signatureOidKind(sigAlg.algorithm, &hashId, nullptr);
    switch (kind) {
      case SIG_KIND_RSA:
      case SIG_KIND_RSA_PSS:
        return verifyRsa(sigAlg, sp, kind == SIG_KIND_RSA_PSS, hashId, digest, digestLen,
                         signature, sigLen);
      case SIG_KIND_DSA:
        return verifyDsa(sigAlg, digest, digestLen, signature, sigLen);
      case SIG_KIND_ECDSA:
        return verifyEc(sigAlg, digest, digestLen, signature, sigLen);
      default:
        return SIG_UNSUPPORTED;
    }
  } catch (const LvMemException&) {
    throwBadAllocation();
  } catch (const LvException&) {
    // whatever else the library finds wrong with a stranger's data
    return SIG_INVALID;
  }
}

int SubPubKeyInfo::verifyObject(const AlgorithmIdentifier& sigAlg, const ASNobject& signedObject,
                                const unsigned char* signature, int sigLen) {
  SigAlgParams sp;
  if (!readSigAlg(sigAlg, sp) || sp.digestLen < 1 || sp.digestLen > 64) return SIG_UNSUPPORTED;
  const int hashId = sp.hashId, len = sp.digestLen;
  unsigned char digest[64];
  if (signedObject.digest(hashId, digest, len) != 1) return SIG_UNSUPPORTED;
  return verifyDigestWith(sigAlg, &sp, digest, len, signature, sigLen);
}

int SubPubKeyInfo::verifyData(const AlgorithmIdentifier& sigAlg, const unsigned char* data,
                              int dataLen, const unsigned char* signature, int sigLen) {
  SigAlgParams sp;
  if (!readSigAlg(sigAlg, sp) || sp.digestLen < 1 || sp.digestLen > 64 || dataLen < 0 ||
      (!data && dataLen > 0))
    return SIG_UNSUPPORTED;
  const int hashId = sp.hashId, len = sp.digestLen;
  unsigned char digest[64];
  try {
    LvHash* h = threadHash(hashId);
    if (!h || h->getHashOctets() != static_cast<unsigned int>(len)) return SIG_UNSUPPORTED;
    h->hash(dataLen > 0 ? data : digest, static_cast<unsigned int>(dataLen));
    h->getHash(static_cast<unsigned int>(len), digest);
  } catch (const LvMemException&) {
    // no memory for the thread's hash object: not an unsupported algorithm
    throwBadAllocation();
  } catch (const LvException&) {
    return SIG_UNSUPPORTED;
  }
  return verifyDigestWith(sigAlg, &sp, digest, len, signature, sigLen);
}

int SubPubKeyInfo::verifyDigest(const AlgorithmIdentifier& sigAlg, const unsigned char* digest,
                                int digestLen, const ASNbitstr& signature) {
  if (signature.unusedBits() != 0) return SIG_MALFORMED;
  return verifyDigest(sigAlg, digest, digestLen, signature.bits(), signature.bitsLength());
}

int SubPubKeyInfo::verifyObject(const AlgorithmIdentifier& sigAlg, const ASNobject& signedObject,
                                const ASNbitstr& signature) {
  if (signature.unusedBits() != 0) return SIG_MALFORMED;
  return verifyObject(sigAlg, signedObject, signature.bits(), signature.bitsLength());
}

int SubPubKeyInfo::verifyData(const AlgorithmIdentifier& sigAlg, const unsigned char* data,
                              int dataLen, const ASNbitstr& signature) {
  if (signature.unusedBits() != 0) return SIG_MALFORMED;
  return verifyData(sigAlg, data, dataLen, signature.bits(), signature.bitsLength());
}
