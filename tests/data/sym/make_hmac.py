#!/usr/bin/env python3
"""HMAC values from Python's standard hmac module for the key lengths the
RFC suites leave out: no key, one octet short of a block, exactly one block.
Writes hmac_extra.txt:  hashId key msg mac  (hexadecimal, '-' for empty)."""
import hashlib
import hmac
import os

HASHES = [(1, "sha1", 64), (2, "sha224", 64), (3, "sha256", 64), (4, "sha384", 128),
          (5, "sha512", 128), (7, "ripemd160", 64), (8, "md5", 64)]


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    lines = ["# hashId key msg mac, made by make_hmac.py"]
    for hid, name, block in HASHES:
        try:
            hashlib.new(name)
        except ValueError:
            continue
        for klen in (0, 1, block - 1, block):
            key = bytes((7 * i + klen) & 0xFF for i in range(klen))
            for mlen in (0, 55, 64, 129):
                msg = bytes((3 * i + 1) & 0xFF for i in range(mlen))
                mac = hmac.new(key, msg, name).hexdigest()
                lines.append("%d %s %s %s" % (hid, key.hex() or "-", msg.hex() or "-", mac))
    with open(os.path.join(here, "hmac_extra.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
