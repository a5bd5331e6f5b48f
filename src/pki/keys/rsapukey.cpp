#include "pki/keys/rsapukey.h"

#include "base/commonerror.h"
#include "base/memfile.h"
#include "crypto/asym/lvrsacipher.h"
#include "crypto/asym/lvrsasig.h"
#include "crypto/basic/lvexception.h"
#include "crypto/hash/lvhash.h"
#include "pki/common/algid.h"
#include "pki/common/keymembers.h"
#include "pki/common/siganddigoid.h"

#include <memory>

#define RSAPUKEY_SRC "libx509/rsapukey"

namespace {

// The verifiers hold no key of their own between checks, only the hash objects and PSS
// parameters of the last one: one set per thread serves every key, where a set per key cost
// more than decoding the key (a certificate path decodes a new key for every signature).
struct RsaVerifiers {
  LvRsaSigPkcsV15 pkcs1v15;
  LvRsaSig raw;
  // The PSS verifier of the last parameters, kept for the next signature.
  std::unique_ptr<LvRsaSigPkcsPss> pss;
  int pssSalt = -1, pssHash = 0, pssMgf = 0, pssMgfHash = 0;
};

RsaVerifiers& verifiers() {
  thread_local RsaVerifiers v;
  return v;
}

// Lends a verifier the key for one check; it forgets the key afterwards, however the check ends.
class KeyLoan {
 public:
  KeyLoan(LvRsaSig& sig, LvRsaPublicKey& key) : sig(sig) { sig.setPublicKey(&key); }
  ~KeyLoan() { sig.setPublicKey(nullptr); }
  KeyLoan(const KeyLoan&) = delete;
  KeyLoan& operator=(const KeyLoan&) = delete;

 private:
  LvRsaSig& sig;
};

// Digest length of a hash id; 0 for an id the library does not know.
unsigned int hashOctets(int hashId) {
  try {
    return LvGenericHash::getGenericHashOctets(static_cast<LvHashAlgo>(hashId));
  } catch (const LvException&) {
    return 0;
  }
}

// A minimal positive INTEGER's content (an RSA number as DER writes it).
bool derPositive(const unsigned char* c, int n) {
  if (n < 1 || (c[0] & 0x80)) return false;
  if (n == 1) return c[0] != 0;
  return c[0] != 0 || (c[1] & 0x80);
}

// As a member's decode with no flags leaves it: no view, no stream state, the content a
// private copy (charged as the decoder charges what it reads). 1, or EASN_MEM.
int setMember(ASNinteger& member, const unsigned char* c, int n) {
  member.releaseViews();
  member.freeStreamCtx();
  if (member.set(c, n) != 1) return EASN_MEM;
  asnChargeHeld(asnAllocCost(n));
  return 1;
}

}  // namespace

bool RSAPublicKey::readUsual(const unsigned char* content, int length, const unsigned char** n,
                             int* nLen, const unsigned char** e, int* eLen) {
  if (!content || length < 1) return false;
  const unsigned char* p = content;
  const unsigned char* const end = content + length;
  return derTlv(p, end, 0x02, n, nLen) && derPositive(*n, *nLen) &&
         derTlv(p, end, 0x02, e, eLen) && derPositive(*e, *eLen) && p == end;
}

int RSAPublicKey::decodeUsual(const unsigned char* der, int length) {
  // decode would expect an outer tag or another identifier
  if (tag != 0x30 || !(flags & ASN_FLAG_CONSTRUCTED) || (flags & ASN_FLAG_EXPLICIT) || !der ||
      length < 2)
    return 0;
  const unsigned char* p = der;
  const unsigned char* const end = der + length;
  const unsigned char *c = nullptr, *n = nullptr, *e = nullptr;
  int cLen = 0, nLen = 0, eLen = 0;
  if (!derTlv(p, end, 0x30, &c, &cLen) || p != end ||
      !readUsual(c, cLen, &n, &nLen, &e, &eLen))
    return 0;
  // what decode does before and around decodeContent
  releaseViews();
  freeStreamCtx();
  flags &= ~(ASN_FLAG_CONST | ASN_FLAG_COPY | ASN_FLAG_INDEFINITE);
  contentOffset = static_cast<int32_t>(c - der);
  keyPrepared = 0;
  modulus.clear();
  publicExponent.clear();
  if (setMember(modulus, n, nLen) != 1 || setMember(publicExponent, e, eLen) != 1)
    return EASN_MEM;
  return 1;
}

