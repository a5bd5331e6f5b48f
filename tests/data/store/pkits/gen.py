#!/usr/bin/env python3
"""Copies NIST PKITS (Debian's python3-cryptography-vectors) into this folder,
assembles each test's path by names and signatures (end certificate first,
trust anchor last, '-' when no issuer chain reaches the anchor) and records
what `openssl verify` answers for it, at one fixed time, into paths.tsv."""
import os, shutil, subprocess, sys, tempfile
from cryptography import x509

SRC = "/usr/lib/python3/dist-packages/cryptography_vectors/x509/PKITS_data"
HERE = os.path.dirname(os.path.abspath(__file__))
ANCHOR = "TrustAnchorRootCertificate.crt"
ATTIME = "1577836800"  # 2020-01-01 00:00:00 UTC, inside every validity period meant to hold

for sub in ("certs", "crls"):
    os.makedirs(os.path.join(HERE, sub), exist_ok=True)
    for f in sorted(os.listdir(os.path.join(SRC, sub))):
        shutil.copyfile(os.path.join(SRC, sub, f), os.path.join(HERE, sub, f))

def names(f):
    out = subprocess.run(["openssl", "x509", "-inform", "DER", "-noout", "-nameopt", "RFC2253",
                          "-subject", "-issuer", "-in", os.path.join(HERE, "certs", f)],
                         capture_output=True, text=True, check=True).stdout.splitlines()
    return out[0].split("=", 1)[1], out[1].split("=", 1)[1]

class Cert:
    def __init__(self, f):
        self.subject, self.issuer = names(f)
        try:
            self.x = x509.load_der_x509_certificate(open(os.path.join(HERE, "certs", f), "rb").read())
        except ValueError:
            self.x = None  # DSA parameters inherited from the issuer: no signature check here

certs = {f: Cert(f) for f in sorted(os.listdir(os.path.join(HERE, "certs")))}

def signed_by(child, parent):
    if child.x is None or parent.x is None:
        return False
    try:
        child.x.verify_directly_issued_by(parent.x)
        return True
    except Exception:
        return False

def assemble(ee):
    path = [ee]
    while path[-1] != ANCHOR and len(path) < 12:
        cur = certs[path[-1]]
        names = [f for f, c in certs.items() if f not in path and not f.endswith("EE.crt")
                 and c.subject == cur.issuer]
        good = [f for f in names if signed_by(cur, certs[f])]
        pick = good or names
        if ANCHOR in pick:
            pick = [ANCHOR]
        if not pick:
            return None
        path.append(pick[0])
    return path if path[-1] == ANCHOR else None

def pem(files, out):
    with open(out, "w") as o:
        for f in files:
            o.write(subprocess.run(["openssl", "x509", "-inform", "DER", "-in",
                                    os.path.join(HERE, "certs", f)], capture_output=True,
                                   text=True, check=True).stdout)

tmp = tempfile.mkdtemp()
crlpem = os.path.join(tmp, "crls.pem")
with open(crlpem, "w") as o:
    for f in sorted(os.listdir(os.path.join(HERE, "crls"))):
        o.write(subprocess.run(["openssl", "crl", "-inform", "DER", "-in",
                                os.path.join(HERE, "crls", f)], capture_output=True,
                               text=True, check=True).stdout)
pem([ANCHOR], os.path.join(tmp, "ta.pem"))

rows = []
for ee in sorted(f for f in certs if f.endswith("EE.crt")):
    path = assemble(ee)
    inter = path[1:-1] if path else []
    pem(inter, os.path.join(tmp, "untrusted.pem"))
    pem([ee], os.path.join(tmp, "ee.pem"))
    cmd = ["openssl", "verify", "-x509_strict", "-policy_check", "-explicit_policy",
           "-crl_check_all", "-attime", ATTIME, "-CAfile", os.path.join(tmp, "ta.pem"),
           "-CRLfile", crlpem]
    if inter:
        cmd += ["-untrusted", os.path.join(tmp, "untrusted.pem")]
    verdicts = []
    # openssl 3 reads an absent -policy as an empty user set that admits no
    # policy; the second run names anyPolicy, which is what "no configured
    # set" means here.
    for extra in ([], ["-policy", "2.5.29.32.0"]):
        r = subprocess.run(cmd + extra + [os.path.join(tmp, "ee.pem")], capture_output=True,
                           text=True)
        verdict = "OK"
        if r.returncode != 0:
            err = [l for l in (r.stdout + r.stderr).splitlines() if l.startswith("error ")]
            verdict = err[0].split(":", 1)[1].strip() if err else "error"
        verdicts.append(verdict)
    rows.append((ee[:-6], ",".join(path) if path else "-", *verdicts))

with open(os.path.join(HERE, "paths.tsv"), "w") as o:
    o.write("# test\tpath (end first, anchor last)\topenssl verify -x509_strict -policy_check "
            "-explicit_policy -crl_check_all -attime %s\tthe same with -policy 2.5.29.32.0\n" % ATTIME)
    for r in rows:
        o.write("\t".join(r) + "\n")
shutil.rmtree(tmp)
print(len(rows), "tests")
