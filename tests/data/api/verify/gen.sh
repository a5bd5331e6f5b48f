#!/usr/bin/env bash
# A small PKI made by openssl for the verification services and the signature
# driver: a root and an intermediate CA (validity 2020-2045); end-entity
# certificates under the intermediate: a signer, a revoked signer, a
# keyEncipherment-only one, one with the signer's key and a keyUsage that is
# no BIT STRING, one valid only in 2021, a DSA signer, a time-stamping
# authority and its twin (same issuer, serial and subject, another key); CRLs
# of both CAs (current, and issued in 2021, 2023 and 2027); signatures by
# `openssl dgst -sign` over the SHA-256 of "data" (SHA-1 for DSA; <name>.sig);
# an `openssl ts -reply` token signed by the TSA; XAdES-BES documents signed
# by xmlsec1 with the signer's and the revoked signer's keys, and the XAdES-T
# form of the signer's: the TSA stamps the SHA-256 of the canonical
# ds:SignatureValue element, the token goes into an EncapsulatedTimeStamp; an
# RSASSA-PSS signer under a root of its own (pss() below); an ECDSA signer under another (ec()).
# Run from anywhere; the outputs are committed (signatures are not
# reproducible).
set -euo pipefail
cd "$(dirname "$0")"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT

# An RSASSA-PSS signer (SHA-256, MGF1 with SHA-256, salt 32) under a root of its own,
# whose key's own parameters name a digest nobody knows (the last octet of their SHA-256
# OID changed, the certificate signed again by the root over the changed TBS), and its
# PSS signature over "data": pss-root.der, pss-badparams.der, pss-badparams.sig.
# Self-contained: run on its own with `gen.sh pss`.
pss() {
  openssl req -new -x509 -newkey rsa:2048 -nodes -keyout "$W/pssroot.key" -subj "/C=PL/O=Driver Tests/CN=PSS Root" \
    -set_serial 0x2000 -days 7300 -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" -outform DER -out pss-root.der 2>/dev/null
  openssl genpkey -algorithm RSA-PSS -pkeyopt rsa_keygen_bits:2048 -pkeyopt rsa_pss_keygen_md:sha256 \
    -pkeyopt rsa_pss_keygen_mgf1_md:sha256 -pkeyopt rsa_pss_keygen_saltlen:32 -out "$W/pss.key" 2>/dev/null
  openssl req -new -key "$W/pss.key" -subj "/C=PL/O=Driver Tests/CN=PSS Signer" -out "$W/pss.csr"
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,nonRepudiation\n' > "$W/pss.ext"
  openssl x509 -req -in "$W/pss.csr" -CA pss-root.der -CAform DER -CAkey "$W/pssroot.key" -set_serial 0x2001 \
    -days 7300 -sha256 -extfile "$W/pss.ext" -outform DER -out "$W/pss.der" 2>/dev/null
  python3 - "$W/pss.der" "$W/tbs.der" <<'PY'
import sys
der = bytearray(open(sys.argv[1], 'rb').read())
pss = bytes.fromhex('06092a864886f70d01010a')
sha256 = bytes.fromhex('0609608648016503040201')
at = der.index(sha256, der.index(pss))  # inside the key's algorithm parameters
der[at + len(sha256) - 1] = 0x7f
assert der[0:2] == b'\x30\x82' and der[4:6] == b'\x30\x82'
tbs = der[4:8 + (der[6] << 8 | der[7])]
open(sys.argv[1], 'wb').write(der)
open(sys.argv[2], 'wb').write(tbs)
PY
  openssl dgst -sha256 -sign "$W/pssroot.key" -out "$W/tbs.sig" "$W/tbs.der"
  python3 - "$W/pss.der" "$W/tbs.sig" pss-badparams.der <<'PY'
import sys
der = open(sys.argv[1], 'rb').read()
sig = open(sys.argv[2], 'rb').read()
assert len(sig) == 256
open(sys.argv[3], 'wb').write(der[:-256] + sig)
PY
  openssl verify -CAfile <(openssl x509 -inform DER -in pss-root.der) \
    <(openssl x509 -inform DER -in pss-badparams.der) >/dev/null 2>&1 || true  # openssl cannot read the key
  printf 'data' > "$W/data"
  openssl dgst -sha256 -sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:32 -sigopt rsa_mgf1_md:sha256 \
    -sign "$W/pss.key" -out pss-badparams.sig "$W/data"
}
if [ "${1:-}" = pss ]; then
  pss
  exit 0
