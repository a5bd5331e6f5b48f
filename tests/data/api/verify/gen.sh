#!/usr/bin/env bash
# A small PKI made by openssl for the verification services and the signature
# driver: a root and an intermediate CA (validity 2020-2045), end-entity
# certificates under the intermediate (a signer, a revoked signer, a
# keyEncipherment-only one, one valid only in 2021, a DSA signer, a
# time-stamping authority), CRLs of both CAs (current, and issued in 2023),
# an `openssl ts -reply` token signed by the TSA, and XAdES-BES documents
# signed by xmlsec1 with the signer's and the revoked signer's keys.
# Run from anywhere; the outputs are committed (signatures are not
# reproducible).
set -euo pipefail
cd "$(dirname "$0")"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT

cadir() { # name
  mkdir -p "$W/$1"
  : > "$W/$1/index.txt"
  echo 1000 > "$W/$1/crlnumber"
  cat > "$W/$1/ca.cnf" <<CNF
[ca]
default_ca = c
[c]
dir = $W/$1
database = \$dir/index.txt
new_certs_dir = \$dir
crlnumber = \$dir/crlnumber
serial = \$dir/serial
default_md = sha256
policy = any
unique_subject = no
copy_extensions = none
[any]
countryName = optional
organizationName = optional
commonName = supplied
[v3_ca]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[signer]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature,nonRepudiation
[kenc]
basicConstraints = CA:FALSE
keyUsage = critical,keyEncipherment
[tsa]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = critical,timeStamping
[crl]
authorityKeyIdentifier = keyid
CNF
}

cadir root
cadir sub
openssl genrsa -out "$W/root.key" 2048 2>/dev/null
openssl req -new -key "$W/root.key" -subj "/C=PL/O=Driver Tests/CN=Driver Root" -out "$W/root.csr"
echo 01 > "$W/root/serial"
openssl ca -batch -selfsign -config "$W/root/ca.cnf" -keyfile "$W/root.key" -in "$W/root.csr" \
  -extensions v3_ca -startdate 20200101000000Z -enddate 20450101000000Z -notext \
  -out "$W/root.pem" >/dev/null 2>&1
openssl x509 -in "$W/root.pem" -outform DER -out root.der

sign() { # ca caCert caKey serial subject ext start end name [keyfile]
  local key=${10:-$W/$9.key}
  [ -f "$key" ] || openssl genrsa -out "$key" 2048 2>/dev/null
  openssl req -new -key "$key" -subj "$5" -out "$W/$9.csr"
  echo "$4" > "$W/$1/serial"
  openssl ca -batch -config "$W/$1/ca.cnf" -cert "$2" -keyfile "$3" -in "$W/$9.csr" -notext \
    -extensions "$6" -startdate "$7" -enddate "$8" -out "$W/$9.pem" >/dev/null 2>&1
  openssl x509 -in "$W/$9.pem" -outform DER -out "$9.der"
}

sign root "$W/root.pem" "$W/root.key" 10 "/C=PL/O=Driver Tests/CN=Driver Sub CA" v3_ca \
  20200101000000Z 20450101000000Z sub
S=("$W/sub.pem" "$W/sub.key")
sign sub "${S[@]}" 1001 "/C=PL/O=Driver Tests/CN=Signer" signer 20200101000000Z 20450101000000Z signer
sign sub "${S[@]}" 1002 "/C=PL/O=Driver Tests/CN=Revoked Signer" signer 20200101000000Z 20450101000000Z revoked
sign sub "${S[@]}" 1003 "/C=PL/O=Driver Tests/CN=Encryption Only" kenc 20200101000000Z 20450101000000Z kenc
sign sub "${S[@]}" 1004 "/C=PL/O=Driver Tests/CN=Signer 2021" signer 20210101000000Z 20220101000000Z expired
openssl dsaparam -genkey -out "$W/dsa.key" 2048 2>/dev/null
sign sub "${S[@]}" 1006 "/C=PL/O=Driver Tests/CN=DSA Signer" signer 20200101000000Z 20450101000000Z dsa "$W/dsa.key"
sign sub "${S[@]}" 1005 "/C=PL/O=Driver Tests/CN=Driver TSA" tsa 20200101000000Z 20450101000000Z tsa

openssl ca -config "$W/sub/ca.cnf" -cert "$W/sub.pem" -keyfile "$W/sub.key" -revoke "$W/revoked.pem" \
  -crl_reason keyCompromise >/dev/null 2>&1
crl() { # ca caCert caKey last next out
  openssl ca -gencrl -config "$W/$1/ca.cnf" -cert "$2" -keyfile "$3" -crlexts crl -md sha256 \
    -crl_lastupdate "$4" -crl_nextupdate "$5" -out "$W/$6.pem" >/dev/null 2>&1
  openssl crl -in "$W/$6.pem" -outform DER -out "$6.der"
}
crl sub "${S[@]}" 20260101000000Z 20400101000000Z sub-crl
crl root "$W/root.pem" "$W/root.key" 20260101000000Z 20400101000000Z root-crl
crl sub "${S[@]}" 20230101000000Z 20400101000000Z sub-crl-2023
crl root "$W/root.pem" "$W/root.key" 20230101000000Z 20400101000000Z root-crl-2023

# A time-stamp token of the TSA over the digest of "data".
cat > "$W/tsa.cnf" <<CNF
[tsa]
default_tsa = t
[t]
dir = $W
serial = $W/tsserial
signer_cert = $W/tsa.pem
certs = $W/sub.pem
signer_key = $W/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256
ess_cert_id_alg = sha256
CNF
echo 31 > "$W/tsserial"
printf 'data' > "$W/data"
openssl ts -query -data "$W/data" -sha256 -cert -out "$W/q.tsq" 2>/dev/null
openssl ts -reply -config "$W/tsa.cnf" -queryfile "$W/q.tsq" -token_out -out token.der 2>/dev/null
cat "$W/root.pem" "$W/sub.pem" > "$W/chain.pem"
openssl ts -verify -data "$W/data" -in token.der -token_in -CAfile "$W/chain.pem" >/dev/null 2>&1

# XAdES-BES documents: the template's CERTDIGEST is the SHA-256 of the signer's DER.
for who in signer revoked; do
  digest=$(openssl dgst -sha256 -binary "$who.der" | base64)
  sed "s|CERTDIGEST|$digest|" xades-bes.tmpl > "$W/$who.xml"
  xmlsec1 --sign --privkey-pem "$W/$who.key,$W/$who.pem,$W/sub.pem" --id-attr:Id data \
    --id-attr:Id SignedProperties --output "xades-$who.xml" "$W/$who.xml"
  xmlsec1 --verify --trusted-pem "$W/root.pem" --untrusted-pem "$W/sub.pem" --id-attr:Id data \
    --id-attr:Id SignedProperties "xades-$who.xml" >/dev/null 2>&1
done
