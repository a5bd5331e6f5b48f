#!/usr/bin/env bash
# Makes spki/rsakey-exponent-zero-top-word.bin: the content of an RSAPublicKey whose exponent
# (2^31 + 1) carries a sign octet, so its octets fill two words and the top one is zero (the
# key set up from octets must find the same length as the setters). The key is random.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:512 \
  -pkeyopt rsa_keygen_pubexp:2147483649 -out "$tmp/k.pem" 2>/dev/null
openssl pkey -in "$tmp/k.pem" -pubout -outform DER -out "$tmp/spki.der"
# the RSAPublicKey SEQUENCE is the last 76 octets of the key; its content the last 74
tail -c 74 "$tmp/spki.der" >spki/rsakey-exponent-zero-top-word.bin