bool rsaPositiveInteger(const ASNinteger& v) {
  unsigned int n = 0;
  const unsigned char* d = keyasn::intBytes(v, &n);
  if (!d || (d[0] & 0x80)) return false;
  for (unsigned int i = 0; i < n; ++i)
    if (d[i] != 0) return true;
  return false;
}

RSAPublicKey::RSAPublicKey(const RSAPublicKey& o)
    : ASNsequenceF(o),
      modulus(o.modulus),
      publicExponent(o.publicExponent),
      lib(),
      keyPrepared(0) {}

RSAPublicKey& RSAPublicKey::operator=(const RSAPublicKey& o) {
  if (this != &o) {
    modulus = o.modulus;
    publicExponent = o.publicExponent;
    keyPrepared = 0;
  }
  return *this;
}

bool RSAPublicKey::set(const ASNoctstr& m, const ASNoctstr& e) {
  keyPrepared = 0;
  return modulus.setBytes(m.data(), m.length) == 1 &&
         publicExponent.setBytes(e.data(), e.length) == 1;
}

unsigned int RSAPublicKey::keyBits() const {
  if (!rsaPositiveInteger(modulus)) return 0;
  return 8u * static_cast<unsigned int>(keyasn::significantOctets(modulus));
}

bool RSAPublicKey::prepareKey() {
  if (keyPrepared) return true;
  unsigned int nn = 0, ne = 0;
  const unsigned char* n = keyasn::intBytes(modulus, &nn);
  const unsigned char* e = keyasn::intBytes(publicExponent, &ne);
  // Negative or zero values are not RSA numbers.
  if (!rsaPositiveInteger(modulus) || !rsaPositiveInteger(publicExponent)) return false;
  try {
    // made from the octets at once: numbers made first would be copied into the key
    lib.reset();
    lib.emplace(n, nn, e, ne);
    if (!lib->isReady() || !lib->isValid()) return false;
  } catch (const LvMemException&) {
    throwBadAllocation();
  } catch (const LvException&) {
    // a modulus or exponent the library refuses: the key is unusable
    return false;
  }
  keyPrepared = 1;
  return true;
}

int RSAPublicKey::verify(const unsigned char* digest, int digestLen,
                         const AlgorithmIdentifier& sigAlg, const unsigned char* signature,
                         int sigLen) {
  int hashId = 0;
  if (rsaSignatureOidToDigest(sigAlg.algorithm, nullptr, &hashId))
    return verifyPkcs1v15(digest, digestLen, hashId, signature, sigLen);
  int salt = 0, mgf = 0, mgfHash = 0;
  if (isRsaPssOid(sigAlg.algorithm) &&
      sigAlg.getRsaPssParams(&hashId, &salt, &mgf, &mgfHash, nullptr, nullptr))
    return verifyPssDecoded(digest, digestLen, hashId, salt, mgf, mgfHash, signature, sigLen);
  return UNSUPPORTED;
}

int RSAPublicKey::verifyPssDecoded(const unsigned char* digest, int digestLen, int hashId,
                                   int saltLength, int mgf, int mgfHash,
                                   const unsigned char* signature, int sigLen) {
  if (mgf != 0 || hashOctets(hashId) == 0 || (mgfHash != 0 && hashOctets(mgfHash) == 0) ||
      saltLength < 0)
    return UNSUPPORTED;
  return verifyPss(digest, digestLen, hashId, signature, sigLen, 0, mgfHash, saltLength);
}

