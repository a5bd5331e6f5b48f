#!/bin/sh
# Random data and its base64 text made by coreutils: b64/rand_N.bin holds N random
# bytes, b64/rand_N.b64 the text of `base64 -w 64` (lines of 64 characters ended by LF,
# the last line too) for lengths of every residue mod 3, with and without full lines.
set -e
cd "$(dirname "$0")"
mkdir -p b64
rm -f b64/rand_*
for n in 0 1 2 3 4 5 6 7 47 48 49 50 95 96 97 100 129 130 212 213 1000 2397 2398 3000 5000 10001; do
    head -c "$n" /dev/urandom > "b64/rand_$n.bin"
    base64 -w 64 "b64/rand_$n.bin" > "b64/rand_$n.b64"
done
