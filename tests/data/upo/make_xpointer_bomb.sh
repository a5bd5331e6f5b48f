#!/usr/bin/env bash
# upo-xpointer-zagniezdzone.xml: upo.xml with one more ds:Reference, unsigned, whose URI is
# "#xpointer(//*//*//*//*//*//*//*//*)", and an unsigned ds:Object holding 50 nested elements with
# 1,000 empty children inside (a receipt of 11 KB). Nothing needs a key: the reference is read
# before any signature is checked. Output committed.
set -euo pipefail
cd "$(dirname "$0")"
python3 - <<'PY'
text = open('upo.xml', encoding='utf-8').read()
ref = ('<ds:Reference URI="#xpointer(//*//*//*//*//*//*//*//*)">'
       '<ds:DigestMethod Algorithm="http://www.w3.org/2000/09/xmldsig#sha1"/>'
       '<ds:DigestValue>AAAAAAAAAAAAAAAAAAAAAAAAAAA=</ds:DigestValue></ds:Reference>')
obj = '<ds:Object>' + '<n>' * 50 + '<a/>' * 1000 + '</n>' * 50 + '</ds:Object>'
assert text.count('</ds:SignedInfo>') == 1 and text.count('</ds:Signature>') == 1
text = text.replace('</ds:SignedInfo>', ref + '</ds:SignedInfo>')
text = text.replace('</ds:Signature>', obj + '</ds:Signature>')
open('upo-xpointer-zagniezdzone.xml', 'w', encoding='utf-8').write(text)
PY
