#!/usr/bin/env bash
# Makes the PKCS#5/#8/#12 and CMS EnvelopedData fixtures with openssl (3.x).
# Keys, salts and IVs are random: the outputs are committed, rerun only to
# replace them all.
set -euo pipefail
cd "$(dirname "$0")"
legacy=(-provider legacy -provider default)
pw=vorin-test
rm -f *.der *.p12 *.pem *.tsv *.bin

# --- PKCS#12 key derivation (RFC 7292 appendix B) ---
# id, iterations, key octets, password (hex, BMPString with terminator), salt (hex), key (hex)
bmp() { printf '%s' "$1" | iconv -f UTF-8 -t UTF-16BE | xxd -p | tr -d '\n'; printf '0000'; }
kdf() {
  local id=$1 iter=$2 len=$3 pass=$4 salt=$5 out
  out=$(openssl kdf -keylen "$len" -kdfopt digest:SHA1 -kdfopt hexpass:"$pass" \
        -kdfopt hexsalt:"$salt" -kdfopt iter:"$iter" -kdfopt id:"$id" PKCS12KDF | tr -d ':')
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$id" "$iter" "$len" "$pass" "$salt" "$out" >> kdf.tsv
}
p1=$(bmp smeg); p2=$(bmp queeg)
long=$(bmp 'a password of forty characters, or more')   # 82 octets
kdf 1 1 24 "$p1" 0a58cf64530d823f
kdf 2 1 8 "$p1" 0a58cf64530d823f
kdf 1 1000 24 "$p2" 1682c0fc5b3f7ec5
kdf 2 1000 8 "$p2" 1682c0fc5b3f7ec5
kdf 3 1 20 "$p2" 3d83c0e4546ac140
kdf 1 2048 5 "$p1" 05deadbeefcafe01
kdf 1 2048 24 "$long" 05deadbeefcafe01
kdf 1 3 40 "$p1" "$(printf '%0140x' 7)"   # 70-octet salt, three blocks of output
kdf 3 1 20 0000 0102030405060708            # the empty password's terminator alone

# --- keys and a certificate ---
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa.pem 2>/dev/null
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -pkeyopt ec_param_enc:named_curve -out ec.pem
openssl genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:2048 -out dsaparam.pem 2>/dev/null
openssl genpkey -paramfile dsaparam.pem -out dsa.pem
rm dsaparam.pem
openssl rsa -in rsa.pem -traditional -outform DER -out rsa_pkcs1.der 2>/dev/null
openssl ec -in ec.pem -outform DER -out ec_sec1.der 2>/dev/null
openssl req -x509 -new -key rsa.pem -subj "/CN=Vorin PKCS test/O=Test" -days 3650 -outform DER -out cert.der
openssl req -x509 -new -key ec.pem -subj "/CN=Vorin EC recipient" -days 3650 -out ec_cert.pem
openssl x509 -in cert.der -inform DER -out cert.pem

# --- PKCS#8 ---
for k in rsa ec dsa; do
  openssl pkcs8 -topk8 -nocrypt -in $k.pem -outform DER -out ${k}_p8.der
  openssl pkcs8 -topk8 -v1 PBE-SHA1-3DES -passout pass:$pw -in $k.pem -outform DER -out ${k}_p8_3des.der
done
openssl pkcs8 -topk8 -v1 PBE-SHA1-RC2-40 "${legacy[@]}" -passout pass:$pw -in rsa.pem -outform DER -out rsa_p8_rc2.der
openssl pkcs8 -topk8 -v2 aes256 -passout pass:$pw -in rsa.pem -outform DER -out rsa_p8_aes256.der
# PBES2 over each PRF (HMAC-SHA-1 is the default, written without the prf) and each AES key size.
for v in aes-128-cbc:hmacWithSHA1:aes128_sha1 aes-192-cbc:hmacWithSHA224:aes192_sha224 \
         aes-256-cbc:hmacWithSHA384:aes256_sha384 aes-128-cbc:hmacWithSHA512:aes128_sha512; do
  IFS=: read -r cipher prf name <<< "$v"
  openssl pkcs8 -topk8 -v2 "$cipher" -v2prf "$prf" -passout pass:$pw -in rsa.pem -outform DER \
    -out "rsa_p8_$name.der"
done

# --- PKCS#12 ---
openssl pkcs12 -export -in cert.pem -inkey rsa.pem -name "vorin key" -passout pass:$pw \
  -keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-3DES -macalg sha1 -out rsa_3des.p12
openssl pkcs12 -export -legacy -in cert.pem -inkey rsa.pem -passout pass:$pw -out rsa_legacy.p12
openssl pkcs12 -export -in cert.pem -inkey rsa.pem -passout pass:$pw -out rsa_aes.p12   # PBES2, SHA-256 MAC

# --- CMS EnvelopedData ---
printf 'Enveloped content for the TAL-VORIN tests.\nSecond line, so that it spans blocks.\n' > content.bin
openssl cms -encrypt -binary -aes256 -in content.bin -recip cert.pem -outform DER -out ktri_aes.der
openssl cms -encrypt -binary -des3 -in content.bin -recip cert.pem -outform DER -out ktri_3des.der
openssl cms -encrypt -binary -stream -aes128 -in content.bin -recip cert.pem -outform DER -out ktri_stream.der
kek=000102030405060708090a0b0c0d0e0f
printf '%s\n' "$kek" > kek.hex
openssl cms -encrypt -binary -aes128 -secretkey $kek -secretkeyid 0a0b0c0d -in content.bin -outform DER -out kekri.der
openssl cms -encrypt -binary -stream -aes128 -secretkey $kek -secretkeyid 0a0b0c0d -in content.bin -outform DER -out kekri_stream.der
openssl cms -encrypt -binary -aes128 -recip ec_cert.pem -in content.bin -outform DER -out kari.der
openssl cms -encrypt -binary -aes128 -pwri_password $pw -in content.bin -outform DER -out pwri.der
rm -f ec_cert.pem cert.pem
./make_longpw.sh
