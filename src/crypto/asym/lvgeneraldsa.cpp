// EC-DSA keys and signatures (see lvgeneraldsa.h).
#include "crypto/asym/lvgeneraldsa.h"

#include <memory>

#include "crypto/algebra/lvctinv4.h"
#include "crypto/hash/lvhash.h"
#include "crypto/rbg/lvrbg.h"

#define PUB_SRC "lvasym/lvgeneraldsapublickey"
#define PRIV_SRC "lvasym/lvgeneraldsaprivatekey"
#define SIG_SRC "lvasym/lvgeneraldsasig"
#define SIGN_SRC "lvasym/generaldsasig_sign"
#define VERIFY_SRC "lvasym/generaldsasig_verify"

// ------------------------------------------------------------------ helpers

namespace lvdsasig {

namespace {

// One DER INTEGER at p (avail octets): its content and the octets it takes.
bool readInteger(const LvOctet* p, unsigned int avail, const LvOctet** v, unsigned int* vLen,
                 unsigned int* used) {
  if (avail < 2 || p[0] != 0x02) return false;
  unsigned int len = p[1], hdr = 2;
  if (len & 0x80) {
    const unsigned int k = len & 0x7F;
    if (k == 0 || k > 4 || avail - 2 < k) return false;
    len = 0;
    for (unsigned int i = 0; i < k; i++) len = (len << 8) | p[2 + i];
    // definite lengths are minimal in DER
    if (len < 0x80 || (k > 1 && p[2] == 0)) return false;
    hdr += k;
  }
  if (len == 0 || len > avail - hdr) return false;
  const LvOctet* c = p + hdr;
  if (c[0] & 0x80) return false;                             // negative
  if (len > 1 && c[0] == 0 && !(c[1] & 0x80)) return false;  // not minimal
  *v = c;
  *vLen = len;
  *used = hdr + len;
  return true;
}

unsigned int tlvLength(const LvN& v) {
  unsigned int n = v.getOctetLength();
  if (n == 0) n = 1;
  const unsigned int top = v.getBitLength();
  if (top % 8 == 0) n++;  // leading 00 for a set top bit
  return 1 + derLengthSize(n) + n;
}

unsigned int writeInteger(const LvN& v, LvOctet* out) {
  unsigned int n = v.getOctetLength();
  if (n == 0) n = 1;
  const bool pad = v.getBitLength() % 8 == 0;
  const unsigned int len = n + (pad ? 1 : 0);
  unsigned int pos = 0;
  out[pos++] = 0x02;
  pos += derEncodeLength(len, out + pos);
  if (pad) out[pos++] = 0;
  v.getOctets(out + pos, n, 1);
  return pos + n;
}

}  // namespace

bool parseRs(const LvOctet* sig, unsigned int len, const LvOctet** r, unsigned int* rLen,
             const LvOctet** s, unsigned int* sLen) {
  if (!sig) return false;
  unsigned int used1 = 0, used2 = 0;
  if (!readInteger(sig, len, r, rLen, &used1)) return false;
  if (!readInteger(sig + used1, len - used1, s, sLen, &used2)) return false;
  return used1 + used2 == len;
}

unsigned int encodedLength(const LvN& r, const LvN& s) { return tlvLength(r) + tlvLength(s); }

unsigned int encode(const LvN& r, const LvN& s, LvOctet* out) {
  unsigned int n = writeInteger(r, out);
  return n + writeInteger(s, out + n);
}

LvN digestNumber(const LvOctet* digest, unsigned int digestLen, const LvN& n) {
  LvN e(digest, digestLen);
  const unsigned int nb = n.getBitLength();
  if (8ull * digestLen > nb) e >>= static_cast<unsigned int>(8ull * digestLen - nb);
  return e;
}

LvOctMem finishDigest(LvHash* hash, unsigned int digestLen) {
  if (!hash)
    LV_THROW(LvNotInitException, "Hash function is not initialised.", "LvAsymSig::longMsgHashInit",
             "lvasym/asymsig_long");
  hash->finish();
  LvOctMem digest(hash->getHashOctets());
  hash->getHash(0, digest.ptr());
  if (digestLen < digest.getLength()) digest.resize(digestLen);
  return digest;
}

namespace {

// Wipes a residue before it goes.
struct Wiped {
  LvCtMod::Num& v;
  ~Wiped() {
    if (!v.empty()) lvWipe(v.data(), v.size() * sizeof(LvCtMod::Limb));
  }
};

}  // namespace

bool drawNonce(const LvCtMod& q, LvRbg* rbg, unsigned int octets, LvCtMod::Num& k) {
  LvOctMem buf(octets);
  rbg->fillOctets(buf.ptr(), octets);
  q.fromOctets(k, buf.ptr(), octets);
  lvWipe(buf.ptr(), octets);
  LvCtMod::Limb zero = q.zeroMask(k);
  lvDeclassify(&zero, sizeof(zero));
  return zero == 0;
}

bool signS(const LvCtMod& q, const LvCtMod::Num& k, const LvN& x, const LvN& e, const LvN& r,
           LvN& s) {
  LvCtMod::Num xm, rm, em, km, ki, t, chk;
  Wiped w1{xm}, w2{km}, w3{ki}, w4{t}, w5{chk};
  q.fromN(xm, x);
  q.toMont(xm, xm);
  q.fromN(rm, r);
  q.toMont(rm, rm);
  q.fromN(em, e);
  q.toMont(em, em);
  q.mul(t, xm, rm);
  q.add(t, t, em);
  q.toMont(km, k);
  q.inverse(ki, km);
  // Fermat's inverse is one only modulo a prime (an explicit domain from a
  // stranger may give a composite order)
  q.mul(chk, km, ki);
  LvCtMod::Limb inverted = q.oneMask(chk);
  lvDeclassify(&inverted, sizeof(inverted));
  if (!inverted)
    LV_THROW(LvDivByZeroException, "The nonce has no inverse modulo the group order.",
             "bool lvdsasig::signS(...)", "lvasym/dsasig_sign");
  q.mul(t, t, ki);
  q.fromMont(t, t);
  // s is published from here on
  lvDeclassify(t.data(), t.size() * sizeof(LvCtMod::Limb));
  if (q.zeroMask(t)) return false;
  LvOctMem oct(8 * q.limbs());
  q.toOctets(oct.ptr(), oct.getLength(), t);
  s = LvN(oct.ptr(), oct.getLength());
  return true;
}

}  // namespace lvdsasig

