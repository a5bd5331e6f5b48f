#!/bin/sh
# Sound curves the named-curve table lacks: a named curve with 2G as its
# generator (the same prime-order group), as explicit parameters. openssl
# writes the curve's explicit parameters, Python doubles the generator and
# makes the key, openssl reads the key, writes its public key and signs
# msg.bin with it (and checks the signature).
#   othergen_<curve>.spki.der  the public key with explicit parameters
#   othergen_<curve>.sig       ECDSA with SHA-256 over msg.bin
#   othergen_<curve>.cert.der  a certificate of the key, signed by itself
#   p256x.cert.der             the same for p256x.prv.der (made by gen.sh first)
set -eu
cd "$(dirname "$0")"
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT
for curve in prime256v1 brainpoolP512r1; do
  openssl ecparam -name "$curve" -param_enc explicit -outform DER -out "$W/params.der"
  python3 - "$W/params.der" "$W/key.der" <<'PY'
import sys
def parse(d, i=0):
    t, n = d[i], d[i + 1]
    i += 2
    if n & 0x80:
        k = n & 0x7f
        n = int.from_bytes(d[i:i + k], 'big')
        i += k
    return t, d[i:i + n], i + n
def items(c):
    out, i = [], 0
    while i < len(c):
        t, v, i = parse(c, i)
        out.append((t, v))
    return out
_, domain, _ = parse(open(sys.argv[1], 'rb').read())
version, field, curve, base, order = items(domain)[:5]
p = int.from_bytes(items(field[1])[1][1], 'big')
a, b = (int.from_bytes(v, 'big') for _, v in items(curve[1])[:2])
n = int.from_bytes(order[1], 'big')
m = (p.bit_length() + 7) // 8
G = (int.from_bytes(base[1][1:1 + m], 'big'), int.from_bytes(base[1][1 + m:], 'big'))
def add(P, Q):
    if P is None: return Q
    if Q is None: return P
    if P[0] == Q[0] and (P[1] + Q[1]) % p == 0: return None
    if P == Q: l = (3 * P[0] * P[0] + a) * pow(2 * P[1], -1, p) % p
    else: l = (Q[1] - P[1]) * pow(Q[0] - P[0], -1, p) % p
    x = (l * l - P[0] - Q[0]) % p
    return (x, (l * (P[0] - x) - P[1]) % p)
def mul(k, P):
    R = None
    while k:
        if k & 1: R = add(R, P)
        P = add(P, P)
        k >>= 1
    return R
def tlv(t, c):
    k = len(c)
    if k < 0x80: return bytes([t, k]) + c
    l = k.to_bytes((k.bit_length() + 7) // 8, 'big')
    return bytes([t, 0x80 | len(l)]) + l + c
def integer(v):
    return tlv(2, v.to_bytes(v.bit_length() // 8 + 1, 'big'))
pt = lambda P: b'\x04' + P[0].to_bytes(m, 'big') + P[1].to_bytes(m, 'big')
G2 = mul(2, G)
d = 0x1d3b8a5f0c6e2a47913fd0b5e8c2a4617f0e9b3c5d7a1e2f4b6c8d0e1f2a3b4c % n
Q = mul(d, G2)
params = tlv(0x30, integer(1) + tlv(0x30, field[1]) + tlv(0x30, curve[1]) + tlv(4, pt(G2)) +
             integer(n) + integer(1))
key = tlv(0x30, integer(1) + tlv(4, d.to_bytes(m, 'big')) + tlv(0xA0, params) +
          tlv(0xA1, tlv(3, b'\x00' + pt(Q))))
open(sys.argv[2], 'wb').write(key)
PY
  openssl ec -inform DER -in "$W/key.der" -out "$W/key.pem" 2>/dev/null
  openssl ec -in "$W/key.pem" -param_enc explicit -pubout -outform DER \
    -out "othergen_$curve.spki.der" 2>/dev/null
  openssl dgst -sha256 -sign "$W/key.pem" -out "othergen_$curve.sig" msg.bin
  openssl dgst -sha256 -verify "othergen_$curve.spki.der" -keyform DER \
    -signature "othergen_$curve.sig" msg.bin >/dev/null
  openssl req -new -x509 -key "$W/key.pem" -subj "/CN=othergen $curve" -days 3650 -set_serial 7 \
    -outform DER -out "othergen_$curve.cert.der"
done
openssl req -new -x509 -key p256x.prv.der -keyform DER -subj /CN=p256x -days 3650 -set_serial 7 \
  -outform DER -out p256x.cert.der
