#!/usr/bin/env bash
# A chain whose intermediate CA's keyUsage lacks keyCertSign (openssl), with
# openssl's own verdict on it: kusage/root.der, int.der, ee.der, verify.txt.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p kusage
for n in root int ee; do openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$tmp/$n.key"; done
conf() { printf '[req]\ndistinguished_name=dn\n[dn]\n[v3]\n%b\n' "$1"; }
openssl req -new -x509 -key "$tmp/root.key" -subj "/O=Paths/CN=KU Root" -days 7300 -set_serial 1 \
  -extensions v3 -config <(conf 'basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\nsubjectKeyIdentifier=hash') \
  -out "$tmp/root.pem"
sign() { # name subject issuer serial ext
  openssl req -new -key "$tmp/$1.key" -subj "$2" -config <(conf '') -out "$tmp/$1.csr"
  openssl x509 -req -in "$tmp/$1.csr" -CA "$tmp/$3.pem" -CAkey "$tmp/$3.key" -set_serial "$4" -days 7300 \
    -extfile <(printf '[v3]\n%b\n' "$5") -extensions v3 -out "$tmp/$1.pem" 2>/dev/null
}
sign int "/O=Paths/CN=KU Int" root 2 'basicConstraints=critical,CA:TRUE\nkeyUsage=critical,digitalSignature,cRLSign\nsubjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid:always'
sign ee "/O=Paths/CN=KU End" int 3 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nsubjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid:always'
for n in root int ee; do openssl x509 -in "$tmp/$n.pem" -outform DER -out "kusage/$n.der"; done
openssl verify -x509_strict -CAfile "$tmp/root.pem" -untrusted "$tmp/int.pem" "$tmp/ee.pem" 2>&1 |
  grep -o 'error [0-9]*.*' | head -1 >kusage/verify.txt || true
