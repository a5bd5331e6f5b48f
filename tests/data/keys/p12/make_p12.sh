#!/bin/sh
# PKCS#12 key profiles made by openssl pkcs12 -export (keytool joins two of them into one file),
# session keys wrapped by openssl pkeyutl -encrypt (RSA PKCS#1 v1.5), blocks that are no PKCS#1
# v1.5 encryption, contents encrypted by openssl enc, and signatures by openssl pkeyutl -sign.
# Keys, salts and signatures are random: the generated files are committed; run again only to
# replace them all.
set -eu
cd "$(dirname "$0")"
PIN=vorin-PIN
rm -f ./*.p12 ./*.der ./*.bin ./*.sig ./*.key ./*.enc ./*.plain ./*.txt
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# A self-signed certificate of a key with a keyUsage (none: no extension).
cert() { # key out usage
  cfg=$tmp/$2.cnf
  printf '[req]\ndistinguished_name=dn\nprompt=no\n[dn]\nCN=%s\nO=TAL-VORIN test\n[ext]\nbasicConstraints=CA:FALSE\n' "$2" > "$cfg"
  [ "$3" = none ] || printf 'keyUsage=critical,%s\n' "$3" >> "$cfg"
  openssl req -new -x509 -key "$1" -days 7300 -config "$cfg" -extensions ext \
    -set_serial "0x$(openssl rand -hex 8)" -out "$tmp/$2.pem"
  openssl x509 -in "$tmp/$2.pem" -outform DER -out "$2.der"
}
legacy() { # key cert out [extra]
  out=$3; key=$1; crt=$2; shift 3
  openssl pkcs12 -export -legacy -inkey "$key" -in "$crt" -passout "pass:$PIN" -out "$out" "$@"
}

openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$tmp/both.key" 2>/dev/null
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$tmp/sign.key" 2>/dev/null
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$tmp/dec.key" 2>/dev/null
openssl genpkey -algorithm RSA-PSS -pkeyopt rsa_keygen_bits:2048 -out "$tmp/pss.key" 2>/dev/null
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:prime256v1 -out "$tmp/ec.key"
cert "$tmp/both.key" both none
cert "$tmp/sign.key" sign digitalSignature,nonRepudiation
cert "$tmp/dec.key" dec keyEncipherment
cert "$tmp/pss.key" pss digitalSignature
cert "$tmp/ec.key" ec digitalSignature
# The certificate of another EC key on the same curve: one that no key of the files pairs with.
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:prime256v1 -out "$tmp/other-ec.key"
cert "$tmp/other-ec.key" other-ec digitalSignature

# One RSA key for both usages: legacy (RC2-40 certificates, triple-DES key), triple DES
# throughout, no MAC, PBES2 with AES-256 and an HMAC-SHA-256 MAC (the openssl 3 defaults),
# PBES2 with AES-128 and AES-192 and an HMAC-SHA-512 MAC, PINs that are not ASCII (one with a
# character beyond the 16-bit range).
legacy "$tmp/both.key" "$tmp/both.pem" both-legacy.p12
openssl pkcs12 -export -inkey "$tmp/both.key" -in "$tmp/both.pem" -passout "pass:$PIN" \
  -keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-3DES -macalg sha1 -out both-3des.p12
legacy "$tmp/both.key" "$tmp/both.pem" both-nomac.p12 -nomac
openssl pkcs12 -export -inkey "$tmp/both.key" -in "$tmp/both.pem" -passout "pass:$PIN" \
  -out both-aes.p12
openssl pkcs12 -export -inkey "$tmp/both.key" -in "$tmp/both.pem" -passout "pass:$PIN" \
  -keypbe AES-128-CBC -certpbe AES-192-CBC -macalg sha512 -out both-aes-sha512.p12
openssl pkcs12 -export -inkey "$tmp/both.key" -in "$tmp/both.pem" -passout "pass:zażółć 🔑" \
  -out both-aes-utf8pin.p12
openssl pkcs12 -export -legacy -inkey "$tmp/both.key" -in "$tmp/both.pem" \
  -passout "pass:zażółć gęślą" -out both-utf8pin.p12
# A PIN in Windows-1250 octets, not UTF-8: the PKCS#12 schemes take its octets one by one,
# PBES2 takes the octets themselves.
printf 'za\277\363\263\346\n' > "$tmp/pin1250"
openssl pkcs12 -export -inkey "$tmp/both.key" -in "$tmp/both.pem" -passout "file:$tmp/pin1250" \
  -out both-aes-cp1250pin.p12
openssl pkcs12 -export -legacy -inkey "$tmp/both.key" -in "$tmp/both.pem" \
  -passout "file:$tmp/pin1250" -out both-cp1250pin.p12
# The key alone.
openssl pkcs12 -export -legacy -inkey "$tmp/both.key" -nocerts -passout "pass:$PIN" \
  -out nocert.p12
# Separate signing and decryption keys, each alone and both in one file.
legacy "$tmp/sign.key" "$tmp/sign.pem" sign.p12 -name sign
legacy "$tmp/dec.key" "$tmp/dec.pem" dec.p12 -name dec
legacy "$tmp/ec.key" "$tmp/ec.pem" ec.p12 -name ec
# An EC key written without its public point: paired with its certificate all the same.
openssl ec -in "$tmp/ec.key" -no_public -out "$tmp/ec-nopub.key" 2>/dev/null
legacy "$tmp/ec-nopub.key" "$tmp/ec.pem" ec-nopub.p12
legacy "$tmp/pss.key" "$tmp/pss.pem" pss.p12
# An RSA key of 1024 bits: PKCS#1 v1.5 signs SHA-512 with it, PSS (salt as long as the hash) cannot.
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out "$tmp/small.key" 2>/dev/null
cert "$tmp/small.key" small digitalSignature
legacy "$tmp/small.key" "$tmp/small.pem" small.p12
rm small.der
join() { # out first second
  keytool -J-Dkeystore.pkcs12.legacy -importkeystore -noprompt -srcstoretype PKCS12 \
    -srckeystore "$2" -srcstorepass "$PIN" -deststoretype PKCS12 -destkeystore "$tmp/$1" \
    -deststorepass "$PIN" >/dev/null 2>&1
  keytool -J-Dkeystore.pkcs12.legacy -importkeystore -noprompt -srcstoretype PKCS12 \
    -srckeystore "$3" -srcstorepass "$PIN" -deststoretype PKCS12 -destkeystore "$tmp/$1" \
    -deststorepass "$PIN" >/dev/null 2>&1
  cp "$tmp/$1" "$1"
}
join sign-dec.p12 sign.p12 dec.p12
join sign-ec.p12 sign.p12 ec.p12
openssl pkcs12 -in sign-dec.p12 -passin "pass:$PIN" -legacy -nokeys -noout
printf 'not a PKCS#12 file\n' > garbage.p12

# Session keys for the decryption keys, wrapped with PKCS#1 v1.5.
for k in dec:16 dec:24 dec:32 both:16; do
  name=${k%%:*}; n=${k##*:}
  openssl rand "$n" > "ses-$name-$n.key"
  openssl pkeyutl -encrypt -certin -inkey "$tmp/$name.pem" -pkeyopt rsa_padding_mode:pkcs1 \
    -in "ses-$name-$n.key" -out "ses-$name-$n.bin"
  openssl pkeyutl -decrypt -inkey "$tmp/$name.key" -in "ses-$name-$n.bin" | cmp - "ses-$name-$n.key"
done
# Blocks of the decryption key's size that are no PKCS#1 v1.5 encryption, encrypted raw:
# block type 1, no zero after the padding, seven padding octets, an empty message.
openssl pkey -in "$tmp/dec.key" -pubout -out "$tmp/dec.pub"
block() { # out hex-of-the-first-octets trailing-octets-hex
  pad=$((256 - ${#2} / 2 - ${#3} / 2))
  { printf '%s' "$2" | xxd -r -p; openssl rand "$pad" | tr '\000' '\001'; printf '%s' "$3" | xxd -r -p; } > "$tmp/$1.raw"
  openssl pkeyutl -encrypt -pubin -inkey "$tmp/dec.pub" -pkeyopt rsa_padding_mode:none \
    -in "$tmp/$1.raw" -out "$1"
}
block bad-type1.bin 0001 00112233445566778899aabbccddeeff
block bad-nozero.bin 0002 ""
block bad-short.bin 000201020304050607000000 ""
block bad-empty.bin 0002 00
# Contents: AES-128, AES-256 and triple DES in CBC with the PKCS#7 padding openssl writes, and
# AES-192 with padding of arbitrary octets and a count, as XML Encryption allows.
printf '<Dane><Kwota waluta="PLN">123.45</Kwota><Opis>Zażółć gęślą jaźń</Opis></Dane>\n' > content.plain
iv16=$(openssl rand -hex 16); iv8=$(openssl rand -hex 8)
printf '%s' "$iv16" | xxd -r -p > iv16.bin
printf '%s' "$iv8" | xxd -r -p > iv8.bin
openssl enc -aes-128-cbc -K "$(xxd -p -c 64 ses-dec-16.key)" -iv "$iv16" -in content.plain -out content-aes128.enc
openssl enc -aes-256-cbc -K "$(xxd -p -c 64 ses-dec-32.key)" -iv "$iv16" -in content.plain -out content-aes256.enc
openssl enc -des-ede3-cbc -K "$(xxd -p -c 64 ses-dec-24.key)" -iv "$iv8" -in content.plain -out content-3des.enc
len=$(wc -c < content.plain); pad=$((16 - len % 16))
{ cat content.plain; openssl rand $((pad - 1)); printf "\\$(printf '%03o' "$pad")"; } > "$tmp/padded"
openssl enc -aes-192-cbc -nopad -K "$(xxd -p -c 64 ses-dec-24.key)" -iv "$iv16" -in "$tmp/padded" -out content-aes192.enc

# Signatures of the digests of tests/data/keys/message.txt (copied here): RSA PKCS#1 v1.5 is
# deterministic, the others are checked by openssl here and by the library in the tests.
printf 'TAL-VORIN: podpis nad skrotem wiadomosci\n' > message.txt
for h in sha1 sha256 sha384 sha512; do
  openssl dgst -"$h" -binary message.txt > "digest-$h.bin"
  openssl pkeyutl -sign -inkey "$tmp/sign.key" -in "digest-$h.bin" -pkeyopt digest:"$h" \
    -out "sign-pkcs1-$h.sig"
done
openssl pkeyutl -sign -inkey "$tmp/both.key" -in digest-sha256.bin -pkeyopt digest:sha256 \
  -out both-pkcs1-sha256.sig
