// DSA keys and signatures (see lvdsa.h).
#include "crypto/asym/lvdsa.h"

#include <memory>

#include "crypto/basic/lvsecret.h"
#include "crypto/rbg/lvrbg.h"

#define GFPPRIV_SRC "lvasym/lvgfpprivatekey"
#define DSASIGN_SRC "lvasym/dsasig_sign"
#define DSAVERIFY_SRC "lvasym/dsasig_verify"

// ------------------------------------------------------------------ private key

LvGFpPrivateKey::LvGFpPrivateKey() : domain(nullptr), x(), y() {}
LvGFpPrivateKey::~LvGFpPrivateKey() { domain = nullptr; }

unsigned int LvGFpPrivateKey::getKeyBits() {
  return domain && !domain->getQ().isZero() ? domain->getQ().getBitLength() : 0;
}
unsigned int LvGFpPrivateKey::getPublicKeyBits() {
  return domain && !domain->getP().isZero() ? domain->getP().getBitLength() : 0;
}
bool LvGFpPrivateKey::hasPublicPart() { return !y.isZero() && domain && domain->isReady(); }
bool LvGFpPrivateKey::hasPrivatePart() { return !isZeroSecret(x) && domain && domain->isReady(); }

void LvGFpPrivateKey::setDomain(const LvGFpKeyDomain* d) {
  lvCheckKeyDomain(d);
  domain = d;
}
void LvGFpPrivateKey::setX(const LvOctet* oct, unsigned int len) { x = LvN(oct, len); }
void LvGFpPrivateKey::setX(const char* text) { x = LvN(text); }
void LvGFpPrivateKey::setX(const LvN& v) { x = v; }
void LvGFpPrivateKey::setY(const LvOctet* oct, unsigned int len) { y = LvN(oct, len); }
void LvGFpPrivateKey::setY(const char* text) { y = LvN(text); }
void LvGFpPrivateKey::setY(const LvN& v) { y = v; }
const LvGFpKeyDomain* LvGFpPrivateKey::getDomain() const { return domain; }
unsigned int LvGFpPrivateKey::getX(LvOctet* oct, unsigned int len) const {
  return x.getOctets(oct, len);
}
const LvN& LvGFpPrivateKey::getX() const { return x; }
unsigned int LvGFpPrivateKey::getY(LvOctet* oct, unsigned int len) const {
  return y.getOctets(oct, len);
}
const LvN& LvGFpPrivateKey::getY() const { return y; }

#define NEED_DOMAIN(fn) \
  if (!domain) LV_THROW(LvNotInitException, "Uninitialised domain.", fn, GFPPRIV_SRC)

unsigned int LvGFpPrivateKey::getP(LvOctet* dst, unsigned int len) const {
  NEED_DOMAIN("unsigned int LvGFpPrivateKey::getP(LvOctet *dst, unsigned int len) const");
  return domain->getP(dst, len);
}
const LvMultiplicativeModulusGroup& LvGFpPrivateKey::getP() const {
  NEED_DOMAIN("const LvMultiplicativeModulusGroup& LvGFpPrivateKey::getP(void) const");
  return domain->getP();
}
unsigned int LvGFpPrivateKey::getQ(LvOctet* dst, unsigned int len) const {
  NEED_DOMAIN("unsigned int LvGFpPrivateKey::getQ(LvOctet *dst, unsigned int len) const");
  return domain->getQ(dst, len);
}
const LvModulus& LvGFpPrivateKey::getQ() const {
  NEED_DOMAIN("const LvModulus& LvGFpPrivateKey::getQ(void) const");
  return domain->getQ();
}
unsigned int LvGFpPrivateKey::getG(LvOctet* dst, unsigned int len) const {
  NEED_DOMAIN("unsigned int LvGFpPrivateKey::getG(LvOctet *dst, unsigned int len) const");
  return domain->getG(dst, len);
}
LvN LvGFpPrivateKey::getG() const {
  NEED_DOMAIN("LvN LvGFpPrivateKey::getG(void) const");
  return domain->getG();
}

LvDsaPrivateKey::LvDsaPrivateKey() {}
LvDsaPrivateKey::~LvDsaPrivateKey() {}

// ------------------------------------------------------------------ scheme

