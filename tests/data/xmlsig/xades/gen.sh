#!/bin/sh
# XAdES fixtures made by other tools: a signer and a TSA under a small CA
# (openssl), an XAdES-BES document with every signed property the reader
# knows, signed by xmlsec1 (--id-attr:Id SignedProperties), and its XAdES-T
# form: `openssl ts` time-stamps the SHA-256 of the canonical
# ds:SignatureValue element (built here by the inclusive canonical rules:
# the element with the one namespace in scope, its text as signed) and the
# token goes base64 into an EncapsulatedTimeStamp, once with and once
# without a ds:CanonicalizationMethod. Run from this folder; the outputs are
# committed (signatures and times cannot be made again).
set -eu
cd "$(dirname "$0")"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$W/ca.key" -out ca.pem -days 3650 \
  -subj "/C=PL/O=Fixtures/CN=XAdES Test CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
cert() { # name subject serial extfile-lines
  openssl req -new -newkey rsa:2048 -nodes -keyout "$W/$1.key" -out "$W/$1.csr" -subj "$2" 2>/dev/null
  printf "$4" > "$W/$1.ext"
  openssl x509 -req -in "$W/$1.csr" -CA ca.pem -CAkey "$W/ca.key" -set_serial "$3" -days 3000 \
    -extfile "$W/$1.ext" -out "$1.pem" 2>/dev/null
  openssl x509 -in "$1.pem" -outform DER -out "$1.der"
}
cert signer "/C=PL/O=Fixtures/CN=XAdES Signer" 4660 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,nonRepudiation\n'
cert tsa "/C=PL/O=Fixtures/CN=XAdES TSA" 4661 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n'

digest=$(openssl dgst -sha256 -binary signer.der | base64)
issuer=$(openssl x509 -in signer.pem -noout -issuer -nameopt RFC2253 | sed 's/^issuer=//')
serial=$(openssl x509 -in signer.pem -noout -serial | sed 's/^serial=//')
serial=$(printf '%d' "0x$serial")
printf '%s\n' "$issuer" > signer.issuer
sed -e "s|CERTDIGEST|$digest|" -e "s|ISSUERNAME|$issuer|" -e "s|SERIAL|$serial|" bes.tmpl > "$W/bes.xml"
xmlsec1 --sign --privkey-pem "$W/signer.key,signer.pem" --id-attr:Id data \
  --id-attr:Id SignedProperties --output bes.xml "$W/bes.xml"
xmlsec1 --verify --trusted-pem ca.pem --id-attr:Id data --id-attr:Id SignedProperties bes.xml \
  >/dev/null 2>&1

# The canonical ds:SignatureValue element and its time-stamp.
python3 - bes.xml "$W/sv.c14n" <<'PY'
import sys, re
text = open(sys.argv[1], encoding='utf-8').read()
m = re.search(r'<ds:SignatureValue>(.*?)</ds:SignatureValue>', text, re.S)
value = m.group(1).replace('\r\n', '\n').replace('\r', '\n')
out = '<ds:SignatureValue xmlns:ds="http://www.w3.org/2000/09/xmldsig#">' + value + '</ds:SignatureValue>'
open(sys.argv[2], 'w', encoding='utf-8', newline='').write(out)
PY
cat > "$W/tsa.cnf" <<CNF
[tsa]
default_tsa = t
[t]
dir = $W
serial = $W/serial
signer_cert = $PWD/tsa.pem
certs = $PWD/ca.pem
signer_key = $W/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256
ess_cert_id_alg = sha256
CNF
printf '1001\n' > "$W/serial"
openssl ts -query -data "$W/sv.c14n" -sha256 -cert -out "$W/sv.tsq" 2>/dev/null
openssl ts -reply -config "$W/tsa.cnf" -queryfile "$W/sv.tsq" -token_out -out token.der 2>/dev/null
openssl ts -verify -data "$W/sv.c14n" -in token.der -token_in -CAfile ca.pem -untrusted tsa.pem \
  >/dev/null 2>&1
