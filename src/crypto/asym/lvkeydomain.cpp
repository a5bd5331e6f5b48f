// Key-domain framework and the EC-DSA domain over GF(p).
#include "crypto/asym/lvkeydomain.h"

#include <memory>

#include "crypto/hash/lvhash.h"

#define GDKD_SRC "lvasym/lvgeneraldsakeydomain"

// ------------------------------------------------------------------ LvAsymKeyDomain

LvAsymKeyDomain::LvAsymKeyDomain() : validity(LV_DOMAIN_UNCHECKED) {}
LvAsymKeyDomain::~LvAsymKeyDomain() {}
LvWord LvAsymKeyDomain::getValidity() const { return validity; }
unsigned int LvAsymKeyDomain::getDomainType() const { return LV_DOMAIN_ASYM; }

// ------------------------------------------------------------------ LvGeneralDsaKeyDomain

LvGeneralDsaKeyDomain::LvGeneralDsaKeyDomain() : group(nullptr), gen(nullptr) {}

LvGeneralDsaKeyDomain::~LvGeneralDsaKeyDomain() { dropGen(); }

void LvGeneralDsaKeyDomain::dropGen() {
  delete gen;
  gen = nullptr;
}

unsigned int LvGeneralDsaKeyDomain::getDomainType() const { return LV_DOMAIN_GENERAL_DSA; }

bool LvGeneralDsaKeyDomain::isReady() const {
  return group != nullptr && gen != nullptr && !order.isZero();
}

void LvGeneralDsaKeyDomain::setGroup(const LvGroup* g) {
  validity = LV_DOMAIN_UNCHECKED;
  group = g;
}

void LvGeneralDsaKeyDomain::setGen(const LvOctet* oct, unsigned int len) {
  validity = LV_DOMAIN_UNCHECKED;
  if (!group)
    LV_THROW(LvNotInitException, "Uninitialised group.",
             "void LvGeneralDsaKeyDomain::setGen(LvOctet *oct, unsigned int len)", GDKD_SRC);
  std::unique_ptr<LvGroupElem> g(group->createNew(oct, len));
  group->precomputeInStages(g.get());
  dropGen();
  gen = g.release();
}

void LvGeneralDsaKeyDomain::setGen(const LvGroupElem* src) {
  validity = LV_DOMAIN_UNCHECKED;
  if (!group)
    LV_THROW(LvNotInitException, "Uninitialised group.",
             "void LvGeneralDsaKeyDomain::setGen(LvOctet *oct, unsigned int len)", GDKD_SRC);
  std::unique_ptr<LvGroupElem> g(group->createCopy(src));
  group->precomputeInStages(g.get());
  dropGen();
  gen = g.release();
}

void LvGeneralDsaKeyDomain::setGroupOrder(const LvOctet* oct, unsigned int len) {
  validity = LV_DOMAIN_UNCHECKED;
  groupOrder = LvModulus(oct, len, 0, 8);
}

void LvGeneralDsaKeyDomain::setGroupOrder(const LvModulus& m) {
  validity = LV_DOMAIN_UNCHECKED;
  groupOrder = m;
}

void LvGeneralDsaKeyDomain::setOrder(const LvOctet* oct, unsigned int len) {
  validity = LV_DOMAIN_UNCHECKED;
  order = LvModulus(oct, len, 0, 8);
}

void LvGeneralDsaKeyDomain::setOrder(const LvModulus& n) {
  validity = LV_DOMAIN_UNCHECKED;
  order = n;
}

void LvGeneralDsaKeyDomain::setCofactor(const LvOctet* oct, unsigned int len) {
  validity = LV_DOMAIN_UNCHECKED;
  cofactor = LvN(oct, len);
}

void LvGeneralDsaKeyDomain::setCofactor(const LvN& h) {
  validity = LV_DOMAIN_UNCHECKED;
  cofactor = h;
}

const LvGroup* LvGeneralDsaKeyDomain::getGroup() const { return group; }

unsigned int LvGeneralDsaKeyDomain::getGen(LvOctet* oct, unsigned int len) const {
  if (!group)
    LV_THROW(LvNotInitException, "Uninitialised group.",
             "unsigned int LvGeneralDsaKeyDomain::getGen(LvOctet *oct, unsigned int len) const",
             GDKD_SRC);
  return group->asOctetString(gen, oct, len);
}

const LvGroupElem* LvGeneralDsaKeyDomain::getGen() const { return gen; }

