#!/usr/bin/env bash
# Makes the signature-parser fixtures: a CA and end-entity keys (RSA 2048, EC
# P-256/P-384/P-521, DSA 1024) with certificates made by openssl, each template
# sig/<name>.tmpl signed by xmlsec1 with the key its name names (the end-entity
# certificate and the CA's in X509Data), then verified by xmlsec1 with
# --store-references --store-signatures: the octets it digested for reference N
# are kept as sig/<name>.refN and the canonical SignedInfo as sig/<name>.si.
# The end-entity certificates are kept (DER) for the tests' signature checks.
# Outputs are committed (signatures are not reproducible).
set -euo pipefail
cd "$(dirname "$0")/sig"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/ca.key" -subj "/CN=Test CA/O=Fixtures" \
  -days 7300 -addext basicConstraints=critical,CA:TRUE -out ca.pem 2>/dev/null
openssl genrsa -out "$work/rsa.key" 2048 2>/dev/null
openssl ecparam -name prime256v1 -genkey -noout -out "$work/p256.key"
openssl ecparam -name secp384r1 -genkey -noout -out "$work/p384.key"
openssl ecparam -name secp521r1 -genkey -noout -out "$work/p521.key"
openssl dsaparam -genkey -out "$work/dsa.key" 1024 2>/dev/null
for k in rsa p256 p384 p521 dsa; do
  openssl req -new -key "$work/$k.key" -subj "/CN=Signer $k/O=Fixtures" -out "$work/$k.csr"
  printf 'basicConstraints=CA:FALSE\n' > "$work/ext"
  openssl x509 -req -in "$work/$k.csr" -CA ca.pem -CAkey "$work/ca.key" -CAcreateserial \
    -days 7300 -extfile "$work/ext" -out "$work/$k.pem" 2>/dev/null
  openssl x509 -in "$work/$k.pem" -outform DER -out "$k.der"
done
rm -f ca.srl
keyof() {
  case "$1" in
    ecdsa-p256*) echo p256 ;; ecdsa-p384*) echo p384 ;; ecdsa-p521*) echo p521 ;;
    dsa-*) echo dsa ;; *) echo rsa ;;
  esac
}
for tmpl in *.tmpl; do
  name=$(basename "$tmpl" .tmpl)
  k=$(keyof "$name")
  digest=$(openssl dgst -sha256 -binary "$k.der" | base64)
  sed "s|CERTDIGEST|$digest|" "$tmpl" > "$work/$name.xml"
  xmlsec1 --sign --privkey-pem "$work/$k.key,$work/$k.pem,ca.pem" --id-attr:Id data \
    --id-attr:Id Object --id-attr:Id SignedProperties --output "$name.xml" "$work/$name.xml"
  xmlsec1 --verify --trusted-pem ca.pem --id-attr:Id data --id-attr:Id Object \
    --id-attr:Id SignedProperties --store-references --store-signatures --print-debug \
    "$name.xml" > "$work/$name.dbg" 2>&1
  python3 - "$work/$name.dbg" "$name" <<'PY'
import sys
text = open(sys.argv[1], 'rb').read()
def buffers(tag):
    start, end = b'== %s data - start buffer:\n' % tag, b'\n== %s data - end buffer' % tag
    out, pos = [], 0
    while True:
        i = text.find(start, pos)
        if i < 0:
            return out
        j = text.find(end, i)
        out.append(text[i + len(start):j])
        pos = j + len(end)
assert b'Status: succeeded' in text, sys.argv[2]
for n, p in enumerate(buffers(b'PreDigest')):
    open('%s.ref%d' % (sys.argv[2], n), 'wb').write(p)
si = buffers(b'PreSigned')
open('%s.si' % sys.argv[2], 'wb').write(si[0])
PY
done
# The W3C interop signatures the parser tests read (digests checked against
# their own DigestValues).
src=${VECTORS:-/work/shared/vectors/xmldsig}
if [ -d "$src" ]; then
  for f in signature-enveloping-rsa signature-enveloped-dsa signature-enveloping-b64-dsa \
    signature-enveloping-dsa signature-x509-crt-crl; do
    cp "$src/merlin-xmldsig-twenty-three/$f.xml" "../merlin/23-$f.xml"
  done
  cp "$src/merlin-exc-c14n-one/exc-signature.xml" ../merlin/exc-signature.xml
fi
