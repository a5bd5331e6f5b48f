#!/usr/bin/env bash
# Makes the XML decryption fixtures with openssl and xmlsec1 --encrypt:
#   root.der, root-crl.der       a root CA and its CRL (nobody revoked); alice and bob are
#                                recipients under it (RSA 2048, keyEncipherment), signer signs
#   alice.p12, bob.p12           their keys and certificates (openssl pkcs12 -export -legacy,
#                                password in PIN below)
#   plain.xml                    the document before encryption
#   aes128.xml aes192.xml aes256.xml tdes.xml
#                                its <data> element encrypted for alice (rsa-1_5), the
#                                EncryptedKey naming her by X509IssuerSerial
#   cert.xml                     ... by X509Certificate (aes128)
#   subject-cert.xml             ... by X509SubjectName and X509Certificate
#   subject.xml                  ... by X509SubjectName only (nothing to match)
#   content.xml                  the content of <data> encrypted (Type Content)
#   two.xml                      two EncryptedKeys, bob's first, then alice's
#   bob.xml                      for bob only
#   oaep.xml                     alice's key transported with rsa-oaep-mgf1p
#   badpad.xml                   aes128.xml with the last plaintext octet (the padding
#                                length) made more than a block by a changed IV/cipher octet
#   badxml.xml                   aes128.xml with the first IV octet changed: good padding, a
#                                plaintext that is no XML
#   badblock.xml                 aes128.xml with one octet of the encrypted key changed
#   wrongkey.xml                 encrypted for bob but naming alice's issuer and serial
#   signed.xml                   plain.xml signed by signer over #d1 (xmlsec1 --sign)
#   signed-enc.xml               signed.xml with the signed <data> element encrypted for alice
#   latin2.xml                   a document declared ISO-8859-2 whose element was encrypted
#                                (the plaintext is UTF-8, as xmlsec1 writes it)
#   alice.der, bob.der           the recipients' certificates
# Every good document is checked by xmlsec1 --decrypt with alice's key, every bad one
# refused. Outputs are committed (encryption is not reproducible).
set -euo pipefail
cd "$(dirname "$0")"
PIN=xenc-pin
XENC=http://www.w3.org/2001/04/xmlenc#
DS=http://www.w3.org/2000/09/xmldsig#
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/root.key" -subj "/CN=XENC Root/O=Fixtures" \
  -days 7300 -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
  -out "$work/root.pem" 2>/dev/null
openssl x509 -in "$work/root.pem" -outform DER -out root.der
for who in alice bob signer; do
  usage=keyEncipherment
  [ "$who" = signer ] && usage=digitalSignature,nonRepudiation
  openssl req -new -newkey rsa:2048 -nodes -keyout "$work/$who.key" -subj "/CN=XENC ${who^}/O=Fixtures" \
    -out "$work/$who.csr" 2>/dev/null
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,%s\n' "$usage" > "$work/ext"
  openssl x509 -req -in "$work/$who.csr" -CA "$work/root.pem" -CAkey "$work/root.key" -CAcreateserial \
    -days 7300 -extfile "$work/ext" -out "$work/$who.pem" 2>/dev/null
done
for who in alice bob; do
  openssl x509 -in "$work/$who.pem" -outform DER -out "$who.der"
  openssl pkcs12 -export -legacy -inkey "$work/$who.key" -in "$work/$who.pem" -name "$who" \
    -passout "pass:$PIN" -out "$who.p12"
done

printf '<?xml version="1.0" encoding="UTF-8"?>\n<doc><head>Nagłówek</head><data Id="d1">Zażółć <b>gęślą</b> jaźń<i/></data><tail>koniec</tail></doc>\n' > plain.xml

