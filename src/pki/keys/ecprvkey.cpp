#include "pki/keys/ecprvkey.h"

#include "base/commonerror.h"
#include "crypto/asym/lvgeneraldsa.h"
#include "crypto/basic/lvexception.h"
#include "crypto/hash/lvhash.h"
#include "pki/common/keymembers.h"
#include "pki/common/pkiasn.h"

#include <vector>

#define ECPRVKEY_SRC "libx509/ecprvkey"

struct EcPrivateLib {
  LvGeneralDsaPrivateKey key;
  LvGeneralDsaSig sig;
};

ECPrivateKey::ECPrivateKey(unsigned char t)
    : ASNsequenceF(t),
      version(),
      privateKey(),
      parameters(0xA0),
      publicKey(0xA1),
      parametersPresent(0),
      publicKeyPresent(0),
      lib(),
      domain(nullptr),
      prepared(0) {
  version.set(1u);
}

ECPrivateKey::~ECPrivateKey() = default;

void ECPrivateKey::unprepare() {
  prepared = 0;
  domain = nullptr;
  lib.reset();
}

ECPrivateKey& ECPrivateKey::operator=(const ECPrivateKey& o) {
  if (this != &o) {
    unprepare();
    version = o.version;
    privateKey = o.privateKey;
    parameters.get() = o.parameters.get();
    publicKey.get() = o.publicKey.get();
    parametersPresent = o.parametersPresent;
    publicKeyPresent = o.publicKeyPresent;
  }
  return *this;
}

bool ECPrivateKey::operator==(const ECPrivateKey& o) const {
  if (!version.equals(o.version) || !privateKey.equals(o.privateKey) ||
      parametersPresent != o.parametersPresent || publicKeyPresent != o.publicKeyPresent)
    return false;
  if (parametersPresent && !parameters.get().equals(o.parameters.get())) return false;
  return !publicKeyPresent || (publicKey.get().getTag() == o.publicKey.get().getTag() &&
                               publicKey.get() == o.publicKey.get());
}

int ECPrivateKey::signDigest(const unsigned char* digest, int digestLen, int hashType, LvRbg* rbg,
                             DSASignature& out) {
  try {
    if (digestLen < 0 || static_cast<unsigned int>(digestLen) !=
                             LvGenericHash::getGenericHashOctets(static_cast<LvHashAlgo>(hashType)))
      return -1;
  } catch (const LvException&) {
    return -1;
  }
  return sign(digest, digestLen, rbg, out);
}

int ECPrivateKey::sign(const unsigned char* digest, int digestLen, LvRbg* rbg, DSASignature& out) {
  checkInvariant(digest != nullptr, ECPRVKEY_SRC, __LINE__, "digest != NULL");
  try {
    // explicit parameters of no name build their curve here
    if (!domain && parametersPresent) domain = parameters.get().getKeyDomain();
    if (!domain) return -4;
    if (!prepared) {
      const unsigned char* d = privateKey.data();
      if (!d || privateKey.length < 1) return -3;
      std::unique_ptr<EcPrivateLib> l(new EcPrivateLib());
      l->key.setKey(d, static_cast<unsigned int>(privateKey.length));
      l->key.setDomain(domain);
      l->sig.setPrivateKey(&l->key);
      lib = std::move(l);
      prepared = 1;
    }
    if (!lib->key.hasPrivatePart()) return -3;
    if (rbg) lib->sig.setRbg(rbg);
    const unsigned int orderOctets = domain->getOrder().getOctetLength();
    std::vector<unsigned char> buf(2 * orderOctets + 16);
    unsigned int n = lib->sig.sign(digest, static_cast<unsigned int>(digestLen), buf.data(),
                                   static_cast<unsigned int>(buf.size()));
    // The library's own output is well formed: only memory can fail its read.
    return out.decodeMembers(buf.data(), static_cast<int>(n)) ? 1 : -2;
  } catch (const LvMemException&) {
    return -2;
  } catch (const std::bad_alloc&) {
    return -2;
  } catch (const LvException&) {
    return -3;
  }
}

