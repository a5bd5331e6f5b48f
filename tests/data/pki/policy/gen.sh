#!/bin/sh
# Makes the extension and policy-chain fixtures with the openssl CLI.
#   ext_<name>.der   extnValue octets of one extension, cut out of a
#                    certificate that `openssl x509 -extfile` made
#   chain_<case>/    small chains (root.der ... leaf.der) and what
#                    `openssl verify -policy_check ...` says of them
#   expected.txt     <case> <flags> <openssl verdict>
# Run from this folder; needs openssl and python3. `gen.sh chains` remakes
# only the chains and expected.txt, leaving the ext_*.der values as they are.
set -eu
cd "$(dirname "$0")"
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT

if [ "${1:-}" != chains ]; then
# ---- one certificate with every extension the value classes read ----
openssl ecparam -name prime256v1 -genkey -noout -out "$T/ca.key"
openssl req -new -x509 -key "$T/ca.key" -subj "/CN=Ext CA" -days 3650 -out "$T/ca.pem"

# qcStatements: QcCompliance, QcSSCD, QcType, and a statement with info.
cat > "$T/qc.cnf" <<'Q'
asn1=SEQUENCE:qcs
[qcs]
s1=SEQUENCE:qc1
s2=SEQUENCE:qc2
s3=SEQUENCE:qc3
[qc1]
id=OID:0.4.0.1862.1.1
[qc2]
id=OID:0.4.0.1862.1.4
[qc3]
id=OID:0.4.0.1862.1.6
info=SEQUENCE:qctype
[qctype]
t=OID:0.4.0.1862.1.6.1
Q
openssl asn1parse -genconf "$T/qc.cnf" -noout -out "$T/qc.der"
QC=$(od -An -v -tx1 "$T/qc.der" | tr -d ' \n')

cat > "$T/ext.cnf" <<E
[v3]
basicConstraints=critical,CA:TRUE,pathlen:3
keyUsage=critical,digitalSignature,nonRepudiation,keyCertSign,cRLSign
extendedKeyUsage=serverAuth,clientAuth,codeSigning,timeStamping,1.3.6.1.4.1.311.10.3.12
certificatePolicies=@pol1,1.2.3.4.5,2.5.29.32.0
policyMappings=1.2.3.4.5:1.2.3.4.6,1.2.3.4.7:1.2.3.4.8
policyConstraints=requireExplicitPolicy:2,inhibitPolicyMapping:1
inhibitAnyPolicy=3
nameConstraints=permitted;DNS:.example.com,excluded;IP:10.0.0.0/255.0.0.0
crlDistributionPoints=dp1,dp2
authorityInfoAccess=OCSP;URI:http://ocsp.example.com,caIssuers;URI:http://ca.example.com/ca.der
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid:always,issuer:always
subjectAltName=DNS:www.example.com,email:a@example.com,IP:192.0.2.1,URI:http://example.com/
1.3.6.1.5.5.7.1.3=DER:$QC

[pol1]
policyIdentifier=1.2.616.1.113527.2.5.1.1
CPS.1="http://www.example.com/cps"
userNotice.1=@notice

[notice]
explicitText="Przykladowa deklaracja"
organization="Example Org"
noticeNumbers=1,2

[dp1]
fullname=URI:http://crl.example.com/a.crl

[dp2]
fullname=URI:ldap://ldap.example.com/cn=CA?certificateRevocationList
reasons=keyCompromise,CACompromise
CRLissuer=dirName:crlissuer

[crlissuer]
CN=CRL Issuer
O=Example
E
openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$T/leaf.key" \
  -subj "/CN=Ext Leaf" -out "$T/leaf.csr" 2>/dev/null
openssl x509 -req -in "$T/leaf.csr" -CA "$T/ca.pem" -CAkey "$T/ca.key" -set_serial 7 -days 3650 \
  -extfile "$T/ext.cnf" -extensions v3 -outform DER -out ext_cert.der

