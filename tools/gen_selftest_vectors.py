#!/usr/bin/env python3
"""Makes the built-in vector texts of the power-on self-test.

Every expected value comes from a tool other than this library: the openssl
command line (digests, AES, DES, triple DES, the check of the RSA keys,
PKCS#1 v1.5 signatures, RSA encryption of the padded blocks and their PKCS#1
decryption, verification of the DSA and EC-DSA signatures),
the NIST CAVP files (DES tables, DSA and EC-DSA verification examples), the
npm package rijndael-js (Rijndael with 192- and 256-bit blocks) and, for the
160- and 224-bit Rijndael keys that rijndael-js cannot take, the small model
below, which is first checked against openssl and rijndael-js on every size
they share.

Run from the repository root:
    python3 tools/gen_selftest_vectors.py /path/to/shared/vectors /tmp/rjs
(/tmp/rjs: a folder where `npm install rijndael-js` was run). Writes
src/crypto/selftest/lvselftest_vectors.inc. Every random choice (RSA keys,
messages, padding, the P-192 key and k) comes from one seeded generator, so
two runs write the same file.
"""
import json
import os
import random
import subprocess
import sys
import tempfile

VECTORS = sys.argv[1] if len(sys.argv) > 1 else "/work/shared/vectors"
RJS = sys.argv[2] if len(sys.argv) > 2 else "/tmp/rjs"
OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "crypto", "selftest",
                   "lvselftest_vectors.inc")
TMP = tempfile.mkdtemp(prefix="selftestgen")
rnd = random.Random(20261206)


def run(args, data=None):
    return subprocess.run(args, input=data, stdout=subprocess.PIPE, check=True).stdout


def hx(b):
    return b.hex()


# ---------------------------------------------------------------- hashes
HASH_MESSAGES = [
    b"", b"a", b"abc", b"message digest", b"abcdefghijklmnopqrstuvwxyz",
    b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
    b"1234567890" * 8,
    b"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
    b"a" * 1000000,
    b"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrs"
    b"mnopqrstnopqrstu",
    b"abcdbcdecdefdefgefghfghighijhijk",
]
SHA224_MESSAGES = [HASH_MESSAGES[i] for i in (0, 1, 2, 3, 5, 6, 7, 8)] + [bytes(range(256))]
HASHES = [("ripemd160", "Ripemd160"), ("sha1", "Sha1"), ("sha224", "Sha224"),
          ("sha256", "Sha256"), ("sha384", "Sha384"), ("sha512", "Sha512")]


def digest(alg, msg):
    return run(["openssl", "dgst", "-" + alg, "-binary"], msg)


# ---------------------------------------------------------------- Rijndael model
def xtime(a):
    a <<= 1
    return a ^ 0x11B if a & 0x100 else a


def gmul(a, b):
    r = 0
    while b:
        if b & 1:
            r ^= a
        a = xtime(a)
        b >>= 1
    return r


def make_sbox():
    inv = [0] * 256
    for x in range(1, 256):
        for y in range(1, 256):
            if gmul(x, y) == 1:
                inv[x] = y
                break
    sbox = []
    for x in range(256):
        b = inv[x]
        s = b
        for i in range(1, 5):
            s ^= ((b << i) | (b >> (8 - i))) & 0xFF
        sbox.append(s ^ 0x63)
    return sbox


SBOX = make_sbox()
SHIFTS = {4: (0, 1, 2, 3), 5: (0, 1, 2, 3), 6: (0, 1, 2, 3), 7: (0, 1, 2, 4), 8: (0, 1, 3, 4)}


def rijndael_encrypt(key, block):
    nk, nb = len(key) // 4, len(block) // 4
    nr = max(nk, nb) + 6
    w = [list(key[4 * i:4 * i + 4]) for i in range(nk)]
    rcon = 1
    for i in range(nk, nb * (nr + 1)):
        t = list(w[i - 1])
        if i % nk == 0:
            t = [SBOX[b] for b in t[1:] + t[:1]]
            t[0] ^= rcon
            rcon = xtime(rcon)
        elif nk > 6 and i % nk == 4:
            t = [SBOX[b] for b in t]
        w.append([a ^ b for a, b in zip(w[i - nk], t)])
    st = [list(block[4 * c:4 * c + 4]) for c in range(nb)]

    def add(r):
        for c in range(nb):
            for j in range(4):
                st[c][j] ^= w[r * nb + c][j]

    add(0)
    for r in range(1, nr + 1):
        st = [[SBOX[b] for b in col] for col in st]
        st = [[st[(c + SHIFTS[nb][j]) % nb][j] for j in range(4)] for c in range(nb)]
        if r != nr:
            st = [[gmul(col[j], 2) ^ gmul(col[(j + 1) % 4], 3) ^ col[(j + 2) % 4] ^ col[(j + 3) % 4]
                   for j in range(4)] for col in st]
        add(r)
    return bytes(b for col in st for b in col)


