#!/usr/bin/env bash
# Makes the name-text fixtures: for each subject below, a self-signed openssl
# certificate's subject name as DER (dn/N.der) and openssl's RFC 2253 text of it
# (dn/N.txt, from `openssl x509 -nameopt RFC2253,-esc_msb -subject`).
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl genrsa -out "$work/key.pem" 2048 2>/dev/null
subjects=(
  "/C=PL/O=Org/CN=Name"
  "/C=PL/ST=mazowieckie/L=Warszawa/O=Firma, S.A./OU=Dział \\+ IT/CN=Zażółć Gęślą"
  "/DC=pl/DC=example/CN=#hash;semi<less>more\"quote\\\\back"
  "/C=PL/serialNumber=PESEL:12345678901/title=Pan/CN=Jan Kowalski "
  "/emailAddress=jan@example.pl/CN=  two leading"
)
n=0
for s in "${subjects[@]}"; do
  openssl req -new -x509 -utf8 -key "$work/key.pem" -subj "$s" -days 1 -out "$work/c.pem" 2>/dev/null
  openssl x509 -in "$work/c.pem" -noout -nameopt RFC2253,-esc_msb -subject | sed 's/^subject=//' | tr -d '\n' > "dn/$n.txt"
  openssl x509 -in "$work/c.pem" -outform DER -out "$work/c.der"
  python3 - "$work/c.der" "dn/$n.der" <<'PY'
import sys
d = open(sys.argv[1], 'rb').read()
def tlv(b, i):
    tag = b[i]; l = b[i + 1]; h = 2
    if l & 0x80:
        k = l & 0x7f; l = int.from_bytes(b[i + 2:i + 2 + k], 'big'); h = 2 + k
    return tag, i + h, i + h + l
_, s, _ = tlv(d, 0)          # Certificate
_, s, _ = tlv(d, s)          # TBSCertificate content
fields = []
i = s
for _ in range(6):
    tag, cs, e = tlv(d, i)
    fields.append((tag, i, e)); i = e
if fields[0][0] != 0xA0:
    fields.insert(0, None)
_, b, e = fields[5]          # version, serial, signature, issuer, validity, subject
open(sys.argv[2], 'wb').write(d[b:e])
PY
  n=$((n + 1))
done
