#!/usr/bin/env bash
# Makes the network tests' fixtures with openssl: a CA, an end certificate, an OCSP responder,
# a time-stamping authority, a CRL, the responder's index, and one time-stamp query with its
# granted answer. Run from this folder; the generated files are committed.
set -euo pipefail
cd "$(dirname "$0")"
rm -rf work && mkdir work
cat > work/ca.cnf <<'CNF'
[ca]
default_ca = local
[local]
database = work/index.txt
new_certs_dir = work
serial = work/serial
crlnumber = work/crlnumber
default_md = sha256
default_crl_days = 3650
policy = any
[any]
commonName = supplied
[v3_ca]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
[v3_ocsp]
extendedKeyUsage = critical,OCSPSigning
[v3_tsa]
extendedKeyUsage = critical,timeStamping
[tsa]
default_tsa = tsa_local
[tsa_local]
serial = work/tsaserial
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256
ess_cert_id_alg = sha256
accuracy = secs:1
CNF
touch work/index.txt; echo 01 > work/serial; echo 01 > work/crlnumber; echo 01 > work/tsaserial
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }
key ca.key; key ocsp.key; key tsa.key; key end.key
openssl req -new -x509 -key ca.key -subj "/C=PL/O=Siec testowa/CN=Test CA" -days 3650 \
  -extensions v3_ca -config work/ca.cnf -out ca.pem
sign() {  # name subject extensions
  openssl req -new -key "$1.key" -subj "$2" -out work/$1.csr
  openssl ca -batch -config work/ca.cnf -cert ca.pem -keyfile ca.key -days 3650 \
    -extensions "$3" -extfile work/ca.cnf -in work/$1.csr -out $1.pem 2>/dev/null
}
sign ocsp "/C=PL/O=Siec testowa/CN=Test OCSP" v3_ocsp
sign tsa "/C=PL/O=Siec testowa/CN=Test TSA" v3_tsa
sign end "/C=PL/O=Siec testowa/CN=Jan Testowy" v3_ocsp
openssl ca -config work/ca.cnf -cert ca.pem -keyfile ca.key -revoke end.pem 2>/dev/null
openssl ca -gencrl -config work/ca.cnf -cert ca.pem -keyfile ca.key -out work/ca.crl.pem 2>/dev/null
openssl crl -in work/ca.crl.pem -outform DER -out ca.crl
cp work/index.txt index.txt
for n in ca end ocsp; do openssl x509 -in $n.pem -outform DER -out $n.der; done
openssl ocsp -issuer ca.pem -cert end.pem -no_nonce -reqout ocsp.req
echo "a document" > work/data.txt
openssl ts -query -data work/data.txt -sha256 -cert -no_nonce -out ts.req
openssl ts -reply -config work/ca.cnf -queryfile ts.req -signer tsa.pem -inkey tsa.key \
  -chain ca.pem -out ts.resp 2>/dev/null
rm -rf work
./make-mail.sh
./make-tls.sh
./make-bigcrl.sh
./make-ldif.sh
