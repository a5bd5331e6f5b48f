#!/usr/bin/env bash
# Makes the XML C API fixtures: a root CA and two signers (RSA 2048, EC P-256)
# made by openssl, and documents signed by xmlsec1 from the templates here:
#   objects.xml   one enveloping signature over two ds:Objects (Type Object):
#                 a text one and a text/xml one;
#   two.xml       two signatures, each over its own element (signed in turn);
#   two-bad.xml   two.xml with the second signature's element changed after signing;
#   mixed.xml     two.xml's template signed first by the RSA signer, then by a
#                 signer under another root;
#   ec.xml        one signature by the EC signer;
#   single.xml    one signature by the RSA signer; badvalue.xml is it with one
#                 octet of the SignatureValue changed;
#   foreign.xml   signed under another root (not installed by the tests);
#   keyusage.xml  signed by a certificate for key encipherment only;
#   xades.xml     XAdES-BES (SigningCertificate with CertDigest and IssuerSerial)
#                 by the RSA signer; xades-revoked.xml the same by a signer that
#                 root-crl.der (the root's CRL, valid 20 years) revokes;
#                 xades-changed.xml is xades.xml with the signed element changed;
#   encrypted.xml a signature over one element beside xenc:EncryptedData elements,
#                 one nested inside another (nothing is really encrypted).
# Hand-written: nosig.xml, unsupported.xml (a digest method nobody knows),
# counter-only.xml (the one signature sits in an XAdES
# 1.3.2 CounterSignature) and counter-other.xml (in a CounterSignature of
# another namespace, which does not hide it).
# Outputs are committed (signatures are not reproducible).
set -euo pipefail
DS=http://www.w3.org/2000/09/xmldsig#
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/root.key" -subj "/CN=TVXML Root/O=Fixtures" \
  -days 7300 -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
  -out "$work/root.pem" 2>/dev/null
openssl x509 -in "$work/root.pem" -outform DER -out root.der
openssl genrsa -out "$work/rsa.key" 2048 2>/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/other.key" -subj "/CN=TVXML Other Root/O=Fixtures" \
  -days 7300 -addext basicConstraints=critical,CA:TRUE -out "$work/other.pem" 2>/dev/null
openssl ecparam -name prime256v1 -genkey -noout -out "$work/ec.key"
openssl genrsa -out "$work/foreign.key" 2048 2>/dev/null
openssl genrsa -out "$work/keyenc.key" 2048 2>/dev/null
openssl genrsa -out "$work/revoked.key" 2048 2>/dev/null
for k in rsa ec foreign keyenc revoked; do
  ca=root usage=digitalSignature,nonRepudiation
  [ "$k" = foreign ] && ca=other
  [ "$k" = keyenc ] && usage=keyEncipherment
  openssl req -new -key "$work/$k.key" -subj "/CN=TVXML Signer $k/O=Fixtures" -out "$work/$k.csr"
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,%s\n' "$usage" > "$work/ext"
  openssl x509 -req -in "$work/$k.csr" -CA "$work/$ca.pem" -CAkey "$work/$ca.key" -CAcreateserial \
    -days 7300 -extfile "$work/ext" -out "$work/$k.pem" 2>/dev/null
done
sign() {  # key template output [node-id]
  local extra=()
  [ $# -ge 4 ] && extra=(--node-id "$4")
  xmlsec1 --sign --privkey-pem "$work/$1.key,$work/$1.pem" --id-attr:Id data --id-attr:Id Object --id-attr:Id "$DS:Signature" \
    "${extra[@]}" --output "$3" "$2"
}
verify() {  # file node-id
  xmlsec1 --verify --trusted-pem "$work/root.pem" --id-attr:Id data --id-attr:Id Object --id-attr:Id "$DS:Signature" \
    --node-id "$2" "$1" >/dev/null 2>&1
}
sign rsa objects.tmpl objects.xml
verify objects.xml sig
sign rsa two.tmpl "$work/one.xml" s1
sign rsa "$work/one.xml" two.xml s2
verify two.xml s1 && verify two.xml s2
sed 's|>zwei<|>drei<|' two.xml > two-bad.xml
sign foreign "$work/one.xml" mixed.xml s2
verify mixed.xml s1
verify two-bad.xml s1 && ! verify two-bad.xml s2
sign ec ec.tmpl ec.xml
verify ec.xml sig
sign rsa encrypted.tmpl encrypted.xml
verify encrypted.xml sig
sign rsa single.tmpl single.xml
verify single.xml sig
python3 - <<'PY'
text = open('single.xml').read()
at = text.index('<ds:SignatureValue>') + len('<ds:SignatureValue>') + 20
text = text[:at] + ('B' if text[at] != 'B' else 'C') + text[at + 1:]
open('badvalue.xml', 'w').write(text)
PY
! verify badvalue.xml sig
sign foreign single.tmpl foreign.xml
sign keyenc single.tmpl keyusage.xml
mkdir "$work/ca"
: > "$work/ca/index.txt"
echo 1000 > "$work/ca/crlnumber"
cat > "$work/ca/ca.cnf" <<CNF
[ca]
default_ca = c
[c]
database = $work/ca/index.txt
crlnumber = $work/ca/crlnumber
default_md = sha256
default_crl_days = 7300
CNF
ca=(-config "$work/ca/ca.cnf" -keyfile "$work/root.key" -cert "$work/root.pem")
openssl ca "${ca[@]}" -valid "$work/rsa.pem" 2>/dev/null
openssl ca "${ca[@]}" -revoke "$work/revoked.pem" 2>/dev/null
openssl ca "${ca[@]}" -gencrl -out "$work/crl.pem" 2>/dev/null
openssl crl -in "$work/crl.pem" -outform DER -out root-crl.der
xades() {  # key output
  local digest issuer serial
  digest=$(openssl x509 -in "$work/$1.pem" -outform DER | openssl dgst -sha256 -binary | base64)
  issuer=$(openssl x509 -in "$work/$1.pem" -noout -issuer -nameopt RFC2253 | sed 's/^issuer=//')
  serial=$(python3 -c "import sys; print(int(sys.argv[1], 16))" \
    "$(openssl x509 -in "$work/$1.pem" -noout -serial | sed 's/^serial=//')")
  sed -e "s|CERTDIGEST|$digest|" -e "s|ISSUER|$issuer|" -e "s|SERIAL|$serial|" xades.tmpl > "$work/x.xml"
  xmlsec1 --sign --privkey-pem "$work/$1.key,$work/$1.pem" --id-attr:Id data \
    --id-attr:Id SignedProperties --output "$2" "$work/x.xml"
  xmlsec1 --verify --trusted-pem "$work/root.pem" --id-attr:Id data --id-attr:Id SignedProperties \
    "$2" >/dev/null 2>&1
}
xades rsa xades.xml
xades revoked xades-revoked.xml
sed 's|>eins<|>zwei<|' xades.xml > xades-changed.xml
