#!/usr/bin/env python3
"""Expected outputs of the library's generators, from small models written
from their description (not from the library):

- the hash DRBG after ISO/IEC 18031: Hash_DRBG-like, with its own derivation
  function (bit count in two octets, low first), seedlen = max(strength,
  digest bits), C = Hash(0x00 || V), entropy input = the seed repeated to the
  needed length, strings entering with their terminating NUL;
- the FIPS 186-2 generator with G from one SHA-1 compression (standard
  initial value, zero padding to 64 octets, no length), XKEY arithmetic
  little-endian modulo 2^(8b).

Writes rbg_kat.txt, a list of scenarios the C++ test replays:
    drbg <hashId> <strength>     | dss
    init <seedhex> <stringhex|->
    reinit <seedhex> <stringhex|->
    fill <octets> <expected hex|->
"""
import hashlib
import os
import struct

HASHES = {1: hashlib.sha1, 2: hashlib.sha224, 3: hashlib.sha256, 4: hashlib.sha384,
          5: hashlib.sha512}


def add_be(left, right):
    n = len(left)
    v = (int.from_bytes(left, "big") + int.from_bytes(right, "big")) % (1 << (8 * n))
    return v.to_bytes(n, "big")


class HashDrbg:
    def __init__(self, hid, strength):
        self.h = HASHES[hid]
        self.out = self.h().digest_size
        assert strength <= 8 * self.out
        for s in (80, 112, 128, 192, 256):
            if strength <= s:
                self.strength = s
                break
        self.seedlen = max(self.strength, 8 * self.out)

    def H(self, data):
        return self.h(data).digest()

    def df(self, value, bits):
        m = -(-bits // (8 * self.out))
        t = bytearray([1, bits % 256, (bits // 256) % 256]) + value
        r = b""
        for _ in range(m):
            r += self.H(bytes(t))
            t[0] = (t[0] + 1) % 256
        return r[:bits // 8]

    def init(self, seed, pers):
        min_bits = max(128, self.strength)
        needed = max(min_bits, self.seedlen) // 8
        assert len(seed) >= min_bits // 8
        e = (seed * (needed // len(seed) + 1))[:needed]
        self.v = self.df(e + pers + b"\0", self.seedlen)
        self.fp = self.H(e)
        self.c = self.H(b"\0" + self.v)

    def reinit(self, seed, add):
        self.v = self.df(b"\x01" + self.v + seed + add + b"\0", self.seedlen)
        d = self.H(seed)
        assert d != self.fp
        self.fp = d
        self.c = self.H(b"\0" + self.v)

    def fill(self, n):
        out = b""
        data = self.v
        while len(out) < n:
            out += self.H(data)[:n - len(out)]
            data = add_be(data, b"\x01")
        hh = self.H(b"\x03" + self.v)
        self.c = add_be(self.c, b"\x01")
        self.v = add_be(self.v, hh)
        self.v = add_be(self.v, self.c)
        return out


def rotl(x, n):
    return ((x << n) | (x >> (32 - n))) & 0xFFFFFFFF


def sha1_compress(state, block):
    w = list(struct.unpack(">16I", block))
    for i in range(16, 80):
        w.append(rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1))
    a, b, c, d, e = state
    for i in range(80):
        if i < 20:
            f, k = (b & c) | (~b & d), 0x5A827999
        elif i < 40:
            f, k = b ^ c ^ d, 0x6ED9EBA1
        elif i < 60:
            f, k = (b & c) | (b & d) | (c & d), 0x8F1BBCDC
        else:
            f, k = b ^ c ^ d, 0xCA62C1D6
        t = (rotl(a, 5) + (f & 0xFFFFFFFF) + e + k + w[i]) & 0xFFFFFFFF
        a, b, c, d, e = t, a, rotl(b, 30), c, d
    return [(x + y) & 0xFFFFFFFF for x, y in zip(state, (a, b, c, d, e))]


T = [0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0]


def G(c):
    block = (c[:64] + bytes(64))[:64]
    return struct.pack(">5I", *sha1_compress(T, block))


def add_le(a, addend):
    n = len(a)
    v = (int.from_bytes(a, "little") + int.from_bytes(addend, "little")) % (1 << (8 * n))
    return v.to_bytes(n, "little")


class Dss:
    def init(self, seed):
        assert len(seed) >= 20
        self.b = min(len(seed), 64)
        self.xkey = seed[:self.b]
        self.shadow = self.xkey
        self.x = b""

    def reinit(self, seed):
        if not seed or not any(seed):
            return
        self.xkey = add_le(self.xkey, seed[:self.b])
        self.shadow = self.xkey

    def advance(self, key):
        x = G(key)
        key = add_le(key, b"\x01")
        return add_le(key, x), x

    def fill(self, n):
        out = b""
        while len(out) < n:
            if self.x:
                take = self.x[:n - len(out)]
                out += take
                self.x = self.x[len(take):]
            else:
                self.xkey, self.x = self.advance(self.xkey)
                for _ in range(2):
                    self.shadow, _y = self.advance(self.shadow)
                assert self.xkey != self.shadow
        return out


def seed_bytes(label, n):
    out = b""
    i = 0
    while len(out) < n:
        out += hashlib.sha256(b"%s %d" % (label.encode(), i)).digest()
        i += 1
    return out[:n]


def main():
    lines = []

    def drbg(hid, strength, steps):
        lines.append("drbg %d %d" % (hid, strength))
        g = HashDrbg(hid, strength)
        for op in steps:
            if op[0] == "init":
                g.init(op[1], op[2])
                lines.append("init %s %s" % (op[1].hex(), op[2].hex() or "-"))
            elif op[0] == "reinit":
                g.reinit(op[1], op[2])
                lines.append("reinit %s %s" % (op[1].hex(), op[2].hex() or "-"))
            else:
                lines.append("fill %d %s" % (op[1], g.fill(op[1]).hex() or "-"))

    drbg(3, 80, [("init", seed_bytes("a", 20), b""), ("fill", 50), ("fill", 0), ("fill", 33),
                 ("reinit", seed_bytes("b", 7), b"abc"), ("fill", 40)])
    drbg(3, 80, [("init", seed_bytes("a", 20), b"personal"), ("fill", 32)])
    drbg(3, 128, [("init", seed_bytes("c", 100), b""), ("fill", 64), ("fill", 1), ("fill", 65)])
    drbg(1, 80, [("init", seed_bytes("d", 16), b"pers"), ("fill", 45),
                 ("reinit", seed_bytes("e", 30), b""), ("fill", 21)])
    drbg(1, 150, [("init", seed_bytes("f", 24), b""), ("fill", 30), ("fill", 30)])
    drbg(2, 112, [("init", seed_bytes("g", 17), b"x"), ("fill", 57)])
    drbg(4, 192, [("init", seed_bytes("h", 24), b""), ("fill", 100)])
    drbg(5, 256, [("init", seed_bytes("i", 40), b"512"), ("fill", 130),
                  ("reinit", seed_bytes("j", 64), b"more"), ("fill", 64)])

    def dss(steps):
        lines.append("dss")
        g = Dss()
        for op in steps:
            if op[0] == "init":
                g.init(op[1])
                lines.append("init %s -" % op[1].hex())
            elif op[0] == "reinit":
                g.reinit(op[1])
                lines.append("reinit %s -" % (op[1].hex() or "-"))
            else:
                lines.append("fill %d %s" % (op[1], g.fill(op[1]).hex() or "-"))

    dss([("init", seed_bytes("k", 20)), ("fill", 1), ("fill", 20), ("fill", 21), ("fill", 3)])
    dss([("init", seed_bytes("l", 100)), ("fill", 64), ("reinit", seed_bytes("m", 10)),
         ("fill", 45)])
    dss([("init", seed_bytes("n", 33)), ("fill", 7), ("reinit", bytes(12)), ("fill", 50),
         ("reinit", seed_bytes("o", 40)), ("fill", 25)])
    dss([("init", bytes(20)), ("fill", 40)])

    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "rbg_kat.txt"), "w") as f:
        f.write("# made by make_rbg.py\n" + "\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
