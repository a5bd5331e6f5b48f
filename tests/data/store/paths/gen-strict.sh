#!/usr/bin/env bash
# End certificates that break one rule of RFC 5280 each (or keep one the
# rules allow), under one root, with openssl's own verdicts on them:
#   strict/root.der         root CA (certificatePolicies anyPolicy)
#   strict/good.der         a plain end certificate
#   strict/dupext.der       keyUsage twice (made with a stand-in OID, patched, signed again)
#   strict/kubad.der        a critical keyUsage whose value is NULL, not a BIT STRING
#   strict/sigalg.der       outer signatureAlgorithm ecdsa-with-SHA384, TBS signature SHA-256
#   strict/poltwice.der     certificatePolicies naming 1.2.3.4 twice
#   strict/sanempty.der     an empty subject with a critical subjectAltName
#   strict/sanname.der      a subject with a critical subjectAltName (openssl takes it; RFC 5280
#                           wants it non-critical there)
#   strict/sanbad.der       an empty subject with a critical subjectAltName whose value is NULL
#   strict/sannone.der      an empty subject with a critical subjectAltName of no name
#   strict/revoked.der      listed by crl-future.der
#   strict/crl.der          the root's CRL listing nothing
#   strict/crl-future.der   the root's CRL listing revoked.der, issued a day after the certificates
#   strict/verify.txt       `openssl verify -x509_strict -crl_check_all` on each, one line each
#                           (poltwice once more with -policy_check)
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
out=strict
mkdir -p "$out"
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$tmp/root.key"
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$tmp/ee.key"
conf() { printf '[req]\ndistinguished_name=dn\n[dn]\n[v3]\n%b\n' "$1"; }
openssl req -new -x509 -key "$tmp/root.key" -subj "/O=Strict/CN=Strict Root" -days 7300 -set_serial 1 \
  -extensions v3 -config <(conf 'basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\nsubjectKeyIdentifier=hash\ncertificatePolicies=2.5.29.32.0') \
  -out "$tmp/root.pem"
base='basicConstraints=CA:FALSE\nsubjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid:always'
sign() { # name subject serial extensions
  openssl req -new -key "$tmp/ee.key" -subj "$2" -config <(conf '') -out "$tmp/$1.csr"
  openssl x509 -req -in "$tmp/$1.csr" -CA "$tmp/root.pem" -CAkey "$tmp/root.key" -set_serial "$3" \
    -days 7300 -extfile <(printf '[v3]\n%b\n' "$base\n$4") -extensions v3 -outform DER -out "$tmp/$1.der" 2>/dev/null
}
sign good "/O=Strict/CN=Good" 10 'keyUsage=critical,digitalSignature'
sign dupext "/O=Strict/CN=Two keyUsage" 11 'keyUsage=critical,digitalSignature\n2.5.29.99=DER:03020780'
sign kubad "/O=Strict/CN=Bad keyUsage" 12 '2.5.29.15=critical,DER:0500'
sign sigalg "/O=Strict/CN=Two algorithms" 13 'keyUsage=critical,digitalSignature'
sign poltwice "/O=Strict/CN=Policy twice" 14 'keyUsage=critical,digitalSignature\ncertificatePolicies=1.2.3.4,1.2.3.4'
sign sanempty "/" 15 'keyUsage=critical,digitalSignature\nsubjectAltName=critical,DNS:end.strict.test'
sign revoked "/O=Strict/CN=Revoked" 16 'keyUsage=critical,digitalSignature'
sign sanname "/O=Strict/CN=Named" 17 'keyUsage=critical,digitalSignature\nsubjectAltName=critical,DNS:named.strict.test'
sign sanbad "/" 18 'keyUsage=critical,digitalSignature\n2.5.29.17=critical,DER:0500'
sign sannone "/" 19 'keyUsage=critical,digitalSignature\n2.5.29.17=critical,DER:3000'
# dupext: the stand-in OID 2.5.29.99 becomes keyUsage 2.5.29.15 and the TBS is
# signed again; sigalg: only the outer algorithm changes (the signature stays).
python3 - "$tmp" <<'PY'
import subprocess, sys
tmp = sys.argv[1]
def tlv(b, i):  # (start of content, end) of the element at i
    n = b[i + 1]; j = i + 2
    if n & 0x80:
        k = n & 0x7f; n = int.from_bytes(b[j:j + k], 'big'); j += k
    return j, j + n
