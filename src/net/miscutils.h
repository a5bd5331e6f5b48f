// The LDAP query of the certificate and CRL searches, prepared from a name.
#pragma once

#include "net/serverurl.h"

class DistinguishedName;

// Query kinds.
constexpr int LDAP_SEARCH_CERTIFICATES = 1;
constexpr int LDAP_SEARCH_CRLS = 2;

// Clears the record and fills it with an LDAP (port 389) query: the search
// base "c=" and the country of the name (PL without a name or a country), the
// attributes and the filter template of the kind, whose "$cn", "$sn",
// "$mail", "$o" and "$ou" the LDAP client fills later. Any other kind is a
// failed invariant.
void ldapSearchFilter(ServerUrl& out, int kind, const DistinguishedName* name);
