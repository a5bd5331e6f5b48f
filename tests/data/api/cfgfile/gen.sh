#!/bin/sh
# Stored configurations written by openssl asn1parse -genconf: a SEQUENCE OF
# Attribute (OID, SET OF value) under the build's enterprise arc.
#   good.der      a configuration as another writer would store it
#   built.der     what the library must write after the calls in test_pcfgfile.cpp
#   bad-*.der     files the library must refuse whole (value type or size)
#   malformed-*   not one complete SEQUENCE OF Attribute
set -e
cd "$(dirname "$0")"
ARC=1.3.6.1.4.1.$(sed -n 's/^#define TAL_ENTERPRISE_PEN \([0-9]*\).*/\1/p' ../../../../src/platform/buildconst.h)
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT

# config <file> <n>=<value> ...: the attributes in the order given.
config() {
  out=$1; shift
  { echo "asn1=SEQUENCE:cfg"; echo "[cfg]"; i=0
    for a in "$@"; do i=$((i+1)); echo "a$i=SEQUENCE:a$i"; done; } > "$T/c.cnf"
  i=0
  for a in "$@"; do
    i=$((i+1)); n=${a%%=*}; v=${a#*=}
    printf '[a%s]\nt=OID:%s.2.5.%s\nv=SET:v%s\n' "$i" "$ARC" "$n" "$i" >> "$T/c.cnf"
    if [ "$v" = "EMPTY" ]; then printf '[v%s]\n' "$i" >> "$T/c.cnf"
    elif [ "$v" = "ALG" ]; then printf '[v%s]\nx=SEQUENCE:alg\n[alg]\no=OID:1.2.840.113549.1.1.11\np=NULL\n' "$i" >> "$T/c.cnf"
    elif [ "$v" = "POLICIES" ]; then printf '[v%s]\nx=SEQUENCE:pl\n[pl]\np=SEQUENCE:pn\n[pn]\no=OID:2.5.29.32.0\nn=OCTETSTRING:note\n' "$i" >> "$T/c.cnf"
    elif [ "$v" = "BADALG" ]; then printf '[v%s]\nx=SEQUENCE:alg\n[alg]\no=INTEGER:1\n' "$i" >> "$T/c.cnf"
    else printf '[v%s]\nx=%s\n' "$i" "$v" >> "$T/c.cnf"; fi
  done
  openssl asn1parse -genconf "$T/c.cnf" -out "$out" -noout
}

config good.der 24=INTEGER:45 41=INTEGER:0 3=ENUMERATED:13 22=INTEGER:3 42=OCTETSTRING:kept 32=ALG 1=POLICIES 6=INTEGER:0x7FFFFFFF
config built.der 24=INTEGER:45 41=INTEGER:0 3=ENUMERATED:4 22=INTEGER:3 7=INTEGER:4294967295

config bad-option-octets.der 24=INTEGER:45 7=OCTETSTRING:1
config bad-option-wide.der 24=INTEGER:0x0100000000
config bad-option-empty.der 24=EMPTY
config bad-option-enum.der 24=ENUMERATED:1
config bad-symmetric-integer.der 3=INTEGER:13
config bad-digest-bool.der 22=BOOLEAN:TRUE
config bad-algid.der 32=BADALG
config bad-certlist.der 8=INTEGER:1
config bad-policies.der 1=INTEGER:1

# Cut short, trailing octets, and a header announcing 2 GB.
head -c 20 good.der > malformed-truncated.der
{ cat good.der; printf '\000'; } > malformed-trailing.der
printf '\060\204\177\377\377\377\060\003\006\001\000' > malformed-huge.der
