#!/usr/bin/env bash
# Keys and certificates that the PKCS#11 tests load into a SoftHSM2 token: an RSA key and a
# P-256 EC key (PKCS#8, as softhsm2-util --import takes them), self-signed certificates (DER,
# as pkcs11-tool --write-object takes them) and the public keys (PEM, for openssl's checks).
set -euo pipefail
cd "$(dirname "$0")"
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa.key
openssl req -new -x509 -key rsa.key -subj "/CN=Token RSA/O=TAL-VORIN" -days 7300 -sha256 \
  -outform DER -out rsa.crt.der
openssl pkey -in rsa.key -pubout -out rsa.pub.pem
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ec.key
openssl req -new -x509 -key ec.key -subj "/CN=Token EC/O=TAL-VORIN" -days 7300 -sha256 \
  -outform DER -out ec.crt.der
openssl pkey -in ec.key -pubout -out ec.pub.pem
# An RSA key whose certificate restricts it to RSASSA-PSS (id-RSASSA-PSS in the certificate);
# the token takes its numbers as a plain RSA key (PKCS#1 form, then PKCS#8 with rsaEncryption).
openssl genpkey -algorithm RSA-PSS -pkeyopt rsa_keygen_bits:2048 -out pss.key
openssl req -new -x509 -key pss.key -subj "/CN=Token RSA-PSS/O=TAL-VORIN" -days 7300 \
  -outform DER -out pss.crt.der
openssl rsa -in pss.key -traditional -out pss-rsa.pem
sed -i 's/RSA-PSS PRIVATE KEY/RSA PRIVATE KEY/' pss-rsa.pem
openssl pkcs8 -topk8 -nocrypt -in pss-rsa.pem -out pss-plain.key
rm pss-rsa.pem
openssl pkey -in pss.key -pubout -out pss.pub.pem
# A 512-bit RSA key: too short for the DigestInfos of SHA-384 and SHA-512.
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:512 -out rsa512.key
openssl req -new -x509 -key rsa512.key -subj "/CN=Token RSA 512/O=TAL-VORIN" -days 7300 \
  -sha256 -outform DER -out rsa512.crt.der
