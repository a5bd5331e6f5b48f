#!/usr/bin/env bash
# Makes the certificates of the e-mail search (mail-*.der), signed by the test CA of make.sh:
# which of them a search for jan@siec.test keeps depends on the address they carry and on their
# key usage; and mail-authority.der, whose subject ends in an emailAddress, as some CAs' do.
# Run from this folder; the generated files are committed.
set -euo pipefail
cd "$(dirname "$0")"
rm -rf work-mail && mkdir work-mail
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out work-mail/key.pem 2>/dev/null
make() {  # name serial subject extensions...
  local name=$1 serial=$2 subject=$3
  shift 3
  printf '%s\n' "$@" > work-mail/ext.cnf
  openssl req -new -key work-mail/key.pem -subj "$subject" -out work-mail/$name.csr
  openssl x509 -req -in work-mail/$name.csr -CA ca.pem -CAkey ca.key -set_serial "$serial" \
    -days 3650 -extfile work-mail/ext.cnf -outform DER -out mail-$name.der 2>/dev/null
}
make enc 0x10 "/C=PL/O=Siec testowa/CN=Jan Kowalski" \
  "keyUsage = critical,keyEncipherment" "subjectAltName = email:jan@siec.test"
make data 0x11 "/C=PL/O=Siec testowa/CN=Jan Kowalski/emailAddress=Jan@Siec.Test" \
  "keyUsage = critical,dataEncipherment"
make nousage 0x12 "/C=PL/O=Siec testowa/CN=Jan Kowalski" "subjectAltName = email:jan@siec.test"
make sign 0x13 "/C=PL/O=Siec testowa/CN=Jan Kowalski" \
  "keyUsage = critical,digitalSignature,nonRepudiation" "subjectAltName = email:jan@siec.test"
make noaddress 0x14 "/C=PL/O=Siec testowa/CN=Jan Kowalski" "keyUsage = critical,keyEncipherment"
make other 0x15 "/C=PL/O=Siec testowa/CN=Jan Kowalski" \
  "keyUsage = critical,keyEncipherment" "subjectAltName = email:ewa@siec.test"
make elsewhere 0x16 "/C=PL/O=Inna/CN=Jan Kowalski" \
  "keyUsage = critical,keyEncipherment" "subjectAltName = email:jan@siec.test"
make authority 0x17 "/C=PL/O=Siec testowa/CN=Mail CA/emailAddress=ca@siec.test" \
  "basicConstraints = critical,CA:TRUE"
rm -rf work-mail
