#include "pki/pkcs/pfx.h"

#include "asn1/asnbool.h"
#include "base/commonerror.h"
#include "base/memfile.h"
#include "crypto/basic/lvexception.h"
#include "crypto/hash/lvhash.h"
#include "crypto/hash/lvsha.h"
#include "crypto/sym/lvmac.h"
#include "pki/keys/dsaprkey.h"
#include "pki/keys/ecprvkey.h"
#include "pki/common/oids.h"
#include "pki/keys/rsaprkey.h"
#include "pki/x509/crl.h"

#include <cstring>
#include <new>
#include <stdexcept>
#include <type_traits>

namespace {

const char* const SRC = "libpkcs12/pfx";

constexpr uint32_t BUILD_ITERATIONS = 2048;
constexpr int SALT_OCTETS = 8;
constexpr int SHA1_OCTETS = 20;

// The salt state: SHA-1 of itself after each use.
void advanceSalt(unsigned char* state) {
  try {
    LvSha1 sha;
    sha.hash(state, SHA1_OCTETS);
    sha.getHash(SHA1_OCTETS, state);
  } catch (const LvException& e) {
    checkInvariant(false, SRC, __LINE__, "0", e.what());
  }
}

// HMAC over the authSafe octets with the key of ID 3 derived over the same hash (as long as
// its output): SHA-1, or SHA-2 as openssl 3 writes it.
void authSafeMac(LvHashAlgo hash, const ASNoctstr& content, const unsigned char* password,
                 int passwordLength, const unsigned char* salt, int saltLength,
                 uint32_t iterations, unsigned char* mac) {
  try {
    const unsigned int n = LvGenericHash::getGenericHashOctets(hash);
    LvOctMem key(n);
    pkcs12PbeDerive(hash, key.ptr(), static_cast<int>(n), 3, password, passwordLength, salt,
                    saltLength, iterations);
    LvHmac hmac(hash);
    hmac.setKey(key.ptr(), n);
    hmac.init();
    if (content.length > 0) hmac.step(content.data(), static_cast<unsigned int>(content.length));
    hmac.finish();
    hmac.getMac(n, mac);
  } catch (const LvMemException&) {
    throw;  // memory, for the caller to answer
  } catch (const LvException& e) {
    checkInvariant(false, SRC, __LINE__, "0", e.what());
  }
}

// The hash of a MAC's digest algorithm; 0 for one not taken.
LvHashAlgo macHash(const ASNobjectId& oid) {
  if (oid == id_sha1) return LV_HASH_SHA1;
  if (oid == id_sha224) return LV_HASH_SHA224;
  if (oid == id_sha256) return LV_HASH_SHA256;
  if (oid == id_sha384) return LV_HASH_SHA384;
  if (oid == id_sha512) return LV_HASH_SHA512;
  return 0;
}

// The DER of an object as the content of an OCTET STRING held by an ANY.
void setOctetStringOf(ASNany& target, const ASNobject& object) {
  MemFile der;
  if (object.encode(&der) < 1 || target.setEncoding(0x04, der.data(), der.length()) != 1)
    throwBadAllocation();
}

// The octets are exactly one encoding of the object; memory running out is thrown, not taken
// for a malformed file. inPlace: read in place over a private copy of the octets (a
// certificate then verifies over the octets its issuer signed, DER or not).
bool decodeWhole(ASNobject& object, const ASNoctstr& octets, bool inPlace = false) {
  if (!octets.data()) return false;
  const int r = object.decodeBuffer(octets.data(), octets.length,
                                    inPlace ? ASN_FLAG_CONST | ASN_FLAG_COPY : 0);
  if (r == EASN_MEM) throwBadAllocation();
  return r == octets.length;
}

// The value decodes into the object (decodeAny), memory thrown as above.
bool decodeFromAny(ASNobject& object, const ASNany& value) {
  const int r = object.decodeAny(value);
  if (r == 0) throwBadAllocation();
  return r == 1;
}

// Copies of the attributes into a new list appended to `lists`.
void copyAttributesInto(PointerList* lists, const Attributes& attrs) {
  if (!lists) return;
  TypedPointerList<Attribute>* list = addNewAttributeList(*lists);
  if (!list) throwBadAllocation();
  for (POSITION pos = attrs.GetHeadPosition(); pos;) {
    const Attribute* a = attrs.GetNext(pos);
    if (!a) continue;
    Attribute* copy = new Attribute(*a);
    if (!list->AddTail(copy)) {
      delete copy;
      throwBadAllocation();
    }
  }
}

// Iterations spent by one reading, over all its derivations.
class IterationBudget {
 public:
  // False when the item's iterations would pass the total.
  bool spend(uint32_t n) {
    if (n > PFX_MAX_TOTAL_ITERATIONS - spent_) return false;
    spent_ += n;
    return true;
  }
  // As spend, for the parameters of a PBE algorithm (those that do not
  // read are refused by the decryption itself).
  bool spend(const AlgorithmIdentifier& alg) {
    if (pbeIsPbes2(alg)) {
      const uint32_t n = pbes2Iterations(alg);
      return n == 0 || spend(n);
    }
    const PbeScheme* scheme = nullptr;
    PbeParameters params;
    return pbeReadAlgorithm(alg, &scheme, params) != 1 || spend(pbeIterations(params));
  }

