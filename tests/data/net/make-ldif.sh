#!/usr/bin/env bash
# Makes directory.ldif, the LDAP test directory: the test CA's entry holding its certificate and
# CRL as binary attributes (from ca.der and ca.crl, which make.sh makes), and two people with the
# address jan@siec.test holding the certificates of make-mail.sh.
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

dn: cn=Jan Kowalski,o=Siec testowa,c=PL
objectClass: inetOrgPerson
cn: Jan Kowalski
sn: Kowalski
mail: jan@siec.test
$(for n in enc data nousage sign noaddress other; do
  echo "userCertificate;binary:: $(base64 -w0 mail-$n.der)"
done)

dn: o=Inna,c=PL
objectClass: organization
o: Inna

dn: cn=Jan Kowalski,o=Inna,c=PL
objectClass: inetOrgPerson
cn: Jan Kowalski
sn: Kowalski
mail: jan@siec.test
userCertificate;binary:: $(base64 -w0 mail-elsewhere.der)
LDIF
