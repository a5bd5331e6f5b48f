#include "pki/keys/ecpubkey.h"

#include "base/commonerror.h"
#include "crypto/asym/lvgeneraldsa.h"
#include "crypto/basic/lvexception.h"
#include "crypto/hash/lvhash.h"
#include "pki/common/keymembers.h"
#include "pki/common/siganddigoid.h"

#define ECPUBKEY_SRC "libx509/ecpubkey"

struct EcPublicLib {
  LvGeneralDsaPublicKey key;
  LvGeneralDsaSig sig;
};

ECPublicKey::ECPublicKey()
    : ASNbitstr(3), lib(), domain(nullptr), specifiedDomain(), specFilled(0), prepared(0) {}

ECPublicKey::ECPublicKey(const ECPublicKey& o)
    : ASNbitstr(o), lib(), domain(nullptr), specifiedDomain(), specFilled(0), prepared(0) {}

ECPublicKey::~ECPublicKey() = default;

void ECPublicKey::unprepare() {
  prepared = 0;
  lib.reset();
}

ECPublicKey& ECPublicKey::operator=(const ECPublicKey& o) {
  if (this != &o) {
    unprepare();
    copyFrom(o);
  }
  return *this;
}

bool ECPublicKey::set(const ASNoctstr& point, const ECDomainParameters* params) {
  unprepare();
  if (ASNbitstr::set(point.data(), point.length, 0) != 1 && point.length > 0) return false;
  return params ? setDomain(*params) : true;
}

bool ECPublicKey::setDomain(const ECDomainParameters& params) {
  switch (params.kind()) {
    case ECDomainParameters::KIND_SPECIFIED:
      return setSpecifiedDomain(params.specifiedCurve);
    case ECDomainParameters::KIND_NAMED:
      return setNamedCurve(params.namedCurve);
    default:
      return false;
  }
}

bool ECPublicKey::setSpecifiedDomain(const ECSpecifiedDomain& s) {
  unprepare();
  domain = nullptr;
  specFilled = 0;
  try {
    if (!specifiedDomain) specifiedDomain.reset(new ECSpecifiedDomain());
    *specifiedDomain = s;
  } catch (const std::exception&) {
    return false;
  }
  specFilled = 1;
  // a curve of no name is built here; out of memory, verify tries again
  try {
    domain = specifiedDomain->getKeyDomain();
  } catch (const std::bad_alloc&) {
    domain = nullptr;
  }
  return domain != nullptr;
}

bool ECPublicKey::setNamedCurve(const ASNobjectId& oid) {
  // The explicit form of a named curve is written only when asked for
  // (getSpecifiedDomain): verification needs the static domain alone.
  unprepare();
  specFilled = 0;
  domain = namedCurveKeyDomain(oid);
  return domain != nullptr;
}

bool ECPublicKey::setKeyDomain(const LvGeneralDsaKeyDomain* d) {
  unprepare();
  specFilled = 0;
  domain = d;
  return d != nullptr;
}

const ECSpecifiedDomain* ECPublicKey::getSpecifiedDomain() {
  if (!domain) return nullptr;
  if (!specFilled) {
    const LvGeneralDsaKeyDomain* keep = domain;
    if (!specifiedDomain) specifiedDomain.reset(new ECSpecifiedDomain());
    if (!specifiedDomain->setFromKeyDomain(domain)) return nullptr;
    // keep using the domain the key was given (the copy is the same curve)
    domain = keep;
    specFilled = 1;
  }
  return specifiedDomain.get();
}

bool ECPublicKey::getPointOctets(ASNoctstr& out) const {
  const unsigned char* d = data();
  if (!d || length < 1 || d[0] != 0) return false;
  return out.set(d + 1, length - 1) == 1 || length == 1;
}

unsigned int ECPublicKey::getKeyBits() const {
  const unsigned char* d = data();
  if (!d || length < 2) return 0;
  const unsigned int L = static_cast<unsigned int>(length);
  switch (d[1]) {
    case 1:
    case 2:
    case 3:
    case 10:
    case 11:
      return 8 * (L - 2);
    case 4:
    case 6:
    case 7:
    case 14:
    case 15:
      return 4 * (L - 2);
    default:
      return 0;
  }
}

int ECPublicKey::verifyDigest(const unsigned char* digest, int digestLen, int hashType,
                              const DSASignature& sig) {
  unsigned int want = 0;
  try {
    want = LvGenericHash::getGenericHashOctets(static_cast<LvHashAlgo>(hashType));
  } catch (const LvException&) {
    return -3;
  }
  if (digestLen < 0 || static_cast<unsigned int>(digestLen) != want) return -3;
  return verify(digest, digestLen, sig);
}

int ECPublicKey::verifyBySignatureOid(const unsigned char* digest, int digestLen,
                                      const ASNobjectId& sigOid, const DSASignature& sig) {
  checkInvariant(digest != nullptr, ECPUBKEY_SRC, __LINE__, "digest != NULL");
  int want = 0;
  if (!ecdsaSignatureOidToDigest(sigOid, &want, nullptr)) return -2;
  if (digestLen != want) return -3;
  return verify(digest, digestLen, sig);
}

int ECPublicKey::prepare() {
  if (!domain && specFilled && specifiedDomain) {
    try {
      domain = specifiedDomain->getKeyDomain();
    } catch (const std::bad_alloc&) {
      return 0;
    }
  }
  if (!domain) return -4;
  const unsigned char* p = bits();
  const unsigned char* d = data();
  int n = bitsLength();
  if (!d || d[0] != 0 || !p || n < 1) return -3;
  try {
    std::unique_ptr<EcPublicLib> l(new EcPublicLib());
    l->key.setDomain(domain);
    l->key.setH(p, static_cast<unsigned int>(n));
    // On a curve with a cofactor a point of the curve need not be of
    // order n: a stranger's key must be (on the others it always is).
    if (domain->getCofactor() > static_cast<LvWord>(1) && !l->key.isValid()) return -3;
    l->sig.setPublicKey(&l->key);
    lib = std::move(l);
  } catch (const LvMemException&) {
    return 0;
  } catch (const std::bad_alloc&) {
    return 0;
  } catch (const LvException&) {
    return -3;
  }
  prepared = 1;
  return 1;
}

int ECPublicKey::verify(const unsigned char* digest, int digestLen, const DSASignature& sig) {
  checkInvariant(digest != nullptr, ECPUBKEY_SRC, __LINE__, "digest != NULL");
  if (!prepared) {
    int r = prepare();
    if (r != 1) return r;
  }
  // r and s are read as unsigned numbers: a negative or padded value would
  // let another encoding of the same numbers pass.
  if (!sig.isDerNatural() || digestLen < 0) return -1;
  unsigned int nr = 0, ns = 0;
  const unsigned char* r = keyasn::intBytes(sig.r, &nr);
  const unsigned char* s = keyasn::intBytes(sig.s, &ns);
  try {
    return lib->sig.verify(digest, static_cast<unsigned int>(digestLen), r, nr, s, ns) ? 1 : -1;
  } catch (const LvMemException&) {
    return 0;
  } catch (const std::bad_alloc&) {
    return 0;
  } catch (const LvException&) {
    // r or s out of range: the signature's fault, not the key's
    return -1;
  }
}

void ECPublicKey::clear() {
  unprepare();
  domain = nullptr;
  specFilled = 0;
  ASNbitstr::clear();
}

int ECPublicKey::decodeKeyContent(GenericFile* in, int length) {
  unprepare();
  return ASNbitstr::decodeContent(in, length);
}

int ECPublicKey::decodeContent(GenericFile* in, int length) { return decodeKeyContent(in, length); }
