#!/bin/sh
# A self-signed certificate of rsa.key whose TBS is not DER (its
# basicConstraints carries the DEFAULT critical FALSE explicitly), signed over
# those octets: rsa_nonder.crt.der. openssl verifies it (nonder_verify.txt).
# The output is committed: its dates cannot be reproduced.
set -eu
cd "$(dirname "$0")"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT
openssl req -x509 -key rsa.key -subj "/C=PL/O=Test/CN=token key, non-DER certificate" -days 7300 \
  -sha256 -addext basicConstraints=CA:FALSE -addext keyUsage=critical,digitalSignature,keyEncipherment \
  -outform DER -out "$W/c0.der" 2>/dev/null
python3 ../../pki/certs/resign.py "$W/c0.der" rsa.key rsa_nonder.crt.der
openssl x509 -inform DER -in rsa_nonder.crt.der -out "$W/c.pem"
printf 'rsa_nonder\t%s\n' "$(openssl verify -check_ss_sig -CAfile "$W/c.pem" "$W/c.pem" 2>&1 | tail -1 | sed 's|.*/||')" \
  > nonder_verify.txt
