// Diffie-Hellman in the form of the TLS handshake: p, g and the peer's value
// arrive as octets; the own key pair is made here.
#include "crypto/asym/lvdhgfpsecret.h"

#include <cstring>

#include "crypto/rbg/lvrbg.h"

namespace {

// Bits of the private value drawn for a modulus of pBits bits (0: no level for that size).
unsigned int exponentBits(unsigned int pBits) {
  if (pBits <= 1024) return 160;
  if (pBits <= 2048) return 224;
  if (pBits <= 3072) return 256;
  if (pBits <= 7680) return 384;
  if (pBits <= 15360) return 512;
  return 0;
}

}  // namespace

#define DH_FILE "lvasym/lvdhgfpsecret_ctlsv1"
#define DH_INCOMPLETE "Object is njot compleat to do this operation."
#define DH_KEYPAIR_FUNCTION \
  "void LvDhGFpSecret_CTLSV1::generateKeyPair(LvDhGFpPublicKey_CTLSV1 &publicKey, LvRbg *rbg)"
#define DH_SECRET_FUNCTION "void LvDhGFpSecret_CTLSV1::generateSecret(void)"

namespace {
const unsigned int kMaxDraws = 512;
}  // namespace

LvDhGFpPublicKey_CTLSV1::LvDhGFpPublicKey_CTLSV1() {}
LvDhGFpPublicKey_CTLSV1::~LvDhGFpPublicKey_CTLSV1() {}
unsigned int LvDhGFpPublicKey_CTLSV1::getKeyBits() { return y.isZero() ? 0 : y.getBitLength(); }
bool LvDhGFpPublicKey_CTLSV1::isReady() { return false; }
bool LvDhGFpPublicKey_CTLSV1::isValid() { return true; }

LvDhGFpSecret_CTLSV1::LvDhGFpSecret_CTLSV1() {}
LvDhGFpSecret_CTLSV1::~LvDhGFpSecret_CTLSV1() {}

unsigned int LvDhGFpSecret_CTLSV1::getKeyBits(unsigned int which) {
  const LvN* v = nullptr;
  if (which == 0)
    v = !peer.isZero() ? &peer : &x;
  else if (which == 1)
    v = &peer;
  else if (which == 2)
    v = &x;
  return v && !v->isZero() ? v->getBitLength() : 0;
}

void LvDhGFpSecret_CTLSV1::setP(const LvOctet* oct, unsigned int len) {
  p = LvModulus(LvN(oct, len), 9);
}
void LvDhGFpSecret_CTLSV1::setG(const LvOctet* oct, unsigned int len) { g = LvN(oct, len); }
void LvDhGFpSecret_CTLSV1::setPeerKey(const LvOctet* oct, unsigned int len) {
  peer = LvN(oct, len);
}

void LvDhGFpSecret_CTLSV1::generateKeyPair(LvDhGFpPublicKey_CTLSV1& publicKey, LvRbg* rbg) {
  if (p.isZero() || g.isZero() || !rbg)
    LV_THROW(LvNotInitException, DH_INCOMPLETE, DH_KEYPAIR_FUNCTION, DH_FILE);
  const unsigned int bits = exponentBits(p.getBitLength());
  if (bits == 0)
    LV_THROW(LvLibNotImplementedException, "This security level is not supported.", DH_KEYPAIR_FUNCTION,
             DH_FILE);
  LvN drawn;
  for (unsigned int draw = 0;; ++draw) {
    if (draw == kMaxDraws)
      LV_THROW(LvRbgCycleException, "There is cycle in random bit generator.", DH_KEYPAIR_FUNCTION, DH_FILE);
    drawn.random(bits, rbg);
    if (drawn > 1u)
      break;
  }
  x = drawn;
  y = powSecret(LvZn(g, &p), x, bits).getN();
  publicKey.setValue(y);
}

void LvDhGFpSecret_CTLSV1::generateSecret() {
  if (p.isZero() || x.isZero() || peer.isZero())
    LV_THROW(LvNotInitException, DH_INCOMPLETE, DH_SECRET_FUNCTION, DH_FILE);
  if (!lvDhPeerValueInRange(peer, p))
    LV_THROW(LvInvalidKeyException, "Peer public value is out of range (1 < y < p - 1).",
             DH_SECRET_FUNCTION, DH_FILE);
  // The exponent runs over the bits a key of this size is drawn with (the whole of p for a
  // size beyond the table), or over x's own words when it is longer.
  const unsigned int bits = exponentBits(p.getBitLength());
  tlsSecret = lvDhSharedValue(peer, x, p, bits != 0 ? bits : p.getBitLength());
}

unsigned int LvDhGFpSecret_CTLSV1::getSecretLength() { return tlsSecret.getLength(); }

unsigned int LvDhGFpSecret_CTLSV1::getSecret(LvOctet* dst, unsigned int dstLen) {
  const unsigned int n = tlsSecret.getLength();
  if (dstLen < n)
    return 0;
  if (n)
    std::memcpy(dst, tlsSecret.ptr(), n);
  return n;
}
