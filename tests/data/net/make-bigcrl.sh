#!/usr/bin/env bash
# Makes big.crl: the test CA's CRL (make.sh) listing 2000 revoked serial numbers, about 60 KB,
# for the tests that an LDAP answer is bounded while it is read. Run from this folder; the
# generated file is committed.
set -euo pipefail
cd "$(dirname "$0")"
rm -rf work-big && mkdir work-big
for i in $(seq 1 2000); do
  printf 'R\t361204094251Z\t261207094251Z\t%06X\tunknown\t/CN=x%d\n' $((0x100000 + i)) "$i"
done > work-big/index.txt
echo 01 > work-big/crlnumber
cat > work-big/ca.cnf <<'CNF'
[ca]
default_ca = local
[local]
database = work-big/index.txt
crlnumber = work-big/crlnumber
default_md = sha256
default_crl_days = 3650
CNF
openssl ca -gencrl -config work-big/ca.cnf -cert ca.pem -keyfile ca.key -out work-big/big.pem 2>/dev/null
openssl crl -in work-big/big.pem -outform DER -out big.crl
rm -rf work-big
