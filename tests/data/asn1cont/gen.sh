#!/bin/sh
# Makes the fixtures of the container tests with the openssl command line.
# The generated files are committed: keys, serials and dates are not reproducible.
set -e
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The same eleven values once as a SEQUENCE (kept in the order given) and once
# as a SET (openssl writes a SET OF in DER order).
cat > "$tmp/items" <<'X'
a=OCTWRAP,INT:258
b=INT:1
c=OCTWRAP,INT:1
d=NULL
e=OCT:
f=FORMAT:HEX,OCT:0000
g=FORMAT:HEX,OCT:00
h=FORMAT:HEX,OCT:FF
i=IA5STRING:abc
j=IA5STRING:ab
k=FORMAT:HEX,OCT:01
l=SEQUENCE:inner
X
printf 'asn1=SEQUENCE:s\n[s]\n' > "$tmp/seq.cnf"; cat "$tmp/items" >> "$tmp/seq.cnf"
printf 'asn1=SET:s\n[s]\n' > "$tmp/set.cnf"; cat "$tmp/items" >> "$tmp/set.cnf"
for f in seq set; do printf '[inner]\nx=INT:7\ny=BOOL:TRUE\n' >> "$tmp/$f.cnf"; done
openssl asn1parse -genconf "$tmp/seq.cnf" -noout -out set_items_seq.der
openssl asn1parse -genconf "$tmp/set.cnf" -noout -out set_items_der.der

# A certificate with a multi-valued RDN (openssl sorts its values) and a few
# extensions.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
  -keyout "$tmp/key.pem" -out "$tmp/cert.pem" -days 3650 -multivalue-rdn \
  -subj "/C=PL/O=Org+OU=Unit+CN=Name/CN=Second" \
  -addext "keyUsage=critical,digitalSignature" \
  -addext "subjectAltName=DNS:a.example,DNS:b.example" \
  -addext "certificatePolicies=1.2.3.4,1.2.3.5" 2>/dev/null
openssl x509 -in "$tmp/cert.pem" -outform DER -out cert.der

# CMS signed data with signed attributes (a SET OF that openssl sorts), once in
# DER and once streamed (indefinite lengths).
printf 'content of the signed message\n' > "$tmp/data.txt"
openssl cms -sign -binary -nodetach -in "$tmp/data.txt" -signer "$tmp/cert.pem" \
  -inkey "$tmp/key.pem" -outform DER -out signed.der
openssl cms -sign -binary -nodetach -stream -in "$tmp/data.txt" -signer "$tmp/cert.pem" \
  -inkey "$tmp/key.pem" -outform DER -out signed_stream.der
# id-data content info, streamed: constructed OCTET STRING of indefinite length.
head -c 3000 /dev/zero | tr '\0' 'x' > "$tmp/big.txt"
openssl cms -data_create -binary -stream -in "$tmp/big.txt" -outform DER -out data_stream.der
openssl cms -data_create -binary -in "$tmp/big.txt" -outform DER -out data.der

# Parts cut out at the offsets that openssl asn1parse lists.
openssl asn1parse -inform DER -in cert.der > "$tmp/cert.txt"
openssl asn1parse -inform DER -in signed.der > "$tmp/signed.txt"
python3 - "$tmp" <<'PY'
import re, sys
tmp = sys.argv[1]
def parts(name):
    out = []
    for line in open(f"{tmp}/{name}.txt"):
        m = re.match(r"\s*(\d+):d=(\d+)\s+hl=(\d+)\s+l=\s*(\d+|inf)\s+\w+:\s*(.*)", line)
        if m and m.group(4) != "inf":
            off, d, hl, l = (int(m.group(i)) for i in range(1, 5))
            out.append((off, d, hl + l, m.group(5).strip()))
    return out
def cut(name, pick, target):
    data = open(f"{name}.der", "rb").read()
    off, _, n, _ = pick(parts(name))
    open(target, "wb").write(data[off:off + n])
# Certificate: TBS children are version, serial, algorithm, issuer, validity,
# subject, key, [3] extensions.
tbs = lambda p: [e for e in p if e[1] == 2]
cut("cert", lambda p: tbs(p)[7], "cert_exts_expl.der")
cut("cert", lambda p: tbs(p)[3], "cert_name.der")
# SignedData: the certificates [0] IMPLICIT SET OF, the signerInfos SET OF and
# the signed attributes [0] IMPLICIT SET OF of the signer.
cut("signed", lambda p: [e for e in p if e[1] == 3 and e[3].startswith("cont [ 0 ]")][0], "signed_certs.der")
cut("signed", lambda p: [e for e in p if e[1] == 3 and e[3].startswith("SET")][-1], "signed_signerinfos.der")
cut("signed", lambda p: [e for e in p if e[1] == 5 and e[3].startswith("cont [ 0 ]")][0], "signed_attrs.der")
PY

# The SEQUENCE above retagged as a SET: a SET OF received out of DER order.
python3 -c "d = open('set_items_seq.der', 'rb').read(); open('set_items_recv.der', 'wb').write(b'\x31' + d[1:])"
for f in set_items_recv set_items_der cert_exts_expl cert_name signed_attrs signed_certs signed_signerinfos; do
  openssl dgst -sha256 -binary $f.der > $f.sha256
done
