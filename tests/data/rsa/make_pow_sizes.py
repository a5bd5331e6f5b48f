#!/usr/bin/env python3
"""Known answers of modular exponentiation for the operand sizes that the
per-size kernels do not cover (generic rows, odd counts, the block limit of
the generic multiply) and for the CRT path at real RSA half sizes; computed
with Python's own integers (fixed seed, reproducible).

Lines (hexadecimal, no 0x):
  pow opts m x e x^e mod m
  crt p q e x x^e mod pq     (e arbitrary: also multiples of p-1 and q-1)
  crtu p q e x x^e mod pq    (halves of unequal sizes, p below q)
"""
import random

rnd = random.Random(20261207)
out = []


def h(v):
    return format(v, "x")


def moduli(k):
    yield rnd.getrandbits(32 * k) | 1 | (1 << (32 * k - 1))
    # top word all ones: the Montgomery top carry
    yield (0xFFFFFFFF << (32 * (k - 1))) | rnd.getrandbits(32 * (k - 1)) | 1
    # just below 2^(32k)
    yield (1 << (32 * k)) - 1 - 2 * rnd.randrange(1 << 20)


for k in (10, 11, 15, 24, 31, 32, 33, 48, 63, 64, 96, 128, 256, 257, 258, 260):
    for m in moduli(k):
        for opts in (8, 16, 0):
            if opts == 0 and k > 64:
                continue
            ebits = 32 * k if k <= 64 else 80
            for x in (rnd.randrange(0, m), m - 1):
                e = rnd.getrandbits(ebits) | (1 << (ebits - 1))
                out.append(" ".join(["pow", str(opts), h(m), h(x), h(e), h(pow(x, e, m))]))


def rand_prime(bits):
    while True:
        c = rnd.getrandbits(bits) | (3 << (bits - 2)) | 1
        if all(pow(a, c - 1, c) == 1 for a in (2, 3, 5, 7, 11, 13, 17, 19, 23)):
            return c


for bits in (1024, 1536):
    p, q = rand_prime(bits), rand_prime(bits)
    n = p * q
    lam = (p - 1) * (q - 1)
    for e in (rnd.randrange(1 << 40, n), lam, 3 * lam + 1, (p - 1) * 5):
        for x in (rnd.randrange(0, n), p * rnd.randrange(1, q), q * 7, n - 1):
            out.append(" ".join(["crt", h(p), h(q), h(e), h(x), h(pow(x, e, n))]))

# CRT halves of unequal word counts and with p < q (the recombination must not assume p > q),
# from two-word primes to RSA half sizes; the vector road's pair size (32 words) included.
for pbits, qbits in ((40, 50), (64, 96), (1000, 1100), (1024, 1056), (1056, 1024), (1024, 1024)):
    p, q = rand_prime(pbits), rand_prime(qbits)
    while pbits == qbits and p > q:
        p, q = rand_prime(pbits), rand_prime(qbits)
    n = p * q
    lam = (p - 1) * (q - 1)
    for e in (rnd.randrange(1 << 40, n), 0, 1, (p - 1) * 3):
        for x in (rnd.randrange(0, n), q * rnd.randrange(1, p), n - 1):
            out.append(" ".join(["crtu", h(p), h(q), h(e), h(x), h(pow(x, e, n))]))

with open("pow_sizes.txt", "w") as f:
    f.write("\n".join(out) + "\n")
