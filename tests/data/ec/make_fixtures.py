#!/usr/bin/env python3
"""Makes the EC and DSA fixtures of the tests with the openssl command line.

  curves.txt        domain parameters of the curves the tests use, from
                    `openssl ecparam -name X -param_enc explicit -noout -text`
  openssl_sigs.txt  signatures made by `openssl dgst -sign` with fresh EC and DSA
                    keys (our verification must accept them)
(Signatures made by the library are checked by the tests themselves with
`openssl dgst -verify` at test time.)

Wycheproof and CAVP files are copied from the shared vector store by copy_vectors.sh.
Run from anywhere; writes next to this script.
"""
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

CURVES = [
    ("secp160k1", "secp160k1"), ("secp160r1", "secp160r1"), ("secp160r2", "secp160r2"),
    ("secp192k1", "secp192k1"), ("secp192r1", "prime192v1"), ("secp224k1", "secp224k1"),
    ("secp224r1", "secp224r1"), ("secp256k1", "secp256k1"), ("secp256r1", "prime256v1"),
    ("secp384r1", "secp384r1"), ("secp521r1", "secp521r1"),
    ("brainpoolP224r1", "brainpoolP224r1"), ("brainpoolP256r1", "brainpoolP256r1"),
    ("brainpoolP320r1", "brainpoolP320r1"), ("brainpoolP384r1", "brainpoolP384r1"),
    ("brainpoolP512r1", "brainpoolP512r1"),
]


def run(args, data=None):
    return subprocess.run(args, input=data, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          check=True).stdout


def hex_fields(text):
    """Field name -> hex digits of the colon-separated dumps of openssl -text."""
    fields, cur = {}, None
    for line in text.splitlines():
        m = re.match(r"^([A-Za-z][A-Za-z ()]*):\s*(.*)$", line)
        if m and not re.match(r"^\s*[0-9a-f]{2}:", line):
            cur = m.group(1).strip()
            rest = m.group(2).strip()
            fields[cur] = rest
            continue
        if cur is not None and re.match(r"^\s+[0-9a-f]{2}", line):
            fields[cur] += line.strip()
    out = {}
    for k, v in fields.items():
        small = re.fullmatch(r"(\d+)(?: \(0x([0-9a-f]+)\))?", v)
        if small and ":" not in v:
            out[k] = "%02x" % int(small.group(1))
        elif re.fullmatch(r"[0-9a-f:]+", v):
            out[k] = v.replace(":", "")
        else:
            out[k] = v
    return out


def curves():
    lines = ["# name p a b G n h seed (hex; seed '-' when none)"]
    for name, ossl in CURVES:
        t = run(["openssl", "ecparam", "-name", ossl, "-param_enc", "explicit", "-noout",
                 "-text"]).decode()
        f = hex_fields(t)
        h = re.match(r"\s*(\d+)", f["Cofactor"]).group(1)
        lines.append(" ".join([name, f["Prime"], f["A"], f["B"], f["Generator (uncompressed)"],
                               f["Order"], "%02x" % int(h), f.get("Seed", "-") or "-"]))
    with open(os.path.join(HERE, "curves.txt"), "w") as fh:
        fh.write("\n".join(lines) + "\n")


def der_point_of(pub_pem):
    t = run(["openssl", "ec", "-pubin", "-text", "-noout", "-conv_form", "uncompressed"],
            pub_pem).decode()
    return hex_fields(t)["pub"]


def ec_sigs(lines):
    cases = [("secp256r1", "prime256v1", "sha256"), ("secp384r1", "secp384r1", "sha384"),
             ("secp521r1", "secp521r1", "sha512"), ("brainpoolP256r1", "brainpoolP256r1", "sha256"),
             ("secp256k1", "secp256k1", "sha256"), ("secp256r1", "prime256v1", "sha512"),
             ("secp224r1", "secp224r1", "sha1"), ("secp160r1", "secp160r1", "sha256")]
    with tempfile.TemporaryDirectory() as d:
        for i, (name, ossl, md) in enumerate(cases):
            key = os.path.join(d, "k%d.pem" % i)
            run(["openssl", "ecparam", "-name", ossl, "-genkey", "-noout", "-out", key])
            pub = run(["openssl", "ec", "-in", key, "-pubout"])
            point = der_point_of(pub)
            for j in range(3):
                msg = os.urandom(17 + 40 * j)
                mf = os.path.join(d, "m")
                open(mf, "wb").write(msg)
                sig = run(["openssl", "dgst", "-" + md, "-sign", key, mf])
                lines.append(" ".join(["ec", name, md, point, msg.hex(), sig.hex()]))


def dsa_sigs(lines):
    cases = [(2048, 224, "sha224"), (2048, 256, "sha256"), (2048, 224, "sha256"),
             (1024, 160, "sha1"), (3072, 256, "sha256")]
    with tempfile.TemporaryDirectory() as d:
        for i, (L, N, md) in enumerate(cases):
            key = os.path.join(d, "d%d.pem" % i)
            run(["openssl", "genpkey", "-genparam", "-algorithm", "DSA", "-pkeyopt",
                 "dsa_paramgen_bits:%d" % L, "-pkeyopt", "dsa_paramgen_q_bits:%d" % N, "-pkeyopt",
                 "dsa_paramgen_md:%s" % ("sha256" if N > 160 else "sha1"), "-out", key + ".par"])
            run(["openssl", "genpkey", "-paramfile", key + ".par", "-out", key])
            t = run(["openssl", "pkey", "-in", key, "-text", "-noout"]).decode()
            f = hex_fields(t)
            for j in range(3):
                msg = os.urandom(23 + 31 * j)
                mf = os.path.join(d, "m")
                open(mf, "wb").write(msg)
                sig = run(["openssl", "dgst", "-" + md, "-sign", key, mf])
                lines.append(" ".join(["dsa", "%d/%d" % (L, N), md, f["P"], f["Q"], f["G"],
                                       f["pub"], msg.hex(), sig.hex()]))


CURVE_OIDS = {"secp256r1": "1.2.840.10045.3.1.7", "secp384r1": "1.3.132.0.34",
              "secp521r1": "1.3.132.0.35", "secp256k1": "1.3.132.0.10",
              "secp160r1": "1.3.132.0.8", "brainpoolP256r1": "1.3.36.3.3.2.8.1.1.7",
              "brainpoolP512r1": "1.3.36.3.3.2.8.1.1.13"}


def der(tag, content):
    n = len(content)
    if n < 0x80:
        head = bytes([n])
    else:
        b = n.to_bytes((n.bit_length() + 7) // 8, "big")
        head = bytes([0x80 | len(b)]) + b
    return bytes([tag]) + head + content


def der_oid(text):
    arcs = [int(x) for x in text.split(".")]
    out = bytearray([40 * arcs[0] + arcs[1]])
    for a in arcs[2:]:
        chunk = [a & 0x7F]
        a >>= 7
        while a:
            chunk.append(0x80 | (a & 0x7F))
            a >>= 7
        out += bytes(reversed(chunk))
    return der(0x06, bytes(out))


def der_int(v):
    b = v.to_bytes(max(1, (v.bit_length() + 8) // 8), "big")
    return der(0x02, b)


def main():
    curves()
    lines = ["# ec curve hash point msg sig | dsa L/N hash p q g y msg sig (hex)"]
    ec_sigs(lines)
    dsa_sigs(lines)
    with open(os.path.join(HERE, "openssl_sigs.txt"), "w") as fh:
        fh.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