bool ECPrivateKey::getPublicKey(ECPublicKey& out, const ECDomainParameters* params) const {
  if (publicKeyPresent) {
    out = publicKey.get();
    return true;
  }
  const ECDomainParameters* p = params ? params : (parametersPresent ? &parameters.get() : nullptr);
  if (!p) return false;
  try {
    const LvGeneralDsaKeyDomain* dom = p->getKeyDomain();
    const unsigned char* d = privateKey.data();
    if (!dom || !d || privateKey.length < 1) return false;
    LvGeneralDsaPrivateKey key;
    key.setKey(d, static_cast<unsigned int>(privateKey.length));
    key.setDomain(dom);
    const LvGroup* g = dom->getGroup();
    const LvGroupElem* G = dom->getGen();
    if (!g || !G) return false;
    std::unique_ptr<LvGroupElem> H(g->createMul(key.getKey(), G));
    key.setH(H.get());
    if (!key.getH()) return false;
    std::vector<unsigned char> buf(2048);
    unsigned int n = key.get(buf.data(), static_cast<unsigned int>(buf.size()));
    if (n == 0) return false;
    if (buf[0] & 0x04) buf[0] = 0x04;
    ASNoctstr point;
    if (point.set(buf.data(), static_cast<int>(n)) != 1) return false;
    return out.set(point);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const LvException&) {
    return false;
  }
}

bool ECPrivateKey::getPublicKeyOctets(ASNoctstr& out, const ECDomainParameters* params) const {
  ECPublicKey key;
  return getPublicKey(key, params) && key.getPointOctets(out);
}

void ECPrivateKey::clear() {
  unprepare();
  version.clear();
  version.set(1u);
  privateKey.clear();
  parameters.get().clear();
  publicKey.get().clear();
  parametersPresent = 0;
  publicKeyPresent = 0;
}

int ECPrivateKey::decodeContent(GenericFile* in, int length) {
  unprepare();
  version.clear();
  privateKey.clear();
  parametersPresent = 0;
  publicKeyPresent = 0;
  ASNobject* const mm[] = {&version, &privateKey};
  int taken = 0;
  int r = keyasn::decodeMembers(in, length, memberFlags(), mm, 2, &taken);
  if (r != 1) return r;
  while (taken < length) {
    // The wrappers are decoded from the stream itself, in place when this
    // key is a read-only view, and chosen by their tag first.
    int id = asnPeekIdentifier(in);
    ASNobject* next = nullptr;
    unsigned char* present = nullptr;
    if (id == 0xA0 && !parametersPresent) {
      next = &parameters;
      present = &parametersPresent;
    } else if (id == 0xA1 && !publicKeyPresent) {
      next = &publicKey;
      present = &publicKeyPresent;
    } else {
      return 0;
    }
    ASNobject* const one[] = {next};
    r = keyasn::decodeMembers(in, length, memberFlags(), one, 1, &taken);
    if (r != 1) return r == EASN_MEM ? EASN_MEM : 0;
    *present = 1;
  }
  return taken == length ? 1 : 0;
}

int ECPrivateKey::encodeContent(GenericFile* out) const {
  const ASNobject* const mm[] = {&version, &privateKey, parametersPresent ? &parameters : nullptr,
                                 publicKeyPresent ? &publicKey : nullptr};
  return keyasn::encodeMembers(out, mm, 4);
}

int ECPrivateKey::contentLength() const {
  const ASNobject* const mm[] = {&version, &privateKey, parametersPresent ? &parameters : nullptr,
                                 publicKeyPresent ? &publicKey : nullptr};
  return keyasn::membersLength(mm, 4);
}

void ECPrivateKey::digestContent(LvHash* hash) const {
  const ASNobject* const mm[] = {&version, &privateKey, parametersPresent ? &parameters : nullptr,
                                 publicKeyPresent ? &publicKey : nullptr};
  keyasn::digestMembers(hash, mm, 4);
}
