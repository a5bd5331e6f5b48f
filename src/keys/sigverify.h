// Signature checks of the key manager over digests, with the key manager's statuses. Hash ids
// are the hash library's (1 SHA-1, 2 SHA-224, 3 SHA-256, 4 SHA-384, 5 SHA-512, 6 RIPEMD-128,
// 7 RIPEMD-160, 8 MD5). Hostile signatures get a status, never an exception.
#pragma once

#include <cstddef>
#include <cstdint>

class RSAPublicKey;
class SubPubKeyInfo;

const int32_t SIGCHECK_OK = 0;
const int32_t SIGCHECK_BAD_ARGUMENTS = 1;  // NULL data, a digest that is not of the hash, an
                                           // unknown hash or mask hash, an unusable key
const int32_t SIGCHECK_NO_MEMORY = 4;
const int32_t SIGCHECK_WRONG = 14;      // well formed, but not a signature of the digest
const int32_t SIGCHECK_MALFORMED = 17;  // RSA: not as long as the modulus or not below it;
                                        // DSA and EC-DSA: any signature that does not verify

// RSA PKCS#1 v1.5 (RFC 8017 8.2.2).
int32_t verifyRsaPkcs1Signature(RSAPublicKey& key, const uint8_t* signature, size_t signatureLength,
                                const uint8_t* digest, size_t digestLength, int32_t hashId);
// RSASSA-PSS with MGF1 over maskHashId and the given salt length (RFC 8017 8.1.2).
int32_t verifyRsaPssSignature(RSAPublicKey& key, const uint8_t* signature, size_t signatureLength,
                              const uint8_t* digest, size_t digestLength, int32_t hashId,
                              int32_t maskHashId, int32_t saltLength);
// The DER Dss-Sig-Value / ECDSA-Sig-Value (r, s) with the key and its domain: 0, 4 or 17.
int32_t verifyDsaSignature(SubPubKeyInfo& key, const uint8_t* signature, size_t signatureLength,
                           const uint8_t* digest, size_t digestLength, int32_t hashId);
int32_t verifyEcdsaSignature(SubPubKeyInfo& key, const uint8_t* signature,
                             size_t signatureLength, const uint8_t* digest, size_t digestLength,
                             int32_t hashId);
