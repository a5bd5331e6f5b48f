// The PKCS#12 password-based schemes with SHA-1 (RFC 7292): the key
// derivation of appendix B, the parameter block, and the two ciphers of
// appendix C (three-key triple DES and 40-bit RC2, CBC with count-octet
// padding) shared by the PKCS#8 key encryption, the PKCS#12 safes and the
// CMS encrypted content. Passwords are octets as the caller gives them
// (callers pass the BMPString form with its two-zero-octet terminator).
#pragma once

#include "asn1/asnint.h"
#include "asn1/asnocstr.h"
#include "crypto/basic/lvoctmem.h"
#include "crypto/hash/lvhashbase.h"
#include "pki/common/algid.h"
#include "pki/cms/cmsmembers.h"

#include <cstdint>

// Largest iteration count accepted from input. Real files use 1 to a few
// thousand (OpenSSL 2048, Windows 2000, Java 10000); a count announced by a
// stranger is paid for in SHA-1 blocks, so it is bounded.
constexpr uint32_t PBE_MAX_ITERATIONS = 1000000;

// RFC 7292 appendix B over a hash of the SHA family (v = 64 octets, 128 for SHA-384 and
// SHA-512; a MAC of SHA-2 takes its key so): outLength octets of key
// material for diversifier `id` (1 key, 2 IV, 3 MAC key). Salt and password
// are each repeated to a whole number of 64-octet blocks covering them (a
// longer one contributes all its octets, as PKCS#12 says). An iteration
// count of 0 works as 1. Both lengths must be at least 1 (callers refuse
// empty ones first); a library failure of the hash is the invariant failure
// of "libcms/pbesha1".
void pkcs12PbeDerive(LvHashAlgo hashId, unsigned char* out, int outLength, int id,
                     const unsigned char* password, int passwordLength, const unsigned char* salt,
                     int saltLength, uint32_t iterations);
// The derivation over SHA-1 (u = 20, v = 64) that the two schemes and HMAC-SHA-1 use.
void pkcs12PbeDeriveSha1(unsigned char* out, int outLength, int id, const unsigned char* password,
                         int passwordLength, const unsigned char* salt, int saltLength,
                         uint32_t iterations);

// PKCS#12 pbeParams: salt OCTET STRING, iterations INTEGER.
class PbeParameters : public cmsasn::Sequence<PbeParameters> {
 public:
  explicit PbeParameters(unsigned char tag = 0);
  ~PbeParameters() override;
  int decodeMembers(cmsasn::MemberReader& r);
  cmsasn::Members<2> members() const;
  cmsasn::AllMembers<2> allMembers() { return {&salt, &iterations}; }
  void restoreDefaults() {}

  ASNoctstr salt;
  ASNinteger iterations;
};

// One of the two schemes.
struct PbeScheme {
  const ASNobjectId* oid;
  int cipherId;   // block-cipher id: 4 three-key triple DES, 7 RC2
  int keyLength;  // 24 or 5
};

// The scheme of a cipher id (4 or 7) or of an algorithm OID; null for any other.
const PbeScheme* pbeSchemeByCipher(int cipherId);
const PbeScheme* pbeSchemeByOid(const ASNobjectId& oid);

// The scheme and parameters an algorithm identifier names: 1, -2 when the
// OID is neither scheme, the parameters are absent or not a pbeParams, the
// salt is empty or the iteration count is longer than four octets or above
// PBE_MAX_ITERATIONS; -1 when memory runs out.
int pbeReadAlgorithm(const AlgorithmIdentifier& alg, const PbeScheme** scheme, PbeParameters& params);

// The iteration count of checked parameters.
uint32_t pbeIterations(const PbeParameters& params);

// Encrypts the DER of `object` with the scheme: the identifier gets the
// scheme's OID and {salt, iterations}, `out` the ciphertext (always one to
// eight octets of padding). 1, or -1 (salt or password empty, memory,
// cipher refusal). Other library failures are the invariant failure of
// `source`.
int pbeEncrypt(const PbeScheme& scheme, const unsigned char* password, int passwordLength,
               const unsigned char* salt, int saltLength, uint32_t iterations,
               const ASNobject& object, AlgorithmIdentifier& alg, ASNoctstr& out,
               const char* source);

// PBES2 (RFC 8018, 6.2) with PBKDF2 over HMAC-SHA-1 or SHA-2 and AES-CBC, as openssl 3 writes
// PKCS#12 files. PBKDF2 takes the password as text (its UTF-8 form), not as the BMPString the
// two schemes above take; pbeDecrypt converts it. An iteration of PBKDF2 costs about four hash
// blocks where one of the PKCS#12 derivation costs one, so its count has a bound of its own.
constexpr uint32_t PBES2_MAX_ITERATIONS = PBE_MAX_ITERATIONS / 4;
bool pbeIsPbes2(const AlgorithmIdentifier& alg);
// The iteration count of a PBES2 identifier; 0 when it is refused.
uint32_t pbes2Iterations(const AlgorithmIdentifier& alg);

// Decrypts `cipher` with the scheme and parameters `alg` names (which must
// be the scheme `required` when one is given; without one PBES2 is taken
// too) into `plain` (wiped when released): 1; 0 when the padding is refused
// or the password is empty (a wrong password); -1 memory; -2 not the
// (required) scheme, no or bad parameters, refused before any derivation.
// Key and IV are wiped before the call returns; other library failures are
// the invariant failure of `source`. `text`, when given, is the password as
// the user typed it: PBES2 derives from those octets, as openssl does, also
// when they are not UTF-8 (the BMPString of such a text took its octets one
// by one and cannot give them back); without it PBES2 takes the UTF-8 form
// of the BMPString.
int pbeDecrypt(const AlgorithmIdentifier& alg, const PbeScheme* required,
               const unsigned char* password, int passwordLength, const ASNoctstr& cipher,
               LvOctMem& plain, const char* source, const unsigned char* text = nullptr,
               int textLength = 0);