def hdr(tag, content):
    n = len(content)
    if n < 0x80: return bytes([tag, n]) + content
    l = n.to_bytes((n.bit_length() + 7) // 8, 'big')
    return bytes([tag, 0x80 | len(l)]) + l + content
def parts(der):
    s, _ = tlv(der, 0); ts, te = tlv(der, s); a, ae = tlv(der, te)
    return der[s:te], der[te:ae], der[ae:]
tbs, alg, sig = parts(open(f'{tmp}/dupext.der', 'rb').read())
tbs = tbs.replace(bytes.fromhex('0603551d63'), bytes.fromhex('0603551d0f'))
open(f'{tmp}/tbs', 'wb').write(tbs)
s = subprocess.run(['openssl', 'dgst', '-sha256', '-sign', f'{tmp}/root.key', f'{tmp}/tbs'],
                   check=True, capture_output=True).stdout
open(f'{tmp}/dupext.der', 'wb').write(hdr(0x30, tbs + alg + hdr(0x03, b'\0' + s)))
tbs, alg, sig = parts(open(f'{tmp}/sigalg.der', 'rb').read())
alg = alg.replace(bytes.fromhex('2a8648ce3d040302'), bytes.fromhex('2a8648ce3d040303'))
open(f'{tmp}/sigalg.der', 'wb').write(hdr(0x30, tbs + alg + sig))
PY
# The CRLs: openssl ca over a database that lists revoked.der.
mkdir -p "$tmp/ca"
: >"$tmp/ca/index.txt"
printf '[ca]\ndefault_ca=d\n[d]\ndatabase=%s/ca/index.txt\ndefault_md=sha256\ncrlnumber=%s/ca/crlnumber\ndefault_crl_days=30\n' \
  "$tmp" "$tmp" >"$tmp/ca.cnf"
echo 01 >"$tmp/ca/crlnumber"
openssl ca -config "$tmp/ca.cnf" -gencrl -cert "$tmp/root.pem" -keyfile "$tmp/root.key" -out "$tmp/crl.pem" 2>/dev/null
openssl x509 -inform DER -in "$tmp/revoked.der" -out "$tmp/revoked.pem"
openssl ca -config "$tmp/ca.cnf" -revoke "$tmp/revoked.pem" -cert "$tmp/root.pem" -keyfile "$tmp/root.key" 2>/dev/null
future=$(date -u -d '+1 day' +%Y%m%d%H%M%SZ)
until=$(date -u -d '+31 days' +%Y%m%d%H%M%SZ)
openssl ca -config "$tmp/ca.cnf" -gencrl -crl_lastupdate "$future" -crl_nextupdate "$until" \
  -cert "$tmp/root.pem" -keyfile "$tmp/root.key" -out "$tmp/crl-future.pem" 2>/dev/null
openssl x509 -in "$tmp/root.pem" -outform DER -out "$out/root.der"
for n in good dupext kubad sigalg poltwice sanempty sanname sanbad sannone revoked; do cp "$tmp/$n.der" "$out/$n.der"; done
openssl crl -in "$tmp/crl.pem" -outform DER -out "$out/crl.der"
openssl crl -in "$tmp/crl-future.pem" -outform DER -out "$out/crl-future.der"
verdict() { # name crl.pem [more options]
  openssl x509 -inform DER -in "$out/$1.der" -out "$tmp/v.pem" 2>/dev/null || { echo "$1	unreadable"; return; }
  printf '%s%s\t%s\n' "$1" "${3:+ $3}" "$(openssl verify -x509_strict -crl_check_all ${3:-} -CAfile "$tmp/root.pem" \
    -CRLfile "$2" "$tmp/v.pem" 2>&1 | grep -o 'error [0-9]*.*\|OK$' | head -1)"
}
{
  for n in good dupext kubad sigalg poltwice sanempty sanname sanbad sannone; do verdict "$n" "$tmp/crl.pem"; done
  verdict poltwice "$tmp/crl.pem" -policy_check
  verdict revoked "$tmp/crl-future.pem"
} >"$out/verify.txt"
