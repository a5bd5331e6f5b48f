#!/bin/sh
# Copies the Wycheproof and CAVP vectors the EC and DSA tests read from the
# shared vector store into this folder, trimmed to the prime-field curves.
set -e
V=${1:-/work/shared/vectors}
D=$(dirname "$0")
for c in secp160k1_sha256 secp160r1_sha256 secp160r2_sha256 secp192k1_sha256 secp192r1_sha256 \
         secp224k1_sha224 secp224r1_sha224 secp256k1_sha256 secp256r1_sha256 secp256r1_sha512 \
         secp384r1_sha384 secp521r1_sha512 brainpoolP224r1_sha224 brainpoolP256r1_sha256 \
         brainpoolP320r1_sha384 brainpoolP384r1_sha384 brainpoolP512r1_sha512; do
  cp "$V/wycheproof/ecdsa_${c}_test.json" "$D/"
done
for c in 2048_224_sha224 2048_224_sha256 2048_256_sha256 3072_256_sha256; do
  cp "$V/wycheproof/dsa_${c}_test.json" "$D/"
done
cp "$V/wycheproof/LICENSE" "$D/WYCHEPROOF_LICENSE"
# CAVP: the P curves only (the binary curves belong to the GF(2^m) work)
awk '/^\[K-163/{exit} {print}' "$V/cavp/ecdsa/SigVer.rsp" > "$D/ecdsa_SigVer_P.rsp"
awk '/^\[K-163/{exit} {print}' "$V/cavp/ecdsa/PKV.rsp" > "$D/ecdsa_PKV_P.rsp"
cp "$V/cavp/dsa/SigVer.rsp" "$D/dsa_SigVer.rsp"
awk '/^\[A.1.2.2/{exit} {print}' "$V/cavp/dsa/PQGVer.rsp" > "$D/dsa_PQGVer_A113.rsp"
chmod 644 "$D"/*.json "$D"/*.rsp "$D/WYCHEPROOF_LICENSE"
# PQGGen A.1.1.2, every size (the test keeps to the low counters)
awk '/^\[A.1.1.2/{on=1} /^\[A.1.2.1/{on=0} on{print}' "$V/cavp/dsa/PQGGen.rsp" > "$D/dsa_PQGGen_A112.rsp"
# PQGVer A.2.2: generators to check against their p and q
awk '/^\[A.2.2/{on=1} /^\[A.2.4/{on=0} on{print}' "$V/cavp/dsa/PQGVer.rsp" > "$D/dsa_PQGVer_A22.rsp"
# key pairs: DSA whole, ECDSA over the P curves
cp "$V/cavp/dsa/KeyPair.rsp" "$D/dsa_KeyPair.rsp"
awk '/^\[K-163/{exit} {print}' "$V/cavp/ecdsa/KeyPair.rsp" > "$D/ecdsa_KeyPair_P.rsp"
chmod 644 "$D/dsa_PQGGen_A112.rsp" "$D/dsa_PQGVer_A22.rsp" "$D/dsa_KeyPair.rsp" "$D/ecdsa_KeyPair_P.rsp"
