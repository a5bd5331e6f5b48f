#!/usr/bin/env bash
# Makes the revocation fixtures with OpenSSL (run from anywhere; outputs are
# committed, signatures and dates are not reproducible):
#   root.der (self-signed CA, P-256), ca.der (CA under root), user.der,
#   user2.der, subca.der (end entity / CA certificates issued by ca),
#   other-ca.der (a second CA of ca's name with another key),
#   ocsp.der (issued by ca with id-kp-OCSPSigning), nosign.der (issued by ca
#   without it), rogue-ocsp.der (OCSPSigning, issued by root);
#   CRLs of ca made by `openssl ca -gencrl`:
#     crl-reasons.der   user revoked keyCompromise, user2 certificateHold
#                       with holdInstructionCode reject, subca removeFromCRL
#     crl-hold.der      user2 certificateHold without instruction
#     crl-user-only.der critical IDP onlyContainsUserCerts (no point name), lists nothing
#     crl-ca-only.der   critical IDP onlyContainsCACerts (no point name), lists subca
#   distribution-point names (certificates of ca, CRLs of ca whose critical IDP
#   names a point):
#     dp-uri.der      cRLDistributionPoints fullName URI:http://crl.example/a.crl
#     dp-rel.der      cRLDistributionPoints nameRelativeToCRLIssuer CN=part1
#     dp-issuer.der   cRLDistributionPoints with only cRLIssuer dirName:/CN=Revoc CA
#     crl-dp-a.der, crl-dp-b.der   IDP fullName URI .../a.crl, .../b.crl
#     crl-dp-rel1.der, crl-dp-rel2.der   IDP nameRelativeToCRLIssuer CN=part1, CN=part2
#     crl-dp-joined.der  IDP fullName dirName:/CN=Revoc CA/CN=part1
#     crl-dp-issuer.der  IDP fullName dirName:/CN=Revoc CA
#     crl-expired.der   nextUpdate one hour after thisUpdate (checked later)
#     crl-otherkey.der  same issuer name, signed by other-ca's key
#     crl-later.der     a later CRL of the same scope as crl-reasons.der
#   big-serials.txt: serials of a 2000-entry CRL (crl-big.der)
#   OCSP responses of `openssl ocsp -reqin/-respout` (no network):
#     ocsp-good.der (user good, signed by ocsp.der, certs included),
#     ocsp-revoked.der (user revoked), ocsp-unknown.der (a serial not in the
#     index), ocsp-keyid.der (-resp_key_id), ocsp-nocerts.der (-resp_no_certs),
#     ocsp-nosign.der (signed by nosign.der), ocsp-rogue.der (signed by
#     rogue-ocsp.der), ocsp-byca.der (signed by ca itself).
#     ocsp-sha256.der (user2 good, answering a request whose CertID uses SHA-256),
#     ocsp-req-sha1.der, ocsp-req-sha256.der (openssl's requests for user2).
#     -ndays 7: tests move the clock past nextUpdate or before thisUpdate
#   dates.txt: thisUpdate/nextUpdate of each CRL and OCSP response, as openssl reads them.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/$1.key" 2>/dev/null; }
cat > "$work/ext.cnf" <<'X'
[ca]
basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign,cRLSign
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
[ee]
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
[ocsp]
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=OCSPSigning
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
[dpuri]
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
authorityKeyIdentifier=keyid
crlDistributionPoints=URI:http://crl.example/a.crl
[dprel]
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
authorityKeyIdentifier=keyid
crlDistributionPoints=dprelsect
[dprelsect]
relativename=part1
[part1]
CN=part1
[dpissuer]
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
authorityKeyIdentifier=keyid
crlDistributionPoints=dpissuersect
[dpissuersect]
CRLissuer=dirName:issuername
[issuername]
CN=Revoc CA
X
for k in root ca other user user2 subca ocsp nosign rogue dpuri dprel dpissuer; do key $k; done
openssl req -new -x509 -key "$work/root.key" -subj "/CN=Revoc Root" -days 3650 \
  -set_serial 1 -extensions ca -config "$work/ext.cnf" -out "$work/root.pem" 2>/dev/null
