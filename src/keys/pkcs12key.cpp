#include "keys/pkcs12key.h"

#include "asn1/asnbitst.h"
#include "base/memfile.h"
#include "crypto/basic/lvexception.h"
#include "crypto/hash/lvhash.h"
#include "crypto/rbg/lvrbghashiso18031.h"
#include "keys/keymanager.h"
#include "keys/sigverify.h"
#include "pki/common/extension.h"
#include "pki/common/oids.h"
#include "pki/keys/ecprvkey.h"
#include "pki/keys/rsaprkey.h"
#include "pki/pkcs/pfx.h"

#include <mutex>
#include <new>
#include <vector>

namespace {

const size_t SEED_OCTETS = 48;
// A key without its public point is paired by a probe signature verified with each EC
// certificate of the file, at most this many: a file of many certificates costs no more.
const int MAX_PROBES = 16;

// keyUsage bits (RFC 5280, 4.2.1.3).
const int KU_DIGITAL_SIGNATURE = 0;
const int KU_NON_REPUDIATION = 1;
const int KU_KEY_ENCIPHERMENT = 2;

// Octets of a hash's digest; 0 for a hash this library does not know.
unsigned int digestOctets(int32_t digestId) {
  try {
    return LvGenericHash::getGenericHashOctets(static_cast<LvHashAlgo>(digestId));
  } catch (const LvException&) {
    return 0;
  }
}

// The digests a key here signs with: SHA-1, SHA-2 and RIPEMD-160.
bool signingDigest(int32_t digestId) {
  return (digestId >= 1 && digestId <= 5) || digestId == 7;
}

// DER length of the DigestInfo of a digest with NULL parameters (OID of nine octets, of five for
// SHA-1 and RIPEMD-160).
unsigned int digestInfoOctets(int32_t digestId, unsigned int digestLength) {
  unsigned int oid = digestId == 1 || digestId == 7 ? 5 : 9;
  return 2 + (2 + (2 + oid + 2)) + (2 + digestLength);
}

class Pkcs12Key : public KeyHolder {
 public:
  Pkcs12Key(std::unique_ptr<RSAPrivateKey> rsaKey, std::unique_ptr<ECPrivateKey> ecKey,
            bool pssOnly, uint32_t bits, std::unique_ptr<SignedCertificate> cert,
            std::unique_ptr<LvRbgHashIso18031> generator)
      : rsa(std::move(rsaKey)),
        ec(std::move(ecKey)),
        pss(pssOnly),
        bitLength(bits),
        cert(std::move(cert)),
        rbg(std::move(generator)) {}

  const SignedCertificate* certificate() const override { return cert.get(); }
  int32_t scheme() const override { return rsa ? (pss ? 3 : 0) : 2; }
  uint32_t keyBits() const override { return bitLength; }

  bool supportsDigest(int32_t digestId) const override { return signsWith(pss, digestId); }

  int32_t sign(int32_t schemeId, int32_t digestId, const uint8_t* digest, size_t digestLength,
               std::vector<uint8_t>& signature) override {
    if (!supportsDigest(digestId) || digestLength != digestOctets(digestId)) return KM_BAD_ARGUMENTS;
    const int length = static_cast<int>(digestLength);
    std::lock_guard<std::mutex> hold(lock);
    try {
      if (rsa) {
        if (schemeId != 3 && (schemeId != 0 || pss)) return KM_BAD_ARGUMENTS;
        // A key that may sign either way may be too short for PSS with this digest.
        if (!signsWith(schemeId == 3, digestId)) return KM_BAD_ARGUMENTS;
        MemFile out;
        int r = schemeId == 0
                    ? rsa->signDigest(digest, length, digestId, rbg.get(), out)
                    : rsa->signDigestPss(digest, length, digestId, rbg.get(), out, 0, 0, 0);
        if (r == 5) return KM_NO_MEMORY;
        if (r != 0) return KM_DEVICE_ERROR;
        signature.assign(out.data(), out.data() + out.size());
        return KM_OK;
      }
      if (schemeId != 2) return KM_BAD_ARGUMENTS;
      DSASignature value;
      int r = ec->signDigest(digest, length, digestId, rbg.get(), value);
      if (r == -2) return KM_NO_MEMORY;
      if (r != 1) return KM_DEVICE_ERROR;
      std::vector<uint8_t> der;
      if (value.encodeVector(der) < 1) return KM_NO_MEMORY;
      signature.swap(der);
      return KM_OK;
    } catch (const std::bad_alloc&) {
      return KM_NO_MEMORY;
    }
  }

