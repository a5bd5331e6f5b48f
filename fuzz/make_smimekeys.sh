#!/usr/bin/env bash
# Writes fuzz/smimekeys.inc: the S/MIME test keys and certificates of tests/data/smime (made by
# openssl, see make_smime.sh there) as PEM texts in the source of fuzz_smimewrite, so that the
# fuzz run reads no file. Run again when those files are made again.
set -euo pipefail
cd "$(dirname "$0")"
src=../tests/data/smime
out=smimekeys.inc
{
  echo "// Made by fuzz/make_smimekeys.sh from tests/data/smime; do not edit."
  for pair in signerRsaCert:signer-rsa.pem signerRsaKey:signer-rsa.key \
              signerEcCert:signer-ec.pem signerEcKey:signer-ec.key interCert:inter.pem \
              recipient1Cert:recipient1.pem recipient1Key:recipient1.key \
              recipient2Cert:recipient2.pem recipientEcCert:recipient-ec.pem \
              recipientSignOnlyCert:recipient-signonly.pem; do
    name=${pair%%:*}
    file=${pair#*:}
    printf 'const char* const %s = R"PEM(' "$name"
    cat "$src/$file"
    echo ')PEM";'
  done
} >"$out"