# key: the EncryptedKey for NAME with the X509Data children given
key() {  # name method x509children
  printf '<xenc:EncryptedKey><xenc:EncryptionMethod Algorithm="%s"/><ds:KeyInfo><ds:KeyName>%s</ds:KeyName><ds:X509Data>%s</ds:X509Data></ds:KeyInfo><xenc:CipherData><xenc:CipherValue/></xenc:CipherData></xenc:EncryptedKey>' \
    "$2" "$1" "$3"
}
template() {  # type cipher keys...
  local type=$1 cipher=$2
  shift 2
  printf '<xenc:EncryptedData xmlns:xenc="%s" Type="%s%s"><xenc:EncryptionMethod Algorithm="%s%s"/><ds:KeyInfo xmlns:ds="%s">%s</ds:KeyInfo><xenc:CipherData><xenc:CipherValue/></xenc:CipherData></xenc:EncryptedData>' \
    "$XENC" "$XENC" "$type" "$XENC" "$cipher" "$DS" "$*" > "$work/tmpl.xml"
}
encrypt() {  # input output session-key keys-args...
  local in=$1 out=$2 session=$3
  shift 3
  xmlsec1 --encrypt "$@" --session-key "$session" --xml-data "$in" --id-attr:Id data --node-id d1 \
    --output "$out" "$work/tmpl.xml"
}
decrypts() {  # file: alice's key decrypts it
  xmlsec1 --decrypt --privkey-pem "$work/alice.key" --output "$work/dec.xml" "$1" 2>/dev/null
}
# Checks that stop the script (set -e does not see a failure inside && or after !).
gives() {  # file expected: alice's key decrypts file into expected
  decrypts "$1" || { echo "$1 does not decrypt" >&2; exit 1; }
  cmp -s "$work/dec.xml" "$2" || { echo "$1 decrypts to something else" >&2; exit 1; }
}
refused() {  # file
  if decrypts "$1"; then echo "$1 decrypts" >&2; exit 1; fi
}
ALICE=(--pubkey-cert-pem:alice "$work/alice.pem")
BOB=(--pubkey-cert-pem:bob "$work/bob.pem")
RSA15=${XENC}rsa-1_5
IS='<ds:X509IssuerSerial/>'

for c in aes128:aes-128 aes192:aes-192 aes256:aes-256 tripledes:des-192; do
  name=${c%%:*}
  template Element "$name-cbc" "$(key alice "$RSA15" "$IS")"
  out=$name.xml
  [ "$name" = tripledes ] && out=tdes.xml
  encrypt plain.xml "$out" "${c#*:}" "${ALICE[@]}"
  gives "$out" plain.xml
done
template Element aes128-cbc "$(key alice "$RSA15" '<ds:X509Certificate/>')"
encrypt plain.xml cert.xml aes-128 "${ALICE[@]}"
# (xmlsec1 fills one child of each X509Data: the two go into two of them.)
template Element aes128-cbc "$(key alice "$RSA15" '<ds:X509SubjectName/></ds:X509Data><ds:X509Data><ds:X509Certificate/>')"
encrypt plain.xml subject-cert.xml aes-128 "${ALICE[@]}"
template Element aes128-cbc "$(key alice "$RSA15" '<ds:X509SubjectName/>')"
encrypt plain.xml subject.xml aes-128 "${ALICE[@]}"
template Content aes256-cbc "$(key alice "$RSA15" "$IS")"
encrypt plain.xml content.xml aes-256 "${ALICE[@]}"
template Element aes128-cbc "$(key bob "$RSA15" "$IS")$(key alice "$RSA15" "$IS")"
encrypt plain.xml two.xml aes-128 "${BOB[@]}" "${ALICE[@]}"
template Element aes128-cbc "$(key bob "$RSA15" "$IS")"
encrypt plain.xml bob.xml aes-128 "${BOB[@]}"
template Element aes128-cbc "$(key alice "${XENC}rsa-oaep-mgf1p" "$IS")"
encrypt plain.xml oaep.xml aes-128 "${ALICE[@]}"
for f in cert subject-cert subject content two oaep; do
  gives $f.xml plain.xml
done
refused bob.xml

# The damaged ones, from aes128.xml and bob.xml.
python3 - "$work" <<'PY'
import base64, re, subprocess, sys
work = sys.argv[1]
text = open('aes128.xml').read()
values = list(re.finditer(r'<xenc:CipherValue>([^<]*)</xenc:CipherValue>', text))
def replaced(match, data):
    b64 = base64.encodebytes(data).decode().strip()
    return text[:match.start(1)] + b64 + text[match.end(1):]
