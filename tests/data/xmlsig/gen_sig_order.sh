#!/usr/bin/env bash
# Makes sig/envxpath-rsa256.xml: a whole-document reference whose enveloped
# transform comes before an XPath filter, signed by xmlsec1 with a throwaway
# RSA key and self-signed certificate; the octets xmlsec1 digested are kept as
# sig/envxpath-rsa256.ref0. Outputs are committed (signatures are not
# reproducible).
set -euo pipefail
cd "$(dirname "$0")/sig"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
name=envxpath-rsa256
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/k.key" -subj "/CN=Order signer" \
  -days 7300 -addext basicConstraints=critical,CA:FALSE -out "$work/k.pem" 2>/dev/null
xmlsec1 --sign --privkey-pem "$work/k.key,$work/k.pem" --output "$name.xml" "$name.tmpl"
xmlsec1 --verify --trusted-pem "$work/k.pem" --store-references --print-debug "$name.xml" \
  > "$work/$name.dbg" 2>&1
python3 - "$work/$name.dbg" "$name" <<'PY'
import sys
text = open(sys.argv[1], 'rb').read()
assert b'Status: succeeded' in text, sys.argv[2]
start, end = b'== PreDigest data - start buffer:\n', b'\n== PreDigest data - end buffer'
i = text.find(start)
j = text.find(end, i)
open('%s.ref0' % sys.argv[2], 'wb').write(text[i + len(start):j])
PY
