// The named elliptic curves: 100 rows with their ids, family, OID, display
// name, standard name and alias, and the 86 domain objects (curves over GF(p)
// and over GF(2^m)) that 96 of the rows refer to. Each domain object is built
// on its first use, so a process that uses one curve pays for that one only.
#pragma once

#include <cstddef>

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

// A row's reference to its domain object, built (thread-safe) on the first
// dereference or conversion to a pointer. Testing it against null and
// comparing two references build nothing.
template <class D>
class LvNamedDomainRef {
 public:
  constexpr LvNamedDomainRef() : slot_(-1) {}
  constexpr explicit LvNamedDomainRef(int slot) : slot_(slot) {}
  // The domain object, built if need be; null when the row has none.
  const D* get() const;
  operator const D*() const { return get(); }
  const D* operator->() const { return get(); }
  const D& operator*() const { return *get(); }
  explicit operator bool() const { return slot_ >= 0; }
  friend bool operator==(LvNamedDomainRef x, LvNamedDomainRef y) { return x.slot_ == y.slot_; }
  friend bool operator!=(LvNamedDomainRef x, LvNamedDomainRef y) { return x.slot_ != y.slot_; }
  friend bool operator==(LvNamedDomainRef x, std::nullptr_t) { return x.slot_ < 0; }
  friend bool operator!=(LvNamedDomainRef x, std::nullptr_t) { return x.slot_ >= 0; }

 private:
  int slot_;  // index of the parameter set; -1: none
};

// One row of the table.
struct LvNamedCurve {
  LvWord id;          // 1..100, the row's position counted from 1
  LvWord isBinary;    // 0 GF(p), 1 GF(2^m)
  LvWord family;
  const char* oid;    // dotted text; null on the FIPS 186 rows
  const char* displayName;
  LvNamedDomainRef<LvEpDsaKeyDomain> primeDomain;   // set when isBinary is 0 (and a domain exists)
  LvNamedDomainRef<LvE2nDsaKeyDomain> binaryDomain; // set when isBinary is 1 (and a domain exists)
  const char* name;
  const char* alias;  // null except on three rows
};

class NamedCurveTable {
 public:
  static constexpr unsigned int kCount = 100;
  static constexpr unsigned int kDomainCount = 86;
  // The rows in id order. A domain object is built, valid, on its first use
  // (thread-safe) and lives until the program ends.
  static const LvNamedCurve* rows();
  // The row of an id, or null outside 1..100.
  static const LvNamedCurve* byId(unsigned int id);
  // Ids whose rows have no domain object (the Gaussian-normal-basis curves).
  static const unsigned int kNoDomainIds[4];

  // The published parameters of a row's domain as hexadecimal texts (a, b,
  // the prime or reduction polynomial, the base point, order and cofactor),
  // read without building the domain; false for a row without one.
  struct Params {
    const char *a, *b, *field, *G, *n, *h;
  };
  static bool params(unsigned int id, Params* out);
  // How many domain objects have been built so far, and whether a row's has.
  static unsigned int builtCount();
  static bool isBuilt(unsigned int id);
};

template <>
const LvEpDsaKeyDomain* LvNamedDomainRef<LvEpDsaKeyDomain>::get() const;
template <>
const LvE2nDsaKeyDomain* LvNamedDomainRef<LvE2nDsaKeyDomain>::get() const;