issue() {  # name subject issuerpem issuerkey ext serial
  openssl req -new -key "$work/$1.key" -subj "$2" -out "$work/$1.csr" 2>/dev/null
  openssl x509 -req -in "$work/$1.csr" -CA "$3" -CAkey "$4" -set_serial "$6" -days 1825 \
    -extfile "$work/ext.cnf" -extensions "$5" -out "$work/$1.pem" 2>/dev/null
}
issue ca "/CN=Revoc CA" "$work/root.pem" "$work/root.key" ca 2
issue other "/CN=Revoc CA" "$work/root.pem" "$work/root.key" ca 3
issue user "/CN=Revoc User" "$work/ca.pem" "$work/ca.key" ee 100
issue user2 "/CN=Revoc User 2" "$work/ca.pem" "$work/ca.key" ee 101
issue subca "/CN=Revoc Sub CA" "$work/ca.pem" "$work/ca.key" ca 102
issue ocsp "/CN=Revoc OCSP" "$work/ca.pem" "$work/ca.key" ocsp 103
issue nosign "/CN=Revoc No OCSP" "$work/ca.pem" "$work/ca.key" ee 104
issue rogue "/CN=Revoc Rogue OCSP" "$work/root.pem" "$work/root.key" ocsp 4
issue dpuri "/CN=Revoc DP URI" "$work/ca.pem" "$work/ca.key" dpuri 110
issue dprel "/CN=Revoc DP Relative" "$work/ca.pem" "$work/ca.key" dprel 111
issue dpissuer "/CN=Revoc DP Issuer" "$work/ca.pem" "$work/ca.key" dpissuer 112
for c in root ca other user user2 subca ocsp nosign rogue dpuri dprel dpissuer; do
  n=$c; [ $c = other ] && n=other-ca; [ $c = rogue ] && n=rogue-ocsp
  case $c in dpuri) n=dp-uri ;; dprel) n=dp-rel ;; dpissuer) n=dp-issuer ;; esac
  openssl x509 -in "$work/$c.pem" -outform DER -out "$n.der"
done

# A CA database for `openssl ca -gencrl`.
cadb() {  # dir
  mkdir -p "$1"; : > "$1/index.txt"; echo 01 > "$1/crlnumber"
  cat > "$1/ca.cnf" <<X
[ca]
default_ca=d
[d]
database=$1/index.txt
crlnumber=$1/crlnumber
default_md=sha256
default_crl_days=30
crl_extensions=crlext
[crlext]
authorityKeyIdentifier=keyid
[useronly]
authorityKeyIdentifier=keyid
issuingDistributionPoint=critical,@idpu
[idpu]
onlyuser=TRUE
[caonly]
authorityKeyIdentifier=keyid
issuingDistributionPoint=critical,@idpc
[idpc]
onlyCA=TRUE
[dpa]
issuingDistributionPoint=critical,@idpa
[idpa]
fullname=URI:http://crl.example/a.crl
[dpb]
issuingDistributionPoint=critical,@idpb
[idpb]
fullname=URI:http://crl.example/b.crl
[dprel1]
issuingDistributionPoint=critical,@idprel1
[idprel1]
relativename=rel1
[rel1]
CN=part1
[dprel2]
issuingDistributionPoint=critical,@idprel2
[idprel2]
relativename=rel2
[rel2]
CN=part2
[dpjoined]
issuingDistributionPoint=critical,@idpjoined
[idpjoined]
fullname=dirName:joinedname
[joinedname]
CN=Revoc CA
1.CN=part1
[dpissuer]
issuingDistributionPoint=critical,@idpissuer
[idpissuer]
fullname=dirName:issuername
[issuername]
CN=Revoc CA
X
}
gencrl() {  # dir out key cert [extra args]
  local d=$1 out=$2 k=$3 c=$4; shift 4
  openssl ca -gencrl -config "$d/ca.cnf" -keyfile "$k" -cert "$c" -out "$work/crl.pem" "$@" 2>"$work/err" || { cat "$work/err"; return 1; }
  openssl crl -in "$work/crl.pem" -outform DER -out "$out"
}
revoke() {  # dir cert reason...
  local d=$1 c=$2; shift 2
  openssl ca -config "$d/ca.cnf" -keyfile "$work/ca.key" -cert "$work/ca.pem" -revoke "$c" "$@" 2>"$work/err" || { cat "$work/err"; return 1; }
}
d="$work/db1"; cadb "$d"
revoke "$d" "$work/user.pem" -crl_reason keyCompromise
revoke "$d" "$work/user2.pem" -crl_hold 1.2.840.10040.2.3
revoke "$d" "$work/subca.pem" -crl_reason removeFromCRL
gencrl "$d" crl-reasons.der "$work/ca.key" "$work/ca.pem"
sleep 1
gencrl "$d" crl-later.der "$work/ca.key" "$work/ca.pem"
gencrl "$d" crl-otherkey.der "$work/other.key" "$work/other.pem"
gencrl "$d" crl-expired.der "$work/ca.key" "$work/ca.pem" -crlhours 1

