// What the DSA and EC-DSA schemes share: the key and generator slots, the
// (r, s) helpers and the hash-then-verify flow for signatures given as r and s.
#pragma once

#include "crypto/algebra/lvctmod.h"
#include "crypto/asym/lvasym.h"
#include "crypto/asym/lvkeydomain.h"

class LvRbg;

// Refuses an invalid or unchecked domain (LvInvalidKeyException).
void lvCheckKeyDomain(const LvAsymKeyDomain* domain);

namespace lvdsasig {
// Splits "02 Lr r 02 Ls s" exactly filling len: DER INTEGERs (tag 02, definite
// minimal lengths of at most four octets, minimal non-negative values) inside
// the buffer; false for anything else.
bool parseRs(const LvOctet* sig, unsigned int len, const LvOctet** r, unsigned int* rLen,
             const LvOctet** s, unsigned int* sLen);
// Length of r and s written as two INTEGER TLVs.
unsigned int encodedLength(const LvN& r, const LvN& s);
// Writes them (the caller checked the length); returns the octets written.
unsigned int encode(const LvN& r, const LvN& s, LvOctet* out);
// The digest as a number, cut to its leftmost bitLength(n) bits.
LvN digestNumber(const LvOctet* digest, unsigned int digestLen, const LvN& n);
// The digest of the finished hash session of the scheme.
LvOctMem finishDigest(LvHash* hash, unsigned int digestLen);
// The secret side of signing, modulo the (public) group order q, in time and
// memory access independent of the nonce and the private key.
// A nonce from `octets` random octets (twice the order's length keeps the
// bias negligible), reduced without a branch; false when it is 0 (draw
// again: that one fact is made public).
bool drawNonce(const LvCtMod& q, LvRbg* rbg, unsigned int octets, LvCtMod::Num& k);
// s := k^-1·(e + x·r) mod q (e and r public, x the private key); false when
// s is 0. LvDivByZeroException when k proves to have no inverse (q not prime).
bool signS(const LvCtMod& q, const LvCtMod::Num& k, const LvN& x, const LvN& e, const LvN& r,
           LvN& s);
}  // namespace lvdsasig

template <class PubT, class PrivT>
class LvDsaScheme : public LvAsymSig {
 public:
  LvDsaScheme() : pub(nullptr), priv(nullptr), rbg(nullptr) {}
  ~LvDsaScheme() override {}

  unsigned int getKeyBits(unsigned int which) override {
    switch (which) {
      case 0:
        if (pub) return pub->getKeyBits();
        if (priv) return priv->getKeyBits();
        return 0;
      case 1:
        return pub ? pub->getKeyBits() : 0;
      case 2:
        return priv ? priv->getKeyBits() : 0;
      default:
        return 0;
    }
  }
  unsigned int getMaxSignatureOctets() override {
    if (!priv)
      LV_THROW(LvNotInitException, "Private key is not initialised.",
               "unsigned int getMaxSignatureOctets(void)", "lvasym/lvdsascheme");
    return 2 * priv->getKeyOctets() + 14;
  }
  // r and s from the two INTEGER TLVs of the signature; a malformed encoding
  // answers false.
  bool verify(const LvOctet* digest, unsigned int digestLen, const LvOctet* signature,
              unsigned int signatureLen) override {
    requirePublicKey();
    const LvOctet *r = nullptr, *s = nullptr;
    unsigned int rLen = 0, sLen = 0;
    if (!lvdsasig::parseRs(signature, signatureLen, &r, &rLen, &s, &sLen)) return false;
    return verify(digest, digestLen, r, rLen, s, sLen);
  }
  using LvAsymSig::longMsgHashVerify;
  using LvAsymSig::verifyMessage;

  // Each clears the other key.
  virtual void setPublicKey(PubT* key) {
    pub = key;
    priv = nullptr;
  }
  virtual void setPrivateKey(PrivT* key) {
    priv = key;
    pub = nullptr;
  }
  virtual PubT* getPublicKey() const { return pub; }
  virtual PrivT* getPrivateKey() const { return priv; }
  virtual void setRbg(LvRbg* r) { rbg = r; }
  virtual bool longMsgHashVerify(const LvOctet* r, unsigned int rLen, const LvOctet* s,
                                 unsigned int sLen) {
    LvOctMem digest = lvdsasig::finishDigest(hashObj, digestInUse);
    LvOctMem enc;
    const unsigned int len = encode(enc, digest.ptr(), digest.getLength());
    return verify(enc.ptr(), len, r, rLen, s, sLen);
  }
  virtual bool verifyMessage(const LvOctet* msg, unsigned int msgLen, const LvOctet* r,
                             unsigned int rLen, const LvOctet* s, unsigned int sLen) {
    longMsgHashInit(0);
    longMsgHashStep(msg, msgLen);
    return longMsgHashVerify(r, rLen, s, sLen);
  }
  virtual bool verify(const LvOctet* digest, unsigned int digestLen, const LvOctet* r,
                      unsigned int rLen, const LvOctet* s, unsigned int sLen) = 0;

 protected:
  // Throws, with the scheme's text, when no ready public key is set.
  virtual void requirePublicKey() = 0;

  PubT* pub;
  PrivT* priv;
  LvRbg* rbg;
};
