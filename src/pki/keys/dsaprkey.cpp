#include "pki/keys/dsaprkey.h"

#include "base/commonerror.h"
#include "crypto/algebra/lvnumbers.h"
#include "crypto/asym/lvdsa.h"
#include "crypto/basic/lvexception.h"
#include "crypto/hash/lvhash.h"
#include "pki/common/keymembers.h"

#include <vector>

using namespace keyasn;

#define DSAPRKEY_SRC "libx509/dsaprkey"

struct DsaPrivateLib {
  LvDsaKeyDomain domain;
  LvDsaPrivateKey key;
  LvDsaSig sig;
};

DSAPrivateKey::DSAPrivateKey(unsigned char t)
    : ASNsequenceF(t), version(), p(), q(), g(), y(), x(), lib(), prepared(0) {
  version.set(0u);
}

DSAPrivateKey::~DSAPrivateKey() = default;

void DSAPrivateKey::unprepare() {
  prepared = 0;
  lib.reset();
}

DSAPrivateKey& DSAPrivateKey::operator=(const DSAPrivateKey& o) {
  if (this != &o) {
    version = o.version;
    p = o.p;
    q = o.q;
    g = o.g;
    y = o.y;
    x = o.x;
    unprepare();
  }
  return *this;
}

bool DSAPrivateKey::operator==(const DSAPrivateKey& o) const {
  return version.equals(o.version) && p.equals(o.p) && q.equals(o.q) && g.equals(o.g) &&
         y.equals(o.y) && x.equals(o.x);
}

void DSAPrivateKey::setP(const ASNinteger& v) {
  p = v;
  unprepare();
}
void DSAPrivateKey::setQ(const ASNinteger& v) {
  q = v;
  unprepare();
}
void DSAPrivateKey::setG(const ASNinteger& v) {
  g = v;
  unprepare();
}
void DSAPrivateKey::setY(const ASNinteger& v) {
  y = v;
  unprepare();
}
void DSAPrivateKey::setX(const ASNinteger& v) {
  x = v;
  unprepare();
}

void DSAPrivateKey::getDomainParameters(DSAParameters& out) const {
  out.p = p;
  out.q = q;
  out.g = g;
}

bool DSAPrivateKey::getPublicKey(ASNinteger& out) const {
  if (y.length > 0) {
    out = y;
    return true;
  }
  unsigned int np = 0, ng = 0, nx = 0;
  const unsigned char* pp = intBytes(p, &np);
  const unsigned char* gg = intBytes(g, &ng);
  const unsigned char* xx = intBytes(x, &nx);
  if (!pp || !gg || !xx) return false;
  try {
    LvModulus mod(pp, np, 0, 8);
    if (mod.isZero()) return false;
    LvZn base(LvN(gg, ng), &mod);
    LvN yv = pow(base, LvN(xx, nx)).getN();
    std::vector<unsigned char> buf(2048);
    unsigned int n = yv.getOctets(buf.data(), static_cast<unsigned int>(buf.size()));
    if (n == 0) return false;
    out.setBytes(buf.data(), static_cast<int>(n));
    return true;
  } catch (const LvException&) {
    return false;
  }
}

bool DSAPrivateKey::prepare() {
  unprepare();
  unsigned int nx = 0, ny = 0;
  const unsigned char* xx = intBytes(x, &nx);
  const unsigned char* yy = intBytes(y, &ny);
  DSAParameters params;
  getDomainParameters(params);
  try {
    std::unique_ptr<DsaPrivateLib> l(new DsaPrivateLib());
    if (dsaParametersToKeyDomain(params, l->domain) != 1) return false;
    if (yy) l->key.setY(yy, ny);
    if (!xx) return false;
    l->key.setX(xx, nx);
    l->key.setDomain(&l->domain);
    if (!l->key.hasPrivatePart() || !l->domain.isReady()) return false;
    l->sig.setPrivateKey(&l->key);
    lib = std::move(l);
    prepared = 1;
    return true;
  } catch (const LvWrongSyntaxException&) {
    return false;
  } catch (const LvException& e) {
    checkInvariant(false, DSAPRKEY_SRC, __LINE__, "0", e.what());
    return false;
  }
}

int DSAPrivateKey::signDigest(const unsigned char* digest, int digestLen, int hashType,
                              DSASignature& out, LvRbg* rbg) {
  checkInvariant(digest != nullptr, DSAPRKEY_SRC, __LINE__, "digest != NULL");
  try {
    if (digestLen < 0 || static_cast<unsigned int>(digestLen) !=
                             LvGenericHash::getGenericHashOctets(static_cast<LvHashAlgo>(hashType)))
      return 3;
  } catch (const LvException&) {
    return 3;
  }
  if (!prepared && !prepare()) return 2;
  try {
    lib->sig.setRbg(rbg);
    lib->sig.setHashAlgo(static_cast<LvHashAlgo>(hashType));
    unsigned int max = lib->sig.getMaxSignatureOctets();
    std::vector<unsigned char> buf(max);
    unsigned int n = lib->sig.sign(digest, static_cast<unsigned int>(digestLen), buf.data(), max);
    if (!out.decodeMembers(buf.data(), static_cast<int>(n))) return 5;
    return 0;
  } catch (const LvRbgCycleException&) {
    return 6;
  } catch (const LvException& e) {
    checkInvariant(false, DSAPRKEY_SRC, __LINE__, "0", e.what());
    return 2;
  }
}

void DSAPrivateKey::clear() {
  version.clear();
  p.clear();
  q.clear();
  g.clear();
  y.clear();
  x.clear();
  unprepare();
}

int DSAPrivateKey::decodeContent(GenericFile* in, int length) {
  clear();
  ASNobject* const m[] = {&version, &p, &q, &g, &y, &x};
  int taken = 0;
  int r = decodeMembers(in, length, memberFlags(), m, 6, &taken);
  if (r != 1) return r;
  return taken == length ? 1 : 0;
}

int DSAPrivateKey::encodeContent(GenericFile* out) const {
  const ASNobject* const m[] = {&version, &p, &q, &g, &y, &x};
  return encodeMembers(out, m, 6);
}

int DSAPrivateKey::contentLength() const {
  const ASNobject* const m[] = {&version, &p, &q, &g, &y, &x};
  return membersLength(m, 6);
}

void DSAPrivateKey::digestContent(LvHash* hash) const {
  const ASNobject* const m[] = {&version, &p, &q, &g, &y, &x};
  digestMembers(hash, m, 6);
}
