#!/usr/bin/env bash
# Makes directory.ldif, the LDAP test directory: the test CA's entry holding its certificate and
# CRL as binary attributes (from ca.der and ca.crl, which make.sh makes).
set -euo pipefail
cd "$(dirname "$0")"
cat > directory.ldif <<LDIF
dn: c=PL
objectClass: country
c: PL

dn: o=Siec testowa,c=PL
objectClass: organization
o: Siec testowa

dn: cn=Test CA,o=Siec testowa,c=PL
objectClass: applicationProcess
objectClass: certificationAuthority
cn: Test CA
cACertificate;binary:: $(base64 -w0 ca.der)
authorityRevocationList;binary:: $(base64 -w0 ca.crl)
certificateRevocationList;binary:: $(base64 -w0 ca.crl)
LDIF
