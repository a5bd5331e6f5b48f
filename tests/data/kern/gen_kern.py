#!/usr/bin/env python3
"""Makes the known-answer files of the word-kernel tests with python3 integers.

Every line is one case: space-separated fields, numbers in big-endian hexadecimal without
prefix. Run from this folder: python3 gen_kern.py (the seed is fixed, the output reproducible).
"""
import random

rnd = random.Random(20261206)
W = 32
MASK = (1 << W) - 1


def h(x):
    return format(x, 'x')


def rand_bits(bits):
    return rnd.getrandbits(bits) if bits > 0 else 0


def odd_modulus(k, kind):
    """A k-word odd modulus with a nonzero top word, of several shapes."""
    top = 1 << (W * k)
    if kind == 'random':
        n = rand_bits(W * k) | 1 | (1 << (W * k - 1))
    elif kind == 'allones_top':          # top word 0xFFFFFFFF: exercises the top carry
        n = (MASK << (W * (k - 1))) | rand_bits(W * (k - 1)) | 1
    elif kind == 'below_pow2':           # just below 2^(32k)
        n = top - 1 - 2 * rnd.randrange(1 << 16)
    elif kind == 'small_top':            # top word 1
        n = (1 << (W * (k - 1))) | rand_bits(W * (k - 1)) | 1
    elif kind == 'sparse':               # words 1..k-2 zero
        hi = rnd.randrange(1, 1 << W)
        lo = rand_bits(W) | 1
        n = (hi << (W * (k - 1))) | lo
    else:
        raise ValueError(kind)
    assert n % 2 == 1 and n < top and n >> (W * (k - 1)) != 0
    return n


def operands(n):
    vals = [0, 1, n - 1, n - 2, rnd.randrange(n), rnd.randrange(n), rnd.randrange(n)]
    return vals


def gen_mont():
    lines = []
    sizes = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 16, 17, 20, 33, 36, 64]
    for k in sizes:
        R = 1 << (W * k)
        kinds = ['random', 'random', 'allones_top', 'below_pow2', 'small_top']
        if k > 17:
            kinds = ['random', 'allones_top']
        if k == 1:
            kinds.remove('small_top')
        if k >= 3:
            kinds += ['sparse', 'sparse']
        for kind in kinds:
            n = odd_modulus(k, kind)
            rinv = pow(R, -1, n)
            ops = operands(n)
            rmod = R % n                 # the Montgomery form of 1
            pairs = [(a, b) for a in ops[:4] for b in ops[2:4]] + \
                    [(ops[i], ops[j]) for i in range(4, 7) for j in range(4, 7)] + \
                    [(1, rmod), (ops[4], rmod), (n - 1, rmod)]
            for a, b in pairs:
                lines.append(' '.join([str(k), h(n), h(a), h(b), h(a * b * rinv % n),
                                       h(a * a * rinv % n)]))
    return lines


def gen_mont_ext():
    """Extended group: the modulus held in k+1 words, operands below 2n."""
    lines = []
    for k in [2, 3, 4, 8, 16, 31, 32]:
        kk = k + 1
        R = 1 << (W * kk)
        for kind in ['random', 'allones_top', 'below_pow2']:
            n = odd_modulus(k, kind)
            rinv = pow(R, -1, n)
            vals = [0, 1, 2 * n - 1, n, rnd.randrange(2 * n), rnd.randrange(2 * n)]
            for a in vals:
                for b in vals[2:]:
                    lines.append(' '.join([str(kk), h(n), h(a), h(b), h(a * b * rinv % n),
                                           h(a * a * rinv % n)]))
    return lines


PRIMES = {
    160: 2**160 - 2**31 - 1,
    192: 2**192 - 2**64 - 1,
    224: 2**224 - 2**96 + 1,
    256: 2**256 - 2**224 + 2**192 + 2**96 - 1,
    384: 2**384 - 2**128 - 2**96 + 2**32 - 1,
    521: 2**521 - 1,
    544: 2**544 - 2**32 + 1,
    1088: 2**1088 - 2**416 + 2**256 + 1,
}


