#!/usr/bin/env python3
# Products, squares, sums and differences modulo 2^521 - 1 by Python's
# integers, for the field kernels of that prime. Operands are values below
# 2^522 (the widest a field value may be between operations): the edges 0, 1,
# p - 1, p, values about 2^520, 2^521 and 2^522 - 1, single limbs all ones,
# and random ones (fixed seed). One line per pair: a b a*b a+b a-b, hex, the
# results reduced.
import random

p = 2**521 - 1
edges = [0, 1, 2, p - 1, p - 2, p, p + 1, 2**520, 2**520 - 1, 2**521, 2**521 + 5,
         2**522 - 1, 2 * p, 2**52 - 1, 2**52, (2**520 - 1) - (2**52 - 1), 2**464 - 1,
         sum((2**52 - 1) << (104 * i) for i in range(5))]
rng = random.Random(521)
rand = [rng.getrandbits(rng.choice([521, 522, 300, 53])) for _ in range(12)]
ops = edges + rand
with open("p521_field.txt", "w") as f:
    f.write("# made by make_p521_field.py: a b a*b a+b a-b (mod 2^521 - 1), hex\n")
    for a in ops:
        for b in ops:
            f.write("%x %x %x %x %x\n" % (a, b, a * b % p, (a + b) % p, (a - b) % p))
