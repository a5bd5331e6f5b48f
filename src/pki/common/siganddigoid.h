// Fixed mappings between hash ids, digest OIDs and signature OIDs (RSA
// PKCS#1 v1.5, DSA, EC-DSA, RSASSA-PSS), and the predicates that classify an
// algorithm OID. Hash ids are those of the hash library: 1 SHA-1, 2 SHA-224,
// 3 SHA-256, 4 SHA-384, 5 SHA-512, 6 RIPEMD-128, 7 RIPEMD-160, 8 MD5.
// Every output pointer may be null. Lookups answer false / null for unknown
// OIDs and ids and throw nothing but allocation failures.
#pragma once

#include "asn1/asnobjid.h"

// Hash id and digest length of a digest OID; returns the hash's name
// ("SHA-256") or null. RIPEMD-160 is known both by its ISO 10118-3 OID
// 1.0.10118.3.0.49 and by the TeleTrusT OID 1.3.36.3.2.1.
const char* digestOidToType(const ASNobjectId& oid, int* digestLen, int* hashId);
// The hash id of a digest OID given as its DER content octets, 0 when unknown.
int digestOidContentToType(const unsigned char* content, int length);
// The digest OID (a registry constant) and digest length of a hash id;
// returns the hash's name or null (RIPEMD-128 has no OID).
const char* digestTypeToOid(int hashId, const ASNobjectId** oid, int* digestLen);

bool rsaSignatureOidToDigest(const ASNobjectId& oid, int* digestLen, int* hashId);
bool dsaSignatureOidToDigest(const ASNobjectId& oid, int* digestLen, int* hashId);
bool ecdsaSignatureOidToDigest(const ASNobjectId& oid, int* digestLen, int* hashId);
bool rsaSignatureOidFromDigest(int hashId, const ASNobjectId** oid, int* digestLen);
bool dsaSignatureOidFromDigest(int hashId, const ASNobjectId** oid, int* digestLen);
bool ecdsaSignatureOidFromDigest(int hashId, const ASNobjectId** oid, int* digestLen);

bool isRsaSignatureOid(const ASNobjectId& oid);
bool isRsaPssOid(const ASNobjectId& oid);
// An RSA PKCS#1 v1.5 signature OID or RSASSA-PSS.
bool isRsaSignatureAlgorithm(const ASNobjectId& oid);
bool isDsaSignatureOid(const ASNobjectId& oid);
bool isEcdsaSignatureOid(const ASNobjectId& oid);
// 2.5.8.1.1, rsaEncryption, RSAES-OAEP and RSASSA-PSS.
bool isRsaKeyOid(const ASNobjectId& oid);

// The kind of a signature algorithm OID, found once for the whole check: the tables above in
// one pass (the PKCS#1 and EC-DSA-with-SHA-2 arcs by their last arc). For the RSA, DSA and
// EC-DSA kinds the hash id and digest length are those of the tables; RSASSA-PSS leaves
// them 0 (its hash is in its parameters), as does an OID of no kind (SIG_KIND_NONE).
enum SignatureKind { SIG_KIND_NONE = 0, SIG_KIND_RSA, SIG_KIND_RSA_PSS, SIG_KIND_DSA, SIG_KIND_ECDSA };
SignatureKind signatureOidKind(const ASNobjectId& oid, int* hashId, int* digestLen);
