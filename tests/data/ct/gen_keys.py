#!/usr/bin/env python3
"""Keys and expected values for the constant-time tests (tests/ct/ct_keys.h).

The keys come from openssl; the expected results (RSA cipher text, DH shared value) are
computed here with Python's integers, independently of the library. Run from anywhere:
  python3 tests/data/ct/gen_keys.py
"""
import os
import re
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "..", "ct", "ct_keys.h")


def run(*args):
    return subprocess.run(args, check=True, capture_output=True).stdout.decode()


def fields(text):
    """name -> int for the hex blocks of `openssl pkey -text` (plain numbers too)."""
    out, name, buf = {}, None, ""
    for line in text.splitlines():
        m = re.match(r"^(\w[\w ]*?):\s*(\S.*)?$", line)
        if m and not line.startswith(" "):
            if name and buf:
                out[name] = int(buf.replace(":", ""), 16)
            name, buf = m.group(1).strip(), ""
            rest = (m.group(2) or "").strip()
            d = re.match(r"^(\d+) \(0x[0-9a-f]+\)$", rest)
            if d:
                out[name] = int(d.group(1))
                name = None
        elif name:
            buf += line.strip()
    if name and buf:
        out[name] = int(buf.replace(":", ""), 16)
    return out


def hexs(v):
    h = "%x" % v
    return h if len(h) % 2 == 0 else "0" + h


def main():
    tmp = tempfile.mkdtemp()
    lines = ["// Made by tests/data/ct/gen_keys.py (openssl keys, Python's integers); do not edit.",
             "#pragma once", ""]
    for bits in (2048, 4096):
        pem = os.path.join(tmp, "rsa%d.pem" % bits)
        run("openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:%d" % bits,
            "-out", pem)
        f = fields(run("openssl", "pkey", "-in", pem, "-text", "-noout"))
        n, e, d = f["modulus"], f["publicExponent"], f["privateExponent"]
        p, q = f["prime1"], f["prime2"]
        m = int.from_bytes(b"constant-time test message %d" % bits, "big") | (1 << (bits - 9))
        c = pow(m, e, n)
        for k, v in (("N", n), ("E", e), ("D", d), ("P", p), ("Q", q), ("DP", f["exponent1"]),
                     ("DQ", f["exponent2"]), ("QINV", f["coefficient"]), ("MSG", m),
                     ("CIPHER", c)):
            lines.append('static const char kRsa%d%s[] = "0x%s";' % (bits, k, hexs(v)))
        lines.append("")
    params = os.path.join(tmp, "dsa.param")
    run("openssl", "genpkey", "-genparam", "-algorithm", "DSA", "-pkeyopt",
        "dsa_paramgen_bits:2048", "-pkeyopt", "dsa_paramgen_q_bits:256", "-out", params)
    keys = []
    for i in range(2):
        pem = os.path.join(tmp, "dsa%d.pem" % i)
        run("openssl", "genpkey", "-paramfile", params, "-out", pem)
        keys.append(fields(run("openssl", "pkey", "-in", pem, "-text", "-noout")))
    a, b = keys
    assert a["P"] == b["P"] and a["Q"] == b["Q"] and a["G"] == b["G"]
    for k, v in (("P", a["P"]), ("Q", a["Q"]), ("G", a["G"]), ("X", a["priv"]),
                 ("Y", a["pub"]), ("PEERY", b["pub"]), ("SHARED", pow(b["pub"], a["priv"], a["P"]))):
        lines.append('static const char kDsa2048%s[] = "0x%s";' % (k, hexs(v)))
    with open(OUT, "w") as fh:
        fh.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
