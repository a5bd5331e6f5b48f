#!/usr/bin/env bash
# Regression inputs of fuzz_xades made from the committed fixtures:
#   xades/name-not-utf8.xml  bes.xml carrying, in CertificateValues, its signer's
#                            certificate with the issuer's first octet made 0xFF
#                            (not UTF-8): extending must not leave an unparsable document.
set -euo pipefail
cd "$(dirname "$0")"
python3 - ../xmlsig/xades/bes.xml ../xmlsig/xades/signer.der xades/name-not-utf8.xml <<'PY'
import base64, sys
bes = open(sys.argv[1], 'rb').read()
der = open(sys.argv[2], 'rb').read()
i = der.find(b'XAdES Test CA')
bad = der[:i] + b'\xff' + der[i + 1:]
values = (b'<xades:CertificateValues><xades:EncapsulatedX509Certificate>' + base64.b64encode(bad) +
          b'</xades:EncapsulatedX509Certificate></xades:CertificateValues>')
out = bes.replace(b'<xades:UnsignedSignatureProperties/>',
                  b'<xades:UnsignedSignatureProperties>' + values + b'</xades:UnsignedSignatureProperties>')
assert out != bes
open(sys.argv[3], 'wb').write(out)
PY
