#!/usr/bin/env bash
# Makes the name-text fixtures with OpenSSL: subjects of certification
# requests under the string masks utf8only and default (DER cut out with
# asn1parse -strparse) and their RFC 2253 text as openssl x509 prints the
# subject of a certificate made from the request (-nameopt RFC2253,-esc_msb).
# Run from this folder; the outputs are committed.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/k.pem" 2>/dev/null
for mask in utf8only default; do
  printf 'oid_section=oids\n[oids]\nprivateAttr=1.2.3.4\n[req]\ndistinguished_name=dn\nstring_mask=%s\n[dn]\n' \
    "$mask" > "$work/$mask.cnf"
done
subjects=(
  'company|/C=PL/L=Łódź/O=Zażółć Sp. z o.o./OU=Dział Ł/CN=Jan Kowalski/emailAddress=jan@example.pl/serialNumber=PNOPL-123/privateAttr=custom'
  'domain|/DC=pl/DC=example/UID=jdoe/title=Kierownik/street=ul. Długa 5/GN=Jan/SN=Kowalski'
)
for row in "${subjects[@]}"; do
  IFS='|' read -r name subject <<< "$row"
  for mask in utf8only default; do
    req="$work/$name.$mask.req"
    openssl req -config "$work/$mask.cnf" -new -key "$work/k.pem" -subj "$subject" -utf8 -outform DER -out "$req"
    read -r off hl < <(openssl asn1parse -inform DER -in "$req" | awk '/d=1/ {sub(":d=1","",$1); sub("hl=","",$2); print $1, $2; exit}')
    openssl asn1parse -inform DER -in "$req" -strparse "$off" -strparse $((hl + 3)) -noout -out "$name.$mask.der"
    openssl x509 -req -in "$req" -inform DER -key "$work/k.pem" -days 1 -out "$work/$name.$mask.crt" 2>/dev/null
    openssl x509 -in "$work/$name.$mask.crt" -noout -subject -nameopt RFC2253,-esc_msb | sed '1s/^subject=//' \
      > "$name.$mask.rfc2253.txt"
  done
done