int RSAPublicKey::verifyPkcs1v15(const unsigned char* digest, int digestLen, int hashId,
                                 const unsigned char* signature, int sigLen) {
  checkInvariant(digest != nullptr && signature != nullptr, RSAPUKEY_SRC, __LINE__,
                 "digest != NULL && signature != NULL");
  if (!prepareKey()) return UNUSABLE;
  unsigned int want = hashOctets(hashId);
  if (want == 0 || digestLen < 0 || static_cast<unsigned int>(digestLen) != want) return LENGTH;
  try {
    LvRsaSigPkcsV15& v15 = verifiers().pkcs1v15;
    KeyLoan loan(v15, *lib);
    if (v15.getHashAlgo() != static_cast<LvHashAlgo>(hashId) || !v15.getHashObject())
      v15.setHashAlgo(static_cast<LvHashAlgo>(hashId));
    // the bound verify itself applies: the key's octets, which are the modulus's significant
    // octets the key was made from (counted here without the library's bit count)
    if (sigLen < 0 || sigLen > keyasn::significantOctets(modulus))
      return INVALID;
    return v15.verify(digest, want, signature, static_cast<unsigned int>(sigLen)) ? OK : INVALID;
  } catch (const LvMemException&) {
    throwBadAllocation();
  } catch (const LvException&) {
    // a signature value the arithmetic refuses is just not a signature
    return INVALID;
  }
}

int RSAPublicKey::verifyPss(const unsigned char* digest, int digestLen, int hashId,
                            const unsigned char* signature, int sigLen, int mgf, int mgfHash,
                            int saltLength) {
  if (sigLen != keyasn::significantOctets(modulus)) return INVALID;
  checkInvariant(digest != nullptr && signature != nullptr, RSAPUKEY_SRC, __LINE__,
                 "digest != NULL && signature != NULL");
  if (!prepareKey()) return UNUSABLE;
  unsigned int want = hashOctets(hashId);
  if (want == 0 || digestLen < 0 || static_cast<unsigned int>(digestLen) != want) return LENGTH;
  if (saltLength == -1) saltLength = digestLen;
  if (saltLength < 0) return INVALID;
  try {
    // the key's octets: the modulus's significant octets the key was made from, which sigLen
    // equals (checked above)
    const int64_t emLen = sigLen;
    if (int64_t(digestLen) + saltLength + 2 > emLen) return INVALID;
    if (mgfHash != 0 && hashOctets(mgfHash) == 0) return UNSUPPORTED;
    const int mh = mgfHash ? mgfHash : hashId;
    RsaVerifiers& v = verifiers();
    if (!v.pss || v.pssSalt != saltLength || v.pssHash != hashId || v.pssMgf != mgf ||
        v.pssMgfHash != mh) {
      v.pss.reset();
      v.pss.reset(new LvRsaSigPkcsPss(static_cast<unsigned int>(saltLength), nullptr,
                                      static_cast<LvHashAlgo>(hashId), mgf,
                                      static_cast<LvHashAlgo>(mh)));
      v.pss->setHashAlgo(static_cast<LvHashAlgo>(hashId));
      v.pssSalt = saltLength;
      v.pssHash = hashId;
      v.pssMgf = mgf;
      v.pssMgfHash = mh;
    }
    KeyLoan loan(*v.pss, *lib);
    return v.pss->verify(digest, want, signature, static_cast<unsigned int>(sigLen)) ? OK
                                                                                     : INVALID;
  } catch (const LvMemException&) {
    throwBadAllocation();
  } catch (const LvException&) {
    return INVALID;
  }
}

