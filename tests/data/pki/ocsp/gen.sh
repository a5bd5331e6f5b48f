#!/bin/sh
# Makes the OCSP fixtures with the openssl command line: a small CA, a
# responder certificate (RSA) and a second one (P-256), requests with and
# without nonce and signature, responses by name and by key hash, with and
# without certificates, for good, revoked and unknown certificates, and
# unsuccessful responses built with asn1parse -genconf.
# expect.tsv lists what openssl itself reports of each file:
#   file  kind  status  issuerNameHash  issuerKeyHash  serial
# Run from this folder; the outputs are committed (signatures and dates
# cannot be made again identically).
set -eu
cd "$(dirname "$0")"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT

cat > "$W/ext.cnf" <<'CNF'
[ca]
basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign,cRLSign
subjectKeyIdentifier=hash
[resp]
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=OCSPSigning
[leaf]
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
CNF

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$W/ca.key" -out ca.pem -days 3650 \
  -subj "/C=PL/O=Tal Test/CN=OCSP Test CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
sign() { # name subject ext serial keyopts
  openssl req -new -newkey "$5" -nodes -keyout "$W/$1.key" -out "$W/$1.csr" -subj "$2" 2>/dev/null
  openssl x509 -req -in "$W/$1.csr" -CA ca.pem -CAkey "$W/ca.key" -set_serial "$4" -days 3000 \
    -extfile "$W/ext.cnf" -extensions "$3" -out "$1.pem" 2>/dev/null
}
sign responder "/C=PL/O=Tal Test/CN=OCSP Responder" resp 0x2001 rsa:2048
openssl ecparam -name prime256v1 -out "$W/p256.par"
sign responder_ec "/C=PL/O=Tal Test/CN=OCSP Responder EC" resp 0x2002 "ec:$W/p256.par"
sign good "/C=PL/O=Tal Test/CN=Good Leaf" leaf 0x1001 rsa:2048
sign revoked "/C=PL/O=Tal Test/CN=Revoked Leaf" leaf 0x1002 rsa:2048
sign unknown "/C=PL/O=Tal Test/CN=Unknown Leaf" leaf 0x1003 rsa:2048
sign requestor "/C=PL/O=Tal Test/CN=Requestor" leaf 0x3001 rsa:2048

openssl x509 -in ca.pem -outform DER -out ca.der
openssl x509 -in responder.pem -outform DER -out responder.der
openssl x509 -in responder_ec.pem -outform DER -out responder_ec.der
openssl x509 -in responder.pem -pubkey -noout | openssl pkey -pubin -outform DER -out responder_pub.der
openssl x509 -in responder_ec.pem -pubkey -noout | openssl pkey -pubin -outform DER -out responder_ec_pub.der

# index: 1001 valid, 1002 revoked (keyCompromise), 1003 absent.
{
  printf 'V\t351231235959Z\t\t1001\tunknown\t/C=PL/O=Tal Test/CN=Good Leaf\n'
  printf 'R\t351231235959Z\t240115103000Z,keyCompromise\t1002\tunknown\t/C=PL/O=Tal Test/CN=Revoked Leaf\n'
} > "$W/index.txt"

q() { openssl ocsp -issuer ca.pem "$@" 2>/dev/null; }
q -cert good.pem -reqout req_nonce.der
q -cert good.pem -no_nonce -reqout req_nononce.der
q -cert good.pem -cert revoked.pem -cert unknown.pem -no_nonce -reqout req_multi.der
q -sha256 -cert revoked.pem -reqout req_sha256.der
q -cert good.pem -signer requestor.pem -signkey "$W/requestor.key" -reqout req_signed.der
q -cert good.pem -no_nonce -signer requestor.pem -signkey "$W/requestor.key" -no_certs -reqout req_signed_nocerts.der

r() { # out request [options]
  out=$1; req=$2; shift 2
  openssl ocsp -index "$W/index.txt" -CA ca.pem -reqin "$req" -respout "$out" -ndays 7 "$@" 2>/dev/null
}
r resp_good_name.der req_nonce.der -rsigner responder.pem -rkey "$W/responder.key"
r resp_good_key.der req_nononce.der -rsigner responder.pem -rkey "$W/responder.key" -resp_key_id
r resp_multi_nocerts.der req_multi.der -rsigner responder.pem -rkey "$W/responder.key" -resp_no_certs
r resp_revoked_key_nocerts.der req_sha256.der -rsigner responder.pem -rkey "$W/responder.key" -resp_key_id -resp_no_certs
r resp_multi_ec.der req_multi.der -rsigner responder_ec.pem -rkey "$W/responder_ec.key"
openssl ocsp -index "$W/index.txt" -CA ca.pem -reqin req_nononce.der -respout resp_nonextupdate.der \
  -rsigner responder.pem -rkey "$W/responder.key" 2>/dev/null

