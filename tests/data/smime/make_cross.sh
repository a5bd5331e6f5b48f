#!/usr/bin/env bash
# Two CAs that certify each other and nothing else, made by openssl: "Cross X" by "Cross Y"
# (x-by-y.pem) and "Cross Y" by "Cross X" (y-by-x.pem), and a P-256 signer under "Cross X" in a
# PKCS#12 file (PIN "1234") with both cross-certificates. Their self-signed roots are not kept:
# a walk up from the signer meets only the loop.
set -euo pipefail
cd "$(dirname "$0")/cross"
days=7300
cat > ext.cnf <<'CNF'
[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
[signer]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation
extendedKeyUsage = emailProtection
CNF
ec="-algorithm EC -pkeyopt ec_paramgen_curve:P-256"
for n in x y; do
  openssl genpkey $ec -out $n.key
  N=$(echo $n | tr a-z A-Z)
  openssl req -new -x509 -key $n.key -subj "/CN=Cross $N/O=TAL-VORIN" -days $days -sha256 \
    -out $n-root.pem
done
cross() {  # subject-key issuer extension-section output
  N=$(echo $1 | tr a-z A-Z)
  openssl req -new -key $1.key -subj "/CN=Cross $N/O=TAL-VORIN" -out $1.csr
  openssl x509 -req -in $1.csr -CA $2-root.pem -CAkey $2.key -CAcreateserial -days $days \
    -sha256 -extfile ext.cnf -extensions $3 -out $4
  rm $1.csr
}
cross x y ca x-by-y.pem
cross y x ca y-by-x.pem
openssl genpkey $ec -out signer.key
openssl req -new -key signer.key -subj "/CN=Signer Cross/O=TAL-VORIN" -out signer.csr
openssl x509 -req -in signer.csr -CA x-root.pem -CAkey x.key -CAcreateserial -days $days \
  -sha256 -extfile ext.cnf -extensions signer -out signer.pem
cat x-by-y.pem y-by-x.pem > chain.pem
openssl pkcs12 -export -in signer.pem -inkey signer.key -certfile chain.pem -passout pass:1234 \
  -out signer.p12
rm -f ext.cnf chain.pem signer.csr x.key y.key signer.key x-root.pem y-root.pem *.srl
