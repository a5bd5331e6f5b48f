// DSA public value y (the INTEGER of a certificate's subjectPublicKey) and
// signature verification over a digest.
#pragma once

#include "asn1/asnint.h"
#include "pki/keys/dsaparms.h"

class DSAPublicKey : public ASNinteger {
 public:
  DSAPublicKey();

  // 3 when digestLen is not the digest length of hashType, else verify.
  int verifyDigest(const unsigned char* digest, int digestLen, int hashType,
                   const DSAParameters& params, const DSASignature& signature) const;
  // 0 valid, 1 not valid (or not encodable), 2 parameters or key unusable.
  // The key is checked against the parameters (1 < y < p, y^q = 1) before use.
  int verify(const unsigned char* digest, int digestLen, const DSAParameters& params,
             const DSASignature& signature) const;
};
