#!/bin/sh
# Makes algs.txt, the openssl evidence of the algorithm-identifier, DigestInfo,
# RSASSA-PSS, extension and Diffie-Hellman tests. One line per case:
#   KIND LABEL HEX [FIELDS...]
# sigalg LABEL HEX HASHID       signatureAlgorithm of a certificate openssl signed
# pss LABEL HEX HASH MGFHASH SALT   RSASSA-PSS AlgorithmIdentifier openssl wrote
# digestinfo LABEL HEX HASHID   DigestInfo recovered from an openssl PKCS#1 signature
# ext LABEL HEX CRITICAL        an extension of an openssl certificate
# dh3 LABEL HEX                 PKCS#3 DHParameter (openssl dhparam)
# dhx LABEL HEX                 X9.42 DomainParameters (openssl genpkey DHX)
# der LABEL HEX                 openssl asn1parse -genconf encodings
# Keys, signatures and parameters are random: the output is committed.
set -e
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
out=algs.txt
: > "$out"

# Prints the hex of the TLV at a path of child indexes ("0 1" = second child
# of the first child of the outer element).
tlv() {
    python3 - "$@" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
def parse(buf, pos):
    tag = buf[pos]; pos += 1
    n = buf[pos]; pos += 1
    if n & 0x80:
        k = n & 0x7F
        n = int.from_bytes(buf[pos:pos + k], 'big'); pos += k
    return tag, pos, n
start = 0
for idx in [int(x) for x in sys.argv[2:]]:
    tag, pos, n = parse(data, start)
    end = pos + n
    child = pos
    for _ in range(idx):
        _, cpos, cn = parse(data, child)
        child = cpos + cn
    start = child
tag, pos, n = parse(data, start)
print(data[start:pos + n].hex())
PY
}

cert() { # label keyalg-args sign-args
    openssl req -x509 -new -key "$tmp/$1.key" -subj "/CN=$1" -days 1 $2 -out "$tmp/$1.der" -outform DER \
        -addext "basicConstraints=critical,CA:TRUE" -addext "subjectKeyIdentifier=hash" 2>/dev/null
}

openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out "$tmp/rsa.key" 2>/dev/null
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$tmp/ec.key" 2>/dev/null
openssl genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:1024 -out "$tmp/dsap.pem" 2>/dev/null
openssl genpkey -paramfile "$tmp/dsap.pem" -out "$tmp/dsa.key" 2>/dev/null
for c in "rsa sha1 1" "rsa sha224 2" "rsa sha256 3" "rsa sha384 4" "rsa sha512 5" "rsa md5 8" \
         "ec sha1 1" "ec sha224 2" "ec sha256 3" "ec sha384 4" "ec sha512 5" "dsa sha1 1"; do
    set -- $c
    cp "$tmp/$1.key" "$tmp/$1-$2.key"
    cert "$1-$2" "-$2"
    echo "sigalg $1-$2 $(tlv "$tmp/$1-$2.der" 1) $3" >> "$out"
done

# RSASSA-PSS: keys restricted to PSS (parameters in the key's identifier)
# and certificates signed with PSS.
for c in "sha256 sha256 32" "sha1 sha1 20" "sha512 sha256 64" "sha384 sha384 0"; do
    set -- $c
    openssl genpkey -algorithm RSA-PSS -pkeyopt rsa_keygen_bits:1024 -pkeyopt rsa_pss_keygen_md:$1 \
        -pkeyopt rsa_pss_keygen_mgf1_md:$2 -pkeyopt rsa_pss_keygen_saltlen:$3 -out "$tmp/pss.key" 2>/dev/null
    openssl pkey -in "$tmp/pss.key" -pubout -outform DER -out "$tmp/pss.pub"
    echo "pss key-$1-$2-$3 $(tlv "$tmp/pss.pub" 0) $1 $2 $3" >> "$out"
done
for c in "sha256 32" "sha1 20" "sha512 17"; do
    set -- $c
    openssl req -x509 -new -key "$tmp/rsa.key" -subj "/CN=pss" -days 1 -$1 -sigopt rsa_padding_mode:pss \
        -sigopt rsa_pss_saltlen:$2 -sigopt rsa_mgf1_md:$1 -outform DER -out "$tmp/pss.der" 2>/dev/null
    echo "pss cert-$1-$2 $(tlv "$tmp/pss.der" 1) $1 $1 $2" >> "$out"
done

