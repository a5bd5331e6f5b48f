#!/usr/bin/env python3
"""rc2.vec: the RFC 2268 vectors (effective bits 8 x the key octets) in the
self-test's .vec form. Run in this folder with the shared vector file."""
import sys

src = sys.argv[1] if len(sys.argv) > 1 else "/work/shared/vectors/misc/rc2.vec"
out = ["# RFC 2268 vectors"]
rec = {}
for line in open(src):
    if " = " not in line:
        continue
    k, v = (x.strip() for x in line.split(" = "))
    rec[k] = v
    if k == "Out":
        n = len(rec["Key"]) // 2
        out += ["KEYBYTES=%d" % n, "EFFKEYBITS=%d" % (8 * n), "KEY=" + rec["Key"],
                "PT=" + rec["In"], "CT=" + rec["Out"]]
        rec = {}
open("rc2.vec", "w").write("\n".join(out) + "\n")
