#!/usr/bin/env bash
# Makes directory.ldif, the LDAP test directory: the test CA's entry holding its certificate and
# CRL as binary attributes (from ca.der and ca.crl, which make.sh makes), and two people with the
# address jan@siec.test holding the certificates of make-mail.sh, and the entry of a CA whose name
# ends in an e-mail address; and an entry whose ARL is no CRL beside a good CRL.
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

dn: cn=Mail CA,o=Siec testowa,c=PL
objectClass: applicationProcess
cn: Mail CA

dn: email=ca@siec.test,cn=Mail CA,o=Siec testowa,c=PL
objectClass: applicationProcess
objectClass: certificationAuthority
objectClass: extensibleObject
cn: Mail CA
email: ca@siec.test
cACertificate;binary:: $(base64 -w0 mail-authority.der)
authorityRevocationList;binary:: $(base64 -w0 ca.crl)
certificateRevocationList;binary:: $(base64 -w0 ca.crl)

dn: cn=Broken CA,o=Siec testowa,c=PL
objectClass: applicationProcess
objectClass: certificationAuthority
cn: Broken CA
cACertificate;binary:: $(base64 -w0 ca.der)
authorityRevocationList;binary:: $(printf 'no CRL at all' | base64 -w0)
certificateRevocationList;binary:: $(base64 -w0 ca.crl)

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