# An issuingDistributionPoint and other values openssl writes only into
# CRLs or not at all, spelled in asn1parse's generator language.
gen() { printf '%s\n' "$2" > "$T/g.cnf"; openssl asn1parse -genconf "$T/g.cnf" -noout -out "$1"; }
gen ext_idp_full.der 'asn1=SEQUENCE:idp
[idp]
dp=IMPLICIT:0C,SEQUENCE:dpname
user=IMPLICIT:1C,BOOLEAN:TRUE
reasons=IMPLICIT:3C,FORMAT:BITLIST,BITSTRING:1,2
[dpname]
full=IMPLICIT:0C,SEQUENCE:names
[names]
u=IMPLICIT:6C,IA5STRING:http://crl.example.com/idp.crl'
gen ext_idp_ca_indirect.der 'asn1=SEQUENCE:idp
[idp]
ca=IMPLICIT:2C,BOOLEAN:TRUE
ind=IMPLICIT:4C,BOOLEAN:TRUE'
gen ext_bc_empty.der 'asn1=SEQUENCE:bc
[bc]'
gen ext_bc_pathlen_only.der 'asn1=SEQUENCE:bc
[bc]
p=INTEGER:0'

# Cut every extnValue out of the certificate (a small DER walker).
python3 - ext_cert.der <<'P'
import sys
NAMES = {"2.5.29.19": "basic_constraints", "2.5.29.15": "key_usage", "2.5.29.37": "ext_key_usage",
         "2.5.29.32": "cert_policies", "2.5.29.33": "policy_mappings", "2.5.29.36": "policy_constraints",
         "2.5.29.54": "inhibit_any_policy", "2.5.29.30": "name_constraints", "2.5.29.31": "crl_dps",
         "1.3.6.1.5.5.7.1.1": "aia", "2.5.29.14": "subject_key_id", "2.5.29.35": "authority_key_id",
         "2.5.29.17": "subject_alt_name", "1.3.6.1.5.5.7.1.3": "qc_statements"}
def tlv(b, i):
    t = b[i]; l = b[i + 1]; i += 2
    if l & 0x80:
        n = l & 0x7F; l = int.from_bytes(b[i:i + n], "big"); i += n
    return t, b[i:i + l], i + l
def items(b):
    i = 0
    while i < len(b):
        t, v, i = tlv(b, i); yield t, v
