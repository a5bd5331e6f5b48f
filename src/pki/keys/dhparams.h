// Diffie-Hellman domain parameters as key-algorithm parameters (PKCS#3
// DHParameter and X9.42 DomainParameters with ValidationParms), and the
// classification of key-algorithm OIDs into the kinds the key code switches on.
#pragma once

#include "asn1/asnbitst.h"
#include "asn1/asnint.h"
#include "asn1/asnobjid.h"

class Pkcs3DHParameter : public ASNsequenceF {
 public:
  explicit Pkcs3DHParameter(unsigned char tag = 0);
  ~Pkcs3DHParameter() override;

  void clear() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNinteger prime;
  ASNinteger base;
  ASNinteger privateValueLength;  // OPTIONAL
  unsigned char privateValueLengthPresent;
};

class X942ValidationParams : public ASNsequenceF {
 public:
  explicit X942ValidationParams(unsigned char tag = 0);
  ~X942ValidationParams() override;

  void clear() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNbitstr seed;
  ASNinteger pgenCounter;
};

class X942DomainParameters : public ASNsequenceF {
 public:
  explicit X942DomainParameters(unsigned char tag = 0);
  ~X942DomainParameters() override;

  void clear() override;
  // p, g, q, then j (INTEGER) and validationParms (SEQUENCE), each told by
  // its identifier, at most once, j before validationParms.
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNinteger p;
  ASNinteger g;
  ASNinteger q;
  ASNinteger j;                          // OPTIONAL
  X942ValidationParams validationParms;  // OPTIONAL
  unsigned char jPresent;
  unsigned char validationParmsPresent;
};

// Key-algorithm kinds.
enum KeyAlgorithmKind {
  KEYALG_UNKNOWN = 0,
  KEYALG_RSA = 1,
  KEYALG_DSA = 2,
  KEYALG_EC = 3,
  KEYALG_RSA_PSS = 4,
  KEYALG_RSA_OAEP = 5,
  KEYALG_ECDH = 51,
  KEYALG_ECMQV = 52,
  KEYALG_DH_PKCS3 = 101,
  KEYALG_DH_X942 = 102,
  KEYALG_KEA = 201,
  KEYALG_GOST94 = 202,
  KEYALG_GOST2001 = 203,
};

// The kind of a key-algorithm OID; 0 for any OID not listed.
int keyAlgorithmKind(const ASNobjectId& oid);
// id-ecPublicKey, id-ecDH and id-ecMQV.
bool isEcKeyAlgorithm(const ASNobjectId& oid);