openssl dgst -sha256 -binary "$W/sv.c14n" > sigvalue.sha256
tok=$(base64 -w 76 token.der)
stamp() { # canonicalization element
  printf '<xades:SignatureTimeStamp Id="ts1">%s<xades:EncapsulatedTimeStamp>%s</xades:EncapsulatedTimeStamp></xades:SignatureTimeStamp>' "$1" "$tok"
}
python3 - bes.xml t.xml "$(stamp '')" <<'PY'
import sys
text = open(sys.argv[1], encoding='utf-8').read()
text = text.replace('<xades:UnsignedSignatureProperties/>',
  '<xades:UnsignedSignatureProperties>' + sys.argv[3] + '</xades:UnsignedSignatureProperties>')
open(sys.argv[2], 'w', encoding='utf-8', newline='').write(text)
PY
python3 - bes.xml t-c14n.xml "$(stamp '<ds:CanonicalizationMethod Algorithm="http://www.w3.org/TR/2001/REC-xml-c14n-20010315"/>')" <<'PY'
import sys
text = open(sys.argv[1], encoding='utf-8').read()
text = text.replace('<xades:UnsignedSignatureProperties/>',
  '<xades:UnsignedSignatureProperties>' + sys.argv[3] + '</xades:UnsignedSignatureProperties>')
open(sys.argv[2], 'w', encoding='utf-8', newline='').write(text)
PY
# The unsigned properties are outside the signature: it still verifies.
xmlsec1 --verify --trusted-pem ca.pem --id-attr:Id data --id-attr:Id SignedProperties t.xml >/dev/null 2>&1

# ---------------------------------------------------------------- validation data
# An OCSP responder and a throwaway certificate under the same CA; openssl's
# CA database marks the signer valid and the throwaway revoked; `openssl ca`
# issues the CRL, `openssl ocsp` answers a request for the signer from that
# index (by name and by key hash; no network), and asn1parse makes an
# unsuccessful response (unauthorized, no bytes).
cert ocsp "/C=PL/O=Fixtures/CN=XAdES OCSP" 4662 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,OCSPSigning\n'
cert revoked "/C=PL/O=Fixtures/CN=XAdES Revoked" 4663 'basicConstraints=CA:FALSE\n'
mv revoked.pem "$W/revoked.pem"
rm revoked.der
cat > "$W/ca.cnf" <<CNF
[ca]
default_ca = c
[c]
database = $W/index.txt
crlnumber = $W/crlnumber
default_md = sha256
default_crl_days = 30
CNF
: > "$W/index.txt"
printf '1A\n' > "$W/crlnumber"
openssl ca -config "$W/ca.cnf" -cert ca.pem -keyfile "$W/ca.key" -valid signer.pem 2>/dev/null
openssl ca -config "$W/ca.cnf" -cert ca.pem -keyfile "$W/ca.key" -revoke "$W/revoked.pem" 2>/dev/null
openssl ca -config "$W/ca.cnf" -cert ca.pem -keyfile "$W/ca.key" -gencrl -out "$W/crl.pem" 2>/dev/null
openssl crl -in "$W/crl.pem" -outform DER -out crl.der
openssl ocsp -issuer ca.pem -cert signer.pem -no_nonce -reqout "$W/req.der" 2>/dev/null
openssl ocsp -index "$W/index.txt" -CA ca.pem -rsigner ocsp.pem -rkey "$W/ocsp.key" -reqin "$W/req.der" \
  -ndays 7 -respout ocsp-name.der 2>/dev/null
openssl ocsp -index "$W/index.txt" -CA ca.pem -rsigner ocsp.pem -rkey "$W/ocsp.key" -reqin "$W/req.der" \
  -ndays 7 -resp_key_id -respout ocsp-key.der 2>/dev/null
for r in ocsp-name ocsp-key; do
  openssl ocsp -respin $r.der -CAfile ca.pem -issuer ca.pem -cert signer.pem >/dev/null 2>&1
done
python3 xades_extend.py basic ocsp-key.der ocsp-key.basic
printf 'asn1=SEQUENCE:r\n[r]\nstatus=ENUMERATED:6\n' > "$W/unauth.cnf"
openssl asn1parse -genconf "$W/unauth.cnf" -out ocsp-unauth.der >/dev/null

