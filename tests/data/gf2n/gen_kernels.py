#!/usr/bin/env python3
"""Known answers for the GF(2^m) kernels from an independent Python model.

For each field (one per fixed kernel size, several served by the generic
kernels, degrees that are multiples of 32) it writes random operands and
their sum, product, inverse, trace, half-trace (odd m) and the number of
roots of z^2 + a z + b = 0. Also a few reducible polynomials.

Usage: gen_kernels.py > kernels.txt   (fixed seed: the output is stable)
"""
import random

def deg(a):
    return a.bit_length() - 1

def pmod(a, f):
    df = deg(f)
    while a and deg(a) >= df:
        a ^= f << (deg(a) - df)
    return a

def clmul(a, b):
    r = 0
    while b:
        if b & 1:
            r ^= a
        a <<= 1
        b >>= 1
    return r

def pmul(a, b, f):
    return pmod(clmul(a, b), f)

def ppow(a, e, f):
    r = 1
    while e:
        if e & 1:
            r = pmul(r, a, f)
        a = pmul(a, a, f)
        e >>= 1
    return r

def pgcd(a, b):
    while b:
        a, b = b, pmod(a, b)
    return a

def irreducible(f):
    m = deg(f)
    if m < 1:
        return False
    x = pmod(2, f)
    h = x
    marks = {}
    primes = [p for p in range(2, m + 1) if m % p == 0 and all(p % q for q in range(2, p))]
    for i in range(1, m + 1):
        h = pmul(h, h, f)
        for p in primes:
            if i == m // p:
                marks[p] = h
    if h != x:
        return False
    return all(pgcd(f, marks[p] ^ x) == 1 for p in primes)

def inverse(a, f):
    m = deg(f)
    return ppow(a, (1 << m) - 2, f)

def trace(a, f):
    m = deg(f)
    t, s = 0, a
    for _ in range(m):
        t ^= s
        s = pmul(s, s, f)
    return t

def half_trace(a, f):
    m = deg(f)
    h, s = 0, a
    for i in range(m):
        if i % 2 == 0:
            h ^= s
        s = pmul(s, s, f)
    return h

def poly(m, *ks):
    f = (1 << m) | 1
    for k in ks:
        f |= 1 << k
    return f

def find_pentanomial(m):
    for k3 in range(3, m):
        for k2 in range(2, k3):
            for k1 in range(1, k2):
                f = poly(m, k1, k2, k3)
                if irreducible(f):
                    return f
    raise ValueError(m)

FIELDS = [
    poly(79, 9),                 # 3 words
    poly(113, 9),                # 4
    poly(131, 2, 3, 8),          # 5
    poly(163, 3, 6, 7),          # 6
    poly(193, 15),               # 7
    poly(233, 74),               # 8
    poly(283, 5, 7, 12),         # 9
    poly(409, 87),               # 13
    poly(571, 2, 5, 10),         # 18
    poly(304, 1, 2, 11),         # generic (10 words)
    poly(359, 68),               # generic (12)
    poly(431, 120),              # generic (14)
    poly(23, 5),                 # generic (1 word)
    poly(41, 3),                 # generic (2)
    find_pentanomial(64),        # m a multiple of 32: one word more than the bits need
    find_pentanomial(96),
    find_pentanomial(160),
    find_pentanomial(576),
]

def main():
    rnd = random.Random(20261206)
    out = []
    for f in FIELDS:
        assert irreducible(f), hex(f)
        m = deg(f)
        out.append("field %x" % f)
        for i in range(6):
            if i == 0:
                a, b = 1, rnd.getrandbits(m)
            elif i == 1:
                a, b = (1 << m) - 1, (1 << m) - 1
            else:
                a, b = rnd.getrandbits(m) | 1, rnd.getrandbits(m)
            ht = half_trace(a, f) if m % 2 else 0
            roots = 1 if a == 0 else (0 if trace(pmul(inverse(pmul(a, a, f), f), b, f), f) else 2)
            out.append("case %x %x %x %x %x %d %x %d" % (
                a, b, a ^ b, pmul(a, b, f), inverse(a, f), trace(a, f), ht, roots))
    # polynomials that are not irreducible (refused as fields)
    for f in (clmul(poly(2, 1), poly(163, 3, 6, 7)), clmul(poly(79, 9), poly(84, 5)),
              clmul(poly(3, 1), poly(5, 2)), (1 << 100) | (1 << 50) | 1):
        assert not irreducible(f)
        out.append("reducible %x" % f)
    print("\n".join(out))

if __name__ == "__main__":
    main()
