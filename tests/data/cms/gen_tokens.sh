#!/bin/sh
# Signature time-stamp tokens for the T-form tests: a TSA under its own CA
# (openssl) stamps the digest of the canonical SignatureValue of
# ../xmlsig/xades/t.xml (sigvalue.sha256, copied here) three times a second
# apart (tok1..tok3, serials 0x21..0x23), and once a digest that is not it
# (tok_other.der). Run from this folder; the outputs are committed.
set -eu
cd "$(dirname "$0")"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT
cp ../xmlsig/xades/sigvalue.sha256 .
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$W/ca.key" -out tsca.pem -days 3650 \
  -subj "/C=PL/O=Tokens/CN=Token CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -new -newkey rsa:2048 -nodes -keyout "$W/tsa.key" -out "$W/tsa.csr" \
  -subj "/C=PL/O=Tokens/CN=Token TSA" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n' \
  > "$W/tsa.ext"
openssl x509 -req -in "$W/tsa.csr" -CA tsca.pem -CAkey "$W/ca.key" -set_serial 0x7101 -days 3000 \
  -extfile "$W/tsa.ext" -out tsa2.pem 2>/dev/null
openssl x509 -in tsa2.pem -outform DER -out tsa2.der
cat > "$W/tsa.cnf" <<CNF
[tsa]
default_tsa = t
[t]
dir = $W
serial = $W/serial
signer_cert = $PWD/tsa2.pem
certs = $PWD/tsca.pem
signer_key = $W/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256
ess_cert_id_alg = sha256
CNF
hexof() { od -An -v -tx1 "$1" | tr -d ' \n'; }
stamp() { # digest-hex serial out
  printf '%s\n' "$2" > "$W/serial"
  openssl ts -query -digest "$1" -sha256 -cert -out "$W/q.tsq" 2>/dev/null
  openssl ts -reply -config "$W/tsa.cnf" -queryfile "$W/q.tsq" -token_out -out "$3" 2>/dev/null
}
d=$(hexof sigvalue.sha256)
stamp "$d" 21 tok1.der; sleep 1
stamp "$d" 22 tok2.der; sleep 1
stamp "$d" 23 tok3.der
stamp "$(printf 'other' | openssl dgst -sha256 -binary | od -An -v -tx1 | tr -d ' \n')" 24 tok_other.der
for t in tok1 tok2 tok3; do
  openssl ts -verify -digest "$d" -in $t.der -token_in -CAfile tsca.pem -untrusted tsa2.pem >/dev/null 2>&1
done
: > tokens.tsv
for t in tok1 tok2 tok3 tok_other; do
  g=$(openssl ts -reply -in $t.der -token_in -token_out -text 2>/dev/null | sed -n 's/^Time stamp: //p')
  printf '%s\t%s\n' "$t.der" "$(date -u -d "$g" +%Y.%m.%d_%H:%M:%S)" >> tokens.tsv
done
