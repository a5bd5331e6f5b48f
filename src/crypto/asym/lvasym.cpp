// Asymmetric framework: key and scheme bases, the hash-then-sign flow.
#include "crypto/asym/lvasym.h"

#include "crypto/hash/lvhash.h"

#define ASYM_LONG_FILE "lvasym\\asymsig_long.cpp"
#define ASYM_ENCODE_FILE "lvasym\\asymsig_encode.cpp"

bool LvAsymKey::isApproved() const { return true; }
unsigned int LvAsymKey::getKeyOctets() { return (getKeyBits() + 7) / 8; }

LvPrivateKey::~LvPrivateKey() {}
void LvPrivateKey::prepare() {}
unsigned int LvPrivateKey::getPublicKeyOctets() { return (getPublicKeyBits() + 7) / 8; }

bool LvAsymScheme::isApproved() const { return true; }
LvAsymScheme::~LvAsymScheme() {}
unsigned int LvAsymScheme::getKeyOctets(unsigned int which) { return (getKeyBits(which) + 7) / 8; }

// ---------------------------------------------------------------------------
// Signature schemes
// ---------------------------------------------------------------------------

LvAsymSig::LvAsymSig() : hashAlgo(0), hashLen(0), hashObj(nullptr), digestInUse(0) {}

LvAsymSig::~LvAsymSig() {
  delete hashObj;
  hashObj = nullptr;
  hashAlgo = 0;
  hashLen = 0;
  digestInUse = 0;
}

void LvAsymSig::setHashAlgo(LvHashAlgo algo) {
  hashAlgo = algo;
  selectHash(algo, 0);
  hashLen = digestInUse;
}

LvHashAlgo LvAsymSig::getHashAlgo() { return hashAlgo; }

void LvAsymSig::selectHash(LvHashAlgo algo, unsigned int digestLen) {
  if (hashObj != nullptr && hashObj->getAlgo() != algo) {
    delete hashObj;
    hashObj = nullptr;
  }
  if (hashObj == nullptr) hashObj = lvHashCreateObject(hashAlgo);
  unsigned int full = hashObj != nullptr ? hashObj->getHashOctets() : 0;
  digestInUse = (digestLen != 0 && digestLen < full) ? digestLen : full;
}

void LvAsymSig::longMsgHashInit(LvHashAlgo algo) {
  // A nonzero id other than the configured one is honoured: it becomes the
  // configured id, so the digest and its encoding always agree.
  LvHashAlgo use = algo == 0 ? hashAlgo : algo;
  if (use != 0 && use != hashAlgo)
    setHashAlgo(use);
  else if (use != 0)
    selectHash(use, 0);
  if (hashObj == nullptr)
    LV_THROW(LvNotInitException, "Hash function is not initialised.",
             "LvAsymSig::longMsgHashInit", ASYM_LONG_FILE);
  hashObj->init();
}

unsigned int LvAsymSig::longMsgHashStep(const LvOctet* data, unsigned int len) {
  if (len == 0) return 0;
  if (hashObj == nullptr)
    LV_THROW(LvNotInitException, "Hash function is not initialised.",
             "LvAsymSig::longMsgHashStep", ASYM_LONG_FILE);
  hashObj->step(data, len);
  return len;
}

namespace {

// Finishes the session and copies the digest in use.
LvOctMem finishDigest(LvHash* h, unsigned int digestLen) {
  if (h == nullptr)
    LV_THROW(LvNotInitException, "Hash function is not initialised.",
             "LvAsymSig::longMsgHashSign", ASYM_LONG_FILE);
  h->finish();
  LvOctMem digest(h->getHashOctets());
  h->getHash(0, digest.ptr());
  if (digestLen < digest.getLength()) digest.resize(digestLen);
  return digest;
}

}  // namespace

unsigned int LvAsymSig::longMsgHashSign(LvOctet* signature, unsigned int signatureLen) {
  LvOctMem digest = finishDigest(hashObj, digestInUse);
  return sign(digest.ptr(), digest.getLength(), signature, signatureLen);
}

bool LvAsymSig::longMsgHashVerify(const LvOctet* signature, unsigned int signatureLen) {
  LvOctMem digest = finishDigest(hashObj, digestInUse);
  return verify(digest.ptr(), digest.getLength(), signature, signatureLen);
}

unsigned int LvAsymSig::signMessage(const LvOctet* msg, unsigned int msgLen, LvOctet* signature,
                                    unsigned int signatureLen, LvHashAlgo algo) {
  longMsgHashInit(algo);
  longMsgHashStep(msg, msgLen);
  return longMsgHashSign(signature, signatureLen);
}

bool LvAsymSig::verifyMessage(const LvOctet* msg, unsigned int msgLen, const LvOctet* signature,
                              unsigned int signatureLen, LvHashAlgo algo) {
  longMsgHashInit(algo);
  longMsgHashStep(msg, msgLen);
  return longMsgHashVerify(signature, signatureLen);
}

unsigned int LvAsymSig::encode(LvOctMem& encoding, const LvOctet* digest, unsigned int digestLen) {
  encoding = LvOctMem(digest, digestLen);
  return digestLen;
}

unsigned int LvAsymSig::encodeDigest(const LvOctet* digest, unsigned int digestLen,
                                     LvOctet* encoding, unsigned int encodingMaxLen) {
  LvOctMem enc;
  unsigned int len = encode(enc, digest, digestLen);
  if (encodingMaxLen < len)
    LV_THROW(LvArgumentRangeException, "Buffer for encoding is too short.",
             "LvAsymSig::encodeDigest", ASYM_ENCODE_FILE);
  if (len > 0) enc.get(encoding, encodingMaxLen);
  return len;
}

// ---------------------------------------------------------------------------
// Ciphers and key agreement
// ---------------------------------------------------------------------------

LvAsymCipher::LvAsymCipher() {}
LvAsymCipher::~LvAsymCipher() {}

unsigned int LvAsymCipher::encrypt(LvOctet* plainText, unsigned int plainTextLen,
                                   LvOctet* cipherText, unsigned int cipherTextLen) {
  return encryptWithLabel(plainText, plainTextLen, nullptr, 0, cipherText, cipherTextLen);
}

LvAsymSecret::LvAsymSecret() {}
LvAsymSecret::~LvAsymSecret() {}

unsigned int LvAsymSecret::getSecretLength() { return secret.getLength(); }

unsigned int LvAsymSecret::getSecret(LvOctet* dst, unsigned int dstLen) {
  if (dst == nullptr || dstLen < secret.getLength()) return 0;
  return secret.get(dst, dstLen);
}
