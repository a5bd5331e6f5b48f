#!/usr/bin/env bash
# Keys and certificates of the S/MIME tests, made by openssl: a root and an intermediate CA, two
# signers under the intermediate (RSA and P-256, each in a PKCS#12 file with PIN "1234" and its
# chain, the intermediate and the root; their keys kept too, for a token), two RSA recipients
# (keys kept for openssl cms -decrypt), and two recipients the library must refuse: an EC key,
# and an RSA key whose keyUsage does not allow key encipherment.
set -euo pipefail
cd "$(dirname "$0")"
days=7300
cat > ext.cnf <<'CNF'
[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[signer]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation
extendedKeyUsage = emailProtection
[recipient]
basicConstraints = CA:FALSE
keyUsage = critical, keyEncipherment
extendedKeyUsage = emailProtection
[agreement]
basicConstraints = CA:FALSE
keyUsage = critical, keyAgreement
[signonly]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
CNF
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out root.key
openssl req -new -x509 -key root.key -subj "/CN=SMIME Root/O=TAL-VORIN" -days $days -sha256 \
  -out root.pem
issue() {  # name key-algorithm-options subject issuer extension-section
  local name=$1 alg=$2 subj=$3 issuer=$4 section=$5
  openssl genpkey $alg -out $name.key
  openssl req -new -key $name.key -subj "$subj" -out $name.csr
  openssl x509 -req -in $name.csr -CA $issuer.pem -CAkey $issuer.key -CAcreateserial \
    -days $days -sha256 -extfile ext.cnf -extensions $section -out $name.pem
  openssl x509 -in $name.pem -outform DER -out $name.der
  rm $name.csr
}
rsa="-algorithm RSA -pkeyopt rsa_keygen_bits:2048"
ec="-algorithm EC -pkeyopt ec_paramgen_curve:P-256"
issue inter "$rsa" "/CN=SMIME Intermediate/O=TAL-VORIN" root ca
issue signer-rsa "$rsa" "/CN=Signer RSA/O=TAL-VORIN" inter signer
issue signer-ec "$ec" "/CN=Signer EC/O=TAL-VORIN" inter signer
issue recipient1 "$rsa" "/CN=Recipient One/O=TAL-VORIN" inter recipient
issue recipient2 "$rsa" "/CN=Recipient Two/O=TAL-VORIN" inter recipient
issue recipient-ec "$ec" "/CN=Recipient EC/O=TAL-VORIN" inter agreement
issue recipient-signonly "$rsa" "/CN=Recipient Sign Only/O=TAL-VORIN" inter signonly
cat inter.pem root.pem > chain.pem
for s in signer-rsa signer-ec; do
  openssl pkcs12 -export -in $s.pem -inkey $s.key -certfile chain.pem -passout pass:1234 \
    -out $s.p12
done
rm -f ext.cnf chain.pem root.srl inter.srl root.key inter.key recipient-ec.key \
  recipient-signonly.key
