// The named-curve table and its domain objects, built from the published
// parameters (named_curve_params.inc, generated from `openssl ecparam`).
#include "crypto/asym/lvnamedcurves.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

struct CurveParams {
  const char* name;
  int binary;
  const char* a;
  const char* b;
  const char* field;
  const char* G;
  const char* n;
  const char* h;
};

const CurveParams kParams[] = {
#include "crypto/algebra/named_curve_params.inc"
};

// Row text and the parameter row (by name) of the domain the row uses.
struct RowText {
  LvWord id, isBinary, family;
  const char* oid;
  const char* displayName;
  const char* name;
  const char* alias;
  const char* domain;  // null: no domain object
};

// WTLS curve 3 is sect163k1 in the published WTLS list (openssl agrees); WTLS
// rows reuse the objects of the rows with the same parameters. Curve 7 stays on
// secp160r1 as the WTLS list gives it, although openssl maps it to secp160r2.
const RowText kRows[NamedCurveTable::kCount] = {
    {1, 0, 1, "1.3.132.0.6", "CERTICOM PRIME 112 R1", "secp112r1", nullptr, "secp112r1"},
    {2, 0, 1, "1.3.132.0.7", "CERTICOM PRIME 112 R2", "secp112r2", nullptr, "secp112r2"},
    {3, 0, 1, "1.3.132.0.28", "CERTICOM PRIME 128 R1", "secp128r1", nullptr, "secp128r1"},
    {4, 0, 1, "1.3.132.0.29", "CERTICOM PRIME 128 R2", "secp128r2", nullptr, "secp128r2"},
    {5, 0, 1, "1.3.132.0.9", "CERTICOM PRIME 160 K1", "secp160k1", nullptr, "secp160k1"},
    {6, 0, 1, "1.3.132.0.8", "CERTICOM PRIME 160 R1", "secp160r1", nullptr, "secp160r1"},
    {7, 0, 1, "1.3.132.0.30", "CERTICOM PRIME 160 R2", "secp160r2", nullptr, "secp160r2"},
    {8, 0, 1, "1.3.132.0.31", "CERTICOM PRIME 192 K1", "secp192k1", nullptr, "secp192k1"},
    {9, 0, 1, "1.2.840.10045.3.1.1", "CERTICOM PRIME 192 R1", "secp192r1", nullptr, "secp192r1"},
    {10, 0, 1, "1.3.132.0.32", "CERTICOM PRIME 224 K1", "secp224k1", nullptr, "secp224k1"},
    {11, 0, 1, "1.3.132.0.33", "CERTICOM PRIME 224 R1", "secp224r1", nullptr, "secp224r1"},
    {12, 0, 1, "1.3.132.0.10", "CERTICOM PRIME 256 K1", "secp256k1", nullptr, "secp256k1"},
    {13, 0, 1, "1.2.840.10045.3.1.7", "CERTICOM PRIME 256 R1", "secp256r1", nullptr, "secp256r1"},
    {14, 0, 1, "1.3.132.0.34", "CERTICOM PRIME 384 R1", "secp384r1", nullptr, "secp384r1"},
    {15, 0, 1, "1.3.132.0.35", "CERTICOM PRIME 521 R1", "secp521r1", nullptr, "secp521r1"},
    {16, 1, 1, "1.3.132.0.4", "CERTICOM BINARY 113 R1", "sect113r1", nullptr, "sect113r1"},
    {17, 1, 1, "1.3.132.0.5", "CERTICOM BINARY 113 R2", "sect113r2", nullptr, "sect113r2"},
    {18, 1, 1, "1.3.132.0.22", "CERTICOM BINARY 131 R1", "sect131r1", nullptr, "sect131r1"},
    {19, 1, 1, "1.3.132.0.23", "CERTICOM BINARY 131 R2", "sect131r2", nullptr, "sect131r2"},
    {20, 1, 1, "1.3.132.0.1", "CERTICOM BINARY 163 K1", "sect163k1", nullptr, "sect163k1"},
    {21, 1, 1, "1.3.132.0.2", "CERTICOM BINARY 163 R1", "sect163r1", nullptr, "sect163r1"},
    {22, 1, 1, "1.3.132.0.15", "CERTICOM BINARY 163 R2", "sect163r2", nullptr, "sect163r2"},
    {23, 1, 1, "1.3.132.0.24", "CERTICOM BINARY 193 R1", "sect193r1", nullptr, "sect193r1"},
    {24, 1, 1, "1.3.132.0.25", "CERTICOM BINARY 193 R2", "sect193r2", nullptr, "sect193r2"},
    {25, 1, 1, "1.3.132.0.26", "CERTICOM BINARY 233 K1", "sect233k1", nullptr, "sect233k1"},
    {26, 1, 1, "1.3.132.0.27", "CERTICOM BINARY 233 R1", "sect233r1", nullptr, "sect233r1"},
    {27, 1, 1, "1.3.132.0.3", "CERTICOM BINARY 239 K1", "sect239k1", nullptr, "sect239k1"},
    {28, 1, 1, "1.3.132.0.16", "CERTICOM BINARY 283 K1", "sect283k1", nullptr, "sect283k1"},
    {29, 1, 1, "1.3.132.0.17", "CERTICOM BINARY 283 R1", "sect283r1", nullptr, "sect283r1"},
    {30, 1, 1, "1.3.132.0.36", "CERTICOM BINARY 409 K1", "sect409k1", nullptr, "sect409k1"},
    {31, 1, 1, "1.3.132.0.37", "CERTICOM BINARY 409 R1", "sect409r1", nullptr, "sect409r1"},
    {32, 1, 1, "1.3.132.0.38", "CERTICOM BINARY 571 K1", "sect571k1", nullptr, "sect571k1"},
    {33, 1, 1, "1.3.132.0.39", "CERTICOM BINARY 571 R1", "sect571r1", nullptr, "sect571r1"},
    {34, 0, 2, nullptr, "FIPS186 PRIME P192", "nistp192", nullptr, "nistp192"},
    {35, 0, 2, nullptr, "FIPS186 PRIME P224", "nistp224", nullptr, "nistp224"},
    {36, 0, 2, nullptr, "FIPS186 PRIME P256", "nistp256", nullptr, "nistp256"},
    {37, 0, 2, nullptr, "FIPS186 PRIME P384", "nistp384", nullptr, "nistp384"},
    {38, 0, 2, nullptr, "FIPS186 PRIME P521", "nistp521", nullptr, "nistp521"},
    {39, 1, 2, nullptr, "FIPS186 BINARY K163", "nistk163", nullptr, "nistk163"},
    {40, 1, 2, nullptr, "FIPS186 BINARY B163", "nistb163", nullptr, "nistb163"},
    {41, 1, 2, nullptr, "FIPS186 BINARY K233", "nistk233", nullptr, "nistk233"},
    {42, 1, 2, nullptr, "FIPS186 BINARY B233", "nistb233", nullptr, "nistb233"},
    {43, 1, 2, nullptr, "FIPS186 BINARY K283", "nistk283", nullptr, "nistk283"},
    {44, 1, 2, nullptr, "FIPS186 BINARY B283", "nistb283", nullptr, "nistb283"},
    {45, 1, 2, nullptr, "FIPS186 BINARY K409", "nistk409", nullptr, "nistk409"},
    {46, 1, 2, nullptr, "FIPS186 BINARY B409", "nistb409", nullptr, "nistb409"},
    {47, 1, 2, nullptr, "FIPS186 BINARY K571", "nistk571", nullptr, "nistk571"},
    {48, 1, 2, nullptr, "FIPS186 BINARY B571", "nistb571", nullptr, "nistb571"},
    {49, 0, 3, "1.3.36.3.3.2.8.1.1.1", "BRAINPOOL PRIME 160 R1", "brainpoolP160r1", nullptr, "brainpoolP160r1"},
    {50, 0, 3, "1.3.36.3.3.2.8.1.1.2", "BRAINPOOL PRIME 160 T1", "brainpoolP160t1", nullptr, "brainpoolP160t1"},
    {51, 0, 3, "1.3.36.3.3.2.8.1.1.3", "BRAINPOOL PRIME 192 R1", "brainpoolP192r1", nullptr, "brainpoolP192r1"},
    {52, 0, 3, "1.3.36.3.3.2.8.1.1.4", "BRAINPOOL PRIME 192 T1", "brainpoolP192t1", nullptr, "brainpoolP192t1"},
    {53, 0, 3, "1.3.36.3.3.2.8.1.1.5", "BRAINPOOL PRIME 224 R1", "brainpoolP224r1", nullptr, "brainpoolP224r1"},
    {54, 0, 3, "1.3.36.3.3.2.8.1.1.6", "BRAINPOOL PRIME 224 T1", "brainpoolP224t1", nullptr, "brainpoolP224t1"},
    {55, 0, 3, "1.3.36.3.3.2.8.1.1.7", "BRAINPOOL PRIME 256 R1", "brainpoolP256r1", nullptr, "brainpoolP256r1"},
    {56, 0, 3, "1.3.36.3.3.2.8.1.1.8", "BRAINPOOL PRIME 256 T1", "brainpoolP256t1", nullptr, "brainpoolP256t1"},
    {57, 0, 3, "1.3.36.3.3.2.8.1.1.9", "BRAINPOOL PRIME 320 R1", "brainpoolP320r1", nullptr, "brainpoolP320r1"},
    {58, 0, 3, "1.3.36.3.3.2.8.1.1.10", "BRAINPOOL PRIME 320 T1", "brainpoolP320t1", nullptr, "brainpoolP320t1"},
    {59, 0, 3, "1.3.36.3.3.2.8.1.1.11", "BRAINPOOL PRIME 384 R1", "brainpoolP384r1", nullptr, "brainpoolP384r1"},
    {60, 0, 3, "1.3.36.3.3.2.8.1.1.12", "BRAINPOOL PRIME 384 T1", "brainpoolP384t1", nullptr, "brainpoolP384t1"},
    {61, 0, 3, "1.3.36.3.3.2.8.1.1.13", "BRAINPOOL PRIME 512 R1", "brainpoolP512r1", nullptr, "brainpoolP512r1"},
    {62, 0, 3, "1.3.36.3.3.2.8.1.1.14", "BRAINPOOL PRIME 512 T1", "brainpoolP512t1", nullptr, "brainpoolP512t1"},
    {63, 0, 4, "1.2.840.10045.3.1.1", "ANSI PRIME 192 V1", "prime192v1", "ansiX9p192r1", "secp192r1"},
    {64, 0, 4, "1.2.840.10045.3.1.2", "ANSI PRIME 192 V2", "prime192v2", nullptr, "prime192v2"},
    {65, 0, 4, "1.2.840.10045.3.1.3", "ANSI PRIME 192 V3", "prime192v3", nullptr, "prime192v3"},
    {66, 0, 4, "1.2.840.10045.3.1.4", "ANSI PRIME 239 V1", "prime239v1", nullptr, "prime239v1"},
    {67, 0, 4, "1.2.840.10045.3.1.5", "ANSI PRIME 239 V2", "prime239v2", nullptr, "prime239v2"},
    {68, 0, 4, "1.2.840.10045.3.1.6", "ANSI PRIME 239 V3", "prime239v3", nullptr, "prime239v3"},
    {69, 0, 4, "1.2.840.10045.3.1.7", "ANSI PRIME 256 V1", "prime256v1", "ansiX9p256r1", "secp256r1"},
    {70, 1, 4, "1.2.840.10045.3.0.1", "ANSI BINARY 163 V1", "c2pnb163v1", nullptr, "c2pnb163v1"},
    {71, 1, 4, "1.2.840.10045.3.0.2", "ANSI BINARY 163 V2", "c2pnb163v2", nullptr, "c2pnb163v2"},
    {72, 1, 4, "1.2.840.10045.3.0.3", "ANSI BINARY 163 V3", "c2pnb163v3", nullptr, "c2pnb163v3"},
    {73, 1, 4, "1.2.840.10045.3.0.4", "ANSI BINARY 176 W1", "c2pnb176w1", "c2pnb176v1", "c2pnb176w1"},
    {74, 1, 4, "1.2.840.10045.3.0.5", "ANSI BINARY 191 V1", "c2tnb191v1", nullptr, "c2tnb191v1"},
    {75, 1, 4, "1.2.840.10045.3.0.6", "ANSI BINARY 191 V2", "c2tnb191v2", nullptr, "c2tnb191v2"},
    {76, 1, 4, "1.2.840.10045.3.0.7", "ANSI BINARY 191 V3", "c2tnb191v3", nullptr, "c2tnb191v3"},
    {77, 1, 4, "1.2.840.10045.3.0.8", "ANSI BINARY 191 V4", "c2onb191v4", nullptr, nullptr},
    {78, 1, 4, "1.2.840.10045.3.0.9", "ANSI BINARY 191 V5", "c2onb191v5", nullptr, nullptr},
    {79, 1, 4, "1.2.840.10045.3.0.10", "ANSI BINARY 208 W1", "c2pnb208w1", nullptr, "c2pnb208w1"},
    {80, 1, 4, "1.2.840.10045.3.0.11", "ANSI BINARY 239 V1", "c2tnb239v1", nullptr, "c2tnb239v1"},
    {81, 1, 4, "1.2.840.10045.3.0.12", "ANSI BINARY 239 V2", "c2tnb239v2", nullptr, "c2tnb239v2"},
    {82, 1, 4, "1.2.840.10045.3.0.13", "ANSI BINARY 239 V3", "c2tnb239v3", nullptr, "c2tnb239v3"},
    {83, 1, 4, "1.2.840.10045.3.0.14", "ANSI BINARY 239 V4", "c2onb239v4", nullptr, nullptr},
    {84, 1, 4, "1.2.840.10045.3.0.15", "ANSI BINARY 239 V5", "c2onb239v5", nullptr, nullptr},
    {85, 1, 4, "1.2.840.10045.3.0.16", "ANSI BINARY 272 W1", "c2pnb272w1", nullptr, "c2pnb272w1"},
    {86, 1, 4, "1.2.840.10045.3.0.17", "ANSI BINARY 304 W1", "c2pnb304w1", nullptr, "c2pnb304w1"},
    {87, 1, 4, "1.2.840.10045.3.0.18", "ANSI BINARY 359 V1", "c2pnb359v1", nullptr, "c2pnb359v1"},
    {88, 1, 4, "1.2.840.10045.3.0.19", "ANSI BINARY 368 W1", "c2pnb368w1", nullptr, "c2pnb368w1"},
    {89, 1, 4, "1.2.840.10045.3.0.20", "ANSI BINARY 431 R1", "c2pnb431r1", nullptr, "c2pnb431r1"},
    {90, 1, 5, "2.23.43.1.4.1", "WTLS BINARY 1 113", "wap-wsg-idm-ecid-wtls1", nullptr, "wap-wsg-idm-ecid-wtls1"},
    {91, 1, 5, "2.23.43.1.4.3", "WTLS BINARY 3 163", "wap-wsg-idm-ecid-wtls3", nullptr, "sect163k1"},
    {92, 1, 5, "2.23.43.1.4.4", "WTLS BINARY 4 113", "wap-wsg-idm-ecid-wtls4", nullptr, "sect113r1"},
    {93, 1, 5, "2.23.43.1.4.5", "WTLS BINARY 5 163", "wap-wsg-idm-ecid-wtls5", nullptr, "c2pnb163v1"},
    {94, 0, 5, "2.23.43.1.4.6", "WTLS PRIME 6 112", "wap-wsg-idm-ecid-wtls6", nullptr, "secp112r1"},
    {95, 0, 5, "2.23.43.1.4.7", "WTLS PRIME 7 160", "wap-wsg-idm-ecid-wtls7", nullptr, "secp160r1"},
    {96, 0, 5, "2.23.43.1.4.8", "WTLS PRIME 8 112", "wap-wsg-idm-ecid-wtls8", nullptr, "wap-wsg-idm-ecid-wtls8"},
    {97, 0, 5, "2.23.43.1.4.9", "WTLS PRIME 9 160", "wap-wsg-idm-ecid-wtls9", nullptr, "wap-wsg-idm-ecid-wtls9"},
    {98, 1, 5, "2.23.43.1.4.10", "WTLS BINARY 12 233", "wap-wsg-idm-ecid-wtls10", nullptr, "sect233k1"},
    {99, 1, 5, "2.23.43.1.4.11", "WTLS BINARY 11 233", "wap-wsg-idm-ecid-wtls11", nullptr, "sect233r1"},
    {100, 0, 5, "2.23.43.1.4.12", "WTLS PRIME 12 224", "wap-wsg-idm-ecid-wtls12", nullptr, "secp224r1"},
};

