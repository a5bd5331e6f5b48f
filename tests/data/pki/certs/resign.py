#!/usr/bin/env python3
"""Re-signs a certificate over a TBS that is not DER: the basicConstraints
extension openssl wrote without a critical flag gets the DEFAULT critical
FALSE explicitly, and the new TBS is signed as it stands with openssl dgst
(sha256WithRSAEncryption, the issuer's RSA key).
Usage: resign.py in.der issuer.key out.der"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tlvutil import tlv, hdr

src, key, dst = sys.argv[1:4]
der = open(src, 'rb').read()
h, n = tlv(der, 0)
th, tn = tlv(der, h)
tbs = der[h:h + th + tn]
old = bytes.fromhex('30090603551d1304023000')
new = bytes.fromhex('300c0603551d1301010004023000')
assert tbs.count(old) == 1
# every enclosing length grows by 3: rebuild the TBS from its members
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
tbs = hdr(0x30, len(body)) + body
with tempfile.TemporaryDirectory() as w:
    open(w + '/tbs', 'wb').write(tbs)
    subprocess.run(['openssl', 'dgst', '-sha256', '-sign', key, '-out', w + '/sig', w + '/tbs'],
                   check=True)
    sig = open(w + '/sig', 'rb').read()
alg = bytes.fromhex('300d06092a864886f70d01010b0500')
body = tbs + alg + hdr(0x03, len(sig) + 1) + b'\x00' + sig
open(dst, 'wb').write(hdr(0x30, len(body)) + body)
