#!/bin/sh
# A self-signed certificate of rsa.key whose TBS is not DER (its
# basicConstraints carries the DEFAULT critical FALSE explicitly), signed over
# those octets: rsa_nonder.crt.der. openssl verifies it (nonder_verify.txt).
# The output is committed: its dates cannot be reproduced.
set -eu
cd "$(dirname "$0")"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT
openssl req -x509 -key rsa.key -subj "/C=PL/O=Test/CN=token key, non-DER certificate" -days 7300 \
  -sha256 -addext basicConstraints=CA:FALSE -addext keyUsage=critical,digitalSignature,keyEncipherment \
  -outform DER -out "$W/c0.der" 2>/dev/null
python3 - "$W" <<'PY'
import sys
sys.path.insert(0, '../../pki/certs')
from tlvutil import tlv, hdr
w = sys.argv[1]
der = open(w + '/c0.der', 'rb').read()
h, n = tlv(der, 0)
th, tn = tlv(der, h)
tbs = der[h:h + th + tn]
old = bytes.fromhex('30090603551d1304023000')
new = bytes.fromhex('300c0603551d1301010004023000')
assert tbs.count(old) == 1
body, i = b'', th
while i < th + tn:
    mh, mn = tlv(tbs, i)
    m = tbs[i:i + mh + mn]
    if m[0] == 0xA3:
        eh, en = tlv(m, mh)
        exts = m[mh + eh:mh + eh + en].replace(old, new)
        m = hdr(0xA3, len(hdr(0x30, len(exts))) + len(exts)) + hdr(0x30, len(exts)) + exts
    body += m
    i += mh + mn
open(w + '/tbs.der', 'wb').write(hdr(0x30, len(body)) + body)
PY
openssl dgst -sha256 -sign rsa.key -out "$W/sig" "$W/tbs.der"
python3 - "$W" <<'PY'
import sys
sys.path.insert(0, '../../pki/certs')
from tlvutil import hdr
w = sys.argv[1]
tbs = open(w + '/tbs.der', 'rb').read()
sig = open(w + '/sig', 'rb').read()
alg = bytes.fromhex('300d06092a864886f70d01010b0500')
body = tbs + alg + hdr(0x03, len(sig) + 1) + b'\x00' + sig
open('rsa_nonder.crt.der', 'wb').write(hdr(0x30, len(body)) + body)
PY
openssl x509 -inform DER -in rsa_nonder.crt.der -out "$W/c.pem"
printf 'rsa_nonder\t%s\n' "$(openssl verify -check_ss_sig -CAfile "$W/c.pem" "$W/c.pem" 2>&1 | tail -1 | sed 's|.*/||')" \
  > nonder_verify.txt
