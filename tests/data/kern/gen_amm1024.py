#!/usr/bin/env python3
"""Known answers for the 1024-bit road's almost-Montgomery product (amm1024.txt).

Each line: n a b want, big-endian hexadecimal; want = a b 2^-1040 mod n. The operands are
what that product takes: n odd with a nonzero top 32-bit word (2^992 <= n < 2^1024), a and b
below 2n. Run from this folder: python3 gen_amm1024.py (fixed seed, reproducible output).
"""
import random

rnd = random.Random(20261207)
RP = 1 << 1040


def moduli():
    yield rnd.getrandbits(1024) | 1 | (1 << 1023)           # a usual RSA-2048 half
    yield (1 << 1024) - 1                                     # all ones
    yield (1 << 1024) - 1 - 2 * rnd.randrange(1 << 20)        # just below 2^1024
    yield (1 << 992) + 1                                      # the least top word
    yield ((1 << 1024) - 1) ^ (((1 << 52) - 1) << 520)        # a zero digit in the middle
    for _ in range(2):
        yield rnd.getrandbits(1024) | 1 | (1 << 1023)


def operands(n):
    near = [(1 << 1024) - 1, 1 << 1024, (1 << 1024) + 1, 1 << 1023, (1 << 1040) // 3]
    ones52 = sum(((1 << 52) - 1) << (52 * i) for i in range(0, 20, 2))  # alternate full digits
    edge = [0, 1, 2, n - 1, n, n + 1, 2 * n - 1, ones52 % (2 * n)]
    edge += [v for v in near if v < 2 * n]
    pairs = [(a, 2 * n - 1) for a in edge] + [(a, rnd.randrange(2 * n)) for a in edge]
    pairs += [(v, v) for v in edge[3:] + [rnd.randrange(2 * n) for _ in range(3)]]  # squares
    return pairs


def h(x):
    return format(x, 'x')


with open("amm1024.txt", "w") as f:
    for n in moduli():
        inv = pow(RP, -1, n)
        for a, b in operands(n):
            assert 0 <= a < 2 * n and 0 <= b < 2 * n
            f.write(" ".join(h(v) for v in (n, a, b, a * b * inv % n)) + "\n")
