#include "pki/keys/rsaprkey.h"

#include <memory>
#include <new>

#include "base/commonerror.h"
#include "base/memfile.h"
#include "crypto/asym/lvrsacipher.h"
#include "crypto/asym/lvrsasig.h"
#include "crypto/basic/lvexception.h"
#include "crypto/hash/lvhash.h"
#include "pki/common/keymembers.h"
#include "pki/keys/rsapukey.h"

using namespace keyasn;

#define RSAPRKEY_SRC "libx509/rsaprkey"

// The prepared key and its signers. A signer keeps its masking values from one signature to
// the next (squared each time, as the crypto layer refreshes them), so it is given the key
// once; a new key comes with a new RsaPrivateLib.
struct RsaPrivateLib {
  LvRsaPrivateKey key;
  LvRsaSig raw;
  LvRsaSigPkcsV15 pkcs1v15;
  // The PSS signer of the last parameters.
  std::unique_ptr<LvRsaSigPkcsPss> pss;
  int pssSalt = -1, pssHash = 0, pssMgf = 0, pssMgfHash = 0;

  // s signs with this key and keeps the masking values it already has.
  void attach(LvRsaSig& s) {
    if (s.getPrivateKey() != &key) s.setPrivateKey(&key);
  }
  LvRsaSigPkcsPss& pssSigner(int salt, int hash, int mgfOption, int mgfHash, LvRbg* rbg) {
    if (!pss || salt != pssSalt || hash != pssHash || mgfOption != pssMgf ||
        mgfHash != pssMgfHash) {
      pss.reset(new LvRsaSigPkcsPss(static_cast<unsigned int>(salt), rbg,
                                    static_cast<LvHashAlgo>(hash), mgfOption,
                                    static_cast<LvHashAlgo>(mgfHash)));
      pssSalt = salt;
      pssHash = hash;
      pssMgf = mgfOption;
      pssMgfHash = mgfHash;
    }
    return *pss;
  }
};

namespace {

unsigned int hashOctets(int hashId) {
  try {
    return LvGenericHash::getGenericHashOctets(static_cast<LvHashAlgo>(hashId));
  } catch (const LvException&) {
    return 0;
  }
}

}  // namespace

#define RSA_MEMBERS                                                                                \
  &version, &modulus, &publicExponent, &privateExponent, &prime1, &prime2, &exponent1, &exponent2, \
      &coefficient

RSAPrivateKey::RSAPrivateKey(unsigned char t) : ASNsequenceF(t), lib(), prepared(0) {}

RSAPrivateKey::~RSAPrivateKey() = default;

void RSAPrivateKey::unprepare() {
  prepared = 0;
  lib.reset();
}

RSAPrivateKey& RSAPrivateKey::operator=(const RSAPrivateKey& o) {
  if (this != &o) {
    ASNinteger* const mine[] = {RSA_MEMBERS};
    const ASNinteger* const theirs[] = {&o.version,         &o.modulus,   &o.publicExponent,
                                        &o.privateExponent, &o.prime1,    &o.prime2,
                                        &o.exponent1,       &o.exponent2, &o.coefficient};
    for (int i = 0; i < 9; ++i) *mine[i] = *theirs[i];
    unprepare();
  }
  return *this;
}

bool RSAPrivateKey::operator==(const RSAPrivateKey& o) const {
  const ASNinteger* const mine[] = {RSA_MEMBERS};
  const ASNinteger* const theirs[] = {&o.version,         &o.modulus,   &o.publicExponent,
                                      &o.privateExponent, &o.prime1,    &o.prime2,
                                      &o.exponent1,       &o.exponent2, &o.coefficient};
  for (int i = 0; i < 9; ++i)
    if (!mine[i]->equals(*theirs[i])) return false;
  return true;
}

void RSAPrivateKey::getPublicKey(RSAPublicKey& out) const { out.set(modulus, publicExponent); }

bool RSAPrivateKey::prepare() {
  if (prepared) return true;
  unprepare();
  const ASNinteger* const m[] = {RSA_MEMBERS};
  const unsigned char* v[9];
  unsigned int n[9];
  for (int i = 0; i < 9; ++i) {
    v[i] = intBytes(*m[i], &n[i]);
    // A negative INTEGER is no key part (the library would read its octets as a magnitude);
    // a zero modulus or exponent leaves the key without its public or private part below.
    if (!v[i] || (v[i][0] & 0x80)) return false;
  }
  try {
    std::unique_ptr<RsaPrivateLib> l(new RsaPrivateLib());
    LvRsaPrivateKey& k = l->key;
    k.setVersion(v[0], n[0]);
    k.setN(v[1], n[1]);
    k.setE(v[2], n[2]);
    k.setD(v[3], n[3]);
    k.setP(v[4], n[4]);
    k.setQ(v[5], n[5]);
    k.setDP(v[6], n[6]);
    k.setDQ(v[7], n[7]);
    k.setQInv(v[8], n[8]);
    k.prepare();
    if (!k.hasPrivatePart() || !k.hasPublicPart()) return false;
    lib = std::move(l);
    prepared = 1;
    return true;
  } catch (const LvWrongSyntaxException&) {
    return false;
  } catch (const LvMemException&) {
    throw std::bad_alloc();  // memory, not a broken key or library
  } catch (const LvException& e) {
    checkInvariant(false, RSAPRKEY_SRC, __LINE__, "0", e.what());
    return false;
  }
}

namespace {

// Runs a signing or decryption step, mapping the library's exceptions.
template <class F>
int guarded(F&& body, bool pss) {
  try {
    return body();
  } catch (const LvRbgCycleException&) {
    return 6;
  } catch (const LvMemException&) {
    return 5;
  } catch (const LvArgumentRangeException& e) {
    if (pss) return 4;
    checkInvariant(false, RSAPRKEY_SRC, __LINE__, "0", e.what());
  } catch (const LvException& e) {
    checkInvariant(false, RSAPRKEY_SRC, __LINE__, "0", e.what());
  }
  return 2;
}

}  // namespace