constexpr unsigned int kParamCount = sizeof kParams / sizeof kParams[0];

// One domain object per parameter set, made on first use. Building all of
// them up front cost about a millisecond each, for curves most processes
// never meet.
struct Slot {
  std::once_flag once;
  std::unique_ptr<LvEpDsaKeyDomain> prime;
  std::unique_ptr<LvE2nDsaKeyDomain> binary;
  std::atomic<bool> ready{false};  // for isBuilt(), which may race a builder
};
Slot gSlots[kParamCount];
std::atomic<unsigned int> gBuilt{0};

Slot& built(int slot) {
  Slot& s = gSlots[slot];
  std::call_once(s.once, [&s, slot] {
    const CurveParams& c = kParams[slot];
    if (c.binary)
      s.binary.reset(new LvE2nDsaKeyDomain(c.a, c.b, c.field, c.G, c.n, c.h, LV_DOMAIN_VALID));
    else
      s.prime.reset(new LvEpDsaKeyDomain(c.a, c.b, c.field, c.G, c.n, c.h, LV_DOMAIN_VALID));
    s.ready.store(true, std::memory_order_release);
    gBuilt.fetch_add(1, std::memory_order_relaxed);
  });
  return s;
}

int slotOf(const char* name) {
  if (!name) return -1;
  for (unsigned int i = 0; i < kParamCount; i++)
    if (std::strcmp(kParams[i].name, name) == 0) return static_cast<int>(i);
  return -1;
}

