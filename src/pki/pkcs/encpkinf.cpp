#include "pki/pkcs/encpkinf.h"

#include "base/commonerror.h"
#include "base/memfile.h"
#include "pki/keys/dsaprkey.h"
#include "pki/keys/ecprvkey.h"
#include "pki/common/oids.h"
#include "pki/keys/rsaprkey.h"

#include <new>
#include <vector>

namespace {

const char* const SRC = "libpkcs12/encpkinf";

// The DER of an object into an octet string: true when it holds it.
bool encodeInto(const ASNobject& object, ASNoctstr& target) {
  return object.encodeToOctets(target) > 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// PrivateKeyInfo

PrivateKeyInfo::PrivateKeyInfo(unsigned char t)
    : cmsasn::Sequence<PrivateKeyInfo>(t),
      version(),
      privateKeyAlgorithm(),
      privateKey(),
      attributes(0xA0) {}

PrivateKeyInfo::~PrivateKeyInfo() = default;

int PrivateKeyInfo::decodeMembers(cmsasn::MemberReader& r) {
  int x = r.readTagged(version, 0x02);
  if (x < 1) return x;
  if ((x = r.readTagged(privateKeyAlgorithm, 0x30)) < 1) return x;
  if ((x = r.read(privateKey)) < 1) return x;
  if (!r.done() && (x = r.readTagged(attributes, 0xA0)) < 1) return x;
  return r.finish();
}

cmsasn::Members<4> PrivateKeyInfo::members() const {
  return {&version, &privateKeyAlgorithm, &privateKey,
          cmsasn::opt(attributes, attributes.GetCount() > 0)};
}

bool PrivateKeyInfo::setRsaKey(const RSAPrivateKey& key) {
  version.set(0u);
  if (!privateKeyAlgorithm.setRsaEncryption()) return false;
  return encodeInto(key, privateKey);
}

bool PrivateKeyInfo::setDsaKey(const DSAPrivateKey& key) {
  DSAParameters params;
  key.getDomainParameters(params);
  version.set(0u);
  if (!privateKeyAlgorithm.setDsaKey(&params)) return false;
  return encodeInto(key.x, privateKey);
}

bool PrivateKeyInfo::setEcKey(const ECPrivateKey& key, bool withPublicKey) {
  ECPrivateKey fresh;
  fresh.privateKey = key.privateKey;
  if (withPublicKey) {
    ASNoctstr point;
    const ECDomainParameters* curve = key.parametersPresent ? &key.parameters.get() : nullptr;
    if (!key.getPublicKeyOctets(point, curve) || !fresh.publicKey.get().set(point, curve))
      return false;
    fresh.publicKeyPresent = 1;
  }
  version.set(0u);
  if (!privateKeyAlgorithm.setEcKey(key.parametersPresent ? &key.parameters.get() : nullptr))
    return false;
  return encodeInto(fresh, privateKey);
}

int PrivateKeyInfo::getEcKey(ECPrivateKey& out) const {
  unsigned int n = 0;
  const unsigned char* v = keyasn::intBytes(version, &n);
  while (n > 0 && *v == 0) ++v, --n;
  if (n != 0) return 2;
  const ASNobjectId& oid = privateKeyAlgorithm.algorithm;
  if (oid != id_ecPublicKey && oid != id_ecDH && oid != id_ecMQV) return 1;
  const int d = out.decodeOctets(privateKey);
  if (d == EASN_MEM || d == EASN_FILE) return 3;
  if (d < 2 || d != privateKey.length) return 2;
  if (!privateKeyAlgorithm.parametersPresent || privateKeyAlgorithm.parameters.tag == 5) return 0;
  const int a = out.parameters.get().assignFromAny(privateKeyAlgorithm.parameters);
  if (a == EASN_MEM || a == EASN_FILE) return 3;
  if (a != 1) return 2;
  out.parametersPresent = 1;
  return 0;
}

void copyPkcs12Record(PrivateKeyInfo& target, const PrivateKeyInfo& source) {
  cmsasn::refuseConstTarget(target);
  if (&target == &source) return;
  target.ASNobject::operator=(source);
  target.version = source.version;
  target.privateKeyAlgorithm = source.privateKeyAlgorithm;
  target.privateKey = source.privateKey;
  target.attributes.clear();
  for (POSITION pos = source.attributes.GetHeadPosition(); pos;) {
    const Attribute* a = source.attributes.GetNext(pos);
    if (!a) continue;
    Attribute* copy = new Attribute(*a);
    if (target.attributes.append(copy) != 1) {
      delete copy;
      throwBadAllocation();
    }
  }
  target.attributes.keepOrder = source.attributes.keepOrder;
}

// ---------------------------------------------------------------------------
// EncryptedPrivateKeyInfo

EncryptedPrivateKeyInfo::EncryptedPrivateKeyInfo(unsigned char t)
    : cmsasn::Sequence<EncryptedPrivateKeyInfo>(t), encryptionAlgorithm(), encryptedData() {}

EncryptedPrivateKeyInfo::~EncryptedPrivateKeyInfo() = default;

int EncryptedPrivateKeyInfo::decodeMembers(cmsasn::MemberReader& r) {
  int x = r.readTagged(encryptionAlgorithm, 0x30);
  if (x < 1) return x;
  if ((x = r.read(encryptedData)) < 1) return x;
  return r.finish();
}

cmsasn::Members<2> EncryptedPrivateKeyInfo::members() const {
  return {&encryptionAlgorithm, &encryptedData};
}

int EncryptedPrivateKeyInfo::encrypt(int cipherId, const unsigned char* password,
                                     int passwordLength, const unsigned char* salt,
                                     int saltLength, uint32_t iterations,
                                     const ASNobject& content) {
  const PbeScheme* scheme = pbeSchemeByCipher(cipherId);
  checkInvariant(scheme != nullptr, SRC, __LINE__, "0");
  return pbeEncrypt(*scheme, password, passwordLength, salt, saltLength, iterations, content,
                    encryptionAlgorithm, encryptedData, SRC);
}

int EncryptedPrivateKeyInfo::decrypt(const unsigned char* password, int passwordLength,
                                     ASNobject& out, const unsigned char* text,
                                     int textLength) const {
  LvOctMem plain;
  const int d = pbeDecrypt(encryptionAlgorithm, nullptr, password, passwordLength, encryptedData,
                           plain, SRC, text, textLength);
  if (d != 1) return d;
  const int n = static_cast<int>(plain.getLength());
  int r;
  try {
    r = out.decodeBuffer(plain.ptr(), n, 0);
  } catch (const std::bad_alloc&) {
    r = EASN_MEM;  // a result, not an exception, out of this interface
  }
  if (r == n && n > 0) return 1;
  // Whatever a wrong key made of the octets goes with them.
  out.clear();
  return r == EASN_MEM ? -1 : -3;
}

// ---------------------------------------------------------------------------
// RC2CBCParameter

RC2CBCParameter::RC2CBCParameter(unsigned char t)
    : cmsasn::Sequence<RC2CBCParameter>(t), rc2ParameterVersion(), iv() {}

RC2CBCParameter::~RC2CBCParameter() = default;

int RC2CBCParameter::decodeMembers(cmsasn::MemberReader& r) {
  int x = r.readTagged(rc2ParameterVersion, 0x02);
  if (x < 1) return x;
  if ((x = r.read(iv)) < 1) return x;
  return r.finish();
}

cmsasn::Members<2> RC2CBCParameter::members() const { return {&rc2ParameterVersion, &iv}; }
