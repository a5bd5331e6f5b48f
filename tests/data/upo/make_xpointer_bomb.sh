#!/usr/bin/env bash
# XPointer references whose merges, sorts and string values libxml2 does not count, from
# upo.xml (a receipt signed by make_upo.sh). Nothing needs a key: references are read before
# any signature is checked. Outputs committed.
#   upo-xpointer-zagniezdzone.xml: one more ds:Reference, unsigned, with the URI
#     "#xpointer(//*//*//*//*//*//*//*//*)", and an unsigned ds:Object holding 50 nested
#     elements with 1,000 empty children inside (a receipt of 11 KB);
#   ../fuzz_regress/xmlsig/xpointer-*: the same receipt with the other crafted shapes, as
#     regression inputs of fuzz_xmlsig.
set -euo pipefail
cd "$(dirname "$0")"
python3 - <<'PY'
text = open('upo.xml', encoding='utf-8').read()
assert text.count('</ds:SignedInfo>') == 1 and text.count('</ds:Signature>') == 1

def receipt(uris, children, nesting=50):
    refs = ''.join('<ds:Reference URI="#xpointer(%s)">'
                   '<ds:DigestMethod Algorithm="http://www.w3.org/2000/09/xmldsig#sha1"/>'
                   '<ds:DigestValue>AAAAAAAAAAAAAAAAAAAAAAAAAAA=</ds:DigestValue></ds:Reference>' % u
                   for u in uris)
    obj = '<ds:Object>' + '<n>' * nesting + '<a/>' * children + '</n>' * nesting + '</ds:Object>'
    t = text.replace('</ds:SignedInfo>', refs + '</ds:SignedInfo>')
    return t.replace('</ds:Signature>', obj + '</ds:Signature>')

eight = '//*//*//*//*//*//*//*//*'
open('upo-xpointer-zagniezdzone.xml', 'w', encoding='utf-8').write(receipt([eight], 1000))
fuzz = '../fuzz_regress/xmlsig/'
open(fuzz + 'xpointer-eight-steps', 'w', encoding='utf-8').write(receipt([eight], 5000))
open(fuzz + 'xpointer-four-steps', 'w', encoding='utf-8').write(receipt(['//*//*//*//*'], 5000))
open(fuzz + 'xpointer-ancestors', 'w', encoding='utf-8').write(
    receipt(['//*/ancestor-or-self::*'], 5000))
open(fuzz + 'xpointer-thousand-references', 'w', encoding='utf-8').write(
    receipt(['//*//*//*//*//*//*'] * 1000, 10000, 20))
PY
