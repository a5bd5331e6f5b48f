#!/usr/bin/env python3
"""Copies the RSA and primality test vectors the tests read, trimming the
largest CAVP files to a representative subset (the 1024- and 2048-bit
sections). Run from anywhere: python3 copy_vectors.py /path/to/vectors"""
import os
import shutil
import sys

src = sys.argv[1] if len(sys.argv) > 1 else "/work/shared/vectors"
here = os.path.dirname(os.path.abspath(__file__))

WYCHEPROOF = [
    "rsa_signature_2048_sha224_test.json",
    "rsa_signature_2048_sha256_test.json",
    "rsa_signature_3072_sha384_test.json",
    "rsa_signature_4096_sha512_test.json",
    "rsa_pss_2048_sha1_mgf1_20_test.json",
    "rsa_pss_2048_sha256_mgf1_0_test.json",
    "rsa_pss_2048_sha256_mgf1_32_test.json",
    "rsa_pss_2048_sha256_mgf1sha1_20_test.json",
    "rsa_pss_3072_sha256_mgf1_32_test.json",
    "rsa_pss_4096_sha512_mgf1_64_test.json",
    "rsa_pss_misc_test.json",
    "rsa_pkcs1_1024_sig_gen_test.json",
    "rsa_pkcs1_2048_sig_gen_test.json",
    "primality_test.json",
]
for name in WYCHEPROOF:
    shutil.copyfile(os.path.join(src, "wycheproof", name), os.path.join(here, name))


def trim_rsp(name, keep):
    """Keeps the header and the [mod = N] sections whose N is in keep."""
    out = []
    take = True
    with open(os.path.join(src, "cavp", "rsa", name)) as f:
        for line in f:
            if line.startswith("[mod = "):
                take = int(line.strip()[7:-1]) in keep
            if take:
                out.append(line)
    with open(os.path.join(here, name), "w") as f:
        f.writelines(out)


trim_rsp("SigVer15_186-3.rsp", {1024, 2048})
trim_rsp("SigVerPSS_186-3.rsp", {1024, 2048})
trim_rsp("SigGen15_186-3.rsp", {1024, 1536, 2048, 3072, 4096})
trim_rsp("SigGenPSS_186-3.rsp", {1024, 1536, 2048, 3072, 4096})
