#!/bin/sh
# Certificates whose TBS is not DER but is signed as it stands (openssl signs
# and checks the octets): a self-signed v3 certificate whose basicConstraints
# carries the DEFAULT critical FALSE explicitly, and the PEM form of
# v1_explicit.der (made by gen.sh). Both forms must verify over the octets
# received. The outputs are committed: signatures cannot be reproduced.
set -eu
cd "$(dirname "$0")"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$W/ss.key" -subj "/C=PL/O=Test/CN=explicit FALSE" \
  -days 3650 -sha256 -addext basicConstraints=CA:FALSE -outform DER -out "$W/ss.der" 2>/dev/null
python3 resign.py "$W/ss.der" "$W/ss.key" critical_false.der
# PEM by plain base64 of the octets (no re-encoding on the way)
for f in critical_false v1_explicit; do
  { echo '-----BEGIN CERTIFICATE-----'; openssl base64 -e -in $f.der; echo '-----END CERTIFICATE-----'; } > $f.pem
done
{
  printf 'critical_false\t%s\n' "$(openssl verify -no_check_time -partial_chain -check_ss_sig -CAfile critical_false.pem critical_false.pem 2>&1 | tail -1)"
  printf 'critical_false_explicit\t%s\n' "$(openssl asn1parse -inform DER -in critical_false.der | grep -c 'BOOLEAN *:0' || true)"
  printf 'v1_explicit\t%s\n' "$(openssl verify -no_check_time -partial_chain -CAfile rsa_ca.pem v1_explicit.pem 2>&1 | tail -1)"
} > explicit_verify.txt
