#!/bin/sh
# Recipient certificates made by openssl: a CA and end certificates with and
# without e-mail addresses, encryption-capable or signing only, one expired
# (2001-2002) and one listed as revoked by the tests.
set -e
cd "$(dirname "$0")"
T=$(mktemp -d); trap 'rm -rf "$T"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$T/ca.key" -subj "/C=PL/O=Recip Test/CN=Recip CA" \
  -days 7300 -set_serial 1 -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
  -outform DER -out ca.der 2>/dev/null
openssl x509 -inform DER -in ca.der -out "$T/ca.pem"
leaf() { # name serial subject keyusage san [startdate enddate]
  openssl req -new -newkey rsa:2048 -nodes -keyout "$T/$1.key" -subj "$3" -out "$T/$1.csr" 2>/dev/null
  {
    echo "keyUsage=critical,$4"
    [ -n "$5" ] && echo "subjectAltName=$5"
    true
  } > "$T/$1.ext"
  if [ -n "$6" ]; then
    # fixed past dates need the ca command
    mkdir -p "$T/db"; : > "$T/db/index"; printf "%04X\n" "$2" > "$T/db/serial"
    cat > "$T/ca.cnf" <<CNF
[ca]
default_ca=d
[d]
database=$T/db/index
serial=$T/db/serial
new_certs_dir=$T/db
default_md=sha256
policy=p
unique_subject=no
[p]
countryName=optional
organizationName=optional
commonName=supplied
emailAddress=optional
CNF
    openssl ca -batch -config "$T/ca.cnf" -cert "$T/ca.pem" -keyfile "$T/ca.key" -in "$T/$1.csr" \
      -startdate "$6" -enddate "$7" -extfile "$T/$1.ext" -notext -out "$T/$1.pem" 2>"$T/err" || { cat "$T/err"; exit 1; }
    openssl x509 -in "$T/$1.pem" -outform DER -out "$1.der"
  else
    openssl x509 -req -in "$T/$1.csr" -CA "$T/ca.pem" -CAkey "$T/ca.key" -set_serial "$2" -days 3650 \
      -extfile "$T/$1.ext" -outform DER -out "$1.der" 2>/dev/null
  fi
}
leaf alice-enc 101 "/C=PL/O=Recip Test/CN=Alice/emailAddress=alice@example.com" keyEncipherment "email:alice@example.com"
leaf alice-sig 102 "/C=PL/O=Recip Test/CN=Alice/emailAddress=alice@example.com" digitalSignature "email:alice@example.com"
leaf bob-enc 103 "/C=PL/O=Recip Test/CN=Bob" keyEncipherment,dataEncipherment ""
leaf carol-expired 104 "/C=PL/O=Recip Test/CN=Carol/emailAddress=carol@example.com" keyEncipherment "email:carol@example.com" 20010101000000Z 20020101000000Z
leaf dave-revoked 105 "/C=PL/O=Recip Test/CN=Dave/emailAddress=dave@example.com" keyEncipherment "email:dave@example.com"
leaf dave-second 106 "/C=PL/O=Recip Test/CN=Dave/emailAddress=dave@example.com" keyEncipherment "email:dave@example.com"
# The subject of Bob as a name text.
openssl x509 -inform DER -in bob-enc.der -noout -subject -nameopt sep_comma_plus,utf8 | sed 's/^subject=//' > bob-subject.txt
