// Algorithm texts of the reports: the table of signature and digest algorithm
// names, the descriptions of an algorithm identifier and of a public key's
// algorithm (with its curve or its RSA-PSS parameters), and the names of the
// symmetric ciphers. Texts are Windows-1250 (ASCII in practice); texts
// allocated with array new are freed by the caller with delete[].
#pragma once

#include "asn1/asnobjid.h"
#include "pki/common/algid.h"
#include "pki/keys/subpubkeyinfo.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Signature schemes of the table; hash ids are those of the hash library
// (1 SHA-1 .. 5 SHA-512, 6 RIPEMD-128, 7 RIPEMD-160, 8 MD5), 0 none.
constexpr int32_t SCHEME_DIGEST = -1;  // a digest alone
constexpr int32_t SCHEME_RSA = 0;      // RSA PKCS#1 v1.5 (or a plain RSA key)
constexpr int32_t SCHEME_DSA = 1;
constexpr int32_t SCHEME_ECDSA = 2;
constexpr int32_t SCHEME_RSA_PSS = 3;

struct AlgorithmTableRow {
  int32_t scheme;
  uint32_t hash;
  const char* identifierName;  // "sha256withRSAEncryption"
  const char* displayName;     // "SHA-256 RSA"
};

// The 31 rows.
const AlgorithmTableRow* algorithmTable(size_t* count);
// The display name of the row with both keys, null when none.
const char* algorithmTableLookup(int32_t scheme, uint32_t hash);
// The scheme alone (hash 0) and the digest alone (scheme -1).
const char* algorithmTableLookupByKey1(int32_t scheme);
const char* algorithmTableLookupByKey2(uint32_t hash);
// False for scheme -1 or hash 0, else whether the lookup succeeds.
bool algorithmTableContains(int32_t scheme, uint32_t hash);

// The scheme of a signature or key identifier (-1 for anything else, digests
// included) and, when asked, its hash id: the digest of a signature
// algorithm (RSA-PSS: of its parameters; 0 without them), of a digest
// algorithm, 0 for keys and what is not known.
int32_t signatureSchemeOf(const AlgorithmIdentifier& alg, int* hash);
// Whether the key may sign with the scheme: its algorithm for schemes 0 to 2;
// for RSA-PSS an RSA key that accepts the parameters of `hash` (the hash
// also for MGF1, the salt as long as its digest).
bool keySupportsSignatureScheme(const SubPubKeyInfo& key, int32_t scheme, int hash);

// A digest (signature) OID: its hash id and display name appended to *out;
// an OID the table does not know gives hash 0 and its registry name; false
// (nothing appended) when the registry has no name for it either.
bool hashAlgorithmName(const ASNobjectId& oid, int* hash, std::string* out);
bool signatureAlgorithmName(const ASNobjectId& oid, int* hash, std::string* out);

// The display name of (scheme, hash), with `detailed` the RSA-PSS text of
// RSA-PSS identifiers; the OID in dotted text when the table has no row.
// Null / false when the OID cannot be written as text either.
char* algorithmDescription(const AlgorithmIdentifier& alg, bool detailed);
bool appendAlgorithmDescription(std::string& out, const AlgorithmIdentifier& alg, bool detailed);
// "RSA-PSS" (detailed: the RSA-PSS text), "RSA", "DSA", "ECDSA" (detailed:
// "ECDSA, " and the curve's display name, or the curve OID when the table
// does not know it); any other algorithm its OID in dotted text; null when
// that cannot be written.
char* keyAlgorithmDescription(const SubPubKeyInfo& key, bool detailed);

// A symmetric cipher's block size, block-cipher id of the cipher library,
// name and key length in octets; each output is filled when given. `flag`
// tells that the OID is one of the maker's own, under its enterprise arc
// (platform/buildconst.h): .4.1 DES-EEE, .4.2 DES-XEEEX, .4.4 DES-EDE, and
// .4.3 the maker's 64-bit block cipher with a 32-octet key, which the cipher
// library does not have (false whenever its cipher id is asked for). RC2
// gives false when its key length (held in its parameters) is asked for.
// Any other OID gives false.
bool cipherName(const ASNobjectId& oid, int* blockSize, int* cipherId, bool* flag,
                std::string* name, int* keyLength);
