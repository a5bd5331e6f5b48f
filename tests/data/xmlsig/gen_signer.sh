#!/usr/bin/env bash
# Signer-choice fixtures (signer/), made by openssl and signed by xmlsec1:
#   ca.pem, ca.der           a root CA
#   signer.der               an end certificate under it (serial 4660)
#   casigner.der             a CA certificate under it that signs (serial 4661)
#   other.pem                an unrelated self-signed CA
#   v2.xml                   XAdES whose SigningCertificateV2 holds CertDigest and
#                            IssuerSerialV2 (base64 DER IssuerSerial of RFC 5035)
#   v2-digest.xml            the same property with CertDigest only
#   v2-other-serial.xml      IssuerSerialV2 naming serial 4662: no KeyInfo certificate matches
#   caonly.xml               XML-DSig by casigner, KeyInfo casigner and the root (both CA)
#   caonly-twins.xml         XML-DSig by casigner, KeyInfo casigner and other.pem (neither
#                            issued the other)
# Outputs are committed (signatures are not reproducible).
set -euo pipefail
cd "$(dirname "$0")/signer"
w=$(mktemp -d)
trap 'rm -rf "$w"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$w/ca.key" -subj "/C=PL/O=Fixtures/CN=Signer Root" \
  -days 7300 -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
  -out ca.pem 2>/dev/null
openssl x509 -in ca.pem -outform DER -out ca.der
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$w/other.key" -subj "/C=PL/O=Fixtures/CN=Other Root" \
  -days 7300 -addext basicConstraints=critical,CA:TRUE -out other.pem 2>/dev/null
cert() { # name subject serial extensions
  openssl req -new -newkey rsa:2048 -nodes -keyout "$w/$1.key" -subj "$2" -out "$w/$1.csr" 2>/dev/null
  printf "$4" >"$w/$1.ext"
  openssl x509 -req -in "$w/$1.csr" -CA ca.pem -CAkey "$w/ca.key" -set_serial "$3" -days 7300 \
    -extfile "$w/$1.ext" -out "$w/$1.pem" 2>/dev/null
  openssl x509 -in "$w/$1.pem" -outform DER -out "$1.der"
}
cert signer "/C=PL/O=Fixtures/CN=Signer" 4660 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,nonRepudiation\n'
cert casigner "/C=PL/O=Fixtures/CN=CA Signer" 4661 'basicConstraints=critical,CA:TRUE\nkeyUsage=critical,digitalSignature,nonRepudiation,keyCertSign\n'
# CertDigest and IssuerSerialV2 of signer.der (the latter with a given serial).
v2() { # serial
  python3 - signer.der "$1" <<'PY'
import base64, hashlib, sys
der = open(sys.argv[1], 'rb').read()
def tlv(b, i):
    n = b[i + 1]; j = i + 2
    if n & 0x80:
        k = n & 0x7f; n = int.from_bytes(b[j:j + k], 'big'); j += k
    return j, j + n
def hdr(tag, c):
    n = len(c)
    if n < 0x80: return bytes([tag, n]) + c
    l = n.to_bytes((n.bit_length() + 7) // 8, 'big')
    return bytes([tag, 0x80 | len(l)]) + l + c
s, _ = tlv(der, 0); ts, _ = tlv(der, s)
i = ts
for _ in range(3): i = tlv(der, i)[1]          # version, serial, signature
_, e = tlv(der, i); issuer = der[i:e]
serial = int(sys.argv[2]); sb = serial.to_bytes((serial.bit_length() + 8) // 8, 'big')
value = hdr(0x30, hdr(0x30, hdr(0xA4, issuer)) + hdr(0x02, sb))
print(base64.b64encode(hashlib.sha256(der).digest()).decode(), base64.b64encode(value).decode())
PY
}
xades() { # out issuerSerialV2-element
  read -r digest _ < <(v2 4660)
  cat >"$w/t.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<doc><data Id="data">receipt</data><ds:Signature xmlns:ds="http://www.w3.org/2000/09/xmldsig#" Id="sig"><ds:SignedInfo><ds:CanonicalizationMethod Algorithm="http://www.w3.org/TR/2001/REC-xml-c14n-20010315"/><ds:SignatureMethod Algorithm="http://www.w3.org/2001/04/xmldsig-more#rsa-sha256"/><ds:Reference URI="#data"><ds:DigestMethod Algorithm="http://www.w3.org/2001/04/xmlenc#sha256"/><ds:DigestValue/></ds:Reference><ds:Reference URI="#sp" Type="http://uri.etsi.org/01903#SignedProperties"><ds:Transforms><ds:Transform Algorithm="http://www.w3.org/TR/2001/REC-xml-c14n-20010315"/></ds:Transforms><ds:DigestMethod Algorithm="http://www.w3.org/2001/04/xmlenc#sha256"/><ds:DigestValue/></ds:Reference></ds:SignedInfo><ds:SignatureValue/><ds:KeyInfo><ds:X509Data/></ds:KeyInfo><ds:Object><xades:QualifyingProperties xmlns:xades="http://uri.etsi.org/01903/v1.3.2#" Target="#sig"><xades:SignedProperties Id="sp"><xades:SignedSignatureProperties><xades:SigningTime>2024-05-01T10:00:00Z</xades:SigningTime><xades:SigningCertificateV2><xades:Cert><xades:CertDigest><ds:DigestMethod Algorithm="http://www.w3.org/2001/04/xmlenc#sha256"/><ds:DigestValue>$digest</ds:DigestValue></xades:CertDigest>$2</xades:Cert></xades:SigningCertificateV2></xades:SignedSignatureProperties></xades:SignedProperties></xades:QualifyingProperties></ds:Object></ds:Signature></doc>
XML
  xmlsec1 --sign --privkey-pem "$w/signer.key,$w/signer.pem,ca.pem" --id-attr:Id data \
    --id-attr:Id SignedProperties --output "$1" "$w/t.xml"
  xmlsec1 --verify --trusted-pem ca.pem --id-attr:Id data --id-attr:Id SignedProperties "$1" >/dev/null 2>&1
}
read -r _ good < <(v2 4660)
read -r _ other < <(v2 4662)
xades v2.xml "<xades:IssuerSerialV2>$good</xades:IssuerSerialV2>"
xades v2-digest.xml ""
xades v2-other-serial.xml "<xades:IssuerSerialV2>$other</xades:IssuerSerialV2>"
dsig() { # out extra-certificate
  cat >"$w/d.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<doc><data Id="data">receipt</data><ds:Signature xmlns:ds="http://www.w3.org/2000/09/xmldsig#" Id="sig"><ds:SignedInfo><ds:CanonicalizationMethod Algorithm="http://www.w3.org/TR/2001/REC-xml-c14n-20010315"/><ds:SignatureMethod Algorithm="http://www.w3.org/2001/04/xmldsig-more#rsa-sha256"/><ds:Reference URI="#data"><ds:DigestMethod Algorithm="http://www.w3.org/2001/04/xmlenc#sha256"/><ds:DigestValue/></ds:Reference></ds:SignedInfo><ds:SignatureValue/><ds:KeyInfo><ds:X509Data/></ds:KeyInfo></ds:Signature></doc>
XML
  xmlsec1 --sign --privkey-pem "$w/casigner.key,$w/casigner.pem,$2" --id-attr:Id data --output "$1" "$w/d.xml"
}
dsig caonly.xml ca.pem
dsig caonly-twins.xml other.pem
xmlsec1 --verify --trusted-pem ca.pem --id-attr:Id data caonly.xml >/dev/null 2>&1
