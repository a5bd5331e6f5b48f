// Diffie-Hellman over GF(p): the DH domain and keys (the GF(p) keys under
// their own names), the key agreement over them with SHA-1 key stretching,
// and the form the TLS engine uses, which takes p, g and the peer's value as
// octets from the handshake.
#pragma once

#include <memory>

#include "crypto/asym/lvdsa.h"
#include "crypto/hash/lvsha.h"

class LvRbg;

// A peer's value must satisfy 1 < y < p - 1: 0, 1 and p - 1 give a secret an
// attacker knows, and a value not below p is no residue at all.
inline bool lvDhPeerValueInRange(const LvN& y, const LvN& p) { return y > 1u && y + 1u < p; }

// The shared value peer^x mod p as its minimal big-endian octets (at least one). The power is
// constant-time over max(expBits, x's length) exponent bits; the value is written out without
// a look at it, and only its count of leading zero octets (the length the secret is given) is
// made public.
LvOctMem lvDhSharedValue(const LvN& peer, const LvN& x, const LvModulus& p, unsigned int expBits);

class LvDhGFpKeyDomain : public LvGFpKeyDomain {
 public:
  LvDhGFpKeyDomain();
  ~LvDhGFpKeyDomain() override;
  unsigned int getDomainType() const override;
  // The generation of the GF(p) domain with floors: false, nothing done, for
  // qBits < 160 or pBits < 1024 (or a seed shorter than 20 octets).
  bool generate(LvRbg* rbg, unsigned int qBits, unsigned int pBits, int (*interrupt)(void*),
                void* interruptCtx) override;
  bool generate(const LvOctet* seed, unsigned int seedLen, unsigned int qBits, unsigned int pBits,
                int (*interrupt)(void*), void* interruptCtx) override;
};

class LvDhGFpPublicKey : public LvGFpPublicKey {
 public:
  LvDhGFpPublicKey();
  ~LvDhGFpPublicKey() override;
};

class LvDhGFpPrivateKey : public LvGFpPrivateKey {
 public:
  LvDhGFpPrivateKey();
  ~LvDhGFpPrivateKey() override;
};

// Agreement between the own private key and the peer's public key; the keys
// are borrowed.
class LvDhGFpSecret : public LvAsymSecret {
 public:
  // LvMemException when the SHA-1 object cannot be made.
  LvDhGFpSecret();
  ~LvDhGFpSecret() override;
  LvDhGFpSecret(const LvDhGFpSecret&) = delete;
  LvDhGFpSecret& operator=(const LvDhGFpSecret&) = delete;

  // The peer key's bits when set, else the private key's, else 0.
  unsigned int getKeyBits(unsigned int which) override;
  // z = y_peer^x mod p as big-endian octets without leading zero octets. A
  // peer value outside 1 < y < p - 1 is refused (LvInvalidKeyException).
  void generateSecret() override;

  virtual void setPublicKey(LvDhGFpPublicKey* key);
  virtual void setPrivateKey(LvDhGFpPrivateKey* key);
  virtual LvDhGFpPublicKey* getPublicKey() const;
  virtual LvDhGFpPrivateKey* getPrivateKey() const;
  // SHA-1 counter-mode stretching of the agreed secret ZZ into outLen
  // octets: block i = SHA-1(ZZ || p1 || i (4 octets, big-endian) || p2 || p3
  // || p5 || p4), the empty parts left out.
  virtual void deriveKey(LvOctet* out, unsigned int outLen, const LvOctet* p1, unsigned int p1Len,
                         const LvOctet* p2, unsigned int p2Len, const LvOctet* p3,
                         unsigned int p3Len, const LvOctet* p4, unsigned int p4Len,
                         const LvOctet* p5, unsigned int p5Len);

 private:
  LvDhGFpPublicKey* peerKey;
  LvDhGFpPrivateKey* ownKey;
  LvSha1* sha1;
};

// Draws x with 2 <= x <= q - 2 from (octets of q) octets of the generator
// reduced modulo q, and sets y = g^x mod p into both keys.
void generateKeyPair(LvDhGFpPublicKey& publicKey, LvDhGFpPrivateKey& privateKey,
                     const LvDhGFpKeyDomain* domain, LvRbg* rbg);

// The peer's value in the TLS form: a bare number.
class LvDhGFpPublicKey_CTLSV1 : public LvPublicKey {
 public:
  LvDhGFpPublicKey_CTLSV1();
  ~LvDhGFpPublicKey_CTLSV1() override;

  // Its bit length (0 when zero).
  unsigned int getKeyBits() override;
  bool isReady() override;
  bool isValid() override;

  void setValue(const LvN& value) { y = value; }
  const LvN& getValue() const { return y; }

 private:
  LvN y;
};

class LvDhGFpSecret_CTLSV1 : public LvAsymSecret {
 public:
  LvDhGFpSecret_CTLSV1();
  ~LvDhGFpSecret_CTLSV1() override;
  LvDhGFpSecret_CTLSV1(const LvDhGFpSecret_CTLSV1&) = delete;
  LvDhGFpSecret_CTLSV1& operator=(const LvDhGFpSecret_CTLSV1&) = delete;

  // which 0: the peer value's bits when nonzero, else x's; 1: the peer
  // value's; 2: x's; 0 for a zero value or another `which`.
  unsigned int getKeyBits(unsigned int which) override;
  // z = peer^x mod p, without leading zero octets (the TLS pre-master
  // secret). A peer value outside 1 < y < p - 1 is refused.
  void generateSecret() override;
  unsigned int getSecretLength() override;
  unsigned int getSecret(LvOctet* dst, unsigned int dstLen) override;

  // Big-endian octets.
  void setP(const LvOctet* oct, unsigned int len);
  void setG(const LvOctet* oct, unsigned int len);
  void setPeerKey(const LvOctet* oct, unsigned int len);
  // x of 160 to 512 bits by the size of p, y = g^x mod p, copied into
  // publicKey.
  void generateKeyPair(LvDhGFpPublicKey_CTLSV1& publicKey, LvRbg* rbg);

 private:
  LvModulus p;
  LvN g;
  LvN peer;
  LvN x;
  LvN y;
  LvOctMem tlsSecret;
};
