// Elliptic-curve domain parameters (X9.62 ECParameters with the explicit
// SpecifiedECDomain of SEC 1), their bridge to the library's curve domains,
// and the readers of the named-curve table.
#pragma once

#include "asn1/asnbitst.h"
#include "asn1/asnbool.h"
#include "asn1/asnchoice.h"
#include "asn1/asnint.h"
#include "asn1/asnobjid.h"
#include "asn1/asnocstr.h"
#include "crypto/asym/lve2ndsakeydomain.h"
#include "crypto/asym/lvkeydomain.h"
#include "crypto/asym/lvnamedcurves.h"
#include "pki/common/algid.h"
#include "pki/names/dname.h"
#include "pki/keys/dsaparms.h"

#include <atomic>
#include <memory>

// ppBasis exponents k1, k2, k3 (the three-INTEGER layout of DSAParameters).
class ECBasisPentanomial : public DSAParameters {
 public:
  explicit ECBasisPentanomial(unsigned char tag = 0) : DSAParameters(tag) {}
  ASNinteger& k1() { return p; }
  ASNinteger& k2() { return q; }
  ASNinteger& k3() { return g; }
  const ASNinteger& k1() const { return p; }
  const ASNinteger& k2() const { return q; }
  const ASNinteger& k3() const { return g; }
};

// Basis parameters: NULL (gnBasis), INTEGER k (tpBasis) or the pentanomial.
class ECE2NFileldParameters : public ASNchoice {
 public:
  // 0x30 chooses the pentanomial, 0x02 the trinomial, anything else NULL.
  explicit ECE2NFileldParameters(unsigned char tag = 5);
  ECE2NFileldParameters(const ECE2NFileldParameters& other);
  ECE2NFileldParameters& operator=(const ECE2NFileldParameters& other);
  ASNobject* const* objectList() const override { return list; }

  ASNnull gnBasis;
  ASNinteger tpBasis;
  ECBasisPentanomial ppBasis;

 private:
  ASNobject* list[4];
};

// X9.62 Characteristic-two: m, basis OID, basis parameters.
class ECE2NFileld : public ASNsequenceF {
 public:
  explicit ECE2NFileld(unsigned char tag = 0);
  ~ECE2NFileld() override;

  void clear() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNinteger m;
  ASNobjectId basis;
  ECE2NFileldParameters parameters;
};

class ECCurve : public ASNsequenceF {
 public:
  explicit ECCurve(unsigned char tag = 0);
  ECCurve(const ECCurve& other);
  ~ECCurve() override;
  ECCurve& operator=(const ECCurve& other);
  bool operator==(const ECCurve& other) const;

  void clear() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNoctstr a;
  ASNoctstr b;
  ASNbitstr seed;
  unsigned char seedPresent;
};

class ECSpecifiedDomain : public ASNsequenceF {
 public:
  explicit ECSpecifiedDomain(unsigned char tag = 0);
  ~ECSpecifiedDomain() override;
  // Copies every member and what was found of the curve; a curve of no name
  // is built again by the copy when first used.
  ECSpecifiedDomain& operator=(const ECSpecifiedDomain& other);
  // Explicit-parameter match of the named-curve search (hash not compared).
  bool operator==(const ECSpecifiedDomain& other) const;

  // The library domain (null when none). A decoded domain was validated, but a
  // curve of no name is built only here, on first use, validated again from
  // the members (an arithmetic of it keeps a hundred times the octets it came
  // from); std::bad_alloc ("bad allocation") when that runs out of memory.
  // A named curve's explicit form gives the table's own domain.
  const LvGeneralDsaKeyDomain* getKeyDomain() const;
  // True when the parameters are those of a curve of the named-curve table.
  bool isNamedCurve() const { return curveKind == CURVE_NAMED; }
  unsigned int getFieldBits() const;
  // From a library domain of type 3 or 2; false for others or on failure.
  bool setFromKeyDomain(const LvGeneralDsaKeyDomain* domain);