def oid(v):
    arcs = []; x = 0
    for c in v:
        x = (x << 7) | (c & 0x7F)
        if not c & 0x80: arcs.append(x); x = 0
    first = min(arcs[0] // 40, 2)
    return ".".join(map(str, [first, arcs[0] - 40 * first] + arcs[1:]))
cert = open(sys.argv[1], "rb").read()
_, c, _ = tlv(cert, 0)
_, tbs, _ = tlv(c, 0)
exts = [v for t, v in items(tbs) if t == 0xA3][0]
_, seq, _ = tlv(exts, 0)
for _, e in items(seq):
    parts = list(items(e))
    name = NAMES[oid(parts[0][1])]
    open("ext_%s.der" % name, "wb").write(parts[-1][1])
P
fi

# ---- policy chains: root -> ca1 -> ca2 -> leaf ----
# Each certificate's policy extensions come from the case's line below.
cat > "$T/pol.cnf" <<'C'
[root]
basicConstraints=critical,CA:TRUE
[any_ca]
basicConstraints=critical,CA:TRUE
certificatePolicies=2.5.29.32.0
[p1p2_ca]
basicConstraints=critical,CA:TRUE
certificatePolicies=1.3.6.1.4.1.99999.1,1.3.6.1.4.1.99999.2
[p1_ca]
basicConstraints=critical,CA:TRUE
certificatePolicies=1.3.6.1.4.1.99999.1
[p2_ca]
basicConstraints=critical,CA:TRUE
certificatePolicies=1.3.6.1.4.1.99999.2
[p1_map_ca]
basicConstraints=critical,CA:TRUE
certificatePolicies=1.3.6.1.4.1.99999.1
policyMappings=1.3.6.1.4.1.99999.1:1.3.6.1.4.1.99999.3
[p1_map_inhibit_ca]
basicConstraints=critical,CA:TRUE
certificatePolicies=1.3.6.1.4.1.99999.1
policyMappings=1.3.6.1.4.1.99999.1:1.3.6.1.4.1.99999.3
policyConstraints=inhibitPolicyMapping:0
[p1_req0_ca]
basicConstraints=critical,CA:TRUE
certificatePolicies=1.3.6.1.4.1.99999.1
policyConstraints=requireExplicitPolicy:0
[nopol_ca]
basicConstraints=critical,CA:TRUE
[pathlen0_ca]
basicConstraints=critical,CA:TRUE,pathlen:0
certificatePolicies=2.5.29.32.0
[notca]
basicConstraints=critical,CA:FALSE
certificatePolicies=2.5.29.32.0
[any_p1_ca]
basicConstraints=critical,CA:TRUE
certificatePolicies=2.5.29.32.0,1.3.6.1.4.1.99999.1
[p1_any_ca]
basicConstraints=critical,CA:TRUE
certificatePolicies=1.3.6.1.4.1.99999.1,2.5.29.32.0
[p2p3_ca]
basicConstraints=critical,CA:TRUE
certificatePolicies=1.3.6.1.4.1.99999.2,1.3.6.1.4.1.99999.3
[any_map_p1_p2_ca]
basicConstraints=critical,CA:TRUE
certificatePolicies=2.5.29.32.0
policyMappings=1.3.6.1.4.1.99999.1:1.3.6.1.4.1.99999.2
[p1_any_map_ca]
basicConstraints=critical,CA:TRUE
certificatePolicies=1.3.6.1.4.1.99999.1,2.5.29.32.0
policyMappings=1.3.6.1.4.1.99999.1:1.3.6.1.4.1.99999.2
[p5_ca]
basicConstraints=critical,CA:TRUE
certificatePolicies=1.3.6.1.4.1.99999.5
[any_req2_ca]
basicConstraints=critical,CA:TRUE
certificatePolicies=2.5.29.32.0
policyConstraints=critical,requireExplicitPolicy:2
[any_req2p31_ca]
basicConstraints=critical,CA:TRUE
certificatePolicies=2.5.29.32.0
policyConstraints=critical,requireExplicitPolicy:2147483648
[empty_pol_ca]
basicConstraints=critical,CA:TRUE
2.5.29.32=DER:3000
[leaf_p5]
basicConstraints=CA:FALSE
certificatePolicies=1.3.6.1.4.1.99999.5
[leaf_p1]
basicConstraints=CA:FALSE
certificatePolicies=1.3.6.1.4.1.99999.1
[leaf_p2]
basicConstraints=CA:FALSE
certificatePolicies=1.3.6.1.4.1.99999.2
[leaf_p3]
basicConstraints=CA:FALSE
certificatePolicies=1.3.6.1.4.1.99999.3
[leaf_any]
basicConstraints=CA:FALSE
certificatePolicies=2.5.29.32.0
[leaf_nopol]
basicConstraints=CA:FALSE
C
key() { openssl ecparam -name prime256v1 -genkey -noout -out "$1"; }
key "$T/root.key"
openssl req -new -x509 -key "$T/root.key" -subj "/CN=Policy Root" -days 3650 \
  -config /dev/null -extensions root -addext basicConstraints=critical,CA:TRUE -out "$T/root.pem" 2>/dev/null \
  || openssl req -new -x509 -key "$T/root.key" -subj "/CN=Policy Root" -days 3650 -out "$T/root.pem"
sign() { # out-name subject section issuer-pem issuer-key
  key "$T/$1.key"
  openssl req -new -key "$T/$1.key" -subj "/CN=$2" -out "$T/$1.csr"
  openssl x509 -req -in "$T/$1.csr" -CA "$4" -CAkey "$5" -set_serial "0x$(openssl rand -hex 8)" -days 3650 \
    -extfile "$T/pol.cnf" -extensions "$3" -out "$T/$1.pem" 2>/dev/null
}
: > expected.txt
# case: ca1-section ca2-section leaf-section, then the verify flags.
while read -r name s1 s2 s3 flags; do
  [ -n "$name" ] || continue
  d="chain_$name"; mkdir -p "$d"
  sign ca1 "CA One" "$s1" "$T/root.pem" "$T/root.key"
  sign ca2 "CA Two" "$s2" "$T/ca1.pem" "$T/ca1.key"
  sign leaf "Leaf" "$s3" "$T/ca2.pem" "$T/ca2.key"
  for c in root ca1 ca2 leaf; do openssl x509 -in "$T/$c.pem" -outform DER -out "$d/$c.der"; done
  cat "$T/ca1.pem" "$T/ca2.pem" > "$T/untrusted.pem"
  set +e
  out=$(openssl verify -policy_check $(echo "$flags" | tr ',' ' ' | sed 's/^-$//') -policy_print \
        -CAfile "$T/root.pem" -untrusted "$T/untrusted.pem" "$T/leaf.pem" 2>&1)
  rc=$?
  set -e
  printf '%s\n' "$out" > "$d/openssl_verify.txt"
  if [ $rc -eq 0 ]; then verdict=OK; else
    verdict=$(printf '%s\n' "$out" | sed -n 's/.*error [0-9]* at [0-9]* depth lookup: \(.*\)/\1/p' | head -1 | tr ' ' '_')
    [ -n "$verdict" ] || verdict=FAIL
  fi
  echo "$name $flags $verdict" >> expected.txt
done <<'CASES'
any_any            any_ca      any_ca            leaf_any   -policy,2.5.29.32.0
any_any_expl_p1    any_ca      any_ca            leaf_any   -explicit_policy,-policy,1.3.6.1.4.1.99999.1
p1p2_then_p2       p1p2_ca     p2_ca             leaf_p2    -explicit_policy,-policy,1.3.6.1.4.1.99999.2
p1p2_then_p2_ask_p1 p1p2_ca    p2_ca             leaf_p2    -explicit_policy,-policy,1.3.6.1.4.1.99999.1
p1_explicit        p1_ca       p1_ca             leaf_p1    -explicit_policy,-policy,1.3.6.1.4.1.99999.1
p1_leaf_p2         p1_ca       p1_ca             leaf_p2    -explicit_policy,-policy,1.3.6.1.4.1.99999.1
p1_leaf_p2_noexpl  p1_ca       p1_ca             leaf_p2    -policy,1.3.6.1.4.1.99999.1
nopol_explicit     nopol_ca    any_ca            leaf_any   -explicit_policy,-policy,1.3.6.1.4.1.99999.1
nopol_plain        nopol_ca    any_ca            leaf_any   -policy,1.3.6.1.4.1.99999.1
map_p1_p3          any_ca      p1_map_ca         leaf_p3    -explicit_policy,-policy,1.3.6.1.4.1.99999.1
map_p1_p3_leaf_p1  any_ca      p1_map_ca         leaf_p1    -explicit_policy,-policy,1.3.6.1.4.1.99999.1
map_inhibited      any_ca      p1_map_inhibit_ca leaf_p3    -explicit_policy,-policy,1.3.6.1.4.1.99999.1
req0_leaf_nopol    any_ca      p1_req0_ca        leaf_nopol -policy,1.3.6.1.4.1.99999.1
req0_leaf_p1       any_ca      p1_req0_ca        leaf_p1    -policy,1.3.6.1.4.1.99999.1
pathlen0_fail      pathlen0_ca any_ca            leaf_any   -policy,2.5.29.32.0
pathlen0_ok        any_ca      pathlen0_ca       leaf_any   -policy,2.5.29.32.0
notca              notca       any_ca            leaf_any   -policy,2.5.29.32.0
p1_expl_user_any   p1_ca       p1_ca             leaf_p1    -explicit_policy,-policy,2.5.29.32.0
any_p1_p2_leaf_p1  any_p1_ca   p2_ca             leaf_p1    -explicit_policy,-policy,1.3.6.1.4.1.99999.1
p1_any_p2_leaf_p2  p1_any_ca   p2_ca             leaf_p2    -explicit_policy,-policy,1.3.6.1.4.1.99999.2
any_p1_then_p2p3   any_p1_ca   p2p3_ca           leaf_any   -explicit_policy,-policy,1.3.6.1.4.1.99999.1
p1_any_map_then_p2 p1_any_map_ca p2_ca         leaf_p2    -explicit_policy,-policy,1.3.6.1.4.1.99999.2
map_any_then_p5    any_map_p1_p2_ca p5_ca        leaf_p5    -explicit_policy,-policy,1.3.6.1.4.1.99999.5
req2_then_req2p31  any_req2_ca any_req2p31_ca    leaf_nopol -policy,2.5.29.32.0
empty_policies     any_ca      empty_pol_ca      leaf_any   -explicit_policy,-policy,2.5.29.32.0
CASES
echo done
