#!/usr/bin/env bash
# Same-document XPointer reference fixtures (xpointer/): an RSA key and a
# self-signed certificate made by openssl (kept as rsa.der), and each template
# xpointer/<name>.tmpl signed by xmlsec1 over its "#xpointer(...)" reference,
# then verified by xmlsec1 with --store-references: the octets it digested for
# reference N are kept as xpointer/<name>.refN. xmlsec1 reads such a reference
# as each selected node with its descendants, comments included (an attribute
# alone is itself), and takes the URI text after "#" as written.
# Outputs are committed (signatures are not reproducible).
set -euo pipefail
cd "$(dirname "$0")/xpointer"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/rsa.key" -subj "/CN=XPointer signer/O=Fixtures" \
  -days 7300 -addext basicConstraints=critical,CA:FALSE -out "$work/rsa.pem" 2>/dev/null
openssl x509 -in "$work/rsa.pem" -outform DER -out rsa.der
for tmpl in *.tmpl; do
  name=$(basename "$tmpl" .tmpl)
  xmlsec1 --sign --privkey-pem "$work/rsa.key,$work/rsa.pem" --output "$name.xml" "$tmpl"
  xmlsec1 --verify --trusted-pem "$work/rsa.pem" --store-references --print-debug \
    "$name.xml" > "$work/$name.dbg" 2>&1
  python3 - "$work/$name.dbg" "$name" <<'PY'
import sys
text = open(sys.argv[1], 'rb').read()
start, end = b'== PreDigest data - start buffer:\n', b'\n== PreDigest data - end buffer'
assert b'Status: succeeded' in text, sys.argv[2]
pos, n = 0, 0
while True:
    i = text.find(start, pos)
    if i < 0:
        break
    j = text.find(end, i)
    open('%s.ref%d' % (sys.argv[2], n), 'wb').write(text[i + len(start):j])
    pos, n = j + len(end), n + 1
assert n > 0, sys.argv[2]
PY
done