int RSAPrivateKey::signDigest(const unsigned char* digest, int digestLen, int hashType, LvRbg* rbg,
                              MemFile& out) {
  if (!prepare()) return 2;
  unsigned int want = hashOctets(hashType);
  if (!digest || want == 0 || digestLen < 0 || static_cast<unsigned int>(digestLen) != want)
    return 3;
  return guarded(
      [&]() {
        LvRsaSigPkcsV15& s = lib->pkcs1v15;
        lib->attach(s);
        s.setRbg(rbg);
        s.setMaskingMode(1);
        s.setHashAlgo(static_cast<LvHashAlgo>(hashType));
        unsigned int max = s.getMaxSignatureOctets();
        if (!out.setSize(static_cast<int32_t>(max))) return 5;
        unsigned int n = s.sign(digest, want, out.data(), max);
        out.setSize(static_cast<int32_t>(n));
        return 0;
      },
      false);
}

int RSAPrivateKey::signDigestPss(const unsigned char* digest, int digestLen, int hashType,
                                 LvRbg* rbg, MemFile& out, int mgfOption, int mgfHashType,
                                 int saltLength) {
  if (!prepare()) return 2;
  unsigned int want = hashOctets(hashType);
  if (!digest || want == 0 || digestLen < 0 || static_cast<unsigned int>(digestLen) != want)
    return 3;
  if (mgfHashType == 0) mgfHashType = hashType;
  if (saltLength == 0) saltLength = digestLen;
  if (saltLength < 0 || int64_t(digestLen) + saltLength + 2 > significantOctets(modulus)) return 3;
  return guarded(
      [&]() {
        LvRsaSigPkcsPss& s = lib->pssSigner(saltLength, hashType, mgfOption, mgfHashType, rbg);
        s.setHashAlgo(static_cast<LvHashAlgo>(hashType));
        lib->attach(s);
        s.setRbg(rbg);
        s.setMaskingMode(1);
        unsigned int max = s.getMaxSignatureOctets();
        if (!out.setSize(static_cast<int32_t>(max))) return 5;
        unsigned int n = s.sign(digest, want, out.data(), max);
        out.setSize(static_cast<int32_t>(n));
        return 0;
      },
      true);
}

int RSAPrivateKey::signRaw(const unsigned char* block, int blockLen, LvRbg* rbg, MemFile& out) {
  if (!prepare()) return 2;
  return guarded(
      [&]() {
        LvRsaSig& s = lib->raw;
        s.setRbg(rbg);
        lib->attach(s);
        s.setMaskingMode(1);
        unsigned int max = s.getMaxSignatureOctets();
        if (!block || blockLen < 0 || static_cast<unsigned int>(blockLen) > max) return 3;
        if (!out.setSize(static_cast<int32_t>(max))) return 5;
        unsigned int n = s.sign(block, static_cast<unsigned int>(blockLen), out.data(), max);
        out.setSize(static_cast<int32_t>(n));
        return 0;
      },
      false);
}

int RSAPrivateKey::decryptPkcs1v15(const unsigned char* cipherText, int cipherLen, MemFile& out) {
  if (!prepare()) return 2;
  return guarded(
      [&]() {
        LvRsaCipherPkcsV15 c(nullptr);
        c.setPrivateKey(&lib->key);
        if (!cipherText || cipherLen < 0 ||
            static_cast<unsigned int>(cipherLen) > c.getMaxCipherTextOctets())
          return 3;
        unsigned int max = c.getMaxPlainTextOctets();
        if (!out.setSize(static_cast<int32_t>(max))) return 5;
        // The cipher may work in its input buffer: give it a copy.
        std::unique_ptr<unsigned char[]> in(new unsigned char[static_cast<size_t>(cipherLen) + 1]);
        for (int i = 0; i < cipherLen; ++i) in[static_cast<size_t>(i)] = cipherText[i];
        unsigned int n = 0;
        try {
          n = c.decrypt(in.get(), static_cast<unsigned int>(cipherLen), out.data(), max);
        } catch (const LvWrongSyntaxException&) {
          n = 0;
        } catch (const LvMessageToLongException&) {
          // a value at or above the modulus: a stranger's data, not our state
          return 3;
        }
        if (n == 0) {
          out.setSize(0);
          return 1;
        }
        out.setSize(static_cast<int32_t>(n));
        return 0;
      },
      false);
}

void RSAPrivateKey::clear() {
  ASNinteger* const m[] = {RSA_MEMBERS};
  for (ASNinteger* i : m) i->clear();
  unprepare();
}

int RSAPrivateKey::decodeContent(GenericFile* in, int length) {
  clear();
  ASNobject* const m[] = {RSA_MEMBERS};
  int taken = 0;
  int r = decodeMembers(in, length, memberFlags(), m, 9, &taken);
  if (r != 1) return r;
  // otherPrimeInfos is not supported: anything after the coefficient fails.
  return taken == length ? 1 : 0;
}

int RSAPrivateKey::encodeContent(GenericFile* out) const {
  const ASNobject* const m[] = {RSA_MEMBERS};
  return encodeMembers(out, m, 9);
}

int RSAPrivateKey::contentLength() const {
  const ASNobject* const m[] = {RSA_MEMBERS};
  return membersLength(m, 9);
}

void RSAPrivateKey::digestContent(LvHash* hash) const {
  const ASNobject* const m[] = {RSA_MEMBERS};
  digestMembers(hash, m, 9);
}