d="$work/db2"; cadb "$d"
revoke "$d" "$work/user2.pem" -crl_reason certificateHold
gencrl "$d" crl-hold.der "$work/ca.key" "$work/ca.pem"

d="$work/db3"; cadb "$d"
revoke "$d" "$work/subca.pem" -crl_reason caCompromise
gencrl "$d" crl-user-only.der "$work/ca.key" "$work/ca.pem" -crlexts useronly
gencrl "$d" crl-ca-only.der "$work/ca.key" "$work/ca.pem" -crlexts caonly

d="$work/db5"; cadb "$d"
for x in a b rel1 rel2 joined issuer; do
  gencrl "$d" crl-dp-$x.der "$work/ca.key" "$work/ca.pem" -crlexts dp$x
done

# 2000 entries: an index.txt written directly (revoked lines, random serials).
d="$work/db4"; cadb "$d"
: > big-serials.txt
for i in $(seq 1 2000); do
  s=$(openssl rand -hex 9 | tr a-f A-F)
  printf 'R\t351231000000Z\t250101000000Z\t%s\tunknown\t/CN=x%d\n' "$s" "$i" >> "$d/index.txt"
  echo "$s" >> big-serials.txt
done
gencrl "$d" crl-big.der "$work/ca.key" "$work/ca.pem"

# OCSP: an index where user is revoked and user2 is valid.
d="$work/ocspdb"; mkdir -p "$d"
printf 'R\t351231000000Z\t250101000000Z,keyCompromise\t64\tunknown\t/CN=Revoc User\n' > "$d/index.txt"
printf 'V\t351231000000Z\t\t65\tunknown\t/CN=Revoc User 2\n' >> "$d/index.txt"
req() {  # cert [digest]
  # The digest option applies to the -cert options after it.
  openssl ocsp ${2:+-$2} -issuer "$work/ca.pem" -cert "$work/$1.pem" -no_nonce \
    -reqout "$work/$1${2:-}.req" 2>/dev/null
}
req user; req user2; req subca; req user2 sha256
cp "$work/user2.req" ocsp-req-sha1.der
cp "$work/user2sha256.req" ocsp-req-sha256.der
resp() {  # out reqname signer signerkey [args]
  local out=$1 r=$2 s=$3 k=$4; shift 4
  openssl ocsp -index "$d/index.txt" -CA "$work/ca.pem" -rsigner "$s" -rkey "$k" \
    -reqin "$work/$r.req" -respout "$out" -ndays 7 "$@" 2>"$work/err" || { cat "$work/err"; return 1; }
}
resp ocsp-good.der user2 "$work/ocsp.pem" "$work/ocsp.key"
resp ocsp-revoked.der user "$work/ocsp.pem" "$work/ocsp.key"
resp ocsp-unknown.der subca "$work/ocsp.pem" "$work/ocsp.key"
resp ocsp-keyid.der user2 "$work/ocsp.pem" "$work/ocsp.key" -resp_key_id
resp ocsp-nocerts.der user2 "$work/ocsp.pem" "$work/ocsp.key" -resp_no_certs
resp ocsp-nosign.der user2 "$work/nosign.pem" "$work/nosign.key"
resp ocsp-rogue.der user2 "$work/rogue.pem" "$work/rogue.key"
resp ocsp-byca.der user2 "$work/ca.pem" "$work/ca.key"
resp ocsp-sha256.der user2sha256 "$work/ocsp.pem" "$work/ocsp.key"

: > dates.txt
for f in crl-*.der; do
  echo "$f $(openssl crl -inform DER -in "$f" -noout -lastupdate -nextupdate 2>/dev/null | tr '\n' ' ')" >> dates.txt
done
for f in ocsp-*.der; do
  case $f in ocsp-req-*) continue ;; esac
  echo "$f $(openssl ocsp -respin "$f" -resp_text -noverify 2>/dev/null | grep -E 'This Update|Next Update' | tr -s ' ' | tr '\n' ' ')" >> dates.txt
done
