#!/usr/bin/env python3
"""Fixtures made with the `openssl` command line.

signatures.txt: one line per signature, "curve hash message public-point
compressed-point signature", hexadecimal; EC-DSA signatures over binary curves
made with `openssl dgst -sign` (DER SEQUENCE of r and s), keys from
`openssl ecparam -genkey`.

keys.txt: "curve private-scalar public-point", from `openssl ecparam -genkey`.

seeds.txt: "name seed", the published seeds as `openssl ecparam` prints them.

generators.txt: "name uncompressed-generator" for the binary curves whose
published base point is compressed, as `openssl ecparam` prints it
uncompressed.

Usage: gen_openssl.py   (writes the four files here; keys and signatures are random)
"""
import os
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def run(*args, data=None):
    return subprocess.run(args, check=True, capture_output=True, input=data).stdout


def point_of(key_pem, form):
    der = run("openssl", "ec", "-in", key_pem, "-pubout", "-outform", "DER", "-conv_form", form)
    # the BIT STRING that ends the SubjectPublicKeyInfo: 03 len 00 point
    i = der.rfind(b"\x03")
    while True:
        ln = der[i + 1]
        hdr = 2
        if ln & 0x80:
            k = ln & 0x7F
            ln = int.from_bytes(der[i + 2:i + 2 + k], "big")
            hdr += k
        if i + hdr + ln == len(der) and der[i + hdr] == 0:
            return der[i + hdr + 1:]
        i = der.rfind(b"\x03", 0, i)


def signatures():
    lines = []
    with tempfile.TemporaryDirectory() as tmp:
        key = os.path.join(tmp, "key.pem")
        msgf = os.path.join(tmp, "msg.bin")
        for curve, hashes in (("sect163k1", ("sha1", "sha256")), ("sect233r1", ("sha256", "sha384")),
                              ("sect283k1", ("sha256", "sha512")), ("sect571r1", ("sha512", "sha224"))):
            run("openssl", "ecparam", "-name", curve, "-genkey", "-noout", "-out", key)
            pub = point_of(key, "uncompressed")
            comp = point_of(key, "compressed")
            for i, h in enumerate(hashes):
                msg = os.urandom(40 + i)
                with open(msgf, "wb") as f:
                    f.write(msg)
                sig = run("openssl", "dgst", "-" + h, "-sign", key, msgf)
                lines.append(" ".join((curve, h, msg.hex(), pub.hex(), comp.hex(), sig.hex())))
    return lines


def keys():
    """curve, private scalar and public point d·G, for scalar multiplication."""
    lines = []
    with tempfile.TemporaryDirectory() as tmp:
        key = os.path.join(tmp, "key.pem")
        for curve in ("sect113r1", "sect163k1", "sect233r1", "sect283r1", "sect409k1", "sect571k1",
                      "c2pnb304w1", "c2tnb359v1", "c2tnb431r1", "wap-wsg-idm-ecid-wtls1"):
            run("openssl", "ecparam", "-name", curve, "-genkey", "-noout", "-out", key)
            text = run("openssl", "ec", "-in", key, "-text", "-noout").decode()
            priv, on = "", False
            for line in text.splitlines():
                if line.startswith("priv:"):
                    on = True
                    continue
                if on and line.startswith("    "):
                    priv += line.strip().replace(":", "")
                elif on:
                    break
            lines.append("%s %s %s" % (curve, priv, point_of(key, "uncompressed").hex()))
    return lines


def seeds():
    """name and published seed of X9.62 binary curves whose b derives from the seed.

    (The seeds of the NIST B-curves give b in a normal basis, not in the
    polynomial basis the parameters are written in.)"""
    lines = []
    for name in ("c2pnb163v1", "c2pnb163v2", "c2pnb163v3", "c2tnb191v1", "c2tnb191v2",
                 "c2tnb239v1"):
        text = run("openssl", "ecparam", "-name", name, "-param_enc", "explicit", "-noout",
                   "-text").decode()
        seed, on = "", False
        for line in text.splitlines():
            if line.startswith("Seed:"):
                on = True
                continue
            if on and line.startswith("    "):
                seed += line.strip().replace(":", "")
            elif on:
                break
        lines.append("%s %s" % (name, seed))
    return lines


def generators():
    lines = []
    for name, ossl in (("c2pnb163v1", "c2pnb163v1"), ("c2pnb163v2", "c2pnb163v2"),
                       ("c2pnb163v3", "c2pnb163v3"), ("c2pnb176w1", "c2pnb176v1"),
                       ("c2tnb191v1", "c2tnb191v1"), ("c2tnb191v2", "c2tnb191v2"),
                       ("c2tnb191v3", "c2tnb191v3"), ("c2pnb208w1", "c2pnb208w1"),
                       ("c2tnb239v1", "c2tnb239v1"), ("c2tnb239v2", "c2tnb239v2"),
                       ("c2tnb239v3", "c2tnb239v3")):
        text = run("openssl", "ecparam", "-name", ossl, "-param_enc", "explicit", "-noout",
                   "-text", "-conv_form", "uncompressed").decode()
        g, on = "", False
        for line in text.splitlines():
            if line.startswith("Generator"):
                on = True
                continue
            if on and line.startswith("    "):
                g += line.strip().replace(":", "")
            elif on:
                break
        lines.append("%s %s" % (name, g))
    return lines


def main():
    with open(os.path.join(HERE, "signatures.txt"), "w") as f:
        f.write("\n".join(signatures()) + "\n")
    with open(os.path.join(HERE, "seeds.txt"), "w") as f:
        f.write("\n".join(seeds()) + "\n")
    with open(os.path.join(HERE, "keys.txt"), "w") as f:
        f.write("\n".join(keys()) + "\n")
    with open(os.path.join(HERE, "generators.txt"), "w") as f:
        f.write("\n".join(generators()) + "\n")


if __name__ == "__main__":
    main()
