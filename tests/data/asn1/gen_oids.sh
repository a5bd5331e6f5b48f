#!/bin/sh
# Makes oids.txt, the OBJECT IDENTIFIER and INTEGER evidence of the review
# tests, with the openssl command line alone:
#   text TEXT HEX    openssl's DER encoding of the dotted text
#   der HEX RESULT   what openssl's parser makes of the DER: the dotted text,
#                    or BAD when it refuses the content
set -e
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
out=oids.txt
: > "$out"
for t in 1.2.840.113549.1.1.11 2.999.3 1.2.4294967295 2.48 2.47 1.39 0.39 0.0 \
         1.2.3.0.0 2.5.29.19 1.3.6.1.4.1.311.60.2.1.3; do
    openssl asn1parse -genstr "OID:$t" -noout -out "$tmp/o.der" > /dev/null
    echo "text $t $(od -An -tx1 -v "$tmp/o.der" | tr -d ' \n')" >> "$out"
done
# Hand-written encodings (OIDs without a name in openssl's table, so that it
# prints the dotted text): minimal ones, a padded (non-minimal) subidentifier
# in the first and in a later position, unterminated, empty and truncated
# ones; INTEGERs with and without content.
for h in 0603883703 06062a8fffffff7f 06028100 06017f 06014f 060100 \
         06058fffffff7f 06032a8001 0603800102 0602 06022a86 0600 0601ff 0603ff8001 \
         0200 020100 0201ff; do
    python3 -c "import sys; sys.stdout.buffer.write(bytes.fromhex('$h'))" > "$tmp/d.der"
    line=$(openssl asn1parse -inform DER -in "$tmp/d.der" 2>/dev/null | head -n 1 || true)
    case "$line" in
        *BAD*|*Error*|"") r=BAD ;;
        *) r=$(echo "$line" | sed 's/.*://') ;;
    esac
    echo "der $h $r" >> "$out"
done