namespace {

// r = (g^k mod p) mod q for a nonce k below q: the power runs over q's word count (whatever
// k's length) and the reduction by Montgomery products, both constant-time; r is published, so
// it leaves as a number.
// k arrives as fixed-length words (below q): an LvN would trim its zero top words.
LvN dsaCommitment(const LvZn& g, const LvWord* k, LvWordLen nk, const LvModulus& p,
                  const LvModulus& q) {
  const LvWordLen kp = p.getUsed(), kq = q.getUsed();
  const LvWordLen ne = kq;
  LvWordMem gw(kp), kw(ne), gk(kp), rw(kq);
  const LvN gn = g.getN();
  longvCopyResize(gw.ptr(), kp, gn.getWords(), gn.getUsed());
  longvCopyResize(kw.ptr(), ne, k, nk);
  powSecretWords(gk.ptr(), gw.ptr(), kw.ptr(), ne, p);
  reduceSecretWords(rw.ptr(), gk.ptr(), kp, q);
  lvDeclassify(rw.ptr(), kq * sizeof(LvWord));
  lvWipe(kw.ptr(), ne * sizeof(LvWord));
  lvWipe(gk.ptr(), kp * sizeof(LvWord));
  return LvN(rw);
}

}  // namespace

LvDsaSig::LvDsaSig() {}
LvDsaSig::~LvDsaSig() {}

#define DSA_SIGN_FN                                                                     \
  "unsigned int LvDsaSig::sign(const LvOctet *digest, unsigned int digestLen, LvOctet " \
  "*signature, unsigned int signatureLen)"

unsigned int LvDsaSig::sign(const LvOctet* digest, unsigned int digestLen, LvOctet* signature,
                            unsigned int signatureLen) {
  if (!rbg) LV_THROW(LvNotInitException, "There is no random generator.", DSA_SIGN_FN, DSASIGN_SRC);
  if (!priv || !priv->hasPrivatePart())
    LV_THROW(LvNotInitException, "There is no key or it is not ready to sign operation.",
             DSA_SIGN_FN, DSASIGN_SRC);
  if (digestLen > digestInUse)
    LV_THROW(LvMessageToLongException,
             "LV-MESSAGE-TO-LONG: Digest you are trying sign is too long.", DSA_SIGN_FN,
             DSASIGN_SRC);
  const LvGFpKeyDomain* dom = priv->getDomain();
  const LvMultiplicativeModulusGroup& p = dom->getP();
  const LvModulus& q = dom->getQ();
  const LvZn g(dom->getG(), &p);
  // the leftmost bits of the digest, as FIPS 186-3 takes them
  const LvN e = lvdsasig::digestNumber(digest, digestLen, q);
  const unsigned int kOctets = 2 * priv->getKeyOctets();
  // k, k^-1 and s in constant time modulo q (see lvdsasig::signS)
  const LvCtMod qc(q);
  LvCtMod::Num kc;
  std::vector<LvWord> kw(2 * qc.limbs());
  for (int attempt = 0; attempt < 100; attempt++) {
    if (!lvdsasig::drawNonce(qc, rbg, kOctets, kc)) continue;
    qc.toWords(kw.data(), static_cast<unsigned int>(kw.size()), kc);
    const LvN r = dsaCommitment(g, kw.data(), static_cast<LvWordLen>(kw.size()), p, q);
    lvWipe(kw.data(), kw.size() * sizeof(LvWord));
    if (r.isZero()) continue;
    LvN s;
    const bool signed_ = lvdsasig::signS(qc, kc, priv->getX(), e, r, s);
    lvWipe(kc.data(), kc.size() * sizeof(LvCtMod::Limb));
    if (!signed_) continue;
    const unsigned int len = lvdsasig::encodedLength(r, s);
    if (signatureLen < len)
      LV_THROW(LvArgumentRangeException, "Buffer for signature (LvOctet *signature) is too short.",
               DSA_SIGN_FN, DSASIGN_SRC);
    return lvdsasig::encode(r, s, signature);
  }
  LV_THROW(LvRbgCycleException, "The random bit generator gives no usable k.", DSA_SIGN_FN,
           DSASIGN_SRC);
}

#define DSA_VERIFY_FN                                                                       \
  "bool LvDsaSig::verify(const LvOctet *digest, unsigned int digestLen, const LvOctet *r, " \
  "unsigned int rLen, const LvOctet *s, unsigned int sLen)"