# The references and values of the C and X-L forms.
b64() { base64 -w 76 "$1"; }
sha() { openssl dgst -sha256 -binary "$1" | base64 -w 0; }
dsdigest() { printf '<xades:DigestAlgAndValue><ds:DigestMethod Algorithm="http://www.w3.org/2001/04/xmlenc#sha256"></ds:DigestMethod><ds:DigestValue>%s</ds:DigestValue></xades:DigestAlgAndValue>' "$(sha "$1")"; }
dtime() { python3 -c 'import sys,datetime; print(datetime.datetime.strptime(" ".join(sys.argv[1:]), "%b %d %H:%M:%S %Y GMT").strftime("%Y-%m-%dT%H:%M:%SZ"))' $1; }
certref() { # pem
  i=$(openssl x509 -in "$1" -noout -issuer -nameopt RFC2253 | sed 's/^issuer=//')
  s=$(openssl x509 -in "$1" -noout -serial | sed 's/^serial=//')
  openssl x509 -in "$1" -outform DER -out "$W/ref.der"
  printf '<xades:Cert><xades:CertDigest><ds:DigestMethod Algorithm="http://www.w3.org/2001/04/xmlenc#sha256"></ds:DigestMethod><ds:DigestValue>%s</ds:DigestValue></xades:CertDigest><xades:IssuerSerial><ds:X509IssuerName>%s</ds:X509IssuerName><ds:X509SerialNumber>%s</ds:X509SerialNumber></xades:IssuerSerial></xades:Cert>' \
    "$(sha "$W/ref.der")" "$i" "$(python3 -c "print(int('$s', 16))")"
}
crl_issuer=$(openssl crl -in crl.der -inform DER -noout -issuer -nameopt RFC2253 | sed 's/^issuer=//')
crl_time=$(dtime "$(openssl crl -in crl.der -inform DER -noout -lastupdate | sed 's/^lastUpdate=//')")
crl_number=$(python3 -c "print(int('$(openssl crl -in crl.der -inform DER -noout -crlnumber | sed 's/^crlNumber=//')', 16))")
produced() { dtime "$(openssl ocsp -respin "$1" -resp_text -noverify 2>/dev/null | sed -n 's/^ *Produced At: //p')"; }
responder=$(openssl x509 -in ocsp.pem -noout -subject -nameopt RFC2253 | sed 's/^subject=//')
keyhash=$(openssl ocsp -respin ocsp-key.der -resp_text -noverify 2>/dev/null | sed -n 's/^ *Responder Id: //p' |
  python3 -c 'import sys,base64; print(base64.b64encode(bytes.fromhex(sys.stdin.read().strip())).decode())')
P="$W/props"
mkdir -p "$P"
stamp '' > "$P/1-sts"
{ printf '<xades:CompleteCertificateRefs><xades:CertRefs>'; certref signer.pem; certref ca.pem; certref ocsp.pem
  printf '</xades:CertRefs></xades:CompleteCertificateRefs>'; } > "$P/2-ccr"
{ printf '<xades:CompleteRevocationRefs><xades:CRLRefs><xades:CRLRef>%s<xades:CRLIdentifier><xades:Issuer>%s</xades:Issuer><xades:IssueTime>%s</xades:IssueTime><xades:Number>%s</xades:Number></xades:CRLIdentifier></xades:CRLRef></xades:CRLRefs>' \
    "$(dsdigest crl.der)" "$crl_issuer" "$crl_time" "$crl_number"
  printf '<xades:OCSPRefs><xades:OCSPRef><xades:OCSPIdentifier><xades:ResponderID><xades:ByName>%s</xades:ByName></xades:ResponderID><xades:ProducedAt>%s</xades:ProducedAt></xades:OCSPIdentifier>%s</xades:OCSPRef>' \
    "$responder" "$(produced ocsp-name.der)" "$(dsdigest ocsp-name.der)"
  printf '<xades:OCSPRef><xades:OCSPIdentifier><xades:ResponderID><xades:ByKey>%s</xades:ByKey></xades:ResponderID><xades:ProducedAt>%s</xades:ProducedAt></xades:OCSPIdentifier></xades:OCSPRef></xades:OCSPRefs></xades:CompleteRevocationRefs>' \
    "$keyhash" "$(produced ocsp-key.der)"; } > "$P/3-crr"
