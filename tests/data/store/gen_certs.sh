#!/usr/bin/env bash
# Makes the certificate fixtures of the store tests with OpenSSL: two CAs
# whose names differ only inside a multi-valued RDN ({CN=Shared, CN=Shared}
# and {CN=Shared, O=Other}) and share serial 1, and end certificates with
# subjects in UTF8, Printable and BMP strings, e-mail in the subject and in
# subjectAltName, with and without key identifiers and key usages. For every
# certificate here (and the copied third-party ones) OpenSSL's own reading
# goes to NAME.txt and one line of manifest.txt:
#   file|subject|issuer|serial|subjectKeyIdentifier|authorityKeyIdentifier|
#   encipherment (1: keyUsage absent or with key/data encipherment)|
#   subject e-mails|subjectAltName e-mails|SHA-1 of the subjectPublicKey bits
# (cut out of the certificate by openssl asn1parse offsets, hashed by sha1sum)
# Run from this folder; the outputs are committed.
set -euo pipefail
cd "$(dirname "$0")/certs"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cnf() {  # mask
  printf '[req]\ndistinguished_name=dn\nstring_mask=%s\nutf8=yes\n[dn]\n' "$1" > "$work/$1.cnf"
}
cnf utf8only
cnf default
cat > "$work/ext.cnf" <<'X'
[ca]
basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign,cRLSign
subjectKeyIdentifier=hash
[a1]
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
keyUsage=critical,digitalSignature
subjectAltName=email:alice.alt@example.com
[a2]
keyUsage=critical,dataEncipherment
authorityKeyIdentifier=keyid
[b1]
keyUsage=critical,keyEncipherment
subjectAltName=email:Bob@Example.org,DNS:bob.example.org
[bmp]
basicConstraints=CA:FALSE
[evil]
subjectKeyIdentifier=hash
keyUsage=critical,digitalSignature,keyEncipherment
X

key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/$1.key" 2>/dev/null; }

ca() {  # name subject
  key "$1"
  openssl req -config "$work/utf8only.cnf" -x509 -new -key "$work/$1.key" -subj "$2" -multivalue-rdn \
    -set_serial 1 -days 3650 -extensions ca -config <(cat "$work/utf8only.cnf" "$work/ext.cnf") \
    -outform DER -out "$1.der"
}

leaf() {  # name issuer serial mask section subject
  key "$1"
  openssl req -config "$work/$4.cnf" -new -key "$work/$1.key" -subj "$6" -out "$work/$1.csr"
  openssl x509 -req -in "$work/$1.csr" -CA "$2.der" -CAform DER -CAkey "$work/$2.key" -set_serial "$3" \
    -days 3650 -extfile "$work/ext.cnf" -extensions "$5" -outform DER -out "$1.der" 2>/dev/null
}

ca caA '/O=Org/CN=Shared+CN=Shared'
ca caB '/O=Org/CN=Shared+O=Other'
leaf leafA1 caA 0x1001 utf8only a1 '/CN=Alice Zażółć/emailAddress=alice@example.com'
leaf leafA2 caA 0x1002 default a2 '/CN=Alice Zażółć/emailAddress=alice@example.com'
leaf leafB1 caB 0x1001 default b1 '/C=PL/CN=Bob'
leaf leafBmp caA 0x1003 default bmp '/CN=Łukasz Żółw/emailAddress=carol@example.com'
leaf leafEvil caB 0x80000000000000000000000000000000000001 utf8only evil \
  '/CN=alice/emailAddress=alice@example.com.evil.org'

# Third-party certificates from Debian's python3-cryptography-vectors, as DER.
vectors=/usr/lib/python3/dist-packages/cryptography_vectors/x509
for v in cryptography.io.pem rapidssl_sha256_ca_g3.pem letsencryptx3.pem v1_cert.pem \
         unique_identifier.pem utf8-dnsname.pem department-of-state-root.pem e-trust.ru.der \
         custom/ca/ca.pem custom/ca/rsa_ca.pem custom/san_rfc822_names.pem custom/san_email_dns_ip_dirname_uri.pem \
         custom/all_key_usages.pem custom/bc_path_length_zero.pem; do
  out="vec-$(echo "${v%.*}" | tr '/' '-').der"
  case "$v" in
    *.der) cp "$vectors/$v" "$out" ;;
    *) openssl x509 -in "$vectors/$v" -outform DER -out "$out" ;;
  esac
done

: > manifest.txt
for f in *.der; do
  name=${f%.der}
  openssl x509 -inform DER -in "$f" -noout -subject -issuer -serial \
    -ext subjectKeyIdentifier,authorityKeyIdentifier,keyUsage,subjectAltName \
    -nameopt RFC2253,-esc_msb > "$name.txt" 2>/dev/null
  # subjectPublicKey: the first BIT STRING at depth 3 (certificate, TBS, key info).
  read -r off hl len < <(openssl asn1parse -inform DER -in "$f" |
    sed -n '/d=3.*BIT STRING/{s/^ *\([0-9]*\):d=3 *hl=\([0-9]*\) *l= *\([0-9]*\).*/\1 \2 \3/p;q}')
  keyhash=$(tail -c +$((off + hl + 2)) "$f" | head -c $((len - 1)) | sha1sum | cut -c1-40 | tr a-f A-F)
  awk -v file="$f" -v keyhash="$keyhash" '
    /^subject=/ { subject = substr($0, 9) }
    /^issuer=/ { issuer = substr($0, 8) }
    /^serial=/ { serial = substr($0, 8) }
    /X509v3 Subject Key Identifier/ { getline; gsub(/[ :]/, ""); ski = $0 }
    /X509v3 Authority Key Identifier/ { getline; sub(/keyid:/, ""); gsub(/[ :]/, ""); aki = $0 }
    /X509v3 Key Usage/ { getline; ku = $0 }
    /X509v3 Subject Alternative Name/ {
      getline; sub(/^ +/, ""); n = split($0, parts, ", ")
      for (i = 1; i <= n; i++) if (parts[i] ~ /^email:/) san = san "," substr(parts[i], 7)
    }
    END {
      enc = (ku == "" || ku ~ /Key Encipherment|Data Encipherment/) ? 1 : 0
      emails = ""
      s = subject
      while (match(s, /emailAddress=[^,+]*/)) {
        emails = emails "," substr(s, RSTART + 13, RLENGTH - 13); s = substr(s, RSTART + RLENGTH)
      }
      print file "|" subject "|" issuer "|" serial "|" ski "|" aki "|" enc "|" substr(emails, 2) "|" \
        substr(san, 2) "|" keyhash
    }' "$name.txt" >> manifest.txt
done

# Digests of the DER of every certificate, as openssl dgst prints them.
: > digests.txt
for f in *.der; do
  echo "$f|$(openssl dgst -sha1 -r "$f" | cut -d' ' -f1)|$(openssl dgst -sha256 -r "$f" | cut -d' ' -f1)" >> digests.txt
done
