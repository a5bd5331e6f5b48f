#include "pki/pkcs/pbesha1.h"

#include "base/commonerror.h"
#include "base/memfile.h"
#include "crypto/basic/lvexception.h"
#include "crypto/hash/lvhash.h"
#include "crypto/sym/lvmac.h"
#include "crypto/sym/lvcbc.h"
#include "pki/common/oids.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

const char* const SRC = "libcms/pbesha1";

// Octets of `data` repeated to the whole v-octet blocks covering it (RFC 7292 B.2 steps 2
// and 3).
void repeatInto(unsigned char* dst, int64_t blocks, int v, const unsigned char* data, int n) {
  for (int64_t i = 0; i < blocks * v; ++i) dst[i] = data[i % n];
}

int64_t blocksFor(int n, int v) { return (int64_t(n) + v - 1) / v; }

}  // namespace

void pkcs12PbeDerive(LvHashAlgo hashId, unsigned char* out, int outLength, int id,
                     const unsigned char* password, int passwordLength, const unsigned char* salt,
                     int saltLength, uint32_t iterations) {
  checkInvariant(password && salt && passwordLength > 0 && saltLength > 0, SRC, __LINE__,
                 "passwordLen > 0 && saltLen > 0");
  if (outLength <= 0) return;
  try {
    std::unique_ptr<LvHash> sha(lvHashCreateObject(hashId));
    const int u = static_cast<int>(sha->getHashOctets());
    const int v = hashId == LV_HASH_SHA384 || hashId == LV_HASH_SHA512 ? 128 : 64;
    const int64_t sBlocks = blocksFor(saltLength, v);
    const int64_t pBlocks = blocksFor(passwordLength, v);
    const int64_t iBlocks = sBlocks + pBlocks;
    // Counted without overflow: D || I must fit one buffer and one hash call.
    const int64_t total = (1 + iBlocks) * v;
    checkInvariant(total <= int64_t(UINT32_MAX), SRC, __LINE__, "(1 + iBlocks) * V <= UINT32_MAX");
    // D || I hashed in one call; I follows the v octets of D.
    LvOctMem buffer(static_cast<unsigned int>(total));
    unsigned char* d = buffer.ptr();
    unsigned char* in = d + v;
    std::memset(d, id, static_cast<size_t>(v));
    repeatInto(in, sBlocks, v, salt, saltLength);
    repeatInto(in + sBlocks * v, pBlocks, v, password, passwordLength);
    LvOctMem a(static_cast<unsigned int>(u));
    LvOctMem b(static_cast<unsigned int>(v));
    int written = 0;
    for (;;) {
      sha->hash(d, static_cast<unsigned int>(total));
      sha->getHash(static_cast<unsigned int>(u), a.ptr());
      for (uint32_t k = 1; k < iterations; ++k) {
        sha->hash(a.ptr(), static_cast<unsigned int>(u));
        sha->getHash(static_cast<unsigned int>(u), a.ptr());
      }
      const int take = outLength - written < u ? outLength - written : u;
      std::memcpy(out + written, a.ptr(), static_cast<size_t>(take));
      written += take;
      if (written >= outLength) break;
      // Ij = (Ij + B + 1) mod 2^(8v) for every block of I.
      for (int j = 0; j < v; ++j) b[j] = a[j % u];
      for (int64_t blk = 0; blk < iBlocks; ++blk) {
        unsigned char* ij = in + blk * v;
        unsigned int carry = 1;
        for (int j = v - 1; j >= 0; --j) {
          carry += static_cast<unsigned int>(ij[j]) + b[j];
          ij[j] = static_cast<unsigned char>(carry);
          carry >>= 8;
        }
      }
    }
  } catch (const LvMemException&) {
    throw;  // memory, for the caller to answer
  } catch (const LvException& e) {
    checkInvariant(false, SRC, __LINE__, "0", e.what());
  }
}

void pkcs12PbeDeriveSha1(unsigned char* out, int outLength, int id, const unsigned char* password,
                         int passwordLength, const unsigned char* salt, int saltLength,
                         uint32_t iterations) {
  pkcs12PbeDerive(LV_HASH_SHA1, out, outLength, id, password, passwordLength, salt, saltLength,
                  iterations);
}

// ---------------------------------------------------------------------------
// PbeParameters

PbeParameters::PbeParameters(unsigned char t)
    : cmsasn::Sequence<PbeParameters>(t), salt(), iterations() {}

PbeParameters::~PbeParameters() = default;

