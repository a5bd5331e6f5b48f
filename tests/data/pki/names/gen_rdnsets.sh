#!/usr/bin/env bash
# Makes names whose RDNs hold repeated attributes, to test that RDNs compare as
# multisets: the subject's DER cut out of an OpenSSL certification request.
# Run from this folder; the outputs are committed.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/k.pem" 2>/dev/null
printf '[req]\ndistinguished_name=dn\nstring_mask=utf8only\n[dn]\n' > "$work/utf8.cnf"
subjects=(
  'rdnset_xx|/CN=x+CN=x'
  'rdnset_xy|/CN=x+O=y'
  'rdnset_yx|/O=y+CN=x'
  'rdnset_xxy|/CN=x+CN=x+O=y'
  'rdnset_xyy|/CN=x+O=y+O=y'
)
for row in "${subjects[@]}"; do
  IFS='|' read -r name subject <<< "$row"
  req="$work/$name.req"
  openssl req -config "$work/utf8.cnf" -new -key "$work/k.pem" -subj "$subject" -utf8 -multivalue-rdn \
    -outform DER -out "$req"
  read -r off hl < <(openssl asn1parse -inform DER -in "$req" | awk '/d=1/ {sub(":d=1","",$1); sub("hl=","",$2); print $1, $2; exit}')
  openssl asn1parse -inform DER -in "$req" -strparse "$off" -strparse $((hl + 3)) -noout -out "$name.der"
done
