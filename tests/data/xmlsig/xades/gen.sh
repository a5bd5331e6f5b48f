#!/bin/sh
# XAdES fixtures made by other tools: a signer and a TSA under a small CA
# (openssl), an XAdES-BES document with every signed property the reader
# knows, signed by xmlsec1 (--id-attr:Id SignedProperties), and its XAdES-T
# form: `openssl ts` time-stamps the SHA-256 of the canonical
# ds:SignatureValue element (built here by the inclusive canonical rules:
# the element with the one namespace in scope, its text as signed) and the
# token goes base64 into an EncapsulatedTimeStamp, once with and once
# without a ds:CanonicalizationMethod. Run from this folder; the outputs are
# committed (signatures and times cannot be made again).
set -eu
cd "$(dirname "$0")"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$W/ca.key" -out ca.pem -days 3650 \
  -subj "/C=PL/O=Fixtures/CN=XAdES Test CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
cert() { # name subject serial extfile-lines
  openssl req -new -newkey rsa:2048 -nodes -keyout "$W/$1.key" -out "$W/$1.csr" -subj "$2" 2>/dev/null
  printf "$4" > "$W/$1.ext"
  openssl x509 -req -in "$W/$1.csr" -CA ca.pem -CAkey "$W/ca.key" -set_serial "$3" -days 3000 \
    -extfile "$W/$1.ext" -out "$1.pem" 2>/dev/null
  openssl x509 -in "$1.pem" -outform DER -out "$1.der"
}
cert signer "/C=PL/O=Fixtures/CN=XAdES Signer" 4660 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,nonRepudiation\n'
cert tsa "/C=PL/O=Fixtures/CN=XAdES TSA" 4661 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n'

digest=$(openssl dgst -sha256 -binary signer.der | base64)
issuer=$(openssl x509 -in signer.pem -noout -issuer -nameopt RFC2253 | sed 's/^issuer=//')
serial=$(openssl x509 -in signer.pem -noout -serial | sed 's/^serial=//')
serial=$(printf '%d' "0x$serial")
printf '%s\n' "$issuer" > signer.issuer
sed -e "s|CERTDIGEST|$digest|" -e "s|ISSUERNAME|$issuer|" -e "s|SERIAL|$serial|" bes.tmpl > "$W/bes.xml"
xmlsec1 --sign --privkey-pem "$W/signer.key,signer.pem" --id-attr:Id data \
  --id-attr:Id SignedProperties --output bes.xml "$W/bes.xml"
xmlsec1 --verify --trusted-pem ca.pem --id-attr:Id data --id-attr:Id SignedProperties bes.xml \
  >/dev/null 2>&1

# The canonical ds:SignatureValue element and its time-stamp.
python3 - bes.xml "$W/sv.c14n" <<'PY'
import sys, re
text = open(sys.argv[1], encoding='utf-8').read()
m = re.search(r'<ds:SignatureValue>(.*?)</ds:SignatureValue>', text, re.S)
value = m.group(1).replace('\r\n', '\n').replace('\r', '\n')
out = '<ds:SignatureValue xmlns:ds="http://www.w3.org/2000/09/xmldsig#">' + value + '</ds:SignatureValue>'
open(sys.argv[2], 'w', encoding='utf-8', newline='').write(out)
PY
cat > "$W/tsa.cnf" <<CNF
[tsa]
default_tsa = t
[t]
dir = $W
serial = $W/serial
signer_cert = $PWD/tsa.pem
certs = $PWD/ca.pem
signer_key = $W/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256
ess_cert_id_alg = sha256
CNF
printf '1001\n' > "$W/serial"
openssl ts -query -data "$W/sv.c14n" -sha256 -cert -out "$W/sv.tsq" 2>/dev/null
openssl ts -reply -config "$W/tsa.cnf" -queryfile "$W/sv.tsq" -token_out -out token.der 2>/dev/null
openssl ts -verify -data "$W/sv.c14n" -in token.der -token_in -CAfile ca.pem -untrusted tsa.pem \
  >/dev/null 2>&1
openssl dgst -sha256 -binary "$W/sv.c14n" > sigvalue.sha256
tok=$(base64 -w 76 token.der)
stamp() { # canonicalization element
  printf '<xades:SignatureTimeStamp Id="ts1">%s<xades:EncapsulatedTimeStamp>%s</xades:EncapsulatedTimeStamp></xades:SignatureTimeStamp>' "$1" "$tok"
}
python3 - bes.xml t.xml "$(stamp '')" <<'PY'
import sys
text = open(sys.argv[1], encoding='utf-8').read()
text = text.replace('<xades:UnsignedSignatureProperties/>',
  '<xades:UnsignedSignatureProperties>' + sys.argv[3] + '</xades:UnsignedSignatureProperties>')
open(sys.argv[2], 'w', encoding='utf-8', newline='').write(text)
PY
python3 - bes.xml t-c14n.xml "$(stamp '<ds:CanonicalizationMethod Algorithm="http://www.w3.org/TR/2001/REC-xml-c14n-20010315"/>')" <<'PY'
import sys
text = open(sys.argv[1], encoding='utf-8').read()
text = text.replace('<xades:UnsignedSignatureProperties/>',
  '<xades:UnsignedSignatureProperties>' + sys.argv[3] + '</xades:UnsignedSignatureProperties>')
open(sys.argv[2], 'w', encoding='utf-8', newline='').write(text)
PY
# The unsigned properties are outside the signature: it still verifies.
xmlsec1 --verify --trusted-pem ca.pem --id-attr:Id data --id-attr:Id SignedProperties t.xml >/dev/null 2>&1