// Keys accept only valid domains.
void lvCheckKeyDomain(const LvAsymKeyDomain* domain) {
  if (!domain) return;
  if (domain->getValidity() == LV_DOMAIN_INVALID)
    LV_THROW(LvInvalidKeyException, "Key domain is INVALID.", "setDomain", "lvasym/lvkeydomain");
  if (domain->getValidity() == LV_DOMAIN_UNCHECKED)
    LV_THROW(LvInvalidKeyException, "Key domain is UNCHECKED.", "setDomain", "lvasym/lvkeydomain");
}

namespace {

// A copy of the point the octets (or the element) give, when it is an
// element of the domain's group other than the neutral one.
LvGroupElem* acceptPoint(const LvGeneralDsaKeyDomain* domain, const LvOctet* oct, unsigned int len,
                         const LvGroupElem* src) {
  if (!domain)
    LV_THROW(LvNotInitException, "Uninitialised domain.",
             "setH(const LvOctet *oct, unsigned int len)", "lvasym/lvgeneraldsakey");
  const LvGroup* g = domain->getGroup();
  if (!g)
    LV_THROW(LvNotInitException, "Uninitialised group.",
             "setH(const LvOctet *oct, unsigned int len)", "lvasym/lvgeneraldsakey");
  std::unique_ptr<LvGroupElem> e(src ? g->createCopy(src) : g->createNew(oct, len));
  std::unique_ptr<LvGroupElem> O(g->createCopy(nullptr));
  if (!g->isElement(e.get()) || g->isEqual(e.get(), O.get()))
    LV_THROW(LvWrongSyntaxException, "The point is not an element of the group.",
             "setH(const LvOctet *oct, unsigned int len)", "lvasym/lvgeneraldsakey");
  // With a cofactor above 1 the curve holds points of small order that leak
  // or forge: only points of the subgroup of order n are keys.
  if (domain->getCofactor() > 1u) {
    if (!domain->inOrderSubgroup(e.get()))
      LV_THROW(LvWrongSyntaxException, "The point is not an element of the group.",
               "setH(const LvOctet *oct, unsigned int len)", "lvasym/lvgeneraldsakey");
  }
  return e.release();
}

unsigned int encodePoint(const LvGeneralDsaKeyDomain* domain, const LvGroupElem* H, LvOctet* oct,
                         unsigned int len) {
  if (!domain)
    LV_THROW(LvNotInitException, "Uninitialised domain.", "get(LvOctet *oct, unsigned int len)",
             "lvasym/lvgeneraldsakey");
  if (!domain->getGroup() || !H)
    LV_THROW(LvNotInitException, "Uninitialised group or public key.",
             "get(LvOctet *oct, unsigned int len)", "lvasym/lvgeneraldsakey");
  return domain->getGroup()->asOctetString(H, oct, len);
}

unsigned int pointBits(const LvGeneralDsaKeyDomain* domain, const LvGroupElem* H) {
  if (!domain || !domain->getGroup())
    LV_THROW(LvNotInitException, "Uninitialised group.", "getKeyBits", "lvasym/lvgeneraldsakey");
  if (!H) return 0;
  return 8 * domain->getGroup()->getOctetStringEncodingLen(H);
}

}  // namespace

