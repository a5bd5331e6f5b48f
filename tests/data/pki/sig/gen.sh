#!/bin/sh
# What openssl reads in the signed attributes of the committed CMS messages
# (../cms, made by openssl cms -sign) and time-stamp tokens (../tsp, made by
# openssl ts -reply), one line per message in signed_attrs.tsv:
#   file  signingTime(YYYYMMDDHHMMSS or -)  messageDigest(hex)  certHashId  certHash(hex or -)
# signingTime is openssl cms -print's reading; the message digest is openssl
# dgst over the signed content (the encapsulated content that openssl cms
# -verify gives out); the certificate hash is openssl dgst over the signer's
# certificate with the hash its signing-certificate attribute names (1 SHA-1
# for the first version, 3 SHA-256 or 5 SHA-512 for the second, 0 none).
# Run from this folder.
set -eu
cd "$(dirname "$0")"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT

hex() { od -An -v -tx1 | tr -d ' \n' | tr a-f A-F; }

line() { # file der signer-cert-der hash-id dgst-name
  der=$2
  t=$(openssl cms -cmsout -print -inform DER -in "$der" | awk '/object: signingTime/ { getline; getline; sub(/^ *UTCTIME:/, ""); sub(/ GMT$/, ""); print; exit }')
  if [ -n "$t" ]; then t=$(date -u -d "$t" +%Y%m%d%H%M%S); else t=-; fi
  openssl cms -verify -noverify -binary -inform DER -in "$der" -certfile ../tsp/tsa.pem -out "$W/content" 2>/dev/null
  md=$(openssl dgst -sha256 -binary "$W/content" | hex)
  if [ "$4" = 0 ]; then ch=-; else ch=$(openssl dgst "-$5" -binary "$3" | hex); fi
  if [ "$1" = cms/attached_noattr.der ]; then t=-; md=-; fi
  printf '%s\t%s\t%s\t%s\t%s\n' "$1" "$t" "$md" "$4" "$ch"
}

token() { # tsr
  openssl ts -reply -in "../tsp/$1" -token_out -out "$W/$1.der" 2>/dev/null
  echo "$W/$1.der"
}

{
  line cms/cades.der ../cms/cades.der ../cms/signer_rsa.der 3 sha256
  line cms/attached_sha256.der ../cms/attached_sha256.der - 0 -
  line cms/attached_noattr.der ../cms/attached_noattr.der - 0 -
  line tsp/resp_plain_v1.tsr "$(token resp_plain_v1.tsr)" ../tsp/tsa.der 1 sha1
  line tsp/resp_full_v2.tsr "$(token resp_full_v2.tsr)" ../tsp/tsa.der 3 sha256
  line tsp/resp_v2_sha512.tsr "$(token resp_v2_sha512.tsr)" ../tsp/tsa.der 5 sha512
} > signed_attrs.tsv
