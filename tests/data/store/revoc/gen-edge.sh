#!/usr/bin/env bash
# Makes the fixtures of the CRL edge cases with OpenSSL (outputs committed;
# signatures and dates are not reproducible):
#   edge-ca.der    a self-signed CA (P-256), CN=Revoc Edge CA
#   edge-user.der  an end entity of edge-ca, serial 0x10
#   CRLs of edge-ca by `openssl ca -gencrl`, nothing listed:
#     edge-idp-reasons.der  critical IDP with onlySomeReasons keyCompromise, CACompromise
#     edge-idp-plain.der    critical IDP with only a point name (fullname URI)
#   CRLs listing edge-user on hold (reasonCode certificateHold), written with
#   `openssl asn1parse -genconf` and signed by `openssl dgst -sign`, because
#   `openssl ca` writes no other entry extensions; certificateIssuer
#   (2.5.29.29) is the entry extension that stands beside them:
#     edge-hold-crit.der          + critical certificateIssuer
#     edge-hold-none-crit.der     + holdInstructionCode none + critical certificateIssuer
#     edge-hold-reject-crit.der   + holdInstructionCode reject + critical certificateIssuer
#     edge-hold-noncrit.der       + certificateIssuer, not critical
#     edge-hold-invalidity.der    + critical invalidityDate
# Each CRL is checked with `openssl crl -CAfile` before it is kept.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for k in ca user; do
  openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/$k.key" 2>/dev/null
done
cat > "$work/ext.cnf" <<'X'
[ee]
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
authorityKeyIdentifier=keyid
X
openssl req -new -x509 -key "$work/ca.key" -subj "/CN=Revoc Edge CA" -days 3650 -set_serial 1 \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
  -addext subjectKeyIdentifier=hash -out "$work/ca.pem"
openssl req -new -key "$work/user.key" -subj "/CN=Revoc Edge User" -out "$work/user.csr"
openssl x509 -req -in "$work/user.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -set_serial 0x10 \
  -days 3650 -extfile "$work/ext.cnf" -extensions ee -out "$work/user.pem" 2>/dev/null
openssl x509 -in "$work/ca.pem" -outform DER -out edge-ca.der
openssl x509 -in "$work/user.pem" -outform DER -out edge-user.der

keep() {  # crl.pem-or-der inform out
  openssl crl -inform "$2" -in "$1" -CAfile "$work/ca.pem" -noout 2>&1 | grep -q 'verify OK' ||
    { echo "$3: openssl does not verify it" >&2; return 1; }
  openssl crl -inform "$2" -in "$1" -outform DER -out "$3"
}

# The IDP CRLs.
d="$work/db"
mkdir -p "$d"
: > "$d/index.txt"
echo 01 > "$d/crlnumber"
cat > "$d/ca.cnf" <<X
[ca]
default_ca=d
[d]
database=$d/index.txt
crlnumber=$d/crlnumber
default_md=sha256
default_crl_days=30
[reasons]
authorityKeyIdentifier=keyid
issuingDistributionPoint=critical,@idpreasons
[idpreasons]
fullname=URI:http://crl.example/edge.crl
onlysomereasons=keyCompromise,CACompromise
[plain]
authorityKeyIdentifier=keyid
issuingDistributionPoint=critical,@idpplain
[idpplain]
fullname=URI:http://crl.example/edge.crl
X
for x in reasons plain; do
  openssl ca -gencrl -config "$d/ca.cnf" -keyfile "$work/ca.key" -cert "$work/ca.pem" \
    -crlexts "$x" -out "$work/idp-$x.pem" 2>"$work/err" || { cat "$work/err"; exit 1; }
  keep "$work/idp-$x.pem" PEM "edge-idp-$x.der"
done

# The hold CRLs: one TBSCertList per case, signed, then wrapped.
now=$(date -u +%y%m%d%H%M%SZ)
next=$(date -u -d '+30 days' +%y%m%d%H%M%SZ)
hold() {  # out extension-lines...
  local out=$1
  shift
  {
    cat <<X
[tbs]
version=INTEGER:1
signature=SEQUENCE:sigalg
issuer=SEQUENCE:issuer
thisUpdate=UTCTIME:$now
nextUpdate=UTCTIME:$next
revoked=SEQUENCE:revoked
crlExtensions=EXPLICIT:0,SEQUENCE:crlexts
[sigalg]
algorithm=OID:ecdsa-with-SHA256
[issuer]
rdn=SET:cnrdn
[cnrdn]
atv=SEQUENCE:cnatv
[cnatv]
type=OID:commonName
value=UTF8String:Revoc Edge CA
[crlexts]
number=SEQUENCE:crlnumber
[crlnumber]
id=OID:2.5.29.20
value=OCTWRAP,INTEGER:1
[revoked]
entry=SEQUENCE:entry
[entry]
serial=INTEGER:0x10
date=UTCTIME:$now
extensions=SEQUENCE:entryexts
[entryexts]
reason=SEQUENCE:reason
X
    local i=0
    for e in "$@"; do
      echo "ext$i=SEQUENCE:$e"
      i=$((i + 1))
    done
    cat <<X
[reason]
id=OID:2.5.29.21
value=OCTWRAP,ENUMERATED:6
[holdnone]
id=OID:2.5.29.23
value=OCTWRAP,OID:1.2.840.10040.2.1
[holdreject]
id=OID:2.5.29.23
value=OCTWRAP,OID:1.2.840.10040.2.3
[issuercrit]
id=OID:2.5.29.29
critical=BOOLEAN:TRUE
value=OCTWRAP,SEQUENCE:names
[issuernoncrit]
id=OID:2.5.29.29
value=OCTWRAP,SEQUENCE:names
[names]
name=EXPLICIT:4,SEQUENCE:issuer
[invaliditycrit]
id=OID:2.5.29.24
critical=BOOLEAN:TRUE
value=OCTWRAP,GENTIME:20240101000000Z
X
  } > "$work/sections.cnf"
  { echo "asn1=SEQUENCE:tbs"; cat "$work/sections.cnf"; } > "$work/tbs.cnf"
  openssl asn1parse -genconf "$work/tbs.cnf" -out "$work/tbs.der" -noout
  openssl dgst -sha256 -sign "$work/ca.key" -out "$work/sig.der" "$work/tbs.der"
  {
    echo "asn1=SEQUENCE:crl"
    echo "[crl]"
    echo "tbs=SEQUENCE:tbs"
    echo "algorithm=SEQUENCE:sigalg"
    echo "signature=FORMAT:HEX,BITSTRING:$(od -An -v -tx1 "$work/sig.der" | tr -d ' \n')"
    cat "$work/sections.cnf"
  } > "$work/crl.cnf"
  openssl asn1parse -genconf "$work/crl.cnf" -out "$work/crl.der" -noout
  keep "$work/crl.der" DER "$out"
}
hold edge-hold-crit.der issuercrit
hold edge-hold-none-crit.der holdnone issuercrit
hold edge-hold-reject-crit.der holdreject issuercrit
hold edge-hold-noncrit.der issuernoncrit
hold edge-hold-invalidity.der invaliditycrit