fi

# An ECDSA (P-256) signer under a root of its own and its signature over the SHA-256 of
# "data": ec-root.der, ec-signer.der, ec-signer.sig. Self-contained: `gen.sh ec`.
ec() {
  openssl req -new -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$W/ecroot.key" \
    -subj "/C=PL/O=Driver Tests/CN=EC Root" -set_serial 0x3000 -days 7300 -sha256 \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -outform DER -out ec-root.der 2>/dev/null
  openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$W/ec.key" \
    -subj "/C=PL/O=Driver Tests/CN=EC Signer" -out "$W/ec.csr" 2>/dev/null
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,nonRepudiation\n' > "$W/ec.ext"
  openssl x509 -req -in "$W/ec.csr" -CA ec-root.der -CAform DER -CAkey "$W/ecroot.key" -set_serial 0x3001 \
    -days 7300 -sha256 -extfile "$W/ec.ext" -outform DER -out ec-signer.der 2>/dev/null
  printf 'data' > "$W/data"
  openssl dgst -sha256 -sign "$W/ec.key" -out ec-signer.sig "$W/data"
  openssl verify -CAfile <(openssl x509 -inform DER -in ec-root.der) \
    <(openssl x509 -inform DER -in ec-signer.der) >/dev/null
}
if [ "${1:-}" = ec ]; then
  ec
  exit 0
fi

cadir() { # name
  mkdir -p "$W/$1"
  : > "$W/$1/index.txt"
  echo 1000 > "$W/$1/crlnumber"
  cat > "$W/$1/ca.cnf" <<CNF
[ca]
default_ca = c
[c]
dir = $W/$1
database = \$dir/index.txt
new_certs_dir = \$dir
crlnumber = \$dir/crlnumber
serial = \$dir/serial
default_md = sha256
policy = any
unique_subject = no
copy_extensions = none
[any]
countryName = optional
organizationName = optional
commonName = supplied
[v3_ca]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[signer]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature,nonRepudiation
[kenc]
basicConstraints = CA:FALSE
keyUsage = critical,keyEncipherment
[badku]
basicConstraints = CA:FALSE
2.5.29.15 = critical,DER:01:01:FF
[tsa]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = critical,timeStamping
[crl]
authorityKeyIdentifier = keyid
CNF
}

cadir root
cadir sub
openssl genrsa -out "$W/root.key" 2048 2>/dev/null
openssl req -new -key "$W/root.key" -subj "/C=PL/O=Driver Tests/CN=Driver Root" -out "$W/root.csr"
echo 01 > "$W/root/serial"
openssl ca -batch -selfsign -config "$W/root/ca.cnf" -keyfile "$W/root.key" -in "$W/root.csr" \
  -extensions v3_ca -startdate 20200101000000Z -enddate 20450101000000Z -notext \
  -out "$W/root.pem" >/dev/null 2>&1
openssl x509 -in "$W/root.pem" -outform DER -out root.der

sign() { # ca caCert caKey serial subject ext start end name [keyfile]
  local key=${10:-$W/$9.key}
  [ -f "$key" ] || openssl genrsa -out "$key" 2048 2>/dev/null
  openssl req -new -key "$key" -subj "$5" -out "$W/$9.csr"
  echo "$4" > "$W/$1/serial"
  openssl ca -batch -config "$W/$1/ca.cnf" -cert "$2" -keyfile "$3" -in "$W/$9.csr" -notext \
    -extensions "$6" -startdate "$7" -enddate "$8" -out "$W/$9.pem" >/dev/null 2>&1
  openssl x509 -in "$W/$9.pem" -outform DER -out "$9.der"
}