# DigestInfo: PKCS#1 v1.5 signatures opened again with the public key.
printf 'abc' > "$tmp/msg"
for c in "sha1 1" "sha256 3" "sha512 5" "md5 8"; do
    set -- $c
    openssl dgst -$1 -sign "$tmp/rsa.key" -out "$tmp/sig" "$tmp/msg"
    openssl pkeyutl -verifyrecover -inkey "$tmp/rsa.key" -in "$tmp/sig" -out "$tmp/di" 2>/dev/null
    echo "digestinfo $1 $(od -An -tx1 -v "$tmp/di" | tr -d ' \n') $2 $(openssl dgst -$1 -r "$tmp/msg" | cut -d' ' -f1)" >> "$out"
done

# Extensions of an openssl certificate: basicConstraints (critical) and
# subjectKeyIdentifier (not critical); TBSCertificate child 7 is [3].
# The critical flag is what openssl's own printout says of each extension.
openssl x509 -inform DER -in "$tmp/rsa-sha256.der" -noout -text > "$tmp/text"
for i in 0 1 2; do
    h=$(tlv "$tmp/rsa-sha256.der" 0 7 0 $i)
    name=$(python3 -c "import sys; print({'551d0e': 'Subject Key Identifier', '551d23': 'Authority Key Identifier', '551d13': 'Basic Constraints'}[sys.argv[1][8:14]])" "$h")
    crit=0
    grep -q "X509v3 $name: critical" "$tmp/text" && crit=1
    echo "ext $(echo "$name" | tr -d ' ') $h $crit" >> "$out"
done

# Diffie-Hellman parameters.
openssl genpkey -genparam -algorithm DH -pkeyopt dh_rfc5114:2 -out "$tmp/dh.pem" 2>/dev/null
openssl genpkey -genparam -algorithm DHX -pkeyopt dh_rfc5114:2 -out "$tmp/dhx.pem" 2>/dev/null
openssl pkeyparam -in "$tmp/dhx.pem" -outform DER -out "$tmp/dhx.der" 2>/dev/null || \
    openssl asn1parse -in "$tmp/dhx.pem" -out "$tmp/dhx.der" -noout
echo "dhx rfc5114-2 $(od -An -tx1 -v "$tmp/dhx.der" | tr -d ' \n')" >> "$out"
# With -dsaparam openssl 3 writes the X9.42 form (p, g, q).
openssl dhparam -dsaparam -outform DER -out "$tmp/dhq.der" 512 2>/dev/null
echo "dhx dsaparam-512 $(od -An -tx1 -v "$tmp/dhq.der" | tr -d ' \n')" >> "$out"
openssl dhparam -outform DER -out "$tmp/dh3.der" 512 2>/dev/null
echo "dh3 safe-prime-512 $(od -An -tx1 -v "$tmp/dh3.der" | tr -d ' \n')" >> "$out"

