#!/bin/sh
# RSA public keys of many sizes and public exponents made by openssl, with a
# PKCS#1 v1.5 SHA-256 signature of msg.bin each, for the tests that read keys
# by two roads (the usual DER form and the full decoder). Run from this
# folder; the output is committed (keys and signatures are not reproducible).
# rsasizes.txt: bits exponent spki-hex signature-hex (bits as openssl reports the key made,
# which is not always the size asked for)
set -eu
out=rsasizes.txt
: > $out
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
key() { # bits exponent
  openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:$1 -pkeyopt rsa_keygen_pubexp:$2 \
      -out "$tmp/k.pem" 2>/dev/null
  openssl pkey -in "$tmp/k.pem" -pubout -outform DER -out "$tmp/k.der"
  openssl dgst -sha256 -sign "$tmp/k.pem" -out "$tmp/k.sig" msg.bin
  made=$(openssl pkey -in "$tmp/k.pem" -noout -text | sed -n 's/.*(\([0-9]*\) bit.*/\1/p' | head -1)
  echo "$made $2 $(od -An -v -tx1 "$tmp/k.der" | tr -d ' \n') $(od -An -v -tx1 "$tmp/k.sig" | tr -d ' \n')" >> $out
}
# sizes around the length-octet boundaries of the modulus and the key bits
for bits in 512 520 768 1000 1016 1024 1025 1536 2040 2048 2056 3072 4096; do
  key $bits 65537
done
# exponents from the smallest to past 64 bits
for e in 3 5 17 257 4294967297 18446744073709551617 340282366920938463463374607431768211457; do
  key 1024 $e
  key 2048 $e
done
