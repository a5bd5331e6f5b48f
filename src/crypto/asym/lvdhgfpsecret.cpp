// Diffie-Hellman over the GF(p) domains: domain, keys, the agreement with its
// SHA-1 key stretching, and key-pair generation.
#include "crypto/asym/lvdhgfpsecret.h"

#include <new>

#include "crypto/basic/lvsecret.h"
#include "crypto/rbg/lvrbg.h"

#define DH_FILE "lvasym/lvdhgfpsecret"
#define DH_SECRET_FUNCTION "void LvDhGFpSecret::generateSecret(void)"
#define DH_KEYPAIR_FUNCTION                                                                  \
  "void generateKeyPair(LvDhGFpPublicKey &publicKey, LvDhGFpPrivateKey &privateKey, const " \
  "LvDhGFpKeyDomain *domain, LvRbg *rbg)"

namespace {
// Draws of a private value before a generator is taken to be stuck.
const unsigned int kMaxDraws = 512;
}  // namespace

LvDhGFpKeyDomain::LvDhGFpKeyDomain() {}
LvDhGFpKeyDomain::~LvDhGFpKeyDomain() {}
unsigned int LvDhGFpKeyDomain::getDomainType() const { return LV_DOMAIN_DH_GFP; }

bool LvDhGFpKeyDomain::generate(LvRbg* rbg, unsigned int qBits, unsigned int pBits,
                                int (*interrupt)(void*), void* interruptCtx) {
  if (qBits < 160 || pBits < 1024)
    return false;
  return LvGFpKeyDomain::generate(rbg, qBits, pBits, interrupt, interruptCtx);
}

bool LvDhGFpKeyDomain::generate(const LvOctet* seed, unsigned int seedLen, unsigned int qBits,
                                unsigned int pBits, int (*interrupt)(void*), void* interruptCtx) {
  if (seedLen < 20 || qBits < 160 || pBits < 1024)
    return false;
  return LvGFpKeyDomain::generate(seed, seedLen, qBits, pBits, interrupt, interruptCtx);
}

LvDhGFpPublicKey::LvDhGFpPublicKey() {}
LvDhGFpPublicKey::~LvDhGFpPublicKey() {}
LvDhGFpPrivateKey::LvDhGFpPrivateKey() {}
LvDhGFpPrivateKey::~LvDhGFpPrivateKey() {}

LvDhGFpSecret::LvDhGFpSecret() : peerKey(nullptr), ownKey(nullptr), sha1(nullptr) {
  sha1 = new (std::nothrow) LvSha1();
  if (!sha1)
    throw LvMemException(sizeof(LvSha1), DH_FILE, LV_STRINGIFY(__LINE__));
}

LvDhGFpSecret::~LvDhGFpSecret() {
  delete sha1;
  peerKey = nullptr;
  ownKey = nullptr;
}

unsigned int LvDhGFpSecret::getKeyBits(unsigned int) {
  if (peerKey)
    return peerKey->getKeyBits();
  if (ownKey)
    return ownKey->getKeyBits();
  return 0;
}

void LvDhGFpSecret::setPublicKey(LvDhGFpPublicKey* key) { peerKey = key; }
void LvDhGFpSecret::setPrivateKey(LvDhGFpPrivateKey* key) { ownKey = key; }
LvDhGFpPublicKey* LvDhGFpSecret::getPublicKey() const { return peerKey; }
LvDhGFpPrivateKey* LvDhGFpSecret::getPrivateKey() const { return ownKey; }

void LvDhGFpSecret::generateSecret() {
  if (!peerKey || !peerKey->isReady())
    LV_THROW(LvNotInitException, "There is no public key or it is not ready.", DH_SECRET_FUNCTION, DH_FILE);
  if (!ownKey || !ownKey->hasPrivatePart())
    LV_THROW(LvNotInitException, "There is no private key or it is not ready.", DH_SECRET_FUNCTION, DH_FILE);
  const LvMultiplicativeModulusGroup& p = ownKey->getP();
  const LvN& peer = peerKey->getKey();
  if (!lvDhPeerValueInRange(peer, p))
    LV_THROW(LvInvalidKeyException, "Peer public value is out of range (1 < y < p - 1).",
             DH_SECRET_FUNCTION, DH_FILE);
  // The peer's value is checked against the p and q of its own domain: those
  // must be ours, or a domain with another q (or none) would let any value by.
  if (!(LvN(peerKey->getP()) == LvN(p)) || !(LvN(peerKey->getQ()) == LvN(ownKey->getQ())))
    LV_THROW(LvInvalidKeyException, "Peer public key belongs to another domain.",
             DH_SECRET_FUNCTION, DH_FILE);
  // A value outside the subgroup of order q would let the peer learn x mod
  // the small orders of the rest of the group.
  if (!peerKey->isSubgroupMember())
    LV_THROW(LvInvalidKeyException, "Peer public value is not in the subgroup of order q.",
             DH_SECRET_FUNCTION, DH_FILE);
  const LvModulus& q = ownKey->getQ();
  secret = lvDhSharedValue(peer, ownKey->getX(), p, q.isZero() ? p.getBitLength() : q.getBitLength());
}