 private:
  uint32_t spent_ = 0;
};

// The walk of one reading.
struct PfxReader {
  TypedPointerList<PrivateKeyInfo>& keys;
  TypedPointerList<SignedCertificate>& certs;
  TypedPointerList<SafeBag>& bags;
  const unsigned char* password;
  int passwordLength;
  PointerList* keyAttributes;
  PointerList* certAttributes;
  // The password as typed, for PBES2; NULL: from the BMPString.
  const unsigned char* text;
  int textLength;
  IterationBudget budget;

  // An EncryptedData of either scheme decrypted: 1, or the reading's result.
  int decryptData(const ASNany& value, ASNoctstr& plain) {
    EncryptedData ed;
    if (!decodeFromAny(ed, value)) return -1;
    const EncryptedContentInfo& eci = ed.encryptedContentInfo;
    if (pbeIsPbes2(eci.contentEncryptionAlgorithm)) {
      if (!budget.spend(eci.contentEncryptionAlgorithm)) return -2;
      LvOctMem octets;
      const int d = pbeDecrypt(eci.contentEncryptionAlgorithm, nullptr, password, passwordLength,
                               eci.encryptedContent, octets, SRC, text, textLength);
      if (d == -1) throwBadAllocation();
      if (d != 1) return d;
      if (plain.set(octets.ptr(), static_cast<int>(octets.getLength())) != 1) throwBadAllocation();
      return 1;
    }
    const PbeScheme* scheme = pbeSchemeByOid(eci.contentEncryptionAlgorithm.algorithm);
    if (!scheme) return -2;
    if (!budget.spend(eci.contentEncryptionAlgorithm)) return -2;
    const int d = eci.decryptWithPassword(scheme->cipherId, password, passwordLength, plain);
    if (d == -1) throwBadAllocation();
    return d;
  }

  int readCertBag(const SafeBag& bag) {
    CertBag cb;
    if (!decodeFromAny(cb, bag.bagValue.get())) return -1;
    if (cb.certId != x509Certificate) return -1;
    const ASNoctstr& der = cb.certValue.get();
    SignedCertificate* cert = certs.addNew();
    if (!cert) throwBadAllocation();
    // The certificate is an element of the PFX, not a value of its own: DER
    // only, never the text armour a top-level read accepts.
    ASNDepthGuard nested;
    if (!decodeWhole(*cert, der, true)) {
      certs.deleteTail();
      return -1;
    }
    copyAttributesInto(certAttributes, bag.bagAttributes);
    return 1;
  }

  int readShroudedKeyBag(const SafeBag& bag) {
    EncryptedPrivateKeyInfo epki;
    if (!decodeFromAny(epki, bag.bagValue.get())) return -1;
    if (!budget.spend(epki.encryptionAlgorithm)) return -2;
    PrivateKeyInfo* key = keys.addNew();
    if (!key) throwBadAllocation();
    const int d = epki.decrypt(password, passwordLength, *key, text, textLength);
    if (d != 1) {
      keys.deleteTail();
      if (d == -1) throwBadAllocation();
      return d == -3 ? -1 : d;
    }
    copyAttributesInto(keyAttributes, bag.bagAttributes);
    return 1;
  }

