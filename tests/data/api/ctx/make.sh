#!/bin/sh
# Certificates made by openssl for the C API's certificate entry points, and the digests that
# `openssl dgst` gives for the files the hashing test writes (byte i of a file is i mod 251).
# Generated files are committed.
set -eu
cd "$(dirname "$0")"
t=$(mktemp -d)
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$t/root.key" -subj "/C=PL/O=TAL-VORIN test/CN=Ctx Root" \
  -days 7300 -addext basicConstraints=critical,CA:TRUE -outform DER -out root.der 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout "$t/leaf.key" -subj "/C=PL/CN=Ctx Leaf" -out "$t/leaf.csr" 2>/dev/null
openssl x509 -req -in "$t/leaf.csr" -CA root.der -CAform DER -CAkey "$t/root.key" -set_serial 9 \
  -days 3650 -outform DER -out leaf.der 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout "$t/leaf2.key" -subj "/C=PL/CN=Ctx Leaf Two" -out "$t/leaf2.csr" 2>/dev/null
openssl x509 -req -in "$t/leaf2.csr" -CA root.der -CAform DER -CAkey "$t/root.key" -set_serial 10 \
  -days 3650 -outform DER -out leaf2.der 2>/dev/null
# self-signed version 3 without basicConstraints, and self-signed version 1
printf '[x]\nsubjectKeyIdentifier=hash\n' > "$t/nobc.cnf"
openssl req -new -newkey rsa:2048 -nodes -keyout "$t/nobc.key" -subj "/C=PL/CN=No Constraints" -out "$t/nobc.csr" 2>/dev/null
openssl x509 -req -in "$t/nobc.csr" -signkey "$t/nobc.key" -extfile "$t/nobc.cnf" -extensions x \
  -days 3650 -outform DER -out selfsigned-v3-nobc.der 2>/dev/null
openssl x509 -req -in "$t/nobc.csr" -signkey "$t/nobc.key" -days 3650 -outform DER -out selfsigned-v1.der 2>/dev/null
openssl x509 -inform DER -in root.der -out root.pem
# signer certificates for the signature-algorithm checks: a 1024-bit RSA key and a P-256 key
openssl req -x509 -newkey rsa:1024 -nodes -keyout "$t/r1024.key" -subj "/CN=RSA 1024" -days 3650 \
  -outform DER -out rsa1024.der 2>/dev/null
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$t/ec.key" \
  -subj "/CN=EC" -days 3650 -outform DER -out ec.der 2>/dev/null
# digests of the hashing test's files
: > digests.txt
for n in 0 1 40960 40961 104857600; do
  python3 -c "
import sys
n = int(sys.argv[1]); block = bytes(i % 251 for i in range(251 * 4096))
out = sys.stdout.buffer; full, rest = divmod(n, len(block))
for _ in range(full): out.write(block)
out.write(block[:rest])" "$n" > "$t.bin"
  for h in sha1 md5 sha224 sha256 sha384 sha512 ripemd160; do
    printf '%s %s %s\n' "$n" "$h" "$(openssl dgst -"$h" -r "$t.bin" 2>/dev/null | cut -d' ' -f1)" >> digests.txt
  done
done
rm -f "$t.bin"
rm -rf "$t"