sign root "$W/root.pem" "$W/root.key" 10 "/C=PL/O=Driver Tests/CN=Driver Sub CA" v3_ca \
  20200101000000Z 20450101000000Z sub
S=("$W/sub.pem" "$W/sub.key")
sign sub "${S[@]}" 1001 "/C=PL/O=Driver Tests/CN=Signer" signer 20200101000000Z 20450101000000Z signer
sign sub "${S[@]}" 1002 "/C=PL/O=Driver Tests/CN=Revoked Signer" signer 20200101000000Z 20450101000000Z revoked
sign sub "${S[@]}" 1003 "/C=PL/O=Driver Tests/CN=Encryption Only" kenc 20200101000000Z 20450101000000Z kenc
sign sub "${S[@]}" 1004 "/C=PL/O=Driver Tests/CN=Signer 2021" signer 20210101000000Z 20220101000000Z expired
sign sub "${S[@]}" 1007 "/C=PL/O=Driver Tests/CN=Unreadable Key Usage" badku 20200101000000Z 20450101000000Z \
  badku "$W/signer.key"
openssl dsaparam -genkey -out "$W/dsa.key" 2048 2>/dev/null
sign sub "${S[@]}" 1006 "/C=PL/O=Driver Tests/CN=DSA Signer" signer 20200101000000Z 20450101000000Z dsa "$W/dsa.key"
sign sub "${S[@]}" 1005 "/C=PL/O=Driver Tests/CN=Driver TSA" tsa 20200101000000Z 20450101000000Z tsa

openssl ca -config "$W/sub/ca.cnf" -cert "$W/sub.pem" -keyfile "$W/sub.key" -revoke "$W/revoked.pem" \
  -crl_reason keyCompromise >/dev/null 2>&1
crl() { # ca caCert caKey last next out
  openssl ca -gencrl -config "$W/$1/ca.cnf" -cert "$2" -keyfile "$3" -crlexts crl -md sha256 \
    -crl_lastupdate "$4" -crl_nextupdate "$5" -out "$W/$6.pem" >/dev/null 2>&1
  openssl crl -in "$W/$6.pem" -outform DER -out "$6.der"
}
crl sub "${S[@]}" 20260101000000Z 20400101000000Z sub-crl
crl root "$W/root.pem" "$W/root.key" 20260101000000Z 20400101000000Z root-crl
crl sub "${S[@]}" 20210701000000Z 20400101000000Z sub-crl-2021
crl root "$W/root.pem" "$W/root.key" 20210701000000Z 20400101000000Z root-crl-2021
crl sub "${S[@]}" 20270101000000Z 20400101000000Z sub-crl-2027
crl root "$W/root.pem" "$W/root.key" 20270101000000Z 20400101000000Z root-crl-2027
crl sub "${S[@]}" 20230101000000Z 20400101000000Z sub-crl-2023
crl root "$W/root.pem" "$W/root.key" 20230101000000Z 20400101000000Z root-crl-2023

# The TSA's twin, signed by the intermediate outside its database.
openssl req -new -newkey rsa:2048 -nodes -keyout "$W/twin.key" -subj "/C=PL/O=Driver Tests/CN=Driver TSA" \
  -out "$W/twin.csr" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n' \
  > "$W/twin.ext"
openssl x509 -req -in "$W/twin.csr" -CA "$W/sub.pem" -CAkey "$W/sub.key" -set_serial 0x1005 -days 3650 \
  -extfile "$W/twin.ext" -outform DER -out tsa-twin.der 2>/dev/null

printf 'data' > "$W/data"
for k in signer kenc expired dsa; do
  md=-sha256
  [ $k = dsa ] && md=-sha1  # DSA signs with SHA-1 or RIPEMD-160 here
  openssl dgst $md -sign "$W/$k.key" -out "$k.sig" "$W/data"
  openssl dgst $md -verify <(openssl x509 -inform DER -in "$k.der" -pubkey -noout) -signature "$k.sig" \
    "$W/data" >/dev/null
done

