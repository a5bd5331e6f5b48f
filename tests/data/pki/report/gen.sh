#!/usr/bin/env bash
# What openssl reads from the certificates and keys that the report tests
# print: three more RSA-PSS certificates (made here), then one TSV row per
# certificate and per key. Run from this folder; the outputs are committed
# (signatures and dates cannot be reproduced).
#
# keys.tsv: file, then the key fields: keyBits algorithm curve pssHash pssMgfHash pssSalt keyHex
#   keyBits and algorithm as openssl prints them; curve: openssl's ASN1 OID
#   name, for explicit parameters the named curve whose explicit encoding
#   (openssl ecparam) equals the key's, else "-"; the PSS restrictions of an
#   RSASSA-PSS key ("-" each when none); keyHex the BIT STRING content after
#   its unused-bits octet, cut out at the offsets asn1parse gives.
# certs.tsv: file subject issuer serial notBefore notAfter version sigAlg sigPssHash sigPssMgfHash
#   sigPssSalt, then the subject key's fields as above. Names as
#   "C=PL; O=Test; CN=x", serial in openssl's hexadecimal, times ISO 8601,
#   sigAlg openssl's name, the PSS fields "-" for other signatures.
set -euo pipefail
cd "$(dirname "$0")"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT

pss_cert() { # name md mgf1md salt
  openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$W/$1.key" 2>/dev/null
  openssl req -x509 -key "$W/$1.key" -subj "/C=PL/CN=$1" -days 365 -"$2" -sigopt rsa_padding_mode:pss \
    -sigopt rsa_mgf1_md:"$3" -sigopt rsa_pss_saltlen:"$4" -set_serial 0x00 -outform DER -out "$1.der"
}
if [ "${1:-}" = "--new" ] || [ ! -f pss_sha512_mgf1sha1_0.der ]; then
  pss_cert pss_sha512_mgf1sha1_0 sha512 sha1 0
  pss_cert pss_sha384_48 sha384 sha384 48
  pss_cert pss_sha1_20 sha1 sha1 20
fi

C=../certs
K=../keys
# "offset header-length length" of the first asn1parse line matching $2 in DER file $1
tlv_at() {
  line=$(openssl asn1parse -inform DER -in "$1" | grep -m1 "$2")
  echo "$(echo "$line" | sed 's/^ *\([0-9]*\):.*/\1/') $(echo "$line" | sed 's/.*hl= *\([0-9]*\).*/\1/')" \
    "$(echo "$line" | sed 's/.*l= *\([0-9]*\) .*/\1/')"
}
# hash, MGF1 hash and salt from openssl's text of RSA-PSS parameters ("-" each when none)
pss_fields() {
  h=$(grep -m1 'Hash Algorithm:' <<< "$1" | sed 's/.*Hash Algorithm: *\([^ ]*\).*/\1/' || true)
  m=$(grep -m1 'Mask Algorithm:' <<< "$1" | sed 's/.*with \([^ ]*\).*/\1/' || true)
  s=$(grep -m1 'Salt Length:' <<< "$1" | sed 's/.*Salt Length: *\([^ ]*\).*/\1/' || true)
  printf '%s\t%s\t%s' "${h:--}" "${m:--}" "${s:--}"
}
# the key fields of a DER SubjectPublicKeyInfo
key_fields() {
  text=$(openssl pkey -pubin -inform DER -in "$1" -noout -text_pub)
  bits=$(sed -n 's/.*Public-Key: (\([0-9]*\) bit).*/\1/p' <<< "$text")
  alg=$(openssl asn1parse -inform DER -in "$1" | grep -m1 'OBJECT' | sed 's/.*:\([^:]*\)$/\1/')
  curve=$(sed -n 's/^ASN1 OID: //p' <<< "$text")
  if [ -z "$curve" ] && grep -q 'Field Type' <<< "$text"; then
    # explicit parameters: the SEQUENCE inside the algorithm identifier
    read -r off hl len <<< "$(tlv_at "$1" 'd=2 .*SEQUENCE')"
    dd if="$1" bs=1 skip="$off" count=$((hl + len)) 2>/dev/null > "$W/params.der"
    for c in prime256v1 brainpoolP384r1 sect233r1; do
      openssl ecparam -name $c -param_enc explicit -outform DER -out "$W/c.der"
      if cmp -s "$W/c.der" "$W/params.der"; then curve=$c; fi
    done
  fi
  case $alg in rsassaPss) pss=$(pss_fields "$text") ;; *) pss=$(printf -- '-\t-\t-') ;; esac
  read -r off hl len <<< "$(tlv_at "$1" 'd=1 .*BIT STRING')"
  hex=$(dd if="$1" bs=1 skip=$((off + hl + 1)) count=$((len - 1)) 2>/dev/null | xxd -p -u | tr -d '\n')
  printf '%s\t%s\t%s\t%s\t%s' "$bits" "$alg" "${curve:--}" "$pss" "$hex"
}
name_opt=sep_semi_plus_space,sname,utf8,esc_ctrl,-esc_msb

for f in rsa2048 rsa4096 rsapss_params rsapss_noparams dsa2048 p256 p384 p521 p256x bp256 bp384x k256 b283k \
    b233x b163; do
  printf '%s\t%s\n' "$f" "$(key_fields $K/$f.spki.der)"
done > keys.tsv

for f in $C/v3_rsa.der $C/v1_rsa.der $C/gentime_ec.der $C/ec_ca.der $C/pss_fixed.der $C/pss_free.der \
    $C/pss_signed.der $C/vectors/dsa_selfsigned_ca.pem $C/vectors/rsa_pss_cert.pem $C/vectors/ecdsa_root.pem \
    pss_sha512_mgf1sha1_0.der pss_sha384_48.der pss_sha1_20.der; do
  case $f in *.pem) form=PEM ;; *) form=DER ;; esac
  x() { openssl x509 -inform $form -in "$f" -noout "$@"; }
  subject=$(x -subject -nameopt $name_opt | sed 's/^subject=//')
  issuer=$(x -issuer -nameopt $name_opt | sed 's/^issuer=//')
  serial=$(x -serial | sed 's/^serial=//')
  nb=$(x -startdate -dateopt iso_8601 | sed 's/^notBefore=//')
  na=$(x -enddate -dateopt iso_8601 | sed 's/^notAfter=//')
  text=$(x -text -certopt no_pubkey,no_sigdump,no_extensions)
  version=$(sed -n 's/^ *Version: \([0-9]*\).*/\1/p' <<< "$text")
  sig=$(grep -m1 'Signature Algorithm:' <<< "$text" | sed 's/.*Signature Algorithm: *\([^ ]*\).*/\1/')
  case $sig in rsassaPss) pss=$(pss_fields "$text") ;; *) pss=$(printf -- '-\t-\t-') ;; esac
  openssl x509 -inform $form -in "$f" -noout -pubkey | openssl pkey -pubin -outform DER -out "$W/spki.der"
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "${f#$C/}" "$subject" "$issuer" "$serial" "$nb" "$na" \
    "$version" "$sig" "$pss" "$(key_fields "$W/spki.der")"
done > certs.tsv
