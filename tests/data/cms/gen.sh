#!/bin/sh
# The time-stamp responses and token of ../pki/tsp (made there by openssl ts
# -reply: ESSCertID v1 over SHA-1, v2 over SHA-256 with accuracy and the TSA
# name, v2 over SHA-512, two rejections) copied here with openssl's verdict,
# and the TSTInfo openssl prints for each granted one (tstinfo.tsv:
# file, serial, imprint algorithm). Run from this folder.
set -eu
cd "$(dirname "$0")"
for f in resp_plain_v1.tsr resp_full_v2.tsr resp_v2_sha512.tsr resp_reject_policy.tsr \
         resp_reject_digest.tsr token_full.der tsa.der verify.txt data.txt; do
  cp "../pki/tsp/$f" .
done
: > status.tsv
for f in resp_plain_v1.tsr resp_full_v2.tsr resp_v2_sha512.tsr resp_reject_policy.tsr resp_reject_digest.tsr; do
  s=$(openssl ts -reply -in "$f" -text 2>/dev/null | awk -F': ' '/^Status:/ { print $2; exit }')
  printf '%s\t%s\n' "$f" "$s" >> status.tsv
done
openssl ts -query -data data.txt -sha256 -cert -no_nonce -out req_cert.tsq 2>/dev/null