def rijndael_js(key, block):
    script = ("const R=require('rijndael-js');const k=Buffer.from(process.argv[1],'hex');"
              "const p=Buffer.from(process.argv[2],'hex');"
              "process.stdout.write(Buffer.from(new R(k,'ecb').encrypt(p,p.length*8)).toString('hex'));")
    return bytes.fromhex(run(["node", "-e", script, hx(key), hx(block)],
                             None).decode()) if os.path.isdir(RJS) else None


def openssl_ecb(cipher, key, data, legacy=False):
    args = ["openssl", "enc"]
    if legacy:
        args += ["-provider", "legacy", "-provider", "default"]
    return run(args + ["-" + cipher, "-K", hx(key), "-nopad"], data)


def check_model():
    os.environ["NODE_PATH"] = os.path.join(RJS, "node_modules")
    for kl in (16, 24, 32):
        key = bytes(rnd.randrange(256) for _ in range(kl))
        pt = bytes(rnd.randrange(256) for _ in range(16))
        assert rijndael_encrypt(key, pt) == openssl_ecb("aes-%d-ecb" % (kl * 8), key, pt)
        for bl in (24, 32):
            pt = bytes(rnd.randrange(256) for _ in range(bl))
            assert rijndael_encrypt(key, pt) == rijndael_js(key, pt), (kl, bl)


