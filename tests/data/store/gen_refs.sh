#!/usr/bin/env bash
# Digests of revocation data as openssl computes them, for the CRL and OCSP
# reference matchers. One line of refs.tsv per file:
#   file|kind|sha1 of the DER|sha256 of the DER|sha256 of the inner part|crl number
# The file is the whole CRL or the whole OCSPResponse as received (the
# OCSP fixtures of tests/data/pki/ocsp, the CRLs of tests/data/pki/certs);
# the inner part of an OCSP response is its BasicOCSPResponse (the octets
# of responseBytes.response, cut out with openssl asn1parse -strparse), "-"
# for a CRL; the CRL number is what openssl crl -text prints, "-" without.
# Run from this folder; the output is committed.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dg() { openssl dgst "-$1" -r "$2" | cut -d' ' -f1 | tr 'a-f' 'A-F'; }
{
  for f in crl_v1 crl_v2_ec_gentime crl_v2_idp; do
    p=../pki/certs/$f.der
    n=$(openssl crl -inform DER -in "$p" -noout -text |
        awk '/X509v3 CRL Number:/ {getline; gsub(/ /, ""); print; exit}')
    echo "pki/certs/$f.der|crl|$(dg sha1 "$p")|$(dg sha256 "$p")|-|${n:--}"
  done
  for f in resp_good_key resp_good_name resp_multi_ec; do
    p=../pki/ocsp/$f.der
    off=$(openssl asn1parse -inform DER -in "$p" | awk -F: '/OCTET STRING/ {print $1 + 0; exit}')
    openssl asn1parse -inform DER -in "$p" -strparse "$off" -noout -out "$work/basic.der"
    echo "pki/ocsp/$f.der|ocsp|$(dg sha1 "$p")|$(dg sha256 "$p")|$(dg sha256 "$work/basic.der")|-"
  done
} > refs.tsv
