#!/bin/sh
# Certificates and CRLs made by the openssl command line, plus a few files of
# Debian's python3-cryptography-vectors, and the expected answers computed by
# openssl itself: SHA-256 of every TBS part (asn1parse -strparse + dgst).
# The outputs are committed: signatures and dates cannot be reproduced.
set -eu
cd "$(dirname "$0")"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT

# ---- issuers: RSA-2048 and P-256 self-signed v3 CA certificates
openssl req -x509 -newkey rsa:2048 -nodes -keyout rsa_ca.key -subj "/C=PL/O=Test/CN=RSA CA" \
  -days 3650 -sha256 -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
  -out rsa_ca.pem 2>/dev/null
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout ec_ca.key \
  -subj "/C=PL/O=Test/CN=EC CA" -days 3650 -sha256 -addext basicConstraints=critical,CA:TRUE,pathlen:0 \
  -out ec_ca.pem 2>/dev/null

# ---- subjects
openssl req -new -newkey rsa:2048 -nodes -keyout "$W/leaf.key" -subj "/C=PL/O=Test/CN=leaf" -out "$W/leaf.csr" 2>/dev/null
openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$W/ecleaf.key" \
  -subj "/CN=ec leaf" -out "$W/ecleaf.csr" 2>/dev/null

cat > "$W/v3.ext" <<'X'
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,nonRepudiation
extendedKeyUsage=clientAuth,emailProtection
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid,issuer
subjectAltName=email:leaf@example.com,DNS:leaf.example.com
certificatePolicies=1.2.616.1.113527.2.5.1.3,2.5.29.32.0
crlDistributionPoints=URI:http://crl.example.com/ca.crl
authorityInfoAccess=OCSP;URI:http://ocsp.example.com,caIssuers;URI:http://ca.example.com/ca.crt
X
# v3 leaf under the RSA CA, every usual extension
openssl x509 -req -in "$W/leaf.csr" -CA rsa_ca.pem -CAkey rsa_ca.key -set_serial 0x0102030405060708090a0b0c \
  -days 365 -sha256 -extfile "$W/v3.ext" -out v3_rsa.pem 2>/dev/null
# v1 leaf (no extensions at all)
openssl x509 -req -in "$W/leaf.csr" -CA rsa_ca.pem -CAkey rsa_ca.key -set_serial 7 -days 365 -sha1 \
  -out v1_rsa.pem 2>/dev/null
# v3 leaf under the EC CA with SHA-384; notAfter past 2049 is a GeneralizedTime
openssl x509 -req -in "$W/ecleaf.csr" -CA ec_ca.pem -CAkey ec_ca.key -set_serial 0x00ff -days 15000 -sha384 \
  -extfile "$W/v3.ext" -out gentime_ec.pem 2>/dev/null
# RSA-PSS signature and keys: one key carrying PSS parameters, one without
openssl genpkey -algorithm RSA-PSS -pkeyopt rsa_keygen_bits:2048 -pkeyopt rsa_pss_keygen_md:sha256 \
  -pkeyopt rsa_pss_keygen_mgf1_md:sha256 -pkeyopt rsa_pss_keygen_saltlen:32 -out "$W/pss.key" 2>/dev/null
openssl req -x509 -key "$W/pss.key" -subj "/CN=PSS fixed" -days 365 -sha256 -out pss_fixed.pem 2>/dev/null
openssl genpkey -algorithm RSA-PSS -pkeyopt rsa_keygen_bits:2048 -out "$W/pss2.key" 2>/dev/null
openssl req -x509 -key "$W/pss2.key" -subj "/CN=PSS free" -days 365 -sha256 -sigopt rsa_padding_mode:pss \
  -sigopt rsa_pss_saltlen:20 -out pss_free.pem 2>/dev/null
openssl x509 -req -in "$W/leaf.csr" -CA rsa_ca.pem -CAkey rsa_ca.key -set_serial 9 -days 365 -sha256 \
  -sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:32 -out pss_signed.pem 2>/dev/null

# PEM with leading text (openssl's own -text dump) and a second certificate after it
{ openssl x509 -in v3_rsa.pem -text; cat rsa_ca.pem; } > leading_text.pem

