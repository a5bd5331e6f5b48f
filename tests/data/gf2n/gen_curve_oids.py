#!/usr/bin/env python3
"""Writes curve_oids.txt: for each of the 100 named curves in id order, its
object identifier ("-" for the FIPS 186 rows, which carry none), taken from
the object table of the `openssl` command line (`openssl asn1parse -genstr
OID:<name>`) and decoded here from its DER, and the order of its base point
in hexadecimal from `openssl ecparam` ("-" where openssl has no parameters:
the Gaussian-normal-basis curves).

Run from this folder: python3 gen_curve_oids.py > curve_oids.txt
"""
import subprocess

NAMES = (
    "secp112r1 secp112r2 secp128r1 secp128r2 secp160k1 secp160r1 secp160r2 secp192k1 "
    "secp192r1 secp224k1 secp224r1 secp256k1 secp256r1 secp384r1 secp521r1 "
    "sect113r1 sect113r2 sect131r1 sect131r2 sect163k1 sect163r1 sect163r2 sect193r1 "
    "sect193r2 sect233k1 sect233r1 sect239k1 sect283k1 sect283r1 sect409k1 sect409r1 "
    "sect571k1 sect571r1 "
    "nistp192 nistp224 nistp256 nistp384 nistp521 nistk163 nistb163 nistk233 nistb233 "
    "nistk283 nistb283 nistk409 nistb409 nistk571 nistb571 "
    "brainpoolP160r1 brainpoolP160t1 brainpoolP192r1 brainpoolP192t1 brainpoolP224r1 "
    "brainpoolP224t1 brainpoolP256r1 brainpoolP256t1 brainpoolP320r1 brainpoolP320t1 "
    "brainpoolP384r1 brainpoolP384t1 brainpoolP512r1 brainpoolP512t1 "
    "prime192v1 prime192v2 prime192v3 prime239v1 prime239v2 prime239v3 prime256v1 "
    "c2pnb163v1 c2pnb163v2 c2pnb163v3 c2pnb176w1 c2tnb191v1 c2tnb191v2 c2tnb191v3 "
    "c2onb191v4 c2onb191v5 c2pnb208w1 c2tnb239v1 c2tnb239v2 c2tnb239v3 c2onb239v4 "
    "c2onb239v5 c2pnb272w1 c2pnb304w1 c2pnb359v1 c2pnb368w1 c2pnb431r1").split() + [
    "wap-wsg-idm-ecid-wtls%d" % i for i in (1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12)]

# Our name -> the name in openssl's object table.
OPENSSL = {"secp192r1": "prime192v1", "secp256r1": "prime256v1", "c2pnb176w1": "c2pnb176v1",
           "c2pnb359v1": "c2tnb359v1", "c2pnb431r1": "c2tnb431r1"}
# The FIPS 186 curves under their SEC 2 / X9.62 names.
FIPS = {"nistp192": "prime192v1", "nistp224": "secp224r1", "nistp256": "prime256v1",
        "nistp384": "secp384r1", "nistp521": "secp521r1", "nistk163": "sect163k1",
        "nistb163": "sect163r2", "nistk233": "sect233k1", "nistb233": "sect233r1",
        "nistk283": "sect283k1", "nistb283": "sect283r1", "nistk409": "sect409k1",
        "nistb409": "sect409r1", "nistk571": "sect571k1", "nistb571": "sect571r1"}


def oid_of(name):
    der = subprocess.run(["openssl", "asn1parse", "-genstr", "OID:" + OPENSSL.get(name, name),
                          "-noout", "-out", "/dev/stdout"], check=True,
                         stdout=subprocess.PIPE).stdout
    assert der[0] == 6 and der[1] == len(der) - 2, name
    body, arcs, v = der[2:], [], 0
    for b in body:
        v = v << 7 | (b & 0x7F)
        if not b & 0x80:
            arcs.append(v)
            v = 0
    first = min(arcs[0] // 40, 2)
    return ".".join(str(a) for a in [first, arcs[0] - 40 * first] + arcs[1:])


def order_of(name):
    r = subprocess.run(["openssl", "ecparam", "-name", FIPS.get(name, OPENSSL.get(name, name)),
                        "-param_enc", "explicit", "-text", "-noout"],
                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    if r.returncode != 0:
        return "-"
    lines, out, on = r.stdout.splitlines(), "", False
    for line in lines:
        if line.startswith("Order:"):
            on = True
            continue
        if on and line.startswith(" "):
            out += line.strip().replace(":", "")
        elif on:
            break
    return "%x" % int(out, 16)


assert len(NAMES) == 100
for n in NAMES:
    print(n, "-" if n in FIPS else oid_of(n), order_of(n))
