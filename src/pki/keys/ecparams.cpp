#include "pki/keys/ecparams.h"

#include "base/commonerror.h"
#include "base/memfile.h"
#include "crypto/algebra/lvnumbers.h"
#include "crypto/basic/lvconv.h"
#include "crypto/basic/lvexception.h"
#include "pki/common/keymembers.h"
#include "pki/common/oids.h"
#include "pki/common/pkiasn.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

using namespace keyasn;

namespace {

// Field sizes a curve from outside may have: the curve layer runs GF(p) up
// to 1024 bits and GF(2^m) up to m = 1024; below 64 bits no curve is of use.
constexpr unsigned int kMinFieldBits = 64;
constexpr unsigned int kMaxFieldBits = 1024;
// Largest cofactor the library's domain validation admits (curves from outside that are not
// named curves).
constexpr unsigned int kMaxCofactor = 8;

struct PreparationFailed {};

bool sameOctets(const unsigned char* a, int la, const unsigned char* b, int lb) {
  return la == lb && (la == 0 || std::memcmp(a, b, static_cast<size_t>(la)) == 0);
}

bool sameOctstr(const ASNoctstr& a, const ASNoctstr& b) {
  return sameOctets(a.data(), a.length, b.data(), b.length);
}

// An INTEGER's value as a library number.
LvN intValue(const ASNinteger& v) {
  unsigned int n = 0;
  const unsigned char* d = intBytes(v, &n);
  return d ? LvN(d, n) : LvN(0u, 1);
}

// Maps an exception met while a domain is filled: memory surfaces as
// std::bad_alloc, anything else the library refuses makes it unusable.
template <class F>
int fillDomain(F&& body) {
  try {
    body();
    return 1;
  } catch (const LvMemException&) {
    return EASN_MEM;
  } catch (const std::bad_alloc&) {
    return EASN_MEM;
  } catch (const LvException&) {
    return 0;
  } catch (const PreparationFailed&) {
    return 0;
  }
}

// Base-point rule of the explicit-parameter match.
bool basePointsMatch(const unsigned char* A, int LA, const unsigned char* B, int LB) {
  if (LA == 0 || LB == 0) return LA == 0 && LB == 0;
  int a = LA - 1, b = LB - 1;
  unsigned char FA = A[0], FB = B[0];
  if (FA == 0 || FB == 0) {
    if (a == 0 && b == 0 && FA == FB) return true;
    return sameOctets(A, LA, B, LB);
  }
  if ((FA & 0x04) && (FB & 0x04)) {
    if (a != b) return false;
    if (a % 2 == 0) return std::memcmp(A + 1, B + 1, static_cast<size_t>(a)) == 0;
    return std::memcmp(A, B, static_cast<size_t>(LA)) == 0;
  }
  if ((FA & 0x04) && a % 2 == 0) {
    FA = static_cast<unsigned char>(FA & ~0x04);
    if (FA == 0) FA = 2;
    a /= 2;
  }
  if ((FB & 0x04) && b % 2 == 0) {
    FB = static_cast<unsigned char>(FB & ~0x04);
    if (FB == 0) FB = 2;
    b /= 2;
  }
  auto compressedForm = [](unsigned char f) {
    return f == 1 || f == 2 || f == 3 || f == 0x0A || f == 0x0B;
  };
  if (compressedForm(FA) && compressedForm(FB)) {
    if (a != b) return false;
    if (FA == 1 || FB == 1) return std::memcmp(A + 1, B + 1, static_cast<size_t>(a)) == 0;
    bool pairA = FA == 2 || FA == 3, pairB = FB == 2 || FB == 3;
    if (pairA == pairB)
      return (FA & 1) == (FB & 1) && std::memcmp(A + 1, B + 1, static_cast<size_t>(a)) == 0;
  }
  return sameOctets(A, LA, B, LB);
}

// Equality of two library domains of the same type (the named-curve search).
bool keyDomainsEqual(const LvGeneralDsaKeyDomain* x, const LvGeneralDsaKeyDomain* y) {
  if (!x || !y || !x->isReady() || !y->isReady() || x->getDomainType() != y->getDomainType())
    return false;
  const unsigned int type = x->getDomainType();
  std::vector<unsigned char> bx(4096), by(4096);
  auto eq = [&](unsigned int nx, unsigned int ny) {
    return nx == ny && std::memcmp(bx.data(), by.data(), nx) == 0;
  };
  if (type == LV_DOMAIN_EP_DSA) {
    auto* ex = static_cast<const LvEpDsaKeyDomain*>(x);
    auto* ey = static_cast<const LvEpDsaKeyDomain*>(y);
    if (!eq(ex->getP(bx.data(), 4096), ey->getP(by.data(), 4096))) return false;
    if (!eq(ex->getA(bx.data(), 4096), ey->getA(by.data(), 4096))) return false;
    if (!eq(ex->getB(bx.data(), 4096), ey->getB(by.data(), 4096))) return false;
    if (!eq(ex->getGen(bx.data(), 4096), ey->getGen(by.data(), 4096))) return false;
    if (LvN(ex->getOrder()) != LvN(ey->getOrder())) return false;
    const LvN& hx = ex->getCofactor();
    const LvN& hy = ey->getCofactor();
    return hx.isZero() || hy.isZero() || hx == hy;
  }
  if (type == LV_DOMAIN_E2N_DSA) {
    auto* ex = static_cast<const LvE2nDsaKeyDomain*>(x);
    auto* ey = static_cast<const LvE2nDsaKeyDomain*>(y);
    unsigned int mx = 0, my = 0;
    if (!eq(ex->getPolynomial(&mx, bx.data(), 4096), ey->getPolynomial(&my, by.data(), 4096)) ||
        mx != my)
      return false;
    if (!eq(ex->getA(bx.data(), 4096), ey->getA(by.data(), 4096))) return false;
    if (!eq(ex->getB(bx.data(), 4096), ey->getB(by.data(), 4096))) return false;
    if (!eq(ex->getGen(bx.data(), 4096), ey->getGen(by.data(), 4096))) return false;
    if (LvN(ex->getOrder()) != LvN(ey->getOrder())) return false;
    return ex->getCofactor() == ey->getCofactor();
  }
  return false;
}

// DER contents of the table's OIDs, made once.
struct CurveOids {
  std::vector<unsigned char> der[NamedCurveTable::kCount];
};

const CurveOids& curveOids() {
  static const CurveOids* table = [] {
    auto* t = new CurveOids();
    const LvNamedCurve* rows = NamedCurveTable::rows();
    for (unsigned int i = 0; i < NamedCurveTable::kCount; ++i) {
      if (!rows[i].oid) continue;
      int n = ASNobjectId::textToDer(rows[i].oid, nullptr, nullptr, 0);
      if (n <= 0) continue;
      t->der[i].resize(static_cast<size_t>(n));
      ASNobjectId::textToDer(rows[i].oid, nullptr, t->der[i].data(), n);
    }
    return t;
  }();
  return *table;
}

const LvGeneralDsaKeyDomain* recordDomain(const LvNamedCurve* r) {
  if (!r) return nullptr;
  return r->isBinary ? static_cast<const LvGeneralDsaKeyDomain*>(r->binaryDomain)
                     : static_cast<const LvGeneralDsaKeyDomain*>(r->primeDomain);
}

// The one cofactor Hasse's bound admits for a field of q elements and a point
// of order n: round((q + 1) / n).
LvN impliedCofactor(const LvN& q, const LvN& n) { return (q + 1u + (n / 2u)) / n; }

// An unsigned big-endian value without its leading zeros.
struct Magnitude {
  const unsigned char* d;
  size_t n;
};

Magnitude magnitude(const unsigned char* d, size_t n) {
  while (n > 0 && *d == 0) {
    ++d;
    --n;
  }
  return {d, n};
}

bool sameMagnitude(Magnitude x, Magnitude y) {
  x = magnitude(x.d, x.n);
  y = magnitude(y.d, y.n);
  return x.n == y.n && (x.n == 0 || std::memcmp(x.d, y.d, x.n) == 0);
}

Magnitude magnitudeOf(const ASNoctstr& v) {
  return {v.data(), v.data() && v.length > 0 ? static_cast<size_t>(v.length) : 0};
}

// The row of the table whose prime curve the explicit parameters state, read
// from their octets alone: building a curve to compare keeps a hundred times
// them. Null when none matches, or when an encoding is one this reading does
// not take (a field element longer than the field, a hybrid point): the
// built comparison decides those.
const LvNamedCurve* namedPrimeCurveOf(Magnitude p, const ASNoctstr& a, const ASNoctstr& b,
                                      const ASNoctstr& base, const ASNinteger& order,
                                      const ASNinteger* cofactor) {
  constexpr size_t kMaxOctets = kMaxFieldBits / 8;
  p = magnitude(p.d, p.n);
  const size_t m = p.n;
  const unsigned char* g = base.data();
  const size_t gl = g && base.length > 0 ? static_cast<size_t>(base.length) : 0;
  if (m == 0 || m > kMaxOctets || static_cast<size_t>(a.length) > m ||
      static_cast<size_t>(b.length) > m)
    return nullptr;
  bool compressed = false;
  if (gl == 2 * m + 1 && g[0] == 0x04)
    compressed = false;
  else if (gl == m + 1 && (g[0] == 0x02 || g[0] == 0x03))
    compressed = true;
  else
    return nullptr;
  unsigned int nn = 0;
  const unsigned char* nd = intBytes(order, &nn);
  const Magnitude n = {nd, nn};
  unsigned int nh = 0;
  const unsigned char* hd = cofactor ? intBytes(*cofactor, &nh) : nullptr;
  try {
    for (int id = 1; id <= static_cast<int>(NamedCurveTable::kCount); ++id) {
      const LvNamedCurve* r = findNamedCurveById(id);
      NamedCurveTable::Params t;
      // the published texts, so that matching builds none of the table's curves
      if (!r || r->isBinary || !NamedCurveTable::params(static_cast<unsigned int>(id), &t))
        continue;
      const LvConvOS tp(t.field), ta(t.a), tb(t.b), tn(t.n), tg(t.G);
      auto mag = [](const LvConvOS& v) { return Magnitude{v.ptr(), v.getLength()}; };
      if (!sameMagnitude(p, mag(tp)) || !sameMagnitude(magnitudeOf(a), mag(ta)) ||
          !sameMagnitude(magnitudeOf(b), mag(tb)) || !sameMagnitude(n, mag(tn)))
        continue;
      // the table's generator as published, uncompressed (x and y of m
      // octets) or compressed (x and the parity of y)
      const unsigned char* buf = tg.ptr();
      const unsigned int tl = tg.getLength();
      if (tl == 2 * m + 1 && buf[0] == 0x04) {
        if (compressed ? std::memcmp(g + 1, buf + 1, m) != 0 || (g[0] & 1) != (buf[2 * m] & 1)
                       : std::memcmp(g, buf, gl) != 0)
          continue;
      } else if (tl == m + 1 && (buf[0] == 0x02 || buf[0] == 0x03)) {
        if (std::memcmp(g + 1, buf + 1, m) != 0 ||
            (compressed ? g[0] != buf[0] : (g[gl - 1] & 1) != (buf[0] & 1)))
          continue;
      } else {
        continue;
      }
      // a cofactor absent (or zero) is the implied one; the table's, when it
      // has one, must be the same
      const LvConvOS th(t.h);
      const LvN tableCofactor(th.ptr(), th.getLength());
      if (!tableCofactor.isZero()) {
        LvN h = hd ? LvN(hd, nh) : LvN(0u, 1);
        if (h.isZero()) h = impliedCofactor(LvN(p.d, static_cast<unsigned int>(m)), LvN(nd, nn));
        if (h != tableCofactor) continue;
      }
      return r;
    }
  } catch (const LvException&) {
  }
  return nullptr;
}

// Guards the first building of a domain of no name by concurrent readers.
std::mutex& ownDomainLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

// ---- ECE2NFileldParameters ----

ECE2NFileldParameters::ECE2NFileldParameters(unsigned char t)
    : ASNchoice(0), gnBasis(), tpBasis(), ppBasis(), list{&gnBasis, &tpBasis, &ppBasis, nullptr} {
  if (t == 0x30)
    choose(&ppBasis);
  else if (t == 0x02)
    choose(&tpBasis);
  else
    choose(&gnBasis);
}

ECE2NFileldParameters::ECE2NFileldParameters(const ECE2NFileldParameters& o)
    : ASNchoice(0), gnBasis(), tpBasis(), ppBasis(), list{&gnBasis, &tpBasis, &ppBasis, nullptr} {
  *this = o;
}

ECE2NFileldParameters& ECE2NFileldParameters::operator=(const ECE2NFileldParameters& o) {
  if (this == &o) return *this;
  tpBasis = o.tpBasis;
  ppBasis = o.ppBasis;
  int i = o.chosenIndex();
  if (i >= 0)
    chooseByIndex(i);
  else
    m_chosenObject = nullptr;
  return *this;
}

// ---- ECE2NFileld ----

ECE2NFileld::ECE2NFileld(unsigned char t) : ASNsequenceF(t), m(), basis(), parameters() {}
ECE2NFileld::~ECE2NFileld() = default;

void ECE2NFileld::clear() {
  m.clear();
  basis.clear();
  parameters.clear();
}

int ECE2NFileld::decodeContent(GenericFile* in, int length) {
  clear();
  ASNobject* const mm[] = {&m, &basis, &parameters};
  int taken = 0;
  int r = decodeMembers(in, length, memberFlags(), mm, 3, &taken);
  if (r != 1) return r;
  return taken == length ? 1 : 0;
}

int ECE2NFileld::encodeContent(GenericFile* out) const {
  const ASNobject* const mm[] = {&m, &basis, &parameters};
  return encodeMembers(out, mm, 3);
}

int ECE2NFileld::contentLength() const {
  const ASNobject* const mm[] = {&m, &basis, &parameters};
  return membersLength(mm, 3);
}

void ECE2NFileld::digestContent(LvHash* h) const {
  const ASNobject* const mm[] = {&m, &basis, &parameters};
  digestMembers(h, mm, 3);
}

// ---- ECCurve ----

ECCurve::ECCurve(unsigned char t) : ASNsequenceF(t), a(), b(), seed(), seedPresent(0) {}
ECCurve::ECCurve(const ECCurve& o)
    : ASNsequenceF(o), a(o.a), b(o.b), seed(o.seed), seedPresent(o.seedPresent) {}
ECCurve::~ECCurve() = default;

ECCurve& ECCurve::operator=(const ECCurve& o) {
  if (this != &o) {
    a = o.a;
    b = o.b;
    seed = o.seed;
    seedPresent = o.seedPresent;
  }
  return *this;
}

bool ECCurve::operator==(const ECCurve& o) const {
  return sameOctstr(a, o.a) && sameOctstr(b, o.b) && seedPresent == o.seedPresent &&
         (!seedPresent || seed == o.seed);
}

void ECCurve::clear() {
  a.clear();
  b.clear();
  seed.clear();
  seedPresent = 0;
}

int ECCurve::decodeContent(GenericFile* in, int length) {
  clear();
  ASNobject* const mm[] = {&a, &b};
  int taken = 0;
  int r = decodeMembers(in, length, memberFlags(), mm, 2, &taken);
  if (r != 1) return r;
  if (taken < length) {
    if (asnPeekIdentifier(in) != 0x03) return 0;
    ASNobject* const s[] = {&seed};
    r = decodeMembers(in, length, memberFlags(), s, 1, &taken);
    if (r != 1) return r;
    seedPresent = 1;
  }
  return taken == length ? 1 : 0;
}

int ECCurve::encodeContent(GenericFile* out) const {
  const ASNobject* const mm[] = {&a, &b, seedPresent ? &seed : nullptr};
  return encodeMembers(out, mm, 3);
}

int ECCurve::contentLength() const {
  const ASNobject* const mm[] = {&a, &b, seedPresent ? &seed : nullptr};
  return membersLength(mm, 3);
}

void ECCurve::digestContent(LvHash* h) const {
  const ASNobject* const mm[] = {&a, &b, seedPresent ? &seed : nullptr};
  digestMembers(h, mm, 3);
}

// ---- ECSpecifiedDomain ----

ECSpecifiedDomain::ECSpecifiedDomain(unsigned char t)
    : ASNsequenceF(t),
      version(),
      fieldID(),
      curve(),
      base(),
      order(),
      cofactor(),
      hash(),
      cofactorPresent(0),
      hashPresent(0),
      ep(),
      e2n(),
      curveKind(CURVE_NONE),
      prepared(nullptr) {}

ECSpecifiedDomain::~ECSpecifiedDomain() = default;

ECSpecifiedDomain& ECSpecifiedDomain::operator=(const ECSpecifiedDomain& o) {
  if (this == &o) return *this;
  version = o.version;
  fieldID = o.fieldID;
  curve = o.curve;
  base = o.base;
  order = o.order;
  cofactor = o.cofactor;
  hash = o.hash;
  cofactorPresent = o.cofactorPresent;
  hashPresent = o.hashPresent;
  dropOwnDomain();
  // the other's curve passed the checks already; its own domain, if built,
  // is built again here on first use
  curveKind = o.curveKind;
  if (curveKind == CURVE_NAMED) prepared.store(o.prepared.load());
  return *this;
}

bool ECSpecifiedDomain::operator==(const ECSpecifiedDomain& o) const {
  if (!sameOctstr(version, o.version) || !(fieldID == o.fieldID) || !(curve == o.curve))
    return false;
  if (!basePointsMatch(base.data(), base.length, o.base.data(), o.base.length)) return false;
  if (!sameOctstr(order, o.order)) return false;
  return !(cofactorPresent && o.cofactorPresent) || sameOctstr(cofactor, o.cofactor);
}

void ECSpecifiedDomain::clear() {
  version.clear();
  fieldID.clear();
  curve.clear();
  base.clear();
  order.clear();
  cofactor.clear();
  hash.clear();
  cofactorPresent = 0;
  hashPresent = 0;
  dropOwnDomain();
}

void ECSpecifiedDomain::dropOwnDomain() {
  curveKind = CURVE_NONE;
  prepared.store(nullptr);
  ep.reset();
  e2n.reset();
}

int ECSpecifiedDomain::decodeContent(GenericFile* in, int length) {
  clear();
  ASNobject* const mm[] = {&version, &fieldID, &curve, &base, &order};
  int taken = 0;
  int r = decodeMembers(in, length, memberFlags(), mm, 5, &taken);
  if (r != 1) return r;
  while (taken < length) {
    int id = asnPeekIdentifier(in);
    ASNobject* next = nullptr;
    if (id == 0x02 && !cofactorPresent && !hashPresent)
      next = &cofactor;
    else if (id == 0x30 && !hashPresent)
      next = &hash;
    else
      return 0;
    ASNobject* const one[] = {next};
    r = decodeMembers(in, length, memberFlags(), one, 1, &taken);
    if (r != 1) return r;
    (next == &cofactor ? cofactorPresent : hashPresent) = 1;
  }
  if (taken != length) return 0;
  if (fieldID.type != prime_field && fieldID.type != characteristic_two_field) return 0;
  r = prepare();
  return r == 1 ? 1 : (r == EASN_MEM ? EASN_MEM : 0);
}

int ECSpecifiedDomain::encodeContent(GenericFile* out) const {
  const ASNobject* const mm[] = {&version,
                                 &fieldID,
                                 &curve,
                                 &base,
                                 &order,
                                 cofactorPresent ? &cofactor : nullptr,
                                 hashPresent ? &hash : nullptr};
  return encodeMembers(out, mm, 7);
}

int ECSpecifiedDomain::contentLength() const {
  const ASNobject* const mm[] = {&version,
                                 &fieldID,
                                 &curve,
                                 &base,
                                 &order,
                                 cofactorPresent ? &cofactor : nullptr,
                                 hashPresent ? &hash : nullptr};
  return membersLength(mm, 7);
}

void ECSpecifiedDomain::digestContent(LvHash* h) const {
  const ASNobject* const mm[] = {&version,
                                 &fieldID,
                                 &curve,
                                 &base,
                                 &order,
                                 cofactorPresent ? &cofactor : nullptr,
                                 hashPresent ? &hash : nullptr};
  digestMembers(h, mm, 7);
}

int ECSpecifiedDomain::prepare() {
  dropOwnDomain();
  const LvNamedCurve* named = nullptr;
  int r = build(&named);
  // validated: a curve of no name is built again when used, a named one is
  // the table's
  dropOwnDomain();
  if (r != 1) return r;
  curveKind = named ? CURVE_NAMED : CURVE_OWN;
  if (named) prepared.store(recordDomain(named));
  return 1;
}

int ECSpecifiedDomain::build(const LvNamedCurve** named) const {
  *named = nullptr;
  try {
    if (fieldID.type == prime_field) return toEpKeyDomain(named);
    if (fieldID.type == characteristic_two_field) return toE2nKeyDomain(named);
  } catch (const std::bad_alloc&) {
    return EASN_MEM;
  }
  return 0;
}

const LvGeneralDsaKeyDomain* ECSpecifiedDomain::getKeyDomain() const {
  const LvGeneralDsaKeyDomain* d = prepared.load(std::memory_order_acquire);
  if (d || curveKind != CURVE_OWN) return d;
  std::lock_guard<std::mutex> hold(ownDomainLock());
  d = prepared.load(std::memory_order_acquire);
  if (d) return d;
  const LvNamedCurve* named = nullptr;
  int r = build(&named);
  if (r == 1 && !named)
    d = fieldID.type == prime_field ? static_cast<const LvGeneralDsaKeyDomain*>(ep.get())
                                    : static_cast<const LvGeneralDsaKeyDomain*>(e2n.get());
  else if (r == 1)
    // members changed into a named curve's since the decode
    d = recordDomain(named);
  if (!d || named) {
    ep.reset();
    e2n.reset();
  }
  if (r == EASN_MEM) throwBadAllocation();
  prepared.store(d, std::memory_order_release);
  return d;
}

int ECSpecifiedDomain::checkDomain(LvGeneralDsaKeyDomain& domain, const LvN& fieldSize,
                                   unsigned int fieldBits, const LvNamedCurve** named) {
  return fillDomain([&]() {
    const LvN n(domain.getOrder());
    // the order of a point fits the field (Hasse: n <= q + 1 + 2 sqrt(q))
    if (n.isZero() || n.getBitLength() > fieldBits + 1 || n.getBitLength() < kMinFieldBits / 2)
      throw PreparationFailed();
    LvN h = domain.getCofactor();
    if (h.isZero()) {
      h = impliedCofactor(fieldSize, n);
      domain.setCofactor(h);
    }
    if (h.isZero()) throw PreparationFailed();
    domain.setGroupOrder(LvModulus(n * h, 0));
    // A domain equal to a named curve's is that curve: it needs no further checks, and the
    // limit below (which keeps the validation of a stranger's curve cheap) is not for it;
    // several standard binary curves have cofactors far above it.
    *named = findNextNamedCurveByKeyDomain(&domain, -1);
    if (*named) {
      domain.markValid();
      return;
    }
    if (h > static_cast<LvWord>(kMaxCofactor) || !domain.validate()) throw PreparationFailed();
  });
}

int ECSpecifiedDomain::toEpKeyDomain(const LvNamedCurve** named) const {
  ASNinteger p;
  int r = p.decodeAny(fieldID.value);
  if (r == 0) throwBadAllocation();
  if (r != 1) return 0;
  const unsigned int bits = bitLength(p);
  if (!isDerNatural(p) || bits < kMinFieldBits || bits > kMaxFieldBits) return 0;
  if (!curve.a.data() || !curve.b.data() || !base.data() || !order.data()) return 0;
  unsigned int np = 0;
  const unsigned char* pp = intBytes(p, &np);
  // the explicit form of a named curve needs no domain of its own (p was
  // checked prime when the table was written)
  *named = namedPrimeCurveOf({pp, np}, curve.a, curve.b, base, order,
                             cofactorPresent ? &cofactor : nullptr);
  if (*named) return 1;
  r = fillDomain([&]() {
    if (!ep) ep.reset(new LvEpDsaKeyDomain());
    if (!isProbablePrime(LvModulus(pp, np, 0, 0), nullptr)) throw PreparationFailed();
    ep->setCurve(curve.a.data(), static_cast<unsigned int>(curve.a.length), curve.b.data(),
                 static_cast<unsigned int>(curve.b.length), pp, np);
    ep->setGen(base.data(), static_cast<unsigned int>(base.length));
    unsigned int no = 0;
    const unsigned char* oo = intBytes(order, &no);
    ep->setOrder(oo, no);
    unsigned int nh = 0;
    const unsigned char* hh = cofactorPresent ? intBytes(cofactor, &nh) : nullptr;
    ep->setCofactor(LvN(0u, 1));
    if (hh) ep->setCofactor(hh, nh);
  });
  if (r == 1) r = checkDomain(*ep, intValue(p), bits, named);
  return r;
}

int ECSpecifiedDomain::toE2nKeyDomain(const LvNamedCurve** named) const {
  ECE2NFileld f;
  int r = f.decodeAny(fieldID.value);
  if (r == 0) throwBadAllocation();
  if (r != 1) return 0;
  if (!curve.a.data() || !curve.b.data() || !base.data() || !order.data()) return 0;
  unsigned int m = 0;
  // Field degree and basis exponents as numbers; longer ones are no curve.
  auto small = [](const ASNinteger& v) {
    uint32_t n = 0;
    if (!asnSmallValue(v, &n)) throw PreparationFailed();
    return n;
  };
  r = fillDomain([&]() {
    if (!e2n) e2n.reset(new LvE2nDsaKeyDomain());
    m = small(f.m);
    if (m < kMinFieldBits || m > kMaxFieldBits) throw PreparationFailed();
    const ASNobject* chosen = f.parameters.m_chosenObject;
    if (f.basis == tpBasis && chosen == &f.parameters.tpBasis) {
      e2n->setCurveTrinomial(curve.a.data(), static_cast<unsigned int>(curve.a.length),
                             curve.b.data(), static_cast<unsigned int>(curve.b.length), m,
                             small(f.parameters.tpBasis));
    } else if (f.basis == ppBasis && chosen == &f.parameters.ppBasis) {
      const ECBasisPentanomial& k = f.parameters.ppBasis;
      e2n->setCurvePentanomial(curve.a.data(), static_cast<unsigned int>(curve.a.length),
                               curve.b.data(), static_cast<unsigned int>(curve.b.length), m,
                               small(k.k1()), small(k.k2()), small(k.k3()));
    } else {
      // Gaussian normal bases have no library domain
      throw PreparationFailed();
    }
    e2n->setGen(base.data(), static_cast<unsigned int>(base.length));
    unsigned int no = 0;
    const unsigned char* oo = intBytes(order, &no);
    e2n->setOrder(oo, no);
    unsigned int nh = 0;
    const unsigned char* hh = cofactorPresent ? intBytes(cofactor, &nh) : nullptr;
    e2n->setCofactor(LvN(0u, 1));
    if (hh) e2n->setCofactor(hh, nh);
  });
  if (r == 1) r = checkDomain(*e2n, LvN(1u, 1) << m, m, named);
  return r;
}

unsigned int ECSpecifiedDomain::getFieldBits() const {
  if (fieldID.type == characteristic_two_field) {
    ECE2NFileld f;
    uint32_t m = 0;
    if (f.decodeAny(fieldID.value) == 1 && asnSmallValue(f.m, &m)) return m;
  } else if (fieldID.type == prime_field) {
    ASNinteger p;
    if (p.decodeAny(fieldID.value) == 1 && p.length > 0) return bitLength(p);
  }
  if (order.length > 0) return bitLength(order);
  const unsigned char* b = base.data();
  int L = base.length;
  if (!b || L < 1) return 0;
  unsigned char F = b[0];
  if (F & 0x04) return static_cast<unsigned int>(4 * L - 4);
  if (F == 1 || ((F & 0x02) && (F & 0xF0) == 0)) return static_cast<unsigned int>(8 * L - 8);
  return 0;
}

namespace {

// Stores up to `len` octets read by `get` into `dst`; false when none.
template <class G>
bool readInto(ASNoctstr& dst, G&& get) {
  std::vector<unsigned char> buf(2048);
  unsigned int n = get(buf.data(), static_cast<unsigned int>(buf.size()));
  return n > 0 && dst.set(buf.data(), static_cast<int>(n)) == 1;
}

template <class G>
bool readIntInto(ASNinteger& dst, G&& get) {
  std::vector<unsigned char> buf(2048);
  unsigned int n = get(buf.data(), static_cast<unsigned int>(buf.size()));
  return n > 0 && dst.setBytes(buf.data(), static_cast<int>(n)) == 1;
}

}  // namespace

bool ECSpecifiedDomain::setFromKeyDomain(const LvGeneralDsaKeyDomain* d) {
  if (!d) return false;
  try {
    if (d->getDomainType() == LV_DOMAIN_EP_DSA)
      return setFromEpKeyDomain(*static_cast<const LvEpDsaKeyDomain*>(d));
    if (d->getDomainType() == LV_DOMAIN_E2N_DSA)
      return setFromE2nKeyDomain(*static_cast<const LvE2nDsaKeyDomain*>(d));
  } catch (const LvException&) {
  } catch (const std::exception&) {
  }
  return false;
}

bool ECSpecifiedDomain::setFromEpKeyDomain(const LvEpDsaKeyDomain& d) {
  clear();
  version.set(1u);
  ASNinteger p;
  if (!readIntInto(p, [&](unsigned char* b, unsigned int n) { return d.getP(b, n); })) return false;
  fieldID.set(prime_field, p);
  if (!readInto(curve.a, [&](unsigned char* b, unsigned int n) { return d.getA(b, n); }) ||
      !readInto(curve.b, [&](unsigned char* b, unsigned int n) { return d.getB(b, n); }) ||
      !readInto(base, [&](unsigned char* b, unsigned int n) { return d.getGen(b, n); }) ||
      !readIntInto(order, [&](unsigned char* b, unsigned int n) { return d.getOrder(b, n); }))
    return false;
  cofactorPresent =
      readIntInto(cofactor, [&](unsigned char* b, unsigned int n) { return d.getCofactor(b, n); });
  return prepare() == 1;
}

bool ECSpecifiedDomain::setFromE2nKeyDomain(const LvE2nDsaKeyDomain& d) {
  clear();
  version.set(1u);
  ECE2NFileld f;
  unsigned int m = 0, k1 = 0, k2 = 0, k3 = 0;
  switch (d.getBasisType()) {
    case 3:
      d.getTrinomial(&m, &k1);
      f.basis = tpBasis;
      f.parameters.chooseByIndex(1);
      f.parameters.tpBasis.set(k1);
      break;
    case 5:
      d.getPentanomial(&m, &k1, &k2, &k3);
      f.basis = ppBasis;
      f.parameters.chooseByIndex(2);
      f.parameters.ppBasis.k1().set(k1);
      f.parameters.ppBasis.k2().set(k2);
      f.parameters.ppBasis.k3().set(k3);
      break;
    default: {
      std::vector<unsigned char> poly(2048);
      d.getPolynomial(&m, poly.data(), static_cast<unsigned int>(poly.size()));
      f.basis = gnBasis;
      f.parameters.chooseByIndex(0);
    }
  }
  f.m.set(m);
  fieldID.set(characteristic_two_field, f);
  if (!readInto(curve.a, [&](unsigned char* b, unsigned int n) { return d.getA(b, n); }) ||
      !readInto(curve.b, [&](unsigned char* b, unsigned int n) { return d.getB(b, n); }) ||
      !readInto(base, [&](unsigned char* b, unsigned int n) { return d.getGen(b, n); }) ||
      !readIntInto(order, [&](unsigned char* b, unsigned int n) { return d.getOrder(b, n); }))
    return false;
  cofactorPresent =
      readIntInto(cofactor, [&](unsigned char* b, unsigned int n) { return d.getCofactor(b, n); });
  return prepare() == 1;
}

// ---- ECDomainParameters ----

ECDomainParameters::ECDomainParameters(unsigned char t)
    : ASNchoice(0),
      specifiedCurve(),
      namedCurve(),
      implicitlyCA(),
      list{&specifiedCurve, &namedCurve, &implicitlyCA, nullptr} {
  if (t == 0x30)
    choose(&specifiedCurve);
  else if (t == 0x06)
    choose(&namedCurve);
  else
    choose(&implicitlyCA);
}

ECDomainParameters::ECDomainParameters(const ECDomainParameters& o)
    : ASNchoice(0),
      specifiedCurve(),
      namedCurve(),
      implicitlyCA(),
      list{&specifiedCurve, &namedCurve, &implicitlyCA, nullptr} {
  *this = o;
}

ECDomainParameters& ECDomainParameters::operator=(const ECDomainParameters& o) {
  if (this == &o) return *this;
  switch (o.kind()) {
    case KIND_SPECIFIED:
      specifiedCurve = o.specifiedCurve;
      choose(&specifiedCurve);
      break;
    case KIND_NAMED:
      namedCurve = o.namedCurve;
      choose(&namedCurve);
      break;
    case KIND_IMPLICIT:
      choose(&implicitlyCA);
      break;
    default:
      m_chosenObject = nullptr;
  }
  return *this;
}

int ECDomainParameters::kind() const {
  if (!m_chosenObject) return KIND_NONE;
  switch (m_chosenObject->getTag() & ~0x20) {
    case 0x10:
      return KIND_SPECIFIED;
    case 0x06:
      return KIND_NAMED;
    case 0x05:
      return KIND_IMPLICIT;
    default:
      return KIND_NONE;
  }
}

const LvGeneralDsaKeyDomain* ECDomainParameters::getKeyDomain() const {
  switch (kind()) {
    case KIND_SPECIFIED:
      return specifiedCurve.getKeyDomain();
    case KIND_NAMED:
      return namedCurveKeyDomain(namedCurve);
    default:
      return nullptr;
  }
}

unsigned int ECDomainParameters::getFieldBits() const {
  switch (kind()) {
    case KIND_SPECIFIED:
      return specifiedCurve.getFieldBits();
    case KIND_NAMED:
      return namedCurveFieldBits(findNamedCurve(namedCurve));
    default:
      return 0;
  }
}

// ---- named-curve readers ----

const LvNamedCurve* findNamedCurveById(int id) {
  const LvNamedCurve* rows = NamedCurveTable::rows();
  if (id >= 1 && id <= static_cast<int>(NamedCurveTable::kCount) &&
      rows[id - 1].id == static_cast<LvWord>(id))
    return &rows[id - 1];
  for (unsigned int i = 0; i < NamedCurveTable::kCount; ++i)
    if (static_cast<int>(rows[i].id) == id) return &rows[i];
  return nullptr;
}

const LvNamedCurve* findNamedCurve(const ASNobjectId& oid) {
  const unsigned char* d = oid.data();
  if (!d || oid.length <= 0) return nullptr;
  const CurveOids& t = curveOids();
  const LvNamedCurve* rows = NamedCurveTable::rows();
  for (unsigned int i = 0; i < NamedCurveTable::kCount; ++i) {
    const std::vector<unsigned char>& der = t.der[i];
    if (!der.empty() && sameOctets(der.data(), static_cast<int>(der.size()), d, oid.length))
      return &rows[i];
  }
  return nullptr;
}

const LvGeneralDsaKeyDomain* namedCurveKeyDomain(const ASNobjectId& oid) {
  return recordDomain(findNamedCurve(oid));
}

const LvNamedCurve* findNextNamedCurveByKeyDomain(const LvGeneralDsaKeyDomain* domain,
                                                  int afterId) {
  if (!domain || afterId < -1 || afterId > 99) return nullptr;
  const unsigned int type = domain->getDomainType();
  if (type != LV_DOMAIN_EP_DSA && type != LV_DOMAIN_E2N_DSA) return nullptr;
  try {
    for (int id = afterId + 1; id <= 100; ++id) {
      const LvNamedCurve* r = findNamedCurveById(id);
      if (!r || (r->isBinary != 0) != (type == LV_DOMAIN_E2N_DSA)) continue;
      // the orders first, from the published texts: a curve is built only
      // for a candidate, not for every row of the kind
      NamedCurveTable::Params t;
      if (!NamedCurveTable::params(static_cast<unsigned int>(id), &t)) continue;
      const LvConvOS tn(t.n);
      if (LvN(tn.ptr(), tn.getLength()) != LvN(domain->getOrder())) continue;
      const LvGeneralDsaKeyDomain* d = recordDomain(r);
      if (d && keyDomainsEqual(domain, d)) return r;
    }
  } catch (const LvException&) {
  } catch (const std::bad_alloc&) {
  }
  return nullptr;
}

const LvNamedCurve* findNamedCurveBySpecifiedDomain(const ECSpecifiedDomain& specifiedDomain,
                                                    bool requireOid) {
  // a curve of no name matched no row when it was validated
  if (!specifiedDomain.isNamedCurve()) return nullptr;
  int lastId = 0;
  for (;;) {
    const LvGeneralDsaKeyDomain* domain = specifiedDomain.getKeyDomain();
    const LvNamedCurve* record = nullptr;
    if (domain) {
      record = findNextNamedCurveByKeyDomain(domain, lastId);
    } else {
      // Gaussian normal basis (or parameters the library refused): no
      // domain to compare; the published explicit forms are not built in.
      return nullptr;
    }
    if (!record) return nullptr;
    if (!requireOid || record->oid) return record;
    lastId = static_cast<int>(record->id);
  }
}

bool namedCurveToSpecifiedDomain(int id, ECSpecifiedDomain& specifiedDomain) {
  const LvNamedCurve* r = findNamedCurveById(id);
  const LvGeneralDsaKeyDomain* d = recordDomain(r);
  return d && specifiedDomain.setFromKeyDomain(d);
}

unsigned int keyDomainFieldBits(const LvGeneralDsaKeyDomain* domain) {
  if (!domain) return 0;
  try {
    switch (domain->getDomainType()) {
      case LV_DOMAIN_E2N_DSA: {
        unsigned int m = 0;
        std::vector<unsigned char> poly(1024);
        if (static_cast<const LvE2nDsaKeyDomain*>(domain)->getPolynomial(&m, poly.data(), 1024) ==
            0)
          return 0;
        return m;
      }
      case LV_DOMAIN_EP_DSA: {
        const LvModulus& p = static_cast<const LvEpDsaKeyDomain*>(domain)->getPrime();
        return p.isZero() ? 0 : p.getBitLength();
      }
      default:
        return domain->getOrder().getBitLength();
    }
  } catch (const LvException&) {
    return 0;
  }
}

unsigned int namedCurveFieldBits(const LvNamedCurve* record) {
  if (!record) return 0;
  unsigned int bits = keyDomainFieldBits(recordDomain(record));
  if (bits) return bits;
  switch (record->id) {
    case 77:
    case 78:
      return 191;
    case 83:
    case 84:
      return 239;
    default:
      return 0;
  }
}

bool namedCurveOid(const LvNamedCurve* record, ASNobjectId& out) {
  return record && record->oid && out.set(record->oid) == 1;
}