  void clear() override;
  int decodeContent(GenericFile* in, int length) override;
  int encodeContent(GenericFile* out) const override;
  int contentLength() const override;
  void digestContent(LvHash* hash) const override;

  ASNinteger version;
  AttributeValue fieldID;
  ECCurve curve;
  ASNoctstr base;
  ASNinteger order;
  ASNinteger cofactor;
  AlgorithmIdentifier hash;
  unsigned char cofactorPresent;
  unsigned char hashPresent;

 private:
  enum { CURVE_NONE = 0, CURVE_NAMED = 1, CURVE_OWN = 2 };
  // Finds the curve and validates it (decode, setFromKeyDomain): 1 usable, 0
  // unusable, -2 out of memory. Keeps no domain of its own.
  int prepare();
  // Builds and validates this object's own domain into `ep` or `e2n`; `named`
  // is set when it equals a row of the table. Same answers as prepare.
  int build(const LvNamedCurve** named) const;
  int toEpKeyDomain(const LvNamedCurve** named) const;
  int toE2nKeyDomain(const LvNamedCurve** named) const;
  // Checks what a stranger's parameters could abuse (field size, prime
  // modulus, order and cofactor, generator); 1, 0 unusable, -2 memory.
  static int checkDomain(LvGeneralDsaKeyDomain& domain, const LvN& fieldSize,
                         unsigned int fieldBits, const LvNamedCurve** named);
  bool setFromEpKeyDomain(const LvEpDsaKeyDomain& d);
  bool setFromE2nKeyDomain(const LvE2nDsaKeyDomain& d);
  void dropOwnDomain();
  // Made on first use, for a curve of no name only.
  mutable std::unique_ptr<LvEpDsaKeyDomain> ep;
  mutable std::unique_ptr<LvE2nDsaKeyDomain> e2n;
  int curveKind;
  // The table's domain (CURVE_NAMED) or the own one once built (CURVE_OWN);
  // written once under a lock by getKeyDomain, which concurrent readers of
  // one decoded key may call.
  mutable std::atomic<const LvGeneralDsaKeyDomain*> prepared;
};

// ECParameters: specifiedCurve, namedCurve or implicitlyCA.
class ECDomainParameters : public ASNchoice {
 public:
  enum { KIND_NONE = 0, KIND_SPECIFIED = 1, KIND_NAMED = 2, KIND_IMPLICIT = 3 };
  // 0x30 chooses specifiedCurve, 0x06 namedCurve, any other tag implicitlyCA.
  explicit ECDomainParameters(unsigned char tag = 0x30);
  ECDomainParameters(const ECDomainParameters& other);
  ECDomainParameters& operator=(const ECDomainParameters& other);
  ASNobject* const* objectList() const override { return list; }

  int kind() const;
  const LvGeneralDsaKeyDomain* getKeyDomain() const;
  unsigned int getFieldBits() const;
  unsigned int getFieldOctets() const { return (getFieldBits() + 7) / 8; }

  ECSpecifiedDomain specifiedCurve;
  ASNobjectId namedCurve;
  ASNnull implicitlyCA;

 private:
  ASNobject* list[4];
};

// ---- named-curve readers (never throw; null or 0 when not found) ----
const LvNamedCurve* findNamedCurveById(int id);
const LvNamedCurve* findNamedCurve(const ASNobjectId& oid);
const LvGeneralDsaKeyDomain* namedCurveKeyDomain(const ASNobjectId& oid);
const LvNamedCurve* findNextNamedCurveByKeyDomain(const LvGeneralDsaKeyDomain* domain, int afterId);
const LvNamedCurve* findNamedCurveBySpecifiedDomain(const ECSpecifiedDomain& specifiedDomain,
                                                    bool requireOid);
bool namedCurveToSpecifiedDomain(int id, ECSpecifiedDomain& specifiedDomain);
unsigned int namedCurveFieldBits(const LvNamedCurve* record);
unsigned int keyDomainFieldBits(const LvGeneralDsaKeyDomain* domain);
// The named curve's OID as an object (false for rows without one).
bool namedCurveOid(const LvNamedCurve* record, ASNobjectId& out);
