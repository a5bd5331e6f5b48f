#!/bin/sh
# openssl's OCSP requests for user2.der (issuer ca.der) with the CertID hashed
# by each digest it offers beside SHA-1 and SHA-256 (those two come from
# gen.sh). Requests without a nonce are reproducible.
set -eu
cd "$(dirname "$0")"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT
openssl x509 -inform DER -in ca.der -out "$W/ca.pem"
openssl x509 -inform DER -in user2.der -out "$W/user2.pem"
for d in sha224 sha384 sha512 md5 ripemd160; do
  openssl ocsp -issuer "$W/ca.pem" -$d -cert "$W/user2.pem" -no_nonce -reqout "ocsp-req-$d.der" >/dev/null
done