# ---------------------------------------------------------------- .vec texts
def bit_string(nbytes, i):
    b = bytearray(nbytes)
    b[i // 8] = 0x80 >> (i % 8)
    return bytes(b)


def aes_vec():
    lines = ["# FIPS 197 Appendix C, then the variable-key, variable-text and table tests",
             "VECTORS=1347", "KEYBITS=128"]
    count = 0
    pt = bytes.fromhex("00112233445566778899aabbccddeeff")
    fips = {16: "69c4e0d86a7b0430d8cdb78070b4c55a", 24: "dda97ca4864cdfe06eaf70a0ec0d7191",
            32: "8ea2b7ca516745bfeafc49904b496089"}
    lines.append("PT=" + hx(pt))
    for kl in (16, 24, 32):
        key = bytes(range(kl))
        ct = openssl_ecb("aes-%d-ecb" % (kl * 8), key, pt)
        assert hx(ct) == fips[kl]
        lines += ["KEYBYTES=%d" % kl, "KEY=" + hx(key).upper(), "CT=" + hx(ct)]
        count += 1
    for kl in (16, 24, 32):
        cipher = "aes-%d-ecb" % (kl * 8)
        lines += ["", "# variable key, %d-bit" % (kl * 8), "KEYBITS=%d" % (kl * 8),
                  "PT=" + "00" * 16]
        for i in range(kl * 8):
            key = bit_string(kl, i)
            lines += ["KEY=" + hx(key), "CT=" + hx(openssl_ecb(cipher, key, bytes(16)))]
            count += 1
        lines += ["", "# variable text, %d-bit key" % (kl * 8), "KEY=" + "00" * kl]
        pts = [bit_string(16, i) for i in range(128)]
        cts = openssl_ecb(cipher, bytes(kl), b"".join(pts))
        for i in range(128):
            lines += ["PT=" + hx(pts[i]), "CT=" + hx(cts[16 * i:16 * i + 16]).upper()]
            count += 1
        lines += ["", "# table test, %d-bit key (generated)" % (kl * 8)]
        for i in range(128):
            key = bytes(rnd.randrange(256) for _ in range(kl))
            p = bytes(rnd.randrange(256) for _ in range(16))
            lines += ["KEY=" + hx(key), "PT=" + hx(p), "CT=" + hx(openssl_ecb(cipher, key, p))]
            count += 1
    assert count == 1347
    return "\n".join(lines) + "\n"


def rijndael_vec(blockBytes):
    lines = ["# Rijndael with %d-bit blocks: zero key and block, then the first result" %
             (blockBytes * 8), "VECTORS=10"]
    for kl in (16, 20, 24, 28, 32):
        key = bytes(kl)
        c1 = rijndael_encrypt(key, bytes(blockBytes))
        c2 = rijndael_encrypt(key, c1)
        if kl in (16, 24, 32):
            assert c1 == rijndael_js(key, bytes(blockBytes)) and c2 == rijndael_js(key, c1)
        lines += ["KEYBITS=%d" % (kl * 8), "KEY=" + hx(key), "PT=" + "00" * blockBytes,
                  "CT=" + hx(c1), "PT=" + hx(c1), "CT=" + hx(c2)]
    return "\n".join(lines) + "\n"


def rsp_encrypt(path):
    out, cur, section = [], {}, None
    for line in open(path):
        line = line.strip()
        if line.startswith("["):
            section = line
        elif section == "[ENCRYPT]" and " = " in line:
            k, v = line.split(" = ")
            cur[k] = v
            if k == "CIPHERTEXT":
                out.append((cur["KEYs"], cur["PLAINTEXT"], cur["CIPHERTEXT"]))
                cur = {}
    return out


WEAK = "0101010101010101"


def deseee_vec():
    lines = ["# single DES made triple with K2 = K3 = 0101010101010101", "VECTORS=203",
             "KEYBYTES=24"]
    count = 0
    for name, expect in (("invperm", 64), ("varkey", 56), ("permop", 32), ("subtab", 19)):
        vecs = rsp_encrypt(os.path.join(VECTORS, "cavp", "tdes", "TECB%s.rsp" % name))
        assert len(vecs) == expect
        lines += ["", "# %s" % name]
        for k, p, c in vecs:
            got = openssl_ecb("des-ecb", bytes.fromhex(k), bytes.fromhex(p), legacy=True)
            assert hx(got) == c.lower()
            lines += ["KEY=" + k + WEAK + WEAK, "PT=" + p, "CT=" + c]
            count += 1
    key = bytes.fromhex("0123456789abcdef")
    lines += ["", "# one fixed key; the first is the FIPS 81 ECB example", "KEY=" + hx(key) + WEAK + WEAK]
    pts = [b"Now is t"] + [bytes(rnd.randrange(256) for _ in range(8)) for _ in range(31)]
    cts = openssl_ecb("des-ecb", key, b"".join(pts), legacy=True)
    assert hx(cts[:8]) == "3fa40e8a984d4815"
    for i in range(32):
        lines += ["PT=" + hx(pts[i]), "CT=" + hx(cts[8 * i:8 * i + 8])]
        count += 1
    assert count == 203
    return "\n".join(lines) + "\n"


def desede_vec():
    k1, k2 = bytes.fromhex("0123456789abcdef"), bytes.fromhex("fedcba9876543210")
    key = k1 + k2 + k1
    lines = ["# triple DES EDE, third key equal to the first", "VECTORS=6", "KEYBYTES=24",
             "KEY=" + hx(key)]
    pts = [bytes(8), b"\xff" * 8] + [bytes(rnd.randrange(256) for _ in range(8)) for _ in range(4)]
    cts = openssl_ecb("des-ede3", key, b"".join(pts))
    for i in range(6):
        lines += ["PT=" + hx(pts[i]), "CT=" + hx(cts[8 * i:8 * i + 8])]
    return "\n".join(lines) + "\n"


def desxeeex_vec():
    lines = ["# zero whitening keys, K1 = K2 = K3 = 0101010101010101", "VECTORS=3", "KEYBYTES=40",
             "KEY=" + "00" * 8 + WEAK * 3 + "00" * 8]
    vecs = rsp_encrypt(os.path.join(VECTORS, "cavp", "tdes", "TECBinvperm.rsp"))[:3]
    for k, p, c in vecs:
        assert k == WEAK
        lines += ["PT=" + p, "CT=" + c]
    return "\n".join(lines) + "\n"


# ---------------------------------------------------------------- asymmetric texts
def wrap(name, value, width=64):
    """name=value, long values continued with a trailing backslash."""
    s = name + "=" + value
    if len(s) <= width + 16:
        return [s]
    parts = [s[:width]] + [s[i:i + width] for i in range(width, len(s), width)]
    return [p + "\\" for p in parts[:-1]] + [parts[-1]]


def openssl_fields(args):
    """The "Name: value" fields of an openssl -text dump, hex continuation lines joined."""
    fields, cur = {}, None
    for line in run(args).decode().splitlines():
        if line.startswith(" ") and cur:
            fields[cur] += line.strip().replace(":", "")
        elif ":" in line:
            name, _, rest = line.partition(":")
            cur = name.strip()
            fields[cur] = rest.strip()
    return fields


def is_probable_prime(c):
    if c < 4:
        return c in (2, 3)
    if c % 2 == 0:
        return False
    d, r = c - 1, 0
    while d % 2 == 0:
        d, r = d // 2, r + 1
    for _ in range(40):
        x = pow(rnd.randrange(2, c - 1), d, c)
        if x in (1, c - 1):
            continue
        for _ in range(r - 1):
            x = x * x % c
            if x == c - 1:
                break
        else:
            return False
    return True


def random_prime(bits, e):
    while True:
        c = rnd.getrandbits(bits) | (3 << (bits - 2)) | 1
        if gcd(c - 1, e) == 1 and is_probable_prime(c):
            return c


def make_rsa_key(path):
    """A 1024-bit key from the seeded generator (so the texts are reproducible),
    written as a DER RSAPrivateKey that openssl checks and then uses."""
    e = 65537
    while True:
        p, q = random_prime(512, e), random_prime(512, e)
        if p != q and (p * q).bit_length() == 1024:
            break
    n = p * q
    d = pow(e, -1, (p - 1) * (q - 1))
    body = b"".join(der_int(v) for v in (0, n, e, d, p, q, d % (p - 1), d % (q - 1),
                                         pow(q, -1, p)))
    open(path, "wb").write(der(0x30, body))
    run(["openssl", "pkey", "-inform", "DER", "-in", path, "-check", "-noout"])
    return n, d, e, p, q


def pkcs1_encrypt(key, n, pt):
    """PKCS#1 v1.5 block type 2 with padding from the seeded generator, encrypted by
    openssl without padding; openssl's own PKCS#1 decryption must give pt back."""
    k = (n.bit_length() + 7) // 8
    pad = bytes(rnd.randrange(1, 256) for _ in range(k - 3 - len(pt)))
    ct = run(["openssl", "pkeyutl", "-encrypt", "-inkey", key, "-keyform", "DER", "-pkeyopt",
              "rsa_padding_mode:none"], b"\x00\x02" + pad + b"\x00" + pt)
    assert run(["openssl", "pkeyutl", "-decrypt", "-inkey", key, "-keyform", "DER", "-pkeyopt",
                "rsa_padding_mode:pkcs1"], ct) == pt
    return ct


def gcd(a, b):
    while b:
        a, b = b, a % b
    return a


def rsa_key_lines(n, d, e, p, q, omit):
    out = []
    out += wrap("n", "0" if omit == "n" else hex(n))
    out += wrap("d", "0" if omit == "d" else hex(d))
    out += ["e=%s" % ("0" if omit == "e" else str(e))]
    out += wrap("p", hex(p))
    out += wrap("q", "0" if omit == "q" else hex(q))
    return out


def rsa_sig_text():
    lines = ["# PKCS#1 v1.5 signatures with SHA-1 under generated 1024-bit keys", "hashAlgo=SHA1"]
    for i in range(1, 21):
        key = os.path.join(TMP, "rsasig%d.der" % i)
        n, d, e, p, q = make_rsa_key(key)
        msg = bytes(rnd.randrange(256) for _ in range(rnd.randrange(1, 200)))
        mpath = os.path.join(TMP, "msg")
        open(mpath, "wb").write(msg)
        sig = run(["openssl", "dgst", "-sha1", "-sign", key, "-keyform", "DER", mpath])
        omit = {3: "n", 5: "d", 7: "e", 9: "q"}.get(i)
        lines += ["", "testVector=%d" % i] + rsa_key_lines(n, d, e, p, q, omit)
        lines += wrap("message", hx(msg)) + wrap("signature", hx(sig)) + ["endOfTestVector"]
    return "\n".join(lines) + "\n"


def rsa_cipher_text():
    lines = ["# PKCS#1 v1.5 encryption under generated 1024-bit keys"]
    for i in range(1, 21):
        key = os.path.join(TMP, "rsaenc%d.der" % i)
        n, d, e, p, q = make_rsa_key(key)
        pt = bytes(rnd.randrange(256) for _ in range(rnd.randrange(1, 118)))
        ct = pkcs1_encrypt(key, n, pt)
        omit = {4: "n", 6: "d", 8: "q"}.get(i)
        lines += ["", "testVector=%d" % i] + rsa_key_lines(n, d, e, p, q, omit)
        lines += wrap("plainText", hx(pt)) + wrap("cipherText", hx(ct)) + ["endOfTestVector"]
    return "\n".join(lines) + "\n"


def der_len(n):
    if n < 128:
        return bytes([n])
    b = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(b)]) + b


