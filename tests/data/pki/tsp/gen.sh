#!/bin/sh
# Makes the time-stamp fixtures with `openssl ts`: a TSA certificate under a
# small CA, requests (SHA-1, SHA-256, SHA-512; with and without nonce, with
# and without certReq, with a policy), responses and bare tokens from TSAs
# configured with and without accuracy, ordering and the TSA name, with
# ESSCertID (SHA-1) and ESSCertIDV2 (SHA-256 and SHA-512) signing-certificate
# attributes, and rejections (unaccepted policy, unsupported digest).
# Next to each file, <file>.txt is openssl's own -text reading of it; the
# tests compare their decoding with it. Run from this folder; the outputs
# are committed (signatures, serials and times cannot be made again).
set -eu
cd "$(dirname "$0")"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$W/ca.key" -out ca.pem -days 3650 \
  -subj "/C=PL/O=Tal Test/CN=TSA Test CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -new -newkey rsa:2048 -nodes -keyout "$W/tsa.key" -out "$W/tsa.csr" \
  -subj "/C=PL/O=Tal Test/CN=Test TSA" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n' \
  > "$W/tsa.ext"
openssl x509 -req -in "$W/tsa.csr" -CA ca.pem -CAkey "$W/ca.key" -set_serial 0x7001 -days 3000 \
  -extfile "$W/tsa.ext" -out tsa.pem 2>/dev/null
openssl x509 -in tsa.pem -outform DER -out tsa.der
openssl x509 -in ca.pem -outform DER -out ca.der

printf 'The data a time-stamp covers.\n' > data.txt

tsa() { # section accuracy ordering tsa_name ess_alg
  cat > "$W/$1.cnf" <<CNF
[tsa]
default_tsa = $1
[$1]
dir = $W
serial = $W/$1.serial
signer_cert = $PWD/tsa.pem
certs = $PWD/ca.pem
signer_key = $W/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
other_policies = 1.2.3.4.5
digests = sha1, sha256, sha512
$2
ordering = $3
tsa_name = $4
ess_cert_id_chain = no
ess_cert_id_alg = $5
CNF
}
tsa plain "" no no sha1
tsa full "accuracy = secs:1, millisecs:500, microsecs:100" yes yes sha256
tsa v2sha512 "accuracy = millisecs:250" no yes sha512

q() { # out [options]
  out=$1; shift
  openssl ts -query -data data.txt "$@" -out "$out" 2>/dev/null
  openssl ts -query -in "$out" -text > "$out.txt" 2>/dev/null
}
q req_sha256_nonce_cert.tsq -sha256 -cert
q req_sha1_nononce.tsq -sha1 -no_nonce
q req_sha512_policy.tsq -sha512 -tspolicy 1.2.3.4.5 -cert
q req_bad_policy.tsq -sha256 -tspolicy 1.2.3.9.9
openssl ts -query -data data.txt -md5 -no_nonce -out req_md5.tsq 2>/dev/null

r() { # section query out serial
  printf '%s\n' "$4" > "$W/$1.serial"
  openssl ts -reply -config "$W/$1.cnf" -queryfile "$2" -out "$3" 2>/dev/null
  openssl ts -reply -in "$3" -text > "$3.txt"
}
r plain req_sha1_nononce.tsq resp_plain_v1.tsr 10
r full req_sha256_nonce_cert.tsq resp_full_v2.tsr 0123456789ABCDEF01
r v2sha512 req_sha512_policy.tsq resp_v2_sha512.tsr 30
r full req_bad_policy.tsq resp_reject_policy.tsr 40
r plain req_md5.tsq resp_reject_digest.tsr 50
printf '60\n' > "$W/full.serial"
openssl ts -reply -config "$W/full.cnf" -queryfile req_sha256_nonce_cert.tsq -token_out \
  -out token_full.der 2>/dev/null
openssl ts -reply -in token_full.der -token_in -token_out -text > token_full.der.txt 2>/dev/null

# openssl's own verdict on the granted responses.
: > verify.txt
for f in resp_plain_v1.tsr:req_sha1_nononce.tsq resp_full_v2.tsr:req_sha256_nonce_cert.tsq \
         resp_v2_sha512.tsr:req_sha512_policy.tsq; do
  resp=${f%%:*}; req=${f#*:}
  if openssl ts -verify -queryfile "$req" -in "$resp" -CAfile ca.pem -untrusted tsa.pem >/dev/null 2>&1; then
    printf '%s\tverified\n' "$resp" >> verify.txt
  else
    printf '%s\tfailed\n' "$resp" >> verify.txt
  fi
done
