#!/usr/bin/env python3
"""Known answers of the public road's 52-bit almost-Montgomery product and of the public
power x^e mod n built on it, computed with Python's own integers (fixed seed, reproducible).
For a modulus of k words the product works on D = ceil((32k + 2) / 52) digits, radix
R = 2^(52 D), and gives exactly (a b + M n) / R with M = -a b n^-1 mod R (below 2n for a, b
below 2n); the vector and portable forms must give that very value, not only its residue.

Lines (hexadecimal, no 0x; k decimal):
  amm k n a b r
  ppow k n x e x^e mod n
"""
import random

rnd = random.Random(20261208)
out = []


def h(v):
    return format(v, "x")


def moduli(k):
    yield rnd.getrandbits(32 * k) | 1 | (1 << (32 * k - 1))
    # top word 1: n far below the radix
    yield (1 << (32 * (k - 1))) | rnd.getrandbits(32 * (k - 1)) | 1
    # just below 2^(32k): the radix's least margin
    yield (1 << (32 * k)) - 1 - 2 * rnd.randrange(1 << 20)


def amm(k, n, a, b):
    d = (32 * k + 2 + 51) // 52
    r = 1 << (52 * d)
    m = (-a * b * pow(n, -1, r)) % r
    return (a * b + m * n) // r


# Word counts from the smallest served (32) to the largest (220), odd ones and those where
# the digits just fill or just spill a register.
for k in (32, 33, 63, 64, 65, 97, 128, 192, 209, 220):
    for n in moduli(k):
        pairs = [(rnd.randrange(0, 2 * n), rnd.randrange(0, 2 * n)),
                 (2 * n - 1, 2 * n - 1), (0, rnd.randrange(0, 2 * n)), (1, n + 1)]
        for a, b in pairs:
            out.append(" ".join(["amm", str(k), h(n), h(a), h(b), h(amm(k, n, a, b))]))
        big = rnd.getrandbits(64) | (1 << 63)
        if k <= 64:
            xe = [(rnd.randrange(0, n), 65537), (0, 3), (1, 1), (n - 1, 2), (n - 2, 0x10000),
                  (rnd.randrange(0, n), big), (rnd.randrange(0, n), rnd.getrandbits(32 * k))]
        else:
            xe = [(rnd.randrange(0, n), 65537), (n - 1, 65537), (rnd.randrange(0, n), big)]
        for x, e in xe:
            out.append(" ".join(["ppow", str(k), h(n), h(x), h(e), h(pow(x, e, n))]))

with open("pow_public.txt", "w") as f:
    f.write("\n".join(out) + "\n")
