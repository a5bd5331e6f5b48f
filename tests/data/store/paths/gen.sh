#!/usr/bin/env bash
# Certification-path fixtures made with openssl (run from anywhere; writes
# beside itself). Every chain: root, intermediates, end entity, DER files.
#   rsa/ p256/ b283/   root, int1, int2, ee (RSA-2048, P-256, sect283k1 keys);
#                      AKI by key identifier and issuer with serial
#   akiser/            AKI by issuer name and serial only, no subjectKeyIdentifier
#   akikey/            AKI by key identifier only
#   twins/             two CAs named "CN=Twin CA" with different keys (twinA
#                      listed first), ee and ee-noaki issued by twinB
#   cross/             roots A and B, crossB (B's key certified by A), int
#                      under B, ee; crossA (A's key certified by B) for the
#                      mutual case
#   selfchain/         root and 40 self-issued "CN=Self CA" certificates, each
#                      signed by the next (c40 by the root)
#   flood.der          10,000 self-issued "CN=Flood CA" certificates, each
#                      signed by the next, two keys alternating, concatenated
#   keyid-*.txt        openssl's text of the AKI key identifiers used by tests
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
days=7300

key() { # type file
  case $1 in
    rsa) openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$2" 2>/dev/null ;;
    p256) openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$2" ;;
    b283) openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:sect283k1 -out "$2" ;;
  esac
}

# cert OUT SUBJECT KEY ISSUERCERT ISSUERKEY SERIAL EXTENSIONS (ISSUERCERT "-" = self-signed)
cert() {
  local out=$1 subj=$2 k=$3 icert=$4 ikey=$5 serial=$6 ext=$7
  printf '%b\n' "$ext" >"$tmp/ext.cnf"
  if [ "$icert" = - ]; then
    openssl req -new -x509 -key "$k" -subj "$subj" -days $days -set_serial "$serial" \
      -extensions v3 -config <(printf '[req]\ndistinguished_name=dn\n[dn]\n[v3]\n'; cat "$tmp/ext.cnf") \
      -outform DER -out "$out"
  else
    openssl req -new -key "$k" -subj "$subj" -config <(printf '[req]\ndistinguished_name=dn\n[dn]\n') \
      -out "$tmp/req.pem"
    openssl x509 -req -in "$tmp/req.pem" -CA "$icert" -CAform DER -CAkey "$ikey" -set_serial "$serial" \
      -days $days -extfile <(printf '[v3]\n'; cat "$tmp/ext.cnf") -extensions v3 -outform DER -out "$out" 2>/dev/null
  fi
}

CA_BOTH='basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\nsubjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid:always,issuer:always'
EE_BOTH='basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,nonRepudiation\nsubjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid:always,issuer:always'
ROOT='basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\nsubjectKeyIdentifier=hash'

chain() { # dir keytype caext eeext rootext
  local d=$1 t=$2
  mkdir -p "$d"
  for n in root int1 int2 ee; do key "$t" "$tmp/$d-$n.key"; done
  cert "$d/root.der" "/O=Paths/CN=$d Root" "$tmp/$d-root.key" - - 1 "$5"
  cert "$d/int1.der" "/O=Paths/CN=$d Int 1" "$tmp/$d-int1.key" "$d/root.der" "$tmp/$d-root.key" 11 "$3"
  cert "$d/int2.der" "/O=Paths/CN=$d Int 2" "$tmp/$d-int2.key" "$d/int1.der" "$tmp/$d-int1.key" 12 "$3"
  cert "$d/ee.der" "/O=Paths/CN=$d End" "$tmp/$d-ee.key" "$d/int2.der" "$tmp/$d-int2.key" 13 "$4"
}

chain rsa rsa "$CA_BOTH" "$EE_BOTH" "$ROOT"
chain p256 p256 "$CA_BOTH" "$EE_BOTH" "$ROOT"
chain b283 b283 "$CA_BOTH" "$EE_BOTH" "$ROOT"
chain akiser p256 'basicConstraints=critical,CA:TRUE\nsubjectKeyIdentifier=none\nauthorityKeyIdentifier=issuer:always' \
  'basicConstraints=CA:FALSE\nsubjectKeyIdentifier=none\nauthorityKeyIdentifier=issuer:always' \
  'basicConstraints=critical,CA:TRUE\nsubjectKeyIdentifier=none'
chain akikey p256 'basicConstraints=critical,CA:TRUE\nsubjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid:always' \
  'basicConstraints=CA:FALSE\nsubjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid:always' "$ROOT"