  int readKeyBag(const SafeBag& bag) {
    PrivateKeyInfo* key = keys.addNew();
    if (!key) throwBadAllocation();
    if (!decodeFromAny(*key, bag.bagValue.get())) {
      keys.deleteTail();
      return -1;
    }
    copyAttributesInto(keyAttributes, bag.bagAttributes);
    return 1;
  }

  int readSecretBag(const SafeBag& bag) {
    ASNoctstr plain;
    const int d = decryptData(bag.bagValue.get(), plain);
    if (d != 1) return d;
    SafeBag* inner = bags.addNew();
    if (!inner) throwBadAllocation();
    if (!decodeWhole(*inner, plain)) {
      bags.deleteTail();
      return -1;
    }
    return 1;
  }

  // The bags of an id-data safe.
  int dataSafe(const ASNany& value) {
    ASNoctstr octets;
    if (!decodeFromAny(octets, value)) return -1;
    SafeContents safe;
    if (!decodeWhole(safe, octets)) return -1;
    for (POSITION pos = safe.GetHeadPosition(); pos;) {
      const SafeBag* bag = safe.GetNext(pos);
      if (!bag) continue;
      int r;
      if (bag->bagId == pkcs8ShroudedKeyBag)
        r = readShroudedKeyBag(*bag);
      else if (bag->bagId == secretBag)
        r = readSecretBag(*bag);
      else if (bag->bagId == certBag)
        r = readCertBag(*bag);
      else
        r = -1;
      if (r != 1) return r;
    }
    return 1;
  }

  // The bags of an id-encryptedData safe.
  int encryptedSafe(const ASNany& value) {
    ASNoctstr plain;
    const int d = decryptData(value, plain);
    if (d != 1) return d;
    SafeContents safe;
    if (!decodeWhole(safe, plain)) return -1;
    for (POSITION pos = safe.GetHeadPosition(); pos;) {
      const SafeBag* bag = safe.GetNext(pos);
      if (!bag) continue;
      int r;
      if (bag->bagId == certBag)
        r = readCertBag(*bag);
      else if (bag->bagId == keyBag)
        r = readKeyBag(*bag);
      else
        r = -1;
      if (r != 1) return r;
    }
    return 1;
  }
};

}  // namespace

void addCopy(TypedPointerList<SignedCertRevList>& target,
             const TypedPointerList<SignedCertRevList>& source) {
  for (POSITION pos = source.GetHeadPosition(); pos;) {
    const SignedCertRevList* crl = TypedPointerList<SignedCertRevList>::GetNext(pos);
    if (!crl) continue;
    SignedCertRevList* copy = target.addNew();
    if (!copy) throwBadAllocation();
    *copy = *crl;
  }
  target.owns = source.owns;
}

// ---------------------------------------------------------------------------
// SafeBag

SafeBag::SafeBag(unsigned char valueTag)
    : cmsasn::Sequence<SafeBag>(0),
      bagId(),
      bagValue(valueTag),
      bagAttributes(),
      bagAttributesPresent(0) {}

SafeBag::~SafeBag() = default;

SafeBag::SafeBag(const SafeBag& other) : SafeBag(0xA0) { *this = other; }

SafeBag& SafeBag::operator=(const SafeBag& other) {
  if (this == &other) return *this;
  MemFile der;
  if (other.encode(&der) < 1 || der.length() < 1) throwBadAllocation();
  if (decodeBuffer(der.data(), der.length(), 0) != der.length()) throwBadAllocation();
  return *this;
}

int SafeBag::decodeMembers(cmsasn::MemberReader& r) {
  int x = r.readTagged(bagId, 0x06);
  if (x < 1) return x;
  if ((x = r.readTagged(bagValue, 0xA0)) < 1) return x;
  if (!r.done()) {
    if ((x = r.readTagged(bagAttributes, 0x31)) < 1) return x;
    bagAttributesPresent = 1;
  }
  return r.finish();
}

cmsasn::Members<3> SafeBag::members() const {
  return {&bagId, &bagValue, cmsasn::opt(bagAttributes, bagAttributesPresent)};
}