int PbeParameters::decodeMembers(cmsasn::MemberReader& r) {
  int x = r.readTagged(salt, 0x04);
  if (x < 1) return x;
  if ((x = r.readTagged(iterations, 0x02)) < 1) return x;
  return r.finish();
}

cmsasn::Members<2> PbeParameters::members() const { return {&salt, &iterations}; }

// ---------------------------------------------------------------------------
// The schemes

const PbeScheme* pbeSchemeByCipher(int cipherId) {
  static const PbeScheme tdes{&pbeWithSHAAnd3_KeyTripleDES_CBC, LV_BC_TDES, 24};
  static const PbeScheme rc2{&pbeWithSHAAnd40BitRC2_CBC, LV_BC_RC2, 5};
  if (cipherId == LV_BC_TDES) return &tdes;
  if (cipherId == LV_BC_RC2) return &rc2;
  return nullptr;
}

const PbeScheme* pbeSchemeByOid(const ASNobjectId& oid) {
  for (int id : {LV_BC_TDES, LV_BC_RC2}) {
    const PbeScheme* s = pbeSchemeByCipher(id);
    if (oid == *s->oid) return s;
  }
  return nullptr;
}

uint32_t pbeIterations(const PbeParameters& params) {
  const uint32_t n = keyasn::significantOctets(params.iterations) <= 4 ? params.iterations.toLong()
                                                                       : PBE_MAX_ITERATIONS + 1;
  return n == 0 ? 1 : n;
}

int pbeReadAlgorithm(const AlgorithmIdentifier& alg, const PbeScheme** scheme,
                     PbeParameters& params) {
  const PbeScheme* s = pbeSchemeByOid(alg.algorithm);
  if (!s || !alg.parametersPresent) return -2;
  const int r = params.decodeAny(alg.parameters);
  if (r == 0) return -1;
  if (r != 1) return -2;
  // Refused before any derivation: the derivation repeats the salt, and
  // each iteration costs a hash.
  const unsigned char* d = params.iterations.data();
  if (params.salt.length < 1 || !d || (d[0] & 0x80) ||
      keyasn::significantOctets(params.iterations) > 4 ||
      pbeIterations(params) > PBE_MAX_ITERATIONS)
    return -2;
  *scheme = s;
  return 1;
}

namespace {

// Key (ID 1) and IV (ID 2) of the scheme, run over the input in one call.
unsigned int runCipher(const PbeScheme& scheme, uint32_t direction, const unsigned char* password,
                       int passwordLength, const unsigned char* salt, int saltLength,
                       uint32_t iterations, const unsigned char* in, int n, unsigned char* out) {
  LvOctMem keyIv(32u);
  pkcs12PbeDeriveSha1(keyIv.ptr(), scheme.keyLength, 1, password, passwordLength, salt, saltLength,
                      iterations);
  pkcs12PbeDeriveSha1(keyIv.ptr() + 24, 8, 2, password, passwordLength, salt, saltLength,
                      iterations);
  LvCbc cbc(static_cast<LvBcAlgo>(scheme.cipherId), 0);
  cbc.setKey(keyIv.ptr(), static_cast<unsigned int>(scheme.keyLength));
  const unsigned int written =
      cbc.crypt(direction, keyIv.ptr() + 24, 8, in, static_cast<unsigned int>(n), out);
  return written;  // keyIv wipes its 32 octets here, the CBC object its state
}

}  // namespace