  int32_t decryptSessionKey(const uint8_t* encrypted, size_t length,
                            std::unique_ptr<SecretBlock>& sessionKey) override {
    if (!rsa) return KM_NO_KEY;
    std::lock_guard<std::mutex> hold(lock);
    try {
      MemFile plain;  // wiped when released
      // A cipher text is exactly as long as the modulus (RFC 8017, 7.2.2). Its length is public;
      // it joins the padding check's one answer so that no cause is told apart.
      const bool whole = length == (bitLength + 7) / 8;
      int r = rsa->decryptPkcs1v15(encrypted, whole ? static_cast<int>(length) : 0, plain);
      if (r == 5) return KM_NO_MEMORY;
      if (!whole || r != 0 || plain.size() == 0) return KM_NO_SESSION_KEY;
      std::unique_ptr<SecretBlock> key(new SecretBlock(plain.size()));
      for (size_t i = 0; i < key->size(); ++i) key->data()[i] = *plain.at(static_cast<int>(i));
      sessionKey = std::move(key);
      return KM_OK;
    } catch (const std::bad_alloc&) {
      return KM_NO_MEMORY;
    }
  }

 private:
  // Whether the key signs the digest (under PSS with a salt as long as it, or PKCS#1 v1.5).
  bool signsWith(bool pssScheme, int32_t digestId) const {
    if (!signingDigest(digestId)) return false;
    if (!rsa) return true;
    const unsigned int k = (bitLength + 7) / 8, h = digestOctets(digestId);
    return pssScheme ? 2 * h + 2 <= k : digestInfoOctets(digestId, h) + 11 <= k;
  }

