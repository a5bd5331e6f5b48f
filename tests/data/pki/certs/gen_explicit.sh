#!/bin/sh
# Certificates whose TBS is not DER but is signed as it stands (openssl signs
# and checks the octets): a self-signed v3 certificate whose basicConstraints
# carries the DEFAULT critical FALSE explicitly, and the PEM form of
# v1_explicit.der (made by gen.sh). Both forms must verify over the octets
# received. The outputs are committed: signatures cannot be reproduced.
set -eu
cd "$(dirname "$0")"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$W/ss.key" -subj "/C=PL/O=Test/CN=explicit FALSE" \
  -days 3650 -sha256 -addext basicConstraints=CA:FALSE -outform DER -out "$W/ss.der" 2>/dev/null
python3 - "$W" <<'PY'
import sys
w = sys.argv[1]
from tlvutil import tlv, hdr
der = open(w + '/ss.der', 'rb').read()
h, n = tlv(der, 0)
th, tn = tlv(der, h)
tbs = der[h:h + th + tn]
# the basicConstraints extension openssl wrote (non-critical, CA:FALSE)
old = bytes.fromhex('30090603551d1304023000')
assert tbs.count(old) == 1
new = bytes.fromhex('300c0603551d1301010004023000')
# every enclosing length grows by 3: rebuild the TBS from its members
def rebuild(b):
    th, tn = tlv(b, 0)
    body, i = b'', th
    while i < th + tn:
        mh, mn = tlv(b, i)
        m = b[i:i + mh + mn]
        if m[0] == 0xA3:
            eh, en = tlv(m, mh)
            exts = m[mh + eh:mh + eh + en].replace(old, new)
            m = hdr(0xA3, len(hdr(0x30, len(exts))) + len(exts)) + hdr(0x30, len(exts)) + exts
        body += m
        i += mh + mn
    return hdr(0x30, len(body)) + body
open(w + '/tbs.der', 'wb').write(rebuild(tbs))
PY
openssl dgst -sha256 -sign "$W/ss.key" -out "$W/sig" "$W/tbs.der"
python3 - "$W" <<'PY'
import sys
w = sys.argv[1]
from tlvutil import hdr
tbs = open(w + '/tbs.der', 'rb').read()
sig = open(w + '/sig', 'rb').read()
alg = bytes.fromhex('300d06092a864886f70d01010b0500')
bits = hdr(0x03, len(sig) + 1) + b'\x00' + sig
body = tbs + alg + bits
open('critical_false.der', 'wb').write(hdr(0x30, len(body)) + body)
PY
# PEM by plain base64 of the octets (no re-encoding on the way)
for f in critical_false v1_explicit; do
  { echo '-----BEGIN CERTIFICATE-----'; openssl base64 -e -in $f.der; echo '-----END CERTIFICATE-----'; } > $f.pem
done
{
  printf 'critical_false\t%s\n' "$(openssl verify -no_check_time -partial_chain -check_ss_sig -CAfile critical_false.pem critical_false.pem 2>&1 | tail -1)"
  printf 'critical_false_explicit\t%s\n' "$(openssl asn1parse -inform DER -in critical_false.der | grep -c 'BOOLEAN *:0' || true)"
  printf 'v1_explicit\t%s\n' "$(openssl verify -no_check_time -partial_chain -CAfile rsa_ca.pem v1_explicit.pem 2>&1 | tail -1)"
} > explicit_verify.txt