int RSAPublicKey::verifyRaw(const unsigned char* message, int messageLen,
                            const unsigned char* signature, int sigLen) {
  checkInvariant(message != nullptr && messageLen != 0, RSAPUKEY_SRC, __LINE__,
                 "msg != NULL && msgLen != 0");
  if (!prepareKey()) return UNUSABLE;
  if (sigLen < messageLen) return LENGTH;
  if (!signature) return INVALID;
  try {
    LvRsaSig& raw = verifiers().raw;
    KeyLoan loan(raw, *lib);
    if (static_cast<unsigned int>(sigLen) > raw.getMaxSignatureOctets()) return INVALID;
    return raw.verify(message, static_cast<unsigned int>(messageLen), signature,
                      static_cast<unsigned int>(sigLen))
               ? OK
               : INVALID;
  } catch (const LvMemException&) {
    throwBadAllocation();
  } catch (const LvException&) {
    return INVALID;
  }
}

int RSAPublicKey::encryptPkcs1v15(const unsigned char* message, int messageLen, LvRbg* rbg,
                                  MemFile& out) {
  if (!prepareKey()) return UNUSABLE;
  try {
    LvRsaCipherPkcsV15 cipher(rbg);
    cipher.setPublicKey(&*lib);
    if (messageLen < 0 || static_cast<unsigned int>(messageLen) > cipher.getMaxPlainTextOctets())
      return LENGTH;
    unsigned int max = cipher.getMaxCipherTextOctets();
    if (!out.setSize(static_cast<int32_t>(max))) return NO_OUTPUT;
    // The cipher pads in its own buffer; the caller's message stays as it is.
    const size_t mLen = messageLen > 0 ? static_cast<size_t>(messageLen) : 1;
    std::unique_ptr<unsigned char[]> m(new unsigned char[mLen]);
    // the message is a session key: its copy is wiped whatever happens
    struct Wipe {
      unsigned char* p;
      size_t n;
      ~Wipe() { zeroizeMemory(p, n); }
    } wipe{m.get(), mLen};
    for (int i = 0; i < messageLen; ++i) m[static_cast<size_t>(i)] = message[i];
    unsigned int n =
        cipher.encrypt(m.get(), static_cast<unsigned int>(messageLen), out.data(), max);
    out.setSize(static_cast<int32_t>(n));
    return OK;
  } catch (const LvException& e) {
    checkInvariant(false, RSAPUKEY_SRC, __LINE__, "0", e.what());
    return UNUSABLE;
  }
}

void RSAPublicKey::releaseViews() {
  dropOwnView();
  releaseViewsOf({&modulus, &publicExponent});
}

void RSAPublicKey::clear() {
  releaseViews();
  keyPrepared = 0;
  modulus.clear();
  publicExponent.clear();
}

int RSAPublicKey::decodeContent(GenericFile* in, int length) {
  keyPrepared = 0;
  modulus.clear();
  publicExponent.clear();
  // The usual DER form of a stream in memory is read without the generic decoder (most keys
  // are decoded for one verification); members read in place take the full road.
  const unsigned char *n = nullptr, *e = nullptr;
  int nLen = 0, eLen = 0;
  const unsigned char* c = (flags & ASN_FLAG_CONST) ? nullptr : asnPeekMemory(in, length);
  if (c && readUsual(c, length, &n, &nLen, &e, &eLen)) {
    if (setMember(modulus, n, nLen) != 1 || setMember(publicExponent, e, eLen) != 1)
      return EASN_MEM;
    return in->seek(static_cast<int32_t>(in->tell()) + length) == 0 ? 1 : EASN_FILE;
  }
  ASNobject* const m[] = {&modulus, &publicExponent};
  int taken = 0;
  int r = keyasn::decodeMembers(in, length, memberFlags(), m, 2, &taken);
  if (r != 1) return r;
  return taken == length ? 1 : 0;
}

int RSAPublicKey::encodeContent(GenericFile* out) const {
  const ASNobject* const m[] = {&modulus, &publicExponent};
  return keyasn::encodeMembers(out, m, 2);
}

int RSAPublicKey::contentLength() const {
  const ASNobject* const m[] = {&modulus, &publicExponent};
  return keyasn::membersLength(m, 2);
}

void RSAPublicKey::digestContent(LvHash* hash) const {
  const ASNobject* const m[] = {&modulus, &publicExponent};
  keyasn::digestMembers(hash, m, 2);
}
