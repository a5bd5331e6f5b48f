#!/bin/sh
# DER forms of python3-cryptography-vectors files that tests read as DER
# (the PEM files come from gen.sh; this script changes nothing else).
set -e
cd "$(dirname "$0")"
openssl crl -in vectors/crl_no_next_update.pem -outform DER -out vectors/crl_no_next_update.der
