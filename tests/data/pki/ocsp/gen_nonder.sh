#!/bin/sh
# An OCSP response whose responder certificate is signed over a TBS that is
# not DER (its basicConstraints carries the DEFAULT critical FALSE
# explicitly), carried in the response: the CA (nonder_ca.der), the responder
# (nonder_responder.der) and openssl ocsp's answer for a certificate it does not know
# (resp_nonder_responder.der); openssl's verdict in nonder_verify.txt. Run
# from this folder; the outputs are committed: signatures cannot be
# reproduced.
set -eu
cd "$(dirname "$0")"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$W/ca.key" -out "$W/ca.pem" -days 3650 \
  -subj "/C=PL/O=Tal Test/CN=non-DER OCSP CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl x509 -in "$W/ca.pem" -outform DER -out nonder_ca.der
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=OCSPSigning\n' \
  > "$W/resp.ext"
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n' > "$W/leaf.ext"
openssl req -new -newkey rsa:2048 -nodes -keyout "$W/resp.key" -out "$W/resp.csr" \
  -subj "/C=PL/O=Tal Test/CN=non-DER OCSP Responder" 2>/dev/null
openssl x509 -req -in "$W/resp.csr" -CA "$W/ca.pem" -CAkey "$W/ca.key" -set_serial 0x2101 -days 3000 \
  -extfile "$W/resp.ext" -outform DER -out "$W/resp0.der" 2>/dev/null
openssl req -new -newkey rsa:2048 -nodes -keyout "$W/leaf.key" -out "$W/leaf.csr" \
  -subj "/C=PL/O=Tal Test/CN=leaf" 2>/dev/null
openssl x509 -req -in "$W/leaf.csr" -CA "$W/ca.pem" -CAkey "$W/ca.key" -set_serial 0x2102 -days 3000 \
  -extfile "$W/leaf.ext" -out "$W/leaf.pem" 2>/dev/null
python3 ../certs/resign.py "$W/resp0.der" "$W/ca.key" nonder_responder.der
{ echo '-----BEGIN CERTIFICATE-----'; openssl base64 -e -in nonder_responder.der; echo '-----END CERTIFICATE-----'; } \
  > "$W/resp.pem"
: > "$W/index.txt"
openssl ocsp -index "$W/index.txt" -CA "$W/ca.pem" -rsigner "$W/resp.pem" -rkey "$W/resp.key" \
  -issuer "$W/ca.pem" -cert "$W/leaf.pem" -no_nonce -ndays 3650 -respout resp_nonder_responder.der \
  >/dev/null 2>&1 || true
test -s resp_nonder_responder.der
{
  printf 'nonder_responder\t%s\n' "$(openssl verify -CAfile "$W/ca.pem" "$W/resp.pem" 2>&1 | tail -1 | sed 's|.*/||')"
  printf 'resp_nonder_responder\t%s\n' "$(openssl ocsp -respin resp_nonder_responder.der -CAfile "$W/ca.pem" \
    -issuer "$W/ca.pem" -cert "$W/leaf.pem" -no_nonce 2>&1 | sed 's|^.*/leaf.pem|leaf|' | tr '\n' ' ')"
  printf 'carried_unchanged\t%s\n' "$(python3 -c 'import sys; print(int(open(sys.argv[1], "rb").read() in open(sys.argv[2], "rb").read()))' \
    nonder_responder.der resp_nonder_responder.der)"
} > nonder_verify.txt