# The last octet of the block before the last one: it is XORed into the last
# plaintext octet, the padding length, which becomes more than any block.
content = bytearray(base64.b64decode(values[1].group(1)))
content[-17] ^= 0x80
open('badpad.xml', 'w').write(replaced(values[1], bytes(content)))
# The first octet of the IV: the padding stays good, the plaintext starts with
# an octet no UTF-8 text starts with.
garbled = bytearray(base64.b64decode(values[1].group(1)))
garbled[0] ^= 0x80
open('badxml.xml', 'w').write(replaced(values[1], bytes(garbled)))
wrapped = bytearray(base64.b64decode(values[0].group(1)))
wrapped[100] ^= 0x01
open('badblock.xml', 'w').write(replaced(values[0], bytes(wrapped)))
bob = open('bob.xml').read()
alice_serial = re.search(r'<ds:X509SerialNumber>(\d+)<', text).group(1)
bob = re.sub(r'(<ds:X509SerialNumber>)\d+(<)', r'\g<1>' + alice_serial + r'\2', bob)
bob = bob.replace('<ds:KeyName>bob<', '<ds:KeyName>alice<')
open('wrongkey.xml', 'w').write(bob)
PY
for f in badpad badxml badblock wrongkey; do refused $f.xml; done

# A signed document whose signed element is then encrypted.
printf '<?xml version="1.0" encoding="UTF-8"?>\n<doc><head>Nagłówek</head><data Id="d1">Zażółć <b>gęślą</b> jaźń<i/></data><tail>koniec</tail><ds:Signature xmlns:ds="%s"><ds:SignedInfo><ds:CanonicalizationMethod Algorithm="http://www.w3.org/TR/2001/REC-xml-c14n-20010315"/><ds:SignatureMethod Algorithm="http://www.w3.org/2001/04/xmldsig-more#rsa-sha256"/><ds:Reference URI="#d1"><ds:DigestMethod Algorithm="%ssha256"/><ds:DigestValue/></ds:Reference></ds:SignedInfo><ds:SignatureValue/><ds:KeyInfo><ds:X509Data><ds:X509Certificate/></ds:X509Data></ds:KeyInfo></ds:Signature></doc>\n' \
  "$DS" "$XENC" > "$work/sign.tmpl"
xmlsec1 --sign --privkey-pem "$work/signer.key,$work/signer.pem" --id-attr:Id data --output signed.xml "$work/sign.tmpl"
xmlsec1 --verify --trusted-pem "$work/root.pem" --id-attr:Id data signed.xml >/dev/null 2>&1
template Element aes128-cbc "$(key alice "$RSA15" "$IS")"
encrypt signed.xml signed-enc.xml aes-128 "${ALICE[@]}"
gives signed-enc.xml signed.xml
if xmlsec1 --verify --trusted-pem "$work/root.pem" --id-attr:Id data signed-enc.xml >/dev/null 2>&1; then
  echo "signed-enc.xml verifies encrypted" >&2
  exit 1
fi

# A document in ISO-8859-2: the encrypted element's plaintext is UTF-8.
printf '<?xml version="1.0" encoding="ISO-8859-2"?>\n<doc><data Id="d1">Zażółć gęślą jaźń</data></doc>\n' |
  iconv -f UTF-8 -t ISO-8859-2 > "$work/latin2.xml"
encrypt "$work/latin2.xml" latin2.xml aes-128 "${ALICE[@]}"
# (xmlsec1 itself puts the UTF-8 octets back into the ISO-8859-2 document.)
decrypts latin2.xml || { echo "latin2.xml does not decrypt" >&2; exit 1; }
grep -q "Zażółć gęślą jaźń" "$work/dec.xml" || { echo "latin2.xml: no UTF-8 plaintext" >&2; exit 1; }

# The root's CRL (nobody revoked, valid 20 years), after the signature: not older than it.
sleep 1
mkdir "$work/ca"
: > "$work/ca/index.txt"
echo 1000 > "$work/ca/crlnumber"
printf '[ca]\ndefault_ca = c\n[c]\ndatabase = %s\ncrlnumber = %s\ndefault_md = sha256\ndefault_crl_days = 7300\n' \
  "$work/ca/index.txt" "$work/ca/crlnumber" > "$work/ca/ca.cnf"
openssl ca -config "$work/ca/ca.cnf" -keyfile "$work/root.key" -cert "$work/root.pem" -gencrl \
  -out "$work/crl.pem" 2>/dev/null
openssl crl -in "$work/crl.pem" -outform DER -out root-crl.der
echo done