printf '<xades:CertificateValues><xades:EncapsulatedX509Certificate>%s</xades:EncapsulatedX509Certificate><xades:EncapsulatedX509Certificate>%s</xades:EncapsulatedX509Certificate></xades:CertificateValues>' \
  "$(openssl x509 -in ca.pem -outform DER | base64 -w 76)" "$(openssl x509 -in ocsp.pem -outform DER | base64 -w 76)" > "$P/4-cv"
printf '<xades:RevocationValues><xades:CRLValues><xades:EncapsulatedCRLValue>%s</xades:EncapsulatedCRLValue></xades:CRLValues><xades:OCSPValues><xades:EncapsulatedOCSPValue>%s</xades:EncapsulatedOCSPValue><xades:EncapsulatedOCSPValue>%s</xades:EncapsulatedOCSPValue><xades:EncapsulatedOCSPValue>%s</xades:EncapsulatedOCSPValue></xades:OCSPValues></xades:RevocationValues>' \
  "$(b64 crl.der)" "$(b64 ocsp-name.der)" "$(b64 ocsp-key.basic)" "$(b64 ocsp-unauth.der)" > "$P/5-rv"
cat "$P"/1-sts "$P"/2-ccr "$P"/3-crr "$P"/4-cv "$P"/5-rv > "$W/xl.props"
python3 xades_extend.py insert bes.xml xl.xml "$W/xl.props"
xmlsec1 --verify --trusted-pem ca.pem --id-attr:Id data --id-attr:Id SignedProperties xl.xml >/dev/null 2>&1

# ---------------------------------------------------------------- archive time-stamps
# Two archive time-stamps over the X-L document: a 1.3.2 one, then (a second
# later) a 1.4.1 one that covers the first. Each imprint is the SHA-256 of
# the referenced data and canonical SignedInfo that xmlsec1 digested and
# signed, then the canonical SignatureValue, KeyInfo, unsigned properties and
# earlier archive time-stamps (xmllint --c14n), stamped by `openssl ts`.
tsa_token() { # data-file token-out
  openssl ts -query -data "$1" -sha256 -cert -out "$W/q.tsq" 2>/dev/null
  openssl ts -reply -config "$W/tsa.cnf" -queryfile "$W/q.tsq" -token_out -out "$2" 2>/dev/null
  openssl ts -verify -data "$1" -in "$2" -token_in -CAfile ca.pem -untrusted tsa.pem >/dev/null 2>&1
}
debug() {
  xmlsec1 --verify --trusted-pem ca.pem --id-attr:Id data --id-attr:Id SignedProperties \
    --store-references --store-signatures --print-debug "$1" > "$W/dbg" 2>&1
}
cp xl.xml a.xml
debug a.xml
python3 xades_extend.py archive a.xml "$W/dbg" "$W/ats1.data" "$P"/1-sts "$P"/2-ccr "$P"/3-crr "$P"/4-cv "$P"/5-rv
tsa_token "$W/ats1.data" ats1.der
printf '<xades:ArchiveTimeStamp Id="ats1"><xades:EncapsulatedTimeStamp>%s</xades:EncapsulatedTimeStamp></xades:ArchiveTimeStamp>' \
  "$(b64 ats1.der)" > "$P/6-ats1"
python3 xades_extend.py append a.xml "$P/6-ats1"
openssl dgst -sha256 -binary "$W/ats1.data" > ats1.sha256
sleep 1
debug a.xml
python3 xades_extend.py archive a.xml "$W/dbg" "$W/ats2.data" "$P"/1-sts "$P"/2-ccr "$P"/3-crr "$P"/4-cv "$P"/5-rv "$P"/6-ats1
tsa_token "$W/ats2.data" ats2.der
printf '<v141:ArchiveTimeStamp xmlns:v141="http://uri.etsi.org/01903/v1.4.1#" Id="ats2"><xades:EncapsulatedTimeStamp>%s</xades:EncapsulatedTimeStamp></v141:ArchiveTimeStamp>' \
  "$(b64 ats2.der)" > "$P/7-ats2"