# A time-stamp token of the TSA over the digest of "data".
cat > "$W/tsa.cnf" <<CNF
[tsa]
default_tsa = t
[t]
dir = $W
serial = $W/tsserial
signer_cert = $W/tsa.pem
certs = $W/sub.pem
signer_key = $W/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256
ess_cert_id_alg = sha256
CNF
echo 31 > "$W/tsserial"
openssl ts -query -data "$W/data" -sha256 -cert -out "$W/q.tsq" 2>/dev/null
openssl ts -reply -config "$W/tsa.cnf" -queryfile "$W/q.tsq" -token_out -out token.der 2>/dev/null
cat "$W/root.pem" "$W/sub.pem" > "$W/chain.pem"
openssl ts -verify -data "$W/data" -in token.der -token_in -CAfile "$W/chain.pem" >/dev/null 2>&1

# XAdES-BES documents: the template's CERTDIGEST is the SHA-256 of the signer's DER,
# ISSUERNAME and SERIAL its issuer (RFC 2253) and serial number.
for who in signer revoked; do
  digest=$(openssl dgst -sha256 -binary "$who.der" | base64)
  issuer=$(openssl x509 -in "$W/$who.pem" -noout -issuer -nameopt RFC2253 | sed 's/^issuer=//')
  serial=$(printf '%d' "0x$(openssl x509 -in "$W/$who.pem" -noout -serial | sed 's/^serial=//')")
  sed -e "s|CERTDIGEST|$digest|" -e "s|ISSUERNAME|$issuer|" -e "s|SERIAL|$serial|" xades-bes.tmpl \
    > "$W/$who.xml"
  xmlsec1 --sign --privkey-pem "$W/$who.key,$W/$who.pem,$W/sub.pem" --id-attr:Id data \
    --id-attr:Id SignedProperties --output "xades-$who.xml" "$W/$who.xml"
  xmlsec1 --verify --trusted-pem "$W/root.pem" --untrusted-pem "$W/sub.pem" --id-attr:Id data \
    --id-attr:Id SignedProperties "xades-$who.xml" >/dev/null 2>&1
done

# The XAdES-T form of the signer's document.
python3 - xades-signer.xml "$W/sv.c14n" <<'PY'
import sys, re
text = open(sys.argv[1], encoding='utf-8').read()
m = re.search(r'<ds:SignatureValue>(.*?)</ds:SignatureValue>', text, re.S)
value = m.group(1).replace('\r\n', '\n').replace('\r', '\n')
out = '<ds:SignatureValue xmlns:ds="http://www.w3.org/2000/09/xmldsig#">' + value + '</ds:SignatureValue>'
open(sys.argv[2], 'w', encoding='utf-8', newline='').write(out)
PY
echo 41 > "$W/tsserial"
openssl ts -query -data "$W/sv.c14n" -sha256 -cert -out "$W/sv.tsq" 2>/dev/null
openssl ts -reply -config "$W/tsa.cnf" -queryfile "$W/sv.tsq" -token_out -out "$W/sv.tsr" 2>/dev/null
openssl ts -verify -data "$W/sv.c14n" -in "$W/sv.tsr" -token_in -CAfile "$W/chain.pem" >/dev/null
python3 - xades-signer.xml xades-t.xml "$(base64 -w 76 "$W/sv.tsr")" <<'PY'
import sys
text = open(sys.argv[1], encoding='utf-8').read()
stamp = ('<xades:SignatureTimeStamp Id="ts1"><xades:EncapsulatedTimeStamp>' + sys.argv[3] +
         '</xades:EncapsulatedTimeStamp></xades:SignatureTimeStamp>')
text = text.replace('<xades:UnsignedSignatureProperties/>',
                    '<xades:UnsignedSignatureProperties>' + stamp + '</xades:UnsignedSignatureProperties>')
open(sys.argv[2], 'w', encoding='utf-8', newline='').write(text)
PY
xmlsec1 --verify --trusted-pem "$W/root.pem" --untrusted-pem "$W/sub.pem" --id-attr:Id data \
  --id-attr:Id SignedProperties xades-t.xml >/dev/null 2>&1

pss
ec
