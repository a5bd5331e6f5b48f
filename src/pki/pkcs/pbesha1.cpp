#include "pki/pkcs/pbesha1.h"

#include "base/commonerror.h"
#include "base/memfile.h"
#include "crypto/basic/lvexception.h"
#include "crypto/hash/lvsha.h"
#include "crypto/sym/lvcbc.h"
#include "pki/common/oids.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

const char* const SRC = "libcms/pbesha1";

constexpr int U = 20;  // SHA-1 output
constexpr int V = 64;  // SHA-1 block

// Octets of `data` repeated to the whole blocks covering it (RFC 7292 B.2
// steps 2 and 3).
void repeatInto(unsigned char* dst, int64_t blocks, const unsigned char* data, int n) {
  for (int64_t i = 0; i < blocks * V; ++i) dst[i] = data[i % n];
}

int64_t blocksFor(int n) { return (int64_t(n) + V - 1) / V; }

}  // namespace

void pkcs12PbeDeriveSha1(unsigned char* out, int outLength, int id, const unsigned char* password,
                         int passwordLength, const unsigned char* salt, int saltLength,
                         uint32_t iterations) {
  checkInvariant(password && salt && passwordLength > 0 && saltLength > 0, SRC, __LINE__,
                 "passwordLen > 0 && saltLen > 0");
  if (outLength <= 0) return;
  const int64_t sBlocks = blocksFor(saltLength);
  const int64_t pBlocks = blocksFor(passwordLength);
  const int64_t iBlocks = sBlocks + pBlocks;
  // Counted without overflow: D || I must fit one buffer and one hash call.
  const int64_t total = (1 + iBlocks) * V;
  checkInvariant(total <= int64_t(UINT32_MAX), SRC, __LINE__, "(1 + iBlocks) * V <= UINT32_MAX");
  try {
    // D || I hashed in one call; I follows the 64 octets of D.
    LvOctMem buffer(static_cast<unsigned int>(total));
    unsigned char* d = buffer.ptr();
    unsigned char* in = d + V;
    std::memset(d, id, V);
    repeatInto(in, sBlocks, salt, saltLength);
    repeatInto(in + sBlocks * V, pBlocks, password, passwordLength);
    LvOctMem a(static_cast<unsigned int>(U));
    LvOctMem b(static_cast<unsigned int>(V));
    LvSha1 sha;
    int written = 0;
    for (;;) {
      sha.hash(d, static_cast<unsigned int>(total));
      sha.getHash(U, a.ptr());
      for (uint32_t k = 1; k < iterations; ++k) {
        sha.hash(a.ptr(), U);
        sha.getHash(U, a.ptr());
      }
      const int take = outLength - written < U ? outLength - written : U;
      std::memcpy(out + written, a.ptr(), static_cast<size_t>(take));
      written += take;
      if (written >= outLength) break;
      // Ij = (Ij + B + 1) mod 2^512 for every block of I.
      for (int j = 0; j < V; ++j) b[j] = a[j % U];
      for (int64_t blk = 0; blk < iBlocks; ++blk) {
        unsigned char* ij = in + blk * V;
        unsigned int carry = 1;
        for (int j = V - 1; j >= 0; --j) {
          carry += static_cast<unsigned int>(ij[j]) + b[j];
          ij[j] = static_cast<unsigned char>(carry);
          carry >>= 8;
        }
      }
    }
  } catch (const LvException& e) {
    checkInvariant(false, SRC, __LINE__, "0", e.what());
  }
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

int pbeDecrypt(const AlgorithmIdentifier& alg, const PbeScheme* required,
               const unsigned char* password, int passwordLength, const ASNoctstr& cipher,
               LvOctMem& plain, const char* source) {
  if (required && alg.algorithm != *required->oid) return -2;
  const PbeScheme* scheme = nullptr;
  PbeParameters params;
  const int p = pbeReadAlgorithm(alg, &scheme, params);
  if (p != 1) return p;
  // No key can be derived from an empty password: nothing decrypts with it.
  if (!password || passwordLength < 1) return 0;
  const int n = cipher.length;
  const unsigned char* in = cipher.data();
  if (n > 0 && !in) return 0;
  try {
    plain.resize(static_cast<unsigned int>(n < 0 ? 0 : n));
    const unsigned int w = runCipher(*scheme, 1, password, passwordLength, params.salt.data(),
                                     params.salt.length, pbeIterations(params), in, n,
                                     plain.ptr());
    plain.resize(w);
    return 1;
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