int pbeEncrypt(const PbeScheme& scheme, const unsigned char* password, int passwordLength,
               const unsigned char* salt, int saltLength, uint32_t iterations,
               const ASNobject& object, AlgorithmIdentifier& alg, ASNoctstr& out,
               const char* source) {
  if (!password || passwordLength < 1 || !salt || saltLength < 1) return -1;
  try {
    MemFile der;  // wiped when released: it may hold a key
    if (object.encode(&der) < 1) return -1;
    const int n = der.length();
    const unsigned char* plain = der.data();
    if (n < 1 || n > ASN_MAX_LENGTH - 8) return -1;
    PbeParameters params;
    if (params.salt.set(salt, saltLength) != 1) return -1;
    params.iterations.set(iterations);
    if (!alg.set(*scheme.oid, &params)) return -1;
    const int padded = (n + 8) / 8 * 8;
    unsigned char* c = out.allocate(padded);
    if (!c) return -1;
    const unsigned int w = runCipher(scheme, 0, password, passwordLength, salt, saltLength,
                                     iterations, plain, n, c);
    return static_cast<int>(w) == padded ? 1 : -1;
  } catch (const LvEncryptionDecryptionException&) {
    return -1;
  } catch (const LvMemException&) {
    return -1;
  } catch (const LvException& e) {
    checkInvariant(false, source, __LINE__, "0", e.what());
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return -1;
}

// ---------------------------------------------------------------------------
// PBES2 with PBKDF2

namespace {

const ASNobjectId OID_PBES2("1.2.840.113549.1.5.13");
const ASNobjectId OID_PBKDF2("1.2.840.113549.1.5.12");

// PBKDF2-params: salt (the specified OCTET STRING only), iterationCount, keyLength OPTIONAL,
// prf DEFAULT hmacWithSHA1.
class Pbkdf2Params : public cmsasn::Sequence<Pbkdf2Params> {
 public:
  Pbkdf2Params() : cmsasn::Sequence<Pbkdf2Params>(0) {}
  int decodeMembers(cmsasn::MemberReader& r) {
    int x = r.readTagged(salt, 0x04);
    if (x < 1) return x;
    if ((x = r.readTagged(iterations, 0x02)) < 1) return x;
    if (r.peek() == 0x02) {
      if ((x = r.read(keyLength)) < 1) return x;
      keyLengthPresent = 1;
    }
    if (r.peek() == 0x30) {
      if ((x = r.read(prf)) < 1) return x;
      prfPresent = 1;
    }
    return r.finish();
  }
  cmsasn::Members<4> members() const {
    return {&salt, &iterations, cmsasn::opt(keyLength, keyLengthPresent != 0),
            cmsasn::opt(prf, prfPresent != 0)};
  }
  cmsasn::AllMembers<4> allMembers() { return {&salt, &iterations, &keyLength, &prf}; }
  void restoreDefaults() { keyLengthPresent = prfPresent = 0; }

  ASNoctstr salt;
  ASNinteger iterations;
  ASNinteger keyLength;
  AlgorithmIdentifier prf;
  unsigned char keyLengthPresent = 0;
  unsigned char prfPresent = 0;
};

class Pbes2Params : public cmsasn::Sequence<Pbes2Params> {
 public:
  Pbes2Params() : cmsasn::Sequence<Pbes2Params>(0) {}
  int decodeMembers(cmsasn::MemberReader& r) {
    int x = r.readTagged(keyDerivationFunc, 0x30);
    if (x < 1) return x;
    if ((x = r.readTagged(encryptionScheme, 0x30)) < 1) return x;
    return r.finish();
  }
  cmsasn::Members<2> members() const { return {&keyDerivationFunc, &encryptionScheme}; }
  cmsasn::AllMembers<2> allMembers() { return {&keyDerivationFunc, &encryptionScheme}; }
  void restoreDefaults() {}

  AlgorithmIdentifier keyDerivationFunc;
  AlgorithmIdentifier encryptionScheme;
};

// What a PBES2 identifier asks for, checked.
struct Pbes2Setup {
  Pbkdf2Params kdf;
  LvHashAlgo prfHash = LV_HASH_SHA1;
  uint32_t iterations = 0;
  unsigned int keyOctets = 0;
  ASNoctstr iv;
};

// 1; -1 memory; -2 not PBES2 with PBKDF2 over HMAC-SHA-1 or SHA-2 and AES-CBC, or parameters
// that do not read or pass the bounds of the PKCS#12 schemes.
int pbes2Read(const AlgorithmIdentifier& alg, Pbes2Setup& out) {
  if (alg.algorithm != OID_PBES2 || !alg.parametersPresent) return -2;
  Pbes2Params params;
  int r = params.decodeAny(alg.parameters);
  if (r == 0) return -1;
  if (r != 1) return -2;
  const AlgorithmIdentifier& kdf = params.keyDerivationFunc;
  if (kdf.algorithm != OID_PBKDF2 || !kdf.parametersPresent) return -2;
  r = out.kdf.decodeAny(kdf.parameters);
  if (r == 0) return -1;
  if (r != 1) return -2;
  // Made once: a comparison allocates nothing.
  static const ASNobjectId hmacSha1("1.2.840.113549.2.7"), hmacSha224("1.2.840.113549.2.8"),
      hmacSha256("1.2.840.113549.2.9"), hmacSha384("1.2.840.113549.2.10"),
      hmacSha512("1.2.840.113549.2.11");
  static const struct {
    const ASNobjectId* oid;
    LvHashAlgo hash;
  } prfs[] = {{&hmacSha1, LV_HASH_SHA1},     {&hmacSha224, LV_HASH_SHA224},
              {&hmacSha256, LV_HASH_SHA256}, {&hmacSha384, LV_HASH_SHA384},
              {&hmacSha512, LV_HASH_SHA512}};
  if (out.kdf.prfPresent) {
    bool known = false;
    for (const auto& prf : prfs)
      if (out.kdf.prf.algorithm == *prf.oid) {
        out.prfHash = prf.hash;
        known = true;
      }
    if (!known) return -2;
  }
  static const struct {
    const ASNobjectId* oid;
    unsigned int keyOctets;
  } ciphers[] = {{&id_aes128_CBC, 16}, {&id_aes192_CBC, 24}, {&id_aes256_CBC, 32}};
  for (const auto& c : ciphers)
    if (params.encryptionScheme.algorithm == *c.oid) out.keyOctets = c.keyOctets;
  if (out.keyOctets == 0 || !params.encryptionScheme.parametersPresent) return -2;
  r = out.iv.decodeAny(params.encryptionScheme.parameters);
  if (r == 0) return -1;
  if (r != 1 || out.iv.length != 16) return -2;
  const unsigned char* d = out.kdf.iterations.data();
  if (out.kdf.salt.length < 1 || !d || (d[0] & 0x80) ||
      keyasn::significantOctets(out.kdf.iterations) > 4)
    return -2;
  out.iterations = out.kdf.iterations.toLong();
  if (out.iterations == 0 || out.iterations > PBES2_MAX_ITERATIONS) return -2;
  if (out.kdf.keyLengthPresent) {
    const unsigned char* k = out.kdf.keyLength.data();
    if (!k || (k[0] & 0x80) || keyasn::significantOctets(out.kdf.keyLength) > 4 ||
        out.kdf.keyLength.toLong() != out.keyOctets)
      return -2;
  }
  return 1;
}

// PBKDF2 (RFC 8018, 5.2) into out.
void pbkdf2(LvHashAlgo prf, const unsigned char* password, int passwordLength,
            const ASNoctstr& salt, uint32_t iterations, unsigned char* out, unsigned int length) {
  LvHmac hmac(prf);
  // A password longer than a block is hashed down first (RFC 2104).
  LvOctMem key;
  if (static_cast<unsigned int>(passwordLength) > hmac.getMaxKeyOctets()) {
    std::unique_ptr<LvHash> h(lvHashCreateObject(prf));
    h->hash(password, static_cast<unsigned int>(passwordLength));
    key.resize(h->getHashOctets());
    h->getHash(h->getHashOctets(), key.ptr());
  } else {
    key.resize(static_cast<unsigned int>(passwordLength));
    if (passwordLength > 0) std::memcpy(key.ptr(), password, static_cast<size_t>(passwordLength));
  }
  hmac.setKey(key.ptr(), key.getLength());
  const unsigned int h = hmac.getMacOctets();
  LvOctMem u(h), t(h);
  for (uint32_t block = 1, done = 0; done < length; ++block) {
    const unsigned char index[4] = {static_cast<unsigned char>(block >> 24),
                                    static_cast<unsigned char>(block >> 16),
                                    static_cast<unsigned char>(block >> 8),
                                    static_cast<unsigned char>(block)};
    hmac.init();
    hmac.step(salt.data(), static_cast<unsigned int>(salt.length));
    hmac.step(index, 4);
    hmac.finish();
    hmac.getMac(h, u.ptr());
    std::memcpy(t.ptr(), u.ptr(), h);
    for (uint32_t i = 1; i < iterations; ++i) {
      hmac.init();
      hmac.step(u.ptr(), h);
      hmac.finish();
      hmac.getMac(h, u.ptr());
      for (unsigned int j = 0; j < h; ++j) t[j] ^= u[j];
    }
    const unsigned int take = length - done < h ? length - done : h;
    std::memcpy(out + done, t.ptr(), take);
    done += take;
  }
}

// The PKCS#12 schemes take the password as a BMPString with its terminator; PBES2 takes the
// text itself, which PKCS#12 files hold as UTF-8 (a surrogate pair is one character). False
// for an odd length or a lone surrogate.
bool utf8Password(const unsigned char* bmp, int length, LvOctMem& out) {
  if (length >= 2 && bmp[length - 1] == 0 && bmp[length - 2] == 0) length -= 2;
  if (length % 2 != 0) return false;
  out.resize(static_cast<unsigned int>(2 * length));
  unsigned int at = 0;
  for (int i = 0; i < length; i += 2) {
    uint32_t c = static_cast<uint32_t>(bmp[i] << 8 | bmp[i + 1]);
    if (c >= 0xDC00 && c < 0xE000) return false;
    if (c >= 0xD800 && c < 0xDC00) {
      const uint32_t low = i + 3 < length ? static_cast<uint32_t>(bmp[i + 2] << 8 | bmp[i + 3]) : 0;
      if (low < 0xDC00 || low >= 0xE000) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    }
    unsigned char* o = out.ptr() + at;
    if (c < 0x80) {
      o[0] = static_cast<unsigned char>(c);
      at += 1;
    } else if (c < 0x800) {
      o[0] = static_cast<unsigned char>(0xC0 | c >> 6);
      o[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
      at += 2;
    } else if (c < 0x10000) {
      o[0] = static_cast<unsigned char>(0xE0 | c >> 12);
      o[1] = static_cast<unsigned char>(0x80 | (c >> 6 & 0x3F));
      o[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
      at += 3;
    } else {
      o[0] = static_cast<unsigned char>(0xF0 | c >> 18);
      o[1] = static_cast<unsigned char>(0x80 | (c >> 12 & 0x3F));
      o[2] = static_cast<unsigned char>(0x80 | (c >> 6 & 0x3F));
      o[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
      at += 4;
    }
  }
  out.resize(at);
  return true;
}

}  // namespace

bool pbeIsPbes2(const AlgorithmIdentifier& alg) { return alg.algorithm == OID_PBES2; }

uint32_t pbes2Iterations(const AlgorithmIdentifier& alg) {
  Pbes2Setup setup;
  return pbes2Read(alg, setup) == 1 ? setup.iterations : 0;
}

namespace {

// Runs a decryption into `plain` with the library's failures mapped: run's answer (1, or 0 for
// a password that cannot be taken); 0 refused padding; -1 memory.
template <class Run>
int guardedDecrypt(LvOctMem& plain, const char* source, Run&& run) {
  try {
    const int r = run();
    if (r != 1) plain.clear();
    return r;
  } catch (const LvEncryptionDecryptionException&) {
    plain.clear();
    return 0;
  } catch (const LvMemException&) {
    plain.clear();
    return -1;
  } catch (const LvException& e) {
    plain.clear();
    checkInvariant(false, source, __LINE__, "0", e.what());
  } catch (const std::bad_alloc&) {
    plain.clear();
    return -1;
  }
  return 0;
}

}  // namespace

int pbeDecrypt(const AlgorithmIdentifier& alg, const PbeScheme* required,
               const unsigned char* password, int passwordLength, const ASNoctstr& cipher,
               LvOctMem& plain, const char* source, const unsigned char* text,
               int textLength) {
  const bool pbes2 = !required && pbeIsPbes2(alg);
  if (required && alg.algorithm != *required->oid) return -2;
  const PbeScheme* scheme = nullptr;
  PbeParameters params;
  Pbes2Setup setup;
  const int p = pbes2 ? pbes2Read(alg, setup) : pbeReadAlgorithm(alg, &scheme, params);
  if (p != 1) return p;
  // No key can be derived from an empty password: nothing decrypts with it.
  if (!password || passwordLength < 1) return 0;
  const int n = cipher.length;
  const unsigned char* in = cipher.data();
  if (n > 0 && !in) return 0;
  const unsigned int length = static_cast<unsigned int>(n < 0 ? 0 : n);
  return guardedDecrypt(plain, source, [&]() {
    plain.resize(length);
    unsigned int w;
    if (pbes2) {
      LvOctMem utf8, key(32u);
      const unsigned char* typed = text;
      int typedLength = textLength;
      if (!typed) {
        if (!utf8Password(password, passwordLength, utf8)) return 0;
        typed = utf8.ptr();
        typedLength = static_cast<int>(utf8.getLength());
      }
      pbkdf2(setup.prfHash, typed, typedLength < 0 ? 0 : typedLength, setup.kdf.salt,
             setup.iterations, key.ptr(), setup.keyOctets);
      LvCbc cbc(LV_BC_AES, 0);
      cbc.setKey(key.ptr(), setup.keyOctets);
      w = cbc.crypt(1, setup.iv.data(), 16, in, length, plain.ptr());
    } else {
      w = runCipher(*scheme, 1, password, passwordLength, params.salt.data(), params.salt.length,
                    pbeIterations(params), in, n, plain.ptr());
    }
    plain.resize(w);
    return 1;
  });
}
