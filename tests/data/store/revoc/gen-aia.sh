#!/usr/bin/env bash
# Makes the fixtures of the OCSP access-location tests with OpenSSL (outputs
# committed, not reproducible):
#   aia-ca.der    a self-signed CA (P-256)
#   aia-user.der  an end entity of aia-ca whose authorityInfoAccess names the
#                 OCSP responders http://ocsp-a.example/ and http://ocsp-b.example/
#   aia-good.der  `openssl ocsp` answer "good" for aia-user, signed by aia-ca (7 days)
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for k in ca user; do
  openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/$k.key" 2>/dev/null
done
cat > "$work/ext.cnf" <<'X'
[ee]
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
authorityKeyIdentifier=keyid
authorityInfoAccess=OCSP;URI:http://ocsp-a.example/,OCSP;URI:http://ocsp-b.example/
X
openssl req -new -x509 -key "$work/ca.key" -subj "/CN=Revoc AIA CA" -days 3650 -set_serial 1 \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
  -out "$work/ca.pem"
openssl req -new -key "$work/user.key" -subj "/CN=Revoc AIA User" -out "$work/user.csr"
openssl x509 -req -in "$work/user.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -set_serial 2 \
  -days 3650 -extfile "$work/ext.cnf" -extensions ee -out "$work/user.pem" 2>/dev/null
openssl x509 -in "$work/ca.pem" -outform DER -out aia-ca.der
openssl x509 -in "$work/user.pem" -outform DER -out aia-user.der
printf 'V\t351231000000Z\t\t02\tunknown\t/CN=Revoc AIA User\n' > "$work/index.txt"
openssl ocsp -issuer "$work/ca.pem" -cert "$work/user.pem" -no_nonce -reqout "$work/user.req" 2>/dev/null
openssl ocsp -index "$work/index.txt" -CA "$work/ca.pem" -rsigner "$work/ca.pem" -rkey "$work/ca.key" \
  -reqin "$work/user.req" -respout aia-good.der -ndays 7 2>/dev/null