unsigned int LvGeneralDsaKeyDomain::getGroupOrder(LvOctet* oct, unsigned int len) const {
  return groupOrder.getOctets(oct, len);
}
const LvModulus& LvGeneralDsaKeyDomain::getGroupOrder() const { return groupOrder; }
unsigned int LvGeneralDsaKeyDomain::getOrder(LvOctet* oct, unsigned int len) const {
  return order.getOctets(oct, len);
}
const LvModulus& LvGeneralDsaKeyDomain::getOrder() const { return order; }
unsigned int LvGeneralDsaKeyDomain::getCofactor(LvOctet* oct, unsigned int len) const {
  return cofactor.getOctets(oct, len);
}
const LvN& LvGeneralDsaKeyDomain::getCofactor() const { return cofactor; }

bool LvGeneralDsaKeyDomain::inOrderSubgroup(const LvGroupElem* P) const {
  std::unique_ptr<LvGroupElem> T(group->createMul(order, P));
  std::unique_ptr<LvGroupElem> O(group->createCopy(nullptr));
  return group->isEqual(T.get(), O.get());
}

bool LvGeneralDsaKeyDomain::validateGeneric() {
  if (validity == LV_DOMAIN_VALID) return true;
  if (validity == LV_DOMAIN_INVALID) return false;
  bool ok = false;
  try {
    if (isReady() && (groupOrder % order).isZero()) {
      std::unique_ptr<LvGroupElem> O(group->createCopy(nullptr));
      std::unique_ptr<LvGroupElem> T(group->createMul(order, gen));
      ok = group->isElement(gen) && !group->isEqual(gen, O.get()) && group->isEqual(T.get(), O.get());
    }
  } catch (const LvException& e) {
    if (lvIsTransient(e)) throw;
    // parameters the arithmetic rejects make the domain invalid
    ok = false;
  }
  validity = ok ? LV_DOMAIN_VALID : LV_DOMAIN_INVALID;
  return ok;
}

bool LvGeneralDsaKeyDomain::validate() { return validateGeneric(); }

// ------------------------------------------------------------------ seed expansion

LvConvOS lvExpandSeed(const LvConvOS& seedIn, unsigned int t, bool primeField) {
  const unsigned int g = seedIn.getLength();
  const unsigned int s = (t - 1) / 160;
  const unsigned int hbits = t - 160 * s;
  const unsigned int v = (hbits + 7) / 8;
  LvOctMem S(seedIn.ptr(), g);
  std::unique_ptr<LvHash> sha(lvHashCreateObject(LV_HASH_SHA1));
  const unsigned int total = (t + 7) / 8;
  LvOctMem out(total);
  LvOctet* o = out.ptr();
  sha->hash(S.ptr(), g);
  const LvOctet* H = sha->getHashPtr();
  for (unsigned int i = 0; i < v; i++) o[i] = H[20 - v + i];
  unsigned int keep = t % 8;
  if (primeField) keep = keep == 0 ? 7 : keep - 1;
  else if (keep == 0) keep = 8;
  o[0] &= static_cast<LvOctet>((1u << keep) - 1);
  unsigned int pos = v;
  for (unsigned int j = 0; j < s; j++) {
    for (unsigned int i = g; i-- > 0;) {
      if (++S[i] != 0) break;
    }
    sha->hash(S.ptr(), g);
    const LvOctet* Hj = sha->getHashPtr();
    for (unsigned int i = 0; i < 20 && pos < total; i++) o[pos++] = Hj[i];
  }
  return LvConvOS(out.ptr(), total);
}

// ------------------------------------------------------------------ LvEpDsaKeyDomain

LvEpDsaKeyDomain::LvEpDsaKeyDomain() : useSpecial(false) {}

LvEpDsaKeyDomain::LvEpDsaKeyDomain(const char* a, const char* b, const char* p, const char* G,
                                   const char* n, const char* h, int state)
    : useSpecial(false) {
  LvConvOS A(a), B(b), P(p), GG(G), Nn(n), Hh(h);
  setCurve(A.ptr(), A.getLength(), B.ptr(), B.getLength(), P.ptr(), P.getLength());
  setGen(GG.ptr(), GG.getLength());
  setOrder(Nn.ptr(), Nn.getLength());
  setCofactor(Hh.ptr(), Hh.getLength());
  validity = static_cast<LvWord>(state);
}

LvEpDsaKeyDomain::~LvEpDsaKeyDomain() {
  // the generator belongs to a member curve: delete it while the curve lives
  dropGen();
}

unsigned int LvEpDsaKeyDomain::getDomainType() const { return LV_DOMAIN_EP_DSA; }

