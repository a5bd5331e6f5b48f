#!/bin/sh
# Makes the signed-message fixtures with the openssl command line: a small
# CA, RSA, RSA-PSS and P-256 signers, and `openssl cms -sign` outputs over
# content.txt: attached and detached, without signed attributes, SHA-1 to
# SHA-512, PSS, an EC signer, two signers, CAdES (signingCertificateV2),
# subject key identifiers, and -stream (BER, indefinite lengths); a
# certificates-and-CRLs-only message from crl2pkcs7. Each message is checked
# with `openssl cms -verify`, whose verdict goes to verify.txt:
#   file  verified|failed
# expect.tsv lists what openssl's -cmsout -print shows of each signer:
#   file  signer-index  sid(issuer|keyid)  digest-oid  signature-oid
# Run from this folder; the outputs are committed (signatures and dates
# cannot be made again identically).
set -eu
cd "$(dirname "$0")"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT

cat > "$W/ext.cnf" <<'CNF'
[ca]
basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign,cRLSign
subjectKeyIdentifier=hash
[leaf]
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,nonRepudiation
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
CNF

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$W/ca.key" -out ca.pem -days 3650 \
  -subj "/C=PL/O=Tal Test/CN=CMS Test CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" -addext "subjectKeyIdentifier=hash" 2>/dev/null
sign() { # name subject serial keyopts
  openssl req -new -newkey "$4" -nodes -keyout "$W/$1.key" -out "$W/$1.csr" -subj "$2" 2>/dev/null
  openssl x509 -req -in "$W/$1.csr" -CA ca.pem -CAkey "$W/ca.key" -set_serial "$3" -days 3000 \
    -extfile "$W/ext.cnf" -extensions leaf -out "$1.pem" 2>/dev/null
  openssl x509 -in "$1.pem" -outform DER -out "$1.der"
}
sign signer_rsa "/C=PL/O=Tal Test/CN=RSA Signer" 0x5001 rsa:2048
sign signer_rsa2 "/C=PL/O=Tal Test/CN=Second RSA Signer" 0x5002 rsa:3072
openssl ecparam -name prime256v1 -out "$W/p256.par"
sign signer_ec "/C=PL/O=Tal Test/CN=EC Signer" 0x5003 "ec:$W/p256.par"
openssl x509 -in ca.pem -outform DER -out ca.der

# Content: text with line ends, signed as binary.
awk 'BEGIN { for (i = 1; i <= 40; i++) printf "Line %02d of the signed content, zażółć gęślą jaźń.\n", i }' > content.txt

s() { # out [options]
  out=$1; shift
  openssl cms -sign -binary -in content.txt -outform DER -out "$out" "$@"
}
R="-signer signer_rsa.pem -inkey $W/signer_rsa.key"
s attached_sha256.der $R -nodetach -md sha256
s detached_sha256.der $R -md sha256
s attached_noattr.der $R -nodetach -noattr
s attached_sha1.der $R -nodetach -md sha1
s attached_sha224.der $R -nodetach -md sha224
s attached_sha384.der $R -nodetach -md sha384 -certfile ca.pem
s attached_sha512.der $R -nodetach -md sha512
s attached_pss.der $R -nodetach -md sha256 -keyopt rsa_padding_mode:pss -keyopt rsa_pss_saltlen:32
s attached_ec.der -signer signer_ec.pem -inkey "$W/signer_ec.key" -nodetach -md sha256
s two_signers.der $R -signer signer_rsa2.pem -inkey "$W/signer_rsa2.key" -nodetach -md sha256
s cades.der $R -nodetach -md sha256 -cades
s keyid.der $R -nodetach -md sha256 -keyid
s stream.der $R -nodetach -md sha256 -stream
s stream_detached.der $R -md sha256 -stream

# A CRL of the CA revoking the second signer, and a message of
# certificates and CRLs only (no signer).
printf 'R\t351231235959Z\t240115103000Z,keyCompromise\t5002\tunknown\t/C=PL/O=Tal Test/CN=Second RSA Signer\n' > "$W/index.txt"
printf '1000\n' > "$W/crlnumber"
cat > "$W/ca.cnf" <<CNF
[ca]
default_ca = c
[c]
database = $W/index.txt
crlnumber = $W/crlnumber
default_md = sha256
default_crl_days = 30
CNF
openssl ca -gencrl -config "$W/ca.cnf" -keyfile "$W/ca.key" -cert ca.pem -out "$W/ca.crl" 2>/dev/null
openssl crl -in "$W/ca.crl" -outform DER -out ca_crl.der
openssl crl2pkcs7 -in "$W/ca.crl" -certfile ca.pem -outform DER -out certs_crls.der

: > verify.txt
for f in attached_*.der two_signers.der cades.der keyid.der stream.der; do
  if openssl cms -verify -binary -inform DER -in "$f" -CAfile ca.pem -out /dev/null 2>/dev/null; then
    printf '%s\tverified\n' "$f" >> verify.txt
  else
    printf '%s\tfailed\n' "$f" >> verify.txt
  fi
done
for f in detached_sha256.der stream_detached.der; do
  if openssl cms -verify -binary -inform DER -in "$f" -content content.txt -CAfile ca.pem \
      -out /dev/null 2>/dev/null; then
    printf '%s\tverified\n' "$f" >> verify.txt
  else
    printf '%s\tfailed\n' "$f" >> verify.txt
  fi
done

# What openssl reads of each signer: the sid kind, digest and signature OIDs.
: > expect.tsv
for f in attached_*.der detached_sha256.der two_signers.der cades.der keyid.der stream.der; do
  openssl cms -cmsout -print -noout -inform DER -in "$f" | awk -v f="$f" '
    /signerInfos:/ { on = 1 }
    on && /d.issuerAndSerialNumber:/ { sid = "issuer" }
    on && /d.subjectKeyIdentifier:/ { sid = "keyid" }
    on && /digestAlgorithm:/ { want = "dig" }
    on && /signatureAlgorithm:/ { want = "sig" }
    on && /algorithm: / && want != "" {
      match($0, /\([0-9.]+\)/); oid = substr($0, RSTART + 1, RLENGTH - 2)
      if (want == "dig") dig = oid; else { printf "%s\t%d\t%s\t%s\t%s\n", f, n++, sid, dig, oid }
      want = ""
    }' >> expect.tsv
done

# sa_nonmin.der, sa_indef.der, sa_attr_indef.der, sa_values_indef.der: the
# message attached_sha256.der with its signer's signed attributes rewritten
# in BER, the signature unchanged: [0] with a non-minimal 3-octet length,
# [0] of indefinite length, the first attribute of indefinite length, the
# first attribute's value SET of indefinite length. They were made by hand
# (header octets rewritten, content untouched) from the committed
# attached_sha256.der, so they are not regenerated here; a regenerated
# attached_sha256.der needs them made again the same way. Each must pass:
for f in sa_nonmin.der sa_indef.der sa_attr_indef.der sa_values_indef.der; do
  if [ -f "$f" ]; then openssl cms -verify -inform DER -in "$f" -CAfile ca.pem -out /dev/null; fi
done
