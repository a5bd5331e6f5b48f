#!/bin/sh
# settings-before-descriptions.hex: the "TVSftCfg" text that the key manager saved while its root
# lists were stored as bare certificates (SEQUENCE OF Certificate), before each root carried its
# description word. Made once by that version (a memory profile's defaults, then root-b.der and
# root-a.der installed in the first group and root-c.der in the second, kind 1, then saveConf);
# it cannot be made again by the current code. This script checks it with openssl and python:
# attribute .2.5.11 holds root-b then root-a, .2.5.8 holds root-c, each certificate as it is.
set -eu
cd "$(dirname "$0")"
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
perl -ne 'chomp; print pack("H*", $_)' settings-before-descriptions.hex > "$T/settings.der"
openssl asn1parse -inform DER -in "$T/settings.der" > /dev/null
python3 - "$T/settings.der" <<'PY'
import sys

def tlv(d, i):
    n, h = d[i + 1], 2
    if n & 0x80:
        k = n & 0x7F
        n, h = int.from_bytes(d[i + 2:i + 2 + k], "big"), 2 + k
    return d[i], i + h, i + h + n

d = open(sys.argv[1], "rb").read()
_, i, end = tlv(d, 0)
lists = {}
while i < end:
    _, a, aend = tlv(d, i)
    _, o, oend = tlv(d, a)
    oid = d[o:oend]
    _, s, _ = tlv(d, oend)
    _, c, cend = tlv(d, s)
    lists[oid[-1]] = d[c:cend]
    i = aend
der = lambda n: open(n, "rb").read()
assert lists[11] == der("root-b.der") + der("root-a.der"), "first group"
assert lists[8] == der("root-c.der"), "second group"
print("ok")
PY