# ---- CRLs through a minimal "openssl ca"
mkdir -p "$W/ca"
: > "$W/ca/index.txt"
echo 1000 > "$W/ca/crlnumber"
cat > "$W/ca.cnf" <<X
[ca]
default_ca = d
[d]
database = $W/ca/index.txt
crlnumber = $W/ca/crlnumber
default_md = sha256
default_crl_days = 30
[v1]
[v2]
crlNumber = @none
[none]
[idp]
issuingDistributionPoint = critical,@idpsect
authorityKeyIdentifier = keyid
[idpsect]
fullname = URI:http://crl.example.com/ca.crl
onlysomereasons = keyCompromise,CACompromise
X
sed -i 's/^crlNumber = @none$//' "$W/ca.cnf"
# without a CRL number (and without entry reasons) openssl writes a v1 CRL
grep -v '^crlnumber' "$W/ca.cnf" > "$W/ca1.cnf"
# v1: nothing revoked, no extensions
openssl ca -config "$W/ca1.cnf" -gencrl -cert rsa_ca.pem -keyfile rsa_ca.key -out crl_v1_empty.pem 2>/dev/null
# revoke three certificates: entries with reason and invalidity-date extensions
for s in 0A 0B; do
  printf 'R\t300101000000Z\t260101000000Z,keyCompromise\t%s\tunknown\t/CN=revoked %s\n' "$s" "$s" >> "$W/ca/index.txt"
done
printf 'R\t300101000000Z\t260201000000Z,keyTime,20260115000000Z\t0C\tunknown\t/CN=revoked 0C\n' >> "$W/ca/index.txt"
# v1 with entries cannot carry reasons: make one from an index without them
cp "$W/ca/index.txt" "$W/ca/index.full"
printf 'R\t300101000000Z\t260101000000Z\t0D\tunknown\t/CN=revoked 0D\n' > "$W/ca/index.txt"
openssl ca -config "$W/ca1.cnf" -gencrl -cert rsa_ca.pem -keyfile rsa_ca.key -out crl_v1.pem 2>/dev/null
cp "$W/ca/index.full" "$W/ca/index.txt"
# v2 with entry extensions and a critical issuing distribution point
openssl ca -config "$W/ca.cnf" -gencrl -crlexts idp -cert rsa_ca.pem -keyfile rsa_ca.key -out crl_v2_idp.pem 2>/dev/null
# v2 from the EC CA, nextUpdate past 2049 (GeneralizedTime)
openssl ca -config "$W/ca.cnf" -gencrl -crlexts idp -crldays 15000 -md sha384 -cert ec_ca.pem -keyfile ec_ca.key \
  -out crl_v2_ec_gentime.pem 2>/dev/null

# ---- DER forms
for f in v3_rsa v1_rsa gentime_ec pss_fixed pss_free pss_signed rsa_ca ec_ca; do
  openssl x509 -in $f.pem -outform DER -out $f.der
done
for f in crl_v1_empty crl_v1 crl_v2_idp crl_v2_ec_gentime; do
  openssl crl -in $f.pem -outform DER -out $f.der
done
# A v1 certificate whose TBS carries the DEFAULT version [0] 0 explicitly (not
# DER): only the received octets verify, a re-encoding drops the version.
python3 - "$W" <<'PY'
import sys
w = sys.argv[1]
from tlvutil import tlv, hdr
der = open('v1_rsa.der', 'rb').read()
h, n = tlv(der, 0)
th, tn = tlv(der, h)
body = der[h + th:h + th + tn]
open(w + '/tbs_explicit.der', 'wb').write(hdr(0x30, tn + 5) + bytes([0xA0, 3, 2, 1, 0]) + body)
PY
openssl dgst -sha1 -sign rsa_ca.key -out "$W/sig" "$W/tbs_explicit.der"
python3 - "$W" <<'PY'
import sys
w = sys.argv[1]
from tlvutil import hdr
tbs = open(w + '/tbs_explicit.der', 'rb').read()
sig = open(w + '/sig', 'rb').read()
alg = bytes.fromhex('300d06092a864886f70d0101050500')
bits = hdr(0x03, len(sig) + 1) + b'\x00' + sig
body = tbs + alg + bits
open('v1_explicit.der', 'wb').write(hdr(0x30, len(body)) + body)
PY
rm -f rsa_ca.key ec_ca.key