def der(tag, content):
    return bytes([tag]) + der_len(len(content)) + content


def der_int(v):
    b = v.to_bytes(v.bit_length() // 8 + 1, "big")
    return der(2, b)


def sig_pair(r, s):
    return der_int(r) + der_int(s)


def openssl_verify(spki, dgst, r, s):
    kp, sp, dp = (os.path.join(TMP, x) for x in ("pub.der", "sig.der", "dgst.bin"))
    open(kp, "wb").write(spki)
    open(sp, "wb").write(der(0x30, sig_pair(r, s)))
    open(dp, "wb").write(dgst)
    res = subprocess.run(["openssl", "pkeyutl", "-verify", "-pubin", "-keyform", "DER", "-inkey", kp,
                          "-in", dp, "-sigfile", sp], stdout=subprocess.PIPE)
    return res.returncode == 0


def dsa_spki(p, q, g, y):
    alg = der(0x30, der(6, bytes.fromhex("2a8648ce380401")) +
              der(0x30, der_int(p) + der_int(q) + der_int(g)))
    return der(0x30, alg + der(3, b"\x00" + der_int(y)))


def dsa_sig_text():
    # The DSA example of FIPS 186-2 Appendix 5 (1024-bit p, SHA-1 of "abc").
    p = int("8df2a494492276aa3d25759bb06869cbeac0d83afb8d0cf7cbb8324f0d7882e5d0762fc5b7210eaf"
            "c2e9adac32ab7aac49693dfbf83724c2ec0736ee31c80291", 16)
    q = int("c773218c737ec8ee993b4f2ded30f48edace915f", 16)
    g = int("626d027839ea0a13413163a55b4cb500299d5522956cefcb3bff10f399ce2c2e71cb9de5fa24babf"
            "58e5b79521925c9cc42e9f6f464b088cc572af53e6d78802", 16)
    x = int("2070b3223dba372fde1c0ffc7b2e3b498b260614", 16)
    k = int("358dad571462710f50e254cf1a376b2bdeaadfbf", 16)
    y = pow(g, x, p)
    dg = digest("sha1", b"abc")
    r = pow(g, k, p) % q
    s = pow(k, -1, q) * (int.from_bytes(dg, "big") + x * r) % q
    assert r == int("8bac1ab66410435cb7181f95b16ab97c92b341c0", 16)
    assert s == int("41e2345f1f56df2458f426d155b4ba2db6dcd8c8", 16)
    assert openssl_verify(dsa_spki(p, q, g, y), dg, r, s)
    # The key pair and the signature draw twice the octets of q and reduce them
    # modulo q: the seeds carry x and k behind 20 zero octets.
    xs = bytes(20) + x.to_bytes(20, "big")
    ks = bytes(20) + k.to_bytes(20, "big")
    sig = sig_pair(r, s)
    lines = ["# FIPS 186-2 Appendix 5 DSA example", "testVector=1", "xSeedLen=%d" % len(xs)]
    lines += wrap("xSeed", hx(xs)) + wrap("y", hex(y)) + ["kSeedLen=%d" % len(ks)]
    lines += wrap("kSeed", hx(ks)) + wrap("q", hex(q)) + wrap("p", hex(p)) + wrap("g", hex(g))
    lines += ["digestLen=%d" % len(dg)] + wrap("digest", hx(dg))
    lines += ["signatureLen=%d" % len(sig)] + wrap("signature", hx(sig)) + ["endOfTestVector"]
    return "\n".join(lines) + "\n"


def rsp_groups(path, header):
    """The records of one [section] of a CAVP .rsp file, with the values seen before the first."""
    shared, recs, cur, inside = {}, [], {}, False
    for line in open(path):
        line = line.strip()
        if line.startswith("["):
            if inside:
                break
            inside = line == header
            continue
        if not inside or " = " not in line:
            continue
        k, v = line.split(" = ", 1)
        if k in ("P", "Q", "G") and not recs and not cur:
            shared[k] = v
            continue
        cur[k] = v
        if k == "Result":
            recs.append(cur)
            cur = {}
    return shared, recs


def dsa_verify_text():
    shared, recs = rsp_groups(os.path.join(VECTORS, "cavp", "dsa", "SigVer.rsp"),
                              "[mod = L=1024, N=160, SHA-1]")
    assert len(recs) == 15 and sum(r["Result"].startswith("P") for r in recs) == 7
    lines = ["# CAVP DSA signature verification, L=1024, N=160, SHA-1", "hashAlgo=SHA1"]
    lines += wrap("p", shared["P"]) + wrap("q", shared["Q"]) + wrap("g", shared["G"])
    for i, rec in enumerate(recs, 1):
        lines += ["", "testVector=%d" % i] + wrap("msg", rec["Msg"]) + wrap("x", rec["X"])
        lines += wrap("y", rec["Y"]) + ["r=" + rec["R"], "s=" + rec["S"]]
        lines += ["result=%d" % (1 if rec["Result"].startswith("P") else 0), "endOfTestVector"]
    return "\n".join(lines) + "\n"


def curve(name):
    fields = openssl_fields(["openssl", "ecparam", "-name", name, "-param_enc", "explicit",
                             "-text", "-noout"])
    c = {k: int(fields[f], 16) for k, f in (("p", "Prime"), ("a", "A"), ("b", "B"),
                                             ("n", "Order"))}
    g = fields["Generator (uncompressed)"]
    c["gx"] = int(g[2:2 + 2 * ((len(g) - 2) // 4)], 16)
    c["gy"] = int(g[2 + 2 * ((len(g) - 2) // 4):], 16)
    c["h"] = int(fields["Cofactor"].split()[0])
    c["len"] = (c["p"].bit_length() + 7) // 8
    return c


def ec_add(c, P, Q):
    if P is None:
        return Q
    if Q is None:
        return P
    p = c["p"]
    if P[0] == Q[0] and (P[1] + Q[1]) % p == 0:
        return None
    if P == Q:
        lam = (3 * P[0] * P[0] + c["a"]) * pow(2 * P[1], -1, p) % p
    else:
        lam = (Q[1] - P[1]) * pow(Q[0] - P[0], -1, p) % p
    x = (lam * lam - P[0] - Q[0]) % p
    return (x, (lam * (P[0] - x) - P[1]) % p)


def ec_mul(c, k, P):
    R = None
    while k:
        if k & 1:
            R = ec_add(c, R, P)
        P = ec_add(c, P, P)
        k >>= 1
    return R


def point_hex(c, P):
    return "04" + P[0].to_bytes(c["len"], "big").hex() + P[1].to_bytes(c["len"], "big").hex()


def ec_spki(oid, c, P):
    alg = der(0x30, der(6, bytes.fromhex("2a8648ce3d0201")) + der(6, bytes.fromhex(oid)))
    return der(0x30, alg + der(3, b"\x00" + bytes.fromhex(point_hex(c, P))))


def ec_sign_vector(i, c, oid, d, k, msg):
    G = (c["gx"], c["gy"])
    n = c["n"]
    Q = ec_mul(c, d, G)
    dg = digest("sha1", msg)
    e = int.from_bytes(dg, "big")
    if len(dg) * 8 > n.bit_length():
        e >>= len(dg) * 8 - n.bit_length()
    r = ec_mul(c, k, G)[0] % n
    s = pow(k, -1, n) * (e + d * r) % n
    assert openssl_verify(ec_spki(oid, c, Q), dg, r, s)
    nlen = (n.bit_length() + 7) // 8
    seed = bytes(nlen) + k.to_bytes(nlen, "big")
    lines = ["", "testVector=%d" % i]
    for name, v in (("a", c["a"]), ("b", c["b"]), ("prime", c["p"])):
        lines += wrap(name, hx(v.to_bytes(c["len"], "big")))
    lines += wrap("base", point_hex(c, G)) + wrap("order", hx(n.to_bytes(nlen, "big")))
    lines += ["cofactor=%02x" % c["h"]] + wrap("seed", hx(seed)) + wrap("public", point_hex(c, Q))
    lines += wrap("private", hx(d.to_bytes(nlen, "big"))) + wrap("digest", hx(dg))
    lines += wrap("signature", hx(sig_pair(r, s))) + ["endOfTestVector"]
    return lines, (r, s)


def ec_sig_text():
    lines = ["# EC-DSA signing with SHA-1"]
    # GEC 2, 2.1: secp160r1, message "abc".
    c160 = curve("secp160r1")
    vec, (r, s) = ec_sign_vector(1, c160, "2b81040008", 971761939728640320549601132085879836204587084162,
                                 702232148019446860144825009548118511996283736794, b"abc")
    assert r == 1176954224688105769566774212902092897866168635793
    assert s == 299742580584132926933316745664091704165278518100
    lines += vec
    # P-192 with a generated key and k (the ISO/IEC 14888-3 example is not at hand).
    c192 = curve("prime192v1")
    d = rnd.randrange(1, c192["n"])
    k = rnd.randrange(1, c192["n"])
    vec, _ = ec_sign_vector(2, c192, "2a8648ce3d030101", d, k, b"abc")
    return "\n".join(lines + vec) + "\n"


def ec_verify_text():
    _, recs = rsp_groups(os.path.join(VECTORS, "cavp", "ecdsa", "SigVer.rsp"), "[P-192,SHA-1]")
    assert len(recs) == 15 and sum(r["Result"].startswith("P") for r in recs) == 3
    c = curve("prime192v1")
    lines = ["# CAVP EC-DSA signature verification, P-192, SHA-1", "hashAlgo=SHA1"]
    for name, v in (("a", c["a"]), ("b", c["b"]), ("prime", c["p"]), ("order", c["n"])):
        lines += ["%s=%x" % (name, v)]
    lines += wrap("base", point_hex(c, (c["gx"], c["gy"]))) + ["cofactor=01"]
    for i, rec in enumerate(recs, 1):
        lines += ["", "testVector=%d" % i] + wrap("msg", rec["Msg"])
        lines += wrap("public", "04" + rec["Qx"] + rec["Qy"]) + ["r=" + rec["R"], "s=" + rec["S"]]
        lines += ["result=%d" % (1 if rec["Result"].startswith("P") else 0), "endOfTestVector"]
    return "\n".join(lines) + "\n"


# ---------------------------------------------------------------- output
def c_literal(name, text):
    out = ["static const char %s[] =" % name]
    for line in text.splitlines(keepends=True):
        esc = line.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n")
        out.append('    "%s"' % esc)
    out[-1] += ";"
    out.append("static const unsigned int %sLength = %d;" % (name, len(text)))
    return "\n".join(out)


def main():
    check_model()
    parts = ["// Generated by tools/gen_selftest_vectors.py: do not edit.", ""]
    for alg, cname in HASHES:
        msgs = SHA224_MESSAGES if alg == "sha224" else HASH_MESSAGES
        parts.append("static const char* const k%sDigests[] = {" % cname)
        for m in msgs:
            parts.append('    "%s",' % hx(digest(alg, m)))
        parts.append("};")
    parts.append("")
    for name, text in (("kAesVec", aes_vec()), ("kRijndael192Vec", rijndael_vec(24)),
                       ("kRijndael256Vec", rijndael_vec(32)), ("kDesedeVec", desede_vec()),
                       ("kDeseeeVec", deseee_vec()), ("kDesxeeexVec", desxeeex_vec()),
                       ("kRsaSigText", rsa_sig_text()), ("kRsaCipherText", rsa_cipher_text()),
                       ("kDsaSigText", dsa_sig_text()), ("kDsaVerifyText", dsa_verify_text()),
                       ("kEpDsaSigText", ec_sig_text()), ("kEpDsaVerifyText", ec_verify_text())):
        parts.append(c_literal(name, text))
        parts.append("")
    with open(OUT, "w") as f:
        f.write("\n".join(parts))


if __name__ == "__main__":
    main()