python3 xades_extend.py append a.xml "$P/7-ats2"
openssl dgst -sha256 -binary "$W/ats2.data" > ats2.sha256
xmlsec1 --verify --trusted-pem ca.pem --id-attr:Id data --id-attr:Id SignedProperties a.xml >/dev/null 2>&1

# ---------------------------------------------------------------- the 1.1.1 form
# The same signer in the XAdES 1.1.1 namespace, and its signature time-stamp
# listing the ds:SignatureValue by Id (HashDataInfo with a C14N transform).
sed -e "s|CERTDIGEST|$digest|" -e "s|ISSUERNAME|$issuer|" -e "s|SERIAL|$serial|" v111.tmpl > "$W/v111.xml"
xmlsec1 --sign --privkey-pem "$W/signer.key,signer.pem" --id-attr:Id data \
  --id-attr:Id SignedProperties --output "$W/v111-bes.xml" "$W/v111.xml"
python3 xades_extend.py sigvalue "$W/v111-bes.xml" "$W/sv111.c14n"
tsa_token "$W/sv111.c14n" "$W/v111.tok"
openssl dgst -sha256 -binary "$W/sv111.c14n" > v111-sigvalue.sha256
printf '<xades:SignatureTimeStamp><xades:HashDataInfo URI="#sv"><ds:Transforms><ds:Transform Algorithm="http://www.w3.org/TR/2001/REC-xml-c14n-20010315"/></ds:Transforms></xades:HashDataInfo><xades:EncapsulatedTimeStamp>%s</xades:EncapsulatedTimeStamp></xades:SignatureTimeStamp>' \
  "$(b64 "$W/v111.tok")" > "$P/v111"
python3 xades_extend.py insert "$W/v111-bes.xml" v111.xml "$P/v111"
xmlsec1 --verify --trusted-pem ca.pem --id-attr:Id data --id-attr:Id SignedProperties v111.xml >/dev/null 2>&1

# ---------------------------------------------------------------- xadesjs
# With XADESJS naming a folder where `npm install xadesjs @peculiar/webcrypto
# @xmldom/xmldom xpath` was run (never committed): the signer's XAdES-BES made
# by xadesjs (gen_xadesjs.js), and its XAdES-T form stamped as above.
if [ -n "${XADESJS:-}" ]; then
  openssl pkcs8 -topk8 -nocrypt -in "$W/signer.key" -outform DER -out "$W/signer.p8"
  NODE_PATH="$XADESJS/node_modules" node gen_xadesjs.js "$W/signer.p8" signer.der npm-bes.xml
  xmlsec1 --verify --trusted-pem ca.pem --id-attr:Id SignedProperties npm-bes.xml >/dev/null 2>&1
  python3 xades_extend.py sigvalue npm-bes.xml "$W/npm-sv.c14n"
  tsa_token "$W/npm-sv.c14n" "$W/npm.tok"
  openssl dgst -sha256 -binary "$W/npm-sv.c14n" > npm-sigvalue.sha256
  printf '<xades:UnsignedProperties><xades:UnsignedSignatureProperties><xades:SignatureTimeStamp><xades:EncapsulatedTimeStamp>%s</xades:EncapsulatedTimeStamp></xades:SignatureTimeStamp></xades:UnsignedSignatureProperties></xades:UnsignedProperties></xades:QualifyingProperties>' \
    "$(b64 "$W/npm.tok")" > "$W/npm.props"
  python3 - npm-bes.xml npm-t.xml "$W/npm.props" <<'PY'
import sys
text = open(sys.argv[1], encoding='utf-8').read()
text = text.replace('</xades:QualifyingProperties>', open(sys.argv[3], encoding='utf-8').read(), 1)
open(sys.argv[2], 'w', encoding='utf-8', newline='').write(text)
PY
  xmlsec1 --verify --trusted-pem ca.pem --id-attr:Id SignedProperties npm-t.xml >/dev/null 2>&1
fi
