#!/bin/sh
# Certificates signed over a TBS that is not DER (critical_false, v1_explicit,
# nonder_ca) carried in a PKCS#12 file without keys (password "vorin-test")
# and in a degenerate PKCS#7 SignedData. openssl keeps each certificate's
# octets as read; the script checks that they are carried unchanged. The
# outputs are committed: the PKCS#12 salts cannot be reproduced.
set -eu
cd "$(dirname "$0")"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT
cat critical_false.pem v1_explicit.pem nonder_ca.pem > "$W/all.pem"
openssl pkcs12 -export -nokeys -in "$W/all.pem" -passout pass:vorin-test -out nonder_certs.p12
openssl crl2pkcs7 -nocrl -certfile "$W/all.pem" -outform DER -out nonder_certs.p7b
openssl pkcs12 -in nonder_certs.p12 -nokeys -passin pass:vorin-test 2>/dev/null |
  sed -n '/BEGIN CERT/,/END CERT/p' > "$W/p12.pem"
openssl pkcs7 -inform DER -in nonder_certs.p7b -print_certs | sed -n '/BEGIN CERT/,/END CERT/p' > "$W/p7.pem"
for f in "$W/p12.pem" "$W/p7.pem"; do
  for c in critical_false v1_explicit nonder_ca; do
    b=$(openssl base64 -e -A -in $c.der)
    tr -d '\n' < "$f" | grep -q "$b" || { echo "$c changed in $f" >&2; exit 1; }
  done
done
