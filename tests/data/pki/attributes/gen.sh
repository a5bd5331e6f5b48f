#!/bin/sh
# Makes attrs.txt: attribute encodings written by OpenSSL (asn1parse -genconf
# and the signed attributes of cms -sign). One case per line:
#   attr     <DER of one Attribute>
#   unsorted <Attribute whose values are out of DER order> <value to add> <Attribute after the add, DER>
#   built    <OID> <INTEGER> <OID> <INTEGER> <SET OF Attribute, DER>  (added in that order)
#   signed   <signed attributes as a SET, DER> <SHA-256 of the signed content>
set -e
cd "$(dirname "$0")"
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
hexof() { od -An -v -tx1 "$1" | tr -d ' \n'; }
gen() { printf '%s\n' "$1" > "$T/c.cnf"; openssl asn1parse -genconf "$T/c.cnf" -out "$T/o.der" -noout; hexof "$T/o.der"; }

out=attrs.txt
: > $out

# One value, several values (openssl writes SET contents in DER order).
for body in "a=OID:1.2.840.113549.1.9.3
b=SET:v
[v]
x=OID:1.2.840.113549.1.7.1" \
"a=OID:1.2.840.113549.1.9.5
b=SET:v
[v]
x=UTCTIME:260102030405Z" \
"a=OID:1.3.6.1.4.1.99999.2.5.17
b=SET:v
[v]
x=INTEGER:30
y=INTEGER:-1
z=OCTETSTRING:AB" \
"a=OID:2.5.4.3
b=SET:v
[v]"; do
  echo "attr $(gen "asn1=SEQUENCE:s
[s]
$body")" >> $out
done

# Values out of DER order: written as a SEQUENCE and given the SET tag.
seq=$(gen "asn1=SEQUENCE:s
[s]
a=OID:1.2.3.4
b=SEQUENCE:v
[v]
x=INTEGER:5
y=OCTETSTRING:AB
z=INTEGER:3")
unsorted=$(echo "$seq" | sed 's/^\(30..06032a0304\)30/\131/')
added=$(gen "asn1=INTEGER:4")
sorted=$(gen "asn1=SEQUENCE:s
[s]
a=OID:1.2.3.4
b=SET:v
[v]
x=INTEGER:5
y=OCTETSTRING:AB
z=INTEGER:3
w=INTEGER:4")
echo "unsorted $unsorted $added $sorted" >> $out

# Two attributes built in the order given; openssl sorts the outer SET.
echo "built 1.2.840.113549.1.9.3 300 1.2.840.113549.1.9.4 7 $(gen "asn1=SET:s
[s]
a=SEQUENCE:a1
b=SEQUENCE:a2
[a1]
t=OID:1.2.840.113549.1.9.4
v=SET:v1
[v1]
x=INTEGER:7
[a2]
t=OID:1.2.840.113549.1.9.3
v=SET:v2
[v2]
x=INTEGER:300")" >> $out

# Signed attributes of a CMS signature (the [0] of the SignerInfo, given the
# SET tag as it is when hashed), with and without the CAdES signing certificate.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$T/k.pem" -out "$T/c.pem" -subj /CN=attr-test -days 30 2>/dev/null
printf 'attribute test content\n' > "$T/data"
digest=$(openssl dgst -sha256 -r "$T/data" | cut -d' ' -f1)
for extra in "" "-cades"; do
  openssl cms -sign -binary -in "$T/data" -signer "$T/c.pem" -inkey "$T/k.pem" -md sha256 $extra \
    -outform DER -out "$T/s.der"
  line=$(openssl asn1parse -inform DER -in "$T/s.der" | awk '/d=5 .*cont \[ 0 \]/ {print; exit}')
  off=$(echo "$line" | sed 's/^ *\([0-9]*\):.*/\1/')
  hl=$(echo "$line" | sed 's/.*hl= *\([0-9]*\).*/\1/')
  len=$(echo "$line" | sed 's/.*l= *\([0-9]*\) cons.*/\1/')
  dd if="$T/s.der" of="$T/a.der" bs=1 skip="$off" count=$((hl + len)) 2>/dev/null
  echo "signed $(hexof "$T/a.der" | sed 's/^a0/31/') $digest" >> $out
done
