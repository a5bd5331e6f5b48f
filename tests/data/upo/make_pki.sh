#!/bin/sh
# A small test PKI for receipts, made by `openssl ca` with fixed dates (valid
# until 2036 where the test asks for a live certificate) and fixed serials:
#   root (self-signed) -> intermediate -> signers, TSA, OCSP responder
#   signer-rsa (RSA 2048), signer-ec (EC P-256), signer-revoked,
#   signer-hold (certificateHold), signer-expired (2020-01-01 .. 2021-01-01)
# and four CRLs: the root's (empty), the intermediate's with the revoked
# signer, the intermediate's with the held signer, the intermediate's of 2020. Revocations are dated
# 2026-10-01 (before every signing time the receipts carry).
# Outputs: pki/NAME.{key,pem,der}, roots/ (the trust folder the example
# reads: root and intermediate), crl/*.{der,pem}. Keys are test keys, kept so
# make_upo.sh can be run again alone. Run from anywhere; needs openssl and
# faketime (for the revocation date).
set -eu
cd "$(dirname "$0")"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT
rm -rf pki roots crl
mkdir -p pki roots crl

{
  printf '[ca]\ndefault_ca = root\n'
  for ca in root inter; do
    printf '[%s]\ndir = %s\ndatabase = $dir/index.txt\nserial = $dir/serial\n' "$ca" "$W/$ca"
    printf 'crlnumber = $dir/crlnumber\nnew_certs_dir = $dir\ndefault_md = sha256\npolicy = any\n'
    printf 'preserve = yes\nunique_subject = no\nemail_in_dn = no\ncopy_extensions = none\n'
  done
} > "$W/ca.cnf"
cat >> "$W/ca.cnf" <<CNF
[any]
countryName = optional
organizationName = optional
organizationalUnitName = optional
commonName = supplied
[v_root]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[v_inter]
basicConstraints = critical,CA:TRUE,pathlen:0
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[v_signer]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature,nonRepudiation
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[v_tsa]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = critical,timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[v_ocsp]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = critical,OCSPSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[v_crl]
authorityKeyIdentifier = keyid
CNF
for ca in root inter; do
  mkdir -p "$W/$ca"
  : > "$W/$ca/index.txt"
  printf '01\n' > "$W/$ca/crlnumber"
done
printf '1000\n' > "$W/root/serial"
printf '2000\n' > "$W/inter/serial"

key() { # name rsa|ec
  if [ "$2" = ec ]; then
    openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 \
      -pkeyopt ec_param_enc:named_curve -out "pki/$1.key" 2>/dev/null
  else
    openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "pki/$1.key" 2>/dev/null
  fi
}
issue() { # name rsa|ec subject ca extensions start end [-selfsign]
  key "$1" "$2"
  openssl req -new -key "pki/$1.key" -subj "$3" -out "$W/$1.csr"
  if [ "$4" = root ]; then signkey=pki/root.key; cacert=""; else signkey=pki/intermediate.key; cacert="-cert pki/intermediate.pem"; fi
  [ "$4" = root ] && [ "$1" != root ] && cacert="-cert pki/root.pem"
  # shellcheck disable=SC2086
  openssl ca -batch -notext -config "$W/ca.cnf" -name "$4" -keyfile "$signkey" $cacert \
    -extensions "$5" -startdate "$6" -enddate "$7" -in "$W/$1.csr" -out "pki/$1.pem" ${8:-} 2>/dev/null
  openssl x509 -in "pki/$1.pem" -outform DER -out "pki/$1.der"
}

