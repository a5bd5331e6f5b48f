// DSA domain parameters (Dss-Parms) and the signature value (Dss-Sig-Value),
// the latter also carrying EC-DSA signatures.
#pragma once

#include "asn1/asnint.h"

class LvDsaKeyDomain;

// Three INTEGERs in a row: DSA p, q, g (and the pentanomial exponents of a
// binary curve basis).
class DSAParameters : public ASNsequenceF {
 public:
  // A tag with class bits is kept (made constructed), else SEQUENCE.
  explicit DSAParameters(unsigned char tag = 0);
  DSAParameters(const DSAParameters& other);
  ~DSAParameters() override;
  DSAParameters& operator=(const DSAParameters& other);
  bool operator==(const DSAParameters& other) const;

  void clear() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNinteger p;
  ASNinteger q;
  ASNinteger g;
};

class DSASignature : public ASNsequenceF {
 public:
  explicit DSASignature(unsigned char tag = 0);
  ~DSASignature() override;

  // r and s as two TLVs without the SEQUENCE: 1, -1 when `size` is too
  // small, or a member's failing result.
  int encodeMembers(unsigned char* buffer, int size) const;
  // r then s from two TLVs that fill `length` exactly.
  bool decodeMembers(const unsigned char* buffer, int length);
  // Both values are non-negative DER INTEGERs (minimal, no sign octet
  // beyond the one a set top bit needs).
  bool isDerNatural() const;
  // The signature read from `sig`: 1 when it is exactly one DER
  // Dss-Sig-Value filling `len` with natural r and s; 0 when not; a
  // negative framework result (-1, -2) when it could not be read.
  int decodeDer(const unsigned char* sig, int len);

  void clear() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNinteger r;
  ASNinteger s;
};

// Loads p, q, g into the library domain and marks it valid without checking
// (callers that take parameters from strangers check the key against them):
// 1, or 0 when the library refuses a value.
int dsaParametersToKeyDomain(const DSAParameters& params, LvDsaKeyDomain& domain);
