#!/bin/sh
# Expected code-page tables, made with iconv: for every byte 0..255 of each page,
# one line "XX UUUU" (the byte and its Unicode code point in hex), or "XX ----"
# when iconv says the byte has no character.
set -e
cd "$(dirname "$0")"
tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT
for page in WINDOWS-1250 ISO-8859-2 CP852; do
    out="codepage_$(echo "$page" | tr 'A-Z' 'a-z').txt"
    : > "$out"
    i=0
    while [ $i -lt 256 ]; do
        hex=$(printf '%02X' $i)
        if printf "\\$(printf '%03o' $i)" | iconv -f "$page" -t UTF-16BE > "$tmp" 2>/dev/null; then
            echo "$hex $(od -An -tx1 "$tmp" | tr -d ' \n' | tr 'a-f' 'A-F')" >> "$out"
        else
            echo "$hex ----" >> "$out"
        fi
        i=$((i + 1))
    done
done
