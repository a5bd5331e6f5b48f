#!/bin/sh
# XAdES forms assembled by the npm packages xadesjs and xmldsigjs (forms.js)
# over the PKI of ../upo, their time-stamps made by `openssl ts -reply` with
# the TSA of ../upo. node/ holds package.json and package-lock.json; run
# `npm ci` there first (node_modules is not kept).
#
#   LAYOUT-t.xml            BES (xadesjs) + SignatureTimeStamp
#   LAYOUT-c.xml            + CompleteCertificateRefs, CompleteRevocationRefs
#   LAYOUT-xl.xml           + CertificateValues, RevocationValues
#   LAYOUT-a132.xml         + a 1.3.2 ArchiveTimeStamp over the 1.3.2 data
#   LAYOUT-a141.xml         + a 1.4.1 ArchiveTimeStamp over the 1.4.1 data
#   LAYOUT-a141-by-132.xml  + a 1.4.1 ArchiveTimeStamp over the 1.3.2 data
# LAYOUT "enveloped": the two rules cover the same data; "object": the signed
# ds:Object is in the 1.4.1 data only, so the last document's imprint is wrong.
set -eu
export TZ=UTC
cd "$(dirname "$0")"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT
PKI=$PWD/../upo/pki
CRL=$PWD/../upo/crl

cat > "$W/tsa.cnf" <<CNF
[tsa]
default_tsa = t
[t]
serial = $W/tsaserial
signer_cert = $PKI/tsa.pem
certs = $PKI/intermediate.pem
signer_key = $PKI/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256
ess_cert_id_alg = sha256
accuracy = secs:1
CNF
printf '5001\n' > "$W/tsaserial"

# The CRLs of the path: file, issuer, thisUpdate (xsd:dateTime).
crl() {
  issuer=$(openssl crl -inform DER -in "$CRL/$1" -noout -issuer -nameopt RFC2253 | sed 's/^issuer=//')
  when=$(date -u -d "$(openssl crl -inform DER -in "$CRL/$1" -noout -lastupdate | sed 's/^lastUpdate=//')" \
    +%Y-%m-%dT%H:%M:%SZ)
  printf '["%s","%s","%s"]' "$1" "$issuer" "$when"
}
printf '[%s,%s]\n' "$(crl intermediate-revoked.der)" "$(crl root.der)" > "$W/crls.json"

NODE_PATH="$PWD/node/node_modules" node forms.js "$PKI" "$CRL" "$W" .


# xmlsec1 checks the signature of each (references and value, the path to the root).
for f in *.xml; do
  xmlsec1 --verify --trusted-pem "$PKI/root.pem" --untrusted-pem "$PKI/intermediate.pem" \
    --id-attr:Id SignedProperties --id-attr:Id Object "$f" >/dev/null 2>&1 ||
    { echo "xmlsec1 refused $f" >&2; exit 1; }
done