  std::mutex lock;
  std::unique_ptr<RSAPrivateKey> rsa;
  std::unique_ptr<ECPrivateKey> ec;
  bool pss;
  uint32_t bitLength;
  std::unique_ptr<SignedCertificate> cert;
  // Salts, EC-DSA nonces and the masking of RSA.
  std::unique_ptr<LvRbgHashIso18031> rbg;
};

// A private key of the file with what it may do.
struct Candidate {
  std::unique_ptr<RSAPrivateKey> rsa;
  std::unique_ptr<ECPrivateKey> ec;
  bool pss = false;
  const SignedCertificate* cert = nullptr;
  bool signs = false, decrypts = false;
  std::unique_ptr<LvRbgHashIso18031> rbg;
  std::shared_ptr<KeyHolder> holder;
  // The probe signature (made once) and the certificates it was tried on.
  std::vector<uint8_t> probe;
  int probes = 0;
};

// The keyUsage bits of a certificate, all set when it has no keyUsage; 0 when it is unreadable.
bool keyUsageAllows(const SignedCertificate& cert, int bit) {
  const Extension* e = findExtensionByOid(*cert.tbsCertificate.extensions, id_ce_keyUsage);
  if (!e) return true;
  ASNbitstr usage;
  return usage.decodeOctets(e->extnValue) > 0 && usage.getBit(bit) == 1;
}

bool samePublicKey(Candidate& key, const SignedCertificate& cert) {
  const SubPubKeyInfo& spki = cert.tbsCertificate.subjectPublicKeyInfo;
  if (key.rsa) {
    const ASNobjectId& oid = spki.algorithm.algorithm;
    if (oid != rsaEncryption && oid != id_RSASSA_PSS) return false;
    return key.rsa->modulus.equals(spki.rsaKey.modulus) &&
           key.rsa->publicExponent.equals(spki.rsaKey.publicExponent);
  }
  if (!spki.isEcKey()) return false;
  if (key.ec->publicKeyPresent)
    return static_cast<const ASNbitstr&>(key.ec->publicKey.get()) == spki.subjectPublicKey;
  // Without its point the key is tried on a signature rather than multiplied out, which would
  // not run in constant time.
  static const uint8_t probe[32] = {0x54, 0x41, 0x4C};
  if (key.probes >= MAX_PROBES) return false;
  ++key.probes;
  if (key.probe.empty()) {
    DSASignature value;
    if (key.ec->signDigest(probe, sizeof probe, 3, key.rbg.get(), value) != 1 ||
        value.encodeVector(key.probe) < 1) {
      key.probes = MAX_PROBES;
      return false;
    }
  }
  SubPubKeyInfo copy(spki);
  return verifyEcdsaSignature(copy, key.probe.data(), key.probe.size(), probe, sizeof probe, 3) ==
         SIGCHECK_OK;
}

// 0, 4 or 12 (a key that does not decode); an algorithm other than RSA and EC is skipped.
int32_t readKey(const PrivateKeyInfo& info, Candidate& out) {
  const ASNobjectId& oid = info.privateKeyAlgorithm.algorithm;
  if (oid == rsaEncryption || oid == id_RSASSA_PSS) {
    std::unique_ptr<RSAPrivateKey> key(new RSAPrivateKey);
    int d = key->decodeOctets(info.privateKey);
    if (d == EASN_MEM) return KM_NO_MEMORY;
    if (d < 2 || d != info.privateKey.length) return KM_SETTINGS_FORMAT;
    out.rsa = std::move(key);
    out.pss = oid == id_RSASSA_PSS;
    return KM_OK;
  }
  std::unique_ptr<ECPrivateKey> key(new ECPrivateKey);
  int r = info.getEcKey(*key);
  if (r == 1) return KM_OK;
  if (r == 3) return KM_NO_MEMORY;
  if (r != 0 || !key->parametersPresent) return KM_SETTINGS_FORMAT;
  out.ec = std::move(key);
  return KM_OK;
}

// One UTF-8 character at text[i]: its length, or 0 when the octets there are not one (a stray
// or missing continuation, an overlong form, a surrogate, beyond U+10FFFF).
size_t utf8Char(const uint8_t* text, size_t length, size_t i, uint32_t& cp) {
  static const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
  const uint8_t c = text[i];
  const size_t extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2
                     : (c & 0xF8) == 0xF0 ? 3 : 4;
  if (extra == 4 || extra >= length - i) return 0;
  cp = extra ? c & (0x3Fu >> extra) : c;
  for (size_t k = 1; k <= extra; ++k) {
    if ((text[i + k] & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (text[i + k] & 0x3Fu);
  }
  if (cp < least[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return 0;
  return extra + 1;
}

// The PIN as PKCS#12 wants it: UTF-16 big-endian with two zero octets at the end. A text that
// is not UTF-8 is taken octet by octet, as openssl does.
std::unique_ptr<SecretBlock> bmpPassword(const char* pin, size_t length) {
  const uint8_t* text = reinterpret_cast<const uint8_t*>(pin);
  std::unique_ptr<SecretBlock> out(new SecretBlock(4 * length + 2));
  uint8_t* p = out->data();
  size_t at = 0;
  auto put = [&](uint32_t unit) {
    p[at++] = static_cast<uint8_t>(unit >> 8);
    p[at++] = static_cast<uint8_t>(unit);
  };
  size_t i = 0;
  while (i < length) {
    uint32_t cp = 0;
    const size_t n = utf8Char(text, length, i, cp);
    if (n == 0) break;
    if (cp >= 0x10000) {
      put(0xD800 | (cp - 0x10000) >> 10);
      put(0xDC00 | (cp & 0x3FF));
    } else {
      put(cp);
    }
    i += n;
  }
  if (i < length) {
    at = 0;
    for (i = 0; i < length; ++i) put(text[i]);
  }
  put(0);
  out->shrink(at);
  return out;
}

std::unique_ptr<LvRbgHashIso18031> newGenerator() {
  SecretBlock seed(SEED_OCTETS);
  if (!seed.fillFromSystem()) return nullptr;
  std::unique_ptr<LvRbgHashIso18031> rbg(new LvRbgHashIso18031);
  rbg->init(seed.data(), static_cast<unsigned int>(seed.size()));
  return rbg;
}

int32_t chooseKeys(std::vector<Candidate>& candidates,
                   const TypedPointerList<SignedCertificate>& certs, Pkcs12Keys& keys) {
  bool anyCertificate = false;
  for (Candidate& c : candidates) {
    for (POSITION pos = certs.GetHeadPosition(); pos && !c.cert;) {
      const SignedCertificate* cert = certs.GetNext(pos);
      if (cert && samePublicKey(c, *cert)) c.cert = cert;
    }
    anyCertificate = anyCertificate || c.cert;
  }
  Candidate* signing = nullptr;
  Candidate* decryption = nullptr;
  for (Candidate& c : candidates) {
    // A stray key beside keys with certificates is not the user's.
    if (anyCertificate && !c.cert) continue;
    c.signs = !c.cert || keyUsageAllows(*c.cert, KU_DIGITAL_SIGNATURE) ||
              keyUsageAllows(*c.cert, KU_NON_REPUDIATION);
    c.decrypts = c.rsa && !c.pss && (!c.cert || keyUsageAllows(*c.cert, KU_KEY_ENCIPHERMENT));
    if (c.signs) {
      if (signing) return 42;
      signing = &c;
    }
    if (c.decrypts) {
      if (decryption) return 42;
      decryption = &c;
    }
  }
  if (!signing && !decryption) return KM_NO_KEY;
  for (Candidate* c : {signing, decryption}) {
    if (!c || c->holder) continue;
    std::unique_ptr<SignedCertificate> cert(c->cert ? new SignedCertificate(*c->cert) : nullptr);
    uint32_t bits = 0;
    if (c->rsa) {
      RSAPublicKey pub;
      c->rsa->getPublicKey(pub);
      bits = pub.keyBits();
    } else if (c->ec->parameters.get().getKeyDomain()) {
      bits = c->ec->parameters.get().getKeyDomain()->getOrder().getBitLength();
    }
    c->holder = std::make_shared<Pkcs12Key>(std::move(c->rsa), std::move(c->ec), c->pss, bits,
                                            std::move(cert), std::move(c->rbg));
  }
  keys.signing = signing ? signing->holder : nullptr;
  keys.decryption = decryption ? decryption->holder : nullptr;
  return KM_OK;
}

}  // namespace

int32_t readPkcs12Keys(const uint8_t* file, size_t length, const char* pin, size_t pinLength,
                       Pkcs12Keys& keys) {
  keys = Pkcs12Keys();
  if (!file || length == 0 || length > PKCS12_MAX_FILE_OCTETS) return KM_SETTINGS_FORMAT;
  try {
    Pfx pfx;
    const int d = pfx.decodeBuffer(file, static_cast<int>(length));
    if (d == EASN_MEM) return KM_NO_MEMORY;
    if (d != static_cast<int>(length)) return KM_SETTINGS_FORMAT;
    std::unique_ptr<SecretBlock> password = bmpPassword(pin ? pin : "", pin ? pinLength : 0);
    TypedPointerList<PrivateKeyInfo> infos;
    TypedPointerList<SignedCertificate> certs;
    TypedPointerList<SafeBag> bags;
    infos.owns = certs.owns = bags.owns = true;
    // PBES2 takes the PIN's octets as they are, the PKCS#12 schemes its BMPString.
    switch (pfx.parsePfx(infos, certs, bags, password->data(), static_cast<int>(password->size()),
                         nullptr, nullptr, reinterpret_cast<const uint8_t*>(pin ? pin : ""),
                         pin ? static_cast<int>(pinLength) : 0)) {
      case 1:
        break;
      case 0:
        return 13;
      case -2:
        return 19;
      case -4:
        return KM_NO_MEMORY;
      default:
        return KM_SETTINGS_FORMAT;
    }
    // A user's keys, not a store of keys: pairing costs each key a walk over the certificates.
    if (static_cast<size_t>(infos.GetCount()) > PKCS12_MAX_KEYS) return KM_SETTINGS_FORMAT;
    std::vector<Candidate> candidates;
    for (POSITION pos = infos.GetHeadPosition(); pos;) {
      const PrivateKeyInfo* info = infos.GetNext(pos);
      if (!info) continue;
      Candidate c;
      int32_t r = readKey(*info, c);
      if (r != KM_OK) return r;
      if (!c.rsa && !c.ec) continue;
      c.rbg = newGenerator();
      if (!c.rbg) return KM_DEVICE_ERROR;
      candidates.push_back(std::move(c));
    }
    const int32_t chosen = chooseKeys(candidates, certs, keys);
    if (chosen != KM_OK) return chosen;
    for (POSITION pos = certs.GetHeadPosition(); pos;)
      if (const SignedCertificate* cert = certs.GetNext(pos)) {
        keys.certificates.emplace_back();
        keys.certificates.back() = *cert;
      }
    return KM_OK;
  } catch (const std::bad_alloc&) {
    keys = Pkcs12Keys();
    return KM_NO_MEMORY;
  } catch (const LvMemException&) {
    keys = Pkcs12Keys();
    return KM_NO_MEMORY;
  }
}
