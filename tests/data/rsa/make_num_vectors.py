#!/usr/bin/env python3
"""Known answers for the natural numbers and residues, computed with Python's
own integers (fixed seed, so the file is reproducible).

Lines (hexadecimal, no 0x):
  arith a b a+b a-b|- a*b a/b a%b gcd(a,b) shift a<<shift a>>shift decimal(a)
  pow   opts m x e x^e mod m
  inv   opts m x x^-1 mod m
  crt   p q d x x^d mod pq     (private-key style exponent, CRT path)
"""
import math
import random

rnd = random.Random(20261206)
out = []


def h(v):
    return format(v, "x")


def rand_words(k, top=True):
    v = rnd.getrandbits(32 * k)
    if top:
        v |= 1 << (32 * k - 1 - rnd.randrange(0, 8))
    return v


for k in (1, 2, 3, 5, 8, 17, 33, 64):
    for _ in range(6):
        a = rand_words(k)
        b = rand_words(rnd.choice([1, max(1, k // 2), k]))
        s = rnd.randrange(0, 100)
        out.append(" ".join(["arith", h(a), h(b), h(a + b), h(a - b) if a >= b else "-",
                             h(a * b), h(a // b), h(a % b), h(math.gcd(a, b)), h(s),
                             h(a << s), h(a >> s), str(a)]))


def moduli(k):
    yield rand_words(k) | 1
    m = (0xFFFFFFFF << (32 * (k - 1))) | (rnd.getrandbits(32 * (k - 1)) | 1)
    yield m
    if k >= 3:  # sparse: only the lowest and the top word nonzero
        yield (rnd.getrandbits(32) | 0x80000000) << (32 * (k - 1)) | (rnd.getrandbits(32) | 1)
    yield rand_words(k) & ~1  # even


P = {
    256: 2**256 - 2**224 + 2**192 + 2**96 - 1,
    384: 2**384 - 2**128 - 2**96 + 2**32 - 1,
    521: 2**521 - 1,
    192: 2**192 - 2**64 - 1,
    224: 2**224 - 2**96 + 1,
}

for k in (1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 16, 17, 33, 64):
    for m in moduli(k):
        for opts in (8, 16, 0):
            if opts == 16 and m % 2 == 0:
                continue
            x = rnd.randrange(0, m)
            e = rnd.getrandbits(rnd.choice([1, 5, 32, 33, 70, 32 * k]))
            out.append(" ".join(["pow", str(opts), h(m), h(x), h(e), h(pow(x, e, m))]))
            y = rnd.randrange(1, m)
            if math.gcd(y, m) == 1:
                out.append(" ".join(["inv", str(opts), h(m), h(y), h(pow(y, -1, m))]))
for bits, p in P.items():
    for opts in (41, 8):
        x = rnd.randrange(0, p)
        e = rnd.getrandbits(bits)
        out.append(" ".join(["pow", str(opts), h(p), h(x), h(e), h(pow(x, e, p))]))
        out.append(" ".join(["inv", str(opts), h(p), h(x), h(pow(x, -1, p))]))


def rand_prime(bits):
    while True:
        c = rnd.getrandbits(bits) | (1 << (bits - 1)) | 1
        if all(pow(a, c - 1, c) == 1 for a in (2, 3, 5, 7, 11, 13)):
            return c


for bits in (64, 160, 512):
    p, q = rand_prime(bits), rand_prime(bits)
    if p == q:
        continue
    phi = (p - 1) * (q - 1)
    d = 0
    while math.gcd(d, phi) != 1:
        d = rnd.randrange(3, phi)
    for x in (rnd.randrange(0, p * q), p * rnd.randrange(1, q), 0, 1):
        out.append(" ".join(["crt", h(p), h(q), h(d), h(x), h(pow(x, d, p * q))]))

with open("num_vectors.txt", "w") as f:
    f.write("\n".join(out) + "\n")
