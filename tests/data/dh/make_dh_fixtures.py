#!/usr/bin/env python3
"""Diffie-Hellman fixtures made with the openssl command line (run in this
folder). Writes openssl_exchanges.txt: key pairs of two parties in the RFC 3526
groups and the secret `openssl pkeyutl -derive` agrees for them (without
padding), the last one a secret whose leading octet is zero; and
derive_key.txt: SHA-1 counter-mode stretching of the first secret computed
with python's hashlib. The RFC 5114, RFC 3526 and exchange files beside it are
copies of the shared vector files."""
import hashlib
import os
import subprocess
import tempfile

TMP = tempfile.mkdtemp(prefix="dhfix")


def run(args):
    return subprocess.run(args, stdout=subprocess.PIPE, check=True).stdout


def key(group, name):
    path = os.path.join(TMP, name + ".pem")
    run(["openssl", "genpkey", "-algorithm", "DH", "-pkeyopt", "group:" + group, "-out", path])
    run(["openssl", "pkey", "-in", path, "-pubout", "-out", path + ".pub"])
    text = run(["openssl", "pkey", "-in", path, "-text", "-noout"]).decode()
    fields, cur = {}, None
    for line in text.splitlines():
        if line.startswith(" ") and cur:
            fields[cur] += line.strip().replace(":", "")
        elif line.endswith(":"):
            cur = line[:-1].strip()
            fields[cur] = ""
    return path, int(fields["private-key"], 16), int(fields["public-key"], 16)


def derive(a, b, pad=False):
    args = ["openssl", "pkeyutl", "-derive", "-inkey", a, "-peerkey", b + ".pub"]
    if pad:
        args += ["-pkeyopt", "dh_pad:1"]
    return run(args)


def prime(group):
    """The group's prime from the RFC 3526 copy beside this script."""
    index = {"modp_1536": 0, "modp_2048": 1}[group]
    primes = [line.split("=")[1].strip() for line in open("rfc3526.txt") if line.startswith("P =")]
    p = int(primes[index], 16)
    a, xa, ya = key(group, "check")
    assert pow(2, xa, p) == ya
    return p


def main():
    out = ["# openssl DH exchanges: P, G, private and public values of A and B, Z derived"]
    count = 0
    first_z = None
    for group in ("modp_1536", "modp_2048", "modp_2048"):
        p = prime(group)
        a, xa, ya = key(group, "a%d" % count)
        b, xb, yb = key(group, "b%d" % count)
        z = derive(a, b)
        assert z == derive(b, a)
        first_z = first_z or z
        out += ["", "COUNT = %d" % count, "P = %X" % p, "G = 2", "XA = %X" % xa, "YA = %X" % ya,
                "XB = %X" % xb, "YB = %X" % yb, "Z = %s" % z.hex().upper()]
        count += 1
    p = prime("modp_1536")
    plen = (p.bit_length() + 7) // 8
    for i in range(4000):
        a, xa, ya = key("modp_1536", "za")
        b, xb, yb = key("modp_1536", "zb")
        padded = derive(a, b, pad=True)
        if padded[0] == 0:
            z = derive(a, b)
            assert len(padded) == plen and z == padded[1:]
            out += ["", "# the agreed value has a zero leading octet", "COUNT = %d" % count,
                    "P = %X" % p, "G = 2", "XA = %X" % xa, "YA = %X" % ya, "XB = %X" % xb,
                    "YB = %X" % yb, "Z = %s" % z.hex().upper()]
            break
    else:
        raise SystemExit("no leading-zero secret found")
    open("openssl_exchanges.txt", "w").write("\n".join(out) + "\n")

    parts = [b"first party", b"\x00\x01\x02", b"", b"fourth", b"fifth part"]
    lines = ["# ZZ, p1..p5 and the 50 stretched octets", "ZZ = " + first_z.hex().upper()]
    for i, part in enumerate(parts, 1):
        lines.append("P%d = %s" % (i, part.hex().upper()))
    blocks = b""
    for counter in range(1, 4):
        h = hashlib.sha1(first_z + parts[0] + counter.to_bytes(4, "big"))
        for part in (parts[1], parts[2], parts[4], parts[3]):
            h.update(part)
        blocks += h.digest()
    lines.append("OUT = " + blocks[:50].hex().upper())
    open("derive_key.txt", "w").write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
