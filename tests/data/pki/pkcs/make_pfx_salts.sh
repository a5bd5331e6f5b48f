#!/usr/bin/env bash
# The salts a PFX build draws from a seed of twenty 0x17 octets, computed with
# openssl's SHA-1: the state is SHA-1 of the seed, each salt is its first 8
# octets, after each the state becomes SHA-1 of itself. Four lines, in the
# order they are used: the certificates' safe, the first and the second key,
# the MAC.
set -euo pipefail
cd "$(dirname "$0")"
state=$(head -c 20 /dev/zero | tr '\0' '\027' | openssl dgst -sha1 -binary | xxd -p)
: > pfx_salts.hex
for _ in 1 2 3 4; do
  printf '%s\n' "${state:0:16}" >> pfx_salts.hex
  state=$(printf '%s' "$state" | xxd -r -p | openssl dgst -sha1 -binary | xxd -p)
done