int SafeBag::addAttribute(const ASNobjectId& oid, const ASNobject& value) {
  Attribute* a = new (std::nothrow) Attribute();
  if (!a) return 0;
  a->attrType = oid;
  if (!a->addValue(value) || bagAttributes.append(a) != 1) {
    delete a;
    return 0;
  }
  bagAttributesPresent = 1;
  return 1;
}

void SafeBag::setAttributes(const unsigned char* friendlyName, int friendlyNameLength,
                            const unsigned char* localKeyId, int localKeyIdLength) {
  if (localKeyId && localKeyIdLength > 0) {
    ASNoctstr id;
    if (id.set(localKeyId, localKeyIdLength) != 1 ||
        addAttribute(pkcs_9_at_localKeyId, id) != 1)
      throwBadAllocation();
  }
  if (friendlyName && friendlyNameLength > 0) {
    ASNany name;
    if (name.setEncoding(0x1E, friendlyName, friendlyNameLength) != 1 ||
        addAttribute(pkcs_9_at_friendlyName, name) != 1)
      throwBadAllocation();
  }
}

// ---------------------------------------------------------------------------
// CertBag, MacData, EncryptedData

CertBag::CertBag(unsigned char t) : cmsasn::Sequence<CertBag>(t), certId(), certValue(0xA0) {}

CertBag::~CertBag() = default;

int CertBag::decodeMembers(cmsasn::MemberReader& r) {
  int x = r.readTagged(certId, 0x06);
  if (x < 1) return x;
  if ((x = r.readTagged(certValue, 0xA0)) < 1) return x;
  return r.finish();
}

cmsasn::Members<2> CertBag::members() const { return {&certId, &certValue}; }

MacData::MacData(unsigned char t) : cmsasn::Sequence<MacData>(t), mac(), macSalt(), iterations() {
  iterations.set(1u);
}

MacData::~MacData() = default;

int MacData::decodeMembers(cmsasn::MemberReader& r) {
  int x = r.readTagged(mac, 0x30);
  if (x < 1) return x;
  if ((x = r.readTagged(macSalt, 0x04)) < 1) return x;
  if (!r.done() && (x = r.readTagged(iterations, 0x02)) < 1) return x;
  return r.finish();
}

cmsasn::Members<3> MacData::members() const {
  const bool isDefault = keyasn::significantOctets(iterations) == 1 && iterations.data() &&
                         iterations.data()[iterations.length - 1] == 1;
  return {&mac, &macSalt, cmsasn::opt(iterations, !isDefault)};
}

EncryptedData::EncryptedData(unsigned char t)
    : cmsasn::Sequence<EncryptedData>(t), version(), encryptedContentInfo() {
  version.set(0u);
}

EncryptedData::~EncryptedData() = default;

int EncryptedData::decodeMembers(cmsasn::MemberReader& r) {
  int x = r.readTagged(version, 0x02);
  if (x < 1) return x;
  if ((x = r.readTagged(encryptedContentInfo, 0x30)) < 1) return x;
  return r.finish();
}

cmsasn::Members<2> EncryptedData::members() const { return {&version, &encryptedContentInfo}; }

// ---------------------------------------------------------------------------
// Pfx

Pfx::Pfx() : cmsasn::Sequence<Pfx>(0), version(), authSafe(), macData(), authenticatedSafe() {}

Pfx::~Pfx() = default;

int Pfx::decodeMembers(cmsasn::MemberReader& r) {
  int x = r.readTagged(version, 0x02);
  if (x < 1) return x;
  if ((x = r.readTagged(authSafe, 0x30)) < 1) return x;
  if ((x = r.readTagged(macData, 0x30)) < 1) return x;
  if ((x = r.finish()) < 1) return x;
  // The authenticated safe: a SEQUENCE OF ContentInfo in the authSafe octets.
  const ASNoctstr& octets = authSafe.value();
  if (!authSafe.contentPresent || !octets.data()) return 0;
  const int n = authenticatedSafe.decodeBuffer(octets.data(), octets.length, 0);
  if (n < 1) return n;
  return n == octets.length ? 1 : 0;
}

cmsasn::Members<3> Pfx::members() const { return {&version, &authSafe, &macData}; }

