#!/bin/sh
# Keys and signatures made by openssl for the key manager's signature checks. Signatures are
# random: the generated files are committed; run again only to replace them all.
set -eu
cd "$(dirname "$0")"
printf 'TAL-VORIN: podpis nad skrotem wiadomosci\n' > message.txt
for h in sha1 sha256 sha384 sha512; do
  openssl dgst -"$h" -binary message.txt > "digest-$h.bin"
done

openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa.pem 2>/dev/null
openssl pkey -in rsa.pem -pubout -outform DER -out rsa-spki.der
for h in sha1 sha256 sha512; do
  openssl pkeyutl -sign -inkey rsa.pem -in "digest-$h.bin" -pkeyopt digest:"$h" -out "rsa-pkcs1-$h.sig"
done
# PSS with SHA-256 and several salts, and SHA-1 with its default salt of 20
for salt in 0 20 32 222; do
  openssl pkeyutl -sign -inkey rsa.pem -in digest-sha256.bin -pkeyopt digest:sha256 \
    -pkeyopt rsa_padding_mode:pss -pkeyopt rsa_pss_saltlen:"$salt" -pkeyopt rsa_mgf1_md:sha256 \
    -out "rsa-pss-sha256-salt$salt.sig"
done
openssl pkeyutl -sign -inkey rsa.pem -in digest-sha1.bin -pkeyopt digest:sha1 \
  -pkeyopt rsa_padding_mode:pss -pkeyopt rsa_pss_saltlen:20 -pkeyopt rsa_mgf1_md:sha1 \
  -out rsa-pss-sha1-salt20.sig

openssl genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:2048 \
  -pkeyopt dsa_paramgen_q_bits:256 -out dsa-params.pem 2>/dev/null
openssl genpkey -paramfile dsa-params.pem -out dsa.pem
openssl pkey -in dsa.pem -pubout -outform DER -out dsa-spki.der
openssl pkeyutl -sign -inkey dsa.pem -in digest-sha256.bin -pkeyopt digest:sha256 -out dsa-sha256.sig

for curve in prime256v1:sha256 secp384r1:sha384 secp521r1:sha512 sect283r1:sha256; do
  name=${curve%%:*}; h=${curve##*:}
  openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:"$name" -out "ec-$name.pem"
  openssl pkey -in "ec-$name.pem" -pubout -outform DER -out "ec-$name-spki.der"
  openssl pkeyutl -sign -inkey "ec-$name.pem" -in "digest-$h.bin" -pkeyopt digest:"$h" \
    -out "ec-$name-$h.sig"
done
rm -f rsa.pem dsa.pem dsa-params.pem ec-*.pem