# ---- files of python3-cryptography-vectors
V=$(dirname "$(dpkg -L python3-cryptography-vectors | grep '/x509/v1_cert.pem$')")
mkdir -p vectors
for f in v1_cert.pem unique_identifier.pem custom/invalid_version.pem custom/valid_signature_cert.pem \
    custom/invalid_signature_cert.pem custom/valid_signature_crl.pem custom/invalid_signature_crl.pem \
    custom/crl_empty.pem custom/crl_no_next_update.pem custom/crl_dup_entry_ext.pem \
    custom/crl_idp_only_ca.pem custom/crl_almost_10k.pem custom/rsa_pss_cert.pem custom/dsa_selfsigned_ca.pem \
    custom/post2000utctime.pem cryptography.io.with_garbage.pem ecdsa_root.pem; do
  cp "$V/$f" vectors/
done
cp /usr/share/doc/python3-cryptography-vectors/copyright vectors/COPYRIGHT

# ---- expected answers: name, DER file, SHA-256 of the TBS part (openssl)
tbs_sha256() {
  off=$(openssl asn1parse -inform DER -in "$1" | sed -n 2p | sed 's/^ *\([0-9]*\):.*/\1/')
  openssl asn1parse -inform DER -in "$1" -strparse "$off" -noout -out "$W/tbs" >/dev/null
  openssl dgst -sha256 -r "$W/tbs" | cut -d' ' -f1
}
{
  for f in v3_rsa v1_rsa v1_explicit gentime_ec pss_fixed pss_free pss_signed rsa_ca ec_ca crl_v1_empty crl_v1 crl_v2_idp \
      crl_v2_ec_gentime; do
    printf '%s.der\t%s\n' $f "$(tbs_sha256 $f.der)"
  done
  for f in v1_cert unique_identifier valid_signature_cert invalid_signature_cert rsa_pss_cert dsa_selfsigned_ca \
      post2000utctime ecdsa_root; do
    openssl x509 -in vectors/$f.pem -outform DER -out "$W/v.der"
    printf 'vectors/%s.pem\t%s\n' $f "$(tbs_sha256 "$W/v.der")"
  done
  for f in valid_signature_crl invalid_signature_crl crl_empty crl_no_next_update crl_dup_entry_ext crl_idp_only_ca \
      crl_almost_10k; do
    openssl crl -in vectors/$f.pem -outform DER -out "$W/v.der"
    printf 'vectors/%s.pem\t%s\n' $f "$(tbs_sha256 "$W/v.der")"
  done
} > tbs_sha256.tsv
# what openssl says about each signature, for the record
{
  openssl x509 -inform DER -in v1_explicit.der -out "$W/e.pem"
  printf 'v1_explicit\t%s\n' "$(openssl verify -no_check_time -partial_chain -CAfile rsa_ca.pem "$W/e.pem" 2>&1 | tail -1 | sed 's/.*: //')"
  for f in v3_rsa v1_rsa pss_signed; do printf '%s\t%s\n' $f "$(openssl verify -no_check_time -partial_chain -CAfile rsa_ca.pem $f.pem 2>&1 | tail -1)"; done
  printf 'gentime_ec\t%s\n' "$(openssl verify -no_check_time -partial_chain -CAfile ec_ca.pem gentime_ec.pem 2>&1 | tail -1)"
  for f in crl_v1 crl_v2_idp; do printf '%s\t%s\n' $f "$(openssl crl -in $f.pem -CAfile rsa_ca.pem -noout 2>&1 | tail -1)"; done
  printf 'crl_v2_ec_gentime\t%s\n' "$(openssl crl -in crl_v2_ec_gentime.pem -CAfile ec_ca.pem -noout 2>&1 | tail -1)"
} > openssl_verify.txt
# what openssl reads from each CRL: version, revoked entries, nextUpdate there
{
  for f in crl_v1_empty.pem crl_v1.pem crl_v2_idp.pem crl_v2_ec_gentime.pem vectors/valid_signature_crl.pem \
      vectors/crl_empty.pem vectors/crl_no_next_update.pem vectors/crl_dup_entry_ext.pem vectors/crl_idp_only_ca.pem \
      vectors/crl_almost_10k.pem; do
    t=$(openssl crl -in $f -noout -text)
    v=$(echo "$t" | sed -n 's/^ *Version \([0-9]*\).*/\1/p')
    n=$(echo "$t" | grep -c 'Serial Number:' || true)
    u=$(echo "$t" | grep -c 'Next Update: NONE' || true)
    printf '%s\t%s\t%s\t%s\n' $f "$v" "$n" $((1 - u))
  done
} > crl_facts.tsv
