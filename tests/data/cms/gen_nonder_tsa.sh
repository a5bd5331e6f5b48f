#!/bin/sh
# A time-stamp answer whose TSA certificate is signed over a TBS that is not
# DER (its basicConstraints carries the DEFAULT critical FALSE explicitly):
# the CA (nonder_tsa_ca.der), the TSA certificate (nonder_tsa.der) and
# openssl ts -reply's answer over data.txt with the certificate carried
# (resp_nonder_tsa.tsr); openssl's verdict in nonder_tsa_verify.txt. Run from
# this folder; the outputs are committed: signatures cannot be reproduced.
set -eu
cd "$(dirname "$0")"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$W/ca.key" -out "$W/ca.pem" -days 3650 \
  -subj "/C=PL/O=Tal Test/CN=non-DER TSA CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl x509 -in "$W/ca.pem" -outform DER -out nonder_tsa_ca.der
openssl req -new -newkey rsa:2048 -nodes -keyout "$W/tsa.key" -out "$W/tsa.csr" \
  -subj "/C=PL/O=Tal Test/CN=non-DER TSA" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n' \
  > "$W/tsa.ext"
openssl x509 -req -in "$W/tsa.csr" -CA "$W/ca.pem" -CAkey "$W/ca.key" -set_serial 0x7002 -days 3000 \
  -extfile "$W/tsa.ext" -outform DER -out "$W/tsa0.der" 2>/dev/null
python3 ../pki/certs/resign.py "$W/tsa0.der" "$W/ca.key" nonder_tsa.der
{ echo '-----BEGIN CERTIFICATE-----'; openssl base64 -e -in nonder_tsa.der; echo '-----END CERTIFICATE-----'; } > "$W/tsa.pem"
cat > "$W/tsa.cnf" <<CNF
[tsa]
default_tsa = t
[t]
serial = $W/serial
signer_cert = $W/tsa.pem
signer_key = $W/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256
ordering = no
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
CNF
openssl ts -query -data data.txt -sha256 -cert -no_nonce -out "$W/req.tsq" 2>/dev/null
openssl ts -reply -config "$W/tsa.cnf" -queryfile "$W/req.tsq" -out resp_nonder_tsa.tsr 2>/dev/null
{
  printf 'nonder_tsa\t%s\n' "$(openssl verify -CAfile "$W/ca.pem" "$W/tsa.pem" 2>&1 | tail -1 | sed 's|.*/||')"
  printf 'resp_nonder_tsa\t%s\n' "$(openssl ts -verify -queryfile "$W/req.tsq" -in resp_nonder_tsa.tsr \
    -CAfile "$W/ca.pem" 2>&1 | tail -1)"
  b=$(openssl base64 -e -A -in nonder_tsa.der)
  printf 'carried_unchanged\t%s\n' "$(openssl ts -reply -in resp_nonder_tsa.tsr -token_out 2>/dev/null |
    openssl pkcs7 -inform DER -print_certs 2>/dev/null |
    sed -n '/BEGIN/,/END/p' | grep -v -- ----- | tr -d '\n' | grep -c "$b" || true)"
} > nonder_tsa_verify.txt
