#!/bin/sh
# Certificates made by openssl for the key manager's trust points: two self-signed roots with
# the same subject, one with another subject, a certificate issued by the first root, and the
# first root with one bit of its signature flipped. Generated files are committed.
set -eu
cd "$(dirname "$0")"
openssl req -x509 -newkey rsa:2048 -nodes -keyout root-a.key -subj "/C=PL/O=TAL-VORIN test/CN=Root" \
  -days 7300 -outform DER -out root-a.der 2>/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -keyout root-b.key -subj "/C=PL/O=TAL-VORIN test/CN=Root" \
  -days 7300 -outform DER -out root-b.der 2>/dev/null
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout root-c.key \
  -subj "/C=PL/O=TAL-VORIN test/CN=Other Root" -days 7300 -outform DER -out root-c.der 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout leaf.key -subj "/C=PL/CN=Leaf" -out leaf.csr 2>/dev/null
openssl x509 -req -in leaf.csr -CA root-a.der -CAform DER -CAkey root-a.key -set_serial 7 \
  -days 3650 -outform DER -out leaf.der 2>/dev/null
# the last octet of the DER is the signature's last octet
python3 -c "
import sys
d = bytearray(open('root-a.der','rb').read()); d[-1] ^= 1
open('root-a-badsig.der','wb').write(d)"
rm -f root-a.key root-b.key root-c.key leaf.key leaf.csr
