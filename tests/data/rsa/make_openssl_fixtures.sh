#!/bin/sh
# Makes the RSA fixtures that come from the openssl command line: a key pair,
# signatures made by openssl (PKCS#1 v1.5 and PSS) that the tests verify, and
# cipher texts made by openssl that the tests decrypt. The generated files are
# committed: signatures and keys are not reproducible.
set -e
cd "$(dirname "$0")"
# Key components as "name hex" lines: keytext PEM OUT
keytext() {
openssl rsa -in "$1" -text -noout | OUT="$2" python3 -c '
import re, sys
names = {"modulus": "n", "publicExponent": "e", "privateExponent": "d", "prime1": "p",
         "prime2": "q", "exponent1": "dp", "exponent2": "dq", "coefficient": "qinv"}
cur, vals = None, {}
for line in sys.stdin:
    m = re.match(r"^(\w+):\s*(\d+)?", line)
    if m and m.group(1) in names:
        cur = names[m.group(1)]
        vals[cur] = format(int(m.group(2)), "x") if m.group(2) else ""
        if m.group(2):
            cur = None
    elif cur and line.startswith(" "):
        vals[cur] += line.strip().replace(":", "")
import os
with open(os.environ["OUT"], "w") as f:
    for k in ["n", "e", "d", "p", "q", "dp", "dq", "qinv"]:
        f.write("%s %s\n" % (k, format(int(vals[k], 16), "x")))
'
}
openssl genrsa -out openssl_key.pem 2048 2>/dev/null
chmod 644 openssl_key.pem
keytext openssl_key.pem openssl_key.txt
# Small keys of exact sizes for the encoding limits.
for bits in 512 520 528 1024 1025; do
  openssl genrsa -out /tmp/tal_rsa_$bits.pem $bits 2>/dev/null
  keytext /tmp/tal_rsa_$bits.pem openssl_key_$bits.txt
  rm -f /tmp/tal_rsa_$bits.pem
done
printf 'Urzedowe poswiadczenie odbioru: dokument testowy.' > openssl_msg.bin
for h in sha1 sha256 sha384 sha512; do
  openssl dgst -$h -sign openssl_key.pem -out openssl_v15_$h.sig openssl_msg.bin
done
openssl dgst -sha256 -sign openssl_key.pem -sigopt rsa_padding_mode:pss \
  -sigopt rsa_pss_saltlen:32 -sigopt rsa_mgf1_md:sha256 -out openssl_pss_sha256.sig openssl_msg.bin
openssl dgst -sha512 -sign openssl_key.pem -sigopt rsa_padding_mode:pss \
  -sigopt rsa_pss_saltlen:0 -sigopt rsa_mgf1_md:sha1 -out openssl_pss_sha512_mgf1sha1_0.sig \
  openssl_msg.bin
openssl pkeyutl -encrypt -inkey openssl_key.pem -pkeyopt rsa_padding_mode:pkcs1 \
  -in openssl_msg.bin -out openssl_msg.v15.enc
python3 -c 'import sys; sys.stdout.write("R" * 256)' > openssl_raw.bin
openssl pkeyutl -encrypt -inkey openssl_key.pem -pkeyopt rsa_padding_mode:none \
  -in openssl_raw.bin -out openssl_raw.enc
