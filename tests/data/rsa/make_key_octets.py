#!/usr/bin/env python3
"""Known answers for RSA public keys made from octets: x^e mod n computed with Python's own
integers (fixed seed, reproducible) for odd moduli of 512 to 8192 bits, odd word counts among
them, and the exponents 3, 65537, 2^64 + 1 (three words), 2^96 + 1 (four) and an odd one of
256 bits (the longest a key takes).

Lines (hexadecimal, no 0x; bits decimal):
  kpow bits n e x x^e mod n
"""
import random

rnd = random.Random(20261207)
out = []
for bits in (512, 544, 1025, 2048, 3073, 4096, 8192):
    n = rnd.getrandbits(bits) | 1 | (1 << (bits - 1))
    for e in (3, 65537, (1 << 64) + 1, (1 << 96) + 1, rnd.getrandbits(256) | 1 | (1 << 255)):
        x = rnd.randrange(2, n)
        out.append(" ".join(["kpow", str(bits), format(n, "x"), format(e, "x"), format(x, "x"),
                             format(pow(x, e, n), "x")]))
with open("key_octets.txt", "w") as f:
    f.write("\n".join(out) + "\n")