void LvDsaSig::requirePublicKey() {
  if (!pub || !pub->isReady())
    LV_THROW(LvNotInitException, "Public key is not initialised or no ready to verify operation.",
             DSA_VERIFY_FN, DSAVERIFY_SRC);
}

bool LvDsaSig::verify(const LvOctet* digest, unsigned int digestLen, const LvOctet* r,
                      unsigned int rLen, const LvOctet* s, unsigned int sLen) {
  requirePublicKey();
  const LvGFpKeyDomain* dom = pub->getDomain();
  const LvMultiplicativeModulusGroup& p = dom->getP();
  const LvModulus& q = dom->getQ();
  try {
    const LvN rN(r, rLen), sN(s, sLen);
    if (rN.isZero() || sN.isZero() || rN >= q || sN >= q) return false;
    // A y outside the subgroup of order q makes signatures easy to forge.
    if (!pub->isSubgroupMember()) return false;
    const LvN e = lvdsasig::digestNumber(digest, digestLen, q);
    const LvZn w = 1 / LvZn(sN, &q);
    const LvN u1 = (LvZn(e, &q) * w).getN();
    const LvN u2 = (LvZn(rN, &q) * w).getN();
    const LvZn y(pub->getKey(), &p);
    std::unique_ptr<LvGroupElem> X(p.createMul2(u1, dom->getGen(), u2, &y));
    const LvN v = p.asLvN(X.get()) % q;
    return v == rN;
  } catch (const LvException& e) {
    if (lvIsTransient(e)) throw;
    // no inverse modulo a composite q: no signature
    return false;
  }
}

// ------------------------------------------------------------------ key pair

void generateKeyPair(LvDsaPublicKey& publicKey, LvDsaPrivateKey& privateKey, LvDsaKeyDomain* domain,
                     LvRbg* rbg) {
  if (!domain || !domain->isReady())
    LV_THROW(LvNotInitException, "Domain is not compleat.",
             "void generateKeyPair(LvDsaPublicKey &publicKey, LvDsaPrivateKey &privateKey, "
             "LvDsaKeyDomain *domain, LvRbg *rbg)",
             "lvasym/dsasig_generatekeypair");
  const LvModulus& q = domain->getQ();
  if (q < 5u)
    LV_THROW(LvArgumentRangeException, "Size of domain is too small to generate proper key pair.",
             "void generateKeyPair(LvDsaPublicKey &publicKey, LvDsaPrivateKey &privateKey, "
             "LvDsaKeyDomain *domain, LvRbg *rbg)",
             "lvasym/dsasig_generatekeypair");
  if (!rbg)
    LV_THROW(LvNotInitException, "There is no random generator.",
             "void generateKeyPair(LvDsaPublicKey &publicKey, LvDsaPrivateKey &privateKey, "
             "LvDsaKeyDomain *domain, LvRbg *rbg)",
             "lvasym/dsasig_generatekeypair");
  const unsigned int octets = 2 * q.getOctetLength();
  LvOctMem buf(octets);
  LvN x;
  do {
    rbg->fillOctets(buf.ptr(), octets);
    x = LvN(buf.ptr(), octets) % q;
  } while (x < 2u || x + 2u > q);
  const LvMultiplicativeModulusGroup& p = domain->getP();
  const LvN y = powSecret(LvZn(domain->getG(), &p), x, q.getBitLength()).getN();
  publicKey.setDomain(domain);
  publicKey.setKey(y);
  privateKey.setDomain(domain);
  privateKey.setX(x);
  privateKey.setY(y);
  static const LvOctet kProbe[8] = {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
  LvDsaSig signer;
  signer.setPrivateKey(&privateKey);
  signer.setHashAlgo(LV_HASH_SHA1);
  signer.setRbg(rbg);
  LvOctMem sig(signer.getMaxSignatureOctets());
  const unsigned int len = signer.sign(kProbe, sizeof(kProbe), sig.ptr(), sig.getLength());
  LvDsaSig checker;
  checker.setPublicKey(&publicKey);
  checker.setHashAlgo(LV_HASH_SHA1);
  if (!checker.verify(kProbe, sizeof(kProbe), sig.ptr(), len))
    LV_THROW(LvInvalidKeyException, "Key pair is not complementary.",
             "void generateKeyPair(LvDsaPublicKey &publicKey, LvDsaPrivateKey &privateKey, "
             "LvDsaKeyDomain *domain, LvRbg *rbg)",
             "lvasym/dsasig_generatekeypair");
}
