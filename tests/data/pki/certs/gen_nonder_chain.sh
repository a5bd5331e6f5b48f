#!/bin/sh
# A CA whose TBS is not DER but is signed as it stands (its subjectKeyIdentifier
# carries the DEFAULT critical FALSE explicitly), a DER end certificate it
# issues, and a CRL of that CA whose issuer name has a long-form length where
# the short form fits, re-signed over those octets. openssl verifies all three
# (nonder_verify.txt). The outputs are committed: signatures cannot be
# reproduced.
set -eu
cd "$(dirname "$0")"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$W/ca.key" -subj "/C=PL/O=Test/CN=non-DER CA" \
  -days 7300 -sha256 -addext basicConstraints=critical,CA:TRUE \
  -addext keyUsage=critical,keyCertSign,cRLSign -addext subjectKeyIdentifier=hash \
  -outform DER -out "$W/ca0.der" 2>/dev/null

# TLV tree helpers: parse, edit, write back with minimal lengths except
# where a node asks for a long form.
cat > "$W/tree.py" <<'PY'
import sys
from tlvutil import tlv, hdr
def parse(b, i=0):
    h, n = tlv(b, i)
    tag = b[i]
    body = b[i + h:i + h + n]
    if tag & 0x20:
        kids, j = [], 0
        while j < len(body):
            kh, kn = tlv(body, j)
            kids.append(parse(body, j))
            j += kh + kn
        return [tag, kids, False]
    return [tag, body, False]
def write(node):
    tag, v, longform = node
    body = b''.join(write(k) for k in v) if isinstance(v, list) else v
    if longform and len(body) < 128:
        return bytes([tag, 0x81, len(body)]) + body
    return hdr(tag, len(body)) + body
def certParts(der):
    root = parse(der)
    return root, root[1][0]
def assemble(tbs, alg, sig):
    bits = hdr(0x03, len(sig) + 1) + b'\x00' + sig
    body = tbs + alg + bits
    return hdr(0x30, len(body)) + body
PY

# the CA: explicit critical FALSE in subjectKeyIdentifier
cp tlvutil.py "$W/"
python3 - "$W" <<'PY'
import sys
w = sys.argv[1]
sys.path.insert(0, w)
from tree import parse, write
der = open(w + '/ca0.der', 'rb').read()
tbs = parse(der)[1][0]
exts = [m for m in tbs[1] if m[0] == 0xA3][0][1][0][1]
ski = [e for e in exts if e[1][0][1] == bytes.fromhex('551d0e')]
assert len(ski) == 1 and len(ski[0][1]) == 2
ski[0][1].insert(1, [0x01, b'\x00', False])
open(w + '/ca_tbs.der', 'wb').write(write(tbs))
PY
openssl dgst -sha256 -sign "$W/ca.key" -out "$W/ca.sig" "$W/ca_tbs.der"
python3 - "$W" <<'PY'
import sys
w = sys.argv[1]
sys.path.insert(0, w)
from tree import assemble
alg = bytes.fromhex('300d06092a864886f70d01010b0500')
open('nonder_ca.der', 'wb').write(assemble(open(w + '/ca_tbs.der', 'rb').read(), alg,
                                           open(w + '/ca.sig', 'rb').read()))
PY
{ echo '-----BEGIN CERTIFICATE-----'; openssl base64 -e -in nonder_ca.der; echo '-----END CERTIFICATE-----'; } > nonder_ca.pem

# a DER end certificate it issues
openssl req -new -newkey rsa:2048 -nodes -keyout "$W/ee.key" -subj "/C=PL/O=Test/CN=non-DER CA leaf" \
  -out "$W/ee.csr" 2>/dev/null
cat > "$W/ee.ext" <<X
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,nonRepudiation
authorityKeyIdentifier=keyid
X
openssl x509 -req -in "$W/ee.csr" -CA nonder_ca.pem -CAkey "$W/ca.key" -set_serial 0x4e44 -days 3650 \
  -sha256 -extfile "$W/ee.ext" -outform DER -out nonder_ee.der 2>/dev/null

# a CRL of the CA, its issuer name's length in the long form, re-signed
mkdir "$W/db"
: > "$W/db/index.txt"
echo 01 > "$W/db/crlnumber"
printf 'R\t300101000000Z\t260101000000Z,keyCompromise\t0A\tunknown\t/CN=revoked 0A\n' > "$W/db/index.txt"
cat > "$W/ca.cnf" <<X
[ca]
default_ca = d
[d]
database = $W/db/index.txt
crlnumber = $W/db/crlnumber
default_md = sha256
default_crl_days = 3650
X
openssl ca -config "$W/ca.cnf" -gencrl -cert nonder_ca.pem -keyfile "$W/ca.key" -out "$W/crl0.pem" 2>/dev/null
openssl crl -in "$W/crl0.pem" -outform DER -out "$W/crl0.der"
python3 - "$W" <<'PY'
import sys
w = sys.argv[1]
sys.path.insert(0, w)
from tree import parse, write
tbs = parse(open(w + '/crl0.der', 'rb').read())[1][0]
names = [m for m in tbs[1] if m[0] == 0x30 and isinstance(m[1], list) and m[1] and m[1][0][0] == 0x31]
name = names[0]
assert len(write(name)) < 130
name[2] = True
open(w + '/crl_tbs.der', 'wb').write(write(tbs))
PY
openssl dgst -sha256 -sign "$W/ca.key" -out "$W/crl.sig" "$W/crl_tbs.der"
python3 - "$W" <<'PY'
import sys
w = sys.argv[1]
sys.path.insert(0, w)
from tree import assemble
alg = bytes.fromhex('300d06092a864886f70d01010b0500')
open('nonder_crl.der', 'wb').write(assemble(open(w + '/crl_tbs.der', 'rb').read(), alg,
                                            open(w + '/crl.sig', 'rb').read()))
PY
{ echo '-----BEGIN X509 CRL-----'; openssl base64 -e -in nonder_crl.der; echo '-----END X509 CRL-----'; } > nonder_crl.pem

{
  printf 'nonder_ca\t%s\n' "$(openssl verify -no_check_time -check_ss_sig -CAfile nonder_ca.pem nonder_ca.pem 2>&1 | tail -1)"
  openssl x509 -inform DER -in nonder_ee.der -out "$W/ee.pem"
  printf 'nonder_ee\t%s\n' "$(openssl verify -no_check_time -CAfile nonder_ca.pem "$W/ee.pem" 2>&1 | tail -1 | sed 's|.*/||')"
  printf 'nonder_crl\t%s\n' "$(openssl crl -in nonder_crl.pem -CAfile nonder_ca.pem -noout 2>&1 | tail -1)"
  printf 'nonder_crl_longform\t%s\n' "$(openssl asn1parse -inform DER -in nonder_crl.der -i | grep -cE 'd=2 +hl=3 l= +[0-9]{1,2} cons' || true)"
} > nonder_verify.txt
