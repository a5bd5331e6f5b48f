#!/usr/bin/env bash
# Regression inputs of fuzz_xmldoc made from hostile receipts (scripts/genhostile.py over
# tests/data/upo/upo.xml), each behind the target's selector octet (bit 0 comments, bit 1
# exclusive, bits 2-3 the subtree's forms, 0x10 the XPath filter chain, 0x20 that chain
# exclusive): trees of 100,000 elements, where libxml2's canonicaliser alone stops at its
# memory scope (05*), and 200,000 Ids under 1,000 references (08e).
set -euo pipefail
cd "$(dirname "$0")"
made=$(mktemp -d)
trap 'rm -rf "$made"' EXIT
python3 ../../../scripts/genhostile.py ../upo/upo.xml "$made" >/dev/null
for pair in 05-xpath-count-100k:00 05b-xpath-enveloped-100k:13 05c-xpath2-preceding-100k:3e \
            05d-xpath-preceding-100k:21 08e-refs-1000-ids-200k:00; do
  name=${pair%%:*}
  { printf "\\x${pair##*:}"; cat "$made/$name.xml"; } >"xmldoc/$name.xml.bin"
done