# Unsuccessful responses: OCSPResponse holding only responseStatus.
for s in 1:malformed 2:internalerror 3:trylater 5:sigrequired 6:unauthorized; do
  n=${s%%:*}; name=${s#*:}
  printf 'asn1=SEQUENCE:resp\n[resp]\nstatus=ENUMERATED:%s\n' "$n" > "$W/g.cnf"
  openssl asn1parse -genconf "$W/g.cnf" -out "resp_$name.der" -noout
done

# What openssl reads in each file.
{
  for f in req_*.der; do
    openssl ocsp -reqin "$f" -req_text 2>/dev/null | awk -v f="$f" '
      /Signature Algorithm:/ {done=1}
      /Issuer Name Hash:/ {n=$4} /Issuer Key Hash:/ {k=$4}
      /Serial Number:/ && !done {print f "\treq\t-\t" n "\t" k "\t" $3}'
  done
  for f in resp_*.der; do
    { openssl ocsp -respin "$f" -resp_text -noverify 2>&1 || true; } | awk -v f="$f" '
      /Responder Error:/ {st=$NF; gsub(/[()]/,"",st); print f "\tstatus\t" st "\t-\t-\t-"}
      /Issuer Name Hash:/ {n=$4} /Issuer Key Hash:/ {k=$4} /Serial Number:/ {s=$3}
      /Cert Status:/ {print f "\tresp\t" $3 "\t" n "\t" k "\t" s}'
  done
} > expect.tsv

# Request frames of the CA's message service (kind, time, body), built
# with asn1parse -genconf from the frame layout.
gen() { printf '%s\n' "$2" > "$W/g.cnf"; openssl asn1parse -genconf "$W/g.cnf" -out "$1" -noout; }
DN='[dn]
c=SET:c
o=SET:o
cn=SET:cn
[c]
a=SEQUENCE:ca
[ca]
t=OID:countryName
v=PRINTABLESTRING:PL
[o]
a=SEQUENCE:oa
[oa]
t=OID:organizationName
v=UTF8String:Tal Test
[cn]
a=SEQUENCE:cna
[cna]
t=OID:commonName
v=UTF8String:OCSP Test CA'
gen vessik_crlreq.der "asn1=SEQUENCE:f
[f]
k=INTEGER:1
t=UTCTIME:260115103000Z
b=SEQUENCE:body
[body]
issuer=SEQUENCE:dn
time=GENERALIZEDTIME:20260115103000Z
$DN"
gen vessik_crlreq_notime.der "asn1=SEQUENCE:f
[f]
k=INTEGER:1
t=GENERALIZEDTIME:20260115103000Z
b=SEQUENCE:body
[body]
issuer=SEQUENCE:dn
$DN"
gen vessik_crldone.der "asn1=SEQUENCE:f
[f]
k=INTEGER:5
t=UTCTIME:260115103000Z
b=NULL"
gen vessik_certreq_name.der "asn1=SEQUENCE:f
[f]
k=INTEGER:0
t=UTCTIME:260115103000Z
b=SEQUENCE:body
[body]
issuer=SEQUENCE:dn
id=IMPLICIT:0,UTF8String:Good Leaf
$DN"
# Type 2: the [2] element holds the content of (issuer, serial 0x1001).
gen "$W/certid.der" "asn1=SEQUENCE:id
[id]
issuer=SEQUENCE:dn
serial=INTEGER:0x1001
$DN"
# The content of the SEQUENCE: drop its two header octets.
IDHEX=$(od -An -tx1 -v "$W/certid.der" | tr -d ' \n' | cut -c5-)
gen vessik_certreq_serial.der "asn1=SEQUENCE:f
[f]
k=INTEGER:0
t=UTCTIME:260115103000Z
b=SEQUENCE:body
[body]
issuer=SEQUENCE:dn
id=IMPLICIT:2,FORMAT:HEX,OCTETSTRING:$IDHEX
$DN"
cp "$W/certid.der" vessik_certid.der
