// The named elliptic curves: 100 rows with their ids, family, OID, display
// name, standard name and alias, and the 86 domain objects (curves over GF(p)
// and over GF(2^m)) that 96 of the rows refer to.
#pragma once

#include "crypto/asym/lve2ndsakeydomain.h"
#include "crypto/asym/lvkeydomain.h"

// Families.
enum : LvWord {
  LV_CURVE_SEC2 = 1,      // "CERTICOM"
  LV_CURVE_FIPS186 = 2,   // "FIPS186"
  LV_CURVE_BRAINPOOL = 3, // "BRAINPOOL"
  LV_CURVE_ANSI = 4,      // "ANSI"
  LV_CURVE_WTLS = 5       // "WTLS"
};

// One row of the table.
struct LvNamedCurve {
  LvWord id;          // 1..100, the row's position counted from 1
  LvWord isBinary;    // 0 GF(p), 1 GF(2^m)
  LvWord family;
  const char* oid;    // dotted text; null on the FIPS 186 rows
  const char* displayName;
  const LvEpDsaKeyDomain* primeDomain;   // set when isBinary is 0 (and a domain exists)
  const LvE2nDsaKeyDomain* binaryDomain; // set when isBinary is 1 (and a domain exists)
  const char* name;
  const char* alias;  // null except on three rows
};

class NamedCurveTable {
 public:
  static constexpr unsigned int kCount = 100;
  static constexpr unsigned int kDomainCount = 86;
  // The rows in id order. The domain objects are built, valid, on the first
  // call (thread-safe) and live until the program ends.
  static const LvNamedCurve* rows();
  // The row of an id, or null outside 1..100.
  static const LvNamedCurve* byId(unsigned int id);
  // Ids whose rows have no domain object (the Gaussian-normal-basis curves).
  static const unsigned int kNoDomainIds[4];
};