void LvEpDsaKeyDomain::setCurve(const LvOctet* a, unsigned int aLen, const LvOctet* b,
                                unsigned int bLen, const LvOctet* p, unsigned int pLen) {
  validity = LV_DOMAIN_UNCHECKED;
  dropGen();
  ep = LvEp(a, aLen, b, bLen, p, pLen);
  try {
    cryptoEp = LvCryptoEp(a, aLen, b, bLen, p, pLen);
    useSpecial = true;
    setGroup(&cryptoEp);
  } catch (const LvLibNotImplementedException&) {
    useSpecial = false;
    setGroup(&ep);
  }
}

void LvEpDsaKeyDomain::setGen(const LvOctet* oct, unsigned int len) {
  validity = LV_DOMAIN_UNCHECKED;
  LvGeneralDsaKeyDomain::setGen(oct, len);
}

void LvEpDsaKeyDomain::setOrder(const LvOctet* oct, unsigned int len) {
  validity = LV_DOMAIN_UNCHECKED;
  LvGeneralDsaKeyDomain::setOrder(oct, len);
}

void LvEpDsaKeyDomain::setSeed(const LvOctet* s, unsigned int len) {
  validity = LV_DOMAIN_UNCHECKED;
  seed = LvConvOS(s, len);
}

unsigned int LvEpDsaKeyDomain::getA(LvOctet* oct, unsigned int len) const {
  return useSpecial ? cryptoEp.getA(oct, len) : ep.getA(oct, len);
}

unsigned int LvEpDsaKeyDomain::getB(LvOctet* oct, unsigned int len) const {
  return useSpecial ? cryptoEp.getB(oct, len) : ep.getB(oct, len);
}

const LvModulus& LvEpDsaKeyDomain::getPrime() const {
  return useSpecial ? cryptoEp.getP() : ep.getP();
}

unsigned int LvEpDsaKeyDomain::getP(LvOctet* oct, unsigned int len) const {
  return getPrime().getOctets(oct, len);
}

unsigned int LvEpDsaKeyDomain::getGen(LvOctet* oct, unsigned int len) const {
  return LvGeneralDsaKeyDomain::getGen(oct, len);
}

unsigned int LvEpDsaKeyDomain::getOrder(LvOctet* oct, unsigned int len) const {
  return LvGeneralDsaKeyDomain::getOrder(oct, len);
}

unsigned int LvEpDsaKeyDomain::getSeed(LvOctet* oct, unsigned int len) const {
  const unsigned int n = seed.getLength();
  if (n == 0 || len < n) return 0;
  for (unsigned int i = 0; i < n; i++) oct[i] = seed[i];
  return n;
}

bool LvEpDsaKeyDomain::validateCurve() {
  const LvModulus& p = getPrime();
  const LvModulus q(p, 8);
  LvN aN = LvN(0u, 1), bN = LvN(0u, 1);
  {
    const unsigned int m = p.getOctetLength();
    LvOctMem buf(m);
    getA(buf.ptr(), m);
    aN = LvN(buf.ptr(), m);
    getB(buf.ptr(), m);
    bN = LvN(buf.ptr(), m);
  }
  const LvZn a(aN, &q), b(bN, &q);
  const LvZn a3 = a * a * a, b2 = b * b;
  if (seed.getLength() > 0) {
    if (seed.getLength() < 20) return false;
    LvConvOS e = lvExpandSeed(seed, p.getBitLength(), true);
    const LvZn r(LvN(e.ptr(), e.getLength()), &q);
    if ((4 * r + 27).isZero()) return false;
    if (r * b2 != a3) return false;
  }
  if ((4 * a3 + 27 * b2).isZero()) return false;
  if (!isProbablePrime(LvModulus(order, 0), nullptr)) return false;
  if (cofactor > 8u) return false;
  // Hasse: |N - (p + 1)|^2 <= 4p
  const LvN p1 = LvN(p) + 1u;
  const LvN& N = groupOrder;
  const LvN d = N >= p1 ? N - p1 : p1 - N;
  if (LvN(4u, 1) * LvN(p) < d * d) return false;
  // MOV: p^i mod n != 1 for i = 1..100
  const LvModulus nMod(order, 8);
  const LvZn pn(LvN(p), &nMod);
  LvZn x(1, &nMod);
  for (int i = 0; i < 100; i++) {
    x *= pn;
    if (x == 1) return false;
  }
  // anomalous
  if (LvN(order) == LvN(p)) return false;
  return true;
}

bool LvEpDsaKeyDomain::validate() {
  return validateThen([this] { return validateCurve(); });
}
