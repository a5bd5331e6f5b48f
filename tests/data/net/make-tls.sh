#!/usr/bin/env bash
# Makes the TLS server certificates of the https tests, all on one key (tls.key): tls-local.pem
# for 127.0.0.1 and tls-other.pem for other.test, both from the test CA of make.sh (ca.pem), and
# tls-stranger.pem for 127.0.0.1, signed by itself. Run from this folder; the generated files
# are committed.
set -euo pipefail
cd "$(dirname "$0")"
rm -rf work-tls && mkdir work-tls
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out tls.key 2>/dev/null
openssl req -new -key tls.key -subj "/C=PL/O=Siec testowa/CN=server" -out work-tls/req.csr
make() {  # name alt-names [self]
  printf 'basicConstraints = CA:FALSE\nkeyUsage = critical,digitalSignature\n' > work-tls/ext.cnf
  printf 'extendedKeyUsage = serverAuth\nsubjectAltName = %s\n' "$2" >> work-tls/ext.cnf
  if [ "${3:-}" = self ]; then
    openssl x509 -req -in work-tls/req.csr -signkey tls.key -days 3650 -extfile work-tls/ext.cnf \
      -out tls-$1.pem 2>/dev/null
  else
    openssl x509 -req -in work-tls/req.csr -CA ca.pem -CAkey ca.key -set_serial "$4" -days 3650 \
      -extfile work-tls/ext.cnf -out tls-$1.pem 2>/dev/null
  fi
}
make local "IP:127.0.0.1" ca 0x20
make other "DNS:other.test" ca 0x21
make stranger "IP:127.0.0.1" self
rm -rf work-tls
