#!/usr/bin/env bash
# Makes the distinguished-name fixtures with OpenSSL: for each subject a
# certification request under the string masks utf8only and default, the
# subject's DER cut out of it (asn1parse -strparse), and the subject as text
# in several OpenSSL name formats. Run from this folder; the outputs are
# committed (the request signatures are not reproducible, the names are).
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/k.pem" 2>/dev/null
printf '[req]\ndistinguished_name=dn\nstring_mask=utf8only\n[dn]\n' > "$work/utf8.cnf"
printf '[req]\ndistinguished_name=dn\nstring_mask=default\n[dn]\n' > "$work/default.cnf"

# name | subject | masks (default only where every value is printable or
# holds a character above U+00FF, so OpenSSL picks no T61String)
subjects=(
  'polish|/C=PL/ST=mazowieckie/L=Warszawa/O=Zażółć gęślą/OU=Dział IT+OU=Kadry/CN=Łukasz Żółw/emailAddress=a@b.pl/DC=example/UID=jdoe/serialNumber=PESEL:8001|utf8 default'
  'plain|/C=US/O=Example Corp/OU=Unit 1/CN=www.example.com|utf8 default'
  'plaincase|/C=US/O=Example corp/OU=Unit 1/CN=www.example.com|utf8'
  'plainorder|/O=Example Corp/C=US/OU=Unit 1/CN=www.example.com|utf8'
  'person|/serialNumber=PNOPL-80010112345/GN=Jan/SN=Kowalski/CN=Jan Kowalski/title=Dr/street=ul. Długa 5/description=Opis/pseudonym=Ps/dnQualifier=q1/unstructuredName=un|utf8 default'
  'extra|/postalCode=00-950/telephoneNumber=\+48 22 123/CN=Ćma|utf8 default'
  'multi|/O=Org+OU=B+CN=Żaneta/C=PL|utf8 default'
  'special|/CN=Comma, Inc. \+ Plus/O=Quote " Semi ; Less < Gt > eq = end/OU=#hash/L= spaced \/ slash /CN=back\\slash/title=tab	x|utf8'
)
formats=(
  'rfc2253|RFC2253,-esc_msb'
  'semi|esc_2253,esc_ctrl,utf8,sep_semi_plus_space,sname,-esc_msb'
  'multiline|esc_2253,esc_ctrl,utf8,sep_multiline,sname,-esc_msb,dn_rev'
  'compat|compat'
  'lname|esc_2253,esc_ctrl,utf8,sep_comma_plus,lname,-esc_msb,dn_rev'
  'oid|esc_2253,utf8,sep_comma_plus,oid,-esc_msb,dump_all,dump_der'
)

for row in "${subjects[@]}"; do
  IFS='|' read -r name subject masks <<< "$row"
  for mask in $masks; do
    req="$work/$name.$mask.req"
    openssl req -config "$work/$mask.cnf" -new -key "$work/k.pem" -subj "$subject" -utf8 -multivalue-rdn \
      -outform DER -out "$req"
    # The subject follows the version INTEGER (3 octets) inside the request info.
    read -r off hl < <(openssl asn1parse -inform DER -in "$req" | awk '/d=1/ {sub(":d=1","",$1); sub("hl=","",$2); print $1, $2; exit}')
    openssl asn1parse -inform DER -in "$req" -strparse "$off" -strparse $((hl + 3)) -noout -out "$name.$mask.der"
    for f in "${formats[@]}"; do
      IFS='|' read -r fname opts <<< "$f"
      openssl req -in "$req" -inform DER -noout -subject -nameopt "$opts" | sed '1s/^subject=//' \
        | sed '/^$/d' > "$name.$mask.$fname.txt"
    done
  done
done
