#!/usr/bin/env bash
# Makes the certificates of the database tests with OpenSSL: a CA and end
# certificates under it (subjects in UTF8, Printable and BMP strings, e-mail in
# the subject and in subjectAltName, with and without key identifiers), each as
# DER, and keys.txt with what OpenSSL says of each: file, SHA-1 of the DER,
# the subject key identifier (or "-"), SHA-1 of the subject's DER, the serial
# in hexadecimal, and whether it is a CA. Run from this folder; the outputs are
# committed (signatures are not reproducible).
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/ca.key" 2>/dev/null
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/ee.key" 2>/dev/null
printf '[req]\ndistinguished_name=dn\n[dn]\n[ca]\nbasicConstraints=critical,CA:TRUE\nsubjectKeyIdentifier=hash\n' \
  > "$work/ca.cnf"
openssl req -config "$work/ca.cnf" -x509 -new -key "$work/ca.key" -subj "/C=PL/O=Testowe CA/CN=Główne CA" \
  -utf8 -extensions ca -days 3650 -set_serial 0x01 -outform DER -out ca.der

# name | subject | string mask | extensions | serial
certs=(
  'utf8|/C=PL/O=Zażółć/CN=Łukasz/emailAddress=lukasz@example.pl|utf8only|subjectKeyIdentifier=hash|0x1001'
  'printable|/C=PL/O=Plain Org/CN=Plain Name|default|subjectKeyIdentifier=none|0x1002'
  'bmp|/C=PL/O=Ünicode Org/CN=名前|default|subjectKeyIdentifier=hash,subjectAltName=email:bmp@example.com|0x1003'
  'samesubject|/C=PL/O=Plain Org/CN=Plain Name|default|subjectKeyIdentifier=hash|0x1004'
)
: > keys.txt
keyline() {
  local file=$1 ca=$2
  local sha ski off hl len sbj serial
  sha=$(openssl dgst -sha1 -binary "$file" | xxd -p)
  ski=$(openssl x509 -inform DER -in "$file" -noout -ext subjectKeyIdentifier 2>/dev/null \
    | sed -n '2p' | tr -d ' :' | tr 'A-F' 'a-f')
  [ -n "$ski" ] || ski=-
  # The subject is the sixth element of the TBSCertificate (version, serial,
  # algorithm, issuer, validity, subject): cut it out with its header.
  openssl asn1parse -inform DER -in "$file" -strparse 4 -noout -out "$work/tbs" >/dev/null
  read -r off hl len < <(openssl asn1parse -inform DER -in "$work/tbs" | awk '/d=1/ {n++; if (n==6) {
    sub(":d=1","",$1); sub("hl=","",$2); match($0,/l= *[0-9]+ cons/); s=substr($0,RSTART+2,RLENGTH-7);
    gsub(/ /,"",s); print $1, $2, s; exit}}')
  dd if="$work/tbs" bs=1 skip="$off" count=$((hl + len)) of="$work/subject" status=none
  sbj=$(openssl dgst -sha1 -binary "$work/subject" | xxd -p)
  serial=$(openssl x509 -inform DER -in "$file" -noout -serial | sed 's/^serial=//' | tr 'A-F' 'a-f')
  echo "$file $sha $ski $sbj $serial $ca" >> keys.txt
}
keyline ca.der 1
for row in "${certs[@]}"; do
  IFS='|' read -r name subject mask ext serial <<< "$row"
  printf '[req]\ndistinguished_name=dn\nstring_mask=%s\n[dn]\n[ee]\nbasicConstraints=CA:FALSE\n%s\n' \
    "$mask" "$(echo "$ext" | tr ',' '\n')" > "$work/ee.cnf"
  openssl req -config "$work/ee.cnf" -new -key "$work/ee.key" -subj "$subject" -utf8 -out "$work/$name.csr"
  openssl x509 -req -in "$work/$name.csr" -CA ca.der -CAform DER -CAkey "$work/ca.key" -set_serial "$serial" \
    -days 3650 -extfile "$work/ee.cnf" -extensions ee -outform DER -out "$name.der" 2>/dev/null
  keyline "$name.der" 0
done