# Two CAs of one name.
mkdir -p twins
for n in root twinA twinB ee; do key p256 "$tmp/tw-$n.key"; done
cert twins/root.der "/O=Paths/CN=Twins Root" "$tmp/tw-root.key" - - 1 "$ROOT"
cert twins/twinA.der "/O=Paths/CN=Twin CA" "$tmp/tw-twinA.key" twins/root.der "$tmp/tw-root.key" 21 "$CA_BOTH"
cert twins/twinB.der "/O=Paths/CN=Twin CA" "$tmp/tw-twinB.key" twins/root.der "$tmp/tw-root.key" 22 "$CA_BOTH"
cert twins/ee.der "/O=Paths/CN=Twin End" "$tmp/tw-ee.key" twins/twinB.der "$tmp/tw-twinB.key" 23 "$EE_BOTH"
cert twins/ee-noaki.der "/O=Paths/CN=Twin End No AKI" "$tmp/tw-ee.key" twins/twinB.der "$tmp/tw-twinB.key" 24 \
  'basicConstraints=CA:FALSE\nsubjectKeyIdentifier=none\nauthorityKeyIdentifier=none'

# Cross-certified roots.
mkdir -p cross
for n in A B int ee; do key p256 "$tmp/cr-$n.key"; done
cert cross/rootA.der "/O=Paths/CN=Root A" "$tmp/cr-A.key" - - 1 "$ROOT"
cert cross/rootB.der "/O=Paths/CN=Root B" "$tmp/cr-B.key" - - 2 "$ROOT"
cert cross/crossB.der "/O=Paths/CN=Root B" "$tmp/cr-B.key" cross/rootA.der "$tmp/cr-A.key" 3 "$CA_BOTH"
cert cross/crossA.der "/O=Paths/CN=Root A" "$tmp/cr-A.key" cross/rootB.der "$tmp/cr-B.key" 4 "$CA_BOTH"
cert cross/int.der "/O=Paths/CN=Cross Int" "$tmp/cr-int.key" cross/rootB.der "$tmp/cr-B.key" 5 "$CA_BOTH"
cert cross/ee.der "/O=Paths/CN=Cross End" "$tmp/cr-ee.key" cross/int.der "$tmp/cr-int.key" 6 "$EE_BOTH"

# 40 self-issued CAs over a root: c1 <- c2 <- ... <- c40 <- root.
mkdir -p selfchain
key p256 "$tmp/sc-root.key"
cert selfchain/root.der "/O=Paths/CN=Self Root" "$tmp/sc-root.key" - - 1 "$ROOT"
for i in $(seq 1 40); do key p256 "$tmp/sc-$i.key"; done
key p256 "$tmp/sc-41.key"
# c40 is issued by the root; c_i (i < 40) by c_{i+1}, whose subject is "CN=Self CA" too.
cert selfchain/c40.der "/O=Paths/CN=Self CA" "$tmp/sc-40.key" selfchain/root.der "$tmp/sc-root.key" 140 "$CA_BOTH"
for i in $(seq 39 -1 1); do
  cert "selfchain/c$i.der" "/O=Paths/CN=Self CA" "$tmp/sc-$i.key" "selfchain/c$((i + 1)).der" "$tmp/sc-$((i + 1)).key" \
    $((100 + i)) "$CA_BOTH"
done

# 10,000 self-issued CAs, two keys alternating: certificate i has key i%2
# and is signed by key (i+1)%2; no trust point.
key p256 "$tmp/fl-0.key"
key p256 "$tmp/fl-1.key"
cert "$tmp/fl-ca0.der" "/O=Paths/CN=Flood CA" "$tmp/fl-0.key" - - 99998 "$ROOT"
cert "$tmp/fl-ca1.der" "/O=Paths/CN=Flood CA" "$tmp/fl-1.key" - - 99999 "$ROOT"
openssl req -new -key "$tmp/fl-0.key" -subj "/O=Paths/CN=Flood CA" -config <(printf '[req]\ndistinguished_name=dn\n[dn]\n') -out "$tmp/fl-req0.pem"
openssl req -new -key "$tmp/fl-1.key" -subj "/O=Paths/CN=Flood CA" -config <(printf '[req]\ndistinguished_name=dn\n[dn]\n') -out "$tmp/fl-req1.pem"
printf '[v3]\nbasicConstraints=critical,CA:TRUE\n' >"$tmp/fl.cnf"
flood_one() {
  local i=$1 own=$(( $1 % 2 )) signer=$(( ($1 + 1) % 2 ))
  openssl x509 -req -in "$tmp/fl-req$own.pem" -CA "$tmp/fl-ca$signer.der" -CAform DER -CAkey "$tmp/fl-$signer.key" -set_serial "$i" -days $days \
    -extfile "$tmp/fl.cnf" -extensions v3 -outform DER -out "$tmp/fl-$i.der" 2>/dev/null
}
export -f flood_one
export tmp days
seq 1 10000 | xargs -P 3 -I{} bash -c 'flood_one {}'
: >flood.der
for i in $(seq 1 10000); do cat "$tmp/fl-$i.der" >>flood.der; done

# openssl's own reading of key identifiers used by the tests.
for c in rsa/ee akikey/ee twins/ee; do
  openssl x509 -inform DER -in "$c.der" -noout -ext authorityKeyIdentifier | sed -n 2p | tr -d ' ' \
    >"keyid-${c%%/*}.txt"
done
