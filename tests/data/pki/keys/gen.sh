#!/bin/sh
# Keys and signatures made by openssl for the key-structure tests. Run from
# this folder; the outputs are committed (signatures are not reproducible).
# manifest.txt: name key.der sig.bin kind hash salt expected
#   kind: v15 | pss | dsa | ecdsa; hash: openssl digest name; salt: PSS salt
#   length (- otherwise); expected: 1 valid, 0 invalid.
set -eu
printf 'The quick brown fox jumps over the lazy dog.\n' > msg.bin
: > manifest.txt

pub() { openssl pkey -in "$1.pem" -pubout -outform DER -out "$1.spki.der"; }
row() { echo "$*" >> manifest.txt; }

for bits in 1024 2048 3072 4096; do
  n=rsa$bits
  openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:$bits -out $n.pem 2>/dev/null
  pub $n
  openssl rsa -in $n.pem -traditional -outform DER -out $n.pkcs1.der 2>/dev/null
  openssl dgst -sha256 -sign $n.pem -out $n.v15.sig msg.bin
  row $n.v15 $n.spki.der $n.v15.sig v15 sha256 - 1
  openssl dgst -sha256 -sign $n.pem -sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:32 \
      -sigopt rsa_mgf1_md:sha256 -out $n.pss.sig msg.bin
  row $n.pss $n.spki.der $n.pss.sig pss sha256 32 1
done
openssl dgst -sha1 -sign rsa2048.pem -out rsa2048.v15sha1.sig msg.bin
row rsa2048.v15sha1 rsa2048.spki.der rsa2048.v15sha1.sig v15 sha1 - 1
openssl dgst -sha512 -sign rsa3072.pem -sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:20 \
    -sigopt rsa_mgf1_md:sha1 -out rsa3072.pss512.sig msg.bin
# MGF1 over SHA-1 with SHA-512: the test names the MGF hash in the kind
row rsa3072.pss512 rsa3072.spki.der rsa3072.pss512.sig pss-mgf1sha1 sha512 20 1
# a signature checked against another key
row rsa2048.wrongkey rsa3072.spki.der rsa2048.v15.sig v15 sha256 - 0

# RSASSA-PSS keys: with parameters in the key's AlgorithmIdentifier and without
openssl genpkey -algorithm RSA-PSS -pkeyopt rsa_keygen_bits:2048 -pkeyopt rsa_pss_keygen_md:sha256 \
    -pkeyopt rsa_pss_keygen_mgf1_md:sha256 -pkeyopt rsa_pss_keygen_saltlen:32 -out rsapss_params.pem 2>/dev/null
pub rsapss_params
openssl dgst -sha256 -sign rsapss_params.pem -out rsapss_params.sig msg.bin
row rsapss_params rsapss_params.spki.der rsapss_params.sig pss sha256 32 1
openssl genpkey -algorithm RSA-PSS -pkeyopt rsa_keygen_bits:2048 -out rsapss_noparams.pem 2>/dev/null
pub rsapss_noparams
openssl dgst -sha256 -sign rsapss_noparams.pem -sigopt rsa_pss_saltlen:32 -out rsapss_noparams.sig msg.bin
row rsapss_noparams rsapss_noparams.spki.der rsapss_noparams.sig pss sha256 32 1

# DSA
openssl genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:2048 -pkeyopt dsa_paramgen_q_bits:256 \
    -out dsa.param.pem 2>/dev/null
openssl genpkey -paramfile dsa.param.pem -out dsa2048.pem
pub dsa2048
openssl dsa -in dsa2048.pem -outform DER -out dsa2048.prv.der 2>/dev/null
# DSA signature algorithms are known with SHA-1 (and RIPEMD-160) only
openssl dgst -sha1 -sign dsa2048.pem -out dsa2048.sig msg.bin
row dsa2048 dsa2048.spki.der dsa2048.sig dsa sha1 - 1

# EC: named and explicit parameters, prime and binary fields
ec() { # name curve encoding hash
  openssl ecparam -name "$2" -genkey -param_enc "$3" -noout -out "$1.pem" 2>/dev/null
  openssl ec -in "$1.pem" -param_enc "$3" -pubout -outform DER -out "$1.spki.der" 2>/dev/null
  openssl ec -in "$1.pem" -param_enc "$3" -outform DER -out "$1.prv.der" 2>/dev/null
  openssl dgst -"$4" -sign "$1.pem" -out "$1.sig" msg.bin
  row "$1" "$1.spki.der" "$1.sig" ecdsa "$4" - 1
}
ec p256 prime256v1 named_curve sha256
ec p384 secp384r1 named_curve sha384
ec p521 secp521r1 named_curve sha512
ec p256x prime256v1 explicit sha256
ec bp256 brainpoolP256r1 named_curve sha256
ec bp384x brainpoolP384r1 explicit sha384
ec k256 secp256k1 named_curve sha256
ec b283k sect283k1 named_curve sha256
ec b233x sect233r1 explicit sha256
ec b163 sect163k1 named_curve sha1
row p256.wrongkey p384.spki.der p256.sig ecdsa sha256 - 0
rm -f ./*.pem dsa.param.pem