// The rows refer to parameter sets by index: cheap to make, nothing built.
struct Rows {
  LvNamedCurve rows[NamedCurveTable::kCount];
  int slot[NamedCurveTable::kCount];

  Rows() {
    for (unsigned int r = 0; r < NamedCurveTable::kCount; r++) {
      const RowText& t = kRows[r];
      const int i = slotOf(t.domain);
      slot[r] = i;
      const bool binary = i >= 0 && kParams[i].binary;
      rows[r] = LvNamedCurve{t.id, t.isBinary, t.family, t.oid, t.displayName,
                             LvNamedDomainRef<LvEpDsaKeyDomain>(i >= 0 && !binary ? i : -1),
                             LvNamedDomainRef<LvE2nDsaKeyDomain>(binary ? i : -1), t.name,
                             t.alias};
    }
  }
};

const Rows& table() {
  static const Rows r;
  return r;
}

}  // namespace

template <>
const LvEpDsaKeyDomain* LvNamedDomainRef<LvEpDsaKeyDomain>::get() const {
  return slot_ < 0 ? nullptr : built(slot_).prime.get();
}

template <>
const LvE2nDsaKeyDomain* LvNamedDomainRef<LvE2nDsaKeyDomain>::get() const {
  return slot_ < 0 ? nullptr : built(slot_).binary.get();
}

const unsigned int NamedCurveTable::kNoDomainIds[4] = {77, 78, 83, 84};

const LvNamedCurve* NamedCurveTable::rows() { return table().rows; }

const LvNamedCurve* NamedCurveTable::byId(unsigned int id) {
  if (id < 1 || id > kCount) return nullptr;
  return &rows()[id - 1];
}

bool NamedCurveTable::params(unsigned int id, Params* out) {
  if (id < 1 || id > kCount) return false;
  const int i = table().slot[id - 1];
  if (i < 0) return false;
  const CurveParams& c = kParams[i];
  if (out) *out = Params{c.a, c.b, c.field, c.G, c.n, c.h};
  return true;
}

unsigned int NamedCurveTable::builtCount() { return gBuilt.load(std::memory_order_relaxed); }

bool NamedCurveTable::isBuilt(unsigned int id) {
  if (id < 1 || id > kCount) return false;
  const int i = table().slot[id - 1];
  if (i < 0) return false;
  return gSlots[i].ready.load(std::memory_order_acquire);
}
