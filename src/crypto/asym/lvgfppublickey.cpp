// Discrete-logarithm public key over GF(p) (see lvgfppublickey.h).
#include "crypto/asym/lvgfppublickey.h"

#define GFPPUB_SRC "lvasym/lvgfppublickey"

LvGFpPublicKey::LvGFpPublicKey() : domain(nullptr), y() {}

LvGFpPublicKey::~LvGFpPublicKey() { domain = nullptr; }

unsigned int LvGFpPublicKey::getKeyBits() {
  if (!domain || domain->getP().isZero()) return 0;
  return domain->getP().getBitLength();
}

bool LvGFpPublicKey::isReady() { return !y.isZero() && domain && domain->isReady(); }

bool LvGFpPublicKey::isValid() {
  if (!isReady())
    LV_THROW(LvNotInitException, "Public key is not properly initialised.",
             "bool LvGFpPublicKey::isValid(void) const", GFPPUB_SRC);
  const LvMultiplicativeModulusGroup& p = domain->getP();
  if (y < 2u) return false;
  if (y >= p) return false;
  if (y == domain->getG()) return false;
  return pow(LvZn(y, &p), domain->getQ()) == 1;
}

bool LvGFpPublicKey::isSubgroupMember() {
  if (!isReady())
    LV_THROW(LvNotInitException, "Public key is not properly initialised.",
             "bool LvGFpPublicKey::isSubgroupMember(void)", GFPPUB_SRC);
  const LvMultiplicativeModulusGroup& p = domain->getP();
  const LvModulus& q = domain->getQ();
  if (!memberY.isZero() && memberY == y && memberP == p && memberQ == q) return true;
  // 0, 1 and p - 1 are of order at most 2; a value not below p is no residue.
  if (y < 2u || y + 1u >= p) return false;
  if (!q.isZero() && pow(LvZn(y, &p), q) != 1) return false;
  memberY = y;
  memberP = p;
  memberQ = q;
  return true;
}

LvWord LvGFpPublicKey::setDomain(const LvGFpKeyDomain* keyDomain) {
  const LvWord state = keyDomain ? keyDomain->getValidity() : LV_DOMAIN_VALID;
  if (state == LV_DOMAIN_INVALID)
    LV_THROW(LvInvalidKeyException, "Key domain is INVALID.",
             "void LvGFpPublicKey::setDomain(const LvGFpKeyDomain *keyDomain)", GFPPUB_SRC);
  if (state == LV_DOMAIN_UNCHECKED)
    LV_THROW(LvInvalidKeyException, "Key domain is UNCHECKED.",
             "void LvGFpPublicKey::setDomain(const LvGFpKeyDomain *keyDomain)", GFPPUB_SRC);
  domain = keyDomain;
  return state;
}

void LvGFpPublicKey::set(const LvOctet* oct, unsigned int len) { y = LvN(oct, len); }
void LvGFpPublicKey::set(const char* text) { y = LvN(text); }
void LvGFpPublicKey::setKey(const LvN& v) { y = v; }
const LvGFpKeyDomain* LvGFpPublicKey::getDomain() const { return domain; }
unsigned int LvGFpPublicKey::getKeyOctets(LvOctet* dst, unsigned int len) const {
  if (len < y.getOctetLength()) return 0;
  return y.getOctets(dst, len);
}
const LvN& LvGFpPublicKey::getKey() const { return y; }

unsigned int LvGFpPublicKey::getP(LvOctet* dst, unsigned int len) const {
  if (!domain)
    LV_THROW(LvNotInitException, "Uninitialised domain.",
             "unsigned int LvGFpPublicKey::getP(LvOctet *dst, unsigned int len) const", GFPPUB_SRC);
  return domain->getP(dst, len);
}

const LvMultiplicativeModulusGroup& LvGFpPublicKey::getP() const {
  if (!domain)
    LV_THROW(LvNotInitException, "Uninitialised domain.",
             "const LvMultiplicativeModulusGroup& LvGFpPublicKey::getP(void) const", GFPPUB_SRC);
  return domain->getP();
}

unsigned int LvGFpPublicKey::getQ(LvOctet* dst, unsigned int len) const {
  if (!domain)
    LV_THROW(LvNotInitException, "Uninitialised domain.",
             "const LvN& LvGFpPublicKey::getQ(LvOctet *dst, unsigned int len) const", GFPPUB_SRC);
  return domain->getQ(dst, len);
}

const LvModulus& LvGFpPublicKey::getQ() const {
  if (!domain)
    LV_THROW(LvNotInitException, "LV-ACCESS: Uninitialised domain.",
             "const LvModulus& LvGFpPublicKey::getQ(void) const", GFPPUB_SRC);
  return domain->getQ();
}

unsigned int LvGFpPublicKey::getG(LvOctet* dst, unsigned int len) const {
  if (!domain)
    LV_THROW(LvNotInitException, "Uninitialised domain.",
             "unsigned int LvGFpPublicKey::getG(LvOctet *dst, unsigned int len) const", GFPPUB_SRC);
  return domain->getG(dst, len);
}

LvN LvGFpPublicKey::getG() const {
  if (!domain)
    LV_THROW(LvNotInitException, "Uninitialised domain.",
             "unsigned int LvGFpPublicKey::getG(void) const", GFPPUB_SRC);
  return domain->getG();
}

LvDsaPublicKey::LvDsaPublicKey() {}
LvDsaPublicKey::~LvDsaPublicKey() {}