// ------------------------------------------------------------------ public key

LvGeneralDsaPublicKey::LvGeneralDsaPublicKey() : domain(nullptr), H(nullptr) {}

LvGeneralDsaPublicKey::~LvGeneralDsaPublicKey() {
  delete H;
  H = nullptr;
  domain = nullptr;
}

unsigned int LvGeneralDsaPublicKey::getKeyBits() { return pointBits(domain, H); }

bool LvGeneralDsaPublicKey::isReady() { return domain && domain->isReady() && H; }

bool LvGeneralDsaPublicKey::isValid() {
  if (!isReady())
    LV_THROW(LvNotInitException, "Public key is not properly initialised.",
             "bool LvGeneralDsaPublicKey::isValid(void)", PUB_SRC);
  const LvGroup* g = domain->getGroup();
  try {
    std::unique_ptr<LvGroupElem> O(g->createCopy(nullptr));
    if (!g->isElement(H) || g->isEqual(H, O.get())) return false;
    // setH checked the order already where the domain has a cofactor
    if (orderCheckedIn == domain && domain->getValidity() == LV_DOMAIN_VALID) return true;
    return domain->inOrderSubgroup(H);
  } catch (const LvException& e) {
    if (lvIsTransient(e)) throw;
    return false;
  }
}

void LvGeneralDsaPublicKey::setDomain(const LvGeneralDsaKeyDomain* d) {
  lvCheckKeyDomain(d);
  domain = d;
}

const LvGeneralDsaKeyDomain* LvGeneralDsaPublicKey::getDomain() const { return domain; }
const LvGroupElem* LvGeneralDsaPublicKey::getH() const { return H; }

unsigned int LvGeneralDsaPublicKey::get(LvOctet* oct, unsigned int len) const {
  return encodePoint(domain, H, oct, len);
}

void LvGeneralDsaPublicKey::setH(const LvGroupElem* h) {
  LvGroupElem* e = acceptPoint(domain, nullptr, 0, h);
  delete H;
  H = e;
  orderCheckedIn = domain->getCofactor() > 1u ? domain : nullptr;
}

void LvGeneralDsaPublicKey::setH(const LvOctet* oct, unsigned int len) {
  LvGroupElem* e = acceptPoint(domain, oct, len, nullptr);
  delete H;
  H = e;
  orderCheckedIn = domain->getCofactor() > 1u ? domain : nullptr;
}

// ------------------------------------------------------------------ private key

LvGeneralDsaPrivateKey::LvGeneralDsaPrivateKey() : domain(nullptr), d(), H(nullptr) {}

LvGeneralDsaPrivateKey::~LvGeneralDsaPrivateKey() {
  delete H;
  H = nullptr;
  domain = nullptr;
}

unsigned int LvGeneralDsaPrivateKey::getKeyBits() {
  if (!domain || domain->getOrder().isZero()) return 0;
  return domain->getOrder().getBitLength();
}