def gen_special():
    lines = []
    for bits, p in PRIMES.items():
        k = (bits + 31) // 32
        full = (1 << (W * 2 * k)) - 1
        cases = [0, 1, p - 1, p, p + 1, (p - 1) ** 2, p * p - 1, (p - 1) * (p - 2)]
        # values whose words are mostly all ones or mostly zero give extreme signed carries
        for _ in range(6):
            t = 0
            for i in range(2 * k):
                t |= rnd.choice([0, MASK, rnd.getrandbits(W)]) << (W * i)
            cases.append(t % (p * p))
        for _ in range(24):
            cases.append(rnd.randrange(p * p))
        for _ in range(8):
            a, b = rnd.randrange(p), rnd.randrange(p)
            cases.append(a * b)
        for t in cases:
            assert 0 <= t < p * p and t <= full
            lines.append(' '.join([str(bits), h(t), h(t % p)]))
    return lines


def gen_special_pairs():
    """bits a b a*b mod p a*a mod p: the multiply and square pairs of each special prime."""
    lines = []
    for bits, p in PRIMES.items():
        k = (bits + 31) // 32
        vals = [0, 1, 2, p - 1, p - 2, (p + 1) // 2] + [rnd.randrange(p) for _ in range(10)]
        if bits == 521:
            vals += [2**522 - 1, p, 2**521 + 12345]     # not reduced, still below 2^522
        for i, a in enumerate(vals):
            b = vals[(i * 7 + 3) % len(vals)]
            lines.append(' '.join([str(bits), h(a), h(b), h(a * b % p), h(a * a % p)]))
    return lines


def gen_prod():
    """Plain products: na nb a b a*b (the square kernels use the na == nb lines)."""
    lines = []
    for k in [1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 17, 34, 9, 33, 64]:
        top = (1 << (W * k)) - 1
        for a in [0, 1, top, top - 1, rand_bits(W * k), rand_bits(W * k), 1 << (W * k - 1)]:
            b = rnd.choice([top, rand_bits(W * k), a])
            lines.append(' '.join([str(k), str(k), h(a), h(b), h(a * b), h(a * a)]))
    for _ in range(40):
        na, nb = rnd.randrange(0, 12), rnd.randrange(0, 12)
        a, b = rand_bits(W * na), rand_bits(W * nb)
        if rnd.randrange(3) == 0:
            a = (1 << (W * na)) - 1
        lines.append(' '.join([str(na), str(nb), h(a), h(b), h(a * b), h(a * a)]))
    return lines


def gen_div():
    lines = []
    for _ in range(400):
        mw = rnd.choice([1, 1, 2, 3, 4, 5, 8, 9, 17])
        form = rnd.randrange(6)
        if form == 0:
            m = rand_bits(W * mw) | (1 << (W * mw - 1))        # top bit set: no shift
        elif form == 1:
            m = rnd.randrange(1, 1 << (W * (mw - 1) + 3)) if mw > 1 else rnd.randrange(1, 8)
        elif form == 2:
            m = (MASK << (W * (mw - 1))) | rand_bits(W * (mw - 1))
        else:
            m = rand_bits(W * mw) or 1
        m = m or 1
        mlen = (m.bit_length() + W - 1) // W
        pad = rnd.choice([0, 0, 1, 3])                          # divisor high zero words
        xw = mlen + rnd.choice([0, 0, 1, 2, 5, 12])
        xform = rnd.randrange(5)
        if xform == 0:
            x = rand_bits(W * xw)
        elif xform == 1:
            # words equal to the divisor's top word exercise qhat = 0xFFFFFFFF
            top = m >> (W * (mlen - 1))
            x = 0
            for i in range(xw):
                x |= rnd.choice([top, MASK, top - 1 if top else 0, rnd.getrandbits(W)]) << (W * i)
        elif xform == 2:
            x = m * rnd.randrange(1, 1 << (W * (xw - mlen) + 1)) - rnd.choice([0, 1])
        elif xform == 3:
            x = (1 << (W * xw)) - 1
        else:
            x = rnd.choice([m, m - 1, m + 1, 0])
        x = max(0, x) & ((1 << (W * xw)) - 1)
        lines.append(' '.join([str(xw), str(mlen + pad), h(x), h(m), h(x // m), h(x % m)]))
    # Digit patterns that need the estimate's corrections (the add-back step and the
    # maximal digit), for 32-bit and for 64-bit digits: (dividend digits, divisor digits),
    # least significant first, in the manner of Hacker's Delight's division tests.
    for bits in (32, 64):
        top = 1 << (bits - 1)
        full = (1 << bits) - 1
        for u, v in [([0, 0, top, top - 1], [1, 0, top]),
                     ([3, 0, top], [1, 0, top >> 2]),
                     ([0, 0xFFFE, top], [0xFFFF, top]),
                     ([0, full, full - 1], [full, full]),
                     ([full, full, full, full], [full, 1]),
                     ([0, 0, 0, top, full], [1, 0, top]),
                     ([5, 7, full, full, top], [3, full, top])]:
            x = sum(d << (bits * i) for i, d in enumerate(u))
            m = sum(d << (bits * i) for i, d in enumerate(v))
            xw = max(1, (x.bit_length() + 31) // 32)
            mw = (m.bit_length() + 31) // 32
            lines.append(' '.join([str(xw), str(mw), h(x), h(m), h(x // m), h(x % m)]))
    return lines


def small_primes(limit):
    s = [True] * limit
    out = []
    for i in range(2, limit):
        if s[i]:
            out.append(i)
            for j in range(i * i, limit, i):
                s[j] = False
    return out


def is_probable_prime(n):
    if n < 2:
        return False
    for p in small_primes(200):
        if n % p == 0:
            return n == p
    d, s = n - 1, 0
    while d % 2 == 0:
        d //= 2
        s += 1
    for a in [2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37]:
        x = pow(a, d, n)
        if x in (1, n - 1):
            continue
        for _ in range(s - 1):
            x = x * x % n
            if x == n - 1:
                break
        else:
            return False
    return True


def rand_prime(bits):
    while True:
        p = rand_bits(bits) | (1 << (bits - 1)) | 1
        if is_probable_prime(p):
            return p


def legendre(a, p):
    """(a/p) for an odd prime p by Euler's criterion."""
    r = pow(a % p, (p - 1) // 2, p)
    return -1 if r == p - 1 else r


def jacobi_from_factors(a, factors):
    j = 1
    for p in factors:
        if p == 2:
            # Kronecker symbol (a/2) for odd a
            j *= 0 if a % 2 == 0 else (1 if a % 8 in (1, 7) else -1)
        else:
            j *= legendre(a, p)
    return j


def gen_inv_gcd_jacobi():
    inv, gcd, jac = [], [], []
    for _ in range(150):
        n = rnd.choice([1, 2, 3, 4, 6, 8, 12, 17])
        kind = rnd.randrange(4)
        if kind == 0:
            m = rand_prime(W * n)
        elif kind == 1:
            m = rand_bits(W * n) | 1
        elif kind == 2:
            m = rand_bits(W * n) or 2
        else:
            m = rand_bits(W * n - rnd.randrange(W)) or 3
        x = rnd.choice([1, m - 1, rnd.randrange(m), rnd.randrange(m), 2, 0])
        if rnd.randrange(5) == 0 and m > 6:
            g = rnd.choice([2, 3, 5])
            if m % g == 0:
                x = g * rnd.randrange(m // g)
        try:
            y = pow(x, -1, m)
            r = h(y)
        except ValueError:
            r = '-'
        if m == 1:
            r = '0'
        inv.append(' '.join([str(n), h(x), h(m), r]))
    # gcd: shared factors, powers of two, zeros, ones, equal values
    import math
    for _ in range(150):
        common = rnd.choice([1, 2, 6, 1 << rnd.randrange(70), rand_bits(40) or 1, rand_bits(200) or 1])
        a = common * rnd.choice([0, 1, rand_bits(rnd.randrange(1, 300)) or 1, 1 << rnd.randrange(40)])
        b = common * rnd.choice([1, rand_bits(rnd.randrange(1, 300)) or 1, 3 << rnd.randrange(40)])
        if rnd.randrange(10) == 0:
            b = a
        if rnd.randrange(10) == 0:
            a, b = b, 0
        gcd.append(' '.join([h(a), h(b), h(math.gcd(a, b))]))
    gcd.append(' '.join([h(12), h(18), h(6)]))
    # Jacobi over moduli with known factorisations
    for _ in range(200):
        factors = [rand_prime(rnd.choice([8, 16, 32, 48, 64, 96])) for _ in range(rnd.randrange(1, 4))]
        if rnd.randrange(4) == 0:
            factors.append(factors[0])                  # a square factor
        if rnd.randrange(5) == 0:
            factors += [2] * rnd.randrange(1, 4)        # even n (Kronecker)
        n = 1
        for f in factors:
            n *= f
        a = rnd.choice([0, 1, 2, rnd.randrange(n), rnd.randrange(n) + n * rnd.randrange(1, 1000),
                        factors[0] * rnd.randrange(1, 1000), rand_bits(500)])
        if n % 2 == 0 and a % 2 == 0:
            j = 0
        else:
            j = jacobi_from_factors(a, factors)
        jac.append(' '.join([h(a), h(n), str(j)]))
    for a, n, j in [(0, 1, 1), (0, 9, 0), (2, 7, 1), (3, 7, -1), (5, 9, 1), (1, 0, 1), (2, 0, 0),
                    (4, 6, 0), (7, 1, 1)]:
        jac.append(' '.join([h(a), h(n), str(j)]))
    return inv, gcd, jac


def gen_crt():
    """count m_0 r_0 ... m_(c-1) r_(c-1) x with pairwise coprime moduli."""
    import math
    lines = []
    for _ in range(40):
        count = rnd.choice([1, 2, 2, 3, 4])
        mods = []
        while len(mods) < count:
            m = rnd.choice([rand_prime(rnd.choice([16, 32, 64, 160, 512])),
                            rand_bits(rnd.choice([8, 40, 100, 300])) | 1,
                            (rand_bits(rnd.choice([30, 90])) | 1) << rnd.randrange(1, 5)])
            if m > 2 and all(math.gcd(m, o) == 1 for o in mods):
                mods.append(m)
        res = [rnd.randrange(m) for m in mods]
        x = 0
        prod = 1
        for m in mods:
            prod *= m
        for m, r in zip(mods, res):
            q = prod // m
            x += r * q * pow(q, -1, m)
        x %= prod
        fields = [str(count)]
        for m, r in zip(mods, res):
            fields += [h(m), h(r)]
        lines.append(' '.join(fields + [h(x)]))
    lines.append('3 3 2 5 3 7 2 17')
    return lines


def gen_text():
    lines = []
    for _ in range(120):
        bits = rnd.choice([0, 1, 31, 32, 33, 63, 64, 65, 96, 100, 160, 255, 256, 521, 1024, 2048])
        x = rand_bits(bits)
        lines.append(' '.join(['d', str(x), h(x)]))
        lines.append(' '.join(['o', format(x, 'o'), h(x), str(x)]))
        lines.append(' '.join(['x', rnd.choice([format(x, 'x'), format(x, 'X'), '000' + format(x, 'x')]), h(x)]))
    for x in [0, 1, 7, 8, 9, 10, 2**32 - 1, 2**32, 2**64 + 5, 10**19, 10**20, 12345, 511]:
        lines.append(' '.join(['d', str(x), h(x)]))
        lines.append(' '.join(['o', format(x, 'o'), h(x), str(x)]))
    return lines


def main():
    files = {'mont.txt': gen_mont(), 'montext.txt': gen_mont_ext(), 'special.txt': gen_special(),
             'div.txt': gen_div(), 'text.txt': gen_text(), 'prod.txt': gen_prod(),
             'crt.txt': gen_crt(), 'specialpair.txt': gen_special_pairs()}
    inv, gcd, jac = gen_inv_gcd_jacobi()
    files.update({'inv.txt': inv, 'gcd.txt': gcd, 'jacobi.txt': jac})
    for name, lines in files.items():
        with open(name, 'w') as f:
            f.write('\n'.join(lines) + '\n')


if __name__ == '__main__':
    main()