O="/C=PL/O=Urzad Testowy Przyjmowania Deklaracji"
issue root rsa "$O/CN=UPO Test Root CA" root v_root 20190101000000Z 20361231235959Z -selfsign
issue intermediate rsa "$O/CN=UPO Test Intermediate CA" root v_inter 20190102000000Z 20361230235959Z
issue signer-rsa rsa "$O/OU=Bramka/CN=Serwer UPO" inter v_signer 20200101000000Z 20361201000000Z
issue signer-ec ec "$O/OU=Bramka/CN=Serwer UPO EC" inter v_signer 20200101000000Z 20361201000000Z
issue tsa rsa "$O/CN=UPO Test TSA" inter v_tsa 20190601000000Z 20361201000000Z
issue ocsp rsa "$O/CN=UPO Test OCSP" inter v_ocsp 20190601000000Z 20361201000000Z
issue signer-revoked rsa "$O/OU=Bramka/CN=Serwer UPO Uniewazniony" inter v_signer 20200101000000Z 20361201000000Z
issue signer-hold rsa "$O/OU=Bramka/CN=Serwer UPO Zawieszony" inter v_signer 20200101000000Z 20361201000000Z
issue signer-expired rsa "$O/OU=Bramka/CN=Serwer UPO Wygasly" inter v_signer 20200101000000Z 20210101000000Z

# The trust folder: the root (installed as a root) and the intermediate (an
# additional certificate), DER with the .crt extension.
cp pki/root.der roots/root.crt
cp pki/intermediate.der roots/intermediate.crt

crl() { # ca-name cert key out
  openssl ca -batch -config "$W/ca.cnf" -name "$1" -cert "$2" -keyfile "$3" -gencrl \
    -crlexts v_crl -crl_lastupdate 20261103000000Z -crl_nextupdate 20361101000000Z \
    -out "crl/$4.pem" 2>/dev/null
  openssl crl -in "crl/$4.pem" -outform DER -out "crl/$4.der"
}
crl root pki/root.pem pki/root.key root
# The intermediate's CRL of 2020-07-01 (empty): issued while the expired signer was valid and
# after its 2020 time-stamp, the revocation data a receipt of that signer can carry.
openssl ca -batch -config "$W/ca.cnf" -name inter -cert pki/intermediate.pem \
  -keyfile pki/intermediate.key -gencrl -crlexts v_crl -crl_lastupdate 20200701000000Z \
  -crl_nextupdate 20210701000000Z -out crl/intermediate-2020.pem 2>/dev/null
openssl crl -in crl/intermediate-2020.pem -outform DER -out crl/intermediate-2020.der
# The index files are copied so the two intermediate CRLs list one entry each.
cp "$W/inter/index.txt" "$W/inter/index.clean"
faketime '2026-10-01 08:00:00' openssl ca -batch -config "$W/ca.cnf" -name inter \
  -cert pki/intermediate.pem -keyfile pki/intermediate.key -revoke pki/signer-revoked.pem \
  -crl_reason keyCompromise 2>/dev/null
crl inter pki/intermediate.pem pki/intermediate.key intermediate-revoked
cp "$W/inter/index.clean" "$W/inter/index.txt"
faketime '2026-10-01 08:00:00' openssl ca -batch -config "$W/ca.cnf" -name inter \
  -cert pki/intermediate.pem -keyfile pki/intermediate.key -revoke pki/signer-hold.pem \
  -crl_hold holdInstructionNone 2>/dev/null
crl inter pki/intermediate.pem pki/intermediate.key intermediate-hold

# Checks by openssl itself: paths and CRLs as the tests expect them.
cat pki/root.pem crl/root.pem > "$W/chain-crl.pem"
v() { openssl verify -attime 1798000000 -CAfile pki/root.pem -untrusted pki/intermediate.pem "$@"; }
v pki/signer-rsa.pem pki/signer-ec.pem pki/tsa.pem pki/ocsp.pem >/dev/null
v -crl_check -CRLfile crl/intermediate-revoked.pem pki/signer-revoked.pem >/dev/null 2>&1 &&
  { echo "revoked signer passed its CRL" >&2; exit 1; }
v -crl_check -CRLfile crl/intermediate-hold.pem pki/signer-hold.pem >/dev/null 2>&1 &&
  { echo "held signer passed its CRL" >&2; exit 1; }
v -crl_check -CRLfile crl/intermediate-revoked.pem pki/signer-rsa.pem >/dev/null
v pki/signer-expired.pem >/dev/null 2>&1 && { echo "expired signer verified" >&2; exit 1; }
openssl verify -attime 1592215200 -CAfile pki/root.pem -untrusted pki/intermediate.pem \
  pki/signer-expired.pem >/dev/null
echo "PKI made in $(pwd)"
