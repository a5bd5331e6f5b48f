#!/usr/bin/env bash
# Makes the canonicalisation fixtures: signs each template in c14n/*.tmpl with
# xmlsec1 (a throw-away RSA key made here with openssl), verifies the result with
# --store-references --print-debug and stores the pre-digest octets xmlsec1
# computed for reference N of <name> as c14n/<name>.refN. (This xmlsec1 neither
# substitutes entities nor completes default attributes: the templates use neither.) Also copies the W3C
# interop vectors the tests use. Outputs are committed (signatures are not
# reproducible).
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl genrsa -out "$work/key.pem" 2048 2>/dev/null
openssl rsa -in "$work/key.pem" -pubout -out "$work/pub.pem" 2>/dev/null
for tmpl in c14n/*.tmpl; do
  name=$(basename "$tmpl" .tmpl)
  xmlsec1 --sign --privkey-pem "$work/key.pem" --id-attr:Id data --id-attr:Id root \
    --output "c14n/$name.xml" "$tmpl"
  xmlsec1 --verify --pubkey-pem "$work/pub.pem" --id-attr:Id data --id-attr:Id root \
    --store-references --print-debug "c14n/$name.xml" > "$work/$name.dbg" 2>&1
  python3 - "$work/$name.dbg" "c14n/$name" <<'PY'
import sys
text = open(sys.argv[1], 'rb').read()
start, end = b'== PreDigest data - start buffer:\n', b'\n== PreDigest data - end buffer'
parts, pos = [], 0
while True:
    i = text.find(start, pos)
    if i < 0:
        break
    j = text.find(end, i)
    parts.append(text[i + len(start):j])
    pos = j + len(end)
# One buffer per reference, in document order.
for n, p in enumerate(parts):
    open('%s.ref%d' % (sys.argv[2], n), 'wb').write(p)
PY
done
src=${VECTORS:-/work/shared/vectors/xmldsig}
if [ -d "$src" ]; then
  cp "$src/merlin-c14n-three/signature.xml" merlin/c14n-three.xml
  for f in "$src"/merlin-c14n-three/c14n-*.txt; do cp "$f" "merlin/c14n-three-$(basename "$f")"; done
  # the interop set's example signature and its second reference's canonical form
  cp "$src"/merlin-xpath-filter2-three/sign-sp?c.xml merlin/filter2-sign-example.xml
  cp "$src"/merlin-xpath-filter2-three/sign-sp?c-c14n-2.txt merlin/filter2-sign-example-c14n-2.txt
  cp "$src/COPYRIGHT-xmlsec" merlin/COPYRIGHT-xmlsec
fi