bool LvGeneralDsaPrivateKey::hasPublicPart() { return false; }

bool LvGeneralDsaPrivateKey::hasPrivatePart() {
  return domain && domain->isReady() && !isZeroSecret(d);
}

unsigned int LvGeneralDsaPrivateKey::getPublicKeyBits() { return pointBits(domain, H); }

void LvGeneralDsaPrivateKey::setDomain(const LvGeneralDsaKeyDomain* dom) {
  lvCheckKeyDomain(dom);
  domain = dom;
}

const LvGeneralDsaKeyDomain* LvGeneralDsaPrivateKey::getDomain() const { return domain; }
const LvN& LvGeneralDsaPrivateKey::getKey() const { return d; }
unsigned int LvGeneralDsaPrivateKey::getKey(LvOctet* oct, unsigned int len) const {
  return d.getOctets(oct, len);
}
void LvGeneralDsaPrivateKey::setKey(const LvN& v) { d = v; }
void LvGeneralDsaPrivateKey::setKey(const LvOctet* oct, unsigned int len) { d = LvN(oct, len); }
const LvGroupElem* LvGeneralDsaPrivateKey::getH() const { return H; }

unsigned int LvGeneralDsaPrivateKey::get(LvOctet* oct, unsigned int len) const {
  return encodePoint(domain, H, oct, len);
}

void LvGeneralDsaPrivateKey::setH(const LvGroupElem* h) {
  LvGroupElem* e = acceptPoint(domain, nullptr, 0, h);
  delete H;
  H = e;
}

void LvGeneralDsaPrivateKey::setH(const LvOctet* oct, unsigned int len) {
  LvGroupElem* e = acceptPoint(domain, oct, len, nullptr);
  delete H;
  H = e;
}

// ------------------------------------------------------------------ scheme

LvGeneralDsaSig::LvGeneralDsaSig() {}
LvGeneralDsaSig::~LvGeneralDsaSig() {}

void LvGeneralDsaSig::requirePublicKey() {
  if (!pub || !pub->isReady())
    LV_THROW(LvNotInitException, "There is no public key or is is not ready to verification.",
             "bool LvGeneralDsaSig::verify(const LvOctet *digest, unsigned int digestLen, const "
             "LvOctet *r, unsigned int rLen, const LvOctet *s, unsigned int sLen)",
             VERIFY_SRC);
}

unsigned int LvGeneralDsaSig::sign(const LvOctet* digest, unsigned int digestLen,
                                   LvOctet* signature, unsigned int signatureLen) {
  if (!priv || !priv->hasPrivatePart())
    LV_THROW(LvNotInitException, "There is no private key or it is not ready to sign.",
             "unsigned int LvGeneralDsaSig::sign(const LvOctet *digest, unsigned int digestLen, "
             "LvOctet *signature, unsigned int signatureLen)",
             SIGN_SRC);
  if (!rbg)
    LV_THROW(LvNotInitException, "There is no random generator.",
             "unsigned int LvGeneralDsaSig::sign(const LvOctet *digest, unsigned int digestLen, "
             "LvOctet *signature, unsigned int signatureLen)",
             SIGN_SRC);
  const LvGeneralDsaKeyDomain* dom = priv->getDomain();
  const LvGroup* g = dom->getGroup();
  const LvGroupElem* G = dom->getGen();
  const LvModulus& n = dom->getOrder();
  const LvN e = lvdsasig::digestNumber(digest, digestLen, n);
  const unsigned int kOctets = 2 * priv->getKeyOctets();
  // The nonce and the private key stay in fixed-length residues and go
  // through constant-time code only: the scalar multiplication, the reduction
  // of x(kG), k^-1 and s. What the signature publishes (r, s) is public.
  const LvCtMod nc(n);
  const unsigned int kWords = 2 * nc.limbs();
  std::vector<LvWord> kw(kWords);
  LvCtMod::Num k, rr;
  // A generator that keeps giving unusable k would hold us for ever.
  for (int attempt = 0; attempt < 100; attempt++) {
    if (!lvdsasig::drawNonce(nc, rbg, kOctets, k)) continue;
    nc.toWords(kw.data(), kWords, k);
    std::vector<LvWord> x = g->mulSecretX(kw.data(), kWords, n, G);
    lvWipe(kw.data(), kWords * sizeof(LvWord));
    nc.fromWords(rr, x.data(), static_cast<unsigned int>(x.size()));
    lvDeclassify(rr.data(), rr.size() * sizeof(LvCtMod::Limb));
    LvOctMem rOct(8 * nc.limbs());
    nc.toOctets(rOct.ptr(), rOct.getLength(), rr);
    const LvN r(rOct.ptr(), rOct.getLength());
    if (r.isZero()) continue;
    LvN s;
    const bool ok = lvdsasig::signS(nc, k, priv->getKey(), e, r, s);
    lvWipe(k.data(), k.size() * sizeof(LvCtMod::Limb));
    if (!ok) continue;
    const unsigned int len = lvdsasig::encodedLength(r, s);
    if (signatureLen < len)
      LV_THROW(LvArgumentRangeException, "Buffer (LvOctet *signature) for signature is too short.",
               "unsigned int LvGeneralDsaSig::sign(const LvOctet *digest, unsigned int digestLen, "
               "LvOctet *signature, unsigned int signatureLen)",
               SIGN_SRC);
    return lvdsasig::encode(r, s, signature);
  }
  LV_THROW(LvRbgCycleException, "The random bit generator gives no usable k.",
           "unsigned int LvGeneralDsaSig::sign(const LvOctet *digest, unsigned int digestLen, "
           "LvOctet *signature, unsigned int signatureLen)",
           SIGN_SRC);
}

