#!/bin/sh
# Makes verify_sizes.txt: openssl keys of lengths from 1024 to 7680 bits (word multiples, a bit
# more or less than some, odd lengths) with a PKCS#1 v1.5 and a PSS signature (SHA-256,
# salt 32, MGF1 SHA-256) by openssl over openssl_msg.bin. Lines, hexadecimal:
#   bits n e v15-signature pss-signature
# Keys and PSS signatures are not reproducible: the output is committed.
set -e
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
out=verify_sizes.txt
: > "$tmp/out"
for bits in 1024 1025 1535 2047 2048 3072 3100 4094 4096 6144 6656 7680; do
  # openssl may give a modulus a bit short of the length asked for: ask again.
  while :; do
    openssl genrsa -out "$tmp/k.pem" $bits 2>/dev/null
    n=$(openssl rsa -in "$tmp/k.pem" -noout -modulus | sed 's/^Modulus=//' | tr 'A-F' 'a-f')
    [ "$(python3 -c "print(int('$n', 16).bit_length())")" = $bits ] && break
  done
  openssl dgst -sha256 -sign "$tmp/k.pem" -out "$tmp/v15.sig" openssl_msg.bin
  openssl dgst -sha256 -sign "$tmp/k.pem" -sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:32 \
    -sigopt rsa_mgf1_md:sha256 -out "$tmp/pss.sig" openssl_msg.bin
  echo "$bits $n 10001 $(od -An -v -tx1 "$tmp/v15.sig" | tr -d ' \n') $(od -An -v -tx1 "$tmp/pss.sig" | tr -d ' \n')" >> "$tmp/out"
done
mv "$tmp/out" $out
