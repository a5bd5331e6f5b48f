#!/usr/bin/env bash
# Makes the two PKCS#12 files of a password longer than 64 octets (as its
# BMPString with terminator) from rsa.pem and cert.der, with openssl (3.x):
#   long_rfc.p12  openssl's own file: the whole password in every derivation
#                 (RFC 7292);
#   long_cut.p12  the file of a writer that fills the derivation's password
#                 block from its first 64 octets only: the same layout, its
#                 MAC key and key-encryption key and IV derived by openssl's
#                 PKCS12KDF from those 64 octets, the key encrypted by
#                 openssl enc and the MAC made by openssl mac; the DER around
#                 them is written here.
# and the two of a MAC salt of 72 octets (password "vorin-test"), built the
# same way: long_salt_rfc.p12 its MAC key from the whole salt (openssl opens
# it), long_salt_cut.p12 from the salt's first 64 octets.
# Run by make.sh; random salts and keys: the outputs are committed.
set -euo pipefail
cd "$(dirname "$0")"
long='a password of forty characters, or more'
bmp() { printf '%s' "$1" | iconv -f UTF-8 -t UTF-16BE | xxd -p | tr -d '\n'; printf '0000'; }
cut=$(bmp "$long" | cut -c1-128)   # the first 64 octets
openssl x509 -in cert.der -inform DER -out cert.pem
openssl pkcs12 -export -in cert.pem -inkey rsa.pem -passout pass:"$long" \
  -keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-3DES -macalg sha1 -iter 2048 -out long_rfc.p12
rm cert.pem

kdf() {  # id, octets, salt (hex), iterations[, password (hex), default the cut one]
  openssl kdf -keylen "$2" -kdfopt digest:SHA1 -kdfopt hexpass:"${5:-$cut}" -kdfopt hexsalt:"$3" \
    -kdfopt iter:"$4" -kdfopt id:"$1" PKCS12KDF | tr -d ':'
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
keysalt=$(openssl rand -hex 8)
macsalt=$(openssl rand -hex 8)
openssl pkcs8 -topk8 -nocrypt -in rsa.pem -outform DER -out "$work/p8.der"
openssl enc -des-ede3-cbc -K "$(kdf 1 24 "$keysalt" 2048)" -iv "$(kdf 2 8 "$keysalt" 2048)" \
  -in "$work/p8.der" -out "$work/p8.enc"
# The DER around openssl's octets: "authsafe" writes the authenticated safe
# (the certificate in clear, the encrypted key shrouded), "pfx" the file.
cat > "$work/der.py" <<'PY'
import sys
def tlv(tag, body):
    n = len(body)
    if n < 128: head = bytes([n])
    else:
        b = n.to_bytes((n.bit_length() + 7) // 8, 'big'); head = bytes([0x80 | len(b)]) + b
    return bytes([tag]) + head + body
def oid(text):
    p = [int(x) for x in text.split('.')]; out = bytes([40 * p[0] + p[1]])
    for v in p[2:]:
        enc = [v & 0x7f]; v >>= 7
        while v: enc.insert(0, 0x80 | (v & 0x7f)); v >>= 7
        out += bytes(enc)
    return tlv(0x06, out)
seq = lambda *xs: tlv(0x30, b''.join(xs))
octets = lambda b: tlv(0x04, b)
data = oid('1.2.840.113549.1.7.1')
work, mode, salt = sys.argv[1], sys.argv[2], bytes.fromhex(sys.argv[3])
if mode == 'authsafe':
    p8shrouded, certbag = oid('1.2.840.113549.1.12.10.1.2'), oid('1.2.840.113549.1.12.10.1.3')
    x509, pbe3des = oid('1.2.840.113549.1.9.22.1'), oid('1.2.840.113549.1.12.1.3')
    epki = seq(seq(pbe3des, seq(octets(salt), tlv(0x02, (2048).to_bytes(2, 'big')))),
               octets(open(work + '/p8.enc', 'rb').read()))
    def safe(bag):  # ContentInfo {id-data, [0] OCTET STRING of a SafeContents of one bag}
        return seq(data, tlv(0xA0, octets(seq(bag))))
    cert = open('cert.der', 'rb').read()
    certs = safe(seq(certbag, tlv(0xA0, seq(x509, tlv(0xA0, octets(cert))))))
    keys = safe(seq(p8shrouded, tlv(0xA0, epki)))
    open(work + '/authsafe.der', 'wb').write(seq(certs, keys))
else:
    mac = bytes.fromhex(sys.argv[4])
    authsafe = open(work + '/authsafe.der', 'rb').read()
    sha1 = seq(oid('1.3.14.3.2.26'), bytes.fromhex('0500'))
    pfx = seq(tlv(0x02, b'\x03'), seq(data, tlv(0xA0, octets(authsafe))),
              seq(seq(sha1, octets(mac)), octets(salt)))
    open(sys.argv[5], 'wb').write(pfx)
PY
python3 "$work/der.py" "$work" authsafe "$keysalt"
mac=$(openssl mac -digest SHA1 -macopt hexkey:"$(kdf 3 20 "$macsalt" 1)" \
      -in "$work/authsafe.der" HMAC)
python3 "$work/der.py" "$work" pfx "$macsalt" "$mac" long_cut.p12

short=$(bmp 'vorin-test')
keysalt=$(openssl rand -hex 8)
longsalt=$(openssl rand -hex 72)
openssl enc -des-ede3-cbc -K "$(kdf 1 24 "$keysalt" 2048 "$short")" \
  -iv "$(kdf 2 8 "$keysalt" 2048 "$short")" -in "$work/p8.der" -out "$work/p8.enc"
python3 "$work/der.py" "$work" authsafe "$keysalt"
for form in rfc cut; do
  salt=$longsalt
  [ $form = cut ] && salt=$(printf '%s' "$longsalt" | cut -c1-128)
  mac=$(openssl mac -digest SHA1 -macopt hexkey:"$(kdf 3 20 "$salt" 1 "$short")" \
        -in "$work/authsafe.der" HMAC)
  python3 "$work/der.py" "$work" pfx "$longsalt" "$mac" long_salt_$form.p12
done
# openssl itself cannot open the cut files, and opens the others.
! openssl pkcs12 -in long_cut.p12 -passin pass:"$long" -noout 2>/dev/null
openssl pkcs12 -in long_rfc.p12 -passin pass:"$long" -noout
! openssl pkcs12 -in long_salt_cut.p12 -passin pass:vorin-test -noout 2>/dev/null
openssl pkcs12 -in long_salt_rfc.p12 -passin pass:vorin-test -noout