namespace {

// s^-1 modulo the order: by divsteps for orders of up to 576 bits (a fifth to
// a third of the binary inversion's time), checked, since a composite order
// (an explicit domain) may leave s without an inverse; else by the residues'
// division, which throws then.
LvZn inverseOf(const LvN& s, const LvModulus& n) {
  const unsigned int bits = n.getBitLength();
  if (n.isEven() || bits > 576) return 1 / LvZn(s, &n);
  const unsigned int words = bits <= 256 ? 4 : (bits + 63) / 64;
  std::uint64_t nl[9] = {0}, sl[9] = {0}, wl[9];
  for (unsigned int i = 0; i < n.getUsed(); i++)
    nl[i / 2] |= (std::uint64_t)n.getWords()[i] << (32 * (i % 2));
  for (unsigned int i = 0; i < s.getUsed(); i++)
    sl[i / 2] |= (std::uint64_t)s.getWords()[i] << (32 * (i % 2));
  lvctinv4::inverseWords(wl, sl, nl, words);
  LvWord ww[18];
  for (unsigned int i = 0; i < 2 * words; i++)
    ww[i] = static_cast<LvWord>(wl[i / 2] >> (32 * (i % 2)));
  const LvZn w(ww, 2 * words, &n);
  if (!(w * LvZn(s, &n) == 1))
    LV_THROW(LvDivByZeroException, "s has no inverse modulo the group order.",
             "LvZn inverseOf(const LvN &s, const LvModulus &n)", VERIFY_SRC);
  return w;
}

}  // namespace

bool LvGeneralDsaSig::verify(const LvOctet* digest, unsigned int digestLen, const LvOctet* r,
                             unsigned int rLen, const LvOctet* s, unsigned int sLen) {
  requirePublicKey();
  const LvGeneralDsaKeyDomain* dom = pub->getDomain();
  const LvGroup* g = dom->getGroup();
  const LvModulus& n = dom->getOrder();
  try {
    const LvN rN(r, rLen), sN(s, sLen);
    if (rN.isZero() || sN.isZero() || rN >= n || sN >= n) return false;
    const LvN e = lvdsasig::digestNumber(digest, digestLen, n);
    const LvZn w = inverseOf(sN, n);
    const LvN u1 = (LvZn(e, &n) * w).getN();
    const LvN u2 = (LvZn(rN, &n) * w).getN();
    std::unique_ptr<LvGroupElem> X(g->createMul2(u1, dom->getGen(), u2, pub->getH()));
    return g->xModEquals(X.get(), rN, n);
  } catch (const LvException& e) {
    if (lvIsTransient(e)) throw;
    // no inverse modulo a composite order, the point at infinity: no signature
    return false;
  }
}