void LvDhGFpSecret::deriveKey(LvOctet* out, unsigned int outLen, const LvOctet* p1,
                              unsigned int p1Len, const LvOctet* p2, unsigned int p2Len,
                              const LvOctet* p3, unsigned int p3Len, const LvOctet* p4,
                              unsigned int p4Len, const LvOctet* p5, unsigned int p5Len) {
  const unsigned int h = sha1->getHashOctets();
  unsigned int done = 0;
  for (LvWord counter = 1; done < outLen; ++counter) {
    LvOctet counterOctets[4] = {static_cast<LvOctet>(counter >> 24),
                                static_cast<LvOctet>(counter >> 16),
                                static_cast<LvOctet>(counter >> 8), static_cast<LvOctet>(counter)};
    sha1->init();
    if (secret.getLength())
      sha1->step(secret.ptr(), secret.getLength());
    if (p1Len)
      sha1->step(p1, p1Len);
    sha1->step(counterOctets, 4);
    if (p2Len)
      sha1->step(p2, p2Len);
    if (p3Len)
      sha1->step(p3, p3Len);
    if (p5Len)
      sha1->step(p5, p5Len);
    if (p4Len)
      sha1->step(p4, p4Len);
    sha1->finish();
    const unsigned int take = outLen - done < h ? outLen - done : h;
    sha1->getHash(take, out + done);
    done += take;
  }
}

void generateKeyPair(LvDhGFpPublicKey& publicKey, LvDhGFpPrivateKey& privateKey,
                     const LvDhGFpKeyDomain* domain, LvRbg* rbg) {
  if (!domain || !domain->isReady())
    LV_THROW(LvNotInitException, "Domain is not compleat.", DH_KEYPAIR_FUNCTION, DH_FILE);
  if (!rbg)
    LV_THROW(LvNotInitException, "There is no random generator.", DH_KEYPAIR_FUNCTION, DH_FILE);
  const LvModulus& q = domain->getQ();
  // With q below 4 no x satisfies 2 <= x <= q - 2: the draw would never end.
  if (q < 4u)
    LV_THROW(LvArgumentRangeException, "Size of domain is too small to generate proper key pair.",
             DH_KEYPAIR_FUNCTION, DH_FILE);
  const unsigned int octets = q.getOctetLength();
  LvOctMem buf(octets);
  LvN x;
  for (unsigned int draw = 0;; ++draw) {
    if (draw == kMaxDraws)
      LV_THROW(LvRbgCycleException, "There is cycle in random bit generator.", DH_KEYPAIR_FUNCTION, DH_FILE);
    rbg->fillOctets(buf.ptr(), octets);
    x = LvN(buf.ptr(), octets) % q;
    if (!(x < 2u) && x + 2u <= q)
      break;
  }
  buf.clear();
  const LvMultiplicativeModulusGroup& p = domain->getP();
  const LvN y = powSecret(LvZn(domain->getG(), &p), x, q.getBitLength()).getN();
  publicKey.setDomain(domain);
  publicKey.setKey(y);
  privateKey.setDomain(domain);
  privateKey.setX(x);
  privateKey.setY(y);
}

LvOctMem lvDhSharedValue(const LvN& peer, const LvN& x, const LvModulus& p,
                         unsigned int expBits) {
  const LvWordLen k = p.getUsed();
  LvWordLen ne = (expBits + 31) / 32;
  if (ne < x.getUsed()) ne = x.getUsed();
  LvWordMem base(k), ew(ne), z(k);
  longvCopyResize(base.ptr(), k, peer.getWords(), peer.getUsed());
  longvCopyResize(ew.ptr(), ne, x.getWords(), x.getUsed());
  powSecretWords(z.ptr(), base.ptr(), ew.ptr(), ne, p);
  const unsigned int len = p.getOctetLength();
  LvOctMem full(len);
  longvCtToOctets(full.ptr(), len, z.ptr(), k);
  unsigned int lead = 0;
  LvWord zeros = ~0u;
  for (unsigned int i = 0; i < len; ++i) {
    zeros &= longvCtEqMask(full.ptr()[i], 0);
    lead += zeros & 1u;
  }
  lvDeclassify(&lead, sizeof lead);
  if (lead == len) lead = len - 1;  // the value 0 is one zero octet
  LvOctMem out(len - lead);
  for (unsigned int i = lead; i < len; ++i) out.ptr()[i - lead] = full.ptr()[i];
  lvWipe(z.ptr(), k * sizeof(LvWord));
  lvWipe(ew.ptr(), ne * sizeof(LvWord));
  return out;
}