# Hand-described encodings (asn1parse -genconf).
gen() { # label then the config on stdin
    cat > "$tmp/g.cnf"
    openssl asn1parse -genconf "$tmp/g.cnf" -noout -out "$tmp/g.der" > /dev/null
    echo "der $1 $(od -An -tx1 -v "$tmp/g.der" | tr -d ' \n')" >> "$out"
}
gen alg-sha256-null <<'X'
asn1=SEQUENCE:a
[a]
o=OID:2.16.840.1.101.3.4.2.1
p=NULL
X
gen alg-sha256-absent <<'X'
asn1=SEQUENCE:a
[a]
o=OID:2.16.840.1.101.3.4.2.1
X
gen alg-dsa-key-null <<'X'
asn1=SEQUENCE:a
[a]
o=OID:1.2.840.10040.4.1
p=NULL
X
gen pss-empty <<'X'
asn1=SEQUENCE:a
[a]
o=OID:1.2.840.113549.1.1.10
p=SEQUENCE:e
[e]
X
gen pss-force-mgf-sha1 <<'X'
asn1=SEQUENCE:a
[a]
o=OID:1.2.840.113549.1.1.10
p=SEQUENCE:e
[e]
m=EXPLICIT:1,SEQUENCE:mgf
[mgf]
o=OID:1.2.840.113549.1.1.8
p=SEQUENCE:h
[h]
o=OID:1.3.14.3.2.26
p=NULL
X
gen pss-trailer-2 <<'X'
asn1=SEQUENCE:e
[e]
t=EXPLICIT:3,INTEGER:2
X
gen pss-salt-5-octets <<'X'
asn1=SEQUENCE:e
[e]
s=EXPLICIT:2,INTEGER:0x0100000000
X
gen pss-salt-negative <<'X'
asn1=SEQUENCE:e
[e]
s=EXPLICIT:2,INTEGER:-1
X
gen pss-1-before-0 <<'X'
asn1=SEQUENCE:e
[e]
m=EXPLICIT:1,SEQUENCE:mgf
h=EXPLICIT:0,SEQUENCE:h
[mgf]
o=OID:1.2.840.113549.1.1.8
p=SEQUENCE:h
[h]
o=OID:2.16.840.1.101.3.4.2.1
p=NULL
X
gen pss-two-salts <<'X'
asn1=SEQUENCE:e
[e]
s=EXPLICIT:2,INTEGER:32
s2=EXPLICIT:2,INTEGER:32
X
gen pss-fifth-element <<'X'
asn1=SEQUENCE:e
[e]
h=EXPLICIT:0,SEQUENCE:h
m=EXPLICIT:1,SEQUENCE:mgf
s=EXPLICIT:2,INTEGER:32
t=EXPLICIT:3,INTEGER:1
x=EXPLICIT:4,INTEGER:1
[mgf]
o=OID:1.2.840.113549.1.1.8
p=SEQUENCE:h
[h]
o=OID:2.16.840.1.101.3.4.2.1
p=NULL
X
gen pss-implicit-salt <<'X'
asn1=SEQUENCE:e
[e]
s=IMPLICIT:2,INTEGER:32
X
gen ext-explicit-false <<'X'
asn1=SEQUENCE:e
[e]
o=OID:2.5.29.19
c=BOOLEAN:FALSE
v=FORMAT:HEX,OCTETSTRING:3000
X
gen ext-context-value <<'X'
asn1=SEQUENCE:e
[e]
o=OID:2.5.29.19
v=IMPLICIT:4,FORMAT:HEX,OCTETSTRING:3000
X
gen itav-oid-only <<'X'
asn1=SEQUENCE:e
[e]
o=OID:1.3.6.1.5.5.7.4.1
X
gen itav-value <<'X'
asn1=SEQUENCE:e
[e]
o=OID:1.3.6.1.5.5.7.4.1
v=EXPLICIT:0,UTF8String:tekst
X
gen dh3-privlen <<'X'
asn1=SEQUENCE:e
[e]
p=INTEGER:0x00F7E75FDC469067FFDC4E847C51F452DF
g=INTEGER:2
l=INTEGER:160
X
gen dhx-valid-no-j <<'X'
asn1=SEQUENCE:e
[e]
p=INTEGER:23
g=INTEGER:4
q=INTEGER:11
v=SEQUENCE:v
[v]
s=FORMAT:HEX,BITSTRING:A1B2C3
c=INTEGER:7
X
gen dhx-j-and-valid <<'X'
asn1=SEQUENCE:e
[e]
p=INTEGER:23
g=INTEGER:4
q=INTEGER:11
j=INTEGER:2
v=SEQUENCE:v
[v]
s=FORMAT:HEX,BITSTRING:A1B2C3
c=INTEGER:7
X
gen dhx-valid-before-j <<'X'
asn1=SEQUENCE:e
[e]
p=INTEGER:23
g=INTEGER:4
q=INTEGER:11
v=SEQUENCE:v
j=INTEGER:2
[v]
s=FORMAT:HEX,BITSTRING:A1B2C3
c=INTEGER:7
X
gen dhx-context-j <<'X'
asn1=SEQUENCE:e
[e]
p=INTEGER:23
g=INTEGER:4
q=INTEGER:11
j=IMPLICIT:0,INTEGER:2
X
gen policy-note <<'X'
asn1=SEQUENCE:e
[e]
o=OID:2.5.29.32.0
n=FORMAT:ASCII,OCTETSTRING:uwaga
X
gen policy-note-empty <<'X'
asn1=SEQUENCE:e
[e]
o=OID:1.2.616.1.2.3
n=OCTETSTRING:
X
gen policy-oid-only <<'X'
asn1=SEQUENCE:e
[e]
o=OID:2.5.29.32.0
X
gen policy-note-swapped <<'X'
asn1=SEQUENCE:e
[e]
n=FORMAT:ASCII,OCTETSTRING:uwaga
o=OID:2.5.29.32.0
X
gen policy-note-trailing <<'X'
asn1=SEQUENCE:e
[e]
o=OID:2.5.29.32.0
n=FORMAT:ASCII,OCTETSTRING:uwaga
x=NULL
X
