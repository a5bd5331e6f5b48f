#!/bin/sh
# Makes the fixtures of the ASN.1 core tests with the openssl command line and
# python3 (standard library only). The generated files are committed: keys,
# serials, signatures and dates are not reproducible.
set -e
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# A CA (RSA), an EC leaf and a time-stamping certificate.
cat > "$tmp/ext.cnf" <<'X'
[ca]
basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign,cRLSign
subjectKeyIdentifier=hash
[leaf]
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
subjectAltName=DNS:example.test,email:a@example.test
crlDistributionPoints=URI:http://example.test/ca.crl
authorityInfoAccess=OCSP;URI:http://example.test/ocsp
certificatePolicies=1.2.3.4.5
[tsa]
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=critical,timeStamping
X
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$tmp/ca.key" -out "$tmp/ca.pem" \
    -subj "/C=PL/O=Test Org/CN=Test CA" -days 3650 \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl x509 -in "$tmp/ca.pem" -outform DER -out cert_rsa_ca.der
openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$tmp/leaf.key" \
    -out "$tmp/leaf.csr" -subj "/C=PL/CN=Leaf \\C5\\BB\\C3\\B3\\C5\\82w" -utf8 2>/dev/null
openssl x509 -req -in "$tmp/leaf.csr" -CA "$tmp/ca.pem" -CAkey "$tmp/ca.key" -set_serial 0x0102030405060708090A \
    -days 400 -extfile "$tmp/ext.cnf" -extensions leaf -out "$tmp/leaf.pem" 2>/dev/null
openssl x509 -in "$tmp/leaf.pem" -outform DER -out cert_ec_leaf.der
openssl req -new -newkey rsa:2048 -nodes -keyout "$tmp/tsa.key" -out "$tmp/tsa.csr" -subj "/CN=Test TSA" 2>/dev/null
openssl x509 -req -in "$tmp/tsa.csr" -CA "$tmp/ca.pem" -CAkey "$tmp/ca.key" -set_serial 7 -days 400 \
    -extfile "$tmp/ext.cnf" -extensions tsa -out "$tmp/tsa.pem" 2>/dev/null

# A CRL revoking the leaf.
mkdir -p "$tmp/ca"
: > "$tmp/ca/index.txt"
echo 01 > "$tmp/ca/crlnumber"
cat > "$tmp/ca.cnf" <<X
[ca]
default_ca=d
[d]
database=$tmp/ca/index.txt
crlnumber=$tmp/ca/crlnumber
default_md=sha256
default_crl_days=30
X
openssl ca -config "$tmp/ca.cnf" -revoke "$tmp/leaf.pem" -keyfile "$tmp/ca.key" -cert "$tmp/ca.pem" \
    -crl_reason keyCompromise 2>/dev/null
openssl ca -config "$tmp/ca.cnf" -gencrl -keyfile "$tmp/ca.key" -cert "$tmp/ca.pem" -out "$tmp/crl.pem" 2>/dev/null
openssl crl -in "$tmp/crl.pem" -outform DER -out crl.der

# CMS signed data: DER, and BER as openssl streams it (indefinite lengths,
# constructed OCTET STRING content).
head -c 3000 /dev/zero | tr '\0' 'x' > "$tmp/data.txt"
openssl cms -sign -in "$tmp/data.txt" -signer "$tmp/ca.pem" -inkey "$tmp/ca.key" -nodetach -binary \
    -outform DER -out cms_signed.der
openssl cms -sign -in "$tmp/data.txt" -signer "$tmp/ca.pem" -inkey "$tmp/ca.key" -nodetach -binary -stream \
    -outform DER -out cms_signed_ber.der

# OCSP request and response.
openssl ocsp -issuer "$tmp/ca.pem" -cert "$tmp/leaf.pem" -reqout ocsp_req.der -no_nonce 2>/dev/null
openssl ocsp -index "$tmp/ca/index.txt" -rsigner "$tmp/ca.pem" -rkey "$tmp/ca.key" -CA "$tmp/ca.pem" \
    -reqin ocsp_req.der -respout ocsp_resp.der 2>/dev/null

# Time-stamp request and response.
cat > "$tmp/ts.cnf" <<X
[tsa]
default_tsa=t
[t]
serial=$tmp/tsaserial
signer_cert=$tmp/tsa.pem
signer_key=$tmp/tsa.key
signer_digest=sha256
default_policy=1.2.3.4.1
digests=sha256
accuracy=secs:1,millisecs:500
ess_cert_id_alg=sha256
X
echo 01 > "$tmp/tsaserial"
openssl ts -query -data "$tmp/data.txt" -sha256 -cert -out ts_req.der
openssl ts -reply -queryfile ts_req.der -config "$tmp/ts.cnf" -out ts_resp.der 2>/dev/null

# Small values: non-minimal lengths, explicit tags, nested sets.
cat > "$tmp/small.cnf" <<'X'
asn1=SEQUENCE:s
[s]
a=INT:-129
b=BOOL:TRUE
c=NULL
d=OID:1.2.840.113549.1.1.11
e=UTCTIME:491231235959Z
f=GENTIME:20210315123456.5Z
g=EXPLICIT:0,INT:5
h=IMPLICIT:1,OCT:abc
i=FORMAT:BITLIST,BITSTRING:1,3,9
j=SET:t
k=UTF8:zolw
[t]
x=PRINTABLESTRING:b
y=IA5STRING:a
X
openssl asn1parse -genconf "$tmp/small.cnf" -noout -out small.der

# The DER form of every BER input, and the SHA-256 of every file, made with
# python's standard library alone.
python3 - <<'X'
import hashlib, os

def read_len(b, i):
    f = b[i]; i += 1
    if f < 0x80: return f, i
    if f == 0x80: return -1, i
    n = f & 0x7f
    return int.from_bytes(b[i:i+n], 'big'), i + n

def parse(b, i):
    t = b[i]; i += 1
    l, i = read_len(b, i)
    if l == -1:
        kids = []
        while b[i:i+2] != b'\0\0':
            k, i = parse(b, i)
            kids.append(k)
        return (t, kids), i + 2
    if t & 0x20:
        end = i + l; kids = []
        while i < end:
            k, i = parse(b, i)
            kids.append(k)
        return (t, kids), end
    return (t, b[i:i+l]), i + l

def enc_len(n):
    if n < 128: return bytes([n])
    s = n.to_bytes((n.bit_length() + 7) // 8, 'big')
    return bytes([0x80 | len(s)]) + s

def flat(node):
    t, v = node
    return v if isinstance(v, bytes) else b''.join(flat(k) for k in v)

def der(node):
    t, v = node
    if t == 0x24:
        c = flat(node); return b'\x04' + enc_len(len(c)) + c
    c = v if isinstance(v, bytes) else b''.join(der(k) for k in v)
    return bytes([t]) + enc_len(len(c)) + c

b = open('cms_signed_ber.der', 'rb').read()
node, end = parse(b, 0)
assert end == len(b)
open('cms_signed_ber_as_der.bin', 'wb').write(der(node))
with open('sha256.txt', 'w') as out:
    for f in sorted(os.listdir('.')):
        if f.endswith('.der') or f.endswith('.bin'):
            out.write('%s %s\n' % (hashlib.sha256(open(f, 'rb').read()).hexdigest(), f))
X