int Pfx::initAuthSafe() {
  version.set(3u);
  authSafe.contentType = id_data;
  certBags.reset();
  keyBags.reset();
  keys.reset();
  otherBags.reset();
  return 1;
}

int Pfx::addCertBag(const SignedCertificate& cert, const unsigned char* friendlyName,
                    int friendlyNameLength, const unsigned char* localKeyId,
                    int localKeyIdLength) {
  try {
    if (!certBags) certBags.reset(new SafeContents());
    CertBag cb;
    cb.certId = x509Certificate;
    if (cert.encodeToOctets(cb.certValue.get()) < 1) return 0;
    SafeBag* bag = certBags->addNew();
    if (!bag) return 0;
    try {
      bag->bagId = certBag;
      bag->bagValue.get().setObject(cb);
      bag->setAttributes(friendlyName, friendlyNameLength, localKeyId, localKeyIdLength);
    } catch (const std::bad_alloc&) {
      certBags->deleteTail();
      return 0;
    }
    return 1;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

template <class Key>
int Pfx::addKey(const Key& key, const unsigned char* friendlyName, int friendlyNameLength,
                const unsigned char* localKeyId, int localKeyIdLength) {
  try {
    PrivateKeyInfo info;
    bool ok;
    if constexpr (std::is_same<Key, ECPrivateKey>::value)
      ok = info.setEcKey(key, true);
    else if constexpr (std::is_same<Key, DSAPrivateKey>::value)
      ok = info.setDsaKey(key);
    else
      ok = info.setRsaKey(key);
    if (!ok) return 0;
    if (!keyBags) keyBags.reset(new SafeContents());
    if (!keys) keys.reset(new ASNsequenceList<PrivateKeyInfo>());
    SafeBag* bag = keyBags->addNew();
    if (!bag) return 0;
    try {
      bag->setAttributes(friendlyName, friendlyNameLength, localKeyId, localKeyIdLength);
      PrivateKeyInfo* copy = keys->addNew();
      if (!copy) throwBadAllocation();
      try {
        copyPkcs12Record(*copy, info);
      } catch (const std::bad_alloc&) {
        keys->deleteTail();
        throw;
      }
    } catch (const std::bad_alloc&) {
      keyBags->deleteTail();
      return 0;
    }
    return 1;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

int Pfx::addRsaKey(const RSAPrivateKey& key, const unsigned char* friendlyName,
                   int friendlyNameLength, const unsigned char* localKeyId, int localKeyIdLength) {
  return addKey(key, friendlyName, friendlyNameLength, localKeyId, localKeyIdLength);
}

int Pfx::addDsaKey(const DSAPrivateKey& key, const unsigned char* friendlyName,
                   int friendlyNameLength, const unsigned char* localKeyId, int localKeyIdLength) {
  return addKey(key, friendlyName, friendlyNameLength, localKeyId, localKeyIdLength);
}

int Pfx::addEcKey(const ECPrivateKey& key, const unsigned char* friendlyName,
                  int friendlyNameLength, const unsigned char* localKeyId, int localKeyIdLength) {
  return addKey(key, friendlyName, friendlyNameLength, localKeyId, localKeyIdLength);
}

int Pfx::addBag(const ASNobject* value, const ASNobjectId* bagOid) {
  if (!value || !bagOid) return 0;
  return appendSafeBag(*value, *bagOid) ? 1 : 0;
}

SafeBag* Pfx::appendSafeBag(const ASNobject& value, const ASNobjectId& bagOid) {
  try {
    if (!otherBags) otherBags.reset(new SafeContents());
    SafeBag* bag = otherBags->addNew();
    if (!bag) return nullptr;
    try {
      bag->bagId = bagOid;
      bag->bagValue.get().setObject(value);
    } catch (const std::bad_alloc&) {
      otherBags->deleteTail();
      return nullptr;
    }
    return bag;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

int Pfx::buildSafes(int cipherId, const unsigned char* password, int passwordLength,
                    unsigned char* saltState) {
  auto newSafe = [this]() {
    ContentInfo<ASNany>* ci = authenticatedSafe.addNew();
    if (!ci) throwBadAllocation();
    return ci;
  };
  if (certBags) {
    ContentInfo<ASNany>* ci = newSafe();
    EncryptedData ed;
    if (ed.encryptedContentInfo.encryptWithPassword(cipherId, password, passwordLength, saltState,
                                                    SALT_OCTETS, BUILD_ITERATIONS,
                                                    *certBags) != 1)
      return 0;
    advanceSalt(saltState);
    ci->contentType = id_encryptedData;
    ci->value().setObject(ed);
    ci->contentPresent = 1;
  }
  if (keyBags && keys) {
    POSITION pb = keyBags->GetHeadPosition();
    POSITION pk = keys->GetHeadPosition();
    while (pb && pk) {
      SafeBag* bag = keyBags->GetNext(pb);
      const PrivateKeyInfo* key = keys->GetNext(pk);
      if (!bag || !key) return 0;
      ContentInfo<ASNany>* ci = newSafe();
      EncryptedPrivateKeyInfo epki;
      if (epki.encrypt(cipherId, password, passwordLength, saltState, SALT_OCTETS,
                       BUILD_ITERATIONS, *key) != 1)
        return 0;
      advanceSalt(saltState);
      bag->bagId = pkcs8ShroudedKeyBag;
      bag->bagValue.get().setObject(epki);
      SafeContents one;
      SafeBag* copy = one.addNew();
      if (!copy) throwBadAllocation();
      *copy = *bag;
      ci->contentType = id_data;
      setOctetStringOf(ci->value(), one);
      ci->contentPresent = 1;
    }
  }
  if (otherBags) {
    for (POSITION pos = otherBags->GetHeadPosition(); pos;) {
      const SafeBag* bag = otherBags->GetNext(pos);
      if (!bag) continue;
      ContentInfo<ASNany>* ci = newSafe();
      EncryptedData ed;
      if (ed.encryptedContentInfo.encryptWithPassword(cipherId, password, passwordLength,
                                                      saltState, SALT_OCTETS, BUILD_ITERATIONS,
                                                      *bag) != 1)
        return 0;
      advanceSalt(saltState);
      SafeContents one;
      SafeBag* wrapper = one.addNew();
      if (!wrapper) throwBadAllocation();
      wrapper->bagId = secretBag;
      wrapper->bagValue.get().setObject(ed);
      ci->contentType = id_data;
      setOctetStringOf(ci->value(), one);
      ci->contentPresent = 1;
    }
  }
  return 1;
}

bool Pfx::computeMac(const unsigned char* password, int passwordLength,
                     const unsigned char* salt) {
  if (!password || passwordLength < 1) return false;
  AlgorithmIdentifier sha1;
  ASNnull null;
  if (!sha1.set(id_sha1, &null)) return false;
  macData.mac.digestAlgorithm = sha1;
  if (macData.macSalt.set(salt, SALT_OCTETS) != 1) return false;
  macData.iterations.set(1u);
  unsigned char* d = macData.mac.digest.allocate(SHA1_OCTETS);
  if (!d) return false;
  authSafeMac(LV_HASH_SHA1, authSafe.value(), password, passwordLength, salt, SALT_OCTETS, 1, d);
  return true;
}

int Pfx::build(int cipherId, const unsigned char* password, int passwordLength,
               const unsigned char* seed, int seedLength) {
  authenticatedSafe.clear();
  LvOctMem saltState(static_cast<unsigned int>(SHA1_OCTETS));
  try {
    LvSha1 sha;
    sha.hash(seed, static_cast<unsigned int>(seedLength > 0 && seed ? seedLength : 0));
    sha.getHash(SHA1_OCTETS, saltState.ptr());
  } catch (const LvException& e) {
    checkInvariant(false, SRC, __LINE__, "0", e.what());
  }
  bool ok = false;
  try {
    ok = buildSafes(cipherId, password, passwordLength, saltState.ptr()) == 1;
    if (ok) {
      MemFile der;
      ok = authenticatedSafe.encode(&der) > 0 &&
           authSafe.value().set(der.data(), der.length()) == 1;
      authSafe.contentPresent = ok ? 1 : 0;
    }
    ok = ok && computeMac(password, passwordLength, saltState.ptr());
  } catch (const std::exception&) {
    ok = false;
  }
  if (!ok) {
    // Every safe appended by this build goes again.
    while (authenticatedSafe.GetCount() > 0) authenticatedSafe.deleteTail();
    return 0;
  }
  return 1;
}

// ---------------------------------------------------------------------------
// Reading

int Pfx::verifyMac(const unsigned char* password, int passwordLength) const {
  return verifyMac(password, passwordLength, macData.macSalt.length);
}

int Pfx::verifyMac(const unsigned char* password, int passwordLength, int saltLength) const {
  const AlgorithmIdentifier& alg = macData.mac.digestAlgorithm;
  const LvHashAlgo hash = macHash(alg.algorithm);
  if (hash == 0) return -2;
  if (macData.macSalt.length < 1 || keyasn::significantOctets(macData.iterations) > 4 ||
      (macData.iterations.data()[0] & 0x80))
    return -2;
  uint32_t iterations = macData.iterations.toLong();
  if (iterations > PBE_MAX_ITERATIONS) return -2;
  if (!password || passwordLength < 1) return 0;
  const int n = static_cast<int>(LvGenericHash::getGenericHashOctets(hash));
  if (macData.mac.digest.length != n) return 0;
  unsigned char mac[64];
  authSafeMac(hash, authSafe.value(), password, passwordLength, macData.macSalt.data(),
              saltLength < macData.macSalt.length ? saltLength : macData.macSalt.length,
              iterations, mac);
  // Compared without an early exit.
  unsigned char diff = 0;
  for (int i = 0; i < n; ++i) diff |= mac[i] ^ macData.mac.digest.data()[i];
  return diff == 0 ? 1 : 0;
}

int Pfx::parsePfx(TypedPointerList<PrivateKeyInfo>& keyList,
                  TypedPointerList<SignedCertificate>& certList, TypedPointerList<SafeBag>& bagList,
                  const unsigned char* password, int passwordLength, PointerList* keyAttributes,
                  PointerList* certAttributes, const unsigned char* text,
                  int textLength) const {
  try {
    PfxReader reader{keyList,       certList,       bagList, password,   passwordLength,
                     keyAttributes, certAttributes, text,    textLength, IterationBudget()};
    // Integrity first: nothing is decrypted from a file whose MAC fails.
    const uint32_t macIterations =
        keyasn::significantOctets(macData.iterations) <= 4 ? macData.iterations.toLong() : 0;
    int m = verifyMac(password, passwordLength);
    if (!reader.budget.spend(macIterations)) return -2;
    if (m == 0 && (passwordLength > PFX_CUT_OCTETS || macData.macSalt.length > PFX_CUT_OCTETS)) {
      // A writer that fills each 64-octet block of the derivation from the
      // first 64 octets of a longer password or salt (where RFC 7292 repeats
      // the whole) cannot be read with the whole: try its reading, and when
      // that MAC matches, decrypt with the same cut password.
      const int cut = passwordLength < PFX_CUT_OCTETS ? passwordLength : PFX_CUT_OCTETS;
      m = verifyMac(password, cut, PFX_CUT_OCTETS);
      if (!reader.budget.spend(macIterations)) return -2;
      if (m == 1) reader.passwordLength = cut;
    }
    if (m != 1) return m;
    for (POSITION pos = authenticatedSafe.GetHeadPosition(); pos;) {
      const ContentInfo<ASNany>* ci = authenticatedSafe.GetNext(pos);
      if (!ci || !ci->contentPresent) continue;
      int r = 1;
      if (ci->contentType == id_data)
        r = reader.dataSafe(ci->value());
      else if (ci->contentType == id_encryptedData)
        r = reader.encryptedSafe(ci->value());
      if (r != 1) return r;
    }
    return 1;
  } catch (const std::bad_alloc&) {
    return -4;
  } catch (const LvMemException&) {
    return -4;
  } catch (...) {
    return -3;
  }
}

int Pfx::extract(TypedPointerList<PrivateKeyInfo>& keyList,
                 TypedPointerList<SignedCertificate>& certList, TypedPointerList<SafeBag>& bagList,
                 const unsigned char* password, int passwordLength) const {
  return parsePfx(keyList, certList, bagList, password, passwordLength, nullptr, nullptr);
}
