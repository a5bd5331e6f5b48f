// DSA private key (version, p, q, g, y, x) with signing over a digest.
#pragma once

#include "asn1/asnint.h"
#include "pki/keys/dsaparms.h"

#include <memory>

class LvRbg;
struct DsaPrivateLib;

class DSAPrivateKey : public ASNsequenceF {
 public:
  explicit DSAPrivateKey(unsigned char tag = 0);
  ~DSAPrivateKey() override;
  // Copies the six INTEGERs; the copy prepares its own library key.
  DSAPrivateKey& operator=(const DSAPrivateKey& other);
  bool operator==(const DSAPrivateKey& other) const;

  void setP(const ASNinteger& v);
  void setQ(const ASNinteger& v);
  void setG(const ASNinteger& v);
  void setY(const ASNinteger& v);
  void setX(const ASNinteger& v);
  void getDomainParameters(DSAParameters& out) const;
  // y when held, else g^x mod p; false (out unchanged) when neither works.
  bool getPublicKey(ASNinteger& out) const;
  // 0 success, 2 key cannot be prepared, 3 digest length mismatch, 5 the
  // signer's output is not (r, s), 6 the generator failed its continuous test.
  int signDigest(const unsigned char* digest, int digestLen, int hashType, DSASignature& out,
                 LvRbg* rbg);

  void clear() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNinteger version;
  ASNinteger p;
  ASNinteger q;
  ASNinteger g;
  ASNinteger y;
  ASNinteger x;

 private:
  bool prepare();
  void unprepare();
  std::unique_ptr<DsaPrivateLib> lib;
  unsigned char prepared;
};
