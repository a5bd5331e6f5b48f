// EC public key: the X9.62 point of a SubjectPublicKeyInfo's BIT STRING with
// the library objects that verify EC-DSA signatures with it.
#pragma once

#include "asn1/asnbitst.h"
#include "pki/keys/dsaparms.h"
#include "pki/keys/ecparams.h"

#include <memory>

struct EcPublicLib;

class ECPublicKey : public ASNbitstr {
 public:
  ECPublicKey();
  ECPublicKey(const ECPublicKey& other);
  ~ECPublicKey() override;
  // Copies the BIT STRING only; the curve is set again by the caller.
  ECPublicKey& operator=(const ECPublicKey& other);
  bool operator==(const ECPublicKey& other) const { return ASNbitstr::operator==(other); }

  bool set(const ASNoctstr& point, const ECDomainParameters* params = nullptr);
  bool setDomain(const ECDomainParameters& params);
  // False when the parameters give no curve or memory ran out (never
  // std::bad_alloc); a curve whose build ran out of memory is built again by
  // verify, which answers 0 while memory is short.
  bool setSpecifiedDomain(const ECSpecifiedDomain& specifiedDomain);
  bool setNamedCurve(const ASNobjectId& oid);
  // Uses a library domain owned elsewhere (a named curve's, or the prepared
  // domain of parameters that outlive this key).
  bool setKeyDomain(const LvGeneralDsaKeyDomain* domain);
  const LvGeneralDsaKeyDomain* getKeyDomain() const { return domain; }
  // The explicit form of the curve in use (filled on first request for a
  // named curve); null when no curve is set or it cannot be written.
  const ECSpecifiedDomain* getSpecifiedDomain();

  bool getPointOctets(ASNoctstr& out) const;
  unsigned int getKeyBits() const;
  unsigned int getKeyOctets() const { return (getKeyBits() + 7) / 8; }

  // -3 digest length differs from the hash's, else verify.
  int verifyDigest(const unsigned char* digest, int digestLen, int hashType,
                   const DSASignature& sig);
  // -2 not an EC-DSA OID, -3 digest length differs, else verify.
  int verifyBySignatureOid(const unsigned char* digest, int digestLen, const ASNobjectId& sigOid,
                           const DSASignature& sig);
  // 1 valid, -1 not valid, 0 out of memory, -3 point missing, malformed or
  // refused by the public-key check, -4 no curve.
  int verify(const unsigned char* digest, int digestLen, const DSASignature& sig);

  void clear() override;
  // Drops the prepared key, then reads the content as a BIT STRING.
  virtual int decodeKeyContent(GenericFile* in, int length);
  int decodeContent(GenericFile* in, int length) override;

 private:
  void unprepare();
  int prepare();
  std::unique_ptr<EcPublicLib> lib;
  const LvGeneralDsaKeyDomain* domain;
  std::unique_ptr<ECSpecifiedDomain> specifiedDomain;  // made when a caller wants it
  unsigned char specFilled;
  unsigned char prepared;
};
